// The text and layers libraries over display 1 (640 x 480) of the in-memory
// backend, with the helpers the output tests share.
#pragma once

#include <string>

#include "core/eventqueue.h"
#include "display/bgpics.h"
#include "display/displaylib_fixture.h"
#include "objects/dirtyrects.h"
#include "objects/layers.h"
#include "text/text.h"
#include "text/textlib.h"

class TextWorld : public DisplayLibWorld {
protected:
    void SetUp() override {
        DisplayLibWorld::SetUp();
        ASSERT_EQ(InitEventQueue(), 0);
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitTextLibrary(L_), 0);
        VmSetTop(L_, 0);
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitLayersLibrary(L_), 0);
        VmSetTop(L_, 0);
        ASSERT_EQ(Create(1, [&] {
                      Field("width", 640);
                      Field("height", 480);
                  }),
                  0);
        ASSERT_EQ(StartDisplays(L_), 0);
        display_ = Find(1);
        ASSERT_NE(display_, nullptr);
    }
    void TearDown() override {
        ClearEventQueue(L_);
        FreeAllDisplays(L_);
        FreeAllBGPics(L_);
        FreeTextLibrary(L_);
        DisplayLibWorld::TearDown();
    }
    int SetFont(const char* name, int32_t size) {
        VmPushString(L_, name);
        VmPushNumber(L_, size);
        return Run("SetFont", 2);
    }
    int RunText(const char* command, const std::string& text) {
        VmPushLString(L_, text.data(), text.size());
        return Run(command, 1);
    }
    int TextOutPlain(int32_t x, int32_t y, const char* text) {
        VmPushNumber(L_, x);
        VmPushNumber(L_, y);
        VmPushString(L_, text);
        return Run("TextOut", 3);
    }
    int32_t Width(const std::string& text) {
        VmPushLString(L_, text.data(), text.size());
        EXPECT_EQ(Run("TextWidth", 1, 1), 0);
        const int32_t w = static_cast<int32_t>(VmToNumber(L_, -1));
        VmSetTop(L_, 0);
        return w;
    }
    int32_t Height() {
        VmPushString(L_, "x");
        EXPECT_EQ(Run("TextHeight", 1, 1), 0);
        const int32_t h = static_cast<int32_t>(VmToNumber(L_, -1));
        VmSetTop(L_, 0);
        return h;
    }
    int32_t CursorX() const { return display_->outputPosition[kTextCursorX]; }
    int32_t CursorY() const { return display_->outputPosition[kTextCursorY]; }
    uint32_t Pixel(int32_t x, int32_t y) { return ReadBitmapPixel(display_->spriteFreeBuffer.get(), x, y, false); }
    // Pixels of the rectangle that differ from the top left corner.
    int32_t Ink(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
        const uint32_t ground = Pixel(639, 479);
        int32_t n = 0;
        for (int32_t y = y0; y < y1; ++y)
            for (int32_t x = x0; x < x1; ++x) n += Pixel(x, y) != ground;
        return n;
    }
    qbDisplay* display_ = nullptr;
};
