// An applet plays a generated IFF ANIM headless three ways: synchronously
// over the saved background, asynchronously stepped by AsyncDrawFrame, and
// as a layer; the frames SDL's dummy driver saves show the anim's frames in
// order at each place.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/e2e_util.h"
#include "e2e/frames.h"
#include "imaging/imagefixtures.h"
#include "media/animbuilder.h"


namespace {

constexpr int kWidth = 16, kHeight = 8;
const std::vector<uint32_t> kPalette = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF};

// Frame f is all colour f + 1.
animbuilder::Picture Solid(int f) {
    return animbuilder::Picture(static_cast<size_t>(kWidth * kHeight), static_cast<uint8_t>(f + 1));
}

// The colours a point showed, repeats dropped, background left out.
std::vector<uint32_t> Shown(const std::vector<e2e::Frame>& frames, int x, int y) {
    std::vector<uint32_t> seen;
    for (const e2e::Frame& f : frames) {
        const uint32_t c = f.At(x, y);
        if (c != kPalette[0] && (seen.empty() || seen.back() != c)) seen.push_back(c);
    }
    return seen;
}

// PlayAnim(1, x, y, {async = 1, speed = #FASTSPEED, times = 1}), the id kept
// in register 9.
std::string PlayAsync(int x, int y) {
    return "    GETGLOBAL 0 \"playanim\"\n    LOADK 1 #1\n    LOADK 2 #" + std::to_string(x) + "\n    LOADK 3 #" +
           std::to_string(y) +
           "\n    NEWTABLE 4 0 3\n    LOADK 5 #1\n    SETTABLE 4 \"async\" 5\n    SETTABLE 4 \"times\" 5\n"
           "    LOADK 5 #-2\n    SETTABLE 4 \"speed\" 5\n    CALL 0 5 2\n    MOVE 9 0\n";
}

std::string StepAsync() { return "    GETGLOBAL 0 \"asyncdrawframe\"\n    MOVE 1 9\n    CALL 0 2 1\n"; }

class PlayAnimE2eTest : public e2e::E2eFixture {};

}  // namespace

TEST_F(PlayAnimE2eTest, SyncAsyncAndLayerPlaysShowTheFramesInOrder) {
    animbuilder::Layout layout;
    layout.width = kWidth;
    layout.height = kHeight;
    layout.planes = 2;
    layout.palette = kPalette;
    animbuilder::AnimFile anim(layout, Solid(0));
    for (int f = 1; f < 3; ++f) anim.AddDelta(Solid(f), animbuilder::DeltaOptions{});
    imagefixtures::WriteBytes((dir_ / "walk.anim").string(), anim.Build());

    using e2e::CallCommand;
    std::string body = "    GETGLOBAL 0 \"loadanim\"\n    LOADK 1 #1\n    LOADK 2 \"walk.anim\"\n    CALL 0 3 1\n";
    // Synchronously at (10, 10), #FASTSPEED, once.
    body += CallCommand("PlayAnim", {1, 10, 10, -2, 1});
    // Asynchronously at (40, 10), a frame per AsyncDrawFrame.
    body += PlayAsync(40, 10);
    for (int i = 0; i < 4; ++i) body += StepAsync() + CallCommand("VWait", {});
    // As a layer at (70, 10).
    body += CallCommand("EnableLayers", {}) + CallCommand("PlayAnim", {1, 70, 10, -2, 1});
    body += CallCommand("VWait", {});
    const std::vector<e2e::Frame> frames = PlayFrames(e2e::MainFunction(body, 12), "app", "--display-decl 1:120:40");
    ASSERT_EQ(played_.status, 0) << played_.err;
    ASSERT_FALSE(frames.empty());
    ASSERT_EQ(frames.back().width, 120);
    const std::vector<uint32_t> inOrder(kPalette.begin() + 1, kPalette.end());
    for (int x : {10, 40, 70}) {
        // Every pixel of the anim's rectangle, and none outside it.
        EXPECT_EQ(Shown(frames, x, 10), inOrder) << x;
        EXPECT_EQ(Shown(frames, x + kWidth - 1, 10 + kHeight - 1), inOrder) << x;
        EXPECT_TRUE(Shown(frames, x + kWidth, 10).empty()) << x;
        EXPECT_TRUE(Shown(frames, x - 1, 10 + kHeight).empty()) << x;
    }
}
