// How the filter kernels read and write the colour channels of 2- and
// 4-byte pixels: every format goes through ARGB (4 bytes) or RGB565
// (2 bytes), so one set of kernels serves all of them. 2-byte channels are
// the 565 fields widened with zero low bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/pixelformats.h"

struct qbChannels {
    uint32_t r = 0, g = 0, b = 0;
};

inline qbChannels ReadChannels32(uint32_t format, uint32_t pixel) {
    const uint32_t argb = format == kFormatARGB ? pixel : Pixel32ToARGB(static_cast<int>(format), pixel);
    return {(argb >> 16) & 0xFFu, (argb >> 8) & 0xFFu, argb & 0xFFu};
}

// The result's top byte is 0 whatever the source held.
inline uint32_t WriteChannels32(uint32_t format, uint32_t r, uint32_t g, uint32_t b) {
    const uint32_t argb = r << 16 | g << 8 | b;
    return format == kFormatARGB ? argb : ARGBToPixel32(static_cast<int>(format), argb);
}

inline qbChannels ReadChannels16(uint32_t format, uint16_t pixel) {
    const uint32_t p = format == kFormatRGB565 ? pixel : Pixel16ToRGB565(static_cast<int>(format), pixel);
    return {(p & 0xF800u) >> 8, (p & 0x7E0u) >> 3, (p * 8) & 0xFFu};
}

inline uint16_t WriteChannels16(uint32_t format, uint32_t r, uint32_t g, uint32_t b) {
    const auto p = static_cast<uint16_t>(((r & 0xF8u) << 8) | ((g & 0xFCu) << 3) | ((b & 0xF8u) >> 3));
    return format == kFormatRGB565 ? p : RGB565ToPixel16(static_cast<int>(format), p);
}

// A value of the filters' sums as a channel byte: below 0 is 0, above 255
// is 255, else truncated; NaN counts as 0.
inline uint8_t ClampChannel(double v) {
    if (!(v > 0)) return 0;
    if (v > 255) return 255;
    return static_cast<uint8_t>(v);
}

// The channels of a rectangle of pixels as three packed width x height
// byte planes, which the convolutions filter one at a time.
struct qbChannelPlanes {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> plane[3];
};

// Both false when a plane cannot be had (the pixels are then unchanged).
bool SplitChannels(const void* pixels, int32_t width, int32_t height, int32_t pitch, uint32_t format,
                   uint32_t bytesPerPixel, qbChannelPlanes* out);
void JoinChannels(const qbChannelPlanes& planes, void* pixels, int32_t pitch, uint32_t format, uint32_t bytesPerPixel);
