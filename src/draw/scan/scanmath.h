// Arithmetic helpers of the scan engine: wide integers (products of two
// 16.16 values beyond pixel 32768 need more than 64 bits) and bit rows.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

__extension__ using Wide = __int128;

inline Wide FloorDiv(Wide a, Wide b) {
    Wide q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

inline Wide CeilDiv(Wide a, Wide b) { return -FloorDiv(-a, b); }

// The bit of each position in a word: a load is cheaper than a shift by a
// variable count.
inline constexpr auto kBit = [] {
    std::array<uint64_t, 64> t{};
    for (size_t i = 0; i < 64; ++i) t[i] = uint64_t{1} << i;
    return t;
}();

// Bit i of the result is the XOR of bits 0..i: the even-odd parity along a
// row of toggles.
inline uint64_t PrefixXor(uint64_t v) {
    v ^= v << 1;
    v ^= v << 2;
    v ^= v << 4;
    v ^= v << 8;
    v ^= v << 16;
    v ^= v << 32;
    return v;
}
