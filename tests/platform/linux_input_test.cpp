// Pointers, qualifiers, joysticks (SDL's virtual joysticks) and the exit
// error box of the Linux backend.
#include "core/errcodes.h"
#include "core/errors.h"
#include "linux_fixture.h"

namespace {

using InputTest = LinuxBackendTest;

TEST_F(InputTest, PointerShapesAreMadeFromTheCallersPixelsWithoutChangingThem) {
    uint32_t pixels[6] = {0xFF102030, 0x00000000, 0x80FFFFFF, 0xFF000000, 0x11223344, 0xFFFFFFFF};
    const std::vector<uint32_t> before(std::begin(pixels), std::end(pixels));
    qbNativePointer* pointer = nullptr;
    ASSERT_EQ(CreateNativePointer(pixels, 1, 1, &pointer, 3, 2), 0);
    ASSERT_NE(pointer, nullptr);
    EXPECT_EQ(std::vector<uint32_t>(std::begin(pixels), std::end(pixels)), before);

    qbNativePointer* bad = pointer;
    EXPECT_EQ(CreateNativePointer(nullptr, 0, 0, &bad, 3, 2), ERR_POINTERIMG);
    EXPECT_EQ(bad, nullptr);
    EXPECT_EQ(CreateNativePointer(pixels, 3, 0, &bad, 3, 2), ERR_POINTERIMG);  // hot spot outside
    EXPECT_EQ(CreateNativePointer(pixels, 0, 0, &bad, 0, 2), ERR_POINTERIMG);
    EXPECT_EQ(CreateNativePointer(pixels, 0, 0, nullptr, 3, 2), ERR_POINTERIMG);

    // A window shows the shape while it has the focus, hidden or not.
    Open(Display(0), nullptr);
    PushWindowEvent(WindowId(Display(0)), SDL_WINDOWEVENT_FOCUS_GAINED);
    PumpAll();
    SetWindowPointer(Display(0), pointer, kPointerShape);
    EXPECT_EQ(Window(Display(0)).pointer, pointer);
    if (pointer->cursor) {
        EXPECT_EQ(SDL_GetCursor(), pointer->cursor);
    }
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);
    HideWindowPointer(Display(0));
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
    PushWindowEvent(WindowId(Display(0)), SDL_WINDOWEVENT_FOCUS_LOST);
    PumpAll();
    SDL_ShowCursor(SDL_ENABLE);  // as another window would
    PushWindowEvent(WindowId(Display(0)), SDL_WINDOWEVENT_FOCUS_GAINED);
    PumpAll();
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
    ShowWindowPointer(Display(0));
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);
    // Setting a pointer shows it again; busy falls back to the arrow here.
    HideWindowPointer(Display(0));
    SetWindowPointer(Display(0), nullptr, kPointerBusy);
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);

    SetWindowPointer(Display(0), pointer, kPointerShape);
    FreeNativePointer(pointer);  // the window falls back to the arrow
    EXPECT_EQ(Window(Display(0)).pointer, nullptr);
    EXPECT_EQ(Window(Display(0)).pointerKind, kPointerArrow);
    FreeNativePointer(nullptr);
}

TEST_F(InputTest, QualifierWordHasTheBaseBitAndRightHandKeysAddTheirOwn) {
    EXPECT_EQ(sdl_backend::QualifierWord(KMOD_NONE), 0x80000000u);
    EXPECT_EQ(sdl_backend::QualifierWord(KMOD_RSHIFT), 0x80030000u);
    EXPECT_EQ(sdl_backend::QualifierWord(KMOD_LALT | KMOD_RCTRL), 0x80C40000u);
    EXPECT_EQ(sdl_backend::QualifierWord(KMOD_RGUI), 0x80300000u);
    EXPECT_EQ(sdl_backend::QualifierWord(KMOD_CAPS | KMOD_NUM), 0x80000000u);
    SDL_SetModState(KMOD_LCTRL);
    EXPECT_EQ(GetKeyQualifiers(), 0x80400000u);
    SDL_SetModState(KMOD_NONE);
}

TEST_F(InputTest, VirtualJoystickGivesDirectionsAndButtonBits) {
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_JOYSTICK), 0);
    const int index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 2, 40, 0);
    ASSERT_GE(index, 0) << SDL_GetError();
    int count = 0;
    ASSERT_EQ(ScanJoysticks(&count), 0);
    ASSERT_EQ(count, index + 1);
    SDL_Joystick* joystick = sdl_backend::S().joysticks[static_cast<size_t>(index)];

    const struct {
        int16_t x, y;
        int direction;
    } cases[] = {{0, 0, 8},          {0, -32768, 0},   {32767, -32768, 1}, {32767, 0, 2},   {32767, 32767, 3},
                 {0, 32767, 4},      {-32768, 32767, 5}, {-32768, 0, 6},   {-32768, -32768, 7},
                 {16383, -16384, 8}, {16500, -16500, 1}};
    for (const auto& c : cases) {
        SDL_JoystickSetVirtualAxis(joystick, 0, c.x);
        SDL_JoystickSetVirtualAxis(joystick, 1, c.y);
        int direction = -1, buttons = -1;
        ASSERT_EQ(ReadJoystick(index, &direction, &buttons), 0);
        EXPECT_EQ(direction, c.direction) << c.x << "," << c.y;
        EXPECT_EQ(buttons, 0);
    }
    SDL_JoystickSetVirtualButton(joystick, 0, SDL_PRESSED);
    SDL_JoystickSetVirtualButton(joystick, 31, SDL_PRESSED);
    SDL_JoystickSetVirtualButton(joystick, 35, SDL_PRESSED);  // beyond the 32 that count
    int buttons = 0;
    ASSERT_EQ(ReadJoystick(index, nullptr, &buttons), 0);
    EXPECT_EQ(static_cast<uint32_t>(buttons), 0x80000001u);

    // A missing port is an error and leaves the answers alone.
    int direction = 7;
    EXPECT_EQ(ReadJoystick(index + 1, &direction, nullptr), ERR_NOJOYATPORT);
    EXPECT_EQ(direction, 7);
    EXPECT_EQ(ReadJoystick(-1, nullptr, nullptr), ERR_NOJOYATPORT);
    SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
}

TEST(ErrorBox, ShownOnlyOnARealDisplayAndNeverWhenSwitchedOff) {
    EXPECT_TRUE(sdl_backend::ErrorBoxWanted("x11", nullptr));
    EXPECT_TRUE(sdl_backend::ErrorBoxWanted("wayland", ""));
    EXPECT_TRUE(sdl_backend::ErrorBoxWanted("x11", "0"));
    EXPECT_FALSE(sdl_backend::ErrorBoxWanted("x11", "1"));
    EXPECT_FALSE(sdl_backend::ErrorBoxWanted("dummy", nullptr));
    EXPECT_FALSE(sdl_backend::ErrorBoxWanted("Offscreen", nullptr));
    EXPECT_FALSE(sdl_backend::ErrorBoxWanted(nullptr, nullptr));
    EXPECT_FALSE(sdl_backend::ErrorBoxWanted("", nullptr));
}

TEST(ErrorBox, HeadlessRunWritesStandardErrorAndReturns) {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    SetPlatformBackend(&LinuxPlatformOps());
    testing::internal::CaptureStderr();
    ShowErrorRequester(nullptr, "Unable to open window!", 1, 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Unable to open window!\n");
    SetPlatformBackend(nullptr);
}

TEST(LinuxStartUp, NoUsableVideoDriverFailsAtOnceWithTheWindowError) {
    setenv("SDL_VIDEODRIVER", "no-such-driver", 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(LinuxPlatformOps().StartNativeUI(), ERR_WINDOW);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("SDL:"), std::string::npos);
    EXPECT_EQ(LinuxPlatformOps().CreateNativeWindow(nullptr, 1, nullptr, nullptr), ERR_WINDOW);
    LinuxPlatformOps().ShutdownPlatform();
    setenv("SDL_VIDEODRIVER", "dummy", 1);
}

// Wayland is left out only where libwayland could not reach a compositor
// anyway; a driver the user chose, or any way to a compositor, leaves SDL's
// own choice alone. Where an X server is named, a driver that draws nowhere
// never stands in for it.
TEST(LinuxStartUp, WaylandIsNotProbedWithoutARuntimeFolderOrSocketPath) {
    const std::vector<std::string> drivers = {"x11", "wayland", "KMSDRM", "offscreen", "dummy", "evdev"};
    const std::string noWayland = "x11,KMSDRM,offscreen,dummy,evdev";
    EXPECT_EQ(sdl_backend::HeadlessDriverChoice(drivers, nullptr, nullptr, nullptr, nullptr, nullptr), noWayland);
    EXPECT_EQ(sdl_backend::HeadlessDriverChoice(drivers, "", "relative", "wayland-0", "", ""), noWayland);
    EXPECT_EQ(sdl_backend::HeadlessDriverChoice(drivers, nullptr, nullptr, nullptr, nullptr, ":0"), "x11,KMSDRM");
    EXPECT_EQ(sdl_backend::HeadlessDriverChoice(drivers, nullptr, "/run/user/1000", nullptr, nullptr, nullptr), "");
    EXPECT_EQ(sdl_backend::HeadlessDriverChoice(drivers, nullptr, nullptr, "/tmp/wayland-1", nullptr, ":0"), "");
    EXPECT_EQ(sdl_backend::HeadlessDriverChoice(drivers, nullptr, nullptr, nullptr, "5", nullptr), "");
    EXPECT_EQ(sdl_backend::HeadlessDriverChoice(drivers, "wayland", nullptr, nullptr, nullptr, nullptr), "");
}

}  // namespace
