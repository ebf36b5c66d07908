// The Linux event pump: synthetic SDL events come out as the queued events of
// the displays, window flags become quit requests, the 10 ms rule, and waking
// the main thread from other threads.
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "core/errcodes.h"
#include "core/memory.h"
#include "core/ostime.h"
#include "linux_fixture.h"

namespace {

using PumpTest = LinuxBackendTest;

constexpr int32_t kQualifiers = static_cast<int32_t>(0x80000000u);
constexpr int32_t kShift = static_cast<int32_t>(0x80010000u);

struct Expected {
    uint32_t type;
    int32_t x, y, state;
};

void ExpectEvents(const std::vector<qbInputEvent>& events, const std::vector<Expected>& expected) {
    ASSERT_EQ(events.size(), expected.size());
    for (size_t i = 0; i < events.size(); ++i) {
        EXPECT_EQ(events[i].type, expected[i].type) << i;
        EXPECT_EQ(events[i].x, expected[i].x) << i;
        EXPECT_EQ(events[i].y, expected[i].y) << i;
        EXPECT_EQ(events[i].state, expected[i].state) << i;
    }
}

// Key events as the queue hands them out: pressed flag, qualifiers, code.
struct Key {
    int32_t down;
    int32_t qualifiers;
    int32_t code;
};

std::vector<Key> QueuedKeys(const std::vector<qbInputEvent>& events) {
    std::vector<Key> keys;
    for (const qbInputEvent& e : events) {
        EXPECT_EQ(e.type, uint32_t{kEventKey});
        keys.push_back(Key{e.state, e.key[0], e.key[1]});
    }
    return keys;
}

void ExpectKeys(const std::vector<Key>& keys, const std::vector<Key>& expected) {
    ASSERT_EQ(keys.size(), expected.size());
    for (size_t i = 0; i < keys.size(); ++i) {
        EXPECT_EQ(keys[i].down, expected[i].down) << i;
        EXPECT_EQ(keys[i].qualifiers, expected[i].qualifiers) << i;
        EXPECT_EQ(keys[i].code, expected[i].code) << i;
    }
}

TEST_F(PumpTest, ButtonsAndWheelBecomeTheirEventsWithContentCoordinates) {
    Open(Display(0), nullptr);
    const uint32_t id = WindowId(Display(0));
    PushButton(id, SDL_BUTTON_LEFT, true, 10, 20);
    PushButton(id, SDL_BUTTON_LEFT, false, 11, 21);
    PushButton(id, SDL_BUTTON_RIGHT, true, 30, 40);
    PushButton(id, SDL_BUTTON_MIDDLE, true, 50, 60);
    PushButton(id, SDL_BUTTON_X1, true, 1, 1);  // no event of its own
    for (const auto& [x, y] : {std::pair{0, 3}, std::pair{0, -2}, std::pair{4, 0}, std::pair{-1, 0}, std::pair{0, 0}}) {
        SDL_Event wheel{};
        wheel.type = SDL_MOUSEWHEEL;
        wheel.wheel.windowID = id;
        wheel.wheel.x = x;
        wheel.wheel.y = y;
        Push(wheel);
    }
    EXPECT_EQ(PumpAll(), std::vector<int>(10, 0));
    ExpectEvents(Queued(), {{kEventLeftButton, 10, 20, 1},
                            {kEventLeftButton, 11, 21, 0},
                            {kEventRightButton, 30, 40, 1},
                            {kEventMiddleButton, 50, 60, 1},
                            {kEventWheelUp, 0, 0, 0},
                            {kEventWheelDown, 0, 0, 0},
                            {kEventWheelUp, 0, 0, 0},
                            {kEventWheelDown, 0, 0, 0}});
    EXPECT_EQ(Queued()[0].display, Display(0));
    const qbWindowView& v = *Window(Display(0)).view;
    EXPECT_EQ(v.buttons[0], 0);
    EXPECT_EQ(v.buttons[1], 1);
    EXPECT_EQ(v.buttons[2], 1);
}

TEST_F(PumpTest, WindowEventsPostTheirTypesAndUpdateTheView) {
    qbWindowView view;
    int resizedTo[2] = {};
    static int* resized;
    resized = resizedTo;
    view.resizeDisplay = [](ScriptState*, qbDisplay*, int w, int h) {
        resized[0] = w;
        resized[1] = h;
        return 0;
    };
    Open(Display(0), &view);
    const uint32_t id = WindowId(Display(0));
    PushWindowEvent(id, SDL_WINDOWEVENT_FOCUS_GAINED);
    PushWindowEvent(id, SDL_WINDOWEVENT_MOVED, 100, 50);
    PushWindowEvent(id, SDL_WINDOWEVENT_SIZE_CHANGED, 640, 480);  // the size it has: nothing
    PushWindowEvent(id, SDL_WINDOWEVENT_SIZE_CHANGED, 800, 600);
    PushWindowEvent(id, SDL_WINDOWEVENT_MINIMIZED);
    PushWindowEvent(id, SDL_WINDOWEVENT_RESTORED);
    PushWindowEvent(id, SDL_WINDOWEVENT_RESTORED);  // not minimised: nothing
    PushWindowEvent(id, SDL_WINDOWEVENT_FOCUS_LOST);
    PushWindowEvent(id + 1000, SDL_WINDOWEVENT_CLOSE);  // no such window
    PumpAll();
    ExpectEvents(Queued(), {{kEventActivated, 0, 0, 0},
                            {kEventMoved, 0, 0, 0},
                            {kEventResized, 0, 0, 0},
                            {kEventMinimised, 0, 0, 0},
                            {kEventRestored, 0, 0, 0},
                            {kEventDeactivated, 0, 0, 0}});
    EXPECT_EQ(view.x, 100);
    EXPECT_EQ(view.y, 50);
    EXPECT_EQ(view.width, 800);
    EXPECT_EQ(view.height, 600);
    EXPECT_EQ(resizedTo[0], 800);
    EXPECT_EQ(resizedTo[1], 600);
    EXPECT_EQ(view.state, kWindowOpen);
    EXPECT_EQ(view.active, 0);
}

TEST_F(PumpTest, AFailedResizeEndsThePumpWithItsError) {
    qbWindowView view;
    view.resizeDisplay = [](ScriptState*, qbDisplay*, int, int) { return int{ERR_MEM}; };
    Open(Display(0), &view);
    PushWindowEvent(WindowId(Display(0)), SDL_WINDOWEVENT_SIZE_CHANGED, 320, 200);
    int error = 0;
    EXPECT_EQ(PumpNativeEvents(nullptr, &error), 1);
    EXPECT_EQ(error, ERR_MEM);
    SleepMillis(11);
    EXPECT_EQ(PumpNativeEvents(nullptr, &error), 0);  // the flag went with it
    EXPECT_EQ(error, 0);
}

TEST_F(PumpTest, CloseRequestQuitsOnlyWithoutACloseHandler) {
    qbWindowView handled;
    handled.hasCloseHandler = 1;
    Open(Display(0), &handled);
    PushWindowEvent(WindowId(Display(0)), SDL_WINDOWEVENT_CLOSE);
    EXPECT_EQ(PumpAll(), std::vector<int>{0});
    ExpectEvents(Queued(), {{kEventCloseRequest, 0, 0, 0}});
    EXPECT_NE(Window(Display(0)).window, nullptr);  // the window stays

    qbWindowView noClose;
    noClose.flags = kWindowNoClose;
    Open(Display(1), &noClose);
    PushWindowEvent(WindowId(Display(1)), SDL_WINDOWEVENT_CLOSE);
    EXPECT_EQ(PumpAll(), std::vector<int>{0});
    EXPECT_TRUE(Queued().empty());

    Open(Display(2), nullptr);
    PushWindowEvent(WindowId(Display(2)), SDL_WINDOWEVENT_CLOSE);
    EXPECT_EQ(PumpAll(), std::vector<int>{1});
    // Once asked, every later pump asks again.
    SleepMillis(11);
    int error = 0;
    EXPECT_EQ(PumpNativeEvents(nullptr, &error), 1);
}

TEST_F(PumpTest, DesktopQuitAsksEveryDisplayToClose) {
    qbWindowView a, b;
    a.hasCloseHandler = b.hasCloseHandler = 1;
    Open(Display(0), &a);
    Open(Display(1), &b);
    SDL_Event quit{};
    quit.type = SDL_QUIT;
    Push(quit);
    EXPECT_EQ(PumpAll(), std::vector<int>{0});
    const auto events = Queued();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].display, Display(0));
    EXPECT_EQ(events[1].display, Display(1));
    EXPECT_EQ(events[1].type, uint32_t{kEventCloseRequest});
}

TEST_F(PumpTest, PrintableKeysPostTheirTextAndReleaseTheSameCode) {
    Open(Display(0), nullptr);
    const uint32_t id = WindowId(Display(0));
    PushKey(id, SDLK_a, true);
    PushText(id, "a");
    PushKey(id, SDLK_a, false);
    PushKey(id, SDLK_LSHIFT, true, KMOD_LSHIFT);
    PushKey(id, SDLK_a, true, KMOD_LSHIFT);
    PushText(id, "A");
    PushKey(id, SDLK_LSHIFT, false);
    PushKey(id, SDLK_a, false);  // released after Shift: still 65
    PushKey(id, SDLK_e, true);
    PushText(id, "\xc3\xa9");
    PushKey(id, SDLK_e, false);
    PushKey(id, SDLK_4, true);
    PushText(id, "\xe2\x82\xac");  // the euro sign
    PushKey(id, SDLK_4, false);
    PushKey(id, SDLK_5, true);
    PushText(id, "\xe2\x84\xa2");  // beyond ISO 8859-1: nothing
    PushKey(id, SDLK_5, false);
    PumpAll();
    ExpectKeys(QueuedKeys(Queued()), {{1, kQualifiers, 'a'},
                                      {0, kQualifiers, 'a'},
                                      {1, kShift, 65},
                                      {0, kQualifiers, 65},
                                      {1, kQualifiers, 233},
                                      {0, kQualifiers, 233},
                                      {1, kQualifiers, 164},
                                      {0, kQualifiers, 164}});
    EXPECT_EQ(Window(Display(0)).view->keyState[97], 0);
}

TEST_F(PumpTest, TextWithoutAKeyPressIsTypedAndReleasedAtOnce) {
    Open(Display(0), nullptr);
    PushText(WindowId(Display(0)), "xy");
    PumpAll();
    const auto keys = QueuedKeys(Queued());
    ASSERT_EQ(keys.size(), 4u);
    EXPECT_EQ(keys[0].code, 'x');
    EXPECT_EQ(keys[1].down, 0);
    EXPECT_EQ(keys[3].code, 'y');
}

TEST_F(PumpTest, SpecialKeysPostTheirCodesAndSwallowTheirText) {
    Open(Display(0), nullptr);
    const uint32_t id = WindowId(Display(0));
    PushKey(id, SDLK_F1, true);
    PushKey(id, SDLK_F1, false);
    PushKey(id, SDLK_SPACE, true);
    PushText(id, " ");
    PushKey(id, SDLK_SPACE, false);
    for (SDL_Keycode k : {SDLK_UP, SDLK_LEFT, SDLK_F10, SDLK_F11, SDLK_F16, SDLK_BACKSPACE, SDLK_TAB, SDLK_RETURN,
                          SDLK_KP_ENTER, SDLK_DELETE, SDLK_HOME, SDLK_PAGEDOWN, SDLK_INSERT, SDLK_LCTRL})
        PushKey(id, k, true);
    PumpAll();
    std::vector<int32_t> codes;
    for (const Key& k : QueuedKeys(Queued())) codes.push_back(k.code);
    EXPECT_EQ(codes, (std::vector<int32_t>{261, 261, 276, 276, 256, 259, 270, 278, 290, 271, 272, 274, 274, 277, 281,
                                           284}));
    EXPECT_EQ(Window(Display(0)).view->keyState[256], 1);
}

TEST_F(PumpTest, EscapePostsItsCodeAndRaisesTheEscapeQuit) {
    Open(Display(0), nullptr);
    const uint32_t id = WindowId(Display(0));
    PushKey(id, SDLK_ESCAPE, true);
    EXPECT_EQ(PumpAll(), std::vector<int>{0});  // switch off
    ExpectKeys(QueuedKeys(Queued()), {{1, kQualifiers, 275}});
    SetQuitShortcut(nullptr, kQuitShortcutEscape, 1);
    PushKey(id, SDLK_ESCAPE, false);
    EXPECT_EQ(PumpAll(), std::vector<int>{0});  // only the press counts
    PushKey(id, SDLK_ESCAPE, true);
    EXPECT_EQ(PumpAll(), std::vector<int>{1});
}

TEST_F(PumpTest, ControlKeysPostNothingAndCtrlCRaisesItsQuit) {
    Open(Display(0), nullptr);
    const uint32_t id = WindowId(Display(0));
    PushKey(id, SDLK_c, true, KMOD_LCTRL);
    PushText(id, "c");
    PushKey(id, SDLK_c, false, KMOD_LCTRL);
    PushKey(id, SDLK_F1, true, KMOD_RCTRL);
    EXPECT_EQ(PumpAll(), std::vector<int>(4, 0));  // switch off
    EXPECT_TRUE(Queued().empty());
    SetQuitShortcut(nullptr, kQuitShortcutCtrlC, 1);
    PushKey(id, SDLK_x, true, KMOD_LCTRL);
    EXPECT_EQ(PumpAll(), std::vector<int>{0});
    PushKey(id, SDLK_c, true, KMOD_LCTRL);
    EXPECT_EQ(PumpAll(), std::vector<int>{1});
    EXPECT_TRUE(Queued().empty());
}

TEST_F(PumpTest, LeftButtonQuitsWhileItsSwitchIsOn) {
    Open(Display(0), nullptr);
    SetQuitShortcut(nullptr, kQuitShortcutLeftButton, 1);
    PushButton(WindowId(Display(0)), SDL_BUTTON_RIGHT, true, 1, 1);
    EXPECT_EQ(PumpAll(), std::vector<int>{0});
    PushButton(WindowId(Display(0)), SDL_BUTTON_LEFT, true, 1, 1);
    EXPECT_EQ(PumpAll(), std::vector<int>{1});
}

TEST_F(PumpTest, AltReturnRequestsTheModeSwitchWithOnlyTheTwoKeyEvents) {
    Open(Display(0), nullptr);
    const uint32_t id = WindowId(Display(0));
    const auto altReturn = [&](uint16_t mod) {
        PushKey(id, SDLK_LALT, true, mod);
        PushKey(id, SDLK_RETURN, true, mod);
        PushKey(id, SDLK_RETURN, false, mod);
        PushKey(id, SDLK_LALT, false);
        PumpAll();
    };
    altReturn(KMOD_LALT);
    const int32_t alt = static_cast<int32_t>(0x80040000u);
    auto events = Queued();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].type, uint32_t{kEventKey});
    EXPECT_EQ(events[0].key[1], 274);
    EXPECT_EQ(events[0].key[0], alt);
    EXPECT_EQ(events[1].type, uint32_t{kEventFullScreenToggle});
    EXPECT_EQ(events[2].type, uint32_t{kEventKey});
    EXPECT_EQ(events[2].state, 0);
    EXPECT_EQ(Window(Display(0)).modeSwitch, -1);  // the pump cleared it
    DropQueued();

    altReturn(KMOD_RGUI);
    events = Queued();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[1].type, uint32_t{kEventFullScreenToggle});
    DropQueued();

    Window(Display(0)).view->flags = kWindowNoModeSwitch;
    altReturn(KMOD_LALT);
    ExpectKeys(QueuedKeys(Queued()), {{1, alt, 274}, {0, alt, 274}});
    DropQueued();

    Window(Display(0)).view->flags = 0;
    Window(Display(0)).view->requesterOpen = 1;
    altReturn(KMOD_LALT);
    EXPECT_EQ(Queued().size(), 2u);
}

TEST_F(PumpTest, DropsPostThePathsOnlyWithADropHandler) {
    qbWindowView view;
    Open(Display(0), &view);
    const uint32_t id = WindowId(Display(0));
    const auto drop = [&](std::vector<const char*> files) {
        SDL_Event e{};
        e.drop.windowID = id;
        e.type = SDL_DROPBEGIN;
        Push(e);
        for (const char* f : files) {
            e.type = SDL_DROPFILE;
            e.drop.file = SDL_strdup(f);
            Push(e);
        }
        e.type = SDL_DROPCOMPLETE;
        e.drop.file = nullptr;
        Push(e);
        PumpAll();
    };
    drop({"/tmp/a.png"});
    EXPECT_TRUE(Queued().empty());
    view.hasDropHandler = 1;
    view.mouseX = 7;
    view.mouseY = 9;
    drop({});
    EXPECT_TRUE(Queued().empty());  // a drop of no files posts nothing
    drop({"/tmp/a.png", "/tmp/caf\xc3\xa9"});
    LockEventQueue();
    qbInputEvent e;
    ASSERT_EQ(PeekQueuedEvent(nullptr, 0, &e, 1), 1);
    UnlockEventQueue();
    EXPECT_EQ(e.type, uint32_t{kEventFilesDropped});
    EXPECT_EQ(e.x, 7);
    EXPECT_EQ(e.y, 9);
    const char* paths = static_cast<const char*>(e.block);
    ASSERT_NE(paths, nullptr);
    EXPECT_STREQ(paths, "/tmp/a.png");
    EXPECT_STREQ(paths + 11, "/tmp/caf\xe9");
    EXPECT_EQ(paths[11 + 10], 0);
    FreeMemory(e.block);
}

TEST_F(PumpTest, ClipboardChangesReachTheDisplaysThatWatchThem) {
    qbWindowView watching;
    watching.hasClipboardHandler = 1;
    Open(Display(0), nullptr);
    Open(Display(1), &watching);
    SDL_Event e{};
    e.type = SDL_CLIPBOARDUPDATE;
    Push(e);
    PumpAll();
    const auto events = Queued();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].display, Display(1));
    EXPECT_EQ(events[0].type, uint32_t{kEventClipboardChanged});
}

TEST_F(PumpTest, AnEmptyQueueMomentsAfterAPumpLeavesTheWindowsAlone) {
    Open(Display(0), nullptr);
    int error = 0;
    EXPECT_EQ(PumpNativeEvents(nullptr, &error), 0);
    Window(Display(0)).closeRequested = true;
    // The last pump stays "moments ago" for a second, however slowly the
    // test runs.
    int64_t& lastPump = sdl_backend::S().lastPumpNanos;
    lastPump = sdl_backend::MonotonicNanos() + 1'000'000'000;
    EXPECT_EQ(PumpNativeEvents(nullptr, &error), 0);
    EXPECT_TRUE(Window(Display(0)).closeRequested);
    lastPump = sdl_backend::MonotonicNanos() - 10'000'000;
    EXPECT_EQ(PumpNativeEvents(nullptr, &error), 1);
    EXPECT_FALSE(Window(Display(0)).closeRequested);
}

TEST_F(PumpTest, AWakeFromAnotherThreadEndsABlockedWait) {
    PumpAll();
    std::thread poster([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(PostWakeEvent(), 0);
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForNativeEvent(-1), 0);
    const auto waited = std::chrono::steady_clock::now() - start;
    poster.join();
    EXPECT_GE(waited, std::chrono::milliseconds(40));
    // The wait took the wake: the next one runs into its time-out.
    const auto again = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForNativeEvent(30), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - again, std::chrono::milliseconds(25));
}

// A time-out of 0 polls: with nothing queued the wait returns at once. A
// wait that blocked instead is ended by a wake a minute later, and fails.
TEST_F(PumpTest, AWaitOfNoTimeReturnsWithNothingQueued) {
    PumpAll();
    std::atomic<bool> returned{false}, rescued{false};
    std::thread rescuer([&] {
        for (int i = 0; i < 6000 && !returned.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!returned.load()) {
            rescued = true;
            EXPECT_EQ(PostWakeEvent(), 0);
        }
    });
    EXPECT_EQ(WaitForNativeEvent(0), 0);
    returned = true;
    rescuer.join();
    EXPECT_FALSE(rescued.load()) << "the wait blocked";
}

TEST_F(PumpTest, AMillionWakesFromTwoThreadsLeaveAtMostOnePending) {
    const uint32_t type = sdl_backend::S().wakeType.load();
    ASSERT_NE(type, 0u);
    std::atomic<int> failures{0};
    const auto post = [&] {
        for (int i = 0; i < 500000; ++i)
            if (PostWakeEvent() != 0) ++failures;
    };
    std::thread a(post), b(post);
    a.join();
    b.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, type, type), 1);
    // The pump takes it like any other event and posts nothing for it.
    EXPECT_EQ(PumpAll(), std::vector<int>{0});
    EXPECT_EQ(SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, type, type), 0);
    EXPECT_TRUE(Queued().empty());
    EXPECT_EQ(PostWakeEvent(), 0);
    EXPECT_EQ(SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, type, type), 1);
}

TEST_F(PumpTest, InputWaitingInTheQueueEndsAWaitAndStaysForThePump) {
    Open(Display(0), nullptr);
    PushButton(WindowId(Display(0)), SDL_BUTTON_LEFT, true, 3, 4);
    EXPECT_EQ(WaitForNativeEvent(5000), 0);
    EXPECT_EQ(PumpAll().size(), 1u);
    ExpectEvents(Queued(), {{kEventLeftButton, 3, 4, 1}});
}

}  // namespace
