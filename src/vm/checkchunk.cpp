// The loader run for its verdict alone: a chunk read in a VM state of its
// own, so that a tool learns where the player would refuse it.
#include "core/errcodes.h"
#include "vm/codecheck.h"
#include "vm/internal.h"

namespace {

struct WholeBuffer {
    const char* data;
    size_t size;
};

const char* ReadWhole(ScriptState*, void* ud, size_t* size) {
    auto* b = static_cast<WholeBuffer*>(ud);
    *size = b->size;
    b->size = 0;
    return b->data;
}

struct CheckArgs {
    VmReader* z;
    VmCodeFault* fault;
};

void Load(ScriptState* L, void* ud) {
    auto* a = static_cast<CheckArgs*>(ud);
    VmUndump(L, a->z, a->fault);
}

}  // namespace

int VmCheckChunk(const char* data, size_t size, VmCodeFault* fault) {
    ScriptState* L = VmOpen();
    if (L == nullptr) return ERR_MEM;
    WholeBuffer source{data, size};
    VmReader z;
    VmReaderInit(L, &z, ReadWhole, &source, "?");
    z.sizeKnown = true;
    z.remainingTotal = size;
    VmCodeFault found;
    CheckArgs args{&z, &found};
    const int status = VmProtectedCall(L, Load, &args, VmSaveStack(L, L->top), L->errfunc);
    VmClose(L);
    if (status != 0 && fault) *fault = found;
    return status;
}
