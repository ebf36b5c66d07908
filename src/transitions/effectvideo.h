// The videos an effect meets. A layer that shows a playing video is stepped
// through an async-draw object even when the script asked for a
// synchronous effect, so that the video keeps its frames coming between
// the effect's. The video library installs the lookup; without it no video
// is known.
#pragma once

#include <cstdint>

#include "core/objects.h"

struct ScriptState;
struct qbBitmap;
struct qbLayer;

inline constexpr int32_t kVideoStatePlaying = 1;

struct qbEffectVideo {
    qbBitmap* frame = nullptr;  // the current frame
    int32_t width = 0, height = 0;  // as shown
    int32_t state = 0;
};

// 0 with the record filled, or the lookup's error (ERR_FINDVIDEO and the
// like); flags as the video library's own lookup takes them.
using EffectVideoLookup = int (*)(ScriptState* L, ObjectID id, qbEffectVideo* out, uint32_t flags);
// Null removes the lookup.
void SetEffectVideoLookup(EffectVideoLookup lookup);

// Whether the layer shows a video that is playing now.
bool LayerShowsPlayingVideo(ScriptState* L, const qbLayer* layer);
