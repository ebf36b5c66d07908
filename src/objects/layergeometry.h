// A layer's geometry after it changed: rebuilding its transformed and
// display-scaled states, moving it, the matrix of its transform options
// and the matrix split back into rotation and scale.
#pragma once

#include <cstdint>

struct ScriptState;
struct qbBGPic;
struct qbDisplay;
struct qbDirtyRectList;
struct qbLayer;
struct qbLayerState;
struct qbRect;
struct qbTransformOptions;
struct qbBitmap;

// The matrix from the options: the explicit one when "transform" set it,
// else built from the requested size (or scale factors) and the rotation.
void ComputeTransformMatrix(qbTransformOptions* t, int32_t objWidth, int32_t objHeight);

// Splits the matrix into a rotation and two scale factors (t->decompx,
// t->decompy) and sets t->rotated unless the matrix has no rotation part or
// both factors agree within 0.01. A matrix no angle fits keeps the flag and
// leaves the factors at 0.
void DecomposeTransformMatrix(qbTransformOptions* t);

// ApplyLayerChange on an explicit display (the one whose scale factors
// apply); ApplyLayerChange itself uses the current display.
int ApplyLayerChangeOn(ScriptState* L, qbDisplay* display, qbLayer* layer, uint32_t flags);
// Gives the transformed and display-scaled states fresh copies of the base
// state's clip region after it changed (or after the layer's clip-transform
// mode did); the images stay. 0 or the error of the copy, with the states
// unchanged.
int TransformLayerClipRegions(ScriptState* L, qbLayer* layer);
// ApplyLayerChange with flags 3: the shown state rebuilt at the display's
// scale.
int ReapplyDisplayScale(ScriptState* L, qbLayer* layer);
// ReapplyDisplayScale for every layer of the BGPic with that display's
// factors and the BGPic current meanwhile; stops at the first error.
int RescaleAllLayers(ScriptState* L, qbDisplay* display, qbBGPic* bgpic);

// RepositionLayer flags: x and y are offsets from the current position.
enum : uint32_t { kRepositionRelativeX = 1, kRepositionRelativeY = 2 };
// Moves the layer's anchor point to x, y (100000 keeps a coordinate) in all
// three states, the display-scaled one at the display's factors. Unless
// noRefresh, the union of the old and new bounds (widened by ref) is
// refreshed, or added to list when one is given.
int RepositionLayer(ScriptState* L, qbLayer* layer, const qbRect* ref, int32_t x, int32_t y, bool noRefresh,
                    uint32_t flags, qbDirtyRectList* list);
// The rectangle the union of the old and new bounds covers.
qbRect UnionOfRects(const qbRect& a, const qbRect& b);

// Draws the layer's source anew with the transform (which must not be the
// layer's own record: a debug line says so and nothing is drawn) as a new
// layer at insertPos with the AddLayer flags: brush, brush-part and
// BGPic-part layers through the display-object core, from the state's
// source offset, position and size; text layers through the text library.
// Other types draw nothing yet. 0 or the error of the renderer.
int RenderLayerTransformed(ScriptState* L, qbLayer* layer, int32_t insertPos, const qbLayerState* state,
                           const qbTransformOptions* transform, uint32_t flags, qbLayer** out);

// The shown rectangle before a change; width -1 asks UpdateLayerState to
// take the layer's current one.
struct qbLayerOldRect {
    int32_t x = 0, y = 0, width = -1, height = 0;
    int32_t norefresh = 0;
};
// UpdateLayerState flags: a line keeps its own position.
enum : uint32_t { kUpdateLineKeepsPosition = 64 };
// Gives the shown state a new size and position (shownX, shownY less the
// anchor offsets of the new size) and, with bitmap, a new own image that
// it takes over. The transformed-image caches that exist are replaced by
// empty ones of the new size (unless an async drawing shows the layer,
// which redraws them itself) and the filtered image is dropped; then the
// rectangle covering the old and new places is refreshed unless the layer
// is hidden or pending or old->norefresh is set. 0, ERR_BITMAP,
// ERR_ALLOCMASK or ERR_ALLOCALPHA.
int UpdateLayerState(ScriptState* L, qbLayer* layer, qbLayerOldRect* old, int32_t shownX, int32_t shownY,
                     int32_t width, int32_t height, qbBitmap* bitmap, qbBitmap* mask, qbBitmap* alpha, uint32_t flags);
