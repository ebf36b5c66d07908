// The native command layer: the road of a command's error code to the
// script's error handler, and the plugins' command hooks with the boundary
// where a raise inside them stops.
#include <string>
#include <vector>

#include "system_fixture.h"
#include "vm/callextras.h"
#include "vm/commandhooks.h"

namespace {

std::vector<std::string>* hookLog = nullptr;

int FailCommand(ScriptState*) { return ERR_WRONGUSAGE; }

int NestingCommand(ScriptState* L) {
    VmPushNumber(L, GetRuntimeTag(kTagCallbackNesting));
    return 1;
}

// Reads a number argument and only then records that it went on.
int CheckThenRecord(ScriptState* L) {
    double d = VmCheckNumber(L, 1);
    hookLog->push_back("after check " + std::to_string(static_cast<int>(d)));
    return 0;
}

int HookRunsHandler(qbCommandHook*, ScriptState* L, CommandHandler handler, void* userData) {
    hookLog->push_back(std::string("run ") + static_cast<const char*>(userData));
    int n = handler(L);
    hookLog->push_back("handler returned");
    return n;
}

int HookAnswers42(qbCommandHook*, ScriptState* L, CommandHandler, void*) {
    VmPushNumber(L, 42);
    return 1;
}

void HookError(qbCommandHook* hook, ScriptState*, int code, void*) {
    hookLog->push_back("error " + std::to_string(code) + (hook->disabled ? " disabled" : ""));
}

const ScriptCommand kLayerCommands[] = {{"Fail", FailCommand}, {nullptr, nullptr}};

class LayerTest : public libstest::SystemVmFixture {
protected:
    void SetUp() override {
        SystemVmFixture::SetUp();
        hookLog = &log;
        RemoveAllCommandHooks();
        SetErrorHandlerRef(-1);
        RegisterCommandTable(kLayerCommands, nullptr);
        RegisterClosure("fail", FailCommand);
        RegisterClosure("nesting", NestingCommand);
        RegisterClosure("check", CheckThenRecord);
        RegisterClosure("getlasterror", cmdGetLastError);
    }
    void TearDown() override {
        RemoveAllCommandHooks();
        SetErrorHandlerRef(-1);
        hookLog = nullptr;
        SystemVmFixture::TearDown();
    }

    // Installs the script function "handler" of the last loaded chunk's
    // globals as the script's error handler.
    void InstallHandler(const std::string& body) {
        ASSERT_TRUE(Load(".function handler params=4 maxstack=10\n" + body + "\n    RETURN 0 1\n.end\n"));
        SetErrorHandlerRef(VmMakeRef(L, kRegistryIndex));
    }

    // Hooks the "check" command with run (and onError, userData).
    qbCommandHook* HookCheck(CommandHookRunFn run, CommandHookErrorFn onError = nullptr,
                             const char* userData = nullptr) {
        qbCommandHook desc;
        desc.handlers = {CheckThenRecord};
        desc.run = run;
        desc.onError = onError;
        desc.userData = const_cast<char*>(userData);
        return AddCommandHook(desc);
    }

    static std::string ErrorText(int code) {
        char text[kErrorTextSize];
        GetErrorText(code, text);
        return text;
    }

    std::vector<std::string> log;
};

// emit(code, text, command, line, nesting()) from inside the handler.
const char* const kEmittingHandler = R"(    GETGLOBAL 4 "emit"
    MOVE 5 0
    MOVE 6 1
    MOVE 7 2
    MOVE 8 3
    GETGLOBAL 9 "nesting"
    CALL 9 1 2
    CALL 4 6 1)";

// ---- the script's error handler -------------------------------------------------

TEST_F(LayerTest, AnInstalledHandlerTakesTheErrorAndTheScriptGoesOn) {
    InstallHandler(kEmittingHandler);
    ASSERT_EQ(Run(R"(.function main maxstack=6
.line 5
    GETGLOBAL 0 "fail"
    CALL 0 1 2
.line 6
    GETGLOBAL 1 "emit"
    LOADK 2 "after"
    MOVE 3 0
    CALL 1 3 1
    GETGLOBAL 1 "nesting"
    CALL 1 1 2
    RETURN 1 2
.end)"),
              0);
    // The handler hears the command by its table spelling and the script's
    // line; the command itself yields no result.
    EXPECT_EQ(out, (std::vector<std::string>{"1055 \"" + ErrorText(ERR_WRONGUSAGE) + "\" \"Fail\" 5 1",
                                             "\"after\" nil"}));
    EXPECT_EQ(vmtest::Show(L, 1), "0");  // the nesting count is lowered again
    EXPECT_EQ(GetLastErrorCode(), 0);     // handled: it never became the last error
    EXPECT_STREQ(GetCurrentCommandName(), "----");
}

TEST_F(LayerTest, AFailingHandlerIsNotEnteredAgainAndEndsTheScript) {
    InstallHandler(std::string(kEmittingHandler) + "\n    GETGLOBAL 4 \"fail\"\n    CALL 4 1 1");
    int rc = Run(R"(.function main maxstack=4
.line 3
    GETGLOBAL 0 "fail"
    CALL 0 1 1
    GETGLOBAL 0 "emit"
    LOADK 1 "after"
    CALL 0 2 1
    RETURN 0 1
.end)");
    EXPECT_EQ(rc, ERR_WRONGUSAGE);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].rfind("1055 ", 0), 0u) << out[0];
    EXPECT_EQ(GetRuntimeTag(kTagCallbackNesting), 0);
    EXPECT_EQ(VmGetEndFlag(L), 1);

    // The state takes a handler call again afterwards.
    VmSetEndFlag(L, 0);
    out.clear();
    EXPECT_EQ(Run(".function main maxstack=2\n    GETGLOBAL 0 \"fail\"\n    CALL 0 1 1\n    RETURN 0 1\n.end\n"),
              ERR_WRONGUSAGE);
    EXPECT_EQ(out.size(), 1u);
}

TEST_F(LayerTest, NoHandlerCallWhileACallbackRuns) {
    InstallHandler(kEmittingHandler);
    SetRuntimeTag(kTagCallbackNesting, 1);
    EXPECT_EQ(Run(".function main maxstack=2\n    GETGLOBAL 0 \"fail\"\n    CALL 0 1 1\n    RETURN 0 1\n.end\n"),
              ERR_WRONGUSAGE);
    SetRuntimeTag(kTagCallbackNesting, 0);
    EXPECT_TRUE(out.empty());
    // Inside a callback the error does not end the whole script.
    EXPECT_EQ(VmGetEndFlag(L), 0);
    EXPECT_EQ(GetLastErrorCode(), ERR_WRONGUSAGE);
}

TEST_F(LayerTest, ResultsOutsideTheCountAreErrorCodes) {
    RegisterClosure("minus3", [](ScriptState*) { return -3; });
    RegisterClosure("thousand", [](ScriptState*) { return 1000; });
    SetRuntimeTag(kTagRaiseErrors, 0);
    EXPECT_EQ(Eval(R"(.function main maxstack=4
    GETGLOBAL 0 "minus3"
    CALL 0 1 1
    GETGLOBAL 0 "getlasterror"
    CALL 0 1 2
    GETGLOBAL 1 "thousand"
    CALL 1 1 1
    GETGLOBAL 1 "getlasterror"
    CALL 1 1 2
    RETURN 0 3
.end)"),
              "-3 1000");
}

// ---- command hooks ---------------------------------------------------------------

const char* const kCheckWithString = R"(.function main maxstack=4
    GETGLOBAL 0 "check"
    LOADK 1 "x"
    CALL 0 2 1
    GETGLOBAL 0 "getlasterror"
    CALL 0 1 2
    RETURN 0 2
.end)";

TEST_F(LayerTest, AHookErrorEndsTheCommandWithItsCode) {
    ASSERT_NE(HookCheck(HookRunsHandler, HookError, "check"), nullptr);
    SetRuntimeTag(kTagRaiseErrors, 0);
    // The hook learns the code; neither the rest of the handler nor the rest
    // of the hook's run function goes on after the failed check.
    EXPECT_EQ(Eval(kCheckWithString), "1138");
    EXPECT_EQ(log, (std::vector<std::string>{"run check", "error 1138"}));
    EXPECT_EQ(PassErrorToActiveHook(L, 1), 0);  // no hook is running any more

    // With errors raised, the command's code ends the script.
    log.clear();
    SetRuntimeTag(kTagRaiseErrors, 1);
    EXPECT_EQ(Run(kCheckWithString), ERR_NUMEXPECTED);
    EXPECT_EQ(log, (std::vector<std::string>{"run check", "error 1138"}));

    // A good argument passes through the hook to the handler.
    log.clear();
    VmSetEndFlag(L, 0);
    EXPECT_EQ(Eval(".function main maxstack=4\n    GETGLOBAL 0 \"check\"\n    LOADK 1 #7\n    CALL 0 2 1\n"
                   "    RETURN 0 1\n.end\n"),
              "");
    EXPECT_EQ(log, (std::vector<std::string>{"run check", "after check 7", "handler returned"}));
}

TEST_F(LayerTest, FailingHookedCommandsLeaveTheStackAsTheyFoundIt) {
    ASSERT_NE(HookCheck(HookRunsHandler, HookError, "loop"), nullptr);
    SetRuntimeTag(kTagRaiseErrors, 0);
    EXPECT_EQ(Eval(R"(.function main maxstack=8
    LOADK 0 #0
    LOADK 1 #0
    LOADK 2 #200
    LOADK 3 #1
    JMP test
body:
    GETGLOBAL 4 "check"
    LOADK 5 "x"
    CALL 4 2 1
    ADD 0 0 #1
test:
    FORLOOP 1 body
    GETGLOBAL 4 "getlasterror"
    CALL 4 1 2
    RETURN 0 6
.end)"),
              "200 200 200 1 1138");
    EXPECT_EQ(log.size(), 400u);
    EXPECT_EQ(L->ci, L->base_ci);
}

TEST_F(LayerTest, WithoutAnErrorCallbackTheErrorUnwindsPastTheHook) {
    ASSERT_NE(HookCheck(HookRunsHandler, nullptr, "bare"), nullptr);
    SetRuntimeTag(kTagRaiseErrors, 0);
    EXPECT_EQ(Run(kCheckWithString), ERR_NUMEXPECTED);
    EXPECT_EQ(log, std::vector<std::string>{"run bare"});
    EXPECT_EQ(PassErrorToActiveHook(L, 1), 0);
}

TEST_F(LayerTest, HooksStandInOnlyForTheirHandlersWhileEnabled) {
    EXPECT_EQ(NativeCallExtras & kCallExtraHooks, 0u);
    qbCommandHook* hook = HookCheck(HookAnswers42);
    ASSERT_NE(hook, nullptr);
    EXPECT_NE(NativeCallExtras & kCallExtraHooks, 0u);
    const char* program = R"(.function main maxstack=4
    GETGLOBAL 0 "check"
    LOADK 1 #5
    CALL 0 2 2
    GETGLOBAL 1 "nesting"
    CALL 1 1 2
    RETURN 0 3
.end)";
    // The hook's result stands for the handler's; other commands are untouched.
    EXPECT_EQ(Eval(program), "42 0");
    EXPECT_TRUE(log.empty());

    SetCommandHookDisabled(hook, true);
    EXPECT_EQ(Eval(program), "nil 0");
    EXPECT_EQ(log, std::vector<std::string>{"after check 5"});

    SetCommandHookDisabled(hook, false);
    RemoveCommandHook(hook);
    EXPECT_EQ(NativeCallExtras & kCallExtraHooks, 0u);
    log.clear();
    EXPECT_EQ(Eval(program), "nil 0");
    EXPECT_EQ(log, std::vector<std::string>{"after check 5"});

    EXPECT_EQ(HookCheck(nullptr), nullptr);  // a hook needs a run function
}

// Removes its own hook while running: the record must live until it returns.
int HookRemovesItself(qbCommandHook* hook, ScriptState* L, CommandHandler handler, void*) {
    RemoveCommandHook(hook);
    hookLog->push_back(hook->run == HookRemovesItself ? "record intact" : "record gone");
    return handler(L);
}

TEST_F(LayerTest, AHookMayRemoveItselfWhileRunning) {
    ASSERT_NE(HookCheck(HookRemovesItself), nullptr);
    const char* program = ".function main maxstack=4\n    GETGLOBAL 0 \"check\"\n    LOADK 1 #1\n    CALL 0 2 1\n"
                          "    GETGLOBAL 0 \"check\"\n    LOADK 1 #2\n    CALL 0 2 1\n    RETURN 0 1\n.end\n";
    EXPECT_EQ(Eval(program), "");
    EXPECT_EQ(log, (std::vector<std::string>{"record intact", "after check 1", "after check 2"}));
    EXPECT_EQ(NativeCallExtras & kCallExtraHooks, 0u);
}

}  // namespace
