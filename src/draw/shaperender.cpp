// The shape renderer: a shape measured with its edge, shadow, line width
// and anti-aliasing margins, drawn into images (or straight into the
// output on the direct box road) and placed on the current output.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "core/errcodes.h"
#include "core/numbers.h"
#include "core/runstate.h"
#include "display/bgpics.h"
#include "display/clipregions.h"
#include "display/display.h"
#include "display/output.h"
#include "display/positions.h"
#include "display/safeblt.h"
#include "draw/aacomposite.h"
#include "draw/boxdirect.h"
#include "draw/conicimages.h"
#include "draw/scan/scan.h"
#include "draw/shapedirect.h"
#include "draw/shape.h"
#include "draw/shapefill.h"
#include "draw/texturefill.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "imaging/geometry.h"
#include "objects/dirtyrects.h"
#include "objects/displayobject.h"
#include "objects/objectoptions.h"
#include "objects/objecttransform.h"
#include "objects/selection.h"

namespace {

bool gLineBasedShapes = false;

uint32_t AlphaByte(uint32_t colour) { return colour >> 24; }

bool IsOffscreen(int32_t kind) { return kind == kOutputBrush || kind == kOutputMask || kind == kOutputAlphaChannel; }

qbShapeGeometry GeometryOf(const qbShape& s) {
    qbShapeGeometry g;
    g.type = s.type;
    g.radiusX = s.radiusX;
    g.radiusY = s.radiusY;
    g.startAngle = s.startAngle;
    g.endAngle = s.endAngle;
    std::copy(s.corners, s.corners + 4, g.corners);
    g.clockwise = s.clockwise;
    g.polygon = s.points;
    std::copy(s.topts->matrix, s.topts->matrix + 4, g.matrix);
    g.anchorX = s.topts->anchorx;
    g.anchorY = s.topts->anchory;
    return g;
}

bool TurnedWithPoints(const qbShape& s) {
    // Curved outlines come out of the ellipse generator already turned.
    return s.type == kShapePolygon || (s.type == kShapeBox && !ShapeIsCurved(s));
}

// A plain shape's target and where the image road would have blitted:
// its anchor point and the anchor's offset in the shape.
struct Direct {
    qbDirectTarget target;
    int32_t x = 0, y = 0;
    int32_t anchorX = 0, anchorY = 0;
    int32_t PlaceX(int32_t left) const { return SaturatingSub(SaturatingAdd(x, left), anchorX); }
    int32_t PlaceY(int32_t top) const { return SaturatingSub(SaturatingAdd(y, top), anchorY); }
};

// The outlines of the point-list road, in the frame of the untransformed
// shape's top-left corner.
struct Outlines {
    std::vector<qbPoint> shape, edge;
    int32_t skip = 0;  // an arc's two bounding-box points
    qbRect shapeBox;   // the shape's box in that frame
    qbRect blockBox;   // the shape with its edge
};

// Outline points turned (when the matrix is not the identity) and boxed.
qbRect Boxed(const qbShape& s, std::vector<qbPoint>* points, int32_t width, int32_t height) {
    const double* m = s.topts->matrix;
    if (IsIdentityMatrix(m)) return {0, 0, width, height};
    if (TurnedWithPoints(s))
        return TransformPointList(m, s.topts->anchorx, s.topts->anchory, width, height, points, true);
    return NormalizePointList(points);
}

int BuildOutlines(const qbShape& s, int32_t edge, Outlines* o) {
    const qbShapeGeometry g = GeometryOf(s);
    ShapeOutlinePointsInt(g, s.width, s.height, &o->shape);
    o->skip = s.type == kShapeArc ? 2 : 0;
    if (o->shape.size() <= static_cast<size_t>(o->skip)) return ERR_WRONGUSAGE;
    o->shapeBox = Boxed(s, &o->shape, s.width, s.height);
    o->blockBox = o->shapeBox;
    if (edge <= 0) return 0;
    if (s.type == kShapePolygon) {
        qbEdgeRing ring = PolygonEdgeRing(s.points, edge);
        // Into the shape's frame, so that both turn about the same anchor.
        for (qbPoint& p : ring.points) {
            p.x -= ring.offsetX;
            p.y -= ring.offsetY;
        }
        o->edge = std::move(ring.points);
        if (IsIdentityMatrix(s.topts->matrix)) {
            o->blockBox = {-ring.offsetX, -ring.offsetY, ring.width, ring.height};
            for (qbPoint& p : o->edge) {
                p.x += ring.offsetX;
                p.y += ring.offsetY;
            }
        } else {
            o->blockBox = TransformPointList(s.topts->matrix, s.topts->anchorx, s.topts->anchory, s.width, s.height,
                                             &o->edge, true);
        }
        return 0;
    }
    const int64_t w = int64_t{s.width} + 2 * int64_t{edge}, h = int64_t{s.height} + 2 * int64_t{edge};
    if (w > INT32_MAX || h > INT32_MAX) return ERR_BITMAP;
    ShapeOutlinePointsInt(g, static_cast<int32_t>(w), static_cast<int32_t>(h), &o->edge);
    if (TurnedWithPoints(s) && !IsIdentityMatrix(s.topts->matrix)) {
        // Turned about the shape's own anchor, as the shape is.
        for (qbPoint& p : o->edge) {
            p.x -= edge;
            p.y -= edge;
        }
        o->blockBox =
            TransformPointList(s.topts->matrix, s.topts->anchorx, s.topts->anchory, s.width, s.height, &o->edge, true);
        return 0;
    }
    qbRect box = Boxed(s, &o->edge, static_cast<int32_t>(w), static_cast<int32_t>(h));
    box.x -= edge;
    box.y -= edge;
    o->blockBox = box;
    return 0;
}

// Whole pixels as the scan engine takes them, moved and without the
// skipped points.
std::vector<int32_t> Flat(const std::vector<qbPoint>& points, int32_t skip, int32_t dx, int32_t dy) {
    std::vector<int32_t> flat;
    flat.reserve((points.size() - skip) * 2);
    for (size_t i = static_cast<size_t>(skip); i < points.size(); ++i) {
        flat.push_back(points[i].x + dx);
        flat.push_back(points[i].y + dy);
    }
    return flat;
}

// A coverage plane holding the anti-aliased fill of the points.
int CoveragePlane(const std::vector<int32_t>& flat, int32_t width, int32_t height, BitmapPtr* out) {
    uint8_t* cover = nullptr;
    int32_t pitch = 0;
    CoverageRasterPtr raster(CreateCoverageRaster(width, height, &cover, &pitch));
    if (!raster) return ERR_MEM;
    FillPolygon(raster.get(), flat.data(), static_cast<int32_t>(flat.size() / 2), 1, 0);
    const int32_t e = GetScanError();
    if (e == kScanNoMemory || e == kScanRecordMemory) return ERR_MEM;
    out->reset(BoxImageAllocators().alpha(width, height));
    if (!*out || !(*out)->plane) return ERR_MEM;
    for (int32_t j = 0; j < height; ++j)
        std::memcpy((*out)->plane->data + static_cast<size_t>(j) * (*out)->plane->rowBytes,
                    cover + static_cast<ptrdiff_t>(j) * pitch, static_cast<size_t>(width));
    return 0;
}

int FillSource(ScriptState* L, const qbDrawState& st, const double* matrix, int32_t width, int32_t height,
               BitmapPtr* out) {
    if (st.fillStyle != FILLGRADIENT && st.fillStyle != FILLTEXTURE) return 0;
    out->reset(BoxImageAllocators().bitmap(width, height));
    if (!*out) return ERR_BITMAP;
    return st.fillStyle == FILLGRADIENT ? DrawGradient(out->get(), 0, 0, width, height, &st.gradient)
                                        : FillTextureRect(L, out->get(), 0, 0, width, height, st, matrix, false);
}

// The point-list road into new images; *left, *top where the images go
// relative to the untransformed shape's top-left corner.
int DrawPointList(ScriptState* L, const qbShape& s, const qbDrawState& st, const Direct* direct, qbBoxImages* images,
                  int32_t* left, int32_t* top) {
    const bool filled = st.fillStyle != FILLNONE;
    const bool aa = (st.formStyle & kFormAntialias) != 0;
    const int32_t edge = filled && (st.formStyle & kFormEdge) ? st.edgeSize : 0;
    const bool shadow = filled && (st.formStyle & kFormShadow);
    Outlines o;
    if (int err = BuildOutlines(s, edge, &o)) return err;
    const int32_t grow = !filled && st.lineWidth >= 2 ? st.lineWidth : 0;
    const int32_t pad = aa ? 5 : 0, lead = (aa ? 2 : 0) + (grow >> 1);
    const int64_t shapeW = int64_t{o.shapeBox.width} + grow + pad, shapeH = int64_t{o.shapeBox.height} + grow + pad;
    const int64_t blockW = int64_t{o.blockBox.width} + grow + pad, blockH = int64_t{o.blockBox.height} + grow + pad;
    if (shapeW > INT32_MAX || shapeH > INT32_MAX) return ERR_BITMAP;
    if (direct && !aa && shapeW * shapeH <= kDirectShapeMaxPixels) {
        // Covered runs go onto the output as fills, clipped as the blit
        // would have clipped the image.
        *left = o.blockBox.x - lead;
        *top = o.blockBox.y - lead;
        const std::vector<int32_t> pts = Flat(o.shape, o.skip, lead, lead);
        const qbRect& c = direct->target.clip;
        const qbClipRegion clip{c.x, c.y, c.width, c.height, nullptr};
        qbShapeFill f;
        f.target = direct->target.bitmap;
        f.x = direct->PlaceX(*left);
        f.y = direct->PlaceY(*top);
        f.width = static_cast<int32_t>(shapeW);
        f.height = static_cast<int32_t>(shapeH);
        f.points = pts.data();
        f.count = static_cast<int32_t>(pts.size() / 2);
        f.colour = s.colour & 0xFFFFFF;
        f.filled = filled;
        f.lineWidth = st.lineWidth;
        f.clip = &clip;
        if (int err = FillShapeCoverage(f)) return err;
        MarkDirectShape(L, direct->target, f.x, f.y, f.width, f.height);
        return kBoxDrawnDirectly;
    }
    const bool withAlpha =
        aa || AlphaByte(s.colour) || (edge && AlphaByte(st.edgeColour)) || (shadow && AlphaByte(st.shadowColour));
    qbDrawState placed = st;
    if (!shadow) placed.formStyle &= ~kFormShadow;
    qbBlockImages made;
    if (int err = AllocBlockImages(blockW, blockH, placed, shadow, withAlpha, &made)) return err;
    const qbShadowPlacement& p = made.place;
    const int32_t inX = o.shapeBox.x - o.blockBox.x, inY = o.shapeBox.y - o.blockBox.y;
    const std::vector<int32_t> shapePts = Flat(o.shape, o.skip, lead, lead);
    const std::vector<int32_t> edgePts = edge ? Flat(o.edge, 0, lead, lead) : std::vector<int32_t>{};
    BitmapPtr source;
    if (filled)
        if (int err =
                FillSource(L, st, s.topts->matrix, static_cast<int32_t>(shapeW), static_cast<int32_t>(shapeH), &source))
            return err;

    if (aa && filled) {
        BitmapPtr sPlane, ePlane;
        if (int err = CoveragePlane(shapePts, static_cast<int32_t>(shapeW), static_cast<int32_t>(shapeH), &sPlane))
            return err;
        if (edge)
            if (int err = CoveragePlane(edgePts, static_cast<int32_t>(blockW), static_cast<int32_t>(blockH), &ePlane))
                return err;
        qbAACompose c;
        c.image = made.bitmap.get();
        c.imageAlpha = made.alpha.get();
        c.imageWidth = made.width;
        c.imageHeight = made.height;
        c.shape = sPlane.get();
        c.shapeWidth = static_cast<int32_t>(shapeW);
        c.shapeHeight = static_cast<int32_t>(shapeH);
        c.edge = ePlane.get();
        c.edgeWidth = static_cast<int32_t>(blockW);
        c.edgeHeight = static_cast<int32_t>(blockH);
        c.withShadow = shadow;
        c.withEdge = edge > 0;
        c.blockX = p.shapeX;
        c.blockY = p.shapeY;
        c.shapeX = p.shapeX + inX;
        c.shapeY = p.shapeY + inY;
        c.shadowX = p.shadowX;
        c.shadowY = p.shadowY;
        c.colour = s.colour & 0xFFFFFF;
        c.shadowColour = st.shadowColour & 0xFFFFFF;
        c.edgeColour = st.edgeColour & 0xFFFFFF;
        c.colourT = AlphaByte(s.colour);
        c.shadowT = AlphaByte(st.shadowColour);
        c.edgeT = AlphaByte(st.edgeColour);
        c.source = source.get();
        CompositeAntialiasedShape(c);
    } else {
        qbShapeFill f;
        f.target = made.bitmap.get();
        f.mask = made.mask.get();
        f.alpha = made.alpha.get();
        f.outright = true;
        f.filled = filled;
        const auto pass = [&](const std::vector<int32_t>& pts, int32_t x, int32_t y, int64_t w, int64_t h,
                              uint32_t colour, qbBitmap* src) {
            f.x = x;
            f.y = y;
            f.width = static_cast<int32_t>(w);
            f.height = static_cast<int32_t>(h);
            f.points = pts.data();
            f.count = static_cast<int32_t>(pts.size() / 2);
            f.colour = colour & 0xFFFFFF;
            f.alphaByte = AlphaByte(colour);
            f.source = src;
            return FillShapeCoverage(f);
        };
        if (shadow)
            if (int err =
                    pass(edge ? edgePts : shapePts, p.shadowX, p.shadowY, blockW, blockH, st.shadowColour, nullptr))
                return err;
        if (edge)
            if (int err = pass(edgePts, p.shapeX, p.shapeY, blockW, blockH, st.edgeColour, nullptr)) return err;
        f.antialias = aa && !filled;
        f.lineWidth = st.lineWidth;
        if (int err = pass(shapePts, p.shapeX + inX, p.shapeY + inY, shapeW, shapeH, s.colour, source.get()))
            return err;
    }
    *left = o.blockBox.x - p.shapeX - lead;
    *top = o.blockBox.y - p.shapeY - lead;
    images->bitmap = made.bitmap.release();
    images->mask = made.mask.release();
    images->alpha = made.alpha.release();
    images->width = made.width;
    images->height = made.height;
    return 0;
}

// What the direct painter answers for a shape that takes the image road.
constexpr int kShapeNotDirect = -2;

// A plain anti-aliased curved shape: its coverage blended with the colour
// straight onto the output, as the blit would have blended its image.
int PaintConicDirect(ScriptState* L, const qbConicRequest& r, const qbDrawState& drawn, const Direct& direct,
                     double centreX, double centreY) {
    BitmapPtr plane;
    int32_t w = 0, h = 0;
    if (int err = DrawConicCoverage(r, drawn, kDirectShapeMaxPixels, &plane, &w, &h)) return err;
    if (int64_t{w} * h > kDirectShapeMaxPixels) return kShapeNotDirect;
    const int32_t px = direct.PlaceX(ClampToInt32(std::floor(centreX - w / 2.0)));
    const int32_t py = direct.PlaceY(ClampToInt32(std::floor(centreY - h / 2.0)));
    BlendDirectCoverage(direct.target, plane.get(), px, py, w, h, r.colour);
    MarkDirectShape(L, direct.target, px, py, w, h);
    return kBoxDrawnDirectly;
}

int DrawConic(ScriptState* L, const qbShape& s, const qbDrawState& st, const Direct* direct, qbBoxImages* images,
              int32_t* left, int32_t* top) {
    qbConicRequest r;
    r.shape.type = s.type;
    r.shape.rx = s.radiusX;
    r.shape.ry = s.radiusY;
    r.shape.start = s.startAngle;
    r.shape.end = s.endAngle;
    r.shape.width = s.width;
    r.shape.height = s.height;
    r.shape.direction = s.clockwise;
    r.shape.matrix = IsIdentityMatrix(s.topts->matrix) ? nullptr : s.topts->matrix;
    std::copy(s.corners, s.corners + 4, r.shape.corners);
    r.colour = s.colour;
    qbDrawState drawn = st;
    if (st.fillStyle == FILLNONE) drawn.formStyle &= ~(kFormEdge | kFormShadow);
    // The drawn shape keeps the centre of the untransformed one, turned
    // about the anchor.
    const double* m = s.topts->matrix;
    const double ax = std::trunc(s.width * s.topts->anchorx), ay = std::trunc(s.height * s.topts->anchory);
    const double cx = s.width / 2.0 - ax, cy = s.height / 2.0 - ay;
    const double tx = m[0] * cx + m[1] * cy + ax, ty = m[2] * cx + m[3] * cy + ay;
    if (direct)
        if (const int result = PaintConicDirect(L, r, drawn, *direct, tx, ty); result != kShapeNotDirect)
            return result;
    if (int err = DrawConicImages(L, r, drawn, images)) return err;
    *left = ClampToInt32(std::floor(tx - images->shapeWidth / 2.0)) - images->shapeX;
    *top = ClampToInt32(std::floor(ty - images->shapeHeight / 2.0)) - images->shapeY;
    return 0;
}

struct ImagesOwner {
    qbBoxImages images;
    ~ImagesOwner() {
        FreeBitmap(images.bitmap);
        FreeMask(images.mask);
        FreeAlphaChannel(images.alpha);
    }
};

}  // namespace

bool LineBasedShapes() { return gLineBasedShapes; }
void SetLineBasedShapes(bool on) { gLineBasedShapes = on; }

bool ShapeIsCurved(const qbShape& s) {
    if (s.type == kShapeCircle || s.type == kShapeEllipse || s.type == kShapeArc) return true;
    return s.type == kShapeBox && std::any_of(s.corners, s.corners + 4, [](int32_t c) { return c > 0; });
}

double MatrixWidthScale(const double m[4]) {
    if (m[1] == 0 && m[2] == 0) return std::fabs(m[0]);
    return std::sqrt(std::fabs(m[0] * m[3] - m[1] * m[2]));
}

void BlitShapeImages(ScriptState* L, const qbLayerOptions* lopts, qbObjectImage* image, int32_t x, int32_t y,
                     int32_t width, int32_t height) {
    qbDisplay* display = GetCurrentDisplay();
    if (!display || !image->bitmap) return;
    ApplyFiltersAndTransparency(lopts, image, width, height);
    const int32_t kind = display->output.type;
    qbBitmap* target = kind == kObjectTypeDisplay ? display->spriteFreeBuffer.get() : display->output.bitmap;
    const bool planesOnly = !target && (display->output.mask || display->output.alpha) &&
                            (kind == kOutputMask || kind == kOutputAlphaChannel);
    const qbBGPic* picture = GetCurrentBGPic();
    if ((!target && !planesOnly) || !picture) return;
    const qbOutputView out = GetCurrentOutput();
    qbSafeBlt blit;
    blit.source = image->bitmap;
    blit.destination = target;
    blit.dstX = x;
    blit.dstY = y;
    blit.width = width;
    blit.height = height;
    blit.srcWidth = width;
    blit.srcHeight = height;
    blit.dstWidth = kind == kObjectTypeDisplay ? picture->currentWidth : out.width;
    blit.dstHeight = kind == kObjectTypeDisplay ? picture->currentHeight : out.height;
    blit.mask = image->alpha ? nullptr : image->mask;
    blit.alpha = image->alpha;
    blit.clip = out.clip && *out.clip ? static_cast<const qbClipRegion*>(*out.clip) : nullptr;
    SafeBlt(L, blit);
    // A scaling display at factors of 1.0 leaves drawn shapes to its next
    // full redraw.
    const bool unscaledScaling = display->pictureScaling && display->scaleX == 1.0 && display->scaleY == 1.0;
    if (display->softDoubleBuffer && !unscaledScaling) AddDirtyRect(L, x, y, width, height);
}

namespace {

// Steps from the width scaling on: measured, drawn and handed to the
// output, the layer system or the caller.
int DrawShape(ScriptState* L, qbShape* s, qbDrawState st, int32_t x, int32_t y, uint32_t flags,
              std::shared_ptr<qbShapeLayerData> data, const qbTransformOptions* layerTransform) {
    qbTransformOptions& t = *s->topts;
    const double scale = MatrixWidthScale(t.matrix);
    if (scale != 1.0) {
        st.shadowSize = ClampToInt32(std::round(st.shadowSize * scale));
        st.lineWidth = ClampToInt32(std::round(st.lineWidth * scale));
    }
    ClampDrawState(&st);

    ImagesOwner own;
    int32_t left = 0, top = 0;
    Direct direct;
    const bool plain = !data && !s->out && !(flags & (kShapeRecreate | kShapeHidden | kShapeRerender)) &&
                       PlainShapeTarget(st, s->colour, s->lopts, &direct.target);
    direct.x = x;
    direct.y = y;
    direct.anchorX = static_cast<int32_t>(s->width * t.anchorx);
    direct.anchorY = static_cast<int32_t>(s->height * t.anchory);
    if (s->path == kShapePathDirect) {
        const bool edge = (st.formStyle & kFormEdge) && st.fillStyle != FILLNONE;
        const bool shadow = (st.formStyle & kFormShadow) && st.fillStyle != FILLNONE;
        if (!edge) st.formStyle &= ~kFormEdge;
        if (!shadow) st.formStyle &= ~kFormShadow;
        qbBoxRequest r;
        r.x = SaturatingSub(x, static_cast<int32_t>(s->width * t.anchorx));
        r.y = SaturatingSub(y, static_cast<int32_t>(s->height * t.anchory));
        r.width = s->width;
        r.height = s->height;
        r.colour = s->colour;
        r.antialias = (st.formStyle & kFormAntialias) != 0;
        r.filtersOrEffects = s->lopts && (s->lopts->transparency > 0 || HasActiveFilters(s->lopts->filters));
        r.matrix = t.matrix;
        const int result = DrawBoxDirect(L, r, st, &own.images);
        if (result == kBoxDrawnDirectly) return 0;
        if (result) return result;
        left = -own.images.shapeX;
        top = -own.images.shapeY;
    } else if (s->path == kShapePathConic) {
        const int result = DrawConic(L, *s, st, plain ? &direct : nullptr, &own.images, &left, &top);
        if (result == kBoxDrawnDirectly) return 0;
        if (result) return result;
    } else {
        const int result = DrawPointList(L, *s, st, plain ? &direct : nullptr, &own.images, &left, &top);
        if (result == kBoxDrawnDirectly) return 0;
        if (result) return result;
    }
    if (s->out && (flags & kShapeRerender)) {
        qbShapeOutput& o = *s->out;
        o.bitmap = own.images.bitmap;
        o.mask = own.images.mask;
        o.alpha = own.images.alpha;
        o.x = SaturatingAdd(x, left);
        o.y = SaturatingAdd(y, top);
        o.width = own.images.width;
        o.height = own.images.height;
        own.images = {};
        return 0;
    }
    if (data) {
        data->left = left;
        data->top = top;
        qbObjectImage image{own.images.bitmap, own.images.mask, own.images.alpha};
        const int32_t w = own.images.width, h = own.images.height;
        own.images = {};
        return AddShapeLayer(L, s->type, SaturatingAdd(x, left), SaturatingAdd(y, top), w, h, layerTransform,
                             s->lopts, &image, std::move(data), flags, nullptr);
    }
    if (flags & (kShapeRecreate | kShapeHidden)) return 0;
    const int32_t px = SaturatingSub(SaturatingAdd(x, left), static_cast<int32_t>(s->width * t.anchorx));
    const int32_t py = SaturatingSub(SaturatingAdd(y, top), static_cast<int32_t>(s->height * t.anchory));
    qbObjectImage image{own.images.bitmap, own.images.mask, own.images.alpha};
    BlitShapeImages(L, s->lopts, &image, px, py, own.images.width, own.images.height);
    own.images.bitmap = image.bitmap;
    own.images.mask = image.mask;
    own.images.alpha = image.alpha;
    return 0;
}

}  // namespace

// What a new shape layer keeps: the shape with the draw state as the layer
// left it, before any width is scaled.
std::shared_ptr<qbShapeLayerData> LayerDataOf(const qbShape& s, const qbDrawState& st) {
    auto data = std::make_shared<qbShapeLayerData>();
    data->type = s.type;
    data->state = st;
    data->colour = s.colour;
    data->width = s.width;
    data->height = s.height;
    std::copy(s.corners, s.corners + 4, data->corners);
    data->radiusX = s.radiusX;
    data->radiusY = s.radiusY;
    data->startAngle = s.startAngle;
    data->endAngle = s.endAngle;
    data->clockwise = s.clockwise;
    data->points = s.points;
    return data;
}

int RenderShape(ScriptState* L, qbShape* s, uint32_t flags) {
    qbDisplay* d = GetCurrentDisplay();
    if (!d) return ERR_FINDDISPLAY;
    const bool rerender = (flags & kShapeRerender) != 0;
    if (rerender && !s->out) return ERR_WRONGUSAGE;
    qbTransformOptions& t = *s->topts;
    if (flags & kShapeRecreate) {
        s->width = std::max(1, ClampToInt32(std::round(s->width * t.scalex)));
        s->height = std::max(1, ClampToInt32(std::round(s->height * t.scaley)));
    }
    if (!rerender && IsOffscreen(d->output.type))
        if (int err = PrepareOutputTarget(L)) return err;
    const int32_t x = ResolveSpecialX(s->x, s->width, 0, t.anchorx);
    const int32_t y = ResolveSpecialY(s->y, s->height, 0, t.anchory);
    qbDrawState st = *s->state;
    const bool layered = d->layersEnabled && !rerender;
    // A turned shape layer is measured and drawn untransformed; the layer
    // system draws it again under its matrix.
    qbTransformOptions flat;
    std::shared_ptr<qbShapeLayerData> data;
    if (layered) {
        if (!(flags & kShapeRecreate)) MoveDrawStyleIntoLayer(&st, &s->colour, s->lopts);
        try {
            data = LayerDataOf(*s, st);
        } catch (const std::bad_alloc&) {
            return ERR_MEM;
        }
        if (!IsIdentityMatrix(t.matrix)) {
            flat = t;
            flat.matrix[0] = flat.matrix[3] = 1.0;
            flat.matrix[1] = flat.matrix[2] = 0.0;
            s->topts = &flat;
            if (s->type == kShapeBox && s->path == kShapePathPoints && !ShapeIsCurved(*s) &&
                !(st.fillStyle == FILLNONE && st.lineWidth >= 2))
                s->path = (st.formStyle & kFormAntialias) ? kShapePathPoints : kShapePathDirect;
        }
    }
    const int err = DrawShape(L, s, st, x, y, flags, std::move(data), &t);
    s->topts = &t;
    return err;
}
