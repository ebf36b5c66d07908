// The pixel transfers and the blend over a destination alpha plane. The
// blend divides by a weight that changes from pixel to pixel; it multiplies
// by a reciprocal from a table instead, which is exact for every numerator
// the rule can produce (see Divide).
#include "imaging/pixeltransfer.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>

#include "core/pixelformats.h"
#include "imaging/blit.h"
#include "imaging/kernelisa.h"
#include "imaging/kernels.h"
#include "imaging/simdrows.h"

#include "imaging/x86intrinsics.h"

namespace {

template <typename Pixel>
const Pixel* SourceRow(const qbPixelTransferRequest& r, int32_t j) {
    return static_cast<const Pixel*>(r.source) + (static_cast<ptrdiff_t>(r.srcY) + j) * r.srcPitch + r.srcX;
}
template <typename Pixel>
Pixel* DestRow(const qbPixelTransferRequest& r, int32_t j) {
    return static_cast<Pixel*>(r.destination) + (static_cast<ptrdiff_t>(r.dstY) + j) * r.dstPitch + r.dstX;
}
const uint8_t* MaskRow(const qbPixelTransferRequest& r, int32_t j) {
    return r.mask + (static_cast<ptrdiff_t>(r.maskY) + j) * r.maskPitch + r.maskX;
}
const uint8_t* DestAlphaRow(const qbPixelTransferRequest& r, int32_t j) {
    return r.destAlpha + (static_cast<ptrdiff_t>(r.dstY) + j) * r.destAlphaPitch + r.dstX;
}

template <typename Pixel>
void CopyMasked(const qbPixelTransferRequest& r) {
    if (!r.source || !r.destination || !r.mask) return;
    for (int32_t j = 0; j < r.height; ++j) {
        const Pixel* s = SourceRow<Pixel>(r, j);
        Pixel* d = DestRow<Pixel>(r, j);
        const uint8_t* m = MaskRow(r, j);
        for (int32_t i = 0; i < r.width; ++i)
            if (m[i] != 0) d[i] = s[i];
    }
}

// ceil(2^32 / o): n * that >> 32 is n / o, truncated, for every n below
// 2^17: the excess n e / 2^32 (e < 1) stays under 2^-15, less than the 1/o
// that the fraction of n / o always lies below 1. The blend's numerators
// stay under 255 * 255 * 2 + 127 < 2^17.
constexpr std::array<uint64_t, 256> kReciprocals = [] {
    std::array<uint64_t, 256> t{};
    for (uint64_t o = 1; o < 256; ++o) t[o] = ((uint64_t{1} << 32) + o - 1) / o;
    return t;
}();
inline uint32_t Divide(uint32_t n, uint32_t o) { return static_cast<uint32_t>((n * kReciprocals[o]) >> 32); }

// The output weight o and the destination's weight w of one pixel.
struct Weights {
    uint32_t o, w;
};
inline Weights WeightsOf(uint32_t a, uint32_t da) {
    const uint32_t kept = da * (255 - a);
    return {std::min<uint32_t>((kept + a * 255 + 127) / 255, 255), (kept + 127) / 255};
}

inline uint32_t Mix(uint32_t s, uint32_t d, uint32_t a, Weights k) {
    return std::min<uint32_t>(Divide(s * a + d * k.w + 127, k.o), 255);
}
inline uint32_t MixRef(uint32_t s, uint32_t d, uint32_t a, Weights k) {
    return std::min<uint32_t>((s * a + d * k.w + 127) / k.o, 255);
}

// 0x00RRGGBB of both pixels in, the blend out.
template <bool Exact>
inline uint32_t BlendRGB888(uint32_t s, uint32_t d, uint32_t a, uint32_t da) {
    const Weights k = WeightsOf(a, da);
    auto mix = [&](int shift) {
        const uint32_t sc = (s >> shift) & 255, dc = (d >> shift) & 255;
        return (Exact ? MixRef(sc, dc, a, k) : Mix(sc, dc, a, k)) << shift;
    };
    return mix(16) | mix(8) | mix(0);
}

#if QB_PIXEL_X86
#define QB_AVX2 __attribute__((target("avx2")))

// One channel of eight pixels: (s, d) pairs in the 16-bit halves of pair,
// (a, w) in those of aw.
QB_AVX2 inline __m256i MixChannel(__m256i pair, __m256i aw, __m256 reciprocal) {
    const __m256i n = _mm256_add_epi32(_mm256_madd_epi16(pair, aw), _mm256_set1_epi32(127));
    return _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(n), reciprocal));
}

// Eight ARGB pixels a step; returns how many pixels of the row it did.
// Everything fits 16 bits: kept <= 255 (255 - a) makes w <= 255 - a, the
// output weight o is w + a (the 255 a of its numerator divides out whole, and
// the limit of 255 never bites), and a channel's numerator s a + d w + 127 is
// at most 255 o + 127. The division by o, which changes per pixel, multiplies
// by 1/o raised by 2^-20 in single precision. The processor's reciprocal
// estimate (within 1.5 * 2^-12) after one Newton step errs by its square
// plus a few roundings, under 7 * 2^-24 in all, so the raise still lifts
// every exact quotient above its integer, and the result stays under the
// next one, as n (2^-20 + 7 * 2^-24) < 1 for n < 2^16 keeps the excess below
// 1/o.
QB_AVX2 int32_t BlendRowArgbAvx2(uint32_t* d, const uint32_t* s, const uint8_t* m, const uint8_t* da, int32_t width) {
    const __m256i k255 = _mm256_set1_epi32(255), k127 = _mm256_set1_epi32(127), one = _mm256_set1_epi32(1);
    const __m256i evens = _mm256_set1_epi32(0x00FF00FF);
    const __m256i by255 = _mm256_set1_epi32(0x8081);  // x * 0x8081 >> 23 is x / 255 for x < 2^16
    const __m256 raised = _mm256_set1_ps(1.0f + 1.0f / 1048576.0f), two = _mm256_set1_ps(2.0f);
    // Blue 0-3, green 0-3, red 0-3 and four zeros to four pixels, per half.
    const __m256i interleave = _mm256_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15,  //
                                                0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15);
    int32_t i = 0;
    for (; i + 8 <= width; i += 8) {
        const __m256i a = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(m + i)));
        const __m256i sp = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i));
        const __m256i dp = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + i));
        const __m256i full = _mm256_cmpeq_epi32(a, k255);
        const __m256i none = _mm256_cmpeq_epi32(a, _mm256_setzero_si256());
        if (_mm256_movemask_epi8(_mm256_or_si256(full, none)) == -1) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i), _mm256_blendv_epi8(dp, sp, full));
            continue;
        }
        const __m256i dal = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(da + i)));
        const __m256i kept = _mm256_mullo_epi16(dal, _mm256_sub_epi32(k255, a));
        const __m256i w = _mm256_srli_epi16(_mm256_mulhi_epu16(_mm256_add_epi32(kept, k127), by255), 7);
        // Lanes of weight 0 are left as they were; o = 1 there keeps the
        // arithmetic finite.
        const __m256i o = _mm256_max_epi32(_mm256_add_epi32(w, a), one);
        const __m256 of = _mm256_cvtepi32_ps(o), estimate = _mm256_rcp_ps(of);
        const __m256 reciprocal =
            _mm256_mul_ps(_mm256_mul_ps(estimate, _mm256_sub_ps(two, _mm256_mul_ps(of, estimate))), raised);
        // (source, destination) channel pairs against (a, w): one multiply-add
        // per channel.
        const __m256i aw = _mm256_or_si256(a, _mm256_slli_epi32(w, 16));
        const __m256i sEven = _mm256_and_si256(sp, evens), dEven = _mm256_and_si256(dp, evens);
        const __m256i blue = _mm256_blend_epi16(sEven, _mm256_slli_epi32(dEven, 16), 0xAA);
        const __m256i red = _mm256_blend_epi16(_mm256_srli_epi32(sEven, 16), dEven, 0xAA);
        const __m256i green =
            _mm256_blend_epi16(_mm256_srli_epi16(sp, 8), _mm256_slli_epi32(_mm256_srli_epi16(dp, 8), 16), 0xAA);
        // The packs limit each channel to 255.
        const __m256i blueGreen =
            _mm256_packus_epi32(MixChannel(blue, aw, reciprocal), MixChannel(green, aw, reciprocal));
        const __m256i redZero = _mm256_packus_epi32(MixChannel(red, aw, reciprocal), _mm256_setzero_si256());
        const __m256i bytes = _mm256_packus_epi16(blueGreen, redZero);
        __m256i out = _mm256_shuffle_epi8(bytes, interleave);
        out = _mm256_blendv_epi8(_mm256_blendv_epi8(out, sp, full), dp, none);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i), out);
    }
    return i;
}

#define QB_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi,avx512vnni")))

// Byte k of a pixel from the source and from the destination, as the low
// bytes of a (source, destination) pair of 16-bit halves.
constexpr std::array<uint8_t, 64> ChannelPairs(int k) {
    std::array<uint8_t, 64> index{};
    for (int i = 0; i < 16; ++i) {
        index[4 * i] = static_cast<uint8_t>(4 * i + k);
        index[4 * i + 2] = static_cast<uint8_t>(64 + 4 * i + k);
    }
    return index;
}
constexpr std::array<uint8_t, 64> kBluePairs = ChannelPairs(0), kGreenPairs = ChannelPairs(1),
                                  kRedPairs = ChannelPairs(2);

// Word j of the first operand and word j of the second, for the sixteen
// pixels of one half of a 32-pixel step, as the halves of a 32-bit lane.
constexpr std::array<uint16_t, 32> WordPairs(int half) {
    std::array<uint16_t, 32> index{};
    for (int j = 0; j < 16; ++j) {
        index[2 * j] = static_cast<uint16_t>(16 * half + j);
        index[2 * j + 1] = static_cast<uint16_t>(32 + 16 * half + j);
    }
    return index;
}
constexpr std::array<uint16_t, 32> kWordPairs0 = WordPairs(0), kWordPairs1 = WordPairs(1);

// One channel of sixteen pixels: s a + d w + 127 in one dot product, divided
// by the raised reciprocal. The dot product starts from the bits of 2^23 +
// 127, so it ends as the single-precision 2^23 + n exactly (n < 2^23), and
// one multiply-add with -2^23 times the reciprocal (exact: a power of two
// apart) leaves n times the reciprocal with the one rounding the plain
// conversion and multiply would give.
QB_AVX512 inline __m512i MixChannel16(__m512i pair, __m512i aw, __m512 reciprocal, __m512 offset) {
    const __m512i n = _mm512_dpwssd_epi32(_mm512_set1_epi32(0x4B000000 + 127), pair, aw);
    return _mm512_cvttps_epi32(_mm512_fmadd_ps(_mm512_castsi512_ps(n), reciprocal, offset));
}

// Sixteen pixels of a 32-pixel step: aw holds (a, w) and ow (o, 0) per pixel.
QB_AVX512 inline void BlendHalf(uint32_t* d, const uint32_t* s, __m512i aw, __m512i ow, __mmask16 full,
                                __mmask16 mixed) {
    const __m512i sp = _mm512_loadu_si512(s);
    if (mixed == 0) {
        _mm512_mask_storeu_epi32(d, full, sp);
        return;
    }
    const __m512i dp = _mm512_loadu_si512(d);
    // x (2 + 2^-20 - o x) for the estimate x: 1/o raised by 2^-20. Lanes of
    // weight 0 may divide by 0 here; they are never stored.
    const __m512 of = _mm512_cvtepi32_ps(ow), estimate = _mm512_rcp14_ps(of);
    const __m512 reciprocal =
        _mm512_fmadd_ps(estimate, _mm512_fnmadd_ps(of, estimate, _mm512_set1_ps(1.0f + 1.0f / 1048576.0f)), estimate);
    const __m512 offset = _mm512_mul_ps(reciprocal, _mm512_set1_ps(-8388608.0f));
    constexpr __mmask64 kLowBytes = 0x5555555555555555ull;
    const __m512i blue = _mm512_maskz_permutex2var_epi8(kLowBytes, sp, _mm512_loadu_si512(kBluePairs.data()), dp);
    const __m512i green = _mm512_maskz_permutex2var_epi8(kLowBytes, sp, _mm512_loadu_si512(kGreenPairs.data()), dp);
    const __m512i red = _mm512_maskz_permutex2var_epi8(kLowBytes, sp, _mm512_loadu_si512(kRedPairs.data()), dp);
    // The packs limit each channel to 255.
    const __m512i blueGreen =
        _mm512_packus_epi32(MixChannel16(blue, aw, reciprocal, offset), MixChannel16(green, aw, reciprocal, offset));
    const __m512i redZero =
        _mm512_packus_epi32(MixChannel16(red, aw, reciprocal, offset), _mm512_setzero_si512());
    const __m512i interleave =
        _mm512_broadcast_i32x4(_mm_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15));
    const __m512i out = _mm512_shuffle_epi8(_mm512_packus_epi16(blueGreen, redZero), interleave);
    // One store: a masked one read back at once would stall the next step.
    _mm512_mask_storeu_epi32(d, full | mixed, _mm512_mask_mov_epi32(out, full, sp));
}

// The AVX2 row's arithmetic 32 pixels a step, for processors with AVX-512
// (its byte, word, byte-permutation and dot-product parts): the weights in
// 16-bit lanes for all 32, then each half in 32-bit lanes with one byte
// permutation forming each channel's pairs, one dot product its numerator,
// and masked stores in place of the blends. The reciprocal starts from
// AVX-512's finer estimate (within 2^-14) and its Newton step takes the
// raise along: the bounds above still hold with room.
QB_AVX512 int32_t BlendRowArgbAvx512(uint32_t* d, const uint32_t* s, const uint8_t* m, const uint8_t* da,
                                     int32_t width) {
    const __m512i k255 = _mm512_set1_epi16(255), k127 = _mm512_set1_epi16(127);
    const __m512i by255 = _mm512_set1_epi16(static_cast<int16_t>(0x8081));
    const __m512i pairs0 = _mm512_loadu_si512(kWordPairs0.data()), pairs1 = _mm512_loadu_si512(kWordPairs1.data());
    int32_t i = 0;
    for (; i + 32 <= width; i += 32) {
        // Both pixel rows are asked for 512 bytes ahead (within the row):
        // the arithmetic leaves the loads too few to keep the memory busy.
        const int32_t ahead = std::min(i + 128, width - 32);
        for (int32_t k = 0; k < 32; k += 16) {
            _mm_prefetch(reinterpret_cast<const char*>(d + ahead + k), _MM_HINT_ET0);
            _mm_prefetch(reinterpret_cast<const char*>(s + ahead + k), _MM_HINT_T0);
        }
        const __m256i a8 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(m + i));
        const __mmask32 full = _mm256_cmpeq_epi8_mask(a8, _mm256_set1_epi8(-1));
        const __mmask32 none = _mm256_testn_epi8_mask(a8, a8);
        const __mmask32 mixed = ~(full | none);
        const __m512i a = _mm512_cvtepu8_epi16(a8);
        const __m512i dal = _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(da + i)));
        const __m512i kept = _mm512_mullo_epi16(dal, _mm512_sub_epi16(k255, a));
        const __m512i w = _mm512_srli_epi16(_mm512_mulhi_epu16(_mm512_add_epi16(kept, k127), by255), 7);
        const __m512i o = _mm512_add_epi16(w, a);
        BlendHalf(d + i, s + i, _mm512_permutex2var_epi16(a, pairs0, w),
                  _mm512_maskz_permutexvar_epi16(0x55555555u, pairs0, o), static_cast<__mmask16>(full),
                  static_cast<__mmask16>(mixed));
        BlendHalf(d + i + 16, s + i + 16, _mm512_permutex2var_epi16(a, pairs1, w),
                  _mm512_maskz_permutexvar_epi16(0x55555555u, pairs1, o), static_cast<__mmask16>(full >> 16),
                  static_cast<__mmask16>(mixed >> 16));
    }
    return i;
}

// Decided once per process; the compiler runtime's check covers the
// system's saving of the wide registers too.
bool HaveAvx512() {
    static const bool have = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                             __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi") &&
                             __builtin_cpu_supports("avx512vnni");
    return have;
}
#endif

template <bool Exact>
void Blend32(const qbPixelTransferRequest& r, KernelIsa isa, bool wide) {
    if (!r.source || !r.destination || !r.mask || !r.destAlpha) return;
    const int format = r.format;
    const bool argb = format == kFormatARGB;
    for (int32_t j = 0; j < r.height; ++j) {
        const uint32_t* s = SourceRow<uint32_t>(r, j);
        uint32_t* d = DestRow<uint32_t>(r, j);
        const uint8_t* m = MaskRow(r, j);
        const uint8_t* da = DestAlphaRow(r, j);
        int32_t i = 0;
#if QB_PIXEL_X86
        if (!Exact && argb && isa == KernelIsa::Avx2) {
            if (wide) i = BlendRowArgbAvx512(d, s, m, da, r.width);
            i += BlendRowArgbAvx2(d + i, s + i, m + i, da + i, r.width - i);
        }
#else
        (void)isa, (void)wide;
#endif
        for (; i < r.width; ++i) {
            const uint32_t a = m[i];
            if (a == 255) {
                d[i] = s[i];
            } else if (a != 0) {
                const uint32_t sp = argb ? s[i] : Pixel32ToARGB(format, s[i]);
                const uint32_t dp = argb ? d[i] : Pixel32ToARGB(format, d[i]);
                const uint32_t out = BlendRGB888<Exact>(sp, dp, a, da[i]);
                d[i] = argb ? out : ARGBToPixel32(format, out);
            }
        }
    }
}

inline uint32_t Expand565(uint16_t p) {
    return ((uint32_t{p} & 0xF800u) << 8) | ((uint32_t{p} & 0x7E0u) << 5) | ((uint32_t{p} & 0x1Fu) * 8);
}
inline uint16_t Narrow565(uint32_t c) {
    return static_cast<uint16_t>(((c >> 8) & 0xF800u) | ((c >> 5) & 0x7E0u) | ((c & 0xF8u) >> 3));
}

template <bool Exact>
void Blend16(const qbPixelTransferRequest& r) {
    if (!r.source || !r.destination || !r.mask || !r.destAlpha) return;
    const int format = r.format;
    const bool native = format == kFormatRGB565;
    for (int32_t j = 0; j < r.height; ++j) {
        const uint16_t* s = SourceRow<uint16_t>(r, j);
        uint16_t* d = DestRow<uint16_t>(r, j);
        const uint8_t* m = MaskRow(r, j);
        const uint8_t* da = DestAlphaRow(r, j);
        for (int32_t i = 0; i < r.width; ++i) {
            const uint32_t a = m[i];
            if (a == 255) {
                d[i] = s[i];
            } else if (a != 0) {
                const uint16_t sp = native ? s[i] : Pixel16ToRGB565(format, s[i]);
                const uint16_t dp = native ? d[i] : Pixel16ToRGB565(format, d[i]);
                const uint16_t out = Narrow565(BlendRGB888<Exact>(Expand565(sp), Expand565(dp), a, da[i]));
                d[i] = native ? out : RGB565ToPixel16(format, out);
            }
        }
    }
}

// A colour bitmap's pixels for one transfer, locked when they must be.
class Pixels {
public:
    Pixels(qbBitmap* bitmap, uint32_t flags) {
        if (!bitmap) return;
        if (PeekPlainPixels(bitmap, &view_)) {
            ok_ = true;
            return;
        }
        lock_.emplace();
        if (LockBitmap(bitmap, flags, &*lock_) == 0) {
            lock_.reset();
            return;
        }
        view_ = {lock_->pixels, lock_->rowLength, lock_->bytesPerPixel, lock_->pixelFormat};
        ok_ = true;
    }
    ~Pixels() {
        if (lock_) UnlockBitmap(&*lock_);
    }
    Pixels(const Pixels&) = delete;
    Pixels& operator=(const Pixels&) = delete;
    bool ok() const { return ok_; }
    const qbPixelView& view() const { return view_; }

private:
    qbPixelView view_;
    std::optional<qbBitmapLock> lock_;
    bool ok_ = false;
};

}  // namespace

void CopyMasked32(const qbPixelTransferRequest& r) { CopyMasked<uint32_t>(r); }
void CopyMasked16(const qbPixelTransferRequest& r) { CopyMasked<uint16_t>(r); }
void BlendAlpha32(const qbPixelTransferRequest& r) { BlendAlpha32With(BestKernelIsa(), r); }
void BlendAlpha32With(KernelIsa isa, const qbPixelTransferRequest& r, bool avx512) {
    isa = UsableIsa(isa);
#if QB_PIXEL_X86
    avx512 = avx512 && isa == KernelIsa::Avx2 && HaveAvx512();
#else
    avx512 = false;
#endif
    Blend32<false>(r, isa, avx512);
}
void BlendAlpha16(const qbPixelTransferRequest& r) { Blend16<false>(r); }
void BlendAlpha32Ref(const qbPixelTransferRequest& r) { Blend32<true>(r, KernelIsa::Portable, false); }
void BlendAlpha16Ref(const qbPixelTransferRequest& r) { Blend16<true>(r); }

bool RunPixelConverter(qbPixelTransferRequest r, int32_t bytesPerPixel, int32_t mode) {
    if ((bytesPerPixel != 2 && bytesPerPixel != 4) || mode < kConvertCopy || mode > kConvertBlend) return false;
    r.maskX = r.srcX;
    r.maskY = r.srcY;
    if (r.width <= 0 || r.height <= 0) return true;
    const bool wide = bytesPerPixel == 4;
    switch (mode) {
        case kConvertCopy:
            if (!r.source || !r.destination) break;
            if (wide)
                CopyRect32({static_cast<uint32_t*>(r.destination), r.dstPitch, r.dstX, r.dstY},
                           {const_cast<uint32_t*>(static_cast<const uint32_t*>(r.source)), r.srcPitch, r.srcX, r.srcY},
                           r.width, r.height);
            else
                CopyRect16({static_cast<uint16_t*>(r.destination), r.dstPitch, r.dstX, r.dstY},
                           {const_cast<uint16_t*>(static_cast<const uint16_t*>(r.source)), r.srcPitch, r.srcX, r.srcY},
                           r.width, r.height);
            break;
        case kConvertMasked: wide ? CopyMasked32(r) : CopyMasked16(r); break;
        default: wide ? BlendAlpha32(r) : BlendAlpha16(r); break;
    }
    return true;
}

namespace {

// False when the two bitmaps cannot go through the converter as they are.
bool BlendLocked(qbBitmap* source, int32_t sx, int32_t sy, const AlphaRows& weights, qbBitmap* destination,
                 int32_t dx, int32_t dy, const AlphaRows& opacity, int32_t width, int32_t height) {
    const Pixels src(source, kLockReadOnly);
    if (!src.ok()) return true;
    const Pixels dst(destination, 0);
    if (!dst.ok()) return true;
    const qbPixelView& s = src.view();
    const qbPixelView& d = dst.view();
    if (s.pixelFormat != d.pixelFormat || s.bytesPerPixel != d.bytesPerPixel) return false;
    qbPixelTransferRequest r;
    r.source = s.pixels;
    r.srcX = sx, r.srcY = sy, r.srcPitch = s.rowLength;
    r.destination = d.pixels;
    r.dstX = dx, r.dstY = dy, r.dstPitch = d.rowLength;
    r.width = width, r.height = height;
    r.mask = weights.data, r.maskPitch = weights.rowBytes;
    r.destAlpha = opacity.data, r.destAlphaPitch = opacity.rowBytes;
    r.format = static_cast<int32_t>(d.pixelFormat);
    return RunPixelConverter(r, static_cast<int32_t>(d.bytesPerPixel), kConvertBlend);
}

}  // namespace

void BlendBitmapRectOverAlpha(qbBitmap* source, int32_t sx, int32_t sy, qbBitmap* alpha, qbBitmap* destination,
                              int32_t dx, int32_t dy, qbBitmap* destinationAlpha, int32_t width, int32_t height) {
    if (!source || !destination || !alpha || width <= 0 || height <= 0 || sx < 0 || sy < 0 || dx < 0 || dy < 0)
        return;
    const AlphaRows weights = AlphaRowsOf(alpha, 0, 0);
    const AlphaRows opacity = AlphaRowsOf(destinationAlpha, 0, 0);
    const qbBlitRoute* route = GetBlitRoute();
    const bool adapterKeeps =
        route && route->ownsPixels && (route->ownsPixels(source) || route->ownsPixels(destination));
    if (weights.data && opacity.data && !adapterKeeps) {
        // Planes smaller than their bitmaps are read only where they reach.
        const int32_t w = std::min({width, alpha->width - sx, destinationAlpha->width - dx});
        const int32_t h = std::min({height, alpha->height - sy, destinationAlpha->height - dy});
        if (w <= 0 || h <= 0) return;
        if (BlendLocked(source, sx, sy, weights, destination, dx, dy, opacity, w, h)) return;
    }
    CopyBitmapRectAlpha(source, sx, sy, destination, dx, dy, width, height, alpha);
}
