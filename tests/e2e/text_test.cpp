// The text library's measuring commands from a script run by the player:
// texts measured in the default font "topaz".
#include <gtest/gtest.h>

#include <string>

#include "e2e/e2e_util.h"

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
