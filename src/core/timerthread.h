// The timer thread and its run loop: a schedule of deadlines on the timers'
// clock that serves every timer of the system while the script runs.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

// 0 or ERR_THREAD. The thread runs with round-robin priority where allowed.
int StartTimerThread();
// Stops the run loop, joins the thread and frees every timer of the list.
void StopTimerThread();
bool IsTimerThreadRunning();

// The one clock of every timer, interval, time-out and wait, and of the
// stopwatch timers: microseconds since an arbitrary start, the monotonic
// clock unless a test installed its own. Nothing that measures a period a
// script sees reads another clock (scripts/check_timer_clock.py).
int64_t TimerClockMicros();
// A clock a test moves by hand: it reads the clock's time and must never
// go back.
using TimerClockRead = int64_t (*)();
// Installs the clock (null: the monotonic clock again). Refused (false)
// while the timer thread runs: its deadlines are on the clock they were
// set on.
bool SetTimerClock(TimerClockRead read);
// Tells the run loop that the installed clock moved, and returns once it
// has fired every timer due by the new time (at once when no thread runs).
// The monotonic clock moves by itself and needs no telling.
void TimerClockMoved();
// The schedule as a clock that is moved by hand sees it: how many timers
// it holds and the first one's due time (-1 when none).
struct qbTimerSchedule {
    size_t timers = 0;
    int64_t firstDueMicros = -1;
};
qbTimerSchedule GetTimerSchedule();

// A run-loop timer is named by a number that is never reused (0 = none). Its
// callback runs on the timer thread without any lock held and receives that
// number, so a callback that races with InvalidateRunLoopTimer can tell that
// its timer is gone by looking the number up under its own lock.
using RunLoopTimerCallback = void (*)(uint64_t timer);

// The firing after `due` of a timer of that period, at `now`: it stays on
// its grid (no drift), and periods that passed while the thread was late
// are skipped, not fired in a burst.
std::chrono::microseconds NextDue(std::chrono::microseconds due, std::chrono::microseconds period,
                                  std::chrono::microseconds now);

// First firing `first` from now, then every `period` (zero: once). Adding
// wakes the run loop. 0 when the timer can't be made.
uint64_t AddRunLoopTimer(std::chrono::milliseconds first, std::chrono::milliseconds period,
                         RunLoopTimerCallback callback);
// Removes the timer (no error when it is gone already) and wakes the run loop.
void InvalidateRunLoopTimer(uint64_t timer);
