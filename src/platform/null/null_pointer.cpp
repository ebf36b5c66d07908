// Pointer images are kept as given; a window's pointer is a record of the
// last calls it saw.
#include "platform/null/null_pointer.h"

#include <map>
#include <memory>
#include <mutex>
#include <new>

#include "core/errcodes.h"
#include "platform/null/null_screen.h"

namespace null_backend {
namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

struct Pointers {
    std::map<const qbNativePointer*, std::unique_ptr<PointerImage>> images;
    std::map<const qbDisplay*, WindowPointer> windows;
};

Pointers& P() {
    static Pointers pointers;
    return pointers;
}

// The image record's address serves as the opaque handle.
const qbNativePointer* Handle(const PointerImage* image) { return reinterpret_cast<const qbNativePointer*>(image); }

int CreatePointer(uint32_t* argb, int hotX, int hotY, qbNativePointer** out, int width, int height) {
    Lock lock(BackendMutex());
    if (!argb || width <= 0 || height <= 0) return ERR_POINTERIMG;
    std::unique_ptr<PointerImage> image;
    try {
        image = std::make_unique<PointerImage>();
        image->argb.assign(argb, argb + static_cast<size_t>(width) * height);
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    image->width = width;
    image->height = height;
    image->hotX = hotX;
    image->hotY = hotY;
    const qbNativePointer* handle = Handle(image.get());
    P().images[handle] = std::move(image);
    if (out) *out = const_cast<qbNativePointer*>(handle);
    return 0;
}

void FreePointer(qbNativePointer* pointer) {
    Lock lock(BackendMutex());
    P().images.erase(pointer);
    for (auto& [display, w] : P().windows)
        if (w.pointer == pointer) w.pointer = nullptr;
}

void SetPointer(qbDisplay* display, qbNativePointer* pointer, int kind) {
    Lock lock(BackendMutex());
    WindowPointer& w = P().windows[display];
    w.kind = kind;
    w.pointer = kind == kPointerShape ? pointer : nullptr;
}

void HidePointer(qbDisplay* display) {
    Lock lock(BackendMutex());
    P().windows[display].hidden = true;
}

void ShowPointer(qbDisplay* display) {
    Lock lock(BackendMutex());
    P().windows[display].hidden = false;
}

void MovePointer(qbDisplay* display, int x, int y) {
    Lock lock(BackendMutex());
    WindowPointer& w = P().windows[display];
    ++w.moves;
    w.x = x;
    w.y = y;
}

}  // namespace

const PointerImage* GetPointerImage(const qbNativePointer* pointer) {
    Lock lock(BackendMutex());
    auto it = P().images.find(pointer);
    return it == P().images.end() ? nullptr : it->second.get();
}

int LivePointerCount() {
    Lock lock(BackendMutex());
    return static_cast<int>(P().images.size());
}

WindowPointer GetWindowPointer(const qbDisplay* display) {
    Lock lock(BackendMutex());
    auto it = P().windows.find(display);
    return it == P().windows.end() ? WindowPointer{} : it->second;
}

void FillPointerOps(qbPlatformOps& ops) {
    ops.CreateNativePointer = &CreatePointer;
    ops.FreeNativePointer = &FreePointer;
    ops.SetWindowPointer = &SetPointer;
    ops.HideWindowPointer = &HidePointer;
    ops.ShowWindowPointer = &ShowPointer;
    ops.MoveNativePointer = &MovePointer;
}

void ResetPointers() {
    Lock lock(BackendMutex());
    P() = Pointers{};
}

}  // namespace null_backend
