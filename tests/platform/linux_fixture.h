// The Linux backend under SDL's dummy video driver: a started session, the
// event queue, and helpers that push synthetic SDL events and read back what
// the pump queued and what the window surface holds.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>

#include "core/eventqueue.h"
#include "platform/linux/sdl_backend.h"
#include "platform/platform.h"
#include "queued_events.h"

class LinuxBackendTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        SetPlatformBackend(&LinuxPlatformOps());
        ASSERT_EQ(InitEventQueue(), 0);
        ClearEventQueue(nullptr);
        ASSERT_EQ(InitEventQueue(), 0);
        ASSERT_EQ(StartNativeUI(), 0);
    }
    void TearDown() override {
        ShutdownPlatform();
        ClearEventQueue(nullptr);
        ASSERT_EQ(InitEventQueue(), 0);
        SetPlatformBackend(nullptr);
    }

    // Displays are only compared by address here.
    qbDisplay* Display(int n) { return reinterpret_cast<qbDisplay*>(&displays_[n]); }

    // Opens a window for the display with the given view and drops the
    // events its opening queued.
    void Open(qbDisplay* display, qbWindowView* view) {
        ASSERT_EQ(AllocNativeWindowRec(view, display), 0);
        ASSERT_EQ(CreateNativeWindow(display, 1, nullptr, nullptr), 0);
        PumpAll();
        ClearEventQueue(nullptr);
        ASSERT_EQ(InitEventQueue(), 0);
    }

    // A window of that content size, painted black; the fixture keeps its view.
    qbWindowView& OpenBlack(qbDisplay* display, int width, int height) {
        qbWindowView& view = views_.emplace_back();
        view.width = width;
        view.height = height;
        Open(display, &view);
        FillWindowRect(display, 0, 0, width, height, 0);
        return view;
    }

    static qbNativeWindow& Window(qbDisplay* display) {
        qbNativeWindow* w = sdl_backend::FindWindow(display);
        EXPECT_NE(w, nullptr);
        return *w;
    }
    static uint32_t WindowId(qbDisplay* display) { return Window(display).windowId; }

    // The display's SDL window exists, is 640 x 480 and titled "Quenbrook".
    static void ExpectDefaultWindow(qbDisplay* display) {
        SDL_Window* window = Window(display).window;
        ASSERT_NE(window, nullptr);
        int width = 0, height = 0;
        SDL_GetWindowSize(window, &width, &height);
        EXPECT_EQ(width, 640);
        EXPECT_EQ(height, 480);
        EXPECT_STREQ(SDL_GetWindowTitle(window), "Quenbrook");
    }

    // 0xRRGGBB at a pixel of the window's surface.
    static uint32_t SurfacePixel(qbDisplay* display, int x, int y) {
        SDL_Surface* s = SDL_GetWindowSurface(Window(display).window);
        const auto* p = static_cast<const uint8_t*>(s->pixels) + y * s->pitch + x * s->format->BytesPerPixel;
        uint32_t pixel = 0;
        std::memcpy(&pixel, p, s->format->BytesPerPixel);
        uint8_t r, g, b;
        SDL_GetRGB(pixel, s->format, &r, &g, &b);
        return (uint32_t{r} << 16) | (uint32_t{g} << 8) | b;
    }

    // Pumps until SDL's queue is empty; the results of every pump, in order.
    // A mode switch needs the script state that makes its backfill.
    static std::vector<int> PumpAll(std::vector<int>* errors = nullptr, ScriptState* L = nullptr) {
        std::vector<int> results;
        while (SDL_HasEvents(SDL_FIRSTEVENT, SDL_LASTEVENT)) {
            int error = 0;
            results.push_back(PumpNativeEvents(L, &error));
            if (errors) errors->push_back(error);
        }
        return results;
    }

    static std::vector<qbInputEvent> Queued() { return QueuedEvents(); }
    static void DropQueued() { FlushEvents(nullptr, -1, 1); }

    static void Push(SDL_Event event) { ASSERT_EQ(SDL_PushEvent(&event), 1); }
    static void PushWindowEvent(uint32_t id, uint8_t kind, int32_t data1 = 0, int32_t data2 = 0) {
        SDL_Event e{};
        e.type = SDL_WINDOWEVENT;
        e.window.windowID = id;
        e.window.event = kind;
        e.window.data1 = data1;
        e.window.data2 = data2;
        Push(e);
    }
    static void PushButton(uint32_t id, uint8_t button, bool down, int x, int y) {
        SDL_Event e{};
        e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
        e.button.windowID = id;
        e.button.button = button;
        e.button.state = down ? SDL_PRESSED : SDL_RELEASED;
        e.button.x = x;
        e.button.y = y;
        Push(e);
    }
    static void PushKey(uint32_t id, SDL_Keycode key, bool down, uint16_t mod = KMOD_NONE) {
        SDL_Event e{};
        e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
        e.key.windowID = id;
        e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
        e.key.keysym.sym = key;
        e.key.keysym.scancode = SDL_GetScancodeFromKey(key);
        e.key.keysym.mod = mod;
        Push(e);
    }
    static void PushText(uint32_t id, const char* utf8) {
        SDL_Event e{};
        e.type = SDL_TEXTINPUT;
        e.text.windowID = id;
        std::strncpy(e.text.text, utf8, sizeof e.text.text - 1);
        Push(e);
    }

private:
    int displays_[4] = {};
    std::deque<qbWindowView> views_;
};
