// Sources beyond the input queue, fed through fake hooks: sound and program
// ends, network objects, command messages; plugin user types that call the
// script themselves; the timer adapter.
#include "core/errcodes.h"
#include "core/extprogram.h"
#include "core/plugin.h"
#include "core/soundevents.h"
#include "display/eventsources.h"
#include "display/pollinterval.h"
#include "eventlib_fixture.h"
#include "player/startup.h"

namespace {

// Two connections with data, the second one also closed; each condition is
// reported once.
struct FakeNet {
    bool data[2] = {true, true};
    bool closed[2] = {false, true};
    std::vector<qbRunningProgram*> freedRuns;
} net;

bool NextFlag(bool* flags, size_t* cursor, ObjectID* id) {
    for (; *cursor < 2; ++*cursor) {
        if (!flags[*cursor]) continue;
        flags[*cursor] = false;
        *id = ObjectID{static_cast<int32_t>(*cursor + 1), nullptr};
        ++*cursor;
        return true;
    }
    return false;
}
bool NextData(size_t* cursor, ObjectID* id) { return NextFlag(net.data, cursor, id); }
bool NextClosed(size_t* cursor, ObjectID* id) { return NextFlag(net.closed, cursor, id); }
void FreeRun(ScriptState*, qbRunningProgram* run) { net.freedRuns.push_back(run); }

class EventSourcesTest : public EventWorld {
protected:
    void SetUp() override {
        EventWorld::SetUp();
        ClearSoundEvents();
        net = FakeNet{};
        qbEventSourceHooks hooks;
        hooks.nextConnectionData = NextData;
        hooks.nextConnectionClosed = NextClosed;
        hooks.freeRun = FreeRun;
        SetEventSourceHooks(hooks);
    }
    void TearDown() override {
        SetEventSourceHooks(qbEventSourceHooks{});
        ClearSoundEvents();
        EventWorld::TearDown();
    }
    void Drain() {
        for (int i = 0; i < 8; ++i) ASSERT_EQ(Check(), 0);
    }
};

TEST_F(EventSourcesTest, SoundAndProgramEndsReachTheirHandlersOrAreDropped) {
    DefineEmitter("ended", "ended", "time");
    DefineEmitter("music", "music");
    ASSERT_EQ(Install({{"onsampleend", "ended"}, {"onmusicend", "music"}}), 0);
    qbRunningProgram run;
    ASSERT_EQ(PushSoundEvent(kSoundEventSampleLoop, ObjectID{1, nullptr}, 5, 1, 0, 0), 0);  // no handler
    ASSERT_EQ(PushSoundEvent(kSoundEventRunFinished, ObjectID{0, &run}, 0, 0, 0, 0), 0);    // no handler
    ASSERT_EQ(PushSoundEvent(kSoundEventSampleEnd, ObjectID{2, nullptr}, 440, 3, 0, 0), 0);
    ASSERT_EQ(PushSoundEvent(kSoundEventMusicEnd, ObjectID{3, nullptr}, 9, 9, 0, 0), 0);
    Drain();
    ASSERT_EQ(out, (std::vector<std::string>{"ended OnSampleEnd 440", "music OnMusicEnd 3"}));
    EXPECT_EQ(net.freedRuns, std::vector<qbRunningProgram*>{&run});

    // A finished program with its handler: the record goes after the call.
    out.clear();
    DefineEmitter("finished", "finished", "program");
    ASSERT_EQ(Install({{"runfinished", "finished"}, {"onmusicend", "#0"}}), 0);
    run.program = "/bin/true";
    ASSERT_EQ(PushSoundEvent(kSoundEventRunFinished, ObjectID{0, &run}, 0, 0, 0, 0), 0);
    Drain();
    EXPECT_EQ(out, std::vector<std::string>{"finished RunFinished /bin/true"});
    EXPECT_EQ(net.freedRuns.size(), 2u);
}

// A script-fed music that always lacks 100 frames.
bool AlwaysShort(ObjectID* id, int32_t* samples, int32_t* count) {
    *id = ObjectID{7, nullptr};
    *samples = 100;
    *count = 0;
    return true;
}

TEST_F(EventSourcesTest, AMusicRequestIsPacedByTicksTheTimerWalkMayTakeFirst) {
    qbEventSourceHooks hooks = GetEventSourceHooks();
    hooks.findMusicNeedingData = AlwaysShort;
    SetEventSourceHooks(hooks);
    DefineEmitter("fill", "fill", "samples");
    ASSERT_EQ(AcquirePollInterval(L, 0), 0);
    // With no handler yet, the walk's timers take the tick; the request
    // made once the handler is there still has it.
    ASSERT_TRUE(WaitForFiring(CountTimerFirings()));
    ASSERT_EQ(Check(), 0);
    EXPECT_TRUE(out.empty());
    ASSERT_EQ(Install({{"fillmusicbuffer", "fill"}}), 0);
    ASSERT_EQ(Check(), 0);
    EXPECT_EQ(out, std::vector<std::string>{"fill FillMusicBuffer 100"});
    ReleasePollInterval(L, 0);
}

TEST_F(EventSourcesTest, NetworkConditionsAreDeliveredOnceEach) {
    DefineEmitter("data", "data");
    DefineEmitter("gone", "gone");
    ASSERT_EQ(Install({{"onreceivedata", "data"}, {"ondisconnect", "gone"}}), 0);
    Drain();
    EXPECT_EQ(out, (std::vector<std::string>{"data OnReceiveData 1", "data OnReceiveData 2", "gone OnDisconnect 2"}));
}

TEST_F(EventSourcesTest, ACommandMessageIsSplitAndItsHandlerAnswers) {
    Define("answer", R"(    GETGLOBAL 1 "emit"
    GETTABLE 2 0 "command"
    GETTABLE 3 0 "argc"
    GETTABLE 4 0 "rawargs"
    GETTABLE 5 0 "args"
    CALL 1 5 1
    LOADK 1 "ok"
    RETURN 1 2
)");
    qbEventMessage msg;
    msg.type = kMsgCommandMessage;
    VmPushString(L, "answer");
    VmRawGet(L, kGlobalsIndex);
    msg.function = VmMakeRef(L, kRegistryIndex);
    msg.text = "run \"a b\" c";
    ASSERT_EQ(DeliverEvent(L, &msg, false), 0);
    EXPECT_EQ(out, std::vector<std::string>{"run 2 \"a b\" c " + std::string("a b\0c", 5)});
    EXPECT_EQ(msg.reply, "ok");
    VmReleaseRef(L, kRegistryIndex, msg.function);
}

// A plugin type that calls the script itself: its hooks push the "gadget"
// function with the event's number, then learn that the call is over.
int calls = 0;
int afterCalls = 0;
int frees = 0;
int PushGadget(ScriptState* L, int, void* data) {
    ++calls;
    VmPushString(L, "gadget");
    VmRawGet(L, kGlobalsIndex);
    VmPushNumber(L, *static_cast<int*>(data));
    return 1;
}
void AfterGadget(ScriptState*, int, void*) { ++afterCalls; }
void FreeGadget(ScriptState*, int, void*) { ++frees; }

TEST_F(EventSourcesTest, AUserTypeThatCallsTheScriptIsNotATriggeredEvent) {
    calls = afterCalls = frees = 0;
    Define("gadget", "    GETGLOBAL 1 \"emit\"\n    MOVE 2 0\n    CALL 1 2 1\n    RETURN 0 1\n");
    qbUserEventHooks hooks;
    hooks.call = PushGadget;
    hooks.afterCall = AfterGadget;
    hooks.freeData = FreeGadget;
    const int type = RegisterUserEvent("OnGadget", 1, &hooks, 0);
    ASSERT_EQ(type, kFirstUserEventType);
    int value = 7;
    ASSERT_EQ(DeliverUserEventNow(L, type, &value), 0);
    EXPECT_EQ(out, std::vector<std::string>{"7"});
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(afterCalls, 1);
    EXPECT_EQ(frees, 1);
    // Through the queue the runner reports no triggered event.
    qbAdapterInput in;
    in.display = d;
    in.block = &value;
    ASSERT_EQ(PostAdapterEvent(L, type, in), 0);
    ASSERT_EQ(Run(R"(.function main maxstack=8
    GETGLOBAL 0 "checkevent"
    CALL 0 1 2
    GETGLOBAL 1 "emit"
    GETTABLE 2 0 "triggered"
    CALL 1 2 1
    RETURN 0 1
.end
)"),
              0);
    EXPECT_EQ(out, (std::vector<std::string>{"7", "7", "0"}));
    EXPECT_EQ(frees, 2);
    // An event the queue drops unread is freed through the hook too.
    ASSERT_EQ(PostAdapterEvent(L, type, in), 0);
    ASSERT_EQ(Call("freeeventcache"), 0);
    EXPECT_EQ(frees, 3);
    EXPECT_EQ(GetUserEventHandler("ongadget", nullptr), -1);
}

// A timer adapter whose timers fire only when the test says so.
uintptr_t nextHandle = 0;
std::vector<uintptr_t> freedTimers;
uintptr_t RegisterFakeTimer(ScriptState*, int32_t, int) { return ++nextHandle; }
void FreeFakeTimer(uintptr_t handle) { freedTimers.push_back(handle); }

TEST_F(EventSourcesTest, ATimerAdapterServesIntervalsAndTimeouts) {
    const qbTimerAdapterSlots slots{RegisterFakeTimer, FreeFakeTimer};
    qbPlugin plugin;
    plugin.capabilities = PLUGINCAPS_TIMERADAPTER;
    plugin.timerSlots = &slots;
    EXPECT_EQ(SetTimerAdapter(&plugin, 0), ERR_SETADAPTER);  // outside start-up
    SetAdapterWindowOpen(true);
    ASSERT_EQ(SetTimerAdapter(&plugin, 0), 0);
    SetAdapterWindowOpen(false);
    nextHandle = 0;
    freedTimers.clear();
    DefineEmitter("tick", "tick");
    ASSERT_EQ(Call("setinterval", {"#1", "tick", "#10"}), 0);
    ASSERT_EQ(Call("settimeout", {"#2", "tick", "#10"}), 0);
    FireAdapterTimer(L, 1);
    FireAdapterTimer(L, 2);
    FireAdapterTimer(L, 2);  // gone with its first firing
    EXPECT_EQ(out, (std::vector<std::string>{"tick Interval 1", "tick Timeout 2"}));
    EXPECT_EQ(freedTimers, std::vector<uintptr_t>{2});
    // A new period is a new timer; the old one goes only once that exists.
    ASSERT_EQ(Call("changeinterval", {"#1", "#20"}), 0);
    ASSERT_EQ(Call("clearinterval", {"#1"}), 0);
    EXPECT_EQ(freedTimers, (std::vector<uintptr_t>{2, 1, 3}));
}

TEST_F(EventSourcesTest, ACallbackThatChecksEventsLeavesNoCallbackRunning) {
    Define("nested", "    GETGLOBAL 1 \"checkevent\"\n    CALL 1 1 1\n    RETURN 0 1\n");
    DefineEmitter("key", "key", "key");
    ASSERT_EQ(Install({{"onkeydown", "nested"}, {"onkeyup", "key"}}), 0);
    Key('a', true);
    Key('a', false);
    ASSERT_EQ(Check(), 0);
    EXPECT_EQ(out, std::vector<std::string>{"key OnKeyUp a"});
    EXPECT_EQ(GetRuntimeTag(kTagCallbackNesting), 0);
    // So the script may wait again.
    Key('b', false);
    EXPECT_EQ(Wait(), 0);
}

}  // namespace
