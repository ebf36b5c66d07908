// A transition between two BGPics in the player, headless: the dummy
// video driver saves every update of the window as a BMP file, so every
// frame of the effect can be read back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "e2e/e2e_util.h"
#include "e2e/frames.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kRed = 0xFF0000, kBlue = 0x0000FF;

using e2e::Frame;

std::string Call(const std::string& name, std::initializer_list<double> args) { return e2e::CallCommand(name, args); }

std::string Main(const std::string& body) { return e2e::MainFunction(body, 16); }

class TransitionPlayTest : public e2e::E2eFixture {
protected:
    std::vector<Frame> Play(const std::string& body) {
        std::vector<Frame> frames = PlayFrames(Main(body));
        EXPECT_EQ(played_.status, 0) << played_.err;
        return frames;
    }
};

}  // namespace

TEST_F(TransitionPlayTest, BlindsTurnTheWindowToTheNewBGPic) {
    // VBLINDS128 at 32 pixels a frame: six blinds across 640 pixels.
    const std::vector<Frame> frames = Play(Call("CreateBGPic", {1, 640, 480, kBlue}) + Call("DisplayBGPic", {1}) +
                                           Call("CreateBGPic", {2, 640, 480, kRed}) +
                                           Call("DisplayTransitionFX", {2, 23, 32}));
    ASSERT_FALSE(frames.empty());
    bool mixed = false;
    for (const Frame& f : frames) {
        ASSERT_EQ(f.width, 640);
        const uint32_t left = f.At(5, 100), right = f.At(120, 100);
        EXPECT_TRUE(left == kBlue || left == kRed || left == 0) << std::hex << left;
        EXPECT_TRUE(right == kBlue || right == kRed || right == 0) << std::hex << right;
        // A blind fills from its left edge: its right part never leads.
        if (left == kBlue) {
            EXPECT_NE(right, kRed);
        }
        mixed = mixed || (left == kRed && right == kBlue);
    }
    EXPECT_TRUE(mixed) << "no frame between the two pictures";
    const Frame& last = frames.back();
    for (int x = 0; x < 640; x += 7) EXPECT_EQ(last.At(x, 479), kRed) << x;
}

TEST_F(TransitionPlayTest, AScriptStepsABrushEffectAndRemovesItsLayer) {
    // HSTRIPES2 over 200 pixels at 50 a frame: four frames, and the call
    // after the last one says so.
    const std::string stepping = R"(    GETGLOBAL 0 "displaybrushfx"
    LOADK 1 #2
    LOADK 2 #100
    LOADK 3 #100
    NEWTABLE 4 0 3
    LOADK 5 #1
    SETTABLE 4 "type" 5
    SETTABLE 4 "async" 5
    LOADK 5 #50
    SETTABLE 4 "speed" 5
    CALL 0 5 2
    MOVE 6 0
    LOADK 7 #0
loop:
    ADD 7 7 #1
    GETGLOBAL 8 "asyncdrawframe"
    MOVE 9 6
    CALL 8 2 2
    EQ 1 8 #0
    JMP loop
    GETGLOBAL 0 "debugprint"
    LOADK 1 "calls"
    MOVE 2 7
    CALL 0 3 1
)";
    const std::vector<Frame> frames =
        Play(Call("CreateBGPic", {1, 640, 480, kBlue}) + Call("DisplayBGPic", {1}) + Call("EnableLayers", {}) +
             Call("CreateBrush", {2, 200, 100, kRed}) + stepping + Call("RemoveLayerFX", {1, 0, 50}));
    EXPECT_NE(played_.out.find("calls 5\n"), std::string::npos) << played_.out;
    ASSERT_FALSE(frames.empty());
    bool shownWhole = false;
    for (const Frame& f : frames)
        shownWhole = shownWhole || (f.At(100, 100) == kRed && f.At(299, 199) == kRed && f.At(200, 150) == kRed);
    EXPECT_TRUE(shownWhole) << "the brush never stood in place";
    EXPECT_EQ(frames.back().At(200, 150), kBlue);
    EXPECT_EQ(frames.back().At(100, 100), kBlue);
}
