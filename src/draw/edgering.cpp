// The edge ring of a polygon: every side moved outwards by the edge size,
// corners mitred, and bevelled where a sharp corner's miter would spike.
#include <algorithm>
#include <cmath>

#include "draw/outline.h"

namespace {

// A corner whose miter would move its vertex further than this many edge
// widths is bevelled: an unlimited miter grows as 1 / sin(angle / 2), and a
// needle-sharp corner would need an image thousands of edges wide.
constexpr double kMiterLimit = 4.0;
// Below this cross product of the unit sides a vertex counts as lying on
// the line through its neighbours.
constexpr double kCollinear = 0.001;

bool Same(const qbPointD& a, const qbPointD& b) { return a.x == b.x && a.y == b.y; }

qbPointD Unit(double x, double y) {
    double v[2] = {x, y};
    NormalizeVector(v);
    return {v[0], v[1]};
}

double Cross(const qbPointD& a, const qbPointD& b) { return a.x * b.y - a.y * b.x; }

// Drops repeated vertices (the closing one too) and vertices on the line
// through their neighbours, until none is left to drop.
std::vector<qbPointD> CleanPolygon(const std::vector<qbPointD>& in) {
    std::vector<qbPointD> v;
    for (const qbPointD& p : in)
        if (v.empty() || !Same(v.back(), p)) v.push_back(p);
    while (v.size() > 1 && Same(v.front(), v.back())) v.pop_back();
    bool dropped = true;
    while (dropped && v.size() >= 3) {
        dropped = false;
        for (size_t i = 0; i < v.size() && v.size() >= 3; ++i) {
            const qbPointD& q = v[(i + v.size() - 1) % v.size()];
            const qbPointD& p = v[i];
            const qbPointD& r = v[(i + 1) % v.size()];
            const qbPointD a = Unit(p.x - q.x, p.y - q.y), b = Unit(p.x - r.x, p.y - r.y);
            if (std::fabs(Cross(a, b)) < kCollinear) {
                v.erase(v.begin() + static_cast<std::ptrdiff_t>(i));
                dropped = true;
                break;
            }
        }
    }
    return v;
}

std::vector<qbPointD> FallbackRectangle(const std::vector<qbPointD>& polygon, double e) {
    double minX = 0, minY = 0, maxX = 0, maxY = 0;
    for (size_t i = 0; i < polygon.size(); ++i) {
        const qbPointD& p = polygon[i];
        minX = i ? std::min(minX, p.x) : p.x;
        minY = i ? std::min(minY, p.y) : p.y;
        maxX = i ? std::max(maxX, p.x) : p.x;
        maxY = i ? std::max(maxY, p.y) : p.y;
    }
    const double x0 = std::round(minX), y0 = std::round(minY);
    const double w = std::round(maxX - minX), h = std::round(maxY - minY);
    return {{x0 - e, y0 - e}, {x0 + w + e, y0 - e}, {x0 + w + e, y0 + h + e}, {x0 - e, y0 + h + e}, {x0 - e, y0 - e}};
}

std::vector<qbPointD> OffsetPolygon(const std::vector<qbPointD>& v, double e) {
    double area = 0;
    for (size_t i = 0; i < v.size(); ++i) {
        const qbPointD& a = v[i];
        const qbPointD& b = v[(i + 1) % v.size()];
        area += a.x * b.y - b.x * a.y;
    }
    if (area == 0) return {};
    // The outward normal of a side, by the winding.
    auto normal = [&](const qbPointD& d) { return area > 0 ? qbPointD{d.y, -d.x} : qbPointD{-d.y, d.x}; };
    std::vector<qbPointD> out;
    for (size_t i = 0; i < v.size(); ++i) {
        const qbPointD& q = v[(i + v.size() - 1) % v.size()];
        const qbPointD& p = v[i];
        const qbPointD& r = v[(i + 1) % v.size()];
        const qbPointD d1 = Unit(p.x - q.x, p.y - q.y), d2 = Unit(r.x - p.x, r.y - p.y);
        const qbPointD n1 = normal(d1), n2 = normal(d2);
        // Where the two moved sides meet: e / cos(half the turn) along the
        // bisector of the normals.
        const double k = e / (1 + n1.x * n2.x + n1.y * n2.y);
        const qbPointD miter{(n1.x + n2.x) * k, (n1.y + n2.y) * k};
        const double length = std::hypot(miter.x, miter.y);
        if (length <= kMiterLimit * e) {
            out.push_back({p.x + miter.x, p.y + miter.y});
        } else if ((Cross(d1, d2) > 0) == (area > 0)) {
            out.push_back({p.x + n1.x * e, p.y + n1.y * e});
            out.push_back({p.x + n2.x * e, p.y + n2.y * e});
        } else {
            // An inner corner: the moved sides cross deep inside the
            // polygon, which the fill covers anyway.
            const double s = kMiterLimit * e / length;
            out.push_back({p.x + miter.x * s, p.y + miter.y * s});
        }
    }
    return out;
}

}  // namespace

qbEdgeRing PolygonEdgeRing(const std::vector<qbPointD>& polygon, int32_t edge) {
    const double e = edge;
    const std::vector<qbPointD> clean = CleanPolygon(polygon);
    std::vector<qbPointD> ring = clean.size() >= 3 ? OffsetPolygon(clean, e) : std::vector<qbPointD>{};
    if (ring.empty()) ring = FallbackRectangle(polygon, e);
    qbEdgeRing out;
    for (const qbPointD& p : ring)
        out.points.push_back({static_cast<int32_t>(std::lround(p.x)), static_cast<int32_t>(std::lround(p.y))});
    const qbRect box = NormalizePointList(&out.points);
    out.offsetX = -box.x;
    out.offsetY = -box.y;
    out.width = box.width;
    out.height = box.height;
    return out;
}
