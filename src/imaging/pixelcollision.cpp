// The scan works on 64 pixels at a time: each plane taking part yields a
// word of opaque flags (first pixel in the top bit), and the words are
// ANDed, so mask rows at any bit offset and alpha rows cost a few
// operations per 8 pixels rather than a branch per pixel.
#include "imaging/pixelcollision.h"

#include <algorithm>
#include <cstring>

#include "imaging/bitmap.h"

namespace {

struct PlaneRef {
    const qbBitmapPlane* plane = nullptr;
    bool isMask = false;
    int32_t originX = 0, originY = 0;
};

// Up to 8 bytes from p as a big-endian word, missing bytes zero.
uint64_t LoadBigEndian(const uint8_t* p, size_t available) {
    uint64_t v = 0;
    if (available >= 8) {
        std::memcpy(&v, p, 8);
        return __builtin_bswap64(v);
    }
    for (size_t i = 0; i < available; ++i) v |= uint64_t{p[i]} << (56 - 8 * i);
    return v;
}

// count (1..64) mask bits from bit `first` of the row, first in the top bit.
uint64_t MaskBits(const uint8_t* row, uint32_t rowBytes, int64_t first) {
    const auto byte = static_cast<size_t>(first >> 3);
    const unsigned shift = static_cast<unsigned>(first & 7);
    uint64_t v = LoadBigEndian(row + byte, rowBytes - byte);
    if (shift) {
        const uint8_t next = byte + 8 < rowBytes ? row[byte + 8] : 0;
        v = (v << shift) | (next >> (8 - shift));
    }
    return v;
}

// Non-zero bytes of an 8-byte group to 8 flags, first byte in bit 7.
uint64_t NonZeroFlags(uint64_t v) {
    constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full, kHigh = 0x8080808080808080ull;
    const uint64_t t = (((v & kLow7) + kLow7) | v) & kHigh;
    return ((t >> 7) * 0x8040201008040201ull) >> 56;
}

// count (1..64) alpha flags from byte `first` of the row, first in the top bit.
uint64_t AlphaBits(const uint8_t* row, int64_t first, int32_t count) {
    const uint8_t* p = row + first;
    uint64_t bits = 0;
    for (int32_t g = 0; g * 8 < count; ++g) {
        uint64_t v = 0;
        const int32_t n = std::min(8, count - g * 8);
        std::memcpy(&v, p + g * 8, static_cast<size_t>(n));
        bits |= NonZeroFlags(v) << (56 - 8 * g);
    }
    return bits;
}

// The rectangle the plane covers, in box coordinates.
qbRect PlaneRect(const PlaneRef& p) {
    return {p.originX, p.originY, p.plane->width, p.plane->height};
}

void AddPlane(PlaneRef* planes, int* n, const qbBitmap* bitmap, bool isMask, int32_t x, int32_t y) {
    if (!bitmap || !bitmap->plane) return;
    planes[(*n)++] = {bitmap->plane.get(), isMask, x, y};
}

// The planes one object adds: its mask or else its alpha channel, and its
// clip mask.
void AddObjectPlanes(const qbCollider& c, PlaneRef* planes, int* n) {
    if (c.mask) AddPlane(planes, n, c.mask, true, c.planeX, c.planeY);
    else if (c.alpha) AddPlane(planes, n, c.alpha, false, c.planeX, c.planeY);
    if (c.clip) AddPlane(planes, n, c.clip, true, c.clipX, c.clipY);
}

}  // namespace

bool BoxesOverlap(const qbRect& a, const qbRect& b) {
    return a.width > 0 && a.height > 0 && b.width > 0 && b.height > 0 && int64_t{a.x} + a.width > b.x &&
           int64_t{b.x} + b.width > a.x && int64_t{a.y} + a.height > b.y && int64_t{b.y} + b.height > a.y;
}

int TestPixelCollision(const qbCollider& a, const qbCollider& b) {
    if (!BoxesOverlap(a.box, b.box)) return 0;
    PlaneRef planes[4];
    int n = 0;
    AddObjectPlanes(a, planes, &n);
    AddObjectPlanes(b, planes, &n);
    if (n == 0) return 1;
    // Outside any plane taking part nothing is opaque for it, so the scan
    // covers only where every plane lies.
    qbRect area = IntersectRects(a.box, b.box);
    for (int i = 0; i < n && area.width > 0; ++i) area = IntersectRects(area, PlaneRect(planes[i]));
    if (area.width <= 0 || area.height <= 0) return 0;
    for (int32_t y = area.y; y < area.y + area.height; ++y) {
        const uint8_t* rows[4];
        for (int i = 0; i < n; ++i)
            rows[i] = planes[i].plane->data + size_t{planes[i].plane->rowBytes} * static_cast<size_t>(y - planes[i].originY);
        for (int32_t x = area.x; x < area.x + area.width; x += 64) {
            const int32_t count = std::min<int32_t>(64, area.x + area.width - x);
            uint64_t all = count == 64 ? ~uint64_t{0} : ~(~uint64_t{0} >> count);
            for (int i = 0; i < n && all; ++i) {
                const int64_t first = int64_t{x} - planes[i].originX;
                all &= planes[i].isMask ? MaskBits(rows[i], planes[i].plane->rowBytes, first)
                                        : AlphaBits(rows[i], first, count);
            }
            if (all) return 1;
        }
    }
    return 0;
}
