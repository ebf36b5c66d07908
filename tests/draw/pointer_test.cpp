// Pointer images through their commands, read back from the in-memory
// backend: hot spots, the mask as alpha, freeing a shown pointer, and
// moving by position constants on a scaled display.
#include <gtest/gtest.h>

#include "core/errcodes.h"
#include "display/pointers.h"
#include "objects/sprite_fixture.h"
#include "platform/null/null_pointer.h"

namespace {

constexpr double kBrush = 3, kSprite = 32, kStandard = 36;

class PointerTest : public SpriteWorld {
protected:
    void TearDown() override {
        FreeAllDisplays(L_);
        FreeAllPointers(L_);
        SpriteWorld::TearDown();
    }
    static qbPointerObject* Pointer(int32_t id) {
        qbPointerObject* p = nullptr;
        return GetPointerRecord(ObjectID{id, nullptr}, &p) ? nullptr : p;
    }
    static const null_backend::PointerImage* Image(int32_t id) {
        const qbPointerObject* p = Pointer(id);
        return p ? null_backend::GetPointerImage(static_cast<const qbNativePointer*>(p->native)) : nullptr;
    }
};

TEST_F(PointerTest, HotSpotsAndTheMaskAsAlpha) {
    MakeBrush(1, 32, 32, 0x123456);
    ASSERT_EQ(RunNumbers("CreatePointer", {1, kBrush, 1, 100, -1}), 0);
    const auto* image = Image(1);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->hotX, 31);
    EXPECT_EQ(image->hotY, 16);
    EXPECT_EQ(image->width, 32);
    EXPECT_EQ(image->argb[0], 0xFF123456u);

    VmPushNumber(L_, 2);
    VmPushNumber(L_, 4);
    VmPushNumber(L_, 3);
    VmPushNumber(L_, 0xABCDEF);
    VmPushNewTable(L_);
    SetTableFieldInt(L_, "mask", 1);
    ASSERT_EQ(Run("CreateBrush", 5), 0);
    qbBrush* masked = nullptr;
    ASSERT_EQ(GetBrushRecord(L_, ObjectID{2, nullptr}, &masked, 0), 0);
    WriteBitmapPixel(masked->mask, 1, 0, kMaskInvisible, true);
    ASSERT_EQ(RunNumbers("CreatePointer", {2, kBrush, 2}), 0);
    const auto* shaped = Image(2);
    ASSERT_NE(shaped, nullptr);
    EXPECT_EQ(shaped->hotX, 2);
    EXPECT_EQ(shaped->hotY, 1);
    EXPECT_EQ(shaped->argb[0] >> 24, 0xFFu);
    EXPECT_EQ(shaped->argb[1] >> 24, 0u);

    EXPECT_EQ(RunNumbers("CreatePointer", {3, kStandard, 2}), ERR_WRONGUSAGE);
    EXPECT_EQ(RunNumbers("CreatePointer", {3, 5, 1}), ERR_WRONGUSAGE);
    EXPECT_EQ(RunNumbers("CreatePointer", {3, kSprite, 4}), ERR_FINDSPRITE);
    EXPECT_EQ(RunNumbers("CreatePointer", {3, kBrush, 9}), ERR_FINDBRUSH);
    ASSERT_EQ(RunNumbers("CreatePointer", {3, kStandard, 1}), 0);
    EXPECT_EQ(Pointer(3)->kind, 1);
    EXPECT_EQ(Pointer(3)->width, 16);
    EXPECT_EQ(null_backend::LivePointerCount(), 2);
    // The same id again replaces the pointer and its native image.
    ASSERT_EQ(RunNumbers("CreatePointer", {1, kStandard, 0}), 0);
    EXPECT_EQ(null_backend::LivePointerCount(), 1);
}

TEST_F(PointerTest, AShownPointerOutlivesFreePointerUntilTheNextSet) {
    EXPECT_EQ(RunNumbers("FreePointer", {7}), ERR_FINDPOINTER);
    EXPECT_EQ(Text(ERR_FINDPOINTER), "Could not find pointer image 7!");
    MakeBrush(1, 8, 8, 0xFF0000);
    ASSERT_EQ(RunNumbers("CreatePointer", {1, kBrush, 1}), 0);
    ASSERT_EQ(RunNumbers("CreatePointer", {2, kStandard, 1}), 0);
    ASSERT_EQ(RunNumbers("SetPointer", {1}), 0);
    const void* native = Pointer(1)->native;
    EXPECT_EQ(null_backend::GetWindowPointer(display_).pointer, native);
    EXPECT_EQ(null_backend::GetWindowPointer(display_).kind, 2);

    ASSERT_EQ(RunNumbers("FreePointer", {1}), 0);
    EXPECT_EQ(Pointer(1), nullptr);
    EXPECT_EQ(RunNumbers("SetPointer", {1}), ERR_FINDPOINTER);
    ASSERT_NE(display_->pointer, nullptr);
    EXPECT_EQ(display_->pointer->deferredFree, 1);
    EXPECT_NE(null_backend::GetPointerImage(static_cast<const qbNativePointer*>(native)), nullptr);

    ASSERT_EQ(RunNumbers("SetPointer", {2}), 0);
    EXPECT_EQ(null_backend::GetPointerImage(static_cast<const qbNativePointer*>(native)), nullptr);
    EXPECT_EQ(null_backend::GetWindowPointer(display_).kind, 1);
    EXPECT_EQ(display_->pointer, Pointer(2));
    // A pointer not shown goes at once.
    ASSERT_EQ(RunNumbers("CreatePointer", {3, kBrush, 1}), 0);
    ASSERT_EQ(RunNumbers("FreePointer", {3}), 0);
    EXPECT_EQ(null_backend::LivePointerCount(), 0);
}

TEST_F(PointerTest, MovesByThePointersSizeTimesTheScale) {
    MakeBrush(1, 32, 32, 0xFF0000);
    ASSERT_EQ(RunNumbers("CreatePointer", {1, kBrush, 1}), 0);
    display_->scaleX = 2.0;
    display_->scaleY = 2.0;
    // Without a pointer of its own the display's is 16 x 16.
    ASSERT_EQ(RunNumbers("MovePointer", {-100000, -100000}), 0);
    auto w = null_backend::GetWindowPointer(display_);
    EXPECT_EQ(w.x, (100 - 16) / 2 * 2);
    EXPECT_EQ(w.y, (80 - 16) / 2 * 2);
    ASSERT_EQ(RunNumbers("SetPointer", {1}), 0);
    ASSERT_EQ(RunNumbers("MovePointer", {-100000, -60000}), 0);
    w = null_backend::GetWindowPointer(display_);
    EXPECT_EQ(w.x, (100 - 32) / 2 * 2);
    EXPECT_EQ(w.y, (80 - 32) * 2);
    const int moves = w.moves;
    SetVideoRecording(true);
    ASSERT_EQ(RunNumbers("MovePointer", {3, 4}), 0);
    SetVideoRecording(false);
    EXPECT_EQ(null_backend::GetWindowPointer(display_).moves, moves);
}

}  // namespace

TEST_F(PointerTest, ASpritePointerShowsTheFrameAskedForOrTheFirst) {
    FramesSprite(5, 2, 4, 3);
    ASSERT_EQ(RunNumbers("CreatePointer", {1, kSprite, 5}), 0);
    ASSERT_NE(Image(1), nullptr);
    EXPECT_EQ(Image(1)->argb[0], 0xFF000000u | FrameColour(0));
    ASSERT_EQ(RunNumbers("CreatePointer", {2, kSprite, 5, 2}), 0);
    ASSERT_NE(Image(2), nullptr);
    EXPECT_EQ(Image(2)->argb[0], 0xFF000000u | FrameColour(1));
    EXPECT_EQ(RunNumbers("CreatePointer", {3, kSprite, 5, 3}), ERR_ANIMFRAME);
}
