// Random pixels, planes and rectangles for holding the pixel kernels to their
// scalar references: every width 1..67 inside a 96 x 9 buffer, on every
// instruction set the processor has.
#pragma once

#include <cstdint>
#include <random>
#include <type_traits>
#include <vector>

#include "imaging/kernelisa.h"
#include "imaging/kernels.h"

inline constexpr int32_t kBufW = 96;
inline constexpr int32_t kBufH = 9;

template <typename Pixel>
std::vector<Pixel> RandomPixels(std::mt19937& rng, size_t n) {
    std::vector<Pixel> v(n);
    for (auto& p : v) p = static_cast<Pixel>(rng());
    return v;
}

// Plane bytes with 0 and 255 weighted, since those two levels drive most
// branches of the kernels.
inline std::vector<uint8_t> RandomBytes(std::mt19937& rng, size_t n) {
    std::vector<uint8_t> v(n);
    for (auto& b : v) {
        const uint32_t r = rng() % 8;
        b = r == 0 ? 0 : r == 1 ? 255 : static_cast<uint8_t>(rng());
    }
    return v;
}

struct KernelRect {
    int32_t w, h, dx, dy, sx, sy, mx, my;
};

// One rectangle per width with random destination, source and plane offsets.
// With oddOffsets the offsets are odd wherever the rectangle leaves room (so
// unaligned mask bits and rows are the common case) and a few byte-aligned
// rectangles follow for the whole-byte paths.
inline std::vector<KernelRect> Cases(std::mt19937& rng, bool oddOffsets = false) {
    std::vector<KernelRect> out;
    for (int32_t w = 1; w <= 67; ++w) {
        const int32_t h = 1 + static_cast<int32_t>(rng() % 6);
        auto off = [&](int32_t room) {
            auto v = static_cast<int32_t>(rng() % static_cast<uint32_t>(room + 1));
            if (oddOffsets && (v | 1) <= room) v |= 1;
            return v;
        };
        out.push_back({w, h, off(kBufW - w), off(kBufH - h), off(kBufW - w), off(kBufH - h), off(kBufW - w),
                       off(kBufH - h)});
    }
    if (oddOffsets)
        for (int32_t w : {8, 16, 24, 40, 64}) out.push_back({w, 3, 8, 1, 16, 2, 0, 4});
    return out;
}

// Every instruction set this processor can run, so each vector variant is
// held to the reference wherever it exists.
inline std::vector<KernelIsa> Isas() {
    std::vector<KernelIsa> out;
    for (KernelIsa isa : {KernelIsa::Portable, KernelIsa::Sse2, KernelIsa::Avx2})
        if (isa <= BestKernelIsa()) out.push_back(isa);
    return out;
}

// A random buffer of kBufH rows for each kind of rows a kernel writes, and
// its row length: pixels and alpha planes are kBufW wide, masks kBufW bits.
inline std::vector<uint32_t> RandomBuffer(std::mt19937& rng, PixelRows32) { return RandomPixels<uint32_t>(rng, kBufW * kBufH); }
inline std::vector<uint16_t> RandomBuffer(std::mt19937& rng, PixelRows16) { return RandomPixels<uint16_t>(rng, kBufW * kBufH); }
inline std::vector<uint8_t> RandomBuffer(std::mt19937& rng, AlphaRows) { return RandomBytes(rng, kBufW * kBufH); }
inline std::vector<uint8_t> RandomBuffer(std::mt19937& rng, MaskRows) { return RandomBytes(rng, kBufW / 8 * kBufH); }
template <typename Rows>
constexpr int32_t RowLength() {
    return std::is_same_v<Rows, MaskRows> ? kBufW / 8 : kBufW;
}

// Runs a kernel and its scalar reference on two copies of one random buffer
// with the rectangle's corner at (x, y) and the other arguments alike; true
// when both leave the same buffer.
template <typename Rows, typename... Params, typename... Args>
bool SameAsReference(std::mt19937& rng, void (*kernel)(Rows, Params...), void (*reference)(Rows, Params...),
                     int32_t x, int32_t y, const Args&... args) {
    auto a = RandomBuffer(rng, Rows{}), b = a;
    kernel(Rows{a.data(), RowLength<Rows>(), x, y}, args...);
    reference(Rows{b.data(), RowLength<Rows>(), x, y}, args...);
    return a == b;
}
