// Effects the script steps: the async-draw object a command returns, its
// stepping, jumps, queries, ends, refusals and rebuilds, and transitions
// played inside a layer ("bgpicemu").
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <utility>
#include <vector>

#include "core/objectlist.h"
#include "display/output.h"
#include "draw/asyncdraw.h"
#include "imaging/bitmap.h"
#include "objects/brushes.h"
#include "objects/dirtyrects.h"
#include "objects/layers.h"
#include "transition_fixture.h"
#include "transitions/effectasync.h"
#include "transitions/effectvideo.h"

namespace {

constexpr uint32_t kBlue = 0x0000FF, kRed = 0xFF0000, kGreen = 0x00FF00;

class AsyncEffects : public TransitionWorld {
protected:
    void SetUp() override {
        TransitionWorld::SetUp();
        ShowColourBGPic(3, kBlue);
        EnableLayers();
        MakeBrush(1, 40, 30, kGreen);
    }
    // The command with an option table of type, speed and async; the
    // object's handle, or null with *err set.
    void* Start(const char* command, std::initializer_list<double> args, int32_t type, int* err = nullptr,
                std::function<void()> more = {}) {
        for (double a : args) VmPushNumber(L_, a);
        VmPushNewTable(L_);
        Field("type", type);
        Field("speed", 7);
        Field("async", 1);
        if (more) more();
        const int e = Run(command, static_cast<int>(args.size()) + 1, 1);
        if (err) *err = e;
        void* handle = e ? nullptr : VmToUserdata(L_, -1);
        VmSetTop(L_, 0);
        return handle;
    }
    // AsyncDrawFrame(handle [, n]): the result, or -error.
    double Step(void* handle, int32_t n = 0) {
        VmPushLightUserdata(L_, handle);
        if (n) VmPushNumber(L_, n);
        const int err = Run("AsyncDrawFrame", n ? 2 : 1, 1);
        const double v = err ? -err : VmToNumber(L_, -1);
        VmSetTop(L_, 0);
        return v;
    }
    int Call(const char* command, void* handle) {
        VmPushLightUserdata(L_, handle);
        return Run(command, 1);
    }
    qbAsyncDraw* Record(void* handle) {
        qbAsyncDraw* r = nullptr;
        return FindAsyncDraw(ObjectID{0, handle}, &r) ? nullptr : r;
    }
    qbEffectState* State(void* handle) { return static_cast<qbEffectState*>(Record(handle)->userdata); }
    int32_t Query(void* handle, int32_t code) { return QueryAsyncDraw(Record(handle), code, nullptr); }
    qbLayer* Layer(int32_t n) { return GetLayerByIndex(display_->bgpic, n); }
};

TEST_F(AsyncEffects, StepsUntilTheCallAfterTheLastFrameEndsIt) {
    void* id = Start("DisplayBrushFX", {1, 10, 10}, 14);
    ASSERT_NE(id, nullptr);
    const int32_t count = Query(id, kAsyncQueryFrameCount);
    ASSERT_GT(count, 1);
    EXPECT_EQ(Query(id, kAsyncQueryCurrentFrame), 0);
    EXPECT_EQ(Real(20, 20), kBlue) << "the start drew";
    int32_t calls = 0;
    double result = 0;
    while ((result = Step(id)) == 0) {
        ++calls;
        if (Record(id)) {
            EXPECT_EQ(Query(id, kAsyncQueryCurrentFrame), calls);
        }
        ASSERT_LE(calls, count);
    }
    EXPECT_EQ(result, 1);
    EXPECT_EQ(calls, count);
    EXPECT_EQ(Record(id), nullptr);
    EXPECT_EQ(Real(10, 10), kGreen);
    EXPECT_EQ(Real(49, 39), kGreen);
    EXPECT_EQ(Real(50, 40), kBlue);
    EXPECT_EQ(Layer(1)->hidden, 0);
    EXPECT_EQ(Step(id), -ERR_FINDARRAY);
}

TEST_F(AsyncEffects, FinishDrawsTheRestAndCancelLeavesAShownLayerHidden) {
    void* id = Start("DisplayBrushFX", {1, 10, 10}, 0);
    ASSERT_EQ(Step(id), 0);
    ASSERT_EQ(Call("FinishAsyncDraw", id), 0);
    EXPECT_EQ(Record(id), nullptr);
    EXPECT_EQ(Real(10, 10), kGreen);
    EXPECT_EQ(Real(49, 39), kGreen);

    MakeBrush(2, 20, 20, kRed);
    ASSERT_EQ(RunNumbers("DisplayBrush", {2, 60, 50}), 0);
    Layer(2)->hidden = 1;
    RefreshLayerRect(L_, 0, 0, kW, kH, 0);
    id = Start("ShowLayerFX", {2}, 7);
    ASSERT_EQ(Step(id), 0);
    ASSERT_EQ(Step(id), 0);
    ASSERT_EQ(Call("CancelAsyncDraw", id), 0);
    EXPECT_EQ(Record(id), nullptr);
    EXPECT_EQ(Layer(2)->hidden, 1);
    EXPECT_EQ(Real(60, 50), kBlue);
    EXPECT_EQ(Real(79, 69), kBlue);
}

TEST_F(AsyncEffects, RefusalsWhileItRuns) {
    void* id = Start("DisplayBrushFX", {1, 10, 10}, 3);
    ASSERT_EQ(Step(id), 0);
    int err = 0;
    EXPECT_EQ(Start("HideLayerFX", {1}, 3, &err), nullptr);
    EXPECT_EQ(err, ERR_ALREADYASYNC);
    EXPECT_EQ(Run("DisableLayers", 0), ERR_LAYERSWITCH);
    EXPECT_EQ(RunNumbers("Undo", {double(kObjectTypeBrush), 1}), ERR_REMADLAYER);
    EXPECT_EQ(Layer(1)->type, kObjectTypeBrush);
    EXPECT_EQ(CheckAsyncDrawsBusy(), 0);
    int32_t refusal = -1;
    QueryAsyncDraw(Record(id), kAsyncQueryBusy, &refusal);
    EXPECT_EQ(refusal, -1) << "query 7 wrote a refusal";
    void* shown = nullptr;
    QueryAsyncDraw(Record(id), kAsyncQueryShowingLayer, &shown);
    EXPECT_EQ(shown, Layer(1));
    // DisplayTransitionFX and ClearScreen stay synchronous.
    ASSERT_EQ(RunNumbers("CreateBGPic", {2, kW, kH, double(kRed)}), 0);
    EXPECT_EQ(Start("DisplayTransitionFX", {2}, 3, &err), nullptr);
    EXPECT_EQ(err, ERR_WRONGUSAGE);
    // An effect left running goes with the display (LSan watches).
    FreeAllDisplays(L_);
    EXPECT_EQ(AsyncDrawListHead()->head, nullptr);
}

TEST_F(AsyncEffects, IntoASelectedBGPicTheFrameWaitsInTheDirtyList) {
    void* id = Start("DisplayBrushFX", {1, 10, 10}, 0);
    ASSERT_EQ(RunNumbers("SelectBGPic", {3}), 0);
    display_->dirtyRects.Reset();
    ASSERT_EQ(Step(id), 0);
    EXPECT_EQ(Real(10, 10), kBlue) << "a frame into layers refreshed";
    EXPECT_EQ(State(id)->replaying, 0);
    EXPECT_GT(display_->dirtyRects.count + (display_->dirtyRects.overflowed ? 1 : 0), 0);
    ASSERT_EQ(Run("EndSelect", 0), 0);
    ASSERT_EQ(Call("FinishAsyncDraw", id), 0);
}

TEST_F(AsyncEffects, ALayerEffectStartsIntoTheSelectedBGPicOnTheDisplayOnly) {
    ASSERT_EQ(RunNumbers("DisplayBrush", {1, 10, 10}), 0);
    Layer(1)->hidden = 1;
    RefreshLayerRect(L_, 0, 0, kW, kH, 0);
    // Another BGPic selected: refused, and the selection stays.
    ASSERT_EQ(RunNumbers("CreateBGPic", {4, 20, 20, double(kRed)}), 0);
    ASSERT_EQ(RunNumbers("SelectBGPic", {4}), 0);
    int err = 0;
    EXPECT_EQ(Start("ShowLayerFX", {1}, 19, &err), nullptr);
    EXPECT_EQ(err, ERR_SELECTBG);
    EXPECT_EQ(display_->output.type, kOutputBGPic);
    ASSERT_EQ(Run("EndSelect", 0), 0);
    // A synchronous one would draw on screen: refused as before.
    ASSERT_EQ(RunNumbers("SelectBGPic", {3}), 0);
    EXPECT_EQ(Show("ShowLayerFX", {1}, [&] { Field("type", 19); }), ERR_SELECTBG);
    // The shown BGPic: the effect starts and its frames wait unseen.
    display_->dirtyRects.Reset();
    void* id = Start("ShowLayerFX", {1}, 19, &err);
    ASSERT_NE(id, nullptr) << err;
    EXPECT_EQ(display_->output.type, kOutputBGPic) << "the selection was ended";
    ASSERT_EQ(Step(id), 0);
    ASSERT_EQ(Step(id), 0);
    EXPECT_EQ(Real(10, 10), kBlue) << "a frame into the selected BGPic reached the window";
    EXPECT_GT(display_->dirtyRects.count + (display_->dirtyRects.overflowed ? 1 : 0), 0);
    ASSERT_EQ(Run("EndSelect", 0), 0);
    ASSERT_EQ(Call("FinishAsyncDraw", id), 0);
    EXPECT_EQ(Real(10, 10), kGreen);
}

// A stand-in for the video library: layer 1's object plays.
int PlayingVideo(ScriptState*, ObjectID, qbEffectVideo* out, uint32_t) {
    out->state = kVideoStatePlaying;
    return 0;
}

TEST_F(AsyncEffects, APlayingVideoLayerIsSteppedThroughAnAsyncObject) {
    ASSERT_EQ(RunNumbers("DisplayBrush", {1, 10, 10}), 0);
    qbLayer* layer = Layer(1);
    layer->hidden = 1;
    qbBrush* brush = nullptr;
    ASSERT_EQ(GetBrushRecord(L_, ObjectID{1, nullptr}, &brush, 0), 0);
    // The layer passes for a video layer whose frame is the brush.
    const int32_t type = layer->type;
    layer->type = kLayerVideo;
    layer->shownstate->bitmap = brush->bitmap;
    const auto run = [&] {
        frames_ = 0;
        layer->hidden = 1;
        EXPECT_EQ(Show("ShowLayerFX", {1}, [&] { Field("type", 19); }), 0);
        EXPECT_EQ(AsyncDrawListHead()->head, nullptr);
        EXPECT_EQ(Real(10, 10), kGreen);
        EXPECT_EQ(layer->hidden, 0);
    };
    run();
    EXPECT_GT(frames_, 0) << "without a lookup the effect runs in the command's loop";
    SetEffectVideoLookup(&PlayingVideo);
    run();
    SetEffectVideoLookup(nullptr);
    EXPECT_EQ(frames_, 0) << "the frames went through the async-draw object";
    layer->shownstate->bitmap = nullptr;
    layer->type = type;
}

TEST_F(AsyncEffects, AChangedPictureSizeRebuildsAtTheSameShare) {
    void* id = Start("DisplayBrushFX", {1, 10, 10}, 0);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(Step(id), 0);
    const int32_t oldCount = Query(id, kAsyncQueryFrameCount);
    qbLayer* layer = Layer(1);
    // Unchanged size: the same frame.
    NotifyAsyncDraws(kAsyncQueryImageChanged, layer);
    EXPECT_EQ(Query(id, kAsyncQueryCurrentFrame), 3);
    EXPECT_EQ(Query(id, kAsyncQueryFrameCount), oldCount);
    layer->shownstate->shownwidth = 20;
    layer->shownstate->shownheight = 15;
    NotifyAsyncDraws(kAsyncQueryImageChanged, layer);
    const int32_t newCount = Query(id, kAsyncQueryFrameCount);
    EXPECT_NE(newCount, oldCount);
    const int32_t expected = std::clamp(static_cast<int32_t>(std::lround(double(newCount) * 3 / oldCount)), 1, newCount);
    EXPECT_EQ(Query(id, kAsyncQueryCurrentFrame), expected);
    EXPECT_EQ(State(id)->width, 20);
    EXPECT_EQ(State(id)->rebuilding, 0);
    double r = 0;
    for (int i = 0; i < 100 && (r = Step(id)) == 0; ++i) {
    }
    EXPECT_EQ(r, 1);
    EXPECT_EQ(Real(29, 24), kGreen);
}

TEST_F(AsyncEffects, AReplacingLayerTakesTheEffectAndItsImages) {
    void* id = Start("DisplayBrushFX", {1, 10, 10}, 0);
    ASSERT_EQ(Step(id), 0);
    ASSERT_EQ(RunNumbers("DisplayBrush", {1, 10, 10}), 0);
    qbLayer* old = Layer(1);
    qbLayer* next = Layer(2);
    qbBitmap* nextOwn = next->shownstate->bitmap;
    qbBitmap* images = old->shownstate->bitmap;
    qbAsyncLayerReplacement change{old, next};
    NotifyAsyncDraws(kAsyncQueryLayerReplaced, &change);
    EXPECT_EQ(State(id)->layer, next);
    EXPECT_EQ(next->shownstate->bitmap, images);
    EXPECT_NE(old->shownstate->bitmap, images);
    EXPECT_EQ(Query(id, kAsyncQueryCurrentFrame), 1);
    ASSERT_EQ(Call("FinishAsyncDraw", id), 0);
    EXPECT_EQ(next->shownstate->bitmap, nextOwn);
}

// A replacing layer of another size: the effect moves to it and starts its
// images over at the new size, at the share it had reached.
TEST_F(AsyncEffects, AReplacingLayerOfAnotherSizeRebuildsOnIt) {
    void* id = Start("DisplayBrushFX", {1, 10, 10}, 0);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(Step(id), 0);
    const int32_t oldCount = Query(id, kAsyncQueryFrameCount);
    ASSERT_EQ(RunNumbers("DisplayBrush", {1, 10, 10}), 0);
    qbLayer* old = Layer(1);
    qbLayer* next = Layer(2);
    next->shownstate->shownwidth = 20;
    next->shownstate->shownheight = 15;
    qbAsyncLayerReplacement change{old, next};
    NotifyAsyncDraws(kAsyncQueryLayerReplaced, &change);
    EXPECT_EQ(State(id)->layer, next);
    EXPECT_EQ(State(id)->width, 20);
    EXPECT_EQ(State(id)->height, 15);
    const int32_t newCount = Query(id, kAsyncQueryFrameCount);
    EXPECT_NE(newCount, oldCount);
    const int32_t expected = std::clamp(static_cast<int32_t>(std::lround(double(newCount) * 3 / oldCount)), 1, newCount);
    EXPECT_EQ(Query(id, kAsyncQueryCurrentFrame), expected);
    double r = 0;
    for (int i = 0; i < 100 && (r = Step(id)) == 0; ++i) {
    }
    EXPECT_EQ(r, 1);
    EXPECT_EQ(Real(29, 24), kGreen);
}

TEST_F(AsyncEffects, StepSyncRunsTheObjectToItsEndInTheCommand) {
    qbEffectState s;
    s.script = L_;
    s.objectType = kEffectBrush;
    s.id = ObjectID{1, nullptr};
    s.x = 5, s.y = 5;
    s.type = 14;
    s.speed = 5;
    s.async = s.stepSync = 1;
    EXPECT_EQ(RunTransitionFX(s), 0);
    EXPECT_EQ(AsyncDrawListHead()->head, nullptr);
    EXPECT_EQ(Real(5, 5), kGreen);
    EXPECT_EQ(Real(44, 34), kGreen);
}

// A jump back starts the layer's effect images over across the whole
// picture: shown and hidden, with and without an alpha channel, wider
// than tall and taller than wide.
TEST_F(AsyncEffects, AJumpBackShowsTheFrameAsFirstDrawn) {
    const auto slow = [&] { Field("speed", 2); };
    for (auto [w, h] : {std::pair{60, 24}, std::pair{24, 60}})
        for (bool alpha : {false, true})
            for (bool hide : {false, true})
                for (int32_t type : {0, 24, 38, 139}) {
                    SCOPED_TRACE(testing::Message() << w << "x" << h << " alpha " << alpha << " hide " << hide
                                                    << " type " << type);
                    while (CountLayers(display_->bgpic) > 0) ASSERT_EQ(RunNumbers("RemoveLayer", {1}), 0);
                    MakeBrush(1, w, h, kGreen);
                    if (alpha) {
                        qbBrush* b = nullptr;
                        ASSERT_EQ(GetBrushRecord(L_, ObjectID{1, nullptr}, &b, 0), 0);
                        b->alpha = AllocAlphaChannel(w, h, true, nullptr, 0);
                        FillAlphaRect(b->alpha, 0, 0, w, h, 255);
                    }
                    if (hide) {
                        ASSERT_EQ(RunNumbers("DisplayBrush", {1, 10, 10}), 0);
                    }
                    void* id = hide ? Start("HideLayerFX", {1}, type, nullptr, slow)
                                    : Start("DisplayBrushFX", {1, 10, 10}, type, nullptr, slow);
                    ASSERT_NE(id, nullptr);
                    const int32_t count = Query(id, kAsyncQueryFrameCount);
                    ASSERT_GE(count, 4);
                    std::vector<Picture> first;
                    for (int32_t n = 1; n < count; ++n) {
                        ASSERT_EQ(Step(id), 0);
                        first.push_back(Snapshot());
                    }
                    ASSERT_NE(first.front(), first.back()) << "the frames differ";
                    ASSERT_EQ(Step(id, 1), 0);
                    EXPECT_TRUE(Snapshot() == first[0]) << "frame 1 again";
                    ASSERT_EQ(Step(id), 0);
                    EXPECT_TRUE(Snapshot() == first[1]) << "frame 2 after the jump";
                    ASSERT_EQ(Call("CancelAsyncDraw", id), 0);
                }
}

// An effect's first state on a layer wider than tall and on one taller
// than wide, at distinct offsets, with a mask, an alpha channel or
// neither, through the layer's alpha plane (a blend) and its mask (a
// wipe): a redraw before the first frame shows a hiding layer exactly as
// it was shown and a showing one not at all, and a jump back after two
// frames shows the first frame again.
TEST_F(AsyncEffects, BeforeItsFirstFrameAnEffectShowsTheLayerAsItStarts) {
    constexpr int32_t kX = 13, kY = 21;
    auto visible = [](int32_t x, int32_t y) { return (x * 3 + y * 5) % 7 < 3 || x > 30; };
    for (auto [w, h] : {std::pair{37, 23}, std::pair{23, 37}})
        for (int planes : {0, 1, 2})
            for (int32_t type : {115, 0})
                for (bool hide : {true, false}) {
                    SCOPED_TRACE(testing::Message() << w << "x" << h << " planes " << planes << " type " << type
                                                    << " hide " << hide);
                    while (CountLayers(display_->bgpic) > 0) ASSERT_EQ(RunNumbers("RemoveLayer", {1}), 0);
                    MakeBrush(2, w, h, kRed);
                    qbBrush* b = nullptr;
                    ASSERT_EQ(GetBrushRecord(L_, ObjectID{2, nullptr}, &b, 0), 0);
                    if (planes == 1) {
                        b->mask = AllocMask(nullptr, w, h, true, nullptr, 0);
                        for (int32_t y = 0; y < h; ++y)
                            for (int32_t x = 0; x < w; ++x)
                                if (visible(x, y)) FillMaskRect(b->mask, x, y, 1, 1, kMaskVisible);
                    } else if (planes == 2) {
                        b->alpha = AllocAlphaChannel(w, h, true, nullptr, 0);
                        for (int32_t y = 0; y < h; ++y)
                            for (int32_t x = 0; x < w; ++x)
                                FillAlphaRect(b->alpha, x, y, 1, 1, visible(x, y) ? 255 : (x * 7 + y) % 3 * 60);
                    }
                    ASSERT_EQ(RunNumbers("DisplayBrush", {2, kX, kY}), 0);
                    const Picture shown = Snapshot();
                    if (!hide) {
                        ASSERT_EQ(RunNumbers("RemoveLayer", {1}), 0);
                        ASSERT_EQ(Snapshot(), Picture(size_t(kW) * kH, kBlue));
                    }
                    void* id = hide ? Start("HideLayerFX", {1}, type) : Start("DisplayBrushFX", {2, kX, kY}, type);
                    ASSERT_NE(id, nullptr);
                    RefreshLayerRect(L_, 0, 0, kW, kH, 0);
                    const Picture now = Snapshot();
                    int wrong = 0;
                    for (size_t i = 0; i < now.size(); ++i) wrong += now[i] != (hide ? shown[i] : kBlue);
                    EXPECT_EQ(wrong, 0);
                    ASSERT_EQ(Step(id), 0);
                    const Picture first = Snapshot();
                    ASSERT_EQ(Step(id), 0);
                    ASSERT_EQ(Step(id), 0);
                    ASSERT_EQ(Step(id, 1), 0);
                    EXPECT_TRUE(Snapshot() == first) << "frame 1 again";
                    ASSERT_EQ(Call("CancelAsyncDraw", id), 0);
                }
}

class EmulatedBGPic : public AsyncEffects {
protected:
    void SetUp() override {
        AsyncEffects::SetUp();
        ASSERT_EQ(RunNumbers("CreateBGPic", {5, 40, 30, double(kRed)}), 0);
        ASSERT_EQ(RunNumbers("DisplayBrush", {1, 10, 10}), 0);
        Layer(1)->hidden = 1;
        ASSERT_EQ(GetBrushRecord(L_, ObjectID{1, nullptr}, &brush_, 0), 0);
    }
    qbBrush* brush_ = nullptr;
    int ShowEmu(int32_t type, std::function<void()> fields, void** id = nullptr) {
        int err = 0;
        void* h = Start("ShowLayerFX", {1}, type, &err, [&] {
            Field("bgpicemu", 1);
            fields();
        });
        if (id) *id = h;
        return err;
    }
};

TEST_F(EmulatedBGPic, OptionsAndTheBGPicOnlyTypes) {
    EXPECT_EQ(ShowEmu(0, [] {}), ERR_MISSINGPARAMTR);
    EXPECT_EQ(ShowEmu(0, [&] { Field("bgpic", 77); }), ERR_FINDBGPIC);
    // PUSHLEFT stays itself in such a layer; elsewhere it becomes HSTRIPES.
    void* id = nullptr;
    ASSERT_EQ(ShowEmu(78, [&] { Field("bgpic", 5); }, &id), 0);
    EXPECT_EQ(State(id)->type, 78);
    while (Step(id) == 0) {
    }
    Layer(1)->hidden = 1;
    int32_t ran = -1;
    onFrame_ = [&](const qbEffectState& s) { ran = s.type; };
    EXPECT_EQ(Show("ShowLayerFX", {1}, [&] { Field("type", 78); }), 0);
    onFrame_ = nullptr;
    EXPECT_EQ(ran, 0);
    EXPECT_EQ(Layer(1)->hidden, 0);
}

TEST_F(EmulatedBGPic, PendingRedrawsAreRefreshedAndTheLayerSeeksBack) {
    qbBGPic* emu = nullptr;
    ASSERT_EQ(GetBGPic(L_, ObjectID{5, nullptr}, &emu, 0), 0);
    emu->layersDirty = 1;
    void* id = nullptr;
    ASSERT_EQ(ShowEmu(0, [&] { Field("bgpic", 5); }, &id), 0);
    EXPECT_EQ(emu->layersDirty, 0) << "the lookup clears the flag";
    qbEffectState* s = State(id);
    void* inUse = nullptr;
    QueryAsyncDraw(Record(id), kAsyncQueryBGPicInUse, &inUse);
    EXPECT_EQ(inUse, emu);
    ASSERT_EQ(Step(id), 0);
    ASSERT_EQ(Step(id), 0);
    EXPECT_EQ(RefreshEmulatedBGPic(s, 3), 0) << "nothing pending";
    emu->layersDirty = 1;
    display_->bgpic->layersDirty = 1;
    EXPECT_EQ(RefreshEmulatedBGPic(s, 2), 2);
    EXPECT_EQ(display_->bgpic->layersDirty, 1) << "not asked for";
    EXPECT_EQ(emu->layersDirty, 0);
    display_->bgpic->layersDirty = 0;
    emu->layersDirty = 1;
    ASSERT_EQ(Step(id), 0);
    EXPECT_EQ(emu->layersDirty, 0);
    EXPECT_EQ(Query(id, kAsyncQueryCurrentFrame), 3);
    // The emulated BGPic went into the effect's copy, not into the brush.
    EXPECT_NE(s->image, brush_->bitmap);
    EXPECT_EQ(ReadBitmapPixel(s->image, 5, 5, false), kRed);
    EXPECT_EQ(ReadBitmapPixel(brush_->bitmap, 5, 5, false), kGreen);
    ASSERT_EQ(Call("FinishAsyncDraw", id), 0);
    EXPECT_EQ(ReadBitmapPixel(brush_->bitmap, 5, 5, false), kGreen);
}

}  // namespace

// A fade whose layer is replaced by one of another size while its images
// cannot be made goes on without them, frame by frame, and ends.
TEST_F(AsyncEffects, AFadeWhoseReplacedLayerGotNoImagesStepsToItsEnd) {
    MakeBrush(2, 20, 15, kRed);
    for (const int32_t type : {115, 116, 117}) {
        SCOPED_TRACE(testing::Message() << "type " << type);
        void* id = Start("DisplayBrushFX", {1, 10, 10}, type);
        ASSERT_NE(id, nullptr);
        ASSERT_EQ(Step(id), 0);
        ASSERT_EQ(RunNumbers("DisplayBrush", {2, 10, 10}), 0);
        qbAsyncLayerReplacement change{Layer(1), Layer(2)};
        FailEffectAllocation(1);
        EXPECT_NE(NotifyAsyncDraws(kAsyncQueryLayerReplaced, &change), 0);
        FailEffectAllocation(0);
        double r = 0;
        for (int i = 0; i < 100 && (r = Step(id)) == 0; ++i) {
        }
        EXPECT_EQ(r, 1);
        ASSERT_EQ(Run("FreeLayers", 0), 0);
    }
}
