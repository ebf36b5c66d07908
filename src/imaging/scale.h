// Scaling of one pixel buffer into another of a new size, with its 1-bit mask
// and 8-bit alpha plane, plainly (nearest pixel) or smoothly (bilinear), and
// the completion of a requested size that keeps the aspect ratio.
#pragma once

#include <cstdint>

#include "imaging/kernelisa.h"

struct ScaleRequest {
    const void* srcPixels = nullptr;
    const uint8_t* srcMask = nullptr;
    int32_t srcMaskRowBytes = 0;
    const uint8_t* srcAlpha = nullptr;
    int32_t srcAlphaRowBytes = 0;
    int32_t srcWidth = 0;
    int32_t srcHeight = 0;
    int32_t dstWidth = 0;
    int32_t dstHeight = 0;
    void* dstPixels = nullptr;
    uint8_t* dstMask = nullptr;
    int32_t dstMaskRowBytes = 0;
    uint8_t* dstAlpha = nullptr;
    int32_t dstAlphaRowBytes = 0;
    int32_t srcRowLength = 0;  // pixels
    int32_t dstRowLength = 0;  // pixels
    int32_t bytesPerPixel = 4;  // 2 or 4
    int32_t pixelFormat = 10;   // 0-7 or 10-13
    bool smooth = false;
    bool maskOnly = false;
};

// The source row or column of destination row or column i. Integer 32.32
// positions, so the result always lies inside the source, however extreme
// the ratio.
uint64_t ScaleStep(int32_t srcSize, int32_t dstSize);
inline int32_t ScaleIndex(uint64_t step, int32_t i) {
    return static_cast<int32_t>((step * static_cast<uint64_t>(i)) >> 32);
}

// Smooth scaling samples at pixel centres: destination i lies at
// (i + 1/2) * src / dst - 1/2 source pixels, so a picture keeps its middle
// and both its edges weigh alike whichever way it is scaled; positions
// before the first pixel take the first. 32.32 like the step: the source
// column or row is the position >> 32, the 16-bit fraction towards the next
// one (position >> 16) & 0xFFFF.
inline uint64_t SmoothPosition(uint64_t step, int32_t i) {
    constexpr uint64_t kHalf = uint64_t{1} << 31;
    const uint64_t centre = step * static_cast<uint64_t>(i) + step / 2;
    return centre > kHalf ? centre - kHalf : 0;
}

// Both scale every plane present in the request; a zero or negative size on
// either side draws nothing. The planes always follow the plain positions.
void ScalePixelBuffer(const ScaleRequest& req);
void ScalePixelBufferRef(const ScaleRequest& req);
// ScalePixelBuffer with the vector instruction set given (see kernelisa.h).
void ScalePixelBufferWith(KernelIsa isa, const ScaleRequest& req);

inline constexpr int32_t kKeepAspectRatio = 100000;

// Completes the side given as kKeepAspectRatio. 0, ERR_BADDIMENSIONS or
// ERR_WRONGUSAGE.
int32_t KeepAspectRatio(int32_t srcWidth, int32_t srcHeight, int32_t* width, int32_t* height);
