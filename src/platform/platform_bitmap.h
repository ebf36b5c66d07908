// Backend operations, listed for platform_ops.h.
#pragma once

#include "platform/platform_types.h"

// Platform offscreen bitmaps: host-order ARGB (format 10), rows padded to
// 4 pixels.
// X(result, name, (parameters), (arguments))
#define QB_PLATFORM_BITMAP_OPS(X) \
    X(qbNativeBitmap*, AllocPlatformBitmap, (int width, int height), (width, height)) \
    X(void, FreePlatformBitmap, (qbNativeBitmap* bitmap), (bitmap)) \
    X(int, LockPlatformBitmap, (qbNativeBitmap* bitmap, qbBitmapLock* lock), (bitmap, lock)) \
    X(void, UnlockPlatformBitmap, (qbNativeBitmap* bitmap), (bitmap)) \
    X(intptr_t, GetPlatformBitmapAttr, (const qbNativeBitmap* bitmap, int attribute), (bitmap, attribute)) \
    X(int, GetPreferredPixelFormat, (), ())

// True while the active backend locks its offscreen bitmaps by reading their
// records and unlocks them by doing nothing, as the built-in backends do:
// such pixels are plain memory that callers may address without a lock.
bool PlatformBitmapsArePlainMemory();
