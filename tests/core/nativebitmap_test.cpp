// Native offscreen bitmaps: row padding, the platform pixel format, locking
// and sizes that must be refused.
#include <gtest/gtest.h>

#include <cstring>

#include "core/bitmaplock.h"
#include "core/nativebitmap.h"

namespace {

class NativeBitmapTest : public ::testing::Test {
protected:
    void TearDown() override { SetPlatformPixelFormat(kPixelFormatUnset); }
};

}  // namespace

TEST_F(NativeBitmapTest, UnsetFormatMeansFormat11WithRowsPaddedToFourPixels) {
    ASSERT_EQ(GetPlatformPixelFormat(), kPixelFormatUnset);
    NativeBitmapPtr bm(AllocNativeBitmap(5, 3));
    ASSERT_TRUE(bm);
    EXPECT_EQ(bm->pixelFormat, kPixelFormatBGRA32);
    EXPECT_EQ(bm->bytesPerRow, 32);
    // Every byte of every row is ours to write.
    std::memset(bm->pixels.get(), 0xAB, static_cast<size_t>(bm->bytesPerRow) * 3);

    qbBitmapLock lock;
    ASSERT_EQ(LockNativeBitmap(bm.get(), &lock), 1);
    EXPECT_NE(lock.lockToken, 0u);
    EXPECT_EQ(lock.pixels, bm->pixels.get());
    EXPECT_EQ(lock.pixelFormat, 11u);
    EXPECT_EQ(lock.rowLength, 8);
    UnlockNativeBitmap(bm.get());

    EXPECT_EQ(GetNativeBitmapAttr(bm.get(), kNativeAttrRowLength), 8);
}

TEST_F(NativeBitmapTest, ThePlatformFormatDecidesBytesPerPixel) {
    SetPlatformPixelFormat(kPixelFormatARGB32);
    NativeBitmapPtr argb(AllocNativeBitmap(4, 1));
    ASSERT_TRUE(argb);
    EXPECT_EQ(argb->pixelFormat, 10);
    EXPECT_EQ(argb->bytesPerRow, 16);
    EXPECT_EQ(GetScreenPixelDepth(), 32);

    SetPlatformPixelFormat(4);  // RGB565
    NativeBitmapPtr rgb565(AllocNativeBitmap(9, 2));
    ASSERT_TRUE(rgb565);
    EXPECT_EQ(rgb565->bytesPerRow, 24);
    EXPECT_EQ(GetNativeBitmapAttr(rgb565.get(), kNativeAttrRowLength), 12);
    EXPECT_EQ(GetScreenPixelDepth(), 16);

    SetPlatformPixelFormat(8);  // 24-bit
    NativeBitmapPtr rgb24(AllocNativeBitmap(1, 1));
    ASSERT_TRUE(rgb24);
    EXPECT_EQ(rgb24->bytesPerRow, 12);
    qbBitmapLock lock;
    ASSERT_EQ(LockNativeBitmap(rgb24.get(), &lock), 1);
    EXPECT_EQ(lock.rowLength, 4);

    // A plane format is no format for a colour bitmap.
    SetPlatformPixelFormat(14);
    EXPECT_EQ(AllocNativeBitmap(4, 4), nullptr);
}

TEST_F(NativeBitmapTest, BadSizesAndRecordsAreRefused) {
    EXPECT_EQ(AllocNativeBitmap(0, 10), nullptr);
    EXPECT_EQ(AllocNativeBitmap(-4, 10), nullptr);
    EXPECT_EQ(AllocNativeBitmap(100000, 100000), nullptr);
    EXPECT_EQ(AllocNativeBitmap(0x7FFFFFFF, 1), nullptr);
    FreeNativeBitmap(nullptr);

    qbBitmapLock lock;
    lock.lockToken = 7;
    EXPECT_EQ(LockNativeBitmap(nullptr, &lock), 0);
    EXPECT_EQ(lock.lockToken, 0u);
    NativeBitmapPtr bm(AllocNativeBitmap(1, 1));
    EXPECT_EQ(LockNativeBitmap(bm.get(), nullptr), 0);
}
