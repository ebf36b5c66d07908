// The road of an anim frame: an applet loads frame 3 of an IFF ANIM and
// frame 2 of an AVI into brushes with LoadAnimFrame, shows them with
// DisplayBrush under SDL's dummy driver, and prints what IsAnim says.
#include <gtest/gtest.h>

#include <sstream>

#include "e2e/e2e_util.h"
#include "e2e/frames.h"
#include "imaging/imagefixtures.h"
#include "media/animbuilder.h"
#include "media/avibuilder.h"

namespace {

constexpr int kWidth = 16, kHeight = 4;
const std::vector<uint32_t> kPalette = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF};

// Frame f: column x has colour (x / 4 + f) % 4.
animbuilder::Picture AnimFrame(int f) {
    animbuilder::Picture p;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) p.push_back(static_cast<uint8_t>((x / 4 + f) % 4));
    return p;
}

uint32_t AviPixel(int f, int x, int y) { return static_cast<uint32_t>(0x102030 * (f + 1) + x * 0x010000 + y * 0x000100); }

std::string LoadFrame(int brush, int frame, const std::string& file) {
    return "    GETGLOBAL 0 \"loadanimframe\"\n    LOADK 1 #" + std::to_string(brush) + "\n    LOADK 2 #" +
           std::to_string(frame) + "\n    LOADK 3 \"" + file + "\"\n    CALL 0 4 1\n";
}

std::string PrintIsAnim(const std::string& file) {
    return "    GETGLOBAL 0 \"debugprint\"\n    GETGLOBAL 1 \"isanim\"\n    LOADK 2 \"" + file +
           "\"\n    CALL 1 2 0\n    CALL 0 0 1\n";
}

class AnimFrameRoadTest : public e2e::E2eFixture {};

}  // namespace

TEST_F(AnimFrameRoadTest, FramesOfAnAnimAndAnAviAreShownAsBrushes) {
    animbuilder::Layout layout;
    layout.width = kWidth;
    layout.height = kHeight;
    layout.planes = 2;
    layout.palette = kPalette;
    animbuilder::AnimFile anim(layout, AnimFrame(0));
    for (int f = 1; f < 5; ++f) anim.AddDelta(AnimFrame(f), animbuilder::DeltaOptions{});
    const std::string animPath = (dir_ / "walk.anim").string();
    imagefixtures::WriteBytes(animPath, anim.Build());

    avibuilder::Layout aviLayout;
    aviLayout.width = kWidth;
    aviLayout.height = kHeight;
    std::vector<avibuilder::Bytes> frames;
    for (int f = 0; f < 3; ++f) {
        std::vector<uint32_t> pixels;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) pixels.push_back(AviPixel(f, x, y));
        frames.push_back(avibuilder::Dib(pixels, kWidth, kHeight, false));
    }
    const std::string aviPath = (dir_ / "clip.avi").string();
    imagefixtures::WriteBytes(aviPath, avibuilder::Build(aviLayout, frames));
    const std::string textPath = (dir_ / "note.txt").string();
    e2e::WriteFile(textPath, "no anim at all");

    const std::string body = LoadFrame(1, 3, animPath) + e2e::CallCommand("DisplayBrush", {1, 10, 20}) +
                             LoadFrame(2, 2, aviPath) + e2e::CallCommand("DisplayBrush", {2, 40, 20}) +
                             PrintIsAnim(animPath) + PrintIsAnim(aviPath) + PrintIsAnim(textPath);
    const auto qba = Pack(Chunk(e2e::MainFunction(body, 8), "anim"), dir_ / "anim.qba", "--include anim.qbs:1:1000:0");
    const e2e::RunResult r = PlaySavingFrames(qba);
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream out(r.out);
    int a = -1, b = -1, c = -1;
    out >> a >> b >> c;
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 1);
    EXPECT_EQ(c, 0);

    const e2e::Frame shot = e2e::LastSavedFrame(dir_);
    ASSERT_EQ(shot.width, 640);
    int wrong = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const uint32_t fromAnim = kPalette[static_cast<size_t>((x / 4 + 2) % 4)];
            if (shot.At(10 + x, 20 + y) != fromAnim && ++wrong < 5) ADD_FAILURE() << "anim " << x << "," << y;
            if (shot.At(40 + x, 20 + y) != AviPixel(1, x, y) && ++wrong < 5) ADD_FAILURE() << "avi " << x << "," << y;
        }
    EXPECT_EQ(wrong, 0);
}
