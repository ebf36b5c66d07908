// Loading, copying, scaling and changing anims with each of their
// allocations failing in turn: the command reports the failure, no anim is
// linked (or the anim stays as it was) and nothing leaks (the sanitizer
// build checks that).
#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

#include "core/objectlist.h"
#include "core/errcodes.h"
#include "core/memory.h"
#include "display/display.h"
#include "imaging/codechooks.h"
#include "imaging/imagefixtures.h"
#include "media/animbuilder.h"
#include "media/animlib.h"
#include "media/anims.h"
#include "media/animtest.h"
#include "objects/brush_fixture.h"

namespace {

int CountAnims() {
    int n = 0;
    for (const qbAnim* a = FirstAnim(); a; a = static_cast<const qbAnim*>(a->next)) ++n;
    return n;
}

class AnimsFailAllocTest : public BrushWorld {
protected:
    void SetUp() override {
        BrushWorld::SetUp();
        SetPicturesPending(false);
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitAnimLibrary(L_), 0);
        VmSetTop(L_, 0);
        animbuilder::Layout l;
        l.width = 16;
        l.height = 2;
        l.planes = 2;
        l.masking = 2;
        l.transparent = 3;
        l.palette = {0x000000, 0x112233, 0x445566, 0x778899};
        animbuilder::Picture p(32, 1);
        animbuilder::AnimFile anim(l, p);
        for (int f = 1; f < 4; ++f) {
            p[static_cast<size_t>(f)] = 2;
            anim.AddDelta(p, animbuilder::DeltaOptions{});
        }
        file_ = dir_.File("walk.anim");
        imagefixtures::WriteBytes(file_, anim.Build());
    }
    void TearDown() override {
        SetAllocationFailCountdown(-1);
        FreeAllAnims(L_);
        SetPicturesPending(true);
        BrushWorld::TearDown();
    }

    // Runs the call with the n-th allocation failing, n = 0, 1, ... until
    // it succeeds; check(err) is asked after each failure.
    template <class Call, class Check>
    void FailEachStep(Call call, Check check) {
        for (long n = 0; n < 5000; ++n) {
            VmSetTop(L_, 0);
            step_ = n;
            int err = 0;
            try {
                err = call();
            } catch (const std::bad_alloc&) {
                SetAllocationFailCountdown(-1);
                FAIL() << "an allocation failure escaped at step " << n;
            }
            SetAllocationFailCountdown(-1);
            VmSetTop(L_, 0);
            step_ = -1;
            if (err == 0) {
                // The records, the frames and their bitmaps at least.
                EXPECT_GE(n, 3) << "too few allocations failed";
                return;
            }
            check(err);
        }
        ADD_FAILURE() << "never succeeded";
    }
    // The command (its name in lower case) on the pushed arguments, with
    // the count-down armed only around the call itself.
    int CallArmed(const char* name, int nargs) {
        VmPushString(L_, name);
        VmGetTableAt(L_, kGlobalsIndex);
        VmInsert(L_, -(nargs + 1));
        SetAllocationFailCountdown(step_);
        const int err = VmPCall(L_, nargs, 0, 0);
        SetAllocationFailCountdown(-1);
        VmSetEndFlag(L_, 0);
        return err;
    }
    int RunNumbers(std::initializer_list<double> args, const char* command) {
        for (double a : args) VmPushNumber(L_, a);
        return CallArmed(command, static_cast<int>(args.size()));
    }
    int Load(int32_t id, const char* key = nullptr) {
        VmPushNumber(L_, id);
        VmPushString(L_, file_.c_str());
        VmPushNewTable(L_);
        if (key) SetTableFieldInt(L_, key, 1);
        return CallArmed("loadanim", 3);
    }

    long step_ = -1;
    imagefixtures::ScratchDir dir_;
    std::string file_;
};

}  // namespace

TEST_F(AnimsFailAllocTest, LoadAndCopyLinkNothingUntilTheyComplete) {
    for (const char* key : {static_cast<const char*>(nullptr), "fromdisk"}) {
        FailEachStep([&] { return Load(1, key); }, [](int) { EXPECT_EQ(CountAnims(), 0); });
        ASSERT_EQ(CountAnims(), 1);
        FailEachStep([&] { return RunNumbers({1.0, 2.0}, "copyanim"); }, [](int) { EXPECT_EQ(CountAnims(), 1); });
        ASSERT_EQ(CountAnims(), 2);
        FreeAllAnims(L_);
    }
}

TEST_F(AnimsFailAllocTest, FailedChangesLeaveTheAnimAsItWas) {
    ASSERT_EQ(Load(1), 0);
    qbAnim* a = nullptr;
    ASSERT_EQ(FindAnim(L_, ObjectID{1, nullptr}, &a, 0), 0);
    std::vector<qbBitmap*> before;
    for (const qbAnimFrame& f : a->frames) before.push_back(f.bitmap.get());
    const auto unchanged = [&](int) {
        ASSERT_EQ(a->frameCount, 4);
        ASSERT_EQ(a->frames.size(), 4u);
        ASSERT_EQ(a->width, 16);
        for (size_t i = 0; i < before.size(); ++i) EXPECT_EQ(a->frames[i].bitmap.get(), before[i]);
    };
    FailEachStep([&] { return RunNumbers({1.0, 2.0, 2.0}, "modifyanimframes"); }, unchanged);
    EXPECT_EQ(a->frameCount, 6);
    ASSERT_EQ(RunNumbers({1.0, -2.0, 2.0}, "modifyanimframes"), 0);
    FailEachStep([&] { return RunNumbers({1.0, 32.0, 4.0}, "scaleanim"); }, unchanged);
    EXPECT_EQ(a->width, 32);
    FailEachStep([&] { return RunNumbers({5.0, 2.0, 1.0}, "getanimframe"); },
                 [&](int) { EXPECT_EQ(Find(5), nullptr); });
    EXPECT_NE(Find(5), nullptr);
}

TEST_F(AnimsFailAllocTest, AnimStreamsReportAFullHeapAndStayUsable) {
    ASSERT_EQ(Load(1), 0);
    ASSERT_EQ(RunNumbers({1.0, 2.0, 1.0}, "getanimframe"), 0);
    const auto begin = [&](const std::string& path, double format) {
        VmPushNumber(L_, 1);
        VmPushString(L_, path.c_str());
        VmPushNumber(L_, 16);
        VmPushNumber(L_, 2);
        VmPushNumber(L_, format);
        return CallArmed("beginanimstream", 5);
    };
    const auto streams = [] {
        int n = 0;
        for (const qbObject* s = AnimStreamListHead()->head; s; s = s->next) ++n;
        return n;
    };
    for (double format : {0.0, 1.0}) {
        const std::string path = dir_.File(format ? "out.avi" : "out.gif");
        FailEachStep([&] { return begin(path, format); }, [&](int err) {
            EXPECT_EQ(err, ERR_MEM);
            EXPECT_EQ(streams(), 0);
        });
        FailEachStep([&] { return RunNumbers({1.0, 1.0}, "writeanimframe"); },
                     [](int err) { EXPECT_EQ(err, ERR_MEM); });
        // Finishing frees the stream whatever happens; the file is complete
        // once a finish gets through.
        for (long n = 0;; ++n) {
            step_ = n;
            const int err = RunNumbers({1.0}, "finishanimstream");
            step_ = -1;
            EXPECT_EQ(streams(), 0);
            if (!err) break;
            // The file layer answers a read-ahead buffer it cannot get with
            // a short read: the collected index then fails to copy.
            EXPECT_TRUE(err == ERR_MEM || err == ERR_WRITE) << err;
            ASSERT_LT(n, 1000);
            ASSERT_EQ(begin(path, format), 0);
            ASSERT_EQ(RunNumbers({1.0, 1.0}, "writeanimframe"), 0);
        }
        // Failed frames left nothing behind.
        InstallImageCodecHooks();
        animtest::Opened opened = animtest::Open(path);
        ASSERT_EQ(opened.err, 0) << path;
        EXPECT_EQ(opened.frames, 1) << path;
        EXPECT_EQ(animtest::Frame(opened, 0).size(), 32u);
    }
}
