// The files table: plain files and parts of an applet opened by their part
// names, read and sought; directories, names, examine records and writing
// memory to a file. (The exerciser plugin's reads are in basetable_test.)
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "core/chunkname.h"
#include "core/errcodes.h"
#include "core/memory.h"
#include "core/readholds.h"
#include "core/vectorname.h"
#include "plugin_fixture.h"
#include "plugins/basetables.h"

namespace {

using plugintest::PluginFixture;
using plugintest::ReadText;

const qbFilesTable& Files() { return kPluginFilesTable; }

class BaseFilesTest : public PluginFixture {
protected:
    void SetUp() override {
        PluginFixture::SetUp();
        plain_ = (dir_ / "plain.txt").string();
        WriteFile(plain_, "0123456789abcdef");
        // An applet-like container with a part "inner.txt" at offset 6.
        container_ = (dir_ / "box.qba").string();
        WriteFile(container_, "HEADERpart-contentTRAILER");
        part_ = MakeChunkName("inner.txt", 6, 12, 0, container_.c_str());
    }
    static void WriteFile(const std::string& path, const std::string& text) {
        FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
    std::string plain_, container_, part_;
};

TEST_F(BaseFilesTest, PlainFilesAndAppletPartsOpenReadSeekAndClose) {
    for (const std::string& name : {plain_, part_}) {
        qbFile* f = Files().FileOpen(name.c_str(), QBFILE_READ, nullptr);
        ASSERT_NE(f, nullptr) << name;
        char buffer[8] = {};
        EXPECT_EQ(Files().FileSeek(f, 5, QBFILE_SEEK_BEGINNING), 0) << "the old position";
        EXPECT_EQ(Files().FileRead(f, buffer, 3), 3u);
        EXPECT_EQ(Files().FileSeekC(f, -2, SEEK_END), 0);
        EXPECT_EQ(Files().FileGetC(f), name == plain_ ? 'e' : 'n');
        EXPECT_EQ(Files().FileSeekC(f, 0, 99), -1) << "an unknown whence";
        EXPECT_EQ(Files().FileGetC(f), name == plain_ ? 'f' : 't');
        EXPECT_EQ(Files().FileGetC(f), -1);
        EXPECT_NE(Files().FileEof(f), 0);
        EXPECT_EQ(std::string(buffer), name == plain_ ? "567" : "con");
        EXPECT_NE(Files().FileClose(f), 0);
    }
    EXPECT_EQ(Files().FileOpen((dir_ / "missing").c_str(), QBFILE_READ, nullptr), nullptr);
    EXPECT_EQ(Files().FileOpen(nullptr, QBFILE_READ, nullptr), nullptr);
    EXPECT_EQ(Files().FileRead(nullptr, nullptr, 4), 0u);
    EXPECT_EQ(Files().FileGetC(nullptr), -1);
    EXPECT_EQ(Files().FileClose(nullptr), 0);
    EXPECT_EQ(Files().FileSeek(nullptr, 0, 0), -1);
}

TEST_F(BaseFilesTest, TheFirstVectorLoadersVirtualNameOpensTheRealPart) {
    const std::string virtualName = ":::chunk6:12*box.qba/inner.txt";
    EXPECT_EQ(Files().FileOpen(virtualName.c_str(), QBFILE_READ, nullptr), nullptr) << "outside a loader call";
    LoaderCallFileName during(part_.c_str());
    qbFile* f = Files().FileOpen(virtualName.c_str(), QBFILE_READ, nullptr);
    ASSERT_NE(f, nullptr);
    char text[13] = {};
    EXPECT_EQ(Files().FileRead(f, text, 12), 12u);
    EXPECT_STREQ(text, "part-content");
    Files().FileClose(f);
}

TEST_F(BaseFilesTest, ExamineRecordsPointAtHostBuffersUnlessCopied) {
    qbFile* f = Files().FileOpen(plain_.c_str(), QBFILE_READ, nullptr);
    ASSERT_NE(f, nullptr);
    qbAdapterStat shared{};
    ASSERT_EQ(Files().ExamineFile(f, &shared, 0), 1);
    EXPECT_EQ(shared.size, 16);
    EXPECT_EQ(shared.type, 0);
    EXPECT_STREQ(shared.name, "plain.txt");
    qbAdapterStat copied{};
    ASSERT_EQ(Files().ExamineFile(f, &copied, QBFILE_EXAMINE_COPY), 1);
    EXPECT_NE(copied.name, shared.name);
    EXPECT_STREQ(copied.name, "plain.txt");
    EXPECT_NE(std::string(copied.path).find("plain.txt"), std::string::npos);
    kPluginSystemTable.FreeHostBlock(const_cast<char*>(copied.path));
    kPluginSystemTable.FreeHostBlock(const_cast<char*>(copied.name));
    EXPECT_EQ(Files().ExamineFile(f, nullptr, 0), 0);
    EXPECT_EQ(Files().GetFileFlags(f), 0u);
    Files().FileClose(f);
    qbFileState state{};
    ASSERT_EQ(Files().StatFile(dir_.c_str(), &state), 1);
    EXPECT_EQ(state.isDirectory, 1);
    ASSERT_EQ(Files().StatFile(plain_.c_str(), &state), 1);
    EXPECT_EQ(state.size, 16);
    EXPECT_GT(state.modified.seconds, 0u);
    EXPECT_EQ(Files().StatFile((dir_ / "none").c_str(), &state), 0);
}

TEST_F(BaseFilesTest, NamesResolveIntoTheCallersBuffer) {
    char to[512];
    int64_t offset = 0, length = 0;
    ASSERT_EQ(Files().ResolveFileName(part_.c_str(), to, sizeof to, &offset, &length), 1);
    EXPECT_EQ(std::string(to), container_);
    EXPECT_EQ(offset, 6);
    EXPECT_EQ(length, 12);
    ASSERT_EQ(Files().ResolveFileName("plain.txt", to, sizeof to, &offset, &length), 1);
    EXPECT_STREQ(to, "plain.txt");
    EXPECT_EQ(offset, -1);
    EXPECT_EQ(length, -1);
    EXPECT_EQ(Files().ResolveFileName("plain.txt", to, 4, &offset, &length), 0) << "does not fit";
    EXPECT_EQ(Files().ResolvePartName(part_.c_str(), &offset, &length), 1);
    EXPECT_EQ(Files().ResolvePartName("plain.txt", &offset, &length), 0);
    Files().MakeTempFileName(to, sizeof to);
    const std::string first = to;
    Files().MakeTempFileNameExt("x.png", to, sizeof to);
    EXPECT_FALSE(first.empty());
    EXPECT_NE(first, to);
    EXPECT_EQ(std::string(to).substr(std::strlen(to) - 4), ".png");
    Files().MakeTempFileName(to, 1);
    EXPECT_STREQ(to, "") << "a name that does not fit is not cut";
    char path[32] = "folder";
    EXPECT_EQ(Files().AddPart(path, "file.txt", sizeof path), 1);
    EXPECT_STREQ(path, "folder/file.txt");
    EXPECT_STREQ(Files().FilePartEx(part_.c_str()), "inner.txt");
    EXPECT_EQ(Files().GetCurrentDirPath(to, sizeof to), 1);
    EXPECT_EQ(Files().GetCurrentDirPath(to, 1), 0);
}

TEST_F(BaseFilesTest, MemoryGoesToAFileStraightOrThroughAMemoryFile) {
    const std::string text = "block of memory";
    const std::string direct = (dir_ / "direct.bin").string(), copied = (dir_ / "copied.bin").string();
    EXPECT_EQ(Files().WriteMemoryToFile(direct.c_str(), text.data(), text.size(), QBFILE_WRITE_DIRECT), 0);
    EXPECT_EQ(Files().WriteMemoryToFile(copied.c_str(), text.data(), text.size(), 0), 0);
    EXPECT_EQ(ReadText(direct), text);
    EXPECT_EQ(ReadText(copied), text);
    const std::string nowhere = (dir_ / "no" / "such" / "x").string();
    EXPECT_EQ(Files().WriteMemoryToFile(nowhere.c_str(), text.data(), text.size(), QBFILE_WRITE_DIRECT),
              ERR_WRITEFILE);
    EXPECT_EQ(Files().WriteMemoryToFile(nowhere.c_str(), text.data(), text.size(), 0), ERR_WRITEFILE);
    EXPECT_EQ(Files().WriteMemoryToFile(direct.c_str(), nullptr, 4, 0), ERR_WRONGUSAGE);
    // Written through slot 0 in write mode and read back through slot 32.
    qbFile* f = Files().FileOpen((dir_ / "w.txt").c_str(), QBFILE_WRITE, nullptr);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(Files().FileWrite(f, "xy", 2), 2u);
    EXPECT_EQ(Files().FilePutC(f, 'z'), 1);
    EXPECT_EQ(Files().FileFlush(f), 1);
    Files().FileClose(f);
    const qbPluginTag tags[] = {{QBFILE_TAG_ADAPTER, 0, reinterpret_cast<uintptr_t>("default")}, {0, 0, 0}};
    f = Files().FileOpenTags((dir_ / "w.txt").c_str(), QBFILE_READ, tags);
    ASSERT_NE(f, nullptr);
    char back[4] = {};
    EXPECT_EQ(Files().FileRead(f, back, 3), 3u);
    EXPECT_STREQ(back, "xyz");
    Files().FileClose(f);
    // A named adapter that is not there leaves the file unopened, whatever
    // tag comes before it; naming the inbuilt opener opens it.
    const qbPluginTag named[] = {{QBFILE_TAG_ADAPTER + 1, 0, reinterpret_cast<uintptr_t>("inbuilt")},
                                 {QBFILE_TAG_ADAPTER, 0, reinterpret_cast<uintptr_t>("nosuchadapter")},
                                 {0, 0, 0}};
    EXPECT_EQ(Files().FileOpenTags((dir_ / "w.txt").c_str(), QBFILE_READ, named), nullptr);
    const qbPluginTag inbuilt[] = {{QBFILE_TAG_ADAPTER, 0, reinterpret_cast<uintptr_t>("inbuilt")}, {0, 0, 0}};
    f = Files().FileOpenTags((dir_ / "w.txt").c_str(), QBFILE_READ, inbuilt);
    EXPECT_NE(f, nullptr);
    Files().FileClose(f);
}

TEST_F(BaseFilesTest, DirectoriesListCreateRenameAndRemove) {
    ASSERT_EQ(Files().CreateDir((dir_ / "sub").c_str()), 0);
    // The plugins' rename replaces a taken name, but never a file a live
    // object reads.
    const std::string held = (dir_ / "sub" / "moved.txt").string();
    WriteFile(held, "held");
    int owner = 0;
    HoldReadFile(&owner, SystemFileIdOf(held.c_str()));
    EXPECT_EQ(Files().RenameFile(plain_.c_str(), held.c_str()), 0);
    ReleaseReadFile(&owner);
    std::ifstream in(held);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "held");
    EXPECT_EQ(Files().RenameFile(plain_.c_str(), (dir_ / "sub" / "moved.txt").c_str()), 1);
    qbDirHandle* d = Files().DirOpen((dir_ / "sub").c_str(), nullptr);
    ASSERT_NE(d, nullptr);
    int isDir = 0;
    EXPECT_EQ(Files().DirCheck(d, &isDir), 0);
    EXPECT_EQ(isDir, 1);
    qbDirEntry entry{};
    ASSERT_EQ(Files().ExamineDir(d, &entry), 1);
    EXPECT_EQ(entry.isDirectory, 1);
    char path[512];
    ASSERT_EQ(Files().GetDirHandlePath(d, path, sizeof path), 1);
    EXPECT_NE(std::string(path).find("sub"), std::string::npos);
    ASSERT_EQ(Files().NextDirEntry(d, &entry), 1);
    EXPECT_STREQ(entry.name, "moved.txt");
    EXPECT_EQ(entry.isDirectory, 0);
    EXPECT_EQ(entry.size, 16);
    EXPECT_EQ(Files().NextDirEntry(d, &entry), 0);
    Files().DirClose(d);
    Files().DirEndClose(nullptr);
    EXPECT_EQ(Files().RemoveFile((dir_ / "sub" / "moved.txt").c_str()), 1);
    EXPECT_EQ(Files().RemoveFile((dir_ / "sub").c_str()), 1);
    EXPECT_EQ(Files().DirOpen((dir_ / "sub").c_str(), nullptr), nullptr);
    EXPECT_EQ(Files().DirOpen(nullptr, nullptr), nullptr);
    EXPECT_EQ(Files().DirCheck(nullptr, nullptr), ERR_WRONGUSAGE);
    EXPECT_EQ(Files().NextDirEntry(nullptr, &entry), 0);
}

}  // namespace
