// Output selection through the commands: drawing into a brush's pixels,
// mask and alpha channel and into a BGPic's picture, the no-op and switch
// cases, the refusals, a BGPic with its layers held back until EndSelect,
// and the write-back of a scaled BGPic.
#include <gtest/gtest.h>

#include <vector>

#include "core/errcodes.h"
#include "display/bgpics.h"
#include "display/displayhooks.h"
#include "display/output.h"
#include "display/positions.h"
#include "display/refresh.h"
#include "display/safeblt.h"
#include "objects/bgpiclib.h"
#include "objects/selection.h"
#include "show_fixture.h"

namespace {

constexpr uint32_t kRed = 0xFF0000, kBlue = 0x0000FF;

struct Shown {
    int32_t x, y, w, h;
};
std::vector<Shown> windowBlits;

int RecordBlits(qbDisplayHook*, int kind, const void* info, void*) {
    if (kind == kDrawHookBlit) {
        const auto* b = static_cast<const qbHookBlitInfo*>(info);
        windowBlits.push_back({b->dstX, b->dstY, b->width, b->height});
    }
    return 0;
}

class SelectionTest : public ShowWorld {
protected:
    void SetUp() override {
        ShowWorld::SetUp();
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitBGPicLibrary(L_), 0);
        VmSetTop(L_, 0);
        MakeBrush(1, 10, 10, kRed);
        MakeBrush(2, 40, 40, kBlue);
        windowBlits.clear();
    }
    void TearDown() override {
        SetDrawMaskMode(0);
        SetDrawAlphaIntensity(-1);
        ShowWorld::TearDown();
    }
    static qbBrush* Brush(int32_t id) {
        qbBrush* b = nullptr;
        GetBrushRecord(nullptr, ObjectID{id, nullptr}, &b, 0);
        return b;
    }
    static qbBGPic* Picture(int32_t id) {
        qbBGPic* p = nullptr;
        GetBGPic(nullptr, ObjectID{id, nullptr}, &p, 0);
        return p;
    }
    int SelectBGPicNil(double mode) {
        VmPushNil(L_);
        VmPushNumber(L_, mode);
        return Run("SelectBGPic", 2);
    }
    static uint32_t At(qbBitmap* b, int32_t x, int32_t y) { return ReadBitmapPixel(b, x, y, false); }
    static uint32_t Bit(qbBitmap* mask, int32_t x, int32_t y) { return ReadBitmapPixel(mask, x, y, true); }
    static int Alpha(qbBitmap* alpha, int32_t x, int32_t y) {
        return alpha->plane->data[static_cast<size_t>(y) * AlphaRowBytes(alpha->width) + static_cast<size_t>(x)];
    }
};

}  // namespace

TEST_F(SelectionTest, ABrushDrawnIntoABrushShowsWithItOnceTheSelectionEnds) {
    ASSERT_EQ(Show("SelectBrush", {2}), 0);
    ASSERT_EQ(Show("DisplayBrush", {1, 10, 10}), 0);
    EXPECT_EQ(At(Brush(2)->bitmap, 12, 12), kRed);
    EXPECT_EQ(At(Brush(2)->bitmap, 25, 25), kBlue);
    EXPECT_EQ(Shown(12, 12), 0u);  // nothing reached the display
    EXPECT_EQ(Real(12, 12), 0u);
    // Selecting it again keeps the selection as it is.
    ASSERT_EQ(Show("SelectBrush", {2}), 0);
    EXPECT_EQ(display_->outputPrepared, 1);
    EXPECT_EQ(Show("FreeBrush", {2}), ERR_MODIFYABR);
    ASSERT_EQ(Run("EndSelect", 0), 0);
    EXPECT_EQ(display_->output.type, kObjectTypeDisplay);
    EXPECT_EQ(Run("EndSelect", 0), ERR_WRONGUSAGE);
    ASSERT_EQ(Show("DisplayBrush", {2, 50, 20}), 0);
    EXPECT_EQ(Real(62, 32), kRed);
    EXPECT_EQ(Real(52, 22), kBlue);
}

TEST_F(SelectionTest, ShowingTheSelectedBrushEndsTheSelectionAndDrawsOnTheDisplay) {
    ASSERT_EQ(Show("SelectBrush", {2}), 0);
    ASSERT_EQ(Show("DisplayBrush", {2, 0, 0}), 0);
    EXPECT_EQ(display_->output.type, kObjectTypeDisplay);
    EXPECT_EQ(Real(5, 5), kBlue);
    EXPECT_EQ(Show("FreeBrush", {2}), 0);
}

TEST_F(SelectionTest, AMaskIsMadeFullyVisibleThenDrawnByTheMaskModeAndTheAlphaChannelGoes) {
    // SelectMask after SelectBrush on the same brush switches the target.
    ASSERT_EQ(Show("SelectBrush", {2}), 0);
    ASSERT_EQ(Show("SelectMask", {2}), 0);
    EXPECT_EQ(display_->output.type, kOutputMask);
    ASSERT_EQ(Show("SetMaskMode", {kMaskInvisible}), 0);
    ASSERT_EQ(Show("DisplayBrush", {1, 5, 5}), 0);
    qbBrush* b = Brush(2);
    ASSERT_NE(b->mask, nullptr);
    EXPECT_EQ(b->alpha, nullptr);
    EXPECT_EQ(Bit(b->mask, 8, 8), 0u);
    EXPECT_EQ(Bit(b->mask, 20, 20), 1u);
    EXPECT_EQ(At(b->bitmap, 8, 8), kBlue);  // the pixels stay
    ASSERT_EQ(Run("EndSelect", 0), 0);

    // The alpha channel of a masked brush starts opaque and the mask goes;
    // drawing writes the alpha intensity.
    ASSERT_EQ(Show("SelectAlphaChannel", {2}), 0);
    ASSERT_EQ(Show("SetAlphaIntensity", {100}), 0);
    ASSERT_EQ(Show("DisplayBrush", {1, 30, 30}), 0);
    ASSERT_NE(b->alpha, nullptr);
    EXPECT_EQ(b->mask, nullptr);
    EXPECT_EQ(Alpha(b->alpha, 8, 8), 255);
    EXPECT_EQ(Alpha(b->alpha, 35, 35), 100);
    ASSERT_EQ(Run("EndSelect", 0), 0);
}

TEST_F(SelectionTest, ComboModeWritesTheBitmapAndThePlanesNormalModeOnlyTheBitmap) {
    ASSERT_EQ(Show("SelectMask", {2}), 0);
    ASSERT_EQ(Show("SetMaskMode", {kMaskInvisible}), 0);
    MakeBrush(3, 40, 40, 0);
    ASSERT_EQ(Show("DisplayBrush", {3, 0, 0}), 0);  // all bits clear
    ASSERT_EQ(Show("SetMaskMode", {kMaskVisible}), 0);
    qbBrush* b = Brush(2);
    ASSERT_EQ(Show("SelectBrush", {2}), 0);
    ASSERT_EQ(Show("DisplayBrush", {1, 0, 0}), 0);
    EXPECT_EQ(At(b->bitmap, 5, 5), kRed);
    EXPECT_EQ(Bit(b->mask, 5, 5), 0u);
    // Another mode for the same brush is the same selection: it ends first.
    ASSERT_EQ(Show("SelectBrush", {2, 1, 0}), 0);
    EXPECT_EQ(display_->lastSelectMode, 0);
    ASSERT_EQ(Run("EndSelect", 0), 0);
    ASSERT_EQ(Show("SelectBrush", {2, 1, 0}), 0);  // #SELMODE_COMBO
    EXPECT_EQ(display_->output.type, kOutputBrush);
    ASSERT_EQ(Show("DisplayBrush", {1, 20, 20}), 0);
    EXPECT_EQ(At(b->bitmap, 25, 25), kRed);
    EXPECT_EQ(Bit(b->mask, 25, 25), 1u);
    EXPECT_EQ(Bit(b->mask, 15, 15), 0u);
    ASSERT_EQ(Run("EndSelect", 0), 0);
}

TEST_F(SelectionTest, RefusalsOfTheTargetsAndTheirArguments) {
    EXPECT_EQ(Show("SelectAlphaChannel", {2, 4}), ERR_MISSINGPARAMTR);
    EXPECT_EQ(Show("SelectAlphaChannel", {2, 4, 1}), ERR_FINDANIM);
    EXPECT_EQ(Show("SelectMask", {2, 22}), ERR_LAYERRANGE);
    EXPECT_EQ(Show("SelectMask", {2, 0}), ERR_WRONGUSAGE);
    EXPECT_EQ(Show("SelectBrush", {9}), ERR_FINDBRUSH);
    EXPECT_EQ(display_->output.type, kObjectTypeDisplay);
    EXPECT_EQ(SelectBGPicNil(2), ERR_NOLAYERS);

    ASSERT_EQ(Show("CreateBGPic", {5, 20, 20, kBlue}), 0);
    ASSERT_EQ(Show("CreateGradientBGPic", {6, 0, kRed, kBlue, 20, 20}), 0);
    EXPECT_EQ(Show("SelectBGPic", {6, 0}), ERR_BGPICTYPE);
    ASSERT_EQ(Create(2, [&] { Field("bgpic", 5); }), 0);
    EXPECT_EQ(Show("SelectBGPic", {5, 0}), ERR_SELECTBGPIC2);
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    EXPECT_EQ(Show("SelectBGPic", {5}), ERR_SELECTBGPIC);

    ASSERT_EQ(Show("CreateBGPic", {7, 20, 20, kBlue}), 0);
    ASSERT_EQ(Show("SelectBGPic", {7, 0}), 0);
    EXPECT_EQ(Show("FreeBGPic", {7}), ERR_MODIFYABGPIC);
    ASSERT_EQ(Run("EndSelect", 0), 0);
    EXPECT_EQ(Show("FreeBGPic", {7}), 0);
}

TEST_F(SelectionTest, DrawingIntoABrushThatALayerShowsLeavesTheLayersPicture) {
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(Show("DisplayBrush", {2, 0, 0}), 0);
    ASSERT_EQ(Show("SelectBrush", {2}), 0);
    EXPECT_EQ(display_->layersEnabled, 0);
    EXPECT_EQ(Show("EnableLayers", {}), ERR_LAYERSON);
    ASSERT_EQ(Show("DisplayBrush", {1, 10, 10}), 0);
    ASSERT_EQ(Run("EndSelect", 0), 0);
    EXPECT_EQ(display_->layersEnabled, 1);
    EXPECT_EQ(At(Brush(2)->bitmap, 15, 15), kRed);
    RefreshDisplay(L_, display_);
    EXPECT_EQ(Real(15, 15), kBlue);
    EXPECT_FALSE(GetLayerByIndex(display_->bgpic, 1)->id == (ObjectID{2, nullptr}));
}

TEST_F(SelectionTest, TheDisplaysBGPicWithItsLayersShowsNothingUntilEndSelectThenTheMergedAreaOnce) {
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_NE(AddDisplayHook(ObjectID{1, nullptr}, &RecordBlits, nullptr, nullptr, 0), nullptr);
    ASSERT_EQ(SelectBGPicNil(2), 0);
    ASSERT_EQ(SelectBGPicNil(2), 0);  // the same selection again
    ASSERT_EQ(Show("DisplayBrush", {1, 10, 10}), 0);
    ASSERT_EQ(Show("DisplayBrush", {1, 15, 15}), 0);
    EXPECT_EQ(CountLayers(display_->bgpic), 2);
    EXPECT_TRUE(windowBlits.empty());
    EXPECT_EQ(Real(12, 12), 0u);
    ASSERT_EQ(Run("EndSelect", 0), 0);
    ASSERT_EQ(windowBlits.size(), 1u);
    EXPECT_EQ(windowBlits[0].x, 10);
    EXPECT_EQ(windowBlits[0].y, 10);
    EXPECT_EQ(windowBlits[0].w, 15);
    EXPECT_EQ(windowBlits[0].h, 15);
    EXPECT_EQ(Real(12, 12), kRed);
    EXPECT_EQ(Real(22, 22), kRed);
    for (int32_t i = 1; i <= 2; ++i) EXPECT_EQ(GetLayerByIndex(display_->bgpic, i)->pending, 0);
    RemoveDisplayHook(display_->hooks);
}

TEST_F(SelectionTest, AScaledBGPicDrawnIntoGetsItsBaseAndCurrentPicturesFromTheInitialOne) {
    ASSERT_EQ(Show("CreateBGPic", {5, 20, 20, kBlue}), 0);
    ASSERT_EQ(Show("ScaleBGPic", {5, 40, 40}), 0);
    ASSERT_EQ(Show("SelectBGPic", {5, 0}), 0);
    EXPECT_EQ(display_->outputPosition[3], 19);  // the target's right margin
    ASSERT_EQ(Show("DisplayBrush", {1, 0, 0}), 0);
    ASSERT_EQ(Run("EndSelect", 0), 0);
    EXPECT_EQ(display_->outputPosition[3], 99);
    const qbBGPic* p = Picture(5);
    EXPECT_EQ(At(p->initial.bitmap, 5, 5), kRed);
    EXPECT_EQ(At(p->base.bitmap, 15, 15), kRed);
    EXPECT_EQ(At(p->base.bitmap, 25, 25), kBlue);
    EXPECT_EQ(p->current.bitmap, p->base.bitmap);
    EXPECT_EQ(p->baseWidth, 40);
}

// A current picture of a third size (as display scaling leaves one) is
// scaled anew from the drawing and the one it replaces is freed (the
// sanitizer tree's leak check sees the latter).
TEST_F(SelectionTest, AScaledBGPicsOwnCurrentPictureIsRemadeFromTheDrawing) {
    ASSERT_EQ(Show("CreateBGPic", {5, 20, 20, kBlue}), 0);
    ASSERT_EQ(Show("ScaleBGPic", {5, 40, 40}), 0);
    qbBGPic* p = Picture(5);
    p->current = qbImageTriple{AllocBitmap(30, 10, 0, nullptr), nullptr, nullptr};
    ASSERT_NE(p->current.bitmap, nullptr);
    p->currentWidth = 30;
    p->currentHeight = 10;
    ASSERT_EQ(Show("SelectBGPic", {5, 0}), 0);
    ASSERT_EQ(Show("DisplayBrush", {1, 0, 0}), 0);
    ASSERT_EQ(Run("EndSelect", 0), 0);
    ASSERT_NE(p->current.bitmap, p->base.bitmap);
    EXPECT_EQ(p->current.bitmap->width, 30);
    EXPECT_EQ(p->current.bitmap->height, 10);
    EXPECT_EQ(At(p->current.bitmap, 2, 1), kRed);
    EXPECT_EQ(At(p->current.bitmap, 28, 8), kBlue);
    EXPECT_EQ(At(p->base.bitmap, 15, 15), kRed);
}

TEST_F(SelectionTest, AnotherDisplayMadeCurrentEndsTheSelectionAndGivesBackTheLayersFlag) {
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(Show("SelectBrush", {2}), 0);
    EXPECT_EQ(display_->layersEnabled, 0);
    ASSERT_EQ(Create(2), 0);
    ASSERT_EQ(Show("SelectDisplay", {2}), 0);
    EXPECT_EQ(display_->output.type, kObjectTypeDisplay);
    EXPECT_EQ(display_->layersEnabled, 1);
    EXPECT_EQ(Show("FreeBrush", {2}), 0);
}

TEST_F(SelectionTest, PositionsAreResolvedInTheSelectedTargetAndLayersGoToTheSelectedBGPic) {
    ASSERT_EQ(Show("SelectMask", {2}), 0);
    ASSERT_EQ(Show("SetMaskMode", {kMaskInvisible}), 0);
    ASSERT_EQ(Show("DisplayBrush", {1, kPositionCenter, kPositionCenter}), 0);
    EXPECT_EQ(Bit(Brush(2)->mask, 15, 15), 0u);  // (40 - 10) / 2
    EXPECT_EQ(Bit(Brush(2)->mask, 14, 14), 1u);
    ASSERT_EQ(Run("EndSelect", 0), 0);

    ASSERT_EQ(Show("CreateBGPic", {7, 30, 30, kBlue}), 0);
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(Show("SelectBGPic", {7}), 0);
    ASSERT_EQ(Show("DisplayBrush", {1, kPositionCenter, 0}), 0);
    ASSERT_EQ(Run("EndSelect", 0), 0);
    ASSERT_EQ(CountLayers(Picture(7)), 1);
    EXPECT_EQ(GetLayerByIndex(Picture(7), 1)->shownstate->shownx, 10);
    EXPECT_EQ(CountLayers(display_->bgpic), 0);
    EXPECT_EQ(Real(15, 5), 0u);
}

// Under the address sanitizer: selections, drawing, freeing, replacing and
// ending in a fixed pseudo-random order; refusals are fine, crashes and
// dangling planes are not.
TEST_F(SelectionTest, MixedSequencesOfSelectDrawFreeAndEndLeaveNothingDangling) {
    ASSERT_EQ(Show("CreateBGPic", {5, 30, 30, kBlue}), 0);
    uint32_t seed = 7;
    int changes = 0;
    auto next = [&](uint32_t n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % n;
    };
    for (int step = 0; step < 3000; ++step) {
        const double brush = 1 + next(3);
        const int32_t before = display_->output.type;
        switch (next(14)) {
        case 0: Show("SelectBrush", {brush, double(next(2)), double(next(3))}); break;
        case 1: Show("SelectMask", {brush}); break;
        case 2: Show("SelectAlphaChannel", {brush}); break;
        case 3: Show("SelectBGPic", {5, 0}); break;
        case 4: Run("EndSelect", 0); break;
        case 5: Show("FreeBrush", {brush}); break;
        case 6: Show("CreateBrush", {brush, 1.0 + next(40), 1.0 + next(40), double(next(0x1000000))}); break;
        case 7: Show("DisplayBrush", {brush, double(next(50)) - 10, double(next(50)) - 10}); break;
        case 8: Run("BeginDoubleBuffer", 0); break;
        case 9: Show("Flip", {0}); break;
        case 10: Run("EndDoubleBuffer", 0); break;
        case 11: Show("SetMaskMode", {double(next(6))}); break;
        case 12: Show("ScaleBGPic", {5, 10 + double(next(40)), 10 + double(next(40))}); break;
        default: Show("DisplayBrushPart", {brush, 0, 0, double(next(60)), double(next(60)), 8, 8}); break;
        }
        VmSetTop(L_, 0);
        changes += display_->output.type != before;
    }
    EXPECT_GT(changes, 300);
    Run("EndDoubleBuffer", 0);
    Run("EndSelect", 0);
    EXPECT_EQ(display_->output.type, kObjectTypeDisplay);
}

// The key colour of a masked brush stays out of a brush with an alpha
// channel selected with its planes.
TEST_F(SelectionTest, AMaskedBrushDrawnIntoAnAlphaTargetLeavesItsHiddenPixels) {
    ASSERT_EQ(Show("SelectAlphaChannel", {2}), 0);
    ASSERT_EQ(Show("DisplayBrush", {1, 30, 30}), 0);  // makes the plane
    ASSERT_EQ(Run("EndSelect", 0), 0);
    ASSERT_NE(Brush(2)->alpha, nullptr);
    ASSERT_EQ(Show("WriteBrushPixel", {1, 0, 0, 0x00FF00}), 0);
    ASSERT_EQ(Show("SetBrushTransparency", {1, 0x00FF00}), 0);
    ASSERT_EQ(Show("SelectBrush", {2, 1, 0}), 0);  // #SELMODE_COMBO
    ASSERT_EQ(Show("DisplayBrush", {1, 0, 0}), 0);
    ASSERT_EQ(Run("EndSelect", 0), 0);
    EXPECT_EQ(At(Brush(2)->bitmap, 0, 0), kBlue);
    EXPECT_EQ(At(Brush(2)->bitmap, 5, 5), kRed);
}

// A BGPic's planes replace each other: its alpha channel starts opaque and
// takes the intensity, its mask then starts visible and the alpha channel
// goes from every picture of it, and the alpha channel back takes the
// mask's place.
TEST_F(SelectionTest, ABGPicsMaskAndAlphaChannelReplaceEachOther) {
    constexpr double kBGPic = 1;
    ASSERT_EQ(Show("CreateBGPic", {5, 40, 30, kBlue}), 0);
    qbBGPic* p = Picture(5);
    ASSERT_EQ(Show("SelectAlphaChannel", {5, kBGPic}), 0);
    ASSERT_EQ(Show("SetAlphaIntensity", {100}), 0);
    ASSERT_EQ(Show("DisplayBrush", {1, 20, 5}), 0);
    ASSERT_EQ(Run("EndSelect", 0), 0);
    ASSERT_NE(p->initial.alpha, nullptr);
    EXPECT_EQ(p->initial.mask, nullptr);
    EXPECT_EQ(Alpha(p->initial.alpha, 25, 10), 100);
    EXPECT_EQ(Alpha(p->initial.alpha, 19, 10), 255);
    EXPECT_EQ(Alpha(p->initial.alpha, 25, 15), 255);
    SetDrawAlphaIntensity(-1);

    ASSERT_EQ(Show("SelectMask", {5, kBGPic}), 0);
    ASSERT_EQ(Show("SetMaskMode", {kMaskInvisible}), 0);
    ASSERT_EQ(Show("DisplayBrush", {1, 0, 0}), 0);
    ASSERT_EQ(Run("EndSelect", 0), 0);
    for (const qbImageTriple* t : {&p->initial, &p->base, &p->current}) EXPECT_EQ(t->alpha, nullptr);
    ASSERT_NE(p->initial.mask, nullptr);
    EXPECT_EQ(Bit(p->initial.mask, 5, 5), 0u);
    EXPECT_EQ(Bit(p->initial.mask, 12, 5), 1u);
    SetDrawMaskMode(0);

    ASSERT_EQ(Show("SelectAlphaChannel", {5, kBGPic}), 0);
    ASSERT_EQ(Show("SetAlphaIntensity", {50}), 0);
    ASSERT_EQ(Show("DisplayBrush", {1, 0, 0}), 0);
    ASSERT_EQ(Run("EndSelect", 0), 0);
    for (const qbImageTriple* t : {&p->initial, &p->base, &p->current}) EXPECT_EQ(t->mask, nullptr);
    ASSERT_NE(p->initial.alpha, nullptr);
    EXPECT_EQ(Alpha(p->initial.alpha, 5, 5), 50);
    EXPECT_EQ(Alpha(p->initial.alpha, 25, 10), 255);
}
