// Polygon scan conversion into mask planes: the crossing rule, the last
// scan line, and cutting to the plane without changing the bits inside.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "display/polygonfill.h"
#include "imaging/bitmap.h"

namespace {

struct Plane {
    Plane(int32_t w, int32_t h) : width(w), height(h), rowBytes(static_cast<uint32_t>((w + 7) / 8)) {
        // Canary bytes before and after the rows catch writes off the plane.
        bytes.assign(kGuard + rowBytes * static_cast<size_t>(h) + kGuard, 0);
    }
    uint8_t* Rows() { return bytes.data() + kGuard; }
    bool Bit(int32_t x, int32_t y) const {
        return (bytes[kGuard + static_cast<size_t>(y) * rowBytes + (x >> 3)] >> (7 - (x & 7))) & 1;
    }
    bool GuardsClean() const {
        return std::all_of(bytes.begin(), bytes.begin() + kGuard, [](uint8_t b) { return b == 0; }) &&
               std::all_of(bytes.end() - kGuard, bytes.end(), [](uint8_t b) { return b == 0; });
    }
    void Fill(const std::vector<qbPolygonPoint>& points) {
        std::vector<int32_t> work(points.size());
        FillPolygonBytes(Rows(), rowBytes, width, height, work.data(), points.data(),
                         static_cast<int32_t>(points.size()));
    }
    static constexpr size_t kGuard = 64;
    int32_t width, height;
    uint32_t rowBytes;
    std::vector<uint8_t> bytes;
};

// The rule written out pixel by pixel: a pixel is set when it lies between
// an even and the following odd crossing of its scan line.
bool Reference(const std::vector<qbPolygonPoint>& p, int32_t px, int32_t y) {
    int32_t ymin = p[0].y, ymax = p[0].y;
    for (const auto& q : p) ymin = std::min(ymin, q.y), ymax = std::max(ymax, q.y);
    if (y < ymin || y > ymax) return false;
    std::vector<int32_t> xs;
    const size_t n = p.size();
    for (size_t i = 0; i < n; ++i) {
        qbPolygonPoint a = p[(i + n - 1) % n], b = p[i];
        if (a.y == b.y) continue;
        if (a.y > b.y) std::swap(a, b);
        if ((a.y <= y && y < b.y) || (y == ymax && a.y < y && y <= b.y)) {
            const float f = float((b.x - a.x) * (y - a.y)) / float(b.y - a.y);
            xs.push_back(int32_t(double(f) + 0.5 + a.x));
        }
    }
    std::sort(xs.begin(), xs.end());
    for (size_t k = 0; k + 1 < xs.size(); k += 2)
        if (xs[k] <= px && px <= xs[k + 1]) return true;
    return false;
}

TEST(PolygonFill, TriangleRowsAndTheLastScanLine) {
    Plane plane(8, 8);
    plane.Fill({{0, 0}, {4, 0}, {0, 4}});
    auto row = [&](int32_t y) {
        std::string s;
        for (int32_t x = 0; x < 8; ++x) s += plane.Bit(x, y) ? '#' : '.';
        return s;
    };
    EXPECT_EQ(row(0), "#####...");
    EXPECT_EQ(row(2), "###.....");
    EXPECT_EQ(row(4), "#.......");
    EXPECT_EQ(row(5), "........");
}

TEST(PolygonFill, FlatPolygonSetsNothingAndBitsOutsideStay) {
    Plane plane(16, 4);
    plane.Rows()[0] = 0x01;
    plane.Fill({{0, 1}, {10, 1}, {5, 1}});
    EXPECT_EQ(plane.Rows()[0], 0x01);
    for (size_t i = 1; i < plane.rowBytes * 4u; ++i) EXPECT_EQ(plane.Rows()[i], 0) << i;
    plane.Fill({{2, 0}, {4, 0}, {4, 0}});  // one crossing-free line as well
    EXPECT_EQ(plane.Rows()[0], 0x01);
}

TEST(PolygonFill, CuttingToThePlaneKeepsTheBitsInside) {
    std::mt19937 rng(7);
    // Crossings truncate toward zero, so only a shift in y leaves them all
    // as they were; x reaches past the right edge instead of the left.
    std::uniform_int_distribution<int32_t> xs(0, 50), ys(-20, 36);
    for (int round = 0; round < 300; ++round) {
        std::vector<qbPolygonPoint> poly(3 + round % 5);
        for (auto& q : poly) q = {xs(rng), ys(rng)};
        Plane small(16, 16);
        Plane big(64, 80);
        small.Fill(poly);
        std::vector<qbPolygonPoint> shifted = poly;
        for (auto& q : shifted) q.y += 30;
        big.Fill(shifted);
        ASSERT_TRUE(small.GuardsClean()) << round;
        for (int32_t y = 0; y < 16; ++y)
            for (int32_t x = 0; x < 16; ++x) ASSERT_EQ(small.Bit(x, y), big.Bit(x, y + 30)) << round;
    }
}

TEST(PolygonFill, RandomPolygonsFollowTheRule) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<int32_t> coord(0, 39);
    for (int round = 0; round < 200; ++round) {
        std::vector<qbPolygonPoint> poly(3 + round % 6);
        for (auto& q : poly) q = {coord(rng), coord(rng)};
        Plane plane(40, 40);
        plane.Fill(poly);
        for (int32_t y = 0; y < 40; ++y)
            for (int32_t x = 0; x < 40; ++x) ASSERT_EQ(plane.Bit(x, y), Reference(poly, x, y)) << round;
    }
}

// A span sets its ends' partial bytes and the whole bytes between, for
// every start and end within and across bytes, and keeps the bits that
// were set around and inside it.
TEST(PolygonFill, SpansSetEveryBitBetweenTheirEnds) {
    for (int32_t x0 = 0; x0 < 24; ++x0)
        for (int32_t x1 = x0; x1 < 40; ++x1) {
            Plane plane(48, 3);
            for (uint32_t i = 0; i < plane.rowBytes * 3u; ++i) plane.Rows()[i] = 0x24;
            plane.Fill({{x0, 0}, {x1, 0}, {x1, 2}, {x0, 2}});
            ASSERT_TRUE(plane.GuardsClean());
            for (int32_t y = 0; y < 3; ++y)
                for (int32_t x = 0; x < 48; ++x) {
                    const bool before = (0x24 >> (7 - (x & 7))) & 1;
                    ASSERT_EQ(plane.Bit(x, y), before || Reference({{x0, 0}, {x1, 0}, {x1, 2}, {x0, 2}}, x, y))
                        << x0 << ".." << x1 << " at " << x << "," << y;
                }
        }
}

TEST(PolygonFill, MaskPlaneWithoutAWorkBuffer) {
    BitmapPtr mask(AllocMask(nullptr, 10, 10, true, nullptr, 0));
    ASSERT_TRUE(mask);
    const std::vector<qbPolygonPoint> box{{2, 2}, {6, 2}, {6, 6}, {2, 6}};
    FillPolygonMask(mask.get(), box.data(), 4, nullptr);
    for (int32_t y = 0; y < 10; ++y)
        for (int32_t x = 0; x < 10; ++x)
            EXPECT_EQ(ReadBitmapPixel(mask.get(), x, y, true), Reference(box, x, y) ? 1u : 0u) << x << "," << y;
}

}  // namespace
