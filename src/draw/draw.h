// The draw library's tables and buffers.
#pragma once

struct ScriptState;

void FreeDrawLibrary(ScriptState* L);
