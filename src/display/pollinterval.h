// The shared 20 ms poll interval: the sound library's two users ask for it
// and the first one starts it, the last one to let go removes it.
#pragma once

struct ScriptState;

// user is 0 or 1. 0 or the interval's error.
int AcquirePollInterval(ScriptState* L, int user);
void ReleasePollInterval(ScriptState* L, int user);
