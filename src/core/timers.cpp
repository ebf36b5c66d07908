// The timer list shared by the timer thread (which marks fired timers) and the
// main thread (which adds, removes and takes them), and the main loop's timed
// wait.
#include "core/timers.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <tuple>
#include <unordered_map>

#include "core/errcodes.h"
#include "core/runstate.h"
#include "core/timerthread.h"
#include "platform/platform.h"

namespace {

// A timer's name for its user: kind, then the id's two words, then its
// place, so that the first timer of a kind and id is found by one lookup.
using TimerKey = std::tuple<int, int32_t, const void*, uint64_t>;

using FiredSet = std::set<uint64_t>;

struct TimerEntry {
    int kind = kTimerRepeating;
    ObjectID id;
    uint64_t runLoopTimer = 0;
    // Its place in the fired set, made when the timer is, so that the
    // timer thread marks a firing without an allocation that could fail
    // there. Empty while the place is in the set.
    FiredSet::node_type firedNode;
};

// The list's lock is always taken before the run loop's. Every timer is
// found by an index: by its place (creation order, which the dispatcher
// walks in), by its kind and id, by its run-loop timer; the fired ones are
// a set of places, so a walk over them passes no timer that has not fired.
struct TimerList {
    std::mutex mutex;
    uint64_t lastPlace = 0;
    std::map<uint64_t, TimerEntry> entries;
    std::set<TimerKey> byId;
    std::unordered_map<uint64_t, uint64_t> byRunLoopTimer;
    FiredSet fired;
    uint64_t firings = 0;
};

TimerList timerList;

// The run-loop timer whose firing ended the current wait. A
// number rather than a flag, so that a late firing of an earlier wait's timer
// cannot end the next wait early.
std::atomic<uint64_t> waitEndedBy{0};

TimerKey KeyOf(int kind, ObjectID id, uint64_t place) { return {kind, id.number, id.handle, place}; }

// The place of the first timer of that kind and id, or 0.
uint64_t FindPlace(int kind, ObjectID id) {
    auto it = timerList.byId.lower_bound(KeyOf(kind, id, 0));
    if (it == timerList.byId.end() || std::get<0>(*it) != kind || std::get<1>(*it) != id.number ||
        std::get<2>(*it) != id.handle)
        return 0;
    return std::get<3>(*it);
}

bool IsFired(const TimerEntry& e) { return e.firedNode.empty(); }

void Erase(std::map<uint64_t, TimerEntry>::iterator it) {
    TimerEntry& e = it->second;
    InvalidateRunLoopTimer(e.runLoopTimer);
    timerList.byRunLoopTimer.erase(e.runLoopTimer);
    timerList.byId.erase(KeyOf(e.kind, e.id, it->first));
    if (IsFired(e)) timerList.fired.erase(it->first);
    timerList.entries.erase(it);
}

// Takes the fired mark back into the entry.
void Unmark(uint64_t place, TimerEntry& e) {
    if (IsFired(e)) e.firedNode = timerList.fired.extract(place);
}

void ListTimerFired(uint64_t timer) {
    {
        std::lock_guard lock(timerList.mutex);
        auto found = timerList.byRunLoopTimer.find(timer);
        // Removed while its firing was on its way: nothing to report.
        if (found == timerList.byRunLoopTimer.end()) return;
        TimerEntry& e = timerList.entries.at(found->second);
        if (!IsFired(e)) timerList.fired.insert(std::move(e.firedNode));
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
    const uint64_t place = timerList.lastPlace + 1;
    // A failure anywhere leaves no trace of the timer.
    auto undo = [&](uint64_t timer) {
        if (timer) InvalidateRunLoopTimer(timer);
        timerList.byRunLoopTimer.erase(timer);
        timerList.byId.erase(KeyOf(kind, id, place));
        timerList.entries.erase(place);
    };
    std::map<uint64_t, TimerEntry>::iterator it;
    try {
        it = timerList.entries.emplace(place, TimerEntry{kind, id, 0, {}}).first;
        // The fired set's node is had now, so that the firing allocates
        // nothing.
        it->second.firedNode = timerList.fired.extract(timerList.fired.insert(place).first);
        timerList.byId.insert(KeyOf(kind, id, place));
    } catch (const std::bad_alloc&) {
        undo(0);
        return ERR_MEM;
    }
    std::chrono::milliseconds period = kind == kTimerRepeating ? Millis(ms) : std::chrono::milliseconds::zero();
    const uint64_t timer = AddRunLoopTimer(Millis(ms), period, ListTimerFired);
    if (timer == 0) {
        undo(0);
        return ERR_TIMER;
    }
    try {
        timerList.byRunLoopTimer.emplace(timer, place);
    } catch (const std::bad_alloc&) {
        undo(timer);
        return ERR_MEM;
    }
    timerList.lastPlace = place;
    it->second.runLoopTimer = timer;
    return 0;
}

void RemoveTimer(int kind, ObjectID id) {
    if (const uint64_t place = FindPlace(kind, id)) Erase(timerList.entries.find(place));
}

int ChangeTimerPeriod(ObjectID id, int ms) {
    const uint64_t place = FindPlace(kTimerRepeating, id);
    if (!place) return 0;
    TimerEntry& e = timerList.entries.at(place);
    const uint64_t timer = AddRunLoopTimer(Millis(ms), Millis(ms), ListTimerFired);
    if (timer == 0) return ERR_TIMER;
    try {
        timerList.byRunLoopTimer.emplace(timer, place);
    } catch (const std::bad_alloc&) {
        InvalidateRunLoopTimer(timer);
        return ERR_MEM;
    }
    InvalidateRunLoopTimer(e.runLoopTimer);
    timerList.byRunLoopTimer.erase(e.runLoopTimer);
    e.runLoopTimer = timer;
    return 0;
}

}  // namespace

int InitTimerService() { return 0; }

void FreeTimerService() { FreeAllTimers(); }

void FreeAllTimers() {
    std::lock_guard lock(timerList.mutex);
    for (const auto& [place, e] : timerList.entries) InvalidateRunLoopTimer(e.runLoopTimer);
    timerList.entries.clear();
    timerList.byId.clear();
    timerList.byRunLoopTimer.clear();
    timerList.fired.clear();
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

uint64_t TakeFiredTimerEvent(uint64_t from, int* outKind, ObjectID* outID) {
    *outKind = kTimerNothing;
    std::lock_guard lock(timerList.mutex);
    auto fired = timerList.fired.lower_bound(from);
    if (fired == timerList.fired.end()) return 0;
    const uint64_t place = *fired;
    auto it = timerList.entries.find(place);
    TimerEntry& e = it->second;
    *outKind = e.kind;
    *outID = e.id;
    if (e.kind == kTimerOneShot) Erase(it);
    else Unmark(place, e);
    return place + 1;
}

bool TakeTimerIfFired(int kind, ObjectID id) {
    std::lock_guard lock(timerList.mutex);
    const uint64_t place = FindPlace(kind, id);
    if (!place) return false;
    auto it = timerList.entries.find(place);
    if (!IsFired(it->second)) return false;
    if (kind == kTimerOneShot) Erase(it);
    else Unmark(place, it->second);
    return true;
}

bool HasTimer(int kind, ObjectID id) {
    std::lock_guard lock(timerList.mutex);
    return FindPlace(kind, id) != 0;
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
