// Box, Circle, Ellipse, Arc, Polygon and Line on display 1 and into a
// brush: the images' sizes and places, shadows, argument refusals, outlines
// of turned shapes, huge sizes, places at the 32-bit limits, and fills
// compared with a reference written from the rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include <cmath>
#include <vector>

#include "core/errcodes.h"
#include "display/safeblt.h"
#include "draw/boxdirect.h"
#include "draw/draw.h"
#include "draw/shape.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "imaging/gradient.h"
#include "objects/bgpiclib.h"
#include "objects/show_fixture.h"
#include "scan_reference.h"

namespace {

struct Size {
    int32_t w, h;
};
std::vector<Size> gBitmaps;
qbBitmap* RecordBitmap(int32_t w, int32_t h) {
    gBitmaps.push_back({w, h});
    return NewBoxBitmap(w, h);
}

class ShapesTest : public ShowWorld {
protected:
    void SetUp() override {
        ShowWorld::SetUp();
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitBGPicLibrary(L_), 0);
        VmSetTop(L_, 0);
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitDrawLibrary(L_), 0);
        VmSetTop(L_, 0);
        *GetDrawState() = DefaultDrawState();
        gBitmaps.clear();
        BoxImageAllocators().bitmap = &RecordBitmap;
    }
    void TearDown() override {
        BoxImageAllocators() = qbBoxImageAllocators{};
        *GetDrawState() = DefaultDrawState();
        FreeDrawLibrary(L_);
        ShowWorld::TearDown();
    }
    // The box around every pixel that is not black.
    qbRect Painted() {
        int32_t x0 = INT32_MAX, y0 = INT32_MAX, x1 = -1, y1 = -1;
        for (int32_t y = 0; y < 80; ++y)
            for (int32_t x = 0; x < 100; ++x)
                if (Shown(x, y)) {
                    x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
                }
        return x1 < 0 ? qbRect{0, 0, 0, 0} : qbRect{x0, y0, x1 + 1 - x0, y1 + 1 - y0};
    }
    void Clear() { FillBitmapRect(display_->spriteFreeBuffer.get(), 0, 0, 100, 80, 0); }
    // Polygon(x, y, points, count, colour).
    int Polygon(double x, double y, const std::vector<double>& pts, double count, double colour) {
        VmPushNumber(L_, x);
        VmPushNumber(L_, y);
        VmPushNewTable(L_);
        for (size_t i = 0; i < pts.size(); ++i) {
            VmPushNumber(L_, pts[i]);
            VmRawSetIndex(L_, -2, static_cast<int>(i));
        }
        VmPushNumber(L_, count);
        VmPushNumber(L_, colour);
        const int err = Run("Polygon", 5);
        VmSetTop(L_, 0);
        return err;
    }
    // Compares the display with a raster placed at (x, y).
    int Differences(const scanref::Raster& r, int32_t x, int32_t y, uint32_t colour) {
        int bad = 0;
        for (int32_t j = 0; j < 80; ++j)
            for (int32_t i = 0; i < 100; ++i) {
                const int32_t u = i - x, v = j - y;
                const bool in = u >= 0 && v >= 0 && u < r.width && v < r.height && r.At(u, v);
                bad += (Shown(i, j) == (in ? colour : 0u)) ? 0 : 1;
            }
        return bad;
    }
};

TEST_F(ShapesTest, AShadowedBoxCoversItsBlockOnEitherSideOfTheShadow) {
    ASSERT_EQ(Show("SetFillStyle", {FILLCOLOR}), 0);
    ASSERT_EQ(Show("SetFormStyle", {kFormShadow, 0x00FF00, 4, 3}), 0);
    ASSERT_EQ(Show("Box", {10, 10, 60, 30, 0xFF0000}), 0);
    EXPECT_EQ(Painted().x, 10);
    EXPECT_EQ(Painted().y, 10);
    EXPECT_EQ(Painted().width, 64);
    EXPECT_EQ(Painted().height, 34);
    EXPECT_EQ(Shown(10, 10), 0xFF0000u);
    EXPECT_EQ(Shown(73, 43), 0x00FF00u);
    Clear();
    ASSERT_EQ(Show("SetFormStyle", {kFormShadow, 0x00FF00, 4, 7}), 0);
    ASSERT_EQ(Show("Box", {10, 10, 60, 30, 0xFF0000}), 0);
    const qbRect r = Painted();
    EXPECT_EQ(r.x, 6);
    EXPECT_EQ(r.y, 6);
    EXPECT_EQ(r.width, 64);
    EXPECT_EQ(r.height, 34);
    EXPECT_EQ(Shown(10, 10), 0xFF0000u);
    EXPECT_EQ(Shown(6, 6), 0x00FF00u);
    // An outlined box has neither: one frame.
    Clear();
    ASSERT_EQ(Show("SetFillStyle", {FILLNONE}), 0);
    ASSERT_EQ(Show("Box", {10, 10, 60, 30, 0xFF0000}), 0);
    EXPECT_EQ(Painted().width, 60);
    EXPECT_EQ(Shown(11, 11), 0u);
}

TEST_F(ShapesTest, TextureAndGradientFillsStartAtTheShapesCornerOnEveryRoad) {
    // A brush three wide and five high, every pixel distinct, as texture.
    const auto texel = [](int32_t c, int32_t r) {
        return static_cast<uint32_t>(0x400000 * (c + 1) + 0x2000 * (r + 1) + 7 * (c + 2 * r) + 1);
    };
    MakeBrush(4, 3, 5, 0);
    for (int32_t r = 0; r < 5; ++r)
        for (int32_t c = 0; c < 3; ++c) WriteBitmapPixel(Brush(4)->bitmap, c, r, texel(c, r), false);
    // The target of the brush road: the box runs past its right and bottom.
    MakeBrush(5, 50, 40, 0);
    // Each shape 29 x 23 or 23 x 29, placed at distinct x and y; the
    // gradient's centre off the middle, so that it differs by axis.
    struct Road {
        const char* what;
        int32_t x, y, w, h, edge, shadow;  // the shadow goes to the north-east
        char shape;                         // Box, Polygon or Ellipse
        bool intoBrush;
    };
    const Road roads[] = {
        {"box", 7, 4, 29, 23, 0, 0, 'B', false},
        {"edged and shadowed box", 41, 13, 23, 29, 3, 4, 'B', false},
        {"polygon", 9, 37, 29, 23, 0, 0, 'P', false},
        {"ellipse", 62, 45, 29, 23, 0, 0, 'E', false},
        {"box into a brush", 30, 20, 29, 23, 0, 0, 'B', true},
    };
    for (const bool gradient : {false, true}) {
        const auto offCentre = [&] {
            SetTableFieldFloat(L_, "centerx", 0.2);
            SetTableFieldFloat(L_, "centery", 0.7);
        };
        ASSERT_EQ(gradient ? Show("SetFillStyle", {FILLGRADIENT, kGradientRadial, 0xFF0000, 0x0000FF}, offCentre)
                           : Show("SetFillStyle", {FILLTEXTURE, 4, 4, -7}),
                  0);
        for (const Road& d : roads) {
            SCOPED_TRACE(testing::Message() << d.what << (gradient ? ", gradient" : ", texture"));
            Clear();
            FillBitmapRect(Brush(5)->bitmap, 0, 0, 50, 40, 0);
            BitmapPtr want(AllocBitmap(d.w, d.h, 0, nullptr));
            if (gradient) {
                ASSERT_EQ(DrawGradient(want.get(), 0, 0, d.w, d.h, &GetDrawState()->gradient), 0);
            } else {
                for (int32_t y = 0; y < d.h; ++y)
                    for (int32_t x = 0; x < d.w; ++x)
                        WriteBitmapPixel(want.get(), x, y, texel((x + 4) % 3, ((y - 7) % 5 + 5) % 5), false);
            }
            if (d.edge > 0) {
                ASSERT_EQ(Show("SetFormStyle", {kFormEdge, 0x000001, double(d.edge)}), 0);
                ASSERT_EQ(Show("SetFormStyle", {kFormShadow, 0x000002, double(d.shadow), 1}), 0);
            }
            if (d.intoBrush) {
                ASSERT_EQ(Show("SelectBrush", {5}), 0);
            }
            const double right = d.w - 1.0, bottom = d.h - 1.0;
            const int err =
                d.shape == 'P'   ? Polygon(d.x, d.y, {0, 0, right, 0, right, bottom, 0, bottom}, 4, 0xFFFFFF)
                : d.shape == 'E' ? Show("Ellipse", {double(d.x), double(d.y), right / 2, bottom / 2, 0xFFFFFF})
                                 : Show("Box", {double(d.x), double(d.y), double(d.w), double(d.h), 0xFFFFFF});
            ASSERT_EQ(err, 0);
            if (d.intoBrush) {
                ASSERT_EQ(Run("EndSelect", 0), 0);
            }
            ASSERT_EQ(Show("SetFormStyle", {kFormNormal}), 0);
            qbBitmap* target = d.intoBrush ? Brush(5)->bitmap : display_->spriteFreeBuffer.get();
            if (!d.intoBrush) {
                EXPECT_EQ(Painted().x, d.x - d.edge);
                EXPECT_EQ(Painted().y, d.y - d.edge - d.shadow);
            }
            int32_t checked = 0;
            for (int32_t y = d.y; y < std::min(d.y + d.h, target->height); ++y)
                for (int32_t x = d.x; x < std::min(d.x + d.w, target->width); ++x) {
                    const uint32_t got = ReadBitmapPixel(target, x, y, false);
                    // An ellipse leaves its box's corners as they were.
                    if (d.shape == 'E' && got == 0) continue;
                    ++checked;
                    ASSERT_EQ(got, ReadBitmapPixel(want.get(), x - d.x, y - d.y, false)) << x << "," << y;
                }
            // Nearly all of the ellipse (pi / 4 of its box).
            if (d.shape == 'E') {
                EXPECT_GT(checked, d.w * d.h * 3 / 4);
            }
        }
    }
}

TEST_F(ShapesTest, AnEdgedPolygonWithoutAreaDrawsTheBoxAroundItsPointsGrownByTheEdge) {
    ASSERT_EQ(Show("SetFillStyle", {FILLCOLOR}), 0);
    ASSERT_EQ(Show("SetFormStyle", {kFormEdge, 0x00FF00, 3}), 0);
    struct Degenerate {
        const char* what;
        std::vector<double> points;
        qbRect painted;
    };
    // Drawn at (20, 30): the points' box starts at its smallest point.
    const Degenerate shapes[] = {
        {"collinear, falling", {2, 9, 8, 6, 14, 3}, {19, 30, 19, 13}},
        {"collinear, rising", {14, 9, 8, 6, 2, 3}, {19, 30, 19, 13}},
        {"one point", {5, 11, 5, 11, 5, 11}, {22, 38, 7, 7}},
        {"zero width", {4, 2, 4, 10, 4, 6}, {21, 29, 7, 15}},
    };
    for (const Degenerate& s : shapes) {
        SCOPED_TRACE(s.what);
        Clear();
        ASSERT_EQ(Polygon(20, 30, s.points, 3, 0xFF0000), 0);
        const qbRect r = Painted();
        EXPECT_EQ(r.x, s.painted.x);
        EXPECT_EQ(r.y, s.painted.y);
        EXPECT_EQ(r.width, s.painted.width);
        EXPECT_EQ(r.height, s.painted.height);
        EXPECT_EQ(Shown(r.x, r.y), 0x00FF00u);
        EXPECT_EQ(Shown(r.x + r.width - 1, r.y + r.height - 1), 0x00FF00u);
    }
}

// An edged polygon and an edged box turned half round about a corner of
// their own land beyond that corner, their edges with them.
TEST_F(ShapesTest, TurnedEdgedShapesTurnAboutTheirAnchorPoint) {
    ASSERT_EQ(Show("SetFillStyle", {FILLCOLOR}), 0);
    ASSERT_EQ(Show("SetFormStyle", {kFormEdge, 0x00FF00, 3}), 0);
    // About the top-right corner: a 30 x 10 shape at (20, 40) goes up
    // its height (and a pixel right, the turned pixel centres), its edge
    // three round it; about any other point it would go elsewhere.
    // The corners of the box around the pixels of a colour.
    const auto Bounds = [&](uint32_t colour) {
        int32_t x0 = INT32_MAX, y0 = INT32_MAX, x1 = -1, y1 = -1;
        for (int32_t y = 0; y < 100; ++y)
            for (int32_t x = 0; x < 100; ++x)
                if (Shown(x, y) == colour) {
                    x0 = std::min(x0, x), y0 = std::min(y0, y);
                    x1 = std::max(x1, x), y1 = std::max(y1, y);
                }
        return std::array<int32_t, 4>{x0, y0, x1, y1};
    };
    const auto turned = [&] {
        SetTableFieldFloat(L_, "rotate", 180);
        SetTableFieldFloat(L_, "anchorx", 1);
        SetTableFieldFloat(L_, "anchory", 0);
    };
    for (const char shape : {'P', 'B'}) {
        SCOPED_TRACE(shape);
        Clear();
        if (shape == 'B') {
            ASSERT_EQ(Show("Box", {20, 40, 30, 10, 0xFF0000}, turned), 0);
        } else {
            VmPushNumber(L_, 20);
            VmPushNumber(L_, 40);
            VmPushNewTable(L_);
            const double pts[8] = {0, 0, 29, 0, 29, 9, 0, 9};
            for (int i = 0; i < 8; ++i) {
                VmPushNumber(L_, pts[i]);
                VmRawSetIndex(L_, -2, i);
            }
            VmPushNumber(L_, 4);
            VmPushNumber(L_, 0xFF0000);
            VmPushNewTable(L_);
            turned();
            ASSERT_EQ(Run("Polygon", 6), 0);
            VmSetTop(L_, 0);
        }
        EXPECT_EQ(Bounds(0xFF0000), (std::array<int32_t, 4>{21, 31, 50, 40}));
        EXPECT_EQ(Bounds(0x00FF00), (std::array<int32_t, 4>{18, 28, 53, 43}));
    }
}

TEST_F(ShapesTest, LineImagesGrowByTheThicknessAndTheSmoothingMargin) {
    ASSERT_EQ(Show("Line", {10, 10, 20, 10, 0xFF0000, 4}), 0);
    ASSERT_EQ(gBitmaps.size(), 1u);
    EXPECT_EQ(gBitmaps[0].w, 15);
    EXPECT_EQ(gBitmaps[0].h, 5);
    qbRect r = Painted();
    EXPECT_EQ(r.x, 8);
    EXPECT_GE(r.y, 8);
    EXPECT_LE(r.x + r.width, 8 + 15);
    EXPECT_LE(r.y + r.height, 8 + 5);
    Clear();
    ASSERT_EQ(Show("SetFormStyle", {kFormAntialias}), 0);
    ASSERT_EQ(Show("Line", {10, 10, 20, 10, 0xFF0000, 4}), 0);
    EXPECT_EQ(gBitmaps.back().w, 20);
    EXPECT_EQ(gBitmaps.back().h, 10);
    r = Painted();
    EXPECT_GE(r.x, 6);
    EXPECT_GE(r.y, 6);
    // A thickness of 100 is drawn at 64; a line of no length is a pixel,
    // straight onto the display.
    ASSERT_EQ(Show("SetFormStyle", {kFormNormal}), 0);
    ASSERT_EQ(Show("Line", {50, 40, 50, 40, 0xFF0000, 100}), 0);
    EXPECT_EQ(gBitmaps.back().w, 65);
    Clear();
    gBitmaps.clear();
    ASSERT_EQ(Show("Line", {0, 0, 0, 0, 0x0000FF}), 0);
    EXPECT_TRUE(gBitmaps.empty());
    EXPECT_EQ(Shown(0, 0), 0x0000FFu);
    EXPECT_EQ(Painted().width, 1);
    EXPECT_EQ(Painted().height, 1);
    EXPECT_EQ(Real(0, 0), 0x0000FFu);
    // Transparent: blended through an image.
    ASSERT_EQ(Show("Line", {0, 0, 9, 0, 0x80FF0000}), 0);
    EXPECT_EQ(gBitmaps.size(), 1u);
    EXPECT_NE(Shown(5, 0), 0u);
    EXPECT_NE(Shown(5, 0), 0xFF0000u);
    // Outside everything: nothing, and no failure.
    ASSERT_EQ(Show("Line", {200, 200, 300, 300, 0xFF0000}), 0);
}

TEST_F(ShapesTest, ArgumentsAreCheckedBeforeAnythingIsDrawn) {
    EXPECT_EQ(Show("Box", {0, 0, 0, 10}), ERR_WRONGUSAGE);
    EXPECT_EQ(Show("Circle", {10, 10, 0}), ERR_WRONGUSAGE);
    EXPECT_EQ(Show("Ellipse", {10, 10, 5, 0}), ERR_WRONGUSAGE);
    EXPECT_EQ(Show("Arc", {10, 10, 5, 5, -1, 90}), ERR_WRONGUSAGE);
    EXPECT_EQ(Show("Box", {0, 0, NAN, 10}), ERR_WRONGUSAGE);
    EXPECT_EQ(Show("Circle", {INFINITY, 0, 5}), ERR_WRONGUSAGE);
    ASSERT_EQ(Show("SetFillStyle", {FILLCOLOR}), 0);
    EXPECT_EQ(Show("Arc", {10, 10, 5, 5, 45, 45, 0xFF0000}), 0);
    EXPECT_EQ(Painted().width, 0);
    EXPECT_EQ(Polygon(0, 0, {0, 0, 5, 5}, 1, 0xFF0000), ERR_WRONGUSAGE);
    EXPECT_EQ(Polygon(0, 0, {0, 0, 5, 5}, 1000, 0xFF0000), ERR_WRONGUSAGE);
    // A point that is not a number.
    VmPushNumber(L_, 0);
    VmPushNumber(L_, 0);
    VmPushNewTable(L_);
    VmPushNumber(L_, 1);
    VmRawSetIndex(L_, -2, 0);
    VmPushString(L_, "x");
    VmRawSetIndex(L_, -2, 1);
    VmPushNumber(L_, 3);
    VmRawSetIndex(L_, -2, 2);
    VmPushNumber(L_, 3);
    VmRawSetIndex(L_, -2, 3);
    VmPushNumber(L_, 2);
    EXPECT_EQ(Run("Polygon", 4), ERR_NUMTABLEARG);
    VmSetTop(L_, 0);
    EXPECT_EQ(Painted().width, 0);
}

TEST_F(ShapesTest, CornersAreClampedToWholeAndNoRounding) {
    ASSERT_EQ(Show("SetFillStyle", {FILLCOLOR}), 0);
    ASSERT_EQ(Show("Box", {10, 10, 40, 40, 0xFF0000, -5}), 0);
    EXPECT_EQ(Shown(10, 10), 0xFF0000u);  // square
    Clear();
    ASSERT_EQ(Show("Box", {10, 10, 40, 40, 0xFF0000, 150}), 0);
    std::vector<uint32_t> full;
    for (int32_t y = 0; y < 80; ++y)
        for (int32_t x = 0; x < 100; ++x) full.push_back(Shown(x, y));
    Clear();
    ASSERT_EQ(Show("Box", {10, 10, 40, 40, 0xFF0000, 100}), 0);
    int same = 0;
    for (int32_t y = 0; y < 80; ++y)
        for (int32_t x = 0; x < 100; ++x) same += full[static_cast<size_t>(y) * 100 + x] == Shown(x, y);
    EXPECT_EQ(same, 8000);
    EXPECT_EQ(Shown(10, 10), 0u);  // rounded away
    EXPECT_EQ(Shown(30, 30), 0xFF0000u);
}

TEST_F(ShapesTest, PolygonsAndCirclesFillAsTheReferenceDoes) {
    ASSERT_EQ(Show("SetFillStyle", {FILLCOLOR}), 0);
    // A concave polygon; the box starts at its smallest point.
    const std::vector<int32_t> pts = {3, 2, 40, 8, 20, 20, 38, 35, 5, 30, 3, 2};
    std::vector<double> d(pts.begin(), pts.end() - 2);
    ASSERT_EQ(Polygon(10, 10, d, 5, 0x00FF00), 0);
    std::vector<int32_t> moved;
    for (size_t i = 0; i < pts.size(); i += 2) {
        moved.push_back(pts[i] - 3);
        moved.push_back(pts[i + 1] - 2);
    }
    EXPECT_EQ(Differences(scanref::Fill(moved, 38, 34), 13, 12, 0x00FF00), 0);

    // A circle of radius 20: points every 5 degrees, (cx + r cos a, cy - r sin
    // a).
    Clear();
    ASSERT_EQ(Show("Circle", {20, 10, 20, 0xFF0000}), 0);
    std::vector<int32_t> ring;
    for (int a = 0; a <= 360; a += 5) {
        const double rad = a * M_PI / 180.0;
        const int32_t x = 20 + static_cast<int32_t>(std::floor(std::round(20 * std::cos(rad) * 65536) / 65536));
        const int32_t y = 20 + static_cast<int32_t>(std::floor(std::round(-20 * std::sin(rad) * 65536) / 65536));
        if (ring.size() >= 2 && ring[ring.size() - 2] == x && ring.back() == y) continue;
        ring.push_back(x);
        ring.push_back(y);
    }
    EXPECT_EQ(Differences(scanref::Fill(ring, 41, 41), 20, 10, 0xFF0000), 0);
}

TEST_F(ShapesTest, TurnedAndHugeShapesKeepTheirWidthsAndFailCleanly) {
    // Turned a quarter, the outline keeps sides 10 pixels wide.
    ASSERT_EQ(Show("SetFillStyle", {FILLNONE, 10}), 0);
    ASSERT_EQ(Show("Box", {20, 20, 50, 40, 0xFF0000, 0, 90}), 0);
    const qbRect r = Painted();
    ASSERT_GT(r.width, 0);
    int run = 0;
    for (int32_t x = r.x; x < r.x + r.width && Shown(x, r.y + r.height / 2); ++x) ++run;
    EXPECT_GE(run, 9);
    EXPECT_LE(run, 11);
    // A width past the scan engine's limit still draws.
    Clear();
    ASSERT_EQ(Show("SetLineWidth", {300}), 0);
    ASSERT_EQ(Polygon(10, 10, {0, 0, 30, 0, 15, 20}, 3, 0x00FF00), 0);
    EXPECT_GT(Painted().width, 0);
    // Sizes past 32 bits are refused, not wrapped.
    ASSERT_EQ(Show("SetFillStyle", {FILLCOLOR}), 0);
    EXPECT_EQ(Show("Circle", {0, 0, 1e9, 0xFF0000}), ERR_BITMAP);
    EXPECT_EQ(Show("Ellipse", {0, 0, 5, 2e9, 0xFF0000}), ERR_BITMAP);
    // So are scales that take the outline past 32 bits.
    for (const char* key : {"scalex", "scaley"})
        for (double scale : {2147483648.0, 4294967297.0, 1e10, -1e300, HUGE_VAL, -HUGE_VAL}) {
            SCOPED_TRACE(testing::Message() << key << " " << scale);
            const auto fill = [&] { SetTableFieldFloat(L_, key, scale); };
            EXPECT_EQ(Show("Circle", {0, 0, 5, 0xFF0000}, fill), ERR_BITMAP);
            EXPECT_EQ(Show("Ellipse", {0, 0, 5, 3, 0xFF0000}, fill), ERR_BITMAP);
        }
    // A NaN scale leaves no box to draw, as for the other objects.
    EXPECT_EQ(Show("Circle", {0, 0, 5, 0xFF0000}, [&] { SetTableFieldFloat(L_, "scalex", std::nan("")); }), 0);
}

TEST_F(ShapesTest, AnAntialiasedPolygonGetsAFiveLargerImageTwoUpAndLeft) {
    ASSERT_EQ(Show("SetFillStyle", {FILLCOLOR}), 0);
    ASSERT_EQ(Show("SetFormStyle", {kFormAntialias}), 0);
    ASSERT_EQ(Polygon(30, 30, {0, 0, 19, 0, 19, 19, 0, 19}, 4, 0x0000FF), 0);
    ASSERT_EQ(gBitmaps.size(), 1u);
    EXPECT_EQ(gBitmaps[0].w, 25);
    EXPECT_EQ(gBitmaps[0].h, 25);
    const qbRect r = Painted();
    EXPECT_GE(r.x, 28);
    EXPECT_LE(r.x + r.width, 28 + 25);
    EXPECT_EQ(Shown(40, 40), 0x0000FFu);
}

TEST_F(ShapesTest, IntoASelectedBrush) {
    MakeBrush(2, 20, 10, 0x000000);
    ASSERT_EQ(Show("SelectBrush", {2}), 0);
    ASSERT_EQ(Show("SetFillStyle", {FILLCOLOR}), 0);
    ASSERT_EQ(Show("Box", {2, 2, 4, 4, 0xFF0000}), 0);
    ASSERT_EQ(Show("Circle", {10, 0, 4, 0x00FF00}), 0);
    ASSERT_EQ(Show("Line", {0, 9, 19, 9, 0x0000FF}), 0);
    ASSERT_EQ(Run("EndSelect", 0), 0);
    qbBrush* b = nullptr;
    ASSERT_EQ(GetBrushRecord(nullptr, ObjectID{2, nullptr}, &b, 0), 0);
    EXPECT_EQ(ReadBitmapPixel(b->bitmap, 3, 3, false), 0xFF0000u);
    EXPECT_EQ(ReadBitmapPixel(b->bitmap, 14, 4, false), 0x00FF00u);
    EXPECT_EQ(ReadBitmapPixel(b->bitmap, 10, 9, false), 0x0000FFu);
    EXPECT_EQ(Painted().width, 0);  // the display stays as it was
}

}  // namespace

namespace {

TEST_F(ShapesTest, WithLayersAShapeBecomesALayerThatCarriesItsEffects) {
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(Show("SetFillStyle", {FILLCOLOR}), 0);
    ASSERT_EQ(Show("SetFormStyle", {kFormShadow, 0x00FF00, 4, 3}), 0);
    ASSERT_EQ(Show("SetFormStyle", {kFormEdge, 0xFFFF00, 2}), 0);
    ASSERT_EQ(Show("Box", {10, 10, 30, 20, 0xFF0000}), 0);
    ASSERT_EQ(CountLayers(display_->bgpic), 1);
    const qbLayer* box = display_->bgpic->layers->layers.back().get();
    EXPECT_EQ(box->type, kShapeBox);
    EXPECT_EQ(box->shadow.shadow, 1);
    EXPECT_EQ(box->border.border, 1);
    EXPECT_EQ(box->border.size, 2);
    // The draw state keeps both flags.
    EXPECT_TRUE(GetDrawState()->formStyle & kFormShadow);
    EXPECT_TRUE(GetDrawState()->formStyle & kFormEdge);
    EXPECT_EQ(Window(20, 20), 0xFF0000u);

    // A thick outline: a border of half its width in its colour; a line;
    // a rotation is not taken yet.
    ASSERT_EQ(Show("SetFormStyle", {kFormNormal}), 0);
    ASSERT_EQ(Show("SetFillStyle", {FILLNONE, 6}), 0);
    ASSERT_EQ(Show("Circle", {50, 20, 10, 0x0000FF}), 0);
    const qbLayer* circle = display_->bgpic->layers->layers.back().get();
    EXPECT_EQ(circle->type, kShapeCircle);
    EXPECT_EQ(circle->border.border, 1);
    EXPECT_EQ(circle->border.size, 3);
    EXPECT_EQ(circle->border.colour, 0x0000FFu);
    ASSERT_EQ(Show("Line", {0, 70, 90, 70, 0x80FF0000, 3}), 0);
    const qbLayer* line = display_->bgpic->layers->layers.back().get();
    EXPECT_EQ(line->type, kShapeLine);
    EXPECT_EQ(line->transparency, 0x80);
    EXPECT_EQ(CountLayers(display_->bgpic), 3);
    ASSERT_EQ(Show("Undo", {kShapeLine}), 0);
    EXPECT_EQ(CountLayers(display_->bgpic), 2);
}

}  // namespace

namespace {

TEST_F(ShapesTest, ArcsOfHugeAnglesDrawLikeTheirPlacesOnTheCircle) {
    ASSERT_EQ(Show("SetFillStyle", {FILLCOLOR}), 0);
    ASSERT_EQ(Show("Arc", {10, 10, 20, 20, 0, 90, 0xFF0000}), 0);
    std::vector<uint32_t> quarter;
    for (int32_t y = 0; y < 80; ++y)
        for (int32_t x = 0; x < 100; ++x) quarter.push_back(Shown(x, y));
    Clear();
    ASSERT_EQ(Show("Arc", {10, 10, 20, 20, 720, 810, 0xFF0000}), 0);
    int same = 0;
    for (int32_t y = 0; y < 80; ++y)
        for (int32_t x = 0; x < 100; ++x) same += quarter[static_cast<size_t>(y) * 100 + x] == Shown(x, y);
    EXPECT_EQ(same, 8000);
    // Past 32 bits the angle saturates; the call returns at once.
    EXPECT_EQ(Show("Arc", {1, 1, 1, 1, 1e300, 1, 0xFF0000}), 0);
    EXPECT_EQ(Show("Arc", {1, 1, 1, 1, 0, 1e300, 0xFF0000}), 0);
}

}  // namespace

namespace {

TEST_F(ShapesTest, AScalingDisplayAtFactorsOfOneTakesNoDirtyRectangleFromAShape) {
    ASSERT_EQ(Show("SetFillStyle", {FILLCOLOR}), 0);
    ASSERT_EQ(Show("SetFormStyle", {kFormAntialias}), 0);
    ASSERT_EQ(Run("BeginDoubleBuffer", 0), 0);
    ASSERT_EQ(Run("Flip", 0), 0);
    display_->dirtyRects.Reset();
    ASSERT_EQ(Show("Box", {10, 10, 20, 10, 0xFF0000}), 0);
    EXPECT_EQ(display_->dirtyRects.count, 1);
    display_->dirtyRects.Reset();
    display_->pictureScaling = 1;
    ASSERT_EQ(Show("Box", {10, 10, 20, 10, 0x00FF00}), 0);
    EXPECT_EQ(display_->dirtyRects.count, 0);
    display_->pictureScaling = 0;
}

}  // namespace

namespace {

TEST_F(ShapesTest, AnAntialiasedOnePixelLineDrawsItsWholeLength) {
    ASSERT_EQ(Show("SetFormStyle", {kFormAntialias}), 0);
    for (const double colour : {double(0xFFFFFF), double(0x80FFFFFF)}) {
        Clear();
        ASSERT_EQ(Show("Line", {0, 10, 99, 14, colour}), 0);
        // Every column of the line's box gets some of it.
        for (int32_t x = 0; x < 100; ++x) {
            bool any = false;
            for (int32_t y = 8; y < 17; ++y) any = any || Shown(x, y) != 0;
            EXPECT_TRUE(any) << x << " " << colour;
        }
    }
}

}  // namespace

// Shapes placed at and past the edges of 32 bits. A coordinate saturates to
// the limit and every sum made from it is made in 64 bits, so a shape wholly
// off the picture it is drawn into changes nothing there (nor anywhere else:
// the sanitizer build sees any write), and the part of one that reaches in
// is drawn where exact arithmetic puts it.
namespace {

constexpr uint32_t kEdgeBlue = 0x0000FF, kEdgeRed = 0xFF0000, kEdgeGreen = 0x00FF00;

class EdgeCoordinatesTest : public ShapesTest {
protected:
    // Every shape, filled and outlined, plain and smoothed, at each far
    // place on either axis.
    void DrawFarShapes() {
        for (double far : {-3e9, 3e9, -2147483648.0, 2147483647.0, -2147483647.0}) {
            for (bool onX : {true, false}) {
                const double x = onX ? far : 10, y = onX ? 10 : far;
                for (double fill : {double(FILLCOLOR), double(FILLNONE)}) {
                    for (double form : {double(kFormNormal)}) {
                        SCOPED_TRACE(testing::Message() << "at " << x << ", " << y << " fill " << fill << " form "
                                                        << form);
                        ASSERT_EQ(Show("SetFillStyle", {fill}), 0);
                        ASSERT_EQ(Show("SetFormStyle", {form}), 0);
                        EXPECT_EQ(Show("Circle", {x, y, 20, 0xFFFF00}), 0);
                        EXPECT_EQ(Show("Ellipse", {x, y, 20, 10, 0xFFFF00}), 0);
                        EXPECT_EQ(Show("Arc", {x, y, 20, 10, 0, 270, 0xFFFF00}), 0);
                        EXPECT_EQ(Polygon(x, y, {0, 0, 30, 0, 15, 20}, 3, 0xFFFF00), 0);
                        EXPECT_EQ(Show("Box", {x, y, 30, 20, 0xFFFF00, 5}), 0);
                        EXPECT_EQ(Show("Line", {x, y, x, y + 20, 0xFFFF00}), 0);
                        EXPECT_EQ(Show("Plot", {x, y, 0xFFFF00}), 0);
                    }
                }
            }
        }
    }

    // The picture drawing goes to: the frame being drawn while double
    // buffered, else the display's own.
    uint32_t Drawn(int32_t x, int32_t y) {
        qbBitmap* b = display_->drawBuffer ? display_->drawBuffer.get() : display_->spriteFreeBuffer.get();
        return ReadBitmapPixel(b, x, y, false);
    }
    // How many pixels of it differ from colour.
    int NotOf(uint32_t colour) {
        int n = 0;
        for (int32_t y = 0; y < 80; ++y)
            for (int32_t x = 0; x < 100; ++x) n += Drawn(x, y) != colour;
        return n;
    }

    qbBrush* Brush(int32_t id) {
        qbBrush* b = nullptr;
        EXPECT_EQ(GetBrushRecord(nullptr, ObjectID{id, nullptr}, &b, 0), 0);
        return b;
    }
};

TEST_F(EdgeCoordinatesTest, ShapesFarOffADoubleBufferDrawNothing) {
    ASSERT_EQ(Run("BeginDoubleBuffer", 0), 0);
    ASSERT_NE(display_->drawBuffer, nullptr);
    DrawFarShapes();
    EXPECT_EQ(NotOf(0), 0);
}

// Into a brush selected plain, with a mask and with an alpha channel: the
// brush's pixels and planes stay as they were, and the display too.
TEST_F(EdgeCoordinatesTest, ShapesFarOffASelectedBrushDrawNothing) {
    for (const char* plane : {"", "mask", "alphachannel"}) {
        SCOPED_TRACE(plane);
        ASSERT_EQ(Show("CreateBrush", {2, 20, 10, double(kEdgeBlue)},
                       [&] {
                           if (*plane) SetTableFieldInt(L_, plane, 1);
                       }),
                  0);
        qbBrush* b = Brush(2);
        ASSERT_NE(b, nullptr);
        const qbBitmapPlane* p = b->mask ? b->mask->plane.get() : b->alpha ? b->alpha->plane.get() : nullptr;
        ASSERT_EQ(p != nullptr, *plane != 0);
        const std::vector<uint8_t> before = p ? std::vector<uint8_t>(p->data, p->data + p->rowBytes * p->height)
                                              : std::vector<uint8_t>();
        ASSERT_EQ(Show("SelectBrush", {2}), 0);
        DrawFarShapes();
        ASSERT_EQ(Run("EndSelect", 0), 0);
        b = Brush(2);
        int changed = 0;
        for (int32_t y = 0; y < 10; ++y)
            for (int32_t x = 0; x < 20; ++x) changed += ReadBitmapPixel(b->bitmap, x, y, false) != kEdgeBlue;
        EXPECT_EQ(changed, 0);
        const std::vector<uint8_t> after = p ? std::vector<uint8_t>(p->data, p->data + p->rowBytes * p->height)
                                             : std::vector<uint8_t>();
        EXPECT_EQ(after, before);
        EXPECT_EQ(NotOf(0), 0);
    }
}

// A box from far left that ends inside, and lines between the far ends of
// both axes: drawn where the exact sums put them, within a pixel.
TEST_F(EdgeCoordinatesTest, TheShapesPartInsideIsDrawnWhereExactArithmeticPutsIt) {
    ASSERT_EQ(Run("BeginDoubleBuffer", 0), 0);
    ASSERT_NE(display_->drawBuffer, nullptr);
    ASSERT_EQ(Show("SetFillStyle", {double(FILLCOLOR)}), 0);
    // -2147483600 + 2147483647 = 47: columns 0 to 46.
    ASSERT_EQ(Show("Box", {-2147483600.0, 10, 2147483647.0, 10, double(kEdgeRed)}), 0);
    for (int32_t x = 0; x < 100; ++x) EXPECT_EQ(Drawn(x, 15), x < 47 ? kEdgeRed : 0u) << x;
    ASSERT_EQ(Show("Line", {-3e9, 40, 3e9, 40, double(kEdgeGreen)}), 0);
    for (int32_t x = 0; x < 100; ++x) EXPECT_EQ(Drawn(x, 40), kEdgeGreen) << x;
    // From (-2^31, -2^31) to (2^31 - 1, 2^31 - 1): the diagonal.
    ASSERT_EQ(Show("Line", {-3e9, -3e9, 3e9, 3e9, double(kEdgeBlue)}), 0);
    for (int32_t k = 0; k < 80; ++k) {
        bool near = false;
        for (int32_t d = -1; d <= 1; ++d) near = near || (k + d >= 0 && Drawn(k + d, k) == kEdgeBlue);
        EXPECT_TRUE(near) << k;
        EXPECT_NE(Drawn(k + 3 < 100 ? k + 3 : k - 3, k), kEdgeBlue) << k;
    }
}

}  // namespace
