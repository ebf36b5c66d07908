// The script context: mapping compiled lines to include files, the current
// command's name, the argument-count check and the applet version check.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/applet.h"
#include "core/argapi.h"
#include "core/context.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/settings.h"
#include "core/vmhost.h"
#include "lib/assembler.h"
#include "player/startup.h"
#include "vm/vm.h"

namespace {

class ContextTest : public ::testing::Test {
protected:
    void SetUp() override {
        InstallVmHost();
        L_ = VmOpen();
        ASSERT_NE(L_, nullptr);
        VmRegistrySetLightUserdata(L_, "applet", &applet_);
        VmRegistrySetLightUserdata(L_, "clargs", &cl_);
        SetMainState(L_);
        ResetCurrentCommandInfo();
        SetCurrentSourceName("?");
    }
    void TearDown() override {
        SetMainState(nullptr);
        VmClose(L_);
        ResetCurrentCommandInfo();
        SetCurrentSourceName("?");
    }

    void Include(uint32_t first, uint32_t last, uint32_t offset, const char* file, const char* source = "") {
        applet_.includeTable.push_back({first, last, offset, file, source});
    }

    // Calls fn with n numeric arguments in protected mode; the error code.
    int Call(CommandHandler fn, int n) {
        EXPECT_EQ(VmCheckStack(L_, n + 1), 1);
        VmPushCClosure(L_, fn, 0);
        for (int i = 0; i < n; ++i) VmPushNumber(L_, i);
        int code = VmPCall(L_, n, 0, 0);
        VmSetTop(L_, 0);
        return code;
    }

    ScriptState* L_ = nullptr;
    qbApplet applet_;
    qbCommandLine cl_;
};

TEST_F(ContextTest, LinesMapThroughTheIncludeTable) {
    Include(1, 100, 0, "main.qbs");
    Include(101, 150, 0, "inc.qbs");
    Include(151, 300, 100, "main.qbs");

    SetCurrentLine(1);
    EXPECT_STREQ(GetCurrentScriptName(L_), "main.qbs");
    EXPECT_EQ(GetCurrentScriptLine(L_), 1);
    SetCurrentLine(120);
    EXPECT_STREQ(GetCurrentScriptName(L_), "inc.qbs");
    EXPECT_EQ(GetCurrentScriptLine(L_), 20);
    SetCurrentLine(150);
    EXPECT_EQ(GetCurrentScriptLine(L_), 50);
    // Back in the main file after the include: its own numbering goes on.
    SetCurrentLine(160);
    EXPECT_STREQ(GetCurrentScriptName(L_), "main.qbs");
    EXPECT_EQ(GetCurrentScriptLine(L_), 110);

    SetCurrentLine(301);
    EXPECT_STREQ(GetCurrentScriptName(L_), "---");
    EXPECT_EQ(GetCurrentScriptLine(L_), -1);
    SetCurrentLine(-1);
    EXPECT_STREQ(GetCurrentScriptName(L_), "---");
    EXPECT_EQ(GetCurrentScriptLine(L_), -1);

    // Without an applet record no line has a place.
    VmRegistrySetLightUserdata(L_, "applet", nullptr);
    SetCurrentLine(3);
    EXPECT_STREQ(GetCurrentScriptName(L_), "---");
}

TEST_F(ContextTest, EntriesBelongToTheirSourceChunk) {
    Include(1, 50, 0, "plain.qbs");
    Include(1, 50, 10, "lib.qbs", "library.qbc");
    SetCurrentLine(5);
    // A function without a source matches the entries that name none.
    EXPECT_STREQ(GetCurrentScriptName(L_), "plain.qbs");
    SetCurrentSourceName("library.qbc");
    EXPECT_STREQ(GetCurrentScriptName(L_), "lib.qbs");
    EXPECT_EQ(GetCurrentScriptLine(L_), 15);
    SetCurrentSourceName("other.qbc");
    EXPECT_STREQ(GetCurrentScriptName(L_), "---");
}

TEST_F(ContextTest, CommandNamesAreCutAndReset) {
    std::string longName(200, 'x');
    SetCurrentCommandName(longName.c_str());
    EXPECT_EQ(std::string(GetCurrentCommandName()), longName.substr(0, kCommandNameSize - 1));
    SetCurrentLine(12);
    ResetCurrentCommandInfo();
    EXPECT_STREQ(GetCurrentCommandName(), "----");
    EXPECT_EQ(GetCurrentLine(), -1);
}

template <int Min, int Max, int Version = 0>
int Counted(ScriptState* L) {
    CheckArgCount(L, Min, Max, Version, 0);
    return 0;
}

TEST_F(ContextTest, ArgumentCounts) {
    const struct {
        CommandHandler command;
        int args, code;
    } cases[] = {{Counted<0, 0>, 0, 0},        {Counted<0, 0>, 1, ERR_TOOMANYARGS}, {Counted<2, -1>, 1, ERR_MISSINGPARAMTR},
                 {Counted<2, -1>, 30, 0},      {Counted<1, 3>, 0, ERR_MISSINGPARAMTR}, {Counted<1, 3>, 3, 0},
                 {Counted<1, 3>, 4, ERR_TOOMANYARGS}};
    for (const auto& c : cases) EXPECT_EQ(Call(c.command, c.args), c.code) << c.args;
}

TEST_F(ContextTest, AppletVersionChecks) {
    // No applet loaded: every version passes.
    EXPECT_EQ(RequireAppletVersion(6, 1), 1);
    EXPECT_EQ(Call(Counted<0, -1, 6>, 0), 0);
    applet_.appletFlag = 1;
    applet_.versionMajor = 5;
    applet_.versionMinor = 9;
    EXPECT_EQ(Call(Counted<0, -1, 6>, 0), ERR_OLDAPPLET);
    EXPECT_STREQ(GetErrorDetail(), "6.0");
    EXPECT_EQ(RequireAppletVersion(5, 9), 1);
    EXPECT_EQ(RequireAppletVersion(5, 10), 0);
    applet_.versionMajor = 6;
    applet_.versionMinor = 0;
    EXPECT_EQ(Call(Counted<0, -1, 6>, 0), 0);
    EXPECT_EQ(RequireAppletVersion(6, 1), 0);
    EXPECT_STREQ(GetErrorDetail(), "6.1");
}

int FailsHere(ScriptState*) { return ERR_WRONGUSAGE; }
const ScriptCommand kFailingCommands[] = {{"FailHere", FailsHere}, {nullptr, nullptr}};

TEST_F(ContextTest, ErrorInAnIncludeFileNamesThatFileAndItsLine) {
    Include(1, 100, 0, "main.qbs");
    Include(101, 150, 0, "inc.qbs");
    Include(151, 300, 100, "main.qbs");
    ASSERT_EQ(RegisterCommandTable(kFailingCommands, "contexttest"), 0);
    VmPushString(L_, "failhere");
    VmPushCClosure(L_, FailsHere, 0);
    VmSetTableAt(L_, kGlobalsIndex);
    std::vector<uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(AssembleText(".function main maxstack=4\n.source \"\"\n.line 120\n    GETGLOBAL 0 \"failhere\"\n"
                             "    CALL 0 1 1\n    RETURN 0 1\n.end\n",
                             bytes, error))
        << error;
    ASSERT_EQ(VmLoadBuffer(L_, reinterpret_cast<const char*>(bytes.data()), bytes.size(), "applet"), 0);
    const int code = VmPCall(L_, 0, 0, 0);
    ASSERT_EQ(code, ERR_WRONGUSAGE);

    SetRuntimeTag(kTagFileAndLine, 1);
    char text[kErrorTextSize];
    const char* file = nullptr;
    int line = 0;
    GetErrorInfo(L_, code, text, &file, &line);
    EXPECT_STREQ(file, "inc.qbs");
    EXPECT_EQ(line, 20);
    char shown[kErrorTextSize];
    FormatErrorRequesterText(L_, text, false, shown, sizeof shown);
    EXPECT_EQ(std::string(shown), std::string(text) + "\nFile: inc.qbs (current line: 20 - In function: FailHere)");
    SetRuntimeTag(kTagFileAndLine, 0);
}

TEST_F(ContextTest, CallScriptFunctionPushesTypedArguments) {
    static int seen;
    static double values[3];
    CommandHandler probe = [](ScriptState* L) {
        seen = VmGetTop(L);
        for (int i = 0; i < 3 && i < seen; ++i) values[i] = VmToNumber(L, i + 1);
        return 0;
    };
    VmPushString(L_, "probe");
    VmPushCClosure(L_, probe, 0);
    VmSetTableAt(L_, kGlobalsIndex);
    ObjectID id;
    id.number = 7;
    EXPECT_EQ(CallScriptFunction(L_, "Probe", 0, 3, kArgInt, -5, kArgUInt, 4000000000u, kArgObjectID, &id), 0);
    EXPECT_EQ(seen, 3);
    EXPECT_EQ(values[0], -5);
    EXPECT_EQ(values[1], 4000000000.0);
    EXPECT_EQ(values[2], 7);
}

}  // namespace
