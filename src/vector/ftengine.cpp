// The inbuilt engine's hooks over FreeType's outlines, stroker and
// rasteriser, on the one library instance the font engine keeps.
#include "vector/ftengine.h"

#include FT_STROKER_H

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "objects/objectoptions.h"
#include "text/inbuiltfont.h"
#include "vector/coverage.h"
#include "vector/geometry.h"

namespace {

// Miter joins are never cut to bevels in practice (16.16, 4096).
constexpr FT_Fixed kMiterLimit = 0x10000000;

FT_Library Library() {
    if (!InbuiltFreeTypeLibrary()) StartInbuiltEngine();
    return InbuiltFreeTypeLibrary();
}

struct StrokerDeleter {
    void operator()(FT_Stroker s) const { FT_Stroker_Done(s); }
};
using StrokerPtr = std::unique_ptr<std::remove_pointer_t<FT_Stroker>, StrokerDeleter>;

qbOutlinePtr NewOutline(FT_UInt points, FT_UInt contours) {
    if (points > kMaxOutlinePoints || contours > kMaxOutlinePoints) return nullptr;
    qbOutlinePtr outline(new (std::nothrow) FT_Outline{});
    if (!outline) return nullptr;
    if (FT_Outline_New(Library(), points, static_cast<FT_Int>(contours), outline.get()) != 0) {
        delete outline.release();
        return nullptr;
    }
    return outline;
}

// A sub-path that never leaves its first point draws nothing, and FreeType's
// stroker would crash closing it (glyphs may hold such a contour).
bool Drawn(const qbSubPath& s) {
    for (const FT_Vector& p : s.points)
        if (p.x != s.points[0].x || p.y != s.points[0].y) return true;
    return false;
}

// Every sub-path as a contour, open ones too: they fill as if closed.
qbOutlinePtr FillOutline(const qbPathGeometry& g, bool evenOdd) {
    size_t points = 0, contours = 0;
    for (const qbSubPath& s : g.subPaths)
        if (Drawn(s)) points += s.points.size(), ++contours;
    qbOutlinePtr outline = NewOutline(static_cast<FT_UInt>(points), static_cast<FT_UInt>(contours));
    if (!outline) return nullptr;
    size_t at = 0, c = 0;
    for (const qbSubPath& s : g.subPaths) {
        if (!Drawn(s)) continue;
        std::memcpy(outline->points + at, s.points.data(), s.points.size() * sizeof(FT_Vector));
        std::memcpy(outline->tags + at, s.tags.data(), s.tags.size());
        at += s.points.size();
        outline->contours[c++] = static_cast<short>(at - 1);
    }
    // The owner flag stays: without it FT_Outline_Done frees nothing.
    if (evenOdd) outline->flags |= FT_OUTLINE_EVEN_ODD_FILL;
    return outline;
}

// FreeType's stroker takes a curve whose every step (start to control
// points to end) is under 2/64 px as no segment at all, and crashes ending a
// sub-path that had none; such segments, and any that stays within 2/64 px
// of its start, are left out here and sub-paths left without any are not
// fed. The steps count, not the distance from the start: a conic of two
// 1/64 px steps ends 2/64 px away and is still nothing to the stroker.
bool Near(const FT_Vector& a, const FT_Vector& b) {
    return a.x - b.x > -2 && a.x - b.x < 2 && a.y - b.y > -2 && a.y - b.y < 2;
}

bool Small(const FT_Vector& from, const FT_Vector* points, int count) {
    bool nearStart = true, smallSteps = true;
    for (int i = 0; i < count; ++i) {
        nearStart = nearStart && Near(points[i], from);
        smallSteps = smallSteps && Near(points[i], i == 0 ? from : points[i - 1]);
    }
    return nearStart || smallSteps;
}

// Walks the sub-path's segments, handing each that is not small to feed
// (its points and count, 1 line, 2 conic, 3 cubic); the number handed.
template <class Feed>
int ForEachSegment(const qbSubPath& s, Feed feed) {
    FT_Vector current = s.points[0];
    int fed = 0;
    for (size_t i = 1; i < s.points.size();) {
        int count = 1;
        if (s.tags[i] == FT_CURVE_TAG_CONIC && i + 1 < s.points.size()) count = 2;
        else if (s.tags[i] == FT_CURVE_TAG_CUBIC && i + 2 < s.points.size()) count = 3;
        const FT_Vector* p = &s.points[i];
        i += static_cast<size_t>(count);
        if (Small(current, p, count)) continue;
        if (!feed(p, count)) return -1;
        current = p[count - 1];
        ++fed;
    }
    return fed;
}

// Feeds one collected sub-path to the stroker with its own kind.
bool StrokeSubPath(FT_Stroker stroker, const qbSubPath& s) {
    // Begun at the first segment fed: a sub-path without any is left out.
    bool begun = false;
    const int fed = ForEachSegment(s, [&](const FT_Vector* p, int count) {
        if (!begun) {
            FT_Vector start = s.points[0];
            if (FT_Stroker_BeginSubPath(stroker, &start, s.closed ? 0 : 1) != 0) return false;
            begun = true;
        }
        FT_Vector v[3] = {p[0], count > 1 ? p[1] : p[0], count > 2 ? p[2] : p[0]};
        if (count == 2) return FT_Stroker_ConicTo(stroker, &v[0], &v[1]) == 0;
        if (count == 3) return FT_Stroker_CubicTo(stroker, &v[0], &v[1], &v[2]) == 0;
        return FT_Stroker_LineTo(stroker, &v[0]) == 0;
    });
    if (fed == 0) return true;
    return fed > 0 && FT_Stroker_EndSubPath(stroker) == 0;
}

FT_Stroker_LineJoin JoinOf(int32_t join) {
    if (join == QB_JOIN_ROUND) return FT_STROKER_LINEJOIN_ROUND;
    if (join == QB_JOIN_BEVEL) return FT_STROKER_LINEJOIN_BEVEL;
    return FT_STROKER_LINEJOIN_MITER_FIXED;
}

FT_Stroker_LineCap CapOf(int32_t cap) {
    if (cap == QB_CAP_ROUND) return FT_STROKER_LINECAP_ROUND;
    if (cap == QB_CAP_SQUARE) return FT_STROKER_LINECAP_SQUARE;
    return FT_STROKER_LINECAP_BUTT;
}

qbOutlinePtr ExportStroke(FT_Stroker stroker) {
    FT_UInt points = 0, contours = 0;
    if (FT_Stroker_GetCounts(stroker, &points, &contours) != 0) return nullptr;
    qbOutlinePtr outline = NewOutline(points, contours);
    if (!outline) return nullptr;
    outline->n_points = 0;
    outline->n_contours = 0;
    FT_Stroker_Export(stroker, outline.get());
    return outline;
}

// The stroker's angles come from 32-bit vector lengths: differences of
// points must stay well inside them, so strokes reach less far than fills.
constexpr FT_Pos kMaxStrokeCoordinate = FT_Pos{1} << 28;

bool Strokable(const qbPathGeometry& g) {
    for (const qbSubPath& s : g.subPaths)
        for (const FT_Vector& p : s.points)
            if (p.x <= -kMaxStrokeCoordinate || p.x >= kMaxStrokeCoordinate || p.y <= -kMaxStrokeCoordinate ||
                p.y >= kMaxStrokeCoordinate)
                return false;
    return true;
}

qbOutlinePtr StrokeGeometry(const qbPathGeometry& g, FT_Fixed radius, FT_Stroker_LineCap cap,
                            FT_Stroker_LineJoin join) {
    if (!Strokable(g) || radius >= kMaxStrokeCoordinate) return nullptr;
    FT_Stroker raw = nullptr;
    if (FT_Stroker_New(Library(), &raw) != 0) return nullptr;
    StrokerPtr stroker(raw);
    FT_Stroker_Set(raw, radius, cap, join, kMiterLimit);
    for (const qbSubPath& s : g.subPaths)
        if (Drawn(s) && !StrokeSubPath(raw, s)) return nullptr;
    return ExportStroke(raw);
}

bool IsIdentity(const double* m) { return !m || IsIdentityMatrix(m); }

bool Transform(FT_Outline* outline, const double* m) {
    if (IsIdentity(m)) return true;
    for (int i = 0; i < 4; ++i)
        if (!std::isfinite(m[i]) || std::fabs(m[i]) > 32767) return false;
    const auto F = [](double v) { return static_cast<FT_Fixed>(std::lround(v * 65536.0)); };
    FT_Matrix matrix{F(m[0]), F(m[2]), F(m[1]), F(m[3])};
    FT_Outline_Transform(outline, &matrix);
    return true;
}

bool Rasterise(FT_Outline* outline, uint8_t* coverage, int32_t bytesPerRow, int32_t width, int32_t height,
               bool antialias) {
    if (!coverage || width <= 0 || height <= 0 || bytesPerRow < width) return false;
    // FreeType's gray rasteriser sorts its cells and wants a cleared
    // bitmap; this one writes each byte once, in runs between the edges.
    if (antialias) return RasteriseCoverage(outline, coverage, bytesPerRow, width, height);
    // FreeType's monochrome rasteriser fills by the winding rule only: an
    // even-odd outline is rasterised for coverage, and a pixel is set where
    // at least half of it is covered.
    if (outline->flags & FT_OUTLINE_EVEN_ODD_FILL) {
        if (!RasteriseCoverage(outline, coverage, bytesPerRow, width, height)) return false;
        for (int32_t y = 0; y < height; ++y) {
            uint8_t* row = coverage + static_cast<size_t>(y) * bytesPerRow;
            for (int32_t x = 0; x < width; ++x) row[x] = row[x] >= 128 ? 255 : 0;
        }
        return true;
    }
    FT_Bitmap bitmap{};
    bitmap.rows = static_cast<unsigned>(height);
    bitmap.width = static_cast<unsigned>(width);
    const int32_t pitch = ((width + 15) >> 3) & ~1;
    std::unique_ptr<uint8_t[]> bits(new (std::nothrow) uint8_t[static_cast<size_t>(pitch) * height]());
    if (!bits) return false;
    bitmap.pitch = -pitch;
    bitmap.buffer = bits.get();
    bitmap.num_grays = 2;
    bitmap.pixel_mode = FT_PIXEL_MODE_MONO;
    // A sliver thinner than a pixel (a pie of a degree) keeps its tips: left
    // out as stubs, its ends would stop a pixel or two short of its points.
    outline->flags |= FT_OUTLINE_INCLUDE_STUBS;
    if (FT_Outline_Get_Bitmap(Library(), outline, &bitmap) != 0) return false;
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* src = bits.get() + static_cast<size_t>(y) * pitch;
        uint8_t* dst = coverage + static_cast<size_t>(y) * bytesPerRow;
        for (int32_t x = 0; x < width; ++x) dst[x] = (src[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
    }
    return true;
}

int HookGetPathExtents(qbPathExtentsArgs* a) {
    double cx, cy;
    qbOutlinePtr outline =
        ConvertPath(a->commands, a->style, a->strokeWidth, a->filled, &cx, &cy, a->originX, a->originY);
    if (!outline || !Transform(outline.get(), a->matrix)) return 0;
    FT_BBox box;
    FT_Outline_Get_CBox(outline.get(), &box);
    a->x1 = box.xMin / 64.0;
    a->y1 = box.yMin / 64.0;
    a->x2 = box.xMax / 64.0;
    a->y2 = box.yMax / 64.0;
    return 1;
}

// The outline DrawPath draws. Untransformed, the record's x1, y1 is the
// path's offset and nothing more: moving the control box's corner onto the
// raster's as well would shift the path by the fraction of a pixel its
// control points stick out past the raster's corner. A turned outline's
// control box goes to the raster's corner.
qbOutlinePtr PlacedOutline(const qbDrawPathArgs& a) {
    double cx, cy;
    qbOutlinePtr outline = ConvertPath(a.commands, a.style, a.strokeWidth, a.filled, &cx, &cy, -a.x1, -a.y1);
    if (!outline) return nullptr;
    if (IsIdentity(a.matrix)) return outline;
    if (!Transform(outline.get(), a.matrix)) return nullptr;
    FT_BBox box;
    FT_Outline_Get_CBox(outline.get(), &box);
    FT_Outline_Translate(outline.get(), -box.xMin, -box.yMin);
    return outline;
}

bool Antialiased(const qbDrawPathArgs& a) { return a.style && a.style->antialias; }

int HookDrawPath(qbDrawPathArgs* a) {
    qbOutlinePtr outline = PlacedOutline(*a);
    if (!outline) return 0;
    return Rasterise(outline.get(), a->coverage, a->bytesPerRow, a->width, a->height, Antialiased(*a)) ? 1 : 0;
}

int HookTranslatePath(qbTranslatePathArgs* a) {
    TranslatePathStream(a->commands, a->dx, a->dy);
    return 1;
}

int HookGetCurrentPoint(const uint8_t* commands, const qbVectorLineStyle*, double* x, double* y) {
    qbPathGeometry g;
    if (!BuildPathGeometry(commands, 0, 0, &g, false)) return 0;
    *x = g.currentX;
    *y = g.currentY;
    return 1;
}

void* HookCreateVectorFont(void* face) { return face; }
void HookFreeVectorFont(void*) {}

void* HookOpenFont(const void* data, size_t size) {
    FT_Face face = nullptr;
    if (!data || size > static_cast<size_t>(LONG_MAX)) return nullptr;
    if (FT_New_Memory_Face(Library(), static_cast<const FT_Byte*>(data), static_cast<FT_Long>(size), 0, &face) != 0)
        return nullptr;
    return face;
}

void HookCloseFont(void* face) {
    if (face) FT_Done_Face(static_cast<FT_Face>(face));
}

qbOutlinePtr ShapeOutline(const qbShapeOutlineArgs& a, double start, double end, int direction) {
    qbPathGeometry g;
    qbPathBuilder b(&g);
    if (a.type == 14) {
        b.AddRoundedBox(0, 0, a.width, a.height, a.corners);
    } else {
        b.AddArc(a.rx, a.ry, a.rx, a.ry, start, end, direction, a.type == 31);
        b.EndSubPath(true);
    }
    if (!b.ok()) return nullptr;
    qbOutlinePtr outline = FillOutline(g, false);
    if (!outline) return nullptr;
    if (!Transform(outline.get(), a.matrix)) return nullptr;
    if (a.filled) return outline;
    FT_Stroker raw = nullptr;
    if (FT_Stroker_New(Library(), &raw) != 0) return nullptr;
    StrokerPtr stroker(raw);
    FT_Stroker_Set(raw, static_cast<FT_Fixed>(a.strokeWidth) * 32, FT_STROKER_LINECAP_ROUND,
                   FT_STROKER_LINEJOIN_ROUND, kMiterLimit);
    if (FT_Stroker_ParseOutline(raw, outline.get(), 0) != 0) return nullptr;
    return ExportStroke(raw);
}

}  // namespace

void qbOutlineDeleter::operator()(FT_Outline* outline) const {
    FT_Outline_Done(Library(), outline);
    delete outline;
}

qbOutlinePtr ConvertPath(const uint8_t* commands, const qbVectorLineStyle* style, int32_t strokeWidth, int filled,
                         double* currentX, double* currentY, double offsetX, double offsetY) {
    if (!commands || std::memcmp(commands, "\0\0\0\0", 4) == 0 || !Library()) return nullptr;
    qbPathGeometry g;
    if (!BuildPathGeometry(commands, offsetX, offsetY, &g)) return nullptr;
    if (currentX) *currentX = g.currentX;
    if (currentY) *currentY = g.currentY;
    if (filled) return FillOutline(g, style && style->fillRule == QB_FILLRULE_EVENODD);
    const int32_t join = style ? style->join : QB_JOIN_MITER;
    const int32_t cap = style ? style->cap : QB_CAP_BUTT;
    return StrokeGeometry(g, static_cast<FT_Fixed>(std::max(strokeWidth, 0)) * 32, CapOf(cap), JoinOf(join));
}

bool DrawPathRows(const qbDrawPathArgs& a, const qbCoverageRows& rows) {
    if (a.width <= 0 || a.height <= 0 || !rows.row) return false;
    qbOutlinePtr outline = PlacedOutline(a);
    if (!outline) return false;
    if (Antialiased(a)) return RasteriseCoverageRows(outline.get(), a.width, a.height, rows);
    // FreeType's bitmap comes whole; its rows are handed over from a plane.
    std::vector<uint8_t> plane;
    try {
        plane.resize(static_cast<size_t>(a.width) * static_cast<size_t>(a.height));
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!Rasterise(outline.get(), plane.data(), a.width, a.width, a.height, false)) return false;
    const int32_t first = std::max(rows.first, 0);
    const int64_t end = std::min<int64_t>(int64_t{rows.first} + rows.count, a.height);
    for (int32_t r = first; r < end; ++r) {
        const uint8_t* row = plane.data() + static_cast<size_t>(r) * static_cast<size_t>(a.width);
        int32_t x0 = 0, x1 = a.width;
        while (x0 < x1 && !row[x0]) ++x0;
        while (x1 > x0 && !row[x1 - 1]) --x1;
        if (x1 > x0) rows.row(rows.user, r, row, x0, x1);
    }
    return true;
}

qbVectorHooks InbuiltVectorHooks() {
    return qbVectorHooks{HookGetPathExtents, HookDrawPath,         HookTranslatePath, HookGetCurrentPoint,
                         HookCreateVectorFont, HookFreeVectorFont, HookOpenFont,      HookCloseFont};
}

qbOutlinePtr BuildShapeOutline(qbShapeOutlineArgs* a) {
    if (a->margin) {
        a->width += 2 * a->margin;
        a->height += 2 * a->margin;
        a->rx += a->margin;
        a->ry += a->margin;
        a->margin = 0;
    }
    double start = a->start, end = a->end;
    int direction = a->direction;
    if (a->type == 31 && (direction ? end < start : end > start)) {
        std::swap(start, end);
        direction = !direction;
    }
    qbOutlinePtr outline = ShapeOutline(*a, start, end, direction);
    if (!outline) return nullptr;
    // An arc is placed where its whole ellipse would be.
    const bool partial = a->type == 31 && !(start == 0 && end == 360);
    qbOutlinePtr placement = partial ? ShapeOutline(*a, 0, 360, 1) : nullptr;
    if (partial && !placement) return nullptr;
    FT_BBox box;
    FT_Outline_Get_CBox(partial ? placement.get() : outline.get(), &box);
    FT_Outline_Translate(outline.get(), -(box.xMin & ~63), -(box.yMin & ~63));
    a->outWidth = static_cast<int32_t>(((box.xMax + 63) >> 6) - (box.xMin >> 6));
    a->outHeight = static_cast<int32_t>(((box.yMax + 63) >> 6) - (box.yMin >> 6));
    return outline;
}

int RenderShapeOutline(qbShapeOutlineArgs* a) {
    qbOutlinePtr outline = BuildShapeOutline(a);
    if (!outline) return 0;
    if (!a->pixels) return 1;
    return Rasterise(outline.get(), a->pixels, a->bytesPerRow, a->outWidth, a->outHeight, true) ? 1 : 0;
}
