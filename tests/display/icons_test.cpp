// Icon pictures: loaded from files and from a part of the applet file,
// opaque when the picture has no alpha, refused at a size other than the
// slot's, and handed out as copies.
#include <gtest/gtest.h>

#include <cstdio>
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
    const std::string bmp = test_bmp::WriteBmp(24, 24);
    std::ifstream in(bmp, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string container = testing::TempDir() + "applet_" + std::to_string(getpid()) + ".bin";
    {
        std::ofstream out(container, std::ios::binary);
        out << std::string(100, 'x');
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out << "trailing";
    }
    Slot(kIconPlainSlots + 1).source = MakeChunkName("24x24", 100, bytes.size(), 0, container.c_str());

    ASSERT_EQ(LoadIconImages(0), 0) << GetErrorDetail();
    std::vector<qbIconImage> list;
    GetIconImageList(&list);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].width, 16);
    EXPECT_EQ(list[0].flags, uint32_t{kIconImageMarked});
    // Pixel (x, y) of the fixture is x << 16 | y << 8 | 7, made opaque.
    EXPECT_EQ(list[0].pixels[3 * 16 + 5], 0xFF050307u);
    EXPECT_EQ(list[1].width, 24);
    EXPECT_EQ(list[1].flags, uint32_t{kIconImageSecondKind});
    EXPECT_EQ(list[1].pixels[23 * 24 + 23], 0xFF171707u);
    FreeIconImageList(&list);
    EXPECT_TRUE(list.empty());
    GetIconImageList(&list);
    EXPECT_EQ(list.size(), 2u) << "freeing a copy leaves the loaded list";
    std::remove(container.c_str());
}

TEST_F(IconsTest, AWrongSizeOrAMissingFileFailsAndLeavesNoList) {
    Slot(0).source = test_bmp::WriteBmp(16, 16);
    Slot(2).source = test_bmp::WriteBmp(16, 16);
    EXPECT_EQ(LoadIconImages(0), ERR_ICONDIMS);
    EXPECT_STREQ(GetErrorDetail(), "32x32");
    std::vector<qbIconImage> list;
    GetIconImageList(&list);
    EXPECT_TRUE(list.empty());

    Slot(2).source = testing::TempDir() + "no_such_icon.png";
    EXPECT_NE(LoadIconImages(0), 0);
    GetIconImageList(&list);
    EXPECT_TRUE(list.empty());
}
