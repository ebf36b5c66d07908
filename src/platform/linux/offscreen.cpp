// Platform offscreen bitmaps: plain memory in host-order ARGB, the format
// every pixel kernel works in without conversion, or in the format set at
// start-up; and single pixels and lines drawn into them.
#include <cstddef>
#include <cstring>

#include "core/pixelformats.h"
#include "platform/linux/linewalk.h"
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

namespace {

// The colour's bits of a 32-bit word; the alpha byte is left as it was.
uint32_t Colour32Mask(int format) { return format == kFormatARGB || format == kFormatABGR ? 0x00FFFFFFu : 0xFFFFFF00u; }

// A record whose layout cannot hold its size has no pixels to offer.
bool Usable(const qbNativeBitmap* b) {
    if (!b || !b->pixels || b->width <= 0 || b->height <= 0) return false;
    const int bytes = BytesPerPixel(b->pixelFormat);
    return bytes != 0 && b->bytesPerPixel == bytes && int64_t{b->bytesPerRow} >= int64_t{b->width} * bytes;
}

uint8_t* PixelAt(const qbNativeBitmap* b, int64_t x, int64_t y) {
    return b->pixels.get() + static_cast<ptrdiff_t>(y) * b->bytesPerRow + static_cast<ptrdiff_t>(x) * b->bytesPerPixel;
}

uint32_t ReadPixel(const qbNativeBitmap* b, int64_t x, int64_t y) {
    uint8_t rgb[3];
    ReadPixelRGB(PixelAt(b, x, y), b->pixelFormat, rgb);
    return (uint32_t{rgb[0]} << 16) | (uint32_t{rgb[1]} << 8) | rgb[2];
}

void WritePixel(qbNativeBitmap* b, int64_t x, int64_t y, uint32_t colour) {
    uint8_t* p = PixelAt(b, x, y);
    const uint8_t rgb[3] = {static_cast<uint8_t>(colour >> 16), static_cast<uint8_t>(colour >> 8),
                            static_cast<uint8_t>(colour)};
    if (!IsPixelFormat32(b->pixelFormat)) {
        WritePixelRGB(p, b->pixelFormat, rgb);
        return;
    }
    uint32_t old = 0, word = 0;
    std::memcpy(&old, p, sizeof old);
    WritePixelRGB(&word, b->pixelFormat, rgb);
    const uint32_t mask = Colour32Mask(b->pixelFormat);
    word = (old & ~mask) | (word & mask);
    std::memcpy(p, &word, sizeof word);
}

bool Inside(const qbNativeBitmap* b, int x, int y) { return x >= 0 && y >= 0 && x < b->width && y < b->height; }

}  // namespace

// Outside the bitmap, and for a record without usable pixels, the answer is
// black.
uint32_t ReadNativePixel(qbNativeBitmap* bitmap, int x, int y) {
    if (!Usable(bitmap) || !Inside(bitmap, x, y)) return 0;
    return ReadPixel(bitmap, x, y);
}

void WriteNativePixel(qbNativeBitmap* bitmap, int x, int y, uint32_t colour) {
    if (!Usable(bitmap) || !Inside(bitmap, x, y)) return;
    WritePixel(bitmap, x, y, colour);
}

void DrawNativeLine(qbNativeBitmap* bitmap, int x1, int y1, int x2, int y2, uint32_t colour) {
    if (!Usable(bitmap)) return;
    WalkClippedLine(x1, y1, x2, y2, bitmap->width, bitmap->height,
                    [&](int64_t x, int64_t y) { WritePixel(bitmap, x, y, colour); });
}

}  // namespace linux_backend
