// Rounded 32-bit blends: red and blue share one word as two 16-bit lanes,
// green has its own; every lane holds at most 255 x 255 before rounding.
#include "objects/compositekernels.h"

#include <initializer_list>

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

}  // namespace

void BlendRows32(const qbBlendRows& r) {
    const uint32_t level = r.level > 255 ? 255 : r.level;
    for (int32_t y = 0; y < r.height; ++y) {
        const uint32_t* s = r.src + static_cast<intptr_t>(y) * r.srcRowLength;
        uint32_t* d = r.dst + static_cast<intptr_t>(y) * r.dstRowLength;
        if (r.alpha) {
            const uint8_t* a = r.alpha + static_cast<intptr_t>(y) * r.alphaRowBytes;
            if (level == 255) {
                for (int32_t x = 0; x < r.width; ++x) {
                    const uint32_t w = a[x];
                    if (w == 255) d[x] = (d[x] & 0xFF000000u) | (s[x] & 0x00FFFFFFu);
                    else if (w) d[x] = Blend(s[x], d[x], w);
                }
            } else {
                for (int32_t x = 0; x < r.width; ++x) d[x] = Blend(s[x], d[x], Div255(a[x] * level));
            }
        } else if (r.mask) {
            const uint8_t* m = r.mask + static_cast<intptr_t>(y) * r.maskRowBytes;
            for (int32_t x = 0; x < r.width; ++x)
                if (MaskBit(m, r.maskBit + x)) d[x] = Blend(s[x], d[x], level);
        } else {
            for (int32_t x = 0; x < r.width; ++x) d[x] = Blend(s[x], d[x], level);
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
