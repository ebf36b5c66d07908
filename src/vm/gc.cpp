// The collector: one stop-the-world mark and sweep whenever the live byte
// count reaches the threshold, with weak tables ("__mode"), finalisers of full
// userdata ("__gc"), and the shrinking of the string table, the scratch
// buffer, the value stack and the frame array when they are mostly empty.
#include <algorithm>
#include <bit>
#include <cstring>

#include "vm/internal.h"
#include "vm/strtable.h"

namespace {

// Live bytes are shown in kilobytes; this many or more means no limit.
constexpr int kNoLimitKilobytes = 4194304;
constexpr size_t kNoLimitBytes = 4294967295u;

// Below these sizes nothing shrinks: they are twice the starting sizes.
constexpr uint32_t kMinShrinkBuckets = 64;
constexpr size_t kMinShrinkBuffer = 64;
constexpr int kMinShrinkFrames = 2 * kBasicFrames;
constexpr int kMinShrinkStack = 2 * (kBasicStackSize + kExtraStack);

// Work lists of one collection. Gray objects are marked but not yet
// traversed; tables found weak wait on the list of their kind until their
// dead entries are cleared. Both kinds of list run through gclist.
// A collection at an allocation moves nothing (see VmCollectAtAllocation).
struct GcWork {
    VmGlobal* g;
    bool atAllocation = false;
    GCObject* gray = nullptr;
    GCObject* weakKeys = nullptr;
    GCObject* weakValues = nullptr;
    GCObject* weakBoth = nullptr;
};

// Only these bits keep an object. A table's weak bits say nothing about its
// own life, and by the sweep every unmarked userdata has had its finaliser
// bit settled (moved to the due list, or cleared when it has no "__gc").
constexpr uint8_t kKeepBits = kMarkBit | kFixedBit;

bool IsKept(const GCObject* o) { return (o->marked & kKeepBits) != 0; }

GCObject*& GrayLink(GCObject* o) {
    switch (o->tt) {
    case kTypeTable: return static_cast<VmTable*>(o)->gclist;
    case kTypeFunction: return static_cast<VmClosureHeader*>(o)->gclist;
    case kTypeThread: return static_cast<ScriptState*>(o)->gclist;
    default: return static_cast<ScriptProto*>(o)->gclist;
    }
}

void MarkObject(GcWork& w, GCObject* o) {
    if (o->marked & kMarkBit) return;
    o->marked |= kMarkBit;
    switch (o->tt) {
    case kTypeString:
        break;
    case kTypeUserdata:
        // A userdata holds no values of its own; only its metatable leads on.
        if (VmTable* mt = static_cast<VmUserdata*>(o)->metatable) MarkObject(w, mt);
        break;
    case kTypeTable:
    case kTypeFunction:
    case kTypeThread:
    case kTypeProto:
        GrayLink(o) = w.gray;
        w.gray = o;
        break;
    default:
        break;  // upvalues are marked by the closures that hold them
    }
}

// Dead keys (tag -1) and values that are no objects are skipped by the tag test.
inline void MarkValue(GcWork& w, const ScriptValue* v) {
    if (IsCollectable(v)) MarkObject(w, v->value.gc);
}

template <typename T>
void MarkIfSet(GcWork& w, T* o) {
    if (o != nullptr) MarkObject(w, o);
}

// Whether the mode string of a metatable asks for weak keys, weak values.
void WeakMode(VmGlobal* g, VmTable* mt, bool* weakKeys, bool* weakValues) {
    *weakKeys = *weakValues = false;
    const ScriptValue* mode = VmFastMetamethod(mt, TM_MODE, g->tmname[TM_MODE]);
    if (mode == nullptr || !IsString(mode)) return;
    const VmString* s = StrValue(mode);
    *weakKeys = std::memchr(VmStrData(s), 'k', s->len) != nullptr;
    *weakValues = std::memchr(VmStrData(s), 'v', s->len) != nullptr;
}

void TraverseTable(GcWork& w, VmTable* t) {
    bool weakKeys = false, weakValues = false;
    if (t->metatable != nullptr) {
        MarkObject(w, t->metatable);
        WeakMode(w.g, t->metatable, &weakKeys, &weakValues);
    }
    t->marked &= static_cast<uint8_t>(~(kWeakKeyBit | kWeakValueBit));
    if (weakKeys || weakValues) {
        t->marked |= static_cast<uint8_t>((weakKeys ? kWeakKeyBit : 0) | (weakValues ? kWeakValueBit : 0));
        GCObject** list = weakKeys && weakValues ? &w.weakBoth : weakKeys ? &w.weakKeys : &w.weakValues;
        t->gclist = *list;
        *list = t;
    }
    if (!weakValues)
        for (int i = 0; i < t->sizearray; i++) MarkValue(w, &t->array[i]);
    for (int i = VmNodeCount(t) - 1; i >= 0; i--) {
        const VmNode* n = &t->node[i];
        if (IsNil(&n->val)) continue;  // a removed entry keeps nothing alive
        if (!weakKeys) MarkValue(w, &n->key);
        if (!weakValues) MarkValue(w, &n->val);
    }
}

void TraverseClosure(GcWork& w, VmClosureHeader* c) {
    if (c->isNative) {
        auto* nc = static_cast<VmNativeClosure*>(c);
        for (int i = 0; i < nc->nupvalues; i++) MarkValue(w, &VmNativeUpvalues(nc)[i]);
        return;
    }
    auto* sc = static_cast<VmScriptClosure*>(c);
    MarkValue(w, &sc->globals);
    MarkIfSet(w, sc->p);  // null only while the closure is being built
    for (int i = 0; i < sc->nupvalues; i++) {
        VmUpval* uv = VmScriptUpvals(sc)[i];
        // Open upvalues carry a permanent mark: their slots are stack roots.
        if (uv == nullptr || (uv->marked & kMarkBit)) continue;
        uv->marked |= kMarkBit;
        MarkValue(w, uv->v);
    }
}

// A prototype under construction by the loader has every array entry
// cleared ahead of what was read, so null entries are skipped.
void TraverseProto(GcWork& w, ScriptProto* p) {
    MarkIfSet(w, p->source);
    for (int i = 0; i < p->sizek; i++) MarkValue(w, &p->k[i]);
    for (int i = 0; i < p->sizeupvalues; i++) MarkIfSet(w, p->upvalues[i]);
    for (int i = 0; i < p->sizelocvars; i++) MarkIfSet(w, p->locvars[i].varname);
    for (int i = 0; i < p->sizep; i++) MarkIfSet(w, p->p[i]);
}

// Halves the frame array and the stack when a quarter of them holds all that
// the live frames can reach; the halved sizes still leave that part room.
void ShrinkState(ScriptState* L1, const ScriptValue* lim) {
    int framesInUse = static_cast<int>(L1->ci - L1->base_ci) + 1;
    // A frame array beyond the maximum is reporting an overflow; the
    // protected call that catches it cuts it back.
    if (L1->size_ci <= kMaxFrames && 4 * framesInUse < L1->size_ci && L1->size_ci > kMinShrinkFrames)
        VmReallocFrames(L1, L1->size_ci / 2);
    auto slotsInUse = static_cast<int>(lim - L1->stack) + 1;
    if (4 * slotsInUse < L1->stacksize && L1->stacksize > kMinShrinkStack) VmReallocStack(L1, L1->stacksize / 2);
}

void MoveFrames(ScriptState* L1) {
    CallFrame* fresh = VmNewVector<CallFrame>(L1, L1->size_ci);
    std::copy(L1->base_ci, L1->base_ci + L1->size_ci, fresh);
    ptrdiff_t current = L1->ci - L1->base_ci;
    VmFreeVector(L1, L1->base_ci, L1->size_ci);
    L1->base_ci = fresh;
    L1->ci = fresh + current;
    L1->end_ci = fresh + L1->size_ci;
}

void TraverseState(GcWork& w, ScriptState* L1) {
    MarkValue(w, &L1->gt);
    const ScriptValue* lim = L1->top;
    for (const CallFrame* ci = L1->base_ci; ci <= L1->ci; ci++)
        if (ci->top > lim) lim = ci->top;
    for (const ScriptValue* o = L1->stack; o < L1->top; o++) MarkValue(w, o);
    // Nothing is marked above the top, so nothing there may survive to be
    // read later: a frame that takes those slots back (a caller whose callee
    // returned) would find freed objects.
    for (ScriptValue* o = L1->top; o < L1->stack + L1->stacksize; o++) SetNil(o);
    for (GCObject* up = L1->openupval; up != nullptr; up = up->next) MarkValue(w, static_cast<VmUpval*>(up)->v);
    if (w.atAllocation) return;
    ShrinkState(L1, lim);
    if (w.g->gcStress) {
        // Fresh blocks, so that the address sanitizer catches a pointer into
        // the old ones kept across a check point (its realloc always moves;
        // the frame array may be small enough to stay put in the pool).
        MoveFrames(L1);
        VmReallocStack(L1, L1->stacksize);
    }
}

void Propagate(GcWork& w) {
    while (w.gray != nullptr) {
        GCObject* o = w.gray;
        w.gray = GrayLink(o);
        switch (o->tt) {
        case kTypeTable: TraverseTable(w, static_cast<VmTable*>(o)); break;
        case kTypeFunction: TraverseClosure(w, static_cast<VmClosureHeader*>(o)); break;
        case kTypeThread: TraverseState(w, static_cast<ScriptState*>(o)); break;
        case kTypeProto: TraverseProto(w, static_cast<ScriptProto*>(o)); break;
        default: break;
        }
    }
}

// Whether a weak reference to the value lets go of it. Strings are values,
// not objects with an identity, so they never go (and are kept alive here).
bool IsCleared(const ScriptValue* o) {
    if (!IsCollectable(o)) return false;
    if (IsString(o)) {
        o->value.gc->marked |= kMarkBit;
        return false;
    }
    return !IsKept(o->value.gc);
}

// The key stays as a dead key, so that a traversal standing on it can go on.
void RemoveEntry(VmNode* n) {
    SetNil(&n->val);
    if (IsCollectable(&n->key)) n->key.tt = kTypeDeadKey;
}

void ClearKeys(GCObject* list) {
    for (; list != nullptr; list = static_cast<VmTable*>(list)->gclist) {
        auto* t = static_cast<VmTable*>(list);
        for (int i = VmNodeCount(t) - 1; i >= 0; i--) {
            VmNode* n = &t->node[i];
            if (!IsNil(&n->val) && IsCleared(&n->key)) RemoveEntry(n);
        }
    }
}

void ClearValues(GCObject* list) {
    for (; list != nullptr; list = static_cast<VmTable*>(list)->gclist) {
        auto* t = static_cast<VmTable*>(list);
        for (int i = 0; i < t->sizearray; i++)
            if (IsCleared(&t->array[i])) SetNil(&t->array[i]);
        for (int i = VmNodeCount(t) - 1; i >= 0; i--) {
            VmNode* n = &t->node[i];
            if (!IsNil(&n->val) && IsCleared(&n->val)) RemoveEntry(n);
        }
    }
}

// Moves the userdata whose finalisers are now due (unreachable ones, or with
// all set every one) to the end of the due list, keeping their order.
// Returns their size, which is garbage as soon as they have run.
size_t SeparateUserdata(VmGlobal* g, bool all) {
    size_t deadmem = 0;
    GCObject** last = &g->tmudata;
    while (*last != nullptr) last = &(*last)->next;
    GCObject** p = &g->rootudata;
    while (GCObject* curr = *p) {
        auto* u = static_cast<VmUserdata*>(curr);
        if ((!all && IsKept(curr)) || !(curr->marked & kWeakKeyBit)) {
            p = &curr->next;
        } else if (VmFastMetamethod(u->metatable, TM_GC, g->tmname[TM_GC]) == nullptr) {
            curr->marked &= static_cast<uint8_t>(~kWeakKeyBit);  // nothing to run: plain garbage
            p = &curr->next;
        } else {
            deadmem += sizeof(VmUserdata) + u->len;
            *p = curr->next;
            curr->next = nullptr;
            *last = curr;
            last = &curr->next;
        }
    }
    return deadmem;
}

// The due userdata survive this collection with all they reach. Some may
// still be marked from the collection that found them due (their finalisers
// were cut short), so each is marked afresh.
void MarkDue(GcWork& w) {
    for (GCObject* u = w.g->tmudata; u != nullptr; u = u->next) {
        u->marked &= static_cast<uint8_t>(~kMarkBit);
        MarkObject(w, u);
    }
}

// Frees the unkept objects of a list; the kept ones lose their mark.
void SweepList(ScriptState* L, GCObject** p) {
    while (GCObject* curr = *p) {
        if (IsKept(curr)) {
            curr->marked &= static_cast<uint8_t>(~kMarkBit);
            p = &curr->next;
        } else {
            *p = curr->next;
            VmFreeObject(L, curr);
        }
    }
}

// How many buckets ahead the sweep asks for the first string of a chain.
constexpr size_t kSweepPrefetchDistance = 16;

// The string table holds nothing but strings, so they are freed here at
// their known size rather than through the general object switch; only the
// chains marked as used are visited. Strings lie wherever they were
// allocated, so reading each header waits for memory unless it was asked
// for while earlier chains were swept.
void SweepStrings(ScriptState* L) {
    VmStringTable* tb = &L->g->strt;
    uint64_t* used = VmStringChainBits(tb);
    const size_t lastBucket = tb->capacity - 1;
    uint32_t freed = 0;
    for (size_t w = 0; w < VmStringChainWords(tb->capacity); w++) {
        for (uint64_t pending = used[w]; pending != 0; pending &= pending - 1) {
            size_t i = w * 64 + static_cast<size_t>(std::countr_zero(pending));
            __builtin_prefetch(tb->hash[std::min(i + kSweepPrefetchDistance, lastBucket)]);
            GCObject** p = &tb->hash[i];
            while (GCObject* curr = *p) {
                if (IsKept(curr)) {
                    curr->marked &= static_cast<uint8_t>(~kMarkBit);
                    p = &curr->next;
                } else {
                    *p = curr->next;
                    VmRealloc(L, curr, sizeof(VmString) + static_cast<VmString*>(curr)->len + 1, 0);
                    freed++;
                }
            }
            if (tb->hash[i] == nullptr) used[w] &= ~(pending & -pending);
        }
    }
    tb->nuse -= freed;
}

void ShrinkBuffers(ScriptState* L) {
    VmGlobal* g = L->g;
    if (g->strt.nuse < g->strt.size / 4 && g->strt.size > kMinShrinkBuckets)
        VmStringTableResize(L, g->strt.size / 2);
    if (g->buff.size > kMinShrinkBuffer) {
        size_t newsize = g->buff.size / 2;
        g->buff.buffer = VmResizeVector(L, g->buff.buffer, g->buff.size, newsize);
        g->buff.size = newsize;
    }
}

// Calls the finalisers on the due list, each userdata going back to the
// ordinary list first (so it is finalised once, and freed by a later
// collection if it stays unreachable). A raise inside one goes on to the
// enclosing protected run; the rest wait for the next collection.
void RunDueFinalisers(ScriptState* L) {
    VmGlobal* g = L->g;
    // A collection nested in a finaliser leaves what it finds due to the
    // loop already running.
    if (g->runningFinalisers) return;
    struct Restore {
        ScriptState* L;
        uint8_t allowhook;
        ~Restore() {
            L->allowhook = allowhook;
            L->g->runningFinalisers = false;
        }
    } restore{L, L->allowhook};
    g->runningFinalisers = true;
    L->allowhook = 0;
    while (g->tmudata != nullptr) {
        // Room first: the userdata is held by the due list until it is on
        // the stack, and growing the stack may collect.
        VmCheckStackRoom(L, 2);
        GCObject* o = g->tmudata;
        auto* u = static_cast<VmUserdata*>(o);
        g->tmudata = o->next;
        o->next = g->rootudata;
        g->rootudata = o;
        o->marked &= static_cast<uint8_t>(~(kMarkBit | kWeakKeyBit));
        const ScriptValue* tm = VmFastMetamethod(u->metatable, TM_GC, g->tmname[TM_GC]);
        if (tm == nullptr) continue;
        ScriptValue fn = *tm;
        L->top[0] = fn;
        SetGCValue(L->top + 1, u, kTypeUserdata);
        L->top += 2;
        int err = VmCallValue(L, L->top - 2, 0);
        if (err != 0) VmActiveHost.commandError(L, err);
    }
}

void RunDueFinalisersBody(ScriptState* L, void*) { RunDueFinalisers(L); }

}  // namespace

void VmSweep(ScriptState* L, bool all) {
    if (all) {
        VmFreeAll(L);
        return;
    }
    VmGlobal* g = L->g;
    SweepList(L, &g->rootudata);
    SweepStrings(L);
    SweepList(L, &g->rootgc);
}

namespace {

// Mark and sweep; at an allocation without the shrinking of the stacks and
// buffers that a check point allows.
void MarkAndSweep(ScriptState* L, bool atAllocation) {
    VmGlobal* g = L->g;
    struct Running {
        VmGlobal* g;
        ~Running() { g->gcRunning = false; }
    } running{g};
    g->gcRunning = true;
    g->collections++;
    GcWork w{g, atAllocation};
    MarkValue(w, &g->defaultMeta);
    MarkValue(w, &g->registry);
    // The main state is no listed object: it is traversed in place each time.
    g->mainthread->marked |= kMarkBit;
    TraverseState(w, g->mainthread);
    if (L != g->mainthread) MarkObject(w, L);
    Propagate(w);

    ClearValues(w.weakBoth);
    ClearValues(w.weakValues);
    // Keys wait until the due userdata are marked: a key may be one of them.
    GCObject* weakBothBefore = w.weakBoth;
    w.weakBoth = nullptr;
    w.weakValues = nullptr;
    size_t deadmem = SeparateUserdata(g, false);
    MarkDue(w);
    Propagate(w);
    ClearKeys(weakBothBefore);
    // Tables reached only through the due userdata were found weak just now.
    ClearKeys(w.weakKeys);
    ClearValues(w.weakValues);
    ClearKeys(w.weakBoth);
    ClearValues(w.weakBoth);

    VmSweep(L, false);
    if (!atAllocation) ShrinkBuffers(L);
    g->GCthreshold = 2 * g->nblocks - deadmem;
    // The next collection frees about what is live now.
    VmSetBlockPoolLimit(L, g->nblocks);
}

}  // namespace

void VmCollect(ScriptState* L) {
    MarkAndSweep(L, false);
    RunDueFinalisers(L);
}

// The caller may be halfway through anything that allocates: an instruction
// holding pointers into the stack, the loader filling the scratch buffer, the
// string table linking a new string. So nothing moves or shrinks, and the
// due finalisers (script code) wait for the next check point. The collector's
// own allocations, and the windows the VM marks while its invariants are
// broken, collect nothing.
void VmCollectAtAllocation(ScriptState* L) {
    VmGlobal* g = L->g;
    if (g->gcRunning || g->gcHold != 0) return;
    MarkAndSweep(L, true);
}

void VmFinaliseAll(ScriptState* L) {
    VmGlobal* g = L->g;
    SeparateUserdata(g, true);
    L->errfunc = 0;
    // A failing finaliser ends only itself: the frames are reset and the
    // loop goes on with the rest (the failed one already left the list).
    do {
        L->ci = L->base_ci;
        L->base = L->top = L->ci->base;
        L->nCcalls = 0;
        g->gosubCount = 0;
    } while (VmProtectedRun(L, RunDueFinalisersBody, nullptr) != 0);
}

int VmGetGcThreshold(ScriptState* L) { return static_cast<int>(L->g->GCthreshold / 1024); }

int VmGetGcCount(ScriptState* L) { return static_cast<int>(L->g->nblocks / 1024); }

void VmSetGcThreshold(ScriptState* L, int kilobytes) {
    VmGlobal* g = L->g;
    bool limited = kilobytes >= 0 && kilobytes < kNoLimitKilobytes;
    g->GCthreshold = limited ? static_cast<size_t>(kilobytes) * 1024 : kNoLimitBytes;
    if (g->nblocks >= g->GCthreshold) VmCollect(L);
}
