// GrabDesktop on a real X server: an applet shows a red brush in its own
// window, grabs the whole screen into a brush and saves it; the saved
// picture holds the brush's rectangle, wherever the window stands.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "e2e/virtual_snapshots.h"
#include "imaging/imagefixtures.h"
#include "xvfb/xvfb_run.h"

namespace fs = std::filesystem;

namespace {

using e2e::Call;

class GrabDesktopTest : public XvfbFixture {};

}  // namespace

TEST_F(GrabDesktopTest, TheGrabHoldsThePlayersOwnWindow) {
    if (!HaveTool("xvfb-run") || !HaveTool("pngtopnm")) GTEST_SKIP() << "xvfb-run or netpbm is not installed";
    const fs::path png = dir_ / "grab.png";
    // Appended piece by piece: the optimiser warns of overlapping copies in
    // a chain of string sums.
    std::string quoted = "\"";
    quoted += png.string();
    quoted += '"';
    std::string source = ".function main maxstack=8\n.line 1\n";
    source += Call("createbrush", {"#1", "#50", "#40", "#16711680"});
    source += Call("displaybrush", {"#1", "#10", "#10"});
    // The window maps and shows its picture while the player waits.
    source += Call("wait", {"#50"});
    source += Call("grabdesktop", {"#2"});
    source += Call("savebrush", {"#2", quoted, "#0", "#1"});
    source += "    RETURN 0 1 0\n.end\n";
    const fs::path applet = Pack(Chunk(source, "grab"), dir_ / "grab.qba", "--include grab.qbs:1:1000:0");
    const e2e::RunResult r = UnderXvfb(std::string(QB_PLAYER_PATH) + " " + applet.string() + " -quiet\n");
    ASSERT_EQ(r.status, 0) << r.err;

    const fs::path ppm = dir_ / "grab.ppm";
    ASSERT_EQ(imagefixtures::RunQuietly("pngtopnm '" + png.string() + "' > '" + ppm.string() + "'"), 0);
    int w = 0, h = 0;
    std::vector<uint32_t> pixels;
    ASSERT_TRUE(imagefixtures::ReadPPM(ppm.string(), &w, &h, &pixels));
    EXPECT_EQ(w, 1024);
    EXPECT_EQ(h, 768);
    int left = w, top = h, right = -1, bottom = -1, count = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if ((pixels[static_cast<size_t>(y) * w + x] & 0xFFFFFFu) == 0xFF0000u) {
                ++count;
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    EXPECT_EQ(count, 50 * 40);
    EXPECT_EQ(right - left + 1, 50);
    EXPECT_EQ(bottom - top + 1, 40);
}

// On X the monitor shows the virtual screen scaled: the snapshots read that
// screen, not the root window under the display's place on it.
TEST_F(GrabDesktopTest, AFullScreenInAVirtualModeIsSnappedFromItsVirtualScreen) {
    if (!HaveTool("xvfb-run") || !HaveTool("bmptopnm")) GTEST_SKIP() << "xvfb-run or netpbm is not installed";
    const fs::path applet =
        Pack(Chunk(e2e::kVirtualSnapshotsApplet, "virt"), dir_ / "virt.qba", "--include virt.qbs:1:1000:0");
    const e2e::RunResult r = UnderXvfb(std::string(QB_PLAYER_PATH) + " " + applet.string() + " -quiet\n");
    ASSERT_EQ(r.status, 0) << r.err;
    e2e::ExpectVirtualSnapshots(dir_);
}
