// The instruction set as the interpreter runs it: loads, tests and jumps,
// gosubs, loops, table constructors, generic loops, closures and upvalues,
// and the operand checks that end a run quietly.
#include <algorithm>
#include <string>
#include <vector>

#include "vm_fixture.h"

namespace {

class ExecTest : public vmtest::VmFixture {
protected:
    void SetUp() override {
        VmFixture::SetUp();
        VmPushBoolean(L, 1);
        SetGlobal("yes");
        VmPushBoolean(L, 0);
        SetGlobal("no");
        VmPushNewTable(L);
        SetGlobal("tbl");
    }

    // The table among the results at stack index idx.
    VmTable* TableAt(int idx) {
        EXPECT_EQ(VmType(L, idx), kTypeTable);
        return TableValue(L->base + (idx - 1));
    }
    std::string RawAt(int tableIdx, int key) {
        VmRawGetIndex(L, tableIdx, key);
        std::string s = vmtest::Show(L, -1);
        VmSetTop(L, -2);
        return s;
    }
    std::string RawField(int tableIdx, const char* key) {
        VmPushString(L, key);
        VmRawGet(L, tableIdx);
        std::string s = vmtest::Show(L, -1);
        VmSetTop(L, -2);
        return s;
    }
    static std::string EmitText(const std::string& text) {
        return "GETGLOBAL 10 \"emit\"\nLOADK 11 \"" + text + "\"\nCALL 10 2 1\n";
    }
};

// Returns three values: "x", "y", "z".
int Three(ScriptState* L) {
    VmPushString(L, "x");
    VmPushString(L, "y");
    VmPushString(L, "z");
    return 3;
}

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

TEST_F(ExecTest, LoadBoolStoresNumbersAndLoadNilClearsARange) {
    EXPECT_EQ(Eval(R"(.function main maxstack=4
    LOADBOOL 0 1 0
    LOADBOOL 1 0 0
    LOADBOOL 2 1 1
    LOADK 2 #99
    RETURN 0 4
.end)"),
              "1 0 1");  // numbers, never booleans; the LOADK was skipped

    EXPECT_EQ(Eval(R"(.function main maxstack=6
    LOADK 0 #1
    LOADK 1 #2
    LOADK 2 #3
    LOADK 3 #4
    LOADK 4 #5
    LOADK 5 #6
    LOADNIL 1 3
    LOADNIL 5 5
    RETURN 0 7
.end)"),
              "1 nil nil nil 5 nil");
}

TEST_F(ExecTest, ConstantOperandsReachTheWholeRKRange) {
    // 262 constants: the last ones are reachable only as RK operands 500 and up.
    std::string text = ".function main maxstack=4\n.const";
    for (int i = 0; i < 262; i++) text += " #" + std::to_string(i * 2);
    text += "\nADD 0 k259 k261\nMOVE 1 0\nSUB 2 k0 k250\nRETURN 0 4\n.end\n";
    EXPECT_EQ(Eval(text), "1040 1040 -500");
}

TEST_F(ExecTest, NotFollowsTheTruthRule) {
    // Only 0, the empty string (by its first byte), nil and false are false.
    for (const char* v : {"#0", "#-0", "\"\"", "nil", "@no", "\"\\000x\""}) EXPECT_EQ(Unary("NOT", v), "1") << v;
    for (const char* v : {"#5", "#nan", "\"0\"", "@yes", "@tbl", "@emit"}) EXPECT_EQ(Unary("NOT", v), "0") << v;
}

TEST_F(ExecTest, TestSkipsTheJumpOrCopiesAndJumps) {
    auto test = [&](const std::string& value, int c) {
        return Eval(".function main maxstack=4\n" + LoadOperand(0, value) +
                    "LOADK 1 \"kept\"\nTEST 1 0 " + std::to_string(c) +
                    "\nJMP taken\nLOADK 2 \"skipped\"\nRETURN 1 3\ntaken:\nLOADK 2 \"jumped\"\nRETURN 1 3\n.end\n");
    };
    EXPECT_EQ(test("#0", 1), "\"kept\" \"skipped\"");
    EXPECT_EQ(test("nil", 1), "\"kept\" \"skipped\"");
    EXPECT_EQ(test("#5", 1), "5 \"jumped\"");
    EXPECT_EQ(test("\"\"", 0), "\"\" \"jumped\"");
    EXPECT_EQ(test("\"x\"", 0), "\"kept\" \"skipped\"");
    EXPECT_EQ(test("@yes", 0), "\"kept\" \"skipped\"");
}

TEST_F(ExecTest, ComparisonsTakeTheFollowingJump) {
    // The offset of the JMP after a comparison is what counts, whatever its kind.
    EXPECT_EQ(Eval(R"(.function main maxstack=4
    LOADK 0 #0
    EQ 1 0 #0
    JMP kind=2 yes
    LOADK 0 #-1
    RETURN 0 2
yes:
    LOADK 1 #1
    RETURN 0 3
.end)"),
              "0 1");
    EXPECT_EQ(L->g->gosubCount, 0);
}

TEST_F(ExecTest, PlainJumpsOfEveryKindLeaveTheGosubStackAlone) {
    std::string text = ".function main maxstack=12\n"
                       "    LOADK 0 #0\n"
                       "    JMP kind=1 a\n" +
                       EmitText("skipped") +
                       "back:\n    JMP kind=0 c\n"
                       "a:\n    JMP kind=3 back\n" +
                       EmitText("skipped") +
                       "c:\n" + EmitText("reached") +
                       "    RETURN 0 1 1\n.end\n";
    EXPECT_EQ(Run(text), ERR_RETWOGOSUB);
    EXPECT_EQ(out, std::vector<std::string>{"\"reached\""});
    EXPECT_EQ(L->g->gosubCount, 0);
}

TEST_F(ExecTest, GosubsReturnToTheFollowingInstruction) {
    std::string text = ".function main maxstack=12\n"
                       "    GOSUB sub\n" +
                       EmitText("after1") +
                       "    GOSUB sub\n" +
                       EmitText("after2") +
                       "    RETURN 0 1\n"
                       "sub:\n" +
                       EmitText("sub") +
                       "    GOSUB inner\n"
                       "    RETURN 0 1 1\n"
                       "inner:\n" +
                       EmitText("inner") +
                       "    RETURN 0 1 1\n.end\n";
    EXPECT_EQ(Run(text), 0);
    EXPECT_EQ(out, (std::vector<std::string>{"\"sub\"", "\"inner\"", "\"after1\"", "\"sub\"", "\"inner\"",
                                             "\"after2\""}));
    EXPECT_EQ(L->g->gosubCount, 0);

    // A gosub left open by a real return goes with its frame.
    EXPECT_EQ(Run(".function main\n    GOSUB sub\n    RETURN 0 1 1\nsub:\n    RETURN 0 1\n.end\n"), 0);
    EXPECT_EQ(L->g->gosubCount, 0);
}

TEST_F(ExecTest, AFunctionCannotReturnToAnotherFunctionsGosub) {
    // main gosubs, then calls f, whose gosub return finds only main's entry.
    std::string text = ".function main maxstack=12\n"
                       "    GOSUB sub\n"
                       "    RETURN 0 1\n"
                       "sub:\n"
                       "    CLOSURE 0 f\n"
                       "    CALL 0 1 1\n" +
                       EmitText("not reached") +
                       "    RETURN 0 1 1\n"
                       "  .function f maxstack=2\n"
                       "    RETURN 0 1 1\n"
                       "  .end\n"
                       ".end\n";
    EXPECT_EQ(Run(text), ERR_RETWOGOSUB);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(L->g->gosubCount, 0);
}

TEST_F(ExecTest, GosubStackHolds4096Entries) {
    EXPECT_EQ(Run(".function main\nloop:\n    GOSUB loop\n    RETURN 0 1\n.end\n"), ERR_INTERNAL);
    // The failed run unwound its frame, and the frame's gosubs with it.
    EXPECT_EQ(L->g->gosubCount, 0);

    VmClose(L);
    L = VmOpen();
    ASSERT_NE(L, nullptr);
    EXPECT_EQ(Run(".function main\n    RETURN 0 1 1\n.end\n"), ERR_RETWOGOSUB);
}

TEST_F(ExecTest, ForLoopStepsConvertsAndChecks) {
    auto loop = [&](const std::string& start, const std::string& limit, const std::string& step) {
        out.clear();
        return Eval(".function main maxstack=12\n" + LoadOperand(0, start) + LoadOperand(1, limit) +
                    LoadOperand(2, step) +
                    "    JMP check\n"
                    "body:\n    GETGLOBAL 10 \"emit\"\n    MOVE 11 0\n    CALL 10 2 1\n"
                    "check:\n    FORLOOP 0 body\n    RETURN 0 4\n.end\n");
    };
    EXPECT_EQ(loop("#0", "#3", "#1"), "3 3 1");
    EXPECT_EQ(out, (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(loop("#4", "#1", "#-1"), "1 1 -1");
    EXPECT_EQ(out, (std::vector<std::string>{"3", "2", "1"}));
    EXPECT_EQ(loop("#0", "#1", "#0.25"), "1 1 0.25");
    EXPECT_EQ(out.size(), 4u);
    // No pass at all: the index keeps its value.
    EXPECT_EQ(loop("#5", "#3", "#1"), "5 3 1");
    EXPECT_TRUE(out.empty());
    // A step of 0 goes on only while the index is at or above the limit.
    EXPECT_EQ(loop("#1", "#2", "#0"), "1 2 0");
    EXPECT_TRUE(out.empty());
    // Limit and step are converted in place: nil is 0, numeric strings count.
    EXPECT_EQ(loop("#-2", "nil", "#1"), "0 0 1");
    EXPECT_EQ(out, (std::vector<std::string>{"-1", "0"}));
    EXPECT_EQ(loop("#0", "\"2\"", "\"1\""), "2 2 1");
    // The index itself must already be a number.
    EXPECT_EQ(loop("nil", "#3", "#1"), "E1024");
    EXPECT_EQ(loop("\"0\"", "#3", "#1"), "E1024");
    EXPECT_EQ(loop("#0", "\"abc\"", "#1"), "E1024");
    EXPECT_EQ(loop("#0", "#3", "@tbl"), "E1024");
}

TEST_F(ExecTest, NewTableSizesItsParts) {
    ASSERT_EQ(Run(".function main maxstack=4\n    NEWTABLE 0 11 3\n    NEWTABLE 1 0 0\n    NEWTABLE 2 17 1\n"
                  "    RETURN 0 4\n.end\n"),
              0);
    ASSERT_EQ(VmGetTop(L), 3);
    EXPECT_EQ(TableAt(1)->sizearray, 6);  // 3 shifted by 1
    EXPECT_EQ(TableAt(1)->lsizenode, 3);
    EXPECT_EQ(TableAt(2)->sizearray, 0);
    EXPECT_EQ(TableAt(2)->lsizenode, 0);
    EXPECT_EQ(TableAt(3)->sizearray, 4);  // 1 shifted by 2
    EXPECT_EQ(TableAt(3)->lsizenode, 1);
}

TEST_F(ExecTest, SetListStoresFromKeyZeroInFlushesOf32) {
    ASSERT_EQ(Run(R"(.function main maxstack=4
    NEWTABLE 0 0 0
    LOADK 1 "a"
    LOADK 2 "b"
    LOADK 3 "c"
    SETLIST 0 2
    RETURN 0 2
.end)"),
              0);
    EXPECT_EQ(RawAt(1, 0), "\"a\"");
    EXPECT_EQ(RawAt(1, 1), "\"b\"");
    EXPECT_EQ(RawAt(1, 2), "\"c\"");
    EXPECT_EQ(RawAt(1, 3), "nil");

    // A second flush of 32 values starts at key 32.
    std::string text = ".function main maxstack=40\n    NEWTABLE 0 0 0\n";
    for (int i = 1; i <= 32; i++) text += "    LOADK " + std::to_string(i) + " #" + std::to_string(i - 1) + "\n";
    text += "    SETLIST 0 31\n";
    for (int i = 1; i <= 32; i++) text += "    LOADK " + std::to_string(i) + " #" + std::to_string(i + 99) + "\n";
    text += "    SETLIST 0 63\n    RETURN 0 2\n.end\n";
    ASSERT_EQ(Run(text), 0);
    for (int k = 0; k < 32; k++) EXPECT_EQ(RawAt(1, k), std::to_string(k)) << k;
    for (int k = 32; k < 64; k++) EXPECT_EQ(RawAt(1, k), std::to_string(k + 100 - 32)) << k;
    EXPECT_EQ(RawAt(1, 64), "nil");
}

TEST_F(ExecTest, SetListOpenTakesEveryValueUpToTheTop) {
    RegisterClosure("three", Three);
    RegisterClosure("none", [](ScriptState*) { return 0; });
    ASSERT_EQ(Run(R"(.function main maxstack=8
    NEWTABLE 0 0 0
    GETGLOBAL 1 "three"
    CALL 1 1 0
    SETLISTO 0 0
    NEWTABLE 2 0 0
    LOADK 3 "first"
    GETGLOBAL 4 "three"
    CALL 4 1 0
    SETLISTO 2 32
    NEWTABLE 5 0 0
    GETGLOBAL 6 "none"
    CALL 6 1 0
    SETLISTO 5 0
    LOADK 7 "top reset"
    MOVE 1 2
    MOVE 2 5
    RETURN 0 4
.end)"),
              0);
    ASSERT_EQ(VmGetTop(L), 3);
    EXPECT_EQ(RawAt(1, 0), "\"x\"");
    EXPECT_EQ(RawAt(1, 1), "\"y\"");
    EXPECT_EQ(RawAt(1, 2), "\"z\"");
    EXPECT_EQ(RawAt(1, 3), "nil");
    EXPECT_EQ(RawAt(2, 32), "\"first\"");
    EXPECT_EQ(RawAt(2, 33), "\"x\"");
    EXPECT_EQ(RawAt(2, 35), "\"z\"");
    EXPECT_EQ(RawAt(2, 0), "nil");
    VmPushNil(L);
    EXPECT_EQ(VmNext(L, 3), 0);  // nothing stored from no values
}

TEST_F(ExecTest, GenericLoopsUseNextForTablesAndCallIterators) {
    // "next" is the VM's own global.
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

    auto loop = [&](const char* generator) {
        out.clear();
        return Run(std::string(".function main maxstack=12\n    GETGLOBAL 0 \"") + generator +
                   "\"\n    LOADNIL 1 2\n    TFORPREP 0 loop\n"
                   "body:\n    GETGLOBAL 7 \"emit\"\n    MOVE 8 2\n    MOVE 9 3\n    CALL 7 3 1\n"
                   "loop:\n    TFORLOOP 0 0 1\n    JMP body\n" +
                   EmitText("end") + "    RETURN 0 1\n.end\n");
    };
    ASSERT_EQ(loop("tbl"), 0);
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.back(), "\"end\"");
    std::vector<std::string> pairs(out.begin(), out.end() - 1);
    std::sort(pairs.begin(), pairs.end());
    EXPECT_EQ(pairs, (std::vector<std::string>{"\"k\" \"v\"", "1 100", "2 200", "3 300"}));

    ASSERT_EQ(loop("count"), 0);
    EXPECT_EQ(out, (std::vector<std::string>{"1 10", "2 20", "3 30", "\"end\""}));

    // With three loop variables the iterator's missing third result is nil.
    out.clear();
    ASSERT_EQ(Run(R"(.function main maxstack=12
    GETGLOBAL 0 "count"
    LOADNIL 1 2
    TFORPREP 0 loop
body:
    GETGLOBAL 8 "emit"
    MOVE 9 2
    MOVE 10 3
    MOVE 11 4
    CALL 8 4 1
loop:
    TFORLOOP 0 0 2
    JMP body
    RETURN 0 1
.end)"),
              0);
    EXPECT_EQ(out, (std::vector<std::string>{"1 10 nil", "2 20 nil", "3 30 nil"}));

    // Without a "next" global a table cannot be walked.
    VmPushNil(L);
    SetGlobal("next");
    EXPECT_EQ(loop("tbl"), ERR_FUNCDECLA);
}

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
  .function inc upvalues=1
    GETUPVAL 0 0
    ADD 0 0 #1
    SETUPVAL 0 0
    RETURN 0 2
  .end
  .function get upvalues=1
    GETUPVAL 0 0
    RETURN 0 2
  .end
.end)"),
              // Open: the closures see and change main's R0. Closed: they
              // keep their own copy, which main's R0 no longer touches.
              "1 2 2 3 3 100");
}

TEST_F(ExecTest, NestedClosuresShareUpvaluesAndReturnsCloseThem) {
    EXPECT_EQ(Eval(R"(.function main maxstack=8
    LOADK 0 #10
    CLOSURE 1 maker
    MOVE 0 0
    MOVE 2 1
    CALL 2 1 2
    MOVE 3 2
    CALL 3 1 2
    MOVE 4 2
    CALL 4 1 2
    MOVE 5 0
    RETURN 3 4
  .function maker upvalues=1
    CLOSURE 0 inc
    GETUPVAL 0 0
    RETURN 0 2
    .function inc upvalues=1
      GETUPVAL 0 0
      ADD 0 0 #1
      SETUPVAL 0 0
      RETURN 0 2
    .end
  .end
.end)"),
              "11 12 12");

    // Each call of the factory gets a fresh local, closed when it returns.
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
    CLOSURE 1 inc
    MOVE 0 0
    RETURN 1 2
    .function inc upvalues=1
      GETUPVAL 0 0
      ADD 0 0 #1
      SETUPVAL 0 0
      RETURN 0 2
    .end
  .end
.end)"),
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
    EXPECT_EQ(Run(".function main maxstack=12\n    LOADK 0 #5\n    LOADK 1 \"v\"\n    SETLIST 0 0\n" +
                      EmitText("after") + "    RETURN 0 1\n.end\n",
                  2),
              ERR_BADBYTECODE);
    EXPECT_TRUE(out.empty());

    EXPECT_EQ(Run(".function main maxstack=12\n    GETGLOBAL 1 \"tbl\"\n    SELF 0 1 #5\n" + EmitText("after") +
                  "    LOADK 0 \"x\"\n    RETURN 0 2\n.end\n",
                  1),
              ERR_BADBYTECODE);
    EXPECT_TRUE(out.empty());
    // The end flag stays clear: the next run goes on.
    EXPECT_EQ(VmGetEndFlag(L), 0);
    EXPECT_EQ(Eval(".function main\n    LOADK 0 #1\n    RETURN 0 2\n.end\n"), "1");
}

}  // namespace
