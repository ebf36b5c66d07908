// Plot, ReadPixel and Cls on each output kind: the display (its picture
// buffer and the window), a brush, a brush's mask and alpha channel, with
// clipping, alpha mixing and layers.
#include <gtest/gtest.h>

#include "core/errcodes.h"
#include "display/adapter_install.h"
#include "display/safeblt.h"
#include "draw/colours.h"
#include "draw/draw.h"
#include "objects/bgpiclib.h"
#include "objects/show_fixture.h"
#include "objects/sprite_fixture.h"

namespace {

class PixelCommandsTest : public ShowWorld {
protected:
    void SetUp() override {
        ShowWorld::SetUp();
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitBGPicLibrary(L_), 0);
        VmSetTop(L_, 0);
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitDrawLibrary(L_), 0);
        VmSetTop(L_, 0);
        MakeBrush(2, 20, 10, 0x0000FF);
    }
    void TearDown() override {
        display_->clipRegion = nullptr;
        SetDrawMaskMode(0);
        SetDrawAlphaIntensity(-1);
        FreeDrawLibrary(L_);
        ShowWorld::TearDown();
    }
    static qbBrush* Brush(int32_t id) {
        qbBrush* b = nullptr;
        GetBrushRecord(nullptr, ObjectID{id, nullptr}, &b, 0);
        return b;
    }
    // ReadPixel's number, or -(error code).
    double Read(double x, double y) {
        VmPushNumber(L_, x);
        VmPushNumber(L_, y);
        const int err = Run("ReadPixel", 2, 1);
        const double v = err ? -err : VmToNumber(L_, -1);
        VmSetTop(L_, 0);
        return v;
    }
    static int AlphaAt(qbBitmap* alpha, int32_t x, int32_t y) {
        return alpha->plane->data[static_cast<size_t>(y) * alpha->plane->rowBytes + static_cast<size_t>(x)];
    }
};

}  // namespace

TEST_F(PixelCommandsTest, DisplayPixelsReachTheBufferAndTheWindowAndOutsideIsSilentOrRefused) {
    ASSERT_EQ(Show("Plot", {5, 6, 0x123456}), 0);
    EXPECT_EQ(Shown(5, 6), 0x123456u);
    EXPECT_EQ(Real(5, 6), 0x123456u);  // a headless window keeps what it was given
    EXPECT_EQ(Read(5, 6), 0x123456);
    // Without a colour the pixel turns black.
    ASSERT_EQ(Show("Plot", {5, 6}), 0);
    EXPECT_EQ(Read(5, 6), 0);
    EXPECT_EQ(Show("Plot", {-1, 6, 0xFFFFFF}), 0);
    EXPECT_EQ(Show("Plot", {100, 6, 0xFFFFFF}), 0);
    EXPECT_EQ(Show("Plot", {5, 80, 0xFFFFFF}), 0);
    EXPECT_EQ(Read(-1, 0), -ERR_PIXELRANGE);
    EXPECT_EQ(Read(0, 80), -ERR_PIXELRANGE);

    // An alpha byte mixes the colour into what is there.
    ASSERT_EQ(Show("Plot", {7, 7, 0xFF0000}), 0);
    ASSERT_EQ(Show("Plot", {7, 7, 0x800000FF}), 0);
    EXPECT_EQ(Read(7, 7), MixColors(0xFF0000, 0x0000FF, 255 - 0x80));
    EXPECT_EQ(Real(7, 7), MixColors(0xFF0000, 0x0000FF, 255 - 0x80));
}

TEST_F(PixelCommandsTest, TheClipRegionsRectangleAndMaskHoldForBoth) {
    qbClipRegionObject* region = AddRegion(9, 10, 10, 20, 20);
    BitmapPtr mask(AllocMask(nullptr, 20, 20, true, nullptr, 0));
    ASSERT_NE(mask, nullptr);
    FillMaskRect(mask.get(), 0, 0, 10, 20, kMaskVisible);  // left half open
    region->mask = mask.get();
    display_->clipRegion = region;
    ASSERT_EQ(Show("Plot", {5, 5, 0xFFFFFF}), 0);
    ASSERT_EQ(Show("Plot", {25, 15, 0xFFFFFF}), 0);
    ASSERT_EQ(Show("Plot", {15, 15, 0xFFFFFF}), 0);
    EXPECT_EQ(Shown(5, 5), 0u);
    EXPECT_EQ(Shown(25, 15), 0u);
    EXPECT_EQ(Shown(15, 15), 0xFFFFFFu);
    EXPECT_EQ(Read(5, 5), -ERR_PIXELRANGE);
    EXPECT_EQ(Read(25, 15), -ERR_PIXELRANGE);
    EXPECT_EQ(Read(15, 15), 0xFFFFFF);
    display_->clipRegion = nullptr;
    region->mask = nullptr;
}

TEST_F(PixelCommandsTest, BrushPixelsPlanesAndClearing) {
    ASSERT_EQ(Show("SelectBrush", {2}), 0);
    ASSERT_EQ(Show("Plot", {3, 4, 0x00FF00}), 0);
    qbBrush* b = Brush(2);
    EXPECT_EQ(ReadBitmapPixel(b->bitmap, 3, 4, false), 0x00FF00u);
    EXPECT_EQ(Real(3, 4), 0u);  // nothing reached the display
    EXPECT_EQ(Read(3, 4), 0x00FF00);
    EXPECT_EQ(Read(20, 0), -ERR_PIXELRANGE);  // the brush's size, not the display's
    // Cls drops the alpha byte of the colour.
    ASSERT_EQ(Show("Cls", {double(0x80ABCDEF)}), 0);
    EXPECT_EQ(ReadBitmapPixel(b->bitmap, 0, 0, false), 0xABCDEFu);
    EXPECT_EQ(ReadBitmapPixel(b->bitmap, 19, 9, false), 0xABCDEFu);
    ASSERT_EQ(Run("EndSelect", 0), 0);

    // A selected mask: Plot writes the mask mode, ReadPixel gives the bit,
    // Cls fills with the mode.
    ASSERT_EQ(Show("SelectMask", {2}), 0);
    ASSERT_EQ(Show("SetMaskMode", {kMaskInvisible}), 0);
    ASSERT_EQ(Show("Plot", {2, 2, 0xFFFFFF}), 0);
    ASSERT_NE(b->mask, nullptr);
    EXPECT_EQ(Read(2, 2), 0);
    EXPECT_EQ(Read(3, 2), 1);
    EXPECT_EQ(ReadBitmapPixel(b->bitmap, 2, 2, false), 0xABCDEFu);  // the pixels stay
    ASSERT_EQ(Show("Cls", {}), 0);
    EXPECT_EQ(Read(3, 2), 0);
    ASSERT_EQ(Run("EndSelect", 0), 0);

    // A selected alpha channel: the intensity, or 255 − A without one.
    ASSERT_EQ(Show("SelectAlphaChannel", {2}), 0);
    ASSERT_EQ(Show("SetAlphaIntensity", {100}), 0);
    ASSERT_EQ(Show("Plot", {4, 4, 0}), 0);
    ASSERT_NE(b->alpha, nullptr);
    EXPECT_EQ(AlphaAt(b->alpha, 4, 4), 100);
    EXPECT_EQ(Read(4, 4), 100);
    ASSERT_EQ(Show("Cls", {}), 0);
    EXPECT_EQ(Read(0, 0), 100);
    SetDrawAlphaIntensity(-1);
    ASSERT_EQ(Show("Plot", {1, 1, double(0x40000000)}), 0);
    EXPECT_EQ(Read(1, 1), 255 - 0x40);
    // Off the diagonal, so that a row read as a column would show.
    ASSERT_EQ(Show("Plot", {6, 2, double(0x10000000)}), 0);
    EXPECT_EQ(Read(6, 2), 255 - 0x10);
    EXPECT_EQ(Read(2, 6), 100);
    ASSERT_EQ(Run("EndSelect", 0), 0);

    // Without a colour Cls clears to black.
    ASSERT_EQ(Show("SelectBrush", {2}), 0);
    ASSERT_EQ(Show("Cls", {}), 0);
    EXPECT_EQ(ReadBitmapPixel(b->bitmap, 19, 9, false), 0u);
    ASSERT_EQ(Run("EndSelect", 0), 0);
}

namespace {

int clsCalls = 0;
void* clsHandle = nullptr;
uint32_t clsColour = 0;
int AdapterCls(void* handle, uint32_t colour, void*) {
    ++clsCalls;
    clsHandle = handle;
    clsColour = colour;
    return 0;
}

}  // namespace

// A brush whose pixels the display adapter keeps is cleared by the adapter.
TEST_F(PixelCommandsTest, ClsOfAnAdaptersBrushGoesThroughItsClear) {
    qbDisplayAdapterSlots slots;
    slots.Cls = &AdapterCls;
    qbPlugin plugin;
    ASSERT_EQ(InstallTestAdapter(&plugin, &slots, kAdapterVideoBitmaps | kAdapterOwnsBitmaps), 0);
    qbBrush* b = Brush(2);
    b->bitmap->videoFlag = 1;
    ASSERT_EQ(Show("SelectBrush", {2}), 0);
    ASSERT_EQ(Show("Cls", {double(0x80123456)}), 0);
    EXPECT_EQ(clsCalls, 1);
    EXPECT_EQ(clsHandle, b->bitmap->native);
    EXPECT_EQ(clsColour, 0x123456u);
    ASSERT_EQ(Run("EndSelect", 0), 0);
    b->bitmap->videoFlag = 0;
    ClearDisplayAdapters();
}

TEST_F(PixelCommandsTest, LayersRefusePlotAndClsFreesThemAll) {
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    EXPECT_EQ(Show("Plot", {1, 1, 0}), ERR_LAYERSUPPORT2);
    ASSERT_EQ(Show("DisplayBrush", {2, 10, 10}), 0);
    ASSERT_EQ(Show("DisplayBrush", {2, 30, 30}), 0);
    ASSERT_EQ(CountLayers(display_->bgpic), 2);
    ASSERT_EQ(Show("Cls", {}), 0);
    EXPECT_EQ(CountLayers(display_->bgpic), 0);
}

TEST_F(PixelCommandsTest, ClsOfTheDisplayBringsBackItsPicture) {
    ASSERT_EQ(Show("Plot", {5, 5, 0xFFFFFF}), 0);
    const uint32_t background = ReadBitmapPixel(display_->bgpic->current.bitmap, 5, 5, false);
    ASSERT_NE(background, 0xFFFFFFu);
    ASSERT_EQ(Show("Cls", {0xFF}), 0);
    EXPECT_EQ(Shown(5, 5), background);
    EXPECT_EQ(Real(5, 5), background);
}

namespace {

class PixelCommandsSpriteTest : public SpriteWorld {
protected:
    void SetUp() override {
        SpriteWorld::SetUp();
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitDrawLibrary(L_), 0);
        VmSetTop(L_, 0);
    }
    void TearDown() override {
        FreeDrawLibrary(L_);
        SpriteWorld::TearDown();
    }
};

}  // namespace

// A sprite's pixels stay on top: Plot leaves what the sprite covers alone,
// clear or masked-out parts of the frame take the pixel. Cls takes the
// sprites away with the drawing.
TEST_F(PixelCommandsSpriteTest, PlotSparesTheSpritesPixelsAndClsRemovesTheSprites) {
    FramesSprite(1, 1, 10, 10);
    qbSprite* sprite = Sprite(1);
    ASSERT_NE(sprite, nullptr);
    sprite->masks[0].reset(AllocMask(sprite->bitmaps[0].get(), 10, 10, true, nullptr, 0));
    FillMaskRect(sprite->masks[0].get(), 0, 0, 10, 5, kMaskVisible);  // the top half alone is drawn
    ASSERT_EQ(RunNumbers("DisplaySprite", {1, 20, 20}), 0);
    ASSERT_EQ(Show("Plot", {22, 22, 0xFF0000}), 0);  // on the sprite
    EXPECT_EQ(Real(22, 22), FrameColour(0));
    EXPECT_NE(Shown(22, 22), 0xFF0000u);
    ASSERT_EQ(Show("Plot", {22, 27, 0xFF0000}), 0);  // on its transparent half
    EXPECT_EQ(Real(22, 27), 0xFF0000u);
    ASSERT_EQ(Show("Plot", {60, 60, 0xFF0000}), 0);
    EXPECT_EQ(Real(60, 60), 0xFF0000u);

    ASSERT_EQ(Show("Cls", {}), 0);
    EXPECT_EQ(InstanceCount(), 0);
    EXPECT_NE(Real(22, 22), FrameColour(0));
    EXPECT_NE(Real(60, 60), 0xFF0000u);
    ASSERT_EQ(Show("Plot", {22, 22, 0xFF0000}), 0);  // nothing covers it now
    EXPECT_EQ(Real(22, 22), 0xFF0000u);
}
