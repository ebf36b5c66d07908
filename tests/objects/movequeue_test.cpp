// Move queues: what each action does to the stack, the one merged refresh
// (overlapping rectangles merge, touching ones do not), the queue's life
// and limits, refreshes after a failing entry, and the anim frame rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <tuple>
#include <string>

#include "core/errcodes.h"
#include "core/errors.h"
#include "display/bgpics.h"
#include "objects/bgpiclib.h"
#include "objects/dirtyrects.h"
#include "objects/movequeue.h"
#include "show_fixture.h"

namespace {

constexpr uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF;

class MoveQueueTest : public ShowWorld {
protected:
    void SetUp() override {
        ShowWorld::SetUp();
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitBGPicLibrary(L_), 0);
        VmSetTop(L_, 0);
        ASSERT_EQ(Run("EnableLayers", 0), 0);
        MakeBrush(1, 10, 10, kRed);
        MakeBrush(2, 10, 10, kGreen);
        MakeBrush(3, 10, 10, kBlue);
    }
    qbBGPic* Picture() { return display_->bgpic; }
    qbLayer* Layer(int32_t n) { return GetLayerByIndex(Picture(), n); }
    int32_t Count() { return CountLayers(Picture()); }
    int Add(int32_t brush, int32_t x, int32_t y, const char* name = nullptr) {
        return Show("DisplayBrush", {double(brush), double(x), double(y)}, [&] {
            if (name) SetTableFieldString(L_, "name", name);
        });
    }
    // AddMove on queue 1 with numbers only.
    int Move(std::initializer_list<double> args, double queue = 1) {
        VmPushNumber(L_, queue);
        for (double a : args) VmPushNumber(L_, a);
        return Run("AddMove", static_cast<int>(args.size()) + 1);
    }
    int Do(double queue = 1) { return RunNumbers("DoMove", {queue}); }
    std::vector<null_backend::Surface::BlitRect> Blits() { return null_backend::TakeBlits(display_); }
    std::string Text(int code) {
        char text[kErrorTextSize];
        GetErrorText(code, text);
        return text;
    }
};

}  // namespace

TEST_F(MoveQueueTest, OneMovedLayerRefreshesOneRectangleOverBothPlaces) {
    ASSERT_EQ(Add(1, 0, 0), 0);
    Blits();
    ASSERT_EQ(Move({22, 1, 10, 0}), 0);
    // Nothing happens before DoMove.
    EXPECT_TRUE(Blits().empty());
    EXPECT_EQ(Layer(1)->basestate->x, 0);
    ASSERT_EQ(Do(), 0);
    const auto blits = Blits();
    ASSERT_EQ(blits.size(), 1u);
    EXPECT_EQ(blits[0].x, 0);
    EXPECT_EQ(blits[0].width, 20);
    EXPECT_EQ(blits[0].height, 10);
    EXPECT_EQ(Real(5, 5), 0u);
    EXPECT_EQ(Real(15, 5), kRed);
    // Absolute moves again: the same picture, entries kept.
    ASSERT_EQ(Do(), 0);
    EXPECT_EQ(Layer(1)->basestate->x, 10);
    EXPECT_EQ(Real(5, 5), 0u);
    EXPECT_EQ(Real(15, 5), kRed);
}

TEST_F(MoveQueueTest, OverlappingRectanglesMergeTouchingOnesStayApart) {
    ASSERT_EQ(Add(1, 0, 0), 0);
    ASSERT_EQ(Add(2, 30, 0), 0);
    Blits();
    // 0..14 and 15..39 touch.
    ASSERT_EQ(Move({22, 1, 5, 0}), 0);
    ASSERT_EQ(Move({22, 2, 15, 0}), 0);
    ASSERT_EQ(Do(), 0);
    EXPECT_EQ(Blits().size(), 2u);
    // 5..19 and 12..24 share pixels: one bounding box.
    ASSERT_EQ(Move({22, 1, 10, 0}, 2), 0);
    ASSERT_EQ(Move({22, 2, 12, 0}, 2), 0);
    ASSERT_EQ(Do(2), 0);
    const auto blits = Blits();
    ASSERT_EQ(blits.size(), 1u);
    EXPECT_EQ(blits[0].x, 5);
    EXPECT_EQ(blits[0].width, 20);
    EXPECT_EQ(Real(11, 5), kRed);
    EXPECT_EQ(Real(13, 5), kGreen);
    EXPECT_EQ(Real(23, 5), 0u);
}

TEST_F(MoveQueueTest, BrushEntriesMoveEveryLayerOrAddANewTopLayer) {
    ASSERT_EQ(Add(1, 0, 0), 0);
    ASSERT_EQ(Add(1, 40, 40), 0);
    ASSERT_EQ(Add(2, 60, 0), 0);
    ASSERT_EQ(Move({3, 1, 20, 20}), 0);
    ASSERT_EQ(Move({3, 3, 70, 70}), 0);  // no layer shows brush 3
    ASSERT_EQ(Move({23, 2}), 0);
    ASSERT_EQ(Do(), 0);
    ASSERT_EQ(Count(), 4);
    EXPECT_EQ(Layer(1)->basestate->x, 20);
    EXPECT_EQ(Layer(2)->basestate->x, 20);
    EXPECT_EQ(Layer(3)->hidden, 1);
    EXPECT_EQ(Layer(4)->id.number, 3);
    EXPECT_EQ(Layer(4)->basestate->x, 70);
    EXPECT_EQ(Real(25, 25), kRed);
    EXPECT_EQ(Real(45, 45), 0u);
    EXPECT_EQ(Real(65, 5), 0u);
    EXPECT_EQ(Real(75, 75), kBlue);
}

TEST_F(MoveQueueTest, UndoHideRemoveInsertAndVisibility) {
    ASSERT_EQ(Add(1, 0, 0), 0);
    ASSERT_EQ(Add(1, 20, 0), 0);
    ASSERT_EQ(Add(2, 40, 0, "green"), 0);
    ASSERT_EQ(Add(3, 60, 0), 0);
    Layer(4)->hidden = 1;
    // Undo level 0 takes the newest red layer (at 20).
    VmPushNumber(L_, 1);
    VmPushNumber(L_, 10);
    VmPushNumber(L_, 3);
    VmPushNumber(L_, 1);
    VmPushNumber(L_, 0);
    ASSERT_EQ(Run("AddMove", 5), 0);
    ASSERT_EQ(Do(), 0);
    ASSERT_EQ(Count(), 3);
    EXPECT_EQ(Layer(1)->basestate->x, 0);
    EXPECT_EQ(Real(25, 5), 0u);
    // Positions are those after the undo: green is 2, blue (hidden) 3.
    ASSERT_EQ(Move({22, 3, 60, 20, 2}, 2), 0);  // hidden stays hidden
    ASSERT_EQ(Move({22, 1, 0, 20, 1}, 2), 0);   // moved and hidden
    ASSERT_EQ(Move({22, 2, 40, 20, 0}, 2), 0);  // moved and shown
    ASSERT_EQ(Do(2), 0);
    EXPECT_EQ(Layer(3)->hidden, 1);
    EXPECT_EQ(Layer(3)->basestate->y, 20);
    EXPECT_EQ(Layer(1)->hidden, 1);
    EXPECT_EQ(Real(5, 25), 0u);
    EXPECT_EQ(Real(65, 25), 0u);
    EXPECT_EQ(Real(45, 25), kGreen);
    // INSERTBRUSH at the place of the layer named green, then in the same
    // pass a hide and a removal by the positions after it.
    VmPushNumber(L_, 3);
    VmPushNumber(L_, 24);
    VmPushNumber(L_, 2);
    VmPushNumber(L_, 80);
    VmPushNumber(L_, 60);
    VmPushString(L_, "green");
    ASSERT_EQ(Run("AddMove", 6), 0);
    ASSERT_EQ(Move({25, 3}, 3), 0);  // the old green layer
    ASSERT_EQ(Move({26, 4}, 3), 0);  // blue
    ASSERT_EQ(Do(3), 0);
    ASSERT_EQ(Count(), 3);
    EXPECT_EQ(Layer(2)->id.number, 2);
    EXPECT_EQ(Layer(2)->basestate->x, 80);
    EXPECT_EQ(Layer(3)->hidden, 1);
    EXPECT_EQ(Real(85, 65), kGreen);
    EXPECT_EQ(Real(45, 25), 0u);
    // NEXTFRAME2 on a layer that is not an anim.
    ASSERT_EQ(Move({34, 1}, 4), 0);
    EXPECT_EQ(Do(4), ERR_WRONGUSAGE);
    // An undo of a brush no layer shows does nothing; a new anim layer
    // without the anim library names the anim it could not find.
    ASSERT_EQ(Move({10, 3, 7}, 5), 0);
    ASSERT_EQ(Do(5), 0);
    EXPECT_EQ(Count(), 3);
    ASSERT_EQ(Move({29, 4}, 6), 0);
    EXPECT_EQ(Do(6), ERR_FINDANIM);
    EXPECT_EQ(Text(ERR_FINDANIM), "Could not find anim 4!");
}

TEST_F(MoveQueueTest, QueueLifeLimitsAndErrors) {
    ASSERT_EQ(Add(1, 0, 0), 0);
    // Nil makes a queue with an automatic id, which finds it again.
    VmPushNil(L_);
    VmPushNumber(L_, 22);
    VmPushNumber(L_, 1);
    VmPushNumber(L_, 5);
    ASSERT_EQ(Run("AddMove", 4, 1), 0);
    const ObjectID automatic = GetObjectIDArg(L_, -1);
    ASSERT_NE(automatic.handle, nullptr);
    for (int i = 1; i < 512; ++i) {
        VmPushLightUserdata(L_, automatic.handle);
        VmPushNumber(L_, 22);
        VmPushNumber(L_, 1);
        VmPushNumber(L_, i);
        ASSERT_EQ(Run("AddMove", 4), 0);
    }
    VmPushLightUserdata(L_, automatic.handle);
    VmPushNumber(L_, 22);
    VmPushNumber(L_, 1);
    EXPECT_EQ(Run("AddMove", 3), ERR_INTERNAL);
    VmPushLightUserdata(L_, automatic.handle);
    ASSERT_EQ(Run("DoMove", 1), 0);
    EXPECT_EQ(Layer(1)->basestate->x, 511);
    VmPushLightUserdata(L_, automatic.handle);
    ASSERT_EQ(Run("ClearMove", 1), 0);
    VmPushLightUserdata(L_, automatic.handle);
    EXPECT_EQ(Run("DoMove", 1), ERR_FINDARRAY);
    VmPushLightUserdata(L_, automatic.handle);
    EXPECT_EQ(Run("ClearMove", 1), ERR_FINDARRAY);

    ASSERT_EQ(Move({22, 1, 0, 0}, 7), 0);
    ASSERT_EQ(RunNumbers("ClearMove", {7}), 0);
    EXPECT_EQ(Do(7), ERR_FINDMOVE);
    EXPECT_EQ(Text(ERR_FINDMOVE), "Could not find move queue 7!");
    EXPECT_EQ(RunNumbers("ClearMove", {7}), ERR_FINDMOVE);

    // An action outside the table fails in the third pass.
    ASSERT_EQ(Move({99, 1}, 8), 0);
    EXPECT_EQ(Do(8), ERR_WRONGUSAGE);
    // A text object that is not there fails its lookup.
    ASSERT_EQ(Move({8, 1}, 9), 0);
    EXPECT_EQ(Do(9), ERR_FINDTEXTOBJECT);

    display_->layersEnabled = 0;
    EXPECT_EQ(Do(8), ERR_NOLAYERS);
    display_->layersEnabled = 1;
    // Queues left at shutdown are freed with the library.
}

TEST_F(MoveQueueTest, AFailingEntryStillShowsTheEntriesBeforeIt) {
    ASSERT_EQ(Add(1, 0, 0), 0);
    ASSERT_EQ(Add(2, 0, 20), 0);
    ASSERT_EQ(Move({22, 1, 50, 0}), 0);
    ASSERT_EQ(Move({22, 2, 50, 20}), 0);
    ASSERT_EQ(Move({22, 9, 0, 0}), 0);
    EXPECT_EQ(Do(), ERR_LAYERRANGE);
    EXPECT_EQ(Real(55, 5), kRed);
    EXPECT_EQ(Real(55, 25), kGreen);
    EXPECT_EQ(Real(5, 5), 0u);
    EXPECT_EQ(Real(5, 25), 0u);
}

TEST_F(MoveQueueTest, RectanglesFarOutOnAWidePictureAreRefreshed) {
    ASSERT_EQ(Show("CreateBGPic", {5, 16000, 200, 0}), 0);
    ASSERT_EQ(Show("DisplayBGPic", {5}), 0);
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(Add(1, 10000, 0), 0);
    Blits();
    ASSERT_EQ(Move({22, 1, 10010, 0}), 0);
    ASSERT_EQ(Do(), 0);
    // The refresh reaches the display's list of rectangles; what is
    // checked is that the entry kept its rectangle at x 10000.
    qbMoveQueue* q = nullptr;
    ASSERT_EQ(FindMoveQueue(ObjectID{1, nullptr}, &q), 0);
    ASSERT_TRUE(q->entries[0].hasRect);
    EXPECT_EQ(q->entries[0].x1, 10000);
    EXPECT_EQ(q->entries[0].x2, 10019);
}

// Every layer move and brush move, from a shown and from a hidden layer,
// with each value of the entry's last argument: a layer move shows the
// layer for 0, hides it for 1 and leaves it as it was for any other; a
// brush move always shows its layers, whatever the argument. The window
// shows the layer at its new place exactly when it is shown.
TEST_F(MoveQueueTest, MovesSetVisibilityOnlyWhereTheirEntrySaysSo) {
    for (int32_t action : {22, 3})
        for (int32_t hidden : {0, 1})
            for (int32_t extra : {0, 1, 2, -1}) {
                SCOPED_TRACE(testing::Message() << "action " << action << " hidden " << hidden << " extra " << extra);
                while (Count() > 0) ASSERT_EQ(RunNumbers("RemoveLayer", {1}), 0);
                ASSERT_EQ(Add(1, 0, 0), 0);
                Layer(1)->hidden = hidden;
                RefreshLayerRect(L_, 0, 0, 100, 80, 0);
                ASSERT_EQ(Move({double(action), 1, 30, 20, double(extra)}, 5), 0);
                ASSERT_EQ(Do(5), 0);
                ASSERT_EQ(RunNumbers("ClearMove", {5}), 0);
                const int32_t want = action == 3 || extra == 0 ? 0 : extra == 1 ? 1 : hidden;
                EXPECT_EQ(Layer(1)->hidden, want);
                EXPECT_EQ(Layer(1)->basestate->x, 30);
                EXPECT_EQ(Real(35, 25), want ? 0u : kRed);
                EXPECT_EQ(Real(5, 5), 0u);
            }
}

TEST(NextAnimFrameIndex, FollowsTheFrameRule) {
    struct Case {
        int32_t requested, current, count, err, frame;
    } cases[] = {
        {0, 0, 3, 0, 1},  {0, 2, 3, 0, 0}, {-1, 0, 3, 0, 2}, {1, 2, 3, 0, 0},
        {3, 0, 3, 0, 2},  {4, 0, 3, ERR_ANIMFRAME, -9}, {-2, 0, 3, ERR_ANIMFRAME, -9},
    };
    for (const Case& c : cases) {
        int32_t frame = -9;
        EXPECT_EQ(NextAnimFrameIndex(c.requested, c.current, c.count, &frame), c.err) << c.requested;
        if (c.err == 0) {
            EXPECT_EQ(frame, c.frame) << c.requested;
        }
    }
}

// Whatever order the rectangles come in, the boxes are the fixpoint of
// joining any two that share a pixel: a chain of joins, and boxes that
// only touch kept apart.
TEST(MergeMoveRects, JoinsToTheFixpointInAnyOrder) {
    auto entry = [](int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
        qbMoveEntry e;
        e.hasRect = true;
        e.x1 = x1, e.y1 = y1, e.x2 = x2, e.y2 = y2;
        return e;
    };
    auto reference = [](std::vector<qbMoveBox> boxes) {
        for (bool joined = true; joined;) {
            joined = false;
            for (size_t i = 0; i < boxes.size() && !joined; ++i)
                for (size_t j = i + 1; j < boxes.size() && !joined; ++j) {
                    const qbMoveBox &a = boxes[i], &b = boxes[j];
                    if (a.x1 > b.x2 || b.x1 > a.x2 || a.y1 > b.y2 || b.y1 > a.y2) continue;
                    boxes[i] = {std::min(a.x1, b.x1), std::min(a.y1, b.y1), std::max(a.x2, b.x2),
                                std::max(a.y2, b.y2)};
                    boxes.erase(boxes.begin() + static_cast<std::ptrdiff_t>(j));
                    joined = true;
                }
        }
        return boxes;
    };
    auto sorted = [](std::vector<qbMoveBox> v) {
        std::sort(v.begin(), v.end(), [](const qbMoveBox& a, const qbMoveBox& b) {
            return std::tie(a.x1, a.y1, a.x2, a.y2) < std::tie(b.x1, b.y1, b.x2, b.y2);
        });
        return v;
    };
    // C joins B, and only the grown box reaches A, which came first; D
    // touches it and stays apart; an entry without a rectangle adds none.
    std::vector<qbMoveEntry> chain = {entry(0, 0, 9, 9), entry(20, 5, 29, 15), entry(8, 14, 21, 20),
                                      entry(30, 0, 35, 9), qbMoveEntry{}};
    const auto boxes = sorted(MergeMoveRects(chain));
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_TRUE(std::tie(boxes[0].x1, boxes[0].y1, boxes[0].x2, boxes[0].y2) == std::make_tuple(0, 0, 29, 20));
    EXPECT_EQ(boxes[1].x1, 30);

    std::mt19937 rng(3);
    for (int round = 0; round < 300; ++round) {
        std::vector<qbMoveEntry> entries;
        std::vector<qbMoveBox> plain;
        const int n = 1 + static_cast<int>(rng() % 40);
        for (int i = 0; i < n; ++i) {
            const int32_t x = static_cast<int32_t>(rng() % 200), y = static_cast<int32_t>(rng() % 200);
            const int32_t w = static_cast<int32_t>(rng() % 30), h = static_cast<int32_t>(rng() % 30);
            entries.push_back(entry(x, y, x + w, y + h));
            plain.push_back({x, y, x + w, y + h});
        }
        const auto want = sorted(reference(plain));
        const auto got = sorted(MergeMoveRects(entries));
        ASSERT_EQ(got.size(), want.size()) << "round " << round;
        for (size_t i = 0; i < got.size(); ++i)
            ASSERT_TRUE(std::tie(got[i].x1, got[i].y1, got[i].x2, got[i].y2) ==
                        std::tie(want[i].x1, want[i].y1, want[i].x2, want[i].y2))
                << "round " << round;
    }
}
