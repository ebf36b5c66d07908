// The scan works on 64 pixels at a time: each plane taking part yields a
// word of opaque flags (first pixel in the top bit), and the words are
// ANDed, so mask rows at any bit offset and alpha rows cost a few
// operations per 8 pixels rather than a branch per pixel. Rows where every
// plane is an alpha channel, every plane a mask, or one a mask and the
// other an alpha channel go through SSE2 or AVX2 first and are tested once
// per row: a miss scans the whole intersection, and that should run near
// the speed of reading the planes.
#include "imaging/pixelcollision.h"

#include <algorithm>
#include <cstring>

#include "imaging/bitmap.h"
#include "imaging/kernelisa.h"
#include "imaging/simdrows.h"

#if QB_PIXEL_X86
#include <immintrin.h>
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

const uint8_t* RowOf(const PlaneRef& p, int32_t y) {
    return p.plane->data + size_t{p.plane->rowBytes} * static_cast<size_t>(y - p.originY);
}

// The word scan of one row from x to end, whatever the planes.
bool WordSpanHit(const uint8_t* const* rows, const PlaneRef* planes, int n, int32_t x, int32_t end) {
    for (; x < end; x += 64) {
        const int32_t count = std::min<int32_t>(64, end - x);
        uint64_t all = count == 64 ? ~uint64_t{0} : ~(~uint64_t{0} >> count);
        for (int i = 0; i < n && all; ++i) {
            const int64_t first = int64_t{x} - planes[i].originX;
            all &= planes[i].isMask ? MaskBits(rows[i], planes[i].plane->rowBytes, first)
                                    : AlphaBits(rows[i], first, count);
        }
        if (all) return true;
    }
    return false;
}

int WordScan(const PlaneRef* planes, int n, const qbRect& area) {
    const uint8_t* rows[4];
    for (int32_t y = area.y; y < area.y + area.height; ++y) {
        for (int i = 0; i < n; ++i) rows[i] = RowOf(planes[i], y);
        if (WordSpanHit(rows, planes, n, area.x, area.x + area.width)) return 1;
    }
    return 0;
}

#if QB_PIXEL_X86

uint64_t Load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

// One mask and one alpha channel. The scan keeps to the mask's byte grid,
// so 64 pixels of mask are 8 bytes read as they lie (little-endian: byte k
// holds pixels 8k..8k+7, the first in its top bit) and the alpha flags are
// put in that order instead. The body's last 64 pixels end on the last
// whole mask byte and may go over some the one before saw; fewer than 8
// pixels before and after the body are tested as the 8 that start and end
// the row.
struct MixedPlan {
    int mask = 0, alpha = 1;
    int32_t bodyX = 0, lastX = 0;
    int64_t chunks = 0;
    bool head = false, tail = false;
};

bool PlanMixed(const PlaneRef* planes, const qbRect& area, MixedPlan* p) {
    p->mask = planes[0].isMask ? 0 : 1;
    p->alpha = 1 - p->mask;
    const int64_t end = int64_t{area.x} + area.width;
    const int64_t body = area.x + ((8 - ((int64_t{area.x} - planes[p->mask].originX) & 7)) & 7);
    if (body + 64 > end) return false;
    p->bodyX = static_cast<int32_t>(body);
    p->chunks = (end - body) / 64;
    const int64_t rest = (end - body) % 64;
    p->lastX = static_cast<int32_t>(body + 64 * (p->chunks - 1) + (rest & ~int64_t{7}));
    p->head = body > area.x;
    p->tail = (rest & 7) != 0;
    return true;
}

// Pixels x..x+7, all inside the area, opaque in both planes.
bool EightHit(const PlaneRef& mask, const uint8_t* maskRow, const PlaneRef& alpha, const uint8_t* alphaRow,
              int32_t x) {
    const int64_t bit = int64_t{x} - mask.originX;
    const uint32_t m = MaskBits8(maskRow + (bit >> 3), static_cast<uint32_t>(bit & 7));
    return (m & NonZeroFlags(Load64(alphaRow + (int64_t{x} - alpha.originX)))) != 0;
}

// The rows of a mixed pair; body(mask bytes, alpha bytes, plan) scans the
// whole mask bytes of a row.
template <typename Body>
int MixedScan(const PlaneRef* planes, const qbRect& area, Body body) {
    MixedPlan p;
    if (!PlanMixed(planes, area, &p)) return WordScan(planes, 2, area);
    const PlaneRef& mp = planes[p.mask];
    const PlaneRef& ap = planes[p.alpha];
    const int64_t maskByte = (int64_t{p.bodyX} - mp.originX) >> 3, alphaByte = int64_t{p.bodyX} - ap.originX;
    const int32_t end = area.x + area.width;
    for (int32_t y = area.y; y < area.y + area.height; ++y) {
        const uint8_t* m = RowOf(mp, y);
        const uint8_t* a = RowOf(ap, y);
        if (body(m + maskByte, a + alphaByte, p)) return 1;
        if (p.head && EightHit(mp, m, ap, a, area.x)) return 1;
        if (p.tail && EightHit(mp, m, ap, a, end - 8)) return 1;
    }
    return 0;
}

__m128i Load16(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// Alpha planes only: a pixel is opaque in every plane where the least of
// its bytes is not 0, so a row ORs those minima a vector at a time (the
// last vector ending with the row) and is tested once.
template <int N>
int AlphaScanSse2(const PlaneRef* planes, const qbRect& area) {
    const int64_t steps = area.width / 16, last = area.width - 16;
    const __m128i zero = _mm_setzero_si128();
    const uint8_t* p[N];
    for (int32_t y = area.y; y < area.y + area.height; ++y) {
        for (int i = 0; i < N; ++i) p[i] = RowOf(planes[i], y) + (int64_t{area.x} - planes[i].originX);
        __m128i any = zero;
        for (int64_t k = 0; k < steps; ++k) {
            __m128i least = Load16(p[0] + 16 * k);
            for (int i = 1; i < N; ++i) least = _mm_min_epu8(least, Load16(p[i] + 16 * k));
            any = _mm_or_si128(any, least);
        }
        __m128i least = Load16(p[0] + last);
        for (int i = 1; i < N; ++i) least = _mm_min_epu8(least, Load16(p[i] + last));
        any = _mm_or_si128(any, least);
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(any, zero)) != 0xFFFF) return 1;
    }
    return 0;
}

// Masks only, a vector of pixels a step. A mask read from pixel `first` of
// its row: byte j of a step is its own bits moved up by s and the next
// byte's top s bits below them, by 16-bit shifts whose spill into the
// neighbouring byte is masked off. The next byte is read only when s is not
// 0, and then it lies inside the row whenever the step's pixels do (a row
// that ends on a byte boundary reaches its last byte only with s 0). Each
// row takes whole steps from its start and one more that ends with it (it
// may go over pixels a step already saw), and is tested once at its end.
struct LaneSse2 {
    int64_t offset = 0;  // of the step's first byte in the row
    bool shifted = false;
    __m128i up, down, keepHigh, keepLow;
};

LaneSse2 MakeLaneSse2(int64_t first) {
    LaneSse2 m;
    const int s = static_cast<int>(first & 7);
    m.offset = first >> 3;
    m.shifted = s != 0;
    m.up = _mm_cvtsi32_si128(s);
    m.down = _mm_cvtsi32_si128(8 - s);
    m.keepHigh = _mm_set1_epi8(static_cast<char>((0xFF << s) & 0xFF));
    m.keepLow = _mm_set1_epi8(static_cast<char>(0xFF >> (8 - s)));
    return m;
}

__m128i LaneBits(const uint8_t* row, const LaneSse2& m, int64_t byteStep) {
    const uint8_t* q = row + m.offset + byteStep;
    const __m128i v = Load16(q);
    if (!m.shifted) return v;
    return _mm_or_si128(_mm_and_si128(_mm_sll_epi16(v, m.up), m.keepHigh),
                        _mm_and_si128(_mm_srl_epi16(Load16(q + 1), m.down), m.keepLow));
}

template <int N>
int MaskScanSse2(const PlaneRef* planes, const qbRect& area) {
    const int32_t end = area.x + area.width;
    const int64_t steps = area.width / 128;
    LaneSse2 lanes[N], last[N];
    for (int i = 0; i < N; ++i) {
        lanes[i] = MakeLaneSse2(int64_t{area.x} - planes[i].originX);
        last[i] = MakeLaneSse2(int64_t{end} - 128 - planes[i].originX);
    }
    const __m128i zero = _mm_setzero_si128();
    const uint8_t* rows[N];
    for (int32_t y = area.y; y < area.y + area.height; ++y) {
        for (int i = 0; i < N; ++i) rows[i] = RowOf(planes[i], y);
        __m128i any = zero;
        for (int64_t k = 0; k < steps; ++k) {
            __m128i all = LaneBits(rows[0], lanes[0], 16 * k);
            for (int i = 1; i < N; ++i) all = _mm_and_si128(all, LaneBits(rows[i], lanes[i], 16 * k));
            any = _mm_or_si128(any, all);
        }
        __m128i all = LaneBits(rows[0], last[0], 0);
        for (int i = 1; i < N; ++i) all = _mm_and_si128(all, LaneBits(rows[i], last[i], 0));
        any = _mm_or_si128(any, all);
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(any, zero)) != 0xFFFF) return 1;
    }
    return 0;
}

// The same 256 pixels a step.
#define QB_AVX2 __attribute__((target("avx2")))

struct LaneAvx2 {
    int64_t offset = 0;
    bool shifted = false;
    __m128i up, down;
    __m256i keepHigh, keepLow;
};

QB_AVX2 LaneAvx2 MakeLaneAvx2(int64_t first) {
    LaneAvx2 m;
    const int s = static_cast<int>(first & 7);
    m.offset = first >> 3;
    m.shifted = s != 0;
    m.up = _mm_cvtsi32_si128(s);
    m.down = _mm_cvtsi32_si128(8 - s);
    m.keepHigh = _mm256_set1_epi8(static_cast<char>((0xFF << s) & 0xFF));
    m.keepLow = _mm256_set1_epi8(static_cast<char>(0xFF >> (8 - s)));
    return m;
}

QB_AVX2 inline __m256i Load32(const uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }

QB_AVX2 inline __m256i LaneBits(const uint8_t* row, const LaneAvx2& m, int64_t byteStep) {
    const uint8_t* q = row + m.offset + byteStep;
    const __m256i v = Load32(q);
    if (!m.shifted) return v;
    return _mm256_or_si256(_mm256_and_si256(_mm256_sll_epi16(v, m.up), m.keepHigh),
                           _mm256_and_si256(_mm256_srl_epi16(Load32(q + 1), m.down), m.keepLow));
}

template <int N>
QB_AVX2 int MaskScanAvx2(const PlaneRef* planes, const qbRect& area) {
    const int32_t end = area.x + area.width;
    const int64_t steps = area.width / 256;
    LaneAvx2 lanes[N], last[N];
    for (int i = 0; i < N; ++i) {
        lanes[i] = MakeLaneAvx2(int64_t{area.x} - planes[i].originX);
        last[i] = MakeLaneAvx2(int64_t{end} - 256 - planes[i].originX);
    }
    const uint8_t* rows[N];
    for (int32_t y = area.y; y < area.y + area.height; ++y) {
        for (int i = 0; i < N; ++i) rows[i] = RowOf(planes[i], y);
        __m256i any = _mm256_setzero_si256();
        for (int64_t k = 0; k < steps; ++k) {
            __m256i all = LaneBits(rows[0], lanes[0], 32 * k);
            for (int i = 1; i < N; ++i) all = _mm256_and_si256(all, LaneBits(rows[i], lanes[i], 32 * k));
            any = _mm256_or_si256(any, all);
        }
        __m256i all = LaneBits(rows[0], last[0], 0);
        for (int i = 1; i < N; ++i) all = _mm256_and_si256(all, LaneBits(rows[i], last[i], 0));
        any = _mm256_or_si256(any, all);
        if (!_mm256_testz_si256(any, any)) return 1;
    }
    return 0;
}

template <int N>
QB_AVX2 int AlphaScanAvx2(const PlaneRef* planes, const qbRect& area) {
    const int64_t steps = area.width / 32, last = area.width - 32;
    const uint8_t* p[N];
    for (int32_t y = area.y; y < area.y + area.height; ++y) {
        for (int i = 0; i < N; ++i) p[i] = RowOf(planes[i], y) + (int64_t{area.x} - planes[i].originX);
        __m256i any = _mm256_setzero_si256();
        for (int64_t k = 0; k < steps; ++k) {
            __m256i least = Load32(p[0] + 32 * k);
            for (int i = 1; i < N; ++i) least = _mm256_min_epu8(least, Load32(p[i] + 32 * k));
            any = _mm256_or_si256(any, least);
        }
        __m256i least = Load32(p[0] + last);
        for (int i = 1; i < N; ++i) least = _mm256_min_epu8(least, Load32(p[i] + last));
        any = _mm256_or_si256(any, least);
        if (!_mm256_testz_si256(any, any)) return 1;
    }
    return 0;
}

// Clip masks are masks, so alpha planes only are one or two.
int AlphaScan(const PlaneRef* planes, int n, const qbRect& area, KernelIsa isa) {
    const bool wide = isa == KernelIsa::Avx2 && area.width >= 32;
    if (n == 1) return wide ? AlphaScanAvx2<1>(planes, area) : AlphaScanSse2<1>(planes, area);
    return wide ? AlphaScanAvx2<2>(planes, area) : AlphaScanSse2<2>(planes, area);
}

int MaskScan(const PlaneRef* planes, int n, const qbRect& area, KernelIsa isa) {
    const bool wide = isa == KernelIsa::Avx2 && area.width >= 256;
    switch (n) {
    case 1: return wide ? MaskScanAvx2<1>(planes, area) : MaskScanSse2<1>(planes, area);
    case 2: return wide ? MaskScanAvx2<2>(planes, area) : MaskScanSse2<2>(planes, area);
    case 3: return wide ? MaskScanAvx2<3>(planes, area) : MaskScanSse2<3>(planes, area);
    default: return wide ? MaskScanAvx2<4>(planes, area) : MaskScanSse2<4>(planes, area);
    }
}

// The transparent flags of 64 alpha bytes in the mask's order: compared
// 16 at a time, then each byte of flags turned round.
uint64_t ClearFlagsSse2(const uint8_t* p) {
    const __m128i zero = _mm_setzero_si128();
    uint64_t clear = 0;
    for (int g = 0; g < 4; ++g)
        clear |= uint64_t{static_cast<uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(Load16(p + 16 * g), zero)))}
                 << (16 * g);
    return ReverseBitsInBytes(clear);
}

// The body of a mixed row: whole mask bytes against the alpha bytes they
// cover, the last 64 pixels ending on the last whole mask byte.
bool MixedBodySse2(const uint8_t* m, const uint8_t* a, const MixedPlan& p) {
    uint64_t any = 0;
    for (int64_t k = 0; k < p.chunks; ++k) any |= Load64(m + 8 * k) & ~ClearFlagsSse2(a + 64 * k);
    const int64_t last = p.lastX - p.bodyX;
    return (any | (Load64(m + last / 8) & ~ClearFlagsSse2(a + last))) != 0;
}

// With AVX2 the bytes of each group of 8 are turned round before the
// compare, so the flags come out in the mask's order.
QB_AVX2 inline uint64_t ClearFlagsAvx2(const uint8_t* p, __m256i turn) {
    const __m256i zero = _mm256_setzero_si256();
    const auto lo =
        static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_shuffle_epi8(Load32(p), turn), zero)));
    const auto hi = static_cast<uint32_t>(
        _mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_shuffle_epi8(Load32(p + 32), turn), zero)));
    return uint64_t{lo} | (uint64_t{hi} << 32);
}

QB_AVX2 bool MixedBodyAvx2(const uint8_t* m, const uint8_t* a, const MixedPlan& p) {
    const __m256i turn = _mm256_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1,
                                          0, 15, 14, 13, 12, 11, 10, 9, 8);
    uint64_t any = 0;
    for (int64_t k = 0; k < p.chunks; ++k) any |= Load64(m + 8 * k) & ~ClearFlagsAvx2(a + 64 * k, turn);
    const int64_t last = p.lastX - p.bodyX;
    return (any | (Load64(m + last / 8) & ~ClearFlagsAvx2(a + last, turn))) != 0;
}

#endif

}  // namespace

bool BoxesOverlap(const qbRect& a, const qbRect& b) {
    return a.width > 0 && a.height > 0 && b.width > 0 && b.height > 0 && int64_t{a.x} + a.width > b.x &&
           int64_t{b.x} + b.width > a.x && int64_t{a.y} + a.height > b.y && int64_t{b.y} + b.height > a.y;
}

int TestPixelCollision(const qbCollider& a, const qbCollider& b) {
    return TestPixelCollisionWith(a, b, BestKernelIsa());
}

int TestPixelCollisionWith(const qbCollider& a, const qbCollider& b, KernelIsa wanted) {
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
#if QB_PIXEL_X86
    const KernelIsa isa = UsableIsa(wanted);
    int masks = 0;
    for (int i = 0; i < n; ++i) masks += planes[i].isMask ? 1 : 0;
    if (isa != KernelIsa::Portable) {
        if (masks == 0 && area.width >= 16) return AlphaScan(planes, n, area, isa);
        if (masks == n && area.width >= 128) return MaskScan(planes, n, area, isa);
        if (masks == 1 && n == 2)
            return isa == KernelIsa::Avx2 ? MixedScan(planes, area, MixedBodyAvx2)
                                          : MixedScan(planes, area, MixedBodySse2);
    }
#else
    (void)wanted;
#endif
    return WordScan(planes, n, area);
}
