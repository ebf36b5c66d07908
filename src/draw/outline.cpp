// Outline generators: plain and rounded boxes, ellipses and pie-slice arcs
// as point lists, turned by the shape's matrix about its anchor.
#include "draw/outline.h"

#include <algorithm>
#include <cmath>

#include "core/numbers.h"
#include "draw/draw.h"

namespace {

int32_t StepFor(int32_t radius) {
    if (radius <= 2) return 90;
    if (radius <= 9) return 30;
    if (radius <= 14) return 18;
    return 5;
}

// The table entry of a whole angle: entry k holds the values of 360 - k.
int TableIndex(int32_t degrees) {
    const int32_t a = ((degrees % 360) + 360) % 360;
    return (360 - a) % 360;
}

// A point of the ellipse turned about its centre: 16.16, rounded, then
// floored to whole pixels.
qbPoint EllipsePoint(int32_t cx, int32_t cy, int32_t rx, int32_t ry, int32_t angle, const double m[4]) {
    const double dx = rx * CosDegrees(angle), dy = -ry * SinDegrees(angle);
    const double tx = m[0] * dx + m[2] * dy, ty = m[1] * dx + m[3] * dy;
    const double fx = std::floor(std::round((cx + tx) * 65536.0) / 65536.0);
    const double fy = std::floor(std::round((cy + ty) * 65536.0) / 65536.0);
    return {ClampToInt32(fx), ClampToInt32(fy)};
}

// A hugely scaled figure has points at both ends of the 32-bit range: the
// shifts saturate (such a figure is too large for any image anyway).
void ShiftAll(std::vector<qbPoint>* points, const qbPoint& by) {
    for (qbPoint& p : *points) {
        p.x = SaturatingAdd(p.x, by.x);
        p.y = SaturatingAdd(p.y, by.y);
    }
}

void PushUnique(std::vector<qbPoint>* out, size_t from, const qbPoint& p) {
    if (out->size() > from && out->back() == p) return;
    out->push_back(p);
}

// The offset that turns a whole figure about its anchor instead of its
// middle: the centre turned both ways.
qbPoint AnchorShift(double cx, double cy, int32_t width, int32_t height, const double m[4], double ax, double ay) {
    int32_t x1, y1, x2, y2;
    TransformPoint(cx, cy, width, height, m, &x1, &y1, ax, ay);
    TransformPoint(cx, cy, width, height, m, &x2, &y2, 0.5, 0.5);
    return {SaturatingSub(x1, x2), SaturatingSub(y1, y2)};
}

void CloseList(std::vector<qbPoint>* out, size_t from) {
    if (out->size() > from && !(out->back() == (*out)[from])) out->push_back((*out)[from]);
}

int32_t RoundedBox(const qbShapeGeometry& s, int32_t w, int32_t h, std::vector<qbPoint>* out) {
    const int32_t half = std::min(w, h) / 2;
    int32_t r[4];
    for (int i = 0; i < 4; ++i) {
        const int32_t p = std::clamp(s.corners[i], 1, 100);
        r[i] = static_cast<int32_t>(p / 100.0 * half);
    }
    // Corner centres (or the corner points themselves for radius 0) and the
    // quarter each arc covers: top left, bottom left, bottom right, top right.
    const double cx[4] = {double(r[0]), double(r[1]), double(w - 1 - r[2]), double(w - 1 - r[3])};
    const double cy[4] = {double(r[0]), double(h - 1 - r[1]), double(h - 1 - r[2]), double(r[3])};
    const int32_t from[4] = {90, 180, 270, 0};
    out->clear();
    std::vector<qbPoint> arc;
    for (int i = 0; i < 4; ++i) {
        int32_t px, py;
        TransformPoint(cx[i], cy[i], w, h, s.matrix, &px, &py, 0.5, 0.5);
        if (r[i] <= 0) {
            PushUnique(out, 0, {px, py});
            continue;
        }
        EllipsePoints(&arc, px, py, r[i], r[i], from[i], from[i] + 90, s.matrix, false, false, 0.5, 0.5);
        for (const qbPoint& p : arc) PushUnique(out, 0, p);
    }
    CloseList(out, 0);
    ShiftAll(out, AnchorShift(w / 2, h / 2, w, h, s.matrix, s.anchorX, s.anchorY));
    return static_cast<int32_t>(out->size());
}

int32_t ArcOutline(const qbShapeGeometry& s, int32_t w, int32_t h, std::vector<qbPoint>* out) {
    int32_t start = s.startAngle, end = s.endAngle;
    // Script angles run clockwise on the screen; the generator's run the
    // other way, so the arc goes from -start to -end.
    if (s.clockwise) {
        while (end < start) end += 360;
    } else {
        while (start < end) start += 360;
    }
    EllipsePoints(out, w / 2, h / 2, w / 2, h / 2, -start, -end, s.matrix, true, true, s.anchorX, s.anchorY);
    CloseList(out, 2);
    return static_cast<int32_t>(out->size());
}

}  // namespace

double SinDegrees(int32_t degrees) { return DrawSinTable()[TableIndex(degrees)]; }
double CosDegrees(int32_t degrees) { return DrawCosTable()[TableIndex(degrees)]; }

int32_t EllipsePoints(std::vector<qbPoint>* out, int32_t cx, int32_t cy, int32_t rx, int32_t ry, int32_t start,
                      int32_t end, const double matrix[4], bool withCentre, bool withBounds, double anchorX,
                      double anchorY) {
    out->clear();
    const int32_t step = StepFor(std::max(rx, ry));
    if (start > end) std::swap(start, end);
    while (start < 0) {
        start += 360;
        end += 360;
    }
    while (end > 360) {
        start -= 360;
        end -= 360;
    }
    if (end - start > 360) {
        start = 0;
        end = 360;
    }
    if (withBounds) {
        qbPoint lo = EllipsePoint(cx, cy, rx, ry, 0, matrix), hi = lo;
        for (int32_t a = step; a < 360; a += step) {
            const qbPoint p = EllipsePoint(cx, cy, rx, ry, a, matrix);
            lo = {std::min(lo.x, p.x), std::min(lo.y, p.y)};
            hi = {std::max(hi.x, p.x), std::max(hi.y, p.y)};
        }
        out->push_back(lo);
        out->push_back(hi);
    }
    const size_t first = out->size();
    for (int32_t a = start;; a += step) {
        const int32_t angle = std::min(a, end);
        PushUnique(out, first, EllipsePoint(cx, cy, rx, ry, angle, matrix));
        if (angle == end) break;
    }
    if (withCentre && end - start < 360) PushUnique(out, first, {cx, cy});
    if (out->size() - first < 2) out->push_back(out->back());
    ShiftAll(out, AnchorShift(cx, cy, 2 * rx + 1, 2 * ry + 1, matrix, anchorX, anchorY));
    return static_cast<int32_t>(out->size());
}

int32_t ShapeOutlinePointsInt(const qbShapeGeometry& s, int32_t w, int32_t h, std::vector<qbPoint>* out) {
    out->clear();
    switch (s.type) {
        case kShapeBox: {
            if (std::any_of(s.corners, s.corners + 4, [](int32_t c) { return c > 0; })) return RoundedBox(s, w, h, out);
            *out = {{0, 0}, {w - 1, 0}, {w - 1, h - 1}, {0, h - 1}, {0, 0}};
            return 5;
        }
        case kShapeCircle:
        case kShapeEllipse:
            EllipsePoints(out, w / 2, h / 2, w / 2, h / 2, 0, 360, s.matrix, false, false, s.anchorX, s.anchorY);
            CloseList(out, 0);
            return static_cast<int32_t>(out->size());
        case kShapePolygon:
            for (const qbPointD& p : s.polygon)
                out->push_back({static_cast<int32_t>(std::lround(p.x)), static_cast<int32_t>(std::lround(p.y))});
            return static_cast<int32_t>(out->size());
        case kShapeArc:
            return ArcOutline(s, w, h, out);
        default:
            return 0;
    }
}

int32_t ShapeOutlinePoints(const qbShapeGeometry& s, int32_t w, int32_t h, std::vector<qbPointD>* out) {
    out->clear();
    if (s.type == kShapePolygon) {
        *out = s.polygon;
        return static_cast<int32_t>(out->size());
    }
    std::vector<qbPoint> ints;
    const int32_t n = ShapeOutlinePointsInt(s, w, h, &ints);
    for (const qbPoint& p : ints) out->push_back({double(p.x), double(p.y)});
    return n;
}
