// Buttons as scripts make and meet them: the hit test at their edges, the
// pressed states across a release elsewhere, over and out, and DumpButtons.
#include "core/errcodes.h"
#include "display/bgpics.h"
#include "eventlib_fixture.h"
#include "imaging/bitmap.h"
#include "objects/brushes.h"
#include "objects/brushlib.h"
#include "objects/layers.h"
#include "objects/layersources.h"

namespace {

class ButtonsTest : public EventWorld {
protected:
    // MakeButton(id, SIMPLEBUTTON, x, y, w, h, {onmousedown = down, onmouseup = up, ...}); without the
    // up, over and out functions (pointer false), onmousedown alone.
    int MakeSimple(int id, int x, int y, int w, int h, bool pointer = true) {
        const std::string text = ".function main maxstack=12\n    GETGLOBAL 0 \"makebutton\"\n    LOADK 1 #" +
                                 std::to_string(id) + "\n    LOADK 2 #0\n    LOADK 3 #" + std::to_string(x) +
                                 "\n    LOADK 4 #" + std::to_string(y) + "\n    LOADK 5 #" + std::to_string(w) +
                                 "\n    LOADK 6 #" + std::to_string(h) + R"(
    NEWTABLE 7 0 4
    GETGLOBAL 8 "down"
    SETTABLE 7 "onmousedown" 8
)" + std::string(pointer ? R"(    GETGLOBAL 8 "up"
    SETTABLE 7 "onmouseup" 8
    GETGLOBAL 8 "over"
    SETTABLE 7 "onmouseover" 8
    GETGLOBAL 8 "out"
    SETTABLE 7 "onmouseout" 8
)" : "") + R"(    CALL 0 8 1
    RETURN 0 1
.end
)";
        return Run(text);
    }
    void SetUp() override {
        EventWorld::SetUp();
        DefineEmitter("down", "down");
        DefineEmitter("up", "up");
        DefineEmitter("over", "over");
        DefineEmitter("out", "out");
    }
    void Drain() {
        for (int i = 0; i < 10; ++i) ASSERT_EQ(Check(), 0);
    }
};

TEST_F(ButtonsTest, AOnePixelButtonIsHitOnlyAtItsPixel) {
    ASSERT_EQ(MakeSimple(3, 5, 5, 1, 1), 0);
    const int misses[][2] = {{4, 5}, {6, 5}, {5, 4}, {5, 6}, {4, 4}, {6, 6}};
    for (const auto& m : misses) Click(m[0], m[1], true);
    Drain();
    EXPECT_TRUE(out.empty());
    Click(5, 5, true);
    Drain();
    EXPECT_EQ(out, std::vector<std::string>{"down OnMouseDown 3"});
}

TEST_F(ButtonsTest, ADisabledButtonIsDeafUntilEnabledAgain) {
    ASSERT_EQ(MakeSimple(4, 5, 5, 10, 10), 0);
    auto button = [&](const char* command) {
        return Run(std::string(".function main maxstack=4\n    GETGLOBAL 0 \"") + command +
                   "\"\n    LOADK 1 #4\n    CALL 0 2 1\n    RETURN 0 1\n.end\n");
    };
    ASSERT_EQ(button("disablebutton"), 0);
    Click(8, 8, true);
    Click(8, 8, false);
    Drain();
    EXPECT_TRUE(out.empty());
    ASSERT_EQ(button("enablebutton"), 0);
    Click(8, 8, true);
    Drain();
    EXPECT_EQ(out, std::vector<std::string>{"down OnMouseDown 4"});
}

TEST_F(ButtonsTest, AReleaseElsewhereClearsEveryPressedState) {
    ASSERT_EQ(MakeSimple(1, 0, 0, 10, 10), 0);
    ASSERT_EQ(MakeSimple(2, 20, 0, 10, 10), 0);
    Click(2, 2, true);
    Click(22, 2, false);
    Drain();
    EXPECT_EQ(out, std::vector<std::string>{"down OnMouseDown 1"});
    // Button 1 no longer holds its press: releasing over it is no click.
    out.clear();
    Click(2, 2, false);
    Drain();
    EXPECT_TRUE(out.empty());
    // A press and release over the same button is.
    Click(22, 2, true);
    Click(22, 2, false);
    Drain();
    EXPECT_EQ(out, (std::vector<std::string>{"down OnMouseDown 2", "up OnMouseUp 2"}));
}

TEST_F(ButtonsTest, TheDisplaysOwnHandlerComesFirstEvenWithTimersFiring) {
    DefineEmitter("display", "display");
    DefineEmitter("tick", "tick");
    ASSERT_EQ(Install({{"onmousedown", "display"}}), 0);
    ASSERT_EQ(MakeSimple(4, 0, 0, 10, 10), 0);
    ASSERT_EQ(Call("setinterval", {"#1", "tick", "#1"}), 0);
    // The click goes to the display, then on to its button, whatever
    // timers fire in between.
    Click(2, 2, true);
    std::vector<std::string> clicks;
    for (int i = 0; i < 50 && clicks.size() < 2; ++i) {
        out.clear();
        ASSERT_EQ(Wait(), 0);
        for (const std::string& line : out)
            if (line.rfind("tick", 0) != 0) clicks.push_back(line);
    }
    EXPECT_EQ(clicks, (std::vector<std::string>{"display OnMouseDown 1", "down OnMouseDown 4"}));
    ASSERT_EQ(Call("clearinterval", {"#1"}), 0);
}

TEST_F(ButtonsTest, ThePointerEntersAndLeaves) {
    ASSERT_EQ(MakeSimple(1, 0, 0, 10, 10), 0);
    ASSERT_EQ(MakeSimple(2, 20, 0, 10, 10), 0);
    d->view.mouseX = 3;
    d->view.mouseY = 3;
    d->view.mouseMoved = 1;
    Drain();
    EXPECT_EQ(out, std::vector<std::string>{"over OnMouseOver 1"});
    out.clear();
    d->view.mouseX = 25;
    d->view.mouseMoved = 1;
    Drain();
    EXPECT_EQ(out, (std::vector<std::string>{"out OnMouseOut 1", "over OnMouseOver 2"}));
}

// A button without over and out functions takes the pointer silently; while
// one is held down the others hear nothing of the pointer; leaving every
// button is an out.
TEST_F(ButtonsTest, WhileOneIsHeldTheOthersHearNoPointerAndLeavingAllIsAnOut) {
    ASSERT_EQ(MakeSimple(1, 0, 0, 10, 10), 0);
    ASSERT_EQ(MakeSimple(2, 20, 0, 10, 10), 0);
    ASSERT_EQ(MakeSimple(3, 40, 0, 10, 10, false), 0);
    const auto moveTo = [&](int32_t x) {
        d->view.mouseX = x;
        d->view.mouseY = 3;
        d->view.mouseMoved = 1;
        Drain();
    };
    moveTo(45);
    EXPECT_TRUE(out.empty());
    moveTo(3);
    EXPECT_EQ(out, std::vector<std::string>{"over OnMouseOver 1"});
    out.clear();
    Click(3, 3, true);
    Drain();
    moveTo(25);
    EXPECT_EQ(out, (std::vector<std::string>{"down OnMouseDown 1", "out OnMouseOut 1"}));
    out.clear();
    Click(25, 3, false);
    moveTo(26);
    EXPECT_EQ(out, std::vector<std::string>{"over OnMouseOver 2"});
    out.clear();
    moveTo(60);
    EXPECT_EQ(out, std::vector<std::string>{"out OnMouseOut 2"});
}

TEST_F(ButtonsTest, MakeButtonChecksItsArguments) {
    EXPECT_EQ(MakeSimple(1, 0, 0, 0, 5), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("deletebutton", {"#9"}), ERR_FINDBUTTON);
    ASSERT_EQ(MakeSimple(9, 0, 0, 4, 4), 0);
    EXPECT_EQ(Call("disablebutton", {"#9"}), 0);
    Click(1, 1, true);
    Drain();
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(Call("enablebutton", {"#9"}), 0);
    EXPECT_EQ(Call("deletebutton", {"#9"}), 0);
    EXPECT_EQ(Call("deletebutton", {"#9"}), ERR_FINDBUTTON);
}

TEST_F(ButtonsTest, DumpButtonsPrintsTheListNewestFirst) {
    ASSERT_EQ(MakeSimple(1, 0, 0, 10, 10), 0);
    ASSERT_EQ(MakeSimple(2, 20, 5, 3, 4), 0);
    testing::internal::CaptureStdout();
    ASSERT_EQ(Call("dumpbuttons"), 0);
    const std::string text = testing::internal::GetCapturedStdout();
    char head[200];
    std::snprintf(head, sizeof head, "BUTTON SYSTEM INFO - BGPIC: %d (%p)\n", d->bgpic->id, static_cast<void*>(d->bgpic));
    EXPECT_EQ(text, std::string(head) +
                        "sizeof(qbBGPicButton): 100\nButtons: 2\n"
                        "(2) Type: 0 - X1: 20 - Y1: 5 - X2: 22 - Y2: 8\n"
                        "(1) Type: 0 - X1: 0 - Y1: 0 - X2: 9 - Y2: 9\n");
}

// Script functions the registry still holds.
int FunctionRefs(ScriptState* L) {
    VmPushString(L, "n");
    VmRawGet(L, kRegistryIndex);
    const int n = static_cast<int>(VmToNumber(L, -1));
    VmSetTop(L, -2);
    int count = 0;
    for (int ref = 3; ref <= n; ++ref) {
        VmRawGetIndex(L, kRegistryIndex, ref);
        count += VmType(L, -1) == kTypeFunction;
        VmSetTop(L, -2);
    }
    return count;
}

TEST_F(ButtonsTest, AFreedPictureTakesItsButtonsFunctionsAlong) {
    qbBGPic* pic = nullptr;
    ASSERT_EQ(AllocBGPicRecord(NewObjectID{7, 0}, 0, 16, 16, 0, nullptr, nullptr, nullptr, -1, nullptr, nullptr,
                               nullptr, &pic),
              0);
    qbBGPic* own = d->bgpic;
    const int before = FunctionRefs(L);
    d->bgpic = pic;
    SetCurrentOutputBGPic(pic);
    ASSERT_EQ(MakeSimple(1, 0, 0, 10, 10), 0);
    EXPECT_EQ(FunctionRefs(L), before + 4);
    // A walk over its buttons is under way when the picture goes.
    d->view.mouseX = d->view.mouseY = 2;
    d->view.mouseMoved = 1;
    ASSERT_EQ(Check(), 0);
    EXPECT_EQ(out, std::vector<std::string>{"over OnMouseOver 1"});
    out.clear();
    // Shown, it only waits to be freed; once nothing shows it, it goes.
    ASSERT_EQ(FreeBGPicCore(L, ObjectID{7, nullptr}, true), 0);
    d->bgpic = own;
    SetCurrentOutputBGPic(own);
    FreeUnusedPendingBGPics(L);
    EXPECT_EQ(FunctionRefs(L), before);
    d->view.mouseX = 40;
    d->view.mouseMoved = 1;
    Drain();
    EXPECT_TRUE(out.empty());
}

// Layers on and brush 1, 10 x 10 red with a mask: the start of a script
// that shows it as a layer and makes a button of that layer.
constexpr char kMaskedBrushLayer[] = R"(.function main maxstack=12
    GETGLOBAL 0 "enablelayers"
    CALL 0 1 1
    GETGLOBAL 0 "createbrush"
    LOADK 1 #1
    LOADK 2 #10
    LOADK 3 #10
    LOADK 4 #16711680
    NEWTABLE 5 0 1
    SETTABLE 5 "mask" #1
    CALL 0 6 1)";

}  // namespace

TEST_F(ButtonsTest, ALayerButtonIsTheLayersShownBoxAndGoesWithTheLayer) {
    VmPushValue(L, kGlobalsIndex);
    ASSERT_EQ(InitBrushLibrary(L), 0);
    ASSERT_EQ(InitLayersLibrary(L), 0);
    VmSetTop(L, 0);
    ASSERT_EQ(Run(std::string(kMaskedBrushLayer) + R"(
    GETGLOBAL 0 "displaybrush"
    LOADK 1 #1
    LOADK 2 #20
    LOADK 3 #20
    NEWTABLE 4 0 1
    SETTABLE 4 "name" "knob"
    CALL 0 5 1
    GETGLOBAL 0 "makebutton"
    LOADK 1 #7
    LOADK 2 #1
    LOADK 3 "knob"
    LOADK 4 #1
    LOADK 5 #0
    NEWTABLE 6 0 1
    GETGLOBAL 7 "down"
    SETTABLE 6 "onmousedown" 7
    CALL 0 7 1
    RETURN 0 1
.end
)"),
              0);
    qbBrush* brush = nullptr;
    ASSERT_EQ(GetBrushRecord(nullptr, ObjectID{1, nullptr}, &brush, 0), 0);
    WriteBitmapPixel(brush->mask, 0, 0, kMaskInvisible, true);  // pixel-exact: a hole at the corner
    for (const auto& miss : {std::pair{20, 20}, std::pair{30, 25}, std::pair{19, 25}}) Click(miss.first, miss.second, true);
    Drain();
    EXPECT_TRUE(out.empty());
    Click(29, 29, true);
    Drain();
    EXPECT_EQ(out, std::vector<std::string>{"down OnMouseDown 7"});
    out.clear();

    EXPECT_EQ(Run(".function main maxstack=8\n    GETGLOBAL 0 \"makebutton\"\n    LOADK 1 #8\n    LOADK 2 #1\n"
                  "    LOADK 3 #5\n    LOADK 4 #0\n    LOADK 5 #0\n    NEWTABLE 6 0 1\n    GETGLOBAL 7 \"down\"\n"
                  "    SETTABLE 6 \"onmousedown\" 7\n    CALL 0 7 1\n    RETURN 0 1\n.end\n"),
              ERR_LAYERRANGE);
    // Undo(#BRUSH, 1) frees the layer and its button with it.
    ASSERT_EQ(Run(".function main maxstack=4\n    GETGLOBAL 0 \"undo\"\n    LOADK 1 #3\n    LOADK 2 #1\n"
                  "    CALL 0 3 1\n    RETURN 0 1\n.end\n"),
              0);
    Click(25, 25, true);
    Drain();
    EXPECT_TRUE(out.empty());
    FreeAllBrushes(L);
    ClearLayerSources();
    FreeLayersLibrary(L);
}

TEST_F(ButtonsTest, UnderTheLayerScalingEngineClicksAreInThePicturesCoordinates) {
    VmPushValue(L, kGlobalsIndex);
    ASSERT_EQ(InitBrushLibrary(L), 0);
    ASSERT_EQ(InitLayersLibrary(L), 0);
    VmSetTop(L, 0);
    const std::string w = std::to_string(d->width * 2), h = std::to_string(d->height * 2);
    ASSERT_EQ(Run(R"(.function main maxstack=12
    GETGLOBAL 0 "setdisplayattributes"
    NEWTABLE 1 0 3
    SETTABLE 1 "scalemode" #2
    SETTABLE 1 "scalewidth" #)" + w + R"(
    SETTABLE 1 "scaleheight" #)" + h + R"(
    CALL 0 2 1
    GETGLOBAL 0 "enablelayers"
    CALL 0 1 1
    GETGLOBAL 0 "createbrush"
    LOADK 1 #1
    LOADK 2 #10
    LOADK 3 #10
    LOADK 4 #16711680
    CALL 0 5 1
    GETGLOBAL 0 "displaybrush"
    LOADK 1 #1
    LOADK 2 #20
    LOADK 3 #20
    NEWTABLE 4 0 1
    SETTABLE 4 "name" "knob"
    CALL 0 5 1
    GETGLOBAL 0 "makebutton"
    LOADK 1 #7
    LOADK 2 #1
    LOADK 3 "knob"
    LOADK 4 #1
    LOADK 5 #0
    NEWTABLE 6 0 1
    GETGLOBAL 7 "down"
    SETTABLE 6 "onmousedown" 7
    CALL 0 7 1
    RETURN 0 1
.end
)"),
              0);
    ASSERT_EQ(d->scaleX, 2.0);
    ASSERT_EQ(MakeSimple(3, 20, 60, 10, 10), 0);
    // The picture's (20, 60) is the window's (40, 120); its (20, 20) (40, 40).
    for (const auto& miss : {std::pair{38, 118}, std::pair{25, 25}, std::pair{61, 61}}) Click(miss.first, miss.second, true);
    Drain();
    EXPECT_TRUE(out.empty());
    Click(44, 124, true);
    Click(45, 45, true);
    Drain();
    EXPECT_EQ(out, (std::vector<std::string>{"down OnMouseDown 3", "down OnMouseDown 7"}));
    FreeAllBrushes(L);
    ClearLayerSources();
    FreeLayersLibrary(L);
}

TEST_F(ButtonsTest, ALayerButtonsMessageNamesItsLayer) {
    VmPushValue(L, kGlobalsIndex);
    ASSERT_EQ(InitBrushLibrary(L), 0);
    ASSERT_EQ(InitLayersLibrary(L), 0);
    VmSetTop(L, 0);
    Define("where", "    GETGLOBAL 1 \"emit\"\n    GETTABLE 2 0 \"id\"\n    GETTABLE 3 0 \"layer\"\n"
                    "    GETTABLE 4 0 \"layername\"\n    CALL 1 4 1\n    RETURN 0 1\n");
    // Layer 1 unnamed at 0, 0; layer 2 "knob" at 20, 20; a button on each.
    ASSERT_EQ(Run(R"(.function main maxstack=12
    GETGLOBAL 0 "enablelayers"
    CALL 0 1 1
    GETGLOBAL 0 "createbrush"
    LOADK 1 #1
    LOADK 2 #10
    LOADK 3 #10
    LOADK 4 #16711680
    CALL 0 5 1
    GETGLOBAL 0 "displaybrush"
    LOADK 1 #1
    LOADK 2 #0
    LOADK 3 #0
    CALL 0 4 1
    GETGLOBAL 0 "displaybrush"
    LOADK 1 #1
    LOADK 2 #20
    LOADK 3 #20
    NEWTABLE 4 0 1
    SETTABLE 4 "name" "knob"
    CALL 0 5 1
    GETGLOBAL 0 "makebutton"
    LOADK 1 #5
    LOADK 2 #1
    LOADK 3 "knob"
    LOADK 4 #0
    LOADK 5 #0
    NEWTABLE 6 0 1
    GETGLOBAL 7 "where"
    SETTABLE 6 "onmousedown" 7
    CALL 0 7 1
    GETGLOBAL 0 "makebutton"
    LOADK 1 #6
    LOADK 2 #1
    LOADK 3 #1
    LOADK 4 #0
    LOADK 5 #0
    NEWTABLE 6 0 1
    GETGLOBAL 7 "where"
    SETTABLE 6 "onmousedown" 7
    CALL 0 7 1
    RETURN 0 1
.end
)"),
              0);
    Click(25, 25, true);
    Click(5, 5, true);
    Drain();
    EXPECT_EQ(out, (std::vector<std::string>{"5 2 knob", "6 1 "}));
    FreeAllBrushes(L);
    ClearLayerSources();
    FreeLayersLibrary(L);
}

TEST_F(ButtonsTest, AButtonsMessageGivesItsSize) {
    DefineEmitter("down", "down", "width");
    DefineEmitter("up", "up", "height");
    ASSERT_EQ(MakeSimple(3, 5, 5, 4, 3), 0);
    Click(6, 6, true);
    Click(6, 6, false);
    Drain();
    EXPECT_EQ(out, (std::vector<std::string>{"down OnMouseDown 4", "up OnMouseUp 3"}));
}

// Without the pixel-exact flag a layer button is its layer's whole box,
// holes in its mask included.
TEST_F(ButtonsTest, ALayerButtonTakesItsBoxByDefault) {
    VmPushValue(L, kGlobalsIndex);
    ASSERT_EQ(InitBrushLibrary(L), 0);
    ASSERT_EQ(InitLayersLibrary(L), 0);
    VmSetTop(L, 0);
    ASSERT_EQ(Run(std::string(kMaskedBrushLayer) + R"(
    GETGLOBAL 0 "displaybrush"
    LOADK 1 #1
    LOADK 2 #20
    LOADK 3 #20
    CALL 0 4 1
    GETGLOBAL 0 "makebutton"
    LOADK 1 #7
    LOADK 2 #1
    LOADK 3 #1
    LOADNIL 4 5
    NEWTABLE 6 0 1
    GETGLOBAL 7 "down"
    SETTABLE 6 "onmousedown" 7
    CALL 0 7 1
    RETURN 0 1
.end
)"),
              0);
    qbBrush* brush = nullptr;
    ASSERT_EQ(GetBrushRecord(nullptr, ObjectID{1, nullptr}, &brush, 0), 0);
    WriteBitmapPixel(brush->mask, 0, 0, kMaskInvisible, true);
    Click(20, 20, true);
    Drain();
    EXPECT_EQ(out, std::vector<std::string>{"down OnMouseDown 7"});
    FreeAllBrushes(L);
    ClearLayerSources();
    FreeLayersLibrary(L);
}
