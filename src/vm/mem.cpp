// The VM allocator with live-byte accounting, and freeing of every kind of VM
// object: the one place where object sizes are computed for the free side.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <sanitizer/asan_interface.h>

#include "core/errcodes.h"
#include "vm/internal.h"
#include "vm/stringblock.h"

namespace {

// Requests this large cannot be told apart from a wrapped-around size
// computation, so they are refused before asking the system.
constexpr size_t kMaxRequest = 4294967293u;
static_assert(kVmStringBlockHeader + kVmLongestString + 1 < kMaxRequest &&
                  kVmStringBlockHeader + kVmLongestString + 2 >= kMaxRequest,
              "the longest string is the longest the allocator grants");

// Small blocks go back to lists of the VM's own when freed: a collection
// frees its garbage in one burst, many more blocks of a few sizes than the
// system allocator's thread cache keeps, and the program asks for the same
// sizes again right after. A class holds the sizes that the system
// allocator would give the same chunk (16-byte steps, one word of its own),
// and every block of a pooled size is allocated with its class's full
// capacity, so that any block of a class serves any request of it.
constexpr size_t kPoolStep = 16;
constexpr size_t kPoolWord = 8;
constexpr size_t kPoolMaxSize = kPoolClasses * kPoolStep - kPoolWord;

constexpr int PoolClass(size_t size) { return static_cast<int>((size + kPoolWord - 1) / kPoolStep); }
constexpr size_t PoolCapacity(int c) { return static_cast<size_t>(c) * kPoolStep + kPoolWord; }

// What the pool holds back is bounded in bytes, not per class: a collection
// frees about as much as the live size, mostly in the one or two classes the
// program is churning, and asks for the same sizes again right after. A bound
// per class (64 blocks, or 16 KB of small ones) sent every block past it back
// to the system and fetched it again as soon as the player's own globals made
// the live size a few hundred KB. Holding up to the live size keeps the peak
// where it was (the garbage was there before the collection) and is given
// back when the live size falls.
constexpr size_t kPoolMinBytes = 256 * 1024;

// Pooled blocks are poisoned for the address sanitizer, so that a use after
// free is still caught while the block waits for reuse.
void* PoolTake(VmBlockPool& pool, int c) {
    void* b = pool.head[c];
    if (b == nullptr) return nullptr;
    ASAN_UNPOISON_MEMORY_REGION(b, PoolCapacity(c));
    std::memcpy(&pool.head[c], b, sizeof(void*));
    pool.bytes -= PoolCapacity(c);
    // The blocks came back in sweep order, scattered: the next one is asked
    // for now, so that its link and the header written into it are cached
    // when the class is asked again.
    __builtin_prefetch(pool.head[c], 1);
    return b;
}

bool PoolGive(VmBlockPool& pool, void* b, int c) {
    if (pool.bytes + PoolCapacity(c) > pool.limit) return false;
    std::memcpy(b, &pool.head[c], sizeof(void*));
    pool.head[c] = b;
    pool.bytes += PoolCapacity(c);
    ASAN_POISON_MEMORY_REGION(b, PoolCapacity(c));
    return true;
}

// What the stress mode writes over every block the VM frees: a string, table
// or closure that is used after a collection took it reads as nonsense (huge
// lengths, wild pointers) rather than as its old contents.
constexpr int kFreedByte = 0xDB;

// The stress mode collects before every allocation that grows the VM's
// memory, so that an object held only in a C variable across any allocation
// is taken at once, not only when a collection check happens to fall there.
void StressAllocation(ScriptState* L, void* block, size_t oldsize, size_t size) {
    if (size > oldsize)
        VmCollectAtAllocation(L);
    else if (size == 0 && block != nullptr)
        std::memset(block, kFreedByte, oldsize);
}

// A set memory limit counts like an allocation failure.
bool OverLimit(const VmGlobal* g, size_t oldsize, size_t size) {
    return g->memLimit != 0 && size > oldsize && g->nblocks - oldsize + size > g->memLimit;
}

void FreeUserdata(ScriptState* L, VmUserdata* u) {
    VmRealloc(L, u, sizeof(VmUserdata) + u->len, 0);
}

void FreeClosure(ScriptState* L, VmClosureHeader* c) {
    size_t size = c->isNative
        ? sizeof(VmNativeClosure) + c->nupvalues * sizeof(ScriptValue)
        : sizeof(VmScriptClosure) + c->nupvalues * sizeof(VmUpval*);
    VmRealloc(L, c, size, 0);
}

void FreeString(ScriptState* L, VmString* s) {
    VmRealloc(L, s, sizeof(VmString) + s->len + 1, 0);
}

// Only secondary threads would ever be freed this way; the main state is
// released by VmClose itself.
void FreeThread(ScriptState* L, ScriptState* th) {
    VmFreeVector(L, th->base_ci, th->size_ci);
    VmFreeVector(L, th->stack, static_cast<size_t>(th->stacksize));
    VmRealloc(L, th, sizeof(ScriptState), 0);
}

void FreeList(ScriptState* L, GCObject** head) {
    GCObject* o = *head;
    *head = nullptr;
    while (o != nullptr) {
        GCObject* next = o->next;
        VmFreeObject(L, o);
        o = next;
    }
}

// Every case of VmRealloc; the pooled ones that it handles itself come here
// only when the pool cannot serve them.
[[gnu::noinline]] void* ReallocAny(ScriptState* L, void* block, size_t oldsize, size_t size) {
    if (block == nullptr) oldsize = 0;  // nothing was counted for it
    VmGlobal* g = L != nullptr ? L->g : nullptr;
    if (g != nullptr && g->gcStress) StressAllocation(L, block, oldsize, size);
    if (size == 0) {
        if (block != nullptr) {
            bool pooled = g != nullptr && oldsize > 0 && oldsize <= kPoolMaxSize &&
                          PoolGive(g->pool, block, PoolClass(oldsize));
            if (!pooled) std::free(block);
            if (g != nullptr) g->nblocks -= oldsize;
        }
        return nullptr;
    }
    if (size >= kMaxRequest) {
        if (L == nullptr) return nullptr;
        VmRaiseError(L, ERR_MEM);
    }
    void* nb = nullptr;
    if (g != nullptr && OverLimit(g, oldsize, size)) {
        nb = nullptr;
    } else if (size > kPoolMaxSize) {
        nb = std::realloc(block, size);
    } else if (block == nullptr) {
        int c = PoolClass(size);
        nb = g != nullptr ? PoolTake(g->pool, c) : nullptr;
        if (nb == nullptr) nb = std::malloc(PoolCapacity(c));
    } else if (oldsize > 0 && PoolClass(oldsize) == PoolClass(size)) {
        nb = block;  // the capacity of the class covers it
    } else {
        nb = std::realloc(block, PoolCapacity(PoolClass(size)));
    }
    if (nb == nullptr) {
        if (L == nullptr) return nullptr;
        VmThrow(L, ERR_MEM);
    }
    if (g != nullptr) {
        g->nblocks = g->nblocks - oldsize + size;
        if (size > oldsize) g->grownBytes += size - oldsize;
    }
    return nb;
}

}  // namespace

// Fresh and freed small blocks are most of the traffic (every string, table
// and closure), so they are served from the pool here without a call; kept
// apart from the rest, this path needs no stack frame. The stress mode takes
// the general path for everything.
void* VmRealloc(ScriptState* L, void* block, size_t oldsize, size_t size) {
    VmGlobal* g = L != nullptr ? L->g : nullptr;
    if (g != nullptr && size <= kPoolMaxSize && !g->gcStress) {
        if (size == 0) {
            if (block != nullptr && oldsize != 0 && oldsize <= kPoolMaxSize &&
                PoolGive(g->pool, block, PoolClass(oldsize))) {
                g->nblocks -= oldsize;
                return nullptr;
            }
        } else if (block == nullptr && !OverLimit(g, 0, size)) {
            if (void* nb = PoolTake(g->pool, PoolClass(size))) {
                g->nblocks += size;
                g->grownBytes += size;
                return nb;
            }
        }
    }
    return ReallocAny(L, block, oldsize, size);
}

void VmCountBytes(ScriptState* L, size_t oldsize, size_t size) {
    VmGlobal* g = L->g;
    if (size > oldsize) {
        if (size >= kMaxRequest) VmRaiseError(L, ERR_MEM);
        if (OverLimit(g, oldsize, size)) VmThrow(L, ERR_MEM);
        g->grownBytes += size - oldsize;
    }
    g->nblocks = g->nblocks - oldsize + size;
}

void VmSetBlockPoolLimit(ScriptState* L, size_t liveBytes) {
    VmBlockPool& pool = L->g->pool;
    pool.limit = std::max(kPoolMinBytes, liveBytes);
    for (int c = kPoolClasses - 1; c >= 0 && pool.bytes > pool.limit; c--) {
        while (pool.bytes > pool.limit) {
            void* b = PoolTake(pool, c);
            if (b == nullptr) break;
            std::free(b);
        }
    }
}

void VmReleaseBlockPool(ScriptState* L) {
    VmBlockPool& pool = L->g->pool;
    for (int c = 0; c < kPoolClasses; c++) {
        while (void* b = PoolTake(pool, c)) std::free(b);
    }
}

void VmLinkObject(ScriptState* L, GCObject* o, int tt) {
    VmGlobal* g = L->g;
    o->tt = static_cast<uint8_t>(tt);
    if (tt == kTypeUserdata) {
        // A new userdata may still need its finaliser run.
        o->marked = kWeakKeyBit;
        o->next = g->rootudata;
        g->rootudata = o;
    } else {
        o->marked = 0;
        o->next = g->rootgc;
        g->rootgc = o;
    }
}

// Releases the memory of one object; unlinking it from whatever list holds it
// (and the string count) is the caller's business.
void VmFreeObject(ScriptState* L, GCObject* o) {
    switch (o->tt) {
    case kTypeString: FreeString(L, static_cast<VmString*>(o)); break;
    case kTypeTable: VmFreeTable(L, static_cast<VmTable*>(o)); break;
    case kTypeFunction: FreeClosure(L, static_cast<VmClosureHeader*>(o)); break;
    case kTypeUserdata: FreeUserdata(L, static_cast<VmUserdata*>(o)); break;
    case kTypeThread: FreeThread(L, static_cast<ScriptState*>(o)); break;
    case kTypeProto: VmFreeProto(L, static_cast<ScriptProto*>(o)); break;
    case kTypeUpval: VmRealloc(L, o, sizeof(VmUpval), 0); break;
    default: break;  // no other kind is ever allocated
    }
}

void VmFreeAll(ScriptState* L) {
    VmGlobal* g = L->g;
    // Upvalues still open belong to no list but the state's.
    FreeList(L, &L->openupval);
    FreeList(L, &g->rootgc);
    FreeList(L, &g->rootudata);
    FreeList(L, &g->tmudata);
    // The string table goes with its strings: nothing is interned after this.
    for (uint32_t i = 0; i < g->strt.capacity; i++) FreeList(L, &g->strt.hash[i]);
    VmCountBytes(L, g->strt.size * sizeof(GCObject*), 0);
    std::free(g->strt.hash);
    g->strt = VmStringTable{};
    for (VmString*& name : g->tmname) name = nullptr;
    SetNil(&g->registry);
    SetNil(&g->defaultMeta);
    SetNil(&L->gt);
}
