// Wide integer helpers of the scan engine: products of two 16.16 values
// beyond pixel 32768 need more than 64 bits.
#pragma once

#include <cstdint>

__extension__ using Wide = __int128;

inline Wide FloorDiv(Wide a, Wide b) {
    Wide q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

inline Wide CeilDiv(Wide a, Wide b) { return -FloorDiv(-a, b); }
