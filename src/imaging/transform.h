// Affine transformation of a pixel rectangle with its 1-bit mask or 8-bit
// alpha plane: the sampling kernel and the bitmap-level operation over it.
#pragma once

#include <cstdint>

#include "imaging/kernelisa.h"

struct qbBitmap;

// Source planes are advanced to the rectangle; the mask's bit offset is the
// rectangle's x. Row lengths of pixels are in pixels, of planes in bytes.
struct qbTransformRequest {
    const void* srcPixels = nullptr;
    int32_t srcWidth = 0;
    int32_t srcHeight = 0;
    int32_t srcRowLength = 0;
    int32_t srcFormat = 10;
    void* dstPixels = nullptr;
    int32_t dstWidth = 0;
    int32_t dstHeight = 0;
    int32_t dstRowLength = 0;
    int32_t dstFormat = 10;
    int32_t bytesPerPixel = 4;  // 2 or 4 on both sides
    const uint8_t* srcMask = nullptr;
    int32_t srcMaskRowBytes = 0;
    int32_t srcMaskBitOffset = 0;
    uint8_t* dstMask = nullptr;
    int32_t dstMaskRowBytes = 0;
    const uint8_t* srcAlpha = nullptr;
    int32_t srcAlphaRowBytes = 0;
    uint8_t* dstAlpha = nullptr;
    int32_t dstAlphaRowBytes = 0;
    // a, b, c, d, tx, ty: source (x, y) goes to (a x + c y + tx, b x + d y + ty).
    double matrix[6] = {1, 0, 0, 1, 0, 0};
    bool smooth = false;
    // Colour pixels that no source pixel covers are set to 0 as well, so the
    // caller need not clear the destination's pixels (its planes it still must).
    bool clearUncovered = false;
};

// Writes only the destination pixels whose centre maps into the source; the
// caller clears the destination planes first, so the rest stays
// transparent. A singular or non-finite matrix draws nothing.
void TransformPixels(const qbTransformRequest& req);
// The same with the vector rows of the given instruction set at most, so
// every set can be held to the baseline.
void TransformPixelsWith(const qbTransformRequest& req, KernelIsa isa);

// The size of the rectangle mapped by the 2x2 matrix {m0, m1, m2, m3}, and
// its minimum corner (outputs may be null). Non-finite results give 0.
void GetTransformedBounds(const double matrix[4], int32_t width, int32_t height, int32_t* newWidth,
                          int32_t* newHeight, double* minX, double* minY);

// Maps (x, y, width, height) of the source and its plane into a new bitmap
// of the transformed size (at least 1 x 1) with a cleared plane: alpha when
// the source has alpha, else a mask. The source may be null (planes only).
// 0, ERR_BITMAP, ERR_ALLOCMASK, ERR_ALLOCALPHA, ERR_LOCKBMAP or
// ERR_COORDSRANGE for a rectangle outside the source; nothing is handed out
// on an error.
int TransformBitmap(qbBitmap* source, qbBitmap* sourceMask, qbBitmap* sourceAlpha, int32_t x, int32_t y,
                    int32_t width, int32_t height, const double matrix[4], bool smooth, qbBitmap** outBitmap,
                    qbBitmap** outMask, qbBitmap** outAlpha, int32_t* outWidth, int32_t* outHeight);
