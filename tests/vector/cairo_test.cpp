// The inbuilt engine's coverage against cairo's for the same geometry: fills
// under both rules, strokes with each join and cap.
#include <gtest/gtest.h>

#ifdef QB_TEST_HAVE_CAIRO

#include <cairo.h>

#include <cmath>
#include <functional>
#include <numbers>

#include "vector_helpers.h"

namespace {

using namespace vectortest;
constexpr double kPi = std::numbers::pi;

struct Shape {
    std::function<void(Path&)> ours;
    std::function<void(cairo_t*)> theirs;
};

// Draws both at our measured extents and compares byte by byte.
void Compare(const Shape& shape, const qbVectorLineStyle& style, int filled, int width, const char* what) {
    Path p;
    shape.ours(p);
    Extents e;
    const Mask ours = Draw(p, style, filled, width, &e);
    ASSERT_GT(ours.width, 0) << what;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_A8, ours.width, ours.height);
    cairo_t* cr = cairo_create(surface);
    cairo_translate(cr, -e.x1, -e.y1);
    shape.theirs(cr);
    if (filled) {
        cairo_set_fill_rule(cr, style.fillRule == QB_FILLRULE_EVENODD ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
        cairo_fill(cr);
    } else {
        cairo_set_line_width(cr, width);
        cairo_set_line_join(cr, style.join == QB_JOIN_ROUND   ? CAIRO_LINE_JOIN_ROUND
                                : style.join == QB_JOIN_BEVEL ? CAIRO_LINE_JOIN_BEVEL
                                                              : CAIRO_LINE_JOIN_MITER);
        cairo_set_line_cap(cr, style.cap == QB_CAP_ROUND    ? CAIRO_LINE_CAP_ROUND
                               : style.cap == QB_CAP_SQUARE ? CAIRO_LINE_CAP_SQUARE
                                                            : CAIRO_LINE_CAP_BUTT);
        cairo_set_miter_limit(cr, 10);
        cairo_stroke(cr);
    }
    cairo_surface_flush(surface);
    const uint8_t* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    double total = 0;
    int worst = 0;
    for (int y = 0; y < ours.height; ++y)
        for (int x = 0; x < ours.width; ++x) {
            const int d = std::abs(int(ours.at(x, y)) - int(data[y * stride + x]));
            total += d;
            worst = std::max(worst, d);
        }
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    EXPECT_LE(total / (double(ours.width) * ours.height), 2.0) << what;
    EXPECT_LE(worst, 96) << what;
}

const Shape kCircle{[](Path& p) { p.Arc(150.3, 140.6, 100, 100); },
                    [](cairo_t* cr) { cairo_arc(cr, 150.3, 140.6, 100, 0, 2 * kPi); }};

void StarPoints(const std::function<void(int, double, double)>& f) {
    for (int i = 0; i < 5; ++i) {
        const double t = -kPi / 2 + i * 4 * kPi / 5;
        f(i, 100 + 80 * std::cos(t), 100 + 80 * std::sin(t));
    }
}

const Shape kStar{[](Path& p) {
                      StarPoints([&](int i, double x, double y) { i ? p.Line(x, y) : p.Move(x, y); });
                      p.Close();
                  },
                  [](cairo_t* cr) {
                      StarPoints([&](int i, double x, double y) {
                          i ? cairo_line_to(cr, x, y) : cairo_move_to(cr, x, y);
                      });
                      cairo_close_path(cr);
                  }};

const Shape kCubic{[](Path& p) {
                       p.Move(20, 100);
                       p.Curve(60, 0, 140, 200, 180, 100);
                       p.Curve(200, 50, 120, 20, 90, 60);
                       p.Close();
                   },
                   [](cairo_t* cr) {
                       cairo_move_to(cr, 20, 100);
                       cairo_curve_to(cr, 60, 0, 140, 200, 180, 100);
                       cairo_curve_to(cr, 200, 50, 120, 20, 90, 60);
                       cairo_close_path(cr);
                   }};

// A 120 x 80 box whose corners are half rounded: radius 20.
const Shape kRoundedBox{[](Path& p) { p.Box(10, 10, 120, 80, 50); },
                        [](cairo_t* cr) {
                            const double r = 20, x1 = 10, y1 = 10, x2 = 130, y2 = 90;
                            cairo_new_sub_path(cr);
                            cairo_arc(cr, x2 - r, y1 + r, r, -kPi / 2, 0);
                            cairo_arc(cr, x2 - r, y2 - r, r, 0, kPi / 2);
                            cairo_arc(cr, x1 + r, y2 - r, r, kPi / 2, kPi);
                            cairo_arc(cr, x1 + r, y1 + r, r, kPi, 3 * kPi / 2);
                            cairo_close_path(cr);
                        }};

const Shape kPolyline{[](Path& p) {
                          p.Move(20, 20);
                          p.Line(120, 40);
                          p.Line(60, 120);
                          p.Line(160, 140);
                      },
                      [](cairo_t* cr) {
                          cairo_move_to(cr, 20, 20);
                          cairo_line_to(cr, 120, 40);
                          cairo_line_to(cr, 60, 120);
                          cairo_line_to(cr, 160, 140);
                      }};

TEST(VectorAgainstCairo, Fills) {
    Compare(kCircle, Style(), 1, 1, "circle");
    Compare(kStar, Style(0, 0, QB_FILLRULE_WINDING), 1, 1, "star winding");
    Compare(kStar, Style(0, 0, QB_FILLRULE_EVENODD), 1, 1, "star even-odd");
    Compare(kCubic, Style(), 1, 1, "cubic");
    Compare(kRoundedBox, Style(), 1, 1, "rounded box");
}

TEST(VectorAgainstCairo, Strokes) {
    Compare(kCircle, Style(), 0, 6, "circle");
    Compare(kCubic, Style(QB_JOIN_ROUND), 0, 5, "cubic");
    Compare(kRoundedBox, Style(), 0, 4, "rounded box");
    for (int join : {QB_JOIN_MITER, QB_JOIN_ROUND, QB_JOIN_BEVEL})
        for (int cap : {QB_CAP_BUTT, QB_CAP_ROUND, QB_CAP_SQUARE})
            Compare(kPolyline, Style(join, cap), 0, 9, ("polyline join " + std::to_string(join) + " cap " + std::to_string(cap)).c_str());
}

}  // namespace

#endif
