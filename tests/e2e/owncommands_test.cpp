// The player's own command calls (the backfill behind a full screen: its
// BGPic, display and brush made and freed by the script commands) never go
// through what a script keeps under those commands' names: a script's
// function there would run with the display held and could free it.
#include <gtest/gtest.h>

#include <string>

#include "e2e/e2e_util.h"

namespace {

class OwnCommandsTest : public e2e::E2eFixture {};

// The count printed (registers 0 and 1).
constexpr const char* kPrintCalls = R"(    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "calls"
    CALL 0 2 1
)";
// Display 1 (the current one) to full screen (registers 0 and 1).
constexpr const char* kFullScreen = R"(    GETGLOBAL 0 "changedisplaymode"
    LOADK 1 #2
    CALL 0 2 1
)";

// Keeps a function under every name the backfill calls, which prints
// "called", counts and frees display 1 from display 2; then full screen
// (made), CloseDisplay (freed), full screen again and the script's end
// (freed at the end), printing the count after each.
std::string Script() {
    return std::string(R"(
.function main maxstack=16
.line 1
    LOADK 0 #0
    SETGLOBAL 0 "calls"
    GETGLOBAL 0 "freedisplay"
    SETGLOBAL 0 "realfree"
    GETGLOBAL 0 "createdisplay"
    LOADK 1 #2
    NEWTABLE 2 0 2
    LOADK 3 #100
    SETTABLE 2 "width" 3
    SETTABLE 2 "height" 3
    CALL 0 3 1
    CLOSURE 0 grab
    SETGLOBAL 0 "createbgpic"
    SETGLOBAL 0 "createdisplay"
    SETGLOBAL 0 "freedisplay"
    SETGLOBAL 0 "freebgpic"
    SETGLOBAL 0 "freebrush"
.line 2
)") + kFullScreen + kPrintCalls + R"(.line 3
    GETGLOBAL 0 "closedisplay"
    LOADK 1 #1
    CALL 0 2 1
)" + kPrintCalls + R"(.line 4
    GETGLOBAL 0 "opendisplay"
    LOADK 1 #1
    CALL 0 2 1
)" + kFullScreen + kPrintCalls + R"(    RETURN 0 1 0
.function grab params=4 maxstack=8
.line 5
    GETGLOBAL 4 "debugprint"
    LOADK 5 "called"
    CALL 4 2 1
    GETGLOBAL 4 "calls"
    ADD 4 4 #1
    SETGLOBAL 4 "calls"
    GETGLOBAL 4 "selectdisplay"
    LOADK 5 #2
    CALL 4 2 1
    GETGLOBAL 4 "realfree"
    LOADK 5 #1
    CALL 4 2 1
    RETURN 0 1 0
.end
.end
)";
}

}  // namespace

TEST_F(OwnCommandsTest, AScriptsFunctionsUnderTheBackfillsCommandNamesAreNeverCalled) {
    const e2e::RunResult r = PlayScript(Script(), "-quiet", "", "backfill");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "0\n0\n0\n") << r.err;
    EXPECT_EQ(r.err.find("Sanitizer"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("runtime error"), std::string::npos) << r.err;
}
