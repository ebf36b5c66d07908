// Directories a plugin's directory adapter serves: what a listing reads,
// what examining the lock tells, its path, and the close; the path of a lock
// on an applet part; and paths cut to the caller's buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/chunkname.h"
#include "core/dir.h"
#include "core/errcodes.h"
#include "core/fileinfo.h"
#include "core/fileops.h"
#include "core/pluginadapters.h"
#include "scratch.h"

namespace {

// Serves "zip:" folders; each lists two entries, a folder and a file.
struct Listing {
    std::string folder;
    int next = 0;
};

struct DirWorld {
    std::vector<std::string> opened;
    std::vector<std::string> closed;
};
DirWorld* world = nullptr;

void* ZipOpenDir(const char* name) {
    if (std::string(name).rfind("zip:", 0) != 0) return nullptr;
    world->opened.push_back(name);
    return std::make_unique<Listing>(Listing{name}).release();
}

void ZipCloseDir(void* handle) {
    std::unique_ptr<Listing> listing(static_cast<Listing*>(handle));
    world->closed.push_back(listing->folder);
}

int ZipNextDirEntry(void* handle, qbAdapterStat* st) {
    auto* listing = static_cast<Listing*>(handle);
    switch (listing->next++) {
    case 0:
        st->type = 1;
        st->name = "sub";
        st->path = "zip:a/sub";
        return 1;
    case 1:
        st->size = 77;
        st->protection = kFileAttrReadUsr;
        st->modified = qbDateRecord{0, 0, 12, 3, 4, 2001};
        st->name = "f.txt";
        st->path = "zip:a/f.txt";
        return 1;
    default: return 0;
    }
}

class DirAdapterTest : public ::testing::Test {
protected:
    void SetUp() override {
        world = &world_;
        plugin_.name = "zipdir";
        plugin_.slots.OpenDir = ZipOpenDir;
        plugin_.slots.CloseDir = ZipCloseDir;
        plugin_.slots.NextDirEntry = ZipNextDirEntry;
        ASSERT_EQ(AddAdapterPlugin(kPluginCapsDirAdapter, &plugin_), 0);
    }
    void TearDown() override {
        RemoveAdapterPlugin(kPluginCapsDirAdapter, &plugin_);
        world = nullptr;
    }
    DirWorld world_;
    qbAdapterPlugin plugin_;
};

}  // namespace

TEST_F(DirAdapterTest, AListingReadsTheAdaptersEntriesAndClosesItsHandle) {
    // Without the adapters' flag, or with a tag that names another loader,
    // the adapter is not asked.
    EXPECT_FALSE(qbDirHandlePtr(DirOpen("zip:a", kDirLockRead, nullptr)));
    EXPECT_FALSE(qbDirHandlePtr(DirOpen("zip:a", kDirLockRead | kDirUseAdapters, "otherdir")));
    EXPECT_TRUE(world_.opened.empty());
    {
        qbDirHandlePtr dir(DirOpen("zip:a", kDirLockRead | kDirUseAdapters, nullptr));
        ASSERT_TRUE(dir);
        EXPECT_EQ(world_.opened, std::vector<std::string>{"zip:a"});
        EXPECT_STREQ(GetDirAdapterName(dir.get()), "zipdir");
        int isDir = 0;
        EXPECT_EQ(DirCheck(dir.get(), &isDir), 0);
        EXPECT_EQ(isDir, 1);

        qbFileInfo info;
        EXPECT_EQ(ExamineDirHandle(dir.get(), &info), 0);
        EXPECT_EQ(info.kind, 1);
        EXPECT_EQ(info.protection, static_cast<uint32_t>(kFileAttrAllUser));
        EXPECT_EQ(info.modifyTime, GetChunkFileTime());
        EXPECT_STREQ(info.path, "zip:a");
        EXPECT_EQ(GetDirHandlePath(dir.get()), "zip:a");

        const char* name = nullptr;
        isDir = 0;
        ASSERT_EQ(ReadDirEntry(dir.get(), &name, &isDir, &info), 1);
        EXPECT_STREQ(name, "sub");
        EXPECT_EQ(isDir, 1);
        EXPECT_EQ(info.kind, 1);
        EXPECT_STREQ(info.path, "zip:a/sub");
        ASSERT_EQ(ReadDirEntry(dir.get(), &name, &isDir, &info), 1);
        EXPECT_STREQ(name, "f.txt");
        EXPECT_EQ(isDir, 0);
        EXPECT_EQ(info.kind, 0);
        EXPECT_EQ(info.size, 77);
        EXPECT_EQ(info.protection, static_cast<uint32_t>(kFileAttrReadUsr));
        bool ok = false;
        EXPECT_EQ(info.modifyTime, DateToTime(qbDateRecord{0, 0, 12, 3, 4, 2001}, &ok));
        EXPECT_TRUE(ok);
        EXPECT_STREQ(info.path, "zip:a/f.txt");
        EXPECT_EQ(ReadDirEntry(dir.get(), &name, &isDir, &info), 0);
        EXPECT_TRUE(world_.closed.empty());
    }
    EXPECT_EQ(world_.closed, std::vector<std::string>{"zip:a"});

    // A listing whose adapter has no entry slot ends at once.
    plugin_.slots.NextDirEntry = nullptr;
    qbDirHandlePtr bare(DirOpen("zip:b", kDirLockRead | kDirUseAdapters, nullptr));
    ASSERT_TRUE(bare);
    EXPECT_EQ(ReadDirEntry(bare.get(), nullptr, nullptr, nullptr), 0);
}

TEST(DirHandlePath, APartsPathIsItsNameInTheCurrentFolderAndBuffersCutIt) {
    ScratchDir dir;
    const std::string container = dir.Write("x.app", std::string(200, 'z'));
    const std::string name = MakeChunkName("pics/pic.png", 100, 20, 0, container.c_str());
    qbDirHandlePtr lock(DirOpen(name.c_str(), kDirLockRead, nullptr));
    ASSERT_TRUE(lock);
    std::string expected = GetCurrentDirPath();
    if (expected.back() != '/') expected += '/';
    expected += "pic.png";
    EXPECT_EQ(GetDirHandlePath(lock.get()), expected);

    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(GetDirHandlePath(lock.get(), buffer, 5), 1);
    EXPECT_EQ(std::string(buffer), expected.substr(0, 4));
    EXPECT_EQ(buffer[5], 'x');
    char roomy[4096];
    EXPECT_EQ(GetDirHandlePath(lock.get(), roomy, sizeof roomy), 1);
    EXPECT_EQ(std::string(roomy), expected);
    EXPECT_EQ(GetDirHandlePath(lock.get(), nullptr, 10), 0);
    EXPECT_EQ(GetDirHandlePath(lock.get(), buffer, 0), 0);
    EXPECT_EQ(GetDirHandlePath(nullptr, roomy, sizeof roomy), 1);
    EXPECT_STREQ(roomy, "");
}
