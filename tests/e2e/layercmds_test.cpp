// Layer stack commands in a script run by the player, headless: three
// overlapping brush layers are swapped, hidden and named, the hit test and
// the layer collision are printed, and the last saved frame shows the new
// stacking.
#include <gtest/gtest.h>

#include <string>

#include "e2e/e2e_util.h"
#include "e2e/frames.h"

namespace fs = std::filesystem;

namespace {

std::string Body() {
    std::string s = e2e::CallCommand("EnableLayers", {});
    const double colours[3] = {0xFF0000, 0x00FF00, 0x0000FF};
    for (int i = 0; i < 3; ++i) s += e2e::CallCommand("CreateBrush", {double(i + 1), 20, 20, colours[i]});
    for (int i = 0; i < 3; ++i) s += e2e::CallCommand("DisplayBrush", {double(i + 1), 10.0 + 10 * i, 10.0 + 10 * i});
    // Red on top, blue at the bottom; green hidden.
    s += e2e::CallCommand("SwapLayers", {1, 3});
    s += e2e::CallCommand("HideLayer", {2});
    s += R"(    GETGLOBAL 0 "setlayername"
    LOADK 1 #2
    LOADK 2 "middle"
    CALL 0 3 1
    GETGLOBAL 0 "getlayeratpos"
    LOADK 1 #35
    LOADK 2 #35
    CALL 0 3 3
    GETGLOBAL 2 "debugprint"
    MOVE 3 0
    MOVE 4 1
    CALL 2 3 1
)";
    for (int other : {2, 3}) {
        s += "    GETGLOBAL 0 \"collision\"\n    LOADK 1 #22\n    LOADK 2 #1\n    LOADK 3 #" + std::to_string(other) +
             "\n    CALL 0 4 2\n    GETGLOBAL 1 \"debugprint\"\n    MOVE 2 0\n    CALL 1 2 1\n";
    }
    return s;
}

using LayerCmdsE2eTest = e2e::E2eFixture;

}  // namespace

TEST_F(LayerCmdsE2eTest, SwappedHiddenAndNamedLayersShowTheNewStacking) {
    const fs::path qba = Pack(Chunk(e2e::MainFunction(Body(), 8), "stack"), dir_ / "stack.qba",
                              "--include stack.qbs:1:1000:0");
    const e2e::RunResult r = PlaySavingFrames(qba);
    ASSERT_EQ(r.status, 0) << r.err;
    // The hidden green layer is still hit; blue and red lie apart, blue and
    // green overlap.
    EXPECT_EQ(r.out, "2 middle\n1\n0\n");
    const e2e::Frame f = e2e::LastSavedFrame(dir_);
    ASSERT_GT(f.width, 50);
    ASSERT_GT(f.height, 50);
    EXPECT_EQ(f.At(25, 25), 0xFF0000u);  // red over where green and blue meet it
    EXPECT_EQ(f.At(35, 35), 0x0000FFu);  // green hidden: blue below shows
    EXPECT_EQ(f.At(45, 45), 0x0000FFu);
    EXPECT_EQ(f.At(15, 15), 0xFF0000u);
}
