// A script run as root copies a folder into one another user can write,
// while that user swaps each new file the copy makes for a link to a file
// of root's: nothing of root's is written through.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <string>

#include "e2e/e2e_util.h"
#include "e2e/swapping.h"

namespace {

namespace fs = std::filesystem;

// The user and group nobody and nogroup.
constexpr uid_t kOther = 65534;
constexpr int kFiles = 1000;

std::string Secret(const fs::path& folder, int i) { return (folder / ("secret" + std::to_string(i))).string(); }

// The other user: each new file that appears in dest (a copy's new file
// beside its target) is moved away and a link to one of root's files put
// at its name, until done closes. Ends with the number swapped (at most
// 255). Says on ready when it watches; a swapper that fails ends without
// a word, which closes ready.
[[noreturn]] void Swapper(const fs::path& dest, const fs::path& secrets, int ready, int done) {
    if (setgroups(0, nullptr) != 0 || setresgid(kOther, kOther, kOther) != 0 ||
        setresuid(kOther, kOther, kOther) != 0)
        _exit(0);
    const int watch = inotify_init1(IN_CLOEXEC);
    if (inotify_add_watch(watch, dest.c_str(), IN_CREATE) < 0) _exit(0);
    if (write(ready, "w", 1) != 1) _exit(0);
    close(ready);
    int swapped = 0;
    alignas(inotify_event) char buffer[64 * (sizeof(inotify_event) + NAME_MAX + 1)];
    for (;;) {
        pollfd waits[2] = {{watch, POLLIN, 0}, {done, POLLIN, 0}};
        if (poll(waits, 2, -1) < 0) continue;
        if (waits[1].revents || !(waits[0].revents & POLLIN)) break;
        const ssize_t n = read(watch, buffer, sizeof buffer);
        for (ssize_t at = 0; at < n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            if (e->len == 0 || e->name[0] != '.') continue;
            // Root's new files only, not the links put here.
            const fs::path temp = dest / e->name;
            struct stat st;
            if (lstat(temp.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != 0) continue;
            if (rename(temp.c_str(), (dest / ("moved" + std::to_string(swapped))).c_str()) == 0 &&
                symlink(Secret(secrets, swapped % kFiles).c_str(), temp.c_str()) == 0)
                ++swapped;
        }
    }
    _exit(swapped > 255 ? 255 : swapped);
}

using PlantedTempTest = e2e::E2eFixture;

TEST_F(PlantedTempTest, LinksPutAtACopysNewFilesLeadNowhere) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root: the swapping process runs as another user";
    const fs::path src = dir_ / "src", dest = dir_ / "dest", secrets = dir_ / "private";
    fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    fs::create_directories(src);
    fs::create_directories(dest);
    fs::create_directories(secrets);
    fs::permissions(secrets, fs::perms::owner_all);
    ASSERT_EQ(chown(dest.c_str(), kOther, kOther), 0);
    for (int i = 0; i < kFiles; ++i) {
        e2e::WriteFile(src / ("f" + std::to_string(i)), "copied bytes " + std::to_string(i));
        e2e::WriteFile(Secret(secrets, i), "root's");
    }

    e2e::Swapping swapper([&](int ready, int done) { Swapper(dest, secrets, ready, done); });
    ASSERT_TRUE(swapper.Watching()) << "the swapper could not watch the folder";

    const e2e::RunResult r = PlayScript(R"(
.function main maxstack=8
.line 1
    GETGLOBAL 0 "copyfile"
    LOADK 1 ")" + src.string() + R"("
    LOADK 2 ")" + dest.string() + R"("
    CALL 0 3 1
    RETURN 0 1
.end
)");
    const int swapped = swapper.Stop();
    ASSERT_GE(swapped, 0) << "the swapper did not exit";
    EXPECT_GT(swapped, 0) << "no new file was swapped: " << r.err;
    int kept = 0;
    for (int i = 0; i < kFiles; ++i) kept += e2e::ReadFile(Secret(secrets, i)) == "root's";
    EXPECT_EQ(kept, kFiles) << r.err;
    EXPECT_EQ(std::distance(fs::directory_iterator(secrets), fs::directory_iterator{}), kFiles);
}

}  // namespace
