// A frame's pieces redrawn and shown a row at a time, all pieces' spans in
// each row, must leave the picture and window that redrawing and showing
// them one by one leaves: over a masked layer and an alpha layer, with
// pieces partly off the picture.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "imaging/blit.h"
#include "imaging/geometry.h"
#include "objects/dirtyrects.h"
#include "transition_fixture.h"

namespace {

class RowRedraw : public TransitionWorld {
protected:
    void Scramble(std::mt19937& rng, qbBitmap* b) {
        qbPixelView v;
        ASSERT_TRUE(PeekPlainPixels(b, &v));
        auto* p = static_cast<uint32_t*>(v.pixels);
        for (int32_t i = 0, n = v.rowLength * b->height; i < n; ++i) p[i] = rng();
    }
    // A brush of random pixels with a random mask or alpha plane, shown as a layer.
    void RandomLayer(int32_t id, int32_t x, int32_t y, int32_t w, int32_t h, bool alpha, std::mt19937& rng) {
        MakeBrush(id, w, h, 0);
        qbBrush* b = nullptr;
        ASSERT_EQ(GetBrushRecord(L_, ObjectID{id, nullptr}, &b, 0), 0);
        Scramble(rng, b->bitmap);
        qbBitmap* plane = alpha ? AllocAlphaChannel(w, h, false, nullptr, 0) : AllocMask(b->bitmap, w, h, false, nullptr, 0);
        ASSERT_NE(plane, nullptr);
        for (auto& byte : plane->plane->storage) byte = static_cast<uint8_t>(rng());
        (alpha ? b->alpha : b->mask) = plane;
        ASSERT_EQ(RunNumbers("DisplayBrush", {double(id), double(x), double(y)}), 0);
    }
    // The window and the composed picture after the rectangles were shown
    // over scrambled ones, together or one by one.
    Picture ShowRects(const std::vector<qbRect>& rects, bool together, bool* taken) {
        std::mt19937 rng(7);
        Scramble(rng, display_->backBuffer.get());
        FillWindowRect(display_, 0, 0, kW, kH, 0x5A5A5A);
        if (together) {
            *taken = RefreshLayerRects(L_, rects.data(), static_cast<int32_t>(rects.size()));
        } else {
            for (const qbRect& r : rects) RefreshLayerRect(L_, r.x, r.y, r.width, r.height, 0);
        }
        Picture p = Snapshot();
        for (int32_t y = 0; y < kH; ++y)
            for (int32_t x = 0; x < kW; ++x) p.push_back(ReadBitmapPixel(display_->backBuffer.get(), x, y, false));
        return p;
    }
};

TEST_F(RowRedraw, EqualsRedrawingEachPiece) {
    ShowColourBGPic(2, 0x203040);
    EnableLayers();
    std::mt19937 rng(99);
    RandomLayer(1, 10, 5, 41, 30, false, rng);
    RandomLayer(3, 30, 20, 33, 50, true, rng);
    std::vector<qbRect> columns, boxes;
    for (int32_t x = -3; x < kW + 8; x += 8) columns.push_back({x, 0, 3, kH + 5});
    boxes = {{0, 0, 17, 9}, {20, 3, 60, 1}, {5, 40, 90, 30}, {95, 70, 20, 20}};
    for (const auto* rects : {&columns, &boxes}) {
        // A piece left of 0 would be cut differently; the walk takes only
        // pieces on the picture's side of 0.
        std::vector<qbRect> list;
        for (const qbRect& r : *rects)
            if (r.x >= 0) list.push_back(r);
        bool taken = false;
        const Picture together = ShowRects(list, true, &taken);
        EXPECT_TRUE(taken);
        bool unused = false;
        EXPECT_EQ(together, ShowRects(list, false, &unused));
    }
}

TEST_F(RowRedraw, LeavesLayersItCannotWalkToTheGeneralRedraw) {
    ShowColourBGPic(2, 0x203040);
    EnableLayers();
    std::mt19937 rng(5);
    RandomLayer(1, 10, 5, 41, 30, false, rng);
    bool taken = true;
    const std::vector<qbRect> overlapping = {{0, 0, 20, 20}, {10, 10, 20, 20}};
    const Picture before = ShowRects({}, false, &taken);
    EXPECT_EQ(ShowRects(overlapping, true, &taken), before);
    EXPECT_FALSE(taken) << "overlapping pieces would be drawn twice";
    ASSERT_EQ(RunNumbers("SetLayerTransparency", {1, 100}), 0);
    EXPECT_EQ(ShowRects({{0, 0, 20, 20}, {40, 0, 5, 80}}, true, &taken), before);
    EXPECT_FALSE(taken) << "a layer blended by its transparency";
}

}  // namespace
