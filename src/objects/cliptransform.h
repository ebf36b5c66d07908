// Scaled and turned copies of clip regions, for layers whose pictures are
// shown scaled or turned and that must clip the same way.
#pragma once

#include <cstdint>

struct ScriptState;
struct qbClipRegionObject;

struct qbClipTransform {
    // The point the region turns about, as fractions of its size.
    double anchorX = 0;
    double anchorY = 0;
    // As a layer's matrix: source (x, y) goes to (m0 x + m2 y, m1 x + m3 y).
    double matrix[4] = {1, 0, 0, 1};
    // The matrix that places a turned box (or any region with keepPosition).
    double positionMatrix[4] = {1, 0, 0, 1};
    bool keepPosition = false;
    // The display's scale factors replace both matrices.
    bool displayScaling = false;
};

// A new temporary region (id 0, its handle itself, in the region list)
// that the caller hands to a layer state before anything calls
// FreeUnusedClipRegions, which frees it once no layer uses it. A mask is
// transformed as an object image; a box under a plain scale stays a box;
// any other box becomes the mask of its four turned corners. The result is
// cut to the current picture (scaled with the display), as the blits
// trust a region to lie inside it. 0, ERR_MEM, ERR_ALLOCMASK or the
// transform's error.
int TransformClipRegion(ScriptState* L, const qbClipRegionObject* region, const qbClipTransform& transform,
                        qbClipRegionObject** out);
