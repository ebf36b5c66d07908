// CreateLayer and SetLayerName with each of their allocations failing in
// turn: the command reports the failure, leaves the stack, the names and
// the brush list as they were, and leaks nothing (the sanitizer build
// checks that).
#include <gtest/gtest.h>

#include <new>
#include <string>

#include "core/errcodes.h"
#include "core/memory.h"
#include "objects/show_fixture.h"

namespace {

int CountBrushes() {
    int n = 0;
    for (const qbBrush* b = FirstBrush(); b; b = static_cast<const qbBrush*>(b->next)) ++n;
    return n;
}

class LayersFailAllocTest : public ShowWorld {
protected:
    void SetUp() override {
        ShowWorld::SetUp();
        ASSERT_EQ(Run("EnableLayers", 0), 0);
        MakeBrush(1, 10, 10, 0xFF0000);
        ASSERT_EQ(RunNumbers("DisplayBrush", {1, 0, 0}), 0);
    }
    void TearDown() override {
        SetAllocationFailCountdown(-1);
        ShowWorld::TearDown();
    }
    // Runs the command with the n-th allocation failing; false once the
    // command needed fewer than n allocations (every failure was tried).
    bool RunFailing(const char* command, int args, long n, int* err) {
        SetAllocationFailCountdown(n);
        *err = Run(command, args);
        const bool reached = AllocationFailCountdown() < 0;
        SetAllocationFailCountdown(-1);
        return reached;
    }
};

bool IsAllocationError(int err) {
    return err == ERR_MEM || err == ERR_BITMAP || err == ERR_ALLOCMASK || err == ERR_ALLOCALPHA;
}

}  // namespace

TEST_F(LayersFailAllocTest, CreateLayer) {
    const qbBGPic* bgpic = display_->bgpic;
    bool reached = true;
    int failures = 0;
    for (long n = 0; reached && n < 10000; ++n) {
        const int brushes = CountBrushes();
        VmSetTop(L_, 0);
        for (double a : {20.0, 20.0, 30.0, 20.0}) VmPushNumber(L_, a);
        VmPushNewTable(L_);
        SetTableFieldInt(L_, "alphachannel", 1);
        SetTableFieldString(L_, "name", "a layer of its own, named at length");
        int err = 0;
        reached = RunFailing("CreateLayer", 5, n, &err);
        if (err == 0) {
            ASSERT_EQ(CountLayers(bgpic), 2) << n;
            EXPECT_EQ(CountBrushes(), brushes + 1) << n;
            ASSERT_EQ(RunNumbers("RemoveLayer", {2}), 0);
        } else {
            ++failures;
            EXPECT_TRUE(IsAllocationError(err)) << n << ": " << err;
            EXPECT_EQ(CountLayers(bgpic), 1) << n;
        }
        EXPECT_EQ(CountBrushes(), brushes) << n;
    }
    EXPECT_FALSE(reached);
    // The bitmap, its plane, the brush and layer records and the name at least.
    EXPECT_GE(failures, 5);
}

TEST_F(LayersFailAllocTest, SetLayerName) {
    const std::string old = "the first name of the bottom layer";
    const std::string fresh = "another name, long enough for the heap";
    GetLayerByIndex(display_->bgpic, 1)->name = old;
    bool reached = true;
    int failures = 0;
    for (long n = 0; reached && n < 10000; ++n) {
        VmSetTop(L_, 0);
        VmPushNumber(L_, 1);
        VmPushString(L_, fresh.c_str());
        int err = 0;
        reached = RunFailing("SetLayerName", 2, n, &err);
        qbLayer* layer = GetLayerByIndex(display_->bgpic, 1);
        if (err == 0) {
            EXPECT_EQ(layer->name, fresh) << n;
            layer->name = old;
        } else {
            ++failures;
            EXPECT_EQ(err, ERR_MEM) << n;
            EXPECT_EQ(layer->name, old) << n;
        }
    }
    EXPECT_FALSE(reached);
    EXPECT_GE(failures, 1);
}
