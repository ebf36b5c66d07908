// Chunk names: building and parsing them, reading the files they name inside
// a container, and finding the applet's linked files by their own names.
#include <gtest/gtest.h>

#include <string>

#include "core/applet.h"
#include "core/chunkname.h"
#include "core/file.h"
#include "core/linkeddata.h"
#include "core/linkedfile.h"
#include "core/memfile.h"
#include "scratch.h"
#include "vm/vm.h"

namespace {

TEST(ChunkName, BuildsAndParsesNamesOffsetsAndExtensions) {
    const std::string name = MakeChunkName("pic.png", 1000, 20, 0, "/apps/x.app");
    EXPECT_EQ(name, ":::chunk1000:20*pic.png?/apps/x.app");
    qbChunkName parsed;
    ASSERT_EQ(ParseChunkName(name.c_str(), &parsed), 1);
    EXPECT_FALSE(parsed.stream);
    EXPECT_EQ(parsed.offset, 1000u);
    EXPECT_EQ(parsed.size, 20u);
    EXPECT_EQ(parsed.fileName, "pic.png");
    EXPECT_EQ(parsed.containerPath, "/apps/x.app");
    EXPECT_EQ(MakeChunkName("a", 10, 5, 100, "/x"), ":::chunk110:5*a?/x");
    EXPECT_EQ(MakeChunkName("v.txt", kStreamChunkOffset, 9, 12, ""), ":::chunkS12:9*v.txt?");
    // The container path may hold '?' and '*'; the file name ends at the first '?'.
    ASSERT_EQ(ParseChunkName(":::chunk0:1*a.b.gz?/odd?dir*/f", &parsed), 1);
    EXPECT_EQ(parsed.fileName, "a.b.gz");
    EXPECT_EQ(parsed.containerPath, "/odd?dir*/f");
    // An extension needs a dot before the last character.
    for (const auto& [file, ext] : {std::pair{"a.b.gz", ".gz"}, std::pair{"name.", ""}, std::pair{"noext", ""},
                                    std::pair{".hidden", ".hidden"}, std::pair{"", ""}}) {
        ASSERT_EQ(ParseChunkName(MakeChunkName(file, 0, 0, 0, "/c").c_str(), &parsed), 1) << file;
        EXPECT_EQ(parsed.extension, ext) << file;
    }
}

TEST(ChunkName, MalformedNamesAreRefused) {
    for (const char* bad :
         {":::chunk", ":::chunk:1*a?b", ":::chunk1*a?b", ":::chunk1:*a?b", ":::chunk1:2a?b", ":::chunk1:2*ab",
          ":::chunk-1:2*a?b", ":::chunk1:-2*a?b", ":::chunk 1:2*a?b", ":::chunk99999999999999999999:1*a?b",
          ":::chunk1:99999999999999999999*a?b", ":::chunk9223372036854775807:1*a?b", ":::chunkS:1*a?",
          ":::chunkS99999999999:1*a?", ":::chunkx1:2*a?b", "::chunk1:2*a?b", ""}) {
        qbChunkName parsed;
        EXPECT_EQ(ParseChunkName(bad, &parsed), 0) << bad;
        EXPECT_FALSE(qbFilePtr(FileOpen(bad, kFileModeRead, nullptr))) << bad;
    }
    EXPECT_EQ(ParseChunkName(nullptr, nullptr), 0);
    EXPECT_FALSE(IsChunkName(":::chun"));
}

TEST(ChunkName, StreamChunksTakeTheVirtualFilesSize) {
    MemoryFile file;
    file.registryRef = 77;
    file.size = 3;
    qbChunkName parsed;
    EXPECT_EQ(ParseChunkName(":::chunkS77:500*v.dat?extra", &parsed), 0);
    AddVirtualFile(&file);
    ASSERT_EQ(ParseChunkName(":::chunkS77:500*v.dat?extra", &parsed), 1);
    RemoveVirtualFile(&file);
    EXPECT_TRUE(parsed.stream);
    EXPECT_EQ(parsed.slot, 77);
    EXPECT_EQ(parsed.size, 3u);
    EXPECT_EQ(parsed.offset, 0u);
    EXPECT_EQ(parsed.containerPath, "");
    EXPECT_EQ(parsed.virtualFile, &file);
}

// A container of 1000 bytes of 'x', a 20-byte file, then 100 bytes of 'y'.
class ChunkFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        container_ = dir_.Write("x.app", std::string(1000, 'x') + "0123456789abcdefghij" + std::string(100, 'y'));
        name_ = MakeChunkName("pic.png", 1000, 20, 0, container_.c_str());
    }
    qbFilePtr Open(uint32_t mode = kFileModeRead) { return qbFilePtr(FileOpen(name_.c_str(), mode, nullptr)); }
    ScratchDir dir_;
    std::string container_;
    std::string name_;
};

TEST_F(ChunkFileTest, ReadsAndSeeksStayInsideTheChunkAndNeverWrite) {
    EXPECT_FALSE(Open(kFileModeWrite));
    EXPECT_FALSE(Open(kFileModeReadWrite));
    EXPECT_EQ(ScratchDir::Read(container_).size(), 1120u);
    qbFilePtr f = Open();
    ASSERT_TRUE(f);
    EXPECT_EQ(GetFileSize(f.get()), 20);
    char buf[31] = {};
    EXPECT_EQ(FileRead(f.get(), buf, 30), 20u);
    EXPECT_STREQ(buf, "0123456789abcdefghij");
    EXPECT_TRUE(FileEof(f.get()));
    EXPECT_EQ(FileGetC(f.get()), -1);
    EXPECT_EQ(FileSeek(f.get(), 10, kSeekBeginning), 20);
    EXPECT_EQ(FileSeek(f.get(), 0, kSeekCurrent), 10);
    EXPECT_EQ(FileGetC(f.get()), 'a');
    EXPECT_EQ(FileSeek(f.get(), 500, kSeekCurrent), 11);
    EXPECT_EQ(FileSeek(f.get(), 0, kSeekCurrent), 20);
    EXPECT_EQ(FileGetC(f.get()), -1);
    // Backwards past the start stays at the chunk's first byte, never the
    // container's bytes in front of it.
    EXPECT_EQ(FileSeek(f.get(), -500, kSeekCurrent), 20);
    EXPECT_EQ(FileGetC(f.get()), '0');
    FileSeek(f.get(), -25, kSeekEnd);
    EXPECT_EQ(FileGetC(f.get()), '0');
    FileSeek(f.get(), -1, kSeekEnd);
    EXPECT_EQ(FileGetC(f.get()), 'j');
}

TEST_F(ChunkFileTest, AChunkWithoutContainerOpensEmpty) {
    qbFilePtr f(FileOpen(":::chunk0:5*a.txt?", kFileModeRead, nullptr));
    ASSERT_TRUE(f);
    char c;
    EXPECT_EQ(FileRead(f.get(), &c, 1), 0u);
    EXPECT_EQ(FileGetC(f.get()), -1);
    EXPECT_FALSE(qbFilePtr(FileOpen(MakeChunkName("a", 0, 5, 0, (dir_ / "missing.app").c_str()).c_str(),
                                    kFileModeRead, nullptr)));
}

// An applet record with linked files in the registry of a fresh state.
class LinkedFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        L_ = VmOpen();
        ASSERT_TRUE(L_);
        std::snprintf(cl_.scriptPath, sizeof cl_.scriptPath, "%s", "/apps/main.qba");
        applet_.linkedFiles.push_back({"other/bg.png", "/apps/x.app", 1, 2});
        applet_.linkedFiles.push_back({"::font:Sans", "", 300, 40});
        applet_.linkedFiles.push_back({"pics/bg.png", "/apps/x.app", 1000, 20});
        applet_.linkedFiles.push_back({"Sans.ttf", "/apps/x.app", 500, 60});
        VmRegistrySetLightUserdata(L_, "applet", &applet_);
        VmRegistrySetLightUserdata(L_, "clargs", &cl_);
        savedOffset_ = LinkedDataOffset;
        LinkedDataOffset = 0;
    }
    void TearDown() override {
        LinkedDataOffset = savedOffset_;
        VmClose(L_);
    }
    ScriptState* L_ = nullptr;
    qbApplet applet_;
    qbCommandLine cl_;
    uint32_t savedOffset_ = 0;
};

TEST_F(LinkedFileTest, FileNamesMatchWithoutCaseAndWithEitherSlash) {
    int isFont = -1;
    EXPECT_STREQ(ResolveLinkedFile(L_, "Pics\\Bg.PNG", 0, &isFont), ":::chunk1000:20*pics/bg.png?/apps/x.app");
    EXPECT_EQ(isFont, 0);
    EXPECT_STREQ(ResolveLinkedFile(L_, "pics/bg.png", 0, nullptr), ":::chunk1000:20*pics/bg.png?/apps/x.app");
    const char* name = "pics/missing.png";
    EXPECT_EQ(ResolveLinkedFile(L_, name, 0, &isFont), name);
    // A font entry is no ordinary file.
    EXPECT_STREQ(ResolveLinkedFile(L_, "::font:Sans", 0, nullptr), "::font:Sans");
}

TEST_F(LinkedFileTest, FontsMatchWithOrWithoutTheFontSuffix) {
    int isFont = 0;
    // The font's container is empty: the applet path stands in.
    EXPECT_STREQ(ResolveLinkedFile(L_, "Sans.font", 1, &isFont), ":::chunk300:40*Sans?/apps/main.qba");
    EXPECT_EQ(isFont, 1);
    EXPECT_STREQ(ResolveLinkedFile(L_, "sans", 1, &isFont), ":::chunk300:40*Sans?/apps/main.qba");
    // TrueType and OpenType names are ordinary linked files.
    EXPECT_STREQ(ResolveLinkedFile(L_, "SANS.TTF", 1, &isFont), ":::chunk500:60*Sans.ttf?/apps/x.app");
    EXPECT_EQ(isFont, 0);
    EXPECT_STREQ(ResolveLinkedFile(L_, "Sans", 0, &isFont), "Sans");
}

TEST_F(LinkedFileTest, TheAppletBaseShiftsTheOffsetAndTheDataReads) {
    ScratchDir dir;
    const std::string exe = dir.Write("player", std::string(64, 'E') + "QBA" + std::string(997, '.') + "Linked!");
    applet_.linkedFiles = {{"note.txt", exe, 1000, 7}};
    LinkedDataOffset = 64;
    const char* chunk = ResolveLinkedFile(L_, "NOTE.TXT", 0, nullptr);
    EXPECT_EQ(std::string(chunk), ":::chunk1064:7*note.txt?" + exe);
    qbFilePtr f(FileOpen(chunk, kFileModeRead, nullptr));
    ASSERT_TRUE(f);
    char buf[8] = {};
    EXPECT_EQ(FileRead(f.get(), buf, 7), 7u);
    EXPECT_STREQ(buf, "Linked!");
}

}  // namespace
