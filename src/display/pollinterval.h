// The shared 20 ms poll interval: the sound library's two users ask for it
// and the first one starts it, the last one to let go removes it. Its ticks
// pace what the dispatcher asks of the script on the users' behalf.
#pragma once

#include "core/argapi.h"

struct ScriptState;

// user is 0 or 1. 0 or the interval's error.
int AcquirePollInterval(ScriptState* L, int user);
void ReleasePollInterval(ScriptState* L, int user);

// Whether the interval ticked since the last call (ticks coalesce): a
// source that may ask the script once per tick takes one here.
bool TakePollTick();
// The dispatcher's timer walk hands each repeating firing here, so that a
// tick it takes first is kept for TakePollTick; true when the firing was
// the poll interval's.
bool NotePollTick(ObjectID firedID);
