// Opening a display in its mode (window, full screen, fake full screen) and
// closing it again: the screen size a full screen asks for, the switch of
// its monitor, the fades around it, and the backfill behind it.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/eventqueue.h"
#include "display/adapter.h"
#include "display/backfill.h"
#include "display/displayoptions.h"
#include "display/displays.h"
#include "display/displayscaling.h"
#include "display/displaywindow.h"
#include "display/objecthooks.h"
#include "display/placement.h"
#include "platform/platform_ops.h"

namespace {

// What a mode change puts back when the new mode cannot be had.
struct WindowState {
    int32_t x = 0;
    int32_t y = 0;
    int32_t relativeX = 0;
    int32_t relativeY = 0;
    uint32_t flags = 0;
    int32_t fullScreen = 0;
    qbScreenMode screen;
};

WindowState Snapshot(const qbDisplay* d) {
    return WindowState{d->x, d->y, d->relativeX, d->relativeY, d->flags, d->fullScreen, d->screen};
}

void PutBack(qbDisplay* d, const WindowState& s) {
    d->x = s.x;
    d->y = s.y;
    d->relativeX = s.relativeX;
    d->relativeY = s.relativeY;
    d->flags = s.flags;
    d->fullScreen = 0;
    d->screen = s.screen;
}

bool IsFullScreenOwner(const qbDisplay* d) { return d->fullScreen && !d->isBackfill; }

// ERR_MONITORFULLSCREEN when another display fills the monitor already.
int CheckMonitorFree(const qbDisplay* d) {
    for (qbDisplay* other = FirstDisplay(); other; other = NextDisplay(other)) {
        if (other == d || !IsFullScreenOwner(other) || other->monitor != d->monitor) continue;
        SetErrorArgIndex(d->monitor + 1);
        return ERR_MONITORFULLSCREEN;
    }
    return 0;
}

bool ScreenMatchesMonitor(qbDisplay* d) {
    int32_t mx = 0, my = 0, mw = 0, mh = 0;
    if (GetDisplayMonitorInfo(d, &mx, &my, &mw, &mh)) return false;
    return d->screen.width == mw && d->screen.height == mh;
}

// The screen size of a full screen: the monitor's for a display that
// scales to fit it; else what was asked for, where the window fits in it,
// and the window's outer size where nothing was asked or it does not fit.
int ChooseScreenSize(qbDisplay* d) {
    int32_t mx = 0, my = 0, mw = 0, mh = 0;
    if (GetDisplayMonitorInfo(d, &mx, &my, &mw, &mh)) return ERR_GETMONITORINFO;
    qbScreenMode& s = d->screen;
    if ((d->autoscale || d->layerScale) && (d->flags & kDispFitScale)) {
        if (s.width <= 0 || s.height <= 0) {
            s.width = mw;
            s.height = mh;
        }
        return 0;
    }
    const bool given = s.width > 0 && s.height > 0;
    const int32_t refWidth = given ? s.width : mw, refHeight = given ? s.height : mh;
    if (int err = DetermineDisplayBorders(d)) return err;
    const bool fits = int64_t{d->width} + d->borderWidth <= refWidth && int64_t{d->height} + d->borderHeight <= refHeight;
    if (!fits && !(d->flags & kDispBorderless) && d->width <= refWidth && d->height <= refHeight) {
        d->flags |= kDispBorderless;
        if (int err = DetermineDisplayBorders(d)) return err;
    }
    const int32_t outerWidth = d->width + d->borderWidth, outerHeight = d->height + d->borderHeight;
    if (s.width <= 0 || outerWidth > refWidth) s.width = outerWidth;
    if (s.height <= 0 || outerHeight > refHeight) s.height = outerHeight;
    return 0;
}

std::vector<std::pair<int32_t, int32_t>> MonitorOrigins() {
    std::vector<std::pair<int32_t, int32_t>> origins;
    MonitorList list = GetMonitorList(nullptr);
    for (const qbMonitorEntry* m = list.get(); m; m = m->next.get()) origins.emplace_back(m->x, m->y);
    return origins;
}

// A mode switch may move the monitors beside the switched one: their full
// screens move with them.
void FollowMonitorOrigins(const qbDisplay* d, const std::vector<std::pair<int32_t, int32_t>>& before) {
    const auto after = MonitorOrigins();
    for (qbDisplay* other = FirstDisplay(); other; other = NextDisplay(other)) {
        if (other == d || !other->fullScreen || other->monitor == d->monitor || other->state == DISPSTATE_CLOSED)
            continue;
        const auto m = static_cast<size_t>(other->monitor);
        if (m >= before.size() || m >= after.size() || before[m] == after[m]) continue;
        other->x += after[m].first - before[m].first;
        other->y += after[m].second - before[m].second;
        MoveDisplayWindow(other);
    }
}

// 0 normal; 1 or 2 while a display fills a monitor (2 when nothing of the
// title bar stays).
int PresentationModeNow() {
    for (qbDisplay* d = FirstDisplay(); d; d = NextDisplay(d)) {
        if (!IsFullScreenOwner(d)) continue;
        return EffectiveBackfill(d, true).hideTitleBar ? 2 : 1;
    }
    return 0;
}

// Ends a full screen that could not be completed.
void LeaveFullScreen(ScriptState* L, qbDisplay* d) {
    FreeBackfillObjects(L, d);
    SyncWindowView(d);
    RestoreDisplayMode(d);
    d->fullScreen = 0;
    SetPresentationMode(PresentationModeNow());
}

// Entering full screen through a mode change remembers the window; leaving
// puts it back.
void SaveOrRestorePlacement(qbDisplay* d, bool entering) {
    if (entering) {
        d->savedX = d->x;
        d->savedY = d->y;
        d->savedFlags = d->flags;
        d->savedValid = 1;
        d->x = d->y = kPositionCenter;
        d->relativeX = d->relativeY = 1;
        d->flags = (d->flags | kDispBorderless | kDispFixed) & ~uint32_t{kDispSizeable};
        return;
    }
    if (d->savedValid) {
        d->x = d->savedX;
        d->y = d->savedY;
        d->flags = d->savedFlags;
        d->savedValid = 0;
    } else {
        d->flags &= ~uint32_t{kDispBorderless | kDispFixed};
        d->x = d->y = kPositionCenter;
        d->relativeX = d->relativeY = 1;
    }
}

int RestoreWindowSize(ScriptState* L, qbDisplay* d) {
    const bool scaling = d->autoscale || d->layerScale;
    if (d->fullScreen || scaling || d->restoreWidth <= 0 || d->restoreHeight <= 0 ||
        (d->restoreWidth == d->width && d->restoreHeight == d->height))
        return 0;
    qbResizeRequest r;
    r.width = d->restoreWidth;
    r.height = d->restoreHeight;
    r.noWindow = true;
    r.smooth = d->smoothScale != 0;
    if (int err = ResizeDisplay(L, d, r)) return err;
    PostEvent(d, kEventResized, d->width, d->height, 0, nullptr);
    return 0;
}

// The part of an open that may fail once the screen went dark: the mode
// switch, the first display's preparation, the backfill and the windows.
int SwitchAndRealize(ScriptState* L, qbDisplay* d, uint32_t flags, bool wasFullScreen) {
    const bool adapter = HasDisplayAdapter();
    if (!adapter) {
        SetPresentationMode(PresentationModeNow());
        const auto origins = MonitorOrigins();
        SyncWindowView(d);
        if (d->fullScreen) {
            if (int err = SetFullScreenMode(d, d->screen.width, d->screen.height)) return err;
        } else if (wasFullScreen) {
            if (int err = RestoreDisplayMode(d)) return err;
        }
        FollowMonitorOrigins(d, origins);
    }
    if (flags & kOpenFirstDisplay) {
        if (int err = PrepareFirstDisplay(L, d)) return err;
        for (qbDisplay* other = FirstDisplay(); other; other = NextDisplay(other)) {
            if (int err = ApplyInitialScaling(L, other)) return err;
        }
    }
    const qbBackfillOptions backfill = EffectiveBackfill(d, d->fullScreen != 0);
    if (backfill.type != 0) {
        if (int err = MakeBackfillDisplay(L, d, backfill)) return err;
    }
    if (int err = RestoreWindowSize(L, d)) return err;
    qbDisplay* behind = nullptr;
    if (GetDisplayRecord(d->backfillDisplay, &behind) == 0 && behind->state == DISPSTATE_CLOSED) {
        if (int err = RealizeDisplay(L, behind, false, false)) return err;
    }
    if (int err = RealizeDisplay(L, d, d->activateOnOpen != 0, false)) return err;
    const qbDisplayBrushHooks& brushes = DisplayBrushHooks();
    return brushes.restoreHardware ? brushes.restoreHardware(L, d) : 0;
}

// Opens a closed display in the mode its record asks for; wasFullScreen
// tells whether it filled its monitor before (a mode change), faded that the
// caller has faded the screen out already.
int OpenInMode(ScriptState* L, qbDisplay* d, uint32_t flags, bool wasFullScreen, bool faded) {
    const bool adapter = HasDisplayAdapter();
    const int32_t mode = d->screen.mode;
    const bool modeChange = (flags & kOpenModeChange) != 0;
    if (mode == DISPMODE_FAKEFULLSCREEN) {
        d->flags |= kDispBorderless | kDispFixed | kDisplayFakeFullScreen;
    } else if (!modeChange) {
        d->flags &= ~uint32_t{kDisplayFakeFullScreen};
        if (mode == DISPMODE_FULLSCREEN && !(d->flags & kDisplayKeepBorder)) d->flags |= kDispBorderless | kDispFixed;
    }
    d->fullScreen = mode == DISPMODE_FULLSCREEN ? 1 : 0;
    if (d->fullScreen) {
        if (int err = ChooseScreenSize(d)) {
            d->fullScreen = 0;
            return err;
        }
    }
    void* token = nullptr;
    const bool fade = !faded && !adapter && (d->fullScreen != 0) != wasFullScreen;
    if (fade) FadeDisplayOut(&token, 1);
    int err = SwitchAndRealize(L, d, flags, wasFullScreen);
    if (err) {
        const bool fullScreen = d->fullScreen != 0;
        if (d->state != DISPSTATE_CLOSED) CloseDisplayCore(L, d, kCloseModeSwitch | kCloseNoFadeIn);
        if (fullScreen) {
            LeaveFullScreen(L, d);
        } else {
            FreeBackfillObjects(L, d);
        }
    }
    if (fade) FadeDisplayIn(token, 0);
    return err;
}

// The window's own full-screen switch (Alt+Return): the display asks for
// the mode at its present size.
int SwitchModeFromWindow(ScriptState* L, qbDisplay* d, int fullScreen) {
    const qbScreenMode saved = d->screen;
    d->screen.mode = fullScreen ? DISPMODE_FULLSCREEN : DISPMODE_WINDOWED;
    d->screen.width = d->width;
    d->screen.height = d->height;
    const int err = OpenDisplayWindow(L, d, kOpenTakeMonitor | kOpenModeChange);
    if (err) d->screen = saved;
    return err;
}

}  // namespace

void InstallWindowModeSwitch(qbDisplay* d) { d->view.switchMode = &SwitchModeFromWindow; }

int OpenDisplayWindow(ScriptState* L, qbDisplay* d, uint32_t flags) {
    const bool modeChange = (flags & kOpenModeChange) != 0;
    if (d->state != DISPSTATE_CLOSED && !modeChange) return 0;
    if (d->screen.desktop) {
        if (HasDisplayAdapter()) return ERR_DISPLAYADAPTERSUPPORT;
        if (d->autoscale || d->layerScale) return ERR_DDAUTOSCALE;
        d->screen.mode = DISPMODE_WINDOWED;
        d->flags = kDispBorderless | kDispFixed | kDispNoModeSwitch | kDispNoHide | kDispActive;
    }
    if (int err = ChooseDisplayMode(L, d)) return err;
    const bool wantFull = d->screen.mode == DISPMODE_FULLSCREEN;
    if (modeChange && d->state != DISPSTATE_CLOSED) {
        if (!wantFull && !d->fullScreen) return 0;
        if (wantFull && d->fullScreen && ScreenMatchesMonitor(d)) return 0;
    }
    if ((flags & kOpenTakeMonitor) && !d->fullScreen) d->monitor = GetDisplayMonitorIndex(d);
    // Refused before anything closes: the display stays as it is.
    if (wantFull && !HasDisplayAdapter()) {
        if (int err = CheckMonitorFree(d)) return err;
    }
    if (!modeChange || d->state == DISPSTATE_CLOSED) {
        if (modeChange) flags &= ~uint32_t{kOpenModeChange};
        return OpenInMode(L, d, flags, false, false);
    }
    const bool wasFull = d->fullScreen != 0;
    // What the display is now, to open again as it was when the new mode
    // cannot be had.
    WindowState before = Snapshot(d);
    before.screen.mode = wasFull ? DISPMODE_FULLSCREEN
                                 : (d->flags & kDisplayFakeFullScreen) ? DISPMODE_FAKEFULLSCREEN : DISPMODE_WINDOWED;
    if (wasFull) {
        int32_t mx = 0, my = 0;
        GetDisplayMonitorInfo(d, &mx, &my, &before.screen.width, &before.screen.height);
    }
    // The screen goes dark while the window is still there to fade.
    void* token = nullptr;
    const bool fade = wantFull != wasFull && !HasDisplayAdapter();
    if (fade) FadeDisplayOut(&token, 1);
    uint32_t closeFlags = kCloseKeepBrushes | kCloseNoFadeIn;
    if (!(flags & kOpenMonitorChange)) closeFlags |= kCloseModeSwitch;
    int err = CloseDisplayCore(L, d, closeFlags);
    if (err == 0) {
        FreeBackfillObjects(L, d);
        if (wantFull != wasFull) SaveOrRestorePlacement(d, wantFull);
        err = OpenInMode(L, d, flags & ~uint32_t{kOpenFirstDisplay}, wasFull, true);
        if (err) {
            const WindowState now = Snapshot(d);
            PutBack(d, before);
            if (wantFull != wasFull) d->savedValid = 0;
            if (OpenInMode(L, d, 0, false, true) != 0) PutBack(d, now);
        }
    }
    if (fade) FadeDisplayIn(token, 0);
    return err;
}

int CloseDisplayCore(ScriptState* L, qbDisplay* d, uint32_t flags) {
    if (d->state == DISPSTATE_CLOSED) {
        if (flags & kCloseFreeBackfill) FreeBackfillObjects(L, d);
        return 0;
    }
    const bool wasFullScreen = d->fullScreen != 0;
    if (const qbDisplayAdapterSlots* s = DisplayAdapterSlots()) {
        // The adapter's bitmaps of this display go with its window.
        if (DisplayBrushHooks().saveHardware) DisplayBrushHooks().saveHardware(L, d);
        if (int err = CallSlot(s->CloseDisplay, d->adapterHandle)) return err;
        d->adapterHandle = nullptr;
        if (flags & kCloseFreeBackfill) FreeBackfillObjects(L, d);
    } else {
        const bool owner = IsFullScreenOwner(d);
        void* token = nullptr;
        if (owner && !(flags & (kCloseModeSwitch | kCloseNoFadeIn))) FadeDisplayOut(&token, 1);
        // The user may have moved the window: it opens again where it was.
        if (!d->fullScreen) {
            d->x = d->view.x;
            d->y = d->view.y;
        }
        // The videos play on unseen until the window is back.
        SuspendDisplayVideos(d);
        CloseNativeWindow(d);
        if (owner && !(flags & kCloseModeSwitch)) {
            FreeBackfillObjects(L, d);
            const int32_t monitor = d->monitor;
            if (d->previousMonitor) d->monitor = d->previousMonitor - 1;
            SyncWindowView(d);
            RestoreDisplayMode(d);
            d->monitor = monitor;
            d->previousMonitor = 0;
            d->fullScreen = 0;
            SetPresentationMode(PresentationModeNow());
            if (!(flags & kCloseNoFadeIn)) FadeDisplayIn(token, 0);
        } else if (flags & kCloseFreeBackfill) {
            FreeBackfillObjects(L, d);
        }
    }
    if (!d->fullScreen) {
        d->restoreWidth = d->width;
        d->restoreHeight = d->height;
    }
    SaveDisplayPlacement(L, d, wasFullScreen);
    ResetDisplayInput(d);
    d->state = DISPSTATE_CLOSED;
    d->activateOnOpen = 0;
    d->fullScreen = 0;
    return 0;
}
