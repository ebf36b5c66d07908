// The sprite list.
#pragma once

struct ScriptState;

void FreeAllSprites(ScriptState* L);
