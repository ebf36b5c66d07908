// Display windows of the Linux backend under SDL's dummy driver: opening,
// drawing into the window surface and presenting it, placement and title,
// closing, borders, monitors and menu item states.
#include <cstring>
#include <string>
#include <vector>

#include "core/errcodes.h"
#include "core/nativebitmap.h"
#include "core/preproc.h"
#include "linux_fixture.h"

namespace {

using WindowTest = LinuxBackendTest;

TEST_F(WindowTest, APumpPresentsWhatWasDrawnWithoutAFlush) {
    Open(Display(0), nullptr);
    const qbNativeWindow& w = Window(Display(0));
    EXPECT_TRUE(SDL_IsScreenSaverEnabled());

    // The line hook pumps after every script line; that is enough.
    const int before = w.presents;
    FillWindowRect(Display(0), 0, 0, 640, 480, 0x336699);
    int error = 0;
    EXPECT_EQ(PumpNativeEvents(nullptr, &error), 0);
    EXPECT_EQ(w.presents, before + 1);
    EXPECT_TRUE(w.dirty.empty());
    EXPECT_EQ(SurfacePixel(Display(0), 639, 479), 0x336699u);
}

TEST_F(WindowTest, DrawingLandsAtTheDrawingOffsetAndIsClipped) {
    qbWindowView& view = OpenBlack(Display(0), 40, 30);
    view.offsetX = 5;
    view.offsetY = 2;
    FillWindowRect(Display(0), 30, 20, 100, 100, 0xFF0000);
    EXPECT_EQ(SurfacePixel(Display(0), 35, 22), 0xFF0000u);
    EXPECT_EQ(SurfacePixel(Display(0), 39, 29), 0xFF0000u);
    EXPECT_EQ(SurfacePixel(Display(0), 34, 22), 0x000000u);

    WriteWindowPixel(Display(0), 0, 0, 0x00FF00);
    EXPECT_EQ(SurfacePixel(Display(0), 5, 2), 0x00FF00u);
    WriteWindowPixel(Display(0), 100, 100, 0x00FF00);  // outside: ignored

    DrawWindowLine(Display(0), 0, 10, 9, 10, 0x0000FF);
    for (int x = 5; x <= 14; ++x) EXPECT_EQ(SurfacePixel(Display(0), x, 12), 0x0000FFu) << x;
    EXPECT_EQ(SurfacePixel(Display(0), 15, 12), 0x000000u);
}

TEST_F(WindowTest, LinesWithFarAwayEndsDrawOnlyTheirVisiblePartAndEndAtOnce) {
    OpenBlack(Display(0), 20, 20);
    DrawWindowLine(Display(0), -2000000000, 7, 2000000000, 7, 0xFFFFFF);
    for (int x = 0; x < 20; ++x) EXPECT_EQ(SurfacePixel(Display(0), x, 7), 0xFFFFFFu) << x;
    EXPECT_EQ(SurfacePixel(Display(0), 3, 6), 0u);
    DrawWindowLine(Display(0), -2000000000, -2000000000, 2000000000, 2000000000, 0xFF00FF);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(SurfacePixel(Display(0), i, i), 0xFF00FFu) << i;
    DrawWindowLine(Display(0), -50, -5, -10, -1, 0x123456);  // wholly outside
    EXPECT_EQ(SurfacePixel(Display(0), 0, 0), 0xFF00FFu);
}

// Coordinates near the ends of the int range, with a drawing offset on top,
// neither overflow nor draw anything.
TEST_F(WindowTest, ExtremeCoordinatesDrawNothingAndNeverOverflow) {
    constexpr int kMax = 2147483647;
    constexpr int kMin = -2147483647 - 1;
    qbWindowView& view = OpenBlack(Display(0), 8, 8);
    view.offsetX = 5;
    view.offsetY = -5;
    FillWindowRect(Display(0), kMax, 0, kMax, 8, 0xFFFFFF);
    FillWindowRect(Display(0), kMin, kMin, kMax, kMax, 0xFFFFFF);
    WriteWindowPixel(Display(0), kMax, kMin, 0xFFFFFF);
    DrawWindowLine(Display(0), kMax, kMax, kMin, kMax, 0xFFFFFF);
    NativeBitmapPtr bitmap(AllocNativeBitmapInFormat(2, 2, kPixelFormatARGB32));
    std::memset(bitmap->pixels.get(), 0xFF, static_cast<size_t>(bitmap->bytesPerRow) * 2);
    BlitToWindow(bitmap.get(), kMax, 0, Display(0), 0, 0, kMax, kMax, 0, 0, 0);
    BlitToWindow(bitmap.get(), kMin, kMin, Display(0), kMax, kMax, kMax, kMax, 0, 0, 0);
    BlitToWindow(bitmap.get(), 0, 0, Display(0), 0, 0, kMax, kMax, kMax, kMax, 0);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) EXPECT_EQ(SurfacePixel(Display(0), x, y), 0u) << x << "," << y;
    // A fill from far outside still reaches the window.
    FillWindowRect(Display(0), kMin, 5, kMax, 1, 0xFFFFFF);
    EXPECT_EQ(SurfacePixel(Display(0), 0, 0), 0xFFFFFFu);
}

TEST_F(WindowTest, BlitsCopyTheRectangleAndScaleToTheScaleSize) {
    OpenBlack(Display(0), 16, 16).offsetX = 1;
    NativeBitmapPtr bitmap(AllocNativeBitmapInFormat(4, 2, kPixelFormatARGB32));
    ASSERT_NE(bitmap, nullptr);
    const uint32_t pixels[2][4] = {{0x80FF0000, 0x0000FF00, 0xFF0000FF, 0xFFFFFFFF},
                                   {0xFF111111, 0xFF222222, 0xFF333333, 0xFF444444}};
    for (int y = 0; y < 2; ++y) std::memcpy(bitmap->pixels.get() + y * bitmap->bytesPerRow, pixels[y], 16);

    BlitToWindow(bitmap.get(), 1, 0, Display(0), 2, 3, 2, 2, 0, 0, 0);
    // Alpha is not blended: the window shows the colour.
    EXPECT_EQ(SurfacePixel(Display(0), 3, 3), 0x00FF00u);
    EXPECT_EQ(SurfacePixel(Display(0), 4, 3), 0x0000FFu);
    EXPECT_EQ(SurfacePixel(Display(0), 3, 4), 0x222222u);
    EXPECT_EQ(SurfacePixel(Display(0), 5, 3), 0u);

    // Scaled: the whole rectangle doubled, placed at the drawing offset.
    BlitToWindow(bitmap.get(), 0, 0, Display(0), 9, 9, 4, 2, 8, 4, 0);
    EXPECT_EQ(SurfacePixel(Display(0), 1, 0), 0xFF0000u);
    EXPECT_EQ(SurfacePixel(Display(0), 2, 1), 0xFF0000u);
    EXPECT_EQ(SurfacePixel(Display(0), 8, 3), 0x444444u);
    // Flag 0x100: the source is already scaled.
    BlitToWindow(bitmap.get(), 3, 1, Display(0), 10, 10, 1, 1, 8, 4, 0x100);
    EXPECT_EQ(SurfacePixel(Display(0), 11, 10), 0x444444u);
    EXPECT_EQ(SurfacePixel(Display(0), 12, 10), 0u);

    // Sources reaching outside the bitmap are clipped, never read past it.
    BlitToWindow(bitmap.get(), 2, 1, Display(0), 0, 12, 100, 100, 0, 0, 0);
    EXPECT_EQ(SurfacePixel(Display(0), 1, 12), 0x333333u);
    EXPECT_EQ(SurfacePixel(Display(0), 3, 12), 0u);
}

TEST_F(WindowTest, ARectangleListShowsWhatBlitsOneByOneShow) {
    qbWindowView& view = OpenBlack(Display(0), 30, 20);
    view.offsetX = 3;
    view.offsetY = -2;
    NativeBitmapPtr bitmap(AllocNativeBitmapInFormat(37, 23, kPixelFormatARGB32));
    ASSERT_NE(bitmap, nullptr);
    for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 37; ++x) {
            const uint32_t pixel = 0xFF000000u | static_cast<uint32_t>((x * 7 + y * 131) * 0x010203);
            std::memcpy(bitmap->pixels.get() + y * bitmap->bytesPerRow + x * 4, &pixel, 4);
        }
    // Thin columns, one off the bitmap's right edge, one from left of 0,
    // one past the bottom, one row.
    const qbWindowRect rects[] = {{0, 0, 1, 23}, {8, 0, 1, 23}, {16, 0, 3, 23}, {30, 5, 10, 4},
                                  {-4, 2, 6, 3}, {5, 20, 4, 9},  {2, 3, 4, 1}};
    const auto window = [&] {
        std::vector<uint32_t> p;
        for (int y = 0; y < 20; ++y)
            for (int x = 0; x < 30; ++x) p.push_back(SurfacePixel(Display(0), x, y));
        return p;
    };
    BlitRectsToWindow(bitmap.get(), rects, 7, Display(0), -1, 4, 0);
    const std::vector<uint32_t> together = window();
    EXPECT_NE(together, std::vector<uint32_t>(600, 0u));
    FillWindowRect(Display(0), -10, -10, 100, 100, 0);
    for (const qbWindowRect& r : rects)
        BlitToWindow(bitmap.get(), r.x, r.y, Display(0), r.x - 1, r.y + 4, r.width, r.height, 0, 0, 0);
    EXPECT_EQ(together, window());
}

TEST_F(WindowTest, NothingIsDrawnIntoAClosedDisplayExceptByADirectBlit) {
    qbWindowView& view = OpenBlack(Display(0), 8, 8);
    view.state = kWindowClosed;
    FillWindowRect(Display(0), 0, 0, 8, 8, 0xFFFFFF);
    WriteWindowPixel(Display(0), 1, 1, 0xFFFFFF);
    EXPECT_EQ(SurfacePixel(Display(0), 1, 1), 0u);
    NativeBitmapPtr bitmap(AllocNativeBitmapInFormat(1, 1, kPixelFormatARGB32));
    const uint32_t red = 0xFFFF0000;
    std::memcpy(bitmap->pixels.get(), &red, 4);
    BlitToWindow(bitmap.get(), 0, 0, Display(0), 2, 2, 1, 1, 0, 0, 0);
    EXPECT_EQ(SurfacePixel(Display(0), 2, 2), 0u);
    BlitToWindow(bitmap.get(), 0, 0, Display(0), 2, 2, 1, 1, 0, 0, 16);
    EXPECT_EQ(SurfacePixel(Display(0), 2, 2), 0xFF0000u);
    view.state = kWindowMinimised;
    WriteWindowPixel(Display(0), 1, 1, 0xFFFFFF);
    EXPECT_EQ(SurfacePixel(Display(0), 1, 1), 0xFFFFFFu);
}

TEST_F(WindowTest, FlushAndExposurePresentWhatIsPending) {
    Open(Display(0), nullptr);
    const qbNativeWindow& w = Window(Display(0));
    const int before = w.presents;
    FlushNativeWindow(Display(0));
    EXPECT_EQ(w.presents, before);  // nothing pending
    for (int i = 0; i < 100; ++i) WriteWindowPixel(Display(0), i, i, 0xFFFFFF);
    EXPECT_TRUE(w.dirtyAll);  // too many rectangles: the whole window
    FlushNativeWindow(Display(0));
    EXPECT_EQ(w.presents, before + 1);

    PushWindowEvent(WindowId(Display(0)), SDL_WINDOWEVENT_EXPOSED);
    PumpAll();
    EXPECT_EQ(w.presents, before + 2);
    EXPECT_TRUE(Queued().empty());
}

TEST_F(WindowTest, RetitleMoveResizeAndClose) {
    qbWindowView view;
    view.x = 30;
    view.y = 40;
    view.flags = kWindowDisableBlanker;
    Open(Display(0), &view);
    EXPECT_FALSE(SDL_IsScreenSaverEnabled());
    SDL_Window* window = Window(Display(0)).window;
    int x = 0, y = 0;
    SDL_GetWindowPosition(window, &x, &y);
    EXPECT_EQ(x, 30);
    EXPECT_EQ(y, 40);

    std::strcpy(view.title, "Caf\xe9");
    SetNativeWindowTitle(Display(0));
    EXPECT_STREQ(SDL_GetWindowTitle(window), "Caf\xc3\xa9");

    view.x = 120;
    view.y = 80;
    view.width = 320;
    view.height = 200;
    SetNativeWindowBounds(Display(0));
    SDL_GetWindowPosition(window, &x, &y);
    EXPECT_EQ(x, 120);
    EXPECT_EQ(y, 80);
    SDL_Surface* surface = SDL_GetWindowSurface(window);
    EXPECT_EQ(surface->w, 320);
    EXPECT_EQ(surface->h, 200);
    FillWindowRect(Display(0), 0, 0, 320, 200, 0x010203);
    EXPECT_EQ(SurfacePixel(Display(0), 319, 199), 0x010203u);
    PumpAll();
    DropQueued();

    CloseNativeWindow(Display(0));
    EXPECT_EQ(view.state, kWindowClosed);
    EXPECT_EQ(Window(Display(0)).window, nullptr);
    FillWindowRect(Display(0), 0, 0, 1, 1, 0);  // harmless once closed
    SetNativeWindowTitle(Display(0));
    FreeNativeWindowRec(Display(0));
    EXPECT_EQ(sdl_backend::FindWindow(Display(0)), nullptr);
}

TEST_F(WindowTest, WindowsNeedARecordAndASize) {
    EXPECT_EQ(CreateNativeWindow(Display(0), 1, nullptr, nullptr), ERR_WINDOW);
    EXPECT_EQ(AllocNativeWindowRec(nullptr, nullptr), ERR_WINDOW);
    qbWindowView view;
    view.width = 0;
    ASSERT_EQ(AllocNativeWindowRec(&view, Display(1)), 0);
    EXPECT_EQ(CreateNativeWindow(Display(1), 1, nullptr, nullptr), ERR_WINDOW);
    EXPECT_EQ(view.state, kWindowClosed);
}

TEST_F(WindowTest, BordersAreZeroWhereUnknownAndForBorderlessWindows) {
    qbWindowView view;
    view.borderLeft = 9;
    view.flags = kWindowBorderless;
    ASSERT_EQ(AllocNativeWindowRec(&view, Display(0)), 0);
    EXPECT_EQ(MeasureWindowBorders(Display(0)), 0);
    EXPECT_EQ(view.borderLeft, 0);
    view.flags = 0;
    view.borderTop = 5;
    EXPECT_EQ(MeasureWindowBorders(Display(0)), 0);
    EXPECT_EQ(view.borderTop, 0);  // the dummy driver has no frames
    EXPECT_EQ(view.borderHeight, 0);
}

TEST_F(WindowTest, MonitorsAreSdlDisplaysAndModesTheirDistinctSizes) {
    MonitorList monitors = ListNativeMonitors();
    ASSERT_NE(monitors, nullptr);
    SDL_Rect bounds;
    ASSERT_EQ(SDL_GetDisplayBounds(0, &bounds), 0);
    EXPECT_EQ(monitors->x, bounds.x);
    EXPECT_EQ(monitors->width, bounds.w);
    EXPECT_EQ(monitors->height, bounds.h);
    int count = 0;
    for (const qbMonitorEntry* m = monitors.get(); m; m = m->next.get()) ++count;
    EXPECT_EQ(count, SDL_GetNumVideoDisplays());

    qbWindowView view;
    view.monitor = 63;  // past the last: the first monitor
    ASSERT_EQ(AllocNativeWindowRec(&view, Display(0)), 0);
    const int modes = ListNativeDisplayModes(Display(0), nullptr);
    ASSERT_GE(modes, 1);
    std::vector<qbDisplayModeEntry> list(static_cast<size_t>(modes));
    EXPECT_EQ(ListNativeDisplayModes(Display(0), list.data()), modes);
    for (size_t i = 0; i < list.size(); ++i)
        for (size_t j = i + 1; j < list.size(); ++j)
            EXPECT_FALSE(list[i].width == list[j].width && list[i].height == list[j].height);
    SDL_DisplayMode desktop;
    ASSERT_EQ(SDL_GetDesktopDisplayMode(0, &desktop), 0);
    EXPECT_EQ(list[0].width, desktop.w);
}

TEST_F(WindowTest, MenuItemsKeepTheirStateWhileTheWindowIsOpen) {
    qbMenuItem item;
    uint32_t flags = 99;
    EXPECT_EQ(GetNativeMenuItemState(Display(0), &item, &flags), ERR_CLOSEDDISPLAY);
    EXPECT_EQ(SetNativeMenuItemState(Display(0), &item, kMenuItemChecked, 0), ERR_CLOSEDDISPLAY);
    Open(Display(0), nullptr);
    EXPECT_EQ(GetNativeMenuItemState(Display(0), &item, &flags), 0);
    EXPECT_EQ(flags, 0u);
    EXPECT_EQ(SetNativeMenuItemState(Display(0), &item, kMenuItemChecked | kMenuItemDisabled | 0x100, 0), 0);
    EXPECT_EQ(SetNativeMenuItemState(Display(0), &item, 0, kMenuItemDisabled), 0);
    EXPECT_EQ(GetNativeMenuItemState(Display(0), &item, &flags), 0);
    EXPECT_EQ(flags, uint32_t{kMenuItemChecked});
    EXPECT_EQ(UpdateWindowMenuBar(Display(0)), 0);
}

TEST_F(WindowTest, DisplayAttributesFollowTheSwitchesAndThePointer) {
    EXPECT_EQ(GetNativeDisplayAttr(nullptr, 5), 0);
    Open(Display(0), nullptr);
    EXPECT_EQ(GetNativeDisplayAttr(Display(0), 5), 32);
    SetQuitShortcut(nullptr, kQuitShortcutEscape, 1);
    EXPECT_EQ(GetNativeDisplayAttr(Display(0), 10), 1);
    EXPECT_EQ(GetNativeDisplayAttr(Display(0), 8), 0);
    SDL_Event motion{};
    motion.type = SDL_MOUSEMOTION;
    motion.motion.windowID = WindowId(Display(0));
    motion.motion.x = 17;
    motion.motion.y = 23;
    Push(motion);
    PumpAll();
    EXPECT_EQ(GetNativeDisplayAttr(Display(0), 6), 17);
    EXPECT_EQ(GetNativeDisplayAttr(Display(0), 7), 23);
    EXPECT_EQ(Window(Display(0)).view->mouseMoved, 1);
}

TEST(WindowHitTest, BorderlessRegionsDragUnlessFixedAndSizeOnlyWhenSizeable) {
    qbWindowView v;
    v.flags = kWindowBorderless;
    v.dragRegions.push_back(qbWindowRegion{0, 0, 0, 100, 20});
    v.sizeRegions.push_back(qbWindowRegion{0, 620, 460, 20, 20});
    EXPECT_EQ(sdl_backend::WindowHitTest(v, SDL_Point{99, 19}), SDL_HITTEST_DRAGGABLE);
    EXPECT_EQ(sdl_backend::WindowHitTest(v, SDL_Point{100, 19}), SDL_HITTEST_NORMAL);
    EXPECT_EQ(sdl_backend::WindowHitTest(v, SDL_Point{630, 470}), SDL_HITTEST_NORMAL);
    v.flags |= kWindowSizeable | kWindowFixed;
    EXPECT_EQ(sdl_backend::WindowHitTest(v, SDL_Point{630, 470}), SDL_HITTEST_RESIZE_BOTTOMRIGHT);
    EXPECT_EQ(sdl_backend::WindowHitTest(v, SDL_Point{5, 5}), SDL_HITTEST_NORMAL);
    // A region reaching past the largest coordinate does not wrap around.
    v.dragRegions = {qbWindowRegion{0, 2147483000, 0, 2147483000, 10}};
    v.flags = kWindowBorderless;
    EXPECT_EQ(sdl_backend::WindowHitTest(v, SDL_Point{5, 5}), SDL_HITTEST_NORMAL);
    EXPECT_EQ(sdl_backend::WindowHitTest(v, SDL_Point{2147483500, 5}), SDL_HITTEST_DRAGGABLE);
}

}  // namespace
