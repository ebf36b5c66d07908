// Calls between scripts and natives: result counts, varargs, "__call", the
// native-nesting limit, tail calls, label jumps that commands ask for, and the
// end flag that stops every running function. (The frame limit and the road
// of a failed command's code report through the runtime core and are tested
// with it, in tests/core/vmhost_test.cpp.)
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "vm_fixture.h"

namespace {

using vmtest::Show;

// Sets the end flag and returns normally.
int Stop(ScriptState* L) {
    VmSetEndFlag(L, 1);
    return 0;
}

std::vector<std::string>* OutOf(ScriptState* L) {
    return static_cast<std::vector<std::string>*>(VmToUserdata(L, VmUpvalueIndex(1)));
}

// Calls the global "g" from native code for two results and records what
// came back.
int CallBack(ScriptState* L) {
    VmPushString(L, "g");
    VmGetTableAt(L, kGlobalsIndex);
    int rc = VmCall(L, 0, 2);
    OutOf(L)->push_back("back " + std::to_string(rc) + " " + Show(L, -2) + " " + Show(L, -1));
    return 0;
}

// Calls itself through the API until the nesting limit stops it.
int nestDepth = 0;
int Nest(ScriptState* L) {
    ++nestDepth;
    VmPushString(L, "nest");
    VmGetTableAt(L, kGlobalsIndex);
    return VmCall(L, 0, 0);
}

// Asks once for a label jump of the configured kind, then returns "done".
struct Jumper {
    int label = 0;
    int mode = 0;
    int calls = 0;
    int seenIndex = -1;
};
int JumpCommand(ScriptState* L) {
    auto* j = static_cast<Jumper*>(VmToUserdata(L, VmUpvalueIndex(1)));
    j->seenIndex = L->g->currentInstrIndex;
    if (++j->calls > 1) {
        VmPushString(L, "done");
        return 1;
    }
    L->g->labelJumpOffset = j->label - L->g->currentInstrIndex;
    return j->mode;
}

// Reports where a call chain stands: the frame index of this command, the
// lost tail calls of its caller and the frame array size; returns "a", "b".
struct Probe {
    int frame = -1;
    int callerTailCalls = -1;
    int sizeCi = -1;
};
int ProbeCommand(ScriptState* L) {
    auto* p = static_cast<Probe*>(VmToUserdata(L, VmUpvalueIndex(1)));
    p->frame = static_cast<int>(L->ci - L->base_ci);
    p->callerTailCalls = (L->ci - 1)->tailcalls;
    p->sizeCi = L->size_ci;
    VmPushString(L, "a");
    VmPushString(L, "b");
    return 2;
}

class CallsTest : public vmtest::VmFixture {
protected:
    void SetUp() override {
        VmFixture::SetUp();
        nestDepth = 0;
    }
};

TEST_F(CallsTest, ResultsAreAdjustedToTheWantedCount) {
    EXPECT_EQ(Eval(R"(.function main maxstack=8
    CLOSURE 0 one
    SETGLOBAL 0 "one"
    LOADK 2 "junk"
    LOADK 3 "junk"
    GETGLOBAL 1 "one"
    CALL 1 1 4
    GETGLOBAL 4 "three"
    CALL 4 1 2
    LOADK 5 "kept"
    RETURN 1 6
  .function one
    LOADK 0 #7
    RETURN 0 2
  .end
.end)"),
              "7 nil nil \"x\" \"kept\"");

    // All results: passed on as arguments (B = 0) and returned (B = 0).
    EXPECT_EQ(Eval(R"(.function main maxstack=8
    GETGLOBAL 0 "emit"
    GETGLOBAL 1 "three"
    CALL 1 1 0
    CALL 0 0 1
    CLOSURE 0 four
    CALL 0 1 0
    RETURN 0 0
  .function four maxstack=4
    LOADK 0 #1
    GETGLOBAL 1 "three"
    CALL 1 1 0
    RETURN 0 0
  .end
.end)"),
              "1 \"x\" \"y\" \"z\"");
    EXPECT_EQ(out, std::vector<std::string>{"\"x\" \"y\" \"z\""});

    // A tail call to a native returns its results too, as many as the
    // protected call asks for.
    ASSERT_EQ(Run(".function main\n    GETGLOBAL 0 \"three\"\n    TAILCALL 0 1 0\n    RETURN 0 0\n.end\n", 4), 0);
    EXPECT_EQ(VmGetTop(L), 4);
    EXPECT_EQ(Show(L, 4), "nil");
}

TEST_F(CallsTest, VarargFunctionsCollectExtraArgumentsInATable) {
    const char* prog = R"(.function main maxstack=8
    CLOSURE 0 va
    LOADK 1 "a"
    LOADK 2 "b"
    LOADK 3 "c"
    LOADK 4 "d"
    LOADK 5 "e"
    CALL 0 %d 4
    RETURN 0 4
  .function va params=2 vararg=1 maxstack=3
    RETURN 0 4
  .end
.end)";
    auto withArgs = [&](int nargs) {
        char text[512];
        std::snprintf(text, sizeof text, prog, nargs + 1);
        return Run(text);
    };
    // The extras from key 1, their count in "n".
    auto shown = [&] {
        return Show(L, 1) + " " + Show(L, 2) + " " + RawAt(3, 0) + " " + RawAt(3, 1) + " " + RawAt(3, 2) + " " +
               RawAt(3, 3) + " n=" + RawField(3, "n");
    };
    ASSERT_EQ(withArgs(5), 0);
    EXPECT_EQ(shown(), "\"a\" \"b\" nil \"c\" \"d\" \"e\" n=3");
    ASSERT_EQ(withArgs(1), 0);
    EXPECT_EQ(shown(), "\"a\" nil nil nil nil nil n=0");
}

TEST_F(CallsTest, TablesAreCalledThroughTheirCallMetamethod) {
    VmPushNewTable(L);
    VmPushString(L, "__call");
    PushGlobal("emit");
    VmRawSet(L, -3);
    VmPushNewTable(L);
    VmPushString(L, "name");
    VmPushString(L, "obj");
    VmRawSet(L, -3);
    VmPushValue(L, -2);
    VmSetMetatable(L, -2);
    SetGlobal("obj");
    VmSetTop(L, 0);
    EXPECT_EQ(Eval(".function main maxstack=4\n    LOADK 0 \"junk\"\n    GETGLOBAL 0 \"obj\"\n    LOADK 1 #1\n"
                   "    LOADK 2 #2\n    CALL 0 3 2\n    RETURN 0 2\n.end\n"),
              "nil");
    EXPECT_EQ(out, std::vector<std::string>{"table:obj 1 2"});

    // A "__call" that is not a function does not make the table callable.
    VmPushNewTable(L);
    VmPushString(L, "__call");
    VmPushNewTable(L);
    VmRawSet(L, -3);
    VmPushNewTable(L);
    VmPushValue(L, -2);
    VmSetMetatable(L, -2);
    SetGlobal("odd");
    VmSetTop(L, 0);
    vmtest::Hosted().detail.clear();
    EXPECT_EQ(Run(".function main\n    GETGLOBAL 0 \"odd\"\n    CALL 0 1 1\n    RETURN 0 1\n.end\n"), ERR_FUNCDECLA);
    EXPECT_EQ(Detail(), "odd()");
}

TEST_F(CallsTest, CallingANonFunctionNamesTheValue) {
    PushGlobal("tbl");
    VmPushString(L, "five");
    VmPushNumber(L, 5);
    VmRawSet(L, -3);
    VmSetTop(L, 0);
    struct Case {
        const char* code;
        const char* detail;
    } cases[] = {
        {"GETGLOBAL 0 \"nosuch\"\nCALL 0 1 1", "nosuch()"},
        {"GETGLOBAL 0 \"tbl\"\nCALL 0 1 1", "tbl()"},
        {"GETGLOBAL 0 \"tbl\"\nGETTABLE 0 0 \"five\"\nCALL 0 1 1", "five()"},
        {"GETGLOBAL 1 \"tbl\"\nSELF 0 1 \"nomethod\"\nCALL 0 2 1", "nomethod()"},
        {".local f 1 3\nLOADNIL 0 0\nCALL 0 1 1", "f()"},
        {"LOADK 0 #5\nCALL 0 1 1", "?\?()"},
        {"GETGLOBAL 0 \"nosuch\"\nTAILCALL 0 1 0\nRETURN 0 0", "nosuch()"},
    };
    for (const Case& c : cases) {
        vmtest::Hosted().detail.clear();
        EXPECT_EQ(Run(std::string(".function main maxstack=4\n") + c.code + "\nRETURN 0 1\n.end\n"), ERR_FUNCDECLA)
            << c.code;
        EXPECT_EQ(Detail(), c.detail) << c.code;
    }
}

TEST_F(CallsTest, TailCallsReplaceTheFrameAndCountTheLostCalls) {
    Probe probe;
    VmPushLightUserdata(L, &probe);
    RegisterClosure("probe", ProbeCommand, 1);
    const char* prog = R"(.function main maxstack=4
    CLOSURE 0 f
    SETGLOBAL 0 "f"
    GETGLOBAL 0 "f"
    GETGLOBAL 1 "n"
    CALL 0 2 0
    RETURN 0 0
  .function f params=1 maxstack=4
    EQ 1 0 #0
    JMP done
    GETGLOBAL 1 "f"
    SUB 2 0 #1
    TAILCALL 1 2 0
    RETURN 1 0
done:
    GETGLOBAL 1 "probe"
    CALL 1 1 0
    RETURN 1 0
  .end
.end)";
    for (int n : {0, 3, 1000000}) {
        VmPushNumber(L, n);
        SetGlobal("n");
        probe = Probe{};
        EXPECT_EQ(Eval(prog), "\"a\" \"b\"") << n;
        EXPECT_EQ(probe.frame, 3) << n;  // base, main, f, probe
        EXPECT_EQ(probe.callerTailCalls, n);
        EXPECT_LE(probe.sizeCi, 16) << n;
    }
}

TEST_F(CallsTest, NativeNestingIsLimited) {
    RegisterClosure("nest", Nest);
    EXPECT_EQ(Run(".function main\n    GETGLOBAL 0 \"nest\"\n    CALL 0 1 1\n    RETURN 0 1\n.end\n"), ERR_STACK);
    // The protected run is level 1; the handler runs at levels 1..199.
    EXPECT_EQ(nestDepth, kMaxNativeCalls - 1);
    EXPECT_EQ(L->nCcalls, 0);
    EXPECT_EQ(L->ci, L->base_ci);

    nestDepth = 0;
    VmSetTop(L, 0);
    PushGlobal("nest");
    EXPECT_EQ(VmPCall(L, 0, 0, 0), ERR_STACK);
    EXPECT_EQ(nestDepth, kMaxNativeCalls - 1);
    EXPECT_EQ(Eval(".function main\n    GETGLOBAL 0 \"three\"\n    CALL 0 1 2\n    RETURN 0 2\n.end\n"), "\"x\"");
}

// A handler that runs script code itself, unprotected, and runs out of
// memory inside it (here in a line hook) fails with ERR_MEM from its own
// frame: the frames above it are left, hooks are allowed again, and with a
// host that lets scripts go on past errors the caller goes on as after any
// failed command.
TEST_F(CallsTest, OutOfMemoryBelowScriptFramesFailsTheCommandFromItsFrame) {
    static std::vector<int> codes;
    static bool failNext;
    codes.clear();
    failNext = false;
    VmHost host;
    host.commandError = [](ScriptState*, int code) {
        codes.push_back(code);
        return 0;
    };
    VmSetHost(&host);
    ASSERT_TRUE(Load(R"(.function inner maxstack=4
    LOADK 0 #1
    LOADK 1 #2
    RETURN 0 1
.end)"));
    SetGlobal("inner");
    RegisterClosure("callsinner", [](ScriptState* L) {
        VmPushString(L, "inner");
        VmGetTableAt(L, kGlobalsIndex);
        failNext = true;
        VmCall(L, 0, 0);
        return 0;
    });
    VmSetHook(L, [](ScriptState*, VmDebugRecord*, int*) {
        if (failNext) {
            failNext = false;
            throw std::bad_alloc();
        }
    }, kMaskLine, 0);
    const std::string program = R"(.function main maxstack=4
    GETGLOBAL 0 "callsinner"
    CALL 0 1 1
    GETGLOBAL 0 "emit"
    LOADK 1 "after"
    CALL 0 2 1
    RETURN 0 1
.end)";
    ASSERT_EQ(Run(program), 0);
    EXPECT_EQ(codes, std::vector<int>{ERR_MEM});
    EXPECT_EQ(out, std::vector<std::string>{"\"after\""});
    EXPECT_EQ(L->ci, L->base_ci);
    EXPECT_EQ(L->nCcalls, 0);
    // Hooks run again: the next failure is met, and met the same way.
    ASSERT_EQ(Run(program), 0);
    EXPECT_EQ(codes, (std::vector<int>{ERR_MEM, ERR_MEM}));
    VmSetHook(L, nullptr, 0, 0);
}

TEST_F(CallsTest, EndFlagStopsEveryRunningFunction) {
    RegisterClosure("stop", Stop);
    VmPushLightUserdata(L, &out);
    RegisterClosure("callback", CallBack, 1);
    // main calls f (directly, or through a native command that calls the
    // global "g" = f), f sets the end flag: no further script code runs, the
    // native caller gets nil results and goes on, the frames are popped.
    std::string prog = ".function main maxstack=12\n    CLOSURE 0 f\n    SETGLOBAL 0 \"g\"\n    %CALL%" +
                       Emit("main-after") + "    RETURN 0 3\n  .function f maxstack=12\n"
                       "    GETGLOBAL 0 \"stop\"\n    CALL 0 1 1\n" + Emit("f-after") +
                       "    LOADK 0 #1\n    RETURN 0 2\n  .end\n.end\n";
    std::string direct = prog, viaNative = prog;
    direct.replace(direct.find("%CALL%"), 6, "CALL 0 1 3\n");
    viaNative.replace(viaNative.find("%CALL%"), 6, "GETGLOBAL 0 \"callback\"\n    CALL 0 1 1\n");
    EXPECT_EQ(Run(direct, 2), 0);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(Show(L, 1) + " " + Show(L, 2), "nil nil");
    EXPECT_EQ(L->ci, L->base_ci);
    // Every later run ends before its first instruction.
    EXPECT_EQ(Run(".function main maxstack=12\n" + Emit("later") + "    RETURN 0 1\n.end\n"), 0);
    EXPECT_TRUE(out.empty());

    VmSetEndFlag(L, 0);
    EXPECT_EQ(Run(viaNative), 0);
    EXPECT_EQ(out, std::vector<std::string>{"back 0 nil nil"});
    EXPECT_EQ(L->ci, L->base_ci);
}

TEST_F(CallsTest, LabelJumpsRunTheLabelLikeAGosub) {
    Jumper j;
    VmPushLightUserdata(L, &j);
    RegisterClosure("jump", JumpCommand, 1);
    // Instruction indexes on the left; the label is at 6.
    const char* prog = R"(.function main maxstack=12
    GETGLOBAL 0 "jump"    ; 0
    CALL 0 1 2            ; 1
    GETGLOBAL 10 "emit"   ; 2
    MOVE 11 0             ; 3
    CALL 10 2 1           ; 4
    RETURN 0 1            ; 5
    GETGLOBAL 10 "emit"   ; 6
    LOADK 11 "label"      ; 7
    CALL 10 2 1           ; 8
    RETURN 0 1 1          ; 9
.end)";
    j.label = 6;
    j.mode = kLabelJumpResume;
    EXPECT_EQ(Run(prog), 0);
    // Execution goes on after the call, which returned no values.
    EXPECT_EQ(out, (std::vector<std::string>{"\"label\"", "nil"}));
    EXPECT_EQ(j.calls, 1);
    EXPECT_EQ(j.seenIndex, 2);  // the instruction after the call
    EXPECT_EQ(L->g->gosubCount, 0);

    j = Jumper{};
    j.label = 6;
    j.mode = kLabelJumpRepeat;
    out.clear();
    EXPECT_EQ(Run(prog), 0);
    // The command is called again once the label's code has returned.
    EXPECT_EQ(out, (std::vector<std::string>{"\"label\"", "\"done\""}));
    EXPECT_EQ(j.calls, 2);
    EXPECT_EQ(L->g->gosubCount, 0);

    // A target outside the code, or a full gosub stack, refuses the jump.
    for (int label : {10, -3, 6}) {
        j = Jumper{};
        j.label = label;
        j.mode = kLabelJumpRepeat;
        out.clear();
        if (label == 6) L->g->gosubCount = kGosubStackSize;
        EXPECT_EQ(Run(prog), ERR_INTERNAL) << label;
        EXPECT_TRUE(out.empty());
        L->g->gosubCount = 0;
    }
}

TEST_F(CallsTest, LabelRequestsOutsideTheInterpreterReturnNothing) {
    Jumper j;
    j.mode = kLabelJumpResume;
    VmPushLightUserdata(L, &j);
    RegisterClosure("jump", JumpCommand, 1);
    VmSetTop(L, 0);
    PushGlobal("jump");
    EXPECT_EQ(VmPCall(L, 0, 2, 0), 0);
    ASSERT_EQ(VmGetTop(L), 2);
    EXPECT_EQ(Show(L, 1), "nil");
    EXPECT_EQ(Show(L, 2), "nil");
    EXPECT_EQ(L->g->gosubCount, 0);
    EXPECT_EQ(L->ci, L->base_ci);
}

TEST_F(CallsTest, ErrorsCloseTheOpenUpvaluesOfTheFramesTheyLeave) {
    // The closure outlives the failed run; its upvalue must hold a copy, not
    // a slot of the stack that later runs reuse and regrow.
    EXPECT_EQ(Run(R"(.function main maxstack=4
    LOADK 0 #5
    CLOSURE 1 get
    MOVE 0 0
    SETGLOBAL 1 "get"
    LOADK 2 #0
    DIV 2 2 2
    RETURN 0 1
  .function get upvalues=1
    GETUPVAL 0 0
    RETURN 0 2
  .end
.end)"),
              ERR_ZERODIVISION);
    VmSetTop(L, 0);
    ASSERT_EQ(VmCheckStack(L, 500), 1);  // moves the stack to a new block
    for (int i = 0; i < 500; i++) VmPushString(L, "filler");
    VmSetTop(L, 0);
    EXPECT_EQ(Eval(".function main\n    GETGLOBAL 0 \"get\"\n    CALL 0 1 2\n    RETURN 0 2\n.end\n"), "5");
}

using CallsDeathTest = CallsTest;

int panicCalls = 0;
int CountingPanic(ScriptState*) {
    ++panicCalls;
    std::fprintf(stderr, "panic %d\n", panicCalls);
    return 0;
}

TEST_F(CallsDeathTest, RaiseOutsideEveryProtectedRunCallsPanicAndExits) {
    L->g->panic = CountingPanic;
    EXPECT_EXIT(VmRaiseError(L, ERR_WRONGUSAGE), ::testing::ExitedWithCode(1), "panic 1");
}

}  // namespace
