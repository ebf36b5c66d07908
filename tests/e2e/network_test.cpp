// A script's road through the network library, headless: it runs a server on
// 127.0.0.1, connects to it, and through its event handlers the server reads
// two lines and answers with a 1 MB block that the client reads whole.
#include <gtest/gtest.h>

#include <string>

#include "e2e/e2e_util.h"

namespace {

const char kScript[] = R"(
.function main maxstack=12
.line 1
    GETGLOBAL 0 "settimeout"
    LOADK 1 #99
    CLOSURE 2 giveup
    LOADK 3 #10000
    CALL 0 4 1
.line 2
    GETGLOBAL 0 "createserver"
    LOADK 1 #1
    LOADK 2 #0
    LOADK 3 "127.0.0.1"
    CALL 0 4 1
    GETGLOBAL 0 "getlocalport"
    LOADK 1 #1
    LOADK 2 #115
    CALL 0 3 2
    MOVE 5 0
.line 3
    GETGLOBAL 0 "openconnection"
    LOADK 1 #2
    LOADK 2 "127.0.0.1"
    MOVE 3 5
    CALL 0 4 1
    LOADK 0 #0
    SETGLOBAL 0 "lines"
    NEWTABLE 0 0 2
    CLOSURE 1 clientdata
    SETTABLE 0 #2 1
    SETGLOBAL 0 "sides"
    CLOSURE 0 serverdata
    SETGLOBAL 0 "serverside"
.line 4
    GETGLOBAL 0 "installeventhandler"
    NEWTABLE 1 0 2
    CLOSURE 2 onconnect
    SETTABLE 1 "onconnect" 2
    CLOSURE 2 ondata
    SETTABLE 1 "onreceivedata" 2
    CALL 0 2 1
.line 5
    GETGLOBAL 0 "senddata"
    LOADK 1 #2
    LOADK 2 "first line\r\nsecond line\n"
    CALL 0 3 1
.line 6
loop:
    GETGLOBAL 0 "waitevent"
    CALL 0 1 1
    JMP loop
    RETURN 0 1 0
.function giveup params=1 maxstack=4
.line 20
    GETGLOBAL 1 "error"
    LOADK 2 "the network events never came"
    CALL 1 2 1
    RETURN 0 1 0
.end
.function onconnect params=1 maxstack=6
.line 30
    GETTABLE 1 0 "clientid"
    GETGLOBAL 2 "sides"
    GETGLOBAL 3 "serverside"
    SETTABLE 2 1 3
    GETGLOBAL 1 "debugprint"
    LOADK 2 "connect"
    GETTABLE 3 0 "serverid"
    CALL 1 3 1
    RETURN 0 1 0
.end
.function ondata params=1 maxstack=4
.line 40
    GETGLOBAL 1 "sides"
    GETTABLE 2 0 "id"
    GETTABLE 1 1 2
    CALL 1 2 1
    RETURN 0 1 0
.end
.function serverdata params=1 maxstack=14
.line 45
    MOVE 1 0
    GETGLOBAL 2 "receivedata"
    MOVE 3 1
    LOADK 4 #2
    CALL 2 3 3
    GETGLOBAL 4 "debugprint"
    LOADK 5 "server got"
    MOVE 6 2
    MOVE 7 3
    CALL 4 4 1
    GETGLOBAL 4 "lines"
    ADD 4 4 #1
    SETGLOBAL 4 "lines"
    EQ 0 4 #2
    JMP done
.line 50
    LOADK 5 "0123456789abcdef"
    LOADK 6 #0
    LOADK 7 #16
    LOADK 8 #1
    JMP check
body:
    MOVE 9 5
    MOVE 10 5
    CONCAT 5 9 10
check:
    FORLOOP 6 body
    GETGLOBAL 9 "senddata"
    MOVE 10 1
    MOVE 11 5
    CALL 9 3 2
    GETGLOBAL 10 "debugprint"
    LOADK 11 "server sent"
    MOVE 12 9
    CALL 10 3 1
done:
    RETURN 0 1 0
.end
.function clientdata params=1 maxstack=8
.line 60
    MOVE 1 0
    GETGLOBAL 2 "receivedata"
    MOVE 3 1
    LOADK 4 #1
    LOADK 5 #1048576
    CALL 2 4 3
    GETGLOBAL 4 "debugprint"
    LOADK 5 "client got"
    MOVE 6 3
    CALL 4 3 1
    GETGLOBAL 4 "end"
    CALL 4 1 1
    RETURN 0 1 0
.end
.end
)";

using NetworkRoadTest = e2e::E2eFixture;

TEST_F(NetworkRoadTest, ServerAndClientExchangeLinesAndABlock) {
    const e2e::RunResult r = PlayScript(kScript);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "connect 1\n"
              "server got first line 10\n"
              "server got second line 11\n"
              "server sent 1048576\n"
              "client got 1048576\n")
        << r.err;
}

}  // namespace
