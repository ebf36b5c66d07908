// Platform offscreen bitmaps: plain memory in host-order ARGB, the format
// every pixel kernel works in without conversion.
#include "platform/linux/linux_backend.h"

namespace linux_backend {

// A format set at start-up (a display adapter's, or a test's) wins over the
// platform's own choice, so that bitmaps and the screen agree.
int GetPreferredPixelFormat() {
    const int format = GetPlatformPixelFormat();
    return format == kPixelFormatUnset ? kPixelFormatARGB32 : format;
}

qbNativeBitmap* AllocPlatformBitmap(int width, int height) {
    return AllocNativeBitmapInFormat(width, height, GetPreferredPixelFormat());
}

void FreePlatformBitmap(qbNativeBitmap* bitmap) { FreeNativeBitmap(bitmap); }

int LockPlatformBitmap(qbNativeBitmap* bitmap, qbBitmapLock* lock) { return LockNativeBitmap(bitmap, lock); }

void UnlockPlatformBitmap(qbNativeBitmap* bitmap) { UnlockNativeBitmap(bitmap); }

intptr_t GetPlatformBitmapAttr(const qbNativeBitmap* bitmap, int attribute) {
    return GetNativeBitmapAttr(bitmap, attribute);
}

}  // namespace linux_backend
