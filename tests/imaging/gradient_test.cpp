// The gradient renderer against a reference worked out independently (the
// position from the geometry in closed form, colours interpolated in floating
// point) and, where the machine has it, against pixman's gradients; and the
// fills' edge cases: sizes, pixel sizes, types, stops, borders.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "core/pixelformats.h"
#include "imaging/gradient.h"

#ifdef QB_TEST_HAVE_PIXMAN
#include <pixman.h>
#endif

namespace {

constexpr double kPi = 3.141592653589793;

struct Picture {
    int32_t w, h;
    std::vector<uint32_t> px;
    uint32_t At(int32_t x, int32_t y) const { return px[static_cast<size_t>(y) * w + x]; }
};

Picture Render(const qbGradient& g, int32_t w, int32_t h, uint32_t background = 0xAB000000) {
    Picture p{w, h, std::vector<uint32_t>(static_cast<size_t>(w) * h, background)};
    qbGradientFill f;
    f.pixels = p.px.data();
    f.width = w;
    f.height = h;
    f.pitch = w;
    f.gradient = &g;
    FillGradientPixels(f);
    return p;
}

qbGradient Make(int style, uint32_t start, uint32_t end, int angle = 0) {
    qbGradient g;
    g.style = style;
    g.startColor = static_cast<int32_t>(start);
    g.endColor = static_cast<int32_t>(end);
    g.angle = angle;
    return g;
}

// The position 0..1 of the pixel centre (x, y) as the geometry defines it.
double ReferencePosition(const qbGradient& g, int32_t w, int32_t h, double x, double y) {
    if (g.style == kGradientLinear) {
        const double a = g.angle * kPi / 180;
        const double dx = std::sin(a), dy = std::cos(a);
        double lo = 1e300, hi = -1e300;
        for (double cx : {0.0, double(w)})
            for (double cy : {0.0, double(h)}) {
                lo = std::min(lo, cx * dx + cy * dy);
                hi = std::max(hi, cx * dx + cy * dy);
            }
        return (x * dx + y * dy - lo) / (hi - lo);
    }
    const double cx = w * g.centerX, cy = h * g.centerY;
    if (g.style == kGradientRadial) {
        const double spread = 0.5 + std::max(std::fabs(0.5 - g.centerX), std::fabs(0.5 - g.centerY));
        const double r = std::sqrt(double(w) * w + double(h) * h) * spread * (1 - g.border);
        return std::hypot(x - cx, y - cy) / r;
    }
    const double theta = std::fmod(std::atan2(y - cy, x - cx) + 2 * kPi + g.angle * kPi / 180, 2 * kPi);
    return 1 - theta / (2 * kPi);
}

// Padded, ascending stops as {position, colour}.
double ReferenceChannel(const std::vector<std::pair<double, uint32_t>>& stops, double t, int shift) {
    auto channel = [shift](uint32_t c) { return double((c >> shift) & 0xFF); };
    if (t <= stops.front().first) return channel(stops.front().second);
    for (size_t i = 1; i < stops.size(); ++i) {
        if (t < stops[i].first) {
            const double f = (t - stops[i - 1].first) / (stops[i].first - stops[i - 1].first);
            return channel(stops[i - 1].second) + f * (channel(stops[i].second) - channel(stops[i - 1].second));
        }
    }
    return channel(stops.back().second);
}

std::vector<std::pair<double, uint32_t>> StopsOf(const qbGradient& g) {
    if (!g.stops.empty()) {
        std::vector<std::pair<double, uint32_t>> v;
        for (const qbGradientStop& s : g.stops) v.emplace_back(s.position, static_cast<uint32_t>(s.color));
        return v;
    }
    const auto start = static_cast<uint32_t>(g.startColor), end = static_cast<uint32_t>(g.endColor);
    if (g.style == kGradientConical) return {{0, end}, {g.balance, start}, {1, end}};
    return {{0, start}, {1, end}};
}

// The largest channel difference from the reference over the picture; the
// 8-bit weights of the interpolation round down, so one step is allowed.
double MaxDeviation(const qbGradient& g, const Picture& p) {
    const auto stops = StopsOf(g);
    double worst = 0;
    for (int32_t y = 0; y < p.h; ++y)
        for (int32_t x = 0; x < p.w; ++x) {
            const double t = ReferencePosition(g, p.w, p.h, x + 0.5, y + 0.5);
            for (int shift : {0, 8, 16}) {
                const double want = ReferenceChannel(stops, t, shift);
                const double got = (p.At(x, y) >> shift) & 0xFF;
                worst = std::max(worst, std::fabs(std::floor(want) - got));
            }
            EXPECT_EQ(p.At(x, y) >> 24, 0u);
        }
    return worst;
}

}  // namespace

TEST(GradientTest, LinearRadialAndConicalMatchTheReference) {
    for (int angle : {0, 90, 180, 270, 33, 135, 300, 360, -360, 720}) {
        const qbGradient g = Make(kGradientLinear, 0x00FF80, 0xFF0010, angle);
        EXPECT_LE(MaxDeviation(g, Render(g, 97, 61)), 1.0) << angle;
    }
    qbGradient radial = Make(kGradientRadial, 0xFFFFFF, 0x0000FF);
    EXPECT_LE(MaxDeviation(radial, Render(radial, 80, 50)), 1.0);
    radial.centerX = 0.2;
    radial.centerY = 0.9;
    radial.border = 0.3;
    EXPECT_LE(MaxDeviation(radial, Render(radial, 80, 50)), 1.0);
    qbGradient conical = Make(kGradientConical, 0xFF0000, 0x00FF00, 40);
    conical.balance = 0.3;
    EXPECT_LE(MaxDeviation(conical, Render(conical, 64, 64)), 1.0);
    qbGradient stops = Make(kGradientLinear, 0, 0, 60);
    stops.stops = {{0x0000FF, 0.2}, {0xFFFF00, 0.5}, {0xFF0000, 0.7}};
    EXPECT_LE(MaxDeviation(stops, Render(stops, 70, 40)), 1.0);
}

TEST(GradientTest, NothingIsDrawnForEmptyOrUnknownRequests) {
    const uint32_t untouched = 0xAB000000;
    std::vector<uint32_t> px(16, untouched);
    const qbGradient g = Make(kGradientLinear, 0xFF, 0xFF00);
    qbGradient bad = g;
    bad.style = 5;
    qbGradient oneStop = g;
    oneStop.stops = {{0xFF, 0.5}};
    qbGradient tooMany = g;
    tooMany.stops.assign(kMaxGradientStops + 1, qbGradientStop{0xFF, 0.5});
    for (auto [w, h, bytes, gradient] : {std::tuple{0, 4, 4, &g}, {4, -1, 4, &g}, {4, 4, 3, &g}, {4, 4, 4, &bad},
                                         {4, 4, 4, &oneStop}, {4, 4, 4, &tooMany}}) {
        qbGradientFill f;
        f.pixels = px.data();
        f.width = w;
        f.height = h;
        f.bytesPerPixel = bytes;
        f.pitch = 4;
        f.gradient = gradient;
        FillGradientPixels(f);
    }
    EXPECT_EQ(px, std::vector<uint32_t>(16, untouched));
}

TEST(GradientTest, RadialBorderOfOneLeavesAHundredthOfTheRadius) {
    // A border of 1 leaves a radius of a hundredth: nearly all end colour.
    qbGradient g = Make(kGradientRadial, 0xFF0000, 0x0000FF);
    g.border = 1.0;
    const Picture p = Render(g, 100, 100);
    int end = 0;
    for (uint32_t c : p.px) end += c == 0x0000FF;
    EXPECT_GE(end, 100 * 100 - 4);
}

TEST(GradientTest, StopsPadOutsideTheirRangeAndSixteenBitPixelsFollowTheFormat) {
    qbGradient g = Make(kGradientLinear, 0xFFFFFF, 0xFFFFFF, 90);
    g.stops = {{0xFF0000, 0.25}, {0x0000FF, 0.75}};
    const Picture p = Render(g, 100, 1);
    EXPECT_EQ(p.At(0, 0), 0xFF0000u);
    EXPECT_EQ(p.At(24, 0), 0xFF0000u);
    EXPECT_EQ(p.At(76, 0), 0x0000FFu);
    EXPECT_EQ(p.At(99, 0), 0x0000FFu);

    std::vector<uint16_t> px(8, 0);
    qbGradient red = Make(kGradientLinear, 0xFF0000, 0xFF0000);
    for (int format : {kFormatRGB565, kFormatBGR565}) {
        qbGradientFill f;
        f.pixels = px.data();
        f.bytesPerPixel = 2;
        f.pixelFormat = format;
        f.width = 8;
        f.height = 1;
        f.pitch = 8;
        f.gradient = &red;
        FillGradientPixels(f);
        EXPECT_EQ(px[3], RGB565ToPixel16(format, 0xF800)) << format;
    }
}

TEST(GradientTest, ClippedFillsDrawTheSamePixelsAsWholeOnes) {
    const qbGradient g = Make(kGradientLinear, 0x123456, 0xFEDCBA, 20);
    const Picture whole = Render(g, 50, 30);
    std::vector<uint32_t> px(50 * 30, 7);
    qbGradientFill f;
    f.pixels = px.data();
    f.width = 50;
    f.height = 30;
    f.pitch = 50;
    f.gradient = &g;
    FillGradientPixelsClipped(f, 10, 5, 33, 29);
    for (int32_t y = 0; y < 30; ++y)
        for (int32_t x = 0; x < 50; ++x)
            EXPECT_EQ(px[y * 50 + x], x >= 10 && x < 33 && y >= 5 && y < 29 ? whole.At(x, y) : 7u);
}

#ifdef QB_TEST_HAVE_PIXMAN
// pixman's gradients of the same end points and circles, independently
// written: a second opinion on the geometry of linear and radial fills.
// pixman rounds its interpolation where ours truncates 8-bit weights, so
// the two may lie two steps apart; a wrong geometry lies far further.
TEST(GradientTest, LinearAndRadialAgreeWithPixman) {
    constexpr int32_t w = 120, h = 70;
    auto compare = [&](const qbGradient& g, pixman_image_t* theirs) {
        std::vector<uint32_t> px(w * h);
        pixman_image_t* dst = pixman_image_create_bits(PIXMAN_x8r8g8b8, w, h, px.data(), w * 4);
        pixman_image_set_repeat(theirs, PIXMAN_REPEAT_PAD);
        pixman_image_composite32(PIXMAN_OP_SRC, theirs, nullptr, dst, 0, 0, 0, 0, 0, 0, w, h);
        pixman_image_unref(dst);
        pixman_image_unref(theirs);
        const Picture ours = Render(g, w, h);
        int worst = 0;
        for (size_t i = 0; i < px.size(); ++i)
            for (int shift : {0, 8, 16})
                worst = std::max(worst, std::abs(int((px[i] >> shift) & 0xFF) - int((ours.px[i] >> shift) & 0xFF)));
        return worst;
    };
    const pixman_gradient_stop_t stops[2] = {{0, {0x2020, 0x4040, 0xC0C0, 0xFFFF}},
                                             {pixman_fixed_1, {0xF0F0, 0xA0A0, 0x1010, 0xFFFF}}};
    const pixman_point_fixed_t top{0, 0}, bottom{0, pixman_int_to_fixed(h)}, right{pixman_int_to_fixed(w), 0};
    EXPECT_LE(compare(Make(kGradientLinear, 0x2040C0, 0xF0A010, 0),
                      pixman_image_create_linear_gradient(&top, &bottom, stops, 2)),
              2);
    EXPECT_LE(compare(Make(kGradientLinear, 0x2040C0, 0xF0A010, 90),
                      pixman_image_create_linear_gradient(&top, &right, stops, 2)),
              2);
    const pixman_point_fixed_t c{pixman_int_to_fixed(w / 2), pixman_int_to_fixed(h / 2)};
    const double r = std::sqrt(double(w) * w + double(h) * h) / 2;
    EXPECT_LE(compare(Make(kGradientRadial, 0x2040C0, 0xF0A010),
                      pixman_image_create_radial_gradient(&c, &c, 0, pixman_double_to_fixed(r), stops, 2)),
              2);
}
#endif

// A vertical gradient (a whole number of turns) gives every row one colour,
// the same whatever the picture's width, narrow and tall pictures included.
TEST(GradientTest, VerticalRowsDoNotDependOnTheWidth) {
    for (int angle : {0, 360, -720}) {
        const qbGradient g = Make(kGradientLinear, 0x00FF80, 0xFF0010, angle);
        for (int32_t h = 1; h <= 100; ++h) {
            const Picture wide = Render(g, 400, h);
            for (int32_t w : {1, 2, 5, 17, 64}) {
                const Picture p = Render(g, w, h);
                for (int32_t y = 0; y < h; ++y)
                    for (int32_t x = 0; x < w; ++x)
                        ASSERT_EQ(p.At(x, y), wide.At(0, y)) << w << "x" << h << " at " << x << "," << y << " angle "
                                                             << angle;
            }
        }
    }
}

// Radial and conical fills in 16 bits are their 32-bit colours cut to
// RGB565 and put in the format, whole or clipped (the clip here starts past
// the first chunk of positions, which only moves the walker).
TEST(GradientTest, RoundFillsInSixteenBitsAreTheirColoursCutToTheFormat) {
    constexpr int32_t kW = 600, kH = 5;
    auto cut = [](uint32_t c) {
        return static_cast<uint16_t>((((c >> 16) & 0xF8u) << 8) | (((c >> 8) & 0xFCu) << 3) | ((c & 0xF8u) >> 3));
    };
    for (int style : {kGradientRadial, kGradientConical}) {
        qbGradient g = Make(style, 0xFF2040, 0x10E0F0, 30);
        g.centerX = 0.3;
        const Picture whole = Render(g, kW, kH);
        for (int format : {kFormatRGB565, kFormatBGR565}) {
            std::vector<uint16_t> px(kW * kH, 0x1234), clipped(kW * kH, 0x1234);
            qbGradientFill f;
            f.pixels = px.data();
            f.bytesPerPixel = 2;
            f.pixelFormat = format;
            f.width = kW;
            f.height = kH;
            f.pitch = kW;
            f.gradient = &g;
            FillGradientPixels(f);
            f.pixels = clipped.data();
            FillGradientPixelsClipped(f, 530, 1, 580, 4);
            int differ = 0;
            for (int32_t y = 0; y < kH; ++y)
                for (int32_t x = 0; x < kW; ++x) {
                    const uint16_t want = RGB565ToPixel16(format, cut(whole.At(x, y)));
                    ASSERT_EQ(px[y * kW + x], want) << style << " " << format << " at " << x << "," << y;
                    const bool inside = x >= 530 && x < 580 && y >= 1 && y < 4;
                    ASSERT_EQ(clipped[y * kW + x], inside ? want : 0x1234) << x << "," << y;
                    differ += want != px[0];
                }
            EXPECT_GT(differ, kW * kH / 2) << "a flat fill proves nothing";
        }
    }
}

// A border that leaves a radius under a 65536th of a pixel: every pixel
// takes the start colour, never a division by the empty radius.
TEST(GradientTest, RadialOfNoRadiusIsTheStartColour) {
    qbGradient g = Make(kGradientRadial, 0x336699, 0xCC9933);
    g.border = 1 - 1e-9;
    const Picture p = Render(g, 40, 30);
    for (uint32_t c : p.px) ASSERT_EQ(c, 0x336699u);
}
