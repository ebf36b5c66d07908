// The draw state's commands from a script run headless by the player.
#include <gtest/gtest.h>

#include <string>

#include "e2e/e2e_util.h"

using PlayerDrawStateTest = e2e::E2eFixture;

TEST_F(PlayerDrawStateTest, StateCommandsRunAndRefuseAFlagWithArguments) {
    e2e::RunResult r = PlayScript(R"(
.function main maxstack=6
.line 1
    GETGLOBAL 0 "setfillstyle"
    LOADK 1 #0
    CALL 0 2 1
    GETGLOBAL 0 "setformstyle"
    LOADK 1 #32
    LOADK 2 #16711680
    LOADK 3 #100
    CALL 0 4 1
    GETGLOBAL 0 "setlinewidth"
    LOADK 1 #3
    CALL 0 2 1
    GETGLOBAL 0 "debugprint"
    LOADK 1 "set"
    CALL 0 2 1
.line 2
    GETGLOBAL 0 "setformstyle"
    LOADK 1 #16
    LOADK 2 #1
    CALL 0 3 1
    RETURN 0 1 0
.end
)");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "set\n");
    EXPECT_NE(r.err.find("In function: SetFormStyle"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(Text(ERR_TOOMANYARGS)), std::string::npos) << r.err;
}
