#include "transitions/effectvideo.h"

#include "objects/layers.h"

namespace {

EffectVideoLookup videoLookup = nullptr;

}  // namespace

void SetEffectVideoLookup(EffectVideoLookup lookup) { videoLookup = lookup; }

bool LayerShowsPlayingVideo(ScriptState* L, const qbLayer* layer) {
    if (!layer || layer->type != kLayerVideo || !videoLookup) return false;
    qbEffectVideo video;
    // A video that cannot be found plays nothing the effect could wait for.
    return videoLookup(L, layer->id, &video, 0) == 0 && video.state == kVideoStatePlaying;
}
