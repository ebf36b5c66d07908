// The integer square root and the threshold map against their plain
// definitions, and the pixel zoom's blocks against the in-place pixelate.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "imaging/effectkernels.h"

TEST(IntSqrt, SmallValuesAndEdges) {
    EXPECT_EQ(IntSqrt(-1), -1);
    EXPECT_EQ(IntSqrt(std::numeric_limits<int32_t>::min()), -1);
    EXPECT_EQ(IntSqrt(0), 0);
    EXPECT_EQ(IntSqrt(1), 1);
    EXPECT_EQ(IntSqrt(3), 1);
    EXPECT_EQ(IntSqrt(4), 2);
    EXPECT_EQ(IntSqrt(255), 15);
    EXPECT_EQ(IntSqrt(256), 16);
    EXPECT_EQ(IntSqrt(65535), 255);
    EXPECT_EQ(IntSqrt(65536), 256);
    EXPECT_EQ(IntSqrt(std::numeric_limits<int32_t>::max()), 46340);
}

TEST(IntSqrt, MatchesTheDefinition) {
    for (int32_t n = 0; n < 300000; ++n) ASSERT_EQ(IntSqrt(n), IntSqrtRef(n)) << n;
    for (int64_t r = 0; r <= 46340; ++r) {
        const auto sq = static_cast<int32_t>(r * r);
        ASSERT_EQ(IntSqrt(sq), r);
        if (sq > 0) {
            ASSERT_EQ(IntSqrt(sq - 1), r - 1);
        }
    }
    std::mt19937 rng(9);
    for (int k = 0; k < 200000; ++k) {
        const auto n = static_cast<int32_t>(rng() >> 1);
        ASSERT_EQ(IntSqrt(n), IntSqrtRef(n)) << n;
    }
}

TEST(ThresholdMap, EdgesOfBothPlaneKinds) {
    const std::vector<uint8_t> map = {0, 10, 20, 30, 40, 50, 60, 70, 80, 90};
    std::vector<uint8_t> plane(10, 9);
    ThresholdRecord r;
    r.destination = plane.data();
    r.width = 10;
    r.height = 1;
    r.destinationPitch = 10;
    r.map = map.data();
    r.eightBit = true;
    ThresholdMapToMask(r, 30);
    EXPECT_EQ(plane, (std::vector<uint8_t>{255, 255, 255, 0, 0, 0, 0, 0, 0, 0}));
    r.invert = true;
    ThresholdMapToMask(r, 30);
    EXPECT_EQ(plane, (std::vector<uint8_t>{0, 0, 0, 255, 255, 255, 255, 255, 255, 255}));
    std::vector<uint8_t> mask = {0x00, 0x3F};
    const std::vector<uint8_t> src = {0xF0, 0xFF};
    r = {};
    r.source = src.data();
    r.destination = mask.data();
    r.width = 10;
    r.height = 1;
    r.sourcePitch = 2;
    r.destinationPitch = 2;
    r.map = map.data();
    ThresholdMapToMask(r, 85);
    EXPECT_EQ(mask[0], 0xF0);
    EXPECT_EQ(mask[1], 0x80 | 0x3F);  // bits past the width are left
}

TEST(ThresholdMap, MatchesTheReference) {
    std::mt19937 rng(11);
    constexpr int32_t kRows = 5, kPitch = 80;
    for (int32_t w = 1; w <= 67; ++w) {
        std::vector<uint8_t> map(static_cast<size_t>(w) * kRows), src(kPitch * kRows);
        for (auto& b : map) b = static_cast<uint8_t>(rng());
        for (auto& b : src) b = static_cast<uint8_t>(rng());
        for (int variant = 0; variant < 8; ++variant) {
            std::vector<uint8_t> a(kPitch * kRows);
            for (auto& b : a) b = static_cast<uint8_t>(rng());
            auto b = a;
            ThresholdRecord r;
            r.source = (variant & 1) != 0 ? src.data() + 1 : nullptr;
            r.width = w;
            r.height = kRows;
            r.sourcePitch = kPitch - 3;
            r.destinationPitch = kPitch - 1;
            r.map = map.data();
            r.eightBit = (variant & 2) != 0;
            r.invert = (variant & 4) != 0;
            const uint32_t threshold = rng() % 257;
            r.destination = a.data() + 1;
            ThresholdMapToMask(r, threshold);
            r.destination = b.data() + 1;
            ThresholdMapToMaskRef(r, threshold);
            ASSERT_EQ(a, b) << w << " variant " << variant;
        }
    }
}

#include "imaging/kernels.h"

// The source-to-destination pixelate equals a copy pixelated in place, with
// both plane kinds, odd sizes, blocks of 1 to beyond the size, and tails.
TEST(PixelatePixels, EqualsThePixelateInPlace) {
    std::mt19937 rng(11);
    for (int32_t w : {1, 7, 9, 33}) {
        for (int32_t h : {1, 5, 26}) {
            for (int32_t block : {1, 2, 3, 8, 24, 40}) {
                const int32_t pitch = w + 3, maskPitch = (w + 7) / 8 + 1, alphaPitch = w + 2;
                std::vector<uint32_t> src32(size_t(pitch) * h);
                std::vector<uint16_t> src16(src32.size());
                std::vector<uint8_t> mask(size_t(maskPitch) * h), alpha(size_t(alphaPitch) * h);
                for (auto& v : src32) v = rng();
                for (auto& v : src16) v = static_cast<uint16_t>(rng());
                for (auto& v : mask) v = static_cast<uint8_t>(rng());
                for (auto& v : alpha) v = static_cast<uint8_t>(rng() % 3 ? rng() : 0);
                for (int planes = 0; planes < 3; ++planes) {
                    const bool useMask = planes == 1, useAlpha = planes == 2;
                    std::vector<uint32_t> in32 = src32, out32(src32.size());
                    std::vector<uint16_t> in16 = src16, out16(src16.size());
                    std::vector<uint8_t> inMask = mask, outMask(mask.size()), inAlpha = alpha,
                                         outAlpha(alpha.size());
                    qbPixelateRecord r;
                    r.sourcePitch = r.destinationPitch = pitch;
                    r.width = w;
                    r.height = h;
                    r.block = block;
                    if (useMask) {
                        r.sourceMask = mask.data();
                        r.destinationMask = outMask.data();
                        r.sourceMaskPitch = r.destinationMaskPitch = maskPitch;
                    }
                    if (useAlpha) {
                        r.sourceAlpha = alpha.data();
                        r.destinationAlpha = outAlpha.data();
                        r.sourceAlphaPitch = r.destinationAlphaPitch = alphaPitch;
                    }
                    r.source = src32.data();
                    r.destination = out32.data();
                    PixelatePixels32(r);
                    r.source = src16.data();
                    r.destination = out16.data();
                    PixelatePixels16(r);
                    const MaskRows m{useMask ? inMask.data() : nullptr, maskPitch, 0, 0};
                    const AlphaRows a{useAlpha ? inAlpha.data() : nullptr, alphaPitch, 0, 0};
                    Pixelate32({in32.data(), pitch, 0, 0}, w, h, block, m, a);
                    Pixelate16({in16.data(), pitch, 0, 0}, w, h, block, m, a);
                    for (int32_t y = 0; y < h; ++y)
                        for (int32_t x = 0; x < w; ++x) {
                            const size_t i = size_t(y) * pitch + x;
                            ASSERT_EQ(out32[i], in32[i]) << w << "x" << h << " block " << block << " at " << x << "," << y;
                            ASSERT_EQ(out16[i], in16[i]) << w << "x" << h << " block " << block;
                            if (useAlpha) {
                                ASSERT_EQ(outAlpha[size_t(y) * alphaPitch + x], inAlpha[size_t(y) * alphaPitch + x]);
                            }
                            if (useMask) {
                                const auto bit = [&](const std::vector<uint8_t>& p) {
                                    return (p[size_t(y) * maskPitch + x / 8] >> (7 - x % 8)) & 1;
                                };
                                ASSERT_EQ(bit(outMask), bit(inMask)) << x << "," << y;
                            }
                        }
                }
            }
        }
    }
}
