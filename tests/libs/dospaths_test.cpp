// The dos library's wildcards, paths, directory objects, attributes and
// volumes.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/errcodes.h"
#include "core/filenames.h"
#include "dos_fixture.h"
#include "libs/wildcard.h"

namespace {

namespace fs = std::filesystem;
class DosPathsTest : public dostest::DosFixture {
protected:
    // Pushes field key of the table at idx.
    void VmGetField(ScriptState* state, int idx, const char* key) {
        ASSERT_TRUE(VmCheckStack(state, 2));
        VmPushString(state, key);
        VmGetTableAt(state, idx);
    }
};

TEST(Wildcards, SetsDigitsStarsAndLists) {
    EXPECT_TRUE(WildcardMatch("file##.txt", "file12.txt"));
    EXPECT_FALSE(WildcardMatch("file#.txt", "file12.txt"));
    EXPECT_TRUE(MatchPatternList("*.png;*.txt", "file12.txt"));
    EXPECT_TRUE(WildcardMatch("[!a-c]x", "dx"));
    EXPECT_FALSE(WildcardMatch("[!a-c]x", "bx"));
    EXPECT_TRUE(WildcardMatch("[-z]", "-"));
    EXPECT_TRUE(WildcardMatch("[a-]", "-"));
    EXPECT_FALSE(WildcardMatch("[c-a]", "b"));  // no range: c, - and a
    EXPECT_TRUE(WildcardMatch("[c-a]", "-"));
    EXPECT_FALSE(WildcardMatch("*.TXT", "a.txt"));
    EXPECT_FALSE(MatchPatternList("", "a"));
    EXPECT_TRUE(WildcardMatch("*", ""));
    EXPECT_TRUE(WildcardMatch("a*?b*", "axxb"));
    EXPECT_FALSE(WildcardMatch("a*?b", "ab"));
    EXPECT_TRUE(WildcardMatch("*a*b*c*", "xxaxbxxcx"));
    // An unterminated set is a literal "[" and nothing past the end is read.
    EXPECT_TRUE(WildcardMatch("[abc", "[abc"));
    EXPECT_FALSE(WildcardMatch("[abc", "a"));
    EXPECT_TRUE(WildcardMatch("x[!", "x[!"));
}

TEST(Wildcards, ManyStarsStayFastAndLongListsWork) {
    const std::string name(255, 'a');
    const std::string stars = std::string(60, '*') + "b";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(WildcardMatch(stars, name));
    EXPECT_FALSE(WildcardMatch(std::string(30, '*') + "a?" + std::string(30, '*') + "b", name));
    // Backtracking over every star would take longer than anyone waits.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    std::string list;
    while (list.size() < 3000) list += "*.tmp;[xyz;";
    EXPECT_FALSE(MatchPatternList(list, "a.txt"));
    EXPECT_TRUE(MatchPatternList(list + "*.txt", "a.txt"));
}

TEST_F(DosPathsTest, MatchPatternAndPathParts) {
    ASSERT_EQ(Call("MatchPattern", {std::string("file12.txt"), std::string("*.png;file##.txt")}), 0);
    EXPECT_EQ(Num(1), 1);
    ASSERT_EQ(Call("PathPart", {std::string("a/b/c.txt")}), 0);
    EXPECT_EQ(Str(1), "a/b/");
    ASSERT_EQ(Call("PathPart", {std::string("c.txt")}), 0);
    EXPECT_EQ(Str(1), "");
    ASSERT_EQ(Call("FilePart", {std::string("a/b/c.txt")}), 0);
    EXPECT_EQ(Str(1), "c.txt");
    ASSERT_EQ(Call("FullPath", {std::string("a/b"), std::string("c.txt")}), 0);
    EXPECT_EQ(Str(1), "a/b/c.txt");
    const std::string longPath(5000, 'd');
    ASSERT_EQ(Call("FullPath", {longPath, std::string("e")}), 0);
    EXPECT_EQ(Str(1), longPath + "/e");
}

TEST_F(DosPathsTest, FilesFoldersAndRenames) {
    dir_.Write("d/b.txt", "12345");
    dir_.Write("d/a.txt", "1");
    fs::create_directories(dir_ / "d/sub");
    ASSERT_EQ(Call("FileSize", {dir_ / "d/b.txt"}), 0);
    EXPECT_EQ(Num(1), 5);
    ASSERT_EQ(Call("FileSize", {dir_ / "d"}), 0);
    EXPECT_EQ(Num(1), -1);
    ASSERT_EQ(Call("FileSize", {std::string()}), 0);
    EXPECT_EQ(Num(1), -1);
    ASSERT_EQ(Call("Exists", {dir_ / "d/a.txt"}), 0);
    EXPECT_EQ(Num(1), 1);
    ASSERT_EQ(Call("Exists", {dir_ / "none"}), 0);
    EXPECT_EQ(Num(1), 0);
    ASSERT_EQ(Call("IsDirectory", {dir_ / "d"}), 0);
    EXPECT_EQ(Num(1), 1);
    EXPECT_EQ(Call("IsDirectory", {dir_ / "none"}), ERR_STAT);
    EXPECT_EQ(Detail(), dir_ / "none");

    // ReadDirectory: lists from index 0, sorted, ended by "".
    VmSetTop(L, 0);
    VmPushNewTable(L);
    VmPushNewTable(L);
    VmPushString(L, (dir_ / "d").c_str());
    VmPushValue(L, 1);
    VmPushValue(L, 2);
    ASSERT_EQ(CallCommand(L, "ReadDirectory", 3, kMultRet), 0);
    EXPECT_EQ(Num(3), 2);
    EXPECT_EQ(Num(4), 1);
    VmRawGetIndex(L, 1, 0);
    VmRawGetIndex(L, 1, 1);
    VmRawGetIndex(L, 1, 2);
    VmRawGetIndex(L, 2, 0);
    EXPECT_EQ(Str(5) + "," + Str(6) + "," + Str(7) + "," + Str(8), "a.txt,b.txt,,sub");

    // Rename keeps the folder; MakeDirectory makes the parents.
    ASSERT_EQ(Call("Rename", {dir_ / "d/b.txt", std::string("c/renamed.txt")}), 0);
    EXPECT_TRUE(fs::exists(dir_ / "d/renamed.txt"));
    EXPECT_EQ(Call("Rename", {std::string(), std::string("x")}), ERR_WRONGUSAGE);
    // A taken name is refused, a file or a folder; neither file changes.
    EXPECT_EQ(Call("Rename", {dir_ / "d/renamed.txt", std::string("a.txt")}), ERR_RENAME);
    EXPECT_EQ(Call("Rename", {dir_ / "d/sub", std::string("a.txt")}), ERR_RENAME);
    EXPECT_EQ(ScratchDir::Read(dir_ / "d/renamed.txt"), "12345");
    EXPECT_EQ(ScratchDir::Read(dir_ / "d/a.txt"), "1");
    EXPECT_TRUE(fs::is_directory(dir_ / "d/sub"));
    ASSERT_EQ(Call("MakeDirectory", {dir_ / "x/y/z"}), 0);
    EXPECT_TRUE(fs::is_directory(dir_ / "x/y/z"));
    EXPECT_EQ(Call("MakeDirectory", {dir_ / "d/a.txt/q"}), ERR_CREATEDIR);
    EXPECT_EQ(Call("MakeDirectory", {std::string()}), ERR_WRONGUSAGE);
}

TEST_F(DosPathsTest, DirectoryObjects) {
    dir_.Write("one.txt", "x");
    ASSERT_EQ(Call("OpenDirectory", {nullptr, dir_.str()}), 0);
    void* handle = Handle(1);
    ASSERT_EQ(Call("NextDirectoryEntry", {handle}), 0);
    ASSERT_EQ(VmType(L, 1), kTypeTable);
    VmGetField(L, 1, "name");
    EXPECT_EQ(Str(-1), "one.txt");
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(Call("NextDirectoryEntry", {handle}), 0);
        EXPECT_EQ(VmGetTop(L), 0) << "nothing after the last entry, again and again";
    }
    EXPECT_EQ(Call("CloseDirectory", {handle}), 0);
    EXPECT_EQ(Call("CloseDirectory", {handle}), ERR_FINDARRAY);
    EXPECT_EQ(Call("CloseDirectory", {3.0}), ERR_FINDDIR);
    EXPECT_EQ(Call("OpenDirectory", {1.0, dir_ / "one.txt"}), ERR_NOTADIR);
    EXPECT_EQ(Call("OpenDirectory", {1.0, dir_ / "none"}), ERR_LOCK2);
    ASSERT_EQ(Call("OpenDirectory", {1.0, dir_.str()}), 0);
    ASSERT_EQ(Call("OpenDirectory", {1.0, dir_.str()}), 0);  // reopening closes the first
    EXPECT_EQ(Call("CloseDirectory", {1.0}), 0);
    EXPECT_EQ(Call("CloseDirectory", {1.0}), ERR_FINDDIR);
}

// "PROGDIR:" stands for the program's folder on every road that takes a
// name, not only where a file is opened; files in the current folder that
// bear the unexpanded names are decoys nothing may touch.
TEST_F(DosPathsTest, ProgDirNamesMeanTheProgramsFolder) {
    const std::string name = "qb_progdir_paths_" + std::to_string(getpid());
    const std::string real = NativePathOf(("PROGDIR:" + name).c_str());
    const std::string folder = fs::path(real).parent_path().string();
    std::ofstream(real, std::ios::binary) << "12345";
    const fs::path cwd = fs::current_path();
    fs::current_path(dir_.str());
    dir_.Write("PROGDIR:" + name, "ab");
    const auto attempts = [&] {
        EXPECT_EQ(Call("FileSize", {"PROGDIR:" + name}), 0);
        EXPECT_EQ(Num(1), 5);
        EXPECT_EQ(Call("Exists", {"PROGDIR:" + name}), 0);
        EXPECT_EQ(Num(1), 1);
        VmSetTop(L, 0);
        VmPushString(L, ("PROGDIR:" + name).c_str());
        VmPushNewTable(L);
        SetTableFieldString(L, "time", "05-Mar-2016 09:04:01");
        EXPECT_EQ(CallCommand(L, "SetFileAttributes", 2, 0), 0);
        EXPECT_EQ(Call("Rename", {"PROGDIR:" + name, name + "_moved"}), 0);
        EXPECT_EQ(Call("Exists", {"PROGDIR:" + name + "_moved"}), 0);
        EXPECT_EQ(Num(1), 1);
        EXPECT_EQ(Call("ChangeDirectory", {std::string("PROGDIR:")}), 0);
    };
    attempts();
    const fs::path landed = fs::current_path();
    fs::current_path(cwd);
    const std::string moved = folder + "/" + name + "_moved";
    struct stat st {};
    const bool stayed = stat(moved.c_str(), &st) == 0;
    fs::remove(real);
    fs::remove(moved);
    fs::remove(dir_ / (name + "_moved"));
    EXPECT_TRUE(stayed) << "renamed out of the program's folder";
    if (stayed) {
        EXPECT_EQ(st.st_size, 5);
        EXPECT_LT(st.st_mtime, 1500000000);  // dated 2016 by SetFileAttributes
    }
    EXPECT_EQ(landed, fs::path(folder));
    // The decoy is untouched: same bytes, same name, not dated 2016.
    EXPECT_EQ(ScratchDir::Read(dir_ / ("PROGDIR:" + name)), "ab");
    struct stat decoy {};
    ASSERT_EQ(stat((dir_ / ("PROGDIR:" + name)).c_str(), &decoy), 0);
    EXPECT_GT(decoy.st_mtime, 1500000000);
}

TEST_F(DosPathsTest, AttributesRoundTripTheirDates) {
    const std::string file = dir_.Write("f.txt", "abc");
    VmSetTop(L, 0);
    VmPushString(L, file.c_str());
    VmPushNewTable(L);
    SetTableFieldString(L, "time", "05-Mar-2016 09:04:01");
    SetTableFieldUInt(L, "flags", 1 | 2);
    ASSERT_EQ(CallCommand(L, "SetFileAttributes", 2, 0), 0);
    ASSERT_EQ(Call("GetFileAttributes", {file}), 0);
    VmGetField(L, 1, "time");
    EXPECT_EQ(Str(-1), "05-Mar-2016 09:04:01");
    VmGetField(L, 1, "path");
    EXPECT_EQ(Str(-1), fs::canonical(file).string());
    VmGetField(L, 1, "virtual");
    EXPECT_EQ(Num(-1), 0);
    struct stat st {};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // The access time is a date of its own, a day and an hour and a minute
    // after the change (no clock change between them).
    VmSetTop(L, 0);
    VmPushString(L, file.c_str());
    VmPushNewTable(L);
    SetTableFieldString(L, "lastaccesstime", "06-Mar-2016 10:05:02");
    ASSERT_EQ(CallCommand(L, "SetFileAttributes", 2, 0), 0);
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_atime - st.st_mtime, 86400 + 3600 + 61);
    ASSERT_EQ(Call("GetFileAttributes", {file}), 0);
    VmGetField(L, 1, "time");
    EXPECT_EQ(Str(-1), "05-Mar-2016 09:04:01");

    for (const char* bad : {"5-Mar-2016", "05-Mrz-2016 09:04:01", "05-Mar-2016 25:04:01", "05-Mar-2016 09:04:01x"}) {
        VmSetTop(L, 0);
        VmPushString(L, file.c_str());
        VmPushNewTable(L);
        SetTableFieldString(L, "lastaccesstime", bad);
        EXPECT_EQ(CallCommand(L, "SetFileAttributes", 2, 0), ERR_INVALIDDATE) << bad;
    }
    VmSetTop(L, 0);
    VmPushString(L, (dir_ / "none").c_str());
    VmPushNewTable(L);
    EXPECT_EQ(CallCommand(L, "SetFileAttributes", 2, 0), ERR_LOCK2);
    EXPECT_EQ(Call("GetFileAttributes", {dir_ / "none"}), ERR_READFILE);
    ASSERT_EQ(Call("GetFileAttributes", {dir_.str()}), 0);
    VmGetField(L, 1, "type");
    EXPECT_EQ(Num(-1), 1);
}

TEST_F(DosPathsTest, VirtualFilesAreFilesEverywhere) {
    ASSERT_EQ(Call("DefineVirtualFileFromString", {std::string("abc"), std::string("v.txt")}), 0);
    const std::string name = Str(1);
    ASSERT_EQ(Call("GetFileAttributes", {name}), 0);
    VmGetField(L, 1, "virtual");
    EXPECT_EQ(Num(-1), 1);
    VmGetField(L, 1, "path");
    EXPECT_EQ(Str(-1), name);
    VmGetField(L, 1, "size");
    EXPECT_EQ(Num(-1), 3);
    ASSERT_EQ(Call("Exists", {name}), 0);
    EXPECT_EQ(Num(1), 1);
    ASSERT_EQ(Call("IsDirectory", {name}), 0);
    EXPECT_EQ(Num(1), 0);
    ASSERT_EQ(Call("CopyFile", {name, dir_ / "out"}), 0);
    EXPECT_EQ(dostest::DosFixture::Shell("cat '" + (dir_ / "out/v.txt") + "'"), "abc");
    EXPECT_EQ(Call("DeleteFile", {name}), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("PathPart", {name}), ERR_WRONGUSAGE);
}

TEST_F(DosPathsTest, VolumesAndTemporaryFiles) {
    // Other programs write to the same disk (builds write hundreds of MB a
    // second): a few tries, and a margin of 0.1 % — the reserved blocks or
    // a wrong block size would be off by whole per cent.
    double free = 0, avail = -1e12;
    auto margin = [&] { return std::max(1e6, std::abs(avail) * 1e-3); };
    for (int attempt = 0; attempt < 5 && std::abs(free - avail) > margin(); ++attempt) {
        ASSERT_EQ(Call("GetVolumeInfo", {dir_.str(), 1.0}), 0);
        free = Num(1);
        avail = std::strtod(Shell("df -B1 --output=avail '" + dir_.str() + "' | tail -1").c_str(), nullptr);
    }
    EXPECT_NEAR(free, avail, margin());
    ASSERT_EQ(Call("GetVolumeInfo", {dir_.str(), 0.0}), 0);
    EXPECT_GT(Num(1), 0);
    EXPECT_EQ(Call("GetVolumeInfo", {std::string(), 1.0}), ERR_WRONGUSAGE);
    ASSERT_EQ(Call("GetVolumeName", {dir_.str()}), 0);
    const std::string mount = Shell("df --output=target '" + dir_.str() + "' | tail -1");
    EXPECT_EQ(Str(1) + "\n", mount);

    ASSERT_EQ(Call("GetTempFileName", {}), 0);
    const std::string temp = Str(1);
    EXPECT_TRUE(fs::exists(temp));
    FreeDosObjects(L);
    EXPECT_FALSE(fs::exists(temp)) << "temporary files go at shutdown";

    const std::string before = fs::current_path().string();
    ASSERT_EQ(Call("ChangeDirectory", {dir_.str()}), 0);
    ASSERT_EQ(Call("GetCurrentDirectory", {}), 0);
    EXPECT_EQ(Str(1), fs::canonical(dir_.str()).string());
    EXPECT_NE(Call("ChangeDirectory", {dir_ / "none"}), 0);
    fs::current_path(before);
}

}  // namespace
