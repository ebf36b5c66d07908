// The dispatcher as scripts meet it: fairness between timers and input, one
// pointer move per walk, the empty record, nested waits, quits and timeouts.
#include "core/errcodes.h"
#include "core/timers.h"
#include "eventlib_fixture.h"

namespace {

class DispatchTest : public EventWorld {};


TEST_F(DispatchTest, FiredTimersAndAFloodOfClicksTakeTurns) {
    DefineEmitter("tick", "tick");
    DefineEmitter("down", "down");
    ASSERT_EQ(Install({{"onmousedown", "down"}}), 0);
    ASSERT_EQ(Call("setinterval", {"#1", "tick", "#10"}), 0);
    for (int i = 0; i < 40; ++i) Click(i, 1, true);
    for (int round = 0; round < 3; ++round) {
        out.clear();
        ASSERT_TRUE(WaitForFiring(CountTimerFirings()));
        ASSERT_EQ(Wait(), 0);
        ASSERT_EQ(Wait(), 0);
        ASSERT_EQ(out.size(), 2u);
        EXPECT_EQ(out[0], "tick Interval 1");
        EXPECT_EQ(out[1], "down OnMouseDown 1");
    }
    EXPECT_EQ(Call("clearinterval", {"#1"}), 0);
    EXPECT_EQ(Call("clearinterval", {"#1"}), ERR_FINDINTERVAL);
}

TEST_F(DispatchTest, PointerMovesReachTheScriptOncePerWalk) {
    DefineEmitter("move", "move", "x");
    DefineEmitter("key", "key", "key");
    ASSERT_EQ(Install({{"onmousemove", "move"}, {"onkeydown", "key"}}), 0);
    for (int i = 0; i < 3; ++i) Key('a' + i, true);
    d->view.mouseX = 7;
    // The fifth call finds nothing and ends the walk.
    for (int call = 0; call < 5; ++call) {
        d->view.mouseMoved = 1;
        ASSERT_EQ(Check(), 0);
    }
    std::vector<std::string> want = {"move OnMouseMove 7", "key OnKeyDown a", "key OnKeyDown b", "key OnKeyDown c"};
    EXPECT_EQ(out, want);
    out.clear();
    d->view.mouseMoved = 1;
    ASSERT_EQ(Check(), 0);
    EXPECT_EQ(out, std::vector<std::string>{"move OnMouseMove 7"});
}

// CheckEvent, then emit(triggered, action, nresults, and the fields named).
std::string CheckAndEmit(const std::vector<std::string>& fields) {
    std::string text = ".function main maxstack=10\n    GETGLOBAL 0 \"checkevent\"\n    CALL 0 1 2\n"
                       "    GETGLOBAL 1 \"emit\"\n    GETTABLE 2 0 \"triggered\"\n    GETTABLE 3 0 \"action\"\n"
                       "    GETTABLE 4 0 \"nresults\"\n";
    int r = 5;
    for (const std::string& f : fields) text += "    GETTABLE " + std::to_string(r++) + " 0 " + f + "\n";
    return text + "    CALL 1 " + std::to_string(r - 1) + " 1\n    RETURN 0 1\n.end\n";
}

TEST_F(DispatchTest, CheckEventWithNothingPendingGivesTheEmptyRecord) {
    ASSERT_EQ(Run(CheckAndEmit({"\"id\""})), 0);
    EXPECT_EQ(out, std::vector<std::string>{"0  0 0"});
}

TEST_F(DispatchTest, TheResultTableCarriesTheCallbacksResults) {
    Define("answer", "    LOADK 1 \"ok\"\n    LOADK 2 #5\n    RETURN 1 3\n");
    ASSERT_EQ(Install({{"onkeyup", "answer"}}), 0);
    Key(' ', false);
    // The first result: results[0] through a register of its own.
    std::string text = CheckAndEmit({"\"results\"", "\"key\""});
    text.replace(text.find("    GETTABLE 6 0"), 0, "    GETTABLE 5 5 #0\n");
    ASSERT_EQ(Run(text), 0);
    EXPECT_EQ(out, std::vector<std::string>{"1 OnKeyUp 2 ok  "});
}

TEST_F(DispatchTest, WaitEventInsideACallbackIsWrongUsage) {
    Define("nested", "    GETGLOBAL 1 \"waitevent\"\n    CALL 1 1 1\n    RETURN 0 1\n");
    ASSERT_EQ(Install({{"onkeydown", "nested"}}), 0);
    Key('x', true);
    EXPECT_EQ(Check(), ERR_WRONGUSAGE);
    // The failed callback leaves no callback running behind it.
    EXPECT_EQ(GetRuntimeTag(kTagCallbackNesting), 0);
}

TEST_F(DispatchTest, ATimeoutMaySetItsOwnIdAgain) {
    DefineEmitter("second", "second");
    Define("first", R"(    GETGLOBAL 1 "emit"
    LOADK 2 "first"
    CALL 1 2 1
    GETGLOBAL 1 "settimeout"
    LOADK 2 #4
    GETGLOBAL 3 "second"
    LOADK 4 #1
    CALL 1 4 1
    RETURN 0 1
)");
    ASSERT_EQ(Call("settimeout", {"#4", "first", "#1"}), 0);
    ASSERT_EQ(Wait(), 0);
    ASSERT_EQ(Wait(), 0);
    EXPECT_EQ(out, (std::vector<std::string>{"first", "second Timeout 4"}));
    // Both are gone once delivered.
    EXPECT_EQ(Call("cleartimeout", {"#4"}), ERR_FINDTIMEOUT);
}

TEST_F(DispatchTest, TimerArgumentsAreChecked) {
    DefineEmitter("tick", "tick");
    EXPECT_EQ(Call("setinterval", {"#1", "tick", "#0"}), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("settimeout", {"#1", "tick", "#-5"}), ERR_WRONGUSAGE);
    EXPECT_NE(Call("setinterval", {"#1", "#3", "#10"}), 0);
    EXPECT_EQ(Call("changeinterval", {"#9", "#10"}), ERR_FINDINTERVAL);
    ASSERT_EQ(Call("setinterval", {"#9", "tick", "#1000"}), 0);
    EXPECT_EQ(Call("changeinterval", {"#9", "#0"}), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("changeinterval", {"#9", "#20"}), 0);
}

TEST_F(DispatchTest, ACloseRequestWithoutHandlerEndsTheWaitAsAQuit) {
    Inject(kEventCloseRequest, 0, 0, 0);
    EXPECT_EQ(Wait(), ERR_USERABORT);
}

TEST_F(DispatchTest, ACloseRequestWithAHandlerReachesIt) {
    DefineEmitter("closing", "closing");
    ASSERT_EQ(Install({{"closewindow", "closing"}}), 0);
    EXPECT_TRUE(d->view.hasCloseHandler);
    null_backend::SetCloseHandler(d, true);
    Inject(kEventCloseRequest, 0, 0, 0);
    EXPECT_EQ(Wait(), 0);
    EXPECT_EQ(out, std::vector<std::string>{"closing CloseWindow 1"});
}

TEST_F(DispatchTest, AQuitFromTheAdapterEndsEveryDelivery) {
    DefineEmitter("key", "key", "key");
    ASSERT_EQ(Install({{"onkeydown", "key"}}), 0);
    qbAdapterInput in;
    in.display = d;
    in.words[0] = 'q';
    in.words[1] = 1;
    ASSERT_EQ(PostAdapterEvent(L, 4, in), 0);
    ASSERT_EQ(PostAdapterEvent(L, 0, in), 0);
    EXPECT_EQ(Check(), ERR_USERABORT);
}

TEST_F(DispatchTest, BreakEventHandlerStartsANewWalk) {
    DefineEmitter("move", "move", "x");
    ASSERT_EQ(Install({{"onmousemove", "move"}}), 0);
    d->view.mouseMoved = 1;
    ASSERT_EQ(Check(), 0);
    ASSERT_EQ(Call("breakeventhandler"), 0);
    ASSERT_EQ(Check(), 0);
    EXPECT_EQ(out.size(), 2u);
}

}  // namespace

namespace {

class LineHookTest : public EventWorld {
protected:
    void SetUp() override {
        EventWorld::SetUp();
        InstallLineHookPump(L);
    }
    void TearDown() override {
        SetLineHookDisabled(false);
        EventWorld::TearDown();
    }
    // An endless loop that only the line hook can end.
    static constexpr const char* kEndless = ".function main maxstack=2\n.line 1\nagain:\n    LOADK 0 #1\n"
                                            ".line 2\n    JMP again\n    RETURN 0 1\n.end\n";
};

TEST_F(LineHookTest, ACloseRequestEndsABusyScriptAsAQuit) {
    EXPECT_EQ(VmGetLineHookPeriod(L), 64);
    null_backend::ScriptEvent({d, kEventCloseRequest, 0, 0, 0});
    EXPECT_EQ(Run(kEndless), ERR_USERABORT);
}

TEST_F(LineHookTest, AfterAQuitEveryDeliveryEndsAsAQuit) {
    DefineEmitter("key", "key", "key");
    ASSERT_EQ(Install({{"onkeydown", "key"}}), 0);
    // The hook only pumps: the key waits in the queue for the script.
    null_backend::ScriptEvent({d, kEventKey, 1, 0, 'z'});
    null_backend::ScriptEvent({d, kEventCloseRequest, 0, 0, 0});
    EXPECT_EQ(Run(kEndless), ERR_USERABORT);
    EXPECT_TRUE(out.empty());
    ASSERT_EQ(Check(), ERR_USERABORT);
    EXPECT_EQ(out, std::vector<std::string>{"key OnKeyDown z"});
}

}  // namespace

// An hour's interval changed to a millisecond fires at the new period.
TEST_F(DispatchTest, ChangeIntervalTakesTheNewPeriod) {
    DefineEmitter("tick", "tick");
    const uint64_t seen = CountTimerFirings();
    ASSERT_EQ(Call("setinterval", {"#2", "tick", "#3600000"}), 0);
    ASSERT_EQ(Call("changeinterval", {"#2", "#1"}), 0);
    ASSERT_TRUE(WaitForFiring(seen));
    ASSERT_EQ(Wait(), 0);
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out[0], "tick Interval 2");
    EXPECT_EQ(Call("clearinterval", {"#2"}), 0);
}
