// Installs the layers' side of the layer scaling engine (rebuilding layers at
// new factors, dropping their display-scaled states) for the display code.
#include "objects/layerscaling.h"

#include "display/bgpicscaling.h"
#include "objects/layergeometry.h"
#include "objects/layers.h"

void InstallLayerScalingHooks() {
    static constexpr qbLayerScalingHooks kHooks{RescaleAllLayers, DropDisplayScaledStates};
    SetLayerScalingHooks(&kHooks);
}
