// What a save keeps of the file it replaces beyond its bytes: who may read
// it (its ACL), the attributes its owner gave it, its other names; and what
// it leaves when it fails or is stopped: the old file whole, no new file
// beside it, no wait on a FIFO nobody reads.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdint>
#include <filesystem>
#include <string>

#include "core/errcodes.h"
#include "core/file.h"
#include "core/pluginadapters.h"
#include "core/replacefile.h"
#include "bounded_child.h"
#include "core/signalcleanup.h"
#include "scratch.h"

namespace {

namespace fs = std::filesystem;

int Save(const std::string& name, const std::string& text, bool adapters = false) {
    qbReplaceFile out;
    qbReplaceOptions options;
    options.adapters = adapters;
    if (int err = BeginReplaceFile(name.c_str(), options, &out)) return err;
    if (FileWrite(out.file.get(), text.data(), text.size()) != text.size()) return ERR_WRITE;
    return CommitReplaceFile(&out);
}

size_t EntriesIn(const std::string& folder) {
    return static_cast<size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator{}));
}

using test_child::InChild;

std::string Attribute(const std::string& path, const char* name) {
    char value[256];
    const ssize_t n = getxattr(path.c_str(), name, value, sizeof value);
    return n < 0 ? std::string("(none)") : std::string(value, static_cast<size_t>(n));
}

// An access ACL in the system's stored form: owner rw, the user nobody r,
// the owning group nothing, mask r, others nothing.
std::string AclBlob() {
    std::string blob;
    auto put = [&](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) blob.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    put(2, 4);  // version
    const uint32_t kAny = 0xFFFFFFFF;
    const uint32_t entries[][3] = {{0x01, 6, kAny}, {0x02, 4, 65534}, {0x04, 0, kAny}, {0x10, 4, kAny}, {0x20, 0, kAny}};
    for (const auto& e : entries) {
        put(e[0], 2);
        put(e[1], 2);
        put(e[2], 4);
    }
    return blob;
}

class ReplaceKeepsTest : public ::testing::Test {
protected:
    ScratchDir dir_;
};

// A group the ACL shuts out stays out and the named user keeps reading:
// the ACL, and with it the mask in the group bits, and the owner's own
// user.* attribute come over to the new file.
TEST_F(ReplaceKeepsTest, TheAclAndUserAttributesAreKept) {
    const std::string path = dir_.Write("acl.txt", "old");
    const std::string acl = AclBlob();
    if (setxattr(path.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) != 0)
        GTEST_SKIP() << "the file system refuses ACLs: " << std::strerror(errno);
    if (setxattr(path.c_str(), "user.origin", "camera", 6, 0) != 0)
        GTEST_SKIP() << "the file system refuses user attributes: " << std::strerror(errno);
    struct stat before {};
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    ASSERT_EQ(Save(path, "new"), 0);
    struct stat after {};
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    EXPECT_EQ(ScratchDir::Read(path), "new");
    EXPECT_EQ(Attribute(path, "system.posix_acl_access"), acl);
    EXPECT_EQ(Attribute(path, "user.origin"), "camera");
    EXPECT_EQ(after.st_mode & 07777, before.st_mode & 07777) << std::oct << after.st_mode;
}

// Every name of a file with two shows what was saved under either.
TEST_F(ReplaceKeepsTest, AFileWithTwoNamesStaysOneFile) {
    const std::string path = dir_.Write("one.txt", "old");
    const std::string other = dir_ / "two.txt";
    ASSERT_EQ(link(path.c_str(), other.c_str()), 0);
    ASSERT_EQ(Save(path, "new"), 0);
    EXPECT_EQ(ScratchDir::Read(path), "new");
    EXPECT_EQ(ScratchDir::Read(other), "new");
    EXPECT_EQ(EntriesIn(dir_.str()), 2u);
}

// A save onto a FIFO that nobody reads is refused at once rather than
// waiting for a reader that may never come.
TEST_F(ReplaceKeepsTest, AFifoWithoutAReaderIsRefusedAtOnce) {
    const std::string fifo = dir_ / "pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(InChild([&] { return Save(fifo, "x") == ERR_WRITEFILE ? 0 : 1; }), 0);
}

// A file adapter that serves no such name leaves the save on the replace
// road: a disk that fills costs the new file, never the old one.
int noneServed = 0;
void* ServeNothing(const char*, int, const qbFileTag*) {
    ++noneServed;
    return nullptr;
}

TEST_F(ReplaceKeepsTest, AnAdapterThatServesNotTheNameLeavesTheOldFileOnAFullDisk) {
    qbAdapterPlugin plugin;
    plugin.name = "nothing";
    plugin.slots.FOpen = ServeNothing;
    ASSERT_EQ(AddAdapterPlugin(kPluginCapsFileAdapter, &plugin), 0);
    const std::string path = dir_.Write("kept.txt", "the old file");
    // Files may grow to 100 bytes (SIGXFSZ ignored): a write past that fails
    // as on a full disk. Each test runs in a process of its own.
    signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit capped = old;
    capped.rlim_cur = 100;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &capped), 0);
    const int err = Save(path, std::string(100000, 'n'), true);
    setrlimit(RLIMIT_FSIZE, &old);
    RemoveAdapterPlugin(kPluginCapsFileAdapter, &plugin);
    EXPECT_NE(err, 0);
    EXPECT_GT(noneServed, 0);
    EXPECT_EQ(ScratchDir::Read(path), "the old file");
    EXPECT_EQ(EntriesIn(dir_.str()), 1u);
}

// A writer ended by a signal while its new file is written (the usual end,
// a closed terminal, a quit key, the file size limit passed, a reader of
// its output gone, a timer, a user's kill) leaves only the old file.
TEST_F(ReplaceKeepsTest, ASignalEndingASaveTakesItsNewFile) {
    const std::string path = dir_.Write("term.txt", "old");
    for (int sig : {SIGTERM, SIGHUP, SIGQUIT, SIGXFSZ, SIGPIPE, SIGALRM, SIGUSR1, SIGUSR2, SIGVTALRM, SIGPROF}) {
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        const pid_t pid = fork();
        if (pid == 0) {
            // No core file from SIGQUIT or SIGXFSZ.
            const rlimit noCore{0, 0};
            setrlimit(RLIMIT_CORE, &noCore);
            // As a player is started: an earlier test here ignores SIGXFSZ.
            signal(sig, SIG_DFL);
            InstallSignalCleanup();
            qbReplaceFile out;
            if (BeginReplaceFile(path.c_str(), qbReplaceOptions{}, &out) != 0 || out.temp.empty()) _exit(1);
            FileWrite(out.file.get(), "partial", 7);
            FileFlush(out.file.get());
            (void)!write(ready[1], "r", 1);
            for (;;) pause();
        }
        close(ready[1]);
        char got = 0;
        ASSERT_EQ(read(ready[0], &got, 1), 1);
        close(ready[0]);
        EXPECT_EQ(EntriesIn(dir_.str()), 2u) << strsignal(sig);
        ASSERT_EQ(kill(pid, sig), 0);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << strsignal(sig);
        EXPECT_EQ(EntriesIn(dir_.str()), 1u) << strsignal(sig);
        EXPECT_EQ(ScratchDir::Read(path), "old");
    }
}

// A signal the player was started with ignored stays ignored: a write to a
// pipe nobody reads is then EPIPE, and the save goes on. A handler set
// before (a profiler's) stays too.
volatile sig_atomic_t handled = 0;

TEST_F(ReplaceKeepsTest, ASignalLeftIgnoredStaysIgnored) {
    const std::string path = dir_.Write("kept.txt", "old");
    EXPECT_EQ(InChild([&] {
                  signal(SIGPIPE, SIG_IGN);
                  signal(SIGPROF, [](int) { handled = 1; });
                  InstallSignalCleanup();
                  raise(SIGPROF);
                  if (!handled) return 3;
                  int ends[2];
                  if (pipe(ends) != 0) return 1;
                  close(ends[0]);
                  if (write(ends[1], "x", 1) != -1 || errno != EPIPE) return 2;
                  return Save(path, "new");
              }),
              0);
    EXPECT_EQ(ScratchDir::Read(path), "new");
}

// A file system with no room for the new file (here: no free inode) has no
// room for the bytes either: the save ends with ERR_WRITE and the old file
// whole, never cut to be written in place. A tmpfs of its own, mounted in
// a mount namespace of the child's, needs root.
TEST_F(ReplaceKeepsTest, NoRoomForTheNewFileKeepsTheOldOneWhole) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root: mounts a tmpfs";
    const std::string mountPoint = dir_ / "full";
    fs::create_directory(mountPoint);
    const std::string old(8004, 'o');
    const int result = InChild([&] {
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return 100;
        if (mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=4m,nr_inodes=16") != 0) return 100;
        const std::string path = mountPoint + "/kept.txt";
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (!f || std::fwrite(old.data(), 1, old.size(), f) != old.size() || std::fclose(f) != 0) return 101;
        // Every inode taken.
        for (int i = 0; i < 64; ++i) {
            const int fd = open((mountPoint + "/filler" + std::to_string(i)).c_str(), O_WRONLY | O_CREAT, 0600);
            if (fd < 0) break;
            close(fd);
        }
        const int err = Save(path, std::string(262144, 'n'));
        const bool whole = ScratchDir::Read(path) == old;
        return err == ERR_WRITE && whole ? 0 : whole ? 1 : 2;
    });
    if (result == 100) GTEST_SKIP() << "no tmpfs could be mounted here";
    EXPECT_EQ(result, 0) << "1: the old file whole but the save did not fail with ERR_WRITE; 2: the old file cut";
}

}  // namespace
