// The plain polygon fill handed out as runs of pixels, for painters that
// fill a picture straight from the polygon: no raster, and the edge lines
// and spans, which overlap, come out as one run.
//
// The rows are made a band at a time in a small set of bits that stays in
// the first-level cache. Each edge walks its rows of the band on its own,
// toggling the bit of its ceiling on each (the even-odd rule by parity, as
// the raster sweep's rows of many edges do, so no edge list is sorted or
// compacted per row), and each edge's 8-connected line sets its pixels on
// the same rows; a running XOR over each row's toggles then gives its spans.
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <new>
#include <vector>

#include "draw/scan/scan.h"
#include "draw/scan/scanmath.h"

namespace {

// Each segment of the outline is walked once: its edge (x and step 16.16
// in 64 bits, on rows up to lastEdge, none when that is before its first
// row) and its line (rows up to lastLine, one past the edge's unless the
// window ends first), from row y.
struct EdgePart {
    int64_t x;
    int64_t step;
    int32_t y;
    int32_t lastEdge;
    int32_t lastLine;
};

// A line of more rows than columns: one pixel a row. The pixel of major
// step k is minor step m(k) = ceil((2 minor k - major) / (2 major)), the
// classic error term's; e counts down to the next minor step in the
// direction the rows are walked (down the raster).
struct SteepWalk {
    EdgePart edge;
    int64_t x;
    int64_t e;
    int64_t twoMinor;
    int64_t twoMajor;
    int64_t xs;
};

// A line of at least as many columns as rows: on each row the major steps
// k whose m(k) is that row's, from K(m) to K(m + 1) - 1 with
// K(j) = floor((2 major j - major) / (2 minor)) + 1, clamped to 0..major.
// near is the boundary the row shares with the row above, far the other
// one, which moves by the quotient and remainder of 2 major by d (= 2 minor)
// each row, backwards for a line that rises; rem is its remainder.
struct FlatWalk {
    EdgePart edge;
    int64_t near;
    int64_t far;
    int64_t rem;
    int64_t qs;
    int64_t rs;
    int64_t d;
    int64_t x0;
    int64_t sMaj;
    int64_t major;
};

// Reused from call to call, so that a polygon costs no allocation once the
// buffers have grown to it.
struct RunBuffers {
    std::vector<uint64_t> keys;   // first row - start << 32 | segment
    std::vector<uint64_t> order;  // the keys by band
    std::vector<uint32_t> bands;  // keys before each band
    std::vector<SteepWalk> steep;
    std::vector<FlatWalk> flat;
    std::vector<uint64_t> band;
    std::vector<int32_t> runs;
};

RunBuffers& Buffers() {
    static RunBuffers buffers;
    return buffers;
}

// The band's bits, at most this many bytes (so that they stay in the
// first-level cache), and at most this many rows.
constexpr int64_t kBandBytes = 32 * 1024;
constexpr int64_t kBandRows = 256;

// Sets bits lo..hi, 0 <= lo <= hi.
inline void SetBits(uint64_t* bits, int64_t lo, int64_t hi) {
    const int64_t w0 = lo >> 6, w1 = hi >> 6;
    const uint64_t first = ~uint64_t{0} << (lo & 63), last = ~uint64_t{0} >> (63 - (hi & 63));
    if (w0 == w1) {
        bits[w0] |= first & last;
        return;
    }
    bits[w0] |= first;
    for (int64_t w = w0 + 1; w < w1; ++w) bits[w] = ~uint64_t{0};
    bits[w1] |= last;
}

// floor(a / b) with the remainder a - floor(a / b) * b, b > 0.
struct QuotRem {
    int64_t q;
    int64_t r;
};
QuotRem FloorDivRem(Wide a, int64_t b) {
    constexpr Wide kNarrow = Wide(1) << 62;
    if (a > -kNarrow && a < kNarrow) {
        const auto n = static_cast<int64_t>(a);
        int64_t q = n / b, r = n % b;
        if (r < 0) r += b, --q;
        return {q, r};
    }
    const Wide q = FloorDiv(a, b);
    return {static_cast<int64_t>(q), static_cast<int64_t>(a - q * b)};
}

// The walks of the line from (x0, y0) to (x1, y1), starting on row first.
SteepWalk StartSteep(int64_t x0, int64_t y0, int64_t x1, int64_t y1, const EdgePart& edge) {
    const int32_t first = edge.y;
    const int64_t major = std::llabs(y1 - y0), minor = std::llabs(x1 - x0);
    const int64_t sMaj = y1 < y0 ? -1 : 1, sMin = x1 < x0 ? -1 : 1;
    const int64_t k = (first - y0) * sMaj, twoMajor = 2 * major;
    // m = ceil(n / 2 major) = -floor(-n / 2 major), and the error term
    // m 2 major - n, with n = 2 minor k - major.
    const QuotRem qr = k == 0 ? QuotRem{0, major} : FloorDivRem(Wide(major) - Wide(2) * minor * k, twoMajor);
    return {edge, x0 - sMin * qr.q, sMaj > 0 ? qr.r : twoMajor - 1 - qr.r, 2 * minor, twoMajor, sMin * sMaj};
}

FlatWalk StartFlat(int64_t x0, int64_t y0, int64_t x1, int64_t y1, const EdgePart& edge) {
    const int32_t first = edge.y;
    const int64_t major = std::llabs(x1 - x0), minor = std::llabs(y1 - y0), sMaj = x1 < x0 ? -1 : 1;
    // One row (or one pixel): every step.
    if (minor == 0) return {edge, 0, major + 1, 0, 0, 0, 1, x0, sMaj, major};
    const int64_t sMin = y1 < y0 ? -1 : 1, m = (first - y0) * sMin, d = 2 * minor;
    const int64_t q = major / minor, r = 2 * (major - q * minor);
    const auto boundary = [major, d](int64_t j) {
        const QuotRem qr = FloorDivRem(Wide(2) * major * j - major, d);
        return QuotRem{qr.q + 1, qr.r};
    };
    // At the line's own end the boundary shared with the row before lies
    // outside 0..major, where the clamp makes it the end.
    int64_t near;
    QuotRem far;
    if (sMin > 0) {
        near = m == 0 ? 0 : boundary(m).q;
        far = boundary(m + 1);
    } else {
        near = m == minor ? major + 1 : boundary(m + 1).q;
        far = boundary(m);
    }
    return {edge, near, far.q, far.r, sMin * q, sMin * r, d, x0, sMaj, major};
}

// The band: rows b0.. of stride words each, the toggles of a row in its
// first toggleWords words, then its covered pixels in coverWords.
struct Band {
    uint64_t* bits;
    int64_t stride;
    int64_t coverAt;  // offset of the covered pixels in a row
    int32_t words;    // of covered pixels
    int32_t b0;
    int64_t left;
    int64_t width;
};

// The walks below keep every field they use in locals: their stores into
// the band (unsigned words) may alias the records' signed fields, which the
// compiler would otherwise load again after each one.

// The edge on one row: it toggles the bit of its ceiling, c.
inline void EdgeRow(uint64_t* row, int64_t x, int64_t left, int64_t width, int64_t coverAt) {
    const int64_t c = ((x + 65535) >> 16) - left;
    // A ceiling past the row toggles the word after it, which nothing
    // reads.
    const int64_t at = std::clamp<int64_t>(c, 0, width);
    row[at >> 6] ^= kBit[static_cast<size_t>(at & 63)];
    // An edge crossing exactly at c: the pixel belongs to its span
    // whichever side the edge is on.
    if ((x & 0xFFFF) == 0 && static_cast<uint64_t>(c) < static_cast<uint64_t>(width))
        row[coverAt + (c >> 6)] |= kBit[static_cast<size_t>(c & 63)];
}

// Walks a segment over the band's rows up to stop: its edge and line row
// by row, then the line's last row on its own. rowFn(row, y) draws the
// line on a row and moves it on. Returns false when the segment ends in
// the band.
template <class RowFn>
bool WalkSegment(const Band& b, EdgePart& edge, int32_t stop, RowFn rowFn) {
    const int64_t left = b.left, width = b.width, coverAt = b.coverAt, stride = b.stride, step = edge.step;
    int64_t x = edge.x;
    int32_t y = edge.y;
    uint64_t* row = b.bits + (y - b.b0) * stride;
    for (const int32_t both = std::min(edge.lastEdge, stop); y <= both; ++y, row += stride) {
        EdgeRow(row, x, left, width, coverAt);
        x += step;
        rowFn(row + coverAt);
    }
    if (y == edge.lastLine && y <= stop) {
        rowFn(row + coverAt);
        ++y;
    }
    edge.x = x;
    edge.y = y;
    return y <= edge.lastLine;
}

bool WalkSteep(const Band& b, SteepWalk& w, int32_t stop) {
    const int64_t left = b.left, twoMinor = w.twoMinor, twoMajor = w.twoMajor, xs = w.xs;
    const auto width = static_cast<uint64_t>(b.width);
    int64_t x = w.x, e = w.e;
    const bool more = WalkSegment(b, w.edge, stop, [&](uint64_t* cover) {
        const auto c = static_cast<uint64_t>(x - left);
        if (c < width) cover[c >> 6] |= kBit[c & 63];
        e -= twoMinor;
        const int64_t take = e >> 63;
        e += twoMajor & take;
        x += xs & take;
    });
    w.x = x;
    w.e = e;
    return more;
}

// Down: the line falls as the rows are walked, so that a row's steps run
// from near to far; forward: its steps go right.
template <bool down, bool forward>
bool WalkFlatWay(const Band& b, FlatWalk& w, int32_t stop) {
    const int64_t left = b.left, last = b.width - 1;
    const int64_t x0 = w.x0, major = w.major, qs = w.qs, rs = w.rs, d = w.d;
    int64_t near = w.near, far = w.far, rem = w.rem;
    const bool more = WalkSegment(b, w.edge, stop, [&](uint64_t* cover) {
        int64_t lo = down ? near : far, hi = (down ? far : near) - 1;
        lo = lo < 0 ? 0 : lo;
        hi = hi > major ? major : hi;
        int64_t c0 = (forward ? x0 + lo : x0 - hi) - left, c1 = (forward ? x0 + hi : x0 - lo) - left;
        c0 = c0 < 0 ? 0 : c0;
        c1 = c1 > last ? last : c1;
        if (c0 <= c1) SetBits(cover, c0, c1);
        // The carry or borrow of the remainder, without a branch: which
        // one comes is as good as random.
        near = far;
        rem += rs;
        const int64_t over = -static_cast<int64_t>(rem >= d), under = rem >> 63;
        rem += (d & under) - (d & over);
        far += qs + under - over;
    });
    w.near = near;
    w.far = far;
    w.rem = rem;
    return more;
}

bool WalkFlat(const Band& b, FlatWalk& w, int32_t stop) {
    if (w.qs >= 0) return w.sMaj > 0 ? WalkFlatWay<true, true>(b, w, stop) : WalkFlatWay<true, false>(b, w, stop);
    return w.sMaj > 0 ? WalkFlatWay<false, true>(b, w, stop) : WalkFlatWay<false, false>(b, w, stop);
}

// Walks every item of the list over the band's rows up to stop; those
// that end there leave the list. Returns the count kept.
template <class Walk, class Step>
size_t WalkAll(Walk* items, size_t n, Step step) {
    for (size_t i = 0; i < n;) {
        if (step(items[i])) ++i;
        else items[i] = items[--n];
    }
    return n;
}

// Appends the runs of set bits of words (bit i of word i >> 6 is column
// left + i), which it clears, as pairs first, past-last to runs: every bit that differs from
// the one before it starts or ends a run. The first four of a word are
// written whether they exist or not (runs has room for them), which spares
// a loop whose end would be mispredicted on most rows. Returns the count
// of ints written.
int32_t BitRuns(uint64_t* bits, int32_t words, int64_t left, int32_t* runs) {
    int32_t n = 0;
    uint64_t before = 0;
    for (int32_t w = 0; w < words; ++w) {
        const uint64_t word = bits[w];
        bits[w] = 0;
        uint64_t edges = word ^ (word << 1 | before);
        before = word >> 63;
        // 64 bits wide: a missing boundary's count of 64 may pass INT32_MAX.
        const int64_t base = left + 64 * int64_t{w};
        for (int k = 0; k < 4; ++k) {
            runs[n] = static_cast<int32_t>(base + std::countr_zero(edges));
            n += edges != 0;
            edges &= edges - 1;
        }
        for (; edges; edges &= edges - 1) runs[n++] = static_cast<int32_t>(base + std::countr_zero(edges));
    }
    if (before) runs[n++] = static_cast<int32_t>(left + 64 * int64_t{words});
    return n;
}

// Each row of the band: the XOR over its toggles gives its spans, which
// join its line pixels; its runs go to the sink and the row is cleared.
void EmitRows(const Band& b, int32_t rows, int32_t* runs, ScanRunSink sink, void* context) {
    const uint64_t tail = b.width & 63 ? ~uint64_t{0} >> (64 - (b.width & 63)) : ~uint64_t{0};
    uint64_t* row = b.bits;
    for (int32_t r = 0; r < rows; ++r, row += b.stride) {
        uint64_t* cover = row + b.coverAt;
        uint64_t carry = 0;
        for (int32_t w = 0; w < b.words; ++w) {
            const uint64_t inside = PrefixXor(row[w]) ^ carry;
            row[w] = 0;
            carry = 0 - (inside >> 63);
            cover[w] |= inside;
        }
        row[b.words] = 0;
        // Past the last toggle the parity may stay odd up to the word's end.
        cover[b.words - 1] &= tail;
        const int32_t n = BitRuns(cover, b.words, b.left, runs);
        if (n) sink(context, b.b0 + r, runs, n / 2);
    }
}

bool Reserve(RunBuffers& b, size_t count, size_t bandWords, size_t width) {
    try {
        if (b.order.size() < count) {
            b.keys.resize(count);
            b.order.resize(count);
            b.steep.resize(count);
            b.flat.resize(count);
        }
        if (b.band.size() < bandWords) b.band.assign(bandWords, 0);
        // A row's runs, and the room BitRuns writes past them.
        if (b.runs.size() < width + 6) b.runs.resize(width + 6);
    } catch (const std::bad_alloc&) {
        SetScanError(kScanNoMemory);
        return false;
    }
    return true;
}

// Puts the keys in the order of their bands (of bandRows rows each, count
// bands), without a sort's unpredictable comparisons: a count of each
// band's keys, then each key to its band's place. Bands always start on a
// multiple of bandRows, so each is wholly before or after every key of
// another. A window far taller than the polygon has edges is sorted
// instead.
bool OrderByBand(RunBuffers& b, size_t n, int64_t count, int32_t bandRows) {
    if (count > 4 * static_cast<int64_t>(n) + 64) {
        std::copy(b.keys.begin(), b.keys.begin() + static_cast<ptrdiff_t>(n), b.order.begin());
        std::sort(b.order.begin(), b.order.begin() + static_cast<ptrdiff_t>(n));
        return true;
    }
    try {
        b.bands.assign(static_cast<size_t>(count) + 1, 0);
    } catch (const std::bad_alloc&) {
        SetScanError(kScanNoMemory);
        return false;
    }
    uint32_t* place = b.bands.data();
    const auto band = [bandRows](uint64_t key) { return static_cast<size_t>((key >> 32) / static_cast<uint32_t>(bandRows)); };
    for (size_t k = 0; k < n; ++k) ++place[band(b.keys[k]) + 1];
    for (int64_t i = 1; i <= count; ++i) place[i] += place[i - 1];
    for (size_t k = 0; k < n; ++k) b.order[place[band(b.keys[k])]++] = b.keys[k];
    return true;
}

}  // namespace

void ScanPolygonRuns(const int32_t* p, int32_t count, int32_t left, int32_t top, int32_t right, int32_t bottom,
                     ScanRunSink sink, void* context) {
    SetScanError(0);
    if ((!p && count > 0) || !sink) {
        SetScanError(kScanNullArgument);
        return;
    }
    const int64_t width = int64_t{right} - left;
    if (count < 0 || width > INT32_MAX) {
        SetScanError(kScanOutOfRange);
        return;
    }
    if (count == 0 || width <= 0 || bottom <= top) return;

    // The rows anything reaches: an edge's line from its top row to its
    // bottom row, its span rows from top to bottom - 1.
    int32_t lowest = INT32_MAX, highest = INT32_MIN;
    for (int32_t i = 0; i < count; ++i) {
        lowest = std::min(lowest, p[2 * i + 1]);
        highest = std::max(highest, p[2 * i + 1]);
    }
    const int32_t start = std::max(lowest, top);
    const int32_t end = static_cast<int32_t>(std::min<int64_t>(int64_t{highest} + 1, bottom));
    if (start >= end) return;

    const int32_t words = static_cast<int32_t>((width + 63) >> 6);
    const int64_t stride = 2 * int64_t{words} + 1;
    const int32_t bandRows = static_cast<int32_t>(std::clamp<int64_t>(kBandBytes / (8 * stride), 1, kBandRows));
    RunBuffers& b = Buffers();
    if (!Reserve(b, static_cast<size_t>(count), static_cast<size_t>(stride * bandRows), static_cast<size_t>(width)))
        return;

    // Each segment joins on the first row of the window it reaches, in the
    // band that holds that row.
    size_t pending = 0;
    for (int32_t i = 0; i < count; ++i) {
        const int32_t j = i + 1 == count ? 0 : i + 1;
        const int32_t y0 = std::min(p[2 * i + 1], p[2 * j + 1]), y1 = std::max(p[2 * i + 1], p[2 * j + 1]);
        if (y1 < start || y0 >= end) continue;
        const auto first = static_cast<uint64_t>(std::max(y0, start) - start);
        b.keys[pending++] = first << 32 | static_cast<uint32_t>(i);
    }
    if (!OrderByBand(b, pending, (int64_t{end} - start + bandRows - 1) / bandRows, bandRows)) return;

    SteepWalk* steep = b.steep.data();
    FlatWalk* flat = b.flat.data();
    size_t steepCount = 0, flatCount = 0, next = 0;
    Band band{b.band.data(), stride, int64_t{words} + 1, words, start, left, width};
    for (int32_t b0 = start; b0 < end;) {
        const int32_t b1 = static_cast<int32_t>(std::min<int64_t>(int64_t{b0} + bandRows, end));
        band.b0 = b0;
        for (; next < pending && static_cast<int64_t>(b.order[next] >> 32) + start < b1; ++next) {
            const auto i = static_cast<int32_t>(b.order[next] & 0xFFFFFFFFu);
            const int32_t first = static_cast<int32_t>(b.order[next] >> 32) + start;
            const int32_t j = i + 1 == count ? 0 : i + 1;
            const int64_t x0 = p[2 * i], y0 = p[2 * i + 1], x1 = p[2 * j], y1 = p[2 * j + 1];
            const int64_t top = std::min(y0, y1), bottom = std::max(y0, y1);
            EdgePart edge{0, 0, first, static_cast<int32_t>(std::min<int64_t>(bottom - 1, end - 1)),
                          static_cast<int32_t>(std::min<int64_t>(bottom, end - 1))};
            if (y0 != y1) {
                const int64_t tx = y0 < y1 ? x0 : x1;
                edge.step = ((x1 - x0) * (y0 < y1 ? 1 : -1) << 16) / (bottom - top);
                // Above the window the edge is advanced to its first row.
                edge.x = (tx << 16) + (first == top ? 0 : static_cast<int64_t>(Wide(edge.step) * (first - top)));
            }
            if (std::llabs(x1 - x0) >= std::llabs(y1 - y0)) flat[flatCount++] = StartFlat(x0, y0, x1, y1, edge);
            else steep[steepCount++] = StartSteep(x0, y0, x1, y1, edge);
        }
        const int32_t stop = b1 - 1;
        steepCount = WalkAll(steep, steepCount, [&](SteepWalk& w) { return WalkSteep(band, w, stop); });
        flatCount = WalkAll(flat, flatCount, [&](FlatWalk& w) { return WalkFlat(band, w, stop); });
        EmitRows(band, b1 - b0, b.runs.data(), sink, context);
        b0 = b1;
        // Rows with nothing on them until the next segment joins.
        if (steepCount == 0 && flatCount == 0) {
            if (next == pending) break;
            const auto first = static_cast<int64_t>(b.order[next] >> 32);
            b0 = std::max(b0, static_cast<int32_t>(start + first / bandRows * bandRows));
        }
    }
}
