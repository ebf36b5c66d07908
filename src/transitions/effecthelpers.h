// Small pieces the transition commands, the driver and the renderers
// share: the classification of effect types, the random choice, the step
// and frame count arithmetic and a clipped copy.
#pragma once

#include <cstdint>

#include "core/numbers.h"

struct qbBitmap;
struct qbEffectState;

// 0 for the types that only a whole BGPic can run (gates and push, slide,
// card, zoom in and out, crush, flip coin, turn down, PIXELZOOM2).
int EffectWorksOnObjects(int32_t type);
int IsBlendEffect(int32_t type);
// A random type 0..139 but 113; restrict keeps to types EffectWorksOnObjects
// allows.
int32_t PickRandomEffect(int restrict);

// The presets -1, -2, -3 give size / a, b, c; any other value is kept;
// never below 1 nor above kMaxEffectStep.
constexpr int32_t kMaxEffectStep = 1 << 24;
int32_t SpeedFromSize(int32_t speed, int32_t size, int32_t a, int32_t b, int32_t c);
// 1 for a distance below 1, else distance / step rounded up, plus 1 unless
// exact.
int32_t FrameCountFor(int32_t distance, int32_t step, int exact);

// Copies what of the rectangle lies inside both bitmaps; negative source
// or destination coordinates move the other side's origin with them.
void ClipAndCopyRect(qbBitmap* src, int32_t sx, int32_t sy, qbBitmap* dst, int32_t dx, int32_t dy, int32_t w,
                     int32_t h, int32_t srcWidth, int32_t srcHeight, int32_t dstWidth, int32_t dstHeight);

// FillMaskRect with kMaskVisible (visible) or kMaskInvisible, whole bytes
// at a time: bit by bit, a picture-sized plane costs a frame's time, and
// every effect fills its plane and many rows of it each frame.
void FillEffectMask(qbBitmap* mask, int32_t x, int32_t y, int32_t w, int32_t h, bool visible);

// The old picture under a rectangle of the effect (relative to the effect
// rectangle), for renderers that put back what the effect covered: taken
// from background when the driver kept one, else redrawn from the current
// BGPic's layers with the effect's layer hidden. Into dst at (dx, dy).
void RestoreOldPicture(qbEffectState* state, int32_t sx, int32_t sy, qbBitmap* dst, int32_t dx, int32_t dy, int32_t w,
                       int32_t h);
