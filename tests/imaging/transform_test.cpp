// The affine kernel and TransformBitmap: exact pixel permutations for the
// quarter turns and flips, replication for integer scales, planes carried
// along, and degenerate matrices answered with a cleared picture.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "core/errcodes.h"
#include "imaging/bitmap.h"
#include "imaging/transform.h"

namespace {

struct Picture {
    BitmapPtr bitmap;
    int32_t width = 0;
    int32_t height = 0;
};

uint32_t& PixelAt(qbBitmapLock& lock, int32_t x, int32_t y) {
    return static_cast<uint32_t*>(lock.pixels)[static_cast<size_t>(y) * lock.rowLength + x];
}

// Random 24-bit colours, so that any misplaced pixel shows.
Picture RandomPicture(int32_t width, int32_t height, uint32_t seed) {
    Picture p{BitmapPtr(AllocBitmap(width, height, 0, nullptr)), width, height};
    qbBitmapLock lock;
    EXPECT_NE(LockBitmap(p.bitmap.get(), 0, &lock), 0u);
    EXPECT_EQ(lock.bytesPerPixel, 4u);
    std::mt19937 rng(seed);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) PixelAt(lock, x, y) = rng() & 0xFFFFFF;
    UnlockBitmap(&lock);
    return p;
}

std::vector<uint32_t> Pixels(qbBitmap* bitmap) {
    qbBitmapLock lock;
    EXPECT_NE(LockBitmap(bitmap, kLockReadOnly, &lock), 0u);
    std::vector<uint32_t> out;
    for (int32_t y = 0; y < bitmap->height; ++y)
        for (int32_t x = 0; x < bitmap->width; ++x) out.push_back(PixelAt(lock, x, y));
    UnlockBitmap(&lock);
    return out;
}

bool Bit(qbBitmap* mask, int32_t x, int32_t y) { return ReadBitmapPixel(mask, x, y, true) != 0; }

struct Result {
    int err = 0;
    BitmapPtr bitmap, mask, alpha;
    int32_t width = 0, height = 0;
};

Result Transform(qbBitmap* source, qbBitmap* mask, qbBitmap* alpha, int32_t w, int32_t h, const double m[4],
                 bool smooth) {
    Result r;
    qbBitmap *b = nullptr, *k = nullptr, *a = nullptr;
    r.err = TransformBitmap(source, mask, alpha, 0, 0, w, h, m, smooth, &b, &k, &a, &r.width, &r.height);
    r.bitmap.reset(b);
    r.mask.reset(k);
    r.alpha.reset(a);
    return r;
}

// Where the centre of source pixel (x, y) lands, as a destination pixel.
void MapCentre(const double m[4], double minX, double minY, int32_t x, int32_t y, int32_t* X, int32_t* Y) {
    const double cx = x + 0.5, cy = y + 0.5;
    *X = static_cast<int32_t>(std::floor(m[0] * cx + m[2] * cy - minX));
    *Y = static_cast<int32_t>(std::floor(m[1] * cx + m[3] * cy - minY));
}

}  // namespace

TEST(TransformTest, QuarterTurnsFlipsAndIdentityArePixelPermutations) {
    const struct {
        const char* name;
        double m[4];
    } cases[] = {
        {"identity", {1, 0, 0, 1}},   {"rotate 90", {0, 1, -1, 0}}, {"rotate 180", {-1, 0, 0, -1}},
        {"rotate 270", {0, -1, 1, 0}}, {"flip x", {-1, 0, 0, 1}},   {"flip y", {1, 0, 0, -1}},
    };
    Picture src = RandomPicture(7, 5, 11);
    const std::vector<uint32_t> in = Pixels(src.bitmap.get());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (bool smooth : {false, true}) {
            Result r = Transform(src.bitmap.get(), nullptr, nullptr, src.width, src.height, c.m, smooth);
            ASSERT_EQ(r.err, 0);
            const bool turned = c.m[0] == 0;
            ASSERT_EQ(r.width, turned ? 5 : 7);
            ASSERT_EQ(r.height, turned ? 7 : 5);
            ASSERT_TRUE(r.mask);
            double minX = 0, minY = 0;
            GetTransformedBounds(c.m, src.width, src.height, nullptr, nullptr, &minX, &minY);
            const std::vector<uint32_t> out = Pixels(r.bitmap.get());
            for (int32_t y = 0; y < src.height; ++y)
                for (int32_t x = 0; x < src.width; ++x) {
                    int32_t X, Y;
                    MapCentre(c.m, minX, minY, x, y, &X, &Y);
                    ASSERT_EQ(out[static_cast<size_t>(Y) * r.width + X], in[static_cast<size_t>(y) * 7 + x])
                        << x << "," << y << (smooth ? " smooth" : "");
                    EXPECT_TRUE(Bit(r.mask.get(), X, Y));
                }
        }
    }
}

TEST(TransformTest, IntegerScaleReplicatesEachPixel) {
    Picture src = RandomPicture(5, 3, 5);
    const std::vector<uint32_t> in = Pixels(src.bitmap.get());
    const double m[4] = {2, 0, 0, 3};
    Result r = Transform(src.bitmap.get(), nullptr, nullptr, 5, 3, m, false);
    ASSERT_EQ(r.err, 0);
    ASSERT_EQ(r.width, 10);
    ASSERT_EQ(r.height, 9);
    const std::vector<uint32_t> out = Pixels(r.bitmap.get());
    for (int32_t Y = 0; Y < 9; ++Y)
        for (int32_t X = 0; X < 10; ++X) ASSERT_EQ(out[static_cast<size_t>(Y) * 10 + X], in[(Y / 3) * 5 + X / 2]);
}

TEST(TransformTest, SmoothSamplingOfAConstantPictureIsConstant) {
    BitmapPtr src(AllocBitmap(9, 6, 0, nullptr));
    qbBitmapLock lock;
    ASSERT_NE(LockBitmap(src.get(), 0, &lock), 0u);
    for (int32_t y = 0; y < 6; ++y)
        for (int32_t x = 0; x < 9; ++x) PixelAt(lock, x, y) = 0x3C7AE1;
    UnlockBitmap(&lock);
    const double angle = 0.52;
    const double m[4] = {1.7 * std::cos(angle), 1.7 * std::sin(angle), -1.3 * std::sin(angle), 1.3 * std::cos(angle)};
    Result r = Transform(src.get(), nullptr, nullptr, 9, 6, m, true);
    ASSERT_EQ(r.err, 0);
    const std::vector<uint32_t> out = Pixels(r.bitmap.get());
    int covered = 0;
    for (int32_t Y = 0; Y < r.height; ++Y)
        for (int32_t X = 0; X < r.width; ++X) {
            const uint32_t p = out[static_cast<size_t>(Y) * r.width + X];
            if (Bit(r.mask.get(), X, Y)) {
                ++covered;
                EXPECT_EQ(p & 0xFFFFFF, 0x3C7AE1u) << X << "," << Y;
            } else {
                EXPECT_EQ(p, 0u) << X << "," << Y;
            }
        }
    // The rotated rectangle covers about its own area.
    EXPECT_NEAR(covered, 9 * 6 * 1.7 * 1.3, 12);
}

TEST(TransformTest, PlanesFollowThePixels) {
    Picture src = RandomPicture(6, 4, 3);
    BitmapPtr alpha(AllocAlphaChannel(6, 4, true, nullptr, 0));
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 6; ++x)
            alpha->plane->data[static_cast<size_t>(y) * alpha->plane->rowBytes + x] = static_cast<uint8_t>(x * 40 + y);
    const double flip[4] = {-1, 0, 0, 1};
    Result r = Transform(src.bitmap.get(), nullptr, alpha.get(), 6, 4, flip, false);
    ASSERT_EQ(r.err, 0);
    ASSERT_TRUE(r.alpha);
    EXPECT_FALSE(r.mask);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 6; ++x)
            EXPECT_EQ(r.alpha->plane->data[static_cast<size_t>(y) * r.alpha->plane->rowBytes + (5 - x)], x * 40 + y);

    // A checkerboard mask turned by half a turn stays a checkerboard, with
    // the parity of a 6 x 4 picture kept.
    BitmapPtr mask(AllocMask(src.bitmap.get(), 6, 4, true, nullptr, 0));
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 6; ++x) WriteBitmapPixel(mask.get(), x, y, (x + y) % 2 ? kMaskVisible : kMaskInvisible, true);
    const double half[4] = {-1, 0, 0, -1};
    Result t = Transform(src.bitmap.get(), mask.get(), nullptr, 6, 4, half, false);
    ASSERT_EQ(t.err, 0);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 6; ++x) EXPECT_EQ(Bit(t.mask.get(), 5 - x, 3 - y), Bit(mask.get(), x, y));

    // Planes alone, without pixels.
    Result planes = Transform(nullptr, mask.get(), nullptr, 6, 4, half, true);
    ASSERT_EQ(planes.err, 0);
    EXPECT_FALSE(planes.bitmap);
    ASSERT_TRUE(planes.mask);
}

TEST(TransformTest, SmoothSamplesAllMaskedOutClearTheMaskBit) {
    Picture src = RandomPicture(4, 4, 9);
    BitmapPtr mask(AllocMask(src.bitmap.get(), 4, 4, true, nullptr, 0));  // all invisible
    const double scale[4] = {2, 0, 0, 2};
    Result r = Transform(src.bitmap.get(), mask.get(), nullptr, 4, 4, scale, true);
    ASSERT_EQ(r.err, 0);
    for (int32_t Y = 0; Y < 8; ++Y)
        for (int32_t X = 0; X < 8; ++X) EXPECT_FALSE(Bit(r.mask.get(), X, Y));
}

TEST(TransformTest, DegenerateMatricesGiveAClearedPictureOfAtLeastOnePixel) {
    Picture src = RandomPicture(8, 8, 1);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        const char* name;
        double m[4];
        int32_t w, h;
    } cases[] = {
        {"collapsed", {0, 0, 0, 0}, 1, 1},
        {"singular", {1, 1, 2, 2}, 24, 24},
        {"nan", {nan, 0, 0, 1}, 1, 1},
        {"infinite", {inf, 0, 0, 1}, 1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Result r = Transform(src.bitmap.get(), nullptr, nullptr, 8, 8, c.m, true);
        ASSERT_EQ(r.err, 0);
        EXPECT_EQ(r.width, c.w);
        EXPECT_EQ(r.height, c.h);
        for (int32_t y = 0; y < r.height; ++y)
            for (int32_t x = 0; x < r.width; ++x) EXPECT_FALSE(Bit(r.mask.get(), x, y));
    }
    // Too large to allocate: an error, never an undersized bitmap.
    const double huge[4] = {1e12, 0, 0, 1e12};
    EXPECT_EQ(Transform(src.bitmap.get(), nullptr, nullptr, 8, 8, huge, false).err, ERR_BITMAP);
}

TEST(TransformTest, RectangleOutsideTheSourceIsRefused) {
    Picture src = RandomPicture(4, 4, 2);
    const double id[4] = {1, 0, 0, 1};
    qbBitmap* out = nullptr;
    EXPECT_EQ(TransformBitmap(src.bitmap.get(), nullptr, nullptr, 2, 0, 3, 4, id, false, &out, nullptr, nullptr,
                              nullptr, nullptr),
              ERR_COORDSRANGE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(TransformBitmap(src.bitmap.get(), nullptr, nullptr, 0, 0, 0, 4, id, false, &out, nullptr, nullptr,
                              nullptr, nullptr),
              ERR_COORDSRANGE);
}

// 0xAARRGGBB pixels take a row path of their own, in a baseline and an AVX2
// form; the same picture stored as A,B,G,R words goes through the general
// per-pixel sampling. All must give the same colours, planes and coverage,
// turned and scaled, nearest and smooth, with an alpha plane and without.
// The AVX2 run also clears what it does not cover, so it must leave 0 where
// the others leave the destination untouched.
TEST(TransformTest, PlainRowsAgreeWithTheGeneralSampling) {
    constexpr int32_t kW = 37, kH = 23, kOut = 64;
    constexpr uint32_t kUntouched = 0xDEADBEEF;
    std::mt19937 rng(7);
    std::vector<uint32_t> argb(kW * kH), abgr(kW * kH);
    std::vector<uint8_t> alpha(kW * kH);
    for (size_t i = 0; i < argb.size(); ++i) {
        argb[i] = rng() & 0xFFFFFF;
        const uint32_t r = argb[i] >> 16, g = (argb[i] >> 8) & 0xFF, b = argb[i] & 0xFF;
        abgr[i] = (b << 16) | (g << 8) | r;
        alpha[i] = static_cast<uint8_t>(rng());
    }
    const double turn = 0.6;
    const double matrices[][6] = {{std::cos(turn), std::sin(turn), -std::sin(turn), std::cos(turn), 20, 3},
                                  {1.7, 0, 0, 2.3, 1.25, -0.5},
                                  {-1, 0.2, 0.1, 1.3, 45, 2},
                                  {0.31, -0.83, 0.77, 0.29, 9.3, 40.1}};
    for (const auto& m : matrices)
        for (bool smooth : {false, true})
            for (bool withAlpha : {false, true}) {
                // 0: general sampling, 1: baseline rows, 2: AVX2 rows (or the
                // baseline where the processor lacks it).
                std::vector<uint32_t> out[3];
                std::vector<uint8_t> mask[3], planes[3];
                for (int k = 0; k < 3; ++k) {
                    out[k].assign(kOut * kOut, kUntouched);
                    mask[k].assign(kOut / 8 * kOut, 0);
                    planes[k].assign(kOut * kOut, 0);
                    qbTransformRequest r;
                    r.srcPixels = k == 0 ? abgr.data() : argb.data();
                    r.srcFormat = r.dstFormat = k == 0 ? 13 : 10;
                    r.srcWidth = kW;
                    r.srcHeight = kH;
                    r.srcRowLength = kW;
                    r.dstPixels = out[k].data();
                    r.dstWidth = r.dstHeight = r.dstRowLength = kOut;
                    if (withAlpha) {
                        r.srcAlpha = alpha.data();
                        r.srcAlphaRowBytes = kW;
                        r.dstAlpha = planes[k].data();
                        r.dstAlphaRowBytes = kOut;
                    } else {
                        r.dstMask = mask[k].data();
                        r.dstMaskRowBytes = kOut / 8;
                    }
                    std::copy(std::begin(m), std::end(m), r.matrix);
                    r.smooth = smooth;
                    r.clearUncovered = k == 2;
                    TransformPixelsWith(r, k == 2 ? KernelIsa::Avx2 : KernelIsa::Sse2);
                }
                for (uint32_t& p : out[0])
                    if (p != kUntouched) p = ((p & 0xFF) << 16) | (p & 0xFF00) | ((p >> 16) & 0xFF);
                EXPECT_EQ(out[0], out[1]) << "smooth " << smooth << " alpha " << withAlpha;
                EXPECT_EQ(mask[0], mask[1]);
                EXPECT_EQ(planes[0], planes[1]);
                for (uint32_t& p : out[1])
                    if (p == kUntouched) p = 0;
                EXPECT_EQ(out[1], out[2]) << "smooth " << smooth << " alpha " << withAlpha;
                EXPECT_EQ(mask[1], mask[2]);
                EXPECT_EQ(planes[1], planes[2]);
            }
}
