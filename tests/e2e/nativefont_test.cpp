// A script's text in an installed font, through the player under SDL's
// dummy driver and the tests' own fontconfig configuration.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "e2e/e2e_util.h"
#include "e2e/frames.h"
#include "text/hermeticfonts.h"

namespace {

class PlayerNativeFontTest : public e2e::E2eFixture {
protected:
    void SetUp() override {
        e2e::E2eFixture::SetUp();
        hermeticfonts::Use();
    }
    e2e::RunResult Play(const std::string& font) {
        const std::string source = R"(
.function main maxstack=8
.line 1
    GETGLOBAL 0 "setfont"
    LOADK 1 ")" + font + R"("
    LOADK 2 #40
    CALL 0 3 1
.line 2
    GETGLOBAL 5 "textextent"
    LOADK 6 "A"
    CALL 5 2 2
    GETGLOBAL 0 "debugprint"
    GETTABLE 1 5 "maxy"
    GETTABLE 2 5 "miny"
    SUB 1 1 2
    CALL 0 2 1
.line 3
    GETGLOBAL 0 "textout"
    LOADK 1 #100
    LOADK 2 #200
    LOADK 3 "AAA"
    CALL 0 4 1
    RETURN 0 1 0
.end
)";
        const std::filesystem::path qba = Pack(Chunk(source, "text"), dir_ / "text.qba", "--include text.qbs:1:1000:0");
        return PlaySavingFrames(qba);
    }
};

}  // namespace

TEST_F(PlayerNativeFontTest, AnInstalledFontMeasuresItsAAndShowsItsText) {
    const e2e::RunResult r = Play("DejaVu Sans");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "40\n");
    const e2e::Frame frame = e2e::LastSavedFrame(dir_);
    ASSERT_EQ(frame.width, 640);
    int lit = 0, left = frame.width, top = frame.height, right = -1, bottom = -1;
    for (int y = 0; y < frame.height; ++y)
        for (int x = 0; x < frame.width; ++x)
            if (frame.At(x, y) != 0) {
                ++lit;
                left = std::min(left, x), right = std::max(right, x);
                top = std::min(top, y), bottom = std::max(bottom, y);
            }
    EXPECT_GT(lit, 300);
    // "AAA" from the pen at 100, 200, about as high as the "A" measured (the
    // one-bit rendering may round a row differently).
    EXPECT_GE(left, 100);
    EXPECT_LT(right, 100 + 200);
    EXPECT_GE(top, 200);
    EXPECT_NEAR(bottom - top + 1, 40, 1);
}

TEST_F(PlayerNativeFontTest, AFontThatIsNotInstalledEndsTheScript) {
    const e2e::RunResult r = Play("No Such Font");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Cannot open font No Such Font with size 40!"), std::string::npos) << r.err;
}
