// Plain boxes straight into each output kind (the display's buffer and
// window, a brush with its planes, a selected mask or alpha channel, the
// double buffer's dirty list), the clip region cutting a frame side, the
// image path for what the output cannot blend, and its failures.
#include <gtest/gtest.h>

#include "core/errcodes.h"
#include "display/safeblt.h"
#include "draw/boxdirect.h"
#include "draw/draw.h"
#include "imaging/bitmapfilters.h"
#include "imaging/blit.h"
#include "objects/bgpiclib.h"
#include "objects/show_fixture.h"

namespace {

constexpr uint32_t kBlue = 0x0000FF;

class BoxDirectTest : public ShowWorld {
protected:
    void SetUp() override {
        ShowWorld::SetUp();
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitBGPicLibrary(L_), 0);
        VmSetTop(L_, 0);
        MakeBrush(2, 20, 10, kBlue);
        state_ = DefaultDrawState();
        state_.fillStyle = FILLCOLOR;
    }
    void TearDown() override {
        BoxImageAllocators() = qbBoxImageAllocators{};
        display_->clipRegion = nullptr;
        SetDrawMaskMode(0);
        SetDrawAlphaIntensity(-1);
        ShowWorld::TearDown();
    }
    static qbBrush* Brush(int32_t id) {
        qbBrush* b = nullptr;
        GetBrushRecord(nullptr, ObjectID{id, nullptr}, &b, 0);
        return b;
    }
    int Box(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t colour, qbBoxImages* images = nullptr) {
        qbBoxRequest r;
        r.x = x;
        r.y = y;
        r.width = w;
        r.height = h;
        r.colour = colour;
        qbBoxImages own;
        const int result = DrawBoxDirect(L_, r, state_, images ? images : &own);
        if (!images) FreeImages(&own);
        return result;
    }
    static void FreeImages(qbBoxImages* i) {
        FreeBitmap(i->bitmap);
        FreeMask(i->mask);
        FreeAlphaChannel(i->alpha);
        *i = {};
    }
    static int AlphaAt(qbBitmap* a, int32_t x, int32_t y) {
        return a->plane->data[static_cast<size_t>(y) * a->plane->rowBytes + static_cast<size_t>(x)];
    }
    qbDrawState state_;
};

qbBitmap* NoBitmap(int32_t, int32_t) { return nullptr; }

}  // namespace

TEST_F(BoxDirectTest, OnTheDisplayTheBufferAndTheWindowAgree) {
    ASSERT_EQ(Box(10, 5, 8, 4, 0x336699), kBoxDrawnDirectly);
    for (int32_t y = 4; y <= 9; ++y)
        for (int32_t x = 9; x <= 18; ++x) {
            const bool in = x >= 10 && x < 18 && y >= 5 && y < 9;
            ASSERT_EQ(Shown(x, y) == 0x336699u, in) << x << "," << y;
            ASSERT_EQ(Real(x, y), Shown(x, y)) << x << "," << y;
            // The composed buffer holds what was composed into it: the box.
            if (in) {
                ASSERT_EQ(ReadBitmapPixel(display_->backBuffer.get(), x, y, false), Shown(x, y));
            }
        }
    // Clipped away entirely: nothing, and success.
    EXPECT_EQ(Box(500, 500, 8, 4, 0xFFFFFF), kBoxDrawnDirectly);
}

TEST_F(BoxDirectTest, AFrameCrossingTheClipRegionsRightSideLosesThatSide) {
    qbClipRegionObject* region = AddRegion(9, 0, 0, 30, 40);
    display_->clipRegion = region;
    state_.fillStyle = FILLNONE;
    ASSERT_EQ(Box(20, 10, 20, 6, 0xFFFFFF), kBoxDrawnDirectly);
    EXPECT_EQ(Shown(20, 12), 0xFFFFFFu);  // the left side
    EXPECT_EQ(Shown(29, 10), 0xFFFFFFu);  // the top, up to the cut
    EXPECT_EQ(Shown(29, 15), 0xFFFFFFu);  // the bottom
    EXPECT_NE(Shown(29, 12), 0xFFFFFFu);  // no right side at the cut
    EXPECT_NE(Shown(30, 10), 0xFFFFFFu);
    EXPECT_NE(Shown(25, 12), 0xFFFFFFu);  // hollow
}

TEST_F(BoxDirectTest, ATransparentBoxOnADisplayWithoutAdapterAlphaTakesTheImagePath) {
    qbBoxImages images;
    ASSERT_EQ(Box(10, 10, 6, 4, 0x80FF0000, &images), 0);
    ASSERT_NE(images.bitmap, nullptr);
    ASSERT_NE(images.alpha, nullptr);
    EXPECT_EQ(images.mask, nullptr);
    EXPECT_EQ(images.width, 6);
    EXPECT_EQ(AlphaAt(images.alpha, 3, 2), 255 - 0x80);
    EXPECT_EQ(ReadBitmapPixel(images.bitmap, 3, 2, false), 0xFF0000u);
    EXPECT_NE(Shown(12, 12), 0xFF0000u);  // the output untouched
    FreeImages(&images);
}

TEST_F(BoxDirectTest, IntoABrushTintedInPlaceWithItsPlanes) {
    // Give the brush an alpha channel, then draw into its pixels and, in
    // the combined mode, its planes.
    ASSERT_EQ(Show("SelectAlphaChannel", {2}), 0);
    ASSERT_EQ(Box(0, 0, 20, 10, 0), kBoxDrawnDirectly);
    ASSERT_EQ(Run("EndSelect", 0), 0);
    ASSERT_EQ(Show("SelectBrush", {2, 1, 0}), 0);
    qbBrush* b = Brush(2);
    ASSERT_NE(b->alpha, nullptr);
    ASSERT_EQ(Box(2, 2, 4, 4, 0x80FF0000), kBoxDrawnDirectly);
    // Tinted as TintBitmap tints, at the opacity.
    BitmapPtr reference(AllocBitmap(1, 1, 0, nullptr));
    FillBitmapRect(reference.get(), 0, 0, 1, 1, kBlue);
    ASSERT_EQ(TintBitmap(reference.get(), 0, 0, 1, 1, 0xFF0000, 255 - 0x80), 0);
    EXPECT_EQ(ReadBitmapPixel(b->bitmap, 3, 3, false), ReadBitmapPixel(reference.get(), 0, 0, false));
    EXPECT_EQ(ReadBitmapPixel(b->bitmap, 8, 8, false), kBlue);
    EXPECT_EQ(AlphaAt(b->alpha, 3, 3), 255 - 0x80);
    EXPECT_EQ(AlphaAt(b->alpha, 8, 8), 255);
    ASSERT_EQ(Run("EndSelect", 0), 0);
}

TEST_F(BoxDirectTest, ASelectedMaskTakesTheMaskModeAndAnAlphaChannelTheIntensity) {
    ASSERT_EQ(Show("SelectMask", {2}), 0);
    qbBrush* b = Brush(2);
    ASSERT_EQ(Show("SetMaskMode", {kMaskInvisible}), 0);
    ASSERT_EQ(Box(0, 0, 4, 4, 0), kBoxDrawnDirectly);
    ASSERT_NE(b->mask, nullptr);
    EXPECT_EQ(ReadBitmapPixel(b->mask, 1, 1, true), 0u);
    EXPECT_EQ(ReadBitmapPixel(b->mask, 5, 1, true), 1u);
    ASSERT_EQ(Show("SetMaskMode", {kMaskXor}), 0);
    ASSERT_EQ(Box(2, 0, 4, 4, 0), kBoxDrawnDirectly);
    EXPECT_EQ(ReadBitmapPixel(b->mask, 1, 1, true), 0u);
    EXPECT_EQ(ReadBitmapPixel(b->mask, 3, 1, true), 1u);  // flipped back
    EXPECT_EQ(ReadBitmapPixel(b->mask, 5, 1, true), 0u);
    ASSERT_EQ(Show("SetMaskMode", {kMaskVisible}), 0);
    ASSERT_EQ(Box(0, 0, 2, 2, 0), kBoxDrawnDirectly);
    EXPECT_EQ(ReadBitmapPixel(b->mask, 1, 1, true), 1u);
    EXPECT_EQ(ReadBitmapPixel(b->bitmap, 1, 1, false), kBlue);  // the pixels stay
    ASSERT_EQ(Run("EndSelect", 0), 0);

    ASSERT_EQ(Show("SelectAlphaChannel", {2}), 0);
    ASSERT_EQ(Show("SetAlphaIntensity", {100}), 0);
    ASSERT_EQ(Box(10, 0, 4, 4, 0), kBoxDrawnDirectly);
    ASSERT_NE(b->alpha, nullptr);
    EXPECT_EQ(AlphaAt(b->alpha, 11, 1), 100);
    EXPECT_EQ(AlphaAt(b->alpha, 15, 1), 255);
    ASSERT_EQ(Run("EndSelect", 0), 0);
}

TEST_F(BoxDirectTest, UnderDoubleBufferingTheDrawnUnionWaitsForTheFlip) {
    ASSERT_EQ(Run("BeginDoubleBuffer", 0), 0);
    ASSERT_EQ(Run("Flip", 0), 0);
    display_->dirtyRects.Reset();
    state_.formStyle = kFormEdge | kFormShadow;
    state_.edgeSize = 2;
    state_.shadowSize = 3;
    state_.shadowDirection = 3;  // south-east
    ASSERT_EQ(Box(10, 10, 5, 5, 0x123456), kBoxDrawnDirectly);
    ASSERT_EQ(display_->dirtyRects.count, 1);
    const qbDirtyRect& r = display_->dirtyRects.entries[0];
    EXPECT_EQ(r.x1, 8);
    EXPECT_EQ(r.y1, 8);
    EXPECT_EQ(r.x2, 8 + 9 + 3 - 1);
    EXPECT_EQ(r.y2, 8 + 9 + 3 - 1);
    ASSERT_EQ(Run("EndDoubleBuffer", 0), 0);
}

TEST_F(BoxDirectTest, ImagePathFailuresLeaveNothingAllocated) {
    state_.formStyle = kFormEdge;
    // Sizes grown by the edge beyond 32 bits.
    EXPECT_EQ(Box(10, 10, INT32_MAX, 4, 0x80000000), ERR_BITMAP);
    BoxImageAllocators().bitmap = &NoBitmap;
    EXPECT_EQ(Box(10, 10, 4, 4, 0x80000000), ERR_BITMAP);
    BoxImageAllocators() = qbBoxImageAllocators{};
    BoxImageAllocators().alpha = &NoBitmap;
    EXPECT_EQ(Box(10, 10, 4, 4, 0x80000000), ERR_ALLOCALPHA);
    BoxImageAllocators() = qbBoxImageAllocators{};
    BoxImageAllocators().mask = &NoBitmap;
    ASSERT_EQ(Run("EnableLayers", 0), 0);  // no direct path with layers
    EXPECT_EQ(Box(10, 10, 4, 4, 0), ERR_ALLOCMASK);
    BoxImageAllocators() = qbBoxImageAllocators{};
    // A texture brush that is gone.
    state_.fillStyle = FILLTEXTURE;
    state_.texture = ObjectID{7, nullptr};
    EXPECT_EQ(Box(10, 10, 4, 4, 0), ERR_FINDBRUSH);
}
