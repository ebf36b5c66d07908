#include "transitions/stripes.h"

#include <algorithm>
#include <climits>

#include "core/errcodes.h"
#include "objects/layers.h"
#include "transitions/effectcolumns.h"
#include "transitions/effectframe.h"
#include "transitions/effecthelpers.h"
#include "transitions/effectrandom.h"
#include "transitions/effectstate.h"

namespace {

struct StripesPriv {
    int32_t thickness;
    int32_t position;
};

struct BlindsPriv {
    int32_t size;
    int32_t count;
    int32_t position;
};

constexpr int32_t kFixedStripes[] = {2, 4, 8, 16, 32, 64};
constexpr int32_t kBlindSizes[] = {8, 16, 32, 64, 128};

// The thickness of the parameter types (HSTRIPES, VSTRIPES): the
// parameter, or with RANDOMPARAMETER a random share of the length (two
// draws in this order: the value, then the divisor 2..9).
int32_t StripeThickness(const qbEffectState* s, int32_t first, int32_t length) {
    if (s->type != first) return kFixedStripes[std::clamp(s->type - first - 1, 0, 5)];
    if (s->parameter != kRandomParameter) return std::max(s->parameter, 1);
    const int32_t r = EffectRand();
    const int32_t k = EffectRand() % 8 + 2;
    const int32_t share = length / k;
    return share > 0 ? std::max(r % share, 1) : 1;
}

// The initialisation both stripe directions share; length runs along the
// growth.
int InitStripes(qbEffectState* s, int32_t first, int32_t length) {
    auto* p = AllocEffectPriv<StripesPriv>(s);
    if (!p) return ERR_MEM;
    p->thickness = StripeThickness(s, first, length);
    // A picture one pixel long has no room for a step below its length:
    // it is drawn whole in one frame.
    const int32_t limit = std::max(length - 1, 1);
    s->speed = std::min(SpeedFromSize(s->speed, length, 70, 30, 200), limit);
    s->frameCount = length > 1 ? FrameCountFor(length - s->speed, s->speed, 0) : 1;
    return 0;
}

// One stripe frame; returns the position to draw at, clamped at the end.
int32_t StripeFrameStart(qbEffectState* s, StripesPriv* p, int32_t length, int* done) {
    if (s->frame == 0) p->position = 0;
    if (s->layer) s->layer->hidden = s->layer->pending = 0;
    if (length <= 1 || p->position >= length - s->speed) {
        p->position = std::max(length - s->speed, 0);
        *done = 1;
    }
    return p->position;
}

void StripeFrameEnd(qbEffectState* s, StripesPriv* p) {
    p->position += s->speed;
    PresentEffectFrame(s);
    ++s->frame;
}

}  // namespace

int RenderHStripes(qbEffectState* s, int* done) {
    if (!done) return InitStripes(s, 0, s->width);
    if (s->phase != 1) return 0;
    auto* p = EffectPriv<StripesPriv>(s);
    const int32_t w = s->width, t = p->thickness;
    const int32_t pos = StripeFrameStart(s, p, w, done);
    // One pixel wide: the whole column at once.
    const int32_t step = w <= 1 ? w : s->speed;
    for (int64_t y = 0; y < s->height; y += int64_t{2} * t) {
        DrawEffectPiece(s, pos, static_cast<int32_t>(y), step, t);
        DrawEffectPiece(s, w - pos - step, static_cast<int32_t>(y + t), step, t);
    }
    StripeFrameEnd(s, p);
    return 0;
}

int RenderVStripes(qbEffectState* s, int* done) {
    if (!done) return InitStripes(s, 7, s->height);
    if (s->phase != 1) return 0;
    auto* p = EffectPriv<StripesPriv>(s);
    const int32_t h = s->height, t = p->thickness;
    const int32_t pos = StripeFrameStart(s, p, h, done);
    const int32_t step = h <= 1 ? h : s->speed;
    // The columns growing down, then those growing up: no two of them
    // share a pixel, so the order does not show.
    const int64_t pairs = (int64_t{s->width} + 2 * int64_t{t} - 1) / (2 * int64_t{t});
    const auto count = static_cast<int32_t>(std::min<int64_t>(pairs, INT32_MAX));
    const auto pitch = static_cast<int32_t>(std::min<int64_t>(2 * int64_t{t}, INT32_MAX));
    DrawEffectColumns(s, 0, pitch, count, t, pos, step);
    DrawEffectColumns(s, t, pitch, count, t, h - pos - step, step);
    StripeFrameEnd(s, p);
    return 0;
}

namespace {

int InitBlinds(qbEffectState* s, int32_t first, int32_t across) {
    auto* p = AllocEffectPriv<BlindsPriv>(s);
    if (!p) return ERR_MEM;
    const int32_t i = s->type - first;
    p->size = i >= 0 && i < 5 ? kBlindSizes[i] : 128;
    p->count = across / p->size;
    s->speed = std::clamp(SpeedFromSize(s->speed, p->size, 8, 3, 20), 1, p->size / 2);
    p->position = s->speed;
    s->frameCount = FrameCountFor(p->size - s->speed, s->speed, 0);
    return 0;
}

// The frame start of both blinds: the bottom (right) edge of the strip.
int32_t BlindFrameStart(qbEffectState* s, BlindsPriv* p, int* done) {
    if (s->frame == 0) p->position = s->speed;
    if (s->layer) s->layer->hidden = s->layer->pending = 0;
    if (p->position >= p->size) {
        p->position = p->size;
        *done = 1;
    }
    return p->position;
}

void BlindFrameEnd(qbEffectState* s, BlindsPriv* p) {
    p->position += s->speed;
    PresentEffectFrame(s);
    ++s->frame;
}

}  // namespace

int RenderHBlinds(qbEffectState* s, int* done) {
    if (!done) return InitBlinds(s, 14, s->height);
    if (s->phase != 1) return 0;
    auto* p = EffectPriv<BlindsPriv>(s);
    const int32_t pos = BlindFrameStart(s, p, done);
    for (int64_t i = 0; i <= p->count; ++i)
        DrawEffectPiece(s, 0, static_cast<int32_t>(i * p->size + pos - s->speed), s->width, s->speed);
    BlindFrameEnd(s, p);
    return 0;
}

int RenderVBlinds(qbEffectState* s, int* done) {
    if (!done) return InitBlinds(s, 19, s->width);
    if (s->phase != 1) return 0;
    auto* p = EffectPriv<BlindsPriv>(s);
    const int32_t pos = BlindFrameStart(s, p, done);
    DrawEffectColumns(s, pos - s->speed, p->size, p->count + 1, s->speed, 0, s->height);
    BlindFrameEnd(s, p);
    return 0;
}
