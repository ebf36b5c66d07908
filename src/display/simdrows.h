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

// Alpha blend of ARGB rows: weight 0 keeps the destination pixel, 255 takes
// the source pixel whole, anything else the blend rule with alpha byte 0.
int32_t AlphaBlendRowSse2(uint32_t* d, const uint32_t* s, const uint8_t* a, int32_t width);
int32_t AlphaBlendRowAvx2(uint32_t* d, const uint32_t* s, const uint8_t* a, int32_t width);

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
