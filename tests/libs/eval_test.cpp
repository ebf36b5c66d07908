// Eval: priorities and grouping, the integer and bit operators, variables,
// the errors and the nesting limit.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/errcodes.h"
#include "libs/eval.h"
#include "libs/stringlib_fixture.h"

namespace {

// The value as "%.14g", or "E<code>".
std::string Ev(const std::string& text, const std::vector<qbEvalVariable>& vars = {}) {
    double v = 0;
    if (int err = EvaluateExpression(text.c_str(), vars, &v)) return libstest::ErrorText(err);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.14g", v);
    return buf;
}

TEST(EvalTest, PrioritiesAndGrouping) {
    EXPECT_EQ(Ev("2^3^2"), "512");
    EXPECT_EQ(Ev("2-3-4"), "-5");
    EXPECT_EQ(Ev("-2^2"), "-4");
    EXPECT_EQ(Ev("2^-1"), "0.5");
    EXPECT_EQ(Ev("1 + 2 * 3"), "7");
    EXPECT_EQ(Ev("(1 + 2) * 3"), "9");
    EXPECT_EQ(Ev("8 / 2 / 2"), "2");
    EXPECT_EQ(Ev("1 + 1 << 2"), "8");
    EXPECT_EQ(Ev("6 & 3 | 8"), "10");
    EXPECT_EQ(Ev("1 or 0 and 0"), "1");
    EXPECT_EQ(Ev("\t$FF + 1 "), "256");
    EXPECT_EQ(Ev("0x10 + 1.5e1"), "31");
}

TEST(EvalTest, IntegerAndBitOperators) {
    EXPECT_EQ(Ev("7\\2"), "3");
    EXPECT_EQ(Ev("-7\\2"), "-3");
    EXPECT_EQ(Ev("-7 % 3"), "-1");
    EXPECT_EQ(Ev("7.9 % 3"), "1");
    EXPECT_EQ(Ev("7 % 0"), "E1089");
    EXPECT_EQ(Ev("7 \\ 0.5"), "E1089");
    EXPECT_EQ(Ev("1 / 0"), "E1089");
    // The smallest integer over -1 must not trap.
    EXPECT_EQ(Ev("-2147483648 \\ -1"), "2147483648");
    EXPECT_EQ(Ev("-2147483648 % -1"), "0");
    EXPECT_EQ(Ev("1e20 \\ 3"), "715827882");
    EXPECT_EQ(Ev("1 << 4"), "16");
    EXPECT_EQ(Ev("1<<4"), "E1024");
    EXPECT_EQ(Ev("1 << 33"), "2");
    EXPECT_EQ(Ev("$80000000 >> 31"), "1");
    EXPECT_EQ(Ev("~0"), "4294967295");
    EXPECT_EQ(Ev("~-5"), "4294967295");
    EXPECT_EQ(Ev("-1 & 255"), "255");
    EXPECT_EQ(Ev("1e10 | 0"), "4294967295");
    EXPECT_EQ(Ev("5 ~ 3"), "6");
    EXPECT_EQ(Ev("-1 | 0"), "4294967295");
}

TEST(EvalTest, ComparisonsAndLogic) {
    EXPECT_EQ(Ev("3 >= 3"), "1");
    EXPECT_EQ(Ev("3 > 3"), "0");
    EXPECT_EQ(Ev("2 = 2"), "1");
    EXPECT_EQ(Ev("1 <> 2"), "1");
    EXPECT_EQ(Ev("2 <= 1"), "0");
    EXPECT_EQ(Ev("not 0"), "1");
    EXPECT_EQ(Ev("not 5"), "0");
    EXPECT_EQ(Ev("3 and 0"), "0");
    EXPECT_EQ(Ev("3 and 5"), "5");
    EXPECT_EQ(Ev("0 or 7"), "7");
    EXPECT_EQ(Ev("4 or 7"), "4");
    // A word followed by a letter or digit is no operator.
    EXPECT_EQ(Ev("not0"), "E1024");
}

TEST(EvalTest, VariablesInTableOrder) {
    const std::vector<qbEvalVariable> x{{"x", 4}};
    EXPECT_EQ(Ev("x*2", x), "8");
    EXPECT_EQ(Ev("xy", x), "E1024");
    EXPECT_EQ(Ev("xy + x", {{"x", 4}, {"xy", 10}}), "14");
    EXPECT_EQ(Ev("a$ * b!", {{"a$", 2}, {"b!", 3}}), "6");
    EXPECT_TRUE(IsEvalVariableName("_a9$!"));
    EXPECT_TRUE(IsEvalVariableName(std::string(64, 'n')));
    EXPECT_FALSE(IsEvalVariableName(std::string(65, 'n')));
    EXPECT_FALSE(IsEvalVariableName("9x"));
    EXPECT_FALSE(IsEvalVariableName(""));
    EXPECT_FALSE(IsEvalVariableName("a-b"));
}

// Every byte, as a name's first character and as a later one, against the
// letter ranges; the ranges' edge letters also name variables and end words.
TEST(EvalTest, EveryByteAsANameCharacter) {
    auto letter = [](int c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= 0xC0 && c != 0xD7 && c != 0xF7);
    };
    for (int c = 0; c < 256; ++c) {
        const std::string ch(1, static_cast<char>(c));
        const bool digit = c >= '0' && c <= '9';
        EXPECT_EQ(IsEvalVariableName(ch), letter(c) || c == '_') << c;
        EXPECT_EQ(IsEvalVariableName("a" + ch), letter(c) || digit || c == '_' || c == '$' || c == '!') << c;
    }
    for (int c : {int{'A'}, int{'Z'}, int{'a'}, int{'z'}, 0xC0, 0xD6, 0xD8, 0xF6, 0xF8, 0xFF}) {
        const std::string ch(1, static_cast<char>(c));
        EXPECT_EQ(Ev(ch + " + 1", {{ch, 7}}), "8") << c;
        EXPECT_EQ(Ev("not" + ch, {{"not" + ch, 3}}), "3") << c;
        EXPECT_EQ(Ev("S" + ch + "E * 2", {{"S" + ch + "E", 3}}), "6") << c;
    }
}

TEST(EvalTest, ErrorsAndNesting) {
    EXPECT_EQ(Ev("(1"), "E1186");
    EXPECT_EQ(Ev("1 2"), "E1018");
    EXPECT_EQ(Ev("1 )"), "E1018");
    EXPECT_EQ(Ev(""), "E1024");
    EXPECT_EQ(Ev("1 +"), "E1024");
    EXPECT_EQ(Ev("1 .. 2"), "E1187");
    EXPECT_EQ(Ev("$"), "E1018");
    EXPECT_EQ(Ev("2 ^ 2 ^ (3"), "E1186");
    EXPECT_EQ(Ev(std::string(1000000, '(') + "1"), "E1135");
    EXPECT_EQ(Ev(std::string(100000, '-') + "1"), "E1135");
    std::string chain = "1";
    for (int i = 0; i < 300; ++i) chain += "^1";
    EXPECT_EQ(Ev(chain), "E1135");
    std::string flat = "1";
    for (int i = 0; i < 100000; ++i) flat += "+1";
    EXPECT_EQ(Ev(flat), "100001");
    std::string ok = std::string(150, '(') + "2" + std::string(150, ')');
    EXPECT_EQ(Ev(ok), "2");
}

class EvalCommandTest : public libstest::StringLibFixture {
protected:
    // Eval(text, {variables = {{name = ..., value = ...}, ...}}), the list
    // from index 0.
    std::string Run(const std::string& text, const std::vector<std::pair<libstest::Arg, double>>& vars) {
        VmSetTop(L, 0);
        VmPushCClosure(L, cmdEval, 0);
        VmPushString(L, text.c_str());
        VmPushNewTable(L);
        VmPushString(L, "variables");
        VmPushNewTable(L);
        for (size_t i = 0; i < vars.size(); ++i) {
            VmPushNumber(L, static_cast<double>(i));
            VmPushNewTable(L);
            VmPushString(L, "name");
            Push(vars[i].first);
            VmSetTableAt(L, -3);
            VmPushString(L, "value");
            VmPushNumber(L, vars[i].second);
            VmSetTableAt(L, -3);
            VmSetTableAt(L, -3);
        }
        VmSetTableAt(L, -3);
        return Results(VmPCall(L, 2, kMultRet, 0));
    }
};

TEST_F(EvalCommandTest, TheVariablesOption) {
    EXPECT_EQ(Run("x * 2 + 1", {{std::string("x"), 4}}), "9");
    EXPECT_EQ(Run("x + y", {{std::string("x"), 1}, {std::string("y"), 2}}), "3");
    EXPECT_EQ(Run("1", {{std::string("9x"), 4}}), "E1055");
    EXPECT_EQ(Run("1", {{std::string(65, 'v'), 4}}), "E1055");
    EXPECT_EQ(Run("1", {{5.0, 4}}), "E1055");
    EXPECT_EQ(Call(cmdEval, {"2^10"}), "1024");
    EXPECT_EQ(Call(cmdEval, {"7 % 0"}), "E1089");
    EXPECT_EQ(Call(cmdEval, {std::string("1 + 1\0 junk", 11)}), "2");
}

// The variables list at every length up to and well past the room a
// command's frame has at first and the most it may take (2048 slots), each
// variable found, so the list's reading leaves nothing behind per entry;
// a hole ends the list,
// a variable without a value is 0 and an entry that is no table, or a
// list that is none, is refused.
TEST_F(EvalCommandTest, TheVariablesListAtEveryLengthAndItsBadEntries) {
    for (int n : {0, 1, 2, 7, 8, 9, 10, 16, 17, 40, 300, 1030, 2100}) {
        std::vector<std::pair<libstest::Arg, double>> vars;
        std::string sum = "0";
        double expected = 0;
        for (int i = 0; i < n; ++i) {
            vars.push_back({"v" + std::to_string(i), i + 1});
            sum += " + v" + std::to_string(i);
            expected += i + 1;
        }
        EXPECT_EQ(Run(sum, vars), std::to_string(static_cast<int>(expected))) << n << " variables";
    }
    // {variables = list} with the list built by fill on the stack's top.
    const auto eval = [&](const std::string& text, const std::function<void()>& fill) {
        VmSetTop(L, 0);
        VmPushCClosure(L, cmdEval, 0);
        VmPushString(L, text.c_str());
        VmPushNewTable(L);
        VmPushString(L, "variables");
        fill();
        VmSetTableAt(L, -3);
        return Results(VmPCall(L, 2, kMultRet, 0));
    };
    // Entry i of the list: a {name, value} table, value left out below 0.
    const auto entry = [&](int i, const char* name, double value) {
        VmPushNumber(L, i);
        VmPushNewTable(L);
        VmPushString(L, "name");
        VmPushString(L, name);
        VmSetTableAt(L, -3);
        if (value >= 0) {
            VmPushString(L, "value");
            VmPushNumber(L, value);
            VmSetTableAt(L, -3);
        }
        VmSetTableAt(L, -3);
    };
    const auto holed = [&] {
        VmPushNewTable(L);
        entry(0, "a", 2);
        entry(2, "c", 5);
    };
    EXPECT_EQ(eval("a * 3", holed), "6");
    EXPECT_EQ(eval("a + c", holed), "E1024") << "c lies past the hole";
    EXPECT_EQ(eval("a + 1", [&] {
                  VmPushNewTable(L);
                  entry(0, "a", -1);
              }),
              "1");
    EXPECT_EQ(eval("1", [&] {
                  VmPushNewTable(L);
                  entry(0, "a", 2);
                  VmPushNumber(L, 1);
                  VmPushString(L, "b");
                  VmSetTableAt(L, -3);
              }),
              "E1055");
    EXPECT_EQ(eval("1", [&] { VmPushNumber(L, 4); }), "E1055");
    EXPECT_EQ(eval("1", [&] { VmPushString(L, "a"); }), "E1055");
    EXPECT_EQ(eval("1", [&] { VmPushNil(L); }), "1") << "no list is no variables";
    EXPECT_EQ(eval("2", [&] { VmPushNewTable(L); }), "2");
}

// Each comparison with its left side below, at and above its right one,
// through the command, fractions and negatives included.
TEST_F(EvalCommandTest, EveryComparisonOnBothSidesOfItsBoundary) {
    struct Case {
        const char* op;
        const char* below;
        const char* equal;
        const char* above;
    };
    const Case cases[] = {{"=", "0", "1", "0"},  {"<>", "1", "0", "1"}, {"<", "1", "0", "0"},
                          {"<=", "1", "1", "0"}, {">", "0", "0", "1"},  {">=", "0", "1", "1"}};
    for (const Case& c : cases) {
        const std::string op = std::string(" ") + c.op + " ";
        for (const auto& [a, b] : {std::pair<std::string, std::string>{"2", "3"}, {"-0.5", "-0.25"}}) {
            EXPECT_EQ(Call(cmdEval, {a + op + b}), c.below) << a << op << b;
            EXPECT_EQ(Call(cmdEval, {b + op + b}), c.equal) << b << op << b;
            EXPECT_EQ(Call(cmdEval, {b + op + a}), c.above) << b << op << a;
        }
    }
}

}  // namespace

namespace {

TEST(EvalNamesTest, ANameWithAZeroByteNeverReadsPastTheText) {
    EXPECT_EQ(Ev("ab", {{std::string("ab\0cd", 5), 1}}), "E1024");
}

}  // namespace
