// Platform offscreen bitmaps: plain memory in host-order ARGB, the format
// every pixel kernel works in without conversion, or in the format set at
// start-up; and single pixels and lines drawn into them.
#include <cstddef>
#include <cstring>

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

// The pixel format codes a native bitmap can have: 16-bit words 0-7 (the
// "Swapped" ones with their two bytes exchanged), three bytes 8-9, 32-bit
// words 10-13 named by their bytes from the top.
enum : int {
    kRGB555 = 0,
    kBGR555 = 1,
    kRGB555Swapped = 2,
    kBGR555Swapped = 3,
    kRGB565 = 4,
    kBGR565 = 5,
    kRGB565Swapped = 6,
    kBGR565Swapped = 7,
    kRGB24 = 8,
    kBGR24 = 9,
    kARGB = 10,
    kBGRA = 11,
    kRGBA = 12,
    kABGR = 13,
};

struct Rgb {
    uint32_t r, g, b;
};

Rgb Split(uint32_t colour) { return {(colour >> 16) & 0xFF, (colour >> 8) & 0xFF, colour & 0xFF}; }
uint32_t Join(uint32_t r, uint32_t g, uint32_t b) { return (r << 16) | (g << 8) | b; }

uint16_t Swap(uint16_t word) { return static_cast<uint16_t>((word >> 8) | (word << 8)); }
bool Swapped16(int format) {
    return format == kRGB555Swapped || format == kBGR555Swapped || format == kRGB565Swapped ||
           format == kBGR565Swapped;
}
bool Is565(int format) { return format >= kRGB565 && format <= kBGR565Swapped; }
// Red in the top field: the RGB codes; blue there: the BGR codes.
bool RedOnTop16(int format) {
    return format == kRGB555 || format == kRGB555Swapped || format == kRGB565 || format == kRGB565Swapped;
}

// Narrow fields keep the top bits of each byte; reading widens them with
// zero low bits, as the pixel kernels do.
uint16_t Encode16(int format, uint32_t colour) {
    const Rgb c = Split(colour);
    const uint32_t top = RedOnTop16(format) ? c.r : c.b, low = RedOnTop16(format) ? c.b : c.r;
    const uint16_t word = Is565(format)
                              ? static_cast<uint16_t>(((top >> 3) << 11) | ((c.g >> 2) << 5) | (low >> 3))
                              : static_cast<uint16_t>(((top >> 3) << 10) | ((c.g >> 3) << 5) | (low >> 3));
    return Swapped16(format) ? Swap(word) : word;
}

uint32_t Decode16(int format, uint16_t pixel) {
    const uint16_t word = Swapped16(format) ? Swap(pixel) : pixel;
    const uint32_t top = Is565(format) ? ((word >> 11) & 0x1F) << 3 : ((word >> 10) & 0x1F) << 3;
    const uint32_t g = Is565(format) ? ((word >> 5) & 0x3F) << 2 : ((word >> 5) & 0x1F) << 3;
    const uint32_t low = (word & 0x1F) << 3;
    return RedOnTop16(format) ? Join(top, g, low) : Join(low, g, top);
}

// The colour's bits of a 32-bit word; the alpha byte is left as it was.
uint32_t Colour32Mask(int format) { return format == kARGB || format == kABGR ? 0x00FFFFFFu : 0xFFFFFF00u; }

uint32_t Encode32(int format, uint32_t colour) {
    const Rgb c = Split(colour);
    switch (format) {
        case kBGRA: return (c.b << 24) | (c.g << 16) | (c.r << 8);
        case kRGBA: return (c.r << 24) | (c.g << 16) | (c.b << 8);
        case kABGR: return (c.b << 16) | (c.g << 8) | c.r;
        default: return colour & 0x00FFFFFFu;
    }
}

uint32_t Decode32(int format, uint32_t word) {
    switch (format) {
        case kBGRA: return Join((word >> 8) & 0xFF, (word >> 16) & 0xFF, word >> 24);
        case kRGBA: return word >> 8;
        case kABGR: return Join(word & 0xFF, (word >> 8) & 0xFF, (word >> 16) & 0xFF);
        default: return word & 0x00FFFFFFu;
    }
}

// A record whose layout cannot hold its size has no pixels to offer.
bool Usable(const qbNativeBitmap* b) {
    if (!b || !b->pixels || b->width <= 0 || b->height <= 0) return false;
    const int bytes = PixelFormatBytes(b->pixelFormat);
    return bytes != 0 && b->bytesPerPixel == bytes && int64_t{b->bytesPerRow} >= int64_t{b->width} * bytes;
}

uint8_t* PixelAt(const qbNativeBitmap* b, int64_t x, int64_t y) {
    return b->pixels.get() + static_cast<ptrdiff_t>(y) * b->bytesPerRow + static_cast<ptrdiff_t>(x) * b->bytesPerPixel;
}

uint32_t ReadPixel(const qbNativeBitmap* b, int64_t x, int64_t y) {
    const uint8_t* p = PixelAt(b, x, y);
    switch (b->bytesPerPixel) {
        case 2: {
            uint16_t word = 0;
            std::memcpy(&word, p, sizeof word);
            return Decode16(b->pixelFormat, word);
        }
        case 3:
            // Memory order B, G, R for RGB24, and R, G, B for BGR24.
            return b->pixelFormat == kRGB24 ? Join(p[2], p[1], p[0]) : Join(p[0], p[1], p[2]);
        default: {
            uint32_t word = 0;
            std::memcpy(&word, p, sizeof word);
            return Decode32(b->pixelFormat, word);
        }
    }
}

void WritePixel(qbNativeBitmap* b, int64_t x, int64_t y, uint32_t colour) {
    uint8_t* p = PixelAt(b, x, y);
    switch (b->bytesPerPixel) {
        case 2: {
            const uint16_t word = Encode16(b->pixelFormat, colour);
            std::memcpy(p, &word, sizeof word);
            break;
        }
        case 3: {
            const Rgb c = Split(colour);
            const bool rgb = b->pixelFormat == kRGB24;
            p[0] = static_cast<uint8_t>(rgb ? c.b : c.r);
            p[1] = static_cast<uint8_t>(c.g);
            p[2] = static_cast<uint8_t>(rgb ? c.r : c.b);
            break;
        }
        default: {
            uint32_t word = 0;
            std::memcpy(&word, p, sizeof word);
            const uint32_t mask = Colour32Mask(b->pixelFormat);
            word = (word & ~mask) | Encode32(b->pixelFormat, colour);
            std::memcpy(p, &word, sizeof word);
            break;
        }
    }
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
