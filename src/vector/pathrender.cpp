// RenderPath: a request measured by its engine, sized (with the turned
// margin and the shadow's growth), rasterised and filled, and handed to
// the output, the layer stack or a layer caller.
#include "vector/pathrender.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/numbers.h"
#include "display/display.h"
#include "display/output.h"
#include "display/positions.h"
#include "draw/aacomposite.h"
#include "draw/boxdirect.h"
#include "draw/shape.h"
#include "draw/shapedirect.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "imaging/geometry.h"
#include "objects/dirtyrects.h"
#include "objects/layergeometry.h"
#include "objects/layers.h"
#include "objects/objectoptions.h"
#include "objects/objecttransform.h"
#include "objects/selection.h"
#include "vector/coverage.h"
#include "vector/engine.h"
#include "vector/path.h"
#include "vector/pathtext.h"
#include "vm/vm.h"

namespace {

const double kIdentity[4] = {1, 0, 0, 1};
// Room a turned image gets beyond its turned box, each way.
constexpr int64_t kTurnedMargin = 32;
// CombineAlphaRect: a fully covered source pixel sets the destination.
constexpr int32_t kCombineFull = 8;
constexpr int32_t kCombineScaled = 4;

bool IsOffscreen(int32_t kind) { return kind == kOutputBrush || kind == kOutputMask || kind == kOutputAlphaChannel; }

int64_t Floor64(double v) { return FloorToPixel(v); }
int64_t Ceil64(double v) { return CeilToPixel(v); }

struct Box {
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    int64_t Width() const { return Ceil64(x2) - Floor64(x1); }
    int64_t Height() const { return Ceil64(y2) - Floor64(y1); }
};

// Everything one drawing measures and decides before the images exist.
struct Plan {
    qbVectorEngine* engine = nullptr;
    bool shadow = false, edge = false, filled = false;
    int32_t stroke = 1;
    const double* matrix = kIdentity;
    Box extents;  // of what the main raster holds, untransformed
    Box layout;   // of the filled path
    int64_t width = 0, height = 0;  // the main raster
    double engineX0 = 0, engineY0 = 0, engineX1 = 0, engineY1 = 0;
    int64_t left = 0, top = 0;  // the raster's corner from the path's origin on the output
};

bool Measure(const Plan& p, const qbPathRequest& r, int filled, int32_t stroke, const double* matrix, Box* out,
             double originX = 0, double originY = 0) {
    return CallGetPathExtents(p.engine, r.commands, r.style, filled, stroke, matrix, &out->x1, &out->y1, &out->x2,
                              &out->y2, originX, originY);
}

// The main raster's size and the offsets the engine draws it with.
int Size(Plan* p, const qbPathRequest& r) {
    if (!Measure(*p, r, p->filled, p->stroke, nullptr, &p->extents))
        return PathStreamLength(r.commands) ? ERR_DRAWPATH : ERR_EMPTYPATH;
    p->layout = p->extents;
    if (!p->filled && !Measure(*p, r, 1, 1, nullptr, &p->layout)) p->layout = p->extents;
    if (p->engine->vectorExtension) {
        p->width = p->extents.Width();
        p->height = p->extents.Height();
        // The raster starts at the whole pixel the extents start in, and the
        // path is offset by that pixel: its points keep their place within
        // it, where the picture is put.
        p->engineX0 = static_cast<double>(Floor64(p->extents.x1));
        p->engineY0 = static_cast<double>(Floor64(p->extents.y1));
    } else {
        // The engine draws the measured extents into the raster's first
        // pixel on; the raster covers them whole.
        Box moved;
        if (!Measure(*p, r, p->filled, p->stroke, nullptr, &moved, -p->extents.x1, -p->extents.y1))
            return ERR_DRAWPATH;
        p->width = moved.Width();
        p->height = moved.Height();
        p->engineX0 = p->extents.x1;
        p->engineY0 = p->extents.y1;
        p->engineX1 = p->extents.x2;
        p->engineY1 = p->extents.y2;
    }
    return p->width <= 0 || p->height <= 0 ? ERR_EMPTYPATH : 0;
}

int32_t LayoutSize(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, 0, INT32_MAX)); }

// Where the raster's corner lands from the path's origin on the output:
// at the extents' corner, or, turned about the anchor point, at the
// corner of the turned content, with a margin to spare.
int Place(Plan* p, const qbPathRequest& r, const qbTransformOptions& t, double fx, double fy) {
    const double lw = static_cast<double>(p->layout.Width()), lh = static_cast<double>(p->layout.Height());
    if (IsIdentityMatrix(p->matrix)) {
        p->left = Floor64(p->extents.x1 * fx);
        p->top = Floor64(p->extents.y1 * fy);
        return 0;
    }
    const double* m = p->matrix;
    const double px = std::floor(p->layout.x1) + lw * t.anchorx, py = std::floor(p->layout.y1) + lh * t.anchory;
    const double bx = std::floor(p->extents.x1), by = std::floor(p->extents.y1);
    const double bw = static_cast<double>(p->width), bh = static_cast<double>(p->height);
    const qbBoxExtents turned = TransformedBoxExtents(m, (px - bx) / bw, (py - by) / bh, bx, by, bw, bh);
    Box content;
    if (!Measure(*p, r, p->filled, p->stroke, m, &content)) return ERR_DRAWPATH;
    // The engine puts the turned outline's corner at the first pixel.
    const double mpx = m[0] * px + m[2] * py, mpy = m[1] * px + m[3] * py;
    p->left = Floor64((px - mpx + content.x1) * fx);
    p->top = Floor64((py - mpy + content.y1) * fy);
    p->width = std::max(turned.width + kTurnedMargin, content.Width() + 1);
    p->height = std::max(turned.height + kTurnedMargin, content.Height() + 1);
    return 0;
}

BitmapPtr NewPlane(int64_t width, int64_t height) {
    if (width <= 0 || height <= 0 || width > INT32_MAX || height > INT32_MAX) return nullptr;
    return BitmapPtr(BoxImageAllocators().alpha(static_cast<int32_t>(width), static_cast<int32_t>(height)));
}

// A second raster (the fill beside a stroke) and its corner against the
// main raster's.
struct Raster {
    BitmapPtr plane;
    int32_t width = 0, height = 0;
    int32_t x = 0, y = 0;
};

int DrawRaster(const Plan& p, const qbPathRequest& r, int filled, int32_t stroke, Raster* out) {
    Box main, own;
    if (!Measure(p, r, p.filled, p.stroke, p.matrix, &main) || !Measure(p, r, filled, stroke, p.matrix, &own))
        return ERR_DRAWPATH;
    const int64_t w = std::max<int64_t>(own.Width(), 1), h = std::max<int64_t>(own.Height(), 1);
    out->plane = NewPlane(w, h);
    if (!out->plane) return ERR_ALLOCALPHA;
    out->width = static_cast<int32_t>(w);
    out->height = static_cast<int32_t>(h);
    // Untransformed, each raster starts at the whole pixel its extents start
    // in, as the main raster does.
    double ox = own.x1, oy = own.y1;
    if (IsIdentityMatrix(p.matrix) && p.engine->vectorExtension) {
        ox = static_cast<double>(Floor64(own.x1));
        oy = static_cast<double>(Floor64(own.y1));
        out->x = ClampToInt32(ox - static_cast<double>(Floor64(main.x1)));
        out->y = ClampToInt32(oy - static_cast<double>(Floor64(main.y1)));
    } else {
        out->x = ClampToInt32(std::round(own.x1 - main.x1));
        out->y = ClampToInt32(std::round(own.y1 - main.y1));
    }
    const bool ok = CallDrawPathHook(r, filled, stroke, p.matrix, out->plane.get(), out->width, out->height, ox, oy,
                                     own.x2, own.y2);
    return ok ? 0 : ERR_DRAWPATH;
}

// The main raster, filled plainly or composed with shadow and edge.
// Images of the main raster's size; the colour bitmap is left as it comes
// when the fill covers it whole.
int AllocImages(const Plan& p, const qbDrawState& st, qbBlockImages* made) {
    if (p.shadow || p.edge) return AllocBlockImages(p.width, p.height, st, p.shadow, true, made);
    if (p.width > INT32_MAX || p.height > INT32_MAX) return ERR_BITMAP;
    const auto w = static_cast<int32_t>(p.width), h = static_cast<int32_t>(p.height);
    made->bitmap.reset(BoxImageAllocators().bitmap(w, h));
    if (!made->bitmap) return ERR_BITMAP;
    made->alpha.reset(BoxImageAllocators().alpha(w, h));
    if (!made->alpha) return ERR_ALLOCALPHA;
    made->width = w;
    made->height = h;
    made->place = {};
    return 0;
}

int Draw(ScriptState* L, const Plan& p, const qbPathRequest& r, bool borderOfFilled, qbBlockImages* made) {
    const qbDrawState& st = r.style.draw;
    if (int err = AllocImages(p, st, made)) return err;
    const auto w = static_cast<int32_t>(p.width), h = static_cast<int32_t>(p.height);
    const uint32_t colourT = r.colour >> 24;
    if (!p.shadow && !p.edge) {
        if (int err = FillPathCoverage(L, r, made->bitmap.get(), made->width, made->height, r.colour, p.matrix))
            return err;
        if (!CallDrawPathHook(r, p.filled, p.stroke, p.matrix, made->alpha.get(), w, h, p.engineX0, p.engineY0,
                              p.engineX1, p.engineY1))
            return ERR_DRAWPATH;
        if (borderOfFilled) {
            Raster fill;
            if (int err = DrawRaster(p, r, 1, 1, &fill)) return err;
            CombineAlphaRectClipped(fill.plane.get(), 0, 0, made->alpha.get(), fill.x, fill.y, fill.width,
                                    fill.height, kCombineFull, 0, fill.width, fill.height, w, h);
        }
        if (colourT)
            CombineAlphaRect(made->alpha.get(), 0, 0, made->alpha.get(), 0, 0, w, h, kCombineScaled,
                             255 - std::min<uint32_t>(colourT, 255));
        return 0;
    }
    // The fill beside the edge (or alone, under a shadow).
    Raster fill, edge;
    if (p.edge) {
        edge.plane = NewPlane(w, h);
        if (!edge.plane) return ERR_ALLOCALPHA;
        edge.width = w;
        edge.height = h;
        if (!CallDrawPathHook(r, 0, p.stroke, p.matrix, edge.plane.get(), w, h, p.engineX0, p.engineY0, p.engineX1,
                              p.engineY1))
            return ERR_DRAWPATH;
        if (int err = DrawRaster(p, r, 1, 1, &fill)) return err;
        CombineAlphaRectClipped(fill.plane.get(), 0, 0, edge.plane.get(), fill.x, fill.y, fill.width, fill.height,
                                kCombineFull, 0, fill.width, fill.height, w, h);
    } else {
        fill.plane = NewPlane(w, h);
        if (!fill.plane) return ERR_ALLOCALPHA;
        fill.width = w;
        fill.height = h;
        if (!CallDrawPathHook(r, 1, 1, p.matrix, fill.plane.get(), w, h, p.engineX0, p.engineY0, p.engineX1,
                              p.engineY1))
            return ERR_DRAWPATH;
    }
    BitmapPtr source;
    if (st.fillStyle == FILLGRADIENT || st.fillStyle == FILLTEXTURE) {
        source.reset(BoxImageAllocators().bitmap(fill.width, fill.height));
        if (!source) return ERR_BITMAP;
        if (int err = FillPathCoverage(L, r, source.get(), fill.width, fill.height, r.colour, p.matrix)) return err;
    }
    qbAACompose c;
    c.image = made->bitmap.get();
    c.imageAlpha = made->alpha.get();
    c.imageWidth = made->width;
    c.imageHeight = made->height;
    c.shape = fill.plane.get();
    c.shapeWidth = fill.width;
    c.shapeHeight = fill.height;
    c.edge = edge.plane.get();
    c.edgeWidth = edge.width;
    c.edgeHeight = edge.height;
    c.withShadow = p.shadow;
    c.withEdge = p.edge;
    c.blockX = made->place.shapeX;
    c.blockY = made->place.shapeY;
    c.shapeX = made->place.shapeX + fill.x;
    c.shapeY = made->place.shapeY + fill.y;
    c.shadowX = made->place.shadowX;
    c.shadowY = made->place.shadowY;
    c.colour = r.colour & 0xFFFFFF;
    c.shadowColour = st.shadowColour & 0xFFFFFF;
    c.edgeColour = st.edgeColour & 0xFFFFFF;
    c.colourT = colourT;
    c.shadowT = st.shadowColour >> 24;
    c.edgeT = st.edgeColour >> 24;
    c.source = source.get();
    CompositeAntialiasedShape(c);
    return 0;
}

// A row of the inbuilt engine's raster blended onto the picture as soon as
// it is finished, while it is still in the cache.
struct RowBlend {
    const qbDirectTarget* target;
    int32_t px, py;
    uint32_t colour;

    static void Row(void* user, int32_t r, const uint8_t* coverage, int32_t x0, int32_t x1) {
        const auto* b = static_cast<const RowBlend*>(user);
        BlendDirectRow(*b->target, b->px + x0, b->py + r, coverage + x0, x1 - x0, b->colour);
    }
};

// A plain path straight onto the output: its coverage blended with the
// colour where the image would have been blitted, as the blit would have.
// The inbuilt engine hands its rows over one by one (only those on the
// picture); another fills a plane by the hook's contract.
int DrawDirect(ScriptState* L, const Plan& p, const qbPathRequest& r, int32_t px, int32_t py,
               const qbDirectTarget& target) {
    const auto w = static_cast<int32_t>(p.width), h = static_cast<int32_t>(p.height);
    if (IsInbuiltVectorEngine(p.engine)) {
        const qbRect box = IntersectRects(target.clip, {px, py, w, h});
        if (box.width > 0 && box.height > 0) {
            RowBlend blend{&target, px, py, r.colour};
            qbCoverageRows rows;
            rows.row = RowBlend::Row;
            rows.user = &blend;
            rows.first = box.y - py;
            rows.count = box.height;
            if (!CallDrawPathRows(r, p.filled, p.stroke, p.matrix, w, h, p.engineX0, p.engineY0, rows))
                return ERR_DRAWPATH;
        }
    } else {
        BitmapPtr plane(AllocAlphaChannel(w, h, true, nullptr, 0));
        if (!plane) return ERR_ALLOCALPHA;
        if (!CallDrawPathHook(r, p.filled, p.stroke, p.matrix, plane.get(), w, h, p.engineX0, p.engineY0,
                              p.engineX1, p.engineY1))
            return ERR_DRAWPATH;
        BlendDirectCoverage(target, plane.get(), px, py, w, h, r.colour);
    }
    MarkDirectShape(L, target, px, py, w, h);
    return 0;
}

// The images become a path layer that keeps its own copy of the request.
int AddPathLayer(ScriptState* L, const qbPathRequest& r, int32_t x, int32_t y, qbBlockImages* made,
                 const qbTransformOptions* t, qbLayerOptions* l, uint32_t flags) {
    std::shared_ptr<qbPathRequest> copy;
    if (int err = ClonePathRequest(r, &copy)) return err;
    copy->layerWords[kPathLayerOffsetX] = ClampToInt32(static_cast<double>(x) - r.x);
    copy->layerWords[kPathLayerOffsetY] = ClampToInt32(static_cast<double>(y) - r.y);
    std::unique_ptr<qbLayerState> s(new (std::nothrow) qbLayerState);
    if (!s) return ERR_MEM;
    s->bitmap = made->bitmap.release();
    s->alpha = made->alpha.release();
    s->x = x;
    s->y = y;
    s->width = made->width;
    s->height = made->height;
    s->shapeState = std::move(copy);
    qbLayer* layer = nullptr;
    const uint32_t addFlags = uint32_t{kAddDisplayScale} | ((flags & kPathHidden) ? uint32_t{kAddHidden} : 0u);
    if (int err = AddLayer(L, kLayerVectorPath, r.hasId ? &r.id : nullptr, x, y, made->width, made->height, t, l, std::move(s), -1,
                           addFlags, &layer))
        return err;
    if (!l->needseffects && !(flags & kPathHidden)) RefreshLayer(L, layer, true);
    return 0;
}

// The images replace those of a layer state being drawn again.
void IntoState(qbLayerState* state, qbBlockImages* made) {
    FreeBitmap(state->bitmap);
    FreeMask(state->mask);
    FreeAlphaChannel(state->alpha);
    state->bitmap = made->bitmap.release();
    state->mask = nullptr;
    state->alpha = made->alpha.release();
    state->width = made->width;
    state->height = made->height;
}

}  // namespace

int RenderPath(ScriptState* L, qbLayer* layer, qbLayerState* state, int32_t x, int32_t y, qbPathRequest* request,
               qbTransformOptions* topts, qbLayerOptions* lopts, uint32_t flags, qbPathImages* images, int optArg) {
    (void)layer;
    qbPathRequest& r = *request;
    Plan p;
    p.engine = r.engine ? r.engine : InbuiltVectorEngine();
    if (!r.commands) return ERR_EMPTYPATH;
    if (int err = ResolvePathTextHandles(r.commands, p.engine)) return err;

    qbDisplay* display = GetCurrentDisplay();
    qbTransformOptions ownT;
    qbLayerOptions ownL;
    const bool given = topts != nullptr;
    if (!topts) topts = &ownT;
    if (!lopts) lopts = &ownL;
    bool layered = false;
    if (!images) {
        if (!display) return ERR_FINDDISPLAY;
        if (IsOffscreen(display->output.type))
            if (int err = PrepareOutputTarget(L)) return err;
        if (!given) ResetDisplayObjectOptions(topts, lopts, 0, 0, 0, 0);
        layered = display->layersEnabled && !(flags & (kPathRedraw | kPathIntoState));
        if (layered) MoveDrawStyleIntoLayer(&r.style.draw, &r.colour, lopts);
    }

    qbDrawState& st = r.style.draw;
    ClampDrawState(&st);
    const bool fill = st.fillStyle != FILLNONE;
    p.shadow = fill && (st.formStyle & kFormShadow);
    p.edge = fill && (st.formStyle & kFormEdge);
    p.filled = fill && !p.edge;
    p.stroke = p.edge ? 2 * st.edgeSize : st.lineWidth;
    if (int err = Size(&p, r)) return err;

    int32_t lw = LayoutSize(p.layout.Width()), lh = LayoutSize(p.layout.Height());
    // The options' script code may have freed or changed the path, its
    // fonts or the display: all of it is found and measured again.
    if (!given && optArg > 0) {
        qbPathRef found(L, r.id);
        if (int err = ParseDisplayObjectOptions(L, optArg, lw, lh, 0, 0, 0, topts, lopts, 0)) return err;
        qbTaken<qbPath> path = nullptr;
        if (int err = found.Take(&path)) return err;
        r.commands = path->commands.get();
        r.capacity = path->capacity;
        if (!r.commands) return ERR_EMPTYPATH;
        if (int err = ResolvePathTextHandles(r.commands, p.engine)) return err;
        if (!images) {
            display = GetCurrentDisplay();
            if (!display) return ERR_FINDDISPLAY;
        }
        if (int err = Size(&p, r)) return err;
        lw = LayoutSize(p.layout.Width());
        lh = LayoutSize(p.layout.Height());
    }
    if (!given && optArg <= 0 && r.rotate != 0) {
        topts->rotate = std::fmod(r.rotate, 360.0);
        BuildScaleRotateMatrix(topts->matrix, 0, 0, lw, lh, 1.0, 1.0, topts->rotate);
    }
    if (given && (flags & kPathRedraw)) ComputeTransformMatrix(topts, lw, lh);

    const int32_t rx = ResolveSpecialX(x, lw, 0, topts->anchorx);
    const int32_t ry = ResolveSpecialY(y, lh, 0, topts->anchory);
    r.x = rx;
    r.y = ry;
    r.width = lw;
    r.height = lh;

    // A new layer is drawn untransformed: the layer system turns it.
    p.matrix = layered || IsIdentityMatrix(topts->matrix) ? kIdentity : topts->matrix;
    const bool scaled = (flags & kPathDisplayScaled) && display;
    if (int err = Place(&p, r, *topts, scaled ? display->scaleX : 1.0, scaled ? display->scaleY : 1.0)) return err;

    qbDirectTarget direct;
    if (!images && !layered && !(flags & (kPathHidden | kPathRedraw | kPathIntoState)) && !p.shadow && !p.edge &&
        p.width <= kDirectShapeMaxPixels / p.height && PlainShapeTarget(st, r.colour, lopts, &direct)) {
        const int64_t px = rx + p.left - Floor64(lw * topts->anchorx), py = ry + p.top - Floor64(lh * topts->anchory);
        return DrawDirect(L, p, r, ClampToInt32(static_cast<double>(px)), ClampToInt32(static_cast<double>(py)),
                          direct);
    }
    qbBlockImages made;
    if (int err = Draw(L, p, r, images && images->borderPass && !images->unfilled, &made)) return err;
    const int64_t left = p.left - made.place.shapeX, top = p.top - made.place.shapeY;
    const int32_t ix = ClampToInt32(static_cast<double>(rx + left)), iy = ClampToInt32(static_cast<double>(ry + top));

    if (images) {
        images->bitmap = made.bitmap.release();
        images->alpha = made.alpha.release();
        images->x = ix;
        images->y = iy;
        images->width = made.width;
        images->height = made.height;
        return 0;
    }
    if (flags & kPathIntoState) {
        if (!state) return ERR_WRONGUSAGE;
        IntoState(state, &made);
        return 0;
    }
    if (layered) return AddPathLayer(L, r, ix, iy, &made, topts, lopts, flags);
    if (flags & (kPathHidden | kPathRedraw)) return 0;
    const int32_t px = ClampToInt32(ix - std::floor(lw * topts->anchorx));
    const int32_t py = ClampToInt32(iy - std::floor(lh * topts->anchory));
    qbObjectImage image{made.bitmap.release(), nullptr, made.alpha.release()};
    BlitShapeImages(L, lopts, &image, px, py, made.width, made.height);
    FreeObjectImage(&image);
    return 0;
}

int RenderPathLayerBorder(ScriptState* L, const qbTransformOptions& layerTransform, const qbPathRequest& request,
                          uint32_t colour, int32_t size, double fx, double fy, qbPathImages* out) {
    qbTransformOptions t = layerTransform;
    // An explicit matrix stands for the scale factors, so it takes the
    // display's factors itself.
    if (t.matrixset) {
        t.transform[0] *= fx;
        t.transform[1] *= fx;
        t.transform[2] *= fy;
        t.transform[3] *= fy;
    } else {
        t.scalex *= fx;
        t.scaley *= fy;
    }
    qbPathRequest r = request;
    const bool unfilled = r.style.draw.fillStyle == FILLNONE;
    r.style.draw.fillStyle = FILLNONE;
    // The border lies on both sides of the outline; a size near the top of
    // the range saturates.
    r.style.draw.lineWidth = ClampToInt32(2.0 * std::max(size, 1));
    r.colour = colour;
    qbLayerOptions l = DefaultLayerOptions();
    *out = {};
    out->unfilled = unfilled ? 1 : 0;
    out->borderPass = 1;
    return RenderPath(L, nullptr, nullptr, 0, 0, &r, &t, &l, kPathRedraw, out, 0);
}
