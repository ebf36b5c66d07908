// Shape and line layers drawn again by the shape renderer: under a turn
// they come out as the same shape drawn without layers would, their
// borders follow the shape, and an outline in its border's colour shows
// only the border.
#include <gtest/gtest.h>

#include <vector>

#include "core/errcodes.h"
#include "draw/draw.h"
#include "draw/shape.h"
#include "imaging/bitmap.h"
#include "objects/bgpiclib.h"
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

}  // namespace
