// The pixels of a one-pixel line inside a rectangle, for the backends that
// draw lines into memory themselves.
#pragma once

#include <algorithm>
#include <cstdint>

namespace linux_backend {

// Calls plot(x, y) for each pixel of the line from (x1, y1) to (x2, y2) that
// lies in [0, width) x [0, height), from the first end on. Along its longer
// axis the line takes one pixel per step, the one nearest the exact line
// (a half rounds away from the first end), so the pixels a rectangle shows
// do not depend on how far the line goes on outside it, and ends far away
// cost no more than the rectangle's size. Both ends are always drawn.
template <class Plot>
void WalkClippedLine(int64_t x1, int64_t y1, int64_t x2, int64_t y2, int64_t width, int64_t height, Plot&& plot) {
    if (width <= 0 || height <= 0) return;
    const int64_t dx = x2 - x1, dy = y2 - y1;
    const bool xMajor = (dx < 0 ? -dx : dx) >= (dy < 0 ? -dy : dy);
    // "a" runs along the longer axis, one pixel per step; "b" follows.
    const int64_t a0 = xMajor ? x1 : y1, b0 = xMajor ? y1 : x1;
    const int64_t da = xMajor ? dx : dy, db = xMajor ? dy : dx;
    const int64_t aSize = xMajor ? width : height, bSize = xMajor ? height : width;
    const int64_t steps = da < 0 ? -da : da;
    const int64_t aStep = da < 0 ? -1 : 1, bStep = db < 0 ? -1 : 1;
    // The products below reach 2^67 for coordinates of 33 bits.
    const __int128 rise = db < 0 ? -db : db;
    const __int128 twiceRun = 2 * static_cast<__int128>(steps);
    const int64_t first = aStep > 0 ? std::max<int64_t>(0, -a0) : std::max<int64_t>(0, a0 - (aSize - 1));
    const int64_t last = aStep > 0 ? std::min(steps, aSize - 1 - a0) : std::min(steps, a0);
    for (int64_t t = first; t <= last; ++t) {
        const int64_t offset = steps == 0 ? 0 : static_cast<int64_t>((2 * t * rise + steps) / twiceRun);
        const int64_t b = b0 + bStep * offset;
        if (b < 0 || b >= bSize) continue;
        const int64_t a = a0 + aStep * t;
        if (xMajor) {
            plot(a, b);
        } else {
            plot(b, a);
        }
    }
}

}  // namespace linux_backend
