// Display 1 open on the in-memory backend with the graphics and brush
// libraries beside it: brushes are made and shown by their commands, and
// the display's picture buffer and window are read back.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "display/display.h"
#include "draw/graphics_fixture.h"
#include "imaging/bitmap.h"
#include "objects/brushes.h"
#include "objects/brushlib.h"
#include "objects/layers.h"
#include "objects/layersources.h"
#include "platform/null/null_backend.h"

// A number, or a text where text is given ("50%").
struct NumberOrText {
    double number = 0;
    const char* text = nullptr;
};

class ShowWorld : public GraphicsWorld {
protected:
    void SetUp() override {
        GraphicsWorld::SetUp();
        PicturesReady();
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitBrushLibrary(L_), 0);
        VmSetTop(L_, 0);
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitLayersLibrary(L_), 0);
        VmSetTop(L_, 0);
        display_ = OpenDisplayOne(100, 80);
        ASSERT_NE(display_, nullptr);
    }
    void TearDown() override {
        FreeAllDisplays(L_);
        FreeAllBGPics(L_);
        ClearLayerSources();
        FreeAllBrushes(L_);
        FreeLayersLibrary(L_);
        GraphicsWorld::TearDown();
    }

    // The brush record a command made, or null.
    qbBrush* Brush(int32_t id) {
        qbBrush* b = nullptr;
        GetBrushRecord(nullptr, ObjectID{id, nullptr}, &b, kBrushHardwareToo);
        return b;
    }
    // CreateBrush(id, width, height, colour).
    void MakeBrush(int32_t id, int32_t w, int32_t h, uint32_t colour) {
        ASSERT_EQ(RunNumbers("CreateBrush", {double(id), double(w), double(h), double(colour)}), 0);
    }
    // Pushes the numbers, then an option table that fill builds (when given).
    template <class Fill>
    int Show(const char* command, std::initializer_list<double> args, Fill fill) {
        for (double a : args) VmPushNumber(L_, a);
        VmPushNewTable(L_);
        fill();
        return Run(command, static_cast<int>(args.size()) + 1);
    }
    int Show(const char* command, std::initializer_list<double> args) { return RunNumbers(command, args); }
    // The command on the object id and the arguments; the error code.
    int Call(const char* command, int32_t id, const std::vector<NumberOrText>& args) {
        VmPushNumber(L_, id);
        for (const NumberOrText& a : args) {
            if (a.text)
                VmPushString(L_, a.text);
            else
                VmPushNumber(L_, a.number);
        }
        const int err = Run(command, static_cast<int>(args.size()) + 1);
        VmSetTop(L_, 0);
        return err;
    }

    // What the window was last given (the composed picture with layers on).
    uint32_t Window(int32_t x, int32_t y) {
        qbBitmap* b = CountLayers(display_->bgpic) ? display_->backBuffer.get() : display_->spriteFreeBuffer.get();
        return ReadBitmapPixel(b, x, y, false);
    }
    // The window itself, alpha byte dropped.
    uint32_t Real(int32_t x, int32_t y) { return null_backend::GetSurface(display_)->At(x, y) & 0xFFFFFFu; }
    uint32_t Shown(int32_t x, int32_t y) { return ReadBitmapPixel(display_->spriteFreeBuffer.get(), x, y, false); }

    qbDisplay* display_ = nullptr;
};
