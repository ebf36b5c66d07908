// Starting a clock thread with each allocation failing in turn: an owner
// is joinable exactly when its thread runs, so a caller that finds it not
// joinable (and reports the failure) never waits on a thread that is not
// there. Owners never started or moved from are not joinable either.
#include <gtest/gtest.h>

#include <atomic>
#include <utility>

#include "core/memory.h"
#include "core/realtime.h"

namespace {

void CountRun(void* arg) { static_cast<std::atomic<int>*>(arg)->fetch_add(1); }

TEST(RealtimeFailAllocTest, AnOwnerIsJoinableExactlyWhenItsThreadRuns) {
    for (int priority : {0, 100}) {
        for (long n = 0;; ++n) {
            std::atomic<int> runs{0};
            SetAllocationFailCountdown(n);
            RealtimeThread t = CreateRealtimeThread(&CountRun, &runs, priority);
            const bool reached = AllocationFailCountdown() >= 0;
            SetAllocationFailCountdown(-1);
            const bool joinable = t.Joinable();
            t.Join();
            EXPECT_FALSE(t.Joinable());
            EXPECT_EQ(runs.load(), joinable ? 1 : 0) << "priority " << priority << ", allocation " << n;
            if (reached) {
                EXPECT_TRUE(joinable);
                break;  // every allocation of the start was failed once
            }
        }
    }
    RealtimeThread never;
    EXPECT_FALSE(never.Joinable());
    std::atomic<int> runs{0};
    RealtimeThread started = CreateRealtimeThread(&CountRun, &runs, 0);
    ASSERT_TRUE(started.Joinable());
    RealtimeThread moved(std::move(started));
    EXPECT_FALSE(started.Joinable());
    EXPECT_TRUE(moved.Joinable());
    never = std::move(moved);
    EXPECT_FALSE(moved.Joinable());
    never.Join();
    EXPECT_EQ(runs.load(), 1);
}

}  // namespace
