// The contrast and modulate kernels on ARGB rows, four pixels per step in AVX2 doubles.
// It performs the scalar kernel's operations in the scalar kernel's order
// (the case branches become blends), so it gives the same pixels; it runs
// only when the processor has AVX2 (target attribute, as in
// kernels_avx2.cpp).
#include "imaging/colourops_avx2.h"

#include "imaging/simdrows.h"

#if QB_PIXEL_X86

#include <immintrin.h>

#define QB_AVX2 __attribute__((target("avx2")))
#define QB_AVX2_FMA __attribute__((target("avx2,fma")))

namespace {

QB_AVX2 inline __m256d Pick(__m256d otherwise, __m256d value, __m256d mask) {
    return _mm256_blendv_pd(otherwise, value, mask);
}

QB_AVX2 inline __m128i Store255(__m256d x) {
    const __m256d v = _mm256_mul_pd(x, _mm256_set1_pd(255.0));
    return _mm256_cvttpd_epi32(_mm256_min_pd(_mm256_max_pd(v, _mm256_setzero_pd()), _mm256_set1_pd(255.0)));
}

}  // namespace

QB_AVX2 size_t ContrastArgbAvx2(uint32_t* px, size_t count, const double* table) {
    const __m128i ff = _mm_set1_epi32(0xFF);
    const __m256d one = _mm256_set1_pd(1.0), two = _mm256_set1_pd(2.0), four = _mm256_set1_pd(4.0),
                  six = _mm256_set1_pd(6.0), zero = _mm256_setzero_pd();
    size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(px + i));
        const __m128i ri = _mm_and_si128(_mm_srli_epi32(p, 16), ff);
        const __m128i gi = _mm_and_si128(_mm_srli_epi32(p, 8), ff);
        const __m128i bi = _mm_and_si128(p, ff);
        const __m128i mxi = _mm_max_epi32(ri, _mm_max_epi32(gi, bi));
        const __m128i mni = _mm_min_epi32(ri, _mm_min_epi32(gi, bi));
        const __m256d r = _mm256_cvtepi32_pd(ri), g = _mm256_cvtepi32_pd(gi), b = _mm256_cvtepi32_pd(bi);
        const __m256d mx = _mm256_cvtepi32_pd(mxi), mn = _mm256_cvtepi32_pd(mni);
        const __m256d vp = _mm256_mask_i32gather_pd(zero, table, mxi, _mm256_castsi256_pd(_mm256_set1_epi64x(-1)), 8);
        const __m256d gray = _mm256_cmp_pd(mx, mn, _CMP_EQ_OQ);
        const __m256d delta = _mm256_sub_pd(mx, mn);
        const __m256d sat = _mm256_div_pd(delta, mx);
        const __m256d hr = _mm256_div_pd(_mm256_sub_pd(g, b), delta);
        const __m256d hg = _mm256_add_pd(_mm256_div_pd(_mm256_sub_pd(b, r), delta), two);
        const __m256d hb = _mm256_add_pd(_mm256_div_pd(_mm256_sub_pd(r, g), delta), four);
        __m256d hue = Pick(Pick(hb, hg, _mm256_cmp_pd(g, mx, _CMP_EQ_OQ)), hr, _mm256_cmp_pd(r, mx, _CMP_EQ_OQ));
        hue = _mm256_div_pd(hue, six);
        hue = Pick(hue, _mm256_add_pd(hue, one), _mm256_cmp_pd(hue, zero, _CMP_LT_OQ));
        const __m256d whole = _mm256_and_pd(_mm256_cmp_pd(hue, one, _CMP_GE_OQ), one);
        const __m256d h = _mm256_mul_pd(_mm256_sub_pd(hue, whole), six);
        const __m256d sector = _mm256_cvtepi32_pd(_mm256_cvttpd_epi32(h));
        const __m256d f = _mm256_sub_pd(h, sector);
        const __m256d pp = _mm256_mul_pd(_mm256_sub_pd(one, sat), vp);
        const __m256d qq = _mm256_mul_pd(_mm256_sub_pd(one, _mm256_mul_pd(sat, f)), vp);
        const __m256d tt = _mm256_mul_pd(_mm256_sub_pd(one, _mm256_mul_pd(sat, _mm256_sub_pd(one, f))), vp);
        __m256d s[6];
        for (int k = 1; k < 6; ++k) s[k] = _mm256_cmp_pd(sector, _mm256_set1_pd(k), _CMP_EQ_OQ);
        // Sector 0 (and any other): (v', t, p).
        __m256d cr = vp, cg = tt, cb = pp;
        cr = Pick(Pick(Pick(Pick(cr, qq, s[1]), pp, s[2]), pp, s[3]), tt, s[4]);
        cg = Pick(Pick(Pick(Pick(Pick(cg, vp, s[1]), vp, s[2]), qq, s[3]), pp, s[4]), pp, s[5]);
        cb = Pick(Pick(Pick(Pick(Pick(cb, pp, s[1]), tt, s[2]), vp, s[3]), vp, s[4]), qq, s[5]);
        cr = Pick(cr, vp, gray);
        cg = Pick(cg, vp, gray);
        cb = Pick(cb, vp, gray);
        const __m128i out = _mm_or_si128(_mm_or_si128(_mm_slli_epi32(Store255(cr), 16), _mm_slli_epi32(Store255(cg), 8)),
                                         Store255(cb));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(px + i), out);
    }
    return i;
}

namespace {

// WrapHue, lane by lane.
QB_AVX2 inline __m256d WrapHue4(__m256d h) {
    const __m256d one = _mm256_set1_pd(1.0), zero = _mm256_setzero_pd();
    const __m256d steps = _mm256_ceil_pd(_mm256_sub_pd(zero, h));
    const __m256d up = _mm256_add_pd(_mm256_add_pd(h, _mm256_sub_pd(steps, one)), one);
    const __m256d down = _mm256_sub_pd(h, _mm256_sub_pd(_mm256_ceil_pd(h), one));
    h = Pick(h, down, _mm256_cmp_pd(h, one, _CMP_GT_OQ));
    return Pick(h, up, _mm256_cmp_pd(h, zero, _CMP_LT_OQ));
}

QB_AVX2 inline __m256d HueChannel4(__m256d m1, __m256d m2, __m256d x) {
    const __m256d one = _mm256_set1_pd(1.0), zero = _mm256_setzero_pd();
    x = Pick(Pick(x, _mm256_sub_pd(x, one), _mm256_cmp_pd(x, one, _CMP_GT_OQ)), _mm256_add_pd(x, one),
             _mm256_cmp_pd(x, zero, _CMP_LT_OQ));
    const __m256d span = _mm256_mul_pd(_mm256_sub_pd(m2, m1), _mm256_set1_pd(6.0));
    const __m256d rising = _mm256_add_pd(m1, _mm256_mul_pd(span, x));
    const __m256d falling =
        _mm256_add_pd(m1, _mm256_mul_pd(span, _mm256_sub_pd(_mm256_set1_pd(0.6666666666666666), x)));
    __m256d v = Pick(m1, falling, _mm256_cmp_pd(_mm256_mul_pd(_mm256_set1_pd(3.0), x), _mm256_set1_pd(2.0), _CMP_LT_OQ));
    v = Pick(v, m2, _mm256_cmp_pd(_mm256_mul_pd(_mm256_set1_pd(2.0), x), one, _CMP_LT_OQ));
    return Pick(v, rising, _mm256_cmp_pd(_mm256_mul_pd(_mm256_set1_pd(6.0), x), one, _CMP_LT_OQ));
}

// v / 6 for v = a/255 - b/255 (a >= b, both as the kernels form them):
// the product by 1/6, corrected once by its exact remainder (a fused
// multiply-add). Correctly rounded for every such v, checked over all
// 32,896 of them (tests/imaging/colourops_test.cpp), so it is the quotient
// the scalar kernel divides out, at a third of a division's cost.
QB_AVX2_FMA inline __m256d DivideBySix(__m256d v) {
    const __m256d sixth = _mm256_set1_pd(1.0 / 6), six = _mm256_set1_pd(6.0);
    const __m256d q = _mm256_mul_pd(v, sixth);
    return _mm256_fmadd_pd(_mm256_fnmadd_pd(q, six, v), sixth, q);
}

}  // namespace

QB_AVX2_FMA size_t ModulateArgbAvx2(uint32_t* px, size_t count, double hueAdd, double satScale, double lightScale) {
    const __m128i ff = _mm_set1_epi32(0xFF);
    const __m256d inv = _mm256_set1_pd(0.00392156862745098), half = _mm256_set1_pd(0.5), one = _mm256_set1_pd(1.0),
                  two = _mm256_set1_pd(2.0), zero = _mm256_setzero_pd(),
                  third = _mm256_set1_pd(0.3333333333333333), twoThirds = _mm256_set1_pd(0.6666666666666666);
    size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(px + i));
        const __m256d r = _mm256_mul_pd(_mm256_cvtepi32_pd(_mm_and_si128(_mm_srli_epi32(p, 16), ff)), inv);
        const __m256d g = _mm256_mul_pd(_mm256_cvtepi32_pd(_mm_and_si128(_mm_srli_epi32(p, 8), ff)), inv);
        const __m256d b = _mm256_mul_pd(_mm256_cvtepi32_pd(_mm_and_si128(p, ff)), inv);
        const __m256d mx = _mm256_max_pd(r, _mm256_max_pd(g, b)), mn = _mm256_min_pd(r, _mm256_min_pd(g, b));
        __m256d light = _mm256_mul_pd(half, _mm256_add_pd(mx, mn));
        const __m256d flat = _mm256_cmp_pd(mx, mn, _CMP_EQ_OQ);
        const __m256d delta = _mm256_sub_pd(mx, mn);
        // One division each, of the numerator and denominator the lane's case picks.
        __m256d sat = _mm256_div_pd(delta, Pick(_mm256_sub_pd(_mm256_sub_pd(two, mx), mn), _mm256_add_pd(mx, mn),
                                                _mm256_cmp_pd(light, half, _CMP_LT_OQ)));
        const __m256d dr = DivideBySix(_mm256_sub_pd(mx, r)), dg = DivideBySix(_mm256_sub_pd(mx, g)),
                      db = DivideBySix(_mm256_sub_pd(mx, b)), hd = _mm256_mul_pd(half, delta);
        const __m256d isR = _mm256_cmp_pd(r, mx, _CMP_EQ_OQ), isG = _mm256_cmp_pd(g, mx, _CMP_EQ_OQ);
        const __m256d nr = _mm256_sub_pd(_mm256_add_pd(db, hd), _mm256_add_pd(hd, dg));
        const __m256d ng = _mm256_sub_pd(_mm256_add_pd(dr, hd), _mm256_add_pd(hd, db));
        const __m256d nb = _mm256_sub_pd(_mm256_add_pd(dg, hd), _mm256_add_pd(hd, dr));
        const __m256d ratio = _mm256_div_pd(Pick(Pick(nb, ng, isG), nr, isR), delta);
        __m256d hue = Pick(_mm256_add_pd(ratio, Pick(twoThirds, third, isG)), ratio, isR);
        hue = Pick(hue, _mm256_add_pd(hue, one), _mm256_cmp_pd(hue, zero, _CMP_LT_OQ));
        hue = Pick(hue, _mm256_sub_pd(hue, one), _mm256_cmp_pd(hue, one, _CMP_GT_OQ));
        hue = Pick(hue, zero, flat);
        sat = Pick(sat, zero, flat);
        hue = WrapHue4(_mm256_add_pd(hue, _mm256_set1_pd(hueAdd)));
        sat = _mm256_mul_pd(sat, _mm256_set1_pd(satScale));
        light = _mm256_mul_pd(light, _mm256_set1_pd(lightScale));
        const __m256d m2 = Pick(_mm256_sub_pd(_mm256_add_pd(sat, light), _mm256_mul_pd(sat, light)),
                                _mm256_mul_pd(_mm256_add_pd(sat, one), light), _mm256_cmp_pd(light, half, _CMP_LE_OQ));
        const __m256d m1 = _mm256_sub_pd(_mm256_mul_pd(two, light), m2);
        const __m256d gray = _mm256_cmp_pd(sat, zero, _CMP_EQ_OQ);
        const __m256d cr = Pick(HueChannel4(m1, m2, _mm256_add_pd(hue, third)), light, gray);
        const __m256d cg = Pick(HueChannel4(m1, m2, hue), light, gray);
        const __m256d cb = Pick(HueChannel4(m1, m2, _mm256_sub_pd(hue, third)), light, gray);
        const __m128i out = _mm_or_si128(_mm_or_si128(_mm_slli_epi32(Store255(cr), 16), _mm_slli_epi32(Store255(cg), 8)),
                                         Store255(cb));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(px + i), out);
    }
    return i;
}

#else

size_t ContrastArgbAvx2(uint32_t*, size_t, const double*) { return 0; }
size_t ModulateArgbAvx2(uint32_t*, size_t, double, double, double) { return 0; }

#endif
