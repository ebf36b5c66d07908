// Transitions that move or scale whole BGPics, played by the player under
// SDL's dummy video driver, which saves every window update as a BMP file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/e2e_util.h"
#include "e2e/frames.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kRed = 0xFF0000, kBlue = 0x0000FF;

using e2e::Frame;

class MovingTransitionTest : public e2e::E2eFixture {
protected:
    // Blue BGPic 1 on the window, then the effect to red BGPic 2.
    std::vector<Frame> Play(double type, double speed) {
        const std::string body = e2e::CallCommand("CreateBGPic", {1, 640, 480, kBlue}) +
                                 e2e::CallCommand("DisplayBGPic", {1}) +
                                 e2e::CallCommand("CreateBGPic", {2, 640, 480, kRed}) +
                                 e2e::CallCommand("DisplayTransitionFX", {2, type, speed});
        std::vector<Frame> frames = PlayFrames(e2e::MainFunction(body, 16));
        EXPECT_EQ(played_.status, 0) << played_.err;
        return frames;
    }
};

}  // namespace

TEST_F(MovingTransitionTest, PushLeftSlidesTheNewBGPicInFromTheLeft) {
    const std::vector<Frame> frames = Play(78, 64);
    ASSERT_FALSE(frames.empty());
    int32_t edge = 0, between = 0;
    for (const Frame& f : frames) {
        ASSERT_EQ(f.width, 640);
        if (f.At(639, 240) == 0) continue;  // the window before the first BGPic
        // Red up to an edge, blue from there: the edge only moves right.
        int32_t x = 0;
        while (x < 640 && f.At(x, 240) == kRed) ++x;
        for (int32_t rest = x; rest < 640; rest += 9) ASSERT_EQ(f.At(rest, 240), kBlue) << rest;
        EXPECT_GE(x, edge);
        edge = x;
        between += x > 0 && x < 640;
    }
    EXPECT_GE(between, 5) << "too few frames between the pictures";
    EXPECT_EQ(edge, 640);
}

TEST_F(MovingTransitionTest, ZoomInShrinksTheOldBGPicIntoBlackAndGrowsTheNewOne) {
    const std::vector<Frame> frames = Play(118, 64);
    ASSERT_FALSE(frames.empty());
    bool oldInBlack = false, newInBlack = false;
    for (const Frame& f : frames) {
        const uint32_t corner = f.At(2, 2), middle = f.At(320, 240);
        oldInBlack = oldInBlack || (corner == 0 && middle == kBlue);
        if (corner == 0 && middle == kRed) {
            EXPECT_TRUE(oldInBlack) << "the new picture grew before the old one shrank";
            newInBlack = true;
        }
    }
    EXPECT_TRUE(oldInBlack);
    EXPECT_TRUE(newInBlack);
    for (int32_t x = 0; x < 640; x += 13) EXPECT_EQ(frames.back().At(x, 7), kRed) << x;
}
