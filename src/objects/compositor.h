// The layer compositor: rebuilds one rectangle of a BGPic as the viewer
// sees it, from its background and every visible layer bottom up, each with
// its drop shadow, its border and its image blended with its transparency
// and cut by its clip region. The costly per-layer images (filtered image,
// border, shadow plane) are cached in the layer's state until a change drops them.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/geometry.h"

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

// RedrawLayerRects in two steps, so that a picture made in bands (a layer
// effect's frame) can have each band's rows redrawn as soon as they are
// made, on the thread that made them. Prepare takes what the rows need on
// the calling thread (false: the row walk cannot draw these rectangles);
// DrawLayerRowWalk then draws the picture rows from .. to - 1 of them. Its
// calls may run on several threads at once for disjoint rows, as long as
// nothing changes the layers, their pictures or the background meanwhile.
struct qbLayerRowWalk {
    // One layer as the row walk draws it: its pixels and plane, and where
    // its image lies on the picture.
    struct Layer {
        const uint32_t* pixels = nullptr;
        int32_t rowLength = 0;
        const uint8_t* mask = nullptr;
        const uint8_t* alpha = nullptr;
        int32_t planeRowBytes = 0;
        qbRect area;                 // picture coordinates the image covers
        int32_t offX = 0, offY = 0;  // image position minus picture position
    };
    std::vector<qbRect> cut;  // the rectangles cut to the picture
    qbRect box;               // around them; empty when nothing is left
    std::vector<Layer> layers;
    uint32_t* dstPixels = nullptr;
    const uint32_t* bgPixels = nullptr;  // null: the background is dest itself
    int32_t dstRowLength = 0, bgRowLength = 0;
};
bool PrepareLayerRowWalk(ScriptState* L, qbDisplay* display, qbBGPic* bgpic, qbBitmap* dest, const qbRect* rects,
                         int32_t count, qbLayerRowWalk* walk);
void DrawLayerRowWalk(const qbLayerRowWalk& walk, int32_t from, int32_t to);

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
// Whether a layer of the type shows its source from (srcx, srcy): other
// types keep their own words there (an anim layer its frame).
bool HasSourceOffset(int32_t type);

// Draws (sx, sy, width x height) of src at (dx, dy) of dest through its mask
// or alpha plane, blended at 255 - transparency, cut by the clip region.
// The rectangle must already lie inside src and dest.
void DrawLayerImage(ScriptState* L, qbBitmap* src, int32_t sx, int32_t sy, qbBitmap* dest, int32_t dx, int32_t dy,
                    int32_t width, int32_t height, qbBitmap* mask, qbBitmap* alpha, int32_t transparency,
                    const qbClipRegion* clip);
