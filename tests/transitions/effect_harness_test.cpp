// Every effect type of every family in the harness table, in every way of
// showing and hiding, at the harness sizes and speeds.
#include "effect_harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace {

struct Place {
    int32_t x, y, w, h;
};
// Plain sizes, odd sizes, single pixels and lines, a picture taller than
// the screen, and one partly off the screen.
constexpr Place kPlaces[] = {{10, 10, 64, 48}, {5, 20, 67, 45}, {50, 40, 1, 1},  {3, 3, 1, 40},
                             {7, 70, 40, 1},   {30, 0, 3, 200}, {70, 50, 64, 48}};
constexpr int32_t kSpeeds[] = {-1, -2, -3, 7};

class EveryEffect : public PatternedEffects, public ::testing::WithParamInterface<Way> {};

TEST_P(EveryEffect, FramesGoFromOldToNew) {
    const Way way = GetParam();
    int rotation = 0;
    for (const EffectFamily& family : EffectFamilies()) {
        for (int32_t type = family.first; type <= family.last; ++type) {
            if (way == Way::BGPicTransition) {
                for (int32_t speed : kSpeeds) Check({way, type, speed, 0, 0, kW, kH}, family.ownEndTest, family.frameCheck);
                continue;
            }
            for (const Place& p : kPlaces)
                Check({way, type, kSpeeds[rotation++ % 4], p.x, p.y, p.w, p.h}, family.ownEndTest, family.frameCheck);
            if (way == Way::BrushOpaque)
                for (int32_t speed : kSpeeds) Check({way, type, speed, 10, 10, 64, 48}, family.ownEndTest, family.frameCheck);
            if (HasFailure()) return;
        }
    }
}

TEST_P(EveryEffect, FailedAllocationsChangeNothing) {
    for (const EffectFamily& family : EffectFamilies())
        for (int32_t type : {family.first, family.last})
            CheckAllocationFailures({GetParam(), type, 7, 10, 10, 64, 48});
}

INSTANTIATE_TEST_SUITE_P(Ways, EveryEffect,
                         ::testing::Values(Way::BGPicTransition, Way::BrushOpaque, Way::BrushMasked, Way::BrushAlpha,
                                           Way::BrushLayer, Way::BrushLayerRealtime, Way::ShowLayer,
                                           Way::ShowLayerCovered, Way::HideLayer, Way::HideLayerCovered,
                                           Way::RemoveLayer, Way::RemoveLayerCovered, Way::BGPicPart, Way::UndoLayer,
                                           Way::BGPicPartLayer));

TEST_F(PatternedEffects, RealtimeFramesEqualPlainOnes) {
    for (const EffectFamily& family : EffectFamilies()) {
        for (int32_t type = family.first; type <= family.last; ++type) {
            for (const Place& p : {kPlaces[1], kPlaces[6]}) {
                SCOPED_TRACE("type " + std::to_string(type) + " at " + std::to_string(p.x));
                const auto plain = Frames({Way::BrushLayer, type, 5, p.x, p.y, p.w, p.h});
                const auto realtime = Frames({Way::BrushLayerRealtime, type, 5, p.x, p.y, p.w, p.h});
                ASSERT_TRUE(FramesAlike(plain, realtime, family.modeTolerance));
            }
        }
    }
}

}  // namespace

namespace {

constexpr Way kAsyncWays[] = {Way::BrushLayerRealtime, Way::ShowLayer,  Way::HideLayer,
                              Way::RemoveLayer,        Way::UndoLayer, Way::BGPicPartLayer};

TEST_F(PatternedAsyncEffects, AsyncFramesEqualSynchronousOnes) {
    for (const EffectFamily& family : EffectFamilies()) {
        for (int32_t type = family.first; type <= family.last; ++type) {
            for (Way way : kAsyncWays) {
                const EffectCase c{way, type, 5, 5, 20, 67, 45};
                SCOPED_TRACE(c.Name());
                MakePicture(c);
                SeedEffectRandom(42);
                keepFrames_ = true;
                ASSERT_EQ(Run(c), 0);
                keepFrames_ = false;
                const std::vector<Picture> sync = snapshots_;
                const std::vector<Picture> async = AsyncFrames(c);
                ASSERT_TRUE(FramesAlike(sync, async, family.modeTolerance));
            }
        }
    }
}

TEST_F(PatternedAsyncEffects, AJumpEqualsTheSteps) {
    std::mt19937 random(7);
    for (const EffectFamily& family : EffectFamilies()) {
        for (int32_t type = family.first; type <= family.last; ++type) {
            for (Way way : kAsyncWays) {
                const EffectCase c{way, type, 9, 5, 20, 67, 45};
                SCOPED_TRACE(c.Name());
                const std::vector<Picture> steps = AsyncFrames(c);
                ASSERT_FALSE(steps.empty());
                const int32_t count = static_cast<int32_t>(steps.size());
                std::vector<int32_t> order(count);
                for (int32_t n = 0; n < count; ++n) order[n] = n + 1;
                std::shuffle(order.begin(), order.end(), random);
                SeedEffectRandom(42);
                void* id = StartAsync(c);
                ASSERT_NE(id, nullptr);
                for (int32_t n : order) {
                    ASSERT_GE(StepAsync(id, n), 0) << "jump to " << n;
                    ASSERT_TRUE(Snapshot() == steps[n - 1]) << "jump to " << n;
                }
                if (order.back() != count) {
                    ASSERT_EQ(StepAsync(id, count), count == order.back() + 1 ? 0 : 1);
                }
                ASSERT_EQ(StepAsync(id), 1) << "done after the last frame";
            }
        }
    }
}

}  // namespace
