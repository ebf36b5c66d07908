// A signal that ends the player removes a folder listed for cleanup with
// everything in it, however many reads of the folder's entries that takes.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <iterator>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/signalcleanup.h"
#include "scratch.h"

namespace {

TEST(SignalCleanupTest, ASignalRemovesAListedFolderOfManyEntries) {
    ScratchDir dir;
    // Entries of one record size fill the kernel's batches to their last
    // bytes; several batches, and names of other sizes besides.
    const std::string folder = dir / "applet";
    std::filesystem::create_directories(folder);
    for (int i = 0; i < 400; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "f%07d", i);
        std::ofstream(folder + "/" + name) << i;
    }
    for (int i = 0; i < 40; ++i) std::ofstream(folder + "/" + std::string(100 + i, 'n')) << i;
    const std::string single = dir.Write("save.tmp", "partial");

    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        alarm(60);
        signal(SIGTERM, SIG_DFL);
        InstallSignalCleanup();
        AddSignalCleanupPath(folder.c_str(), true);
        AddSignalCleanupPath(single.c_str(), false);
        raise(SIGTERM);
        _exit(3);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << "status " << status;
    EXPECT_FALSE(std::filesystem::exists(folder));
    EXPECT_FALSE(std::filesystem::exists(single));
}

// The handler itself, in this process: it is what the installation left for
// SIGTERM, and it is called here for a signal whose default ends nothing.
// It removes what is listed, never what was forgotten.
TEST(SignalCleanupTest, TheHandlerRemovesListedPathsAndKeepsForgottenOnes) {
    constexpr int kEnding[] = {SIGTERM, SIGINT,  SIGHUP,  SIGQUIT,   SIGXFSZ, SIGPIPE,
                               SIGALRM, SIGUSR1, SIGUSR2, SIGVTALRM, SIGPROF};
    struct sigaction before[std::size(kEnding)];
    for (size_t i = 0; i < std::size(kEnding); ++i) sigaction(kEnding[i], nullptr, &before[i]);
    InstallSignalCleanup();
    struct sigaction installed {};
    sigaction(SIGTERM, nullptr, &installed);
    for (size_t i = 0; i < std::size(kEnding); ++i) sigaction(kEnding[i], &before[i], nullptr);
    ASSERT_NE(installed.sa_handler, SIG_DFL);
    ASSERT_NE(installed.sa_handler, SIG_IGN);

    ScratchDir dir;
    const std::string folder = dir / "inflated";
    std::filesystem::create_directories(folder);
    for (int i = 0; i < 300; ++i) std::ofstream(folder + "/" + std::string(1 + i % 200, 'a') + std::to_string(i)) << i;
    const std::string single = dir.Write("save.tmp", "partial");
    const std::string kept = dir.Write("kept.tmp", "saved");
    const std::string keptFolder = dir / "kept";
    std::filesystem::create_directories(keptFolder);
    AddSignalCleanupPath(folder.c_str(), true);
    AddSignalCleanupPath(kept.c_str(), false);
    AddSignalCleanupPath(single.c_str(), false);
    AddSignalCleanupPath(keptFolder.c_str(), true);
    ForgetSignalCleanupPath(kept.c_str());
    ForgetSignalCleanupPath(keptFolder.c_str());
    installed.sa_handler(SIGWINCH);
    EXPECT_FALSE(std::filesystem::exists(folder));
    EXPECT_FALSE(std::filesystem::exists(single));
    EXPECT_TRUE(std::filesystem::exists(kept));
    EXPECT_TRUE(std::filesystem::exists(keptFolder));
    ForgetSignalCleanupPath(folder.c_str());
    ForgetSignalCleanupPath(single.c_str());
}

}  // namespace
