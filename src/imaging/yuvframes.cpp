// YUV 4:2:0 frames to display pixels, in integers throughout: each channel
// is Y + a + floor((84 Y + b + [Y > t]) / 511) with a, b and t from the
// chroma sample (see yuvterms.h), the luma part in 16-bit lanes.
#include "imaging/yuvframes.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <vector>

#include "imaging/kernelisa.h"
#include "imaging/simdrows.h"
#include "imaging/yuvterms.h"

#include "imaging/x86intrinsics.h"

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

using U32x8 = uint32_t __attribute__((vector_size(32)));
using U16x8 = uint16_t __attribute__((vector_size(16)));

// The widest kernel's step: rows of terms and luma are padded to it.
constexpr int32_t kStep = 32;

// The word of a 32-bit format (10 to 13) from the channels.
template <int F>
constexpr uint32_t Word32(uint32_t r, uint32_t g, uint32_t b) {
    if constexpr (F == 10) return (r << 16) | (g << 8) | b;
    if constexpr (F == 11) return (b << 24) | (g << 16) | (r << 8);
    if constexpr (F == 12) return (r << 24) | (g << 16) | (b << 8);
    return (b << 16) | (g << 8) | r;
}

// Plain C++ for the lanes the vector kernels leave, and for processors
// without them: n pixels of format F (10 to 13).
template <int F>
int32_t PortableRow(const uint8_t* y, const int16_t* k, ptrdiff_t stride, uint32_t* out, int32_t n) {
    auto channel = [](int32_t yy, int32_t a, int32_t b) {
        return static_cast<uint32_t>(std::clamp(yy + a + ((84 * yy + b) * 32833 >> 24), 0, 255));
    };
    for (int32_t i = 0; i < n; ++i) {
        const int32_t yy = y[i];
        const int16_t* ki = k + i;
        const int32_t up = yy > ki[kTG * stride] ? 1 : 0;
        const uint32_t word = Word32<F>(channel(yy, ki[kAR * stride], ki[kBR * stride]),
                                        channel(yy, ki[kAG * stride], ki[kBG * stride] + up),
                                        channel(yy, ki[kAB * stride], ki[kBB * stride]));
        std::memcpy(out + i, &word, 4);
    }
    return n;
}

#if QB_PIXEL_X86
#define QB_YUV_AVX2 __attribute__((target("avx2")))

// Byte shuffles of the looked-up words of the vector fills, each to both
// 16-bit lanes of its sample: the low half, the high half, bytes 1 and 2
// (green's a, shifted up 7 bits) and byte 3 alone (green's t).
constexpr int8_t kLowHalf[16] = {0, 1, 0, 1, 4, 5, 4, 5, 8, 9, 8, 9, 12, 13, 12, 13};
constexpr int8_t kHighHalf[16] = {2, 3, 2, 3, 6, 7, 6, 7, 10, 11, 10, 11, 14, 15, 14, 15};
constexpr int8_t kMiddle[16] = {1, 2, 1, 2, 5, 6, 5, 6, 9, 10, 9, 10, 13, 14, 13, 14};
constexpr int8_t kTopByte[16] = {3, -1, 3, -1, 7, -1, 7, -1, 11, -1, 11, -1, 15, -1, 15, -1};

// Word orders of the 32-bit formats from the channel bytes: 10 and 12 put
// blue lowest, 11 and 13 red; 11 and 12 then move up a byte.
constexpr bool RedLow(int f) { return f == 11 || f == 13; }
constexpr bool ShiftUp(int f) { return f == 11 || f == 12; }

struct Avx2Row {
    static constexpr int32_t kLanes = 16;
    static constexpr bool kPairs = false;
    QB_YUV_AVX2 static inline __m256i Pattern(const int8_t* p) {
        return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    }
    // As Avx512Row::FillPairs, eight samples a step.
    QB_YUV_AVX2 static void FillPairs(const uint8_t* u, const uint8_t* v, int32_t n, int16_t* k, ptrdiff_t stride) {
        const YUVChromaTables& t = ChromaTables();
        const __m256i low = Pattern(kLowHalf), high = Pattern(kHighHalf), middle = Pattern(kMiddle),
                      top = Pattern(kTopByte);
        auto* red = reinterpret_cast<const int*>(t.red);
        auto* blue = reinterpret_cast<const int*>(t.blue);
        auto* green = reinterpret_cast<const int*>(t.green);
        for (int32_t c = 0; c < n; c += 8) {
            const __m256i uu = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(u + c)));
            const __m256i vv = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + c)));
            const __m256i g = _mm256_i32gather_epi32(green, _mm256_or_si256(_mm256_slli_epi32(uu, 8), vv), 4);
            const __m256i r = _mm256_i32gather_epi32(red, vv, 4), b = _mm256_i32gather_epi32(blue, uu, 4);
            const __m256i terms[kTerms] = {
                _mm256_shuffle_epi8(r, low),
                _mm256_shuffle_epi8(r, high),
                _mm256_srai_epi16(_mm256_shuffle_epi8(g, middle), 7),
                _mm256_and_si256(_mm256_shuffle_epi8(g, low), _mm256_set1_epi16(511)),
                _mm256_shuffle_epi8(g, top),
                _mm256_shuffle_epi8(b, low),
                _mm256_shuffle_epi8(b, high)};
            for (int f = 0; f < kTerms; ++f)
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(k + f * stride + 2 * c), terms[f]);
        }
    }
    QB_YUV_AVX2 static inline __m256i Channel(__m256i y, __m256i a, __m256i n) {
        const __m256i q = _mm256_srli_epi16(_mm256_mulhi_epu16(n, _mm256_set1_epi16(-32703)), 8);  // 32833
        return _mm256_add_epi16(_mm256_add_epi16(y, a), q);
    }
    QB_YUV_AVX2 static inline __m256i Term(const int16_t* k, ptrdiff_t stride, int f, int32_t i) {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(k + f * stride + i));
    }
    template <int F>
    QB_YUV_AVX2 static int32_t Run(const uint8_t* y, const int16_t* k, ptrdiff_t stride, uint32_t* out, int32_t n) {
        int32_t i = 0;
        for (; i + kLanes <= n; i += kLanes) {
            const __m256i yy = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y + i)));
            const __m256i t = _mm256_mullo_epi16(yy, _mm256_set1_epi16(84));
            const __m256i r = Channel(yy, Term(k, stride, kAR, i), _mm256_add_epi16(t, Term(k, stride, kBR, i)));
            const __m256i up = _mm256_cmpgt_epi16(yy, Term(k, stride, kTG, i));  // -1 adds one
            const __m256i tg = _mm256_sub_epi16(_mm256_add_epi16(t, Term(k, stride, kBG, i)), up);
            const __m256i g = Channel(yy, Term(k, stride, kAG, i), tg);
            const __m256i b = Channel(yy, Term(k, stride, kAB, i), _mm256_add_epi16(t, Term(k, stride, kBB, i)));
            // Bytes low, then high in each 128-bit half; the packs clamp.
            const __m256i lowHigh = RedLow(F) ? _mm256_packus_epi16(r, b) : _mm256_packus_epi16(b, r);
            const __m256i green = _mm256_packus_epi16(g, _mm256_setzero_si256());
            const __m256i lg = _mm256_unpacklo_epi8(lowHigh, green), h0 = _mm256_unpackhi_epi8(lowHigh, green);
            __m256i lo = _mm256_unpacklo_epi16(lg, h0), hi = _mm256_unpackhi_epi16(lg, h0);
            if constexpr (ShiftUp(F)) lo = _mm256_slli_epi32(lo, 8), hi = _mm256_slli_epi32(hi, 8);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_permute2x128_si256(lo, hi, 0x20));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i + 8), _mm256_permute2x128_si256(lo, hi, 0x31));
        }
        return i;
    }
};

// Byte k of the 64-byte output half h of a 32-pixel step, as an index
// into (blue and green bytes, red bytes and zeros): the packs leave pixel
// p's blue at 16 (p / 8) + p % 8 and its green 8 bytes on, its red at the
// same place in the second operand, with zeros 8 bytes on.
template <int F>
constexpr std::array<uint8_t, 64> PixelBytes(int h) {
    std::array<uint8_t, 64> index{};
    for (int k = 0; k < 16; ++k) {
        const int p = 16 * h + k, at = 16 * (p / 8) + p % 8;
        const uint8_t b = static_cast<uint8_t>(at), g = static_cast<uint8_t>(at + 8),
                      r = static_cast<uint8_t>(64 + at), zero = static_cast<uint8_t>(64 + at + 8);
        const std::array<uint8_t, 4> order = F == 10   ? std::array<uint8_t, 4>{b, g, r, zero}
                                             : F == 11 ? std::array<uint8_t, 4>{zero, r, g, b}
                                             : F == 12 ? std::array<uint8_t, 4>{zero, b, g, r}
                                                       : std::array<uint8_t, 4>{r, g, b, zero};
        for (int j = 0; j < 4; ++j) index[static_cast<size_t>(4 * k + j)] = order[static_cast<size_t>(j)];
    }
    return index;
}
template <int F>
constexpr std::array<uint8_t, 64> kPixelBytes0 = PixelBytes<F>(0);
template <int F>
constexpr std::array<uint8_t, 64> kPixelBytes1 = PixelBytes<F>(1);

#define QB_YUV_AVX512 __attribute__((target("avx2,avx512f,avx512bw,avx512vbmi")))

struct Avx512Row {
    static constexpr int32_t kLanes = 32;
    static constexpr bool kPairs = true;
    QB_YUV_AVX512 static inline __m512i Pattern(const int8_t* p) {
        return _mm512_broadcast_i32x4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    }
    // The terms of sixteen chroma samples, each to two lanes, looked up at
    // once; u and v are readable for 16 bytes.
    QB_YUV_AVX512 static inline void Terms(const uint8_t* u, const uint8_t* v, const YUVChromaTables& t,
                                           __m512i k[kTerms]) {
        const __m512i low = Pattern(kLowHalf), high = Pattern(kHighHalf);
        const __m512i uu = _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(u)));
        const __m512i vv = _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v)));
        const __m512i uv = _mm512_or_si512(_mm512_slli_epi32(uu, 8), vv);
        const __m512i g = _mm512_i32gather_epi32(uv, reinterpret_cast<const int*>(t.green), 4);
        const __m512i r = _mm512_i32gather_epi32(vv, reinterpret_cast<const int*>(t.red), 4);
        const __m512i b = _mm512_i32gather_epi32(uu, reinterpret_cast<const int*>(t.blue), 4);
        k[kAR] = _mm512_shuffle_epi8(r, low);
        k[kBR] = _mm512_shuffle_epi8(r, high);
        k[kAG] = _mm512_srai_epi16(_mm512_shuffle_epi8(g, Pattern(kMiddle)), 7);
        k[kBG] = _mm512_and_si512(_mm512_shuffle_epi8(g, low), _mm512_set1_epi16(511));
        k[kTG] = _mm512_shuffle_epi8(g, Pattern(kTopByte));
        k[kAB] = _mm512_shuffle_epi8(b, low);
        k[kBB] = _mm512_shuffle_epi8(b, high);
    }
    // The terms of n chroma samples, each to two lanes, sixteen at a time;
    // u and v are readable up to n rounded up to 16.
    QB_YUV_AVX512 static void FillPairs(const uint8_t* u, const uint8_t* v, int32_t n, int16_t* k, ptrdiff_t stride) {
        const YUVChromaTables& t = ChromaTables();
        for (int32_t c = 0; c < n; c += 16) {
            __m512i terms[kTerms];
            Terms(u + c, v + c, t, terms);
            for (int f = 0; f < kTerms; ++f) _mm512_storeu_si512(k + f * stride + 2 * c, terms[f]);
        }
    }
    QB_YUV_AVX512 static inline __m512i Channel(__m512i y, __m512i a, __m512i n) {
        const __m512i q = _mm512_srli_epi16(_mm512_mulhi_epu16(n, _mm512_set1_epi16(-32703)), 8);  // 32833
        return _mm512_add_epi16(_mm512_add_epi16(y, a), q);
    }
    // 32 pixels of format F from their luma and terms. The packs clamp each
    // channel; one byte permutation per 16 pixels puts the bytes in place.
    template <int F>
    QB_YUV_AVX512 static inline void Step(const uint8_t* y, const __m512i k[kTerms], uint32_t* out) {
        const __m512i yy = _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(y)));
        // 84 Y as a byte multiply-add (the high bytes are 0), which the
        // compiler keeps as one instruction.
        const __m512i t = _mm512_maddubs_epi16(yy, _mm512_set1_epi16(84));
        const __m512i r = Channel(yy, k[kAR], _mm512_add_epi16(t, k[kBR]));
        const __mmask32 up = _mm512_cmpgt_epi16_mask(yy, k[kTG]);
        const __m512i tg = _mm512_add_epi16(t, k[kBG]);
        const __m512i g = Channel(yy, k[kAG], _mm512_mask_add_epi16(tg, up, tg, _mm512_set1_epi16(1)));
        const __m512i b = Channel(yy, k[kAB], _mm512_add_epi16(t, k[kBB]));
        const __m512i blueGreen = _mm512_packus_epi16(b, g), red = _mm512_packus_epi16(r, _mm512_setzero_si512());
        _mm512_storeu_si512(out, _mm512_permutex2var_epi8(blueGreen, _mm512_loadu_si512(kPixelBytes0<F>.data()), red));
        _mm512_storeu_si512(out + 16,
                            _mm512_permutex2var_epi8(blueGreen, _mm512_loadu_si512(kPixelBytes1<F>.data()), red));
    }
    QB_YUV_AVX512 static inline void Prefetch(const uint32_t* line) {
        _mm_prefetch(reinterpret_cast<const char*>(line), _MM_HINT_ET0);
        _mm_prefetch(reinterpret_cast<const char*>(line + 16), _MM_HINT_ET0);
    }
    template <int F>
    QB_YUV_AVX512 static int32_t Run(const uint8_t* y, const int16_t* k, ptrdiff_t stride, uint32_t* out,
                                     int32_t n) {
        int32_t i = 0;
        for (; i + kLanes <= n; i += kLanes) {
            __m512i terms[kTerms];
            for (int f = 0; f < kTerms; ++f) terms[f] = _mm512_loadu_si512(k + f * stride + i);
            Step<F>(y + i, terms, out + i);
        }
        return i;
    }
    // Both luma rows of a chroma row at once (y1 and out1 null for a last
    // odd row), the terms of each sixteen chroma samples kept in registers
    // for their 64 pixels; u and v are readable up to 16 bytes past the
    // pixels done. Returns how many pixels of each row it did.
    template <int F>
    QB_YUV_AVX512 static int32_t RunPair(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v,
                                         uint32_t* out0, uint32_t* out1, int32_t n) {
        const YUVChromaTables& t = ChromaTables();
        int32_t i = 0;
        for (; i + kLanes <= n; i += kLanes) {
            __m512i terms[kTerms];
            Terms(u + i / 2, v + i / 2, t, terms);
            // The destination's lines are asked for writing 512 bytes ahead
            // (within the row): the stores would otherwise wait on each
            // line's read, and the arithmetic with them.
            const int32_t ahead = std::min(i + 4 * kLanes, n - kLanes);
            Prefetch(out0 + ahead);
            Step<F>(y0 + i, terms, out0 + i);
            if (y1) {
                Prefetch(out1 + ahead);
                Step<F>(y1 + i, terms, out1 + i);
            }
        }
        return i;
    }
};
#endif

struct PortableRows {
    static constexpr bool kPairs = false;
    static void FillPairs(const uint8_t* u, const uint8_t* v, int32_t n, int16_t* k, ptrdiff_t stride) {
        FillChromaTerms(u, v, n, k, stride, true);
    }
    template <int F>
    static int32_t Run(const uint8_t* y, const int16_t* k, ptrdiff_t stride, uint32_t* out, int32_t n) {
        return PortableRow<F>(y, k, stride, out, n);
    }
};

constexpr int32_t FormatBytes(int32_t format) {
    return format >= 0 && format <= 7 ? 2 : format == 8 || format == 9 ? 3 : format >= 10 && format <= 13 ? 4 : 0;
}

[[gnu::always_inline]] inline U32x8 SwapBytes16(U32x8 w) { return ((w & 0xFF) << 8) | ((w >> 8) & 0xFF); }

// Eight 0x00RRGGBB words as the 16-bit pixels of format F (0 to 7).
template <int F>
[[gnu::always_inline]] inline U32x8 Pack16(U32x8 rgb) {
    const U32x8 r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
    if constexpr (F == 0 || F == 2) {
        const U32x8 w = ((r & 0xF8) << 7) | ((g & 0xF8) << 2) | ((b & 0xF8) >> 3);
        return F == 0 ? w : SwapBytes16(w);
    } else if constexpr (F == 1 || F == 3) {
        const U32x8 w = ((b & 0xF8) << 7) | ((g & 0xF8) << 2) | ((r & 0xF8) >> 3);
        return F == 1 ? w : SwapBytes16(w);
    } else if constexpr (F == 4 || F == 6) {
        const U32x8 w = ((r & 0xF8) << 8) | ((g & 0xFC) << 3) | ((b & 0xF8) >> 3);
        return F == 4 ? w : SwapBytes16(w);
    } else {
        const U32x8 w = ((b & 0xF8) << 8) | ((g & 0xFC) << 3) | ((r & 0xF8) >> 3);
        return F == 5 ? w : SwapBytes16(w);
    }
}

// n words of 0x00RRGGBB (readable up to n rounded up to 8) to format F.
template <int F>
[[gnu::always_inline]] inline void PackRow(const uint32_t* words, uint8_t* out, int32_t n) {
    if constexpr (F == 8 || F == 9) {
        for (int32_t i = 0; i < n; ++i) {
            const uint32_t w = words[i];
            out[3 * i] = static_cast<uint8_t>(F == 8 ? w >> 16 : w);
            out[3 * i + 1] = static_cast<uint8_t>(w >> 8);
            out[3 * i + 2] = static_cast<uint8_t>(F == 8 ? w : w >> 16);
        }
    } else {
        for (int32_t i = 0; i < n; i += 8) {
            U32x8 w;
            std::memcpy(&w, words + i, 32);
            const U16x8 h = __builtin_convertvector(Pack16<F>(w), U16x8);
            std::memcpy(out + 2 * i, &h, static_cast<size_t>(std::min(8, n - i)) * 2);
        }
    }
}

// Scratch rows of one conversion: the terms, one row of words for the
// formats the kernels do not write directly, and a copy of the chroma row
// that the vector steps may read past its end.
struct Scratch {
    ptrdiff_t stride;
    std::vector<int16_t> terms;
    std::vector<uint32_t> words;
    std::vector<uint8_t> u, v;
    explicit Scratch(int32_t width)
        : stride(((static_cast<ptrdiff_t>(width) + 2 * kStep - 1) / kStep) * kStep),
          terms(static_cast<size_t>(stride) * kTerms),
          words(static_cast<size_t>(stride)),
          u(static_cast<size_t>(stride)),
          v(static_cast<size_t>(stride)) {}
};

// One row of n pixels from luma y and the terms, into out in format F.
template <class K, int F>
[[gnu::always_inline]] inline void EmitRow(const uint8_t* y, Scratch& s, uint8_t* out, int32_t n) {
    const int16_t* k = s.terms.data();
    if constexpr (F >= 10) {
        auto* words = reinterpret_cast<uint32_t*>(out);
        const int32_t done = K::template Run<F>(y, k, s.stride, words, n);
        PortableRow<F>(y + done, k + done, s.stride, words + done, n - done);
    } else {
        const int32_t done = K::template Run<10>(y, k, s.stride, s.words.data(), n);
        PortableRow<10>(y + done, k + done, s.stride, s.words.data() + done, n - done);
        PackRow<F>(s.words.data(), out, n);
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

// Both luma rows of each chroma row in one pass, for kernels that keep the
// terms in registers (32-bit formats only); the pixels past their last full
// step take the terms through the scratch rows.
template <class K, int F>
[[gnu::always_inline]] inline void ConvertRowPairs(const qbYUVFrameRequest& q) {
    const int32_t w = q.sourceWidth, chroma = (w + 1) / 2;
    Scratch s(w);
    for (int32_t row = 0; row < q.sourceHeight; row += 2) {
        const Planes p = RowPlanes(q, row);
        const bool two = row + 1 < q.sourceHeight;
        const uint8_t* y1 = two ? p.y + q.pitches[0] : nullptr;
        auto* out0 = static_cast<uint32_t*>(q.destination) + static_cast<ptrdiff_t>(row) * q.destPitch;
        uint32_t* out1 = two ? out0 + q.destPitch : nullptr;
        const int32_t done = K::template RunPair<F>(p.y, y1, p.u, p.v, out0, out1, w);
        if (done == w) continue;
        const int32_t c = done / 2;
        std::memcpy(s.u.data(), p.u + c, static_cast<size_t>(chroma - c));
        std::memcpy(s.v.data(), p.v + c, static_cast<size_t>(chroma - c));
        K::FillPairs(s.u.data(), s.v.data(), chroma - c, s.terms.data(), s.stride);
        PortableRow<F>(p.y + done, s.terms.data(), s.stride, out0 + done, w - done);
        if (two) PortableRow<F>(y1 + done, s.terms.data(), s.stride, out1 + done, w - done);
    }
}

// Two luma rows per chroma row share its terms.
template <class K, int F>
[[gnu::always_inline]] inline void ConvertRows(const qbYUVFrameRequest& q) {
    if constexpr (F >= 10 && K::kPairs) {
        ConvertRowPairs<K, F>(q);
        return;
    }
    constexpr int32_t bytes = FormatBytes(F);
    const int32_t w = q.sourceWidth, chroma = (w + 1) / 2;
    Scratch s(w);
    for (int32_t row = 0; row < q.sourceHeight; ++row) {
        const Planes p = RowPlanes(q, row);
        if ((row & 1) == 0) {
            std::memcpy(s.u.data(), p.u, static_cast<size_t>(chroma));
            std::memcpy(s.v.data(), p.v, static_cast<size_t>(chroma));
            K::FillPairs(s.u.data(), s.v.data(), chroma, s.terms.data(), s.stride);
        }
        uint8_t* out = static_cast<uint8_t*>(q.destination) + static_cast<ptrdiff_t>(row) * q.destPitch * bytes;
        EmitRow<K, F>(p.y, s, out, w);
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

// The source column of every destination column.
std::vector<int32_t> Columns(const qbYUVFrameRequest& q) {
    const ScaleSteps steps = StepsOf(q);
    std::vector<int32_t> columns(static_cast<size_t>(q.destWidth));
    int64_t x = 0;
    for (auto& c : columns) c = static_cast<int32_t>(std::min<int64_t>(x >> 16, q.sourceWidth - 1)), x += steps.xs;
    return columns;
}

// Nearest pixel through the row and column tables: each source row met is
// converted whole (its chroma row's terms once), and its pixels are picked
// by the column table; a source row met again repeats the destination row
// above.
template <class K, int F>
[[gnu::always_inline]] inline void ScaleRows(const qbYUVFrameRequest& q) {
    constexpr int32_t bytes = FormatBytes(F);
    constexpr int kRowFormat = F >= 10 ? F : 10;
    const ScaleSteps steps = StepsOf(q);
    const std::vector<int32_t> columns = Columns(q);
    const int32_t w = q.destWidth, sw = q.sourceWidth, chroma = (sw + 1) / 2;
    const ptrdiff_t rowBytes = static_cast<ptrdiff_t>(q.destPitch) * bytes;
    Scratch s(sw);
    std::vector<uint32_t> row(static_cast<size_t>(s.stride)), picked(static_cast<size_t>(w) + 8);
    float yacc = 0.0f;
    int32_t previous = -1, previousChroma = -1;
    for (int32_t r = 0; r < q.destHeight; ++r, yacc += steps.ys) {
        const int32_t source = std::min(static_cast<int32_t>(yacc), q.sourceHeight - 1);
        uint8_t* out = static_cast<uint8_t*>(q.destination) + r * rowBytes;
        if (source == previous) {
            std::memmove(out, out - rowBytes, static_cast<size_t>(w) * bytes);
            continue;
        }
        previous = source;
        const Planes p = RowPlanes(q, source);
        if (source >> 1 != previousChroma) {
            previousChroma = source >> 1;
            std::memcpy(s.u.data(), p.u, static_cast<size_t>(chroma));
            std::memcpy(s.v.data(), p.v, static_cast<size_t>(chroma));
            K::FillPairs(s.u.data(), s.v.data(), chroma, s.terms.data(), s.stride);
        }
        EmitRow<K, kRowFormat>(p.y, s, reinterpret_cast<uint8_t*>(row.data()), sw);
        if constexpr (F >= 10) {
            for (int32_t c = 0; c < w; ++c) std::memcpy(out + 4 * c, &row[columns[c]], 4);
        } else {
            for (int32_t c = 0; c < w; ++c) picked[c] = row[columns[c]];
            PackRow<F>(picked.data(), out, w);
        }
    }
}

template <class K, bool Scaled>
[[gnu::always_inline]] inline void RunFrame(const qbYUVFrameRequest& q) {
#define QB_YUV_FORMAT(F)          \
    case F:                       \
        if constexpr (Scaled)     \
            ScaleRows<K, F>(q);   \
        else                      \
            ConvertRows<K, F>(q); \
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

void ConvertPortable(const qbYUVFrameRequest& q) { RunFrame<PortableRows, false>(q); }
void ScalePortable(const qbYUVFrameRequest& q) { RunFrame<PortableRows, true>(q); }
#if QB_PIXEL_X86
// The same rows compiled for AVX2 and for AVX-512; they run only where the
// processor has them (see kernels_avx2.cpp for why the attribute).
__attribute__((target("avx2"), flatten)) void ConvertAvx2(const qbYUVFrameRequest& q) {
    RunFrame<Avx2Row, false>(q);
}
__attribute__((target("avx2"), flatten)) void ScaleAvx2(const qbYUVFrameRequest& q) { RunFrame<Avx2Row, true>(q); }
__attribute__((target("avx2,avx512f,avx512bw,avx512vbmi"), flatten)) void ConvertAvx512(const qbYUVFrameRequest& q) {
    RunFrame<Avx512Row, false>(q);
}
__attribute__((target("avx2,avx512f,avx512bw,avx512vbmi"), flatten)) void ScaleAvx512(const qbYUVFrameRequest& q) {
    RunFrame<Avx512Row, true>(q);
}

// Decided once per process; the compiler runtime's check covers the
// system's saving of the wide registers too.
bool HaveAvx512Bytes() {
    static const bool have = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                             __builtin_cpu_supports("avx512vbmi");
    return have;
}
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
    if (isa == KernelIsa::Avx512 && UsableIsa(isa) == KernelIsa::Avx2 && HaveAvx512Bytes()) return ConvertAvx512(q);
    if (UsableIsa(isa) == KernelIsa::Avx2) return ConvertAvx2(q);
#endif
    (void)isa;
    ConvertPortable(q);
}

void ScaleYUVToRGBWith(KernelIsa isa, const qbYUVFrameRequest& q) {
    // Either side of the destination below 1 has no pixel to write (and a
    // width of 0 would divide by zero).
    if (!HasFrame(q) || q.destWidth < 1 || q.destHeight < 1 || FormatBytes(q.destFormat) == 0) return;
#if QB_PIXEL_X86
    if (isa == KernelIsa::Avx512 && UsableIsa(isa) == KernelIsa::Avx2 && HaveAvx512Bytes()) return ScaleAvx512(q);
    if (UsableIsa(isa) == KernelIsa::Avx2) return ScaleAvx2(q);
#endif
    (void)isa;
    ScalePortable(q);
}

void ConvertYUVToRGB(const qbYUVFrameRequest& q) { ConvertYUVToRGBWith(KernelIsa::Avx512, q); }
void ScaleYUVToRGB(const qbYUVFrameRequest& q) { ScaleYUVToRGBWith(KernelIsa::Avx512, q); }

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
