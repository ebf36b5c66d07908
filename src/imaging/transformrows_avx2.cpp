// AVX2 rows of the affine kernel: four destination pixels a step, one pixel
// per double lane, so the positions, floors, weights and channel sums are
// the baseline's own operations in the same order (no fused multiply-add is
// enabled here) and give the same bytes. Source words are gathered by 32-bit
// index, so sources whose last index does not fit leave the row to the
// baseline loop.
#include "imaging/transformrows.h"

#include "imaging/simdrows.h"
#include "imaging/transform.h"

#if QB_PIXEL_X86

#include <immintrin.h>

#include <cstddef>

#define QB_AVX2 __attribute__((target("avx2")))

namespace {

bool IndicesFit(const qbTransformRequest& r) {
    return int64_t{r.srcHeight - 1} * r.srcRowLength + r.srcWidth <= INT32_MAX;
}

// The Part's index clamp on positions that are never NaN: below 1 gives 0,
// at or past size - 1 gives size - 1, else the integer part.
QB_AVX2 inline __m128i Clamp(__m256d v, __m256d last) {
    return _mm256_cvttpd_epi32(_mm256_min_pd(_mm256_max_pd(v, _mm256_setzero_pd()), last));
}

// One channel of four pixels blended as the baseline blends it.
QB_AVX2 inline __m128i Channel(const __m128i p[4], int shift, __m256d wx0, __m256d wx1, __m256d wy0, __m256d wy1) {
    const __m128i byte = _mm_set1_epi32(0xFF);
    __m256d c[4];
    for (int i = 0; i < 4; ++i) c[i] = _mm256_cvtepi32_pd(_mm_and_si128(_mm_srli_epi32(p[i], shift), byte));
    const __m256d upper = _mm256_add_pd(_mm256_mul_pd(c[0], wx0), _mm256_mul_pd(c[1], wx1));
    const __m256d lower = _mm256_add_pd(_mm256_mul_pd(c[2], wx0), _mm256_mul_pd(c[3], wx1));
    const __m256d sum =
        _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(upper, wy0), _mm256_mul_pd(lower, wy1)), _mm256_set1_pd(0.5));
    return _mm256_cvttpd_epi32(_mm256_min_pd(sum, _mm256_set1_pd(255.0)));
}

}  // namespace

QB_AVX2 int32_t NearestRowAvx2(const TransformRow& row) {
    const qbTransformRequest& r = *row.req;
    if (!IndicesFit(r)) return row.x0;
    const auto* src = static_cast<const int*>(r.srcPixels);
    const __m256d a = _mm256_set1_pd(row.a), b = _mm256_set1_pd(row.b);
    const __m256d rowX = _mm256_set1_pd(row.rowX), rowY = _mm256_set1_pd(row.rowY);
    const __m256d tx = _mm256_set1_pd(row.tx), ty = _mm256_set1_pd(row.ty);
    const __m256d lastX = _mm256_set1_pd(r.srcWidth - 1), lastY = _mm256_set1_pd(r.srcHeight - 1);
    const __m128i rowLength = _mm_set1_epi32(r.srcRowLength);
    const __m256d four = _mm256_set1_pd(4);
    __m256d cx = _mm256_add_pd(_mm256_set1_pd(row.x0 + 0.5), _mm256_set_pd(3, 2, 1, 0));
    int32_t X = row.x0;
    for (; X + 3 <= row.x1; X += 4, cx = _mm256_add_pd(cx, four)) {
        const __m128i ix = Clamp(_mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(a, cx), rowX), tx), lastX);
        const __m128i iy = Clamp(_mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(b, cx), rowY), ty), lastY);
        const __m128i index = _mm_add_epi32(_mm_mullo_epi32(iy, rowLength), ix);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(row.out + X), _mm_i32gather_epi32(src, index, 4));
        if (row.alphaOut) {
            alignas(16) int32_t xs[4], ys[4];
            _mm_store_si128(reinterpret_cast<__m128i*>(xs), ix);
            _mm_store_si128(reinterpret_cast<__m128i*>(ys), iy);
            for (int i = 0; i < 4; ++i)
                row.alphaOut[X + i] = r.srcAlpha[static_cast<size_t>(ys[i]) * r.srcAlphaRowBytes + xs[i]];
        }
    }
    return X;
}

QB_AVX2 int32_t SmoothRowAvx2(const TransformRow& row) {
    const qbTransformRequest& r = *row.req;
    if (!IndicesFit(r)) return row.x0;
    const auto* src = static_cast<const int*>(r.srcPixels);
    const __m256d a = _mm256_set1_pd(row.a), b = _mm256_set1_pd(row.b);
    const __m256d rowX = _mm256_set1_pd(row.rowX), rowY = _mm256_set1_pd(row.rowY);
    const __m256d tx = _mm256_set1_pd(row.tx), ty = _mm256_set1_pd(row.ty);
    const __m256d half = _mm256_set1_pd(0.5), one = _mm256_set1_pd(1);
    const __m256d lastX = _mm256_set1_pd(r.srcWidth - 1), lastY = _mm256_set1_pd(r.srcHeight - 1);
    const __m128i rowLength = _mm_set1_epi32(r.srcRowLength);
    const __m128i colour = _mm_set1_epi32(0xFFFFFF);
    const __m256d four = _mm256_set1_pd(4);
    __m256d cx = _mm256_add_pd(_mm256_set1_pd(row.x0 + 0.5), _mm256_set_pd(3, 2, 1, 0));
    int32_t X = row.x0;
    for (; X + 3 <= row.x1; X += 4, cx = _mm256_add_pd(cx, four)) {
        const __m256d u = _mm256_sub_pd(_mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(a, cx), rowX), tx), half);
        const __m256d v = _mm256_sub_pd(_mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(b, cx), rowY), ty), half);
        const __m256d fu = _mm256_floor_pd(u), fv = _mm256_floor_pd(v);
        const __m256d fx = _mm256_sub_pd(u, fu), fy = _mm256_sub_pd(v, fv);
        const __m128i xa = Clamp(fu, lastX), xb = Clamp(_mm256_add_pd(fu, one), lastX);
        const __m128i ya = Clamp(fv, lastY), yb = Clamp(_mm256_add_pd(fv, one), lastY);
        const __m128i top = _mm_mullo_epi32(ya, rowLength), bottom = _mm_mullo_epi32(yb, rowLength);
        const __m128i p[4] = {_mm_i32gather_epi32(src, _mm_add_epi32(top, xa), 4),
                              _mm_i32gather_epi32(src, _mm_add_epi32(top, xb), 4),
                              _mm_i32gather_epi32(src, _mm_add_epi32(bottom, xa), 4),
                              _mm_i32gather_epi32(src, _mm_add_epi32(bottom, xb), 4)};
        const __m256d wx0 = _mm256_sub_pd(one, fx), wy0 = _mm256_sub_pd(one, fy);
        const __m128i blue = Channel(p, 0, wx0, fx, wy0, fy);
        const __m128i green = Channel(p, 8, wx0, fx, wy0, fy);
        const __m128i red = Channel(p, 16, wx0, fx, wy0, fy);
        const __m128i rgb = _mm_or_si128(_mm_or_si128(blue, _mm_slli_epi32(green, 8)), _mm_slli_epi32(red, 16));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(row.out + X), _mm_and_si128(rgb, colour));
        if (row.alphaOut) {
            // The plane's bytes blend as a fourth channel.
            alignas(16) int32_t xs[2][4], ys[2][4];
            _mm_store_si128(reinterpret_cast<__m128i*>(xs[0]), xa);
            _mm_store_si128(reinterpret_cast<__m128i*>(xs[1]), xb);
            _mm_store_si128(reinterpret_cast<__m128i*>(ys[0]), ya);
            _mm_store_si128(reinterpret_cast<__m128i*>(ys[1]), yb);
            alignas(16) int32_t samples[4][4];
            for (int i = 0; i < 4; ++i) {
                const uint8_t* a0 = r.srcAlpha + static_cast<size_t>(ys[0][i]) * r.srcAlphaRowBytes;
                const uint8_t* a1 = r.srcAlpha + static_cast<size_t>(ys[1][i]) * r.srcAlphaRowBytes;
                samples[0][i] = a0[xs[0][i]];
                samples[1][i] = a0[xs[1][i]];
                samples[2][i] = a1[xs[0][i]];
                samples[3][i] = a1[xs[1][i]];
            }
            __m128i alpha[4];
            for (int k = 0; k < 4; ++k) alpha[k] = _mm_load_si128(reinterpret_cast<const __m128i*>(samples[k]));
            alignas(16) int32_t blended[4];
            _mm_store_si128(reinterpret_cast<__m128i*>(blended), Channel(alpha, 0, wx0, fx, wy0, fy));
            for (int i = 0; i < 4; ++i) row.alphaOut[X + i] = static_cast<uint8_t>(blended[i]);
        }
    }
    return X;
}

#else

int32_t NearestRowAvx2(const TransformRow& row) { return row.x0; }
int32_t SmoothRowAvx2(const TransformRow& row) { return row.x0; }

#endif
