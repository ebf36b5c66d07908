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

// What the blit would have added: the image's whole rectangle to the dirty
// list when the target asks for it.
void MarkDirectShape(ScriptState* L, const qbDirectTarget& target, int32_t x, int32_t y, int32_t width,
                     int32_t height);
