// The event library as start-up and shutdown see it.
#pragma once

struct ScriptState;

void FreeEventSystem(ScriptState* L);
