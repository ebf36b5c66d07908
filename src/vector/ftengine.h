// The inbuilt vector engine over FreeType: the eight hooks, the outlines
// they build, and the anti-aliased curved shapes of the draw library.
#pragma once

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <cstdint>
#include <memory>

#include "draw/curvedshape.h"
#include "qbvector.h"
#include "vector/coverage.h"

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

// What the DrawPath hook would write into a raster of a.width x a.height
// (a.coverage and a.bytesPerRow unused), handed over a row at a time as
// RasteriseCoverageRows does; without anti-aliasing rows may hold clear
// ends. False where the hook fails.
bool DrawPathRows(const qbDrawPathArgs& a, const qbCoverageRows& rows);

// The shape's outline placed by its control box at 0, 0 (an arc by its
// full ellipse's). Null on failure.
qbOutlinePtr BuildShapeOutline(qbShapeOutlineArgs* args);
// Measures into outWidth, outHeight and, with pixels, draws 256 grey levels.
// 1, or 0 on failure.
int RenderShapeOutline(qbShapeOutlineArgs* args);
