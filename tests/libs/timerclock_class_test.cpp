// Every timer, interval, time-out and wait as a script measures it, on a
// clock the test moves by hand: periods in the units each command names,
// firings at every period and not before, and waits that last exactly as
// long as asked. Scripts call the commands through the VM; the callbacks
// read a stopwatch timer that runs on the same clock.
#include <string>
#include <vector>

#include "core/errcodes.h"
#include "core/timerthread.h"
#include "core/virtual_timer_clock.h"
#include "display/eventlib_fixture.h"
#include "libs/system.h"

namespace {

using timerclock::Advance;
using timerclock::WhileWaiting;
using Lines = std::vector<std::string>;

class TimerClockClassTest : public EventWorld {
protected:
    void SetUp() override {
        timerclock::Install();
        EventWorld::SetUp();
        VmPushValue(L, kGlobalsIndex);
        ASSERT_EQ(InitSystemLibrary(L), 0);
        VmSetTop(L, 0);
    }
    void TearDown() override {
        FreeSystemObjects(L);
        EventWorld::TearDown();
        timerclock::Uninstall();
    }

    // A callback that emits its tag, what stopwatch timer 1 reads in it and
    // the message's userdata (a message without one has no such field).
    void DefineReader(const char* name, const char* tag, bool userData) {
        Define(name, std::string("    GETGLOBAL 1 \"emit\"\n    LOADK 2 \"") + tag +
                         "\"\n    GETGLOBAL 3 \"gettimer\"\n    LOADK 4 #1\n    CALL 3 2 2\n" +
                         (userData ? "    GETTABLE 4 0 \"userdata\"\n    CALL 1 4 1\n" : "    CALL 1 3 1\n") +
                         "    RETURN 0 1\n");
    }
    // What the timer reads, or -error.
    double Timer(int id) {
        if (int err = Call("gettimer", {"#" + std::to_string(id)})) return -err;
        return VmToNumber(L, 1);
    }
    // The callbacks the dispatcher delivers now, in order.
    Lines Delivered() {
        out.clear();
        EXPECT_EQ(Call("checkevents"), 0);
        return out;
    }
    void Do(const char* command, const std::vector<std::string>& args) { ASSERT_EQ(Call(command, args), 0) << command; }
};

TEST_F(TimerClockClassTest, IntervalsFireAtEveryPeriodAndNotBefore) {
    DefineReader("tick", "i", true);
    Do("starttimer", {"#1"});
    Do("setinterval", {"#1", "tick", "#100", "\"u\""});
    Advance(99);
    EXPECT_EQ(Delivered(), Lines{});
    for (int n = 1; n <= 3; ++n) {
        Advance(1);
        EXPECT_EQ(Delivered(), Lines{"i " + std::to_string(100 * n) + " u"}) << n;
        Advance(99);
        EXPECT_EQ(Delivered(), Lines{}) << n;
    }
    // At 399: the new period counts from now, the old grid is gone.
    Do("changeinterval", {"#1", "#250"});
    Advance(1);
    EXPECT_EQ(Delivered(), Lines{});
    Advance(248);
    EXPECT_EQ(Delivered(), Lines{});
    Advance(1);
    EXPECT_EQ(Delivered(), Lines{"i 649 u"});
    Advance(250);
    EXPECT_EQ(Delivered(), Lines{"i 899 u"});
    Do("clearinterval", {"#1"});
    Advance(1000);
    EXPECT_EQ(Delivered(), Lines{});
    EXPECT_EQ(Call("clearinterval", {"#1"}), ERR_FINDINTERVAL);
}

TEST_F(TimerClockClassTest, TimeoutsFireOnceAtTheirTime) {
    DefineReader("once", "t", false);
    DefineReader("given", "g", true);
    Do("starttimer", {"#1"});
    Do("settimeout", {"#2", "once", "#250"});
    Do("settimeout", {"#3", "once", "#100", "#7"});
    Do("cleartimeout", {"#3"});
    Advance(249);
    EXPECT_EQ(Delivered(), Lines{});
    Advance(1);
    EXPECT_EQ(Delivered(), Lines{"t 250"});
    Advance(5000);
    EXPECT_EQ(Delivered(), Lines{});
    // An automatic id; a fraction of a millisecond is dropped.
    Do("settimeout", {"nil", "given", "#40.9", "#7"});
    Advance(39);
    EXPECT_EQ(Delivered(), Lines{});
    Advance(1);
    EXPECT_EQ(Delivered(), Lines{"g 5290 7"});
}

TEST_F(TimerClockClassTest, StopwatchesCountMillisecondsWhileRunning) {
    Do("starttimer", {"#1"});
    timerclock::AdvanceMicros(1234999);
    EXPECT_EQ(Timer(1), 1234);  // whole milliseconds, cut
    Do("resettimer", {"#1"});
    EXPECT_EQ(Timer(1), 0);
    Advance(300);
    Do("pausetimer", {"#1"});
    Do("pausetimer", {"#1"});
    Advance(1000);
    EXPECT_EQ(Timer(1), 300);
    Do("resumetimer", {"#1"});
    Do("resumetimer", {"#1"});
    Advance(50);
    EXPECT_EQ(Timer(1), 350);
    // A start given to ResetTimer; a paused timer runs from it.
    Do("pausetimer", {"#1"});
    Do("resettimer", {"#1", "#5000"});
    Advance(100);
    EXPECT_EQ(Timer(1), 5100);
    // StartTimer on a running id starts it again from zero.
    Do("starttimer", {"#1"});
    Advance(7);
    EXPECT_EQ(Timer(1), 7);
    Do("stoptimer", {"#1"});
    EXPECT_EQ(Timer(1), -ERR_FINDTIMER);
}

TEST_F(TimerClockClassTest, WaitsLastTheirUnitsOnTheClock) {
    Do("starttimer", {"#1"});
    struct Case {
        std::vector<std::string> args;
        double ms;
    } cases[] = {
        {{"#50"}, 1000},       // ticks of 1/50 s by default
        {{"#2.5", "#2"}, 50},  // #TICKS
        {{"#2", "#0"}, 2000},  // #SECONDS
        {{"#60", "#1"}, 60},   // #MILLISECONDS
        {{"#0"}, 0},
        {{"#0.5", "#0"}, 0},  // below 1 of any unit: no wait
    };
    double at = 0;
    for (const Case& c : cases) {
        WhileWaiting([&] { ASSERT_EQ(Call("wait", c.args), 0); });
        at += c.ms;
        EXPECT_EQ(Timer(1), at) << c.args[0];
    }
}

TEST_F(TimerClockClassTest, WaitTimerWaitsForWhatIsLeft) {
    Do("starttimer", {"#1"});
    Do("starttimer", {"#2"});
    Advance(300);
    WhileWaiting([&] { Do("waittimer", {"#2", "#1000"}); });
    EXPECT_EQ(Timer(1), 1000);
    EXPECT_EQ(Timer(2), 0);  // restarted
    Advance(10);
    WhileWaiting([&] { Do("waittimer", {"#2", "#500", "#0"}); });
    EXPECT_EQ(Timer(1), 1500);
    EXPECT_EQ(Timer(2), 500);  // not restarted
    // Past its target it does not wait, and restarts.
    Advance(700);
    WhileWaiting([&] { Do("waittimer", {"#2", "#1000"}); });
    EXPECT_EQ(Timer(1), 2200);
    EXPECT_EQ(Timer(2), 0);
    Do("pausetimer", {"#2"});
    WhileWaiting([&] { EXPECT_EQ(Call("waittimer", {"#2", "#10"}), ERR_WRONGUSAGE); });
}

TEST_F(TimerClockClassTest, IntervalsKeepTheirGridThroughAWait) {
    DefineReader("tick", "i", false);
    Do("starttimer", {"#1"});
    Do("setinterval", {"#1", "tick", "#300"});
    // The wait pumps but delivers nothing; the firings it saw coalesce into
    // one, and the grid stays at multiples of the period.
    WhileWaiting([&] { Do("wait", {"#1", "#0"}); });
    EXPECT_EQ(Timer(1), 1000);
    EXPECT_EQ(Delivered(), Lines{"i 1000"});
    Advance(199);
    EXPECT_EQ(Delivered(), Lines{});
    Advance(1);
    EXPECT_EQ(Delivered(), Lines{"i 1200"});
}

}  // namespace
