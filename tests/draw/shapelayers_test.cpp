// Shape and line layers drawn again by the shape renderer: under a turn
// they come out as the same shape drawn without layers would, their
// borders follow the shape, and an outline in its border's colour shows
// only the border.
#include <gtest/gtest.h>

#include <functional>
#include <utility>
#include <vector>

#include "core/errcodes.h"
#include "draw/draw.h"
#include "draw/shape.h"
#include "imaging/bitmap.h"
#include "objects/bgpiclib.h"
#include "objects/compositor.h"
#include "objects/layergeometry.h"
#include "objects/show_fixture.h"

namespace {

class ShapeLayersTest : public ShowWorld {
protected:
    void SetUp() override {
        ShowWorld::SetUp();
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitBGPicLibrary(L_), 0);
        VmSetTop(L_, 0);
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitDrawLibrary(L_), 0);
        VmSetTop(L_, 0);
        *GetDrawState() = DefaultDrawState();
    }
    void TearDown() override {
        *GetDrawState() = DefaultDrawState();
        FreeDrawLibrary(L_);
        ShowWorld::TearDown();
    }
    std::vector<uint32_t> Picture() {
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
    qbLayer* Top() { return display_->bgpic->layers->layers.back().get(); }
    // The shape command with a rotation (and a line's thickness) in its
    // option table.
    int Turned(const char* command, std::initializer_list<double> args, double angle) {
        return Show(command, args, [&] {
            SetTableFieldFloat(L_, "rotate", angle);
            SetTableFieldInt(L_, "thickness", 3);
        });
    }
};

TEST_F(ShapeLayersTest, TurnedShapesAreDrawnAgainAsWithoutLayers) {
    ASSERT_EQ(Show("SetFillStyle", {FILLCOLOR}), 0);
    struct Case {
        const char* command;
        std::initializer_list<double> args;
        double angle;
    };
    const Case cases[] = {
        {"Box", {20, 10, 50, 24, 0xFF0000}, 30},
        {"Ellipse", {30, 20, 25, 10, 0x00FF00}, 90},
        {"Line", {10, 10, 80, 30, 0x0000FF}, 60},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        FillBitmapRect(display_->spriteFreeBuffer.get(), 0, 0, 100, 80, 0);
        ASSERT_EQ(Turned(c.command, c.args, c.angle), 0);
        const std::vector<uint32_t> plain = Picture();
        FillBitmapRect(display_->spriteFreeBuffer.get(), 0, 0, 100, 80, 0);
        ASSERT_EQ(Run("EnableLayers", 0), 0);
        ASSERT_EQ(Turned(c.command, c.args, c.angle), 0);
        ASSERT_EQ(CountLayers(display_->bgpic), 1);
        EXPECT_NE(Top()->transformedstate, Top()->basestate);
        EXPECT_EQ(Differences(Picture(), plain), 0);
        ASSERT_EQ(Show("Undo", {double(Top()->type)}), 0);
        ASSERT_EQ(Run("DisableLayers", 0), 0);
    }
}

TEST_F(ShapeLayersTest, RotateLayerDrawsTheShapeAgainRatherThanItsPixels) {
    ASSERT_EQ(Show("SetFillStyle", {FILLCOLOR}), 0);
    ASSERT_EQ(Turned("Ellipse", {30, 20, 25, 10, 0x00FF00}, 90), 0);
    const std::vector<uint32_t> plain = Picture();
    FillBitmapRect(display_->spriteFreeBuffer.get(), 0, 0, 100, 80, 0);
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(Show("Ellipse", {30, 20, 25, 10, 0x00FF00}), 0);
    ASSERT_EQ(Show("RotateLayer", {1, 90}), 0);
    EXPECT_EQ(Differences(Picture(), plain), 0);
    // Back at no turn the layer shows its first images again.
    ASSERT_EQ(Show("RotateLayer", {1, 0}), 0);
    EXPECT_EQ(Top()->transformedstate, Top()->basestate);
}

TEST_F(ShapeLayersTest, BordersFollowTheShape) {
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(Show("SetFillStyle", {FILLCOLOR}), 0);
    ASSERT_EQ(Show("SetFormStyle", {kFormEdge, 0x00FF00, 3}), 0);
    ASSERT_EQ(Show("Box", {10, 10, 30, 20, 0xFF0000}), 0);
    // A filled shape: the shape grown by the border size.
    const qbLayerState* s = Top()->shownstate;
    EXPECT_EQ(s->bdwidth, 36);
    EXPECT_EQ(s->bdheight, 26);
    EXPECT_EQ(s->bdoffx, 3);
    EXPECT_EQ(s->bdoffy, 3);
    EXPECT_EQ(Window(8, 15), 0x00FF00u);
    EXPECT_EQ(Window(20, 20), 0xFF0000u);
    EXPECT_EQ(Window(6, 15), 0u);

    // An outline of width 4 in its own colour: a border of 2 drawn as an
    // outline of 4, and nothing of the layer's own 1-pixel outline inside.
    ASSERT_EQ(Show("Undo", {kShapeBox}), 0);
    ASSERT_EQ(Show("SetFormStyle", {kFormNormal}), 0);
    ASSERT_EQ(Show("SetFillStyle", {FILLNONE, 4}), 0);
    ASSERT_EQ(Show("Box", {20, 20, 40, 30, 0x0000FF}), 0);
    s = Top()->shownstate;
    EXPECT_EQ(Top()->border.size, 2);
    EXPECT_EQ(s->bdwidth, 44);
    EXPECT_EQ(s->bdoffx, 2);
    EXPECT_EQ(Window(19, 30), 0x0000FFu);
    EXPECT_EQ(Window(21, 30), 0x0000FFu);
    EXPECT_EQ(Window(40, 35), 0u);
    // In another colour the layer's own outline shows on the border.
    ASSERT_EQ(Show("SetLayerStyle", {1}, [&] { SetTableFieldUInt(L_, "bordercolor", 0xFFFF00); }), 0);
    EXPECT_EQ(Window(20, 30), 0x0000FFu);
    EXPECT_EQ(Window(21, 30), 0xFFFF00u);
}

TEST_F(ShapeLayersTest, StyleKeysRedrawAndConvertShapes) {
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(Show("SetFillStyle", {FILLCOLOR}), 0);
    ASSERT_EQ(Show("Circle", {40, 40, 10, 0xFF0000}), 0);
    EXPECT_EQ(Get(1, "radius"), 10);
    EXPECT_EQ(Get(1, "color"), 0xFF0000);
    EXPECT_EQ(Get(1, "fillstyle"), FILLCOLOR);
    ASSERT_EQ(Show("SetLayerStyle", {1}, [&] { SetTableFieldInt(L_, "radius", 30); }), 0);
    EXPECT_EQ(Get(1, "radius"), 30);
    EXPECT_EQ(Top()->basestate->shownwidth, 61);
    // The box keeps its corner: the circle now reaches (70, 40) and (40, 70).
    EXPECT_EQ(Window(70, 41), 0xFF0000u);
    EXPECT_EQ(Window(41, 70), 0xFF0000u);
    EXPECT_EQ(Window(45, 45), 0u);

    // Into an ellipse keeping the radii; an arc needs its angles.
    ASSERT_EQ(Show("SetLayerStyle", {1}, [&] { SetTableFieldInt(L_, "type", kShapeEllipse); }), 0);
    EXPECT_EQ(Top()->type, kShapeEllipse);
    EXPECT_EQ(Get(1, "radiusa"), 30);
    EXPECT_EQ(Get(1, "radiusb"), 30);
    EXPECT_EQ(Show("SetLayerStyle", {1}, [&] { SetTableFieldInt(L_, "type", kShapeArc); }), ERR_MISSINGPARAMTR);
    EXPECT_EQ(Top()->type, kShapeEllipse);
    ASSERT_EQ(Show("SetLayerStyle", {1},
                   [&] {
                       SetTableFieldInt(L_, "type", kShapeArc);
                       SetTableFieldInt(L_, "startangle", 0);
                       SetTableFieldInt(L_, "endangle", 90);
                   }),
              0);
    EXPECT_EQ(Top()->type, kShapeArc);
    EXPECT_EQ(Get(1, "endangle"), 90);

    // A box into a circle needs its radius; colour and fill keys redraw.
    ASSERT_EQ(Show("Box", {5, 5, 20, 10, 0x00FF00}), 0);
    EXPECT_EQ(Show("SetLayerStyle", {2}, [&] { SetTableFieldInt(L_, "type", kShapeCircle); }), ERR_MISSINGPARAMTR);
    EXPECT_EQ(Get(2, "sizex"), 20);
    EXPECT_EQ(Get(2, "sizey"), 10);
    EXPECT_EQ(Get(2, "roundlevel"), 0);
    ASSERT_EQ(Show("SetLayerStyle", {2}, [&] { SetTableFieldUInt(L_, "color", 0x0000FF); }), 0);
    EXPECT_EQ(Window(10, 10), 0x0000FFu);
    ASSERT_EQ(Show("SetLayerStyle", {2}, [&] { SetTableFieldInt(L_, "formstyle", kFormShadow); }), 0);
    EXPECT_EQ(Top()->shadow.shadow, 1);
    EXPECT_EQ(Get(2, "formstyle"), kFormNormal);
    // A gradient fill with its stops; a bad stop table is refused.
    ASSERT_EQ(Show("SetLayerStyle", {2},
                   [&] {
                       SetTableFieldInt(L_, "fillstyle", FILLGRADIENT);
                       VmPushString(L_, "gradientcolors");
                       VmPushNewTable(L_);
                       const double stops[4] = {0xFF0000, 0, 0x0000FF, 1};
                       for (int i = 0; i < 4; ++i) {
                           VmPushNumber(L_, stops[i]);
                           VmRawSetIndex(L_, -2, i);
                       }
                       VmSetTableAt(L_, -3);
                   }),
              0);
    EXPECT_EQ(Get(2, "fillstyle"), FILLGRADIENT);
    EXPECT_NE(Window(10, 6), Window(10, 13));
    EXPECT_NE(Window(10, 6), 0x0000FFu);
    EXPECT_NE(Show("SetLayerStyle", {2}, [&] { SetTableFieldInt(L_, "gradientcolors", 5); }), 0);
}

// Every fill and form key of a shape layer's style: each reads back and
// reaches the layer; a layer that was no shape becomes one of its size.
TEST_F(ShapeLayersTest, EveryFormAndFillKeyOfAShapeLayerTakesEffect) {
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(Show("SetFillStyle", {FILLCOLOR}), 0);
    ASSERT_EQ(Show("Box", {10, 10, 30, 20, 0x00FF00}), 0);
    const auto style = [&](std::function<void()> keys) { return Show("SetLayerStyle", {1}, keys); };
    // Corners of four sizes read back one by one, with no round level.
    const char* corners[4] = {"cornera", "cornerb", "cornerc", "cornerd"};
    ASSERT_EQ(style([&] {
                  for (int i = 0; i < 4; ++i) SetTableFieldInt(L_, corners[i], i + 1);
              }),
              0);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(Get(1, corners[i]), i + 1) << corners[i];
    EXPECT_EQ(Get(1, "roundlevel"), -12345);

    // Shadow and border switch on with "formstyle" and off with
    // "formstyleclear"; the other bits stay in the form style.
    ASSERT_EQ(style([&] { SetTableFieldInt(L_, "formstyle", kFormShadow | kFormEdge | 2); }), 0);
    EXPECT_EQ(Top()->shadow.shadow, 1);
    EXPECT_EQ(Top()->border.border, 1);
    EXPECT_EQ(Get(1, "formstyle"), kFormNormal | 2);
    ASSERT_EQ(style([&] { SetTableFieldInt(L_, "formstyleclear", kFormShadow); }), 0);
    EXPECT_EQ(Top()->shadow.shadow, 0);
    EXPECT_EQ(Top()->border.border, 1);
    ASSERT_EQ(style([&] { SetTableFieldInt(L_, "formstyleclear", kFormEdge | 2); }), 0);
    EXPECT_EQ(Top()->border.border, 0);
    EXPECT_EQ(Get(1, "formstyle"), kFormNormal);

    // A gradient from its two colours runs from one to the other.
    ASSERT_EQ(style([&] {
                  SetTableFieldInt(L_, "fillstyle", FILLGRADIENT);
                  SetTableFieldUInt(L_, "gradientstartcolor", 0xFFFF0000);
                  SetTableFieldUInt(L_, "gradientendcolor", 0x0000FF);
              }),
              0);
    EXPECT_EQ(Get(1, "gradientstartcolor"), 0xFF0000);
    EXPECT_EQ(Get(1, "gradientendcolor"), 0x0000FF);
    const uint32_t start = Window(14, 14), end = Window(36, 26);
    EXPECT_GT(start >> 16 & 0xFF, start & 0xFF) << std::hex << start;
    EXPECT_GT(end & 0xFF, end >> 16 & 0xFF) << std::hex << end;
    EXPECT_EQ(style([&] { SetTableFieldInt(L_, "fillstyle", FILLTEXTURE + 1); }), ERR_WRONGUSAGE);
    EXPECT_EQ(style([&] { SetTableFieldInt(L_, "fillstyle", -1); }), ERR_WRONGUSAGE);

    // A polygon's vertices must be a table.
    ASSERT_EQ(style([&] {
                  SetTableFieldInt(L_, "type", kShapePolygon);
                  SetTableFieldInt(L_, "vertices", 5);
              }),
              ERR_TABEXPECTED);
    EXPECT_EQ(Top()->type, kShapeBox);

    // A brush layer turned into a box keeps its size and takes the fill.
    MakeBrush(1, 12, 7, 0xFF);
    ASSERT_EQ(Show("DisplayBrush", {1, 60, 50}), 0);
    ASSERT_EQ(Show("SetFillStyle", {FILLCOLOR}), 0);
    ASSERT_EQ(Show("SetLayerStyle", {2},
                   [&] {
                       SetTableFieldInt(L_, "type", kShapeBox);
                       SetTableFieldUInt(L_, "color", 0xFFFF00);
                   }),
              0);
    EXPECT_EQ(Get(2, "sizex"), 12);
    EXPECT_EQ(Get(2, "sizey"), 7);
    EXPECT_EQ(Window(71, 56), 0xFFFF00u);
    EXPECT_EQ(Window(72, 56), 0u);
}

// A shape layer's shadow falls in each of its eight directions (0 up, then
// clockwise), past the box on that side and never on the other; its
// soft edge reaches a little way round the box.
TEST_F(ShapeLayersTest, ALayersShadowFallsInEachOfItsEightDirections) {
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(Show("SetFillStyle", {FILLCOLOR}), 0);
    const int32_t kSideX[8] = {0, 1, 1, 1, 0, -1, -1, -1}, kSideY[8] = {-1, -1, 0, 1, 1, 1, 0, -1};
    // A probe outside a 20 x 10 box at (x, y), on the given side.
    const auto probe = [](int32_t x, int32_t y, int32_t sx, int32_t sy) {
        return std::pair<int32_t, int32_t>{sx > 0 ? x + 22 : sx < 0 ? x - 3 : x + 10,
                                           sy > 0 ? y + 12 : sy < 0 ? y - 3 : y + 5};
    };
    for (int32_t dir = 0; dir < 8; ++dir) {
        const int32_t x = 8 + 30 * (dir % 3), y = 8 + 24 * (dir / 3);
        ASSERT_EQ(Show("SetFormStyle", {kFormShadow, 0x00FF00, 4, double(dir)}), 0);
        ASSERT_EQ(Show("Box", {double(x), double(y), 20, 10, 0xFF0000}), 0);
        EXPECT_EQ(Top()->shadow.dir, dir);
        const auto [px, py] = probe(x, y, kSideX[dir], kSideY[dir]);
        const uint32_t shadow = Window(px, py);
        EXPECT_GT(shadow >> 8 & 0xFF, 0x80u) << dir << std::hex << " " << shadow;
        EXPECT_EQ(shadow & 0xFF00FF, 0u) << dir << std::hex << " " << shadow;
        const auto [ox, oy] = probe(x, y, -kSideX[dir], -kSideY[dir]);
        EXPECT_LT(Window(ox, oy) >> 8 & 0xFF, 0x10u) << dir;
        EXPECT_EQ(Window(x + 10, y + 5), 0xFF0000u) << dir;
    }
}

// A border of a translucent colour lets the picture through in
// proportion.
TEST_F(ShapeLayersTest, ATranslucentBorderIsBlendedOverThePicture) {
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(Show("SetFillStyle", {FILLCOLOR}), 0);
    ASSERT_EQ(Show("SetFormStyle", {kFormEdge, 0x80FFFF00, 3}), 0);
    ASSERT_EQ(Show("Box", {20, 20, 30, 20, 0xFF0000}), 0);
    EXPECT_EQ(Window(30, 30), 0xFF0000u);
    const uint32_t edge = Window(18, 30);
    EXPECT_NEAR(double(edge >> 16 & 0xFF), 0x7F, 2) << std::hex << edge;
    EXPECT_NEAR(double(edge >> 8 & 0xFF), 0x7F, 2) << std::hex << edge;
    EXPECT_EQ(edge & 0xFF, 0u) << std::hex << edge;
    EXPECT_EQ(Window(16, 30), 0u);
}

// Every drawn type the style table names takes a layer of another drawn
// type, given the keys that type needs.
TEST_F(ShapeLayersTest, ALayerBecomesEveryDrawnTypeInTurn) {
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(Show("SetFillStyle", {FILLCOLOR}), 0);
    ASSERT_EQ(Show("Box", {10, 10, 30, 20, 0x00FF00}), 0);
    const auto vertices = [&] {
        VmPushString(L_, "vertices");
        VmPushNewTable(L_);
        const double v[6] = {10, 10, 40, 10, 10, 30};
        for (int i = 0; i < 6; ++i) {
            VmPushNumber(L_, v[i]);
            VmRawSetIndex(L_, -2, i);
        }
        VmSetTableAt(L_, -3);
    };
    const struct {
        int32_t type;
        std::function<void()> keys;
    } steps[] = {
        {kShapeLine, [] {}},
        {kShapePolygon, vertices},
        {kShapeBox, [] {}},
        {kShapeCircle, [&] { SetTableFieldInt(L_, "radius", 8); }},
        {kShapeEllipse, [] {}},
        {kShapeArc,
         [&] {
             SetTableFieldInt(L_, "startangle", 0);
             SetTableFieldInt(L_, "endangle", 90);
         }},
        {kShapeLine, [] {}},
    };
    for (const auto& s : steps) {
        ASSERT_EQ(Show("SetLayerStyle", {1},
                       [&] {
                           SetTableFieldInt(L_, "type", s.type);
                           s.keys();
                       }),
                  0)
            << s.type;
        EXPECT_EQ(Get(1, "type"), s.type);
    }
}

// A box made round or a polygon must name every key its new type needs;
// each refusal leaves the box as it was, and a radius below 1 is no radius.
TEST_F(ShapeLayersTest, AConvertedLayerMissingAnyKeyOfItsTypeStaysWhatItWas) {
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(Show("SetFillStyle", {FILLCOLOR}), 0);
    ASSERT_EQ(Show("Box", {10, 10, 30, 20, 0x00FF00}), 0);
    const struct {
        int32_t type;
        std::vector<std::pair<const char*, int32_t>> keys;
        int error;
    } refused[] = {
        {kShapeCircle, {}, ERR_MISSINGPARAMTR},
        {kShapeEllipse, {}, ERR_MISSINGPARAMTR},
        {kShapeEllipse, {{"radiusa", 5}}, ERR_MISSINGPARAMTR},
        {kShapeEllipse, {{"radiusb", 5}}, ERR_MISSINGPARAMTR},
        {kShapeArc, {{"radiusa", 5}, {"startangle", 0}, {"endangle", 90}}, ERR_MISSINGPARAMTR},
        {kShapeArc, {{"radiusb", 5}, {"startangle", 0}, {"endangle", 90}}, ERR_MISSINGPARAMTR},
        {kShapeArc, {{"radiusa", 5}, {"radiusb", 5}, {"startangle", 0}}, ERR_MISSINGPARAMTR},
        {kShapeArc, {{"radiusa", 5}, {"radiusb", 5}, {"endangle", 90}}, ERR_MISSINGPARAMTR},
        {kShapePolygon, {}, ERR_MISSINGPARAMTR},
        {kShapeCircle, {{"radius", 0}}, ERR_WRONGUSAGE},
        {kShapeEllipse, {{"radiusa", 0}, {"radiusb", 5}}, ERR_WRONGUSAGE},
        {kShapeEllipse, {{"radiusa", 5}, {"radiusb", 0}}, ERR_WRONGUSAGE},
        {kShapeBox, {{"sizex", 0}}, ERR_WRONGUSAGE},
        {kShapeBox, {{"sizey", 0}}, ERR_WRONGUSAGE},
    };
    const auto set = [&](int32_t type, const std::vector<std::pair<const char*, int32_t>>& keys) {
        return Show("SetLayerStyle", {1}, [&] {
            SetTableFieldInt(L_, "type", type);
            for (const auto& [key, value] : keys) SetTableFieldInt(L_, key, value);
        });
    };
    for (size_t i = 0; i < std::size(refused); ++i) {
        EXPECT_EQ(set(refused[i].type, refused[i].keys), refused[i].error) << i;
        EXPECT_EQ(Get(1, "type"), kShapeBox) << i;
        EXPECT_EQ(Get(1, "sizex"), 30) << i;
        EXPECT_EQ(Get(1, "sizey"), 20) << i;
    }
    // Both radii of least size 1 are enough, each kept apart.
    ASSERT_EQ(set(kShapeEllipse, {{"radiusa", 7}, {"radiusb", 1}}), 0);
    EXPECT_EQ(Get(1, "type"), kShapeEllipse);
    EXPECT_EQ(Get(1, "radiusa"), 7);
    EXPECT_EQ(Get(1, "radiusb"), 1);
}

TEST_F(ShapeLayersTest, ALineLayerReadsAndTakesItsEndpoints) {
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(Show("Line", {10, 20, 60, 30, 0x00FF00, 3}), 0);
    EXPECT_EQ(Get(1, "x1"), 10);
    EXPECT_EQ(Get(1, "y1"), 20);
    EXPECT_EQ(Get(1, "x2"), 60);
    EXPECT_EQ(Get(1, "y2"), 30);
    EXPECT_EQ(Get(1, "thickness"), 3);
    ASSERT_EQ(Show("SetLayerStyle", {1},
                   [&] {
                       SetTableFieldInt(L_, "x2", 90);
                       SetTableFieldInt(L_, "y2", 70);
                   }),
              0);
    EXPECT_EQ(Get(1, "x1"), 10);
    EXPECT_EQ(Get(1, "x2"), 90);
    EXPECT_EQ(Get(1, "y2"), 70);
    EXPECT_EQ(Window(89, 69), 0x00FF00u);
    EXPECT_EQ(Window(50, 45), 0x00FF00u);
}

TEST_F(ShapeLayersTest, PolygonVerticesReadBackFlatFromIndexZero) {
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(Show("SetFillStyle", {FILLCOLOR}), 0);
    VmPushNumber(L_, 10);
    VmPushNumber(L_, 10);
    VmPushNewTable(L_);
    const double pts[6] = {0, 0, 20, 0, 10, 15};
    for (int i = 0; i < 6; ++i) {
        VmPushNumber(L_, pts[i]);
        VmRawSetIndex(L_, -2, i);
    }
    VmPushNumber(L_, 3);
    VmPushNumber(L_, 0xFF00FF);
    ASSERT_EQ(Run("Polygon", 5), 0);
    VmSetTop(L_, 0);
    VmPushNumber(L_, 1);
    ASSERT_EQ(Run("GetLayerStyle", 1, 1), 0);
    int32_t count = 0;
    GetTableFieldInt(L_, -1, "numvertices", &count, nullptr);
    EXPECT_EQ(count, 3);
    VmPushString(L_, "vertices");
    VmGetTableAt(L_, -2);
    ASSERT_EQ(VmType(L_, -1), kTypeTable);
    for (int i = 0; i < 6; ++i) {
        VmRawGetIndex(L_, -1, i);
        EXPECT_EQ(VmToNumber(L_, -1), pts[i]) << i;
        VmSetTop(L_, -2);
    }
    VmSetTop(L_, 0);
    // New vertices redraw the layer from its anchor point.
    ASSERT_EQ(Show("SetLayerStyle", {1},
                   [&] {
                       VmPushString(L_, "vertices");
                       VmPushNewTable(L_);
                       const double box[8] = {0, 0, 30, 0, 30, 30, 0, 30};
                       for (int i = 0; i < 8; ++i) {
                           VmPushNumber(L_, box[i]);
                           VmRawSetIndex(L_, -2, i);
                       }
                       VmSetTableAt(L_, -3);
                   }),
              0);
    EXPECT_EQ(Get(1, "numvertices"), 4);
    EXPECT_EQ(Window(38, 38), 0xFF00FFu);
}

TEST_F(ShapeLayersTest, SelectLayerMakesABoxLayerABrushLayerOfItsPixels) {
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(Show("SetFillStyle", {FILLCOLOR}), 0);
    ASSERT_EQ(Show("Box", {10, 10, 20, 10, 0xFF0000}), 0);
    ASSERT_EQ(Show("SelectLayer", {1}), 0);
    EXPECT_EQ(Top()->type, kLayerBrush);
    EXPECT_EQ(Top()->basestate->shapeState, nullptr);
    qbBrush* own = nullptr;
    ASSERT_EQ(GetBrushRecord(L_, Top()->id, &own, kBrushDetachedToo), 0);
    EXPECT_EQ(own->width, 20);
    EXPECT_EQ(ReadBitmapPixel(own->bitmap, 5, 5, false), 0xFF0000u);
    ASSERT_EQ(Show("Plot", {1, 1, 0x00FF00}), 0);
    ASSERT_EQ(Run("EndSelect", 0), 0);
    EXPECT_EQ(Window(11, 11), 0x00FF00u);
    EXPECT_EQ(Window(15, 15), 0xFF0000u);
}

TEST_F(ShapeLayersTest, ATurnedBoxCoversWhatATurnedBrushOfItsSizeCovers) {
    ASSERT_EQ(Show("SetFillStyle", {FILLCOLOR}), 0);
    MakeBrush(1, 40, 20, 0xFF0000);
    ASSERT_EQ(Turned("DisplayBrush", {1, 30, 20}, 30), 0);
    std::vector<uint32_t> brush = Picture();
    FillBitmapRect(display_->spriteFreeBuffer.get(), 0, 0, 100, 80, 0);
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(Turned("Box", {30, 20, 40, 20, 0xFF0000}, 30), 0);
    const std::vector<uint32_t> box = Picture();
    // Pixels may differ only where a neighbour of the other kind is.
    int far = 0, total = 0;
    for (int32_t y = 1; y < 79; ++y)
        for (int32_t x = 1; x < 99; ++x) {
            const size_t i = static_cast<size_t>(y) * 100 + x;
            total += box[i] != 0;
            if (box[i] == brush[i]) continue;
            bool edge = false;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) edge = edge || brush[i + dy * 100 + dx] == box[i];
            far += !edge;
        }
    EXPECT_GT(total, 700);
    EXPECT_EQ(far, 0);
}

TEST_F(ShapeLayersTest, ATurnedPlainBrushLayerIsBorderedAsATurnedBox) {
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    MakeBrush(1, 40, 20, 0xFF0000);
    ASSERT_EQ(Turned("DisplayBrush", {1, 30, 30}, 30), 0);
    ASSERT_EQ(Show("SetLayerStyle", {1},
                   [&] {
                       SetTableFieldInt(L_, "border", 1);
                       SetTableFieldInt(L_, "bordersize", 2);
                       SetTableFieldUInt(L_, "bordercolor", 0x00FF00);
                   }),
              0);
    const std::vector<uint32_t> shown = Picture();
    const qbLayerState* s = Top()->shownstate;
    ASSERT_NE(s->bdbitmap, nullptr);
    // The border follows the turned edges: the corners of the turned
    // image's box stay clear, and green lies next to red.
    EXPECT_EQ(shown[static_cast<size_t>(s->showny) * 100 + s->shownx], 0u);
    int green = 0, beside = 0;
    for (int32_t y = 1; y < 79; ++y)
        for (int32_t x = 1; x < 99; ++x) {
            const size_t i = static_cast<size_t>(y) * 100 + x;
            if (shown[i] != 0x00FF00u) continue;
            ++green;
            bool red = false;
            for (int dy = -2; dy <= 2; ++dy)
                for (int dx = -2; dx <= 2; ++dx) red = red || Window(x + dx, y + dy) == 0xFF0000u;
            beside += red;
        }
    EXPECT_GT(green, 100);
    EXPECT_GE(beside, green * 9 / 10);
}

TEST_F(ShapeLayersTest, TheSourceImageOfACircleLayerIsItsRendering) {
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(Show("SetFillStyle", {FILLCOLOR}), 0);
    ASSERT_EQ(Show("Circle", {10, 10, 12, 0xFF0000}), 0);
    ASSERT_EQ(Show("RotateLayer", {1, 45}), 0);
    qbObjectImage image;
    int32_t w = 0, h = 0;
    ASSERT_EQ(GetLayerSourceImage(L_, Top(), Top()->basestate, false, &image, &w, &h), 0);
    EXPECT_EQ(w, 25);
    EXPECT_EQ(ReadBitmapPixel(image.bitmap, 12, 12, false), 0xFF0000u);
    ASSERT_EQ(GetLayerSourceImage(L_, Top(), Top()->shownstate, true, &image, &w, &h), 0);
    EXPECT_EQ(image.bitmap, Top()->shownstate->xfbitmap);
}

TEST_F(ShapeLayersTest, HugeTurnedShapesFailCleanlyWithAndWithoutLayers) {
    ASSERT_EQ(Show("SetFillStyle", {FILLCOLOR}), 0);
    for (int layers = 0; layers < 2; ++layers) {
        SCOPED_TRACE(layers);
        if (layers) {
            ASSERT_EQ(Run("EnableLayers", 0), 0);
        }
        EXPECT_EQ(Turned("Box", {-2000000000, 0, 2000000000, 2000000000, 0xFF0000}, 30), ERR_BITMAP);
        EXPECT_EQ(Turned("Ellipse", {0, 0, 1000000000, 5, 0xFF0000}, 45), ERR_BITMAP);
    }
}

TEST_F(ShapeLayersTest, ADisplayScaledShapeLayerIsDrawnAtTheDisplaysSize) {
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(Show("SetFillStyle", {FILLCOLOR}), 0);
    ASSERT_EQ(Show("Circle", {10, 6, 10, 0xFF0000}), 0);
    const double scaleX = display_->scaleX, scaleY = display_->scaleY;
    display_->scaleX = display_->scaleY = 2.0;
    ASSERT_EQ(ReapplyDisplayScale(L_, Top()), 0);
    const qbLayerState* shown = Top()->shownstate;
    ASSERT_NE(shown, Top()->transformedstate);
    // Drawn anew at twice the size, placed at twice the position: every
    // pixel is the colour or clear, none resampled in between.
    EXPECT_EQ(shown->shownx, 20);
    EXPECT_EQ(shown->showny, 12);
    EXPECT_NEAR(shown->shownwidth, 42, 1);
    int red = 0;
    for (int32_t y = 0; y < shown->shownheight; ++y)
        for (int32_t x = 0; x < shown->shownwidth; ++x) {
            const uint32_t p = ReadBitmapPixel(shown->xfbitmap, x, y, false);
            EXPECT_TRUE(p == 0xFF0000u || p == 0u) << x << "," << y;
            red += p == 0xFF0000u;
        }
    EXPECT_NEAR(red, 3.14159 * 20.5 * 20.5, 60);
    display_->scaleX = scaleX;
    display_->scaleY = scaleY;
    ASSERT_EQ(ReapplyDisplayScale(L_, Top()), 0);
}

}  // namespace
