// Output selection and double buffering in the player, headless: the
// dummy video driver saves every update of the window as a BMP file, so
// every frame the window ever showed can be read back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "e2e/e2e_util.h"
#include "e2e/frames.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF;

using e2e::Frame;

std::string Call(const std::string& name, std::initializer_list<double> args) { return e2e::CallCommand(name, args); }

std::string Main(const std::string& body) { return e2e::MainFunction(body, 8); }

class SelectFlipTest : public e2e::E2eFixture {
protected:
    std::vector<Frame> Play(const std::string& body) {
        std::vector<Frame> frames = PlayFrames(Main(body));
        EXPECT_EQ(played_.status, 0) << played_.err;
        return frames;
    }
};

}  // namespace

TEST_F(SelectFlipTest, ABrushDrawnIntoAnotherShowsWithItAfterEndSelect) {
    const std::vector<Frame> frames = Play(Call("CreateBrush", {1, 10, 10, kRed}) +
                                           Call("CreateBrush", {2, 40, 40, kBlue}) + Call("SelectBrush", {2}) +
                                           Call("DisplayBrush", {1, 10, 10}) + Call("EndSelect", {}) +
                                           Call("DisplayBrush", {2, 100, 100}));
    ASSERT_FALSE(frames.empty());
    for (const Frame& f : frames) EXPECT_EQ(f.At(15, 15), 0u) << "drawn into the display, not the brush";
    const Frame& last = frames.back();
    EXPECT_EQ(last.At(115, 115), kRed);
    EXPECT_EQ(last.At(105, 105), kBlue);
    EXPECT_EQ(last.At(135, 135), kBlue);
    EXPECT_EQ(last.At(95, 95), 0u);
}

TEST_F(SelectFlipTest, ADoubleBufferedWindowShowsOnlyFlippedFrames) {
    const std::vector<Frame> frames =
        Play(Call("CreateBrush", {1, 40, 40, kRed}) + Call("CreateBrush", {2, 40, 40, kGreen}) +
             Call("DisplayBrush", {2, 200, 0}) + Call("BeginDoubleBuffer", {}) + Call("DisplayBrush", {1, 0, 0}) +
             Call("Flip", {0}) + Call("DisplayBrush", {1, 100, 0}) + Call("DisplayBrush", {2, 0, 0}) +
             Call("Flip", {0}) + Call("EndDoubleBuffer", {}));
    ASSERT_FALSE(frames.empty());
    // Each frame is the picture before double buffering, or one of the two
    // flipped ones, never a half-drawn one.
    bool first = false, second = false;
    for (const Frame& f : frames) {
        const uint32_t a = f.At(5, 5), b = f.At(105, 5), c = f.At(205, 5);
        const bool before = a == 0 && b == 0;
        const bool one = a == kRed && b == 0 && c == 0;
        const bool two = a == kGreen && b == kRed && c == 0;
        EXPECT_TRUE(before || one || two) << std::hex << a << " " << b << " " << c;
        first = first || one;
        second = second || two;
    }
    EXPECT_TRUE(first);
    EXPECT_TRUE(second);
    EXPECT_EQ(frames.back().At(5, 5), kGreen);
}
