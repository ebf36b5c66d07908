// The brush commands that change a brush's size or shape in place.
#pragma once

#include <cstdint>

struct ScriptState;
struct qbBrush;
struct qbObjectImage;

// Renders a vector brush again or transforms a pixel brush by the matrix
// and installs the result. 0 or the error of the transform; the brush is
// unchanged on an error.
int TransformBrushCore(ScriptState* L, qbBrush* brush, const double matrix[4], bool smooth);
// Frees the brush's images and takes over the new ones and their size.
void ReplaceBrushImages(qbBrush* brush, qbObjectImage* made, int32_t width, int32_t height);
// The brush for a geometry command: looked up as about to change, and not
// the current output (ERR_MODIFYABR).
int GetBrushToReshape(ScriptState* L, int idx, uint32_t flags, qbBrush** out);

int cmdScaleBrush(ScriptState* L);
int cmdRotateBrush(ScriptState* L);
int cmdTransformBrush(ScriptState* L);
int cmdCropBrush(ScriptState* L);
int cmdTrimBrush(ScriptState* L);
int cmdRasterizeBrush(ScriptState* L);
int cmdBarrelDistortBrush(ScriptState* L);
int cmdPolarDistortBrush(ScriptState* L);
int cmdArcDistortBrush(ScriptState* L);
int cmdPerspectiveDistortBrush(ScriptState* L);
