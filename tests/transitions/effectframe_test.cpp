// A piece reaching past the picture's top left corner draws the part
// inside, on the screen and into a real-time layer's effect image alike.
#include <gtest/gtest.h>

#include <string>
#include <utility>

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

// A colour fill on a real-time layer paints its own rectangle of the
// layer's image and makes that rectangle, and no other, opaque: offsets
// that differ in x and y, one fill inside and one cut at the far corner.
TEST_F(MovingRenderer, AFillOnARealTimeLayerMakesItsOwnRectangleOpaque) {
    Start(30, 8, 6, 1);
    qbLayer layer;
    BitmapPtr alpha(AllocAlphaChannel(8, 6, true, nullptr, 0));
    ASSERT_TRUE(alpha);
    s_.realtime = 1;
    s_.layer = &layer;
    s_.x = 4, s_.y = 7;
    s_.layerImages.bitmap = screen_.get();
    s_.layerImages.alpha = alpha.get();
    FillEffectRect(&s_, 5, 1, 2, 3, 0x123456u, kStripNoShow);
    FillEffectRect(&s_, 6, 4, 9, 7, 0x654321u, kStripNoShow);
    for (int32_t y = 0; y < 6; ++y)
        for (int32_t x = 0; x < 8; ++x) {
            const bool first = x >= 5 && x < 7 && y >= 1 && y < 4, second = x >= 6 && y >= 4;
            ASSERT_EQ(At(x, y), second ? 0x654321u : first ? 0x123456u : Old(x, y)) << x << "," << y;
            ASSERT_EQ(alpha->plane->data[static_cast<size_t>(y) * alpha->plane->rowBytes + static_cast<size_t>(x)],
                      first || second ? 255 : 0)
                << x << "," << y;
        }
    s_.realtime = 0, s_.layer = nullptr, s_.layerImages = {};
}

// The close gates on a real-time layer start from the old picture whole in
// the layer's image, on pictures wider than tall and taller than wide.
TEST_F(MovingRenderer, ACloseGateOnARealTimeLayerStartsFromTheWholeOldPicture) {
    for (const int32_t type : {75, 77}) {
        for (const auto& [w, h] : {std::pair{9, 4}, std::pair{4, 9}}) {
            SCOPED_TRACE(std::to_string(type) + " " + std::to_string(w) + "x" + std::to_string(h));
            Start(type, w, h, 1);
            End();
            BitmapPtr layerImage = Painted(w, h, New);
            qbLayer layer;
            s_.realtime = 1;
            s_.layer = &layer;
            s_.layerImages.bitmap = layerImage.get();
            ASSERT_EQ(s_.renderer(&s_, nullptr), 0);
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x)
                    ASSERT_EQ(ReadBitmapPixel(layerImage.get(), x, y, false), Old(x, y)) << x << "," << y;
            End();
            s_.realtime = 0, s_.layer = nullptr, s_.layerImages = {};
        }
    }
}

}  // namespace
