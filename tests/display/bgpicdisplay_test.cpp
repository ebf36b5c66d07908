// BGPics on displays, with the window surfaces read back: DisplayBGPic,
// freeing the BGPic a display shows, gradient and texture backdrops, and a
// picture loaded before the displays start.
#include <cstdio>

#include "displaylib_fixture.h"
#include "objects/bgpiclib.h"
#include "objects/brushlib.h"
#include "objects/brushes.h"
#include "test_bmp.h"

namespace {

class BGPicDisplayTest : public DisplayLibWorld {
protected:
    void SetUp() override {
        DisplayLibWorld::SetUp();
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitBrushLibrary(L_), 0);
        ASSERT_EQ(InitBGPicLibrary(L_), 0);
        VmSetTop(L_, 0);
    }
    void TearDown() override {
        FreeAllDisplays(L_);
        FreeAllBrushes(L_);
        DisplayLibWorld::TearDown();
    }

    template <class Fill>
    qbDisplay* OpenFirst(Fill fill) {
        EXPECT_EQ(Create(1, [&] {
                      Field("active", 1);
                      Field("width", 40);
                      Field("height", 30);
                      fill();
                  }),
                  0);
        EXPECT_EQ(StartDisplays(L_), 0);
        return Find(1);
    }
    static uint32_t Pixel(const qbDisplay* d, int x, int y) {
        const null_backend::Surface* s = null_backend::GetSurface(d);
        return s ? s->At(x, y) & 0xFFFFFF : 0xDEADu;
    }
    static qbBrush* FindBrush(int32_t id) {
        qbBrush* b = nullptr;
        GetBrushRecord(nullptr, ObjectID{id, nullptr}, &b, 0);
        return b;
    }
    static qbBGPic* Pic(int32_t id, uint32_t flags = 0) {
        qbBGPic* p = nullptr;
        GetBGPic(nullptr, ObjectID{id, nullptr}, &p, flags);
        return p;
    }
};

}  // namespace

TEST_F(BGPicDisplayTest, DisplayBGPicShowsThePictureAndAFreedOneStaysUntilReplaced) {
    qbDisplay* d = OpenFirst([] {});
    ASSERT_EQ(RunNumbers("CreateBGPic", {2, 40, 30, 0xFF0000}), 0);
    ASSERT_EQ(RunNumbers("CreateBGPic", {3, 40, 30, 0x00FF00}), 0);
    ASSERT_EQ(RunNumbers("DisplayBGPic", {2}), 0);
    EXPECT_EQ(Pixel(d, 5, 5), 0xFF0000u);
    qbBGPic* shown = Pic(2);

    // Freed while shown: the number is free at once, the picture stays.
    ASSERT_EQ(RunNumbers("FreeBGPic", {2}), 0);
    EXPECT_EQ(Pic(2), nullptr);
    EXPECT_EQ(d->bgpic, shown);
    EXPECT_TRUE(shown->pendingFree);
    ASSERT_EQ(RunNumbers("CreateBGPic", {2, 10, 10, 0x0000FF}), 0);
    EXPECT_NE(Pic(2), shown);
    EXPECT_EQ(Pixel(d, 5, 5), 0xFF0000u);
    const int before = CountBGPics();

    // Showing another lets the freed one go.
    ASSERT_EQ(RunNumbers("DisplayBGPic", {3}), 0);
    EXPECT_EQ(Pixel(d, 39, 29), 0x00FF00u);
    EXPECT_EQ(CountBGPics(), before - 1);
    EXPECT_EQ(RunNumbers("ScaleBGPic", {3, 20, 20}), ERR_SCALEBGPIC);
}

TEST_F(BGPicDisplayTest, GradientAndTextureBackdrops) {
    qbDisplay* d = OpenFirst([&] {
        Field("fillstyle", kFillGradient);
        Field("gradientstyle", kGradientLinear);
        Field("gradientangle", 90);
        Field("gradientstartcolor", 0x000000);
        Field("gradientendcolor", 0xFFFFFF);
    });
    ASSERT_NE(d, nullptr);
    EXPECT_LT(Pixel(d, 0, 10) & 0xFF, 8u);
    EXPECT_GT(Pixel(d, 39, 10) & 0xFF, 0xF0u);
    EXPECT_EQ(Pixel(d, 20, 0), Pixel(d, 20, 29));

    ASSERT_EQ(RunNumbers("CreateBrush", {4, 2, 2, 0x0000FF}), 0);
    WriteBitmapPixel(FindBrush(4)->bitmap, 0, 0, 0xFFFF00, false);
    VmPushNewTable(L_);
    SetTableFieldInt(L_, "fillstyle", kFillTexture);
    SetTableFieldInt(L_, "texturebrush", 4);
    SetTableFieldInt(L_, "texturex", 1);
    ASSERT_EQ(Run("SetDisplayAttributes", 1), 0);
    EXPECT_EQ(Pixel(d, 1, 0), 0xFFFF00u);
    EXPECT_EQ(Pixel(d, 0, 0), 0x0000FFu);
    EXPECT_EQ(Pixel(d, 3, 2), 0xFFFF00u);
}

TEST_F(BGPicDisplayTest, APictureLoadedBeforeStartIsShownWhenTheDisplaysStart) {
    const std::string file = test_bmp::WriteBmp(40, 30);
    VmPushNumber(L_, 1);
    VmPushString(L_, file.c_str());
    ASSERT_EQ(Run("LoadBGPic", 2), 0);
    EXPECT_EQ(Pic(1)->current.bitmap, nullptr);
    qbDisplay* d = OpenFirst([&] { Field("bgpic", 1); });
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->bgpic, Pic(1));
    EXPECT_EQ(Pixel(d, 12, 5), 0x0C0507u);
    std::remove(file.c_str());
}
