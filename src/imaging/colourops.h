// Per-pixel colour operations that move no pixel: solarize, gamma, sepia
// tone, contrast, modulate (hue, saturation, lightness), the level stretch
// and the two-colour fill. Each works in place on a rectangle given as
// pixels, width, height, pitch (row length in pixels) and pixel format,
// with a twin for 4-byte and for 2-byte pixels; 4-byte results carry a top
// byte of 0.
#pragma once

#include <cstdint>

#include "imaging/kernelisa.h"

void SolarizePixels32(uint32_t* pixels, int32_t width, int32_t height, int32_t pitch, uint32_t format,
                      int32_t threshold);
void SolarizePixels16(uint16_t* pixels, int32_t width, int32_t height, int32_t pitch, uint32_t format,
                      int32_t threshold);

struct qbGammaRequest {
    void* pixels = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    int32_t pitch = 0;
    uint32_t pixelFormat = 0;
    const uint8_t* red = nullptr;  // 256 entries each
    const uint8_t* green = nullptr;
    const uint8_t* blue = nullptr;
    uint32_t channels = 0;  // bit 0 red, bit 1 green, bit 2 blue
};
void GammaPixels32(const qbGammaRequest& request);
void GammaPixels16(const qbGammaRequest& request);

void SepiaPixels32(uint32_t* pixels, int32_t width, int32_t height, int32_t pitch, uint32_t format, int32_t threshold);
void SepiaPixels16(uint16_t* pixels, int32_t width, int32_t height, int32_t pitch, uint32_t format, int32_t threshold);

// sign +1 raises the contrast, -1 lowers it.
void ContrastPixel(int32_t sign, uint32_t* r, uint32_t* g, uint32_t* b);
void ContrastPixels32(uint32_t* pixels, int32_t width, int32_t height, int32_t pitch, uint32_t format, int32_t sign);
// ContrastPixels32 with the instruction set chosen (the tests compare them).
void ContrastPixels32With(KernelIsa isa, uint32_t* pixels, int32_t width, int32_t height, int32_t pitch,
                          uint32_t format, int32_t sign);
void ContrastPixels16(uint16_t* pixels, int32_t width, int32_t height, int32_t pitch, uint32_t format, int32_t sign);

struct qbModulateRequest {
    void* pixels = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    int32_t pitch = 0;
    uint32_t pixelFormat = 0;
    int32_t lightness = 100;  // percentages, 100 = unchanged
    int32_t saturation = 100;
    int32_t hue = 100;
};
void ConvertRGBToHSL(uint32_t r, uint32_t g, uint32_t b, double* hue, double* saturation, double* lightness);
// Hue 100 keeps the hue, 0 and 200 turn it by half a circle.
void ModulatePixel(uint32_t* r, uint32_t* g, uint32_t* b, double huePercent, double saturationPercent,
                   double lightnessPercent);
void ModulatePixels32(const qbModulateRequest& request);
void ModulatePixels32With(KernelIsa isa, const qbModulateRequest& request);
void ModulatePixels16(const qbModulateRequest& request);
// The hue after a turn, brought into 0..1 in constant time with exactly the
// value that adding or subtracting 1 until it lies there would give (an
// integral hue above 1 ends at 1).
double WrapHue(double hue);

struct qbStretchRequest {
    void* pixels = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    int32_t pitch = 0;
    uint32_t blackCount = 0;
    uint32_t whiteCount = 0;
    uint32_t pixelFormat = 0;
    uint32_t bytesPerPixel = 0;  // 2 or 4
};
// The black point: the first level whose running count from 0 exceeds the
// black count; the white point: the first from 255 down whose running count
// exceeds width x height - white count (32-bit unsigned), 0 at the latest.
void FindLevelPoints(const uint32_t histogram[256], uint32_t blackCount, uint32_t whiteCount, int32_t width,
                     int32_t height, uint32_t* blackPoint, uint32_t* whitePoint);
void StretchLevels(const qbStretchRequest& request);

// Pixels whose mask byte (rows of width bytes) is non-zero become white,
// the others 0; white for 4-byte pixels depends on the format (and is 0 for
// formats that have no white of this kind).
void FillFromByteMask32(uint32_t* pixels, int32_t width, int32_t height, uint32_t format, int32_t pitch,
                        const uint8_t* mask);
void FillFromByteMask16(uint16_t* pixels, int32_t width, int32_t height, uint32_t format, int32_t pitch,
                        const uint8_t* mask);
