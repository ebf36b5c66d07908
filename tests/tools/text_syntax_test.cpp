// Literal printers and parsers of the assembler text form must invert each
// other on the edge cases (random chunks in roundtrip_test.cpp do the rest).
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>

#include "lib/text_syntax.h"

namespace {

uint64_t Bits(double v) { return std::bit_cast<uint64_t>(v); }

TEST(TextSyntax, NumbersRoundTripBitExactly) {
    const uint64_t cases[] = {
        Bits(0.0), Bits(-0.0), Bits(1.0), Bits(-0.5), Bits(0.1), Bits(1e9), Bits(1e300),
        Bits(31415926.535897933), Bits(9007199254740993.0), Bits(123456789012345680.0),
        Bits(std::numeric_limits<double>::infinity()), Bits(-std::numeric_limits<double>::infinity()),
        Bits(std::numeric_limits<double>::denorm_min()), Bits(std::numeric_limits<double>::max()),
        Bits(std::numeric_limits<double>::lowest()), 0x7FF8000000000000ull,
        0x7FF8000000000001ull,  // NaN payload
        0xFFF8000000000000ull,  // negative NaN
        0x7FF0000000000001ull,  // signalling NaN
    };
    for (uint64_t bits : cases) {
        std::string text = FormatNumber(bits);
        uint64_t back = 0;
        ASSERT_TRUE(ParseNumber(text, back)) << text;
        EXPECT_EQ(back, bits) << text;
    }
}

TEST(TextSyntax, Spellings) {
    EXPECT_EQ(FormatNumber(Bits(1000000.0)), "1000000");
    EXPECT_EQ(FormatNumber(Bits(-0.0)), "-0");
    EXPECT_EQ(FormatNumber(Bits(0.1)), "0.1");
    EXPECT_EQ(FormatNumber(Bits(std::numeric_limits<double>::infinity())), "inf");
    EXPECT_EQ(FormatNumber(0x7FF8000000000000ull), "nan");
    EXPECT_EQ(FormatNumber(0x7FF8000000000001ull), "bits:7FF8000000000001");
    // A string without its terminator, or an empty one, needs the raw form.
    EXPECT_EQ(FormatStringLiteral(RawString()), "raw\"\"");
    EXPECT_EQ(FormatStringLiteral(RawString("", 1)), "\"\"");
    EXPECT_EQ(FormatStringLiteral(RawString("x")), "raw\"x\"");

    uint64_t bits = 0;
    EXPECT_TRUE(ParseNumber("-inf", bits));
    EXPECT_EQ(bits, Bits(-std::numeric_limits<double>::infinity()));
    EXPECT_TRUE(ParseNumber("1e9", bits));
    EXPECT_EQ(bits, Bits(1e9));
    EXPECT_TRUE(ParseNumber("0x10", bits));
    EXPECT_EQ(bits, Bits(16.0));
    for (const char* bad : {"", "1.5x", "-nan", "nan(1)", "infinity", "1e999", "bits:", "bits:XYZ",
                            " 1", "bits:12345678901234567"})
        EXPECT_FALSE(ParseNumber(bad, bits)) << bad;
}

TEST(TextSyntax, StringEscapes) {
    RawString out;
    std::string error;
    ASSERT_TRUE(ParseStringLiteral(R"("\027QB\x42\n\t\\\"\0")", out, error)) << error;
    EXPECT_EQ(out, RawString("\x1bQBB\n\t\\\"\0\0", 10));
    // \ddd takes at most three digits.
    ASSERT_TRUE(ParseStringLiteral(R"("\0651")", out, error));
    EXPECT_EQ(out, RawString("A1\0", 3));
    for (const char* bad : {R"("\256")", R"("\q")", R"("\x4")", R"("abc)", "abc", R"("a\")"})
        EXPECT_FALSE(ParseStringLiteral(bad, out, error)) << bad;
}

TEST(TextSyntax, WordSplitting) {
    std::vector<std::string> words;
    std::string error;
    ASSERT_TRUE(SplitWords("  LOADK 1 \"a; b\"  ; comment \"x", words, error));
    EXPECT_EQ(words, (std::vector<std::string>{"LOADK", "1", "\"a; b\""}));
    ASSERT_TRUE(SplitWords(".header signature=\"\\027Q B\" order=0", words, error));
    EXPECT_EQ(words, (std::vector<std::string>{".header", "signature=\"\\027Q B\"", "order=0"}));
    ASSERT_TRUE(SplitWords("; only a comment", words, error));
    EXPECT_TRUE(words.empty());
    EXPECT_FALSE(SplitWords("LOADK 1 \"open", words, error));
    EXPECT_FALSE(SplitWords("LOADK 1 \"ends in escape\\\"", words, error));
}

TEST(TextSyntax, IntegersAndHex) {
    int64_t v = 0;
    EXPECT_TRUE(ParseInteger("0xFFFFFFFF", v));
    EXPECT_EQ(v, 0xFFFFFFFF);
    for (const char* bad : {"", "-", "0x", "12a", "1.0", "99999999999999999999"})
        EXPECT_FALSE(ParseInteger(bad, v)) << bad;
    std::string bytes;
    EXPECT_TRUE(ParseHexBytes("0x00fF10", bytes));
    EXPECT_EQ(FormatHexBytes(bytes), "00FF10");
    EXPECT_FALSE(ParseHexBytes("abc", bytes));
}

}  // namespace
