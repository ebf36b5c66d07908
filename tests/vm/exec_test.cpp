// The instruction set as the interpreter runs it: loads, tests and jumps,
// gosubs, loops, table constructors, generic loops, closures and upvalues,
// and the operand checks that refuse code no compiler writes.
#include <algorithm>
#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "vm_fixture.h"

namespace {

using ExecTest = vmtest::VmFixture;

// A generic-loop iterator over 1..3 yielding (i, i * 10).
int CountToThree(ScriptState* L) {
    double control = VmToNumber(L, 2);
    if (VmType(L, 2) != kTypeNil && control >= 3) {
        VmPushNil(L);
        return 1;
    }
    VmPushNumber(L, control + 1);
    VmPushNumber(L, (control + 1) * 10);
    return 2;
}

TEST_F(ExecTest, LoadsAndTheWholeConstantRange) {
    // LOADBOOL stores numbers, never booleans, and may skip; LOADNIL clears a range.
    EXPECT_EQ(Eval(".function main maxstack=6\nLOADK 0 #1\nLOADK 1 #2\nLOADK 2 #3\nLOADK 3 #4\nLOADK 4 #5\n"
                   "LOADNIL 1 2\nLOADBOOL 3 1 1\nLOADK 3 #99\nLOADBOOL 5 0 0\nRETURN 0 7\n.end\n"),
              "1 nil nil 1 5 0");
    // 262 constants: the last ones are reachable only as RK operands 500 and up.
    std::string text = ".function main maxstack=4\n.const";
    for (int i = 0; i < 262; i++) text += " #" + std::to_string(i * 2);
    text += "\nADD 0 k259 k261\nSUB 1 k0 k250\nRETURN 0 3\n.end\n";
    EXPECT_EQ(Eval(text), "1040 -500");
}

TEST_F(ExecTest, TruthTestsAndJumps) {
    // Only 0, the empty string (by its first byte), nil and false are false.
    for (const char* v : {"#0", "#-0", "\"\"", "nil", "@no", "\"\\000x\""}) EXPECT_EQ(Unary("NOT", v), "1") << v;
    for (const char* v : {"#5", "#nan", "\"0\"", "@yes", "@tbl", "@emit"}) EXPECT_EQ(Unary("NOT", v), "0") << v;

    // TEST skips the jump, or copies and jumps.
    auto test = [&](const std::string& value, int c) {
        return Eval(".function main maxstack=4\n" + LoadOperand(0, value) + "LOADK 1 \"kept\"\nTEST 1 0 " +
                    std::to_string(c) +
                    "\nJMP taken\nLOADK 2 \"skipped\"\nRETURN 1 3\ntaken:\nLOADK 2 \"jumped\"\nRETURN 1 3\n.end\n");
    };
    EXPECT_EQ(test("nil", 1), "\"kept\" \"skipped\"");
    EXPECT_EQ(test("#5", 1), "5 \"jumped\"");
    EXPECT_EQ(test("\"\"", 0), "\"\" \"jumped\"");
    EXPECT_EQ(test("@yes", 0), "\"kept\" \"skipped\"");

    // Jumps of every kind but a gosub leave the gosub stack alone, the one
    // after a comparison included (only its offset counts).
    std::string text = ".function main maxstack=12\n    LOADK 0 #0\n    EQ 1 0 #0\n    JMP kind=2 cmp\n" +
                       Emit("skipped") + "cmp:\n    JMP kind=1 a\n" + Emit("skipped") +
                       "back:\n    JMP kind=0 c\na:\n    JMP kind=3 back\n" + Emit("skipped") + "c:\n" +
                       Emit("reached") + "    RETURN 0 1 1\n.end\n";
    EXPECT_EQ(Run(text), ERR_RETWOGOSUB);
    EXPECT_EQ(out, std::vector<std::string>{"\"reached\""});
    EXPECT_EQ(L->g->gosubCount, 0);
}

TEST_F(ExecTest, GosubsReturnToTheFollowingInstruction) {
    std::string text = ".function main maxstack=12\n    GOSUB sub\n" + Emit("after1") + "    GOSUB sub\n" +
                       Emit("after2") + "    RETURN 0 1\nsub:\n" + Emit("sub") + "    GOSUB inner\n" +
                       "    RETURN 0 1 1\ninner:\n" + Emit("inner") + "    RETURN 0 1 1\n.end\n";
    EXPECT_EQ(Run(text), 0);
    EXPECT_EQ(out, (std::vector<std::string>{"\"sub\"", "\"inner\"", "\"after1\"", "\"sub\"", "\"inner\"",
                                             "\"after2\""}));
    // A gosub left open by a real return goes with its frame.
    EXPECT_EQ(Run(".function main\n    GOSUB sub\n    RETURN 0 1 1\nsub:\n    RETURN 0 1\n.end\n"), 0);
    EXPECT_EQ(L->g->gosubCount, 0);

    // A function cannot return to another function's gosub: main gosubs,
    // then calls f, whose gosub return finds only main's entry.
    out.clear();
    EXPECT_EQ(Run(".function main maxstack=12\n    GOSUB sub\n    RETURN 0 1\nsub:\n    CLOSURE 0 f\n"
                  "    CALL 0 1 1\n" + Emit("not reached") + "    RETURN 0 1 1\n"
                  "  .function f maxstack=2\n    RETURN 0 1 1\n  .end\n.end\n"),
              ERR_RETWOGOSUB);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(L->g->gosubCount, 0);
}

TEST_F(ExecTest, GosubStackHolds4096Entries) {
    // depth - 1 nested gosubs, each returning, and a last RETURN without one.
    const char* text = ".function main maxstack=4\n    LOADK 0 #0\n    LOADK 1 #%d\n"
                       "down:\n    ADD 0 0 #1\n    LT 0 0 1\n    JMP bottom\n    GOSUB down\nbottom:\n"
                       "    RETURN 0 1 1\n.end\n";
    char buf[512];
    for (int depth : {4097, 4098}) {
        std::snprintf(buf, sizeof buf, text, depth);
        EXPECT_EQ(Run(buf), depth == 4097 ? ERR_RETWOGOSUB : ERR_INTERNAL) << depth;
        // The failed run unwound its frame, and the frame's gosubs with it.
        EXPECT_EQ(L->g->gosubCount, 0);
    }
}

TEST_F(ExecTest, ForLoopStepsConvertsAndChecks) {
    auto loop = [&](const std::string& start, const std::string& limit, const std::string& step) {
        out.clear();
        return Eval(".function main maxstack=12\n" + LoadOperand(0, start) + LoadOperand(1, limit) +
                    LoadOperand(2, step) + "    JMP check\nbody:\n    GETGLOBAL 10 \"emit\"\n    MOVE 11 0\n"
                    "    CALL 10 2 1\ncheck:\n    FORLOOP 0 body\n    RETURN 0 4\n.end\n");
    };
    EXPECT_EQ(loop("#0", "#3", "#1"), "3 3 1");
    EXPECT_EQ(out, (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(loop("#4", "#1", "#-1"), "1 1 -1");
    EXPECT_EQ(out, (std::vector<std::string>{"3", "2", "1"}));
    // No pass at all: the index keeps its value.
    EXPECT_EQ(loop("#5", "#3", "#1"), "5 3 1");
    EXPECT_TRUE(out.empty());
    // A step of 0 goes on only while the index is at or above the limit.
    EXPECT_EQ(loop("#1", "#2", "#0"), "1 2 0");
    // Limit and step are converted in place: nil is 0, numeric strings count.
    EXPECT_EQ(loop("#-2", "nil", "#1"), "0 0 1");
    EXPECT_EQ(loop("#0", "\"2\"", "\"1\""), "2 2 1");
    // The index itself must already be a number.
    for (auto [start, limit, step] : {std::tuple{"nil", "#3", "#1"}, {"\"0\"", "#3", "#1"}, {"#0", "\"abc\"", "#1"},
                                      {"#0", "#3", "@tbl"}})
        EXPECT_EQ(loop(start, limit, step), "E1024") << start << " " << limit << " " << step;
}

// Every side of NEWTABLE's packed array size: no mantissa is no array
// whatever the exponent, exponent 0 is the mantissa itself, and the largest
// exponent the code check lets through sizes the array at its limit.
TEST_F(ExecTest, NewTableArraySizesUpToTheLimit) {
    const int top = 1 << kMaxArrayBits;
    ASSERT_EQ(Run(".function main maxstack=4\n    NEWTABLE 0 " + std::to_string(5 << 3) +
                  " 0\n    NEWTABLE 1 5 0\n    NEWTABLE 2 " + std::to_string(kMaxArrayBits << 3 | 1) +
                  " 0\n    RETURN 0 4\n.end\n"),
              0);
    EXPECT_EQ(TableValue(L->base)->sizearray, 0);
    EXPECT_EQ(TableValue(L->base + 1)->sizearray, 5);
    EXPECT_EQ(TableValue(L->base + 2)->sizearray, top);
}

TEST_F(ExecTest, TableConstructors) {
    // NEWTABLE sizes its parts from its packed operands.
    ASSERT_EQ(Run(".function main maxstack=4\n    NEWTABLE 0 11 3\n    NEWTABLE 1 17 1\n    RETURN 0 3\n.end\n"), 0);
    EXPECT_EQ(TableValue(L->base)->sizearray, 6);  // 3 shifted by 1
    EXPECT_EQ(TableValue(L->base)->lsizenode, 3);
    EXPECT_EQ(TableValue(L->base + 1)->sizearray, 4);  // 1 shifted by 2
    EXPECT_EQ(TableValue(L->base + 1)->lsizenode, 1);

    // SETLIST stores from key 0; a second flush of 32 values starts at key 32.
    std::string text = ".function main maxstack=40\n    NEWTABLE 0 0 0\n";
    for (int i = 1; i <= 32; i++) text += "    LOADK " + std::to_string(i) + " #" + std::to_string(i - 1) + "\n";
    text += "    SETLIST 0 31\n    LOADK 1 \"a\"\n    LOADK 2 \"b\"\n    SETLIST 0 33\n    RETURN 0 2\n.end\n";
    ASSERT_EQ(Run(text), 0);
    for (int k = 0; k < 32; k++) EXPECT_EQ(RawAt(1, k), std::to_string(k)) << k;
    EXPECT_EQ(RawAt(1, 32), "\"a\"");
    EXPECT_EQ(RawAt(1, 33), "\"b\"");
    EXPECT_EQ(RawAt(1, 34), "nil");

    // SETLISTO takes every value up to the top, and nothing from no values.
    RegisterClosure("none", [](ScriptState*) { return 0; });
    ASSERT_EQ(Run(R"(.function main maxstack=8
    NEWTABLE 0 0 0
    LOADK 1 "first"
    GETGLOBAL 2 "three"
    CALL 2 1 0
    SETLISTO 0 32
    NEWTABLE 1 0 0
    GETGLOBAL 2 "none"
    CALL 2 1 0
    SETLISTO 1 0
    LOADK 7 "top reset"
    RETURN 0 3
.end)"),
              0);
    ASSERT_EQ(VmGetTop(L), 2);
    EXPECT_EQ(RawAt(1, 32), "\"first\"");
    EXPECT_EQ(RawAt(1, 35), "\"z\"");
    EXPECT_EQ(RawAt(1, 36), "nil");
    VmPushNil(L);
    EXPECT_EQ(VmNext(L, 2), 0);
}

TEST_F(ExecTest, GenericLoopsUseNextForTablesAndCallIterators) {
    RegisterClosure("count", CountToThree);
    PushGlobal("tbl");
    for (int i = 1; i <= 3; i++) {
        VmPushNumber(L, i * 100);
        VmRawSetIndex(L, -2, i);
    }
    VmPushString(L, "k");
    VmPushString(L, "v");
    VmRawSet(L, -3);
    VmSetTop(L, 0);
    // Three loop variables: the iterator's missing third result is nil.
    auto loop = [&](const char* generator) {
        out.clear();
        return Run(std::string(".function main maxstack=12\n    GETGLOBAL 0 \"") + generator +
                   "\"\n    LOADNIL 1 2\n    TFORPREP 0 loop\nbody:\n    GETGLOBAL 8 \"emit\"\n    MOVE 9 2\n"
                   "    MOVE 10 3\n    MOVE 11 4\n    CALL 8 4 1\nloop:\n    TFORLOOP 0 0 2\n    JMP body\n" +
                   Emit("end") + "    RETURN 0 1\n.end\n");
    };
    ASSERT_EQ(loop("tbl"), 0);
    std::sort(out.begin(), out.end());
    EXPECT_EQ(out, (std::vector<std::string>{"\"end\"", "\"k\" \"v\" nil", "1 100 nil", "2 200 nil", "3 300 nil"}));
    ASSERT_EQ(loop("count"), 0);
    EXPECT_EQ(out, (std::vector<std::string>{"1 10 nil", "2 20 nil", "3 30 nil", "\"end\""}));
    // "next" is the VM's own global; without it a table cannot be walked.
    VmPushNil(L);
    SetGlobal("next");
    EXPECT_EQ(loop("tbl"), ERR_FUNCDECLA);
}

// A function that adds 1 to its upvalue and answers it.
const std::string kInc = ".function inc upvalues=1\nGETUPVAL 0 0\nADD 0 0 #1\nSETUPVAL 0 0\nRETURN 0 2\n.end\n";

TEST_F(ExecTest, ClosuresShareOpenUpvaluesUntilClosed) {
    EXPECT_EQ(Eval(R"(.function main maxstack=10
    LOADK 0 #0
    CLOSURE 1 inc
    MOVE 0 0
    CLOSURE 2 get
    MOVE 0 0
    MOVE 3 1
    CALL 3 1 2
    MOVE 4 1
    CALL 4 1 2
    MOVE 5 0
    CLOSE 0
    LOADK 0 #100
    MOVE 6 1
    CALL 6 1 2
    MOVE 7 2
    CALL 7 1 2
    MOVE 8 0
    RETURN 3 7
  .function get upvalues=1
    GETUPVAL 0 0
    RETURN 0 2
  .end
)" + kInc + ".end\n"),
              // Open: the closures see and change main's R0. Closed: they
              // keep their own copy, which main's R0 no longer touches.
              "1 2 2 3 3 100");

    // Each call of the factory gets a fresh local, closed when it returns;
    // a nested closure reaches it through its parent's upvalue.
    EXPECT_EQ(Eval(R"(.function main maxstack=8
    CLOSURE 0 factory
    MOVE 1 0
    CALL 1 1 2
    MOVE 2 0
    CALL 2 1 2
    MOVE 3 1
    CALL 3 1 2
    MOVE 4 1
    CALL 4 1 2
    MOVE 5 2
    CALL 5 1 2
    RETURN 3 4
  .function factory maxstack=2
    LOADK 0 #0
    CLOSURE 1 maker
    MOVE 0 0
    CALL 1 1 2
    RETURN 1 2
    .function maker upvalues=1
      CLOSURE 0 inc
      GETUPVAL 0 0
      RETURN 0 2
)" + kInc + ".end\n.end\n.end\n"),
              "1 2 1");
}

TEST_F(ExecTest, ClosuresInheritTheGlobalsOfTheirCreator) {
    VmPushString(L, "real");
    SetGlobal("x");
    ASSERT_TRUE(Load(R"(.function main maxstack=4
    CLOSURE 0 f
    CALL 0 1 2
    GETGLOBAL 1 "x"
    SETGLOBAL 1 "y"
    RETURN 0 3
  .function f
    GETGLOBAL 0 "x"
    RETURN 0 2
  .end
.end)"));
    VmPushNewTable(L);
    VmPushString(L, "x");
    VmPushString(L, "mine");
    VmRawSet(L, -3);
    VmPushValue(L, -1);
    VmInsert(L, 1);  // keep the table below the closure
    ASSERT_EQ(VmSetGlobalsTable(L, -2), 1);
    ASSERT_EQ(VmPCall(L, 0, 2, 0), 0);
    EXPECT_EQ(vmtest::Show(L, 2), "\"mine\"");
    EXPECT_EQ(vmtest::Show(L, 3), "\"mine\"");
    EXPECT_EQ(RawField(1, "y"), "\"mine\"");
    EXPECT_EQ(RawField(kGlobalsIndex, "y"), "nil");
}

TEST_F(ExecTest, BadOperandsOfSetListAndSelfAreBadBytecode) {
    // Compiled code never does this; such code is refused instead of ending
    // the run as if it had succeeded.
    EXPECT_EQ(Run(".function main maxstack=12\n    LOADK 0 #5\n    LOADK 1 \"v\"\n    SETLIST 0 0\n" + Emit("after") +
                      "    RETURN 0 1\n.end\n", 2),
              ERR_BADBYTECODE);
    EXPECT_EQ(Run(".function main maxstack=12\n    GETGLOBAL 1 \"tbl\"\n    SELF 0 1 #5\n" + Emit("after") +
                      "    LOADK 0 \"x\"\n    RETURN 0 2\n.end\n", 1),
              ERR_BADBYTECODE);
    EXPECT_TRUE(out.empty());
    // The end flag stays clear: the next run goes on.
    EXPECT_EQ(Eval(".function main\n    LOADK 0 #1\n    RETURN 0 2\n.end\n"), "1");
}

}  // namespace
