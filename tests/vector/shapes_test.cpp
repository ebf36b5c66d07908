// The curved-shape service of the draw library: ellipses centred in their
// box, pies placed by their whole ellipse, boxes, strokes and margins.
#include <gtest/gtest.h>

#include <numbers>
#include <vector>

#include "vector/ftengine.h"

namespace {

constexpr double kPi = std::numbers::pi;

double Render(qbShapeOutlineArgs& a, std::vector<uint8_t>* out = nullptr) {
    qbShapeOutlineArgs measure = a;
    EXPECT_EQ(RenderShapeOutline(&measure), 1);
    std::vector<uint8_t> px(static_cast<size_t>(measure.outWidth) * measure.outHeight + 1);
    a.pixels = px.data();
    a.bytesPerRow = measure.outWidth;
    EXPECT_EQ(RenderShapeOutline(&a), 1);
    EXPECT_EQ(a.outWidth, measure.outWidth);
    double sum = 0;
    for (uint8_t b : px) sum += b / 255.0;
    if (out) *out = px;
    return sum;
}

TEST(CurvedShapes, AnEllipseFillsItsBox) {
    qbShapeOutlineArgs a;
    a.type = 16;
    a.rx = 30;
    a.ry = 20;
    EXPECT_NEAR(Render(a) / (kPi * 600), 1, 0.01);
    EXPECT_EQ(a.outWidth, 60);
    EXPECT_EQ(a.outHeight, 40);
}

TEST(CurvedShapes, APieIsPlacedByItsWholeEllipse) {
    qbShapeOutlineArgs a;
    a.type = 31;
    a.rx = 30;
    a.ry = 20;
    a.start = 0;
    a.end = 90;
    std::vector<uint8_t> px;
    EXPECT_NEAR(Render(a, &px) / (kPi * 150), 1, 0.01);
    EXPECT_EQ(a.outWidth, 60);
    EXPECT_EQ(a.outHeight, 40);
    // The quarter from 0 to 90 degrees lies right of and below the centre
    // (30, 20), and its sides run from there to the ends of the arc.
    EXPECT_EQ(px[30 * 60 + 40], 255);
    EXPECT_EQ(px[10 * 60 + 10], 0);
    EXPECT_EQ(px[30 * 60 + 25], 0);
}

TEST(CurvedShapes, BoxesStrokesAndMargins) {
    qbShapeOutlineArgs box;
    box.type = 14;
    box.width = 40;
    box.height = 20;
    EXPECT_NEAR(Render(box), 800, 0.5);
    qbShapeOutlineArgs ring;
    ring.type = 15;
    ring.rx = ring.ry = 50;
    ring.filled = 0;
    ring.strokeWidth = 4;
    EXPECT_NEAR(Render(ring) / (2 * kPi * 50 * 4), 1, 0.01);
    EXPECT_EQ(ring.outWidth, 104);
    qbShapeOutlineArgs margin;
    margin.type = 15;
    margin.rx = margin.ry = 10;
    margin.margin = 2;
    Render(margin);
    EXPECT_EQ(margin.outWidth, 24);
}

}  // namespace
