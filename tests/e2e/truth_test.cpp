// The script's True and False are the numbers 1 and 0: a script that gives
// a transfer's flags as 0 turns them off, a progress callback that answers
// False lets the transfer go on, and IsOnline's answer compares equal to
// True. Played by the real player against Python's http.server.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "e2e/e2e_util.h"
#include "libs/python_server.h"

namespace {

// Each line prints what one call gave; the last one ends the script with the
// 404 that {fail404 = 1, silentfail = 0} raises. A call clobbers every
// register from its own up, so what one call gave waits for the next in a
// global.
const char kScript[] = R"(
.function main maxstack=12
.line 1
    GETGLOBAL 0 "downloadfile"
    LOADK 1 "@HTTP@/missing.txt"
    NEWTABLE 2 0 1
    LOADK 3 #0
    SETTABLE 2 "fail404" 3
    CALL 0 3 3
    GETGLOBAL 2 "debugprint"
    LOADK 3 "fail404"
    MOVE 4 1
    CALL 2 3 1
.line 2
    GETGLOBAL 0 "downloadfile"
    LOADK 1 "@HTTP@/sub"
    NEWTABLE 2 0 1
    LOADK 3 #0
    SETTABLE 2 "redirect" 3
    CALL 0 3 3
    SETGLOBAL 1 "held"
    GETGLOBAL 0 "downloadfile"
    LOADK 1 "@HTTP@/sub"
    NEWTABLE 2 0 1
    LOADBOOL 3 1 0
    SETTABLE 2 "redirect" 3
    CALL 0 3 2
    GETGLOBAL 2 "debugprint"
    LOADK 3 "redirect"
    GETGLOBAL 4 "held"
    MOVE 5 0
    CALL 2 4 1
.line 3
    GETGLOBAL 0 "downloadfile"
    LOADK 1 "@HTTP@/a%20b.txt"
    NEWTABLE 2 0 1
    LOADK 3 #0
    SETTABLE 2 "encoded" 3
    CALL 0 3 2
    SETGLOBAL 0 "held"
    GETGLOBAL 0 "downloadfile"
    LOADK 1 "@HTTP@/a%20b.txt"
    NEWTABLE 2 0 1
    LOADBOOL 3 1 0
    SETTABLE 2 "encoded" 3
    CALL 0 3 2
    GETGLOBAL 2 "debugprint"
    LOADK 3 "encoded"
    GETGLOBAL 4 "held"
    MOVE 5 0
    CALL 2 4 1
.line 4
    GETGLOBAL 0 "downloadfile"
    LOADK 1 "@HTTP@/missing.txt"
    NEWTABLE 2 0 2
    LOADBOOL 3 1 0
    SETTABLE 2 "fail404" 3
    SETTABLE 2 "silentfail" 3
    CALL 0 3 3
    GETGLOBAL 2 "debugprint"
    LOADK 3 "silentfail"
    MOVE 4 1
    CALL 2 3 1
.line 5
    GETGLOBAL 0 "downloadfile"
    LOADK 1 "@HTTP@/big.bin"
    NEWTABLE 2 0 0
    CLOSURE 3 goon
    CALL 0 4 3
    GETGLOBAL 2 "debugprint"
    LOADK 3 "false"
    MOVE 4 1
    CALL 2 3 1
.line 6
    GETGLOBAL 0 "downloadfile"
    LOADK 1 "@HTTP@/big.bin"
    NEWTABLE 2 0 0
    CLOSURE 3 stop
    CALL 0 4 3
    SETGLOBAL 1 "held"
    GETGLOBAL 2 "strlen"
    MOVE 3 0
    CALL 2 2 2
    GETGLOBAL 3 "held"
    EQ 0 2 3
    JMP uneven
    GETGLOBAL 2 "debugprint"
    LOADK 3 "true"
    GETGLOBAL 4 "held"
    GETGLOBAL 5 "stopcount"
    CALL 2 4 1
uneven:
.line 7
    GETGLOBAL 0 "isonline"
    CALL 0 1 2
    LOADBOOL 1 1 0
    EQ 0 0 1
    JMP offline
    GETGLOBAL 2 "debugprint"
    LOADK 3 "online"
    CALL 2 2 1
offline:
.line 8
    GETGLOBAL 0 "downloadfile"
    LOADK 1 "@HTTP@/missing.txt"
    NEWTABLE 2 0 2
    LOADBOOL 3 1 0
    SETTABLE 2 "fail404" 3
    LOADBOOL 3 0 0
    SETTABLE 2 "silentfail" 3
    CALL 0 3 3
    GETGLOBAL 2 "debugprint"
    LOADK 3 "not raised"
    CALL 2 2 1
    RETURN 0 1 0
.function goon params=1 maxstack=2
.line 20
    LOADBOOL 1 0 0
    RETURN 1 2 0
.end
.function stop params=1 maxstack=2
.line 30
    GETTABLE 1 0 "count"
    SETGLOBAL 1 "stopcount"
    LOADBOOL 1 1 0
    RETURN 1 2 0
.end
.end
)";

using ScriptTruthTest = e2e::E2eFixture;

TEST_F(ScriptTruthTest, FalseIsZeroForTransferFlagsCallbacksAndResults) {
    const e2e::fs::path served = dir_ / "served";
    e2e::fs::create_directories(served / "sub");
    e2e::WriteFile(served / "sub" / "index.html", "INDEX");
    e2e::WriteFile(served / "a%20b.txt", "LITERAL");
    e2e::WriteFile(served / "a b.txt", "SPACE");
    std::string big;
    for (int i = 0; big.size() < 200000; ++i) big += static_cast<char>('a' + i % 26);
    e2e::WriteFile(served / "big.bin", big);
    nettest::PythonServer http({"-u", "-m", "http.server", "0", "--bind", "127.0.0.1", "--directory", served.string()});
    ASSERT_GT(http.port(), 0) << http.firstLine();
    const std::string host = "127.0.0.1:" + std::to_string(http.port());
    std::string script = kScript;
    e2e::ReplaceAll(&script, "@HTTP@", "http://" + host);
    // IsOnline asks the test's own server instead of the world.
    setenv("QB_ONLINE_PROBE", host.c_str(), 1);
    const e2e::RunResult r = PlayScript(script);
    unsetenv("QB_ONLINE_PROBE");
    // The 404 page is the result; the 301 has an empty body, the page it
    // points to is "INDEX"; "%20" is sent as "%2520" unless the URL says it
    // is encoded; a silent failure gives -1; a callback's False lets all
    // 200,000 bytes arrive, its True stops with a string as long as the
    // count, which is the progress count.
    const std::string out = r.out;
    EXPECT_NE(out.find("redirect 0 INDEX\n"), std::string::npos) << out << r.err;
    EXPECT_NE(out.find("encoded LITERAL SPACE\n"), std::string::npos) << out << r.err;
    EXPECT_NE(out.find("silentfail -1\n"), std::string::npos) << out << r.err;
    EXPECT_NE(out.find("false 200000\n"), std::string::npos) << out << r.err;
    EXPECT_NE(out.find("online\n"), std::string::npos) << out << r.err;
    ASSERT_EQ(out.rfind("fail404 ", 0), 0u) << out << r.err;
    EXPECT_GT(std::stoi(out.substr(8)), 0) << out;
    const size_t stopped = out.find("true ");
    ASSERT_NE(stopped, std::string::npos) << out << r.err;
    long count = 0, seen = 0;
    ASSERT_EQ(std::sscanf(out.c_str() + stopped, "true %ld %ld", &count, &seen), 2) << out;
    EXPECT_GT(count, 0);
    EXPECT_LT(count, 200000);
    EXPECT_EQ(count, seen);
    EXPECT_EQ(out.find("not raised"), std::string::npos) << out;
    EXPECT_NE(r.status, 0);
}

}  // namespace
