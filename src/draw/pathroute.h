// The road the draw library's shapes take while the vectorgraphics
// library's ForcePathUse switch is on: each shape becomes a temporary path
// drawn by the path renderer. The vector library, a layer up, installs the
// route when it opens; the switch starts off.
#pragma once

#include <cstdint>
#include <vector>

#include "draw/outline.h"

struct ScriptState;

// What a shape command hands the route: its type (14 box, 15 circle, 16
// ellipse, 27 polygon, 31 arc), position, colour, the index of its option
// table (0: none) and its size parameters.
struct qbShapePathCall {
    int32_t type = 0;
    int32_t x = 0, y = 0;
    uint32_t colour = 0;
    int optArg = 0;
    double width = 0;   // box width, radius, x radius or point count
    double height = 0;  // box height or y radius
    int32_t startAngle = 0, endAngle = 0;  // whole degrees
    int32_t direction = 1;
    double rotate = 0;  // the rotation argument's degrees, where no option table stands
    int32_t corners[4] = {0, 0, 0, 0};
    const std::vector<qbPointD>* points = nullptr;
};
using ShapePathRoute = int (*)(ScriptState* L, const qbShapePathCall& call);

void SetShapePathRoute(ShapePathRoute route);
void SetShapePathForced(bool on);
// The route when the switch is on and a route is installed, else null.
ShapePathRoute ForcedShapePathRoute();
// Draws the shape through the route when the switch is on: true with *err
// the route's answer. False leaves the shape to the plain road: the switch
// is off, the shape is an arc of no sweep, or the path road cannot hold a
// shape that large (its rasters, or its coordinates: the route answers
// ERR_BITMAP then), which the plain road then draws (a box straight onto
// the picture) or refuses as it would without the switch, so both roads
// answer alike.
bool DrawThroughPathRoute(ScriptState* L, const qbShapePathCall& call, int* err);
