// The brush list.
#pragma once

struct ScriptState;

void FreeAllBrushes(ScriptState* L);
