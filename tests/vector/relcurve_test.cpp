// A curve by relative points: each of its three points is an offset from
// the current point where the curve starts (not from the point before it),
// and its end becomes the current point.
#include <gtest/gtest.h>

#include <vector>

#include "path_fixture.h"

namespace {

class RelCurveTest : public PathWorld {
protected:
    // The path stroked 3 pixels wide onto a cleared picture.
    std::vector<uint32_t> Stroked(int id) {
        qbBitmap* picture = display_->output.bitmap;
        FillBitmapRect(picture, 0, 0, 100, 80, 0);
        EXPECT_EQ(Cmd("DrawPath", {double(id), 0, 0, 0xFFFFFF}), 0);
        std::vector<uint32_t> all;
        for (int32_t y = 0; y < 80; ++y)
            for (int32_t x = 0; x < 100; ++x) all.push_back(ReadBitmapPixel(picture, x, y, false) & 0xFFFFFFu);
        return all;
    }
};

TEST_F(RelCurveTest, RelCurveToDrawsTheAbsoluteCurveAndEndsAtItsEnd) {
    ASSERT_EQ(Cmd("CreateBGPic", {2, 100, 80}), 0);
    ASSERT_EQ(Cmd("SelectBGPic", {2, 0}), 0);
    ASSERT_NE(display_->output.bitmap, nullptr);
    ASSERT_EQ(Cmd("SetFillStyle", {FILLNONE, 3}), 0);
    ASSERT_EQ(Cmd("StartPath", {1}), 0);
    ASSERT_EQ(Cmd("MoveTo", {1, 10, 20}), 0);
    ASSERT_EQ(Cmd("RelCurveTo", {1, 10, -15, 50, 55, 70, 40}), 0);
    ASSERT_EQ(Cmd("StartPath", {2}), 0);
    ASSERT_EQ(Cmd("MoveTo", {2, 10, 20}), 0);
    ASSERT_EQ(Cmd("CurveTo", {2, 20, 5, 60, 75, 80, 60}), 0);

    VmPushNumber(L_, 1);
    ASSERT_EQ(Run("GetCurrentPoint", 1, 2), 0);
    EXPECT_EQ(VmToNumber(L_, 1), 80);
    EXPECT_EQ(VmToNumber(L_, 2), 60);
    VmSetTop(L_, 0);

    const std::vector<uint32_t> relative = Stroked(1), absolute = Stroked(2);
    size_t lit = 0;
    for (uint32_t p : absolute) lit += p != 0;
    EXPECT_GT(lit, 150u);  // a curve some 100 pixels long, 3 wide
    EXPECT_EQ(relative, absolute);
}

}  // namespace
