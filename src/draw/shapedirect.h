// Plain shapes straight onto the output: a solid colour without edge,
// shadow, transparency, filters or layers needs no image of its own, so its
// coverage is painted onto the picture where it lies instead of into an
// image blitted there afterwards. The pixels are the image road's.
#pragma once

#include <cstdint>

#include "imaging/geometry.h"

struct ScriptState;
struct qbBitmap;
struct qbDrawState;
struct qbLayerOptions;

// On unless switched off; the image road stays to compare against.
bool DirectShapes();
void SetDirectShapes(bool on);

// Larger shapes keep the image road, whose sizes and errors are the
// images' own.
constexpr int64_t kDirectShapeMaxPixels = int64_t{1} << 24;

// Where a plain shape goes: the output's pixels and the rectangle the blit
// would have been clipped to.
struct qbDirectTarget {
    qbBitmap* bitmap = nullptr;
    qbRect clip;
    bool dirty = false;  // the blit would have marked its rectangle dirty
};

// True with *out when a shape of colour drawn with state (its matrix's
// widths already scaled) may go straight onto the current output: a plain
// bitmap of 4-byte ARGB pixels that no display buffer, sprite, clip mask,
// selected plane or blit route stands behind.
bool PlainShapeTarget(const qbDrawState& state, uint32_t colour, const qbLayerOptions* lopts, qbDirectTarget* out);

// A plain shape's coverage plane (width x height) where its image's corner
// would have gone, px, py: the colour blended through it onto the target,
// clipped to the target's rectangle, as the blit of the image would have.
void BlendDirectCoverage(const qbDirectTarget& target, qbBitmap* plane, int32_t px, int32_t py, int32_t width,
                         int32_t height, uint32_t colour);
// One row of such coverage: weights[0 .. count - 1] for the pixels from x on
// in row y.
void BlendDirectRow(const qbDirectTarget& target, int32_t x, int32_t y, const uint8_t* weights, int32_t count,
                    uint32_t colour);

// What the blit would have added: the image's whole rectangle to the dirty
// list when the target asks for it.
void MarkDirectShape(ScriptState* L, const qbDirectTarget& target, int32_t x, int32_t y, int32_t width,
                     int32_t height);
