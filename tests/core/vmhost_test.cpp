// The VM on the runtime core's host: the frame limit's report, the road of a
// failed command's code (the end flag, the raise-errors setting, the last
// error code), and the command, source and line an error report names.
#include <string>
#include <vector>

#include "hosted_fixture.h"
#include "vm/callgiven.h"

namespace {

int FailWrongUsage(ScriptState*) { return ERR_WRONGUSAGE; }
const ScriptCommand kFailCommands[] = {{"FailNow", FailWrongUsage}, {nullptr, nullptr}};

class VmHostTest : public coretest::HostedVmFixture {
protected:
    void SetUp() override {
        HostedVmFixture::SetUp();
        RegisterClosure("fail", FailWrongUsage);
    }
};

TEST_F(VmHostTest, DeepRecursionOverflowsTheFrameArrayAndRecovers) {
    const std::string prog = vmtest::RecursionProgram("@depth");
    auto recurse = [&](int depth) {
        VmPushNumber(L, depth);
        SetGlobal("depth");
        return Eval(prog);
    };
    EXPECT_EQ(recurse(4000), "4000");
    ResetCurrentCommandInfo();
    EXPECT_EQ(recurse(5000), "E1135");
    EXPECT_STREQ(GetCurrentCommandName(), "rec");
    // Cut back to the maximum (or further, by a collection since).
    EXPECT_LE(L->size_ci, kMaxFrames);
    EXPECT_EQ(L->ci, L->base_ci);
    EXPECT_EQ(L->nCcalls, 0);
    EXPECT_EQ(recurse(4000), "4000");
    EXPECT_LE(L->size_ci, kMaxFrames);
}

TEST_F(VmHostTest, CommandErrorsEndTheScriptUnlessRaisingIsOff) {
    std::string prog = ".function main maxstack=12\n    LOADK 0 \"junk\"\n    GETGLOBAL 0 \"fail\"\n    CALL 0 1 2\n"
                       "    GETGLOBAL 10 \"emit\"\n    MOVE 11 0\n    CALL 10 2 1\n    RETURN 0 1\n.end\n";
    EXPECT_EQ(Run(prog), ERR_WRONGUSAGE);
    EXPECT_TRUE(out.empty());
    EXPECT_NE(VmGetEndFlag(L), 0);

    VmSetEndFlag(L, 0);
    SetRuntimeTag(kTagRaiseErrors, 0);
    SetLastErrorCode(0);
    EXPECT_EQ(Run(prog), 0);
    EXPECT_EQ(out, std::vector<std::string>{"nil"});  // no results, the script goes on
    EXPECT_EQ(VmGetEndFlag(L), 0);
    // The code stays the last error until the next command clears it.
    EXPECT_EQ(Eval(".function main\n    LOADK 0 \"junk\"\n    GETGLOBAL 0 \"fail\"\n    CALL 0 1 2\n"
                   "    RETURN 0 2\n.end\n"),
              "nil");
    EXPECT_EQ(GetLastErrorCode(), ERR_WRONGUSAGE);
}

TEST_F(VmHostTest, ErrorsNameTheFailingFunction) {
    RegisterCommandTable(kFailCommands, nullptr);
    VmPushValue(L, kGlobalsIndex);
    ASSERT_EQ(VmRegisterCommands(L, nullptr, kFailCommands, 0), 1);
    VmSetTop(L, 0);
    PushGlobal("tbl");
    VmPushString(L, "other");
    PushGlobal("failnow");
    VmRawSet(L, -3);
    VmPushString(L, "boom");
    VmPushCClosure(L, FailWrongUsage, 0);
    VmRawSet(L, -3);
    VmSetTop(L, 0);

    auto fail = [&](const std::string& body) {
        ResetCurrentCommandInfo();
        VmSetEndFlag(L, 0);  // each failure ends the script
        int rc = Run(".function main maxstack=4\n.source \"game.qbs\"\n" + body + "\n    RETURN 0 1\n.end\n");
        return std::to_string(rc) + " " + GetCurrentCommandName() + " " + std::to_string(GetCurrentLine());
    };
    // The command table's spelling for a command found in one.
    EXPECT_EQ(fail(".line 5\n    GETGLOBAL 0 \"failnow\"\n    CALL 0 1 1"), "1055 FailNow 5");
    EXPECT_STREQ(GetCurrentSourceName(), "game.qbs");
    // Called through a table field: that field's name.
    EXPECT_EQ(fail(".line 6\n    GETGLOBAL 0 \"tbl\"\n    GETTABLE 0 0 \"other\"\n    CALL 0 1 1"), "1055 other 6");
    EXPECT_EQ(fail(".line 7\n    GETGLOBAL 1 \"tbl\"\n    SELF 0 1 \"boom\"\n    CALL 0 2 1"), "1055 boom 7");
    // Held in a local variable: the local's name.
    EXPECT_EQ(fail(".local cmd 1 9\n.line 12\n    GETGLOBAL 0 \"failnow\"\n    CALL 0 1 1"), "1055 cmd 12");
    // A failing script function named by its field; the main chunk has no name.
    std::string method = ".line 8\n    GETGLOBAL 0 \"tbl\"\n    CLOSURE 1 div\n    SETTABLE 0 \"method\" 1\n"
                         "    GETTABLE 1 0 \"method\"\n    CALL 1 1 1\n"
                         "  .function div line=20\n  .line 21\n    LOADK 0 #0\n    DIV 0 0 0\n    RETURN 0 1\n  .end";
    EXPECT_EQ(fail(method), "1089 method 21");
    EXPECT_EQ(fail(".line 9\n    LOADK 0 #0\n    DIV 0 0 0"), "1089 ---- 9");
    // A script function nothing names.
    std::string anon = ".line 10\n    CLOSURE 0 div\n    CALL 0 1 1\n"
                       "  .function div line=30\n  .line 31\n    LOADK 0 #0\n    DIV 0 0 0\n    RETURN 0 1\n  .end";
    EXPECT_EQ(fail(anon), "1089 <<unnamed>> 31");
    // A command failing inside a named script function is named itself.
    std::string inner = ".line 11\n    CLOSURE 0 f\n    SETGLOBAL 0 \"f\"\n    GETGLOBAL 0 \"f\"\n    CALL 0 1 1\n"
                        "  .function f line=40\n  .line 41\n    GETGLOBAL 0 \"failnow\"\n    CALL 0 1 1\n"
                        "    RETURN 0 1\n  .end";
    EXPECT_EQ(fail(inner), "1055 FailNow 41");
}

// A command that runs a script callback in protected mode and fails with
// its error, as the event commands do.
int RunCallback(ScriptState* L) {
    VmPushString(L, "callback");
    VmGetTableAt(L, kGlobalsIndex);
    return VmPCall(L, 0, 0, 0);
}

TEST_F(VmHostTest, ACallbacksErrorKeepsItsPlaceThroughTheCommandThatRanIt) {
    RegisterClosure("runcallback", RunCallback);
    const std::string callback = "  .function callback line=40\n  .line 41\n    GETGLOBAL 0 \"fail\"\n    CALL 0 1 1\n"
                                 "    RETURN 0 1\n  .end\n";
    const std::string prog = ".function main maxstack=4\n.line 5\n    CLOSURE 0 callback\n"
                             "    SETGLOBAL 0 \"callback\"\n    GETGLOBAL 0 \"runcallback\"\n    CALL 0 1 1\n"
                             "    RETURN 0 1\n" + callback + ".end\n";
    EXPECT_EQ(Run(prog), ERR_WRONGUSAGE);
    EXPECT_STREQ(GetCurrentCommandName(), "fail");
    EXPECT_EQ(GetCurrentLine(), 41);
    // A new error in a script frame is reported where it happens.
    VmSetEndFlag(L, 0);
    EXPECT_EQ(Run(".function main\n.line 9\n    LOADK 0 #0\n    DIV 0 0 0\n    RETURN 0 1\n.end\n"), ERR_ZERODIVISION);
    EXPECT_STREQ(GetCurrentCommandName(), "----");
    EXPECT_EQ(GetCurrentLine(), 9);
}

// A command that calls the function the script gave it, as ForEach does.
int CallArgument(ScriptState* L) {
    VmPushValue(L, 1);
    VmCallGiven(L, 0, 0);
    return 0;
}
int RaiseWrongUsage(ScriptState* L) {
    VmRaiseError(L, ERR_WRONGUSAGE);
    return 0;
}

// A command given to a command fails as if the script had called it, at the
// line that called the outer command, whether it returns its code or raises.
TEST_F(VmHostTest, ACommandGivenToACommandFailsAtTheLineThatCalledTheOuterOne) {
    RegisterClosure("callargument", CallArgument);
    RegisterClosure("raising", RaiseWrongUsage);
    for (const char* given : {"fail", "raising"}) {
        SCOPED_TRACE(given);
        ResetCurrentCommandInfo();
        VmSetEndFlag(L, 0);
        EXPECT_EQ(Run(std::string(".function main maxstack=4\n.source \"game.qbs\"\n.line 6\n"
                                  "    GETGLOBAL 0 \"callargument\"\n    GETGLOBAL 1 \"") +
                      given + "\"\n    CALL 0 2 1\n    RETURN 0 1\n.end\n"),
                  ERR_WRONGUSAGE);
        EXPECT_STREQ(GetCurrentSourceName(), "game.qbs");
        EXPECT_EQ(GetCurrentLine(), 6);
    }
}

}  // namespace
