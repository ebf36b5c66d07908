// Fuzz target of the chunk loader and the interpreter: every input is loaded
// once from a reader of unknown size and once as a buffer of known size; a
// chunk that loads is then run under budgets of instructions, live memory and
// memory allocated in all. All must end in a result or an error code.
#include <cstddef>
#include <cstdint>

#include "core/errcodes.h"
#include "vm/internal.h"
#include "vmnetfuzz.h"

namespace {

constexpr int kHookEvery = 1000;
constexpr int kBudgetHooks = 200;  // 200000 instructions
constexpr size_t kMemoryLimit = 64u << 20;
// A loop that concatenates ever longer strings stays under the live limit
// while it allocates gigabytes, and under the address sanitizer those freed
// blocks stay resident. Four times the live limit still lets a run reach it.
constexpr size_t kAllocBudget = 4 * kMemoryLimit;

int hooksLeft = 0;
size_t grownLimit = 0;

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

void Budget(ScriptState* L, VmDebugRecord*, int* errorCode) {
    if (--hooksLeft <= 0 || L->g->grownBytes > grownLimit) *errorCode = ERR_USERABORT;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ScriptState* L = VmOpen();
    if (L == nullptr) return 0;
    const auto* bytes = reinterpret_cast<const char*>(data);
    OneBlock block{bytes, size};
    // Each load answers its code and what it left: the function loaded,
    // written out as its precompiled bytes, or the error message.
    FuzzNoteValue(VmLoad(L, ReadOneBlock, &block, "fuzz"));
    vmnetfuzz::NoteValue(L, -1);
    VmSetTop(L, 0);
    const int loaded = VmLoadBuffer(L, bytes, size, "fuzz");
    FuzzNoteValue(loaded);
    vmnetfuzz::NoteValue(L, -1);
    if (loaded == 0) {
        L->g->memLimit = L->g->nblocks + kMemoryLimit;
        hooksLeft = kBudgetHooks;
        grownLimit = L->g->grownBytes + kAllocBudget;
        VmSetHook(L, Budget, kMaskCount, kHookEvery);
        // The run's code and its error value, the hooks it used (the
        // instructions it ran, in thousands) and the globals it left.
        FuzzNoteValue(VmPCall(L, 0, 0, 0));
        vmnetfuzz::NoteValue(L, -1);
        FuzzNoteValue(hooksLeft);
        VmSetTop(L, 0);
        VmPushValue(L, kGlobalsIndex);
        vmnetfuzz::NoteValue(L, -1);
    }
    VmClose(L);
    return 0;
}
