// Anti-aliased circles, ellipses, arcs and rounded boxes drawn into new
// images: coverage planes from the curved-shape service, painted by the
// anti-aliased compositor with edge, shadow and fill source.
#pragma once

#include <cstdint>

#include "draw/boxdirect.h"
#include "draw/curvedshape.h"

struct ScriptState;
struct qbDrawState;

struct qbConicRequest {
    qbShapeOutlineArgs shape;  // type, radii, angles, size, direction, matrix, corners
    uint32_t colour = 0;       // an alpha byte above $RRGGBB is transparency
};

// 0 with *images filled (bitmap and alpha plane; blockX/Y where the shape
// with its edge sits), or ERR_BITMAP, ERR_ALLOCALPHA, ERR_MEM without a
// curved-shape service or when it fails, or the texture's lookup; nothing is
// kept on failure. The draw state gives fill and line width, edge and
// shadow.
int DrawConicImages(ScriptState* L, const qbConicRequest& request, const qbDrawState& state, qbBoxImages* images);

// The shape's coverage alone, for a plain shape painted straight onto the
// output: 0 with *plane (null for a shape the service does not draw, or one
// measured above maxPixels) and its size, or DrawConicImages' errors. Edge
// and shadow are not drawn.
int DrawConicCoverage(const qbConicRequest& request, const qbDrawState& state, int64_t maxPixels, BitmapPtr* plane,
                      int32_t* width, int32_t* height);
