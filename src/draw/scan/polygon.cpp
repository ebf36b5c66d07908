// The polygon entry of the scan engine: the edges are drawn as lines (so
// that edges and slivers thinner than a pixel always show), then an
// even-odd sweep fills whole rows between pairs of edges.
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "draw/scan/scan.h"
#include "draw/scan/scanmath.h"

namespace {

// x and step are 16.16 in 64 bits: a 32-bit word overflows from pixel 32768
// on, which large circles reach. An edge covers rows top <= y < bottom.
struct ScanEdge {
    int64_t x = 0;
    int64_t step = 0;
    int32_t top = 0;
    int32_t bottom = 0;
};

bool CompareEdges(const ScanEdge& a, const ScanEdge& b) {
    if (a.top != b.top) return a.top < b.top;
    if (a.x != b.x) return a.x < b.x;
    return a.step < b.step;
}

struct AlignedDeleter {
    void operator()(int32_t* p) const { AlignedFree(p); }
};

// Rows crossed by at most this many edges keep them sorted; rows of more
// use the toggles.
constexpr size_t kFewEdges = 64;

// The edges the sweep crosses, one array a field: on most rows every edge
// stays in order and none ends, and only the x's are read and written.
struct ActiveEdges {
    int64_t* x;
    int64_t* step;
    int32_t* bottom;
};

// Reused from call to call, so that a polygon costs no allocation once the
// buffers have grown to it. The active arrays are sized to the edge count
// up front: the sweep keeps its own count, and its loops work on bare
// pointers so that the row stores (bytes, which may alias anything) do not
// make the compiler reload the vectors' bounds.
struct SweepBuffers {
    std::vector<ScanEdge> edges;
    std::vector<int64_t> x;
    std::vector<int64_t> step;
    std::vector<int32_t> bottom;
    std::vector<uint64_t> toggles;
};

SweepBuffers& Buffers() {
    static SweepBuffers buffers;
    return buffers;
}

// Sets n > 0 bytes to 255. Spans of a few dozen bytes, which slivers and
// shapes of many edges have by the thousand, are cheaper as a few
// overlapping stores than as a call.
inline void FillBytes(uint8_t* p, size_t n) {
    const uint64_t ones = ~uint64_t{0};
    if (n >= 16) {
        if (n > 64) {
            std::memset(p, 255, n);
            return;
        }
        uint8_t* q = p + n - 16;
        std::memcpy(p, &ones, 8);
        std::memcpy(p + 8, &ones, 8);
        if (n > 32) {
            std::memcpy(p + 16, &ones, 8);
            std::memcpy(p + 24, &ones, 8);
            std::memcpy(q - 16, &ones, 8);
            std::memcpy(q - 8, &ones, 8);
        }
        std::memcpy(q, &ones, 8);
        std::memcpy(q + 8, &ones, 8);
    } else if (n >= 8) {
        std::memcpy(p, &ones, 8);
        std::memcpy(p + n - 8, &ones, 8);
    } else if (n >= 4) {
        std::memcpy(p, &ones, 4);
        std::memcpy(p + n - 4, &ones, 4);
    } else {
        p[0] = 255;
        p[n >> 1] = 255;
        p[n - 1] = 255;
    }
}

inline void FillSpan(uint8_t* row, int32_t width, int64_t left, int64_t right) {
    const int64_t c0 = std::max<int64_t>((left + 65535) >> 16, 0);
    const int64_t c1 = std::min<int64_t>(right >> 16, width - 1);
    if (c0 <= c1) FillBytes(row + c0, static_cast<size_t>(c1 - c0 + 1));
}

// Moves the elements from index `from` on into the sorted prefix before it.
void InsertSorted(ActiveEdges a, size_t from, size_t n) {
    for (size_t i = std::max<size_t>(from, 1); i < n; ++i) {
        const int64_t x = a.x[i], step = a.step[i];
        const int32_t bottom = a.bottom[i];
        size_t j = i;
        while (j > 0 && a.x[j - 1] > x) {
            a.x[j] = a.x[j - 1];
            a.step[j] = a.step[j - 1];
            a.bottom[j] = a.bottom[j - 1];
            --j;
        }
        a.x[j] = x;
        a.step[j] = step;
        a.bottom[j] = bottom;
    }
}

// Drops the edges that do not reach row `next`, keeping the order. Returns the
// count kept.
size_t DropEnded(ActiveEdges a, size_t n, int32_t next) {
    size_t kept = 0;
    for (size_t i = 0; i < n; ++i) {
        if (a.bottom[i] <= next) continue;
        a.x[kept] = a.x[i];
        a.step[kept] = a.step[i];
        a.bottom[kept] = a.bottom[i];
        ++kept;
    }
    return kept;
}

// Moves every edge on to row y + 1 and drops those that end before it,
// keeping the order. Returns the count kept.
size_t Advance(ActiveEdges a, size_t n, int32_t y) {
    bool ended = false;
    for (size_t i = 0; i < n; ++i) {
        a.x[i] += a.step[i];
        ended |= a.bottom[i] <= y + 1;
    }
    return ended ? DropEnded(a, n, y + 1) : n;
}

// A row of few edges, sorted by x: each pair fills ceil(left)..floor(right).
// Then the edges advance; where two have crossed, an insertion sort puts
// them back in order (they stay nearly sorted from row to row, so that is
// about one comparison an edge). Returns the count kept.
size_t SweepSorted(uint8_t* row, int32_t width, ActiveEdges a, size_t n, int32_t y) {
    for (size_t i = 0; i + 1 < n; i += 2) FillSpan(row, width, a.x[i], a.x[i + 1]);
    n = Advance(a, n, y);
    bool crossed = false;
    for (size_t i = 1; i < n; ++i) crossed |= a.x[i - 1] > a.x[i];
    if (crossed) InsertSorted(a, 1, n);
    return n;
}

// Each bit of a byte spread to a byte of 0 or 255.
constexpr auto kSpread = [] {
    std::array<uint64_t, 256> t{};
    for (size_t i = 0; i < 256; ++i)
        for (size_t bit = 0; bit < 8; ++bit)
            if (i & (size_t{1} << bit)) t[i] |= uint64_t{0xFF} << (8 * bit);
    return t;
}();

// The same pixels without sorting, for rows of many edges: pixel c is
// filled when an odd number of edges have ceil(x) <= c, or when an edge
// crosses exactly at c (such a pixel belongs to its span whichever side the
// edge is on). The ceilings toggle bits of a row-wide set; a running XOR
// over it gives the filled pixels 64 at a time, which are ORed into the row
// (the edge lines already in it stay).
// Returns the count of edges kept for the next row.
size_t SweepMany(uint8_t* row, int32_t width, ActiveEdges a, size_t n, int32_t y, uint64_t* toggles) {
    bool ended = false;
    for (size_t i = 0; i < n; ++i) {
        const int64_t x = a.x[i];
        const int64_t c = (x + 65535) >> 16;
        if (c < width) {
            const int64_t at = std::max<int64_t>(c, 0);
            toggles[at >> 6] ^= kBit[static_cast<size_t>(at & 63)];
            if ((x & 0xFFFF) == 0 && c >= 0) row[c] = 255;
        }
        a.x[i] = x + a.step[i];
        ended |= a.bottom[i] <= y + 1;
    }
    const size_t kept = ended ? DropEnded(a, n, y + 1) : n;
    uint64_t carry = 0;
    for (int32_t base = 0; base < width; base += 64) {
        uint64_t inside = toggles[base >> 6];
        toggles[base >> 6] = 0;
        inside = PrefixXor(inside) ^ carry;
        carry = 0 - (inside >> 63);
        if (!inside) continue;
        uint8_t* out = row + base;
        const int32_t count = std::min(64, width - base);
        if (count < 64) {
            for (int32_t k = 0; k < count; ++k)
                if (inside >> k & 1) out[k] = 255;
        } else if (inside == ~uint64_t{0}) {
            std::memset(out, 255, 64);
        } else {
            for (int g = 0; g < 8; ++g) {
                const auto bits = static_cast<uint8_t>(inside >> (8 * g));
                if (!bits) continue;
                uint64_t bytes;
                std::memcpy(&bytes, out + 8 * g, 8);
                bytes |= kSpread[bits];
                std::memcpy(out + 8 * g, &bytes, 8);
            }
        }
    }
    return kept;
}

void SweepEdges(const ScanRasterView& v, SweepBuffers& b) {
    std::vector<ScanEdge>& edges = b.edges;
    const size_t edgeCount = edges.size();
    if (edgeCount < 2) return;
    std::sort(edges.begin(), edges.end(), CompareEdges);
    int32_t lastBottom = INT32_MIN;
    for (const ScanEdge& e : edges) lastBottom = std::max(lastBottom, e.bottom);
    const int32_t end = std::min(lastBottom, v.height);
    // Rows above the raster draw nothing: start at row 0 with every edge
    // that crosses it already advanced to it.
    const int32_t start = std::max(edges.front().top, 0);
    if (start >= end) return;
    const ActiveEdges a{b.x.data(), b.step.data(), b.bottom.data()};
    size_t n = 0;
    const auto add = [&a, &n](int64_t x, const ScanEdge& e) {
        a.x[n] = x;
        a.step[n] = e.step;
        a.bottom[n] = e.bottom;
        ++n;
    };
    size_t next = 0;
    for (; next < edgeCount && edges[next].top < start; ++next) {
        const ScanEdge& e = edges[next];
        if (e.bottom <= start) continue;
        add(e.x + static_cast<int64_t>(Wide(e.step) * (int64_t{start} - e.top)), e);
    }
    uint64_t* toggles = b.toggles.data();
    InsertSorted(a, 0, n);
    bool sorted = true;
    for (int32_t y = start; y < end; ++y) {
        const size_t before = n;
        for (; next < edgeCount && edges[next].top == y; ++next)
            add(edges[next].x, edges[next]);
        uint8_t* row = v.pixels + static_cast<int64_t>(y) * v.pitch;
        if (n <= kFewEdges) {
            if (!sorted) InsertSorted(a, 0, n);
            else if (n != before) InsertSorted(a, before, n);
            sorted = true;
            n = SweepSorted(row, v.width, a, n, y);
            continue;
        }
        // Many edges cross one another often, and keeping them sorted would
        // cost more than the toggles.
        n = SweepMany(row, v.width, a, n, y, toggles);
        sorted = false;
    }
}

void FillOutline(const ScanRasterView& v, const int32_t* p, int32_t count, int32_t mode, int32_t thickness) {
    // Every edge ends in a round cap, so each vertex gets one round join.
    for (int32_t i = 0; i < count; ++i) {
        const int32_t prev = i == 0 ? count - 1 : i - 1;
        DrawThickSegment(v, p[2 * prev], p[2 * prev + 1], p[2 * i], p[2 * i + 1], 255, thickness, mode, kCapEnd, 0);
        if (GetScanError() < 0) return;
    }
}

void FillSolid(const ScanRasterView& v, const int32_t* p, int32_t count, bool antialias) {
    SweepBuffers& b = Buffers();
    b.edges.clear();
    try {
        b.edges.reserve(static_cast<size_t>(count));
        if (b.x.size() < static_cast<size_t>(count)) {
            b.x.resize(static_cast<size_t>(count));
            b.step.resize(static_cast<size_t>(count));
            b.bottom.resize(static_cast<size_t>(count));
        }
        if (b.toggles.size() < static_cast<size_t>(v.width) / 64 + 1)
            b.toggles.assign(static_cast<size_t>(v.width) / 64 + 1, 0);
    } catch (const std::bad_alloc&) {
        SetScanError(kScanNoMemory);
        return;
    }
    for (int32_t i = 0; i < count; ++i) {
        const int32_t j = i + 1 == count ? 0 : i + 1;
        int32_t x0 = p[2 * i], y0 = p[2 * i + 1], x1 = p[2 * j], y1 = p[2 * j + 1];
        if (antialias)
            DrawRasterLineAA(v, int64_t{x0} << 16, int64_t{y0} << 16, int64_t{x1} << 16, int64_t{y1} << 16);
        else
            DrawRasterLine(v, x0, y0, x1, y1, 255, kLine8Connected);
        if (GetScanError() < 0) return;
        if (y0 == y1) continue;
        if (y0 > y1) {
            std::swap(x0, x1);
            std::swap(y0, y1);
        }
        ScanEdge e;
        e.x = int64_t{x0} << 16;
        e.step = ((int64_t{x1} - x0) << 16) / (int64_t{y1} - y0);
        e.top = y0;
        e.bottom = y1;
        b.edges.push_back(e);
    }
    SweepEdges(v, b);
}

}  // namespace

void FillPolygon(ScanRaster* raster, const int32_t* points, int32_t count, int antialias, int32_t thickness) {
    SetScanError(0);
    if (!raster || (!points && count > 0)) {
        SetScanError(kScanNullArgument);
        return;
    }
    if (count < 0) {
        SetScanError(kScanOutOfRange);
        return;
    }
    if (thickness < 0 || thickness > 255) {
        SetScanError(kScanBadRecord);
        return;
    }
    ScanRasterView view;
    if (!DescribeRaster(raster, &view)) return;
    if (count == 0) return;
    // The caller's points may change while we draw (they are the renderer's
    // scratch buffers): work on a copy.
    const size_t bytes = static_cast<size_t>(count) * 2 * sizeof(int32_t);
    std::unique_ptr<int32_t, AlignedDeleter> copy(static_cast<int32_t*>(AlignedAlloc(bytes)));
    if (!copy) {
        SetScanError(kScanNoMemory);
        return;
    }
    std::memcpy(copy.get(), points, bytes);
    const bool antialias8 = antialias && (view.layout & 7) == 0;
    if (thickness > 0) FillOutline(view, copy.get(), count, antialias8 ? kScanModeAntialias : 0, thickness);
    else FillSolid(view, copy.get(), count, antialias8);
}

void DrawThickLine(ScanRaster* raster, int32_t x0, int32_t y0, int32_t x1, int32_t y1, int antialias,
                   int32_t thickness) {
    SetScanError(0);
    if (thickness > 255) {
        SetScanError(kScanOutOfRange);
        return;
    }
    ScanRasterView view;
    if (!DescribeRaster(raster, &view)) return;
    const int32_t mode = antialias && (view.layout & 7) == 0 ? kScanModeAntialias : 0;
    DrawThickSegment(view, x0, y0, x1, y1, 255, thickness, mode, kCapStart | kCapEnd, 0);
}
