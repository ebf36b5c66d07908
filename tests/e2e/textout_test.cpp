// TextOut in a script run by the player under SDL's dummy driver: a
// centred "I" in the built-in sans at 120 pixels has its stem on the
// window's centre in the last saved frame, with layers off and on.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "e2e/e2e_util.h"
#include "e2e/frames.h"

namespace fs = std::filesystem;

namespace {

constexpr int kCenter = -100000;

std::string Body(bool layers) {
    std::string s = layers ? e2e::CallCommand("EnableLayers", {}) : "";
    s += R"(    GETGLOBAL 0 "setfont"
    LOADK 1 ":::default_sans"
    LOADK 2 #120
    CALL 0 3 1
    GETGLOBAL 0 "textout"
    LOADK 1 #)" + std::to_string(kCenter) + R"(
    LOADK 2 #)" + std::to_string(kCenter) + R"(
    LOADK 3 "I"
    CALL 0 4 1
)";
    return s;
}

using TextOutE2eTest = e2e::E2eFixture;

}  // namespace

TEST_F(TextOutE2eTest, ACentredStemLandsOnTheWindowCentreLayersOffAndOn) {
    for (bool layers : {false, true}) {
        const fs::path run = dir_ / (layers ? "on" : "off");
        fs::create_directories(run);
        const fs::path qba =
            Pack(Chunk(e2e::MainFunction(Body(layers), 8), "stem"), run / "stem.qba", "--include stem.qbs:1:1000:0");
        const e2e::RunResult r = PlaySavingFrames(qba, "", run);
        ASSERT_EQ(r.status, 0) << r.err;
        const e2e::Frame f = e2e::LastSavedFrame(run);
        ASSERT_EQ(f.width, 640) << layers;
        ASSERT_EQ(f.height, 480) << layers;
        // The inked columns and rows: one upright stem about the centre.
        int left = f.width, right = -1, top = f.height, bottom = -1;
        for (int y = 0; y < f.height; ++y)
            for (int x = 0; x < f.width; ++x)
                if (f.At(x, y) != 0) {
                    left = std::min(left, x), right = std::max(right, x);
                    top = std::min(top, y), bottom = std::max(bottom, y);
                }
        ASSERT_GE(right, left) << "nothing drawn, layers " << layers;
        EXPECT_NEAR((left + right) / 2.0, 320, 4) << layers;
        EXPECT_LT(right - left, 40) << layers;
        EXPECT_NEAR((top + bottom) / 2.0, 240, 30) << layers;
        EXPECT_GT(bottom - top, 60) << layers;
    }
}
