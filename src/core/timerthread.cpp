// The timer thread: a run loop over a deadline schedule on the monotonic clock,
// woken by a condition variable whenever a timer is added or removed.
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

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The real-time priority the timer thread asks for; clamped to what the
// system offers.
constexpr int kTimerThreadPriority = 100;
constexpr size_t kTimerThreadStack = 65536;
constexpr auto kKeepAwakePeriod = 30s;

struct RunLoopTimer {
    Clock::time_point due;
    Clock::duration period;
    RunLoopTimerCallback callback;
};

struct RunLoop {
    std::mutex mutex;
    std::condition_variable wake;
    std::map<uint64_t, RunLoopTimer> timers;
    std::set<std::pair<Clock::time_point, uint64_t>> deadlines;
    uint64_t lastTimer = 0;
    bool stopRequested = false;
    std::atomic<bool> running{false};
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
        StopThread(thread);
        running.store(false);
    }
};

RunLoop runLoop;

// Keeping the screen awake while the blanker is disabled belongs to the
// display backend here, so the tick has nothing to do but stay scheduled.
void KeepAwakeTick(uint64_t) {}

void RunUntilStopped() {
    std::unique_lock lock(runLoop.mutex);
    while (!runLoop.stopRequested) {
        if (runLoop.deadlines.empty()) {
            runLoop.wake.wait(lock);
            continue;
        }
        auto first = runLoop.deadlines.begin();
        Clock::time_point due = first->first;
        uint64_t id = first->second;
        Clock::time_point now = Clock::now();
        if (now < due) {
            runLoop.wake.wait_until(lock, due);
            continue;
        }
        // The node is moved, not copied, so that a repeating timer is put back
        // without an allocation that could fail on this thread.
        auto node = runLoop.deadlines.extract(first);
        auto it = runLoop.timers.find(id);
        if (it == runLoop.timers.end()) continue;
        RunLoopTimerCallback callback = it->second.callback;
        if (it->second.period > Clock::duration::zero()) {
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

std::chrono::steady_clock::time_point NextDue(std::chrono::steady_clock::time_point due,
                                             std::chrono::steady_clock::duration period,
                                             std::chrono::steady_clock::time_point now) {
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
        Clock::time_point due = Clock::now() + first;
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
