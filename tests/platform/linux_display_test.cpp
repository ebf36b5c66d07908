// Displays on the Linux backend under SDL's dummy driver, from start-up on:
// the declared displays open as SDL windows that show their picture at once,
// the window's full-screen toggle switches unless "nomodeswitch", a window the user
// resizes resizes its display, and "keepproportions" shows the picture
// between black borders.
#include <functional>
#include <string>
#include <utility>

#include "core/applet.h"
#include "core/preproc.h"
#include "core/settings.h"
#include "core/vmhost.h"
#include "display/bgpics.h"
#include "display/displaylib.h"
#include "display/displays.h"
#include "display/eventlib.h"
#include "linux_fixture.h"
#include "objects/bgpiclib.h"
#include "objects/brushes.h"
#include "objects/brushlib.h"
#include "vm/vm.h"

namespace {

constexpr int32_t kBackdrop = 0x3366CC;

class LinuxDisplayTest : public LinuxBackendTest {
protected:
    void SetUp() override {
        LinuxBackendTest::SetUp();
        SetRuntimeTag(kTagQuiet, 1);
        SetRuntimeTag(kTagRaiseErrors, 1);
        InstallVmHost();
        L_ = VmOpen();
        ASSERT_NE(L_, nullptr);
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitDisplayLibrary(L_), 0);
        // Full screens make their backfills with these.
        ASSERT_EQ(InitBGPicLibrary(L_), 0);
        ASSERT_EQ(InitBrushLibrary(L_), 0);
        VmSetTop(L_, 0);
        cl_.appletFlag = 1;
    }
    void TearDown() override {
        FreeAllDisplays(L_);
        FreeAllBGPics(L_);
        FreeAllBrushes(L_);
        VmClose(L_);
        LinuxBackendTest::TearDown();
    }

    void Declare(int32_t id, uint32_t flags, const std::function<void(qbDisplayDeclaration&)>& more = {}) {
        qbPreprocessorEntry entry;
        entry.type = kDeclDisplay;
        entry.id = id;
        qbDisplayDeclaration decl;
        InitDisplayDeclaration(decl);
        decl.flags = flags;
        decl.color = kBackdrop;
        decl.gradient.startColor = kBackdrop;
        if (more) more(decl);
        entry.record = std::move(decl);
        ASSERT_EQ(AddPreprocessorEntry(&applet_, std::move(entry)), 0);
    }
    void Start() {
        ASSERT_EQ(CreateDeclaredObjects(L_, &cl_, &applet_, 0), 0);
        ASSERT_EQ(StartDisplays(L_), 0);
        PumpAll();
        DropQueued();
    }
    static qbDisplay* Record(int32_t id) {
        qbDisplay* d = nullptr;
        EXPECT_EQ(GetDisplayRecord(ObjectID{id, nullptr}, &d), 0);
        return d;
    }

    ScriptState* L_ = nullptr;
    qbCommandLine cl_;
    qbApplet applet_;
};

TEST_F(LinuxDisplayTest, DisplayOneOpensAs640x480WindowThatShowsItsBackdropWithoutAWait) {
    Declare(1, 0);
    ASSERT_EQ(CreateDeclaredObjects(L_, &cl_, &applet_, 0), 0);
    ASSERT_EQ(StartDisplays(L_), 0);
    qbDisplay* d = Record(1);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->state, DISPSTATE_OPEN);
    ExpectDefaultWindow(d);
    const qbNativeWindow& w = Window(d);
    // Presented already: no pump, flush or VWait has run since the opening.
    EXPECT_GE(w.presents, 1);
    EXPECT_TRUE(w.dirty.empty());
    EXPECT_FALSE(w.dirtyAll);
    EXPECT_EQ(SurfacePixel(d, 0, 0), uint32_t{kBackdrop});
    EXPECT_EQ(SurfacePixel(d, 639, 479), uint32_t{kBackdrop});
}

TEST_F(LinuxDisplayTest, AltReturnRequestsTheModeSwitchOnlyWithoutNomodeswitch) {
    Declare(1, 0);
    Declare(2, kDispNoModeSwitch);
    Start();
    qbDisplay* one = Record(1);
    qbDisplay* two = Record(2);
    ASSERT_TRUE(one && two);
    EXPECT_EQ(one->view.flags & kWindowNoModeSwitch, 0u);
    EXPECT_NE(two->view.flags & kWindowNoModeSwitch, 0u);
    for (qbDisplay* d : {one, two}) {
        const uint32_t id = WindowId(d);
        PushKey(id, SDLK_LALT, true, KMOD_LALT);
        PushKey(id, SDLK_RETURN, true, KMOD_LALT);
        PushKey(id, SDLK_RETURN, false, KMOD_LALT);
        PushKey(id, SDLK_LALT, false);
        for (int result : PumpAll(nullptr, L_)) EXPECT_EQ(result, 0);
    }
    std::vector<std::pair<qbDisplay*, uint32_t>> seen;
    for (const qbInputEvent& e : Queued())
        if (e.type == kEventKey || e.type == kEventFullScreenToggle) seen.emplace_back(e.display, e.type);
    // The request switched display 1 to a full screen; display 2 stays.
    const std::vector<std::pair<qbDisplay*, uint32_t>> expected = {
        {one, kEventKey}, {one, kEventFullScreenToggle}, {one, kEventKey}, {two, kEventKey}, {two, kEventKey}};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(one->state, DISPSTATE_OPEN);
    EXPECT_EQ(one->fullScreen, 1);
    EXPECT_EQ(two->fullScreen, 0);
}

TEST_F(LinuxDisplayTest, AWindowResizedByTheUserResizesItsDisplayAndIsFilledAgain) {
    Declare(1, kDispSizeable);
    Start();
    qbDisplay* d = Record(1);
    ASSERT_NE(d, nullptr);
    const qbNativeWindow& w = Window(d);
    PushWindowEvent(w.windowId, SDL_WINDOWEVENT_MOVED, 50, 60);
    SDL_SetWindowSize(w.window, 320, 200);
    for (int result : PumpAll()) EXPECT_EQ(result, 0);
    EXPECT_EQ(d->width, 320);
    EXPECT_EQ(d->height, 200);
    EXPECT_EQ(d->bgpic->currentWidth, 320);
    EXPECT_EQ(d->bgpic->currentHeight, 200);
    // It stays where the user put it.
    EXPECT_EQ(d->x, 50);
    EXPECT_EQ(d->y, 60);
    SDL_Surface* surface = SDL_GetWindowSurface(w.window);
    ASSERT_NE(surface, nullptr);
    EXPECT_EQ(surface->w, 320);
    EXPECT_EQ(SurfacePixel(d, 319, 199), uint32_t{kBackdrop});
    EXPECT_TRUE(w.dirty.empty());
    bool resized = false;
    for (const qbInputEvent& e : Queued()) resized |= e.type == kEventResized;
    EXPECT_TRUE(resized);
}

// A 400x300 picture autoscaled into an 800x800 window keeps its proportions:
// it fills rows 100 to 699, black above and below, and clicks are mapped
// back through the same offset and factor.
TEST_F(LinuxDisplayTest, KeepProportionsShowsThePictureBetweenBlackBordersAndMapsClicksBack) {
    Declare(1, kDispAutoScale | kDispKeepProportions | kDispSizeable, [](qbDisplayDeclaration& decl) {
        decl.width = 400;
        decl.height = 300;
        decl.scaleWidth = 800;
        decl.scaleHeight = 800;
    });
    Start();
    qbDisplay* d = Record(1);
    ASSERT_NE(d, nullptr);
    int width = 0, height = 0;
    SDL_GetWindowSize(Window(d).window, &width, &height);
    ASSERT_EQ(width, 800);
    ASSERT_EQ(height, 800);
    for (int x : {0, 400, 799}) {
        for (int y : {0, 99, 700, 799}) EXPECT_EQ(SurfacePixel(d, x, y), 0u) << x << "," << y;
        for (int y : {100, 400, 699}) EXPECT_EQ(SurfacePixel(d, x, y), uint32_t{kBackdrop}) << x << "," << y;
    }
    EXPECT_DOUBLE_EQ(d->scaleX, 2.0);
    EXPECT_DOUBLE_EQ(d->scaleY, 2.0);

    const uint32_t id = WindowId(d);
    PushButton(id, SDL_BUTTON_LEFT, true, 400, 50);
    PushButton(id, SDL_BUTTON_LEFT, false, 400, 50);
    PushButton(id, SDL_BUTTON_LEFT, true, 401, 401);
    PumpAll();
    const std::vector<qbInputEvent> events = Queued();
    ASSERT_EQ(events.size(), 3u);
    int32_t x = 0, y = 0;
    // In the top border: above the picture's first row.
    WindowToDisplay(d, events[0].x, events[0].y, &x, &y);
    EXPECT_EQ(x, 200);
    EXPECT_LT(y, 0);
    WindowToDisplay(d, events[2].x, events[2].y, &x, &y);
    EXPECT_EQ(x, 200);
    EXPECT_EQ(y, 150);
    // The pointer position reads the same way.
    DisplayPointer(d, &x, &y);
    EXPECT_EQ(x, 200);
    EXPECT_EQ(y, 150);

    // Resized by the user to a wider window, the borders move to the sides.
    SDL_SetWindowSize(Window(d).window, 1000, 600);
    PumpAll();
    EXPECT_EQ(d->view.offsetX, 100);
    EXPECT_EQ(d->view.offsetY, 0);
    for (int y : {0, 599}) {
        for (int x : {0, 99, 900, 999}) EXPECT_EQ(SurfacePixel(d, x, y), 0u) << x << "," << y;
        for (int x : {100, 899}) EXPECT_EQ(SurfacePixel(d, x, y), uint32_t{kBackdrop}) << x << "," << y;
    }
    WindowToDisplay(d, 102, 4, &x, &y);
    EXPECT_EQ(x, 1);
    EXPECT_EQ(y, 2);
}

}  // namespace
