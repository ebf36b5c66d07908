// Planar YUV 4:2:0 video frames to display pixels, at the frame's size or
// scaled to the nearest pixel, in studio-range BT.601. The vector rows give
// exactly the integer formulas' values.
#pragma once

#include <cstdint>

#include "imaging/kernelisa.h"

struct qbYUVFrameRequest {
    const uint8_t* const* planes = nullptr;  // Y, U, V; U and V hold one byte per 2 x 2 pixels
    const int32_t* pitches = nullptr;        // row bytes of the three planes
    void* destination = nullptr;             // the first destination pixel
    int32_t sourceWidth = 0;
    int32_t sourceHeight = 0;
    int32_t destWidth = 0;
    int32_t destHeight = 0;
    int32_t destPitch = 0;  // in pixels
    int32_t destFormat = 0;
    int32_t destBytesPerPixel = 0;  // checked against the format by the unscaled conversion only
};

// One sample in integer arithmetic, each channel clamped to 0..255.
struct YUVColour {
    uint8_t r, g, b;
};
YUVColour YUVToRGB(uint32_t y, uint32_t u, uint32_t v);

// The bytes a destination pixel of the format takes: 2, 3 or 4; 0 for
// formats that are written nothing.
int32_t YUVDestinationBytes(int32_t format);

// At the source size. A bytes-per-pixel value that does not match the
// format, or a format above 13, writes nothing.
void ConvertYUVToRGB(const qbYUVFrameRequest& request);
// From the source size to the destination size, nearest pixel; the format
// alone says how wide a pixel is.
void ScaleYUVToRGB(const qbYUVFrameRequest& request);

// The same by a given instruction set (the widest usable one when the
// processor lacks it; AVX-512 needs its byte, word and byte-permutation
// instructions too), so that the tests can hold each to the reference.
void ConvertYUVToRGBWith(KernelIsa isa, const qbYUVFrameRequest& request);
void ScaleYUVToRGBWith(KernelIsa isa, const qbYUVFrameRequest& request);

// Pixel by pixel with YUVToRGB, for holding the two above to.
void ConvertYUVToRGBRef(const qbYUVFrameRequest& request);
void ScaleYUVToRGBRef(const qbYUVFrameRequest& request);
