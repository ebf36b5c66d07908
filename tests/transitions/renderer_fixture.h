// A renderer on its own, run on pictures whose every pixel names its
// place (New and Old), so that a frame shows where each part went.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "transition_fixture.h"

inline uint32_t New(int32_t x, int32_t y) {
    return 0x800000u | uint32_t(x) << 8 | uint32_t(y);
}
inline uint32_t Old(int32_t x, int32_t y) {
    return 0x400000u | uint32_t(x) << 8 | uint32_t(y);
}

inline BitmapPtr Painted(int32_t w, int32_t h, uint32_t (*paint)(int32_t, int32_t)) {
    BitmapPtr b(AllocBitmap(w, h, 0, nullptr));
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) FillBitmapRect(b.get(), x, y, 1, 1, paint(x, y));
    return b;
}

// A renderer on its own: the frames go into a picture of the test's, which
// starts as the old picture (what the screen shows before the effect).
class MovingRenderer : public TransitionWorld {
protected:
    void Start(int32_t type, int32_t w, int32_t h, int32_t speed, int32_t parameter = kRandomParameter,
               int32_t reverse = 0) {
        End();
        image_ = Painted(w, h, New);
        background_ = Painted(w, h, Old);
        screen_ = Painted(w, h, Old);
        s_ = qbEffectState{};
        s_.script = L_;
        s_.objectType = kEffectBGPic;
        s_.type = type;
        s_.width = s_.screenWidth = w;
        s_.height = s_.screenHeight = h;
        s_.speed = speed;
        s_.parameter = parameter;
        s_.reverse = reverse;
        s_.image = image_.get();
        s_.background = background_.get();
        s_.target = screen_.get();
        s_.renderer = RendererForType(type);
        ASSERT_NE(s_.renderer, nullptr);
        ASSERT_EQ(s_.renderer(&s_, nullptr), 0);
        s_.phase = 1;
    }
    void TearDown() override {
        End();
        TransitionWorld::TearDown();
    }
    void End() {
        if (s_.cleanup && !s_.priv.empty()) s_.cleanup(&s_, 1);
        s_.priv.clear();
        FreeBitmap(s_.scaledPiece);
        s_.scaledPiece = nullptr;
    }
    uint32_t At(int32_t x, int32_t y) { return ReadBitmapPixel(screen_.get(), x, y, false); }
    std::vector<uint32_t> Screen() {
        std::vector<uint32_t> p;
        for (int32_t y = 0; y < s_.height; ++y)
            for (int32_t x = 0; x < s_.width; ++x) p.push_back(At(x, y));
        return p;
    }
    // One frame; the done flag.
    int Step() {
        int done = 0;
        EXPECT_EQ(s_.renderer(&s_, &done), 0);
        return done;
    }
    // Every frame to the end.
    std::vector<std::vector<uint32_t>> All() {
        std::vector<std::vector<uint32_t>> frames;
        for (int done = 0; !done && frames.size() < 10000;) {
            done = Step();
            frames.push_back(Screen());
        }
        return frames;
    }
    int Seek(int32_t n) {
        s_.phase = 2;
        s_.frame = n;
        int done = 0;
        const int err = s_.renderer(&s_, &done);
        s_.phase = 1;
        return err;
    }
    bool Whole(uint32_t (*paint)(int32_t, int32_t)) {
        for (int32_t y = 0; y < s_.height; ++y)
            for (int32_t x = 0; x < s_.width; ++x)
                if (At(x, y) != paint(x, y)) return false;
        return true;
    }

    BitmapPtr image_, background_, screen_;
    qbEffectState s_;
};
