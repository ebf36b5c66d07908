// Thin lines of the scan engine: clipping, plain Bresenham lines, the
// anti-aliased line with its three-pixel profile, and the sub-pixel line.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "draw/scan/scan.h"
#include "draw/scan/scanmath.h"

namespace {

// Weights of the anti-aliased line by slope (1/32 steps below 1): a steep
// line crosses fewer pixels per unit of length than a flat one.
constexpr uint8_t kSlopeWeight[32] = {181, 181, 181, 182, 182, 183, 184, 185, 187, 188, 190,
                                      192, 194, 196, 198, 201, 203, 206, 209, 211, 214, 218,
                                      221, 224, 227, 231, 235, 238, 242, 246, 250, 254};

// A bell over the three pixels across the line, in 1/32 pixel steps.
constexpr int32_t kCrossProfile[64] = {
    168, 177, 185, 194, 202, 210, 218, 224, 231, 236, 241, 246, 249, 252, 254, 254, 254, 254, 252, 249, 246, 241,
    236, 231, 224, 218, 210, 202, 194, 185, 177, 168, 158, 149, 140, 131, 122, 114, 105, 97,  89,  82,  75,  68,
    62,  56,  50,  45,  40,  36,  32,  28,  25,  22,  19,  16,  14,  12,  11,  9,   8,   7,   5,   5};

enum : int { kOutLeft = 1, kOutRight = 2, kOutTop = 4, kOutBottom = 8 };

struct ClipBox {
    int64_t x0, y0, x1, y1;  // inclusive
};

int OutCode(const ClipBox& b, const ScanPoint64& p) {
    int code = 0;
    if (p.x < b.x0) code |= kOutLeft;
    if (p.x > b.x1) code |= kOutRight;
    if (p.y < b.y0) code |= kOutTop;
    if (p.y > b.y1) code |= kOutBottom;
    return code;
}

// Moves p along the segment towards q until its coordinate on one axis
// equals bound. The fraction lies in 0..1 and truncates towards p, so the
// other coordinate never leaves the range p..q.
void MoveTo(ScanPoint64* p, const ScanPoint64& q, int64_t bound, bool alongY) {
    if (alongY) {
        p->x += static_cast<int64_t>(Wide(q.x - p->x) * (bound - p->y) / (q.y - p->y));
        p->y = bound;
    } else {
        p->y += static_cast<int64_t>(Wide(q.y - p->y) * (bound - p->x) / (q.x - p->x));
        p->x = bound;
    }
}

bool ClipToBox(const ClipBox& b, ScanPoint64* p0, ScanPoint64* p1) {
    // Each pass puts one endpoint on a border; a few passes settle any segment.
    for (int pass = 0; pass < 8; ++pass) {
        const int c0 = OutCode(b, *p0), c1 = OutCode(b, *p1);
        if (!(c0 | c1)) return true;
        if (c0 & c1) return false;
        ScanPoint64* p = c0 ? p0 : p1;
        const ScanPoint64& q = c0 ? *p1 : *p0;
        const int c = c0 ? c0 : c1;
        if (c & kOutTop) MoveTo(p, q, b.y0, true);
        else if (c & kOutBottom) MoveTo(p, q, b.y1, true);
        else if (c & kOutLeft) MoveTo(p, q, b.x0, false);
        else MoveTo(p, q, b.x1, false);
    }
    return !(OutCode(b, *p0) | OutCode(b, *p1));
}

void PutPixel(const ScanRasterView& v, int32_t bytes, int64_t x, int64_t y, uint32_t value) {
    uint8_t* p = v.pixels + y * v.pitch + x * bytes;
    if (bytes == 1) *p = static_cast<uint8_t>(value);
    else std::memcpy(p, &value, static_cast<size_t>(std::min(bytes, 4)));
}

// Raises a coverage byte towards 255 by weight a (0..256), twice, so that
// crossing lines add up instead of the later one replacing the earlier.
void Raise(uint8_t* c, int32_t a) {
    for (int i = 0; i < 2; ++i) *c = static_cast<uint8_t>(*c + (((255 - *c) * a + 127) >> 8));
}

// The inclusive step range [lo, hi] of k (0..n) whose position start + s*k
// lies in 0..size-1.
bool AxisRange(int64_t start, int64_t s, int64_t n, int64_t size, int64_t* lo, int64_t* hi) {
    int64_t a, b;
    if (s >= 0) {
        a = -start;
        b = size - 1 - start;
    } else {
        a = start - (size - 1);
        b = start;
    }
    *lo = std::max<int64_t>(a, 0);
    *hi = std::min<int64_t>(b, n);
    return *lo <= *hi;
}

// A coverage line from step k0 (pixel p, error e, minor offset m) to k1.
struct CoverageWalk {
    uint8_t* p;
    int64_t e, m, k0, k1, major, minor, majorStep, minorStep;
};

// The pointer stops on the last pixel: one step more could leave the block.
// The minor step is taken by mask: its pattern is as good as random to the
// branch predictor for most slopes.
inline void WalkSteps(uint8_t*& p, int64_t& e, int64_t steps, const CoverageWalk& w, uint8_t byte) {
    const int64_t twoMajor = 2 * w.major, twoMinor = 2 * w.minor;
    for (int64_t k = 0;; ++k) {
        *p = byte;
        if (k == steps) break;
        const int64_t take = e >> 63;
        p += w.majorStep + (w.minorStep & take);
        e += (twoMajor & take) - twoMinor;
    }
}

constexpr int64_t kFloorDivLimit = int64_t{1} << 30;

inline int64_t CeilDiv64(int64_t a, int64_t b) {
    const int64_t q = a / b;
    return q + ((a % b != 0) && ((a < 0) == (b < 0)));
}

// Each step of one walk waits for the error term of the step before, a
// chain of three operations. A long line is walked as four quarters at once
// (each starting from the error term and offset the closed form gives for
// its first step), which keeps four stores in flight instead of one.
void WalkCoverageLine(const CoverageWalk& w, uint8_t byte) {
    const int64_t count = w.k1 - w.k0 + 1;
    if (count < 64 || w.major >= kFloorDivLimit) {
        uint8_t* p = w.p;
        int64_t e = w.e;
        WalkSteps(p, e, count - 1, w, byte);
        return;
    }
    const int64_t q = count / 4;
    uint8_t* p[4];
    int64_t e[4];
    for (int c = 0; c < 4; ++c) {
        // Below 2^30 on both axes every product here fits 64 bits.
        const int64_t k = w.k0 + c * q;
        const int64_t m = CeilDiv64(2 * w.minor * k - w.major, 2 * w.major);
        e[c] = w.major - 2 * w.minor * (k + 1) + 2 * w.major * m;
        p[c] = w.p + (k - w.k0) * w.majorStep + (m - w.m) * w.minorStep;
    }
    const int64_t twoMajor = 2 * w.major, twoMinor = 2 * w.minor;
    for (int64_t i = 0;;) {
        *p[0] = byte;
        *p[1] = byte;
        *p[2] = byte;
        *p[3] = byte;
        if (++i == q) break;
        for (int c = 0; c < 4; ++c) {
            const int64_t take = e[c] >> 63;
            p[c] += w.majorStep + (w.minorStep & take);
            e[c] += (twoMajor & take) - twoMinor;
        }
    }
    // The pixels after the last quarter's, if the count was no multiple of 4.
    const int64_t rest = count - 4 * q;
    if (rest == 0) return;
    const int64_t take = e[3] >> 63;
    p[3] += w.majorStep + (w.minorStep & take);
    e[3] += (twoMajor & take) - twoMinor;
    WalkSteps(p[3], e[3], rest - 1, w, byte);
}

// The 8-connected line. Minor offset after k major steps:
// m(k) = ceil((2 minor k - major) / (2 major)), which the error term of the
// classic loop follows; the loop starts at the first step inside the raster
// so that a clipped line keeps the pixels it has unclipped.
void Line8(const ScanRasterView& v, int32_t bytes, int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint32_t value) {
    const int64_t dx = int64_t{x1} - x0, dy = int64_t{y1} - y0;
    const bool xMajor = std::llabs(dx) >= std::llabs(dy);
    const int64_t major = xMajor ? std::llabs(dx) : std::llabs(dy);
    const int64_t minor = xMajor ? std::llabs(dy) : std::llabs(dx);
    const int64_t sMaj = (xMajor ? dx : dy) < 0 ? -1 : 1, sMin = (xMajor ? dy : dx) < 0 ? -1 : 1;
    const int64_t a0 = xMajor ? x0 : y0, b0 = xMajor ? y0 : x0;
    const int64_t sizeA = xMajor ? v.width : v.height, sizeB = xMajor ? v.height : v.width;
    int64_t k0, k1, m0, m1;
    if (!AxisRange(a0, sMaj, major, sizeA, &k0, &k1)) return;
    if (!AxisRange(b0, sMin, minor, sizeB, &m0, &m1)) return;
    if (minor > 0) {
        const Wide twoMajor = Wide(2) * major, twoMinor = Wide(2) * minor;
        if (m0 > 0) k0 = std::max<int64_t>(k0, static_cast<int64_t>((twoMajor * (m0 - 1) + major) / twoMinor) + 1);
        if (m1 < minor) k1 = std::min<int64_t>(k1, static_cast<int64_t>((twoMajor * m1 + major) / twoMinor));
    }
    if (k0 > k1) return;
    int64_t m = 0, e = major - 2 * minor;
    if (major > 0) {
        m = static_cast<int64_t>(CeilDiv(Wide(2) * minor * k0 - major, Wide(2) * major));
        e = static_cast<int64_t>(Wide(major) - Wide(2) * minor * (k0 + 1) + Wide(2) * major * m);
    }
    if (bytes == 1) {
        // Coverage rasters: step a pointer instead of computing addresses.
        const int64_t stepX = xMajor ? sMaj : sMin, stepY = (xMajor ? sMin : sMaj) * v.pitch;
        const int64_t majorStep = xMajor ? stepX : stepY, minorStep = xMajor ? stepY : stepX;
        const int64_t a = a0 + sMaj * k0, b = b0 + sMin * m;
        uint8_t* p = xMajor ? v.pixels + b * v.pitch + a : v.pixels + a * v.pitch + b;
        WalkCoverageLine({p, e, m, k0, k1, major, minor, majorStep, minorStep}, static_cast<uint8_t>(value));
        return;
    }
    for (int64_t k = k0; k <= k1; ++k) {
        const int64_t a = a0 + sMaj * k, b = b0 + sMin * m;
        if (xMajor) PutPixel(v, bytes, a, b, value);
        else PutPixel(v, bytes, b, a, value);
        if (e < 0) {
            ++m;
            e += 2 * major;
        }
        e -= 2 * minor;
    }
}

void Line4(const ScanRasterView& v, int32_t bytes, int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint32_t value) {
    ScanPoint64 p0{x0, y0}, p1{x1, y1};
    if (!ClipLine(v.width, v.height, &p0, &p1)) return;
    const ClipBox box{0, 0, v.width - 1, v.height - 1};
    if (OutCode(box, p0) | OutCode(box, p1)) {
        SetScanError(kScanLineOutside);
        return;
    }
    const int64_t dx = p1.x - p0.x, dy = p1.y - p0.y;
    const bool xMajor = std::llabs(dx) >= std::llabs(dy);
    const int64_t major = xMajor ? std::llabs(dx) : std::llabs(dy);
    const int64_t minor = xMajor ? std::llabs(dy) : std::llabs(dx);
    const int64_t sx = dx < 0 ? -1 : 1, sy = dy < 0 ? -1 : 1;
    int64_t x = p0.x, y = p0.y, e = 0;
    int64_t majorLeft = major, minorLeft = minor;
    PutPixel(v, bytes, x, y, value);
    for (int64_t i = 0; i < major + minor; ++i) {
        // The counts keep the walk on the segment's own end.
        const bool stepMinor = minorLeft > 0 && (e < 0 || majorLeft == 0);
        if (stepMinor) {
            if (xMajor) y += sy;
            else x += sx;
            e += 2 * (major + minor);
            --minorLeft;
        } else {
            if (xMajor) x += sx;
            else y += sy;
            --majorLeft;
        }
        e -= 2 * minor;
        PutPixel(v, bytes, x, y, value);
    }
}

struct Oriented {
    bool xMajor;
    int64_t a0, b0, a1, b1;  // major and minor coordinates, a0 <= a1
};

Oriented Orient(const ScanPoint64& p0, const ScanPoint64& p1) {
    const bool xMajor = std::llabs(p1.x - p0.x) >= std::llabs(p1.y - p0.y);
    Oriented o{xMajor, xMajor ? p0.x : p0.y, xMajor ? p0.y : p0.x, xMajor ? p1.x : p1.y, xMajor ? p1.y : p1.x};
    if (o.a0 > o.a1) {
        std::swap(o.a0, o.a1);
        std::swap(o.b0, o.b1);
    }
    return o;
}

// Minor change per major step, 16.16.
int64_t Slope(const Oriented& o) { return static_cast<int64_t>((Wide(o.b1 - o.b0) << 16) / ((o.a1 - o.a0) | 1)); }

}  // namespace

bool ClipLine(int32_t width, int32_t height, ScanPoint64* p0, ScanPoint64* p1) {
    if (width < 1 || height < 1) {
        SetScanError(kScanOutOfRange);
        return false;
    }
    return ClipToBox({0, 0, width - 1, height - 1}, p0, p1);
}

void DrawRasterLine(const ScanRasterView& view, int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint32_t value,
                    int32_t mode) {
    const int32_t bytes = LayoutBytesPerPixel(view.layout & 0x1FF);
    if (mode == 0 || mode == 8) {
        if (view.width < 1 || view.height < 1) return;
        Line8(view, bytes, x0, y0, x1, y1, value);
    } else if (mode == 1 || mode == 4) {
        Line4(view, bytes, x0, y0, x1, y1, value);
    } else {
        SetScanError(kScanBadRecord);
    }
}

void DrawRasterLineAA(const ScanRasterView& view, int64_t x0, int64_t y0, int64_t x1, int64_t y1) {
    if (view.width <= 5 || view.height <= 5) return;
    ScanPoint64 p0{x0, y0}, p1{x1, y1};
    const ClipBox inner{int64_t{2} << 16, int64_t{2} << 16, int64_t{view.width - 3} << 16,
                        int64_t{view.height - 3} << 16};
    if (!ClipToBox(inner, &p0, &p1)) return;
    const Oriented o = Orient(p0, p1);
    const int64_t slope = Slope(o);
    const int64_t index = std::llabs(slope) >> 11;
    const int32_t weight = index < 32 ? kSlopeWeight[index] : 256;
    // Pixels sit at whole coordinates, as in the sweep: pixel p spans
    // p - 1/2 .. p + 1/2 on both axes.
    const int64_t first = (o.a0 + 32768) >> 16, last = (o.a1 + 32768) >> 16;
    // Ends fade by how much of their pixel the line covers along the major
    // axis, in eighths: a line ending on a pixel's middle covers half of it.
    const int32_t startEighths = static_cast<int32_t>(((o.a0 + 32768) >> 13) & 7);
    const int32_t endEighths = static_cast<int32_t>(((o.a1 + 32768) >> 13) & 7);
    const int64_t minorMax = int64_t{o.xMajor ? view.height : view.width} - 2;
    // The minor coordinate at the first major pixel, from the pixel's lower
    // border so that f = 16 puts the line on a pixel's middle.
    int64_t minor = o.b0 + static_cast<int64_t>(Wide(slope) * ((first << 16) - o.a0) >> 16) + 32768;
    for (int64_t a = first; a <= last; ++a) {
        int32_t fade = weight;
        if (first == last) fade = weight * std::max(1, endEighths + 1 - startEighths) / 8;
        else if (a == first) fade = weight * (8 - startEighths) / 8;
        else if (a == last) fade = weight * (endEighths + 1) / 8;
        const int64_t b = minor;
        minor += slope;
        const int64_t m = std::clamp<int64_t>(b >> 16, 1, minorMax - 1);
        const int32_t f = static_cast<int32_t>((b >> 11) & 31);
        const int32_t weights[3] = {kCrossProfile[f + 32], kCrossProfile[f], kCrossProfile[63 - f]};
        for (int i = 0; i < 3; ++i) {
            const int64_t mm = m - 1 + i;
            uint8_t* c = o.xMajor ? view.pixels + mm * view.pitch + a : view.pixels + a * view.pitch + mm;
            Raise(c, weights[i] * fade >> 8);
        }
    }
}

void DrawRasterLineSubpixel(const ScanRasterView& view, int64_t x0, int64_t y0, int64_t x1, int64_t y1,
                            uint8_t value) {
    if (view.width < 1 || view.height < 1) return;
    ScanPoint64 p0{x0, y0}, p1{x1, y1};
    const ClipBox box{0, 0, int64_t{view.width - 1} << 16, int64_t{view.height - 1} << 16};
    if (!ClipToBox(box, &p0, &p1)) return;
    const Oriented o = Orient(p0, p1);
    const int64_t slope = Slope(o);
    const int64_t first = (o.a0 + 32768) >> 16, last = (o.a1 + 32768) >> 16;
    const int64_t bytes = LayoutBytesPerPixel(view.layout & 0x1FF);
    // The end pixels' centres lie up to half a pixel past the ends; the
    // minor coordinate stops at the ends' own, or a steep end would light a
    // pixel beyond the line's reach (outside a thick line's quadrilateral).
    const int64_t bLow = std::min(o.b0, o.b1), bHigh = std::max(o.b0, o.b1);
    for (int64_t a = first; a <= last; ++a) {
        const int64_t b =
            std::clamp<int64_t>(o.b0 + static_cast<int64_t>(Wide(slope) * ((a << 16) - o.a0) >> 16), bLow, bHigh);
        const int64_t m = std::clamp<int64_t>((b + 32768) >> 16, 0, int64_t{o.xMajor ? view.height : view.width} - 1);
        if (o.xMajor) PutPixel(view, static_cast<int32_t>(bytes), a, m, value);
        else PutPixel(view, static_cast<int32_t>(bytes), m, a, value);
    }
}
