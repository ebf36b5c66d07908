// DeleteMask: the brush's key colour shows again, through its pixels, its
// attributes and what is drawn from it.
#include <gtest/gtest.h>

#include <utility>

#include "objects/show_fixture.h"

namespace {

class DeleteMaskTest : public ShowWorld {
protected:
    // ReadBrushPixel's two results: the colour and the mask's word (-1
    // with no plane).
    std::pair<double, double> Pixel(int32_t id, int32_t x, int32_t y) {
        for (double a : {double(id), double(x), double(y)}) VmPushNumber(L_, a);
        EXPECT_EQ(Run("ReadBrushPixel", 3, 2), 0);
        const std::pair<double, double> got{VmToNumber(L_, 1), VmToNumber(L_, 2)};
        VmSetTop(L_, 0);
        return got;
    }
    double Attribute(int32_t id, int attribute) { return Number("GetAttribute", {3, double(id), double(attribute)}); }
    static constexpr int kTransparentColour = 5, kHasMask = 16;
};

TEST_F(DeleteMaskTest, TheKeyColourShowsAgain) {
    MakeBrush(1, 2, 1, 0xFF00FF);
    ASSERT_EQ(RunNumbers("WriteBrushPixel", {1, 1, 0, 0x00FF00}), 0);
    ASSERT_EQ(RunNumbers("SetBrushTransparency", {1, 0xFF00FF}), 0);
    ASSERT_EQ(Pixel(1, 0, 0).second, 0);
    ASSERT_EQ(Attribute(1, kHasMask), 1);

    ASSERT_EQ(RunNumbers("DeleteMask", {1}), 0);
    EXPECT_EQ(Pixel(1, 0, 0), std::make_pair(double(0xFF00FF), -1.0));
    EXPECT_EQ(Attribute(1, kHasMask), 0);
    EXPECT_EQ(Attribute(1, kTransparentColour), -1);
    // Drawn, and copied: the copy takes no key colour back from the brush.
    ASSERT_EQ(RunNumbers("DisplayBrush", {1, 0, 0}), 0);
    EXPECT_EQ(Shown(0, 0) & 0xFFFFFFu, 0xFF00FFu);
    EXPECT_EQ(Shown(1, 0) & 0xFFFFFFu, 0x00FF00u);
    ASSERT_EQ(RunNumbers("CopyBrush", {1, 2}), 0);
    EXPECT_EQ(Pixel(2, 0, 0).second, -1);
    EXPECT_EQ(Attribute(2, kTransparentColour), -1);
}

}  // namespace
