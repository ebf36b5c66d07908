// Virtual display modes. The real mode of a monitor never changes, so a
// crash cannot leave the desktop in another resolution: a full screen asks
// for a width x height screen, the monitor reports that size from then on,
// and one borderless desktop-sized window shows the screen scaled up with
// its aspect kept. The windows placed on that screen have no SDL window of
// their own; each draws into a picture that a present composes.
#include <algorithm>
#include <cstring>

#include "core/chars.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "platform/linux/sdl_backend.h"

namespace sdl_backend {

namespace {

constexpr uint32_t kOpaque = 0xFF000000u;
constexpr uint32_t kSmoothScale = 0x80;
// Past this many rectangles one present of the whole screen is cheaper.
constexpr size_t kMaxDirtyRects = 64;

SDL_Rect MonitorBounds(int monitor) {
    SDL_Rect r{0, 0, 0, 0};
    SDL_GetDisplayBounds(monitor, &r);
    return r;
}

// The smallest destination column (or row) whose nearest source lies at or
// past source pixel s.
int FirstDestinationOf(int s, int source, int destination) {
    // (2d + 1) * source >= 2 * s * destination
    const int64_t num = int64_t{2} * s * destination - source;
    if (num <= 0) return 0;
    const int64_t den = int64_t{2} * source;
    return static_cast<int>((num + den - 1) / den);
}

void ComposeRect(Desktop& d, const SDL_Rect& area) {
    for (int y = area.y; y < area.y + area.h; ++y)
        std::fill_n(d.screen.begin() + static_cast<ptrdiff_t>(y) * d.width + area.x, area.w, kOpaque);
    for (const qbNativeWindow* w : ScreenWindows(d)) {
        SDL_Rect place, part;
        if (!PlaceOnScreen(*w, d, place) || !SDL_IntersectRect(&place, &area, &part)) continue;
        const SDL_Surface* b = w->buffer;
        for (int y = part.y; y < part.y + part.h; ++y) {
            const auto* from = reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(b->pixels) +
                                                                 static_cast<ptrdiff_t>(y - place.y) * b->pitch) +
                               (part.x - place.x);
            uint32_t* to = d.screen.data() + static_cast<ptrdiff_t>(y) * d.width + part.x;
            for (int x = 0; x < part.w; ++x) to[x] = from[x] | kOpaque;
        }
    }
}

// The desktop rectangle that shows a rectangle of the screen.
SDL_Rect DestinationOf(const SDL_Rect& r, const ScreenPlacement& p, int sw, int sh) {
    const int x0 = FirstDestinationOf(r.x, sw, p.width), x1 = FirstDestinationOf(r.x + r.w, sw, p.width);
    const int y0 = FirstDestinationOf(r.y, sh, p.height), y1 = FirstDestinationOf(r.y + r.h, sh, p.height);
    return SDL_Rect{p.x + x0, p.y + y0, std::min(x1, p.width) - x0, std::min(y1, p.height) - y0};
}

// The bars beside the screen stay black.
void ClearBars(SDL_Surface* target, const ScreenPlacement& p) {
    const uint32_t black = SDL_MapRGB(target->format, 0, 0, 0);
    const SDL_Rect bars[4] = {{0, 0, target->w, p.y},
                              {0, p.y + p.height, target->w, target->h - p.y - p.height},
                              {0, p.y, p.x, p.height},
                              {p.x + p.width, p.y, target->w - p.x - p.width, p.height}};
    for (const SDL_Rect& r : bars)
        if (r.w > 0 && r.h > 0) SDL_FillRect(target, &r, black);
}

}  // namespace

int MonitorIndex(int monitor) {
    const int count = SDL_GetNumVideoDisplays();
    return monitor >= 0 && monitor < count ? monitor : 0;
}

Desktop* FindDesktop(int monitor) {
    for (const auto& d : S().desktops)
        if (d->monitor == monitor) return d.get();
    return nullptr;
}

Desktop* FindDesktopById(uint32_t windowId) {
    for (const auto& d : S().desktops)
        if (d->windowId == windowId) return d.get();
    return nullptr;
}

ScreenPlacement FitScreen(int sw, int sh, int dw, int dh) {
    ScreenPlacement p;
    if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) return p;
    if (int64_t{dw} * sh <= int64_t{dh} * sw) {
        p.width = dw;
        p.height = static_cast<int>(int64_t{dw} * sh / sw);
    } else {
        p.height = dh;
        p.width = static_cast<int>(int64_t{dh} * sw / sh);
    }
    p.x = (dw - p.width) / 2;
    p.y = (dh - p.height) / 2;
    return p;
}

bool PlaceOnScreen(const qbNativeWindow& w, const Desktop& d, SDL_Rect& out) {
    const qbWindowView& v = *w.view;
    if (!w.buffer || MonitorIndex(v.monitor) != d.monitor || v.state == kWindowClosed) return false;
    const SDL_Rect bounds = MonitorBounds(d.monitor);
    const int64_t x = int64_t{v.x} + v.borderLeft - bounds.x, y = int64_t{v.y} + v.borderTop - bounds.y;
    const SDL_Rect screen{0, 0, d.width, d.height};
    const SDL_Rect place{static_cast<int>(std::clamp<int64_t>(x, -d.width, d.width)),
                         static_cast<int>(std::clamp<int64_t>(y, -d.height, d.height)), w.buffer->w, w.buffer->h};
    if (!SDL_IntersectRect(&place, &screen, &out)) return false;
    out = place;
    return true;
}

void MarkWindowDirty(qbNativeWindow& w, const SDL_Rect& rect) {
    S().anyDirty = true;
    if (!w.buffer) {
        if (w.dirtyAll) return;
        if (w.dirty.size() >= kMaxDirtyRects) {
            w.dirty.clear();
            w.dirtyAll = true;
            return;
        }
        // Only what lies on the window's surface as it is now: a rectangle
        // of a larger surface it had is no longer there to update.
        SDL_Surface* s = w.window ? SDL_GetWindowSurface(w.window) : nullptr;
        const SDL_Rect whole{0, 0, s ? s->w : 0, s ? s->h : 0};
        SDL_Rect part;
        if (SDL_IntersectRect(&rect, &whole, &part)) w.dirty.push_back(part);
        return;
    }
    Desktop* d = FindDesktop(MonitorIndex(w.view->monitor));
    SDL_Rect place, part;
    if (!d || !PlaceOnScreen(w, *d, place)) return;
    const SDL_Rect moved{rect.x + place.x, rect.y + place.y, rect.w, rect.h};
    const SDL_Rect screen{0, 0, d->width, d->height};
    if (!SDL_IntersectRect(&moved, &screen, &part) || d->dirtyAll) return;
    if (d->dirty.size() >= kMaxDirtyRects) {
        d->dirty.clear();
        d->dirtyAll = true;
        return;
    }
    d->dirty.push_back(part);
}

void PresentDesktop(Desktop& d) {
    SDL_Surface* target = SDL_GetWindowSurface(d.window);
    if (!target) return;
    const int level = FadeLevel();
    const bool all = d.dirtyAll || level < 256 || Fading();
    if (!all && d.dirty.empty()) return;
    if (all) {
        d.dirty.assign(1, SDL_Rect{0, 0, d.width, d.height});
    }
    const ScreenPlacement p = FitScreen(d.width, d.height, target->w, target->h);
    if (p.width <= 0 || p.height <= 0) return;
    // The newest window on the screen decides the filter.
    const qbNativeWindow* owner = DesktopOwner(d);
    const bool smooth = owner && (owner->view->flags & kSmoothScale);
    std::vector<SDL_Rect> shown;
    if (SDL_LockSurface(target) != 0) return;
    for (const SDL_Rect& r : d.dirty) {
        ComposeRect(d, r);
        SDL_Rect out = DestinationOf(r, p, d.width, d.height);
        // Smooth pixels read their right and lower neighbours too.
        if (smooth) {
            const SDL_Rect whole{p.x, p.y, p.width, p.height};
            SDL_Rect grown{out.x - 2, out.y - 2, out.w + 4, out.h + 4}, clipped;
            if (!SDL_IntersectRect(&grown, &whole, &clipped)) continue;
            out = clipped;
        }
        if (out.w <= 0 || out.h <= 0) continue;
        ScaleScreenRect(d, target, p, out, smooth, level);
        shown.push_back(out);
    }
    SDL_UnlockSurface(target);
    if (all) {
        ClearBars(target, p);
        SDL_UpdateWindowSurface(d.window);
    } else if (!shown.empty()) {
        SDL_UpdateWindowSurfaceRects(d.window, shown.data(), static_cast<int>(shown.size()));
    }
    d.dirty.clear();
    d.dirtyAll = false;
    ++d.presents;
}

qbNativeWindow* WindowAtDesktopPoint(const Desktop& d, int& x, int& y) {
    SDL_Surface* target = SDL_GetWindowSurface(d.window);
    if (!target) return nullptr;
    const ScreenPlacement p = FitScreen(d.width, d.height, target->w, target->h);
    if (x < p.x || y < p.y || x >= p.x + p.width || y >= p.y + p.height) return nullptr;
    const int sx = NearestSource(x - p.x, d.width, p.width), sy = NearestSource(y - p.y, d.height, p.height);
    const std::vector<qbNativeWindow*> windows = ScreenWindows(d);
    for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
        SDL_Rect place;
        PlaceOnScreen(**it, d, place);
        const SDL_Point point{sx, sy};
        if (!SDL_PointInRect(&point, &place)) continue;
        x = sx - place.x;
        y = sy - place.y;
        return *it;
    }
    return nullptr;
}

std::vector<qbNativeWindow*> ScreenWindows(const Desktop& d) {
    std::vector<qbNativeWindow*> out;
    SDL_Rect place;
    for (const auto& w : S().windows)
        if (PlaceOnScreen(*w, d, place)) out.push_back(w.get());
    std::sort(out.begin(), out.end(), [](const qbNativeWindow* a, const qbNativeWindow* b) { return a->openOrder < b->openOrder; });
    return out;
}

qbNativeWindow* DesktopOwner(const Desktop& d) {
    const std::vector<qbNativeWindow*> windows = ScreenWindows(d);
    return windows.empty() ? nullptr : windows.back();
}

void DestroyDesktops() {
    for (const auto& d : S().desktops)
        if (d->window) SDL_DestroyWindow(d->window);
    S().desktops.clear();
}

int SetFullScreenMode(qbDisplay* display, int width, int height) {
    Session& s = S();
    if (!s.video) return ERR_SCREEN;
    const qbNativeWindow* w = FindWindow(display);
    const int monitor = MonitorIndex(w ? w->view->monitor : 0);
    // The largest mode the monitor offers; some drivers list modes of no
    // size and only know the desktop's.
    int largestWidth = 0, largestHeight = 0;
    SDL_DisplayMode mode{};
    if (SDL_GetDesktopDisplayMode(monitor, &mode) == 0) {
        largestWidth = mode.w;
        largestHeight = mode.h;
    }
    for (int i = 0; i < SDL_GetNumDisplayModes(monitor); ++i) {
        if (SDL_GetDisplayMode(monitor, i, &mode) != 0) continue;
        largestWidth = std::max(largestWidth, mode.w);
        largestHeight = std::max(largestHeight, mode.h);
    }
    if (width < 1 || height < 1 || width > largestWidth || height > largestHeight) return ERR_SCREEN;
    Desktop* d = FindDesktop(monitor);
    if (!d) {
        const SDL_Rect bounds = MonitorBounds(monitor);
        auto made = std::make_unique<Desktop>();
        made->monitor = monitor;
        const std::string title = Latin1ToUTF8(w ? w->view->title : "Quenbrook");
        made->window = SDL_CreateWindow(title.c_str(), bounds.x, bounds.y, bounds.w, bounds.h,
                                        SDL_WINDOW_SHOWN | SDL_WINDOW_BORDERLESS | SDL_WINDOW_FULLSCREEN_DESKTOP);
        if (!made->window || !SDL_GetWindowSurface(made->window)) {
            SetErrorDetail(SDL_GetError());
            if (made->window) SDL_DestroyWindow(made->window);
            return ERR_SCREEN;
        }
        made->windowId = SDL_GetWindowID(made->window);
        d = made.get();
        s.desktops.push_back(std::move(made));
    }
    d->width = width;
    d->height = height;
    d->screen.assign(static_cast<size_t>(width) * static_cast<size_t>(height), kOpaque);
    d->dirty.clear();
    d->dirtyAll = true;
    s.anyDirty = true;
    return 0;
}

int RestoreDisplayMode(qbDisplay* display) {
    Session& s = S();
    const qbNativeWindow* w = FindWindow(display);
    const int monitor = MonitorIndex(w ? w->view->monitor : 0);
    auto it = std::find_if(s.desktops.begin(), s.desktops.end(), [&](const auto& d) { return d->monitor == monitor; });
    if (it == s.desktops.end()) return 0;
    if ((*it)->window) SDL_DestroyWindow((*it)->window);
    s.desktops.erase(it);
    return 0;
}

// The desktop windows are borderless and fill their monitors already; the
// mode is only recorded, and a return to 0 counts only after a change.
void SetPresentationMode(int mode) {
    Session& s = S();
    if (mode == 0 && s.presentationMode == 0) return;
    s.presentationMode = mode;
}

}  // namespace sdl_backend
