// Async-draw objects driven through AsyncDrawFrame, FinishAsyncDraw and
// CancelAsyncDraw with a scripted owner that counts what it was asked.
#include <deque>
#include <vector>

#include "core/objectlist.h"
#include "core/errcodes.h"
#include "display/displays.h"
#include "display/output.h"
#include "graphics_fixture.h"

namespace {

// An effect of `frames` frames whose owner records every callback.
struct Effect {
    int32_t frames = 3;
    int32_t current = 0;
    int drawn = 0;
    int finished = 0;
    int freed = 0;
    int32_t freeFlag = -1;
    int redraws = 0;
    int drawErr = 0;
    std::vector<int32_t> drawing;  // what each drawing query told

    static int Draw(void* u, int32_t* done) {
        auto* e = static_cast<Effect*>(u);
        if (e->drawErr) return e->drawErr;
        ++e->drawn;
        ++e->current;
        *done = e->current >= e->frames ? 1 : 0;
        return 0;
    }
    static void Finish(void* u, int32_t*) { ++static_cast<Effect*>(u)->finished; }
    static void Free(void* u, int32_t flag) {
        auto* e = static_cast<Effect*>(u);
        ++e->freed;
        e->freeFlag = flag;
    }
    static int32_t Query(int32_t code, void* data, void* u) {
        auto* e = static_cast<Effect*>(u);
        switch (code) {
        case kAsyncQueryFrameCount: return e->frames;
        case kAsyncQueryCurrentFrame: return e->current;
        case kAsyncQueryJump: e->current = *static_cast<int32_t*>(data); return 0;
        case kAsyncQueryRedraw: ++e->redraws; return 0;
        case kAsyncQueryDrawing: e->drawing.push_back(*static_cast<int32_t*>(data)); return 0;
        default: return 0;
        }
    }
};

class AsyncDrawTest : public GraphicsWorld {
protected:
    // Objects a test leaves are freed after its body, and their free
    // callbacks still write to their effects then.
    Effect& NewEffect() { return effects_.emplace_back(); }
    std::deque<Effect> effects_;

    qbAsyncDraw* Add(Effect* e) {
        qbAsyncDrawCallbacks cb;
        cb.drawFrame = &Effect::Draw;
        cb.finish = &Effect::Finish;
        cb.free = &Effect::Free;
        cb.query = &Effect::Query;
        qbAsyncDraw* r = nullptr;
        EXPECT_EQ(AddAsyncDraw(ADF_FX, cb, e, &r), 0);
        return r;
    }

    // AsyncDrawFrame(handle [, frame]): the error code, result in *out.
    int Frame(qbAsyncDraw* r, double* out, int frame = -1) {
        VmPushLightUserdata(L_, r->handle);
        if (frame >= 0) VmPushNumber(L_, frame);
        const int err = Run("AsyncDrawFrame", frame >= 0 ? 2 : 1, 1);
        if (!err && out) *out = VmToNumber(L_, -1);
        VmSetTop(L_, 0);
        return err;
    }
};

}  // namespace

TEST_F(AsyncDrawTest, FramesUntilDoneThenTheLastCallFreesWithoutDrawing) {
    OpenDisplayOne();
    Effect& e = NewEffect();
    qbAsyncDraw* r = Add(&e);
    double result = -1;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(Frame(r, &result), 0);
        EXPECT_EQ(result, 0);
    }
    EXPECT_EQ(e.drawn, 3);
    ASSERT_EQ(Frame(r, &result), 0);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(e.drawn, 3);
    EXPECT_EQ(e.finished, 1);
    EXPECT_EQ(e.freed, 1);
    EXPECT_EQ(e.freeFlag, 1);
    EXPECT_EQ(AsyncDrawListHead()->head, nullptr);
}

TEST_F(AsyncDrawTest, ChosenFramesNeedLayersAndTheCurrentFrameDrawsNothing) {
    qbDisplay* d = OpenDisplayOne();
    Effect& e = NewEffect();
    qbAsyncDraw* r = Add(&e);
    double result = -1;
    EXPECT_EQ(Frame(r, &result, 1), ERR_NOLAYERS);
    d->layersEnabled = 1;
    ASSERT_EQ(Frame(r, &result, 1), 0);  // current + 1: the next frame
    EXPECT_EQ(e.drawn, 1);
    ASSERT_EQ(Frame(r, &result, 1), 0);  // the current frame
    EXPECT_EQ(result, 0);
    EXPECT_EQ(e.drawn, 1);
    ASSERT_EQ(Frame(r, &result, 3), 0);  // a jump to the last frame
    EXPECT_EQ(result, 1);
    EXPECT_EQ(e.current, 3);
    EXPECT_EQ(e.redraws, 1);
    EXPECT_EQ(e.drawn, 1);
    EXPECT_EQ(Frame(r, &result, 4), 0);  // beyond the end once done: finished
    EXPECT_EQ(result, 1);
    EXPECT_EQ(e.freed, 1);
}

TEST_F(AsyncDrawTest, FrameZeroDrawsTheNextFrameFromTheStart) {
    qbDisplay* d = OpenDisplayOne();
    d->layersEnabled = 1;
    Effect& e = NewEffect();
    qbAsyncDraw* r = Add(&e);
    double result = -1;
    for (int i = 1; i <= 3; ++i) {
        ASSERT_EQ(Frame(r, &result, 0), 0);
        EXPECT_EQ(e.drawn, i);
        EXPECT_EQ(result, 0);
    }
    ASSERT_EQ(Frame(r, &result, 0), 0);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(e.drawn, 3);
    EXPECT_EQ(e.freeFlag, 1);
}

TEST_F(AsyncDrawTest, AFrameBeyondTheEndOfARunningEffectIsRefused) {
    qbDisplay* d = OpenDisplayOne();
    d->layersEnabled = 1;
    Effect& e = NewEffect();
    qbAsyncDraw* r = Add(&e);
    EXPECT_EQ(Frame(r, nullptr, 9), ERR_ANIMFRAME);
    EXPECT_EQ(e.freed, 0);
}

TEST_F(AsyncDrawTest, LookupsGuardsAndDrawErrors) {
    qbDisplay* d = OpenDisplayOne();
    Effect& e = NewEffect();
    qbAsyncDraw* r = Add(&e);
    EXPECT_EQ(RunNumbers("AsyncDrawFrame", {5}), ERR_FINDASYNCDRAW);
    int dummy = 0;
    VmPushLightUserdata(L_, &dummy);
    EXPECT_EQ(Run("AsyncDrawFrame", 1), ERR_FINDARRAY);
    d->output.type = kOutputMask;
    EXPECT_EQ(Frame(r, nullptr), ERR_SELECTMASK);
    d->output.type = kOutputBGPic;  // accepted by AsyncDrawFrame
    EXPECT_EQ(Frame(r, nullptr), 0);
    d->output.type = kObjectTypeDisplay;
    e.drawErr = ERR_MEM;
    EXPECT_EQ(Frame(r, nullptr), ERR_MEM);
    r->display = nullptr;
    EXPECT_EQ(Frame(r, nullptr), ERR_ADFWRONGDISP);
}

TEST_F(AsyncDrawTest, FinishAndCancelFreeWithTheirFlags) {
    OpenDisplayOne();
    Effect& finished = NewEffect();
    Effect& cancelled = NewEffect();
    qbAsyncDraw* a = Add(&finished);
    qbAsyncDraw* b = Add(&cancelled);
    EXPECT_TRUE(DisplayHasAsyncDraws(a->display));
    // A display with async draws on it may not be freed; display 2 may.
    ASSERT_EQ(Create(2), 0);
    qbDisplay* two = Find(2);
    EXPECT_FALSE(DisplayHasAsyncDraws(two));
    b->display = two;
    EXPECT_EQ(RunNumbers("FreeDisplay", {2}), ERR_ADFFREEDISP);
    b->display = a->display;
    VmPushLightUserdata(L_, a->handle);
    ASSERT_EQ(Run("FinishAsyncDraw", 1), 0);
    EXPECT_EQ(finished.finished, 1);
    EXPECT_EQ(finished.freeFlag, 1);
    VmPushLightUserdata(L_, b->handle);
    ASSERT_EQ(Run("CancelAsyncDraw", 1), 0);
    EXPECT_EQ(cancelled.finished, 0);
    EXPECT_EQ(cancelled.freeFlag, 0);
    EXPECT_EQ(AsyncDrawListHead()->head, nullptr);
}

TEST_F(AsyncDrawTest, FreeingAllOrTheirDisplaysCancelsThem) {
    OpenDisplayOne();
    Effect& a = NewEffect();
    Effect& b = NewEffect();
    Add(&a);
    Add(&b);
    EXPECT_EQ(CheckAsyncDrawsBusy(), 0);
    FreeAllAsyncDraws(L_);
    EXPECT_EQ(a.freeFlag, 0);
    EXPECT_EQ(b.freeFlag, 0);
    EXPECT_EQ(AsyncDrawListHead()->head, nullptr);
    Effect& e = NewEffect();
    Add(&e);
    FreeAllDisplays(L_);
    EXPECT_EQ(e.freed, 1);
    EXPECT_EQ(e.freeFlag, 0);
    EXPECT_EQ(AsyncDrawListHead()->head, nullptr);
}

// Into layers the owner hears that a frame starts and that it ended, so that
// the showing layer comes back into the composition after it.
TEST_F(AsyncDrawTest, AFrameIntoLayersIsBracketedForTheOwner) {
    qbDisplay* d = OpenDisplayOne();
    d->layersEnabled = 1;
    Effect& e = NewEffect();
    qbAsyncDraw* r = Add(&e);
    double result = -1;
    ASSERT_EQ(Frame(r, &result), 0);
    EXPECT_TRUE(e.drawing.empty());  // into the display's own picture: nothing to say
    d->output.type = kOutputBGPic;
    const int err = Frame(r, &result);
    d->output.type = kObjectTypeDisplay;
    ASSERT_EQ(err, 0);
    EXPECT_EQ(e.drawn, 2);
    EXPECT_EQ(e.drawing, (std::vector<int32_t>{1, 0}));
}
