// The event library: no intervals, timeouts or user event types exist yet.
#include "display/events.h"

void FreeEventSystem(ScriptState*) {}
