// An applet reshapes a two-colour brush headless: one copy turned a quarter,
// one scaled, one stretched by a perspective, each shown on display 1; the
// saved frame has each at its size and in its colours.
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <vector>

#include "e2e/e2e_util.h"
#include "e2e/frames.h"
#include "imaging/distort.h"
#include "imaging/imagefixtures.h"

namespace fs = std::filesystem;

namespace {

constexpr int kWidth = 40, kHeight = 20;
constexpr uint32_t kRed = 0xFF0000, kGreen = 0x00FF00;

std::string Call(const std::string& name, std::initializer_list<std::string> args) {
    std::string s = "    GETGLOBAL 0 \"";
    s += name;
    s += "\"\n";
    int r = 1;
    for (const std::string& a : args) {
        s += "    LOADK ";
        s += std::to_string(r++);
        s += ' ';
        s += a;
        s += '\n';
    }
    s += "    CALL 0 ";
    s += std::to_string(r);
    s += " 1\n";
    return s;
}

class BrushGeometryE2eTest : public e2e::E2eFixture {
protected:
    std::vector<uint32_t> LastFrame(int* width, int* height) { return e2e::LastSavedFrame(dir_, width, height); }
};

}  // namespace

TEST_F(BrushGeometryE2eTest, TurnedScaledAndDistortedBrushesAreShownAtTheirSizes) {
    std::vector<uint32_t> pixels;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) pixels.push_back(x < kWidth / 2 ? kRed : kGreen);
    const fs::path png = dir_ / "pic.png";
    ASSERT_TRUE(imagefixtures::WriteRgbPng(png.string(), kWidth, kHeight, pixels, false, false));
    // Appended piece by piece: the optimiser warns of overlapping copies in
    // a long chain of string sums.
    std::string quoted = "\"";
    quoted += png.string();
    quoted += '"';
    std::string source = ".function main maxstack=12\n.line 1\n";
    source += Call("loadbrush", {"#1", quoted});
    source += Call("copybrush", {"#1", "#2"});
    source += Call("copybrush", {"#1", "#3"});
    source += Call("rotatebrush", {"#1", "#90"});
    source += Call("scalebrush", {"#2", "#80", "#40"});
    source += Call("perspectivedistortbrush", {"#3", "#0", "#0", "#60", "#0", "#60", "#20", "#0", "#20"});
    source += Call("displaybrush", {"#1", "#10", "#10"});
    source += Call("displaybrush", {"#2", "#100", "#10"});
    source += Call("displaybrush", {"#3", "#300", "#10"});
    source += "    RETURN 0 1 0\n.end\n";
    const fs::path qba = Pack(Chunk(source, "shape"), dir_ / "shape.qba", "--include shape.qbs:1:1000:0");
    const e2e::RunResult r = PlaySavingFrames(qba);
    ASSERT_EQ(r.status, 0) << r.err;
    int w = 0, h = 0;
    const std::vector<uint32_t> shot = LastFrame(&w, &h);
    ASSERT_EQ(w, 640);
    auto at = [&](int x, int y) { return shot[static_cast<size_t>(y) * w + x]; };

    // The quarter turn: 20 x 40, red in one half and green in the other.
    int red = 0, green = 0;
    for (int y = 10; y < 50; ++y)
        for (int x = 10; x < 30; ++x) {
            red += at(x, y) == kRed;
            green += at(x, y) == kGreen;
        }
    EXPECT_EQ(red, 400);
    EXPECT_EQ(green, 400);
    EXPECT_EQ(at(30, 10), 0u);
    EXPECT_EQ(at(10, 50), 0u);
    EXPECT_EQ(at(10, 10) == kRed ? at(10, 49) : at(10, 10), kGreen);

    // The scaling: 80 x 40, halves in their colours.
    for (int y = 10; y < 50; ++y)
        for (int x = 100; x < 180; ++x) ASSERT_EQ(at(x, y), x < 140 ? kRed : kGreen) << x << "," << y;
    EXPECT_EQ(at(180, 10), 0u);
    EXPECT_EQ(at(100, 50), 0u);

    // The perspective stretch to 60 x 20, in the engine's output box.
    const std::vector<double> points = {0, 0, 0, 0, 40, 0, 60, 0, 40, 20, 60, 20, 0, 20, 0, 20};
    qbDistortRequest q;
    q.method = kDistortPerspective;
    q.argumentCount = 16;
    q.arguments = points.data();
    q.source.width = kWidth;
    q.source.height = kHeight;
    ASSERT_EQ(ComputeDistortGeometry(&q), 0);
    EXPECT_EQ(q.outWidth, 62);
    EXPECT_EQ(q.outHeight, 22);
    for (int y = 12; y < 28; ++y)
        for (int x = 303; x < 360; ++x) {
            // Source column (x - 300 + outX + 0.5) / 1.5 lies left or right of 20.
            const double sx = (x - 300 + q.outX + 0.5) / 1.5;
            if (std::abs(sx - 20) < 1) continue;
            ASSERT_EQ(at(x, y), sx < 20 ? kRed : kGreen) << x << "," << y;
        }
    EXPECT_EQ(at(300 + q.outWidth, 15), 0u);
}
