// The AVX2 forms keep 16 or 32 outputs in registers across all taps,
// so each tap costs a load, a multiply and an add per four outputs; they
// carry the target attribute rather than the file a flag, for the reason
// kernels_avx2.cpp gives, and name no FMA, so nothing is contracted.
#include "imaging/tapsums.h"

#include "imaging/simdrows.h"

#if QB_PIXEL_X86
#include <immintrin.h>
#define QB_AVX2 __attribute__((target("avx2")))
#endif

namespace {

template <typename T>
void SumTapsPlain(const T* const* bases, const double* weights, size_t taps, size_t from, size_t width, double* out) {
    for (size_t x = from; x < width; ++x) {
        double s = 0;
        for (size_t i = 0; i < taps; ++i) s += static_cast<double>(bases[i][x]) * weights[i];
        out[x] = s;
    }
}

void StoreSumsPlain(const double* sums, size_t from, size_t width, uint8_t* out) {
    for (size_t x = from; x < width; ++x) {
        const double v = sums[x];
        out[x] = v < 0 ? 0 : v > 255 ? 255 : static_cast<uint8_t>(v);
    }
}

#if QB_PIXEL_X86

QB_AVX2 void StoreSumsAvx2(const double* sums, size_t width, uint8_t* out) {
    const __m256d lo = _mm256_setzero_pd(), hi = _mm256_set1_pd(255.0);
    size_t x = 0;
    for (; x + 8 <= width; x += 8) {
        const __m128i a = _mm256_cvttpd_epi32(_mm256_min_pd(_mm256_max_pd(_mm256_loadu_pd(sums + x), lo), hi));
        const __m128i b = _mm256_cvttpd_epi32(_mm256_min_pd(_mm256_max_pd(_mm256_loadu_pd(sums + x + 4), lo), hi));
        const __m128i words = _mm_packus_epi32(a, b);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(words, words));
    }
    StoreSumsPlain(sums, x, width, out);
}

QB_AVX2 inline __m256d Widen4(__m128i bytes) { return _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(bytes)); }

QB_AVX2 void SumTaps8Avx2(const uint8_t* const* bases, const double* weights, size_t taps, size_t width,
                          double* out) {
    size_t x = 0;
    for (; x + 16 <= width; x += 16) {
        __m256d s0 = _mm256_setzero_pd(), s1 = s0, s2 = s0, s3 = s0;
        for (size_t i = 0; i < taps; ++i) {
            const __m256d w = _mm256_set1_pd(weights[i]);
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bases[i] + x));
            s0 = _mm256_add_pd(s0, _mm256_mul_pd(Widen4(b), w));
            s1 = _mm256_add_pd(s1, _mm256_mul_pd(Widen4(_mm_srli_si128(b, 4)), w));
            s2 = _mm256_add_pd(s2, _mm256_mul_pd(Widen4(_mm_srli_si128(b, 8)), w));
            s3 = _mm256_add_pd(s3, _mm256_mul_pd(Widen4(_mm_srli_si128(b, 12)), w));
        }
        _mm256_storeu_pd(out + x, s0);
        _mm256_storeu_pd(out + x + 4, s1);
        _mm256_storeu_pd(out + x + 8, s2);
        _mm256_storeu_pd(out + x + 12, s3);
    }
    SumTapsPlain(bases, weights, taps, x, width, out);
}

QB_AVX2 void SumTapsDoubleAvx2(const double* const* bases, const double* weights, size_t taps, size_t width,
                               double* out) {
    size_t x = 0;
    // Eight chains of adds cover the add's latency on two ports.
    for (; x + 32 <= width; x += 32) {
        __m256d s[8];
        for (auto& v : s) v = _mm256_setzero_pd();
        for (size_t i = 0; i < taps; ++i) {
            const __m256d w = _mm256_set1_pd(weights[i]);
            const double* p = bases[i] + x;
            for (int j = 0; j < 8; ++j) s[j] = _mm256_add_pd(s[j], _mm256_mul_pd(_mm256_loadu_pd(p + 4 * j), w));
        }
        for (int j = 0; j < 8; ++j) _mm256_storeu_pd(out + x + 4 * j, s[j]);
    }
    for (; x + 16 <= width; x += 16) {
        __m256d s0 = _mm256_setzero_pd(), s1 = s0, s2 = s0, s3 = s0;
        for (size_t i = 0; i < taps; ++i) {
            const __m256d w = _mm256_set1_pd(weights[i]);
            const double* p = bases[i] + x;
            s0 = _mm256_add_pd(s0, _mm256_mul_pd(_mm256_loadu_pd(p), w));
            s1 = _mm256_add_pd(s1, _mm256_mul_pd(_mm256_loadu_pd(p + 4), w));
            s2 = _mm256_add_pd(s2, _mm256_mul_pd(_mm256_loadu_pd(p + 8), w));
            s3 = _mm256_add_pd(s3, _mm256_mul_pd(_mm256_loadu_pd(p + 12), w));
        }
        _mm256_storeu_pd(out + x, s0);
        _mm256_storeu_pd(out + x + 4, s1);
        _mm256_storeu_pd(out + x + 8, s2);
        _mm256_storeu_pd(out + x + 12, s3);
    }
    SumTapsPlain(bases, weights, taps, x, width, out);
}

#endif

}  // namespace

void SumTaps8With(KernelIsa isa, const uint8_t* const* bases, const double* weights, size_t taps, size_t width,
                  double* out) {
#if QB_PIXEL_X86
    if (UsableIsa(isa) == KernelIsa::Avx2) return SumTaps8Avx2(bases, weights, taps, width, out);
#else
    (void)isa;
#endif
    SumTapsPlain(bases, weights, taps, 0, width, out);
}

void SumTapsDoubleWith(KernelIsa isa, const double* const* bases, const double* weights, size_t taps, size_t width,
                       double* out) {
#if QB_PIXEL_X86
    if (UsableIsa(isa) == KernelIsa::Avx2) return SumTapsDoubleAvx2(bases, weights, taps, width, out);
#else
    (void)isa;
#endif
    SumTapsPlain(bases, weights, taps, 0, width, out);
}

void StoreSumsWith(KernelIsa isa, const double* sums, size_t width, uint8_t* out) {
#if QB_PIXEL_X86
    if (UsableIsa(isa) == KernelIsa::Avx2) return StoreSumsAvx2(sums, width, out);
#else
    (void)isa;
#endif
    StoreSumsPlain(sums, 0, width, out);
}
