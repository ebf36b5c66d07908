// The command line: the option table, the argument scan, the applet choice and
// what the parse leaves in the records and the VM registry.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/applet.h"
#include "core/context.h"
#include "core/errcodes.h"
#include "core/linkeddata.h"
#include "core/scratch.h"
#include "core/settings.h"
#include "libs/errorhandler.h"
#include "player/cmdline.h"
#include "vm/callextras.h"
#include "vm/vm.h"

namespace {

TEST(OptionTableTest, NamesMatchWithoutCaseAndOnlyWhole) {
    ASSERT_NE(FindOption("ScrWidth", 8), nullptr);
    EXPECT_TRUE(FindOption("SCRWIDTH", 8)->takesValue);
    EXPECT_EQ(FindOption("quie", 4), nullptr);
    EXPECT_EQ(FindOption("quieter", 7), nullptr);
}

class CommandLineTest : public ::testing::Test {
protected:
    void SetUp() override {
        L_ = VmOpen();
        ASSERT_NE(L_, nullptr);
        BuildLinkMarker(&marker_);
    }
    void TearDown() override {
        FreeRuntimeLists(L_);
        VmClose(L_);
    }

    int Parse(std::vector<std::string> args) {
        cl_ = qbCommandLine{};
        applet_ = qbApplet{};
        args.insert(args.begin(), "quenbrookplayer");
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        return ParseCommandLine(L_, &cl_, &applet_, &marker_, static_cast<int>(args.size()), argv.data());
    }

    ScriptState* L_ = nullptr;
    qbLinkMarker marker_;
    qbCommandLine cl_;
    qbApplet applet_;
};

TEST_F(CommandLineTest, AppletNameQuietAndKnownOptionsWithTheirValues) {
    ASSERT_EQ(Parse({"-scrwidth", "640", "-fullscreen", "-backfill=color", "my applet.qba", "-QUIET", "-StartColor",
                     "$FF"}),
              0);
    EXPECT_STREQ(cl_.scriptPath, "my applet.qba");
    EXPECT_EQ(cl_.quiet, 1);
    EXPECT_EQ(GetRuntimeTag(kTagQuiet), 1);
    EXPECT_TRUE(cl_.unknownOptions.empty());
    EXPECT_EQ(applet_.overrides.scrWidth, 640);
    EXPECT_EQ(applet_.overrides.mode, 2);
    EXPECT_EQ(applet_.overrides.backfill.type, 1);
    EXPECT_EQ(applet_.overrides.backfill.startColor, 255);
}

TEST_F(CommandLineTest, OptionConflictsAndScaling) {
    EXPECT_EQ(Parse({"-quiet", "-window", "-fullscreen", "a.qba"}), ERR_CONSOLEARG);
    ASSERT_EQ(Parse({"-quiet", "-autoscale", "-scalewidth", "50%", "a.qba"}), 0);
    EXPECT_EQ(applet_.overrides.scaleWidth, -50);
    ASSERT_EQ(Parse({"-quiet", "-layerscale", "-scalewidth", "50%", "a.qba"}), 0);
    EXPECT_EQ(applet_.overrides.scaleWidth, -50);
    ASSERT_EQ(Parse({"-quiet", "-scalewidth", "50%", "a.qba"}), 0);
    EXPECT_EQ(applet_.overrides.scaleWidth, 0);
    EXPECT_EQ(Parse({"-quiet", "-autoscale", "-layerscale", "a.qba"}), ERR_CONSOLEARG);
}

TEST_F(CommandLineTest, UnknownOptionsTakeTheNextToken) {
    ASSERT_EQ(Parse({"-quiet", "-myplugin_opt", "on", "x.qba", "-last"}), 0);
    ASSERT_EQ(cl_.unknownOptions.size(), 2u);
    EXPECT_EQ(cl_.unknownOptions[0].name, "myplugin_opt");
    EXPECT_EQ(cl_.unknownOptions[0].value, "on");
    EXPECT_EQ(cl_.unknownOptions[1].name, "last");
    EXPECT_EQ(cl_.unknownOptions[1].value, "");
    EXPECT_STREQ(cl_.scriptPath, "x.qba");
}

TEST_F(CommandLineTest, MalformedArgumentLists) {
    EXPECT_EQ(Parse({"-quiet", "a.qba", "b.qba"}), ERR_ARGS);
    EXPECT_EQ(Parse({"-quiet", "a.qba", "-scrwidth"}), ERR_ARGS);
    EXPECT_EQ(Parse({"-scrwidth", "-quiet", "a.qba"}), ERR_ARGS);
    EXPECT_EQ(Parse({"-", "a.qba"}), ERR_ARGS);
    EXPECT_EQ(Parse({"-quiet", std::string(5000, 'a')}), ERR_ARGS);
    // 4096 bytes fit the argument text, one more does not.
    EXPECT_EQ(Parse({"-quiet", "a.qba", "-x", std::string(4096 - 20, 'v')}), 0);
    EXPECT_EQ(Parse({"-quiet", "a.qba", "-x", std::string(4096 - 19, 'v')}), ERR_ARGS);
}

TEST_F(CommandLineTest, DebugFlagsSwitchTheTracer) {
    ASSERT_EQ(Parse({"-quiet", "-debugoutput", "a.qba"}), 0);
    EXPECT_NE(GetDebugOutputDevice(), 0);
    EXPECT_NE(NativeCallExtras & kCallExtraTrace, 0u);
    // NODEBUG wins over DEBUGOUTPUT.
    ASSERT_EQ(Parse({"-quiet", "-debugoutput", "-nodebug", "a.qba"}), 0);
    EXPECT_TRUE(AreDebugFunctionsDisabled());
    EXPECT_EQ(NativeCallExtras & kCallExtraTrace, 0u);
    SetCallTracing(false);
    SetDebugFunctionsDisabled(false);
}

TEST_F(CommandLineTest, HelpPrintsTheOptionTableUnderItsHeadings) {
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(Parse({"-help"}), ERR_USERABORT);
    std::string out = ::testing::internal::GetCapturedStdout();
    size_t heading = out.find("Arguments controlling the scaling engine:");
    ASSERT_NE(heading, std::string::npos) << out;
    EXPECT_LT(heading, out.find("-SCALEWIDTH <width>"));
    EXPECT_EQ(out.find("Arguments controlling the scaling engine:", heading + 1), std::string::npos);
}

class IniBesideAppletTest : public CommandLineTest {
protected:
    void WriteIni(const std::string& text) { dir_.Write("game.v1.ini", text); }

    ScratchDir dir_;
    std::string applet_path_ = dir_ / "game.v1.qba";
};

TEST_F(IniBesideAppletTest, TheOptionsFileWins) {
    WriteIni("# set by the user\nFULLSCREEN = off\nSCRWIDTH = 800\nplugin_key = \"v w\"\n");
    ASSERT_EQ(Parse({"-quiet", "-fullscreen", "-scrwidth=640", applet_path_}), 0);
    EXPECT_EQ(applet_.overrides.mode, 0);
    EXPECT_EQ(applet_.overrides.scrWidth, 800);
    ASSERT_EQ(cl_.unknownOptions.size(), 1u);
    EXPECT_EQ(cl_.unknownOptions[0].name, "plugin_key");
    EXPECT_EQ(cl_.unknownOptions[0].value, "v w");

    WriteIni("WINDOW = yes\n");
    EXPECT_EQ(Parse({"-quiet", "-fullscreen", applet_path_}), ERR_CONSOLEARG);
    WriteIni("9LIVES = yes\n");
    EXPECT_EQ(Parse({"-quiet", applet_path_}), ERR_INISYNTAX);
}

TEST_F(CommandLineTest, RegistryEntriesAndLibraries) {
    ASSERT_EQ(Parse({"-quiet", "a.qba"}), 0);
    EXPECT_EQ(GetAppletRecord(L_), &applet_);
    EXPECT_EQ(GetCommandLineArgs(L_), &cl_);
    VmPushString(L_, "_g");
    VmRawGet(L_, kGlobalsIndex);
    VmPushValue(L_, kGlobalsIndex);
    EXPECT_TRUE(VmRawEqual(L_, -1, -2));
    VmSetTop(L_, 0);
    // The system library is open; the stack is left empty.
    EXPECT_STREQ(FindCommandSpelling("debugprint"), "DebugPrint");
    EXPECT_EQ(VmGetTop(L_), 0);
}

}  // namespace
