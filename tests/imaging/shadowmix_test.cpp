// Mixing bitmaps by a level, a mask or an alpha plane, and the blurred
// shadow shapes: their size, symmetry, fall-off and the radii they refuse.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "core/errcodes.h"
#include "core/nativebitmap.h"
#include "core/pixelformats.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "imaging/mixbitmaps.h"
#include "imaging/shadowmask.h"

namespace {

BitmapPtr Filled(int32_t w, int32_t h, uint32_t colour) {
    BitmapPtr b(AllocBitmap(w, h, 0, nullptr));
    FillBitmapRect(b.get(), 0, 0, w, h, colour);
    return b;
}

uint8_t& At(qbBitmap* plane, int32_t x, int32_t y) {
    return plane->plane->data[static_cast<size_t>(y) * plane->plane->rowBytes + x];
}

uint32_t Channel(uint32_t rgb, int shift) { return (rgb >> shift) & 0xFF; }

BitmapPtr Shadow(qbBitmap* alpha, qbBitmap* mask, int32_t w, int32_t h, double radius, bool harden, int* err = nullptr) {
    qbBitmap* out = nullptr;
    const int e = BuildShadowMask(alpha, mask, 0, 0, w, h, radius, radius / 3, 200, harden, false, &out);
    if (err) *err = e;
    return BitmapPtr(out);
}

}  // namespace

TEST(MixBitmapsTest, EveryLevelLandsWithinTwoStepsOfTheExactBlend) {
    const uint32_t src = 0xF0801F, dst = 0x10E0C3;
    for (int32_t level = 0; level <= 255; level += 5) {
        BitmapPtr d = Filled(3, 2, dst);
        BitmapPtr s = Filled(3, 2, src);
        ASSERT_EQ(MixBitmaps(d.get(), s.get(), nullptr, 0, 0, 0, 0, 3, 2, level, nullptr, 0, 0), 0);
        const uint32_t got = ReadBitmapPixel(d.get(), 2, 1, false);
        // A shift by 8 in place of a division by 255, then truncation.
        for (int shift : {0, 8, 16}) {
            const double exact = Channel(dst, shift) + (double(Channel(src, shift)) - Channel(dst, shift)) * level / 255;
            EXPECT_LT(std::fabs(Channel(got, shift) - exact), 2.0) << "level " << level << " shift " << shift;
        }
    }
}

TEST(MixBitmapsTest, MaskAndAlphaPlaneChooseTheMixedPixelsAtTheSourcePosition) {
    BitmapPtr s = Filled(4, 1, 0xFFFFFF);
    BitmapPtr mask(AllocMask(s.get(), 4, 1, true, nullptr, 0));
    WriteBitmapPixel(mask.get(), 2, 0, kMaskVisible, true);
    BitmapPtr d = Filled(2, 1, 0x000000);
    ASSERT_EQ(MixBitmaps(d.get(), s.get(), mask.get(), 0, 0, 1, 0, 2, 1, 255, nullptr, 0, 0), 0);
    EXPECT_EQ(ReadBitmapPixel(d.get(), 0, 0, false), 0x000000u);
    EXPECT_EQ(ReadBitmapPixel(d.get(), 1, 0, false), 0xFFFFFFu);

    BitmapPtr alpha(AllocAlphaChannel(4, 1, true, nullptr, 0));
    At(alpha.get(), 1, 0) = 255;
    BitmapPtr d2 = Filled(2, 1, 0x000000);
    ASSERT_EQ(MixBitmaps(d2.get(), s.get(), nullptr, 0, 0, 1, 0, 2, 1, 128, alpha.get(), 4, 1), 0);
    EXPECT_NEAR(double(Channel(ReadBitmapPixel(d2.get(), 0, 0, false), 8)), 128.0, 1.0);
    EXPECT_EQ(ReadBitmapPixel(d2.get(), 1, 0, false), 0x000000u);
    EXPECT_EQ(At(alpha.get(), 1, 0), 255) << "the source plane is not scaled in place";
    EXPECT_EQ(MixBitmaps(d2.get(), s.get(), nullptr, 0, 0, 3, 0, 2, 1, 255, alpha.get(), 4, 1), ERR_COORDSRANGE);
}

// A masked mix of a rectangle at distinct offsets in the 16-bit layouts,
// byte-swapped or not, and in 32 bits: a mixed pixel lies within two steps
// of its format of the exact mix, every other pixel keeps its colour.
TEST(MixBitmapsTest, MaskedMixInEveryPixelSizeAtDistinctOffsets) {
    constexpr int32_t sx = 1, sy = 2, dx = 2, dy = 1, w = 3, h = 2, level = 160;
    struct FormatGuard {
        ~FormatGuard() { SetPlatformPixelFormat(kPixelFormatUnset); }
    } guard;
    for (int format : {kFormatRGB565, kFormatRGB555, kFormatBGR565Swapped, kFormatRGB555Swapped, kFormatARGB}) {
        SetPlatformPixelFormat(format);
        BitmapPtr s(AllocBitmap(5, 4, 0, nullptr));
        BitmapPtr mask(AllocMask(s.get(), 5, 4, true, nullptr, 0));
        for (int32_t y = 0; y < 4; ++y)
            for (int32_t x = 0; x < 5; ++x) {
                WriteBitmapPixel(s.get(), x, y, uint32_t(x * 48) << 16 | uint32_t(y * 64) << 8 | 0xC8, false);
                if ((x + y) % 2) WriteBitmapPixel(mask.get(), x, y, kMaskVisible, true);
            }
        BitmapPtr d = Filled(6, 5, 0x204060), before = Filled(6, 5, 0x204060);
        ASSERT_EQ(MixBitmaps(d.get(), s.get(), mask.get(), dx, dy, sx, sy, w, h, level, nullptr, 0, 0), 0);
        const double step = format == kFormatARGB ? 1 : 8;
        for (int32_t y = 0; y < 5; ++y)
            for (int32_t x = 0; x < 6; ++x) {
                const uint32_t got = ReadBitmapPixel(d.get(), x, y, false), old = ReadBitmapPixel(before.get(), x, y, false);
                const int32_t u = x - dx + sx, v = y - dy + sy;
                const bool mixed = x >= dx && x < dx + w && y >= dy && y < dy + h && (u + v) % 2;
                if (!mixed) {
                    ASSERT_EQ(got, old) << format << " at " << x << "," << y;
                    continue;
                }
                const uint32_t src = ReadBitmapPixel(s.get(), u, v, false);
                for (int shift : {16, 8, 0}) {
                    const double exact = (Channel(src, shift) * level + Channel(old, shift) * (255.0 - level)) / 255;
                    ASSERT_NEAR(double(Channel(got, shift)), exact, 2 * step) << format << " at " << x << "," << y;
                }
            }
    }
}

// The alpha plane must hold the size given for it and cover the source
// rectangle; otherwise nothing is mixed.
TEST(MixBitmapsTest, AnAlphaPlaneShortOfTheRectangleIsACoordinateError) {
    BitmapPtr s = Filled(4, 3, 0xFFFFFF);
    BitmapPtr alpha(AllocAlphaChannel(2, 1, true, nullptr, 0));
    FillAlphaRect(alpha.get(), 0, 0, 2, 1, 255);
    BitmapPtr d = Filled(4, 3, 0);
    EXPECT_EQ(MixBitmaps(d.get(), s.get(), nullptr, 0, 0, 0, 0, 2, 1, 255, alpha.get(), 3, 1), ERR_COORDSRANGE);
    EXPECT_EQ(MixBitmaps(d.get(), s.get(), nullptr, 0, 0, 0, 0, 2, 1, 255, alpha.get(), 2, 2), ERR_COORDSRANGE);
    EXPECT_EQ(MixBitmaps(d.get(), s.get(), nullptr, 0, 0, 0, 0, 3, 1, 255, alpha.get(), 2, 1), ERR_COORDSRANGE);
    EXPECT_EQ(MixBitmaps(d.get(), s.get(), nullptr, 0, 0, 1, 0, 2, 1, 255, alpha.get(), 2, 1), ERR_COORDSRANGE);
    EXPECT_EQ(MixBitmaps(d.get(), s.get(), nullptr, 0, 0, 0, 1, 2, 1, 255, alpha.get(), 2, 1), ERR_COORDSRANGE);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 4; ++x) ASSERT_EQ(ReadBitmapPixel(d.get(), x, y, false), 0u) << x << "," << y;
    EXPECT_EQ(MixBitmaps(d.get(), s.get(), nullptr, 0, 0, 0, 0, 2, 1, 255, alpha.get(), 2, 1), 0);
    EXPECT_EQ(ReadBitmapPixel(d.get(), 1, 0, false), 0xFFFFFFu);
}

TEST(BuildShadowMaskTest, TheShadowOfARectangleIsSymmetricAndFadesOutwards) {
    // Sides that are no multiple of four reach the blur's single-sum tail.
    BitmapPtr p = Shadow(nullptr, nullptr, 21, 15, 4.0, false);
    ASSERT_TRUE(p);
    ASSERT_EQ(p->width, 29);
    ASSERT_EQ(p->height, 23);
    for (int32_t y = 0; y < p->height; ++y)
        for (int32_t x = 0; x < p->width; ++x) {
            EXPECT_EQ(At(p.get(), x, y), At(p.get(), p->width - 1 - x, y)) << x << "," << y;
            EXPECT_EQ(At(p.get(), x, y), At(p.get(), x, p->height - 1 - y)) << x << "," << y;
        }
    const int32_t mid = p->height / 2;
    for (int32_t x = 1; x <= p->width / 2; ++x) EXPECT_LE(At(p.get(), x - 1, mid), At(p.get(), x, mid)) << x;
    EXPECT_GT(At(p.get(), 1, mid), 0) << "the blur reaches out by the radius";
    EXPECT_NEAR(At(p.get(), p->width / 2, mid), 200, 1);

    BitmapPtr hard = Shadow(nullptr, nullptr, 21, 15, 4.0, true);
    for (int32_t x = 0; x < hard->width; ++x) EXPECT_TRUE(At(hard.get(), x, mid) == 0 || At(hard.get(), x, mid) == 255);
}

TEST(BuildShadowMaskTest, ShapesComeFromTheAlphaPlaneOrTheMask) {
    BitmapPtr alpha(AllocAlphaChannel(3, 1, true, nullptr, 0));
    At(alpha.get(), 0, 0) = 1;
    BitmapPtr mask(AllocMask(nullptr, 3, 1, true, nullptr, 0));
    WriteBitmapPixel(mask.get(), 2, 0, kMaskVisible, true);
    BitmapPtr fromAlpha = Shadow(alpha.get(), nullptr, 3, 1, 0, false);
    BitmapPtr fromMask = Shadow(nullptr, mask.get(), 3, 1, 0, false);
    EXPECT_EQ(std::vector<uint8_t>(fromAlpha->plane->data, fromAlpha->plane->data + 3), (std::vector<uint8_t>{200, 0, 0}));
    EXPECT_EQ(std::vector<uint8_t>(fromMask->plane->data, fromMask->plane->data + 3), (std::vector<uint8_t>{0, 0, 200}));
}

TEST(BuildShadowMaskTest, RadiusZeroKeepsTheShapeAndHugeRadiiFailCleanly) {
    for (double radius : {0.0, std::nan("")}) {
        BitmapPtr p = Shadow(nullptr, nullptr, 5, 4, radius, false);
        ASSERT_TRUE(p);
        EXPECT_EQ(p->width, 5);
        EXPECT_EQ(At(p.get(), 4, 3), 200);
    }
    for (double radius : {1e12, double(INT32_MAX), double(INT32_MAX / 2), 1e6, std::numeric_limits<double>::infinity()}) {
        int err = 0;
        EXPECT_FALSE(Shadow(nullptr, nullptr, 5, 4, radius, false, &err)) << radius;
        EXPECT_EQ(err, ERR_MEM) << radius;
    }
    int err = 0;
    EXPECT_FALSE(Shadow(nullptr, nullptr, INT32_MAX - 2, 1, 2.0, false, &err));
    EXPECT_EQ(err, ERR_MEM);
}

// An empty rectangle is no work wherever it lies; one pixel and the whole
// picture mix at the far corner, and a rectangle one past either edge is
// refused, whichever side of the mix it overruns.
TEST(MixBitmapsTest, EmptyOnePixelAndWholeRectanglesAtTheEdges) {
    BitmapPtr s = Filled(5, 3, 0xFFFFFF);
    BitmapPtr d = Filled(5, 3, 0x000000);
    for (const auto& [w, h] : {std::pair{0, 1}, {1, 0}, {0, 0}, {-1, 2}, {2, -1}}) {
        EXPECT_EQ(MixBitmaps(d.get(), s.get(), nullptr, 9, 9, 9, 9, w, h, 255, nullptr, 0, 0), 0) << w << "x" << h;
        EXPECT_EQ(MixBitmaps(d.get(), s.get(), nullptr, -1, -1, -1, -1, w, h, 255, nullptr, 0, 0), 0);
    }
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 5; ++x) ASSERT_EQ(ReadBitmapPixel(d.get(), x, y, false), 0u) << x << "," << y;
    ASSERT_EQ(MixBitmaps(d.get(), s.get(), nullptr, 4, 2, 4, 2, 1, 1, 255, nullptr, 0, 0), 0);
    EXPECT_EQ(ReadBitmapPixel(d.get(), 4, 2, false), 0xFFFFFFu);
    EXPECT_EQ(ReadBitmapPixel(d.get(), 3, 2, false), 0u);
    EXPECT_EQ(MixBitmaps(d.get(), s.get(), nullptr, 0, 0, 0, 0, 5, 3, 255, nullptr, 0, 0), 0);
    EXPECT_EQ(ReadBitmapPixel(d.get(), 0, 0, false), 0xFFFFFFu);
    EXPECT_EQ(MixBitmaps(d.get(), s.get(), nullptr, 0, 0, 0, 0, 6, 3, 255, nullptr, 0, 0), ERR_COORDSRANGE);
    EXPECT_EQ(MixBitmaps(d.get(), s.get(), nullptr, 0, 0, 0, 0, 5, 4, 255, nullptr, 0, 0), ERR_COORDSRANGE);
    EXPECT_EQ(MixBitmaps(d.get(), s.get(), nullptr, 1, 0, 0, 0, 5, 3, 255, nullptr, 0, 0), ERR_COORDSRANGE);
    EXPECT_EQ(MixBitmaps(d.get(), s.get(), nullptr, 0, 0, 0, 1, 5, 3, 255, nullptr, 0, 0), ERR_COORDSRANGE);
}
