// The timer list shared by the timer thread (which marks fired timers) and the
// main thread (which adds, removes and takes them), and the main loop's timed
// wait.
#include "core/timers.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <list>
#include <mutex>
#include <new>

#include "core/errcodes.h"
#include "core/runstate.h"
#include "core/timerthread.h"
#include "platform/platform.h"

namespace {

// The list's lock is always taken before the run loop's.
struct TimerList {
    std::mutex mutex;
    std::list<qbTimerEntry> entries;
    uint64_t firings = 0;
};

TimerList timerList;

// The run-loop timer whose firing ended the current wait. A
// number rather than a flag, so that a late firing of an earlier wait's timer
// cannot end the next wait early.
std::atomic<uint64_t> waitEndedBy{0};

bool SameID(const ObjectID& a, const ObjectID& b) { return a.number == b.number && a.handle == b.handle; }

auto FindEntry(int kind, ObjectID id) {
    return std::find_if(timerList.entries.begin(), timerList.entries.end(),
                        [&](const qbTimerEntry& e) { return e.kind == kind && SameID(e.id, id); });
}

qbTimerEntry* EntryAfter(std::list<qbTimerEntry>::iterator it) {
    ++it;
    return it == timerList.entries.end() ? nullptr : &*it;
}

void ListTimerFired(uint64_t timer) {
    {
        std::lock_guard lock(timerList.mutex);
        auto it = std::find_if(timerList.entries.begin(), timerList.entries.end(),
                               [timer](const qbTimerEntry& e) { return e.runLoopTimer == timer; });
        // Removed while its firing was on its way: nothing to report.
        if (it == timerList.entries.end()) return;
        it->fired = true;
        ++timerList.firings;
    }
    PostWakeEvent();
}

void WaitTimerFired(uint64_t timer) {
    waitEndedBy.store(timer);
    PostWakeEvent();
}

std::chrono::milliseconds Millis(int ms) { return std::chrono::milliseconds(std::max(ms, 0)); }

int AddTimer(int kind, ObjectID id, int ms) {
    try {
        timerList.entries.push_back(qbTimerEntry{kind, id, false, 0});
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    std::chrono::milliseconds period = kind == kTimerRepeating ? Millis(ms) : std::chrono::milliseconds::zero();
    uint64_t timer = AddRunLoopTimer(Millis(ms), period, ListTimerFired);
    if (timer == 0) {
        timerList.entries.pop_back();
        return ERR_TIMER;
    }
    timerList.entries.back().runLoopTimer = timer;
    return 0;
}

void RemoveTimer(int kind, ObjectID id) {
    auto it = FindEntry(kind, id);
    if (it == timerList.entries.end()) return;
    InvalidateRunLoopTimer(it->runLoopTimer);
    timerList.entries.erase(it);
}

int ChangeTimerPeriod(ObjectID id, int ms) {
    auto it = FindEntry(kTimerRepeating, id);
    if (it == timerList.entries.end()) return 0;
    uint64_t timer = AddRunLoopTimer(Millis(ms), Millis(ms), ListTimerFired);
    if (timer == 0) return ERR_TIMER;
    InvalidateRunLoopTimer(it->runLoopTimer);
    it->runLoopTimer = timer;
    return 0;
}

}  // namespace

int InitTimerService() { return 0; }

void FreeTimerService() { FreeAllTimers(); }

void FreeAllTimers() {
    std::lock_guard lock(timerList.mutex);
    for (const qbTimerEntry& e : timerList.entries) InvalidateRunLoopTimer(e.runLoopTimer);
    timerList.entries.clear();
}

int TimerService(int operation, ObjectID id, int ms) {
    std::lock_guard lock(timerList.mutex);
    switch (operation) {
        case kTimerAddRepeating: return AddTimer(kTimerRepeating, id, ms);
        case kTimerAddOneShot: return AddTimer(kTimerOneShot, id, ms);
        case kTimerRemoveRepeating: RemoveTimer(kTimerRepeating, id); return 0;
        case kTimerRemoveOneShot: RemoveTimer(kTimerOneShot, id); return 0;
        case kTimerChangePeriod: return ChangeTimerPeriod(id, ms);
        default: return 0;
    }
}

qbTimerEntry* TakeFiredTimerEvent(qbTimerEntry* entry, int* outKind, ObjectID* outID) {
    *outKind = kTimerNothing;
    std::lock_guard lock(timerList.mutex);
    auto it = entry ? std::find_if(timerList.entries.begin(), timerList.entries.end(),
                                   [entry](const qbTimerEntry& e) { return &e == entry; })
                    : timerList.entries.begin();
    if (it == timerList.entries.end()) return nullptr;
    qbTimerEntry* next = EntryAfter(it);
    if (!it->fired) return next;
    *outKind = it->kind;
    *outID = it->id;
    if (it->kind == kTimerOneShot) {
        InvalidateRunLoopTimer(it->runLoopTimer);
        timerList.entries.erase(it);
    } else {
        it->fired = false;
    }
    return next;
}

qbTimerEntry* FindTimerEntry(int kind, ObjectID id, qbTimerEntry** outNext) {
    std::lock_guard lock(timerList.mutex);
    auto it = FindEntry(kind, id);
    bool found = it != timerList.entries.end();
    if (outNext) *outNext = found ? EntryAfter(it) : nullptr;
    return found ? &*it : nullptr;
}

uint64_t CountTimerFirings() {
    std::lock_guard lock(timerList.mutex);
    return timerList.firings;
}

uint64_t StartWaitTimer(int ms) {
    if (!IsTimerThreadRunning()) return 0;
    return AddRunLoopTimer(Millis(ms), std::chrono::milliseconds::zero(), WaitTimerFired);
}

bool WaitTimerFiredYet(uint64_t timer) { return waitEndedBy.load() == timer; }

void EndWaitTimer(uint64_t timer) { InvalidateRunLoopTimer(timer); }
