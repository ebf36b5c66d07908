// The physical layout of the string table, shared by interning (string.cpp),
// the sweep (gc.cpp) and closing (mem.cpp). The block holds `capacity` chain
// heads and after them one bit per head, set while its chain may hold
// strings: a sweep then visits only those chains instead of testing every
// head, which matters when collections are frequent and the table sparse.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vm/object.h"

inline size_t VmStringChainWords(uint32_t capacity) { return (capacity + 63) / 64; }

inline uint64_t* VmStringChainBits(const VmStringTable* tb) {
    return reinterpret_cast<uint64_t*>(tb->hash + tb->capacity);
}

inline void VmStringChainUsed(VmStringTable* tb, uint32_t i) {
    VmStringChainBits(tb)[i / 64] |= uint64_t{1} << (i % 64);
}
