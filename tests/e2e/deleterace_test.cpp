// A script run as root deletes a folder another user can write, while that
// user swaps the folders not yet visited for links to a folder of root's:
// nothing outside the tree goes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "e2e/e2e_util.h"
#include "e2e/swapping.h"

namespace {

namespace fs = std::filesystem;

// The user and group nobody and nogroup.
constexpr uid_t kOther = 65534;
constexpr int kFolders = 300;
constexpr int kFilesEach = 2;

std::string FolderName(int i) { return "s" + std::to_string(i); }

// The other user: waits until the walk deletes its first file (so that the
// tree has been listed), then swaps every folder still whole for a link to
// outside. Ends with the number of folders swapped (at most 255).
// It says on ready when it watches; a swapper that fails ends without a
// word, which closes ready. It ends without swapping once done is closed
// before any file went.
[[noreturn]] void Swapper(const fs::path& tree, const fs::path& outside, int ready, int done) {
    if (setgroups(0, nullptr) != 0 || setresgid(kOther, kOther, kOther) != 0 ||
        setresuid(kOther, kOther, kOther) != 0)
        _exit(0);
    const int watch = inotify_init1(IN_CLOEXEC);
    for (int i = 0; i < kFolders; ++i)
        if (inotify_add_watch(watch, (tree / FolderName(i)).c_str(), IN_DELETE) < 0) _exit(0);
    if (write(ready, "w", 1) != 1) _exit(0);
    close(ready);
    pollfd waits[2] = {{watch, POLLIN, 0}, {done, POLLIN, 0}};
    while (poll(waits, 2, -1) < 0) {
    }
    if (!(waits[0].revents & POLLIN)) _exit(0);
    int swapped = 0;
    for (int i = 0; i < kFolders; ++i) {
        const fs::path folder = tree / FolderName(i);
        std::error_code ec;
        if (fs::directory_entry(folder / "f0", ec).exists(ec) &&
            rename(folder.c_str(), (tree / ("z" + std::to_string(i))).c_str()) == 0 &&
            symlink(outside.c_str(), folder.c_str()) == 0)
            ++swapped;
    }
    _exit(swapped > 255 ? 255 : swapped);
}

using DeleteRaceTest = e2e::E2eFixture;

TEST_F(DeleteRaceTest, FoldersSwappedForLinksDuringTheWalkCostNothingOutside) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root: the swapping process runs as another user";
    const fs::path tree = dir_ / "tree", outside = dir_ / "outside";
    fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    fs::create_directories(outside);
    for (int i = 0; i < 20; ++i) e2e::WriteFile(outside / ("keep" + std::to_string(i)), "root's");
    fs::create_directories(tree);
    ASSERT_EQ(chown(tree.c_str(), kOther, kOther), 0);
    for (int i = 0; i < kFolders; ++i) {
        const fs::path folder = tree / FolderName(i);
        fs::create_directory(folder);
        ASSERT_EQ(chown(folder.c_str(), kOther, kOther), 0);
        for (int f = 0; f < kFilesEach; ++f) e2e::WriteFile(folder / ("f" + std::to_string(f)), "x");
    }

    e2e::Swapping swapper([&](int ready, int done) { Swapper(tree, outside, ready, done); });
    ASSERT_TRUE(swapper.Watching()) << "the swapper could not watch the tree";

    const e2e::RunResult r = PlayScript(R"(
.function main maxstack=8
.line 1
    GETGLOBAL 0 "deletefile"
    LOADK 1 ")" + tree.string() + R"("
    CALL 0 2 1
    RETURN 0 1
.end
)");
    const int swapped = swapper.Stop();
    ASSERT_GE(swapped, 0) << "the swapper did not exit";
    EXPECT_GT(swapped, 0) << "no folder was swapped while the walk ran: " << r.err;
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(e2e::ReadFile(outside / ("keep" + std::to_string(i))), "root's") << i << ": " << r.err;
}

}  // namespace
