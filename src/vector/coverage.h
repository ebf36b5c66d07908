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
