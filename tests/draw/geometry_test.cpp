// Polygon clipping, arc outlines, overlaps and transformed bounds.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>

#include "imaging/geometry.h"

namespace {

std::vector<qbPoint> Square(int32_t lo, int32_t hi) { return {{lo, lo}, {hi, lo}, {hi, hi}, {lo, hi}}; }

}  // namespace

TEST(PolygonClip, KeepsTheInsideAndAddsTheCrossings) {
    std::vector<qbPoint> out;
    EXPECT_EQ(ClipPolygonToLine(Square(0, 10), out, 4, kKeepRightOfX), 4);
    EXPECT_EQ(out, (std::vector<qbPoint>{{4, 0}, {10, 0}, {10, 10}, {4, 10}}));
    EXPECT_EQ(ClipPolygonToLine(Square(0, 10), out, 4, kKeepAboveY), 4);
    EXPECT_EQ(out, (std::vector<qbPoint>{{0, 0}, {10, 0}, {10, 4}, {0, 4}}));
    EXPECT_EQ(ClipPolygonToLine(Square(0, 10), out, 20, kKeepBelowY), 0);
    EXPECT_EQ(ClipPolygonToLine(Square(0, 10), out, 20, kKeepLeftOfX), 4);
    // A diagonal edge: the crossing is truncated toward zero.
    const std::vector<qbPoint> tri = {{0, 0}, {3, 10}, {0, 10}};
    ClipPolygonToLine(tri, out, 5, kKeepBelowY);
    EXPECT_EQ(out, (std::vector<qbPoint>{{1, 5}, {3, 10}, {0, 10}, {0, 5}}));
    ClipPolygonToLine(tri, out, 1, kKeepRightOfX);
    EXPECT_EQ(out, (std::vector<qbPoint>{{1, 3}, {3, 10}, {1, 10}}));
}

TEST(PolygonClip, ExtremeCoordinatesStayInRange) {
    // Edges across the whole 32-bit range: the intermediate values overflow
    // 32 bits and the slopes are steep, yet every crossing lies on its edge.
    const std::vector<qbPoint> wide = {{INT_MIN, INT_MIN}, {INT_MAX, INT_MIN + 1}, {INT_MAX, INT_MAX}, {INT_MIN, INT_MAX}};
    std::vector<qbPoint> out;
    for (int edge = 0; edge < 4; ++edge) {
        for (int32_t value : {INT_MIN + 1, -1, 0, 1, INT_MAX - 1}) {
            const int n = ClipPolygonToLine(wide, out, value, edge);
            EXPECT_GE(n, 0);
            for (const qbPoint& p : out) {
                const int32_t along = edge == kKeepRightOfX || edge == kKeepLeftOfX ? p.x : p.y;
                const bool keepsAbove = edge == kKeepRightOfX || edge == kKeepBelowY;
                EXPECT_TRUE(keepsAbove ? along >= value : along <= value) << edge << " " << value;
            }
        }
    }
    // A vertical edge crossing a horizontal line keeps its x.
    const std::vector<qbPoint> needle = {{7, INT_MIN}, {7, INT_MAX}, {8, INT_MAX}};
    ClipPolygonToLine(needle, out, 0, kKeepAboveY);
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out[1], (qbPoint{7, 0}));
}

TEST(ArcPolygon, PointsForEveryDegreeThenTheCentreAndTheStart) {
    std::vector<qbPoint> arc;
    BuildArcPolygon(arc, 100, 50, 0, 90);
    ASSERT_EQ(arc.size(), 91u + 2);
    EXPECT_EQ(arc[0], (qbPoint{301, 50}));  // (201 x 2048) / 2048 + 100
    EXPECT_EQ(arc[90], (qbPoint{100, 151}));
    EXPECT_EQ(arc[45], (qbPoint{100 + 201 * 1448 / 2048, 50 + 101 * 1448 / 2048}));
    EXPECT_EQ(arc[91], (qbPoint{100, 50}));
    EXPECT_EQ(arc[92], arc[0]);
    BuildArcPolygon(arc, 10, 10, 0, 360);
    EXPECT_EQ(arc.size(), 361u);
    EXPECT_EQ(arc.front(), arc.back());
}

TEST(ArcPolygon, NegativeAnglesMeanTheSameDirections) {
    std::vector<qbPoint> negative, positive;
    BuildArcPolygon(negative, 40, 30, -90, 0);
    BuildArcPolygon(positive, 40, 30, 270, 360);
    EXPECT_EQ(negative, positive);
    BuildArcPolygon(negative, 40, 30, -725, -700);
    BuildArcPolygon(positive, 40, 30, 355, 380);
    EXPECT_EQ(negative, positive);
    // A span of many turns is one turn.
    BuildArcPolygon(negative, 5, 5, 0, INT_MAX);
    EXPECT_EQ(negative.size(), 361u + 2);
}

TEST(Rectangles, IntersectionsAndTurnedBounds) {
    EXPECT_EQ(IntersectRects({0, 0, 10, 10}, {5, 5, 10, 10}).width, 5);
    const qbRect none = IntersectRects({0, 0, 10, 10}, {20, 0, 5, 5});
    EXPECT_EQ(none.x + none.y + none.width + none.height, 0);
    const qbRect huge = IntersectRects({INT_MIN, INT_MIN, INT_MAX, INT_MAX}, {-10, -10, INT_MAX, INT_MAX});
    EXPECT_EQ(huge.x, -10);
    EXPECT_EQ(huge.width, 9);
    const qbRect plain = RectFromEdges(-5, 2, 10, 4);
    EXPECT_EQ(plain.x, -5);
    EXPECT_EQ(plain.width, 15);
    double m[4];
    SetIdentityMatrix(m);
    qbRect b = GetAnchoredTransformBounds(5, 6, 20, 10, 0.5, 0.5, m);
    EXPECT_EQ(b.x, 5);
    EXPECT_EQ(b.y, 6);
    EXPECT_EQ(b.width, 20);
    EXPECT_EQ(b.height, 10);
    const double quarterTurn[4] = {0, -1, 1, 0};
    b = GetAnchoredTransformBounds(0, 0, 20, 10, 0.5, 0.5, quarterTurn);
    EXPECT_EQ(b.width, 10);
    EXPECT_EQ(b.height, 20);
    // NaN counts as 0, on the axis it reaches.
    const double broken[4] = {std::nan(""), 0, 0, 1};
    b = GetAnchoredTransformBounds(-5, 7, 20, 10, 0.5, 0.5, broken);
    EXPECT_EQ(b.x, 0);
    EXPECT_EQ(b.width, 0);
    EXPECT_EQ(b.y, 7);
    EXPECT_EQ(b.height, 10);
    // Edges beyond the coordinate limit are cut to it.
    const qbRect cut = RectFromEdges(INT64_MIN / 2, -10, INT64_MAX / 2, 10);
    EXPECT_EQ(cut.x, -kCoordinateLimit);
    EXPECT_EQ(int64_t{cut.x} + cut.width, kCoordinateLimit);
    EXPECT_EQ(cut.y, -10);
    EXPECT_EQ(cut.height, 20);
    EXPECT_EQ(RectFromEdges(int64_t{INT32_MAX} + 5, 0, int64_t{INT32_MAX} + 10, 1).width, 0);
    EXPECT_EQ(RectFromEdges(10, 0, 5, 1).width, 0);
}
