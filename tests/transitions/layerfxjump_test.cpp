// A stepped layer effect jumped back to an earlier frame shows that frame
// as it was first drawn: the layer's effect images start over across the
// whole picture. Shown and hidden, with and without an alpha channel, on
// pictures wider than tall and taller than wide.
#include <gtest/gtest.h>

#include <initializer_list>
#include <utility>
#include <vector>

#include "draw/asyncdraw.h"
#include "imaging/bitmap.h"
#include "objects/brushes.h"
#include "transition_fixture.h"

namespace {

constexpr uint32_t kBlue = 0x0000FF, kGreen = 0x00FF00;

class LayerEffectJumps : public TransitionWorld {
protected:
    void SetUp() override {
        TransitionWorld::SetUp();
        ShowColourBGPic(3, kBlue);
        EnableLayers();
    }
    void* Start(const char* command, std::initializer_list<double> args, int32_t type) {
        for (double a : args) VmPushNumber(L_, a);
        VmPushNewTable(L_);
        Field("type", type);
        Field("speed", 2);
        Field("async", 1);
        const int err = Run(command, static_cast<int>(args.size()) + 1, 1);
        EXPECT_EQ(err, 0) << command;
        void* handle = err ? nullptr : VmToUserdata(L_, -1);
        VmSetTop(L_, 0);
        return handle;
    }
    // AsyncDrawFrame(handle [, n]): its result, or -error.
    double Step(void* handle, int32_t n = 0) {
        VmPushLightUserdata(L_, handle);
        if (n) VmPushNumber(L_, n);
        const int err = Run("AsyncDrawFrame", n ? 2 : 1, 1);
        const double v = err ? -err : VmToNumber(L_, -1);
        VmSetTop(L_, 0);
        return v;
    }
    int32_t FrameCount(void* handle) {
        qbAsyncDraw* r = nullptr;
        if (FindAsyncDraw(ObjectID{0, handle}, &r)) return 0;
        return QueryAsyncDraw(r, kAsyncQueryFrameCount, nullptr);
    }
};

TEST_F(LayerEffectJumps, AJumpBackShowsTheFrameAsFirstDrawn) {
    for (auto [w, h] : {std::pair{60, 24}, std::pair{24, 60}})
        for (bool alpha : {false, true})
            for (bool hide : {false, true})
                for (int32_t type : {0, 24, 38}) {
                    SCOPED_TRACE(testing::Message() << w << "x" << h << " alpha " << alpha << " hide " << hide
                                                    << " type " << type);
                    while (CountLayers(display_->bgpic) > 0) ASSERT_EQ(RunNumbers("RemoveLayer", {1}), 0);
                    MakeBrush(1, w, h, kGreen);
                    if (alpha) {
                        qbBrush* b = nullptr;
                        ASSERT_EQ(GetBrushRecord(L_, ObjectID{1, nullptr}, &b, 0), 0);
                        b->alpha = AllocAlphaChannel(w, h, true, nullptr, 0);
                        FillAlphaRect(b->alpha, 0, 0, w, h, 255);
                    }
                    void* id = nullptr;
                    if (hide) {
                        ASSERT_EQ(RunNumbers("DisplayBrush", {1, 10, 10}), 0);
                        id = Start("HideLayerFX", {1}, type);
                    } else {
                        id = Start("DisplayBrushFX", {1, 10, 10}, type);
                    }
                    ASSERT_NE(id, nullptr);
                    const int32_t count = FrameCount(id);
                    ASSERT_GE(count, 4);
                    std::vector<Picture> first;
                    for (int32_t n = 1; n < count; ++n) {
                        ASSERT_EQ(Step(id), 0);
                        first.push_back(Snapshot());
                    }
                    ASSERT_NE(first.front(), first.back()) << "the frames differ";
                    ASSERT_EQ(Step(id, 1), 0);
                    EXPECT_TRUE(Snapshot() == first[0]) << "frame 1 again";
                    ASSERT_EQ(Step(id), 0);
                    EXPECT_TRUE(Snapshot() == first[1]) << "frame 2 after the jump";
                    VmPushLightUserdata(L_, id);
                    ASSERT_EQ(Run("CancelAsyncDraw", 1), 0);
                    VmSetTop(L_, 0);
                }
}

}  // namespace
