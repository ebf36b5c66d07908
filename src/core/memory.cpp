// Blocks handed between the runtime, the libraries and plugins. They are
// plain C heap blocks so that a plugin may free what the runtime allocated.
#include "core/memory.h"

#include <atomic>
#include <cstdlib>

namespace {

// Allocations left before the failing one; -1 while disarmed.
std::atomic<long> failCountdown{-1};

}  // namespace

void SetAllocationFailCountdown(long n) { failCountdown.store(n, std::memory_order_relaxed); }

long AllocationFailCountdown() { return failCountdown.load(std::memory_order_relaxed); }

bool AllocationShouldFail() {
    if (failCountdown.load(std::memory_order_relaxed) < 0) return false;
    return failCountdown.fetch_sub(1) == 0;
}

void* AllocMemory(size_t size, int clear) {
    if (size == 0 || AllocationShouldFail()) return nullptr;
    return clear ? std::calloc(1, size) : std::malloc(size);
}

void FreeMemory(void* block) { std::free(block); }

void FreeMemoryCall(void* block) { FreeMemory(block); }

void FreePlatformBuffer(void* buffer) { FreeMemory(buffer); }
