// Applets that require a plugin, run by a copy of the player in a folder of
// its own: the plugin beside it, linked into a stand-alone executable (packed
// or not), or missing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "core/errcodes.h"
#include "counted_fifo.h"
#include "e2e/e2e_util.h"
#include "plugin_cuts.h"

namespace fs = std::filesystem;

namespace {

using e2e::ReadFile;
using e2e::RunResult;

const char kScript[] = R"(
.function main maxstack=4
.line 1
    GETGLOBAL 0 "debugprint"
    LOADK 1 "script runs"
    CALL 0 2 1
    RETURN 0 1 0
.end
)";

const char kRequireOptions[] = "--plugin testreq:1:0 --plugin-tag mode=fast";

class PluginAppletTest : public e2e::E2eFixture {
protected:
    void SetUp() override {
        E2eFixture::SetUp();
        fs::create_directories(dir_ / "app");
        player_ = dir_ / "app" / "quenbrookplayer";
        fs::copy_file(QB_PLAYER_PATH, player_);
        plugin_ = fs::path(QB_TEST_PLUGIN_DIR) / "good.qbp";
        log_ = dir_ / "calls.log";
    }

    RunResult RunLogged(const std::string& cmd) { return Run("QB_TEST_PLUGIN_LOG=" + log_.string() + " " + cmd); }

    // The script's output, and the plugin asked for 1.0 with its tag.
    void ExpectRequired(const RunResult& r) {
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_EQ(r.out, "script runs\n") << r.err;
        const std::string log = ReadFile(log_);
        EXPECT_NE(log.find("testreq: RequirePlugin(1, 0) state=1"), std::string::npos) << log;
        EXPECT_NE(log.find("testreq: tag mode = \"fast\""), std::string::npos) << log;
        EXPECT_NE(log.find("testreq: ClosePlugin"), std::string::npos) << log;
    }

    fs::path player_, plugin_, log_;
};

TEST_F(PluginAppletTest, ThePluginBesideThePlayerIsRequired) {
    fs::copy_file(plugin_, dir_ / "app" / "testreq.qbp");
    const fs::path qba = Pack(Chunk(kScript, "req"), dir_ / "req.qba", kRequireOptions);
    ExpectRequired(RunLogged(player_.string() + " " + qba.string() + " -quiet"));
}

TEST_F(PluginAppletTest, WithoutThePluginTheAppletEndsWithTheRequirement) {
    const fs::path qba = Pack(Chunk(kScript, "req"), dir_ / "req.qba", kRequireOptions);
    RunResult r = RunLogged(player_.string() + " " + qba.string() + " -quiet");
    EXPECT_NE(r.status, 0);
    EXPECT_NE((r.out + r.err).find("This program requires testreq.qbp 1.0!"), std::string::npos) << r.out << r.err;
    EXPECT_EQ(r.out.find("script runs"), std::string::npos);
}

TEST_F(PluginAppletTest, ALinkedPluginIsRequiredPackedOrNot) {
    const fs::path qbb = Chunk(kScript, "req");
    for (bool packed : {false, true}) {
        SCOPED_TRACE(packed ? "packed" : "plain");
        fs::remove(log_);
        const fs::path app = dir_ / "linked";
        RunResult made = Run(std::string(QB_TOOLS_DIR) + "/qbapplet --link-exe " + player_.string() + " --body " +
                             qbb.string() + " -o " + app.string() + " --link-plugin testreq=" + plugin_.string() +
                             (packed ? " --pack-plugins " : " ") + kRequireOptions);
        ASSERT_EQ(made.status, 0) << made.err;
        ExpectRequired(RunLogged(app.string() + " -tempdir " + (dir_ / "tmp").string()));
        EXPECT_TRUE(fs::is_empty(dir_ / "tmp")) << "the extracted plugin goes at exit";
    }
}

TEST_F(PluginAppletTest, TheCommandLineRequiresAnUnderscoredPlugin) {
    // Known only after the scan; the option's require loads it.
    fs::copy_file(plugin_, dir_ / "app" / "_testreq.qbp");
    const fs::path qba = Pack(Chunk(kScript, "req"), dir_ / "req.qba", "");
    RunResult r = RunLogged(player_.string() + " " + qba.string() +
                            " -quiet -requireplugins testreq -requiretags 'testreq[mode=fast, n=2]'");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "script runs\n") << r.err;
    const std::string log = ReadFile(log_);
    EXPECT_NE(log.find("testreq: RequirePlugin(0, 0) state=1 reserved=0\ntestreq: tag answer\n"
                       "testreq: tag mode = \"fast\"\ntestreq: tag n = 2\n"),
              std::string::npos)
        << log;
}

TEST_F(PluginAppletTest, AScanFailureIsReportedAndStartUpGoesOn) {
    fs::copy_file(plugin_, dir_ / "app" / "testreq.qbp");
    e2e::WriteFile(dir_ / "app" / "broken.qbp", "not a library\n");
    const fs::path qba = Pack(Chunk(kScript, "req"), dir_ / "req.qba", kRequireOptions);
    RunResult r = RunLogged(player_.string() + " " + qba.string() + " -quiet");
    ExpectRequired(r);
    EXPECT_NE(r.err.find((dir_ / "app" / "broken.qbp").string() + "\n(Reason: Cannot load plugin: "),
              std::string::npos)
        << r.err;
}

// A half-finished copy of a plugin (cut inside what the loader maps) and a
// FIFO named like a plugin beside the player: each cut is reported with its
// reason and start-up goes on; the FIFO is passed over, never opened.
TEST_F(PluginAppletTest, ACutPluginOrAFifoBesideThePlayerLetsStartUpGoOn) {
    const std::string whole = ReadFile(plugin_);
    CountedFifo fifo((dir_ / "app" / "fifo.qbp").string());
    ASSERT_TRUE(fifo.made());
    const fs::path qba = Pack(Chunk(kScript, "plain"), dir_ / "plain.qba", "");
    for (size_t length : PluginCutLengths(whole)) {
        SCOPED_TRACE(length);
        e2e::WriteFile(dir_ / "app" / "cut.qbp", whole.substr(0, length));
        RunResult r = RunLogged(player_.string() + " " + qba.string() + " -quiet");
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_EQ(r.out, "script runs\n") << r.err;
        EXPECT_NE(r.err.find((dir_ / "app" / "cut.qbp").string() + "\n(Reason: Cannot load plugin: "),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(r.err.find("fifo.qbp"), std::string::npos) << r.err;
    }
    EXPECT_EQ(fifo.Readers(), 0) << "the FIFO was opened for reading";
}

TEST_F(PluginAppletTest, LoadPluginOfACutFileIsAnErrorOfTheScript) {
    const std::string whole = ReadFile(plugin_);
    const fs::path cut = dir_ / "cut.qbp";
    const std::string script = R"(
.function main maxstack=4
.line 1
    GETGLOBAL 0 "loadplugin"
    LOADK 1 ")" + cut.string() + R"("
    CALL 0 2 1
    GETGLOBAL 0 "debugprint"
    LOADK 1 "loaded"
    CALL 0 2 1
    RETURN 0 1 0
.end
)";
    for (size_t length : PluginCutLengths(whole)) {
        SCOPED_TRACE(length);
        e2e::WriteFile(cut, whole.substr(0, length));
        RunResult r = PlayScript(script);
        EXPECT_EQ(r.status, 1) << "the script's error ends the player, not a signal\n" << r.err;
        EXPECT_EQ(r.out, "") << r.err;
        EXPECT_NE(r.err.find(Text(ERR_DLOPEN)), std::string::npos) << r.err;
    }
}

// Every cut goes into one executable (linking is slow), each as a plugin of
// its own.
TEST_F(PluginAppletTest, CutLinkedPluginsLeaveNoPrivateFolderBehind) {
    const std::string whole = ReadFile(plugin_);
    std::string links;
    const std::vector<size_t> lengths = PluginCutLengths(whole);
    for (size_t i = 0; i < lengths.size(); ++i) {
        const fs::path cut = dir_ / ("cut" + std::to_string(i) + ".bin");
        e2e::WriteFile(cut, whole.substr(0, lengths[i]));
        links += " --link-plugin cut" + std::to_string(i) + "=" + cut.string();
    }
    const fs::path app = dir_ / "linked";
    RunResult made = Run(std::string(QB_TOOLS_DIR) + "/qbapplet --link-exe " + player_.string() + " --body " +
                         Chunk(kScript, "req").string() + " -o " + app.string() + links);
    ASSERT_EQ(made.status, 0) << made.err;
    RunResult r = Run(app.string() + " -tempdir " + (dir_ / "tmp").string());
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "script runs\n") << r.err;
    for (size_t i = 0; i < lengths.size(); ++i)
        EXPECT_NE(r.err.find("cut" + std::to_string(i) + ".qbp\n(Reason: Cannot load plugin: "), std::string::npos)
            << r.err;
    EXPECT_TRUE(fs::is_empty(dir_ / "tmp")) << "the extracted plugins go at exit";
}

}  // namespace
