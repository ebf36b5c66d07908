// The event pump: one SDL event per call turned into the queued events of the
// displays, then the window flags turned into quit requests. When SDL has
// nothing queued and the last pump was moments ago it only presents what was
// drawn, which keeps the per-script-line cost small.
#include <cstring>
#include <string>

#include "core/chars.h"
#include "core/errcodes.h"
#include "core/eventqueue.h"
#include "core/memory.h"
#include "platform/linux/sdl_backend.h"

namespace sdl_backend {

namespace {

constexpr int64_t kPumpQuietNanos = 10'000'000;

// 0, or ERR_MEM when the queue could not take the event.
int Post(const qbNativeWindow& w, uint32_t type, int32_t d1 = 0, int32_t d2 = 0, int32_t d3 = 0) {
    return PostEvent(w.display, type, d1, d2, d3, nullptr) < 0 ? ERR_MEM : 0;
}

int HandleButton(qbNativeWindow& w, const SDL_MouseButtonEvent& b) {
    int slot;
    uint32_t type;
    switch (b.button) {
        case SDL_BUTTON_LEFT: slot = 0, type = kEventLeftButton; break;
        case SDL_BUTTON_RIGHT: slot = 1, type = kEventRightButton; break;
        case SDL_BUTTON_MIDDLE: slot = 2, type = kEventMiddleButton; break;
        default: return 0;
    }
    const int32_t down = b.state == SDL_PRESSED ? 1 : 0;
    qbWindowView& v = *w.view;
    v.buttons[slot] = down;
    v.mouseX = b.x;
    v.mouseY = b.y;
    return Post(w, type, b.x, b.y, down);
}

// Either axis counts; the sign alone says up or down.
int HandleWheel(const qbNativeWindow& w, const SDL_MouseWheelEvent& wheel) {
    int delta = wheel.y != 0 ? wheel.y : wheel.x;
    if (wheel.direction == SDL_MOUSEWHEEL_FLIPPED) delta = -delta;
    if (delta == 0) return 0;
    return Post(w, delta > 0 ? kEventWheelUp : kEventWheelDown);
}

int HandleWindowEvent(qbNativeWindow& w, const SDL_WindowEvent& e) {
    qbWindowView& v = *w.view;
    switch (e.event) {
        case SDL_WINDOWEVENT_CLOSE:
            // A window without a close box cannot be asked to close.
            if (v.flags & kWindowNoClose) return 0;
            w.closeRequested = true;
            return Post(w, kEventCloseRequest);
        case SDL_WINDOWEVENT_FOCUS_GAINED:
            v.active = 1;
            ApplyWindowPointer(w);
            if (const int err = Post(w, kEventActivated)) return err;
            return ClipboardCheckOnActivation();
        case SDL_WINDOWEVENT_FOCUS_LOST:
            v.active = 0;
            std::memset(v.keyState, 0, sizeof v.keyState);
            return Post(w, kEventDeactivated);
        case SDL_WINDOWEVENT_MINIMIZED:
            v.state = kWindowMinimised;
            return Post(w, kEventMinimised);
        case SDL_WINDOWEVENT_RESTORED:
            if (v.state != kWindowMinimised) return 0;
            v.state = kWindowOpen;
            return Post(w, kEventRestored);
        case SDL_WINDOWEVENT_MOVED:
            v.x = e.data1 - v.borderLeft;
            v.y = e.data2 - v.borderTop;
            return Post(w, kEventMoved);
        case SDL_WINDOWEVENT_SIZE_CHANGED:
            // The window's own resizes arrive here too, with the size the
            // display already has.
            if (e.data1 == v.width && e.data2 - w.strip == v.height) return 0;
            v.width = e.data1;
            v.height = e.data2 - w.strip;
            SDL_GetWindowSurface(w.window);
            DrawMenuStrip(w);
            w.sizeChanged = true;
            return Post(w, kEventResized);
        case SDL_WINDOWEVENT_EXPOSED:
            DrawMenuStrip(w);
            w.dirty.clear();
            w.dirtyAll = true;
            S().anyDirty = true;
            return 0;
        default: return 0;
    }
}

// The dropped paths, each ended by a NUL and the list by a further NUL.
int PostDrop(qbNativeWindow& w) {
    std::vector<std::string> files;
    files.swap(w.drops);
    if (files.empty() || !w.view->hasDropHandler) return 0;
    size_t size = 1;
    for (const std::string& f : files) size += f.size() + 1;
    auto* block = static_cast<char*>(AllocMemory(size, 1));
    if (!block) return ERR_MEM;
    char* p = block;
    for (const std::string& f : files) {
        std::memcpy(p, f.c_str(), f.size() + 1);
        p += f.size() + 1;
    }
    const int result = PostEvent(w.display, kEventFilesDropped, w.view->mouseX, w.view->mouseY, 0, block);
    if (result <= 0) FreeMemory(block);
    return result < 0 ? ERR_MEM : 0;
}

int HandleDrop(const SDL_DropEvent& drop) {
    qbNativeWindow* w = FindWindowById(drop.windowID);
    int error = 0;
    if (w) {
        if (drop.type == SDL_DROPFILE && drop.file) w->drops.push_back(FileNameToLatin1(drop.file));
        if (drop.type == SDL_DROPCOMPLETE) error = PostDrop(*w);
    }
    if (drop.file) SDL_free(drop.file);
    return error;
}

// Every display is asked to close, as when the desktop ends the session.
int RequestQuitAllDisplays() {
    int error = 0;
    for (const auto& w : S().windows) {
        w->closeRequested = true;
        if (const int e = Post(*w, kEventCloseRequest)) error = e;
    }
    return error;
}

void TakeMotion(qbNativeWindow& w, int x, int y) {
    qbWindowView& v = *w.view;
    v.mouseX = x;
    v.mouseY = y;
    v.mouseMoved = 1;
    v.mouseMovedMicros = MonotonicNanos() / 1000;
}

// Events of a full screen's desktop window: the pointer's go to the window
// of the screen under it (nothing over the bars), keys and focus to the
// newest window on the screen.
int HandleDesktopEvent(Desktop& d, const SDL_Event& e) {
    switch (e.type) {
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: {
            SDL_MouseButtonEvent b = e.button;
            qbNativeWindow* w = WindowAtDesktopPoint(d, b.x, b.y);
            return w ? HandleButton(*w, b) : 0;
        }
        case SDL_MOUSEMOTION: {
            int x = e.motion.x, y = e.motion.y;
            if (qbNativeWindow* w = WindowAtDesktopPoint(d, x, y)) TakeMotion(*w, x, y);
            return 0;
        }
        case SDL_WINDOWEVENT:
            switch (e.window.event) {
                // The desktop window's own place and size are no display's.
                case SDL_WINDOWEVENT_CLOSE:
                case SDL_WINDOWEVENT_FOCUS_GAINED:
                case SDL_WINDOWEVENT_FOCUS_LOST: break;
                default:
                    d.dirtyAll = true;
                    S().anyDirty = true;
                    return 0;
            }
            break;
        default: break;
    }
    qbNativeWindow* owner = DesktopOwner(d);
    if (!owner) return 0;
    switch (e.type) {
        case SDL_WINDOWEVENT: return HandleWindowEvent(*owner, e.window);
        case SDL_KEYDOWN:
        case SDL_KEYUP: return HandleKeyEvent(*owner, e.key);
        case SDL_TEXTINPUT: return HandleTextInput(*owner, e.text.text);
        case SDL_MOUSEWHEEL: return HandleWheel(*owner, e.wheel);
        default: return 0;
    }
}

int HandleEvent(const SDL_Event& e) {
    Session& s = S();
    if (e.type == s.wakeType.load(std::memory_order_relaxed)) {
        s.wakePending.store(false, std::memory_order_release);
        return 0;
    }
    switch (e.type) {
        case SDL_QUIT: return RequestQuitAllDisplays();
        case SDL_CLIPBOARDUPDATE: return ClipboardUpdated();
        case SDL_DROPBEGIN:
        case SDL_DROPFILE:
        case SDL_DROPTEXT:
        case SDL_DROPCOMPLETE: return HandleDrop(e.drop);
        default: break;
    }
    uint32_t id = 0;
    switch (e.type) {
        case SDL_WINDOWEVENT: id = e.window.windowID; break;
        case SDL_KEYDOWN:
        case SDL_KEYUP: id = e.key.windowID; break;
        case SDL_TEXTINPUT: id = e.text.windowID; break;
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: id = e.button.windowID; break;
        case SDL_MOUSEWHEEL: id = e.wheel.windowID; break;
        case SDL_MOUSEMOTION: id = e.motion.windowID; break;
        default: return 0;
    }
    qbNativeWindow* w = FindWindowById(id);
    if (!w) {
        if (Desktop* d = FindDesktopById(id)) return HandleDesktopEvent(*d, e);
        return 0;
    }
    if (int menuError = 0; MenuTakesEvent(*w, e, &menuError)) return menuError;
    // The script's coordinates are the picture's, below the menu strip.
    switch (e.type) {
        case SDL_WINDOWEVENT: return HandleWindowEvent(*w, e.window);
        case SDL_KEYDOWN:
        case SDL_KEYUP: return HandleKeyEvent(*w, e.key);
        case SDL_TEXTINPUT: return HandleTextInput(*w, e.text.text);
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: {
            SDL_MouseButtonEvent b = e.button;
            b.y -= w->strip;
            return HandleButton(*w, b);
        }
        case SDL_MOUSEWHEEL: return HandleWheel(*w, e.wheel);
        default: TakeMotion(*w, e.motion.x, e.motion.y - w->strip); return 0;
    }
}

bool SwitchOn(int key) { return S().quitSwitch[key - kQuitShortcutCtrlC]; }

// The flags the last event left on the windows, turned into quit requests
// and the display's own reactions; 0 or the first error.
int ActOnWindowFlags(ScriptState* L, bool& quit) {
    // By index: a display's resize may free window records.
    auto& windows = S().windows;
    for (size_t i = 0; i < windows.size(); ++i) {
        qbNativeWindow* w = windows[i].get();
        qbWindowView& v = *w->view;
        if (v.buttons[0] && SwitchOn(kQuitShortcutLeftButton)) quit = true;
        if (w->escape && SwitchOn(kQuitShortcutEscape)) quit = true;
        if (w->ctrlC && SwitchOn(kQuitShortcutCtrlC)) quit = true;
        if (w->closeRequested && !v.hasCloseHandler) quit = true;
        const int modeSwitch = w->modeSwitch;
        w->modeSwitch = -1;
        const bool resized = w->sizeChanged;
        w->closeRequested = w->sizeChanged = w->ctrlC = w->escape = false;
        // The display reopens in the other mode: its window record stays,
        // the SDL window behind it may not.
        if (modeSwitch != -1 && v.switchMode) {
            if (const int error = v.switchMode(L, w->display, modeSwitch)) return error;
            continue;
        }
        if (resized && v.resizeDisplay) {
            if (const int error = v.resizeDisplay(L, w->display, v.width, v.height)) return error;
        }
    }
    return 0;
}

}  // namespace

int PumpNativeEvents(ScriptState* L, int* outError) {
    if (outError) *outError = 0;
    Session& s = S();
    const int64_t now = MonotonicNanos();
    const bool queued = s.video && SDL_HasEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    if (!queued && s.pumped && now - s.lastPumpNanos < kPumpQuietNanos) {
        if (Fading() || s.anyDirty) PresentAllPending();
        return 0;
    }
    int error = PumpClipboard();
    SDL_Event event;
    if (s.video && SDL_PollEvent(&event))
        if (const int e = HandleEvent(event); e && !error) error = e;
    bool quit = false;
    if (const int e = ActOnWindowFlags(L, quit); e && !error) error = e;
    if (quit) s.quitRequested = true;
    PresentAllPending();
    ProcessAudioEvents();
    ReportUntakenXError();
    s.lastPumpNanos = now;
    s.pumped = true;
    if (error) {
        if (outError) *outError = error;
        return 1;
    }
    return s.quitRequested ? 1 : 0;
}

void SetQuitShortcut(ScriptState*, int key, int on) {
    if (key < kQuitShortcutCtrlC || key > kQuitShortcutEscape) return;
    S().quitSwitch[key - kQuitShortcutCtrlC] = on != 0;
}

}  // namespace sdl_backend
