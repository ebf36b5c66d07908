// A script's road through the system library: it sorts and copies a list,
// compares dates and catches its own error through its handler; the output
// is compared with a golden file.
#include <gtest/gtest.h>

#include <string>

#include "e2e/e2e_util.h"

namespace {

const char kScript[] = R"(
.function main maxstack=12
.line 1
    NEWTABLE 0 0 0
    LOADK 1 "pear"
    SETTABLE 0 #0 1
    LOADK 1 "apple"
    SETTABLE 0 #1 1
    LOADK 1 "fig"
    SETTABLE 0 #2 1
    GETGLOBAL 1 "sort"
    MOVE 2 0
    CALL 1 2 1
    GETGLOBAL 1 "copytable"
    MOVE 2 0
    CALL 1 2 2
    GETGLOBAL 2 "concat"
    MOVE 3 1
    LOADK 4 ","
    CALL 2 3 2
    GETGLOBAL 3 "debugprint"
    MOVE 4 2
    CALL 3 2 1
    GETGLOBAL 2 "comparedates"
    LOADK 3 "05-mar-2016 09:04:01"
    LOADK 4 "05-MAR-2016 09:04:02"
    CALL 2 3 2
    GETGLOBAL 3 "debugprint"
    MOVE 4 2
    CALL 3 2 1
    GETGLOBAL 2 "raiseonerror"
    CLOSURE 3 handler
    CALL 2 2 1
    GETGLOBAL 2 "error"
    LOADK 3 "boom"
    CALL 2 2 1
    GETGLOBAL 2 "debugprint"
    LOADK 3 "after"
    CALL 2 2 1
    RETURN 0 1
.function handler params=4 maxstack=10
    GETGLOBAL 4 "debugprint"
    LOADK 5 "caught"
    MOVE 6 0
    MOVE 7 1
    MOVE 8 2
    CALL 4 5 1
    RETURN 0 1
.end
.end
)";

using SystemRoadTest = e2e::E2eFixture;

TEST_F(SystemRoadTest, OutputMatchesTheGoldenFile) {
    const e2e::RunResult r = PlayScript(kScript);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, e2e::ReadFile(std::string(QB_SOURCE_DIR) + "/tests/e2e/golden/systemroad.txt")) << r.err;
}

}  // namespace
