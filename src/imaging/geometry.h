// Rectangle and polygon geometry shared by the drawing code and the
// transition effects: overlaps, transformed bounds, clipping, arcs.
#pragma once

#include <cstdint>
#include <vector>

#include "core/numbers.h"

struct qbPoint {
    int32_t x = 0;
    int32_t y = 0;
};

inline bool operator==(const qbPoint& a, const qbPoint& b) { return a.x == b.x && a.y == b.y; }

struct qbRect {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
};

// Coordinates this far out lie beyond any picture. Rectangles built from
// wider sums are cut to them, so that the sum or difference of any two of
// their coordinates still fits 32 bits.
constexpr int64_t kCoordinateLimit = int64_t{1} << 29;

// The rectangle from left, top to right, bottom (exclusive), cut to
// +-kCoordinateLimit; empty when right or bottom lies before left or top.
qbRect RectFromEdges(int64_t left, int64_t top, int64_t right, int64_t bottom);

// The overlap of two rectangles; all zeros when they do not overlap.
qbRect IntersectRects(const qbRect& a, const qbRect& b);

// The bounding box of a width x height rectangle at x, y turned by the 2x2
// matrix about its anchor point (width x anchorX, height x anchorY).
qbRect GetAnchoredTransformBounds(int32_t x, int32_t y, int32_t width, int32_t height, double anchorX,
                                  double anchorY, const double matrix[4]);
// The four corners behind that box, (0, 0), (width - 1, 0), (width - 1,
// height - 1), (0, height - 1) in outline order, turned the same way and
// relative to x, y.
void GetAnchoredTransformCorners(int32_t width, int32_t height, double anchorX, double anchorY,
                                 const double matrix[4], double outX[4], double outY[4]);
void SetIdentityMatrix(double matrix[4]);

// Which side of the line a polygon keeps.
enum : int { kKeepRightOfX = 0, kKeepBelowY = 1, kKeepLeftOfX = 2, kKeepAboveY = 3 };

// One Sutherland-Hodgman pass of the closed polygon against the line
// x = value or y = value; out gets the clipped polygon. Returns its count.
int ClipPolygonToLine(const std::vector<qbPoint>& in, std::vector<qbPoint>& out, int32_t value, int edge);

// The outline of an ellipse segment in the box of 2 x radius + 1 pixels:
// a point for every degree from start to end, then the centre and the start
// point again, except for the full circle 0..360. Any angle works, negative
// ones too; spans beyond one turn are cut to one turn.
void BuildArcPolygon(std::vector<qbPoint>& out, int32_t radiusX, int32_t radiusY, int32_t startDegrees,
                     int32_t endDegrees);
