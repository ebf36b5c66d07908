// RedrawLayers and the per-layer images it draws.
#include "objects/compositor.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/numbers.h"
#include "display/bgpics.h"
#include "display/clipregions.h"
#include "display/display.h"
#include "display/safeblt.h"
#include "imaging/blit.h"
#include "imaging/clonebitmap.h"
#include "imaging/geometry.h"
#include "imaging/mixbitmaps.h"
#include "imaging/planekernels.h"
#include "imaging/planerect.h"
#include "imaging/shadowmask.h"
#include "objects/animhooks.h"
#include "objects/brushes.h"
#include "objects/compositekernels.h"
#include "objects/layerfilters.h"
#include "objects/shapehooks.h"
#include "objects/texthooks.h"
#include "objects/layers.h"
#include "objects/sprites.h"

namespace {

bool Intersect(const qbRect& a, const qbRect& b, qbRect* out) {
    *out = IntersectRects(a, b);
    return out->width > 0;
}

qbBitmap* Background(qbDisplay* display, qbBGPic* bgpic, uint32_t flags) {
    if (flags & kRedrawBaseSize) return bgpic->base.bitmap;
    const bool shown = display && display->bgpic == bgpic;
    if ((flags & kRedrawOwnPicture) || (!(flags & kRedrawDisplayBackground) && !shown)) return bgpic->current.bitmap;
    return display ? display->spriteFreeBuffer.get() : bgpic->current.bitmap;
}

// Opacity 255 minus the colour's alpha byte, scaled by a fade of 1..256.
int32_t StyleOpacity(uint32_t colour, int32_t fade) {
    int32_t opacity = 255 - static_cast<int32_t>(colour >> 24);
    if (fade) opacity = static_cast<int32_t>(opacity * (fade - 1) / 255.0);
    return opacity;
}

// The matrix a state shows its layer under: none for a base state that
// another state transforms, the display's factors in a scaled shown state.
void StateMatrix(const qbLayer* layer, const qbLayerState* s, double m[4], double* fx, double* fy) {
    static constexpr double kIdentity[4] = {1.0, 0.0, 0.0, 1.0};
    const bool untransformed = s == layer->basestate && layer->transformedstate != layer->basestate;
    const double* from = untransformed ? kIdentity : layer->transform.matrix;
    std::copy(from, from + 4, m);
    *fx = *fy = 1.0;
    const qbDisplay* d = GetCurrentDisplay();
    if (d && s == layer->shownstate && s != layer->transformedstate) {
        *fx = d->scaleX;
        *fy = d->scaleY;
    }
    m[0] *= *fx;
    m[1] *= *fx;
    m[2] *= *fy;
    m[3] *= *fy;
}

// Shape layers but lines, and path layers: their borders come from their
// renderer alone.
bool ShapeOwnsBorder(const qbLayer* layer) {
    const qbShapeLayerHooks* hooks = DrawnLayerHooks(layer->type);
    return hooks && hooks->renderBorder && layer->type != kLayerLine && layer->basestate->shapeState;
}

// The renderer of a layer's border: its own for shapes and paths, the
// shape renderer's box for a turned plain rectangle.
const qbShapeLayerHooks& BorderHooks(const qbLayer* layer) {
    const qbShapeLayerHooks* hooks = DrawnLayerHooks(layer->type);
    return hooks ? *hooks : ShapeLayerHooks();
}

// Whether the border comes from a renderer: shape layers but lines, path
// layers, and plain rectangles that are turned.
bool ShapeDrawsBorder(ScriptState* L, qbLayer* layer) {
    if (IsDrawnLayerType(layer->type)) return ShapeOwnsBorder(layer);
    if (!ShapeLayerHooks().renderBorder) return false;
    const bool image = layer->type == kLayerBrush || layer->type == kLayerBrushPart ||
                       layer->type == kLayerBGPicPart || layer->type == kLayerAnim || layer->type == kLayerVideo;
    const double* m = layer->transform.matrix;
    if (!image || (m[1] == 0 && m[2] == 0)) return false;
    qbObjectImage base;
    int32_t w = 0, h = 0;
    return GetLayerSourceImage(L, layer, layer->basestate, false, &base, &w, &h) == 0 && base.bitmap && !base.mask &&
           !base.alpha;
}

// The shape renderer's border image into the state, at the border's
// opacity. False when it made none.
bool RenderShapeBorder(ScriptState* L, qbLayer* layer, qbLayerState* s) {
    double m[4], fx = 1.0, fy = 1.0;
    StateMatrix(layer, s, m, &fx, &fy);
    qbObjectImage made;
    int32_t x = 0, y = 0, w = 0, h = 0;
    if (BorderHooks(layer).renderBorder(L, *layer, m, fx, fy, layer->border.colour & 0xFFFFFFu, layer->border.size,
                                        &made, &x, &y, &w, &h) ||
        !made.bitmap) {
        FreeObjectImage(&made);
        return false;
    }
    const int32_t opacity = 255 - static_cast<int32_t>(layer->border.colour >> 24);
    if (opacity != 255) {
        if (!made.alpha) {
            made.alpha = AllocAlphaChannel(w, h, false, nullptr, 0);
            if (made.alpha && made.mask)
                MaskToAlpha(AlphaRowsOf(made.alpha, 0, 0), MaskRowsOf(made.mask, 0, 0), w, h,
                            static_cast<uint8_t>(opacity));
            else if (made.alpha)
                FillAlphaPlane(AlphaRowsOf(made.alpha, 0, 0), w, h, static_cast<uint8_t>(opacity));
        } else {
            const AlphaRows rows = AlphaRowsOf(made.alpha, 0, 0);
            MultiplyAlpha(rows, rows, w, h, static_cast<uint32_t>(opacity));
        }
    }
    if (layer->hasgeometricfilter) ApplyLayerFilters(layer->filters, made.bitmap, made.mask, made.alpha, w, h, true);
    s->bdbitmap = made.bitmap;
    s->bdmask = made.mask;
    s->bdalpha = made.alpha;
    s->bdwidth = w;
    s->bdheight = h;
    s->bdoffx = ClampToInt32(static_cast<double>(s->shownx) - x);
    s->bdoffy = ClampToInt32(static_cast<double>(s->showny) - y);
    return true;
}

void DrawShadow(ScriptState* L, qbLayer* layer, qbLayerState* s, qbBitmap* dest, const qbRect& pass) {
    if (layer->border.border && !s->bdbitmap) {
        int32_t bx, by, bw, bh;
        RenderLayerBorder(L, layer, s, &bx, &by, &bw, &bh);
    }
    if (!s->shadowalpha) {
        const int32_t opacity = std::clamp(StyleOpacity(layer->shadow.colour, layer->shadowfade), 0, 255);
        qbBitmap* plane = nullptr;
        if (s->bdbitmap) {
            BuildShadowMask(s->bdalpha, s->bdmask, 0, 0, s->bdwidth, s->bdheight, layer->shadow.radius,
                            layer->shadow.sigma, static_cast<uint8_t>(opacity), false, false, &plane);
        } else {
            qbObjectImage image;
            int32_t w = 0, h = 0;
            if (GetLayerSourceImage(L, layer, s, true, true, &image, &w, &h)) return;
            const bool offset = HasSourceOffset(layer->type) && !s->xfbitmap && image.bitmap != s->fxbitmap;
            BuildShadowMask(image.alpha, image.alpha ? nullptr : image.mask, offset ? s->srcx : 0,
                            offset ? s->srcy : 0, s->shownwidth, s->shownheight, layer->shadow.radius,
                            layer->shadow.sigma, static_cast<uint8_t>(opacity), false, false, &plane);
        }
        if (!plane) return;
        s->shadowalpha = plane;
    }
    qbRect r;
    GetShadowRect(L, layer, s, &r.x, &r.y, &r.width, &r.height);
    // A rectangle cut at the coordinate limit no longer tells where the
    // plane lies; no plane that large can be made anyway.
    if (r.width != s->shadowalpha->width || r.height != s->shadowalpha->height) return;
    qbRect part;
    if (!Intersect(r, pass, &part)) return;
    qbAlphaChannelBlit blit;
    blit.alpha = s->shadowalpha;
    blit.srcX = part.x - r.x;
    blit.srcY = part.y - r.y;
    blit.destination = dest;
    blit.dstX = part.x;
    blit.dstY = part.y;
    blit.width = std::min(part.width, s->shadowalpha->width - blit.srcX);
    blit.height = std::min(part.height, s->shadowalpha->height - blit.srcY);
    blit.colour = layer->shadow.colour & 0xFFFFFFu;
    blit.mode = 1;
    BltAlphaChannel(blit);
}

void DrawBorder(ScriptState* L, qbLayer* layer, qbLayerState* s, qbBitmap* dest, const qbRect& pass) {
    qbRect r;
    RenderLayerBorder(L, layer, s, &r.x, &r.y, &r.width, &r.height);
    qbRect part;
    if (!s->bdbitmap || r.width != s->bdwidth || r.height != s->bdheight || !Intersect(r, pass, &part)) return;
    int32_t level = 255 - layer->transparency;
    if (layer->borderfade) level = level * (layer->borderfade - 1) / 255;
    DrawLayerImage(L, s->bdbitmap, part.x - r.x, part.y - r.y, dest, part.x, part.y, part.width, part.height,
                   s->bdmask, s->bdalpha, 255 - level, s->clipregion);
}

void DrawImage(ScriptState* L, qbLayer* layer, qbLayerState* s, qbBitmap* dest, const qbRect& pass) {
    const qbRect shown{s->shownx, s->showny, s->shownwidth, s->shownheight};
    qbRect part;
    if (!Intersect(shown, pass, &part)) return;
    if (const qbShapeLayerHooks* hooks = DrawnLayerHooks(layer->type);
        hooks && hooks->onlyBorderShows && hooks->onlyBorderShows(*layer))
        return;
    qbObjectImage image;
    int32_t w = 0, h = 0;
    if (GetLayerSourceImage(L, layer, s, true, true, &image, &w, &h)) return;
    int32_t sx = part.x - shown.x, sy = part.y - shown.y;
    // The filtered image was cut out at the source offset already.
    if (HasSourceOffset(layer->type) && !s->xfbitmap && image.bitmap != s->fxbitmap) {
        sx += s->srcx;
        sy += s->srcy;
    }
    const int32_t cw = std::min(part.width, w - sx), ch = std::min(part.height, h - sy);
    if (cw < 1 || ch < 1) return;
    DrawLayerImage(L, image.bitmap, sx, sy, dest, part.x, part.y, cw, ch, image.alpha ? nullptr : image.mask,
                   image.alpha, layer->transparency, s->clipregion);
}

// Blends on plain 32-bit pixels with rounding; false when either bitmap is
// not such, and the general kernels take it.
bool BlendPlain(qbBitmap* src, int32_t sx, int32_t sy, qbBitmap* dest, int32_t dx, int32_t dy, int32_t width,
                int32_t height, qbBitmap* mask, qbBitmap* alpha, uint32_t level) {
    qbPixelView from, to;
    if (!PeekPlainPixels(src, &from) || !PeekPlainPixels(dest, &to)) return false;
    if (from.bytesPerPixel != 4 || to.bytesPerPixel != 4 || from.pixelFormat != to.pixelFormat) return false;
    qbBlendRows r;
    r.src = static_cast<const uint32_t*>(from.pixels) + static_cast<intptr_t>(sy) * from.rowLength + sx;
    r.srcRowLength = from.rowLength;
    r.dst = static_cast<uint32_t*>(to.pixels) + static_cast<intptr_t>(dy) * to.rowLength + dx;
    r.dstRowLength = to.rowLength;
    if (alpha) {
        const AlphaRows a = AlphaRowsOf(alpha, sx, sy);
        if (!a.data) return false;
        r.alpha = a.data + static_cast<intptr_t>(sy) * a.rowBytes + sx;
        r.alphaRowBytes = a.rowBytes;
    } else if (mask) {
        const MaskRows m = MaskRowsOf(mask, sx, sy);
        if (!m.data) return false;
        r.mask = m.data + static_cast<intptr_t>(sy) * m.rowBytes;
        r.maskRowBytes = m.rowBytes;
        r.maskBit = sx;
    }
    r.width = width;
    r.height = height;
    r.level = level;
    BlendRows32(r);
    return true;
}

// Whether every bit of (x, y, width, height) of a mask plane is set.
bool MaskRectAllSet(const qbBitmapPlane& plane, int32_t x, int32_t y, int32_t width, int32_t height) {
    if (!RectInside(plane.width, plane.height, x, y, width, height)) return false;
    const int32_t end = x + width;
    const int32_t headEnd = std::min(end, (x + 7) & ~7), tailStart = std::max(headEnd, end & ~7);
    for (int32_t row = y; row < y + height; ++row) {
        const uint8_t* bits = plane.data + static_cast<size_t>(row) * plane.rowBytes;
        for (int32_t col = x; col < headEnd; ++col)
            if (!(bits[col >> 3] & (0x80u >> (col & 7)))) return false;
        for (int32_t byte = headEnd >> 3; byte < tailStart >> 3; ++byte)
            if (bits[byte] != 0xFF) return false;
        for (int32_t col = tailStart; col < end; ++col)
            if (!(bits[col >> 3] & (0x80u >> (col & 7)))) return false;
    }
    return true;
}

// Whether the layer's image alone gives every pixel of the pass: drawn
// whole (no transparency, alpha plane, shadow, border or clip region), its
// shown image over all of the pass and its mask, if any, set there. What
// lies under it need not be drawn.
bool LayerHidesPass(ScriptState* L, qbLayer* layer, qbLayerState* s, const qbRect& pass) {
    if (layer->type == kLayerNoObject || layer->hidden || layer->pending || layer->transparency != 0 ||
        layer->shadow.shadow || layer->border.border || s->clipregion)
        return false;
    // 64-bit sums: a layer may lie anywhere in the coordinate range.
    int64_t sx = int64_t{pass.x} - s->shownx, sy = int64_t{pass.y} - s->showny;
    if (sx < 0 || sy < 0 || sx + pass.width > s->shownwidth || sy + pass.height > s->shownheight) return false;
    EnsureFilteredImage(L, layer, s, true);
    qbObjectImage image;
    int32_t w = 0, h = 0;
    if (GetLayerSourceImage(L, layer, s, true, true, &image, &w, &h) || !image.bitmap || image.alpha) return false;
    if (HasSourceOffset(layer->type) && !s->xfbitmap && image.bitmap != s->fxbitmap) {
        sx += s->srcx;
        sy += s->srcy;
    }
    if (sx < 0 || sy < 0 || sx + pass.width > std::min(w, image.bitmap->width) ||
        sy + pass.height > std::min(h, image.bitmap->height))
        return false;
    const qbBitmapPlane* mask = image.mask ? PlaneOf(image.mask) : nullptr;
    return !image.mask || (mask && MaskRectAllSet(*mask, static_cast<int32_t>(sx), static_cast<int32_t>(sy),
                                                  pass.width, pass.height));
}

// The first layer to draw: the topmost that hides the whole pass, or -1
// when the background shows somewhere.
ptrdiff_t FirstLayerToDraw(ScriptState* L, qbBGPic* bgpic, const qbRect& pass, bool base) {
    if (!bgpic->layers) return -1;
    const auto& layers = bgpic->layers->layers;
    for (auto i = static_cast<ptrdiff_t>(layers.size()) - 1; i >= 0; --i) {
        qbLayer* layer = layers[static_cast<size_t>(i)].get();
        if (LayerHidesPass(L, layer, base ? layer->transformedstate : layer->shownstate, pass)) return i;
    }
    return -1;
}

void DrawLayers(ScriptState* L, qbBGPic* bgpic, qbBitmap* dest, const qbRect& pass0, bool base,
                ptrdiff_t first = 0) {
    if (!bgpic->layers) return;
    const auto& all = bgpic->layers->layers;
    for (auto it = all.begin() + std::max<ptrdiff_t>(first, 0); it != all.end(); ++it) {
        const auto& owned = *it;
        qbLayer* layer = owned.get();
        if (layer->type == kLayerNoObject || layer->hidden || layer->pending) continue;
        qbLayerState* s = base ? layer->transformedstate : layer->shownstate;
        qbRect pass = pass0;
        if (const qbClipRegion* c = s->clipregion;
            c && !Intersect(pass0, qbRect{c->x, c->y, c->width, c->height}, &pass))
            continue;
        EnsureFilteredImage(L, layer, s, true);
        if (layer->shadow.shadow) DrawShadow(L, layer, s, dest, pass);
        if (layer->border.border) DrawBorder(L, layer, s, dest, pass);
        DrawImage(L, layer, s, dest, pass);
    }
}

// The sprites on top, in list order, each through the clip region it was
// shown with.
void DrawSpriteInstances(ScriptState* L, qbBGPic* bgpic, qbBitmap* dest, const qbRect& pass0, bool shownOnly) {
    for (const qbSpriteInstance* i = bgpic->spriteInstances.get(); i; i = i->next.get()) {
        if (i->displayState == -1 || (shownOnly && i->displayState == 0) || !i->sprite) continue;
        // Most sprites miss the rectangle: one test each, before any cutting.
        if (int64_t{i->x} + i->width <= pass0.x || i->x >= int64_t{pass0.x} + pass0.width ||
            int64_t{i->y} + i->height <= pass0.y || i->y >= int64_t{pass0.y} + pass0.height)
            continue;
        qbRect pass = pass0;
        const qbClipRegion* clip = i->clip;
        if (clip && !Intersect(pass0, qbRect{clip->x, clip->y, clip->width, clip->height}, &pass)) continue;
        qbRect part;
        if (!Intersect(pass, qbRect{i->x, i->y, i->width, i->height}, &part)) continue;
        qbObjectImage frame;
        if (GetSpriteFrameImage(i->sprite, i->frame, &frame.bitmap, &frame.mask, &frame.alpha) || !frame.bitmap)
            continue;
        const int32_t w = std::min(part.width, frame.bitmap->width - (part.x - i->x));
        const int32_t h = std::min(part.height, frame.bitmap->height - (part.y - i->y));
        if (w < 1 || h < 1) continue;
        DrawLayerImage(L, frame.bitmap, part.x - i->x, part.y - i->y, dest, part.x, part.y, w, h, frame.mask,
                       frame.alpha, 0, clip);
    }
}

}  // namespace

void DrawLayerImage(ScriptState* L, qbBitmap* src, int32_t sx, int32_t sy, qbBitmap* dest, int32_t dx, int32_t dy,
                    int32_t width, int32_t height, qbBitmap* mask, qbBitmap* alpha, int32_t transparency,
                    const qbClipRegion* clip) {
    if (transparency <= 0) {
        if (clip && clip->mask) {
            qbSafeBlt b;
            b.source = src;
            b.srcX = sx;
            b.srcY = sy;
            b.destination = dest;
            b.dstX = dx;
            b.dstY = dy;
            b.width = width;
            b.height = height;
            b.srcWidth = src->width;
            b.srcHeight = src->height;
            b.dstWidth = dest->width;
            b.dstHeight = dest->height;
            b.flags = kSafeBltDrawOnly | kSafeBltNoRefresh | kSafeBltNoSprites;
            b.mask = mask;
            b.alpha = alpha;
            b.clip = clip;
            SafeBlt(L, b);
        } else if (alpha) {
            if (!BlendPlain(src, sx, sy, dest, dx, dy, width, height, nullptr, alpha, 255))
                CopyBitmapRectAlpha(src, sx, sy, dest, dx, dy, width, height, alpha);
        } else if (mask) {
            CopyBitmapRectMasked(src, sx, sy, dest, dx, dy, width, height, mask);
        } else {
            CopyBitmapRect(src, sx, sy, dest, dx, dy, width, height);
        }
        return;
    }
    const int32_t level = 255 - std::min(transparency, 255);
    const int32_t aw = alpha ? alpha->width : 0, ah = alpha ? alpha->height : 0;
    if (!clip || !clip->mask) {
        if (!BlendPlain(src, sx, sy, dest, dx, dy, width, height, mask, alpha, static_cast<uint32_t>(level)))
            MixBitmaps(dest, src, mask, dx, dy, sx, sy, width, height, level, alpha, aw, ah);
        return;
    }
    // Through a clip mask: blend into a copy of the destination, then copy
    // that back through the clip region.
    BitmapPtr temp(AllocBitmap(width, height, 0, nullptr));
    if (!temp) return;
    CopyBitmapRect(dest, dx, dy, temp.get(), 0, 0, width, height);
    MixBitmaps(temp.get(), src, mask, 0, 0, sx, sy, width, height, level, alpha, aw, ah);
    DrawLayerImage(L, temp.get(), 0, 0, dest, dx, dy, width, height, nullptr, nullptr, 0, clip);
}

void DrawLayerImageIn(ScriptState* L, qbLayer* layer, qbLayerState* s, qbBitmap* dest, int32_t x, int32_t y,
                      int32_t width, int32_t height) {
    DrawImage(L, layer, s, dest, qbRect{x, y, width, height});
}

int GetLayerSourceImage(ScriptState* L, qbLayer* layer, qbLayerState* s, bool useTransformed, qbObjectImage* out,
                        int32_t* width, int32_t* height) {
    *out = {};
    if (layer->type == kLayerNoObject) return ERR_WRONGUSAGE;
    if (useTransformed && s->xfbitmap) {
        *out = {s->xfbitmap, s->xfmask, s->xfalpha};
        *width = s->shownwidth;
        *height = s->shownheight;
        return 0;
    }
    if (s->bitmap) {
        *out = {s->bitmap, s->mask, s->alpha};
        *width = s->bitmap->width;
        *height = s->bitmap->height;
        return 0;
    }
    switch (layer->type) {
    case kLayerBrush:
    case kLayerBrushPart: {
        qbBrush* b = nullptr;
        if (int err = GetBrushRecord(L, layer->id, &b, kBrushDetachedToo | kBrushHardwareToo)) return err;
        *out = {b->bitmap, b->mask, b->alpha};
        *width = b->width;
        *height = b->height;
        return 0;
    }
    case kLayerBGPicPart: {
        qbBGPic* p = nullptr;
        if (int err = GetBGPic(L, layer->id, &p, kBGPicPendingToo)) return err;
        *out = {p->base.bitmap, p->base.mask, p->base.alpha};
        *width = p->baseWidth;
        *height = p->baseHeight;
        return 0;
    }
    case kLayerTextObject: {
        const auto image = TextLayerHooks().objectImage;
        if (!image) return ERR_WRONGUSAGE;
        return image(L, layer->id, out, width, height);
    }
    case kLayerAnim: {
        const auto show = AnimObjectHooks().showFrame;
        if (!show) return ERR_WRONGUSAGE;
        qbImageTriple t;
        int32_t count = 0;
        if (int err = show(L, layer->id, s->srcx, true, &t, width, height, &count)) return err;
        *out = {t.bitmap, t.mask, t.alpha};
        return 0;
    }
    default: return ERR_WRONGUSAGE;
    }
}

int GetLayerSourceImage(ScriptState* L, qbLayer* layer, qbLayerState* s, bool useFiltered, bool useTransformed,
                        qbObjectImage* out, int32_t* width, int32_t* height) {
    if (useFiltered && layer->type != kLayerNoObject) {
        EnsureFilteredImage(L, layer, s, useTransformed);
        // A transformed image stands for the layer unless a filter moves
        // pixels, which the transformed image must then follow.
        const bool transformedWins = useTransformed && s->xfbitmap && !layer->hasgeometricfilter;
        if (s->fxbitmap && !transformedWins) {
            *out = {s->fxbitmap, s->fxmask, s->fxalpha};
            *width = s->fxbitmap->width;
            *height = s->fxbitmap->height;
            return 0;
        }
    }
    return GetLayerSourceImage(L, layer, s, useTransformed, out, width, height);
}

void EnsureFilteredImage(ScriptState* L, qbLayer* layer, qbLayerState* s, bool useTransformed) {
    if (s->fxbitmap || !HasActiveFilters(layer->filters)) return;
    qbObjectImage image;
    int32_t iw = 0, ih = 0;
    if (GetLayerSourceImage(L, layer, s, useTransformed, &image, &iw, &ih) || !image.bitmap) return;
    const bool offset = HasSourceOffset(layer->type) && !(useTransformed && s->xfbitmap);
    const int32_t ox = offset ? s->srcx : 0, oy = offset ? s->srcy : 0;
    if (ox < 0 || oy < 0 || ox >= iw || oy >= ih) return;
    const int32_t w = std::min(s->shownwidth, iw - ox), h = std::min(s->shownheight, ih - oy);
    if (w < 1 || h < 1) return;
    qbBitmap* bitmap = nullptr;
    qbBitmap* mask = nullptr;
    qbBitmap* alpha = nullptr;
    if (CloneBitmapRect(image.bitmap, image.mask, image.alpha, ox, oy, w, h, &bitmap, &mask, &alpha)) return;
    s->fxbitmap = bitmap;
    s->fxmask = mask;
    s->fxalpha = alpha;
    ApplyLayerFilters(layer->filters, bitmap, mask, alpha, w, h, false);
}

void FreeLayerFilterCaches(qbLayer* layer) {
    qbLayerState* states[3] = {layer->basestate, layer->transformedstate, layer->shownstate};
    for (int i = 0; i < 3; ++i) {
        qbLayerState* s = states[i];
        if (!s || (i > 0 && s == states[0]) || (i > 1 && s == states[1])) continue;
        FreeBitmap(s->fxbitmap);
        FreeMask(s->fxmask);
        FreeAlphaChannel(s->fxalpha);
        s->fxbitmap = s->fxmask = s->fxalpha = nullptr;
    }
}

bool HasSourceOffset(int32_t type) {
    return type == kLayerBrushPart || type == kLayerBGPicPart || type == kLayerVideo;
}

void FreeLayerStyleCaches(qbLayerState* s) {
    FreeBitmap(s->bdbitmap);
    FreeMask(s->bdmask);
    FreeAlphaChannel(s->bdalpha);
    FreeAlphaChannel(s->shadowalpha);
    s->bdbitmap = s->bdmask = s->bdalpha = s->shadowalpha = nullptr;
    s->bdwidth = s->bdheight = s->bdoffx = s->bdoffy = 0;
}

void RenderLayerBorder(ScriptState* L, qbLayer* layer, qbLayerState* s, int32_t* x, int32_t* y, int32_t* width,
                       int32_t* height) {
    const bool text = layer->type == kLayerTextObject || layer->type == kLayerTextOut || layer->type == kLayerPrint;
    if (!s->bdbitmap && text && layer->border.size < 8 && TextLayerHooks().renderBorder) {
        // Thin borders of text follow the glyphs' outline.
        qbObjectImage image;
        int32_t iw = 0, ih = 0;
        if (GetLayerSourceImage(L, layer, s, true, &image, &iw, &ih) == 0) {
            qbObjectImage made;
            int32_t bw = 0, bh = 0, offset = 0;
            if (TextLayerHooks().renderBorder(image.mask, image.alpha, s->shownwidth, s->shownheight,
                                              layer->border.size, layer->border.colour & 0xFFFFFFu, &made, &bw, &bh,
                                              &offset) == 0 &&
                made.bitmap) {
                s->bdbitmap = made.bitmap;
                s->bdmask = made.mask;
                s->bdalpha = made.alpha;
                s->bdwidth = bw;
                s->bdheight = bh;
                s->bdoffx = s->bdoffy = offset;
            } else {
                FreeObjectImage(&made);
            }
        }
    }
    // Shapes, and turned plain rectangles, get their borders drawn as shapes.
    if (!s->bdbitmap && ShapeDrawsBorder(L, layer)) RenderShapeBorder(L, layer, s);
    if (!s->bdbitmap && !ShapeOwnsBorder(layer)) {
        qbObjectImage image;
        int32_t iw = 0, ih = 0;
        if (GetLayerSourceImage(L, layer, s, true, &image, &iw, &ih) == 0) {
            const int32_t inset = layer->border.size;
            const int32_t w = s->shownwidth, h = s->shownheight;
            const bool offset = HasSourceOffset(layer->type) && !s->xfbitmap;
            // A border too wide for a bitmap is not drawn; the layer still is.
            const int64_t bw = w + 2 * int64_t{inset}, bh = h + 2 * int64_t{inset};
            BitmapPtr bitmap;
            if (bw <= INT32_MAX && bh <= INT32_MAX)
                bitmap.reset(AllocBitmap(static_cast<int32_t>(bw), static_cast<int32_t>(bh), 0, nullptr));
            qbBitmap* alpha = nullptr;
            if (bitmap) {
                FillBitmapRect(bitmap.get(), 0, 0, bitmap->width, bitmap->height, layer->border.colour & 0xFFFFFFu);
                if (image.mask || image.alpha)
                    BuildShadowMask(image.alpha, image.alpha ? nullptr : image.mask, offset ? s->srcx : 0,
                                    offset ? s->srcy : 0, w, h, inset, inset / 3.0, 255, true,
                                    layer->border.size > 3, &alpha);
                const int32_t opacity = 255 - static_cast<int32_t>(layer->border.colour >> 24);
                if (opacity != 255) {
                    if (!alpha) {
                        alpha = AllocAlphaChannel(bitmap->width, bitmap->height, false, nullptr, 0);
                        if (alpha)
                            FillAlphaPlane(AlphaRowsOf(alpha, 0, 0), alpha->width, alpha->height,
                                           static_cast<uint8_t>(opacity));
                    } else {
                        const AlphaRows rows = AlphaRowsOf(alpha, 0, 0);
                        MultiplyAlpha(rows, rows, alpha->width, alpha->height, static_cast<uint32_t>(opacity));
                    }
                }
                // The border follows an image that the filters reshape.
                if (layer->hasgeometricfilter)
                    ApplyLayerFilters(layer->filters, bitmap.get(), nullptr, alpha, bitmap->width, bitmap->height,
                                      true);
                s->bdwidth = bitmap->width;
                s->bdheight = bitmap->height;
                s->bdoffx = s->bdoffy = inset;
                s->bdbitmap = bitmap.release();
                s->bdalpha = alpha;
            }
        }
    }
    const int64_t left = int64_t{s->shownx} - s->bdoffx, top = int64_t{s->showny} - s->bdoffy;
    const qbRect r = RectFromEdges(left, top, left + s->bdwidth, top + s->bdheight);
    *x = r.x;
    *y = r.y;
    *width = r.width;
    *height = r.height;
}

void GetShadowRect(ScriptState*, qbLayer* layer, qbLayerState* s, int32_t* x, int32_t* y, int32_t* width,
                   int32_t* height) {
    // Radius, distance and position may each be near the 32-bit limits:
    // the sums are taken in 64 bits and the result cut to the coordinate limit.
    const int64_t r = ClampToInt32(layer->shadow.radius);
    int64_t left = s->shownx, top = s->showny, baseWidth = s->shownwidth, baseHeight = s->shownheight;
    if (layer->border.border && s->bdbitmap) {
        left -= s->bdoffx;
        top -= s->bdoffy;
        baseWidth = s->bdwidth;
        baseHeight = s->bdheight;
    }
    const qbDisplay* d = GetCurrentDisplay();
    const double fx = d ? d->scaleX : 1.0, fy = d ? d->scaleY : 1.0;
    const int64_t dx = ClampToInt32(layer->shadow.size * fx);
    const int64_t dy = ClampToInt32(layer->shadow.size * fy);
    int64_t mx = 0, my = 0;
    switch (layer->shadow.dir) {
    case 0: my = -dy; break;
    case 1: my = -dy; mx = dx; break;
    case 2: mx = dx; break;
    case 3: mx = dx; my = dy; break;
    case 4: my = dy; break;
    case 5: my = dy; mx = -dx; break;
    case 6: mx = -dx; break;
    case 7: mx = -dx; my = -dy; break;
    default: break;
    }
    left += mx - r;
    top += my - r;
    const qbRect rect = RectFromEdges(left, top, left + baseWidth + 2 * r, top + baseHeight + 2 * r);
    *x = rect.x;
    *y = rect.y;
    *width = rect.width;
    *height = rect.height;
}

void RedrawLayers(ScriptState* L, qbDisplay* display, qbBGPic* bgpic, qbBitmap* dest, int32_t x, int32_t y,
                  int32_t width, int32_t height, uint32_t flags) {
    if (width < 1 || height < 1) {
        ConsolePrintf("ERROR! REDRAW CALLED WITH WIDTH/HEIGHT <= 0\n");
        return;
    }
    if (x < 0 || y < 0) {
        ConsolePrintf("ERROR! REDRAW CALLED WITH NEGATIVE X/Y COORDINATES\n");
        return;
    }
    if (!dest) {
        ConsolePrintf("ERROR! REDRAW CALLED WITHOUT DSTBM\n");
        return;
    }
    const bool base = flags & kRedrawBaseSize;
    const int32_t bw = base ? bgpic->baseWidth : bgpic->currentWidth;
    const int32_t bh = base ? bgpic->baseHeight : bgpic->currentHeight;
    width = std::min({width, bw - x, dest->width - x});
    height = std::min({height, bh - y, dest->height - y});
    if (width < 1 || height < 1) return;
    const qbRect pass0{x, y, width, height};
    if (!(flags & (kRedrawSpritesOnly | kRedrawSpritesShown))) {
        // A layer that hides the whole rectangle spares drawing what lies
        // under it (a layer effect's frames redraw such rectangles).
        const ptrdiff_t first = FirstLayerToDraw(L, bgpic, pass0, base);
        qbBitmap* bg = first < 0 ? Background(display, bgpic, flags) : nullptr;
        if (bg && bg != dest)
            CopyBitmapRect(bg, x, y, dest, x, y, std::min(width, bg->width - x), std::min(height, bg->height - y));
        DrawLayers(L, bgpic, dest, pass0, base, first);
    }
    if (!(flags & kRedrawNoSprites)) DrawSpriteInstances(L, bgpic, dest, pass0, (flags & kRedrawSpritesShown) != 0);
}

namespace {

using RowLayer = qbLayerRowWalk::Layer;

bool Disjoint(const qbRect* rects, int32_t count) {
    for (int32_t i = 0; i < count; ++i)
        for (int32_t j = i + 1; j < count; ++j)
            if (IntersectRects(rects[i], rects[j]).width > 0) return false;
    return true;
}

bool SpritesNear(const qbBGPic* bgpic, const qbRect& box) {
    for (const qbSpriteInstance* i = bgpic->spriteInstances.get(); i; i = i->next.get())
        if (i->displayState != -1 && IntersectRects(box, qbRect{i->x, i->y, i->width, i->height}).width > 0)
            return true;
    return false;
}

// False when the layer needs the general redraw.
bool TakeRowLayer(ScriptState* L, qbLayer* layer, const qbRect& box, uint32_t format, std::vector<RowLayer>* out) {
    qbLayerState* s = layer->shownstate;
    if (layer->shadow.shadow || layer->border.border) return false;
    const qbRect shown{s->shownx, s->showny, s->shownwidth, s->shownheight};
    qbRect part;
    if (!Intersect(shown, box, &part)) return true;
    if (layer->transparency || s->clipregion || s->fxbitmap || HasActiveFilters(layer->filters)) return false;
    qbObjectImage image;
    int32_t w = 0, h = 0;
    if (GetLayerSourceImage(L, layer, s, true, &image, &w, &h)) return true;  // draws nothing there either
    qbPixelView view;
    if (!image.bitmap || !PeekPlainPixels(image.bitmap, &view) || view.bytesPerPixel != 4 || view.pixelFormat != format)
        return false;
    RowLayer r;
    r.offX = -shown.x, r.offY = -shown.y;
    if (HasSourceOffset(layer->type) && !s->xfbitmap) {
        r.offX += s->srcx;
        r.offY += s->srcy;
    }
    // What lies inside the image: DrawImage cuts the part to it.
    if (int64_t{part.x} + r.offX < 0 || int64_t{part.y} + r.offY < 0) return false;
    const int64_t x0 = part.x, y0 = part.y;
    const int64_t x1 = std::min<int64_t>(int64_t{part.x} + part.width, int64_t{w} - r.offX);
    const int64_t y1 = std::min<int64_t>(int64_t{part.y} + part.height, int64_t{h} - r.offY);
    if (x1 <= x0 || y1 <= y0) return true;
    r.area = qbRect{static_cast<int32_t>(x0), static_cast<int32_t>(y0), static_cast<int32_t>(x1 - x0),
                    static_cast<int32_t>(y1 - y0)};
    r.pixels = static_cast<const uint32_t*>(view.pixels);
    r.rowLength = view.rowLength;
    if (image.alpha) {
        const AlphaRows a = AlphaRowsOf(image.alpha, 0, 0);
        if (!a.data) return false;
        r.alpha = a.data, r.planeRowBytes = a.rowBytes;
    } else if (image.mask) {
        const MaskRows m = MaskRowsOf(image.mask, 0, 0);
        if (!m.data) return false;
        r.mask = m.data, r.planeRowBytes = m.rowBytes;
    }
    out->push_back(r);
    return true;
}

void DrawRowSpan(const RowLayer& l, uint32_t* dstRow, int32_t x, int32_t y, int32_t width) {
    const int32_t sx = x + l.offX, sy = y + l.offY;
    const uint32_t* from = l.pixels + static_cast<intptr_t>(sy) * l.rowLength + sx;
    uint32_t* to = dstRow + x;
    if (l.alpha) {
        qbBlendRows b;
        b.src = from;
        b.dst = to;
        b.alpha = l.alpha + static_cast<intptr_t>(sy) * l.planeRowBytes + sx;
        b.width = width;
        b.height = 1;
        BlendRows32(b);
    } else if (l.mask) {
        // Whole mask bytes, all set or all clear, take eight pixels at once.
        const uint8_t* bits = l.mask + static_cast<intptr_t>(sy) * l.planeRowBytes;
        for (int32_t i = 0; i < width;) {
            const int32_t bit = sx + i;
            const uint8_t byte = bits[bit >> 3];
            if ((bit & 7) == 0 && width - i >= 8 && (byte == 0 || byte == 0xFF)) {
                if (byte) std::memcpy(to + i, from + i, 32);
                i += 8;
                continue;
            }
            if (byte & (0x80u >> (bit & 7))) to[i] = from[i];
            ++i;
        }
    } else if (width == 1) {
        *to = *from;
    } else {
        std::memcpy(to, from, static_cast<size_t>(width) * 4);
    }
}

}  // namespace

bool PrepareLayerRowWalk(ScriptState* L, qbDisplay* display, qbBGPic* bgpic, qbBitmap* dest, const qbRect* rects,
                         int32_t count, qbLayerRowWalk* walk) {
    if (!dest || count < 1 || GetBlitRoute()) return false;
    const int32_t right = std::min(bgpic->currentWidth, dest->width), bottom = std::min(bgpic->currentHeight, dest->height);
    std::vector<qbRect>& cut = walk->cut;
    cut.clear();
    walk->layers.clear();
    walk->box = {};
    cut.reserve(static_cast<size_t>(count));
    int64_t x1 = INT64_MAX, y1 = INT64_MAX, x2 = INT64_MIN, y2 = INT64_MIN;
    for (int32_t i = 0; i < count; ++i) {
        const qbRect& r = rects[i];
        if (r.x < 0 || r.y < 0) return false;
        qbRect c;
        if (!Intersect(r, qbRect{0, 0, right, bottom}, &c)) continue;
        cut.push_back(c);
        x1 = std::min<int64_t>(x1, c.x), y1 = std::min<int64_t>(y1, c.y);
        x2 = std::max<int64_t>(x2, int64_t{c.x} + c.width), y2 = std::max<int64_t>(y2, int64_t{c.y} + c.height);
    }
    if (cut.empty()) return true;
    const qbRect box{static_cast<int32_t>(x1), static_cast<int32_t>(y1), static_cast<int32_t>(x2 - x1),
                     static_cast<int32_t>(y2 - y1)};
    qbPixelView to, bgView;
    qbBitmap* bg = Background(display, bgpic, 0);
    if (!PeekPlainPixels(dest, &to) || to.bytesPerPixel != 4) return false;
    if (bg && bg != dest && (!PeekPlainPixels(bg, &bgView) || bgView.bytesPerPixel != 4 ||
                             bgView.pixelFormat != to.pixelFormat || bg->width < right || bg->height < bottom))
        return false;
    if (SpritesNear(bgpic, box) || !Disjoint(cut.data(), static_cast<int32_t>(cut.size()))) return false;
    if (bgpic->layers) {
        for (const auto& owned : bgpic->layers->layers) {
            qbLayer* layer = owned.get();
            if (layer->type == kLayerNoObject || layer->hidden || layer->pending) continue;
            if (!TakeRowLayer(L, layer, box, to.pixelFormat, &walk->layers)) return false;
        }
    }
    walk->box = box;
    walk->dstPixels = static_cast<uint32_t*>(to.pixels);
    walk->dstRowLength = to.rowLength;
    walk->bgPixels = bg && bg != dest ? static_cast<const uint32_t*>(bgView.pixels) : nullptr;
    walk->bgRowLength = bgView.rowLength;
    return true;
}

void DrawLayerRowWalk(const qbLayerRowWalk& walk, int32_t from, int32_t to) {
    from = std::max(from, walk.box.y);
    to = std::min<int32_t>(to, walk.box.y + walk.box.height);
    const std::vector<qbRect>& cut = walk.cut;
    for (int32_t y = from; y < to; ++y) {
        uint32_t* dstRow = walk.dstPixels + static_cast<intptr_t>(y) * walk.dstRowLength;
        if (walk.bgPixels) {
            const uint32_t* bgRow = walk.bgPixels + static_cast<intptr_t>(y) * walk.bgRowLength;
            for (const qbRect& r : cut) {
                if (y < r.y || y - r.y >= r.height) continue;
                if (r.width == 1) dstRow[r.x] = bgRow[r.x];
                else std::memcpy(dstRow + r.x, bgRow + r.x, static_cast<size_t>(r.width) * 4);
            }
        }
        for (const RowLayer& l : walk.layers) {
            if (y < l.area.y || y - l.area.y >= l.area.height) continue;
            for (const qbRect& r : cut) {
                if (y < r.y || y - r.y >= r.height) continue;
                const int32_t a = std::max(r.x, l.area.x), b = std::min(r.x + r.width, l.area.x + l.area.width);
                if (a < b) DrawRowSpan(l, dstRow, a, y, b - a);
            }
        }
    }
}

bool RedrawLayerRects(ScriptState* L, qbDisplay* display, qbBGPic* bgpic, qbBitmap* dest, const qbRect* rects,
                      int32_t count) {
    qbLayerRowWalk walk;
    if (!PrepareLayerRowWalk(L, display, bgpic, dest, rects, count, &walk)) return false;
    DrawLayerRowWalk(walk, walk.box.y, walk.box.y + walk.box.height);
    return true;
}
