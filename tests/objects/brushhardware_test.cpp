// Hardware brushes follow their display: saved to a snapshot when it
// closes, rebuilt with their mask or alpha channel when it opens, freed
// with it. Without an adapter that keeps bitmaps the rebuilt brush is an
// ordinary one.
#include <gtest/gtest.h>

#include <memory>

#include "brush_fixture.h"
#include "core/errcodes.h"
#include "display/display.h"
#include "imaging/bitmap.h"
#include "objects/brushhardware.h"

namespace {

class HardwareBrushTest : public BrushWorld {
protected:
    // A brush as an adapter that keeps bitmaps would have made it.
    qbBrush* Make(int32_t id, const char* plane, qbDisplay* d) {
        VmPushNumber(L_, id);
        VmPushNumber(L_, 6);
        VmPushNumber(L_, 4);
        VmPushNumber(L_, 0x336699);
        VmPushNewTable(L_);
        if (plane) SetTableFieldInt(L_, plane, 1);
        EXPECT_EQ(Run("CreateBrush", 5), 0);
        qbBrush* b = Find(id);
        b->hardware = 1;
        b->display = d;
        b->displayId = IDOf(*d);
        b->hardwareFlags = (b->mask ? 1 : 0) | (b->alpha ? 2 : 0);
        return b;
    }
    static qbBrush* FindAny(int32_t id) { return Find(ObjectID{id, nullptr}, kBrushHardwareToo); }
    static std::unique_ptr<qbDisplay> Display(int32_t id) {
        auto d = std::make_unique<qbDisplay>();
        d->id = id;
        return d;
    }
};

}  // namespace

TEST_F(HardwareBrushTest, ClosingAndOpeningTheDisplayKeepsPixelsAndPlanes) {
    auto display = Display(3);
    qbBrush* withAlpha = Make(1, "alphachannel", display.get());
    qbBrush* withMask = Make(2, "mask", display.get());
    withAlpha->alpha->plane->data[1] = 77;
    WriteBitmapPixel(withMask->mask, 4, 2, kMaskInvisible, true);
    WriteBitmapPixel(withMask->bitmap, 5, 3, 0x102030, false);

    SaveHardwareBrushes(L_, display.get());
    for (qbBrush* b : {withAlpha, withMask}) EXPECT_EQ(b->bitmap, nullptr);
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
    // No adapter keeps these bitmaps: the brushes are ordinary ones now.
    EXPECT_EQ(withMask->hardware, 0);
}

TEST_F(HardwareBrushTest, OnlyTheDisplaysOwnBrushesAreSavedOrFreed) {
    auto display = Display(3);
    auto second = Display(4);
    Make(1, nullptr, display.get());
    qbBrush* other = Make(2, nullptr, second.get());
    SaveHardwareBrushes(L_, display.get());
    EXPECT_NE(other->bitmap, nullptr);
    FreeDisplayBrushes(L_, display.get());
    EXPECT_EQ(FindAny(1), nullptr) << "a saved brush goes with its closed display";
    EXPECT_EQ(FindAny(2), other);
}
