// Double buffering through the commands: the refusals, what the window
// shows at each Flip (black at first, then only the changed rectangles, or
// everything once the list is full), the vertical-blank wait, the frame
// that stays after the end, and selections that suspend it.
#include <gtest/gtest.h>

#include <vector>

#include "core/errcodes.h"
#include "display/displayhooks.h"
#include "display/displayscaling.h"
#include "display/output.h"
#include "display/refresh.h"
#include "objects/bgpiclib.h"
#include "show_fixture.h"

namespace {

constexpr uint32_t kRed = 0xFF0000, kBlue = 0x0000FF;

struct Blit {
    int32_t x, y, w, h;
};
std::vector<Blit> windowBlits;
int vblanks = 0;

int Record(qbDisplayHook*, int kind, const void* info, void*) {
    if (kind == kDrawHookBlit) {
        const auto* b = static_cast<const qbHookBlitInfo*>(info);
        windowBlits.push_back({b->dstX, b->dstY, b->width, b->height});
    } else if (kind == kDrawHookVBlank) {
        ++vblanks;
    }
    return 0;
}

class DoubleBufferTest : public ShowWorld {
protected:
    void SetUp() override {
        ShowWorld::SetUp();
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitBGPicLibrary(L_), 0);
        VmSetTop(L_, 0);
        MakeBrush(1, 10, 10, kRed);
        MakeBrush(2, 40, 40, kBlue);
        windowBlits.clear();
        vblanks = 0;
    }
    void Watch() {
        qbAdapterTag tags[] = {{kHookTagPerFrame, 1}, {0, 0}};
        ASSERT_NE(AddDisplayHook(ObjectID{1, nullptr}, &Record, nullptr, tags, 0), nullptr);
    }
    int Flip(bool vsync) {
        VmPushBoolean(L_, vsync ? 1 : 0);
        return Run("Flip", 1);
    }
};

}  // namespace

TEST_F(DoubleBufferTest, RefusalsComeInTheirOrder) {
    ASSERT_EQ(Show("SelectBrush", {2}), 0);
    EXPECT_EQ(Run("BeginDoubleBuffer", 0), ERR_SELECTBRUSH);
    ASSERT_EQ(Show("SelectMask", {2}), 0);
    EXPECT_EQ(Run("BeginDoubleBuffer", 0), ERR_SELECTMASK);
    ASSERT_EQ(Show("SelectAlphaChannel", {2}), 0);
    EXPECT_EQ(Run("BeginDoubleBuffer", 0), ERR_SELECTALPHACHANNEL);
    ASSERT_EQ(Run("EndSelect", 0), 0);
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    VmPushNil(L_);
    ASSERT_EQ(Run("SelectBGPic", 1), 0);
    EXPECT_EQ(Run("BeginDoubleBuffer", 0), ERR_SELECTBG);
    ASSERT_EQ(Run("EndSelect", 0), 0);
    // Layers come before BeginRefresh.
    ASSERT_EQ(Show("BeginRefresh", {1}), 0);
    EXPECT_EQ(Run("BeginDoubleBuffer", 0), ERR_LAYERSOFF);
    ASSERT_EQ(Run("DisableLayers", 0), 0);
    EXPECT_EQ(Run("BeginDoubleBuffer", 0), ERR_BEGINREFRESH);
    ASSERT_EQ(Run("EndRefresh", 0), 0);
    display_->bgpic->keyColour = 0;
    EXPECT_EQ(Run("BeginDoubleBuffer", 0), ERR_DBTRANSWIN);
    display_->bgpic->keyColour = -1;
    ASSERT_EQ(Run("BeginDoubleBuffer", 0), 0);
    EXPECT_EQ(Run("BeginDoubleBuffer", 0), ERR_ENDDOUBLEBUFFER);
    EXPECT_EQ(Run("EndSelect", 0), ERR_WRONGUSAGE);
    EXPECT_EQ(Run("EnableLayers", 0), ERR_ENDDOUBLEBUFFER);
    ASSERT_EQ(Run("EndDoubleBuffer", 0), 0);
    EXPECT_EQ(Run("EndDoubleBuffer", 0), ERR_NODOUBLEBUFFER);
    EXPECT_EQ(Run("Flip", 0), ERR_NODOUBLEBUFFER);
}

TEST_F(DoubleBufferTest, TheFirstFlipShowsABlackFrameThenOnlyWhatChangedAfterTheWait) {
    ASSERT_EQ(Show("DisplayBrush", {2, 0, 0}), 0);
    EXPECT_EQ(Real(5, 5), kBlue);
    Watch();
    ASSERT_EQ(Run("BeginDoubleBuffer", 0), 0);
    ASSERT_EQ(Show("DisplayBrush", {1, 20, 30}), 0);
    EXPECT_EQ(Real(25, 35), kBlue);  // not before the flip
    ASSERT_EQ(Flip(false), 0);
    EXPECT_EQ(vblanks, 0);
    ASSERT_EQ(windowBlits.size(), 1u);
    EXPECT_EQ(windowBlits[0].w, 100);
    EXPECT_EQ(windowBlits[0].h, 80);
    EXPECT_EQ(Real(5, 5), 0u);
    EXPECT_EQ(Real(25, 35), kRed);

    windowBlits.clear();
    ASSERT_EQ(Show("DisplayBrush", {1, 60, 50}), 0);
    ASSERT_EQ(Run("Flip", 0), 0);
    EXPECT_EQ(vblanks, 1);
    ASSERT_EQ(windowBlits.size(), 1u);
    EXPECT_EQ(windowBlits[0].x, 60);
    EXPECT_EQ(windowBlits[0].y, 50);
    EXPECT_EQ(windowBlits[0].w, 10);
    EXPECT_EQ(windowBlits[0].h, 10);
    EXPECT_EQ(Real(65, 55), kRed);

    // Nothing drawn, nothing shown.
    windowBlits.clear();
    ASSERT_EQ(Flip(false), 0);
    EXPECT_TRUE(windowBlits.empty());

    // A full list stands for the whole display.
    for (int i = 0; i <= kDirtyRectStep; ++i) ASSERT_EQ(Show("DisplayBrush", {1, 0, 0}), 0);
    ASSERT_EQ(Flip(false), 0);
    ASSERT_EQ(windowBlits.size(), 1u);
    EXPECT_EQ(windowBlits[0].w, 100);
    RemoveDisplayHook(display_->hooks);
}

TEST_F(DoubleBufferTest, TheLastDrawnFrameStaysAfterTheEndAndDrawingGoesStraightOnAgain) {
    ASSERT_EQ(Run("BeginDoubleBuffer", 0), 0);
    ASSERT_EQ(Show("DisplayBrush", {1, 0, 0}), 0);
    ASSERT_EQ(Flip(false), 0);
    ASSERT_EQ(Show("DisplayBrush", {1, 30, 0}), 0);
    ASSERT_EQ(Run("EndDoubleBuffer", 0), 0);
    EXPECT_EQ(display_->output.type, kObjectTypeDisplay);
    EXPECT_EQ(Real(5, 5), kRed);
    EXPECT_EQ(Shown(35, 5), kRed);
    EXPECT_EQ(Shown(50, 50), 0u);
    ASSERT_EQ(Show("DisplayBrush", {1, 50, 50}), 0);
    EXPECT_EQ(Real(55, 55), kRed);
    // The window's own refresh shows the display's picture again.
    RefreshDisplay(L_, display_);
    EXPECT_EQ(Real(35, 5), kRed);
}

TEST_F(DoubleBufferTest, ASelectionSuspendsDoubleBufferingUntilItEnds) {
    ASSERT_EQ(Run("BeginDoubleBuffer", 0), 0);
    qbBitmap* buffer = display_->output.bitmap;
    ASSERT_EQ(Show("SelectBrush", {2}), 0);
    EXPECT_EQ(display_->softDoubleBuffer, 0);
    EXPECT_EQ(Run("Flip", 0), ERR_SELECTBRUSH);
    ASSERT_EQ(Show("DisplayBrush", {1, 0, 0}), 0);
    EXPECT_EQ(display_->dirtyRects.count, 0);
    ASSERT_EQ(Run("EndSelect", 0), 0);
    EXPECT_EQ(display_->softDoubleBuffer, 1);
    EXPECT_EQ(display_->output.bitmap, buffer);
    ASSERT_EQ(Show("DisplayBrush", {2, 0, 0}), 0);
    ASSERT_EQ(Flip(false), 0);
    EXPECT_EQ(Real(5, 5), kRed);

    // A selection replaced while double buffering is ended, and
    // EndDoubleBuffer ends the one that is left.
    ASSERT_EQ(Show("SelectBrush", {2}), 0);
    ASSERT_EQ(Show("SelectMask", {2}), 0);
    EXPECT_EQ(display_->outputStateSaved, 1);
    ASSERT_EQ(Run("EndDoubleBuffer", 0), 0);
    EXPECT_EQ(display_->output.type, kObjectTypeDisplay);
    EXPECT_EQ(display_->outputStateSaved, 0);
    EXPECT_EQ(Show("FreeBrush", {2}), 0);
}

TEST_F(DoubleBufferTest, ABGPicDrawnIntoWhileDoubleBufferingIsRescaledAndTheMarginsComeBack) {
    ASSERT_EQ(Show("CreateBGPic", {5, 20, 20, kBlue}), 0);
    ASSERT_EQ(Show("ScaleBGPic", {5, 40, 40}), 0);
    ASSERT_EQ(Run("BeginDoubleBuffer", 0), 0);
    ASSERT_EQ(Show("SelectBGPic", {5, 0}), 0);
    ASSERT_EQ(Show("DisplayBrush", {1, 0, 0}), 0);
    ASSERT_EQ(Run("EndSelect", 0), 0);
    EXPECT_EQ(display_->outputPosition[3], 99);
    EXPECT_EQ(display_->layersEnabled, 0);
    qbBGPic* p = nullptr;
    ASSERT_EQ(GetBGPic(L_, ObjectID{5, nullptr}, &p, 0), 0);
    EXPECT_EQ(ReadBitmapPixel(p->base.bitmap, 15, 15, false), kRed);
    EXPECT_EQ(ReadBitmapPixel(p->current.bitmap, 15, 15, false), kRed);
    EXPECT_EQ(display_->softDoubleBuffer, 1);
    ASSERT_EQ(Run("EndDoubleBuffer", 0), 0);
}

TEST_F(DoubleBufferTest, ANewPictureForTheDisplayEndsDoubleBufferingAndItsSelection) {
    ASSERT_EQ(Show("CreateBGPic", {5, 100, 80, kBlue}), 0);
    ASSERT_EQ(Run("BeginDoubleBuffer", 0), 0);
    ASSERT_EQ(Show("SelectBrush", {2}), 0);
    ASSERT_EQ(Show("DisplayBGPic", {5}), 0);
    EXPECT_EQ(display_->softDoubleBuffer, 0);
    EXPECT_EQ(display_->doubleBufferSuspended, 0);
    EXPECT_EQ(display_->output.type, kObjectTypeDisplay);
    EXPECT_EQ(display_->outputStateSaved, 0);
    EXPECT_EQ(GetCurrentBGPic(), display_->bgpic);
    ASSERT_EQ(Show("DisplayBrush", {1, 0, 0}), 0);
    EXPECT_EQ(Real(5, 5), kRed);
    EXPECT_EQ(Real(50, 50), kBlue);
}

TEST_F(DoubleBufferTest, WithAutoscaleTheShownBufferIsTheScaledFrameAndFollowsAResize) {
    display_->autoscale = 1;
    display_->scaleWidth = 200;
    display_->scaleHeight = 160;
    ASSERT_EQ(Run("BeginDoubleBuffer", 0), 0);
    ASSERT_EQ(display_->showBuffer->width, 200);
    ASSERT_EQ(display_->drawBuffer->width, 100);
    ASSERT_EQ(Show("DisplayBrush", {1, 0, 0}), 0);
    ASSERT_EQ(Flip(false), 0);
    EXPECT_EQ(ReadBitmapPixel(display_->showBuffer.get(), 19, 19, false), kRed);
    EXPECT_EQ(ReadBitmapPixel(display_->showBuffer.get(), 21, 21, false), 0u);

    qbResizeRequest r;
    r.width = 300;
    r.height = 240;
    r.noWindow = true;
    ASSERT_EQ(ResizeDisplay(L_, display_, r), 0);
    EXPECT_EQ(display_->showBuffer->width, 300);
    ASSERT_EQ(Flip(false), 0);  // the list is empty: the resized buffer stays black until drawn
    ASSERT_EQ(Show("DisplayBrush", {1, 0, 0}), 0);
    ASSERT_EQ(Flip(false), 0);
    EXPECT_EQ(ReadBitmapPixel(display_->showBuffer.get(), 28, 28, false), kRed);
    ASSERT_EQ(Run("EndDoubleBuffer", 0), 0);
    EXPECT_EQ(Shown(5, 5), kRed);
    display_->autoscale = 0;
    display_->scaleWidth = display_->scaleHeight = 0;
}

// A tall frame goes to the window in several bands: every band lands where
// it belongs, and the whole frame is there after one Flip.
TEST_F(DoubleBufferTest, ATallFrameReachesTheWindowWhole) {
    FreeAllDisplays(L_);
    display_ = OpenDisplayOne(64, 3000);
    ASSERT_NE(display_, nullptr);
    ASSERT_EQ(Run("BeginDoubleBuffer", 0), 0);
    for (double y : {0.0, 1017.0, 1500.0, 2990.0}) ASSERT_EQ(Show("DisplayBrush", {1, 20, y}), 0);
    ASSERT_EQ(Flip(false), 0);
    for (int32_t y : {0, 1017, 1026, 1500, 2999 - 9, 2999}) EXPECT_EQ(Real(25, y), kRed) << y;
    for (int32_t y : {10, 1016, 1027, 2000, 2989}) EXPECT_EQ(Real(25, y), 0u) << y;
    EXPECT_EQ(Real(5, 2999), 0u);
}

// A brush wider than tall is flipped to the window whole.
TEST_F(DoubleBufferTest, AFlipShowsAllOfAWideBrush) {
    MakeBrush(3, 40, 10, kRed);
    ASSERT_EQ(Run("BeginDoubleBuffer", 0), 0);
    ASSERT_EQ(Flip(false), 0);
    ASSERT_EQ(Show("DisplayBrush", {3, 0, 0}), 0);
    ASSERT_EQ(Flip(false), 0);
    EXPECT_EQ(Real(5, 5), kRed);
    EXPECT_EQ(Real(35, 5), kRed);
    ASSERT_EQ(Run("EndDoubleBuffer", 0), 0);
}
