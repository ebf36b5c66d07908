// Anti-aliased coverage of FreeType outlines, computed here rather than by
// FreeType's gray rasteriser: exact area coverage per pixel, written row by
// row so that the caller's buffer needs no clearing first.
#pragma once

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <cstdint>

// Writes every byte of the width x height raster (rows bytesPerRow apart,
// the top row first): 0..255 by how much of each pixel the outline covers,
// under its even-odd flag or else the nonzero rule. Row r holds the
// outline's y from r to r + 1: the engine's outlines keep the path's
// downward y (FreeType's gray rasteriser gives the same with a negative
// pitch). False on a bad size or when memory runs out.
bool RasteriseCoverage(const FT_Outline* outline, uint8_t* coverage, int32_t bytesPerRow, int32_t width,
                       int32_t height);

// The same raster handed over a row at a time as each is finished, for
// rows first .. first + count - 1 only, top to bottom: row(user, r,
// coverage, x0, x1) with coverage[x] set for x0 <= x < x1, every other
// pixel of row r being 0; rows all 0 are not handed over. The bytes last
// until the call returns. False as above, or without a row function.
struct qbCoverageRows {
    void (*row)(void* user, int32_t r, const uint8_t* coverage, int32_t x0, int32_t x1) = nullptr;
    void* user = nullptr;
    int32_t first = 0;
    int32_t count = 0;
};
bool RasteriseCoverageRows(const FT_Outline* outline, int32_t width, int32_t height, const qbCoverageRows& rows);
