// The event library as start-up, shutdown and the runtime's waits see it.
#pragma once

#include "core/argapi.h"

struct ScriptState;
struct qbDisplay;

void FreeEventSystem(ScriptState* L);

// Who pumps, passed to PumpEvents as its flags.
enum PumpFlags : int {
    kPumpLineHook = 1,
    kPumpWait = 2,
    kPumpCheck = 4,
    kPumpWaitEvent = 8,
};

// Processes pending events once. Non-zero when the caller's loop must end:
// with the error in outError, or with 0 there when the player is to quit.
int PumpEvents(ScriptState* L, int flags, void* data, int* outError);
// Blocks until the next event arrives (a wake posted by another thread counts);
// 0 or an error code.
int WaitForEvents(ScriptState* L, int timeoutFlag, void* data, int* outValue);
// Waits ms milliseconds on the main thread while pumping events. 0 at the end
// of the wait, the result of a failing event wait, the pump's error or
// ERR_USERABORT when the pump asks to quit, ERR_TIMER when no timer thread
// runs to end the wait. ms 0 returns at once.
int WaitPumpingEvents(qbDisplay* display, int ms);

// An interval without a script function: its timer wakes the main loop every
// ms milliseconds. 0 or the timer service's error.
int AddInterval(ScriptState* L, ObjectID id, int ms);
void RemoveInterval(ScriptState* L, ObjectID id);
