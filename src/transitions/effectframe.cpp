#include "transitions/effectframe.h"
#include "transitions/effecthelpers.h"

#include <algorithm>
#include <climits>
#include <new>

#include "display/bgpics.h"
#include "display/display.h"
#include "display/refresh.h"
#include "display/safeblt.h"
#include "imaging/blit.h"
#include "imaging/geometry.h"
#include "objects/dirtyrects.h"
#include "objects/layers.h"
#include "transitions/effectstate.h"

namespace {

// Where plain-mode pieces go: a BGPic transition straight to the window
// (its buffers already hold the new picture), a layer effect into the
// composed picture, anything else into the picture without layers.
qbBitmap* PlainTarget(const qbEffectState* s, const qbDisplay* d) {
    if (s->target) return s->target;
    if (s->objectType == kEffectBGPic) return nullptr;
    if (s->layer) return d->backBuffer.get();
    return d->spriteFreeBuffer.get();
}

// Clips the rectangle (x, y, w, h) to 0..width, 0..height into out; false
// when nothing is left.
bool Clip(int64_t x, int64_t y, int64_t w, int64_t h, int32_t width, int32_t height, qbRect* out) {
    const int64_t x0 = std::max<int64_t>(x, 0), y0 = std::max<int64_t>(y, 0);
    const int64_t x1 = std::min<int64_t>(x + w, width), y1 = std::min<int64_t>(y + h, height);
    if (x1 <= x0 || y1 <= y0) return false;
    *out = {static_cast<int32_t>(x0), static_cast<int32_t>(y0), static_cast<int32_t>(x1 - x0),
            static_cast<int32_t>(y1 - y0)};
    return true;
}

// A plain-mode piece: source (sx, sy) of a picture srcWidth x srcHeight to
// the effect's place on the screen, through its mask or alpha plane.
void BlitPlainPiece(qbEffectState* s, qbDisplay* d, qbBitmap* source, int32_t sx, int32_t sy, int32_t ex, int32_t ey,
                    int32_t w, int32_t h, int32_t srcWidth, int32_t srcHeight, qbBitmap* mask, qbBitmap* alpha) {
    qbSafeBlt blit;
    blit.source = source;
    blit.srcX = sx;
    blit.srcY = sy;
    blit.destination = PlainTarget(s, d);
    blit.dstX = SaturatingAdd(s->x, ex);
    blit.dstY = SaturatingAdd(s->y, ey);
    blit.width = w;
    blit.height = h;
    blit.srcWidth = srcWidth;
    blit.srcHeight = srcHeight;
    blit.dstWidth = s->screenWidth;
    blit.dstHeight = s->screenHeight;
    blit.mask = alpha ? nullptr : mask;
    blit.alpha = alpha;
    SafeBlt(s->script, blit);
}

}  // namespace

void DrawEffectPieceFrom(qbEffectState* s, qbBitmap* source, qbBitmap* mask, qbBitmap* alpha, int64_t x, int64_t y,
                         int64_t w, int64_t h) {
    // Pieces sliding in from an edge start outside the picture: both paths
    // below would leave out a piece whose source starts left of or above 0.
    qbRect r;
    if (!source || !Clip(x, y, w, h, s->width, s->height, &r)) return;
    if (s->realtime) {
        const qbEffectLayerImages& li = s->layerImages;
        const uint32_t flags = (s->reverse ? kStripClear : 0u) | (s->replaying || s->layerHasExtras ? kStripNoShow : 0u);
        BlitEffectStrip(source, r.x, r.y, li.bitmap, li.mask, li.alpha, r.x, r.y, r.width, r.height, s->width,
                        s->height, s->width, s->height, mask, alpha, s, flags);
        return;
    }
    qbDisplay* d = GetCurrentDisplay();
    if (!d) return;
    BlitPlainPiece(s, d, source, r.x, r.y, r.x, r.y, r.width, r.height, s->width, s->height, mask, alpha);
}

void DrawEffectPictureAt(qbEffectState* s, qbBitmap* src, qbBitmap* mask, qbBitmap* alpha, int32_t w, int32_t h,
                         int32_t dx, int32_t dy, uint32_t flags) {
    if (w < 1 || h < 1 || !src) return;
    if (s->realtime) {
        const qbEffectLayerImages& li = s->layerImages;
        if (!li.bitmap) return;
        s->layerImages.holdsPicture = 0;
        BlitEffectStrip(src, 0, 0, li.bitmap, li.mask, li.alpha, dx, dy, w, h, w, h, s->width, s->height, mask, alpha,
                        s, flags);
        return;
    }
    qbDisplay* d = GetCurrentDisplay();
    if (!d) return;
    // Only what lies inside the effect rectangle.
    qbRect c;
    if (!Clip(dx, dy, w, h, s->width, s->height, &c)) return;
    BlitPlainPiece(s, d, src, c.x - dx, c.y - dy, c.x, c.y, c.width, c.height, w, h, mask, alpha);
}

void DrawEffectPiece(qbEffectState* s, int64_t x, int64_t y, int64_t w, int64_t h) {
    DrawEffectPieceFrom(s, s->image, s->mask, s->alpha, x, y, w, h);
}

void PresentEffectFrame(qbEffectState* s) {
    ShowEffectRects(s);
    if (s->replaying) return;
    if (s->autoScaled) {
        if (qbDisplay* d = GetCurrentDisplay(); d && d->backBuffer)
            RefreshDisplayRect(d->backBuffer.get(), 0, 0, d, 0, 0, s->screenWidth, s->screenHeight,
                               kRefreshScaled | kRefreshForce);
    }
}

void FillEffectRect(qbEffectState* s, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t colour, uint32_t flags) {
    if (s->realtime) {
        const qbEffectLayerImages& li = s->layerImages;
        qbRect c;
        if (!li.bitmap || !Clip(x, y, w, h, s->width, s->height, &c)) return;
        s->layerImages.holdsPicture = 0;
        FillBitmapRect(li.bitmap, c.x, c.y, c.width, c.height, colour);
        if (li.alpha) FillAlphaRect(li.alpha, c.x, c.y, c.width, c.height, 255);
        else if (li.mask) FillEffectMask(li.mask, c.x, c.y, c.width, c.height, true);
        if (!(flags & kStripNoShow)) BlitEffectRect(s, int64_t{c.x} + s->x, int64_t{c.y} + s->y, c.width, c.height);
        return;
    }
    qbDisplay* d = GetCurrentDisplay();
    if (!d) return;
    qbBitmap* into = PlainTarget(s, d);
    const bool toWindow = !into;
    if (toWindow) into = d->backBuffer.get();
    qbRect c;
    if (!into || !Clip(int64_t{x} + s->x, int64_t{y} + s->y, w, h, std::min(s->screenWidth, into->width),
                       std::min(s->screenHeight, into->height), &c))
        return;
    FillBitmapRect(into, c.x, c.y, c.width, c.height, colour);
    RefreshDisplayRect(into, c.x, c.y, d, c.x, c.y, c.width, c.height, kRefreshScaled);
}

void BlitEffectStrip(qbBitmap* src, int32_t sx, int32_t sy, qbBitmap* dstBitmap, qbBitmap* dstMask,
                     qbBitmap* dstAlpha, int32_t dx, int32_t dy, int32_t w, int32_t h, int32_t srcWidth,
                     int32_t srcHeight, int32_t dstWidth, int32_t dstHeight, qbBitmap* srcMask, qbBitmap* srcAlpha,
                     qbEffectState* s, uint32_t flags) {
    if (sx < 0 || sy < 0) return;
    const int32_t ux = dx, uy = dy, uw = w, uh = h;
    ClipBlitRect(nullptr, &sx, &sy, &dx, &dy, &w, &h, srcWidth, srcHeight, dstWidth, dstHeight, false);
    if (w < 1 || h < 1) return;
    if (s && dstBitmap == s->layerImages.bitmap && src != s->image) s->layerImages.holdsPicture = 0;
    if (flags & kStripClear) {
        const bool opaque = flags & kStripOpaque;
        if (dstAlpha) FillAlphaRect(dstAlpha, dx, dy, w, h, opaque ? 255 : 0);
        else if (dstMask) FillEffectMask(dstMask, dx, dy, w, h, opaque);
    } else {
        if (srcMask && dstMask) {
            BlitMaskRect(srcMask, sx, sy, dstMask, dx, dy, w, h, (flags & kStripCombine) ? kMaskOr : kMaskVanillaCopy,
                         nullptr, 0);
        } else if (srcAlpha && dstAlpha) {
            CombineAlphaRect(srcAlpha, sx, sy, dstAlpha, dx, dy, w, h, (flags & kStripCombine) ? 1 : 0, 0);
        } else if (dstAlpha) {
            FillAlphaRect(dstAlpha, dx, dy, w, h, 255);
        } else if (dstMask) {
            FillEffectMask(dstMask, dx, dy, w, h, true);
        }
        if (flags & kStripPixelsInPlace) {
            // Scaled straight into the image already.
        } else if ((flags & kStripThroughPlane) && srcMask) {
            CopyBitmapRectMasked(src, sx, sy, dstBitmap, dx, dy, w, h, srcMask);
        } else if ((flags & kStripThroughPlane) && srcAlpha) {
            CopyBitmapRectAlpha(src, sx, sy, dstBitmap, dx, dy, w, h, srcAlpha);
        } else {
            CopyBitmapRect(src, sx, sy, dstBitmap, dx, dy, w, h);
        }
    }
    if (!s || (flags & kStripNoShow) || !s->layer) return;
    BlitEffectRect(s, int64_t{ux} + s->x, int64_t{uy} + s->y, uw, uh);
}

void BlitEffectRect(qbEffectState* s, int64_t dx, int64_t dy, int64_t w, int64_t h) {
    if (s->replaying || w < 1 || h < 1) return;
    const qbRect r = RectFromEdges(dx, dy, dx + w, dy + h);
    if (r.width < 1 || r.height < 1) return;
    try {
        s->shownRects.push_back({r.x, r.y, r.width, r.height});
    } catch (const std::bad_alloc&) {
        RefreshLayerRect(s->script, r.x, r.y, r.width, r.height, 0);
    }
}

void ShowEffectRects(qbEffectState* s) {
    std::vector<qbEffectState::ShownRect>& rects = s->shownRects;
    if (rects.empty()) return;
    // Pieces that do not overlap (blinds, stripes) are redrawn and shown a
    // row at a time, every piece's span in each row: the cost of their
    // pixels, without a row's set-up per piece or the box between them.
    // The overlap test is quadratic, so only for the usual few hundred.
    constexpr size_t kMostListed = 512;
    // A redraw costs about a row's set-up per row plus its pixels; the row
    // walk a row's set-up per row of the box and a span's per piece and row.
    constexpr int64_t kRowCost = 64, kSpanCost = 16;
    int64_t x1 = INT64_MAX, y1 = INT64_MAX, x2 = INT64_MIN, y2 = INT64_MIN, separate = 0, listed = 0;
    for (const auto& r : rects) {
        x1 = std::min<int64_t>(x1, r.x);
        y1 = std::min<int64_t>(y1, r.y);
        x2 = std::max<int64_t>(x2, int64_t{r.x} + r.w);
        y2 = std::max<int64_t>(y2, int64_t{r.y} + r.h);
        separate += int64_t{r.h} * (kRowCost + r.w);
        listed += int64_t{r.h} * (kSpanCost + r.w);
    }
    const int64_t together = (y2 - y1) * (kRowCost + (x2 - x1));
    listed += (y2 - y1) * kRowCost;
    if (rects.size() > 1 && rects.size() <= kMostListed && listed < std::min(together, separate)) {
        std::vector<qbRect> list;
        try {
            list.reserve(rects.size());
        } catch (const std::bad_alloc&) {
        }
        if (list.capacity() >= rects.size()) {
            for (const auto& r : rects) list.push_back({r.x, r.y, r.w, r.h});
            if (RefreshLayerRects(s->script, list.data(), static_cast<int32_t>(list.size()))) {
                rects.clear();
                return;
            }
        }
    }
    // Many thin pieces close together (one-pixel blinds) are cheaper as
    // one redraw of the box around them: its rows are copied whole, where
    // the pieces' spans touch as many cache lines one word at a time.
    if (rects.size() > 1 && together <= separate && x2 - x1 <= INT32_MAX && y2 - y1 <= INT32_MAX &&
        x1 >= INT32_MIN && y1 >= INT32_MIN) {
        rects.clear();
        RefreshLayerRect(s->script, static_cast<int32_t>(x1), static_cast<int32_t>(y1), static_cast<int32_t>(x2 - x1),
                         static_cast<int32_t>(y2 - y1), 0);
        return;
    }
    for (const auto& r : rects) RefreshLayerRect(s->script, r.x, r.y, r.w, r.h, 0);
    rects.clear();
}
