// The vectorgraphics library's paths.
#pragma once

struct ScriptState;

void FreeVectorLibrary(ScriptState* L);
