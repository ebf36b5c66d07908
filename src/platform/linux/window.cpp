// Display windows on SDL: the window record, opening and closing, placement,
// title, borders, borderless drag and size regions, and the menu strip's
// place above the picture with its item states.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/chars.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/iconlist.h"
#include "platform/linux/sdl_backend.h"

namespace sdl_backend {

namespace {

constexpr int kMinimumWindowSize = 16;

// SDL places the content area; the view holds the outer top-left.
int ContentX(const qbWindowView& v) {
    return v.x == kWindowCentered ? static_cast<int>(SDL_WINDOWPOS_CENTERED) : v.x + v.borderLeft;
}
int ContentY(const qbWindowView& v) {
    return v.y == kWindowCentered ? static_cast<int>(SDL_WINDOWPOS_CENTERED) : v.y + v.borderTop;
}

bool Inside(const std::vector<qbWindowRegion>& regions, const SDL_Point& p) {
    return std::any_of(regions.begin(), regions.end(), [&](const qbWindowRegion& r) {
        return p.x >= r.x && p.y >= r.y && int64_t{p.x} < int64_t{r.x} + r.width &&
               int64_t{p.y} < int64_t{r.y} + r.height;
    });
}

SDL_HitTestResult HitTest(SDL_Window*, const SDL_Point* point, void* data) {
    return WindowHitTest(*static_cast<const qbNativeWindow*>(data)->view, *point);
}

// The frame of a framed window as the window manager drew it; SDL knows it
// once the window is mapped, and never with the dummy driver.
void RememberBorders(const qbNativeWindow& w) {
    int top = 0, left = 0, bottom = 0, right = 0;
    if (w.view->flags & kWindowBorderless) return;
    if (SDL_GetWindowBordersSize(w.window, &top, &left, &bottom, &right) != 0) return;
    Session& s = S();
    s.bordersKnown = true;
    s.borders[0] = left;
    s.borders[1] = top;
    s.borders[2] = right;
    s.borders[3] = bottom;
}

}  // namespace

SDL_HitTestResult WindowHitTest(const qbWindowView& v, const SDL_Point& point) {
    if (!(v.flags & kWindowFixed) && Inside(v.dragRegions, point)) return SDL_HITTEST_DRAGGABLE;
    if ((v.flags & kWindowSizeable) && Inside(v.sizeRegions, point)) return SDL_HITTEST_RESIZE_BOTTOMRIGHT;
    return SDL_HITTEST_NORMAL;
}

void InstallHitTest(qbNativeWindow& w) {
    if (!w.window) return;
    const qbWindowView& v = *w.view;
    const bool regions = (v.flags & kWindowBorderless) && (!v.dragRegions.empty() || !v.sizeRegions.empty());
    SDL_SetWindowHitTest(w.window, regions ? &HitTest : nullptr, regions ? &w : nullptr);
}

int AllocNativeWindowRec(qbWindowView* view, qbDisplay* display) {
    if (!display) return ERR_WINDOW;
    Session& s = S();
    if (FindWindow(display)) return 0;
    auto w = std::make_unique<qbNativeWindow>();
    w->display = display;
    w->view = view ? view : &w->ownView;
    s.windows.push_back(std::move(w));
    return 0;
}

void FreeNativeWindowRec(qbDisplay* display) {
    auto& windows = S().windows;
    auto it = std::find_if(windows.begin(), windows.end(), [&](const auto& w) { return w->display == display; });
    if (it == windows.end()) return;
    if ((*it)->window) SDL_DestroyWindow((*it)->window);
    if ((*it)->buffer) SDL_FreeSurface((*it)->buffer);
    windows.erase(it);
}

int MeasureWindowBorders(qbDisplay* display) {
    qbNativeWindow* w = FindWindow(display);
    if (!w) return 0;
    qbWindowView& v = *w->view;
    if (w->window) RememberBorders(*w);
    const Session& s = S();
    const bool framed = !(v.flags & kWindowBorderless) && s.bordersKnown;
    v.borderLeft = framed ? s.borders[0] : 0;
    v.borderTop = framed ? s.borders[1] : 0;
    v.borderWidth = framed ? s.borders[0] + s.borders[2] : 0;
    v.borderHeight = framed ? s.borders[1] + s.borders[3] : 0;
    return 0;
}

namespace {

// The window system scales one picture to every size it shows: the largest
// of the applet's plain icons, else of its "s" icons.
void SetApplicationIcon(SDL_Window* window) {
    std::vector<qbIconImage> icons;
    GetIconImageList(&icons);
    const qbIconImage* best = nullptr;
    for (const qbIconImage& icon : icons) {
        const bool plain = !(icon.flags & kIconImageSecondKind);
        if (!best || (plain && (best->flags & kIconImageSecondKind)) ||
            (plain == !(best->flags & kIconImageSecondKind) && icon.width > best->width))
            best = &icon;
    }
    if (!best) return;
    SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormatFrom(const_cast<uint32_t*>(best->pixels.data()), best->width,
                                                              best->height, 32, best->width * 4,
                                                              SDL_PIXELFORMAT_ARGB8888);
    if (!surface) return;
    SDL_SetWindowIcon(window, surface);
    SDL_FreeSurface(surface);
}

}  // namespace

namespace {

// A new window starts without requests, pointer or pending drawing.
void StartWindowState(qbNativeWindow& w) {
    static uint64_t opened = 0;
    w.openOrder = ++opened;
    w.closeRequested = w.sizeChanged = w.ctrlC = w.escape = false;
    w.modeSwitch = -1;
    w.pointerKind = kPointerArrow;
    w.pointer = nullptr;
    w.pointerHidden = false;
    w.dirty.clear();
    w.dirtyAll = false;
    w.openTitle = -1;
    w.popups.clear();
    w.menuPress = false;
    w.view->state = kWindowOpen;
}

// A window of a full screen in a virtual mode: a picture on the monitor's
// screen instead of an SDL window.
int CreateScreenWindow(qbNativeWindow& w, Desktop& d) {
    const qbWindowView& v = *w.view;
    w.buffer = SDL_CreateRGBSurfaceWithFormat(0, v.width, v.height, 32, SDL_PIXELFORMAT_ARGB8888);
    if (!w.buffer) {
        SetErrorDetail(SDL_GetError());
        return ERR_WINDOW;
    }
    SDL_FillRect(w.buffer, nullptr, 0xFF000000u);
    StartWindowState(w);
    // Keys and the pointer follow the newest window on the screen.
    for (qbNativeWindow* other : ScreenWindows(d)) other->view->active = 0;
    w.view->active = 1;
    d.dirtyAll = true;
    S().anyDirty = true;
    return 0;
}

void MarkScreenChanged(const qbNativeWindow& w) {
    if (Desktop* d = FindDesktop(MonitorIndex(w.view->monitor))) {
        d->dirtyAll = true;
        S().anyDirty = true;
    }
}

}  // namespace

namespace {

// Cuts the window to the shape (one byte a pixel of the picture, 0 cut away;
// the strip stays whole). SDL holds a shaped window off screen until its
// shape is set, which puts it in place; set last, once the window's surface
// and sizes are made, the shape stays.
void ApplyShape(const qbNativeWindow& w, const uint8_t* shape) {
    const qbWindowView& v = *w.view;
    const int height = v.height + w.strip;
    SDL_Surface* alpha = SDL_CreateRGBSurfaceWithFormat(0, v.width, height, 32, SDL_PIXELFORMAT_ARGB8888);
    if (alpha) {
        for (int y = 0; y < height; ++y) {
            auto* row = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(alpha->pixels) + y * alpha->pitch);
            for (int x = 0; x < v.width; ++x) {
                const bool in = y < w.strip || shape[static_cast<size_t>(y - w.strip) * v.width + x] != 0;
                row[x] = in ? 0xFF000000u : 0;
            }
        }
        SDL_WindowShapeMode mode{};
        mode.mode = ShapeModeBinarizeAlpha;
        mode.parameters.binarizationCutoff = 1;
        SDL_SetWindowShape(w.window, alpha, &mode);
        SDL_FreeSurface(alpha);
    }
    // Setting its sizes, or a shape SDL refused, leaves it where SDL holds it.
    SDL_SetWindowPosition(w.window, ContentX(v), ContentY(v));
}

}  // namespace

// A shape cuts the window where SDL can shape it; elsewhere it opens
// rectangular.
int CreateNativeWindow(qbDisplay* display, int showActivated, qbNativeBitmap*, const uint8_t* shapeMask) {
    qbNativeWindow* w = FindWindow(display);
    if (!w || !S().video) {
        SetErrorDetail(S().video ? "the display has no window record" : "no window system");
        return ERR_WINDOW;
    }
    if (w->window || w->buffer) return 0;
    qbWindowView& v = *w->view;
    if (v.width <= 0 || v.height <= 0) return ERR_WINDOW;
    if (v.fullScreen) {
        if (Desktop* d = FindDesktop(MonitorIndex(v.monitor))) return CreateScreenWindow(*w, *d);
    }
    uint32_t flags = SDL_WINDOW_SHOWN;
    if (v.flags & kWindowBorderless) flags |= SDL_WINDOW_BORDERLESS;
    if (v.flags & kWindowSizeable) flags |= SDL_WINDOW_RESIZABLE;
    SDL_SetHint(SDL_HINT_WINDOW_NO_ACTIVATION_WHEN_SHOWN, showActivated ? "0" : "1");
    const std::string title = Latin1ToUTF8(v.title);
    w->strip = MenuStripHeight(*w);
    // Where SDL cannot shape windows (the dummy driver, Wayland) the window
    // opens rectangular.
    bool shaped = false;
    if (shapeMask) {
        w->window = SDL_CreateShapedWindow(title.c_str(), static_cast<unsigned>(ContentX(v)),
                                           static_cast<unsigned>(ContentY(v)), static_cast<unsigned>(v.width),
                                           static_cast<unsigned>(v.height + w->strip), flags);
        shaped = w->window != nullptr;
    }
    if (!w->window)
        w->window = SDL_CreateWindow(title.c_str(), ContentX(v), ContentY(v), v.width, v.height + w->strip, flags);
    if (!w->window) {
        SetErrorDetail(SDL_GetError());
        return ERR_WINDOW;
    }
    w->windowId = SDL_GetWindowID(w->window);
    SetApplicationIcon(w->window);
    SDL_SetWindowMinimumSize(w->window, kMinimumWindowSize, kMinimumWindowSize);
    // Shaped windows rely on the shared-memory framebuffer the session
    // chooses on X11: an accelerated one would lose the shape.
    SDL_Surface* surface = SDL_GetWindowSurface(w->window);
    char refused[160] = {};
    const bool xFailed = surface && XRequestsFailed(w->window, refused, sizeof refused);
    if (!surface || xFailed) {
        SetErrorDetail(xFailed ? refused : SDL_GetError());
        SDL_DestroyWindow(w->window);
        w->window = nullptr;
        return ERR_WINDOW;
    }
    if (showActivated) SDL_RaiseWindow(w->window);
    if (v.flags & kWindowDisableBlanker) {
        SDL_DisableScreenSaver();
    } else {
        SDL_EnableScreenSaver();
    }
    SDL_StartTextInput();
    InstallHitTest(*w);
    StartWindowState(*w);
    DrawMenuStrip(*w);
    if (shaped) {
        w->shape.assign(shapeMask, shapeMask + static_cast<size_t>(v.width) * v.height);
        w->shapeWidth = v.width;
        ApplyShape(*w, shapeMask);
    }
    return 0;
}

void CloseNativeWindow(qbDisplay* display) {
    qbNativeWindow* w = OpenWindow(display);
    if (!w) return;
    if (w->buffer) {
        SDL_FreeSurface(w->buffer);
        w->buffer = nullptr;
        MarkScreenChanged(*w);
    }
    CloseMenus(*w);
    if (w->window) SDL_DestroyWindow(w->window);
    w->window = nullptr;
    w->windowId = 0;
    w->strip = 0;
    w->shape.clear();
    w->dirty.clear();
    w->dirtyAll = false;
    w->drops.clear();
    w->view->state = kWindowClosed;
    w->view->active = 0;
}

void SetNativeWindowBounds(qbDisplay* display) {
    qbNativeWindow* w = OpenWindow(display);
    if (!w) return;
    const qbWindowView& v = *w->view;
    if (w->buffer) {
        // A picture on a screen: a new size is a new, black picture.
        if (v.width > 0 && v.height > 0 && (v.width != w->buffer->w || v.height != w->buffer->h)) {
            SDL_Surface* resized = SDL_CreateRGBSurfaceWithFormat(0, v.width, v.height, 32, SDL_PIXELFORMAT_ARGB8888);
            if (resized) {
                SDL_FillRect(resized, nullptr, 0xFF000000u);
                SDL_FreeSurface(w->buffer);
                w->buffer = resized;
            }
        }
        MarkScreenChanged(*w);
        return;
    }
    if (v.width > 0 && v.height > 0) SDL_SetWindowSize(w->window, v.width, v.height + w->strip);
    SDL_SetWindowPosition(w->window, ContentX(v), ContentY(v));
    // A new size brings a new surface, blank until the display redraws.
    CloseMenus(*w);
    SDL_GetWindowSurface(w->window);
    DrawMenuStrip(*w);
}

void SetNativeWindowTitle(qbDisplay* display) {
    qbNativeWindow* w = OpenWindow(display);
    if (!w || !w->window) return;
    SDL_SetWindowTitle(w->window, Latin1ToUTF8(w->view->title).c_str());
}

void ActivateNativeWindow(qbDisplay* display) {
    qbNativeWindow* w = OpenWindow(display);
    if (w && w->window) SDL_RaiseWindow(w->window);
}

int CollapseNativeWindow(qbDisplay* display, int minimise) {
    qbNativeWindow* w = OpenWindow(display);
    if (!w || !w->window || w->view->fullScreen) return 0;
    if (minimise) {
        SDL_MinimizeWindow(w->window);
    } else {
        SDL_RestoreWindow(w->window);
    }
    return 0;
}

// The X protocol carries a window's sides in 16 bits: the server refuses a
// side whose low 16 bits are 0 and Xlib cuts any other larger one without a
// word. Other video drivers take every size SDL itself takes.
int IsDisplaySizeSupported(qbDisplay* display) {
    constexpr int64_t kLargestX11Side = 65535;
    const qbNativeWindow* w = FindWindow(display);
    const char* driver = S().video ? SDL_GetCurrentVideoDriver() : nullptr;
    if (!w || !driver || std::strcmp(driver, "x11") != 0) return 1;
    const qbWindowView& v = *w->view;
    return v.width <= kLargestX11Side && int64_t{v.height} + MenuStripHeight(*w) <= kLargestX11Side ? 1 : 0;
}

void UpdateWindowRegions(qbDisplay* display) {
    if (qbNativeWindow* w = OpenWindow(display)) InstallHitTest(*w);
}

// A menu attached to or taken from an open window grows or shrinks it by the
// strip; the picture keeps its pixels and moves with the strip's edge.
int UpdateWindowMenuBar(qbDisplay* display) {
    qbNativeWindow* w = OpenWindow(display);
    if (!w || !w->window) return 0;
    CloseMenus(*w);
    w->menuStates.clear();
    const int strip = MenuStripHeight(*w);
    if (strip != w->strip) {
        const qbWindowView& v = *w->view;
        SDL_Surface* before = SDL_GetWindowSurface(w->window);
        SDL_Surface* picture = before ? SDL_ConvertSurface(before, before->format, 0) : nullptr;
        const int oldStrip = w->strip;
        w->strip = strip;
        SDL_SetWindowSize(w->window, v.width, v.height + strip);
        SDL_Surface* after = SDL_GetWindowSurface(w->window);
        if (!after) {
            if (picture) SDL_FreeSurface(picture);
            SetErrorDetail(SDL_GetError());
            return ERR_CREATEMENU;
        }
        if (picture) {
            SDL_Rect from{0, oldStrip, v.width, v.height}, to{0, strip, v.width, v.height};
            SDL_BlitSurface(picture, &from, after, &to);
            SDL_FreeSurface(picture);
        }
        w->dirty.clear();
        w->dirtyAll = true;
        S().anyDirty = true;
        // A shape made for another size would cut the window wrongly (the
        // display reopens its window when its size changes).
        if (!w->shape.empty() && w->shapeWidth == v.width && w->shape.size() == static_cast<size_t>(v.width) * v.height)
            ApplyShape(*w, w->shape.data());
    }
    DrawMenuStrip(*w);
    return 0;
}

int GetNativeMenuItemState(qbDisplay* display, void* menuItem, uint32_t* outFlags) {
    qbNativeWindow* w = OpenWindow(display);
    if (!w) return ERR_CLOSEDDISPLAY;
    if (outFlags) *outFlags = MenuItemFlags(*w, static_cast<const qbMenuItem*>(menuItem));
    return 0;
}

int SetNativeMenuItemState(qbDisplay* display, void* menuItem, uint32_t setFlags, uint32_t clearFlags) {
    qbNativeWindow* w = OpenWindow(display);
    if (!w) return ERR_CLOSEDDISPLAY;
    constexpr uint32_t kKnown = kMenuItemChecked | kMenuItemDisabled;
    const auto* item = static_cast<const qbMenuItem*>(menuItem);
    const uint32_t flags = MenuItemFlags(*w, item);
    w->menuStates[item] = (flags & ~(clearFlags & kKnown)) | (setFlags & kKnown);
    // An open popup shows the item's new state at once.
    DrawMenuStrip(*w);
    return 0;
}

// Drops are always accepted; the pump posts them only while the display has
// a drop-file handler.
int SetWindowDropTarget(qbDisplay*) { return 0; }

intptr_t GetNativeDisplayAttr(qbDisplay* display, int attribute) {
    const qbNativeWindow* w = FindWindow(display);
    if (!w) return 0;
    const Session& s = S();
    switch (attribute) {
        case 5: return 32;
        case 6: return w->view->mouseX;
        case 7: return w->view->mouseY;
        case 8:
        case 9:
        case 10: return s.quitSwitch[attribute - kQuitShortcutCtrlC] ? 1 : 0;
        case 11:
        case 12: return 16;
        case 16: return 1;
        case 17: return w->strip;
        default: return 0;
    }
}

}  // namespace sdl_backend
