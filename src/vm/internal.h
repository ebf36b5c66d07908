// Operations shared by the VM's own files. Each block names the file that
// implements it.
#pragma once

#include "vm/host.h"
#include "vm/object.h"

// ---- mem.cpp: the VM allocator with live-byte accounting ---------------
// new size 0 frees; a request of 4294967293 bytes or more raises ERR_MEM; a
// failed (re)allocation throws ERR_MEM. L may be null while the state is built.
void* VmRealloc(ScriptState* L, void* block, size_t oldsize, size_t size);
template <typename T>
T* VmNewVector(ScriptState* L, size_t n) {
    return static_cast<T*>(VmRealloc(L, nullptr, 0, n * sizeof(T)));
}
template <typename T>
void VmFreeVector(ScriptState* L, T* v, size_t n) {
    VmRealloc(L, v, n * sizeof(T), 0);
}
template <typename T>
T* VmResizeVector(ScriptState* L, T* v, size_t oldn, size_t n) {
    return static_cast<T*>(VmRealloc(L, v, oldn * sizeof(T), n * sizeof(T)));
}
// Counts a change in memory the VM holds outside its own blocks, raising
// ERR_MEM like a failed allocation when growing past the limits.
void VmCountBytes(ScriptState* L, size_t oldsize, size_t size);
// Bounds the blocks that freeing keeps for reuse by the live size (at least
// a fixed floor), handing any excess back to the system (after a collection).
void VmSetBlockPoolLimit(ScriptState* L, size_t liveBytes);
// Hands the blocks that freeing kept for reuse back to the system (closing).
void VmReleaseBlockPool(ScriptState* L);
// Links a new object into the object list.
void VmLinkObject(ScriptState* L, GCObject* o, int tt);
// Frees one object of any kind (used by VmClose and, later, the sweep).
void VmFreeObject(ScriptState* L, GCObject* o);
// Frees every object (closing).
void VmFreeAll(ScriptState* L);

// ---- gc.cpp: the collector ---------------------------------------------------
// One full mark-and-sweep collection, then the due finalisers. It may move
// the stack and the frame array (they shrink when mostly unused), so callers
// reload any pointer into them afterwards.
void VmCollect(ScriptState* L);
// The stress mode's collection before a growing allocation (mem.cpp): a full
// mark and sweep that moves nothing and runs no finaliser; none while a
// collection runs or inside a VmGcHold.
void VmCollectAtAllocation(ScriptState* L);
// Marks a window where the VM's invariants are broken (entries of a table
// in flight between its old and new parts): allocations inside collect nothing.
struct VmGcHold {
    VmGlobal* g;
    explicit VmGcHold(ScriptState* L) : g(L->g) { g->gcHold++; }
    ~VmGcHold() { g->gcHold--; }
    VmGcHold(const VmGcHold&) = delete;
    VmGcHold& operator=(const VmGcHold&) = delete;
};
// Frees unmarked objects; with all set, every object (closing).
void VmSweep(ScriptState* L, bool all);
// Runs the "__gc" finaliser of every userdata that still needs one, each
// call protected; used by VmClose before everything is freed.
void VmFinaliseAll(ScriptState* L);
// The collection check of every place that creates objects. True when a
// collection ran (stack pointers must then be reloaded).
inline bool VmCheckGC(ScriptState* L) {
    VmGlobal* g = L->g;
    if (g->nblocks < g->GCthreshold && !g->gcStress) return false;
    VmCollect(L);
    return true;
}

// ---- string.cpp: interned strings and conversions -------------------------
void VmStringTableInit(ScriptState* L, uint32_t size);
void VmStringTableResize(ScriptState* L, uint32_t newsize);
VmString* VmNewString(ScriptState* L, const char* s, size_t len);
// A string whose bytes the caller wrote in place (see VmPushStringBlock);
// owns and frees block in every case, errors included.
VmString* VmAdoptString(ScriptState* L, void* block, size_t len);
// The interned string of the n strings at values joined, len bytes in all
// (below 4294967294): written straight into a new string's block, which is
// given back when the string exists already.
VmString* VmJoinStrings(ScriptState* L, const ScriptValue* values, int n, size_t len);
inline VmString* VmNewCString(ScriptState* L, const char* s) { return VmNewString(L, s, std::strlen(s)); }
// "0x..." or "$..." hexadecimal (unsigned 32-bit), else strtod; trailing blanks allowed.
bool VmStringToNumber(const char* s, double* result);
// "%.14g" into buf (at least 32 bytes); returns the length.
int VmNumberToText(double n, char* buf);
// Converts a value to a number in a temporary (nil counts as 0); false when it can't.
bool VmToNumberValue(const ScriptValue* obj, ScriptValue* n);
// Converts a number or nil in place into a string; false for other kinds.
bool VmToStringValue(ScriptState* L, ScriptValue* obj);
bool VmRawEqualObj(const ScriptValue* a, const ScriptValue* b);
// Grows the scratch buffer to at least n bytes (at least 32).
char* VmBufferReserve(ScriptState* L, size_t n);

// ---- table.cpp ----------------------------------------------------------
VmTable* VmNewTable(ScriptState* L, int narray, int lnhash);
void VmFreeTable(ScriptState* L, VmTable* t);
const ScriptValue* VmTableGet(VmTable* t, const ScriptValue* key);
const ScriptValue* VmTableGetInt(VmTable* t, int key);
const ScriptValue* VmTableGetStr(VmTable* t, VmString* key);
ScriptValue* VmTableSet(ScriptState* L, VmTable* t, const ScriptValue* key);
ScriptValue* VmTableSetInt(ScriptState* L, VmTable* t, int key);
int VmTableNext(ScriptState* L, VmTable* t, ScriptValue* key);
// Size convention used by references (field "n", then the sizes table).
int VmTableGetN(ScriptState* L, VmTable* t);
void VmTableSetN(ScriptState* L, VmTable* t, int n);
const ScriptValue* VmGetMetamethod(ScriptState* L, const ScriptValue* o, int event);
// Entry of the metatable for an event, or null; a miss sets the absence bit.
const ScriptValue* VmFastMetamethod(VmTable* mt, int event, VmString* name);
// Convenience: metatable of a table or userdata (null for other kinds or the
// default metatable's absence).
VmTable* VmMetatableOf(ScriptState* L, const ScriptValue* o);

// Inline lookups for the interpreter's fast paths: a string key walks its
// chain comparing the interned pointer; an integral number key within the
// array part is a direct slot. Both agree with VmTableGet.
inline const ScriptValue* VmTableGetStrFast(const VmTable* t, const VmString* key) {
    const VmNode* n = &t->node[key->hash & ((1u << t->lsizenode) - 1)];
    do {
        if (n->key.tt == kTypeString && n->key.value.gc == key) return &n->val;
        n = n->next;
    } while (n != nullptr);
    return &kNilObject;
}
inline ScriptValue* VmTableArraySlot(VmTable* t, const ScriptValue* key) {
    if (key->tt == kTypeNumber) {
        double d = key->value.n;
        if (d >= 1 && d <= t->sizearray) {
            int k = static_cast<int>(d);
            if (k == d) return &t->array[k - 1];
        }
    }
    return nullptr;
}

// ---- func.cpp: closures, prototypes, upvalues ---------------------------
VmScriptClosure* VmNewScriptClosure(ScriptState* L, int nups, const ScriptValue* globals);
VmNativeClosure* VmNewNativeClosure(ScriptState* L, int nups);
ScriptProto* VmNewProto(ScriptState* L);
void VmFreeProto(ScriptState* L, ScriptProto* p);
VmUpval* VmFindUpvalue(ScriptState* L, ScriptValue* level);
void VmCloseUpvalues(ScriptState* L, ScriptValue* level);
const char* VmGetLocalName(const ScriptProto* p, int localNumber, int pc);

// ---- do.cpp: calls, stack, errors --------------------------------------
// The one exception type of the VM: thrown by VmThrow, caught only by the
// protected runs.
struct VmError {
    int code;
};
using VmProtectedFn = VmNativeRunFn;
int VmProtectedRun(ScriptState* L, VmProtectedFn f, void* ud);
int VmProtectedCall(ScriptState* L, VmProtectedFn f, void* ud, ptrdiff_t oldtop, ptrdiff_t ef);
// Sets the error detail to the name of the value at `slot` plus `suffix`
// (or "??" plus suffix) and raises `code`.
void VmRaiseNamed(ScriptState* L, const ScriptValue* slot, int code, const char* suffix);
void VmGrowStack(ScriptState* L, int n);
inline void VmCheckStackRoom(ScriptState* L, int n) {
    if (reinterpret_cast<char*>(L->stack_last) - reinterpret_cast<char*>(L->top) <=
        static_cast<ptrdiff_t>(n * sizeof(ScriptValue)))
        VmGrowStack(L, n);
}
void VmReallocStack(ScriptState* L, int newsize);
void VmReallocFrames(ScriptState* L, int newsize);
CallFrame* VmGrowFrames(ScriptState* L);
// Sets up a call of the value at func. Returns the first result (native), null
// (script function: a frame was pushed), or the label-jump markers.
ScriptValue* VmPreCall(ScriptState* L, ScriptValue* func, int* errorCode);
inline ScriptValue* const kPreCallLabelResume = reinterpret_cast<ScriptValue*>(static_cast<intptr_t>(-1));
inline ScriptValue* const kPreCallLabelRepeat = reinterpret_cast<ScriptValue*>(static_cast<intptr_t>(-2));
void VmPostCall(ScriptState* L, ScriptValue* firstResult, int wanted);
// Calls the value at func with the values above it; returns the error code that
// a native callee left (0 when none).
int VmCallValue(ScriptState* L, ScriptValue* func, int nresults);
inline ptrdiff_t VmSaveStack(ScriptState* L, const ScriptValue* p) {
    return reinterpret_cast<const char*>(p) - reinterpret_cast<const char*>(L->stack);
}
inline ScriptValue* VmRestoreStack(ScriptState* L, ptrdiff_t n) {
    return reinterpret_cast<ScriptValue*>(reinterpret_cast<char*>(L->stack) + n);
}
inline ptrdiff_t VmSaveFrame(ScriptState* L, const CallFrame* ci) {
    return reinterpret_cast<const char*>(ci) - reinterpret_cast<const char*>(L->base_ci);
}
inline CallFrame* VmRestoreFrame(ScriptState* L, ptrdiff_t n) {
    return reinterpret_cast<CallFrame*>(reinterpret_cast<char*>(L->base_ci) + n);
}
// Pushes the value written at the top, growing the stack as the API does.
// The value counts before the stack grows: a collection there must see it.
inline void VmIncrTop(ScriptState* L) {
    L->top++;
    VmCheckStackRoom(L, 0);
}

// ---- chunk reader (do.cpp) -------------------------------------------------
struct VmReader {
    size_t n;           // bytes left in the current block
    const char* p;      // read position
    VmReaderFn reader;
    void* data;
    const char* name;
    ScriptState* L;
    // Total bytes the source holds when known (an applet body): counts that the
    // remaining bytes cannot hold are refused before allocating.
    bool sizeKnown;
    size_t remainingTotal;
};
void VmReaderInit(ScriptState* L, VmReader* z, VmReaderFn reader, void* data, const char* name);
// Copies n bytes; returns how many are still missing at the end of input.
size_t VmReaderRead(VmReader* z, void* b, size_t n);
int VmReaderPeek(VmReader* z);

// ---- undump.cpp / checkcode.cpp / dump.cpp ---------------------------------
struct VmCodeFault;
// fault: when given, receives the path, instruction and reason of the first
// function the checker refuses.
ScriptProto* VmUndump(ScriptState* L, VmReader* z, VmCodeFault* fault = nullptr);
// isTopLevel: the prototype is a chunk's outermost function, which the loader
// wraps in a closure without upvalues, so it must not declare any. fault:
// when given, receives the refused instruction and the reason.
bool VmCheckCode(const ScriptProto* pt, bool isTopLevel = false, VmCodeFault* fault = nullptr);
// Symbolic run up to lastpc for register reg: the pc of the last instruction
// before lastpc that set reg (-1 when none). reg 255 runs the full check.
int VmSymbolicLastSetter(const ScriptProto* pt, int lastpc, int reg);
void VmDump(ScriptState* L, const ScriptProto* p, VmWriterFn w, void* data);

// ---- rules.cpp: arithmetic, comparison, concatenation, indexing ----------
// Operands are copied on entry and results returned by value, because a
// metamethod call may move the stack under any pointer into it.
bool VmIsFalse(const ScriptValue* o);
ScriptValue VmArith(ScriptState* L, const ScriptValue* rb, const ScriptValue* rc, int event);
ScriptValue VmUnaryMinus(ScriptState* L, const ScriptValue* rb);
ScriptValue VmBitNot(ScriptState* L, const ScriptValue* rb);
int VmEqualObj(ScriptState* L, const ScriptValue* a, const ScriptValue* b);
int VmLessThan(ScriptState* L, const ScriptValue* a, const ScriptValue* b);
int VmLessEqual(ScriptState* L, const ScriptValue* a, const ScriptValue* b);
int VmStrCompare(const VmString* ls, const VmString* rs, bool noCase);
// Concatenates the `total` values ending at register `last` of the current
// frame (L->base + last); the result lands in the lowest of them.
void VmConcatRange(ScriptState* L, int total, int last);
// t[k] read; strict (GETTABLE) raises ERR_FIELDINIT for a missing table field.
ScriptValue VmGetTable(ScriptState* L, const ScriptValue* t, const ScriptValue* key, bool strict);
void VmSetTable(ScriptState* L, const ScriptValue* t, const ScriptValue* key, const ScriptValue* val);
uint32_t VmBitPattern(double x);
int32_t VmTruncInt32(double x);

// ---- interp.cpp ---------------------------------------------------------------
ScriptValue* VmExecute(ScriptState* L);
// Recomputes the trap word from the hook mask and the end flag.
void VmUpdateTrap(ScriptState* L);
// Drops the gosub entries of frames at `depth` and above (they ended).
inline void VmDropGosubs(ScriptState* L, int depth) {
    VmGlobal* g = L->g;
    while (g->gosubCount > 0 && g->gosubStack[g->gosubCount - 1].depth >= depth) g->gosubCount--;
}

// ---- debug.cpp ----------------------------------------------------------------
void VmCallHook(ScriptState* L, int event, int line);
// The call itself, for a hook that is set and allowed: the hook gets a record
// with the event, the line and the frame index (VmGetInfo fills in the rest
// when asked), 20 free stack slots, and no hooks while it runs; a code it
// writes is raised afterwards.
inline void VmRunHook(ScriptState* L, int event, int line) {
    ptrdiff_t top = VmSaveStack(L, L->top);
    ptrdiff_t ciTop = VmSaveStack(L, L->ci->top);
    VmDebugRecord ar;
    ar.event = event;
    ar.currentline = line;
    ar.i_ci = event == kHookTailRet ? 0 : static_cast<int>(L->ci - L->base_ci);
    VmCheckStackRoom(L, kMinStackForHandler);
    L->ci->top = L->top + kMinStackForHandler;
    L->allowhook = 0;
    int err = 0;
    L->hook(L, &ar, &err);
    L->allowhook = 1;
    L->ci->top = VmRestoreStack(L, ciTop);
    L->top = VmRestoreStack(L, top);
    if (err != 0) VmRaiseError(L, err);
}
// Whether the hook sees this line event: with a line-hook period only every
// period-th one is passed on.
inline bool VmLineEventDue(ScriptState* L) {
    if (--L->linecountdown > 0) return false;
    L->linecountdown = L->lineperiod;
    return true;
}
// The line-start flags of a prototype (one byte per instruction, set where the
// line differs from the instruction before; the first is always set), made on
// first use. Raises ERR_MEM when they cannot be made.
const uint8_t* VmLineStarts(ScriptState* L, ScriptProto* p);
int VmCurrentLine(ScriptState* L, CallFrame* ci);
int VmCurrentPC(ScriptState* L, CallFrame* ci);
const char* VmGetObjectName(ScriptState* L, CallFrame* ci, int stackpos, const char** name);
void VmChunkId(char* out, const char* source, int bufflen);
// Name of the value at a stack slot of the current frame (for error details).
const char* VmGetVarName(ScriptState* L, const ScriptValue* o, const char** kind);
// Writes the call tracer's line for the native frame just entered.
void VmTraceCall(ScriptState* L);

// ---- baselib.cpp --------------------------------------------------------------
void VmOpenBaseFunctions(ScriptState* L);

// ---- state.cpp ----------------------------------------------------------------
inline ScriptValue* VmRegistry(ScriptState* L) { return &L->g->registry; }
inline ScriptValue* VmGlobals(ScriptState* L) { return &L->gt; }

// ---- host.cpp: the embedder's routes ----------------------------------------
// Every function of the active record is set (defaults fill what the host
// left out), so callers call without testing.
extern VmHost VmActiveHost;
// Room for the detail texts the VM composes (names, keys) for the host.
constexpr size_t kVmErrorDetailSize = 1024;
