// The shapes behind shadows and borders blurred by their runs: each byte
// within 1 of the plain separable blur of the shape, computed here tap by
// tap, and a cost that grows with the shadow's pixels, not with them times
// the radius.
#include <gtest/gtest.h>


#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "core/errcodes.h"
#include "cpu_time.h"
#include "imaging/bitmap.h"
#include "imaging/convolve.h"
#include "imaging/runblur.h"
#include "imaging/shadowmask.h"

namespace {

using Plane = std::vector<uint8_t>;

// One pass of the blur: each output the kernel's taps over the line, its
// ends repeating.
void BlurLines(Plane& p, int w, int h, bool rows, const std::vector<double>& kernel) {
    const int k = static_cast<int>(kernel.size());
    const int n = rows ? w : h, lines = rows ? h : w;
    std::vector<uint8_t> line(static_cast<size_t>(n));
    auto at = [&](int l, int i) -> uint8_t& {
        return rows ? p[static_cast<size_t>(l) * w + i] : p[static_cast<size_t>(i) * w + l];
    };
    for (int l = 0; l < lines; ++l) {
        for (int i = 0; i < n; ++i) line[static_cast<size_t>(i)] = at(l, i);
        for (int i = 0; i < n; ++i) {
            double s = 0;
            for (int t = 0; t < k; ++t) s += line[static_cast<size_t>(std::clamp(i + t - k / 2, 0, n - 1))] * kernel[static_cast<size_t>(t)];
            at(l, i) = s <= 0 ? 0 : s >= 255 ? 255 : static_cast<uint8_t>(s);
        }
    }
}

void Blur(Plane& p, int w, int h, double radius, double sigma) {
    const std::vector<double> kernel = BlurKernelFor(radius, sigma);
    BlurLines(p, w, h, true, kernel);
    BlurLines(p, w, h, false, kernel);
}

// What BuildShadowMask makes: the shape at (r, r), blurred, hardened and
// blurred again as asked.
Plane Reference(const Plane& shape, int sw, int sh, double radius, bool harden, bool second) {
    const int r = static_cast<int>(radius), w = sw + 2 * r, h = sh + 2 * r;
    Plane p(static_cast<size_t>(w) * h, 0);
    for (int y = 0; y < sh; ++y)
        for (int x = 0; x < sw; ++x) p[static_cast<size_t>(y + r) * w + x + r] = shape[static_cast<size_t>(y) * sw + x];
    Blur(p, w, h, radius, radius / 3);
    if (harden) {
        for (uint8_t& b : p)
            if (b) b = 255;
        if (second) Blur(p, w, h, radius * 0.5, radius * 0.5 / 3);
    }
    return p;
}

int MostApart(const qbBitmap* got, const Plane& want, int w, int h) {
    int most = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            most = std::max(most, std::abs(got->plane->data[static_cast<size_t>(y) * got->plane->rowBytes + x] -
                                           want[static_cast<size_t>(y) * w + x]));
    return most;
}

}  // namespace

TEST(ShadowBlurTest, EveryByteIsWithinOneOfTheTapByTapBlur) {
    const int sw = 23, sh = 17;
    // A source whose alpha is a soft disc with a hole, and a mask of stripes.
    BitmapPtr alpha(AllocAlphaChannel(sw, sh, true, nullptr, 0));
    BitmapPtr picture(AllocBitmap(sw, sh, 0, nullptr));
    BitmapPtr mask(AllocMask(picture.get(), sw, sh, true, nullptr, 0));
    Plane alphaShape(static_cast<size_t>(sw) * sh), maskShape(alphaShape.size()), rect(alphaShape.size(), 180);
    for (int y = 0; y < sh; ++y)
        for (int x = 0; x < sw; ++x) {
            const int d = (x - 11) * (x - 11) + (y - 8) * (y - 8);
            const uint8_t a = d < 70 && d > 6 ? static_cast<uint8_t>(255 - d * 3) : 0;
            alpha->plane->data[static_cast<size_t>(y) * alpha->plane->rowBytes + x] = a;
            alphaShape[static_cast<size_t>(y) * sw + x] = a ? 180 : 0;
            const bool on = (x / 3 + y / 4) % 2 == 0;
            WriteBitmapPixel(mask.get(), x, y, on ? 1u : 0u, true);
        }
    for (int y = 0; y < sh; ++y)
        for (int x = 0; x < sw; ++x) {
            const uint32_t bit = ReadBitmapPixel(mask.get(), x, y, true);
            maskShape[static_cast<size_t>(y) * sw + x] = bit ? 180 : 0;
        }
    ASSERT_NE(std::count(maskShape.begin(), maskShape.end(), 0), 0);
    ASSERT_NE(std::count(maskShape.begin(), maskShape.end(), 180), 0);
    for (double radius : {5.0, 50.0}) {
        const int w = sw + 2 * static_cast<int>(radius), h = sh + 2 * static_cast<int>(radius);
        struct Case {
            qbBitmap* alpha;
            qbBitmap* mask;
            const Plane* shape;
            bool harden;
        };
        for (const Case& c : {Case{nullptr, nullptr, &rect, false}, Case{alpha.get(), nullptr, &alphaShape, false},
                              Case{nullptr, mask.get(), &maskShape, false}, Case{alpha.get(), nullptr, &alphaShape, true},
                              Case{nullptr, mask.get(), &maskShape, true}}) {
            qbBitmap* out = nullptr;
            ASSERT_EQ(BuildShadowMask(c.alpha, c.mask, 0, 0, sw, sh, radius, radius / 3, 180, c.harden, true, &out), 0);
            BitmapPtr got(out);
            const Plane want = Reference(*c.shape, sw, sh, radius, c.harden, c.harden && c.alpha);
            EXPECT_LE(MostApart(got.get(), want, w, h), 1)
                << "radius " << radius << (c.alpha ? " alpha" : c.mask ? " mask" : " rectangle")
                << (c.harden ? " hardened" : "");
        }
    }
}

// A 20 x 20 shadow at radius 1000 has 15 times the pixels of one at 250; a
// blur tap by tap would cost 60 times as much. Counted, and timed with a
// generous margin (the best of three, the thread's CPU time).
TEST(ShadowBlurTest, TheCostGrowsWithThePixelsNotTimesTheRadius) {
    auto cost = [](double radius) {
        double best = 1e9;
        for (int run = 0; run < 3; ++run) {
            const double start = ThreadCpuSeconds();
            qbBitmap* out = nullptr;
            EXPECT_EQ(BuildShadowMask(nullptr, nullptr, 0, 0, 20, 20, radius, radius / 3, 255, false, false, &out), 0);
            BitmapPtr plane(out);
            best = std::min(best, ThreadCpuSeconds() - start);
        }
        return std::max(best, 0.002);
    };
    auto work = [](int radius) {
        const int side = 20 + 2 * radius;
        Plane p(static_cast<size_t>(side) * side, 0);
        for (int y = 0; y < 20; ++y)
            std::fill_n(&p[static_cast<size_t>(y + radius) * side + radius], 20, uint8_t{255});
        return static_cast<double>(RunBlurWork(p.data(), side, side, static_cast<uint32_t>(side), radius, radius / 3.0));
    };
    EXPECT_LE(work(1000), 20 * work(250));
    const double small = cost(250), large = cost(1000);
    std::printf("shadow of 20 x 20: radius 250 %.4f s, radius 1000 %.4f s\n", small, large);
    EXPECT_LE(large, 30 * small);
}
