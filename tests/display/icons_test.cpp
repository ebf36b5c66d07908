// Icon pictures: loaded from files and from a part of the applet file,
// opaque when the picture has no alpha, refused at a size other than the
// slot's.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "core/chunkname.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "display/icons.h"
#include "test_bmp.h"

namespace {

class IconsTest : public ::testing::Test {
protected:
    void TearDown() override { FreeIconPaths(); }
    static qbIconSlot& Slot(int i) { return GetIconSlots()[static_cast<size_t>(i)]; }
};

}  // namespace

TEST_F(IconsTest, SlotsLoadFromFilesAndFromPartsOfTheAppletFile) {
    Slot(0).source = test_bmp::WriteBmp(16, 16);
    Slot(0).option = 1;
    // The 24x24 picture sits inside a larger file, as the icon block leaves it.
    std::ifstream in(test_bmp::WriteBmp(24, 24), std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string container = testing::TempDir() + "applet_" + std::to_string(getpid()) + ".bin";
    std::ofstream(container, std::ios::binary) << std::string(100, 'x') << std::string(bytes.begin(), bytes.end());
    Slot(kIconPlainSlots + 1).source = MakeChunkName("24x24", 100, bytes.size(), 0, container.c_str());

    ASSERT_EQ(LoadIconImages(0), 0) << GetErrorDetail();
    std::vector<qbIconImage> list;
    GetIconImageList(&list);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].flags, kIconImageMarked);
    // Pixel (x, y) of the fixture is x << 16 | y << 8 | 7, made opaque.
    EXPECT_EQ(list[0].pixels[3 * 16 + 5], 0xFF050307u);
    EXPECT_EQ(list[1].flags, kIconImageSecondKind);
    EXPECT_EQ(list[1].pixels[23 * 24 + 23], 0xFF171707u);
}

TEST_F(IconsTest, AWrongSizeFailsAndLeavesNoList) {
    Slot(0).source = test_bmp::WriteBmp(16, 16);
    Slot(2).source = test_bmp::WriteBmp(16, 16);
    EXPECT_EQ(LoadIconImages(0), ERR_ICONDIMS);
    EXPECT_STREQ(GetErrorDetail(), "32x32");
    std::vector<qbIconImage> list;
    GetIconImageList(&list);
    EXPECT_TRUE(list.empty());
}
