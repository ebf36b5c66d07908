// Reading bitmaps of every pixel format as ARGB words, and masks built from a
// key colour in every format.
#include <gtest/gtest.h>

#include <vector>

#include "core/nativebitmap.h"
#include "core/pixelformats.h"
#include "imaging/bitmap.h"
#include "imaging/bitmappixels.h"

namespace {

// Every channel a multiple of 8, so 5- and 6-bit fields keep it exactly.
constexpr uint32_t kColours[6] = {0xF81008, 0x08F880, 0x000000, 0xF8F8F8, 0x4060A0, 0x808008};

const int kFormats[] = {kFormatRGB555,  kFormatBGR555Swapped, kFormatRGB565, kFormatBGR565Swapped, kFormatRGB24,
                        kFormatBGR24,   kFormatARGB,          kFormatBGRA,   kFormatRGBA,          kFormatABGR};

class BitmapPixelsTest : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        SetPlatformPixelFormat(GetParam());
        bitmap.reset(AllocBitmap(3, 2, 0, nullptr));
        ASSERT_TRUE(bitmap);
        for (int i = 0; i < 6; ++i) WriteBitmapPixel(bitmap.get(), i % 3, i / 3, kColours[i], false);
    }
    void TearDown() override { SetPlatformPixelFormat(kPixelFormatUnset); }
    BitmapPtr bitmap;
};

}  // namespace

TEST_P(BitmapPixelsTest, EveryFormatReadsBackAsTheColoursWrittenAndMasksItsKey) {
    std::vector<uint32_t> argb;
    ASSERT_EQ(ReadBitmapPixels(bitmap.get(), 0, 0, 3, 2, nullptr, &argb), 0);
    ASSERT_EQ(argb.size(), 6u);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(argb[static_cast<size_t>(i)] & 0xFFFFFFu, kColours[i]) << i;
    ASSERT_EQ(ReadBitmapPixels(bitmap.get(), 2, 1, 2, 1, nullptr, &argb), 0);
    EXPECT_EQ(argb, (std::vector<uint32_t>{kColours[5], 0})) << "outside the bitmap reads as 0";

    BitmapPtr mask(BuildColorMask(bitmap.get(), 3, 2, kColours[4]));
    ASSERT_TRUE(mask);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(ReadBitmapPixel(mask.get(), i % 3, i / 3, true), i == 4 ? 0u : 1u) << i;
}

// Words imported from rows longer than the picture land in every format as
// the colours given, with the key's pixels left out of the mask only.
TEST_P(BitmapPixelsTest, ImportedWordsReadBackInEveryFormat) {
    constexpr int32_t kRow = 4;
    std::vector<uint32_t> words(kRow * 2, 0xFFFFFFFFu);
    for (int i = 0; i < 6; ++i) words[static_cast<size_t>(i / 3 * kRow + i % 3)] = 0x7F000000u | kColours[i];
    qbBitmap* made = nullptr;
    qbBitmap* mask = nullptr;
    ASSERT_EQ(CreateBitmapFromARGB(words.data(), static_cast<int32_t>(kColours[1]), 3, 2, kRow, false, 0, 0, &made,
                                   &mask, nullptr),
              0);
    BitmapPtr imported(made), importedMask(mask);
    ASSERT_TRUE(imported && importedMask);
    std::vector<uint32_t> argb;
    ASSERT_EQ(ReadBitmapPixels(imported.get(), 0, 0, 3, 2, nullptr, &argb), 0);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(argb[static_cast<size_t>(i)] & 0xFFFFFFu, kColours[i]) << i;
        EXPECT_EQ(ReadBitmapPixel(importedMask.get(), i % 3, i / 3, true), i == 1 ? 0u : 1u) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, BitmapPixelsTest, ::testing::ValuesIn(kFormats));

TEST(BitmapPixelsEdges, AlphaBytesNeverMakeAPixelDifferFromTheKey) {
    for (int format : {kFormatARGB, kFormatBGRA, kFormatRGBA, kFormatABGR}) {
        SetPlatformPixelFormat(format);
        BitmapPtr b(AllocBitmap(2, 1, 0, nullptr));
        WriteBitmapPixel(b.get(), 0, 0, 0x123456, false);
        WriteBitmapPixel(b.get(), 1, 0, 0x123456, false);
        qbBitmapLock lock;
        ASSERT_NE(LockBitmap(b.get(), 0, &lock), 0u);
        // Set the alpha byte of pixel 1 only: the byte no colour uses.
        static_cast<uint32_t*>(lock.pixels)[1] |=
            format == kFormatARGB || format == kFormatABGR ? 0xFF000000u : 0x000000FFu;
        UnlockBitmap(&lock);
        BitmapPtr mask(BuildColorMask(b.get(), 2, 1, 0x123456));
        ASSERT_TRUE(mask);
        EXPECT_EQ(ReadBitmapPixel(mask.get(), 1, 0, true), 0u) << format;
    }
    SetPlatformPixelFormat(kPixelFormatUnset);
}
