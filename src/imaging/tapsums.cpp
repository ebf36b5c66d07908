// The AVX2 forms keep 16 or 32 outputs in registers across all taps,
// so each tap costs a load, a multiply and an add per four outputs; they
// carry the target attribute rather than the file a flag, for the reason
// kernels_avx2.cpp gives, and name no FMA, so nothing is contracted.
#include "imaging/tapsums.h"

#include "imaging/simdrows.h"

#if QB_PIXEL_X86
#include <immintrin.h>
#define QB_AVX2 __attribute__((target("avx2")))
#define QB_AVX512 __attribute__((target("avx512f")))
#endif

namespace {

template <typename T>
double PlainSum(const T* const* bases, const double* weights, size_t taps, size_t x) {
    double s = 0;
    for (size_t i = 0; i < taps; ++i) s += static_cast<double>(bases[i][x]) * weights[i];
    return s;
}

template <typename T>
void SumTapsPlain(const T* const* bases, const double* weights, size_t taps, size_t from, size_t width, double* out) {
    for (size_t x = from; x < width; ++x) out[x] = PlainSum(bases, weights, taps, x);
}

inline uint8_t SumByte(double v) { return v < 0 ? 0 : v > 255 ? 255 : static_cast<uint8_t>(v); }
inline double SumValue(double v) { return static_cast<double>(static_cast<int32_t>(v < 0 ? 0.0 : v > 255 ? 255.0 : v)); }

void StoreSumsPlain(const double* sums, size_t from, size_t width, uint8_t* out) {
    for (size_t x = from; x < width; ++x) out[x] = SumByte(sums[x]);
}

void StoreValuesPlain(const double* sums, size_t from, size_t width, double* out) {
    for (size_t x = from; x < width; ++x) out[x] = SumValue(sums[x]);
}

#if QB_PIXEL_X86

// max(v, +0) answers +0 for a sum of -0, as the integer round trip does.
QB_AVX2 void StoreValuesAvx2(const double* sums, size_t width, double* out) {
    const __m256d lo = _mm256_setzero_pd(), hi = _mm256_set1_pd(255.0);
    size_t x = 0;
    for (; x + 4 <= width; x += 4)
        _mm256_storeu_pd(out + x, _mm256_round_pd(_mm256_min_pd(_mm256_max_pd(_mm256_loadu_pd(sums + x), lo), hi),
                                                  _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC));
    StoreValuesPlain(sums, x, width, out);
}

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

// Eight doubles per instruction where the processor has AVX-512: the same
// products added in the same order, so still the plain sums. How the sums
// leave: as they are, as the channel bytes StoreSums makes of them kept as
// doubles, or as those bytes (both save a pass over the sums).
enum class Leave { Sums, Values, Bytes };

// The zero-masked forms, since GCC 12 warns on the undefined lanes the
// plain ones pass on.
QB_AVX512 inline __m512d Clamp255(__m512d v) {
    const __mmask8 all = 0xFF;
    return _mm512_maskz_min_pd(all, _mm512_maskz_max_pd(all, v, _mm512_setzero_pd()), _mm512_set1_pd(255.0));
}

// Sixteen sums (a, then b) leave from out + x.
template <Leave L>
QB_AVX512 inline void Store16(void* out, size_t x, __m512d a, __m512d b) {
    if constexpr (L == Leave::Bytes) {
        const __m256i lo = _mm512_maskz_cvttpd_epi32(0xFF, Clamp255(a)), hi = _mm512_maskz_cvttpd_epi32(0xFF, Clamp255(b));
        const __m512i both = _mm512_maskz_inserti64x4(0xFF, _mm512_castsi256_si512(lo), hi, 1);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(static_cast<uint8_t*>(out) + x),
                         _mm512_maskz_cvtepi32_epi8(0xFFFF, both));
    } else {
        double* d = static_cast<double*>(out) + x;
        if constexpr (L == Leave::Values) {
            a = _mm512_maskz_roundscale_pd(0xFF, Clamp255(a), _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
            b = _mm512_maskz_roundscale_pd(0xFF, Clamp255(b), _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
        }
        _mm512_storeu_pd(d, a);
        _mm512_storeu_pd(d + 8, b);
    }
}

template <Leave L>
QB_AVX512 void SumTapsDoubleAvx512(const double* const* bases, const double* weights, size_t taps, size_t width,
                                   void* out) {
    size_t x = 0;
    for (; x + 64 <= width; x += 64) {
        __m512d s[8];
        for (auto& v : s) v = _mm512_setzero_pd();
        for (size_t i = 0; i < taps; ++i) {
            const __m512d w = _mm512_set1_pd(weights[i]);
            const double* p = bases[i] + x;
            for (int j = 0; j < 8; ++j) s[j] = _mm512_add_pd(s[j], _mm512_mul_pd(_mm512_loadu_pd(p + 8 * j), w));
        }
        for (int j = 0; j < 8; j += 2) Store16<L>(out, x + 8 * static_cast<size_t>(j), s[j], s[j + 1]);
    }
    for (; x + 16 <= width; x += 16) {
        __m512d s0 = _mm512_setzero_pd(), s1 = s0;
        for (size_t i = 0; i < taps; ++i) {
            const __m512d w = _mm512_set1_pd(weights[i]);
            const double* p = bases[i] + x;
            s0 = _mm512_add_pd(s0, _mm512_mul_pd(_mm512_loadu_pd(p), w));
            s1 = _mm512_add_pd(s1, _mm512_mul_pd(_mm512_loadu_pd(p + 8), w));
        }
        Store16<L>(out, x, s0, s1);
    }
    // The last few, one at a time.
    for (; x < width; ++x) {
        const double sum = PlainSum(bases, weights, taps, x);
        if constexpr (L == Leave::Sums) static_cast<double*>(out)[x] = sum;
        if constexpr (L == Leave::Values) static_cast<double*>(out)[x] = SumValue(sum);
        if constexpr (L == Leave::Bytes) static_cast<uint8_t*>(out)[x] = SumByte(sum);
    }
}

// Eight bytes widened at a time, through the zero-masked conversion (as
// in Finish).
QB_AVX512 inline __m512d Widen8(const uint8_t* p) {
    return _mm512_maskz_cvtepi32_pd(0xFF, _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))));
}

QB_AVX512 void SumTaps8Avx512(const uint8_t* const* bases, const double* weights, size_t taps, size_t width,
                              double* out) {
    size_t x = 0;
    for (; x + 32 <= width; x += 32) {
        __m512d s0 = _mm512_setzero_pd(), s1 = s0, s2 = s0, s3 = s0;
        for (size_t i = 0; i < taps; ++i) {
            const __m512d w = _mm512_set1_pd(weights[i]);
            const uint8_t* p = bases[i] + x;
            s0 = _mm512_add_pd(s0, _mm512_mul_pd(Widen8(p), w));
            s1 = _mm512_add_pd(s1, _mm512_mul_pd(Widen8(p + 8), w));
            s2 = _mm512_add_pd(s2, _mm512_mul_pd(Widen8(p + 16), w));
            s3 = _mm512_add_pd(s3, _mm512_mul_pd(Widen8(p + 24), w));
        }
        _mm512_storeu_pd(out + x, s0);
        _mm512_storeu_pd(out + x + 8, s1);
        _mm512_storeu_pd(out + x + 16, s2);
        _mm512_storeu_pd(out + x + 24, s3);
    }
    SumTapsPlain(bases, weights, taps, x, width, out);
}

#endif

}  // namespace

void SumTaps8With(KernelIsa isa, const uint8_t* const* bases, const double* weights, size_t taps, size_t width,
                  double* out) {
#if QB_PIXEL_X86
    if (isa == KernelIsa::Avx512 && HasAvx512()) return SumTaps8Avx512(bases, weights, taps, width, out);
    if (UsableIsa(isa) == KernelIsa::Avx2) return SumTaps8Avx2(bases, weights, taps, width, out);
#else
    (void)isa;
#endif
    SumTapsPlain(bases, weights, taps, 0, width, out);
}

void SumTapsDoubleWith(KernelIsa isa, const double* const* bases, const double* weights, size_t taps, size_t width,
                       double* out) {
#if QB_PIXEL_X86
    if (isa == KernelIsa::Avx512 && HasAvx512()) return SumTapsDoubleAvx512<Leave::Sums>(bases, weights, taps, width, out);
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

void StoreValuesWith(KernelIsa isa, const double* sums, size_t width, double* out) {
#if QB_PIXEL_X86
    if (UsableIsa(isa) == KernelIsa::Avx2) return StoreValuesAvx2(sums, width, out);
#else
    (void)isa;
#endif
    StoreValuesPlain(sums, 0, width, out);
}

void SumTapsToValuesWith(KernelIsa isa, const double* const* bases, const double* weights, size_t taps, size_t width,
                         double* out) {
#if QB_PIXEL_X86
    if (isa == KernelIsa::Avx512 && HasAvx512()) return SumTapsDoubleAvx512<Leave::Values>(bases, weights, taps, width, out);
#endif
    SumTapsDoubleWith(isa, bases, weights, taps, width, out);
    StoreValuesWith(isa, out, width, out);
}

void SumTapsToBytesWith(KernelIsa isa, const double* const* bases, const double* weights, size_t taps, size_t width,
                        double* scratch, uint8_t* out) {
#if QB_PIXEL_X86
    if (isa == KernelIsa::Avx512 && HasAvx512()) return SumTapsDoubleAvx512<Leave::Bytes>(bases, weights, taps, width, out);
#endif
    SumTapsDoubleWith(isa, bases, weights, taps, width, scratch);
    StoreSumsWith(isa, scratch, width, out);
}
