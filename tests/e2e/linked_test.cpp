// End-to-end runs of stand-alone executables that qbapplet --link-exe makes
// from the built player: the applet runs quietly, linked plugins live in a
// private folder only while the program runs, and a refused plugin name or
// an unpatched marker behave as they should.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "core/errcodes.h"
#include "e2e/e2e_util.h"

namespace fs = std::filesystem;

namespace {

using e2e::ExitStatus;
using e2e::ReadFile;
using e2e::RunResult;
using e2e::WriteFile;

constexpr int kFillerLines = 40000;
const std::string kFiller(48, '.');

// Writes far more than a pipe holds, so that a reader that holds back finds
// the program still running, past start-up and before shutdown.
const std::string kChattyScript = R"(
.function main maxstack=8
.line 1
    GETGLOBAL 0 "debugprint"
    LOADK 1 "linked applet runs"
    CALL 0 2 1
.line 2
    LOADK 1 #0
    LOADK 2 #)" + std::to_string(kFillerLines) + R"(
    LOADK 3 #1
    JMP check
body:
    GETGLOBAL 5 "debugprint"
    LOADK 6 ")" + kFiller + R"("
    CALL 5 2 1
check:
    FORLOOP 1 body
.line 3
    GETGLOBAL 0 "debugprint"
    LOADK 1 "done"
    CALL 0 2 1
    RETURN 0 1 0
.end
)";

const char kShortScript[] = R"(
.function main maxstack=4
.line 1
    GETGLOBAL 0 "debugprint"
    LOADK 1 "the other applet"
    CALL 0 2 1
    RETURN 0 1 0
.end
)";

class LinkedExeTest : public e2e::E2eFixture {
protected:
    // qbapplet with the given options; its status.
    RunResult Qbapplet(const std::string& options) { return Run(std::string(QB_TOOLS_DIR) + "/qbapplet " + options); }

    std::string TempOption() const { return " -tempdir " + (dir_ / "tmp").string(); }

    std::vector<fs::path> TempEntries() const {
        std::vector<fs::path> entries;
        for (const auto& e : fs::directory_iterator(dir_ / "tmp")) entries.push_back(e.path());
        return entries;
    }

    static std::string ExpectedChattyOutput() {
        std::string out = "linked applet runs\n";
        for (int i = 0; i < kFillerLines; ++i) out += kFiller + "\n";
        return out + "done\n";
    }
};

TEST_F(LinkedExeTest, RunsItsAppletQuietlyWithItsPluginsInAPrivateFolder) {
    fs::path qbb = Chunk(kChattyScript, "chatty");
    const std::string alpha(70000, 'A'), beta = "beta plugin bytes";
    WriteFile(dir_ / "alpha.bin", alpha);
    WriteFile(dir_ / "beta.bin", beta);
    for (bool packed : {false, true}) {
        SCOPED_TRACE(packed ? "packed plugins" : "plain plugins");
        fs::path app = dir_ / (packed ? "packed-app" : "plain-app");
        RunResult made = Qbapplet("--link-exe " + std::string(QB_PLAYER_PATH) + " --body " + qbb.string() + " -o " +
                                  app.string() + " --link-plugin alpha=" + (dir_ / "alpha.bin").string() +
                                  " --link-plugin beta=" + (dir_ / "beta.bin").string() +
                                  (packed ? " --pack-plugins" : "") + " --title Chatty");
        ASSERT_EQ(made.status, 0) << made.err;

        // No applet argument: the program runs what it carries.
        const std::string cmd = app.string() + TempOption() + " 2>" + (dir_ / "stderr.txt").string();
        FILE* pipe = popen(cmd.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string out;
        char line[256];
        ASSERT_NE(std::fgets(line, sizeof line, pipe), nullptr);
        out += line;
        EXPECT_EQ(out, "linked applet runs\n") << "no banner before the applet's output";

        // The program now waits for this reader: its plugins must be out.
        std::vector<fs::path> entries = TempEntries();
        ASSERT_EQ(entries.size(), 1u);
        const fs::path folder = entries[0];
        EXPECT_EQ(folder.filename().string().rfind("quenbrook.", 0), 0u) << folder;
        EXPECT_TRUE(fs::is_directory(folder));
        EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all);
        EXPECT_EQ(ReadFile(folder / "alpha.qbp"), alpha);
        EXPECT_EQ(ReadFile(folder / "beta.qbp"), beta);

        size_t n;
        char buffer[65536];
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
        const int status = ExitStatus(pclose(pipe));
        EXPECT_EQ(status, 0) << ReadFile(dir_ / "stderr.txt");
        EXPECT_TRUE(out == ExpectedChattyOutput()) << out.substr(0, 200);
        EXPECT_TRUE(TempEntries().empty()) << "the plugin folder is deleted at exit";
    }
}

TEST_F(LinkedExeTest, ACompressedAppletRunsLinkedAndReadsTheOptionsFileBesideTheProgram) {
    fs::path qbb = Chunk(kShortScript, "short");
    fs::path app = dir_ / "zapp";
    RunResult made = Qbapplet("--link-exe=" + std::string(QB_PLAYER_PATH) + " --body " + qbb.string() + " -o " +
                              app.string() + " --compress");
    ASSERT_EQ(made.status, 0) << made.err;

    // Two display modes at once are refused, which shows that the options
    // file named after the program was read.
    WriteFile(dir_ / "zapp.ini", "WINDOW = yes\nFULLSCREEN = yes\n");
    RunResult refused = Run(app.string());
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE((refused.out + refused.err).find(Text(ERR_CONSOLEARG)), std::string::npos) << refused.err;

    fs::remove(dir_ / "zapp.ini");
    RunResult r = Run(app.string());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "the other applet\n");
}

TEST_F(LinkedExeTest, APluginNameThatLeavesTheFolderEndsStartUp) {
    fs::path qbb = Chunk(kShortScript, "short");
    WriteFile(dir_ / "p.bin", "payload");
    for (const char* name : {"../x", "..", "a\\b"}) {
        SCOPED_TRACE(name);
        fs::path app = dir_ / "evil";
        RunResult made = Qbapplet("--link-exe " + std::string(QB_PLAYER_PATH) + " --body " + qbb.string() + " -o " +
                                  app.string() + " --link-plugin good=" + (dir_ / "p.bin").string() +
                                  " --link-plugin '" + name + "=" + (dir_ / "p.bin").string() + "'");
        ASSERT_EQ(made.status, 0) << made.err;
        RunResult r = Run(app.string() + TempOption());
        EXPECT_EQ(r.status, 1);
        EXPECT_NE((r.out + r.err).find(Text(ERR_LINKPLUGIN)), std::string::npos) << r.out << r.err;
        EXPECT_EQ(r.out.find("the other applet"), std::string::npos);
        EXPECT_TRUE(TempEntries().empty()) << "the folder goes even when start-up fails";
        EXPECT_FALSE(fs::exists(dir_ / "x.qbp"));
    }
}

TEST_F(LinkedExeTest, AnUnpatchedMarkerMeansAPlainPlayer) {
    // Data appended without patching the marker is never looked at.
    fs::path linkedQbb = Chunk(kChattyScript, "chatty");
    fs::path linked = dir_ / "linked";
    ASSERT_EQ(Qbapplet("--link-exe " + std::string(QB_PLAYER_PATH) + " --body " + linkedQbb.string() + " -o " +
                       linked.string() + " --link-plugin alpha=" + linkedQbb.string())
                  .status,
              0);
    const std::string player = ReadFile(QB_PLAYER_PATH);
    const std::string whole = ReadFile(linked);
    fs::path plain = dir_ / "plain-with-data";
    WriteFile(plain, player + whole.substr(player.size()));
    fs::permissions(plain, fs::perms::owner_all);

    fs::path otherQbb = Chunk(kShortScript, "short");
    fs::path other = dir_ / "other.qba";
    ASSERT_EQ(Qbapplet("-o " + other.string() + " --body " + otherQbb.string()).status, 0);
    RunResult r = Run(plain.string() + " " + other.string() + " -quiet" + TempOption());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "the other applet\n");
    EXPECT_TRUE(TempEntries().empty()) << "no plugins extracted";

    RunResult banner = Run(plain.string() + " " + other.string() + TempOption());
    EXPECT_EQ(banner.out.find("QuenbrookPlayer 6.1 [Linux]\n"), 0u) << banner.out;
}

}  // namespace
