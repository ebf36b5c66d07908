// Wide lines: the spans of the documented cases, end order, a plain
// step-by-step reference of the rule, and huge widths and far ends that
// must cost only what is visible.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "imaging/wideline.h"

namespace {

constexpr int32_t kSize = 64;

struct Canvas {
    std::vector<uint32_t> pixels = std::vector<uint32_t>(kSize * kSize, 0);
    BlendContext Context(int32_t width) {
        BlendContext c;
        c.pixels = pixels.data();
        c.rowLength = kSize;
        c.clip = {0, 0, kSize, kSize};
        c.colour = 0xFFFFFF;
        c.lineWidth = width;
        return c;
    }
    std::set<std::pair<int32_t, int32_t>> Set() const {
        std::set<std::pair<int32_t, int32_t>> s;
        for (int32_t y = 0; y < kSize; ++y)
            for (int32_t x = 0; x < kSize; ++x)
                if (pixels[y * kSize + x]) s.insert({x, y});
        return s;
    }
};

using Pixels = std::set<std::pair<int32_t, int32_t>>;

Pixels Draw(int32_t w, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    Canvas c;
    DrawWideLine(c.Context(w), x1, y1, x2, y2);
    return c.Set();
}

// The rule step by step, every span whole, kept where it lands on the canvas.
Pixels Reference(int32_t w, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    Pixels out;
    auto plot = [&](int64_t x, int64_t y) {
        if (x >= 0 && x < kSize && y >= 0 && y < kSize) out.insert({static_cast<int32_t>(x), static_cast<int32_t>(y)});
    };
    const int64_t dx = std::llabs(int64_t{x2} - x1), dy = std::llabs(int64_t{y2} - y1);
    if (dx < dy) {
        if (y2 < y1) std::swap(x1, x2), std::swap(y1, y2);
        const double s = std::sin(std::atan2(double(dy), double(dx)));
        int64_t n = s == 0 ? 1 : static_cast<int64_t>(w / s);
        if (n == 0) n = 1;
        const int64_t half = n / 2;
        int64_t x = x1, e = 2 * dx - dy;
        for (int64_t y = y1; y <= y2; ++y) {
            for (int64_t i = 0; i < n; ++i) plot(x - half + i, y);
            if (e >= 0) x += x2 >= x1 ? 1 : -1, e += 2 * (dx - dy);
            else e += 2 * dx;
        }
    } else {
        if (x2 < x1) std::swap(x1, x2), std::swap(y1, y2);
        const double c = std::cos(std::atan2(double(dy), double(dx)));
        int64_t n = (dx == 0 && dy == 0) || c == 0 ? 1 : static_cast<int64_t>(w / c);
        if (n == 0) n = 1;
        const int64_t half = n / 2;
        int64_t y = y1, e = 2 * dy - dx;
        for (int64_t x = x1; x <= x2; ++x) {
            for (int64_t i = 0; i < n; ++i) plot(x, y - half + i);
            if (e >= 0) y += y2 >= y1 ? 1 : -1, e += 2 * (dy - dx);
            else e += 2 * dy;
        }
    }
    return out;
}

}  // namespace

TEST(WideLine, DocumentedSpans) {
    EXPECT_EQ(Draw(5, 10, 10, 10, 10), (Pixels{{10, 10}}));
    Pixels horizontal;
    for (int32_t x = 3; x <= 8; ++x)
        for (int32_t y = 19; y <= 21; ++y) horizontal.insert({x, y});
    EXPECT_EQ(Draw(3, 3, 20, 8, 20), horizontal);
    Pixels diagonal;
    for (int32_t k = 0; k <= 6; ++k)
        for (int32_t y = 10 + k - 2; y <= 10 + k + 1; ++y) diagonal.insert({5 + k, y});
    EXPECT_EQ(Draw(3, 5, 10, 11, 16), diagonal);
    Canvas one;
    DrawPixelLine(one.Context(40), 0, 0, 9, 3);
    EXPECT_EQ(one.Set().size(), 10u);
}

TEST(WideLine, MatchesTheRuleInEitherDirection) {
    std::mt19937 rng(9);
    std::uniform_int_distribution<int32_t> coord(-20, kSize + 20);
    for (int i = 0; i < 3000; ++i) {
        const int32_t w = 1 + static_cast<int32_t>(rng() % 9);
        const int32_t x1 = coord(rng), y1 = coord(rng), x2 = coord(rng), y2 = coord(rng);
        const Pixels p = Draw(w, x1, y1, x2, y2);
        ASSERT_EQ(p, Reference(w, x1, y1, x2, y2)) << w << ": " << x1 << "," << y1 << " " << x2 << "," << y2;
        ASSERT_EQ(p, Draw(w, x2, y2, x1, y1)) << w << ": " << x1 << "," << y1 << " " << x2 << "," << y2;
    }
}

TEST(WideLine, HugeWidthsAndFarEndsCostOnlyWhatShows) {
    constexpr int32_t kHuge = 2147483647;
    Pixels columns;
    for (int32_t x = 10; x <= 50; ++x)
        for (int32_t y = 0; y < kSize; ++y) columns.insert({x, y});
    EXPECT_EQ(Draw(kHuge, 10, 30, 50, 33), columns);
    EXPECT_EQ(Draw(kHuge, 50, 33, 10, 30), columns);
    // Ends 2^32 apart: only the 64 visible steps are walked.
    EXPECT_EQ(Draw(kHuge, INT32_MIN, INT32_MIN + 7, INT32_MAX, INT32_MAX - 3).size(), size_t{kSize} * kSize);
    const Pixels thin = Draw(1, INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX);
    EXPECT_EQ(thin.size(), size_t{kSize});
    for (int32_t k = 0; k < kSize; ++k) EXPECT_TRUE(thin.count({k, k})) << k;
    EXPECT_EQ(Draw(1, -1000000, 5, 1000000, 5).size(), size_t{kSize});
}
