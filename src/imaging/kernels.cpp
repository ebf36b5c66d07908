#include "imaging/kernels.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

#include "core/pixelformats.h"
#include "imaging/simdrows.h"

namespace {

inline uint32_t* At32(const PixelRows32& r, int32_t i, int32_t j) {
    return r.pixels + (static_cast<std::ptrdiff_t>(r.y) + j) * r.rowLength + r.x + i;
}
inline uint16_t* At16(const PixelRows16& r, int32_t i, int32_t j) {
    return r.pixels + (static_cast<std::ptrdiff_t>(r.y) + j) * r.rowLength + r.x + i;
}
inline bool MaskBit(const MaskRows& m, int32_t i, int32_t j) {
    const int32_t x = m.x + i;
    const uint8_t byte = m.data[static_cast<std::ptrdiff_t>(m.y + j) * m.rowBytes + x / 8];
    return (byte & (0x80u >> (x & 7))) != 0;
}
inline void SetMaskBit(const MaskRows& m, int32_t i, int32_t j, bool on) {
    const int32_t x = m.x + i;
    uint8_t& byte = m.data[static_cast<std::ptrdiff_t>(m.y + j) * m.rowBytes + x / 8];
    const auto bit = static_cast<uint8_t>(0x80u >> (x & 7));
    byte = on ? static_cast<uint8_t>(byte | bit) : static_cast<uint8_t>(byte & ~bit);
}
inline uint8_t& AlphaAt(const AlphaRows& a, int32_t i, int32_t j) {
    return a.data[static_cast<std::ptrdiff_t>(a.y + j) * a.rowBytes + a.x + i];
}

// Format 10 skips the byte rearrangement entirely; the template lets the
// compiler drop it from the inner loop instead of testing per pixel.
template <bool kArgb>
inline uint32_t In(uint32_t format, uint32_t p) {
    if constexpr (kArgb) return p & 0x00FFFFFFu;
    return KernelToARGB(format, p) & 0x00FFFFFFu;
}
template <bool kArgb>
inline uint32_t Out(uint32_t format, uint32_t rgb) {
    if constexpr (kArgb) return rgb;
    return KernelFromARGB(format, rgb);
}

}  // namespace

uint32_t KernelToARGB(uint32_t format, uint32_t p) {
    uint32_t r = 0, g = 0, b = 0;
    switch (format) {
        case 11: r = (p >> 8) & 255; g = (p >> 16) & 255; b = p >> 24; break;
        case 12: r = p >> 24; g = (p >> 16) & 255; b = (p >> 8) & 255; break;
        case 13: r = p & 255; g = (p >> 8) & 255; b = (p >> 16) & 255; break;
        default: return p;
    }
    return (r << 16) | (g << 8) | b;
}

uint32_t KernelFromARGB(uint32_t format, uint32_t c) {
    const uint32_t r = (c >> 16) & 255, g = (c >> 8) & 255, b = c & 255;
    switch (format) {
        case 11: return (b << 24) | (g << 16) | (r << 8);
        case 12: return (r << 24) | (g << 16) | (b << 8);
        case 13: return (b << 16) | (g << 8) | r;
        default: return c;
    }
}

Layout16 Layout16OfFormat(int format) {
    switch (format) {
        case kFormatRGB565:
        case kFormatBGR565: return Layout16::RGB565;
        case kFormatRGB565Swapped:
        case kFormatBGR565Swapped: return Layout16::RGB565Swapped;
        case kFormatRGB555Swapped:
        case kFormatBGR555Swapped: return Layout16::RGB555Swapped;
        default: return Layout16::RGB555;
    }
}

uint32_t BlendRGB(uint32_t d, uint32_t c, uint32_t w) {
    uint32_t out = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        const int32_t dc = static_cast<int32_t>((d >> shift) & 255);
        const int32_t cc = static_cast<int32_t>((c >> shift) & 255);
        const int32_t v = dc + (((cc - dc) * static_cast<int32_t>(w)) >> 8);
        out |= static_cast<uint32_t>(v & 255) << shift;
    }
    return out;
}

namespace {
inline uint32_t BlendFast(uint32_t d, uint32_t c, uint32_t w) { return BlendRGBFast(d, c, w); }
}  // namespace

// ---- plain copy -------------------------------------------------------------

void CopyRect32Rows(PixelRows32 dst, PixelRows32 src, int32_t width, int32_t height) {
    if (width <= 0 || height <= 0) return;
    // Thin columns (blinds, stripes) are thousands of rows of a pixel or
    // two, where a library call per row costs more than the copy. Each row
    // is read whole before it is written, as memmove would.
    if (width <= 8) {
        uint32_t row[8];
        for (int32_t j = 0; j < height; ++j) {
            const uint32_t* from = At32(src, 0, j);
            for (int32_t i = 0; i < width; ++i) row[i] = from[i];
            uint32_t* to = At32(dst, 0, j);
            for (int32_t i = 0; i < width; ++i) to[i] = row[i];
        }
        return;
    }
    for (int32_t j = 0; j < height; ++j)
        std::memmove(At32(dst, 0, j), At32(src, 0, j), static_cast<size_t>(width) * 4);
}
void CopyRect32Ref(PixelRows32 dst, PixelRows32 src, int32_t width, int32_t height) {
    for (int32_t j = 0; j < height; ++j)
        for (int32_t i = 0; i < width; ++i) *At32(dst, i, j) = *At32(src, i, j);
}
void CopyRect16Rows(PixelRows16 dst, PixelRows16 src, int32_t width, int32_t height) {
    if (width <= 0 || height <= 0) return;
    for (int32_t j = 0; j < height; ++j)
        std::memmove(At16(dst, 0, j), At16(src, 0, j), static_cast<size_t>(width) * 2);
}
void CopyRect16Ref(PixelRows16 dst, PixelRows16 src, int32_t width, int32_t height) {
    for (int32_t j = 0; j < height; ++j)
        for (int32_t i = 0; i < width; ++i) *At16(dst, i, j) = *At16(src, i, j);
}

// ---- plain fill -------------------------------------------------------------

namespace {
// Fills `bytes` bytes of whole pixels from p with a 4-byte pattern (a 2-byte
// pixel doubled). Four equal bytes are memset's, as fast as stores get.
void FillBytes(KernelIsa isa, void* p, size_t bytes, uint32_t pattern) {
    if (pattern == (pattern & 0xFFu) * 0x01010101u) {
        std::memset(p, static_cast<int>(pattern & 0xFFu), bytes);
        return;
    }
    auto* out = static_cast<uint8_t*>(p);
#if QB_PIXEL_X86
    if (isa != KernelIsa::Portable && bytes >= kStringFillBytes) return FillPatternStrings(out, bytes, pattern);
    if (isa == KernelIsa::Avx2) return FillPatternAvx2(out, bytes, pattern);
    if (isa == KernelIsa::Sse2) return FillPatternSse2(out, bytes, pattern);
#endif
    (void)isa;
    size_t k = 0;
    for (; k + 4 <= bytes; k += 4) std::memcpy(out + k, &pattern, 4);
    if (k < bytes) std::memcpy(out + k, &pattern, 2);
}

// A rectangle as wide as its rows is filled as one run.
template <typename Rows, typename AtFn>
void FillRows(KernelIsa isa, Rows dst, int32_t width, int32_t height, uint32_t pattern, size_t bytesPerPixel,
              AtFn at) {
    if (width <= 0 || height <= 0) return;
    isa = UsableIsa(isa);
    const size_t rowBytes = static_cast<size_t>(width) * bytesPerPixel;
    if (dst.rowLength == width) {
        FillBytes(isa, at(dst, 0, 0), rowBytes * static_cast<size_t>(height), pattern);
        return;
    }
    for (int32_t j = 0; j < height; ++j) FillBytes(isa, at(dst, 0, j), rowBytes, pattern);
}
}  // namespace

void FillRun32(uint32_t* p, size_t count, uint32_t pixel) { FillBytes(BestKernelIsa(), p, count * 4, pixel); }
void FillRun16(uint16_t* p, size_t count, uint16_t pixel) {
    FillBytes(BestKernelIsa(), p, count * 2, pixel * 0x00010001u);
}
void FillRect32With(KernelIsa isa, PixelRows32 dst, int32_t width, int32_t height, uint32_t pixel) {
    FillRows(isa, dst, width, height, pixel, 4,
             [](const PixelRows32& r, int32_t i, int32_t j) { return At32(r, i, j); });
}
void FillRect32Ref(PixelRows32 dst, int32_t width, int32_t height, uint32_t pixel) {
    for (int32_t j = 0; j < height; ++j)
        for (int32_t i = 0; i < width; ++i) *At32(dst, i, j) = pixel;
}
void FillRect16With(KernelIsa isa, PixelRows16 dst, int32_t width, int32_t height, uint16_t pixel) {
    FillRows(isa, dst, width, height, pixel * 0x00010001u, 2,
             [](const PixelRows16& r, int32_t i, int32_t j) { return At16(r, i, j); });
}
void FillRect16Ref(PixelRows16 dst, int32_t width, int32_t height, uint16_t pixel) {
    for (int32_t j = 0; j < height; ++j)
        for (int32_t i = 0; i < width; ++i) *At16(dst, i, j) = pixel;
}

// ---- blended fill -----------------------------------------------------------

namespace {
template <bool kArgb>
void BlendFill32Rows(PixelRows32 dst, int32_t width, int32_t height, uint32_t format,
                     uint32_t argb, uint32_t level) {
    for (int32_t j = 0; j < height; ++j) {
        uint32_t* p = At32(dst, 0, j);
        int32_t i = 0;
#if QB_PIXEL_X86
        if constexpr (kArgb) i = BlendFillRowSse2(p, width, argb, level);
#endif
        for (; i < width; ++i)
            p[i] = Out<kArgb>(format, BlendFast(In<kArgb>(format, p[i]), argb, level));
    }
}
}  // namespace

void BlendFill32(PixelRows32 dst, int32_t width, int32_t height, uint32_t format,
                 uint32_t argb, uint32_t level) {
    if (width <= 0 || height <= 0 || level == 0) return;
    if (format == 10) BlendFill32Rows<true>(dst, width, height, format, argb, level);
    else BlendFill32Rows<false>(dst, width, height, format, argb, level);
}
void BlendFill32Ref(PixelRows32 dst, int32_t width, int32_t height, uint32_t format,
                    uint32_t argb, uint32_t level) {
    if (level == 0) return;
    for (int32_t j = 0; j < height; ++j)
        for (int32_t i = 0; i < width; ++i) {
            uint32_t* p = At32(dst, i, j);
            *p = KernelFromARGB(format, BlendRGB(KernelToARGB(format, *p), argb, level));
        }
}
void BlendFill16(PixelRows16 dst, int32_t width, int32_t height, Layout16 layout,
                 uint16_t colour, uint32_t level) {
    if (width <= 0 || height <= 0 || level == 0) return;
    WithLayout16(layout, [&](auto l) {
        const uint32_t c = Widen16(l, colour);
        for (int32_t j = 0; j < height; ++j) {
            uint16_t* p = At16(dst, 0, j);
            for (int32_t i = 0; i < width; ++i) p[i] = Narrow16(l, BlendFast(Widen16(l, p[i]), c, level));
        }
    });
}
void BlendFill16Ref(PixelRows16 dst, int32_t width, int32_t height, Layout16 layout,
                    uint16_t colour, uint32_t level) {
    if (level == 0) return;
    for (int32_t j = 0; j < height; ++j)
        for (int32_t i = 0; i < width; ++i) {
            uint16_t* p = At16(dst, i, j);
            *p = Narrow16(layout, BlendRGB(Widen16(layout, *p), Widen16(layout, colour), level));
        }
}

// ---- masked copy ------------------------------------------------------------

namespace {
// Walks one mask row: whole mask bytes at once where the bit position is byte
// aligned (an all-set byte is one action on eight pixels, an all-clear one is
// skipped; glyph and brush masks are mostly such bytes), single bits elsewhere.
template <typename EightFn, typename OneFn>
void WalkMaskRow(const uint8_t* m, int32_t maskX, int32_t width, EightFn eight, OneFn one) {
    int32_t i = 0;
    while (i < width) {
        const int32_t bx = maskX + i;
        if ((bx & 7) == 0 && width - i >= 8) {
            const uint8_t byte = m[bx >> 3];
            if (byte == 0xFF) {
                eight(i);
            } else if (byte != 0) {
                for (int k = 0; k < 8; ++k)
                    if (byte & (0x80u >> k)) one(i + k);
            }
            i += 8;
            continue;
        }
        if (m[bx >> 3] & (0x80u >> (bx & 7))) one(i);
        ++i;
    }
}

const uint8_t* MaskRow(const MaskRows& mask, int32_t j) {
    return mask.data + static_cast<std::ptrdiff_t>(mask.y + j) * mask.rowBytes;
}

template <typename Pixel, typename Rows>
MaskedRect<Pixel> MaskedRectOf(Rows dst, Rows src, MaskRows mask, int32_t width, int32_t height) {
    return {BlockStart(dst), BlockStart(src), MaskRow(mask, 0) + (mask.x >> 3), dst.rowLength, src.rowLength,
            mask.rowBytes, static_cast<uint32_t>(mask.x & 7), width, height};
}

template <typename Pixel>
void MaskedCopyRectPortable(const MaskedRect<Pixel>& r) {
    WalkMaskedRect(r, [](Pixel* d, const Pixel* s, uint32_t bits) { SelectPixels(d, s, bits, 8); });
}

}  // namespace

void MaskedCopy32With(KernelIsa isa, PixelRows32 dst, PixelRows32 src, MaskRows mask, int32_t width,
                      int32_t height) {
    if (width <= 0 || height <= 0) return;
    const auto r = MaskedRectOf<uint32_t>(dst, src, mask, width, height);
#if QB_PIXEL_X86
    isa = UsableIsa(isa);
    if (isa == KernelIsa::Avx2) return MaskedCopyRectAvx2(r);
    if (isa == KernelIsa::Sse2) return MaskedCopyRectSse2(r);
#endif
    (void)isa;
    MaskedCopyRectPortable(r);
}
void MaskedCopy32Ref(PixelRows32 dst, PixelRows32 src, MaskRows mask, int32_t width,
                     int32_t height) {
    for (int32_t j = 0; j < height; ++j)
        for (int32_t i = 0; i < width; ++i)
            if (MaskBit(mask, i, j)) *At32(dst, i, j) = *At32(src, i, j);
}
void MaskedCopy16With(KernelIsa isa, PixelRows16 dst, PixelRows16 src, MaskRows mask, int32_t width,
                      int32_t height) {
    if (width <= 0 || height <= 0) return;
    const auto r = MaskedRectOf<uint16_t>(dst, src, mask, width, height);
#if QB_PIXEL_X86
    if (UsableIsa(isa) >= KernelIsa::Sse2) return MaskedCopyRect16Sse2(r);
#endif
    (void)isa;
    MaskedCopyRectPortable(r);
}
void MaskedCopy16Ref(PixelRows16 dst, PixelRows16 src, MaskRows mask, int32_t width,
                     int32_t height) {
    for (int32_t j = 0; j < height; ++j)
        for (int32_t i = 0; i < width; ++i)
            if (MaskBit(mask, i, j)) *At16(dst, i, j) = *At16(src, i, j);
}

// ---- colour through mask ----------------------------------------------------

namespace {
template <typename Pixel, typename Rows, typename AtFn>
void ColourRows(Rows dst, MaskRows mask, int32_t width, int32_t height, Pixel pixel, AtFn at) {
    for (int32_t j = 0; j < height; ++j) {
        Pixel* d = at(dst, 0, j);
        WalkMaskRow(
            MaskRow(mask, j), mask.x, width, [&](int32_t i) { std::fill_n(d + i, 8, pixel); },
            [&](int32_t i) { d[i] = pixel; });
    }
}
}  // namespace

void ColourThroughMask32(PixelRows32 dst, MaskRows mask, int32_t width, int32_t height,
                         uint32_t pixel) {
    ColourRows<uint32_t>(dst, mask, width, height, pixel,
                         [](const PixelRows32& r, int32_t i, int32_t j) { return At32(r, i, j); });
}
void ColourThroughMask32Ref(PixelRows32 dst, MaskRows mask, int32_t width, int32_t height,
                            uint32_t pixel) {
    for (int32_t j = 0; j < height; ++j)
        for (int32_t i = 0; i < width; ++i)
            if (MaskBit(mask, i, j)) *At32(dst, i, j) = pixel;
}
void ColourThroughMask16(PixelRows16 dst, MaskRows mask, int32_t width, int32_t height,
                         uint16_t pixel) {
    ColourRows<uint16_t>(dst, mask, width, height, pixel,
                         [](const PixelRows16& r, int32_t i, int32_t j) { return At16(r, i, j); });
}
void ColourThroughMask16Ref(PixelRows16 dst, MaskRows mask, int32_t width, int32_t height,
                            uint16_t pixel) {
    for (int32_t j = 0; j < height; ++j)
        for (int32_t i = 0; i < width; ++i)
            if (MaskBit(mask, i, j)) *At16(dst, i, j) = pixel;
}

// ---- invert -----------------------------------------------------------------

void Invert32(PixelRows32 dst, int32_t width, int32_t height) {
    for (int32_t j = 0; j < height; ++j) {
        uint32_t* p = At32(dst, 0, j);
        for (int32_t i = 0; i < width; ++i) p[i] = ~p[i];
    }
}
void Invert32Ref(PixelRows32 dst, int32_t width, int32_t height) {
    for (int32_t j = 0; j < height; ++j)
        for (int32_t i = 0; i < width; ++i) *At32(dst, i, j) ^= 0xFFFFFFFFu;
}
void Invert16(PixelRows16 dst, int32_t width, int32_t height) {
    for (int32_t j = 0; j < height; ++j) {
        uint16_t* p = At16(dst, 0, j);
        for (int32_t i = 0; i < width; ++i) p[i] = static_cast<uint16_t>(~p[i]);
    }
}
void Invert16Ref(PixelRows16 dst, int32_t width, int32_t height) {
    for (int32_t j = 0; j < height; ++j)
        for (int32_t i = 0; i < width; ++i) *At16(dst, i, j) ^= 0xFFFFu;
}

// ---- mix --------------------------------------------------------------------

namespace {
template <bool kArgb>
void Mix32Rows(PixelRows32 dst, PixelRows32 src, MaskRows mask, int32_t width, int32_t height,
               uint32_t format, uint32_t w) {
    for (int32_t j = 0; j < height; ++j) {
        uint32_t* d = At32(dst, 0, j);
        const uint32_t* s = At32(src, 0, j);
        // Without a mask a row is four pixels per step: a whole frame mixed
        // (the cross-fade) then costs about one pass over memory.
        if (!mask.data) {
            int32_t i = 0;
#if QB_PIXEL_X86
            if constexpr (kArgb) i = MixRowSse2(d, s, width, w);
#endif
            for (; i < width; ++i)
                d[i] = Out<kArgb>(format, BlendFast(In<kArgb>(format, s[i]), In<kArgb>(format, d[i]), w));
            continue;
        }
        for (int32_t i = 0; i < width; ++i)
            if (MaskBit(mask, i, j))
                d[i] = Out<kArgb>(format, BlendFast(In<kArgb>(format, s[i]), In<kArgb>(format, d[i]), w));
    }
}
}  // namespace

void Mix32(PixelRows32 dst, PixelRows32 src, MaskRows mask, int32_t width, int32_t height,
           uint32_t format, uint32_t level) {
    if (width <= 0 || height <= 0) return;
    const uint32_t w = 255 - (level & 255);
    if (format == 10) Mix32Rows<true>(dst, src, mask, width, height, format, w);
    else Mix32Rows<false>(dst, src, mask, width, height, format, w);
}
void Mix32To(PixelRows32 out, PixelRows32 dst, PixelRows32 src, int32_t width, int32_t height, uint32_t format,
             uint32_t level) {
    if (width <= 0 || height <= 0) return;
    const uint32_t w = 255 - (level & 255);
    for (int32_t j = 0; j < height; ++j) {
        uint32_t* o = At32(out, 0, j);
        const uint32_t* d = At32(dst, 0, j);
        const uint32_t* s = At32(src, 0, j);
        int32_t i = 0;
        if (format == 10) {
#if QB_PIXEL_X86
            i = MixRowToSse2(o, d, s, width, w);
#endif
            for (; i < width; ++i) o[i] = Out<true>(format, BlendFast(In<true>(format, s[i]), In<true>(format, d[i]), w));
        } else {
            for (; i < width; ++i)
                o[i] = Out<false>(format, BlendFast(In<false>(format, s[i]), In<false>(format, d[i]), w));
        }
    }
}
void Mix32Ref(PixelRows32 dst, PixelRows32 src, MaskRows mask, int32_t width, int32_t height,
              uint32_t format, uint32_t level) {
    for (int32_t j = 0; j < height; ++j)
        for (int32_t i = 0; i < width; ++i) {
            if (mask.data && !MaskBit(mask, i, j)) continue;
            uint32_t* d = At32(dst, i, j);
            *d = KernelFromARGB(format, BlendRGB(KernelToARGB(format, *At32(src, i, j)),
                                                 KernelToARGB(format, *d), 255 - (level & 255)));
        }
}
void Mix16(PixelRows16 dst, PixelRows16 src, MaskRows mask, int32_t width, int32_t height,
           Layout16 layout, uint32_t level) {
    if (width <= 0 || height <= 0) return;
    const uint32_t w = 255 - (level & 255);
    WithLayout16(layout, [&](auto l) {
        for (int32_t j = 0; j < height; ++j) {
            uint16_t* d = At16(dst, 0, j);
            const uint16_t* s = At16(src, 0, j);
            for (int32_t i = 0; i < width; ++i)
                if (!mask.data || MaskBit(mask, i, j))
                    d[i] = Narrow16(l, BlendFast(Widen16(l, s[i]), Widen16(l, d[i]), w));
        }
    });
}
void Mix16Ref(PixelRows16 dst, PixelRows16 src, MaskRows mask, int32_t width, int32_t height,
              Layout16 layout, uint32_t level) {
    for (int32_t j = 0; j < height; ++j)
        for (int32_t i = 0; i < width; ++i) {
            if (mask.data && !MaskBit(mask, i, j)) continue;
            uint16_t* d = At16(dst, i, j);
            *d = Narrow16(layout, BlendRGB(Widen16(layout, *At16(src, i, j)), Widen16(layout, *d),
                                           255 - (level & 255)));
        }
}

// ---- mask from key colour ---------------------------------------------------

namespace {
// Eight pixels make one mask byte where the bit position is byte aligned.
template <typename Pixel, typename Differs>
void KeyRows(const Pixel* pixels, int32_t rowLength, int32_t width, int32_t height,
             MaskRows mask, Differs differs) {
    for (int32_t j = 0; j < height; ++j) {
        const Pixel* p = pixels + static_cast<std::ptrdiff_t>(j) * rowLength;
        uint8_t* m = mask.data + static_cast<std::ptrdiff_t>(mask.y + j) * mask.rowBytes;
        int32_t i = 0;
        while (i < width) {
            const int32_t bx = mask.x + i;
            if ((bx & 7) == 0 && width - i >= 8) {
                uint32_t byte = 0;
                for (int k = 0; k < 8; ++k) byte = (byte << 1) | (differs(p[i + k]) ? 1u : 0u);
                m[bx >> 3] = static_cast<uint8_t>(byte);
                i += 8;
                continue;
            }
            const auto bit = static_cast<uint8_t>(0x80u >> (bx & 7));
            m[bx >> 3] = differs(p[i]) ? static_cast<uint8_t>(m[bx >> 3] | bit)
                                       : static_cast<uint8_t>(m[bx >> 3] & ~bit);
            ++i;
        }
    }
}
}  // namespace

void MaskFromKey32(const uint32_t* pixels, int32_t rowLength, int32_t width, int32_t height,
                   uint32_t key, MaskRows mask) {
    const uint32_t k = key & 0x00FFFFFFu;
    KeyRows(pixels, rowLength, width, height, mask,
            [k](uint32_t p) { return (p & 0x00FFFFFFu) != k; });
}
void MaskFromKey32Ref(const uint32_t* pixels, int32_t rowLength, int32_t width, int32_t height,
                      uint32_t key, MaskRows mask) {
    for (int32_t j = 0; j < height; ++j)
        for (int32_t i = 0; i < width; ++i)
            SetMaskBit(mask, i, j,
                       (pixels[static_cast<std::ptrdiff_t>(j) * rowLength + i] & 0x00FFFFFFu) !=
                           (key & 0x00FFFFFFu));
}
void MaskFromKey16(const uint16_t* pixels, int32_t rowLength, int32_t width, int32_t height,
                   uint16_t key, MaskRows mask) {
    KeyRows(pixels, rowLength, width, height, mask, [key](uint16_t p) { return p != key; });
}
void MaskFromKey16Ref(const uint16_t* pixels, int32_t rowLength, int32_t width, int32_t height,
                      uint16_t key, MaskRows mask) {
    for (int32_t j = 0; j < height; ++j)
        for (int32_t i = 0; i < width; ++i)
            SetMaskBit(mask, i, j, pixels[static_cast<std::ptrdiff_t>(j) * rowLength + i] != key);
}

// ---- replace colours --------------------------------------------------------

namespace {
size_t PairCount(const ColourPair* pairs) {
    size_t n = 0;
    while (pairs[n].from != -1) ++n;
    return n;
}
}  // namespace

void ReplaceColours32(PixelRows32 dst, int32_t width, int32_t height, const ColourPair* pairs,
                      uint32_t compareMask) {
    const size_t n = PairCount(pairs);
    if (n == 0 || width <= 0 || height <= 0) return;
    for (int32_t j = 0; j < height; ++j) {
        uint32_t* p = At32(dst, 0, j);
        for (int32_t i = 0; i < width; ++i) {
            uint32_t v = p[i];
            for (size_t k = 0; k < n; ++k)
                if ((v & compareMask) == static_cast<uint32_t>(pairs[k].from)) v = pairs[k].to;
            p[i] = v;
        }
    }
}
void ReplaceColours32Ref(PixelRows32 dst, int32_t width, int32_t height,
                         const ColourPair* pairs, uint32_t compareMask) {
    for (const ColourPair* q = pairs; q->from != -1; ++q)
        for (int32_t j = 0; j < height; ++j)
            for (int32_t i = 0; i < width; ++i) {
                uint32_t* p = At32(dst, i, j);
                if ((*p & compareMask) == static_cast<uint32_t>(q->from)) *p = q->to;
            }
}
void ReplaceColours16(PixelRows16 dst, int32_t width, int32_t height, const ColourPair* pairs) {
    const size_t n = PairCount(pairs);
    if (n == 0 || width <= 0 || height <= 0) return;
    for (int32_t j = 0; j < height; ++j) {
        uint16_t* p = At16(dst, 0, j);
        for (int32_t i = 0; i < width; ++i) {
            uint16_t v = p[i];
            for (size_t k = 0; k < n; ++k)
                if (v == static_cast<uint16_t>(pairs[k].from)) v = static_cast<uint16_t>(pairs[k].to);
            p[i] = v;
        }
    }
}
void ReplaceColours16Ref(PixelRows16 dst, int32_t width, int32_t height,
                         const ColourPair* pairs) {
    for (const ColourPair* q = pairs; q->from != -1; ++q)
        for (int32_t j = 0; j < height; ++j)
            for (int32_t i = 0; i < width; ++i) {
                uint16_t* p = At16(dst, i, j);
                if (*p == static_cast<uint16_t>(q->from)) *p = static_cast<uint16_t>(q->to);
            }
}

// ---- alpha blend ------------------------------------------------------------

namespace {
template <bool kArgb>
void AlphaBlend32Rows(KernelIsa isa, PixelRows32 dst, PixelRows32 src, AlphaRows alpha, int32_t width,
                      int32_t height, uint32_t format) {
    for (int32_t j = 0; j < height; ++j) {
        uint32_t* d = At32(dst, 0, j);
        const uint32_t* s = At32(src, 0, j);
        const uint8_t* a = &AlphaAt(alpha, 0, j);
        int32_t i = 0;
#if QB_PIXEL_X86
        if constexpr (kArgb) {
            if (isa == KernelIsa::Avx2) i = AlphaBlendRowAvx2(d, s, a, width);
            if (isa >= KernelIsa::Sse2) i += AlphaBlendRowSse2(d + i, s + i, a + i, width - i);
        }
#endif
        (void)isa;
        for (; i < width; ++i) {
            const uint32_t w = a[i];
            if (w == 0) continue;
            if (w == 255) {
                d[i] = s[i];
                continue;
            }
            d[i] = Out<kArgb>(format, BlendFast(In<kArgb>(format, d[i]), In<kArgb>(format, s[i]), w));
        }
    }
}

}  // namespace

void AlphaBlend32Rect(KernelIsa isa, PixelRows32 dst, PixelRows32 src, AlphaRows alpha, int32_t width,
                      int32_t height, uint32_t format) {
    if (width <= 0 || height <= 0) return;
    // The vector row calls would find nothing to do in narrower rows.
    isa = width < 4 ? KernelIsa::Portable : UsableIsa(isa);
    if (format == 10) AlphaBlend32Rows<true>(isa, dst, src, alpha, width, height, format);
    else AlphaBlend32Rows<false>(isa, dst, src, alpha, width, height, format);
}
void AlphaBlend32Ref(PixelRows32 dst, PixelRows32 src, AlphaRows alpha, int32_t width,
                     int32_t height, uint32_t format) {
    for (int32_t j = 0; j < height; ++j)
        for (int32_t i = 0; i < width; ++i) {
            const uint32_t w = AlphaAt(alpha, i, j);
            uint32_t* d = At32(dst, i, j);
            const uint32_t s = *At32(src, i, j);
            if (w == 0) continue;
            if (w == 255) *d = s;
            else
                *d = KernelFromARGB(format, BlendRGB(KernelToARGB(format, *d) & 0xFFFFFFu,
                                                     KernelToARGB(format, s) & 0xFFFFFFu, w));
        }
}
void AlphaBlend16(PixelRows16 dst, PixelRows16 src, AlphaRows alpha, int32_t width,
                  int32_t height, Layout16 layout) {
    if (width <= 0 || height <= 0) return;
    WithLayout16(layout, [&](auto l) {
        for (int32_t j = 0; j < height; ++j) {
            uint16_t* d = At16(dst, 0, j);
            const uint16_t* s = At16(src, 0, j);
            const uint8_t* a = &AlphaAt(alpha, 0, j);
            for (int32_t i = 0; i < width; ++i) {
                const uint32_t w = a[i];
                if (w == 0) continue;
                if (w == 255) d[i] = s[i];
                else d[i] = Narrow16(l, BlendFast(Widen16(l, d[i]), Widen16(l, s[i]), w));
            }
        }
    });
}
void AlphaBlend16Ref(PixelRows16 dst, PixelRows16 src, AlphaRows alpha, int32_t width,
                     int32_t height, Layout16 layout) {
    for (int32_t j = 0; j < height; ++j)
        for (int32_t i = 0; i < width; ++i) {
            const uint32_t w = AlphaAt(alpha, i, j);
            uint16_t* d = At16(dst, i, j);
            if (w == 0) continue;
            if (w == 255) *d = *At16(src, i, j);
            else
                *d = Narrow16(layout, BlendRGB(Widen16(layout, *d),
                                               Widen16(layout, *At16(src, i, j)), w));
        }
}

// ---- grey -------------------------------------------------------------------

uint32_t GrayLevel(uint32_t r, uint32_t g, uint32_t b) {
    return static_cast<uint32_t>(0.299 * r + 0.587 * g + 0.114 * b);
}

namespace {
inline uint32_t GrayRGB(uint32_t c, bool blackWhite) {
    uint32_t y = GrayLevel((c >> 16) & 255, (c >> 8) & 255, c & 255);
    if (blackWhite) y = y < 129 ? 0 : 255;
    return (y << 16) | (y << 8) | y;
}
// The weighted sum has 2^24 possible inputs but only 256 outputs per channel
// term; three 256-entry tables of the scaled terms give the identical double
// sum without the multiplications.
struct GrayTables {
    double r[256], g[256], b[256];
    GrayTables() {
        for (int i = 0; i < 256; ++i) {
            r[i] = 0.299 * i;
            g[i] = 0.587 * i;
            b[i] = 0.114 * i;
        }
    }
};
const GrayTables& Tables() {
    static const GrayTables t;
    return t;
}
inline uint32_t GrayFast(const GrayTables& t, uint32_t c, bool blackWhite) {
    uint32_t y = static_cast<uint32_t>(t.r[(c >> 16) & 255] + t.g[(c >> 8) & 255] + t.b[c & 255]);
    if (blackWhite) y = y < 129 ? 0 : 255;
    return (y << 16) | (y << 8) | y;
}
template <bool kArgb>
void Gray32Rows(PixelRows32 dst, int32_t width, int32_t height, uint32_t format,
                bool blackWhite) {
    const GrayTables& t = Tables();
    for (int32_t j = 0; j < height; ++j) {
        uint32_t* p = At32(dst, 0, j);
        for (int32_t i = 0; i < width; ++i)
            p[i] = Out<kArgb>(format, GrayFast(t, In<kArgb>(format, p[i]), blackWhite));
    }
}
}  // namespace

void Gray32(PixelRows32 dst, int32_t width, int32_t height, uint32_t format, bool blackWhite) {
    if (width <= 0 || height <= 0) return;
    if (format == 10) Gray32Rows<true>(dst, width, height, format, blackWhite);
    else Gray32Rows<false>(dst, width, height, format, blackWhite);
}
void Gray32Ref(PixelRows32 dst, int32_t width, int32_t height, uint32_t format,
               bool blackWhite) {
    for (int32_t j = 0; j < height; ++j)
        for (int32_t i = 0; i < width; ++i) {
            uint32_t* p = At32(dst, i, j);
            *p = KernelFromARGB(format, GrayRGB(KernelToARGB(format, *p), blackWhite));
        }
}
void Gray16(PixelRows16 dst, int32_t width, int32_t height, Layout16 layout, bool blackWhite) {
    if (width <= 0 || height <= 0) return;
    const GrayTables& t = Tables();
    WithLayout16(layout, [&](auto l) {
        for (int32_t j = 0; j < height; ++j) {
            uint16_t* p = At16(dst, 0, j);
            for (int32_t i = 0; i < width; ++i) p[i] = Narrow16(l, GrayFast(t, Widen16(l, p[i]), blackWhite));
        }
    });
}
void Gray16Ref(PixelRows16 dst, int32_t width, int32_t height, Layout16 layout,
               bool blackWhite) {
    for (int32_t j = 0; j < height; ++j)
        for (int32_t i = 0; i < width; ++i) {
            uint16_t* p = At16(dst, i, j);
            *p = Narrow16(layout, GrayRGB(Widen16(layout, *p), blackWhite));
        }
}

// ---- pixelate ---------------------------------------------------------------

namespace {
template <typename Pixel, typename Rows, typename AtFn>
void PixelateRows(Rows dst, int32_t width, int32_t height, int32_t block, MaskRows mask,
                  AlphaRows alpha, AtFn at) {
    if (width <= 0 || height <= 0 || block <= 1) return;
    for (int32_t by = 0; by < height; by += block) {
        const int32_t bh = std::min(block, height - by);
        for (int32_t bx = 0; bx < width; bx += block) {
            const int32_t bw = std::min(block, width - bx);
            bool fill = true;
            if (mask.data) {
                fill = MaskBit(mask, bx, by);
                for (int32_t j = 0; j < bh; ++j)
                    for (int32_t i = 0; i < bw; ++i) SetMaskBit(mask, bx + i, by + j, fill);
            }
            if (alpha.data) {
                const uint8_t a = AlphaAt(alpha, bx, by);
                fill = fill && a != 0;
                for (int32_t j = 0; j < bh; ++j)
                    std::fill_n(&AlphaAt(alpha, bx, by + j), bw, a);
            }
            if (!fill) continue;
            const Pixel c = *at(dst, bx, by);
            for (int32_t j = 0; j < bh; ++j) std::fill_n(at(dst, bx, by + j), bw, c);
        }
    }
}
template <typename Pixel, typename Rows, typename AtFn>
void PixelateRowsRef(Rows dst, int32_t width, int32_t height, int32_t block, MaskRows mask,
                     AlphaRows alpha, AtFn at) {
    if (block <= 1) return;
    // Pixel by pixel from the block corner, walking the rectangle backwards
    // so that no corner is overwritten before the pixels that copy it.
    for (int32_t j = height - 1; j >= 0; --j)
        for (int32_t i = width - 1; i >= 0; --i) {
            const int32_t cx = i - i % block, cy = j - j % block;
            bool fill = true;
            if (mask.data) {
                fill = MaskBit(mask, cx, cy);
                SetMaskBit(mask, i, j, fill);
            }
            if (alpha.data) {
                const uint8_t a = AlphaAt(alpha, cx, cy);
                fill = fill && a != 0;
                AlphaAt(alpha, i, j) = a;
            }
            if (fill) *at(dst, i, j) = *at(dst, cx, cy);
        }
}
}  // namespace

void Pixelate32(PixelRows32 dst, int32_t width, int32_t height, int32_t block, MaskRows mask,
                AlphaRows alpha) {
    PixelateRows<uint32_t>(dst, width, height, block, mask, alpha,
                           [](const PixelRows32& r, int32_t i, int32_t j) { return At32(r, i, j); });
}
void Pixelate32Ref(PixelRows32 dst, int32_t width, int32_t height, int32_t block,
                   MaskRows mask, AlphaRows alpha) {
    PixelateRowsRef<uint32_t>(dst, width, height, block, mask, alpha,
                              [](const PixelRows32& r, int32_t i, int32_t j) { return At32(r, i, j); });
}
void Pixelate16(PixelRows16 dst, int32_t width, int32_t height, int32_t block, MaskRows mask,
                AlphaRows alpha) {
    PixelateRows<uint16_t>(dst, width, height, block, mask, alpha,
                           [](const PixelRows16& r, int32_t i, int32_t j) { return At16(r, i, j); });
}
void Pixelate16Ref(PixelRows16 dst, int32_t width, int32_t height, int32_t block,
                   MaskRows mask, AlphaRows alpha) {
    PixelateRowsRef<uint16_t>(dst, width, height, block, mask, alpha,
                              [](const PixelRows16& r, int32_t i, int32_t j) { return At16(r, i, j); });
}

// ---- flip -------------------------------------------------------------------

namespace {
template <typename Pixel>
void FlipPixels(Pixel* px, int32_t rowLength, int32_t width, int32_t height, bool horizontal) {
    auto row = [&](int32_t j) { return px + static_cast<std::ptrdiff_t>(j) * rowLength; };
    if (horizontal)
        for (int32_t j = 0; j < height; ++j) std::reverse(row(j), row(j) + width);
    else
        for (int32_t j = 0; j < height / 2; ++j) std::swap_ranges(row(j), row(j) + width, row(height - 1 - j));
}
}  // namespace

void FlipRect(void* pixels, int32_t rowLength, int32_t bytesPerPixel, int32_t width,
              int32_t height, bool horizontal, MaskRows mask, AlphaRows alpha) {
    if (width <= 0 || height <= 0) return;
    if (bytesPerPixel == 4)
        FlipPixels(static_cast<uint32_t*>(pixels), rowLength, width, height, horizontal);
    else if (bytesPerPixel == 2)
        FlipPixels(static_cast<uint16_t*>(pixels), rowLength, width, height, horizontal);
    if (alpha.data)
        FlipPixels(&AlphaAt(alpha, 0, 0), alpha.rowBytes, width, height, horizontal);
    if (mask.data) {
        // Bits are not addressable: swap them pairwise.
        if (horizontal) {
            for (int32_t j = 0; j < height; ++j)
                for (int32_t i = 0; i < width / 2; ++i) {
                    const bool a = MaskBit(mask, i, j), b = MaskBit(mask, width - 1 - i, j);
                    SetMaskBit(mask, i, j, b);
                    SetMaskBit(mask, width - 1 - i, j, a);
                }
        } else {
            for (int32_t j = 0; j < height / 2; ++j)
                for (int32_t i = 0; i < width; ++i) {
                    const bool a = MaskBit(mask, i, j), b = MaskBit(mask, i, height - 1 - j);
                    SetMaskBit(mask, i, j, b);
                    SetMaskBit(mask, i, height - 1 - j, a);
                }
        }
    }
}

void FlipRectRef(void* pixels, int32_t rowLength, int32_t bytesPerPixel, int32_t width,
                 int32_t height, bool horizontal, MaskRows mask, AlphaRows alpha) {
    // Each pair once: the first half of the rows, or of each row.
    const int32_t hLimit = horizontal ? height : height / 2;
    auto* bytes = static_cast<uint8_t*>(pixels);
    for (int32_t j = 0; j < hLimit; ++j) {
        const int32_t wLimit = horizontal ? width / 2 : width;
        for (int32_t i = 0; i < wLimit; ++i) {
            const int32_t i2 = horizontal ? width - 1 - i : i;
            const int32_t j2 = horizontal ? j : height - 1 - j;
            uint8_t* a = bytes + (static_cast<std::ptrdiff_t>(j) * rowLength + i) * bytesPerPixel;
            uint8_t* b = bytes + (static_cast<std::ptrdiff_t>(j2) * rowLength + i2) * bytesPerPixel;
            for (int32_t k = 0; k < bytesPerPixel; ++k) std::swap(a[k], b[k]);
            if (alpha.data) std::swap(AlphaAt(alpha, i, j), AlphaAt(alpha, i2, j2));
            if (mask.data) {
                const bool ma = MaskBit(mask, i, j), mb = MaskBit(mask, i2, j2);
                SetMaskBit(mask, i, j, mb);
                SetMaskBit(mask, i2, j2, ma);
            }
        }
    }
}

// ---- palette expansion ------------------------------------------------------

void ExpandPaletteRow(const uint8_t* indices, uint32_t* out, int32_t width,
                      const uint32_t* palette, int32_t mode) {
    if (mode == 6) {
        auto spread = [](uint32_t c) {
            const uint32_t top = c & 0xFFF0F0F0u;
            return top | ((top >> 4) & 0x000F0F0Fu);
        };
        uint32_t cur = spread(palette[0]);
        for (int32_t i = 0; i < width; ++i) {
            const uint32_t v = indices[i] & 15u, both = v | (v << 4);
            switch ((indices[i] >> 4) & 3) {
                case 0: cur = spread(palette[v]); break;
                case 1: cur = (cur & ~0xFFu) | both; break;
                case 2: cur = (cur & ~0xFF0000u) | (both << 16); break;
                default: cur = (cur & ~0xFF00u) | (both << 8); break;
            }
            out[i] = cur;
        }
        return;
    }
    if (mode == 8) {
        uint32_t cur = palette[0];
        for (int32_t i = 0; i < width; ++i) {
            const uint32_t v = indices[i] & 63u;
            auto set = [&](int shift) {
                const uint32_t keep = (cur >> shift) & 3u;
                cur = (cur & ~(255u << shift)) | (((v << 2) | keep) << shift);
            };
            switch (indices[i] >> 6) {
                case 0: cur = palette[v]; break;
                case 1: set(0); break;
                case 2: set(16); break;
                default: set(8); break;
            }
            out[i] = cur;
        }
        return;
    }
    for (int32_t i = 0; i < width; ++i) out[i] = palette[indices[i]];
}

// ---- boundary fill ----------------------------------------------------------

namespace {
struct Seed {
    int32_t x, y;
};

// Span filling with an explicit stack of seeds, so the depth of the shape
// costs heap, never call stack. `stop` is true for boundary pixels; `open`
// for pixels a new seed may start on (neither boundary nor already filled).
template <typename Pixel, typename Stop, typename Open>
void SpanFill(Pixel* pixels, int32_t rowLength, FillClip clip, int32_t x, int32_t y,
              Pixel fill, Stop stop, Open open) {
    clip.left = std::max(clip.left, 0);
    clip.top = std::max(clip.top, 0);
    if (x < clip.left || x >= clip.right || y < clip.top || y >= clip.bottom) return;
    auto row = [&](int32_t yy) { return pixels + static_cast<std::ptrdiff_t>(yy) * rowLength; };
    if (stop(row(y)[x])) return;
    std::vector<Seed> stack;
    stack.push_back({x, y});
    while (!stack.empty()) {
        const Seed s = stack.back();
        stack.pop_back();
        Pixel* r = row(s.y);
        if (stop(r[s.x])) continue;
        int32_t lo = s.x, hi = s.x;
        while (lo > clip.left && !stop(r[lo - 1])) --lo;
        while (hi + 1 < clip.right && !stop(r[hi + 1])) ++hi;
        std::fill(r + lo, r + hi + 1, fill);
        for (int32_t ny : {s.y - 1, s.y + 1}) {
            if (ny < clip.top || ny >= clip.bottom) continue;
            const Pixel* n = row(ny);
            bool inRun = false;
            for (int32_t i = lo; i <= hi; ++i) {
                const bool o = open(n[i]);
                if (o && !inRun) stack.push_back({i, ny});
                inRun = o;
            }
        }
    }
}
}  // namespace

void BoundaryFill32(uint32_t* pixels, int32_t rowLength, FillClip clip, int32_t x, int32_t y,
                    uint32_t boundary, uint32_t fill, uint32_t compareMask) {
    const uint32_t b = boundary & compareMask, f = fill & compareMask;
    SpanFill<uint32_t>(
        pixels, rowLength, clip, x, y, fill, [=](uint32_t p) { return (p & compareMask) == b; },
        [=](uint32_t p) { return (p & compareMask) != b && (p & compareMask) != f; });
}

void BoundaryFill16(uint16_t* pixels, int32_t rowLength, FillClip clip, int32_t x, int32_t y,
                    uint16_t boundary, uint16_t fill) {
    SpanFill<uint16_t>(
        pixels, rowLength, clip, x, y, fill, [=](uint16_t p) { return p == boundary; },
        [=](uint16_t p) { return p != boundary && p != fill; });
}
