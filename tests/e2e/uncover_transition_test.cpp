// Effects that uncover the new picture in place, run by an applet in the
// player with SDL's dummy driver saving every window update.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/e2e_util.h"
#include "e2e/frames.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kRed = 0xFF0000, kBlue = 0x0000FF;

using e2e::Frame;

std::string Call(const std::string& name, std::initializer_list<double> args) { return e2e::CallCommand(name, args); }

class UncoverPlayTest : public e2e::E2eFixture {
protected:
    std::vector<Frame> Play(const std::string& body) {
        std::vector<Frame> frames = PlayFrames(e2e::MainFunction(body, 16));
        EXPECT_EQ(played_.status, 0) << played_.err;
        return frames;
    }
};

}  // namespace

TEST_F(UncoverPlayTest, RevealLeftSweepsTheNewBGPicIn) {
    // REVEALLEFT at 32: bands of 33 columns from the left edge.
    const std::vector<Frame> frames = Play(Call("CreateBGPic", {1, 640, 480, kBlue}) + Call("DisplayBGPic", {1}) +
                                           Call("CreateBGPic", {2, 640, 480, kRed}) +
                                           Call("DisplayTransitionFX", {2, 30, 32}));
    ASSERT_FALSE(frames.empty());
    int front = 0, between = 0;
    for (const Frame& f : frames) {
        ASSERT_EQ(f.width, 640);
        if (f.At(0, 0) != kRed) continue;
        // Red from the left edge up to the front, blue after it, on every
        // row alike; the front never moves back.
        int x = 0;
        while (x < 640 && f.At(x, 240) == kRed) ++x;
        for (int y = 0; y < 480; y += 53) {
            EXPECT_EQ(f.At(x - 1, y), kRed) << y;
            if (x < 640) {
                EXPECT_EQ(f.At(x, y), kBlue) << y;
            }
        }
        for (int rest = x; rest < 640; rest += 11) ASSERT_EQ(f.At(rest, 240), kBlue) << rest;
        EXPECT_GE(x, front);
        front = x;
        between += x > 0 && x < 640;
    }
    EXPECT_EQ(front, 640);
    EXPECT_GE(between, 10) << "the sweep came in too few frames";
}

TEST_F(UncoverPlayTest, AnAsynchronousPuzzleOnABigBrushReturnsAtOnce) {
    // Tiles of 5 on 1920 x 1080: 83,545 of them in a fixed random order,
    // made before the command returns; the script then steps 20 frames.
    const std::string start = R"(    GETGLOBAL 0 "displaybrushfx"
    LOADK 1 #2
    LOADK 2 #0
    LOADK 3 #0
    NEWTABLE 4 0 3
    LOADK 5 #82
    SETTABLE 4 "type" 5
    LOADK 5 #1
    SETTABLE 4 "async" 5
    LOADK 5 #5
    SETTABLE 4 "speed" 5
    CALL 0 5 2
    MOVE 6 0
    GETGLOBAL 0 "debugprint"
    LOADK 1 "started"
    CALL 0 2 1
    LOADK 7 #0
loop:
    ADD 7 7 #1
    GETGLOBAL 8 "asyncdrawframe"
    MOVE 9 6
    CALL 8 2 2
    LT 1 7 #20
    JMP loop
    GETGLOBAL 0 "debugprint"
    LOADK 1 "stepped"
    MOVE 2 7
    CALL 0 3 1
)";
    const std::vector<Frame> frames =
        Play(Call("CreateBGPic", {1, 640, 480, kBlue}) + Call("DisplayBGPic", {1}) + Call("EnableLayers", {}) +
             Call("CreateBrush", {2, 1920, 1080, kRed}) + start);
    EXPECT_NE(played_.out.find("started"), std::string::npos) << played_.out;
    EXPECT_NE(played_.out.find("stepped 20\n"), std::string::npos) << played_.out;
    ASSERT_FALSE(frames.empty());
    // Whole 5 x 5 tiles, never more than the 20 stepped, and no frame
    // saved of the tens of thousands still to come.
    EXPECT_LE(frames.size(), 40u);
    for (const Frame& f : frames) {
        size_t red = 0;
        for (uint32_t p : f.pixels) red += p == kRed;
        EXPECT_EQ(red % 25, 0u);
        EXPECT_LE(red, 20u * 25u);
    }
}
