// The compositor on pictures whose width differs from their height, tall
// and wide: layers that run past every edge are clipped to each edge on its
// own axis, pixel for pixel against copies in stack order.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "objects/dirtyrects.h"
#include "show_fixture.h"

namespace {

class CompositorShapesTest : public ShowWorld {
protected:
    // Display 1 reopened at the size, layers on, random background.
    void Reopen(int32_t w, int32_t h) {
        FreeAllDisplays(L_);
        display_ = OpenDisplayOne(w, h);
        ASSERT_NE(display_, nullptr);
        ASSERT_EQ(Run("EnableLayers", 0), 0);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                WriteBitmapPixel(display_->spriteFreeBuffer.get(), x, y, rng_() & 0xFFFFFF, false);
    }
    qbBrush* RandomBrush(int32_t id, int32_t w, int32_t h, bool masked) {
        VmPushNumber(L_, id);
        VmPushNumber(L_, w);
        VmPushNumber(L_, h);
        VmPushNumber(L_, 0);
        VmPushNewTable(L_);
        if (masked) SetTableFieldInt(L_, "mask", 1);
        EXPECT_EQ(Run("CreateBrush", 5), 0);
        qbBrush* b = nullptr;
        GetBrushRecord(nullptr, ObjectID{id, nullptr}, &b, 0);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                WriteBitmapPixel(b->bitmap, x, y, rng_() & 0xFFFFFF, false);
                if (b->mask) WriteBitmapPixel(b->mask, x, y, rng_() & 1, true);
            }
        return b;
    }
    std::vector<uint32_t> Read(qbBitmap* b) {
        std::vector<uint32_t> out;
        for (int32_t y = 0; y < b->height; ++y)
            for (int32_t x = 0; x < b->width; ++x) out.push_back(ReadBitmapPixel(b, x, y, false));
        return out;
    }

    std::mt19937 rng_{99};
};

TEST_F(CompositorShapesTest, LayersPastEveryEdgeAreClippedOnTheirOwnAxis) {
    const struct {
        int32_t w, h;
    } shapes[] = {{40, 100}, {100, 40}};
    for (const auto& s : shapes) {
        SCOPED_TRACE(testing::Message() << s.w << " x " << s.h);
        Reopen(s.w, s.h);
        qbBrush* cover = RandomBrush(1, s.w + 9, s.h + 7, true);
        qbBrush* corner = RandomBrush(2, 30, 30, false);
        std::vector<uint32_t> ref = Read(display_->spriteFreeBuffer.get());
        const struct {
            qbBrush* b;
            int32_t x, y;
        } layers[] = {{cover, -4, -3}, {corner, s.w - 12, s.h - 17}, {corner, -20, s.h - 8}, {corner, s.w - 5, -25}};
        for (const auto& l : layers) {
            ASSERT_EQ(Show("DisplayBrush", {double(l.b->id), double(l.x), double(l.y)}), 0);
            for (int32_t y = 0; y < l.b->height; ++y)
                for (int32_t x = 0; x < l.b->width; ++x) {
                    const int32_t dx = l.x + x, dy = l.y + y;
                    if (dx < 0 || dy < 0 || dx >= s.w || dy >= s.h) continue;
                    if (l.b->mask && !ReadBitmapPixel(l.b->mask, x, y, true)) continue;
                    ref[dy * s.w + dx] = ReadBitmapPixel(l.b->bitmap, x, y, false);
                }
        }
        // As the layers' own refreshes left it, and redrawn whole.
        EXPECT_EQ(Read(display_->backBuffer.get()), ref);
        FillBitmapRect(display_->backBuffer.get(), 0, 0, s.w, s.h, 0x123456);
        RefreshLayerRect(L_, 0, 0, s.w, s.h, 0);
        EXPECT_EQ(Read(display_->backBuffer.get()), ref);
        FreeAllBrushes(L_);
    }
}

}  // namespace
