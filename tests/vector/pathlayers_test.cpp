// Path layers: each DrawPath with layers on is one layer that keeps its own
// copy of the path, is drawn again (not resampled) when turned, strokes its
// border from the path, and reads and writes its style keys.
#include <gtest/gtest.h>

#include <string>

#include "core/errcodes.h"
#include "core/errors.h"
#include "objects/compositor.h"
#include "objects/shapehooks.h"
#include "vector/path_fixture.h"
#include "vector/pathlayers.h"

namespace {

class PathLayersTest : public PathWorld {
protected:
    qbLayer* Layer(int32_t n) { return GetLayerByIndex(display_->bgpic, n); }
    std::vector<uint32_t> Composed() {
        std::vector<uint32_t> all;
        for (int32_t y = 0; y < 80; ++y)
            for (int32_t x = 0; x < 100; ++x) all.push_back(Window(x, y));
        return all;
    }
    static int Differences(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
        int bad = 0;
        for (size_t i = 0; i < a.size(); ++i) bad += a[i] != b[i];
        return bad;
    }
    // DrawPath(id, x, y, colour[, {rotate = angle}]).
    int Draw(int id, double x, double y, uint32_t colour, double angle = 0) {
        if (angle == 0) return Cmd("DrawPath", {double(id), x, y, double(colour)});
        return Show("DrawPath", {double(id), x, y, double(colour)}, [&] { SetTableFieldFloat(L_, "rotate", angle); });
    }
    double Attribute(int32_t layer, int32_t attribute) {
        VmSetTop(L_, 0);
        for (double a : {22.0, double(layer), double(attribute)}) VmPushNumber(L_, a);
        EXPECT_EQ(Run("GetAttribute", 3, 1), 0);
        const double v = VmToNumber(L_, -1);
        VmSetTop(L_, 0);
        return v;
    }
    // GetLayerStyle(layer) left on the stack top.
    void Style(int32_t layer) {
        VmSetTop(L_, 0);
        VmPushNumber(L_, layer);
        ASSERT_EQ(Run("GetLayerStyle", 1, 1), 0);
    }
};

TEST_F(PathLayersTest, EachDrawIsALayerNamingItsPathThatOutlivesThePath) {
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(Cmd("SetFillStyle", {FILLCOLOR}), 0);
    Polygon(7, {10, 10, 40, 10, 40, 30, 10, 30});
    ASSERT_EQ(Draw(7, 0, 0, 0xFF0000), 0);
    ASSERT_EQ(Draw(7, 45, 40, 0x00FF00), 0);
    ASSERT_EQ(CountLayers(display_->bgpic), 2);
    EXPECT_EQ(Layer(2)->type, kLayerVectorPath);
    EXPECT_EQ(Attribute(1, 82), 7);
    EXPECT_EQ(Attribute(2, 82), 7);
    EXPECT_EQ(Window(20, 20), 0xFF0000u);
    EXPECT_EQ(Window(65, 60), 0x00FF00u);

    // Freed, the path still draws its layers, turned or moved.
    ASSERT_EQ(Cmd("FreePath", {7}), 0);
    ASSERT_EQ(Cmd("RotateLayer", {1, 90}), 0);
    EXPECT_NE(Layer(1)->transformedstate, Layer(1)->basestate);
    EXPECT_NE(Layer(1)->transformedstate->xfbitmap, nullptr);
    int red = 0;
    for (uint32_t p : Composed()) red += p == 0xFF0000u;
    EXPECT_GT(red, 150);
    EXPECT_EQ(Attribute(1, 82), 7);
}

// A turned path layer is the path drawn turned, as without layers, not its
// first picture resampled.
TEST_F(PathLayersTest, TurnedLayersAreDrawnAgainAsWithoutLayers) {
    ASSERT_EQ(Cmd("SetFillStyle", {FILLCOLOR}), 0);
    ASSERT_EQ(Cmd("SetFormStyle", {kFormAntialias}), 0);
    Polygon(1, {10, 10, 60, 14, 45, 40, 15, 35});
    Clear(0);
    ASSERT_EQ(Draw(1, 10, 10, 0xFFFFFF, 30), 0);
    const std::vector<uint32_t> plain = Picture();
    Clear(0);
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(Draw(1, 10, 10, 0xFFFFFF, 30), 0);
    EXPECT_LE(WorstChannel(Composed(), plain), 1);
    // Turned after the fact: the same picture.
    ASSERT_EQ(Cmd("Undo", {49, 1}), 0);
    ASSERT_EQ(CountLayers(display_->bgpic), 0);
    ASSERT_EQ(Draw(1, 10, 10, 0xFFFFFF), 0);
    ASSERT_EQ(Cmd("RotateLayer", {1, 30}), 0);
    EXPECT_LE(WorstChannel(Composed(), plain), 1);
    // Its pixels turned instead would differ along the edges.
    qbShapeLayerHooks pixelsOnly = PathLayerHooks();
    pixelsOnly.render = nullptr;
    SetPathLayerHooks(&pixelsOnly);
    ASSERT_EQ(Cmd("RotateLayer", {1, 0}), 0);
    ASSERT_EQ(Cmd("RotateLayer", {1, 30}), 0);
    EXPECT_GT(WorstChannel(Composed(), plain), 64);
    InstallPathLayerHooks();
}

TEST_F(PathLayersTest, BordersAreThePathStroked) {
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(Cmd("SetFillStyle", {FILLCOLOR}), 0);
    Polygon(1, {20, 20, 50, 20, 50, 40, 20, 40});
    ASSERT_EQ(Draw(1, 0, 0, 0xFF0000), 0);
    ASSERT_EQ(Show("SetLayerStyle", {1},
                   [&] {
                       SetTableFieldInt(L_, "border", 1);
                       SetTableFieldUInt(L_, "bordercolor", 0x00FF00);
                       SetTableFieldInt(L_, "bordersize", 3);
                   }),
              0);
    const qbLayerState* s = Layer(1)->shownstate;
    EXPECT_EQ(s->bdwidth, s->shownwidth + 6);
    EXPECT_EQ(s->bdoffx, 3);
    EXPECT_EQ(Window(18, 30), 0x00FF00u);
    EXPECT_EQ(Window(35, 30), 0xFF0000u);
    EXPECT_EQ(Window(15, 30), 0u);
    // Turned, the border follows the turned path.
    ASSERT_EQ(Cmd("RotateLayer", {1, 45}), 0);
    s = Layer(1)->shownstate;
    EXPECT_GT(s->bdwidth, 40);
    EXPECT_EQ(Window(35, 30), 0xFF0000u);

    // On a scaled display the border grows with an explicit matrix too.
    for (int explicitMatrix : {0, 1}) {
        qbTransformOptions t;
        t.matrixset = explicitMatrix;
        t.transform[0] = t.transform[3] = 1.0;
        Drawn d;
        ASSERT_EQ(RenderPathLayerBorder(L_, t, *PathLayerRequestOf(*Layer(1)), 0xFF, 3, 2.0, 2.0, &d.images), 0);
        EXPECT_GE(d.images.width, 2 * 30 + 6) << explicitMatrix;
    }

    // An outline in its own colour shows its border alone.
    const qbShapeLayerHooks* hooks = DrawnLayerHooks(kLayerVectorPath);
    ASSERT_NE(hooks, nullptr);
    EXPECT_FALSE(hooks->onlyBorderShows(*Layer(1)));
    ASSERT_EQ(Cmd("SetFillStyle", {FILLNONE, 4}), 0);
    ASSERT_EQ(Draw(1, 40, 30, 0x0000FF), 0);
    EXPECT_EQ(Layer(2)->border.size, 2);
    EXPECT_TRUE(hooks->onlyBorderShows(*Layer(2)));
    EXPECT_EQ(Window(59, 60), 0x0000FFu);
    EXPECT_EQ(Window(61, 60), 0x0000FFu);
    EXPECT_EQ(Window(75, 60), 0u);
}

TEST_F(PathLayersTest, TheLayersPictureIsItsSourceAndBecomesABrush) {
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(Cmd("SetFillStyle", {FILLCOLOR}), 0);
    Polygon(1, {5, 5, 25, 5, 15, 25});
    ASSERT_EQ(Draw(1, 0, 0, 0x123456), 0);
    qbLayer* layer = Layer(1);
    qbObjectImage image;
    int32_t w = 0, h = 0;
    ASSERT_EQ(GetLayerSourceImage(L_, layer, layer->basestate, false, false, &image, &w, &h), 0);
    EXPECT_EQ(image.bitmap, layer->basestate->bitmap);
    EXPECT_NE(image.alpha, nullptr);
    EXPECT_EQ(w, 20);
    EXPECT_EQ(h, 20);
    ASSERT_EQ(Cmd("ConvertToBrush", {22, 1, 5}), 0);
    qbBrush* brush = nullptr;
    ASSERT_EQ(GetBrushRecord(L_, ObjectID{5, nullptr}, &brush, 0), 0);
    EXPECT_EQ(brush->width, 20);
    // Drawn into, it becomes a brush layer of that picture.
    ASSERT_EQ(Cmd("SelectLayer", {1}), 0);
    EXPECT_EQ(layer->type, kLayerBrush);
    EXPECT_EQ(layer->basestate->shapeState, nullptr);
    ASSERT_EQ(Run("EndSelect", 0), 0);
}

TEST_F(PathLayersTest, StyleKeysReadBackAndConvert) {
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(Cmd("SetFillStyle", {FILLNONE, 1}), 0);
    ASSERT_EQ(Cmd("StartPath", {1}), 0);
    ASSERT_EQ(Cmd("MoveTo", {1, 10, 10}), 0);
    ASSERT_EQ(Cmd("LineTo", {1, 60, 10}), 0);
    ASSERT_EQ(Draw(1, 0, 0, 0xFFFFFF), 0);
    Style(1);
    EXPECT_EQ(GetTableFieldText(L_, -1, "vectorengine"), "default");
    ASSERT_EQ(Show("SetLayerStyle", {1},
                   [&] {
                       SetTableFieldInt(L_, "linejoin", 1);
                       SetTableFieldInt(L_, "linecap", 2);
                       SetTableFieldFloat(L_, "dashoffset", 1.5);
                       VmPushString(L_, "dashes");
                       VmPushNewTable(L_);
                       VmPushNumber(L_, 4);
                       VmRawSetIndex(L_, -2, 0);
                       VmPushNumber(L_, 2);
                       VmRawSetIndex(L_, -2, 1);
                       VmSetTableAt(L_, -3);
                   }),
              0);
    Style(1);
    int32_t v = 0;
    double d = 0;
    EXPECT_TRUE(GetTableFieldInt(L_, -1, "linejoin", &v, nullptr) && v == 1);
    EXPECT_TRUE(GetTableFieldInt(L_, -1, "linecap", &v, nullptr) && v == 2);
    EXPECT_TRUE(GetTableFieldFloat(L_, -1, "dashoffset", &d, nullptr) && d == 1.5);
    VmPushString(L_, "dashes");
    VmGetTableAt(L_, -2);
    for (int i = 0; i < 3; ++i) {
        VmRawGetIndex(L_, -1, i);
        EXPECT_EQ(VmToNumber(L_, -1), i == 0 ? 4 : i == 1 ? 2 : 0);
        VmSetTop(L_, -2);
    }
    // The layer's own copy holds them.
    const qbPathRequest* kept = PathLayerRequestOf(*Layer(1));
    ASSERT_EQ(kept->style.dashCount, 2);
    EXPECT_EQ(kept->style.dashes[1], 2);

    // A name no engine has fails with that name; the layer is unchanged.
    EXPECT_EQ(Show("SetLayerStyle", {1}, [&] { SetTableFieldString(L_, "vectorengine", "nosuch"); }), ERR_FINDPLUGIN);
    char text[kErrorTextSize];
    GetErrorText(ERR_FINDPLUGIN, text);
    EXPECT_NE(std::string(text).find("nosuch"), std::string::npos) << text;
    EXPECT_EQ(PathLayerRequestOf(*Layer(1))->style.join, 1);
    EXPECT_EQ(Show("SetLayerStyle", {1}, [&] { SetTableFieldString(L_, "dashes", "x"); }), ERR_TABEXPECTED);
    EXPECT_EQ(Show("SetLayerStyle", {1},
                   [&] {
                       VmPushString(L_, "dashes");
                       VmPushNewTable(L_);
                       VmPushNumber(L_, 4);
                       VmRawSetIndex(L_, -2, 0);
                       VmPushString(L_, "x");
                       VmRawSetIndex(L_, -2, 1);
                       VmSetTableAt(L_, -3);
                   }),
              ERR_NUMTABLEARG);
    EXPECT_EQ(PathLayerRequestOf(*Layer(1))->style.dashCount, 2);
    // "color" repaints the line; the inbuilt engine's own name is taken.
    EXPECT_EQ(Window(30, 10), 0xFFFFFFu);
    ASSERT_EQ(Show("SetLayerStyle", {1},
                   [&] {
                       SetTableFieldInt(L_, "color", 0x12FF0000);
                       SetTableFieldString(L_, "vectorengine", "default");
                   }),
              0);
    EXPECT_EQ(PathLayerRequestOf(*Layer(1))->colour, 0xFF0000u);
    EXPECT_EQ(Window(30, 10), 0xFF0000u);
    Style(1);
    EXPECT_EQ(GetTableFieldText(L_, -1, "vectorengine"), "default");
    EXPECT_EQ(GetTableFieldText(L_, -1, "color"), std::to_string(0xFF0000));

    // Another path by "id"; a box turned into a path needs one and keeps
    // its colour and fill.
    Polygon(2, {0, 0, 30, 0, 30, 30});
    ASSERT_EQ(Show("SetLayerStyle", {1}, [&] { SetTableFieldInt(L_, "id", 2); }), 0);
    EXPECT_EQ(Attribute(1, 82), 2);
    EXPECT_EQ(Layer(1)->basestate->width, 32);  // stroked 1 wide
    ASSERT_EQ(Cmd("SetFillStyle", {FILLCOLOR}), 0);
    ASSERT_EQ(Cmd("Box", {60, 40, 20, 20, 0x00FF00}), 0);
    EXPECT_EQ(Show("SetLayerStyle", {2}, [&] { SetTableFieldInt(L_, "type", 49); }), ERR_MISSINGPARAMTR);
    ASSERT_EQ(Show("SetLayerStyle", {2},
                   [&] {
                       SetTableFieldInt(L_, "type", 49);
                       SetTableFieldInt(L_, "id", 2);
                   }),
              0);
    EXPECT_EQ(Layer(2)->type, kLayerVectorPath);
    EXPECT_EQ(Window(75, 45), 0x00FF00u);
    EXPECT_EQ(Attribute(2, 82), 2);
}

}  // namespace
