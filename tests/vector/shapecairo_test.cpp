// Anti-aliased circles and ellipses drawn by the draw library's commands
// on the conic road, compared with cairo filling the same geometry.
#include <gtest/gtest.h>

#ifdef QB_TEST_HAVE_CAIRO

#include <cairo.h>

#include <cmath>
#include <numbers>

#include "draw/draw.h"
#include "draw/shape.h"
#include "objects/bgpiclib.h"
#include "objects/show_fixture.h"
#include "vector/ftengine.h"

namespace {

class ShapeCairoTest : public ShowWorld {
protected:
    void SetUp() override {
        ShowWorld::SetUp();
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitBGPicLibrary(L_), 0);
        VmSetTop(L_, 0);
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitDrawLibrary(L_), 0);
        VmSetTop(L_, 0);
        SetCurvedShapeService(&RenderShapeOutline);
        *GetDrawState() = DefaultDrawState();
    }
    void TearDown() override {
        SetCurvedShapeService(nullptr);
        *GetDrawState() = DefaultDrawState();
        FreeDrawLibrary(L_);
        ShowWorld::TearDown();
    }
    // Mean difference of the display's red channel from cairo's coverage
    // of the ellipse centred at (cx, cy).
    double MeanDifference(double cx, double cy, double rx, double ry) {
        cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_A8, 100, 80);
        cairo_t* cr = cairo_create(surface);
        cairo_translate(cr, cx, cy);
        cairo_scale(cr, rx, ry);
        cairo_arc(cr, 0, 0, 1, 0, 2 * std::numbers::pi);
        cairo_fill(cr);
        cairo_surface_flush(surface);
        const uint8_t* data = cairo_image_surface_get_data(surface);
        const int stride = cairo_image_surface_get_stride(surface);
        double total = 0;
        int n = 0;
        for (int y = 0; y < 80; ++y)
            for (int x = 0; x < 100; ++x) {
                const int theirs = data[y * stride + x], ours = static_cast<int>(Shown(x, y) >> 16);
                if (!theirs && !ours) continue;
                total += std::abs(theirs - ours);
                ++n;
            }
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
        return n ? total / n : 255;
    }
};

}  // namespace

TEST_F(ShapeCairoTest, AntialiasedCirclesAndEllipsesMatchCairo) {
    ASSERT_EQ(Show("SetFillStyle", {FILLCOLOR}), 0);
    ASSERT_EQ(Show("SetFormStyle", {kFormAntialias}), 0);
    ASSERT_EQ(Show("Circle", {10, 10, 25, 0xFFFFFF}), 0);
    EXPECT_LE(MeanDifference(35, 35, 25, 25), 2.0);
    EXPECT_GT(MeanDifference(36, 35, 25, 25), 2.0);  // a pixel off shows
    FillBitmapRect(display_->spriteFreeBuffer.get(), 0, 0, 100, 80, 0);
    ASSERT_EQ(Show("Ellipse", {5, 20, 40, 18, 0xFFFFFF}), 0);
    EXPECT_LE(MeanDifference(45, 38, 40, 18), 2.0);
}

#endif
