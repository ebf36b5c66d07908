// An X error naming a window that has gone is no reason for the player to
// end: SDL's wake-up events go to its window over a connection of their
// own, and can reach the server after the window was destroyed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "xvfb/xvfb_run.h"

// Last: Xlib's macros (None, Bool) clash with names in the headers above.
#include <X11/Xlib.h>

namespace fs = std::filesystem;

namespace {

class GoneWindowTest : public XvfbFixture {};

// The child below runs in a copy of this test binary on the virtual screen.
TEST_F(GoneWindowTest, AnEventSentToADestroyedWindowLeavesThePlayerRunning) {
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    const e2e::RunResult r =
        UnderXvfb("QB_GONE_WINDOW_CHILD=1 " + self + " --gtest_filter=GoneWindowChild.* >child.txt 2>&1\n");
    const std::string child = e2e::ReadFile(dir_ / "child.txt");
    EXPECT_EQ(r.status, 0) << child << r.err;
    EXPECT_NE(child.find("[  PASSED  ] 1 test"), std::string::npos) << child;
}

}  // namespace

TEST(GoneWindowChild, TheErrorIsDropped) {
    if (!std::getenv("QB_GONE_WINDOW_CHILD")) GTEST_SKIP() << "runs inside AnEventSentToADestroyedWindow...";
    SetPlatformBackend(&LinuxPlatformOps());
    ASSERT_EQ(StartNativeUI(), 0);
    Display* x = XOpenDisplay(nullptr);
    ASSERT_NE(x, nullptr);
    const Window gone = XCreateSimpleWindow(x, DefaultRootWindow(x), 0, 0, 10, 10, 0, 0, 0);
    XDestroyWindow(x, gone);
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = gone;
    event.xclient.format = 32;
    XSendEvent(x, gone, False, NoEventMask, &event);
    // The error comes back here; Xlib's own handler would end the process.
    XSync(x, False);
    XCloseDisplay(x);
    ShutdownPlatform();
    SetPlatformBackend(nullptr);
}
