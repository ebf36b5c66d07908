// Display 1 (100 x 80) with the brush, layers, bgpic and transitionfx
// libraries, frames unpaced, the effects' random numbers seeded, and every
// frame of a synchronous effect watched: its count, the state's frame
// count, and (on request) the window after it.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "core/errcodes.h"
#include "core/settings.h"
#include "display/bgpics.h"
#include "display/refresh.h"
#include "objects/bgpiclib.h"
#include "objects/show_fixture.h"
#include "transitions/effectdriver.h"
#include "transitions/effectrandom.h"
#include "transitions/effectscreen.h"
#include "transitions/transitionlib.h"

class TransitionWorld : public ShowWorld {
protected:
    static constexpr int32_t kW = 100, kH = 80;

    void SetUp() override {
        ShowWorld::SetUp();
        SetRuntimeTag(kTagQuiet, 1);
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitBGPicLibrary(L_), 0);
        VmSetTop(L_, 0);
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitTransitionFXLibrary(L_), 0);
        VmSetTop(L_, 0);
        SeedEffectRandom(1234);
        SetFramePacingClock([this] { return clock_; }, [this](int64_t ms) { clock_ += ms * 1000; });
        SetEffectFrameObserver(&Observe, this);
    }
    void TearDown() override {
        SetEffectFrameObserver(nullptr, nullptr);
        SetFramePacingClock(nullptr, nullptr);
        FailEffectAllocation(0);
        ShowWorld::TearDown();
    }

    using Picture = std::vector<uint32_t>;
    Picture Snapshot() {
        const null_backend::Surface* s = null_backend::GetSurface(display_);
        Picture p(static_cast<size_t>(kW) * kH);
        for (int32_t y = 0; y < kH; ++y)
            for (int32_t x = 0; x < kW; ++x) p[static_cast<size_t>(y) * kW + x] = s->At(x, y) & 0xFFFFFFu;
        return p;
    }

    // Shows a colour BGPic (made as number id) on display 1.
    void ShowColourBGPic(int32_t id, uint32_t colour) {
        ASSERT_EQ(RunNumbers("CreateBGPic", {double(id), kW, kH, double(colour)}), 0);
        ASSERT_EQ(RunNumbers("DisplayBGPic", {double(id)}), 0);
    }
    void EnableLayers() { ASSERT_EQ(Run("EnableLayers", 0), 0); }

    static void Observe(const qbEffectState& s, int done, void* data) {
        auto* self = static_cast<TransitionWorld*>(data);
        if (done < 0) {
            if (self->keepFrames_) self->afterInit_ = self->Snapshot();
            return;
        }
        ++self->frames_;
        self->frameCount_ = s.frameCount;
        self->step_ = s.speed;
        self->done_ = done;
        if (self->onFrame_) self->onFrame_(s);
        if (self->keepFrames_) self->snapshots_.push_back(self->Snapshot());
    }

    int64_t clock_ = 1'000'000;
    int32_t frames_ = 0, frameCount_ = 0, step_ = 0, done_ = 0;
    bool keepFrames_ = false;
    std::vector<Picture> snapshots_;
    Picture afterInit_;
    std::function<void(const qbEffectState&)> onFrame_;
};
