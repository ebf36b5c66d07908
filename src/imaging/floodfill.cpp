// The scan-line flood fill. Each pending entry is a seed pixel with the row
// range of the run that found it; when that seed's run is scanned, the
// parent row under that range is known to be filled already and is skipped,
// which keeps the work near two reads and one write per pixel.
#include "imaging/floodfill.h"

#include <deque>
#include <new>
#include <utility>
#include <vector>

#include "core/errcodes.h"
#include "core/pixelformats.h"

namespace {

struct Pending {
    int32_t x, y;
    int32_t parentLeft, parentRight;  // run of the row it came from; left > right for none
    int32_t direction;                // +1 came from the row above, -1 from below, 0 the seed
};

template <class Pixel>
struct Surface {
    Pixel* pixels;
    int32_t rowLength;
    Pixel mask, border, fill;

    Pixel* Row(int32_t y) const { return pixels + static_cast<ptrdiff_t>(y) * rowLength; }
    bool IsBorder(Pixel p) const { return (p & mask) == border; }
    bool IsOpen(Pixel p) const { return (p & mask) != border && (p & mask) != fill; }
    void Paint(Pixel* p) const { *p = static_cast<Pixel>((*p & ~mask) | fill); }
};

// Pushes one entry per run of open pixels of row y within [from, to].
template <class Pixel>
void QueueRuns(const Surface<Pixel>& s, std::vector<Pending>& stack, int32_t y, int32_t from, int32_t to,
               int32_t left, int32_t right, int32_t direction) {
    const Pixel* row = s.Row(y);
    int32_t x = from;
    while (x <= to) {
        while (x <= to && !s.IsOpen(row[x])) ++x;
        if (x > to) break;
        stack.push_back({x, y, left, right, direction});
        while (x <= to && s.IsOpen(row[x])) ++x;
    }
}

// Scans the neighbour row ny of the run [left, right], leaving out the
// part the parent run already covers.
template <class Pixel>
void QueueNeighbour(const Surface<Pixel>& s, std::vector<Pending>& stack, int32_t ny, int32_t left, int32_t right,
                    int32_t direction, const Pending& from) {
    if (from.direction != 0 && ny == from.y - from.direction && from.parentLeft <= from.parentRight) {
        if (left < from.parentLeft) QueueRuns(s, stack, ny, left, from.parentLeft - 1, left, right, direction);
        if (right > from.parentRight) QueueRuns(s, stack, ny, from.parentRight + 1, right, left, right, direction);
        return;
    }
    QueueRuns(s, stack, ny, left, right, left, right, direction);
}

template <class Pixel>
int Fill(Surface<Pixel> s, int32_t width, int32_t height, int32_t x, int32_t y) {
    if (x < 0 || y < 0 || x >= width || y >= height || s.IsBorder(s.Row(y)[x])) return 0;
    std::vector<Pending> stack;
    try {
        stack.reserve(256);
        stack.push_back({x, y, 1, 0, 0});
        bool seed = true;
        while (!stack.empty()) {
            const Pending p = stack.back();
            stack.pop_back();
            Pixel* row = s.Row(p.y);
            // A later run may have reached this one first.
            if (!seed && !s.IsOpen(row[p.x])) continue;
            seed = false;
            int32_t left = p.x;
            while (left > 0 && !s.IsBorder(row[left - 1])) --left;
            int32_t right = p.x;
            while (right + 1 < width && !s.IsBorder(row[right + 1])) ++right;
            for (int32_t i = left; i <= right; ++i) s.Paint(&row[i]);
            if (p.y > 0) QueueNeighbour(s, stack, p.y - 1, left, right, -1, p);
            if (p.y + 1 < height) QueueNeighbour(s, stack, p.y + 1, left, right, +1, p);
        }
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    return 0;
}

}  // namespace

uint32_t ColourBitsMask32(uint32_t format) {
    return format == kFormatBGRA || format == kFormatRGBA ? 0xFFFFFF00u : 0x00FFFFFFu;
}

int FloodFill32(PixelRows32 rows, int32_t width, int32_t height, int32_t x, int32_t y, uint32_t border,
                uint32_t fill, uint32_t compareMask) {
    Surface<uint32_t> s{rows.pixels + static_cast<ptrdiff_t>(rows.y) * rows.rowLength + rows.x, rows.rowLength,
                        compareMask, border & compareMask, fill & compareMask};
    return Fill(s, width, height, x, y);
}

int FloodFill16(PixelRows16 rows, int32_t width, int32_t height, int32_t x, int32_t y, uint16_t border,
                uint16_t fill) {
    Surface<uint16_t> s{rows.pixels + static_cast<ptrdiff_t>(rows.y) * rows.rowLength + rows.x, rows.rowLength,
                        0xFFFFu, border, fill};
    return Fill(s, width, height, x, y);
}

int FloodFill32Ref(PixelRows32 rows, int32_t width, int32_t height, int32_t x, int32_t y, uint32_t border,
                   uint32_t fill, uint32_t compareMask) {
    uint32_t* base = rows.pixels + static_cast<ptrdiff_t>(rows.y) * rows.rowLength + rows.x;
    auto at = [&](int32_t px, int32_t py) -> uint32_t& { return base[static_cast<ptrdiff_t>(py) * rows.rowLength + px]; };
    border &= compareMask;
    if (x < 0 || y < 0 || x >= width || y >= height || (at(x, y) & compareMask) == border) return 0;
    std::vector<uint8_t> seen(static_cast<size_t>(width) * height, 0);
    std::deque<std::pair<int32_t, int32_t>> queue{{x, y}};
    seen[static_cast<size_t>(y) * width + x] = 1;
    while (!queue.empty()) {
        const auto [px, py] = queue.front();
        queue.pop_front();
        at(px, py) = (at(px, py) & ~compareMask) | (fill & compareMask);
        const int32_t next[4][2] = {{px - 1, py}, {px + 1, py}, {px, py - 1}, {px, py + 1}};
        for (const auto& n : next) {
            if (n[0] < 0 || n[1] < 0 || n[0] >= width || n[1] >= height) continue;
            uint8_t& mark = seen[static_cast<size_t>(n[1]) * width + n[0]];
            if (mark || (at(n[0], n[1]) & compareMask) == border) continue;
            mark = 1;
            queue.push_back({n[0], n[1]});
        }
    }
    return 0;
}
