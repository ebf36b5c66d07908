// The brush library through its commands: creating, copying and freeing
// brushes, ids taken over only once the new brush exists, and brushes that
// a layer shows kept unchanged for the layer.
#include <gtest/gtest.h>

#include <time.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "brush_fixture.h"
#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/objects.h"
#include "core/settings.h"
#include "draw/graphicslib.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "objects/brushes.h"
#include "objects/brushlib.h"
#include "objects/layersources.h"
#include "vm/vm.h"

namespace {

class BrushLibTest : public BrushWorld {
protected:
    int RunNumbers(const char* command, std::initializer_list<double> args) {
        for (double a : args) VmPushNumber(L_, a);
        return Run(command, static_cast<int>(args.size()));
    }
    // CreateBrush(id, w, h, colour, {key = 1 ...}).
    int CreateWith(int32_t id, int32_t w, int32_t h, uint32_t colour, std::initializer_list<const char*> keys) {
        VmPushNumber(L_, id);
        VmPushNumber(L_, w);
        VmPushNumber(L_, h);
        VmPushNumber(L_, colour);
        VmPushNewTable(L_);
        for (const char* k : keys) SetTableFieldInt(L_, k, 1);
        return Run("CreateBrush", 5);
    }

    static uint32_t Pixel(const qbBrush* b, int32_t x, int32_t y) { return ReadBitmapPixel(b->bitmap, x, y, false); }
    static int Count() {
        int n = 0;
        for (qbObject* o = FirstBrush(); o; o = o->next) ++n;
        return n;
    }
};

constexpr ObjectID kOne{1, nullptr};

}  // namespace

TEST_F(BrushLibTest, CreateBrushChecksSizesAndOptions) {
    EXPECT_EQ(RunNumbers("CreateBrush", {1, 0, 10}), ERR_BADDIMENSIONS);
    EXPECT_EQ(RunNumbers("CreateBrush", {1, 10, -3}), ERR_BADDIMENSIONS);
    EXPECT_EQ(RunNumbers("CreateBrush", {1, std::numeric_limits<double>::quiet_NaN(), 10}), ERR_WRONGUSAGE);
    EXPECT_EQ(RunNumbers("CreateBrush", {1, 10, std::numeric_limits<double>::infinity()}), ERR_WRONGUSAGE);
    EXPECT_EQ(CreateWith(1, 4, 4, 0, {"mask", "alphachannel"}), ERR_WRONGUSAGE);
    // Far too large: refused by the allocation, never made smaller.
    EXPECT_EQ(RunNumbers("CreateBrush", {1, 3e9, 3e9}), ERR_BITMAP);
    EXPECT_EQ(RunNumbers("CreateBrush", {1, 100000, 100000}), ERR_BITMAP);
    EXPECT_EQ(Count(), 0);
}

TEST_F(BrushLibTest, CreateBrushFillsThePictureAndItsPlane) {
    ASSERT_EQ(RunNumbers("CreateBrush", {1, 5, 3, 0xFF123456}), 0);
    qbBrush* b = Find(1);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(Pixel(b, 4, 2), 0x123456u);
    EXPECT_EQ(b->mask, nullptr);
    EXPECT_EQ(b->transparentColour, -1);

    ASSERT_EQ(CreateWith(2, 10, 10, 0xFF0000, {"mask", "clear"}), 0);
    qbBrush* hidden = Find(2);
    ASSERT_NE(hidden->mask, nullptr);
    EXPECT_EQ(hidden->transparentColour, kCreatedMaskKey);
    for (int32_t y = 0; y < 10; ++y)
        for (int32_t x = 0; x < 10; ++x) EXPECT_EQ(ReadBitmapPixel(hidden->mask, x, y, true), 0u);

    ASSERT_EQ(CreateWith(3, 3, 2, 0, {"mask"}), 0);
    EXPECT_EQ(ReadBitmapPixel(Find(3)->mask, 2, 1, true), 1u);
    ASSERT_EQ(CreateWith(4, 3, 2, 0, {"alphachannel"}), 0);
    ASSERT_NE(Find(4)->alpha, nullptr);
    EXPECT_EQ(Find(4)->alpha->plane->data[0], 255);
}

TEST_F(BrushLibTest, NilAsksForAnAutomaticIdAndANumberReturnsNothing) {
    VmPushNil(L_);
    VmPushNumber(L_, 2);
    VmPushNumber(L_, 2);
    ASSERT_EQ(Run("CreateBrush", 3, 1), 0);
    ASSERT_EQ(VmType(L_, -1), kTypeLightUserdata);
    const ObjectID automatic{0, VmToUserdata(L_, -1)};
    VmSetTop(L_, 0);
    qbBrush* b = Find(automatic);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->handle, b);
    EXPECT_EQ(FindObjectByID(kObjectTypeBrush, automatic), b);

    VmPushNumber(L_, 7);
    VmPushNumber(L_, 2);
    VmPushNumber(L_, 2);
    ASSERT_EQ(Run("CreateBrush", 3, -1), 0);
    EXPECT_EQ(VmGetTop(L_), 0);
}

TEST_F(BrushLibTest, ANumberedIdIsTakenOverOnlyWhenTheNewBrushExists) {
    ASSERT_EQ(RunNumbers("CreateBrush", {1, 4, 4, 0x00FF00}), 0);
    // A failed replacement leaves brush 1 as it was.
    EXPECT_EQ(RunNumbers("CreateBrush", {1, 0, 4}), ERR_BADDIMENSIONS);
    EXPECT_EQ(RunNumbers("CreateBrush", {1, 3e9, 4}), ERR_BITMAP);
    ASSERT_NE(Find(1), nullptr);
    EXPECT_EQ(Pixel(Find(1), 0, 0), 0x00FF00u);
    // A locked brush refuses to be replaced; the new one goes again.
    Find(1)->locked = 1;
    EXPECT_EQ(RunNumbers("CreateBrush", {1, 2, 2, 0xFF}), ERR_LOCKEDOBJ);
    EXPECT_EQ(Count(), 1);
    EXPECT_EQ(Find(1)->width, 4);
    Find(1)->locked = 0;
    ASSERT_EQ(RunNumbers("CreateBrush", {1, 2, 2, 0xFF}), 0);
    EXPECT_EQ(Count(), 1);
    EXPECT_EQ(Find(1)->width, 2);
    EXPECT_EQ(Pixel(Find(1), 1, 1), 0xFFu);
}

TEST_F(BrushLibTest, CopyBrushMakesAnIndependentCopy) {
    ASSERT_EQ(CreateWith(1, 6, 5, 0x445566, {"alphachannel"}), 0);
    Find(1)->alpha->plane->data[1] = 17;
    EXPECT_EQ(RunNumbers("CopyBrush", {1, 1}), ERR_WRONGUSAGE);
    EXPECT_EQ(RunNumbers("CopyBrush", {9, 2}), ERR_FINDBRUSH);
    ASSERT_EQ(RunNumbers("CopyBrush", {1, 2}), 0);
    qbBrush* copy = Find(2);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->width, 6);
    EXPECT_EQ(copy->height, 5);
    EXPECT_EQ(Pixel(copy, 5, 4), 0x445566u);
    ASSERT_NE(copy->alpha, nullptr);
    EXPECT_NE(copy->alpha, Find(1)->alpha);
    EXPECT_EQ(copy->alpha->plane->data[1], 17);
    FillBitmapRect(Find(1)->bitmap, 0, 0, 6, 5, 0);
    EXPECT_EQ(Pixel(copy, 0, 0), 0x445566u);
}

TEST_F(BrushLibTest, FreeBrushOfAMissingBrushFailsOnlyWhenDemanded) {
    EXPECT_EQ(RunNumbers("FreeBrush", {5}), ERR_FINDBRUSH);
    VmPushLightUserdata(L_, &L_);
    EXPECT_EQ(Run("FreeBrush", 1), ERR_FINDARRAY);
    EXPECT_EQ(FreeBrushObject(nullptr, ObjectID{5, nullptr}, false), 0);
    ASSERT_EQ(RunNumbers("CreateBrush", {5, 1, 1}), 0);
    EXPECT_EQ(RunNumbers("FreeBrush", {5}), 0);
    EXPECT_EQ(Count(), 0);
}

TEST_F(BrushLibTest, AFreedBrushStaysForTheLayerThatShowsIt) {
    ASSERT_EQ(RunNumbers("CreateBrush", {1, 3, 3, 0xABCDEF}), 0);
    qbBrush* shown = Find(1);
    ASSERT_EQ(AddLayerSource(kObjectTypeBrush, kOne), 0);
    ASSERT_EQ(RunNumbers("FreeBrush", {1}), 0);
    EXPECT_EQ(Find(1), nullptr);
    // The layer now names the record by its own address.
    const ObjectID kept{0, shown};
    EXPECT_TRUE(LayersShowObject(kObjectTypeBrush, kept));
    EXPECT_EQ(Find(kept, kBrushDetachedToo), shown);
    EXPECT_EQ(Find(kept), nullptr);
    EXPECT_EQ(Pixel(shown, 2, 2), 0xABCDEFu);
    // The id is free for a new brush at once.
    ASSERT_EQ(RunNumbers("CreateBrush", {1, 2, 2, 0x111111}), 0);
    EXPECT_NE(Find(1), shown);
    PurgeDetachedBrushes(nullptr);
    EXPECT_EQ(Count(), 2);
    ASSERT_TRUE(RemoveLayerSource(kObjectTypeBrush, kept));
    PurgeDetachedBrushes(nullptr);
    EXPECT_EQ(Count(), 1);
    EXPECT_EQ(Pixel(Find(1), 0, 0), 0x111111u);
}

TEST_F(BrushLibTest, ChangingABrushALayerShowsLeavesTheLayerOnACopy) {
    ASSERT_EQ(RunNumbers("CreateBrush", {1, 4, 4, 0x202020}), 0);
    ASSERT_EQ(AddLayerSource(kObjectTypeBrush, kOne), 0);
    qbBrush* changed = nullptr;
    ASSERT_EQ(GetBrushRecord(nullptr, kOne, &changed, kBrushModify), 0);
    EXPECT_EQ(changed, Find(1));
    EXPECT_FALSE(LayersShowObject(kObjectTypeBrush, kOne));
    FillBitmapRect(changed->bitmap, 0, 0, 4, 4, 0x909090);
    ASSERT_EQ(Count(), 2);
    qbBrush* copy = static_cast<qbBrush*>(changed->next);
    EXPECT_TRUE(copy->detached);
    EXPECT_TRUE(LayersShowObject(kObjectTypeBrush, IDOf(*copy)));
    EXPECT_EQ(Pixel(copy, 3, 3), 0x202020u);
    // Without a layer no copy is made.
    ASSERT_EQ(GetBrushRecord(nullptr, kOne, &changed, kBrushModify), 0);
    EXPECT_EQ(Count(), 2);
    // A locked brush is refused before any copy.
    changed->locked = 1;
    ASSERT_EQ(AddLayerSource(kObjectTypeBrush, kOne), 0);
    EXPECT_EQ(GetBrushRecord(nullptr, kOne, &changed, kBrushModify), ERR_LOCKEDOBJ);
    EXPECT_EQ(Count(), 2);
}

TEST_F(BrushLibTest, MaskModeAndAlphaIntensityGoToTheDrawingTags) {
    VmPushValue(L_, kGlobalsIndex);
    ASSERT_EQ(InitGraphicsLibrary(L_), 0);
    VmSetTop(L_, 0);
    VmPushString(L_, "50%");
    ASSERT_EQ(Run("SetAlphaIntensity", 1), 0);
    EXPECT_EQ(GetRuntimeTag(kTagAlphaIntensity), 127);
    EXPECT_EQ(RunNumbers("SetAlphaIntensity", {256}), ERR_WRONGUSAGE);
    EXPECT_EQ(RunNumbers("SetAlphaIntensity", {-1}), ERR_WRONGUSAGE);
    EXPECT_EQ(GetRuntimeTag(kTagAlphaIntensity), 127);
    ASSERT_EQ(RunNumbers("SetMaskMode", {kMaskXor}), 0);
    EXPECT_EQ(GetRuntimeTag(kTagMaskMode), kMaskXor);
    EXPECT_EQ(RunNumbers("SetMaskMode", {std::nan("")}), ERR_WRONGUSAGE);
}

namespace {

double ThreadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

}  // namespace

// Brushes made by number, found and freed: each costs the same however many
// there are, so 80,000 take at most 4 x 8 times the work of 10,000 (a list
// walked at every step took 64 x: 37 s); the list keeps creation order, a
// number taken over going to its end.
TEST_F(BrushLibTest, ManyBrushesCostEachTheSameAndKeepTheirOrder) {
    auto cycle = [&](int n) {
        const double start = ThreadSeconds();
        for (int i = 1; i <= n; ++i) EXPECT_EQ(RunNumbers("CreateBrush", {double(i), 1, 1}), 0);
        for (int i = 1; i <= n; i += 97) EXPECT_NE(Find(i), nullptr);
        for (int i = 1; i <= n; ++i) EXPECT_EQ(RunNumbers("FreeBrush", {double(i)}), 0);
        return ThreadSeconds() - start;
    };
    double small = cycle(10'000);
    for (int again = 0; again < 2; ++again) small = std::min(small, cycle(10'000));
    EXPECT_LT(cycle(80'000), 4 * 8 * small);

    for (int i : {1, 2, 3, 4}) ASSERT_EQ(RunNumbers("CreateBrush", {double(i), 1, 1}), 0);
    ASSERT_EQ(RunNumbers("CreateBrush", {2, 3, 3}), 0);
    std::vector<int32_t> order;
    for (qbObject* o = FirstBrush(); o; o = o->next) order.push_back(o->id);
    EXPECT_EQ(order, (std::vector<int32_t>{1, 3, 4, 2}));
    EXPECT_EQ(Find(2)->width, 3);
}
