// The layer stack through the commands: insert positions, moves on a stack
// of four, Undo by level, names, switching layers off and on, and what the
// window shows as layers come and go.
#include <gtest/gtest.h>

#include <string>

#include "core/errcodes.h"
#include "core/errors.h"
#include "display/bgpics.h"
#include "display/output.h"
#include "imaging/geometry.h"
#include "objects/bgpiclib.h"
#include "objects/compositor.h"
#include "objects/dirtyrects.h"
#include "objects/selection.h"
#include "show_fixture.h"

namespace {

constexpr uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF;

class LayersTest : public ShowWorld {
protected:
    void SetUp() override {
        ShowWorld::SetUp();
        ASSERT_EQ(Run("EnableLayers", 0), 0);
        MakeBrush(1, 10, 10, kRed);
        MakeBrush(2, 10, 10, kGreen);
        MakeBrush(3, 10, 10, kBlue);
    }
    qbBGPic* Picture() { return display_->bgpic; }
    // DisplayBrush(id, x, y, {name = name[, insertpos = pos]}).
    int Add(int32_t id, const char* name, int32_t insertPos = 0, int32_t x = 0) {
        return Show("DisplayBrush", {double(id), double(x), 0}, [&] {
            SetTableFieldString(L_, "name", name);
            if (insertPos) SetTableFieldInt(L_, "insertpos", insertPos);
        });
    }
    std::string Order() {
        std::string s;
        for (int32_t i = 1; i <= CountLayers(Picture()); ++i) s += GetLayerByIndex(Picture(), i)->name;
        return s;
    }
};

}  // namespace

TEST_F(LayersTest, InsertPositionsBeyondTheCountGoOnTop) {
    ASSERT_EQ(Add(1, "A", 1), 0);  // on an empty stack it is the only one
    ASSERT_EQ(Add(1, "B"), 0);
    ASSERT_EQ(Add(1, "C"), 0);
    ASSERT_EQ(Add(2, "D", 2), 0);
    EXPECT_EQ(Order(), "ADBC");
    ASSERT_EQ(Add(3, "E", 99), 0);
    EXPECT_EQ(Order(), "ADBCE");
    EXPECT_EQ(Add(1, "F", -1), ERR_INVINSERT);
    EXPECT_EQ(FindLayerByName(Picture(), "d"), 2);
}

TEST_F(LayersTest, MovesOnAStackOfFour) {
    for (const char* n : {"A", "B", "C", "D"}) ASSERT_EQ(Add(1, n), 0);
    EXPECT_TRUE(MoveLayerInStack(Picture(), GetLayerByIndex(Picture(), 1), 3));
    EXPECT_EQ(Order(), "BCAD");
    EXPECT_TRUE(MoveLayerInStack(Picture(), GetLayerByIndex(Picture(), 4), 2));
    EXPECT_EQ(Order(), "BDCA");
    EXPECT_TRUE(MoveLayerInStack(Picture(), GetLayerByIndex(Picture(), 1), 0));
    EXPECT_EQ(Order(), "DCAB");
    EXPECT_FALSE(MoveLayerInStack(Picture(), GetLayerByIndex(Picture(), 4), 0));
}

TEST_F(LayersTest, UndoFreesTheLevelthNewestLayerOfThatObjectAndTheWindowFollows) {
    ASSERT_EQ(Add(1, "A", 0, 0), 0);
    ASSERT_EQ(Add(2, "B", 0, 20), 0);
    ASSERT_EQ(Add(1, "C", 0, 40), 0);
    EXPECT_EQ(Window(45, 5), kRed);
    // Undo(#BRUSH, 1, 2): the second newest layer of brush 1 is A.
    ASSERT_EQ(RunNumbers("Undo", {3, 1, 2}), 0);
    EXPECT_EQ(Order(), "BC");
    EXPECT_EQ(Window(5, 5), 0u);
    EXPECT_EQ(Window(25, 5), kGreen);
    EXPECT_EQ(RunNumbers("Undo", {3, 7}), 0);  // no layer shows brush 7
    EXPECT_EQ(Order(), "BC");
    // A freed brush stays for the layer that shows it, until Undo takes the layer.
    ASSERT_EQ(RunNumbers("FreeBrush", {1}), 0);
    RefreshLayerRect(L_, 0, 0, 100, 80, 0);
    EXPECT_EQ(Window(45, 5), kRed);
    ASSERT_EQ(RunNumbers("Undo", {3, 1}), 0);
    EXPECT_EQ(Order(), "B");
    EXPECT_EQ(Window(45, 5), 0u);
    int brushes = 0;
    for (qbBrush* b = FirstBrush(); b; b = static_cast<qbBrush*>(b->next)) ++brushes;
    EXPECT_EQ(brushes, 2);  // the detached copy went with its last layer
}

// A layer at the end of the coordinate range and a shadow or border of any
// size clamp where they are moved or grown, instead of wrapping round.
TEST_F(LayersTest, PositionsShadowsAndBordersAtTheEndsOfTheRangeClamp) {
    ASSERT_EQ(Show("DisplayBrush", {1, -1e300, -1e300}, [&] {
                  SetTableFieldFloat(L_, "anchorx", 1);
                  SetTableFieldFloat(L_, "anchory", 1);
              }),
              0);
    const qbLayerState* moved = GetLayerByIndex(Picture(), 1)->shownstate;
    EXPECT_EQ(moved->anchoredx, INT32_MIN);
    EXPECT_EQ(moved->showny, INT32_MIN);
    ASSERT_EQ(Show("DisplayBrush", {2, 20, 0}, [&] {
                  SetTableFieldInt(L_, "shadow", 1);
                  SetTableFieldFloat(L_, "shadowradius", 1e300);
              }),
              0);
    qbLayer* shadowed = GetLayerByIndex(Picture(), 2);
    int32_t x = 0, y = 0, w = 0, h = 0;
    // Wider than 32 bits: cut to the coordinate limit on both sides.
    GetShadowRect(L_, shadowed, shadowed->shownstate, &x, &y, &w, &h);
    EXPECT_EQ(x, -kCoordinateLimit);
    EXPECT_EQ(int64_t{x} + w, kCoordinateLimit);
    GetLayerBounds(L_, shadowed, shadowed->shownstate, &x, &y, &w, &h);
    EXPECT_EQ(y, -kCoordinateLimit);
    EXPECT_EQ(int64_t{y} + h, kCoordinateLimit);
    // No plane is made for such a shadow; the brush shows. A border no
    // bitmap could hold is refused rather than never drawn.
    EXPECT_EQ(Window(25, 5), kGreen);
    ASSERT_EQ(Show("DisplayBrush", {3, 40, 0}, [&] {
                  SetTableFieldInt(L_, "border", 1);
                  SetTableFieldFloat(L_, "bordersize", 1e300);
              }),
              ERR_WRONGUSAGE);
    ASSERT_EQ(Show("DisplayBrush", {3, -1e300, 0}, [&] { SetTableFieldInt(L_, "border", 1); }), 0);
}

TEST_F(LayersTest, NamesAreAtMost255CharactersAndUnique) {
    ASSERT_EQ(Add(1, std::string(255, 'n').c_str()), 0);
    EXPECT_EQ(Add(1, std::string(256, 'n').c_str()), ERR_NAMETOOLONG);
    char text[kErrorTextSize];
    GetErrorText(ERR_NAMETOOLONG, text);
    EXPECT_STREQ(text, "Specified name is too long!");
    ASSERT_EQ(Add(1, "same"), 0);
    EXPECT_EQ(Add(2, "SAME"), ERR_NAMEUSED);
    EXPECT_EQ(CountLayers(Picture()), 2);
}

TEST_F(LayersTest, DisablingKeepsTheLayersAndLayerCommandsNeedThemOn) {
    ASSERT_EQ(Add(2, "A"), 0);
    ASSERT_EQ(Run("DisableLayers", 0), 0);
    EXPECT_EQ(RunNumbers("Undo", {3, 2}), ERR_NOLAYERS);
    EXPECT_EQ(Run("DumpLayers", 0), ERR_NOLAYERS);
    // With layers off a brush goes into the picture itself.
    ASSERT_EQ(Show("DisplayBrush", {1, 50, 50}), 0);
    EXPECT_EQ(Shown(55, 55), kRed);
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    EXPECT_EQ(Order(), "A");
    ASSERT_EQ(RunNumbers("Undo", {3, 2}), 0);
    EXPECT_EQ(CountLayers(Picture()), 0);
}

TEST_F(LayersTest, ALayerShowsAboveThePictureAndGoesWithoutTouchingIt) {
    ASSERT_EQ(Add(1, "A", 0, 10), 0);
    EXPECT_EQ(Window(15, 5), kRed);
    EXPECT_EQ(Shown(15, 5), 0u);  // the picture under the layers is unchanged
    // A hidden layer is neither drawn nor refreshed.
    ASSERT_EQ(Show("DisplayBrush", {2, 10, 0}, [&] { SetTableFieldInt(L_, "hidden", 1); }), 0);
    EXPECT_EQ(Window(15, 5), kRed);
    // A transparent layer on top blends over the one below.
    ASSERT_EQ(Show("DisplayBrush", {3, 10, 0}, [&] { SetTableFieldInt(L_, "transparency", 128); }), 0);
    const uint32_t c = Window(15, 5);
    EXPECT_NEAR(static_cast<int>(c >> 16), 128, 2) << std::hex << c;
    EXPECT_NEAR(static_cast<int>(c & 0xFF), 127, 2) << std::hex << c;
}

TEST_F(LayersTest, ABGPicPartWithItsLayersBecomesALayerOfItsOwnPixels) {
    VmPushValue(L_, kGlobalsIndex);
    ASSERT_EQ(InitBGPicLibrary(L_), 0);
    VmSetTop(L_, 0);
    ASSERT_EQ(Add(1, "A", 0, 0), 0);
    // (0, 0, 10, 10) of the shown picture with its layers, to (50, 50).
    ASSERT_EQ(RunNumbers("DisplayBGPicPart", {-1, 0, 0, 10, 10, 50, 50, 1}), 0);
    EXPECT_EQ(Window(55, 55), kRed);
    ASSERT_EQ(RunNumbers("Undo", {3, 1}), 0);
    EXPECT_EQ(Window(5, 5), 0u);
    EXPECT_EQ(Window(55, 55), kRed);  // the copy holds its own pixels
    // Without the layers flag the part shows the picture itself.
    ASSERT_EQ(RunNumbers("DisplayBGPicPart", {-1, 0, 0, 10, 10, 50, 50}), 0);
    EXPECT_EQ(Window(55, 55), 0u);
    EXPECT_EQ(RunNumbers("DisplayBGPicPart", {-1, 100, 0, 10, 10}), ERR_COORDSRANGE);
}

TEST_F(LayersTest, ALayerKeepsShowingTheBGPicPartItWasGivenWhenTheScriptChangesThatBGPic) {
    VmPushValue(L_, kGlobalsIndex);
    ASSERT_EQ(InitBGPicLibrary(L_), 0);
    VmSetTop(L_, 0);
    ASSERT_EQ(RunNumbers("CreateBGPic", {2, 40, 40, double(kBlue)}), 0);
    ASSERT_EQ(RunNumbers("DisplayBGPicPart", {2, 0, 0, 10, 10, 50, 50}), 0);
    EXPECT_EQ(Window(55, 55), kBlue);
    // Scaled down: the layer's part would now lie past the picture's edge.
    ASSERT_EQ(RunNumbers("ScaleBGPic", {2, 4, 4}), 0);
    RefreshLayerRect(L_, 0, 0, 100, 80, 0);
    EXPECT_EQ(Window(59, 59), kBlue);
    // Replaced under the same id: the layer still shows the old picture.
    ASSERT_EQ(RunNumbers("CreateBGPic", {2, 40, 40, double(kGreen)}), 0);
    RefreshLayerRect(L_, 0, 0, 100, 80, 0);
    EXPECT_EQ(Window(59, 59), kBlue);
    ASSERT_EQ(RunNumbers("Undo", {13, 2}), 0);
    EXPECT_EQ(Window(55, 55), 0u);
}

// A BGPic freed with layers of its own takes with it what they alone held
// (the copy of a brush the script freed while a layer showed it); a layer
// of another picture that shows a part of it keeps showing it.
TEST_F(LayersTest, AFreedBGPicTakesWhatItsLayersHeldAndKeepsShowingInOthers) {
    VmPushValue(L_, kGlobalsIndex);
    ASSERT_EQ(InitBGPicLibrary(L_), 0);
    VmSetTop(L_, 0);
    auto brushes = [] {
        int n = 0;
        for (qbBrush* b = FirstBrush(); b; b = static_cast<qbBrush*>(b->next)) ++n;
        return n;
    };
    ASSERT_EQ(RunNumbers("CreateBGPic", {5, 100, 80, 0}), 0);
    ASSERT_EQ(RunNumbers("CreateBGPic", {6, 100, 80, double(kBlue)}), 0);
    ASSERT_EQ(RunNumbers("CreateBGPic", {7, 30, 20, double(kGreen)}), 0);
    ASSERT_EQ(RunNumbers("DisplayBGPic", {5}), 0);
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(Add(1, "A", 0, 0), 0);
    ASSERT_EQ(RunNumbers("FreeBrush", {1}), 0);
    EXPECT_EQ(brushes(), 3) << "the layer keeps a copy of brush 1";
    ASSERT_EQ(RunNumbers("DisplayBGPic", {6}), 0);
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(RunNumbers("DisplayBGPicPart", {7, 0, 0, 30, 20, 40, 30}), 0);
    ASSERT_EQ(RunNumbers("FreeBGPic", {5}), 0);
    EXPECT_EQ(brushes(), 2) << "the copy went with the picture's layers";
    ASSERT_EQ(RunNumbers("FreeBGPic", {7}), 0);
    EXPECT_EQ(RunNumbers("FreeBGPic", {7}), ERR_FINDBGPIC);
    RefreshLayerRect(L_, 0, 0, 100, 80, 0);
    EXPECT_EQ(Window(45, 35), kGreen);
    EXPECT_EQ(Window(35, 35), kBlue);
}

TEST_F(LayersTest, LayerArgumentsArePositionsNamesOrGroupsWalkedBottomUp) {
    for (const char* n : {"A", "B", "C", "D", "E"}) ASSERT_EQ(Add(1, n), 0);
    for (int i : {1, 3, 4}) GetLayerByIndex(Picture(), i)->groupname = i == 3 ? "Trees" : "trees";
    GetLayerByIndex(Picture(), 5)->groupname = "c";  // a layer's own name wins over a group
    qbLayer* got = nullptr;
    int32_t cursor = 0, more = 0;
    auto text = [&](const char* s) {
        VmSetTop(L_, 0);
        VmPushString(L_, s);
        return GetLayerArg(L_, 1, Picture(), &cursor, &more, &got);
    };
    ASSERT_EQ(text("c"), 0);
    EXPECT_EQ(got->name + std::to_string(cursor) + std::to_string(more), "C-10");
    std::string walked;
    cursor = 0;
    while (cursor != -1 && walked.size() < 9 && text("TREES") == 0) walked += got->name + std::to_string(cursor);
    EXPECT_EQ(walked, "A1C2D-1");
    EXPECT_EQ(more, 1);
    cursor = 3;  // the group shrank under a walk
    EXPECT_EQ(text("trees"), ERR_FINDLAYER);
    cursor = 0;
    EXPECT_EQ(text("shrubs"), ERR_FINDLAYER);
    EXPECT_STREQ(GetErrorDetail(), "shrubs");
    VmSetTop(L_, 0);
    VmPushNumber(L_, 6);
    EXPECT_EQ(GetLayerArg(L_, 1, Picture(), nullptr, nullptr, &got), ERR_LAYERRANGE);
    VmPushNewTable(L_);
    EXPECT_EQ(GetLayerArg(L_, 2, Picture(), nullptr, nullptr, &got), ERR_STRORNUM);
    EXPECT_EQ(GetErrorArgIndex(), 2);
    VmSetTop(L_, 0);
}

TEST_F(LayersTest, ABGPicOutputHoldsChangesBackInTheDisplaysListUntilTheyAreShown) {
    qbDirtyRectList& list = display_->dirtyRects;
    ASSERT_EQ(SelectBGPicLayers(L_, nullptr), 0);
    ASSERT_EQ(Add(1, "A", 0, 10), 0);
    ASSERT_EQ(Add(2, "B", 0, 15), 0);
    EXPECT_EQ(Real(17, 5), 0u);
    EXPECT_EQ(list.count, 2);
    ASSERT_EQ(EndSelectCore(L_, display_, false), 0);
    EXPECT_EQ(Real(12, 5), kRed);
    EXPECT_EQ(Real(17, 5), kGreen);

    // A change the window never saw, then a rectangle covering the picture:
    // the list stands for the whole display.
    display_->output.type = kOutputMask;
    ASSERT_EQ(Add(3, "C", 0, 80), 0);
    display_->output.type = kObjectTypeDisplay;
    AddDirtyRect(L_, -3, 0, 100, 80);
    ShowDisplayDirtyRects(L_);
    EXPECT_EQ(Real(85, 5), kBlue);

    // The list does not grow for AddDirtyRect: the 1025th rectangle makes it
    // full rather than being lost.
    Picture()->layers->layers.back()->hidden = 1;
    for (int i = 0; i <= kDirtyRectStep; ++i) AddDirtyRect(L_, 0, 70, 1, 1);
    EXPECT_EQ(list.Capacity(), kDirtyRectStep);
    ShowDisplayDirtyRects(L_);
    EXPECT_EQ(Real(85, 5), 0u);

    // Without layers a blit while double buffering joins the list.
    ASSERT_EQ(Run("DisableLayers", 0), 0);
    display_->softDoubleBuffer = 1;
    ASSERT_EQ(Show("DisplayBrush", {1, 20, 30}), 0);
    display_->softDoubleBuffer = 0;
    ASSERT_EQ(list.count, 1);
    EXPECT_EQ(list.entries[0].y2, 39);
    ShowDisplayDirtyRects(L_);
    EXPECT_EQ(Real(25, 35), kRed);
}

TEST_F(LayersTest, TheFastRefreshShowsWhatARedrawWouldWhereverItIsTaken) {
    // The picture and a half-transparent layer under the one that changes.
    ASSERT_EQ(Run("DisableLayers", 0), 0);
    ASSERT_EQ(Show("DisplayBrush", {2, 0, 0}), 0);
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(Show("DisplayBrush", {3, 5, 5}, [&] { SetTableFieldInt(L_, "transparency", 100); }), 0);
    MakeBrush(4, 10, 10, kRed);
    ASSERT_EQ(Add(4, "top", 0, 95), 0);  // half past the right edge
    qbLayer* top = GetLayerByIndex(Picture(), 2);
    qbBrush* brush = nullptr;
    ASSERT_EQ(GetBrushRecord(L_, ObjectID{4, nullptr}, &brush, 0), 0);
    const qbClipRegion clip{0, 0, 97, 3, nullptr};

    struct Case {
        const char* what;
        int32_t x, probe;  // the probe is a pixel of the layer
        bool clipped, transparent, shadowAbove, direct;
    };
    const Case cases[] = {
        {"on top at the edge", 95, 96, false, false, false, true},
        {"over the layer below", 2, 6, false, false, false, true},
        {"cut by a clip region", 92, 93, true, false, false, true},
        {"transparent", 2, 6, false, true, false, false},
        {"under a shadow from above", 40, 48, false, false, true, false},
    };
    uint32_t fill = 0x102030;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        top->shownstate->shownx = c.x;
        top->shownstate->clipregion = c.clipped ? &clip : nullptr;
        top->transparency = c.transparent ? 128 : 0;
        if (c.shadowAbove) {
            ASSERT_EQ(Add(1, "above", 0, 52), 0);
            qbShadowStyle& shadow = GetLayerByIndex(Picture(), 3)->shadow;
            shadow.shadow = 1;
            shadow.dir = 7;  // north-west, onto the layer beside it
        }
        RefreshLayerRect(L_, 0, 0, 100, 80, 0);
        // The image changes in place, as a frame of an anim does.
        FillBitmapRect(brush->bitmap, 0, 0, 10, 10, fill += 0x203040);
        EXPECT_EQ(ShowLayerDirectly(L_, top), c.direct);
        RefreshLayer(L_, top, true);
        const std::vector<uint32_t> fast = null_backend::GetSurface(display_)->pixels;
        RefreshLayerRect(L_, 0, 0, 100, 80, 0);
        EXPECT_EQ(null_backend::GetSurface(display_)->pixels, fast);
        EXPECT_EQ(Real(c.probe, 1) != fill, c.transparent || c.shadowAbove);
    }
}
