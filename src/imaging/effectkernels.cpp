#include "imaging/effectkernels.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstring>

namespace {

constexpr int kTableSize = 256;

const std::array<uint16_t, kTableSize>& SqrtTable() {
    static const std::array<uint16_t, kTableSize> table = [] {
        std::array<uint16_t, kTableSize> t{};
        for (int i = 0; i < kTableSize; ++i) t[i] = static_cast<uint16_t>(16.0 * std::sqrt(static_cast<double>(i)));
        return t;
    }();
    return table;
}

}  // namespace

int32_t IntSqrt(int32_t n) {
    if (n < 0) return -1;
    const auto& table = SqrtTable();
    if (n < kTableSize) return table[static_cast<size_t>(n)] >> 4;
    const auto u = static_cast<uint32_t>(n);
    // Bring n into 64..255 by an even shift, so the table's root scales back
    // by half that shift and keeps about four significant bits.
    const int bits = 32 - std::countl_zero(u);
    const int shift = (bits - 7) & ~1;
    int64_t x = (int64_t{table[u >> shift]} << (shift / 2)) >> 4;
    if (x == 0) x = 1;
    // Two Newton steps take four good bits to sixteen, all a 31-bit n has.
    x = (x + n / x) / 2;
    x = (x + n / x) / 2;
    while (x * x > n) --x;
    while ((x + 1) * (x + 1) <= n) ++x;
    return static_cast<int32_t>(x);
}

int32_t IntSqrtRef(int32_t n) {
    if (n < 0) return -1;
    auto x = static_cast<int64_t>(std::sqrt(static_cast<double>(n)));
    while (x * x > n) --x;
    while ((x + 1) * (x + 1) <= n) ++x;
    return static_cast<int32_t>(x);
}

void ThresholdMapToMask(const ThresholdRecord& r, uint32_t threshold) {
    for (int32_t j = 0; j < r.height; ++j) {
        const uint8_t* map = r.map + static_cast<std::ptrdiff_t>(j) * r.width;
        const uint8_t* src = r.source != nullptr ? r.source + static_cast<std::ptrdiff_t>(j) * r.sourcePitch : nullptr;
        uint8_t* dst = r.destination + static_cast<std::ptrdiff_t>(j) * r.destinationPitch;
        if (r.eightBit) {
            for (int32_t i = 0; i < r.width; ++i) {
                const bool take = (map[i] < threshold) != r.invert;
                dst[i] = take ? (src != nullptr ? src[i] : uint8_t{255}) : uint8_t{0};
            }
            continue;
        }
        // Eight map bytes make one mask byte; only a ragged last byte keeps
        // the bits beyond the width.
        int32_t i = 0;
        for (; i + 8 <= r.width; i += 8) {
            uint32_t bits = 0;
            for (int k = 0; k < 8; ++k) bits = (bits << 1) | static_cast<uint32_t>((map[i + k] < threshold) != r.invert);
            if (src != nullptr) bits &= src[i >> 3];
            dst[i >> 3] = static_cast<uint8_t>(bits);
        }
        for (; i < r.width; ++i) {
            const auto bit = static_cast<uint8_t>(0x80u >> (i & 7));
            const bool take = (map[i] < threshold) != r.invert;
            const bool on = take && (src == nullptr || (src[i >> 3] & bit) != 0);
            dst[i >> 3] = on ? static_cast<uint8_t>(dst[i >> 3] | bit) : static_cast<uint8_t>(dst[i >> 3] & ~bit);
        }
    }
}

void ThresholdMapToMaskRef(const ThresholdRecord& r, uint32_t threshold) {
    for (int32_t j = 0; j < r.height; ++j)
        for (int32_t i = 0; i < r.width; ++i) {
            const bool below = r.map[static_cast<std::ptrdiff_t>(j) * r.width + i] < threshold;
            const bool take = r.invert ? !below : below;
            if (r.eightBit) {
                uint8_t value = 255;
                if (r.source != nullptr) value = r.source[static_cast<std::ptrdiff_t>(j) * r.sourcePitch + i];
                r.destination[static_cast<std::ptrdiff_t>(j) * r.destinationPitch + i] = take ? value : 0;
            } else {
                const auto bit = static_cast<uint8_t>(0x80u >> (i % 8));
                bool on = take;
                if (r.source != nullptr)
                    on = on && (r.source[static_cast<std::ptrdiff_t>(j) * r.sourcePitch + i / 8] & bit) != 0;
                uint8_t& byte = r.destination[static_cast<std::ptrdiff_t>(j) * r.destinationPitch + i / 8];
                byte = on ? static_cast<uint8_t>(byte | bit) : static_cast<uint8_t>(byte & ~bit);
            }
        }
}

namespace {

inline bool PlaneBit(const uint8_t* rows, int32_t pitch, int32_t x, int32_t y) {
    return (rows[static_cast<size_t>(y) * pitch + (x >> 3)] & (0x80 >> (x & 7))) != 0;
}

// Sets or clears the bits x .. x + n - 1 of one mask row.
void SetBits(uint8_t* row, int32_t x, int32_t n, bool on) {
    for (int32_t i = x; i < x + n; ++i) {
        const auto bit = static_cast<uint8_t>(0x80 >> (i & 7));
        row[i >> 3] = on ? static_cast<uint8_t>(row[i >> 3] | bit) : static_cast<uint8_t>(row[i >> 3] & ~bit);
    }
}

// Without planes every row of a block row is the same: the first is made
// and the others are copies of it (at small blocks a block at a time costs
// per block and row, this per block row).
template <typename P>
void PixelateByBlockRows(const qbPixelateRecord& r) {
    const int32_t block = std::max(r.block, 1), w = r.width;
    const auto* src = static_cast<const P*>(r.source);
    auto* dst = static_cast<P*>(r.destination);
    const size_t rowBytes = sizeof(P) * static_cast<size_t>(w);
    for (int32_t y = 0; y < r.height; y += block) {
        const P* from = src + static_cast<ptrdiff_t>(y) * r.sourcePitch;
        P* first = dst + static_cast<ptrdiff_t>(y) * r.destinationPitch;
        if (block == 2) {
            // Pairs: the left pixel twice, a loop the compiler widens.
            for (int32_t i = 0; i < w / 2; ++i) first[2 * i] = first[2 * i + 1] = from[2 * i];
            if (w & 1) first[w - 1] = from[w - 1];
        } else {
            for (int32_t x = 0; x < w; x += block) {
                const P c = from[x];
                const int32_t n = std::min(block, w - x);
                for (int32_t i = 0; i < n; ++i) first[x + i] = c;
            }
        }
        const int32_t rows = std::min(block, r.height - y);
        for (int32_t j = 1; j < rows; ++j)
            std::memcpy(first + static_cast<ptrdiff_t>(j) * r.destinationPitch, first, rowBytes);
    }
}

template <typename P>
void PixelatePixels(const qbPixelateRecord& r) {
    if (!r.source || !r.destination || r.width < 1 || r.height < 1) return;
    if (!r.sourceMask && !r.sourceAlpha) {
        PixelateByBlockRows<P>(r);
        return;
    }
    const auto* src = static_cast<const P*>(r.source);
    auto* dst = static_cast<P*>(r.destination);
    const int32_t block = std::max(r.block, 1);
    auto srcRow = [&](int32_t y) { return src + static_cast<size_t>(y) * r.sourcePitch; };
    auto dstRow = [&](int32_t y) { return dst + static_cast<size_t>(y) * r.destinationPitch; };
    for (int32_t by = 0; by < r.height; by += block) {
        const int32_t bh = std::min(block, r.height - by);
        for (int32_t bx = 0; bx < r.width; bx += block) {
            const int32_t bw = std::min(block, r.width - bx);
            bool fill = true;
            if (r.sourceMask) {
                fill = PlaneBit(r.sourceMask, r.sourceMaskPitch, bx, by);
                if (r.destinationMask)
                    for (int32_t j = 0; j < bh; ++j)
                        SetBits(r.destinationMask + static_cast<size_t>(by + j) * r.destinationMaskPitch, bx, bw,
                                fill);
            }
            if (r.sourceAlpha) {
                const uint8_t a = r.sourceAlpha[static_cast<size_t>(by) * r.sourceAlphaPitch + bx];
                fill = fill && a != 0;
                if (r.destinationAlpha)
                    for (int32_t j = 0; j < bh; ++j)
                        std::fill_n(r.destinationAlpha + static_cast<size_t>(by + j) * r.destinationAlphaPitch + bx,
                                    bw, a);
            }
            if (fill) {
                const P c = srcRow(by)[bx];
                for (int32_t j = 0; j < bh; ++j) std::fill_n(dstRow(by + j) + bx, bw, c);
            } else {
                for (int32_t j = 0; j < bh; ++j) std::copy_n(srcRow(by + j) + bx, bw, dstRow(by + j) + bx);
            }
        }
    }
}

}  // namespace

void PixelatePixels32(const qbPixelateRecord& record) { PixelatePixels<uint32_t>(record); }
void PixelatePixels16(const qbPixelateRecord& record) { PixelatePixels<uint16_t>(record); }
