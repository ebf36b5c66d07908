// The convolutions and the oil paint: kernel widths, the kernels' shapes,
// borders, clamping, the plane, and the vectorised passes against their
// plain definitions.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "core/pixelformats.h"
#include "imaging/channels.h"
#include "imaging/convolve.h"
#include "imaging/oilpaint.h"
#include "imaging/planeblur.h"
#include "imaging/tapsums.h"

namespace {

std::vector<uint32_t> Noise(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint32_t> v(n);
    for (auto& p : v) p = rng() & 0x00FFFFFFu;
    return v;
}

int Apply(std::vector<uint32_t>& px, int32_t w, int32_t h, int32_t code, double radius, double sigma,
        uint8_t* plane = nullptr) {
    qbConvolveRequest r;
    r.pixels = px.data();
    r.width = w;
    r.height = h;
    r.pitch = w;
    r.pixelFormat = kFormatARGB;
    r.bytesPerPixel = 4;
    r.plane = plane;
    r.planePitch = w;
    r.radius = radius;
    r.sigma = sigma;
    r.code = code;
    return Convolve(r);
}

}  // namespace

TEST(KernelWidthTest, RadiusOrSigmaGiveTheDocumentedWidths) {
    EXPECT_EQ(GetKernelWidth1D(2, 1), 5);
    EXPECT_EQ(GetKernelWidth1D(1.2, 1), 5);
    EXPECT_EQ(GetKernelWidth1D(0, 1.0), 7);
    EXPECT_EQ(GetKernelWidth1D(0, 2.0), 11);
    EXPECT_EQ(GetKernelWidth1D(0, 1e-11), 1);
    const int64_t any = std::numeric_limits<int64_t>::max();
    EXPECT_EQ(GetKernelWidth2D(0, 1.0, any), 7);
    EXPECT_EQ(GetKernelWidth2D(0, 2.0, any), 11);
    EXPECT_EQ(GetKernelWidth2D(0, 0.5, any), 3);
    EXPECT_EQ(GetKernelWidth2D(3, 0.5, any), 7);
}

TEST(KernelWidthTest, UncheckedRadiiAndSigmasEndAtOnce) {
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(GetKernelWidth1D(nan, nan), 1);
    EXPECT_EQ(GetKernelWidth1D(0, inf), 1);
    EXPECT_GT(GetKernelWidth1D(inf, 1), kMaxKernelWidth);
    EXPECT_GT(GetKernelWidth1D(1e12, 1), kMaxKernelWidth);
    EXPECT_LE(GetKernelWidth1D(0, 1e12), 259);
    // The 2-D search stops once the kernel is wider than the picture.
    const int64_t k = GetKernelWidth2D(0, 1e12, 200);
    EXPECT_GT(k, 200);
    EXPECT_LT(k, 210);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));  // no search of 10^12 steps

    for (double radius : {nan, inf, 1e12}) {
        std::vector<uint32_t> px = Noise(64, 3), before = px;
        Apply(px, 8, 8, kConvolveBlur, radius, 1.0);
        EXPECT_EQ(px, before) << radius;
        Apply(px, 8, 8, kConvolveSharpen, radius, 1.0);
        EXPECT_EQ(px, before) << radius;
    }
}

TEST(ConvolveTest, ATinySigmaBlursNothingEvenWithARadius) {
    std::vector<uint32_t> px = Noise(100, 1), before = px;
    EXPECT_EQ(Apply(px, 10, 10, kConvolveBlur, 3, 1e-10), 0);
    EXPECT_EQ(px, before);
    EXPECT_EQ(Apply(px, 10, 10, kConvolveBlur, 3, 0), 0);
    EXPECT_EQ(px, before);
}

TEST(ConvolveTest, EdgeIsEightInTheCentreAndBlackensAUniformArea) {
    for (double radius : {0.0, 1.0}) {
        const int64_t k = GetKernelWidth1D(radius, 0.5);
        ASSERT_EQ(k, 3);
        const std::vector<double> kernel = Build2DKernel(kConvolveEdge, k, 0);
        for (size_t i = 0; i < kernel.size(); ++i) EXPECT_EQ(kernel[i], i == 4 ? 8.0 : -1.0);
        std::vector<uint32_t> px(36, 0xFF804020u);
        Apply(px, 6, 6, kConvolveEdge, radius, 0);
        for (uint32_t p : px) EXPECT_EQ(p, 0u);
    }
    // One bright pixel: its own sum clamps at 255 and its neighbours at 0.
    std::vector<uint32_t> px(25, 0);
    px[12] = 0x00402010;
    Apply(px, 5, 5, kConvolveEdge, 1, 0);
    EXPECT_EQ(px[12], 0x00FFFF80u);
    EXPECT_EQ(px[11], 0u);
}

TEST(ConvolveTest, AKernelWiderThanThePictureLeavesTheTwoDimensionalCodesAlone) {
    for (int32_t code : {kConvolveEdge, kConvolveEmboss, kConvolveSharpen}) {
        std::vector<uint32_t> px = Noise(4 * 9, 5), before = px;
        Apply(px, 4, 9, code, 2.5, 1.0);  // k = 7 > width 4
        EXPECT_EQ(px, before) << code;
    }
    std::vector<uint32_t> px = Noise(4 * 9, 5), before = px;
    Apply(px, 4, 9, kConvolveBlur, 2.5, 1.0);
    EXPECT_NE(px, before);
}

TEST(ConvolveTest, BordersRepeatTheEdgeAndResultsHaveATopByteOfZero) {
    std::vector<uint32_t> px(49, 0xFFC8C8C8u);
    Apply(px, 7, 7, kConvolveBlur, 3, 1.0);
    for (uint32_t p : px) {
        EXPECT_EQ(p >> 24, 0u);
        // A black surround would darken the corners by half or more.
        EXPECT_GE(p & 0xFF, 199u);
    }
}

TEST(ConvolveTest, ThePlaneGetsTheSameKernelAsThePixels) {
    for (int32_t code : {kConvolveBlur, kConvolveEdge, kConvolveEmboss, kConvolveSharpen}) {
        std::vector<uint32_t> px = Noise(12 * 10, 9);
        std::vector<uint8_t> plane(px.size());
        for (size_t i = 0; i < px.size(); ++i) plane[i] = static_cast<uint8_t>(px[i] >> 8);
        Apply(px, 12, 10, code, 1.5, 1.2, plane.data());
        for (size_t i = 0; i < px.size(); ++i) ASSERT_EQ(plane[i], (px[i] >> 8) & 0xFF) << code << " at " << i;
    }
}

TEST(ConvolveTest, VectorisedPassesEqualThePlainSums) {
    std::mt19937 rng(17);
    for (auto [w, h, radius, sigma] : {std::tuple{1, 1, 2.0, 1.0}, {13, 7, 0.0, 1.3}, {31, 17, 4.0, 2.0},
                                       {5, 40, 9.0, 3.0}, {3, 2, 20.0, 6.0},
                                       {150, 12, 2.0, 1.0}, {2000, 40, 40.0, 13.0}, {300, 160, 300.0, 100.0}}) {
        std::vector<uint8_t> a(static_cast<size_t>(w + 3) * h);
        for (auto& v : a) v = static_cast<uint8_t>(rng());
        std::vector<uint8_t> b = a;
        const std::vector<double> kernel = BuildBlurKernel(GetKernelWidth1D(radius, sigma), sigma);
        ASSERT_TRUE(BlurRows8(a.data(), w, h, w + 3, kernel));
        ASSERT_TRUE(BlurColumns8(a.data(), w, h, w + 3, kernel));
        BlurRows8Ref(b.data(), w, h, w + 3, kernel);
        BlurColumns8Ref(b.data(), w, h, w + 3, kernel);
        EXPECT_EQ(a, b) << w << "x" << h;
        if (GetKernelWidth2D(radius, sigma, 1 << 20) <= std::min(w, h)) {
            const int64_t k = GetKernelWidth2D(radius, sigma, 1 << 20);
            for (int32_t code : {kConvolveSharpen, kConvolveEmboss}) {
                const std::vector<double> k2 = Build2DKernel(code, k, sigma);
                bool ok = false;
                Convolve2DPlane(a.data(), w, h, w + 3, k2, k, &ok);
                ASSERT_TRUE(ok);
                Convolve2DPlaneRef(b.data(), w, h, w + 3, k2, k);
                EXPECT_EQ(a, b) << code;
            }
        }
    }
}

TEST(ConvolveTest, BlurPlane8IsTheBlurOfThePlaneAlone) {
    std::vector<uint8_t> plane(20 * 20, 0);
    plane[10 * 20 + 10] = 255;
    ASSERT_EQ(BlurPlane8(plane.data(), 20, 20, 20, 3, 1.0), 0);
    EXPECT_GT(plane[10 * 20 + 12], 0);
    EXPECT_EQ(plane[10 * 20 + 12], plane[10 * 20 + 8]);
    EXPECT_EQ(plane[12 * 20 + 10], plane[10 * 20 + 12]);
}

TEST(OilPaintTest, TiesGoToThePixelThatReachedTheCountFirst) {
    // Nine different brightnesses: every count is 1, so the first pixel of
    // each window wins; for the centre that is the top-left one.
    std::vector<uint32_t> px(9);
    for (uint32_t i = 0; i < 9; ++i) px[i] = (i * 25) << 16 | (i * 25) << 8 | i * 25;
    const std::vector<uint32_t> before = px;
    qbOilPaintRequest r;
    r.pixels = px.data();
    r.width = r.height = r.pitch = 3;
    r.pixelFormat = kFormatARGB;
    r.radius = 0;  // k = 3
    OilPaint32(r);
    EXPECT_EQ(px[4], before[0]);
    // Two of one brightness win over one of each other.
    std::vector<uint16_t> p16 = {0x1111, 0xFFFF, 0x1111, 0x0000, 0x2222, 0x3333, 0x4444, 0x5555, 0x6666};
    qbOilPaintRequest r16 = r;
    r16.pixels = p16.data();
    r16.pixelFormat = kFormatRGB565;
    OilPaint16(r16);
    EXPECT_EQ(p16[4], 0x1111);
}

TEST(ConvolveTest, EveryInstructionSetGivesThePlainTapSums) {
    std::mt19937 rng(23);
    for (size_t width : {1u, 15u, 16u, 17u, 50u, 97u, 130u}) {
        std::vector<uint8_t> bytes(width * 7);
        std::vector<double> doubles(bytes.size()), weights(7);
        for (size_t i = 0; i < bytes.size(); ++i) doubles[i] = bytes[i] = static_cast<uint8_t>(rng());
        for (double& w : weights) w = std::ldexp(static_cast<double>(rng()), -31) - 0.9;
        std::vector<const uint8_t*> b8;
        std::vector<const double*> bd;
        for (size_t t = 0; t < 7; ++t) {
            b8.push_back(bytes.data() + t * width);
            bd.push_back(doubles.data() + t * width);
        }
        std::vector<double> plain(width), plainD(width);
        SumTaps8With(KernelIsa::Portable, b8.data(), weights.data(), 7, width, plain.data());
        SumTapsDoubleWith(KernelIsa::Portable, bd.data(), weights.data(), 7, width, plainD.data());
        EXPECT_EQ(plain, plainD) << width;
        for (KernelIsa isa : {KernelIsa::Avx2, KernelIsa::Avx512}) {
            std::vector<double> vec(width), vecD(width);
            SumTaps8With(isa, b8.data(), weights.data(), 7, width, vec.data());
            SumTapsDoubleWith(isa, bd.data(), weights.data(), 7, width, vecD.data());
            EXPECT_EQ(plain, vec) << width;
            EXPECT_EQ(plainD, vecD) << width;
        }
        // The sums leaving as channel bytes, or as their values in doubles,
        // with weights that put most sums inside 0..255 and some above.
        std::vector<double> small(weights);
        for (double& w : small) w = (w + 0.9) * 0.15;
        std::vector<double> scratch(width), values(width), plainValues(width);
        std::vector<uint8_t> out(width), plainOut(width);
        SumTapsToBytesWith(KernelIsa::Portable, bd.data(), small.data(), 7, width, scratch.data(), plainOut.data());
        SumTapsToValuesWith(KernelIsa::Portable, bd.data(), small.data(), 7, width, plainValues.data());
        for (size_t x = 0; x < width; ++x) EXPECT_EQ(plainValues[x], plainOut[x]);
        for (KernelIsa isa : {KernelIsa::Avx2, KernelIsa::Avx512}) {
            SumTapsToBytesWith(isa, bd.data(), small.data(), 7, width, scratch.data(), out.data());
            SumTapsToValuesWith(isa, bd.data(), small.data(), 7, width, values.data());
            EXPECT_EQ(plainOut, out) << width;
            EXPECT_EQ(plainValues, values) << width;
        }
    }
}

TEST(OilPaintTest, EqualsTheWindowWalkOnRandomPictures) {
    std::mt19937 rng(41);
    for (auto [w, h, radius] : {std::tuple{13, 9, 0.0}, {13, 9, 1.5}, {5, 17, 3.0}, {2, 2, 4.0}}) {
        std::vector<uint32_t> px(static_cast<size_t>(w) * h);
        // Few levels, so that counts tie often.
        for (auto& p : px) p = (rng() % 4) * 0x404040u + (rng() & 0x030303u);
        const std::vector<uint32_t> src = px;
        const int64_t k = GetKernelWidth2D(radius, 0.5, 1 << 20);
        std::vector<uint32_t> want(px.size());
        for (int64_t y = 0; y < h; ++y)
            for (int64_t x = 0; x < w; ++x) {
                uint32_t count[256] = {}, best = 0, chosen = 0;
                for (int64_t t = 0; t < k; ++t)
                    for (int64_t q = 0; q < k; ++q) {
                        const int64_t sy = std::clamp<int64_t>(y + t - k / 2, 0, h - 1);
                        const int64_t sx = std::clamp<int64_t>(x + q - k / 2, 0, w - 1);
                        const uint32_t p = src[static_cast<size_t>(sy * w + sx)];
                        const auto b = static_cast<uint32_t>(0.299 * (p >> 16 & 255) + 0.587 * (p >> 8 & 255) +
                                                             0.114 * (p & 255)) & 255;
                        if (++count[b] > best) {
                            best = count[b];
                            chosen = p;
                        }
                    }
                want[static_cast<size_t>(y * w + x)] = chosen;
            }
        qbOilPaintRequest r;
        r.pixels = px.data();
        r.width = static_cast<uint32_t>(w);
        r.height = static_cast<uint32_t>(h);
        r.pitch = static_cast<uint32_t>(w);
        r.pixelFormat = kFormatARGB;
        r.radius = radius;
        OilPaint32(r);
        EXPECT_EQ(px, want) << w << "x" << h << " r " << radius;
    }
}

// ARGB pixels are filtered in place a row at a time; they must come out as
// the plain per-plane definitions make them, with a top byte of 0. The
// pitch is wider than the picture, the alpha bytes are not 0, and the
// 1100-wide blur walks one channel at a time (its rings are too large to
// walk together).
TEST(ConvolveTest, ArgbRowsEqualThePlainPlaneDefinitions) {
    std::mt19937 rng(29);
    for (auto [w, h, code, radius, sigma] :
         {std::tuple{70, 9, kConvolveBlur, 2.0, 1.0}, {33, 40, kConvolveBlur, 9.0, 3.0},
          {1100, 45, kConvolveBlur, 20.0, 6.6}, {70, 9, kConvolveEdge, 2.0, 0.5}, {70, 9, kConvolveEmboss, 2.0, 1.0},
          {66, 13, kConvolveSharpen, 3.0, 1.2}, {5, 5, kConvolveSharpen, 2.0, 1.0}}) {
        const int32_t pitch = w + 5;
        std::vector<uint32_t> px(static_cast<size_t>(pitch) * h);
        for (auto& p : px) p = rng();
        qbChannelPlanes planes;
        ASSERT_TRUE(SplitChannels(px.data(), w, h, pitch, kFormatARGB, 4, &planes));
        const auto rb = static_cast<size_t>(w);
        for (auto& p : planes.plane) {
            if (code == kConvolveBlur) {
                const std::vector<double> kernel = BuildBlurKernel(GetKernelWidth1D(radius, sigma), sigma);
                BlurRows8Ref(p.data(), w, h, rb, kernel);
                BlurColumns8Ref(p.data(), w, h, rb, kernel);
            } else {
                const int64_t k = code == kConvolveEdge ? GetKernelWidth1D(radius, 0.5)
                                                        : GetKernelWidth2D(radius, sigma, std::max(w, h));
                Convolve2DPlaneRef(p.data(), w, h, rb, Build2DKernel(code, k, sigma), k);
            }
        }
        std::vector<uint32_t> expected = px;
        JoinChannels(planes, expected.data(), pitch, kFormatARGB, 4);
        qbConvolveRequest r;
        r.pixels = px.data();
        r.width = w;
        r.height = h;
        r.pitch = pitch;
        r.pixelFormat = kFormatARGB;
        r.bytesPerPixel = 4;
        r.radius = radius;
        r.sigma = sigma;
        r.code = code;
        ASSERT_EQ(Convolve(r), 0);
        EXPECT_EQ(px, expected) << w << "x" << h << " code " << code;
    }
}

// A long radius with a small sigma leaves taps of weight 0 at both ends of
// the kernel; the blur leaves them out and must still give the plain sums of
// the whole kernel, in the plane and in the pixels.
TEST(ConvolveTest, ZeroTailsOfTheKernelChangeNothing) {
    const double radius = 60, sigma = 1.0;
    const std::vector<double> whole = BuildBlurKernel(GetKernelWidth1D(radius, sigma), sigma);
    const std::vector<double> cut = DropZeroTails(whole);
    ASSERT_EQ(whole.size(), 121u);
    ASSERT_LT(cut.size(), whole.size() - 40);
    ASSERT_EQ(cut.size() % 2, 1u);
    EXPECT_EQ(cut[cut.size() / 2], whole[whole.size() / 2]);
    const int32_t w = 150, h = 140;
    std::vector<uint32_t> px = Noise(static_cast<size_t>(w) * h, 41);
    std::vector<uint8_t> plane(px.size()), expected(px.size());
    for (size_t i = 0; i < px.size(); ++i) plane[i] = expected[i] = static_cast<uint8_t>(px[i] * 7 >> 3);
    qbChannelPlanes planes;
    ASSERT_TRUE(SplitChannels(px.data(), w, h, w, kFormatARGB, 4, &planes));
    for (auto& p : planes.plane) {
        BlurRows8Ref(p.data(), w, h, w, whole);
        BlurColumns8Ref(p.data(), w, h, w, whole);
    }
    std::vector<uint32_t> expectedPx = px;
    JoinChannels(planes, expectedPx.data(), w, kFormatARGB, 4);
    BlurRows8Ref(expected.data(), w, h, w, whole);
    BlurColumns8Ref(expected.data(), w, h, w, whole);
    ASSERT_EQ(Apply(px, w, h, kConvolveBlur, radius, sigma, plane.data()), 0);
    EXPECT_EQ(plane, expected);
    EXPECT_EQ(px, expectedPx);
}
