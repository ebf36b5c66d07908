// Dirty rectangles: lists of changed areas that are shown together later,
// their merging, and the routing of a refresh request to an immediate
// redraw of the layers or to a list.
#pragma once

#include <cstdint>
#include <vector>

struct ScriptState;
struct qbLayer;
struct qbLayerState;

constexpr int32_t kDirtyRectStep = 1024;

// Inclusive corners. A merged-away entry is marked dead rather than moved
// to a far coordinate, since any coordinate can be real on a large BGPic.
struct qbDirtyRect {
    int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    bool dead = false;
};

// count entries of capacity are in use. A list that is full (count equals
// capacity, or an add could not grow it) stands for the whole display.
struct qbDirtyRectList {
    std::vector<qbDirtyRect> entries;  // capacity entries
    int32_t count = 0;
    bool overflowed = false;  // a rectangle was lost: show everything
    int32_t Capacity() const { return static_cast<int32_t>(entries.size()); }
    bool Full() const { return overflowed || (Capacity() > 0 && count >= Capacity()); }
    void MarkFull() { overflowed = true; }
    void Reset() {
        count = 0;
        overflowed = false;
    }
};

// Room for kDirtyRectStep entries; false when there is no memory.
bool InitDirtyRectList(qbDirtyRectList* list);
// Appends {x, y, x + width - 1, y + height - 1}. A full list grows by
// kDirtyRectStep entries when grow is set; when it cannot grow (or may not),
// the rectangle is lost and the list is marked overflowed.
void AppendDirtyRect(qbDirtyRectList* list, int32_t x, int32_t y, int32_t width, int32_t height, bool grow);
// One pass: each live entry takes in every later or earlier live entry that
// overlaps or touches it (gaps of at most one pixel); those are marked dead.
void MergeDirtyRects(qbDirtyRectList* list);
// Redraws each live entry, or the whole BGPic when the list overflowed.
void RefreshDirtyRects(ScriptState* L, qbDirtyRectList* list);

// Redraws the layers of one rectangle of the current display's BGPic into
// its back buffer and shows it; parts outside the BGPic are cut off.
void RefreshLayerRect(ScriptState* L, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t flags);
// Redraws now while the output is the display; while a BGPic is the output
// the rectangle waits in the display's list (which grows); other outputs
// show no layers.
void RefreshOrMarkDirty(ScriptState* L, int32_t x, int32_t y, int32_t width, int32_t height);
// Adds to the current display's list without growing it. A rectangle from
// the BGPic's corner at least its size marks the list full instead.
void AddDirtyRect(ScriptState* L, int32_t x, int32_t y, int32_t width, int32_t height);
// Shows what the current display's list holds and empties it: everything
// when the list is full, else each rectangle after merging.
void ShowDisplayDirtyRects(ScriptState* L);
// The shown rectangle of the state grown by its border and shadow.
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

// The layers library's own list for commands that change several layers.
qbDirtyRectList* LayersDirtyList();
