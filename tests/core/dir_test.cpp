// Directory handles, file information, native file operations, environment
// variables, temporary names, and file names crossing to the file system.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <set>
#include <string>

#include "core/chunkname.h"
#include "core/dir.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/file.h"
#include "core/fileinfo.h"
#include "core/fileops.h"
#include "bounded_child.h"
#include "scratch.h"

namespace fs = std::filesystem;

namespace {

std::set<std::string> List(const std::string& path) {
    std::set<std::string> names;
    qbDirHandlePtr dir(DirOpen(path.c_str(), kDirLockRead, nullptr));
    EXPECT_TRUE(dir) << path;
    if (!dir) return names;
    const char* name = nullptr;
    while (ReadDirEntry(dir.get(), &name, nullptr, nullptr)) names.insert(name);
    return names;
}

uint32_t ModeOf(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0xFFFFFFFF;
}

TEST(DirHandle, ListingsHaveNoDotEntries) {
    ScratchDir dir;
    dir.Write("a.txt", "aaa");
    dir.Write("sub/b.txt", "b");
    qbDirHandlePtr lock(DirOpen(dir.str().c_str(), kDirLockRead, nullptr));
    ASSERT_TRUE(lock);
    int isDir = -1;
    EXPECT_EQ(DirCheck(lock.get(), &isDir), 0);
    EXPECT_EQ(isDir, 1);
    std::set<std::string> seen;
    const char* name = nullptr;
    qbFileInfo info;
    while (ReadDirEntry(lock.get(), &name, &isDir, &info)) {
        seen.insert(name);
        EXPECT_EQ(isDir, std::string(name) == "sub" ? 1 : 0) << name;
        if (std::string(name) == "a.txt") {
            EXPECT_EQ(info.size, 3);
        }
    }
    EXPECT_EQ(seen, (std::set<std::string>{"a.txt", "sub"}));
    EXPECT_EQ(ReadDirEntry(lock.get(), &name, nullptr, nullptr), 0);
}

TEST(DirHandle, FilesLockButAreNoDirectories) {
    ScratchDir dir;
    const std::string file = dir.Write("f.bin", "12345");
    qbDirHandlePtr lock(DirOpen(file.c_str(), kDirLockRead, nullptr));
    ASSERT_TRUE(lock);
    int isDir = -1;
    EXPECT_EQ(DirCheck(lock.get(), &isDir), ERR_NOTADIR);
    EXPECT_EQ(isDir, 0);
    EXPECT_STREQ(GetErrorDetail(), file.c_str());

    EXPECT_FALSE(qbDirHandlePtr(DirOpen((dir / "missing").c_str(), kDirLockRead, nullptr)));
    EXPECT_FALSE(qbDirHandlePtr(DirOpen(file.c_str(), kDirLockRead, "someplugin")));
    // Write locks don't exist on this platform.
    testing::internal::CaptureStdout();
    EXPECT_FALSE(qbDirHandlePtr(DirOpen(file.c_str(), 2, nullptr)));
    testing::internal::GetCapturedStdout();
}

// Descriptor 0 is an ordinary one once standard input is closed: a lock
// that holds it gives it back (in a child, whose standard input is its own).
TEST(DirHandle, AFileLockOnDescriptorZeroGivesItBack) {
    ScratchDir dir;
    const std::string file = dir.Write("f.bin", "12345");
    EXPECT_EQ(test_child::InChild([&] {
                  close(0);
                  qbDirHandlePtr lock(DirOpen(file.c_str(), kDirLockRead, nullptr));
                  if (!lock || fcntl(0, F_GETFD) == -1) return 1;
                  qbFileInfo info;
                  ExamineDirHandle(lock.get(), &info);
                  if (info.size != 5) return 2;
                  lock.reset();
                  return fcntl(0, F_GETFD) == -1 ? 0 : 3;
              }),
              0);
}

TEST(DirHandle, AChunkExaminedAsAFileHasTheFixedDate) {
    ScratchDir dir;
    const std::string container = dir.Write("x.app", std::string(1100, 'z'));
    const std::string name = MakeChunkName("pics/pic.png", 1000, 20, 0, container.c_str());
    qbDirHandlePtr lock(DirOpen(name.c_str(), kDirLockRead | kDirUseAdapters, nullptr));
    ASSERT_TRUE(lock);
    qbFileInfo info;
    ExamineDirHandle(lock.get(), &info);
    struct tm date {};
    date.tm_year = 102;
    date.tm_mon = 10;
    date.tm_mday = 4;
    date.tm_hour = 10;
    date.tm_min = 30;
    date.tm_isdst = -1;
    const int64_t expected = static_cast<int64_t>(std::mktime(&date));
    EXPECT_EQ(info.size, 20);
    EXPECT_EQ(info.modifyTime, expected);
    EXPECT_EQ(DirCheck(lock.get(), nullptr), ERR_NOTADIR);
    EXPECT_EQ(std::string(GetErrorDetail()), name);
    // The same date comes with a chunk opened as a file.
    qbFilePtr f(FileOpen(name.c_str(), kFileModeRead, nullptr));
    ASSERT_TRUE(f);
    ASSERT_TRUE(GetFileInfo(f.get(), &info));
    EXPECT_EQ(info.size, 20);
    EXPECT_EQ(info.modifyTime, expected);
    EXPECT_FALSE(qbDirHandlePtr(DirOpen(":::chunk1:2*broken", kDirLockRead, nullptr)));
}

TEST(FileNames, Latin1NamesAreUtf8OnDiskAndComeBackAsLatin1) {
    ScratchDir dir;
    const std::string latin1 = "caf\xE9 \xFC" "ber.txt";
    {
        qbFilePtr f(FileOpen((dir / latin1).c_str(), kFileModeWrite, nullptr));
        ASSERT_TRUE(f);
        FileWriteString(f.get(), "x");
    }
    EXPECT_TRUE(fs::exists(dir / "caf\xC3\xA9 \xC3\xBC" "ber.txt"));
    EXPECT_FALSE(fs::exists(dir / latin1));
    EXPECT_EQ(List(dir.str()), std::set<std::string>{latin1});
    EXPECT_TRUE(qbFilePtr(FileOpen((dir / latin1).c_str(), kFileModeRead, nullptr)));
    // Folders too.
    ASSERT_EQ(CreateDir((dir / "d\xE9j\xE0").c_str()), 0);
    EXPECT_TRUE(fs::is_directory(dir / "d\xC3\xA9j\xC3\xA0"));
}

TEST(FileNames, RawNamesFromTheSystemOpenTheSameFile) {
    ScratchDir dir;
    // A name in UTF-8 beyond ISO 8859-1, and one that is no UTF-8 at all.
    const std::string wide = "\xE6\x97\xA5\xE6\x9C\xAC.txt";
    const std::string broken = "\xE9raw.txt";
    dir.Write(wide, "wide");
    dir.Write(broken, "broken");
    const std::set<std::string> names = List(dir.str());
    EXPECT_EQ(names, (std::set<std::string>{wide, broken}));
    for (const std::string& name : names) {
        qbFilePtr f(FileOpen((dir / name).c_str(), kFileModeRead, nullptr));
        ASSERT_TRUE(f) << name;
        EXPECT_GT(GetFileSize(f.get()), 3);
    }
}

TEST(FileOps, ProtectionMapsToPosixModes) {
    ScratchDir dir;
    const std::string file = dir.Write("p.txt", "p");
    ASSERT_TRUE(SetFileProtection(file.c_str(), kFileAttrReadUsr | kFileAttrWriteUsr | kFileAttrReadOth));
    EXPECT_EQ(ModeOf(file), 0604u);
    qbDirHandlePtr lock(DirOpen(file.c_str(), kDirLockRead, nullptr));
    ASSERT_TRUE(lock);
    qbFileInfo info;
    ExamineDirHandle(lock.get(), &info);
    EXPECT_EQ(info.protection, kFileAttrReadUsr | kFileAttrWriteUsr | kFileAttrReadOth);
    // NORMAL wins over the other bits; bits without a POSIX twin are ignored.
    ASSERT_TRUE(SetFileProtection(file.c_str(), kFileAttrNormal | kFileAttrExecuteOth));
    EXPECT_EQ(ModeOf(file), 0644u);
    ASSERT_TRUE(SetFileProtection(file.c_str(), kFileAttrDeleteUsr | kFileAttrReadUsr | kFileAttrExecuteGrp));
    EXPECT_EQ(ModeOf(file), 0410u);
    EXPECT_FALSE(SetFileProtection((dir / "missing").c_str(), kFileAttrReadUsr));
}

TEST(FileOps, DatesAreSixtyFourBit) {
    ScratchDir dir;
    const std::string file = dir.Write("d.txt", "d");
    const int64_t in2100 = 4102444800;  // 2100-01-01, past the 32-bit end
    ASSERT_TRUE(SetFileDate(file.c_str(), in2100 + 5, in2100));
    qbDirHandlePtr lock(DirOpen(file.c_str(), kDirLockRead, nullptr));
    qbFileInfo info;
    ExamineDirHandle(lock.get(), &info);
    EXPECT_EQ(info.modifyTime, in2100);
    EXPECT_EQ(info.accessTime, in2100 + 5);
    const qbDateRecord date = TimeToDate(in2100);
    EXPECT_GE(date.year, 2099);
    bool ok = false;
    EXPECT_EQ(DateToTime(date, &ok), in2100);
    EXPECT_TRUE(ok);
    qbPathInfo pathInfo;
    ASSERT_EQ(GetPathInfo(file.c_str(), &pathInfo, 0), 1);
    EXPECT_EQ(DateToTime(pathInfo.modified, &ok), in2100);
    EXPECT_EQ(GetPathInfo((dir / "missing").c_str(), &pathInfo, 0), 0);
}

TEST(FileOps, RenameRemoveAndCreate) {
    ScratchDir dir;
    const std::string a = dir.Write("a", "1");
    EXPECT_TRUE(RenameFile(a.c_str(), (dir / "b").c_str()));
    EXPECT_FALSE(RenameFile(a.c_str(), (dir / "c").c_str()));
    EXPECT_EQ(CreateDir((dir / "sub").c_str()), 0);
    EXPECT_EQ(CreateDir((dir / "sub").c_str()), ERR_CREATEDIR);
    dir.Write("sub/x", "x");
    EXPECT_FALSE(RemoveFile((dir / "sub").c_str()));
    EXPECT_TRUE(RemoveFile((dir / "sub/x").c_str()));
    EXPECT_TRUE(RemoveFile((dir / "sub").c_str()));
}

TEST(FileOps, FullPathsAndTheCurrentDirectory) {
    ScratchDir dir;
    dir.Write("f", "");
    const std::string canonical = fs::canonical(dir.str()).string();
    const auto old = ChangeCurrentDir(dir.str().c_str());
    ASSERT_TRUE(old);
    EXPECT_EQ(GetCurrentDirPath(), canonical);
    EXPECT_EQ(GetFullPath("f"), canonical + "/f");
    EXPECT_EQ(GetFullPath("not\\there"), canonical + "/not/there");
    char small[4];
    GetFullPath("f", small, sizeof small);
    EXPECT_STREQ(small, "");
    EXPECT_FALSE(ChangeCurrentDir("/no/such/place"));
    ASSERT_TRUE(ChangeCurrentDir(old->c_str()));
}

TEST(FileOps, EnvironmentVariablesCrossAsUtf8) {
    ASSERT_EQ(SetEnvVar("QB_TEST_VARIABLE", "caf\xE9"), 0);
    EXPECT_STREQ(std::getenv("QB_TEST_VARIABLE"), "caf\xC3\xA9");
    EXPECT_EQ(GetEnvVar("QB_TEST_VARIABLE"), std::optional<std::string>("caf\xE9"));
    EXPECT_EQ(UnsetEnvVar("QB_TEST_VARIABLE"), 0);
    EXPECT_FALSE(GetEnvVar("QB_TEST_VARIABLE"));
    EXPECT_EQ(SetEnvVar("BAD=NAME", "x"), ERR_SETENV);
    EXPECT_EQ(SetEnvVar("", "x"), ERR_SETENV);
    EXPECT_EQ(UnsetEnvVar("BAD=NAME"), ERR_UNSETENV);
}

TEST(FileOps, TemporaryNamesLiveInTheTempFolder) {
    ScratchDir dir;
    SetTempDir(dir.str().c_str());
    const std::string a = MakeTempFileName();
    const std::string b = MakeTempFileName();
    EXPECT_NE(a, b);
    EXPECT_EQ(a.rfind(dir / "quenbrook.", 0), 0u) << a;
    EXPECT_TRUE(fs::exists(a));
    const std::string chunk = MakeChunkName("pic.png", 0, 1, 0, "/x.app");
    const std::string withExt = MakeTempFileNameWithExt(chunk.c_str());
    EXPECT_EQ(withExt.substr(withExt.size() - 4), ".png");
    EXPECT_TRUE(fs::exists(withExt));
    EXPECT_FALSE(fs::exists(withExt.substr(0, withExt.size() - 4)));
    EXPECT_EQ(MakeTempFileNameWithExt("noext").find('.', dir.str().size() + 11), std::string::npos);
    SetTempDir((dir / "missing").c_str());
    EXPECT_EQ(MakeTempFileName(), "");
    SetTempDir(nullptr);
    EXPECT_EQ(GetTempDir(), "/tmp");
}

// The forms that write into the caller's buffer: the whole text, or an empty
// one when it does not fit with its terminator.
TEST(FileOps, TemporaryAndVolumeNamesFillTheCallersBufferOrNone) {
    ScratchDir dir;
    SetTempDir(dir.str().c_str());
    char buffer[4096];
    MakeTempFileName(buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer).rfind(dir / "quenbrook.", 0), 0u) << buffer;
    EXPECT_TRUE(fs::exists(buffer));
    const size_t length = std::strlen(buffer);
    MakeTempFileName(buffer, length);  // as long as the last: no room for the end
    EXPECT_STREQ(buffer, "");
    MakeTempFileName(buffer, length + 1);
    EXPECT_EQ(std::strlen(buffer), length);
    SetTempDir(nullptr);

    std::memset(buffer, 'x', sizeof buffer);
    ASSERT_EQ(QueryVolumeName(dir.str().c_str(), buffer, sizeof buffer), 0);
    EXPECT_EQ(std::string(buffer), QueryVolumeName(dir.str().c_str()));
    EXPECT_EQ(buffer[0], '/');
    EXPECT_EQ(dir.str().rfind(buffer, 0), 0u) << buffer;
    ASSERT_EQ(QueryVolumeName("/", buffer, 2), 0);
    EXPECT_STREQ(buffer, "/");
    const std::string missing = dir / "missing";
    EXPECT_EQ(QueryVolumeName(missing.c_str(), buffer, sizeof buffer), ERR_STAT);
    EXPECT_EQ(std::string(GetErrorDetail()), missing);
}

}  // namespace
