// Text in a script run by the player under SDL's dummy driver: a TEXTOUT
// layer is restyled and read back, a text object travels across the
// display, and a sprite made from it is shown once the layers are gone; the
// saved frames show each on its way.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/e2e_util.h"
#include "e2e/frames.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kApplet = R"(.function main maxstack=8
.line 1
    GETGLOBAL 0 "enablelayers"
    CALL 0 1 1
    GETGLOBAL 0 "setfont"
    LOADK 1 ":::default_sans"
    LOADK 2 #16
    CALL 0 3 1
    GETGLOBAL 0 "textout"
    LOADK 1 #10
    LOADK 2 #10
    LOADK 3 "Score: 0"
    CALL 0 4 1
.line 2
    GETGLOBAL 0 "setlayerstyle"
    LOADK 1 #1
    NEWTABLE 2 0 2
    SETTABLE 2 "text" "Score: 20"
    SETTABLE 2 "fontsize" #32
    CALL 0 3 1
.line 3
    GETGLOBAL 0 "getlayerstyle"
    LOADK 1 #1
    CALL 0 2 2
    GETGLOBAL 1 "debugprint"
    GETTABLE 2 0 "text"
    CALL 1 2 1
    GETGLOBAL 1 "debugprint"
    GETTABLE 2 0 "fontsize"
    CALL 1 2 1
    GETGLOBAL 1 "debugprint"
    GETGLOBAL 2 "getattribute"
    LOADK 3 #22
    LOADK 4 #1
    LOADK 5 #33
    CALL 2 4 2
    CALL 1 2 1
.line 4
    GETGLOBAL 0 "createtextobject"
    LOADK 1 #2
    LOADK 2 "Go"
    CALL 0 3 1
    GETGLOBAL 0 "movetextobject"
    LOADK 1 #2
    LOADK 2 #0
    LOADK 3 #200
    LOADK 4 #300
    LOADK 5 #200
    LOADK 6 #20
    CALL 0 7 1
.line 5
    GETGLOBAL 0 "createsprite"
    LOADK 1 #3
    LOADK 2 #8
    LOADK 3 #2
    CALL 0 4 1
    GETGLOBAL 0 "freelayers"
    CALL 0 1 1
    GETGLOBAL 0 "disablelayers"
    CALL 0 1 1
    GETGLOBAL 0 "displaysprite"
    LOADK 1 #3
    LOADK 2 #400
    LOADK 3 #350
    CALL 0 4 1
    GETGLOBAL 0 "vwait"
    CALL 0 1 1
    RETURN 0 1 0
.end
)";

// Whether the rectangle holds anything but the black ground.
bool Inked(const e2e::Frame& f, int x0, int y0, int x1, int y1) {
    for (int y = y0; y < y1 && y < f.height; ++y)
        for (int x = x0; x < x1 && x < f.width; ++x)
            if (f.At(x, y) != 0) return true;
    return false;
}

// The leftmost inked column of the band of rows, or -1.
int LeftInk(const e2e::Frame& f, int y0, int y1) {
    for (int x = 0; x < f.width; ++x)
        for (int y = y0; y < y1; ++y)
            if (f.At(x, y) != 0) return x;
    return -1;
}

using TextLayersE2eTest = e2e::E2eFixture;

}  // namespace

TEST_F(TextLayersE2eTest, ARestyledLayerAMovingTextObjectAndItsSprite) {
    const std::vector<e2e::Frame> frames = PlayFrames(kApplet, "text");
    ASSERT_EQ(played_.status, 0) << played_.err;
    EXPECT_EQ(played_.out, "Score: 20\n32\n32\n");
    ASSERT_GT(frames.size(), 5u);
    // The text object's way: its left edge at several places between the
    // start and the target.
    std::vector<int> lefts;
    for (const e2e::Frame& f : frames)
        if (int x = LeftInk(f, 195, 230); x >= 0 && (lefts.empty() || lefts.back() != x)) lefts.push_back(x);
    ASSERT_GE(lefts.size(), 5u);
    EXPECT_LT(lefts.front(), 40);
    EXPECT_GE(lefts.back(), 295);
    EXPECT_LE(lefts.back(), 310);
    const e2e::Frame& last = frames.back();
    // The restyled score at 32 pixels reaches well below a 16-pixel line.
    EXPECT_TRUE(Inked(last, 10, 10, 200, 30));
    EXPECT_TRUE(Inked(last, 10, 30, 200, 45));
    // The object stayed at its target; the sprite shows its picture.
    EXPECT_TRUE(Inked(last, 295, 195, 340, 225));
    EXPECT_FALSE(Inked(last, 0, 195, 250, 225));
    EXPECT_TRUE(Inked(last, 400, 345, 440, 375));
}
