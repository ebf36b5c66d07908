// The event library on the SDL backend under the dummy driver: synthetic SDL
// events reach script handlers through the real pump, and closing a window
// that has no close handler ends a waiting script as a quit; message ports
// fail with their own errors and name the port.
#include <SDL.h>

#include "core/errcodes.h"
#include "display/sdl_eventworld.h"
#include "platform/linux/sdl_backend.h"

namespace {

using SdlEventsTest = SdlEventWorld;

TEST_F(SdlEventsTest, ClosingTheWindowWithoutAHandlerEndsTheWait) {
    DefineEmitter("key", "key", "key");
    ASSERT_EQ(Install({{"onkeydown", "key"}}), 0);
    PushKey(SDLK_TAB, true);
    ASSERT_EQ(Wait(), 0);
    EXPECT_EQ(out, std::vector<std::string>{"key OnKeyDown         "});
    PushClose();
    EXPECT_EQ(Wait(), ERR_USERABORT);
}

TEST_F(SdlEventsTest, AQuitFromTheDesktopEndsTheWait) {
    SDL_Event e{};
    e.type = SDL_QUIT;
    Push(e);
    EXPECT_EQ(Wait(), ERR_USERABORT);
}

TEST_F(SdlEventsTest, ACloseHandlerKeepsTheScriptRunning) {
    DefineEmitter("closing", "closing");
    ASSERT_EQ(Install({{"closewindow", "closing"}}), 0);
    PushClose();
    ASSERT_EQ(Wait(), 0);
    EXPECT_EQ(out, std::vector<std::string>{"closing CloseWindow 1"});
}

TEST_F(SdlEventsTest, ClicksReachTheButtonUnderThePointer) {
    DefineEmitter("down", "down");
    ASSERT_EQ(Run(R"(.function main maxstack=12
    GETGLOBAL 0 "makebutton"
    LOADK 1 #7
    LOADK 2 #0
    LOADK 3 #5
    LOADK 4 #5
    LOADK 5 #1
    LOADK 6 #1
    NEWTABLE 7 0 1
    GETGLOBAL 8 "down"
    SETTABLE 7 "onmousedown" 8
    CALL 0 8 1
    RETURN 0 1
.end
)"),
              0);
    PushClick(6, 5, true);
    PushClick(5, 5, true);
    ASSERT_EQ(Wait(), 0);
    EXPECT_EQ(out, std::vector<std::string>{"down OnMouseDown 7"});
}

TEST_F(SdlEventsTest, TheWaitCommandsFollowTheButtonAndKeyStates) {
    DefineEmitter("key", "key", "key");
    ASSERT_EQ(Install({{"onkeydown", "key"}}), 0);
    PushClick(3, 3, true);
    PushKey(SDLK_a, true);
    PushClick(3, 3, false);
    ASSERT_EQ(Call("waitleftmouse"), 0);
    // The wait took the press and the release: nothing is left queued.
    SDL_PumpEvents();
    EXPECT_EQ(SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT), 0);
    // The key pressed during the wait went with the flushed queue.
    ASSERT_EQ(Check(), 0);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(Call("waitkeydown", {"\"NOSUCHKEY\""}), ERR_WRONGUSAGE);
    PushClose();
    EXPECT_EQ(Call("waitrightmouse"), ERR_USERABORT);
}

TEST_F(SdlEventsTest, AKeyJumpsToItsLabelWhichWaitsForItsRelease) {
    ASSERT_EQ(Call("createkeydown", {"#1", "\"tab\""}), 0);
    VmPushString(L, "labels");
    VmPushNewTable(L);
    SetTableFieldInt(L, "onkeydown1", 3);
    VmSetTableAt(L, kRegistryIndex);
    PushKey(SDLK_TAB, true);
    PushKey(SDLK_TAB, false);
    ASSERT_EQ(Run(R"(.function main maxstack=12
    GETGLOBAL 0 "waitevent"
    CALL 0 1 1
    RETURN 0 1
    GETGLOBAL 10 "whilekeydown"
    CALL 10 1 1
    GETGLOBAL 10 "emit"
    LOADK 11 "released"
    CALL 10 2 1
    RETURN 0 1 1
.end
)"),
              0);
    EXPECT_EQ(out, std::vector<std::string>{"released"});
    // WhileKeyDown took the release.
    SDL_PumpEvents();
    EXPECT_EQ(SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT), 0);
}

TEST_F(SdlEventsTest, PortsCannotBeCreatedOrFoundAndTheErrorNamesThePort) {
    EXPECT_EQ(Call("createport", {"\"MYPORT\""}), ERR_CREATEPORT);
    EXPECT_EQ(GetErrorDetail(), std::string("MYPORT"));
    EXPECT_EQ(Call("sendmessage", {"\"OTHERPORT\"", "\"run\""}), ERR_FINDPORT);
    EXPECT_NE(Text(ERR_FINDPORT).find("OTHERPORT"), std::string::npos) << Text(ERR_FINDPORT);
}

}  // namespace
