// The graphics library opened beside the display library in a fresh VM,
// with display 1 open and current; regions and async-draw objects that a
// test makes are freed again when it ends.
#pragma once

#include <memory>
#include <vector>

#include "display/clipregions.h"
#include "display/displaylib_fixture.h"
#include "draw/asyncdraw.h"
#include "draw/graphicslib.h"

class GraphicsWorld : public DisplayLibWorld {
protected:
    void SetUp() override {
        DisplayLibWorld::SetUp();
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitGraphicsLibrary(L_), 0);
        VmSetTop(L_, 0);
    }
    void TearDown() override {
        FreeAllAsyncDraws(L_);
        // Layers go before the regions they clip with.
        FreeAllDisplays(L_);
        FreeAllBGPics(L_);
        FreeAllClipRegions(L_);
        regions_.clear();
        DisplayLibWorld::TearDown();
    }

    qbDisplay* OpenDisplayOne(int32_t width = 640, int32_t height = 480) {
        EXPECT_EQ(Create(1, [&] {
                      Field("width", width);
                      Field("height", height);
                  }),
                  0);
        EXPECT_EQ(StartDisplays(L_), 0);
        return Find(1);
    }

    // A plain region record appended to the list, which owns it.
    qbClipRegionObject* AddRegion(int32_t id, int32_t x, int32_t y, int32_t width, int32_t height) {
        auto r = std::make_unique<qbClipRegionObject>();
        r->type = kObjectTypeClipRegion;
        r->id = id;
        r->x = x;
        r->y = y;
        r->width = width;
        r->height = height;
        if (AppendClipRegion(r.get()) != 0) return nullptr;
        regions_.push_back(r.get());
        return r.release();
    }

    // The number result of a command that succeeded.
    double Number(const char* command, std::initializer_list<double> args) {
        for (double a : args) VmPushNumber(L_, a);
        const int err = Run(command, static_cast<int>(args.size()), 1);
        EXPECT_EQ(err, 0) << command;
        const double v = err ? -12345 : VmToNumber(L_, -1);
        VmSetTop(L_, 0);
        return v;
    }

    std::vector<qbClipRegionObject*> regions_;  // owned by the region list
};
