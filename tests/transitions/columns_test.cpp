// The row walk that puts a frame's thin columns down together must leave
// exactly what drawing them one by one leaves: the layer's effect image,
// its planes and the rectangles the frame will show.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <tuple>
#include <vector>

#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "objects/layers.h"
#include "transitions/effectcolumns.h"
#include "transitions/effectframe.h"
#include "transitions/effectstate.h"

namespace {

enum Planes { kNone, kMaskToMask, kAlphaToAlpha, kAlphaOnly, kMaskOnly, kMaskToAlpha };

struct Images {
    BitmapPtr bitmap, mask, alpha;
};

std::vector<uint8_t> Bytes(const qbBitmap* b) {
    if (!b) return {};
    if (b->plane) return b->plane->storage;
    qbPixelView v;
    if (!PeekPlainPixels(b, &v)) return {};
    const size_t n = static_cast<size_t>(v.rowLength) * b->height * v.bytesPerPixel;
    const auto* p = static_cast<const uint8_t*>(v.pixels);
    return {p, p + n};
}

void Randomise(qbBitmap* b, std::mt19937& rng) {
    if (!b) return;
    if (b->plane) {
        for (auto& byte : b->plane->storage) byte = static_cast<uint8_t>(rng());
        return;
    }
    qbPixelView v;
    ASSERT_TRUE(PeekPlainPixels(b, &v)) << "the row walk is only taken over plain memory";
    auto* p = static_cast<uint8_t*>(v.pixels);
    for (size_t i = 0, n = static_cast<size_t>(v.rowLength) * b->height * v.bytesPerPixel; i < n; ++i)
        p[i] = static_cast<uint8_t>(rng());
}

Images Make(int32_t w, int32_t h, bool mask, bool alpha, std::mt19937& rng) {
    Images im;
    im.bitmap.reset(AllocBitmap(w, h, 0, nullptr));
    if (mask) im.mask.reset(AllocMask(im.bitmap.get(), w, h, false, nullptr, 0));
    if (alpha) im.alpha.reset(AllocAlphaChannel(w, h, false, nullptr, 0));
    Randomise(im.bitmap.get(), rng);
    Randomise(im.mask.get(), rng);
    Randomise(im.alpha.get(), rng);
    return im;
}

struct Outcome {
    std::vector<uint8_t> bitmap, mask, alpha;
    std::vector<std::tuple<int32_t, int32_t, int32_t, int32_t>> shown;
    bool operator==(const Outcome&) const = default;
};

// One frame of columns drawn by the row walk (together) or piece by piece.
// holds: the effect image holds the picture already, as a showing
// effect's image does from its start.
Outcome Draw(bool together, int32_t w, int32_t h, Planes planes, int reverse, int32_t x0, int32_t pitch,
             int32_t count, int32_t cw, int32_t y, int32_t ch, bool holds) {
    std::mt19937 rng(static_cast<uint32_t>(w * 131 + h * 7 + planes));
    const bool srcMask = planes == kMaskToMask || planes == kMaskToAlpha, srcAlpha = planes == kAlphaToAlpha;
    const bool dstMask = planes == kMaskToMask || planes == kMaskOnly;
    const bool dstAlpha = planes == kAlphaToAlpha || planes == kAlphaOnly || planes == kMaskToAlpha;
    Images src = Make(w, h, srcMask, srcAlpha, rng);
    Images dst = Make(w, h, dstMask, dstAlpha, rng);
    qbLayer layer;
    qbEffectState s;
    s.realtime = 1;
    s.layer = &layer;
    s.x = 5, s.y = -2;
    s.width = w, s.height = h;
    s.reverse = reverse;
    s.image = src.bitmap.get(), s.mask = src.mask.get(), s.alpha = src.alpha.get();
    s.layerImages.bitmap = dst.bitmap.get(), s.layerImages.mask = dst.mask.get(), s.layerImages.alpha = dst.alpha.get();
    if (holds) {
        CopyBitmapRect(src.bitmap.get(), 0, 0, dst.bitmap.get(), 0, 0, w, h);
        s.layerImages.holdsPicture = 1;
    }
    if (together) {
        DrawEffectColumns(&s, x0, pitch, count, cw, y, ch);
    } else {
        for (int32_t i = 0; i < count; ++i) DrawEffectPiece(&s, x0 + pitch * i, y, cw, ch);
    }
    Outcome o{Bytes(dst.bitmap.get()), Bytes(dst.mask.get()), Bytes(dst.alpha.get()), {}};
    for (const auto& r : s.shownRects) o.shown.emplace_back(r.x, r.y, r.w, r.h);
    s.shownRects.clear();
    return o;
}

TEST(EffectColumns, RowWalkEqualsPieceByPiece) {
    struct Frame {
        int32_t x0, pitch, count, cw, y, ch;
    };
    for (auto [w, h] : {std::pair{17, 5}, {67, 45}, {130, 9}, {1, 40}}) {
        const std::vector<Frame> frames = {
            {0, 8, w / 8 + 1, 1, 0, h},        // blinds, one-pixel columns
            {3, 8, w / 8 + 2, 4, 0, h},        // wider, the last one cut at the edge
            {-3, 8, w / 8 + 2, 2, 0, h},       // the first starts left of 0: cut there
            {0, 3, w / 3 + 1, 3, 2, h},        // touching columns, rows from 2 past the bottom
            {1, 16, w / 16 + 1, 11, h / 2, 1},  // stripes: a row of short pieces
            {w + 4, 8, 3, 2, 0, h},             // all off the picture
        };
        for (Planes planes : {kNone, kMaskToMask, kAlphaToAlpha, kAlphaOnly, kMaskOnly, kMaskToAlpha})
            for (int reverse : {0, 1})
                for (bool holds : {false, true})
                    for (const Frame& f : frames) {
                        SCOPED_TRACE(testing::Message() << w << "x" << h << " planes " << planes << " reverse "
                                                        << reverse << " holds " << holds << " x0 " << f.x0 << " w "
                                                        << f.cw << " y " << f.y);
                        const Outcome a = Draw(true, w, h, planes, reverse, f.x0, f.pitch, f.count, f.cw, f.y, f.ch, holds);
                        const Outcome b = Draw(false, w, h, planes, reverse, f.x0, f.pitch, f.count, f.cw, f.y, f.ch, holds);
                        EXPECT_TRUE(a == b);
                    }
    }
}

}  // namespace
