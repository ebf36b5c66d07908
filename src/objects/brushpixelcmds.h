// The brush commands that work on a brush's pixels and planes: filters and
// colour operations, the transparency planes, pixel access, flood fill,
// saving, and the brushes made from gradients, textures and the desktop.
#pragma once

#include <cstdint>

struct ScriptState;
struct qbBitmap;

// Filters and colour operations (in place).
int cmdBlurBrush(ScriptState* L);
int cmdSharpenBrush(ScriptState* L);
int cmdEmbossBrush(ScriptState* L);
int cmdEdgeBrush(ScriptState* L);
int cmdCharcoalBrush(ScriptState* L);
int cmdOilPaintBrush(ScriptState* L);
int cmdSwirlBrush(ScriptState* L);
int cmdWaterRippleBrush(ScriptState* L);
int cmdPixelateBrush(ScriptState* L);
int cmdTintBrush(ScriptState* L);
int cmdBrushToGray(ScriptState* L);
int cmdBrushToMonochrome(ScriptState* L);
int cmdSepiaToneBrush(ScriptState* L);
int cmdSolarizeBrush(ScriptState* L);
int cmdGammaBrush(ScriptState* L);
int cmdContrastBrush(ScriptState* L);
int cmdModulateBrush(ScriptState* L);
int cmdInvertBrush(ScriptState* L);
int cmdFlipBrush(ScriptState* L);
int cmdQuantizeBrush(ScriptState* L);
int cmdReduceAlphaChannel(ScriptState* L);
int cmdMixBrush(ScriptState* L);
int cmdReplaceColors(ScriptState* L);

// Transparency planes.
int cmdSetBrushTransparency(ScriptState* L);
int cmdDeleteMask(ScriptState* L);
int cmdDeleteAlphaChannel(ScriptState* L);
int cmdInvertMask(ScriptState* L);
int cmdInvertAlphaChannel(ScriptState* L);
int cmdChangeBrushTransparency(ScriptState* L);

// Pixel access and saving.
int cmdReadBrushPixel(ScriptState* L);
int cmdWriteBrushPixel(ScriptState* L);
int cmdBrushToRGBArray(ScriptState* L);
int cmdRGBArrayToBrush(ScriptState* L);
int cmdFloodFill(ScriptState* L);
int cmdSaveBrush(ScriptState* L);

// New brushes from gradients, textures and the screen.
int cmdCreateGradientBrush(ScriptState* L);
int cmdCreateTexturedBrush(ScriptState* L);
int cmdGrabDesktop(ScriptState* L);

// For plugins: 1 and the wanted fields (each pointer may be null) of a
// pixel brush, 0 for a missing or vector brush.
int GetBrushDimensions(ScriptState* L, int32_t id, qbBitmap** bitmap, qbBitmap** mask, qbBitmap** alpha,
                       int32_t* width, int32_t* height);
