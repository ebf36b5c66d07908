// The curved-shape service: circles, ellipses, arcs and rounded boxes
// measured and drawn as 256-level coverage. The vector engine, a layer up,
// provides it and installs it when its library starts.
#pragma once

#include <cstdint>

// A curved shape of the draw library: type 14 a rounded box from 0, 0 to
// width, height; 31 an arc or pie; others an ellipse of radii rx, ry.
struct qbShapeOutlineArgs {
    uint8_t* pixels = nullptr;  // null to measure only
    int32_t bytesPerRow = 0;
    int32_t type = 0;
    double rx = 0;
    double ry = 0;
    double start = 0;
    double end = 360;
    double width = 0;
    double height = 0;
    int32_t direction = 1;
    int32_t outWidth = 0;
    int32_t outHeight = 0;
    int32_t margin = 0;
    const double* matrix = nullptr;  // {a, b, c, d} or null
    int32_t corners[4] = {};
    int32_t filled = 1;
    int32_t strokeWidth = 1;
};

// Measures into outWidth, outHeight and, with pixels, draws; 1, or 0 on
// failure.
using CurvedShapeService = int (*)(qbShapeOutlineArgs* args);
void SetCurvedShapeService(CurvedShapeService service);
// Null while no vector engine is there.
CurvedShapeService GetCurvedShapeService();
