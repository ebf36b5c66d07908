// Drawing straight into display windows. The window surface is the copy of
// what the window shows: every operation writes into it and marks what it
// changed; a blit presents at once, the rest at the next blit, flush or pump.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/linux/sdl_backend.h"
#include "platform/rectrows.h"

namespace sdl_backend {

namespace {

// Blit flags the window cares about.
constexpr uint32_t kBlitAnyState = 16;
constexpr uint32_t kBlitPrescaled = 0x100;
// Marked only: the caller flushes the window once its batch is drawn.
constexpr uint32_t kBlitHold = 0x200;
// Larger than any window or bitmap: coordinates beyond it only overflow.
constexpr int64_t kFar = int64_t{1} << 24;

// The window and its surface when drawing into it is allowed now.
SDL_Surface* DrawTarget(qbDisplay* display, bool anyState, qbNativeWindow** out) {
    qbNativeWindow* w = OpenWindow(display);
    if (!w) return nullptr;
    const int32_t state = w->view->state;
    if (!anyState && state != kWindowOpen && state != kWindowMinimised) return nullptr;
    *out = w;
    return DrawingSurface(*w);
}

// The part of a rectangle of any coordinates that lies on the surface below
// its top rows (the menu strip's).
bool ClipToSurface(const SDL_Surface* surface, int64_t x, int64_t y, int64_t width, int64_t height, SDL_Rect& out,
                   int top = 0) {
    const int64_t x0 = std::max<int64_t>(x, 0), y0 = std::max<int64_t>(y, top);
    const int64_t x1 = std::min<int64_t>(x + width, surface->w), y1 = std::min<int64_t>(y + height, surface->h);
    if (x0 >= x1 || y0 >= y1) return false;
    out = SDL_Rect{static_cast<int>(x0), static_cast<int>(y0), static_cast<int>(x1 - x0), static_cast<int>(y1 - y0)};
    return true;
}

// Cuts a copy along one axis to what exists in both source and destination.
void ClipCopyAxis(int64_t& from, int64_t& to, int64_t& length, int64_t fromSize, int64_t toSize) {
    const int64_t cut = std::max({int64_t{0}, -from, -to});
    from += cut;
    to += cut;
    length = std::min({length - cut, fromSize - from, toSize - to});
}

void MarkDirty(qbNativeWindow& w, const SDL_Surface* surface, SDL_Rect rect) {
    const SDL_Rect whole{0, 0, surface->w, surface->h};
    SDL_Rect clipped;
    if (!SDL_IntersectRect(&rect, &whole, &clipped)) return;
    MarkWindowDirty(w, clipped);
}

uint32_t MapColour(const SDL_Surface* surface, uint32_t colour) {
    return SDL_MapRGB(surface->format, static_cast<uint8_t>(colour >> 16), static_cast<uint8_t>(colour >> 8),
                      static_cast<uint8_t>(colour));
}

void Plot(SDL_Surface* surface, int x, int y, uint32_t pixel) {
    if (x < 0 || y < 0 || x >= surface->w || y >= surface->h) return;
    const int bpp = surface->format->BytesPerPixel;
    auto* p = static_cast<uint8_t*>(surface->pixels) + static_cast<ptrdiff_t>(y) * surface->pitch +
              static_cast<ptrdiff_t>(x) * bpp;
    switch (bpp) {
        case 4: std::memcpy(p, &pixel, 4); break;
        case 2: {
            const auto word = static_cast<uint16_t>(pixel);
            std::memcpy(p, &word, 2);
            break;
        }
        case 3:
            if (SDL_BYTEORDER == SDL_LIL_ENDIAN) {
                p[0] = static_cast<uint8_t>(pixel);
                p[1] = static_cast<uint8_t>(pixel >> 8);
                p[2] = static_cast<uint8_t>(pixel >> 16);
            } else {
                p[0] = static_cast<uint8_t>(pixel >> 16);
                p[1] = static_cast<uint8_t>(pixel >> 8);
                p[2] = static_cast<uint8_t>(pixel);
            }
            break;
        default: *p = static_cast<uint8_t>(pixel); break;
    }
}

// Cuts the line to the rectangle [0, w) x [0, h) so that a line with far-away
// ends costs only the pixels it draws; false when nothing of it is inside.
bool ClipLine(int w, int h, int64_t& x1, int64_t& y1, int64_t& x2, int64_t& y2) {
    const bool inside1 = x1 >= 0 && y1 >= 0 && x1 < w && y1 < h;
    const bool inside2 = x2 >= 0 && y2 >= 0 && x2 < w && y2 < h;
    if (inside1 && inside2) return true;
    const double dx = static_cast<double>(x2 - x1);
    const double dy = static_cast<double>(y2 - y1);
    double t0 = 0.0, t1 = 1.0;
    const auto edge = [&](double p, double q) {
        if (p == 0.0) return q >= 0.0;
        const double t = q / p;
        if (p < 0.0) {
            t0 = std::max(t0, t);
        } else {
            t1 = std::min(t1, t);
        }
        return t0 <= t1;
    };
    const double left = -0.5 - static_cast<double>(x1), right = w - 0.5 - static_cast<double>(x1);
    const double top = -0.5 - static_cast<double>(y1), bottom = h - 0.5 - static_cast<double>(y1);
    if (!edge(-dx, -left) || !edge(dx, right) || !edge(-dy, -top) || !edge(dy, bottom)) return false;
    const double sx = static_cast<double>(x1), sy = static_cast<double>(y1);
    x1 = std::llround(sx + t0 * dx);
    y1 = std::llround(sy + t0 * dy);
    x2 = std::llround(sx + t1 * dx);
    y2 = std::llround(sy + t1 * dy);
    return true;
}

// The SDL layout of a bitmap format, or 0 for formats SDL does not know.
uint32_t SdlFormatOf(int pixelFormat) {
    switch (pixelFormat) {
        case 0: return SDL_PIXELFORMAT_RGB555;
        case 1: return SDL_PIXELFORMAT_BGR555;
        case 4: return SDL_PIXELFORMAT_RGB565;
        case 5: return SDL_PIXELFORMAT_BGR565;
        case 8: return SDL_PIXELFORMAT_RGB24;
        case 9: return SDL_PIXELFORMAT_BGR24;
        case 10: return SDL_PIXELFORMAT_ARGB8888;
        case 11: return SDL_PIXELFORMAT_BGRA8888;
        case 12: return SDL_PIXELFORMAT_RGBA8888;
        case 13: return SDL_PIXELFORMAT_ABGR8888;
        default: return 0;
    }
}

struct SurfaceDeleter {
    void operator()(SDL_Surface* surface) const { SDL_FreeSurface(surface); }
};

// Whether rows of a bitmap reach the window surface by a plain copy: the
// same format, or 32-bit ARGB into the window's XRGB, whose unused byte
// then holds the alpha that nothing reads (SDL's own blit for that pair
// converts pixel by pixel, at a third of a copy's speed).
bool CopiesAsIs(const SDL_Surface* surface, uint32_t format) {
    if (SDL_MUSTLOCK(surface)) return false;
    const uint32_t to = surface->format->format;
    return to == format || (format == SDL_PIXELFORMAT_ARGB8888 && to == SDL_PIXELFORMAT_RGB888);
}

}  // namespace

SDL_Surface* DrawingSurface(const qbNativeWindow& w) {
    if (w.buffer) return w.buffer;
    return w.window ? SDL_GetWindowSurface(w.window) : nullptr;
}

void PresentPending(qbNativeWindow& w) {
    if (w.buffer) {
        if (Desktop* d = FindDesktop(MonitorIndex(w.view->monitor))) PresentDesktop(*d);
        ++w.presents;
        return;
    }
    const bool fading = FadeLevel() < 256;
    if (!w.window || (!fading && !w.dirtyAll && w.dirty.empty())) return;
    if (fading) {
        PresentFaded(w);
    } else if (w.dirtyAll) {
        SDL_UpdateWindowSurface(w.window);
    } else {
        SDL_UpdateWindowSurfaceRects(w.window, w.dirty.data(), static_cast<int>(w.dirty.size()));
    }
    w.dirty.clear();
    w.dirtyAll = false;
    ++w.presents;
}

void PresentAllPending() {
    Session& s = S();
    // A fade that just ended marks everything for one last full frame.
    const bool fading = Fading();
    if (!s.anyDirty && !fading) return;
    for (const auto& w : s.windows)
        if (!w->buffer) PresentPending(*w);
    for (const auto& d : s.desktops) PresentDesktop(*d);
    s.anyDirty = false;
}

void FlushNativeWindow(qbDisplay* display) {
    if (qbNativeWindow* w = OpenWindow(display)) PresentPending(*w);
}

void FillWindowRect(qbDisplay* display, int x, int y, int width, int height, uint32_t colour) {
    qbNativeWindow* w = nullptr;
    SDL_Surface* surface = DrawTarget(display, false, &w);
    SDL_Rect rect;
    if (!surface || width <= 0 || height <= 0) return;
    if (!ClipToSurface(surface, int64_t{x} + w->view->offsetX, int64_t{y} + PictureTop(*w), width, height, rect,
                       w->strip))
        return;
    SDL_FillRect(surface, &rect, MapColour(surface, colour));
    MarkDirty(*w, surface, rect);
}

void WriteWindowPixel(qbDisplay* display, int x, int y, uint32_t colour) {
    qbNativeWindow* w = nullptr;
    SDL_Surface* surface = DrawTarget(display, false, &w);
    SDL_Rect pixel;
    if (!surface ||
        !ClipToSurface(surface, int64_t{x} + w->view->offsetX, int64_t{y} + PictureTop(*w), 1, 1, pixel, w->strip))
        return;
    Plot(surface, pixel.x, pixel.y, MapColour(surface, colour));
    MarkDirty(*w, surface, pixel);
}

void DrawWindowLine(qbDisplay* display, int x1, int y1, int x2, int y2, uint32_t colour) {
    qbNativeWindow* w = nullptr;
    SDL_Surface* surface = DrawTarget(display, false, &w);
    if (!surface) return;
    int64_t ax = int64_t{x1} + w->view->offsetX, ay = int64_t{y1} + PictureTop(*w);
    int64_t bx = int64_t{x2} + w->view->offsetX, by = int64_t{y2} + PictureTop(*w);
    if (!ClipLine(surface->w, surface->h, ax, ay, bx, by)) return;
    const uint32_t pixel = MapColour(surface, colour);
    const int64_t dx = std::llabs(bx - ax), dy = -std::llabs(by - ay);
    const int sx = ax < bx ? 1 : -1, sy = ay < by ? 1 : -1;
    int64_t err = dx + dy;
    const SDL_Rect bounds{static_cast<int>(std::min(ax, bx)), static_cast<int>(std::min(ay, by)),
                          static_cast<int>(dx + 1), static_cast<int>(-dy + 1)};
    for (int64_t x = ax, y = ay;;) {
        if (y >= w->strip) Plot(surface, static_cast<int>(x), static_cast<int>(y), pixel);
        if (x == bx && y == by) break;
        const int64_t e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y += sy;
        }
    }
    MarkDirty(*w, surface, bounds);
}

void BlitToWindow(const qbNativeBitmap* source, int srcX, int srcY, qbDisplay* display, int dstX, int dstY, int width,
                  int height, int scaleWidth, int scaleHeight, uint32_t flags) {
    qbNativeWindow* w = nullptr;
    SDL_Surface* surface = DrawTarget(display, (flags & kBlitAnyState) != 0, &w);
    if (!surface || !source || !source->pixels || width <= 0 || height <= 0) return;
    const uint32_t format = SdlFormatOf(source->pixelFormat);
    if (format == 0 || static_cast<int>(SDL_BYTESPERPIXEL(format)) != source->bytesPerPixel) return;
    const bool scaled = scaleWidth > 0 && scaleHeight > 0 && !(flags & kBlitPrescaled);
    const int64_t moveX = int64_t{dstX} - srcX, moveY = int64_t{dstY} - srcY;
    const auto fits = [](int64_t value) { return value >= INT32_MIN && value <= INT32_MAX; };
    if (!scaled && fits(moveX) && fits(moveY) && CopiesAsIs(surface, format)) {
        // One rectangle is a batch of one.
        const qbWindowRect rect{srcX, srcY, width, height};
        sdl_backend::BlitRectsToWindow(source, &rect, 1, display, static_cast<int>(moveX), static_cast<int>(moveY),
                                       flags);
        return;
    }
    std::unique_ptr<SDL_Surface, SurfaceDeleter> from(SDL_CreateRGBSurfaceWithFormatFrom(
        source->pixels.get(), source->width, source->height, SDL_BITSPERPIXEL(format), source->bytesPerRow, format));
    if (!from) return;
    SDL_SetSurfaceBlendMode(from.get(), SDL_BLENDMODE_NONE);
    const qbWindowView& v = *w->view;
    const int top = PictureTop(*w);
    SDL_Rect marked;
    if (scaled) {
        // SDL scales what lies inside both; beyond kFar nothing can.
        const auto far = [](int64_t value) { return value > kFar || value < -kFar; };
        if (far(srcX) || far(srcY) || far(width) || far(height) || far(scaleWidth) || far(scaleHeight) ||
            far(v.offsetX) || far(top))
            return;
        SDL_Rect src{srcX, srcY, width, height};
        SDL_Rect dst{v.offsetX, top, scaleWidth, scaleHeight};
        if (!ClipToSurface(surface, dst.x, dst.y, dst.w, dst.h, marked, w->strip)) return;
        const SDL_Rect picture{0, w->strip, surface->w, surface->h - w->strip};
        SDL_SetClipRect(surface, &picture);
        SDL_BlitScaled(from.get(), &src, surface, &dst);
        SDL_SetClipRect(surface, nullptr);
    } else {
        // The vertical axis is clipped in picture rows, below the strip.
        int64_t sx = srcX, sy = srcY, dx = int64_t{dstX} + v.offsetX, dy = int64_t{dstY} + v.offsetY;
        int64_t w64 = width, h64 = height;
        ClipCopyAxis(sx, dx, w64, source->width, surface->w);
        ClipCopyAxis(sy, dy, h64, source->height, surface->h - w->strip);
        if (w64 <= 0 || h64 <= 0) return;
        dy += w->strip;
        SDL_Rect src{static_cast<int>(sx), static_cast<int>(sy), static_cast<int>(w64), static_cast<int>(h64)};
        marked = SDL_Rect{static_cast<int>(dx), static_cast<int>(dy), src.w, src.h};
        SDL_Rect dst = marked;
        SDL_BlitSurface(from.get(), &src, surface, &dst);
    }
    // A blit is how a refresh reaches the window: it is shown at once, with
    // whatever else was drawn since the last present, as the script expects
    // to see its picture without waiting for the next frame.
    MarkDirty(*w, surface, marked);
    if (!(flags & kBlitHold)) PresentPending(*w);
}

void BlitRectsToWindow(const qbNativeBitmap* source, const qbWindowRect* rects, int count, qbDisplay* display, int dx,
                       int dy, uint32_t flags) {
    qbNativeWindow* w = nullptr;
    SDL_Surface* surface = DrawTarget(display, (flags & kBlitAnyState) != 0, &w);
    if (!surface || !source || !source->pixels || !rects || count < 1) return;
    const uint32_t format = SdlFormatOf(source->pixelFormat);
    if (format == 0 || static_cast<int>(SDL_BYTESPERPIXEL(format)) != source->bytesPerPixel) return;
    // Pixels that need converting or a locked surface go through SDL's
    // blit, one rectangle at a time.
    if (!CopiesAsIs(surface, format)) {
        for (int i = 0; i < count; ++i)
            sdl_backend::BlitToWindow(source, rects[i].x, rects[i].y, display, rects[i].x + dx, rects[i].y + dy, rects[i].width,
                         rects[i].height, 0, 0, flags | kBlitHold);
        if (!(flags & kBlitHold)) PresentPending(*w);
        return;
    }
    const qbWindowView& v = *w->view;
    std::vector<qbWindowRect> clipped;
    clipped.reserve(static_cast<size_t>(count));
    int64_t moveY = 0, moveX = 0;
    int64_t left = INT64_MAX, top = INT64_MAX, right = INT64_MIN, bottom = INT64_MIN;
    for (int i = 0; i < count; ++i) {
        // The vertical axis is clipped in picture rows, below the strip, as
        // BlitToWindow does.
        int64_t sx = rects[i].x, sy = rects[i].y, tx = int64_t{dx} + sx + v.offsetX, ty = int64_t{dy} + sy + v.offsetY;
        int64_t w64 = rects[i].width, h64 = rects[i].height;
        moveX = tx - sx;
        moveY = ty - sy + w->strip;
        ClipCopyAxis(sx, tx, w64, source->width, surface->w);
        ClipCopyAxis(sy, ty, h64, source->height, surface->h - w->strip);
        if (w64 <= 0 || h64 <= 0) continue;
        clipped.push_back({static_cast<int>(sx), static_cast<int>(sy), static_cast<int>(w64), static_cast<int>(h64)});
        left = std::min(left, tx);
        top = std::min(top, ty + w->strip);
        right = std::max(right, tx + w64);
        bottom = std::max(bottom, ty + w->strip + h64);
    }
    if (clipped.empty()) return;
    const auto bpp = static_cast<size_t>(source->bytesPerPixel);
    auto* to = static_cast<uint8_t*>(surface->pixels);
    const uint8_t* from = source->pixels.get();
    ForEachRectRow(clipped.data(), static_cast<int>(clipped.size()), [&](int x, int y, int width) {
        const uint8_t* s = from + static_cast<size_t>(y) * static_cast<size_t>(source->bytesPerRow) + static_cast<size_t>(x) * bpp;
        uint8_t* d = to + static_cast<ptrdiff_t>(y + moveY) * surface->pitch + static_cast<ptrdiff_t>(x + moveX) * static_cast<ptrdiff_t>(bpp);
        if (width == 1 && bpp == 4) std::memcpy(d, s, 4);
        else std::memcpy(d, s, static_cast<size_t>(width) * bpp);
    });
    MarkDirty(*w, surface, SDL_Rect{static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
                                    static_cast<int>(bottom - top)});
    if (!(flags & kBlitHold)) PresentPending(*w);
}

}  // namespace sdl_backend
