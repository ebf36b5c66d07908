// Effects that reveal the new picture through a growing shape: a wedge
// swept clockwise from twelve o'clock (CLOCKWIPE, 97), a five-pointed star
// (STAR, 98) and an ellipse (SUN, 114); and the composition through a
// shape mask that other mask-driven effects share.
#pragma once

#include <cstdint>

struct qbBitmap;
struct qbEffectState;

int RenderClockWipe(qbEffectState* state, int* done);
int RenderStar(qbEffectState* state, int* done);
int RenderSun(qbEffectState* state, int* done);
void FreeShapeData(qbEffectState* state, int normalEnd);
void FreeSunData(qbEffectState* state, int normalEnd);

// The hand back at twelve o'clock, one step along.
void ResetClockHand(qbEffectState* state);

// Redraws the part (sx, sy, w, h) of the effect rectangle: on plain bitmaps
// the old picture with the new one over it through shapeAlpha (when given)
// or shapeMask, composed in work and shown; in a real-time layer the new
// picture's part goes into the layer's images with the shape as its plane
// (flags as BlitEffectStrip takes them). With workHoldsOld the caller
// keeps a flag that is true while work holds the old picture wherever
// shapeMask is clear and the mask has only grown since: the old picture is
// then copied into work once, not into every part (an alpha plane blends,
// so it still needs the old picture each time).
void ComposeFrameRect(qbEffectState* state, int32_t sx, int32_t sy, int32_t w, int32_t h, qbBitmap* shapeMask,
                      qbBitmap* shapeAlpha, qbBitmap* work, uint32_t extraFlags, bool* workHoldsOld = nullptr);

// Per pixel: srcAlpha (255 without a plane) where the mask bit is set and 0
// elsewhere; with invert the other way round.
void MaskToAlphaPlane(qbBitmap* mask, qbBitmap* destAlpha, qbBitmap* srcAlpha, int32_t width, int32_t height,
                      int invert);

// The refresh of a frame of a real-time layer effect that is not a blend:
// the border and shadow follow the share of the frames shown.
void ShowProgressFrame(qbEffectState* state);
