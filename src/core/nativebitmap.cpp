// Native offscreen bitmaps as plain pixel buffers, and the platform pixel
// format they are made in.
#include "core/nativebitmap.h"

#include <atomic>
#include <limits>
#include <new>

#include "core/bitmaplock.h"
#include "core/pixelformats.h"

namespace {

AdapterCapsQuery adapterCapsQuery = nullptr;

// Written once at start-up but read from the sound, video and loader threads.
std::atomic<int> platformPixelFormat{kPixelFormatUnset};

// Keeps one bitmap's buffer far below what the allocator can hand out, so
// that an absurd size from a script is refused instead of exhausting memory.
constexpr int64_t kMaxPixelBufferBytes = int64_t{1} << 32;

int EffectiveFormat() {
    const int format = GetPlatformPixelFormat();
    return format == kPixelFormatUnset ? kPixelFormatBGRA32 : format;
}

}  // namespace

int GetPlatformPixelFormat() { return platformPixelFormat.load(std::memory_order_relaxed); }

void SetPlatformPixelFormat(int format) { platformPixelFormat.store(format, std::memory_order_relaxed); }

qbNativeBitmap* AllocNativeBitmap(int width, int height) { return AllocNativeBitmapInFormat(width, height, EffectiveFormat()); }

qbNativeBitmap* AllocNativeBitmapInFormat(int width, int height, int format) {
    if (width <= 0 || height <= 0) return nullptr;
    const int bytesPerPixel = BytesPerPixel(format);
    if (bytesPerPixel == 0) return nullptr;
    const int64_t rowLength = (static_cast<int64_t>(width) + 3) & ~int64_t{3};
    const int64_t bytesPerRow = rowLength * bytesPerPixel;
    if (bytesPerRow > std::numeric_limits<int32_t>::max()) return nullptr;
    const int64_t total = bytesPerRow * height;
    if (total > kMaxPixelBufferBytes) return nullptr;

    auto bitmap = std::make_unique<qbNativeBitmap>();
    try {
        bitmap->pixels = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(total));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    bitmap->width = width;
    bitmap->height = height;
    bitmap->bytesPerRow = static_cast<int32_t>(bytesPerRow);
    bitmap->bytesPerPixel = bytesPerPixel;
    bitmap->pixelFormat = format;
    return bitmap.release();
}

void FreeNativeBitmap(qbNativeBitmap* bitmap) { std::unique_ptr<qbNativeBitmap> owner(bitmap); }

void SetAdapterCapsQuery(AdapterCapsQuery query) { adapterCapsQuery = query; }

uint32_t QueryDisplayAdapterCaps(uint32_t requested) { return adapterCapsQuery ? adapterCapsQuery(requested) : 0; }

int LockNativeBitmap(qbNativeBitmap* bitmap, qbBitmapLock* lock) {
    if (!lock) return 0;
    if (!bitmap) {
        lock->lockToken = 0;
        return 0;
    }
    lock->pixels = bitmap->pixels.get();
    lock->lockToken = 1;
    lock->pixelFormat = static_cast<uint32_t>(bitmap->pixelFormat);
    lock->bytesPerPixel = static_cast<uint32_t>(bitmap->bytesPerPixel);
    lock->rowLength = bitmap->bytesPerRow / bitmap->bytesPerPixel;
    lock->width = bitmap->width;
    lock->height = bitmap->height;
    lock->nativeContext = bitmap->graphicsWorld;
    return 1;
}

// The pixels are ordinary memory; there is nothing to hand back.
void UnlockNativeBitmap(qbNativeBitmap*) {}

intptr_t GetNativeBitmapAttr(const qbNativeBitmap* bitmap, int attribute) {
    if (!bitmap) return 0;
    switch (attribute) {
        case kNativeAttrPixelFormat: return bitmap->pixelFormat;
        case kNativeAttrPixels: return reinterpret_cast<intptr_t>(bitmap->pixels.get());
        case kNativeAttrRowLength: return bitmap->bytesPerRow / bitmap->bytesPerPixel;
        default: return 0;
    }
}

int GetScreenPixelDepth() {
    const int format = GetPlatformPixelFormat();
    const int bytes = BytesPerPixel(format);
    return format == kPixelFormatUnset || bytes == 0 ? 32 : bytes * 8;
}

int AllocNativeBitmapHandle(void*, int, void** outHandle) {
    if (outHandle) *outHandle = nullptr;
    return 1;
}
