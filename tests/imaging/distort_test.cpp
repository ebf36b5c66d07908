// The distortion engine: argument rules and output geometry of the four
// methods, the coverage of nearest sampling, the resampler's fallbacks and
// soft edges, and the cases where a non-finite point or a huge output used
// to reach an integer conversion or the allocator.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "core/errcodes.h"
#include "imaging/bitmap.h"
#include "imaging/distort.h"
#include "imaging/resample.h"

namespace {

uint32_t PatternColour(int32_t x, int32_t y) {
    // Never 0, so a copied pixel always differs from an uncovered one.
    return 0x010101u | static_cast<uint32_t>((x * 37 + y * 11) & 0xFF) << 16 |
           static_cast<uint32_t>((x * 5 + y * 71) & 0xFF) << 8 | static_cast<uint32_t>((x * 13 + y * 3) & 0xFF);
}

BitmapPtr Picture(int32_t w, int32_t h, uint32_t (*colour)(int32_t, int32_t) = PatternColour) {
    BitmapPtr b(AllocBitmap(w, h, 0, nullptr));
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) WriteBitmapPixel(b.get(), x, y, colour(x, y), false);
    return b;
}

bool MaskAt(const qbBitmap* mask, int32_t x, int32_t y) {
    const qbBitmapPlane& p = *mask->plane;
    return (p.data[static_cast<size_t>(y) * p.rowBytes + (x >> 3)] & (0x80 >> (x & 7))) != 0;
}

uint8_t AlphaAt(const qbBitmap* alpha, int32_t x, int32_t y) {
    const qbBitmapPlane& p = *alpha->plane;
    return p.data[static_cast<size_t>(y) * p.rowBytes + x];
}

struct Distorted {
    int err = -1;
    BitmapPtr bitmap, mask, alpha;
    int32_t w = 0, h = 0;
    int64_t samples = 0;
};

Distorted Distort(qbBitmap* source, qbBitmap* mask, qbBitmap* alpha, int32_t method, std::vector<double> args,
              bool smooth = false) {
    Distorted d;
    qbBitmap *b = nullptr, *m = nullptr, *a = nullptr;
    d.err = DistortBitmap(source, mask, alpha, source->width, source->height, method,
                          static_cast<int32_t>(args.size()), args.data(), smooth, &b, &m, &a, &d.w, &d.h, &d.samples);
    d.bitmap.reset(b);
    d.mask.reset(m);
    d.alpha.reset(a);
    return d;
}

qbDistortRequest Geometry(int32_t method, std::vector<double> args, int32_t w = 100, int32_t h = 60) {
    static std::vector<double> keep;
    keep = std::move(args);
    qbDistortRequest q;
    q.method = method;
    q.argumentCount = static_cast<int32_t>(keep.size());
    q.arguments = keep.data();
    q.source.width = w;
    q.source.height = h;
    q.error = ComputeDistortGeometry(&q);
    return q;
}

}  // namespace

TEST(DistortTest, ArgumentRulesOfTheFourMethods) {
    EXPECT_EQ(Geometry(kDistortBarrel, {0, 0, 0, 1, 0, 0, 0}).error, ERR_WRONGUSAGE);
    EXPECT_EQ(Geometry(kDistortBarrel, {0, 0, 0, 1, 0, 0, 0, 1, 0}).error, ERR_WRONGUSAGE);
    EXPECT_EQ(Geometry(kDistortBarrel, {0, 0}).error, ERR_WRONGUSAGE);
    // Three numbers: D makes the polynomial 1 at the unit radius.
    const qbDistortRequest three = Geometry(kDistortBarrel, {0.1, 0.2, 0.3});
    EXPECT_EQ(three.error, 0);
    EXPECT_DOUBLE_EQ(three.coefficients[3], 1 - 0.1 - 0.2 - 0.3);
    EXPECT_DOUBLE_EQ(three.coefficients[7], three.coefficients[3]);
    EXPECT_EQ(three.outWidth, 100);
    EXPECT_EQ(three.outHeight, 60);
    EXPECT_EQ(Geometry(kDistortArc, {0}).error, ERR_WRONGUSAGE);
    EXPECT_EQ(Geometry(kDistortArc, {90, 0, 0}).error, ERR_WRONGUSAGE);
    EXPECT_EQ(Geometry(kDistortPolar, {10, 0, 5}).error, ERR_WRONGUSAGE);
    EXPECT_EQ(Geometry(kDistortPolar, {10, 0, 5, 5, 0, 0, 1}).error, ERR_WRONGUSAGE);
    EXPECT_EQ(Geometry(kDistortPolar, {10, 20}).error, ERR_WRONGUSAGE);
    EXPECT_EQ(Geometry(kDistortPerspective, {0, 0, 5, 5, 100, 0, 5, 5, 100, 60, 5, 5, 0, 60, 5, 5}).error,
              ERR_WRONGUSAGE);
    EXPECT_EQ(Geometry(kDistortPerspective, {0, 0, 5, 5}).error, ERR_WRONGUSAGE);
    EXPECT_EQ(Geometry(7, {}).error, ERR_WRONGUSAGE);
}

TEST(DistortTest, DefaultArcAndPolarGeometry) {
    // A quarter arc centred at the top: symmetric about x = 0, above the centre.
    const qbDistortRequest arc = Geometry(kDistortArc, {});
    ASSERT_EQ(arc.error, 0);
    EXPECT_LE(std::abs(arc.outX + (arc.outX + arc.outWidth)), 1);
    EXPECT_LE(arc.outY + arc.outHeight, 1);
    EXPECT_GT(arc.outWidth, 100);
    // Polar without numbers: the largest circle inside, about the origin.
    const qbDistortRequest polar = Geometry(kDistortPolar, {});
    ASSERT_EQ(polar.error, 0);
    EXPECT_DOUBLE_EQ(polar.coefficients[0], 30);
    EXPECT_EQ(polar.outX, -31);
    EXPECT_EQ(polar.outWidth, 62);
}

TEST(DistortTest, HugeOutputsFailBeforeAllocating) {
    EXPECT_EQ(Geometry(kDistortPolar, {1e10}).error, ERR_BITMAP);
    EXPECT_EQ(Geometry(kDistortPolar, {40000}).error, ERR_BITMAP);  // 80000^2 pixels
    EXPECT_EQ(Geometry(kDistortPolar, {INFINITY}).error, ERR_BITMAP);
    EXPECT_EQ(Geometry(kDistortArc, {90, 0, 1e12}).error, ERR_BITMAP);
    EXPECT_EQ(Geometry(kDistortArc, {1e300}).error, 0);  // many turns: bounded box loop
    EXPECT_EQ(Geometry(kDistortArc, {NAN}).error, ERR_WRONGUSAGE);
}

TEST(DistortTest, IdentityBarrelReproducesThePictureWithAFullMask) {
    BitmapPtr src = Picture(23, 17);
    Distorted d = Distort(src.get(), nullptr, nullptr, kDistortBarrel, {0, 0, 0, 1});
    ASSERT_EQ(d.err, 0);
    ASSERT_EQ(d.w, 23);
    ASSERT_EQ(d.h, 17);
    ASSERT_TRUE(d.mask);
    EXPECT_FALSE(d.alpha);
    for (int32_t y = 0; y < 17; ++y)
        for (int32_t x = 0; x < 23; ++x) {
            ASSERT_EQ(ReadBitmapPixel(d.bitmap.get(), x, y, false), PatternColour(x, y)) << x << "," << y;
            ASSERT_TRUE(MaskAt(d.mask.get(), x, y));
        }
}

TEST(DistortTest, NearestMaskIsSetExactlyOnCoveredPixels) {
    BitmapPtr src = Picture(40, 30);
    for (auto args : std::vector<std::vector<double>>{{0.2, 0, 0, 0.5}, {}, {0, 0, 20, 15, 0, 360}}) {
        const int32_t method = args.size() == 4 ? kDistortBarrel : kDistortPolar;
        Distorted d = Distort(src.get(), nullptr, nullptr, method, args);
        ASSERT_EQ(d.err, 0);
        int covered = 0;
        for (int32_t y = 0; y < d.h; ++y)
            for (int32_t x = 0; x < d.w; ++x) {
                const bool set = MaskAt(d.mask.get(), x, y);
                covered += set;
                ASSERT_EQ(set, ReadBitmapPixel(d.bitmap.get(), x, y, false) != 0) << x << "," << y;
            }
        EXPECT_GT(covered, 0);
        EXPECT_LT(covered, d.w * d.h);
    }
}

TEST(DistortTest, SourcePlanesChooseTheResultPlane) {
    BitmapPtr src = Picture(20, 20);
    BitmapPtr alpha(AllocAlphaChannel(20, 20, true, nullptr, 0));
    for (int32_t y = 0; y < 20; ++y)
        for (int32_t x = 0; x < 20; ++x) alpha->plane->data[y * alpha->plane->rowBytes + x] = uint8_t(x * 10 + 1);
    Distorted a = Distort(src.get(), nullptr, alpha.get(), kDistortBarrel, {0, 0, 0, 1});
    ASSERT_EQ(a.err, 0);
    ASSERT_TRUE(a.alpha);
    EXPECT_FALSE(a.mask);
    EXPECT_EQ(AlphaAt(a.alpha.get(), 7, 3), 71);
    Distorted smooth = Distort(src.get(), nullptr, nullptr, kDistortBarrel, {0, 0, 0, 1}, true);
    ASSERT_EQ(smooth.err, 0);
    EXPECT_TRUE(smooth.alpha);
    EXPECT_FALSE(smooth.mask);
    BitmapPtr mask(AllocMask(src.get(), 20, 20, true, nullptr, 0));
    FillMaskRect(mask.get(), 0, 0, 10, 20, kMaskVisible);
    Distorted m = Distort(src.get(), mask.get(), alpha.get(), kDistortBarrel, {0, 0, 0, 1}, true);
    ASSERT_EQ(m.err, 0);
    ASSERT_TRUE(m.mask);
    EXPECT_FALSE(m.alpha);
    EXPECT_TRUE(MaskAt(m.mask.get(), 3, 5));
    EXPECT_FALSE(MaskAt(m.mask.get(), 16, 5));
}

TEST(DistortTest, AHorizonLeavesTheFarSideUncoveredAndKeepsTheBand) {
    BitmapPtr src = Picture(60, 60);
    // The bottom-right corner pulled inside the triangle of the others: the
    // horizon cuts the output box.
    const std::vector<double> args = {0, 0, 0, 0, 60, 0, 60, 10, 60, 60, 32, 32, 0, 60, 10, 60};
    const qbDistortRequest q = Geometry(kDistortPerspective, args, 60, 60);
    ASSERT_EQ(q.error, 0);
    Distorted d = Distort(src.get(), nullptr, nullptr, kDistortPerspective, args);
    ASSERT_EQ(d.err, 0);
    ASSERT_EQ(d.w, q.outWidth);
    const double* c = q.coefficients;
    int farSide = 0, band = 0;
    for (int32_t j = 0; j < d.h; ++j)
        for (int32_t i = 0; i < d.w; ++i) {
            const double x = i + q.outX + 0.5, y = j + q.outY + 0.5;
            const double w = c[6] * x + c[7] * y + 1;
            const double divisor = std::fabs(c[6]) > std::fabs(c[7]) ? c[6] : c[7];
            double v = w * c[8] >= 0 ? 1 : 0;
            if (std::fabs(divisor) > 2 * std::fabs(w)) v = 0.5 - w * c[8] / divisor;
            if (v <= 0) {
                ++farSide;
                ASSERT_FALSE(MaskAt(d.mask.get(), i, j)) << i << "," << j;
                ASSERT_EQ(ReadBitmapPixel(d.bitmap.get(), i, j, false), 0u);
                continue;
            }
            if (w * c[8] < 0) ++band;
            // Valid pixels, the band beyond the horizon included, are
            // covered exactly where they sample the source.
            const double sx = (c[0] * x + c[1] * y + c[2]) / w - 0.5, sy = (c[3] * x + c[4] * y + c[5]) / w - 0.5;
            const bool inside = sx > -1 && sy > -1 && sx < 60 && sy < 60;
            ASSERT_EQ(MaskAt(d.mask.get(), i, j), inside) << i << "," << j;
        }
    EXPECT_GT(band, 0);
}

TEST(DistortTest, AZeroRadiusDifferenceLeavesEveryPixelUncovered) {
    BitmapPtr src = Picture(30, 20);
    for (bool smooth : {false, true}) {
        Distorted d = Distort(src.get(), nullptr, nullptr, kDistortArc, {90, 0, 40, 40}, smooth);
        ASSERT_EQ(d.err, 0);
        for (int32_t y = 0; y < d.h; ++y)
            for (int32_t x = 0; x < d.w; ++x)
                ASSERT_EQ(ReadBitmapPixel(d.bitmap.get(), x, y, false), 0u);
    }
}

TEST(ResampleTest, UnitDerivativesTakeTheBilinearPath) {
    BitmapPtr src = Picture(10, 10);
    qbBitmapLock lock;
    ASSERT_NE(LockBitmap(src.get(), kLockReadOnly, &lock), 0u);
    qbResampleSource s;
    s.width = s.height = 10;
    s.pixels = static_cast<const uint8_t*>(lock.pixels);
    s.modulo = lock.rowLength;
    s.bytesPerPixel = static_cast<int32_t>(lock.bytesPerPixel);
    s.pixelFormat = static_cast<int32_t>(lock.pixelFormat);
    std::unique_ptr<qbResampleFilter> f;
    ASSERT_EQ(CreateResampleFilter(s, &f), 0);
    EXPECT_DOUBLE_EQ(f->weights[0], 1.0);
    EXPECT_NEAR(f->weights[1023], 1.0 / 16, 1e-3);
    SetResampleEllipse(f.get(), 1, 0, 0, 1);
    EXPECT_TRUE(f->tooSmall);
    for (double p : {0.0, 2.25, 4.5, 8.75, 9.5}) {
        qbResampleColour r;
        ASSERT_TRUE(ResamplePixel(f.get(), p, 9.5 - p, &r));
        const qbResampleColour b = InterpolatePixelBilinear(*f, p, 9.5 - p);
        EXPECT_EQ(r.red, b.red);
        EXPECT_EQ(r.green, b.green);
        EXPECT_EQ(r.blue, b.blue);
        EXPECT_EQ(r.alpha, b.alpha);
    }
    // A real ellipse wholly left of the source covers nothing.
    SetResampleEllipse(f.get(), 2, 0, 0, 2);
    ASSERT_FALSE(f->tooSmall || f->tooLarge);
    qbResampleColour r;
    EXPECT_FALSE(ResamplePixel(f.get(), -10, 5, &r));
    EXPECT_TRUE(ResamplePixel(f.get(), 5, 5, &r));
    EXPECT_EQ(r.alpha, 255);
    // Derivatives that are not finite never reach an integer conversion.
    SetResampleEllipse(f.get(), NAN, 0, 0, INFINITY);
    EXPECT_TRUE(ResamplePixel(f.get(), 5, 5, &r));
    EXPECT_FALSE(ResamplePixel(f.get(), NAN, 5, &r));
    UnlockBitmap(&lock);
}

TEST(ResampleTest, AConstantPictureStaysConstantInsideAndFadesAtItsEdges) {
    BitmapPtr src = Picture(40, 40, [](int32_t, int32_t) { return 0x80C040u; });
    // Barrel D = 2 shrinks it to half size in the middle of the output.
    Distorted d = Distort(src.get(), nullptr, nullptr, kDistortBarrel, {0, 0, 0, 2}, true);
    ASSERT_EQ(d.err, 0);
    ASSERT_TRUE(d.alpha);
    EXPECT_EQ(ReadBitmapPixel(d.bitmap.get(), 20, 20, false), 0x80C040u);
    EXPECT_EQ(AlphaAt(d.alpha.get(), 20, 20), 255);
    EXPECT_EQ(AlphaAt(d.alpha.get(), 14, 20), 255);
    // Across the left edge of the shrunken picture alpha falls to 0.
    int previous = 255;
    for (int32_t x = 14; x >= 0; --x) {
        const int a = AlphaAt(d.alpha.get(), x, 20);
        EXPECT_LE(a, previous) << x;
        previous = a;
    }
    EXPECT_EQ(previous, 0);
    EXPECT_GT(d.samples, 4);
}

TEST(ResampleTest, MaskedOutPixelsAddWeightButNoColour) {
    BitmapPtr src = Picture(30, 30, [](int32_t, int32_t) { return 0xFFFFFFu; });
    BitmapPtr mask(AllocMask(src.get(), 30, 30, true, nullptr, 0));
    for (int32_t x = 0; x < 30; x += 2) FillMaskRect(mask.get(), x, 0, 1, 30, kMaskVisible);
    Distorted d = Distort(src.get(), mask.get(), nullptr, kDistortBarrel, {0, 0, 0, 4}, true);
    ASSERT_EQ(d.err, 0);
    ASSERT_TRUE(d.mask);
    const uint32_t c = ReadBitmapPixel(d.bitmap.get(), 15, 15, false);
    EXPECT_NEAR(static_cast<int>(c & 0xFF), 128, 20);
    EXPECT_EQ(c & 0xFF, (c >> 16) & 0xFF);
    EXPECT_TRUE(MaskAt(d.mask.get(), 15, 15));
    EXPECT_FALSE(MaskAt(d.mask.get(), 0, 0));
}

namespace {

// Red alternates by column, green by row: a pixel that averages several
// columns (rows) shows a red (green) between the two, one that
// interpolates at a whole pixel shows one of them.
uint32_t Stripes(int32_t x, int32_t y) {
    return static_cast<uint32_t>(x & 1 ? 230 : 20) << 16 | static_cast<uint32_t>(y & 1 ? 230 : 20) << 8 |
           static_cast<uint32_t>((x * 7 + y * 13) & 0xFF);
}

struct Rgba {
    int r = 0, g = 0, b = 0, a = 0;
};

// Bilinear interpolation at (px, py), pixel centres at integers, outside
// the picture transparent black, each channel truncated.
Rgba BilinearStripes(int32_t w, int32_t h, double px, double py) {
    const double x0 = std::floor(px), y0 = std::floor(py);
    const double fx = px - x0, fy = py - y0;
    double sum[4] = {};
    for (int k = 0; k < 4; ++k) {
        const int64_t x = static_cast<int64_t>(x0) + (k & 1), y = static_cast<int64_t>(y0) + (k >> 1);
        if (x < 0 || y < 0 || x >= w || y >= h) continue;
        const double weight = (k & 1 ? fx : 1 - fx) * (k >> 1 ? fy : 1 - fy);
        const uint32_t c = Stripes(static_cast<int32_t>(x), static_cast<int32_t>(y));
        sum[0] += weight * (c >> 16 & 0xFF);
        sum[1] += weight * (c >> 8 & 0xFF);
        sum[2] += weight * (c & 0xFF);
        sum[3] += weight * 255;
    }
    auto cut = [](double v) { return v <= 0 ? 0 : v >= 255 ? 255 : static_cast<int>(v); };
    return {cut(sum[0]), cut(sum[1]), cut(sum[2]), cut(sum[3])};
}

// The Gaussian elliptical average at (px, py) for a pixel whose source
// position moves by (ux, 0) and (0, vy) per output pixel, summed over every
// source position near it (outside the picture transparent black at full
// weight): the ellipse holds the positions whose distance, scaled so that
// its edge is 1024, is below 1024; the weight falls from 1 at the centre
// to 1/16 at the edge.
Rgba EllipticalStripes(int32_t w, int32_t h, double px, double py, double ux, double vy) {
    const double a = vy * vy + 1, c = ux * ux + 1, scale = 1024 / (a * c);
    double total = 0, sum[4] = {};
    for (int64_t v = static_cast<int64_t>(py) - 40; v <= static_cast<int64_t>(py) + 40; ++v)
        for (int64_t u = static_cast<int64_t>(px) - 50; u <= static_cast<int64_t>(px) + 50; ++u) {
            const double U = static_cast<double>(u) - px, V = static_cast<double>(v) - py;
            const double q = (a * U * U + c * V * V) * scale;
            if (q >= 1024) continue;
            const double weight = std::exp(-static_cast<int>(q) * std::log(16.0) / 1024);
            total += weight;
            if (u < 0 || v < 0 || u >= w || v >= h) continue;
            const uint32_t colour = Stripes(static_cast<int32_t>(u), static_cast<int32_t>(v));
            sum[0] += weight * (colour >> 16 & 0xFF);
            sum[1] += weight * (colour >> 8 & 0xFF);
            sum[2] += weight * (colour & 0xFF);
            sum[3] += weight * 255;
        }
    auto round = [&](double s) { return static_cast<int>(std::lround(s / total)); };
    return {round(sum[0]), round(sum[1]), round(sum[2]), round(sum[3])};
}

}  // namespace

// The smooth distortion's filter by size class, each axis on its own: a
// grow interpolates; a shrink on either axis averages what the pixel
// covers; a shrink so hard that one pixel's filter would take in many
// times the picture, or any picture past the filter's limit, interpolates
// again. Every pixel is checked against the filter its class takes. The
// barrel with D alone scales about its centre by D per axis.
TEST(ResampleTest, EachSizeClassOnEachAxisTakesItsFilter) {
    struct Case {
        const char* what;
        int32_t w, h;
        double dx, dy, cx, cy;
        bool averaged;
    };
    const Case cases[] = {
        {"grow", 40, 24, 0.5, 0.25, 19.5, 11.5, false},
        {"grow on y, the same on x", 40, 24, 1, 0.5, 19.5, 11.5, false},
        {"shrink", 40, 24, 2, 3, 19.5, 11.5, true},
        {"shrink on x, grow on y", 40, 24, 3, 0.5, 19.5, 11.5, true},
        {"grow on x, shrink on y", 40, 24, 0.5, 3, 19.5, 11.5, true},
        // A column whose filter reaches into the picture from beyond its
        // right side.
        {"shrink hard on x, grow on y", 40, 24, 10, 0.5, 177.5 / 9, 11.5, true},
        {"a small picture shrunk mildly", 5, 3, 2, 2.5, 2.5, 1.5, true},
        {"the same picture shrunk hard", 5, 3, 10, 8, 2.5, 1.5, false},
        {"a larger picture shrunk as hard", 40, 24, 10, 8, 20.5, 12.5, true},
        {"past the filter's limit", 40, 24, 40, 30, 20.5, 12.5, false},
        // One pixel's centre half a pixel left of the picture.
        {"past the filter's limit, at the picture's side", 40, 24, 40, 30, 20.0 / 39, 12.5, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BitmapPtr src = Picture(c.w, c.h, Stripes);
        Distorted d =
            Distort(src.get(), nullptr, nullptr, kDistortBarrel, {0, 0, 0, c.dx, 0, 0, 0, c.dy, c.cx, c.cy}, true);
        ASSERT_EQ(d.err, 0);
        ASSERT_TRUE(d.alpha);
        ASSERT_EQ(d.w, c.w);
        ASSERT_EQ(d.h, c.h);
        // Where each output pixel's centre falls in the picture.
        const auto px = [&](int32_t i) { return c.dx * (i + 0.5 - c.cx) + c.cx - 0.5; };
        const auto py = [&](int32_t j) { return c.dy * (j + 0.5 - c.cy) + c.cy - 0.5; };
        for (int32_t j = 0; j < d.h; ++j)
            for (int32_t i = 0; i < d.w; ++i) {
                const Rgba want = c.averaged ? EllipticalStripes(c.w, c.h, px(i), py(j), c.dx, c.dy)
                                             : BilinearStripes(c.w, c.h, px(i), py(j));
                const uint32_t got = ReadBitmapPixel(d.bitmap.get(), i, j, false);
                ASSERT_NEAR(static_cast<int>(got >> 16 & 0xFF), want.r, 1) << i << "," << j;
                ASSERT_NEAR(static_cast<int>(got >> 8 & 0xFF), want.g, 1) << i << "," << j;
                ASSERT_NEAR(static_cast<int>(got & 0xFF), want.b, 1) << i << "," << j;
                ASSERT_NEAR(AlphaAt(d.alpha.get(), i, j), want.a, 1) << i << "," << j;
            }
    }
}
