// The road of a snapshot: an applet shows a brush through a clip region and
// saves the display's picture and its window as BMP files, which an outside
// decoder reads back as what the window shows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/e2e_util.h"
#include "e2e/virtual_snapshots.h"
#include "imaging/imagefixtures.h"

namespace fs = std::filesystem;

namespace {

constexpr char kApplet[] = R"(
.function main maxstack=8
.line 1
    GETGLOBAL 0 "createbrush"
    LOADK 1 #1
    LOADK 2 #100
    LOADK 3 #60
    LOADK 4 #16711680
    CALL 0 5 1
.line 2
    GETGLOBAL 0 "createclipregion"
    LOADK 1 #1
    LOADK 2 #14
    LOADK 3 #10
    LOADK 4 #10
    LOADK 5 #30
    LOADK 6 #20
    CALL 0 7 1
.line 3
    GETGLOBAL 0 "setclipregion"
    LOADK 1 #1
    CALL 0 2 1
.line 4
    GETGLOBAL 0 "displaybrush"
    LOADK 1 #1
    LOADK 2 #0
    LOADK 3 #0
    CALL 0 4 1
.line 5
    GETGLOBAL 0 "savesnapshot"
    LOADK 1 "display.bmp"
    LOADK 2 #1
    CALL 0 3 1
.line 6
    GETGLOBAL 0 "savesnapshot"
    LOADK 1 "window.bmp"
    LOADK 2 #0
    CALL 0 3 1
    RETURN 0 1 0
.end
)";

class SnapshotTest : public e2e::E2eFixture {
protected:
    void ExpectClippedBox(const std::string& file) {
        int w = 0, h = 0;
        std::vector<uint32_t> pixels;
        const std::string ppm = (dir_ / (file + ".ppm")).string();
        ASSERT_EQ(imagefixtures::RunQuietly("bmptopnm " + (dir_ / file).string() + " > " + ppm), 0) << file;
        ASSERT_TRUE(imagefixtures::ReadPPM(ppm, &w, &h, &pixels)) << file;
        ASSERT_EQ(w, 640) << file;
        ASSERT_EQ(h, 480) << file;
        int wrong = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const bool inside = x >= 10 && x < 40 && y >= 10 && y < 30;
                const uint32_t got = pixels[static_cast<size_t>(y) * w + x];
                if (got != (inside ? 0xFF0000u : 0u) && ++wrong < 5)
                    ADD_FAILURE() << file << " " << x << "," << y << ": " << std::hex << got;
            }
        EXPECT_EQ(wrong, 0) << file;
    }
};

}  // namespace

TEST_F(SnapshotTest, ClippedDrawingSavedFromTheDisplayAndTheWindow) {
    if (!imagefixtures::HaveTool("bmptopnm")) GTEST_SKIP() << "netpbm missing";
    const fs::path qba = Pack(Chunk(kApplet, "snap"), dir_ / "snap.qba", "--include snap.qbs:1:1000:0");
    const e2e::RunResult r = Run("cd " + dir_.string() + " && " + std::string(QB_PLAYER_PATH) + " " +
                                 qba.string() + " -quiet");
    ASSERT_EQ(r.status, 0) << r.err << r.out;
    ExpectClippedBox("display.bmp");
    ExpectClippedBox("window.bmp");
}

TEST_F(SnapshotTest, AFullScreenInAVirtualModeIsSnappedFromItsVirtualScreen) {
    if (!imagefixtures::HaveTool("bmptopnm")) GTEST_SKIP() << "netpbm missing";
    const fs::path qba = Pack(Chunk(e2e::kVirtualSnapshotsApplet, "virt"), dir_ / "virt.qba",
                              "--include virt.qbs:1:1000:0");
    const e2e::RunResult r = Run("cd " + dir_.string() + " && " + std::string(QB_PLAYER_PATH) + " " +
                                 qba.string() + " -quiet");
    ASSERT_EQ(r.status, 0) << r.err << r.out;
    e2e::ExpectVirtualSnapshots(dir_);
}
