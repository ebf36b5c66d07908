// Recursive mutexes, auto-reset signals, the thread start handshake and the
// real-time thread starter.
#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "core/realtime.h"
#include "core/threads.h"

namespace {

using namespace std::chrono_literals;

TEST(MutexTest, RecursiveLockingAndTryLockFromAnotherThread) {
    qbMutexPtr m = AllocMutex();
    ASSERT_TRUE(m);
    LockMutex(m.get());
    LockMutex(m.get());
    EXPECT_EQ(TryLockMutex(m.get()), 1);  // the owner may always lock again

    auto tryElsewhere = [&] {
        int got = -1;
        std::thread([&] {
            got = TryLockMutex(m.get());
            if (got) UnlockMutex(m.get());
        }).join();
        return got;
    };
    EXPECT_EQ(tryElsewhere(), 0);
    UnlockMutex(m.get());
    UnlockMutex(m.get());
    EXPECT_EQ(tryElsewhere(), 0) << "one lock is still held";
    UnlockMutex(m.get());
    EXPECT_EQ(tryElsewhere(), 1);
    FreeMutex(m);
    EXPECT_FALSE(m);
}

TEST(SignalTest, WaiterWakesAndTheFlagResets) {
    qbMutexPtr m = AllocMutex();
    qbSignalPtr s = AllocSignal();
    ASSERT_TRUE(m && s);

    // A set before the wait is not lost; the wait consumes it.
    SetSignal(s.get());
    LockMutex(m.get());
    EXPECT_EQ(WaitSignal(s.get(), m.get()), 0);

    // The flag is clear again, so this wait lasts until the other thread sets
    // it; that thread needs the mutex first, which the wait must give up.
    std::atomic<bool> setterRan{false};
    std::thread setter([&] {
        LockMutex(m.get());
        setterRan = true;
        SetSignal(s.get());
        UnlockMutex(m.get());
    });
    EXPECT_EQ(WaitSignal(s.get(), m.get()), 0);
    EXPECT_TRUE(setterRan);
    UnlockMutex(m.get());
    setter.join();
}

struct BodyLog {
    std::atomic<bool> signalledStart{false};
    std::atomic<bool> sawStop{false};
    std::atomic<bool> finished{false};
    void* userData = nullptr;
    int failWith = 0;
    bool waitAfterFailing = false;
};

void WellBehavedBody(void* arg) {
    qbThread* t = GetThreadFromArg(arg);
    auto* log = static_cast<BodyLog*>(GetThreadUserData(t));
    log->userData = log;
    log->signalledStart = true;
    SignalThreadStarted(t);
    while (!IsThreadStopRequested(t)) std::this_thread::sleep_for(1ms);
    log->sawStop = true;
    WaitThreadRelease(t);
    log->finished = true;
}

void FailingBody(void* arg) {
    qbThread* t = GetThreadFromArg(arg);
    auto* log = static_cast<BodyLog*>(GetThreadUserData(t));
    SetThreadStartResult(t, log->failWith);
    // Still busy after reporting the failure: StartThread must wait for it.
    std::this_thread::sleep_for(20ms);
    if (log->waitAfterFailing) WaitThreadRelease(t);
    log->finished = true;
}

void SilentBody(void* arg) {
    auto* log = static_cast<BodyLog*>(GetThreadUserData(GetThreadFromArg(arg)));
    log->finished = true;
}

TEST(ThreadTest, HandshakeThenStop) {
    BodyLog log;
    qbThreadPtr t = StartThread("worker", WellBehavedBody, &log, 0, 16384, 0);
    ASSERT_TRUE(t);
    EXPECT_TRUE(log.signalledStart) << "StartThread returned before the body signalled";
    EXPECT_EQ(log.userData, &log);
    EXPECT_FALSE(log.sawStop);
    StopThread(t);
    EXPECT_FALSE(t);
    EXPECT_TRUE(log.sawStop);
    EXPECT_TRUE(log.finished);
}

TEST(ThreadTest, FailedStartLeavesNoThread) {
    for (bool waitAfterFailing : {false, true}) {
        BodyLog log;
        log.failWith = 7;
        log.waitAfterFailing = waitAfterFailing;
        qbThreadPtr t = StartThread("failing", FailingBody, &log, 0, 16384, 0);
        EXPECT_FALSE(t);
        EXPECT_TRUE(log.finished) << "the failed thread was not joined (wait " << waitAfterFailing << ")";
    }
}

TEST(ThreadTest, BodyThatNeverSignalsDoesNotHangTheStart) {
    BodyLog log;
    qbThreadPtr t = StartThread("silent", SilentBody, &log, 0, 16384, 0);
    ASSERT_TRUE(t);
    EXPECT_TRUE(log.finished);
    JoinThread(t);
}

struct SchedulingSeen {
    int policy = -1;
    int priority = -1;
};

void RecordScheduling(void* arg) {
    auto* seen = static_cast<SchedulingSeen*>(arg);
    sched_param param{};
    pthread_getschedparam(pthread_self(), &seen->policy, &param);
    seen->priority = param.sched_priority;
}

TEST(RealtimeThreadTest, OutOfRangePriorityIsClampedOrRefusedQuietly) {
    // Priority 100 is beyond Linux's range: with the privilege the thread runs
    // round-robin at the top priority, without it at the default scheduling;
    // in neither case does the start fail.
    SchedulingSeen seen;
    RealtimeThread t = CreateRealtimeThread(RecordScheduling, &seen, 100);
    ASSERT_TRUE(t.Joinable());
    t.Join();
    EXPECT_FALSE(t.Joinable());
    if (seen.policy == SCHED_RR) {
        EXPECT_EQ(seen.priority, sched_get_priority_max(SCHED_RR));
    } else {
        EXPECT_EQ(seen.policy, SCHED_OTHER);
    }

    SchedulingSeen plain;
    RealtimeThread d = CreateRealtimeThread(RecordScheduling, &plain, 0);
    ASSERT_TRUE(d.Joinable());
    d.Join();
    EXPECT_EQ(plain.policy, SCHED_OTHER);
}

}  // namespace
