// Position constants resolved against given containers and against the
// current output and its clip region.
#include <climits>
#include <cmath>

#include "display/positions.h"
#include "graphics_fixture.h"

namespace {

constexpr int32_t kCenter = -100000;

class PositionsTest : public GraphicsWorld {};

}  // namespace

TEST(Positions, BandsOffsetsAndOrdinaryValues) {
    EXPECT_EQ(ResolveSpecialX(kCenter, 100, 641, 0), 270);  // 541 / 2 truncated
    EXPECT_EQ(ResolveSpecialX(kCenter + 4999, 100, 641, 0), 270 + 4999);
    EXPECT_EQ(ResolveSpecialX(kCenter - 4999, 100, 641, 0), 270 - 4999);
    EXPECT_EQ(ResolveSpecialX(-95000, 100, 641, 0), -95000);
    EXPECT_EQ(ResolveSpecialX(-95001, 100, 641, 0), 270 + 4999);
    EXPECT_EQ(ResolveSpecialX(kPositionLeft + 3, 100, 1000, 0), 3);
    EXPECT_EQ(ResolveSpecialX(kPositionRight, 100, 1000, 0), 900);
    EXPECT_EQ(ResolveSpecialX(kPositionRightOut, 100, 1000, 0), 1000);  // left edge on the width
    EXPECT_EQ(ResolveSpecialX(kPositionLeftOut, 100, 1000, 0), -100);   // right edge on 0
    EXPECT_EQ(ResolveSpecialY(kPositionBottomOut, 40, 300, 0), 300);
    EXPECT_EQ(ResolveSpecialY(kPositionTopOut - 2, 40, 300, 0), -42);
    // A y constant is an ordinary x and the reverse.
    EXPECT_EQ(ResolveSpecialX(kPositionTop, 100, 1000, 0), kPositionTop);
    EXPECT_EQ(ResolveSpecialY(kPositionLeft, 100, 1000, 0), kPositionLeft);
    EXPECT_EQ(ResolveSpecialY(kPositionBottom, 100, 1000, 0), 900);
}

TEST(Positions, AnchorsAddToConstantsOnly) {
    for (int32_t size : {0, 2, 100, 334}) EXPECT_EQ(ResolveSpecialX(kCenter, size, 640, 0.5), 320) << size;
    for (int32_t size : {1, 99, 641}) EXPECT_EQ(ResolveSpecialY(kCenter, size, 641, 0.5), 320) << size;
    EXPECT_EQ(ResolveSpecialX(kPositionLeft, 100, 640, 1.0), 100);
    EXPECT_EQ(ResolveSpecialX(25, 100, 640, 1.0), 25);
    EXPECT_EQ(ResolveSpecialX(kCenter, 3, 640, 0.5), 318 + 1);  // trunc(1.5)
}

TEST(Positions, ExtremeSizesClampInsteadOfOverflowing) {
    EXPECT_EQ(ResolveSpecialX(kPositionRightOut + 4999, 0, INT_MAX, 0), INT_MAX);
    EXPECT_EQ(ResolveSpecialX(kPositionLeftOut - 4999, INT_MAX, 10, 0), INT_MIN);
    EXPECT_EQ(ResolveSpecialX(kCenter, 100, 640, std::nan("")), 270);
}

TEST_F(PositionsTest, ANullContainerIsTheCurrentOutputOrItsClipRegion) {
    qbDisplay* d = OpenDisplayOne(641, 400);
    EXPECT_EQ(ResolveSpecialX(kCenter, 100, 0, 0), 270);
    EXPECT_EQ(ResolveSpecialY(kPositionBottom, 100, 0, 0), 300);
    AddRegion(4, 100, 50, 200, 100);
    ASSERT_EQ(RunNumbers("SetClipRegion", {4}), 0);
    ASSERT_NE(d->clipRegion, nullptr);
    EXPECT_EQ(ResolveSpecialX(kCenter, 100, 0, 0), 100 + 50);
    EXPECT_EQ(ResolveSpecialY(kPositionTop, 10, 0, 0), 50);
    // Ordinary coordinates get no origin.
    EXPECT_EQ(ResolveSpecialX(7, 100, 0, 0), 7);
}
