// Copies of a rectangle of the desktop. On X11 the root window is read, so
// other programs' windows show as they are; where no desktop can be read
// (SDL's dummy or offscreen driver, a Wayland session without X access)
// the player's own windows are composed on black. A monitor in a virtual
// mode is read as its virtual screen, from the windows composed on it.
#include <SDL_syswm.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstring>

#include "core/pixelformats.h"
#include "platform/linux/sdl_backend.h"

namespace sdl_backend {

namespace {

constexpr uint32_t kBlack = 0;

int ShiftOf(uint32_t mask) {
    int shift = 0;
    while (mask && !(mask & 1u)) {
        mask >>= 1;
        ++shift;
    }
    return shift;
}

// The top eight bits of a colour channel under its mask.
uint32_t Channel(uint32_t pixel, uint32_t mask) {
    if (!mask) return 0;
    const uint32_t value = (pixel & mask) >> ShiftOf(mask);
    const uint32_t width = static_cast<uint32_t>(__builtin_popcount(mask));
    return width >= 8 ? value >> (width - 8) : value << (8 - width);
}

void Store(qbNativeBitmap& out, int x, int y, uint32_t rgb) {
    const uint8_t channels[3] = {static_cast<uint8_t>(rgb >> 16), static_cast<uint8_t>(rgb >> 8),
                                 static_cast<uint8_t>(rgb)};
    WritePixelRGB(out.pixels.get() + static_cast<ptrdiff_t>(y) * out.bytesPerRow +
                      static_cast<ptrdiff_t>(x) * out.bytesPerPixel,
                  out.pixelFormat, channels);
}

NativeBitmapPtr BlackBitmap(int width, int height) {
    NativeBitmapPtr out(AllocNativeBitmap(width, height));
    if (!out) return nullptr;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) Store(*out, x, y, kBlack);
    return out;
}

// Converts the image into the bitmap at (dx, dy); false for a depth that
// cannot be read.
bool ConvertInto(const GrabbedImage& image, qbNativeBitmap& out, int dx, int dy) {
    if (image.bitsPerPixel != 32 && image.bitsPerPixel != 16) return false;
    for (int y = 0; y < image.height; ++y) {
        const uint8_t* row = image.pixels + static_cast<ptrdiff_t>(y) * image.pitch;
        for (int x = 0; x < image.width; ++x) {
            uint32_t rgb;
            if (image.bitsPerPixel == 32) {
                uint32_t p;
                std::memcpy(&p, row + static_cast<ptrdiff_t>(x) * 4, 4);
                rgb = (Channel(p, image.redMask) << 16) | (Channel(p, image.greenMask) << 8) | Channel(p, image.blueMask);
            } else {
                uint16_t p;
                std::memcpy(&p, row + static_cast<ptrdiff_t>(x) * 2, 2);
                rgb = Rgb1555ToRGB(p);
            }
            Store(out, dx + x, dy + y, rgb);
        }
    }
    return true;
}

// X errors (a window gone, a rectangle off the root) must not end the
// process: they only make this grab fail.
int IgnoreXError(Display*, XErrorEvent*) { return 0; }

SDL_Window* AnyPlayerWindow() {
    for (const auto& d : S().desktops)
        if (d->window) return d->window;
    for (const auto& w : S().windows)
        if (w->window) return w->window;
    return nullptr;
}

// The root window's rectangle; null when the windows are not on X.
NativeBitmapPtr GrabFromX(int x, int y, int width, int height, bool* noX) {
    *noX = true;
    SDL_Window* window = AnyPlayerWindow();
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!window || !SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return nullptr;
    *noX = false;
    Display* display = info.info.x11.display;
    const Window root = DefaultRootWindow(display);
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, root, &attributes)) return nullptr;
    NativeBitmapPtr out = BlackBitmap(width, height);
    if (!out) return nullptr;
    const int x0 = std::max(x, 0), y0 = std::max(y, 0);
    const int x1 = static_cast<int>(std::min<int64_t>(int64_t{x} + width, attributes.width));
    const int y1 = static_cast<int>(std::min<int64_t>(int64_t{y} + height, attributes.height));
    if (x0 >= x1 || y0 >= y1) return out;
    XSync(display, False);
    auto* previous = XSetErrorHandler(IgnoreXError);
    XImage* image = XGetImage(display, root, x0, y0, static_cast<unsigned>(x1 - x0), static_cast<unsigned>(y1 - y0),
                              AllPlanes, ZPixmap);
    XSync(display, False);
    XSetErrorHandler(previous);
    if (!image) return nullptr;
    const GrabbedImage grabbed{reinterpret_cast<const uint8_t*>(image->data), image->width, image->height,
                               image->bytes_per_line, image->bits_per_pixel, static_cast<uint32_t>(image->red_mask),
                               static_cast<uint32_t>(image->green_mask), static_cast<uint32_t>(image->blue_mask)};
    const bool converted = ConvertInto(grabbed, *out, x0 - x, y0 - y);
    XDestroyImage(image);
    return converted ? std::move(out) : nullptr;
}

// Copies the surface, placed at (left, top), into the grab of the
// rectangle at (x, y); with a clip, only what lies inside it.
void CopySurface(const SDL_Surface* from, int left, int top, qbNativeBitmap& out, int x, int y,
                 const SDL_Rect* clip = nullptr) {
    const auto outside = [clip](int64_t at, int64_t lo, int64_t extent) {
        return clip && (at < lo || at >= lo + extent);
    };
    for (int row = 0; row < from->h; ++row) {
        const int64_t ty = int64_t{top} + row - y;
        if (ty < 0 || ty >= out.height || outside(int64_t{top} + row, clip ? clip->y : 0, clip ? clip->h : 0)) continue;
        const auto* p = static_cast<const uint8_t*>(from->pixels) + static_cast<ptrdiff_t>(row) * from->pitch;
        for (int col = 0; col < from->w; ++col) {
            const int64_t tx = int64_t{left} + col - x;
            if (tx < 0 || tx >= out.width || outside(int64_t{left} + col, clip ? clip->x : 0, clip ? clip->w : 0))
                continue;
            uint32_t pixel = 0;
            std::memcpy(&pixel, p + static_cast<ptrdiff_t>(col) * from->format->BytesPerPixel,
                        from->format->BytesPerPixel);
            uint8_t r, g, b;
            SDL_GetRGB(pixel, from->format, &r, &g, &b);
            Store(out, static_cast<int>(tx), static_cast<int>(ty), (uint32_t{r} << 16) | (uint32_t{g} << 8) | b);
        }
    }
}

// The player's windows as they show, on black, the oldest lowest; the
// desktop windows of full screens above them.
NativeBitmapPtr ComposePlayerWindows(int x, int y, int width, int height) {
    NativeBitmapPtr out = BlackBitmap(width, height);
    if (!out) return nullptr;
    std::vector<const qbNativeWindow*> windows;
    for (const auto& w : S().windows)
        if (w->window) windows.push_back(w.get());
    std::sort(windows.begin(), windows.end(),
              [](const qbNativeWindow* a, const qbNativeWindow* b) { return a->openOrder < b->openOrder; });
    for (const qbNativeWindow* w : windows) {
        int left = 0, top = 0;
        SDL_GetWindowPosition(w->window, &left, &top);
        if (const SDL_Surface* s = SDL_GetWindowSurface(w->window)) CopySurface(s, left, top, *out, x, y);
    }
    for (const auto& d : S().desktops) {
        int left = 0, top = 0;
        SDL_GetWindowPosition(d->window, &left, &top);
        if (const SDL_Surface* s = SDL_GetWindowSurface(d->window)) CopySurface(s, left, top, *out, x, y);
    }
    return out;
}

// The monitor in a virtual mode that the display's window lies on, if any.
const Desktop* VirtualScreenOf(const qbDisplay* display) {
    const qbNativeWindow* w = display ? FindWindow(display) : nullptr;
    return w ? FindDesktop(MonitorIndex(w->view->monitor)) : nullptr;
}

// A rectangle of a virtual screen, whose top left lies at its monitor's:
// the windows on it as they compose it, black around them and past its
// edges. The desktop window only shows this screen scaled.
NativeBitmapPtr GrabVirtualScreen(const Desktop& d, int x, int y, int width, int height) {
    NativeBitmapPtr out = BlackBitmap(width, height);
    if (!out) return nullptr;
    SDL_Rect bounds{0, 0, 0, 0};
    SDL_GetDisplayBounds(d.monitor, &bounds);
    const SDL_Rect screen{bounds.x, bounds.y, d.width, d.height};
    for (const qbNativeWindow* w : ScreenWindows(d)) {
        SDL_Rect place;
        if (PlaceOnScreen(*w, d, place)) CopySurface(w->buffer, bounds.x + place.x, bounds.y + place.y, *out, x, y, &screen);
    }
    return out;
}

}  // namespace

uint32_t Rgb1555ToRGB(uint16_t p) {
    return ((uint32_t{p} & 0x7C00u) << 9) | ((uint32_t{p} & 0x3E0u) << 6) | ((uint32_t{p} & 0x1Fu) << 3);
}

NativeBitmapPtr ConvertGrabbedImage(const GrabbedImage& image) {
    if (image.width <= 0 || image.height <= 0) return nullptr;
    NativeBitmapPtr out(AllocNativeBitmap(image.width, image.height));
    if (!out || !ConvertInto(image, *out, 0, 0)) return nullptr;
    return out;
}

NativeBitmapPtr GrabScreenRegion(qbDisplay* display, int x, int y, int width, int height) {
    if (!S().video || width <= 0 || height <= 0) return nullptr;
    // Positions on a monitor in a virtual mode are the virtual screen's.
    if (const Desktop* d = VirtualScreenOf(display)) return GrabVirtualScreen(*d, x, y, width, height);
    bool noX = true;
    NativeBitmapPtr grabbed = GrabFromX(x, y, width, height, &noX);
    if (!noX) return grabbed;
    return ComposePlayerWindows(x, y, width, height);
}

}  // namespace sdl_backend
