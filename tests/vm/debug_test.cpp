// Debug information and hooks: call levels and their descriptions, names
// worked out from the calling instruction, printable chunk names, the line,
// count, call and return hooks. (The names error texts get from them are the
// runtime core's, tested in tests/core/vmhost_test.cpp.)
#include <string>
#include <vector>

#include "vm_fixture.h"

namespace {

using vmtest::Show;

std::string Text(const char* s) { return s ? s : "<null>"; }

std::string Describe(const VmDebugRecord& ar) {
    return Text(ar.what) + "|" + Text(ar.source) + "|" + ar.short_src + "|" + std::to_string(ar.linedefined) + "|" +
           std::to_string(ar.currentline) + "|" + Text(ar.namewhat) + "|" + Text(ar.name) + "|" +
           std::to_string(ar.nups);
}

std::vector<std::string>* OutOf(ScriptState* L) {
    return static_cast<std::vector<std::string>*>(VmToUserdata(L, VmUpvalueIndex(1)));
}

// Records the description of every call level, innermost first.
int ProbeLevels(ScriptState* L) {
    auto* out = OutOf(L);
    VmDebugRecord ar;
    for (int level = 0; level < 8; level++) {
        if (!VmGetStackLevel(L, level, &ar)) {
            out->push_back("none");
            break;
        }
        VmGetInfo(L, "Slnu", &ar);
        out->push_back(Describe(ar));
    }
    return 0;
}

// Records "kind:name" of its own call.
int WhoAmI(ScriptState* L) {
    VmDebugRecord ar;
    VmGetStackLevel(L, 0, &ar);
    VmGetInfo(L, "n", &ar);
    OutOf(L)->push_back(Text(ar.namewhat) + ":" + Text(ar.name));
    return 0;
}

// Hook log shared with the hook function (hooks carry no user data).
struct HookLog {
    std::vector<std::string> events;
};
HookLog* hookLog = nullptr;

void RecordingHook(ScriptState* L, VmDebugRecord* ar, int*) {
    static const char* const kNames[] = {"call", "ret", "line", "count", "tailret"};
    std::string e = kNames[ar->event];
    if (ar->event == kHookLine) e.append(" ").append(std::to_string(ar->currentline));
    if (ar->event != kHookLine && ar->event != kHookCount) e.append(" ").append(std::to_string(ar->i_ci));
    if (ar->event == kHookLine) {
        // What the hook is told agrees with what the debug layer reads.
        VmDebugRecord here;
        if (!VmGetStackLevel(L, 0, &here) || !VmGetInfo(L, "l", &here) || here.currentline != ar->currentline)
            e += " (debug layer disagrees)";
    }
    hookLog->events.push_back(e);
}

// Pushes as many values as a hook may without asking for room.
void PushingHook(ScriptState* L, VmDebugRecord*, int*) {
    int top = VmGetTop(L);
    for (int i = 0; i < kMinStackForHandler; i++) VmPushNumber(L, i);
    hookLog->events.push_back(std::to_string(VmGetTop(L) - top));
}

class DebugTest : public vmtest::VmFixture {
protected:
    void SetUp() override {
        VmFixture::SetUp();
        hookLog = &log;
    }
    void TearDown() override {
        VmSetHook(L, nullptr, 0, 0);
        hookLog = nullptr;
        VmFixture::TearDown();
    }
    void RegisterWithOut(const char* name, CommandHandler fn) {
        VmPushLightUserdata(L, &out);
        RegisterClosure(name, fn, 1);
    }

    HookLog log;
};

// ---- levels and descriptions ------------------------------------------------------

TEST_F(DebugTest, LevelsDescribeNativesScriptFunctionsAndLostTailCalls) {
    RegisterWithOut("probe", ProbeLevels);
    ASSERT_EQ(Run(R"(.function main maxstack=4
.source "@game.qbs"
.line 2
    CLOSURE 0 helper
    SETGLOBAL 0 "helper"
.line 3
    GETGLOBAL 0 "helper"
    CALL 0 1 1
    RETURN 0 1
  .function helper line=5 maxstack=4
  .line 6
    CLOSURE 0 last
    TAILCALL 0 1 0
    RETURN 0 0
    .function last line=10 maxstack=4
    .line 11
      GETGLOBAL 0 "probe"
      CALL 0 1 1
      RETURN 0 1
    .end
  .end
.end)"),
              0);
    EXPECT_EQ(out, (std::vector<std::string>{
                       "C|=[C]|[C]|-1|-1|global|probe|1",
                       // Its caller was replaced, so no instruction names it.
                       "Quenbrook|@game.qbs|game.qbs|10|11||<null>|0",
                       "tail|=(tail call)|(tail call)|-1|-1||<null>|0",
                       "main|@game.qbs|game.qbs|0|3||<null>|0",
                       "none",
                   }));
    // A function without line information stands at line 0.
    out.clear();
    ASSERT_EQ(Run(".function main\n.nolines\n.source \"=x\"\n    GETGLOBAL 0 \"probe\"\n    CALL 0 1 1\n"
                  "    RETURN 0 1\n.end\n"),
              0);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[1], "main|=x|x|0|0||<null>|0");
}

TEST_F(DebugTest, InfoOptionsAndFunctionsFromTheStack) {
    // ">" takes the function from the stack; an unknown option letter
    // answers 0, the known ones are still filled.
    VmDebugRecord partial;
    PushGlobal("emit");
    EXPECT_EQ(VmGetInfo(L, ">Sux", &partial), 0);
    EXPECT_EQ(VmGetTop(L), 0);
    EXPECT_STREQ(partial.what, "C");
    EXPECT_EQ(partial.nups, 1);

    // "f" pushes the function of a level.
    RegisterClosure("pushself", [](ScriptState* S) {
        VmDebugRecord r;
        VmGetStackLevel(S, 0, &r);
        VmGetInfo(S, "f", &r);
        return 1;
    });
    VmSetTop(L, 0);
    PushGlobal("pushself");
    ASSERT_EQ(VmPCall(L, 0, 1, 0), 0);
    PushGlobal("pushself");
    EXPECT_TRUE(VmRawEqual(L, -1, -2));

    // ">" needs a function on the stack top.
    RegisterClosure("badinfo", [](ScriptState* S) {
        VmDebugRecord r;
        VmPushNumber(S, 1);
        VmGetInfo(S, ">S", &r);
        return 0;
    });
    VmSetTop(L, 0);
    PushGlobal("badinfo");
    EXPECT_EQ(VmPCall(L, 0, 0, 0), ERR_FUNCEXPECTED);
}

TEST_F(DebugTest, NamesComeFromTheCallingInstruction) {
    RegisterWithOut("whoami", WhoAmI);
    // A second closure of the same handler, stored only in a table.
    PushGlobal("tbl");
    VmPushString(L, "k");
    VmPushLightUserdata(L, &out);
    VmPushCClosure(L, WhoAmI, 1);
    VmRawSet(L, -3);
    VmSetTop(L, 0);
    RegisterClosure("getk", [](ScriptState* S) {
        VmPushString(S, "tbl");
        VmGetTableAt(S, kGlobalsIndex);
        VmPushString(S, "k");
        VmRawGet(S, -2);
        return 1;
    });
    VmPushNewTable(L);  // a metatable whose "__index" is the global command
    VmPushString(L, "__index");
    PushGlobal("whoami");
    VmRawSet(L, -3);
    VmPushNewTable(L);
    VmInsert(L, -2);
    VmSetMetatable(L, -2);
    SetGlobal("indexed");
    RegisterClosure("getwho", [](ScriptState* S) {
        VmPushString(S, "whoami");
        VmGetTableAt(S, kGlobalsIndex);
        return 1;
    });
    struct Case {
        const char* code;
        const char* want;
    } cases[] = {
        {"GETGLOBAL 0 \"whoami\"\nCALL 0 1 1", "global:whoami"},
        {".local who 1 3\nGETGLOBAL 0 \"whoami\"\nCALL 0 1 1", "local:who"},
        {"GETGLOBAL 0 \"whoami\"\nMOVE 1 0\nCALL 1 1 1", "global:whoami"},
        {"GETGLOBAL 0 \"tbl\"\nGETTABLE 0 0 \"k\"\nTAILCALL 0 1 0\nRETURN 0 0", "field:k"},
        {"GETGLOBAL 0 \"tbl\"\nGETTABLE 0 0 \"k\"\nCALL 0 1 1", "field:k"},
        {"GETGLOBAL 1 \"tbl\"\nSELF 0 1 \"k\"\nCALL 0 2 1", "method:k"},
        {"GETGLOBAL 0 \"tbl\"\nLOADK 1 \"k\"\nGETTABLE 0 0 1\nCALL 0 1 1", "field:?"},
        // Nothing in the code names a returned function: the globals are searched.
        {"GETGLOBAL 0 \"getwho\"\nCALL 0 1 2\nCALL 0 1 1", "global:whoami"},
        {"GETGLOBAL 0 \"getk\"\nCALL 0 1 2\nCALL 0 1 1", ":<null>"},
        // Called by an instruction other than a call: the globals again.
        {"GETGLOBAL 0 \"indexed\"\nGETTABLE 1 0 \"x\"", "global:whoami"},
    };
    for (const Case& c : cases) {
        out.clear();
        ASSERT_EQ(Run(std::string(".function main maxstack=4\n") + c.code + "\nRETURN 0 1\n.end\n"), 0) << c.code;
        EXPECT_EQ(out, std::vector<std::string>{c.want}) << c.code;
    }
    // Called from native code, a global command is still found by its name.
    out.clear();
    VmSetTop(L, 0);
    PushGlobal("whoami");
    ASSERT_EQ(VmPCall(L, 0, 0, 0), 0);
    EXPECT_EQ(out, std::vector<std::string>{"global:whoami"});
}

TEST_F(DebugTest, ChunkIdsArePrintableSourceNames) {
    char id[kChunkIdSize];
    auto chunkId = [&](const std::string& source) {
        VmChunkId(id, source.c_str(), kChunkIdSize);
        return std::string(id);
    };
    EXPECT_EQ(chunkId("=stdin"), "stdin");
    EXPECT_EQ(chunkId("=" + std::string(80, 'x')), std::string(59, 'x'));
    EXPECT_EQ(chunkId("@game.qbs"), "game.qbs");

    std::string path;
    for (int i = 0; i < 100; i++) path += static_cast<char>('a' + i % 26);
    EXPECT_EQ(chunkId("@" + path), "..." + path.substr(100 - 52));
    const std::string fits = path.substr(0, 52), tooLong = path.substr(0, 53), tail = path.substr(1, 52);
    EXPECT_EQ(chunkId("@" + fits), fits);  // fits exactly
    EXPECT_EQ(chunkId("@" + tooLong), "..." + tail);

    EXPECT_EQ(chunkId("print(1)\nprint(2)"), "[string \"print(1)...\"]");
    EXPECT_EQ(chunkId("one line"), "[string \"one line\"]");
    EXPECT_EQ(chunkId(path), "[string \"" + path.substr(0, 43) + "...\"]");
    EXPECT_EQ(chunkId(path.substr(0, 43)), "[string \"" + path.substr(0, 43) + "\"]");
    EXPECT_EQ(chunkId(""), "[string \"\"]");
}

// ---- hooks ---------------------------------------------------------------------------

// (The events themselves are compared with the general tracer in
// hookfast_test.cpp.) A hook set while the script runs: the next instruction
// only starts tracing.
TEST_F(DebugTest, LineHookSetWhileRunningStartsAtTheNextLine) {
    RegisterClosure("sethook", [](ScriptState* S) {
        VmSetHook(S, RecordingHook, kMaskLine, 0);
        return 0;
    });
    ASSERT_EQ(Run(".function main maxstack=4\n.line 1\n    GETGLOBAL 0 \"sethook\"\n    CALL 0 1 1\n    MOVE 1 0\n"
                  "    MOVE 1 0\n.line 2\n    RETURN 0 1\n.end\n"),
              0);
    EXPECT_EQ(log.events, std::vector<std::string>{"line 2"});
}

TEST_F(DebugTest, CountHookFiresEveryNInstructions) {
    const char* loop = R"(.function main maxstack=6
    LOADK 0 #0
    LOADK 1 #0
    LOADK 2 #10
    LOADK 3 #1
    JMP check
body:
    ADD 0 0 #1
check:
    FORLOOP 1 body
    RETURN 0 2
.end)";
    // 4 loads, the jump, 11 loop tests, 10 additions and the return.
    VmSetHook(L, RecordingHook, kMaskCount, 1);
    ASSERT_EQ(Run(loop), 0);
    EXPECT_EQ(vmtest::Show(L, 1), "10");
    EXPECT_EQ(log.events.size(), 27u);
    EXPECT_EQ(log.events.front(), "count");

    log.events.clear();
    VmSetHook(L, RecordingHook, kMaskCount, 5);
    ASSERT_EQ(Run(loop), 0);
    EXPECT_EQ(log.events.size(), 5u);  // 27 / 5

    // A hook may push values without asking for room; they are dropped after it.
    log.events.clear();
    VmSetHook(L, PushingHook, kMaskCount, 1);
    ASSERT_EQ(Run(loop), 0);
    EXPECT_EQ(vmtest::Show(L, 1), "10");
    ASSERT_EQ(log.events.size(), 27u);
    EXPECT_EQ(log.events.back(), std::to_string(kMinStackForHandler));

    // Removing the hook stops the events.
    log.events.clear();
    VmSetHook(L, RecordingHook, 0, 5);
    ASSERT_EQ(Run(loop), 0);
    EXPECT_TRUE(log.events.empty());
    EXPECT_EQ(L->hookmask, 0);
}

// Script functions entered by CALL or TAILCALL from script code once skipped
// their call event.
TEST_F(DebugTest, CallAndReturnHooksCountTailCalls) {
    VmSetHook(L, RecordingHook, kMaskCall | kMaskRet, 0);
    ASSERT_EQ(Run(R"(.function main maxstack=4
    CLOSURE 0 f
    CALL 0 1 1
    RETURN 0 1
  .function f maxstack=4
    GETGLOBAL 0 "emit"
    CALL 0 1 1
    CLOSURE 0 g
    TAILCALL 0 1 0
    RETURN 0 0
    .function g
      RETURN 0 1
    .end
  .end
.end)"),
              0);
    // A script function called from script code reports its call too, the
    // one reached by a tail call included.
    EXPECT_EQ(log.events, (std::vector<std::string>{"call 1", "call 2", "call 3", "ret 3", "call 2", "ret 2",
                                                    "tailret 0", "ret 1"}));
}

// Runs the global script function "g" from inside the hook.
int hookDepth = 0;
void ReentrantHook(ScriptState* L, VmDebugRecord*, int*) {
    if (hookDepth > 0) hookLog->events.push_back("reentered");
    ++hookDepth;
    hookLog->events.push_back("hook");
    if (hookLog->events.size() == 1) {
        VmPushString(L, "g");
        VmGetTableAt(L, kGlobalsIndex);
        if (VmPCall(L, 0, 0, 0) != 0) hookLog->events.push_back("g failed");
    }
    --hookDepth;
}

TEST_F(DebugTest, HooksAreOffWhileAHookRuns) {
    ASSERT_TRUE(Load(".function g\n    LOADK 0 #1\n    ADD 0 0 0\n    ADD 0 0 0\n    RETURN 0 1\n.end\n"));
    SetGlobal("g");
    VmSetHook(L, ReentrantHook, kMaskCount | kMaskCall | kMaskRet, 1);
    ASSERT_EQ(Run(".function main\n    LOADK 0 #1\n    RETURN 0 1\n.end\n"), 0);
    // Call of main, two instructions, return of main: no event from "g".
    EXPECT_EQ(log.events, (std::vector<std::string>{"hook", "hook", "hook", "hook"}));
}

}  // namespace
