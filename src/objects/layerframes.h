// Anim layers' frames: stepping a layer to a frame (and a place), as the
// anim player, DoMove and NextFrame do; anims a layer makes its own to
// change them; layers of blank frames.
#pragma once

#include <cstdint>

struct ScriptState;
struct qbLayer;

// The position meaning "where the layer is now".
constexpr int32_t kUseLayerPosition = 100000;

// Shows frame (1-based) of the anim layer, moved to x, y (kUseLayerPosition
// keeps a coordinate). Unless noRefresh, the changed area is refreshed.
// 0, ERR_NOANMLAYER, ERR_ANIMFRAME or the rebuild's error.
int SetLayerPosFrame(ScriptState* L, qbLayer* layer, int32_t x, int32_t y, int32_t frame, bool noRefresh);

// NextFrame(layer[, x, y, frame]): frame 0 is the next one (wrapping), -1
// the last; x, y of kUseLayerPosition keep the place.
int cmdNextFrame(ScriptState* L);

// The layer shows an anim of its own from now on (a copy unless the script
// freed the anim, no other layer shows it and nothing plays it), which goes
// with the layer.
// 0, the lookup's or the copy's error.
int MakeLayerAnimPrivate(ScriptState* L, qbLayer* layer);

// ModifyLayerFrames(layer, frames[, start]): frames inserted or removed in
// the layer's own anim; the layer stays on the picture it showed.
int cmdModifyLayerFrames(ScriptState* L);

// CreateLayer's layer of count blank frames of width x height, shown like
// DisplayAnimFrame with the display options of the table at optArg (0:
// none). The anim goes with its last layer.
struct qbBlankFrames {
    int32_t width = 0, height = 0, count = 0;
    uint32_t colour = 0;
    bool mask = false, alpha = false, clear = false;
};
int CreateAnimLayer(ScriptState* L, int32_t x, int32_t y, const qbBlankFrames& frames, int optArg);
