// GetAttribute's rows that the memblock and dos libraries add when they
// open: a block's size, an open file's mode and adapter, and the adapter
// serving a directory.
#include <gtest/gtest.h>

#include "core/errcodes.h"
#include "draw/attributes.h"
#include "libs/dos.h"
#include "libs/libcall_fixture.h"

namespace {

class LibAttributes : public libstest::LibCallFixture {
protected:
    // GetAttribute(type, id, attribute) called straight, as the graphics
    // library is not open here: 0 with the results on the stack, or the error.
    int Get(int32_t type, const libstest::CallArg& id, int32_t attribute) {
        VmSetTop(L, 0);
        VmPushNumber(L, type);
        Push(id);
        VmPushNumber(L, attribute);
        const int n = cmdGetAttribute(L);
        return n >= 1000 ? n : 0;
    }
};

constexpr int32_t kMemory = 39, kFile = 44, kDirectory = 45, kSize = 57, kAdapter = 87, kMode = 42, kWidth = 0;

TEST_F(LibAttributes, MemoryBlocksAnswerTheirSize) {
    ASSERT_EQ(Run("AllocMem", {1.0, 77.0}), "");
    ASSERT_EQ(Get(kMemory, 1.0, kSize), 0);
    EXPECT_EQ(VmToNumber(L, -1), 77);
    // A block made under an automatic id is found by its handle.
    ASSERT_EQ(Raw("AllocMem", {nullptr, 5.0}), 0);
    void* handle = VmToUserdata(L, 1);
    ASSERT_EQ(Get(kMemory, handle, kSize), 0);
    EXPECT_EQ(VmToNumber(L, -1), 5);
    EXPECT_EQ(Get(kMemory, 1.0, kWidth), ERR_UNKNOWNATTR);
    EXPECT_EQ(Get(kMemory, 2.0, kSize), ERR_FINDMEMBLK);
}

TEST_F(LibAttributes, FilesAnswerTheirModeAndAdapter) {
    const std::string path = std::string(QB_SOURCE_DIR) + "/CMakeLists.txt";
    ASSERT_EQ(Run("OpenFile", {1.0, path, double(kDosModeRead)}), "");
    ASSERT_EQ(Get(kFile, 1.0, kMode), 0);
    EXPECT_EQ(VmToNumber(L, -1), kDosModeRead);
    ASSERT_EQ(Get(kFile, 1.0, kAdapter), 0);
    EXPECT_STREQ(VmToCString(L, -1), "inbuilt");
    EXPECT_EQ(Get(kFile, 1.0, kSize), ERR_UNKNOWNATTR);
    EXPECT_EQ(Get(kFile, 2.0, kMode), ERR_FINDFILE);
}

TEST_F(LibAttributes, DirectoriesNameTheirAdapter) {
    ASSERT_EQ(Run("OpenDirectory", {1.0, std::string(QB_SOURCE_DIR)}), "");
    ASSERT_EQ(Get(kDirectory, 1.0, kAdapter), 0);
    EXPECT_STREQ(VmToCString(L, -1), "inbuilt");
    EXPECT_EQ(Get(kDirectory, 1.0, kSize), ERR_UNKNOWNATTR);
    EXPECT_EQ(Get(kDirectory, 2.0, kAdapter), ERR_FINDDIR);
}

}  // namespace
