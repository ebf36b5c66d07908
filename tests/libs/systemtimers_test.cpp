// The system library's timers, waiting and dates. A loaded machine may run
// any step late: times are held to what the test itself measured around
// them, and upper bounds only tell a unit apart from another.
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <thread>

#include "core/errcodes.h"
#include "core/ostime.h"
#include "core/timerthread.h"
#include "system_calls.h"
#include "wait_for.h"

namespace {

using libstest::SystemCallTest;

void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

class TimerTest : public SystemCallTest {
protected:
    // Waits end through the timer thread's firings.
    void SetUp() override {
        SystemCallTest::SetUp();
        ASSERT_EQ(StartTimerThread(), 0);
    }
    void TearDown() override {
        StopTimerThread();
        SystemCallTest::TearDown();
    }
    void Do(CommandHandler fn, std::initializer_list<double> args) {
        for (double a : args) VmPushNumber(L, a);
        ASSERT_EQ(Call(fn, static_cast<int>(args.size())), 0);
    }
    double Elapsed(int id) {
        VmPushNumber(L, id);
        EXPECT_EQ(Call(cmdGetTimer, 1), 0);
        const double ms = Number(-1);
        VmSetTop(L, 0);
        return ms;
    }
    // Milliseconds that fn took with the given arguments.
    double Timed(CommandHandler fn, std::initializer_list<double> args) {
        const double start = GetTimeSeconds();
        Do(fn, args);
        return (GetTimeSeconds() - start) * 1000;
    }
};

TEST_F(TimerTest, PausedTimersHoldTheirTime) {
    const double before = GetTimeSeconds();
    Do(cmdStartTimer, {1});
    Sleep(300);
    Do(cmdPauseTimer, {1});
    const double running = (GetTimeSeconds() - before) * 1000;
    Do(cmdPauseTimer, {1});  // a second pause changes nothing
    Sleep(1000);
    const double resumed = GetTimeSeconds();
    Do(cmdResumeTimer, {1});
    const double held = Elapsed(1);
    const double sinceResume = (GetTimeSeconds() - resumed) * 1000;
    EXPECT_GE(held, 300 - 2);
    EXPECT_LE(held, running + sinceResume + 2);  // the paused second is not counted
    // Resumed, it runs on.
    EXPECT_TRUE(test_wait::WaitFor([&] { return Elapsed(1) >= held + 50; }, std::chrono::seconds(20)));

    Do(cmdPauseTimer, {1});
    Do(cmdResetTimer, {1, 5000});
    Sleep(100);
    const double e = Elapsed(1);
    EXPECT_GE(e, 5090);
    EXPECT_LT(e, 5400);
}

TEST_F(TimerTest, WaitTimerPastItsTargetOnlyRestarts) {
    Do(cmdStartTimer, {2});
    Sleep(1200);
    // Waiting a period of 1000 ms would take a second; restarting, nearly nothing.
    EXPECT_LT(Timed(cmdWaitTimer, {2, 1000}), 1000);
    EXPECT_LT(Elapsed(2), 1000);
    // Below the target it waits for the rest.
    const double reset = GetTimeSeconds();
    Do(cmdResetTimer, {2, 0});
    Do(cmdWaitTimer, {2, 200});
    EXPECT_GE((GetTimeSeconds() - reset) * 1000, 200 - 2);

    Do(cmdPauseTimer, {2});
    VmPushNumber(L, 2);
    VmPushNumber(L, 10);
    EXPECT_EQ(Call(cmdWaitTimer, 2), ERR_WRONGUSAGE);
    VmSetTop(L, 0);
    Do(cmdStopTimer, {2});
    VmPushNumber(L, 2);
    EXPECT_EQ(Call(cmdGetTimer, 1), ERR_FINDTIMER);
}

TEST_F(TimerTest, AutomaticIdsAreHandles) {
    VmPushNil(L);
    ASSERT_EQ(Call(cmdStartTimer, 1), 0);
    ASSERT_EQ(VmType(L, -1), kTypeLightUserdata);
    ASSERT_EQ(Call(cmdGetTimer, 1), 0);
    EXPECT_LT(Number(-1), 100);
    VmPushLightUserdata(L, &L);
    EXPECT_EQ(Call(cmdGetTimer, 1), ERR_FINDARRAY);
}

TEST_F(TimerTest, WaitCountsTicksSecondsAndMilliseconds) {
    EXPECT_LT(Timed(cmdWait, {0}), 950);
    const double ticks = Timed(cmdWait, {50});
    EXPECT_GE(ticks, 950);
    EXPECT_LT(ticks, 50000);  // ticks of 1/50 s, not seconds
    const double seconds = Timed(cmdWait, {2, 0});
    EXPECT_GE(seconds, 1950);
    EXPECT_LT(seconds, 100000);
    EXPECT_GE(Timed(cmdWait, {60, 1}), 55);
}

TEST_F(TimerTest, WaitsPassOnTheErrorOfTheWait) {
    // Without the timer thread the wait cannot start.
    StopTimerThread();
    VmPushNumber(L, 5);
    VmPushNumber(L, 1);
    EXPECT_EQ(Call(cmdWait, 2), ERR_TIMER);
    VmSetTop(L, 0);
    Do(cmdStartTimer, {3});
    VmPushNumber(L, 3);
    VmPushNumber(L, 500);
    EXPECT_EQ(Call(cmdWaitTimer, 2), ERR_TIMER);
    VmSetTop(L, 0);
    ASSERT_EQ(StartTimerThread(), 0);
}

TEST(SystemDates, CompareDatesByFields) {
    int r = -1;
    EXPECT_EQ(CompareDateTexts("05-mar-2016 09:04:01", "05-MAR-2016 09:04:02", false, &r), 0);
    EXPECT_EQ(r, 2);
    EXPECT_EQ(CompareDateTexts("06-Mar-2016", "05-Mar-2016", true, &r), 0);
    EXPECT_EQ(r, 1);
    EXPECT_EQ(CompareDateTexts("05-Mar-2016 10:00:00", "05-Mar-2016 09:00:00", false, &r), 0);
    EXPECT_EQ(r, 1);
    EXPECT_EQ(CompareDateTexts("05-Mar-2016", "05-Mar-2016", true, &r), 0);
    EXPECT_EQ(r, 0);
    EXPECT_EQ(CompareDateTexts("05-Mar-2016 09:04:0", "05-Mar-2016 09:04:01", false, &r), ERR_INVALIDDATE);
    EXPECT_EQ(CompareDateTexts("05-Mar-2016 09:04:01", "05-Mar-2016", false, &r), ERR_INVALIDDATE);
    EXPECT_EQ(CompareDateTexts("05-Mzr-2016", "05-Mar-2016", true, &r), ERR_INVALIDDATE);
}

TEST(SystemDates, YearsHaveFourDigitsOutsideThisCentury) {
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    setenv("TZ", "UTC", 1);
    tzset();
    const std::time_t in1999 = 922000000;  // 21-Mar-1999 07:06:40 UTC
    std::tm t{};
    localtime_r(&in1999, &t);
    EXPECT_EQ(FormatDate(t), "21-Mar-1999 07:06:40");
    EXPECT_EQ(DateNumOf(t, 0), 1999);
    EXPECT_EQ(DateNumOf(t, 1), 3);
    EXPECT_EQ(DateNumOf(t, 2), 21);
    EXPECT_EQ(DateNumOf(t, 3), 70640);
    EXPECT_EQ(DateNumOf(t, 9), 0);
    const std::time_t zero = 0;
    localtime_r(&zero, &t);
    EXPECT_EQ(FormatDate(t), "01-Jan-1970 00:00:00");
    char now[64];
    FormatCurrentDate(now, sizeof now);
    EXPECT_EQ(std::string(now).size(), 20u);
    if (old)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

TEST_F(SystemCallTest, TimeTextsHaveTheirLengths) {
    ASSERT_EQ(Call(cmdGetTime, 0), 0);
    EXPECT_EQ(Text(-1).size(), 5u);
    VmPushNumber(L, 1);
    ASSERT_EQ(Call(cmdGetTime, 1), 0);
    EXPECT_EQ(Text(-1).size(), 8u);
    VmPushNumber(L, 1);
    ASSERT_EQ(Call(cmdGetDate, 1), 0);
    EXPECT_EQ(Text(-1).size(), 20u);
    VmPushNumber(L, 0);
    ASSERT_EQ(Call(cmdGetDateNum, 1), 0);
    EXPECT_GE(Number(-1), 2000);
}

}  // namespace
