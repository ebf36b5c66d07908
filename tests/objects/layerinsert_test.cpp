// Layers made by command (InsertLayer, CreateLayer), the video-layer
// commands' refusals, drawing into a layer (SelectLayer and the layer case
// of output selection) and a layer's picture replaced in place.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "core/applet.h"
#include "core/errcodes.h"
#include "core/preproc.h"
#include "core/runstate.h"
#include "display/bgpics.h"
#include "display/output.h"
#include "draw/draw.h"
#include "imaging/blit.h"
#include "objects/bgpiclib.h"
#include "objects/layercmds.h"
#include "objects/layerdraw.h"
#include "show_fixture.h"

namespace {

constexpr uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF;

int CountBrushes() {
    int n = 0;
    for (const qbBrush* b = FirstBrush(); b; b = static_cast<const qbBrush*>(b->next)) ++n;
    return n;
}

// The draw library for one test: its shape hooks are the process's, gone
// again for the tests after.
struct DrawLibrary {
    explicit DrawLibrary(ScriptState* state) : L(state) {
        VmPushValue(L, kGlobalsIndex);
        err = InitDrawLibrary(L);
        VmSetTop(L, 0);
    }
    ~DrawLibrary() { FreeDrawLibrary(L); }
    DrawLibrary(const DrawLibrary&) = delete;
    DrawLibrary& operator=(const DrawLibrary&) = delete;
    ScriptState* L;
    int err = 0;
};

class LayerInsertTest : public ShowWorld {
protected:
    void SetUp() override {
        ShowWorld::SetUp();
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitBGPicLibrary(L_), 0);
        VmSetTop(L_, 0);
        MakeBrush(1, 10, 10, kRed);
        MakeBrush(2, 10, 10, kGreen);
        MakeBrush(3, 10, 10, kBlue);
    }
    void TearDown() override {
        if (appletSet_) {
            applet_.appletFlag = 0;
            SetMainState(oldMain_);
        }
        ShowWorld::TearDown();
    }
    // The running applet was compiled by major.minor.
    void AppletVersion(int major, int minor) {
        if (!appletSet_) {
            oldMain_ = GetMainState();
            SetMainState(L_);
            VmRegistrySetLightUserdata(L_, "applet", &applet_);
            appletSet_ = true;
        }
        applet_.appletFlag = 1;
        applet_.versionMajor = major;
        applet_.versionMinor = minor;
    }
    qbLayer* Layer(int32_t n) { return GetLayerByIndex(display_->bgpic, n); }
    int Insert(double pos, double type, double id, double x, double y) {
        return RunNumbers("InsertLayer", {pos, type, id, x, y});
    }
    void Three() {
        ASSERT_EQ(Run("EnableLayers", 0), 0);
        ASSERT_EQ(Insert(0, 3, 1, 10, 10), 0);
        ASSERT_EQ(Insert(0, 3, 2, 15, 15), 0);
        ASSERT_EQ(Insert(0, 3, 3, 20, 20), 0);
    }

    qbApplet applet_;
    ScriptState* oldMain_ = nullptr;
    bool appletSet_ = false;
};

}  // namespace

TEST_F(LayerInsertTest, InsertLayerPositionsAndTypes) {
    EXPECT_EQ(Insert(0, 3, 1, 0, 0), ERR_NOLAYERS);
    Three();
    EXPECT_EQ(Layer(3)->id.number, 3);
    EXPECT_EQ(Real(24, 24), kBlue);
    // Past the top is the top; a position below shows only where uncovered.
    ASSERT_EQ(Insert(10, 3, 1, 30, 30), 0);
    EXPECT_EQ(CountLayers(display_->bgpic), 4);
    EXPECT_EQ(Layer(4)->id.number, 1);
    EXPECT_EQ(Real(35, 35), kRed);
    ASSERT_EQ(Insert(1, 3, 3, 5, 5), 0);
    EXPECT_EQ(Layer(1)->id.number, 3);
    EXPECT_EQ(Real(7, 7), kBlue);
    EXPECT_EQ(Real(12, 12), kRed);
    // By name: the new layer goes in at that layer's place.
    Layer(3)->name = "green";
    VmPushString(L_, "green");
    for (double a : {3.0, 2.0, 50.0, 50.0}) VmPushNumber(L_, a);
    ASSERT_EQ(Run("InsertLayer", 5), 0);
    EXPECT_EQ(Layer(3)->id.number, 2);
    EXPECT_EQ(Layer(4)->name, "green");
    EXPECT_EQ(Insert(-1, 3, 1, 0, 0), ERR_INVINSERT);
    EXPECT_EQ(Insert(0, 3, 9, 0, 0), ERR_FINDBRUSH);
    EXPECT_EQ(Insert(0, 14, 1, 0, 0), ERR_WRONGUSAGE);
    EXPECT_EQ(Insert(0, 4, 1, 0, 0), ERR_FINDANIM);  // no anim 1
    // No text object 1 (nor, here, the text library that keeps them).
    EXPECT_EQ(Insert(0, 8, 1, 0, 0), ERR_FINDTEXTOBJECT);
    EXPECT_EQ(Insert(0, 50, 1, 0, 0), ERR_FINDVIDEO);  // no video library here
    AppletVersion(5, 9);
    EXPECT_EQ(Insert(0, 50, 1, 0, 0), ERR_OLDAPPLET);
    EXPECT_EQ(CountLayers(display_->bgpic), 6);
    // Hidden: in the stack, not on screen; a position constant resolves
    // against the brush.
    ASSERT_EQ(RunNumbers("InsertLayer", {0, 3, 1, kCenterPosition, 0, 1}), 0);
    EXPECT_EQ(Layer(7)->hidden, 1);
    EXPECT_EQ(Layer(7)->basestate->x, 45);
}

TEST_F(LayerInsertTest, VideoCommandsRefuseOtherLayers) {
    Three();
    EXPECT_EQ(RunNumbers("PauseLayer", {1}), ERR_BADLAYERTYPE);
    EXPECT_EQ(RunNumbers("PlayLayer", {3}), ERR_BADLAYERTYPE);
    EXPECT_EQ(RunNumbers("SeekLayer", {2, 10}), ERR_BADLAYERTYPE);
    VmPushNumber(L_, 1);
    VmPushString(L_, "50%");
    EXPECT_EQ(Run("SetLayerVolume", 2), ERR_BADLAYERTYPE);
    EXPECT_EQ(RunNumbers("StopLayer", {4}), ERR_LAYERRANGE);
    EXPECT_EQ(RunNumbers("ResumeLayer", {1, 2}), ERR_TOOMANYARGS);
    AppletVersion(5, 0);
    EXPECT_EQ(RunNumbers("PauseLayer", {1}), ERR_OLDAPPLET);
    ASSERT_EQ(Run("DisableLayers", 0), 0);
    AppletVersion(6, 0);
    EXPECT_EQ(RunNumbers("PauseLayer", {1}), ERR_NOLAYERS);
}

TEST_F(LayerInsertTest, CreateLayerMakesAPrivateBrushThatGoesWithTheLayer) {
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    const int before = CountBrushes();
    auto create = [&](auto fill) { return Show("CreateLayer", {5, 5, 20, 10}, fill); };
    EXPECT_EQ(create([&] {
                  SetTableFieldInt(L_, "mask", 1);
                  SetTableFieldInt(L_, "alphachannel", 1);
              }),
              ERR_WRONGUSAGE);
    EXPECT_EQ(create([&] { SetTableFieldInt(L_, "frames", -1); }), ERR_WRONGUSAGE);
    EXPECT_EQ(create([&] { SetTableFieldInt(L_, "frames", 3); }), ERR_UNSUPPORTEDFEAT);
    EXPECT_EQ(RunNumbers("CreateLayer", {5, 5, 0, 10}), ERR_BADDIMENSIONS);
    EXPECT_EQ(CountBrushes(), before);
    EXPECT_EQ(CountLayers(display_->bgpic), 0);

    ASSERT_EQ(create([&] {
                  SetTableFieldInt(L_, "color", kGreen);
                  SetTableFieldString(L_, "name", "made");
              }),
              0);
    ASSERT_EQ(CountLayers(display_->bgpic), 1);
    EXPECT_EQ(Layer(1)->name, "made");
    EXPECT_EQ(Real(5, 5), kGreen);
    EXPECT_EQ(Real(24, 14), kGreen);
    EXPECT_EQ(Real(25, 14), 0u);
    EXPECT_EQ(CountBrushes(), before + 1);
    // No script id reaches the brush.
    EXPECT_EQ(Layer(1)->id.number, 0);
    // Fully clear: nothing shows.
    ASSERT_EQ(create([&] {
                  SetTableFieldInt(L_, "color", kRed);
                  SetTableFieldInt(L_, "alphachannel", 1);
                  SetTableFieldInt(L_, "clear", 1);
              }),
              0);
    EXPECT_EQ(Real(6, 6), kGreen);
    ASSERT_EQ(RunNumbers("RemoveLayer", {1}), 0);
    ASSERT_EQ(RunNumbers("RemoveLayer", {1}), 0);
    EXPECT_EQ(CountBrushes(), before);
    // With layers off it is drawn, and nothing stays behind.
    ASSERT_EQ(Run("DisableLayers", 0), 0);
    ASSERT_EQ(create([&] { SetTableFieldInt(L_, "color", kBlue); }), 0);
    EXPECT_EQ(Shown(10, 10), kBlue);
    EXPECT_EQ(CountBrushes(), before);
}

TEST_F(LayerInsertTest, DrawingIntoASelectedLayerLeavesTheScriptsBrush) {
    Three();
    ASSERT_EQ(RunNumbers("SelectLayer", {1}), 0);
    EXPECT_EQ(display_->output.type, kOutputBrush);
    // Layer commands wait for the selection to end.
    EXPECT_NE(RunNumbers("HideLayer", {1}), 0);
    ASSERT_EQ(Show("DisplayBrush", {3, 0, 0}), 0);
    ASSERT_EQ(Run("EndSelect", 0), 0);
    EXPECT_EQ(Real(12, 12), kBlue);
    EXPECT_EQ(Real(14, 14), kBlue);
    qbBrush* script = nullptr;
    ASSERT_EQ(GetBrushRecord(L_, ObjectID{1, nullptr}, &script, 0), 0);
    EXPECT_EQ(ReadBitmapPixel(script->bitmap, 2, 2, false), kRed);
    EXPECT_NE(Layer(1)->id.number, 1);
    // The layer's own brush is drawn into in place the next time.
    const ObjectID own = Layer(1)->id;
    ASSERT_EQ(RunNumbers("SelectLayer", {1}), 0);
    ASSERT_EQ(Show("DisplayBrush", {2, 0, 0}), 0);
    ASSERT_EQ(Run("EndSelect", 0), 0);
    EXPECT_TRUE(Layer(1)->id == own);
    EXPECT_EQ(Real(12, 12), kGreen);
    // An alpha channel selected on the layer is made for its brush.
    ASSERT_EQ(RunNumbers("SelectAlphaChannel", {1, 22}), 0);
    ASSERT_EQ(Show("DisplayBrush", {2, 0, 0}), 0);
    qbBitmap** mask = nullptr;
    qbBitmap** alpha = nullptr;
    GetLayerPlaneSlots(L_, Layer(1), 0, &mask, &alpha);
    ASSERT_NE(alpha, nullptr);
    EXPECT_NE(*alpha, nullptr);
    EXPECT_EQ(*mask, nullptr);
    ASSERT_EQ(Run("EndSelect", 0), 0);
    // Frames are for anim layers; a missing layer is out of range.
    EXPECT_EQ(RunNumbers("SelectMask", {1, 22, 2}), ERR_NOANMLAYER);
    EXPECT_EQ(RunNumbers("SelectLayer", {4}), ERR_LAYERRANGE);
    EXPECT_EQ(display_->output.type, kObjectTypeDisplay);
}

// Drawing into a layer reaches every edge of its picture and stops there,
// on each axis: a tall and a wide brush, a part of a tall BGPic, and a
// shape, each painted over whole.
TEST_F(LayerInsertTest, DrawingIntoALayerFillsItsPictureToEachEdgeAndNoFurther) {
    const DrawLibrary drawLibrary(L_);
    ASSERT_EQ(drawLibrary.err, 0);
    MakeBrush(4, 6, 16, kRed);
    MakeBrush(5, 16, 6, kRed);
    MakeBrush(6, 60, 60, kGreen);
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(Show("SetFillStyle", {FILLCOLOR}), 0);
    ASSERT_EQ(Show("Box", {70, 40, 6, 26, kRed}), 0);
    ASSERT_EQ(Insert(0, 3, 4, 3, 5), 0);
    ASSERT_EQ(Insert(0, 3, 5, 20, 50), 0);
    ASSERT_EQ(Show("CreateBGPic", {7, 12, 26, kBlue}), 0);
    ASSERT_EQ(Show("DisplayBGPicPart", {7, 0, 14, 12, 12, 40, 10}), 0);
    struct Shape {
        int32_t x, y, w, h;
    };
    // Box, tall brush, wide brush, BGPic part: layers 1 to 4.
    const Shape shapes[] = {{70, 40, 6, 26}, {3, 5, 6, 16}, {20, 50, 16, 6}, {40, 10, 12, 12}};
    for (int32_t n = 1; n <= 4; ++n) {
        ASSERT_EQ(RunNumbers("SelectLayer", {double(n)}), 0);
        ASSERT_EQ(Show("DisplayBrush", {6, 0, 0}), 0);
        ASSERT_EQ(Run("EndSelect", 0), 0);
    }
    for (const Shape& c : shapes) {
        SCOPED_TRACE(testing::Message() << c.x << "," << c.y);
        const int32_t right = c.x + c.w - 1, bottom = c.y + c.h - 1;
        for (const auto& [x, y] : {std::pair{c.x, c.y}, {right, c.y}, {c.x, bottom}, {right, bottom}})
            EXPECT_EQ(Real(x, y), kGreen) << x << "," << y;
        EXPECT_NE(Real(right + 1, bottom), kGreen);
        EXPECT_NE(Real(right, bottom + 1), kGreen);
    }
}

TEST_F(LayerInsertTest, PlaneSlotsOfBGPicParts) {
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(Show("CreateBGPic", {5, 30, 30, kBlue}), 0);
    ASSERT_EQ(Show("DisplayBGPicPart", {5, 0, 0, 10, 10, 40, 40}), 0);
    qbBGPic* p = nullptr;
    ASSERT_EQ(GetBGPic(L_, ObjectID{5, nullptr}, &p, 0), 0);
    qbBitmap** mask = nullptr;
    qbBitmap** alpha = nullptr;
    GetLayerPlaneSlots(L_, Layer(1), 0, &mask, &alpha);
    EXPECT_EQ(mask, &p->initial.mask);
    EXPECT_EQ(alpha, &p->initial.alpha);
    // Drawing into it gives the layer a BGPic of its own.
    ASSERT_EQ(RunNumbers("SelectLayer", {1}), 0);
    ASSERT_EQ(Show("DisplayBrush", {1, 5, 5}), 0);
    ASSERT_EQ(Run("EndSelect", 0), 0);
    EXPECT_EQ(Real(42, 42), kBlue);
    EXPECT_EQ(Real(47, 47), kRed);
    EXPECT_EQ(ReadBitmapPixel(p->initial.bitmap, 2, 2, false), kBlue);
    // Types without planes to draw into have no slots.
    const int32_t type = Layer(1)->type;
    Layer(1)->type = kLayerBox;
    GetLayerPlaneSlots(L_, Layer(1), 0, &mask, &alpha);
    EXPECT_EQ(mask, nullptr);
    EXPECT_EQ(alpha, nullptr);
    Layer(1)->type = type;
}

TEST_F(LayerInsertTest, ReplacedPictureKeepsPlaceStyleAndLongName) {
    Three();
    const std::string name(200, 'n');
    VmPushNumber(L_, 2);
    VmPushString(L_, name.c_str());
    ASSERT_EQ(Run("SetLayerName", 2), 0);
    // Wider than tall, so that each side shows where it ends.
    qbBitmap* frame = AllocBitmap(12, 4, 0, nullptr);
    ASSERT_NE(frame, nullptr);
    FillBitmapRect(frame, 0, 0, 12, 4, kRed);
    qbLayer* layer = Layer(2);
    ASSERT_EQ(ReplaceLayerImage(L_, display_, &layer, frame), 0);
    EXPECT_EQ(layer, Layer(2));
    EXPECT_EQ(layer->name, name);
    EXPECT_EQ(CountLayers(display_->bgpic), 3);
    EXPECT_EQ(layer->basestate->x, 15);
    VmSetTop(L_, 0);
    VmPushString(L_, name.c_str());
    ASSERT_EQ(Run("LayerExists", 1, 1), 0);
    EXPECT_EQ(VmToNumber(L_, -1), 1);
    VmSetTop(L_, 0);
    EXPECT_EQ(Real(17, 17), kRed);
    EXPECT_EQ(Real(26, 18), kRed);
    EXPECT_NE(Real(26, 19), kRed);
    EXPECT_NE(Real(27, 16), kRed);
    EXPECT_EQ(Real(21, 21), kBlue);
    // The script's brush 2 is as it was.
    qbBrush* script = nullptr;
    ASSERT_EQ(GetBrushRecord(L_, ObjectID{2, nullptr}, &script, 0), 0);
    EXPECT_EQ(ReadBitmapPixel(script->bitmap, 2, 2, false), kGreen);
    // Other layer types are refused, the bitmap freed.
    const int32_t type = layer->type;
    layer->type = kLayerBox;
    EXPECT_EQ(ReplaceLayerImage(L_, display_, &layer, AllocBitmap(4, 4, 0, nullptr)), ERR_BADLAYERTYPE);
    layer->type = type;
}

TEST_F(LayerInsertTest, ATransformedLayerDrawnIntoIsRebuilt) {
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(Insert(0, 3, 1, 50, 50), 0);
    ASSERT_EQ(RunNumbers("ScaleLayer", {1, 20, 20}), 0);
    ASSERT_EQ(Real(68, 68), kRed);
    ASSERT_EQ(RunNumbers("SelectLayer", {1}), 0);
    ASSERT_EQ(Show("DisplayBrush", {3, 5, 5}), 0);
    ASSERT_EQ(Run("EndSelect", 0), 0);
    // The drawn quarter, scaled with the rest.
    EXPECT_EQ(Real(52, 52), kRed);
    EXPECT_EQ(Real(68, 68), kBlue);
    EXPECT_EQ(Layer(1)->transformedstate->shownwidth, 20);
}

// A shape layer drawn into becomes a picture of the shape with the drawing on it.
TEST_F(LayerInsertTest, DrawingIntoABoxLayerKeepsTheBox) {
    const DrawLibrary drawLibrary(L_);
    ASSERT_EQ(drawLibrary.err, 0);
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(Show("SetFillStyle", {FILLCOLOR}), 0);
    ASSERT_EQ(Show("Box", {10, 10, 30, 20, kGreen}), 0);
    ASSERT_EQ(RunNumbers("SelectLayer", {1}), 0);
    ASSERT_EQ(Show("DisplayBrush", {1, 0, 0}), 0);
    ASSERT_EQ(Run("EndSelect", 0), 0);
    EXPECT_EQ(Real(12, 12), kRed);
    EXPECT_EQ(Real(35, 25), kGreen);
    EXPECT_EQ(Real(5, 5), 0u);
}

// SelectLayer's combination mode defaults to 0: a translucent brush drawn
// into a layer with an alpha channel replaces its colour and its alpha.
TEST_F(LayerInsertTest, ALayerSelectedWithItsPlanesTakesTheColourWholeByDefault) {
    ASSERT_EQ(RunNumbers("SelectAlphaChannel", {2}), 0);
    ASSERT_EQ(Show("DisplayBrush", {3, 0, 0}), 0);
    ASSERT_EQ(Run("EndSelect", 0), 0);
    ASSERT_EQ(RunNumbers("SelectAlphaChannel", {1}), 0);
    ASSERT_EQ(RunNumbers("SetAlphaIntensity", {100}), 0);
    ASSERT_EQ(Show("DisplayBrush", {3, 0, 0}), 0);
    ASSERT_EQ(Run("EndSelect", 0), 0);
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(Insert(0, 3, 2, 0, 0), 0);
    ASSERT_EQ(RunNumbers("SelectLayer", {1, 1}), 0);  // #SELMODE_COMBO
    ASSERT_EQ(Show("DisplayBrush", {1, 0, 0}), 0);
    ASSERT_EQ(Run("EndSelect", 0), 0);
    qbBitmap** mask = nullptr;
    qbBitmap** alpha = nullptr;
    GetLayerPlaneSlots(L_, Layer(1), 0, &mask, &alpha);
    ASSERT_TRUE(alpha && *alpha);
    EXPECT_EQ((*alpha)->plane->data[5 * (*alpha)->plane->rowBytes + 5], 100);
    EXPECT_EQ(Real(5, 5), 0x640000u);  // red at 100/255 over black
}
