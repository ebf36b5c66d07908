// The event library: no intervals, timeouts or user event types exist yet;
// the waits and intervals that the runtime needs stand on the timer service
// and the platform's wake-up.
#include "display/events.h"

#include "core/timers.h"
#include "display/refresh.h"
#include "platform/platform.h"

void FreeEventSystem(ScriptState*) {}

int PumpEvents(ScriptState* L, int, void*, int* outError) {
    // Pictures that other threads handed over are drawn first, so that the
    // window's present below shows them.
    FlushDisplayBlitQueue(L);
    return PumpNativeEvents(L, outError);
}

int WaitForEvents(ScriptState*, int, void*, int* outValue) {
    if (outValue) *outValue = 0;
    return WaitForNativeEvent();
}

int AddInterval(ScriptState*, ObjectID id, int ms) { return TimerService(kTimerAddRepeating, id, ms); }

void RemoveInterval(ScriptState*, ObjectID id) { TimerService(kTimerRemoveRepeating, id, 0); }
