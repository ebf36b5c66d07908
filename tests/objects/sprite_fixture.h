// Display 1 (100 x 80) with the sprite library beside the brush and layers
// libraries; sprites are cut from brushes whose frames have one colour each.
#pragma once

#include <gtest/gtest.h>

#include "display/bgpics.h"
#include "imaging/blit.h"
#include "objects/brushes.h"
#include "objects/show_fixture.h"
#include "objects/spritecmds.h"
#include "objects/sprites.h"
#include "platform/null/null_backend.h"

class SpriteWorld : public ShowWorld {
protected:
    void SetUp() override {
        ShowWorld::SetUp();
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitSpriteLibrary(L_), 0);
        VmSetTop(L_, 0);
        // A picture that is not one colour, so that a restored background
        // shows where it came from.
        FillBitmapRect(display_->spriteFreeBuffer.get(), 0, 0, 100, 80, 0x203040);
        FillBitmapRect(display_->spriteFreeBuffer.get(), 50, 0, 50, 80, 0x405060);
        ASSERT_EQ(RunNumbers("DisplaySprite", {9999, 0, 0}), 1219);  // nothing yet
    }
    void TearDown() override {
        FreeAllSprites(L_);
        ShowWorld::TearDown();
    }

    static uint32_t FrameColour(int i) { return 0x100000u * static_cast<uint32_t>(i + 1) + 0x11u; }

    // Brush id of frames * w x h, frame i in FrameColour(i), laid out in
    // one row.
    void FramesBrush(int32_t id, int32_t frames, int32_t w, int32_t h) {
        MakeBrush(id, frames * w, h, 0);
        qbBrush* b = nullptr;
        ASSERT_EQ(GetBrushRecord(L_, ObjectID{id, nullptr}, &b, 0), 0);
        for (int i = 0; i < frames; ++i) FillBitmapRect(b->bitmap, i * w, 0, w, h, FrameColour(i));
    }
    // Sprite id with the frames of such a brush.
    void FramesSprite(int32_t id, int32_t frames, int32_t w, int32_t h) {
        FramesBrush(90, frames, w, h);
        ASSERT_EQ(RunNumbers("CreateSprite", {double(id), 3, 90, double(w), double(h), double(frames)}), 0);
    }
    qbSprite* Sprite(int32_t id) {
        qbSprite* s = nullptr;
        return GetSprite(L_, ObjectID{id, nullptr}, &s, 0) == 0 ? s : nullptr;
    }
    int InstanceCount() {
        int n = 0;
        for (const qbSpriteInstance* i = display_->bgpic->spriteInstances.get(); i; i = i->next.get()) ++n;
        return n;
    }
    std::vector<null_backend::Surface::BlitRect> Blits() { return null_backend::TakeBlits(display_); }
};
