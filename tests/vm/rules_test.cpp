// The value rules as scripts meet them: arithmetic with nil and numeric
// strings, 32-bit integer division and bit patterns, concatenation, equality
// and order with their nil rules, indexing and the metamethods of each.
#include <cmath>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "vm_fixture.h"

namespace {

using vmtest::Show;

// A metamethod that records "tag(arg,arg...)" and answers its third upvalue,
// or that very description when the third upvalue is the string "?desc".
int Recorder(ScriptState* L) {
    auto* out = static_cast<std::vector<std::string>*>(VmToUserdata(L, VmUpvalueIndex(1)));
    std::string desc = VmToCString(L, VmUpvalueIndex(2));
    desc += '(';
    for (int i = 1; i <= VmGetTop(L); i++) {
        if (i > 1) desc += ',';
        desc += Show(L, i);
    }
    desc += ')';
    out->push_back(desc);
    if (VmType(L, VmUpvalueIndex(3)) == kTypeString && std::string(VmToCString(L, VmUpvalueIndex(3))) == "?desc") {
        VmPushString(L, desc.c_str());
    } else {
        VmPushValue(L, VmUpvalueIndex(3));
    }
    return 1;
}

class RulesTest : public vmtest::VmFixture {
protected:
    void SetUp() override {
        VmFixture::SetUp();
        VmPushNewTable(L);
        SetGlobal("tbl2");
        RegisterClosure("fn", [](ScriptState*) { return 0; });
        VmPushLightUserdata(L, this);
        SetGlobal("lud");
    }

    // Pushes a value given as "nil", "true", "false", "#number", "?desc" or a
    // plain string.
    void PushValueText(const std::string& text) {
        if (text == "nil") VmPushNil(L);
        else if (text == "true") VmPushBoolean(L, 1);
        else if (text == "false") VmPushBoolean(L, 0);
        else if (!text.empty() && text[0] == '#') VmPushNumber(L, std::strtod(text.c_str() + 1, nullptr));
        else VmPushString(L, text.c_str());
    }
    void PushRecorder(const std::string& tag, const std::string& result) {
        VmPushLightUserdata(L, &out);
        VmPushString(L, tag.c_str());
        PushValueText(result);
        VmPushCClosure(L, Recorder, 3);
    }
    // Pushes a metatable whose events ("__add", ...) are recorders answering
    // the given results; the recorder's tag is the event without "__".
    void PushMetatable(const std::vector<std::pair<std::string, std::string>>& events) {
        VmPushNewTable(L);
        for (const auto& [event, result] : events) {
            VmPushString(L, event.c_str());
            PushRecorder(event.substr(2), result);
            VmRawSet(L, -3);
        }
    }
    // A global table with the metatable on the stack top (which stays).
    void MakeObjectWithTop(const char* name) {
        VmPushNewTable(L);
        VmPushString(L, "name");
        VmPushString(L, name);
        VmRawSet(L, -3);
        VmPushValue(L, -2);
        VmSetMetatable(L, -2);
        SetGlobal(name);
    }
    void MakeObject(const char* name, const std::vector<std::pair<std::string, std::string>>& events) {
        PushMetatable(events);
        MakeObjectWithTop(name);
        VmSetTop(L, -2);
    }
};

// ---- arithmetic ---------------------------------------------------------------

// b op c (c empty: op b) and the result as Eval shows it.
struct OpCase {
    const char* op;
    const char* b;
    const char* c;
    const char* want;
};

TEST_F(RulesTest, ArithmeticReadsNilAsZeroAndConvertsNumericStrings) {
    const OpCase cases[] = {
        {"ADD", "nil", "#5", "5"},          {"SUB", "nil", "nil", "0"},         {"MUL", "\"3\"", "\"4\"", "12"},
        {"ADD", "\"0x10\"", "#0", "16"},    {"ADD", "\"$ff\"", "#1", "256"},    {"ADD", "\"7  \"", "#1", "8"},
        {"SUB", "#1", "\"2.5\"", "-1.5"},   {"ADD", "\"abc\"", "#1", "E1030"},  {"ADD", "#1", "\"abc\"", "E1030"},
        {"ADD", "\"\"", "#1", "E1030"},     {"MUL", "@yes", "#1", "E1030"},     {"MUL", "@tbl", "#1", "E1030"},
        {"DIV", "#7", "#2", "3.5"},         {"DIV", "#7", "#0", "E1089"},       {"DIV", "#0", "#0", "E1089"},
        {"DIV", "#1", "nil", "E1089"},      {"DIV", "\"7\"", "\"0\"", "E1089"}, {"DIV", "nil", "#4", "0"},
        {"DIV", "#1", "#inf", "0"},         {"POW", "#2", "#10", "1024"},       {"POW", "nil", "#0", "1"},
        {"POW", "\"9\"", "#0.5", "3"},      {"POW", "#0", "#-1", "inf"},        {"UNM", "nil", "", "-0"},
        {"UNM", "#-0", "", "0"},            {"UNM", "\"5\"", "", "-5"},         {"UNM", "\"abc\"", "", "E1030"},
        {"UNM", "@tbl", "", "E1030"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(*c.c ? Binary(c.op, c.b, c.c) : Unary(c.op, c.b), c.want) << c.b << " " << c.op << " " << c.c;
    // A NaN divisor is no zero.
    for (const char* b : {"#7", "\"7\""}) {
        ASSERT_EQ(Run(std::string(".function main maxstack=4\nLOADK 0 ") + b + "\nLOADK 1 #nan\nDIV 2 0 1\nRETURN 2 2\n.end\n"), 0);
        EXPECT_TRUE(std::isnan(VmToNumber(L, 1))) << b;
    }
}

TEST_F(RulesTest, IntegerDivisionAndModuloTruncateToInt32) {
    // Each case runs once with numbers (the interpreter's direct path) and once
    // with a numeric string (the general rule), which must agree.
    const OpCase cases[] = {
        {"DIVINT", "7", "2", "3"},      {"DIVINT", "-7", "2", "-3"},   {"DIVINT", "7", "-2", "-3"},
        {"DIVINT", "-7.9", "2", "-3"},  {"MOD", "-7", "2", "-1"},      {"MOD", "7", "-2", "1"},
        {"MOD", "7.9", "2.9", "1"},     {"DIVINT", "7", "0.5", "E1089"}, {"MOD", "7", "-0.5", "E1089"},
        {"DIVINT", "5e9", "1", "-2147483648"}, {"DIVINT", "-5e9", "1", "-2147483648"}, {"MOD", "1e10", "7", "-2"},
        {"DIVINT", "-2147483648", "-1", "2147483648"}, {"MOD", "-2147483648", "-1", "0"},
    };
    for (const auto& c : cases) {
        std::string b = c.b, cc = c.c;
        EXPECT_EQ(Binary(c.op, "#" + b, "#" + cc), c.want) << c.b << " " << c.op << " " << c.c;
        EXPECT_EQ(Binary(c.op, "\"" + b + "\"", "#" + cc), c.want) << "string " << c.b << " " << c.op << " " << c.c;
    }
    // NaN becomes the lowest 32-bit integer, and the bit pattern of NaN is 0.
    EXPECT_EQ(Binary("DIVINT", "#nan", "#1"), "-2147483648");
    EXPECT_EQ(Binary("DIVINT", "#1", "#nan"), "0");
    EXPECT_EQ(Binary("OR", "#nan", "#0"), "0");
}

TEST_F(RulesTest, BitOperationsWorkOn32BitPatterns) {
    const OpCase cases[] = {
        {"OR", "#-1", "#0", "4294967295"},
        {"AND", "#5000000000", "#1", "1"},  // clamped to 4294967295 first
        {"OR", "#-3e9", "#0", "2147483648"},  // below the 32-bit range: the lowest integer
        {"OR", "#-1.9", "#0", "4294967295"},
        {"OR", "nil", "#5", "5"},
        {"LSH", "#1", "#32", "1"},
        {"LSH", "#1", "#-1", "2147483648"},  // a count of -1 shifts by 31
        {"LSH", "#3", "#31", "2147483648"},  // bits above bit 31 are lost
        {"RSH", "#-1", "#28", "15"},  // zeros enter from the left
        {"RSH", "#8", "#35", "1"},
        {"XOR", "\"1\"", "@tbl", "E1030"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Binary(c.op, c.b, c.c), c.want) << c.b << " " << c.op << " " << c.c;
        // The same through the general rule, with the left operand as a string.
        if (c.b[0] == '#') {
            EXPECT_EQ(Binary(c.op, std::string("\"") + (c.b + 1) + "\"", c.c), c.want) << "string " << c.b << " " << c.op;
        }
    }
    EXPECT_EQ(Unary("BNOT", "#-1"), "0");
    EXPECT_EQ(Unary("BNOT", "nil"), "4294967295");
    EXPECT_EQ(Unary("BNOT", "\"1\""), "4294967294");
    EXPECT_EQ(Unary("BNOT", "\"x\""), "E1030");
}

TEST_F(RulesTest, ArithmeticMetamethodsMatchTheirOpcodes) {
    const char* ops[] = {"ADD", "SUB", "MUL", "DIV", "DIVINT", "MOD", "LSH", "RSH", "OR", "AND", "XOR", "POW"};
    const char* events[] = {"add", "sub", "mul", "div", "divint", "mod", "lsh", "rsh", "or", "and", "xor", "pow"};
    std::vector<std::pair<std::string, std::string>> all{{"__unm", "?desc"}, {"__not", "?desc"}};
    for (const char* e : events) all.emplace_back(std::string("__") + e, "?desc");
    MakeObject("obj", all);
    for (size_t i = 0; i < std::size(ops); i++) {
        std::string e = events[i];
        EXPECT_EQ(Binary(ops[i], "@obj", "#1"), "\"" + e + "(table:obj,1)\"") << ops[i];
        // The right operand's metamethod serves when the left has none, with
        // the operands in their order.
        EXPECT_EQ(Binary(ops[i], "\"x\"", "@obj"), "\"" + e + "(\"x\",table:obj)\"") << ops[i];
    }
    EXPECT_EQ(Unary("UNM", "@obj"), "\"unm(table:obj,table:obj)\"");
    EXPECT_EQ(Unary("BNOT", "@obj"), "\"not(table:obj,table:obj)\"");
    EXPECT_EQ(Binary("DIV", "\"1\"", "#0"), "E1089");  // never asks the metamethod

    // A metamethod that is not a function does not count, nor then does one
    // of the right operand.
    MakeObject("odd", {});
    PushGlobal("odd");
    VmGetMetatable(L, -1);
    VmPushString(L, "__add");
    VmPushNumber(L, 5);
    VmRawSet(L, -3);
    VmSetTop(L, 0);
    EXPECT_EQ(Binary("ADD", "@odd", "#1"), "E1030");
    EXPECT_EQ(Binary("ADD", "@odd", "@obj"), "E1030");
    EXPECT_EQ(Binary("ADD", "@tbl", "@obj"), "\"add(table,table:obj)\"");
}

// ---- concatenation ----------------------------------------------------------

TEST_F(RulesTest, ConcatenationConvertsNilAndNumbers) {
    EXPECT_EQ(Concat({"nil", "\"x\""}), "\"x\"");
    EXPECT_EQ(Concat({"nil", "nil"}), "\"\"");
    EXPECT_EQ(Concat({"#1e15", "\"\""}), "\"1e+15\"");
    EXPECT_EQ(Concat({"#3.14159265358979", "\"\""}), "\"3.1415926535898\"");
    EXPECT_EQ(Concat({"#-0", "\"|\""}), "\"-0|\"");
    EXPECT_EQ(Concat({"\"a\\000b\"", "\"c\\000\""}), std::string("\"a\0bc\0\"", 7));

    // A converted value replaces the operand in its register; the joined
    // string lands in the lowest register of the run.
    EXPECT_EQ(Eval(".function main maxstack=5\nLOADK 0 \"x\"\nLOADK 1 #7\nLOADNIL 2 2\nLOADK 3 \"y\"\n"
                   "CONCAT 4 0 3\nRETURN 0 6\n.end\n"),
              "\"x7y\" \"7\" \"\" \"y\" \"x7y\"");
    std::vector<std::string> many;
    std::string want;
    for (int i = 0; i < 200; i++) {
        const std::string n = std::to_string(i);
        many.push_back(i % 3 == 0 ? "#" + n : "\"ab\"");
        want += i % 3 == 0 ? n : "ab";
    }
    EXPECT_EQ(Concat(many), "\"" + want + "\"");
}

TEST_F(RulesTest, ConcatenationMetamethodAndErrors) {
    MakeObject("obj", {{"__concat", "?desc"}});
    // The left operand was converted in its register before the right failed;
    // when the left one fails, the right one is passed as it was.
    EXPECT_EQ(Concat({"#1", "@obj"}), "\"concat(\"1\",table:obj)\"");
    EXPECT_EQ(Concat({"@obj", "#5"}), "\"concat(table:obj,5)\"");
    // Worked from the top end down: the metamethod's result joins the rest.
    EXPECT_EQ(Concat({"\"a\"", "@obj", "\"b\""}), "\"aconcat(table:obj,\"b\")\"");
    EXPECT_EQ(Concat({"@obj", "\"a\"", "\"b\""}), "\"concat(table:obj,\"ab\")\"");
    for (auto pair : {std::pair{"@tbl", "\"x\""}, {"\"x\"", "@yes"}, {"@fn", "nil"}, {"\"a\"", "@lud"}})
        EXPECT_EQ(Concat({pair.first, pair.second}), "E1131") << pair.first << " .. " << pair.second;
}

// ---- equality and order -------------------------------------------------------

TEST_F(RulesTest, EqualityFollowsTheNilRulesAndRefusesMixedKinds) {
    struct Case {
        const char* b;
        const char* c;
        const char* want;
    } cases[] = {
        {"nil", "nil", "1"},        {"nil", "#0", "1"},          {"#-0", "nil", "1"},
        {"nil", "\"\"", "1"},       {"\"\"", "nil", "1"},        {"nil", "\"\\000x\"", "1"},
        {"nil", "#1", "0"},         {"nil", "#nan", "0"},        {"nil", "\"0\"", "0"},
        {"nil", "@tbl", "0"},       {"@yes", "nil", "0"},        {"@no", "nil", "0"},
        {"#1", "\"1\"", "E1130"},   {"\"1\"", "#1", "E1130"},    {"@tbl", "#1", "E1030"},
        {"@yes", "#1", "E1030"},    {"@fn", "\"f\"", "E1030"},   {"@lud", "@tbl", "E1030"},
        {"#1", "#1", "1"},          {"#0", "#-0", "1"},          {"#nan", "#nan", "0"},
        {"\"abc\"", "\"abc\"", "1"}, {"\"abc\"", "\"ABC\"", "0"}, {"\"a\\000b\"", "\"a\\000c\"", "0"},
        {"@yes", "@yes", "1"},      {"@yes", "@no", "0"},        {"@tbl", "@tbl", "1"},
        {"@tbl", "@tbl2", "0"},     {"@fn", "@fn", "1"},         {"@lud", "@lud", "1"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Compare("EQ", c.b, c.c), c.want) << c.b << " == " << c.c;
        // A = 0 takes the jump on inequality.
        std::string negated = c.want[0] == 'E' ? c.want : (c.want[0] == '1' ? "0" : "1");
        EXPECT_EQ(Compare("EQ", c.b, c.c, 0), negated) << c.b << " ~= " << c.c;
    }
}

TEST_F(RulesTest, EqualityAndOrderMetamethods) {
    // Two tables a, b sharing one metatable whose events answer result.
    auto pair = [&](const std::vector<std::pair<std::string, std::string>>& events) {
        out.clear();
        PushMetatable(events);
        MakeObjectWithTop("a");
        MakeObjectWithTop("b");
        VmSetTop(L, 0);
    };
    // Only nil and 0 are false answers.
    for (auto [result, want] : {std::pair{"#1", "1"}, {"false", "1"}, {"", "1"}, {"#0", "0"}, {"nil", "0"}}) {
        pair({{"__eq", result}, {"__lt", result}, {"__le", result}});
        EXPECT_EQ(Compare("EQ", "@a", "@b"), want) << result;
        EXPECT_EQ(Compare("LT", "@a", "@b"), want) << result;
        EXPECT_EQ(Compare("LE", "@a", "@b"), want) << result;
    }
    EXPECT_EQ(out, (std::vector<std::string>{"eq(table:a,table:b)", "lt(table:a,table:b)", "le(table:a,table:b)"}));
    out.clear();
    EXPECT_EQ(Compare("EQ", "@a", "@a"), "1");  // the very same table: equal without asking
    EXPECT_TRUE(out.empty());
    // "__lt" alone: LE asks it with the operands swapped and negates.
    pair({{"__lt", "#1"}});
    EXPECT_EQ(Compare("LE", "@a", "@b"), "0");
    EXPECT_EQ(out, std::vector<std::string>{"lt(table:b,table:a)"});

    // Different metatables holding the same function still agree.
    VmSetTop(L, 0);
    PushRecorder("eq", "#1");
    for (const char* name : {"c", "d"}) {
        VmPushNewTable(L);
        VmPushString(L, "__eq");
        VmPushValue(L, 1);
        VmRawSet(L, -3);
        MakeObjectWithTop(name);
        VmSetTop(L, -2);
    }
    VmSetTop(L, 0);
    out.clear();
    EXPECT_EQ(Compare("EQ", "@c", "@d"), "1");
    EXPECT_EQ(out.size(), 1u);
    // Different functions, or one side without any: unequal and unordered,
    // nothing called.
    MakeObject("e", {{"__eq", "#1"}, {"__lt", "#1"}});
    out.clear();
    EXPECT_EQ(Compare("EQ", "@c", "@e"), "0");
    EXPECT_EQ(Compare("EQ", "@tbl", "@c"), "0");
    EXPECT_EQ(Compare("LT", "@a", "@e"), "E1030");
    EXPECT_EQ(Compare("LT", "@tbl", "@a"), "E1030");
    EXPECT_EQ(Compare("LT", "@a", "#1"), "E1030");
    EXPECT_TRUE(out.empty());
}

TEST_F(RulesTest, OrderFollowsTheNilRulesRefusesMixedKindsAndComparesStringsByByte) {
    struct Case {
        const char* b;
        const char* c;
        const char* lt;
        const char* le;
    } cases[] = {
        {"nil", "#1", "1", "1"},       {"nil", "#0", "0", "1"},       {"nil", "#-1", "0", "0"},
        {"nil", "nil", "0", "1"},      {"nil", "\"a\"", "0", "0"},    {"nil", "\"\"", "0", "0"},
        {"nil", "@tbl", "E1030", "E1030"}, {"nil", "@yes", "E1030", "E1030"},
        {"#-1", "nil", "1", "1"},      {"#0", "nil", "0", "1"},       {"#1", "nil", "0", "0"},
        {"\"a\"", "nil", "0", "0"},    {"\"\"", "nil", "0", "0"},     {"@tbl", "nil", "E1030", "E1030"},
        {"#1", "\"2\"", "E1130", "E1130"}, {"\"1\"", "#2", "E1130", "E1130"},
        {"@tbl", "#1", "E1030", "E1030"}, {"@yes", "@no", "E1030", "E1030"},
        {"@tbl", "@tbl2", "E1030", "E1030"}, {"@fn", "@fn", "E1030", "E1030"},
        {"#1", "#2", "1", "1"},        {"#2", "#2", "0", "1"},        {"#nan", "#nan", "0", "0"},
        {"#-inf", "#inf", "1", "1"},
        // Strings: case-sensitive, unsigned bytes, looking past zero bytes.
        {"\"abc\"", "\"abd\"", "1", "1"},   {"\"abd\"", "\"abc\"", "0", "0"},
        {"\"B\"", "\"a\"", "1", "1"},       {"\"a\"", "\"B\"", "0", "0"},
        {"\"abc\"", "\"abc\"", "0", "1"},   {"\"ab\"", "\"abc\"", "1", "1"},
        {"\"\"", "\"a\"", "1", "1"},        {"\"z\"", "\"\\xE4\"", "1", "1"},  // unsigned bytes
        {"\"a\\000b\"", "\"a\\000c\"", "1", "1"}, {"\"a\\000c\"", "\"a\\000b\"", "0", "0"},
        {"\"a\"", "\"a\\000\"", "1", "1"},  {"\"a\\000\"", "\"a\"", "0", "0"},
        {"\"a\\000\"", "\"a\\000\"", "0", "1"}, {"\"a\\000\\000\"", "\"a\\000\"", "0", "0"},
        {"\"a\\000z\"", "\"a\\000\\000\"", "0", "0"}, {"\"\\000b\"", "\"\\000a\"", "0", "0"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Compare("LT", c.b, c.c), c.lt) << c.b << " < " << c.c;
        EXPECT_EQ(Compare("LE", c.b, c.c), c.le) << c.b << " <= " << c.c;
    }
    // A = 0 jumps when the order does not hold.
    EXPECT_EQ(Compare("LT", "#2", "#1", 0), "1");
    EXPECT_EQ(Compare("LE", "nil", "#-1", 0), "1");
    EXPECT_EQ(Compare("LT", "\"a\"", "\"b\"", 0), "0");
}

// ---- indexing -------------------------------------------------------------------

TEST_F(RulesTest, MissingFieldsRaiseButGlobalsAndMethodsReadNil) {
    auto read = [&](const std::string& key) {
        vmtest::Hosted().detail.clear();
        return Eval(".function main maxstack=4\nGETGLOBAL 0 \"tbl\"\nGETTABLE 1 0 " + key + "\nRETURN 1 2\n.end\n");
    };
    EXPECT_EQ(read("\"x\""), "E1159");
    EXPECT_EQ(Detail(), "\"x\"");
    EXPECT_EQ(read("#1.5"), "E1159");
    EXPECT_EQ(Detail(), "1.5");
    EXPECT_EQ(read("#123456789"), "E1159");
    EXPECT_EQ(Detail(), "1.23457e+08");

    VmPushValue(L, kGlobalsIndex);
    PushGlobal("tbl");
    VmPushString(L, "x");
    VmPushNumber(L, 42);
    VmSetTableAt(L, -3);
    VmSetTop(L, 0);
    EXPECT_EQ(read("\"x\""), "42");

    EXPECT_EQ(Eval(".function main maxstack=4\nGETGLOBAL 0 \"undefined\"\nRETURN 0 2\n.end\n"), "nil");
    EXPECT_EQ(Eval(".function main maxstack=4\nGETGLOBAL 1 \"tbl\"\nSELF 2 1 \"nomethod\"\nRETURN 2 3\n.end\n"),
              "nil table");

    // An "__index" function answers for the table, nil included.
    MakeObject("obj", {{"__index", "nil"}});
    EXPECT_EQ(Eval(".function main maxstack=4\nGETGLOBAL 0 \"obj\"\nGETTABLE 1 0 \"x\"\nRETURN 1 2\n.end\n"), "nil");
    EXPECT_EQ(out, std::vector<std::string>{"index(table:obj,\"x\")"});
    MakeObject("obj2", {{"__index", "?desc"}});
    EXPECT_EQ(Eval(".function main maxstack=4\nGETGLOBAL 0 \"obj2\"\nGETTABLE 1 0 #7\nRETURN 1 2\n.end\n"),
              "\"index(table:obj2,7)\"");
    EXPECT_EQ(Eval(".function main maxstack=4\nGETGLOBAL 0 \"obj2\"\nSELF 1 0 \"m\"\nRETURN 1 2\n.end\n"),
              "\"index(table:obj2,\"m\")\"");

    // Through the globals' own metatable.
    PushMetatable({{"__index", "?desc"}});
    VmSetMetatable(L, kGlobalsIndex);
    EXPECT_EQ(Eval(".function main maxstack=4\nGETGLOBAL 0 \"zzz\"\nRETURN 0 2\n.end\n"), "\"index(table,\"zzz\")\"");
}

TEST_F(RulesTest, IndexingANonTableNamesTheVariable) {
    VmPushNumber(L, 5);
    SetGlobal("num");
    VmPushValue(L, kGlobalsIndex);
    PushGlobal("tbl");
    VmPushString(L, "inner");
    VmPushNumber(L, 1);
    VmSetTableAt(L, -3);
    VmSetTop(L, 0);

    struct Case {
        const char* code;
        const char* detail;
    } cases[] = {
        {"GETGLOBAL 0 \"a\"\nGETTABLE 1 0 \"x\"", "a{}"},
        {"GETGLOBAL 0 \"num\"\nGETTABLE 1 0 #1", "num{}"},
        {"GETGLOBAL 0 \"a\"\nSETTABLE 0 \"x\" #1", "a{}"},
        {"GETGLOBAL 0 \"a\"\nMOVE 1 0\nGETTABLE 2 1 \"x\"", "a{}"},
        {"GETGLOBAL 1 \"a\"\nMOVE 0 1\nGETTABLE 2 0 \"x\"", "??{}"},  // only copies upward keep the name
        {"LOADNIL 0 0\nGETTABLE 1 0 \"x\"", "??{}"},
        {"LOADK 0 \"str\"\nGETTABLE 1 0 \"x\"", "??{}"},
        {"GETGLOBAL 0 \"tbl\"\nGETTABLE 1 0 \"inner\"\nGETTABLE 2 1 \"x\"", "inner{}"},
        {"GETGLOBAL 0 \"yes\"\nLOADK 1 \"k\"\nGETTABLE 2 0 1", "yes{}"},
        {".local loc 0 3\nLOADNIL 0 0\nGETTABLE 1 0 \"x\"", "loc{}"},
        {"GETGLOBAL 1 \"a\"\nSELF 2 1 \"m\"", "a{}"},
    };
    for (const Case& c : cases) {
        vmtest::Hosted().detail.clear();
        EXPECT_EQ(Eval(std::string(".function main maxstack=4\n") + c.code + "\nRETURN 0 1\n.end\n"), "E1132")
            << c.code;
        EXPECT_EQ(Detail(), c.detail) << c.code;
    }
}

TEST_F(RulesTest, IndexRedirectionsAreLimited) {
    // "chain" -> ... -> "last" through n metatables whose event is the next
    // table; "last" holds "key".
    auto chain = [&](const char* event, int n) {
        VmPushNewTable(L);
        VmPushString(L, "key");
        VmPushString(L, "found");
        VmRawSet(L, -3);
        VmPushValue(L, -1);
        SetGlobal("last");
        for (int i = 0; i < n; i++) {
            VmPushNewTable(L);  // the metatable
            VmPushString(L, event);
            VmPushValue(L, -3);
            VmRawSet(L, -3);
            VmPushNewTable(L);  // the table in front
            VmInsert(L, -2);
            VmSetMetatable(L, -2);
            VmRemove(L, -2);
        }
        SetGlobal("chain");
        vmtest::Hosted().detail.clear();
    };
    auto read = [&](const char* key) {
        return Eval(std::string(".function main maxstack=4\nGETGLOBAL 0 \"chain\"\nGETTABLE 1 0 \"") + key +
                    "\"\nRETURN 1 2\n.end\n");
    };
    const char* write = ".function main maxstack=4\nGETGLOBAL 0 \"chain\"\nSETTABLE 0 \"key\" #9\n"
                        "GETGLOBAL 1 \"last\"\nGETTABLE 2 1 \"key\"\nRETURN 2 2\n.end\n";
    chain("__index", 101);
    EXPECT_EQ(read("key"), "\"found\"");
    // A key no table of the chain holds is a missing field of the first.
    EXPECT_EQ(read("other"), "E1159");
    EXPECT_EQ(Detail(), "\"other\"");
    chain("__index", 102);
    EXPECT_EQ(read("key"), "E1134");
    EXPECT_EQ(Detail(), "#1");
    chain("__newindex", 100);
    EXPECT_EQ(Eval(write), "9");
    chain("__newindex", 101);
    EXPECT_EQ(Eval(write), "E1134");
    EXPECT_EQ(Detail(), "#2");
}

TEST_F(RulesTest, NewIndexRunsOnlyForAbsentKeys) {
    MakeObject("obj", {{"__newindex", "nil"}});
    const char* prog =
        ".function main maxstack=4\nGETGLOBAL 0 \"obj\"\nSETTABLE 0 \"k\" #1\nGETGLOBAL 1 \"obj\"\n"
        "SELF 2 1 \"k\"\nRETURN 2 2\n.end\n";
    EXPECT_EQ(Eval(prog), "nil");  // the metamethod stored nothing
    EXPECT_EQ(out, std::vector<std::string>{"newindex(table:obj,\"k\",1)"});

    // A present key is written in place.
    PushGlobal("obj");
    VmPushString(L, "k");
    VmPushNumber(L, 5);
    VmRawSet(L, -3);
    VmSetTop(L, 0);
    out.clear();
    EXPECT_EQ(Eval(prog), "1");
    EXPECT_TRUE(out.empty());

    // SETGLOBAL goes through the globals' metatable.
    PushMetatable({{"__newindex", "nil"}});
    VmSetMetatable(L, kGlobalsIndex);
    EXPECT_EQ(Eval(".function main maxstack=4\nLOADK 0 #3\nSETGLOBAL 0 \"newglobal\"\n"
                   "GETGLOBAL 1 \"newglobal\"\nRETURN 1 2\n.end\n"),
              "nil");
    EXPECT_EQ(out, std::vector<std::string>{"newindex(table,\"newglobal\",3)"});

    // Userdata: "__index"/"__newindex" of its metatable, none is an error.
    PushMetatable({{"__index", "?desc"}, {"__newindex", "nil"}});
    VmNewUserdata(L, 8);
    VmPushValue(L, -2);
    VmSetMetatable(L, -2);
    SetGlobal("ud");
    VmNewUserdata(L, 8);
    SetGlobal("bare");
    VmSetTop(L, 0);
    out.clear();
    EXPECT_EQ(Eval(".function main maxstack=4\nGETGLOBAL 0 \"ud\"\nSETTABLE 0 #1 #2\nGETTABLE 1 0 \"f\"\n"
                   "RETURN 1 2\n.end\n"),
              "\"index(userdata,\"f\")\"");
    EXPECT_EQ(out, (std::vector<std::string>{"newindex(userdata,1,2)", "index(userdata,\"f\")"}));
    EXPECT_EQ(Eval(".function main maxstack=4\nGETGLOBAL 0 \"bare\"\nGETTABLE 1 0 \"f\"\nRETURN 1 2\n.end\n"),
              "E1132");
    EXPECT_EQ(Detail(), "bare{}");
}

}  // namespace
