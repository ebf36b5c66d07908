// A layer restyled by a script run by the player, headless: a red brush
// layer over a white one is moved and made half transparent, its style is
// read back, and the frame the dummy driver saved last shows white at the
// old place and the blend at the new one.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "e2e/e2e_util.h"
#include "e2e/frames.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kApplet = R"(.function main maxstack=8
.line 1
    GETGLOBAL 0 "enablelayers"
    CALL 0 1 1
    GETGLOBAL 0 "createbrush"
    LOADK 1 #1
    LOADK 2 #20
    LOADK 3 #20
    LOADK 4 #16711680
    CALL 0 5 1
    GETGLOBAL 0 "createbrush"
    LOADK 1 #2
    LOADK 2 #200
    LOADK 3 #60
    LOADK 4 #16777215
    CALL 0 5 1
    GETGLOBAL 0 "displaybrush"
    LOADK 1 #2
    LOADK 2 #0
    LOADK 3 #0
    CALL 0 4 1
    GETGLOBAL 0 "displaybrush"
    LOADK 1 #1
    LOADK 2 #10
    LOADK 3 #10
    CALL 0 4 1
.line 2
    GETGLOBAL 0 "setlayerstyle"
    LOADK 1 #2
    NEWTABLE 2 0 2
    SETTABLE 2 "x" #100
    SETTABLE 2 "transparency" #128
    CALL 0 3 1
.line 3
    GETGLOBAL 0 "getlayerstyle"
    LOADK 1 #2
    CALL 0 2 2
    GETGLOBAL 1 "debugprint"
    GETTABLE 2 0 "x"
    CALL 1 2 1
    GETGLOBAL 1 "debugprint"
    GETTABLE 2 0 "transparency"
    CALL 1 2 1
    RETURN 0 1 0
.end
)";

bool Near(uint32_t a, uint32_t b) {
    for (int shift : {16, 8, 0})
        if (std::abs(static_cast<int>((a >> shift) & 255) - static_cast<int>((b >> shift) & 255)) > 1) return false;
    return true;
}

using LayerStyleE2eTest = e2e::E2eFixture;

}  // namespace

TEST_F(LayerStyleE2eTest, AMovedHalfTransparentLayerShowsTheBlendAtItsNewPlace) {
    const fs::path qba = Pack(Chunk(kApplet, "style"), dir_ / "style.qba", "--include style.qbs:1:1000:0");
    const e2e::RunResult r = PlaySavingFrames(qba);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "100\n128\n");
    const e2e::Frame f = e2e::LastSavedFrame(dir_);
    ASSERT_GT(f.width, 130);
    ASSERT_GT(f.height, 40);
    EXPECT_EQ(f.At(15, 15), 0xFFFFFFu);  // the background where the layer was
    // Red at 255 - 128 over white.
    const uint32_t mixed = 0xFF0000u | (((255u * 128 + 127) / 255) << 8) | ((255u * 128 + 127) / 255);
    EXPECT_TRUE(Near(f.At(105, 15), mixed)) << std::hex << f.At(105, 15);
    EXPECT_TRUE(Near(f.At(119, 29), mixed)) << std::hex << f.At(119, 29);
    EXPECT_EQ(f.At(121, 31), 0xFFFFFFu);
}
