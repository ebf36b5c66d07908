// Pieces of whole pictures put somewhere else than where they lie: the
// families that slide or scale the old and the new picture (gates, push,
// zoom, turn down) draw a rectangle of a picture at another place of the
// effect rectangle, without the picture's planes.
#pragma once

#include <cstdint>

struct qbBitmap;
struct qbEffectState;

// The strip flags of such a piece: not shown on its own while replaying or
// while the layer has a shadow, border or geometric filter (the whole
// layer is shown at the frame's end then).
uint32_t MovedPieceFlags(const qbEffectState* state);

// Draws (sx, sy, w, h) of src (srcWidth x srcHeight) at (dx, dy) of the
// effect rectangle: into the layer's effect image in real time (with the
// kStrip* flags), else onto the screen, clipped to the rectangle and the
// screen.
void DrawMovedPiece(qbEffectState* state, qbBitmap* src, int32_t srcWidth, int32_t srcHeight, int32_t sx, int32_t sy,
                    int32_t w, int32_t h, int32_t dx, int32_t dy, uint32_t flags);

// Scales (sx, sy, w, h) of src (nearest pixel) to newWidth x newHeight and
// draws it at (dx, dy) as DrawMovedPiece does; an unscaled rectangle is
// drawn as it is. 0 or the error of ScaleBitmap.
int DrawScaledPiece(qbEffectState* state, qbBitmap* src, int32_t sx, int32_t sy, int32_t w, int32_t h,
                    int32_t newWidth, int32_t newHeight, int32_t dx, int32_t dy, uint32_t flags);

// Makes the picture the effect's scaled pieces go through, of the effect's
// size (unless a real-time layer's image takes them), at the effect's
// start: its first frame then does not pay for it. Without the memory the
// frames try again.
void PrepareScaledPieces(qbEffectState* state);

// Hands the picture the effect scaled its pieces through to the display
// for the next effect (or frees it without a display).
void KeepScaledPiece(qbEffectState* state);

// The end of a frame of these families: with whole (its pieces were not
// shown one by one) or a layer with extras, the whole effect rectangle of
// a real-time layer is shown (unless replaying); then the usual frame end.
void EndMovedFrame(qbEffectState* state, bool whole);
