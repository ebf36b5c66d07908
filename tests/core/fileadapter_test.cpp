// File adapters: which plugin serves a name, what it is told, how the layer
// dispatches to it, and seeks on streams that can't seek. Loader tags too.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>

#include "core/chunkname.h"
#include "core/dir.h"
#include "core/errcodes.h"
#include "core/file.h"
#include "core/fileinfo.h"
#include "core/loadertags.h"
#include "core/pluginadapters.h"

namespace {

// A fake adapter over a few named texts; it serves names starting "fake:".
struct FakeHandle {
    std::string data;
    int64_t position = 0;
    uint32_t* streamFlags = nullptr;
};

struct FakeWorld {
    std::map<std::string, std::string> files{{"fake:a", "0123456789"}, {"pic.png", "PNGDATA"}, {"Unnamed", "MEM"}};
    bool streamOnly = false;
    int opens = 0;
    int closes = 0;
    std::string lastName;
    int lastMode = 0;
    std::map<uint32_t, uintptr_t> lastTags;
    std::string lastContainer;  // the tag's text lives only during the call
};
FakeWorld* world = nullptr;

void* FakeOpen(const char* name, int mode, const qbFileTag* tags) {
    ++world->opens;
    world->lastName = name;
    world->lastMode = mode;
    world->lastTags.clear();
    for (const qbFileTag* t = tags; t->tag != kFileTagEnd; ++t) world->lastTags[t->tag] = t->value;
    if (world->lastTags.count(kFileTagContainer))
        world->lastContainer = reinterpret_cast<const char*>(world->lastTags[kFileTagContainer]);
    auto it = world->files.find(name);
    if (it == world->files.end()) return nullptr;
    auto h = std::make_unique<FakeHandle>();
    h->data = it->second;
    h->streamFlags = reinterpret_cast<uint32_t*>(world->lastTags[kFileTagStreamFlags]);
    if (world->streamOnly) *h->streamFlags = kStreamFlagStreaming | kStreamFlagNoSeek;
    return h.release();
}
int FakeClose(void* h) {
    ++world->closes;
    std::unique_ptr<FakeHandle> owner(static_cast<FakeHandle*>(h));
    return 1;
}
size_t FakeRead(void* p, void* buffer, size_t count) {
    auto* h = static_cast<FakeHandle*>(p);
    const size_t left = h->data.size() - static_cast<size_t>(h->position);
    if (count > left) count = left;
    h->data.copy(static_cast<char*>(buffer), count, static_cast<size_t>(h->position));
    h->position += static_cast<int64_t>(count);
    return count;
}
int FakeGetC(void* p) {
    unsigned char c = 0;
    return FakeRead(p, &c, 1) ? c : -1;
}
int64_t FakeSeek(void* p, int64_t offset, int mode) {
    auto* h = static_cast<FakeHandle*>(p);
    const int64_t previous = h->position;
    const int64_t from = mode == kSeekBeginning ? 0 : mode == kSeekCurrent ? h->position : h->data.size();
    if (world->streamOnly && !(offset == 0 && mode != kSeekEnd)) return -1;
    h->position = std::min<int64_t>(std::max<int64_t>(from + offset, 0), h->data.size());
    return previous;
}
int FakeEof(void* p) {
    auto* h = static_cast<FakeHandle*>(p);
    return h->position >= static_cast<int64_t>(h->data.size());
}
int FakeStat(void* p, qbAdapterStat* st) {
    st->size = static_cast<int64_t>(static_cast<FakeHandle*>(p)->data.size());
    st->protection = kFileAttrReadUsr;
    return 1;
}
int FakePathStat(const char* name, qbAdapterStat* st) {
    auto it = world->files.find(name);
    if (it == world->files.end()) return 0;
    st->size = static_cast<int64_t>(it->second.size());
    st->name = "served";
    return 1;
}

class FileAdapterTest : public ::testing::Test {
protected:
    void SetUp() override {
        world = &world_;
        plugin_.name = "fakefs";
        plugin_.slots.FOpen = FakeOpen;
        plugin_.slots.FClose = FakeClose;
        plugin_.slots.FRead = FakeRead;
        plugin_.slots.FGetC = FakeGetC;
        plugin_.slots.FSeek = FakeSeek;
        plugin_.slots.FEof = FakeEof;
        plugin_.slots.FStat = FakeStat;
        plugin_.slots.Stat = FakePathStat;
        ASSERT_EQ(AddAdapterPlugin(kPluginCapsFileAdapter, &plugin_), 0);
    }
    void TearDown() override {
        RemoveAdapterPlugin(kPluginCapsFileAdapter, &plugin_);
        EXPECT_EQ(world_.opens == 0 || world_.closes <= world_.opens, true);
        world = nullptr;
    }
    qbFilePtr Open(const char* name, uint32_t mode, const char* tag = nullptr) {
        return qbFilePtr(FileOpen(name, mode, tag));
    }
    FakeWorld world_;
    qbAdapterPlugin plugin_;
};

TEST_F(FileAdapterTest, ServesOnlyWhenAdaptersAreAllowed) {
    EXPECT_FALSE(Open("fake:a", kFileModeRead));
    EXPECT_EQ(world_.opens, 0);
    qbFilePtr f = Open("fake:a", kFileModeRead | kFileModeAdapters);
    ASSERT_TRUE(f);
    EXPECT_EQ(world_.lastMode, 4);
    EXPECT_STREQ(GetFileAdapterName(f.get()), "fakefs");
    EXPECT_EQ(GetFileSize(f.get()), 10);
    EXPECT_EQ(FileGetC(f.get()), '0');
    char buf[4] = {};
    EXPECT_EQ(FileRead(f.get(), buf, 3), 3u);
    EXPECT_STREQ(buf, "123");
    EXPECT_EQ(FileSeek(f.get(), -2, kSeekEnd), 4);
    EXPECT_EQ(FileGetC(f.get()), '8');
    EXPECT_FALSE(FileEof(f.get()));
    f.reset();
    EXPECT_EQ(world_.closes, 1);
    // Write and read-write modes have their own codes (the tag keeps the
    // inbuilt back-end from making the file when the adapter refuses).
    EXPECT_FALSE(Open("fake:none", kFileModeWrite | kFileModeAdapters, "fakefs"));
    EXPECT_EQ(world_.lastMode, 1);
    EXPECT_FALSE(Open("fake:none", kFileModeReadWrite | kFileModeAdapters, "fakefs"));
    EXPECT_EQ(world_.lastMode, 2);
}

TEST_F(FileAdapterTest, TheTagAndThePluginsFlagsChooseWhoIsAsked) {
    EXPECT_TRUE(Open("fake:a", 9, "fake"));
    EXPECT_TRUE(Open("fake:a", 9, "inbuilt|plugin"));
    world_.opens = 0;
    EXPECT_FALSE(Open("fake:a", 9, "inbuilt"));
    EXPECT_FALSE(Open("fake:a", 9, "other"));
    EXPECT_EQ(world_.opens, 0);
    plugin_.onlyWhenNamed = 1;
    EXPECT_FALSE(Open("fake:a", 9, "plugin"));
    EXPECT_FALSE(Open("fake:a", 9, nullptr));
    EXPECT_TRUE(Open("fake:a", 9, "FAKEFS"));
    plugin_.onlyWhenNamed = 0;
    plugin_.skipAsLoader = 1;
    EXPECT_FALSE(Open("fake:a", 9, nullptr));
    plugin_.skipAsLoader = 0;
    // Marshalled plugins can't be called here at all.
    plugin_.callingMode = kPluginCallMarshalled;
    world_.opens = 0;
    EXPECT_FALSE(Open("fake:a", 9, nullptr));
    EXPECT_EQ(world_.opens, 0);
}

TEST_F(FileAdapterTest, ChunksGoOnlyToChunkServingAdaptersWithTheirPlace) {
    const std::string chunk = MakeChunkName("pic.png", 1000, 7, 0, "/apps/x.app");
    world_.opens = 0;
    EXPECT_FALSE(Open(chunk.c_str(), 9));  // not served, and the container doesn't exist
    EXPECT_EQ(world_.opens, 0);
    plugin_.fileAdapterFlags = kFileAdapterServesChunks;
    qbFilePtr f = Open(chunk.c_str(), 9);
    ASSERT_TRUE(f);
    EXPECT_EQ(world_.lastName, "pic.png");
    EXPECT_EQ(world_.lastContainer, "/apps/x.app");
    EXPECT_EQ(world_.lastTags[kFileTagOffset], 1000u);
    EXPECT_EQ(world_.lastTags[kFileTagSize], 7u);
    EXPECT_EQ(world_.lastTags.count(kFileTagMemory), 0u);

    // A memory buffer is handed over by its address.
    char data[] = "PNGDATA";
    ASSERT_EQ(RegisterMemoryBuffer(data, 7), 0);
    qbFilePtr m = Open(MakeMemoryName(data, 7).c_str(), 9);
    UnregisterMemoryBuffer(data);
    ASSERT_TRUE(m);
    EXPECT_EQ(world_.lastName, "Unnamed");
    EXPECT_EQ(world_.lastTags[kFileTagMemory], reinterpret_cast<uintptr_t>(data));
    EXPECT_EQ(world_.lastTags[kFileTagSize], 7u);
    // The adapter took it: the layer's own memory record is gone.
    EXPECT_EQ(m->memory, nullptr);
    EXPECT_STREQ(GetFileAdapterName(m.get()), "fakefs");
}

TEST_F(FileAdapterTest, StreamsThatCantSeekAreSoughtByReading) {
    world_.streamOnly = true;
    qbFilePtr plain = Open("fake:a", 9);
    ASSERT_TRUE(plain);
    EXPECT_TRUE(IsFileNoSeek(plain.get()));
    EXPECT_EQ(GetFileFlags(plain.get()), 3u);
    // Without mode bit 16 only the harmless seeks work.
    EXPECT_EQ(FileSeek(plain.get(), 0, kSeekCurrent), 0);
    EXPECT_EQ(FileSeek(plain.get(), 3, kSeekBeginning), -1);

    // With it, seeks read forward or reopen; each row is a seek, the
    // position it returns and the byte read after it (0 for none).
    qbFilePtr f = Open("fake:a", 9 | kFileModeStreamSeek);
    ASSERT_TRUE(f);
    const struct {
        int64_t offset;
        int mode;
        int64_t previous;
        char next;
    } seeks[] = {{4, kSeekBeginning, 0, '4'}, {2, kSeekCurrent, 5, '7'}, {-6, kSeekCurrent, 8, '2'},
                 {1, kSeekBeginning, 3, '1'}, {0, kSeekCurrent, 2, 0},   {-1, kSeekEnd, -1, 0},
                 {-3, kSeekCurrent, -1, 0},   {-1, kSeekBeginning, -1, 0}, {50, kSeekBeginning, -1, 0}};
    for (const auto& s : seeks) {
        EXPECT_EQ(FileSeek(f.get(), s.offset, s.mode), s.previous) << s.offset << " from " << s.mode;
        if (s.next) {
            EXPECT_EQ(FileGetC(f.get()), s.next) << s.offset;
        }
    }
}

TEST_F(FileAdapterTest, FileInfoAndPathsComeFromTheAdapter) {
    qbFilePtr f = Open("fake:a", 9);
    ASSERT_TRUE(f);
    qbFileInfo info;
    ASSERT_TRUE(GetFileInfo(f.get(), &info));
    EXPECT_EQ(info.size, 10);
    EXPECT_EQ(info.protection, kFileAttrReadUsr);
    // Dates the adapter left alone are the start-up date.
    bool ok = false;
    EXPECT_EQ(info.modifyTime, DateToTime(GetStartupDate(), &ok));
    EXPECT_TRUE(ok);

    qbDirHandlePtr lock(DirOpen("fake:a", kDirLockRead | kDirUseAdapters, nullptr));
    ASSERT_TRUE(lock);
    EXPECT_STREQ(GetDirAdapterName(lock.get()), "fakefs");
    EXPECT_EQ(DirCheck(lock.get(), nullptr), ERR_NOTADIR);
    ExamineDirHandle(lock.get(), &info);
    EXPECT_EQ(info.size, 10);
    EXPECT_STREQ(info.name, "served");
    qbPathInfo pathInfo;
    ASSERT_EQ(GetPathInfo("fake:a", &pathInfo, 1), 1);
    EXPECT_EQ(pathInfo.size, 10);
    EXPECT_EQ(pathInfo.name, "served");
    EXPECT_EQ(GetPathInfo("fake:nothing", &pathInfo, 1), 0);
}

// An adapter without write slots refuses bytes instead of being called
// through them; one with a put slot gets the byte, as an unsigned value.
TEST_F(FileAdapterTest, WritesGoOnlyThroughTheSlotsTheAdapterHas) {
    qbFilePtr f = Open("fake:a", kFileModeWrite | kFileModeAdapters);
    ASSERT_TRUE(f);
    EXPECT_EQ(FilePutC(f.get(), 'x'), 0);
    EXPECT_EQ(FileWrite(f.get(), "xy", 2), 0u);
    plugin_.slots.FPutC = [](void* p, int c) {
        static_cast<FakeHandle*>(p)->data += static_cast<char>(c);
        return c == 0 ? 0 : 1;
    };
    EXPECT_EQ(FilePutC(f.get(), 0x141), 1);
    EXPECT_EQ(FilePutC(f.get(), 0x100), 0);
    EXPECT_EQ(FileSeek(f.get(), -2, kSeekEnd), 0);
    EXPECT_EQ(FileGetC(f.get()), 'A');
    EXPECT_EQ(FileGetC(f.get()), 0);
}

TEST(LoaderTags, ItemsAllowAndNameLoaders) {
    for (const char* tag : {static_cast<const char*>(nullptr), "", "default", "DEFAULT"}) {
        EXPECT_TRUE(LoaderAllowedByTag(tag, "someplugin", 0));
        EXPECT_FALSE(LoaderNamedByTag(tag, "someplugin"));
    }
    struct Case {
        const char* tag;
        const char* loader;
        int plugin;
        bool allowed;
    } cases[] = {
        // Reserved words stand as whole items, in any case.
        {"native|inbuilt", "inbuilt", 0, true}, {"Inbuilt", "inbuilt", 0, true}, {"inbuiltx", "inbuilt", 0, false},
        {"xinbuilt|native", "inbuilt", 0, false}, {"plugin", "native", 1, false},
        // A plugin's name matches by the item's length.
        {"zip", "zipfs", 0, true}, {"inbuilt|ZIPFS", "zipfs", 0, true}, {"zipfsx", "zipfs", 0, false},
        {"plugin", "zipfs", 0, false}, {"plugin", "zipfs", 1, true}, {"zip", nullptr, 1, false},
        // An empty item names nothing.
        {"inbuilt||native", "zipfs", 0, false}, {"inbuilt|", "zipfs", 0, false},
    };
    for (const Case& c : cases) EXPECT_EQ(LoaderAllowedByTag(c.tag, c.loader, c.plugin), c.allowed) << c.tag;
    EXPECT_TRUE(LoaderNamedByTag("inbuilt|zipfs", "zipfs"));
    EXPECT_FALSE(LoaderNamedByTag("plugin", "zipfs"));
}

// A read that met the end of an adapter's file is the end until a seek
// moves away from it, to the start included; asking the position (a seek
// by nothing from here) leaves it the end.
TEST_F(FileAdapterTest, ASeekAfterTheEndLeavesItButAskingThePositionDoesNot) {
    const struct {
        int64_t offset;
        int mode;
        int next;  // the byte read after the seek, -1 for the end
    } seeks[] = {{0, kSeekBeginning, '0'}, {4, kSeekBeginning, '4'}, {-3, kSeekCurrent, '7'},
                 {-1, kSeekEnd, '9'},      {0, kSeekCurrent, -1}};
    for (const auto& s : seeks) {
        qbFilePtr f = Open("fake:a", kFileModeRead | kFileModeAdapters);
        ASSERT_TRUE(f);
        char buf[16];
        ASSERT_EQ(FileRead(f.get(), buf, sizeof buf), 10u);
        ASSERT_TRUE(FileEof(f.get()));
        ASSERT_GE(FileSeek(f.get(), s.offset, s.mode), 0);
        EXPECT_EQ(FileEof(f.get()) != 0, s.next < 0) << s.offset << " from " << s.mode;
        EXPECT_EQ(FileGetC(f.get()), s.next) << s.offset << " from " << s.mode;
    }
}

}  // namespace
