// Blocks handed between the runtime, the libraries and plugins. They are
// plain C heap blocks so that a plugin may free what the runtime allocated.
#include "core/memory.h"

#include <cstdlib>

void* AllocMemory(size_t size, int clear) {
    if (size == 0) return nullptr;
    return clear ? std::calloc(1, size) : std::malloc(size);
}

void FreeMemory(void* block) { std::free(block); }

void FreeMemoryCall(void* block) { FreeMemory(block); }

void FreePlatformBuffer(void* buffer) { FreeMemory(buffer); }
