// The blending effects frame by frame: cross-fade levels and their mix,
// the fade's colour and frame counts, the water and swirl lengths, and a
// layer's border fading with the picture.
#include <gtest/gtest.h>

#include "effect_harness.h"
#include "imaging/bitmap.h"
#include "imaging/bitmapfilters.h"
#include "imaging/blit.h"

#ifdef QB_TEST_HAVE_PIXMAN
#include <pixman.h>
#endif

namespace {

class BlendEffects : public EffectHarness {
protected:
    // Runs a BGPic transition to picture 2, each frame's blendLevel kept.
    int Transition(int32_t type, int32_t speed, double parameter = -1) {
        Reset(Way::BGPicTransition);
        levels_.clear();
        snapshots_.clear();
        frames_ = 0;
        keepFrames_ = true;
        onFrame_ = [this](const qbEffectState& s) { levels_.push_back(s.blendLevel); };
        const int err = RunNumbers("DisplayTransitionFX", {2, double(type), double(speed), parameter});
        keepFrames_ = false;
        onFrame_ = nullptr;
        return err;
    }
    std::vector<int32_t> levels_;
};

int32_t Channel(uint32_t c, int k) { return static_cast<int32_t>(c >> (8 * k) & 255); }

TEST_F(BlendEffects, CrossFadeMixesByItsLevel) {
    ASSERT_EQ(Transition(115, 300), 0);
    EXPECT_EQ(levels_, (std::vector<int32_t>{120, 240, 255}));
    ASSERT_EQ(snapshots_.size(), 3u);
    const uint32_t got = snapshots_[0][0];
    for (int k = 0; k < 3; ++k) {
        const int32_t b = Channel(kOld, k), n = Channel(kNew, k);
        EXPECT_EQ(Channel(got, k), b + (((n - b) * 120) >> 8)) << "channel " << k;
    }
    EXPECT_EQ(snapshots_[2][0], kNew);
#ifdef QB_TEST_HAVE_PIXMAN
    // The same frame as pixman's OVER of the new picture through a solid
    // mask of the level, within two steps.
    uint32_t dst = kOld, src = kNew;
    pixman_image_t* d = pixman_image_create_bits(PIXMAN_x8r8g8b8, 1, 1, &dst, 4);
    pixman_image_t* s = pixman_image_create_bits(PIXMAN_x8r8g8b8, 1, 1, &src, 4);
    const pixman_color_t level{0, 0, 0, static_cast<uint16_t>(120 * 257)};
    pixman_image_t* m = pixman_image_create_solid_fill(&level);
    pixman_image_composite32(PIXMAN_OP_OVER, s, m, d, 0, 0, 0, 0, 0, 0, 1, 1);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(Channel(got, k), Channel(dst, k), 2) << "channel " << k;
    pixman_image_unref(m);
    pixman_image_unref(s);
    pixman_image_unref(d);
#endif
}

TEST_F(BlendEffects, FadePassesThroughItsColour) {
    const uint32_t colour = 0x20C040;
    ASSERT_EQ(Transition(116, 10, colour), 0);
    ASSERT_EQ(frames_, 52);
    // Frame 26 stands at t = 260: the new picture tinted by 251.
    BitmapPtr expect(AllocBitmap(1, 1, 0, nullptr));
    FillBitmapRect(expect.get(), 0, 0, 1, 1, kNew);
    TintBitmap(expect.get(), 0, 0, 1, 1, colour, 251);
    EXPECT_EQ(snapshots_[25][0], ReadBitmapPixel(expect.get(), 0, 0, false));
    // Frame 25 (t = 250) still tints the old picture.
    FillBitmapRect(expect.get(), 0, 0, 1, 1, kOld);
    TintBitmap(expect.get(), 0, 0, 1, 1, colour, 250);
    EXPECT_EQ(snapshots_[24][0], ReadBitmapPixel(expect.get(), 0, 0, false));
    EXPECT_EQ(snapshots_[51][0], kNew);

    // A random colour is drawn anew for every run.
    SeedEffectRandom(1);
    ASSERT_EQ(Transition(116, 10), 0);
    const uint32_t first = snapshots_[25][0];
    SeedEffectRandom(2);
    ASSERT_EQ(Transition(116, 10), 0);
    EXPECT_NE(snapshots_[25][0], first);
}

// A brush large enough for the displacement to share its rows among
// threads (partly off the display): the effect makes them, ends on the
// picture and frees them, as a plain brush and on a layer in real time.
TEST_F(BlendEffects, WaterAndSwirlOnThreadsEndOnThePicture) {
    for (Way way : {Way::BrushOpaque, Way::BrushAlpha, Way::BrushLayerRealtime})
        for (int32_t type : {134, 138}) Check({way, type, 16, -90, -40, 261, 157}, false, kBetween);
}

TEST_F(BlendEffects, WaterAndSwirlLengths) {
    ASSERT_EQ(Transition(134, 5), 0);
    EXPECT_EQ(frames_, 10);
    EXPECT_EQ(snapshots_.back(), Picture(size_t(kW) * kH, kNew));
    EXPECT_NE(snapshots_[8], snapshots_.back());
    ASSERT_EQ(Transition(138, 7), 0);
    EXPECT_EQ(frames_, 103);
    EXPECT_EQ(snapshots_.back(), Picture(size_t(kW) * kH, kNew));
    // The presets and the limits of the speed.
    for (auto [type, speed, count] : {std::tuple{137, -2, 20}, {135, 1, 10}, {136, 500, 200}, {138, -1, 90}}) {
        ASSERT_EQ(Transition(type, speed), 0);
        EXPECT_EQ(frames_, count) << type << " at " << speed;
    }
}

// A layer with a border: the border fades with the picture, unless the
// script says "noborderfade".
TEST_F(BlendEffects, BorderFadesWithTheLayer) {
    for (int noFade : {0, 1}) {
        Reset(Way::ShowLayer);
        MakeBrush(1, 30, 20, kPicture);
        ASSERT_EQ(RunNumbers("DisplayBrush", {1, 10, 10}), 0);
        qbLayer* layer = GetLayerByIndex(display_->bgpic, 1);
        ASSERT_NE(layer, nullptr);
        layer->hidden = 1;
        layer->border.border = 1;
        std::vector<std::pair<int32_t, int32_t>> seen;
        onFrame_ = [&](const qbEffectState& s) { seen.push_back({s.blendLevel, s.layer->borderfade}); };
        ASSERT_EQ(Show("ShowLayerFX", {1}, [&] {
                      Field("type", 115);
                      Field("speed", 100);
                      Field("noborderfade", noFade);
                  }),
                  0);
        onFrame_ = nullptr;
        ASSERT_EQ(seen.size(), 3u);
        for (auto [level, fade] : seen) EXPECT_EQ(fade, noFade ? 0 : level + 1);
        EXPECT_EQ(layer->borderfade, 0) << "the end shows the border whole";
    }
}

// A cross-fade hiding a layer with a border and a shadow: at every step
// the shadow and the border are drawn as those of a still layer whose
// shadow colour and transparency give the step's opacity.
TEST_F(BlendEffects, ShadowAndBorderFadeAtEveryStep) {
    constexpr uint32_t kShadow = 0x40FFFFFFu;  // opacity 191
    const auto show = [&](uint32_t shadow, int32_t transparency) {
        return Show("DisplayBrush", {1, 20, 20}, [&] {
            Field("shadow", 1);
            SetTableFieldUInt(L_, "shadowcolor", shadow);
            Field("shadowdir", 3);
            Field("shadowsize", 6);
            Field("border", 1);
            Field("bordersize", 3);
            Field("bordercolor", 0xFFFF00);
            if (transparency) Field("transparency", transparency);
        });
    };
    Reset(Way::HideLayer);
    MakeBrush(1, 30, 20, kPicture);
    ASSERT_EQ(show(kShadow, 0), 0);
    struct Step {
        int32_t level;
        uint32_t border, shadow;
    };
    std::vector<Step> seen;
    onFrame_ = [&](const qbEffectState& s) {
        const Picture p = Snapshot();
        seen.push_back({s.blendLevel, p[30 * kW + 18], p[45 * kW + 55]});
    };
    ASSERT_EQ(Show("HideLayerFX", {1}, [&] {
                  Field("type", 115);
                  Field("speed", 40);
              }),
              0);
    onFrame_ = nullptr;
    ASSERT_GE(seen.size(), 6u);
    for (const Step& step : seen) {
        if (step.level == 0) continue;  // nothing of the layer is left
        SCOPED_TRACE("level " + std::to_string(step.level));
        Reset(Way::ShowLayer);
        const auto opacity = static_cast<uint32_t>(191 * step.level / 255.0);
        ASSERT_EQ(show((255 - opacity) << 24 | (kShadow & 0xFFFFFFu), 255 - step.level), 0);
        const Picture p = Snapshot();
        EXPECT_EQ(step.border, p[30 * kW + 18]) << "border";
        EXPECT_EQ(step.shadow, p[45 * kW + 55]) << "shadow";
        EXPECT_NE(p[45 * kW + 55], kOld) << "the shadow is seen";
    }
}

// A fade hiding a layer in steps of two: every frame's alpha plane follows
// its level down, none is left as the frame before drew it.
TEST_F(BlendEffects, AHidingFadeLowersTheAlphaEveryFrame) {
    Reset(Way::HideLayer);
    MakeBrush(1, 30, 20, kPicture);
    ASSERT_EQ(RunNumbers("DisplayBrush", {1, 10, 10}), 0);
    std::vector<std::pair<int32_t, int32_t>> seen;
    onFrame_ = [&](const qbEffectState& s) {
        const qbBitmap* alpha = s.layerImages.alpha;
        seen.push_back({s.blendLevel, alpha ? alpha->plane->data[5 * alpha->plane->rowBytes + 29] : -1});
    };
    ASSERT_EQ(Show("HideLayerFX", {1}, [&] {
                  Field("type", 116);
                  Field("speed", 2);
              }),
              0);
    onFrame_ = nullptr;
    ASSERT_GT(seen.size(), 200u);
    int32_t lowered = 0;
    for (size_t i = 1; i < seen.size(); ++i) {
        if (seen[i].first == seen[i - 1].first) continue;
        ++lowered;
        EXPECT_NEAR(seen[i].second, seen[i].first, 1) << "frame " << i;
    }
    EXPECT_GT(lowered, 100);
}

}  // namespace

#include "core/nativebitmap.h"
#include "draw/asyncdraw.h"
#include "transitions/fades.h"

namespace {

uint32_t BlendsFrames(uint32_t requested) { return requested & 2; }

class PreparedCrossFade : public AsyncEffectHarness {
protected:
    void SetUp() override {
        AsyncEffectHarness::SetUp();
        SetAdapterCapsQuery(BlendsFrames);
    }
    void TearDown() override {
        SetAdapterCapsQuery(nullptr);
        AsyncEffectHarness::TearDown();
    }
};

// An adapter that blends frames itself gets the final picture in every frame.
TEST_F(PreparedCrossFade, FramesShowTheComposite) {
    Reset(Way::BGPicTransition);
    keepFrames_ = true;
    ASSERT_EQ(RunNumbers("DisplayTransitionFX", {2, 115, 100}), 0);
    keepFrames_ = false;
    ASSERT_EQ(snapshots_.size(), 3u);
    for (const Picture& frame : snapshots_) EXPECT_EQ(frame, Picture(size_t(kW) * kH, kNew));
}

// In a layer the prepared picture holds until a layer under it moves, and
// stays off after that.
TEST_F(PreparedCrossFade, ALayerMovingBelowEndsItForGood) {
    Reset(Way::ShowLayer);
    MakeBrush(1, 30, 20, kPicture);
    ASSERT_EQ(RunNumbers("DisplayBrush", {9, 10, 10}), 0);
    ASSERT_EQ(RunNumbers("DisplayBrush", {1, 12, 12}), 0);
    GetLayerByIndex(display_->bgpic, 2)->hidden = 1;
    VmPushNumber(L_, 2);
    VmPushNewTable(L_);
    Field("type", 115);
    Field("speed", 20);
    Field("async", 1);
    ASSERT_EQ(TransitionWorld::Run("ShowLayerFX", 2, 1), 0);
    void* handle = VmToUserdata(L_, -1);
    VmSetTop(L_, 0);
    ASSERT_NE(handle, nullptr);
    auto* s = static_cast<qbEffectState*>(static_cast<qbAsyncDraw*>(handle)->userdata);
    const auto prepared = [s] { return EffectPriv<qbCrossFadeData>(s)->prepared; };
    EXPECT_EQ(prepared(), 1);
    ASSERT_EQ(StepAsync(handle), 0);
    EXPECT_EQ(prepared(), 1);
    qbLayerState* below = GetLayerByIndex(display_->bgpic, 1)->shownstate;
    below->shownx += 3;
    ASSERT_EQ(StepAsync(handle), 0);
    EXPECT_EQ(prepared(), 0);
    below->shownx -= 3;
    ASSERT_EQ(StepAsync(handle), 0);
    EXPECT_EQ(prepared(), 0);
    while (StepAsync(handle) == 0) {
    }
}

}  // namespace
