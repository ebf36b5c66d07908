// Even-odd scan conversion: every scan line collects where the edges cross
// it and fills between pairs of crossings.
#include "display/polygonfill.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/numbers.h"
#include "imaging/bitmap.h"

namespace {

// Where the edge (xl, yl)-(xh, yh) crosses scan line y. The division is
// single precision and the rounding double, which fixes which pixel an
// edge ends on.
// Differences are taken in 64 bits, and the result is kept to 32: points
// may lie anywhere in 32-bit space.
int32_t Crossing(int32_t xl, int32_t yl, int32_t xh, int32_t yh, int32_t y) {
    const int64_t product = (int64_t{xh} - xl) * (int64_t{y} - yl);
    const float step = static_cast<float>(product) / static_cast<float>(int64_t{yh} - yl);
    return ClampToInt32(static_cast<double>(step) + 0.5 + xl);
}

// Pixels x0 .. x1 of a row whose first pixel is each byte's top bit: the
// bytes between the ends whole (a star's span is most of the screen wide).
void SetSpan(uint8_t* row, int32_t x0, int32_t x1) {
    const int32_t first = x0 >> 3, last = x1 >> 3;
    const auto head = static_cast<uint8_t>(0xFFu >> (x0 & 7));
    const auto tail = static_cast<uint8_t>(0xFFu << (7 - (x1 & 7)));
    if (first == last) {
        row[first] |= static_cast<uint8_t>(head & tail);
        return;
    }
    row[first] |= head;
    if (last - first > 1) std::memset(row + first + 1, 0xFF, static_cast<size_t>(last - first - 1));
    row[last] |= tail;
}

}  // namespace

void FillPolygonBytes(uint8_t* data, uint32_t rowBytes, int32_t width, int32_t height, int32_t* intersections,
                      const qbPolygonPoint* points, int32_t count) {
    if (!data || !points || count < 2 || width < 1 || height < 1) return;
    int32_t ymin = points[0].y, ymax = points[0].y;
    for (int32_t i = 1; i < count; ++i) {
        ymin = std::min(ymin, points[i].y);
        ymax = std::max(ymax, points[i].y);
    }
    const int32_t first = std::max(ymin, 0);
    const int32_t last = std::min(ymax, height - 1);
    for (int32_t y = first; y <= last; ++y) {
        int32_t n = 0;
        for (int32_t i = 0; i < count; ++i) {
            const qbPolygonPoint& a = points[i == 0 ? count - 1 : i - 1];
            const qbPolygonPoint& b = points[i];
            if (a.y == b.y) continue;
            const qbPolygonPoint& lo = a.y < b.y ? a : b;
            const qbPolygonPoint& hi = a.y < b.y ? b : a;
            const bool inside = (lo.y <= y && y < hi.y) || (y == ymax && lo.y < y && y <= hi.y);
            if (inside) intersections[n++] = Crossing(lo.x, lo.y, hi.x, hi.y, y);
        }
        // Few crossings per line: insertion sort beats anything clever.
        for (int32_t i = 1; i < n; ++i) {
            const int32_t v = intersections[i];
            int32_t j = i - 1;
            for (; j >= 0 && intersections[j] > v; --j) intersections[j + 1] = intersections[j];
            intersections[j + 1] = v;
        }
        uint8_t* row = data + static_cast<size_t>(y) * rowBytes;
        for (int32_t k = 0; k + 1 < n; k += 2) {
            const int32_t x0 = std::max(intersections[k], 0);
            const int32_t x1 = std::min(intersections[k + 1], width - 1);
            if (x0 <= x1) SetSpan(row, x0, x1);
        }
    }
}

void FillPolygonMask(qbBitmap* mask, const qbPolygonPoint* points, int32_t count, int32_t* work) {
    if (!mask || !mask->plane || count < 1) return;
    std::vector<int32_t> own;
    if (!work) {
        own.resize(static_cast<size_t>(count));
        work = own.data();
    }
    qbBitmapPlane& p = *mask->plane;
    FillPolygonBytes(p.data, p.rowBytes, p.width, p.height, work, points, count);
}
