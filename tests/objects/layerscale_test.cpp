// The layer scaling engine on the in-memory backend: a display whose
// picture and layers are drawn afresh at the window's size, set against
// autoscale, which scales the finished frame.
#include <gtest/gtest.h>

#include "core/errcodes.h"
#include "display/bgpics.h"
#include "display/displayscaling.h"
#include "display/eventlib.h"
#include "display/refresh.h"
#include "draw/graphics_fixture.h"
#include "imaging/bitmap.h"
#include "imaging/scalebitmap.h"
#include "objects/bgpiclib.h"
#include "objects/brushes.h"
#include "objects/brushlib.h"
#include "objects/layers.h"
#include "objects/layersources.h"
#include "platform/null/null_backend.h"

namespace {

constexpr uint32_t kRed = 0xFF0000;
constexpr int32_t kLayerScale = 2;
constexpr int32_t kAutoScale = 1;

class LayerScaleTest : public GraphicsWorld {
protected:
    void SetUp() override {
        GraphicsWorld::SetUp();
        PicturesReady();
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitBrushLibrary(L_), 0);
        VmSetTop(L_, 0);
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitLayersLibrary(L_), 0);
        VmSetTop(L_, 0);
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitBGPicLibrary(L_), 0);
        VmSetTop(L_, 0);
    }
    void TearDown() override {
        FreeAllDisplays(L_);
        FreeAllBGPics(L_);
        ClearLayerSources();
        FreeAllBrushes(L_);
        FreeLayersLibrary(L_);
        GraphicsWorld::TearDown();
    }

    // Display 1 of width x height shown at scaleWidth x scaleHeight, open
    // and current; extra adds fields to its table.
    template <class Extra>
    qbDisplay* Open(int32_t mode, int32_t width, int32_t height, int32_t scaleWidth, int32_t scaleHeight, Extra extra) {
        EXPECT_EQ(Create(1, [&] {
                      Field("width", width);
                      Field("height", height);
                      Field("scalemode", mode);
                      Field("scalewidth", scaleWidth);
                      Field("scaleheight", scaleHeight);
                      Field("layers", 1);
                      extra();
                  }),
                  0);
        EXPECT_EQ(StartDisplays(L_), 0);
        return Find(1);
    }
    qbDisplay* Open(int32_t mode, int32_t width, int32_t height, int32_t scaleWidth, int32_t scaleHeight) {
        return Open(mode, width, height, scaleWidth, scaleHeight, [] {});
    }

    // A 10x10 brush whose pixels all differ, so that a scale shows where
    // each one went.
    void MakePatternBrush(int32_t id) {
        ASSERT_EQ(RunNumbers("CreateBrush", {double(id), 10, 10, 0}), 0);
        qbBrush* brush = nullptr;
        ASSERT_EQ(GetBrushRecord(L_, ObjectID{id, nullptr}, &brush, 0), 0);
        for (int32_t y = 0; y < 10; ++y)
            for (int32_t x = 0; x < 10; ++x)
                WriteBitmapPixel(brush->bitmap, x, y, static_cast<uint32_t>(x * 25) << 16 | static_cast<uint32_t>(y * 25),
                                 false);
    }
    qbBitmap* BrushBitmap(int32_t id) {
        qbBrush* brush = nullptr;
        EXPECT_EQ(GetBrushRecord(L_, ObjectID{id, nullptr}, &brush, 0), 0);
        return brush ? brush->bitmap : nullptr;
    }
    qbLayer* TopLayer(qbDisplay* d) { return GetLayerByIndex(d->bgpic, CountLayers(d->bgpic)); }
    // The composed picture the window was last given.
    static uint32_t Composed(const qbDisplay* d, int32_t x, int32_t y) {
        return ReadBitmapPixel(d->backBuffer.get(), x, y, false) & 0xFFFFFFu;
    }
    static uint32_t Window(const qbDisplay* d, int32_t x, int32_t y) {
        return null_backend::GetSurface(d)->At(x, y) & 0xFFFFFFu;
    }
    // Whether the 2x2 grid of size x size at (x, y) of the picture holds
    // the brush scaled to that size pixel for pixel.
    void ExpectScaledBrush(const qbDisplay* d, qbBitmap* brush, int32_t x, int32_t y, int32_t size, bool smooth) {
        qbBitmap* scaled = nullptr;
        ASSERT_EQ(ScaleBitmap(brush, nullptr, nullptr, 0, 0, nullptr, 10, 10, size, size, smooth, &scaled, nullptr,
                              nullptr),
                  0);
        BitmapPtr owner(scaled);
        int mismatches = 0;
        for (int32_t j = 0; j < size; ++j)
            for (int32_t i = 0; i < size; ++i)
                if (Composed(d, x + i, y + j) != (ReadBitmapPixel(scaled, i, j, false) & 0xFFFFFFu)) ++mismatches;
        EXPECT_EQ(mismatches, 0) << (smooth ? "smooth" : "plain");
    }
    int SetAttributes(const char* key, int32_t value) {
        VmPushNewTable(L_);
        Field(key, value);
        return Run("SetDisplayAttributes", 1);
    }
};

TEST_F(LayerScaleTest, TheStartUpDrawsThePictureAndABrushLayerAtTheScaleSize) {
    for (const bool smooth : {false, true}) {
        qbDisplay* d = Open(kLayerScale, 320, 240, 640, 480, [&] { Field("smoothscale", smooth ? 1 : 0); });
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->bgpic->currentWidth, 640);
        EXPECT_EQ(d->bgpic->currentHeight, 480);
        EXPECT_EQ(d->bgpic->baseWidth, 320);
        EXPECT_EQ(d->bgpic->baseHeight, 240);
        EXPECT_EQ(d->scaleX, 2.0);
        EXPECT_EQ(d->scaleY, 2.0);
        EXPECT_EQ(d->backBuffer->width, 640);

        MakePatternBrush(1);
        ASSERT_EQ(RunNumbers("DisplayBrush", {1, 5, 7}), 0);
        const qbLayerState* s = TopLayer(d)->shownstate;
        EXPECT_NE(s, TopLayer(d)->transformedstate);
        EXPECT_EQ(s->shownx, 10);
        EXPECT_EQ(s->showny, 14);
        EXPECT_EQ(s->shownwidth, 20);
        EXPECT_EQ(s->shownheight, 20);
        ExpectScaledBrush(d, BrushBitmap(1), 10, 14, 20, smooth);
        // Under the layer the background is the backdrop, not a scaled frame.
        EXPECT_EQ(Window(d, 9, 14), Composed(d, 9, 14));
        EXPECT_EQ(Window(d, 10, 14), Composed(d, 10, 14));

        EXPECT_EQ(Run("DisableLayers", 0), ERR_NODISLAYERS);
        FreeAllDisplays(L_);
        FreeAllBGPics(L_);
        FreeAllBrushes(L_);
    }
}

TEST_F(LayerScaleTest, ResizingRescalesAndTheOwnSizeIsBitExactWithAnUnscaledDisplay) {
    qbDisplay* d = Open(kLayerScale, 320, 240, 640, 480);
    ASSERT_NE(d, nullptr);
    MakePatternBrush(1);
    ASSERT_EQ(RunNumbers("DisplayBrush", {1, 5, 7}), 0);

    ASSERT_EQ(RunNumbers("ChangeDisplaySize", {800, 600}), 0);
    EXPECT_EQ(d->scaleX, 2.5);
    EXPECT_EQ(d->bgpic->currentWidth, 800);
    EXPECT_EQ(d->bgpic->baseWidth, 320);
    const qbLayerState* s = TopLayer(d)->shownstate;
    EXPECT_EQ(s->shownwidth, 25);
    EXPECT_EQ(s->shownheight, 25);
    EXPECT_EQ(s->shownx, 12);
    EXPECT_EQ(s->showny, 17);
    ExpectScaledBrush(d, BrushBitmap(1), 12, 17, 25, false);
    EXPECT_EQ(null_backend::GetSurface(d)->width, 800);

    ASSERT_EQ(RunNumbers("ChangeDisplaySize", {320, 240}), 0);
    EXPECT_EQ(d->scaleX, 1.0);
    EXPECT_EQ(d->scaleY, 1.0);
    EXPECT_EQ(d->bgpic->current.bitmap, d->bgpic->base.bitmap);
    EXPECT_EQ(TopLayer(d)->shownstate, TopLayer(d)->transformedstate);

    // The same picture with the brush copied on: what an unscaled display shows.
    BitmapPtr expected(AllocBitmap(320, 240, 0, nullptr));
    CopyBitmapRect(d->bgpic->base.bitmap, 0, 0, expected.get(), 0, 0, 320, 240);
    CopyBitmapRect(BrushBitmap(1), 0, 0, expected.get(), 5, 7, 10, 10);
    ASSERT_EQ(d->backBuffer->width, 320);
    int mismatches = 0;
    for (int32_t y = 0; y < 240; ++y)
        for (int32_t x = 0; x < 320; ++x)
            if (Composed(d, x, y) != (ReadBitmapPixel(expected.get(), x, y, false) & 0xFFFFFFu)) ++mismatches;
    EXPECT_EQ(mismatches, 0);
}

TEST_F(LayerScaleTest, TurningScalingOffReturnsToThePicturesSizeFirst) {
    qbDisplay* d = Open(kLayerScale, 320, 240, 640, 480);
    ASSERT_NE(d, nullptr);
    MakePatternBrush(1);
    ASSERT_EQ(RunNumbers("DisplayBrush", {1, 5, 7}), 0);
    ASSERT_EQ(SetAttributes("scalemode", 0), 0);
    EXPECT_EQ(d->width, 320);
    EXPECT_EQ(d->height, 240);
    EXPECT_EQ(d->bgpic->currentWidth, 320);
    EXPECT_EQ(d->scaleX, 1.0);
    EXPECT_EQ(d->pictureScaling, 0);
    EXPECT_EQ(TopLayer(d)->shownstate, TopLayer(d)->transformedstate);
    EXPECT_EQ(null_backend::GetSurface(d)->width, 320);
    EXPECT_EQ(Composed(d, 5, 7), ReadBitmapPixel(BrushBitmap(1), 0, 0, false) & 0xFFFFFFu);
    EXPECT_EQ(Run("DisableLayers", 0), 0);
}

TEST_F(LayerScaleTest, SwitchingEnginesRedrawsThePictureForTheOtherOne) {
    qbDisplay* d = Open(kLayerScale, 320, 240, 640, 480);
    ASSERT_NE(d, nullptr);
    MakePatternBrush(1);
    ASSERT_EQ(RunNumbers("DisplayBrush", {1, 5, 7}), 0);
    ASSERT_EQ(SetAttributes("scalemode", kAutoScale), 0);
    EXPECT_EQ(d->bgpic->currentWidth, 320);
    EXPECT_EQ(d->scaleX, 2.0);
    EXPECT_EQ(TopLayer(d)->shownstate, TopLayer(d)->transformedstate);
    EXPECT_EQ(null_backend::GetSurface(d)->width, 640);

    ASSERT_EQ(SetAttributes("scalemode", kLayerScale), 0);
    EXPECT_EQ(d->bgpic->currentWidth, 640);
    EXPECT_EQ(d->scaleX, 2.0);
    EXPECT_EQ(TopLayer(d)->shownstate->shownwidth, 20);
    ExpectScaledBrush(d, BrushBitmap(1), 10, 14, 20, false);
}

TEST_F(LayerScaleTest, ANewPictureSizeIsShownAtTheUnchangedScaleSize) {
    qbDisplay* d = Open(kLayerScale, 320, 240, 640, 480);
    ASSERT_NE(d, nullptr);
    MakePatternBrush(1);
    ASSERT_EQ(RunNumbers("DisplayBrush", {1, 5, 7}), 0);
    VmPushNewTable(L_);
    Field("width", 160);
    Field("height", 120);
    ASSERT_EQ(Run("SetDisplayAttributes", 1), 0);
    EXPECT_EQ(d->bgpic->baseWidth, 160);
    EXPECT_EQ(d->bgpic->baseHeight, 120);
    EXPECT_EQ(d->bgpic->currentWidth, 640);
    EXPECT_EQ(d->scaleX, 4.0);
    EXPECT_EQ(d->width, 640);
    EXPECT_EQ(null_backend::GetSurface(d)->width, 640);
    EXPECT_EQ(TopLayer(d)->shownstate->shownx, 20);
    EXPECT_EQ(TopLayer(d)->shownstate->showny, 28);
    ExpectScaledBrush(d, BrushBitmap(1), 20, 28, 40, false);
}

TEST_F(LayerScaleTest, ANewBGPicIsFittedAndTheOldOneReturnsToItsBaseSize) {
    ASSERT_EQ(RunNumbers("CreateBGPic", {2, 320, 240, 0x123456}), 0);
    ASSERT_EQ(RunNumbers("CreateBGPic", {3, 160, 120, 0x654321}), 0);
    qbDisplay* d = Open(kLayerScale, 320, 240, 640, 480, [&] { Field("bgpic", 2); });
    ASSERT_NE(d, nullptr);
    qbBGPic* first = d->bgpic;
    EXPECT_EQ(first->currentWidth, 640);
    ASSERT_EQ(SetAttributes("bgpic", 3), 0);
    EXPECT_EQ(first->currentWidth, 320);
    EXPECT_EQ(first->current.bitmap, first->base.bitmap);
    ASSERT_NE(d->bgpic, first);
    EXPECT_EQ(d->bgpic->currentWidth, 640);
    EXPECT_EQ(d->bgpic->baseWidth, 160);
    EXPECT_EQ(d->scaleX, 4.0);
    EXPECT_EQ(d->backBuffer->width, 640);
    EXPECT_EQ(Window(d, 639, 479), 0x654321u);

    // Freeing the display leaves the script's picture at its own size too.
    qbBGPic* second = d->bgpic;
    ASSERT_EQ(Create(2), 0);
    ASSERT_EQ(RunNumbers("SelectDisplay", {2}), 0);
    ASSERT_EQ(RunNumbers("FreeDisplay", {1}), 0);
    EXPECT_EQ(second->currentWidth, 160);
    EXPECT_EQ(second->current.bitmap, second->base.bitmap);
}

TEST_F(LayerScaleTest, KeepProportionsPlacesPictureAndLayersInsideTheBorders) {
    qbDisplay* d = Open(kLayerScale, 400, 300, 800, 800, [&] { Field("keepproportions", 1); });
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->fitBorders[0], 0);
    EXPECT_EQ(d->fitBorders[1], 100);
    EXPECT_EQ(d->fitBorders[2], 0);
    EXPECT_EQ(d->fitBorders[3], 100);
    EXPECT_EQ(d->bgpic->currentWidth, 800);
    EXPECT_EQ(d->bgpic->currentHeight, 600);
    EXPECT_EQ(d->scaleX, 2.0);
    ASSERT_EQ(RunNumbers("CreateBrush", {1, 10, 10, kRed}), 0);
    ASSERT_EQ(RunNumbers("DisplayBrush", {1, 0, 0}), 0);
    EXPECT_EQ(TopLayer(d)->shownstate->shownx, 0);
    EXPECT_EQ(TopLayer(d)->shownstate->showny, 0);
    // The window holds the picture 100 pixels down: the layer's corner too.
    EXPECT_EQ(Window(d, 0, 100), kRed);
    EXPECT_EQ(Window(d, 19, 119), kRed);
    EXPECT_NE(Window(d, 20, 120), kRed);
}

TEST_F(LayerScaleTest, MousePositionsAreInThePicturesCoordinates) {
    qbDisplay* d = Open(kLayerScale, 320, 240, 640, 480);
    ASSERT_NE(d, nullptr);
    int32_t x = 0, y = 0;
    WindowToDisplay(d, 40, 40, &x, &y);
    EXPECT_EQ(x, 20);
    EXPECT_EQ(y, 20);
}

// A red square on black scaled by 2: the layer scaling engine scales the
// square alone, so its edges meet the background without a blend; autoscale
// scales the finished frame, which blends them.
TEST_F(LayerScaleTest, SmoothScaledEdgesTellTheEnginesApart) {
    for (const int32_t mode : {kLayerScale, kAutoScale}) {
        qbDisplay* d = Open(mode, 64, 64, 128, 128, [&] { Field("smoothscale", 1); });
        ASSERT_NE(d, nullptr);
        ASSERT_EQ(RunNumbers("CreateBrush", {1, 16, 16, kRed}), 0);
        ASSERT_EQ(RunNumbers("DisplayBrush", {1, 8, 8}), 0);
        RefreshDisplay(L_, d);
        int blended = 0;
        for (int32_t y = 0; y < 128; ++y)
            for (int32_t x = 0; x < 128; ++x) {
                const uint32_t p = Window(d, x, y);
                if (p != kRed && p != 0) ++blended;
            }
        if (mode == kLayerScale) {
            EXPECT_EQ(blended, 0);
            EXPECT_EQ(Window(d, 16, 16), kRed);
            EXPECT_EQ(Window(d, 47, 47), kRed);
            EXPECT_EQ(Window(d, 48, 48), 0u);
        } else {
            EXPECT_GT(blended, 0);
        }
        FreeAllDisplays(L_);
        FreeAllBGPics(L_);
        FreeAllBrushes(L_);
    }
}

TEST_F(LayerScaleTest, ALayerScaledFrameNeverGoesThroughTheBlitScaler) {
    for (const int32_t mode : {kLayerScale, kAutoScale}) {
        qbDisplay* d = Open(mode, 64, 64, 128, 128);
        ASSERT_NE(d, nullptr);
        ASSERT_EQ(RunNumbers("CreateBrush", {1, 16, 16, kRed}), 0);
        const uint64_t before = BlitScaleCount();
        for (int frame = 0; frame < 4; ++frame) {
            ASSERT_EQ(RunNumbers("DisplayBrush", {1, double(frame * 4), 8}), 0);
            RefreshDisplay(L_, d);
        }
        if (mode == kLayerScale)
            EXPECT_EQ(BlitScaleCount(), before);
        else
            EXPECT_GT(BlitScaleCount(), before);
        FreeAllDisplays(L_);
        FreeAllBGPics(L_);
        FreeAllBrushes(L_);
    }
}

TEST_F(LayerScaleTest, AutoscaleShapesTheWindowWithTheScaledMaskAndReopensIt) {
    // A 40x40 picture whose left half is masked out.
    qbBitmap* mask = AllocMask(nullptr, 40, 40, true, nullptr, 0);
    ASSERT_NE(mask, nullptr);
    for (int32_t y = 0; y < 40; ++y)
        for (int32_t x = 0; x < 40; ++x) WriteBitmapPixel(mask, x, y, x < 20 ? kMaskInvisible : kMaskVisible, true);
    qbBitmap* bitmap = AllocBitmap(40, 40, 0, nullptr);
    FillBitmapRect(bitmap, 0, 0, 40, 40, kRed);
    qbBGPic* picture = nullptr;
    ASSERT_EQ(AllocBGPicRecord(NewObjectID{4, 0}, 0, 40, 40, 40, nullptr, bitmap, nullptr, -1, mask, nullptr, nullptr,
                               &picture),
              0);
    qbDisplay* d = Open(kAutoScale, 40, 40, 80, 80, [&] { Field("bgpic", 4); });
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->hasShape, 1);
    ASSERT_NE(d->shapeMask, nullptr);
    EXPECT_EQ(d->shapeMask->width, 80);
    const uint64_t serial = null_backend::GetSurface(d)->serial;

    ASSERT_EQ(RunNumbers("ChangeDisplaySize", {120, 120}), 0);
    ASSERT_NE(d->shapeMask, nullptr);
    EXPECT_EQ(d->shapeMask->width, 120);
    EXPECT_EQ(d->shapeMask->height, 120);
    // A set bit reads as an opaque pixel; the scaler's fixed-point steps
    // move the edge by a pixel or two.
    EXPECT_EQ(ReadBitmapPixel(d->shapeMask.get(), 56, 60, true), 0u);
    EXPECT_NE(ReadBitmapPixel(d->shapeMask.get(), 66, 60, true), 0u);
    ASSERT_NE(null_backend::GetSurface(d), nullptr);
    EXPECT_NE(null_backend::GetSurface(d)->serial, serial);
    EXPECT_EQ(null_backend::GetSurface(d)->width, 120);
}

}  // namespace
