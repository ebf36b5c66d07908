// The displacement rows: positions eight per step in doubles, the same
// operations as the one-by-one loops lane for lane; pixels sixteen per
// step, from row windows where a group's sources lie close together and by
// gathers elsewhere. Offsets are 32-bit (the caller keeps every plane below
// 2^31 entries). The zero-masked forms of conversions, min and max stand in
// for the plain ones, whose undefined upper lanes GCC 12 warns about.
#include "imaging/displacerows.h"

#include <algorithm>
#include <initializer_list>

#include "imaging/simdrows.h"

#if QB_PIXEL_X86

#include <immintrin.h>

#define QB_AVX512 __attribute__((target("avx512f")))

namespace {

constexpr __mmask8 kAll8 = 0xFF;
constexpr __mmask16 kAll16 = 0xFFFF;

// A source coordinate limited to 0 .. top, then truncated: max answers its
// second operand (0) for NaN, as the one-by-one limit does.
QB_AVX512 inline __m256i Limit8(__m512d v, __m512d top) {
    return _mm512_maskz_cvttpd_epi32(
        kAll8, _mm512_maskz_min_pd(kAll8, _mm512_maskz_max_pd(kAll8, v, _mm512_setzero_pd()), top));
}

// table[d] of the lanes in `lanes`, the others 0. Distances of neighbouring
// pixels differ by at most 1, so a vector's lie within 8 of each other and
// sixteen entries from `base` hold them; a table of the caller's own may
// not be so, and is gathered from.
QB_AVX512 inline __m512d LookUp(const double* table, __m256i d, int32_t base, __mmask8 lanes) {
    const __m512i at = _mm512_maskz_cvtepi32_epi64(lanes, _mm256_sub_epi32(d, _mm256_set1_epi32(base)));
    if (_mm512_cmpgt_epu64_mask(at, _mm512_set1_epi64(15)) != 0)
        return _mm512_mask_i32gather_pd(_mm512_setzero_pd(), lanes, d, table, 8);
    return _mm512_maskz_permutex2var_pd(lanes, _mm512_loadu_pd(table + base), at, _mm512_loadu_pd(table + base + 8));
}

// The greatest of eight.
QB_AVX512 inline int32_t Greatest(__m256i v) {
    v = _mm256_max_epi32(v, _mm256_permute2x128_si256(v, v, 1));
    v = _mm256_max_epi32(v, _mm256_shuffle_epi32(v, 0x4E));
    return _mm256_cvtsi256_si32(_mm256_max_epi32(v, _mm256_shuffle_epi32(v, 0xB1)));
}

// The offsets of sixteen positions in a plane whose rows lie pitch apart.
QB_AVX512 inline __m512i Offsets(const qbDisplaceRow& row, int32_t i, int32_t pitch) {
    const __m512i xs = _mm512_loadu_si512(row.xs + i), ys = _mm512_loadu_si512(row.ys + i);
    return _mm512_add_epi32(_mm512_mullo_epi32(ys, _mm512_set1_epi32(pitch)), xs);
}

// The scattered loads miss the caches where the picture is larger than
// they are, and the processor does not fetch ahead of gathers: the lines of
// the first and last pixel of the group kAhead pixels on are asked for now.
constexpr int32_t kAhead = 128;
inline void FetchAhead(const qbDisplaceRow& row, int32_t i, int32_t pitch, const void* plane, int32_t scale) {
    if (i + kAhead + 16 > row.count) return;
    const auto* base = static_cast<const char*>(plane);
    for (const int32_t j : {i + kAhead, i + kAhead + 15})
        __builtin_prefetch(base + (int64_t{row.ys[j]} * pitch + row.xs[j]) * scale);
}

QB_AVX512 inline __m512i Srli(__m512i v, unsigned int bits) { return _mm512_maskz_srli_epi32(kAll16, v, bits); }

// Below this squared radius every whole distance squared is exact in a
// float, and every position and quotient lies so far under 2^20 that a
// product by the inverse stays within a millionth of the quotient.
constexpr double kSmallRadius2 = double(1 << 24);

// floor(sqrt(trunc(d2))) for the lanes in `inside`, 0 for the others, where
// d2 < radius^2: the double root, corrected by one up or down.
QB_AVX512 inline __m256i WholeRoot(__m512d d2, __mmask8 inside, __m512d one) {
    const __m512d n = _mm512_maskz_roundscale_pd(inside, d2, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
    __m512d s =
        _mm512_maskz_roundscale_pd(kAll8, _mm512_maskz_sqrt_pd(kAll8, n), _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
    s = _mm512_mask_sub_pd(s, _mm512_cmp_pd_mask(_mm512_mul_pd(s, s), n, _CMP_GT_OQ), s, one);
    const __m512d s1 = _mm512_add_pd(s, one);
    s = _mm512_mask_mov_pd(s, _mm512_cmp_pd_mask(_mm512_mul_pd(s1, s1), n, _CMP_LE_OQ), s1);
    return _mm512_maskz_cvttpd_epi32(kAll8, s);
}

// The same where d2 < 2^24: the whole number is exact in a float, and its
// float root is at least the answer k (k is a float) and at most k + 1,
// which only one step down corrects (a double root of eight lanes and a
// step each way cost several times as much).
QB_AVX512 inline __m256i WholeRootSmall(__m512d d2, __mmask8 inside) {
    const __m256i n = _mm512_maskz_cvttpd_epi32(inside, d2);
    const __m256i s = _mm256_cvttps_epi32(_mm256_sqrt_ps(_mm256_cvtepi32_ps(n)));
    // A compare answers -1 where it holds.
    return _mm256_add_epi32(s, _mm256_cmpgt_epi32(_mm256_mullo_epi32(s, s), n));
}

// Whether any lane of `lanes` lies within a millionth of a whole number.
QB_AVX512 inline bool NearWhole(__m512d t, __mmask8 lanes) {
    const __m512d off =
        _mm512_sub_pd(t, _mm512_maskz_roundscale_pd(kAll8, t, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC));
    return _mm512_mask_cmp_pd_mask(lanes, _mm512_abs_pd(off), _mm512_set1_pd(1e-6), _CMP_LE_OQ) != 0;
}

}  // namespace

int32_t DisplaceWindowRows() {
    // On the AMD processor the rows were tuned on a gather cost about 1.5
    // cycles an element and three window rows paid; on an Intel Xeon
    // (Sapphire Rapids family) gathers are cheap and every window row
    // made the moves slower (a full-screen ripple at its peak took up to
    // 60 % of the time with none).
    static const int32_t rows = __builtin_cpu_is("amd") ? 3 : 0;
    return rows;
}

QB_AVX512 int32_t SwirlRowAvx512(const qbSwirlRowGeometry& g, int32_t y, int32_t from, int32_t to, int32_t* xs,
                                 int32_t* ys) {
    // The geometry in locals: the stores to xs and ys could otherwise alias
    // it, and each step would load it again.
    const double* sines = g.sines;
    const double* cosines = g.cosines;
    const bool unitX = g.scaleX == 1, unitY = g.scaleY == 1;
    const double dyScalar = (y - g.cy) * g.scaleY;
    const __m512d dy = _mm512_set1_pd(dyScalar), dyy = _mm512_set1_pd(dyScalar * dyScalar);
    const __m512d cx = _mm512_set1_pd(g.cx), cy = _mm512_set1_pd(g.cy), scaleX = _mm512_set1_pd(g.scaleX),
                  scaleY = _mm512_set1_pd(g.scaleY), radius2 = _mm512_set1_pd(g.radius2),
                  one = _mm512_set1_pd(1.0), rowAt = _mm512_set1_pd(y);
    const __m512d right = _mm512_set1_pd(g.width - 1), bottom = _mm512_set1_pd(g.height - 1);
    const __m512d inverseX = _mm512_set1_pd(1.0 / g.scaleX), inverseY = _mm512_set1_pd(1.0 / g.scaleY);
    const bool smallRadius = g.radius2 < kSmallRadius2;
    const __m256i row = _mm256_set1_epi32(y), step = _mm256_set1_epi32(8);
    __m256i column = _mm256_add_epi32(_mm256_set1_epi32(from), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    int32_t x = from;
    for (; x + 8 <= to; x += 8, column = _mm256_add_epi32(column, step)) {
        const __m512d columnAt = _mm512_maskz_cvtepi32_pd(kAll8, column);
        const __m512d dx = _mm512_mul_pd(_mm512_sub_pd(columnAt, cx), scaleX);
        const __m512d d2 = _mm512_add_pd(_mm512_mul_pd(dx, dx), dyy);
        const __mmask8 inside = _mm512_cmp_pd_mask(d2, radius2, _CMP_LT_OQ);
        if (inside == 0) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(xs + x), column);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(ys + x), row);
            continue;
        }
        const __m256i d = smallRadius ? WholeRootSmall(d2, inside) : WholeRoot(d2, inside, one);
        const int32_t base = std::max(Greatest(d) - 15, 0);
        const __m512d sn = LookUp(sines, d, base, inside), cs = LookUp(cosines, d, base, inside);
        const __m512d u = _mm512_sub_pd(_mm512_mul_pd(dx, cs), _mm512_mul_pd(dy, sn));
        const __m512d v = _mm512_add_pd(_mm512_mul_pd(dx, sn), _mm512_mul_pd(dy, cs));
        // Lanes outside keep their own position, which the limit leaves alone.
        __m512d ux = _mm512_add_pd(unitX ? u : _mm512_mul_pd(u, inverseX), cx);
        __m512d vy = _mm512_add_pd(unitY ? v : _mm512_mul_pd(v, inverseY), cy);
        // The product by the inverse differs from the quotient by far less
        // than the tolerance, so only a result that close to a whole number
        // can truncate otherwise; those vectors divide as the scalar loop.
        if (!smallRadius || (!unitX && NearWhole(ux, inside)) || (!unitY && NearWhole(vy, inside))) {
            ux = _mm512_add_pd(unitX ? u : _mm512_div_pd(u, scaleX), cx);
            vy = _mm512_add_pd(unitY ? v : _mm512_div_pd(v, scaleY), cy);
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(xs + x), Limit8(_mm512_mask_blend_pd(inside, columnAt, ux), right));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(ys + x), Limit8(_mm512_mask_blend_pd(inside, rowAt, vy), bottom));
    }
    return x;
}

QB_AVX512 int32_t RippleRowAvx512(const qbRippleRowGeometry& g, const int32_t* distances, int32_t y, int32_t from,
                                  int32_t to, int32_t* xs, int32_t* ys) {
    const double* factors = g.factors;
    const __m256i zero = _mm256_setzero_si256(), farthest = _mm256_set1_epi32(g.farthest);
    const __m256i centreX = _mm256_set1_epi32(g.centreX), step = _mm256_set1_epi32(8);
    const __m512d row = _mm512_set1_pd(y), dy = _mm512_set1_pd(y - g.centreY);
    const __m512d right = _mm512_set1_pd(g.width - 1), bottom = _mm512_set1_pd(g.height - 1);
    __m256i column = _mm256_add_epi32(_mm256_set1_epi32(from), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    int32_t x = from;
    for (; x + 8 <= to; x += 8, column = _mm256_add_epi32(column, step)) {
        const __m256i d =
            _mm256_max_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(distances + x)), zero);
        const __m256i beyond = _mm256_cmpgt_epi32(d, farthest);
        if (!_mm256_testz_si256(beyond, beyond)) break;
        const __m512d v = LookUp(factors, d, std::max(_mm256_cvtsi256_si32(d) - 7, 0), kAll8);
        const __m512d dx = _mm512_maskz_cvtepi32_pd(kAll8, _mm256_sub_epi32(column, centreX));
        const __m512d sx = _mm512_add_pd(_mm512_maskz_cvtepi32_pd(kAll8, column), _mm512_mul_pd(dx, v));
        const __m512d sy = _mm512_add_pd(row, _mm512_mul_pd(dy, v));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(xs + x), Limit8(sx, right));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(ys + x), Limit8(sy, bottom));
    }
    return x;
}

// Most groups of sixteen neighbours come from a few rows of the source and
// from 32 columns about the first one's: such rows can be fetched by two
// loads and a permute each, up to row.windowRows rows a group; the rest,
// and groups spread wider, are gathered.

// The window of a group: its first column and each lane's column in it,
// and the lanes that lie in it.
struct Window {
    int32_t base;
    __m512i at;
    __mmask16 lanes;
};

QB_AVX512 inline Window WindowOf(const qbDisplaceRow& row, int32_t i) {
    if (row.width < 32 || row.windowRows <= 0) return {0, _mm512_setzero_si512(), 0};
    const int32_t base = std::clamp(row.xs[i] - 8, 0, row.width - 32);
    const __m512i at = _mm512_sub_epi32(_mm512_loadu_si512(row.xs + i), _mm512_set1_epi32(base));
    return {base, at, _mm512_cmple_epu32_mask(at, _mm512_set1_epi32(31))};
}

// The rows a window's lanes come from, one by one, the first windowRows
// of them (lambdas would not take the functions' instruction set, so this
// walks by calls).
struct RowWalk {
    __m512i ys;
    __mmask16 left;
    int rows;
};

QB_AVX512 inline RowWalk StartWalk(const qbDisplaceRow& row, int32_t i, const Window& w) {
    return {_mm512_loadu_si512(row.ys + i), w.lanes, 0};
}

// The next row and its lanes; false when the walk is over.
QB_AVX512 inline bool NextRow(const qbDisplaceRow& row, int32_t i, RowWalk& walk, int32_t* y, __mmask16* here) {
    if (walk.left == 0 || walk.rows >= row.windowRows) return false;
    *y = row.ys[i + __builtin_ctz(walk.left)];
    *here = _mm512_mask_cmpeq_epi32_mask(walk.left, walk.ys, _mm512_set1_epi32(*y));
    walk.left = static_cast<__mmask16>(walk.left & ~*here);
    ++walk.rows;
    return true;
}

// The lanes left to gather after a walk.
inline __mmask16 LeftAfter(const RowWalk& walk, const Window& w) {
    return static_cast<__mmask16>(walk.left | static_cast<__mmask16>(~w.lanes));
}

// The window's 32 pixels of row y of a plane of 32-bit pixels, picked per lane.
QB_AVX512 inline __m512i Pick(const Window& w, const uint32_t* plane, int32_t pitch, int32_t y) {
    const uint32_t* at = plane + int64_t{y} * pitch + w.base;
    return _mm512_permutex2var_epi32(_mm512_loadu_si512(at), w.at, _mm512_loadu_si512(at + 16));
}

// The same of a plane of bytes, each widened to a lane.
QB_AVX512 inline __m512i PickBytes(const Window& w, const uint8_t* plane, int32_t pitch, int32_t y) {
    const uint8_t* at = plane + int64_t{y} * pitch + w.base;
    const __m512i low = _mm512_maskz_cvtepu8_epi32(kAll16, _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)));
    const __m512i high =
        _mm512_maskz_cvtepu8_epi32(kAll16, _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 16)));
    return _mm512_permutex2var_epi32(low, w.at, high);
}

QB_AVX512 int32_t MoveRow32Avx512(const qbDisplaceRow& row, const uint32_t* source, int32_t pitch, uint32_t* out) {
    int32_t i = 0;
    for (; i + 16 <= row.count; i += 16) {
        FetchAhead(row, i, pitch, source, 4);
        const Window w = WindowOf(row, i);
        __m512i got = _mm512_setzero_si512();
        RowWalk walk = StartWalk(row, i, w);
        int32_t y;
        __mmask16 here;
        while (NextRow(row, i, walk, &y, &here)) got = _mm512_mask_mov_epi32(got, here, Pick(w, source, pitch, y));
        const __mmask16 left = LeftAfter(walk, w);
        if (left != 0) got = _mm512_mask_i32gather_epi32(got, left, Offsets(row, i, pitch), source, 4);
        _mm512_storeu_si512(out + i, got);
    }
    return i;
}

QB_AVX512 int32_t MixRow32Avx512(const qbDisplaceRow& row, const uint32_t* a, int32_t pitchA, const uint32_t* b,
                                 int32_t pitchB, int32_t k, uint32_t keep, uint32_t* out) {
    // Two bytes of a pixel per 32-bit lane, each in its own 16-bit field:
    // a * k + b * (256 - k) stays below 65536, so no field carries into the
    // next.
    const __m512i evens = _mm512_set1_epi32(0x00FF00FF), odds = _mm512_set1_epi32(static_cast<int32_t>(0xFF00FF00u));
    const __m512i ka = _mm512_set1_epi32(k), kb = _mm512_set1_epi32(256 - k);
    const __m512i kept = _mm512_set1_epi32(static_cast<int32_t>(keep));
    int32_t i = 0;
    for (; i + 16 <= row.count; i += 16) {
        FetchAhead(row, i, pitchA, a, 4);
        FetchAhead(row, i, pitchB, b, 4);
        const Window w = WindowOf(row, i);
        __m512i pa = _mm512_setzero_si512(), pb = pa;
        RowWalk walk = StartWalk(row, i, w);
        int32_t y;
        __mmask16 here;
        while (NextRow(row, i, walk, &y, &here)) {
            pa = _mm512_mask_mov_epi32(pa, here, Pick(w, a, pitchA, y));
            pb = _mm512_mask_mov_epi32(pb, here, Pick(w, b, pitchB, y));
        }
        const __mmask16 left = LeftAfter(walk, w);
        if (left != 0) {
            pa = _mm512_mask_i32gather_epi32(pa, left, Offsets(row, i, pitchA), a, 4);
            pb = _mm512_mask_i32gather_epi32(pb, left, Offsets(row, i, pitchB), b, 4);
        }
        const __m512i low = _mm512_add_epi32(_mm512_mullo_epi32(_mm512_and_si512(pa, evens), ka),
                                             _mm512_mullo_epi32(_mm512_and_si512(pb, evens), kb));
        const __m512i high = _mm512_add_epi32(_mm512_mullo_epi32(_mm512_and_si512(Srli(pa, 8), evens), ka),
                                              _mm512_mullo_epi32(_mm512_and_si512(Srli(pb, 8), evens), kb));
        const __m512i mixed =
            _mm512_or_si512(_mm512_and_si512(Srli(low, 8), evens), _mm512_and_si512(high, odds));
        _mm512_storeu_si512(out + i, _mm512_and_si512(mixed, kept));
    }
    return i;
}

QB_AVX512 int32_t AlphaRow32Avx512(const qbDisplaceRow& row, const uint32_t* source, int32_t pitch,
                                   const uint8_t* alpha, int32_t alphaPitch, int32_t level, uint32_t* out,
                                   uint8_t* outAlpha) {
    const __m512i three = _mm512_set1_epi32(3), levels = _mm512_set1_epi32(level);
    // x / 255 for x <= 65025 as (x * 32897) >> 23.
    const __m512i reciprocal = _mm512_set1_epi32(32897);
    int32_t i = 0;
    for (; i + 16 <= row.count; i += 16) {
        FetchAhead(row, i, alphaPitch, alpha, 1);
        FetchAhead(row, i, pitch, source, 4);
        const Window w = WindowOf(row, i);
        __m512i a = _mm512_setzero_si512(), pixels = a;
        RowWalk walk = StartWalk(row, i, w);
        int32_t y;
        __mmask16 here;
        while (NextRow(row, i, walk, &y, &here)) {
            a = _mm512_mask_mov_epi32(a, here, PickBytes(w, alpha, alphaPitch, y));
            pixels = _mm512_mask_mov_epi32(pixels, here, Pick(w, source, pitch, y));
        }
        const __mmask16 left = LeftAfter(walk, w);
        if (left != 0) {
            // A byte as the top byte of the four that end on it, so that no
            // read passes the plane's end; the first three bytes of the
            // plane have no such four and are left to the caller.
            const __m512i at = Offsets(row, i, alphaPitch);
            if (_mm512_mask_cmplt_epi32_mask(left, at, three) != 0) break;
            const __m512i words =
                _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), left, _mm512_sub_epi32(at, three), alpha, 1);
            a = _mm512_mask_mov_epi32(a, left, Srli(words, 24));
        }
        const __mmask16 shown = _mm512_test_epi32_mask(a, a);
        const __mmask16 gather = static_cast<__mmask16>(left & shown);
        if (gather != 0) pixels = _mm512_mask_i32gather_epi32(pixels, gather, Offsets(row, i, pitch), source, 4);
        // A whole store where every pixel shows (a masked one costs more).
        _mm512_storeu_si512(out + i, shown == kAll16 ? pixels
                                                     : _mm512_mask_blend_epi32(shown, _mm512_loadu_si512(out + i), pixels));
        if (outAlpha) {
            const __m512i scaled = Srli(
                _mm512_mullo_epi32(_mm512_mullo_epi32(a, levels), reciprocal), 23);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(outAlpha + i), _mm512_maskz_cvtepi32_epi8(kAll16, scaled));
        }
    }
    return i;
}

#else

int32_t DisplaceWindowRows() { return 0; }
int32_t SwirlRowAvx512(const qbSwirlRowGeometry&, int32_t, int32_t from, int32_t, int32_t*, int32_t*) { return from; }
int32_t RippleRowAvx512(const qbRippleRowGeometry&, const int32_t*, int32_t, int32_t from, int32_t, int32_t*, int32_t*) {
    return from;
}
int32_t MoveRow32Avx512(const qbDisplaceRow&, const uint32_t*, int32_t, uint32_t*) { return 0; }
int32_t MixRow32Avx512(const qbDisplaceRow&, const uint32_t*, int32_t, const uint32_t*, int32_t, int32_t, uint32_t,
                       uint32_t*) {
    return 0;
}
int32_t AlphaRow32Avx512(const qbDisplaceRow&, const uint32_t*, int32_t, const uint8_t*, int32_t, int32_t, uint32_t*,
                         uint8_t*) {
    return 0;
}

#endif
