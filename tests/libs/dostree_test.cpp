// CopyFile and DeleteFile in a tree someone changes during the walk: a
// folder swapped for a link leads nowhere outside the tree. A deep tree
// costs its depth. A copy reads the file its name leads the file layer to.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "core/errcodes.h"
#include "core/filenames.h"
#include "core/folderfd.h"
#include "dos_fixture.h"

namespace {

namespace fs = std::filesystem;

// What the walk's hook does between listing a folder and entering one.
std::function<void(int, const char*)> beforeEntering;

}  // namespace

void BeforeEnteringFolder(int parent, const char* name) {
    if (beforeEntering) beforeEntering(parent, name);
}

namespace {

class DosTreeTest : public dostest::DosFixture {
protected:
    void TearDown() override {
        beforeEntering = nullptr;
        DosFixture::TearDown();
    }
};

TEST_F(DosTreeTest, AFolderSwappedForALinkDuringTheWalkIsNeverEntered) {
    const std::string outside = dir_ / "outside";
    dir_.Write("outside/keep1", "one");
    dir_.Write("outside/keep2", "two");
    dir_.Write("t/a", "a");
    dir_.Write("t/sub/b", "b");
    int swaps = 0;
    beforeEntering = [&](int parent, const char* name) {
        if (std::string(name) != "sub") return;
        ++swaps;
        ASSERT_EQ(renameat(parent, "sub", AT_FDCWD, (dir_ / "away").c_str()), 0);
        ASSERT_EQ(symlinkat(outside.c_str(), parent, "sub"), 0);
    };
    ASSERT_EQ(Call("DeleteFile", {dir_ / "t"}), 0);
    EXPECT_EQ(swaps, 1);
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir_ / "t"))) << "the link went as a link";
    EXPECT_EQ(ScratchDir::Read(dir_ / "outside/keep1"), "one");
    EXPECT_EQ(ScratchDir::Read(dir_ / "outside/keep2"), "two");

    // The copy's side: a folder it made, swapped before it is entered.
    fs::remove_all(dir_ / "away");
    dir_.Write("src/sub/c", "c");
    swaps = 0;
    beforeEntering = [&](int parent, const char* name) {
        if (std::string(name) != "sub") return;
        ++swaps;
        ASSERT_EQ(unlinkat(parent, "sub", AT_REMOVEDIR), 0);
        ASSERT_EQ(symlinkat(outside.c_str(), parent, "sub"), 0);
    };
    EXPECT_EQ(Call("CopyFile", {dir_ / "src", dir_ / "dest"}), ERR_CREATEDIR);
    EXPECT_EQ(swaps, 1);
    EXPECT_FALSE(fs::exists(dir_ / "outside/c"));
    // A link already on the destination side is not written through.
    beforeEntering = nullptr;
    fs::remove(dir_ / "dest/sub");
    fs::create_directory(dir_ / "dest/sub");
    fs::create_symlink(dir_ / "outside/keep1", dir_ / "dest/sub/c");
    EXPECT_EQ(Call("CopyFile", {dir_ / "src", dir_ / "dest"}), ERR_WRITEFILE);
    EXPECT_EQ(ScratchDir::Read(dir_ / "outside/keep1"), "one");
}

TEST_F(DosTreeTest, ADeepTreeCopiesWithoutWalkingEveryPrefix) {
    // 400 levels: a copy that examines every prefix of every folder it
    // makes takes over a minute; one that makes each in its open parent, a
    // fraction of a second. The deadline is one only that cost misses.
    fs::path deep = dir_ / "src";
    for (int i = 0; i < 400; ++i) deep /= "d";
    fs::create_directories(deep);
    dir_.Write((deep / "leaf").string().substr(dir_.str().size() + 1), "leaf");
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(Call("CopyFile", {dir_ / "src", dir_ / "dest"}), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    std::string copied = dir_ / "dest";
    for (int i = 0; i < 400; ++i) copied += "/d";
    EXPECT_EQ(ScratchDir::Read(copied + "/leaf"), "leaf");
}

// Each folder a copy makes takes its source's mode under the umask, as
// `cp -r` does, once it is filled; until then it is its maker's alone, so a
// private tree is never readable by others on the way.
TEST_F(DosTreeTest, ACopiedTreeKeepsItsFoldersPrivate) {
    dir_.Write("src/private/note", "mine");
    dir_.Write("src/private/shared/inner", "ours");
    dir_.Write("src/readonly/kept", "kept");
    const std::string src = dir_ / "src";
    ASSERT_EQ(chmod(src.c_str(), 0750), 0);
    ASSERT_EQ(chmod((dir_ / "src/private").c_str(), 0700), 0);
    ASSERT_EQ(chmod((dir_ / "src/private/shared").c_str(), 0775), 0);
    ASSERT_EQ(chmod((dir_ / "src/readonly").c_str(), 0555), 0);
    const mode_t mask = umask(022);
    int entered = 0, open = 0;
    beforeEntering = [&](int parent, const char* name) {
        struct stat st;
        if (fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return;
        ++entered;
        open += (st.st_mode & 0077) != 0;
    };
    const int err = Call("CopyFile", {src, dir_ / "dest"});
    umask(mask);
    ASSERT_EQ(err, 0);
    EXPECT_EQ(entered, 3);  // the folders made inside the copy
    EXPECT_EQ(open, 0) << "a folder was open to others while it was filled";
    auto mode = [&](const char* name) {
        struct stat st;
        return stat((dir_ / name).c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
    };
    EXPECT_EQ(mode("dest"), 0750u);
    EXPECT_EQ(mode("dest/private"), 0700u);
    EXPECT_EQ(mode("dest/private/shared"), 0755u);  // 0775 under the umask
    EXPECT_EQ(mode("dest/readonly"), 0555u);
    EXPECT_EQ(ScratchDir::Read(dir_ / "dest/private/shared/inner"), "ours");
    EXPECT_EQ(ScratchDir::Read(dir_ / "dest/readonly/kept"), "kept");
    // A folder that was there before keeps its own mode.
    ASSERT_EQ(chmod((dir_ / "dest/private").c_str(), 0711), 0);
    ASSERT_EQ(Call("CopyFile", {src, dir_ / "dest"}), 0);
    EXPECT_EQ(mode("dest/private"), 0711u);
    ASSERT_EQ(chmod((dir_ / "dest/readonly").c_str(), 0755), 0);
    ASSERT_EQ(chmod((dir_ / "src/readonly").c_str(), 0755), 0);
}

// A name that is no UTF-8 ("caf\xe9", as ISO 8859-1 spells it) is copied as
// it is spelt, and beside its UTF-8 twin ("caf\xc3\xa9") each is copied once.
TEST_F(DosTreeTest, ACopyKeepsEveryNameByteForByte) {
    const std::string latin1 = "caf\xe9", utf8 = "caf\xc3\xa9";
    dir_.Write("src/" + latin1, "latin-1");
    dir_.Write("src/sub/" + latin1, "inner");
    ASSERT_EQ(Call("CopyFile", {dir_ / "src", dir_ / "dest"}), 0);
    EXPECT_EQ(ScratchDir::Read(dir_ / ("dest/" + latin1)), "latin-1");
    EXPECT_EQ(ScratchDir::Read(dir_ / ("dest/sub/" + latin1)), "inner");
    EXPECT_FALSE(fs::exists(dir_ / ("dest/" + utf8)));

    dir_.Write("twins/" + latin1, "latin-1");
    dir_.Write("twins/" + utf8, "utf-8");
    ASSERT_EQ(Call("CopyFile", {dir_ / "twins", dir_ / "both"}), 0);
    EXPECT_EQ(ScratchDir::Read(dir_ / ("both/" + latin1)), "latin-1");
    EXPECT_EQ(ScratchDir::Read(dir_ / ("both/" + utf8)), "utf-8");
}

TEST_F(DosTreeTest, AProgDirSourceCopiesTheFileBesideTheProgram) {
    // A file named as the file layer reads it, and a decoy in the current
    // folder that bears the unexpanded name.
    const std::string name = "qb_progdir_" + std::to_string(getpid());
    const std::string real = NativePathOf(("PROGDIR:" + name).c_str());
    std::ofstream(real, std::ios::binary) << "beside the program";
    const fs::path cwd = fs::current_path();
    fs::current_path(dir_.str());
    dir_.Write("PROGDIR:" + name, "decoy");
    const int err = Call("CopyFile", {"PROGDIR:" + name, dir_ / "dest"});
    fs::current_path(cwd);
    fs::remove(real);
    ASSERT_EQ(err, 0);
    EXPECT_EQ(ScratchDir::Read(dir_ / ("dest/" + name)), "beside the program");
}

}  // namespace
