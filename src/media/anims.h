// Anims and anim streams.
#pragma once

struct ScriptState;

void FreeAllAnims(ScriptState* L);
