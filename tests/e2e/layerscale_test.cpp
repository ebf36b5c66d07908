// An applet whose scale section asks for the layer scaling engine with
// smooth scaling: display 1 of 64x48 shown at 128x96, a red 16x16 brush
// shown as a layer on black. The player runs on SDL's dummy driver, which
// saves every update of the window; the last one must hold the square at
// twice its size with edges as sharp as the brush's own.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/e2e_util.h"
#include "e2e/frames.h"

namespace {

class LayerScaleRoadTest : public e2e::E2eFixture {};

TEST_F(LayerScaleRoadTest, ABrushLayerIsDrawnAtTheWindowsSizeWithSharpEdges) {
    const std::string source = R"(
.function main maxstack=6
.line 1
    GETGLOBAL 0 "createbrush"
    LOADK 1 #1
    LOADK 2 #16
    LOADK 3 #16
    LOADK 4 #16711680
    CALL 0 5 1
.line 2
    GETGLOBAL 0 "displaybrush"
    LOADK 1 #1
    LOADK 2 #8
    LOADK 3 #8
    CALL 0 4 1
    RETURN 0 1 0
.end
)";
    const auto qba = Pack(Chunk(source, "scaled"), dir_ / "scaled.qba",
                          "--include scaled.qbs:1:1000:0 --display-size 64:48 --scale 1:128:96:1");
    const e2e::RunResult r = PlaySavingFrames(qba);
    ASSERT_EQ(r.status, 0) << r.err;
    int w = 0, h = 0;
    const std::vector<uint32_t> shot = e2e::LastSavedFrame(dir_, &w, &h);
    ASSERT_EQ(w, 128);
    ASSERT_EQ(h, 96);
    int wrong = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool inside = x >= 16 && x < 48 && y >= 16 && y < 48;
            const uint32_t want = inside ? 0xFF0000u : 0u;
            if (shot[static_cast<size_t>(y) * w + x] != want && ++wrong < 5)
                ADD_FAILURE() << x << "," << y << ": " << std::hex << shot[static_cast<size_t>(y) * w + x];
        }
    EXPECT_EQ(wrong, 0);
}

}  // namespace
