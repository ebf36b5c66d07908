// The menu strip and popups the Linux backend draws in the window, driven by
// pushed SDL events under the dummy driver and read back from the surface.
#include <chrono>
#include <string>

#include "core/preproc.h"
#include "linux_fixture.h"

namespace {

qbMenuItem Item(const char* name, const char* id, uint32_t flags = 0, const char* hotkey = "") {
    qbMenuItem item;
    item.name = name;
    item.id = id;
    item.flags = flags;
    item.hotkey = hotkey;
    return item;
}

qbMenuTree FirstTree() {
    qbMenuItem file = Item("File", "");
    file.submenu = {Item("Open", "open", 0, "o"), Item("Grid", "grid", 1, "g"), Item("", ""),
                    Item("Locked", "locked", 4, "l"), Item("More", "")};
    file.submenu.back().submenu = {Item("Deep", "deep")};
    qbMenuItem edit = Item("Edit", "");
    edit.submenu = {Item("Copy", "copy")};
    return {file, edit};
}

qbMenuTree SecondTree() {
    qbMenuItem view = Item("View", "");
    view.submenu = {Item("Zoom", "zoom")};
    return {view};
}

qbMenuTree first = FirstTree();
qbMenuTree second = SecondTree();
const qbMenuTree* shown = &first;
const std::vector<qbMenuItem>* ShownTree(qbDisplay*) { return shown; }

class LinuxMenuTest : public LinuxBackendTest {
protected:
    void SetUp() override {
        LinuxBackendTest::SetUp();
        shown = &first;
    }
    qbWindowView& OpenWithMenu(int width = 640, int height = 480) {
        qbWindowView& view = menuViews_.emplace_back();
        view.width = width;
        view.height = height;
        view.menuTree = &ShownTree;
        Open(Display0(), &view);
        FillWindowRect(Display0(), 0, 0, width, height, 0x204060);
        PumpAll();
        return view;
    }
    static int Strip() { return static_cast<int>(GetNativeDisplayAttr(Display0(), 17)); }
    static qbDisplay* Display0() {
        static int display = 0;
        return reinterpret_cast<qbDisplay*>(&display);
    }
    static void Click(int x, int y) {
        PushButton(WindowId(Display0()), SDL_BUTTON_LEFT, true, x, y);
        PushButton(WindowId(Display0()), SDL_BUTTON_LEFT, false, x, y);
        PumpAll();
    }
    // The middle of the n-th row (0-based, separators counted) of the popup.
    static SDL_Point Row(size_t popup, int n) {
        const qbMenuPopup& p = Window(Display0()).popups.at(popup);
        int y = p.rect.y + 1;
        for (int i = 0; i < n; ++i) y += (*p.items)[static_cast<size_t>(i)].name.empty() ? 7 : 20;
        return {p.rect.x + p.rect.w / 2, y + 10};
    }
    // Whether any pixel of the row's check column is drawn dark.
    static bool CheckShown(int row) {
        const qbMenuPopup& p = Window(Display0()).popups.at(0);
        const int top = Row(0, row).y - 10;
        for (int y = top; y < top + 20; ++y)
            for (int x = p.rect.x + 2; x < p.rect.x + 18; ++x)
                if (SurfacePixel(Display0(), x, y) < 0x404040) return true;
        return false;
    }
    static std::vector<uint32_t> Snapshot() {
        SDL_Surface* s = SDL_GetWindowSurface(Window(Display0()).window);
        std::vector<uint32_t> pixels;
        for (int y = 0; y < s->h; ++y)
            for (int x = 0; x < s->w; ++x) pixels.push_back(SurfacePixel(Display0(), x, y));
        return pixels;
    }
    std::deque<qbWindowView> menuViews_;
    static std::string Block(const qbInputEvent& e) { return e.block ? static_cast<const char*>(e.block) : "(none)"; }
};

TEST_F(LinuxMenuTest, StripLiesAboveThePictureAndPressesBelowItArePictureRelative) {
    OpenWithMenu();
    const int strip = Strip();
    ASSERT_GT(strip, 0);
    int width = 0, height = 0;
    SDL_GetWindowSize(Window(Display0()).window, &width, &height);
    EXPECT_EQ(width, 640);
    EXPECT_EQ(height, 480 + strip);
    EXPECT_EQ(SurfacePixel(Display0(), 630, 1), 0xECECECu);
    EXPECT_EQ(SurfacePixel(Display0(), 0, strip), 0x204060u);
    EXPECT_EQ(SurfacePixel(Display0(), 639, strip + 479), 0x204060u);
    // Drawing above the picture does not reach the strip.
    FillWindowRect(Display0(), 600, -10, 20, 20, 0xFF0000);
    DrawWindowLine(Display0(), 0, -5, 639, -5, 0xFF0000);
    EXPECT_EQ(SurfacePixel(Display0(), 605, strip - 5), 0xECECECu);
    EXPECT_EQ(SurfacePixel(Display0(), 605, strip), 0xFF0000u);

    PushButton(WindowId(Display0()), SDL_BUTTON_LEFT, true, 10, strip + 5);
    PushButton(WindowId(Display0()), SDL_BUTTON_LEFT, true, 630, 5);  // on the bare strip
    PumpAll();
    const auto events = Queued();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].x, 10);
    EXPECT_EQ(events[0].y, 5);
}

TEST_F(LinuxMenuTest, FullScreenHasNoStripAndTheWindowGetsItBack) {
    qbWindowView& view = menuViews_.emplace_back();
    view.fullScreen = 1;
    view.menuTree = &ShownTree;
    Open(Display0(), &view);
    EXPECT_EQ(Strip(), 0);
    CloseNativeWindow(Display0());
    view.fullScreen = 0;
    ASSERT_EQ(CreateNativeWindow(Display0(), 1, nullptr, nullptr), 0);
    EXPECT_GT(Strip(), 0);
}

TEST_F(LinuxMenuTest, ToggleItemFlipsItsCheckAndReportsTheNewState) {
    OpenWithMenu();
    for (int expected : {1, 0}) {
        Click(10, 5);
        ASSERT_EQ(Window(Display0()).popups.size(), 1u);
        EXPECT_EQ(CheckShown(1), expected == 0);
        const SDL_Point grid = Row(0, 1);
        Click(grid.x, grid.y);
        EXPECT_TRUE(Window(Display0()).popups.empty());
        const auto events = Queued();
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].type, static_cast<uint32_t>(kEventMenuSelect));
        EXPECT_EQ(Block(events[0]), "grid");
        EXPECT_EQ(events[0].state, expected);
        DropQueued();
        uint32_t flags = 0;
        ASSERT_EQ(GetNativeMenuItemState(Display0(), &first[0].submenu[1], &flags), 0);
        EXPECT_EQ((flags & kMenuItemChecked) != 0, expected == 1);
    }
    // The script's own change shows in the open popup.
    Click(10, 5);
    EXPECT_FALSE(CheckShown(1));
    ASSERT_EQ(SetNativeMenuItemState(Display0(), &first[0].submenu[1], kMenuItemChecked, 0), 0);
    EXPECT_TRUE(CheckShown(1));
    EXPECT_FALSE(CheckShown(0));
}

TEST_F(LinuxMenuTest, DisabledItemsAndSeparatorsPostNothingAndEscapeRestoresThePicture) {
    OpenWithMenu();
    for (int x = 0; x < 200; x += 3) DrawWindowLine(Display0(), x, 0, x + 50, 300, 0xFFFF00u - x);
    PumpAll();
    const std::vector<uint32_t> before = Snapshot();
    Click(10, 5);
    const SDL_Point separator = Row(0, 2), locked = Row(0, 3);
    Click(separator.x, separator.y);
    Click(locked.x, locked.y);
    EXPECT_TRUE(Queued().empty());
    ASSERT_EQ(Window(Display0()).popups.size(), 1u);
    EXPECT_NE(Snapshot(), before);
    PushKey(WindowId(Display0()), SDLK_ESCAPE, true);
    PushKey(WindowId(Display0()), SDLK_ESCAPE, false);
    PumpAll();
    EXPECT_TRUE(Window(Display0()).popups.empty());
    EXPECT_TRUE(Queued().empty());
    EXPECT_EQ(Snapshot(), before);
    // A click outside closes it the same way.
    Click(10, 5);
    Click(600, 400);
    EXPECT_TRUE(Queued().empty());
    EXPECT_EQ(Snapshot(), before);
}

TEST_F(LinuxMenuTest, HotkeysChooseBeforeTheControlRule) {
    OpenWithMenu();
    SetQuitShortcut(nullptr, kQuitShortcutCtrlC, 1);
    PushKey(WindowId(Display0()), SDLK_g, true, KMOD_LCTRL);
    PushKey(WindowId(Display0()), SDLK_g, false, KMOD_LCTRL);
    PushKey(WindowId(Display0()), SDLK_l, true, KMOD_LCTRL);  // disabled
    PushKey(WindowId(Display0()), SDLK_l, false, KMOD_LCTRL);
    std::vector<int> results = PumpAll();
    auto events = Queued();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(Block(events[0]), "grid");
    EXPECT_EQ(events[0].state, 1);
    for (int r : results) EXPECT_EQ(r, 0);
    DropQueued();
    PushKey(WindowId(Display0()), SDLK_c, true, KMOD_LCTRL);
    results = PumpAll();
    EXPECT_TRUE(Queued().empty());
    EXPECT_EQ(results.back(), 1);
}

TEST_F(LinuxMenuTest, UpdatingTheMenuShowsTheNewTitlesAndResizesTheWindow) {
    qbWindowView& view = OpenWithMenu();
    const int strip = Strip();
    shown = &second;
    ASSERT_EQ(UpdateWindowMenuBar(Display0()), 0);
    Click(10, 5);
    ASSERT_EQ(Window(Display0()).popups.size(), 1u);
    EXPECT_EQ(Window(Display0()).popups[0].items, &second[0].submenu);
    PushKey(WindowId(Display0()), SDLK_ESCAPE, true);
    PumpAll();

    shown = nullptr;
    ASSERT_EQ(UpdateWindowMenuBar(Display0()), 0);
    EXPECT_EQ(Strip(), 0);
    int width = 0, height = 0;
    SDL_GetWindowSize(Window(Display0()).window, &width, &height);
    EXPECT_EQ(height, 480);
    EXPECT_EQ(SurfacePixel(Display0(), 0, 0), 0x204060u);  // the picture moved up with it
    PushButton(WindowId(Display0()), SDL_BUTTON_LEFT, true, 3, 4);
    PumpAll();
    ASSERT_EQ(Queued().size(), 1u);
    EXPECT_EQ(Queued()[0].y, 4);
    DropQueued();

    shown = &first;
    ASSERT_EQ(UpdateWindowMenuBar(Display0()), 0);
    EXPECT_EQ(Strip(), strip);
    SDL_GetWindowSize(Window(Display0()).window, &width, &height);
    EXPECT_EQ(height, view.height + strip);
    EXPECT_EQ(SurfacePixel(Display0(), 0, strip), 0x204060u);
}

TEST_F(LinuxMenuTest, SubmenusOpenBesideTheirItemAndPopupsStayInside) {
    OpenWithMenu(400, 300);
    Click(10, 5);
    const SDL_Point beside = Row(0, 4);
    Click(beside.x, beside.y);
    ASSERT_EQ(Window(Display0()).popups.size(), 2u);
    const SDL_Rect parent = Window(Display0()).popups[0].rect, child = Window(Display0()).popups[1].rect;
    EXPECT_EQ(child.x, parent.x + parent.w - 2);
    EXPECT_NEAR(child.y, beside.y - 10, 2);
    PushKey(WindowId(Display0()), SDLK_ESCAPE, true);
    PumpAll();
    CloseNativeWindow(Display0());
    FreeNativeWindowRec(Display0());

    // A narrow window: the popups are moved left to lie inside it.
    OpenWithMenu(140, 300);
    Click(50, 5);  // "Edit", whose popup would reach past the right edge
    ASSERT_EQ(Window(Display0()).popups.size(), 1u);
    EXPECT_LE(Window(Display0()).popups[0].rect.x + Window(Display0()).popups[0].rect.w, 140);
    PushKey(WindowId(Display0()), SDLK_ESCAPE, true);
    PumpAll();
    Click(10, 5);
    const SDL_Rect menu = Window(Display0()).popups.at(0).rect;
    EXPECT_LE(menu.x + menu.w, 140);
    const SDL_Point more = Row(0, 4);
    Click(more.x, more.y);
    ASSERT_EQ(Window(Display0()).popups.size(), 2u);
    const SDL_Rect sub = Window(Display0()).popups[1].rect;
    EXPECT_GE(sub.x, 0);
    EXPECT_LE(sub.x + sub.w, 140);
    EXPECT_NEAR(sub.y, more.y - 10, 2);
    const SDL_Point deep = Row(1, 0);
    Click(deep.x, deep.y);
    const auto events = Queued();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(Block(events[0]), "deep");
    EXPECT_EQ(events[0].state, 0);
    EXPECT_TRUE(Window(Display0()).popups.empty());
}

TEST_F(LinuxMenuTest, APopupOpensAtFullHd) {
    OpenWithMenu(1920, 1080);
    Click(10, 5);
    ASSERT_EQ(Window(Display0()).popups.size(), 1u);
}

}  // namespace

namespace {

// With a popup open a press on another title opens that one instead, and
// the wheel scrolls a popup taller than the window, no further than its
// ends; with none open the wheel is the picture's.
TEST_F(LinuxMenuTest, AnOpenMenuGoesToAnotherTitleAndTheWheelScrollsATallPopup) {
    OpenWithMenu(400, 300);
    Click(10, 5);
    ASSERT_EQ(Window(Display0()).popups.size(), 1u);
    EXPECT_EQ((*Window(Display0()).popups[0].items)[0].name, "Open");
    Click(50, 5);
    ASSERT_EQ(Window(Display0()).popups.size(), 1u);
    EXPECT_EQ((*Window(Display0()).popups[0].items)[0].name, "Copy");
    PushKey(WindowId(Display0()), SDLK_ESCAPE, true);
    PumpAll();
    CloseNativeWindow(Display0());
    FreeNativeWindowRec(Display0());

    OpenWithMenu(400, 60);

    const auto wheel = [](int y, bool flipped) {
        SDL_Event e{};
        e.type = SDL_MOUSEWHEEL;
        e.wheel.windowID = WindowId(Display0());
        e.wheel.y = y;
        e.wheel.direction = flipped ? SDL_MOUSEWHEEL_FLIPPED : SDL_MOUSEWHEEL_NORMAL;
        Push(e);
        PumpAll();
    };
    DropQueued();
    wheel(-1, false);
    EXPECT_FALSE(Queued().empty()) << "no menu is open: the wheel is the picture's";
    DropQueued();
    Click(10, 5);
    const qbMenuPopup& popup = Window(Display0()).popups.at(0);
    const int most = popup.contentHeight + 2 - popup.rect.h;
    ASSERT_GT(most, 0);
    const std::vector<uint32_t> top = Snapshot();
    wheel(-1, false);
    EXPECT_GT(popup.scroll, 0);
    EXPECT_NE(Snapshot(), top);
    for (int i = 0; i < 20; ++i) wheel(-1, false);
    EXPECT_EQ(popup.scroll, most);
    wheel(-1, true);
    EXPECT_LT(popup.scroll, most) << "a flipped wheel turns the other way";
    for (int i = 0; i < 20; ++i) wheel(1, false);
    EXPECT_EQ(popup.scroll, 0);
    EXPECT_EQ(Snapshot(), top);
    EXPECT_TRUE(Queued().empty()) << "the open menu takes the wheel";
}

}  // namespace
