// The scan-line flood fill. A pending entry is a stretch of a row to scan,
// the run of the row it came from: wherever the stretch holds an open pixel
// (neither border nor fill colour) a run starts, which is painted out to the
// border on both sides in the same pass that finds its ends. The row the
// entry came from needs scanning again only where the new run reaches past
// the old one, so each pixel is read about once.
#include "imaging/floodfill.h"

#include <algorithm>
#include <deque>
#include <limits>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <new>
#include <utility>
#include <vector>

#include "core/errcodes.h"
#include "core/pixelformats.h"
#include "imaging/floodfillrows.h"

namespace {

// How far ahead of a stretch, in its direction, its column is fetched early:
// a narrow corridor walks down a column a row (and often a page) per step.
constexpr int32_t kPrefetchRows = 32;

// Work in quarters of the time the row-order pass spends on a pixel of the
// rows it labels (measured on the ring maze and the open area: the scan-line
// walk paints a pixel of a wide run in about three quarters of that, and
// takes up a stretch, a row to reach and often a cache miss, in about 24
// times as long).
constexpr int64_t kRowPixelWork = 4;
constexpr int64_t kPixelWork = 3;
constexpr int64_t kStretchWork = 96;
// The walk turns once it has spent this share of what the row-order pass
// over the rows it has reached would cost, and only while it has been
// slower per pixel painted than that pass: a fill then costs at most about
// 1 + 3 / 2 times the cheaper walk, and a corridor about 5 / 3 times the
// row-order pass.
constexpr int64_t kTurnShareNumerator = 2, kTurnShareDenominator = 3;
// Below this much work the row-order pass does not pay for its set-up.
constexpr int64_t kLeastWorkToTurn = int64_t{1} << 18;

template <class Pixel>
using Surface = FloodSurface<Pixel>;
using Pending = FloodPending;

// Paints from x rightwards up to the first border pixel before end; the
// index of that pixel (or end).
template <class Pixel>
int32_t PaintRight(const Surface<Pixel>& s, Pixel* row, int32_t x, int32_t end) {
    while (x < end && !s.IsBorder(row[x])) s.Paint(&row[x++]);
    return x;
}

// The first open pixel at or after x before end, or end.
template <class Pixel>
int32_t SkipClosed(const Surface<Pixel>& s, const Pixel* row, int32_t x, int32_t end) {
    while (x < end && !s.IsOpen(row[x])) ++x;
    return x;
}

#if defined(__SSE2__)
// Four 4-byte pixels a step while none of them stops the walk; the plain
// loops above finish the block that does.
int32_t PaintRight(const Surface<uint32_t>& s, uint32_t* row, int32_t x, int32_t end) {
    // Corridors one pixel wide end at once; they skip the vector set-up.
    if (x >= end || s.IsBorder(row[x])) return x;
    const __m128i mask = _mm_set1_epi32(static_cast<int>(s.mask));
    const __m128i border = _mm_set1_epi32(static_cast<int>(s.border));
    const __m128i fill = _mm_set1_epi32(static_cast<int>(s.fill));
    while (x + 4 <= end) {
        auto* at = reinterpret_cast<__m128i*>(row + x);
        const __m128i v = _mm_loadu_si128(at);
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(v, mask), border)) != 0) break;
        _mm_storeu_si128(at, _mm_or_si128(_mm_andnot_si128(mask, v), fill));
        x += 4;
    }
    while (x < end && !s.IsBorder(row[x])) s.Paint(&row[x++]);
    return x;
}

int32_t SkipClosed(const Surface<uint32_t>& s, const uint32_t* row, int32_t x, int32_t end) {
    if (x >= end || s.IsOpen(row[x])) return x;
    const __m128i mask = _mm_set1_epi32(static_cast<int>(s.mask));
    const __m128i border = _mm_set1_epi32(static_cast<int>(s.border));
    const __m128i fill = _mm_set1_epi32(static_cast<int>(s.fill));
    while (x + 4 <= end) {
        const __m128i v = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x)), mask);
        const __m128i closed = _mm_or_si128(_mm_cmpeq_epi32(v, border), _mm_cmpeq_epi32(v, fill));
        if (_mm_movemask_epi8(closed) != 0xFFFF) break;
        x += 4;
    }
    while (x < end && !s.IsOpen(row[x])) ++x;
    return x;
}
#endif

// Paints the run through x out to the border on both sides; its ends.
template <class Pixel>
std::pair<int32_t, int32_t> PaintRun(const Surface<Pixel>& s, Pixel* row, int32_t x) {
    int32_t left = x;
    while (left > 0 && !s.IsBorder(row[left - 1])) s.Paint(&row[--left]);
    s.Paint(&row[x]);
    return {left, PaintRight(s, row, x + 1, s.width) - 1};
}

template <class Pixel>
void Push(const Surface<Pixel>& s, std::vector<Pending>& stack, int32_t left, int32_t right, int32_t y,
          int32_t direction) {
    if (left <= right && y >= 0 && y < s.height) stack.push_back({left, right, y, direction});
}

// The scan-line walk; once its work passes `budget` (negative: about what
// a row-order pass over the rows it has reached would cost) it hands what
// is left to that pass.
template <class Pixel>
int Fill(const Surface<Pixel>& s, int32_t x, int32_t y, int64_t budget, KernelIsa isa) {
    if (x < 0 || y < 0 || x >= s.width || y >= s.height || s.IsBorder(s.Row(y)[x])) return 0;
    const bool sized = budget < 0;
    int64_t work = 0, painted = 0, turnAt = sized ? kLeastWorkToTurn : budget;
    int32_t top = y, bottom = y;
    std::vector<Pending> stack;
    try {
        stack.reserve(256);
        // The seed's own row is painted whatever colour the seed has.
        const auto [left, right] = PaintRun(s, s.Row(y), x);
        Push(s, stack, left, right, y - 1, -1);
        Push(s, stack, left, right, y + 1, +1);
        while (!stack.empty()) {
            Pending p = stack.back();
            stack.pop_back();
            // The first run found going on in the same direction is taken
            // next at once, so a corridor is walked without the stack.
            for (bool more = true; more;) {
                more = false;
                work += kStretchWork;
                top = std::min(top, p.y);
                bottom = std::max(bottom, p.y);
                if (work > turnAt) {
                    if (sized) {
                        const int64_t rowPass = kRowPixelWork * s.width * (bottom - top + 1);
                        turnAt = std::max(turnAt, rowPass * kTurnShareNumerator / kTurnShareDenominator);
                    }
                    if (work > turnAt && (!sized || work > kRowPixelWork * painted)) {
                        stack.push_back(p);
                        if (FillInRowOrder(s, stack, isa)) return 0;
                        stack.pop_back();
                        turnAt = std::numeric_limits<int64_t>::max();
                    }
                }
                const int32_t ahead = p.y + kPrefetchRows * p.direction;
                if (ahead >= 0 && ahead < s.height) __builtin_prefetch(s.Row(ahead) + p.left);
                Pixel* row = s.Row(p.y);
                const int32_t next = p.y + p.direction, back = p.y - p.direction;
                Pending follow{};
                int32_t i = p.left;
                while (i <= p.right) {
                    i = SkipClosed(s, row, i, p.right + 1);
                    if (i > p.right) break;
                    const auto [runLeft, runRight] = PaintRun(s, row, i);
                    work += kPixelWork * (runRight - runLeft + 1);
                    painted += runRight - runLeft + 1;
                    if (!more && next >= 0 && next < s.height) {
                        follow = {runLeft, runRight, next, p.direction};
                        more = true;
                    } else {
                        Push(s, stack, runLeft, runRight, next, p.direction);
                    }
                    // Back toward the row it came from, only past that run's ends.
                    Push(s, stack, runLeft, p.left - 1, back, -p.direction);
                    Push(s, stack, p.right + 1, runRight, back, -p.direction);
                    i = runRight + 2;
                }
                p = follow;
            }
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

int FloodFill32With(KernelIsa isa, int64_t scanBudget, PixelRows32 rows, int32_t width, int32_t height, int32_t x,
                    int32_t y, uint32_t border, uint32_t fill, uint32_t compareMask) {
    const Surface<uint32_t> s{rows.pixels + static_cast<ptrdiff_t>(rows.y) * rows.rowLength + rows.x,
                              rows.rowLength,
                              width,
                              height,
                              compareMask,
                              border & compareMask,
                              fill & compareMask};
    return Fill(s, x, y, scanBudget, isa);
}

int FloodFill16With(KernelIsa isa, int64_t scanBudget, PixelRows16 rows, int32_t width, int32_t height, int32_t x,
                    int32_t y, uint16_t border, uint16_t fill) {
    const Surface<uint16_t> s{rows.pixels + static_cast<ptrdiff_t>(rows.y) * rows.rowLength + rows.x,
                              rows.rowLength,
                              width,
                              height,
                              0xFFFFu,
                              border,
                              fill};
    return Fill(s, x, y, scanBudget, isa);
}

int FloodFill32(PixelRows32 rows, int32_t width, int32_t height, int32_t x, int32_t y, uint32_t border, uint32_t fill,
                uint32_t compareMask) {
    return FloodFill32With(KernelIsa::Avx512, -1, rows, width, height, x, y, border, fill, compareMask);
}

int FloodFill16(PixelRows16 rows, int32_t width, int32_t height, int32_t x, int32_t y, uint16_t border, uint16_t fill) {
    return FloodFill16With(KernelIsa::Avx512, -1, rows, width, height, x, y, border, fill);
}

int FloodFill32Ref(PixelRows32 rows, int32_t width, int32_t height, int32_t x, int32_t y, uint32_t border,
                   uint32_t fill, uint32_t compareMask) {
    uint32_t* base = rows.pixels + static_cast<ptrdiff_t>(rows.y) * rows.rowLength + rows.x;
    auto at = [&](int32_t px, int32_t py) -> uint32_t& {
        return base[static_cast<ptrdiff_t>(py) * rows.rowLength + px];
    };
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
