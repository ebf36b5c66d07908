// Native offscreen bitmaps: plain pixel buffers in the platform pixel format,
// the bitmaps of the platform backend when no display adapter owns them.
#pragma once

#include <cstdint>
#include <memory>

struct qbBitmapLock;

// Pixel format codes the platform can use for its offscreen bitmaps.
enum : int {
    kPixelFormatUnset = -1,
    kPixelFormatARGB32 = 10,  // host-order 0xAARRGGBB, the working format
    kPixelFormatBGRA32 = 11,  // the platform default while no format is set
};

// Attribute codes of GetNativeBitmapAttr.
enum : int {
    kNativeAttrRowLength = 13,
    kNativeAttrPixelFormat = 21,
    kNativeAttrPixels = 23,
};

struct qbNativeBitmap {
    uint32_t reserved = 0;
    int32_t width = 0;
    int32_t height = 0;
    std::unique_ptr<uint8_t[]> pixels;
    int32_t bytesPerRow = 0;
    int32_t bytesPerPixel = 0;
    int32_t pixelFormat = 0;
    void* graphicsWorld = nullptr;  // none on this platform
};

// The process-wide platform pixel format, set once at start-up; unset reads
// as kPixelFormatUnset.
int GetPlatformPixelFormat();
void SetPlatformPixelFormat(int format);


// Null for a size of 0 or less, a size too large for 32-bit rows, an
// unusable platform format, or no memory. Rows are padded to 4 pixels and
// the pixels are not cleared.
qbNativeBitmap* AllocNativeBitmap(int width, int height);
// The same in a colour format of the caller's choice (codes 0-13).
qbNativeBitmap* AllocNativeBitmapInFormat(int width, int height, int format);
void FreeNativeBitmap(qbNativeBitmap* bitmap);
// 1 with the lock filled, or 0 (lock token 0) for a null record.
int LockNativeBitmap(qbNativeBitmap* bitmap, qbBitmapLock* lock);
void UnlockNativeBitmap(qbNativeBitmap* bitmap);
intptr_t GetNativeBitmapAttr(const qbNativeBitmap* bitmap, int attribute);

// Bits per pixel of the screen's pixels, as the platform pixel format has them.
int GetScreenPixelDepth();
// The capability bits the installed display adapter grants of those asked
// for: the display layer answers through the query it installs; none without.
uint32_t QueryDisplayAdapterCaps(uint32_t requested);
using AdapterCapsQuery = uint32_t (*)(uint32_t requested);
void SetAdapterCapsQuery(AdapterCapsQuery query);
// 1 always; the handle is 0 because this platform has no native handles.
int AllocNativeBitmapHandle(void* display, int size, void** outHandle);

struct NativeBitmapDeleter {
    void operator()(qbNativeBitmap* bitmap) const { FreeNativeBitmap(bitmap); }
};
using NativeBitmapPtr = std::unique_ptr<qbNativeBitmap, NativeBitmapDeleter>;
