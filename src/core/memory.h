// The one allocator of blocks that cross subsystem and plugin boundaries: a
// block from AllocMemory is always released with FreeMemory, whoever holds it.
#pragma once

#include <cstddef>
#include <memory>

// Null for size 0 or when memory runs out (callers report ERR_MEM).
void* AllocMemory(size_t size, int clear);
// Null is allowed.
void FreeMemory(void* block);

// The names under which plugins and the font code reach FreeMemory.
void FreeMemoryCall(void* block);
void FreePlatformBuffer(void* buffer);

struct MemoryDeleter {
    void operator()(void* block) const { FreeMemory(block); }
};
template <typename T>
using MemoryPtr = std::unique_ptr<T, MemoryDeleter>;
