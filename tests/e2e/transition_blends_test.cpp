// BGPic transitions that mix colours and reveal through a shape, played
// headless: the dummy video driver saves every window update as a BMP file,
// and the frames are read back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/e2e_util.h"
#include "e2e/frames.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kRed = 0xFF0000, kBlue = 0x0000FF;

using e2e::Frame;

class BlendPlayTest : public e2e::E2eFixture {
protected:
    // Blue BGPic 1 shown, then the transition of the given type and speed to
    // red BGPic 2.
    std::vector<Frame> PlayTransition(int type, int speed) {
        const std::string body = e2e::CallCommand("CreateBGPic", {1, 640, 480, kBlue}) +
                                 e2e::CallCommand("DisplayBGPic", {1}) +
                                 e2e::CallCommand("CreateBGPic", {2, 640, 480, kRed}) +
                                 e2e::CallCommand("DisplayTransitionFX", {2, double(type), double(speed)});
        std::vector<Frame> frames = PlayFrames(e2e::MainFunction(body, 16));
        EXPECT_EQ(played_.status, 0) << played_.err;
        return frames;
    }
};

}  // namespace

TEST_F(BlendPlayTest, CrossFadePassesThroughTheMix) {
    // 60 a frame: levels 60, 120, 180, 240, 255.
    const std::vector<Frame> frames = PlayTransition(115, 60);
    ASSERT_FALSE(frames.empty());
    bool between = false;
    for (const Frame& f : frames) {
        const uint32_t c = f.At(320, 240);
        const uint32_t red = c >> 16 & 255, blue = c & 255;
        EXPECT_EQ(c & 0xFF00, 0u) << std::hex << c;
        // The two weights always add up to the whole, give or take rounding.
        if (c != 0) {
            EXPECT_NEAR(int(red + blue), 255, 2) << std::hex << c;
        }
        between = between || (red > 100 && blue > 100);
    }
    EXPECT_TRUE(between) << "no frame mixed the pictures";
    EXPECT_EQ(frames.back().At(0, 0), kRed);
    EXPECT_EQ(frames.back().At(639, 479), kRed);
}

TEST_F(BlendPlayTest, ClockWipeSweepsClockwise) {
    const std::vector<Frame> frames = PlayTransition(97, 30);
    ASSERT_FALSE(frames.empty());
    // Right of twelve o'clock turns before left of it, the right half
    // before the lower left quarter.
    bool rightFirst = false;
    for (const Frame& f : frames) {
        if (f.At(330, 5) == kRed && f.At(310, 5) == kBlue) rightFirst = true;
        if (f.At(100, 400) == kRed) {
            EXPECT_EQ(f.At(540, 400), kRed);
        }
        if (f.At(310, 5) == kRed) {
            EXPECT_EQ(f.At(100, 400), kRed);
        }
    }
    EXPECT_TRUE(rightFirst);
    const Frame& last = frames.back();
    for (int x = 0; x < 640; x += 13)
        for (int y : {0, 239, 479}) EXPECT_EQ(last.At(x, y), kRed) << x << "," << y;
}
