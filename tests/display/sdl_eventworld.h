// The event world over the SDL backend under the dummy driver: synthetic SDL
// events, pushed as the window would report them, reach the script through
// the real pump.
#pragma once

#include <SDL.h>

#include <cstdint>
#include <cstdlib>

#include "display/eventlib_fixture.h"
#include "platform/linux/sdl_backend.h"

class SdlEventWorld : public EventWorld {
protected:
    void UseBackend() override {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        SetPlatformBackend(&LinuxPlatformOps());
        ASSERT_EQ(StartNativeUI(), 0);
    }
    void TearDown() override {
        FreeEventSystem(L);
        FreeAllDisplays(L);
        FreeBeforeShutdown();
        ShutdownPlatform();
        EventWorld::TearDown();
    }
    // What a test made beside the displays, freed while the backend runs.
    virtual void FreeBeforeShutdown() {}
    qbNativeWindow& Window() {
        qbNativeWindow* w = sdl_backend::FindWindow(d);
        EXPECT_NE(w, nullptr);
        return *w;
    }
    uint32_t WindowId() {
        qbNativeWindow* w = sdl_backend::FindWindow(d);
        EXPECT_NE(w, nullptr);
        return w ? w->windowId : 0;
    }
    void Push(SDL_Event e) { ASSERT_EQ(SDL_PushEvent(&e), 1); }
    void PushClose() {
        SDL_Event e{};
        e.type = SDL_WINDOWEVENT;
        e.window.windowID = WindowId();
        e.window.event = SDL_WINDOWEVENT_CLOSE;
        Push(e);
    }
    void PushKey(SDL_Keycode key, bool down, uint16_t mod = KMOD_NONE) {
        SDL_Event e{};
        e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
        e.key.windowID = WindowId();
        e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
        e.key.keysym.sym = key;
        e.key.keysym.scancode = SDL_GetScancodeFromKey(key);
        e.key.keysym.mod = mod;
        Push(e);
    }
    void PushClick(int x, int y, bool down) {
        SDL_Event e{};
        e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
        e.button.windowID = WindowId();
        e.button.button = SDL_BUTTON_LEFT;
        e.button.state = down ? SDL_PRESSED : SDL_RELEASED;
        e.button.x = x;
        e.button.y = y;
        Push(e);
    }
};
