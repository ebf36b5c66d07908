// The engine's own anti-aliased rasteriser against FreeType's gray one on the
// same outlines: random polygons reaching past every border under both fill
// rules, and curves; and its rows handed over one by one against its whole
// raster.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include "vector/coverage.h"

namespace {

struct Library {
    FT_Library lib = nullptr;
    Library() { FT_Init_FreeType(&lib); }
    ~Library() { FT_Done_FreeType(lib); }
};

struct Outline {
    std::vector<FT_Vector> points;
    std::vector<char> tags;
    std::vector<short> ends;
    int flags = 0;

    void Point(FT_Pos x, FT_Pos y, char tag = FT_CURVE_TAG_ON) {
        points.push_back({x, y});
        tags.push_back(tag);
    }
    void End() { ends.push_back(static_cast<short>(points.size() - 1)); }
    FT_Outline View() {
        FT_Outline o{};
        o.n_points = static_cast<short>(points.size());
        o.n_contours = static_cast<short>(ends.size());
        o.points = points.data();
        o.tags = tags.data();
        o.contours = ends.data();
        o.flags = flags;
        return o;
    }
};

struct Difference {
    int worst = 0;
    double mean = 0;
};

// Ours into a buffer full of junk with padded rows, FreeType's into a
// cleared one laid out the same; the padding must stay as it was.
Difference Compare(Outline& shape, int width, int height) {
    static Library ft;
    const int pitch = width + 3;
    std::vector<uint8_t> ours(static_cast<size_t>(pitch) * height, 0xA5);
    std::vector<uint8_t> theirs(ours.size(), 0);
    FT_Outline o = shape.View();
    EXPECT_TRUE(RasteriseCoverage(&o, ours.data(), pitch, width, height));
    FT_Bitmap bm{};
    bm.rows = static_cast<unsigned>(height);
    bm.width = static_cast<unsigned>(width);
    bm.pitch = -pitch;
    bm.buffer = theirs.data();
    bm.num_grays = 256;
    bm.pixel_mode = FT_PIXEL_MODE_GRAY;
    EXPECT_EQ(FT_Outline_Get_Bitmap(ft.lib, &o, &bm), 0);
    Difference d;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int diff = std::abs(ours[y * pitch + x] - theirs[y * pitch + x]);
            d.worst = std::max(d.worst, diff);
            d.mean += diff;
        }
        for (int x = width; x < pitch; ++x) EXPECT_EQ(ours[y * pitch + x], 0xA5);
    }
    d.mean /= double(width) * height;
    return d;
}

TEST(Coverage, RandomPolygonsMatchFreeTypesGrayRasteriser) {
    std::mt19937 rng(62);
    for (int round = 0; round < 400; ++round) {
        const int width = 1 + static_cast<int>(rng() % 40), height = 1 + static_cast<int>(rng() % 30);
        Outline shape;
        const int contours = 1 + static_cast<int>(rng() % 3);
        for (int c = 0; c < contours; ++c) {
            const int n = 3 + static_cast<int>(rng() % 8);
            // 26.6 points from 10 px outside the raster to 10 px beyond it.
            for (int i = 0; i < n; ++i)
                shape.Point(static_cast<FT_Pos>(rng() % ((width + 20) * 64)) - 640,
                            static_cast<FT_Pos>(rng() % ((height + 20) * 64)) - 640);
            shape.End();
        }
        if (round & 1) shape.flags = FT_OUTLINE_EVEN_ODD_FILL;
        const Difference d = Compare(shape, width, height);
        ASSERT_LE(d.worst, 3) << "round " << round;
    }
}

TEST(Coverage, CurvesStayCloseToFreeTypes) {
    // A circle of radius 40 from four cubics and a ring of conics inside it.
    Outline shape;
    const double k = 0.5523 * 40, cx = 50.3, cy = 45.7;
    const auto P = [&](double x, double y, char tag) {
        shape.Point(std::lround(x * 64), std::lround(y * 64), tag);
    };
    P(cx + 40, cy, FT_CURVE_TAG_ON);
    const double q[4][2] = {{0, 1}, {-1, 0}, {0, -1}, {1, 0}};
    for (int i = 0; i < 4; ++i) {
        const double* a = i ? q[i - 1] : q[3];
        const double* b = q[i];
        P(cx + 40 * a[0] + k * b[0], cy + 40 * a[1] + k * b[1], FT_CURVE_TAG_CUBIC);
        P(cx + 40 * b[0] + k * a[0], cy + 40 * b[1] + k * a[1], FT_CURVE_TAG_CUBIC);
        if (i < 3) P(cx + 40 * b[0], cy + 40 * b[1], FT_CURVE_TAG_ON);
    }
    shape.End();
    for (int i = 0; i < 8; ++i) {
        const double t = i * M_PI / 4, u = t + M_PI / 8;
        P(cx + 20 * std::cos(t), cy + 20 * std::sin(t), FT_CURVE_TAG_ON);
        P(cx + 20 / std::cos(M_PI / 8) * std::cos(u), cy + 20 / std::cos(M_PI / 8) * std::sin(u), FT_CURVE_TAG_CONIC);
    }
    shape.End();
    shape.flags = FT_OUTLINE_EVEN_ODD_FILL;
    const Difference d = Compare(shape, 100, 90);
    // The two cut curves into lines of their own; only pixels on the edge
    // may tell them apart.
    EXPECT_LE(d.mean, 0.3);
    EXPECT_LE(d.worst, 24);
}

TEST(Coverage, BandsJoinWithoutSeams) {
    // 4100 pixels wide, the raster is swept in bands of some 250 rows: a
    // star and a curve across all of them.
    Outline shape;
    for (int i = 0; i < 14; ++i) {
        const double t = i * 6 * M_PI / 7, r = i % 2 ? 330 : 345;
        shape.Point(std::lround((2050 + 5.9 * r * std::cos(t)) * 64), std::lround((350 + r * std::sin(t)) * 64));
    }
    shape.End();
    shape.Point(100 * 64, 10 * 64);
    shape.Point(4000 * 64, 350 * 64, FT_CURVE_TAG_CONIC);
    shape.Point(100 * 64, 690 * 64);
    shape.End();
    shape.flags = FT_OUTLINE_EVEN_ODD_FILL;
    const Difference d = Compare(shape, 4100, 700);
    EXPECT_LE(d.mean, 0.05);
    EXPECT_LE(d.worst, 24);
}

TEST(Coverage, OutlinesBeyondTheCellListAreDrawnInParts) {
    // Some 2,000 edges across the whole width leave more than a million
    // cells (more than FreeType's rasteriser takes): first in three rows,
    // whose bands split down to single rows, then spread over 400 rows. Each
    // row must equal that row drawn alone, a raster of one row.
    for (const int height : {3, 400}) {
        Outline shape;
        for (int i = 0; i < 2000; ++i) {
            const FT_Pos y = height == 3 ? (i % 2 ? 110 : 20) : 20 + i * 12;
            shape.Point(i % 2 ? 1995 * 64 + i % 64 : 5 * 64 + i % 64, y);
        }
        shape.End();
        const int width = 2000;
        std::vector<uint8_t> whole(static_cast<size_t>(width) * height);
        FT_Outline o = shape.View();
        ASSERT_TRUE(RasteriseCoverage(&o, whole.data(), width, width, height));
        int worst = 0;
        std::vector<uint8_t> row(width);
        for (int r = 0; r < height; ++r) {
            Outline moved = shape;
            for (FT_Vector& p : moved.points) p.y -= r * 64;
            FT_Outline m = moved.View();
            ASSERT_TRUE(RasteriseCoverage(&m, row.data(), width, width, 1));
            for (int x = 0; x < width; ++x) worst = std::max(worst, std::abs(row[x] - whole[r * width + x]));
        }
        EXPECT_LE(worst, 1) << height;
    }
}

// Rows handed over one by one must be the whole raster's: the same bytes
// in their spans, nothing but 0 outside them or in rows not handed over,
// only rows of the window asked for, top to bottom.
struct Handed {
    int width = 0;
    std::vector<uint8_t> pixels;  // rows not handed over stay 0
    std::vector<int> order;
    bool spansBad = false;

    static void Row(void* user, int32_t r, const uint8_t* coverage, int32_t x0, int32_t x1) {
        auto* h = static_cast<Handed*>(user);
        h->order.push_back(r);
        if (x0 < 0 || x1 > h->width || x0 >= x1) h->spansBad = true;
        else std::copy(coverage + x0, coverage + x1, h->pixels.begin() + r * h->width + x0);
    }
};

void ExpectRowsMatch(Outline& shape, int width, int height, int first, int count) {
    std::vector<uint8_t> whole(static_cast<size_t>(width) * height);
    FT_Outline o = shape.View();
    ASSERT_TRUE(RasteriseCoverage(&o, whole.data(), width, width, height));
    Handed h;
    h.width = width;
    h.pixels.assign(whole.size(), 0);
    qbCoverageRows rows;
    rows.row = Handed::Row;
    rows.user = &h;
    rows.first = first;
    rows.count = count;
    ASSERT_TRUE(RasteriseCoverageRows(&o, width, height, rows));
    EXPECT_FALSE(h.spansBad);
    EXPECT_TRUE(std::is_sorted(h.order.begin(), h.order.end()));
    EXPECT_EQ(std::adjacent_find(h.order.begin(), h.order.end()), h.order.end());
    for (int y = 0; y < height; ++y) {
        const bool wanted = y >= first && y < first + count;
        for (int x = 0; x < width; ++x)
            ASSERT_EQ(h.pixels[y * width + x], wanted ? whole[y * width + x] : 0) << x << "," << y;
    }
}

TEST(Coverage, RowsHandedOverEqualTheWholeRaster) {
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        const int width = 1 + static_cast<int>(rng() % 300), height = 1 + static_cast<int>(rng() % 60);
        Outline shape;
        const int contours = 1 + static_cast<int>(rng() % 3);
        for (int c = 0; c < contours; ++c) {
            const int n = 3 + static_cast<int>(rng() % 8);
            for (int i = 0; i < n; ++i) {
                const char tag = i && rng() % 3 == 0 ? FT_CURVE_TAG_CONIC : FT_CURVE_TAG_ON;
                shape.Point(static_cast<FT_Pos>(rng() % ((width + 20) * 64)) - 640,
                            static_cast<FT_Pos>(rng() % ((height + 20) * 64)) - 640, tag);
            }
            shape.End();
        }
        if (round & 1) shape.flags = FT_OUTLINE_EVEN_ODD_FILL;
        const int first = round % 3 ? static_cast<int>(rng() % height) - 2 : 0;
        const int count = round % 3 ? static_cast<int>(rng() % (height + 4)) : height;
        ExpectRowsMatch(shape, width, height, first, count);
        if (HasFailure()) FAIL() << "round " << round;
    }
    // Bands split down to single rows by a cell list that overflows.
    Outline dense;
    for (int i = 0; i < 2000; ++i) dense.Point(i % 2 ? 1995 * 64 + i % 64 : 5 * 64 + i % 64, i % 2 ? 110 : 20);
    dense.End();
    ExpectRowsMatch(dense, 2000, 3, 0, 3);
    ExpectRowsMatch(dense, 2000, 3, 1, 1);
}

TEST(Coverage, BadSizesFail) {
    Outline shape;
    shape.Point(0, 0);
    shape.Point(640, 640);
    shape.Point(0, 640);
    shape.End();
    FT_Outline o = shape.View();
    uint8_t px[16] = {};
    EXPECT_FALSE(RasteriseCoverage(&o, px, 4, 0, 4));
    EXPECT_FALSE(RasteriseCoverage(&o, px, 3, 4, 4));
    EXPECT_FALSE(RasteriseCoverage(&o, nullptr, 4, 4, 4));
    EXPECT_FALSE(RasteriseCoverageRows(&o, 4, 4, qbCoverageRows{}));
}

}  // namespace
