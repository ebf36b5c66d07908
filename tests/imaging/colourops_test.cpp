// The colour operations: their documented fixed points, the 2-byte twins
// against the 4-byte kernels, the hue wrap, and ImageMagick 6 (which
// computes contrast, modulate, solarize and gamma by the same formulas at
// 16 bits) as an oracle.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "core/pixelformats.h"
#include "imaging/bitmapfilters.h"
#include "imaging/colourops.h"
#include "imagefixtures.h"

namespace {

uint32_t Rgb(uint32_t r, uint32_t g, uint32_t b) { return r << 16 | g << 8 | b; }

// A 4-byte kernel and its 2-byte twin over a rectangle of pixels.
struct Twin {
    const char* name;
    std::function<void(uint32_t*, int32_t, int32_t)> run32;
    std::function<void(uint16_t*, int32_t, int32_t)> run16;
};

double WrapHueByLoop(double h) {
    while (h < 0) h += 1;
    while (h > 1) h -= 1;
    return h;
}

}  // namespace

TEST(ColourOpsTest, SepiaOfWhiteAndBlack) {
    uint32_t px[2] = {0xFFFFFFFFu, 0xFF000000u};
    SepiaPixels32(px, 2, 1, 2, kFormatARGB, 204);
    EXPECT_EQ(px[0], Rgb(255, 255, 221));
    EXPECT_EQ(px[1], Rgb(51, 29, 29));
}

TEST(ColourOpsTest, SolarizeThresholdsAndContrastFixedPoints) {
    uint32_t px[3] = {Rgb(0, 128, 255), Rgb(1, 2, 3), 0};
    SolarizePixels32(px, 3, 1, 3, kFormatARGB, 255);
    EXPECT_EQ(px[0], Rgb(0, 128, 255));
    SolarizePixels32(px, 3, 1, 3, kFormatARGB, 0);
    EXPECT_EQ(px[0], Rgb(0, 127, 0));
    EXPECT_EQ(px[1], Rgb(254, 253, 252));
    EXPECT_EQ(px[2], 0u);

    for (int32_t sign : {1, -1}) {
        uint32_t gray[3] = {0xFF000000u, Rgb(77, 77, 77), Rgb(200, 200, 200)};
        ContrastPixels32(gray, 3, 1, 3, kFormatARGB, sign);
        EXPECT_EQ(gray[0], 0u);
        for (uint32_t p : {gray[1], gray[2]}) {
            EXPECT_EQ(p >> 16 & 0xFF, p & 0xFF);
            EXPECT_EQ(p >> 8 & 0xFF, p & 0xFF);
        }
    }
}

TEST(ColourOpsTest, OneColourSurvivesTheLevelStretch) {
    std::vector<uint32_t> px(30, 0xAB405060u);
    qbStretchRequest r;
    r.pixels = px.data();
    r.width = 6;
    r.height = 5;
    r.pitch = 6;
    r.blackCount = 0;
    r.whiteCount = 29;
    r.pixelFormat = kFormatARGB;
    r.bytesPerPixel = 4;
    StretchLevels(r);
    for (uint32_t p : px) EXPECT_EQ(p, 0x00405060u);
    // Two levels stretch to black and white.
    px.assign(30, Rgb(100, 100, 100));
    for (int i = 0; i < 15; ++i) px[static_cast<size_t>(i)] = Rgb(150, 150, 150);
    StretchLevels(r);
    EXPECT_EQ(px[0], Rgb(255, 255, 255));
    EXPECT_EQ(px[29], 0u);
}

TEST(ColourOpsTest, TwoByteTwinsEqualTheFourByteKernelsOnRGB565Inputs) {
    uint8_t table[256];
    BuildGammaTable(table, 1.7);
    const std::vector<Twin> twins = {
        {"solarize", [](uint32_t* p, int32_t w, int32_t h) { SolarizePixels32(p, w, h, w, kFormatARGB, 100); },
         [](uint16_t* p, int32_t w, int32_t h) { SolarizePixels16(p, w, h, w, kFormatRGB565, 100); }},
        {"sepia", [](uint32_t* p, int32_t w, int32_t h) { SepiaPixels32(p, w, h, w, kFormatARGB, 150); },
         [](uint16_t* p, int32_t w, int32_t h) { SepiaPixels16(p, w, h, w, kFormatRGB565, 150); }},
        {"contrast", [](uint32_t* p, int32_t w, int32_t h) { ContrastPixels32(p, w, h, w, kFormatARGB, 1); },
         [](uint16_t* p, int32_t w, int32_t h) { ContrastPixels16(p, w, h, w, kFormatRGB565, 1); }},
        {"modulate",
         [](uint32_t* p, int32_t w, int32_t h) {
             ModulatePixels32({p, w, h, w, kFormatARGB, 120, 70, 140});
         },
         [](uint16_t* p, int32_t w, int32_t h) {
             ModulatePixels16({p, w, h, w, kFormatRGB565, 120, 70, 140});
         }},
        {"gamma",
         [&table](uint32_t* p, int32_t w, int32_t h) {
             GammaPixels32({p, w, h, w, kFormatARGB, table, table, table, 5});
         },
         [&table](uint16_t* p, int32_t w, int32_t h) {
             GammaPixels16({p, w, h, w, kFormatRGB565, table, table, table, 5});
         }},
        {"stretch",
         [](uint32_t* p, int32_t w, int32_t h) { StretchLevels({p, w, h, w, 10, 200, kFormatARGB, 4}); },
         [](uint16_t* p, int32_t w, int32_t h) { StretchLevels({p, w, h, w, 10, 200, kFormatRGB565, 2}); }},
    };
    std::mt19937 rng(5);
    std::vector<uint16_t> p16(16 * 16);
    for (auto& p : p16) p = static_cast<uint16_t>(rng());
    for (const Twin& t : twins) {
        std::vector<uint16_t> a = p16;
        std::vector<uint32_t> b(p16.size());
        for (size_t i = 0; i < a.size(); ++i)
            b[i] = Rgb((a[i] & 0xF800u) >> 8, (a[i] & 0x7E0u) >> 3, (a[i] * 8) & 0xFFu);
        t.run16(a.data(), 16, 16);
        t.run32(b.data(), 16, 16);
        for (size_t i = 0; i < a.size(); ++i) {
            const uint32_t v = b[i];
            ASSERT_EQ(v >> 24, 0u) << t.name;
            const auto packed = static_cast<uint16_t>(((v >> 16 & 0xF8u) << 8) | ((v >> 8 & 0xFCu) << 3) | ((v & 0xF8u) >> 3));
            ASSERT_EQ(a[i], packed) << t.name << " at " << i;
        }
    }
}

TEST(ColourOpsTest, TheHueWrapsInConstantTimeToTheLoopsValue) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> d(-2000, 2000);
    for (double h : {-3.0, -1.0, -0.5, -1e-17, 0.0, 1.0, 2.0, 5.0, 1.5, 1.0 + 1e-15, 123.456, -7.25}) {
        EXPECT_EQ(WrapHue(h), WrapHueByLoop(h)) << h;
    }
    for (int i = 0; i < 1000; ++i) {
        const double h = d(rng) / 7;
        ASSERT_EQ(WrapHue(h), WrapHueByLoop(h)) << h;
    }
    EXPECT_EQ(WrapHue(4.0), 1.0);
    // A hue percentage of 10^7 used to loop about 5 x 10^4 times per pixel.
    std::vector<uint32_t> px(256 * 256);
    for (size_t i = 0; i < px.size(); ++i) px[i] = static_cast<uint32_t>(i * 2654435761u) & 0xFFFFFFu;
    const auto start = std::chrono::steady_clock::now();
    ModulatePixels32({px.data(), 256, 256, 256, kFormatARGB, 100, 100, 2147483647});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));  // no loop per step of hue
}

TEST(ColourOpsTest, MatchImageMagickWithinOneLevel) {
    using namespace imagefixtures;
    if (!HaveTool("convert")) GTEST_SKIP() << "ImageMagick is not installed";
    ScratchDir dir;
    const int w = 48, h = 32;
    std::vector<uint32_t> pic = TestPicture(w, h, 21);
    for (auto& p : pic) p &= 0xFFFFFFu;
    WritePPM(dir.File("in.ppm"), w, h, pic);
    struct Case {
        std::string args;
        std::function<void(uint32_t*)> run;
    };
    uint8_t table[256];
    BuildGammaTable(table, 2.2);
    const std::vector<Case> cases = {
        {"-contrast", [](uint32_t* p) { ContrastPixels32(p, w, h, w, kFormatARGB, 1); }},
        {"+contrast", [](uint32_t* p) { ContrastPixels32(p, w, h, w, kFormatARGB, -1); }},
        {"-modulate 120,80,130", [](uint32_t* p) { ModulatePixels32({p, w, h, w, kFormatARGB, 120, 80, 130}); }},
        {"-modulate 70,150,40", [](uint32_t* p) { ModulatePixels32({p, w, h, w, kFormatARGB, 70, 150, 40}); }},
        {"-solarize 32896", [](uint32_t* p) { SolarizePixels32(p, w, h, w, kFormatARGB, 128); }},
        {"-gamma 2.2", [&table](uint32_t* p) { GammaPixels32({p, w, h, w, kFormatARGB, table, table, table, 7}); }},
    };
    for (const Case& c : cases) {
        const std::string out = dir.File("out.ppm");
        ASSERT_EQ(RunQuietly("convert " + dir.File("in.ppm") + " " + c.args + " -depth 8 " + out), 0) << c.args;
        int ow = 0, oh = 0;
        std::vector<uint32_t> magick;
        ASSERT_TRUE(ReadPPM(out, &ow, &oh, &magick));
        ASSERT_EQ(magick.size(), pic.size());
        std::vector<uint32_t> ours = pic;
        c.run(ours.data());
        int worst = 0;
        for (size_t i = 0; i < ours.size(); ++i)
            for (int s : {0, 8, 16})
                worst = std::max(worst, std::abs(static_cast<int>(ours[i] >> s & 0xFF) -
                                                 static_cast<int>(magick[i] >> s & 0xFF)));
        EXPECT_LE(worst, 1) << c.args;
    }
}

TEST(ColourOpsTest, VectorContrastGivesThePlainKernelsPixels) {
    std::mt19937 rng(31);
    for (int32_t w : {1, 3, 4, 5, 33}) {
        std::vector<uint32_t> a(static_cast<size_t>(w) * 3);
        for (auto& p : a) p = rng();
        // Grays, black, white and single-channel colours among the noise.
        a[0] = 0;
        if (w > 3) {
            a[1] = 0x808080;
            a[2] = 0xFFFFFF;
            a[3] = 0x00FF0000;
        }
        for (int32_t sign : {1, -1}) {
            std::vector<uint32_t> plain = a, vec = a;
            ContrastPixels32With(KernelIsa::Portable, plain.data(), w, 3, w, kFormatARGB, sign);
            ContrastPixels32With(KernelIsa::Avx2, vec.data(), w, 3, w, kFormatARGB, sign);
            ASSERT_EQ(plain, vec) << w << " " << sign;
        }
    }
}

TEST(ColourOpsTest, VectorModulateGivesThePlainKernelsPixels) {
    std::mt19937 rng(37);
    std::vector<uint32_t> a(4 * 64 + 3);
    for (auto& p : a) p = rng();
    a[0] = 0;
    a[1] = 0xFFFFFF;
    a[2] = 0x808080;
    a[3] = 0x0000FF;
    for (auto [l, s, h] : {std::tuple{100, 100, 100}, {120, 80, 130}, {0, 100, 0}, {300, 250, 200}, {50, 0, 2147483647},
                           {100, 100, -2147483647}, {100, 100, 199}}) {
        std::vector<uint32_t> plain = a, vec = a;
        const int32_t w = static_cast<int32_t>(a.size());
        ModulatePixels32With(KernelIsa::Portable, {plain.data(), w, 1, w, kFormatARGB, l, s, h});
        ModulatePixels32With(KernelIsa::Avx2, {vec.data(), w, 1, w, kFormatARGB, l, s, h});
        ASSERT_EQ(plain, vec) << l << " " << s << " " << h;
        std::vector<uint32_t> wide = a;
        ModulatePixels32With(KernelIsa::Avx512, {wide.data(), w, 1, w, kFormatARGB, l, s, h});
        ASSERT_EQ(plain, wide) << l << " " << s << " " << h;
    }
    // Every pair of channel levels in every arrangement, so that each
    // difference from the largest channel the vector form divides by 6
    // occurs.
    std::vector<uint32_t> pairs;
    for (uint32_t a = 0; a < 256; ++a)
        for (uint32_t b = 0; b < 256; ++b) pairs.insert(pairs.end(), {a << 16 | b << 8, a << 8 | b, b << 16 | a});
    std::vector<uint32_t> plain = pairs, vec = pairs;
    const auto w = static_cast<int32_t>(pairs.size());
    ModulatePixels32With(KernelIsa::Portable, {plain.data(), w, 1, w, kFormatARGB, 120, 80, 130});
    ModulatePixels32With(KernelIsa::Avx2, {vec.data(), w, 1, w, kFormatARGB, 120, 80, 130});
    EXPECT_EQ(plain, vec);
    std::vector<uint32_t> wide = pairs;
    ModulatePixels32With(KernelIsa::Avx512, {wide.data(), w, 1, w, kFormatARGB, 120, 80, 130});
    EXPECT_EQ(plain, wide);
}

// Every kernel on every pixel format of its width gives the ARGB (or RGB565)
// results repacked, over a picture wider than tall with a pitch past its
// width whose padding stays as it was.
TEST(ColourOpsTest, EveryPixelFormatGivesTheReferenceFormatsResults) {
    uint8_t table[256];
    BuildGammaTable(table, 1.7);
    struct Op {
        const char* name;
        std::function<void(uint32_t*, int32_t, int32_t, int32_t, uint32_t)> run32;
        std::function<void(uint16_t*, int32_t, int32_t, int32_t, uint32_t)> run16;
    };
    const std::vector<Op> ops = {
        {"solarize", [](uint32_t* p, int32_t w, int32_t h, int32_t s, uint32_t f) { SolarizePixels32(p, w, h, s, f, 100); },
         [](uint16_t* p, int32_t w, int32_t h, int32_t s, uint32_t f) { SolarizePixels16(p, w, h, s, f, 100); }},
        {"sepia", [](uint32_t* p, int32_t w, int32_t h, int32_t s, uint32_t f) { SepiaPixels32(p, w, h, s, f, 150); },
         [](uint16_t* p, int32_t w, int32_t h, int32_t s, uint32_t f) { SepiaPixels16(p, w, h, s, f, 150); }},
        {"contrast", [](uint32_t* p, int32_t w, int32_t h, int32_t s, uint32_t f) { ContrastPixels32(p, w, h, s, f, 1); },
         [](uint16_t* p, int32_t w, int32_t h, int32_t s, uint32_t f) { ContrastPixels16(p, w, h, s, f, 1); }},
        {"modulate",
         [](uint32_t* p, int32_t w, int32_t h, int32_t s, uint32_t f) { ModulatePixels32({p, w, h, s, f, 120, 70, 140}); },
         [](uint16_t* p, int32_t w, int32_t h, int32_t s, uint32_t f) { ModulatePixels16({p, w, h, s, f, 120, 70, 140}); }},
        {"gamma",
         [&table](uint32_t* p, int32_t w, int32_t h, int32_t s, uint32_t f) {
             GammaPixels32({p, w, h, s, f, table, table, table, 5});
         },
         [&table](uint16_t* p, int32_t w, int32_t h, int32_t s, uint32_t f) {
             GammaPixels16({p, w, h, s, f, table, table, table, 5});
         }},
        {"stretch", [](uint32_t* p, int32_t w, int32_t h, int32_t s, uint32_t f) { StretchLevels({p, w, h, s, 10, 200, f, 4}); },
         [](uint16_t* p, int32_t w, int32_t h, int32_t s, uint32_t f) { StretchLevels({p, w, h, s, 10, 200, f, 2}); }},
    };
    constexpr int32_t kW = 7, kH = 3, kPitch = 9;
    std::mt19937 rng(11);
    std::vector<uint32_t> argb(kPitch * kH);
    for (auto& p : argb) p = static_cast<uint32_t>(rng());
    std::vector<uint16_t> rgb565(kPitch * kH);
    // Green's lowest bit clear: every 16-bit format holds the same input.
    for (auto& p : rgb565) p = static_cast<uint16_t>(rng() & 0xFFDFu);
    for (const Op& op : ops) {
        std::vector<uint32_t> want32 = argb;
        op.run32(want32.data(), kW, kH, kPitch, kFormatARGB);
        for (const int f : {kFormatBGRA, kFormatRGBA, kFormatABGR}) {
            std::vector<uint32_t> got(argb.size());
            for (size_t i = 0; i < got.size(); ++i) got[i] = ARGBToPixel32(f, argb[i]);
            const std::vector<uint32_t> before = got;
            op.run32(got.data(), kW, kH, kPitch, static_cast<uint32_t>(f));
            for (size_t i = 0; i < got.size(); ++i) {
                if (static_cast<int32_t>(i) % kPitch >= kW) ASSERT_EQ(got[i], before[i]) << op.name << " pads " << i;
                else ASSERT_EQ(Pixel32ToARGB(f, got[i]), want32[i]) << op.name << " format " << f << " at " << i;
            }
        }
        std::vector<uint16_t> want16 = rgb565;
        op.run16(want16.data(), kW, kH, kPitch, kFormatRGB565);
        for (int f = kFormatRGB555; f <= kFormatBGR565Swapped; ++f) {
            std::vector<uint16_t> got(rgb565.size());
            for (size_t i = 0; i < got.size(); ++i) got[i] = RGB565ToPixel16(f, rgb565[i]);
            const std::vector<uint16_t> before = got;
            op.run16(got.data(), kW, kH, kPitch, static_cast<uint32_t>(f));
            for (size_t i = 0; i < got.size(); ++i) {
                if (static_cast<int32_t>(i) % kPitch >= kW) {
                    ASSERT_EQ(got[i], before[i]) << op.name << " pads " << i;
                    continue;
                }
                // 555 formats keep five bits of green: compare what they hold.
                const uint16_t mask = (f & ~2) == kFormatRGB565 || (f & ~2) == kFormatBGR565 ? 0xFFFFu : 0xFFDFu;
                ASSERT_EQ(Pixel16ToRGB565(f, got[i]) & mask, RGB565ToPixel16(kFormatRGB565, want16[i]) & mask)
                    << op.name << " format " << f << " at " << i;
            }
        }
    }
}
