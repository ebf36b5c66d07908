// SSE2 row loops of the pixel kernels (the x86 baseline, so no dispatch).
#include "imaging/simdrows.h"

#if QB_PIXEL_X86

#include <emmintrin.h>

#include <cstring>

namespace {

inline __m128i Load4(const uint32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void Store4(uint32_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// Four ARGB pixels by the blend rule in 16-bit lanes: 256 d + (c - d) w equals
// d (256 - w) + c w, which never leaves 0..65280, so unsigned 16-bit lanes
// and a logical shift give the arithmetic shift of the rule exactly. The
// weights come per 16-bit lane (low two pixels in wLo, high two in wHi) and
// may be 256, which yields c exactly. All four bytes are mixed.
inline __m128i Mix4(__m128i d, __m128i c, __m128i wLo, __m128i wHi) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i k256 = _mm_set1_epi16(256);
    const __m128i lo = _mm_srli_epi16(
        _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(d, zero), _mm_sub_epi16(k256, wLo)),
                      _mm_mullo_epi16(_mm_unpacklo_epi8(c, zero), wLo)),
        8);
    const __m128i hi = _mm_srli_epi16(
        _mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(d, zero), _mm_sub_epi16(k256, wHi)),
                      _mm_mullo_epi16(_mm_unpackhi_epi8(c, zero), wHi)),
        8);
    return _mm_packus_epi16(lo, hi);
}

// a + ((b - a) * f >> 16) in signed 16-bit lanes, f being 0..65535 read as
// signed: the high half of the signed product is floor(diff * f / 65536) less
// diff wherever f >= 32768, which the masked add puts back.
inline __m128i Lerp16(__m128i a, __m128i b, __m128i f) {
    const __m128i diff = _mm_sub_epi16(b, a);
    const __m128i part = _mm_mulhi_epi16(diff, f);
    return _mm_add_epi16(a, _mm_add_epi16(part, _mm_and_si128(diff, _mm_srai_epi16(f, 15))));
}

// a where lanes is 0, b where it is all ones.
inline __m128i Select(__m128i a, __m128i b, __m128i lanes) {
    return _mm_or_si128(_mm_andnot_si128(lanes, a), _mm_and_si128(lanes, b));
}

// All ones in every lane whose bit of `bits` (the broadcast mask byte) is set.
inline __m128i LanesOf(__m128i bits, __m128i laneBits) {
    return _mm_cmpeq_epi32(_mm_and_si128(bits, laneBits), laneBits);
}

}  // namespace

void MaskedCopyRectSse2(const MaskedRect<uint32_t>& r) {
    const __m128i firstBits = _mm_setr_epi32(0x80, 0x40, 0x20, 0x10);
    const __m128i secondBits = _mm_setr_epi32(8, 4, 2, 1);
    WalkMaskedRect(r, [&](uint32_t* d, const uint32_t* s, uint32_t byte) {
        const __m128i bits = _mm_set1_epi32(static_cast<int32_t>(byte));
        Store4(d, Select(Load4(d), Load4(s), LanesOf(bits, firstBits)));
        Store4(d + 4, Select(Load4(d + 4), Load4(s + 4), LanesOf(bits, secondBits)));
    });
}

void MaskedCopyRect16Sse2(const MaskedRect<uint16_t>& r) {
    const __m128i laneBits = _mm_setr_epi16(0x80, 0x40, 0x20, 0x10, 8, 4, 2, 1);
    WalkMaskedRect(r, [&](uint16_t* d, const uint16_t* s, uint32_t byte) {
        const __m128i bits = _mm_set1_epi16(static_cast<int16_t>(byte));
        const __m128i lanes = _mm_cmpeq_epi16(_mm_and_si128(bits, laneBits), laneBits);
        auto* dv = reinterpret_cast<__m128i*>(d);
        _mm_storeu_si128(dv, Select(_mm_loadu_si128(dv), _mm_loadu_si128(reinterpret_cast<const __m128i*>(s)), lanes));
    });
}

void FillPatternSse2(uint8_t* p, size_t bytes, uint32_t pattern) {
    if (bytes < 16) {
        // Two bytes at a time keeps the pattern's phase for both pixel sizes.
        const auto* pat = reinterpret_cast<const uint8_t*>(&pattern);
        for (size_t k = 0; k < bytes; k += 2) std::memcpy(p + k, pat + (k & 2), 2);
        return;
    }
    const __m128i v = _mm_set1_epi32(static_cast<int32_t>(pattern));
    uint8_t* const end = p + bytes;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
    uint8_t* q = p + (16 - (reinterpret_cast<uintptr_t>(p) & 15));
    for (; q + 64 <= end; q += 64) {
        _mm_store_si128(reinterpret_cast<__m128i*>(q), v);
        _mm_store_si128(reinterpret_cast<__m128i*>(q + 16), v);
        _mm_store_si128(reinterpret_cast<__m128i*>(q + 32), v);
        _mm_store_si128(reinterpret_cast<__m128i*>(q + 48), v);
    }
    for (; q + 16 <= end; q += 16) _mm_store_si128(reinterpret_cast<__m128i*>(q), v);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(end - 16), v);
}

void FillPatternStrings(uint8_t* p, size_t bytes, uint32_t pattern) {
    size_t words = bytes / 4;
    asm volatile("rep stosl" : "+D"(p), "+c"(words) : "a"(pattern) : "memory");
    // p now points past the words; 2-byte pixels may leave half a pattern.
    if (bytes & 2) std::memcpy(p, &pattern, 2);
}

int32_t ReverseBytesRowSse2(uint32_t* d, const uint32_t* s, int32_t width) {
    int32_t i = 0;
    for (; i + 4 <= width; i += 4) {
        // The bytes of each 16-bit half exchanged, then the halves.
        __m128i v = Load4(s + i);
        v = _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
        v = _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, _MM_SHUFFLE(2, 3, 0, 1)), _MM_SHUFFLE(2, 3, 0, 1));
        Store4(d + i, v);
    }
    return i;
}

int32_t SwapRedBlueRowSse2(uint32_t* d, const uint32_t* s, int32_t width) {
    const __m128i ag = _mm_set1_epi32(static_cast<int32_t>(0xFF00FF00u));
    const __m128i low = _mm_set1_epi32(0xFF);
    int32_t i = 0;
    for (; i + 4 <= width; i += 4) {
        const __m128i v = Load4(s + i);
        const __m128i rb = _mm_or_si128(_mm_and_si128(_mm_srli_epi32(v, 16), low),
                                        _mm_slli_epi32(_mm_and_si128(v, low), 16));
        Store4(d + i, _mm_or_si128(_mm_and_si128(v, ag), rb));
    }
    return i;
}

int32_t BlendFillRowSse2(uint32_t* p, int32_t width, uint32_t argb, uint32_t level) {
    const __m128i c = _mm_set1_epi32(static_cast<int32_t>(argb));
    const __m128i w = _mm_set1_epi16(static_cast<int16_t>(level));
    const __m128i rgb = _mm_set1_epi32(0x00FFFFFF);
    int32_t i = 0;
    for (; i + 4 <= width; i += 4) Store4(p + i, _mm_and_si128(Mix4(Load4(p + i), c, w, w), rgb));
    return i;
}

int32_t MixRowSse2(uint32_t* d, const uint32_t* s, int32_t width, uint32_t w) {
    const __m128i weight = _mm_set1_epi16(static_cast<int16_t>(w));
    const __m128i rgb = _mm_set1_epi32(0x00FFFFFF);
    int32_t i = 0;
    for (; i + 4 <= width; i += 4) Store4(d + i, _mm_and_si128(Mix4(Load4(s + i), Load4(d + i), weight, weight), rgb));
    return i;
}

int32_t MixRowToSse2(uint32_t* out, const uint32_t* d, const uint32_t* s, int32_t width, uint32_t w) {
    const __m128i weight = _mm_set1_epi16(static_cast<int16_t>(w));
    const __m128i rgb = _mm_set1_epi32(0x00FFFFFF);
    int32_t i = 0;
    for (; i + 4 <= width; i += 4)
        Store4(out + i, _mm_and_si128(Mix4(Load4(s + i), Load4(d + i), weight, weight), rgb));
    return i;
}

int32_t AlphaBlendRowSse2(uint32_t* d, const uint32_t* s, const uint8_t* a, int32_t width) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i k255 = _mm_set1_epi16(255);
    const __m128i rgb = _mm_set1_epi32(0x00FFFFFF);
    int32_t i = 0;
    for (; i + 4 <= width; i += 4) {
        uint32_t word;
        std::memcpy(&word, a + i, 4);
        // Sprites are mostly clear or opaque runs.
        if (word == 0) continue;
        const __m128i sv = Load4(s + i);
        if (word == 0xFFFFFFFFu) {
            Store4(d + i, sv);
            continue;
        }
        const __m128i bytes = _mm_cvtsi32_si128(static_cast<int32_t>(word));
        __m128i w = _mm_unpacklo_epi8(bytes, zero);
        // Weight 255 becomes 256, which takes the source whole (alpha byte
        // included); weight 0 keeps the destination whole.
        w = _mm_sub_epi16(w, _mm_cmpeq_epi16(w, k255));
        w = _mm_unpacklo_epi16(w, w);
        const __m128i mixed = Mix4(Load4(d + i), sv, _mm_unpacklo_epi32(w, w), _mm_unpackhi_epi32(w, w));
        // Every other weight leaves alpha 0.
        __m128i whole = _mm_or_si128(_mm_cmpeq_epi8(bytes, zero), _mm_cmpeq_epi8(bytes, _mm_set1_epi8(-1)));
        whole = _mm_unpacklo_epi8(whole, whole);
        whole = _mm_unpacklo_epi16(whole, whole);
        Store4(d + i, _mm_and_si128(mixed, _mm_or_si128(whole, rgb)));
    }
    return i;
}

int32_t LerpColumnsSse2(const uint32_t* src, const int32_t* cols, const uint16_t* fracs,
                        int32_t count, uint32_t* out) {
    const __m128i zero = _mm_setzero_si128();
    int32_t x = 0;
    for (; x + 4 <= count; x += 4) {
        // Each load takes a pixel and its right neighbour.
        const auto pair = [&](int32_t k) {
            return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + cols[x + k]));
        };
        const __m128 p01 = _mm_castsi128_ps(_mm_unpacklo_epi64(pair(0), pair(1)));
        const __m128 p23 = _mm_castsi128_ps(_mm_unpacklo_epi64(pair(2), pair(3)));
        const __m128i a = _mm_castps_si128(_mm_shuffle_ps(p01, p23, _MM_SHUFFLE(2, 0, 2, 0)));
        const __m128i b = _mm_castps_si128(_mm_shuffle_ps(p01, p23, _MM_SHUFFLE(3, 1, 3, 1)));
        __m128i f = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(fracs + x));
        f = _mm_unpacklo_epi16(f, f);
        const __m128i lo = Lerp16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero), _mm_unpacklo_epi32(f, f));
        const __m128i hi = Lerp16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero), _mm_unpackhi_epi32(f, f));
        Store4(out + x, _mm_packus_epi16(lo, hi));
    }
    return x;
}

int32_t LerpRowsSse2(const uint32_t* top, const uint32_t* bottom, uint32_t fy, int32_t count,
                     uint32_t* out) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i f = _mm_set1_epi16(static_cast<int16_t>(fy));
    const __m128i rgb = _mm_set1_epi32(0x00FFFFFF);
    int32_t x = 0;
    for (; x + 4 <= count; x += 4) {
        const __m128i t = Load4(top + x), b = Load4(bottom + x);
        const __m128i lo = Lerp16(_mm_unpacklo_epi8(t, zero), _mm_unpacklo_epi8(b, zero), f);
        const __m128i hi = Lerp16(_mm_unpackhi_epi8(t, zero), _mm_unpackhi_epi8(b, zero), f);
        Store4(out + x, _mm_and_si128(_mm_packus_epi16(lo, hi), rgb));
    }
    return x;
}

int32_t ColourThroughWeightsRowSse2(uint32_t* d, const uint8_t* w, int32_t width, uint32_t argb) {
    const __m128i zero = _mm_setzero_si128(), k256 = _mm_set1_epi16(256), solid = _mm_set1_epi8(-1);
    const __m128i colour = _mm_set1_epi32(static_cast<int32_t>(argb));
    const __m128i colour16 = _mm_unpacklo_epi8(_mm_and_si128(colour, _mm_set1_epi32(0x00FFFFFF)), zero);
    const __m128i rgb = _mm_set1_epi32(0x00FFFFFF);
    // Each weight in its pixel's four bytes, then as 16-bit lanes.
    const auto four = [&](uint32_t* p, const uint8_t* a) {
        uint32_t w4;
        std::memcpy(&w4, a, sizeof w4);
        __m128i wv = _mm_cvtsi32_si128(static_cast<int32_t>(w4));
        wv = _mm_unpacklo_epi8(wv, wv);
        wv = _mm_unpacklo_epi16(wv, wv);
        const __m128i px = Load4(p);
        const auto half = [&](__m128i pixels, __m128i weights) {
            return _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(pixels, _mm_sub_epi16(k256, weights)),
                                                _mm_mullo_epi16(colour16, weights)),
                                  8);
        };
        __m128i out = _mm_and_si128(_mm_packus_epi16(half(_mm_unpacklo_epi8(px, zero), _mm_unpacklo_epi8(wv, zero)),
                                                     half(_mm_unpackhi_epi8(px, zero), _mm_unpackhi_epi8(wv, zero))),
                                    rgb);
        const __m128i clear = _mm_cmpeq_epi8(wv, zero), full = _mm_cmpeq_epi8(wv, solid);
        out = _mm_or_si128(_mm_andnot_si128(clear, out), _mm_and_si128(clear, px));
        out = _mm_or_si128(_mm_andnot_si128(full, out), _mm_and_si128(full, colour));
        Store4(p, out);
    };
    int32_t i = 0;
    for (; i + 8 <= width; i += 8) {
        uint64_t word;
        std::memcpy(&word, w + i, sizeof word);
        if (word == 0) continue;
        if (word == ~uint64_t{0}) {
            Store4(d + i, colour);
            Store4(d + i + 4, colour);
            continue;
        }
        four(d + i, w + i);
        four(d + i + 4, w + i + 4);
    }
    return i;
}

#endif
