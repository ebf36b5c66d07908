// The timer thread and its run loop: a schedule of deadlines on the monotonic
// clock that serves every timer of the system while the script runs.
#pragma once

#include <chrono>
#include <cstdint>

// 0 or ERR_THREAD. The thread runs with round-robin priority where allowed.
int StartTimerThread();
// Stops the run loop, joins the thread and frees every timer of the list.
void StopTimerThread();
bool IsTimerThreadRunning();

// A run-loop timer is named by a number that is never reused (0 = none). Its
// callback runs on the timer thread without any lock held and receives that
// number, so a callback that races with InvalidateRunLoopTimer can tell that
// its timer is gone by looking the number up under its own lock.
using RunLoopTimerCallback = void (*)(uint64_t timer);

// The firing after `due` of a timer of that period, at `now`: it stays on
// its grid (no drift), and periods that passed while the thread was late
// are skipped, not fired in a burst.
std::chrono::steady_clock::time_point NextDue(std::chrono::steady_clock::time_point due,
                                             std::chrono::steady_clock::duration period,
                                             std::chrono::steady_clock::time_point now);

// First firing `first` from now, then every `period` (zero: once). Adding
// wakes the run loop. 0 when the timer can't be made.
uint64_t AddRunLoopTimer(std::chrono::milliseconds first, std::chrono::milliseconds period,
                         RunLoopTimerCallback callback);
// Removes the timer (no error when it is gone already) and wakes the run loop.
void InvalidateRunLoopTimer(uint64_t timer);
