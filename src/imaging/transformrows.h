// Row loops of the affine kernel for 0xAARRGGBB pixels on both sides, the
// case nearly every turn and scale of a brush is. The AVX2 forms carry the
// target attribute, so the build never needs AVX2; they run only where
// BestKernelIsa() says the processor has it.
#pragma once

#include <cstdint>

struct qbTransformRequest;

// Destination row y, columns x0..x1 (inclusive), all of whose centres map
// into the source: column X samples at (a cx + rowX + tx, b cx + rowY + ty)
// with cx = X + 1/2, summed in that order. alphaOut is the row of the
// destination alpha plane when the source has one, else null.
struct TransformRow {
    const qbTransformRequest* req;
    double a, b, rowX, rowY, tx, ty;
    uint32_t* out;
    uint8_t* alphaOut;
    int32_t x0, x1;
};

// The same positions, indices and double sums, in the same order, as the
// baseline rows in transform.cpp, so the same bytes. Each returns the first
// column it left to its caller (x1 + 1 when it did the whole row).
int32_t NearestRowAvx2(const TransformRow& row);
int32_t SmoothRowAvx2(const TransformRow& row);
