// Scaling of one pixel buffer into another of a new size, with its 1-bit mask
// and 8-bit alpha plane, plainly (nearest pixel) or smoothly (bilinear), and
// the completion of a requested size that keeps the aspect ratio.
#pragma once

#include <cstdint>

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
// The 16-bit fraction between that row or column and the next.
inline uint32_t ScaleFraction(uint64_t step, int32_t i) {
    return static_cast<uint32_t>(((step * static_cast<uint64_t>(i)) >> 16) & 0xFFFFu);
}

// Both scale every plane present in the request; a zero or negative size on
// either side draws nothing.
void ScalePixelBuffer(const ScaleRequest& req);
void ScalePixelBufferRef(const ScaleRequest& req);

inline constexpr int32_t kKeepAspectRatio = 100000;

// Completes the side given as kKeepAspectRatio. 0, ERR_BADDIMENSIONS or
// ERR_WRONGUSAGE.
int32_t KeepAspectRatio(int32_t srcWidth, int32_t srcHeight, int32_t* width, int32_t* height);
