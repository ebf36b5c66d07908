// The pattern commands of the string library: searching, captures, the
// iterator, replacing, the pattern errors and the recursion limit.
#include <gtest/gtest.h>

#include <functional>
#include <locale>
#include <string>

#include "core/errcodes.h"
#include "libs/patterns.h"
#include "libs/stringlib_fixture.h"

namespace {

using libstest::Arg;

class PatternTest : public libstest::StringLibFixture {
protected:
    std::string Direct(const std::string& s, const std::string& p) { return Call(cmdPatternFindStrDirect, {s, p}); }
    std::string Short(const std::string& s, const std::string& p) { return Call(cmdPatternFindStrShort, {s, p}); }
    std::string Replace(const std::string& s, const std::string& p, const Arg& repl) {
        return Call(cmdPatternReplaceStr, {s, p, repl});
    }
    // Every value the iterator gives, one call's results per entry.
    std::vector<std::string> Walk(const std::string& s, const std::string& p) {
        if (Call(cmdPatternFindStr, {s, p}) != "function") return {"no iterator"};
        std::vector<std::string> out;
        for (int guard = 0; guard < 100; ++guard) {
            VmSetTop(L, 1);
            VmPushValue(L, 1);
            const int err = VmPCall(L, 0, kMultRet, 0);
            if (err) return {libstest::ErrorText(err)};
            if (VmGetTop(L) == 1) break;
            out.push_back(Results(0, 2));
        }
        return out;
    }
};

TEST_F(PatternTest, FindGivesZeroBasedStartAndLastByte) {
    EXPECT_EQ(Direct("hello", "l+"), "2|3");
    EXPECT_EQ(Direct("hello", "xyz"), "-1");
    EXPECT_EQ(Direct("THE (quick) fox", "%b()"), "4|10");
    EXPECT_EQ(Call(cmdPatternFindStrDirect, {"hello", "l", 3.0}), "3|3");
    // An empty match ends one byte before it starts.
    EXPECT_EQ(Call(cmdPatternFindStrDirect, {"hello", "", 5.0}), "5|4");
    EXPECT_EQ(Call(cmdPatternFindStrDirect, {"hello", "l", 6.0}), "E1055");
    EXPECT_EQ(Call(cmdPatternFindStrDirect, {"hello", "l", -1.0}), "E1055");
    EXPECT_EQ(Direct("xab", "^a"), "-1");
    EXPECT_EQ(Call(cmdPatternFindStrDirect, {"abc", "^b", 1.0}), "1|1");
    EXPECT_EQ(Direct("abc", "c$"), "2|2");
    EXPECT_EQ(Direct("a$b", "$b"), "1|2");
}

TEST_F(PatternTest, CapturesAndPositionCapturesComeBackAfterThePositions) {
    EXPECT_EQ(Short("key=val", "(%w+)=(%w+)"), "key|val");
    EXPECT_EQ(Short("key=val", "%w+"), "key");
    EXPECT_EQ(Short("nothing", "%d"), "-1");
    // Position captures are the one place that counts from 1.
    EXPECT_EQ(Direct("hello", "()h"), "0|0|1");
    EXPECT_EQ(Short("hello", "l()"), "4");
    EXPECT_EQ(Direct("ab", "(a)(b)"), "0|1|a|b");
    EXPECT_EQ(Short("say \"hi\" ok", "([\"'])(.-)%1"), "\"|hi");
    EXPECT_EQ(Short("hello world", "%f[%w]%w+$"), "world");
    EXPECT_EQ(Short("x = [[a]] y", "%[(=*)%[(.-)%]%1%]"), "|a");
}

TEST_F(PatternTest, ClassesTakeBytesAsUnsignedWithLatin1Letters) {
    const std::string e = "\xE9";  // é: a letter, but not lower case in the "C" locale
    EXPECT_EQ(Short(e, "%a"), e);
    EXPECT_EQ(Short(e, "%w"), e);
    EXPECT_EQ(Short(e, "%l"), "-1");
    EXPECT_EQ(Short(e, "%u"), "-1");
    EXPECT_EQ(Short(e, "%L"), e);
    EXPECT_EQ(Short(e, "%A"), "-1");
    EXPECT_EQ(Short("\xD7", "%a"), "-1");  // the multiplication sign
    EXPECT_EQ(Direct("ab\xE9\xFF" "c", "[\x80-\xFF]+"), "2|3");
    EXPECT_EQ(Direct("ab\xE9\xFF" "c", "[^%a]"), "-1");
    EXPECT_EQ(Short(std::string("a\0b", 3), "%z"), std::string("\0", 1));
    EXPECT_EQ(Short("a1 B.\t", "%d%s%u%p%c"), "1 B.\t");
    EXPECT_EQ(Short("Zz]-x", "[]%-]+"), "]-");
    EXPECT_EQ(Short("deadBEEFg", "%x+"), "deadBEEF");
    // The language has no "%g" class: it is the letter itself.
    EXPECT_EQ(Short("ab g", "%g"), "g");
}

TEST_F(PatternTest, QuantifiersTakeLongestShortestOrOptional) {
    EXPECT_EQ(Short("<a><b>", "<.*>"), "<a><b>");
    EXPECT_EQ(Short("<a><b>", "<.->"), "<a>");
    EXPECT_EQ(Short("color colour", "colou?r"), "color");
    EXPECT_EQ(Direct("aaa", "a*"), "0|2");
    EXPECT_EQ(Direct("baaa", "a+"), "1|3");
    EXPECT_EQ(Direct("b", "a-"), "0|-1");
}

TEST_F(PatternTest, MalformedPatternsGiveTheirErrors) {
    EXPECT_EQ(Direct("a", "a%"), "E1463");
    EXPECT_EQ(Direct("a", "[a"), "E1464");
    EXPECT_EQ(Direct("a", "[%"), "E1464");
    EXPECT_EQ(Direct("a", "%b"), "E1465");
    EXPECT_EQ(Direct("a", "%bx"), "E1465");
    EXPECT_EQ(Direct("a", "%f"), "E1467");
    EXPECT_EQ(Direct("a", "%fa"), "E1467");
    EXPECT_EQ(Direct("a", "(a"), "E1468");
    EXPECT_EQ(Direct("a", "a)"), "E1462");
    EXPECT_EQ(Direct("a", "%1"), "E1461");
    EXPECT_EQ(Direct("a", "(a)%2"), "E1461");
    EXPECT_EQ(Direct("a", "(a%1)"), "E1461");
    std::string caps;
    for (int i = 0; i < 32; ++i) caps += "()";
    EXPECT_EQ(Direct("a", caps).substr(0, 4), "0|-1");
    EXPECT_EQ(Direct("a", caps + "()"), "E1466");
}

TEST_F(PatternTest, DeepRecursionStopsWithAStackError) {
    std::string many;
    for (int i = 0; i < 100000; ++i) many += "a?";
    EXPECT_EQ(Direct(std::string(1000, 'a'), many), "E1135");
    // Without bytes to match the items loop and never recurse.
    EXPECT_EQ(Direct("", many), "0|-1");
    std::string nested(100000, '(');
    EXPECT_EQ(Direct("a", nested), "E1466");
    // 200 levels are allowed: 199 optional items and the end.
    std::string deep;
    for (int i = 0; i < 199; ++i) deep += "a?";
    EXPECT_EQ(Direct(std::string(199, 'a'), deep), "0|198");
    EXPECT_EQ(Direct(std::string(200, 'a'), deep + "a?"), "E1135");
}

TEST_F(PatternTest, ReplaceWithStringsAndCaptures) {
    EXPECT_EQ(Replace("hello world", "o", "0"), "hell0 w0rld|2");
    EXPECT_EQ(Replace("a=b c=d", "(%w+)=(%w+)", "%2=%1"), "b=a d=c|2");
    EXPECT_EQ(Replace("abc", "()b", "[%1]"), "a[2]c|1");
    EXPECT_EQ(Replace("50", "%d+", "%%%.!"), "%.!|1");
    EXPECT_EQ(Replace("ab", "b", "x%"), "ax%|1");
    EXPECT_EQ(Replace("hello", "l", "%0"), "E1461");
    EXPECT_EQ(Replace("hello", "l", "%1"), "E1461");
    EXPECT_EQ(Replace("hello", "(l)", "%2"), "E1461");
    EXPECT_EQ(Replace("aaa", "^a", "b"), "baa|1");
    EXPECT_EQ(Call(cmdPatternReplaceStr, {"aaa", "a", "b", 1.0}), "baa|1");
    EXPECT_EQ(Call(cmdPatternReplaceStr, {"aaa", "a", "b", 0.0}), "aaa|0");
    EXPECT_EQ(Replace("aaa", "a", 5.0), "E1055");
    // An empty match right after a match is replaced too.
    EXPECT_EQ(Replace("hello world", "%w*", "x"), "xx xx|4");
    EXPECT_EQ(Replace("abc", "x*", "-"), "-a-b-c-|4");
    EXPECT_EQ(Replace("a", "(", "%1"), "E1468");
}

int Shout(ScriptState* L) {
    std::string s(VmToCString(L, 1), VmStrLen(L, 1));
    for (char& c : s) c = static_cast<char>(c - 32);
    VmPushLString(L, s.data(), s.size());
    return 1;
}
int Number(ScriptState* L) {
    VmPushNumber(L, 7);
    return 1;
}
int Pair(ScriptState* L) {
    std::string s = std::string(VmToCString(L, 2)) + std::string(VmToCString(L, 1));
    VmPushString(L, s.c_str());
    return 1;
}

TEST_F(PatternTest, ReplaceThroughAFunction) {
    EXPECT_EQ(Replace("one two", "%a+", Shout), "ONE TWO|2");
    // Anything but a string drops the matched text.
    EXPECT_EQ(Replace("a1b22c", "%d+", Number), "abc|2");
    EXPECT_EQ(Replace("k=v", "(%w)=(%w)", Pair), "vk|1");
}

TEST_F(PatternTest, TheIteratorWalksEveryMatch) {
    EXPECT_EQ(Walk("one two  three", "%a+"), (std::vector<std::string>{"one", "two", "three"}));
    EXPECT_EQ(Walk("a=1, b=2", "(%w+)=(%w+)"), (std::vector<std::string>{"a|1", "b|2"}));
    // "^" is an ordinary byte here.
    EXPECT_EQ(Walk("a^b ^b", "^b"), (std::vector<std::string>{"^b", "^b"}));
    // Empty matches step on by one byte.
    EXPECT_EQ(Walk("abc", "x*"), (std::vector<std::string>{"", "", "", ""}));
    EXPECT_EQ(Walk("ab", "()"), (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(Walk("ab", "%"), (std::vector<std::string>{"E1463"}));
}

}  // namespace

namespace {

TEST(PatternBudgetTest, ASpentBudgetEndsAnExponentialSearch) {
    std::string p;
    for (int i = 0; i < 60; ++i) p += "a?";
    const std::string s = std::string(60, 'a') + "b";
    qbMatchState ms;
    ms.budget = 100000;
    size_t start = 0, end = 0;
    EXPECT_EQ(PatternFind(ms, s.data(), s.size(), (p + "b$").data(), p.size() + 2, 0, true, &start, &end), 1);
    ms.budget = 100000;
    EXPECT_EQ(PatternFind(ms, s.data(), s.size(), (p + "c").data(), p.size() + 1, 0, true, &start, &end), ERR_STACK);
}

}  // namespace

// Each class at every byte, against the "C" locale's classification (the
// letters of "a" and "w" add the Latin-1 ones): removing a class's bytes from
// a text of all 256 leaves exactly the others, and its complement the rest.
TEST_F(PatternTest, EveryClassHoldsItsBytesAndNoOthers) {
    const auto& ctype = std::use_facet<std::ctype<char>>(std::locale::classic());
    const auto in = [&](std::ctype_base::mask m, int c) { return c < 128 && ctype.is(m, static_cast<char>(c)); };
    const auto latin1Letter = [&](int c) { return in(std::ctype_base::alpha, c) || (c >= 0xC0 && c != 0xD7 && c != 0xF7); };
    const struct {
        char letter;
        std::function<bool(int)> holds;
    } classes[] = {
        {'a', latin1Letter},
        {'c', [&](int c) { return in(std::ctype_base::cntrl, c); }},
        {'d', [&](int c) { return in(std::ctype_base::digit, c); }},
        {'l', [&](int c) { return in(std::ctype_base::lower, c); }},
        {'p', [&](int c) { return in(std::ctype_base::punct, c); }},
        {'s', [&](int c) { return in(std::ctype_base::space, c); }},
        {'u', [&](int c) { return in(std::ctype_base::upper, c); }},
        {'w', [&](int c) { return latin1Letter(c) || in(std::ctype_base::digit, c); }},
        {'x', [&](int c) { return in(std::ctype_base::xdigit, c); }},
        {'z', [](int c) { return c == 0; }},
    };
    std::string all;
    for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
    for (const auto& k : classes) {
        std::string outside;
        std::string inside;
        for (int c = 0; c < 256; ++c) (k.holds(c) ? inside : outside) += static_cast<char>(c);
        const std::string cls = std::string("%") + k.letter;
        const std::string complement = std::string("%") + static_cast<char>(k.letter - 'a' + 'A');
        const auto count = [](const std::string& s) { return "|" + std::to_string(s.size()); };
        SCOPED_TRACE(cls);
        EXPECT_EQ(Replace(all, cls, ""), outside + count(inside));
        EXPECT_EQ(Replace(all, "[" + cls + "]", ""), outside + count(inside));
        EXPECT_EQ(Replace(all, complement, ""), inside + count(outside));
        EXPECT_EQ(Replace(all, "[^" + cls + "]", ""), inside + count(outside));
    }
}
