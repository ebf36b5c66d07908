// The timer thread: no timers exist yet, so there is nothing to run.
#include "core/timerthread.h"

int StartTimerThread() { return 0; }

void StopTimerThread() {}
