#include "imaging/effectkernels.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstddef>

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
