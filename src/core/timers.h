// The timer service under the event library's intervals and timeouts: a list
// of timers that the timer thread marks as fired and the main loop takes, and
// the timed wait of the main loop.
#pragma once

#include <cstdint>

#include "core/argapi.h"

enum TimerKind : int {
    kTimerRepeating = 0,
    kTimerOneShot = 1,
    kTimerNothing = 9,
};

enum TimerOperation : int {
    kTimerAddRepeating = 0,
    kTimerAddOneShot = 1,
    kTimerRemoveRepeating = 2,
    kTimerRemoveOneShot = 3,
    kTimerChangePeriod = 4,
};

// 0 (the list's lock needs no set-up on this platform) / frees every timer.
int InitTimerService();
void FreeTimerService();
// Frees every timer of the list; the timer thread does this when it stops.
void FreeAllTimers();

// Operations 0 and 1 add a repeating or one-shot timer that first fires ms
// from now; 2 and 3 remove the repeating or one-shot timer of that id (an
// absent one is no error); 4 gives the repeating timer of that id a new period,
// first firing one period from now. 0, ERR_MEM or ERR_TIMER; other operations
// do nothing.
int TimerService(int operation, ObjectID id, int ms);

// Takes the first fired timer at place `from` or after it (places follow the
// order the timers were made in; 0 is before the first): its kind and id are
// reported (a one-shot timer is removed, a repeating one armed again) and
// the place after it returned, for the next call to go on from. With none
// fired there outKind is kTimerNothing and the result 0. A walk of these
// calls visits the fired timers in the order they were made, as many as
// have fired, whatever is added or removed meanwhile.
uint64_t TakeFiredTimerEvent(uint64_t from, int* outKind, ObjectID* outID);
// Takes the first timer of that kind and id when it has fired, as above;
// false when it has not fired or is not there.
bool TakeTimerIfFired(int kind, ObjectID id);
// Whether a timer of that kind and id is in the list.
bool HasTimer(int kind, ObjectID id);

// How often timers of the list have fired since the process started, counted
// on the timer thread (fired flags coalesce; this does not).
uint64_t CountTimerFirings();

// A one-shot timer that ends a wait of ms milliseconds on the main thread:
// its id, or 0 when no timer thread runs (nothing would end the wait) or the
// timer could not be made. The firing wakes the event wait.
uint64_t StartWaitTimer(int ms);
// Whether that timer has fired (a later wait's timer is told apart by its id).
bool WaitTimerFiredYet(uint64_t timer);
void EndWaitTimer(uint64_t timer);
