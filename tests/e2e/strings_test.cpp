// The pattern commands and Eval from a script run by the player: a find, a
// replace, an iterator loop and two evaluations, printed and compared with
// a golden file.
#include <gtest/gtest.h>

#include <string>

#include "e2e/e2e_util.h"

using PlayerStringsTest = e2e::E2eFixture;

TEST_F(PlayerStringsTest, PatternsAndEvalPrintTheirResults) {
    e2e::RunResult r = PlayScript(R"qbs(
.function main maxstack=12
.line 1
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "patternfindstrdirect"
    LOADK 2 "THE (quick) fox"
    LOADK 3 "(%b())%s*(%a+)"
    CALL 1 3 0
    CALL 0 0 1
.line 2
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "patternreplacestr"
    LOADK 2 "key=val size=10"
    LOADK 3 "(%w+)=(%w+)"
    LOADK 4 "%2=%1"
    CALL 1 4 0
    CALL 0 0 1
.line 3
    GETGLOBAL 0 "patternfindstr"
    LOADK 1 "one two  three"
    LOADK 2 "%a+"
    CALL 0 3 2
    LOADNIL 1 2
    TFORPREP 0 loop
body:
    GETGLOBAL 5 "debugprint"
    MOVE 6 2
    CALL 5 2 1
loop:
    TFORLOOP 0 0 0
    JMP body
.line 4
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "eval"
    LOADK 2 "2^3^2 - -7 \\ 2"
    CALL 1 2 0
    CALL 0 0 1
.line 5
    NEWTABLE 3 0 1
    NEWTABLE 4 0 0
    NEWTABLE 5 0 2
    LOADK 6 "x"
    SETTABLE 5 "name" 6
    LOADK 6 #4
    SETTABLE 5 "value" 6
    SETTABLE 4 #0 5
    SETTABLE 3 "variables" 4
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "eval"
    LOADK 2 "x * 2 + 1"
    CALL 1 3 0
    CALL 0 0 1
.line 6
    GETGLOBAL 0 "eval"
    LOADK 1 "(1"
    CALL 0 2 1
    RETURN 0 1 0
.end
)qbs");
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, e2e::ReadFile(std::string(QB_SOURCE_DIR) + "/tests/e2e/golden/strings.txt"));
    EXPECT_NE(r.err.find(Text(1186)), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("In function: Eval"), std::string::npos) << r.err;
}
