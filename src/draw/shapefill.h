// Painting one polygon or line of a shape through a coverage raster into a
// bitmap and its planes.
#pragma once

#include <cstdint>

struct qbBitmap;
struct qbClipRegion;

// Thicknesses above this the scan engine refuses; wider outlines are drawn
// at it rather than not at all.
constexpr int32_t kMaxScanThickness = 255;

struct qbShapeFill {
    // The raster's place on the target and its size.
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
    qbBitmap* target = nullptr;
    // A polygon of count points (x, y pairs relative to the raster), or,
    // when points is null, the line from (line[0], line[1]) to
    // (line[2], line[3]) of lineThickness.
    const int32_t* points = nullptr;
    int32_t count = 0;
    int32_t line[4] = {};
    int32_t lineThickness = 1;
    uint32_t colour = 0;     // 0xRRGGBB
    uint32_t alphaByte = 0;  // transparency; opacity is 255 - it
    bool filled = false;     // a filled polygon: no anti-aliasing, no width
    bool antialias = false;
    int32_t lineWidth = 1;   // of a polygon's outline
    qbBitmap* mask = nullptr;   // set over covered pixels (may be null)
    qbBitmap* alpha = nullptr;  // coverage x opacity / 255 (may be null)
    const qbClipRegion* clip = nullptr;
    // A gradient or texture image the raster's size whose pixel (i, j)
    // paints raster pixel (i, j); null paints the colour.
    qbBitmap* source = nullptr;
    // A fresh image: the colour goes in at full weight and its opacity
    // only into the alpha plane.
    bool outright = false;
};

// 0, or ERR_MEM when the engine runs out of memory. A raster that cannot
// be made for any other reason leaves the target untouched.
int FillShapeCoverage(const qbShapeFill& fill);
