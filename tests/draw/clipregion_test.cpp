// Clip-region objects through their commands: boxes and brush masks, the
// trimming of negative corners, and regions that layers hold past their
// FreeClipRegion.
#include <gtest/gtest.h>

#include "core/objectlist.h"
#include "core/errcodes.h"
#include "objects/show_fixture.h"

namespace {

constexpr double kBox = 14, kMask = 28;

class ClipRegionTest : public ShowWorld {
protected:
    static qbClipRegionObject* Region(int32_t id) {
        qbClipRegionObject* r = nullptr;
        return GetClipRegionRecord(ObjectID{id, nullptr}, &r, 0) ? nullptr : r;
    }
    static int CountRegions() {
        int n = 0;
        for (qbObject* o = ClipRegionListHead()->head; o; o = o->next) ++n;
        return n;
    }
    // A 6x4 brush with a mask whose bit (x, y) is set when x + y is even.
    void CheckerBrush(int32_t id) {
        VmPushNumber(L_, id);
        VmPushNumber(L_, 6);
        VmPushNumber(L_, 4);
        VmPushNumber(L_, 0xFF0000);
        VmPushNewTable(L_);
        SetTableFieldInt(L_, "mask", 1);
        ASSERT_EQ(Run("CreateBrush", 5), 0);
        qbBrush* b = nullptr;
        ASSERT_EQ(GetBrushRecord(L_, ObjectID{id, nullptr}, &b, 0), 0);
        for (int32_t y = 0; y < 4; ++y)
            for (int32_t x = 0; x < 6; ++x)
                WriteBitmapPixel(b->mask, x, y, (x + y) % 2 ? kMaskInvisible : kMaskVisible, true);
    }
};

TEST_F(ClipRegionTest, BoxesAreTrimmedToThePicture) {
    ASSERT_EQ(RunNumbers("CreateClipRegion", {1, kBox, -10, -5, 30, 20}), 0);
    const qbClipRegionObject* r = Region(1);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->x, 0);
    EXPECT_EQ(r->width, 20);
    EXPECT_EQ(r->y, 0);
    EXPECT_EQ(r->height, 15);
    EXPECT_EQ(r->mask, nullptr);
    // Position constants resolve against the picture (100 x 80).
    ASSERT_EQ(RunNumbers("CreateClipRegion", {2, kBox, -100000, -60000, 20, 10}), 0);
    EXPECT_EQ(Region(2)->x, 40);
    EXPECT_EQ(Region(2)->y, 70);

    EXPECT_EQ(RunNumbers("CreateClipRegion", {3, kBox, -10, 0, 10, 10}), ERR_WRONGUSAGE);
    EXPECT_EQ(RunNumbers("CreateClipRegion", {3, kBox, 0, -4, 10, 4}), ERR_WRONGUSAGE);
    EXPECT_EQ(RunNumbers("CreateClipRegion", {3, kBox, 5, 5, 0, 10}), ERR_WRONGUSAGE);
    EXPECT_EQ(RunNumbers("CreateClipRegion", {3, kBox, 5, 5, 10, -3}), ERR_WRONGUSAGE);
    EXPECT_EQ(RunNumbers("CreateClipRegion", {3, 5, 5, 5, 10, 10}), ERR_WRONGUSAGE);
    EXPECT_EQ(CountRegions(), 2);

    // The same id again replaces the region.
    ASSERT_EQ(RunNumbers("CreateClipRegion", {1, kBox, 1, 2, 3, 4}), 0);
    EXPECT_EQ(CountRegions(), 2);
    EXPECT_EQ(Region(1)->width, 3);

    // Nil asks for an automatic id, which the script gets back.
    VmPushNil(L_);
    VmPushNumber(L_, kBox);
    for (double v : {0.0, 0.0, 5.0, 5.0}) VmPushNumber(L_, v);
    ASSERT_EQ(Run("CreateClipRegion", 6, 1), 0);
    void* handle = VmToUserdata(L_, -1);
    VmSetTop(L_, 0);
    ASSERT_NE(handle, nullptr);
    qbClipRegionObject* made = nullptr;
    ASSERT_EQ(GetClipRegionRecord(ObjectID{0, handle}, &made, 0), 0);
    EXPECT_EQ(made->width, 5);
}

TEST_F(ClipRegionTest, MaskRegionsKeepTheirOwnCopy) {
    CheckerBrush(1);
    ASSERT_EQ(RunNumbers("CreateClipRegion", {1, kMask, 1, -1, 2}), 0);
    ASSERT_EQ(RunNumbers("CreateClipRegion", {2, kMask, 1, 0, 0}), 0);
    ASSERT_EQ(RunNumbers("FreeBrush", {1}), 0);
    const qbClipRegionObject* cut = Region(1);
    ASSERT_NE(cut, nullptr);
    ASSERT_NE(cut->mask, nullptr);
    EXPECT_EQ(cut->x, 0);
    EXPECT_EQ(cut->y, 2);
    EXPECT_EQ(cut->width, 5);
    EXPECT_EQ(cut->height, 4);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 5; ++x)
            EXPECT_EQ(ReadBitmapPixel(cut->mask, x, y, true), (x + 1 + y) % 2 ? 0u : 1u) << x << "," << y;
    const qbClipRegionObject* whole = Region(2);
    ASSERT_NE(whole->mask, nullptr);
    EXPECT_EQ(whole->width, 6);
    EXPECT_EQ(ReadBitmapPixel(whole->mask, 0, 0, true), 1u);
    EXPECT_EQ(ReadBitmapPixel(whole->mask, 1, 0, true), 0u);

    ASSERT_EQ(RunNumbers("CreateBrush", {3, 4, 4}), 0);
    EXPECT_EQ(RunNumbers("CreateClipRegion", {3, kMask, 3, 0, 0}), ERR_NOMASKBRUSH);
    EXPECT_EQ(RunNumbers("CreateClipRegion", {3, kMask, 9, 0, 0}), ERR_FINDBRUSH);
}

TEST_F(ClipRegionTest, FreeingClearsTheChoiceAndWaitsForLayers) {
    EXPECT_EQ(RunNumbers("FreeClipRegion", {7}), ERR_FINDCLIPREGION);
    EXPECT_EQ(Text(ERR_FINDCLIPREGION), "Could not find clip region 7!");

    ASSERT_EQ(RunNumbers("CreateClipRegion", {1, kBox, 10, 10, 20, 20}), 0);
    ASSERT_EQ(RunNumbers("SetClipRegion", {1}), 0);
    ASSERT_EQ(RunNumbers("FreeClipRegion", {1}), 0);
    EXPECT_EQ(display_->clipRegion, nullptr);
    EXPECT_EQ(CountRegions(), 0);

    ASSERT_EQ(Run("EnableLayers", 0), 0);
    MakeBrush(1, 40, 40, 0x00FF00);
    ASSERT_EQ(RunNumbers("CreateClipRegion", {1, kBox, 10, 10, 20, 20}), 0);
    qbClipRegionObject* held = Region(1);
    ASSERT_EQ(RunNumbers("SetClipRegion", {1}), 0);
    ASSERT_EQ(Show("DisplayBrush", {1, 0, 0}), 0);
    ASSERT_EQ(RunNumbers("FreeClipRegion", {1}), 0);
    // Gone for the script, kept for the layer, which still clips with it.
    EXPECT_EQ(Region(1), nullptr);
    ASSERT_EQ(CountRegions(), 1);
    EXPECT_EQ(ClipRegionListHead()->head, held);
    EXPECT_EQ(held->deferredFree, 1);
    EXPECT_EQ(Window(15, 15), 0x00FF00u);
    EXPECT_NE(Window(5, 5), 0x00FF00u);
    // A new region under the freed one's id is a region of its own.
    ASSERT_EQ(RunNumbers("CreateClipRegion", {1, kBox, 0, 0, 5, 5}), 0);
    EXPECT_EQ(CountRegions(), 2);
    ASSERT_EQ(RunNumbers("Undo", {3, 1}), 0);
    EXPECT_EQ(CountRegions(), 1);
    EXPECT_NE(Region(1), nullptr);
}

}  // namespace
