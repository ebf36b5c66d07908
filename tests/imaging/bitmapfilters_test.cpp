// The bitmap filter operations: what they do with their parameters, when
// they lock, the pixel sizes they leave alone, and the composite filters
// against their steps.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <vector>

#include "core/errcodes.h"
#include "core/nativebitmap.h"
#include "core/pixelformats.h"
#include "imaging/bitmap.h"
#include "imaging/bitmapfilters.h"
#include "imaging/blit.h"
#include "imaging/colourops.h"
#include "imaging/convolve.h"

namespace {

BitmapPtr Noisy(int32_t w, int32_t h, uint32_t seed) {
    BitmapPtr b(AllocBitmap(w, h, 0, nullptr));
    std::mt19937 rng(seed);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) WriteBitmapPixel(b.get(), x, y, rng() & 0xFFFFFF, false);
    return b;
}

std::vector<uint32_t> Pixels(qbBitmap* b) {
    std::vector<uint32_t> v;
    for (int32_t y = 0; y < b->height; ++y)
        for (int32_t x = 0; x < b->width; ++x) v.push_back(ReadBitmapPixel(b, x, y, false));
    return v;
}

// A bitmap record whose lock always fails: any operation that locks it
// answers ERR_LOCKBMAP.
qbBitmap Unlockable(int32_t w, int32_t h) {
    qbBitmap b;
    b.kind = kBitmapKindMask;
    b.width = w;
    b.height = h;
    return b;
}

}  // namespace

TEST(BitmapFiltersTest, NeutralOrEmptyParametersReturnWithoutLocking) {
    qbBitmap b = Unlockable(8, 8);
    EXPECT_EQ(ModulateBitmap(&b, 8, 8, 1, 1, 1), 0);
    EXPECT_EQ(GammaBitmap(&b, 8, 8, 1, 1, 1), 0);
    EXPECT_EQ(PixelateBitmap(&b, nullptr, nullptr, 8, 8, 1), 0);
    EXPECT_EQ(ContrastBitmap(&b, 8, 8, true, 0), 0);
    EXPECT_EQ(ModulateBitmap(&b, 8, 8, 1, 1, 0.5), ERR_LOCKBMAP);
    EXPECT_EQ(GammaBitmap(&b, 8, 8, 1, 2, 1), ERR_LOCKBMAP);
    EXPECT_EQ(InvertBitmap(&b, 8, 8), ERR_LOCKBMAP);
}

TEST(BitmapFiltersTest, NumbersThatAreNotFiniteAreRefused) {
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    BitmapPtr b = Noisy(6, 6, 1);
    const std::vector<uint32_t> before = Pixels(b.get());
    EXPECT_EQ(ConvolveBitmap(kConvolveBlur, b.get(), nullptr, 6, 6, nan, 1), ERR_WRONGUSAGE);
    EXPECT_EQ(ConvolveBitmap(kConvolveSharpen, b.get(), nullptr, 6, 6, 1, inf), ERR_WRONGUSAGE);
    EXPECT_EQ(OilPaintBitmap(b.get(), 6, 6, inf), ERR_WRONGUSAGE);
    EXPECT_EQ(ModulateBitmap(b.get(), 6, 6, nan, 1, 1), ERR_WRONGUSAGE);
    EXPECT_EQ(GammaBitmap(b.get(), 6, 6, 1, -inf, 1), ERR_WRONGUSAGE);
    EXPECT_EQ(CharcoalBitmap(b.get(), nullptr, 6, 6, nan, 1), ERR_WRONGUSAGE);
    // A radius no kernel can be built for leaves the picture as it was.
    EXPECT_EQ(ConvolveBitmap(kConvolveBlur, b.get(), nullptr, 6, 6, 1e12, 1), 0);
    OilPaintBitmap(b.get(), 6, 6, 1e12);
    EXPECT_EQ(Pixels(b.get()), before);
}

TEST(BitmapFiltersTest, ParameterRules) {
    BitmapPtr b = Noisy(5, 4, 2);
    ASSERT_EQ(ModulateBitmap(b.get(), 5, 4, -0.5, 1, 1), 0);  // lightness 0: black
    for (uint32_t p : Pixels(b.get())) EXPECT_EQ(p, 0u);

    b = Noisy(5, 4, 3);
    ASSERT_EQ(GammaBitmap(b.get(), 5, 4, 0, 1, 1), 0);
    for (uint32_t p : Pixels(b.get())) EXPECT_EQ(p >> 16, 0u);

    // A block larger than the picture is its smaller side.
    b = Noisy(4, 2, 4);
    const std::vector<uint32_t> before = Pixels(b.get());
    ASSERT_EQ(PixelateBitmap(b.get(), nullptr, nullptr, 4, 2, 100), 0);
    const std::vector<uint32_t> after = Pixels(b.get());
    EXPECT_EQ(after[5], before[0]);
    EXPECT_EQ(after[7], before[2]);

    b = Noisy(7, 5, 5);
    BitmapPtr c = Noisy(7, 5, 5);
    ASSERT_EQ(ContrastBitmap(b.get(), 7, 5, false, 3), 0);
    qbBitmapLock lock;
    ASSERT_NE(LockBitmap(c.get(), 0, &lock), 0u);
    for (int i = 0; i < 3; ++i)
        ContrastPixels32(static_cast<uint32_t*>(lock.pixels), 7, 5, lock.rowLength, lock.pixelFormat, -1);
    UnlockBitmap(&lock);
    EXPECT_EQ(Pixels(b.get()), Pixels(c.get()));

    b = Noisy(3, 3, 6);
    ASSERT_EQ(TintBitmap(b.get(), 0, 0, 3, 3, 0x123456, 300), 0);
    for (uint32_t p : Pixels(b.get())) EXPECT_EQ(p, 0x123456u);
}

TEST(BitmapFiltersTest, CharcoalIsItsSixStepsInOrder) {
    BitmapPtr a = Noisy(16, 12, 7), b = Noisy(16, 12, 7);
    ASSERT_EQ(CharcoalBitmap(a.get(), nullptr, 16, 12, 1.5, 1.0), 0);
    GrayscaleBitmap(b.get(), 16, 12, false);
    ConvolveBitmap(kConvolveEdge, b.get(), nullptr, 16, 12, 1.5, 0);
    ConvolveBitmap(kConvolveBlur, b.get(), nullptr, 16, 12, 1.5, 1.0);
    AutoNormalizeBitmap(b.get(), 16, 12);
    InvertBitmap(b.get(), 16, 12);
    GrayscaleBitmap(b.get(), 16, 12, false);
    EXPECT_EQ(Pixels(a.get()), Pixels(b.get()));
}

TEST(BitmapFiltersTest, FlipMovesThePlanesAlongAndMonochromeIsBlackAndWhite) {
    BitmapPtr b = Noisy(5, 3, 8);
    BitmapPtr alpha(AllocAlphaChannel(5, 3, true, nullptr, 0));
    alpha->plane->data[0] = 200;
    const std::vector<uint32_t> before = Pixels(b.get());
    ASSERT_EQ(FlipBitmap(b.get(), nullptr, alpha.get(), 5, 3, 1), 0);
    EXPECT_EQ(Pixels(b.get())[4], before[0]);
    EXPECT_EQ(alpha->plane->data[4], 200);
    ASSERT_EQ(MonochromeBitmap(b.get(), 5, 3, false), 0);
    for (uint32_t p : Pixels(b.get())) EXPECT_TRUE(p == 0 || p == 0xFFFFFF) << std::hex << p;
}

TEST(BitmapFiltersTest, ThreeBytePixelsAreLeftAloneWithSuccess) {
    SetPlatformPixelFormat(kFormatRGB24);
    BitmapPtr b = Noisy(6, 5, 9);
    const std::vector<uint32_t> before = Pixels(b.get());
    EXPECT_EQ(ConvolveBitmap(kConvolveBlur, b.get(), nullptr, 6, 5, 2, 1), 0);
    EXPECT_EQ(ConvolveBitmap(kConvolveEdge, b.get(), nullptr, 6, 5, 1, 0), 0);
    EXPECT_EQ(OilPaintBitmap(b.get(), 6, 5, 1), 0);
    EXPECT_EQ(ModulateBitmap(b.get(), 6, 5, 0.5, 1, 1), 0);
    EXPECT_EQ(ContrastBitmap(b.get(), 6, 5, true, 2), 0);
    EXPECT_EQ(SepiaToneBitmap(b.get(), 6, 5, 100), 0);
    EXPECT_EQ(GammaBitmap(b.get(), 6, 5, 2, 2, 2), 0);
    EXPECT_EQ(SolarizeBitmap(b.get(), 6, 5, 10), 0);
    EXPECT_EQ(PixelateBitmap(b.get(), nullptr, nullptr, 6, 5, 3), 0);
    EXPECT_EQ(InvertBitmap(b.get(), 6, 5), 0);
    EXPECT_EQ(FlipBitmap(b.get(), nullptr, nullptr, 6, 5, 0), 0);
    EXPECT_EQ(GrayscaleBitmap(b.get(), 6, 5, false), 0);
    EXPECT_EQ(AutoNormalizeBitmap(b.get(), 6, 5), 0);
    EXPECT_EQ(CharcoalBitmap(b.get(), nullptr, 6, 5, 1, 1), 0);
    EXPECT_EQ(Pixels(b.get()), before);
    SetPlatformPixelFormat(kPixelFormatUnset);
}

// Each filter on both pixel sizes it works on, and on 3-byte pixels, which
// all but the quantiser leave alone with success.
TEST(BitmapFiltersTest, EveryFilterChangesTwoAndFourBytePixelsAndOnlyTheQuantiserThreeBytePixels) {
    struct Filter {
        const char* name;
        std::function<int(qbBitmap*)> run;
        bool threeBytes;
    };
    const Filter filters[] = {
        {"blur", [](qbBitmap* b) { return ConvolveBitmap(kConvolveBlur, b, nullptr, 12, 9, 2, 1); }, false},
        {"edge", [](qbBitmap* b) { return ConvolveBitmap(kConvolveEdge, b, nullptr, 12, 9, 1, 0); }, false},
        {"oilpaint", [](qbBitmap* b) { return OilPaintBitmap(b, 12, 9, 1); }, false},
        {"normalize", [](qbBitmap* b) { return AutoNormalizeBitmap(b, 12, 9); }, false},
        {"modulate", [](qbBitmap* b) { return ModulateBitmap(b, 12, 9, 0.5, 1, 1); }, false},
        {"contrast", [](qbBitmap* b) { return ContrastBitmap(b, 12, 9, true, 2); }, false},
        {"sepia", [](qbBitmap* b) { return SepiaToneBitmap(b, 12, 9, 100); }, false},
        {"gamma", [](qbBitmap* b) { return GammaBitmap(b, 12, 9, 2, 2, 2); }, false},
        {"solarize", [](qbBitmap* b) { return SolarizeBitmap(b, 12, 9, 10); }, false},
        {"pixelate", [](qbBitmap* b) { return PixelateBitmap(b, nullptr, nullptr, 12, 9, 3); }, false},
        {"invert", [](qbBitmap* b) { return InvertBitmap(b, 12, 9); }, false},
        {"flip", [](qbBitmap* b) { return FlipBitmap(b, nullptr, nullptr, 12, 9, 0); }, false},
        {"grayscale", [](qbBitmap* b) { return GrayscaleBitmap(b, 12, 9, false); }, false},
        {"monochrome", [](qbBitmap* b) { return MonochromeBitmap(b, 12, 9, true); }, false},
        {"charcoal", [](qbBitmap* b) { return CharcoalBitmap(b, nullptr, 12, 9, 1, 1); }, false},
        {"swirl", [](qbBitmap* b) { return SwirlBitmap(b, nullptr, nullptr, 12, 9, 180); }, false},
        {"ripple", [](qbBitmap* b) { return WaterRippleBitmap(b, nullptr, nullptr, 12, 9, 4, 3, 1, 0.5, 0.5); }, false},
        {"quantize", [](qbBitmap* b) { return QuantizeBitmap(b, 12, 9, 2, false); }, true},
    };
    for (int format : {kFormatRGB565, kFormatARGB, kFormatRGB24}) {
        SetPlatformPixelFormat(format);
        for (const Filter& f : filters) {
            BitmapPtr b(AllocBitmap(12, 9, 0, nullptr));
            std::mt19937 rng(10);
            // Mid-range noise: no filter here finds it already at its end.
            for (int32_t y = 0; y < 9; ++y)
                for (int32_t x = 0; x < 12; ++x)
                    WriteBitmapPixel(b.get(), x, y, (rng() & 0x7F7F7F) + 0x202020, false);
            const std::vector<uint32_t> before = Pixels(b.get());
            EXPECT_EQ(f.run(b.get()), 0) << f.name << " format " << format;
            const bool works = BytesPerPixel(format) != 3 || f.threeBytes;
            EXPECT_EQ(Pixels(b.get()) != before, works) << f.name << " format " << format;
        }
    }
    SetPlatformPixelFormat(kPixelFormatUnset);
}

// Each filter on an area smaller than its bitmap, lying and standing, on
// both pixel sizes it works on: it reaches the area's far columns and rows
// and leaves what lies outside the area alone; a bitmap that cannot be
// locked is refused.
TEST(BitmapFiltersTest, EveryFilterCoversItsWholeAreaAndNoMore) {
    using Run = int (*)(qbBitmap*, int32_t, int32_t);
    const std::pair<const char*, Run> filters[] = {
        {"blur", [](qbBitmap* b, int32_t w, int32_t h) { return ConvolveBitmap(kConvolveBlur, b, nullptr, w, h, 2, 1); }},
        {"edge", [](qbBitmap* b, int32_t w, int32_t h) { return ConvolveBitmap(kConvolveEdge, b, nullptr, w, h, 1, 0); }},
        {"oilpaint", [](qbBitmap* b, int32_t w, int32_t h) { return OilPaintBitmap(b, w, h, 1); }},
        {"normalize", [](qbBitmap* b, int32_t w, int32_t h) { return AutoNormalizeBitmap(b, w, h); }},
        {"modulate", [](qbBitmap* b, int32_t w, int32_t h) { return ModulateBitmap(b, w, h, 0.5, 1, 1); }},
        {"contrast", [](qbBitmap* b, int32_t w, int32_t h) { return ContrastBitmap(b, w, h, true, 2); }},
        {"sepia", [](qbBitmap* b, int32_t w, int32_t h) { return SepiaToneBitmap(b, w, h, 100); }},
        {"gamma", [](qbBitmap* b, int32_t w, int32_t h) { return GammaBitmap(b, w, h, 2, 2, 2); }},
        {"solarize", [](qbBitmap* b, int32_t w, int32_t h) { return SolarizeBitmap(b, w, h, 10); }},
        {"pixelate", [](qbBitmap* b, int32_t w, int32_t h) { return PixelateBitmap(b, nullptr, nullptr, w, h, 2); }},
        {"invert", [](qbBitmap* b, int32_t w, int32_t h) { return InvertBitmap(b, w, h); }},
        {"flip x", [](qbBitmap* b, int32_t w, int32_t h) { return FlipBitmap(b, nullptr, nullptr, w, h, 0); }},
        {"flip y", [](qbBitmap* b, int32_t w, int32_t h) { return FlipBitmap(b, nullptr, nullptr, w, h, 1); }},
        {"grayscale", [](qbBitmap* b, int32_t w, int32_t h) { return GrayscaleBitmap(b, w, h, false); }},
        {"monochrome", [](qbBitmap* b, int32_t w, int32_t h) { return MonochromeBitmap(b, w, h, true); }},
        {"charcoal", [](qbBitmap* b, int32_t w, int32_t h) { return CharcoalBitmap(b, nullptr, w, h, 1, 1); }},
        {"swirl", [](qbBitmap* b, int32_t w, int32_t h) { return SwirlBitmap(b, nullptr, nullptr, w, h, 180); }},
        {"ripple",
         [](qbBitmap* b, int32_t w, int32_t h) { return WaterRippleBitmap(b, nullptr, nullptr, w, h, 4, 3, 1, 0.5, 0.5); }},
        {"quantize", [](qbBitmap* b, int32_t w, int32_t h) { return QuantizeBitmap(b, w, h, 2, false); }},
    };
    constexpr int32_t kSide = 24, kLong = 20, kShort = 12;
    for (const auto& [name, run] : filters) {
        qbBitmap unlockable = Unlockable(kSide, kSide);
        EXPECT_EQ(run(&unlockable, kLong, kShort), ERR_LOCKBMAP) << name;
    }
    for (int format : {kFormatRGB565, kFormatARGB}) {
        SetPlatformPixelFormat(format);
        for (const auto& [name, run] : filters) {
            for (const bool lying : {true, false}) {
                const int32_t w = lying ? kLong : kShort, h = lying ? kShort : kLong;
                BitmapPtr b(AllocBitmap(kSide, kSide, 0, nullptr));
                std::mt19937 rng(10);
                for (int32_t y = 0; y < kSide; ++y)
                    for (int32_t x = 0; x < kSide; ++x)
                        WriteBitmapPixel(b.get(), x, y, (rng() & 0x7F7F7F) + 0x202020, false);
                const std::vector<uint32_t> before = Pixels(b.get());
                ASSERT_EQ(run(b.get(), w, h), 0) << name;
                const std::vector<uint32_t> after = Pixels(b.get());
                bool beyondShortSide = false;
                for (int32_t y = 0; y < kSide; ++y) {
                    for (int32_t x = 0; x < kSide; ++x) {
                        const size_t at = static_cast<size_t>(y) * kSide + x;
                        if (x >= w || y >= h)
                            ASSERT_EQ(after[at], before[at]) << name << " format " << format << " at " << x << "," << y;
                        else if ((lying ? x : y) >= kShort && after[at] != before[at])
                            beyondShortSide = true;
                    }
                }
                EXPECT_TRUE(beyondShortSide) << name << " format " << format << (lying ? " lying" : " standing");
            }
        }
    }
    SetPlatformPixelFormat(kPixelFormatUnset);
    // An alpha plane blurred alone, lying and standing.
    for (const bool lying : {true, false}) {
        const int32_t w = lying ? kLong : kShort, h = lying ? kShort : kLong;
        BitmapPtr plane(AllocAlphaChannel(kSide, kSide, true, nullptr, 0));
        qbBitmapPlane& p = *plane->plane;
        std::mt19937 rng(11);
        for (int32_t y = 0; y < kSide; ++y)
            for (int32_t x = 0; x < kSide; ++x) p.data[static_cast<size_t>(y) * p.rowBytes + x] = uint8_t(rng());
        const std::vector<uint8_t> before(p.data, p.data + static_cast<size_t>(kSide) * p.rowBytes);
        ASSERT_EQ(ConvolveBitmap(kConvolveBlur, nullptr, plane.get(), w, h, 2, 1), 0);
        bool beyondShortSide = false;
        for (int32_t y = 0; y < kSide; ++y)
            for (int32_t x = 0; x < kSide; ++x) {
                const size_t at = static_cast<size_t>(y) * p.rowBytes + x;
                if (x >= w || y >= h) ASSERT_EQ(p.data[at], before[at]) << "plane at " << x << "," << y;
                else if ((lying ? x : y) >= kShort && p.data[at] != before[at]) beyondShortSide = true;
            }
        EXPECT_TRUE(beyondShortSide) << (lying ? "plane lying" : "plane standing");
    }
}
