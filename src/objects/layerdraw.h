// Drawing into a layer (SelectLayer): the layer's picture becomes its own
// before anything is drawn into it, its planes are found for a selected
// mask or alpha channel, and the layer is shown anew when the selection
// ends. Also a layer's picture replaced in place by a new one.
#pragma once

#include <cstdint>

struct ScriptState;
struct qbBitmap;
struct qbDisplay;
struct qbImageTriple;
struct qbLayer;

// Makes the picture the layer shows private to it (a brush no script and
// no other layer uses; an anim of its own, whose frame (1-based) it hands
// out; a BGPic copy for a BGPic part without its own image) and hands out
// its images and size. ERR_RENDERADLAYER,
// ERR_VIDEOLAYER, ERR_WRONGUSAGE for the types that cannot be drawn into,
// or the error of the copy.
int PrepareLayerForDrawing(ScriptState* L, qbLayer* layer, int32_t frame, qbImageTriple* out, int32_t* width,
                           int32_t* height);

// Where the mask and alpha plane of what the layer shows are kept, for a
// plane that drawing adds or drops; both null for layer types without such
// a place, and for anim layers, whose anim keeps its frames' planes itself
// (the anim's frame target makes and drops them).
void GetLayerPlaneSlots(ScriptState* L, qbLayer* layer, int32_t frame, qbBitmap*** maskSlot, qbBitmap*** alphaSlot);

// After drawing into the layer: its cached images go and it is shown
// again, rebuilt first when it is transformed or scaled with the display.
int ShowDrawnLayer(ScriptState* L, qbDisplay* display, qbLayer* layer);

// The layer (a brush or brush-part layer) shows the bitmap from now on, in
// its own place in the stack, with its style, name, transform and
// positions; *layer becomes the new record. The display must be the current
// one. The bitmap is taken over, and freed on failure.
int ReplaceLayerImage(ScriptState* L, qbDisplay* display, qbLayer** layer, qbBitmap* bitmap);

int cmdSelectLayer(ScriptState* L);
