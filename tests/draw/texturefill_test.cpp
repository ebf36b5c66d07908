// Texture fills: the brush tiled at half size under a pure 0.5 scale, at
// its own size under a rotation, from the texture offsets, and the lookup's
// error once the brush is gone.
#include <gtest/gtest.h>

#include <cmath>

#include "core/errcodes.h"
#include "draw/draw.h"
#include "draw/texturefill.h"
#include "imaging/blit.h"
#include "imaging/scale.h"
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

// Every road of the fill with a brush three wide and five high, every
// pixel of it distinct, tiled into a rectangle away from the target's
// corner from texture offsets that differ by axis (one of them negative):
// an axis read for the other shows as a tile of the wrong size or phase.
TEST_F(TextureFillTest, ANonSquareBrushTilesByItsOwnWidthAndHeightOnEveryRoad) {
    constexpr int32_t kBw = 3, kBh = 5;
    const auto colour = [](int32_t c, int32_t r) {
        return static_cast<uint32_t>(0x400000 * (c + 1) + 0x2000 * (r + 1) + 7 * (c + 2 * r) + 1);
    };
    MakeBrush(4, kBw, kBh, 0);
    qbBrush* b = nullptr;
    ASSERT_EQ(GetBrushRecord(nullptr, ObjectID{4, nullptr}, &b, 0), 0);
    for (int32_t r = 0; r < kBh; ++r)
        for (int32_t c = 0; c < kBw; ++c) WriteBitmapPixel(b->bitmap, c, r, colour(c, r), false);
    state_.texture = ObjectID{4, nullptr};
    const double a = 30 * 3.14159265358979 / 180;
    struct Road {
        const char* what;
        bool withMatrix;
        double m[4];
        int32_t sx, sy;  // the tile's pixels per brush pixel
    };
    const Road roads[] = {
        {"no matrix", false, {}, 1, 1},
        {"identity", true, {1, 0, 0, 1}, 1, 1},
        {"mirrored", true, {-1, 0, 0, 1}, 1, 1},
        {"turned", true, {std::cos(a), -std::sin(a), std::sin(a), std::cos(a)}, 1, 1},
        {"scaled wider than high", true, {3, 0, 0, 2}, 3, 2},
        {"scaled higher than wide, mirrored", true, {-2, 0, 0, 3}, 2, 3},
        {"scaled on y alone", true, {1, 0, 0, 2}, 1, 2},
    };
    constexpr int32_t kX = 5, kY = 3, kW = 29, kH = 23, kTx = 4, kTy = -7;
    state_.textureX = kTx;
    state_.textureY = kTy;
    for (const Road& road : roads) {
        SCOPED_TRACE(road.what);
        target_.reset(AllocBitmap(40, 30, 0, nullptr));
        FillBitmapRect(target_.get(), 0, 0, 40, 30, 0);
        ASSERT_EQ(FillTextureRect(L_, target_.get(), kX, kY, kW, kH, state_, road.withMatrix ? road.m : nullptr, false),
                  0);
        const int32_t tw = kBw * road.sx, th = kBh * road.sy;
        for (int32_t y = 0; y < 30; ++y)
            for (int32_t x = 0; x < 40; ++x) {
                uint32_t want = 0;
                if (x >= kX && y >= kY && x < kX + kW && y < kY + kH) {
                    const int32_t u = ((x - kX + kTx) % tw + tw) % tw, v = ((y - kY + kTy) % th + th) % th;
                    // The plain scaler's columns and rows of the brush.
                    want = colour(ScaleIndex(ScaleStep(kBw, tw), u), ScaleIndex(ScaleStep(kBh, th), v));
                }
                ASSERT_EQ(At(x, y), want) << x << "," << y;
            }
    }
}
