// Anim layers' frames: stepping a layer to a frame (and a place), as the
// anim player, DoMove and NextFrame do.
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
