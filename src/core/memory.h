// The one allocator of blocks that cross subsystem and plugin boundaries: a
// block from AllocMemory is always released with FreeMemory, whoever holds it.
#pragma once

#include <cstddef>
#include <memory>

// Null for size 0 or when memory runs out (callers report ERR_MEM).
void* AllocMemory(size_t size, int clear);
// Null is allowed.
void FreeMemory(void* block);

// A failure count-down for the tests of allocation failure: armed with n,
// the allocation n steps from now fails (n = 0: the next one), once; -1
// disarms it. AllocMemory consults it, and so does the operator new of the
// test binaries that replace it.
void SetAllocationFailCountdown(long n);
// Counts one allocation down; true for the one that is to fail.
bool AllocationShouldFail();
// Allocations left before the failing one; below 0 once it failed or while
// disarmed.
long AllocationFailCountdown();

// The names under which plugins and the font code reach FreeMemory.
void FreeMemoryCall(void* block);
void FreePlatformBuffer(void* buffer);

struct MemoryDeleter {
    void operator()(void* block) const { FreeMemory(block); }
};
template <typename T>
using MemoryPtr = std::unique_ptr<T, MemoryDeleter>;
