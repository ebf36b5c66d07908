// The largest colour bitmap: its bytes may reach the cap exactly on every
// pixel size, and one more row or row step is refused before any memory.
#include <gtest/gtest.h>

#include <cstdint>

#include "core/nativebitmap.h"
#include "core/pixelformats.h"
#include "imaging/bitmap.h"

namespace {

constexpr int64_t kCap = int64_t{1} << 31;

}  // namespace

TEST(BitmapSizeTest, SizesZeroOneAndTheCapOnEveryPixelSize) {
    for (int format : {kFormatRGB565, kFormatRGB24, kFormatARGB}) {
        SetPlatformPixelFormat(format);
        const int64_t bytes = BytesPerPixel(format);
        EXPECT_FALSE(BitmapFits(0, 1));
        EXPECT_FALSE(BitmapFits(1, 0));
        EXPECT_TRUE(BitmapFits(1, 1));
        // Rows of 4096 pixels (a whole row step): the tallest picture whose
        // bytes stay within the cap, which is exactly the cap for 2 and 4.
        const int64_t row = 4096 * bytes;
        const int64_t tallest = kCap / row;
        EXPECT_EQ(tallest * row == kCap, bytes != 3) << bytes;
        EXPECT_TRUE(BitmapFits(4096, tallest)) << bytes;
        EXPECT_FALSE(BitmapFits(4096, tallest + 1)) << bytes;
        EXPECT_FALSE(BitmapFits(4097, tallest)) << bytes;
        // One row as wide as the cap allows, and one row step more.
        EXPECT_TRUE(BitmapFits(kCap / bytes / 4 * 4, 1)) << bytes;
        EXPECT_FALSE(BitmapFits(kCap / bytes / 4 * 4 + 1, 1)) << bytes;
        BitmapPtr over(AllocBitmap(4096, static_cast<int32_t>(tallest + 1), 0, nullptr));
        EXPECT_EQ(over, nullptr);
        BitmapPtr one(AllocBitmap(1, 1, 0, nullptr));
        EXPECT_NE(one, nullptr);
        EXPECT_EQ(BitmapPtr(AllocBitmap(0, 1, 0, nullptr)), nullptr);
    }
    SetPlatformPixelFormat(kPixelFormatUnset);
}
