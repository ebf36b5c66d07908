// The string library's commands: slicing, searching, conversions, digests
// and FormatStr, with their argument errors and zero bytes in the strings.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "libs/libcall_fixture.h"

namespace {

using StringCmdTest = libstest::LibCallFixture;
using S = std::string;

TEST_F(StringCmdTest, SlicesAndTheirEdges) {
    EXPECT_EQ(Run("MidStr", {S("abc"), 3.0}), "");
    EXPECT_EQ(Run("MidStr", {S("abcdef"), 2.0, 2.0}), "cd");
    EXPECT_EQ(Run("MidStr", {S("abcdef"), 2.0}), "cdef");
    EXPECT_EQ(Run("MidStr", {S("abcdef"), 4.0, 99.0}), "ef");
    EXPECT_EQ(Run("MidStr", {S("abcdef"), -3.0, 2.0}), "ab");
    EXPECT_EQ(Run("MidStr", {S("abc"), 1.0, 0.0}), "");
    EXPECT_EQ(Run("LeftStr", {S("abc"), 5.0}), "abc");
    EXPECT_EQ(Run("LeftStr", {S("abc"), 0.0}), "");
    EXPECT_EQ(Run("RightStr", {S("abc"), 2.0}), "bc");
    EXPECT_EQ(Run("RightStr", {S("abc"), -2.0}), "");
    EXPECT_EQ(Run("UnrightStr", {S("abc"), 1.0}), "bc");
    EXPECT_EQ(Run("UnrightStr", {S("abc"), 9.0}), "");
    EXPECT_EQ(Run("UnleftStr", {S("abc"), 1.0}), "ab");
    EXPECT_EQ(Run("UnleftStr", {S("abc"), -1.0}), "E1055");
    EXPECT_EQ(Run("UnmidStr", {S("abcdef"), 1.0, 2.0}), "adef");
    EXPECT_EQ(Run("UnmidStr", {S("abcdef"), 4.0, 9.0}), "abcd");
    EXPECT_EQ(Run("UnmidStr", {S("abc"), -1.0, 1.0}), "E1055");
    EXPECT_EQ(Run("InsertStr", {S("abcdef"), S("XY"), 2.0}), "abXYcdef");
    EXPECT_EQ(Run("InsertStr", {S("abcdef"), S("XY"), 2.0, 1.0}), "abXYef");
    EXPECT_EQ(Run("InsertStr", {S("abc"), S("XYZ"), 2.0, 1.0}), "abXYZ");
    EXPECT_EQ(Run("InsertStr", {S("abc"), S("XY"), 9.0, 1.0}), "abcXY");
    EXPECT_EQ(Run("InsertStr", {S(""), S("XY"), 3.0}), "XY");
    EXPECT_EQ(Run("InsertStr", {S("abc"), S("X"), -1.0}), "E1055");
    EXPECT_EQ(Run("RepeatStr", {S("ab"), 3.0}), "ababab");
    EXPECT_EQ(Run("RepeatStr", {S("ab"), 0.0}), "");
    EXPECT_EQ(Run("RepeatStr", {S("ab"), -1.0}), "E1055");
    // Results past the VM's string limit are refused before allocating.
    EXPECT_EQ(Run("RepeatStr", {S(1000, 'x'), 2147483647.0}), "E1000");
    EXPECT_EQ(Run("RepeatStr", {S("x"), 1e300}), "E1000");
    EXPECT_EQ(Run("AddStr", {S("ab"), S("cd")}), "abcd");
    EXPECT_EQ(Run("Chr", {256.0}), "E1055");
    EXPECT_EQ(Run("Chr", {0.0}), "");
    EXPECT_EQ(Run("Chr", {65.0}), "A");
    EXPECT_EQ(Run("Asc", {S("")}), "0");
    EXPECT_EQ(Run("Asc", {S("\xE9")}), "233");
    EXPECT_EQ(Run("TrimStr", {S("xxabxx"), S("x"), 1.0}), "xxab");
    EXPECT_EQ(Run("TrimStr", {S("xxabxx"), S("x"), 0.0}), "abxx");
    EXPECT_EQ(Run("TrimStr", {S("xx"), S("x"), 1.0}), "");
    EXPECT_EQ(Run("TrimStr", {S("xx"), S("xy"), 1.0}), "E1055");
    EXPECT_EQ(Run("UpperStr", {S("abc\xE9")}), "ABC\xC9");
    EXPECT_EQ(Run("LowerStr", {S("ABC\xC9")}), "abc\xE9");
}

// Each count or position a slice takes at 0, where the string comes back
// whole or nothing is cut, and at -1, refused where a negative is.
TEST_F(StringCmdTest, EverySliceAtZeroAndJustBelow) {
    EXPECT_EQ(Run("UnmidStr", {S("abc"), 0.0, 0.0}), "abc");
    EXPECT_EQ(Run("UnmidStr", {S("abc"), 1.0, 0.0}), "abc");
    EXPECT_EQ(Run("UnmidStr", {S("abc"), 0.0, 1.0}), "bc");
    EXPECT_EQ(Run("UnmidStr", {S("abc"), 1.0, -1.0}), "E1055");
    EXPECT_EQ(Run("UnrightStr", {S("abc"), 0.0}), "abc");
    EXPECT_EQ(Run("UnrightStr", {S("abc"), -1.0}), "E1055");
    EXPECT_EQ(Run("UnleftStr", {S("abc"), 0.0}), "abc");
    EXPECT_EQ(Run("InsertStr", {S("abc"), S("X"), 0.0}), "Xabc");
    EXPECT_EQ(Run("InsertStr", {S("abc"), S("X"), 0.0, 1.0}), "Xbc");
    EXPECT_EQ(Run("MidStr", {S("abc"), 0.0, 1.0}), "a");
    EXPECT_EQ(Run("MidStr", {S("abc"), 0.0, -1.0}), "abc");
    EXPECT_EQ(Run("RightStr", {S("abc"), 0.0}), "");
    EXPECT_EQ(Run("LeftStr", {S("abc"), -1.0}), "");
}

TEST_F(StringCmdTest, SearchingCountingAndReplacing) {
    EXPECT_EQ(Run("FindStr", {S("hello"), S("l")}), "2");
    EXPECT_EQ(Run("FindStr", {S("hello"), S("L")}), "-1");
    EXPECT_EQ(Run("FindStr", {S("hello"), S("LO"), 0.0}), "3");
    EXPECT_EQ(Run("FindStr", {S("hello"), S("l"), 1.0, 3.0}), "3");
    EXPECT_EQ(Run("FindStr", {S("hello"), S("l"), 1.0, 5.0}), "-1");
    EXPECT_EQ(Run("FindStr", {S("hello"), S("l"), 1.0, 9.0}), "-1");
    EXPECT_EQ(Run("FindStr", {S("hello"), S("l"), 1.0, -1.0}), "E1055");
    EXPECT_EQ(Run("FindStr", {S("hello"), S("")}), "-1");
    EXPECT_EQ(Run("FindStr", {S("hello"), S("hello!")}), "-1");
    // Text full of false starts moves the search on to memmem part way.
    const S runs = S(5000, 'a') + "aab" + S(3000, 'a') + "aab";
    EXPECT_EQ(Run("FindStr", {runs, S("aab")}), "5000");
    EXPECT_EQ(Run("FindStr", {runs, S("aab"), 1.0, 5001.0}), "8003");
    EXPECT_EQ(Run("CountStr", {runs, S("aab")}), "2");
    EXPECT_EQ(Run("FindStr", {runs, S("aac")}), "-1");
    EXPECT_EQ(Run("CountStr", {S("aaaa"), S("aa")}), "2");
    EXPECT_EQ(Run("CountStr", {S("aAaA"), S("a"), 0.0, 1.0}), "3");
    EXPECT_EQ(Run("CountStr", {S("abc"), S("a"), 1.0, -1.0}), "E1055");
    EXPECT_EQ(Run("ReplaceStr", {S("aaa"), S("aa"), S("b")}), "ba");
    EXPECT_EQ(Run("ReplaceStr", {S("Hello hello"), S("hello"), S("X")}), "Hello X");  // case counts unless told
    EXPECT_EQ(Run("ReplaceStr", {S("abc"), S(""), S("x")}), "abc");
    EXPECT_EQ(Run("ReplaceStr", {S("a-A-a"), S("a"), S("xy"), 0.0}), "xy-xy-xy");
    EXPECT_EQ(Run("ReplaceStr", {S("a-a-a"), S("a"), S(""), 1.0, 1.0}), "a--");
    EXPECT_EQ(Run("ReplaceStr", {S("abc"), S("b"), S("x"), 1.0, -1.0}), "E1055");
}

TEST_F(StringCmdTest, NumbersToTextAndBack) {
    EXPECT_EQ(Run("StrStr", {3.14159}), "3.14");
    EXPECT_EQ(Run("StrStr", {2.0, 0.0}), "2");
    EXPECT_EQ(Run("StrStr", {2.5, 0.0}), "2");
    EXPECT_EQ(Run("StrStr", {2.5, -1.0}), "2.");
    EXPECT_EQ(Run("StrStr", {2.5, 4.0}), "2.5");
    EXPECT_EQ(Run("StrStr", {0.00001234}), "1.23e-05");
    EXPECT_EQ(Run("StrStr", {1.5e20}), "1.5e+20");
    EXPECT_EQ(Run("HexStr", {255.0}), "$FF");
    EXPECT_EQ(Run("HexStr", {-1.0}), "$FFFFFFFF");
    EXPECT_EQ(Run("HexStr", {2 * 4294967295.0}), "$FFFFFFFE");
    EXPECT_EQ(Run("HexStr", {4294967296.0}), "$0");
    EXPECT_EQ(Run("BinStr", {5.0, 7.0}), "00000101");
    EXPECT_EQ(Run("BinStr", {5.0, 6.0}), "0000000000000101");
    EXPECT_EQ(Run("BinStr", {-1.0}), S(32, '1'));
    EXPECT_EQ(Run("BinStr", {5.0, 3.0}), "");
    EXPECT_EQ(Run("PadNum", {7.0, 3.0}), "007");
    EXPECT_EQ(Run("PadNum", {1234.0, 2.0}), "1234");
    EXPECT_EQ(Run("PadNum", {-1.0, 2.0}), "E1055");
    EXPECT_EQ(Run("PadNum", {1.0, 0.0}), "E1055");
    EXPECT_EQ(Run("PadNum", {1.0, 1e300}), "E1000");
    // Only finite numbers have digits; a negative zero is 0.
    EXPECT_EQ(Run("PadNum", {HUGE_VAL, 5.0}), "E1055");
    EXPECT_EQ(Run("PadNum", {-HUGE_VAL, 5.0}), "E1055");
    EXPECT_EQ(Run("PadNum", {std::nan(""), 5.0}), "E1055");
    EXPECT_EQ(Run("PadNum", {-0.0, 3.0}), "000");
    EXPECT_EQ(Run("PadNum", {1e20, 3.0}), "100000000000000000000");
    EXPECT_EQ(Run("Val", {S("$ff rest")}), "255|3");
    EXPECT_EQ(Run("Val", {S("-2.5e1x")}), "-25|6");
    EXPECT_EQ(Run("Val", {S("abc")}), "0|0");
    EXPECT_EQ(Run("ToNumber", {S("ff"), 16.0}), "255");
    EXPECT_EQ(Run("ToNumber", {S("zz"), 10.0}), "0");
    EXPECT_EQ(Run("ToNumber", {S("12 "), 2.0}), "0");
    EXPECT_EQ(Run("ToNumber", {S("101 "), 2.0}), "5");
    EXPECT_EQ(Run("ToNumber", {S("zz"), 36.0}), "1295");
    EXPECT_EQ(Run("ToNumber", {S("1"), 37.0}), "E1055");
    EXPECT_EQ(Run("ToNumber", {S(" 0x10 ")}), "16");
    EXPECT_EQ(Run("ToNumber", {S("12abc")}), "0");
    EXPECT_EQ(Run("ToNumber", {Run("ToNumber", {})}), "0");
    ASSERT_EQ(Raw("ToUserData", {4096.0}), 0);
    EXPECT_EQ(VmToUserdata(L, 1), reinterpret_cast<void*>(4096));
    EXPECT_EQ(Run("ToNumber", {reinterpret_cast<void*>(4096)}), "4096");
    EXPECT_EQ(Run("ToString", {nullptr}), "Nil");
    EXPECT_EQ(Run("ToString", {2.5}), "2.5");
}

TEST_F(StringCmdTest, TablesOfPiecesAndBytes) {
    ASSERT_EQ(Raw("SplitStr", {S("a,,b"), S(",")}), 0);
    EXPECT_EQ(List(1, 4), "a,,b,nil");
    EXPECT_EQ(VmToNumber(L, 2), 3);
    EXPECT_EQ(Run("SplitStr", {S("a,b"), S(",,")}), "E1055");
    ASSERT_EQ(Raw("SplitStr", {S(""), S(",")}), 0);
    EXPECT_EQ(VmToNumber(L, 2), 1);
    S all;
    for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
    ASSERT_EQ(Raw("StrToArray", {all}), 0);
    VmRawGetIndex(L, 1, 255);
    EXPECT_EQ(VmToNumber(L, -1), 0);
    VmSetTop(L, 1);
    VmPushValue(L, 1);
    VmRemove(L, 1);
    ASSERT_EQ(CallCommand(L, "ArrayToStr", 1, 1), 0);
    EXPECT_EQ(S(VmToCString(L, 1), VmStrLen(L, 1)), all);
}

// The byte tables at their smallest strings: the closing 0 is always there,
// and the table turns back into the same string.
TEST_F(StringCmdTest, ByteTablesOfEmptyAndOneByteStrings) {
    for (const S& s : {S(""), S("A"), S("\xFF")}) {
        ASSERT_EQ(Raw("StrToArray", {s}), 0) << s.size();
        ASSERT_EQ(VmType(L, 1), kTypeTable);
        EXPECT_EQ(List(1, static_cast<int>(s.size()) + 2),
                  s.empty() ? "0,nil" : std::to_string(static_cast<unsigned char>(s[0])) + ",0,nil");
        VmSetTop(L, 1);
        ASSERT_EQ(CallCommand(L, "ArrayToStr", 1, 1), 0);
        EXPECT_EQ(S(VmToCString(L, 1), VmStrLen(L, 1)), s);
    }
}

TEST_F(StringCmdTest, DigestsAndBase64) {
    EXPECT_EQ(Run("CRC32Str", {S("123456789")}), "3421780262");
    EXPECT_EQ(Run("CRC32Str", {S("")}), "E1055");
    EXPECT_EQ(Run("MD5Str", {S("")}), "E1055");
    EXPECT_EQ(Run("MD5Str", {S("abc")}), "900150983cd24fb0d6963f7d28e17f72");
    // The file commands, unlike the string ones, take empty input.
    const S empty = testing::TempDir() + "qb_stringcmd_empty.bin";
    std::fclose(std::fopen(empty.c_str(), "wb"));
    EXPECT_EQ(Run("CRC32", {empty}), "0");
    EXPECT_EQ(Run("MD5", {empty}), "d41d8cd98f00b204e9800998ecf8427e");
    std::remove(empty.c_str());
    EXPECT_EQ(Run("Base64Str", {S("hello"), 0.0}), "aGVsbG8=");
    EXPECT_EQ(Run("Base64Str", {S("aGVsbG8="), 1.0}), "hello");
    EXPECT_EQ(Run("Base64Str", {S("a!b"), 1.0}), "E1323");
}

TEST_F(StringCmdTest, ZeroBytesStayInEveryCommand) {
    const S z("a\0b\0c", 5);
    EXPECT_EQ(Run("StrLen", {z}), "5");
    EXPECT_EQ(Run("UpperStr", {z}), S("A\0B\0C", 5));
    EXPECT_EQ(Run("MidStr", {z, 1.0, 3.0}), S("\0b\0", 3));
    EXPECT_EQ(Run("FindStr", {z, S("\0c", 2)}), "3");
    EXPECT_EQ(Run("FindStr", {z, S("B\0", 2), 0.0}), "2");
    EXPECT_EQ(Run("CountStr", {z, S("\0", 1)}), "2");
    EXPECT_EQ(Run("ReplaceStr", {z, S("\0", 1), S("-")}), "a-b-c");
    EXPECT_EQ(Run("AddStr", {z, z}), z + z);
    EXPECT_EQ(Run("RepeatStr", {z, 2.0}), z + z);
    EXPECT_EQ(Run("InsertStr", {z, z, 1.0}), S("a") + z + S("\0b\0c", 4));
    EXPECT_EQ(Run("UnmidStr", {z, 1.0, 1.0}), S("ab\0c", 4));
    EXPECT_EQ(Run("TrimStr", {S("\0\0a", 3), S("\0", 1), 0.0}), "a");
    EXPECT_EQ(Run("CRC32Str", {S("\0", 1)}), "3523407757");
    EXPECT_EQ(Run("MD5Str", {S("\0", 1)}), "93b885adfe0da089cdf634904fd59f71");
    EXPECT_EQ(Run("Base64Str", {z, 0.0}), "YQBiAGM=");
    EXPECT_EQ(Run("FormatStr", {S("<%s>", 4), z}), S("<") + z + ">");
    EXPECT_EQ(Run("FormatStr", {S("%s\0%d", 5), S("x"), 4.0}), S("x\0" "4", 3));
    EXPECT_EQ(Run("FormatStr", {S("%q"), z}), S("\"a\\000b\\000c\""));
    ASSERT_EQ(Raw("SplitStr", {z, S("\0", 1)}), 0);
    EXPECT_EQ(List(1, 3), "a,b,c");
    EXPECT_EQ(Run("LeftStr", {z, 2.0}), S("a\0", 2));
    EXPECT_EQ(Run("RightStr", {z, 2.0}), S("\0c", 2));
}

TEST_F(StringCmdTest, FormatStrConversionsAndErrors) {
    EXPECT_EQ(Run("FormatStr", {S("%5.2f"), 3.14159}), " 3.14");
    EXPECT_EQ(Run("FormatStr", {S("%q"), S("say \"hi\"\\\n")}), "\"say \\\"hi\\\"\\\\\\\n\"");
    EXPECT_EQ(Run("FormatStr", {S("%-8s|%5.2f"), S("name"), 2.5}), "name    | 2.50");
    EXPECT_EQ(Run("FormatStr", {S("%d %i %c %o %u %x %X %%"), -5.0, 7.9, 65.0, 8.0, -1.0, 255.0, 255.0}),
              "-5 7 A 10 4294967295 ff FF %");
    EXPECT_EQ(Run("FormatStr", {S("%+05d|%-5d|% d|%#x|%#o"), 42.0, 42.0, 42.0, 255.0, 8.0}),
              "+0042|42   | 42|0xff|010");
    EXPECT_EQ(Run("FormatStr", {S("%e|%G|%.3s"), 1234.5, 0.0001, S("abcdef")}), "1.234500e+03|0.0001|abc");
    EXPECT_EQ(Run("FormatStr", {S("%123d"), 1.0}), "E1055");
    EXPECT_EQ(Run("FormatStr", {S("%5.123f"), 1.0}), "E1055");
    EXPECT_EQ(Run("FormatStr", {S("%y"), 1.0}), "E1055");
    EXPECT_EQ(Run("FormatStr", {S("%ld"), 1.0}), "E1055");
    EXPECT_EQ(Run("FormatStr", {S("%"), 1.0}), "E1055");
    EXPECT_EQ(Run("FormatStr", {S("%d %d"), 1.0}), "E1138");
    // 18 characters from "%" to the letter still format; 19 do not.
    EXPECT_EQ(Run("FormatStr", {S("%") + S(13, '-') + "5.2f", 1.0}), "1.00 ");
    EXPECT_EQ(Run("FormatStr", {S("%") + S(14, '-') + "5.2f", 1.0}), "E1055");
    // Wide results are never cut.
    EXPECT_EQ(Run("FormatStr", {S("%99f"), 1e308}).size(), 316u);
    EXPECT_EQ(Run("FormatStr", {S("%99s"), S(99, 'x')}), S(99, 'x'));
    EXPECT_EQ(Run("FormatStr", {S("%-99s|"), S("x")}), S("x") + S(98, ' ') + "|");
    EXPECT_EQ(Run("FormatStr", {S("%.2s"), S(200, 'y')}), "yy");
}

}  // namespace
