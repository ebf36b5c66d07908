// MoveAnim: the anim's frames played while it travels, drawn over the
// background without layers and as a layer that is stepped with layers on;
// animspeed -4 takes the anim's own delays; the anim is locked meanwhile.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "media/animlib.h"
#include "media/anims.h"
#include "move_fixture.h"
#include "objects/layers.h"

namespace {

class MoveAnimTest : public MoveWorld {
protected:
    void SetUp() override {
        MoveWorld::SetUp();
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitAnimLibrary(L_), 0);
        VmSetTop(L_, 0);
        // Frame i of anim 1 (10 x 10) in FrameColour(i).
        qbAnimContents c;
        c.width = c.height = 10;
        c.frameCount = 3;
        for (int i = 0; i < 3; ++i) {
            qbAnimFrame f;
            f.bitmap.reset(AllocBitmap(10, 10, 0, nullptr));
            FillBitmapRect(f.bitmap.get(), 0, 0, 10, 10, FrameColour(i));
            c.frames.push_back(std::move(f));
            c.delays.push_back(kDelayFromFile);
        }
        qbAnim* made = nullptr;
        ASSERT_EQ(AllocAnimRecord(NewObjectID{1, 0}, &c, &made), 0);
    }
    void TearDown() override {
        FreeAllAsyncDraws(L_);
        FreeAllAnims(L_);
        MoveWorld::TearDown();
    }
    static qbAnim* Anim() {
        qbAnim* a = nullptr;
        FindAnim(nullptr, ObjectID{1, nullptr}, &a, 0);
        return a;
    }
};

}  // namespace

TEST_F(MoveAnimTest, SmoothOutAtHugeSpeedsEndsNearItsPlainTravel) { ExpectSmoothOutBounded("MoveAnim"); }

TEST_F(MoveAnimTest, FramesPlayWhileTheAnimTravels) {
    // animspeed -2: a new frame every frame; the move holds the anim.
    onStep_ = [&](const qbMove&) { EXPECT_EQ(RunNumbers("FreeAnim", {1}), ERR_LOCKEDOBJ); };
    ASSERT_EQ(Move("MoveAnim", {1, 0, 0, 50, 0, 10, -2}), 0);
    onStep_ = nullptr;
    EXPECT_EQ(path_.back(), std::make_pair(50, 0));
    EXPECT_EQ(frames_, (std::vector<int32_t>{1, 2, 0, 1, 2}));
    // The last frame drew the frame before the last advance, over the
    // restored background.
    EXPECT_EQ(Real(55, 5), FrameColour(1));
    EXPECT_EQ(Real(5, 5), 0x203040u);
    EXPECT_EQ(Anim()->lockCount, 0);

    // -4: the anim's own delays; frame 2 stays for a long time.
    ASSERT_EQ(RunNumbers("SetAnimFrameDelay", {1, 1, 0}), 0);
    ASSERT_EQ(RunNumbers("SetAnimFrameDelay", {1, 2, 1000000}), 0);
    ASSERT_EQ(Move("MoveAnim", {1, 50, 0, 0, 0, 10, -4}), 0);
    EXPECT_EQ(frames_, (std::vector<int32_t>{1, 1, 1, 1, 1}));
    EXPECT_EQ(Real(5, 5), FrameColour(1));

    EXPECT_EQ(Move("MoveAnim", {2, 0, 0, 50, 0}), ERR_FINDANIM);
}

TEST_F(MoveAnimTest, WithLayersTheAnimsLayerIsStepped) {
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ObjectID id;
    for (double a : {1.0, 0.0, 0.0, 30.0, 0.0}) VmPushNumber(L_, a);
    VmPushNewTable(L_);
    Field("speed", 10);
    Field("animspeed", -2);
    Field("async", 1);
    ASSERT_EQ(Run("MoveAnim", 6, 1), 0);
    id = GetObjectIDArg(L_, -1);
    VmSetTop(L_, 0);
    ASSERT_EQ(CountLayers(display_->bgpic), 1);
    const qbLayer* layer = GetLayerByIndex(display_->bgpic, 1);
    EXPECT_EQ(layer->type, kLayerAnim);
    EXPECT_EQ(Anim()->lockCount, 1);
    EXPECT_EQ(RunNumbers("RemoveLayer", {1}), ERR_REMADLAYER);
    for (int32_t frame : {1, 2, 0}) {
        ASSERT_GE(Frame(id), 0);
        EXPECT_EQ(layer->basestate->srcx, frame);
        EXPECT_EQ(Window(layer->basestate->x + 1, 1), FrameColour(frame));
    }
    EXPECT_EQ(layer->basestate->x, 30);
    for (int i = 0; i < 10 && Frame(id) == 0; ++i) {
    }
    EXPECT_EQ(Anim()->lockCount, 0);
    // A second move reuses the anim's layer.
    ASSERT_EQ(Move("MoveAnim", {1, 30, 0, 0, 0, 10, -2}), 0);
    EXPECT_EQ(CountLayers(display_->bgpic), 1);
    EXPECT_EQ(GetLayerByIndex(display_->bgpic, 1)->basestate->x, 0);
}
