// An applet moves a brush and a bouncing sprite headless: the saved frames
// show the brush at every step of its way and at its target at the end,
// the sprite overshooting on both sides, and the picture back where they
// started.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "e2e/e2e_util.h"
#include "e2e/frames.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBackground = 0x204060;
constexpr int kWidth = 320, kHeight = 60;

// The left edge of the first run of colour along row y, or -1.
int LeftEdge(const e2e::Frame& f, int y, uint32_t colour) {
    for (int x = 0; x < f.width; ++x)
        if (f.At(x, y) == colour) return x;
    return -1;
}

class MoveObjectE2eTest : public e2e::E2eFixture {};

}  // namespace

TEST_F(MoveObjectE2eTest, ABrushAndABouncingSpriteTravelFrameByFrame) {
    using e2e::CallCommand;
    std::string body = CallCommand("CreateBrush", {9, kWidth, kHeight, kBackground}) +
                       CallCommand("DisplayBrush", {9, 0, 0});
    // Brush 1 goes 300 pixels at 10 a frame; sprite 2 bounces around x 150.
    body += CallCommand("CreateBrush", {1, 10, 10, kRed}) + CallCommand("MoveBrush", {1, 5, 5, 305, 5, 10});
    body += CallCommand("CreateBrush", {3, 10, 10, kGreen}) + CallCommand("CreateSprite", {2, 3, 3});
    body += CallCommand("MoveSprite", {2, 110, 40, 150, 40, 4, -1, 1}) + CallCommand("VWait", {});
    const std::vector<e2e::Frame> frames =
        PlayFrames(e2e::MainFunction(body, 10), "app",
                   "--display-decl 1:" + std::to_string(kWidth) + ":" + std::to_string(kHeight));
    ASSERT_EQ(played_.status, 0) << played_.err;
    ASSERT_FALSE(frames.empty());
    ASSERT_EQ(frames.back().width, kWidth);
    std::set<int> brushAt, spriteAt;
    for (const e2e::Frame& f : frames) {
        if (int x = LeftEdge(f, 8, kRed); x >= 0) brushAt.insert(x);
        if (int x = LeftEdge(f, 45, kGreen); x >= 0) spriteAt.insert(x);
    }
    // Every step of the brush's way: 15, 25, ... 305.
    for (int x = 15; x <= 305; x += 10) EXPECT_TRUE(brushAt.count(x)) << x;
    EXPECT_GE(brushAt.size(), 30u);
    // The sprite overshoots by 16 steps of 4 and comes back 8 steps short.
    EXPECT_EQ(*spriteAt.rbegin(), 150 + 64);
    EXPECT_TRUE(spriteAt.count(150 - 32));
    EXPECT_EQ(*spriteAt.begin(), 110);
    const e2e::Frame& last = frames.back();
    for (int y = 5; y < 15; ++y) {
        EXPECT_EQ(last.At(310, y), kRed);
        for (int x = 0; x < 300; ++x) ASSERT_EQ(last.At(x, y), kBackground) << x << "," << y;
    }
    EXPECT_EQ(LeftEdge(last, 45, kGreen), 150);
    EXPECT_EQ(last.At(115, 45), kBackground);
}
