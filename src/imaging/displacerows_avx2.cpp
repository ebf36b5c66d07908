// The displacement rows for processors with AVX2 but not AVX-512: positions
// four per step in doubles, the same operations as the one-by-one loops
// lane for lane; pixels eight per step by gathers (AVX2 has no two-register
// permute to pick them from row windows cheaply). Offsets are 32-bit, as in
// the AVX-512 rows.
#include "imaging/displacerows.h"

#include <algorithm>

#include "imaging/simdrows.h"

#if QB_PIXEL_X86

#include <immintrin.h>

#define QB_AVX2 __attribute__((target("avx2")))

namespace {

// A source coordinate limited to 0 .. top, then truncated: max answers its
// second operand (0) for NaN, as the one-by-one limit does.
QB_AVX2 inline __m128i Limit4(__m256d v, __m256d top) {
    return _mm256_cvttpd_epi32(_mm256_min_pd(_mm256_max_pd(v, _mm256_setzero_pd()), top));
}

// The offsets of eight positions in a plane whose rows lie pitch apart.
QB_AVX2 inline __m256i Offsets(const qbDisplaceRow& row, int32_t i, int32_t pitch) {
    const __m256i xs = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row.xs + i));
    const __m256i ys = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row.ys + i));
    return _mm256_add_epi32(_mm256_mullo_epi32(ys, _mm256_set1_epi32(pitch)), xs);
}

// The masked gathers with every lane on stand in for the plain ones, whose
// undefined start GCC 12 warns about.
QB_AVX2 inline __m256i GatherBytes4(const void* plane, __m256i at, int scale) {
    const auto* base = static_cast<const int*>(plane);
    const __m256i all = _mm256_set1_epi32(-1), zero = _mm256_setzero_si256();
    return scale == 4 ? _mm256_mask_i32gather_epi32(zero, base, at, all, 4)
                      : _mm256_mask_i32gather_epi32(zero, base, at, all, 1);
}

QB_AVX2 inline __m256i Gather(const uint32_t* plane, __m256i at) { return GatherBytes4(plane, at, 4); }

}  // namespace

QB_AVX2 int32_t SwirlRowAvx2(const qbSwirlRowGeometry& g, int32_t y, int32_t from, int32_t to, int32_t* xs,
                             int32_t* ys) {
    const double* sines = g.sines;
    const double* cosines = g.cosines;
    const bool unitX = g.scaleX == 1, unitY = g.scaleY == 1;
    const double dyScalar = (y - g.cy) * g.scaleY;
    const __m256d dy = _mm256_set1_pd(dyScalar), dyy = _mm256_set1_pd(dyScalar * dyScalar);
    const __m256d cx = _mm256_set1_pd(g.cx), cy = _mm256_set1_pd(g.cy), scaleX = _mm256_set1_pd(g.scaleX),
                  scaleY = _mm256_set1_pd(g.scaleY), radius2 = _mm256_set1_pd(g.radius2),
                  one = _mm256_set1_pd(1.0), rowAt = _mm256_set1_pd(y), zero = _mm256_setzero_pd();
    const __m256d right = _mm256_set1_pd(g.width - 1), bottom = _mm256_set1_pd(g.height - 1);
    const __m128i row = _mm_set1_epi32(y), step = _mm_set1_epi32(4);
    __m128i column = _mm_add_epi32(_mm_set1_epi32(from), _mm_setr_epi32(0, 1, 2, 3));
    int32_t x = from;
    for (; x + 4 <= to; x += 4, column = _mm_add_epi32(column, step)) {
        const __m256d columnAt = _mm256_cvtepi32_pd(column);
        const __m256d dx = _mm256_mul_pd(_mm256_sub_pd(columnAt, cx), scaleX);
        const __m256d d2 = _mm256_add_pd(_mm256_mul_pd(dx, dx), dyy);
        const __m256d inside = _mm256_cmp_pd(d2, radius2, _CMP_LT_OQ);
        if (_mm256_movemask_pd(inside) == 0) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(xs + x), column);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(ys + x), row);
            continue;
        }
        // floor(sqrt(trunc(d2))) for the lanes inside, 0 for the others.
        const __m256d n = _mm256_and_pd(_mm256_round_pd(d2, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC), inside);
        __m256d s = _mm256_round_pd(_mm256_sqrt_pd(n), _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
        s = _mm256_sub_pd(s, _mm256_and_pd(_mm256_cmp_pd(_mm256_mul_pd(s, s), n, _CMP_GT_OQ), one));
        const __m256d s1 = _mm256_add_pd(s, one);
        s = _mm256_blendv_pd(s, s1, _mm256_cmp_pd(_mm256_mul_pd(s1, s1), n, _CMP_LE_OQ));
        const __m128i d = _mm256_cvttpd_epi32(s);
        const __m256d sn = _mm256_mask_i32gather_pd(zero, sines, d, inside, 8);
        const __m256d cs = _mm256_mask_i32gather_pd(zero, cosines, d, inside, 8);
        const __m256d u = _mm256_sub_pd(_mm256_mul_pd(dx, cs), _mm256_mul_pd(dy, sn));
        const __m256d v = _mm256_add_pd(_mm256_mul_pd(dx, sn), _mm256_mul_pd(dy, cs));
        const __m256d ux = _mm256_add_pd(unitX ? u : _mm256_div_pd(u, scaleX), cx);
        const __m256d vy = _mm256_add_pd(unitY ? v : _mm256_div_pd(v, scaleY), cy);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(xs + x), Limit4(_mm256_blendv_pd(columnAt, ux, inside), right));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(ys + x), Limit4(_mm256_blendv_pd(rowAt, vy, inside), bottom));
    }
    return x;
}

QB_AVX2 int32_t RippleRowAvx2(const qbRippleRowGeometry& g, const int32_t* distances, int32_t y, int32_t from,
                              int32_t to, int32_t* xs, int32_t* ys) {
    const double* factors = g.factors;
    const __m128i zero = _mm_setzero_si128(), farthest = _mm_set1_epi32(g.farthest);
    const __m128i centreX = _mm_set1_epi32(g.centreX), step = _mm_set1_epi32(4);
    const __m256d row = _mm256_set1_pd(y), dy = _mm256_set1_pd(y - g.centreY);
    const __m256d right = _mm256_set1_pd(g.width - 1), bottom = _mm256_set1_pd(g.height - 1);
    __m128i column = _mm_add_epi32(_mm_set1_epi32(from), _mm_setr_epi32(0, 1, 2, 3));
    int32_t x = from;
    for (; x + 4 <= to; x += 4, column = _mm_add_epi32(column, step)) {
        const __m128i d = _mm_max_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(distances + x)), zero);
        if (_mm_movemask_epi8(_mm_cmpgt_epi32(d, farthest)) != 0) break;
        const __m256d v =
            _mm256_mask_i32gather_pd(_mm256_setzero_pd(), factors, d, _mm256_castsi256_pd(_mm256_set1_epi32(-1)), 8);
        const __m256d dx = _mm256_cvtepi32_pd(_mm_sub_epi32(column, centreX));
        const __m256d sx = _mm256_add_pd(_mm256_cvtepi32_pd(column), _mm256_mul_pd(dx, v));
        const __m256d sy = _mm256_add_pd(row, _mm256_mul_pd(dy, v));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(xs + x), Limit4(sx, right));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(ys + x), Limit4(sy, bottom));
    }
    return x;
}

QB_AVX2 int32_t MoveRow32Avx2(const qbDisplaceRow& row, const uint32_t* source, int32_t pitch, uint32_t* out) {
    int32_t i = 0;
    for (; i + 8 <= row.count; i += 8)
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), Gather(source, Offsets(row, i, pitch)));
    return i;
}

QB_AVX2 int32_t MixRow32Avx2(const qbDisplaceRow& row, const uint32_t* a, int32_t pitchA, const uint32_t* b,
                             int32_t pitchB, int32_t k, uint32_t keep, uint32_t* out) {
    // Two bytes of a pixel per 32-bit lane, each in its own 16-bit field:
    // a * k + b * (256 - k) stays below 65536, so no field carries.
    const __m256i evens = _mm256_set1_epi32(0x00FF00FF), odds = _mm256_set1_epi32(static_cast<int32_t>(0xFF00FF00u));
    const __m256i ka = _mm256_set1_epi32(k), kb = _mm256_set1_epi32(256 - k);
    const __m256i kept = _mm256_set1_epi32(static_cast<int32_t>(keep));
    int32_t i = 0;
    for (; i + 8 <= row.count; i += 8) {
        const __m256i pa = Gather(a, Offsets(row, i, pitchA)), pb = Gather(b, Offsets(row, i, pitchB));
        const __m256i low = _mm256_add_epi32(_mm256_mullo_epi32(_mm256_and_si256(pa, evens), ka),
                                             _mm256_mullo_epi32(_mm256_and_si256(pb, evens), kb));
        const __m256i high =
            _mm256_add_epi32(_mm256_mullo_epi32(_mm256_and_si256(_mm256_srli_epi32(pa, 8), evens), ka),
                             _mm256_mullo_epi32(_mm256_and_si256(_mm256_srli_epi32(pb, 8), evens), kb));
        const __m256i mixed =
            _mm256_or_si256(_mm256_and_si256(_mm256_srli_epi32(low, 8), evens), _mm256_and_si256(high, odds));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_and_si256(mixed, kept));
    }
    return i;
}

QB_AVX2 int32_t AlphaRow32Avx2(const qbDisplaceRow& row, const uint32_t* source, int32_t pitch, const uint8_t* alpha,
                               int32_t alphaPitch, int32_t level, uint32_t* out, uint8_t* outAlpha) {
    const __m256i three = _mm256_set1_epi32(3), two = _mm256_set1_epi32(2), levels = _mm256_set1_epi32(level);
    const __m256i reciprocal = _mm256_set1_epi32(32897);  // x / 255 for x <= 65025 as (x * 32897) >> 23
    const __m256i zero = _mm256_setzero_si256();
    // The low byte of each lane to the front of its half, then the halves' four together.
    const __m256i lowBytes = _mm256_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 4, 8,
                                              12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m256i halves = _mm256_setr_epi32(0, 4, 1, 1, 1, 1, 1, 1);
    int32_t i = 0;
    for (; i + 8 <= row.count; i += 8) {
        // A byte as the top byte of the four that end on it, so that no
        // read passes the plane's end; the first three bytes of the plane
        // have no such four and are left to the caller.
        const __m256i at = Offsets(row, i, alphaPitch);
        if (_mm256_movemask_epi8(_mm256_cmpgt_epi32(at, two)) != -1) break;
        const __m256i a = _mm256_srli_epi32(GatherBytes4(alpha, _mm256_sub_epi32(at, three), 1), 24);
        const __m256i shown = _mm256_xor_si256(_mm256_cmpeq_epi32(a, zero), _mm256_set1_epi32(-1));
        __m256i* to = reinterpret_cast<__m256i*>(out + i);
        const int shownBits = _mm256_movemask_ps(_mm256_castsi256_ps(shown));
        if (shownBits != 0) {
            const __m256i pixels = _mm256_mask_i32gather_epi32(_mm256_loadu_si256(to),
                                                               reinterpret_cast<const int*>(source),
                                                               Offsets(row, i, pitch), shown, 4);
            _mm256_storeu_si256(to, pixels);
        }
        if (outAlpha) {
            const __m256i scaled =
                _mm256_srli_epi32(_mm256_mullo_epi32(_mm256_mullo_epi32(a, levels), reciprocal), 23);
            const __m256i packed = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(scaled, lowBytes), halves);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(outAlpha + i), _mm256_castsi256_si128(packed));
        }
    }
    return i;
}

#else

int32_t SwirlRowAvx2(const qbSwirlRowGeometry&, int32_t, int32_t from, int32_t, int32_t*, int32_t*) { return from; }
int32_t RippleRowAvx2(const qbRippleRowGeometry&, const int32_t*, int32_t, int32_t from, int32_t, int32_t*, int32_t*) {
    return from;
}
int32_t MoveRow32Avx2(const qbDisplaceRow&, const uint32_t*, int32_t, uint32_t*) { return 0; }
int32_t MixRow32Avx2(const qbDisplaceRow&, const uint32_t*, int32_t, const uint32_t*, int32_t, int32_t, uint32_t,
                     uint32_t*) {
    return 0;
}
int32_t AlphaRow32Avx2(const qbDisplaceRow&, const uint32_t*, int32_t, const uint8_t*, int32_t, int32_t, uint32_t*,
                       uint8_t*) {
    return 0;
}

#endif
