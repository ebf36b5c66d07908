// Mouse pointers: shapes made from ARGB pixels, the system's arrow and wait
// cursors, hiding, and moving the pointer. SDL has one cursor for the whole
// process, so a window's pointer is made current only while it has the focus.
#include <memory>

#include "core/errcodes.h"
#include "platform/linux/sdl_backend.h"

namespace sdl_backend {

namespace {

constexpr int kMaxPointerSize = 1024;

SDL_Cursor* CursorOf(const qbNativeWindow& w) {
    Session& s = S();
    switch (w.pointerKind) {
        case kPointerBusy:
            // Drivers without system cursors show the arrow instead.
            if (!s.busyCursor) s.busyCursor = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_WAIT);
            return s.busyCursor ? s.busyCursor : SDL_GetDefaultCursor();
        case kPointerShape:
            if (w.pointer && w.pointer->cursor) return w.pointer->cursor;
            return SDL_GetDefaultCursor();
        default: return SDL_GetDefaultCursor();
    }
}

struct SurfaceDeleter {
    void operator()(SDL_Surface* surface) const { SDL_FreeSurface(surface); }
};

}  // namespace

void ApplyWindowPointer(const qbNativeWindow& w) {
    if ((!w.window && !w.buffer) || !w.view->active) return;
    if (SDL_Cursor* cursor = CursorOf(w)) SDL_SetCursor(cursor);
    SDL_ShowCursor(w.pointerHidden ? SDL_DISABLE : SDL_ENABLE);
}

// The caller's pixels are read, never changed.
int CreateNativePointer(uint32_t* argb, int hotX, int hotY, qbNativePointer** outPointer, int width, int height) {
    if (outPointer) *outPointer = nullptr;
    if (!argb || !outPointer || width <= 0 || height <= 0 || width > kMaxPointerSize || height > kMaxPointerSize ||
        hotX < 0 || hotY < 0 || hotX >= width || hotY >= height)
        return ERR_POINTERIMG;
    if (!S().video) return ERR_POINTERIMG;
    std::unique_ptr<SDL_Surface, SurfaceDeleter> image(
        SDL_CreateRGBSurfaceWithFormatFrom(argb, width, height, 32, width * 4, SDL_PIXELFORMAT_ARGB8888));
    if (!image) return ERR_MEM;
    SDL_Cursor* cursor = SDL_CreateColorCursor(image.get(), hotX, hotY);
    // Drivers without cursors (no default one either) take the shape and
    // show nothing, as they show no arrow.
    if (!cursor && SDL_GetDefaultCursor()) return ERR_POINTERIMG;
    auto pointer = std::make_unique<qbNativePointer>();
    pointer->cursor = cursor;
    *outPointer = pointer.release();
    return 0;
}

void FreeNativePointer(qbNativePointer* pointer) {
    if (!pointer) return;
    const std::unique_ptr<qbNativePointer> owned(pointer);
    // No window may keep showing a freed shape.
    for (const auto& w : S().windows) {
        if (w->pointer != pointer) continue;
        w->pointer = nullptr;
        w->pointerKind = kPointerArrow;
        ApplyWindowPointer(*w);
    }
    if (SDL_GetCursor() == pointer->cursor) SDL_SetCursor(SDL_GetDefaultCursor());
    SDL_FreeCursor(pointer->cursor);
}

void SetWindowPointer(qbDisplay* display, qbNativePointer* pointer, int kind) {
    qbNativeWindow* w = OpenWindow(display);
    if (!w) return;
    w->pointerKind = kind == kPointerBusy                 ? kPointerBusy
                     : kind == kPointerShape && pointer ? kPointerShape
                                                        : kPointerArrow;
    w->pointer = w->pointerKind == kPointerShape ? pointer : nullptr;
    w->pointerHidden = false;
    S().pointerEverSet = true;
    ApplyWindowPointer(*w);
}

void HideWindowPointer(qbDisplay* display) {
    qbNativeWindow* w = OpenWindow(display);
    if (!w) return;
    w->pointerHidden = true;
    ApplyWindowPointer(*w);
}

void ShowWindowPointer(qbDisplay* display) {
    qbNativeWindow* w = OpenWindow(display);
    if (!w) return;
    w->pointerHidden = false;
    ApplyWindowPointer(*w);
}

void MoveNativePointer(qbDisplay* display, int x, int y) {
    qbNativeWindow* w = OpenWindow(display);
    if (w && w->window) SDL_WarpMouseInWindow(w->window, x, y);
}

void RestoreArrowPointer(qbDisplay*) {
    if (S().video && S().pointerEverSet) SDL_SetCursor(SDL_GetDefaultCursor());
}

}  // namespace sdl_backend
