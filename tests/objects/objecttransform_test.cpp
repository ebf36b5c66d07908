// TransformObjectImage: the identity copies a part, turns land
// in the bounding box about the anchor with the pixels where they belong.
#include <gtest/gtest.h>

#include "imaging/bitmap.h"
#include "objects/objectoptions.h"
#include "objects/objecttransform.h"

namespace {

uint32_t Colour(int32_t x, int32_t y) { return static_cast<uint32_t>(x << 8 | y); }

BitmapPtr Picture(int32_t w, int32_t h) {
    BitmapPtr b(AllocBitmap(w, h, 0, nullptr));
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) WriteBitmapPixel(b.get(), x, y, Colour(x, y), false);
    return b;
}

struct Result {
    int err = 0;
    qbObjectImage image;
    int32_t x = 0, y = 0, w = 0, h = 0;
    ~Result() { FreeObjectImage(&image); }
};

void Transform(qbBitmap* b, int32_t sx, int32_t sy, int32_t w, int32_t h, const double m[4], double anchor,
               Result* r, int32_t x = 40, int32_t y = 30) {
    const double anchors[2] = {anchor, anchor};
    qbObjectImage in{b, nullptr, nullptr};
    r->err = TransformObjectImage(nullptr, false, nullptr, in, sx, sy, x, y, w, h, anchors, m, false, &r->image,
                                  &r->x, &r->y, &r->w, &r->h);
}

}  // namespace

TEST(ObjectTransformTest, TheIdentityCopiesThePart) {
    BitmapPtr b = Picture(10, 6);
    const double identity[4] = {1, 0, 0, 1};
    Result part;
    Transform(b.get(), 2, 1, 5, 4, identity, 0, &part);
    ASSERT_EQ(part.err, 0);
    EXPECT_EQ(part.w, 5);
    EXPECT_EQ(part.h, 4);
    EXPECT_EQ(part.x, 40);
    EXPECT_EQ(ReadBitmapPixel(part.image.bitmap, 0, 0, false), Colour(2, 1));
    EXPECT_EQ(ReadBitmapPixel(part.image.bitmap, 4, 3, false), Colour(6, 4));

}

TEST(ObjectTransformTest, AQuarterTurnSwapsTheSidesAboutTheAnchor) {
    BitmapPtr b = Picture(10, 6);
    double m[4];
    BuildScaleRotateMatrix(m, 0, 0, 10, 6, 1, 1, 90);
    Result turned;
    Transform(b.get(), 0, 0, 10, 6, m, 0.5, &turned);
    ASSERT_EQ(turned.err, 0);
    EXPECT_EQ(turned.w, 6);
    EXPECT_EQ(turned.h, 10);
    // The centre stays where it was, (40 + 5, 30 + 3): the 6 x 10 box
    // starts at 42, 29 and moves with the position to the pixel, wherever
    // the rounding noise of the turn falls.
    EXPECT_EQ(turned.x, 42);
    EXPECT_EQ(turned.y, 29);
    for (const int32_t at : {0, 1, 99, 100, 200, 1000, -100, 123457}) {
        Result moved;
        Transform(b.get(), 0, 0, 10, 6, m, 0.5, &moved, at, at);
        ASSERT_EQ(moved.err, 0);
        EXPECT_EQ(moved.x, at + 2) << at;
        EXPECT_EQ(moved.y, at - 1) << at;
    }
    // A wider part, whose corners carry more of the noise.
    BitmapPtr wide = Picture(121, 7);
    BuildScaleRotateMatrix(m, 0, 0, 121, 7, 1, 1, 90);
    for (const int32_t at : {0, 100, 200, 1000}) {
        Result moved;
        Transform(wide.get(), 0, 0, 121, 7, m, 0, &moved, at, at);
        ASSERT_EQ(moved.err, 0);
        EXPECT_EQ(moved.x, at) << at;
        EXPECT_EQ(moved.y, at - 120) << at;
        EXPECT_EQ(moved.w, 7);
        EXPECT_EQ(moved.h, 121);
    }
    // A positive angle turns counter-clockwise: the top right corner goes to the top left.
    EXPECT_EQ(ReadBitmapPixel(turned.image.bitmap, 0, 0, false), Colour(9, 0));
    EXPECT_EQ(ReadBitmapPixel(turned.image.bitmap, 5, 9, false), Colour(0, 5));
    ASSERT_NE(turned.image.mask, nullptr);
    EXPECT_EQ(ReadBitmapPixel(turned.image.mask, 5, 9, true), 1u);
}
