// Descriptor 0 is an ordinary one once standard input is closed: every
// owner of a descriptor takes it as any other, works through it and gives
// it back. Each case runs in a child, whose standard input is its own; its
// result names the first step that went wrong.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "bounded_child.h"
#include "core/chunkname.h"
#include "core/file.h"
#include "core/fileops.h"
#include "core/folderfd.h"
#include "core/replacefile.h"
#include "core/signalcleanup.h"
#include "scratch.h"

namespace {

bool ZeroOpen() { return fcntl(0, F_GETFD) != -1; }

// fn's result with standard input closed; 0 also needs descriptor 0 closed
// again once fn is over (its owners gone).
int WithZeroFree(const std::function<int()>& fn) {
    return test_child::InChild([&] {
        close(0);
        if (const int err = fn()) return err;
        return ZeroOpen() ? 99 : 0;
    });
}

std::string ReadAll(const std::string& name) {
    qbFilePtr file(FileOpen(name.c_str(), kFileModeRead, nullptr));
    std::string text(64, '\0');
    text.resize(file ? FileRead(file.get(), text.data(), text.size()) : 0);
    return text;
}

TEST(DescriptorZero, FoldersHeldByDescriptor) {
    ScratchDir dir;
    dir.Write("sub/a.txt", "a");
    const std::string path = dir.str();
    EXPECT_EQ(WithZeroFree([&] {
                  const qbFd folder = OpenFolderPath(path.c_str());
                  return folder.get() == 0 && folder ? 0 : 1;
              }),
              0);
    // Moved over, the descriptor it held goes.
    EXPECT_EQ(WithZeroFree([&] {
                  qbFd folder = OpenFolderPath(path.c_str());
                  if (folder.get() != 0) return 1;
                  folder = OpenFolderPath(path.c_str());
                  return folder && !ZeroOpen() ? 0 : 2;
              }),
              0);
    // A parent on descriptor 0, and folders opened, made and listed in it;
    // then a folder opened in another at 0.
    EXPECT_EQ(WithZeroFree([&] {
                  const qbFd parent = OpenFolderPath(path.c_str());
                  if (parent.get() != 0) return 1;
                  if (!OpenFolderAt(0, "sub")) return 2;
                  bool made = false;
                  if (!MakeFolderAt(0, "new", &made) || !made) return 3;
                  std::vector<qbFolderEntryAt> entries;
                  return ListFolderAt(0, &entries) && entries.size() == 2 ? 0 : 4;
              }),
              0);
    EXPECT_EQ(WithZeroFree([&] {
                  const int held = open("/dev/null", O_RDONLY | O_CLOEXEC);
                  const qbFd parent = OpenFolderPath(path.c_str());
                  close(held);
                  if (held != 0 || !parent) return 1;
                  if (OpenFolderAt(parent.get(), "sub").get() != 0) return 2;
                  bool made = true;
                  if (MakeFolderAt(parent.get(), "sub", &made).get() != 0 || made) return 3;
                  if (MakeFolderAt(parent.get(), "other", &made).get() != 0 || !made) return 4;
                  // The listing's own descriptor.
                  std::vector<qbFolderEntryAt> entries;
                  return ListFolderAt(parent.get(), &entries) && entries.size() == 3 ? 0 : 5;
              }),
              0);
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(WithZeroFree([&] { return CurrentUmask() == mask ? 0 : 1; }), 0);
}

TEST(DescriptorZero, FilesReadAndWritten) {
    ScratchDir dir;
    const std::string text = dir.Write("t.txt", "text");
    EXPECT_EQ(WithZeroFree([&] {
                  qbFilePtr file(FileOpen(text.c_str(), kFileModeRead, nullptr));
                  if (!file || !ZeroOpen()) return 1;
                  char got[8] = {};
                  return FileRead(file.get(), got, sizeof got) == 4 && std::string(got) == "text" ? 0 : 2;
              }),
              0);
    const std::string written = dir / "w.txt";
    EXPECT_EQ(WithZeroFree([&] {
                  qbFilePtr file(FileOpen(written.c_str(), kFileModeWrite, nullptr));
                  if (!file || !ZeroOpen()) return 1;
                  return FileWrite(file.get(), "new", 3) == 3 ? 0 : 2;
              }),
              0);
    EXPECT_EQ(ReadAll(written), "new");
    // A part of a file: its container is the descriptor.
    const std::string container = dir.Write("c.bin", "0123456789");
    const std::string part = MakeChunkName("p.txt", 3, 4, 0, container.c_str());
    EXPECT_EQ(WithZeroFree([&] { return ReadAll(part) == "3456" ? 0 : 1; }), 0);
    // A file written as a new one beside its target, which it replaces.
    const std::string replaced = dir.Write("r.txt", "old");
    EXPECT_EQ(WithZeroFree([&] {
                  qbReplaceFile target;
                  if (BeginReplaceFile(replaced.c_str(), qbReplaceOptions{}, &target) != 0) return 1;
                  if (ReplaceFileDescriptor(target) != 0) return 2;
                  if (FileWrite(target.file.get(), "replaced", 8) != 8) return 3;
                  return CommitReplaceFile(&target) == 0 ? 0 : 4;
              }),
              0);
    EXPECT_EQ(ReadAll(replaced), "replaced");
}

TEST(DescriptorZero, TemporaryNames) {
    ScratchDir dir;
    SetTempDir(dir.str().c_str());
    EXPECT_EQ(WithZeroFree([&] {
                  const std::string plain = MakeTempFileName();
                  const std::string withExt = MakeTempFileNameWithExt("pic.png");
                  struct stat st;
                  if (plain.empty() || stat(plain.c_str(), &st) != 0) return 1;
                  return withExt.size() > 4 && withExt.substr(withExt.size() - 4) == ".png" &&
                                 stat(withExt.c_str(), &st) == 0
                             ? 0
                             : 2;
              }),
              0);
}

// A signal that ends the player removes its listed folder through the
// descriptor it opens there.
TEST(DescriptorZero, SignalCleanup) {
    ScratchDir dir;
    const std::string folder = dir / "applet";
    dir.Write("applet/a.txt", "a");
    dir.Write("applet/b.txt", "b");
    EXPECT_EQ(test_child::InChild([&] {
                  close(0);
                  signal(SIGTERM, SIG_DFL);
                  InstallSignalCleanup();
                  AddSignalCleanupPath(folder.c_str(), true);
                  raise(SIGTERM);
                  return 0;
              }),
              -1);
    EXPECT_FALSE(std::filesystem::exists(folder));
}

// Every file of src/ that closes a descriptor is an owner of one, and
// says where it is tried on descriptor 0 (or why it never holds it): a new
// owner fails here until it is.
TEST(DescriptorZero, EveryOwnerIsTried) {
    const std::map<std::string, std::string> owners = {
        {"src/core/dir.cpp", "DirHandle.AFileLockOnDescriptorZeroGivesItBack"},
        {"src/core/fdstream.cpp", "DescriptorZero.FilesReadAndWritten"},
        {"src/core/fileops.cpp", "DescriptorZero.TemporaryNames"},
        {"src/core/folderfd.cpp", "DescriptorZero.FoldersHeldByDescriptor"},
        // Its attributes are read while the new file holds a lower descriptor.
        {"src/core/replacefile.cpp", "DescriptorZero.FilesReadAndWritten"},
        {"src/core/signalcleanup.cpp", "DescriptorZero.SignalCleanup"},
        {"src/core/stdiofile.cpp", "DescriptorZero.FilesReadAndWritten"},
        // The copy is written while the program's part it copies holds a
        // lower descriptor.
        {"src/libs/dosrun.cpp", "never at 0"},
        {"src/libs/netpoll.cpp", "NetReceiveEdgeTest.SocketsAndThePollSetOnDescriptorZero"},
        {"src/libs/socket.cpp", "NetReceiveEdgeTest.SocketsAndThePollSetOnDescriptorZero"},
        {"src/platform/linux/zenity.cpp", "ZenityTest.ThePipeOnDescriptorZeroIsReadAndGivenBack"},
        {"src/plugins/elfcheck.cpp", "LoaderTest.TheFileCheckGivesDescriptorZeroBack"},
    };
    const std::regex call(R"((^|[^A-Za-z0-9_>.])(::)?close\()");
    std::set<std::string> found;
    const std::filesystem::path root(QB_SOURCE_DIR);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root / "src")) {
        const std::string ext = entry.path().extension().string();
        if (!entry.is_regular_file() || (ext != ".cpp" && ext != ".h" && ext != ".c")) continue;
        std::ifstream in(entry.path());
        for (std::string line; std::getline(in, line);) {
            const size_t code = line.find_first_not_of(" \t");
            if (line.find("close(") == std::string::npos || code == std::string::npos) continue;
            if (line.compare(code, 2, "//") != 0 && std::regex_search(line, call)) {
                found.insert(std::filesystem::relative(entry.path(), root).generic_string());
                break;
            }
        }
    }
    std::set<std::string> listed;
    for (const auto& [file, where] : owners) listed.insert(file);
    EXPECT_EQ(found, listed) << "an owner of a descriptor: try it with standard input closed and list it here";
}

}  // namespace
