// The timer thread that serves the system's timers while the script runs.
#pragma once

// 0 or ERR_THREAD.
int StartTimerThread();
void StopTimerThread();
