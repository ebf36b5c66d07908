// The modulate kernel on ARGB rows, eight pixels per step in AVX-512
// doubles: the AVX2 form's operations lane for lane, with mask registers
// for its blends, so it gives the same pixels. The zero-masked forms of
// conversions, min, max and rounding stand in for the plain ones, whose
// undefined upper lanes GCC 12 warns about.
#include "imaging/colourops_avx2.h"

#include "imaging/simdrows.h"

#if QB_PIXEL_X86

#include <immintrin.h>

#define QB_AVX512 __attribute__((target("avx512f")))

namespace {

constexpr __mmask8 kAll = 0xFF;

QB_AVX512 inline __m512d Pick(__m512d otherwise, __m512d value, __mmask8 mask) {
    return _mm512_mask_blend_pd(mask, otherwise, value);
}

QB_AVX512 inline __m512d Splat(double v) { return _mm512_set1_pd(v); }

QB_AVX512 inline __m512d Channel(__m256i pixels, int shift) {
    const __m256i v = _mm256_and_si256(_mm256_srli_epi32(pixels, shift), _mm256_set1_epi32(0xFF));
    return _mm512_mul_pd(_mm512_maskz_cvtepi32_pd(kAll, v), Splat(0.00392156862745098));
}

QB_AVX512 inline __m256i Store255(__m512d x) {
    const __m512d v = _mm512_mul_pd(x, Splat(255.0));
    return _mm512_maskz_cvttpd_epi32(kAll,
                                     _mm512_maskz_min_pd(kAll, _mm512_maskz_max_pd(kAll, v, _mm512_setzero_pd()),
                                                         Splat(255.0)));
}

QB_AVX512 inline __m512d Ceil(__m512d x) {
    return _mm512_maskz_roundscale_pd(kAll, x, _MM_FROUND_TO_POS_INF | _MM_FROUND_NO_EXC);
}

// The same correctly rounded division as DivideBySix of colourops_avx2.cpp.
QB_AVX512 inline __m512d DivideBySix(__m512d v) {
    const __m512d sixth = Splat(1.0 / 6);
    const __m512d q = _mm512_mul_pd(v, sixth);
    return _mm512_fmadd_pd(_mm512_fnmadd_pd(q, Splat(6.0), v), sixth, q);
}

QB_AVX512 inline __m512d WrapHue8(__m512d h) {
    const __m512d one = Splat(1.0), zero = _mm512_setzero_pd();
    const __m512d steps = Ceil(_mm512_sub_pd(zero, h));
    const __m512d up = _mm512_add_pd(_mm512_add_pd(h, _mm512_sub_pd(steps, one)), one);
    const __m512d down = _mm512_sub_pd(h, _mm512_sub_pd(Ceil(h), one));
    h = Pick(h, down, _mm512_cmp_pd_mask(h, one, _CMP_GT_OQ));
    return Pick(h, up, _mm512_cmp_pd_mask(h, zero, _CMP_LT_OQ));
}

QB_AVX512 inline __m512d HueChannel8(__m512d m1, __m512d m2, __m512d x) {
    const __m512d one = Splat(1.0), zero = _mm512_setzero_pd();
    x = Pick(Pick(x, _mm512_sub_pd(x, one), _mm512_cmp_pd_mask(x, one, _CMP_GT_OQ)), _mm512_add_pd(x, one),
             _mm512_cmp_pd_mask(x, zero, _CMP_LT_OQ));
    const __m512d span = _mm512_mul_pd(_mm512_sub_pd(m2, m1), Splat(6.0));
    const __m512d rising = _mm512_add_pd(m1, _mm512_mul_pd(span, x));
    const __m512d falling = _mm512_add_pd(m1, _mm512_mul_pd(span, _mm512_sub_pd(Splat(0.6666666666666666), x)));
    __m512d v = Pick(m1, falling, _mm512_cmp_pd_mask(_mm512_mul_pd(Splat(3.0), x), Splat(2.0), _CMP_LT_OQ));
    v = Pick(v, m2, _mm512_cmp_pd_mask(_mm512_mul_pd(Splat(2.0), x), one, _CMP_LT_OQ));
    return Pick(v, rising, _mm512_cmp_pd_mask(_mm512_mul_pd(Splat(6.0), x), one, _CMP_LT_OQ));
}

}  // namespace

QB_AVX512 size_t ModulateArgbAvx512(uint32_t* px, size_t count, double hueAdd, double satScale, double lightScale) {
    const __m512d half = Splat(0.5), one = Splat(1.0), two = Splat(2.0), zero = _mm512_setzero_pd(),
                  third = Splat(0.3333333333333333), twoThirds = Splat(0.6666666666666666);
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(px + i));
        const __m512d r = Channel(p, 16), g = Channel(p, 8), b = Channel(p, 0);
        const __m512d mx = _mm512_maskz_max_pd(kAll, r, _mm512_maskz_max_pd(kAll, g, b));
        const __m512d mn = _mm512_maskz_min_pd(kAll, r, _mm512_maskz_min_pd(kAll, g, b));
        __m512d light = _mm512_mul_pd(half, _mm512_add_pd(mx, mn));
        const __mmask8 flat = _mm512_cmp_pd_mask(mx, mn, _CMP_EQ_OQ);
        const __m512d delta = _mm512_sub_pd(mx, mn);
        __m512d sat = _mm512_div_pd(delta, Pick(_mm512_sub_pd(_mm512_sub_pd(two, mx), mn), _mm512_add_pd(mx, mn),
                                                _mm512_cmp_pd_mask(light, half, _CMP_LT_OQ)));
        const __m512d dr = DivideBySix(_mm512_sub_pd(mx, r)), dg = DivideBySix(_mm512_sub_pd(mx, g)),
                      db = DivideBySix(_mm512_sub_pd(mx, b)), hd = _mm512_mul_pd(half, delta);
        const __mmask8 isR = _mm512_cmp_pd_mask(r, mx, _CMP_EQ_OQ), isG = _mm512_cmp_pd_mask(g, mx, _CMP_EQ_OQ);
        const __m512d nr = _mm512_sub_pd(_mm512_add_pd(db, hd), _mm512_add_pd(hd, dg));
        const __m512d ng = _mm512_sub_pd(_mm512_add_pd(dr, hd), _mm512_add_pd(hd, db));
        const __m512d nb = _mm512_sub_pd(_mm512_add_pd(dg, hd), _mm512_add_pd(hd, dr));
        const __m512d ratio = _mm512_div_pd(Pick(Pick(nb, ng, isG), nr, isR), delta);
        __m512d hue = Pick(_mm512_add_pd(ratio, Pick(twoThirds, third, isG)), ratio, isR);
        hue = Pick(hue, _mm512_add_pd(hue, one), _mm512_cmp_pd_mask(hue, zero, _CMP_LT_OQ));
        hue = Pick(hue, _mm512_sub_pd(hue, one), _mm512_cmp_pd_mask(hue, one, _CMP_GT_OQ));
        hue = Pick(hue, zero, flat);
        sat = Pick(sat, zero, flat);
        hue = WrapHue8(_mm512_add_pd(hue, Splat(hueAdd)));
        sat = _mm512_mul_pd(sat, Splat(satScale));
        light = _mm512_mul_pd(light, Splat(lightScale));
        const __m512d m2 = Pick(_mm512_sub_pd(_mm512_add_pd(sat, light), _mm512_mul_pd(sat, light)),
                                _mm512_mul_pd(_mm512_add_pd(sat, one), light),
                                _mm512_cmp_pd_mask(light, half, _CMP_LE_OQ));
        const __m512d m1 = _mm512_sub_pd(_mm512_mul_pd(two, light), m2);
        const __mmask8 gray = _mm512_cmp_pd_mask(sat, zero, _CMP_EQ_OQ);
        const __m512d cr = Pick(HueChannel8(m1, m2, _mm512_add_pd(hue, third)), light, gray);
        const __m512d cg = Pick(HueChannel8(m1, m2, hue), light, gray);
        const __m512d cb = Pick(HueChannel8(m1, m2, _mm512_sub_pd(hue, third)), light, gray);
        const __m256i out = _mm256_or_si256(
            _mm256_or_si256(_mm256_slli_epi32(Store255(cr), 16), _mm256_slli_epi32(Store255(cg), 8)), Store255(cb));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(px + i), out);
    }
    return i;
}

#else

size_t ModulateArgbAvx512(uint32_t*, size_t, double, double, double) { return 0; }

#endif
