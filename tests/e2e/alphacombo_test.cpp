// Drawing an alpha brush into a brush selected with its planes, headless:
// the frames the dummy driver saves show what the target brush became.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "e2e/e2e_util.h"
#include "e2e/frames.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kRed = 0xFF0000, kBlue = 0x0000FF, kWhite = 0xFFFFFF;

std::string Args(std::initializer_list<double> args, int* reg) {
    std::string s;
    for (double a : args) s += "    LOADK " + std::to_string((*reg)++) + " #" + std::to_string(static_cast<long long>(a)) + "\n";
    return s;
}

std::string Call(std::string name, std::initializer_list<double> args) {
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    int reg = 1;
    const std::string body = Args(args, &reg);
    return "    GETGLOBAL 0 \"" + name + "\"\n" + body + "    CALL 0 " + std::to_string(reg) + " 1\n";
}

// CreateBrush(id, w, h, colour, {alphachannel = 1[, clear = 1]}).
std::string AlphaBrush(int id, int w, int h, uint32_t colour, bool clear) {
    int reg = 1;
    std::string s = "    GETGLOBAL 0 \"createbrush\"\n" + Args({double(id), double(w), double(h), double(colour)}, &reg);
    s += "    NEWTABLE 5 0 2\n    LOADK 6 #1\n    SETTABLE 5 \"alphachannel\" 6\n";
    if (clear) s += "    SETTABLE 5 \"clear\" 6\n";
    return s + "    CALL 0 6 1\n";
}

using e2e::Frame;

// The channel mix of a blit through an alpha plane onto the display.
uint32_t Over(uint32_t d, uint32_t c, uint32_t w) {
    uint32_t out = 0;
    for (int shift : {16, 8, 0})
        out |= ((((d >> shift) & 255) * (256 - w) + ((c >> shift) & 255) * w) >> 8) << shift;
    return out;
}

class AlphaComboTest : public e2e::E2eFixture {
protected:
    Frame LastFrame() { return e2e::LastSavedFrame(dir_); }
};

}  // namespace

TEST_F(AlphaComboTest, AnAlphaBrushBlendsByTheTargetsAlphaOrIsCopied) {
    const std::string body =
        // Brush 1: red at half alpha (the alpha channel drawn at intensity 128).
        AlphaBrush(1, 20, 20, kRed, true) + Call("CreateBrush", {3, 20, 20, 0}) + Call("SelectAlphaChannel", {1}) +
        Call("SetAlphaIntensity", {128}) + Call("DisplayBrush", {3, 0, 0}) + Call("EndSelect", {}) +
        // Brush 2 transparent black, brush 5 and 6 opaque blue; alpha modes 2, 2, 0.
        AlphaBrush(2, 20, 20, 0, true) + AlphaBrush(5, 20, 20, kBlue, false) + AlphaBrush(6, 20, 20, kBlue, false) +
        Call("SelectBrush", {2, 1, 2}) + Call("DisplayBrush", {1, 0, 0}) + Call("EndSelect", {}) +
        Call("SelectBrush", {5, 1, 2}) + Call("DisplayBrush", {1, 0, 0}) + Call("EndSelect", {}) +
        Call("SelectBrush", {6, 1, 0}) + Call("DisplayBrush", {1, 0, 0}) + Call("EndSelect", {}) +
        // Over white.
        Call("CreateBrush", {4, 400, 200, kWhite}) + Call("DisplayBrush", {4, 0, 0}) +
        Call("DisplayBrush", {2, 100, 100}) + Call("DisplayBrush", {5, 200, 100}) + Call("DisplayBrush", {6, 300, 100});
    const fs::path qba = Pack(Chunk(".function main maxstack=12\n.line 1\n" + body + "    RETURN 0 1 0\n.end\n", "app"),
                              dir_ / "app.qba", "--include app.qbs:1:1000:0");
    const e2e::RunResult r = PlaySavingFrames(qba);
    ASSERT_EQ(r.status, 0) << r.err;
    const Frame f = LastFrame();
    ASSERT_GT(f.width, 310);
    // Transparent target: the source colour whole, at the source's alpha.
    EXPECT_EQ(f.At(110, 110), Over(kWhite, kRed, 128));
    // Opaque target: the exact blend of red at 128 over blue, and opaque.
    EXPECT_EQ(f.At(210, 110), 0x80007Fu);
    // Alpha mode 0: colour and alpha copied.
    EXPECT_EQ(f.At(310, 110), Over(kWhite, kRed, 128));
    EXPECT_EQ(f.At(50, 50), kWhite);
}
