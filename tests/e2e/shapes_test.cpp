// Every shape from an applet run by the player, headless: into display 1,
// into a selected brush that is then shown, and as layers (a turned box
// and a circle whose radius a style changes). The dummy video driver saves
// the window's frames, which are read back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "e2e/e2e_util.h"
#include "e2e/frames.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF, kYellow = 0xFFFF00, kMagenta = 0xFF00FF,
                   kCyan = 0x00FFFF;

std::string Call(const std::string& name, std::initializer_list<double> args) { return e2e::CallCommand(name, args); }

// Register 0 the command, then the numbers, the table that fill sets up
// (its register written @) and the numbers after it.
std::string CallWithTable(std::string name, std::initializer_list<double> args, const std::string& fill,
                          std::initializer_list<double> after = {}) {
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    std::string s = "    GETGLOBAL 0 \"" + name + "\"\n";
    int reg = 1;
    const auto load = [&](double a) {
        s += "    LOADK " + std::to_string(reg++) + " #" + std::to_string(static_cast<long long>(a)) + "\n";
    };
    for (double a : args) load(a);
    const std::string table = std::to_string(reg++);
    s += "    NEWTABLE " + table + " 8 2\n";
    std::string f = fill;
    for (size_t at = f.find('@'); at != std::string::npos; at = f.find('@')) f.replace(at, 1, table);
    s += f;
    for (double a : after) load(a);
    return s + "    CALL 0 " + std::to_string(reg) + " 1\n";
}

// How many pixels of the colour the frame has in the rectangle.
int Count(const e2e::Frame& f, int x, int y, int w, int h, uint32_t colour) {
    int n = 0;
    for (int j = y; j < y + h; ++j)
        for (int i = x; i < x + w; ++i) n += f.At(i, j) == colour;
    return n;
}

class ShapesAppletTest : public e2e::E2eFixture {};

}  // namespace

TEST_F(ShapesAppletTest, EveryShapeDrawsIntoTheDisplayABrushAndLayers) {
    std::string body = Call("SetFillStyle", {1}) + Call("Box", {10, 10, 60, 40, kRed}) +
                       Call("Circle", {100, 10, 20, kGreen}) + Call("Ellipse", {160, 10, 30, 15, kBlue}) +
                       Call("Arc", {240, 10, 20, 20, 0, 90, kYellow}) +
                       CallWithTable("Polygon", {300, 10},
                                     "    SETTABLE @ #0 #0\n    SETTABLE @ #1 #0\n    SETTABLE @ #2 #40\n"
                                     "    SETTABLE @ #3 #0\n    SETTABLE @ #4 #20\n    SETTABLE @ #5 #30\n",
                                     {3, kMagenta}) +
                       Call("Line", {360, 10, 420, 50, kCyan});
    // Into a brush, shown below the row.
    body += Call("CreateBrush", {1, 60, 40, 0}) + Call("SelectBrush", {1}) + Call("Box", {5, 5, 20, 10, kRed}) +
            Call("Circle", {30, 5, 10, kGreen}) + Call("EndSelect", {}) + Call("DisplayBrush", {1, 10, 100});
    // Layers: a turned box and a circle restyled to a radius of 30.
    body +=
        Call("EnableLayers", {}) + CallWithTable("Box", {10, 200, 60, 40, kRed}, "    SETTABLE @ \"rotate\" #30\n") +
        Call("Circle", {200, 200, 10, kGreen}) + CallWithTable("SetLayerStyle", {2}, "    SETTABLE @ \"radius\" #30\n");
    const std::vector<e2e::Frame> frames = PlayFrames(e2e::MainFunction(body, 12));
    ASSERT_EQ(played_.status, 0) << played_.err;
    ASSERT_FALSE(frames.empty());
    const e2e::Frame& f = frames.back();
    EXPECT_EQ(Count(f, 10, 10, 60, 40, kRed), 2400);
    EXPECT_EQ(f.At(120, 30), kGreen);
    EXPECT_EQ(f.At(190, 25), kBlue);
    EXPECT_GT(Count(f, 240, 10, 41, 41, kYellow), 200);
    EXPECT_EQ(f.At(320, 15), kMagenta);
    EXPECT_GT(Count(f, 360, 10, 61, 41, kCyan), 55);
    // The brush: its box and circle where it was shown.
    EXPECT_EQ(f.At(20, 110), kRed);
    EXPECT_EQ(f.At(50, 115), kGreen);
    // The turned box keeps its area; the circle grew to radius 30.
    const int box = Count(f, 0, 150, 110, 110, kRed);
    EXPECT_GT(box, 2300);
    EXPECT_LT(box, 2500);
    EXPECT_EQ(f.At(69, 238), 0u) << "the box is turned";
    const int circle = Count(f, 195, 195, 70, 70, kGreen);
    EXPECT_GT(circle, 2700);
    EXPECT_LT(circle, 2950);
}
