// The gradient renderer. Each row is worked in chunks: first the gradient
// position of every pixel (the geometry), then its colour (the stop
// walker). Linear rows are stepped four at a time, each row with its own
// running sum, so that the additions of different rows overlap while every
// row still adds in the same order as a plain per-pixel walk would.
#include "imaging/gradient.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "core/pixelformats.h"

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;
constexpr int32_t kChunk = 512;
constexpr int kLinearRows = 4;

// Truncation towards zero, saturated: far-off positions (a radius of a
// fraction of a pixel) stay positions instead of undefined conversions.
inline int32_t ToFixed(double v) {
    if (v >= 2147483647.0) return INT32_MAX;
    if (v > -2147483648.0) return static_cast<int32_t>(v);
    return INT32_MIN;
}

inline int32_t Saturate(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

qbGradientStopEntry StopOf(uint32_t colour, int32_t position) {
    qbGradientStopEntry e;
    e.position = position;
    e.red = static_cast<uint16_t>(((colour >> 16) & 0xFF) * 257);
    e.green = static_cast<uint16_t>(((colour >> 8) & 0xFF) * 257);
    e.blue = static_cast<uint16_t>((colour & 0xFF) * 257);
    return e;
}

// 0 when the record's stop list cannot be rendered.
int32_t BuildStopTable(const qbGradient& g, qbGradientStopEntry* table) {
    const size_t count = g.stops.size();
    if (count > 0) {
        if (count < 2 || count > static_cast<size_t>(kMaxGradientStops)) return 0;
        for (size_t i = 0; i < count; ++i)
            table[i] = StopOf(static_cast<uint32_t>(g.stops[i].color), ToFixed(g.stops[i].position * 65536.0));
        return static_cast<int32_t>(count);
    }
    const auto start = static_cast<uint32_t>(g.startColor);
    const auto end = static_cast<uint32_t>(g.endColor);
    if (g.style == kGradientConical) {
        table[0] = StopOf(end, 0);
        table[1] = StopOf(start, ToFixed(g.balance * 65536.0));
        table[2] = StopOf(end, 0x10000);
        return 3;
    }
    table[0] = StopOf(start, 0);
    table[1] = StopOf(end, 0x10000);
    return 2;
}

inline uint32_t GreenOf(const qbGradientStopEntry& s) { return s.green >> 8; }
inline uint32_t RedBlueOf(const qbGradientStopEntry& s) {
    return static_cast<uint32_t>(s.red >> 8) << 16 | static_cast<uint32_t>(s.blue >> 8);
}

int32_t FirstStopAbove(const qbGradientWalker* w, int32_t position) {
    int32_t n = 0;
    while (n < w->count && w->stops[n].position <= position) ++n;
    return n;
}

inline void Interpolate(qbGradientWalker* w, int32_t position, uint32_t* rb, uint32_t* g) {
    if (w->reset || position < w->leftPosition || position >= w->rightPosition) ResetGradientWalker(w, position);
    const auto dist = static_cast<uint32_t>(
        static_cast<int32_t>((static_cast<int64_t>(position) - w->leftPosition) * w->stepper >> 16));
    const uint32_t idist = 256u - dist;
    *rb = idist * w->leftRB + dist * w->rightRB;
    *g = idist * w->leftG + dist * w->rightG;
}

// The geometry of one fill: how each row's positions come about.
struct Geometry {
    int type = 0;
    // Linear: position of column 0 of row r is rowBase + rowStep * (r * 65536
    // + 32768 - p1y), then + columnStep per column; flat: every position 0.
    bool flat = false;
    double ax = 0, ay = 0, columnStep = 0, startX = 0, p1y = 0;
    // Radial and conical: the centre in pixels.
    double cx = 0, cy = 0;
    double twoA = 0, fourA = 0;
    bool zeroRadius = false;
    double phi = 0;
};

Geometry LinearGeometry(int32_t angle, int32_t width, int32_t height) {
    const double W = width;
    const double H = height;
    int32_t a = angle % 360;
    if (a < 0) a += 360;
    double X = 0, Y = 0;
    switch (a) {
        case 0: Y = -H; break;
        case 90: X = W; break;
        case 180: Y = H; break;
        case 270: X = -W; break;
        default: {
            const double k = std::tan(a * kPi / 180);
            const double w = a > 180 ? -W : W;
            const double h = a < 90 || a > 270 ? -H : H;
            const double e = h - w * k;
            X = e / (-1 / k - k);
            Y = k * X + e;
        }
    }
    double p1x, p1y, p2x, p2y;
    if (X > 0 && Y > 0) {
        p1x = 0, p1y = H, p2x = X, p2y = H - Y;
    } else if (X >= 0 && Y <= 0) {
        p1x = 0, p1y = 0, p2x = X, p2y = -Y;
    } else if (X <= 0 && Y >= 0) {
        p1x = -X, p1y = Y, p2x = 0, p2y = 0;
    } else {
        p1x = W, p1y = 0, p2x = W + X, p2y = -Y;
    }
    const int32_t P1x = ToFixed(p1x * 65536), P1y = ToFixed(p1y * 65536);
    const int32_t P2x = ToFixed(p2x * 65536), P2y = ToFixed(p2y * 65536);
    Geometry geo;
    geo.type = kGradientLinear;
    const double dx = static_cast<double>(static_cast<int64_t>(P2x) - P1x) / 65536;
    const double dy = static_cast<double>(static_cast<int64_t>(P2y) - P1y) / 65536;
    const double l = dx * dx + dy * dy;
    if (l == 0) {
        geo.flat = true;
        return geo;
    }
    geo.ax = dx / l;
    geo.ay = dy / l;
    geo.columnStep = geo.ax * 65536;
    geo.startX = geo.ax * (32768.0 - P1x);
    geo.p1y = P1y;
    return geo;
}

Geometry RoundGeometry(const qbGradient& g, int32_t width, int32_t height) {
    Geometry geo;
    geo.type = g.style;
    geo.cx = ToFixed(width * g.centerX * 65536) / 65536.0;
    geo.cy = ToFixed(height * g.centerY * 65536) / 65536.0;
    if (g.style == kGradientConical) {
        geo.phi = (static_cast<double>(g.angle) * 65536) * kPi / 180 / 65536;
        return geo;
    }
    const double factor = g.border == 1.0 ? 1.01 - 1.0 : 1 - g.border;
    const double spread = 0.5 + std::max(std::fabs(0.5 - g.centerX), std::fabs(0.5 - g.centerY));
    const int64_t squares = static_cast<int64_t>(width) * width + static_cast<int64_t>(height) * height;
    const int32_t radius = ToFixed(std::sqrt(static_cast<double>(squares)) * spread * factor * 65536);
    geo.zeroRadius = radius == 0;
    const double dr = radius / 65536.0;
    const double a = -(dr * dr);
    geo.twoA = 2 * a;
    geo.fourA = 4 * a;
    return geo;
}

// Positions of columns [c0, c1) of one row of a radial gradient.
void RadialPositions(const Geometry& geo, int32_t row, int32_t c0, int32_t c1, int32_t* out) {
    const double pdy = row + 0.5 - geo.cy;
    const double b = 0.0;
    for (int32_t c = c0; c < c1; ++c) {
        const double pdx = c + 0.5 - geo.cx;
        const double q = pdx * pdx + pdy * pdy;
        const double det = b * b - geo.fourA * q;
        const double root = std::sqrt(det > 0 ? det : 0.0);
        const double t = det > 0 ? (-b - root) / geo.twoA * 65536 : -b / geo.twoA * 65536;
        out[c - c0] = ToFixed(t);
    }
}

void ConicalPositions(const Geometry& geo, int32_t row, int32_t c0, int32_t c1, int32_t* out) {
    const double dy = row + 0.5 - geo.cy;
    for (int32_t c = c0; c < c1; ++c) {
        const double dx = c + 0.5 - geo.cx;
        const double theta = std::fmod(std::atan2(dy, dx) + kTwoPi + geo.phi, kTwoPi);
        out[c - c0] = ToFixed((theta / -kTwoPi + 1.0) * 65536);
    }
}

// Writes the colours of n positions to dst (a row of the buffer, already at
// the first column to write); the first skip positions only move the walker.
void WriteColours(qbGradientWalker* w, const int32_t* positions, int32_t n, int32_t skip, void* dst,
                  int32_t bytesPerPixel, int32_t format) {
    if (bytesPerPixel == 4) {
        auto* out = static_cast<uint32_t*>(dst);
        const bool native = format == kFormatARGB;
        for (int32_t i = 0; i < n; ++i) {
            const uint32_t c = GradientWalkerPixel32(w, positions[i]);
            if (i >= skip) out[i - skip] = native ? c : ARGBToPixel32(format, c);
        }
        return;
    }
    auto* out = static_cast<uint16_t*>(dst);
    const bool native = format == kFormatRGB565;
    for (int32_t i = 0; i < n; ++i) {
        const uint16_t c = GradientWalkerPixel16(w, positions[i]);
        if (i >= skip) out[i - skip] = native ? c : RGB565ToPixel16(format, c);
    }
}

struct Target {
    uint8_t* pixels;
    int32_t bytesPerPixel;
    int32_t format;
    int32_t x, y, pitch;
    int32_t c0, c1;  // columns to write, relative to the rectangle

    void* Row(int32_t r, int32_t c) const {
        const ptrdiff_t index = (static_cast<ptrdiff_t>(y) + r) * pitch + x + c;
        return pixels + index * bytesPerPixel;
    }
};

// Positions come chunk by chunk from columns 0 to c1 so that the walker
// sees every row from its start, as a plain walk would.
template <class Positions>
void RenderRow(const Target& t, int32_t r, const qbGradientStopEntry* stops, int32_t count, int32_t spread,
               Positions positions) {
    qbGradientWalker w;
    InitGradientWalker(&w, stops, count, spread);
    int32_t buffer[kChunk];
    for (int32_t c = 0; c < t.c1; c += kChunk) {
        const int32_t n = std::min(kChunk, t.c1 - c);
        positions(r, c, c + n, buffer);
        const int32_t skip = std::clamp(t.c0 - c, 0, n);
        if (skip < n) WriteColours(&w, buffer, n, skip, t.Row(r, c + skip), t.bytesPerPixel, t.format);
        else WriteColours(&w, buffer, n, n, nullptr, t.bytesPerPixel, t.format);
    }
}

// Rows of one colour (a gradient running straight down or up): the walker
// would meet the same position at every pixel, so one lookup per row.
void RenderLinearRows(const Target& t, const Geometry& geo, int32_t r0, int32_t r1, const qbGradientStopEntry* stops,
                      int32_t count) {
    for (int32_t r = r0; r < r1; ++r) {
        qbGradientWalker w;
        InitGradientWalker(&w, stops, count, kSpreadPad);
        const int32_t position = ToFixed(geo.startX + geo.ay * (r * 65536.0 + 32768 - geo.p1y));
        const int32_t n = t.c1 - t.c0;
        if (t.bytesPerPixel == 4) {
            const uint32_t c = GradientWalkerPixel32(&w, position);
            auto* out = static_cast<uint32_t*>(t.Row(r, t.c0));
            std::fill(out, out + n, t.format == kFormatARGB ? c : ARGBToPixel32(t.format, c));
        } else {
            const uint16_t c = GradientWalkerPixel16(&w, position);
            auto* out = static_cast<uint16_t*>(t.Row(r, t.c0));
            std::fill(out, out + n, t.format == kFormatRGB565 ? c : RGB565ToPixel16(t.format, c));
        }
    }
}

void RenderLinear(const Target& t, const Geometry& geo, int32_t r0, int32_t r1, const qbGradientStopEntry* stops,
                  int32_t count) {
    if (geo.columnStep == 0) {
        RenderLinearRows(t, geo, r0, r1, stops, count);
        return;
    }
    if (geo.ay == 0 && r1 - r0 > 1) {
        // Running straight across, every row starts and steps alike: the
        // first row is worked out and the others are its copies.
        RenderLinear(t, geo, r0, r0 + 1, stops, count);
        const size_t bytes = static_cast<size_t>(t.c1 - t.c0) * static_cast<size_t>(t.bytesPerPixel);
        for (int32_t r = r0 + 1; r < r1; ++r) std::memcpy(t.Row(r, t.c0), t.Row(r0, t.c0), bytes);
        return;
    }
    int32_t buffer[kLinearRows][kChunk];
    for (int32_t r = r0; r < r1; r += kLinearRows) {
        const int32_t rows = std::min(kLinearRows, r1 - r);
        double sum[kLinearRows] = {};
        qbGradientWalker w[kLinearRows];
        for (int k = 0; k < rows; ++k) {
            sum[k] = geo.startX + geo.ay * ((r + k) * 65536.0 + 32768 - geo.p1y);
            InitGradientWalker(&w[k], stops, count, kSpreadPad);
        }
        for (int32_t c = 0; c < t.c1; c += kChunk) {
            const int32_t n = std::min(kChunk, t.c1 - c);
            if (rows == kLinearRows) {
                for (int32_t i = 0; i < n; ++i) {
                    for (int k = 0; k < kLinearRows; ++k) {
                        buffer[k][i] = ToFixed(sum[k]);
                        sum[k] += geo.columnStep;
                    }
                }
            } else {
                for (int k = 0; k < rows; ++k) {
                    for (int32_t i = 0; i < n; ++i) {
                        buffer[k][i] = ToFixed(sum[k]);
                        sum[k] += geo.columnStep;
                    }
                }
            }
            const int32_t skip = std::clamp(t.c0 - c, 0, n);
            for (int k = 0; k < rows; ++k)
                WriteColours(&w[k], buffer[k], n, skip, skip < n ? t.Row(r + k, c + skip) : nullptr,
                             t.bytesPerPixel, t.format);
        }
    }
}

}  // namespace

void InitGradientWalker(qbGradientWalker* w, const qbGradientStopEntry* stops, int32_t count, int32_t spread) {
    *w = qbGradientWalker{};
    w->leftPosition = 0;
    w->rightPosition = 0x10000;
    w->stops = stops;
    w->count = count;
    w->spread = spread;
    w->reset = true;
}

void ResetGradientWalker(qbGradientWalker* w, int32_t position) {
    const qbGradientStopEntry* stops = w->stops;
    const int32_t count = w->count;
    int64_t left = 0, right = 0;
    const qbGradientStopEntry* leftStop = nullptr;
    const qbGradientStopEntry* rightStop = nullptr;
    if (w->spread == kSpreadReflect) {
        const bool mirrored = (position & 0x10000) != 0;
        int32_t x = position & 0xFFFF;
        if (mirrored) x = 0x10000 - x;
        const int32_t n = FirstStopAbove(w, x);
        leftStop = n == 0 ? &stops[0] : &stops[n - 1];
        left = n == 0 ? -static_cast<int64_t>(stops[0].position) : stops[n - 1].position;
        rightStop = n == count ? &stops[count - 1] : &stops[n];
        right = n == count ? 0x20000 - static_cast<int64_t>(stops[count - 1].position) : stops[n].position;
        if (mirrored) {
            const int64_t newLeft = 0x10000 - right;
            right = 0x10000 - left;
            left = newLeft;
            std::swap(leftStop, rightStop);
        }
        const int64_t base = static_cast<int64_t>(position) - (position & 0xFFFF);
        left += base;
        right += base;
    } else {
        const int32_t n = FirstStopAbove(w, position);
        leftStop = n == 0 ? &stops[0] : &stops[n - 1];
        left = n == 0 ? INT32_MIN : stops[n - 1].position;
        rightStop = n == count ? &stops[count - 1] : &stops[n];
        right = n == count ? INT32_MAX : stops[n].position;
    }
    w->leftPosition = Saturate(left);
    w->rightPosition = Saturate(right);
    w->leftG = GreenOf(*leftStop);
    w->leftRB = RedBlueOf(*leftStop);
    w->rightG = GreenOf(*rightStop);
    w->rightRB = RedBlueOf(*rightStop);
    w->stepper = 0;
    if (w->leftPosition != w->rightPosition && (w->leftG != w->rightG || w->leftRB != w->rightRB)) {
        const int64_t width = static_cast<int64_t>(w->rightPosition) - w->leftPosition;
        w->stepper = static_cast<int32_t>(((int64_t{1} << 24) + width / 2) / width);
    }
    w->reset = false;
}

uint32_t GradientWalkerPixel32(qbGradientWalker* w, int32_t position) {
    uint32_t rb = 0, g = 0;
    Interpolate(w, position, &rb, &g);
    return ((rb >> 8) & 0xFF00FFu) | (g & 0xFF00u);
}

uint16_t GradientWalkerPixel16(qbGradientWalker* w, int32_t position) {
    uint32_t rb = 0, g = 0;
    Interpolate(w, position, &rb, &g);
    return static_cast<uint16_t>(((rb >> 16) & 0xF800u) | ((g >> 5) & 0x7E0u) | (((rb >> 8) & 0xFFu) >> 3));
}

void FillGradientPixels(const qbGradientFill& fill) {
    FillGradientPixelsClipped(fill, INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX);
}

void FillGradientPixelsClipped(const qbGradientFill& fill, int32_t clipX0, int32_t clipY0, int32_t clipX1,
                               int32_t clipY1) {
    const int32_t W = fill.width;
    const int32_t H = fill.height;
    if (W <= 0 || H <= 0 || !fill.pixels || !fill.gradient) return;
    if (fill.bytesPerPixel != 2 && fill.bytesPerPixel != 4) return;
    const qbGradient& g = *fill.gradient;
    if (g.style != kGradientLinear && g.style != kGradientRadial && g.style != kGradientConical) return;
    qbGradientStopEntry stops[kMaxGradientStops];
    const int32_t count = BuildStopTable(g, stops);
    if (count == 0) return;

    const auto r0 = static_cast<int32_t>(std::clamp<int64_t>(static_cast<int64_t>(clipY0) - fill.y, 0, H));
    const auto r1 = static_cast<int32_t>(std::clamp<int64_t>(static_cast<int64_t>(clipY1) - fill.y, 0, H));
    Target t{static_cast<uint8_t*>(fill.pixels), fill.bytesPerPixel, fill.pixelFormat, fill.x, fill.y,
             fill.pitch, 0, 0};
    t.c0 = static_cast<int32_t>(std::clamp<int64_t>(static_cast<int64_t>(clipX0) - fill.x, 0, W));
    t.c1 = static_cast<int32_t>(std::clamp<int64_t>(static_cast<int64_t>(clipX1) - fill.x, 0, W));
    if (r0 >= r1 || t.c0 >= t.c1) return;

    if (g.style == kGradientLinear) {
        const Geometry geo = LinearGeometry(g.angle, W, H);
        if (!geo.flat) {
            RenderLinear(t, geo, r0, r1, stops, count);
            return;
        }
        for (int32_t r = r0; r < r1; ++r)
            RenderRow(t, r, stops, count, kSpreadPad, [](int32_t, int32_t c0, int32_t c1, int32_t* out) {
                std::fill(out, out + (c1 - c0), 0);
            });
        return;
    }
    const Geometry geo = RoundGeometry(g, W, H);
    if (g.style == kGradientRadial) {
        for (int32_t r = r0; r < r1; ++r) {
            RenderRow(t, r, stops, count, kSpreadPad, [&](int32_t row, int32_t c0, int32_t c1, int32_t* out) {
                // Below every stop: the first stop's colour, whatever follows it.
                if (geo.zeroRadius)
                    std::fill(out, out + (c1 - c0), INT32_MIN);
                else
                    RadialPositions(geo, row, c0, c1, out);
            });
        }
        return;
    }
    for (int32_t r = r0; r < r1; ++r)
        RenderRow(t, r, stops, count, kSpreadReflect, [&](int32_t row, int32_t c0, int32_t c1, int32_t* out) {
            ConicalPositions(geo, row, c0, c1, out);
        });
}
