// The geometric helpers of the outlines: turning points about an anchor,
// bounding boxes, shadow placement, and segment and rectangle clipping.
#include <algorithm>
#include <cmath>

#include "core/numbers.h"
#include "draw/outline.h"

namespace {

// A turned coordinate that misses a whole number only by the rounding of
// the matrix (cos 90 degrees is 6e-17, not 0) counts as that number, so
// that quarter turns map whole pixels onto whole pixels.
int32_t Truncate(double v) {
    const double r = std::nearbyint(v);
    return ClampToInt32(std::fabs(v - r) < 1e-7 ? r : v);
}

qbRect BoundsOf(const std::vector<qbPoint>& points) {
    if (points.empty()) return {};
    int32_t minX = points[0].x, maxX = minX, minY = points[0].y, maxY = minY;
    for (const qbPoint& p : points) {
        minX = std::min(minX, p.x);
        maxX = std::max(maxX, p.x);
        minY = std::min(minY, p.y);
        maxY = std::max(maxY, p.y);
    }
    return RectFromEdges(minX, minY, int64_t{maxX} + 1, int64_t{maxY} + 1);
}

// Points of a huge turned shape may lie at both ends of the 32-bit range:
// the move saturates (such a box is too large for any image anyway).
void Shift(std::vector<qbPoint>* points, int32_t dx, int32_t dy) {
    const auto moved = [](int32_t v, int32_t by) {
        return static_cast<int32_t>(std::clamp<int64_t>(int64_t{v} - by, INT32_MIN, INT32_MAX));
    };
    for (qbPoint& p : *points) {
        p.x = moved(p.x, dx);
        p.y = moved(p.y, dy);
    }
}

}  // namespace

void TransformPoint(double x, double y, int32_t width, int32_t height, const double m[4], int32_t* outX,
                    int32_t* outY, double anchorX, double anchorY) {
    if (IsIdentityMatrix(m)) {
        *outX = Truncate(x);
        *outY = Truncate(y);
        return;
    }
    const double ax = ClampToInt32(width * anchorX), ay = ClampToInt32(height * anchorY);
    const double px = x - ax, py = y - ay;
    *outX = Truncate(m[0] * px + m[2] * py + ax);
    *outY = Truncate(m[1] * px + m[3] * py + ay);
}

qbRect TransformPointList(const double m[4], double anchorX, double anchorY, int32_t width, int32_t height,
                          std::vector<qbPoint>* points, bool shiftToOrigin) {
    for (qbPoint& p : *points) TransformPoint(p.x, p.y, width, height, m, &p.x, &p.y, anchorX, anchorY);
    const qbRect box = BoundsOf(*points);
    if (shiftToOrigin) Shift(points, box.x, box.y);
    return box;
}

qbRect NormalizePointList(std::vector<qbPoint>* points) {
    const qbRect box = BoundsOf(*points);
    Shift(points, box.x, box.y);
    return box;
}

qbShadowPlacement ShadowOffsets(int32_t s, uint32_t d) {
    qbShadowPlacement p;
    p.shapeX = (d == 5 || d == 6 || d == 7) ? s : 0;
    p.shapeY = (d == 0 || d == 1 || d == 7) ? s : 0;
    p.shadowX = (d == 1 || d == 2 || d == 3) ? s : 0;
    p.shadowY = (d == 3 || d == 4 || d == 5) ? s : 0;
    return p;
}

void GrowByShadow(uint32_t d, int32_t size, int32_t* width, int32_t* height) {
    if (d != 2 && d != 6) *height += size;
    if (d != 0 && d != 4) *width += size;
}

void ClampCorners(int32_t corners[4]) {
    for (int i = 0; i < 4; ++i) corners[i] = std::clamp(corners[i], 0, 100);
}

bool ClipSegmentToColumns(double* x0, double* y0, double* x1, double* y1, double left, double right) {
    if (*x0 > *x1) {
        std::swap(*x0, *x1);
        std::swap(*y0, *y1);
    }
    if (*x1 < left || *x0 > right) return false;
    const double dx = *x1 - *x0, dy = *y1 - *y0;
    if (*x0 < left) {
        *y0 += dy * (left - *x0) / dx;
        *x0 = left;
    }
    if (*x1 > right) {
        *y1 -= dy * (*x1 - right) / dx;
        *x1 = right;
    }
    return true;
}

bool ClipRectFlags(int32_t* x, int32_t* y, int32_t* width, int32_t* height, int32_t clipX, int32_t clipY,
                   int32_t clipWidth, int32_t clipHeight, uint32_t* flags) {
    *flags = 0;
    const int64_t left = *x, top = *y, right = int64_t{*x} + *width, bottom = int64_t{*y} + *height;
    const int64_t cl = clipX, ct = clipY, cr = int64_t{clipX} + clipWidth, cb = int64_t{clipY} + clipHeight;
    if (left < cl) *flags |= kCutLeft;
    if (right > cr) *flags |= kCutRight;
    if (top < ct) *flags |= kCutTop;
    if (bottom > cb) *flags |= kCutBottom;
    const qbRect r = RectFromEdges(std::max(left, cl), std::max(top, ct), std::min(right, cr), std::min(bottom, cb));
    *x = r.x;
    *y = r.y;
    *width = r.width;
    *height = r.height;
    return r.width > 0 && r.height > 0;
}

void NormalizeVector(double v[2]) {
    const double len = std::hypot(v[0], v[1]);
    if (len == 0) return;
    v[0] /= len;
    v[1] /= len;
}

void ScaleVector(double v[2], double s) {
    v[0] *= s;
    v[1] *= s;
}
