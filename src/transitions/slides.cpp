#include "transitions/slides.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "core/errcodes.h"
#include "objects/layers.h"
#include "transitions/effectasync.h"
#include "transitions/effectframe.h"
#include "transitions/effecthelpers.h"
#include "transitions/effectstate.h"
#include "transitions/effectwhole.h"

namespace {

constexpr int32_t kSlideLeft = 101, kSlideRight = 102, kSlideTop = 103;
constexpr int32_t kCardTop = 111;
constexpr int32_t kCrushLeft = 120, kCrushRight = 121, kCrushTop = 122;
constexpr int32_t kVFlipCoin = 124, kVLowFlipCoin = 125, kHFlipCoin = 126;
constexpr int32_t kMostStep = 30;
constexpr int kEmuOldRedrawn = 1, kEmuNewRedrawn = 2;

struct SlidePriv {
    int32_t travel, previousX, previousY;
};
struct CardPriv {
    int32_t travel;
};
struct CrushPriv {
    int32_t travel;
};
struct FlipPriv {
    int32_t travel, x, y, w, h;
};

int32_t Times(int32_t step, int32_t n) {
    return static_cast<int32_t>(std::clamp<int64_t>(int64_t{step} * n, INT32_MIN, INT32_MAX));
}
int32_t Plus(int32_t a, int32_t b) {
    return static_cast<int32_t>(std::clamp<int64_t>(int64_t{a} + b, INT32_MIN, INT32_MAX));
}
int32_t Twice(int32_t size) {
    return static_cast<int32_t>(std::min<int64_t>(2 * int64_t{size}, INT32_MAX));
}

uint32_t FillColour(const qbEffectState* s) {
    return s->parameter == kRandomParameter ? 0u : static_cast<uint32_t>(s->parameter);
}

bool Horizontal(int32_t type) {
    return type == kSlideLeft || type == kSlideRight || type == kCrushLeft || type == kCrushRight || type >= kHFlipCoin;
}

// The travel a frame draws: counted on from the frame before, or (seek)
// worked out from the frame number.
void StartTravel(qbEffectState* s, int32_t* travel) {
    if (s->phase == 2) *travel = Times(s->speed, s->frame);
    else if (s->frame == 0) *travel = s->speed;
    if (s->layer) s->layer->hidden = s->layer->pending = 0;
}

int EndFrame(qbEffectState* s, int32_t* travel) {
    *travel = Plus(*travel, s->speed);
    if (s->phase == 2) return 0;
    EndMovedFrame(s, true);
    ++s->frame;
    return 0;
}

// Pieces are shown together when the frame ends; a seek shows nothing.
uint32_t PieceFlags(const qbEffectState* s) {
    return MovedPieceFlags(s) | kStripNoShow;
}

void Whole(qbEffectState* s, qbBitmap* src, int32_t x, int32_t y) {
    DrawMovedPiece(s, src, s->width, s->height, 0, 0, s->width, s->height, x, y, PieceFlags(s));
}

void FillAll(qbEffectState* s) {
    FillEffectRect(s, 0, 0, s->width, s->height, FillColour(s), kStripNoShow);
}

int SlideFrame(qbEffectState* s, int* done) {
    auto* p = EffectPriv<SlidePriv>(s);
    if (s->phase == 1 && s->frame == 0) *p = SlidePriv{s->speed, 0, 0};
    StartTravel(s, &p->travel);
    const int32_t W = s->width, H = s->height, size = Horizontal(s->type) ? W : H, step = s->speed;
    const bool seek = s->phase == 2;
    if (p->travel >= Twice(size)) {
        p->travel = Twice(size);
        *done = 1;
        if (s->bgpicEmu) RefreshEmulatedBGPic(s, kEmuNewRedrawn);
        Whole(s, s->image, 0, 0);
        return EndFrame(s, &p->travel);
    }
    const int32_t t = p->travel;
    const bool old = t <= size;
    if (s->bgpicEmu) RefreshEmulatedBGPic(s, old ? kEmuOldRedrawn | kEmuNewRedrawn : kEmuNewRedrawn);
    int32_t x = 0, y = 0;
    switch (s->type) {
        case kSlideLeft:
            x = old ? t : Twice(W) - t;
            break;
        case kSlideRight:
            x = old ? -t : t - Twice(W);
            break;
        case kSlideTop:
            y = old ? t : Twice(H) - t;
            break;
        default:
            y = old ? -t : t - Twice(H);
            break;
    }
    if (seek) FillAll(s);
    if (old) {
        if (!seek) {
            const uint32_t colour = FillColour(s);
            switch (s->type) {
                case kSlideLeft:
                    FillEffectRect(s, p->previousX, 0, step, H, colour, kStripNoShow);
                    break;
                case kSlideRight:
                    FillEffectRect(s, W - t, 0, step, H, colour, kStripNoShow);
                    break;
                case kSlideTop:
                    FillEffectRect(s, 0, p->previousY, W, step, colour, kStripNoShow);
                    break;
                default:
                    FillEffectRect(s, 0, H - t, W, step, colour, kStripNoShow);
                    break;
            }
        }
        if (std::abs(x) < W && std::abs(y) < H) Whole(s, s->background, x, y);
    } else {
        // A step that does not land on the size leaves the old picture's
        // last place partly uncovered: it goes under the colour as well.
        if (!seek && int64_t{t} - step <= size)
            FillEffectRect(s, p->previousX, p->previousY, W, H, FillColour(s), kStripNoShow);
        Whole(s, s->image, x, y);
    }
    p->previousX = x;
    p->previousY = y;
    return EndFrame(s, &p->travel);
}

// Rows [from, from + n) of src at row `at`.
void Rows(qbEffectState* s, qbBitmap* src, int32_t from, int32_t n, int32_t at) {
    if (n < 1) return;
    DrawMovedPiece(s, src, s->width, s->height, 0, from, s->width, n, 0, at, PieceFlags(s));
}

int CardFrame(qbEffectState* s, int* done) {
    auto* p = EffectPriv<CardPriv>(s);
    if (s->phase == 1 && s->frame == 0) p->travel = s->speed;
    StartTravel(s, &p->travel);
    const int32_t H = s->height;
    if (p->travel >= H) {
        p->travel = H;
        *done = 1;
    }
    if (s->bgpicEmu) RefreshEmulatedBGPic(s, kEmuOldRedrawn | kEmuNewRedrawn);
    const int32_t t = p->travel;
    if (s->type == kCardTop) {
        if (t < H / 2) {
            Rows(s, s->image, t, t, 0);
            Rows(s, s->background, 0, H - t, t);
        } else {
            Rows(s, s->image, H - t, t, 0);
            Rows(s, s->background, 2 * t - H, H - t, t);
        }
    } else if (t < H / 2) {
        Rows(s, s->background, t, H - t, 0);
        Rows(s, s->image, H - 2 * t, t, H - t);
    } else {
        Rows(s, s->background, H - t, H - t, 0);
        Rows(s, s->image, 0, t, H - t);
    }
    return EndFrame(s, &p->travel);
}

int CrushFrame(qbEffectState* s, int* done) {
    auto* p = EffectPriv<CrushPriv>(s);
    if (s->phase == 1 && s->frame == 0) p->travel = s->speed;
    StartTravel(s, &p->travel);
    const int32_t W = s->width, H = s->height;
    const bool across = Horizontal(s->type);
    const int32_t size = across ? W : H;
    if (p->travel >= size) {
        p->travel = size;
        *done = 1;
    }
    if (s->bgpicEmu) RefreshEmulatedBGPic(s, kEmuOldRedrawn | kEmuNewRedrawn);
    const int32_t n = p->travel, rest = size - n;
    // The new part at the near edge (LEFT, TOP) or the far one.
    const bool nearNew = s->type == kCrushLeft || s->type == kCrushTop;
    const int32_t newAt = nearNew ? 0 : size - n, oldAt = nearNew ? n : 0;
    const uint32_t flags = PieceFlags(s);
    int err = across ? DrawScaledPiece(s, s->image, 0, 0, W, H, n, H, newAt, 0, flags)
                     : DrawScaledPiece(s, s->image, 0, 0, W, H, W, n, 0, newAt, flags);
    if (!err && rest > 0)
        err = across ? DrawScaledPiece(s, s->background, 0, 0, W, H, rest, H, oldAt, 0, flags)
                     : DrawScaledPiece(s, s->background, 0, 0, W, H, W, rest, 0, oldAt, flags);
    if (err) return err;
    return EndFrame(s, &p->travel);
}

int FlipFrame(qbEffectState* s, int* done) {
    auto* p = EffectPriv<FlipPriv>(s);
    const int32_t W = s->width, H = s->height;
    if (s->phase == 1 && s->frame == 0) *p = FlipPriv{s->speed, 0, 0, W, H};
    StartTravel(s, &p->travel);
    const bool across = Horizontal(s->type), seek = s->phase == 2;
    const int32_t size = across ? W : H;
    if (p->travel >= Twice(size)) {
        p->travel = Twice(size);
        *done = 1;
    }
    const int32_t t = p->travel;
    const bool old = t <= size;
    if (s->bgpicEmu) RefreshEmulatedBGPic(s, old ? kEmuOldRedrawn | kEmuNewRedrawn : kEmuNewRedrawn);
    const auto e = static_cast<int32_t>(std::max<int64_t>(std::abs(int64_t{t} - size), 1));
    int32_t x = 0, y = 0, w = W, h = H;
    switch (s->type) {
        case kVFlipCoin:
            y = (H - e) / 2, h = e;
            break;
        case kVLowFlipCoin:
            y = H - e, h = e;
            break;
        case kHFlipCoin:
            x = (W - e) / 2, w = e;
            break;
        default:
            x = W - e, w = e;
            break;
    }
    if (seek) FillAll(s);
    if (old && !seek) {
        // What the squashed picture of the frame before covered and this
        // one does not; the strips reach a pixel into the new rectangle.
        const uint32_t colour = FillColour(s);
        const int32_t px = p->x, py = p->y, pr = p->x + p->w, pb = p->y + p->h;
        if (across) {
            FillEffectRect(s, px, 0, x + 1 - px, H, colour, kStripNoShow);
            if (s->type == kHFlipCoin) FillEffectRect(s, x + w - 1, 0, pr - (x + w - 1), H, colour, kStripNoShow);
        } else {
            FillEffectRect(s, 0, py, W, y + 1 - py, colour, kStripNoShow);
            if (s->type == kVFlipCoin) FillEffectRect(s, 0, y + h - 1, W, pb - (y + h - 1), colour, kStripNoShow);
        }
    }
    // The first frame of the new side may be narrower than the old side's
    // last: that goes under the colour.
    if (!old && !seek && int64_t{t} - s->speed <= size)
        FillEffectRect(s, p->x, p->y, p->w, p->h, FillColour(s), kStripNoShow);
    if (old) *p = FlipPriv{t, x, y, w, h};
    if (int err = DrawScaledPiece(s, old ? s->background : s->image, 0, 0, W, H, w, h, x, y, PieceFlags(s))) return err;
    return EndFrame(s, &p->travel);
}

int32_t WholeStep(qbEffectState* s, int32_t size) {
    return SpeedFromSize(s->speed, size, 60, 30, 120);
}

int32_t MotionSize(const qbEffectState* s) {
    return Horizontal(s->type) ? s->width : s->height;
}

}  // namespace

int RenderSlide(qbEffectState* s, int* done) {
    if (done) return s->phase == 1 || s->phase == 2 ? SlideFrame(s, done) : 0;
    auto* p = AllocEffectPriv<SlidePriv>(s);
    if (!p) return ERR_MEM;
    const int32_t size = MotionSize(s);
    s->speed = std::clamp(WholeStep(s, size), 1, kMostStep);
    p->travel = s->speed;
    s->frameCount = FrameCountFor(Twice(size) - s->speed, s->speed, 0);
    return 0;
}

int RenderCard(qbEffectState* s, int* done) {
    if (done) return s->phase == 1 || s->phase == 2 ? CardFrame(s, done) : 0;
    auto* p = AllocEffectPriv<CardPriv>(s);
    if (!p) return ERR_MEM;
    s->speed = std::clamp(WholeStep(s, std::max(s->width, s->height)), 1, kMostStep);
    p->travel = s->speed;
    s->frameCount = FrameCountFor(s->height - s->speed, s->speed, 0);
    return 0;
}

int RenderCrush(qbEffectState* s, int* done) {
    if (done) return s->phase == 1 || s->phase == 2 ? CrushFrame(s, done) : 0;
    auto* p = AllocEffectPriv<CrushPriv>(s);
    if (!p) return ERR_MEM;
    const int32_t size = MotionSize(s);
    s->speed = WholeStep(s, size);
    p->travel = s->speed;
    s->frameCount = FrameCountFor(size - s->speed, s->speed, 0);
    PrepareScaledPieces(s);
    return 0;
}

int RenderFlipCoin(qbEffectState* s, int* done) {
    if (done) return s->phase == 1 || s->phase == 2 ? FlipFrame(s, done) : 0;
    auto* p = AllocEffectPriv<FlipPriv>(s);
    if (!p) return ERR_MEM;
    const int32_t size = MotionSize(s);
    s->speed = WholeStep(s, size);
    *p = FlipPriv{s->speed, 0, 0, s->width, s->height};
    s->frameCount = FrameCountFor(Twice(size) - s->speed, s->speed, 0);
    PrepareScaledPieces(s);
    return 0;
}
