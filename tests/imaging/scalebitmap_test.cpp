// ScaleBitmap over a rectangle: pixels and planes taken from the rectangle,
// planes alone, and the sizes it refuses or skips.
#include <gtest/gtest.h>

#include <vector>

#include "core/errcodes.h"
#include "core/nativebitmap.h"
#include "core/pixelformats.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
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

namespace {

BitmapPtr Scattered(int32_t w, int32_t h, uint32_t seed) {
    BitmapPtr b(AllocBitmap(w, h, 0, nullptr));
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            uint32_t v = (uint32_t(x) * 7919u + uint32_t(y) * 104729u + seed) * 0x9E3779B1u;
            WriteBitmapPixel(b.get(), x, y, (v ^ v >> 15) & 0xFFFFFFu, false);
        }
    return b;
}

std::vector<uint32_t> PixelsOf(qbBitmap* b) {
    std::vector<uint32_t> p;
    for (int32_t y = 0; y < b->height; ++y)
        for (int32_t x = 0; x < b->width; ++x) p.push_back(ReadBitmapPixel(b, x, y, false));
    return p;
}

}  // namespace

// Scaling into a place of a picture leaves it as a scaled picture copied
// there would: single lines, odd widths (padded rows), both directions,
// runs wide enough for the vector paths, 4- and 2-byte pixels.
TEST(ScaleBitmapAtTest, IntoAPlaceEqualsAScaledPictureCopiedThere) {
    struct Case {
        int32_t sx, sy, w, h, dx, dy, nw, nh;
    };
    constexpr Case kCases[] = {{0, 0, 1, 9, 3, 1, 1, 17},   {2, 1, 70, 1, 0, 5, 33, 1},  {0, 0, 71, 13, 5, 2, 130, 7},
                               {3, 4, 40, 9, 1, 1, 139, 19}, {0, 0, 90, 20, 0, 0, 17, 3}, {1, 1, 5, 5, 140, 20, 1, 1}};
    for (const int format : {int(kFormatARGB), int(kFormatRGB565)}) {
        SetPlatformPixelFormat(format);
        for (const Case& c : kCases) {
            SCOPED_TRACE(testing::Message() << "format " << format << ", into " << c.nw << "x" << c.nh);
            BitmapPtr source = Scattered(93, 23, 1), into = Scattered(141, 21, 2), expected = Scattered(141, 21, 2);
            ASSERT_TRUE(source && into && expected);
            qbBitmap *scaled = nullptr, *noMask = nullptr, *noAlpha = nullptr;
            ASSERT_EQ(ScaleBitmap(source.get(), nullptr, nullptr, c.sx, c.sy, nullptr, c.w, c.h, c.nw, c.nh, false,
                                  &scaled, &noMask, &noAlpha),
                      0);
            BitmapPtr owned(scaled);
            CopyBitmapRect(scaled, 0, 0, expected.get(), c.dx, c.dy, c.nw, c.nh);
            ASSERT_EQ(ScaleBitmapAt(source.get(), c.sx, c.sy, c.w, c.h, into.get(), c.dx, c.dy, c.nw, c.nh), 0);
            EXPECT_EQ(PixelsOf(into.get()), PixelsOf(expected.get()));
        }
        BitmapPtr source = Scattered(10, 10, 1), into = Scattered(20, 20, 2);
        const std::vector<uint32_t> before = PixelsOf(into.get());
        EXPECT_EQ(ScaleBitmapAt(source.get(), 0, 0, 10, 10, into.get(), 15, 0, 6, 6), ERR_COORDSRANGE);
        EXPECT_EQ(ScaleBitmapAt(source.get(), 5, 0, 6, 10, into.get(), 0, 0, 6, 6), ERR_COORDSRANGE);
        EXPECT_EQ(ScaleBitmapAt(source.get(), 0, 0, 10, 10, into.get(), 0, 0, 0, 6), 0);
        EXPECT_EQ(PixelsOf(into.get()), before) << "nothing drawn";
    }
    SetPlatformPixelFormat(kPixelFormatUnset);
}
