// Shape outlines: boxes, rounded corners, ellipses and arcs, the turning
// helpers, shadow placement and the polygon edge ring.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "draw/outline.h"

namespace {

std::vector<qbPoint> Outline(const qbShapeGeometry& s, int32_t w, int32_t h) {
    std::vector<qbPoint> out;
    const int32_t n = ShapeOutlinePointsInt(s, w, h, &out);
    EXPECT_EQ(n, static_cast<int32_t>(out.size()));
    return out;
}

qbShapeGeometry Shape(int32_t type) {
    qbShapeGeometry s;
    s.type = type;
    return s;
}

bool Contains(const std::vector<qbPoint>& pts, qbPoint p) {
    for (const qbPoint& q : pts)
        if (q == p) return true;
    return false;
}

std::vector<qbPointD> Doubles(std::initializer_list<qbPointD> pts) { return pts; }

qbRect Box(const std::vector<qbPoint>& pts) {
    std::vector<qbPoint> copy = pts;
    return NormalizePointList(&copy);
}

}  // namespace

TEST(ShapeOutline, BoxesAndCorners) {
    const std::vector<qbPoint> dot = Outline(Shape(kShapeBox), 1, 1);
    ASSERT_EQ(dot.size(), 5u);
    for (const qbPoint& p : dot) EXPECT_EQ(p, (qbPoint{0, 0}));

    qbShapeGeometry r = Shape(kShapeBox);
    r.corners[0] = 50;
    const std::vector<qbPoint> rounded = Outline(r, 400, 400);
    // Top left: radius 100 from (100, 0) to (0, 100); the others 1 percent
    // of the half side, radius 2.
    EXPECT_EQ(rounded.front(), (qbPoint{100, 0}));
    EXPECT_EQ(rounded.back(), rounded.front());
    EXPECT_TRUE(Contains(rounded, {0, 100}));
    EXPECT_TRUE(Contains(rounded, {0, 397}));
    EXPECT_TRUE(Contains(rounded, {2, 399}));
    EXPECT_TRUE(Contains(rounded, {399, 2}));
    EXPECT_FALSE(Contains(rounded, {0, 0}));
    EXPECT_EQ(Box(rounded).width, 400);
    EXPECT_EQ(Box(rounded).height, 400);
}

TEST(ShapeOutline, EllipsesAndArcs) {
    EXPECT_EQ(Outline(Shape(kShapeCircle), 5, 5).size(), 5u);
    const std::vector<qbPoint> circle = Outline(Shape(kShapeCircle), 41, 41);
    EXPECT_EQ(circle.size(), 73u);
    EXPECT_EQ(circle.front(), (qbPoint{40, 20}));
    EXPECT_TRUE(Contains(circle, {20, 0}));  // 90 degrees is up

    qbShapeGeometry cw = Shape(kShapeArc);
    cw.startAngle = 0;
    cw.endAngle = 90;
    qbShapeGeometry ccw = cw;
    ccw.startAngle = 90;
    ccw.endAngle = 0;
    ccw.clockwise = 0;
    const std::vector<qbPoint> a = Outline(cw, 41, 41), b = Outline(ccw, 41, 41);
    EXPECT_EQ(a, b);
    // Two box points, the arc through the bottom right quarter, the centre
    // and the arc's first point again.
    EXPECT_EQ(a[0], (qbPoint{0, 0}));
    EXPECT_EQ(a[1], (qbPoint{40, 40}));
    EXPECT_EQ(a[2], (qbPoint{20, 40}));
    EXPECT_EQ(a[a.size() - 3], (qbPoint{40, 20}));
    EXPECT_EQ(a[a.size() - 2], (qbPoint{20, 20}));
    EXPECT_EQ(a.back(), a[2]);
    EXPECT_EQ(Outline(Shape(kShapeLine), 5, 5).size(), 0u);
}

TEST(ShapeOutline, QuarterTurnsMapWholePixels) {
    const double m[4] = {CosDegrees(90), SinDegrees(90), -SinDegrees(90), CosDegrees(90)};
    std::vector<qbPoint> box = Outline(Shape(kShapeBox), 100, 40);
    const qbRect r = TransformPointList(m, 0.5, 0.5, 100, 40, &box, true);
    EXPECT_EQ(r.width, 40);
    EXPECT_EQ(r.height, 100);
    EXPECT_EQ(Box(box).x, 0);
    // x' = a x + c y: (1, 0) turns to (0, 1), as images turn.
    int32_t x = 0, y = 0;
    TransformPoint(11, 10, 20, 20, m, &x, &y, 0.5, 0.5);
    EXPECT_EQ(x, 10);
    EXPECT_EQ(y, 11);
    // A turned circle stays in the box of its radius.
    qbShapeGeometry c = Shape(kShapeCircle);
    std::copy(m, m + 4, c.matrix);
    const qbRect cb = Box(Outline(c, 21, 21));
    EXPECT_EQ(cb.width, 21);
    EXPECT_EQ(cb.height, 21);
}

TEST(ShapeOutline, ShadowsAndHelpers) {
    qbShadowPlacement p = ShadowOffsets(4, 3);
    EXPECT_EQ(p.shapeX + p.shapeY, 0);
    EXPECT_EQ(p.shadowX, 4);
    EXPECT_EQ(p.shadowY, 4);
    p = ShadowOffsets(4, 7);
    EXPECT_EQ(p.shapeX, 4);
    EXPECT_EQ(p.shapeY, 4);
    EXPECT_EQ(p.shadowX + p.shadowY, 0);
    int32_t w = 10, h = 10;
    GrowByShadow(2, 4, &w, &h);
    EXPECT_EQ(w, 14);
    EXPECT_EQ(h, 10);
    int32_t corners[4] = {150, -5, 50, 100};
    ClampCorners(corners);
    EXPECT_EQ(corners[0], 100);
    EXPECT_EQ(corners[1], 0);
    double x0 = -10, y0 = 0, x1 = 10, y1 = 20;
    ASSERT_TRUE(ClipSegmentToColumns(&x0, &y0, &x1, &y1, 0, 5));
    EXPECT_EQ(y0, 10);
    EXPECT_EQ(y1, 15);
    EXPECT_FALSE(ClipSegmentToColumns(&x0, &y0, &x1, &y1, 6, 9));
    int32_t rx = -5, ry = 2, rw = 20, rh = 4;
    uint32_t flags = 0;
    ASSERT_TRUE(ClipRectFlags(&rx, &ry, &rw, &rh, 0, 0, 10, 10, &flags));
    EXPECT_EQ(flags, kCutLeft | kCutRight);
    EXPECT_EQ(rw, 10);
    double v[2] = {3, 4};
    NormalizeVector(v);
    EXPECT_DOUBLE_EQ(v[0], 0.6);
    double zero[2] = {0, 0};
    NormalizeVector(zero);
    EXPECT_EQ(zero[0], 0);
}

TEST(EdgeRing, MitresBevelsAndFallbacks) {
    // A square grows by the edge on every side.
    qbEdgeRing sq = PolygonEdgeRing(Doubles({{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}}), 2);
    EXPECT_EQ(sq.points.size(), 4u);
    EXPECT_EQ(sq.width, 15);
    EXPECT_EQ(sq.offsetX, 2);

    // Three points on a line: the rectangle around them.
    qbEdgeRing line = PolygonEdgeRing(Doubles({{0, 0}, {5, 5}, {10, 10}}), 3);
    EXPECT_EQ(line.points.size(), 5u);
    EXPECT_EQ(line.width, 17);
    EXPECT_EQ(line.offsetY, 3);

    // A hexagon with one more point in the middle of a side stays a hexagon.
    std::vector<qbPointD> hex;
    for (int k = 0; k < 6; ++k) {
        hex.push_back({50 + 40 * std::cos(k * M_PI / 3), 50 + 40 * std::sin(k * M_PI / 3)});
        if (k == 2) hex.push_back({(hex[2].x + 50 + 40 * std::cos(M_PI)) / 2, (hex[2].y + 50) / 2});
    }
    EXPECT_EQ(PolygonEdgeRing(hex, 4).points.size(), 6u);

    // A needle of 1 degree: the bevelled tip keeps the ring near its box.
    const double tip = 100 / std::tan(0.5 * M_PI / 180);
    qbEdgeRing needle = PolygonEdgeRing(Doubles({{0, 0}, {tip, 100}, {0, 200}}), 2);
    EXPECT_LE(needle.width, static_cast<int32_t>(tip) + 1 + 8);
    EXPECT_LE(needle.height, 201 + 8);
}

TEST(EdgeRing, EveryRoadKeepsEachAxisOnAWideShapeAwayFromTheOrigin) {
    struct Case {
        const char* what;
        std::vector<qbPointD> polygon;
        int32_t edge;
        std::vector<qbPoint> points;  // the ring, its box moved to 0,0
        int32_t offsetX, offsetY, width, height;
    };
    // Every shape is wider than high (or the reverse) and lies at distinct
    // x and y offsets, so that an axis read for the other moves or resizes
    // the ring.
    const std::vector<Case> cases = {
        {"wide rectangle, clockwise on the screen", {{3, 7}, {23, 7}, {23, 12}, {3, 12}}, 2,
         {{0, 0}, {24, 0}, {24, 9}, {0, 9}}, -1, -5, 25, 10},
        {"the same, the other way round", {{3, 12}, {23, 12}, {23, 7}, {3, 7}}, 2,
         {{0, 9}, {24, 9}, {24, 0}, {0, 0}}, -1, -5, 25, 10},
        // The top corner is bevelled, the other two mitred.
        {"tall triangle", {{4, 1}, {10, 21}, {4, 21}}, 1, {{0, 0}, {2, 0}, {8, 21}, {0, 21}}, -3, -1, 9, 22},
        {"collinear points falling to the right", {{2, 9}, {8, 6}, {14, 3}}, 3,
         {{0, 0}, {18, 0}, {18, 12}, {0, 12}, {0, 0}}, 1, 0, 19, 13},
        {"collinear points rising to the right", {{14, 9}, {8, 6}, {2, 3}}, 3,
         {{0, 0}, {18, 0}, {18, 12}, {0, 12}, {0, 0}}, 1, 0, 19, 13},
        {"one point", {{5, 11}, {5, 11}}, 2, {{0, 0}, {4, 0}, {4, 4}, {0, 4}, {0, 0}}, -3, -9, 5, 5},
        {"zero width", {{4, 2}, {4, 10}, {4, 6}}, 1, {{0, 0}, {2, 0}, {2, 10}, {0, 10}, {0, 0}}, -3, -1, 3, 11},
        {"zero height", {{9, 5}, {1, 5}}, 2, {{0, 0}, {12, 0}, {12, 4}, {0, 4}, {0, 0}}, 1, -3, 13, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const qbEdgeRing ring = PolygonEdgeRing(c.polygon, c.edge);
        EXPECT_EQ(ring.offsetX, c.offsetX);
        EXPECT_EQ(ring.offsetY, c.offsetY);
        EXPECT_EQ(ring.width, c.width);
        EXPECT_EQ(ring.height, c.height);
        EXPECT_EQ(ring.points, c.points);
    }
}
