// Wide lines: Bresenham along the major axis, a span across it.
#include "imaging/wideline.h"

#include <algorithm>
#include <cmath>

namespace {

// Any span this long covers every 32-bit coordinate from any centre, so
// longer ones draw the same pixels.
constexpr int64_t kLongestSpan = int64_t{1} << 40;

int64_t SpanLength(int32_t lineWidth, int64_t dx, int64_t dy, bool steep) {
    if (dx == 0 && dy == 0) return 1;
    const double angle = std::atan2(static_cast<double>(dy), static_cast<double>(dx));
    const double f = steep ? std::sin(angle) : std::cos(angle);
    if (f == 0.0) return 1;
    const double n = static_cast<double>(std::max(lineWidth, 1)) / f;
    if (n >= static_cast<double>(kLongestSpan)) return kLongestSpan;
    return std::max<int64_t>(static_cast<int64_t>(n), 1);
}

}  // namespace

void DrawWideLine(const BlendContext& ctx, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    const int64_t dx = std::llabs(int64_t{x2} - x1), dy = std::llabs(int64_t{y2} - y1);
    const bool steep = dx < dy;
    // The walk runs from the end with the smaller major coordinate.
    const bool swap = steep ? y2 < y1 : x2 < x1;
    const int64_t major0 = steep ? (swap ? y2 : y1) : (swap ? x2 : x1);
    const int64_t minor0 = steep ? (swap ? x2 : x1) : (swap ? y2 : y1);
    const int64_t minorEnd = steep ? (swap ? x1 : x2) : (swap ? y1 : y2);
    const int64_t minorStep = minorEnd >= minor0 ? 1 : -1;
    const int64_t dmaj = steep ? dy : dx, dmin = steep ? dx : dy;

    const int64_t n = SpanLength(ctx.lineWidth, dx, dy, steep);
    const int64_t half = n / 2;

    // Steps whose span lies across rows (or columns) outside the clip
    // rectangle plot nothing: walk only the visible ones.
    const int64_t majorLo = steep ? ctx.clip.top : ctx.clip.left;
    const int64_t majorHi = int64_t{steep ? ctx.clip.bottom : ctx.clip.right} - 1;
    const int64_t minorLo = steep ? ctx.clip.left : ctx.clip.top;
    const int64_t minorHi = int64_t{steep ? ctx.clip.right : ctx.clip.bottom} - 1;
    const int64_t k0 = std::max<int64_t>(0, majorLo - major0);
    const int64_t k1 = std::min(dmaj, majorHi - major0);
    if (k0 > k1 || minorLo > minorHi) return;

    // The Bresenham state after k0 steps. The error e = 2 dmin - dmaj, which
    // each step raises by 2 dmin and lowers by 2 dmaj when it moves the
    // minor coordinate, stays in [2 dmin - 2 dmaj, 2 dmin), so after k steps
    // the minor coordinate has moved floor((2 dmin k + dmaj) / (2 dmaj)) times.
    int64_t moved = 0;
    if (dmaj != 0)
        moved = static_cast<int64_t>((static_cast<__int128>(2 * dmin) * k0 + dmaj) / (2 * static_cast<__int128>(dmaj)));
    int64_t e = static_cast<int64_t>(static_cast<__int128>(2 * dmin - dmaj) + static_cast<__int128>(2 * dmin) * k0 -
                                     static_cast<__int128>(2 * dmaj) * moved);
    int64_t minor = minor0 + minorStep * moved;

    for (int64_t k = k0; k <= k1; ++k) {
        const int64_t from = std::max(minor - half, minorLo);
        const int64_t to = std::min(minor - half + n - 1, minorHi);
        const auto major = static_cast<int32_t>(major0 + k);
        for (int64_t m = from; m <= to; ++m) {
            if (steep)
                PlotBlendedPixel(ctx, static_cast<int32_t>(m), major);
            else
                PlotBlendedPixel(ctx, major, static_cast<int32_t>(m));
        }
        if (e >= 0) {
            minor += minorStep;
            e += 2 * (dmin - dmaj);
        } else {
            e += 2 * dmin;
        }
    }
}
