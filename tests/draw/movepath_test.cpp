// The frames a move takes, counted on the path alone: slow speeds keep the
// frames they always had, and no effect lets a huge speed or distance buy
// an unbounded number of frames.
#include <gtest/gtest.h>

#include <cstdint>

#include "draw/movement.h"

namespace {

// The picture the overshoots are held to: its larger side over 16.
constexpr int32_t kPictureWidth = 640, kPictureHeight = 480;
constexpr int64_t kOvershootUnit = kPictureWidth / 16;
// What a speed of inf becomes when the command reads it.
constexpr int32_t kInfiniteSpeed = INT32_MAX;

enum class Path { Across, Diagonal, Tall };

// Frames until the move arrives, counting stopped past `most` (a hang).
int64_t Frames(int32_t fx, int32_t speed, int64_t distance, Path path, int64_t most) {
    qbMove m;
    m.fx = fx;
    m.speed = speed;
    // Across: rightwards. Diagonal: down-left, a wide object (x takes the
    // whole steps). Tall: up-right, a tall object (y takes them).
    m.width = path == Path::Tall ? 10 : 11;
    m.height = path == Path::Tall ? 11 : 10;
    const int64_t minor = distance / 3;
    m.targetX = static_cast<int32_t>(path == Path::Diagonal ? -distance : path == Path::Tall ? minor : distance);
    m.targetY = static_cast<int32_t>(path == Path::Diagonal ? minor : path == Path::Tall ? -distance : 0);
    PlanMove(&m, kPictureWidth, kPictureHeight);
    bool arrived = false;
    int64_t n = 0;
    while (!arrived && n <= most) {
        AdvanceMove(&m, &arrived);
        ++n;
    }
    return n;
}

int64_t Ceil(int64_t distance, int32_t speed) { return (distance + speed - 1) / speed; }

// The frames every effect (straight, BOUNCE, SMOOTHOUT, DAMPED, SINE,
// BIGSINE, LOWERCURVE, UPPERCURVE) took before the slow-down's floor
// changed; a decrement of 1 must leave them as they were.
struct Recorded {
    Path path;
    int32_t speed;
    int64_t distance;
    int64_t frames[8];
};
constexpr Recorded kRecorded[] = {
    {Path::Across, 1, 37, {37, 99, 37, 53, 38, 38, 37, 37}},
    {Path::Across, 1, 1000, {1000, 1062, 1000, 1016, 1001, 1001, 1000, 1000}},
    {Path::Across, 1, 50000, {50000, 50062, 50000, 50016, 50001, 50001, 50000, 50000}},
    {Path::Across, 10, 37, {4, 178, 6, 34, 4, 5, 4, 4}},
    {Path::Across, 10, 1000, {100, 274, 118, 130, 100, 101, 100, 100}},
    {Path::Across, 10, 50000, {5000, 5174, 5018, 5030, 5000, 5001, 5000, 5000}},
    {Path::Across, 14, 37, {3, 207, 4, 33, 4, 4, 3, 3}},
    {Path::Across, 14, 1000, {72, 276, 74, 102, 73, 73, 72, 72}},
    {Path::Across, 14, 50000, {3572, 3776, 3574, 3602, 3573, 3573, 3572, 3572}},
    {Path::Diagonal, 1, 37, {37, 99, 37, 53, 37, 37, 37, 37}},
    {Path::Diagonal, 1, 1000, {1000, 1062, 1000, 1016, 1000, 1000, 1000, 1000}},
    {Path::Diagonal, 1, 50000, {50000, 50062, 50000, 50016, 50000, 50000, 50000, 50000}},
    {Path::Diagonal, 10, 37, {4, 178, 11, 34, 4, 4, 4, 4}},
    {Path::Diagonal, 10, 1000, {100, 274, 118, 130, 100, 100, 100, 100}},
    {Path::Diagonal, 10, 50000, {5000, 5174, 5018, 5030, 5000, 5000, 5000, 5000}},
    {Path::Diagonal, 14, 37, {3, 213, 9, 33, 3, 3, 3, 3}},
    {Path::Diagonal, 14, 1000, {72, 282, 87, 102, 72, 72, 72, 72}},
    {Path::Diagonal, 14, 50000, {3572, 3782, 3587, 3602, 3572, 3572, 3572, 3572}},
};

TEST(MovePath, SpeedsUpTo14KeepTheirFrames) {
    for (const Recorded& r : kRecorded)
        for (int32_t fx = kMoveStraight; fx <= kMoveUpperCurve; ++fx)
            EXPECT_EQ(Frames(fx, r.speed, r.distance, r.path, r.frames[fx] + 1), r.frames[fx])
                << "fx " << fx << " speed " << r.speed << " distance " << r.distance << " path "
                << static_cast<int>(r.path);
}

TEST(MovePath, EveryEffectEndsInBoundedFramesAtAnySpeed) {
    // The overshoots walk at most 61 units beyond the travel; straight
    // moves, waves and arcs end at most a frame after it.
    const auto bound = [](int32_t fx, int64_t travel) -> int64_t {
        switch (fx) {
            case kMoveSmoothOut: return travel + 30;
            case kMoveBounce:
            case kMoveDamped: return travel + 61 * kOvershootUnit;
            default: return travel + 1;
        }
    };
    for (Path path : {Path::Across, Path::Diagonal, Path::Tall})
        for (int32_t speed : {1, 10, 14, 10000, 100000, 300000000, kInfiniteSpeed})
            for (int64_t distance : {37, 1000, 50000, 1600000000}) {
                const int64_t travel = Ceil(distance, speed);
                // Slow speeds over the longest distance only count their
                // own travel, 10^8 frames and more.
                if (travel > 1000000) continue;
                for (int32_t fx = kMoveStraight; fx <= kMoveUpperCurve; ++fx) {
                    const int64_t most = bound(fx, travel);
                    EXPECT_LE(Frames(fx, speed, distance, path, most), most)
                        << "fx " << fx << " speed " << speed << " distance " << distance << " path "
                        << static_cast<int>(path);
                }
            }
}

TEST(MovePath, SmoothOutEndsWithin30FramesOfItsTravelAtEverySpeed) {
    // Every speed up to 1000, entering the slow-down at each place it can:
    // just inside, just outside, far.
    for (Path path : {Path::Across, Path::Diagonal, Path::Tall})
        for (int32_t speed = 1; speed <= 1000; ++speed)
            for (int64_t distance : {int64_t{6} * speed - 1, int64_t{6} * speed + 7, int64_t{1000}, int64_t{123457}}) {
                const int64_t most = Ceil(distance, speed) + 30;
                ASSERT_LE(Frames(kMoveSmoothOut, speed, distance, path, most), most)
                    << "speed " << speed << " distance " << distance << " path " << static_cast<int>(path);
            }
}

}  // namespace
