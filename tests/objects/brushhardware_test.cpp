// Hardware brushes follow their display: saved to a snapshot when it
// closes, rebuilt with their mask or alpha channel when it opens, freed
// with it. Without an adapter that keeps bitmaps the rebuilt brush is an
// ordinary one.
#include <gtest/gtest.h>

#include <memory>

#include "core/errcodes.h"
#include "display/bitmap.h"
#include "display/display.h"
#include "objects/brushhardware.h"
#include "brush_fixture.h"

namespace {

class HardwareBrushTest : public BrushWorld {
protected:
    qbBrush* Make(int32_t id, const char* plane) {
        VmPushNumber(L_, id);
        VmPushNumber(L_, 6);
        VmPushNumber(L_, 4);
        VmPushNumber(L_, 0x336699);
        VmPushNewTable(L_);
        if (plane) SetTableFieldInt(L_, plane, 1);
        EXPECT_EQ(Run("CreateBrush", 5), 0);
        qbBrush* b = Find(id);
        // What a brush on an adapter that keeps bitmaps would carry.
        b->hardware = 1;
        b->display = display.get();
        b->displayId = IDOf(*display);
        b->hardwareFlags = (b->mask ? 1 : 0) | (b->alpha ? 2 : 0);
        return b;
    }
    std::unique_ptr<qbDisplay> display = [] {
        auto d = std::make_unique<qbDisplay>();
        d->id = 3;
        return d;
    }();
};

}  // namespace

TEST_F(HardwareBrushTest, ClosingAndOpeningTheDisplayKeepsPixelsAndPlanes) {
    qbBrush* withAlpha = Make(1, "alphachannel");
    qbBrush* withMask = Make(2, "mask");
    withAlpha->alpha->plane->data[1] = 77;
    WriteBitmapPixel(withMask->mask, 4, 2, kMaskInvisible, true);
    WriteBitmapPixel(withMask->bitmap, 5, 3, 0x102030, false);

    SaveHardwareBrushes(L_, display.get());
    for (qbBrush* b : {withAlpha, withMask}) {
        EXPECT_EQ(b->bitmap, nullptr);
        EXPECT_EQ(b->mask, nullptr);
        EXPECT_EQ(b->alpha, nullptr);
        EXPECT_EQ(b->snapshot.size(), 24u);
    }
    ASSERT_EQ(RestoreHardwareBrushes(L_, display.get()), 0);
    ASSERT_TRUE(withAlpha->bitmap && withAlpha->alpha);
    EXPECT_EQ(withAlpha->mask, nullptr);
    EXPECT_EQ(withAlpha->alpha->plane->data[1], 77);
    EXPECT_EQ(withAlpha->alpha->plane->data[0], 255);
    ASSERT_TRUE(withMask->bitmap && withMask->mask);
    EXPECT_EQ(withMask->alpha, nullptr);
    EXPECT_EQ(ReadBitmapPixel(withMask->mask, 4, 2, true), 0u);
    EXPECT_EQ(ReadBitmapPixel(withMask->mask, 3, 2, true), 1u);
    EXPECT_EQ(ReadBitmapPixel(withMask->bitmap, 5, 3, false), 0x102030u);
    EXPECT_EQ(ReadBitmapPixel(withMask->bitmap, 0, 0, false), 0x336699u);
    EXPECT_TRUE(withMask->snapshot.empty());
    // No adapter keeps these bitmaps: the brushes are ordinary ones now.
    EXPECT_EQ(withMask->hardware, 0);
    EXPECT_EQ(withMask->display, nullptr);
}

TEST_F(HardwareBrushTest, OnlyTheDisplaysOwnBrushesAreSavedOrFreed) {
    Make(1, nullptr);
    qbBrush* other = Make(2, nullptr);
    auto second = std::make_unique<qbDisplay>();
    second->id = 4;
    other->display = second.get();
    other->displayId = IDOf(*second);

    SaveHardwareBrushes(L_, display.get());
    EXPECT_NE(other->bitmap, nullptr);
    FreeDisplayBrushes(L_, display.get());
    EXPECT_EQ(Find(ObjectID{1, nullptr}, kBrushHardwareToo), nullptr) << "a saved brush goes with its closed display";
    EXPECT_EQ(Find(ObjectID{2, nullptr}, kBrushHardwareToo), other);
    FreeDisplayBrushes(L_, second.get());
    EXPECT_EQ(Find(ObjectID{2, nullptr}, kBrushHardwareToo), nullptr);
}

TEST_F(HardwareBrushTest, WithoutAnAdapterTheHardwareOptionMakesOrdinaryBrushes) {
    VmPushNumber(L_, 1);
    VmPushNumber(L_, 4);
    VmPushNumber(L_, 4);
    VmPushNumber(L_, 0);
    VmPushNewTable(L_);
    SetTableFieldInt(L_, "hardware", 1);
    SetTableFieldInt(L_, "display", 9);
    ASSERT_EQ(Run("CreateBrush", 5), 0);
    EXPECT_EQ(Find(1)->hardware, 0);
    VmPushNumber(L_, 1);
    VmPushNumber(L_, 2);
    VmPushNewTable(L_);
    SetTableFieldInt(L_, "hardware", 1);
    ASSERT_EQ(Run("CopyBrush", 3), 0);
    EXPECT_EQ(Find(2)->hardware, 0);

    Make(3, nullptr);
    VmPushNumber(L_, 3);
    VmPushNumber(L_, 4);
    VmPushNewTable(L_);
    SetTableFieldInt(L_, "hardware", 0);
    EXPECT_EQ(Run("CopyBrush", 3), ERR_WRONGUSAGE) << "a hardware brush cannot be copied as a software one";
}
