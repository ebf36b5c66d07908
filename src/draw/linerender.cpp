// The line renderer: 1-pixel lines straight onto the display or into a
// selected brush, everything else (thick, anti-aliased, transparent,
// turned, or under sprites) through an image of the line's box.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <new>

#include "core/errcodes.h"
#include "core/numbers.h"
#include "display/adapter.h"
#include "display/bgpics.h"
#include "display/clipregions.h"
#include "display/display.h"
#include "display/displays.h"
#include "display/output.h"
#include "display/positions.h"
#include "display/refresh.h"
#include "draw/bitmapline.h"
#include "draw/boxdirect.h"
#include "draw/shape.h"
#include "draw/shapefill.h"
#include "imaging/bitmap.h"
#include "imaging/geometry.h"
#include "objects/dirtyrects.h"
#include "objects/objectoptions.h"
#include "objects/objecttransform.h"
#include "objects/selection.h"

namespace {

constexpr int32_t kMaxLineThickness = 64;

bool IsOffscreen(int32_t kind) { return kind == kOutputBrush || kind == kOutputMask || kind == kOutputAlphaChannel; }

bool AdapterTakesAlpha() { return HasDisplayAdapter() && (DisplayAdapter().drawFlags & kAdapterDrawAlpha) != 0; }

// The clip rectangle of the current output.
qbRect OutputClip(const qbOutputView& out) {
    qbRect clip{0, 0, out.width, out.height};
    if (out.clip && *out.clip)
        clip = IntersectRects(clip, {(*out.clip)->x, (*out.clip)->y, (*out.clip)->width, (*out.clip)->height});
    return clip;
}

// Cut to the clip's columns, then (the axes swapped) to its rows.
bool ClipToRect(const qbRect& clip, double* x0, double* y0, double* x1, double* y1) {
    if (clip.width < 1 || clip.height < 1) return false;
    if (!ClipSegmentToColumns(x0, y0, x1, y1, clip.x, static_cast<double>(clip.x) + clip.width - 1)) return false;
    return ClipSegmentToColumns(y0, x0, y1, x1, clip.y, static_cast<double>(clip.y) + clip.height - 1);
}

// 1 when drawn directly, 0 when the image path must take it.
int DrawOnDisplay(ScriptState* L, qbDisplay* d, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour) {
    const qbOutputView out = GetCurrentOutput();
    if (out.clip && *out.clip && (*out.clip)->mask) return 0;
    if (IsVideoOnDisplay(d)) return 0;
    double a = x1, b = y1, c = x2, e = y2;
    if (!ClipToRect(OutputClip(out), &a, &b, &c, &e)) return 1;
    const int32_t cx1 = ClampToInt32(std::lround(a)), cy1 = ClampToInt32(std::lround(b));
    const int32_t cx2 = ClampToInt32(std::lround(c)), cy2 = ClampToInt32(std::lround(e));
    const int32_t left = std::min(cx1, cx2), top = std::min(cy1, cy2);
    const int32_t w = std::abs(cx2 - cx1) + 1, h = std::abs(cy2 - cy1) + 1;
    if (const qbBGPic* pic = GetCurrentBGPic(); pic && RectOverlapsSprites(pic, left, top, w, h)) return 0;
    qbBitmap* buffer = d->spriteFreeBuffer.get();
    if (!buffer) return 1;
    const uint32_t rgb = colour & 0xFFFFFF;
    DrawBitmapLine(buffer, cx1, cy1, cx2, cy2, rgb);
    if (d->backBuffer && d->backBuffer.get() != buffer) DrawBitmapLine(d->backBuffer.get(), cx1, cy1, cx2, cy2, rgb);
    if (d->softDoubleBuffer)
        AddDirtyRect(L, left, top, w, h);
    else
        DrawDisplayLine(d, cx1, cy1, cx2, cy2, colour >> 24 ? colour : rgb);
    return 1;
}

// Straight into a selected brush without planes; 0 when the image path
// must take it.
int DrawIntoBrush(ScriptState* L, qbDisplay* d, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour,
                  bool aa) {
    if (d->output.type != kOutputBrush || !d->output.bitmap || d->output.mask || d->output.alpha) return 0;
    const qbOutputView out = GetCurrentOutput();
    const qbRect clip = OutputClip(out);
    qbShapeFill f;
    f.target = d->output.bitmap;
    f.width = out.width;
    f.height = out.height;
    f.line[0] = x1;
    f.line[1] = y1;
    f.line[2] = x2;
    f.line[3] = y2;
    f.colour = colour & 0xFFFFFF;
    f.alphaByte = colour >> 24;
    f.antialias = aa;
    qbClipRegion region;
    region.x = clip.x;
    region.y = clip.y;
    region.width = clip.width;
    region.height = clip.height;
    region.mask = out.clip && *out.clip ? (*out.clip)->mask : nullptr;
    f.clip = &region;
    if (int err = FillShapeCoverage(f)) return -err;
    if (d->softDoubleBuffer)
        AddDirtyRect(L, std::min(x1, x2), std::min(y1, y2), std::abs(int64_t{x2} - x1) + 1,
                     std::abs(int64_t{y2} - y1) + 1);
    return 1;
}

}  // namespace

int DrawLineCore(ScriptState* L, qbLayer* layer, const qbDrawState* state, int32_t x1, int32_t y1, int32_t x2,
                 int32_t y2, uint32_t colour, int32_t thickness, qbTransformOptions* topts, qbLayerOptions* lopts,
                 uint32_t flags, qbShapeOutput* out) {
    (void)layer;
    qbDisplay* d = GetCurrentDisplay();
    if (!d) return ERR_FINDDISPLAY;
    const bool rerender = (flags & kShapeRerender) != 0;
    if (rerender && !out) return ERR_WRONGUSAGE;
    if (!rerender && IsOffscreen(d->output.type))
        if (int err = PrepareOutputTarget(L)) return err;
    x1 = ResolveSpecialX(x1, 1, 0, topts->anchorx);
    y1 = ResolveSpecialY(y1, 1, 0, topts->anchory);
    x2 = ResolveSpecialX(x2, 1, 0, topts->anchorx);
    y2 = ResolveSpecialY(y2, 1, 0, topts->anchory);
    const bool layered = d->layersEnabled && !rerender;
    // A turned line layer is drawn untransformed first; the layer system
    // draws it again under its matrix.
    static constexpr double kIdentity[4] = {1.0, 0.0, 0.0, 1.0};
    const double* m = layered ? kIdentity : topts->matrix;
    std::shared_ptr<qbShapeLayerData> data;
    if (layered) {
        if (const uint32_t t = colour >> 24; t && !(flags & kShapeRecreate)) {
            lopts->transparency = static_cast<int32_t>(t);
            lopts->needseffects = 1;
            colour &= 0xFFFFFF;
        }
        try {
            data = std::make_shared<qbShapeLayerData>();
        } catch (const std::bad_alloc&) {
            return ERR_MEM;
        }
        data->type = kShapeLine;
        data->state = *state;
        data->colour = colour;
        data->thickness = thickness;
    }
    if (!IsIdentityMatrix(m)) {
        const int64_t left = std::min(x1, x2), top = std::min(y1, y2);
        const int64_t ax = static_cast<int64_t>((std::llabs(int64_t{x2} - x1) + 1) * topts->anchorx);
        const int64_t ay = static_cast<int64_t>((std::llabs(int64_t{y2} - y1) + 1) * topts->anchory);
        const auto turn = [&](int32_t* x, int32_t* y) {
            const double rx = static_cast<double>(*x - left - ax), ry = static_cast<double>(*y - top - ay);
            *x = ClampToInt32(m[0] * rx + m[1] * ry + static_cast<double>(ax + left));
            *y = ClampToInt32(m[2] * rx + m[3] * ry + static_cast<double>(ay + top));
        };
        turn(&x1, &y1);
        turn(&x2, &y2);
        thickness = ClampToInt32(std::round(thickness * MatrixWidthScale(m)));
    }
    thickness = std::clamp(thickness, 1, kMaxLineThickness);
    const bool aa = (state->formStyle & kFormAntialias) != 0;
    const uint32_t alphaByte = colour >> 24;
    const bool filters = lopts && (lopts->transparency > 0 || HasActiveFilters(lopts->filters));

    if (!d->layersEnabled && thickness == 1 && !filters) {
        if (d->output.type == kObjectTypeDisplay && !aa && (!alphaByte || AdapterTakesAlpha()))
            if (DrawOnDisplay(L, d, x1, y1, x2, y2, colour)) return 0;
        if (d->output.type == kOutputBrush) {
            const int done = DrawIntoBrush(L, d, x1, y1, x2, y2, colour, aa);
            if (done < 0) return -done;
            if (done) return 0;
        }
    }

    // The image of the line's box with the thickness and anti-aliasing
    // margins, reckoned in 64 bits.
    int64_t left = std::min(x1, x2), top = std::min(y1, y2);
    int64_t w = std::llabs(int64_t{x2} - x1) + 1, h = std::llabs(int64_t{y2} - y1) + 1;
    int64_t ex1 = x1 - left, ey1 = y1 - top, ex2 = x2 - left, ey2 = y2 - top;
    if (thickness > 1) {
        const int32_t lead = (aa ? 2 : 0) + (thickness >> 1);
        const int32_t grow = (aa ? 5 : 0) + thickness;
        w += grow;
        h += grow;
        left -= lead;
        top -= lead;
        ex1 += lead, ey1 += lead, ex2 += lead, ey2 += lead;
    }
    if (w > INT32_MAX || h > INT32_MAX) return ERR_BITMAP;
    const qbBoxImageAllocators& alloc = BoxImageAllocators();
    BitmapPtr bitmap(alloc.bitmap(static_cast<int32_t>(w), static_cast<int32_t>(h))), mask, alpha;
    if (!bitmap) return ERR_BITMAP;
    FillBitmapRect(bitmap.get(), 0, 0, static_cast<int32_t>(w), static_cast<int32_t>(h), 0);
    if (aa || alphaByte) {
        alpha.reset(alloc.alpha(static_cast<int32_t>(w), static_cast<int32_t>(h)));
        if (!alpha) return ERR_ALLOCALPHA;
    } else {
        mask.reset(alloc.mask(static_cast<int32_t>(w), static_cast<int32_t>(h)));
        if (!mask) return ERR_ALLOCMASK;
    }
    qbShapeFill f;
    f.target = bitmap.get();
    f.mask = mask.get();
    f.alpha = alpha.get();
    f.width = static_cast<int32_t>(w);
    f.height = static_cast<int32_t>(h);
    f.line[0] = static_cast<int32_t>(ex1);
    f.line[1] = static_cast<int32_t>(ey1);
    f.line[2] = static_cast<int32_t>(ex2);
    f.line[3] = static_cast<int32_t>(ey2);
    f.lineThickness = thickness;
    f.colour = colour & 0xFFFFFF;
    f.alphaByte = alphaByte;
    f.antialias = aa;
    f.outright = true;
    if (int err = FillShapeCoverage(f)) return err;
    if (rerender) {
        out->bitmap = bitmap.release();
        out->mask = mask.release();
        out->alpha = alpha.release();
        out->x = ClampToInt32(static_cast<double>(left));
        out->y = ClampToInt32(static_cast<double>(top));
        out->width = static_cast<int32_t>(w);
        out->height = static_cast<int32_t>(h);
        return 0;
    }
    qbObjectImage image{bitmap.release(), mask.release(), alpha.release()};
    if (layered) {
        data->line[0] = static_cast<int32_t>(ex1);
        data->line[1] = static_cast<int32_t>(ey1);
        data->line[2] = static_cast<int32_t>(ex2);
        data->line[3] = static_cast<int32_t>(ey2);
        return AddShapeLayer(L, kShapeLine, ClampToInt32(static_cast<double>(left)),
                             ClampToInt32(static_cast<double>(top)), static_cast<int32_t>(w), static_cast<int32_t>(h),
                             topts, lopts, &image, std::move(data), flags, nullptr);
    }
    if (flags & (kShapeRecreate | kShapeHidden)) {
        FreeObjectImage(&image);
        return 0;
    }
    BlitShapeImages(L, lopts, &image, ClampToInt32(static_cast<double>(left)), ClampToInt32(static_cast<double>(top)),
                    static_cast<int32_t>(w), static_cast<int32_t>(h));
    FreeObjectImage(&image);
    return 0;
}
