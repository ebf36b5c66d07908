// The direct box path and its image fallback. Straight into the output a
// box costs a few rectangle fills; everything the output cannot take that
// way (layers, transparency the display cannot blend, masked clip regions,
// sprites or video over the box) goes through images instead.
#include "draw/boxdirect.h"

#include <algorithm>

#include "core/errcodes.h"
#include "display/adapter.h"
#include "display/bgpics.h"
#include "display/clipregions.h"
#include "display/display.h"
#include "display/displays.h"
#include "display/output.h"
#include "display/safeblt.h"
#include "draw/draw.h"
#include "draw/outline.h"
#include "draw/texturefill.h"
#include "imaging/bitmap.h"
#include "imaging/bitmapfilters.h"
#include "imaging/blit.h"
#include "imaging/geometry.h"
#include "objects/dirtyrects.h"
#include "objects/selection.h"

namespace {

uint32_t AlphaByte(uint32_t colour) { return colour >> 24; }

// The pixels, mask and alpha plane a rectangle goes into, and what the
// planes get there.
struct Output {
    qbDisplay* display = nullptr;
    qbBitmap* bitmap = nullptr;
    qbBitmap* mask = nullptr;
    qbBitmap* alpha = nullptr;
    int maskMode = kMaskVisible;
    bool onDisplay = false;
};

void FillOne(const Output& o, const qbRect& r, uint32_t colour, int alphaValue) {
    if (r.width < 1 || r.height < 1) return;
    const uint32_t t = AlphaByte(colour), rgb = colour & 0xFFFFFF;
    if (o.bitmap) {
        if (t) TintBitmap(o.bitmap, r.x, r.y, r.width, r.height, rgb, static_cast<int32_t>(255 - t));
        else FillBitmapRect(o.bitmap, r.x, r.y, r.width, r.height, rgb);
    }
    if (o.onDisplay) {
        qbDisplay* d = o.display;
        // No sprite lies over the box, so the composed picture takes what
        // the picture buffer took: a fill writes it without reading.
        if (d->backBuffer && d->backBuffer.get() != o.bitmap) {
            if (t) CopyBitmapRect(o.bitmap, r.x, r.y, d->backBuffer.get(), r.x, r.y, r.width, r.height);
            else FillBitmapRect(d->backBuffer.get(), r.x, r.y, r.width, r.height, rgb);
        }
        // An adapter that blends gets the colour with its alpha byte.
        FillDisplayRect(d, r.x, r.y, r.width, r.height, t ? colour : rgb);
    }
    if (o.mask) FillMaskRect(o.mask, r.x, r.y, r.width, r.height, o.maskMode);
    if (o.alpha) FillAlphaRect(o.alpha, r.x, r.y, r.width, r.height, static_cast<uint8_t>(alphaValue));
}

// The sides of the clipped box that the clip left in place.
void FrameClipped(const Output& o, const qbRect& r, uint32_t cut, uint32_t colour, int alphaValue) {
    if (!(cut & kCutTop)) FillOne(o, {r.x, r.y, r.width, 1}, colour, alphaValue);
    if (!(cut & kCutBottom) && r.height > 1) FillOne(o, {r.x, r.y + r.height - 1, r.width, 1}, colour, alphaValue);
    if (r.height > 2) {
        if (!(cut & kCutLeft)) FillOne(o, {r.x, r.y + 1, 1, r.height - 2}, colour, alphaValue);
        if (!(cut & kCutRight) && r.width > 1)
            FillOne(o, {r.x + r.width - 1, r.y + 1, 1, r.height - 2}, colour, alphaValue);
    }
}

struct Rects {
    qbRect shadow, edge, box;
};

Rects PlaceRects(const qbBoxRequest& b, const qbDrawState& s, bool edge, bool shadow) {
    const int32_t e = edge ? s.edgeSize : 0;
    Rects r;
    r.box = {b.x, b.y, b.width, b.height};
    r.edge = RectFromEdges(int64_t{b.x} - e, int64_t{b.y} - e, int64_t{b.x} + b.width + e, int64_t{b.y} + b.height + e);
    if (shadow) {
        const qbShadowPlacement p = ShadowOffsets(s.shadowSize, s.shadowDirection);
        r.shadow = RectFromEdges(int64_t{r.edge.x} + p.shadowX - p.shapeX, int64_t{r.edge.y} + p.shadowY - p.shapeY,
                                 int64_t{r.edge.x} + p.shadowX - p.shapeX + r.edge.width,
                                 int64_t{r.edge.y} + p.shadowY - p.shapeY + r.edge.height);
    }
    return r;
}

bool CanDrawDirect(const qbBoxRequest& b, const qbDrawState& s, const qbDisplay* d, const qbOutputView& out,
                   bool edge, bool shadow, const qbRect& clip) {
    const int32_t kind = d->output.type;
    const bool offscreen = kind == kOutputBrush || kind == kOutputMask || kind == kOutputAlphaChannel;
    const bool display = kind == kObjectTypeDisplay && !d->layersEnabled;
    if (!offscreen && !display) return false;
    if (display && (edge || shadow || s.fillStyle == FILLTEXTURE)) return false;
    if (kind == kOutputBrush && (edge || shadow) &&
        (AlphaByte(b.colour) || (edge && AlphaByte(s.edgeColour)) || (shadow && AlphaByte(s.shadowColour))))
        return false;
    if (display && AlphaByte(b.colour) &&
        !(HasDisplayAdapter() && (DisplayAdapter().drawFlags & kAdapterDrawAlpha)))
        return false;
    if (b.filtersOrEffects || b.antialias) return false;
    if (out.clip && *out.clip && (*out.clip)->mask) return false;
    if (IsVideoOnDisplay(d)) return false;
    if (const qbBGPic* pic = GetCurrentBGPic(); pic && RectOverlapsSprites(pic, b.x, b.y, b.width, b.height))
        return false;
    if (s.fillStyle == FILLGRADIENT || s.fillStyle == FILLTEXTURE) {
        const qbBitmap* pixels = kind == kObjectTypeDisplay ? d->spriteFreeBuffer.get() : d->output.bitmap;
        if (!pixels) return false;
        qbRect r{b.x, b.y, b.width, b.height};
        uint32_t cut = 0;
        ClipRectFlags(&r.x, &r.y, &r.width, &r.height, clip.x, clip.y, clip.width, clip.height, &cut);
        if (s.fillStyle == FILLGRADIENT && cut) return false;
        if (s.fillStyle == FILLTEXTURE && (cut & (kCutLeft | kCutTop))) return false;
    }
    return true;
}

int DrawDirect(ScriptState* L, const qbBoxRequest& b, const qbDrawState& s, qbDisplay* d, const qbRect& clip,
               bool edge, bool shadow) {
    const int32_t kind = d->output.type;
    Output o;
    o.display = d;
    const bool colourSelected = kind == kOutputBrush;
    o.onDisplay = kind == kObjectTypeDisplay;
    o.bitmap = o.onDisplay ? d->spriteFreeBuffer.get() : colourSelected ? d->output.bitmap : nullptr;
    if (o.onDisplay && !o.bitmap) return kBoxDrawnDirectly;  // a display that is not open has nothing to draw into
    if (!o.onDisplay) {
        o.mask = d->output.mask;
        o.alpha = d->output.alpha;
    }
    const int32_t modeSet = GetDrawMaskMode();
    o.maskMode = colourSelected || modeSet < 0 ? kMaskVisible : modeSet;
    const int32_t intensity = GetDrawAlphaIntensity();
    const auto planeAlpha = [&](uint32_t colour) {
        const int opacity = static_cast<int>(255 - AlphaByte(colour));
        return colourSelected || intensity < 0 ? opacity : std::min(255, static_cast<int>(intensity));
    };
    const Rects rects = PlaceRects(b, s, edge, shadow);
    qbRect drawn{0, 0, 0, 0};
    bool any = false;
    const auto join = [&](const qbRect& r) {
        if (r.width < 1 || r.height < 1) return;
        drawn = any ? RectFromEdges(std::min(drawn.x, r.x), std::min(drawn.y, r.y),
                                    std::max<int64_t>(int64_t{drawn.x} + drawn.width, int64_t{r.x} + r.width),
                                    std::max<int64_t>(int64_t{drawn.y} + drawn.height, int64_t{r.y} + r.height))
                    : r;
        any = true;
    };
    const auto clipped = [&](qbRect r, uint32_t* cut) {
        *cut = 0;
        if (!ClipRectFlags(&r.x, &r.y, &r.width, &r.height, clip.x, clip.y, clip.width, clip.height, cut))
            r.width = r.height = 0;
        return r;
    };
    uint32_t cut = 0;
    if (shadow) {
        const qbRect r = clipped(rects.shadow, &cut);
        FillOne(o, r, s.shadowColour, planeAlpha(s.shadowColour));
        join(r);
    }
    if (edge) {
        const qbRect r = clipped(rects.edge, &cut);
        FillOne(o, r, s.edgeColour, planeAlpha(s.edgeColour));
        join(r);
    }
    const qbRect r = clipped(rects.box, &cut);
    if (r.width > 0 && r.height > 0) {
        const int alphaValue = planeAlpha(b.colour);
        switch (s.fillStyle) {
        case FILLNONE: FrameClipped(o, r, cut, b.colour, alphaValue); break;
        case FILLGRADIENT:
        case FILLTEXTURE: {
            // The planes as for a colour; the pixels from the source.
            Output planes = o;
            planes.bitmap = nullptr;
            planes.onDisplay = false;
            FillOne(planes, r, b.colour, alphaValue);
            if (o.bitmap) {
                if (s.fillStyle == FILLGRADIENT) {
                    if (int err = DrawGradient(o.bitmap, r.x, r.y, r.width, r.height, &s.gradient)) return err;
                } else if (int err = FillTextureRect(L, o.bitmap, b.x, b.y, r.width + (r.x - b.x),
                                                     r.height + (r.y - b.y), s, b.matrix, false)) {
                    return err;
                }
            }
            break;
        }
        default: FillOne(o, r, b.colour, alphaValue); break;
        }
        join(r);
    }
    if (any && d->softDoubleBuffer) AddDirtyRect(L, drawn.x, drawn.y, drawn.width, drawn.height);
    return kBoxDrawnDirectly;
}

}  // namespace

qbBitmap* NewBoxBitmap(int32_t width, int32_t height) { return AllocBitmap(width, height, 0, nullptr); }
qbBitmap* NewBoxMask(int32_t width, int32_t height) { return AllocMask(nullptr, width, height, true, nullptr, 0); }
qbBitmap* NewBoxAlpha(int32_t width, int32_t height) { return AllocAlphaChannel(width, height, true, nullptr, 0); }

qbBoxImageAllocators& BoxImageAllocators() {
    static qbBoxImageAllocators allocators;
    return allocators;
}

int AllocBlockImages(int64_t blockW, int64_t blockH, const qbDrawState& s, bool shadow, bool withAlpha,
                     qbBlockImages* out) {
    const qbShadowPlacement p = shadow ? ShadowOffsets(s.shadowSize, s.shadowDirection) : qbShadowPlacement{};
    const int64_t imageW = blockW + std::max(p.shapeX, p.shadowX), imageH = blockH + std::max(p.shapeY, p.shadowY);
    if (imageW > INT32_MAX || imageH > INT32_MAX) return ERR_BITMAP;
    const auto w = static_cast<int32_t>(imageW), h = static_cast<int32_t>(imageH);
    const qbBoxImageAllocators& alloc = BoxImageAllocators();
    qbBlockImages made;
    made.bitmap.reset(alloc.bitmap(w, h));
    if (!made.bitmap) return ERR_BITMAP;
    FillBitmapRect(made.bitmap.get(), 0, 0, w, h, 0);
    if (withAlpha) {
        made.alpha.reset(alloc.alpha(w, h));
        if (!made.alpha) return ERR_ALLOCALPHA;
    } else {
        made.mask.reset(alloc.mask(w, h));
        if (!made.mask) return ERR_ALLOCMASK;
    }
    made.width = w;
    made.height = h;
    made.place = p;
    *out = std::move(made);
    return 0;
}

void DrawRectFrame(qbBitmap* target, int32_t x, int32_t y, int32_t width, int32_t height, qbBitmap* mask,
                   qbBitmap* alpha, uint32_t colour, uint32_t alphaByte, bool filled) {
    Output o;
    o.bitmap = target;
    o.mask = mask;
    o.alpha = alpha;
    // A new image takes the colour outright; its transparency is the
    // alpha plane's.
    const int opacity = static_cast<int>(255 - std::min<uint32_t>(alphaByte, 255));
    if (filled) FillOne(o, {x, y, width, height}, colour & 0xFFFFFF, opacity);
    else FrameClipped(o, {x, y, width, height}, 0, colour & 0xFFFFFF, opacity);
}

int DrawBoxDirect(ScriptState* L, const qbBoxRequest& b, const qbDrawState& s, qbBoxImages* images) {
    *images = {};
    if (b.width < 1 || b.height < 1) return 0;
    const bool edge = (s.formStyle & kFormEdge) != 0;
    const bool shadow = (s.formStyle & kFormShadow) != 0;
    if (qbDisplay* d = GetCurrentDisplay()) {
        const int32_t kind = d->output.type;
        if (kind == kOutputBrush || kind == kOutputMask || kind == kOutputAlphaChannel)
            if (int err = PrepareOutputTarget(L)) return err;
        const qbOutputView out = GetCurrentOutput();
        qbRect clip{0, 0, out.width, out.height};
        if (out.clip && *out.clip)
            clip = IntersectRects(clip, {(*out.clip)->x, (*out.clip)->y, (*out.clip)->width, (*out.clip)->height});
        if (CanDrawDirect(b, s, d, out, edge, shadow, clip)) return DrawDirect(L, b, s, d, clip, edge, shadow);
    }

    // The image path: sizes grown by edge and shadow are reckoned in 64 bits
    // so that a huge box fails to allocate instead of wrapping round.
    const int64_t e = edge ? s.edgeSize : 0;
    const int64_t blockW = int64_t{b.width} + 2 * e, blockH = int64_t{b.height} + 2 * e;
    const bool withAlpha = b.antialias || AlphaByte(b.colour) || (edge && AlphaByte(s.edgeColour)) ||
                           (shadow && AlphaByte(s.shadowColour));
    qbBlockImages made;
    if (int err = AllocBlockImages(blockW, blockH, s, shadow, withAlpha, &made)) return err;
    BitmapPtr &bitmap = made.bitmap, &mask = made.mask, &alpha = made.alpha;
    const qbShadowPlacement& p = made.place;
    const int32_t w = made.width, h = made.height;
    const bool filled = s.fillStyle != FILLNONE;
    if (shadow)
        DrawRectFrame(bitmap.get(), p.shadowX, p.shadowY, static_cast<int32_t>(blockW), static_cast<int32_t>(blockH),
                      mask.get(), alpha.get(), s.shadowColour, AlphaByte(s.shadowColour), filled);
    if (edge)
        DrawRectFrame(bitmap.get(), p.shapeX, p.shapeY, static_cast<int32_t>(blockW), static_cast<int32_t>(blockH),
                      mask.get(), alpha.get(), s.edgeColour, AlphaByte(s.edgeColour), filled);
    const int32_t bx = p.shapeX + static_cast<int32_t>(e), by = p.shapeY + static_cast<int32_t>(e);
    if (s.fillStyle == FILLGRADIENT || s.fillStyle == FILLTEXTURE) {
        DrawRectFrame(nullptr, bx, by, b.width, b.height, mask.get(), alpha.get(), b.colour, AlphaByte(b.colour), true);
        const int err = s.fillStyle == FILLGRADIENT
                            ? DrawGradient(bitmap.get(), bx, by, b.width, b.height, &s.gradient)
                            : FillTextureRect(L, bitmap.get(), bx, by, b.width, b.height, s, b.matrix, false);
        if (err) return err;
    } else {
        DrawRectFrame(bitmap.get(), bx, by, b.width, b.height, mask.get(), alpha.get(), b.colour, AlphaByte(b.colour),
                      filled);
    }
    images->bitmap = bitmap.release();
    images->mask = mask.release();
    images->alpha = alpha.release();
    images->width = w;
    images->height = h;
    images->blockX = p.shapeX;
    images->blockY = p.shapeY;
    images->shapeX = bx;
    images->shapeY = by;
    images->shapeWidth = b.width;
    images->shapeHeight = b.height;
    return 0;
}
