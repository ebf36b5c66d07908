// The all-effects harness: every effect type runs in every way a script
// can show or hide something with it, and each run is checked frame by
// frame against the pictures before and after. Each renderer family joins
// the table below; a family whose last frame comes by another end test
// than its frame count says so.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "objects/brushes.h"
#include "objects/dirtyrects.h"
#include "objects/layers.h"
#include "transition_fixture.h"

struct EffectFamily {
    const char* name;
    int32_t first, last;
    bool ownEndTest;  // done is not at frameCount (never past 2 frameCount + 2)
    // What a frame between the ends may show: each pixel old or new
    // (kOldOrNew); colours of the two pictures anywhere (kPalette, for
    // effects that move pixels); channels inside the range of those
    // colours (kBetween, for blends); a pass through a colour checks only
    // the ends (kEndsOnly).
    int frameCheck = 0;
    // How far a frame drawn on plain bitmaps may lie from the same frame
    // drawn in a real-time layer, per channel (blends round differently
    // there); -1: only the last frames agree (the plain kernels move the
    // old picture with the new one, a layer moves only its own picture).
    int modeTolerance = 0;
};
enum : int { kOldOrNew = 0, kBetween = 1, kEndsOnly = 2, kPalette = 3 };

inline const std::vector<EffectFamily>& EffectFamilies() {
    static const std::vector<EffectFamily> families = {
        {"stripes and blinds", 0, 23, false},
        {"curtains, bars, quarters, reveals and lines", 24, 37, false},
        {"rectangles", 38, 46, false},
        {"puzzle and diagonal", 82, 83, false},
        {"rectangles back", 88, 96, false},
        {"scroll", 47, 54, false, kPalette},
        {"flow", 70, 73, false, kPalette},
        {"gates and push", 74, 81, false, kPalette},
        {"zoom", 118, 119, false, kPalette},
        {"turn down", 128, 131, false, kPalette},
        {"stretch and zoom", 55, 69, false, kPalette},
        {"strange push", 99, 100, false, kPalette},
        {"slide", 101, 104, false, kPalette},
        {"strip walks", 105, 110, false},
        {"card", 111, 112, false, kPalette},
        {"crush and flip coin", 120, 127, false, kPalette},
        {"roll and wallpaper", 84, 87, false, kPalette},
        {"clock wipe and star", 97, 98, false},
        {"sun", 114, 114, false},
        {"cross-fade", 115, 115, false, kBetween, 2},
        {"fade and blend", 116, 117, false, kEndsOnly, 2},
        {"pixel zoom", 132, 133, false, kPalette},
        {"water and strudel", 134, 138, false, kBetween, -1},
        {"dissolve", 139, 139, false},
    };
    return families;
}

enum class Way {
    BGPicTransition,
    BrushOpaque,
    BrushMasked,
    BrushAlpha,
    BrushLayer,
    BrushLayerRealtime,
    ShowLayer,
    ShowLayerCovered,
    HideLayer,
    HideLayerCovered,
    RemoveLayer,
    RemoveLayerCovered,
    BGPicPart,
    UndoLayer,       // UndoFX of the brush layer
    BGPicPartLayer,  // DisplayBGPicPartFX with layers on: a new layer
};

// Frame lists alike within tolerance per channel (-1: their counts and
// last frames equal).
inline ::testing::AssertionResult FramesAlike(const std::vector<std::vector<uint32_t>>& a,
                                              const std::vector<std::vector<uint32_t>>& b, int tolerance) {
    if (a.size() != b.size()) return ::testing::AssertionFailure() << a.size() << " frames against " << b.size();
    for (size_t f = 0; f < a.size(); ++f) {
        if (tolerance < 0 && f + 1 < a.size()) continue;
        for (size_t i = 0; i < a[f].size() && i < b[f].size(); ++i)
            for (int k = 0; k < 24; k += 8) {
                const int d = int(a[f][i] >> k & 255) - int(b[f][i] >> k & 255);
                if (d > std::max(tolerance, 0) || -d > std::max(tolerance, 0))
                    return ::testing::AssertionFailure() << "frame " << f + 1 << " pixel " << i;
            }
    }
    return ::testing::AssertionSuccess();
}

inline const char* WayName(Way w) {
    static const char* const names[] = {"BGPic transition", "brush", "masked brush", "alpha brush", "brush layer",
                                        "real-time brush layer", "show layer", "show covered layer", "hide layer",
                                        "hide covered layer", "remove layer", "remove covered layer", "BGPic part",
                                        "undo", "BGPic part layer"};
    return names[static_cast<int>(w)];
}

struct EffectCase {
    Way way;
    int32_t type;
    int32_t speed;
    int32_t x, y, w, h;
    std::string Name() const {
        return std::string(WayName(way)) + " type " + std::to_string(type) + " speed " + std::to_string(speed) +
               " at " + std::to_string(x) + "," + std::to_string(y) + " size " + std::to_string(w) + "x" +
               std::to_string(h);
    }
};

class EffectHarness : public TransitionWorld {
protected:
    using TransitionWorld::Run;
    static constexpr uint32_t kOld = 0x0000FF, kOldTwin = 0x0000FF, kNew = 0xFF0000, kPicture = 0x00FF00,
                              kCover = 0xFFFF00;

    // Patterned pictures: every pixel names its picture (red) and its place
    // (green x, blue y), so that a piece copied from the wrong place or the
    // wrong picture shows in a frame.
    static uint32_t Coded(uint32_t tag, int32_t x, int32_t y) {
        return tag << 16 | uint32_t(x & 255) << 8 | uint32_t(y & 255);
    }
    static uint32_t OldAt(int32_t x, int32_t y) { return Coded(0x40, x, y); }
    static uint32_t NewAt(int32_t x, int32_t y) { return Coded(0x80, x, y); }
    static uint32_t PictureAt(int32_t x, int32_t y) { return Coded(0x20, x, y); }
    static uint32_t CoverAt(int32_t x, int32_t y) { return Coded(0xC0, x, y); }

    void PaintBrush(int32_t id, uint32_t (*paint)(int32_t, int32_t)) {
        qbBrush* b = nullptr;
        ASSERT_EQ(GetBrushRecord(L_, ObjectID{id, nullptr}, &b, 0), 0);
        for (int32_t y = 0; y < b->height; ++y)
            for (int32_t x = 0; x < b->width; ++x) WriteBitmapPixel(b->bitmap, x, y, paint(x, y), false);
    }
    void PatternedBGPic(int32_t id, uint32_t (*paint)(int32_t, int32_t)) {
        MakeBrush(20, kW, kH, 0);
        PaintBrush(20, paint);
        ASSERT_EQ(RunNumbers("BrushToBGPic", {20, double(id)}), 0);
    }

    void SetUp() override {
        TransitionWorld::SetUp();
        if (patterned_) {
            PatternedBGPic(2, NewAt);
            PatternedBGPic(3, OldAt);
            PatternedBGPic(4, OldAt);
            ASSERT_EQ(RunNumbers("DisplayBGPic", {3}), 0);
            MakeBrush(9, 12, 12, 0);
            PaintBrush(9, CoverAt);
            return;
        }
        ASSERT_EQ(RunNumbers("CreateBGPic", {2, kW, kH, double(kNew)}), 0);
        ASSERT_EQ(RunNumbers("CreateBGPic", {4, kW, kH, double(kOldTwin)}), 0);
        ShowColourBGPic(3, kOld);
        MakeBrush(9, 12, 12, kCover);
    }

    bool IsLayerWay(Way w) const {
        return (w >= Way::BrushLayer && w <= Way::RemoveLayerCovered) || w == Way::UndoLayer || w == Way::BGPicPartLayer;
    }
    bool Covered(Way w) const {
        return w == Way::ShowLayerCovered || w == Way::HideLayerCovered || w == Way::RemoveLayerCovered;
    }

    // A fresh old picture: the other of two identical BGPics, layers as the
    // way needs them.
    void Reset(Way way) {
        FreeBGPicLayers(L_, display_->bgpic, true);
        if (display_->layersEnabled) {
            ASSERT_EQ(Run("DisableLayers", 0), 0);
        }
        showing_ = showing_ == 3 ? 4 : 3;
        ASSERT_EQ(RunNumbers("DisplayBGPic", {double(showing_)}), 0);
        if (IsLayerWay(way)) EnableLayers();
    }

    void MakePicture(const EffectCase& c) {
        MakeBrush(1, c.w, c.h, kPicture);
        if (patterned_) PaintBrush(1, PictureAt);
        qbBrush* b = nullptr;
        ASSERT_EQ(GetBrushRecord(L_, ObjectID{1, nullptr}, &b, 0), 0);
        if (c.way == Way::BrushMasked) {
            b->mask = AllocMask(nullptr, c.w, c.h, true, nullptr, 0);
            for (int32_t y = 0; y < c.h; ++y)
                for (int32_t x = 0; x < c.w; ++x)
                    if ((x + y) % 3) WriteBitmapPixel(b->mask, x, y, kMaskVisible, true);
        } else if (c.way == Way::BrushAlpha) {
            b->alpha = AllocAlphaChannel(c.w, c.h, true, nullptr, 0);
            FillAlphaRect(b->alpha, 0, 0, c.w, c.h, 128);
        }
    }

    // The layers the layer ways start from; the effect's layer is 1.
    void LayersBefore(const EffectCase& c, bool effectLayerShown) {
        if (c.way == Way::BrushLayer || c.way == Way::BrushLayerRealtime) return;
        ASSERT_EQ(RunNumbers("DisplayBrush", {1, double(c.x), double(c.y)}), 0);
        if (Covered(c.way)) {
            ASSERT_EQ(RunNumbers("DisplayBrush", {9, double(c.x), double(c.y)}), 0);
        }
        qbLayer* layer = GetLayerByIndex(display_->bgpic, 1);
        layer->hidden = effectLayerShown ? 0 : 1;
        RefreshLayerRect(L_, 0, 0, kW, kH, 0);
    }

    // The picture the effect must end on, drawn without effects.
    Picture Target(const EffectCase& c) {
        Reset(c.way);
        switch (c.way) {
            case Way::BGPicTransition: EXPECT_EQ(RunNumbers("DisplayBGPic", {2}), 0); break;
            case Way::BGPicPart:
            case Way::BGPicPartLayer:
                EXPECT_EQ(RunNumbers("DisplayBGPicPart", {2, 0, 0, double(c.w), double(c.h), double(c.x), double(c.y)}),
                          0);
                break;
            case Way::ShowLayer:
            case Way::ShowLayerCovered: LayersBefore(c, true); break;
            case Way::HideLayer:
            case Way::HideLayerCovered:
            case Way::RemoveLayer:
            case Way::RemoveLayerCovered:
            case Way::UndoLayer: LayersBefore(c, false); break;
            default: EXPECT_EQ(RunNumbers("DisplayBrush", {1, double(c.x), double(c.y)}), 0); break;
        }
        return Snapshot();
    }

    // Sets up the old picture and runs the effect.
    int Run(const EffectCase& c) {
        Reset(c.way);
        switch (c.way) {
            case Way::ShowLayer:
            case Way::ShowLayerCovered:
                LayersBefore(c, false);
                break;
            case Way::HideLayer:
            case Way::HideLayerCovered:
            case Way::RemoveLayer:
            case Way::RemoveLayerCovered:
            case Way::UndoLayer: LayersBefore(c, true); break;
            default: break;
        }
        before_ = Snapshot();
        layersBefore_ = CountLayers(display_->bgpic);
        frames_ = 0;
        snapshots_.clear();
        afterInit_.clear();
        const double t = c.type, sp = c.speed;
        switch (c.way) {
            case Way::BGPicTransition: return RunNumbers("DisplayTransitionFX", {2, t, sp});
            case Way::BGPicPart:
            case Way::BGPicPartLayer:
                return RunNumbers("DisplayBGPicPartFX", {2, 0, 0, double(c.w), double(c.h), t, sp, -1, double(c.x),
                                                         double(c.y)});
            case Way::UndoLayer: return RunNumbers("UndoFX", {double(kObjectTypeBrush), 1, t, sp});
            case Way::BrushLayerRealtime:
                return Show("DisplayBrushFX", {1, double(c.x), double(c.y)}, [&] {
                    Field("type", c.type);
                    Field("speed", c.speed);
                    Field("forcerealtimelayers", 1);
                });
            case Way::ShowLayer:
            case Way::ShowLayerCovered: return RunNumbers("ShowLayerFX", {1, t, sp});
            case Way::HideLayer:
            case Way::HideLayerCovered: return RunNumbers("HideLayerFX", {1, t, sp});
            case Way::RemoveLayer:
            case Way::RemoveLayerCovered: return RunNumbers("RemoveLayerFX", {1, t, sp});
            default: return RunNumbers("DisplayBrushFX", {1, double(c.x), double(c.y), t, sp});
        }
    }

    // One case in full: the frames against the pictures before and after.
    void Check(const EffectCase& c, bool ownEndTest, int frameCheck = kOldOrNew) {
        SCOPED_TRACE(c.Name());
        MakePicture(c);
        const Picture target = Target(c);
        keepFrames_ = true;
        ASSERT_EQ(Run(c), 0);
        keepFrames_ = false;
        ASSERT_FALSE(snapshots_.empty());
        EXPECT_TRUE(afterInit_ == before_) << "the start drew";
        if (ownEndTest) EXPECT_LE(frames_, 2 * frameCount_ + 2);
        else EXPECT_EQ(frames_, frameCount_);
        // The effect's own count can't vouch for its frames: one that claims
        // a single frame jumps from old to new. Counted here instead: a
        // change of a picture of some size, in both directions, passes
        // through pictures that are neither the old one nor the new one (a
        // line of pixels may be done in one step).
        if (c.w >= kFewPixels && c.h >= kFewPixels && ChangedPixels(target) >= kFewPixels * kFewPixels) {
            EXPECT_GE(FramesBetween(target), 1) << "no frame between the old picture and the new one";
        }
        EXPECT_EQ(done_, 1);
        EXPECT_TRUE(Snapshot() == target) << "the end differs from the target";
        EXPECT_TRUE(snapshots_.back() == target) << "the last frame differs from the target";
        // The picture's own colour too: off the screen it has nothing to
        // be composed over, and moved pixels bring it in from there.
        std::vector<uint32_t> palette(before_.begin(), before_.end());
        palette.insert(palette.end(), target.begin(), target.end());
        if (!patterned_) palette.push_back(kPicture);
        // A travelling picture under a layer that covers its place, over a black fill.
        if (frameCheck == kPalette) palette.insert(palette.end(), {0u, kNew});
        if (patterned_) {
            for (int32_t y = 0; y < c.h; ++y)
                for (int32_t x = 0; x < c.w; ++x) palette.push_back(PictureAt(x, y));
            for (int32_t y = 0; y < kH && frameCheck == kPalette; ++y)
                for (int32_t x = 0; x < kW; ++x) palette.push_back(NewAt(x, y));
            // A half-transparent picture on the move lies over other old
            // pixels than at its end: only the channel ranges hold there.
            if (frameCheck == kPalette && c.way == Way::BrushAlpha) frameCheck = kBetween;
        }
        std::sort(palette.begin(), palette.end());
        palette.erase(std::unique(palette.begin(), palette.end()), palette.end());
        uint32_t lo[3] = {255, 255, 255}, hi[3] = {0, 0, 0};
        for (uint32_t c : palette)
            for (int k = 0; k < 3; ++k) {
                lo[k] = std::min(lo[k], c >> (8 * k) & 255);
                hi[k] = std::max(hi[k], c >> (8 * k) & 255);
            }
        auto allowed = [&](uint32_t v, size_t i) {
            if (v == before_[i] || v == target[i]) return true;
            if (frameCheck == kPalette) return std::binary_search(palette.begin(), palette.end(), v);
            return frameCheck == kBetween && Between(v, lo, hi);
        };
        for (size_t f = 0; f < snapshots_.size() && frameCheck != kEndsOnly; ++f) {
            const Picture& frame = snapshots_[f];
            size_t wrong = 0, first = 0;
            for (size_t i = 0; i < frame.size(); ++i)
                if (!allowed(frame[i], i) && !wrong++) first = i;
            if (wrong) {
                ADD_FAILURE() << "frame " << f + 1 << ": " << wrong << " pixels neither old nor new, first at "
                              << first % kW << "," << first / kW << ": " << std::hex << frame[first];
                break;
            }
        }
    }

    static constexpr int32_t kFewPixels = 8;
    int32_t ChangedPixels(const Picture& target) const {
        int32_t n = 0;
        for (size_t i = 0; i < target.size(); ++i) n += before_[i] != target[i];
        return n;
    }
    int32_t FramesBetween(const Picture& target) const {
        return static_cast<int32_t>(std::count_if(snapshots_.begin(), snapshots_.end(), [&](const Picture& p) {
            return !(p == before_) && !(p == target);
        }));
    }

    // Each channel k of v (blue 0, green 1, red 2) inside lo[k] .. hi[k].
    static bool Between(uint32_t v, const uint32_t* lo, const uint32_t* hi) {
        for (int k = 0; k < 3; ++k)
            if ((v >> (8 * k) & 255) < lo[k] || (v >> (8 * k) & 255) > hi[k]) return false;
        return true;
    }

    // Each allocation of the start failing in turn: the error, and the
    // screen and the layer stack as they were.
    void CheckAllocationFailures(const EffectCase& c) {
        SCOPED_TRACE(c.Name());
        MakePicture(c);
        for (int32_t n = 1; n < 20; ++n) {
            FailEffectAllocation(n);
            const int err = Run(c);
            const int32_t made = EffectAllocationCount();
            FailEffectAllocation(0);
            if (made < n) {
                EXPECT_EQ(err, 0);
                break;
            }
            EXPECT_TRUE(err == ERR_BITMAP || err == ERR_ALLOCMASK || err == ERR_ALLOCALPHA || err == ERR_MEM)
                << n << ": " << err;
            EXPECT_TRUE(Snapshot() == before_) << "allocation " << n;
            EXPECT_EQ(CountLayers(display_->bgpic), layersBefore_) << n;
        }
    }

    // Frames of the same effect on a brush layer, plain and in real time.
    std::vector<Picture> Frames(EffectCase c) {
        MakePicture(c);
        SeedEffectRandom(42);
        keepFrames_ = true;
        EXPECT_EQ(Run(c), 0);
        keepFrames_ = false;
        return snapshots_;
    }

    bool patterned_ = false;
    int32_t showing_ = 3;
    Picture before_;
    int32_t layersBefore_ = 0;
};

// The harness on patterned pictures.
class PatternedEffects : public EffectHarness {
protected:
    PatternedEffects() { patterned_ = true; }
};

// The same effects stepped by the script: each frame an AsyncDrawFrame.
class AsyncEffectHarness : public EffectHarness {
protected:
    // Starts the case's effect as an async-draw object; its handle.
    void* StartAsync(const EffectCase& c) {
        Reset(c.way);
        switch (c.way) {
            case Way::ShowLayer: LayersBefore(c, false); break;
            case Way::HideLayer:
            case Way::RemoveLayer:
            case Way::UndoLayer: LayersBefore(c, true); break;
            default: break;
        }
        const char* command = c.way == Way::ShowLayer        ? "ShowLayerFX"
                              : c.way == Way::HideLayer      ? "HideLayerFX"
                              : c.way == Way::RemoveLayer    ? "RemoveLayerFX"
                              : c.way == Way::UndoLayer      ? "UndoFX"
                              : c.way == Way::BGPicPartLayer ? "DisplayBGPicPartFX"
                                                             : "DisplayBrushFX";
        std::vector<double> args = {1};
        if (c.way == Way::BrushLayerRealtime) args = {1, double(c.x), double(c.y)};
        if (c.way == Way::UndoLayer) args = {double(kObjectTypeBrush), 1};
        if (c.way == Way::BGPicPartLayer) args = {2, 0, 0, double(c.w), double(c.h)};
        for (double a : args) VmPushNumber(L_, a);
        VmPushNewTable(L_);
        Field("type", c.type);
        Field("speed", c.speed);
        Field("async", 1);
        if (c.way == Way::BGPicPartLayer) {
            Field("dx", c.x);
            Field("dy", c.y);
        }
        const int err = TransitionWorld::Run(command, static_cast<int>(args.size()) + 1, 1);
        EXPECT_EQ(err, 0) << command;
        void* handle = err ? nullptr : VmToUserdata(L_, -1);
        VmSetTop(L_, 0);
        return handle;
    }
    double StepAsync(void* handle, int32_t n = 0) {
        VmPushLightUserdata(L_, handle);
        if (n) VmPushNumber(L_, n);
        const int err = TransitionWorld::Run("AsyncDrawFrame", n ? 2 : 1, 1);
        const double v = err ? -err : VmToNumber(L_, -1);
        VmSetTop(L_, 0);
        return v;
    }
    // Every frame of an async run, stepped to the end.
    std::vector<Picture> AsyncFrames(const EffectCase& c) {
        MakePicture(c);
        SeedEffectRandom(42);
        std::vector<Picture> frames;
        void* id = StartAsync(c);
        if (!id) return frames;
        for (int i = 0; i < 10000 && StepAsync(id) == 0; ++i) frames.push_back(Snapshot());
        return frames;
    }
};

class PatternedAsyncEffects : public AsyncEffectHarness {
protected:
    PatternedAsyncEffects() { patterned_ = true; }
};
