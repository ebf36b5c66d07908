// The frame skeleton every renderer shares: putting a piece of a picture
// on the screen or into a real-time layer's effect image, filling a
// rectangle, and ending a frame.
#pragma once

#include <cstdint>

struct qbBitmap;
struct qbEffectState;

// Draws the piece (x, y, w, h) of the new picture at its place in the
// effect rectangle: what of it lies inside the picture and the screen, also
// when it reaches past an edge on any side.
void DrawEffectPiece(qbEffectState* state, int64_t x, int64_t y, int64_t w, int64_t h);
// The same for any source picture of the effect's size (the old one, a
// work picture) with its planes.
void DrawEffectPieceFrom(qbEffectState* state, qbBitmap* source, qbBitmap* mask, qbBitmap* alpha, int64_t x,
                         int64_t y, int64_t w, int64_t h);
// Draws all of src (w x h, with its planes) at (dx, dy) of the effect
// rectangle: into a real-time layer's effect images with the kStrip*
// flags, else onto the screen, clipped to the rectangle and the screen.
void DrawEffectPictureAt(qbEffectState* state, qbBitmap* src, qbBitmap* mask, qbBitmap* alpha, int32_t w, int32_t h,
                         int32_t dx, int32_t dy, uint32_t flags);

// The end of every frame: a scaled display is shown whole here; pieces
// have shown themselves otherwise.
void PresentEffectFrame(qbEffectState* state);

void FillEffectRect(qbEffectState* state, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t colour,
                    uint32_t flags);

// Puts a rectangle of a picture into a layer's effect images (kStrip*
// flags) and, unless told not to, shows it.
void BlitEffectStrip(qbBitmap* src, int32_t sx, int32_t sy, qbBitmap* dstBitmap, qbBitmap* dstMask,
                     qbBitmap* dstAlpha, int32_t dx, int32_t dy, int32_t w, int32_t h, int32_t srcWidth,
                     int32_t srcHeight, int32_t dstWidth, int32_t dstHeight, qbBitmap* srcMask, qbBitmap* srcAlpha,
                     qbEffectState* state, uint32_t flags);
// Shows a rectangle (screen coordinates) of a real-time layer effect: the
// layer stack redrawn over it and put in the window when the frame ends.
// Its place is the effect's own plus the layer's, summed in 64 bits by the
// caller: a layer at the 32-bit limits shows nothing, never a wrapped place.
void BlitEffectRect(qbEffectState* state, int64_t dx, int64_t dy, int64_t w, int64_t h);
// Shows what the frame's BlitEffectRect calls gathered; the frame end and
// the driver after every renderer call (also a failed one) run it.
void ShowEffectRects(qbEffectState* state);
