// A piece reaching past the picture's top left corner draws the part
// inside, on the screen and into a real-time layer's effect image alike.
#include <gtest/gtest.h>

#include "objects/layers.h"
#include "renderer_fixture.h"
#include "transitions/effectframe.h"

namespace {

TEST_F(MovingRenderer, APieceOverTheTopLeftCornerDrawsItsInside) {
    for (const bool realtime : {false, true}) {
        SCOPED_TRACE(realtime ? "real-time layer" : "screen");
        Start(30, 8, 6, 1);
        qbLayer layer;
        if (realtime) {
            s_.realtime = 1;
            s_.layer = &layer;
            s_.x = 4, s_.y = 7;
            s_.layerImages.bitmap = screen_.get();
        }
        DrawEffectPiece(&s_, -3, -2, 6, 5);
        for (int32_t y = 0; y < s_.height; ++y)
            for (int32_t x = 0; x < s_.width; ++x)
                ASSERT_EQ(At(x, y), x < 3 && y < 3 ? New(x, y) : Old(x, y)) << x << "," << y;
        if (realtime) {
            ASSERT_EQ(s_.shownRects.size(), 1u);
            const qbEffectState::ShownRect& r = s_.shownRects[0];
            EXPECT_EQ((std::vector<int32_t>{r.x, r.y, r.w, r.h}), (std::vector<int32_t>{4, 7, 3, 3}));
            s_.shownRects.clear();
        }
        s_.realtime = 0, s_.layer = nullptr, s_.layerImages = {};
    }
}

}  // namespace
