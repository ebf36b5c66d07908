// Chunk reader: pulls blocks from a reader callback and hands the loader bytes
// across block boundaries.
#include <algorithm>
#include <cstring>

#include "vm/internal.h"

void VmReaderInit(ScriptState* L, VmReader* z, VmReaderFn reader, void* data, const char* name) {
    z->n = 0;
    z->p = nullptr;
    z->reader = reader;
    z->data = data;
    z->name = name;
    z->L = L;
    z->sizeKnown = false;
    z->remainingTotal = 0;
}

namespace {

// Fetches the next non-empty block. Once the callback has reported the end,
// it is not asked again: some sources are not prepared to answer twice.
bool FillBlock(VmReader* z) {
    while (z->n == 0) {
        if (z->reader == nullptr) return false;
        size_t size = 0;
        const char* block = z->reader(z->L, z->data, &size);
        if (block == nullptr || size == 0) {
            z->reader = nullptr;
            return false;
        }
        z->p = block;
        z->n = size;
    }
    return true;
}

}  // namespace

size_t VmReaderRead(VmReader* z, void* b, size_t n) {
    auto* out = static_cast<char*>(b);
    while (n > 0) {
        if (!FillBlock(z)) break;
        size_t m = std::min(n, z->n);
        std::memcpy(out, z->p, m);
        out += m;
        z->p += m;
        z->n -= m;
        n -= m;
        if (z->sizeKnown) z->remainingTotal -= std::min(m, z->remainingTotal);
    }
    return n;
}

int VmReaderPeek(VmReader* z) {
    if (!FillBlock(z)) return -1;
    return static_cast<unsigned char>(*z->p);
}
