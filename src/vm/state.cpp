// Creation and destruction of the VM state.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include "core/errcodes.h"
#include "vm/internal.h"

namespace {

constexpr int kStartStackSlots = kBasicStackSize + kExtraStack;
constexpr int kStartGlobalsHashBits = 4;
constexpr int kStartRegistryArray = 4;
constexpr int kStartRegistryHashBits = 4;
constexpr uint32_t kStartStringBuckets = 32;

const char* const kMetaEventNames[kNumMetaEvents] = {
    "__index", "__newindex", "__gc", "__mode", "__eq", "__add", "__sub", "__mul",
    "__div", "__divint", "__mod", "__lsh", "__rsh", "__or", "__and", "__xor",
    "__pow", "__unm", "__not", "__lt", "__le", "__concat", "__call",
};

int DefaultPanic(ScriptState*) { return 0; }

// QB_GC_STRESS=1 in the environment makes every collection check and every
// allocation that grows the VM's memory collect: a test mode that finds
// objects native code forgot to keep reachable.
bool StressRequested() {
    const char* v = std::getenv("QB_GC_STRESS");
    return v != nullptr && *v != '\0' && std::strcmp(v, "0") != 0;
}

void InitStack(ScriptState* L) {
    L->stack = VmNewVector<ScriptValue>(L, kStartStackSlots);
    L->stacksize = kStartStackSlots;
    for (int i = 0; i < kStartStackSlots; i++) SetNil(&L->stack[i]);
    L->stack_last = L->stack + (kStartStackSlots - kExtraStack - 1);
    L->base_ci = VmNewVector<CallFrame>(L, kBasicFrames);
    L->size_ci = kBasicFrames;
    L->end_ci = L->base_ci + kBasicFrames;
    L->ci = L->base_ci;
    *L->ci = CallFrame{};
    L->ci->state = kFrameNative;
    L->top = L->stack + 1;  // slot 0 stands for the frame's function
    L->base = L->ci->base = L->top;
    L->ci->top = L->top + kMinStackForHandler;
}

VmString* NewFixedString(ScriptState* L, const char* text) {
    VmString* s = VmNewCString(L, text);
    s->marked |= kFixedBit;
    return s;
}

void OpenBody(ScriptState* L, void*) {
    auto* g = static_cast<VmGlobal*>(VmRealloc(nullptr, nullptr, 0, sizeof(VmGlobal)));
    if (g == nullptr) return;  // nothing can be raised before the global state exists
    std::memset(static_cast<void*>(g), 0, sizeof(VmGlobal));
    SetNil(&g->registry);
    SetNil(&g->defaultMeta);
    SetNil(&g->dummynode->key);
    SetNil(&g->dummynode->val);
    g->panic = DefaultPanic;
    g->mainthread = L;
    g->nblocks = sizeof(ScriptState) + sizeof(VmGlobal);
    g->GCthreshold = SIZE_MAX;  // nothing is collected while the state is being built
    L->g = g;
    VmSetBlockPoolLimit(L, 0);

    InitStack(L);
    // The default metatable is created while defaultMeta is still nil, so it
    // is given itself afterwards.
    VmTable* meta = VmNewTable(L, 0, 0);
    meta->metatable = meta;
    SetTable(&g->defaultMeta, meta);
    SetTable(&L->gt, VmNewTable(L, 0, kStartGlobalsHashBits));
    SetTable(&g->registry, VmNewTable(L, kStartRegistryArray, kStartRegistryHashBits));

    VmStringTableInit(L, kStartStringBuckets);
    for (int i = 0; i < kNumMetaEvents; i++) g->tmname[i] = NewFixedString(L, kMetaEventNames[i]);
    NewFixedString(L, "not enough memory");
    VmOpenBaseFunctions(L);
    g->GCthreshold = 4 * g->nblocks;
    g->gcStress = StressRequested();
}

// Frees what a state holds; works on a half-built state too.
void FreeState(ScriptState* L) {
    VmGlobal* g = L->g;
    if (g != nullptr) {
        VmFreeAll(L);
        VmFreeVector(L, g->strt.hash, g->strt.size);
        g->strt.hash = nullptr;
        g->strt.size = 0;
        VmFreeVector(L, g->buff.buffer, g->buff.size);
        g->buff.buffer = nullptr;
        g->buff.size = 0;
        VmFreeVector(L, L->base_ci, L->size_ci);
        VmFreeVector(L, L->stack, static_cast<size_t>(L->stacksize));
        VmReleaseBlockPool(L);
        std::free(g->gosubStack);
        VmRealloc(nullptr, g, sizeof(VmGlobal), 0);
    }
    VmRealloc(nullptr, L, sizeof(ScriptState), 0);
}

}  // namespace

ScriptState* VmOpen() {
    auto* L = static_cast<ScriptState*>(VmRealloc(nullptr, nullptr, 0, sizeof(ScriptState)));
    if (L == nullptr) return nullptr;
    std::memset(static_cast<void*>(L), 0, sizeof(ScriptState));
    L->tt = kTypeThread;
    L->allowhook = 1;
    L->lineperiod = L->linecountdown = 1;
    SetNil(&L->gt);
    int status = VmProtectedRun(L, OpenBody, nullptr);
    if (status != 0 || L->g == nullptr) {
        FreeState(L);
        return nullptr;
    }
    return L;
}

void VmClose(ScriptState* L) {
    if (L == nullptr) return;
    L = L->g->mainthread;
    VmCloseUpvalues(L, L->stack);
    VmFinaliseAll(L);
    FreeState(L);
}
