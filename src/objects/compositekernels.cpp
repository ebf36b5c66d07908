// Rounded 32-bit blends: red and blue share one word as two 16-bit lanes,
// green has its own; every lane holds at most 255 x 255 before rounding.
#include "objects/compositekernels.h"

#include <immintrin.h>

#include <initializer_list>

#include "imaging/kernelisa.h"

namespace {

// round(t / 255) for t <= 255 * 255, in each 16-bit lane of the word.
inline uint32_t Div255Lanes(uint32_t t) {
    t += 0x00800080u;
    return ((t + ((t >> 8) & 0x00FF00FFu)) >> 8) & 0x00FF00FFu;
}

inline uint32_t Div255(uint32_t t) {
    t += 128;
    return (t + (t >> 8)) >> 8;
}

inline uint32_t Blend(uint32_t s, uint32_t d, uint32_t a) {
    const uint32_t na = 255 - a;
    const uint32_t rb = Div255Lanes((s & 0x00FF00FFu) * a + (d & 0x00FF00FFu) * na);
    const uint32_t g = Div255Lanes(((s >> 8) & 0xFFu) * a + ((d >> 8) & 0xFFu) * na);
    return (d & 0xFF000000u) | rb | (g << 8);
}

inline bool MaskBit(const uint8_t* row, int32_t bit) { return (row[bit >> 3] >> (7 - (bit & 7))) & 1; }

// round(t / 255) in each 16-bit lane; t <= 255 x 255.
inline __m128i Div255x8(__m128i t) {
    t = _mm_add_epi16(t, _mm_set1_epi16(128));
    return _mm_srli_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), 8);
}

// Two pixels (8 channel lanes) blended with their weights in w.
inline __m128i BlendTwo(__m128i s, __m128i d, __m128i w) {
    const __m128i inv = _mm_sub_epi16(_mm_set1_epi16(255), w);
    return Div255x8(_mm_add_epi16(_mm_mullo_epi16(s, w), _mm_mullo_epi16(d, inv)));
}

// Four pixels with four weights (16-bit lanes 0..3 of w4).
inline void BlendFour(const uint32_t* s, uint32_t* d, __m128i w4) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i sp = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    const __m128i dp = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d));
    const __m128i w = _mm_unpacklo_epi16(w4, w4);  // w0 w0 w1 w1 w2 w2 w3 w3
    const __m128i lo = BlendTwo(_mm_unpacklo_epi8(sp, zero), _mm_unpacklo_epi8(dp, zero), _mm_unpacklo_epi32(w, w));
    const __m128i hi = BlendTwo(_mm_unpackhi_epi8(sp, zero), _mm_unpackhi_epi8(dp, zero), _mm_unpackhi_epi32(w, w));
    const __m128i top = _mm_set1_epi32(static_cast<int32_t>(0xFF000000u));
    const __m128i out = _mm_or_si128(_mm_andnot_si128(top, _mm_packus_epi16(lo, hi)), _mm_and_si128(top, dp));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), out);
}

// Four weights from four alpha bytes scaled by level.
inline __m128i Weights(const uint8_t* a, uint32_t level) {
    int32_t bytes;
    __builtin_memcpy(&bytes, a, 4);
    __m128i w = _mm_unpacklo_epi8(_mm_cvtsi32_si128(bytes), _mm_setzero_si128());
    if (level != 255) w = Div255x8(_mm_mullo_epi16(w, _mm_set1_epi16(static_cast<int16_t>(level))));
    return w;
}

#define QB_AVX2 __attribute__((target("avx2")))

// The constants of BlendEight, set up once per row.
struct BlendConstants {
    __m256i evens, greens, tops, k128;
};
QB_AVX2 inline BlendConstants MakeBlendConstants() {
    BlendConstants k{_mm256_set1_epi32(0x00FF00FF), _mm256_set1_epi32(0x0000FF00),
                     _mm256_set1_epi32(static_cast<int32_t>(0xFF000000u)), _mm256_set1_epi16(128)};
    // Opaque to the compiler, so it keeps them in registers instead of
    // building them again in every step (two shuffle-port instructions each).
    __asm__("" : "+x"(k.evens), "+x"(k.greens), "+x"(k.tops), "+x"(k.k128));
    return k;
}

// Eight pixels kept where they lie: blue and red share one word as 16-bit
// lanes (the 0x00FF00FF bytes), green and the top byte are shifted down beside
// them, so nothing is unpacked or packed and the weights stay in pixel order.
// pairs holds each pixel's weight in both halves of its word; the top byte
// comes from d.
QB_AVX2 inline __m256i BlendEight(__m256i s, __m256i d, __m256i pairs, const BlendConstants& k) {
    const __m256i inv = _mm256_xor_si256(pairs, k.evens);  // 255 - w, as w <= 255
    // round(t / 255) as (t + 128 + (t + 128 >> 8)) >> 8, lane by lane.
    __m256i rb = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_and_si256(s, k.evens), pairs),
                                  _mm256_mullo_epi16(_mm256_and_si256(d, k.evens), inv));
    rb = _mm256_add_epi16(rb, k.k128);
    rb = _mm256_srli_epi16(_mm256_add_epi16(rb, _mm256_srli_epi16(rb, 8)), 8);
    __m256i g = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_srli_epi16(s, 8), pairs),
                                 _mm256_mullo_epi16(_mm256_srli_epi16(d, 8), inv));
    g = _mm256_add_epi16(g, k.k128);
    // Green's quotient is the high byte of its low lane: where it belongs.
    g = _mm256_and_si256(_mm256_add_epi16(g, _mm256_srli_epi16(g, 8)), k.greens);
    return _mm256_or_si256(_mm256_or_si256(rb, g), _mm256_and_si256(d, k.tops));
}

// Each pixel's weight (a byte per pixel, in order) in both halves of its word,
// scaled by level.
QB_AVX2 inline __m256i PairsOf(uint64_t eight, __m256i lv, uint32_t level, const BlendConstants& k) {
    const __m256i w32 = _mm256_cvtepu8_epi32(_mm_cvtsi64_si128(static_cast<int64_t>(eight)));
    const __m256i pairs = _mm256_or_si256(w32, _mm256_slli_epi32(w32, 16));
    if (level == 255) return pairs;
    const __m256i t = _mm256_add_epi16(_mm256_mullo_epi16(pairs, lv), k.k128);
    return _mm256_srli_epi16(_mm256_add_epi16(t, _mm256_srli_epi16(t, 8)), 8);
}

// The weights of the last 1 to 7 pixels of a row, read without passing its
// end: the eight bytes that end with the row, shifted down, where the row
// has eight (no byte copy of odd length, which the load after it would wait
// for); byte by byte in narrower rows.
inline uint64_t TailWeights(const uint8_t* a, int32_t x, int32_t width) {
    const int32_t rest = width - x;
    uint64_t eight = 0;
    if (width >= 8) {
        __builtin_memcpy(&eight, a + width - 8, 8);
        return eight >> (8 * (8 - rest));
    }
    for (int32_t i = rest - 1; i >= 0; --i) eight = eight << 8 | a[x + i];
    return eight;
}

// A row where the processor has AVX2, eight pixels at a time and the last
// one to seven through masked loads and stores (which neither read nor write
// past the row); a or null (the constant level).
QB_AVX2 void BlendRowAVX2(const uint32_t* s, uint32_t* d, const uint8_t* a, uint32_t level, int32_t width) {
    const BlendConstants k = MakeBlendConstants();
    const __m256i lv = _mm256_set1_epi16(static_cast<int16_t>(level));
    int32_t x = 0;
    for (; x + 8 <= width; x += 8) {
        __m256i pairs = lv;
        if (a) {
            uint64_t eight;
            __builtin_memcpy(&eight, a + x, 8);
            // Shapes are mostly clear or solid: those runs blend to d or s
            // exactly, so they are skipped or copied.
            if (eight == 0) continue;
            if (eight == ~uint64_t{0} && level == 255) {
                const __m256i sp = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + x));
                const __m256i dp = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + x));
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + x),
                                    _mm256_or_si256(_mm256_andnot_si256(k.tops, sp), _mm256_and_si256(k.tops, dp)));
                continue;
            }
            pairs = PairsOf(eight, lv, level, k);
        }
        const __m256i sp = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + x));
        const __m256i dp = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + x));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + x), BlendEight(sp, dp, pairs, k));
    }
    const int32_t rest = width - x;
    if (rest <= 0) return;
    __m256i pairs = lv;
    if (a) {
        const uint64_t eight = TailWeights(a, x, width);
        if (eight == 0) return;
        pairs = PairsOf(eight, lv, level, k);
    }
    const __m256i lanes = _mm256_cmpgt_epi32(_mm256_set1_epi32(rest), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    const __m256i sp = _mm256_maskload_epi32(reinterpret_cast<const int*>(s + x), lanes);
    const __m256i dp = _mm256_maskload_epi32(reinterpret_cast<const int*>(d + x), lanes);
    _mm256_maskstore_epi32(reinterpret_cast<int*>(d + x), lanes, BlendEight(sp, dp, pairs, k));
}

}  // namespace

void BlendRows32(const qbBlendRows& r) { BlendRows32With(BestKernelIsa(), r); }

void BlendRows32With(KernelIsa isa, const qbBlendRows& r) {
    const bool avx2 = UsableIsa(isa) == KernelIsa::Avx2;
    const uint32_t level = r.level > 255 ? 255 : r.level;
    const __m128i constant = _mm_set1_epi16(static_cast<int16_t>(level));
    for (int32_t y = 0; y < r.height; ++y) {
        const uint32_t* s = r.src + static_cast<intptr_t>(y) * r.srcRowLength;
        uint32_t* d = r.dst + static_cast<intptr_t>(y) * r.dstRowLength;
        int32_t x = 0;
        if (r.alpha) {
            const uint8_t* a = r.alpha + static_cast<intptr_t>(y) * r.alphaRowBytes;
            if (avx2) {
                BlendRowAVX2(s, d, a, level, r.width);
                continue;
            }
            for (; x + 4 <= r.width; x += 4) BlendFour(s + x, d + x, Weights(a + x, level));
            for (; x < r.width; ++x) d[x] = Blend(s[x], d[x], level == 255 ? a[x] : Div255(a[x] * level));
        } else if (r.mask) {
            const uint8_t* m = r.mask + static_cast<intptr_t>(y) * r.maskRowBytes;
            for (; x + 4 <= r.width; x += 4) {
                uint8_t w[4];
                for (int i = 0; i < 4; ++i) w[i] = MaskBit(m, r.maskBit + x + i) ? static_cast<uint8_t>(level) : 0;
                BlendFour(s + x, d + x, Weights(w, 255));
            }
            for (; x < r.width; ++x)
                if (MaskBit(m, r.maskBit + x)) d[x] = Blend(s[x], d[x], level);
        } else {
            if (avx2) {
                BlendRowAVX2(s, d, nullptr, level, r.width);
                continue;
            }
            for (; x + 4 <= r.width; x += 4) BlendFour(s + x, d + x, constant);
            for (; x < r.width; ++x) d[x] = Blend(s[x], d[x], level);
        }
    }
}

void BlendRows32Ref(const qbBlendRows& r) {
    const uint32_t level = r.level > 255 ? 255 : r.level;
    for (int32_t y = 0; y < r.height; ++y)
        for (int32_t x = 0; x < r.width; ++x) {
            uint32_t a = level;
            if (r.alpha) a = (r.alpha[y * r.alphaRowBytes + x] * level * 2 + 255) / 510;
            else if (r.mask && !MaskBit(r.mask + y * r.maskRowBytes, r.maskBit + x)) a = 0;
            const uint32_t s = r.src[y * r.srcRowLength + x];
            uint32_t& d = r.dst[y * r.dstRowLength + x];
            uint32_t out = d & 0xFF000000u;
            for (int shift : {0, 8, 16}) {
                const uint32_t cs = (s >> shift) & 0xFF, cd = (d >> shift) & 0xFF;
                out |= ((cs * a + cd * (255 - a)) * 2 + 255) / 510 << shift;
            }
            d = out;
        }
}
