// Brushes shown with layers off: centred by the position constants and
// anchors, parts cut at the brush edge, transparency blended from a private
// plane (the brush stays as it was), and a transform blitted at its box.
#include <gtest/gtest.h>

#include <cmath>

#include "core/errcodes.h"
#include "display/positions.h"
#include "objects/dirtyrects.h"
#include "platform/null/null_backend.h"
#include "show_fixture.h"

namespace {

constexpr uint32_t kRed = 0xFF0000;

class DisplayObjectTest : public ShowWorld {};

}  // namespace

TEST_F(DisplayObjectTest, CentreWithHalfAnchorsPutsTheBrushCentreAtTheDisplayCentre) {
    MakeBrush(1, 20, 10, kRed);
    ASSERT_EQ(Show("DisplayBrush", {1, kPositionCenter, kPositionCenter}, [&] {
                  SetTableFieldFloat(L_, "anchorx", 0.5);
                  SetTableFieldFloat(L_, "anchory", 0.5);
              }),
              0);
    // (100 - 20) / 2 = 40 .. 59, (80 - 10) / 2 = 35 .. 44.
    EXPECT_EQ(Shown(40, 35), kRed);
    EXPECT_EQ(Shown(59, 44), kRed);
    EXPECT_EQ(Shown(39, 35), 0u);
    EXPECT_EQ(Shown(60, 44), 0u);
    EXPECT_EQ(Shown(40, 45), 0u);
    const null_backend::Surface* s = null_backend::GetSurface(display_);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->At(50, 40) & 0xFFFFFFu, kRed);

    // An anchor without the constant places that point of the brush at x, y.
    ASSERT_EQ(Show("DisplayBrush", {1, 10, 10}, [&] { SetTableFieldFloat(L_, "anchorx", 1.0); }), 0);
    EXPECT_EQ(Shown(9, 10), kRed);
    EXPECT_EQ(Shown(10, 10), 0u);
}

TEST_F(DisplayObjectTest, APartIsCutAtTheBrushEdgeAndACornerOutsideIsRefused) {
    MakeBrush(1, 20, 10, kRed);
    EXPECT_EQ(Show("DisplayBrushPart", {1, 20, 0, 0, 0, 5, 5}), ERR_COORDSRANGE);
    EXPECT_EQ(Show("DisplayBrushPart", {1, -1, 0, 0, 0, 5, 5}), ERR_NEGCOORDS);
    EXPECT_EQ(Show("DisplayBrushPart", {1, 0, 0, 0, 0, 0, 5}), ERR_BADDIMENSIONS);
    ASSERT_EQ(Show("DisplayBrushPart", {1, 15, 5, 0, 0, 50, 50}), 0);
    EXPECT_EQ(Shown(4, 4), kRed);
    EXPECT_EQ(Shown(5, 0), 0u);
    EXPECT_EQ(Shown(0, 5), 0u);
    EXPECT_EQ(Show("DisplayBrush", {7, 0, 0}), ERR_FINDBRUSH);
}

TEST_F(DisplayObjectTest, TransparencyBlendsThroughAPlaneOfItsOwnAndLeavesTheBrushAlone) {
    MakeBrush(1, 10, 10, 0xFFFFFF);
    ASSERT_EQ(Show("DisplayBrush", {1, 0, 0}, [&] { SetTableFieldString(L_, "transparency", "50%"); }), 0);
    const uint32_t c = Shown(5, 5);
    EXPECT_NEAR(static_cast<int>(c & 0xFF), 128, 1) << std::hex << c;
    qbBrush* b = nullptr;
    ASSERT_EQ(GetBrushRecord(nullptr, ObjectID{1, nullptr}, &b, 0), 0);
    EXPECT_EQ(b->alpha, nullptr);
    EXPECT_EQ(b->mask, nullptr);
    EXPECT_EQ(ReadBitmapPixel(b->bitmap, 5, 5, false), 0xFFFFFFu);
    EXPECT_EQ(Show("DisplayBrush", {1, 0, 0}, [&] { SetTableFieldString(L_, "transparency", "x%"); }),
              ERR_PERCENTFORMATSTR);
}

TEST_F(DisplayObjectTest, AScaledBrushIsBlittedAtItsNewSizeAboutTheAnchor) {
    MakeBrush(1, 10, 10, kRed);
    ASSERT_EQ(Show("DisplayBrush", {1, 50, 40}, [&] {
                  SetTableFieldFloat(L_, "scalex", 2);
                  SetTableFieldFloat(L_, "anchorx", 0.5);
              }),
              0);
    EXPECT_EQ(Shown(40, 40), kRed);
    EXPECT_EQ(Shown(59, 49), kRed);
    EXPECT_EQ(Shown(39, 40), 0u);
    EXPECT_EQ(Shown(60, 40), 0u);
    EXPECT_EQ(Show("DisplayBrush", {1, 0, 0}, [&] { SetTableFieldFloat(L_, "scaley", 0); }), ERR_WRONGUSAGE);
}

// Positions beyond 32 bits clamp to their limits, far off the picture; NaN
// counts as 0, in a position or in the transform.
TEST_F(DisplayObjectTest, PositionsAtTheLimitsDrawNothingAndNaNCountsAsZero) {
    MakeBrush(1, 20, 10, kRed);
    const double nan = std::nan("");
    for (const bool layers : {false, true}) {
        SCOPED_TRACE(layers ? "layers" : "no layers");
        if (layers) {
            ASSERT_EQ(Run("EnableLayers", 0), 0);
        }
        FillBitmapRect(display_->spriteFreeBuffer.get(), 0, 0, 100, 80, 0);
        const double far[][2] = {{0, -1e300},       {-1e300, 0},       {1e300, 1e300},   {-1e300, -1e300},
                                 {-2147483648.0, 0}, {0, 2147483647.0}, {2147483647.0, 5}};
        for (const auto& p : far)
            for (const double anchor : {0.0, 1.0})
                for (const double turn : {0.0, 90.0})
                    ASSERT_EQ(Show("DisplayBrush", {1, p[0], p[1]}, [&] {
                                  SetTableFieldFloat(L_, "anchorx", anchor);
                                  SetTableFieldFloat(L_, "anchory", anchor);
                                  SetTableFieldFloat(L_, "rotate", turn);
                              }),
                              0)
                        << p[0] << " " << p[1] << " " << anchor << " " << turn;
        // Where no layer was shown, the window's buffer holds whatever it
        // held before; compose all of it.
        if (layers) RefreshLayerRect(L_, 0, 0, 100, 80, 0);
        for (int32_t y = 0; y < 80; y += 79)
            for (int32_t x = 0; x < 100; x += 99) EXPECT_EQ(Window(x, y), 0u) << x << " " << y;

        // A NaN scale or turn leaves no box to draw.
        ASSERT_EQ(Show("DisplayBrush", {1, 60, 60}, [&] { SetTableFieldFloat(L_, "scalex", nan); }), 0);
        ASSERT_EQ(Show("DisplayBrush", {1, 60, 60}, [&] { SetTableFieldFloat(L_, "rotate", nan); }), 0);
        if (layers) RefreshLayerRect(L_, 0, 0, 100, 80, 0);
        EXPECT_EQ(Window(0, 0), 0u);
        EXPECT_EQ(Window(60, 60), 0u);

        ASSERT_EQ(Show("DisplayBrush", {1, nan, nan}), 0);
        if (layers) RefreshLayerRect(L_, 0, 0, 100, 80, 0);
        EXPECT_EQ(Window(0, 0), kRed);
        EXPECT_EQ(Window(19, 9), kRed);
        EXPECT_EQ(Window(20, 10), 0u);
    }
}
