// The families that uncover the new picture in place, run straight into a
// layer-sized image: which pixels each frame draws, the steps and frame
// counts their edge cases come to, and the puzzle's tile order.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <vector>

#include "effect_harness.h"
#include "imaging/bitmap.h"
#include "transitions/effectdriver.h"
#include "transitions/effectrandom.h"
#include "transitions/effectstate.h"
#include "transitions/puzzle.h"

namespace {

// What one frame drew, one flag per pixel, row by row.
using Coverage = std::vector<uint8_t>;

struct Outcome {
    int32_t step = 0, frameCount = 0;
    std::vector<Coverage> frames;
};

Outcome RunDirect(int32_t type, int32_t w, int32_t h, int32_t speed, int32_t x = 0, int32_t y = 0) {
    Outcome o;
    BitmapPtr picture(AllocBitmap(w, h, 0, nullptr)), drawn(AllocBitmap(w, h, 0, nullptr));
    FillBitmapRect(picture.get(), 0, 0, w, h, 0xFFFFFF);
    qbEffectState s;
    s.realtime = 1;
    s.type = type;
    s.speed = speed;
    s.width = w, s.height = h;
    s.x = x, s.y = y;
    s.image = picture.get();
    s.layerImages.bitmap = drawn.get();
    s.renderer = RendererForType(type);
    EXPECT_NE(s.renderer, nullptr);
    if (!s.renderer || s.renderer(&s, nullptr)) return o;
    o.step = s.speed;
    o.frameCount = s.frameCount;
    s.phase = 1;
    for (int done = 0; !done && o.frames.size() < 100000;) {
        FillBitmapRect(drawn.get(), 0, 0, w, h, 0);
        EXPECT_EQ(s.renderer(&s, &done), 0);
        const std::vector<uint32_t> argb = GetBitmapARGB(drawn.get(), 0, 0, w, h, nullptr, nullptr, -1, false, 0);
        Coverage c(argb.size());
        for (size_t i = 0; i < argb.size(); ++i) c[i] = (argb[i] & 0xFFFFFF) != 0;
        o.frames.push_back(std::move(c));
    }
    if (s.cleanup) s.cleanup(&s, 1);
    return o;
}

// The rows (or, across, columns) a frame drew whole.
std::vector<int32_t> Lines(const Coverage& c, int32_t w, int32_t h, bool rows) {
    std::vector<int32_t> lines;
    for (int32_t i = 0; i < (rows ? h : w); ++i)
        if (c[rows ? static_cast<size_t>(i) * w : static_cast<size_t>(i)]) lines.push_back(i);
    return lines;
}

bool Drawn(const Coverage& c, int32_t w, int32_t x, int32_t y) { return c[static_cast<size_t>(y) * w + x]; }

size_t Count(const Coverage& c) { return static_cast<size_t>(std::accumulate(c.begin(), c.end(), 0)); }

TEST(Uncover, CurtainAndRevealStepsAtTheirLimits) {
    // Above half the picture: the closing curtain and REVEALLEFT slow to 1,
    // the opening curtain takes a quarter, REVEALTOP half the height.
    EXPECT_EQ(RunDirect(25, 40, 30, 30).step, 1);
    EXPECT_EQ(RunDirect(27, 30, 40, 30).step, 1);
    EXPECT_EQ(RunDirect(24, 40, 30, 30).step, 10);
    EXPECT_EQ(RunDirect(26, 30, 40, 30).step, 10);
    const Outcome left = RunDirect(30, 40, 40, 30);
    EXPECT_EQ(left.step, 1);
    EXPECT_EQ(left.frames.size(), 20u);
    const Outcome top = RunDirect(32, 40, 40, 30);
    EXPECT_EQ(top.step, 20);
    EXPECT_EQ(top.frames.size(), 2u);
    EXPECT_EQ(top.frameCount, 2);
}

TEST(Uncover, BarsAndQuarters) {
    // Narrower than a cell: the remainder block is the whole width, drawn
    // at once; 13 frames at normal speed whatever the size.
    const Outcome narrow = RunDirect(28, 10, 40, kNormalSpeed);
    ASSERT_EQ(narrow.frames.size(), 13u);
    EXPECT_EQ(narrow.frameCount, 13);
    EXPECT_EQ(Count(narrow.frames[0]), 400u);
    EXPECT_EQ(RunDirect(28, 100, 80, kNormalSpeed).frames.size(), 13u);
    const Outcome bars = RunDirect(28, 40, 20, kNormalSpeed);
    // First frame: one column at each cell edge and the 8-column rest.
    EXPECT_EQ(Lines(bars.frames[0], 40, 20, false), (std::vector<int32_t>{0, 16, 32, 33, 34, 35, 36, 37, 38, 39}));

    // An odd width: the last column goes with the right half, upwards.
    const int32_t w = 21, h = 40;
    const Outcome q = RunDirect(29, w, h, 2);
    ASSERT_FALSE(q.frames.empty());
    for (const Coverage& c : q.frames)
        for (int32_t y = 0; y < h; ++y) ASSERT_EQ(Drawn(c, w, w - 1, y), Drawn(c, w, 10, y)) << y;
    EXPECT_TRUE(Drawn(q.frames[0], w, w - 1, h - 1));
    EXPECT_FALSE(Drawn(q.frames[0], w, w - 1, 0));
}

TEST(Uncover, LinesDrawTheirRowsInOrder) {
    // HLINES at H = 10: even rows down, then odd rows up, row 9 twice.
    std::vector<int32_t> rows;
    for (const Coverage& c : RunDirect(36, 7, 10, kFastSpeed).frames) {
        const auto l = Lines(c, 7, 10, true);
        ASSERT_EQ(l.size(), 1u);
        rows.push_back(l[0]);
    }
    EXPECT_EQ(rows, (std::vector<int32_t>{0, 2, 4, 6, 8, 9, 9, 7, 5, 3, 1}));
    // Height 1: row 0, then row 0 again, and the end.
    const Outcome one = RunDirect(36, 7, 1, 5);
    ASSERT_EQ(one.frames.size(), 2u);
    EXPECT_EQ(Count(one.frames[1]), 7u);

    // HLINES2 on an odd height: the odd row starts at H - 2; the last
    // frame draws row H - 1 with the even row clamped.
    const Outcome two = RunDirect(35, 5, 7, kNormalSpeed);
    ASSERT_EQ(two.frames.size(), 5u);
    EXPECT_EQ(Lines(two.frames[0], 5, 7, true), (std::vector<int32_t>{0, 5}));
    EXPECT_EQ(Lines(two.frames.back(), 5, 7, true), (std::vector<int32_t>{0, 6}));

    // The speed is not used: H + 1, or half of H rounded up, plus 1.
    for (int32_t speed : {int32_t{kNormalSpeed}, int32_t{kSlowSpeed}, 1, 500}) {
        EXPECT_EQ(RunDirect(36, 9, 11, speed).frames.size(), 12u);
        EXPECT_EQ(RunDirect(37, 11, 9, speed).frames.size(), 12u);
        EXPECT_EQ(RunDirect(35, 9, 11, speed).frames.size(), 7u);
        EXPECT_EQ(RunDirect(34, 11, 9, speed).frames.size(), 7u);
    }
}

TEST(Uncover, RectanglesKeepTheAspectAndEndWhole) {
    // A square picture: the first rectangle is s wide and s + 1 high.
    const Outcome square = RunDirect(46, 50, 50, 12);
    ASSERT_EQ(square.step, 12);
    EXPECT_EQ(Count(square.frames[0]), 12u * 13u);
    EXPECT_TRUE(Drawn(square.frames[0], 50, 11, 12));
    // s runs 12, 24, 36, 48, then clamps to 48 at 60: the last frame fills
    // everything outside the rectangle of 48 - 12 = 36 (36 x 37).
    ASSERT_EQ(square.frames.size(), 5u);
    const Coverage& last = square.frames.back();
    for (int32_t y = 0; y < 50; ++y)
        for (int32_t x = 0; x < 50; ++x) ASSERT_EQ(Drawn(last, 50, x, y), !(x < 36 && y < 37)) << x << "," << y;

    // Centred on an odd difference: the rectangle grows by one to sit on
    // whole pixels. 41 x 20, s = 10: 10 x 5 grows to 11 x 6 at (15, 7).
    const Outcome centre = RunDirect(38, 41, 20, 10);
    EXPECT_EQ(Count(centre.frames[0]), 66u);
    EXPECT_TRUE(Drawn(centre.frames[0], 41, 15, 7));
    EXPECT_TRUE(Drawn(centre.frames[0], 41, 25, 12));

    // The old rectangle withdraws: RECTBACKNORTHWEST keeps it in the
    // bottom-right corner, and its last frame draws all that was left of it.
    const Outcome back = RunDirect(96, 40, 40, 10);
    ASSERT_EQ(back.frames.size(), 4u);
    EXPECT_FALSE(Drawn(back.frames[0], 40, 39, 39));
    EXPECT_TRUE(Drawn(back.frames[0], 40, 0, 0));
    const Coverage& end = back.frames.back();
    for (int32_t y = 0; y < 40; ++y)
        for (int32_t x = 0; x < 40; ++x) ASSERT_EQ(Drawn(end, 40, x, y), x >= 30 && y >= 29) << x << "," << y;
    // The first frame takes the old rectangle as the whole picture, wherever
    // the picture stands on the screen: every pixel is drawn in the end.
    for (int32_t type = 88; type <= 96; ++type) {
        Coverage all(37 * 23, 0);
        for (const Coverage& c : RunDirect(type, 37, 23, 4, 30, 12).frames)
            for (size_t i = 0; i < c.size(); ++i) all[i] |= c[i];
        EXPECT_EQ(Count(all), all.size()) << type;
    }
}

TEST(Uncover, DiagonalBlocks) {
    // Above a quarter of the width: blocks of 1 pixel, the front moving a
    // pixel a frame across W + H.
    const Outcome fine = RunDirect(83, 12, 5, 4);
    EXPECT_EQ(fine.step, 1);
    EXPECT_EQ(fine.frames.size(), 17u);
    EXPECT_EQ(Count(fine.frames[0]), 1u);
    // Blocks of 4 on 16 x 10: the staircase leaves the picture at the
    // bottom-right and is clipped there; every pixel is drawn.
    const Outcome big = RunDirect(83, 16, 10, 4);
    ASSERT_EQ(big.step, 4);
    Coverage all(16 * 10, 0);
    for (const Coverage& c : big.frames)
        for (size_t i = 0; i < c.size(); ++i) all[i] |= c[i];
    EXPECT_EQ(Count(all), 160u);
    EXPECT_EQ(Count(big.frames[1]), 32u);  // (4, 0) and (0, 4)
}

TEST(Uncover, PuzzleTiles) {
    SeedEffectRandom(3);
    // FASTSPEED at width 40: 40 / 10 = 4, raised to 5. The width is a
    // multiple of 5: a ninth column lies outside and its tiles draw
    // nothing, yet each takes its frame.
    const Outcome p = RunDirect(82, 40, 23, kFastSpeed);
    EXPECT_EQ(p.step, 5);
    const size_t n = 9 * 5;
    ASSERT_EQ(p.frames.size(), n);
    EXPECT_EQ(p.frameCount, static_cast<int32_t>(n));
    size_t empty = 0;
    Coverage all(40 * 23, 0);
    for (const Coverage& c : p.frames) {
        empty += Count(c) == 0;
        EXPECT_LE(Count(c), 25u);
        for (size_t i = 0; i < c.size(); ++i) {
            EXPECT_FALSE(all[i] && c[i]) << "a tile drawn twice";
            all[i] |= c[i];
        }
    }
    EXPECT_EQ(empty, 5u);
    EXPECT_EQ(Count(all), 40u * 23u);
}

// The order as first written down: each candidate compared with the whole
// array, and again after every probe.
std::vector<int32_t> QuadraticOrder(int32_t n) {
    std::vector<int32_t> order(n, -1);
    for (int32_t j = 0; j < n; ++j) {
        const double r = EffectDrand();
        int32_t c = static_cast<int32_t>(n * r);
        bool wrapped = false;
        while (std::find(order.begin(), order.end(), c) != order.end()) {
            if (!wrapped && c >= 1) {
                c = c - 1;
            } else if (!wrapped) {
                c = static_cast<int32_t>(n * r) + 1;
                wrapped = true;
            } else {
                c = c + 1;
            }
        }
        order[j] = c;
    }
    return order;
}

TEST(Uncover, PuzzleOrderEqualsTheQuadraticRule) {
    for (int32_t n : {1, 2, 3, 5, 17, 64, 357, 1000, 1999, 2000}) {
        for (uint32_t seed : {1u, 99u}) {
            SeedEffectRandom(seed);
            const std::vector<int32_t> expected = QuadraticOrder(n);
            SeedEffectRandom(seed);
            std::vector<int32_t> order(n);
            ASSERT_EQ(FillPuzzleOrder(order.data(), n, EffectDrand), 0);
            ASSERT_EQ(order, expected) << "n " << n << " seed " << seed;
        }
    }
    // Tiles of 5 on 1920 x 1080: every tile once.
    const int32_t n = 385 * 217;
    std::vector<int32_t> order(n);
    ASSERT_EQ(FillPuzzleOrder(order.data(), n, EffectDrand), 0);
    std::vector<uint8_t> seen(n, 0);
    for (int32_t k : order) {
        ASSERT_TRUE(k >= 0 && k < n);
        ASSERT_FALSE(seen[k]++);
    }
}

}  // namespace

namespace {

// Once a pixel shows the new picture (for a hide: is cleared), it keeps it.
TEST_F(EffectHarness, UncoveringOnlyGrows) {
    std::vector<int32_t> types;
    for (int32_t t = 24; t <= 46; ++t) types.push_back(t);
    for (int32_t t = 88; t <= 96; ++t) types.push_back(t);
    types.insert(types.end(), {82, 83});
    for (Way way : {Way::BGPicTransition, Way::BrushOpaque, Way::HideLayer, Way::ShowLayerCovered})
        for (int32_t type : types) {
            const EffectCase c{way, type, 9, 5, 20, 67, 45};
            SCOPED_TRACE(c.Name());
            MakePicture(c);
            const Picture target = Target(c);
            keepFrames_ = true;
            ASSERT_EQ(Run(c), 0);
            keepFrames_ = false;
            for (size_t f = 1; f < snapshots_.size(); ++f)
                for (size_t i = 0; i < target.size(); ++i)
                    if (before_[i] != target[i] && snapshots_[f - 1][i] == target[i]) {
                        ASSERT_EQ(snapshots_[f][i], target[i])
                            << "frame " << f + 1 << " at " << i % kW << "," << i / kW;
                    }
        }
}

// A hide runs the mirrored effect, clearing the layer as it goes.
TEST_F(EffectHarness, HidingRunsTheMirror) {
    struct Mirror {
        Way way;
        int32_t type, ran;
        EffectRenderer renderer;
    };
    for (const Mirror& m :
         {Mirror{Way::HideLayer, 30, 31, RendererForType(31)}, Mirror{Way::RemoveLayer, 39, 89, RendererForType(89)},
          Mirror{Way::HideLayer, 89, 39, RendererForType(39)}}) {
        const EffectCase c{m.way, m.type, kNormalSpeed, 10, 10, 64, 48};
        SCOPED_TRACE(c.Name());
        MakePicture(c);
        int32_t ran = -1, reverse = 0;
        EffectRenderer renderer = nullptr;
        onFrame_ = [&](const qbEffectState& s) {
            ran = s.type;
            renderer = s.renderer;
            reverse = s.reverse;
        };
        ASSERT_EQ(Run(c), 0);
        onFrame_ = nullptr;
        EXPECT_EQ(ran, m.ran);
        EXPECT_EQ(renderer, m.renderer);
        EXPECT_EQ(reverse, 1);
        if (m.way == Way::HideLayer) {
            ASSERT_EQ(CountLayers(display_->bgpic), layersBefore_);
            EXPECT_EQ(GetLayerByIndex(display_->bgpic, 1)->hidden, 1);
        } else {
            EXPECT_EQ(CountLayers(display_->bgpic), layersBefore_ - 1);
        }
    }
    EXPECT_NE(RendererForType(31), RendererForType(30));
    EXPECT_NE(RendererForType(89), RendererForType(39));
}

}  // namespace
