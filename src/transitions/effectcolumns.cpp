#include "transitions/effectcolumns.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <vector>

#include "display/display.h"
#include "display/bgpics.h"
#include "display/refresh.h"
#include "display/safeblt.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "transitions/effectframe.h"
#include "transitions/effecthelpers.h"
#include "transitions/effectstate.h"

namespace {

struct Span {
    int32_t x, w;
    // A span inside one byte of a mask row: that byte and its bits, else
    // bits 0.
    uint32_t maskByte = 0;
    uint8_t maskBits = 0;
};

// The byte masks of the bits x .. x + w - 1 of a mask row (pixel 0 in a
// byte's top bit), one byte at a time.
template <class Op>
void ForMaskBytes(int32_t x, int32_t w, Op op) {
    int32_t bit = x;
    const int32_t end = x + w;
    while (bit < end) {
        const int32_t inByte = bit & 7;
        const int32_t n = std::min(8 - inByte, end - bit);
        const auto m = static_cast<uint8_t>((0xFFu >> inByte) & ~(0xFFu >> (inByte + n)));
        op(static_cast<size_t>(bit >> 3), m);
        bit += n;
    }
}

bool PlaneCovers(const qbBitmap* b, int32_t kind, int32_t right, int32_t bottom) {
    return b && b->kind == kind && b->plane && b->plane->data && b->plane->width >= right &&
           b->plane->height >= bottom;
}

// Everything the row walk needs, or false when the pieces must go one by
// one (a backend that draws itself, pixels that need a lock, planes that
// do not reach).
struct RowWalk {
    qbPixelView src, dst;
    uint8_t* srcMask = nullptr;
    uint32_t srcMaskRow = 0;
    uint8_t* dstMask = nullptr;
    uint32_t dstMaskRow = 0;
    uint8_t* srcAlpha = nullptr;
    uint32_t srcAlphaRow = 0;
    uint8_t* dstAlpha = nullptr;
    uint32_t dstAlphaRow = 0;
    bool copyPixels = false;
};

bool PrepareRowWalk(const qbEffectState* s, bool clear, int32_t right, int32_t bottom, RowWalk* r) {
    if (GetBlitRoute()) return false;
    const qbEffectLayerImages& li = s->layerImages;
    if (!li.bitmap) return false;
    // The planes as BlitEffectStrip chooses them: a copied mask, a copied
    // alpha, else the destination plane filled.
    const bool maskCopy = !clear && s->mask && li.mask;
    const bool alphaCopy = !clear && !maskCopy && s->alpha && li.alpha;
    if (maskCopy && !PlaneCovers(s->mask, kBitmapKindMask, right, bottom)) return false;
    if (alphaCopy && !PlaneCovers(s->alpha, kBitmapKindAlpha, right, bottom)) return false;
    if (li.alpha) {
        if (!PlaneCovers(li.alpha, kBitmapKindAlpha, right, bottom)) return false;
        r->dstAlpha = li.alpha->plane->data, r->dstAlphaRow = li.alpha->plane->rowBytes;
    } else if (li.mask) {
        if (!PlaneCovers(li.mask, kBitmapKindMask, right, bottom)) return false;
        r->dstMask = li.mask->plane->data, r->dstMaskRow = li.mask->plane->rowBytes;
    }
    if (maskCopy) {
        if (!PlaneCovers(li.mask, kBitmapKindMask, right, bottom)) return false;
        r->dstMask = li.mask->plane->data, r->dstMaskRow = li.mask->plane->rowBytes;
        r->dstAlpha = nullptr;
        r->srcMask = s->mask->plane->data, r->srcMaskRow = s->mask->plane->rowBytes;
    } else if (alphaCopy) {
        r->srcAlpha = s->alpha->plane->data, r->srcAlphaRow = s->alpha->plane->rowBytes;
    }
    if (clear) return true;
    if (!s->image || !PeekPlainPixels(s->image, &r->src) || !PeekPlainPixels(li.bitmap, &r->dst)) return false;
    if (r->src.bytesPerPixel != r->dst.bytesPerPixel) return true;  // a copy would do nothing either
    if (r->src.bytesPerPixel != 4 && r->src.bytesPerPixel != 2) return true;
    if (s->image->width < right || s->image->height < bottom || li.bitmap->width < right || li.bitmap->height < bottom)
        return false;
    // The image holds the picture already: only the planes change.
    r->copyPixels = !li.holdsPicture;
    return true;
}

struct Columns {
    int64_t x0, pitch;
    int32_t count, w, y, h;
};

// Piece i cut at the picture's edges, as DrawEffectPiece cuts it.
bool ClipColumn(const qbEffectState* s, const Columns& c, int32_t i, Span* out, int32_t* top, int32_t* bottom) {
    const int64_t x = c.x0 + c.pitch * i;
    const int64_t x0 = std::max<int64_t>(x, 0), x1 = std::min<int64_t>(x + c.w, s->width);
    const int64_t y0 = std::max<int64_t>(c.y, 0), y1 = std::min<int64_t>(int64_t{c.y} + c.h, s->height);
    if (x1 <= x0 || y1 <= y0) return false;
    const auto sx = static_cast<int32_t>(x0), cw = static_cast<int32_t>(x1 - x0);
    *out = {sx, cw};
    if ((sx >> 3) == ((sx + cw - 1) >> 3)) {
        out->maskByte = static_cast<uint32_t>(sx >> 3);
        out->maskBits = static_cast<uint8_t>((0xFFu >> (sx & 7)) & ~(0xFFu >> ((sx & 7) + cw)));
    }
    *top = static_cast<int32_t>(y0), *bottom = static_cast<int32_t>(y1);
    return true;
}

void WalkRows(const RowWalk& r, const Span* spans, int32_t n, int32_t y0, int32_t y1, bool clear) {
    const size_t bpp = r.src.bytesPerPixel;
    for (int32_t y = y0; y < y1; ++y) {
        const auto row = static_cast<size_t>(y);
        uint8_t* dMask = r.dstMask ? r.dstMask + row * r.dstMaskRow : nullptr;
        const uint8_t* sMask = r.srcMask ? r.srcMask + row * r.srcMaskRow : nullptr;
        uint8_t* dAlpha = r.dstAlpha ? r.dstAlpha + row * r.dstAlphaRow : nullptr;
        const uint8_t* sAlpha = r.srcAlpha ? r.srcAlpha + row * r.srcAlphaRow : nullptr;
        uint8_t* dPix = nullptr;
        const uint8_t* sPix = nullptr;
        if (r.copyPixels) {
            dPix = static_cast<uint8_t*>(r.dst.pixels) + row * static_cast<size_t>(r.dst.rowLength) * bpp;
            sPix = static_cast<const uint8_t*>(r.src.pixels) + row * static_cast<size_t>(r.src.rowLength) * bpp;
        }
        for (int32_t i = 0; i < n; ++i) {
            const Span sp = spans[i];
            const auto x = static_cast<size_t>(sp.x), w = static_cast<size_t>(sp.w);
            // Thin blinds: a few pixels and one mask byte, without the calls.
            if (sp.maskBits && !sAlpha && !dAlpha && (!dPix || (bpp == 4 && w <= 4))) {
                if (const uint8_t m = sp.maskBits; sMask)
                    dMask[sp.maskByte] = static_cast<uint8_t>((dMask[sp.maskByte] & ~m) | (sMask[sp.maskByte] & m));
                else if (dMask)
                    dMask[sp.maskByte] = static_cast<uint8_t>(clear ? dMask[sp.maskByte] & ~m : dMask[sp.maskByte] | m);
                if (dPix) {
                    for (size_t k = x * 4; k < (x + w) * 4; k += 4) {
                        uint32_t px;
                        std::memcpy(&px, sPix + k, 4);
                        std::memcpy(dPix + k, &px, 4);
                    }
                }
                continue;
            }
            if (sMask) {
                ForMaskBytes(sp.x, sp.w, [&](size_t k, uint8_t m) {
                    dMask[k] = static_cast<uint8_t>((dMask[k] & ~m) | (sMask[k] & m));
                });
            } else if (dMask) {
                ForMaskBytes(sp.x, sp.w, [&](size_t k, uint8_t m) {
                    dMask[k] = static_cast<uint8_t>(clear ? dMask[k] & ~m : dMask[k] | m);
                });
            } else if (sAlpha) {
                std::memcpy(dAlpha + x, sAlpha + x, w);
            } else if (dAlpha) {
                std::memset(dAlpha + x, clear ? 0 : 255, w);
            }
            if (dPix) std::memcpy(dPix + x * bpp, sPix + x * bpp, w * bpp);
        }
    }
}

// A BGPic transition in plain mode shows its pieces from the new picture
// straight in the window (SafeBlt's path for the display): here with the
// pieces' rows walked once for all of them. False when that path does not
// apply (the pieces then go one by one).
bool ShowPlainColumns(qbEffectState* s, const Columns& c) {
    if (s->realtime || s->objectType != kEffectBGPic || s->target || s->mask || s->alpha || !s->image) return false;
    qbDisplay* d = GetCurrentDisplay();
    if (!d || d->output.type != kObjectTypeDisplay || (d->bgpic && d->bgpic->spriteInstances)) return false;
    // From a buffer of the display a refresh may scale; not the case here.
    if (s->image == d->spriteFreeBuffer.get() || s->image == d->backBuffer.get()) return false;
    std::vector<qbWindowRect> rects;
    try {
        rects.reserve(static_cast<size_t>(c.count));
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (int32_t i = 0; i < c.count; ++i) {
        Span sp;
        int32_t top = 0, bottom = 0;
        if (!ClipColumn(s, c, i, &sp, &top, &bottom)) continue;
        int32_t sx = sp.x, sy = top, w = sp.w, h = bottom - top;
        int32_t dx = SaturatingAdd(s->x, sx), dy = SaturatingAdd(s->y, sy);
        // A place at the coordinate limit moves no longer by s->x, s->y.
        if (int64_t{dx} - sx != s->x || int64_t{dy} - sy != s->y) return false;
        ClipBlitRect(nullptr, &sx, &sy, &dx, &dy, &w, &h, s->width, s->height, s->screenWidth, s->screenHeight, false);
        if (w > 0 && h > 0) rects.push_back({sx, sy, w, h});
    }
    RefreshDisplayRects(s->image, rects.data(), static_cast<int32_t>(rects.size()), d, s->x, s->y, 0);
    return true;
}

}  // namespace

void DrawEffectColumns(qbEffectState* s, int32_t x0, int32_t pitch, int32_t count, int32_t w, int32_t y, int32_t h) {
    const Columns c{x0, pitch, count, w, y, h};
    const auto oneByOne = [&] {
        for (int32_t i = 0; i < count; ++i) DrawEffectPiece(s, c.x0 + c.pitch * i, y, w, h);
    };
    // Pieces that overlap keep their order of drawing: one by one.
    if (count < 2 || pitch < w || w < 1 || h < 1 || y < 0) return oneByOne();
    if (!s->realtime) {
        if (!ShowPlainColumns(s, c)) oneByOne();
        return;
    }
    int32_t top = 0, bottom = 0, right = 0;
    bool any = false;
    for (int32_t i = 0; i < count; ++i) {
        Span sp;
        if (!ClipColumn(s, c, i, &sp, &top, &bottom)) continue;
        right = sp.x + sp.w;
        any = true;
    }
    if (!any) return;
    const bool clear = s->reverse;
    RowWalk walk;
    if (!PrepareRowWalk(s, clear, right, bottom, &walk)) return oneByOne();
    // A batch of pieces at a time, so that no list need be allocated.
    constexpr int32_t kBatch = 256;
    Span spans[kBatch];
    for (int32_t first = 0; first < count; first += kBatch) {
        int32_t n = 0;
        for (int32_t i = first; i < count && i - first < kBatch; ++i)
            if (ClipColumn(s, c, i, &spans[n], &top, &bottom)) ++n;
        WalkRows(walk, spans, n, top, bottom, clear);
    }
    // The rectangles each piece would have shown.
    if (s->replaying || s->layerHasExtras || !s->layer) return;
    for (int32_t i = 0; i < count; ++i) {
        Span sp;
        if (ClipColumn(s, c, i, &sp, &top, &bottom)) BlitEffectRect(s, int64_t{sp.x} + s->x, int64_t{top} + s->y, sp.w, int64_t{bottom} - top);
    }
}
