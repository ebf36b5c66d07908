// Small kernels of the transition effects that share the pixel kernels'
// rules: the integer square root and the threshold map of the dissolve.
#pragma once

#include <cstdint>

// floor(sqrt(n)) for n >= 0, -1 for n < 0. A table of 16 x sqrt(i) for
// i < 256 gives the first guess, so the effects can call it per pixel.
int32_t IntSqrt(int32_t n);
// The plain definition the tests hold IntSqrt to.
int32_t IntSqrtRef(int32_t n);

// The dissolve's plane rewrite. The map holds one byte per pixel, rows of
// `width` bytes. Mask planes (eightBit false) address bit x of a row as
// 0x80 >> (x % 8) in byte x / 8.
struct ThresholdRecord {
    const uint8_t* source = nullptr;  // null: the source counts as all set
    uint8_t* destination = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    int32_t sourcePitch = 0;
    int32_t destinationPitch = 0;
    const uint8_t* map = nullptr;
    bool eightBit = false;
    bool invert = false;
};

// Where the map byte is below the threshold (at or above it with invert)
// the destination takes the source's bit or byte (set, or 255, without a
// source); elsewhere it becomes 0.
void ThresholdMapToMask(const ThresholdRecord& record, uint32_t threshold);
void ThresholdMapToMaskRef(const ThresholdRecord& record, uint32_t threshold);

// The pixel zoom's blocks, from a source picture into a destination of the
// same size: each block of `block` pixels takes its top-left pixel, and the
// planes (any may be null) their top-left bit or byte. A block whose
// top-left pixel is invisible (mask bit clear or alpha 0) keeps the source
// pixels, as the in-place Pixelate32/16 leaves them. Pitches: pixels for
// the pictures, bytes for the planes.
struct qbPixelateRecord {
    const void* source = nullptr;
    void* destination = nullptr;
    const uint8_t* sourceMask = nullptr;
    uint8_t* destinationMask = nullptr;
    const uint8_t* sourceAlpha = nullptr;
    uint8_t* destinationAlpha = nullptr;
    int32_t sourcePitch = 0, destinationPitch = 0;
    int32_t sourceMaskPitch = 0, destinationMaskPitch = 0;
    int32_t sourceAlphaPitch = 0, destinationAlphaPitch = 0;
    int32_t width = 0, height = 0;
    int32_t block = 1;
};
void PixelatePixels32(const qbPixelateRecord& record);
void PixelatePixels16(const qbPixelateRecord& record);
