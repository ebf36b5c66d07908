#include "transitions/effectwhole.h"

#include <algorithm>

#include "core/errcodes.h"
#include "display/display.h"
#include "display/safeblt.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "imaging/scalebitmap.h"
#include "transitions/effectframe.h"
#include "transitions/effectstate.h"

uint32_t MovedPieceFlags(const qbEffectState* s) {
    return s->replaying || s->layerHasExtras ? kStripNoShow : 0u;
}

void DrawMovedPiece(qbEffectState* s, qbBitmap* src, int32_t srcWidth, int32_t srcHeight, int32_t sx, int32_t sy,
                    int32_t w, int32_t h, int32_t dx, int32_t dy, uint32_t flags) {
    if (!src || w < 1 || h < 1) return;
    if (s->realtime) {
        const qbEffectLayerImages& li = s->layerImages;
        if (!li.bitmap) return;
        BlitEffectStrip(src, sx, sy, li.bitmap, li.mask, li.alpha, dx, dy, w, h, srcWidth, srcHeight, s->width,
                        s->height, nullptr, nullptr, s, flags);
        return;
    }
    qbDisplay* d = GetCurrentDisplay();
    if (!d) return;
    qbSafeBlt blit;
    blit.source = src;
    blit.srcX = sx;
    blit.srcY = sy;
    // A BGPic transition draws straight to the window; its buffers take
    // the new picture when it ends.
    blit.destination = s->target                          ? s->target
                       : s->objectType == kEffectBGPic    ? nullptr
                       : s->layer                         ? d->backBuffer.get()
                                                          : d->spriteFreeBuffer.get();
    blit.dstX = dx;
    blit.dstY = dy;
    blit.width = w;
    blit.height = h;
    blit.srcWidth = srcWidth;
    blit.srcHeight = srcHeight;
    blit.dstWidth = std::min(s->width, s->screenWidth);
    blit.dstHeight = std::min(s->height, s->screenHeight);
    blit.flags = s->blitFlags;
    SafeBlt(s->script, blit);
}

namespace {

// A real-time piece that lies wholly inside the layer's effect image is
// scaled straight into its place there.
bool ScaleIntoLayerImage(qbEffectState* s, qbBitmap* src, int32_t sx, int32_t sy, int32_t w, int32_t h,
                         int32_t newWidth, int32_t newHeight, int32_t dx, int32_t dy, uint32_t flags, int* err) {
    qbBitmap* into = s->layerImages.bitmap;
    if (!s->realtime || !into || src == into || (flags & kStripClear) || dx < 0 || dy < 0 ||
        int64_t{dx} + newWidth > std::min(s->width, into->width) ||
        int64_t{dy} + newHeight > std::min(s->height, into->height))
        return false;
    *err = ScaleBitmapAt(src, sx, sy, w, h, into, dx, dy, newWidth, newHeight);
    if (*err) return true;
    BlitEffectStrip(into, dx, dy, into, s->layerImages.mask, s->layerImages.alpha, dx, dy, newWidth, newHeight,
                    s->width, s->height, s->width, s->height, nullptr, nullptr, s, flags | kStripPixelsInPlace);
    return true;
}

// The picture pieces elsewhere scale into, at least w x h and the effect's
// size: the effect's own, else the one the display kept, else a new one.
// A new picture each frame would cost the mapping of its pages, more than
// the scaling itself. Null without the memory.
qbBitmap* PieceAtLeast(qbEffectState* s, int32_t w, int32_t h) {
    qbDisplay* d = GetCurrentDisplay();
    if (!s->scaledPiece && d) s->scaledPiece = d->effectPiece.release();
    qbBitmap* piece = s->scaledPiece;
    if (piece && piece->width >= w && piece->height >= h) return piece;
    const int32_t width = std::max({w, s->width, piece ? piece->width : 0});
    const int32_t height = std::max({h, s->height, piece ? piece->height : 0});
    FreeBitmap(piece);
    s->scaledPiece = piece = AllocBitmap(width, height, 0, nullptr);
    // Written once here, so that a first frame does not map its pages.
    if (piece) FillBitmapRect(piece, 0, 0, width, height, 0);
    return piece;
}

}  // namespace

void PrepareScaledPieces(qbEffectState* s) {
    if (!s->realtime) PieceAtLeast(s, s->width, s->height);
}

int DrawScaledPiece(qbEffectState* s, qbBitmap* src, int32_t sx, int32_t sy, int32_t w, int32_t h, int32_t newWidth,
                    int32_t newHeight, int32_t dx, int32_t dy, uint32_t flags) {
    if (!src || newWidth < 1 || newHeight < 1) return 0;
    if (newWidth == w && newHeight == h) {
        DrawMovedPiece(s, src, src->width, src->height, sx, sy, w, h, dx, dy, flags);
        return 0;
    }
    int err = 0;
    if (ScaleIntoLayerImage(s, src, sx, sy, w, h, newWidth, newHeight, dx, dy, flags, &err)) return err;
    qbBitmap* piece = PieceAtLeast(s, newWidth, newHeight);
    if (!piece) return ERR_BITMAP;
    if ((err = ScaleBitmapAt(src, sx, sy, w, h, piece, 0, 0, newWidth, newHeight))) return err;
    DrawMovedPiece(s, piece, piece->width, piece->height, 0, 0, newWidth, newHeight, dx, dy, flags);
    return 0;
}

void KeepScaledPiece(qbEffectState* s) {
    qbDisplay* d = GetCurrentDisplay();
    BitmapPtr piece(s->scaledPiece);
    s->scaledPiece = nullptr;
    if (d && piece) d->effectPiece = std::move(piece);
}

void EndMovedFrame(qbEffectState* s, bool whole) {
    if (s->realtime && !s->replaying && (whole || s->layerHasExtras)) BlitEffectRect(s, s->x, s->y, s->width, s->height);
    PresentEffectFrame(s);
}
