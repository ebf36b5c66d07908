// The math library: arithmetic, rounding, powers, trigonometry, random
// numbers and 32-bit bit operations on script numbers.
#pragma once

#include <cstdint>

#include "vm/vm.h"

// The type constants the bit and memory commands share with the system
// library (#INTEGER, #SHORT, #BYTE).
constexpr int kMathTypeInteger = 1;
constexpr int kMathTypeShort = 6;
constexpr int kMathTypeByte = 7;

// Opens the library into the table on the stack top and seeds the C
// library's generators, which the transitions draw from too; 0 or an error
// code.
int InitMathLibrary(ScriptState* L);

// Rotations within a width of 32, 16 or 8 bits; the count is taken modulo
// the width (the value is cut to the width first).
uint32_t RotateLeft(uint32_t value, uint32_t count, int width);
uint32_t RotateRight(uint32_t value, uint32_t count, int width);

// The VM's 32-bit reading of a number, for values that come from elsewhere
// than an argument: NaN gives 0, negatives truncate to a signed integer kept
// as its bits (saturating at -2147483648), the rest clamp to 0..4294967295.
inline uint32_t ScriptUInt32(double d) {
    if (d != d) return 0;
    if (d < 0) return d <= -2147483648.0 ? 0x80000000u : static_cast<uint32_t>(static_cast<int32_t>(d));
    return d >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<uint32_t>(d);
}
