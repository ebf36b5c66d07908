// Dirty rectangles of layers: showing what a list holds, and the routing of
// a refresh request to an immediate redraw of the layers or to a list.
#pragma once

#include <cstdint>

#include "display/dirtylist.h"

struct ScriptState;
struct qbLayer;
struct qbLayerState;
struct qbRect;

// Redraws each live entry, or the whole BGPic when the list overflowed.
void RefreshDirtyRects(ScriptState* L, qbDirtyRectList* list);

// The rectangles below are taken in 64 bits: a caller passes a coordinate
// and a size as they are, never their 32-bit sum.
// Redraws the layers of one rectangle of the current display's BGPic into
// its back buffer and shows it; parts outside the BGPic are cut off.
void RefreshLayerRect(ScriptState* L, int64_t x, int64_t y, int64_t width, int64_t height, uint32_t flags);
// RefreshLayerRect for each of the rectangles (which must not overlap) in
// one pass over their rows (RedrawLayerRects); false when that cannot be,
// and nothing was shown.
bool RefreshLayerRects(ScriptState* L, const qbRect* rects, int32_t count);
// Redraws now while the output is the display; while a BGPic is the output
// the rectangle waits in the display's list (which grows); other outputs
// show no layers.
void RefreshOrMarkDirty(ScriptState* L, int64_t x, int64_t y, int64_t width, int64_t height);
// Adds to the current display's list without growing it. A rectangle from
// the BGPic's corner at least its size marks the list full instead.
void AddDirtyRect(ScriptState* L, int64_t x, int64_t y, int64_t width, int64_t height);
// Shows what the current display's list holds and empties it: everything
// when the list is full, else each rectangle after merging.
void ShowDisplayDirtyRects(ScriptState* L);
// The shown rectangle of the state grown by its border and shadow, cut to
// the coordinate limit.
void GetLayerBounds(ScriptState* L, qbLayer* layer, qbLayerState* state, int32_t* x, int32_t* y, int32_t* width,
                    int32_t* height);
void AddLayerDirtyRect(ScriptState* L, qbDirtyRectList* list, qbLayer* layer, qbLayerState* state);
// fast: the layer's image changed in place and is to be shown at once.
// When it is an opaque rectangle that nothing visible covers, its pixels go
// straight into the display's picture and window without a redraw of what
// lies under it.
void RefreshLayer(ScriptState* L, qbLayer* layer, bool fast = false);
// The fast refresh alone: false when the layer needs a redraw of its area.
bool ShowLayerDirectly(ScriptState* L, qbLayer* layer);

// Whether nothing drawn after the layer (a visible layer above it with its
// shadow and border, a sprite) reaches into the layer's shown rectangle.
bool IsLayerUncovered(ScriptState* L, qbLayer* layer);

// The layers library's own list for commands that change several layers.
qbDirtyRectList* LayersDirtyList();
