// The line hook as the interpreter serves it without looking at every
// instruction: events decided at jumps, calls and returns and from the
// line-start flags must be exactly the events of the general tracer, which a
// count hook that never comes due forces on every instruction.
#include <string>
#include <vector>

#include "vm_fixture.h"

namespace {

// What the hook records and what it does at a chosen event (hooks carry no
// user data).
struct LineLog {
    std::vector<std::string> events;
    int actAt = -1;  // the event number (from 0) at which `act` runs
    void (*act)(ScriptState*, int* err) = nullptr;
};
LineLog* lineLog = nullptr;

void Recorder(ScriptState* L, VmDebugRecord* ar, int* err) {
    if (ar->event != kHookLine) return;
    std::string e = std::to_string(ar->currentline) + "@" + std::to_string(ar->i_ci);
    VmDebugRecord here;
    if (!VmGetStackLevel(L, 0, &here) || here.i_ci != ar->i_ci || !VmGetInfo(L, "l", &here) ||
        here.currentline != ar->currentline)
        e += " (debug layer disagrees)";
    int n = static_cast<int>(lineLog->events.size());
    lineLog->events.push_back(e);
    if (n == lineLog->actAt && lineLog->act) lineLog->act(L, err);
}

int jumpLabel = 0;
int jumpCalls = 0;
// Asks for a label jump the first time, like the event library's dispatcher.
int JumpOnce(ScriptState* L) {
    if (++jumpCalls > 1) return 0;
    L->g->labelJumpOffset = jumpLabel - L->g->currentInstrIndex;
    return kLabelJumpResume;
}

int count3 = 0;
// An iterator for TFORLOOP: 1, 2, 3, then nil.
int CountToThree(ScriptState* L) {
    if (count3 >= 3) {
        VmPushNil(L);
        return 1;
    }
    VmPushNumber(L, ++count3);
    return 1;
}

class HookFastTest : public vmtest::VmFixture {
protected:
    void SetUp() override {
        VmFixture::SetUp();
        lineLog = &log;
        RegisterClosure("jump", JumpOnce);
        RegisterClosure("count", CountToThree);
    }
    void TearDown() override {
        VmSetHook(L, nullptr, 0, 0);
        lineLog = nullptr;
        VmFixture::TearDown();
    }
    // The line events of one run, ending with the run's status.
    std::vector<std::string> Trace(const std::string& text, bool general, int actAt = -1,
                                   void (*act)(ScriptState*, int*) = nullptr) {
        log = LineLog{};
        log.actAt = actAt;
        log.act = act;
        out.clear();
        jumpCalls = 0;
        count3 = 0;
        if (general)
            VmSetHook(L, Recorder, kMaskLine | kMaskCount, 1 << 30);
        else
            VmSetHook(L, Recorder, kMaskLine, 0);
        VmPushString(L, "none");
        SetGlobal("seen");
        int rc = Run(text);
        VmSetHook(L, nullptr, 0, 0);
        VmSetEndFlag(L, 0);
        std::vector<std::string> events = log.events;
        events.push_back("status " + std::to_string(rc));
        PushGlobal("seen");
        events.push_back("seen " + vmtest::Show(L, -1));
        for (const std::string& line : out) events.push_back("out " + line);
        return events;
    }
    void ExpectSameAsGeneral(const std::string& text, int actAt = -1, void (*act)(ScriptState*, int*) = nullptr) {
        std::vector<std::string> fast = Trace(text, false, actAt, act);
        std::vector<std::string> general = Trace(text, true, actAt, act);
        EXPECT_EQ(fast, general) << text;
    }

    LineLog log;
};

// Lines that repeat out of order, forward jumps within a line and onto
// another, backward jumps, skips by tests and by LOADBOOL, and a loop whose
// body and test share a line.
const char* const kJumpsAndLines = R"(.function main maxstack=12
.line 1
    LOADK 0 #0
    LOADK 1 #0
    LOADK 2 #3
    LOADK 3 #1
    JMP check
.line 2
body:
    ADD 0 0 #1
    LT 1 0 #2
    JMP skip
.line 3
    ADD 0 0 #10
.line 2
skip:
    LOADBOOL 5 1 1
.line 5
    LOADBOOL 5 0 0
.line 2
    TEST 5 5 1
    JMP check
    LOADK 6 #1
check:
.line 4
    FORLOOP 1 body
    EQ 1 0 #0
    JMP far
.line 4
    LOADK 7 #2
far:
.line 7
    LOADK 8 #0
    LOADK 9 #2
    LOADK 10 #1
    JMP check2
body2:
    ADD 0 0 #100
check2:
    FORLOOP 8 body2
    GETGLOBAL 10 "emit"
    MOVE 11 0
    CALL 10 2 1
    RETURN 0 1
.end)";

TEST_F(HookFastTest, JumpsSkipsAndLineStartsMatchTheGeneralTracer) {
    ExpectSameAsGeneral(kJumpsAndLines);
    // And the events themselves: tracing starts at the first instruction;
    // a loop within one line reports it again at each backward jump.
    std::vector<std::string> fast = Trace(kJumpsAndLines, false);
    ASSERT_GE(fast.size(), 4u);
    EXPECT_EQ(fast[0], "4@1");
    EXPECT_EQ(fast[1], "2@1");
    EXPECT_EQ(fast.end()[-3], "status 0");
    EXPECT_EQ(fast.back(), "out 223");
}

TEST_F(HookFastTest, CallsAndReturnsBetweenFunctionsWithAndWithoutLines) {
    // main has lines; f has none (an event at its entry and at each backward
    // jump); g has lines and is reached by a tail call from f; h is called
    // through the general call path (it takes varargs).
    const char* text = R"(.function main maxstack=14
.line 1
    CLOSURE 0 f
    CLOSURE 1 h
.line 2
    MOVE 2 0
    LOADK 3 #2
    CALL 2 2 2
    MOVE 4 1
    LOADK 5 #1
    LOADK 6 #2
    CALL 4 3 2
.line 3
    GETGLOBAL 10 "emit"
    MOVE 11 2
    MOVE 12 4
    CALL 10 3 1
    RETURN 0 1
  .function f params=1 maxstack=6
  .nolines
    LOADK 1 #0
    LOADK 2 #3
    LOADK 3 #1
    JMP check
  body:
    ADD 0 0 #1
  check:
    FORLOOP 1 body
    CLOSURE 4 g
    MOVE 5 0
    TAILCALL 4 2 0
    RETURN 0 0
    .function g params=1 line=20 maxstack=2
    .line 21
      ADD 0 0 #1
    .line 22
      RETURN 0 2
    .end
  .end
  .function h params=0 vararg=1 line=30 maxstack=4
  .line 31
    LOADK 0 #7
  .line 32
    RETURN 0 2
  .end
.end)";
    ExpectSameAsGeneral(text);
    EXPECT_EQ(Trace(text, false), (std::vector<std::string>{"2@1", "0@2", "0@2", "0@2", "0@2", "21@2", "22@2",
                                                           "31@2", "32@2", "3@1", "status 0", "seen \"none\"",
                                                           "out 6 7"}));
}

TEST_F(HookFastTest, GosubsLabelJumpsGenericLoopsAndClosuresMatchTheGeneralTracer) {
    // Returns from gosubs and the label jump land inside lines; the upvalue
    // list that CLOSURE skips has a line of its own. Indexes on the left.
    jumpLabel = 14;
    const char* text = R"(.function main maxstack=16
.line 1
    LOADK 0 #1             ; 0
    GOSUB sub              ; 1
    LOADK 1 #1             ; 2
.line 2
    GETGLOBAL 1 "jump"     ; 3
    CALL 1 1 1             ; 4
    LOADK 1 #2             ; 5
.line 3
    GETGLOBAL 6 "count"    ; 6
    LOADNIL 7 8            ; 7
    TFORPREP 6 loop        ; 8
body:
.line 4
    ADD 9 9 #0             ; 9
loop:
.line 3
    TFORLOOP 6 0 1         ; 10
    JMP body               ; 11
.line 6
    JMP rest               ; 12
.line 8
    LOADK 4 #8             ; 13
    LOADK 4 #9             ; 14: the label
    RETURN 0 1 1           ; 15
sub:
.line 9
    CLOSURE 5 c            ; 16
.line 10
    MOVE 0 0               ; 17: the upvalue list, not run
    RETURN 0 1 1           ; 18
rest:
.line 11
    MOVE 13 5
    CALL 13 1 2
    GETGLOBAL 10 "emit"
    MOVE 11 13
    CALL 10 2 1
    RETURN 0 1
  .function c upvalues=1 line=40 maxstack=2
  .upvalue x
  .line 41
    GETUPVAL 0 0
    RETURN 0 2
  .end
.end)";
    ExpectSameAsGeneral(text);
    EXPECT_EQ(Trace(text, false),
              (std::vector<std::string>{"9@1", "10@1", "1@1", "2@1", "8@1", "2@1", "3@1", "4@1", "3@1", "4@1", "3@1",
                                        "4@1", "3@1", "6@1", "11@1", "41@2", "status 0", "seen \"none\"",
                                        "out 1"}));
}

// Where each event stands, an instruction with a visible effect (it stores
// into the global "seen"): at a line start, at a backward jump's target and
// at the entry of a function without line information.
const char* const kMarks = R"(.function main maxstack=8
.line 1
    LOADK 0 #7
.line 2
    SETGLOBAL 0 "seen"
    LOADK 1 #0
    LOADK 2 #2
    LOADK 3 #1
    JMP check
body:
    SETGLOBAL 1 "seen"
check:
    FORLOOP 1 body
    CLOSURE 4 f
    CALL 4 1 1
.line 3
    RETURN 0 1
  .function f maxstack=2
    SETGLOBAL 0 "seen"
    RETURN 0 1
  .end
.end)";

// Hook actions at a chosen event.
void EndTheRun(ScriptState* L, int*) { VmSetEndFlag(L, 1); }
void FailWithUserAbort(ScriptState*, int* err) { *err = ERR_USERABORT; }
void RemoveTheHook(ScriptState* L, int*) { VmSetHook(L, nullptr, 0, 0); }
void RestartTheHook(ScriptState* L, int*) { VmSetHook(L, Recorder, kMaskLine, 0); }
void AddACountHook(ScriptState* L, int*) { VmSetHook(L, Recorder, kMaskLine | kMaskCount, 1 << 30); }
void FillTheStack(ScriptState* L, int*) {
    for (int i = 0; i < kMinStackForHandler; i++) VmPushNumber(L, i);
}
void CallScript(ScriptState* L, int*) {
    VmPushString(L, "g");
    VmGetTableAt(L, kGlobalsIndex);
    if (VmPCall(L, 0, 0, 0) != 0) lineLog->events.push_back("g failed");
}

TEST_F(HookFastTest, WhatAHookDoesTakesEffectAsWithTheGeneralTracer) {
    ASSERT_TRUE(Load(".function g maxstack=4\n.line 50\n    LOADK 0 #1\n.line 51\n    RETURN 0 1\n.end\n"));
    SetGlobal("g");
    // Ending the run, failing, removing, restarting or widening the hook,
    // filling the stack or running script code, at an event that comes from
    // a line start, from a backward jump and from a function entry.
    for (auto act : {EndTheRun, FailWithUserAbort, RemoveTheHook, RestartTheHook, AddACountHook, FillTheStack,
                     CallScript}) {
        for (int at : {0, 1, 2, 3, 6, 9}) {
            SCOPED_TRACE("event " + std::to_string(at));
            ExpectSameAsGeneral(kJumpsAndLines, at, act);
            ExpectSameAsGeneral(kMarks, at, act);
        }
    }
    // Ended at the backward jump, the instruction there does not run.
    EXPECT_EQ(Trace(kMarks, false, 1, EndTheRun), (std::vector<std::string>{"2@1", "2@1", "status 0", "seen 7"}));
    // The failing hook's code ends the run, with the hook's line recorded.
    std::vector<std::string> failed = Trace(kJumpsAndLines, false, 1, FailWithUserAbort);
    EXPECT_EQ(failed, (std::vector<std::string>{"4@1", "2@1", "status " + std::to_string(ERR_USERABORT),
                                                "seen \"none\""}));
    EXPECT_EQ(vmtest::Hosted().raiseLine, 2);
    EXPECT_NE(L->allowhook, 0);
}

TEST_F(HookFastTest, AFunctionWithoutLinesReportsItsEntryAndBackwardJumpsOnly) {
    // Recursion as in fib: every call is one event, the forward jumps none.
    const char* text = R"(.function main maxstack=8
.nolines
    CLOSURE 0 fib
    MOVE 0 0
    MOVE 1 0
    LOADK 2 #10
    CALL 1 2 2
    GETGLOBAL 2 "emit"
    MOVE 3 1
    CALL 2 2 1
    RETURN 0 1
  .function fib params=1 maxstack=4
  .nolines
  .upvalue fib
    LT 1 0 #2
    JMP small
    GETUPVAL 1 0
    SUB 2 0 #1
    CALL 1 2 2
    GETUPVAL 2 0
    SUB 3 0 #2
    CALL 2 2 2
    ADD 1 1 2
    RETURN 1 2
small:
    RETURN 0 2
  .end
.end)";
    std::vector<std::string> fast = Trace(text, false);
    ASSERT_EQ(fast.size(), 177u + 3u);  // fib(10) makes 177 calls
    for (size_t n = 0; n < 177; n++) EXPECT_EQ(fast[n].substr(0, 2), "0@") << n;
    EXPECT_EQ(fast.end()[-3], "status 0");
    EXPECT_EQ(fast.back(), "out 55");
    ExpectSameAsGeneral(text);
}

}  // namespace
