// The system library's error policy and debug switches as scripts use them:
// RaiseOnError, ExitOnError, Error, GetLastError and DebugOutput.
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "core/applet.h"
#include "core/preproc.h"
#include "libs/system.h"
#include "system_fixture.h"
#include "vm/callextras.h"

namespace {

class ErrorPolicyTest : public libstest::SystemVmFixture {
protected:
    void SetUp() override {
        SystemVmFixture::SetUp();
        SetErrorHandlerRef(-1);
        SetDebugFunctionsDisabled(false);
        VmPushValue(L, kGlobalsIndex);
        ASSERT_EQ(InitSystemLibrary(L), 0);
        VmSetTop(L, 0);
    }
    void TearDown() override {
        FreeSystemObjects(L);
        SetCallTracing(false);
        SetDebugFunctionsDisabled(false);
        SystemVmFixture::TearDown();
    }

    // Calls one global command with the given argument loads (assembler
    // operands: "#1", "\"text\"", "nil" or "@global") and answers its result
    // or "E<code>".
    std::string Call(const std::string& command, const std::vector<std::string>& args = {}) {
        // A raised error ends its script and leaves its position for the
        // report; each call here stands for a fresh script.
        VmSetEndFlag(L, 0);
        ResetCurrentCommandInfo();
        std::string text = ".function main maxstack=8\n    GETGLOBAL 0 \"" + command + "\"\n";
        int r = 1;
        for (const std::string& a : args) {
            if (a == "nil") text += "    LOADNIL " + std::to_string(r) + " " + std::to_string(r) + "\n";
            else text += LoadOperand(r, a);
            r++;
        }
        text += "    CALL 0 " + std::to_string(args.size() + 1) + " 2\n    RETURN 0 2\n.end\n";
        return Eval(text);
    }
    // Defines the global script function "handler" that emits its arguments.
    void DefineHandler() {
        ASSERT_TRUE(Load(R"(.function handler params=4 maxstack=10
    GETGLOBAL 4 "emit"
    MOVE 5 0
    MOVE 6 1
    MOVE 7 2
    MOVE 8 3
    CALL 4 5 1
    RETURN 0 1
.end)"));
        SetGlobal("handler");
    }
    // Runs start-up's creation of declared objects on one declaration made
    // on the given line (its command a stand-in that succeeds).
    void DeclareAnObject(int line) {
        RegisterClosure("createkeydown", [](ScriptState*) { return 0; });
        qbApplet applet;
        qbPreprocessorEntry entry;
        entry.type = kDeclKeyDown;
        entry.id = 1;
        entry.sourceLine = line;
        entry.name = "a";
        ASSERT_EQ(AddPreprocessorEntry(&applet, std::move(entry)), 0);
        qbCommandLine cl;
        ASSERT_EQ(CreateDeclaredObjects(L, &cl, &applet, 0), 0);
    }
};

TEST_F(ErrorPolicyTest, HandlerAndExitPolicyGuardEachOther) {
    DefineHandler();
    EXPECT_EQ(Call("exitonerror", {"#0"}), "nil");
    EXPECT_EQ(GetRuntimeTag(kTagRaiseErrors), 0);
    // A handler needs errors to be raised (this failure is not raised).
    EXPECT_EQ(Call("raiseonerror", {"@handler"}), "nil");
    EXPECT_EQ(GetLastErrorCode(), ERR_WRONGUSAGE);
    EXPECT_EQ(GetErrorHandlerRef(), -1);
    EXPECT_EQ(Call("exitonerror", {"#1"}), "nil");
    EXPECT_EQ(Call("raiseonerror", {"@handler"}), "nil");
    EXPECT_NE(GetErrorHandlerRef(), -1);
    // ... and while one is installed they cannot be switched off: the
    // handler hears of that.
    out.clear();
    EXPECT_EQ(Call("exitonerror", {"#0"}), "nil");
    EXPECT_EQ(GetRuntimeTag(kTagRaiseErrors), 1);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].rfind("1055 ", 0), 0u);
    EXPECT_NE(out[0].find(" \"ExitOnError\" "), std::string::npos) << out[0];
    EXPECT_EQ(Call("raiseonerror", {"nil"}), "nil");
    EXPECT_EQ(GetErrorHandlerRef(), -1);
    EXPECT_EQ(Call("exitonerror", {"#0"}), "nil");
}

TEST_F(ErrorPolicyTest, RaiseOnErrorTakesAFunctionOrNil) {
    EXPECT_EQ(Call("raiseonerror", {"#5"}), Failure(ERR_FUNCEXPECTED));
    EXPECT_EQ(Call("raiseonerror"), Failure(ERR_MISSINGPARAMTR));
    EXPECT_EQ(GetErrorHandlerRef(), -1);

    // Replacing a handler releases the old one's reference for reuse.
    DefineHandler();
    ASSERT_EQ(Call("raiseonerror", {"@handler"}), "nil");
    int first = GetErrorHandlerRef();
    ASSERT_EQ(Call("raiseonerror", {"@emit"}), "nil");
    EXPECT_EQ(GetErrorHandlerRef(), first);
    FreeSystemObjects(L);
    EXPECT_EQ(GetErrorHandlerRef(), -1);
}

TEST_F(ErrorPolicyTest, ErrorFailsWithItsMessageAsTheText) {
    EXPECT_EQ(Call("error", {"\"Disk 2 is missing\""}), Failure(ERR_ERRORCALLED));
    char text[kErrorTextSize];
    GetErrorText(ERR_ERRORCALLED, text);
    EXPECT_STREQ(text, "Disk 2 is missing");

    // Through an installed handler the script sees that text, and the line
    // of the failing command, also after start-up named a declaration's line.
    DefineHandler();
    ASSERT_EQ(Call("raiseonerror", {"@handler"}), "nil");
    DeclareAnObject(4);
    out.clear();
    EXPECT_EQ(Eval(R"(.function main maxstack=4
.line 12
    GETGLOBAL 0 "error"
    LOADK 1 "bad level"
    CALL 0 2 1
    LOADK 0 "went on"
    RETURN 0 2
.end)"),
              "\"went on\"");
    EXPECT_EQ(out, std::vector<std::string>{"1239 \"bad level\" \"Error\" 12"});
}

TEST_F(ErrorPolicyTest, GetLastErrorReportsTheCommandBeforeIt) {
    ASSERT_EQ(Call("exitonerror", {"#0"}), "nil");
    EXPECT_EQ(Eval(R"(.function main maxstack=6
    GETGLOBAL 0 "error"
    LOADK 1 "x"
    CALL 0 2 1
    GETGLOBAL 0 "getlasterror"
    CALL 0 1 2
    GETGLOBAL 1 "getlasterror"
    CALL 1 1 2
    GETGLOBAL 2 "exitonerror"
    LOADK 3 #0
    CALL 2 2 1
    GETGLOBAL 2 "getlasterror"
    CALL 2 1 2
    RETURN 0 4
.end)"),
              "1239 1239 0");
}

TEST_F(ErrorPolicyTest, DebugOutputSwitchesTheTracer) {
    SetConsoleForceFlush(true);
    testing::internal::CaptureStdout();
    EXPECT_EQ(Call("debugoutput", {"#1"}), "nil");
    EXPECT_EQ(GetDebugOutputDevice(), 1);
    EXPECT_NE(NativeCallExtras & kCallExtraTrace, 0u);
    EXPECT_EQ(Call("getlasterror"), "0");
    // Debug functions switched off at start-up keep the tracer quiet.
    SetDebugFunctionsDisabled(true);
    EXPECT_EQ(NativeCallExtras & kCallExtraTrace, 0u);
    EXPECT_EQ(Call("getlasterror"), "0");
    SetDebugFunctionsDisabled(false);
    EXPECT_EQ(Call("debugoutput", {"#0"}), "nil");
    EXPECT_EQ(Call("getlasterror"), "0");
    std::string text = testing::internal::GetCapturedStdout();
    SetConsoleForceFlush(false);
    EXPECT_EQ(NativeCallExtras & kCallExtraTrace, 0u);
    // The call that switched it off is traced; the call that switched it on is not.
    EXPECT_EQ(text,
              "Now calling getlasterror()\n"
              "Now calling debugoutput() with arguments #1=(NUMBER)0 \n");
}

// The tracer is quiet while debug output is off, while debug functions are
// switched off at start-up, and while the script ends.
TEST_F(ErrorPolicyTest, TracerIsSilentWhenOffDisabledOrEnding) {
    RegisterClosure("nothing", [](ScriptState*) { return 0; });
    SetConsoleForceFlush(true);
    auto traceCall = [&] {
        PushGlobal("nothing");
        testing::internal::CaptureStdout();
        EXPECT_EQ(VmPCall(L, 0, 0, 0), 0);
        return testing::internal::GetCapturedStdout();
    };
    EXPECT_EQ(traceCall(), "");
    SetDebugOutputDevice(7);
    EXPECT_EQ(traceCall(), "Now calling nothing()\n");
    SetDebugFunctionsDisabled(true);
    EXPECT_EQ(traceCall(), "");
    SetDebugFunctionsDisabled(false);
    VmSetEndFlag(L, 1);
    EXPECT_EQ(traceCall(), "");
    VmSetEndFlag(L, 0);
    SetDebugOutputDevice(0);
    EXPECT_EQ(traceCall(), "");
    SetConsoleForceFlush(false);
}

// A command whose own memory ran out fails as a command with ERR_MEM: with
// ExitOnError off the script goes on past it, with it on the script ends
// with that code; it never escapes as an exception.
TEST_F(ErrorPolicyTest, ACommandOutOfMemoryIsItsErrMem) {
    RegisterClosure("exhausted", [](ScriptState*) -> int { throw std::bad_alloc(); });
    RegisterClosure("oversized", [](ScriptState*) {
        std::vector<uint64_t> v;
        v.reserve(v.max_size() + 1);  // throws std::length_error
        return 0;
    });
    const std::string script = R"(.function main maxstack=6
    GETGLOBAL 0 "exhausted"
    CALL 0 1 1
    GETGLOBAL 0 "getlasterror"
    CALL 0 1 2
    GETGLOBAL 1 "oversized"
    CALL 1 1 1
    GETGLOBAL 1 "getlasterror"
    CALL 1 1 2
    LOADK 2 "went on"
    RETURN 0 4
.end)";
    ASSERT_EQ(Call("exitonerror", {"#0"}), "nil");
    EXPECT_EQ(Eval(script), "1000 1000 \"went on\"");
    ASSERT_EQ(Call("exitonerror", {"#1"}), "nil");
    EXPECT_EQ(Eval(script), Failure(ERR_MEM));
}

}  // namespace
