// Squashes, stretches, zooms and flip coins on pictures of scattered
// pixels: every pixel of every frame where the nearest scale puts it, on
// the screen and in a real-time layer's effect image alike.
#include <gtest/gtest.h>

#include <vector>

#include "imaging/scale.h"
#include "objects/layers.h"
#include "renderer_fixture.h"

namespace {

uint32_t Scatter(uint32_t v) {
    v ^= v >> 16;
    v *= 0x7FEB352Du;
    v ^= v >> 15;
    v *= 0x846CA68Bu;
    v ^= v >> 16;
    return v & 0xFFFFFFu;
}
uint32_t NewScattered(int32_t x, int32_t y) {
    return Scatter(uint32_t(x) * 7919u + uint32_t(y) * 104729u + 1u);
}
uint32_t OldScattered(int32_t x, int32_t y) {
    return Scatter(uint32_t(x) * 7919u + uint32_t(y) * 104729u + 2u);
}

class ScaledPieces : public MovingRenderer {
protected:
    // Start with scattered pictures; real time draws into a layer's effect
    // image that starts as the old picture, as the screen does.
    void StartScattered(int32_t type, int32_t w, int32_t h, int32_t speed, bool realtime) {
        Start(type, w, h, speed);
        image_ = Painted(w, h, NewScattered);
        background_ = Painted(w, h, OldScattered);
        screen_ = Painted(w, h, OldScattered);
        s_.image = image_.get();
        s_.background = background_.get();
        s_.target = screen_.get();
        if (realtime) {
            s_.realtime = 1;
            s_.layer = &layer_;
            s_.layerImages.bitmap = screen_.get();
        }
    }
    qbLayer layer_;
};

// Crush: the new picture squashed to n lines at its edge, the old one to
// the rest, n growing by the step each frame.
TEST_F(ScaledPieces, WideAndTallCrushesPutEveryPixelWhereTheNearestScaleDoes) {
    struct Case {
        int32_t type, w, h, speed;
    };
    for (const Case c : {Case{120, 700, 3, 50}, Case{123, 5, 260, 20}, Case{121, 333, 2, 40}}) {
        for (const bool realtime : {false, true}) {
            SCOPED_TRACE(testing::Message() << "type " << c.type << (realtime ? " real time" : " screen"));
            StartScattered(c.type, c.w, c.h, c.speed, realtime);
            const bool across = c.type <= 121, nearNew = c.type == 120 || c.type == 122;
            const int32_t size = across ? c.w : c.h;
            int32_t frame = 0;
            for (int done = 0; !done;) {
                done = Step();
                ++frame;
                const int32_t n = std::min(frame * s_.speed, size), rest = size - n;
                const int32_t newAt = nearNew ? 0 : rest, oldAt = nearNew ? n : 0;
                const uint64_t newStep = ScaleStep(size, n), oldStep = ScaleStep(size, std::max(rest, 1));
                for (int32_t y = 0; y < c.h; ++y)
                    for (int32_t x = 0; x < c.w; ++x) {
                        const int32_t i = across ? x : y;
                        const bool isNew = i >= newAt && i < newAt + n;
                        const int32_t from = isNew ? ScaleIndex(newStep, i - newAt) : ScaleIndex(oldStep, i - oldAt);
                        const uint32_t want = isNew ? (across ? NewScattered(from, y) : NewScattered(x, from))
                                                    : (across ? OldScattered(from, y) : OldScattered(x, from));
                        ASSERT_EQ(At(x, y), want) << "frame " << frame << " at " << x << "," << y;
                    }
                ASSERT_LT(frame, 1000);
            }
            EXPECT_EQ(frame, s_.frameCount);
            s_.shownRects.clear();
        }
    }
}

// The real-time frames of the scaling families against the same frames on
// the screen.
TEST_F(ScaledPieces, RealTimeLayerFramesEqualTheScreensFrames) {
    for (const int32_t type : {55, 61, 124, 118, 130}) {
        SCOPED_TRACE(testing::Message() << "type " << type);
        StartScattered(type, 517, 61, 23, false);
        const auto screen = All();
        StartScattered(type, 517, 61, 23, true);
        const auto layer = All();
        ASSERT_EQ(layer.size(), screen.size());
        for (size_t f = 0; f < screen.size(); ++f) ASSERT_EQ(layer[f], screen[f]) << "frame " << f + 1;
        s_.shownRects.clear();
    }
}

}  // namespace
