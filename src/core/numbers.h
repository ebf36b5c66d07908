// Script numbers are doubles; ids, sizes, coordinates, counts, rates, speeds,
// kinds and ports are 32-bit integers. Every such number passes through one
// of these conversions, so that NaN, infinities and values past the range
// never reach a plain cast, whose result would be undefined, nor the
// arithmetic that follows it:
// - ids, coordinates and kinds saturate (ClampToInt32): a far-off value
//   names nothing and is refused by the lookup or clipped by the drawing;
// - counts, sizes, rates and speeds are refused unless finite and inside the
//   range their consumer can serve (ToInt32Within), before any arithmetic;
// - flags are read as the script's own If reads them (core/truth.h).
// A saturated coordinate is one sum away from overflow, so every sum made
// from one (a position plus a size, an origin or an offset; an edge minus a
// position), up to the clip and the dirty rectangle, is made in 64 bits or
// through the saturating sums below: a far-off object lands far off, never
// wrapped round onto the picture.
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

// A 64-bit sum brought back to 32 bits, saturated at the limits.
inline int32_t SaturateToInt32(int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

// a + b and a - b of two coordinates (or a coordinate and an offset or
// size), saturated.
inline int32_t SaturatingAdd(int32_t a, int32_t b) { return SaturateToInt32(int64_t{a} + b); }
inline int32_t SaturatingSub(int32_t a, int32_t b) { return SaturateToInt32(int64_t{a} - b); }

// A count, size, rate or speed: true (and *out set, truncated toward zero)
// only for a finite value from lo to hi; NaN, infinities and values outside
// leave *out alone, for the caller to refuse.
inline bool ToInt32Within(double value, int32_t lo, int32_t hi, int32_t* out) {
    if (!(value >= static_cast<double>(lo) && value < static_cast<double>(hi) + 1)) return false;
    *out = static_cast<int32_t>(value);
    return true;
}

// A number written out as whole decimal digits: true, and *out the value
// truncated toward zero (a negative zero as 0), only for a finite one; NaN
// and the infinities have no digits, for the caller to refuse.
inline bool ToWholeNumber(double value, double* out) {
    if (!std::isfinite(value)) return false;
    *out = std::trunc(value) + 0.0;
    return true;
}

// "-" for negative; "$" hex (also "$-"), "%" binary, "0x" hex, else decimal
// with an optional fraction and exponent. *consumed gets the characters of
// the number (sign included), *err 0, ERR_SYNTAXERROR (a prefix without
// digits) or ERR_VALUEEXPECTED (no number at all). Either may be null.
double StringToNumber(const char* text, size_t* consumed, int* err);
