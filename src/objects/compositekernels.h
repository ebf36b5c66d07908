// The compositor's blends of 32-bit pixels: a source rectangle over a
// destination through an 8-bit alpha plane, a 1-bit mask or neither, each
// weight scaled by a level (255 - the layer's transparency). Results are
// rounded to the nearest step (as pixman's OVER rounds), where the general
// blend kernels truncate.
#pragma once

#include <cstdint>

#include "imaging/kernelisa.h"

struct qbBlendRows {
    const uint32_t* src = nullptr;
    int32_t srcRowLength = 0;  // pixels
    uint32_t* dst = nullptr;
    int32_t dstRowLength = 0;
    const uint8_t* alpha = nullptr;  // at the first source pixel, or null
    int32_t alphaRowBytes = 0;
    const uint8_t* mask = nullptr;  // the row of the first source pixel, or null
    int32_t maskRowBytes = 0;
    int32_t maskBit = 0;  // bit offset of the first source pixel in its row
    int32_t width = 0;
    int32_t height = 0;
    uint32_t level = 255;
};

// The top byte of each destination pixel stays as it was.
void BlendRows32(const qbBlendRows& r);
// The same through the vector rows of one instruction set (or the widest the
// processor has, where it lacks that one).
void BlendRows32With(KernelIsa isa, const qbBlendRows& r);
// The same one channel at a time, plainly, for tests to compare against.
void BlendRows32Ref(const qbBlendRows& r);
