// Where a move of a non-square object ends when its target is given by the
// edge and centre constants: each kind of object, each axis resolved with
// its own side of the object.
#include <gtest/gtest.h>

#include "display/positions.h"
#include "move_fixture.h"

namespace {

// Display 100 x 80, object 30 x 12.
constexpr int32_t kW = 30, kH = 12;
constexpr std::pair<int32_t, int32_t> kFar{100 - kW, 80 - kH}, kMiddle{(100 - kW) / 2, (80 - kH) / 2};

TEST_F(MoveWorld, ANonSquareObjectEndsAtTheEdgesAndCentreByItsOwnSides) {
    const double right = kPositionRight, bottom = kPositionBottom, centre = kPositionCenter;
    MakeBrush(1, kW, kH, 0xFF0000);
    FramesSprite(2, 1, kW, kH);
    for (const char* command : {"MoveBrush", "MoveSprite"}) {
        SCOPED_TRACE(command);
        const double id = command[4] == 'B' ? 1 : 2;
        ASSERT_EQ(Move(command, {id, 0, 0, right, bottom, 200}), 0);
        EXPECT_EQ(path_.back(), kFar);
        ASSERT_EQ(Move(command, {id, right, bottom, centre, centre, 200}), 0);
        EXPECT_EQ(path_.back(), kMiddle);
    }
    ASSERT_EQ(RunNumbers("FreeSprite", {2}), 0);

    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(RunNumbers("DisplayBrush", {1, 0, 0}), 0);
    const qbLayer* l = GetLayerByIndex(display_->bgpic, 1);
    // The backdrop where the moved layer must not be.
    const uint32_t beside = Real(kFar.first - 1, kFar.second - 1);
    const uint32_t below = Real(kMiddle.first, kMiddle.second + kH);
    ASSERT_EQ(Move("MoveLayer", {1, 0, 0, right, bottom, 200}), 0);
    EXPECT_EQ(path_.back(), kFar);
    EXPECT_EQ(std::make_pair(l->basestate->x, l->basestate->y), kFar);
    EXPECT_EQ(std::make_pair(l->basestate->width, l->basestate->height), std::make_pair(kW, kH));
    EXPECT_EQ(Real(99, 79), 0xFF0000u);
    EXPECT_EQ(Real(kFar.first - 1, kFar.second - 1), beside);
    ASSERT_EQ(Move("MoveLayer", {1, right, bottom, centre, centre, 200}), 0);
    EXPECT_EQ(std::make_pair(l->basestate->x, l->basestate->y), kMiddle);
    EXPECT_EQ(Real(kMiddle.first, kMiddle.second), 0xFF0000u);
    EXPECT_EQ(Real(kMiddle.first + kW - 1, kMiddle.second + kH - 1), 0xFF0000u);
    EXPECT_EQ(Real(kMiddle.first, kMiddle.second + kH), below);
    // The brush moved with the layers on is its layer moving.
    ASSERT_EQ(Move("MoveBrush", {1, centre, centre, right, bottom, 200}), 0);
    EXPECT_EQ(std::make_pair(l->basestate->x, l->basestate->y), kFar);
}

}  // namespace
