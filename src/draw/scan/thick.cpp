// Thick lines of the scan engine: a convex-polygon filler with sub-pixel
// corners, and segments built from a quadrilateral and round caps.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <vector>

#include "draw/scan/scan.h"
#include "draw/scan/scanmath.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

int64_t ToFixed16(int64_t v, int32_t fractionBits) {
    if (fractionBits <= 16) return v * (int64_t{1} << (16 - fractionBits));
    return v >> (fractionBits - 16);
}

int32_t ToPixel32(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

void FillRow(const ScanRasterView& v, int64_t y, int64_t c0, int64_t c1, uint8_t value) {
    c0 = std::max<int64_t>(c0, 0);
    c1 = std::min<int64_t>(c1, v.width - 1);
    if (c0 <= c1) std::memset(v.pixels + y * v.pitch + c0, value, static_cast<size_t>(c1 - c0 + 1));
}

// A midpoint-circle disc, its spans mirrored over the octants.
void FillDisc(const ScanRasterView& v, int64_t cx, int64_t cy, int64_t r, uint8_t value) {
    if (cx + r < 0 || cy + r < 0 || cx - r >= v.width || cy - r >= v.height) return;
    auto span = [&](int64_t y, int64_t half) {
        if (y >= 0 && y < v.height) FillRow(v, y, cx - half, cx + half, value);
    };
    int64_t x = r, y = 0, d = 1 - r;
    while (x >= y) {
        span(cy + y, x);
        span(cy - y, x);
        span(cy + x, y);
        span(cy - x, y);
        ++y;
        if (d < 0) {
            d += 2 * y + 1;
        } else {
            --x;
            d += 2 * (y - x) + 1;
        }
    }
}

// A polygon of points on the circle, denser for larger radii.
void FillRoundCap(const ScanRasterView& v, int64_t cx, int64_t cy, int32_t r, uint8_t value) {
    const int step = r < 3 ? 90 : r < 10 ? 30 : r < 15 ? 18 : 5;
    std::vector<ScanPoint64> pts;
    pts.reserve(static_cast<size_t>(360 / step));
    for (int a = 0; a < 360; a += step) {
        const double rad = a * kPi / 180.0;
        const ScanPoint64 p{cx + std::llround(r * 65536.0 * std::cos(rad)),
                            cy + std::llround(r * 65536.0 * std::sin(rad))};
        if (pts.empty() || pts.back().x != p.x || pts.back().y != p.y) pts.push_back(p);
    }
    FillConvexPolygon(v, pts.data(), static_cast<int32_t>(pts.size()), value, kScanModeAntialias, 16);
}

void ThinLine(const ScanRasterView& v, int64_t x0, int64_t y0, int64_t x1, int64_t y1, uint8_t value, int32_t mode,
              int32_t fractionBits) {
    if (mode >= kScanModeAntialias) {
        DrawRasterLineAA(v, x0, y0, x1, y1);
    } else if (mode != 1 && mode != 4 && fractionBits > 0) {
        DrawRasterLineSubpixel(v, x0, y0, x1, y1, value);
    } else {
        DrawRasterLine(v, ToPixel32((x0 + 32768) >> 16), ToPixel32((y0 + 32768) >> 16), ToPixel32((x1 + 32768) >> 16),
                       ToPixel32((y1 + 32768) >> 16), value, mode);
    }
}

}  // namespace

void FillConvexPolygon(const ScanRasterView& v, const ScanPoint64* points, int32_t count, uint8_t value, int32_t mode,
                       int32_t fractionBits) {
    if (count < 1 || !points || fractionBits < 0 || fractionBits > 30) return;
    const bool antialias = mode >= kScanModeAntialias;
    for (int32_t i = 0; i < count; ++i) {
        const ScanPoint64& a = points[i];
        const ScanPoint64& b = points[i + 1 == count ? 0 : i + 1];
        if (antialias) {
            DrawRasterLineAA(v, ToFixed16(a.x, fractionBits), ToFixed16(a.y, fractionBits),
                             ToFixed16(b.x, fractionBits), ToFixed16(b.y, fractionBits));
        } else if (fractionBits > 0) {
            DrawRasterLineSubpixel(v, ToFixed16(a.x, fractionBits), ToFixed16(a.y, fractionBits),
                                   ToFixed16(b.x, fractionBits), ToFixed16(b.y, fractionBits), value);
        } else {
            DrawRasterLine(v, ToPixel32(a.x), ToPixel32(a.y), ToPixel32(b.x), ToPixel32(b.y), value, kLine8Connected);
        }
        if (GetScanError() < 0) return;
    }
    if (count < 3) return;
    int64_t minY = points[0].y, maxY = points[0].y, minX = points[0].x, maxX = points[0].x;
    for (int32_t i = 1; i < count; ++i) {
        minY = std::min(minY, points[i].y);
        maxY = std::max(maxY, points[i].y);
        minX = std::min(minX, points[i].x);
        maxX = std::max(maxX, points[i].x);
    }
    const int64_t one = int64_t{1} << fractionBits, half = fractionBits ? one >> 1 : 0;
    if (maxX < 0 || maxY < 0 || (minX >> fractionBits) >= v.width || (minY >> fractionBits) >= v.height) return;
    const int64_t rowFirst = std::max<int64_t>(CeilDiv(minY, one), 0);
    const int64_t rowLast = std::min<int64_t>(maxY >> fractionBits, v.height - 1);
    // Each row's span runs between the leftmost and the rightmost crossing
    // of an edge, which for a convex polygon are its two sides.
    for (int64_t y = rowFirst; y <= rowLast; ++y) {
        const int64_t fy = y << fractionBits;
        bool any = false;
        int64_t left = 0, right = 0;
        for (int32_t i = 0; i < count; ++i) {
            const ScanPoint64& a = points[i];
            const ScanPoint64& b = points[i + 1 == count ? 0 : i + 1];
            if (fy < std::min(a.y, b.y) || fy > std::max(a.y, b.y)) continue;
            int64_t xa, xb;
            if (a.y == b.y) {
                xa = std::min(a.x, b.x);
                xb = std::max(a.x, b.x);
            } else {
                xa = xb = a.x + static_cast<int64_t>(Wide(b.x - a.x) * (fy - a.y) / (b.y - a.y));
            }
            left = any ? std::min(left, xa) : xa;
            right = any ? std::max(right, xb) : xb;
            any = true;
        }
        if (!any) continue;
        if (antialias) FillRow(v, y, CeilDiv(left, one), right >> fractionBits, value);
        else FillRow(v, y, (left + half) >> fractionBits, (right + half) >> fractionBits, value);
    }
}

void DrawThickSegment(const ScanRasterView& v, int64_t x0, int64_t y0, int64_t x1, int64_t y1, uint8_t value,
                      int32_t thickness, int32_t mode, int32_t caps, int32_t fractionBits) {
    if (fractionBits < 0 || fractionBits > 30) {
        SetScanError(kScanOutOfRange);
        return;
    }
    x0 = ToFixed16(x0, fractionBits);
    y0 = ToFixed16(y0, fractionBits);
    x1 = ToFixed16(x1, fractionBits);
    y1 = ToFixed16(y1, fractionBits);
    if (thickness < 2) {
        ThinLine(v, x0, y0, x1, y1, value, mode, fractionBits);
        return;
    }
    const int32_t fillMode = mode >= kScanModeAntialias ? kScanModeAntialias : 0;
    const double dx = static_cast<double>(x0 - x1) / 65536.0, dy = static_cast<double>(y1 - y0) / 65536.0;
    const double length = std::hypot(dx, dy);
    if (length > DBL_EPSILON) {
        const double scale = thickness / 2.0 / length * 65536.0;
        const int64_t ox = std::llround(scale * dy), oy = std::llround(scale * dx);
        const ScanPoint64 quad[4] = {{x0 + ox, y0 + oy}, {x0 - ox, y0 - oy}, {x1 - ox, y1 - oy}, {x1 + ox, y1 + oy}};
        FillConvexPolygon(v, quad, 4, value, fillMode, 16);
        if (GetScanError() < 0) return;
    }
    const int32_t r = thickness / 2;
    const ScanPoint64 ends[2] = {{x0, y0}, {x1, y1}};
    for (int i = 0; i < 2; ++i) {
        if (!(caps & (i + 1))) continue;
        if (fillMode) FillRoundCap(v, ends[i].x, ends[i].y, r, value);
        else FillDisc(v, (ends[i].x + 32768) >> 16, (ends[i].y + 32768) >> 16, r, value);
        if (GetScanError() < 0) return;
    }
}
