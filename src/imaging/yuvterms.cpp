// The chroma terms of the frame conversion, in exact integer arithmetic.
#include "imaging/yuvterms.h"

#include <cstring>
#include <memory>

// The vector helpers below are internal and always inlined, so no vector
// ever crosses a call boundary whose ABI the warning is about.
#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

namespace {

using I32x16 = int32_t __attribute__((vector_size(64)));
using U32x16 = uint32_t __attribute__((vector_size(64)));
using F32x16 = float __attribute__((vector_size(64)));
using I16x16 = int16_t __attribute__((vector_size(32)));
using U8x16 = uint8_t __attribute__((vector_size(16)));

// floor(x / D) and the remainder, for 0 <= x < 2^31. The single-precision
// estimate errs by far less than 1 (x / D < 2^11 here, and 2^-23 of that
// is under 1e-3), so truncating it lands on the quotient or next to it, and
// the exact remainder tells which.
template <int32_t D>
[[gnu::always_inline]] inline void DivMod(I32x16 x, I32x16& q, I32x16& r) {
    I32x16 e = __builtin_convertvector(__builtin_convertvector(x, F32x16) * static_cast<float>(1.0 / D), I32x16);
    I32x16 rem = x - e * D;
    const I32x16 below = rem < 0;  // all ones where the estimate was one too high
    e += below;
    rem += below & D;
    const I32x16 above = rem >= D;
    e -= above;
    rem -= above & D;
    q = e;
    r = rem;
}

struct Terms16 {
    I32x16 t[kTerms];
};

// The terms of sixteen chroma samples, in 32-bit integers. Each channel's
// chroma part is made positive by whole multiples of its divisor first.
[[gnu::always_inline]] inline Terms16 TermsOf(U8x16 u8, U8x16 v8) {
    const I32x16 u = __builtin_convertvector(u8, I32x16), v = __builtin_convertvector(v8, I32x16);
    Terms16 o;
    I32x16 rest;
    // Red and blue: floor(rest / (d / 511)) is the count of 511ths.
    DivMod<1635200>(v * 2609823 + (223 * 1635200 - 363703744), o.t[kAR], rest);
    o.t[kAR] -= 223;
    o.t[kBR] = __builtin_convertvector((__builtin_convertvector(rest, F32x16) + 0.5f) * (1.0f / 3200.0f), I32x16);
    DivMod<817600>(u * 1649289 + (277 * 817600 - 225932192), o.t[kAB], rest);
    o.t[kAB] -= 277;
    o.t[kBB] = __builtin_convertvector((__builtin_convertvector(rest, F32x16) + 0.5f) * (1.0f / 1600.0f), I32x16);
    // Green: 511 times the rest splits into the 511ths and m.
    DivMod<3287200>(u * -1287801 + v * -2672387 + (447306710 + 172 * 3287200), o.t[kAG], rest);
    o.t[kAG] -= 172;
    I32x16 m;
    DivMod<3287200>(rest * 511, o.t[kBG], m);
    const I32x16 from =
        __builtin_convertvector((3287381.5f - __builtin_convertvector(m, F32x16)) * (1.0f / 182.0f), I32x16);
    const I32x16 over = from > 256;
    o.t[kTG] = ((from & ~over) | (over & 256)) - 1;
    return o;
}

// The terms of n chroma samples into lanes 0.. of the rows `stride` lanes
// apart: each sample to two lanes (Pairs) or to one. u and v are readable
// up to n rounded up to 16.
template <bool Pairs>
void FillTerms(const uint8_t* u, const uint8_t* v, int32_t n, int16_t* terms,
                                             ptrdiff_t stride) {
    for (int32_t c = 0; c < n; c += 16) {
        U8x16 u8, v8;
        std::memcpy(&u8, u + c, 16);
        std::memcpy(&v8, v + c, 16);
        const Terms16 t = TermsOf(u8, v8);
        for (int f = 0; f < kTerms; ++f) {
            if constexpr (Pairs) {
                const U32x16 w = reinterpret_cast<const U32x16&>(t.t[f]) & 0xFFFF;
                const U32x16 pair = w | (w << 16);
                std::memcpy(terms + f * stride + 2 * c, &pair, 64);
            } else {
                const I16x16 w = __builtin_convertvector(t.t[f], I16x16);
                std::memcpy(terms + f * stride + c, &w, 32);
            }
        }
    }
}

}  // namespace

void FillChromaTerms(const uint8_t* u, const uint8_t* v, int32_t n, int16_t* terms, ptrdiff_t stride, bool pairs) {
    if (pairs)
        FillTerms<true>(u, v, n, terms, stride);
    else
        FillTerms<false>(u, v, n, terms, stride);
}

const YUVChromaTables& ChromaTables() {
    static const std::unique_ptr<YUVChromaTables> tables = [] {
        auto t = std::make_unique<YUVChromaTables>();
        alignas(64) uint8_t u[16], v[16];
        alignas(64) int16_t k[kTerms * 16];
        auto word = [](int16_t lo, int16_t hi) {
            return static_cast<uint32_t>(static_cast<uint16_t>(lo)) |
                   (static_cast<uint32_t>(static_cast<uint16_t>(hi)) << 16);
        };
        for (int32_t uu = 0; uu < 256; ++uu)
            for (int32_t v0 = 0; v0 < 256; v0 += 16) {
                for (int32_t i = 0; i < 16; ++i) u[i] = static_cast<uint8_t>(uu), v[i] = static_cast<uint8_t>(v0 + i);
                FillTerms<false>(u, v, 16, k, 16);
                for (int32_t i = 0; i < 16; ++i) {
                    const int32_t vv = v0 + i;
                    t->green[uu * 256 + vv] = static_cast<uint32_t>(k[kBG * 16 + i]) |
                                              ((static_cast<uint32_t>(k[kAG * 16 + i]) & 511) << 15) |
                                              (static_cast<uint32_t>(k[kTG * 16 + i]) << 24);
                    if (uu == 0) t->red[vv] = word(k[kAR * 16 + i], k[kBR * 16 + i]);
                    if (vv == 0) t->blue[uu] = word(k[kAB * 16 + i], k[kBB * 16 + i]);
                }
            }
        return t;
    }();
    return *tables;
}

