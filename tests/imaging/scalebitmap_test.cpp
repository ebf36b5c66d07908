// ScaleBitmap over a rectangle: pixels and planes taken from the rectangle,
// planes alone, and the sizes it refuses or skips.
#include <gtest/gtest.h>

#include "core/errcodes.h"
#include "imaging/bitmap.h"
#include "imaging/scalebitmap.h"

namespace {

// Pixel (x, y) holds x + 16 y, the alpha byte the same, the mask bit x odd.
struct Source {
    BitmapPtr bitmap{AllocBitmap(12, 10, 0, nullptr)};
    BitmapPtr mask{AllocMask(bitmap.get(), 12, 10, true, nullptr, 0)};
    BitmapPtr alpha{AllocAlphaChannel(12, 10, true, nullptr, 0)};
    Source() {
        for (int32_t y = 0; y < 10; ++y)
            for (int32_t x = 0; x < 12; ++x) {
                WriteBitmapPixel(bitmap.get(), x, y, static_cast<uint32_t>(x + 16 * y), false);
                WriteBitmapPixel(mask.get(), x, y, x % 2 ? kMaskVisible : kMaskInvisible, true);
                alpha->plane->data[static_cast<size_t>(y) * alpha->plane->rowBytes + x] = static_cast<uint8_t>(x + 16 * y);
            }
    }
};

struct Scaled {
    int err = 0;
    BitmapPtr bitmap, mask, alpha;
};

Scaled Scale(qbBitmap* source, qbBitmap* mask, qbBitmap* alpha, int32_t x, int32_t y, int32_t w, int32_t h,
             int32_t nw, int32_t nh) {
    Scaled s;
    qbBitmap *b = nullptr, *m = nullptr, *a = nullptr;
    s.err = ScaleBitmap(source, mask, alpha, x, y, nullptr, w, h, nw, nh, false, &b, &m, &a);
    s.bitmap.reset(b);
    s.mask.reset(m);
    s.alpha.reset(a);
    return s;
}

}  // namespace

TEST(ScaleBitmapTest, ARectangleScalesItsPixelsAndPlanesFromItsCorner) {
    Source src;
    Scaled s = Scale(src.bitmap.get(), src.mask.get(), nullptr, 3, 2, 4, 3, 8, 6);
    ASSERT_EQ(s.err, 0);
    ASSERT_TRUE(s.bitmap && s.mask);
    for (int32_t y = 0; y < 6; ++y)
        for (int32_t x = 0; x < 8; ++x) {
            const int32_t sx = 3 + x / 2, sy = 2 + y / 2;
            EXPECT_EQ(ReadBitmapPixel(s.bitmap.get(), x, y, false), static_cast<uint32_t>(sx + 16 * sy));
            EXPECT_EQ(ReadBitmapPixel(s.mask.get(), x, y, true), static_cast<uint32_t>(sx % 2));
        }
    Scaled a = Scale(src.bitmap.get(), nullptr, src.alpha.get(), 5, 4, 2, 2, 4, 4);
    ASSERT_EQ(a.err, 0);
    ASSERT_TRUE(a.alpha);
    EXPECT_EQ(a.alpha->plane->data[0], 5 + 16 * 4);
    EXPECT_EQ(a.alpha->plane->data[3 * a.alpha->plane->rowBytes + 3], 6 + 16 * 5);
}

TEST(ScaleBitmapTest, WithoutASourceOnlyThePlanesAreScaled) {
    Source src;
    Scaled s = Scale(nullptr, src.mask.get(), src.alpha.get(), 1, 1, 6, 6, 3, 3);
    ASSERT_EQ(s.err, 0);
    EXPECT_FALSE(s.bitmap);
    ASSERT_TRUE(s.mask && s.alpha);
    for (int32_t x = 0; x < 3; ++x) {
        EXPECT_EQ(ReadBitmapPixel(s.mask.get(), x, 0, true), static_cast<uint32_t>((1 + 2 * x) % 2));
        EXPECT_EQ(s.alpha->plane->data[x], 1 + 2 * x + 16);
    }
}

TEST(ScaleBitmapTest, SizesOutsideTheSourceAreRefusedAndEmptyTargetsSkipped) {
    Source src;
    EXPECT_EQ(Scale(src.bitmap.get(), nullptr, nullptr, 10, 0, 3, 3, 5, 5).err, ERR_COORDSRANGE);
    EXPECT_EQ(Scale(src.bitmap.get(), nullptr, nullptr, -1, 0, 3, 3, 5, 5).err, ERR_COORDSRANGE);
    EXPECT_EQ(Scale(src.bitmap.get(), nullptr, nullptr, 0, 0, 0, 3, 5, 5).err, ERR_COORDSRANGE);
    EXPECT_EQ(Scale(src.bitmap.get(), src.mask.get(), nullptr, 0, 8, 3, 3, 5, 5).err, ERR_COORDSRANGE);
    Scaled none = Scale(src.bitmap.get(), nullptr, nullptr, 0, 0, 3, 3, 0, 5);
    EXPECT_EQ(none.err, 0);
    EXPECT_FALSE(none.bitmap);
    EXPECT_EQ(Scale(src.bitmap.get(), nullptr, nullptr, 0, 0, 3, 3, 200000, 200000).err, ERR_BITMAP);
}
