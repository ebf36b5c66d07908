// Layers of a BGPic whose display scale changed: rebuilt at the new factors
// or returned to their unscaled states.
#include "objects/layerscaling.h"

#include "display/bgpicscaling.h"
#include "display/clipregions.h"
#include "display/displays.h"
#include "objects/layergeometry.h"
#include "objects/layers.h"

void DropDisplayScaledStates(ScriptState* L, qbBGPic* bgpic) {
    bool sweep = false;
    for (int32_t i = 1; i <= CountLayers(bgpic); ++i) {
        qbLayer* layer = GetLayerByIndex(bgpic, i);
        qbLayerState* shown = layer->shownstate;
        if (shown == layer->transformedstate || shown == layer->basestate) continue;
        layer->shownstate = layer->transformedstate;
        // A clip region scaled for the dropped state waits for the sweep.
        const auto* clip = static_cast<const qbClipRegionObject*>(shown->clipregion);
        sweep = sweep || (clip && clip->temporary);
        delete shown;
        NotifyLayerImageChanged(layer);
    }
    if (sweep) FreeUnusedClipRegions(L);
}

void InstallLayerScalingHooks() {
    static constexpr qbLayerScalingHooks kHooks{RescaleAllLayers, DropDisplayScaledStates};
    SetLayerScalingHooks(&kHooks);
}
