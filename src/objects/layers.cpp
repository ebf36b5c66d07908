// Layers: nothing is allocated yet, so no BGPic has a layer to find.
#include "objects/layers.h"

void FreeLayersLibrary(ScriptState*) {}

int FindLayerByName(const qbBGPic*, const char*) { return 0; }

int32_t CountLayers(const qbBGPic*) { return 0; }
