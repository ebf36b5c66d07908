// The strip walks, slides, cards, squashes, strange pushes and stretches:
// where their pieces go, how long they run, and what a hide gives back.
#include <gtest/gtest.h>

#include <vector>

#include "imaging/bitmap.h"
#include "objects/dirtyrects.h"
#include "objects/layers.h"
#include "renderer_fixture.h"
#include "transitions/effecthelpers.h"
#include "transitions/stretch.h"

namespace {

// The frame (1-based) in which each pixel first showed the new picture;
// 0 where none did.
class WalkRenderer : public MovingRenderer {
protected:
    std::vector<int32_t> FirstNew() {
        std::vector<int32_t> first(size_t(s_.width) * s_.height, 0);
        int32_t n = 0;
        for (int done = 0; !done && n < 100000;) {
            done = Step();
            ++n;
            for (int32_t y = 0; y < s_.height; ++y)
                for (int32_t x = 0; x < s_.width; ++x)
                    if (!first[size_t(y) * s_.width + x] && At(x, y) == New(x, y)) first[size_t(y) * s_.width + x] = n;
        }
        frames_ = n;
        return first;
    }
    int32_t FirstAt(const std::vector<int32_t>& f, int32_t x, int32_t y) const { return f[size_t(y) * s_.width + x]; }
    int32_t frames_ = 0;
};

TEST_F(WalkRenderer, SpiralWalksItsBandsClockwiseInwards) {
    Start(105, 70, 60, 10);
    const auto first = FirstNew();
    EXPECT_EQ(frames_, s_.frameCount) << "the counted frames";
    // Column 6 (x = 59, 11 wide) downwards in 7 frames, then row 5 (y = 49).
    EXPECT_EQ(FirstAt(first, 59, 0), 1);
    EXPECT_NE(FirstAt(first, 58, 0), 1);
    EXPECT_EQ(FirstAt(first, 69, 59), 6);
    EXPECT_EQ(FirstAt(first, 59, 59), 6);
    EXPECT_EQ(FirstAt(first, 49, 49), 8);
    EXPECT_EQ(FirstAt(first, 58, 59), 8);
    EXPECT_GT(FirstAt(first, 49, 48), 8) << "row 5 starts at y = 49";
    // Column 5 (x = 48) before column 4 (x = 37); row 4 at y = 38.
    EXPECT_LT(FirstAt(first, 48, 20), FirstAt(first, 37, 30));
    EXPECT_LT(FirstAt(first, 47, 20), FirstAt(first, 37, 30));
    EXPECT_LT(FirstAt(first, 30, 38), FirstAt(first, 30, 37));
    for (int32_t v : first) EXPECT_GT(v, 0);
    EXPECT_EQ(At(35, 30), New(35, 30));
}

TEST_F(WalkRenderer, SplitsOpenEachHalfFromItsMiddle) {
    Start(108, 4, 3, 1);  // HSPLIT: q = 1
    EXPECT_EQ(s_.frameCount, 2);
    EXPECT_EQ(Step(), 0);
    for (int32_t x = 0; x < 4; ++x) EXPECT_EQ(At(x, 1) == New(x, 1), x == 1 || x == 3) << x;
    EXPECT_EQ(Step(), 1);
    EXPECT_TRUE(Whole(New));
    Start(109, 3, 9, 1);  // VSPLIT on an odd height: the second half from row 5
    const auto first = FirstNew();
    EXPECT_EQ(frames_, s_.frameCount);
    EXPECT_EQ(FirstAt(first, 0, 2), 1);
    EXPECT_EQ(FirstAt(first, 0, 7), 1);
}

TEST_F(WalkRenderer, UpAndDownRunsFourPassesOfTwoColumns) {
    Start(110, 47, 100, 30);  // columns of 6 pixels, column 7 at x = 42
    EXPECT_EQ(s_.frameCount, 15);
    for (int i = 0; i < 13; ++i) ASSERT_EQ(Step(), 0);
    EXPECT_EQ(At(44, 91), New(44, 91)) << "column 7 filled down to row 91";
    EXPECT_EQ(At(44, 95), Old(44, 95));
    EXPECT_EQ(At(38, 10), New(38, 10)) << "column 6 filled up to row 9";
    EXPECT_EQ(At(38, 5), Old(38, 5));
    EXPECT_EQ(Step(), 0) << "frame 14 (travel 390) is still pass 3";
    EXPECT_EQ(At(44, 95), New(44, 95));
    EXPECT_EQ(At(38, 5), New(38, 5));
    EXPECT_EQ(Step(), 1);
    EXPECT_TRUE(Whole(New));
    Start(110, 47, 100, 30);
    Step();
    EXPECT_EQ(At(0, 0), New(0, 0)) << "column 0 down";
    EXPECT_EQ(At(6, 99), New(6, 99)) << "column 1 up";
    EXPECT_EQ(At(12, 0), Old(12, 0));
}

TEST_F(WalkRenderer, SwissAndQuadRectGrowTheirCorners) {
    Start(106, 40, 20, 4);  // SWISS: corners 4 x 3
    EXPECT_EQ(s_.frameCount, 5);
    Step();
    for (auto [x, y] : {std::pair{0, 0}, {39, 0}, {0, 19}, {39, 19}, {3, 2}}) EXPECT_EQ(At(x, y), New(x, y));
    EXPECT_EQ(At(4, 0), Old(4, 0));
    EXPECT_EQ(At(0, 3), Old(0, 3));
    Start(107, 40, 20, 4);  // QUADRECT: top left and bottom right first
    EXPECT_EQ(s_.frameCount, 10);
    for (int i = 0; i < 3; ++i) Step();
    EXPECT_EQ(At(10, 5), New(10, 5));
    EXPECT_EQ(At(30, 15), New(30, 15));
    EXPECT_EQ(At(30, 5), Old(30, 5));
    for (int i = 0; i < 5; ++i) Step();
    EXPECT_EQ(At(30, 5), New(30, 5)) << "then top right and bottom left";
}

TEST_F(WalkRenderer, SlideLeftMovesTheOldPictureOutThenTheNewOneIn) {
    Start(101, 640, 2, 30, 0x00FF00);
    EXPECT_EQ(s_.frameCount, 43);
    for (int f = 1; f <= 21; ++f) {
        ASSERT_EQ(Step(), 0);
        ASSERT_EQ(At(30 * f, 0), Old(0, 0)) << f;
        ASSERT_EQ(At(30 * f - 1, 1), 0x00FF00u) << f;
    }
    ASSERT_EQ(Step(), 0);
    EXPECT_EQ(At(620, 0), New(0, 0)) << "frame 22: the new picture from the right";
    EXPECT_EQ(At(619, 0), 0x00FF00u);
    int n = 22;
    while (!Step()) ++n;
    EXPECT_EQ(n + 1, 43);
    EXPECT_TRUE(Whole(New));
}

TEST_F(WalkRenderer, FlipCoinSquashesTheOldPictureToALineAtItsMiddle) {
    Start(124, 6, 20, 5);  // VFLIPCOIN: travel 20 at frame 4
    for (int i = 0; i < 4; ++i) Step();
    for (int32_t y = 0; y < 20; ++y)
        for (int32_t x = 0; x < 6; ++x)
            if (y == 9) EXPECT_EQ(At(x, y) & 0xC00000u, 0x400000u) << "the old picture, one line";
            else EXPECT_EQ(At(x, y), 0u) << x << "," << y;
    Step();
    EXPECT_EQ(At(0, 7) & 0xC00000u, 0x800000u);
    Start(127, 20, 6, 5);  // HLOWFLIPCOIN about the right edge
    Step();
    EXPECT_EQ(At(4, 0), 0u);
    EXPECT_EQ(At(5, 0) & 0xC00000u, 0x400000u);
}

TEST_F(WalkRenderer, CardCrushAndStrangePushEnds) {
    Start(111, 8, 1, 1);
    EXPECT_EQ(s_.frameCount, 1);
    EXPECT_EQ(Step(), 1) << "a one-row card ends in its first frame";
    EXPECT_TRUE(Whole(New));
    Start(112, 4, 10, 2);  // CARDBOTTOM, t = 2: old rows 2..9 at the top
    Step();
    EXPECT_EQ(At(0, 0), Old(0, 2));
    EXPECT_EQ(At(0, 8), New(0, 6));
    Start(120, 10, 4, 5);  // CRUSHLEFT halfway: both halves squeezed
    Step();
    EXPECT_EQ(At(0, 0), New(0, 0));
    EXPECT_EQ(At(4, 0), New(8, 0));
    EXPECT_EQ(At(5, 0), Old(0, 0));
    EXPECT_EQ(At(9, 0), Old(8, 0));
    Start(99, 10, 4, 7);
    EXPECT_EQ(s_.speed, 8) << "an odd step becomes even";
    Step();  // travel 8: odd rows from the left, even rows from the right
    EXPECT_EQ(At(0, 1), New(2, 1));
    EXPECT_EQ(At(8, 1), Old(8, 1));
    EXPECT_EQ(At(9, 0), New(7, 0));
    EXPECT_EQ(At(0, 0), Old(0, 0));
    EXPECT_EQ(Step(), 1);
    EXPECT_TRUE(Whole(New));
}

TEST_F(WalkRenderer, StretchesAndZoomsGrowTheirRectangles) {
    Start(61, 640, 480, 10);  // ZOOMCENTER
    EXPECT_EQ(s_.frameCount, 64);
    Step();
    EXPECT_EQ(At(315, 236) & 0xC00000u, 0x800000u);
    EXPECT_EQ(At(324, 242) & 0xC00000u, 0x800000u);
    EXPECT_EQ(At(314, 236), Old(314, 236));
    EXPECT_EQ(At(325, 236) & 0xC00000u, 0x400000u);
    EXPECT_EQ(At(315, 243) & 0xC00000u, 0x400000u);
    Start(56, 20, 4, 5);  // STRETCHRIGHT: the strip at the right widens
    EXPECT_EQ(StretchEdgeSize(&s_, 1), 15);
    Step();
    EXPECT_EQ(At(14, 0), Old(14, 0));
    EXPECT_EQ(At(15, 0), New(0, 0));
    EXPECT_EQ(At(19, 0) & 0xC00000u, 0x800000u);
    Step();
    EXPECT_EQ(At(10, 0), New(0, 0));
    s_.type = 30;
    EXPECT_EQ(StretchEdgeSize(&s_, 1), 0);
}

TEST_F(WalkRenderer, RollsCurlTheNewPictureAcrossTheOldOne) {
    Start(84, 6, 100, 10);  // ROLLTOP: n = 100 / 12 raised to 20, speed 10 / 5
    EXPECT_EQ(s_.speed, 2);
    EXPECT_EQ(s_.frameCount, 50);
    Step();
    EXPECT_EQ(At(3, 1), New(3, 1)) << "flat behind the curl";
    EXPECT_EQ(At(3, 2), New(3, 2)) << "the curl goes on from the flat part";
    EXPECT_EQ(At(3, 21) & 0xC00000u, 0x800000u) << "the curl, 20 rows";
    EXPECT_EQ(At(3, 22), Old(3, 22));
    int n = 1;
    while (!Step()) ++n;
    EXPECT_EQ(n + 1, 50);
    EXPECT_TRUE(Whole(New));
    Start(87, 640, 2, 10);  // WALLPAPERLEFT: n = 320
    Step();
    EXPECT_EQ(At(321, 0) & 0xC00000u, 0x800000u);
    EXPECT_EQ(At(322, 0), Old(322, 0));
    Start(85, 10, 10, 3);
    EXPECT_EQ(s_.speed, 1);
    Start(85, 10, 10, 100);
    EXPECT_EQ(s_.speed, 8);
}

// Hides of a layer: what the effect leaves is gone from the layer's planes.
class WalkLayers : public TransitionWorld {};

TEST_F(WalkLayers, HidesClearWhatTheyLeaveFromTheLayersPlanes) {
    ShowColourBGPic(3, 0x0000FF);
    EnableLayers();
    MakeBrush(1, 40, 30, 0x00FF00);
    ASSERT_EQ(RunNumbers("DisplayBrush", {1, 10, 10}), 0);
    std::vector<int32_t> cornersGone;
    onFrame_ = [&](const qbEffectState& s) {
        const qbBitmap* mask = s.layerImages.mask;
        ASSERT_NE(mask, nullptr);
        cornersGone.push_back(ReadBitmapPixel(const_cast<qbBitmap*>(mask), 0, 0, true) == 0 &&
                              ReadBitmapPixel(const_cast<qbBitmap*>(mask), 39, 29, true) == 0);
    };
    ASSERT_EQ(RunNumbers("HideLayerFX", {1, 106, 5}), 0);
    ASSERT_FALSE(cornersGone.empty());
    EXPECT_EQ(cornersGone.front(), 1) << "SWISS clears the corners first";
    EXPECT_EQ(Real(10, 10), 0x0000FFu);

    GetLayerByIndex(display_->bgpic, 1)->hidden = 0;
    RefreshLayerRect(L_, 0, 0, kW, kH, 0);
    std::vector<int32_t> rightEdge;
    onFrame_ = [&](const qbEffectState& s) {
        auto* mask = s.layerImages.mask;
        int32_t edge = 0;
        while (edge < 40 && ReadBitmapPixel(mask, edge, 15, true)) ++edge;
        rightEdge.push_back(edge);
        for (int32_t x = edge; x < 40; ++x) ASSERT_EQ(ReadBitmapPixel(mask, x, 15, true), 0u) << x;
    };
    ASSERT_EQ(RunNumbers("HideLayerFX", {1, 55, 10}), 0);  // STRETCHLEFT
    EXPECT_EQ(rightEdge, (std::vector<int32_t>{30, 20, 10, 0}));
    EXPECT_EQ(Real(45, 25), 0x0000FFu);
    onFrame_ = nullptr;
}

}  // namespace

// Every frame of the rolls along x, as a digest of the patterned pictures:
// the frames they drew when the curl was copied a column at a time. A curl
// column taken from the wrong column of the new picture changes it.
TEST_F(WalkRenderer, CurlsAlongXKeepTheirPixels) {
    struct Expected {
        int32_t type, w, h, speed;
        uint64_t digest;
    };
    const Expected cases[] = {
        {85, 97, 13, 10, 327183758435787425ull},
        {87, 97, 13, 10, 10286227624755162785ull},
        {87, 300, 3, 40, 9389791787281706571ull},
    };
    for (const Expected& e : cases) {
        SCOPED_TRACE("type " + std::to_string(e.type) + " width " + std::to_string(e.w));
        Start(e.type, e.w, e.h, e.speed);
        uint64_t digest = 1469598103934665603ull;
        for (const auto& frame : All())
            for (uint32_t v : frame) digest = (digest ^ v) * 1099511628211ull;
        EXPECT_EQ(digest, e.digest);
    }
}
