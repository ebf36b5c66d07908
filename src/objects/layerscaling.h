// The layers' side of the layer scaling engine: what the display code calls
// when the size a BGPic is shown at changes.
#pragma once

struct ScriptState;
struct qbBGPic;

// Every layer of the BGPic shows its transformed state again; the
// display-scaled records go.
void DropDisplayScaledStates(ScriptState* L, qbBGPic* bgpic);
// Installs the rescale and drop for the display code (the layers
// library's start-up).
void InstallLayerScalingHooks();
