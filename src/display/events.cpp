// The event library: no intervals, timeouts or user event types exist yet;
// the waits and intervals that the runtime needs stand on the timer service
// and the platform's wake-up.
#include "display/events.h"

#include "core/timers.h"
#include "platform/platform.h"

void FreeEventSystem(ScriptState*) {}

int PumpEvents(ScriptState*, int, void*, int* outError) {
    if (outError) *outError = 0;
    return 0;
}

int WaitForEvents(ScriptState*, int, void*, int* outValue) {
    if (outValue) *outValue = 0;
    return WaitForNativeEvent();
}

int AddInterval(ScriptState*, ObjectID id, int ms) { return TimerService(kTimerAddRepeating, id, ms); }

void RemoveInterval(ScriptState*, ObjectID id) { TimerService(kTimerRemoveRepeating, id, 0); }
