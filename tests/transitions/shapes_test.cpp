// The shape, dissolve and pixel zoom effects: where the clock hand goes and
// how many frames each shape takes, what a hide takes out of a layer's
// planes, the dissolve's order, and the pixel zoom's blocks.
#include <gtest/gtest.h>

#include "effect_harness.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "imaging/effectkernels.h"
#include "transitions/dissolve.h"
#include "transitions/effectrandom.h"
#include "transitions/effectscreen.h"

namespace {

class ShapeEffects : public EffectHarness {
protected:
    // The brush (w x h, the picture's colour) shown with an effect at x, y;
    // every frame kept.
    int Brush(int32_t type, int32_t speed, int32_t x, int32_t y, int32_t w, int32_t h) {
        MakeBrush(1, w, h, kPicture);
        Reset(Way::BrushOpaque);
        snapshots_.clear();
        frames_ = 0;
        keepFrames_ = true;
        const int err = RunNumbers("DisplayBrushFX", {1, double(x), double(y), double(type), double(speed)});
        keepFrames_ = false;
        return err;
    }
    uint32_t At(size_t frame, int32_t x, int32_t y) const { return snapshots_[frame][size_t(y) * kW + x]; }
};

TEST_F(ShapeEffects, ClockHandAndFrameCounts) {
    ASSERT_EQ(Brush(97, 10, 0, 0, 100, 100), 0);
    EXPECT_EQ(frames_, 40);
    // Frame 1: the wedge from twelve o'clock (50, 0) to the hand at (60, 0).
    EXPECT_EQ(At(0, 50, 0), kPicture);
    EXPECT_EQ(At(0, 60, 0), kPicture);
    EXPECT_EQ(At(0, 61, 0), kOld);
    EXPECT_EQ(At(0, 49, 0), kOld);
    // The frame before the last leaves the top row left of twelve o'clock
    // to the hand's last step, which ends at (51, 0).
    EXPECT_EQ(At(38, 49, 0), kOld);
    EXPECT_EQ(At(39, 49, 0), kPicture);
    ASSERT_EQ(Brush(97, 10, 0, 0, 640, 480), 0);
    EXPECT_EQ(frames_, 224);
}

TEST_F(ShapeEffects, StarEndsAtFourWidths) {
    // Landscape: the box reaches 4 x 60 = 240 at size 5 k + 10, k = 46.
    ASSERT_EQ(Brush(98, 5, 10, 10, 60, 30), 0);
    EXPECT_EQ(frames_, 46);
    EXPECT_EQ(frameCount_, 46);
    // Portrait: the box's width (size x 20 / 60 + 1) reaches 80 at 237.
    ASSERT_EQ(Brush(98, 5, 10, 10, 20, 60), 0);
    EXPECT_EQ(frames_, 46);
    EXPECT_EQ(frameCount_, 46);
    EXPECT_EQ(At(44, 10, 10), kOld) << "a corner stays old until the end";
    EXPECT_EQ(At(45, 10, 10), kPicture);
}

TEST_F(ShapeEffects, SunEndsWhenOnlyCornersAreLeft) {
    ASSERT_EQ(Brush(114, 4, 10, 10, 40, 30), 0);
    EXPECT_EQ(frames_, frameCount_);
    const size_t last = snapshots_.size() - 1;
    EXPECT_NE(snapshots_[last - 1], snapshots_[last]) << "the frame before still leaves some of the old picture";
    EXPECT_EQ(At(last, 10, 10), kPicture);
    EXPECT_EQ(At(last, 49, 39), kPicture);
}

// Hiding a layer takes each frame's wedge out of the layer's plane: its mask,
// or its alpha plane when the picture has one.
TEST_F(ShapeEffects, HidingClearsTheWedgeFromThePlane) {
    for (bool alpha : {false, true}) {
        SCOPED_TRACE(alpha ? "alpha" : "mask");
        const EffectCase c{alpha ? Way::BrushAlpha : Way::BrushOpaque, 97, 10, 10, 10, 40, 30};
        MakePicture(c);
        Reset(Way::HideLayer);
        ASSERT_EQ(RunNumbers("DisplayBrush", {1, 10, 10}), 0);
        int32_t checked = 0;
        onFrame_ = [&](const qbEffectState& s) {
            if (s.frame != 1) return;
            ++checked;
            const qbEffectLayerImages& li = s.layerImages;
            ASSERT_EQ(li.alpha != nullptr, alpha);
            // The first wedge runs from (20, 0) to (30, 0); (5, 5) is far off.
            if (alpha) {
                EXPECT_EQ(li.alpha->plane->data[25], 0);
                EXPECT_EQ(li.alpha->plane->data[5 * li.alpha->plane->rowBytes + 5], 128);
            } else {
                EXPECT_EQ(ReadBitmapPixel(li.mask, 25, 0, true), 0u);
                EXPECT_EQ(ReadBitmapPixel(li.mask, 5, 5, true), 1u);
            }
        };
        ASSERT_EQ(RunNumbers("HideLayerFX", {1, 97, 10}), 0);
        onFrame_ = nullptr;
        EXPECT_EQ(checked, 1);
    }
}

// Every frame of the clock, the star, the sun, the dissolve, the pixel zoom,
// the fades and the rolls, each way they are drawn, as a digest: the frames these
// effects drew when each frame still redrew the whole region right and
// below the hand or the star's box, a layer's dissolve plane was drawn
// whole each frame, the pixel zoom's blocks went through work and a fade's
// layer images were all written every frame, and a roll's curl was
// copied a column at a time; and the water and the swirl, small (one
// thread) and large enough to share rows among threads ("large"), from when
// a layer's frame redrew the layer stack after the kernel rather than band
// by band behind it. Pixels must not move when the per-frame work shrinks.
TEST_F(ShapeEffects, ShapeFramesKeepTheirPixels) {
    struct Expected {
        Way way;
        int32_t type;
        uint64_t digest;
        bool large = false;
    };
    const Expected cases[] = {
        {Way::BGPicTransition, 97, 315964597758158367ull},
        {Way::BrushOpaque, 97, 129650489753240448ull},
        {Way::BrushMasked, 97, 16988921486986328866ull},
        {Way::BrushAlpha, 97, 10810094526223510275ull},
        {Way::BrushLayerRealtime, 97, 129650489753240448ull},
        {Way::HideLayer, 97, 3350959254284525216ull},
        {Way::BGPicTransition, 98, 1754901838557863563ull},
        {Way::BrushMasked, 98, 17800985145641215692ull},
        {Way::BrushLayerRealtime, 98, 15800172417031034699ull},
        {Way::BGPicTransition, 114, 1825482361019246974ull},
        {Way::BrushLayerRealtime, 114, 4975167885620636163ull},
        {Way::BGPicTransition, 139, 7545848987138879653ull},
        {Way::BrushOpaque, 139, 12100598798728262456ull},
        {Way::BrushMasked, 139, 18285434391277123429ull},
        {Way::BrushAlpha, 139, 4584139318724464323ull},
        {Way::BrushLayerRealtime, 139, 12100598798728262456ull},
        {Way::ShowLayer, 139, 12100598798728262456ull},
        {Way::HideLayer, 139, 324313604411761051ull},
        {Way::BGPicTransition, 132, 290639280129729155ull},
        {Way::BrushMasked, 132, 8178338507648136680ull},
        {Way::BrushAlpha, 132, 14958832087065116099ull},
        {Way::BrushLayerRealtime, 132, 1656947026813156820ull},
        {Way::HideLayer, 132, 2645316271758308675ull},
        {Way::BGPicTransition, 116, 1392304561478381379ull},
        {Way::BrushLayerRealtime, 116, 7093493287804241270ull},
        {Way::HideLayer, 116, 14690710146919554193ull},
        {Way::BrushLayerRealtime, 117, 2798434021264090932ull},
        {Way::HideLayer, 117, 14690710146919554193ull},
        {Way::BGPicTransition, 85, 17593821879820349443ull},
        {Way::BGPicTransition, 87, 1045841968478464899ull},
        {Way::BrushOpaque, 87, 7255413829935958836ull},
        {Way::BrushLayerRealtime, 87, 7255413829935958836ull},
        {Way::HideLayer, 87, 15689660185951383404ull},
        {Way::BGPicTransition, 86, 9929365326269299539ull},
        {Way::BGPicTransition, 134, 16961477862316787075ull},
        {Way::BrushLayerRealtime, 134, 4600225701970328295ull},
        {Way::HideLayer, 135, 14844143554461840231ull},
        {Way::ShowLayer, 137, 9186397750841054183ull},
        {Way::BrushAlpha, 138, 7916547934336208130ull},
        {Way::BrushLayerRealtime, 138, 5839122693000811274ull},
        {Way::HideLayer, 138, 7835093714614989693ull},
        {Way::BrushLayerRealtime, 136, 10077904040574714755ull, true},
        {Way::BrushLayerRealtime, 138, 18091226765828713923ull, true},
        {Way::ShowLayer, 138, 10244785589560656454ull, true},
    };
    for (const Expected& e : cases) {
        const EffectCase c = e.large ? EffectCase{e.way, e.type, 16, -90, -40, 261, 157}
                                     : EffectCase{e.way, e.type, 7, 13, 9, 71, 53};
        SCOPED_TRACE(c.Name());
        const std::vector<Picture> frames = Frames(c);
        ASSERT_FALSE(frames.empty());
        uint64_t digest = 1469598103934665603ull;
        for (const Picture& f : frames)
            for (uint32_t v : f) digest = (digest ^ v) * 1099511628211ull;
        EXPECT_EQ(digest, e.digest) << frames.size() << " frames";
    }
}

TEST_F(ShapeEffects, DissolveOrderFollowsTheMap) {
    constexpr int32_t w = 40, h = 30;
    // The map is the run's first draws: the same seed gives it here.
    SeedEffectRandom(77);
    std::vector<int32_t> map(size_t(w) * h);
    for (auto& v : map) v = EffectRand() % 255;
    SeedEffectRandom(77);
    ASSERT_EQ(Brush(139, 4, 10, 10, w, h), 0);
    EXPECT_EQ(frames_, 64);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            ASSERT_EQ(At(0, 10 + x, 10 + y), map[size_t(y) * w + x] < 4 ? kPicture : kOld) << x << "," << y;
    // Speed 1: threshold 255 in frame 255 shows every pixel, frame 256 ends.
    ASSERT_EQ(Brush(139, 1, 10, 10, w, h), 0);
    EXPECT_EQ(frames_, 256);
    EXPECT_EQ(snapshots_[254], snapshots_[255]);
    EXPECT_NE(snapshots_[253], snapshots_[254]);
}

// A real-time layer with an alpha channel: each frame adds the map's share
// to the layer's 8-bit plane, so every pixel is the old picture until its
// threshold passes and the finished blend from then on.
TEST_F(ShapeEffects, DissolveIntoAnAlphaLayerShowsEachPixelBlendedOnItsTurn) {
    constexpr int32_t w = 40, h = 30, x0 = 10, y0 = 6, speed = 16;
    SeedEffectRandom(77);
    std::vector<int32_t> map(size_t(w) * h);
    for (auto& v : map) v = EffectRand() % 255;
    MakeBrush(1, w, h, kPicture);
    qbBrush* b = nullptr;
    ASSERT_EQ(GetBrushRecord(L_, ObjectID{1, nullptr}, &b, 0), 0);
    b->alpha = AllocAlphaChannel(w, h, true, nullptr, 0);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) FillAlphaRect(b->alpha, x, y, 1, 1, uint8_t(40 + (x * 5 + y * 3) % 200));
    SeedEffectRandom(77);
    keepFrames_ = true;
    ASSERT_EQ(Run(EffectCase{Way::BrushLayerRealtime, 139, speed, x0, y0, w, h}), 0);
    keepFrames_ = false;
    // The frames share the 256 thresholds evenly.
    ASSERT_GE(frames_, 256 / speed);
    ASSERT_EQ(256 % frames_, 0);
    const int32_t step = 256 / frames_;
    const Picture& last = snapshots_.back();
    int blended = 0;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const size_t i = size_t(y0 + y) * kW + x0 + x;
            blended += last[i] != kOld && last[i] != kPicture;
            for (size_t f = 0; f < snapshots_.size(); ++f) {
                const bool shown = map[size_t(y) * w + x] < int32_t(f + 1) * step;
                ASSERT_EQ(snapshots_[f][i], shown ? last[i] : before_[i]) << "frame " << f << " at " << x << "," << y;
            }
        }
    EXPECT_EQ(blended, w * h) << "every pixel mixes the picture with the old one";
}

TEST_F(ShapeEffects, PixelZoomBlocks) {
    constexpr int32_t w = 60, h = 50;
    MakeBrush(1, w, h, 0);
    qbBrush* b = nullptr;
    ASSERT_EQ(GetBrushRecord(L_, ObjectID{1, nullptr}, &b, 0), 0);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) FillBitmapRect(b->bitmap, x, y, 1, 1, uint32_t(x * 4) << 16 | uint32_t(y * 5));
    Reset(Way::BrushOpaque);
    snapshots_.clear();
    frames_ = 0;
    keepFrames_ = true;
    ASSERT_EQ(RunNumbers("DisplayBrushFX", {1, 0, 0, 132, 1}), 0);
    keepFrames_ = false;
    ASSERT_EQ(frames_, 25);
    for (int32_t f = 1; f <= 24; ++f) {
        const int32_t block = 25 - f;
        // Each pixel shows its block's top-left pixel.
        for (int32_t y : {0, 13, 49})
            for (int32_t x : {0, 7, 31, 59}) {
                const int32_t bx = x / block * block, by = y / block * block;
                ASSERT_EQ(At(size_t(f - 1), x, y), uint32_t(bx * 4) << 16 | uint32_t(by * 5)) << f << ": " << x << "," << y;
            }
    }
    EXPECT_EQ(snapshots_[24], snapshots_[23]);
}

// Every pixel of every frame, drawn on the screen and in a real-time layer,
// is what the pixelate kernel makes of the picture at that frame's block:
// a size no block divides, an odd width for the blocks of two.
TEST_F(ShapeEffects, PixelZoomFramesMatchKernel) {
    constexpr int32_t w = 61, h = 47, x0 = 5, y0 = 3;
    const auto colour = [](int32_t x, int32_t y) { return uint32_t(x * 4 + 1) << 16 | uint32_t(y * 5 + 2) << 8 | 7u; };
    std::vector<uint32_t> picture(size_t(w) * h), expected(picture.size());
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) picture[size_t(y) * w + x] = colour(x, y);
    for (Way way : {Way::BrushOpaque, Way::BrushLayerRealtime}) {
        MakeBrush(1, w, h, 0);
        qbBrush* b = nullptr;
        ASSERT_EQ(GetBrushRecord(L_, ObjectID{1, nullptr}, &b, 0), 0);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) WriteBitmapPixel(b->bitmap, x, y, colour(x, y), false);
        keepFrames_ = true;
        ASSERT_EQ(Run(EffectCase{way, 132, 1, x0, y0, w, h}), 0) << WayName(way);
        keepFrames_ = false;
        ASSERT_EQ(frames_, 25) << WayName(way);
        for (int32_t f = 1; f <= 25; ++f) {
            qbPixelateRecord r;
            r.source = picture.data();
            r.destination = expected.data();
            r.sourcePitch = r.destinationPitch = r.width = w;
            r.height = h;
            r.block = std::max(25 - f, 1);
            PixelatePixels32(r);
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x)
                    ASSERT_EQ(At(size_t(f - 1), x0 + x, y0 + y), expected[size_t(y) * w + x])
                        << WayName(way) << " frame " << f << " at " << x << "," << y;
        }
    }
}

// PIXELZOOM2 coarsens the old picture first (49 frames); in a layer without
// "bgpicemu" it is the first pixel zoom.
TEST_F(ShapeEffects, PixelZoom2Lengths) {
    Reset(Way::BGPicTransition);
    frames_ = 0;
    ASSERT_EQ(RunNumbers("DisplayTransitionFX", {2, 133, 1}), 0);
    EXPECT_EQ(frames_, 49);

    MakeBrush(1, 20, 20, kPicture);
    qbBrush* b = nullptr;
    ASSERT_EQ(GetBrushRecord(L_, ObjectID{1, nullptr}, &b, 0), 0);
    qbEffectState s;
    s.type = 133;
    s.realtime = 1;
    s.width = s.height = 20;
    s.image = b->bitmap;
    ASSERT_EQ(RenderPixelZoom(&s, nullptr), 0);
    EXPECT_EQ(s.frameCount, 25);
    FreePixelZoomData(&s, 1);
    s.bgpicEmu = 1;
    ASSERT_EQ(RenderPixelZoom(&s, nullptr), 0);
    EXPECT_EQ(s.frameCount, 49);
    FreePixelZoomData(&s, 1);
    s.image = nullptr;
}

}  // namespace
