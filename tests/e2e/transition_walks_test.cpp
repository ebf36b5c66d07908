// A BGPic slide over a fill colour and a roll, played by the player under SDL's dummy
// video driver, which saves every window update as a BMP file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/e2e_util.h"
#include "e2e/frames.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kRed = 0xFF0000, kBlue = 0x0000FF, kGreen = 0x00FF00;

using e2e::Frame;

class WalkTransitionTest : public e2e::E2eFixture {};

}  // namespace

TEST_F(WalkTransitionTest, SlideLeftMovesTheOldBGPicOutOverTheFillColourThenTheNewOneIn) {
    const std::string body = e2e::CallCommand("CreateBGPic", {1, 640, 480, kBlue}) +
                             e2e::CallCommand("DisplayBGPic", {1}) +
                             e2e::CallCommand("CreateBGPic", {2, 640, 480, kRed}) +
                             e2e::CallCommand("DisplayTransitionFX", {2, 101, 64, kGreen});
    const std::vector<Frame> frames = PlayFrames(e2e::MainFunction(body, 16));
    ASSERT_EQ(played_.status, 0) << played_.err;
    ASSERT_FALSE(frames.empty());
    // Green up to the old picture's left edge, which moves right; then red
    // from the new picture's left edge, which moves left.
    int32_t oldEdge = 0, newEdge = 640, leaving = 0, coming = 0;
    for (const Frame& f : frames) {
        ASSERT_EQ(f.width, 640);
        if (f.At(639, 240) == 0) continue;  // the window before the first BGPic
        const uint32_t left = f.At(0, 240);
        if (left == kBlue) continue;
        int32_t x = 0;
        if (f.At(639, 240) == kBlue) {
            while (x < 640 && f.At(x, 240) == kGreen) ++x;
            for (int32_t rest = x; rest < 640; rest += 7) ASSERT_EQ(f.At(rest, 240), kBlue) << rest;
            EXPECT_GE(x, oldEdge);
            oldEdge = x;
            ++leaving;
        } else {
            while (x < 640 && f.At(x, 240) == kGreen) ++x;
            for (int32_t rest = x; rest < 640; rest += 7) ASSERT_EQ(f.At(rest, 240), kRed) << rest;
            EXPECT_LE(x, newEdge);
            newEdge = x;
            ++coming;
        }
    }
    EXPECT_GE(leaving, 3);
    EXPECT_GE(coming, 3);
    EXPECT_EQ(newEdge, 0);
    for (int32_t x = 0; x < 640; x += 13) EXPECT_EQ(frames.back().At(x, 7), kRed) << x;
}

TEST_F(WalkTransitionTest, RollTopUnrollsTheNewBGPicDownwards) {
    const std::string body =
        e2e::CallCommand("CreateBGPic", {1, 640, 480, kBlue}) + e2e::CallCommand("DisplayBGPic", {1}) +
        e2e::CallCommand("CreateBGPic", {2, 640, 480, kRed}) + e2e::CallCommand("DisplayTransitionFX", {2, 84, 40});
    const std::vector<Frame> frames = PlayFrames(e2e::MainFunction(body, 16));
    ASSERT_EQ(played_.status, 0) << played_.err;
    ASSERT_FALSE(frames.empty());
    // Red (flat and curled) down to an edge that only moves down, blue below.
    int32_t edge = 0, between = 0;
    for (const Frame& f : frames) {
        ASSERT_EQ(f.height, 480);
        if (f.At(320, 479) == 0) continue;  // the window before the first BGPic
        int32_t y = 0;
        while (y < 480 && f.At(320, y) == kRed) ++y;
        for (int32_t rest = y; rest < 480; rest += 7) ASSERT_EQ(f.At(320, rest), kBlue) << rest;
        EXPECT_GE(y, edge);
        edge = y;
        between += y > 0 && y < 480;
    }
    EXPECT_GE(between, 5);
    EXPECT_EQ(edge, 480);
}
