// The pixel formats of bitmaps and the conversions between them.
#pragma once

#include <cstdint>

// Pixel format codes. The 16-bit "Swapped" formats hold their word with the
// two bytes exchanged; the 32-bit codes name the word's bytes from the top.
enum : int {
    kFormatRGB555 = 0,
    kFormatBGR555 = 1,
    kFormatRGB555Swapped = 2,
    kFormatBGR555Swapped = 3,
    kFormatRGB565 = 4,
    kFormatBGR565 = 5,
    kFormatRGB565Swapped = 6,
    kFormatBGR565Swapped = 7,
    kFormatRGB24 = 8,
    kFormatBGR24 = 9,
    kFormatARGB = 10,
    kFormatBGRA = 11,
    kFormatRGBA = 12,
    kFormatABGR = 13,
    kFormatAlphaPlane = 14,
    kFormatMaskPlane = 15,
};

inline constexpr int kLastColourFormat = kFormatABGR;

// 2, 3 or 4 for the colour formats, 0 for any other code.
int BytesPerPixel(int format);
bool IsPixelFormat16(int format);
bool IsPixelFormat32(int format);

// Between format 10 and formats 11-13; the alpha byte is dropped (result
// alpha 0). Any other format returns the value unchanged.
uint32_t ARGBToPixel32(int format, uint32_t colour);
uint32_t Pixel32ToARGB(int format, uint32_t pixel);

// Between RGB565 and the 16-bit formats 0-7; a 6-bit green narrows to its
// top 5 bits and a 5-bit green widens with a zero low bit. Codes above 7
// return the value unchanged.
uint16_t RGB565ToPixel16(int format, uint16_t value);
uint16_t Pixel16ToRGB565(int format, uint16_t pixel);

// One pixel as three bytes R, G, B for every colour format 0-13. Narrow
// fields take the top bits of each byte and widen with zero low bits;
// 32-bit writes leave the alpha byte 0. Unknown formats read as 0, 0, 0
// and write nothing.
void ReadPixelRGB(const void* pixel, int format, uint8_t rgb[3]);
void WritePixelRGB(void* pixel, int format, const uint8_t rgb[3]);

