// The inbuilt engine's hooks: measuring, arcs and boxes, text, fill rules,
// rasterising, translation, the mended geometry and clean failures.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <limits>
#include <numbers>
#include <vector>

#include "vector/geometry.h"
#include "vector_helpers.h"

namespace {

using namespace vectortest;
constexpr double kPi = std::numbers::pi;

TEST(VectorEngine, AButtStrokedLineIsItsWidthHigh) {
    Path p;
    p.Move(10, 20);
    p.Line(50, 20);
    const Extents e = Measure(p, Style(), 0, 4);
    ASSERT_TRUE(e.ok);
    EXPECT_DOUBLE_EQ(e.x1, 10);
    EXPECT_DOUBLE_EQ(e.x2, 50);
    EXPECT_DOUBLE_EQ(e.y1, 18);
    EXPECT_DOUBLE_EQ(e.y2, 22);
}

// Halves of at most pi; a large radius cuts them again so that the cubics
// stay within a tenth of a pixel. A zero radius makes no NaN.
TEST(VectorEngine, CirclesAreHalvesCutToTolerance) {
    for (auto [r, cubics] : {std::pair{1.0, 2}, std::pair{100.0, 4}, std::pair{2000.0, 8}}) {
        qbPathGeometry g;
        qbPathBuilder b(&g);
        b.AddArc(0, 0, r, r, 0, 360, 1, false);
        EXPECT_EQ(b.cubicCount(), cubics) << r;
    }
    Path p;
    p.Arc(30, 40, 0, 0);
    const Extents e = Measure(p, Style(), 1, 1);
    ASSERT_TRUE(e.ok);
    EXPECT_TRUE(std::isfinite(e.x1) && std::isfinite(e.y2));
    EXPECT_EQ(e.x2 - e.x1, 0);
    double x = 0, y = 0;
    ASSERT_EQ(InbuiltVectorHooks().getCurrentPoint(p.data(), nullptr, &x, &y), 1);
    EXPECT_EQ(x, 30);
    EXPECT_EQ(y, 40);
}

TEST(VectorEngine, BoxCornersRoundByHalfTheShorterSide) {
    Path square;
    square.Box(0, 0, 40, 20, 0);
    Mask m = Draw(square, Style(), 1, 1);
    ASSERT_EQ(m.width, 40);
    ASSERT_EQ(m.height, 20);
    for (uint8_t b : m.bytes) ASSERT_EQ(b, 255);
    Path round;
    round.Box(0, 0, 40, 20, 100);
    m = Draw(round, Style(), 1, 1);
    // Four quarter circles of radius 10 cut from the corners.
    EXPECT_NEAR(m.Sum(), 800 - (4 - kPi) * 100, 2.5);
    EXPECT_EQ(m.at(0, 0), 0);
    EXPECT_EQ(m.at(20, 0), 255);
    EXPECT_EQ(m.at(10, 10), 255);
}

std::vector<char> ReadFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), {});
}

class VectorText : public ::testing::Test {
protected:
    void SetUp() override {
        data_ = ReadFile("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf");
        if (data_.empty()) GTEST_SKIP() << "fonts-dejavu-core is not installed";
        face_ = InbuiltVectorHooks().openFont(data_.data(), data_.size());
        ASSERT_NE(face_, nullptr);
    }
    void TearDown() override {
        if (face_) InbuiltVectorHooks().closeFont(face_);
    }
    double Advance(char c, int size) {
        auto face = static_cast<FT_Face>(face_);
        FT_Set_Char_Size(face, 0, size * 64, 72, 72);
        FT_Load_Glyph(face, FT_Get_Char_Index(face, static_cast<unsigned char>(c)), FT_LOAD_NO_BITMAP);
        return face->glyph->advance.x / 64.0;
    }
    std::vector<char> data_;
    void* face_ = nullptr;
};

TEST_F(VectorText, ALineAfterTextGoesOnFromThePen) {
    Path p;
    p.Move(10, 50);
    p.Text(face_, 20, "AB");
    p.Line(7, 3, 1);
    double x = 0, y = 0;
    ASSERT_EQ(InbuiltVectorHooks().getCurrentPoint(p.data(), nullptr, &x, &y), 1);
    EXPECT_DOUBLE_EQ(x, 10 + Advance('A', 20) + Advance('B', 20) + 7);
    EXPECT_DOUBLE_EQ(y, 53);
    // The glyphs stand on the baseline at y 50.
    const Extents e = Measure(p, Style(), 1, 1);
    EXPECT_LT(e.y1, 40);
    EXPECT_NEAR(e.y2, 50, 1);
}

// Glyphs may hold a contour of one repeated point, which must not reach
// the stroker.
TEST_F(VectorText, TextStrokesWithEveryJoin) {
    for (int join : {QB_JOIN_MITER, QB_JOIN_ROUND, QB_JOIN_BEVEL}) {
        Path p;
        p.Move(10, 60);
        p.Text(face_, 48, "Quenbrook draws vector paths!");
        const Extents e = Measure(p, Style(join, QB_CAP_ROUND), 0, 5);
        ASSERT_TRUE(e.ok);
        EXPECT_GT(e.x2 - e.x1, 500);
    }
}

// A lead byte at the end ends the text (the address sanitizer watches the
// terminator's neighbour).
TEST_F(VectorText, ALeadByteAtTheEndEndsTheText) {
    Path p;
    p.Move(0, 30);
    p.Text(face_, 20, "A\xC3");
    double x = 0, y = 0;
    ASSERT_EQ(InbuiltVectorHooks().getCurrentPoint(p.data(), nullptr, &x, &y), 1);
    EXPECT_DOUBLE_EQ(x, Advance('A', 20));
    Path latin;
    latin.Move(0, 30);
    latin.Text(face_, 20, "\xC3\x89");  // É
    ASSERT_EQ(InbuiltVectorHooks().getCurrentPoint(latin.data(), nullptr, &x, &y), 1);
    EXPECT_GT(x, 0);
}

TEST(VectorEngine, EvenOddMakesTheInnerCircleAHole) {
    Path p;
    p.Arc(50, 50, 40, 40);
    p.Arc(50, 50, 20, 20);
    Mask winding = Draw(p, Style(0, 0, QB_FILLRULE_WINDING), 1, 1);
    Mask evenOdd = Draw(p, Style(0, 0, QB_FILLRULE_EVENODD), 1, 1);
    EXPECT_EQ(winding.at(40, 40), 255);
    EXPECT_EQ(evenOdd.at(40, 40), 0);
    EXPECT_EQ(evenOdd.at(40, 5), 255);
}

TEST(VectorEngine, WithoutAntialiasingCoverageIsAllOrNothing) {
    Path p;
    p.Arc(33.3, 21.7, 30.2, 17.9);
    p.Move(0, 0);
    p.Line(70, 45);
    for (int filled : {0, 1}) {
        Mask m = Draw(p, Style(0, 1, 0, 0), filled, 5);
        int full = 0;
        for (uint8_t b : m.bytes) {
            ASSERT_TRUE(b == 0 || b == 255);
            full += b == 255;
        }
        EXPECT_GT(full, 100);
    }
}

TEST(VectorEngine, TranslationMovesAbsolutePointsCentresAndCorners) {
    Path p;
    p.Move(1, 2);
    p.Line(3, 4, 1);
    p.Curve(1, 1, 2, 2, 3, 3);
    p.Arc(10, 20, 5, 6, 0, 90);
    p.Box(30, 40, 7, 8, 50);
    p.Text(nullptr, 12, "t");
    uint8_t* s = p.path.commands.get();
    qbTranslatePathArgs a{s, 100, 1000};
    ASSERT_EQ(InbuiltVectorHooks().translatePath(&a), 1);
    EXPECT_EQ(ReadPathDouble(s + 8), 101);
    EXPECT_EQ(ReadPathDouble(s + 16), 1002);
    EXPECT_EQ(ReadPathDouble(s + 24 + 8), 3);  // relative
    EXPECT_EQ(ReadPathDouble(s + 48 + 8 + 32), 103);
    EXPECT_EQ(ReadPathDouble(s + 48 + 8 + 40), 1003);
    const uint8_t* arc = s + 48 + 56;
    EXPECT_EQ(ReadPathDouble(arc + 4), 110);
    EXPECT_EQ(ReadPathDouble(arc + 12), 1020);
    EXPECT_EQ(ReadPathDouble(arc + 20), 5);  // radii stay
    const uint8_t* box = arc + 56;
    EXPECT_EQ(ReadPathDouble(box + 4), 130);
    EXPECT_EQ(ReadPathDouble(box + 12), 1040);
    EXPECT_EQ(ReadPathDouble(box + 20), 7);
}

// The ellipse is centred where it was asked, and moves with the rest of
// its path.
TEST(VectorEngine, AnEllipseIsCentredOnItsCentre) {
    Path p;
    p.Arc(100, 100, 50, 25);
    Extents at;
    Mask m = Draw(p, Style(), 1, 1, &at);
    double cx, cy;
    Centre(m, &cx, &cy);
    EXPECT_NEAR(at.x1 + cx, 100, 0.05);
    EXPECT_NEAR(at.y1 + cy, 100, 0.05);
    EXPECT_NEAR(at.y1, 75, 0.01);
    p.Box(300, 300, 10, 10, 0);
    qbTranslatePathArgs t{p.path.commands.get(), 10, -20};
    InbuiltVectorHooks().translatePath(&t);
    const Extents e = Measure(p, Style(), 1, 1);
    EXPECT_NEAR(e.x1, 60, 0.01);
    EXPECT_NEAR(e.y1, 55, 0.01);
    EXPECT_NEAR(e.x2, 320, 0.01);
    EXPECT_NEAR(e.y2, 290, 0.01);
    // Normalising puts the whole path at 0, 0.
    qbTranslatePathArgs n{p.path.commands.get(), -e.x1, -e.y1};
    InbuiltVectorHooks().translatePath(&n);
    const Extents z = Measure(p, Style(), 1, 1);
    EXPECT_NEAR(z.x1, 0, 0.02);
    EXPECT_NEAR(z.y1, 0, 0.02);
    EXPECT_NEAR(z.x2, 260, 0.02);
}

// Drawn at its measured size nothing is cut: a larger mask holds no more.
TEST(VectorEngine, AStrokeDrawnAtItsExtentsKeepsAllCoverage) {
    Path p;
    p.Arc(80, 60, 50, 25);
    p.Move(10, 10);
    p.Line(170, 95);
    Extents e;
    const Mask exact = Draw(p, Style(1, 1), 0, 7, &e);
    std::vector<uint8_t> big(static_cast<size_t>(exact.width + 20) * (exact.height + 20));
    const qbVectorLineStyle style = Style(1, 1);
    qbDrawPathArgs a{};
    static const double kIdentity[4] = {1, 0, 0, 1};
    a.commands = p.data(), a.style = &style, a.strokeWidth = 7, a.coverage = big.data();
    a.bytesPerRow = exact.width + 20, a.width = exact.width + 20, a.height = exact.height + 20;
    a.x1 = e.x1, a.y1 = e.y1, a.matrix = kIdentity;
    ASSERT_EQ(InbuiltVectorHooks().drawPath(&a), 1);
    double sum = 0;
    for (uint8_t b : big) sum += b / 255.0;
    EXPECT_NEAR(sum, exact.Sum(), 0.5);
}

// Each sub-path is stroked with its own kind: the closed square's first
// corner is mitred like the others, the open polyline gets caps.
TEST(VectorEngine, SubPathsKeepTheirOwnKind) {
    Path p;
    p.Move(20, 20);
    p.Line(60, 20);
    p.Line(60, 60);
    p.Line(20, 60);
    p.Close();
    p.Move(100, 20);
    p.Line(140, 20);
    p.Line(140, 60);
    Extents e;
    Mask butt = Draw(p, Style(QB_JOIN_MITER, QB_CAP_BUTT), 0, 6, &e);
    const auto At = [&](const Mask& m, double x, double y) {
        return m.at(static_cast<int>(x - e.x1), static_cast<int>(y - e.y1));
    };
    for (auto [x, y] : {std::pair{18, 18}, std::pair{61, 18}, std::pair{61, 61}, std::pair{18, 61}})
        EXPECT_EQ(At(butt, x, y), 255) << x << "," << y;
    EXPECT_EQ(At(butt, 98.5, 20), 0);
    Mask square = Draw(p, Style(QB_JOIN_MITER, QB_CAP_SQUARE), 0, 6, &e);
    EXPECT_EQ(At(square, 98.5, 20), 255);
    EXPECT_EQ(At(square, 140, 61.5), 255);
}

TEST(VectorEngine, AnOpenPathFillsAsIfClosed) {
    Path p;
    p.Move(0, 0);
    p.Line(40, 0);
    p.Line(0, 30);
    const Mask m = Draw(p, Style(), 1, 1);
    EXPECT_NEAR(m.Sum(), 600, 1);
}

TEST(VectorEngine, TooManyPointsAndNaNFailCleanly) {
    Path many;
    many.Move(0, 0);
    for (int i = 0; i < 40000; ++i) many.Line(i % 100, i % 37);
    EXPECT_FALSE(Measure(many, Style(), 1, 1).ok);
    EXPECT_FALSE(Measure(many, Style(), 0, 3).ok);
    Path nan;
    nan.Move(0, 0);
    nan.Line(std::numeric_limits<double>::quiet_NaN(), 5);
    EXPECT_FALSE(Measure(nan, Style(), 1, 1).ok);
    Path arc;
    arc.Arc(0, 0, 5, 5, 0, std::numeric_limits<double>::infinity());
    EXPECT_FALSE(Measure(arc, Style(), 0, 2).ok);
    std::vector<uint8_t> buffer(100);
    const qbVectorLineStyle style = Style();
    qbDrawPathArgs a{};
    a.commands = nan.data(), a.style = &style, a.filled = 1, a.coverage = buffer.data();
    a.bytesPerRow = a.width = a.height = 10;
    EXPECT_EQ(InbuiltVectorHooks().drawPath(&a), 0);
    // Far coordinates are clamped, not wrapped.
    Path far;
    far.Move(0, 0);
    far.Line(1e300, 0);
    far.Line(0, 10);
    const Extents e = Measure(far, Style(), 1, 1);
    ASSERT_TRUE(e.ok);
    EXPECT_EQ(e.x2, kMaxCoordinate);
    // The stroker's trigonometry does not reach that far.
    EXPECT_FALSE(Measure(far, Style(), 0, 3).ok);
}

TEST(VectorEngine, ACircleFillsAndStrokesItsArea) {
    Path p;
    p.Arc(150, 150, 100, 100);
    const Mask fill = Draw(p, Style(), 1, 1);
    EXPECT_NEAR(fill.Sum() / (kPi * 100 * 100), 1, 0.005);
    const Mask ring = Draw(p, Style(), 0, 6);
    EXPECT_NEAR(ring.Sum() / (2 * kPi * 100 * 6), 1, 0.01);
}

}  // namespace

// Without anti-aliasing an even-odd fill sets a pixel where at least half
// of it is covered: the anti-aliased coverage of the same path, cut at 128.
// Rows end at fractions stepping across a half (points are kept to 1/64 of
// a pixel, 4 steps of coverage), so partly covered pixels on both sides of
// the cut are met, and one of exactly 128.
TEST(VectorEngine, AnEvenOddFillWithoutAntialiasingSetsThePixelsCoveredFromHalfOn) {
    Path p;
    for (int row = 0; row < 24; ++row) {
        const double right = 4 + 0.45 + row / 240.0;
        p.Move(0, row);
        p.Line(right, row);
        p.Line(right, row + 1);
        p.Line(0, row + 1);
        p.Close();
    }
    const Mask smooth = Draw(p, Style(0, 0, QB_FILLRULE_EVENODD, 1), 1, 1);
    const Mask hard = Draw(p, Style(0, 0, QB_FILLRULE_EVENODD, 0), 1, 1);
    ASSERT_EQ(smooth.width, hard.width);
    ASSERT_EQ(smooth.height, hard.height);
    bool below = false, half = false, above = false;
    for (int y = 0; y < hard.height; ++y)
        for (int x = 0; x < hard.width; ++x) {
            const uint8_t c = smooth.at(x, y);
            below |= c > 0 && c < 128, half |= c == 128, above |= c > 128 && c < 255;
            ASSERT_EQ(hard.at(x, y), c >= 128 ? 255 : 0) << x << "," << y << " coverage " << int{c};
        }
    EXPECT_TRUE(below && half && above);
}
