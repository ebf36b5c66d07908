// A signal that ends the player removes a folder listed for cleanup with
// everything in it, however many reads of the folder's entries that takes.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
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

}  // namespace
