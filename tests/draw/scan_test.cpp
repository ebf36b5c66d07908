// The scan engine: polygon fills against a plain reference and FreeType,
// anti-aliased and thick coverage by distance, lines, and the engine's
// memory and error rules.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "draw/scan/scan.h"
#include "scan_reference.h"

#ifdef QB_TEST_HAVE_FREETYPE
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#endif

namespace {

struct TestRaster {
    CoverageRasterPtr raster;
    uint8_t* px = nullptr;
    int32_t pitch = 0;
    TestRaster(int32_t w, int32_t h) { raster.reset(CreateCoverageRaster(w, h, &px, &pitch)); }
    uint8_t At(int32_t x, int32_t y) const { return px[y * pitch + x]; }
    ScanRasterView View() const {
        ScanRasterView v;
        DescribeRaster(raster.get(), &v);
        return v;
    }
    int Count() const {
        int n = 0;
        for (int32_t y = 0; y < raster->height; ++y)
            for (int32_t x = 0; x < raster->width; ++x) n += At(x, y) != 0;
        return n;
    }
};

TestRaster Filled(const std::vector<int32_t>& pts, int32_t w, int32_t h, int aa = 0, int32_t thickness = 0) {
    TestRaster r(w, h);
    FillPolygon(r.raster.get(), pts.data(), static_cast<int32_t>(pts.size() / 2), aa, thickness);
    EXPECT_EQ(GetScanError(), 0);
    return r;
}

// Pixel-exact comparison; the first differing pixel is reported.
void ExpectSame(const TestRaster& got, const scanref::Raster& want, const std::vector<int32_t>& pts) {
    for (int32_t y = 0; y < want.height; ++y)
        for (int32_t x = 0; x < want.width; ++x)
            if (got.At(x, y) != want.At(x, y)) {
                std::string list;
                for (int32_t v : pts) list += std::to_string(v) + " ";
                ADD_FAILURE() << "pixel " << x << "," << y << " is " << int(got.At(x, y)) << " for points " << list;
                return;
            }
}

std::vector<int32_t> RandomPolygon(std::mt19937& rng, int lo, int hi) {
    std::uniform_int_distribution<int> count(3, 8), coord(lo, hi);
    std::vector<int32_t> pts(static_cast<size_t>(count(rng)) * 2);
    for (int32_t& v : pts) v = coord(rng);
    return pts;
}

// A simple (not self-crossing) polygon: points sorted by angle around the
// middle, where the fill rules agree.
std::vector<int32_t> RandomSimplePolygon(std::mt19937& rng, int lo, int hi) {
    std::vector<int32_t> pts = RandomPolygon(rng, lo, hi);
    const double mid = (lo + hi) / 2.0;
    std::vector<std::pair<double, int>> order;
    for (size_t i = 0; i < pts.size() / 2; ++i)
        order.push_back({std::atan2(pts[2 * i + 1] - mid, pts[2 * i] - mid), static_cast<int>(i)});
    std::sort(order.begin(), order.end());
    std::vector<int32_t> out;
    for (const auto& [angle, i] : order) {
        out.push_back(pts[2 * i]);
        out.push_back(pts[2 * i + 1]);
    }
    return out;
}

}  // namespace

TEST(ScanFill, RandomPolygonsEqualTheReference) {
    std::mt19937 rng(54);
    for (int i = 0; i < 4000; ++i) {
        // Some points outside the raster, to cover clipping and negative rows.
        const std::vector<int32_t> pts = RandomPolygon(rng, i % 2 ? -6 : 0, i % 2 ? 38 : 31);
        ExpectSame(Filled(pts, 32, 32), scanref::Fill(pts, 32, 32), pts);
        if (HasFailure()) return;
    }
}

TEST(ScanFill, ManyEdgedPolygonsEqualTheReference) {
    // Rows crossed by more than 64 edges take the sweep's unsorted road;
    // 150 pixels span three words of its toggles.
    std::mt19937 rng(5454);
    std::uniform_int_distribution<int> count(40, 160), x(-10, 160), y(-5, 45);
    for (int i = 0; i < 200; ++i) {
        std::vector<int32_t> pts(static_cast<size_t>(count(rng)) * 2);
        for (size_t k = 0; k < pts.size(); k += 2) pts[k] = x(rng), pts[k + 1] = y(rng);
        ExpectSame(Filled(pts, 150, 40), scanref::Fill(pts, 150, 40), pts);
        if (HasFailure()) return;
    }
}

TEST(ScanFill, LargeShapesEqualTheReference) {
    // Wide rasters with long edges and spans of every length: stars and
    // circles (few edges a row, kept sorted), many-edged polygons reaching
    // past every side, and thin fans whose spans are a few pixels each.
    constexpr double kPi = 3.14159265358979323846;
    std::mt19937 rng(1920);
    std::vector<std::vector<int32_t>> shapes;
    for (int i = 0; i < 4; ++i) {
        std::vector<int32_t> star, circle, fan;
        const int spikes = 8 + 14 * i;
        for (int k = 0; k < 2 * spikes; ++k) {
            const double r = k % 2 ? 40 + 10 * i : 150 + 40 * i, a = k * kPi / spikes + 0.1 * i;
            star.push_back(static_cast<int32_t>(std::lround(350 + r * std::cos(a))));
            star.push_back(static_cast<int32_t>(std::lround(150 + r * std::sin(a))));
        }
        for (int k = 0; k <= 72; ++k) {
            const double a = k * 5 * kPi / 180;
            circle.push_back(static_cast<int32_t>(std::lround(300 + 37 * i + (90 + 70 * i) * std::cos(a))));
            circle.push_back(static_cast<int32_t>(std::lround(150 - (90 + 70 * i) * std::sin(a))));
        }
        for (int k = 0; k < 40; ++k) {
            fan.push_back(k % 2 ? 3 : 690);
            fan.push_back(k % 2 ? 150 : 7 * k + i);
        }
        std::uniform_int_distribution<int> x(-60, 760), y(-40, 340);
        std::vector<int32_t> random(static_cast<size_t>(100 + 150 * i) * 2);
        for (size_t k = 0; k < random.size(); k += 2) random[k] = x(rng), random[k + 1] = y(rng);
        shapes.insert(shapes.end(), {star, circle, fan, random});
    }
    for (const auto& pts : shapes) {
        ExpectSame(Filled(pts, 701, 300), scanref::Fill(pts, 701, 300), pts);
        if (HasFailure()) return;
    }
}

TEST(ScanFill, ShapesOfTheRules) {
    // The square covers exactly its 10 x 10 pixels: the sweep rows 0..8,
    // the edge lines row 9 and column 9.
    TestRaster square = Filled({0, 0, 9, 0, 9, 9, 0, 9}, 16, 16);
    EXPECT_EQ(square.Count(), 100);
    EXPECT_EQ(square.At(9, 9), 255);
    EXPECT_EQ(square.At(10, 9), 0);

    // A star in one stroke leaves its centre pentagon empty.
    const std::vector<int32_t> star = {20, 0, 32, 38, 0, 14, 40, 14, 8, 38};
    TestRaster s = Filled(star, 41, 41);
    EXPECT_EQ(s.At(20, 20), 0);
    EXPECT_EQ(s.At(20, 5), 255);
    ExpectSame(s, scanref::Fill(star, 41, 41), star);

    // One and two points: their line only.
    EXPECT_EQ(Filled({3, 4}, 8, 8).Count(), 1);
    TestRaster two = Filled({1, 1, 6, 3}, 8, 8);
    EXPECT_EQ(two.Count(), 6);
    ExpectSame(two, scanref::Fill({1, 1, 6, 3}, 8, 8), {1, 1, 6, 3});
    // Points on one row: a line and no edges.
    EXPECT_EQ(Filled({1, 2, 6, 2, 3, 2}, 8, 8).Count(), 6);
}

TEST(ScanFill, FarCoordinatesKeepTheirPixels) {
    // Beyond 32768 pixels a 32-bit 16.16 value overflows; the clipped edge
    // lines keep the pixels of the unclipped lines.
    const std::vector<std::vector<int32_t>> shapes = {
        {0, 0, 40000, 30, 2, 60},
        {-50000, -7, 40000, 63, 5, 20},
        {3, -100000, 60, 90000, -20000, 40},
    };
    for (const auto& pts : shapes) ExpectSame(Filled(pts, 64, 64), scanref::Fill(pts, 64, 64), pts);
    // A triangle far above the raster costs no time for its rows.
    TestRaster r = Filled({0, INT32_MIN, 10, INT32_MAX, 20, INT32_MIN}, 32, 32);
    EXPECT_GT(r.Count(), 0);
}

#ifdef QB_TEST_HAVE_FREETYPE
// FreeType's mono rasteriser samples pixel centres (without dropout
// control it is the plain sampling rule) and fills by the non-zero rule
// whatever the outline's flag says, so the polygons do not cross
// themselves. Its pixel centres lie half a pixel off ours, and y turns up.
TEST(ScanFill, DiffersFromFreeTypeOnlyAtEdges) {
    FT_Library lib = nullptr;
    ASSERT_EQ(FT_Init_FreeType(&lib), 0);
    std::mt19937 rng(7);
    constexpr int32_t kSize = 48;
    for (int i = 0; i < 300; ++i) {
        const std::vector<int32_t> pts = RandomSimplePolygon(rng, 0, kSize - 1);
        const int n = static_cast<int>(pts.size() / 2);
        std::vector<FT_Vector> v(static_cast<size_t>(n));
        std::vector<char> tags(static_cast<size_t>(n), FT_CURVE_TAG_ON);
        for (int k = 0; k < n; ++k) v[k] = {pts[2 * k] * 64 + 32, (kSize - pts[2 * k + 1]) * 64 - 32};
        short end = static_cast<short>(n - 1);
        FT_Outline outline{};
        outline.n_contours = 1;
        outline.n_points = static_cast<short>(n);
        outline.points = v.data();
        outline.tags = tags.data();
        outline.contours = &end;
        // Dropout control would add pixels the sampling rule does not cover.
        outline.flags = FT_OUTLINE_EVEN_ODD_FILL | FT_OUTLINE_IGNORE_DROPOUTS;
        std::vector<uint8_t> mono(static_cast<size_t>(kSize / 8) * kSize, 0);
        FT_Bitmap bm{};
        bm.rows = kSize;
        bm.width = kSize;
        bm.pitch = kSize / 8;
        bm.buffer = mono.data();
        bm.pixel_mode = FT_PIXEL_MODE_MONO;
        ASSERT_EQ(FT_Outline_Get_Bitmap(lib, &outline, &bm), 0);
        TestRaster ours = Filled(pts, kSize, kSize);
        for (int32_t y = 0; y < kSize; ++y)
            for (int32_t x = 0; x < kSize; ++x) {
                const bool ft = mono[static_cast<size_t>(y * bm.pitch + x / 8)] & (0x80 >> (x % 8));
                if (ft != (ours.At(x, y) != 0)) {
                    ASSERT_LE(scanref::EdgeDistance(pts, x, y), 1.0) << "pixel " << x << "," << y << " of polygon " << i;
                }
            }
    }
    FT_Done_FreeType(lib);
}
#endif

TEST(ScanFill, AntialiasedFillsAreSolidAwayFromEdges) {
    std::mt19937 rng(11);
    for (int i = 0; i < 500; ++i) {
        const std::vector<int32_t> pts = RandomPolygon(rng, 3, 36);
        TestRaster r = Filled(pts, 40, 40, 1);
        for (int32_t y = 0; y < 40; ++y)
            for (int32_t x = 0; x < 40; ++x) {
                if (scanref::EdgeDistance(pts, x, y) <= 2.0) continue;
                const uint8_t want = scanref::Inside(pts, x, y) ? 255 : 0;
                ASSERT_EQ(r.At(x, y), want) << "pixel " << x << "," << y << " of polygon " << i;
            }
    }
}

TEST(ScanFill, ThickOutlinesCoverTheirWidth) {
    std::mt19937 rng(3);
    for (int aa = 0; aa < 2; ++aa)
        for (int i = 0; i < 200; ++i) {
            const std::vector<int32_t> pts = RandomPolygon(rng, 12, 52);
            const int32_t t = 2 + i % 14;
            TestRaster r = Filled(pts, 64, 64, aa, t);
            for (int32_t y = 0; y < 64; ++y)
                for (int32_t x = 0; x < 64; ++x) {
                    const double d = scanref::EdgeDistance(pts, x, y);
                    if (d < t / 2.0 - 1) {
                        ASSERT_EQ(r.At(x, y), 255) << x << "," << y << " t=" << t << " aa=" << aa;
                    }
                    // The anti-aliased profile fades over one more pixel.
                    if (d > t / 2.0 + 1 + aa) {
                        ASSERT_EQ(r.At(x, y), 0) << x << "," << y << " t=" << t << " aa=" << aa;
                    }
                }
        }
}

TEST(ScanLines, PlainLinesAndModes) {
    TestRaster r8(8, 8), r4(8, 8), bad(8, 8);
    DrawRasterLine(r8.View(), 0, 0, 3, 1, 255, 8);
    DrawRasterLine(r4.View(), 0, 0, 3, 1, 255, 4);
    EXPECT_EQ(r8.Count(), 4);
    EXPECT_EQ(r4.Count(), 5);
    for (int32_t x = 0; x < 4; ++x) EXPECT_TRUE(r8.At(x, 0) || r8.At(x, 1));
    SetScanError(0);
    DrawRasterLine(bad.View(), 0, 0, 3, 1, 255, 2);
    EXPECT_EQ(GetScanError(), kScanBadRecord);
    EXPECT_EQ(bad.Count(), 0);
    // A 4-connected line from far outside still ends on its own end.
    TestRaster far(16, 16);
    SetScanError(0);
    DrawRasterLine(far.View(), -30, -7, 9, 12, 255, 1);
    EXPECT_EQ(GetScanError(), 0);
    EXPECT_EQ(far.At(9, 12), 255);
}

TEST(ScanLines, ThickLineShapes) {
    TestRaster thin(16, 16), two(16, 16), dot(48, 48), oneCap(48, 48);
    DrawThickLine(thin.raster.get(), 5, 5, 10, 5, 0, 1);
    EXPECT_EQ(thin.Count(), 6);
    // Thickness 2: rows 4..6 of the quad plus one pixel of each r=1 disc.
    DrawThickLine(two.raster.get(), 5, 5, 10, 5, 0, 2);
    EXPECT_EQ(two.Count(), 20);
    EXPECT_EQ(two.At(4, 5), 255);
    EXPECT_EQ(two.At(11, 5), 255);
    EXPECT_EQ(two.At(4, 4), 0);
    // Zero length: the caps alone, one disc of radius 5.
    DrawThickLine(dot.raster.get(), 20, 20, 20, 20, 0, 10);
    DrawThickSegment(oneCap.View(), 20, 20, 20, 20, 255, 10, 0, kCapStart, 0);
    EXPECT_EQ(std::memcmp(dot.px, oneCap.px, 48 * 48), 0);
    EXPECT_EQ(dot.At(20, 25), 255);
    EXPECT_EQ(dot.At(20, 26), 0);
}

TEST(ScanLines, RefusalsLeaveTheRasterUntouched) {
    TestRaster a(16, 16), b(16, 16);
    DrawThickLine(a.raster.get(), 1, 1, 10, 10, 0, 256);
    EXPECT_EQ(GetScanError(), kScanOutOfRange);
    const std::vector<int32_t> tri = {1, 1, 10, 1, 5, 9};
    FillPolygon(b.raster.get(), tri.data(), 3, 0, 256);
    EXPECT_EQ(GetScanError(), kScanBadRecord);
    EXPECT_EQ(a.Count() + b.Count(), 0);
    // The anti-aliased line keeps two pixels free around it: a raster of 5
    // gets nothing.
    TestRaster small(5, 40);
    DrawRasterLineAA(small.View(), 0, 0, 4 << 16, 39 << 16);
    EXPECT_EQ(small.Count(), 0);
    TestRaster big(40, 40);
    DrawRasterLineAA(big.View(), 5 << 16, 5 << 16, 30 << 16, 20 << 16);
    EXPECT_GT(big.Count(), 25);
}

TEST(ScanMemory, AlignedBlocksAndRasters) {
    SetScanError(0);
    void* p = AlignedAlloc(100);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 32, 0u);
    std::memset(p, 1, 100);
    AlignedFree(static_cast<char*>(p) + 8);
    EXPECT_EQ(GetScanError(), kScanMisaligned);
    AlignedFree(p);
    SetScanError(0);
    EXPECT_EQ(AlignedAlloc(kScanMaxBlock + 1), nullptr);
    EXPECT_EQ(GetScanError(), kScanOutOfRange);
    // -1 and -8 keep the stored code.
    SetScanError(kScanStepFailed);
    SetScanError(kScanStepFailedQuiet);
    EXPECT_EQ(GetScanError(), kScanOutOfRange);

    uint8_t* px = nullptr;
    EXPECT_EQ(CreateCoverageRaster(-1, 5, &px, nullptr), nullptr);
    EXPECT_EQ(GetScanError(), kScanNegativeSize);
    TestRaster r(7, 3);
    EXPECT_EQ(r.pitch, 8);
    // The point copy is refused before a point is read.
    const int32_t one[2] = {1, 1};
    FillPolygon(r.raster.get(), one, 200'000'000, 0, 0);
    EXPECT_EQ(GetScanError(), kScanNoMemory);
    EXPECT_EQ(r.Count(), 0);
    FillPolygon(nullptr, one, 1, 0, 0);
    EXPECT_EQ(GetScanError(), kScanNullArgument);
}

TEST(ScanLines, ClipLineStaysOnTheSegment) {
    ScanPoint64 a{-10, 5}, b{20, 5};
    ASSERT_TRUE(ClipLine(10, 10, &a, &b));
    EXPECT_EQ(a.x, 0);
    EXPECT_EQ(b.x, 9);
    ScanPoint64 c{-10, -10}, d{-1, 30};
    EXPECT_FALSE(ClipLine(10, 10, &c, &d));
    ScanPoint64 e{0, 0}, f{1, 1};
    SetScanError(0);
    EXPECT_FALSE(ClipLine(0, 10, &e, &f));
    EXPECT_EQ(GetScanError(), kScanOutOfRange);
}

namespace {

// The runs of a window, checked as they come (rows rising, runs sorted,
// apart and inside the window) and gathered into a raster of the whole
// size for comparison with the reference.
struct GatheredRuns {
    scanref::Raster raster;
    int32_t left, top, right, bottom;
    int32_t lastRow = INT32_MIN;
    bool wellFormed = true;
    GatheredRuns(int32_t w, int32_t h, int32_t l, int32_t t, int32_t r, int32_t b)
        : raster(w, h), left(l), top(t), right(r), bottom(b) {}
    static void Take(void* context, int32_t y, const int32_t* runs, int32_t count) {
        auto& g = *static_cast<GatheredRuns*>(context);
        g.wellFormed &= y > g.lastRow && y >= g.top && y < g.bottom && count > 0;
        g.lastRow = y;
        for (int32_t i = 0; i < count; ++i) {
            const int32_t from = runs[2 * i], to = runs[2 * i + 1];
            g.wellFormed &= from >= g.left && from < to && to <= g.right && (i == 0 || from > runs[2 * i - 1]);
            for (int32_t x = from; x < to; ++x) g.raster.Set(x, y);
        }
    }
};

void ExpectSameRuns(const std::vector<int32_t>& pts, int32_t w, int32_t h, int32_t l, int32_t t, int32_t r, int32_t b) {
    GatheredRuns got(w, h, l, t, r, b);
    ScanPolygonRuns(pts.data(), static_cast<int32_t>(pts.size() / 2), l, t, r, b, GatheredRuns::Take, &got);
    EXPECT_EQ(GetScanError(), 0);
    const scanref::Raster want = scanref::Fill(pts, w, h);
    std::string list;
    for (int32_t v : pts) list += std::to_string(v) + " ";
    EXPECT_TRUE(got.wellFormed) << "window " << l << "," << t << " to " << r << "," << b << " points " << list;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const bool inside = x >= l && x < r && y >= t && y < b;
            if (got.raster.At(x, y) != (inside ? want.At(x, y) : 0)) {
                ADD_FAILURE() << "pixel " << x << "," << y << " in window " << l << "," << t << " to " << r << ","
                              << b << " for points " << list;
                return;
            }
        }
}

}  // namespace

TEST(ScanRuns, RunsAreTheFillsPixels) {
    // Small polygons reaching past the raster, in windows of every shape:
    // the whole raster, parts of it, and strips of one row or column.
    std::mt19937 rng(77);
    std::uniform_int_distribution<int> edge(0, 32);
    for (int i = 0; i < 3000; ++i) {
        const std::vector<int32_t> pts = RandomPolygon(rng, i % 2 ? -6 : 0, i % 2 ? 38 : 31);
        int32_t l = 0, t = 0, r = 32, b = 32;
        if (i % 3) {
            l = edge(rng), r = edge(rng), t = edge(rng), b = edge(rng);
            if (l > r) std::swap(l, r);
            if (t > b) std::swap(t, b);
        }
        ExpectSameRuns(pts, 32, 32, l, t, r, b);
        if (HasFailure()) return;
    }
}

TEST(ScanRuns, WideTallAndManyEdgedShapes) {
    // Several words a row and several bands of rows (a row of 701 pixels
    // takes 23 words of the band, 178 rows a band), rows with gaps of no
    // edges between parts, more than 64 edges a row, and points far away.
    constexpr double kPi = 3.14159265358979323846;
    std::mt19937 rng(1921);
    std::vector<std::vector<int32_t>> shapes;
    for (int i = 0; i < 3; ++i) {
        std::vector<int32_t> star, comb, random;
        for (int k = 0; k < 2 * (8 + 14 * i); ++k) {
            const double r = k % 2 ? 60 : 330 + 20 * i, a = k * kPi / (8 + 14 * i) + 0.1 * i;
            star.push_back(static_cast<int32_t>(std::lround(350 + r * std::cos(a))));
            star.push_back(static_cast<int32_t>(std::lround(400 + r * std::sin(a))));
        }
        // Teeth hanging from a bar, each reaching a different depth: long
        // stretches of rows where only a few edges live.
        comb = {-20, 5, 720, 5};
        for (int k = 0; k < 12; ++k) {
            const int32_t x = 700 - 60 * k;
            comb.insert(comb.end(), {x, 6, x - 3, 90 + 60 * k + 15 * i, x - 6, 6});
        }
        std::uniform_int_distribution<int> x(-60, 760), y(-40, 840);
        random.resize(static_cast<size_t>(60 + 120 * i) * 2);
        for (size_t k = 0; k < random.size(); k += 2) random[k] = x(rng), random[k + 1] = y(rng);
        shapes.insert(shapes.end(), {star, comb, random});
    }
    shapes.push_back({0, 0, 40000, 30, 2, 60});
    shapes.push_back({3, -100000, 60, 90000, -20000, 40});
    shapes.push_back({-50000, -7, 40000, 763, 5, 20});
    for (const auto& pts : shapes) {
        ExpectSameRuns(pts, 701, 800, 0, 0, 701, 800);
        ExpectSameRuns(pts, 701, 800, 63, 170, 640, 799);
        if (HasFailure()) return;
    }
    // A few edges over far more bands of rows than edges (a row of one
    // word takes 256 rows a band): the segments are ordered another way.
    const std::vector<int32_t> spire = {0, 15000, 20, 29990, 31, 5, 2, 9000, 25, 12000};
    ExpectSameRuns(spire, 32, 30000, 0, 0, 32, 30000);
    ExpectSameRuns(spire, 32, 30000, 3, 700, 30, 29500);
}

TEST(ScanRuns, RefusalsAndNothingToHand) {
    const int32_t tri[6] = {0, 0, 9, 0, 0, 9};
    int calls = 0;
    const ScanRunSink count = [](void* c, int32_t, const int32_t*, int32_t) { ++*static_cast<int*>(c); };
    ScanPolygonRuns(tri, 3, 0, 0, 16, 16, nullptr, &calls);
    EXPECT_EQ(GetScanError(), kScanNullArgument);
    ScanPolygonRuns(tri, -1, 0, 0, 16, 16, count, &calls);
    EXPECT_EQ(GetScanError(), kScanOutOfRange);
    ScanPolygonRuns(tri, 3, 0, 0, 0, 16, count, &calls);
    ScanPolygonRuns(tri, 3, 10, 0, 16, 16, count, &calls);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(GetScanError(), 0);
    // A triangle far above the window costs no time for its rows.
    const int32_t tall[6] = {0, INT32_MIN, 10, INT32_MAX, 20, INT32_MIN};
    ScanPolygonRuns(tall, 3, 0, 0, 32, 32, count, &calls);
    EXPECT_GT(calls, 0);
}

TEST(ScanRuns, WindowsAtTheEndOfTheRange) {
    // Columns up to INT32_MAX: the runs match the same polygon moved next
    // to column 0, where the reference can draw it.
    constexpr int32_t kLeft = INT32_MAX - 100;
    const std::vector<int32_t> far = {INT32_MAX - 50, 0, INT32_MAX, 3, INT32_MAX - 7, 12, INT32_MAX - 90, 9};
    std::vector<int32_t> near = far;
    for (size_t k = 0; k < near.size(); k += 2) near[k] -= kLeft;
    const scanref::Raster want = scanref::Fill(near, 100, 16);
    GatheredRuns got(100, 16, 0, 0, 100, 16);
    const ScanRunSink moved = [](void* c, int32_t y, const int32_t* runs, int32_t count) {
        std::vector<int32_t> back(runs, runs + 2 * count);
        for (int32_t& x : back) x -= kLeft;
        GatheredRuns::Take(c, y, back.data(), count);
    };
    ScanPolygonRuns(far.data(), 4, kLeft, 0, INT32_MAX, 16, moved, &got);
    EXPECT_TRUE(got.wellFormed);
    for (int32_t y = 0; y < 16; ++y)
        for (int32_t x = 0; x < 100; ++x) ASSERT_EQ(got.raster.At(x, y), want.At(x, y)) << x << "," << y;
}

// Where lines stop: every line drawer lights both end pixels and nothing
// past them, and a thick line whose side lies exactly on the picture's
// first column or row still fills it.
namespace {

const char* const kDrawers[] = {"8-connected", "4-connected", "subpixel", "antialiased"};

void Draw(int drawer, const ScanRasterView& v, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    const int64_t one = 65536;
    switch (drawer) {
        case 0: DrawRasterLine(v, x0, y0, x1, y1, 255, kLine8Connected); break;
        case 1: DrawRasterLine(v, x0, y0, x1, y1, 255, kLine4Connected); break;
        case 2: DrawRasterLineSubpixel(v, x0 * one, y0 * one, x1 * one, y1 * one, 255); break;
        default: DrawRasterLineAA(v, x0 * one, y0 * one, x1 * one, y1 * one); break;
    }
}

}  // namespace

TEST(ScanLineEnds, EveryDrawerLightsBothEndsAndNothingPast) {
    const int32_t ends[][2] = {{12, 5}, {5, 12},  {-12, 5}, {-5, 12},  {12, -5}, {5, -12}, {-12, -5},
                               {-5, -12}, {12, 0}, {0, 12}, {-12, 0}, {0, -12}, {0, 0}};
    for (int d = 0; d < 4; ++d)
        for (const auto& e : ends) {
            TestRaster r(40, 40);
            const int32_t x1 = 20 + e[0], y1 = 20 + e[1];
            Draw(d, r.View(), 20, 20, x1, y1);
            const char* name = kDrawers[d];
            EXPECT_NE(r.At(20, 20), 0) << name << " to " << x1 << "," << y1;
            EXPECT_NE(r.At(x1, y1), 0) << name << " to " << x1 << "," << y1;
            if (e[0] == 0 && e[1] == 0) continue;
            // One step past each end along the line's longer axis.
            const bool xMajor = std::abs(e[0]) >= std::abs(e[1]);
            const int32_t sx = xMajor ? (e[0] > 0 ? 1 : -1) : 0, sy = xMajor ? 0 : (e[1] > 0 ? 1 : -1);
            EXPECT_EQ(r.At(x1 + sx, y1 + sy), 0) << name << " to " << x1 << "," << y1;
            EXPECT_EQ(r.At(20 - sx, 20 - sy), 0) << name << " to " << x1 << "," << y1;
        }
}

TEST(ScanLineEnds, ThickLinesTouchingTheFirstColumnOrRowFillIt) {
    for (int aa = 0; aa < 2; ++aa)
        for (int32_t t : {2, 4, 6}) {
            // The right side of the vertical line lies on column 0, the
            // lower side of the horizontal one on row 0; the same lines
            // moved in by 8 show the side's pixels are the line's.
            for (int32_t in : {0, 8}) {
                TestRaster column(24, 24), row(24, 24);
                DrawThickLine(column.raster.get(), in - t / 2, 4, in - t / 2, 16, aa, t);
                DrawThickLine(row.raster.get(), 4, in - t / 2, 16, in - t / 2, aa, t);
                for (int32_t i = 4; i <= 16; ++i) {
                    EXPECT_EQ(column.At(in, i), 255) << "aa=" << aa << " t=" << t << " in=" << in << " row " << i;
                    EXPECT_EQ(row.At(i, in), 255) << "aa=" << aa << " t=" << t << " in=" << in << " column " << i;
                }
            }
        }
}
