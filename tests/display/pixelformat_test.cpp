// Pixel formats: exact layouts, the 16-bit and 32-bit conversions, and that
// every format reads back what was written.
#include <gtest/gtest.h>

#include <array>
#include <utility>
#include <cstring>

#include "core/pixelformats.h"

namespace {

constexpr int kAll16BitValues = 0x10000;
// The bit a 555 word never uses, in its stored (possibly swapped) position.
constexpr uint16_t kUnused555Bit = 0x8000;
constexpr uint16_t kUnused555BitSwapped = 0x0080;

std::array<uint8_t, 4> Write(int format, uint8_t r, uint8_t g, uint8_t b) {
    std::array<uint8_t, 4> bytes{0xEE, 0xEE, 0xEE, 0xEE};
    const uint8_t rgb[3] = {r, g, b};
    WritePixelRGB(bytes.data(), format, rgb);
    return bytes;
}

}  // namespace

TEST(PixelFormat, MemoryOrderOfTheWideFormats) {
    // (1, 2, 3) in memory order; the 24-bit formats leave the fourth byte.
    const std::pair<int, std::array<uint8_t, 4>> cases[] = {
        {kFormatABGR, {1, 2, 3, 0}},  {kFormatARGB, {3, 2, 1, 0}},     {kFormatBGRA, {0, 1, 2, 3}},
        {kFormatRGBA, {0, 3, 2, 1}},  {kFormatRGB24, {3, 2, 1, 0xEE}}, {kFormatBGR24, {1, 2, 3, 0xEE}},
    };
    for (const auto& [format, bytes] : cases) EXPECT_EQ(Write(format, 1, 2, 3), bytes) << format;
    // White in RGB565 is all ones in two bytes; the swapped twin stores the high byte first.
    EXPECT_EQ(Write(kFormatRGB565, 255, 255, 255), (std::array<uint8_t, 4>{0xFF, 0xFF, 0xEE, 0xEE}));
    EXPECT_EQ(Write(kFormatRGB565Swapped, 0xF8, 0, 0x08), (std::array<uint8_t, 4>{0xF8, 0x01, 0xEE, 0xEE}));
}

TEST(PixelFormat, SixteenBitLayouts) {
    // Pure red, green and blue in each layout; green in the 555 formats is
    // the top 5 of its 6 bits.
    struct Case {
        int format;
        uint16_t red, green, blue;
    };
    const Case cases[] = {
        {kFormatRGB555, 0x7C00, 0x03E0, 0x001F},        {kFormatBGR555, 0x001F, 0x03E0, 0x7C00},
        {kFormatRGB555Swapped, 0x007C, 0xE003, 0x1F00}, {kFormatBGR555Swapped, 0x1F00, 0xE003, 0x007C},
        {kFormatRGB565, 0xF800, 0x07E0, 0x001F},        {kFormatBGR565, 0x001F, 0x07E0, 0xF800},
        {kFormatRGB565Swapped, 0x00F8, 0xE007, 0x1F00}, {kFormatBGR565Swapped, 0x1F00, 0xE007, 0x00F8},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RGB565ToPixel16(c.format, 0xF800), c.red) << c.format;
        EXPECT_EQ(RGB565ToPixel16(c.format, 0x07E0), c.green) << c.format;
        EXPECT_EQ(RGB565ToPixel16(c.format, 0x001F), c.blue) << c.format;
    }
}

TEST(PixelFormat, Rgb565RoundTripIsIdentityFor565Formats) {
    for (int format = kFormatRGB565; format <= kFormatBGR565Swapped; ++format) {
        for (int v = 0; v < kAll16BitValues; ++v) {
            const auto pixel = static_cast<uint16_t>(v);
            ASSERT_EQ(RGB565ToPixel16(format, Pixel16ToRGB565(format, pixel)), pixel) << format << " " << v;
            ASSERT_EQ(Pixel16ToRGB565(format, RGB565ToPixel16(format, pixel)), pixel) << format << " " << v;
        }
    }
}

TEST(PixelFormat, Rgb565RoundTripIsIdentityFor555PixelsWithUnusedBitClear) {
    for (int format = kFormatRGB555; format <= kFormatBGR555Swapped; ++format) {
        const bool swapped = format >= kFormatRGB555Swapped;
        const uint16_t unused = swapped ? kUnused555BitSwapped : kUnused555Bit;
        for (int v = 0; v < kAll16BitValues; ++v) {
            const auto pixel = static_cast<uint16_t>(v);
            if (pixel & unused) continue;
            ASSERT_EQ(RGB565ToPixel16(format, Pixel16ToRGB565(format, pixel)), pixel) << format << " " << v;
        }
    }
}

TEST(PixelFormat, Argb32ConversionsDropAlpha) {
    EXPECT_EQ(ARGBToPixel32(kFormatBGRA, 0xFF112233), 0x33221100u);
    EXPECT_EQ(ARGBToPixel32(kFormatRGBA, 0xFF112233), 0x11223300u);
    EXPECT_EQ(ARGBToPixel32(kFormatABGR, 0xFF112233), 0x00332211u);
    EXPECT_EQ(Pixel32ToARGB(kFormatBGRA, 0x332211FF), 0x00112233u);
    EXPECT_EQ(Pixel32ToARGB(kFormatRGBA, 0x112233FF), 0x00112233u);
    EXPECT_EQ(Pixel32ToARGB(kFormatABGR, 0xFF332211), 0x00112233u);
    // Format 10 and foreign codes pass through, as do codes above 7 for the
    // 16-bit conversions.
    EXPECT_EQ(ARGBToPixel32(kFormatARGB, 0xFF112233), 0xFF112233u);
    EXPECT_EQ(Pixel32ToARGB(4, 0xFF112233), 0xFF112233u);
    EXPECT_EQ(RGB565ToPixel16(8, 0x1234), 0x1234);
}

TEST(PixelFormat, EveryFormatRoundTripsItsRepresentableColours) {
    // Each colour is first reduced to what the format can hold, then must
    // survive a write and a read unchanged.
    const uint8_t samples[] = {0, 1, 7, 8, 63, 64, 127, 128, 200, 248, 252, 255};
    for (int format = 0; format <= kLastColourFormat; ++format) {
        for (uint8_t r : samples) {
            for (uint8_t g : samples) {
                for (uint8_t b : samples) {
                    std::array<uint8_t, 4> first{};
                    const uint8_t in[3] = {r, g, b};
                    WritePixelRGB(first.data(), format, in);
                    uint8_t held[3];
                    ReadPixelRGB(first.data(), format, held);
                    std::array<uint8_t, 4> second{};
                    WritePixelRGB(second.data(), format, held);
                    uint8_t back[3];
                    ReadPixelRGB(second.data(), format, back);
                    ASSERT_EQ(first, second) << format;
                    ASSERT_EQ(std::memcmp(held, back, 3), 0) << format;
                    if (BytesPerPixel(format) >= 3) {
                        ASSERT_EQ(held[0], r) << format;
                        ASSERT_EQ(held[1], g) << format;
                        ASSERT_EQ(held[2], b) << format;
                    } else {
                        // Narrow fields keep the top bits and widen with zeros.
                        const bool wideGreen = format >= kFormatRGB565;
                        ASSERT_EQ(held[0], r & 0xF8) << format;
                        ASSERT_EQ(held[1], g & (wideGreen ? 0xFC : 0xF8)) << format;
                        ASSERT_EQ(held[2], b & 0xF8) << format;
                    }
                }
            }
        }
    }
}

TEST(PixelFormat, UnknownFormatsReadBlackAndWriteNothing) {
    std::array<uint8_t, 4> bytes{9, 9, 9, 9};
    const uint8_t rgb[3] = {1, 2, 3};
    WritePixelRGB(bytes.data(), 14, rgb);
    EXPECT_EQ(bytes, (std::array<uint8_t, 4>{9, 9, 9, 9}));
    uint8_t out[3] = {5, 5, 5};
    ReadPixelRGB(bytes.data(), 99, out);
    EXPECT_EQ(out[0] | out[1] | out[2], 0);
}
