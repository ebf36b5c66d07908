// AVX2 row loops of the pixel kernels. Every function here carries the target
// attribute instead of the file being built with -mavx2, so no inline
// function from a shared header is ever compiled for AVX2 and picked by the
// linker for callers that run on processors without it. They run only when
// BestKernelIsa() says the processor has AVX2.
#include "imaging/simdrows.h"

#if QB_PIXEL_X86

#include <immintrin.h>

#include <cstring>

#define QB_AVX2 __attribute__((target("avx2")))

namespace {

QB_AVX2 inline __m256i Load8(const uint32_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
QB_AVX2 inline void Store8(uint32_t* p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }

// a + ((b - a) * f >> 16) in signed 16-bit lanes; see the SSE2 twin.
QB_AVX2 inline __m256i Lerp16(__m256i a, __m256i b, __m256i f) {
    const __m256i diff = _mm256_sub_epi16(b, a);
    const __m256i part = _mm256_mulhi_epi16(diff, f);
    return _mm256_add_epi16(a, _mm256_add_epi16(part, _mm256_and_si256(diff, _mm256_srai_epi16(f, 15))));
}

// All ones in pixel k's lane where bit 7 - k of the mask byte is set.
QB_AVX2 inline __m256i LanesOf(uint32_t byte) {
    const __m256i laneBits = _mm256_setr_epi32(0x80, 0x40, 0x20, 0x10, 8, 4, 2, 1);
    return _mm256_cmpeq_epi32(_mm256_and_si256(_mm256_set1_epi32(static_cast<int32_t>(byte)), laneBits), laneBits);
}

}  // namespace

QB_AVX2 void MaskedCopyRectAvx2(const MaskedRect<uint32_t>& r) {
    const int32_t whole = r.width & ~7;
    uint32_t* d = r.d;
    const uint32_t* s = r.s;
    const uint8_t* m = r.m;
    for (int32_t j = 0; j < r.height; ++j, d += r.dRow, s += r.sRow, m += r.mRow) {
        int32_t i = 0;
        // Runs of 32 pixels whose mask is all set or all clear (most of a
        // layer's picture) are copied or skipped whole: a masked store costs
        // several times a plain one on some processors.
        for (; i + 32 <= whole; i += 32) {
            const uint8_t* p = m + (i >> 3);
            const uint32_t run = MaskBits8(p, r.shift) << 24 | MaskBits8(p + 1, r.shift) << 16 |
                                 MaskBits8(p + 2, r.shift) << 8 | MaskBits8(p + 3, r.shift);
            if (run == 0) continue;
            if (run == ~0u) {
                for (int32_t k = 0; k < 32; k += 8) Store8(d + i + k, Load8(s + i + k));
                continue;
            }
            // A masked store instead of a blend: the destination is neither
            // read nor written where the mask is clear, which makes a sprite
            // blit in the caches a sixth faster.
            for (int32_t k = 0; k < 32; k += 8)
                _mm256_maskstore_epi32(reinterpret_cast<int*>(d + i + k), LanesOf((run >> (24 - k)) & 0xFFu),
                                       Load8(s + i + k));
        }
        for (; i < whole; i += 8)
            _mm256_maskstore_epi32(reinterpret_cast<int*>(d + i), LanesOf(MaskBits8(m + (i >> 3), r.shift)),
                                   Load8(s + i));
        if (i < r.width) {
            // The lanes past the row are clear, so nothing beyond the row's
            // end is read or written.
            const __m256i lanes = LanesOf(MaskBitsTail(m + (i >> 3), r.shift, r.width - i));
            auto* to = reinterpret_cast<int*>(d + i);
            _mm256_maskstore_epi32(to, lanes, _mm256_maskload_epi32(reinterpret_cast<const int*>(s + i), lanes));
        }
    }
}

QB_AVX2 void FillPatternAvx2(uint8_t* p, size_t bytes, uint32_t pattern) {
    if (bytes < 32) {
        FillPatternSse2(p, bytes, pattern);
        return;
    }
    const __m256i v = _mm256_set1_epi32(static_cast<int32_t>(pattern));
    uint8_t* const end = p + bytes;
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
    uint8_t* q = p + (32 - (reinterpret_cast<uintptr_t>(p) & 31));
    for (; q + 128 <= end; q += 128) {
        _mm256_store_si256(reinterpret_cast<__m256i*>(q), v);
        _mm256_store_si256(reinterpret_cast<__m256i*>(q + 32), v);
        _mm256_store_si256(reinterpret_cast<__m256i*>(q + 64), v);
        _mm256_store_si256(reinterpret_cast<__m256i*>(q + 96), v);
    }
    for (; q + 32 <= end; q += 32) _mm256_store_si256(reinterpret_cast<__m256i*>(q), v);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(end - 32), v);
}

// The blend rule of the SSE2 twin, d (256 - w) + c w >> 8 per channel with
// 255 taken as 256, on the channels where they lie: blue and red in the
// 16-bit halves of each pixel (the 0x00FF00FF bytes), green and alpha shifted
// down beside them. No unpacking and packing, and the weights stay in pixel
// order, which leaves the shuffle port nearly idle.
QB_AVX2 int32_t AlphaBlendRowAvx2(uint32_t* d, const uint32_t* s, const uint8_t* a, int32_t width) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i k255 = _mm256_set1_epi32(255);
    const __m256i k256 = _mm256_set1_epi16(256);
    const __m256i evens = _mm256_set1_epi32(0x00FF00FF);
    const __m256i odds = _mm256_set1_epi32(static_cast<int32_t>(0xFF00FF00u));
    const __m256i rgb = _mm256_set1_epi32(0x00FFFFFF);
    int32_t i = 0;
    for (; i + 8 <= width; i += 8) {
        uint64_t word;
        std::memcpy(&word, a + i, 8);
        if (word == 0) continue;
        const __m256i sv = Load8(s + i);
        if (word == ~uint64_t{0}) {
            Store8(d + i, sv);
            continue;
        }
        const __m256i w8 = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a + i)));
        const __m256i full = _mm256_cmpeq_epi32(w8, k255);
        const __m256i whole = _mm256_or_si256(full, _mm256_cmpeq_epi32(w8, zero));
        // 255 becomes 256, which takes the source whole, alpha included.
        const __m256i w32 = _mm256_sub_epi32(w8, full);
        const __m256i w = _mm256_or_si256(w32, _mm256_slli_epi32(w32, 16));
        const __m256i keep = _mm256_sub_epi16(k256, w);
        const __m256i dv = Load8(d + i);
        const __m256i rb = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_and_si256(dv, evens), keep),
                                            _mm256_mullo_epi16(_mm256_and_si256(sv, evens), w));
        const __m256i ga = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_srli_epi16(dv, 8), keep),
                                            _mm256_mullo_epi16(_mm256_srli_epi16(sv, 8), w));
        // Every weight but 0 and 255 leaves alpha 0.
        const __m256i gaBytes = _mm256_and_si256(odds, _mm256_or_si256(whole, rgb));
        Store8(d + i, _mm256_or_si256(_mm256_srli_epi16(rb, 8), _mm256_and_si256(ga, gaBytes)));
    }
    return i;
}

// Gather instructions are slower than eight loads on some processors; here
// each group's source pixels lie in at most two vectors, which a permute
// picks from (it reads the low 3 bits of each index, so the same indices
// serve both halves).
QB_AVX2 int32_t PickRowAvx2(uint32_t* out, const uint32_t* in, const int32_t* cols, int32_t count) {
    const __m256i seven = _mm256_set1_epi32(7);
    int32_t x = 0;
    for (; x + 8 <= count; x += 8) {
        const int32_t c0 = cols[x];
        const __m256i idx = _mm256_sub_epi32(Load8(reinterpret_cast<const uint32_t*>(cols + x)), _mm256_set1_epi32(c0));
        const __m256i a = _mm256_permutevar8x32_epi32(Load8(in + c0), idx);
        const __m256i b = _mm256_permutevar8x32_epi32(Load8(in + c0 + 8), idx);
        Store8(out + x, _mm256_blendv_epi8(a, b, _mm256_cmpgt_epi32(idx, seven)));
    }
    return x;
}

// Eight 2-byte pixels from the sixteen at cols[x]: the 4-byte word holding
// each, shifted down when it is the upper half, then packed.
QB_AVX2 int32_t PickRow16Avx2(uint16_t* out, const uint16_t* in, const int32_t* cols, int32_t count) {
    const __m256i one = _mm256_set1_epi32(1);
    const __m256i low = _mm256_set1_epi32(0xFFFF);
    int32_t x = 0;
    for (; x + 8 <= count; x += 8) {
        const int32_t c0 = cols[x];
        const __m256i idx = _mm256_sub_epi32(Load8(reinterpret_cast<const uint32_t*>(cols + x)), _mm256_set1_epi32(c0));
        const __m256i words = _mm256_permutevar8x32_epi32(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + c0)), _mm256_srli_epi32(idx, 1));
        const __m256i halves =
            _mm256_and_si256(_mm256_srlv_epi32(words, _mm256_slli_epi32(_mm256_and_si256(idx, one), 4)), low);
        // The pack works per 128-bit lane; the two low quarters hold all eight.
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi32(halves, halves), 0x08);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm256_castsi256_si128(packed));
    }
    return x;
}

QB_AVX2 int32_t LerpColumnsAvx2(const uint32_t* src, const int32_t* cols, const uint16_t* fracs,
                        int32_t count, uint32_t* out) {
    const __m256i zero = _mm256_setzero_si256();
    // Fractions of pixels 0..7 to the 16-bit lanes of the unpack order.
    const __m256i spreadLo = _mm256_setr_epi8(0, 1, 0, 1, 0, 1, 0, 1, 2, 3, 2, 3, 2, 3, 2, 3,
                                              8, 9, 8, 9, 8, 9, 8, 9, 10, 11, 10, 11, 10, 11, 10, 11);
    const __m256i spreadHi = _mm256_setr_epi8(4, 5, 4, 5, 4, 5, 4, 5, 6, 7, 6, 7, 6, 7, 6, 7,
                                              12, 13, 12, 13, 12, 13, 12, 13, 14, 15, 14, 15, 14, 15, 14, 15);
    int32_t x = 0;
    for (; x + 8 <= count; x += 8) {
        // A pixel and its right neighbour per load; pixels 0..3 go to the low
        // half, 4..7 to the high one.
        const int32_t* c = cols + x;
        const __m128i q01 = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + c[0])),
                                               _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + c[1])));
        const __m128i q23 = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + c[2])),
                                               _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + c[3])));
        const __m128i q45 = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + c[4])),
                                               _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + c[5])));
        const __m128i q67 = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + c[6])),
                                               _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + c[7])));
        const __m256 y0 = _mm256_castsi256_ps(_mm256_inserti128_si256(_mm256_castsi128_si256(q01), q45, 1));
        const __m256 y1 = _mm256_castsi256_ps(_mm256_inserti128_si256(_mm256_castsi128_si256(q23), q67, 1));
        const __m256i a = _mm256_castps_si256(_mm256_shuffle_ps(y0, y1, _MM_SHUFFLE(2, 0, 2, 0)));
        const __m256i b = _mm256_castps_si256(_mm256_shuffle_ps(y0, y1, _MM_SHUFFLE(3, 1, 3, 1)));
        const __m256i f = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(fracs + x)));
        const __m256i lo = Lerp16(_mm256_unpacklo_epi8(a, zero), _mm256_unpacklo_epi8(b, zero),
                                  _mm256_shuffle_epi8(f, spreadLo));
        const __m256i hi = Lerp16(_mm256_unpackhi_epi8(a, zero), _mm256_unpackhi_epi8(b, zero),
                                  _mm256_shuffle_epi8(f, spreadHi));
        Store8(out + x, _mm256_packus_epi16(lo, hi));
    }
    return x;
}

QB_AVX2 int32_t LerpRowsAvx2(const uint32_t* top, const uint32_t* bottom, uint32_t fy, int32_t count,
                     uint32_t* out) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i f = _mm256_set1_epi16(static_cast<int16_t>(fy));
    const __m256i rgb = _mm256_set1_epi32(0x00FFFFFF);
    int32_t x = 0;
    for (; x + 8 <= count; x += 8) {
        const __m256i t = Load8(top + x), b = Load8(bottom + x);
        const __m256i lo = Lerp16(_mm256_unpacklo_epi8(t, zero), _mm256_unpacklo_epi8(b, zero), f);
        const __m256i hi = Lerp16(_mm256_unpackhi_epi8(t, zero), _mm256_unpackhi_epi8(b, zero), f);
        Store8(out + x, _mm256_and_si256(_mm256_packus_epi16(lo, hi), rgb));
    }
    return x;
}

namespace {

// Eight pixels of a colour by the blend rule, channel by channel in 16-bit
// lanes (d (256 - w) + c w stays below 65536); clear weights keep the
// pixel, solid ones take the colour whole.
QB_AVX2 inline void ColourThroughEight(uint32_t* p, const uint8_t* a, __m256i colour) {
    const __m256i evens = _mm256_set1_epi32(0x00FF00FF);
    const __m256i w8 = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a)));
    const __m256i w16 = _mm256_or_si256(w8, _mm256_slli_epi32(w8, 16));
    const __m256i keep = _mm256_sub_epi16(_mm256_set1_epi16(256), w16);
    const __m256i px = Load8(p);
    const __m256i rb = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_and_si256(px, evens), keep),
                                        _mm256_mullo_epi16(_mm256_and_si256(colour, evens), w16));
    const __m256i lowBytes = _mm256_set1_epi32(0xFF);
    const __m256i g = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_and_si256(_mm256_srli_epi32(px, 8), lowBytes), keep),
                                       _mm256_mullo_epi16(_mm256_and_si256(_mm256_srli_epi32(colour, 8), lowBytes), w16));
    __m256i out = _mm256_or_si256(_mm256_srli_epi16(rb, 8), _mm256_and_si256(g, _mm256_set1_epi32(0x0000FF00)));
    out = _mm256_blendv_epi8(out, colour, _mm256_cmpeq_epi32(w8, _mm256_set1_epi32(255)));
    out = _mm256_blendv_epi8(out, px, _mm256_cmpeq_epi32(w8, _mm256_setzero_si256()));
    Store8(p, out);
}

}  // namespace

// Thirty-two weights are tested at once (a coverage row is mostly long
// clear or solid runs), then each eight of them on their own.
QB_AVX2 int32_t ColourThroughWeightsRowAvx2(uint32_t* d, const uint8_t* w, int32_t width, uint32_t argb) {
    const __m256i zero = _mm256_setzero_si256(), solid = _mm256_set1_epi8(-1);
    const __m256i colour = _mm256_set1_epi32(static_cast<int32_t>(argb));
    int32_t i = 0;
    for (; i + 32 <= width; i += 32) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w + i));
        const auto clear = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(a, zero)));
        if (clear == 0xFFFFFFFFu) continue;
        const auto full = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(a, solid)));
        if (full == 0xFFFFFFFFu) {
            for (int32_t k = 0; k < 4; ++k) Store8(d + i + 8 * k, colour);
            continue;
        }
        for (int32_t k = 0; k < 4; ++k) {
            const uint32_t c8 = (clear >> (8 * k)) & 0xFF, f8 = (full >> (8 * k)) & 0xFF;
            uint32_t* p = d + i + 8 * k;
            if (c8 == 0xFF) continue;
            if (f8 == 0xFF) Store8(p, colour);
            else ColourThroughEight(p, w + i + 8 * k, colour);
        }
    }
    for (; i + 8 <= width; i += 8) {
        uint64_t word;
        std::memcpy(&word, w + i, sizeof word);
        if (word == 0) continue;
        if (word == ~uint64_t{0}) Store8(d + i, colour);
        else ColourThroughEight(d + i, w + i, colour);
    }
    return i;
}

#endif
