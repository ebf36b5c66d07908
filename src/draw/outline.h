// Shape outlines: boxes (plain and rounded), ellipses, pie-slice arcs and
// polygons as closed point lists in the shape's own image coordinates,
// turned by the shape's 2x2 matrix about its anchor; the edge ring of a
// polygon; and the small geometric helpers around them.
//
// Matrices are the four numbers {a, b, c, d} of qbTransformOptions:
// x' = a x + c y, y' = b x + d y, as the image transforms apply them.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/geometry.h"
#include "objects/objectoptions.h"

struct qbPointD {
    double x = 0;
    double y = 0;
};

// Shape types (also the layer types of shapes).
enum : int32_t {
    kShapeBox = 14,
    kShapeCircle = 15,
    kShapeEllipse = 16,
    kShapeLine = 17,
    kShapePlot = 18,
    kShapePolygon = 27,
    kShapeArc = 31,
};

// What the outline generators read of a shape.
struct qbShapeGeometry {
    int32_t type = kShapeBox;
    int32_t radiusX = 0;
    int32_t radiusY = 0;
    int32_t startAngle = 0;  // whole degrees
    int32_t endAngle = 360;
    int32_t corners[4] = {0, 0, 0, 0};  // percent: top left, bottom left, bottom right, top right
    int32_t clockwise = 1;
    std::vector<qbPointD> polygon;  // relative to the polygon's bounding box
    double matrix[4] = {1, 0, 0, 1};
    double anchorX = 0.5;
    double anchorY = 0.5;
};

// sin and cos of a whole number of degrees (any sign), from the draw
// library's tables.
double SinDegrees(int32_t degrees);
double CosDegrees(int32_t degrees);

// Number of points written; 0 for a type that has no outline. Arcs start
// with two bounding-box points (the box of the whole turned ellipse) that a
// rasteriser skips.
int32_t ShapeOutlinePoints(const qbShapeGeometry& shape, int32_t width, int32_t height, std::vector<qbPointD>* out);
int32_t ShapeOutlinePointsInt(const qbShapeGeometry& shape, int32_t width, int32_t height, std::vector<qbPoint>* out);

// The points of an elliptic arc, counter-clockwise on the screen from start
// to end (whole degrees), turned by the matrix about the centre, then moved
// so that the whole ellipse turns about the anchor point.
int32_t EllipsePoints(std::vector<qbPoint>* out, int32_t cx, int32_t cy, int32_t rx, int32_t ry, int32_t start,
                      int32_t end, const double matrix[4], bool withCentre, bool withBounds, double anchorX,
                      double anchorY);

// p' = M (p - a) + a with a = (width * anchorX, height * anchorY), both
// truncated; the identity leaves the point alone.
void TransformPoint(double x, double y, int32_t width, int32_t height, const double matrix[4], int32_t* outX,
                    int32_t* outY, double anchorX, double anchorY);
// Turns the points about the anchor of a width x height box and returns
// their bounding box (width = max + 1 - min); shiftToOrigin moves the points
// so that the box starts at 0,0.
qbRect TransformPointList(const double matrix[4], double anchorX, double anchorY, int32_t width, int32_t height,
                          std::vector<qbPoint>* points, bool shiftToOrigin);
// The same box and shift without turning.
qbRect NormalizePointList(std::vector<qbPoint>* points);

// Where the shape and its shadow sit inside the image, for a shadow of size
// in direction 0 (north) .. 7 (north-west).
struct qbShadowPlacement {
    int32_t shapeX = 0, shapeY = 0, shadowX = 0, shadowY = 0;
};
qbShadowPlacement ShadowOffsets(int32_t size, uint32_t direction);
void GrowByShadow(uint32_t direction, int32_t size, int32_t* width, int32_t* height);

void ClampCorners(int32_t corners[4]);

// Cuts the segment to the columns left..right, moving a cut end's y along
// it; false when nothing is left.
bool ClipSegmentToColumns(double* x0, double* y0, double* x1, double* y1, double left, double right);

enum : uint32_t { kCutLeft = 1, kCutRight = 2, kCutTop = 4, kCutBottom = 8 };
// Clips the rectangle to the clip rectangle; flags tell which sides were
// cut. False when nothing is left.
bool ClipRectFlags(int32_t* x, int32_t* y, int32_t* width, int32_t* height, int32_t clipX, int32_t clipY,
                   int32_t clipWidth, int32_t clipHeight, uint32_t* flags);

// Length 1, or unchanged when the length is 0.
void NormalizeVector(double v[2]);
void ScaleVector(double v[2], double s);

// The edge ring of a polygon: the polygon grown by edge pixels, rounded and
// moved so that its box starts at 0,0; the polygon sits at (offsetX,
// offsetY) inside it.
struct qbEdgeRing {
    std::vector<qbPoint> points;
    int32_t offsetX = 0;
    int32_t offsetY = 0;
    int32_t width = 0;
    int32_t height = 0;
};
// Duplicate and collinear vertices are dropped first; a corner whose miter
// would reach beyond four edge widths is bevelled; a polygon without three
// vertices off one line gets the rectangle around it.
qbEdgeRing PolygonEdgeRing(const std::vector<qbPointD>& polygon, int32_t edge);
