// Script numbers are doubles; ids, sizes, coordinates, kinds and ports are
// 32-bit integers. Every such number passes through this one conversion, so
// that NaN, infinities and values past the range never reach a plain cast,
// whose result would be undefined.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

// Truncates toward zero and saturates at the 32-bit limits; NaN gives 0.
inline int32_t ClampToInt32(double value) {
    if (std::isnan(value)) return 0;
    return static_cast<int32_t>(std::clamp(value, double{INT32_MIN}, double{INT32_MAX}));
}
