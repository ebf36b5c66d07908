// An applet edits a brush's pixels headless: it writes a pixel, flood-fills
// around it, tints the brush, saves it as PNG, shows it and prints two of
// its pixels. The saved file (read by netpbm), the shown frame and the
// printed numbers agree.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "e2e/e2e_util.h"
#include "e2e/frames.h"
#include "imaging/imagefixtures.h"

namespace fs = std::filesystem;

namespace {

using e2e::Call;

std::string PrintPixel(int x, int y) {
    return "    GETGLOBAL 0 \"debugprint\"\n    GETGLOBAL 1 \"readbrushpixel\"\n    LOADK 2 #1\n    LOADK 3 #" +
           std::to_string(x) + "\n    LOADK 4 #" + std::to_string(y) + "\n    CALL 1 4 0\n    CALL 0 0 1\n";
}

class BrushPixelsE2eTest : public e2e::E2eFixture {};

}  // namespace

TEST_F(BrushPixelsE2eTest, FilledTintedSavedAndShownBrushAgree) {
    if (!imagefixtures::HaveTool("pngtopnm")) GTEST_SKIP() << "netpbm is not installed";
    const fs::path png = dir_ / "out.png";
    // Appended piece by piece: the optimiser warns of overlapping copies in
    // a chain of string sums.
    std::string quoted = "\"";
    quoted += png.string();
    quoted += '"';
    std::string source = ".function main maxstack=12\n.line 1\n";
    source += Call("createbrush", {"#1", "#20", "#10", "#16711680"});
    source += Call("writebrushpixel", {"#1", "#5", "#5", "#65280"});
    source += Call("floodfill", {"#1", "#0", "#0", "#65280", "#255"});
    source += Call("tintbrush", {"#1", "#16777215", "\"50%\""});
    source += Call("savebrush", {"#1", quoted, "#0", "#1"});
    source += Call("displaybrush", {"#1", "#0", "#0"});
    source += PrintPixel(5, 5);
    source += PrintPixel(0, 0);
    source += "    RETURN 0 1 0\n.end\n";
    const fs::path qba = Pack(Chunk(source, "pixels"), dir_ / "pixels.qba", "--include pixels.qbs:1:1000:0");
    const e2e::RunResult r = PlaySavingFrames(qba);
    ASSERT_EQ(r.status, 0) << r.err;

    const fs::path ppm = dir_ / "out.ppm";
    ASSERT_EQ(imagefixtures::RunQuietly("pngtopnm '" + png.string() + "' > '" + ppm.string() + "'"), 0);
    int pw = 0, ph = 0;
    std::vector<uint32_t> saved;
    ASSERT_TRUE(imagefixtures::ReadPPM(ppm.string(), &pw, &ph, &saved));
    ASSERT_EQ(pw, 20);
    ASSERT_EQ(ph, 10);
    int w = 0, h = 0;
    const std::vector<uint32_t> shot = e2e::LastSavedFrame(dir_, &w, &h);
    ASSERT_GE(w, 20);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 20; ++x)
            ASSERT_EQ(shot[static_cast<size_t>(y) * w + x] & 0xFFFFFFu, saved[static_cast<size_t>(y) * 20 + x] & 0xFFFFFFu)
                << x << "," << y;
    // The fill reached every pixel but the green one; the tint moved both.
    const uint32_t filled = saved[0] & 0xFFFFFFu, kept = saved[5 * 20 + 5] & 0xFFFFFFu;
    EXPECT_NE(filled, kept);
    EXPECT_EQ(saved[9 * 20 + 19] & 0xFFFFFFu, filled);
    EXPECT_NE(filled, 0x0000FFu);
    EXPECT_NE(filled & 0xFF, 0u);
    EXPECT_NE(r.out.find(std::to_string(kept)), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(std::to_string(filled)), std::string::npos) << r.out;
}
