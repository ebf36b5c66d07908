// DrawPath from an applet run by the player, headless: a path centred in
// display 1, drawn into a selected brush that is then shown, and as a
// layer. The dummy video driver saves the window's frames, read back here.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/e2e_util.h"
#include "e2e/frames.h"

namespace {

constexpr uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF;
constexpr double kCenter = -100000;

std::string Call(const std::string& name, std::initializer_list<double> args) { return e2e::CallCommand(name, args); }

int Count(const e2e::Frame& f, int x, int y, int w, int h, uint32_t colour) {
    int n = 0;
    for (int j = y; j < y + h; ++j)
        for (int i = x; i < x + w; ++i) n += f.At(i, j) == colour;
    return n;
}

class DrawPathAppletTest : public e2e::E2eFixture {};

}  // namespace

TEST_F(DrawPathAppletTest, APathDrawsCentredIntoABrushAndAsALayer) {
    // A 100 x 60 box path with a notch cut into its top edge.
    std::string body = Call("SetFillStyle", {1}) + Call("StartPath", {1}) + Call("MoveTo", {1, 0, 0}) +
                       Call("LineTo", {1, 40, 0}) + Call("LineTo", {1, 50, 20}) + Call("LineTo", {1, 60, 0}) +
                       Call("LineTo", {1, 100, 0}) + Call("LineTo", {1, 100, 60}) + Call("LineTo", {1, 0, 60}) +
                       Call("ClosePath", {1});
    body += Call("DrawPath", {1, kCenter, kCenter, kRed});
    body += Call("CreateBrush", {2, 120, 80, 0}) + Call("SelectBrush", {2}) + Call("DrawPath", {1, 10, 10, kGreen}) +
            Call("EndSelect", {}) + Call("DisplayBrush", {2, 10, 10});
    body += Call("EnableLayers", {}) + Call("DrawPath", {1, 400, 350, kBlue}) + Call("FreePath", {1});
    const std::vector<e2e::Frame> frames = PlayFrames(e2e::MainFunction(body, 8));
    ASSERT_EQ(played_.status, 0) << played_.err;
    ASSERT_FALSE(frames.empty());
    const e2e::Frame& f = frames.back();
    // Centred in 640 x 480: the box from (270, 210), the notch's tip at
    // (320, 230).
    EXPECT_EQ(f.At(275, 265), kRed);
    EXPECT_EQ(f.At(365, 212), kRed);
    EXPECT_EQ(f.At(320, 215), 0u);
    EXPECT_EQ(f.At(269, 240), 0u);
    EXPECT_EQ(f.At(370, 240), 0u);
    const int red = Count(f, 260, 200, 120, 80, kRed);
    EXPECT_GT(red, 5700);
    EXPECT_LT(red, 5850);  // 6000 less the notch's 200
    // The brush shown at (10, 10) holds the path at (10, 10).
    EXPECT_EQ(f.At(25, 75), kGreen);
    EXPECT_EQ(f.At(19, 75), 0u);
    EXPECT_EQ(f.At(70, 25), 0u);
    // The layer outlives its path.
    EXPECT_EQ(f.At(405, 405), kBlue);
    EXPECT_GT(Count(f, 390, 340, 120, 80, kBlue), 5700);
}

// Display 64 x 48 shown at 128 x 96 by the layer scaling engine: a path
// layer is drawn again at the window's size, so it matches the path of
// twice the size drawn in a display of that size (its picture scaled would
// show steps two pixels high along the slope).
TEST_F(DrawPathAppletTest, APathLayerOnAScaledDisplayIsDrawnAtTheWindowsSize) {
    const auto triangle = [](double k, double at) {
        return Call("EnableLayers", {}) + Call("SetFillStyle", {1}) + Call("StartPath", {1}) +
               Call("MoveTo", {1, 0, 0}) + Call("LineTo", {1, 21 * k, 0}) + Call("LineTo", {1, 0, 13 * k}) +
               Call("ClosePath", {1}) + Call("DrawPath", {1, at, at, kRed});
    };
    std::vector<e2e::Frame> frames =
        PlayFrames(e2e::MainFunction(triangle(1, 8), 8), "scaled", "--display-size 64:48 --scale 1:128:96:0");
    ASSERT_EQ(played_.status, 0) << played_.err;
    ASSERT_FALSE(frames.empty());
    const e2e::Frame scaled = frames.back();
    frames = PlayFrames(e2e::MainFunction(triangle(2, 16), 8), "plain", "--display-size 128:96");
    ASSERT_EQ(played_.status, 0) << played_.err;
    ASSERT_FALSE(frames.empty());
    const e2e::Frame& plain = frames.back();
    ASSERT_EQ(scaled.width, 128);
    ASSERT_EQ(plain.width, 128);
    int red = 0, wrong = 0;
    for (int y = 0; y < 96; ++y)
        for (int x = 0; x < 128; ++x) {
            red += plain.At(x, y) == kRed;
            wrong += scaled.At(x, y) != plain.At(x, y);
        }
    EXPECT_GT(red, 500);
    EXPECT_LE(wrong, 2);
}
