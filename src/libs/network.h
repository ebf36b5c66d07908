// The network library's objects.
#pragma once

struct ScriptState;

void FreeAllNetworkObjects(ScriptState* L);
