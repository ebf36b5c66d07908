// The layers library's shared state.
#pragma once

struct ScriptState;

void FreeLayersLibrary(ScriptState* L);
