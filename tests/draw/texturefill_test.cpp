// Texture fills: the brush tiled at half size under a pure 0.5 scale, at
// its own size under a rotation, from the texture offsets, and the lookup's
// error once the brush is gone.
#include <gtest/gtest.h>

#include <cmath>

#include "core/errcodes.h"
#include "draw/draw.h"
#include "draw/texturefill.h"
#include "imaging/blit.h"
#include "objects/show_fixture.h"

namespace {

constexpr uint32_t kQuadrants[4] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00};

class TextureFillTest : public ShowWorld {
protected:
    void SetUp() override {
        ShowWorld::SetUp();
        // A 4x4 brush of four 2x2 quadrants: at half size one pixel each,
        // however the scaler samples.
        MakeBrush(3, 4, 4, 0);
        qbBrush* b = nullptr;
        ASSERT_EQ(GetBrushRecord(nullptr, ObjectID{3, nullptr}, &b, 0), 0);
        for (int32_t y = 0; y < 4; ++y)
            for (int32_t x = 0; x < 4; ++x) WriteBitmapPixel(b->bitmap, x, y, kQuadrants[(y / 2) * 2 + x / 2], false);
        state_ = DefaultDrawState();
        state_.fillStyle = FILLTEXTURE;
        state_.texture = ObjectID{3, nullptr};
        Blank();
    }
    void Blank() {
        target_.reset(AllocBitmap(12, 8, 0, nullptr));
        FillBitmapRect(target_.get(), 0, 0, 12, 8, 0);
    }
    uint32_t At(int32_t x, int32_t y) { return ReadBitmapPixel(target_.get(), x, y, false); }
    qbDrawState state_;
    BitmapPtr target_;
};

}  // namespace

TEST_F(TextureFillTest, HalfScaleTilesAtHalfSizeARotationAtFullSize) {
    const double half[4] = {0.5, 0, 0, 0.5};
    ASSERT_EQ(FillTextureRect(L_, target_.get(), 0, 0, 12, 8, state_, half, false), 0);
    for (int32_t y = 0; y < 8; ++y)
        for (int32_t x = 0; x < 12; ++x) ASSERT_EQ(At(x, y), kQuadrants[(y % 2) * 2 + x % 2]) << x << "," << y;

    const double a = 30 * 3.14159265358979 / 180;
    const double turned[4] = {std::cos(a), -std::sin(a), std::sin(a), std::cos(a)};
    state_.textureX = 1;  // the tile pixel at the rectangle's corner
    ASSERT_EQ(FillTextureRect(L_, target_.get(), 2, 0, 8, 8, state_, turned, false), 0);
    for (int32_t y = 0; y < 8; ++y)
        for (int32_t x = 2; x < 10; ++x) {
            const int32_t tx = (x - 2 + 1) % 4, ty = y % 4;
            ASSERT_EQ(At(x, y), kQuadrants[(ty / 2) * 2 + tx / 2]) << x << "," << y;
        }
    // A scale that leaves less than a pixel draws nothing.
    Blank();
    const double tiny[4] = {0.1, 0, 0, 0.1};
    ASSERT_EQ(FillTextureRect(L_, target_.get(), 0, 0, 12, 8, state_, tiny, false), 0);
    EXPECT_EQ(At(0, 0), 0u);
}

TEST_F(TextureFillTest, AFreedTextureBrushIsReported) {
    ASSERT_EQ(Show("FreeBrush", {3}), 0);
    EXPECT_EQ(FillTextureRect(L_, target_.get(), 0, 0, 4, 4, state_, nullptr, false), ERR_FINDBRUSH);
}
