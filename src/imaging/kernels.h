// Per-pixel kernels on raw rows: fills, copies, masked and alpha copies,
// blends, grey, pixelate, HAM rows and boundary fill. Each comes as a twin for
// 4-byte pixels (formats 10-13) and for 2-byte pixels (a 565 or 555 layout),
// and each has a plain scalar reference (suffix Ref) that the tests hold the
// production kernel to, bit for bit. Kernels never allocate, except the
// boundary fill, whose pending-span stack grows with the shape being filled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "imaging/kernelisa.h"
#include "imaging/simdrows.h"

// A rectangle's corner inside a buffer of pixels: pixel (x, y) lies at
// pixels + (y * rowLength + x) * bytes per pixel.
struct PixelRows32 {
    uint32_t* pixels = nullptr;
    int32_t rowLength = 0;
    int32_t x = 0;
    int32_t y = 0;
};

struct PixelRows16 {
    uint16_t* pixels = nullptr;
    int32_t rowLength = 0;
    int32_t x = 0;
    int32_t y = 0;
};

// 1-bit plane, most significant bit first; bit (x, y) is in byte
// y * rowBytes + x / 8, value 0x80 >> (x % 8).
struct MaskRows {
    uint8_t* data = nullptr;
    int32_t rowBytes = 0;
    int32_t x = 0;
    int32_t y = 0;
};

// 8-bit plane; byte (x, y) is data[y * rowBytes + x].
struct AlphaRows {
    uint8_t* data = nullptr;
    int32_t rowBytes = 0;
    int32_t x = 0;
    int32_t y = 0;
};

// How a 2-byte pixel's word holds its channels for arithmetic. The swapped
// layouts hold the word's bytes the other way round: no channel lies in whole
// bits of the word until the bytes are put back, which Widen16 and Narrow16
// do. BGR formats take the RGB layouts: the weighted kernels treat the
// channels alike.
enum class Layout16 : uint8_t { RGB565, RGB555, RGB565Swapped, RGB555Swapped };

// The layout of a 16-bit pixel format: the one place that decides it, so
// that no kernel road can read a swapped format's words as plain ones
// (scripts/check_layout16.py).
Layout16 Layout16OfFormat(int format);

// ---- colour helpers shared by the twins ---------------------------------

// 4-byte formats 11, 12, 13 to ARGB (format 10) and back; alpha is dropped.
// Any other format passes through unchanged.
uint32_t KernelToARGB(uint32_t format, uint32_t pixel);
uint32_t KernelFromARGB(uint32_t format, uint32_t argb);
// 2-byte pixels widened to 0x00RRGGBB (low bits 0) and narrowed back.
// Inline, so that a loop given a constant layout (WithLayout16) tests none.
constexpr bool Swapped16(Layout16 layout) {
    return layout == Layout16::RGB565Swapped || layout == Layout16::RGB555Swapped;
}
constexpr uint32_t Widen16(Layout16 layout, uint16_t p) {
    if (Swapped16(layout)) p = static_cast<uint16_t>((p >> 8) | (p << 8));
    if (layout == Layout16::RGB565 || layout == Layout16::RGB565Swapped)
        return ((p >> 11u) << 19u) | (((p >> 5u) & 63u) << 10u) | ((p & 31u) << 3u);
    return (((p >> 10u) & 31u) << 19u) | (((p >> 5u) & 31u) << 11u) | ((p & 31u) << 3u);
}
constexpr uint16_t Narrow16(Layout16 layout, uint32_t c) {
    const uint32_t r = (c >> 16) & 255, g = (c >> 8) & 255, b = c & 255;
    const uint32_t p = layout == Layout16::RGB565 || layout == Layout16::RGB565Swapped
                           ? ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3)
                           : ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
    return static_cast<uint16_t>(Swapped16(layout) ? (p >> 8) | ((p & 255u) << 8) : p);
}

// Calls fn with the layout as a compile-time constant: a kernel's loop inside
// is compiled once per layout, and the plain layouts pay nothing for the
// swapped ones.
template <typename Fn>
decltype(auto) WithLayout16(Layout16 layout, Fn&& fn) {
    switch (layout) {
        case Layout16::RGB555: return fn(std::integral_constant<Layout16, Layout16::RGB555>{});
        case Layout16::RGB565Swapped: return fn(std::integral_constant<Layout16, Layout16::RGB565Swapped>{});
        case Layout16::RGB555Swapped: return fn(std::integral_constant<Layout16, Layout16::RGB555Swapped>{});
        case Layout16::RGB565: break;
    }
    return fn(std::integral_constant<Layout16, Layout16::RGB565>{});
}

// The weighted mix of every weighted kernel: d + ((c - d) * w >> 8) per
// channel, the shift arithmetic; the result's top byte is 0.
uint32_t BlendRGB(uint32_t d, uint32_t c, uint32_t w);

// BlendRGB for weights 0..256 without per-channel branches: d (256 - w) + c w
// equals 256 d + (c - d) w, never leaves 0..65280 and is never negative, so
// red and blue share one 32-bit word in 16-bit lanes and a logical shift gives
// the arithmetic shift of the rule.
inline uint32_t BlendRGBFast(uint32_t d, uint32_t c, uint32_t w) {
    const uint32_t keep = 256 - w;
    const uint32_t rb = ((d & 0xFF00FFu) * keep + (c & 0xFF00FFu) * w) >> 8;
    const uint32_t g = ((d & 0xFF00u) * keep + (c & 0xFF00u) * w) >> 8;
    return (rb & 0xFF00FFu) | (g & 0xFF00u);
}

// ---- plain copy and plain fill (the colour is already in the buffer's format)
// A rectangle as wide as its rows is one run of memory and goes in one call.
// That test is inline: the rectangle records then stay in the caller's
// registers, where passing them on the stack just before a block copy costs
// a 64 x 64 block a fifth of its time. Rows... take the remaining rectangles.
void CopyRect32Rows(PixelRows32 dst, PixelRows32 src, int32_t width, int32_t height);
void CopyRect16Rows(PixelRows16 dst, PixelRows16 src, int32_t width, int32_t height);
// count pixels from p, by the widest usable instruction set.
void FillRun32(uint32_t* p, size_t count, uint32_t pixel);
void FillRun16(uint16_t* p, size_t count, uint16_t pixel);

// The first pixel of a rectangle and its pixel count when it is one run of
// memory (0 when it is not, or empty).
template <typename Rows>
inline auto* BlockStart(const Rows& r) {
    return r.pixels + (static_cast<std::ptrdiff_t>(r.y) * r.rowLength + r.x);
}
template <typename Rows>
inline size_t BlockPixels(const Rows& r, int32_t width, int32_t height) {
    return width > 0 && height > 0 && r.rowLength == width ? static_cast<size_t>(width) * static_cast<size_t>(height)
                                                           : 0;
}

inline void CopyRect32(PixelRows32 dst, PixelRows32 src, int32_t width, int32_t height) {
    if (const size_t n = BlockPixels(dst, width, height); n != 0 && src.rowLength == width)
        std::memmove(BlockStart(dst), BlockStart(src), n * 4);
    else
        CopyRect32Rows(dst, src, width, height);
}
inline void CopyRect16(PixelRows16 dst, PixelRows16 src, int32_t width, int32_t height) {
    if (const size_t n = BlockPixels(dst, width, height); n != 0 && src.rowLength == width)
        std::memmove(BlockStart(dst), BlockStart(src), n * 2);
    else
        CopyRect16Rows(dst, src, width, height);
}
void CopyRect32Ref(PixelRows32 dst, PixelRows32 src, int32_t width, int32_t height);
void CopyRect16Ref(PixelRows16 dst, PixelRows16 src, int32_t width, int32_t height);

void FillRect32With(KernelIsa isa, PixelRows32 dst, int32_t width, int32_t height, uint32_t pixel);
void FillRect16With(KernelIsa isa, PixelRows16 dst, int32_t width, int32_t height, uint16_t pixel);
inline void FillRect32(PixelRows32 dst, int32_t width, int32_t height, uint32_t pixel) {
    if (const size_t n = BlockPixels(dst, width, height); n != 0) FillRun32(BlockStart(dst), n, pixel);
    else FillRect32With(BestKernelIsa(), dst, width, height, pixel);
}
inline void FillRect16(PixelRows16 dst, int32_t width, int32_t height, uint16_t pixel) {
    if (const size_t n = BlockPixels(dst, width, height); n != 0) FillRun16(BlockStart(dst), n, pixel);
    else FillRect16With(BestKernelIsa(), dst, width, height, pixel);
}
void FillRect32Ref(PixelRows32 dst, int32_t width, int32_t height, uint32_t pixel);
void FillRect16Ref(PixelRows16 dst, int32_t width, int32_t height, uint16_t pixel);

// ---- blended fill: colour is ARGB (32) or RGB in the buffer's layout (16) -
void BlendFill32(PixelRows32 dst, int32_t width, int32_t height, uint32_t format,
                 uint32_t argb, uint32_t level);
void BlendFill32Ref(PixelRows32 dst, int32_t width, int32_t height, uint32_t format,
                    uint32_t argb, uint32_t level);
void BlendFill16(PixelRows16 dst, int32_t width, int32_t height, Layout16 layout,
                 uint16_t colour, uint32_t level);
void BlendFill16Ref(PixelRows16 dst, int32_t width, int32_t height, Layout16 layout,
                    uint16_t colour, uint32_t level);

// ---- masked copy: the mask is addressed at the source position ----------
void MaskedCopy32With(KernelIsa isa, PixelRows32 dst, PixelRows32 src, MaskRows mask, int32_t width,
                      int32_t height);
void MaskedCopy16With(KernelIsa isa, PixelRows16 dst, PixelRows16 src, MaskRows mask, int32_t width,
                      int32_t height);

// Rows narrower than one mask byte's worth of pixels have no group for the
// vectors; copied right here, a tiny sprite costs about what an opaque one
// does instead of a call, three records on the stack and a choice of
// instruction set on top of its pixels.
template <typename Pixel, typename Rows>
inline void MaskedCopyNarrow(Rows dst, Rows src, MaskRows mask, int32_t width, int32_t height) {
    Pixel* d = BlockStart(dst);
    const Pixel* s = BlockStart(src);
    const uint8_t* m = mask.data + static_cast<std::ptrdiff_t>(mask.y) * mask.rowBytes + (mask.x >> 3);
    const auto shift = static_cast<uint32_t>(mask.x & 7);
    for (int32_t j = 0; j < height; ++j, d += dst.rowLength, s += src.rowLength, m += mask.rowBytes)
        for (uint32_t bits = MaskBitsTail(m, shift, width), k = 0; bits != 0; bits = (bits << 1) & 0xFFu, ++k)
            if (bits & 0x80u) d[k] = s[k];
}

inline void MaskedCopy32(PixelRows32 dst, PixelRows32 src, MaskRows mask, int32_t width, int32_t height) {
    if (width > 0 && width < 8) MaskedCopyNarrow<uint32_t>(dst, src, mask, width, height);
    else MaskedCopy32With(BestKernelIsa(), dst, src, mask, width, height);
}
inline void MaskedCopy16(PixelRows16 dst, PixelRows16 src, MaskRows mask, int32_t width, int32_t height) {
    if (width > 0 && width < 8) MaskedCopyNarrow<uint16_t>(dst, src, mask, width, height);
    else MaskedCopy16With(BestKernelIsa(), dst, src, mask, width, height);
}
void MaskedCopy32Ref(PixelRows32 dst, PixelRows32 src, MaskRows mask, int32_t width,
                     int32_t height);
void MaskedCopy16Ref(PixelRows16 dst, PixelRows16 src, MaskRows mask, int32_t width,
                     int32_t height);

// ---- colour through mask: one colour (in the buffer's format) where the
// mask bit is set, as for glyphs -------------------------------------------
void ColourThroughMask32(PixelRows32 dst, MaskRows mask, int32_t width, int32_t height,
                         uint32_t pixel);
void ColourThroughMask32Ref(PixelRows32 dst, MaskRows mask, int32_t width, int32_t height,
                            uint32_t pixel);
void ColourThroughMask16(PixelRows16 dst, MaskRows mask, int32_t width, int32_t height,
                         uint16_t pixel);
void ColourThroughMask16Ref(PixelRows16 dst, MaskRows mask, int32_t width, int32_t height,
                            uint16_t pixel);

// ---- invert: every byte of every pixel, alpha included --------------------
void Invert32(PixelRows32 dst, int32_t width, int32_t height);
void Invert32Ref(PixelRows32 dst, int32_t width, int32_t height);
void Invert16(PixelRows16 dst, int32_t width, int32_t height);
void Invert16Ref(PixelRows16 dst, int32_t width, int32_t height);

// ---- mix: where the mask bit is set (everywhere without mask data), the
// destination becomes the source pixel weighted towards the destination by
// 255 - level; level 255 keeps the source colour entirely ------------------
void Mix32(PixelRows32 dst, PixelRows32 src, MaskRows mask, int32_t width, int32_t height,
           uint32_t format, uint32_t level);
void Mix32Ref(PixelRows32 dst, PixelRows32 src, MaskRows mask, int32_t width, int32_t height,
              uint32_t format, uint32_t level);
// Mix32 without a mask into a third buffer: out receives what Mix32 would
// leave in dst, dst is only read (one pass where a copy and a mix take two).
void Mix32To(PixelRows32 out, PixelRows32 dst, PixelRows32 src, int32_t width, int32_t height, uint32_t format,
             uint32_t level);
void Mix16(PixelRows16 dst, PixelRows16 src, MaskRows mask, int32_t width, int32_t height,
           Layout16 layout, uint32_t level);
void Mix16Ref(PixelRows16 dst, PixelRows16 src, MaskRows mask, int32_t width, int32_t height,
              Layout16 layout, uint32_t level);

// ---- mask from key colour: a bit is set where the pixel differs from the
// key (4-byte: low 24 bits only; 2-byte: the whole pixel), cleared elsewhere.
void MaskFromKey32(const uint32_t* pixels, int32_t rowLength, int32_t width, int32_t height,
                   uint32_t key, MaskRows mask);
void MaskFromKey32Ref(const uint32_t* pixels, int32_t rowLength, int32_t width, int32_t height,
                      uint32_t key, MaskRows mask);
void MaskFromKey16(const uint16_t* pixels, int32_t rowLength, int32_t width, int32_t height,
                   uint16_t key, MaskRows mask);
void MaskFromKey16Ref(const uint16_t* pixels, int32_t rowLength, int32_t width, int32_t height,
                      uint16_t key, MaskRows mask);

// ---- replace colours: pairs {from, to} ended by from = -1; a pixel whose
// value under compareMask equals from becomes to, and later pairs see the
// new value. The 2-byte twin compares whole pixels with the low 16 bits.
struct ColourPair {
    int64_t from = -1;
    uint32_t to = 0;
};
void ReplaceColours32(PixelRows32 dst, int32_t width, int32_t height, const ColourPair* pairs,
                      uint32_t compareMask);
void ReplaceColours32Ref(PixelRows32 dst, int32_t width, int32_t height,
                         const ColourPair* pairs, uint32_t compareMask);
void ReplaceColours16(PixelRows16 dst, int32_t width, int32_t height, const ColourPair* pairs);
void ReplaceColours16Ref(PixelRows16 dst, int32_t width, int32_t height,
                         const ColourPair* pairs);

// ---- alpha blend: weight = the source alpha byte -------------------------
void AlphaBlend32Rect(KernelIsa isa, PixelRows32 dst, PixelRows32 src, AlphaRows alpha, int32_t width,
                      int32_t height, uint32_t format);

// ARGB rows narrower than four pixels, the narrowest vector step, are
// blended right here, for the reason MaskedCopyNarrow gives.
inline void AlphaBlendNarrowArgb(PixelRows32 dst, PixelRows32 src, AlphaRows alpha, int32_t width, int32_t height) {
    uint32_t* d = BlockStart(dst);
    const uint32_t* s = BlockStart(src);
    const uint8_t* a = alpha.data + static_cast<std::ptrdiff_t>(alpha.y) * alpha.rowBytes + alpha.x;
    for (int32_t j = 0; j < height; ++j, d += dst.rowLength, s += src.rowLength, a += alpha.rowBytes)
        for (int32_t i = 0; i < width; ++i) {
            const uint32_t w = a[i];
            if (w == 255) d[i] = s[i];
            else if (w != 0) d[i] = BlendRGBFast(d[i], s[i], w);
        }
}

inline void AlphaBlend32With(KernelIsa isa, PixelRows32 dst, PixelRows32 src, AlphaRows alpha, int32_t width,
                             int32_t height, uint32_t format) {
    if (format == 10 && width > 0 && width < 4) AlphaBlendNarrowArgb(dst, src, alpha, width, height);
    else AlphaBlend32Rect(isa, dst, src, alpha, width, height, format);
}
inline void AlphaBlend32(PixelRows32 dst, PixelRows32 src, AlphaRows alpha, int32_t width, int32_t height,
                         uint32_t format) {
    AlphaBlend32With(BestKernelIsa(), dst, src, alpha, width, height, format);
}
void AlphaBlend32Ref(PixelRows32 dst, PixelRows32 src, AlphaRows alpha, int32_t width,
                     int32_t height, uint32_t format);
void AlphaBlend16(PixelRows16 dst, PixelRows16 src, AlphaRows alpha, int32_t width,
                  int32_t height, Layout16 layout);
void AlphaBlend16Ref(PixelRows16 dst, PixelRows16 src, AlphaRows alpha, int32_t width,
                     int32_t height, Layout16 layout);

// ---- grey: y = trunc(0.299 R + 0.587 G + 0.114 B); blackWhite thresholds --
uint32_t GrayLevel(uint32_t r, uint32_t g, uint32_t b);
void Gray32(PixelRows32 dst, int32_t width, int32_t height, uint32_t format, bool blackWhite);
void Gray32Ref(PixelRows32 dst, int32_t width, int32_t height, uint32_t format,
               bool blackWhite);
void Gray16(PixelRows16 dst, int32_t width, int32_t height, Layout16 layout, bool blackWhite);
void Gray16Ref(PixelRows16 dst, int32_t width, int32_t height, Layout16 layout,
               bool blackWhite);

// ---- pixelate: blocks of `block` pixels take their top-left pixel; the
// planes (either may be null data) follow the block's top-left bit or byte.
void Pixelate32(PixelRows32 dst, int32_t width, int32_t height, int32_t block, MaskRows mask,
                AlphaRows alpha);
void Pixelate32Ref(PixelRows32 dst, int32_t width, int32_t height, int32_t block,
                   MaskRows mask, AlphaRows alpha);
void Pixelate16(PixelRows16 dst, int32_t width, int32_t height, int32_t block, MaskRows mask,
                AlphaRows alpha);
void Pixelate16Ref(PixelRows16 dst, int32_t width, int32_t height, int32_t block,
                   MaskRows mask, AlphaRows alpha);

// ---- flip: mirror the rectangle whose first pixel is at `pixels` (2- or
// 4-byte pixels) vertically or horizontally, with whichever planes are given.
void FlipRect(void* pixels, int32_t rowLength, int32_t bytesPerPixel, int32_t width,
              int32_t height, bool horizontal, MaskRows mask, AlphaRows alpha);
void FlipRectRef(void* pixels, int32_t rowLength, int32_t bytesPerPixel, int32_t width,
                 int32_t height, bool horizontal, MaskRows mask, AlphaRows alpha);

// ---- palette expansion: mode 6 HAM6, mode 8 HAM8, else a plain lookup ---
// The palette must hold 16 entries for HAM6, 64 for HAM8 and 256 otherwise.
void ExpandPaletteRow(const uint8_t* indices, uint32_t* out, int32_t width,
                      const uint32_t* palette, int32_t mode);

// ---- boundary fill ------------------------------------------------------
struct FillClip {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;   // exclusive
    int32_t bottom = 0;  // exclusive
};

// Fills from (x, y) up to pixels whose value ANDed with compareMask equals
// the boundary colour (also ANDed); the 2-byte twin compares whole pixels.
void BoundaryFill32(uint32_t* pixels, int32_t rowLength, FillClip clip, int32_t x, int32_t y,
                    uint32_t boundary, uint32_t fill, uint32_t compareMask);
void BoundaryFill16(uint16_t* pixels, int32_t rowLength, FillClip clip, int32_t x, int32_t y,
                    uint16_t boundary, uint16_t fill);
