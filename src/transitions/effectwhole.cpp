#include "transitions/effectwhole.h"

#include <algorithm>

#include "display/display.h"
#include "display/safeblt.h"
#include "imaging/bitmap.h"
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

int DrawScaledPiece(qbEffectState* s, qbBitmap* src, int32_t sx, int32_t sy, int32_t w, int32_t h, int32_t newWidth,
                    int32_t newHeight, int32_t dx, int32_t dy, uint32_t flags) {
    if (!src || newWidth < 1 || newHeight < 1) return 0;
    if (newWidth == w && newHeight == h) {
        DrawMovedPiece(s, src, src->width, src->height, sx, sy, w, h, dx, dy, flags);
        return 0;
    }
    qbBitmap *scaled = nullptr, *mask = nullptr, *alpha = nullptr;
    if (int err = ScaleBitmap(src, nullptr, nullptr, sx, sy, nullptr, w, h, newWidth, newHeight, false, &scaled, &mask,
                              &alpha))
        return err;
    DrawMovedPiece(s, scaled, newWidth, newHeight, 0, 0, newWidth, newHeight, dx, dy, flags);
    FreeBitmap(scaled);
    FreeMask(mask);
    FreeAlphaChannel(alpha);
    return 0;
}

void EndMovedFrame(qbEffectState* s, bool whole) {
    if (s->realtime && !s->replaying && (whole || s->layerHasExtras)) BlitEffectRect(s, s->x, s->y, s->width, s->height);
    PresentEffectFrame(s);
}
