// The families that move or scale whole pictures: scroll, flow, gates,
// push, zoom and turn down. The renderers are run on pictures whose every
// pixel names its place, so that a frame shows where each part went.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "draw/asyncdraw.h"
#include "draw/movement.h"
#include "imaging/bitmap.h"
#include "objects/dirtyrects.h"
#include "objects/layergeometry.h"
#include "renderer_fixture.h"
#include "transition_fixture.h"
#include "transitions/effectasync.h"
#include "transitions/flow.h"
#include "transitions/gates.h"
#include "transitions/zoomturn.h"

namespace {

TEST_F(MovingRenderer, GatesOnAnOddWidthKeepTheWiderHalfOnTheRight) {
    Start(77, 9, 4, 1);  // VCLOSEGATE: halves of 4 and 5 columns
    EXPECT_EQ(s_.frameCount, 4);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Step(), 0);
    for (int32_t x = 0; x < 9; ++x) {
        const uint32_t want = x < 3 ? New(x + 1, 2) : x < 6 ? Old(x, 2) : New(x - 2, 2);
        EXPECT_EQ(At(x, 2), want) << x;
    }
    EXPECT_EQ(Step(), 1);
    EXPECT_TRUE(Whole(New)) << "the last frame leaves a seam";

    Start(76, 9, 4, 2);  // VOPENGATE: a = ceil(9 / 2) - 2 = 3, b = 4 + 2 = 6
    EXPECT_EQ(s_.frameCount, 3);
    EXPECT_EQ(Step(), 0);
    for (int32_t x = 0; x < 9; ++x) {
        const uint32_t want = x < 3 ? Old(x + 1, 1) : x < 6 ? New(x, 1) : Old(x - 2, 1);
        EXPECT_EQ(At(x, 1), want) << x;
    }
    EXPECT_EQ(Step(), 0);
    EXPECT_EQ(Step(), 1);
    EXPECT_TRUE(Whole(New));

    Start(75, 3, 7, 1);  // HCLOSEGATE on an odd height: rows 3 and 4 below
    for (int i = 0; i < 2; ++i) Step();
    EXPECT_EQ(At(1, 0), New(1, 1));
    EXPECT_EQ(At(1, 5), New(1, 3));
    EXPECT_EQ(At(1, 4), Old(1, 4));
    EXPECT_EQ(At(1, 2), Old(1, 2));
}

TEST_F(MovingRenderer, ASeekDrawsTheFrameTheStepsDraw) {
    for (int32_t type : {70,  71,  72,  73,  74,  75,  76,  77,  78,  79,  80,  81,  118, 119, 128, 129, 130, 131,
                         101, 102, 103, 104, 111, 112, 120, 121, 122, 123, 124, 125, 126, 127, 84,  85,  86,  87}) {
        for (int32_t speed : {3, 7}) {
            SCOPED_TRACE("type " + std::to_string(type) + " speed " + std::to_string(speed));
            Start(type, 23, 17, speed, 0x00FF00);
            const auto frames = All();
            ASSERT_EQ(int32_t(frames.size()), s_.frameCount);
            for (int32_t n = int32_t(frames.size()); n >= 1; n -= 2) {
                FillBitmapRect(screen_.get(), 0, 0, 23, 17, 0x123456);
                ASSERT_EQ(Seek(n), 0);
                ASSERT_TRUE(Screen() == frames[n - 1]) << "seek to " << n;
            }
        }
    }
    Start(77, 20, 10, 3);
    for (int i = 0; i < 2; ++i) Step();
    ASSERT_EQ(Seek(0), 0);
    EXPECT_TRUE(Whole(Old)) << "frame 0 of a close gate is the old picture";
}

TEST_F(MovingRenderer, PushLeftEndsWithTheNewPictureInPlace) {
    Start(78, 10, 4, 3);  // 3 does not divide 10
    EXPECT_EQ(s_.frameCount, 4);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Step(), 0);
    for (int32_t x = 0; x < 10; ++x) EXPECT_EQ(At(x, 0), x < 9 ? New(x + 1, 0) : Old(0, 0)) << x;
    EXPECT_EQ(Step(), 1);
    EXPECT_TRUE(Whole(New));
}

TEST_F(MovingRenderer, AZoomChangesPicturesAtOnePixel) {
    Start(118, 20, 10, 5, 0x00FF00);  // ZOOMIN, M = 20: the fourth frame is the middle
    for (int i = 0; i < 3; ++i) Step();
    Step();
    for (int32_t y = 0; y < 10; ++y)
        for (int32_t x = 0; x < 20; ++x)
            if (x == 9 && y == 4) EXPECT_EQ(At(x, y) & 0xC00000u, 0x400000u) << "the old picture, 1 x 1";
            else EXPECT_EQ(At(x, y), 0x00FF00u) << x << "," << y;
    Step();
    EXPECT_EQ(At(9, 4) & 0xC00000u, 0x800000u) << "the new picture grows";
    EXPECT_EQ(At(0, 0), 0x00FF00u);

    Start(119, 20, 10, 5);  // ZOOMOUT: the middle magnifies one pixel of the old picture
    for (int i = 0; i < 4; ++i) Step();
    const uint32_t middle = At(0, 0);
    EXPECT_EQ(middle & 0xC00000u, 0x400000u);
    EXPECT_EQ(At(19, 9), middle);

    Start(118, 20, 10, 5);  // no parameter: black
    EXPECT_EQ(s_.parameter, 0);
    Step();
    EXPECT_EQ(At(0, 0), 0u);
}

TEST_F(MovingRenderer, TurnDownFoldsToTheMiddleAndUnrollsTheOddRow) {
    Start(128, 3, 10, 2);  // half 5: the second frame would pass it and stops on it
    Step();
    EXPECT_EQ(At(1, 9), Old(1, 9));
    Step();
    for (int32_t y = 0; y < 10; ++y) EXPECT_EQ(At(1, y), y < 5 ? New(1, y) : Old(1, y)) << y;

    Start(128, 3, 9, 1);  // half 4, the other half 5 rows, 3 of them at t = 7
    for (int i = 0; i < 7; ++i) Step();
    EXPECT_EQ(At(1, 4), New(1, 4));
    EXPECT_EQ(At(1, 5), New(1, 5));
    EXPECT_EQ(At(1, 6), New(1, 7)) << "scaled from 5 rows, not 4";
    EXPECT_EQ(At(1, 7), Old(1, 7));

    Start(129, 3, 9, 1);  // TURNDOWNBOTTOM mirrors it
    for (int i = 0; i < 7; ++i) Step();
    EXPECT_EQ(At(1, 5), New(1, 5));
    EXPECT_EQ(At(1, 4), New(1, 3));
    EXPECT_EQ(At(1, 2), New(1, 0));
    EXPECT_EQ(At(1, 1), Old(1, 1));
}

TEST_F(MovingRenderer, AFailedScaleEndsTheFrameWithItsCode) {
    Start(128, 4, 10, 1);
    background_.reset(AllocBitmap(2, 2, 0, nullptr));
    s_.background = background_.get();
    int done = 0;
    EXPECT_EQ(s_.renderer(&s_, &done), ERR_COORDSRANGE);
    EXPECT_EQ(s_.frame, 0);
    Start(119, 4, 10, 1);
    image_.reset(AllocBitmap(2, 2, 0, nullptr));
    s_.image = image_.get();
    for (int i = 0; i < 20 && !done; ++i) {
        const int err = s_.renderer(&s_, &done);
        if (err) {
            EXPECT_EQ(err, ERR_COORDSRANGE);
            break;
        }
    }
    EXPECT_EQ(done, 0);
}

TEST_F(MovingRenderer, FlowsCapTheirStepAndLeaveTheOldPictureAloneWithoutPlanes) {
    for (int32_t type : {70, 71, 72, 73}) {
        Start(type, 200, 200, 100);
        EXPECT_EQ(s_.speed, 30) << type;
    }
    // Without mask and alpha the old picture is never read.
    Start(70, 8, 20, 3);
    s_.background = nullptr;
    const auto frames = All();
    EXPECT_EQ(int32_t(frames.size()), s_.frameCount);
    EXPECT_TRUE(Whole(New));
    // With a mask its transparent pixels show the old picture.
    Start(70, 8, 20, 3);
    BitmapPtr mask(AllocMask(nullptr, 8, 20, true, nullptr, 0));
    FillMaskRect(mask.get(), 0, 0, 4, 20, kMaskVisible);
    s_.mask = mask.get();
    All();
    EXPECT_EQ(At(1, 19), New(1, 19));
    EXPECT_EQ(At(6, 19), Old(6, 19));
    s_.mask = nullptr;
}

// Each flow on a picture wider than tall and on one taller than wide: a
// showing flow's first frame puts the new picture's own line at the edge
// it settles from and smears another line to the far edge; a hiding
// flow's first frame smears a line to the far edge and leaves its own edge
// as it was.
TEST_F(MovingRenderer, EveryFlowSettlesFromItsOwnEdge) {
    struct Flow {
        int32_t type;
        bool columns, fromEnd;
    };
    for (const Flow& f : {Flow{70, false, false}, Flow{71, false, true}, Flow{72, true, false}, Flow{73, true, true}})
        for (auto [w, h] : {std::pair{11, 7}, std::pair{7, 11}})
            for (int32_t hide : {0, 1}) {
                SCOPED_TRACE(testing::Message() << "type " << f.type << " " << w << "x" << h << " hide " << hide);
                Start(f.type, w, h, 2, kRandomParameter, hide);
                Step();
                const int32_t size = f.columns ? w : h, across = f.columns ? h : w;
                const int32_t own = f.fromEnd ? size - 1 : 0, far = size - 1 - own;
                const auto at = [&](int32_t line, int32_t i) { return f.columns ? At(line, i) : At(i, line); };
                const auto place = [&](int32_t line, int32_t i) {
                    return f.columns ? std::pair{line, i} : std::pair{i, line};
                };
                for (int32_t i = 0; i < across; ++i) {
                    const auto [ox, oy] = place(own, i);
                    const auto [fx, fy] = place(far, i);
                    EXPECT_EQ(at(own, i), hide ? Old(ox, oy) : New(ox, oy)) << "own edge " << i;
                    EXPECT_NE(at(far, i), New(fx, fy)) << "far edge " << i;
                    EXPECT_NE(at(far, i), Old(fx, fy)) << "far edge " << i;
                }
                All();
                EXPECT_TRUE(Whole(hide ? Old : New)) << "the last frame";
            }
}

// Whole effects through the commands.
class MovingEffects : public TransitionWorld {
protected:
    void SetUp() override {
        TransitionWorld::SetUp();
        ShowColourBGPic(3, 0x0000FF);
        MakeBrush(1, 20, 10, 0x00FF00);
        SetMoveStepObserver(&OnStep, this);
    }
    void TearDown() override {
        SetMoveStepObserver(nullptr, nullptr);
        TransitionWorld::TearDown();
    }
    static void OnStep(const qbMove& m, void* data) {
        static_cast<MovingEffects*>(data)->path_.push_back({m.x, m.y});
    }
    struct Point {
        int32_t x, y;
    };
    std::vector<Point> path_;
};

TEST_F(MovingEffects, ScrollNorthEastComesFromBeyondTheCornerAndHidesBackThere) {
    ASSERT_EQ(RunNumbers("DisplayBrushFX", {1, 30, 40, 51, 5}), 0);
    ASSERT_GE(path_.size(), 2u);
    EXPECT_GE(path_.front().x, 100 - 5);
    EXPECT_LE(path_.front().y, -10 + 5);
    EXPECT_EQ(path_.back().x, 30);
    EXPECT_EQ(path_.back().y, 40);
    EXPECT_EQ(Real(35, 45), 0x00FF00u);
    EXPECT_EQ(Real(95, 5), 0x0000FFu);

    ShowColourBGPic(4, 0x0000FF);
    EnableLayers();
    ASSERT_EQ(RunNumbers("DisplayBrush", {1, 30, 40}), 0);
    path_.clear();
    ASSERT_EQ(RunNumbers("HideLayerFX", {1, 51, 5}), 0);
    ASSERT_GE(path_.size(), 2u);
    EXPECT_LE(path_.front().x, 30 + 5);
    EXPECT_EQ(path_.back().x, 100);
    EXPECT_EQ(path_.back().y, -10);
    EXPECT_EQ(Real(35, 45), 0x0000FFu);
    qbLayer* layer = GetLayerByIndex(display_->bgpic, 1);
    EXPECT_EQ(layer->basestate->x, 30) << "back at its start";
    EXPECT_EQ(layer->hidden, 1);
}

TEST_F(MovingEffects, AScrollNeverRunsInRealTime) {
    EnableLayers();
    int32_t realtime = -1;
    onFrame_ = [&](const qbEffectState& s) { realtime = s.realtime; };
    ASSERT_EQ(Show("DisplayBrushFX", {1, 30, 40}, [&] {
                  Field("type", 48);
                  Field("forcerealtimelayers", 1);
              }),
              0);
    EXPECT_EQ(realtime, 0);
    onFrame_ = nullptr;
}

TEST_F(MovingEffects, AStoppedLayerScrollGoesBackUnseenAFinishedOneSeen) {
    EnableLayers();
    ASSERT_EQ(RunNumbers("DisplayBrush", {1, 30, 40}), 0);
    qbLayer* layer = GetLayerByIndex(display_->bgpic, 1);
    for (int normalEnd : {0, 1}) {
        qbEffectState s;
        s.script = L_;
        s.objectType = kEffectHideLayer;
        s.id = ObjectID{1, nullptr};
        s.type = 47;
        s.speed = 10;
        s.reverse = 1;
        ASSERT_EQ(StartEffect(&s, display_), 0);
        EXPECT_EQ(s.scrollX, 30);
        int done = 0;
        for (int i = 0; i < 2; ++i) ASSERT_EQ(s.renderer(&s, &done), 0);
        EXPECT_EQ(layer->basestate->x, 10);
        const Picture moved = Snapshot();
        s.cleanup(&s, normalEnd);
        s.cleanup = nullptr;
        EXPECT_EQ(layer->basestate->x, 30);
        EXPECT_EQ(Snapshot() == moved, normalEnd == 0) << normalEnd;
        FreeEffectState(&s, 1);
    }
}

TEST_F(MovingEffects, AScrolledLayerReplacedMidwayMovesOnInItsSuccessor) {
    EnableLayers();
    ASSERT_EQ(RunNumbers("DisplayBrush", {1, 30, 40}), 0);
    ASSERT_EQ(RunNumbers("DisplayBrush", {1, 30, 40}), 0);
    qbLayer* first = GetLayerByIndex(display_->bgpic, 1);
    qbLayer* second = GetLayerByIndex(display_->bgpic, 2);
    second->hidden = 1;
    first->hidden = 1;
    VmPushNumber(L_, 1);
    VmPushNewTable(L_);
    Field("type", 47);
    Field("speed", 10);
    Field("async", 1);
    ASSERT_EQ(Run("ShowLayerFX", 2, 1), 0);
    qbAsyncDraw* r = nullptr;
    ASSERT_EQ(FindAsyncDraw(ObjectID{0, VmToUserdata(L_, -1)}, &r), 0);
    VmSetTop(L_, 0);
    ASSERT_EQ(r->callbacks.drawFrame(r->userdata, &r->done), 0);
    const int32_t at = first->basestate->x;
    qbAsyncLayerReplacement change{first, second};
    QueryAsyncDraw(r, kAsyncQueryLayerReplaced, &change);
    ASSERT_EQ(r->callbacks.drawFrame(r->userdata, &r->done), 0);
    EXPECT_EQ(first->basestate->x, at);
    EXPECT_EQ(second->basestate->x, at + 10);
    RemoveAsyncDraw(L_, r, 0);
}

TEST_F(MovingEffects, GatesPushZoomAndTurnDownRunStripesOnABrush) {
    for (int32_t type : {74, 77, 78, 81, 118, 119, 128, 131}) {
        int32_t ran = -1;
        onFrame_ = [&](const qbEffectState& s) { ran = s.type; };
        ASSERT_EQ(RunNumbers("DisplayBrushFX", {1, 10, 10, double(type), 5}), 0);
        EXPECT_EQ(ran, 0) << type;
    }
    onFrame_ = nullptr;
}

// A layer shown like a BGPic ("bgpicemu"): the BGPic-only families run on
// it, stepped by the script.
class PictureLayer : public TransitionWorld {
protected:
    void SetUp() override {
        TransitionWorld::SetUp();
        ShowColourBGPic(3, 0x0000FF);
        ASSERT_EQ(RunNumbers("CreateBGPic", {2, kW, kH, 0xFF0000}), 0);
        EnableLayers();
        // A layer standing for a BGPic covers the screen from its corner.
        MakeBrush(1, 40, 30, 0x00FF00);
        ASSERT_EQ(RunNumbers("DisplayBrush", {1, 0, 0}), 0);
        GetLayerByIndex(display_->bgpic, 1)->hidden = 1;
        RefreshLayerRect(L_, 0, 0, kW, kH, 0);
    }
    void* Start(int32_t type, int32_t speed, int32_t layer = 1) {
        VmPushNumber(L_, layer);
        VmPushNewTable(L_);
        Field("type", type);
        Field("speed", speed);
        Field("async", 1);
        Field("bgpicemu", 1);
        Field("bgpic", 2);
        const int err = Run("ShowLayerFX", 2, 1);
        EXPECT_EQ(err, 0);
        void* handle = err ? nullptr : VmToUserdata(L_, -1);
        VmSetTop(L_, 0);
        return handle;
    }
    double Step(void* handle, int32_t n = 0) {
        VmPushLightUserdata(L_, handle);
        if (n) VmPushNumber(L_, n);
        const int err = Run("AsyncDrawFrame", n ? 2 : 1, 1);
        const double v = err ? -err : VmToNumber(L_, -1);
        VmSetTop(L_, 0);
        return v;
    }
};

TEST_F(PictureLayer, JumpsDrawWhatTheStepsDraw) {
    for (int32_t type :
         {70, 73, 74, 75, 76, 77, 78, 81, 118, 119, 128, 131, 55, 61, 99, 101, 104, 111, 112, 120, 123, 124, 127}) {
        SCOPED_TRACE("type " + std::to_string(type));
        void* id = Start(type, 7);
        ASSERT_NE(id, nullptr);
        std::vector<Picture> steps;
        for (int i = 0; i < 1000 && Step(id) == 0; ++i) steps.push_back(Snapshot());
        ASSERT_FALSE(steps.empty());
        GetLayerByIndex(display_->bgpic, 1)->hidden = 1;
        RefreshLayerRect(L_, 0, 0, kW, kH, 0);
        id = Start(type, 7);
        const int32_t count = int32_t(steps.size());
        for (int32_t n : {count, 1, count / 2 + 1, 2, count}) {
            if (n < 1 || n > count) continue;
            ASSERT_GE(Step(id, n), 0);
            const Picture got = Snapshot();
            size_t wrong = 0, first = 0;
            for (size_t i = 0; i < got.size(); ++i)
                if (got[i] != steps[n - 1][i] && !wrong++) first = i;
            ASSERT_EQ(wrong, 0u) << "jump to " << n << ", first at " << first % kW << "," << first / kW << ": "
                                 << std::hex << got[first] << " not " << steps[n - 1][first];
        }
        while (Step(id) == 0) {
        }
        GetLayerByIndex(display_->bgpic, 1)->hidden = 1;
        RefreshLayerRect(L_, 0, 0, kW, kH, 0);
    }
}

TEST_F(PictureLayer, ACloseGateRedrawsTheOldMiddleOnceTheBGPicChanged) {
    // The old picture: a yellow layer under the effect's layer.
    MakeBrush(5, 40, 30, 0xFFFF00);
    ASSERT_EQ(RunNumbers("DisplayBrush", {5, 0, 0}), 0);
    ASSERT_EQ(RunNumbers("SwapLayers", {1, 2}), 0);
    qbLayer* below = GetLayerByIndex(display_->bgpic, 1);
    ASSERT_EQ(below->type, kLayerBrush);
    RefreshLayerRect(L_, 0, 0, kW, kH, 0);
    ASSERT_EQ(Real(20, 10), 0xFFFF00u);
    void* id = Start(77, 4, 2);
    ASSERT_NE(id, nullptr);
    ASSERT_EQ(Step(id), 0);
    EXPECT_EQ(Real(20, 10), 0xFFFF00u);
    // What lies under the layer changes and waits for its redraw.
    below->hidden = 1;
    display_->bgpic->layersDirty = 1;
    ASSERT_EQ(Step(id), 0);
    EXPECT_EQ(Real(20, 10), 0x0000FFu) << "the old middle drawn again";
    EXPECT_EQ(Real(1, 10), 0x00FF00u);
    while (Step(id) == 0) {
    }
}

}  // namespace

// A script's speed is a step in pixels and may be any number: the largest
// ends every effect in a few frames on the picture its normal speed ends on,
// without positions wrapping on the way.
TEST_F(MovingRenderer, TheLargestSpeedEndsEveryEffectAsItsNormalSpeedDoes) {
    for (int32_t type = 0; type < 140; ++type) {
        if (!RendererForType(type)) continue;
        Start(type, 64, 48, kNormalSpeed, 0);
        const std::vector<uint32_t> normal = All().back();
        Start(type, 64, 48, std::numeric_limits<int32_t>::max(), 0);
        const std::vector<std::vector<uint32_t>> frames = All();
        EXPECT_LE(frames.size(), 200u) << type;
        EXPECT_EQ(frames.back(), normal) << type;
    }
}
