// YUV 4:2:0 frames to display pixels. The integer formulas divide by large
// constants and truncate; the rows evaluate them eight pixels at a time in
// double precision instead, which gives the very same integers (see Quotient
// below), and one pass per row serves every destination format.
#include "imaging/yuvframes.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "imaging/kernelisa.h"
#include "imaging/simdrows.h"

#if QB_PIXEL_X86
#include <immintrin.h>
#endif

// The vector helpers below are internal and always inlined, so no vector
// ever crosses a call boundary whose ABI the warning is about.
#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

namespace {

// The studio-range BT.601 equations in integer form: channel =
// (Y * y + U * u + V * v + k) / d, truncated, then clamped to 0..255.
struct Channel {
    int64_t y, u, v, k, d;
};
constexpr Channel kRed{1904000, 0, 2609823, -363703744, 1635200};
constexpr Channel kGreen{3827562, -1287801, -2672387, 447306710, 3287200};
constexpr Channel kBlue{952000, 1649289, 0, -225932192, 817600};

uint8_t Evaluate(const Channel& c, int64_t y, int64_t u, int64_t v) {
    const int64_t q = (y * c.y + u * c.u + v * c.v + c.k) / c.d;
    return static_cast<uint8_t>(std::clamp<int64_t>(q, 0, 255));
}

using F64x8 = double __attribute__((vector_size(64)));
using I32x8 = int32_t __attribute__((vector_size(32)));
using U32x8 = uint32_t __attribute__((vector_size(32)));
using U16x8 = uint16_t __attribute__((vector_size(16)));
using U8x8 = uint8_t __attribute__((vector_size(8)));

// For an integer numerator n, (n + 0.5) / d lies at least 0.5 / d (above
// 1.5e-7 for every d here) from the nearest integer, while the few double
// operations below err by less than 1e-12 at these magnitudes (under 1000).
// So truncating the double gives trunc(n / d) for n >= 0, and 0 or less for
// a negative n, which the clamp turns into the 0 that the integer form gives.
struct Quotient {
    double y, u, v, k;
};
constexpr Quotient Of(const Channel& c) {
    const auto d = static_cast<double>(c.d);
    return {static_cast<double>(c.y) / d, static_cast<double>(c.u) / d, static_cast<double>(c.v) / d,
            (static_cast<double>(c.k) + 0.5) / d};
}
constexpr Quotient kRedQ = Of(kRed);
constexpr Quotient kGreenQ = Of(kGreen);
constexpr Quotient kBlueQ = Of(kBlue);

struct Rgb8 {
    U32x8 r, g, b;
};

[[gnu::always_inline]] inline U32x8 Clamp8(I32x8 x) {
    x &= ~(x >> 31);
    const I32x8 over = x > (I32x8{} + 255);
    return reinterpret_cast<U32x8>((x & ~over) | (over & 255));
}

[[gnu::always_inline]] inline Rgb8 Compute8(U8x8 y8, U8x8 u8, U8x8 v8) {
    const F64x8 y = __builtin_convertvector(y8, F64x8);
    const F64x8 u = __builtin_convertvector(u8, F64x8);
    const F64x8 v = __builtin_convertvector(v8, F64x8);
    const F64x8 r = y * kRedQ.y + v * kRedQ.v + kRedQ.k;
    const F64x8 g = y * kGreenQ.y + u * kGreenQ.u + v * kGreenQ.v + kGreenQ.k;
    const F64x8 b = y * kBlueQ.y + u * kBlueQ.u + kBlueQ.k;
    return {Clamp8(__builtin_convertvector(r, I32x8)), Clamp8(__builtin_convertvector(g, I32x8)),
            Clamp8(__builtin_convertvector(b, I32x8))};
}

[[gnu::always_inline]] inline U8x8 Pairs(const uint8_t* c) {
    return U8x8{c[0], c[0], c[1], c[1], c[2], c[2], c[3], c[3]};
}

// The arithmetic of eight pixels, in generic vectors: eight luma bytes at y
// with four chroma pairs at u and v, or eight samples each.
struct PortableMath {
    static Rgb8 Paired(const uint8_t* y, const uint8_t* u, const uint8_t* v) {
        U8x8 y8;
        std::memcpy(&y8, y, 8);
        return Compute8(y8, Pairs(u), Pairs(v));
    }
    static Rgb8 Each(U8x8 y, U8x8 u, U8x8 v) { return Compute8(y, u, v); }
};

#if QB_PIXEL_X86
// Not always_inline: the row templates that call these are compiled for the
// baseline too; the flattened AVX2 entry points below inline them.
#define QB_AVX2_FMA __attribute__((target("avx2,fma")))

// The same in AVX2 registers: four doubles a step, the chroma terms worked
// out once per chroma sample and spread over its two pixels.
struct Avx2Math {
    QB_AVX2_FMA static inline __m256i Clamp(__m128i lo, __m128i hi) {
        const __m256i x = _mm256_set_m128i(hi, lo);
        return _mm256_min_epi32(_mm256_max_epi32(x, _mm256_setzero_si256()), _mm256_set1_epi32(255));
    }
    // Channel = trunc(Y * qy + chroma term), as Quotient explains.
    QB_AVX2_FMA static inline __m256i Channel(__m256d ylo, __m256d yhi, double qy, __m256d clo, __m256d chi) {
        const __m256d k = _mm256_set1_pd(qy);
        return Clamp(_mm256_cvttpd_epi32(_mm256_fmadd_pd(ylo, k, clo)),
                     _mm256_cvttpd_epi32(_mm256_fmadd_pd(yhi, k, chi)));
    }
    QB_AVX2_FMA static inline __m256d Term(__m256d u, __m256d v, const Quotient& q) {
        return _mm256_fmadd_pd(u, _mm256_set1_pd(q.u), _mm256_fmadd_pd(v, _mm256_set1_pd(q.v), _mm256_set1_pd(q.k)));
    }
    QB_AVX2_FMA static inline Rgb8 Run(__m256d ylo, __m256d yhi, __m256d ulo, __m256d uhi, __m256d vlo, __m256d vhi) {
        Rgb8 out;
        const __m256i r = Channel(ylo, yhi, kRedQ.y, Term(ulo, vlo, kRedQ), Term(uhi, vhi, kRedQ));
        const __m256i g = Channel(ylo, yhi, kGreenQ.y, Term(ulo, vlo, kGreenQ), Term(uhi, vhi, kGreenQ));
        const __m256i b = Channel(ylo, yhi, kBlueQ.y, Term(ulo, vlo, kBlueQ), Term(uhi, vhi, kBlueQ));
        std::memcpy(&out.r, &r, 32);
        std::memcpy(&out.g, &g, 32);
        std::memcpy(&out.b, &b, 32);
        return out;
    }
    QB_AVX2_FMA static inline __m128i Bytes8(const void* p) { return _mm_loadl_epi64(static_cast<const __m128i*>(p)); }
    QB_AVX2_FMA static inline __m256d Lo(__m128i bytes) { return _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(bytes)); }
    QB_AVX2_FMA static inline __m256d Hi(__m128i bytes) {
        return _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_srli_si128(bytes, 4)));
    }
    QB_AVX2_FMA static inline Rgb8 Paired(const uint8_t* y, const uint8_t* u, const uint8_t* v) {
        uint32_t u4, v4;
        std::memcpy(&u4, u, 4);
        std::memcpy(&v4, v, 4);
        const __m128i ys = Bytes8(y);
        const __m256d uc = _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(static_cast<int>(u4))));
        const __m256d vc = _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(static_cast<int>(v4))));
        // Chroma samples 0, 0, 1, 1 and 2, 2, 3, 3.
        return Run(Lo(ys), Hi(ys), _mm256_permute4x64_pd(uc, 0x50), _mm256_permute4x64_pd(uc, 0xFA),
                   _mm256_permute4x64_pd(vc, 0x50), _mm256_permute4x64_pd(vc, 0xFA));
    }
    QB_AVX2_FMA static inline Rgb8 Each(U8x8 y, U8x8 u, U8x8 v) {
        const __m128i ys = Bytes8(&y), us = Bytes8(&u), vs = Bytes8(&v);
        return Run(Lo(ys), Hi(ys), Lo(us), Hi(us), Lo(vs), Hi(vs));
    }
};
#endif

constexpr int32_t FormatBytes(int32_t format) {
    return format >= 0 && format <= 7 ? 2 : format == 8 || format == 9 ? 3 : format >= 10 && format <= 13 ? 4 : 0;
}

[[gnu::always_inline]] inline U32x8 SwapBytes16(U32x8 w) { return ((w & 0xFF) << 8) | ((w >> 8) & 0xFF); }

// The pixel words of formats other than 8 and 9.
template <int F>
[[gnu::always_inline]] inline U32x8 Pack(const Rgb8& p) {
    const U32x8 r = p.r, g = p.g, b = p.b;
    if constexpr (F == 0 || F == 2) {
        const U32x8 w = ((r & 0xF8) << 7) | ((g & 0xF8) << 2) | ((b & 0xF8) >> 3);
        return F == 0 ? w : SwapBytes16(w);
    } else if constexpr (F == 1 || F == 3) {
        const U32x8 w = ((b & 0xF8) << 7) | ((g & 0xF8) << 2) | ((r & 0xF8) >> 3);
        return F == 1 ? w : SwapBytes16(w);
    } else if constexpr (F == 4 || F == 6) {
        const U32x8 w = ((r & 0xF8) << 8) | ((g & 0xFC) << 3) | ((b & 0xF8) >> 3);
        return F == 4 ? w : SwapBytes16(w);
    } else if constexpr (F == 5 || F == 7) {
        const U32x8 w = ((b & 0xF8) << 8) | ((g & 0xFC) << 3) | ((r & 0xF8) >> 3);
        return F == 5 ? w : SwapBytes16(w);
    } else if constexpr (F == 10) {
        return (r << 16) | (g << 8) | b;
    } else if constexpr (F == 11) {
        return (b << 24) | (g << 16) | (r << 8);
    } else if constexpr (F == 12) {
        return (r << 24) | (g << 16) | (b << 8);
    } else {
        return (b << 16) | (g << 8) | r;
    }
}

// Writes the first n (1..8) of eight pixels.
template <int F>
[[gnu::always_inline]] inline void Store(uint8_t* out, const Rgb8& p, int32_t n) {
    constexpr int32_t bytes = FormatBytes(F);
    if constexpr (bytes == 3) {
        for (int32_t k = 0; k < n; ++k) {
            const auto r = static_cast<uint8_t>(p.r[k]), g = static_cast<uint8_t>(p.g[k]),
                       b = static_cast<uint8_t>(p.b[k]);
            out[3 * k] = F == 8 ? r : b;
            out[3 * k + 1] = g;
            out[3 * k + 2] = F == 8 ? b : r;
        }
    } else {
        const U32x8 w = Pack<F>(p);
        if constexpr (bytes == 2) {
            const U16x8 h = __builtin_convertvector(w, U16x8);
            std::memcpy(out, &h, static_cast<size_t>(n) * 2);
        } else {
            std::memcpy(out, &w, static_cast<size_t>(n) * 4);
        }
    }
}

struct Planes {
    const uint8_t* y;
    const uint8_t* u;
    const uint8_t* v;
};

Planes RowPlanes(const qbYUVFrameRequest& q, int32_t row) {
    return {q.planes[0] + static_cast<ptrdiff_t>(row) * q.pitches[0],
            q.planes[1] + static_cast<ptrdiff_t>(row >> 1) * q.pitches[1],
            q.planes[2] + static_cast<ptrdiff_t>(row >> 1) * q.pitches[2]};
}

template <class Math, int F>
[[gnu::always_inline]] inline void ConvertRows(const qbYUVFrameRequest& q) {
    constexpr int32_t bytes = FormatBytes(F);
    const int32_t w = q.sourceWidth;
    for (int32_t row = 0; row < q.sourceHeight; ++row) {
        const Planes p = RowPlanes(q, row);
        uint8_t* out = static_cast<uint8_t*>(q.destination) + static_cast<ptrdiff_t>(row) * q.destPitch * bytes;
        int32_t c = 0;
        for (; c + 8 <= w; c += 8) Store<F>(out + c * bytes, Math::Paired(p.y + c, p.u + (c >> 1), p.v + (c >> 1)), 8);
        if (c < w) {
            U8x8 y{}, u{}, v{};
            for (int32_t k = 0; c + k < w; ++k) {
                y[k] = p.y[c + k];
                u[k] = p.u[(c + k) >> 1];
                v[k] = p.v[(c + k) >> 1];
            }
            Store<F>(out + c * bytes, Math::Each(y, u, v), w - c);
        }
    }
}

// The steps of the scaled conversion: a 16.16 column step and a row step,
// both from single-precision ratios. The positions never pass the last
// column or row: single precision can round a ratio up.
struct ScaleSteps {
    int64_t xs;
    float ys;
};
ScaleSteps StepsOf(const qbYUVFrameRequest& q) {
    const float xr = static_cast<float>(q.sourceWidth) / static_cast<float>(q.destWidth) * 65536.0f;
    return {static_cast<int64_t>(xr), static_cast<float>(q.sourceHeight) / static_cast<float>(q.destHeight)};
}

template <class Math, int F>
[[gnu::always_inline]] inline void ScaleRows(const qbYUVFrameRequest& q) {
    constexpr int32_t bytes = FormatBytes(F);
    const ScaleSteps steps = StepsOf(q);
    const int64_t lastColumn = q.sourceWidth - 1;
    const int32_t w = q.destWidth;
    const ptrdiff_t rowBytes = static_cast<ptrdiff_t>(q.destPitch) * bytes;
    float yacc = 0.0f;
    int32_t previous = -1;
    for (int32_t row = 0; row < q.destHeight; ++row, yacc += steps.ys) {
        const int32_t source = std::min(static_cast<int32_t>(yacc), q.sourceHeight - 1);
        uint8_t* out = static_cast<uint8_t*>(q.destination) + row * rowBytes;
        // An enlarged frame repeats source rows: the row above is this one.
        if (source == previous) {
            std::memmove(out, out - rowBytes, static_cast<size_t>(w) * bytes);
            continue;
        }
        previous = source;
        const Planes p = RowPlanes(q, source);
        int64_t x = 0;
        // Eight pixels a block; the last block takes the rest of the row.
        for (int32_t c = 0; c < w; c += 8) {
            const int32_t n = std::min(8, w - c);
            U8x8 y{}, u{}, v{};
            for (int32_t k = 0; k < n; ++k, x += steps.xs) {
                const int64_t col = std::min(x >> 16, lastColumn);
                y[k] = p.y[col];
                u[k] = p.u[col >> 1];
                v[k] = p.v[col >> 1];
            }
            Store<F>(out + c * bytes, Math::Each(y, u, v), n);
        }
    }
}

template <class Math, bool Scaled>
[[gnu::always_inline]] inline void RunFrame(const qbYUVFrameRequest& q) {
#define QB_YUV_FORMAT(F)            \
    case F:                         \
        if constexpr (Scaled)       \
            ScaleRows<Math, F>(q);  \
        else                        \
            ConvertRows<Math, F>(q); \
        break;
    switch (q.destFormat) {
        QB_YUV_FORMAT(0)
        QB_YUV_FORMAT(1)
        QB_YUV_FORMAT(2)
        QB_YUV_FORMAT(3)
        QB_YUV_FORMAT(4)
        QB_YUV_FORMAT(5)
        QB_YUV_FORMAT(6)
        QB_YUV_FORMAT(7)
        QB_YUV_FORMAT(8)
        QB_YUV_FORMAT(9)
        QB_YUV_FORMAT(10)
        QB_YUV_FORMAT(11)
        QB_YUV_FORMAT(12)
        QB_YUV_FORMAT(13)
        default: break;
    }
#undef QB_YUV_FORMAT
}

void ConvertPortable(const qbYUVFrameRequest& q) { RunFrame<PortableMath, false>(q); }
void ScalePortable(const qbYUVFrameRequest& q) { RunFrame<PortableMath, true>(q); }
#if QB_PIXEL_X86
// The same rows compiled for AVX2 and FMA; they run only where the
// processor has them (see kernels_avx2.cpp for why the attribute).
__attribute__((target("avx2,fma"), flatten)) void ConvertAvx2(const qbYUVFrameRequest& q) { RunFrame<Avx2Math, false>(q); }
__attribute__((target("avx2,fma"), flatten)) void ScaleAvx2(const qbYUVFrameRequest& q) { RunFrame<Avx2Math, true>(q); }
#endif

bool HasFrame(const qbYUVFrameRequest& q) {
    return q.planes && q.pitches && q.planes[0] && q.planes[1] && q.planes[2] && q.destination &&
           q.sourceWidth >= 1 && q.sourceHeight >= 1;
}

void WritePixel(uint8_t* out, int32_t format, YUVColour c) {
    const uint32_t r = c.r, g = c.g, b = c.b;
    uint32_t w = 0;
    switch (format) {
        case 0: case 2: w = ((r & 0xF8) << 7) | ((g & 0xF8) << 2) | ((b & 0xF8) >> 3); break;
        case 1: case 3: w = ((b & 0xF8) << 7) | ((g & 0xF8) << 2) | ((r & 0xF8) >> 3); break;
        case 4: case 6: w = ((r & 0xF8) << 8) | ((g & 0xFC) << 3) | ((b & 0xF8) >> 3); break;
        case 5: case 7: w = ((b & 0xF8) << 8) | ((g & 0xFC) << 3) | ((r & 0xF8) >> 3); break;
        case 8: out[0] = c.r, out[1] = c.g, out[2] = c.b; return;
        case 9: out[0] = c.b, out[1] = c.g, out[2] = c.r; return;
        case 10: w = (r << 16) | (g << 8) | b; break;
        case 11: w = (b << 24) | (g << 16) | (r << 8); break;
        case 12: w = (r << 24) | (g << 16) | (b << 8); break;
        case 13: w = (b << 16) | (g << 8) | r; break;
        default: return;
    }
    if (format <= 7) {
        auto h = static_cast<uint16_t>(w);
        if (format == 2 || format == 3 || format == 6 || format == 7) h = static_cast<uint16_t>((h << 8) | (h >> 8));
        std::memcpy(out, &h, 2);
    } else {
        std::memcpy(out, &w, 4);
    }
}

YUVColour Sample(const Planes& p, int64_t column) {
    return YUVToRGB(p.y[column], p.u[column >> 1], p.v[column >> 1]);
}

}  // namespace

YUVColour YUVToRGB(uint32_t y, uint32_t u, uint32_t v) {
    return {Evaluate(kRed, y, u, v), Evaluate(kGreen, y, u, v), Evaluate(kBlue, y, u, v)};
}

int32_t YUVDestinationBytes(int32_t format) { return FormatBytes(format); }

void ConvertYUVToRGBWith(KernelIsa isa, const qbYUVFrameRequest& q) {
    if (!HasFrame(q) || FormatBytes(q.destFormat) == 0 || q.destBytesPerPixel != FormatBytes(q.destFormat)) return;
#if QB_PIXEL_X86
    if (UsableIsa(isa) == KernelIsa::Avx2) return ConvertAvx2(q);
#endif
    (void)isa;
    ConvertPortable(q);
}

void ScaleYUVToRGBWith(KernelIsa isa, const qbYUVFrameRequest& q) {
    // Either side of the destination below 1 has no pixel to write (and a
    // width of 0 would divide by zero).
    if (!HasFrame(q) || q.destWidth < 1 || q.destHeight < 1) return;
#if QB_PIXEL_X86
    if (UsableIsa(isa) == KernelIsa::Avx2) return ScaleAvx2(q);
#endif
    (void)isa;
    ScalePortable(q);
}

void ConvertYUVToRGB(const qbYUVFrameRequest& q) { ConvertYUVToRGBWith(BestKernelIsa(), q); }
void ScaleYUVToRGB(const qbYUVFrameRequest& q) { ScaleYUVToRGBWith(BestKernelIsa(), q); }

void ConvertYUVToRGBRef(const qbYUVFrameRequest& q) {
    const int32_t bytes = FormatBytes(q.destFormat);
    if (!HasFrame(q) || bytes == 0 || q.destBytesPerPixel != bytes) return;
    for (int32_t row = 0; row < q.sourceHeight; ++row) {
        const Planes p = RowPlanes(q, row);
        auto* out = static_cast<uint8_t*>(q.destination) + static_cast<ptrdiff_t>(row) * q.destPitch * bytes;
        for (int32_t c = 0; c < q.sourceWidth; ++c) WritePixel(out + c * bytes, q.destFormat, Sample(p, c));
    }
}

void ScaleYUVToRGBRef(const qbYUVFrameRequest& q) {
    const int32_t bytes = FormatBytes(q.destFormat);
    if (!HasFrame(q) || bytes == 0 || q.destWidth < 1 || q.destHeight < 1) return;
    const ScaleSteps steps = StepsOf(q);
    float yacc = 0.0f;
    for (int32_t row = 0; row < q.destHeight; ++row, yacc += steps.ys) {
        const Planes p = RowPlanes(q, std::min(static_cast<int32_t>(yacc), q.sourceHeight - 1));
        auto* out = static_cast<uint8_t*>(q.destination) + static_cast<ptrdiff_t>(row) * q.destPitch * bytes;
        for (int32_t c = 0; c < q.destWidth; ++c) {
            const int64_t column = std::min<int64_t>((steps.xs * c) >> 16, q.sourceWidth - 1);
            WritePixel(out + c * bytes, q.destFormat, Sample(p, column));
        }
    }
}
