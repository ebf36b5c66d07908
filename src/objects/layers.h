// The layers library's shared state.
#pragma once

#include <cstdint>

struct ScriptState;
struct qbBGPic;

void FreeLayersLibrary(ScriptState* L);
// 1-based position of the first layer (from the bottom) of the BGPic whose
// name matches without letter case; 0 when none does or there is no BGPic.
int32_t CountLayers(const qbBGPic* bgpic);
int FindLayerByName(const qbBGPic* bgpic, const char* name);
