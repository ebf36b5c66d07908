// Text objects on the move: DoMove entries of a text object move every
// layer showing it or add one, and MoveTextObject carries one across the
// display, as a layer or drawn plainly, with its picture's offsets applied.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "core/errcodes.h"
#include "display/eventlib.h"
#include "draw/movement.h"
#include "libs/moveobjectlib.h"
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
            [](const qbMove& m, void* data) { static_cast<TextMoveWorld*>(data)->path_.emplace_back(m.x, m.y); },
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
    EXPECT_EQ(RunNumbers("MoveTextObject", {9, 0, 0, 10, 10}), ERR_FINDTEXTOBJECT);
    EXPECT_EQ(RunNumbers("MoveTextObject", {1, 0, 0, 10, 10, 0}), ERR_WRONGUSAGE);
}

}  // namespace
