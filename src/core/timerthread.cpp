// The timer thread: a run loop over a deadline schedule on the timers' clock,
// woken by a condition variable whenever a timer is added or removed or a
// test's clock moves.
#include "core/timerthread.h"

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <utility>

#include "core/errcodes.h"
#include "core/threads.h"
#include "core/timers.h"

namespace {

using Micros = std::chrono::microseconds;
using namespace std::chrono_literals;

// The real-time priority the timer thread asks for; clamped to what the
// system offers.
constexpr int kTimerThreadPriority = 100;
constexpr size_t kTimerThreadStack = 65536;
constexpr auto kKeepAwakePeriod = 30s;

struct RunLoopTimer {
    Micros due;
    Micros period;
    RunLoopTimerCallback callback;
};

struct RunLoop {
    std::mutex mutex;
    std::condition_variable wake;
    std::map<uint64_t, RunLoopTimer> timers;
    std::set<std::pair<Micros, uint64_t>> deadlines;
    uint64_t lastTimer = 0;
    bool stopRequested = false;
    std::atomic<bool> running{false};
    // The clock every deadline is on; null: the monotonic clock.
    std::atomic<TimerClockRead> clock{nullptr};
    // A clock moved by hand: how often it was said to have moved, and how
    // many of those moves the loop has served (fired what fell due).
    uint64_t clockMoves = 0;
    uint64_t clockMovesServed = 0;
    std::condition_variable served;
    // Touched by the main thread only.
    qbThreadPtr thread;

    RunLoop() = default;
    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;
    // A process that exits while the thread runs must not hang in the join
    // of the thread's owner.
    ~RunLoop() { StopRunLoopThread(); }

    void StopRunLoopThread() {
        if (!thread) return;
        {
            std::lock_guard lock(mutex);
            stopRequested = true;
        }
        wake.notify_all();
        served.notify_all();
        StopThread(thread);
        running.store(false);
    }
};

RunLoop runLoop;

// Keeping the screen awake while the blanker is disabled belongs to the
// display backend here, so the tick has nothing to do but stay scheduled.
void KeepAwakeTick(uint64_t) {}

Micros Now() { return Micros(TimerClockMicros()); }

// Waits for the next change with nothing due: a clock moved by hand wakes
// the loop when it moves, the monotonic one at the first deadline.
void WaitIdle(std::unique_lock<std::mutex>& lock, uint64_t movesSeen) {
    if (runLoop.clock.load(std::memory_order_relaxed)) {
        runLoop.clockMovesServed = movesSeen;
        runLoop.served.notify_all();
        runLoop.wake.wait(lock);
    } else if (runLoop.deadlines.empty()) {
        runLoop.wake.wait(lock);
    } else {
        runLoop.wake.wait_until(lock, std::chrono::steady_clock::time_point(runLoop.deadlines.begin()->first));
    }
}

void RunUntilStopped() {
    std::unique_lock lock(runLoop.mutex);
    while (!runLoop.stopRequested) {
        // Counted before the clock is read: a move said after this is served
        // by a later turn.
        const uint64_t moves = runLoop.clockMoves;
        if (runLoop.deadlines.empty()) {
            WaitIdle(lock, moves);
            continue;
        }
        auto first = runLoop.deadlines.begin();
        Micros due = first->first;
        uint64_t id = first->second;
        Micros now = Now();
        if (now < due) {
            WaitIdle(lock, moves);
            continue;
        }
        // The node is moved, not copied, so that a repeating timer is put back
        // without an allocation that could fail on this thread.
        auto node = runLoop.deadlines.extract(first);
        auto it = runLoop.timers.find(id);
        if (it == runLoop.timers.end()) continue;
        RunLoopTimerCallback callback = it->second.callback;
        if (it->second.period > Micros::zero()) {
            it->second.due = NextDue(due, it->second.period, now);
            node.value().first = it->second.due;
            runLoop.deadlines.insert(std::move(node));
        } else {
            runLoop.timers.erase(it);
        }
        // Callbacks take the timer list's lock, which is taken before this
        // one when timers are added; calling them unlocked keeps the order.
        lock.unlock();
        callback(id);
        lock.lock();
    }
}

void TimerThreadBody(void* arg) {
    qbThread* thread = GetThreadFromArg(arg);
    // Without the tick nothing is lost but the keep-awake, so its failure
    // does not fail the start.
    uint64_t keepAwake = AddRunLoopTimer(kKeepAwakePeriod, kKeepAwakePeriod, KeepAwakeTick);
    SignalThreadStarted(thread);
    RunUntilStopped();
    InvalidateRunLoopTimer(keepAwake);
    WaitThreadRelease(thread);
}

}  // namespace

int StartTimerThread() {
    if (runLoop.thread) return 0;
    {
        std::lock_guard lock(runLoop.mutex);
        runLoop.stopRequested = false;
    }
    runLoop.thread = StartThread("Timer thread", TimerThreadBody, nullptr, 0, kTimerThreadStack,
                                 kTimerThreadPriority);
    if (!runLoop.thread) return ERR_THREAD;
    runLoop.running.store(true);
    return 0;
}

void StopTimerThread() {
    if (!runLoop.thread) return;
    runLoop.StopRunLoopThread();
    FreeAllTimers();
    std::lock_guard lock(runLoop.mutex);
    runLoop.timers.clear();
    runLoop.deadlines.clear();
}

bool IsTimerThreadRunning() { return runLoop.running.load(); }

int64_t TimerClockMicros() {
    if (TimerClockRead read = runLoop.clock.load(std::memory_order_relaxed)) return read();
    // The steady clock, whose time points the run loop's waits take.
    return std::chrono::duration_cast<Micros>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool SetTimerClock(TimerClockRead read) {
    if (runLoop.thread) return false;
    runLoop.clock.store(read);
    return true;
}

void TimerClockMoved() {
    std::unique_lock lock(runLoop.mutex);
    const uint64_t move = ++runLoop.clockMoves;
    runLoop.wake.notify_all();
    runLoop.served.wait(lock, [move] {
        return runLoop.clockMovesServed >= move || runLoop.stopRequested || !runLoop.running.load();
    });
}

qbTimerSchedule GetTimerSchedule() {
    std::lock_guard lock(runLoop.mutex);
    qbTimerSchedule schedule;
    schedule.timers = runLoop.timers.size();
    if (!runLoop.deadlines.empty()) schedule.firstDueMicros = runLoop.deadlines.begin()->first.count();
    return schedule;
}

std::chrono::microseconds NextDue(std::chrono::microseconds due, std::chrono::microseconds period,
                                  std::chrono::microseconds now) {
    auto next = due + period;
    if (next <= now) next += period * ((now - next) / period + 1);
    return next;
}

uint64_t AddRunLoopTimer(std::chrono::milliseconds first, std::chrono::milliseconds period,
                         RunLoopTimerCallback callback) {
    if (first < 0ms) first = 0ms;
    if (period < 0ms) period = 0ms;
    uint64_t id = 0;
    {
        std::lock_guard lock(runLoop.mutex);
        id = ++runLoop.lastTimer;
        Micros due = Now() + first;
        try {
            auto [it, added] = runLoop.timers.emplace(id, RunLoopTimer{due, period, callback});
            try {
                runLoop.deadlines.emplace(due, id);
            } catch (const std::bad_alloc&) {
                runLoop.timers.erase(it);
                throw;
            }
        } catch (const std::bad_alloc&) {
            return 0;
        }
    }
    runLoop.wake.notify_all();
    return id;
}

void InvalidateRunLoopTimer(uint64_t timer) {
    if (timer == 0) return;
    {
        std::lock_guard lock(runLoop.mutex);
        auto it = runLoop.timers.find(timer);
        if (it == runLoop.timers.end()) return;
        runLoop.deadlines.erase({it->second.due, timer});
        runLoop.timers.erase(it);
    }
    runLoop.wake.notify_all();
}
