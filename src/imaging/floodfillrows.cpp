// The flood fill in row order. Each row becomes one bit per pixel, set for
// open pixels. Every column keeps the label of the run over it in the row
// labelled last; a run of the new row that holds a pixel not open in that
// row joins the labels of the runs it touches there (a union-find) and
// writes its own over its columns. Any other run lies under a single run of
// that row and is part of it, so rows that repeat the one before cost only
// the reading of their pixels. Painting replays the rows the same way: a
// pixel is painted when it is open and the pixel before it in that order
// was painted, or when it lies in a run that joined labels whose set holds
// a pending stretch.
//
// Only rows that can hold the area are labelled: those of the pending
// stretches, and more at an end of them only while the end row holds a run
// joined to a pending stretch, so a small area costs the width of the
// picture times its own height, not the picture's.
#include "imaging/floodfillrows.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <new>
#include <utility>

#include "imaging/kernelisa.h"
#include "imaging/simdrows.h"
#if QB_PIXEL_X86
#include <immintrin.h>
#endif

namespace {

constexpr uint8_t kReached = 1;  // joined to an open pixel of a pending stretch
// Rows labelled at a time past an end of those labelled so far; a look at
// whether to go on costs a find per run of the end row until one is joined.
constexpr int32_t kGrowRows = 16;
constexpr uint64_t kAll = ~uint64_t{0};

// Union-find over run labels with path halving; a root holds its set's flags.
class RunSets {
   public:
    uint32_t Add() {
        if (parent_.size() >= std::numeric_limits<uint32_t>::max()) throw std::bad_alloc();
        const auto id = static_cast<uint32_t>(parent_.size());
        parent_.push_back(id);
        flags_.push_back(0);
        return id;
    }
    uint32_t Find(uint32_t a) {
        while (parent_[a] != a) {
            parent_[a] = parent_[parent_[a]];
            a = parent_[a];
        }
        return a;
    }
    // Joins other's set to the one whose root is root; the joined root.
    uint32_t Join(uint32_t root, uint32_t other) {
        uint32_t b = Find(other);
        if (b == root) return root;
        if (b < root) std::swap(root, b);
        parent_[b] = root;
        flags_[root] |= flags_[b];
        return root;
    }
    void Mark(uint32_t a, uint8_t flag) { flags_[Find(a)] |= flag; }
    bool Has(uint32_t a, uint8_t flag) { return (flags_[Find(a)] & flag) != 0; }
    size_t Size() const { return parent_.size(); }

   private:
    std::vector<uint32_t> parent_;
    std::vector<uint8_t> flags_;
};

// Bit scans over a row's words, which hold at least one clear bit past the
// last pixel.
int32_t NextSet(const uint64_t* bits, int32_t words, int32_t x) {
    int32_t i = x >> 6;
    if (i >= words) return words * 64;
    uint64_t w = bits[i] & (kAll << (x & 63));
    while (w == 0) {
        if (++i == words) return words * 64;
        w = bits[i];
    }
    return i * 64 + __builtin_ctzll(w);
}

int32_t NextClear(const uint64_t* bits, int32_t x) {
    int32_t i = x >> 6;
    uint64_t w = ~bits[i] & (kAll << (x & 63));
    while (w == 0) w = ~bits[++i];
    return i * 64 + __builtin_ctzll(w);
}

// The first bit of the run of set bits holding x.
int32_t RunStart(const uint64_t* bits, int32_t x) {
    int32_t i = x >> 6;
    uint64_t w = ~bits[i] & ((uint64_t{1} << (x & 63)) - 1);
    while (w == 0) {
        if (i == 0) return 0;
        w = ~bits[--i];
    }
    return i * 64 + 64 - __builtin_clzll(w);
}

void SetBits(uint64_t* bits, int32_t a, int32_t b) {
    const int32_t i = a >> 6, j = b >> 6;
    const uint64_t low = kAll << (a & 63), high = kAll >> (63 - (b & 63));
    if (i == j) {
        bits[i] |= low & high;
        return;
    }
    bits[i] |= low;
    for (int32_t k = i + 1; k < j; ++k) bits[k] = kAll;
    bits[j] |= high;
}

// Bits of 64 pixels: which are borders, which of the fill colour.
template <class Pixel>
inline void ClassifyPlain(const FloodSurface<Pixel>& s, const Pixel* p, int32_t n, uint64_t& border, uint64_t& fill) {
    border = fill = 0;
    for (int32_t i = 0; i < n; ++i) {
        border |= uint64_t{s.IsBorder(p[i])} << i;
        fill |= uint64_t{s.IsFill(p[i])} << i;
    }
}

template <class Pixel>
inline void Classify64(const FloodSurface<Pixel>& s, const Pixel* p, uint64_t& border, uint64_t& fill) {
    ClassifyPlain(s, p, 64, border, fill);
}

#if QB_PIXEL_X86
inline void Classify64(const FloodSurface<uint32_t>& s, const uint32_t* p, uint64_t& border, uint64_t& fill) {
    const __m128i mask = _mm_set1_epi32(static_cast<int>(s.mask));
    const __m128i b = _mm_set1_epi32(static_cast<int>(s.border));
    const __m128i f = _mm_set1_epi32(static_cast<int>(s.fill));
    border = fill = 0;
    for (int q = 0; q < 4; ++q) {
        __m128i v[4];
        for (int k = 0; k < 4; ++k)
            v[k] = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * q + 4 * k)), mask);
        const auto bits16 = [&](__m128i c) {
            const __m128i lo = _mm_packs_epi32(_mm_cmpeq_epi32(v[0], c), _mm_cmpeq_epi32(v[1], c));
            const __m128i hi = _mm_packs_epi32(_mm_cmpeq_epi32(v[2], c), _mm_cmpeq_epi32(v[3], c));
            return static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(lo, hi))));
        };
        border |= bits16(b) << (16 * q);
        fill |= bits16(f) << (16 * q);
    }
}

inline void Classify64(const FloodSurface<uint16_t>& s, const uint16_t* p, uint64_t& border, uint64_t& fill) {
    const __m128i mask = _mm_set1_epi16(static_cast<short>(s.mask));
    const __m128i b = _mm_set1_epi16(static_cast<short>(s.border));
    const __m128i f = _mm_set1_epi16(static_cast<short>(s.fill));
    border = fill = 0;
    for (int q = 0; q < 4; ++q) {
        const __m128i lo = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * q)), mask);
        const __m128i hi = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * q + 8)), mask);
        const auto bits16 = [&](__m128i c) {
            const __m128i packed = _mm_packs_epi16(_mm_cmpeq_epi16(lo, c), _mm_cmpeq_epi16(hi, c));
            return static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(packed)));
        };
        border |= bits16(b) << (16 * q);
        fill |= bits16(f) << (16 * q);
    }
}
#endif

#if QB_PIXEL_X86
#define QB_AVX2 __attribute__((target("avx2")))

// 32 pixels compared with c, one bit each in pixel order (the packs work
// within 128-bit halves; the permute puts their dwords back in order).
QB_AVX2 inline uint32_t Bits32Avx2(const __m256i* v, __m256i c) {
    const __m256i ab = _mm256_packs_epi32(_mm256_cmpeq_epi32(v[0], c), _mm256_cmpeq_epi32(v[1], c));
    const __m256i cd = _mm256_packs_epi32(_mm256_cmpeq_epi32(v[2], c), _mm256_cmpeq_epi32(v[3], c));
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    return static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_permutevar8x32_epi32(_mm256_packs_epi16(ab, cd), order)));
}

QB_AVX2 void ClassifyWordsAvx2(const FloodSurface<uint32_t>& s, const uint32_t* row, int32_t count, uint64_t* border,
                               uint64_t* fill) {
    const __m256i mask = _mm256_set1_epi32(static_cast<int>(s.mask));
    const __m256i b = _mm256_set1_epi32(static_cast<int>(s.border));
    const __m256i f = _mm256_set1_epi32(static_cast<int>(s.fill));
    for (int32_t i = 0; i < count; ++i) {
        uint64_t bw = 0, fw = 0;
        for (int h = 0; h < 2; ++h) {
            __m256i v[4];
            for (int k = 0; k < 4; ++k)
                v[k] = _mm256_and_si256(
                    _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + 64 * i + 32 * h + 8 * k)), mask);
            bw |= uint64_t{Bits32Avx2(v, b)} << (32 * h);
            fw |= uint64_t{Bits32Avx2(v, f)} << (32 * h);
        }
        border[i] = bw;
        fill[i] = fw;
    }
}

// Eight pixels a step, each taking the fill where its bit is set.
QB_AVX2 void PaintBitsAvx2(const FloodSurface<uint32_t>& s, uint32_t* row, const uint64_t* bits, int32_t words) {
    const __m256i keep = _mm256_set1_epi32(static_cast<int>(~s.mask));
    const __m256i fill = _mm256_set1_epi32(static_cast<int>(s.fill));
    const __m256i lanes = _mm256_setr_epi32(1, 2, 4, 8, 16, 32, 64, 128);
    for (int32_t i = 0; i < words; ++i) {
        const uint64_t w = bits[i];
        if (w == 0) continue;
        for (int q = 0; q < 8; ++q) {
            const int byte = static_cast<int>(w >> (8 * q)) & 255;
            if (byte == 0) continue;
            auto* at = reinterpret_cast<__m256i*>(row + 64 * i + 8 * q);
            const __m256i v = _mm256_loadu_si256(at);
            const __m256i painted = _mm256_or_si256(_mm256_and_si256(v, keep), fill);
            const __m256i on = _mm256_cmpeq_epi32(_mm256_and_si256(_mm256_set1_epi32(byte), lanes), lanes);
            _mm256_storeu_si256(at, _mm256_blendv_epi8(v, painted, on));
        }
    }
}

#define QB_AVX512 __attribute__((target("avx512f")))

QB_AVX512 void ClassifyWordsAvx512(const FloodSurface<uint32_t>& s, const uint32_t* row, int32_t count,
                                   uint64_t* border, uint64_t* fill) {
    const __m512i mask = _mm512_set1_epi32(static_cast<int>(s.mask));
    const __m512i b = _mm512_set1_epi32(static_cast<int>(s.border));
    const __m512i f = _mm512_set1_epi32(static_cast<int>(s.fill));
    for (int32_t i = 0; i < count; ++i) {
        uint64_t bw = 0, fw = 0;
        for (int q = 0; q < 4; ++q) {
            const __m512i v = _mm512_and_si512(_mm512_loadu_si512(row + 64 * i + 16 * q), mask);
            bw |= uint64_t{_mm512_cmpeq_epi32_mask(v, b)} << (16 * q);
            fw |= uint64_t{_mm512_cmpeq_epi32_mask(v, f)} << (16 * q);
        }
        border[i] = bw;
        fill[i] = fw;
    }
}

// Sixteen pixels a step; the store writes only the pixels whose bits are set.
QB_AVX512 void PaintBitsAvx512(const FloodSurface<uint32_t>& s, uint32_t* row, const uint64_t* bits, int32_t words) {
    const __m512i keep = _mm512_set1_epi32(static_cast<int>(~s.mask));
    const __m512i fill = _mm512_set1_epi32(static_cast<int>(s.fill));
    for (int32_t i = 0; i < words; ++i) {
        const uint64_t w = bits[i];
        if (w == 0) continue;
        for (int q = 0; q < 4; ++q) {
            const auto on = static_cast<__mmask16>(w >> (16 * q));
            if (on == 0) continue;
            uint32_t* at = row + 64 * i + 16 * q;
            const __m512i v = _mm512_maskz_loadu_epi32(on, at);
            _mm512_mask_storeu_epi32(at, on, _mm512_or_si512(_mm512_and_si512(v, keep), fill));
        }
    }
}
#endif

// Border and fill bits of the row's first count whole words of pixels.
template <class Pixel>
void ClassifyWords(const FloodSurface<Pixel>& s, const Pixel* row, int32_t count, uint64_t* border, uint64_t* fill,
                   KernelIsa isa) {
    for (int32_t i = 0; i < count; ++i) {
        if (isa == KernelIsa::Portable)
            ClassifyPlain(s, row + 64 * i, 64, border[i], fill[i]);
        else
            Classify64(s, row + 64 * i, border[i], fill[i]);
    }
}

#if QB_PIXEL_X86
void ClassifyWords(const FloodSurface<uint32_t>& s, const uint32_t* row, int32_t count, uint64_t* border,
                   uint64_t* fill, KernelIsa isa) {
    if (isa == KernelIsa::Avx512) return ClassifyWordsAvx512(s, row, count, border, fill);
    if (isa == KernelIsa::Avx2) return ClassifyWordsAvx2(s, row, count, border, fill);
    ClassifyWords<uint32_t>(s, row, count, border, fill, isa);
}
#endif

// Sets a bit per open pixel of the row (clear past its end); true when a
// pixel of the fill colour lies next to an open one in the row. border and
// fill are room for a row's words.
template <class Pixel>
bool OpenBits(const FloodSurface<Pixel>& s, const Pixel* row, uint64_t* open, int32_t words, uint64_t* border,
              uint64_t* fill, KernelIsa isa) {
    const int32_t whole = s.width / 64, rest = s.width % 64;  // words == whole + 1
    ClassifyWords(s, row, whole, border, fill, isa);
    ClassifyPlain(s, row + 64 * whole, rest, border[whole], fill[whole]);
    border[whole] |= kAll << rest;
    uint64_t touching = 0, previousOpen = 0, previousFill = 0;
    for (int32_t i = 0; i < words; ++i) {
        const uint64_t o = ~(border[i] | fill[i]);
        open[i] = o;
        // Neighbours within the word, and across the boundary with the last.
        touching |= (fill[i] & ((o << 1) | (o >> 1) | previousOpen)) | (o & previousFill);
        previousOpen = o >> 63;
        previousFill = fill[i] >> 63;
    }
    return touching != 0;
}

template <class Pixel>
void PaintSpan(const FloodSurface<Pixel>& s, Pixel* p, int32_t n) {
    for (int32_t i = 0; i < n; ++i) s.Paint(p + i);
}

#if QB_PIXEL_X86
void PaintSpan(const FloodSurface<uint32_t>& s, uint32_t* p, int32_t n) {
    int32_t i = 0;
    if (n >= 4) {
        const __m128i keep = _mm_set1_epi32(static_cast<int>(~s.mask));
        const __m128i fill = _mm_set1_epi32(static_cast<int>(s.fill));
        for (; i + 4 <= n; i += 4) {
            auto* at = reinterpret_cast<__m128i*>(p + i);
            _mm_storeu_si128(at, _mm_or_si128(_mm_and_si128(_mm_loadu_si128(at), keep), fill));
        }
    }
    for (; i < n; ++i) s.Paint(p + i);
}
#endif

// Paints the pixels whose bits are set.
template <class Pixel>
void PaintBits(const FloodSurface<Pixel>& s, Pixel* row, const uint64_t* bits, int32_t words) {
    for (int32_t i = 0; i < words; ++i) {
        uint64_t w = bits[i];
        if (w == kAll) {
            PaintSpan(s, row + i * 64, 64);
            continue;
        }
        while (w != 0) {
            const int a = __builtin_ctzll(w);
            const uint64_t from = w | (w - 1);  // set up to the run's end
            const int end = from == kAll ? 64 : __builtin_ctzll(~from);
            PaintSpan(s, row + i * 64 + a, end - a);
            w = end == 64 ? 0 : w & (kAll << end);
        }
    }
}

#if QB_PIXEL_X86
// Four pixels a step, each taking the fill where its bit is set.
void PaintBits(const FloodSurface<uint32_t>& s, uint32_t* row, const uint64_t* bits, int32_t words) {
    const __m128i keep = _mm_set1_epi32(static_cast<int>(~s.mask));
    const __m128i fill = _mm_set1_epi32(static_cast<int>(s.fill));
    const __m128i lanes = _mm_set_epi32(8, 4, 2, 1);
    for (int32_t i = 0; i < words; ++i) {
        const uint64_t w = bits[i];
        if (w == 0) continue;
        uint32_t* p = row + i * 64;
        if (w == kAll) {
            PaintSpan(s, p, 64);
            continue;
        }
        for (int q = 0; q < 16; ++q) {
            const int nibble = static_cast<int>(w >> (4 * q)) & 15;
            if (nibble == 0) continue;
            auto* at = reinterpret_cast<__m128i*>(p + 4 * q);
            const __m128i v = _mm_loadu_si128(at);
            const __m128i on = _mm_cmpeq_epi32(_mm_and_si128(_mm_set1_epi32(nibble), lanes), lanes);
            const __m128i painted = _mm_or_si128(_mm_and_si128(v, keep), fill);
            _mm_storeu_si128(at, _mm_or_si128(_mm_and_si128(on, painted), _mm_andnot_si128(on, v)));
        }
    }
}
#endif

template <class Pixel>
void PaintRowBits(const FloodSurface<Pixel>& s, Pixel* row, const uint64_t* bits, int32_t words, KernelIsa isa) {
    if (isa == KernelIsa::Portable)
        PaintBits<Pixel>(s, row, bits, words);
    else
        PaintBits(s, row, bits, words);
}

#if QB_PIXEL_X86
// The vector loops take whole groups of pixels, so only whole words of 64
// go to them; the last word, which holds the pixels past those, goes run
// by run.
void PaintRowBits(const FloodSurface<uint32_t>& s, uint32_t* row, const uint64_t* bits, int32_t words, KernelIsa isa) {
    const int32_t whole = words - 1;
    if (isa == KernelIsa::Avx512)
        PaintBitsAvx512(s, row, bits, whole);
    else if (isa == KernelIsa::Avx2)
        PaintBitsAvx2(s, row, bits, whole);
    else if (isa == KernelIsa::Sse2)
        PaintBits(s, row, bits, whole);
    else
        PaintBits<uint32_t>(s, row, bits, whole);
    PaintBits<uint32_t>(s, row + 64 * whole, bits + whole, 1);
}
#endif

struct RowEvent {
    int32_t first, last;  // a run holding pixels the row before lacked
    uint32_t label;
};

template <class Pixel>
bool Fill(const FloodSurface<Pixel>& s, std::vector<FloodPending> pending, KernelIsa isa) {
    // AVX-512 where asked for and there; else the best set up to the one asked.
    if (isa != KernelIsa::Avx512 || !HasAvx512()) isa = UsableIsa(isa);
    if (pending.empty()) return true;
    std::sort(pending.begin(), pending.end(),
              [](const FloodPending& a, const FloodPending& b) { return a.y != b.y ? a.y < b.y : a.left < b.left; });
    const int32_t first = pending.front().y, last = pending.back().y;
    const int32_t words = s.width / 64 + 1;  // room for a clear bit past the last pixel
    // Written only for the rows labelled.
    auto open = std::make_unique_for_overwrite<uint64_t[]>(static_cast<size_t>(s.height) * words);
    const auto openRow = [&](int32_t y) { return open.get() + static_cast<size_t>(y) * words; };
    std::vector<uint32_t> column(s.width);  // the label over each open pixel of the row labelled last
    std::vector<RowEvent> events;
    std::vector<std::pair<size_t, size_t>> rowEvents(s.height);  // each row's events
    RunSets sets;
    std::vector<uint64_t> borderBits(words), fillBits(words);

    // Labels row y against the row labelled before it (none for the first);
    // false when the row mixes the fill colour into a run.
    const auto labelRow = [&](int32_t y, const uint64_t* before) {
        uint64_t* bits = openRow(y);
        if (OpenBits(s, s.Row(y), bits, words, borderBits.data(), fillBits.data(), isa)) return false;
        rowEvents[y].first = rowEvents[y].second = events.size();
        int32_t i = 0;
        uint64_t fresh = before ? bits[0] & ~before[0] : bits[0];
        for (;;) {
            while (fresh == 0) {
                if (++i == words) return true;
                fresh = before ? bits[i] & ~before[i] : bits[i];
            }
            const int32_t x = i * 64 + __builtin_ctzll(fresh);
            const int32_t a = RunStart(bits, x), b = NextClear(bits, x) - 1;
            uint32_t root = std::numeric_limits<uint32_t>::max();
            if (before)
                for (int32_t u = NextSet(before, words, a); u <= b; u = NextSet(before, words, NextClear(before, u)))
                    root = root == std::numeric_limits<uint32_t>::max() ? sets.Find(column[u])
                                                                        : sets.Join(root, column[u]);
            if (root == std::numeric_limits<uint32_t>::max()) root = sets.Add();
            std::fill(column.begin() + a, column.begin() + b + 1, root);
            events.push_back({a, b, root});
            rowEvents[y].second = events.size();
            // Bit b + 1 is clear; go on from the word holding it.
            i = (b + 1) >> 6;
            if (i == words) return true;
            const uint64_t rest = kAll << ((b + 1) & 63);
            fresh = (before ? bits[i] & ~before[i] : bits[i]) & rest;
        }
    };
    size_t next = 0;  // the first pending stretch not yet marked
    const auto markPending = [&](int32_t y) {
        const uint64_t* bits = openRow(y);
        for (; next < pending.size() && pending[next].y == y; ++next) {
            const FloodPending& p = pending[next];
            for (int32_t u = NextSet(bits, words, p.left); u <= p.right; u = NextSet(bits, words, NextClear(bits, u)))
                sets.Mark(column[u], kReached);
        }
    };
    const auto reachedIn = [&](int32_t y, const std::vector<uint32_t>& labels) {
        const uint64_t* bits = openRow(y);
        for (int32_t u = NextSet(bits, words, 0); u < s.width; u = NextSet(bits, words, NextClear(bits, u)))
            if (sets.Has(labels[u], kReached)) return true;
        return false;
    };

    // The rows of the pending stretches, then more at either end while the
    // end row holds a run joined to a pending stretch: an area that leaves
    // the rows labelled crosses the end row through such a run.
    if (!labelRow(first, nullptr)) return false;
    markPending(first);
    std::vector<uint32_t> topColumns = column;  // the labels over row top; column holds bottom's
    int32_t top = first, bottom = first;
    while (bottom < last) {
        ++bottom;
        if (!labelRow(bottom, openRow(bottom - 1))) return false;
        markPending(bottom);
    }
    for (;;) {
        const bool up = top > 0 && reachedIn(top, topColumns);
        const bool down = bottom + 1 < s.height && reachedIn(bottom, column);
        if (!up && !down) break;
        if (up) {
            std::swap(column, topColumns);
            for (int32_t k = 0; k < kGrowRows && top > 0; ++k)
                if (--top, !labelRow(top, openRow(top + 1))) return false;
            std::swap(column, topColumns);
        }
        if (down)
            for (int32_t k = 0; k < kGrowRows && bottom + 1 < s.height; ++k)
                if (++bottom, !labelRow(bottom, openRow(bottom - 1))) return false;
    }

    // Painting: the bits of each row's painted pixels, from the row it was
    // labelled after.
    std::vector<uint64_t> painted(words), before(words);
    const auto paintRow = [&](int32_t y, bool follows) {
        const uint64_t* bits = openRow(y);
        for (int32_t i = 0; i < words; ++i) painted[i] = follows ? before[i] & bits[i] : 0;
        for (size_t e = rowEvents[y].first; e < rowEvents[y].second; ++e)
            if (sets.Has(events[e].label, kReached)) SetBits(painted.data(), events[e].first, events[e].last);
        PaintRowBits(s, s.Row(y), painted.data(), words, isa);
        std::swap(painted, before);
    };
    paintRow(first, false);
    const std::vector<uint64_t> firstPainted = before;
    for (int32_t y = first - 1; y >= top; --y) paintRow(y, true);
    before = firstPainted;
    for (int32_t y = first + 1; y <= bottom; ++y) paintRow(y, true);
    return true;
}

}  // namespace

bool FillInRowOrder(const FloodSurface<uint32_t>& s, const std::vector<FloodPending>& pending, KernelIsa isa) {
    try {
        return Fill(s, pending, isa);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool FillInRowOrder(const FloodSurface<uint16_t>& s, const std::vector<FloodPending>& pending, KernelIsa isa) {
    try {
        return Fill(s, pending, isa);
    } catch (const std::bad_alloc&) {
        return false;
    }
}
