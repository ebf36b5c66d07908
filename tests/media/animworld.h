// A world for anims on display 1 of the in-memory backend: the anim, BGPic
// and draw libraries open, frames built in memory or written as IFF ANIM
// files, PlayAnim and AsyncDrawFrame, and a frame-pacing clock the tests
// move.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "animbuilder.h"
#include "core/errors.h"
#include "display/refresh.h"
#include "draw/draw.h"
#include "draw/asyncdraw.h"
#include "imaging/imagefixtures.h"
#include "media/animlib.h"
#include "media/anims.h"
#include "objects/bgpiclib.h"
#include "objects/show_fixture.h"

using animbuilder::AnimFile;
using animbuilder::DeltaOptions;
using animbuilder::Layout;
using animbuilder::Picture;

inline constexpr uint32_t kBackground = 0x000000;
inline constexpr int32_t kDefaultSpeed = -4, kFastSpeed = -2;

class AnimWorld : public ShowWorld {
protected:
    void SetUp() override {
        ShowWorld::SetUp();
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitAnimLibrary(L_), 0);
        VmSetTop(L_, 0);
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitBGPicLibrary(L_), 0);
        VmSetTop(L_, 0);
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitDrawLibrary(L_), 0);
        VmSetTop(L_, 0);
        SetFramePacingClock([this] { return clock_; },
                            [this](int64_t ms) {
                                sleeps_.push_back(ms);
                                clock_ += ms * 1000;
                            });
    }
    void TearDown() override {
        FreeAllAsyncDraws(L_);
        SetFramePacingClock(nullptr, nullptr);
        FreeAllAnims(L_);
        ShowWorld::TearDown();
    }

    // Frames w x h of one colour each; holed frames have their left column
    // masked out.
    static void MakeAnim(int32_t id, int32_t w, int32_t h, const std::vector<uint32_t>& colours, bool holed = false) {
        qbAnimContents c;
        c.width = w;
        c.height = h;
        c.frameCount = static_cast<int32_t>(colours.size());
        for (uint32_t colour : colours) {
            qbAnimFrame f;
            f.bitmap.reset(AllocBitmap(w, h, 0, nullptr));
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x) WriteBitmapPixel(f.bitmap.get(), x, y, colour + x, false);
            if (holed) {
                f.mask.reset(AllocMask(nullptr, w, h, false, nullptr, 0));
                FillMaskRect(f.mask.get(), 0, 0, w, h, kMaskVisible);
                FillMaskRect(f.mask.get(), 0, 0, 1, h, kMaskInvisible);
            }
            c.frames.push_back(std::move(f));
            c.delays.push_back(kDelayFromFile);
        }
        qbAnim* made = nullptr;
        ASSERT_EQ(AllocAnimRecord(NewObjectID{id, 0}, &c, &made), 0);
    }
    static qbAnim* Anim(int32_t id) {
        qbAnim* a = nullptr;
        FindAnim(nullptr, ObjectID{id, nullptr}, &a, 0);
        return a;
    }
    static int CountAnims() {
        int n = 0;
        for (qbAnim* a = FirstAnim(); a; a = static_cast<qbAnim*>(a->next)) ++n;
        return n;
    }
    // A file of count frames 16 x 2; frame f's row 0 pixel x has palette
    // colour (x + f) % 3; each delta waits delayJiffies.
    std::string WriteAnim(const char* name, int count, uint32_t delayJiffies = 1) {
        Layout l;
        l.width = 16;
        l.height = 2;
        l.planes = 2;
        l.palette = {0x000000, 0x112233, 0x445566, 0x778899};
        l.keyDelay = delayJiffies;
        auto frame = [](int f) {
            Picture p(32, 0);
            for (int x = 0; x < 16; ++x) p[static_cast<size_t>(x)] = static_cast<uint8_t>((x + f) % 3);
            return p;
        };
        AnimFile anim(l, frame(0));
        DeltaOptions o;
        o.delay = delayJiffies;
        for (int f = 1; f < count; ++f) anim.AddDelta(frame(f), o);
        const std::string path = dir_.File(name);
        imagefixtures::WriteBytes(path, anim.Build());
        return path;
    }
    // PlayAnim(id, x, y, {speed, times, async}); the async id in *async.
    int Play(int32_t id, int32_t x, int32_t y, int32_t speed, int32_t times, bool async = false,
             ObjectID* asyncId = nullptr) {
        VmSetTop(L_, 0);
        for (double a : {double(id), double(x), double(y)}) VmPushNumber(L_, a);
        VmPushNewTable(L_);
        SetTableFieldInt(L_, "speed", speed);
        SetTableFieldInt(L_, "times", times);
        SetTableFieldInt(L_, "async", async ? 1 : 0);
        const int err = Run("PlayAnim", 4, async ? 1 : 0);
        if (!err && async && asyncId) *asyncId = ObjectID{0, VmToUserdata(L_, -1)};
        VmSetTop(L_, 0);
        return err;
    }
    int Step(ObjectID id) {
        VmSetTop(L_, 0);
        VmPushLightUserdata(L_, id.handle);
        const int err = Run("AsyncDrawFrame", 1, 1);
        VmSetTop(L_, 0);
        return err;
    }

    int64_t clock_ = 1000000;
    std::vector<int64_t> sleeps_;
    imagefixtures::ScratchDir dir_;
};
