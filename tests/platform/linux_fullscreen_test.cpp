// Full screens on the Linux backend under SDL's dummy driver (a 1024x768
// desktop): one desktop window shows the virtual screen scaled with its
// aspect kept, clicks reach the display under them, Alt+Return switches
// back and forth, fades darken the frames, and grabs without an X server
// show the player's windows on black.
#include <pixman.h>

#include <utility>
#include <vector>

#include "core/pixelformats.h"
#include "core/settings.h"
#include "core/vmhost.h"
#include "display/bgpics.h"
#include "display/displaylib.h"
#include "display/displays.h"
#include "draw/graphicslib.h"
#include "e2e/virtual_snapshots.h"
#include "linux_fixture.h"
#include "command_call.h"
#include "objects/bgpiclib.h"
#include "objects/brushes.h"
#include "objects/brushlib.h"
#include "vm/vm.h"

namespace {

int64_t fadeNow = 0;
int64_t FadeClock() { return fadeNow; }

class LinuxFullScreenTest : public LinuxBackendTest {
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
        ASSERT_EQ(InitBGPicLibrary(L_), 0);
        ASSERT_EQ(InitBrushLibrary(L_), 0);
        VmSetTop(L_, 0);
        // The fades of the switches pass at once.
        fadeNow = 0;
        sdl_backend::S().fadeClock = [] { return fadeNow += 100'000'000; };
    }
    void TearDown() override {
        FreeAllDisplays(L_);
        FreeAllBGPics(L_);
        FreeAllBrushes(L_);
        VmClose(L_);
        sdl_backend::S().fadeClock = nullptr;
        LinuxBackendTest::TearDown();
    }

    // Display 1, opened at start-up; more fields of its table from extra.
    qbDisplay* Start(int32_t width, int32_t height, const char* mode, int32_t x = kPositionCenter,
                     int32_t y = kPositionCenter, void (*extra)(ScriptState*) = nullptr) {
        VmPushNumber(L_, 1);
        VmPushNewTable(L_);
        if (extra) extra(L_);
        SetTableFieldInt(L_, "width", width);
        SetTableFieldInt(L_, "height", height);
        SetTableFieldInt(L_, "x", x);
        SetTableFieldInt(L_, "y", y);
        SetTableFieldInt(L_, "color", 0x808080);
        SetTableFieldInt(L_, "active", 1);
        SetTableFieldString(L_, "mode", mode);
        EXPECT_EQ(CallCommand(L_, "CreateDisplay", 2, 0), 0);
        EXPECT_EQ(StartDisplays(L_), 0);
        qbDisplay* d = nullptr;
        EXPECT_EQ(GetDisplayRecord(ObjectID{1, nullptr}, &d), 0);
        PumpAll(nullptr, L_);
        DropQueued();
        return d;
    }

    // A full screen fading out on the test's clock, begun at 10 s; the token.
    void* StartFadingOut() {
        qbDisplay* d = Start(640, 400, "fullscreen");
        EXPECT_NE(d, nullptr);
        sdl_backend::S().fadeClock = &FadeClock;
        fadeNow = 10'000'000'000;
        void* token = nullptr;
        FadeDisplayOut(&token, 0);
        EXPECT_NE(token, nullptr);
        return token;
    }

    static sdl_backend::Desktop* OnlyDesktop() {
        auto& desktops = sdl_backend::S().desktops;
        EXPECT_EQ(desktops.size(), 1u);
        return desktops.empty() ? nullptr : desktops[0].get();
    }
    // 0xRRGGBB of the desktop window's frame.
    static uint32_t Frame(int x, int y) {
        SDL_Surface* s = SDL_GetWindowSurface(OnlyDesktop()->window);
        uint32_t pixel = 0;
        std::memcpy(&pixel, static_cast<const uint8_t*>(s->pixels) + y * s->pitch + x * s->format->BytesPerPixel,
                    s->format->BytesPerPixel);
        uint8_t r, g, b;
        SDL_GetRGB(pixel, s->format, &r, &g, &b);
        return (uint32_t{r} << 16) | (uint32_t{g} << 8) | b;
    }
    static int SdlWindows() {
        int n = 0;
        for (const auto& w : sdl_backend::S().windows) n += w->window ? 1 : 0;
        return n;
    }
    void PushAltReturn(uint32_t id) {
        PushKey(id, SDLK_LALT, true, KMOD_LALT);
        PushKey(id, SDLK_RETURN, true, KMOD_LALT);
        PushKey(id, SDLK_RETURN, false, KMOD_LALT);
        PushKey(id, SDLK_LALT, false);
        for (int result : PumpAll(nullptr, L_)) EXPECT_EQ(result, 0);
    }

    ScriptState* L_ = nullptr;
};

TEST_F(LinuxFullScreenTest, AFullScreenIsOneDesktopWindowScaledAsPixmansNearest) {
    qbDisplay* d = Start(512, 384, "fullscreen");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->fullScreen, 1);
    EXPECT_EQ(SdlWindows(), 0);
    sdl_backend::Desktop* desktop = OnlyDesktop();
    ASSERT_NE(desktop, nullptr);
    int w = 0, h = 0;
    SDL_GetWindowSize(desktop->window, &w, &h);
    EXPECT_EQ(w, 1024);
    EXPECT_EQ(h, 768);
    // A picture with detail in every pixel.
    for (int y = 0; y < 384; y += 3)
        for (int x = 0; x < 512; x += 5) WriteWindowPixel(d, x, y, static_cast<uint32_t>(x * 0x101 + y * 0x10000));
    FillWindowRect(d, 100, 50, 37, 21, 0xFF8000);
    FlushNativeWindow(d);
    SDL_Surface* picture = sdl_backend::FindWindow(d)->buffer;
    ASSERT_NE(picture, nullptr);
    std::vector<uint32_t> expected(1024 * 768);
    pixman_image_t* src = pixman_image_create_bits(PIXMAN_x8r8g8b8, 512, 384, static_cast<uint32_t*>(picture->pixels),
                                                   picture->pitch);
    pixman_image_t* dst = pixman_image_create_bits(PIXMAN_x8r8g8b8, 1024, 768, expected.data(), 1024 * 4);
    pixman_transform_t scale;
    pixman_transform_init_scale(&scale, pixman_double_to_fixed(0.5), pixman_double_to_fixed(0.5));
    pixman_image_set_transform(src, &scale);
    pixman_image_set_filter(src, PIXMAN_FILTER_NEAREST, nullptr, 0);
    pixman_image_composite32(PIXMAN_OP_SRC, src, nullptr, dst, 0, 0, 0, 0, 0, 0, 1024, 768);
    pixman_image_unref(src);
    pixman_image_unref(dst);
    int differing = 0;
    for (int y = 0; y < 768; ++y)
        for (int x = 0; x < 1024; ++x) differing += Frame(x, y) != (expected[static_cast<size_t>(y) * 1024 + x] & 0xFFFFFF);
    EXPECT_EQ(differing, 0);
}

TEST_F(LinuxFullScreenTest, BarsStayBlackAndClicksReachTheDisplayUnderThem) {
    qbDisplay* d = Start(640, 400, "fullscreen");
    ASSERT_NE(d, nullptr);
    for (int y : {0, 63, 704, 767}) EXPECT_EQ(Frame(512, y), 0u) << y;
    for (int y : {64, 384, 703}) EXPECT_EQ(Frame(512, y), 0x808080u) << y;
    const uint32_t id = OnlyDesktop()->windowId;
    PushButton(id, SDL_BUTTON_LEFT, true, 10, 10);  // on the bar
    PushButton(id, SDL_BUTTON_LEFT, true, 512, 384);
    PumpAll(nullptr, L_);
    std::vector<qbInputEvent> events = Queued();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].display, d);
    EXPECT_EQ(events[0].x, 320);
    EXPECT_EQ(events[0].y, 200);
}

TEST_F(LinuxFullScreenTest, AltReturnTwiceGivesTheWindowBackAtItsPlace) {
    qbDisplay* d = Start(640, 480, "windowed", 100, 50);
    ASSERT_NE(d, nullptr);
    PushAltReturn(sdl_backend::FindWindow(d)->windowId);
    ASSERT_EQ(d->fullScreen, 1);
    EXPECT_EQ(SdlWindows(), 0);
    MonitorList monitors = ListNativeMonitors();
    EXPECT_EQ(monitors->width, 640);
    EXPECT_EQ(monitors->height, 480);
    PushAltReturn(OnlyDesktop()->windowId);
    EXPECT_EQ(d->fullScreen, 0);
    EXPECT_TRUE(sdl_backend::S().desktops.empty());
    ASSERT_NE(sdl_backend::FindWindow(d)->window, nullptr);
    int w = 0, h = 0;
    SDL_GetWindowSize(sdl_backend::FindWindow(d)->window, &w, &h);
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 480);
    EXPECT_EQ(d->x, 100);
    EXPECT_EQ(d->y, 50);
    monitors = ListNativeMonitors();
    EXPECT_EQ(monitors->width, 1024);
    EXPECT_EQ(monitors->height, 768);
}

TEST_F(LinuxFullScreenTest, FiftyTogglesLeaveOneWindowAndNoDesktop) {
    qbDisplay* d = Start(320, 200, "windowed");
    ASSERT_NE(d, nullptr);
    for (int i = 0; i < 50; ++i) {
        qbNativeWindow* w = sdl_backend::FindWindow(d);
        PushAltReturn(d->fullScreen ? OnlyDesktop()->windowId : w->windowId);
        ASSERT_EQ(d->fullScreen, i % 2 == 0 ? 1 : 0) << i;
    }
    EXPECT_EQ(SdlWindows(), 1);
    EXPECT_TRUE(sdl_backend::S().desktops.empty());
    EXPECT_EQ(sdl_backend::S().windows.size(), 1u);
}

TEST_F(LinuxFullScreenTest, FadesDarkenTheFramesStayBlackAndComeBackInASecond) {
    void* token = StartFadingOut();
    ASSERT_NE(token, nullptr);
    std::vector<int> levels;
    for (int tenth = 0; tenth <= 20; ++tenth) {
        fadeNow = 10'000'000'000 + int64_t{tenth} * 100'000'000;
        PumpNativeEvents(L_, nullptr);
        sdl_backend::PresentAllPending();
        levels.push_back(static_cast<int>(Frame(512, 384) & 0xFF));
    }
    EXPECT_EQ(levels[0], 0x80);
    for (size_t i = 1; i < levels.size(); ++i) EXPECT_LE(levels[i], levels[i - 1]) << i;
    EXPECT_GT(levels[4], 0);   // still visible at 0.4 s
    EXPECT_EQ(levels[5], 0);   // black from 0.5 s
    EXPECT_EQ(levels[20], 0);  // and until the fade-in
    FadeDisplayIn(token, 0);
    fadeNow += 500'000'000;
    sdl_backend::PresentAllPending();
    const int half = static_cast<int>(Frame(512, 384) & 0xFF);
    EXPECT_GT(half, 0);
    EXPECT_LT(half, 0x80);
    fadeNow += 500'000'000;
    sdl_backend::PresentAllPending();
    EXPECT_EQ(Frame(512, 384), 0x808080u);
    sdl_backend::S().fadeClock = [] { return fadeNow += 100'000'000; };
}

TEST_F(LinuxFullScreenTest, GrabsWithoutAnXServerShowThePlayersWindowsOnBlack) {
    qbDisplay* d = Start(64, 48, "windowed", 100, 50);
    ASSERT_NE(d, nullptr);
    NativeBitmapPtr grab = GrabScreenRegion(d, 90, 40, 30, 30);
    ASSERT_NE(grab, nullptr);
    const auto at = [&](int x, int y) {
        uint8_t rgb[3];
        ReadPixelRGB(grab->pixels.get() + y * grab->bytesPerRow + x * grab->bytesPerPixel, grab->pixelFormat, rgb);
        return (uint32_t{rgb[0]} << 16) | (uint32_t{rgb[1]} << 8) | rgb[2];
    };
    EXPECT_EQ(at(0, 0), 0u);
    EXPECT_EQ(at(9, 9), 0u);
    EXPECT_EQ(at(10, 10), 0x808080u);
    EXPECT_EQ(at(29, 29), 0x808080u);
}

// SaveSnapshot of the current display as a BMP file, read back as
// 0xRRGGBB rows.
std::vector<uint32_t> Snapshot(ScriptState* L, int kind, int* width, int* height) {
    const std::string bmp = ::testing::TempDir() + "qb_grab_" + std::to_string(getpid()) + ".bmp";
    VmPushString(L, bmp.c_str());
    VmPushNumber(L, kind);
    EXPECT_EQ(CallCommand(L, "SaveSnapshot", 2, 0), 0);
    std::vector<uint32_t> pixels = e2e::ReadBmpRows(bmp, width, height);
    std::remove(bmp.c_str());
    std::remove((bmp + ".ppm").c_str());
    return pixels;
}

TEST_F(LinuxFullScreenTest, GrabsOfAVirtualScreenReadThatScreen) {
    VmPushValue(L_, kGlobalsIndex);
    ASSERT_EQ(InitGraphicsLibrary(L_), 0);
    VmSetTop(L_, 0);
    // 640x480 in the middle of an 800x600 mode, a gradient around it; the
    // desktop window shows that screen scaled into 1024x768.
    qbDisplay* d = Start(640, 480, "fullscreen", kPositionCenter, kPositionCenter, [](ScriptState* L) {
        SetTableFieldInt(L, "scrwidth", 800);
        SetTableFieldInt(L, "scrheight", 600);
        VmPushString(L, "backfill");
        VmPushNewTable(L);
        SetTableFieldString(L, "type", "gradient");
        SetTableFieldInt(L, "startcolor", 0xFF0000);
        SetTableFieldInt(L, "endcolor", 0x0000FF);
        VmRawSet(L, -3);
    });
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(OnlyDesktop()->width, 800);
    PumpAll(nullptr, L_);
    sdl_backend::PresentAllPending();
    int ww = 0, wh = 0, dw = 0, dh = 0;
    const std::vector<uint32_t> window = Snapshot(L_, 0, &ww, &wh);
    const std::vector<uint32_t> desktop = Snapshot(L_, 2, &dw, &dh);
    e2e::ExpectVirtualScreenSnapshots(window, ww, wh, desktop, dw, dh);
}

TEST_F(LinuxFullScreenTest, AFadeOutDuringAFadeInGoesOnFromTheLevelShown) {
    void* token = StartFadingOut();
    ASSERT_NE(token, nullptr);
    fadeNow += 600'000'000;
    sdl_backend::PresentAllPending();
    ASSERT_EQ(Frame(512, 384), 0u);
    FadeDisplayIn(token, 0);
    fadeNow += 500'000'000;  // half way up
    sdl_backend::PresentAllPending();
    const int half = static_cast<int>(Frame(512, 384) & 0xFF);
    ASSERT_GT(half, 0x30);
    ASSERT_LT(half, 0x50);
    FadeDisplayOut(&token, 0);
    sdl_backend::PresentAllPending();
    EXPECT_LE(static_cast<int>(Frame(512, 384) & 0xFF), half);
    fadeNow += 125'000'000;
    sdl_backend::PresentAllPending();
    const int lower = static_cast<int>(Frame(512, 384) & 0xFF);
    EXPECT_LT(lower, half);
    EXPECT_GT(lower, 0);
    fadeNow += 125'000'000;  // the half second of a whole fade-out, from half way
    sdl_backend::PresentAllPending();
    EXPECT_EQ(Frame(512, 384), 0u);
    FadeDisplayIn(token, 0);
    fadeNow += 1'000'000'000;
    sdl_backend::PresentAllPending();
    EXPECT_EQ(Frame(512, 384), 0x808080u);
    sdl_backend::S().fadeClock = [] { return fadeNow += 100'000'000; };
}

TEST(LinuxGrabPixels, SixteenBitRowsAreReadAs1555AndOtherDepthsGiveNone) {
    EXPECT_EQ(sdl_backend::Rgb1555ToRGB(0x7FFF), 0x00F8F8F8u);
    EXPECT_EQ(sdl_backend::Rgb1555ToRGB(0x7C00), 0x00F80000u);
    EXPECT_EQ(sdl_backend::Rgb1555ToRGB(0x03E0), 0x0000F800u);
    EXPECT_EQ(sdl_backend::Rgb1555ToRGB(0x001F), 0x000000F8u);
    const uint16_t rows[2][3] = {{0x7FFF, 0x0000, 0x7C00}, {0x001F, 0x03E0, 0x4210}};
    sdl_backend::GrabbedImage image{reinterpret_cast<const uint8_t*>(rows), 3, 2, 6, 16, 0, 0, 0};
    NativeBitmapPtr out = sdl_backend::ConvertGrabbedImage(image);
    ASSERT_NE(out, nullptr);
    const auto at = [&](int x, int y) {
        uint8_t rgb[3];
        ReadPixelRGB(out->pixels.get() + y * out->bytesPerRow + x * out->bytesPerPixel, out->pixelFormat, rgb);
        return (uint32_t{rgb[0]} << 16) | (uint32_t{rgb[1]} << 8) | rgb[2];
    };
    EXPECT_EQ(at(0, 0), 0xF8F8F8u);
    EXPECT_EQ(at(1, 0), 0u);
    EXPECT_EQ(at(0, 1), 0x0000F8u);
    EXPECT_EQ(at(2, 1), 0x808080u);
    const uint32_t wide[2] = {0x00112233, 0x00445566};
    sdl_backend::GrabbedImage argb{reinterpret_cast<const uint8_t*>(wide), 2, 1, 8, 32, 0xFF0000, 0xFF00, 0xFF};
    out = sdl_backend::ConvertGrabbedImage(argb);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(at(1, 0), 0x445566u);
    image.bitsPerPixel = 24;
    EXPECT_EQ(sdl_backend::ConvertGrabbedImage(image), nullptr);
}

}  // namespace

namespace {

// A display shown on a virtual screen is a picture, not an SDL window: a new
// size is a new picture of that size, the same size keeps the picture.
TEST_F(LinuxFullScreenTest, ADisplayOnAVirtualScreenTakesANewSizeAsANewPicture) {
    qbDisplay* d = Start(640, 480, "fullscreen", kPositionCenter, kPositionCenter, [](ScriptState* L) {
        SetTableFieldInt(L, "scrwidth", 800);
        SetTableFieldInt(L, "scrheight", 600);
    });
    ASSERT_NE(d, nullptr);
    const auto size = [&](int width, int height) {
        VmSetTop(L_, 0);
        VmPushNumber(L_, width);
        VmPushNumber(L_, height);
        EXPECT_EQ(CallCommand(L_, "ChangeDisplaySize", 2, 0), 0);
        PumpAll(nullptr, L_);
        return Window(d).buffer;
    };
    SDL_Surface* picture = Window(d).buffer;
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(Window(d).window, nullptr);
    EXPECT_EQ(size(640, 480), picture);
    for (const auto& [w, h] : {std::pair{320, 240}, std::pair{320, 200}, std::pair{300, 200}}) {
        SDL_Surface* resized = size(w, h);
        ASSERT_NE(resized, nullptr);
        EXPECT_EQ(resized->w, w);
        EXPECT_EQ(resized->h, h);
    }
}

}  // namespace
