// The scan works on 64 pixels at a time: each plane taking part yields a
// word of opaque flags (first pixel in the top bit), and the words are
// ANDed, so mask rows at any bit offset and alpha rows cost a few
// operations per 8 pixels rather than a branch per pixel. Rows where every
// plane is an alpha channel, or every plane a mask, go through SSE2 first:
// a miss scans the whole intersection, and that should run near the speed
// of reading the planes.
#include "imaging/pixelcollision.h"

#include <algorithm>
#include <cstring>

#include "imaging/bitmap.h"
#include "imaging/simdrows.h"

#if QB_PIXEL_X86
#include <emmintrin.h>
#endif

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

// The bits of each byte in the other order.
uint64_t ReverseBitsInBytes(uint64_t v) {
    v = ((v >> 1) & 0x5555555555555555ull) | ((v & 0x5555555555555555ull) << 1);
    v = ((v >> 2) & 0x3333333333333333ull) | ((v & 0x3333333333333333ull) << 2);
    return ((v >> 4) & 0x0F0F0F0F0F0F0F0Full) | ((v & 0x0F0F0F0F0F0F0F0Full) << 4);
}

// count (1..64) alpha flags from byte `first` of the row, first in the top bit.
uint64_t AlphaBits(const uint8_t* row, int64_t first, int32_t count) {
    const uint8_t* p = row + first;
#if QB_PIXEL_X86
    if (count == 64) {
        // Zero bytes to bits, first pixel in bit 0; then turned round.
        const __m128i zero = _mm_setzero_si128();
        uint64_t clear = 0;
        for (int g = 0; g < 4; ++g) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * g));
            clear |= uint64_t{static_cast<uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero)))} << (16 * g);
        }
        return ReverseBitsInBytes(__builtin_bswap64(~clear));
    }
#endif
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

#if QB_PIXEL_X86

__m128i Load16(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// Alpha planes only: 64 pixels a step from *x while 64 are left. true on a
// pixel opaque in every plane; else *x is where the step stopped.
bool AlphaRowHit(const uint8_t* const* rows, const PlaneRef* planes, int n, int32_t* x, int32_t end) {
    const __m128i zero = _mm_setzero_si128();
    const uint8_t* p[4];
    for (int i = 0; i < n; ++i) p[i] = rows[i] + (int64_t{*x} - planes[i].originX);
    const int64_t steps = (int64_t{end} - *x) / 64;
    for (int64_t k = 0; k < steps; ++k) {
        // A lane stays all ones while each of the four groups has a
        // transparent plane there.
        __m128i clear = _mm_set1_epi8(-1);
        for (int g = 0; g < 4; ++g) {
            __m128i group = _mm_cmpeq_epi8(Load16(p[0] + 64 * k + 16 * g), zero);
            for (int i = 1; i < n; ++i)
                group = _mm_or_si128(group, _mm_cmpeq_epi8(Load16(p[i] + 64 * k + 16 * g), zero));
            clear = _mm_and_si128(clear, group);
        }
        if (_mm_movemask_epi8(clear) != 0xFFFF) return true;
    }
    // The row's end 16 pixels a step, so the word scan gets at most 15.
    int64_t done = steps * 64;
    for (; int64_t{end} - *x - done >= 16; done += 16) {
        __m128i clear = _mm_cmpeq_epi8(Load16(p[0] + done), zero);
        for (int i = 1; i < n; ++i) clear = _mm_or_si128(clear, _mm_cmpeq_epi8(Load16(p[i] + done), zero));
        if (_mm_movemask_epi8(clear) != 0xFFFF) return true;
    }
    *x = static_cast<int32_t>(*x + done);
    return false;
}

// Masks only, 128 pixels a step. A mask read from pixel `first` of its row:
// byte j of a step is its own bits moved up by s and the next byte's top s
// bits below them. The next byte is read only when s is not 0, and then it
// lies inside the row whenever the step's 128 pixels do (a row that ends on
// a byte boundary reaches its last byte only with s 0).
struct MaskLane {
    int64_t offset = 0;  // of the step's first byte in the row
    bool shifted = false;
    __m128i up, down, keepHigh, keepLow;
};

MaskLane MakeLane(int64_t first) {
    MaskLane m;
    const int s = static_cast<int>(first & 7);
    m.offset = first >> 3;
    m.shifted = s != 0;
    m.up = _mm_cvtsi32_si128(s);
    m.down = _mm_cvtsi32_si128(8 - s);
    m.keepHigh = _mm_set1_epi8(static_cast<char>((0xFF << s) & 0xFF));
    m.keepLow = _mm_set1_epi8(static_cast<char>(0xFF >> (8 - s)));
    return m;
}

bool MaskStepHit(const uint8_t* const* rows, const MaskLane* lanes, int n, int64_t byteStep) {
    __m128i all = _mm_set1_epi8(-1);
    for (int i = 0; i < n; ++i) {
        const MaskLane& m = lanes[i];
        const uint8_t* q = rows[i] + m.offset + byteStep;
        __m128i v = Load16(q);
        if (m.shifted)
            v = _mm_or_si128(_mm_and_si128(_mm_sll_epi16(v, m.up), m.keepHigh),
                             _mm_and_si128(_mm_srl_epi16(Load16(q + 1), m.down), m.keepLow));
        all = _mm_and_si128(all, v);
    }
    return _mm_movemask_epi8(_mm_cmpeq_epi8(all, _mm_setzero_si128())) != 0xFFFF;
}

// The lanes of a whole row of masks at least 128 pixels wide: steps from
// the row's start, and one more that ends with the row (it may go over
// pixels a step already saw).
struct MaskScan {
    int64_t steps = 0;
    MaskLane lanes[4], last[4];
};

void MakeMaskScan(const PlaneRef* planes, int n, int32_t start, int32_t end, MaskScan* scan) {
    scan->steps = (int64_t{end} - start) / 128;
    for (int i = 0; i < n; ++i) {
        scan->lanes[i] = MakeLane(int64_t{start} - planes[i].originX);
        scan->last[i] = MakeLane(int64_t{end} - 128 - planes[i].originX);
    }
}

bool MaskRowHit(const uint8_t* const* rows, const MaskScan& scan, int n) {
    for (int64_t k = 0; k < scan.steps; ++k)
        if (MaskStepHit(rows, scan.lanes, n, 16 * k)) return true;
    return MaskStepHit(rows, scan.last, n, 0);
}

#endif

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
    int masks = 0;
    for (int i = 0; i < n; ++i) masks += planes[i].isMask ? 1 : 0;
    (void)masks;  // only the vector paths ask
    const int32_t end = area.x + area.width;
#if QB_PIXEL_X86
    MaskScan maskScan;
    const bool maskRows = masks == n && area.width >= 128;
    if (maskRows) MakeMaskScan(planes, n, area.x, end, &maskScan);
#endif
    for (int32_t y = area.y; y < area.y + area.height; ++y) {
        const uint8_t* rows[4];
        for (int i = 0; i < n; ++i)
            rows[i] = planes[i].plane->data + size_t{planes[i].plane->rowBytes} * static_cast<size_t>(y - planes[i].originY);
        int32_t start = area.x;
#if QB_PIXEL_X86
        if (masks == 0 && AlphaRowHit(rows, planes, n, &start, end)) return 1;
        if (maskRows) {
            if (MaskRowHit(rows, maskScan, n)) return 1;
            continue;
        }
#endif
        for (int32_t x = start; x < end; x += 64) {
            const int32_t count = std::min<int32_t>(64, end - x);
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
