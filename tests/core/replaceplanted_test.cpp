// What another user plants where a replace writes: a link at the new file's
// name between its making and its writing, and, in a folder everybody may
// write and only owners may delete from (the system's temporary folder), a
// link or a file of theirs at the name written. Nothing is written through,
// nothing changes hands.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include "core/errcodes.h"
#include "core/file.h"
#include "core/replacefile.h"
#include "scratch.h"

namespace {

namespace fs = std::filesystem;

// What the hooks do between the making of the new file and its writing, and
// between the look at a file written in place and its opening.
std::function<void(const char*)> afterMaking;

}  // namespace

void AfterMakingNewFile(const char* temp) {
    if (afterMaking) afterMaking(temp);
}

void BeforeOpeningInPlace(const char* path) {
    if (afterMaking) afterMaking(path);
}

namespace {

// The user and group nobody and nogroup.
constexpr uid_t kOther = 65534;

int Save(const std::string& name, const std::string& text) {
    qbReplaceFile out;
    if (int err = BeginReplaceFile(name.c_str(), qbReplaceOptions{}, &out)) return err;
    if (FileWrite(out.file.get(), text.data(), text.size()) != text.size()) return ERR_WRITE;
    if (!FileFlush(out.file.get())) return ERR_WRITE;
    return CommitReplaceFile(&out);
}

class ReplacePlantedTest : public ::testing::Test {
protected:
    void TearDown() override { afterMaking = nullptr; }
    ScratchDir dir_;
};

TEST_F(ReplacePlantedTest, ALinkPlantedAtTheNewFilesNameIsNeverWrittenThrough) {
    const std::string outside = dir_.Write("outside", "root's");
    const std::string target = dir_.Write("copy", "old");
    int planted = 0;
    afterMaking = [&](const char* temp) {
        ++planted;
        ASSERT_EQ(rename(temp, (dir_ / "moved").c_str()), 0);
        ASSERT_EQ(symlink(outside.c_str(), temp), 0);
    };
    EXPECT_EQ(Save(target, "new"), ERR_WRITE);
    EXPECT_EQ(planted, 1);
    EXPECT_EQ(ScratchDir::Read(outside), "root's");
    // What took the new file's name never takes the target's.
    EXPECT_EQ(ScratchDir::Read(target), "old");
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(target)));
}

// A file with two names is written in place: a link put at the name after
// the look leads nowhere.
TEST_F(ReplacePlantedTest, ALinkPutInPlaceOfAFileWrittenInPlaceIsNeverWrittenThrough) {
    const std::string outside = dir_.Write("outside", "root's");
    const std::string target = dir_.Write("shared", "old");
    ASSERT_EQ(link(target.c_str(), (dir_ / "other name").c_str()), 0);
    int planted = 0;
    afterMaking = [&](const char* path) {
        ++planted;
        ASSERT_EQ(unlink(path), 0);
        ASSERT_EQ(symlink(outside.c_str(), path), 0);
    };
    EXPECT_EQ(Save(target, "new"), ERR_WRITEFILE);
    EXPECT_EQ(planted, 1);
    EXPECT_EQ(ScratchDir::Read(outside), "root's");
    EXPECT_EQ(ScratchDir::Read(dir_ / "other name"), "old");
}

// As root, in a sticky folder everybody may write, with the kernel's own
// protections (fs.protected_symlinks, fs.protected_regular) on or off.
TEST_F(ReplacePlantedTest, AnotherUsersLinkOrFileInAStickyFolderIsRefused) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root: the planted link and file belong to another user";
    const std::string sticky = dir_ / "tmp";
    fs::create_directory(sticky);
    ASSERT_EQ(chmod(sticky.c_str(), 01777), 0);
    const std::string rootOnly = dir_.Write("private/secret", "root's");
    ASSERT_EQ(chmod((dir_ / "private").c_str(), 0700), 0);

    const std::string link = sticky + "/report";
    ASSERT_EQ(symlink(rootOnly.c_str(), link.c_str()), 0);
    ASSERT_EQ(lchown(link.c_str(), kOther, kOther), 0);
    EXPECT_EQ(Save(link, "root's text"), ERR_WRITEFILE);
    EXPECT_EQ(ScratchDir::Read(rootOnly), "root's");
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(link)));

    const std::string planted = sticky + "/log";
    std::string text = "the user's";
    ASSERT_EQ(ScratchDir::Read(dir_.Write("tmp/log", text)), text);
    ASSERT_EQ(chown(planted.c_str(), kOther, kOther), 0);
    ASSERT_EQ(chmod(planted.c_str(), 0666), 0);
    EXPECT_EQ(Save(planted, "root's text"), ERR_WRITEFILE);
    struct stat st;
    ASSERT_EQ(stat(planted.c_str(), &st), 0);
    EXPECT_EQ(ScratchDir::Read(planted), text);
    EXPECT_EQ(st.st_uid, kOther);
    // Nothing else was left in the folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(sticky), fs::directory_iterator{}), 2);

    // A link of the writer's own there still leads to its target, and a
    // file of its own is replaced.
    const std::string own = sticky + "/own";
    ASSERT_EQ(symlink(rootOnly.c_str(), own.c_str()), 0);
    EXPECT_EQ(Save(own, "replaced"), 0);
    EXPECT_EQ(ScratchDir::Read(rootOnly), "replaced");
}

}  // namespace
