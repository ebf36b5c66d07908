// How the player ends when start-up fails deep inside a declaration or a
// signal stops it: never by aborting, and never leaving its temporary files.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "core/errcodes.h"
#include "e2e/e2e_util.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

using e2e::RunResult;
using e2e::WriteFile;

const char kIdleScript[] = R"(
.function main maxstack=4
.line 1
loop:
    GETGLOBAL 0 "waitevent"
    CALL 0 1 1
    JMP loop
    RETURN 0 1 0
.end
)";

class ExitsTest : public e2e::E2eFixture {
protected:
    std::string TempOption() const { return " -tempdir " + (dir_ / "tmp").string(); }

    std::vector<fs::path> TempEntries() const {
        std::vector<fs::path> entries;
        for (const auto& e : fs::directory_iterator(dir_ / "tmp")) entries.push_back(e.path());
        return entries;
    }

    // Starts program with args; its pid.
    pid_t Spawn(const std::vector<std::string>& args) {
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        pid_t pid = -1;
        EXPECT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ), 0);
        return pid;
    }

    // Waits (at most 10 s) until the temporary folder has something in it.
    bool WaitForTempEntry() const {
        for (int i = 0; i < 1000; ++i) {
            if (!TempEntries().empty()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    // Sends sig once the program has made its files, and checks that it
    // ended by that signal with nothing left behind.
    void SignalAndCheck(pid_t pid, int sig) {
        ASSERT_TRUE(WaitForTempEntry());
        // Let start-up get past its own use of the files.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ASSERT_EQ(kill(pid, sig), 0);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
        EXPECT_TRUE(TempEntries().empty()) << TempEntries().front();
    }
};

TEST_F(ExitsTest, ADeepMenuTreeEndsStartUpWithAnErrorAndNoFilesLeft) {
    fs::path qba = Pack(Chunk(kIdleScript, "idle"), dir_ / "menu.qba",
                        "--compress --menu 1:A{B{C{D{E{F{G{H{I{J}}}}}}}}}");
    RunResult r = Run(std::string(QB_PLAYER_PATH) + " " + qba.string() + " -quiet" + TempOption());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.find("Stack overflow"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(Text(ERR_MENUCOMPLEXITY)), std::string::npos) << r.err;
    EXPECT_TRUE(TempEntries().empty());
}

TEST_F(ExitsTest, TermAndIntRemoveTheInflatedAppletAndThePluginFolder) {
    fs::path qbb = Chunk(kIdleScript, "idle");
    fs::path compressed = Pack(qbb, dir_ / "idle.qba", "--compress");
    WriteFile(dir_ / "gadget.bin", std::string(5000, 'G'));
    fs::path linked = dir_ / "idle-app";
    RunResult made = Run(std::string(QB_TOOLS_DIR) + "/qbapplet --link-exe " + QB_PLAYER_PATH + " --body " +
                         qbb.string() + " -o " + linked.string() + " --link-plugin gadget=" +
                         (dir_ / "gadget.bin").string());
    ASSERT_EQ(made.status, 0) << made.err;
    const std::string temp = (dir_ / "tmp").string();
    for (int sig : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(sig);
        SignalAndCheck(Spawn({QB_PLAYER_PATH, compressed.string(), "-quiet", "-tempdir", temp}), sig);
        SignalAndCheck(Spawn({linked.string(), "-tempdir", temp}), sig);
    }
}

}  // namespace
