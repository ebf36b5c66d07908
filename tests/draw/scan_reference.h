// A plain reference of the polygon fill, written from the rules rather than
// from the engine: unclipped Bresenham edge lines, then the even-odd rule at
// whole rows with spans from ceil(left) to floor(right). Also the geometry
// the coverage tests measure pixels with.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace scanref {

struct Raster {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> px;
    Raster(int32_t w, int32_t h) : width(w), height(h), px(static_cast<size_t>(w) * h, 0) {}
    void Set(int64_t x, int64_t y) {
        if (x >= 0 && y >= 0 && x < width && y < height) px[static_cast<size_t>(y * width + x)] = 255;
    }
    uint8_t At(int32_t x, int32_t y) const { return px[static_cast<size_t>(y) * width + x]; }
};

inline void Bresenham(Raster& r, int64_t x0, int64_t y0, int64_t x1, int64_t y1) {
    const int64_t dx = std::llabs(x1 - x0), dy = std::llabs(y1 - y0);
    const int64_t sx = x1 < x0 ? -1 : 1, sy = y1 < y0 ? -1 : 1;
    const bool xMajor = dx >= dy;
    const int64_t major = xMajor ? dx : dy, minor = xMajor ? dy : dx;
    int64_t x = x0, y = y0, e = major - 2 * minor;
    r.Set(x, y);
    for (int64_t i = 0; i < major; ++i) {
        if (xMajor) x += sx;
        else y += sy;
        if (e < 0) {
            if (xMajor) y += sy;
            else x += sx;
            e += 2 * major;
        }
        e -= 2 * minor;
        r.Set(x, y);
    }
}

inline Raster Fill(const std::vector<int32_t>& pts, int32_t w, int32_t h) {
    Raster r(w, h);
    const size_t n = pts.size() / 2;
    struct Edge {
        int64_t x, step;
        int32_t top, bottom;
    };
    std::vector<Edge> edges;
    for (size_t i = 0; i < n; ++i) {
        const size_t j = (i + 1) % n;
        int64_t x0 = pts[2 * i], y0 = pts[2 * i + 1], x1 = pts[2 * j], y1 = pts[2 * j + 1];
        Bresenham(r, x0, y0, x1, y1);
        if (y0 == y1) continue;
        if (y0 > y1) {
            std::swap(x0, x1);
            std::swap(y0, y1);
        }
        edges.push_back({x0 * 65536, (x1 - x0) * 65536 / (y1 - y0), static_cast<int32_t>(y0),
                         static_cast<int32_t>(y1)});
    }
    if (edges.size() < 2) return r;
    for (int32_t y = 0; y < h; ++y) {
        std::vector<int64_t> xs;
        for (const Edge& e : edges)
            if (e.top <= y && y < e.bottom) xs.push_back(e.x + (y - e.top) * e.step);
        std::sort(xs.begin(), xs.end());
        for (size_t i = 0; i + 1 < xs.size(); i += 2) {
            const int64_t c0 = (xs[i] + 65535) >> 16, c1 = xs[i + 1] >> 16;
            for (int64_t c = std::max<int64_t>(c0, 0); c <= std::min<int64_t>(c1, w - 1); ++c) r.Set(c, y);
        }
    }
    return r;
}

inline double SegmentDistance(double px, double py, double ax, double ay, double bx, double by) {
    const double vx = bx - ax, vy = by - ay;
    const double len2 = vx * vx + vy * vy;
    double t = len2 > 0 ? ((px - ax) * vx + (py - ay) * vy) / len2 : 0;
    t = std::clamp(t, 0.0, 1.0);
    return std::hypot(px - (ax + t * vx), py - (ay + t * vy));
}

// Distance from a pixel (at its integer coordinates) to the polygon's sides.
inline double EdgeDistance(const std::vector<int32_t>& pts, double x, double y) {
    const size_t n = pts.size() / 2;
    double best = 1e30;
    for (size_t i = 0; i < n; ++i) {
        const size_t j = (i + 1) % n;
        best = std::min(best, SegmentDistance(x, y, pts[2 * i], pts[2 * i + 1], pts[2 * j], pts[2 * j + 1]));
    }
    return best;
}

// Even-odd inside test.
inline bool Inside(const std::vector<int32_t>& pts, double x, double y) {
    const size_t n = pts.size() / 2;
    bool in = false;
    for (size_t i = 0, j = n - 1; i < n; j = i++) {
        const double xi = pts[2 * i], yi = pts[2 * i + 1], xj = pts[2 * j], yj = pts[2 * j + 1];
        if ((yi > y) != (yj > y) && x < (xj - xi) * (y - yi) / (yj - yi) + xi) in = !in;
    }
    return in;
}

}  // namespace scanref
