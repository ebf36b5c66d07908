// The timer service and timer thread: fired timers as the dispatcher takes
// them, removal and period changes, the timed wait and the shared poll interval.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <thread>

#include "core/errcodes.h"
#include "core/timers.h"
#include "core/timerthread.h"
#include "core/virtual_timer_clock.h"
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
    const uint64_t next = TakeFiredTimerEvent(0, &kind, &id);
    EXPECT_EQ(kind, kTimerOneShot);
    EXPECT_TRUE(SameID(id, ID(1)));
    ASSERT_NE(next, 0u);
    EXPECT_NE(TakeFiredTimerEvent(next, &kind, &id), 0u);
    EXPECT_EQ(kind, kTimerOneShot);
    EXPECT_TRUE(SameID(id, ID(2)));

    EXPECT_FALSE(HasTimer(kTimerOneShot, ID(1)));
    EXPECT_FALSE(HasTimer(kTimerOneShot, ID(2)));
    EXPECT_EQ(TakeFiredTimerEvent(0, &kind, &id), 0u);
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
    EXPECT_NE(TakeFiredTimerEvent(0, &kind, &id), 0u);
    EXPECT_EQ(kind, kTimerRepeating);
    EXPECT_TRUE(SameID(id, ID(5)));
    TakeFiredTimerEvent(0, &kind, &id);
    EXPECT_EQ(kind, kTimerNothing);
    EXPECT_TRUE(HasTimer(kTimerRepeating, ID(5))) << "a repeating timer stays";
}

TEST_F(TimerServiceTest, RemovalFindsTheTimerByKindAndId) {
    ObjectID handleID{0, this};
    ASSERT_EQ(TimerService(kTimerAddRepeating, ID(1), 3600000), 0);
    ASSERT_EQ(TimerService(kTimerAddOneShot, ID(1), 3600000), 0);
    ASSERT_EQ(TimerService(kTimerAddRepeating, handleID, 3600000), 0);

    EXPECT_EQ(TimerService(kTimerRemoveRepeating, ID(9), 0), 0);
    EXPECT_EQ(TimerService(kTimerRemoveOneShot, ObjectID{1, this}, 0), 0);
    EXPECT_EQ(TimerService(77, ID(1), 0), 0);
    EXPECT_TRUE(HasTimer(kTimerRepeating, ID(1)));
    EXPECT_TRUE(HasTimer(kTimerOneShot, ID(1)));
    EXPECT_TRUE(HasTimer(kTimerRepeating, handleID));

    EXPECT_EQ(TimerService(kTimerRemoveOneShot, ID(1), 0), 0);
    EXPECT_FALSE(HasTimer(kTimerOneShot, ID(1)));
    EXPECT_TRUE(HasTimer(kTimerRepeating, ID(1)));
    EXPECT_EQ(TimerService(kTimerRemoveRepeating, handleID, 0), 0);
    EXPECT_FALSE(HasTimer(kTimerRepeating, handleID));
}

// A walk goes on from a place, not a timer: timers removed or made while it
// runs leave it valid, and it visits the fired ones in the order they were
// made, from where it stands.
TEST_F(TimerServiceTest, AWalkTakesTheFiredTimersInTheOrderTheyWereMade) {
    uint64_t before = CountTimerFirings();
    for (int32_t n = 1; n <= 4; ++n) ASSERT_EQ(TimerService(kTimerAddOneShot, ID(n), 1), 0);
    ASSERT_TRUE(WaitForFirings(before, 4));
    int kind = -1;
    ObjectID id;
    uint64_t place = TakeFiredTimerEvent(0, &kind, &id);
    EXPECT_TRUE(SameID(id, ID(1)));
    ASSERT_EQ(TimerService(kTimerRemoveOneShot, ID(2), 0), 0);
    place = TakeFiredTimerEvent(place, &kind, &id);
    EXPECT_TRUE(SameID(id, ID(3)));
    before = CountTimerFirings();
    ASSERT_EQ(TimerService(kTimerAddOneShot, ID(5), 1), 0);
    ASSERT_TRUE(WaitForFirings(before, 1));
    place = TakeFiredTimerEvent(place, &kind, &id);
    EXPECT_TRUE(SameID(id, ID(4)));
    place = TakeFiredTimerEvent(place, &kind, &id);
    EXPECT_TRUE(SameID(id, ID(5)));
    EXPECT_EQ(TakeFiredTimerEvent(place, &kind, &id), 0u);
    EXPECT_EQ(kind, kTimerNothing);
}

TEST_F(TimerServiceTest, ChangingThePeriodReschedules) {
    ASSERT_EQ(TimerService(kTimerAddRepeating, ID(3), 3600000), 0);
    uint64_t before = CountTimerFirings();
    ASSERT_EQ(TimerService(kTimerChangePeriod, ID(3), 1), 0);
    EXPECT_TRUE(WaitForFirings(before, 3));
    // Changing a timer that is not there is no error.
    EXPECT_EQ(TimerService(kTimerChangePeriod, ID(4), 1), 0);
    EXPECT_FALSE(HasTimer(kTimerRepeating, ID(4)));
}

TEST_F(TimerServiceTest, StoppingTheThreadFreesEveryTimer) {
    ASSERT_EQ(TimerService(kTimerAddRepeating, ID(1), 3600000), 0);
    ASSERT_EQ(TimerService(kTimerAddOneShot, ID(2), 3600000), 0);
    StopTimerThread();
    EXPECT_FALSE(IsTimerThreadRunning());
    int kind = -1;
    ObjectID id;
    EXPECT_EQ(TakeFiredTimerEvent(0, &kind, &id), 0u);
    EXPECT_FALSE(HasTimer(kTimerRepeating, ID(1)));
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
    const std::chrono::microseconds t0 = 1h;
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
    auto running = [&] { return HasTimer(kTimerRepeating, pollID); };

    EXPECT_EQ(AcquirePollInterval(nullptr, 0), 0);
    EXPECT_TRUE(running());
    EXPECT_EQ(AcquirePollInterval(nullptr, 1), 0);
    EXPECT_EQ(AcquirePollInterval(nullptr, 1), 0);
    ReleasePollInterval(nullptr, 0);
    EXPECT_TRUE(running()) << "user 1 still holds it";
    ReleasePollInterval(nullptr, 0);
    EXPECT_TRUE(running()) << "a second release by the same user changes nothing";
    ReleasePollInterval(nullptr, 1);
    EXPECT_FALSE(running()) << "one interval, however often it was acquired";
}

// On a clock moved by hand, a move returns once what fell due has fired, and
// a wait ends when the clock reaches its end, not a moment later.
TEST(VirtualTimerClockTest, MovesFireWhatFellDueAndEndWaits) {
    timerclock::Install();
    ASSERT_EQ(InitTimerService(), 0);
    ASSERT_EQ(StartTimerThread(), 0);
    const uint64_t before = CountTimerFirings();
    ASSERT_EQ(TimerService(kTimerAddRepeating, ID(1), 10), 0);
    timerclock::Advance(9);
    EXPECT_EQ(CountTimerFirings(), before);
    timerclock::Advance(1);
    EXPECT_EQ(CountTimerFirings(), before + 1);
    timerclock::Advance(25);  // the periods passed meanwhile are one firing
    EXPECT_EQ(CountTimerFirings(), before + 2);
    timerclock::Advance(5);
    EXPECT_EQ(CountTimerFirings(), before + 3);

    const int64_t start = TimerClockMicros();
    timerclock::WhileWaiting([] { EXPECT_EQ(WaitPumpingEvents(nullptr, 50), 0); });
    EXPECT_EQ(TimerClockMicros() - start, 50000);
    StopTimerThread();
    FreeTimerService();
    timerclock::Uninstall();
}

}  // namespace
