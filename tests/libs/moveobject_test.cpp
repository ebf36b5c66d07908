// MoveBrush, MoveLayer and MoveSprite on display 1 (100 x 80, two colours):
// the positions of every frame as the step reports them, what the window
// shows after each frame, the use counters, and the stepped form.
#include <gtest/gtest.h>

#include "core/errors.h"
#include "move_fixture.h"

namespace {

TEST_F(MoveWorld, TheObjectsShapePicksTheAxisOfWholeSteps) {
    // Taller than wide: y takes whole steps, x's remainder pixel comes first.
    MakeBrush(1, 10, 11, 0xFF0000);
    ASSERT_EQ(Move("MoveBrush", {1, 0, 0, 100, 30, 10}), 0);
    EXPECT_EQ(path_, (Path{{34, 10}, {67, 20}, {100, 30}}));
    // Square: no remainder pixels, x falls short and steps once more.
    MakeBrush(2, 10, 10, 0xFF0000);
    ASSERT_EQ(Move("MoveBrush", {2, 0, 0, 100, 30, 10}), 0);
    EXPECT_EQ(path_, (Path{{33, 10}, {66, 20}, {99, 30}, {100, 30}}));
    // Wider than tall: x takes whole steps.
    MakeBrush(3, 11, 10, 0xFF0000);
    ASSERT_EQ(Move("MoveBrush", {3, 0, 0, 100, 30, 10}), 0);
    ASSERT_EQ(path_.size(), 10u);
    for (size_t i = 0; i < path_.size(); ++i) EXPECT_EQ(path_[i], std::make_pair(int32_t(10 * (i + 1)), int32_t(3 * (i + 1))));
    // A square whose minor distance is below the number of steps still
    // arrives (a step of 0 would never get there).
    ASSERT_EQ(Move("MoveBrush", {2, 0, 0, 5, 70, 10}), 0);
    EXPECT_EQ(path_.back(), std::make_pair(5, 70));
    EXPECT_EQ(path_.size(), 7u);
}

TEST_F(MoveWorld, AMoveToItsOwnStartDrawsNothingAndBadSpeedsAreRefused) {
    MakeBrush(1, 10, 10, 0xFF0000);
    Blits();
    ASSERT_EQ(Move("MoveBrush", {1, 20, 20, 20, 20, 5}), 0);
    EXPECT_TRUE(path_.empty());
    EXPECT_TRUE(Blits().empty());
    EXPECT_EQ(Shown(25, 25), 0x203040u);
    EXPECT_EQ(Move("MoveBrush", {1, 0, 0, 50, 0, 0}), ERR_WRONGUSAGE);
    EXPECT_EQ(Move("MoveBrush", {1, 0, 0, 50, 0, -5}), ERR_WRONGUSAGE);
    EXPECT_EQ(Move("MoveBrush", {77, 0, 0, 50, 0, 5}), ERR_FINDBRUSH);
    EXPECT_EQ(Move("MoveLayer", {1, 0, 0, 50, 0, 5}), ERR_NOLAYERS);
    EXPECT_EQ(Brush(1)->locked, 0);
    // The presets: -1 is 10, -2 15, -3 5 pixels a frame.
    for (auto [preset, step] : {std::pair{-1, 10}, {-2, 15}, {-3, 5}}) {
        ASSERT_EQ(Move("MoveBrush", {1, 0, 0, 60, 0, double(preset)}), 0);
        EXPECT_EQ(path_.front().first, step);
    }
}

TEST_F(MoveWorld, ARedirectedOutputOrAnUnknownWayRefusesTheMove) {
    MakeBrush(1, 10, 10, 0xFF0000);
    MakeBrush(2, 30, 30, 0);
    ASSERT_EQ(RunNumbers("SelectBrush", {2}), 0);
    EXPECT_EQ(Move("MoveBrush", {1, 0, 0, 50, 0, 5}), ERR_SELECTBRUSH);
    ASSERT_EQ(EndSelectCore(L_, display_, true), 0);
    ASSERT_EQ(RunNumbers("SelectMask", {2}), 0);
    EXPECT_EQ(Move("MoveBrush", {1, 0, 0, 50, 0, 5}), ERR_SELECTMASK);
    ASSERT_EQ(EndSelectCore(L_, display_, true), 0);
    EXPECT_EQ(Move("MoveBrush", {1, 0, 0, 50, 0, 5, 8}), ERR_WRONGUSAGE);
    EXPECT_EQ(Brush(1)->locked, 0);
    EXPECT_TRUE(path_.empty());
    // Animspeed in 20 ms units; the presets, and the sprites' own delays.
    EXPECT_EQ(ResolveAnimSpeed(-1, kMoveKindSprite), 60);
    EXPECT_EQ(ResolveAnimSpeed(-2, kMoveKindSprite), 0);
    EXPECT_EQ(ResolveAnimSpeed(-3, kMoveKindSprite), 160);
    EXPECT_EQ(ResolveAnimSpeed(-7, kMoveKindSprite), 0);
    EXPECT_EQ(ResolveAnimSpeed(5, kMoveKindSprite), 100);
    EXPECT_EQ(ResolveAnimSpeed(kMoveAnimOwnDelays, kMoveKindSprite), 60);
    EXPECT_EQ(ResolveAnimSpeed(kMoveAnimOwnDelays, kMoveKindAnim), kMoveAnimOwnDelays);
}

TEST_F(MoveWorld, BounceAndDampedOvershootByTheirInitialSteps) {
    MakeBrush(1, 10, 10, 0xFF0000);
    ASSERT_EQ(Move("MoveBrush", {1, 0, 10, 40, 10, 2, kMoveBounce}), 0);
    // 16, 8, 4, 2 and 1 steps of 2 on alternate sides of 40.
    EXPECT_EQ(TurningPoints(path_), (std::vector<int32_t>{72, 24, 48, 36, 42}));
    EXPECT_EQ(path_.back(), std::make_pair(40, 10));
    for (const auto& p : path_) EXPECT_EQ(p.second, 10);
    // Toward smaller values the sides swap.
    ASSERT_EQ(Move("MoveBrush", {1, 40, 10, 0, 10, 2, kMoveBounce}), 0);
    EXPECT_EQ(TurningPoints(path_), (std::vector<int32_t>{-32, 16, -8, 4, -2}));
    ASSERT_EQ(Move("MoveBrush", {1, 0, 10, 40, 10, 2, kMoveDamped}), 0);
    EXPECT_EQ(TurningPoints(path_), (std::vector<int32_t>{56}));
    EXPECT_EQ(path_.back(), std::make_pair(40, 10));
}

TEST_F(MoveWorld, HugeSpeedsBounceWithinThePictureInBoundedFrames) {
    MakeBrush(1, 10, 10, 0xFF0000);
    // A hang would walk back a pixel a frame for billions of frames: past
    // this count the test quits the move (which then fails the checks).
    constexpr size_t kHangFrames = 20000;
    SetQuitShortcut(nullptr, kQuitShortcutEscape, 1);
    onStep_ = [&](const qbMove&) {
        if (path_.size() == kHangFrames) null_backend::ScriptEvent({display_, kEventKey, 1, 0, null_backend::kKeyEscape});
    };
    for (double speed : {2147483648.0, 4294967297.0, 1e5, 1e300, HUGE_VAL})
        for (int32_t fx : {kMoveBounce, kMoveDamped}) {
            SCOPED_TRACE(testing::Message() << speed << " fx " << fx);
            ASSERT_EQ(Move("MoveBrush", {1, 2, 2, 10, 10, speed, double(fx)}), 0);
            // The widest swing is 16 units of at most 100 / 16 pixels here;
            // at a step of 1 (the diagonal's minor axis halves down to it)
            // the swings take at most 61 units of frames.
            EXPECT_LE(path_.size(), 61u * 6 + 1);
            EXPECT_EQ(path_.back(), std::make_pair(10, 10));
            for (const auto& p : path_) EXPECT_LE(std::abs(p.first - 10), 96);
        }
    SetQuitShortcut(nullptr, kQuitShortcutEscape, 0);
    SetEventQuitRequested(false);
    // The async flag is read as the script's If reads it: 0.5 is true.
    for (double a : {1, 0, 0, 50, 0}) VmPushNumber(L_, a);
    VmPushNewTable(L_);
    SetTableFieldFloat(L_, "async", 0.5);
    ASSERT_EQ(Run("MoveBrush", 6, 1), 0);
    EXPECT_NE(GetObjectIDArg(L_, -1).handle, nullptr);
    VmSetTop(L_, 0);
}

TEST_F(MoveWorld, SmoothOutShrinksTheStepNearTheTarget) {
    MakeBrush(1, 10, 10, 0xFF0000);
    ASSERT_EQ(Move("MoveBrush", {1, 0, 0, 100, 0, 10, kMoveSmoothOut}), 0);
    std::vector<int32_t> steps;
    int32_t last = 0;
    for (const auto& p : path_) steps.push_back(p.first - std::exchange(last, p.first));
    // Full steps until 60 (6 steps) away, then one less each frame, never below 1.
    ASSERT_GE(steps.size(), 10u);
    EXPECT_EQ((std::vector<int32_t>(steps.begin(), steps.begin() + 8)), (std::vector<int32_t>{10, 10, 10, 10, 9, 8, 7, 6}));
    EXPECT_EQ(*std::min_element(steps.begin(), steps.end()), 1);
    EXPECT_TRUE(std::is_sorted(steps.rbegin(), steps.rend()));
    EXPECT_EQ(path_.back(), std::make_pair(100, 0));
}

TEST_F(MoveWorld, SmoothOutAtHugeSpeedsEndsNearItsPlainTravel) {
    MakeBrush(1, 10, 10, 0xFF0000);
    FramesSprite(1, 2, 10, 10);
    ExpectSmoothOutBounded("MoveBrush");
    ExpectSmoothOutBounded("MoveSprite");
    // With layers on: the brush as its layer, and that layer by index.
    ASSERT_EQ(RunNumbers("FreeSprite", {1}), 0);
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ExpectSmoothOutBounded("MoveBrush");
    ExpectSmoothOutBounded("MoveLayer");
}

TEST_F(MoveWorld, WavesFollowTheirTableAndCurvesEndOnTheLine) {
    MakeBrush(1, 10, 10, 0xFF0000);
    // 79 frames of table step 1: the start index wraps to the table's first entry.
    ASSERT_EQ(Move("MoveBrush", {1, 0, 100, 316, 100, 4, kMoveSine}), 0);
    ASSERT_EQ(path_.size(), 79u);
    EXPECT_EQ(path_[0], std::make_pair(4, int32_t(std::sin(0.08) * 50 + 100)));
    EXPECT_EQ(path_[1].second, int32_t(std::sin(0.16) * 50 + 100));
    EXPECT_EQ(path_.back(), std::make_pair(316, 100));
    // BIGSINE's amplitude is half the picture's height (80).
    ASSERT_EQ(Move("MoveBrush", {1, 0, 100, 316, 100, 4, kMoveBigSine}), 0);
    EXPECT_EQ(path_[0].second, int32_t(std::sin(0.08) * 40 + 100));
    // On a diagonal the waves are a straight move.
    ASSERT_EQ(Move("MoveBrush", {1, 0, 0, 60, 30, 4}), 0);
    const Path straight = path_;
    for (int fx : {kMoveSine, kMoveBigSine}) {
        ASSERT_EQ(Move("MoveBrush", {1, 0, 0, 60, 30, 4, double(fx)}), 0);
        EXPECT_EQ(path_, straight);
    }
    ASSERT_EQ(Move("MoveBrush", {1, 0, 40, 90, 40, 10, kMoveLowerCurve}), 0);
    EXPECT_EQ(path_.back(), std::make_pair(90, 40));
    for (size_t i = 0; i + 1 < path_.size(); ++i) EXPECT_GT(path_[i].second, 40);
    ASSERT_EQ(Move("MoveBrush", {1, 0, 40, 90, 40, 10, kMoveUpperCurve}), 0);
    EXPECT_EQ(path_.back(), std::make_pair(90, 40));
    for (size_t i = 0; i + 1 < path_.size(); ++i) EXPECT_LT(path_[i].second, 40);
}

TEST_F(MoveWorld, EachFrameShowsThePictureWithTheMaskedBrushAtItsPlace) {
    MakeBrush(1, 12, 8, 0xFF0000);
    qbBrush* b = Brush(1);
    b->mask = AllocMask(b->bitmap, 12, 8, true, nullptr, 0);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 12; ++x)
            if ((x + y) % 3) WriteBitmapPixel(b->mask, x, y, kMaskVisible, true);
    qbBitmap* screen = display_->spriteFreeBuffer.get();
    BitmapPtr picture(AllocBitmap(100, 80, 0, nullptr));
    CopyBitmapRect(screen, 0, 0, picture.get(), 0, 0, 100, 80);
    int mismatches = 0, windowMismatches = 0, checked = 0;
    onStep_ = [&](const qbMove& m) {
        BitmapPtr want(AllocBitmap(100, 80, 0, nullptr));
        CopyBitmapRect(picture.get(), 0, 0, want.get(), 0, 0, 100, 80);
        const int32_t w = std::min(12, 100 - m.x), h = std::min(8, 80 - m.y);
        CopyBitmapRectMasked(b->bitmap, 0, 0, want.get(), m.x, m.y, w, h, b->mask);
        for (int y = 0; y < 80; ++y)
            for (int x = 0; x < 100; ++x) {
                const uint32_t shown = ReadBitmapPixel(screen, x, y, false);
                mismatches += shown != ReadBitmapPixel(want.get(), x, y, false);
            }
        ++checked;
    };
    // The window gets each frame at the frame's vertical blank, before the
    // next frame's pump: the brush's old and new places.
    null_backend::SetPumpObserver([&] {
        if (path_.empty()) return;
        const auto now = path_.back(), before = path_.size() > 1 ? path_[path_.size() - 2] : std::pair{5, 5};
        for (int y = std::min(now.second, before.second); y < std::max(now.second, before.second) + 8 && y < 80; ++y)
            for (int x = std::min(now.first, before.first); x < std::max(now.first, before.first) + 12 && x < 100; ++x)
                windowMismatches += Real(x, y) != ReadBitmapPixel(screen, x, y, false);
    });
    ASSERT_EQ(Move("MoveBrush", {1, 5, 5, 85, 60, 7}), 0);
    EXPECT_GT(checked, 5);
    EXPECT_EQ(mismatches, 0);
    null_backend::SetPumpObserver(nullptr);
    EXPECT_EQ(windowMismatches, 0);
    EXPECT_EQ(b->locked, 0);
}

TEST_F(MoveWorld, WithLayersOnTheBrushsLayerMoves) {
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    MakeBrush(1, 10, 10, 0xFF0000);
    ASSERT_EQ(RunNumbers("DisplayBrush", {1, 0, 0}), 0);
    ASSERT_EQ(CountLayers(display_->bgpic), 1);
    ASSERT_EQ(Move("MoveBrush", {1, 0, 0, 40, 20, 10}), 0);
    ASSERT_EQ(CountLayers(display_->bgpic), 1);
    const qbLayer* l = GetLayerByIndex(display_->bgpic, 1);
    EXPECT_EQ(l->basestate->x, 40);
    EXPECT_EQ(l->basestate->y, 20);
    EXPECT_EQ(Window(45, 25), 0xFF0000u);
    EXPECT_EQ(Window(5, 5), 0x203040u);
    // A brush not shown yet becomes a new top layer.
    MakeBrush(2, 10, 10, 0x00FF00);
    ASSERT_EQ(Move("MoveBrush", {2, 60, 0, 60, 50, 10}), 0);
    EXPECT_EQ(CountLayers(display_->bgpic), 2);
    EXPECT_EQ(Window(65, 55), 0x00FF00u);
    // Layers and sprites: a layer by index (100000 keeps its coordinate),
    // a missing one, and no sprite moves while layers are on.
    ASSERT_EQ(Move("MoveLayer", {1, 100000, 100000, 40, 60, 10}), 0);
    EXPECT_EQ(path_.back(), std::make_pair(40, 60));
    EXPECT_EQ(path_.front(), std::make_pair(40, 30));
    EXPECT_EQ(Move("MoveLayer", {9, 0, 0, 40, 60, 10}), ERR_LAYERRANGE);
    // A layer takes no anim speed: its seventh argument is the way.
    ASSERT_EQ(Move("MoveLayer", {1, 0, 10, 40, 10, 2, kMoveDamped}), 0);
    EXPECT_EQ(TurningPoints(path_), (std::vector<int32_t>{56}));
    ASSERT_EQ(AssignLayerName(display_->bgpic, GetLayerByIndex(display_->bgpic, 2), "green"), 0);
    VmPushString(L_, "green");
    for (double a : {60, 50, 0, 50, 20}) VmPushNumber(L_, a);
    path_.clear();
    ASSERT_EQ(Run("MoveLayer", 6), 0);
    EXPECT_EQ(path_.back(), std::make_pair(0, 50));
    VmPushString(L_, "blue");
    for (double a : {60, 50, 0, 50, 20}) VmPushNumber(L_, a);
    EXPECT_EQ(Run("MoveLayer", 6), ERR_FINDLAYER);
    EXPECT_STREQ(GetErrorDetail(), "blue");
    FramesSprite(1, 2, 10, 10);
    EXPECT_EQ(Move("MoveSprite", {1, 0, 0, 40, 60, 10}), ERR_LAYERSOFF);
    EXPECT_EQ(Sprite(1)->useCount, 0);
}

TEST_F(MoveWorld, SteppedMovesMatchTheSynchronousPathAndHoldTheObject) {
    MakeBrush(1, 10, 11, 0xFF0000);
    ASSERT_EQ(Move("MoveBrush", {1, 0, 0, 100, 30, 10, kMoveBounce}), 0);
    const Path wanted = path_;
    ObjectID id;
    ASSERT_EQ(MoveAsync("MoveBrush", {1, 0, 0, 100, 30}, 10, kMoveBounce, &id), 0);
    EXPECT_EQ(Brush(1)->locked, 1);
    EXPECT_EQ(RunNumbers("FreeBrush", {1}), ERR_LOCKEDOBJ);
    int steps = 0;
    while (Frame(id) == 0 && steps < 1000) ++steps;
    EXPECT_EQ(path_, wanted);
    EXPECT_EQ(Brush(1)->locked, 0);
    // A sprite plays its frames on the way and cannot be freed meanwhile.
    FramesSprite(1, 3, 10, 10);
    ASSERT_EQ(MoveAsync("MoveSprite", {1, 0, 0, 50, 0}, 10, 0, &id), 0);
    ASSERT_EQ(Frame(id), 0);
    EXPECT_EQ(RunNumbers("FreeSprite", {1}), ERR_LOCKEDOBJ);
    while (Frame(id) == 0) {
    }
    EXPECT_EQ(Sprite(1)->useCount, 0);
    // A sprite made of others holds each of them while it moves.
    FramesSprite(5, 1, 10, 10);
    ASSERT_EQ(RunNumbers("CreateSprite", {6, 32, 1, 5}), 0);
    ASSERT_EQ(MoveAsync("MoveSprite", {6, 0, 0, 50, 0}, 10, 0, &id), 0);
    EXPECT_EQ(Sprite(1)->useCount, 1);
    EXPECT_EQ(Sprite(5)->useCount, 1);
    PushObjectID(L_, id);
    ASSERT_EQ(Run("FinishAsyncDraw", 1), 0);
    EXPECT_EQ(Real(55, 5), FrameColour(0));
    EXPECT_EQ(Sprite(5)->useCount, 0);
    ASSERT_EQ(RunNumbers("FreeSprite", {6}), 0);
    EXPECT_EQ(RunNumbers("FreeSprite", {1}), 0);
    // Cancelling releases the counter too.
    ASSERT_EQ(MoveAsync("MoveBrush", {1, 0, 0, 100, 30}, 10, 0, &id), 0);
    PushObjectID(L_, id);
    ASSERT_EQ(Run("CancelAsyncDraw", 1), 0);
    EXPECT_EQ(Brush(1)->locked, 0);
}

TEST_F(MoveWorld, SpritesPlayTheirFramesWhileTheyTravel) {
    FramesSprite(1, 3, 10, 10);
    // animspeed -2: a new frame every frame.
    ASSERT_EQ(Move("MoveSprite", {1, 0, 0, 50, 0, 10, -2}), 0);
    EXPECT_EQ(frames_, (std::vector<int32_t>{1, 2, 0, 1, 2}));
    // The last frame drew the frame before the last advance.
    EXPECT_EQ(Real(55, 5), FrameColour(1));
    EXPECT_EQ(Real(5, 5), 0x203040u);
    EXPECT_EQ(Sprite(1)->useCount, 0);
}

TEST_F(MoveWorld, AMovedLayerThatGoesLeavesTheMoveWithoutOne) {
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    MakeBrush(1, 10, 10, 0xFF0000);
    ASSERT_EQ(RunNumbers("DisplayBrush", {1, 0, 0}), 0);
    ASSERT_EQ(RunNumbers("DisplayBrush", {1, 0, 0}), 0);
    ObjectID id;
    ASSERT_EQ(MoveAsync("MoveLayer", {2, 0, 0, 60, 0}, 10, 0, &id), 0);
    ASSERT_EQ(Frame(id), 0);
    // The layer shows a running move: the command refuses to remove it.
    EXPECT_EQ(RunNumbers("RemoveLayer", {2}), ERR_REMADLAYER);
    // So does the command that takes every layer, though it is the last one.
    EXPECT_EQ(Run("FreeLayers", 0), ERR_REMADLAYER);
    EXPECT_EQ(CountLayers(display_->bgpic), 2);
    qbLayer* moved = GetLayerByIndex(display_->bgpic, 2);
    EXPECT_TRUE(IsObjectUsedByAsyncDraw(moved));
    FreeLayer(L_, moved, true);
    while (Frame(id) == 0) {
    }
    EXPECT_EQ(path_.back(), std::make_pair(60, 0));
    EXPECT_EQ(GetLayerByIndex(display_->bgpic, 1)->basestate->x, 0);
    // A replaced layer is dropped the same way.
    ASSERT_EQ(MoveAsync("MoveLayer", {1, 0, 0, 60, 0}, 10, 0, &id), 0);
    qbAsyncLayerReplacement change{GetLayerByIndex(display_->bgpic, 1), nullptr};
    EXPECT_EQ(NotifyAsyncDraws(kAsyncQueryLayerReplaced, &change), 0);
    EXPECT_FALSE(IsObjectUsedByAsyncDraw(change.oldLayer));
}

TEST_F(MoveWorld, AQuitEndsASynchronousMoveQuietly) {
    MakeBrush(1, 10, 10, 0xFF0000);
    SetQuitShortcut(nullptr, kQuitShortcutEscape, 1);
    onStep_ = [&](const qbMove&) {
        if (path_.size() == 3) null_backend::ScriptEvent({display_, kEventKey, 1, 0, null_backend::kKeyEscape});
    };
    ASSERT_EQ(Move("MoveBrush", {1, 0, 0, 90, 0, 1}), 0);
    EXPECT_LT(path_.size(), 10u);
    EXPECT_EQ(Brush(1)->locked, 0);
    SetEventQuitRequested(false);
    SetQuitShortcut(nullptr, kQuitShortcutEscape, 0);
}

TEST_F(MoveWorld, AnEffectDrivesAPictureFrameByFrame) {
    BitmapPtr picture(AllocBitmap(10, 10, 0, nullptr));
    FillBitmapRect(picture.get(), 0, 0, 10, 10, 0x00FF00);
    qbMove m;
    m.kind = kMoveKindPicture;
    m.bitmap = picture.get();
    m.width = m.height = 10;
    m.x = m.targetX = 40;
    m.y = m.targetY = 30;
    m.speed = 5;
    ASSERT_EQ(StartEffectMove(L_, &m), 0);
    // Start and target alike: it comes from 10 pixels up and left.
    EXPECT_EQ(m.x, 30);
    EXPECT_EQ(m.y, 20);
    int32_t done = 0;
    for (int i = 0; i < 10 && !done; ++i) ASSERT_EQ(m.step(&m, &done), 0);
    EXPECT_EQ(done, 1);
    EXPECT_EQ(Shown(45, 35), 0x00FF00u);
    EXPECT_EQ(Shown(32, 22), 0x203040u);
    m.cleanup(&m);  // the record stays the effect's
    EXPECT_FALSE(m.background);
}

}  // namespace
