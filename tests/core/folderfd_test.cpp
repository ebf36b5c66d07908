// Folders held by descriptor: each call's answer on a folder, a file, a
// link to a folder and a name that is not there, and the entry names a
// walk takes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "core/folderfd.h"
#include "scratch.h"

namespace {

TEST(FolderFdTest, EveryCallRefusesWhatIsNoFolder) {
    ScratchDir dir;
    std::filesystem::create_directory(dir / "sub");
    dir.Write("file", "x");
    std::filesystem::create_directory_symlink(dir / "sub", dir / "link");

    EXPECT_TRUE(OpenFolderPath(dir.str().c_str()));
    EXPECT_TRUE(OpenFolderPath((dir / "link").c_str()));  // the caller's own path follows links
    EXPECT_FALSE(OpenFolderPath((dir / "file").c_str()));
    EXPECT_FALSE(OpenFolderPath((dir / "gone").c_str()));

    const qbFd parent = OpenFolderPath(dir.str().c_str());
    ASSERT_TRUE(parent);
    EXPECT_TRUE(OpenFolderAt(parent.get(), "sub"));
    errno = 0;
    EXPECT_FALSE(OpenFolderAt(parent.get(), "link"));
    EXPECT_TRUE(errno == ELOOP || errno == ENOTDIR) << errno;
    errno = 0;
    EXPECT_FALSE(OpenFolderAt(parent.get(), "file"));
    EXPECT_EQ(errno, ENOTDIR);
    EXPECT_FALSE(OpenFolderAt(parent.get(), "gone"));

    bool made = false;
    EXPECT_TRUE(MakeFolderAt(parent.get(), "new", &made));
    EXPECT_TRUE(made);
    EXPECT_TRUE(MakeFolderAt(parent.get(), "new", &made));
    EXPECT_FALSE(made);
    EXPECT_FALSE(MakeFolderAt(parent.get(), "file", &made));
    EXPECT_FALSE(made);
    EXPECT_FALSE(MakeFolderAt(parent.get(), "gone/deeper", &made));
    EXPECT_FALSE(made);

    std::vector<qbFolderEntryAt> entries;
    ASSERT_TRUE(ListFolderAt(parent.get(), &entries));
    std::vector<std::string> names;
    for (const qbFolderEntryAt& e : entries) names.push_back(e.name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"file", "link", "new", "sub"}));
    for (const qbFolderEntryAt& e : entries)
        EXPECT_EQ(S_ISLNK(e.st.st_mode), e.name == "link") << e.name;  // described without following

    // A descriptor of a file, or none, lists nothing and says so.
    const int file = open((dir / "file").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(file, 0);
    entries.clear();
    EXPECT_FALSE(ListFolderAt(file, &entries));
    EXPECT_FALSE(ListFolderAt(-1, &entries));
    EXPECT_TRUE(entries.empty());
    close(file);

    EXPECT_EQ(ScratchDir::Read(PathThroughFolder(parent.get(), "file")), "x");
}

TEST(FolderFdTest, PlainEntryNames) {
    for (const char* name : {"a", "...", ".hidden", "a b"}) EXPECT_TRUE(IsPlainEntryName(name)) << name;
    for (const char* name : {"", ".", "..", "a/b", "/", "a/"}) EXPECT_FALSE(IsPlainEntryName(name)) << name;
}

}  // namespace
