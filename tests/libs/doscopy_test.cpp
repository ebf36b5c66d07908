// CopyFile and DeleteFile: trees, filters, the callback's answers, and the
// cases that used to lose data or never end.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "core/errcodes.h"
#include "counted_fifo.h"
#include "dos_fixture.h"

namespace {

namespace fs = std::filesystem;

// What the callbacks saw: one "action:file" line per call.
std::vector<std::string> seen;
double answerOverwrite = 1;
double answerStatus = 0;

int Record(ScriptState* L) {
    VmPushString(L, "action");
    VmGetTableAt(L, 1);
    const int action = static_cast<int>(VmToNumber(L, -1));
    for (const char* key : {"destination", "file"}) {
        VmPushString(L, key);
        VmGetTableAt(L, 1);
        if (VmType(L, -1) == kTypeString) seen.push_back(std::to_string(action) + ":" + fs::path(VmToCString(L, -1)).filename().string());
    }
    return action;
}

int CopyAnswers(ScriptState* L) {
    const int action = Record(L);
    VmPushNumber(L, action == 0 ? answerStatus : answerOverwrite);
    return 1;
}

class DosCopyTest : public dostest::DosFixture {
protected:
    void SetUp() override {
        DosFixture::SetUp();
        seen.clear();
        answerOverwrite = 1;
        answerStatus = 0;
    }
    // Calls the command with a callback in place callbackAt (1-based) of args.
    int CallBack(const char* command, std::vector<dostest::Arg> args, size_t callbackAt) {
        VmSetTop(L, 0);
        for (size_t i = 0; i < args.size(); ++i) {
            if (i + 1 == callbackAt)
                VmPushCClosure(L, CopyAnswers, 0);
            else
                Push(args[i]);
        }
        return CallCommand(L, command, static_cast<int>(args.size()), 0);
    }
    static std::string Read(const std::string& p) { return ScratchDir::Read(p); }
    static mode_t Mode(const std::string& p) {
        struct stat st {};
        stat(p.c_str(), &st);
        return st.st_mode & 07777;
    }
};

TEST_F(DosCopyTest, AFileKeepsItsDateAndModeInAFolderMadeForIt) {
    const std::string src = dir_.Write("src.bin", std::string(40000, 'q'));
    chmod(src.c_str(), 0640);
    fs::last_write_time(src, fs::file_time_type::clock::now() - std::chrono::hours(30 * 24));
    ASSERT_EQ(Call("CopyFile", {src, dir_ / "out/deeper"}), 0);
    const std::string dst = dir_ / "out/deeper/src.bin";
    EXPECT_EQ(Read(dst), std::string(40000, 'q'));
    EXPECT_EQ(Mode(dst), 0640u);
    struct stat a {}, b {};
    stat(src.c_str(), &a);
    stat(dst.c_str(), &b);
    EXPECT_EQ(a.st_mtim.tv_sec, b.st_mtim.tv_sec);

    // A new name; the same file as its own destination is refused intact.
    ASSERT_EQ(Call("CopyFile", {src, dir_ / "out", std::string("renamed.bin")}), 0);
    EXPECT_TRUE(fs::exists(dir_ / "out/renamed.bin"));
    EXPECT_EQ(Call("CopyFile", {src, dir_.str()}), ERR_WRONGUSAGE);
    EXPECT_EQ(fs::file_size(src), 40000u);

    EXPECT_EQ(Call("CopyFile", {src, dir_ / "out", nullptr, nullptr, nullptr, std::string("*.bin")}),
              ERR_NODIRPATTERN);
    EXPECT_EQ(Call("CopyFile", {dir_ / "out", dir_ / "other", std::string("x")}), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("CopyFile", {dir_ / "none", dir_ / "out"}), ERR_READFILE);
    EXPECT_EQ(Call("CopyFile", {std::string(), dir_ / "out"}), ERR_WRONGUSAGE);
}

// A new name that leads nowhere writes nothing: into a folder that does
// not exist, or a name that is no entry of the folder.
TEST_F(DosCopyTest, ANewNameOutsideAnyFolderIsRefused) {
    const std::string src = dir_.Write("src.bin", "abc");
    ASSERT_EQ(Call("CopyFile", {src, dir_ / "out", std::string("sub/in.bin")}), ERR_WRITEFILE);
    ASSERT_EQ(Call("CopyFile", {src, dir_ / "out", std::string("..")}), ERR_WRITEFILE);
    EXPECT_FALSE(fs::exists(dir_ / "out/sub"));
    EXPECT_EQ(Read(src), "abc");
    fs::create_directory(dir_ / "out/sub");
    ASSERT_EQ(Call("CopyFile", {src, dir_ / "out", std::string("sub/in.bin")}), 0);
    EXPECT_EQ(Read(dir_ / "out/sub/in.bin"), "abc");
}

TEST_F(DosCopyTest, TheCallbackSkipsAbortsAndHearsEveryBlock) {
    const std::string src = dir_.Write("tree/a.bin", std::string(40000, 'a'));
    dir_.Write("tree/sub/b.txt", "bee");
    dir_.Write("dest/a.bin", "old");
    answerOverwrite = 0;  // keep existing files
    ASSERT_EQ(CallBack("CopyFile", {dir_ / "tree", dir_ / "dest", nullptr, nullptr}, 4), 0);
    EXPECT_EQ(Read(dir_ / "dest/a.bin"), "old");
    EXPECT_EQ(Read(dir_ / "dest/sub/b.txt"), "bee");
    EXPECT_FALSE(fs::exists(dir_ / "dest/tree")) << "the folder's contents go in, not the folder";

    // Overwriting: three status calls for 40000 bytes in 16384-byte blocks.
    seen.clear();
    answerOverwrite = 1;
    ASSERT_EQ(CallBack("CopyFile", {src, dir_ / "dest", nullptr, nullptr}, 4), 0);
    EXPECT_EQ(seen, (std::vector<std::string>{"1:a.bin", "0:a.bin", "0:a.bin", "0:a.bin"}));
    EXPECT_EQ(fs::file_size(dir_ / "dest/a.bin"), 40000u);

    // A status answer of 1 stops after the first block; no partial file, no error.
    answerStatus = 1;
    ASSERT_EQ(CallBack("CopyFile", {src, dir_ / "fresh", nullptr, nullptr}, 4), 0);
    EXPECT_FALSE(fs::exists(dir_ / "fresh/a.bin"));
    EXPECT_EQ(fs::directory_iterator(dir_ / "fresh"), fs::directory_iterator());
}

TEST_F(DosCopyTest, ProtectedDestinationsLoopsAndSelfCopies) {
    const std::string src = dir_.Write("tree/a.txt", "new");
    const std::string dst = dir_.Write("ro/a.txt", "old");
    chmod(dst.c_str(), 0444);
    {
        ASSERT_EQ(Call("CopyFile", {src, dir_ / "ro"}), 0);
        EXPECT_EQ(Read(dst), "old") << "skipped without a callback";
        seen.clear();
        ASSERT_EQ(CallBack("CopyFile", {src, dir_ / "ro", nullptr, nullptr}, 4), 0);
        EXPECT_EQ(Read(dst), "new");
        EXPECT_EQ(seen.at(1), "2:a.txt");
    }
    fs::create_symlink(dir_ / "tree", dir_ / "tree/loop");
    ASSERT_EQ(Call("CopyFile", {dir_ / "tree", dir_ / "copy"}), 0);
    EXPECT_TRUE(fs::exists(dir_ / "copy/a.txt"));
    EXPECT_FALSE(fs::exists(dir_ / "copy/loop")) << "a link back to a folder being copied is not entered";
    EXPECT_EQ(Call("CopyFile", {dir_ / "tree", dir_ / "tree/inner"}), ERR_WRONGUSAGE);
    EXPECT_FALSE(fs::exists(dir_ / "tree/inner"));
}

TEST_F(DosCopyTest, DeletingByPatternAndSeparator) {
    for (const char* f : {"t/a.tmp", "t/b.txt", "t/s/c.tmp", "t/s/d.txt"}) dir_.Write(f, "x");
    const std::string outside = dir_.Write("outside/keep.tmp", "x");
    fs::create_symlink(dir_ / "outside", dir_ / "t/link");

    ASSERT_EQ(Call("DeleteFile", {dir_ / "t", nullptr, nullptr, std::string("*.tmp")}), 0);
    EXPECT_FALSE(fs::exists(dir_ / "t/a.tmp"));
    EXPECT_TRUE(fs::exists(dir_ / "t/s/c.tmp")) << "no subfolder name matches *.tmp";
    ASSERT_EQ(Call("DeleteFile", {dir_ / "t", nullptr, nullptr, std::string("*.tmp"), 0.0}), 0);
    EXPECT_FALSE(fs::exists(dir_ / "t/s/c.tmp"));
    EXPECT_TRUE(fs::exists(dir_ / "t/s/d.txt"));
    EXPECT_TRUE(fs::exists(outside)) << "a link to a folder outside is not followed";
    EXPECT_EQ(Call("DeleteFile", {dir_ / "t/b.txt", nullptr, nullptr, std::string("*")}), ERR_NODIRPATTERN);

    seen.clear();
    ASSERT_EQ(CallBack("DeleteFile", {dir_ / "t/", nullptr}, 2), 0);
    EXPECT_TRUE(fs::is_directory(dir_ / "t"));
    EXPECT_EQ(fs::directory_iterator(dir_ / "t"), fs::directory_iterator());
    EXPECT_TRUE(fs::exists(outside));
    EXPECT_EQ(seen.size(), 3u);  // b.txt, link and s/d.txt
    ASSERT_EQ(Call("DeleteFile", {dir_ / "t"}), 0);
    EXPECT_FALSE(fs::exists(dir_ / "t"));
    EXPECT_EQ(Call("DeleteFile", {dir_ / "t"}), ERR_LOCK2);
    EXPECT_EQ(Call("DeleteFile", {std::string()}), ERR_WRONGUSAGE);
}

// DeleteFile asks of every kind of entry what the callback answers: a
// read-only file is asked about first ("action" 1: -1 aborts, 0 skips, else
// it is unprotected), every file is announced ("action" 0: 1 aborts), a
// link goes as itself (never asked about what it leads to), a missing
// name asks nothing. By name and inside a folder.
TEST_F(DosCopyTest, DeleteAsksTheCallbackOfEveryKindOfEntry) {
    const auto fresh = [&](const std::string& folder) {
        const std::string ro = dir_.Write(folder + "/ro.txt", "r");
        chmod(ro.c_str(), 0444);
        dir_.Write(folder + "/rw.txt", "w");
        const std::string target = dir_.Write("target.txt", "t");
        chmod(target.c_str(), 0444);
        const std::string link = dir_ / (folder + "/link");
        fs::remove(link);
        fs::create_symlink(target, link);
    };
    const auto del = [&](const std::string& name, double protect, double status) {
        seen.clear();
        answerOverwrite = protect;
        answerStatus = status;
        return CallBack("DeleteFile", {dir_ / name, nullptr}, 2);
    };
    using Seen = std::vector<std::string>;
    const std::string ro = dir_ / "f/ro.txt";

    fresh("f");
    for (const double protect : {-1.0, 0.0}) {
        EXPECT_EQ(del("f/ro.txt", protect, 0), 0);
        EXPECT_EQ(seen, Seen{"1:ro.txt"}) << protect;
        EXPECT_EQ(Mode(ro), 0444u) << protect;
    }
    // Unprotected, then the announcement aborts: the file stays, writable.
    EXPECT_EQ(del("f/ro.txt", 1, 1), 0);
    EXPECT_EQ(seen, (Seen{"1:ro.txt", "0:ro.txt"}));
    EXPECT_EQ(Mode(ro), 0644u);
    chmod(ro.c_str(), 0444);
    EXPECT_EQ(del("f/ro.txt", 2, 0), 0);
    EXPECT_EQ(seen, (Seen{"1:ro.txt", "0:ro.txt"}));
    EXPECT_FALSE(fs::exists(ro));
    EXPECT_EQ(del("f/rw.txt", 0, 1), 0);
    EXPECT_EQ(seen, Seen{"0:rw.txt"});
    EXPECT_TRUE(fs::exists(dir_ / "f/rw.txt"));
    EXPECT_EQ(del("f/link", 0, 0), 0);
    EXPECT_EQ(seen, Seen{"0:link"});
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir_ / "f/link")));
    EXPECT_EQ(Mode(dir_ / "target.txt"), 0444u);
    EXPECT_EQ(del("f/missing", 1, 0), ERR_LOCK2);
    EXPECT_TRUE(seen.empty());
    // A failing callback is the command's error, and nothing goes.
    fresh("f");
    VmSetTop(L, 0);
    Push(dir_ / "f/rw.txt");
    VmPushCClosure(L, [](ScriptState* S) -> int { VmRaiseError(S, ERR_WRONGUSAGE); }, 0);
    EXPECT_EQ(CallCommand(L, "DeleteFile", 2, 0), ERR_WRONGUSAGE);
    EXPECT_TRUE(fs::exists(dir_ / "f/rw.txt"));
    // Without a callback a read-only file goes unasked.
    ASSERT_EQ(Call("DeleteFile", {ro}), 0);
    EXPECT_FALSE(fs::exists(ro));

    // In a folder: each read-only file asked about, every file announced.
    const auto sorted = [] {
        Seen s = seen;
        std::sort(s.begin(), s.end());
        return s;
    };
    fresh("t");
    dir_.Write("t/sub/deep.txt", "d");
    chmod((dir_ / "t/sub/deep.txt").c_str(), 0400);
    EXPECT_EQ(del("t", 1, 0), 0);
    EXPECT_EQ(sorted(), (Seen{"0:deep.txt", "0:link", "0:ro.txt", "0:rw.txt", "1:deep.txt", "1:ro.txt"}));
    EXPECT_FALSE(fs::exists(dir_ / "t"));
    EXPECT_TRUE(fs::exists(dir_ / "target.txt"));
    // A skipped file stays, and so does its folder, which cannot go.
    fresh("t");
    EXPECT_EQ(del("t", 0, 0), ERR_DELETEFILE);
    EXPECT_EQ(sorted(), (Seen{"0:link", "0:rw.txt", "1:ro.txt"}));
    EXPECT_EQ(fs::directory_iterator(dir_ / "t")->path().filename(), "ro.txt");
    // An abort at either question ends the walk at that file, no error.
    fresh("t");
    EXPECT_EQ(del("t", -1, 0), 0);
    EXPECT_TRUE(fs::exists(dir_ / "t/ro.txt"));
    EXPECT_EQ(seen.back(), "1:ro.txt");
    EXPECT_EQ(std::count(seen.begin(), seen.end(), "1:ro.txt"), 1);
    EXPECT_EQ(del("t", 1, 1), 0);
    EXPECT_EQ(fs::is_empty(dir_ / "t"), false);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().substr(0, 2), "0:");
    EXPECT_EQ(std::count_if(seen.begin(), seen.end(), [](const std::string& e) { return e[0] == '0'; }), 1);
}

TEST_F(DosCopyTest, PipesAreNeverOpenedAndDanglingLinksGoWithTheirTree) {
    dir_.Write("tree/a.txt", "a");
    dir_.Write("tree/sub/b.txt", "b");
    fs::create_symlink(dir_ / "nowhere", dir_ / "tree/sub/dangling");
    {
        CountedFifo fifo(dir_ / "tree/sub/pipe");
        ASSERT_TRUE(fifo.made());
        ASSERT_EQ(Call("CopyFile", {dir_ / "tree", dir_ / "copy"}), 0);
        EXPECT_EQ(Read(dir_ / "copy/sub/b.txt"), "b");
        EXPECT_FALSE(fs::exists(fs::symlink_status(dir_ / "copy/sub/pipe")));
        EXPECT_FALSE(fs::exists(fs::symlink_status(dir_ / "copy/sub/dangling")));
        EXPECT_EQ(Call("CopyFile", {dir_ / "tree/sub/pipe", dir_ / "single"}), ERR_READFILE);
        EXPECT_EQ(fifo.Readers(), 0) << "a FIFO was opened for reading";
    }
    // The link and the FIFO go as themselves, so their folder can go too.
    ASSERT_EQ(Call("DeleteFile", {dir_ / "tree"}), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir_ / "tree")));
}

}  // namespace
