// DrawPath on a white picture against cairo drawing the same geometry in
// the same colour on an ARGB32 surface: a star, a cubic shape and a
// stroked polyline, all anti-aliased.
#include <gtest/gtest.h>

#ifdef QB_TEST_HAVE_CAIRO

#include <cairo.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <numbers>

#include "path_fixture.h"

namespace {

constexpr uint32_t kColour = 0x3366CC;

class PathCairoTest : public PathWorld {
protected:
    void SetUp() override {
        PathWorld::SetUp();
        ASSERT_EQ(Cmd("SetFormStyle", {kFormAntialias}), 0);
        ASSERT_EQ(Cmd("SetLineJoin", {QB_JOIN_ROUND}), 0);
    }
    // Draws path 1 with DrawPath and the same geometry with cairo, both
    // where the points say: the path keeps its place within the pixel its
    // extents start in.
    void Compare(const std::function<void(cairo_t*)>& geometry, bool filled, int width) {
        Clear(0xFFFFFF);
        ASSERT_EQ(Cmd("DrawPath", {1, 0, 0, kColour}), 0);
        cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 100, 80);
        cairo_t* cr = cairo_create(surface);
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_paint(cr);
        cairo_set_source_rgb(cr, 0x33 / 255.0, 0x66 / 255.0, 0xCC / 255.0);
        geometry(cr);
        if (filled) {
            cairo_fill(cr);
        } else {
            cairo_set_line_width(cr, width);
            cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
            cairo_stroke(cr);
        }
        cairo_surface_flush(surface);
        const uint8_t* data = cairo_image_surface_get_data(surface);
        const int stride = cairo_image_surface_get_stride(surface);
        double total[3] = {0, 0, 0};
        int worst = 0, n = 0;
        for (int y = 0; y < 80; ++y)
            for (int x = 0; x < 100; ++x) {
                uint32_t theirs = 0;
                std::memcpy(&theirs, data + y * stride + x * 4, 4);
                theirs &= 0xFFFFFF;
                const uint32_t ours = Shown(x, y);
                if (theirs == 0xFFFFFF && ours == 0xFFFFFF) continue;
                ++n;
                for (int c = 0; c < 3; ++c) {
                    const int d = std::abs(int((theirs >> (8 * c)) & 0xFF) - int((ours >> (8 * c)) & 0xFF));
                    total[c] += d;
                    worst = std::max(worst, d);
                }
            }
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
        ASSERT_GT(n, 100);
        for (double t : total) EXPECT_LE(t / n, 2.0);
        EXPECT_LE(worst, 96);
    }
};

TEST_F(PathCairoTest, StarCubicAndPolylineMatchCairo) {
    ASSERT_EQ(Cmd("SetFillStyle", {FILLCOLOR}), 0);
    ASSERT_EQ(Cmd("StartPath", {1}), 0);
    for (int i = 0; i < 5; ++i) {
        const double t = -std::numbers::pi / 2 + i * 4 * std::numbers::pi / 5;
        ASSERT_EQ(Cmd(i ? "LineTo" : "MoveTo", {1, 45.3 + 35 * std::cos(t), 41.6 + 35 * std::sin(t)}), 0);
    }
    ASSERT_EQ(Cmd("ClosePath", {1}), 0);
    {
        SCOPED_TRACE("star");
        Compare(
            [](cairo_t* cr) {
                for (int i = 0; i < 5; ++i) {
                    const double t = -std::numbers::pi / 2 + i * 4 * std::numbers::pi / 5;
                    const double x = 45.3 + 35 * std::cos(t), y = 41.6 + 35 * std::sin(t);
                    i ? cairo_line_to(cr, x, y) : cairo_move_to(cr, x, y);
                }
                cairo_close_path(cr);
            },
            true, 1);
    }
    ASSERT_EQ(Cmd("StartPath", {1}), 0);
    ASSERT_EQ(Cmd("MoveTo", {1, 5.5, 50}), 0);
    ASSERT_EQ(Cmd("CurveTo", {1, 25, 0, 70, 100, 90, 50}), 0);
    ASSERT_EQ(Cmd("CurveTo", {1, 100, 25, 60, 10, 45, 30.3}), 0);
    ASSERT_EQ(Cmd("ClosePath", {1}), 0);
    {
        SCOPED_TRACE("cubic");
        Compare(
            [](cairo_t* cr) {
                cairo_move_to(cr, 5.5, 50);
                cairo_curve_to(cr, 25, 0, 70, 100, 90, 50);
                cairo_curve_to(cr, 100, 25, 60, 10, 45, 30.3);
                cairo_close_path(cr);
            },
            true, 1);
    }
    ASSERT_EQ(Cmd("SetFillStyle", {FILLNONE, 5}), 0);
    ASSERT_EQ(Cmd("StartPath", {1}), 0);
    ASSERT_EQ(Cmd("MoveTo", {1, 10, 10}), 0);
    ASSERT_EQ(Cmd("LineTo", {1, 60.4, 20}), 0);
    ASSERT_EQ(Cmd("LineTo", {1, 30, 60}), 0);
    ASSERT_EQ(Cmd("LineTo", {1, 85, 70.7}), 0);
    {
        SCOPED_TRACE("polyline");
        Compare(
            [](cairo_t* cr) {
                cairo_move_to(cr, 10, 10);
                cairo_line_to(cr, 60.4, 20);
                cairo_line_to(cr, 30, 60);
                cairo_line_to(cr, 85, 70.7);
            },
            false, 5);
    }
}

}  // namespace

#endif
