// The math, memblock and string commands from scripts run by the player:
// values poked in both byte orders, peeked and dumped, a few math results,
// and one line per family of string commands, compared with golden files.
#include <gtest/gtest.h>

#include <string>

#include "e2e/e2e_util.h"

using PlayerMathStringTest = e2e::E2eFixture;

TEST_F(PlayerMathStringTest, MemoryAndMathPrintTheirResults) {
    e2e::RunResult r = PlayScript(R"qbs(
.function main maxstack=40
.line 1
    GETGLOBAL 0 "allocmem"
    LOADK 1 #1
    LOADK 2 #20
    CALL 0 3 1
.line 2
    GETGLOBAL 0 "poke"
    LOADK 1 #1
    LOADK 2 #0
    LOADK 3 #16909060
    CALL 0 4 1
.line 3
    GETGLOBAL 0 "poke"
    LOADK 1 #1
    LOADK 2 #4
    LOADK 3 #16909060
    LOADK 4 #1
    LOADK 5 #1
    CALL 0 6 1
.line 4
    GETGLOBAL 0 "poke"
    LOADK 1 #1
    LOADK 2 #8
    LOADK 3 #4660
    LOADK 4 #6
    CALL 0 5 1
.line 5
    GETGLOBAL 0 "poke"
    LOADK 1 #1
    LOADK 2 #10
    LOADK 3 #4660
    LOADK 4 #6
    LOADK 5 #1
    CALL 0 6 1
.line 6
    GETGLOBAL 0 "poke"
    LOADK 1 #1
    LOADK 2 #12
    LOADK 3 "Hi!"
    LOADK 4 #3
    CALL 0 5 1
.line 7
    GETGLOBAL 0 "poke"
    LOADK 1 #1
    LOADK 2 #16
    LOADK 3 #3.5
    LOADK 4 #11
    CALL 0 5 1
.line 8
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "peek"
    LOADK 2 #1
    LOADK 3 #0
    CALL 1 3 2
    GETGLOBAL 2 "peek"
    LOADK 3 #1
    LOADK 4 #4
    CALL 2 3 2
    GETGLOBAL 3 "peek"
    LOADK 4 #1
    LOADK 5 #4
    LOADK 6 #1
    LOADK 7 #1
    CALL 3 5 2
    GETGLOBAL 4 "peek"
    LOADK 5 #1
    LOADK 6 #8
    LOADK 7 #6
    CALL 4 4 2
    GETGLOBAL 5 "peek"
    LOADK 6 #1
    LOADK 7 #10
    LOADK 8 #6
    LOADK 9 #1
    CALL 5 5 2
    GETGLOBAL 6 "peek"
    LOADK 7 #1
    LOADK 8 #12
    LOADK 9 #3
    CALL 6 4 2
    GETGLOBAL 7 "peek"
    LOADK 8 #1
    LOADK 9 #16
    LOADK 10 #11
    CALL 7 4 2
    CALL 0 8 1
.line 9
    GETGLOBAL 0 "dumpmem"
    LOADK 1 #1
    CALL 0 2 1
.line 10
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "round"
    LOADK 2 #2.5
    CALL 1 2 2
    GETGLOBAL 2 "round"
    LOADK 3 #3.5
    CALL 2 2 2
    GETGLOBAL 3 "int"
    LOADK 4 #-2.7
    CALL 3 2 2
    GETGLOBAL 4 "wrap"
    LOADK 5 #25
    LOADK 6 #0
    LOADK 7 #10
    CALL 4 4 2
    GETGLOBAL 5 "rol"
    LOADK 6 #129
    LOADK 7 #1
    LOADK 8 #7
    CALL 5 4 2
    GETGLOBAL 6 "ror"
    LOADK 7 #1
    LOADK 8 #1
    LOADK 9 #6
    CALL 6 4 2
    CALL 0 7 1
.line 11
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "cast"
    LOADK 2 #255
    LOADK 3 #1
    LOADK 4 #7
    CALL 1 4 2
    GETGLOBAL 2 "bitcomplement"
    LOADK 3 #0
    CALL 2 2 2
    GETGLOBAL 3 "sar"
    LOADK 4 #-8
    LOADK 5 #1
    CALL 3 3 2
    GETGLOBAL 4 "shr"
    LOADK 5 #-8
    LOADK 6 #1
    CALL 4 3 2
    GETGLOBAL 5 "rnd"
    LOADK 6 #1
    CALL 5 2 2
    GETGLOBAL 6 "pow"
    LOADK 7 #2
    LOADK 8 #10
    CALL 6 3 2
    GETGLOBAL 7 "mod"
    LOADK 8 #-7
    LOADK 9 #3
    CALL 7 3 2
    CALL 0 8 1
.line 12
    GETGLOBAL 0 "div"
    LOADK 1 #1
    LOADK 2 #0
    CALL 0 3 1
    RETURN 0 1 0
.end

)qbs");
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, e2e::ReadFile(std::string(QB_SOURCE_DIR) + "/tests/e2e/golden/memmath.txt"));
    EXPECT_NE(r.err.find(Text(1089)), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("In function: Div"), std::string::npos) << r.err;
}

TEST_F(PlayerMathStringTest, StringCommandsPrintTheirResults) {
    e2e::RunResult r = PlayScript(R"qbs(
.function main maxstack=40
.line 1
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "midstr"
    LOADK 2 "Quenbrook"
    LOADK 3 #2
    LOADK 4 #3
    CALL 1 4 2
    GETGLOBAL 2 "leftstr"
    LOADK 3 "Quenbrook"
    LOADK 4 #4
    CALL 2 3 2
    GETGLOBAL 3 "rightstr"
    LOADK 4 "Quenbrook"
    LOADK 5 #4
    CALL 3 3 2
    GETGLOBAL 4 "unrightstr"
    LOADK 5 "abc"
    LOADK 6 #1
    CALL 4 3 2
    GETGLOBAL 5 "unleftstr"
    LOADK 6 "abc"
    LOADK 7 #1
    CALL 5 3 2
    GETGLOBAL 6 "unmidstr"
    LOADK 7 "abcdef"
    LOADK 8 #1
    LOADK 9 #2
    CALL 6 4 2
    CALL 0 7 1
.line 2
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "upperstr"
    LOADK 2 "mixed Case"
    CALL 1 2 2
    GETGLOBAL 2 "lowerstr"
    LOADK 3 "MIXED Case"
    CALL 2 2 2
    GETGLOBAL 3 "addstr"
    LOADK 4 "ab"
    LOADK 5 "cd"
    CALL 3 3 2
    GETGLOBAL 4 "repeatstr"
    LOADK 5 "ab"
    LOADK 6 #3
    CALL 4 3 2
    GETGLOBAL 5 "insertstr"
    LOADK 6 "abcdef"
    LOADK 7 "XY"
    LOADK 8 #2
    LOADK 9 #1
    CALL 5 5 2
    GETGLOBAL 6 "trimstr"
    LOADK 7 "--x--"
    LOADK 8 "-"
    LOADK 9 #1
    CALL 6 4 2
    CALL 0 7 1
.line 3
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "findstr"
    LOADK 2 "hello world"
    LOADK 3 "O"
    LOADK 4 #0
    CALL 1 4 2
    GETGLOBAL 2 "countstr"
    LOADK 3 "banana"
    LOADK 4 "an"
    CALL 2 3 2
    GETGLOBAL 3 "replacestr"
    LOADK 4 "banana"
    LOADK 5 "an"
    LOADK 6 "AN"
    CALL 3 4 2
    GETGLOBAL 4 "strlen"
    LOADK 5 "hello"
    CALL 4 2 2
    GETGLOBAL 5 "asc"
    LOADK 6 "A"
    CALL 5 2 2
    GETGLOBAL 6 "chr"
    LOADK 7 #66
    CALL 6 2 2
    CALL 0 7 1
.line 4
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "strstr"
    LOADK 2 #3.14159
    CALL 1 2 2
    GETGLOBAL 2 "strstr"
    LOADK 3 #1.234e-05
    CALL 2 2 2
    GETGLOBAL 3 "hexstr"
    LOADK 4 #255
    CALL 3 2 2
    GETGLOBAL 4 "hexstr"
    LOADK 5 #-1
    CALL 4 2 2
    GETGLOBAL 5 "binstr"
    LOADK 6 #5
    LOADK 7 #7
    CALL 5 3 2
    GETGLOBAL 6 "padnum"
    LOADK 7 #7
    LOADK 8 #3
    CALL 6 3 2
    CALL 0 7 1
.line 5
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "val"
    LOADK 2 "$ff"
    CALL 1 2 2
    GETGLOBAL 2 "tonumber"
    LOADK 3 "ff"
    LOADK 4 #16
    CALL 2 3 2
    GETGLOBAL 3 "tonumber"
    LOADK 4 "zz"
    LOADK 5 #36
    CALL 3 3 2
    GETGLOBAL 4 "tostring"
    LOADK 5 #2.5
    CALL 4 2 2
    CALL 0 5 1
.line 6
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "formatstr"
    LOADK 2 "%-8s|%5.2f|%04d|%x|%q"
    LOADK 3 "name"
    LOADK 4 #3.14159
    LOADK 5 #42
    LOADK 6 #255
    LOADK 7 "say \"hi\""
    CALL 1 7 2
    CALL 0 2 1
.line 7
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "md5str"
    LOADK 2 "abc"
    CALL 1 2 2
    GETGLOBAL 2 "crc32str"
    LOADK 3 "123456789"
    CALL 2 2 2
    GETGLOBAL 3 "base64str"
    LOADK 4 "hello"
    LOADK 5 #0
    CALL 3 3 2
    GETGLOBAL 4 "base64str"
    LOADK 5 "aGVsbG8="
    LOADK 6 #1
    CALL 4 3 2
    CALL 0 5 1
.line 8
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "arraytostr"
    GETGLOBAL 2 "strtoarray"
    LOADK 3 "round trip"
    CALL 2 2 2
    CALL 1 2 2
    CALL 0 2 1
.line 9
    GETGLOBAL 0 "md5str"
    LOADK 1 ""
    CALL 0 2 1
    RETURN 0 1 0
.end

)qbs");
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, e2e::ReadFile(std::string(QB_SOURCE_DIR) + "/tests/e2e/golden/strcmds.txt"));
    EXPECT_NE(r.err.find("In function: MD5Str"), std::string::npos) << r.err;
}
