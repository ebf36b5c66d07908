// The road of an anim object: an applet declares anim 1 from a generated
// IFF ANIM (so its frames wait for display 1), turns frames into brushes
// with GetAnimFrame and ConvertToBrush, copies, cuts and scales the anim,
// shows the brushes with DisplayBrush under SDL's dummy driver, and its
// error handler prints the refusal of frame 0.
#include <gtest/gtest.h>

#include "core/errcodes.h"
#include "e2e/e2e_util.h"
#include "e2e/frames.h"
#include "imaging/imagefixtures.h"
#include "media/animbuilder.h"

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

const char kHandler[] = R"(
.function handler params=4 maxstack=10
.line 20
    GETGLOBAL 4 "debugprint"
    MOVE 5 0
    MOVE 6 2
    MOVE 7 3
    CALL 4 4 1
    RETURN 0 1 0
.end
)";

class AnimRoadTest : public e2e::E2eFixture {};

}  // namespace

TEST_F(AnimRoadTest, ADeclaredAnimBecomesBrushesCopiesAndScaledFrames) {
    animbuilder::Layout layout;
    layout.width = kWidth;
    layout.height = kHeight;
    layout.planes = 2;
    layout.palette = kPalette;
    animbuilder::AnimFile anim(layout, AnimFrame(0));
    for (int f = 1; f < 5; ++f) anim.AddDelta(AnimFrame(f), animbuilder::DeltaOptions{});
    imagefixtures::WriteBytes((dir_ / "walk.anim").string(), anim.Build());

    using e2e::CallCommand;
    const std::string body = std::string("    CLOSURE 0 handler\n    SETGLOBAL 0 \"handler\"\n") +
                             "    GETGLOBAL 0 \"raiseonerror\"\n    GETGLOBAL 1 \"handler\"\n    CALL 0 2 1\n" +
                             ".line 3\n" + CallCommand("GetAnimFrame", {1, 2, 1}) +
                             CallCommand("DisplayBrush", {1, 10, 20}) + ".line 4\n" +
                             CallCommand("ConvertToBrush", {4, 1, 2, 4}) + CallCommand("DisplayBrush", {2, 40, 20}) +
                             ".line 5\n" + CallCommand("CopyAnim", {1, 2}) + CallCommand("ModifyAnimFrames", {2, -3}) +
                             CallCommand("ScaleAnim", {2, 32, 8}) + CallCommand("GetAnimFrame", {3, 2, 2}) +
                             CallCommand("DisplayBrush", {3, 70, 20}) + ".line 6\n" +
                             CallCommand("ConvertToBrush", {4, 1, 4, 0}) + ".line 7\n" +
                             "    GETGLOBAL 0 \"debugprint\"\n    LOADK 1 \"done\"\n    CALL 0 2 1\n";
    // The handler is nested in main.
    const std::string source = ".function main maxstack=8\n.line 1\n" + body + "    RETURN 0 1 0\n" + kHandler + ".end\n";
    const auto qba = Pack(Chunk(source, "anim"), dir_ / "anim.qba", "--include anim.qbs:1:1000:0 --declare 2:1:1:walk.anim");
    const e2e::RunResult r = PlaySavingFrames(qba);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, std::to_string(ERR_ANIMFRAME) + " ConvertToBrush 6\ndone\n");

    const e2e::Frame shot = e2e::LastSavedFrame(dir_);
    ASSERT_EQ(shot.width, 640);
    int wrong = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            if (shot.At(10 + x, 20 + y) != kPalette[static_cast<size_t>((x / 4 + 1) % 4)] && ++wrong < 5)
                ADD_FAILURE() << "frame 2 at " << x << "," << y;
            if (shot.At(40 + x, 20 + y) != kPalette[static_cast<size_t>((x / 4 + 3) % 4)] && ++wrong < 5)
                ADD_FAILURE() << "frame 4 at " << x << "," << y;
        }
    // The copy, cut to two frames and scaled to twice the size: the middle
    // of each doubled column block.
    for (int block = 0; block < 4; ++block)
        for (int y : {1, 6})
            if (shot.At(70 + block * 8 + 3, 20 + y) != kPalette[static_cast<size_t>((block + 1) % 4)] && ++wrong < 5)
                ADD_FAILURE() << "scaled block " << block << " row " << y;
    EXPECT_EQ(wrong, 0);
}
