// The drawing roads over byte-swapped 16-bit pixels give exactly the
// byte-swap of what they give over the plain format.
#include <gtest/gtest.h>

#include "draw/bitmapline.h"
#include "draw/shapefill.h"
#include "swapped16.h"

TEST(Swapped16Draw, BlendedShapesAndLines) {
    const int32_t triangle[] = {1, 0, 12, 3, 0, 6};
    for (const bool filled : {false, true})
        swapped16::ExpectBitmapTwins([&](qbBitmap* dst, qbBitmap*, int) {
            qbShapeFill f;
            f.width = swapped16::kW;
            f.height = swapped16::kH;
            f.target = dst;
            f.points = triangle;
            f.count = 3;
            f.colour = 0x3080C0;
            f.alphaByte = 0x50;
            f.filled = filled;
            f.antialias = !filled;
            ASSERT_EQ(FillShapeCoverage(f), 0);
        });
    // Lines are drawn at full weight: the colour goes in as the format's pixel.
    swapped16::ExpectBitmapTwins(
        [](qbBitmap* dst, qbBitmap*, int) { DrawBitmapLine(dst, 0, 0, swapped16::kW, swapped16::kH, 0x3080C0); });
}
