#include "transitions/zoomturn.h"

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

constexpr int32_t kZoomIn = 118;
constexpr int32_t kTurnDownBottom = 129, kTurnDownLeft = 130;
constexpr int kEmuOldRedrawn = 1, kEmuNewRedrawn = 2;

struct ZoomPriv {
    int32_t px, py, pw, ph;  // the rectangle of the frame before
    int32_t t;
};
struct TurnPriv {
    int32_t t;
};

struct Rect {
    int32_t x, y, w, h;
};

int32_t StepTimes(int32_t step, int32_t n) {
    return static_cast<int32_t>(std::clamp<int64_t>(int64_t{step} * n, INT32_MIN, INT32_MAX));
}

// The zoom's rectangle at t (not at its end): d = |t - M| on the long side,
// the short side in the picture's proportion.
Rect ZoomRect(int32_t W, int32_t H, int32_t t, int32_t M) {
    const int32_t d = static_cast<int32_t>(std::abs(int64_t{t} - M));
    int32_t w, h;
    if (W < H) {
        h = std::max(d, 1);
        w = static_cast<int32_t>(static_cast<double>(W) / H * h + 1.0);
        if (w < 1) return Rect{(W - 1) / 2, (H - h) / 2, 1, h};
    } else {
        w = std::max(d, 1);
        h = static_cast<int32_t>(static_cast<double>(H) / W * w + 1.0);
        if (h < 1) return Rect{(W - w) / 2, (H - 1) / 2, w, 1};
    }
    return Rect{(W - w) / 2, (H - h) / 2, w, h};
}

uint32_t ZoomColour(const qbEffectState* s) {
    return s->parameter == kRandomParameter ? 0u : static_cast<uint32_t>(s->parameter);
}

// ZOOMIN: the colour over what the rectangle of the frame before held and
// the current one does not (the rectangles nest, so four bands do).
void FillZoomBands(qbEffectState* s, const ZoomPriv& prev, const Rect& r, uint32_t flags) {
    const uint32_t colour = ZoomColour(s);
    const int32_t right = r.x + r.w, bottom = r.y + r.h, pr = prev.px + prev.pw, pb = prev.py + prev.ph;
    if (r.x > prev.px) FillEffectRect(s, prev.px, prev.py, r.x - prev.px, prev.ph, colour, flags);
    if (r.y > prev.py) FillEffectRect(s, prev.px, prev.py, prev.pw, r.y - prev.py, colour, flags);
    if (pr > right) FillEffectRect(s, right, prev.py, pr - right, prev.ph, colour, flags);
    if (pb > bottom) FillEffectRect(s, prev.px, bottom, prev.pw, pb - bottom, colour, flags);
}

int ZoomFrame(qbEffectState* s, int* done) {
    auto* p = EffectPriv<ZoomPriv>(s);
    const int32_t W = s->width, H = s->height, M = std::max(W, H), step = s->speed;
    const bool seek = s->phase == 2, zoomIn = s->type == kZoomIn;
    uint32_t flags = 0;
    if (seek) {
        p->t = StepTimes(step, s->frame);
        flags = kStripNoShow;
        if (zoomIn) FillEffectRect(s, 0, 0, W, H, ZoomColour(s), kStripNoShow);
    } else {
        if (s->frame == 0) *p = ZoomPriv{0, 0, W, H, step};
    }
    // A jump shows the layer as a frame does.
    if (s->layer) s->layer->hidden = s->layer->pending = 0;
    const int64_t end = 2 * int64_t{M};
    Rect r{0, 0, W, H};
    if (p->t >= end) {
        p->t = static_cast<int32_t>(end);
        *done = 1;
    } else {
        r = ZoomRect(W, H, p->t, M);
    }
    const bool newOne = p->t > M;
    if (s->bgpicEmu) RefreshEmulatedBGPic(s, newOne ? kEmuNewRedrawn : kEmuOldRedrawn | kEmuNewRedrawn);
    qbBitmap* source = newOne ? s->image : s->background;
    const uint32_t pieceFlags = MovedPieceFlags(s) | flags;
    int err = 0;
    if (zoomIn) {
        err = DrawScaledPiece(s, source, 0, 0, W, H, r.w, r.h, r.x, r.y, pieceFlags);
        // A frame may come after one that showed the old picture larger:
        // what of that the new rectangle leaves is filled, in the second
        // half as in the first.
        if (!err && !seek) FillZoomBands(s, *p, r, flags);
        p->px = r.x, p->py = r.y, p->pw = r.w, p->ph = r.h;
    } else {
        err = DrawScaledPiece(s, source, r.x, r.y, r.w, r.h, W, H, 0, 0, pieceFlags);
    }
    if (err) return err;
    p->t = static_cast<int32_t>(std::min<int64_t>(int64_t{p->t} + step, INT32_MAX));
    if (seek) return 0;
    EndMovedFrame(s, false);
    ++s->frame;
    return 0;
}

// The turn down's axis: rows for TOP and BOTTOM, columns for LEFT and
// RIGHT; `mirrored` for the two that fold from the far edge.
struct Fold {
    bool columns, mirrored;
    int32_t W, H;
    int32_t Size() const { return columns ? W : H; }
    // Lines [from, from + lines) of src scaled to `length` lines at line `at`.
    int Band(qbEffectState* s, qbBitmap* src, int32_t from, int32_t lines, int32_t at, int32_t length,
             uint32_t flags) const {
        if (lines < 1 || length < 1) return 0;
        const int32_t size = Size();
        // Mirrored, a line k counts from the far edge.
        if (mirrored) {
            from = size - from - lines;
            at = size - at - length;
        }
        if (columns) return DrawScaledPiece(s, src, from, 0, lines, H, length, H, at, 0, flags);
        return DrawScaledPiece(s, src, 0, from, W, lines, W, length, 0, at, flags);
    }
};

int TurnFrame(qbEffectState* s, int* done) {
    auto* p = EffectPriv<TurnPriv>(s);
    const Fold fold{s->type >= kTurnDownLeft, s->type == kTurnDownBottom || s->type > kTurnDownLeft, s->width,
                    s->height};
    const int32_t D = fold.Size(), half = D / 2, step = s->speed;
    const bool seek = s->phase == 2;
    if (seek) {
        p->t = StepTimes(step, s->frame);
    } else {
        if (s->frame == 0) p->t = step;
    }
    if (s->layer) s->layer->hidden = s->layer->pending = 0;
    if (p->t >= D) {
        p->t = D;
        *done = 1;
    }
    const int32_t t = p->t;
    const uint32_t flags = MovedPieceFlags(s) | (seek ? kStripNoShow : 0u);
    // What the scaled parts leave alone is drawn again after a jump or
    // once the emulated BGPics were redrawn.
    int redraw = seek ? kEmuOldRedrawn | kEmuNewRedrawn : 0;
    if (s->bgpicEmu) redraw |= RefreshEmulatedBGPic(s, kEmuOldRedrawn | kEmuNewRedrawn);
    const uint32_t redrawFlags = flags | (seek ? 0u : kStripNoShow);
    int err = 0;
    if (*done) {
        fold.Band(s, s->image, 0, D, 0, D, flags);
    } else if (t <= half) {
        // The first half of the old picture folds into the middle line
        // while the new one's first half grows from the edge; the frame
        // before the middle would be passed ends on it.
        const int32_t reached = half < int64_t{t} + step ? half : t;
        if (redraw & kEmuOldRedrawn) fold.Band(s, s->background, half, D - half, half, D - half, redrawFlags);
        err = fold.Band(s, s->image, 0, half, 0, reached, flags);
        if (!err) err = fold.Band(s, s->background, 0, half, reached, half - reached, flags);
    } else {
        // The new picture's other half (the odd line included) unrolls from
        // the middle line over the old one.
        const int32_t u = std::min(t - half, D - half);
        if (redraw & kEmuOldRedrawn)
            fold.Band(s, s->background, half + u, D - half - u, half + u, D - half - u, redrawFlags);
        if (redraw & kEmuNewRedrawn) fold.Band(s, s->image, 0, half, 0, half, redrawFlags);
        err = fold.Band(s, s->image, half, D - half, half, u, flags);
    }
    if (err) return err;
    p->t = static_cast<int32_t>(std::min<int64_t>(int64_t{t} + step, INT32_MAX));
    if (seek) return 0;
    EndMovedFrame(s, redraw != 0);
    ++s->frame;
    return 0;
}

void OldPictureIntoLayer(qbEffectState* s) {
    if (!s->realtime) return;
    DrawMovedPiece(s, s->background, s->width, s->height, 0, 0, s->width, s->height, 0, 0, kStripNoShow);
}

}  // namespace

int RenderZoomInOut(qbEffectState* s, int* done) {
    if (!done) {
        auto* p = AllocEffectPriv<ZoomPriv>(s);
        if (!p) return ERR_MEM;
        const int32_t M = std::max(s->width, s->height);
        s->speed = SpeedFromSize(s->speed, M, 60, 30, 120);
        *p = ZoomPriv{0, 0, s->width, s->height, s->speed};
        s->frameCount = FrameCountFor(static_cast<int32_t>(std::min<int64_t>(2 * int64_t{M} - s->speed, INT32_MAX)),
                                      s->speed, 0);
        if (s->type == kZoomIn && s->parameter == kRandomParameter) s->parameter = 0;
        PrepareScaledPieces(s);
        return 0;
    }
    if (s->phase != 1 && s->phase != 2) return 0;
    return ZoomFrame(s, done);
}

int RenderTurnDown(qbEffectState* s, int* done) {
    if (!done) {
        auto* p = AllocEffectPriv<TurnPriv>(s);
        if (!p) return ERR_MEM;
        const int32_t D = s->type >= kTurnDownLeft ? s->width : s->height;
        s->speed = SpeedFromSize(s->speed, D, 60, 30, 120);
        p->t = s->speed;
        s->frameCount = FrameCountFor(D - s->speed, s->speed, 0);
        OldPictureIntoLayer(s);
        PrepareScaledPieces(s);
        return 0;
    }
    if (s->phase != 1 && s->phase != 2) return 0;
    return TurnFrame(s, done);
}
