// The inbuilt vector engine over FreeType: the eight hooks, the outlines
// they build, and the anti-aliased curved shapes of the draw library.
#pragma once

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <cstdint>
#include <memory>

#include "qbvector.h"

struct qbOutlineDeleter {
    void operator()(FT_Outline* outline) const;
};
using qbOutlinePtr = std::unique_ptr<FT_Outline, qbOutlineDeleter>;

// Builds the path's fill outline (filled) or its stroke at strokeWidth,
// absolute points moved by the offsets; also reports the final current
// point. Null for an empty stream, a bad coordinate, too many points or a
// FreeType failure.
qbOutlinePtr ConvertPath(const uint8_t* commands, const qbVectorLineStyle* style, int32_t strokeWidth, int filled,
                         double* currentX, double* currentY, double offsetX, double offsetY);

qbVectorHooks InbuiltVectorHooks();

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
// The shape's outline placed by its control box at 0, 0 (an arc by its
// full ellipse's). Null on failure.
qbOutlinePtr BuildShapeOutline(qbShapeOutlineArgs* args);
// Measures into outWidth, outHeight and, with pixels, draws 256 grey levels.
// 1, or 0 on failure.
int RenderShapeOutline(qbShapeOutlineArgs* args);
