#include "transitions/rects.h"

#include <algorithm>

#include "core/errcodes.h"
#include "transitions/effecthelpers.h"
#include "transitions/effectpieces.h"
#include "transitions/effectstate.h"

namespace {

struct RectPriv {
    int32_t size, unused[2];
};

struct RectBackPriv {
    int32_t size, previousX, previousY;
};

struct DiagonalPriv {
    int32_t front, rows;
};

struct Box {
    int64_t x = 0, y = 0, w = 0, h = 0;
};

// Where a rectangle sits on each axis: at the near edge, centred, or at
// the far edge.
enum Side { kNear, kMiddle, kFar };

struct Anchor {
    Side x, y;
};

// By the direction in the name, from CENTER round to NORTHWEST.
constexpr Anchor kGrowAnchors[] = {{kMiddle, kMiddle}, {kMiddle, kNear}, {kFar, kNear},
                                   {kFar, kMiddle},    {kFar, kFar},     {kMiddle, kFar},
                                   {kNear, kFar},      {kNear, kMiddle}, {kNear, kNear}};

// The old rectangle withdraws away from the side the new picture comes in.
Anchor AnchorOf(int32_t type) {
    if (type >= 88 && type <= 96) {
        const Anchor a = kGrowAnchors[type - 88];
        const auto flip = [](Side s) { return s == kNear ? kFar : s == kFar ? kNear : kMiddle; };
        return {flip(a.x), flip(a.y)};
    }
    return kGrowAnchors[std::clamp(type - 38, 0, 8)];
}

int64_t Place(Side side, int64_t picture, int64_t size) {
    return side == kNear ? 0 : side == kFar ? picture - size : (picture - size) / 2;
}

// The rectangle of size s keeps the picture's proportions: s along the
// longer axis, (int)(s x r + 1.0) along the other. On a centred axis it
// grows by one where it would sit half a pixel off the middle. Size 0 is
// empty.
Box RectOfSize(const qbEffectState* s, int64_t size) {
    const int64_t W = s->width, H = s->height;
    if (size < 1) return {};
    const double r = static_cast<double>(std::min(W, H)) / static_cast<double>(std::max(W, H));
    const auto shortSide = static_cast<int64_t>(static_cast<double>(size) * r + 1.0);
    Box b;
    b.w = W < H ? shortSide : size;
    b.h = W < H ? size : shortSide;
    const Anchor a = AnchorOf(s->type);
    if (a.x == kMiddle && (W - b.w) % 2) ++b.w;
    if (a.y == kMiddle && (H - b.h) % 2) ++b.h;
    b.x = Place(a.x, W, b.w);
    b.y = Place(a.y, H, b.h);
    return b;
}

// Draws outer minus inner as up to four bands: above and below the inner
// box across the outer one's width, and left and right of it.
void DrawFrameBands(qbEffectState* s, const Box& outer, Box inner) {
    inner.w = std::max<int64_t>(inner.w, 0);
    inner.h = std::max<int64_t>(inner.h, 0);
    if (inner.w == 0 || inner.h == 0) {
        DrawEffectPiece(s, outer.x, outer.y, outer.w, outer.h);
        return;
    }
    const int64_t top = std::clamp(inner.y, outer.y, outer.y + outer.h);
    const int64_t bottom = std::clamp(inner.y + inner.h, top, outer.y + outer.h);
    const int64_t left = std::clamp(inner.x, outer.x, outer.x + outer.w);
    const int64_t right = std::clamp(inner.x + inner.w, left, outer.x + outer.w);
    DrawEffectPiece(s, outer.x, outer.y, outer.w, top - outer.y);
    DrawEffectPiece(s, outer.x, bottom, outer.w, outer.y + outer.h - bottom);
    DrawEffectPiece(s, outer.x, top, left - outer.x, bottom - top);
    DrawEffectPiece(s, right, top, outer.x + outer.w - right, bottom - top);
}

// The step of both rectangle renderers: a quarter of the longer side at
// most, else the slowest, 1.
int32_t RectStep(const qbEffectState* s) {
    const int32_t m = std::max(s->width, s->height);
    const int32_t step = SpeedFromSize(s->speed, m, 70, 30, 200);
    return step < 1 || step > m / 4 ? 1 : step;
}

}  // namespace

int RenderRect(qbEffectState* s, int* done) {
    const int32_t m = std::max(s->width, s->height);
    if (!done) {
        auto* p = AllocEffectPriv<RectPriv>(s);
        if (!p) return ERR_MEM;
        s->speed = RectStep(s);
        p->size = s->speed;
        s->frameCount = FrameCountFor(m - s->speed, s->speed, 0);
        return 0;
    }
    if (s->phase != 1) return 0;
    auto* p = EffectPriv<RectPriv>(s);
    const int32_t step = s->speed;
    if (s->frame == 0) p->size = step;
    BeginEffectFrame(s);
    Box current;
    if (p->size >= m) {
        // The whole picture, so that a longer side that is no multiple of
        // the step still ends complete.
        p->size -= step;
        *done = 1;
        current = {0, 0, s->width, s->height};
    } else {
        current = RectOfSize(s, p->size);
    }
    // What the frame before showed lies inside, at the same anchor.
    DrawFrameBands(s, current, RectOfSize(s, int64_t{p->size} - step));
    p->size += step;
    EndEffectFrame(s);
    return 0;
}

int RenderRectBack(qbEffectState* s, int* done) {
    const int32_t m = std::max(s->width, s->height);
    if (!done) {
        auto* p = AllocEffectPriv<RectBackPriv>(s);
        if (!p) return ERR_MEM;
        s->speed = RectStep(s);
        p->size = m - s->speed;
        s->frameCount = FrameCountFor(m - s->speed, s->speed, 0);
        return 0;
    }
    if (s->phase != 1) return 0;
    auto* p = EffectPriv<RectBackPriv>(s);
    const int32_t step = s->speed;
    // The old picture first fills the whole effect rectangle.
    Box previous{0, 0, s->width, s->height};
    if (s->frame == 0) {
        p->size = m - step;
    } else {
        previous = RectOfSize(s, int64_t{p->size} + step);
        previous.x = p->previousX;
        previous.y = p->previousY;
    }
    BeginEffectFrame(s);
    Box current;
    if (p->size < 1)
        *done = 1;
    else
        current = RectOfSize(s, p->size);
    DrawFrameBands(s, previous, current);
    p->previousX = static_cast<int32_t>(current.x);
    p->previousY = static_cast<int32_t>(current.y);
    p->size -= step;
    EndEffectFrame(s);
    return 0;
}

int RenderDiagonal(qbEffectState* s, int* done) {
    const int32_t w = s->width, h = s->height;
    if (!done) {
        auto* p = AllocEffectPriv<DiagonalPriv>(s);
        if (!p) return ERR_MEM;
        int32_t block = SpeedFromSize(s->speed, w, 60, 20, 130);
        if (block > w / 4) block = 1;
        s->speed = block;
        p->front = block;
        const int64_t across = int64_t{w} + h;
        s->frameCount = FrameCountFor(static_cast<int32_t>(std::min<int64_t>(across - block, INT32_MAX)), block, 0);
        return 0;
    }
    if (s->phase != 1) return 0;
    auto* p = EffectPriv<DiagonalPriv>(s);
    const int32_t b = s->speed;
    // A replay starts over from frame 0 with the record as the run left it.
    if (s->frame == 0) {
        p->front = b;
        p->rows = 0;
    }
    BeginEffectFrame(s);
    const int64_t across = int64_t{w} + h;
    if (p->front >= across) {
        p->front = static_cast<int32_t>(std::min<int64_t>(across, INT32_MAX));
        *done = 1;
    }
    // Row band i starts in frame i and then gains one block a frame.
    p->rows = std::min(p->rows + 1, h / b + 1);
    for (int32_t i = 1; i <= p->rows; ++i) DrawEffectPiece(s, p->front - int64_t{i} * b, int64_t{i - 1} * b, b, b);
    p->front = static_cast<int32_t>(std::min<int64_t>(int64_t{p->front} + b, INT32_MAX));
    EndEffectFrame(s);
    return 0;
}
