// The display list: opening the declared displays and freeing them all.
#pragma once

struct ScriptState;

// Opens every display that is not hidden; 0 or an error code.
int StartDisplays(ScriptState* L);
void FreeAllDisplays(ScriptState* L);
