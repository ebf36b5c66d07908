// Shaped windows on a real X server: a copy of this test binary opens the
// windows on a virtual screen and asks xwininfo for their bounding shapes.
// Skipped where xvfb-run or xwininfo are missing.
#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "core/eventqueue.h"
#include "core/preproc.h"
#include "e2e/e2e_util.h"
#include "xvfb/xvfb_run.h"
#include "queued_events.h"
#include "platform/linux/sdl_backend.h"
#include "platform/platform.h"
#include "xvfb/xvfb_run.h"
// Last: the X11 headers it brings define names that gtest uses.
#include <SDL_syswm.h>

namespace fs = std::filesystem;

namespace {

class ShapedWindowTest : public e2e::E2eFixture {};

TEST_F(ShapedWindowTest, AMaskedDisplayOpensAWindowOfItsShape) {
    for (const char* tool : {"xvfb-run", "xwininfo"})
        if (!HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    const e2e::RunResult r = Run("env -u SDL_VIDEODRIVER QB_SHAPE_CHILD=1 timeout 60 " + XvfbRun("640x480x24") + self +
                                 " --gtest_filter=ShapeChild.*");
    EXPECT_NE(r.out.find("[  PASSED  ] 1 test"), std::string::npos) << r.out << r.err;
}

// The bounding shape's rectangles as xwininfo lists them.
std::string BoundingShape(SDL_Window* window) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return "not on X11";
    const std::string file = "/tmp/qb_shape_" + std::to_string(::getpid()) + ".txt";
    const std::string cmd =
        "xwininfo -shape -id " + std::to_string(info.info.x11.window) + " >" + file + " 2>&1";
    if (std::system(cmd.c_str()) != 0) return "xwininfo failed";
    const std::string text = e2e::ReadFile(file);
    std::remove(file.c_str());
    const size_t at = text.find("-geometry");
    return at == std::string::npos ? text : text.substr(at);
}

void Settle() {
    for (int i = 0; i < 30; ++i) {
        SDL_PumpEvents();
        SDL_Delay(10);
    }
}

}  // namespace

// Run only by the test above, inside the virtual screen.
TEST(ShapeChild, TheWindowIsCutToTheMask) {
    if (!std::getenv("QB_SHAPE_CHILD")) GTEST_SKIP() << "runs inside AMaskedDisplayOpensAWindowOfItsShape";
    SetPlatformBackend(&LinuxPlatformOps());
    ASSERT_EQ(StartNativeUI(), 0);
    int displays[2] = {};
    qbDisplay* shaped = reinterpret_cast<qbDisplay*>(&displays[0]);
    qbDisplay* plain = reinterpret_cast<qbDisplay*>(&displays[1]);
    qbWindowView views[2];
    for (qbWindowView& v : views) {
        v.x = 20;
        v.y = 20;
        v.width = 200;
        v.height = 200;
        v.flags = kWindowBorderless;
    }
    std::vector<uint8_t> mask(200 * 200, 0);
    for (int y = 50; y < 150; ++y)
        for (int x = 50; x < 150; ++x) mask[static_cast<size_t>(y) * 200 + x] = 0xFF;
    ASSERT_EQ(AllocNativeWindowRec(&views[0], shaped), 0);
    ASSERT_EQ(CreateNativeWindow(shaped, 1, nullptr, mask.data()), 0);
    ASSERT_EQ(AllocNativeWindowRec(&views[1], plain), 0);
    ASSERT_EQ(CreateNativeWindow(plain, 1, nullptr, nullptr), 0);
    FillWindowRect(shaped, 0, 0, 200, 200, 0xFF0000);
    Settle();
    const std::string cut = BoundingShape(sdl_backend::FindWindow(shaped)->window);
    const std::string whole = BoundingShape(sdl_backend::FindWindow(plain)->window);
    std::printf("shaped:\n%s\nplain:\n%s\n", cut.c_str(), whole.c_str());
    EXPECT_NE(cut.find("-geometry 200x200+20+20"), std::string::npos) << cut;
    EXPECT_NE(cut.find("Window shape extents:  100x100+50+50"), std::string::npos) << cut;
    EXPECT_NE(whole.find("No window shape defined"), std::string::npos) << whole;

    // A menu joining the window: the strip stays whole above the cut picture.
    static const qbMenuTree tree = [] {
        qbMenuTree t(1);
        t[0].name = "File";
        t[0].submenu.resize(1);
        t[0].submenu[0].name = "Quit";
        return t;
    }();
    views[0].menuTree = [](qbDisplay*) -> const std::vector<qbMenuItem>* { return &tree; };
    ASSERT_EQ(UpdateWindowMenuBar(shaped), 0);
    Settle();
    const int strip = sdl_backend::FindWindow(shaped)->strip;
    ASSERT_GT(strip, 0);
    const std::string withMenu = BoundingShape(sdl_backend::FindWindow(shaped)->window);
    EXPECT_NE(withMenu.find("Window shape extents:  200x" + std::to_string(strip + 150) + "+0+0"), std::string::npos)
        << withMenu;
    views[0].menuTree = nullptr;
    ASSERT_EQ(UpdateWindowMenuBar(shaped), 0);
    Settle();
    const std::string without = BoundingShape(sdl_backend::FindWindow(shaped)->window);
    EXPECT_NE(without.find("Window shape extents:  100x100+50+50"), std::string::npos) << without;

    // A click in the window's corner, outside the shape, does not reach it;
    // one inside does, at its place in the window.
    FreeNativeWindowRec(plain);
    if (std::system("command -v xdotool >/dev/null") == 0) {
        ASSERT_EQ(InitEventQueue(), 0);
        ASSERT_EQ(std::system("xdotool mousemove 30 30 click 1 mousemove 120 130 click 1"), 0);
        std::vector<qbInputEvent> presses;
        for (int i = 0; i < 100 && presses.empty(); ++i) {
            SDL_Delay(10);
            int error = 0;
            while (SDL_HasEvents(SDL_FIRSTEVENT, SDL_LASTEVENT)) PumpNativeEvents(nullptr, &error);
            for (const qbInputEvent& e : QueuedEvents())
                if (e.type == kEventLeftButton && e.state == 1) presses.push_back(e);
        }
        ASSERT_EQ(presses.size(), 1u);
        EXPECT_EQ(presses[0].x, 100);
        EXPECT_EQ(presses[0].y, 110);
        ClearEventQueue(nullptr);
    }
    FreeNativeWindowRec(shaped);
    ShutdownPlatform();
    SetPlatformBackend(nullptr);
}
