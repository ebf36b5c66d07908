// A fresh display world for every test: no displays, BGPics or adapter, the
// in-memory backend, the system clock, pictures pending as before start-up.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "core/errors.h"
#include "core/settings.h"
#include "display/adapter.h"
#include "display/bgpics.h"
#include "display/displays.h"
#include "display/refresh.h"
#include "display/safeblt.h"
#include "imaging/blit.h"
#include "platform/null/null_backend.h"
#include "platform/platform.h"
#include "player/startup.h"

class DisplayWorld : public ::testing::Test {
protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }

    static void Clean() {
        SetVideoRecording(false);
        // A test's adapter plugin lives in the test's frame, gone by now.
        ClearDisplayAdapters();
        FreeAllDisplays(nullptr);
        FreeAllBGPics(nullptr);
        SetAdapterWindowOpen(false);
        SetPlatformBackend(nullptr);
        null_backend::Reset();
        SetFramePacingClock(nullptr, nullptr);
        SetFPSLimit(60);
        SetSpareDisplay(nullptr);
        SetRuntimeTag(kTagQuiet, 1);
    }

    static qbDisplay* Make(int32_t id, qbDisplayOptions options = {}) {
        qbDisplay* d = nullptr;
        EXPECT_EQ(CreateDisplay(nullptr, NewObjectID{id, 0}, &options, &d), 0);
        return d;
    }

    // A display opened as the first one of a start-up, so that its picture
    // is a bitmap and its window exists.
    static qbDisplay* MakeOpen(int32_t id, int32_t width = 64, int32_t height = 48, uint32_t colour = 0x102030) {
        qbDisplayOptions o;
        o.width = width;
        o.height = height;
        o.fill.colour = colour;
        o.flags = kDisplayActivate;
        qbDisplay* d = Make(id, o);
        null_backend::SetWindowSize(d, width, height);
        EXPECT_EQ(StartDisplays(nullptr), 0);
        return d;
    }

    static BitmapPtr FilledBitmap(int32_t w, int32_t h, uint32_t fill) {
        BitmapPtr b(AllocBitmap(w, h, 0, nullptr));
        FillBitmapRect(b.get(), 0, 0, w, h, fill);
        return b;
    }

    static std::string Text(int code) {
        char text[kErrorTextSize];
        GetErrorText(code, text);
        return text;
    }

    static int CountBGPics() {
        int n = 0;
        for (qbBGPic* p = FirstBGPic(); p; p = static_cast<qbBGPic*>(p->next)) ++n;
        return n;
    }
};
