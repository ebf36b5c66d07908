// Anti-aliased curved shapes into new images: the shape's coverage becomes
// the alpha plane; edge and shadow sit around and behind it; gradients
// colour the shape; failures keep nothing.
#include <gtest/gtest.h>

#include "core/errcodes.h"
#include "draw/conicimages.h"
#include "draw/draw.h"
#include "imaging/bitmap.h"
#include "vector/ftengine.h"

namespace {

class ConicImagesTest : public ::testing::Test {
protected:
    void SetUp() override { SetCurvedShapeService(&RenderShapeOutline); }
    void TearDown() override {
        SetCurvedShapeService(nullptr);
        for (qbBitmap* b : {images_.bitmap, images_.mask, images_.alpha}) FreeBitmap(b);
    }
    static qbConicRequest Circle(double r, uint32_t colour) {
        qbConicRequest c;
        c.shape.type = 15;
        c.shape.rx = r;
        c.shape.ry = r;
        c.colour = colour;
        return c;
    }
    uint32_t Pixel(int32_t x, int32_t y) const { return ReadBitmapPixel(images_.bitmap, x, y, false) & 0xFFFFFF; }
    int Alpha(int32_t x, int32_t y) const {
        return images_.alpha->plane->data[static_cast<size_t>(y) * images_.alpha->plane->rowBytes + size_t(x)];
    }
    qbDrawState state_ = DefaultDrawState();
    qbBoxImages images_;
};

}  // namespace

TEST_F(ConicImagesTest, TheCoverageBecomesTheAlphaPlane) {
    state_.fillStyle = FILLCOLOR;
    ASSERT_EQ(DrawConicImages(nullptr, Circle(10, 0xFF0000), state_, &images_), 0);
    ASSERT_EQ(images_.width, 20);
    ASSERT_EQ(images_.height, 20);
    EXPECT_EQ(images_.mask, nullptr);
    qbShapeOutlineArgs cover = Circle(10, 0).shape;
    std::vector<uint8_t> px(400);
    cover.pixels = px.data();
    cover.bytesPerRow = 20;
    ASSERT_EQ(RenderShapeOutline(&cover), 1);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x) ASSERT_EQ(Alpha(x, y), px[size_t(y) * 20 + size_t(x)]) << x << "," << y;
    EXPECT_EQ(Pixel(10, 10), 0xFF0000u);

    // Half transparent: half the coverage. An outline leaves the middle.
    TearDown();
    SetUp();
    ASSERT_EQ(DrawConicImages(nullptr, Circle(10, 0x80FF0000), state_, &images_), 0);
    EXPECT_NEAR(Alpha(10, 10), 127, 1);
    TearDown();
    SetUp();
    state_.fillStyle = FILLNONE;
    state_.lineWidth = 2;
    ASSERT_EQ(DrawConicImages(nullptr, Circle(10, 0xFF0000), state_, &images_), 0);
    EXPECT_EQ(Alpha(images_.width / 2, images_.height / 2), 0);
    EXPECT_GT(Alpha(images_.width / 2, 1), 0);
}

TEST_F(ConicImagesTest, EdgeAndShadowSurroundTheShape) {
    state_.fillStyle = FILLCOLOR;
    state_.formStyle = kFormAntialias | kFormEdge | kFormShadow;
    state_.edgeSize = 3;
    state_.edgeColour = 0x0000FF;
    state_.shadowSize = 4;
    state_.shadowDirection = 3;  // south-east
    state_.shadowColour = 0x00FF00;
    ASSERT_EQ(DrawConicImages(nullptr, Circle(10, 0xFF0000), state_, &images_), 0);
    EXPECT_EQ(images_.width, 26 + 4);
    EXPECT_EQ(images_.height, 26 + 4);
    EXPECT_EQ(images_.blockX, 0);
    EXPECT_EQ(Pixel(13, 13), 0xFF0000u);  // the shape in the middle of its edge
    EXPECT_EQ(Alpha(13, 13), 255);
    EXPECT_EQ(Pixel(13, 1), 0x0000FFu);   // the edge ring above it
    EXPECT_EQ(Pixel(28, 17), 0x00FF00u);  // the shadow off to the lower right
    EXPECT_EQ(Alpha(0, 29), 0);
}

TEST_F(ConicImagesTest, AGradientColoursTheShapeAndFailuresKeepNothing) {
    state_.fillStyle = FILLGRADIENT;
    ASSERT_EQ(DrawConicImages(nullptr, Circle(20, 0xFF0000), state_, &images_), 0);
    // The gradient, not the colour, in whichever direction it runs.
    EXPECT_TRUE(Pixel(20, 5) != Pixel(20, 35) || Pixel(5, 20) != Pixel(35, 20));
    EXPECT_NE(Pixel(20, 20), 0xFF0000u);
    TearDown();
    SetUp();

    state_.fillStyle = FILLCOLOR;
    SetCurvedShapeService(nullptr);
    EXPECT_EQ(DrawConicImages(nullptr, Circle(10, 0xFF0000), state_, &images_), ERR_INTERNAL);
    SetCurvedShapeService(&RenderShapeOutline);
    qbBoxImageAllocators& alloc = BoxImageAllocators();
    const qbBoxImageAllocators saved = alloc;
    alloc.alpha = [](int32_t, int32_t) -> qbBitmap* { return nullptr; };
    EXPECT_EQ(DrawConicImages(nullptr, Circle(10, 0xFF0000), state_, &images_), ERR_ALLOCALPHA);
    alloc = saved;
    EXPECT_EQ(images_.bitmap, nullptr);
    qbConicRequest polygon = Circle(10, 0xFF0000);
    polygon.shape.type = 27;
    polygon.shape.width = 8;
    polygon.shape.height = 6;
    ASSERT_EQ(DrawConicImages(nullptr, polygon, state_, &images_), 0);  // blank
    EXPECT_EQ(images_.width, 8);
    EXPECT_EQ(Alpha(4, 3), 0);
}
