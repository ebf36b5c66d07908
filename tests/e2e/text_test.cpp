// The text library's commands from a script run by the player: texts
// measured in the default font "topaz" and in a ".font" fixture.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "e2e/e2e_util.h"
#include "text/fontwriter.h"

using PlayerTextTest = e2e::E2eFixture;

TEST_F(PlayerTextTest, TextsMeasureInTopaz) {
    e2e::RunResult r = PlayScript(R"(
.function main maxstack=8
.line 1
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "textwidth"
    LOADK 2 "Hello, world"
    CALL 1 2 0
    CALL 0 0 1
.line 2
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "textheight"
    LOADK 2 ""
    CALL 1 2 0
    CALL 0 0 1
.line 3
    GETGLOBAL 5 "textextent"
    LOADK 6 "Qg"
    CALL 5 2 2
    GETGLOBAL 0 "debugprint"
    GETTABLE 1 5 "minx"
    GETTABLE 2 5 "maxx"
    GETTABLE 3 5 "miny"
    GETTABLE 4 5 "maxy"
    CALL 0 5 1
.line 4
    GETGLOBAL 0 "textwidth"
    LOADK 1 "x"
    LOADK 2 #7
    CALL 0 3 1
    RETURN 0 1 0
.end
)");
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, "96\n8\n0 15 -6 1\n");
    EXPECT_NE(r.err.find("In function: TextWidth"), std::string::npos) << r.err;
}

// A font folder added by the script, a ".font" fixture chosen by name and
// measured; a size the font lacks ends the script with its error.
TEST_F(PlayerTextTest, AFontFromAnAddedFolderMeasuresByItsTables) {
    using namespace fontfixture;
    FontLayout layout = Proportional(true);
    layout.ySize = 11;
    layout.baseline = 8;
    std::mt19937 rng(5);
    layout.strip = RandomBits(static_cast<size_t>(layout.modulo * layout.ySize), rng);
    ScratchFolder fonts;
    fonts.WriteFont("fixture", {{11, WriteFontFile(layout)}});
    const std::string folder = fonts.Path("");

    e2e::RunResult r = PlayScript(R"(
.function main maxstack=10
.line 1
    GETGLOBAL 0 "addfontpath"
    LOADK 1 ")" + folder + R"("
    CALL 0 2 1
.line 2
    GETGLOBAL 0 "setfont"
    LOADK 1 "fixture"
    LOADK 2 #11
    CALL 0 3 1
.line 3
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "textwidth"
    LOADK 2 "bad"
    CALL 1 2 0
    CALL 0 0 1
.line 4
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "textheight"
    LOADK 2 "bad"
    CALL 1 2 0
    CALL 0 0 1
.line 5
    GETGLOBAL 7 "textextent"
    LOADK 8 "bad"
    CALL 7 2 2
    GETGLOBAL 0 "debugprint"
    GETTABLE 1 7 "minx"
    GETTABLE 2 7 "maxx"
    GETTABLE 3 7 "miny"
    GETTABLE 4 7 "maxy"
    GETTABLE 5 7 "width"
    GETTABLE 6 7 "height"
    CALL 0 7 1
.line 6
    GETGLOBAL 0 "setfont"
    LOADK 1 "fixture"
    LOADK 2 #9
    CALL 0 3 1
    RETURN 0 1 0
.end
)");
    // "bad": b kerned -2 (ink 9 wide, advance 10), a at 8 (advance 4), d
    // kerned -1 at 11 (ink 7, advance 7): width 18, ink -2..17; rows -8..2.
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, "18\n11\n-2 17 -8 2 18 11\n");
    EXPECT_NE(r.err.find("Cannot open font fixture with size 9!"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("In function: SetFont"), std::string::npos) << r.err;
}

// Declared fonts open through OpenFont before any display.
TEST_F(PlayerTextTest, ADeclaredFontOpensAtStartUp) {
    e2e::RunResult r = PlayScript(".function main maxstack=2\n.line 1\n    RETURN 0 1 0\n.end\n", "-quiet",
                                  "--declare 9:1:3:nofont");
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("Cannot open font nofont with size"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("OpenFont"), std::string::npos) << r.err;
}
