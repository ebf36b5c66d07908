// An applet shows a sprite headless: a two-colour picture loaded as a
// two-frame sprite is shown, advanced, moved far and removed, and the saved
// frames show each step with the picture back where the sprite was.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/e2e_util.h"
#include "e2e/frames.h"
#include "imaging/imagefixtures.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBackground = 0x204060;

using e2e::Frame;

std::string Call(const std::string& name, std::initializer_list<double> args) { return e2e::CallCommand(name, args); }

class SpritesE2eTest : public e2e::E2eFixture {};

}  // namespace

TEST_F(SpritesE2eTest, ASpriteIsShownAdvancedMovedAndRemovedOverThePicture) {
    std::vector<uint32_t> pixels;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 40; ++x) pixels.push_back(x < 20 ? kRed : kGreen);
    const fs::path png = dir_ / "two.png";
    ASSERT_TRUE(imagefixtures::WriteRgbPng(png.string(), 40, 20, pixels, false, false));
    // LoadSprite(1, "two.png", {width = 20, height = 20, frames = 2}).
    std::string body = Call("CreateBrush", {9, 640, 480, kBackground}) + Call("DisplayBrush", {9, 0, 0});
    body += "    GETGLOBAL 0 \"loadsprite\"\n    LOADK 1 #1\n    LOADK 2 \"" + png.string() + "\"\n";
    body += "    NEWTABLE 3 0 3\n    LOADK 4 #20\n    SETTABLE 3 \"width\" 4\n    SETTABLE 3 \"height\" 4\n";
    body += "    LOADK 4 #2\n    SETTABLE 3 \"frames\" 4\n    CALL 0 4 1\n";
    body += Call("DisplaySprite", {1, 10, 10}) + Call("VWait", {});
    body += Call("DisplaySprite", {1, 10, 10}) + Call("VWait", {});
    body += Call("DisplaySprite", {1, 300, 200}) + Call("VWait", {});
    body += Call("RemoveSprite", {1}) + Call("VWait", {});
    const std::vector<Frame> frames = PlayFrames(e2e::MainFunction(body, 8));
    ASSERT_EQ(played_.status, 0) << played_.err;
    ASSERT_FALSE(frames.empty());
    // The steps in order: frame 1 at (10, 10), frame 2 there, frame 1 again
    // far away (each show advances) with the picture back at (10, 10), and
    // the picture alone.
    enum Step { kFirst, kSecond, kMoved, kRemoved, kSteps };
    auto classify = [](const Frame& f) {
        const uint32_t at = f.At(15, 15), far = f.At(305, 205);
        if (at == kRed && far == kBackground) return kFirst;
        if (at == kGreen && far == kBackground) return kSecond;
        if (at == kBackground && far == kRed) return kMoved;
        if (at == kBackground && far == kBackground && f.At(5, 5) == kBackground) return kRemoved;
        return kSteps;
    };
    int next = kFirst;
    for (const Frame& f : frames) {
        const int step = classify(f);
        if (step == kSteps) continue;  // before the picture was shown
        ASSERT_GE(step, next - 1) << "a step shown out of order";
        if (step == next) ++next;
    }
    EXPECT_EQ(next, kSteps);
    const Frame& last = frames.back();
    for (int y = 0; y < 240; y += 7)
        for (int x = 0; x < 340; x += 7) ASSERT_EQ(last.At(x, y), kBackground) << x << "," << y;
}
