// The graphics library from a script run by the player: colour commands,
// the frame-rate limit and a refused mixing ratio in the error text.
#include <gtest/gtest.h>

#include <string>

#include "e2e/e2e_util.h"

using PlayerGraphicsTest = e2e::E2eFixture;

TEST_F(PlayerGraphicsTest, ColourCommandsAndTheFrameRateLimit) {
    e2e::RunResult r = PlayScript(R"(
.function main maxstack=6
.line 1
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "mixrgb"
    LOADK 2 #0
    LOADK 3 #16777215
    LOADK 4 "50%"
    CALL 1 4 0
    CALL 0 0 1
.line 2
    GETGLOBAL 0 "setfpslimit"
    LOADK 1 #0
    CALL 0 2 1
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "getfpslimit"
    CALL 1 1 0
    CALL 0 0 1
.line 3
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "red"
    GETGLOBAL 2 "rgb"
    LOADK 3 #18
    LOADK 4 #52
    LOADK 5 #86
    CALL 2 4 0
    CALL 1 0 0
    CALL 0 0 1
    RETURN 0 1 0
.end
)");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "8289918\n60\n18\n");  // $7E7E7E: ratio 127
}

TEST_F(PlayerGraphicsTest, ARatioBeyondAByteEndsTheScriptInMixRGB) {
    e2e::RunResult r = PlayScript(R"(
.function main maxstack=6
.line 1
    GETGLOBAL 0 "mixrgb"
    LOADK 1 #0
    LOADK 2 #255
    LOADK 3 #256
    CALL 0 4 1
    RETURN 0 1 0
.end
)");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("In function: MixRGB"), std::string::npos) << r.err;
}

TEST_F(PlayerGraphicsTest, GetAttributeAnswersFromTheObjectsRecords) {
    e2e::RunResult r = PlayScript(R"(
.function main maxstack=6
.line 1
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "getattribute"
    LOADK 2 #21
    LOADK 3 #0
    LOADK 4 #0
    CALL 1 4 0
    CALL 0 0 1
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "getattribute"
    LOADK 2 #21
    LOADK 3 #0
    LOADK 4 #1
    CALL 1 4 0
    CALL 0 0 1
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "getattribute"
    LOADK 2 #21
    LOADK 3 #0
    LOADK 4 #28
    CALL 1 4 0
    CALL 0 0 1
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "getattribute"
    LOADK 2 #21
    LOADK 3 #0
    LOADK 4 #29
    CALL 1 4 0
    CALL 0 0 1
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "getattribute"
    LOADK 2 #21
    LOADK 3 #0
    LOADK 4 #42
    CALL 1 4 0
    CALL 0 0 1
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "getattribute"
    LOADK 2 #21
    LOADK 3 #0
    LOADK 4 #86
    CALL 1 4 0
    CALL 0 0 1
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "getattribute"
    LOADK 2 #21
    LOADK 3 #0
    LOADK 4 #89
    CALL 1 4 0
    CALL 0 0 1
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "getattribute"
    LOADK 2 #21
    LOADK 3 #0
    LOADK 4 #55
    CALL 1 4 0
    CALL 0 0 1
.line 2
    GETGLOBAL 0 "createbrush"
    LOADK 1 #1
    LOADK 2 #8
    LOADK 3 #8
    CALL 0 4 1
    GETGLOBAL 0 "createbrush"
    LOADK 1 #2
    LOADK 2 #4
    LOADK 3 #4
    CALL 0 4 1
.line 3
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "getattribute"
    LOADK 2 #3
    LOADK 3 #1
    LOADK 4 #16
    CALL 1 4 0
    CALL 0 0 1
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "getattribute"
    LOADK 2 #3
    LOADK 3 #7
    LOADK 4 #60
    CALL 1 4 0
    CALL 0 0 1
.line 4
    GETGLOBAL 0 "getattribute"
    LOADK 1 #3
    LOADK 2 #1
    LOADK 3 #90
    CALL 0 4 1
    RETURN 0 1 0
.end
)");
    EXPECT_EQ(r.status, 1);
    // The dummy driver's one monitor is 1024 x 768; a window, no double buffer.
    EXPECT_EQ(r.out, "640\n480\n1024\n768\n1\n1\n1\n0\n0\n2\n");
    EXPECT_NE(r.err.find("Unknown attribute specified!"), std::string::npos) << r.err;
}
