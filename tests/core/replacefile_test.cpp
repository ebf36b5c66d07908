// The replace road: a saved file is a new file renamed over the old one,
// with the old one's owner, group and permissions, under every name the
// file layer opens, and in place where no new file can be made beside it.
#include <grp.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <functional>
#include <string>

#include "core/errcodes.h"
#include "core/file.h"
#include "core/replacefile.h"
#include "platform/platform.h"
#include "scratch.h"

namespace {

namespace fs = std::filesystem;

// The user and group nobody and nogroup.
constexpr uid_t kOther = 65534;

int Save(const std::string& name, const std::string& text) {
    qbReplaceFile out;
    if (int err = BeginReplaceFile(name.c_str(), qbReplaceOptions{}, &out)) return err;
    if (FileWrite(out.file.get(), text.data(), text.size()) != text.size()) return ERR_WRITE;
    return CommitReplaceFile(&out);
}

struct stat StatOf(const std::string& path) {
    struct stat st {};
    lstat(path.c_str(), &st);
    return st;
}

// Runs fn in a child as uid (and group uid): its result, or -1. With
// keepFsetid the child keeps the one right that spares set-ID bits when it
// writes a file (CAP_FSETID), so that only the writer drops them.
int AsUser(uid_t uid, const std::function<int()>& fn, bool keepFsetid = false) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (keepFsetid && prctl(PR_SET_KEEPCAPS, 1, 0, 0, 0) != 0) _exit(97);
        if (setgroups(0, nullptr) != 0 || setresgid(uid, uid, uid) != 0 || setresuid(uid, uid, uid) != 0) _exit(99);
        if (keepFsetid) {
            __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
            __user_cap_data_struct data[2] = {};
            data[0].effective = data[0].permitted = 1u << CAP_FSETID;
            if (syscall(SYS_capset, &header, data) != 0) _exit(98);
        }
        _exit(fn());
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

class ReplaceFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Another user must reach the folders of the tests that run as one.
        fs::permissions(dir_.str(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                        fs::perms::others_read | fs::perms::others_exec);
    }
    ScratchDir dir_;
};

// Run as root, a save keeps a user's file the user's: a private file stays
// readable to its owner, a set-user-ID file stays the owner's program.
TEST_F(ReplaceFileTest, OwnerAndGroupAreKept) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to own files as another user";
    for (mode_t mode : {mode_t{0600}, mode_t{04755}}) {
        const std::string path = dir_.Write("user" + std::to_string(mode), "old");
        ASSERT_EQ(chown(path.c_str(), kOther, kOther), 0);
        ASSERT_EQ(chmod(path.c_str(), mode), 0);
        ASSERT_EQ(Save(path, "new"), 0);
        const struct stat st = StatOf(path);
        EXPECT_EQ(st.st_uid, kOther) << std::oct << mode;
        EXPECT_EQ(st.st_gid, kOther) << std::oct << mode;
        EXPECT_EQ(st.st_mode & 07777, mode) << std::oct << mode;
        EXPECT_EQ(ScratchDir::Read(path), "new");
    }
}

// A user who replaces another's set-ID file (the folder lets them) gets a
// file of their own without the set-ID bits: the new content never runs
// with the old owner's rights. (The system clears the bits itself when a
// writer without CAP_FSETID writes; this writer keeps that right.)
TEST_F(ReplaceFileTest, AnotherUsersReplaceDropsTheSetIdBits) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    const std::string folder = dir_ / "shared";
    fs::create_directories(folder);
    ASSERT_EQ(chmod(folder.c_str(), 0777), 0);
    const std::string path = dir_.Write("shared/tool", "old");
    ASSERT_EQ(chmod(path.c_str(), 06777), 0);
    EXPECT_EQ(AsUser(kOther, [&] { return Save(path, "new") == 0 ? 0 : 1; }, true), 0);
    const struct stat st = StatOf(path);
    EXPECT_EQ(ScratchDir::Read(path), "new");
    EXPECT_EQ(st.st_uid, kOther);
    EXPECT_EQ(st.st_mode & 06000, 0u) << std::oct << st.st_mode;
    EXPECT_EQ(st.st_mode & 0777, 0777u) << std::oct << st.st_mode;
}

// The temporary name fits the longest name a folder holds, however long
// the saved one.
TEST_F(ReplaceFileTest, TheLongestNamesSaveAgain) {
    for (size_t length : {size_t{240}, size_t{250}, size_t{NAME_MAX}}) {
        const std::string path = dir_.Write(std::string(length, 'n'), "old");
        EXPECT_EQ(Save(path, "new"), 0) << length;
        EXPECT_EQ(ScratchDir::Read(path), "new") << length;
        EXPECT_EQ(std::distance(fs::directory_iterator(dir_.str()), fs::directory_iterator{}), 1) << length;
        fs::remove(path);
    }
}

// "PROGDIR:" names the program's folder, as it does to every reader.
TEST_F(ReplaceFileTest, ProgDirIsTheProgramsFolder) {
    char exe[PATH_MAX] = {};
    GetExecutablePath(exe, sizeof exe);
    const std::string name = "qb_replace_" + std::to_string(getpid());
    const std::string path = (fs::path(exe).parent_path() / name).string();
    ASSERT_EQ(Save("PROGDIR:" + name, "old"), 0);
    ASSERT_EQ(Save("PROGDIR:" + name, "new"), 0);
    EXPECT_EQ(ScratchDir::Read(path), "new");
    EXPECT_FALSE(fs::exists("PROGDIR:" + name));
    qbFilePtr back(FileOpen(("PROGDIR:" + name).c_str(), kFileModeRead, nullptr));
    char got[4] = {};
    EXPECT_EQ(back ? FileRead(back.get(), got, 3) : 0u, 3u);
    EXPECT_STREQ(got, "new");
    fs::remove(path);
}

// A link that leads nowhere yet leads to the file the save creates, as an
// open for writing would; the link stays a link.
TEST_F(ReplaceFileTest, ADanglingLinksTargetIsCreated) {
    fs::create_directories(dir_ / "real");
    fs::create_symlink("real/target.txt", dir_ / "link");
    ASSERT_EQ(Save(dir_ / "link", "through"), 0);
    EXPECT_TRUE(fs::is_symlink(dir_ / "link"));
    EXPECT_EQ(ScratchDir::Read(dir_ / "real/target.txt"), "through");
    ASSERT_EQ(Save(dir_ / "link", "again"), 0);
    EXPECT_TRUE(fs::is_symlink(dir_ / "link"));
    EXPECT_EQ(ScratchDir::Read(dir_ / "real/target.txt"), "again");
}

// A writable file in a folder its writer may not write is saved in place.
TEST_F(ReplaceFileTest, AWritableFileInAReadOnlyFolderIsSavedInPlace) {
    const std::string folder = dir_ / "locked";
    const std::string path = dir_.Write("locked/file.txt", "old");
    ASSERT_EQ(chmod(path.c_str(), 0666), 0);
    ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
    const ino_t inode = StatOf(path).st_ino;
    auto save = [&] { return Save(path, "new"); };
    const int result = geteuid() == 0 ? AsUser(kOther, save) : save();
    chmod(folder.c_str(), 0755);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ScratchDir::Read(path), "new");
    EXPECT_EQ(StatOf(path).st_ino, inode);
}

}  // namespace
