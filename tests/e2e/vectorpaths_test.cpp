// Vector paths from a script run by the player: extents and current points
// of a path built, moved and normalised.
#include <gtest/gtest.h>

#include "e2e/e2e_util.h"

using PlayerVectorPathTest = e2e::E2eFixture;

TEST_F(PlayerVectorPathTest, PathsPrintTheirExtentsAndCurrentPoints) {
    e2e::RunResult r = PlayScript(R"qbs(
.function main maxstack=20
.line 1
    GETGLOBAL 0 "startpath"
    LOADK 1 #1
    CALL 0 2 1
    GETGLOBAL 0 "addellipsetopath"
    LOADK 1 #1
    LOADK 2 #100
    LOADK 3 #100
    LOADK 4 #50
    LOADK 5 #25
    CALL 0 6 1
    GETGLOBAL 0 "rellineto"
    LOADK 1 #1
    LOADK 2 #30
    LOADK 3 #0
    CALL 0 4 1
.line 2
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "getcurrentpoint"
    LOADK 2 #1
    CALL 1 2 0
    CALL 0 0 1
.line 3
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "getpathextents"
    LOADK 2 #1
    CALL 1 2 0
    CALL 0 0 1
.line 4
    GETGLOBAL 0 "normalizepath"
    LOADK 1 #1
    CALL 0 2 1
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "getcurrentpoint"
    LOADK 2 #1
    CALL 1 2 0
    CALL 0 0 1
.line 5
    GETGLOBAL 0 "translatepath"
    LOADK 1 #2
    LOADK 2 #0
    LOADK 3 #0
    CALL 0 4 1
    RETURN 0 1 0
.end

)qbs");
    EXPECT_EQ(r.out, "180 100\n49.5 74.5 180 125.5\n130 25\n");
    EXPECT_NE(r.err.find("Could not find path 2"), std::string::npos) << r.err;
}
