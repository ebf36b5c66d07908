// Menus and dropped files from SDL events to the script's handlers, through
// the display library, the real pump and the dispatcher, under the dummy
// driver.
#include <SDL.h>

#include "display/displaymenus.h"
#include "core/errcodes.h"
#include "display/sdl_eventworld.h"
#include "libs/system.h"
#include "platform/linux/sdl_backend.h"

namespace {

qbMenuItem Item(const char* name, const char* id, uint32_t flags = 0, const char* hotkey = "") {
    qbMenuItem item;
    item.name = name;
    item.id = id;
    item.flags = flags;
    item.hotkey = hotkey;
    return item;
}

class SdlMenusDropsTest : public SdlEventWorld {
protected:
    void FreeBeforeShutdown() override { FreeAllMenus(); }
    void Click(int x, int y) {
        for (bool down : {true, false}) PushClick(x, y, down);
    }
    void PushDrop(uint32_t type, const char* file) {
        SDL_Event e{};
        e.type = type;
        e.drop.windowID = Window().windowId;
        e.drop.file = file ? SDL_strdup(file) : nullptr;
        Push(e);
    }
    // Every pushed SDL event through the pump, without running handlers.
    void PumpAll() {
        while (SDL_HasEvents(SDL_FIRSTEVENT, SDL_LASTEVENT)) {
            int error = 0;
            PumpNativeEvents(L, &error);
        }
    }
    // Menu 5 with File: Grid (a toggle, Ctrl+G) and Quit, shown on the display.
    void AttachMenu() {
        qbMenuItem file = Item("File", "");
        file.submenu = {Item("Grid", "grid", MENUITEM_TOGGLE, "g"), Item("Quit", "quit")};
        ASSERT_EQ(CreateMenuCore(nullptr, NewObjectID{5, 0}, {file}), 0);
        ASSERT_EQ(Run(R"(.function main maxstack=6
    GETGLOBAL 0 "setdisplayattributes"
    NEWTABLE 1 0 1
    LOADK 2 #5
    SETTABLE 1 "menu" 2
    CALL 0 2 1
    RETURN 0 1
.end
)"),
                  0);
        ASSERT_GT(GetNativeDisplayAttr(d, 17), 0);
    }
    // Opens File and chooses its n-th item by pushed clicks.
    void ChooseItem(int n) {
        Click(10, 5);
        PumpAll();
        ASSERT_EQ(Window().popups.size(), 1u);
        const SDL_Rect r = Window().popups[0].rect;
        Click(r.x + 10, r.y + 1 + 20 * n + 10);
    }
};

TEST_F(SdlMenusDropsTest, ChoosingAnItemReachesOnMenuSelectWithItsIdAndState) {
    Define("menu",
           "    GETGLOBAL 1 \"emit\"\n    LOADK 2 \"menu\"\n    GETTABLE 3 0 \"action\"\n    GETTABLE 4 0 \"item\"\n"
           "    GETTABLE 5 0 \"selected\"\n    CALL 1 5 1\n    RETURN 0 1\n");
    ASSERT_EQ(Install({{"onmenuselect", "menu"}}), 0);
    AttachMenu();
    ChooseItem(0);
    ASSERT_EQ(Wait(), 0);
    ChooseItem(1);
    ASSERT_EQ(Wait(), 0);
    // Ctrl+G: the item again, and no key event.
    SDL_Event key{};
    key.type = SDL_KEYDOWN;
    key.key.windowID = Window().windowId;
    key.key.keysym.sym = SDLK_g;
    key.key.keysym.scancode = SDL_SCANCODE_G;
    key.key.keysym.mod = KMOD_LCTRL;
    Push(key);
    ASSERT_EQ(Wait(), 0);
    EXPECT_EQ(out, (std::vector<std::string>{"menu OnMenuSelect grid 1", "menu OnMenuSelect quit 0",
                                             "menu OnMenuSelect grid 0"}));
}

TEST_F(SdlMenusDropsTest, AnAppletEndsWhenItsQuitItemIsChosen) {
    VmPushValue(L, kGlobalsIndex);
    ASSERT_EQ(InitSystemLibrary(L), 0);
    VmSetTop(L, 0);
    // Ends on "quit", emits anything else.
    Define("menu",
           "    GETTABLE 1 0 \"item\"\n    LOADK 2 \"quit\"\n    EQ 1 1 2\n    JMP quit\n"
           "    GETGLOBAL 2 \"emit\"\n    MOVE 3 1\n    CALL 2 2 1\n    RETURN 0 1\nquit:\n    GETGLOBAL 2 \"end\"\n"
           "    CALL 2 1 1\n    RETURN 0 1\n");
    ASSERT_EQ(Install({{"onmenuselect", "menu"}}), 0);
    AttachMenu();
    ChooseItem(0);
    ASSERT_EQ(Wait(), 0);
    EXPECT_EQ(out, std::vector<std::string>{"grid"});
    ChooseItem(1);
    EXPECT_EQ(Wait(), ERR_USERABORT);
}

TEST_F(SdlMenusDropsTest, DroppedFilesReachOnDropFileWithTheirCountAndNames) {
    Define("drop",
           "    GETGLOBAL 1 \"emit\"\n    LOADK 2 \"drop\"\n    GETTABLE 3 0 \"numdropfiles\"\n"
           "    GETTABLE 6 0 \"dropfiles\"\n    GETTABLE 4 6 #0\n    GETTABLE 5 6 #1\n    CALL 1 5 1\n"
           "    RETURN 0 1\n");
    ASSERT_EQ(Install({{"ondropfile", "drop"}}), 0);
    PushDrop(SDL_DROPBEGIN, nullptr);
    PushDrop(SDL_DROPFILE, "/tmp/first picture.png");
    PushDrop(SDL_DROPFILE, "/tmp/second.txt");
    PushDrop(SDL_DROPCOMPLETE, nullptr);
    ASSERT_EQ(Wait(), 0);
    EXPECT_EQ(out, std::vector<std::string>{"drop 2 /tmp/first picture.png /tmp/second.txt"});
}

TEST_F(SdlMenusDropsTest, ADisplayWithoutTheHandlerReceivesNoDrop) {
    PushDrop(SDL_DROPFILE, "/tmp/ignored.txt");
    PushDrop(SDL_DROPCOMPLETE, nullptr);
    PumpAll();
    qbInputEvent e;
    LockEventQueue();
    EXPECT_EQ(PeekQueuedEvent(nullptr, 0, &e, 0), 0);
    UnlockEventQueue();
}

}  // namespace
