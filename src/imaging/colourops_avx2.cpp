// The contrast kernel on ARGB rows, four pixels per step in AVX2 doubles.
// It performs the scalar kernel's operations in the scalar kernel's order
// (the case branches become blends), so it gives the same pixels; it runs
// only when the processor has AVX2 (target attribute, as in
// kernels_avx2.cpp).
#include "imaging/colourops_avx2.h"

#include "imaging/simdrows.h"

#if QB_PIXEL_X86

#include <immintrin.h>

#define QB_AVX2 __attribute__((target("avx2")))

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

#else

size_t ContrastArgbAvx2(uint32_t*, size_t, const double*) { return 0; }

#endif
