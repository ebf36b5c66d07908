// The SDL session: starting and stopping SDL's video and events, finding a
// display's window record, and waking the main thread through SDL's queue.
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/errcodes.h"
#include "core/errors.h"
#include "platform/linux/clipboard_gtk.h"
#include "platform/linux/linux_backend.h"
#include "platform/linux/menufont.h"
#include "platform/linux/sdl_backend.h"

namespace sdl_backend {

Session& S() {
    static Session session;
    return session;
}

int64_t MonotonicNanos() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

qbNativeWindow* FindWindow(const qbDisplay* display) {
    if (!display) return nullptr;
    for (const auto& w : S().windows)
        if (w->display == display) return w.get();
    return nullptr;
}

qbNativeWindow* FindWindowById(uint32_t windowId) {
    for (const auto& w : S().windows)
        if (w->window && w->windowId == windowId) return w.get();
    return nullptr;
}

qbNativeWindow* OpenWindow(const qbDisplay* display) {
    qbNativeWindow* w = FindWindow(display);
    return w && (w->window || w->buffer) ? w : nullptr;
}

std::string HeadlessDriverChoice(const std::vector<std::string>& drivers, const char* chosen, const char* runtimeDir,
                                 const char* waylandDisplay, const char* waylandSocket, const char* x11Display) {
    if (chosen && *chosen) return {};
    // libwayland's own tests, made before it gives up on a compositor: a
    // socket handed over, a socket path, or a runtime folder to look in.
    if (waylandSocket && *waylandSocket) return {};
    const bool runtimeDirUsable = runtimeDir && runtimeDir[0] == '/';
    const bool socketPathGiven = waylandDisplay && waylandDisplay[0] == '/';
    if (runtimeDirUsable || socketPathGiven) return {};
    // With an X server named, the drivers that draw nowhere would follow it
    // when it failed to answer, and the applet would run on with no window,
    // saying nothing; without one they are how a console run goes on.
    const bool xNamed = x11Display && *x11Display;
    std::string list;
    for (const std::string& driver : drivers) {
        if (SDL_strcasecmp(driver.c_str(), "wayland") == 0) continue;
        if (xNamed && (SDL_strcasecmp(driver.c_str(), "offscreen") == 0 || SDL_strcasecmp(driver.c_str(), "dummy") == 0 ||
                       SDL_strcasecmp(driver.c_str(), "evdev") == 0))
            continue;
        if (!list.empty()) list += ',';
        list += driver;
    }
    return list;
}

int StartNativeUI() {
    Session& s = S();
    if (s.video) return 0;
    // Without a runtime folder libwayland prints an error of its own while
    // SDL merely probes for a compositor, even on runs that go on to
    // succeed with another driver; such runs are left to the other drivers,
    // in SDL's order.
    std::vector<std::string> drivers;
    for (int i = 0; i < SDL_GetNumVideoDrivers(); ++i) drivers.emplace_back(SDL_GetVideoDriver(i));
    const std::string headless =
        HeadlessDriverChoice(drivers, SDL_GetHint(SDL_HINT_VIDEODRIVER), std::getenv("XDG_RUNTIME_DIR"),
                             std::getenv("WAYLAND_DISPLAY"), std::getenv("WAYLAND_SOCKET"), std::getenv("DISPLAY"));
    if (!headless.empty()) SDL_SetHint(SDL_HINT_VIDEODRIVER, headless.c_str());
    // The runtime handles its own signals, the pump takes one event per call
    // (no sentinels), and closing the last window is the script's business.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_POLL_SENTINEL, "0");
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
    // The screen saver stays on unless a display asks for it to be off.
    SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
    KeepGoneWindowErrorsNonFatal();
    if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
        SetErrorDetail(SDL_GetError());
        std::fprintf(stderr, "SDL: %s\n", SDL_GetError());
        return ERR_WINDOW;
    }
    // No one sees the windows of the offscreen driver: their pixels stay in
    // memory rather than going through the GPU renderer SDL would set up for
    // them, which loads the system's whole GL stack for nothing. On X11 a
    // window drawn through that renderer leaves every shaped window opened
    // after it unshapeable, so windows there use the shared-memory
    // framebuffer as well.
    const char* driver = SDL_GetCurrentVideoDriver();
    if (driver && (SDL_strcasecmp(driver, "offscreen") == 0 || SDL_strcasecmp(driver, "x11") == 0) &&
        !SDL_GetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION))
        SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    const uint32_t wake = SDL_RegisterEvents(1);
    if (wake == static_cast<uint32_t>(-1)) {
        SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
        SetErrorDetail("no SDL event type left");
        return ERR_WINDOW;
    }
    // Joystick state is read when asked for, never through the queue.
    SDL_JoystickEventState(SDL_IGNORE);
    s.video = true;
    s.wakePending.store(false);
    s.wakeType.store(wake, std::memory_order_release);
    return linux_backend::StartNativeUI();
}

void ShutdownPlatform() {
    Session& s = S();
    for (const auto& w : s.windows) {
        if (w->window) SDL_DestroyWindow(w->window);
        if (w->buffer) SDL_FreeSurface(w->buffer);
        w->window = nullptr;
        w->buffer = nullptr;
    }
    s.windows.clear();
    DestroyDesktops();
    ReleaseMenuFont();
    s.fade = FadeState{};
    s.presentationMode = 0;
    ReleaseJoysticks();
    if (s.busyCursor) SDL_FreeCursor(s.busyCursor);
    s.busyCursor = nullptr;
    s.wakeType.store(0, std::memory_order_release);
    s.wakePending.store(false);
    s.video = false;
    s.lastPumpNanos = 0;
    s.pumped = false;
    for (bool& on : s.quitSwitch) on = false;
    s.quitRequested = false;
    s.anyDirty = false;
    s.bordersKnown = false;
    s.pointerEverSet = false;
    s.clipboardSeen = false;
    s.clipboardOwnWrite = false;
    s.clipboardHash = 0;
    SDL_Quit();
    linux_backend::ShutdownPlatform();
}

// At most one wake waits in SDL's queue, however many threads post: the flag
// is set by the poster that queues it and cleared by whoever takes it.
int PostWakeEvent() {
    Session& s = S();
    const uint32_t type = s.wakeType.load(std::memory_order_acquire);
    if (type == 0) return linux_backend::PostWakeEvent();
    if (s.wakePending.exchange(true, std::memory_order_acq_rel)) return 0;
    SDL_Event event{};
    event.type = type;
    if (SDL_PushEvent(&event) < 0) {
        s.wakePending.store(false, std::memory_order_release);
        return ERR_MEM;
    }
    return 0;
}

// Input stays queued for the pump; a wake at the head is taken, so that the
// next wait blocks again.
int WaitForNativeEvent(int timeoutMs) {
    Session& s = S();
    const uint32_t type = s.wakeType.load(std::memory_order_acquire);
    if (type == 0) return linux_backend::WaitForNativeEvent(timeoutMs);
    int error = 0;
    if (gtk_clipboard::InUse()) {
        error = WaitWatchingClipboard(timeoutMs);
    } else if (timeoutMs < 0) {
        SDL_WaitEvent(nullptr);
    } else {
        SDL_WaitEventTimeout(nullptr, timeoutMs);
    }
    SDL_Event head;
    if (SDL_PeepEvents(&head, 1, SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) == 1 && head.type == type) {
        SDL_PeepEvents(&head, 1, SDL_GETEVENT, type, type);
        s.wakePending.store(false, std::memory_order_release);
    }
    return error;
}

}  // namespace sdl_backend
