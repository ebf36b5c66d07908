// The integer square root and the threshold map against their plain
// definitions.
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
