// A tree 5,000 folders deep, copied and deleted whole by a player started
// with the usual soft limit of 1,024 descriptors: the walks hold a folder
// open at every level. One 20,000 deep on a 2 MB stack: depth never costs
// the stack. The programs it starts get the limit it was given.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/resource.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "e2e/e2e_util.h"

namespace {

namespace fs = std::filesystem;

constexpr int kLevels = 5000;

// Runs along a chain of folders named "d" below root, one descriptor at a
// time (a path that deep is far longer than the system takes).
int OpenDeepest(const fs::path& root, int* levels) {
    int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    *levels = 0;
    for (int next; fd >= 0 && (next = openat(fd, "d", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)) >= 0;
         ++*levels) {
        close(fd);
        fd = next;
    }
    return fd;
}

void MakeDeep(const fs::path& root, int levels = kLevels) {
    fs::create_directories(root);
    int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int i = 0; fd >= 0 && i < levels; ++i) {
        mkdirat(fd, "d", 0755);
        const int next = openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        close(fd);
        fd = next;
    }
    ASSERT_GE(fd, 0);
    const int leaf = openat(fd, "leaf", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_EQ(write(leaf, "leaf", 4), 4);
    close(leaf);
    close(fd);
}

// The leaf's text at the bottom of the chain; levels counted.
std::string ReadLeaf(const fs::path& root, int* levels) {
    const int fd = OpenDeepest(root, levels);
    if (fd < 0) return {};
    char text[16] = {};
    const int leaf = openat(fd, "leaf", O_RDONLY | O_CLOEXEC);
    const ssize_t n = leaf >= 0 ? read(leaf, text, sizeof text) : -1;
    if (leaf >= 0) close(leaf);
    close(fd);
    return n > 0 ? std::string(text, static_cast<size_t>(n)) : std::string();
}

// Removes what a failed run left, bottom up, one descriptor at a time.
void RemoveDeep(const fs::path& root) {
    int levels = 0;
    int fd = OpenDeepest(root, &levels);
    if (fd < 0) return;
    unlinkat(fd, "leaf", 0);
    for (; levels > 0; --levels) {
        const int up = openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        close(fd);
        fd = up;
        if (fd < 0 || unlinkat(fd, "d", AT_REMOVEDIR) != 0) break;
    }
    if (fd >= 0) close(fd);
    rmdir(root.c_str());
}

// Where the deep trees go: a tmpfs with room when there is one (a
// folder on a disk costs a journal write to make and to remove, seconds for
// such a tree), else the scratch folder.
fs::path FastScratch(const fs::path& fallback) {
    struct statfs fs {};
    struct statvfs room {};
    const char* shm = "/dev/shm";
    if (statfs(shm, &fs) != 0 || fs.f_type != TMPFS_MAGIC || statvfs(shm, &room) != 0 ||
        uint64_t{room.f_bavail} * room.f_frsize < (uint64_t{512} << 20) || room.f_favail < 200000 ||
        access(shm, W_OK) != 0)
        return fallback;
    const fs::path root = fs::path(shm) / ("qb_deeptree_" + std::to_string(getpid()));
    std::error_code ec;
    return fs::create_directories(root, ec) ? root : fallback;
}

class DeepTreeTest : public e2e::E2eFixture {
protected:
    void TearDown() override {
        RemoveDeep(dir_ / "src");
        RemoveDeep(dir_ / "dest");
        if (!fast_.empty() && fast_ != dir_) {
            RemoveDeep(fast_ / "src");
            RemoveDeep(fast_ / "dest");
            rmdir(fast_.c_str());
        }
        E2eFixture::TearDown();
    }

    // A test's trees on a tmpfs (FastScratch), removed with it.
    fs::path fast_;

    // Runs the command on the arguments with the soft descriptor limit at
    // 1,024, after the shell's limits; an error ends the player with its
    // message.
    e2e::RunResult Play(const std::string& name, const std::string& calls, const std::string& limits = "") {
        const fs::path qba = Pack(Chunk(".function main maxstack=8\n.line 1\n" + calls + "    RETURN 0 1\n.end\n", name),
                                  dir_ / (name + ".qba"), "--include " + name + ".qbs:1:1000:0");
        return Run(limits + "ulimit -Sn 1024 && " + std::string(QB_PLAYER_PATH) + " " + qba.string() + " -quiet");
    }
};

std::string CallOf(const std::string& command, const std::string& a, const std::string& b = "") {
    return "    GETGLOBAL 0 \"" + command + "\"\n    LOADK 1 \"" + a + "\"\n" +
           (b.empty() ? "    CALL 0 2 1\n" : "    LOADK 2 \"" + b + "\"\n    CALL 0 3 1\n");
}

TEST_F(DeepTreeTest, AFiveThousandLevelTreeIsCopiedAndDeletedWhole) {
    // The walks hold a folder of the source and one of the copy open at
    // every level, within the hard limit the player raises its own to.
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < 2 * kLevels + 256)
        GTEST_SKIP() << "the hard limit of open files (" << limit.rlim_max << ") is below two a level";
    const fs::path root = fast_ = FastScratch(dir_);
    MakeDeep(root / "src");
    const e2e::RunResult copied = Play("copy", CallOf("copyfile", (root / "src").string(), (root / "dest").string()));
    ASSERT_EQ(copied.status, 0) << copied.err;
    int levels = 0;
    EXPECT_EQ(ReadLeaf(root / "dest", &levels), "leaf");
    EXPECT_EQ(levels, kLevels);

    const e2e::RunResult deleted = Play("delete", CallOf("deletefile", (root / "src").string()) +
                                                      CallOf("deletefile", (root / "dest").string()));
    ASSERT_EQ(deleted.status, 0) << deleted.err;
    EXPECT_FALSE(fs::exists(root / "src"));
    EXPECT_FALSE(fs::exists(root / "dest"));
}

// 20,000 levels with the stack held to 2 MB: the walks keep the folders they
// are in as a list, not as calls, so depth costs memory and a descriptor a
// level, never the stack. Each walk ends with the tree whole, or, where the
// descriptors run out first, with the lock error a script can catch: never
// a signal.
TEST_F(DeepTreeTest, TwentyThousandLevelsOnASmallStackEndWholeOrWithTheLockError) {
    constexpr int kDeep = 20000;
    const fs::path root = fast_ = FastScratch(dir_);
    const fs::path src = root / "src", dest = root / "dest";
    MakeDeep(src, kDeep);
    auto locked = [](const e2e::RunResult& r) {
        return r.status > 0 && r.status < 128 && r.err.find("Error locking") != std::string::npos;
    };
    const std::string copy = CallOf("copyfile", src.string(), dest.string());

    // Too few descriptors for the tree: the lock error, the source whole.
    const e2e::RunResult few = Play("few", copy, "ulimit -s 2048 && ulimit -n 4096 && ");
    EXPECT_TRUE(locked(few)) << few.status << ": " << few.err.substr(0, 300);
    RemoveDeep(dest);

    // As many as the shell may give (root past the hard limit: two a level).
    const std::string limits =
        "ulimit -s 2048 && { ulimit -Hn " + std::to_string(2 * kDeep + 256) + " 2>/dev/null; true; } && ";
    const e2e::RunResult copied = Play("copy", copy, limits);
    EXPECT_TRUE(copied.status == 0 || locked(copied)) << copied.status << ": " << copied.err.substr(0, 300);
    int levels = 0;
    if (copied.status == 0) {
        EXPECT_EQ(ReadLeaf(dest, &levels), "leaf");
        EXPECT_EQ(levels, kDeep);
    }
    EXPECT_EQ(ReadLeaf(src, &levels), "leaf");
    EXPECT_EQ(levels, kDeep);
    const e2e::RunResult deleted = Play("delete", CallOf("deletefile", src.string()), limits);
    EXPECT_TRUE(deleted.status == 0 || locked(deleted)) << deleted.status << ": " << deleted.err.substr(0, 300);
    if (deleted.status == 0) {
        EXPECT_FALSE(fs::exists(src));
    }
}

// The raised limit is the player's own: a program it starts gets the one
// the player was given.
TEST_F(DeepTreeTest, AProgramStartedGetsTheLimitThePlayerWasGiven) {
    const fs::path out = dir_ / "limit.txt";
    const e2e::RunResult r = Play("run", CallOf("execute", "/bin/sh -c \\\"ulimit -Sn > " + out.string() + "\\\""));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(e2e::ReadFile(out), "1024\n");
}

}  // namespace
