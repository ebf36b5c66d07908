// The transitionfx commands: their argument forms, what they refuse and
// what they leave on the screen and in the layer stack.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <utility>

#include "core/errors.h"
#include "display/display.h"
#include "display/positions.h"
#include "objects/brushes.h"
#include "objects/layers.h"
#include "transition_fixture.h"
#include "transitions/effecthelpers.h"
#include "transitions/effectstate.h"

namespace {

constexpr uint32_t kBlue = 0x0000FF, kRed = 0xFF0000, kGreen = 0x00FF00;

class TransitionCommands : public TransitionWorld {
protected:
    void SetUp() override {
        TransitionWorld::SetUp();
        ShowColourBGPic(3, kBlue);
    }
    int32_t BGPicCount() {
        int32_t n = 0;
        for (qbBGPic* p = FirstBGPic(); p; p = static_cast<qbBGPic*>(p->next)) ++n;
        return n;
    }
    int ShowTable(const char* command, std::initializer_list<double> args, const char* key, int32_t value) {
        return Show(command, args, [&] { Field(key, value); });
    }
    qbEffectState seen_;
    void Record() {
        onFrame_ = [this](const qbEffectState& s) { seen_ = s, seen_.priv.clear(); };
    }
};

TEST_F(TransitionCommands, BrushDefaultsAndTableForm) {
    MakeBrush(1, 20, 10, kGreen);
    Record();
    ASSERT_EQ(RunNumbers("DisplayBrushFX", {1, 0, 0}), 0);
    EXPECT_EQ(seen_.initialSpeed, -1);
    EXPECT_EQ(seen_.parameter, -1);
    EXPECT_NE(RendererForType(seen_.type), nullptr);
    EXPECT_EQ(Real(19, 9), kGreen);

    ASSERT_EQ(ShowTable("DisplayBrushFX", {1, 30, 30}, "type", 14), 0);
    EXPECT_EQ(seen_.type, 14);
    EXPECT_EQ(Real(49, 39), kGreen);
    // A table is read only as the fourth of exactly four arguments.
    VmPushNumber(L_, 1), VmPushNumber(L_, 0), VmPushNumber(L_, 0), VmPushNewTable(L_), VmPushNumber(L_, 1);
    EXPECT_NE(Run("DisplayBrushFX", 5), 0);
}

// An effect of a brush without layers draws into the display's picture,
// which the window is composed from, and not into the window alone: the
// picture holds the brush once the effect ends.
TEST_F(TransitionCommands, APlainBrushEffectLeavesTheBrushInThePicture) {
    MakeBrush(1, 20, 10, kGreen);
    // Side by side, one apart: each brush's right and bottom edges meet blue.
    int32_t x0 = 2;
    for (const int32_t type : {14, 30, 115, 116}) {
        SCOPED_TRACE(testing::Message() << "type " << type);
        ASSERT_EQ(RunNumbers("DisplayBrushFX", {1, double(x0), 20, double(type), 50}), 0);
        const int32_t right = x0 + 19;
        for (const auto& [x, y] : {std::pair{x0, 20}, {right, 20}, {x0, 29}, {right, 29}}) {
            EXPECT_EQ(Shown(x, y), kGreen) << x << "," << y;
            EXPECT_EQ(Real(x, y), kGreen) << x << "," << y;
        }
        EXPECT_EQ(Shown(right + 1, 29), kBlue);
        EXPECT_EQ(Shown(right, 30), kBlue);
        x0 += 24;
    }
}

TEST_F(TransitionCommands, TableWithoutTypeIsRandomEvenForClearScreen) {
    SeedEffectRandom(5);
    // Every type the choice draws runs: the command takes the first draw.
    const int32_t expected = PickRandomEffect(0);
    SeedEffectRandom(5);
    Record();
    ASSERT_EQ(Show("ClearScreen", {3, double(kRed)}, [&] { Field("speed", 50); }), 0);
    EXPECT_EQ(seen_.type, expected);
    EXPECT_EQ(Real(50, 40), kRed);
}

// Without the objects flag the choice reaches effects it never picks with
// it set: those that work only on whole pictures.
TEST_F(TransitionCommands, RandomChoiceWithoutTheObjectsFlagReachesMore) {
    SeedEffectRandom(5);
    std::set<int32_t> forObjects, any;
    for (int i = 0; i < 2000; ++i) {
        VmPushNumber(L_, 1);
        ASSERT_EQ(Run("GetRandomFX", 1, 1), 0);
        forObjects.insert(static_cast<int32_t>(VmToNumber(L_, -1)));
        VmSetTop(L_, 0);
        VmPushNil(L_);
        ASSERT_EQ(Run("GetRandomFX", 1, 1), 0);
        any.insert(static_cast<int32_t>(VmToNumber(L_, -1)));
        VmSetTop(L_, 0);
    }
    EXPECT_GT(any.size(), forObjects.size());
    EXPECT_TRUE(std::includes(any.begin(), any.end(), forObjects.begin(), forObjects.end()));
}

TEST_F(TransitionCommands, APositionalPartNeedsNoLayers) {
    ASSERT_EQ(RunNumbers("CreateBGPic", {2, kW, kH, double(kRed)}), 0);
    ASSERT_EQ(RunNumbers("DisplayBGPicPartFX", {2, 0, 0, 10, 10, 14, 50}), 0);
    EXPECT_EQ(Real(5, 5), kRed);
    EXPECT_EQ(Real(15, 5), kBlue);
}

// A part named by position constants is found in the picture along each
// axis by the part's own side, for parts wider than high and higher than
// wide, at an offset from the constant.
TEST_F(TransitionCommands, APartAtPositionConstantsIsCutByEachAxisOwnSide) {
    ASSERT_EQ(RunNumbers("CreateBGPic", {2, kW, kH, 0}), 0);
    qbBGPic* two = nullptr;
    ASSERT_EQ(GetBGPic(L_, ObjectID{2, nullptr}, &two, 0), 0);
    const auto colourAt = [](int32_t x, int32_t y) { return uint32_t(x) << 16 | uint32_t(y) << 8 | 0x40u; };
    for (int32_t y = 0; y < kH; ++y)
        for (int32_t x = 0; x < kW; ++x) WriteBitmapPixel(two->base.bitmap, x, y, colourAt(x, y), false);
    const struct {
        int32_t srcX, srcY, w, h, x, y;  // the last two where the part lies
    } cases[] = {
        {kPositionRight, kPositionBottom, 30, 10, 70, 70},
        {kPositionLeft + 5, kPositionBottom - 2, 10, 30, 5, 48},
        {kPositionCenter, kPositionCenter, 30, 10, 35, 35},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(RunNumbers("DisplayBGPicPartFX", {2, double(c.srcX), double(c.srcY), double(c.w), double(c.h), 14, 50}),
                  0);
        for (int32_t y = c.y; y < c.y + c.h; ++y)
            for (int32_t x = c.x; x < c.x + c.w; ++x) ASSERT_EQ(Real(x, y), colourAt(x, y)) << x << "," << y;
        EXPECT_EQ(Real(c.x, c.y - 1), kBlue);
        EXPECT_EQ(Real(c.x - 1, c.y), kBlue);
    }
}

TEST_F(TransitionCommands, Refusals) {
    ASSERT_EQ(RunNumbers("CreateBGPic", {2, kW, kH, double(kRed)}), 0);
    EXPECT_EQ(ShowTable("DisplayTransitionFX", {2}, "async", 1), ERR_WRONGUSAGE);
    EXPECT_EQ(ShowTable("DisplayBGPicPartFX", {2, 0, 0, 10, 10}, "layers", 1), ERR_WRONGUSAGE);
    EXPECT_EQ(RunNumbers("DisplayTransitionFX", {2, 141}), ERR_WRONGUSAGE);
    qbBGPic* two = nullptr;
    ASSERT_EQ(GetBGPic(L_, ObjectID{2, nullptr}, &two, 0), 0);
    two->keyColour = 0;
    EXPECT_EQ(RunNumbers("DisplayTransitionFX", {2, 3}), ERR_WRONGUSAGE);
    two->keyColour = -1;
    EXPECT_EQ(Real(0, 0), kBlue);
    // 113 has no effect of its own: a random one runs.
    Record();
    ASSERT_EQ(RunNumbers("DisplayTransitionFX", {2, 113, 50}), 0);
    EXPECT_NE(seen_.type, 113);
    EXPECT_EQ(Real(99, 79), kRed);
    // A plain colour is never stepped by the script.
    EXPECT_EQ(ShowTable("ClearScreen", {3, double(kGreen)}, "async", 1), ERR_WRONGUSAGE);
}

TEST_F(TransitionCommands, OutputSelectionsRefuse) {
    MakeBrush(1, 10, 10, kGreen);
    ASSERT_EQ(RunNumbers("CreateBGPic", {2, kW, kH, double(kRed)}), 0);
    const struct {
        const char* select;
        int expected;
    } cases[] = {{"SelectBrush", ERR_SELECTBRUSH}, {"SelectMask", ERR_SELECTMASK},
                 {"SelectAlphaChannel", ERR_SELECTALPHACHANNEL}};
    for (const auto& c : cases) {
        ASSERT_EQ(RunNumbers(c.select, {1}), 0) << c.select;
        EXPECT_EQ(RunNumbers("DisplayTransitionFX", {2, 3}), c.expected) << c.select;
        ASSERT_EQ(Run("EndSelect", 0), 0);
    }
    EnableLayers();
    ASSERT_EQ(RunNumbers("SelectBGPic", {2}), 0);
    EXPECT_EQ(RunNumbers("DisplayBrushFX", {1, 0, 0, 3}), ERR_SELECTBG);
    // The selected BGPic itself may be shown: the selection ends first.
    EXPECT_EQ(RunNumbers("DisplayTransitionFX", {2, 3, 50}), 0);
    EXPECT_EQ(display_->output.type, kObjectTypeDisplay);
    EXPECT_EQ(Real(0, 0), kRed);
}

TEST_F(TransitionCommands, BGPicOnlyTypeOnABrushRunsHStripes) {
    MakeBrush(1, 10, 10, kGreen);
    Record();
    ASSERT_EQ(RunNumbers("DisplayBrushFX", {1, 0, 0, 78}), 0);  // PUSHLEFT
    EXPECT_EQ(seen_.type, 0);
    EXPECT_EQ(Real(9, 9), kGreen);
}

TEST_F(TransitionCommands, ClearScreenFreesItsBGPic) {
    const int32_t before = BGPicCount();
    EXPECT_EQ(RunNumbers("ClearScreen", {141, double(kRed)}), ERR_WRONGUSAGE);
    EXPECT_EQ(BGPicCount(), before);
    EXPECT_EQ(Real(0, 0), kBlue);
    ASSERT_EQ(RunNumbers("ClearScreen", {14, double(kRed), 50}), 0);
    EXPECT_EQ(Real(0, 0), kRed);
    EXPECT_EQ(Real(99, 79), kRed);
    // The colour as the last argument, the speed left to its default.
    ASSERT_EQ(RunNumbers("ClearScreen", {14, double(kGreen)}), 0);
    EXPECT_EQ(Real(0, 0), kGreen);
    EXPECT_EQ(Real(99, 79), kGreen);
}

TEST_F(TransitionCommands, ResizeStopsABGPicTransitionAndRerunsABrush) {
    ASSERT_EQ(RunNumbers("CreateBGPic", {2, kW, kH, double(kRed)}), 0);
    qbBGPic* shown = display_->bgpic;
    int32_t calls = 0;
    onFrame_ = [&](const qbEffectState& s) {
        if (++calls == 2) shown->currentWidth = kW - 1;
        (void)s;
    };
    ASSERT_EQ(RunNumbers("DisplayTransitionFX", {2, 3, 10}), 0);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(display_->bgpic, shown);
    shown->currentWidth = kW;

    MakeBrush(1, 40, 20, kGreen);
    calls = 0;
    int32_t restarts = 0;
    onFrame_ = [&](const qbEffectState& s) {
        if (s.frame == 1) ++restarts;
        if (++calls == 2) shown->currentWidth = kW - 1;
    };
    ASSERT_EQ(RunNumbers("DisplayBrushFX", {1, 0, 0, 3, 10}), 0);
    shown->currentWidth = kW;
    EXPECT_EQ(restarts, 2);
    EXPECT_EQ(Real(39, 19), kGreen);
}

class LayerCommands : public TransitionCommands {
protected:
    void SetUp() override {
        TransitionCommands::SetUp();
        EnableLayers();
        MakeBrush(1, 40, 20, kGreen);
    }
};

TEST_F(LayerCommands, BrushEffectAddsATopLayer) {
    ASSERT_EQ(RunNumbers("DisplayBrushFX", {1, 10, 10, 3, 10}), 0);
    ASSERT_EQ(CountLayers(display_->bgpic), 1);
    ASSERT_EQ(RunNumbers("DisplayBrushFX", {1, 20, 20, 14, 2}), 0);
    ASSERT_EQ(CountLayers(display_->bgpic), 2);
    const qbLayer* top = GetLayerByIndex(display_->bgpic, 2);
    EXPECT_EQ(top->hidden, 0);
    EXPECT_EQ(top->shownstate->shownx, 20);
    EXPECT_EQ(Real(59, 39), kGreen);
    EXPECT_EQ(Real(60, 40), kBlue);
}

TEST_F(LayerCommands, TheDisplaysRealtimeFlagRunsEveryEffectInRealtime) {
    Record();
    ASSERT_EQ(RunNumbers("DisplayBrushFX", {1, 10, 10, 3, 10}), 0);
    EXPECT_EQ(seen_.realtime, 0);
    EXPECT_EQ(seen_.blitFlags & 0x20u, 0u);

    display_->effectFlags = kDisplayEffectsRealtime;
    ASSERT_EQ(RunNumbers("DisplayBrushFX", {1, 60, 60, 3, 10}), 0);
    EXPECT_EQ(seen_.realtime, 1);
    EXPECT_EQ(seen_.forceRealtime, 1);
    EXPECT_EQ(seen_.displayFlag80, 1);
    EXPECT_EQ(seen_.blitFlags & 0x20u, 0x20u);
    EXPECT_EQ(Real(99, 79), kGreen);

    ASSERT_EQ(RunNumbers("CreateBGPic", {4, kW, kH, double(kRed)}), 0);
    ASSERT_EQ(RunNumbers("DisplayTransitionFX", {4, 3, 10}), 0);
    EXPECT_EQ(seen_.displayFlag80, 1);
    EXPECT_EQ(seen_.blitFlags & 0x20u, 0x20u);
    display_->effectFlags = 0;
}

TEST_F(LayerCommands, HideThinsStripeByStripeThenHides) {
    ASSERT_EQ(Show("DisplayBrush", {1, 10, 10}), 0);
    std::vector<int32_t> shownPerFrame;
    onFrame_ = [&](const qbEffectState&) {
        int32_t n = 0;
        for (int32_t y = 10; y < 30; ++y)
            for (int32_t x = 10; x < 50; ++x) n += Real(x, y) == kGreen;
        shownPerFrame.push_back(n);
    };
    ASSERT_EQ(RunNumbers("HideLayerFX", {1, 0, 10, 2}), 0);  // HSTRIPES, 2-row stripes
    ASSERT_GE(shownPerFrame.size(), 3u);
    for (size_t i = 1; i < shownPerFrame.size(); ++i) EXPECT_LT(shownPerFrame[i], shownPerFrame[i - 1]) << i;
    EXPECT_GT(shownPerFrame.front(), 0);
    EXPECT_EQ(shownPerFrame.back(), 0);
    ASSERT_EQ(CountLayers(display_->bgpic), 1);
    EXPECT_EQ(GetLayerByIndex(display_->bgpic, 1)->hidden, 1);
    EXPECT_EQ(Real(10, 10), kBlue);
    ASSERT_EQ(RunNumbers("ShowLayerFX", {1, 14, 4}), 0);
    EXPECT_EQ(GetLayerByIndex(display_->bgpic, 1)->hidden, 0);
    EXPECT_EQ(Real(49, 29), kGreen);
}

TEST_F(LayerCommands, RemoveAndRangeAndUndo) {
    ASSERT_EQ(Show("DisplayBrush", {1, 10, 10}), 0);
    EXPECT_EQ(RunNumbers("ShowLayerFX", {99}), ERR_LAYERRANGE);
    ASSERT_EQ(RunNumbers("RemoveLayerFX", {1, 19, 8}), 0);
    EXPECT_EQ(CountLayers(display_->bgpic), 0);
    EXPECT_EQ(Real(20, 20), kBlue);

    MakeBrush(2, 10, 10, kRed);
    ASSERT_EQ(Show("DisplayBrush", {1, 0, 0}), 0);
    ASSERT_EQ(Show("DisplayBrush", {2, 50, 50}), 0);
    ASSERT_EQ(Show("DisplayBrush", {1, 60, 0}), 0);
    EXPECT_EQ(RunNumbers("UndoFX", {3, 5}), ERR_FINDARRAY);
    // The second brush-1 layer from the top is the bottom one.
    ASSERT_EQ(Show("UndoFX", {3, 1}, [&] {
                  Field("undolevel", 2);
                  Field("type", 14);
              }),
              0);
    ASSERT_EQ(CountLayers(display_->bgpic), 2);
    EXPECT_EQ(GetLayerByIndex(display_->bgpic, 1)->shownstate->shownx, 50);
    EXPECT_EQ(GetLayerByIndex(display_->bgpic, 2)->shownstate->shownx, 60);
    EXPECT_EQ(Real(5, 5), kBlue);
    EXPECT_EQ(Real(65, 5), kGreen);
}

// A layer at the coordinate limits: every effect hides, shows and removes
// it to its end without a sum of its place overflowing (the sanitizer
// build fails on one), and the window never shows a piece of it. (At the
// largest step: a moving effect travels the 2^31 pixels to its place.)
TEST_F(LayerCommands, EveryEffectOnALayerAtTheCoordinateLimitsEndsShowingNothing) {
    for (double far : {2147483647.0, -2147483648.0}) {
        for (int32_t type = 0; type < kEffectCount; ++type) {
            SCOPED_TRACE(testing::Message() << "type " << type << " at " << far);
            ASSERT_EQ(Show("DisplayBrush", {1, far, far}), 0);
            EXPECT_EQ(RunNumbers("HideLayerFX", {1, double(type), 16777216}), 0);
            EXPECT_EQ(RunNumbers("ShowLayerFX", {1, double(type), 16777216}), 0);
            EXPECT_EQ(RunNumbers("RemoveLayerFX", {1, double(type), 16777216}), 0);
            ASSERT_EQ(CountLayers(display_->bgpic), 0);
            int shown = 0;
            for (int32_t y = 0; y < kH; y += 3)
                for (int32_t x = 0; x < kW; x += 3) shown += Real(x, y) != kBlue;
            EXPECT_EQ(shown, 0);
        }
    }
}

// A layer named in vain is named in the message, as the layer commands do.
TEST_F(LayerCommands, AMissingLayerIsNamedInTheError) {
    ASSERT_EQ(Show("DisplayBrush", {1, 10, 10}), 0);
    for (const char* command : {"ShowLayerFX", "HideLayerFX", "RemoveLayerFX"}) {
        VmSetTop(L_, 0);
        VmPushString(L_, "nowhere");
        ASSERT_EQ(Run(command, 1), ERR_FINDLAYER) << command;
        char text[kErrorTextSize];
        GetErrorText(ERR_FINDLAYER, text);
        EXPECT_STREQ(text, "Cannot find layer \"nowhere\" in current BGPic!") << command;
        SetErrorDetail("");
    }
    EXPECT_EQ(CountLayers(display_->bgpic), 1);
}

TEST_F(TransitionCommands, UndoNeedsLayers) { EXPECT_EQ(RunNumbers("UndoFX", {3, 1}), ERR_NOLAYERS); }

}  // namespace

// A real-time stretch or zoom of a tall brush shows each frame as the
// screen's run does, the parts far below the brush's width included.
TEST_F(LayerCommands, RealTimeStretchesOfATallBrushShowEveryFrameAsTheScreenDoes) {
    constexpr int32_t w = 12, h = 60, y0 = 10;
    MakeBrush(2, w, h, kGreen);
    keepFrames_ = true;
    const auto crop = [&](const Picture& p, int32_t x0) {
        Picture out;
        for (int32_t y = y0; y < y0 + h; ++y)
            for (int32_t x = x0; x < x0 + w; ++x) out.push_back(p[static_cast<size_t>(y) * kW + x]);
        return out;
    };
    for (const int32_t type : {55, 56, 57, 58, 59, 60, 61, 65}) {
        SCOPED_TRACE(testing::Message() << "type " << type);
        std::vector<Picture> screen, layer;
        display_->effectFlags = 0;
        snapshots_.clear();
        ASSERT_EQ(RunNumbers("DisplayBrushFX", {2, 10, y0, double(type), 7}), 0);
        for (const Picture& p : snapshots_) screen.push_back(crop(p, 10));
        display_->effectFlags = kDisplayEffectsRealtime;
        snapshots_.clear();
        ASSERT_EQ(RunNumbers("DisplayBrushFX", {2, 60, y0, double(type), 7}), 0);
        for (const Picture& p : snapshots_) layer.push_back(crop(p, 60));
        display_->effectFlags = 0;
        ASSERT_EQ(layer.size(), screen.size());
        for (size_t f = 0; f < screen.size(); ++f) ASSERT_EQ(layer[f], screen[f]) << "frame " << f + 1;
        ASSERT_EQ(Run("FreeLayers", 0), 0);
        ASSERT_EQ(CountLayers(display_->bgpic), 0);
    }
}
