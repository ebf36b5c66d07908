// LoadBrush over a BMP file the test writes: parts of the picture, option
// conflicts, a failed load that keeps the old brush, and brushes loaded
// before the displays start.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "brush_fixture.h"
#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/settings.h"
#include "display/display.h"
#include "display/imagecache.h"
#include "imaging/bitmap.h"
#include "imaging/imagefixtures.h"
#include "objects/brushes.h"
#include "objects/brushlib.h"
#include "objects/layersources.h"
#include "test_bmp.h"
#include "vm/vm.h"

namespace {

using test_bmp::WriteBmp;

uint32_t Expected(int32_t x, int32_t y) { return static_cast<uint32_t>(x << 16 | y << 8 | 7); }

class BrushLoadTest : public BrushWorld {
protected:
    void SetUp() override {
        BrushWorld::SetUp();
        SetPicturesPending(false);
        file_ = WriteBmp(20, 6);
    }
    void TearDown() override {
        SetPicturesPending(true);
        BrushWorld::TearDown();
    }

    // LoadBrush(id or Nil, file, {fields}) with integer fields.
    int Load(int32_t id, const std::string& file, std::initializer_list<std::pair<const char*, int32_t>> fields,
             int nresults = 0) {
        if (id) VmPushNumber(L_, id);
        else VmPushNil(L_);
        VmPushString(L_, file.c_str());
        VmPushNewTable(L_);
        for (const auto& [k, v] : fields) SetTableFieldInt(L_, k, v);
        return Run("LoadBrush", 3, nresults);
    }
    std::string file_;
};

}  // namespace

TEST_F(BrushLoadTest, APartBeyondTheEdgeIsCutThere) {
    ASSERT_EQ(Load(1, file_, {{"x", 10}, {"width", 5000}}), 0);
    qbBrush* b = Find(1);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->width, 10);
    EXPECT_EQ(b->height, 6);
    EXPECT_EQ(ReadBitmapPixel(b->bitmap, 0, 0, false), Expected(10, 0));
    EXPECT_EQ(ReadBitmapPixel(b->bitmap, 9, 5, false), Expected(19, 5));

    EXPECT_EQ(Load(2, file_, {{"x", -1}}), ERR_NEGCOORDS);
    EXPECT_EQ(Load(2, file_, {{"y", 6}}), ERR_COORDSRANGE);
    EXPECT_EQ(Load(2, file_, {{"loadalpha", 1}, {"transparency", 0x70007}}), ERR_MASKNALPHA);
    char text[kErrorTextSize];
    GetErrorText(ERR_MASKNALPHA, text);
    EXPECT_STREQ(text, "Mask and alpha channel are mutually exclusive!");
    EXPECT_EQ(Load(2, file_, {{"loadalpha", 1}, {"loadtransparency", 1}}), ERR_WRONGUSAGE);
    EXPECT_EQ(Find(2), nullptr);
}

TEST_F(BrushLoadTest, AKeyColourBecomesTheMaskAndGlobalAlphaAPlane) {
    ASSERT_EQ(Load(1, file_, {{"transparency", static_cast<int32_t>(Expected(3, 2))}}), 0);
    qbBrush* b = Find(1);
    ASSERT_NE(b->mask, nullptr);
    EXPECT_EQ(ReadBitmapPixel(b->mask, 3, 2, true), 0u);
    EXPECT_EQ(ReadBitmapPixel(b->mask, 4, 2, true), 1u);
    ASSERT_EQ(Load(2, file_, {{"globalalpha", 300}, {"x", 2}}), 0);
    ASSERT_NE(Find(2)->alpha, nullptr);
    EXPECT_EQ(Find(2)->alpha->plane->data[0], 255);
}

TEST_F(BrushLoadTest, NilGivesAnAutomaticIdAndAFailedLoadKeepsTheOldBrush) {
    ASSERT_EQ(Load(0, file_, {}, 1), 0);
    EXPECT_EQ(VmType(L_, -1), kTypeLightUserdata);
    VmSetTop(L_, 0);
    ASSERT_EQ(Load(1, file_, {{"x", 4}}), 0);
    EXPECT_EQ(Load(1, testing::TempDir() + "no such picture.bmp", {}), ERR_READFILE);
    ASSERT_NE(Find(1), nullptr);
    EXPECT_EQ(Find(1)->width, 16);
}

TEST_F(BrushLoadTest, BrushesLoadedBeforeTheDisplaysAreBuiltWhenTheyStart) {
    SetPicturesPending(true);
    ASSERT_EQ(Load(1, file_, {{"x", 5}, {"y", 1}, {"width", 3}, {"height", 2}}), 0);
    qbBrush* b = Find(1);
    EXPECT_EQ(b->bitmap, nullptr);
    EXPECT_EQ(b->width, 3);
    ASSERT_EQ(LoadPendingBrushes(L_), 0);
    ASSERT_NE(b->bitmap, nullptr);
    EXPECT_EQ(b->imageSource, nullptr);
    EXPECT_EQ(ReadBitmapPixel(b->bitmap, 0, 0, false), Expected(5, 1));
    EXPECT_EQ(ReadBitmapPixel(b->bitmap, 2, 1, false), Expected(7, 2));
}

TEST_F(BrushLoadTest, TheConsoleLineClosesWithDoneOrFailed) {
    SetRuntimeTag(kTagQuiet, 0);
    testing::internal::CaptureStdout();
    ASSERT_EQ(Load(1, file_, {}), 0);
    EXPECT_EQ(Load(2, testing::TempDir() + "missing.bmp", {}), ERR_READFILE);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Loading brush " + file_.substr(file_.rfind('/') + 1) + "...done\nLoading brush missing.bmp...failed\n");
}

// A picture loaded before the displays under a "cache" name loads again by
// that name, with the part asked of it; a name nobody cached, or an alpha
// channel the cached picture lacks, is a cache error.
TEST_F(BrushLoadTest, PicturesCachedBeforeTheDisplaysLoadAgainByName) {
    SetPicturesPending(true);
    const auto load = [&](int32_t id, const std::string& file, const char* key, const char* name, bool alpha) {
        VmPushNumber(L_, id);
        VmPushString(L_, file.c_str());
        VmPushNewTable(L_);
        SetTableFieldString(L_, key, name);
        SetTableFieldInt(L_, "x", 4);
        SetTableFieldInt(L_, "y", 1);
        if (alpha) SetTableFieldInt(L_, "loadalpha", 1);
        return Run("LoadBrush", 3);
    };
    ASSERT_EQ(load(1, file_, "cache", "grid", false), 0);
    const std::string unread = testing::TempDir() + "never read.bmp";
    ASSERT_EQ(load(2, unread, "cachedload", "grid", false), 0);
    EXPECT_EQ(load(3, unread, "cachedload", "other", false), ERR_CACHEERROR);
    EXPECT_EQ(load(3, unread, "cachedload", "grid", true), ERR_CACHEERROR);
    EXPECT_EQ(Find(3), nullptr);
    ASSERT_EQ(LoadPendingBrushes(L_), 0);
    SetPicturesPending(false);
    for (int32_t id : {1, 2}) {
        EXPECT_EQ(Find(id)->width, 16) << id;
        EXPECT_EQ(ReadBitmapPixel(Find(id)->bitmap, 0, 0, false), Expected(4, 1)) << id;
        EXPECT_EQ(ReadBitmapPixel(Find(id)->bitmap, 15, 4, false), Expected(19, 5)) << id;
    }
}

// A picture's own alpha channel is cut to the part, and a global alpha
// scales it rather than replacing it.
TEST_F(BrushLoadTest, APicturesAlphaIsCutToThePartAndScaledByGlobalAlpha) {
    imagefixtures::ScratchDir dir;
    const std::string png = dir.File("alpha.png");
    std::vector<uint32_t> pixels;
    for (uint32_t y = 0; y < 6; ++y)
        for (uint32_t x = 0; x < 8; ++x) pixels.push_back((0x10 * x + 0x80 + y) << 24 | x << 16 | y << 8);
    ASSERT_TRUE(imagefixtures::WriteRgbPng(png, 8, 6, pixels, true, false));
    const auto alpha = [&](int32_t id, int32_t x, int32_t y) {
        const qbBitmapPlane& p = *Find(id)->alpha->plane;
        return int{p.data[static_cast<size_t>(y) * p.rowBytes + static_cast<size_t>(x)]};
    };
    ASSERT_EQ(Load(1, png, {{"loadalpha", 1}, {"x", 2}, {"y", 3}, {"width", 3}}), 0);
    ASSERT_NE(Find(1)->alpha, nullptr);
    EXPECT_EQ(Find(1)->alpha->plane->width, 3);
    EXPECT_EQ(Find(1)->alpha->plane->height, 3);
    EXPECT_EQ(alpha(1, 0, 0), 0x20 + 0x80 + 3);
    EXPECT_EQ(alpha(1, 2, 2), 0x40 + 0x80 + 5);
    ASSERT_EQ(Load(2, png, {{"loadalpha", 1}, {"globalalpha", 128}}), 0);
    EXPECT_EQ(alpha(2, 0, 0), 0x80 * 128 / 255);
    EXPECT_EQ(alpha(2, 7, 5), (0x70 + 0x80 + 5) * 128 / 255);
}
