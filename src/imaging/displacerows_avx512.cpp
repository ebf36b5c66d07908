// The displacement rows, sixteen pixels (eight positions) per step: the
// source offsets are whole vectors, the pixels come by gathers. Offsets are
// 32-bit (the caller keeps every picture below 2^31 pixels). The zero-masked
// forms of conversions, min and max stand in for the plain ones, whose
// undefined upper lanes GCC 12 warns about.
#include "imaging/displacerows.h"

#include <initializer_list>

#include "imaging/simdrows.h"

#if QB_PIXEL_X86

#include <immintrin.h>

#define QB_AVX512 __attribute__((target("avx512f")))

namespace {

constexpr __mmask8 kAll8 = 0xFF;
constexpr __mmask16 kAll16 = 0xFFFF;

// A source coordinate limited to 0 .. size - 1, then truncated: max
// answers its second operand (0) for NaN, as the one-by-one limit does.
QB_AVX512 inline __m256i Limit8(__m512d v, int32_t size) {
    const __m512d top = _mm512_set1_pd(static_cast<double>(size - 1));
    return _mm512_maskz_cvttpd_epi32(
        kAll8, _mm512_maskz_min_pd(kAll8, _mm512_maskz_max_pd(kAll8, v, _mm512_setzero_pd()), top));
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

QB_AVX512 inline __m512i Gather(__m512i offsets, const uint32_t* plane) {
    return _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), kAll16, offsets, plane, 4);
}

}  // namespace

QB_AVX512 int32_t RippleRowAvx512(const qbRippleRowGeometry& g, const int32_t* distances, int32_t y, int32_t* xs,
                                  int32_t* ys) {
    const __m256i zero = _mm256_setzero_si256(), farthest = _mm256_set1_epi32(g.farthest);
    const __m256i centreX = _mm256_set1_epi32(g.centreX), step = _mm256_set1_epi32(8);
    const __m512d row = _mm512_set1_pd(y), dy = _mm512_set1_pd(y - g.centreY);
    const double* factors = g.factors;
    const int32_t width = g.width, height = g.height;
    __m256i column = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    int32_t x = 0;
    for (; x + 8 <= width; x += 8, column = _mm256_add_epi32(column, step)) {
        const __m256i d =
            _mm256_max_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(distances + x)), zero);
        if (!_mm256_testz_si256(_mm256_cmpgt_epi32(d, farthest), _mm256_cmpgt_epi32(d, farthest))) break;
        const __m512d v = _mm512_mask_i32gather_pd(_mm512_setzero_pd(), kAll8, d, factors, 8);
        const __m512d dx = _mm512_maskz_cvtepi32_pd(kAll8, _mm256_sub_epi32(column, centreX));
        const __m512d sx = _mm512_add_pd(_mm512_maskz_cvtepi32_pd(kAll8, column), _mm512_mul_pd(dx, v));
        const __m512d sy = _mm512_add_pd(row, _mm512_mul_pd(dy, v));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(xs + x), Limit8(sx, width));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(ys + x), Limit8(sy, height));
    }
    return x;
}

QB_AVX512 int32_t MoveRow32Avx512(const qbDisplaceRow& row, const uint32_t* source, int32_t pitch, uint32_t* out) {
    int32_t i = 0;
    for (; i + 16 <= row.count; i += 16) {
        FetchAhead(row, i, pitch, source, 4);
        _mm512_storeu_si512(out + i, Gather(Offsets(row, i, pitch), source));
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
    const bool samePitch = pitchA == pitchB;
    int32_t i = 0;
    for (; i + 16 <= row.count; i += 16) {
        FetchAhead(row, i, pitchA, a, 4);
        FetchAhead(row, i, pitchB, b, 4);
        const __m512i offsetsA = Offsets(row, i, pitchA);
        const __m512i pa = Gather(offsetsA, a), pb = Gather(samePitch ? offsetsA : Offsets(row, i, pitchB), b);
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
        // A byte's alpha as the top byte of the four that end on it, so that
        // no read passes the plane's end; the first three bytes of the plane
        // have no such four and are left to the caller.
        FetchAhead(row, i, alphaPitch, alpha, 1);
        FetchAhead(row, i, pitch, source, 4);
        const __m512i at = Offsets(row, i, alphaPitch);
        if (_mm512_cmplt_epi32_mask(at, three) != 0) break;
        const __m512i words =
            _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), kAll16, _mm512_sub_epi32(at, three), alpha, 1);
        const __m512i a = Srli(words, 24);
        const __mmask16 shown = _mm512_test_epi32_mask(a, a);
        const __m512i pixels =
            _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), shown, Offsets(row, i, pitch), source, 4);
        _mm512_mask_storeu_epi32(out + i, shown, pixels);
        if (outAlpha) {
            const __m512i scaled = Srli(
                _mm512_mullo_epi32(_mm512_mullo_epi32(a, levels), reciprocal), 23);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(outAlpha + i), _mm512_maskz_cvtepi32_epi8(kAll16, scaled));
        }
    }
    return i;
}

#else

int32_t RippleRowAvx512(const qbRippleRowGeometry&, const int32_t*, int32_t, int32_t*, int32_t*) { return 0; }
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
