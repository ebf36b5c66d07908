// The timer service and timer thread: fired timers as the dispatcher takes
// them, removal and period changes, the timed wait and the shared poll interval.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <thread>

#include "core/errcodes.h"
#include "core/timers.h"
#include "core/timerthread.h"
#include "display/events.h"
#include "display/pollinterval.h"
#include "platform/platform.h"

namespace {

using namespace std::chrono_literals;

ObjectID ID(int32_t number) { return ObjectID{number, nullptr}; }

bool SameID(const ObjectID& a, const ObjectID& b) { return a.number == b.number && a.handle == b.handle; }

// Waits (woken by the timer thread's wake events) until the timers of the list
// have fired `count` more times than `since`; false after a generous limit.
bool WaitForFirings(uint64_t since, uint64_t count) {
    auto limit = std::chrono::steady_clock::now() + 10s;
    while (CountTimerFirings() < since + count) {
        if (std::chrono::steady_clock::now() > limit) return false;
        WaitForNativeEvent(50);
    }
    return true;
}

class TimerServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(InitTimerService(), 0);
        ASSERT_EQ(StartTimerThread(), 0);
        ASSERT_TRUE(IsTimerThreadRunning());
    }
    void TearDown() override {
        StopTimerThread();
        FreeTimerService();
    }
};

TEST_F(TimerServiceTest, FiredOneShotTimersAreReportedOnceEachAndRemoved) {
    uint64_t before = CountTimerFirings();
    ASSERT_EQ(TimerService(kTimerAddOneShot, ID(1), 1), 0);
    ASSERT_EQ(TimerService(kTimerAddOneShot, ID(2), 1), 0);
    ASSERT_TRUE(WaitForFirings(before, 2));

    int kind = -1;
    ObjectID id;
    qbTimerEntry* next = TakeFiredTimerEvent(nullptr, &kind, &id);
    EXPECT_EQ(kind, kTimerOneShot);
    EXPECT_TRUE(SameID(id, ID(1)));
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(TakeFiredTimerEvent(next, &kind, &id), nullptr);
    EXPECT_EQ(kind, kTimerOneShot);
    EXPECT_TRUE(SameID(id, ID(2)));

    EXPECT_EQ(FindTimerEntry(kTimerOneShot, ID(1), nullptr), nullptr);
    EXPECT_EQ(FindTimerEntry(kTimerOneShot, ID(2), nullptr), nullptr);
    EXPECT_EQ(TakeFiredTimerEvent(nullptr, &kind, &id), nullptr);
    EXPECT_EQ(kind, kTimerNothing);
}

TEST_F(TimerServiceTest, RepeatingTimerThatFiredTwiceIsReportedOnce) {
    uint64_t before = CountTimerFirings();
    ASSERT_EQ(TimerService(kTimerAddRepeating, ID(5), 2), 0);
    ASSERT_TRUE(WaitForFirings(before, 2));
    // A long period now, so that no third firing slips in between the looks.
    ASSERT_EQ(TimerService(kTimerChangePeriod, ID(5), 3600000), 0);

    int kind = -1;
    ObjectID id;
    EXPECT_EQ(TakeFiredTimerEvent(nullptr, &kind, &id), nullptr);
    EXPECT_EQ(kind, kTimerRepeating);
    EXPECT_TRUE(SameID(id, ID(5)));
    TakeFiredTimerEvent(nullptr, &kind, &id);
    EXPECT_EQ(kind, kTimerNothing);
    EXPECT_NE(FindTimerEntry(kTimerRepeating, ID(5), nullptr), nullptr) << "a repeating timer stays";
}

TEST_F(TimerServiceTest, RemovalFindsTheTimerByKindAndId) {
    ObjectID handleID{0, this};
    ASSERT_EQ(TimerService(kTimerAddRepeating, ID(1), 3600000), 0);
    ASSERT_EQ(TimerService(kTimerAddOneShot, ID(1), 3600000), 0);
    ASSERT_EQ(TimerService(kTimerAddRepeating, handleID, 3600000), 0);

    EXPECT_EQ(TimerService(kTimerRemoveRepeating, ID(9), 0), 0);
    EXPECT_EQ(TimerService(kTimerRemoveOneShot, ObjectID{1, this}, 0), 0);
    EXPECT_EQ(TimerService(77, ID(1), 0), 0);
    qbTimerEntry* next = nullptr;
    EXPECT_NE(FindTimerEntry(kTimerRepeating, ID(1), &next), nullptr);
    EXPECT_EQ(next, FindTimerEntry(kTimerOneShot, ID(1), nullptr));
    EXPECT_NE(FindTimerEntry(kTimerRepeating, handleID, &next), nullptr);
    EXPECT_EQ(next, nullptr);

    EXPECT_EQ(TimerService(kTimerRemoveOneShot, ID(1), 0), 0);
    EXPECT_EQ(FindTimerEntry(kTimerOneShot, ID(1), nullptr), nullptr);
    EXPECT_NE(FindTimerEntry(kTimerRepeating, ID(1), nullptr), nullptr);
    EXPECT_EQ(TimerService(kTimerRemoveRepeating, handleID, 0), 0);
    EXPECT_EQ(FindTimerEntry(kTimerRepeating, handleID, nullptr), nullptr);
}

TEST_F(TimerServiceTest, StaleCursorEndsTheWalk) {
    ASSERT_EQ(TimerService(kTimerAddRepeating, ID(1), 3600000), 0);
    ASSERT_EQ(TimerService(kTimerAddRepeating, ID(2), 3600000), 0);
    qbTimerEntry* second = FindTimerEntry(kTimerRepeating, ID(2), nullptr);
    ASSERT_EQ(TimerService(kTimerRemoveRepeating, ID(2), 0), 0);
    int kind = -1;
    ObjectID id;
    EXPECT_EQ(TakeFiredTimerEvent(second, &kind, &id), nullptr);
    EXPECT_EQ(kind, kTimerNothing);
}

TEST_F(TimerServiceTest, ChangingThePeriodReschedules) {
    ASSERT_EQ(TimerService(kTimerAddRepeating, ID(3), 3600000), 0);
    uint64_t before = CountTimerFirings();
    ASSERT_EQ(TimerService(kTimerChangePeriod, ID(3), 1), 0);
    EXPECT_TRUE(WaitForFirings(before, 3));
    // Changing a timer that is not there is no error.
    EXPECT_EQ(TimerService(kTimerChangePeriod, ID(4), 1), 0);
    EXPECT_EQ(FindTimerEntry(kTimerRepeating, ID(4), nullptr), nullptr);
}

TEST_F(TimerServiceTest, StoppingTheThreadFreesEveryTimer) {
    ASSERT_EQ(TimerService(kTimerAddRepeating, ID(1), 3600000), 0);
    ASSERT_EQ(TimerService(kTimerAddOneShot, ID(2), 3600000), 0);
    StopTimerThread();
    EXPECT_FALSE(IsTimerThreadRunning());
    int kind = -1;
    ObjectID id;
    EXPECT_EQ(TakeFiredTimerEvent(nullptr, &kind, &id), nullptr);
    EXPECT_EQ(FindTimerEntry(kTimerRepeating, ID(1), nullptr), nullptr);
    // The thread starts again after a stop.
    ASSERT_EQ(StartTimerThread(), 0);
    uint64_t before = CountTimerFirings();
    ASSERT_EQ(TimerService(kTimerAddOneShot, ID(2), 1), 0);
    EXPECT_TRUE(WaitForFirings(before, 1));
}

// A hundred firings a second: the schedule keeps a 10 ms timer on its grid
// however late the thread wakes (a loaded machine only skips periods), and
// the live timer never fires sooner than its period.
TEST_F(TimerServiceTest, TenMillisecondTimerFiresAHundredTimesASecond) {
    const auto t0 = std::chrono::steady_clock::time_point{} + 1h;
    EXPECT_EQ(NextDue(t0, 10ms, t0 + 3ms), t0 + 10ms);
    EXPECT_EQ(NextDue(t0, 10ms, t0 + 10ms), t0 + 20ms);
    EXPECT_EQ(NextDue(t0, 10ms, t0 + 47ms), t0 + 50ms);
    EXPECT_EQ(NextDue(t0, 10ms, t0 + 1s), t0 + 1010ms);

    const auto start = std::chrono::steady_clock::now();
    const uint64_t before = CountTimerFirings();
    ASSERT_EQ(TimerService(kTimerAddRepeating, ID(10), 10), 0);
    ASSERT_TRUE(WaitForFirings(before, 20));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 200ms);
}

TEST_F(TimerServiceTest, WaitPumpingEventsEndsWithItsTimer) {
    EXPECT_EQ(WaitPumpingEvents(nullptr, 0), 0);
    EXPECT_EQ(WaitPumpingEvents(nullptr, 5), 0);
    // A wait whose own timer fires while another timer keeps waking the loop.
    ASSERT_EQ(TimerService(kTimerAddRepeating, ID(1), 1), 0);
    EXPECT_EQ(WaitPumpingEvents(nullptr, 20), 0);
}

TEST(TimedWaitTest, WithoutTimerThread) {
    EXPECT_EQ(WaitPumpingEvents(nullptr, 0), 0);
    EXPECT_EQ(WaitPumpingEvents(nullptr, 10), ERR_TIMER);
}

TEST_F(TimerServiceTest, PollIntervalRunsWhileEitherUserHoldsIt) {
    const ObjectID pollID{0, reinterpret_cast<void*>(uintptr_t{1})};
    auto running = [&] { return FindTimerEntry(kTimerRepeating, pollID, nullptr) != nullptr; };

    EXPECT_EQ(AcquirePollInterval(nullptr, 0), 0);
    EXPECT_TRUE(running());
    EXPECT_EQ(AcquirePollInterval(nullptr, 1), 0);
    EXPECT_EQ(AcquirePollInterval(nullptr, 1), 0);
    qbTimerEntry* next = nullptr;
    ASSERT_TRUE(FindTimerEntry(kTimerRepeating, pollID, &next));
    EXPECT_EQ(next, nullptr) << "one interval, however often it was acquired";
    ReleasePollInterval(nullptr, 0);
    EXPECT_TRUE(running()) << "user 1 still holds it";
    ReleasePollInterval(nullptr, 0);
    EXPECT_TRUE(running()) << "a second release by the same user changes nothing";
    ReleasePollInterval(nullptr, 1);
    EXPECT_FALSE(running());
}

}  // namespace
