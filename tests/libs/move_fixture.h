// A world for moves on display 1 (100 x 80, two colours): the moveobject
// library open, every frame's position and frame index recorded as the
// step reports them, and the stepped form through AsyncDrawFrame.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string_view>
#include <utility>
#include <vector>

#include "core/errcodes.h"
#include "display/eventlib.h"
#include "display/refresh.h"
#include "draw/asyncdraw.h"
#include "draw/movement.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "libs/moveobjectlib.h"
#include "objects/selection.h"
#include "objects/sprite_fixture.h"
#include "platform/null/null_backend.h"
#include "platform/platform.h"

using Path = std::vector<std::pair<int32_t, int32_t>>;

class MoveWorld : public SpriteWorld {
protected:
    void SetUp() override {
        SpriteWorld::SetUp();
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitMoveObjectLibrary(L_), 0);
        VmSetTop(L_, 0);
        SetFramePacingClock([this] { return clock_; }, [this](int64_t ms) { clock_ += ms * 1000; });
        SetMoveStepObserver(
            [](const qbMove& m, void* data) {
                auto* self = static_cast<MoveWorld*>(data);
                self->path_.emplace_back(m.x, m.y);
                self->frames_.push_back(m.frame);
                if (self->onStep_) self->onStep_(m);
            },
            this);
    }
    void TearDown() override {
        FreeAllAsyncDraws(L_);
        SetMoveStepObserver(nullptr, nullptr);
        SetFramePacingClock(nullptr, nullptr);
        SpriteWorld::TearDown();
    }

    int Move(const char* command, std::initializer_list<double> args) {
        path_.clear();
        frames_.clear();
        return RunNumbers(command, args);
    }
    // The command with an option table {speed, fx, async = 1}; the id of
    // the async-draw object in *id.
    int MoveAsync(const char* command, std::initializer_list<double> args, double speed, int32_t fx, ObjectID* id) {
        path_.clear();
        for (double a : args) VmPushNumber(L_, a);
        VmPushNewTable(L_);
        SetTableFieldFloat(L_, "speed", speed);
        Field("fx", fx);
        Field("async", 1);
        const int err = Run(command, static_cast<int>(args.size()) + 1, 1);
        if (!err) *id = GetObjectIDArg(L_, -1);
        VmSetTop(L_, 0);
        return err;
    }
    // AsyncDrawFrame(id): its result, or -error.
    int Frame(ObjectID id) {
        PushObjectID(L_, id);
        const int err = Run("AsyncDrawFrame", 1, 1);
        const int done = err ? -err : static_cast<int>(VmToNumber(L_, -1));
        VmSetTop(L_, 0);
        return done;
    }
    qbBrush* Brush(int32_t id) {
        qbBrush* b = nullptr;
        return GetBrushRecord(L_, ObjectID{id, nullptr}, &b, 0) == 0 ? b : nullptr;
    }
    // A move of object 1 from (0, 0) to (distance, 0) with the effect fx,
    // synchronous or stepped: its frames, and whether it arrived. A hang
    // is cut past kHangFrames: a quit ends the synchronous move, the
    // stepped one is stepped no more.
    static constexpr size_t kHangFrames = 5000;
    std::pair<size_t, bool> Travel(const char* command, double speed, double distance, int32_t fx, bool async) {
        const bool animspeed = std::string_view(command) == "MoveAnim" || std::string_view(command) == "MoveSprite";
        if (async) {
            ObjectID id;
            if (MoveAsync(command, {1, 0, 0, distance, 0}, speed, fx, &id) != 0) return {0, false};
            int done = 0;
            while (done == 0 && path_.size() <= kHangFrames) done = Frame(id);
            if (done != 1) CancelAsync(id);
        } else {
            SetQuitShortcut(nullptr, kQuitShortcutEscape, 1);
            onStep_ = [this](const qbMove&) {
                if (path_.size() == kHangFrames + 1)
                    null_backend::ScriptEvent({display_, kEventKey, 1, 0, null_backend::kKeyEscape});
            };
            const int err = animspeed ? Move(command, {1, 0, 0, distance, 0, speed, -1, double(fx)})
                                      : Move(command, {1, 0, 0, distance, 0, speed, double(fx)});
            onStep_ = nullptr;
            SetQuitShortcut(nullptr, kQuitShortcutEscape, 0);
            SetEventQuitRequested(false);
            if (err) return {0, false};
        }
        const bool arrived = !path_.empty() && path_.back() == std::make_pair(static_cast<int32_t>(distance), 0);
        return {path_.size(), arrived};
    }
    void CancelAsync(ObjectID id) {
        PushObjectID(L_, id);
        Run("CancelAsyncDraw", 1);
        VmSetTop(L_, 0);
    }
    // SMOOTHOUT's cases (speed, distance) and their frames' bound: 10^4
    // over 5 x 10^4 walked its last stretch a pixel a frame for 85 s, 3e8
    // over 1.6e9 needed 2.5e8 frames; inf takes the largest step.
    static constexpr std::pair<double, double> kSmoothOutCases[] = {{1e4, 5e4}, {3e8, 1.6e9}, {HUGE_VAL, 1.6e9}};
    static size_t SmoothOutBound(double speed, double distance) {
        return static_cast<size_t>(std::ceil(distance / std::min(speed, double{INT32_MAX}))) + 30;
    }
    void ExpectSmoothOutBounded(const char* command) {
        for (bool async : {false, true})
            for (auto [speed, distance] : kSmoothOutCases) {
                SCOPED_TRACE(testing::Message() << command << " speed " << speed << " async " << async);
                const auto [frames, arrived] = Travel(command, speed, distance, kMoveSmoothOut, async);
                EXPECT_TRUE(arrived);
                EXPECT_LE(frames, SmoothOutBound(speed, distance));
            }
    }
    // The x values where the path turns back, and its last point.
    static std::vector<int32_t> TurningPoints(const Path& p) {
        std::vector<int32_t> turns;
        for (size_t i = 1; i + 1 < p.size(); ++i) {
            const int64_t a = p[i].first - p[i - 1].first, b = p[i + 1].first - p[i].first;
            if ((a > 0 && b < 0) || (a < 0 && b > 0)) turns.push_back(p[i].first);
        }
        return turns;
    }

    int64_t clock_ = 0;
    Path path_;
    std::vector<int32_t> frames_;
    std::function<void(const qbMove&)> onStep_;
};
