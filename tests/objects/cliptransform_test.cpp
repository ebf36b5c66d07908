// Transformed copies of clip regions: a turned box against the pixel turn
// of its own mask, plain scales, display scaling, placement by the second
// matrix, cutting to the picture, and their lifetime beside the layers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "core/objectlist.h"
#include "core/errcodes.h"
#include "objects/cliptransform.h"
#include "objects/show_fixture.h"

namespace {

constexpr double kBox = 14, kMask = 28;

class ClipTransformTest : public ShowWorld {
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
    static qbClipTransform Turn(double degrees, double anchor) {
        qbClipTransform t;
        const double a = degrees * 3.14159265358979323846 / 180.0;
        const double m[4] = {std::cos(a), std::sin(a), -std::sin(a), std::cos(a)};
        for (int i = 0; i < 4; ++i) t.matrix[i] = t.positionMatrix[i] = m[i];
        t.anchorX = t.anchorY = anchor;
        return t;
    }
    // A brush of w x h with every mask bit set.
    void FullMaskBrush(int32_t id, int32_t w, int32_t h) {
        VmPushNumber(L_, id);
        VmPushNumber(L_, w);
        VmPushNumber(L_, h);
        VmPushNumber(L_, 0xFF);
        VmPushNewTable(L_);
        SetTableFieldInt(L_, "mask", 1);
        ASSERT_EQ(Run("CreateBrush", 5), 0);
    }
    static std::string Bits(const qbClipRegionObject* r) {
        std::string s;
        for (int32_t y = 0; y < r->height; ++y) {
            for (int32_t x = 0; x < r->width; ++x)
                s += !r->mask || ReadBitmapPixel(r->mask, x, y, true) ? '#' : '.';
            s += '\n';
        }
        return s;
    }
    ScriptState* L() { return L_; }
};

TEST_F(ClipTransformTest, ATurnedBoxEqualsThePixelTurnOfItsMask) {
    ASSERT_EQ(RunNumbers("CreateClipRegion", {1, kBox, 20, 20, 12, 5}), 0);
    FullMaskBrush(5, 12, 5);
    ASSERT_EQ(RunNumbers("CreateClipRegion", {2, kMask, 5, 20, 20}), 0);
    for (double degrees : {90.0, 180.0, 270.0}) {
        for (double anchor : {0.0, 0.5}) {
            const qbClipTransform t = Turn(degrees, anchor);
            qbClipRegionObject* box = nullptr;
            qbClipRegionObject* pixels = nullptr;
            ASSERT_EQ(TransformClipRegion(L(), Region(1), t, &box), 0);
            ASSERT_EQ(TransformClipRegion(L(), Region(2), t, &pixels), 0);
            ASSERT_NE(box->mask, nullptr);
            EXPECT_EQ(box->temporary, 1);
            EXPECT_EQ(box->handle, box);
            const std::string what = std::to_string(degrees) + " " + std::to_string(anchor);
            EXPECT_EQ(box->x, pixels->x) << what;
            EXPECT_EQ(box->y, pixels->y) << what;
            EXPECT_EQ(box->width, degrees == 180 ? 12 : 5) << what;
            EXPECT_EQ(box->height, degrees == 180 ? 5 : 12) << what;
            EXPECT_EQ(Bits(box), Bits(pixels)) << what;
        }
    }
    // Half a turn about the centre covers the same ground.
    qbClipRegionObject* half = nullptr;
    ASSERT_EQ(TransformClipRegion(L(), Region(1), Turn(180, 0.5), &half), 0);
    EXPECT_EQ(half->x, 21);
    EXPECT_EQ(half->y, 21);
    // An eighth of a turn fills a diamond: a point at the top, a row as
    // wide as the diamond where its side corners lie.
    qbClipRegionObject* diamond = nullptr;
    ASSERT_EQ(RunNumbers("CreateClipRegion", {3, kBox, 30, 30, 11, 11}), 0);
    ASSERT_EQ(TransformClipRegion(L(), Region(3), Turn(45, 0.5), &diamond), 0);
    ASSERT_EQ(diamond->width, 15);
    ASSERT_EQ(diamond->height, 15);
    int32_t top = 0, widest = 0;
    for (int32_t y = 0; y < diamond->height; ++y) {
        int32_t n = 0;
        for (int32_t x = 0; x < diamond->width; ++x) n += ReadBitmapPixel(diamond->mask, x, y, true);
        if (y == 0) top = n;
        widest = std::max(widest, n);
    }
    EXPECT_EQ(top, 1);
    EXPECT_EQ(widest, 15);
}

TEST_F(ClipTransformTest, ScalesKeepBoxesAndFollowTheDisplay) {
    ASSERT_EQ(RunNumbers("CreateClipRegion", {1, kBox, 10, 6, 21, 9}), 0);
    qbClipTransform t;
    t.matrix[0] = 1.5;
    t.matrix[3] = 0.5;
    qbClipRegionObject* scaled = nullptr;
    ASSERT_EQ(TransformClipRegion(L(), Region(1), t, &scaled), 0);
    EXPECT_EQ(scaled->mask, nullptr);
    EXPECT_EQ(scaled->x, 15);
    EXPECT_EQ(scaled->y, 3);
    EXPECT_EQ(scaled->width, 31);
    EXPECT_EQ(scaled->height, 4);

    // The display's factors replace the matrix; the picture grows with them.
    display_->scaleX = 2.0;
    display_->scaleY = 3.0;
    t.displayScaling = true;
    t.matrix[1] = 0.7;  // ignored
    ASSERT_EQ(TransformClipRegion(L(), Region(1), t, &scaled), 0);
    EXPECT_EQ(scaled->x, 20);
    EXPECT_EQ(scaled->y, 18);
    EXPECT_EQ(scaled->width, 42);
    EXPECT_EQ(scaled->height, 27);

    // keepPosition places by the second matrix under the display's scale.
    qbClipTransform keep;
    keep.keepPosition = true;
    keep.matrix[0] = keep.matrix[3] = 2.0;
    keep.positionMatrix[0] = keep.positionMatrix[3] = 2.0;
    keep.anchorX = keep.anchorY = 0.5;
    display_->scaleY = 1.0;
    ASSERT_EQ(TransformClipRegion(L(), Region(1), keep, &scaled), 0);
    // Doubled about the centre: x trunc(-0.5) and y trunc(1.5), x doubled
    // by the display.
    EXPECT_EQ(scaled->x, 0);
    EXPECT_EQ(scaled->y, 1);
    EXPECT_EQ(scaled->width, 42);
    EXPECT_EQ(scaled->height, 18);
}

TEST_F(ClipTransformTest, ResultsStayInsideThePicture) {
    // The picture is 100 x 80; a long box turned about its corner at the
    // left edge would reach far left of it and below it.
    ASSERT_EQ(RunNumbers("CreateClipRegion", {1, kBox, 2, 40, 90, 3}), 0);
    for (double degrees : {30.0, 90.0, 135.0, 200.0, 300.0}) {
        qbClipRegionObject* r = nullptr;
        ASSERT_EQ(TransformClipRegion(L(), Region(1), Turn(degrees, 0.0), &r), 0);
        EXPECT_GE(r->x, 0);
        EXPECT_GE(r->y, 0);
        EXPECT_LE(r->x + r->width, 100) << degrees;
        EXPECT_LE(r->y + r->height, 80) << degrees;
        if (r->width > 0) {
            ASSERT_NE(r->mask, nullptr);
            EXPECT_EQ(r->mask->plane->width, r->width);
            EXPECT_EQ(r->mask->plane->height, r->height);
        }
    }
    // A huge scale is cut before any mask is made; nothing left is empty.
    qbClipTransform big = Turn(10, 0.5);
    for (double& v : big.matrix) v *= 1e7;
    qbClipRegionObject* r = nullptr;
    ASSERT_EQ(TransformClipRegion(L(), Region(1), big, &r), 0);
    EXPECT_LE(r->x + r->width, 100);
    qbClipTransform away = Turn(90, 0.0);
    away.positionMatrix[0] = away.positionMatrix[3] = 1;
    away.positionMatrix[1] = away.positionMatrix[2] = 0;
    ASSERT_EQ(RunNumbers("CreateClipRegion", {2, kBox, 99, 79, 1, 1}), 0);
    display_->scaleX = 500;
    ASSERT_EQ(TransformClipRegion(L(), Region(2), away, &r), 0);
    EXPECT_EQ(r->width, 0);
    EXPECT_EQ(r->mask, nullptr);
    display_->scaleX = 1;
    // Singular and NaN matrices make empty or small regions, never a fault.
    qbClipTransform flat;
    flat.matrix[0] = 0;
    flat.matrix[3] = std::nan("");
    ASSERT_EQ(TransformClipRegion(L(), Region(1), flat, &r), 0);
    EXPECT_LE(r->x + r->width, 100);
}

TEST_F(ClipTransformTest, CopiesGoWhenNoLayerUsesThem) {
    ASSERT_EQ(RunNumbers("CreateClipRegion", {1, kBox, 10, 10, 20, 20}), 0);
    qbClipRegionObject* copy = nullptr;
    ASSERT_EQ(TransformClipRegion(L(), Region(1), Turn(90, 0.5), &copy), 0);
    EXPECT_EQ(CountRegions(), 2);
    qbClipRegionObject* found = nullptr;
    EXPECT_EQ(GetClipRegionRecord(ObjectID{0, copy}, &found, 0), ERR_FINDCLIPREGION);
    ASSERT_EQ(GetClipRegionRecord(ObjectID{0, copy}, &found, kFindTemporary), 0);
    EXPECT_EQ(found, copy);

    // A layer holding the copy keeps it; without the layer it goes.
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    MakeBrush(1, 40, 40, 0x00FF00);
    ASSERT_EQ(RunNumbers("DisplayBrush", {1, 0, 0}), 0);
    qbLayer* layer = display_->bgpic->layers->layers.front().get();
    layer->basestate->clipregion = copy;
    FreeUnusedClipRegions(L_);
    EXPECT_EQ(CountRegions(), 2);
    layer->basestate->clipregion = nullptr;
    FreeUnusedClipRegions(L_);
    EXPECT_EQ(CountRegions(), 1);
    EXPECT_NE(Region(1), nullptr);
}

}  // namespace
