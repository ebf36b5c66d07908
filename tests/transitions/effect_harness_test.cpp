// Every effect type of every family in the harness table, in every way of
// showing and hiding, at the harness sizes and speeds.
#include "effect_harness.h"

#include <gtest/gtest.h>

namespace {

struct Place {
    int32_t x, y, w, h;
};
// Plain sizes, odd sizes, single pixels and lines, a picture taller than
// the screen, and one partly off the screen.
constexpr Place kPlaces[] = {{10, 10, 64, 48}, {5, 20, 67, 45}, {50, 40, 1, 1},  {3, 3, 1, 40},
                             {7, 70, 40, 1},   {30, 0, 3, 200}, {70, 50, 64, 48}};
constexpr int32_t kSpeeds[] = {-1, -2, -3, 7};

class EveryEffect : public EffectHarness, public ::testing::WithParamInterface<Way> {};

TEST_P(EveryEffect, FramesGoFromOldToNew) {
    const Way way = GetParam();
    int rotation = 0;
    for (const EffectFamily& family : EffectFamilies()) {
        for (int32_t type = family.first; type <= family.last; ++type) {
            if (way == Way::BGPicTransition) {
                for (int32_t speed : kSpeeds) Check({way, type, speed, 0, 0, kW, kH}, family.ownEndTest);
                continue;
            }
            for (const Place& p : kPlaces)
                Check({way, type, kSpeeds[rotation++ % 4], p.x, p.y, p.w, p.h}, family.ownEndTest);
            if (way == Way::BrushOpaque)
                for (int32_t speed : kSpeeds) Check({way, type, speed, 10, 10, 64, 48}, family.ownEndTest);
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
                                           Way::RemoveLayer, Way::RemoveLayerCovered, Way::BGPicPart));

TEST_F(EffectHarness, RealtimeFramesEqualPlainOnes) {
    for (const EffectFamily& family : EffectFamilies()) {
        for (int32_t type = family.first; type <= family.last; ++type) {
            for (const Place& p : {kPlaces[1], kPlaces[6]}) {
                SCOPED_TRACE("type " + std::to_string(type) + " at " + std::to_string(p.x));
                const auto plain = Frames({Way::BrushLayer, type, 5, p.x, p.y, p.w, p.h});
                const auto realtime = Frames({Way::BrushLayerRealtime, type, 5, p.x, p.y, p.w, p.h});
                ASSERT_EQ(plain.size(), realtime.size());
                for (size_t f = 0; f < plain.size(); ++f) ASSERT_TRUE(plain[f] == realtime[f]) << "frame " << f + 1;
            }
        }
    }
}

}  // namespace
