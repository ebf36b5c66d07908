// The native API over a ScriptState: stack indices, pushes, queries and table
// access that command handlers, the runtime and plugins use.
#include <climits>
#include <cmath>
#include <cstdlib>

#include "core/errcodes.h"
#include "vm/internal.h"
#include "vm/ordercall.h"
#include "vm/prefetch.h"
#include "vm/stringblock.h"

namespace {

// Misuse of the stack raises every time, also after earlier raises: error
// handlers and callbacks make a caught error routine, and a run that goes on
// after one must not lose its checks.
[[noreturn]] void ApiFail(ScriptState* L) { VmRaiseError(L, ERR_STACK); }

VmNativeClosure* RunningNative(ScriptState* L) {
    const ScriptValue* fn = L->base - 1;
    if (fn < L->stack || !IsFunction(fn)) return nullptr;
    VmClosureHeader* c = ClosureValue(fn);
    return c->isNative ? static_cast<VmNativeClosure*>(c) : nullptr;
}

ScriptValue* UpvalueSlot(ScriptState* L, int idx) {
    VmNativeClosure* c = RunningNative(L);
    int n = kGlobalsIndex - idx;
    if (!c || n > c->nupvalues) return nullptr;
    return &VmNativeUpvalues(c)[n - 1];
}

// The slot an index names, or null when no value is there. Indices are
// compared as integers first so that wild ones never form a wild pointer.
ScriptValue* Slot(ScriptState* L, int idx) {
    ptrdiff_t count = L->top - L->base;
    if (idx > 0) return idx <= count ? L->base + (idx - 1) : nullptr;
    if (idx > kRegistryIndex) return (idx != 0 && -static_cast<ptrdiff_t>(idx) <= count) ? L->top + idx : nullptr;
    if (idx == kRegistryIndex) return VmRegistry(L);
    if (idx == kGlobalsIndex) return VmGlobals(L);
    return UpvalueSlot(L, idx);
}

ScriptValue* CheckedSlot(ScriptState* L, int idx) {
    ScriptValue* o = Slot(L, idx);
    if (!o) ApiFail(L);
    return o;
}

// Remove and insert shift stack slots, so a pseudo-index makes no sense there.
ScriptValue* CheckedStackSlot(ScriptState* L, int idx) {
    ScriptValue* o = Slot(L, idx);
    if (!o || o < L->base || o >= L->top) ApiFail(L);
    return o;
}

VmTable* CheckedTable(ScriptState* L, int idx) {
    ScriptValue* o = CheckedSlot(L, idx);
    if (!IsTable(o)) ApiFail(L);
    return TableValue(o);
}

void CheckValues(ScriptState* L, int n) {
    if (n < 0 || L->top - L->base < n) ApiFail(L);
}

// Room for one more value below the frame's top (which lies inside the stack
// block: frames are made with their slots).
void PushRoom(ScriptState* L) {
    if (L->top >= L->ci->top) ApiFail(L);
}

void PushObject(ScriptState* L, const ScriptValue* v) {
    *L->top = *v;
    L->top++;
}

// Metatable that the API reports: the default metatable counts as none.
VmTable* VisibleMetatable(ScriptState* L, const ScriptValue* o) {
    VmTable* mt = nullptr;
    if (o->tt == kTypeTable) mt = TableValue(o)->metatable;
    else if (o->tt == kTypeUserdata) mt = UdataValue(o)->metatable;
    if (mt && IsTable(&L->g->defaultMeta) && mt == TableValue(&L->g->defaultMeta)) return nullptr;
    return mt;
}

// Upvalue n of the function at a slot, with its name.
ScriptValue* UpvalueOf(const ScriptValue* fn, int n, const char** name) {
    if (!IsFunction(fn) || n < 1) return nullptr;
    VmClosureHeader* c = ClosureValue(fn);
    if (n > c->nupvalues) return nullptr;
    if (c->isNative) {
        *name = "";
        return &VmNativeUpvalues(static_cast<VmNativeClosure*>(c))[n - 1];
    }
    auto* sc = static_cast<VmScriptClosure*>(c);
    VmUpval* uv = VmScriptUpvals(sc)[n - 1];
    if (!uv) return nullptr;
    const ScriptProto* p = sc->p;
    // Stripped debug information leaves the names out but not the upvalues.
    *name = (p && n <= p->sizeupvalues && p->upvalues && p->upvalues[n - 1]) ? VmStrData(p->upvalues[n - 1]) : "";
    return uv->v;
}

}  // namespace

// ---- stack -------------------------------------------------------------

int VmGetTop(ScriptState* L) { return static_cast<int>(L->top - L->base); }

void VmSetTop(ScriptState* L, int idx) {
    if (idx >= 0) {
        if (idx > L->ci->top - L->base) ApiFail(L);
        ScriptValue* newTop = L->base + idx;
        while (L->top < newTop) SetNil(L->top++);
        L->top = newTop;
        return;
    }
    // -1 keeps everything, -2 drops one value, and so on.
    ptrdiff_t drop = -(static_cast<ptrdiff_t>(idx) + 1);
    if (drop > L->top - L->base) ApiFail(L);
    L->top -= drop;
}

void VmPushValue(ScriptState* L, int idx) {
    PushRoom(L);
    PushObject(L, CheckedSlot(L, idx));
}

void VmRemove(ScriptState* L, int idx) {
    ScriptValue* p = CheckedStackSlot(L, idx);
    for (; p + 1 < L->top; p++) *p = p[1];
    L->top--;
}

void VmInsert(ScriptState* L, int idx) {
    ScriptValue* p = CheckedStackSlot(L, idx);
    ScriptValue v = L->top[-1];
    for (ScriptValue* q = L->top - 1; q > p; q--) *q = q[-1];
    *p = v;
}

void VmReplace(ScriptState* L, int idx) {
    CheckValues(L, 1);
    ScriptValue* p = CheckedSlot(L, idx);
    const ScriptValue* v = L->top - 1;
    // The registry and the globals must stay tables: every lookup relies on it.
    if ((p == VmRegistry(L) || p == VmGlobals(L)) && !IsTable(v)) ApiFail(L);
    *p = *v;
    L->top--;
}

int VmCheckStack(ScriptState* L, int n) {
    if (n <= 0) return 1;
    if (static_cast<long long>(L->top - L->base) + n > kMaxFrameSlots) return 0;
    VmCheckStackRoom(L, n);
    if (L->ci->top < L->top + n) L->ci->top = L->top + n;
    return 1;
}

// ---- queries -----------------------------------------------------------

int VmIsCFunction(ScriptState* L, int idx) {
    const ScriptValue* o = Slot(L, idx);
    return o && IsFunction(o) && ClosureValue(o)->isNative;
}

int VmIsNumber(ScriptState* L, int idx) {
    const ScriptValue* o = Slot(L, idx);
    ScriptValue n;
    return o && VmToNumberValue(o, &n);
}

int VmIsString(ScriptState* L, int idx) {
    const ScriptValue* o = Slot(L, idx);
    return o && (IsString(o) || IsNumber(o));
}

int VmIsUserdata(ScriptState* L, int idx) {
    const ScriptValue* o = Slot(L, idx);
    return o && (o->tt == kTypeUserdata || o->tt == kTypeLightUserdata);
}

int VmType(ScriptState* L, int idx) {
    const ScriptValue* o = Slot(L, idx);
    return o ? o->tt : kTypeNone;
}

const char* VmTypeName(ScriptState*, int tag) {
    static const char* const kNames[] = {"nil", "boolean", "userdata", "number", "string",
                                         "table", "function", "userdata", "thread"};
    if (tag < kTypeNil || tag > kTypeThread) return "no value";
    return kNames[tag];
}

int VmEqual(ScriptState* L, int idx1, int idx2) {
    const ScriptValue* o1 = Slot(L, idx1);
    const ScriptValue* o2 = Slot(L, idx2);
    // Unlike the script's own comparison, values of different kinds are simply
    // unequal here: native code asks without wanting a raise.
    if (!o1 || !o2 || o1->tt != o2->tt) return 0;
    ScriptValue a = *o1, b = *o2;  // an "__eq" call may move the stack
    return VmEqualObj(L, &a, &b) ? 1 : 0;
}

int VmRawEqual(ScriptState* L, int idx1, int idx2) {
    const ScriptValue* o1 = Slot(L, idx1);
    const ScriptValue* o2 = Slot(L, idx2);
    return o1 && o2 && VmRawEqualObj(o1, o2);
}

int VmCompareLess(ScriptState* L, int idx1, int idx2, int noCase) {
    const ScriptValue* o1 = Slot(L, idx1);
    const ScriptValue* o2 = Slot(L, idx2);
    if (!o1 || !o2) return 0;
    if (IsString(o1) && IsString(o2)) return VmStrCompare(StrValue(o1), StrValue(o2), noCase != 0) < 0;
    ScriptValue a = *o1, b = *o2;
    return VmLessThan(L, &a, &b) ? 1 : 0;
}

double VmToNumber(ScriptState* L, int idx) {
    const ScriptValue* o = Slot(L, idx);
    ScriptValue n;
    return (o && VmToNumberValue(o, &n)) ? n.value.n : 0.0;
}

int VmToBoolean(ScriptState* L, int idx) {
    const ScriptValue* o = Slot(L, idx);
    if (!o || IsNil(o)) return 0;
    return (o->tt == kTypeBoolean && o->value.b == 0) ? 0 : 1;
}

const char* VmToCString(ScriptState* L, int idx) {
    ScriptValue* o = Slot(L, idx);
    if (!o) return nullptr;
    if (!IsString(o) && !VmToStringValue(L, o)) return nullptr;
    return VmStrData(StrValue(o));
}

size_t VmStrLen(ScriptState* L, int idx) {
    ScriptValue* o = Slot(L, idx);
    if (!o) return 0;
    if (!IsString(o) && !VmToStringValue(L, o)) return 0;
    return StrValue(o)->len;
}

CommandHandler VmToCFunction(ScriptState* L, int idx) {
    const ScriptValue* o = Slot(L, idx);
    if (!o || !IsFunction(o) || !ClosureValue(o)->isNative) return nullptr;
    return static_cast<VmNativeClosure*>(ClosureValue(o))->f;
}

void* VmToUserdata(ScriptState* L, int idx) {
    const ScriptValue* o = Slot(L, idx);
    if (!o) return nullptr;
    if (o->tt == kTypeLightUserdata) return o->value.p;
    if (o->tt == kTypeUserdata) return VmUdataBlock(UdataValue(o));
    return nullptr;
}

ScriptState* VmToThread(ScriptState* L, int idx) {
    const ScriptValue* o = Slot(L, idx);
    return (o && o->tt == kTypeThread) ? ThreadValue(o) : nullptr;
}

const void* VmToPointer(ScriptState* L, int idx) {
    const ScriptValue* o = Slot(L, idx);
    if (!o) return nullptr;
    switch (o->tt) {
        case kTypeTable:
        case kTypeFunction:
        case kTypeThread:
            return o->value.gc;
        case kTypeUserdata:
        case kTypeLightUserdata:
            return VmToUserdata(L, idx);
        default:
            return nullptr;
    }
}

// ---- push --------------------------------------------------------------

void VmPushNil(ScriptState* L) {
    PushRoom(L);
    SetNil(L->top++);
}

void VmPushNumber(ScriptState* L, double n) {
    PushRoom(L);
    SetNumber(L->top++, n);
}

void VmPushLString(ScriptState* L, const char* s, size_t len) {
    PushRoom(L);
    if (!s && len > 0) ApiFail(L);
    VmString* str = VmNewString(L, s ? s : "", len);
    SetString(L->top++, str);
    VmCheckGC(L);
}

void VmPushStringBlock(ScriptState* L, void* block, size_t len) {
    struct Owner {
        void* p;
        ~Owner() { std::free(p); }
    } owner{block};
    PushRoom(L);
    if (!block) ApiFail(L);
    owner.p = nullptr;
    VmString* str = VmAdoptString(L, block, len);
    SetString(L->top++, str);
    VmCheckGC(L);
}

void VmPushString(ScriptState* L, const char* s) {
    if (!s) VmPushNil(L);
    else VmPushLString(L, s, std::strlen(s));
}

void VmPushStringFast(ScriptState* L, const char* s) { VmPushString(L, s); }

void VmPushLightUserdata(ScriptState* L, void* p) {
    PushRoom(L);
    SetLightUserdata(L->top++, p);
}

void VmPushBoolean(ScriptState* L, int b) {
    PushRoom(L);
    SetBoolean(L->top++, b);
}

void VmPushCClosure(ScriptState* L, CommandHandler fn, int n) {
    // A closure without a handler would crash whoever calls it.
    if (n < 0 || n > UINT8_MAX || !fn) ApiFail(L);
    CheckValues(L, n);
    if (n == 0) PushRoom(L);
    VmNativeClosure* c = VmNewNativeClosure(L, n);
    c->f = fn;
    L->top -= n;
    for (int i = 0; i < n; i++) VmNativeUpvalues(c)[i] = L->top[i];
    SetClosure(L->top++, c);
    VmCheckGC(L);
}

// ---- get ---------------------------------------------------------------

void VmGetTableAt(ScriptState* L, int idx) {
    CheckValues(L, 1);
    const ScriptValue* t = CheckedSlot(L, idx);
    // Copies: an "__index" function may move the stack under the pointers.
    ScriptValue tv = *t, key = L->top[-1];
    ScriptValue res = VmGetTable(L, &tv, &key, false);
    L->top[-1] = res;
}

void VmRawGet(ScriptState* L, int idx) {
    CheckValues(L, 1);
    VmTable* h = CheckedTable(L, idx);
    L->top[-1] = *VmTableGet(h, L->top - 1);
}

void VmRawGetIndex(ScriptState* L, int idx, int n) {
    PushRoom(L);
    PushObject(L, VmTableGetInt(CheckedTable(L, idx), n));
}

bool VmCallOrder(ScriptState* L, int fn, int t, int a, int b, int pin) {
    if (L->ci->top - L->top < 3) ApiFail(L);
    VmTable* h = CheckedTable(L, t);
    ScriptValue* func = L->top;
    func[0] = *CheckedSlot(L, fn);
    func[1] = a == kVmOrderPinned ? *CheckedSlot(L, pin) : *VmTableGetInt(h, a);
    func[2] = b == kVmOrderPinned ? *CheckedSlot(L, pin) : *VmTableGetInt(h, b);
    L->top = func + 3;
    const ptrdiff_t at = VmSaveStack(L, func);
    // A command given as the order function fails as the script's call would.
    if (const int err = VmCallValue(L, func, 1)) VmActiveHost.commandError(L, err);
    // The call may have moved the stack; its one result is where func was.
    func = VmRestoreStack(L, at);
    ScriptValue n;
    const bool before = IsNumber(func) ? func->value.n != 0 : VmToNumberValue(func, &n) && n.value.n != 0;
    L->top = func;
    return before;
}

void VmPrefetchIndex(ScriptState* L, int idx, int n) {
    const ScriptValue* v = VmTableGetInt(CheckedTable(L, idx), n);
    if (!IsCollectable(v)) return;
    // A string's length and bytes lie past its list link; the item's bytes
    // may start the next cache line.
    const char* o = reinterpret_cast<const char*>(v->value.gc);
    __builtin_prefetch(o + 16);
    __builtin_prefetch(o + 48);
}

void VmPushNewTable(ScriptState* L) {
    PushRoom(L);
    SetTable(L->top, VmNewTable(L, 0, 0));
    L->top++;
    VmCheckGC(L);
}

void VmPushNewTableSized(ScriptState* L, int narray, int lnhash) {
    PushRoom(L);
    if (narray < 0 || lnhash < 0) ApiFail(L);
    if (narray > (1 << kMaxArrayBits) || lnhash > kMaxNodeBits) VmRaiseError(L, ERR_TABLEOVERFLOW);
    SetTable(L->top, VmNewTable(L, narray, lnhash));
    L->top++;
    VmCheckGC(L);
}

void VmGetGlobalsTable(ScriptState* L, int idx) {
    PushRoom(L);
    const ScriptValue* o = CheckedSlot(L, idx);
    if (IsFunction(o) && !ClosureValue(o)->isNative)
        PushObject(L, &static_cast<VmScriptClosure*>(ClosureValue(o))->globals);
    else
        PushObject(L, VmGlobals(L));
}

int VmGetMetatable(ScriptState* L, int idx) {
    const ScriptValue* o = Slot(L, idx);
    if (!o) return 0;
    VmTable* mt = VisibleMetatable(L, o);
    if (!mt) return 0;
    PushRoom(L);
    SetTable(L->top++, mt);
    return 1;
}

// ---- set ---------------------------------------------------------------

void VmSetTableAt(ScriptState* L, int idx) {
    CheckValues(L, 2);
    const ScriptValue* t = CheckedSlot(L, idx);
    ScriptValue tv = *t, key = L->top[-2], val = L->top[-1];
    VmSetTable(L, &tv, &key, &val);
    L->top -= 2;
}

void VmRawSet(ScriptState* L, int idx) {
    CheckValues(L, 2);
    VmTable* h = CheckedTable(L, idx);
    ScriptValue* slot = VmTableSet(L, h, L->top - 2);
    if (slot) *slot = L->top[-1];
    L->top -= 2;
}

void VmRawSetIndex(ScriptState* L, int idx, int n) {
    CheckValues(L, 1);
    VmTable* h = CheckedTable(L, idx);
    ScriptValue* slot = VmTableSetInt(L, h, n);
    if (slot) *slot = L->top[-1];
    L->top--;
}

int VmSetGlobalsTable(ScriptState* L, int idx) {
    CheckValues(L, 1);
    ScriptValue* o = CheckedSlot(L, idx);
    const ScriptValue* v = L->top - 1;
    int res = 0;
    if (!IsTable(v)) ApiFail(L);
    if (IsFunction(o) && !ClosureValue(o)->isNative) {
        static_cast<VmScriptClosure*>(ClosureValue(o))->globals = *v;
        res = 1;
    }
    L->top--;
    return res;
}

int VmSetMetatable(ScriptState* L, int idx) {
    CheckValues(L, 1);
    ScriptValue* o = CheckedSlot(L, idx);
    const ScriptValue* v = L->top - 1;
    VmTable* mt = nullptr;
    if (IsNil(v)) {
        if (IsTable(&L->g->defaultMeta)) mt = TableValue(&L->g->defaultMeta);
    } else if (IsTable(v)) {
        mt = TableValue(v);
    } else {
        ApiFail(L);
    }
    int res = 0;
    if (mt) {
        if (o->tt == kTypeTable) {
            TableValue(o)->metatable = mt;
            res = 1;
        } else if (o->tt == kTypeUserdata) {
            UdataValue(o)->metatable = mt;
            res = 1;
        }
    }
    L->top--;
    return res;
}

void* VmNewUserdata(ScriptState* L, size_t size) {
    PushRoom(L);
    if (size > UINT32_MAX - sizeof(VmUserdata)) VmRaiseError(L, ERR_MEM);
    auto* u = static_cast<VmUserdata*>(VmRealloc(L, nullptr, 0, sizeof(VmUserdata) + size));
    VmLinkObject(L, u, kTypeUserdata);
    u->metatable = IsTable(&L->g->defaultMeta) ? TableValue(&L->g->defaultMeta) : nullptr;
    u->len = static_cast<uint32_t>(size);
    SetGCValue(L->top++, u, kTypeUserdata);
    VmCheckGC(L);
    return VmUdataBlock(u);
}

// ---- misc --------------------------------------------------------------

int VmNext(ScriptState* L, int idx) {
    CheckValues(L, 1);
    VmTable* h = CheckedTable(L, idx);
    PushRoom(L);
    if (VmTableNext(L, h, L->top - 1)) {
        L->top++;
        return 1;
    }
    L->top--;
    return 0;
}

void VmConcat(ScriptState* L, int n) {
    if (n == 0) {
        VmPushLString(L, "", 0);
        return;
    }
    CheckValues(L, n);
    if (n == 1) return;
    VmConcatRange(L, n, static_cast<int>(L->top - L->base) - 1);
    L->top -= n - 1;
    VmCheckGC(L);
}

int VmGetUpvalues(ScriptState* L) {
    VmNativeClosure* c = RunningNative(L);
    if (!c) return 0;
    int n = c->nupvalues;
    for (int i = 0; i < n; i++) {
        PushRoom(L);
        PushObject(L, &VmNativeUpvalues(c)[i]);
    }
    return n;
}

const char* VmGetUpvalue(ScriptState* L, int funcindex, int n) {
    const ScriptValue* fn = CheckedSlot(L, funcindex);
    const char* name = nullptr;
    const ScriptValue* v = UpvalueOf(fn, n, &name);
    if (!v) return nullptr;
    ScriptValue copy = *v;  // the push may move the stack an open upvalue points into
    PushRoom(L);
    PushObject(L, &copy);
    return name;
}

const char* VmSetUpvalue(ScriptState* L, int funcindex, int n) {
    CheckValues(L, 1);
    const ScriptValue* fn = CheckedSlot(L, funcindex);
    const char* name = nullptr;
    ScriptValue* v = UpvalueOf(fn, n, &name);
    if (!v) return nullptr;
    L->top--;
    *v = *L->top;
    return name;
}

int VmGetN(ScriptState* L, int idx) {
    return VmTableGetN(L, CheckedTable(L, idx));
}

void VmSetN(ScriptState* L, int idx, int n) {
    VmTableSetN(L, CheckedTable(L, idx), n);
}
