// Plain boxes (no corners, no transform, filled or a 1-pixel outline):
// straight into the current output when nothing in between is needed, else
// into new images for the renderer to place.
#pragma once

#include <cstdint>

#include "draw/outline.h"
#include "imaging/bitmap.h"

struct ScriptState;
struct qbBitmap;
struct qbDrawState;

qbBitmap* NewBoxBitmap(int32_t width, int32_t height);
qbBitmap* NewBoxMask(int32_t width, int32_t height);  // cleared
qbBitmap* NewBoxAlpha(int32_t width, int32_t height);  // cleared

// What DrawBoxDirect answers when the box went straight into the output;
// the renderer takes it for success.
constexpr int kBoxDrawnDirectly = -1;

struct qbBoxRequest {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
    uint32_t colour = 0;          // an alpha byte above $RRGGBB is transparency
    bool antialias = false;
    bool filtersOrEffects = false;  // the layer options ask for any
    const double* matrix = nullptr;  // the texture's transform (null: none)
};

// The images of the image path: the bitmap with an alpha plane (anti-aliased
// or any alpha byte) or else a mask; the caller owns them.
struct qbBoxImages {
    qbBitmap* bitmap = nullptr;
    qbBitmap* mask = nullptr;
    qbBitmap* alpha = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    int32_t blockX = 0;  // where the box with its edge sits in them
    int32_t blockY = 0;
    int32_t shapeX = 0;  // where the shape itself sits, and its size
    int32_t shapeY = 0;
    int32_t shapeWidth = 0;
    int32_t shapeHeight = 0;
};

// kBoxDrawnDirectly, 0 with *images filled, or an error: ERR_BITMAP,
// ERR_ALLOCMASK, ERR_ALLOCALPHA (nothing kept), or the texture's lookup.
int DrawBoxDirect(ScriptState* L, const qbBoxRequest& box, const qbDrawState& state, qbBoxImages* images);

// How the image path makes its images; tests put failing ones in to see
// that nothing stays allocated.
struct qbBoxImageAllocators {
    qbBitmap* (*bitmap)(int32_t width, int32_t height) = &NewBoxBitmap;
    qbBitmap* (*mask)(int32_t width, int32_t height) = &NewBoxMask;
    qbBitmap* (*alpha)(int32_t width, int32_t height) = &NewBoxAlpha;
};
qbBoxImageAllocators& BoxImageAllocators();

// The images of a block (a shape with its edge) grown by the shadow, sized
// in 64 bits: a cleared bitmap, and a cleared alpha plane (withAlpha) or
// mask. 0, or ERR_BITMAP, ERR_ALLOCALPHA, ERR_ALLOCMASK with nothing kept.
struct qbBlockImages {
    BitmapPtr bitmap, mask, alpha;
    int32_t width = 0, height = 0;
    qbShadowPlacement place;  // where the block and the shadow sit
};
int AllocBlockImages(int64_t blockWidth, int64_t blockHeight, const qbDrawState& state, bool shadow, bool withAlpha,
                     qbBlockImages* out);

// The whole rectangle (filled) or its four 1-pixel sides on the bitmap, the
// mask (set) and the alpha plane (opacity); any of them may be null.
void DrawRectFrame(qbBitmap* target, int32_t x, int32_t y, int32_t width, int32_t height, qbBitmap* mask,
                   qbBitmap* alpha, uint32_t colour, uint32_t alphaByte, bool filled);
