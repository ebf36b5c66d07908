// Polygon clipping and arc outlines. Intersections are computed in doubles
// and kept between the edge's end points, so coordinates near the 32-bit
// limits cannot overflow and no NaN or out-of-range double reaches an int.
#include "imaging/geometry.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr int kTrigScale = 2048;

struct TrigTables {
    std::array<int32_t, 360> sine{};
    std::array<int32_t, 360> cosine{};
};

const TrigTables& Trig() {
    static const TrigTables tables = [] {
        TrigTables t;
        for (int a = 0; a < 360; ++a) {
            const double radians = a * 3.14159265358979323846 / 180.0;
            t.sine[a] = static_cast<int32_t>(std::lround(std::sin(radians) * kTrigScale));
            t.cosine[a] = static_cast<int32_t>(std::lround(std::cos(radians) * kTrigScale));
        }
        return t;
    }();
    return tables;
}

// Truncation toward zero, kept between lo and hi; NaN counts as 0.
int32_t ToCoordinate(double v, int32_t lo, int32_t hi) {
    if (std::isnan(v)) v = 0;
    return static_cast<int32_t>(std::clamp(std::trunc(v), static_cast<double>(lo), static_cast<double>(hi)));
}

// A turn leaves rounding noise where the exact value is whole (cos 270 degrees
// is -1.8e-16, not 0); truncating 99.99999999999999 would move a box by a
// pixel depending on where it stands. Real fractions are far larger.
double SnapNearInteger(double v) {
    const double whole = std::round(v);
    return std::fabs(v - whole) < 1e-9 ? whole : v;
}

bool Inside(const qbPoint& p, int32_t value, int edge) {
    switch (edge) {
    case kKeepRightOfX: return p.x >= value;
    case kKeepBelowY: return p.y >= value;
    case kKeepLeftOfX: return p.x <= value;
    default: return p.y <= value;
    }
}

// Where the edge a-b crosses the line; a and b lie on different sides.
qbPoint Crossing(const qbPoint& a, const qbPoint& b, int32_t value, int edge) {
    const double dx = static_cast<double>(b.x) - a.x;
    const double dy = static_cast<double>(b.y) - a.y;
    if (edge == kKeepRightOfX || edge == kKeepLeftOfX) {
        const double y = a.y + (static_cast<double>(value) - a.x) * dy / dx;
        return {value, ToCoordinate(y, std::min(a.y, b.y), std::max(a.y, b.y))};
    }
    const double x = a.x + (static_cast<double>(value) - a.y) * dx / dy;
    return {ToCoordinate(x, std::min(a.x, b.x), std::max(a.x, b.x)), value};
}

qbPoint ArcPoint(int32_t radiusX, int32_t radiusY, int32_t degrees) {
    const TrigTables& t = Trig();
    const int a = ((degrees % 360) + 360) % 360;
    const int64_t x = (2 * int64_t{radiusX} + 1) * t.cosine[a] / kTrigScale + radiusX;
    const int64_t y = (2 * int64_t{radiusY} + 1) * t.sine[a] / kTrigScale + radiusY;
    return {static_cast<int32_t>(std::clamp<int64_t>(x, INT32_MIN, INT32_MAX)),
            static_cast<int32_t>(std::clamp<int64_t>(y, INT32_MIN, INT32_MAX))};
}

}  // namespace

int ClipPolygonToLine(const std::vector<qbPoint>& in, std::vector<qbPoint>& out, int32_t value, int edge) {
    out.clear();
    const size_t n = in.size();
    for (size_t i = 0; i < n; ++i) {
        const qbPoint& a = in[i];
        const qbPoint& b = in[(i + 1) % n];  // the first point closes the polygon
        const bool aIn = Inside(a, value, edge), bIn = Inside(b, value, edge);
        if (aIn) out.push_back(a);
        if (aIn != bIn) out.push_back(Crossing(a, b, value, edge));
    }
    return static_cast<int>(out.size());
}

void BuildArcPolygon(std::vector<qbPoint>& out, int32_t radiusX, int32_t radiusY, int32_t startDegrees,
                     int32_t endDegrees) {
    out.clear();
    const int64_t last = std::min<int64_t>(endDegrees, int64_t{startDegrees} + 360);
    for (int64_t a = startDegrees; a <= last; ++a) out.push_back(ArcPoint(radiusX, radiusY, static_cast<int32_t>(a)));
    if (startDegrees == 0 && endDegrees == 360) return;
    out.push_back({radiusX, radiusY});
    out.push_back(ArcPoint(radiusX, radiusY, startDegrees));
}

void SetIdentityMatrix(double matrix[4]) {
    matrix[0] = 1.0;
    matrix[1] = 0.0;
    matrix[2] = 0.0;
    matrix[3] = 1.0;
}

qbRect IntersectRects(const qbRect& a, const qbRect& b) {
    const int64_t left = std::max(a.x, b.x);
    const int64_t top = std::max(a.y, b.y);
    const int64_t right = std::min(int64_t{a.x} + a.width, int64_t{b.x} + b.width);
    const int64_t bottom = std::min(int64_t{a.y} + a.height, int64_t{b.y} + b.height);
    if (right <= left || bottom <= top) return {};
    return {static_cast<int32_t>(left), static_cast<int32_t>(top),
            static_cast<int32_t>(std::min<int64_t>(right - left, INT32_MAX)),
            static_cast<int32_t>(std::min<int64_t>(bottom - top, INT32_MAX))};
}

void GetAnchoredTransformCorners(int32_t width, int32_t height, double anchorX, double anchorY, const double m[4],
                                 double outX[4], double outY[4]) {
    const double ax = width * anchorX, ay = height * anchorY;
    const double cx[4] = {0, width - 1.0, width - 1.0, 0};
    const double cy[4] = {0, 0, height - 1.0, height - 1.0};
    for (int i = 0; i < 4; ++i) {
        const double px = cx[i] - ax, py = cy[i] - ay;
        outX[i] = m[0] * px + m[1] * py + ax;
        outY[i] = m[2] * px + m[3] * py + ay;
    }
}

qbRect GetAnchoredTransformBounds(int32_t x, int32_t y, int32_t width, int32_t height, double anchorX,
                                  double anchorY, const double m[4]) {
    double tx[4], ty[4];
    GetAnchoredTransformCorners(width, height, anchorX, anchorY, m, tx, ty);
    const double minX = std::min({tx[0], tx[1], tx[2], tx[3]}), maxX = std::max({tx[0], tx[1], tx[2], tx[3]});
    const double minY = std::min({ty[0], ty[1], ty[2], ty[3]}), maxY = std::max({ty[0], ty[1], ty[2], ty[3]});
    return {ToCoordinate(SnapNearInteger(x + minX), INT32_MIN, INT32_MAX),
            ToCoordinate(SnapNearInteger(y + minY), INT32_MIN, INT32_MAX),
            ToCoordinate(SnapNearInteger(maxX - minX + 1), 0, INT32_MAX),
            ToCoordinate(SnapNearInteger(maxY - minY + 1), 0, INT32_MAX)};
}

qbRect RectFromEdges(int64_t left, int64_t top, int64_t right, int64_t bottom) {
    left = std::clamp(left, -kCoordinateLimit, kCoordinateLimit);
    top = std::clamp(top, -kCoordinateLimit, kCoordinateLimit);
    right = std::clamp(right, left, kCoordinateLimit);
    bottom = std::clamp(bottom, top, kCoordinateLimit);
    return {static_cast<int32_t>(left), static_cast<int32_t>(top), static_cast<int32_t>(right - left),
            static_cast<int32_t>(bottom - top)};
}
