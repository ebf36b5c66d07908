// Colour conversion against every pixel format, pixel reads of locked
// memory, mixing and the random-colour table.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "core/pixelformats.h"
#include "draw/colours.h"

TEST(Colours, KnownPixelValuesOfEveryFormat) {
    const uint32_t c = 0x80FF8040;  // a 80, r FF, g 80, b 40
    EXPECT_EQ(ConvertColorToFormat(c, 0, false), (0x1Fu << 10) | (0x10u << 5) | 0x08u);
    EXPECT_EQ(ConvertColorToFormat(c, 1, false), (0x08u << 10) | (0x10u << 5) | 0x1Fu);
    EXPECT_EQ(ConvertColorToFormat(c, 2, false), 0x087Eu);  // format 0's 0x7E08 swapped
    EXPECT_EQ(ConvertColorToFormat(c, 4, false), (0x1Fu << 11) | (0x20u << 5) | 0x08u);
    EXPECT_EQ(ConvertColorToFormat(c, 5, false), (0x08u << 11) | (0x20u << 5) | 0x1Fu);
    EXPECT_EQ(ConvertColorToFormat(c, 8, true), 0xFF8040u);
    EXPECT_EQ(ConvertColorToFormat(c, 9, true), 0x4080FFu);
    EXPECT_EQ(ConvertColorToFormat(c, 10, true), 0x80FF8040u);
    EXPECT_EQ(ConvertColorToFormat(c, 10, false), 0x00FF8040u);
    EXPECT_EQ(ConvertColorToFormat(c, 11, true), 0x4080FF80u);
    EXPECT_EQ(ConvertColorToFormat(c, 12, true), 0xFF804080u);
    EXPECT_EQ(ConvertColorToFormat(c, 13, true), 0x804080FFu);
    EXPECT_EQ(ConvertColorToFormat(c, 14, true), 0u);
    EXPECT_EQ(ConvertColorToFormat(c, -1, true), 0u);
    EXPECT_EQ(ConvertPixelToColor(0x1234, 99, true), 0u);
}

TEST(Colours, PixelValuesComeBackWithTheLowBitsCleared) {
    std::mt19937 rng(7);
    for (int i = 0; i < 2000; ++i) {
        const uint32_t c = rng();
        for (int f = 0; f <= 13; ++f) {
            const uint32_t back = ConvertPixelToColor(ConvertColorToFormat(c, f, true), f, true);
            uint32_t want = c & 0xFFFFFF;
            if (f <= 3) want &= 0xF8F8F8;
            else if (f <= 7) want &= 0xF8FCF8;
            else if (f >= 10) want = c;
            EXPECT_EQ(back, want) << "format " << f << " colour " << std::hex << c;
            EXPECT_EQ(ConvertPixelToColor(ConvertColorToFormat(c, f, true), f, false), want & 0xFFFFFF);
        }
    }
}

TEST(Colours, ReadPixelColorDecodesLockedRowsLikeTheBitmaps) {
    // Two rows of three pixels with a row length of four pixels.
    for (int f = 0; f <= 13; ++f) {
        const int bytes = GetPixelFormatBytes(f);
        ASSERT_GT(bytes, 0);
        std::vector<uint8_t> memory(4 * 2 * bytes, 0xEE);
        const uint8_t rgb[3] = {0xF0, 0x88, 0x18};
        WritePixelRGB(memory.data() + (4 + 2) * bytes, f, rgb);
        qbBitmapLock lock;
        lock.pixels = memory.data();
        lock.pixelFormat = static_cast<uint32_t>(f);
        lock.rowLength = 4;
        lock.width = 3;
        lock.height = 2;
        uint8_t want[3] = {};
        ReadPixelRGB(memory.data() + (4 + 2) * bytes, f, want);
        EXPECT_EQ(ReadPixelColor(lock, 2, 1), (uint32_t{want[0]} << 16) | (want[1] << 8) | want[2]) << f;
        EXPECT_EQ(ReadPixelColor(lock, 3, 1), 0u);
        EXPECT_EQ(ReadPixelColor(lock, -1, 0), 0u);
    }
    // Format 8 holds 0xRRGGBB: its lowest address is blue.
    const uint8_t bgr[3] = {0x11, 0x22, 0x33};
    qbBitmapLock lock;
    lock.pixels = const_cast<uint8_t*>(bgr);
    lock.pixelFormat = 8;
    lock.rowLength = lock.width = lock.height = 1;
    EXPECT_EQ(ReadPixelColor(lock, 0, 0), 0x332211u);
    lock.pixelFormat = 9;
    EXPECT_EQ(ReadPixelColor(lock, 0, 0), 0x112233u);
}

// Reaching the second colour at 255 is held by the MixRGB command's test.
TEST(Colours, MixingDropsAlphaAndRoundsDown) {
    EXPECT_EQ(MixColors(0xFF123456, 0xFFFFFF, 0), 0x123456u);
    EXPECT_EQ(MixColors(0x000000, 0xFFFFFF, 128), 0x7F7F7Fu);
    EXPECT_EQ(MixColors(0xFFFFFF, 0x000000, 128), 0x7F7F7Fu);  // the shift rounds down
}

TEST(Colours, TheRandomTableHas246EntriesOfDoubledDigits) {
    EXPECT_EQ(kRandomColourCount, 246);
    EXPECT_EQ(RandomTableColour(0), 0xCCCCCCu);
    EXPECT_EQ(RandomTableColour(4), 0xAA2200u);
    EXPECT_EQ(RandomTableColour(245), 0xCC00FFu);
    EXPECT_EQ(RandomTableColour(246), 0u);
    EXPECT_EQ(RandomTableColour(-1), 0u);
}
