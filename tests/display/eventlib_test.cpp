// The handler table and the small commands of the event library: handlers
// installed by name, user event types, key texts and the adapter's input.
#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>

#include "command_call.h"
#include "core/errcodes.h"
#include "core/preproc.h"
#include "eventlib_fixture.h"
#include "queued_events.h"

namespace {

class EventLibTest : public EventWorld {};

TEST_F(EventLibTest, InstallEventHandlerChangesOnlyTheNamedSlots) {
    DefineEmitter("one", "one");
    DefineEmitter("two", "two");
    ASSERT_EQ(Install({{"onkeydown", "one"}, {"onkeyup", "one"}, {"onmousemove", "one"}}), 0);
    const int up = d->handlers[1].function;
    ASSERT_NE(up, -1);
    ASSERT_EQ(Install({{"onkeydown", "two"}}), 0);
    EXPECT_EQ(d->handlers[1].function, up);
    EXPECT_NE(d->handlers[2].function, -1);
    Key('k', true);
    ASSERT_EQ(Check(), 0);
    EXPECT_EQ(out, std::vector<std::string>{"two OnKeyDown 1"});
    ASSERT_EQ(Install({{"onkeydown", "#0"}}), 0);
    EXPECT_EQ(d->handlers[0].function, -1);
    EXPECT_EQ(d->handlers[1].function, up);
    EXPECT_EQ(Install({{"onkeyup", "\"text\""}}), ERR_FUNCEXPECTED);
}

TEST_F(EventLibTest, ReplacedAndRemovedHandlersAndTheirDataAreLetGo) {
    DefineEmitter("fa", "a");
    DefineEmitter("fb", "b");
    DefineEmitter("fc", "c");
    for (const char* name : {"ua", "uc"}) {
        VmPushNewTable(L);
        SetGlobal(name);
    }
    // A table of weak values sees each one go once nothing else holds it.
    const char* const watched[] = {"fa", "fb", "ua", "fc", "uc"};
    VmPushNewTable(L);
    VmPushNewTable(L);
    VmPushString(L, "__mode");
    VmPushString(L, "v");
    VmRawSet(L, -3);
    VmSetMetatable(L, -2);
    for (int i = 0; i < 5; ++i) {
        VmPushString(L, watched[i]);
        VmRawGet(L, kGlobalsIndex);
        VmRawSetIndex(L, -2, i + 1);
    }
    SetGlobal("seen");
    auto installWith = [&](const char* fields, const char* user) {
        return Run(std::string(".function main maxstack=6\n    GETGLOBAL 0 \"installeventhandler\"\n    NEWTABLE 1 0 4\n") +
                   fields + "    GETGLOBAL 2 \"" + user + "\"\n    CALL 0 3 1\n    RETURN 0 1\n.end\n");
    };
    auto forget = [&](std::initializer_list<const char*> names) {
        for (const char* name : names) {
            VmPushNil(L);
            SetGlobal(name);
        }
    };
    // Which watched values are still held, after a full collection.
    auto held = [&] {
        VmSetTop(L, 0);
        const int threshold = VmGetGcThreshold(L);
        VmSetGcThreshold(L, 0);
        VmSetGcThreshold(L, threshold);
        std::string out;
        VmPushString(L, "seen");
        VmRawGet(L, kGlobalsIndex);
        for (int i = 0; i < 5; ++i) {
            VmRawGetIndex(L, 1, i + 1);
            if (VmType(L, -1) != kTypeNil) out += std::string(out.empty() ? "" : " ") + watched[i];
            VmSetTop(L, 1);
        }
        VmSetTop(L, 0);
        return out;
    };
    ASSERT_EQ(installWith("    GETGLOBAL 2 \"fa\"\n    SETTABLE 1 \"onkeydown\" 2\n"
                          "    GETGLOBAL 2 \"fb\"\n    SETTABLE 1 \"onmusicend\" 2\n",
                          "ua"),
              0);
    forget({"fa", "fb", "ua"});
    EXPECT_EQ(held(), "fa fb ua fc uc");
    // A function replaced, with its data; the data stays with the other slot.
    ASSERT_EQ(installWith("    GETGLOBAL 2 \"fc\"\n    SETTABLE 1 \"onkeydown\" 2\n", "uc"), 0);
    forget({"fc", "uc"});
    EXPECT_EQ(held(), "fb ua fc uc");
    // Removed by a number: the function and its data.
    ASSERT_EQ(Install({{"onmusicend", "#0"}}), 0);
    EXPECT_EQ(held(), "fc uc");
    ASSERT_EQ(Install({{"onkeydown", "#0"}}), 0);
    EXPECT_EQ(held(), "");
}

TEST_F(EventLibTest, EachNetworkHandlerHoldsThePollIntervalWhileInstalled) {
    DefineEmitter("fn", "n");
    const ObjectID pollID{0, reinterpret_cast<void*>(uintptr_t{1})};
    auto polling = [&] { return HasTimer(kTimerRepeating, pollID); };
    EXPECT_FALSE(polling());
    for (const char* name : {"onconnect", "ondisconnect", "onreceivedata", "onreceiveudpdata"}) {
        ASSERT_EQ(Install({{name, "fn"}}), 0) << name;
        EXPECT_TRUE(polling()) << name;
        ASSERT_EQ(Install({{name, "#0"}}), 0) << name;
        EXPECT_FALSE(polling()) << name;
    }
    // With two network handlers the interval runs until both are gone.
    ASSERT_EQ(Install({{"onconnect", "fn"}, {"onreceivedata", "fn"}}), 0);
    ASSERT_EQ(Install({{"onconnect", "#0"}}), 0);
    EXPECT_TRUE(polling());
    ASSERT_EQ(Install({{"onreceivedata", "#0"}}), 0);
    EXPECT_FALSE(polling());
}

TEST_F(EventLibTest, KeyTextsNameTheSpecialKeys) {
    DefineEmitter("key", "key", "key");
    ASSERT_EQ(Install({{"onkeydown", "key"}}), 0);
    Key(272, true);  // TAB
    Key(271, true);  // BACKSPACE
    Key(284, true);  // PAGEDOWN
    Key(274, true);  // RETURN
    for (int i = 0; i < 4; ++i) ASSERT_EQ(Check(), 0);
    EXPECT_EQ(out, (std::vector<std::string>{"key OnKeyDown         ", "key OnKeyDown BACKSPACE",
                                             "key OnKeyDown PAGEDOWN", "key OnKeyDown \n"}));
    EXPECT_EQ(KeyCodeFromName("pause", false), 286);
    EXPECT_EQ(KeyCodeFromName("lshift", false), -1);
    EXPECT_EQ(KeyCodeFromName("LSHIFT", true), 0x80010000);
}

TEST_F(EventLibTest, UserEventTypesTakeNoBuiltInName) {
    EXPECT_EQ(RegisterUserEvent("OnKeyDown"), 0);
    EXPECT_EQ(RegisterUserEvent("ONKEYDOWN"), 0);
    EXPECT_EQ(RegisterUserEvent("runFinished"), 0);
    EXPECT_EQ(RegisterUserEvent("OnGadget"), 28);
    EXPECT_EQ(RegisterUserEvent("ongadget"), 0);
    EXPECT_EQ(RegisterUserEvent("OnOther"), 29);
    // A handler installed under the type's name receives its events.
    DefineEmitter("gadget", "gadget");
    ASSERT_EQ(Install({{"ongadget", "gadget"}}), 0);
    qbAdapterInput in;
    in.display = d;
    ASSERT_EQ(PostAdapterEvent(L, 28, in), 0);
    ASSERT_EQ(Check(), 0);
    EXPECT_EQ(out, std::vector<std::string>{"gadget OnGadget 1"});
}

TEST_F(EventLibTest, AdapterKeysOutsideTheStateArrayAreOnlyPosted) {
    qbAdapterInput in;
    in.display = d;
    in.words[1] = 1;
    for (int32_t code : {-1, -300, 300, 1 << 30}) {
        in.words[0] = code;
        EXPECT_EQ(PostAdapterEvent(L, 4, in), 0);
    }
    in.words[0] = 299;
    EXPECT_EQ(PostAdapterEvent(L, 4, in), 0);
    EXPECT_EQ(d->keyState[299], 1);
    in.display = nullptr;
    EXPECT_EQ(PostAdapterEvent(L, 4, in), ERR_FINDDISPLAY);
}

TEST_F(EventLibTest, AnAdapterResizeReachesTheDisplayAndThenTheScript) {
    DefineEmitter("sized", "sized", "width");
    ASSERT_EQ(Install({{"sizewindow", "sized"}}), 0);
    qbAdapterInput in;
    in.display = d;
    in.words[0] = 80;
    in.words[1] = 20;
    ASSERT_EQ(PostAdapterEvent(L, 6, in), 0);
    EXPECT_EQ(d->width, 80);
    EXPECT_EQ(d->height, 20);
    ASSERT_EQ(Check(), 0);
    EXPECT_EQ(out, std::vector<std::string>{"sized SizeWindow 80"});
    in.words[0] = -4;
    EXPECT_NE(PostAdapterEvent(L, 6, in), 0);
    EXPECT_EQ(d->width, 80);
}

TEST_F(EventLibTest, TheQuitSwitchesEndTheScriptOnAdapterInput) {
    qbAdapterInput in;
    in.display = d;
    in.words[0] = 275;  // ESC
    in.words[1] = 1;
    ASSERT_EQ(PostAdapterEvent(L, 4, in), 0);
    EXPECT_EQ(Check(), 0);
    ASSERT_EQ(Call("escapequit", {"#1"}), 0);
    ASSERT_EQ(PostAdapterEvent(L, 4, in), 0);
    EXPECT_EQ(Check(), ERR_USERABORT);
    ASSERT_EQ(Call("escapequit", {"#0"}), 0);
}

// Each quit switch ends the script on its own input only: ESC pressed, C
// pressed with either CONTROL key, the left button pressed; never on a
// release, another key or button, or another qualifier.
TEST_F(EventLibTest, EachQuitSwitchEndsTheScriptOnItsOwnInputOnly) {
    constexpr int32_t kLControl = static_cast<int32_t>(0x80400000u);
    constexpr int32_t kRControl = static_cast<int32_t>(0x80800000u);
    constexpr int32_t kLCommand = static_cast<int32_t>(0x80100000u);
    constexpr int32_t kQualifierBit = static_cast<int32_t>(0x80000000u);
    struct Input {
        const char* name;
        int kind;
        int32_t words[4];
        const char* switchName;  // the switch it quits under, or ""
    };
    const Input inputs[] = {
        {"ESC down", 4, {275, 1, 0, 0}, "escapequit"},
        {"ESC down with CONTROL", 4, {275, 1, kLControl, 0}, "escapequit"},
        {"ESC up", 4, {275, 0, 0, 0}, ""},
        {"RETURN down", 4, {274, 1, 0, 0}, ""},
        {"c with LCONTROL", 4, {'c', 1, kLControl, 0}, "ctrlcquit"},
        {"C with RCONTROL", 4, {'C', 1, kRControl, 0}, "ctrlcquit"},
        {"c up with LCONTROL", 4, {'c', 0, kLControl, 0}, ""},
        {"c alone", 4, {'c', 1, 0, 0}, ""},
        {"c with the qualifier bit alone", 4, {'c', 1, kQualifierBit, 0}, ""},
        {"c with COMMAND", 4, {'c', 1, kLCommand, 0}, ""},
        {"d with LCONTROL", 4, {'d', 1, kLControl, 0}, ""},
        {"b with RCONTROL", 4, {'b', 1, kRControl, 0}, ""},
        {"left down", 3, {4, 5, 1, 1}, "leftmousequit"},
        {"left up", 3, {4, 5, 1, 0}, ""},
        {"right down", 3, {4, 5, 2, 1}, ""},
        {"middle down", 3, {4, 5, 3, 1}, ""},
        {"pointer move", 3, {4, 5, 0, 1}, ""},
    };
    auto quits = [&](const Input& input) {
        qbAdapterInput in;
        in.display = d;
        std::copy(std::begin(input.words), std::end(input.words), in.words);
        EXPECT_EQ(PostAdapterEvent(L, input.kind, in), 0);
        int err = 0;
        for (int i = 0; i < 4 && err == 0; ++i) err = Check();
        SetEventQuitRequested(false);
        EXPECT_EQ(Call("freeeventcache"), 0);
        return err == ERR_USERABORT;
    };
    for (const char* on : {"", "escapequit", "ctrlcquit", "leftmousequit"}) {
        SCOPED_TRACE(*on ? on : "no switch");
        if (*on) {
            ASSERT_EQ(Call(on, {"#1"}), 0);
        }
        for (const Input& input : inputs) EXPECT_EQ(quits(input), *on && std::string(on) == input.switchName) << input.name;
        if (*on) {
            ASSERT_EQ(Call(on, {"#0"}), 0);
        }
    }
}

// Each kind of adapter input queues its own event for its display, or is
// refused with its code: a button of 1 to 3 only, the pointer's place
// without an event, the window's close, place and activation.
TEST_F(EventLibTest, EachAdapterInputKindQueuesItsOwnEvent) {
    auto post = [&](int kind, std::initializer_list<int32_t> words, qbDisplay* to) {
        EXPECT_EQ(Call("freeeventcache"), 0);
        qbAdapterInput in;
        in.display = to;
        std::copy(words.begin(), words.end(), in.words);
        return PostAdapterEvent(L, kind, in);
    };
    auto only = [&](uint32_t type) {
        const std::vector<qbInputEvent> queued = QueuedEvents();
        EXPECT_EQ(queued.size(), 1u) << type;
        if (queued.empty()) return qbInputEvent{};
        EXPECT_EQ(queued[0].type, type);
        EXPECT_EQ(queued[0].display, d);
        return queued[0];
    };
    EXPECT_EQ(post(3, {21, 13, 0, 1}, d), 0);
    EXPECT_TRUE(QueuedEvents().empty());
    EXPECT_EQ(d->view.mouseX, 21);
    EXPECT_EQ(d->view.mouseY, 13);
    const uint32_t buttons[] = {kEventLeftButton, kEventRightButton, kEventMiddleButton};
    for (int32_t button = 1; button <= 3; ++button) {
        SCOPED_TRACE(button);
        ASSERT_EQ(post(3, {4 + button, 9, button, 1}, d), 0);
        const qbInputEvent e = only(buttons[button - 1]);
        EXPECT_EQ(e.x, 4 + button);
        EXPECT_EQ(e.y, 9);
        EXPECT_EQ(e.state, 1);
        EXPECT_EQ(d->lastButtonWord[button - 1], 1);
        ASSERT_EQ(post(3, {4, 9, button, 0}, d), 0);
        EXPECT_EQ(d->lastButtonWord[button - 1], 0);
    }
    for (int32_t button : {-1, 4}) EXPECT_EQ(post(3, {4, 9, button, 1}, d), ERR_WRONGUSAGE) << button;
    ASSERT_EQ(post(5, {}, d), 0);
    only(kEventCloseRequest);
    ASSERT_EQ(post(7, {31, 47}, d), 0);
    only(kEventMoved);
    EXPECT_EQ(d->x, 31);
    EXPECT_EQ(d->y, 47);
    ASSERT_EQ(post(9, {1}, d), 0);
    only(kEventActivated);
    ASSERT_EQ(post(9, {0}, d), 0);
    only(kEventDeactivated);
    // The kinds between the window's and the user types are no kinds.
    for (int kind : {-1, 10, 27}) EXPECT_EQ(post(kind, {}, d), ERR_WRONGUSAGE) << kind;
    // A window's input needs its display; a wake does not.
    for (int kind : {3, 4, 5, 6, 7, 8, 9}) EXPECT_EQ(post(kind, {}, nullptr), ERR_FINDDISPLAY) << kind;
    EXPECT_EQ(post(2, {}, nullptr), 0);
    EXPECT_TRUE(QueuedEvents().empty());
}

int called = 0;
int CountCall(ScriptState*, void* argument) {
    called += *static_cast<int*>(argument);
    return 0;
}

TEST_F(EventLibTest, AdapterInputCallsTogglesAndHides) {
    // A call request runs in the dispatcher, on the script's thread.
    int step = 3;
    qbAdapterInput call;
    call.call[0] = reinterpret_cast<void*>(&CountCall);
    call.call[1] = &step;
    called = 0;
    ASSERT_EQ(PostAdapterEvent(L, 1, call), 0);
    ASSERT_EQ(Check(), 0);
    EXPECT_EQ(called, 3);
    // RETURN released with a command key asks for the full-screen toggle,
    // unless the display refuses mode switches.
    qbAdapterInput key;
    key.display = d;
    key.words[0] = 274;
    key.words[2] = static_cast<int32_t>(0x80100000u);
    ASSERT_EQ(PostAdapterEvent(L, 4, key), 0);
    auto queued = QueuedEvents();
    ASSERT_EQ(queued.size(), 2u);
    EXPECT_EQ(queued[1].type, kEventFullScreenToggle);
    ASSERT_EQ(Call("freeeventcache"), 0);
    d->flags |= kDispNoModeSwitch;
    ASSERT_EQ(PostAdapterEvent(L, 4, key), 0);
    EXPECT_EQ(QueuedEvents().size(), 1u);
    // Hidden and shown again.
    qbAdapterInput show;
    show.display = d;
    ASSERT_EQ(PostAdapterEvent(L, 8, show), 0);
    EXPECT_TRUE(d->flags & kDisplayHidden);
    show.words[0] = 1;
    ASSERT_EQ(PostAdapterEvent(L, 8, show), 0);
    EXPECT_FALSE(d->flags & kDisplayHidden);
    EXPECT_EQ(d->state, DISPSTATE_OPEN);
}

TEST_F(EventLibTest, SmallCommandsRefuseBadArguments) {
    EXPECT_EQ(Call("sendmessage", {"\"port\"", "\"\""}), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("sendmessage", {"\"port\"", "\"two words\""}), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("sendmessage", {"\"nowhere\"", "\"run\"", "\"a b\""}), ERR_FINDPORT);
    EXPECT_EQ(Call("seteventtimeout", {"#-1"}), ERR_WRONGUSAGE);
    // Input older than the time-out is dropped before the script sees it.
    ASSERT_EQ(Call("seteventtimeout", {"#0"}), 0);
    Key('k', true);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    PurgeStaleEvents(L);
    EXPECT_TRUE(QueuedEvents().empty());
    ASSERT_EQ(Call("seteventtimeout", {"#60000"}), 0);
}

TEST_F(EventLibTest, JoyFireTakesTheButtonsOfThirtyTwoBits) {
    EXPECT_EQ(Call("joyfire", {"#0", "#33"}), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("joyfire", {"#0", "#-1"}), ERR_WRONGUSAGE);
    EXPECT_NE(Call("joyfire", {"#0", "#32"}), ERR_WRONGUSAGE);
    EXPECT_NE(Call("joyfire", {"#0", "#0"}), ERR_WRONGUSAGE);
}

TEST_F(EventLibTest, ThePointerIsReadInDisplayPixels) {
    d->view.mouseX = 30;
    d->view.mouseY = 12;
    d->view.offsetX = 10;
    d->scaleX = 2.0;
    ASSERT_EQ(Run(R"(.function main maxstack=6
    GETGLOBAL 0 "emit"
    GETGLOBAL 1 "mousex"
    CALL 1 1 2
    GETGLOBAL 2 "mousey"
    CALL 2 1 2
    CALL 0 3 1
    RETURN 0 1
.end
)"),
              0);
    EXPECT_EQ(out, std::vector<std::string>{"10 12"});
}

}  // namespace

// Every word after the command must be text, the last one too, before the
// port is looked for.
TEST_F(EventLibTest, SendMessageChecksEveryArgumentBeforeThePort) {
    VmSetTop(L, 0);
    for (const char* s : {"port", "cmd", "one"}) VmPushString(L, s);
    EXPECT_EQ(CallCommand(L, "SendMessage", 3, 0), ERR_FINDPORT);
    VmSetTop(L, 0);
    for (const char* s : {"port", "cmd", "one"}) VmPushString(L, s);
    VmPushNewTable(L);
    EXPECT_EQ(CallCommand(L, "SendMessage", 4, 0), ERR_STREXPECTED);
    VmSetTop(L, 0);
}
