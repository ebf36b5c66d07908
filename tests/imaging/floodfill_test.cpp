// The scan-line flood fill against a plain breadth-first fill on random
// pictures, its border and seed rules, 2-byte pixels, and a maze the size
// of the largest brushes scripts make.
#include "imaging/floodfill.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "floodfillmaze.h"

namespace {

TEST(FloodFill, MatchesTheReferenceOnRandomPictures) {
    std::mt19937 rng(5);
    for (int round = 0; round < 60; ++round) {
        const int32_t w = 1 + static_cast<int32_t>(rng() % 40), h = 1 + static_cast<int32_t>(rng() % 30);
        const int32_t row = w + static_cast<int32_t>(rng() % 3);
        // Border red (with any top byte), other pixels from a few colours,
        // never the fill colour.
        std::vector<uint32_t> px(static_cast<size_t>(row) * h);
        for (uint32_t& p : px) p = (rng() % 3 == 0 ? 0xFF0000u : 0x000100u * (rng() % 4)) | (rng() & 0xFF000000u);
        auto a = px, b = px;
        const int32_t x = static_cast<int32_t>(rng() % w), y = static_cast<int32_t>(rng() % h);
        ASSERT_EQ(FloodFill32({a.data(), row, 0, 0}, w, h, x, y, 0xFF0000, 0x00FFFF, 0x00FFFFFFu), 0);
        ASSERT_EQ(FloodFill32Ref({b.data(), row, 0, 0}, w, h, x, y, 0xFF0000, 0x00FFFF, 0x00FFFFFFu), 0);
        ASSERT_EQ(a, b) << round;
    }
}

// The scan-line walk turning to row order at any point gives the scan-line
// walk's pixels, also where pixels of the fill colour lie inside the area
// (such a pixel never starts a run but is painted with the run it lies in),
// on rows wider than one bit word and with the seed low in the picture.
TEST(FloodFill, RowOrderTurnMatchesTheScanLineWalk) {
    std::mt19937 rng(11);
    constexpr int64_t kNever = INT64_MAX;
    for (int round = 0; round < 400; ++round) {
        const int32_t w = 1 + static_cast<int32_t>(rng() % 150), h = 1 + static_cast<int32_t>(rng() % 60);
        const int32_t row = w + static_cast<int32_t>(rng() % 3);
        const uint32_t borderShare = 2 + rng() % 4, fillShare = round % 3 == 0 ? 40 : 1000000;
        std::vector<uint32_t> px(static_cast<size_t>(row) * h);
        for (uint32_t& p : px) {
            const uint32_t colour = rng() % borderShare == 0 ? 0xFF0000u
                                    : rng() % fillShare == 0 ? 0x00FFFFu
                                                             : 0x000100u * (rng() % 4);
            p = colour | (rng() & 0xFF000000u);
        }
        const int32_t x = static_cast<int32_t>(rng() % w), y = static_cast<int32_t>(rng() % h);
        const int64_t budget = rng() % 4 == 0 ? 0 : static_cast<int64_t>(rng() % 2000);
        const auto isa = static_cast<KernelIsa>(round % 4);  // portable, SSE2, AVX2, AVX-512
        auto a = px, b = px;
        ASSERT_EQ(FloodFill32With(isa, budget, {a.data(), row, 0, 0}, w, h, x, y, 0xFF0000, 0x00FFFF, 0x00FFFFFFu), 0);
        ASSERT_EQ(FloodFill32With(isa, kNever, {b.data(), row, 0, 0}, w, h, x, y, 0xFF0000, 0x00FFFF, 0x00FFFFFFu), 0);
        ASSERT_EQ(a, b) << round;
        std::vector<uint16_t> p16(px.size()), c(px.size()), d(px.size());
        for (size_t i = 0; i < px.size(); ++i)
            p16[i] = px[i] == 0xFF0000u ? uint16_t{0xF800} : static_cast<uint16_t>(px[i] >> 8);
        c = d = p16;
        ASSERT_EQ(FloodFill16With(isa, budget, {c.data(), row, 0, 0}, w, h, x, y, 0xF800, 0x00FF), 0);
        ASSERT_EQ(FloodFill16With(isa, kNever, {d.data(), row, 0, 0}, w, h, x, y, 0xF800, 0x00FF), 0);
        ASSERT_EQ(c, d) << round;
    }
}

TEST(FloodFill, SeedRulesAndPixelSizes) {
    // Alpha bytes are neither compared nor written.
    std::vector<uint32_t> px = {0x11000000u, 0x22FF0000u, 0x33000000u};
    ASSERT_EQ(FloodFill32({px.data(), 3, 0, 0}, 3, 1, 1, 0, 0xFF0000, 0x0000FF, 0x00FFFFFFu), 0);
    EXPECT_EQ(px, (std::vector<uint32_t>{0x11000000u, 0x22FF0000u, 0x33000000u}));  // seed on the border
    ASSERT_EQ(FloodFill32({px.data(), 3, 0, 0}, 3, 1, 0, 0, 0xFF0000, 0x0000FF, 0x00FFFFFFu), 0);
    EXPECT_EQ(px, (std::vector<uint32_t>{0x110000FFu, 0x22FF0000u, 0x33000000u}));
    // BGRA-style words keep the low byte.
    std::vector<uint32_t> bgra = {0x000000AAu, 0xFF0000BBu};
    ASSERT_EQ(FloodFill32({bgra.data(), 2, 0, 0}, 2, 1, 0, 0, 0xFF000000u, 0x00FF0000u, ColourBitsMask32(11)), 0);
    EXPECT_EQ(bgra, (std::vector<uint32_t>{0x00FF00AAu, 0xFF0000BBu}));
    // 2-byte pixels compare whole values: 0xF801 is no border of 0xF800.
    std::vector<uint16_t> p16 = {0x0000, 0xF801, 0xF800, 0x0000};
    ASSERT_EQ(FloodFill16({p16.data(), 4, 0, 0}, 4, 1, 0, 0, 0xF800, 0x001F), 0);
    EXPECT_EQ(p16, (std::vector<uint16_t>{0x001F, 0x001F, 0xF800, 0x0000}));
}

TEST(FloodFill, LargeMazeFillsWithoutDeepRecursion) {
    const int32_t n = 4096;
    std::vector<uint32_t> px = RingMaze(n, 0xFF0000u, 0u);
    const auto open = static_cast<size_t>(std::count(px.begin(), px.end(), 0u));
    ASSERT_EQ(FloodFill32({px.data(), n, 0, 0}, n, n, 0, 0, 0xFF0000, 0x00FF00, 0x00FFFFFFu), 0);
    EXPECT_EQ(static_cast<size_t>(std::count(px.begin(), px.end(), 0x00FF00u)), open);
    // A small maze agrees with the reference pixel for pixel.
    std::vector<uint32_t> a = RingMaze(37, 0xFF0000u, 0u), b = a;
    ASSERT_EQ(FloodFill32({a.data(), 37, 0, 0}, 37, 37, 0, 0, 0xFF0000, 0x00FF00, 0x00FFFFFFu), 0);
    ASSERT_EQ(FloodFill32Ref({b.data(), 37, 0, 0}, 37, 37, 0, 0, 0xFF0000, 0x00FF00, 0x00FFFFFFu), 0);
    EXPECT_EQ(a, b);
}

}  // namespace
