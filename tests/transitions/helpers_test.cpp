// The shared arithmetic of the effects: steps from speeds, frame counts,
// the clipped copy, the random choice, and the stripe and blind geometry
// that follows from them.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "transition_fixture.h"
#include "objects/layers.h"
#include "transitions/effecthelpers.h"

namespace {

TEST(EffectHelpers, StepsAndFrameCounts) {
    EXPECT_EQ(SpeedFromSize(-1, 640, 70, 30, 200), 9);
    EXPECT_EQ(SpeedFromSize(-3, 100, 70, 30, 200), 1);
    EXPECT_EQ(SpeedFromSize(0, 640, 70, 30, 200), 1);
    EXPECT_EQ(SpeedFromSize(-7, 640, 70, 30, 200), 1);
    EXPECT_EQ(SpeedFromSize(25, 640, 70, 30, 200), 25);
    EXPECT_EQ(FrameCountFor(100, 30, 0), 5);
    EXPECT_EQ(FrameCountFor(90, 30, 1), 3);
    EXPECT_EQ(FrameCountFor(0, 30, 0), 1);
}

TEST(EffectHelpers, ClipAndCopyMovesTheOtherOrigin) {
    BitmapPtr src(AllocBitmap(20, 4, 0, nullptr)), dst(AllocBitmap(30, 4, 0, nullptr));
    for (int32_t x = 0; x < 20; ++x) FillBitmapRect(src.get(), x, 0, 1, 4, 0x100 + x);
    FillBitmapRect(dst.get(), 0, 0, 30, 4, 0);
    // From x = -10: the first visible column lands 10 pixels further right.
    ClipAndCopyRect(src.get(), -10, 0, dst.get(), 5, 0, 20, 4, 20, 4, 30, 4);
    EXPECT_EQ(ReadBitmapPixel(dst.get(), 14, 0, false), 0u);
    EXPECT_EQ(ReadBitmapPixel(dst.get(), 15, 0, false), 0x100u);
    EXPECT_EQ(ReadBitmapPixel(dst.get(), 24, 0, false), 0x109u);
    EXPECT_EQ(ReadBitmapPixel(dst.get(), 25, 0, false), 0u);
    // A negative destination moves the source origin; too far: nothing.
    ClipAndCopyRect(src.get(), 0, 0, dst.get(), -3, 0, 5, 1, 20, 4, 30, 4);
    EXPECT_EQ(ReadBitmapPixel(dst.get(), 0, 0, false), 0x103u);
    ClipAndCopyRect(src.get(), -30, 0, dst.get(), 0, 0, 20, 4, 20, 4, 30, 4);
    EXPECT_EQ(ReadBitmapPixel(dst.get(), 0, 1, false), 0u);
}

TEST(EffectHelpers, MaskFillByBytesEqualsFillMaskRect) {
    std::mt19937 rng(3);
    for (int32_t w : {1, 7, 8, 9, 23, 64}) {
        BitmapPtr picture(AllocBitmap(w, 5, 0, nullptr));
        BitmapPtr a(AllocMask(picture.get(), w, 5, false, nullptr, 0)), b(AllocMask(picture.get(), w, 5, false, nullptr, 0));
        for (int i = 0; i < 200; ++i) {
            for (auto& byte : a->plane->storage) byte = static_cast<uint8_t>(rng());
            b->plane->storage = a->plane->storage;
            const int32_t x = static_cast<int32_t>(rng() % (w + 6)) - 3, y = static_cast<int32_t>(rng() % 8) - 2;
            const int32_t rw = static_cast<int32_t>(rng() % (w + 4)), rh = static_cast<int32_t>(rng() % 7);
            const bool visible = rng() & 1;
            FillEffectMask(a.get(), x, y, rw, rh, visible);
            FillMaskRect(b.get(), x, y, rw, rh, visible ? kMaskVisible : kMaskInvisible);
            ASSERT_EQ(a->plane->storage, b->plane->storage) << w << " wide, " << x << "," << y << " " << rw << "x" << rh;
        }
    }
}

TEST(EffectHelpers, RandomChoiceSkipsBGPicOnlyAndUnnamed) {
    SeedEffectRandom(77);
    std::set<int32_t> seen;
    for (int i = 0; i < 100000; ++i) {
        const int32_t t = PickRandomEffect(1);
        ASSERT_TRUE(t >= 0 && t < 140) << t;
        ASSERT_EQ(EffectWorksOnObjects(t), 1) << t;
        ASSERT_NE(t, 113);
        seen.insert(t);
    }
    for (int32_t t : {74, 81, 101, 104, 111, 112, 113, 118, 131, 133, 140}) EXPECT_EQ(seen.count(t), 0u) << t;
    seen.clear();
    for (int i = 0; i < 100000; ++i) seen.insert(PickRandomEffect(0));
    EXPECT_EQ(seen.size(), 139u);
    EXPECT_EQ(seen.count(113), 0u);
}

TEST(EffectHelpers, Classification) {
    EXPECT_EQ(IsBlendEffect(115), 1);
    EXPECT_EQ(IsBlendEffect(138), 1);
    EXPECT_EQ(IsBlendEffect(139), 0);
    EXPECT_EQ(EffectWorksOnObjects(132), 1);
    EXPECT_EQ(EffectWorksOnObjects(133), 0);
    for (int32_t t = 0; t < 140; ++t) EXPECT_EQ(RendererForType(t) != nullptr, t != 113) << t;
}

class StripeGeometry : public TransitionWorld {
protected:
    // Runs the effect on a w x h brush at 0, 0 over black and returns the
    // rows of column 0 (or the columns of row 0) that the first frame drew.
    std::vector<int32_t> FirstFrameRows(int32_t type, int32_t parameter, int32_t w, int32_t h) {
        ShowColourBGPic(++background_, 0);
        MakeBrush(1, w, h, 0x00FF00);
        std::vector<int32_t> rows;
        onFrame_ = [&](const qbEffectState& s) {
            if (s.frame != 1) return;
            for (int32_t y = 0; y < std::min(h, kH); ++y)
                if (Real(0, y) == 0x00FF00) rows.push_back(y);
        };
        EXPECT_EQ(RunNumbers("DisplayBrushFX", {1, 0, 0, double(type), 1, double(parameter)}), 0);
        return rows;
    }
    int32_t background_ = 10;
};

TEST_F(StripeGeometry, ParameterZeroOrNegativeGivesOneRowStripes) {
    for (int32_t parameter : {0, -5}) {
        frames_ = 0;
        const auto rows = FirstFrameRows(0, parameter, 40, 8);
        EXPECT_EQ(rows, (std::vector<int32_t>{0, 2, 4, 6})) << parameter;
    }
}

TEST_F(StripeGeometry, RandomParameterTakesTwoDrawsInOrder) {
    SeedEffectRandom(99);
    const int32_t r = EffectRand(), k = EffectRand() % 8 + 2;
    const int32_t t = std::max(r % (60 / k), 1);
    SeedEffectRandom(99);
    const auto rows = FirstFrameRows(0, -1, 60, 4 * t);
    std::vector<int32_t> expected;
    for (int32_t y = 0; y < t; ++y) expected.push_back(y);
    for (int32_t y = 2 * t; y < std::min(3 * t, kH); ++y) expected.push_back(y);
    EXPECT_EQ(rows, expected) << "thickness " << t;
}

TEST_F(StripeGeometry, OnePixelWideEndsInOneFrame) {
    MakeBrush(1, 1, 30, 0x00FF00);
    ASSERT_EQ(RunNumbers("DisplayBrushFX", {1, 5, 5, 3}), 0);
    EXPECT_EQ(frames_, 1);
    EXPECT_EQ(Real(5, 29 + 5), 0x00FF00u);
    MakeBrush(2, 30, 1, 0x0000FF);
    frames_ = 0;
    ASSERT_EQ(RunNumbers("DisplayBrushFX", {2, 5, 50, 10}), 0);
    EXPECT_EQ(frames_, 1);
    EXPECT_EQ(Real(34, 50), 0x0000FFu);
}

TEST_F(StripeGeometry, BlindsSteps) {
    MakeBrush(1, 50, 100, 0x00FF00);
    ASSERT_EQ(RunNumbers("DisplayBrushFX", {1, 0, 0, 14, -2}), 0);  // HBLINDS8, #FASTSPEED
    EXPECT_EQ(step_, 2);
    EXPECT_EQ(frames_, frameCount_);
    ASSERT_EQ(RunNumbers("DisplayBrushFX", {1, 0, 0, 14, 99}), 0);
    EXPECT_EQ(step_, 4);
}

TEST_F(StripeGeometry, LargeBlindCoversShortPicture) {
    MakeBrush(1, 20, 100, 0x00FF00);
    std::vector<int32_t> firstRows;
    onFrame_ = [&](const qbEffectState& s) {
        if (s.frame != 1) return;
        for (int32_t y = 0; y < 80; ++y)
            if (Real(0, y) == 0x00FF00) firstRows.push_back(y);
    };
    // HBLINDS128 on 100 rows: one blind, filled from its top.
    ASSERT_EQ(RunNumbers("DisplayBrushFX", {1, 0, 0, 18, 10}), 0);
    EXPECT_EQ(firstRows, (std::vector<int32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(Real(0, 79), 0x00FF00u);
}

}  // namespace

namespace {

TEST_F(StripeGeometry, OldPictureComesFromBackgroundOrTheLayersBelow) {
    ShowColourBGPic(20, 0x0000FF);
    EnableLayers();
    MakeBrush(1, 20, 20, 0x00FF00);
    ASSERT_EQ(RunNumbers("DisplayBrush", {1, 10, 10}), 0);
    qbEffectState s;
    s.script = L_;
    s.layer = GetLayerByIndex(display_->bgpic, 1);
    s.x = s.y = 10;
    s.width = s.height = 20;
    BitmapPtr out(AllocBitmap(20, 20, 0, nullptr));
    FillBitmapRect(out.get(), 0, 0, 20, 20, 0);
    // Partly off the effect rectangle's corner: what lies there is copied.
    RestoreOldPicture(&s, 5, 5, out.get(), 0, 0, 10, 10);
    EXPECT_EQ(ReadBitmapPixel(out.get(), 0, 0, false), 0x0000FFu);
    EXPECT_EQ(ReadBitmapPixel(out.get(), 9, 9, false), 0x0000FFu);
    EXPECT_EQ(ReadBitmapPixel(out.get(), 10, 10, false), 0u);
    EXPECT_EQ(s.layer->hidden, 0);
    EXPECT_EQ(Real(15, 15), 0x00FF00u);

    BitmapPtr background(AllocBitmap(20, 20, 0, nullptr));
    FillBitmapRect(background.get(), 0, 0, 20, 20, 0xFF0000);
    s.background = background.get();
    RestoreOldPicture(&s, 15, 15, out.get(), 0, 0, 10, 10);
    EXPECT_EQ(ReadBitmapPixel(out.get(), 4, 4, false), 0xFF0000u);
    EXPECT_EQ(ReadBitmapPixel(out.get(), 5, 5, false), 0x0000FFu);  // past the background's edge
    s.background = nullptr;
}

}  // namespace
