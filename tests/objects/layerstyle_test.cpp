// Layer styles through the commands: keys read back, bad values refused
// with the layer unchanged, groups, a failing pair after a good one, the
// pixels of rotated and scaled layers, the one refresh of a move, the
// matrix split into rotation and scale, and layers rebuilt at the
// display's scale.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "core/objectlist.h"
#include "core/errcodes.h"
#include "display/bgpics.h"
#include "imaging/transform.h"
#include "objects/dirtyrects.h"
#include "objects/layergeometry.h"
#include "objects/objectoptions.h"
#include "show_fixture.h"

namespace {

constexpr uint32_t kRed = 0xFF0000, kGreen = 0x00FF00;

class LayerStyleTest : public ShowWorld {
protected:
    void SetUp() override {
        ShowWorld::SetUp();
        ASSERT_EQ(Run("EnableLayers", 0), 0);
        MakeBrush(1, 10, 10, kRed);
        MakeBrush(2, 10, 10, kGreen);
    }
    qbBGPic* Picture() { return display_->bgpic; }
    qbLayer* Layer(int32_t n) { return GetLayerByIndex(Picture(), n); }
    int Add(int32_t id, int32_t x, int32_t y, const char* name = nullptr) {
        return Show("DisplayBrush", {double(id), double(x), double(y)}, [&] {
            if (name) SetTableFieldString(L_, "name", name);
        });
    }
    // SetLayerStyle(layer, {...}) with the table built by fill.
    int Style(int32_t layer, const std::function<void()>& fill) {
        VmPushNumber(L_, layer);
        VmPushNewTable(L_);
        fill();
        return Run("SetLayerStyle", 2);
    }
    int StyleNamed(const char* layer, const std::function<void()>& fill) {
        VmPushString(L_, layer);
        VmPushNewTable(L_);
        fill();
        return Run("SetLayerStyle", 2);
    }
    void Quad(const char* key, double a, double b, double c, double d) {
        VmPushString(L_, key);
        VmPushNewTable(L_);
        const double v[4] = {a, b, c, d};
        for (int i = 0; i < 4; ++i) {
            VmPushNumber(L_, v[i]);
            VmRawSetIndex(L_, -2, i);
        }
        VmSetTableAt(L_, -3);
    }
    // One number of GetLayerStyle(layer).
    double Get(int32_t layer, const char* key) {
        VmSetTop(L_, 0);
        VmPushNumber(L_, layer);
        EXPECT_EQ(Run("GetLayerStyle", 1, 1), 0);
        double v = -12345;
        GetTableFieldFloat(L_, -1, key, &v, nullptr);
        VmSetTop(L_, 0);
        return v;
    }
    std::string GetText(int32_t layer, const char* key) {
        VmSetTop(L_, 0);
        VmPushNumber(L_, layer);
        EXPECT_EQ(Run("GetLayerStyle", 1, 1), 0);
        const char* s = "?";
        GetTableFieldString(L_, -1, key, &s, nullptr);
        std::string out = s;
        VmSetTop(L_, 0);
        return out;
    }
    std::vector<double> GetMatrix(int32_t layer) {
        VmSetTop(L_, 0);
        VmPushNumber(L_, layer);
        EXPECT_EQ(Run("GetLayerStyle", 1, 1), 0);
        double q[4] = {-1, -1, -1, -1};
        GetTableFieldQuad(L_, -1, "transform", q, nullptr);
        VmSetTop(L_, 0);
        return {q[0], q[1], q[2], q[3]};
    }
};

}  // namespace

TEST_F(LayerStyleTest, KeysReadBackClampedAndReduced) {
    ASSERT_EQ(Add(1, 5, 5), 0);
    EXPECT_EQ(GetMatrix(1), (std::vector<double>{1, 0, 0, 1}));
    EXPECT_EQ(GetText(1, "name"), "");
    EXPECT_EQ(Get(1, "type"), 3);
    ASSERT_EQ(Style(1, [&] {
                  SetTableFieldInt(L_, "transparency", 300);
                  SetTableFieldInt(L_, "tint", -5);
                  SetTableFieldInt(L_, "rotate", 370);
                  SetTableFieldInt(L_, "x", 40);
              }),
              0);
    EXPECT_EQ(Get(1, "transparency"), 255);
    EXPECT_EQ(Get(1, "tint"), 0);
    EXPECT_EQ(Get(1, "rotate"), 10);
    EXPECT_EQ(Get(1, "x"), 40);
    EXPECT_EQ(Get(1, "y"), 5);
    ASSERT_EQ(Style(1, [&] {
                  SetTableFieldString(L_, "transparency", "50%");
                  SetTableFieldString(L_, "tint", "100%");
                  SetTableFieldUInt(L_, "tintcolor", 0x123456);
              }),
              0);
    EXPECT_EQ(Get(1, "transparency"), 127);
    EXPECT_EQ(Get(1, "tint"), 255);
    EXPECT_EQ(Get(1, "tintcolor"), 0x123456);
    EXPECT_EQ(Get(1, "z"), 1);
    VmPushString(L_, "nobody");
    EXPECT_EQ(Run("GetLayerStyle", 1, 1), ERR_FINDLAYER);
    EXPECT_EQ(RunNumbers("GetLayerStyle", {2}), ERR_LAYERRANGE);
}

TEST_F(LayerStyleTest, BadValuesFailAndLeaveTheLayerAsItWas) {
    ASSERT_EQ(Add(1, 5, 5), 0);
    qbLayerState* shown = Layer(1)->shownstate;
    const struct {
        std::function<void()> fill;
        int code;
    } cases[] = {
        {[&] { SetTableFieldInt(L_, "type", 50); }, ERR_WRONGUSAGE},
        {[&] { Quad("transform", 0, 1, -1, 0); }, ERR_WRONGUSAGE},
        {[&] { SetTableFieldInt(L_, "scalex", 0); }, ERR_BADDIMENSIONS},
        {[&] { SetTableFieldInt(L_, "width", -1); }, ERR_BADDIMENSIONS},
        {[&] { SetTableFieldFloat(L_, "anchorx", 1.5); }, ERR_WRONGUSAGE},
        {[&] { SetTableFieldFloat(L_, "x", std::nan("")); }, ERR_WRONGUSAGE},
        {[&] { SetTableFieldFloat(L_, "rotate", INFINITY); }, ERR_WRONGUSAGE},
        {[&] { SetTableFieldInt(L_, "type", 14); }, ERR_UNSUPPORTEDFEAT},
        {[&] { SetTableFieldInt(L_, "partx", 10); }, ERR_COORDSRANGE},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Style(1, [&] {
                      SetTableFieldInt(L_, "x", 70);  // read first, never applied
                      c.fill();
                  }),
                  c.code);
        EXPECT_EQ(Get(1, "x"), 5);
        EXPECT_EQ(Get(1, "type"), 3);
        EXPECT_EQ(GetMatrix(1), (std::vector<double>{1, 0, 0, 1}));
        EXPECT_EQ(Layer(1)->shownstate, shown);
    }
    EXPECT_EQ(Window(7, 7), kRed);
    EXPECT_EQ(RunNumbers("SetLayerStyle", {1, 2}), ERR_TABEXPECTED);
    VmPushNumber(L_, 1);
    VmPushNewTable(L_);
    VmPushNumber(L_, 1);
    EXPECT_EQ(Run("SetLayerStyle", 3), ERR_TABEXPECTED);
}

TEST_F(LayerStyleTest, APartKeyMakesABrushPartLayerAndANewIdShowsTheOtherBrush) {
    ASSERT_EQ(Add(1, 0, 0), 0);
    ASSERT_EQ(Style(1, [&] { SetTableFieldInt(L_, "partx", 0); }), 0);
    EXPECT_EQ(Get(1, "type"), 12);
    ASSERT_EQ(Style(1, [&] {
                  SetTableFieldInt(L_, "id", 2);
                  SetTableFieldInt(L_, "partwidth", 4);
              }),
              0);
    EXPECT_EQ(Get(1, "partwidth"), 4);
    EXPECT_EQ(Get(1, "partx"), 0);
    EXPECT_EQ(Window(2, 2), kGreen);
    EXPECT_EQ(Window(6, 2), 0u);
    // Back to a whole brush needs no id; going to another kind of source does.
    ASSERT_EQ(Style(1, [&] { SetTableFieldInt(L_, "type", 3); }), ERR_MISSINGPARAMTR);
    ASSERT_EQ(Style(1, [&] {
                  SetTableFieldInt(L_, "type", 3);
                  SetTableFieldInt(L_, "id", 1);
              }),
              0);
    EXPECT_EQ(Window(6, 2), kRed);
}

TEST_F(LayerStyleTest, AGroupMovesTogetherAndIgnoresTypeKeys) {
    ASSERT_EQ(Add(1, 0, 0), 0);
    ASSERT_EQ(Add(1, 20, 0), 0);
    for (int32_t n : {1, 2}) ASSERT_EQ(Style(n, [&] { SetTableFieldString(L_, "group", "g"); }), 0);
    EXPECT_EQ(GetText(2, "group"), "g");
    ASSERT_EQ(StyleNamed("g", [&] {
                  SetTableFieldInt(L_, "translatex", 5);
                  SetTableFieldInt(L_, "id", 9);
              }),
              0);
    EXPECT_EQ(Get(1, "x"), 5);
    EXPECT_EQ(Get(2, "x"), 25);
    EXPECT_EQ(Get(1, "id"), 1);
    EXPECT_EQ(Window(2, 2), 0u);
    EXPECT_EQ(Window(6, 2), kRed);
    EXPECT_EQ(Add(2, 50, 0, "G"), ERR_NAMEUSED);
    EXPECT_EQ(Style(1, [&] { SetTableFieldString(L_, "group", std::string(256, 'n').c_str()); }),
              ERR_NAMETOOLONG);
    ASSERT_EQ(Style(1, [&] { SetTableFieldString(L_, "group", ""); }), 0);
    EXPECT_EQ(GetText(1, "group"), "");
}

TEST_F(LayerStyleTest, ZPutsTheLayerOnTopAndAClipRegionOfMinusOneGoesFromEveryState) {
    qbClipRegionObject* region = AddRegion(4, 0, 0, 5, 5);
    ASSERT_EQ(Add(1, 0, 0, "a"), 0);
    ASSERT_EQ(Add(2, 0, 0, "b"), 0);
    ASSERT_EQ(Style(1, [&] {
                  SetTableFieldInt(L_, "z", 0);
                  SetTableFieldInt(L_, "clipregion", 4);
                  SetTableFieldInt(L_, "rotate", 90);  // about the centre: the same square
                  SetTableFieldFloat(L_, "anchorx", 0.5);
                  SetTableFieldFloat(L_, "anchory", 0.5);
                  SetTableFieldInt(L_, "x", 5);
                  SetTableFieldInt(L_, "y", 5);
              }),
              0);
    EXPECT_EQ(Layer(2)->name, "a");
    EXPECT_EQ(Get(2, "clipregion"), 4);
    // The turned layer clips with a turned copy: about the centre, the
    // same square.
    const auto* copy = static_cast<const qbClipRegionObject*>(Layer(2)->transformedstate->clipregion);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->temporary, 1);
    EXPECT_EQ(Layer(2)->basestate->clipregion, region);
    EXPECT_EQ(copy->x, 0);
    EXPECT_EQ(copy->y, 1);  // a row lower, as the turned picture
    EXPECT_EQ(copy->width, 5);
    EXPECT_EQ(copy->height, 5);
    EXPECT_EQ(Window(2, 2), kRed);
    EXPECT_EQ(Window(7, 7), kGreen);  // outside the region
    ASSERT_EQ(Style(2, [&] { SetTableFieldInt(L_, "clipregion", -1); }), 0);
    for (qbLayerState* s : {Layer(2)->basestate, Layer(2)->transformedstate, Layer(2)->shownstate})
        EXPECT_EQ(s->clipregion, nullptr);
    EXPECT_EQ(Get(2, "clipregion"), -1);
    EXPECT_EQ(Window(7, 7), kRed);
}

TEST_F(LayerStyleTest, TransformedLayersClipWithTransformedCopiesOfTheirRegion) {
    auto regions = [] {
        int n = 0;
        for (qbObject* o = ClipRegionListHead()->head; o; o = o->next) ++n;
        return n;
    };
    AddRegion(4, 2, 4, 4, 2);
    ASSERT_EQ(Add(1, 0, 0), 0);
    ASSERT_EQ(Style(1, [&] { SetTableFieldInt(L_, "clipregion", 4); }), 0);
    EXPECT_EQ(Window(5, 5), kRed);
    EXPECT_EQ(Window(6, 5), 0u);

    // Doubled, the layer shows through a doubled box; scaling again replaces
    // the copy instead of piling copies up.
    VmPushNumber(L_, 1);
    VmPushString(L_, "200%");
    VmPushString(L_, "200%");
    ASSERT_EQ(Run("ScaleLayer", 3), 0);
    ASSERT_EQ(RunNumbers("ScaleLayer", {1, 20, 20}), 0);
    EXPECT_EQ(regions(), 2);
    EXPECT_EQ(Window(4, 8), kRed);
    EXPECT_EQ(Window(11, 11), kRed);
    EXPECT_EQ(Window(3, 8), 0u);
    EXPECT_EQ(Window(12, 11), 0u);
    EXPECT_EQ(Window(11, 12), 0u);

    // A quarter turn about the centres stands the strip on its end, a row
    // lower as the layer's picture goes a row lower; the pixels of the
    // layer follow the copy's bits.
    ASSERT_EQ(RunNumbers("ScaleLayer", {1, 10, 10}), 0);
    ASSERT_EQ(RunNumbers("SetLayerAnchor", {1, 0.5, 0.5}), 0);
    ASSERT_EQ(Style(1, [&] {
                  SetTableFieldInt(L_, "x", 5);
                  SetTableFieldInt(L_, "y", 5);
              }),
              0);
    ASSERT_EQ(RunNumbers("RotateLayer", {1, 90}), 0);
    const qbLayerState* s = Layer(1)->shownstate;
    const auto* copy = static_cast<const qbClipRegionObject*>(s->clipregion);
    ASSERT_NE(copy, nullptr);
    ASSERT_NE(static_cast<const qbClipRegion*>(copy), Layer(1)->basestate->clipregion);
    EXPECT_EQ(copy->x, 3);
    EXPECT_EQ(copy->y, 4);  // the turn rounds down as the layer's own does
    EXPECT_EQ(copy->width, 2);
    EXPECT_EQ(copy->height, 4);
    EXPECT_EQ(regions(), 2);
    int inside = 0;
    for (int32_t y = std::max(s->showny, 0); y < s->showny + s->shownheight; ++y)
        for (int32_t x = std::max(s->shownx, 0); x < s->shownx + s->shownwidth; ++x) {
            const int32_t cx = x - copy->x, cy = y - copy->y;
            const bool in = cx >= 0 && cy >= 0 && cx < copy->width && cy < copy->height &&
                            (!copy->mask || ReadBitmapPixel(copy->mask, cx, cy, true));
            inside += in;
            EXPECT_EQ(Window(x, y), in ? kRed : 0u) << x << "," << y;
        }
    EXPECT_EQ(inside, 8);

    // The clip-transform mode keeps the region as it is; without the
    // turn the copies are gone.
    ASSERT_EQ(Style(1, [&] { SetTableFieldInt(L_, "nocliptransform", 1); }), 0);
    EXPECT_EQ(Layer(1)->shownstate->clipregion, Layer(1)->basestate->clipregion);
    EXPECT_EQ(regions(), 1);
    ASSERT_EQ(Style(1, [&] { SetTableFieldInt(L_, "nocliptransform", 0); }), 0);
    EXPECT_EQ(regions(), 2);
    ASSERT_EQ(RunNumbers("RotateLayer", {1, 0}), 0);
    EXPECT_EQ(regions(), 1);
    EXPECT_EQ(Layer(1)->shownstate->clipregion, Layer(1)->basestate->clipregion);
}

TEST_F(LayerStyleTest, AFailingPairLeavesEarlierPairsChangedAndShown) {
    ASSERT_EQ(Add(1, 0, 0), 0);
    ASSERT_EQ(Add(2, 30, 0), 0);
    VmPushNumber(L_, 1);
    VmPushNewTable(L_);
    SetTableFieldInt(L_, "x", 60);
    VmPushNumber(L_, 2);
    VmPushNewTable(L_);
    SetTableFieldInt(L_, "x", 80);
    Quad("transform", 0, 1, 1, 0);
    EXPECT_EQ(Run("SetLayerStyle", 4), ERR_WRONGUSAGE);
    EXPECT_EQ(Get(1, "x"), 60);
    EXPECT_EQ(Get(2, "x"), 30);
    EXPECT_EQ(Real(2, 2), 0u);
    EXPECT_EQ(Real(62, 2), kRed);
    EXPECT_EQ(Real(32, 2), kGreen);
}

TEST_F(LayerStyleTest, SingleKeyCommands) {
    ASSERT_EQ(Add(1, 10, 10), 0);
    ASSERT_EQ(RunNumbers("SetLayerTransparency", {1, 64}), 0);
    EXPECT_EQ(Get(1, "transparency"), 64);
    ASSERT_EQ(RunNumbers("SetLayerTint", {1, 0x0000FF, 128}), 0);
    EXPECT_EQ(Get(1, "tint"), 128);
    ASSERT_EQ(RunNumbers("SetLayerLight", {1, 0x00FF00, 0}), 0);
    EXPECT_EQ(Get(1, "tintcolor"), 0x00FF00);
    ASSERT_EQ(RunNumbers("SetLayerTint", {1, 0x0000FF, 128}), 0);
    EXPECT_EQ(RunNumbers("SetLayerFilter", {1, 1}), ERR_WRONGUSAGE);
    ASSERT_EQ(RunNumbers("SetLayerFilter", {1, 0}), 0);
    EXPECT_EQ(Get(1, "tint"), 0);
    ASSERT_EQ(RunNumbers("SetLayerAnchor", {1, 0.5, 0.5}), 0);
    EXPECT_EQ(Layer(1)->shownstate->shownx, 5);  // x stays the anchor point
    EXPECT_EQ(RunNumbers("SetLayerAnchor", {1, 0.5, 2}), ERR_WRONGUSAGE);
    ASSERT_EQ(RunNumbers("TransformLayer", {1, 2, 0, 0, 2, 1}), 0);
    EXPECT_EQ(GetMatrix(1), (std::vector<double>{2, 0, 0, 2}));
    EXPECT_EQ(Get(1, "smoothscale"), 1);
    EXPECT_EQ(Layer(1)->shownstate->shownwidth, 20);
    ASSERT_EQ(RunNumbers("RotateLayer", {1, 0}), 0);  // size and scale rebuild the matrix
    EXPECT_EQ(GetMatrix(1), (std::vector<double>{1, 0, 0, 1}));
    EXPECT_EQ(Layer(1)->shownstate, Layer(1)->basestate);
}

TEST_F(LayerStyleTest, RotateLayerShowsTheTransformedBitmapExactly) {
    BitmapPtr picture(AllocBitmap(64, 48, 0, nullptr));
    for (int32_t y = 0; y < 48; ++y)
        for (int32_t x = 0; x < 64; ++x) WriteBitmapPixel(picture.get(), x, y, uint32_t(x * 4) << 16 | uint32_t(y * 5), false);
    MakeBrush(3, 64, 48, 0);
    qbBrush* brush = nullptr;
    ASSERT_EQ(GetBrushRecord(L_, ObjectID{3, nullptr}, &brush, 0), 0);
    for (int32_t y = 0; y < 48; ++y)
        for (int32_t x = 0; x < 64; ++x)
            WriteBitmapPixel(brush->bitmap, x, y, ReadBitmapPixel(picture.get(), x, y, false), false);
    ASSERT_EQ(Add(3, 50, 40), 0);
    ASSERT_EQ(RunNumbers("SetLayerAnchor", {1, 0.5, 0.5}), 0);
    ASSERT_EQ(RunNumbers("RotateLayer", {1, 90}), 0);
    const qbLayerState* s = Layer(1)->shownstate;
    ASSERT_GE(s->shownx, 0);
    ASSERT_GE(s->showny, 0);
    ASSERT_EQ(s->shownwidth, 48);
    ASSERT_EQ(s->shownheight, 64);
    double m[4];
    BuildScaleRotateMatrix(m, 0, 0, 64, 48, 1, 1, 90);
    qbBitmap *out = nullptr, *mask = nullptr, *alpha = nullptr;
    int32_t w = 0, h = 0;
    ASSERT_EQ(TransformBitmap(picture.get(), nullptr, nullptr, 0, 0, 64, 48, m, false, &out, &mask, &alpha, &w, &h), 0);
    BitmapPtr expected(out);
    ASSERT_EQ(w, 48);
    ASSERT_EQ(h, 64);
    for (int32_t y = 0; y < 64; ++y)
        for (int32_t x = 0; x < 48; ++x)
            if (s->shownx + x < 100 && s->showny + y < 80) {
                ASSERT_EQ(Window(s->shownx + x, s->showny + y), ReadBitmapPixel(expected.get(), x, y, false))
                    << x << "," << y;
            }
    FreeMask(mask);
    FreeAlphaChannel(alpha);
}

// TransformLayer(layer, sx, rx, ry, sy): x' = sx x + ry y, y' = rx x + sy y.
// A vertical shear of a wide brush makes it tall; a horizontal one, wide.
TEST_F(LayerStyleTest, TransformLayerShearsAlongTheAxisItsEntryNames) {
    MakeBrush(3, 40, 10, kRed);
    ASSERT_EQ(Add(3, 0, 0), 0);
    auto red = [&](int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
        int count = 0;
        for (int32_t y = y0; y < y1; ++y)
            for (int32_t x = x0; x < x1; ++x) count += Window(x, y) == kRed;
        return count;
    };
    ASSERT_EQ(RunNumbers("TransformLayer", {1, 1, 1, 0, 1}), 0);
    EXPECT_EQ(Layer(1)->shownstate->shownwidth, 40);
    EXPECT_EQ(Layer(1)->shownstate->shownheight, 50);
    EXPECT_GT(red(30, 40, 40, 50), 0);  // the right end went down
    EXPECT_EQ(red(0, 30, 20, 50), 0);   // the left end did not
    EXPECT_EQ(red(40, 0, 100, 80), 0);
    ASSERT_EQ(RunNumbers("TransformLayer", {1, 1, 0, 1, 1}), 0);
    EXPECT_EQ(Layer(1)->shownstate->shownwidth, 50);
    EXPECT_EQ(Layer(1)->shownstate->shownheight, 10);
    EXPECT_GT(red(45, 0, 50, 10), 0);  // the bottom row went right
    EXPECT_EQ(red(0, 10, 100, 80), 0);
}

TEST_F(LayerStyleTest, ScaleLayerByPercentReplicatesPixels) {
    MakeBrush(3, 4, 4, 0);
    qbBrush* brush = nullptr;
    ASSERT_EQ(GetBrushRecord(L_, ObjectID{3, nullptr}, &brush, 0), 0);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 4; ++x) WriteBitmapPixel(brush->bitmap, x, y, uint32_t(x * 60 + y), false);
    ASSERT_EQ(Add(3, 0, 0), 0);
    VmPushNumber(L_, 1);
    VmPushString(L_, "200%");
    VmPushString(L_, "200%");
    ASSERT_EQ(Run("ScaleLayer", 3), 0);
    EXPECT_EQ(Get(1, "scalex"), 2);
    EXPECT_EQ(Get(1, "width"), 4);
    for (int32_t y = 0; y < 8; ++y)
        for (int32_t x = 0; x < 8; ++x) EXPECT_EQ(Window(x, y), uint32_t((x / 2) * 60 + y / 2)) << x << "," << y;
}

TEST_F(LayerStyleTest, AMoveRefreshesTheUnionOfOldAndNewBoundsOnce) {
    ASSERT_EQ(Add(1, 10, 10), 0);
    null_backend::TakeBlits(display_);
    ASSERT_EQ(Style(1, [&] {
                  SetTableFieldInt(L_, "x", 15);
                  SetTableFieldInt(L_, "y", 12);
              }),
              0);
    const auto blits = null_backend::TakeBlits(display_);
    ASSERT_EQ(blits.size(), 1u);
    EXPECT_EQ(blits[0].x, 10);
    EXPECT_EQ(blits[0].y, 10);
    EXPECT_EQ(blits[0].width, 15);
    EXPECT_EQ(blits[0].height, 12);
    EXPECT_EQ(Real(11, 11), 0u);
    EXPECT_EQ(Real(16, 13), kRed);
    // A held layer keeps the refresh back.
    Layer(1)->hold = 1;
    ASSERT_EQ(Style(1, [&] { SetTableFieldInt(L_, "x", 50); }), 0);
    EXPECT_TRUE(null_backend::TakeBlits(display_).empty());
    Layer(1)->hold = 0;
}

TEST_F(LayerStyleTest, AFailedRebuildRestoresTheLayer) {
    ASSERT_EQ(Add(1, 10, 10), 0);
    qbLayerState* base = Layer(1)->basestate;
    EXPECT_NE(RunNumbers("ScaleLayer", {1, 1e9, 1e9}), 0);
    EXPECT_EQ(Layer(1)->shownstate, base);
    EXPECT_EQ(Layer(1)->transformedstate, base);
    EXPECT_EQ(Get(1, "width"), 10);
    EXPECT_EQ(base->shownwidth, 10);
    EXPECT_EQ(Window(12, 12), kRed);
}

TEST_F(LayerStyleTest, RescaleAllLayersDoublesTheShownStatesAndStopsAtTheFirstError) {
    ASSERT_EQ(Add(1, 10, 10), 0);
    ASSERT_EQ(Add(2, 30, 10), 0);
    display_->scaleX = display_->scaleY = 2.0;
    ASSERT_EQ(RescaleAllLayers(L_, display_, Picture()), 0);
    for (int32_t n : {1, 2}) {
        EXPECT_EQ(Layer(n)->shownstate->shownwidth, 20);
        EXPECT_EQ(Layer(n)->shownstate->shownheight, 20);
        EXPECT_EQ(Layer(n)->transformedstate, Layer(n)->basestate);
    }
    EXPECT_EQ(Layer(2)->shownstate->shownx, 60);
    qbLayerState* second = Layer(2)->shownstate;
    display_->scaleX = display_->scaleY = 1e9;
    EXPECT_NE(RescaleAllLayers(L_, display_, Picture()), 0);
    EXPECT_EQ(Layer(2)->shownstate, second);
    display_->scaleX = display_->scaleY = 1.0;
    ASSERT_EQ(RescaleAllLayers(L_, display_, Picture()), 0);
    EXPECT_EQ(Layer(1)->shownstate, Layer(1)->basestate);
}

TEST(DecomposeTransformMatrixTest, EvenScaleWithRotationClearsTheFlagUnevenKeepsIt) {
    qbTransformOptions t;
    BuildScaleRotateMatrix(t.matrix, 0, 0, 10, 10, 2, 2, 90);
    DecomposeTransformMatrix(&t);
    EXPECT_EQ(t.rotated, 0);
    EXPECT_NEAR(t.decompx, 2, 1e-9);
    EXPECT_NEAR(t.decompy, 2, 1e-9);
    qbTransformOptions u;
    BuildScaleRotateMatrix(u.matrix, 0, 0, 10, 10, 2, 1, 30);
    DecomposeTransformMatrix(&u);
    EXPECT_EQ(u.rotated, 1);
    EXPECT_NEAR(u.decompx, 2, 1e-6);
    EXPECT_NEAR(u.decompy, 1, 1e-6);
    qbTransformOptions plain;
    plain.matrix[0] = 3;
    DecomposeTransformMatrix(&plain);
    EXPECT_EQ(plain.rotated, 0);
    EXPECT_EQ(plain.decompx, 0);
}

TEST_F(LayerStyleTest, UpdateLayerStateResizesTheTransformedCachesAndRefreshesOnce) {
    ASSERT_EQ(Add(1, 10, 10), 0);
    ASSERT_EQ(RunNumbers("RotateLayer", {1, 90}), 0);
    qbLayer* layer = Layer(1);
    qbLayerState* s = layer->shownstate;
    ASSERT_NE(s->xfbitmap, nullptr);
    null_backend::TakeBlits(display_);
    qbLayerOldRect old;
    ASSERT_EQ(UpdateLayerState(L_, layer, &old, 10, 10, 20, 20, nullptr, nullptr, nullptr, 0), 0);
    EXPECT_EQ(old.width, 10);
    EXPECT_EQ(s->xfbitmap->width, 20);
    EXPECT_EQ(s->xfbitmap->height, 20);
    EXPECT_EQ(s->fxbitmap, nullptr);
    const auto blits = null_backend::TakeBlits(display_);
    ASSERT_EQ(blits.size(), 1u);
    EXPECT_EQ(blits[0].width, 20);
    // Hidden, or asked not to: nothing is shown.
    qbLayerOldRect quiet;
    quiet.norefresh = 1;
    ASSERT_EQ(UpdateLayerState(L_, layer, &quiet, 10, 10, 40, 40, nullptr, nullptr, nullptr, 0), 0);
    layer->hidden = 1;
    qbLayerOldRect hidden;
    ASSERT_EQ(UpdateLayerState(L_, layer, &hidden, 10, 10, 20, 20, nullptr, nullptr, nullptr, 0), 0);
    EXPECT_TRUE(null_backend::TakeBlits(display_).empty());
    EXPECT_EQ(s->xfbitmap->width, 20);
}

TEST_F(LayerStyleTest, AReplacingLayerTakesTheOldOnesPlacePositionsAndFilters) {
    ASSERT_EQ(Add(1, 10, 10, "a"), 0);
    ASSERT_EQ(Add(1, 40, 10, "b"), 0);
    ASSERT_EQ(Style(1, [&] {
                  SetTableFieldInt(L_, "x", 20);
                  SetTableFieldString(L_, "tint", "50%");
              }),
              0);
    qbLayer* replacement = nullptr;
    ASSERT_EQ(AddObjectLayer(L_, kLayerBrush, ObjectID{2, nullptr}, 0, 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, 1,
                             kAddReplace | kAddKeepPositions | kAddKeepFilters, &replacement),
              0);
    ASSERT_EQ(CountLayers(Picture()), 2);
    EXPECT_EQ(Layer(1), replacement);
    EXPECT_EQ(Layer(2)->name, "b");
    EXPECT_EQ(replacement->basestate->x, 20);
    EXPECT_EQ(replacement->shownstate->shownx, 20);
    EXPECT_EQ(Get(1, "tint"), 127);
    EXPECT_EQ(Get(1, "id"), 2);
    // Replacing at the top replaces nothing: the layer is added.
    ASSERT_EQ(AddObjectLayer(L_, kLayerBrush, ObjectID{2, nullptr}, 0, 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, -1,
                             kAddReplace, nullptr),
              0);
    EXPECT_EQ(CountLayers(Picture()), 3);
}

TEST_F(LayerStyleTest, RenderLayerTransformedReplacesALayerWithItsSourceDrawnAnew) {
    ASSERT_EQ(Add(1, 10, 10, "a"), 0);
    qbTransformOptions t = Layer(1)->transform;
    BuildScaleRotateMatrix(t.matrix, 0, 0, 10, 10, 2, 2, 0);
    qbLayer* out = nullptr;
    ASSERT_EQ(RenderLayerTransformed(L_, Layer(1), 1, Layer(1)->basestate, &t, kAddReplace | kAddKeepFilters, &out), 0);
    ASSERT_EQ(CountLayers(Picture()), 1);
    EXPECT_EQ(Layer(1), out);
    EXPECT_EQ(out->shownstate->shownwidth, 20);
    EXPECT_EQ(out->basestate->x, 10);
    // The layer's own transform record is refused: nothing is drawn.
    ASSERT_EQ(RenderLayerTransformed(L_, out, 1, out->basestate, &out->transform, kAddReplace, nullptr), 0);
    EXPECT_EQ(Layer(1), out);
}

TEST_F(LayerStyleTest, AChangeThatKeepsTheTurnKeepsTheTurnedImage) {
    MakeBrush(3, 40, 20, kRed);
    ASSERT_EQ(Add(3, 50, 40), 0);
    ASSERT_EQ(Style(1, [&] { SetTableFieldInt(L_, "rotate", 20); }), 0);
    const qbBitmap* turned = Layer(1)->transformedstate->xfbitmap;
    ASSERT_NE(turned, nullptr);
    const auto keepTurn = [&] {
        SetTableFieldInt(L_, "rotate", 20);
        SetTableFieldFloat(L_, "anchorx", 0.5);
        SetTableFieldInt(L_, "x", 60);
    };
    ASSERT_EQ(Style(1, keepTurn), 0);
    EXPECT_EQ(Layer(1)->transformedstate->xfbitmap, turned);
    // Placed where a layer turned afresh with the same style lies.
    ASSERT_EQ(Add(3, 50, 40), 0);
    ASSERT_EQ(Style(2, keepTurn), 0);
    const qbLayerState &kept = *Layer(1)->transformedstate, &fresh = *Layer(2)->transformedstate;
    EXPECT_NE(fresh.xfbitmap, turned);
    EXPECT_EQ(kept.shownx, fresh.shownx);
    EXPECT_EQ(kept.showny, fresh.showny);
    EXPECT_EQ(kept.shownwidth, fresh.shownwidth);
    EXPECT_EQ(kept.shownheight, fresh.shownheight);
    // Another turn is turned anew.
    ASSERT_EQ(Style(1, [&] { SetTableFieldInt(L_, "rotate", 30); }), 0);
    EXPECT_NE(Layer(1)->transformedstate->xfbitmap, turned);
}
