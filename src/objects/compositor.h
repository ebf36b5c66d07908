// The layer compositor: rebuilds one rectangle of a BGPic as the viewer
// sees it, from its background and every visible layer bottom up, each with
// its drop shadow, its border and its image blended with its transparency
// and cut by its clip region. The costly per-layer images (filtered image,
// border, shadow plane) are cached in the layer's state until a change drops them.
#pragma once

#include <cstdint>

#include "objects/objecttransform.h"

struct ScriptState;
struct qbBGPic;
struct qbBitmap;
struct qbClipRegion;
struct qbDisplay;
struct qbLayer;
struct qbLayerState;
struct qbRect;

// Draws nothing (and says so on the debug output) for an empty or negative
// rectangle or no destination.
void RedrawLayers(ScriptState* L, qbDisplay* display, qbBGPic* bgpic, qbBitmap* dest, int32_t x, int32_t y,
                  int32_t width, int32_t height, uint32_t flags);

// RedrawLayers over each of the rectangles (which must not overlap), the
// rows walked once for all of them: every row's spans get the background
// and then each layer. Only for plain 32-bit pictures, layers without
// transparency, shadow, border, clip region or filters and no sprite
// near: false otherwise, and nothing was drawn. Rectangles are cut to the
// picture and dest as RedrawLayers cuts them.
bool RedrawLayerRects(ScriptState* L, qbDisplay* display, qbBGPic* bgpic, qbBitmap* dest, const qbRect* rects,
                      int32_t count);

// The image a layer shows: its transformed or own image, else its source
// object's picture (full size; the state's source offset applies). 0,
// ERR_WRONGUSAGE or the lookup error of the source object.
int GetLayerSourceImage(ScriptState* L, qbLayer* layer, qbLayerState* state, bool useTransformed,
                        qbObjectImage* out, int32_t* width, int32_t* height);

// The same, but with useFiltered the layer's filtered image when it has
// filters (built on first use; it holds just the shown rectangle, so no
// source offset applies to it), unless useTransformed finds a transformed
// image and no filter moves pixels.
int GetLayerSourceImage(ScriptState* L, qbLayer* layer, qbLayerState* state, bool useFiltered, bool useTransformed,
                        qbObjectImage* out, int32_t* width, int32_t* height);
// Builds the state's filtered image when the layer has active filters and
// the state has none: a copy of the shown rectangle of its image (the
// transformed one with useTransformed) with every filter run on it.
void EnsureFilteredImage(ScriptState* L, qbLayer* layer, qbLayerState* state, bool useTransformed);
// Drops the filtered images of the layer's distinct states, for a change
// of the filters or of what they were run on.
void FreeLayerFilterCaches(qbLayer* layer);

// The layer's image alone (no shadow or border) inside the rectangle, as a
// redraw draws it.
void DrawLayerImageIn(ScriptState* L, qbLayer* layer, qbLayerState* state, qbBitmap* dest, int32_t x, int32_t y,
                      int32_t width, int32_t height);

// The border image's rectangle, building the image when it is missing, and
// the shadow's. Both are cut to the coordinate limit (imaging/geometry.h).
void RenderLayerBorder(ScriptState* L, qbLayer* layer, qbLayerState* state, int32_t* x, int32_t* y, int32_t* width,
                       int32_t* height);
void GetShadowRect(ScriptState* L, qbLayer* layer, qbLayerState* state, int32_t* x, int32_t* y, int32_t* width,
                   int32_t* height);
// Frees the border image and the shadow plane of the state.
void FreeLayerStyleCaches(qbLayerState* state);

// Draws (sx, sy, width x height) of src at (dx, dy) of dest through its mask
// or alpha plane, blended at 255 - transparency, cut by the clip region.
// The rectangle must already lie inside src and dest.
void DrawLayerImage(ScriptState* L, qbBitmap* src, int32_t sx, int32_t sy, qbBitmap* dest, int32_t dx, int32_t dy,
                    int32_t width, int32_t height, qbBitmap* mask, qbBitmap* alpha, int32_t transparency,
                    const qbClipRegion* clip);
