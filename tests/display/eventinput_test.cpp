// The commands that wait on or read the input state: the button waits, the
// dispatch of every pending event, the button and key reads and forgetting
// them, the quit switches and the joysticks. Each wait is ended by an event
// the test queued, and the events left over tell how far the wait went; where
// a wrong wait could outlast them, a close behind them ends it as a quit.
#include <SDL.h>

#include <functional>

#include "core/errcodes.h"
#include "sdl_eventworld.h"
#include "platform/linux/sdl_backend.h"
#include "queued_events.h"

namespace {

// emit(IsKeyDown("k"), IsLeftMouse(), IsRightMouse(), IsMidMouse())
const char* const kReadStates = R"(.function main maxstack=8
    GETGLOBAL 0 "emit"
    GETGLOBAL 1 "iskeydown"
    LOADK 2 "k"
    CALL 1 2 2
    GETGLOBAL 2 "isleftmouse"
    CALL 2 1 2
    GETGLOBAL 3 "isrightmouse"
    CALL 3 1 2
    GETGLOBAL 4 "ismidmouse"
    CALL 4 1 2
    CALL 0 5 1
    RETURN 0 1
.end
)";

class EventInputTest : public EventWorld {
protected:
    void Script(uint32_t type, int32_t a, int32_t b, int32_t c) { null_backend::ScriptEvent({d, type, a, b, c}); }
};

TEST_F(EventInputTest, WaitMidMouseTakesThePressAndReleaseThenFlushes) {
    Script(kEventMiddleButton, 3, 3, 1);
    Script(kEventKey, 1, 0, 'k');
    Script(kEventMiddleButton, 3, 3, 0);
    Script(kEventCloseRequest, 0, 0, 0);
    ASSERT_EQ(Call("waitmidmouse"), 0);
    EXPECT_EQ(null_backend::PendingScriptedEvents(), 1u) << "the wait ended before the release";
    EXPECT_TRUE(QueuedEvents().empty()) << "the key pressed meanwhile is still queued";
    EXPECT_EQ(d->view.buttons[2], 0);
}

TEST_F(EventInputTest, TheWhileCommandsReturnWhenTheirButtonIsReleased) {
    struct Case {
        const char* command;
        uint32_t type;
        int slot;
    };
    for (const Case& c :
         {Case{"whilemousedown", kEventLeftButton, 0}, Case{"whilerightmousedown", kEventRightButton, 1}}) {
        SCOPED_TRACE(c.command);
        Inject(c.type, 3, 3, 1);
        // Each pump takes one event: a key first, so that a command that
        // returns on its first look leaves two.
        Script(kEventKey, 1, 0, 'j');
        Script(c.type, 3, 3, 0);
        Script(kEventKey, 1, 0, 'k');
        ASSERT_EQ(Call(c.command), 0);
        EXPECT_EQ(null_backend::PendingScriptedEvents(), 1u) << "returned while the button was down";
        EXPECT_EQ(d->view.buttons[c.slot], 0);
        Inject(kEventKey, 0, 0, 'k');
        Inject(kEventKey, 0, 0, 'j');
        ASSERT_EQ(Call("freeeventcache"), 0);
    }
}

TEST_F(EventInputTest, CheckEventsDeliversEveryPendingEvent) {
    DefineEmitter("key", "key", "key");
    ASSERT_EQ(Install({{"onkeydown", "key"}}), 0);
    for (char k : {'a', 'b', 'c'}) Key(k, true);
    ASSERT_EQ(Call("checkevents"), 0);
    EXPECT_EQ(out, (std::vector<std::string>{"key OnKeyDown a", "key OnKeyDown b", "key OnKeyDown c"}));
}

TEST_F(EventInputTest, TheButtonAndKeyReadsForgetWhatResetKeyStatesClears) {
    Key('k', true);
    Click(3, 3, true);
    Inject(kEventMiddleButton, 3, 3, 1);
    ASSERT_EQ(Run(kReadStates), 0);
    ASSERT_EQ(Call("resetkeystates"), 0);
    ASSERT_EQ(Run(kReadStates), 0);
    EXPECT_EQ(out, (std::vector<std::string>{"1 1 0 1", "0 0 0 0"}));
}

// The same library over the SDL backend under the dummy driver: the quit
// keys as the window reports them, and a virtual joystick.
class SdlInputTest : public SdlEventWorld {
protected:
    // Switched off, the input leaves the wait to the close behind it, which
    // the handler takes; switched on, it ends the wait as a quit.
    void ExpectQuitSwitch(const char* command, const std::function<void()>& input) {
        DefineEmitter("closing", "closing");
        ASSERT_EQ(Install({{"closewindow", "closing"}}), 0);
        ASSERT_EQ(Call(command, {"#0"}), 0);
        input();
        PushClose();
        while (out.empty()) ASSERT_EQ(Wait(), 0);
        EXPECT_EQ(out, std::vector<std::string>{"closing CloseWindow 1"});
        ASSERT_EQ(Call(command, {"#1"}), 0);
        input();
        PushClose();
        int result = 0;
        for (size_t seen = out.size(); result == 0 && out.size() == seen;) result = Wait();
        EXPECT_EQ(result, ERR_USERABORT) << "the switch did not quit";
    }
};

TEST_F(SdlInputTest, CtrlCQuitEndsTheWaitWhenSwitchedOn) {
    ExpectQuitSwitch("ctrlcquit", [this] { PushKey(SDLK_c, true, KMOD_LCTRL); });
}

TEST_F(SdlInputTest, LeftMouseQuitEndsTheWaitWhenSwitchedOn) {
    ExpectQuitSwitch("leftmousequit", [this] {
        PushClick(2, 2, true);
        PushClick(2, 2, false);
    });
}

TEST_F(SdlInputTest, AVirtualJoystickIsCountedAndItsStickRead) {
    // The dummy driver's window never has the focus, without which SDL
    // drops a stick's motion.
    SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_JOYSTICK), 0);
    const int index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 2, 1, 0);
    ASSERT_GE(index, 0) << SDL_GetError();
    SDL_Joystick* stick = SDL_JoystickOpen(index);
    ASSERT_NE(stick, nullptr) << SDL_GetError();
    const std::string port = "#" + std::to_string(index);
    auto read = [&](int16_t x, int16_t y) {
        ASSERT_EQ(SDL_JoystickSetVirtualAxis(stick, 0, x), 0);
        ASSERT_EQ(SDL_JoystickSetVirtualAxis(stick, 1, y), 0);
        ASSERT_EQ(Run(".function main maxstack=4\n    GETGLOBAL 0 \"emit\"\n    GETGLOBAL 1 \"joydir\"\n    LOADK 2 " +
                      port + "\n    CALL 1 2 2\n    CALL 0 2 1\n    RETURN 0 1\n.end\n"),
                  0);
    };
    ASSERT_EQ(Run(".function main maxstack=4\n    GETGLOBAL 0 \"emit\"\n    GETGLOBAL 1 \"countjoysticks\"\n"
                  "    CALL 1 1 2\n    CALL 0 2 1\n    RETURN 0 1\n.end\n"),
              0);
    read(-32768, 32767);
    read(32767, -32768);
    read(0, -32768);
    read(0, 0);
    // The count, then down-left, up-right, up and none.
    EXPECT_EQ(out, (std::vector<std::string>{std::to_string(SDL_NumJoysticks()), "5", "1", "0", "8"}));
    SDL_JoystickClose(stick);
    SDL_JoystickDetachVirtual(index);
    SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
    SDL_ResetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS);
}

}  // namespace
