// Text objects on the move: DoMove entries of a text object move every
// layer showing it or add one, and MoveTextObject carries one across the
// display, as a layer or drawn plainly, with its picture's offsets applied.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "core/errcodes.h"
#include "display/eventlib.h"
#include "draw/graphicslib.h"
#include "draw/movement.h"
#include "libs/moveobjectlib.h"
#include "platform/null/null_backend.h"
#include "platform/platform.h"
#include "text/textobjects.h"
#include "text_world.h"

namespace {

class TextMoveWorld : public TextWorld {
protected:
    void SetUp() override {
        TextWorld::SetUp();
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitMoveObjectLibrary(L_), 0);
        VmSetTop(L_, 0);
        SetFramePacingClock([this] { return clock_; }, [this](int64_t ms) { clock_ += ms * 1000; });
        SetMoveStepObserver(
            [](const qbMove& m, void* data) {
                auto* self = static_cast<TextMoveWorld*>(data);
                self->path_.emplace_back(m.x, m.y);
                if (self->path_.size() == self->quitAt_)
                    null_backend::ScriptEvent({self->display_, kEventKey, 1, 0, null_backend::kKeyEscape});
            },
            this);
        // A shadow to the top left puts the picture off the text's origin.
        ASSERT_EQ(RunNumbers("SetFontStyle", {kTextShadow, 0, 2, kShadowNorthWest}), 0);
        for (auto [id, text] : {std::pair{1.0, "Moving"}, std::pair{2.0, "Other"}}) {
            VmPushNumber(L_, id);
            VmPushString(L_, text);
            ASSERT_EQ(Run("CreateTextObject", 2), 0);
        }
    }
    void TearDown() override {
        SetMoveStepObserver(nullptr, nullptr);
        SetFramePacingClock(nullptr, nullptr);
        TextWorld::TearDown();
    }
    qbTextObject* Object(int32_t id) {
        qbTextObject* o = nullptr;
        EXPECT_EQ(GetTextObject(L_, ObjectID{id, nullptr}, &o, 0), 0);
        return o;
    }
    qbLayer* Layer(int32_t n) { return GetLayerByIndex(GetCurrentBGPic(), n); }
    // Inked pixels of the rectangle where the display shows them: layers
    // are composed into the back buffer.
    int32_t Shown(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
        qbBitmap* b = display_->layersEnabled && display_->backBuffer ? display_->backBuffer.get()
                                                                       : display_->spriteFreeBuffer.get();
        const uint32_t ground = ReadBitmapPixel(b, 639, 479, false);
        int32_t n = 0;
        for (int32_t y = y0; y < y1; ++y)
            for (int32_t x = x0; x < x1; ++x) n += ReadBitmapPixel(b, x, y, false) != ground;
        return n;
    }
    // Inked pixels where the object's picture lies when its text stands at x, y.
    int32_t Picture(const qbTextObject& o, int32_t x, int32_t y) {
        return Shown(x + o.xOffset, y + o.yOffset, x + o.xOffset + o.width, y + o.yOffset + o.height);
    }
    std::vector<std::pair<int32_t, int32_t>> path_;
    size_t quitAt_ = 0;  // the frame at which a quit comes (0: none)
    int64_t clock_ = 0;
};

TEST_F(TextMoveWorld, DoMoveMovesEveryLayerOfTheObjectOrAddsOne) {
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    for (int i = 0; i < 2; ++i) ASSERT_EQ(RunNumbers("InsertLayer", {0, double(kLayerTextObject), 1, 10, 10}), 0);
    ASSERT_EQ(RunNumbers("AddMove", {1, double(kLayerTextObject), 1, 100, 50}), 0);
    ASSERT_EQ(RunNumbers("AddMove", {1, double(kLayerTextObject), 2, 30, 200}), 0);
    ASSERT_EQ(RunNumbers("DoMove", {1}), 0);
    const qbTextObject* one = Object(1);
    const qbTextObject* two = Object(2);
    ASSERT_EQ(CountLayers(GetCurrentBGPic()), 3);
    for (int32_t n : {1, 2}) {
        EXPECT_EQ(Layer(n)->basestate->x, 100 + one->xOffset) << n;
        EXPECT_EQ(Layer(n)->basestate->y, 50 + one->yOffset) << n;
    }
    // Object 2 was shown by no layer: it is on top now.
    EXPECT_EQ(Layer(3)->type, kLayerTextObject);
    EXPECT_EQ(Layer(3)->id.number, 2);
    EXPECT_EQ(Layer(3)->basestate->x, 30 + two->xOffset);
    EXPECT_EQ(Layer(3)->basestate->y, 200 + two->yOffset);
    EXPECT_GT(Picture(*two, 30, 200), 0);
    EXPECT_GT(Picture(*one, 100, 50), 0);
    EXPECT_EQ(Picture(*one, 10, 10), 0);
    // A queue naming a text object that does not exist.
    ASSERT_EQ(RunNumbers("AddMove", {2, double(kLayerTextObject), 9, 0, 0}), 0);
    EXPECT_EQ(RunNumbers("DoMove", {2}), ERR_FINDTEXTOBJECT);
}

TEST_F(TextMoveWorld, MoveTextObjectEndsAtTheTargetAsALayerOrDrawnPlainly) {
    const qbTextObject* one = Object(1);
    ASSERT_LT(one->xOffset, 0);
    ASSERT_LT(one->yOffset, 0);
    for (int32_t y : {100, 300}) {
        const bool layers = y == 300;
        if (layers) {
            ASSERT_EQ(Run("EnableLayers", 0), 0);
        }
        path_.clear();
        ASSERT_EQ(RunNumbers("MoveTextObject", {1, 0, double(y), 200, double(y), 20}), 0) << layers;
        ASSERT_FALSE(path_.empty());
        EXPECT_EQ(path_.back(), std::make_pair(200 + one->xOffset, y + one->yOffset)) << layers;
        EXPECT_EQ(path_.size(), 10u) << layers;
        EXPECT_GT(Picture(*one, 200, y), 0) << layers;
        EXPECT_EQ(Shown(0, y + one->yOffset, 200 + one->xOffset, y + one->yOffset + one->height), 0) << layers;
        EXPECT_EQ(one->locked, 0);
    }
    // Layers on: the layer made for the move stays, and moves again.
    ASSERT_EQ(CountLayers(GetCurrentBGPic()), 1);
    EXPECT_EQ(Layer(1)->type, kLayerTextObject);
    EXPECT_EQ(Layer(1)->basestate->x, 200 + one->xOffset);
    ASSERT_EQ(RunNumbers("MoveTextObject", {1, 200, 300, 300, 300}), 0);
    ASSERT_EQ(CountLayers(GetCurrentBGPic()), 1);
    EXPECT_EQ(Layer(1)->basestate->x, 300 + one->xOffset);
    EXPECT_EQ(Shown(200 + one->xOffset, 300 + one->yOffset, 300 + one->xOffset, 300 + one->yOffset + one->height), 0);
    // A text object takes no anim speed: its seventh argument is the way,
    // and a damped move overshoots its target once.
    path_.clear();
    ASSERT_EQ(RunNumbers("MoveTextObject", {1, 300, 300, 200, 300, 20, kMoveDamped}), 0);
    ASSERT_FALSE(path_.empty());
    EXPECT_EQ(path_.back(), std::make_pair(200 + one->xOffset, 300 + one->yOffset));
    EXPECT_LT(std::min_element(path_.begin(), path_.end())->first, 200 + one->xOffset);
    EXPECT_EQ(RunNumbers("MoveTextObject", {9, 0, 0, 10, 10}), ERR_FINDTEXTOBJECT);
    EXPECT_EQ(RunNumbers("MoveTextObject", {1, 0, 0, 10, 10, 0}), ERR_WRONGUSAGE);
}

TEST_F(TextMoveWorld, SmoothOutAtHugeSpeedsEndsNearItsPlainTravel) {
    // A hang (the slow-down walking its last stretch a pixel a frame) is
    // cut here: a quit ends the synchronous move, the stepped one is
    // stepped no more.
    constexpr size_t kHangFrames = 5000;
    quitAt_ = kHangFrames + 1;
    // The stepped form's commands.
    VmPushValue(L_, kGlobalsIndex);
    for (auto [name, command] :
         {std::pair{"asyncdrawframe", &cmdAsyncDrawFrame}, {"cancelasyncdraw", &cmdCancelAsyncDraw}}) {
        VmPushString(L_, name);
        VmPushCClosure(L_, command, 0);
        VmRawSet(L_, -3);
    }
    VmSetTop(L_, 0);
    SetQuitShortcut(nullptr, kQuitShortcutEscape, 1);
    const qbTextObject* one = Object(1);
    // 10^4 over 5 x 10^4 took 85 s, 3e8 over 1.6e9 2.5e8 frames.
    for (auto [speed, distance] : {std::pair{1e4, 5e4}, std::pair{3e8, 1.6e9}})
        for (bool async : {false, true}) {
            SCOPED_TRACE(testing::Message() << "speed " << speed << " async " << async);
            path_.clear();
            for (double a : {1.0, 0.0, 0.0, distance, 0.0}) VmPushNumber(L_, a);
            VmPushNewTable(L_);
            SetTableFieldFloat(L_, "speed", speed);
            SetTableFieldInt(L_, "fx", kMoveSmoothOut);
            SetTableFieldInt(L_, "async", async ? 1 : 0);
            ASSERT_EQ(Run("MoveTextObject", 6, async ? 1 : 0), 0);
            if (async) {
                const ObjectID id = GetObjectIDArg(L_, -1);
                for (double done = 0; done == 0 && path_.size() <= kHangFrames;) {
                    VmSetTop(L_, 0);
                    PushObjectID(L_, id);
                    ASSERT_EQ(Run("AsyncDrawFrame", 1, 1), 0);
                    done = VmToNumber(L_, -1);
                }
                VmSetTop(L_, 0);
                PushObjectID(L_, id);
                Run("CancelAsyncDraw", 1);
            }
            VmSetTop(L_, 0);
            SetEventQuitRequested(false);
            ASSERT_FALSE(path_.empty());
            EXPECT_EQ(path_.back(), std::make_pair(static_cast<int32_t>(distance) + one->xOffset, one->yOffset));
            EXPECT_LE(path_.size(), static_cast<size_t>(std::ceil(distance / speed)) + 30);
        }
    SetQuitShortcut(nullptr, kQuitShortcutEscape, 0);
}

}  // namespace
