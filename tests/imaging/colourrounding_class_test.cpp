// Every colour conversion and mixing step of the pixel kernels against an
// exact oracle, over every value it takes: the weighted mix of two colours
// (d + floor((c - d) w / 256) per channel, for every pair of channel
// values and every weight), the 16-bit pixels widened and narrowed, the
// 4-byte pixel formats to ARGB and back, and the gray level, the exact
// rational 0.299 R + 0.587 G + 0.114 B cut to a whole number.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>

#include "imaging/kernels.h"

namespace {

// The mix of one channel, exactly: the floor of the weighted difference.
int32_t ExactMix(int32_t d, int32_t c, int32_t w) {
    const int32_t product = (c - d) * w;
    return d + (product >= 0 ? product / 256 : -((-product + 255) / 256));
}

// Three channel values that differ, from one channel's value.
uint32_t Spread(uint32_t v) { return (v << 16) | (((v * 7 + 3) & 255) << 8) | ((255 - v) & 255); }

TEST(ColourRoundingTest, EveryMixOfEveryPairAtEveryWeight) {
    for (int32_t w = 0; w <= 256; ++w) {
        for (uint32_t dv = 0; dv < 256; ++dv) {
            const uint32_t d = Spread(dv);
            for (uint32_t cv = 0; cv < 256; ++cv) {
                const uint32_t c = Spread(cv * 13 & 255) ^ 0x00FF00u;
                uint32_t want = 0;
                for (int shift = 0; shift <= 16; shift += 8)
                    want |= static_cast<uint32_t>(ExactMix(static_cast<int32_t>((d >> shift) & 255),
                                                           static_cast<int32_t>((c >> shift) & 255), w))
                            << shift;
                ASSERT_EQ(BlendRGB(d, c, static_cast<uint32_t>(w)), want)
                    << std::hex << d << " " << c << " " << std::dec << w;
                ASSERT_EQ(BlendRGBFast(d, c, static_cast<uint32_t>(w)), want)
                    << std::hex << d << " " << c << " " << std::dec << w;
            }
        }
    }
}

// A 16-bit pixel's fields become the high bits of their bytes, the low bits
// 0; narrowing keeps the high bits, so every pixel comes back.
TEST(ColourRoundingTest, EverySixteenBitPixelWidensAndNarrowsExactly) {
    for (uint32_t p = 0; p < 65536; ++p) {
        const uint16_t v = static_cast<uint16_t>(p);
        const uint32_t r565 = (p >> 11) & 31, g565 = (p >> 5) & 63, b565 = p & 31;
        ASSERT_EQ(Widen16(Layout16::RGB565, v), (r565 << 19) | (g565 << 10) | (b565 << 3)) << p;
        ASSERT_EQ(Narrow16(Layout16::RGB565, Widen16(Layout16::RGB565, v)), v) << p;
        const uint32_t r555 = (p >> 10) & 31, g555 = (p >> 5) & 31, b555 = p & 31;
        ASSERT_EQ(Widen16(Layout16::RGB555, v), (r555 << 19) | (g555 << 11) | (b555 << 3)) << p;
    }
    // Narrowing cuts each channel's low bits: every channel value.
    for (uint32_t c = 0; c < 256; ++c) {
        const uint32_t rgb = Spread(c);
        const uint32_t r = (rgb >> 16) & 255, g = (rgb >> 8) & 255, b = rgb & 255;
        ASSERT_EQ(Narrow16(Layout16::RGB565, rgb), ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3)) << c;
        ASSERT_EQ(Narrow16(Layout16::RGB555, rgb), ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3)) << c;
    }
}

// Each 4-byte format keeps red, green and blue in its own bytes.
TEST(ColourRoundingTest, EveryFourByteFormatPlacesEachChannel) {
    struct Format {
        uint32_t code;
        int red, green, blue;  // the shift of each channel's byte
    };
    for (const Format& f : {Format{10, 16, 8, 0}, Format{11, 8, 16, 24}, Format{12, 24, 16, 8}, Format{13, 0, 8, 16}}) {
        for (uint32_t v = 0; v < 256; ++v) {
            const uint32_t rgb = Spread(v);
            const uint32_t r = (rgb >> 16) & 255, g = (rgb >> 8) & 255, b = rgb & 255;
            const uint32_t pixel = (r << f.red) | (g << f.green) | (b << f.blue);
            ASSERT_EQ(KernelFromARGB(f.code, rgb), pixel) << f.code << " " << v;
            ASSERT_EQ(KernelToARGB(f.code, pixel) & 0xFFFFFFu, rgb) << f.code << " " << v;
        }
    }
}

// The gray level of every colour: the documented sum worked in doubles, in
// its order, and cut. Where the exact sum is a whole number the doubles may
// fall just short of it (0, 72, 24 sums to 45 exactly and gives 44), as the
// system's own players compute it; never more than that one step.
TEST(ColourRoundingTest, EveryColoursGrayLevel) {
    long shortOfExact = 0;
    for (uint32_t r = 0; r < 256; ++r)
        for (uint32_t g = 0; g < 256; ++g)
            for (uint32_t b = 0; b < 256; ++b) {
                const uint32_t got = GrayLevel(r, g, b);
                const uint32_t exact = (299 * r + 587 * g + 114 * b) / 1000;
                ASSERT_EQ(got, static_cast<uint32_t>(0.299 * r + 0.587 * g + 0.114 * b)) << r << " " << g << " " << b;
                ASSERT_TRUE(got == exact || (got + 1 == exact && (299 * r + 587 * g + 114 * b) % 1000 == 0))
                    << r << " " << g << " " << b;
                shortOfExact += got != exact;
            }
    std::fprintf(stderr, "gray levels one short of the exact sum: %ld of 16777216\n", shortOfExact);
}

}  // namespace
