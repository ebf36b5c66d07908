// Platform offscreen bitmaps: plain memory in host-order ARGB, the format
// every pixel kernel works in without conversion.
#include "platform/linux/linux_backend.h"

namespace linux_backend {

int GetPreferredPixelFormat() { return kPixelFormatARGB32; }

qbNativeBitmap* AllocPlatformBitmap(int width, int height) {
    return AllocNativeBitmapInFormat(width, height, kPixelFormatARGB32);
}

void FreePlatformBitmap(qbNativeBitmap* bitmap) { FreeNativeBitmap(bitmap); }

int LockPlatformBitmap(qbNativeBitmap* bitmap, qbBitmapLock* lock) { return LockNativeBitmap(bitmap, lock); }

void UnlockPlatformBitmap(qbNativeBitmap* bitmap) { UnlockNativeBitmap(bitmap); }

intptr_t GetPlatformBitmapAttr(const qbNativeBitmap* bitmap, int attribute) {
    return GetNativeBitmapAttr(bitmap, attribute);
}

}  // namespace linux_backend
