#include "transitions/stretch.h"

#include <algorithm>
#include <climits>

#include "core/errcodes.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "imaging/planerect.h"
#include "imaging/scalebitmap.h"
#include "objects/layers.h"
#include "transitions/effectframe.h"
#include "transitions/effecthelpers.h"
#include "transitions/effectscreen.h"
#include "transitions/effectstate.h"
#include "transitions/effectwhole.h"

namespace {

constexpr int32_t kStretchLeft = 55, kStretchRight = 56, kStretchTop = 57, kStretchBottom = 58;
constexpr int32_t kHStretchCenter = 59, kVStretchCenter = 60, kZoomCenter = 61, kZoomNorthWest = 69;

struct StretchPriv {
    int32_t extent;
    int32_t x, y, w, h;  // the rectangle of the frame before
    qbBitmap* work;      // hiding: what the picture leaves, composed
    qbBitmap* scaled;    // a picture without planes scaled, kept for the next frame
};

struct Rect {
    int32_t x, y, w, h;
};

bool IsZoom(int32_t type) {
    return type >= kZoomCenter && type <= kZoomNorthWest;
}

int32_t SizeOf(const qbEffectState* s) {
    switch (s->type) {
        case kStretchLeft:
        case kStretchRight:
        case kVStretchCenter:
            return s->width;
        case kStretchTop:
        case kStretchBottom:
        case kHStretchCenter:
            return s->height;
        default:
            return std::max(s->width, s->height);
    }
}

bool Grows(const qbEffectState* s) {
    const bool shrinksShowing = s->type == kStretchRight || s->type == kStretchBottom;
    return shrinksShowing == (s->reverse != 0);
}

// Where the zoom box sits on each axis: 0 the near edge, 1 the middle, 2
// the far edge; by the direction in the name, from CENTER round to
// NORTHWEST.
constexpr int kZoomPlaces[9][2] = {{1, 1}, {1, 0}, {2, 0}, {2, 1}, {2, 2}, {1, 2}, {0, 2}, {0, 1}, {0, 0}};

int32_t Place(int side, int32_t picture, int32_t size) {
    return side == 0 ? 0 : side == 2 ? picture - size : (picture - size) / 2;
}

Rect RectOf(const qbEffectState* s, int32_t e) {
    const int32_t W = s->width, H = s->height;
    switch (s->type) {
        case kStretchLeft:
            return {0, 0, e, H};
        case kStretchRight:
            return {e, 0, W - e, H};
        case kStretchTop:
            return {0, 0, W, e};
        case kStretchBottom:
            return {0, e, W, H - e};
        case kHStretchCenter:
            return {0, (H - e) / 2, W, e};
        case kVStretchCenter:
            return {(W - e) / 2, 0, e, H};
        default:
            break;
    }
    int32_t bw = e, bh = e;
    if (e > 0) {
        if (W >= H) bh = static_cast<int32_t>(std::max<int64_t>(int64_t{e} * H / W, 1));
        else bw = static_cast<int32_t>(std::max<int64_t>(int64_t{e} * W / H, 1));
    }
    const int* at = kZoomPlaces[std::clamp(s->type - kZoomCenter, 0, 8)];
    return {Place(at[0], W, bw), Place(at[1], H, bh), bw, bh};
}

bool Empty(const Rect& r) {
    return r.w < 1 || r.h < 1;
}

// The strip (x, y, w, h) of the effect rectangle goes back to what lies
// under the picture: cleared from a real-time layer's planes, or the old
// picture drawn there again.
void GiveBack(qbEffectState* s, StretchPriv* p, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t showFlags) {
    if (w < 1 || h < 1) return;
    if (s->realtime) {
        const qbEffectLayerImages& li = s->layerImages;
        BlitEffectStrip(nullptr, x, y, li.bitmap, li.mask, li.alpha, x, y, w, h, s->width, s->height, s->width,
                        s->height, nullptr, nullptr, s, kStripClear | showFlags);
        return;
    }
    if (!p->work) return;
    RestoreOldPicture(s, x, y, p->work, x, y, w, h);
    DrawEffectPieceFrom(s, p->work, nullptr, nullptr, x, y, w, h);
}

// What the rectangle of the frame before covered and r does not; the
// rectangles nest, so four strips do.
void GiveBackStrips(qbEffectState* s, StretchPriv* p, const Rect& r, uint32_t showFlags) {
    const int32_t px = p->x, py = p->y, pr = p->x + p->w, pb = p->y + p->h;
    if (Empty(r)) {
        GiveBack(s, p, px, py, p->w, p->h, showFlags);
        return;
    }
    const int32_t right = r.x + r.w, bottom = r.y + r.h;
    GiveBack(s, p, px, py, r.x - px, p->h, showFlags);
    GiveBack(s, p, right, py, pr - right, p->h, showFlags);
    const int32_t x0 = std::max(px, r.x), x1 = std::min(pr, right);
    GiveBack(s, p, x0, py, x1 - x0, r.y - py, showFlags);
    GiveBack(s, p, x0, bottom, x1 - x0, pb - bottom, showFlags);
}

// The new picture scaled to r, over the old picture where it is
// transparent, drawn there.
int DrawScaled(qbEffectState* s, StretchPriv* p, const Rect& r, uint32_t flags) {
    // Unscaled, a layer takes the picture as it is; on the screen only an
    // opaque one can go straight over the frame before.
    if (r.w == s->width && r.h == s->height && (s->realtime || (!s->mask && !s->alpha))) {
        DrawEffectPictureAt(s, s->image, s->mask, s->alpha, r.w, r.h, r.x, r.y, flags);
        return 0;
    }
    // Without planes a layer's frames scale straight into its effect image,
    // the others into one kept picture: a new one each frame costs the
    // mapping of its pages.
    qbBitmap* layerImage = s->layerImages.bitmap;
    if (!s->mask && !s->alpha && s->realtime && layerImage && !(flags & kStripClear) &&
        RectInside(std::min(s->width, layerImage->width), std::min(s->height, layerImage->height), r.x, r.y, r.w,
                   r.h)) {
        if (int err = ScaleBitmapAt(s->image, 0, 0, s->width, s->height, layerImage, r.x, r.y, r.w, r.h)) return err;
        s->layerImages.holdsPicture = 0;
        BlitEffectStrip(layerImage, r.x, r.y, layerImage, s->layerImages.mask, s->layerImages.alpha, r.x, r.y, r.w, r.h,
                        s->width, s->height, s->width, s->height, nullptr, nullptr, s, flags | kStripPixelsInPlace);
        return 0;
    }
    if (!s->mask && !s->alpha) {
        if (!p->scaled) p->scaled = AllocBitmap(s->width, s->height, 0, nullptr);
        qbBitmap *made = nullptr, *noMask = nullptr, *noAlpha = nullptr;
        if (p->scaled) {
            if (int err = ScaleBitmap(s->image, nullptr, nullptr, 0, 0, p->scaled, s->width, s->height, r.w, r.h, false,
                                      &made, &noMask, &noAlpha))
                return err;
            DrawEffectPictureAt(s, p->scaled, nullptr, nullptr, r.w, r.h, r.x, r.y, flags);
            return 0;
        }
    }
    qbBitmap *scaled = nullptr, *mask = nullptr, *alpha = nullptr;
    if (int err = ScaleBitmap(s->image, s->mask, s->alpha, 0, 0, nullptr, s->width, s->height, r.w, r.h, false, &scaled,
                              &mask, &alpha))
        return err;
    BitmapPtr owned(scaled);
    if (!s->realtime && (mask || alpha) && s->background) {
        // Made each frame, as the scaled pictures are.
        BitmapPtr composed(AllocBitmap(r.w, r.h, 0, nullptr));
        if (!composed) {
            FreeMask(mask);
            FreeAlphaChannel(alpha);
            return ERR_BITMAP;
        }
        ClipAndCopyRect(s->background, r.x, r.y, composed.get(), 0, 0, r.w, r.h, s->width, s->height, r.w, r.h);
        if (alpha) CopyBitmapRectAlpha(scaled, 0, 0, composed.get(), 0, 0, r.w, r.h, alpha);
        else CopyBitmapRectMasked(scaled, 0, 0, composed.get(), 0, 0, r.w, r.h, mask);
        DrawEffectPictureAt(s, composed.get(), nullptr, nullptr, r.w, r.h, r.x, r.y, flags);
    } else {
        DrawEffectPictureAt(s, scaled, mask, alpha, r.w, r.h, r.x, r.y, flags);
    }
    FreeMask(mask);
    FreeAlphaChannel(alpha);
    return 0;
}

int Frame(qbEffectState* s, int* done) {
    auto* p = EffectPriv<StretchPriv>(s);
    const bool seek = s->phase == 2;
    if (seek) {
        p->extent = StretchEdgeSize(s, s->frame);
    } else if (s->frame == 0) {
        p->extent = StretchEdgeSize(s, 1);
        p->x = p->y = 0;
        p->w = s->width;
        p->h = s->height;
    }
    if (s->layer) s->layer->hidden = s->layer->pending = 0;
    const int32_t size = SizeOf(s);
    const bool grows = Grows(s);
    if (grows && p->extent >= size) {
        p->extent = size;
        *done = 1;
    } else if (!grows && p->extent < 1) {
        p->extent = 0;
        *done = 1;
    }
    const Rect r = RectOf(s, p->extent);
    const uint32_t flags = MovedPieceFlags(s) | (seek ? kStripNoShow : 0u);
    if (s->reverse) GiveBackStrips(s, p, r, flags);
    else if (seek && s->realtime) GiveBack(s, p, 0, 0, s->width, s->height, kStripNoShow);
    if (!Empty(r))
        if (int err = DrawScaled(s, p, r, flags)) return err;
    p->x = r.x, p->y = r.y, p->w = std::max(r.w, 0), p->h = std::max(r.h, 0);
    const int64_t next = int64_t{p->extent} + (grows ? s->speed : -int64_t{s->speed});
    p->extent = static_cast<int32_t>(std::clamp<int64_t>(next, INT32_MIN, INT32_MAX));
    if (seek) return 0;
    EndMovedFrame(s, false);
    ++s->frame;
    return 0;
}

}  // namespace

int32_t StretchEdgeSize(const qbEffectState* s, int32_t n) {
    if (s->type < kStretchLeft || s->type > kZoomNorthWest) return 0;
    const int64_t moved = int64_t{n} * s->speed;
    const int32_t size = IsZoom(s->type) ? (s->width < s->height ? s->height : s->width) : SizeOf(s);
    const int64_t e = Grows(s) ? moved : size - moved;
    return static_cast<int32_t>(std::clamp<int64_t>(e, INT32_MIN, INT32_MAX));
}

void EndStretch(qbEffectState* s, int) {
    auto* p = EffectPriv<StretchPriv>(s);
    if (!p) return;
    FreeBitmap(p->work);
    FreeBitmap(p->scaled);
    p->work = p->scaled = nullptr;
}

int RenderStretchZoom(qbEffectState* s, int* done) {
    if (done) return s->phase == 1 || s->phase == 2 ? Frame(s, done) : 0;
    auto* p = AllocEffectPriv<StretchPriv>(s);
    if (!p) return ERR_MEM;
    s->cleanup = EndStretch;
    const int32_t size = SizeOf(s);
    s->speed = SpeedFromSize(s->speed, size, 30, 10, 80);
    if (s->reverse) {
        p->work = EffectAllocBitmap(s->width, s->height);
        if (!p->work) return ERR_BITMAP;
    }
    p->extent = StretchEdgeSize(s, 1);
    p->w = s->width;
    p->h = s->height;
    s->frameCount = Grows(s) ? FrameCountFor(size - p->extent, s->speed, 0) : FrameCountFor(p->extent, s->speed, 0);
    return 0;
}
