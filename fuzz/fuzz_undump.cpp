// Fuzz target of the chunk loader: every input is loaded once from a reader
// of unknown size and once as a buffer of known size; both must end in a
// result or an error code.
#include <cstddef>
#include <cstdint>

#include "vm/vm.h"

namespace {

struct OneBlock {
    const char* data;
    size_t size;
};

const char* ReadOneBlock(ScriptState*, void* ud, size_t* size) {
    auto* b = static_cast<OneBlock*>(ud);
    *size = b->size;
    b->size = 0;
    return b->data;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ScriptState* L = VmOpen();
    if (L == nullptr) return 0;
    const auto* bytes = reinterpret_cast<const char*>(data);
    OneBlock block{bytes, size};
    VmLoad(L, ReadOneBlock, &block, "fuzz");
    VmSetTop(L, 0);
    VmLoadBuffer(L, bytes, size, "fuzz");
    VmClose(L);
    return 0;
}
