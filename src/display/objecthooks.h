// What the objects drawn on displays do when displays come and go. The
// libraries that own those objects install their parts; a part not
// installed does nothing.
#pragma once

#include <cstdint>

struct ScriptState;
struct qbDisplay;

struct qbDisplayBrushHooks {
    // Builds the brushes whose pictures waited for the first display.
    int (*loadPending)(ScriptState* L);
    // A display's window closes or opens again: the adapter's bitmaps of its
    // hardware brushes are saved, and made anew.
    void (*saveHardware)(ScriptState* L, qbDisplay* display);
    int (*restoreHardware)(ScriptState* L, qbDisplay* display);
    // The display goes: its hardware brushes go with it.
    void (*freeDisplay)(ScriptState* L, qbDisplay* display);
};
void SetDisplayBrushHooks(const qbDisplayBrushHooks* hooks);
const qbDisplayBrushHooks& DisplayBrushHooks();
// The anims loaded before the first display: their frames become bitmaps
// beside the pending brushes. Null: none.
void SetPendingAnimsHook(int (*hook)(ScriptState* L));

// The asynchronous drawings bound to displays: whether a display has any
// (it may then not be freed or switch layers), and ending them all before
// the displays go.
struct qbAsyncDrawHooks {
    bool (*displayHas)(const qbDisplay* display);
    void (*freeAll)(ScriptState* L);
    // Whether an unfinished drawing shows the object (a layer).
    bool (*usesObject)(const void* object);
    // A layer is about to be replaced by another: the first drawing's
    // refusal, or 0.
    int32_t (*layerReplaced)(void* oldLayer, void* newLayer);
    // A layer's picture changed.
    void (*imageChanged)(void* layer);
    // Ends the display's drawings (flag 0, as CancelAsyncDraw does).
    void (*freeOn)(ScriptState* L, const qbDisplay* display);
    // The first refusal of an unfinished drawing to what is about to change
    // the display's buffers, or 0.
    int32_t (*busy)();
};
void SetAsyncDrawHooks(const qbAsyncDrawHooks* hooks);
