// A world for moves on display 1 (100 x 80, two colours): the moveobject
// library open, every frame's position and frame index recorded as the
// step reports them, and the stepped form through AsyncDrawFrame.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
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
    int MoveAsync(const char* command, std::initializer_list<double> args, int32_t speed, int32_t fx, ObjectID* id) {
        path_.clear();
        for (double a : args) VmPushNumber(L_, a);
        VmPushNewTable(L_);
        Field("speed", speed);
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
