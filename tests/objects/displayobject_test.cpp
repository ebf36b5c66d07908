// Brushes shown with layers off: centred by the position constants and
// anchors, parts cut at the brush edge, transparency blended from a private
// plane (the brush stays as it was), and a transform blitted at its box.
#include <gtest/gtest.h>

#include "core/errcodes.h"
#include "display/positions.h"
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
