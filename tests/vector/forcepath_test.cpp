// ForcePathUse: the draw library's Box, Circle, Ellipse, Arc and Polygon
// drawn through temporary paths come out as DrawPath draws the path each
// builds, a pie keeps its apex on the centre, and switching off brings the
// shape renderer back.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/errcodes.h"
#include "path_fixture.h"

namespace {

class ForcePathTest : public PathWorld {
protected:
    void SetUp() override {
        PathWorld::SetUp();
        ASSERT_EQ(Cmd("SetFillStyle", {FILLCOLOR}), 0);
        ASSERT_EQ(Cmd("SetFormStyle", {kFormAntialias}), 0);
    }
    // The picture the shape command leaves under ForcePathUse against the
    // one DrawPath leaves for the path that build makes, drawn at x, y.
    void Same(const std::function<int()>& shape, const std::function<void()>& build, double x, double y) {
        Clear(0);
        ASSERT_EQ(Cmd("ForcePathUse", {1}), 0);
        ASSERT_EQ(shape(), 0);
        ASSERT_EQ(Cmd("ForcePathUse", {0}), 0);
        const std::vector<uint32_t> routed = Picture();
        Clear(0);
        ASSERT_EQ(Cmd("StartPath", {1}), 0);
        build();
        ASSERT_EQ(Cmd("ClosePath", {1}), 0);
        ASSERT_EQ(Cmd("DrawPath", {1, x, y, 0xFF8000}), 0);
        EXPECT_LE(WorstChannel(routed, Picture()), 1);
        EXPECT_NE(routed, std::vector<uint32_t>(routed.size(), 0u));
    }
};

TEST_F(ForcePathTest, ShapesDrawAsTheirPaths) {
    {
        SCOPED_TRACE("box");
        Same([&] { return Show("Box", {10, 10, 40, 30, 0xFF8000}, [&] { SetTableFieldInt(L_, "roundlevel", 50); }); },
             [&] {
                 VmPushNumber(L_, 1);
                 for (double v : {0.0, 0.0, 40.0, 30.0}) VmPushNumber(L_, v);
                 VmPushNewTable(L_);
                 SetTableFieldInt(L_, "roundlevel", 50);
                 ASSERT_EQ(Run("AddBoxToPath", 6), 0);
             },
             10, 10);
    }
    {
        SCOPED_TRACE("circle");
        Same([&] { return Cmd("Circle", {10, 5, 20, 0xFF8000}); },
             [&] { ASSERT_EQ(Cmd("AddCircleToPath", {1, 20, 20, 20}), 0); }, 10, 5);
    }
    {
        SCOPED_TRACE("ellipse");
        Same([&] { return Cmd("Ellipse", {5, 5, 30, 20, 0xFF8000}); },
             [&] { ASSERT_EQ(Cmd("AddEllipseToPath", {1, 30, 20, 30, 20}), 0); }, 5, 5);
    }
    {
        SCOPED_TRACE("arc");
        Same([&] { return Cmd("Arc", {5, 5, 50, 25, 0, 90, 0xFF8000}); },
             [&] {
                 ASSERT_EQ(Cmd("MoveTo", {1, 50, 25}), 0);
                 ASSERT_EQ(Cmd("AddArcToPath", {1, 50, 25, 50, 25, 0, 90, 1}), 0);
             },
             5, 5);
    }
    {
        SCOPED_TRACE("polygon");
        const double pts[] = {0, 0, 40, 5, 20, 30};
        Same(
            [&] {
                VmPushNumber(L_, 10);
                VmPushNumber(L_, 10);
                VmPushNewTable(L_);
                for (int i = 0; i < 6; ++i) {
                    VmPushNumber(L_, pts[i]);
                    VmRawSetIndex(L_, -2, i);
                }
                VmPushNumber(L_, 3);
                VmPushNumber(L_, 0xFF8000);
                return Run("Polygon", 5);
            },
            [&] {
                ASSERT_EQ(Cmd("MoveTo", {1, 0, 0}), 0);
                ASSERT_EQ(Cmd("LineTo", {1, 40, 5}), 0);
                ASSERT_EQ(Cmd("LineTo", {1, 20, 30}), 0);
            },
            10, 10);
    }
}

TEST_F(ForcePathTest, APieKeepsItsApexOnTheCentre) {
    Clear(0);
    ASSERT_EQ(Cmd("ForcePathUse", {1}), 0);
    ASSERT_EQ(Cmd("Arc", {5, 5, 50, 25, 0, 90, 0xFFFFFF}), 0);
    // Centre (55, 30): the quarter lies right of and below it.
    EXPECT_EQ(Shown(57, 32), 0xFFFFFFu);
    EXPECT_EQ(Shown(90, 32), 0xFFFFFFu);
    EXPECT_EQ(Shown(57, 53), 0xFFFFFFu);
    EXPECT_EQ(Shown(53, 32), 0u);
    EXPECT_EQ(Shown(57, 28), 0u);
}

TEST_F(ForcePathTest, SwitchingOffBringsTheShapeRendererBack) {
    ASSERT_EQ(Cmd("SetFormStyle", {kFormNormal}), 0);
    Clear(0);
    ASSERT_EQ(Cmd("Circle", {10, 10, 20, 0xFFFFFF}), 0);
    const std::vector<uint32_t> shape = Picture();
    Clear(0);
    ASSERT_EQ(Cmd("ForcePathUse", {1}), 0);
    ASSERT_EQ(Cmd("Circle", {10, 10, 20, 0xFFFFFF}), 0);
    EXPECT_NE(Picture(), shape);  // the path road leaves its own pixels
    Clear(0);
    ASSERT_EQ(Cmd("ForcePathUse", {0}), 0);
    ASSERT_EQ(Cmd("Circle", {10, 10, 20, 0xFFFFFF}), 0);
    EXPECT_EQ(Picture(), shape);
    // Nil switches off too.
    ASSERT_EQ(Cmd("ForcePathUse", {1}), 0);
    Clear(0);
    VmPushNil(L_);
    ASSERT_EQ(Run("ForcePathUse", 1), 0);
    ASSERT_EQ(Cmd("Circle", {10, 10, 20, 0xFFFFFF}), 0);
    EXPECT_EQ(Picture(), shape);
}

// Shapes larger than the path road's rasters answer as on the plain road:
// a box is drawn straight onto the picture, a circle needs a picture too
// large to make. Outlines and fills alike.
TEST_F(ForcePathTest, HugeShapesAnswerAsOnThePlainRoad) {
    for (double fill : {double(FILLNONE), double(FILLCOLOR)}) {
        ASSERT_EQ(Cmd("SetFillStyle", {fill}), 0);
        ASSERT_EQ(Cmd("SetFormStyle", {kFormNormal}), 0);
        for (double size : {1e5, 1e9}) {
            std::vector<uint32_t> pictures[2], thin[2][2];
            int results[2][2];
            for (int forced : {0, 1}) {
                ASSERT_EQ(Cmd("ForcePathUse", {double(forced)}), 0);
                // Huge one way only: a box of 1e9 by 30 or 30 by 1e9 that
                // ends on the picture.
                for (int tall : {0, 1}) {
                    Clear(0);
                    ASSERT_EQ(Cmd("Box", {tall ? 5 : 50 - 1e9, tall ? 50 - 1e9 : 5, tall ? 30 : 1e9, tall ? 1e9 : 30,
                                          0xFFFFFF}),
                              0);
                    EXPECT_EQ(Shown(tall ? 20 : 49, tall ? 49 : 20), 0xFFFFFFu);
                    thin[forced][tall] = Picture();
                }
                Clear(0);
                results[forced][0] = Cmd("Box", {0, 0, size, size, 0xFFFFFF});
                pictures[forced] = Picture();
                results[forced][1] = Cmd("Circle", {0, 0, size, 0xFFFFFF});
            }
            EXPECT_EQ(thin[0][0], thin[1][0]);
            EXPECT_EQ(thin[0][1], thin[1][1]);
            ASSERT_EQ(Cmd("ForcePathUse", {0}), 0);
            SCOPED_TRACE(std::to_string(fill) + " " + std::to_string(size));
            EXPECT_EQ(results[1][0], 0);
            EXPECT_EQ(results[1][1], ERR_BITMAP);
            EXPECT_EQ(results[0][0], results[1][0]);
            EXPECT_EQ(results[0][1], results[1][1]);
            EXPECT_EQ(pictures[0], pictures[1]);
        }
    }
}

// A box huge only across, two pixels high, answers as on the plain road:
// not drawn squashed by the path road.
TEST_F(ForcePathTest, AThinBoxHugeAcrossAnswersAsOnThePlainRoad) {
    int results[2];
    std::vector<uint32_t> pictures[2];
    for (int forced : {0, 1}) {
        ASSERT_EQ(Cmd("ForcePathUse", {double(forced)}), 0);
        Clear(0);
        results[forced] = Cmd("Box", {50 - 1e9, 5, 1e9, 2, 0xFFFFFF});
        pictures[forced] = Picture();
    }
    ASSERT_EQ(Cmd("ForcePathUse", {0}), 0);
    EXPECT_EQ(results[1], results[0]);
    EXPECT_EQ(pictures[1], pictures[0]);
    // Right at the path road's reach it stays on the path road, drawn as
    // one a pixel shorter.
    ASSERT_EQ(Cmd("ForcePathUse", {1}), 0);
    for (int shorter : {1, 0}) {
        Clear(0);
        const double width = 16777216 - shorter;
        results[shorter] = Cmd("Box", {50 - width, 5, width, 2, 0xFFFFFF});
        pictures[shorter] = Picture();
    }
    ASSERT_EQ(Cmd("ForcePathUse", {0}), 0);
    EXPECT_EQ(results[0], 0);
    EXPECT_EQ(results[1], 0);
    EXPECT_EQ(pictures[0], pictures[1]);
    EXPECT_EQ(Shown(20, 5), 0xFFFFFFu);
}

// A polygon with a point beyond the path road's reach down the picture
// answers as on the plain road, not drawn squashed.
TEST_F(ForcePathTest, APolygonReachingFarDownAnswersAsOnThePlainRoad) {
    const auto polygon = [&](double farY) {
        const double pts[] = {0, 0, 10, 0, 20, farY};
        Clear(0);
        VmSetTop(L_, 0);
        VmPushNumber(L_, 10);
        VmPushNumber(L_, 0);
        VmPushNewTable(L_);
        for (int i = 0; i < 6; ++i) {
            VmPushNumber(L_, pts[i]);
            VmRawSetIndex(L_, -2, i);
        }
        VmPushNumber(L_, 3);
        VmPushNumber(L_, 0xFFFFFF);
        return Run("Polygon", 5);
    };
    ASSERT_EQ(Cmd("ForcePathUse", {0}), 0);
    EXPECT_EQ(polygon(1e9), ERR_BITMAP);
    ASSERT_EQ(Cmd("ForcePathUse", {1}), 0);
    EXPECT_EQ(polygon(1e9), ERR_BITMAP);
    ASSERT_EQ(Cmd("ForcePathUse", {0}), 0);
}

// Shapes at the edges answer on the path road as on the plain road: an arc
// that starts where it ends is drawn (as nothing) and huge ellipses and
// arcs need a picture too large to make. Outlines and fills alike.
TEST_F(ForcePathTest, EdgeShapesAnswerAsOnThePlainRoad) {
    const std::vector<std::pair<const char*, std::vector<double>>> calls = {
        {"Arc", {100, 100, 50, 30, 90, 90, 0xFFFFFF}},
        {"Arc", {100, 100, 50, 30, 400, 40, 0xFFFFFF}},
        {"Arc", {0, 0, 1e9, 1e9, 0, 90, 0xFFFFFF}},
        {"Arc", {0, 0, 1e9, 30, 10, 10, 0xFFFFFF}},
        {"Arc", {0, 0, 30, 1e9, 0, 90, 0xFFFFFF}},
        {"Ellipse", {0, 0, 1e9, 1e9, 0xFFFFFF}},
        {"Ellipse", {0, 0, 30, 1e9, 0xFFFFFF}},
    };
    for (double fill : {double(FILLNONE), double(FILLCOLOR)}) {
        ASSERT_EQ(Cmd("SetFillStyle", {fill}), 0);
        for (const auto& [command, args] : calls) {
            SCOPED_TRACE(std::string(command) + " " + std::to_string(args[2]) + " fill " + std::to_string(fill));
            int results[2];
            std::vector<uint32_t> pictures[2];
            for (int forced : {0, 1}) {
                ASSERT_EQ(Cmd("ForcePathUse", {double(forced)}), 0);
                Clear(0);
                VmSetTop(L_, 0);
                for (double a : args) VmPushNumber(L_, a);
                results[forced] = Run(command, static_cast<int>(args.size()));
                pictures[forced] = Picture();
            }
            ASSERT_EQ(Cmd("ForcePathUse", {0}), 0);
            EXPECT_EQ(results[1], results[0]);
            const bool noSweep = std::string(command) == "Arc" && args[4] == args[5];
            if (results[0] != 0 || noSweep) {
                EXPECT_EQ(pictures[1], pictures[0]);
            }
        }
    }
}

}  // namespace

namespace {

// What a shape command leaves on the picture: its answer and the lit
// pixels' bounds and count.
struct RoadPicture {
    int result = -1;
    std::vector<uint32_t> picture;
    int lit = 0, left = 100, top = 80, right = -1, bottom = -1;
};

class ShapeRoadsTest : public PathWorld {
protected:
    void SetUp() override {
        PathWorld::SetUp();
        ASSERT_EQ(Cmd("SetFillStyle", {FILLCOLOR}), 0);
    }
    void TearDown() override {
        Cmd("ForcePathUse", {0});
        PathWorld::TearDown();
    }
    RoadPicture Draw(bool forced, const char* command, const std::vector<double>& args) {
        RoadPicture d;
        EXPECT_EQ(Cmd("ForcePathUse", {forced ? 1.0 : 0.0}), 0);
        Clear(0);
        VmSetTop(L_, 0);
        for (double a : args) VmPushNumber(L_, a);
        d.result = Run(command, static_cast<int>(args.size()));
        d.picture = Picture();
        for (int i = 0; i < static_cast<int>(d.picture.size()); ++i) {
            if (d.picture[i] == 0) continue;
            ++d.lit;
            d.left = std::min(d.left, i % 100), d.right = std::max(d.right, i % 100);
            d.top = std::min(d.top, i / 100), d.bottom = std::max(d.bottom, i / 100);
        }
        return d;
    }
    // The two roads' pictures of one shape differ only along its edges (the
    // plain road draws curves as polygons): the lit pixels' bounds within
    // two pixels, their counts within a quarter (a thin sliver's edges are
    // most of it).
    static void Alike(const RoadPicture& plain, const RoadPicture& path) {
        EXPECT_EQ(path.result, plain.result);
        EXPECT_GT(plain.lit, 0);
        EXPECT_NEAR(path.lit, plain.lit, plain.lit / 4);
        EXPECT_NEAR(path.left, plain.left, 2);
        EXPECT_NEAR(path.right, plain.right, 2);
        EXPECT_NEAR(path.top, plain.top, 2);
        EXPECT_NEAR(path.bottom, plain.bottom, 2);
    }
};

// A span of a full turn or more is the whole ellipse on both roads, either
// way round: the pie's picture is the ellipse's.
TEST_F(ShapeRoadsTest, AnArcOfAFullTurnIsTheWholeEllipseOnBothRoads) {
    for (bool forced : {false, true}) {
        const RoadPicture ellipse = Draw(forced, "Ellipse", {10, 10, 30, 20, 0xFFFFFF});
        ASSERT_EQ(ellipse.result, 0);
        for (const auto& [start, end] : {std::pair{0, 360}, {0, 720}, {90, 450}, {400, 40}})
            for (int clockwise : {0, 1}) {
                SCOPED_TRACE(std::to_string(start) + " to " + std::to_string(end) + " clockwise " +
                             std::to_string(clockwise) + (forced ? " path road" : " plain road"));
                const RoadPicture arc = Draw(forced, "Arc", {10, 10, 30, 20, double(start), double(end), 0xFFFFFF,
                                                       double(clockwise)});
                EXPECT_EQ(arc.result, 0);
                EXPECT_EQ(WorstChannel(arc.picture, ellipse.picture), 0);
            }
    }
    for (const auto& [start, end] : {std::pair{0, 720}, {0, 90}, {350, 10}, {90, 0}})
        for (int clockwise : {0, 1}) {
            SCOPED_TRACE(std::to_string(start) + " to " + std::to_string(end) + " clockwise " +
                         std::to_string(clockwise));
            const std::vector<double> args = {10, 10, 30, 20, double(start), double(end), 0xFFFFFF, double(clockwise)};
            Alike(Draw(false, "Arc", args), Draw(true, "Arc", args));
        }
}

// A pie stays inside its box on both roads whatever its span, line width
// and fill, and the roads' pictures share their box to the pixel: a narrow
// pie's apex is a needle (a mitred stroke there would spike a hundred line
// widths out of the shape), and a path placed a fraction of a pixel off its
// points, or a sliver losing its tips, moves the box.
TEST_F(ShapeRoadsTest, AnOutlinedPieStaysInsideItsBoxOnBothRoads) {
    // Centre (45, 35), radii 25 and 15.
    const int boxLeft = 20, boxTop = 20, boxRight = 70, boxBottom = 50;
    for (double fill : {double(FILLNONE), double(FILLCOLOR)})
        for (int width = 1; width <= 10; ++width) {
            ASSERT_EQ(Cmd("SetFillStyle", {fill, double(width)}), 0);
            for (const auto& [start, end] : {std::pair{0, 1}, {0, 5}, {0, 45}, {0, 359}})
                for (int clockwise : {0, 1}) {
                    SCOPED_TRACE(std::to_string(start) + " to " + std::to_string(end) + " clockwise " +
                                 std::to_string(clockwise) + " width " + std::to_string(width) + " fill " +
                                 std::to_string(fill));
                    const std::vector<double> args = {20, 20, 25, 15, double(start), double(end), 0xFFFFFF,
                                                      double(clockwise)};
                    const RoadPicture plain = Draw(false, "Arc", args), path = Draw(true, "Arc", args);
                    ASSERT_EQ(plain.result, 0);
                    ASSERT_EQ(path.result, 0);
                    ASSERT_GT(path.lit, 0);
                    EXPECT_GE(path.left, boxLeft - width);
                    EXPECT_LE(path.right, boxRight + width);
                    EXPECT_GE(path.top, boxTop - width);
                    EXPECT_LE(path.bottom, boxBottom + width);
                    EXPECT_NEAR(path.left, plain.left, 1);
                    EXPECT_NEAR(path.right, plain.right, 1);
                    EXPECT_NEAR(path.top, plain.top, 1);
                    EXPECT_NEAR(path.bottom, plain.bottom, 1);
                }
        }
}

// A rotation argument turns the shape on the path road as on the plain one.
TEST_F(ShapeRoadsTest, ARotationArgumentTurnsTheShapeOnBothRoads) {
    const std::vector<std::pair<const char*, std::vector<double>>> calls = {
        {"Box", {20, 20, 40, 10, 0xFFFFFF, 0, 45}},
        {"Ellipse", {20, 20, 30, 10, 0xFFFFFF, 60}},
    };
    for (const auto& [command, args] : calls) {
        SCOPED_TRACE(command);
        Alike(Draw(false, command, args), Draw(true, command, args));
    }
}

}  // namespace
