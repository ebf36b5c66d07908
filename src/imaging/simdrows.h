// Row loops of the vector pixel kernels, one definition per instruction set.
// The AVX2 ones live in files whose functions carry the target attribute, so
// the build never needs AVX2; only BestKernelIsa() decides whether they run.
// A function that returns a count did the leading pixels its vectors cover and
// leaves the rest of the row to its caller.
#pragma once

#include <cstddef>
#include <cstdint>

#if (defined(__x86_64__) || defined(__i386__)) && defined(__SSE2__)
#define QB_PIXEL_X86 1
#else
#define QB_PIXEL_X86 0
#endif

// A masked copy's rectangle: pixel i of row j goes from s to d where bit
// shift + i of mask row j is set, counting from the top bit of its first
// byte; rows lie dRow and sRow pixels and mRow bytes apart.
template <typename Pixel>
struct MaskedRect {
    Pixel* d;
    const Pixel* s;
    const uint8_t* m;
    ptrdiff_t dRow, sRow, mRow;
    uint32_t shift;
    int32_t width, height;
};

// The mask bits of eight pixels, the first in the top bit: the byte at p
// seen through a 16-bit window that starts `shift` bits into it, so a mask
// that does not start on a byte boundary costs no more than one that does.
// p[1] is read only when the bits reach into it.
inline uint32_t MaskBits8(const uint8_t* p, uint32_t shift) {
    return ((((uint32_t{p[0]} << 8) | p[shift != 0]) << shift) >> 8) & 0xFFu;
}
// The same for the last n (1..7) pixels of a row; the bits past them are 0.
inline uint32_t MaskBitsTail(const uint8_t* p, uint32_t shift, int32_t n) {
    const uint32_t window = (uint32_t{p[0]} << 8) | p[shift + static_cast<uint32_t>(n) > 8];
    return ((window << shift) >> 8) & (0xFF00u >> n) & 0xFFu;
}

// The first n pixels of d take those of s whose bit in `bits` (top bit
// first) is set, by a select instead of a branch: the edge bytes of a sprite's
// mask follow no pattern a branch predictor could learn.
template <typename Pixel>
inline void SelectPixels(Pixel* d, const Pixel* s, uint32_t bits, int32_t n) {
    for (int32_t k = 0; k < n; ++k) {
        const auto keep = static_cast<Pixel>(((bits >> (7 - k)) & 1u) - 1u);
        d[k] = static_cast<Pixel>((d[k] & keep) | (s[k] & static_cast<Pixel>(~keep)));
    }
}

// Runs group(d, s, bits) on every whole group of eight pixels of the
// rectangle and SelectPixels on the rest of each row.
template <typename Pixel, typename GroupFn>
inline void WalkMaskedRect(const MaskedRect<Pixel>& r, GroupFn group) {
    Pixel* d = r.d;
    const Pixel* s = r.s;
    const uint8_t* m = r.m;
    for (int32_t j = 0; j < r.height; ++j, d += r.dRow, s += r.sRow, m += r.mRow) {
        int32_t i = 0;
        for (; i + 8 <= r.width; i += 8) group(d + i, s + i, MaskBits8(m + (i >> 3), r.shift));
        if (i < r.width) SelectPixels(d + i, s + i, MaskBitsTail(m + (i >> 3), r.shift, r.width - i), r.width - i);
    }
}

#if QB_PIXEL_X86

// Stores a 4-byte pattern over `bytes` bytes from p, its first byte on p:
// whole 4-byte pixels from a 4-byte aligned p, or 2-byte pixels with the
// pattern holding the value twice.
void FillPatternSse2(uint8_t* p, size_t bytes, uint32_t pattern);
void FillPatternAvx2(uint8_t* p, size_t bytes, uint32_t pattern);
// The same by the processor's string store, for blocks of at least
// kStringFillBytes: past the caches it writes whole lines without reading
// them first, which vector stores must, and so keeps up with memset.
inline constexpr size_t kStringFillBytes = size_t{1} << 20;
void FillPatternStrings(uint8_t* p, size_t bytes, uint32_t pattern);

// ARGB words to formats 11 (all four bytes reversed) and 13 (red and blue
// exchanged), which the compiler leaves unvectorised: it turns the shifts
// back into one scalar byte swap.
int32_t ReverseBytesRowSse2(uint32_t* d, const uint32_t* s, int32_t width);
int32_t SwapRedBlueRowSse2(uint32_t* d, const uint32_t* s, int32_t width);

// The blend rule with one weight for every pixel of the row (alpha byte 0).
int32_t BlendFillRowSse2(uint32_t* p, int32_t width, uint32_t argb, uint32_t level);

// The mix rule of two rows, BlendRGBFast (s, d, w) into d (alpha byte 0).
int32_t MixRowSse2(uint32_t* d, const uint32_t* s, int32_t width, uint32_t w);
// The same rule with the result in out (d only read).
int32_t MixRowToSse2(uint32_t* out, const uint32_t* d, const uint32_t* s, int32_t width, uint32_t w);

// Alpha blend of ARGB rows: weight 0 keeps the destination pixel, 255 takes
// the source pixel whole, anything else the blend rule with alpha byte 0.
int32_t AlphaBlendRowSse2(uint32_t* d, const uint32_t* s, const uint8_t* a, int32_t width);
int32_t AlphaBlendRowAvx2(uint32_t* d, const uint32_t* s, const uint8_t* a, int32_t width);

// A solid colour through a row of weights: 0 keeps the pixel, 255 stores
// the colour whole (its alpha byte as given), anything else the blend rule
// with alpha byte 0. Runs of clear or solid weights, which coverage mostly
// is, cost a test and at most a store.
int32_t ColourThroughWeightsRowSse2(uint32_t* d, const uint8_t* w, int32_t width, uint32_t argb);
int32_t ColourThroughWeightsRowAvx2(uint32_t* d, const uint8_t* w, int32_t width, uint32_t argb);

// Masked copies of whole rectangles (a call per row would cost a small
// sprite more than its pixels). AVX2 stores through the mask lanes, the
// row's last pixels included; SSE2 selects, its last pixels by SelectPixels.
void MaskedCopyRectSse2(const MaskedRect<uint32_t>& r);
void MaskedCopyRectAvx2(const MaskedRect<uint32_t>& r);
// 2-byte pixels: eight fit one SSE2 register, one mask byte's worth.
void MaskedCopyRect16Sse2(const MaskedRect<uint16_t>& r);

// Nearest scaling along a row: out[x] = in[cols[x]] for the leading x below
// count that whole groups of eight cover. Every group must take its pixels
// from the 16 starting at its first column, which must lie inside the row.
int32_t PickRowAvx2(uint32_t* out, const uint32_t* in, const int32_t* cols, int32_t count);
int32_t PickRow16Avx2(uint16_t* out, const uint16_t* in, const int32_t* cols, int32_t count);

// Bilinear scaling of ARGB, first along the row: out[x] takes, per byte,
// a + ((b - a) * fracs[x] >> 16) of a = src[cols[x]] and b = src[cols[x] + 1];
// cols[x] + 1 must lie inside the row for every x below count.
int32_t LerpColumnsSse2(const uint32_t* src, const int32_t* cols, const uint16_t* fracs,
                        int32_t count, uint32_t* out);
int32_t LerpColumnsAvx2(const uint32_t* src, const int32_t* cols, const uint16_t* fracs,
                        int32_t count, uint32_t* out);
// ... then across two such rows: top + ((bottom - top) * fy >> 16) per
// channel, alpha byte 0.
int32_t LerpRowsSse2(const uint32_t* top, const uint32_t* bottom, uint32_t fy, int32_t count,
                     uint32_t* out);
int32_t LerpRowsAvx2(const uint32_t* top, const uint32_t* bottom, uint32_t fy, int32_t count,
                     uint32_t* out);

#endif
