// Script numbers are doubles; ids, sizes, coordinates, kinds and ports are
// 32-bit integers. Every such number passes through this one conversion, so
// that NaN, infinities and values past the range never reach a plain cast,
// whose result would be undefined.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

// Truncates toward zero and saturates at the 32-bit limits; NaN gives 0.
inline int32_t ClampToInt32(double value) {
    if (std::isnan(value)) return 0;
    return static_cast<int32_t>(std::clamp(value, double{INT32_MIN}, double{INT32_MAX}));
}

// "-" for negative; "$" hex (also "$-"), "%" binary, "0x" hex, else decimal
// with an optional fraction and exponent. *consumed gets the characters of
// the number (sign included), *err 0, ERR_SYNTAXERROR (a prefix without
// digits) or ERR_VALUEEXPECTED (no number at all). Either may be null.
double StringToNumber(const char* text, size_t* consumed, int* err);
