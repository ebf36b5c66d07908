// CreateShadowBrush and CreateBorderBrush: sizes grown by the radius, the
// alpha planes they make or leave out, and the arguments they refuse (the
// shapes themselves are the shadow-mask tests').
#include <gtest/gtest.h>

#include <limits>

#include "brush_fixture.h"
#include "core/errcodes.h"
#include "imaging/bitmap.h"

namespace {

class OutlineBrushTest : public BrushWorld {
protected:
    int Numbers(const char* command, std::initializer_list<double> args) {
        for (double a : args) VmPushNumber(L_, a);
        return Run(command, static_cast<int>(args.size()));
    }
    static uint8_t AlphaAt(const qbBrush* b, int32_t x, int32_t y) {
        return b->alpha->plane->data[static_cast<size_t>(y) * b->alpha->plane->rowBytes + x];
    }
};

}  // namespace

TEST_F(OutlineBrushTest, AShadowGrowsByTheRadiusAndTakesItsOpacityFromTheColour) {
    ASSERT_EQ(Numbers("CreateBrush", {1, 20, 12, 0xFFFFFF}), 0);
    ASSERT_EQ(Numbers("CreateShadowBrush", {2, 1, 0x80102030}), 0);
    const qbBrush* s = Find(2);
    ASSERT_TRUE(s && s->alpha);
    EXPECT_EQ(s->width, 30);
    EXPECT_EQ(s->height, 22);
    EXPECT_EQ(ReadBitmapPixel(s->bitmap, 0, 0, false), 0x102030u);
    // 255 minus the colour's alpha byte at the middle, fading to the corner.
    EXPECT_NEAR(AlphaAt(s, 15, 11), 0x7F, 2);
    EXPECT_LT(AlphaAt(s, 0, 0), AlphaAt(s, 5, 5));
    // A fractional radius grows by its whole part.
    ASSERT_EQ(Numbers("CreateShadowBrush", {3, 1, 0, 2.9}), 0);
    EXPECT_EQ(Find(3)->width, 24);
}

TEST_F(OutlineBrushTest, ABorderOfAPlainBrushIsASolidRectangle) {
    ASSERT_EQ(Numbers("CreateBrush", {1, 8, 8, 0}), 0);
    ASSERT_EQ(Numbers("CreateBorderBrush", {2, 1, 0xFF00FF, 3}), 0);
    EXPECT_EQ(Find(2)->width, 14);
    EXPECT_EQ(Find(2)->alpha, nullptr);
}

TEST_F(OutlineBrushTest, BadRadiiIdsAndSizesAreRefusedWithoutABrush) {
    ASSERT_EQ(Numbers("CreateBrush", {1, 4, 4, 0}), 0);
    EXPECT_EQ(Numbers("CreateShadowBrush", {2, 1, 0, 0.5}), ERR_WRONGUSAGE);
    EXPECT_EQ(Numbers("CreateShadowBrush", {2, 1, 0, std::numeric_limits<double>::quiet_NaN()}), ERR_WRONGUSAGE);
    EXPECT_EQ(Numbers("CreateShadowBrush", {2, 1, 0, 5, std::numeric_limits<double>::infinity()}), ERR_WRONGUSAGE);
    EXPECT_EQ(Numbers("CreateBorderBrush", {1, 1, 0}), ERR_WRONGUSAGE);
    EXPECT_EQ(Numbers("CreateShadowBrush", {2, 1, 0, 1e12}), ERR_BITMAP);
    EXPECT_EQ(Numbers("CreateShadowBrush", {2, 1, 0, 3e5}), ERR_BITMAP);
    EXPECT_EQ(Find(2), nullptr);
    EXPECT_NE(Find(1), nullptr);
}
