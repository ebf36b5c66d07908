// The command layer over the native API: command and constant tables, lookups,
// registry helpers, argument checkers, references, named metatables, buffers.
#include <cmath>
#include <cstring>

#include "core/errcodes.h"
#include "vm/casefold.h"
#include "vm/internal.h"
#include "vm/skipswitch.h"

namespace {

constexpr size_t kNameBufferSize = 128;

// Names are matched case-insensitively by storing them folded. A name that
// does not fit the buffer is refused (false) rather than cut, so that two long
// names with a common prefix never collide.
bool FoldName(const char* name, char (&out)[kNameBufferSize]) {
    if (!name) return false;
    size_t len = std::strlen(name);
    if (len >= kNameBufferSize) return false;
    std::memcpy(out, name, len + 1);
    StrToLower(out);
    return true;
}

// Registry table by name, or null; read raw: no code may hook the registry.
VmTable* RegistryTable(ScriptState* L, const char* name) {
    const ScriptValue* reg = VmRegistry(L);
    if (!IsTable(reg)) return nullptr;
    const ScriptValue* v = VmTableGetStr(TableValue(reg), VmNewCString(L, name));
    return IsTable(v) ? TableValue(v) : nullptr;
}

const ScriptValue* FieldOf(ScriptState* L, VmTable* t, const char* folded) {
    return t ? VmTableGetStr(t, VmNewCString(L, folded)) : &kNilObject;
}

bool HasArgument(ScriptState* L, int idx) { return VmType(L, idx) != kTypeNone; }

// The 32-bit reading of a number: negative values truncate to a signed
// integer, the rest clamp to the unsigned range.
uint32_t ToUInt32(double d) {
    if (std::isnan(d)) return 0;
    if (d < 0) {
        if (d <= -2147483648.0) return 0x80000000u;
        return static_cast<uint32_t>(static_cast<int32_t>(d));
    }
    if (d >= 4294967295.0) return 4294967295u;
    return static_cast<uint32_t>(d);
}

// The slot of an argument index (1 to top), or null: the checkers' common
// case, read without the general index lookup.
const ScriptValue* ArgumentSlot(ScriptState* L, int idx) {
    return idx > 0 && idx <= L->top - L->base ? L->base + (idx - 1) : nullptr;
}

bool ReadNumber(ScriptState* L, int idx, double* out) {
    if (const ScriptValue* o = ArgumentSlot(L, idx); o && IsNumber(o)) {
        *out = o->value.n;
        return true;
    }
    if (!HasArgument(L, idx) || !VmIsNumber(L, idx)) return false;
    *out = VmToNumber(L, idx);
    return true;
}

// Strings, numbers and nil read as text; the latter two are converted in place.
const char* ReadString(ScriptState* L, int idx, size_t* len) {
    if (const ScriptValue* o = ArgumentSlot(L, idx); o && IsString(o)) {
        if (len) *len = StrValue(o)->len;
        return VmStrData(StrValue(o));
    }
    int t = VmType(L, idx);
    if (t != kTypeString && t != kTypeNumber && t != kTypeNil) return nullptr;
    const char* s = VmToCString(L, idx);
    if (s && len) *len = VmStrLen(L, idx);
    return s;
}

[[noreturn]] void RaiseArg(ScriptState* L, int idx, int code) {
    VmActiveHost.setErrorArgIndex(idx);
    VmRaiseError(L, code);
}

[[noreturn]] void RaiseField(ScriptState* L, const char* field, int code) {
    VmActiveHost.setErrorDetail(field ? field : "");
    VmRaiseError(L, code);
}

int AbsIndex(ScriptState* L, int idx) {
    return (idx < 0 && idx > kRegistryIndex) ? VmGetTop(L) + idx + 1 : idx;
}

}  // namespace

// ---- registration and lookup ----------------------------------------------

int VmRegisterCommands(ScriptState* L, const char* libname, const ScriptCommand* cmds, int nup) {
    if (!cmds) return 0;
    bool any = false;
    for (const ScriptCommand* c = cmds; c->name; c++) any = any || c->handler;
    if (!any) return 0;
    if (nup < 0 || nup > UINT8_MAX || VmGetTop(L) < nup + (libname ? 0 : 1) || !VmCheckStack(L, nup + 4))
        VmRaiseError(L, ERR_STACK);
    if (libname) {
        VmPushString(L, libname);
        VmGetTableAt(L, kGlobalsIndex);
        if (VmType(L, -1) == kTypeNil) {
            VmSetTop(L, -2);
            VmPushNewTable(L);
            VmPushString(L, libname);
            VmPushValue(L, -2);
            VmSetTableAt(L, kGlobalsIndex);
        }
        VmInsert(L, -(nup + 1));
    }
    char folded[kNameBufferSize];
    for (const ScriptCommand* c = cmds; c->name; c++) {
        if (!c->handler || !FoldName(c->name, folded)) continue;
        NoteSkippableCommand(folded, c->handler);
        VmPushString(L, folded);
        for (int i = 0; i < nup; i++) VmPushValue(L, -(nup + 1));
        VmPushCClosure(L, c->handler, nup);
        VmSetTableAt(L, -(nup + 3));
    }
    VmSetTop(L, -nup - 1);
    return 1;
}

void VmRegisterConstants(ScriptState* L, const ScriptConstant* consts, int user) {
    const char* tableName = user ? "userconstants" : "constants";
    VmPushString(L, tableName);
    VmRawGet(L, kRegistryIndex);
    if (VmType(L, -1) != kTypeTable) {
        VmSetTop(L, -2);
        VmPushNewTable(L);
        VmPushString(L, tableName);
        VmPushValue(L, -2);
        VmRawSet(L, kRegistryIndex);
    }
    char folded[kNameBufferSize];
    for (const ScriptConstant* c = consts; c && c->name; c++) {
        if (!FoldName(c->name, folded)) continue;
        VmPushString(L, folded);
        if (c->str) VmPushString(L, c->str);
        else VmPushNumber(L, c->num);
        VmRawSet(L, -3);
    }
    VmSetTop(L, -2);
}

int VmLookupConstant(ScriptState* L, const char* name, const char** outText, double* outNumber) {
    char folded[kNameBufferSize];
    if (!FoldName(name, folded)) return 0;
    const ScriptValue* v = FieldOf(L, RegistryTable(L, "constants"), folded);
    if (IsNil(v)) v = FieldOf(L, RegistryTable(L, "userconstants"), folded);
    if (IsNil(v)) return 0;
    if (IsNumber(v)) {
        if (outText) *outText = nullptr;
        if (outNumber) *outNumber = v->value.n;
    } else if (IsString(v)) {
        if (outText) *outText = VmStrData(StrValue(v));
    }
    return 1;
}

int VmLookupLabel(ScriptState* L, const char* name) {
    char folded[kNameBufferSize];
    if (!FoldName(name, folded)) return -1;
    const ScriptValue* v = FieldOf(L, RegistryTable(L, "labels"), folded);
    if (!IsNumber(v)) return -1;
    double d = v->value.n;
    if (!(d > -2147483649.0 && d < 2147483648.0)) return -1;
    return static_cast<int>(d);
}

void VmAimLabelJump(ScriptState* L, int labelIndex) {
    L->g->labelJumpOffset = labelIndex - L->g->currentInstrIndex;
}

// ---- registry helpers ------------------------------------------------------

void VmRegistrySetString(ScriptState* L, const char* name, const char* value) {
    VmPushString(L, name);
    VmPushString(L, value);
    VmSetTableAt(L, kRegistryIndex);
}

void VmRegistrySetNumber(ScriptState* L, const char* name, double value) {
    VmPushString(L, name);
    VmPushNumber(L, value);
    VmSetTableAt(L, kRegistryIndex);
}

void VmRegistrySetLightUserdata(ScriptState* L, const char* name, void* value) {
    VmPushString(L, name);
    VmPushLightUserdata(L, value);
    VmSetTableAt(L, kRegistryIndex);
}

double VmRegistryGetNumber(ScriptState* L, const char* name) {
    VmPushString(L, name);
    VmGetTableAt(L, kRegistryIndex);
    double d = VmToNumber(L, -1);
    VmSetTop(L, -2);
    return d;
}

const char* VmRegistryGetString(ScriptState* L, const char* name) {
    VmPushString(L, name);
    VmGetTableAt(L, kRegistryIndex);
    const char* s = VmIsString(L, -1) ? VmToCString(L, -1) : nullptr;
    VmSetTop(L, -2);
    return s;
}

void* VmRegistryGetUserdata(ScriptState* L, const char* name) {
    VmPushString(L, name);
    VmGetTableAt(L, kRegistryIndex);
    void* p = VmToUserdata(L, -1);
    VmSetTop(L, -2);
    return p;
}

// ---- argument checkers -------------------------------------------------------

double VmCheckNumber(ScriptState* L, int idx) {
    double d = 0;
    if (!ReadNumber(L, idx, &d)) RaiseArg(L, idx, ERR_NUMEXPECTED);
    return d;
}

double VmOptNumber(ScriptState* L, int idx, double def) {
    return HasArgument(L, idx) ? VmCheckNumber(L, idx) : def;
}

uint32_t VmCheckInt(ScriptState* L, int idx) { return ToUInt32(VmCheckNumber(L, idx)); }

uint32_t VmOptInt(ScriptState* L, int idx, uint32_t def) {
    return HasArgument(L, idx) ? VmCheckInt(L, idx) : def;
}

const char* VmCheckString(ScriptState* L, int idx, size_t* len) {
    const char* s = ReadString(L, idx, len);
    if (!s) RaiseArg(L, idx, ERR_STREXPECTED);
    return s;
}

const char* VmOptString(ScriptState* L, int idx, const char* def, size_t* len) {
    if (HasArgument(L, idx)) return VmCheckString(L, idx, len);
    if (len) *len = def ? std::strlen(def) : 0;
    return def;
}

void* VmCheckUserdata(ScriptState* L, int idx) {
    if (!VmIsUserdata(L, idx)) RaiseArg(L, idx, ERR_UDEXPECTED);
    return VmToUserdata(L, idx);
}

void VmCheckFunction(ScriptState* L, int idx) {
    if (VmType(L, idx) != kTypeFunction) RaiseArg(L, idx, ERR_FUNCEXPECTED);
}

void VmCheckTable(ScriptState* L, int idx) {
    if (VmType(L, idx) != kTypeTable) RaiseArg(L, idx, ERR_TABEXPECTED);
}

int VmCheckType(ScriptState* L, int idx, int tag) {
    if (VmType(L, idx) == tag) return tag;
    int code = ERR_UDEXPECTED;
    switch (tag) {
        case kTypeString: code = ERR_STREXPECTED; break;
        case kTypeTable: code = ERR_TABEXPECTED; break;
        case kTypeFunction: code = ERR_FUNCEXPECTED; break;
        case kTypeNumber: code = ERR_NUMEXPECTED; break;
        default: break;
    }
    RaiseArg(L, idx, code);
}

double VmGetFieldNumber(ScriptState* L, int idx, const char* field) {
    double d = 0;
    if (!ReadNumber(L, idx, &d)) RaiseField(L, field, ERR_NUMTABLEARG);
    return d;
}

uint32_t VmGetFieldInt(ScriptState* L, int idx, const char* field) {
    return ToUInt32(VmGetFieldNumber(L, idx, field));
}

const char* VmGetFieldString(ScriptState* L, int idx, size_t* len, const char* field) {
    const char* s = ReadString(L, idx, len);
    if (!s) RaiseField(L, field, ERR_STRTABLEARG);
    return s;
}

double VmTryGetNumber(ScriptState* L, int idx, int* err) {
    double d = 0;
    bool ok = ReadNumber(L, idx, &d);
    if (err) *err = ok ? 0 : ERR_NUMCALLBACK;
    return d;
}

const char* VmTryGetString(ScriptState* L, int idx, size_t* len, int* err) {
    const char* s = ReadString(L, idx, len);
    if (err) *err = s ? 0 : ERR_STRCALLBACK;
    if (!s && len) *len = 0;
    return s;
}

// ---- references ------------------------------------------------------------

int VmMakeRef(ScriptState* L, int t) {
    if (VmGetTop(L) < 1) VmRaiseError(L, ERR_STACK);
    t = AbsIndex(L, t);
    if (VmType(L, -1) == kTypeNil) {
        VmSetTop(L, -2);
        return -1;
    }
    if (VmType(L, t) != kTypeTable) VmRaiseError(L, ERR_STACK);
    VmRawGetIndex(L, t, kRefFreeListIndex);
    int ref = 0;
    // Only a plausible head is followed; anything else starts a fresh number.
    if (VmType(L, -1) == kTypeNumber) {
        double head = VmToNumber(L, -1);
        if (head >= kFirstRef && head <= INT32_MAX) ref = static_cast<int>(head);
    }
    VmSetTop(L, -2);
    if (ref != 0) {
        VmRawGetIndex(L, t, ref);
        VmRawSetIndex(L, t, kRefFreeListIndex);
    } else {
        int n = VmGetN(L, t);
        if (n >= INT32_MAX) VmRaiseError(L, ERR_TABLEOVERFLOW);
        ref = n + 1 < kFirstRef ? kFirstRef : n + 1;
        VmSetN(L, t, ref);
    }
    VmRawSetIndex(L, t, ref);
    return ref;
}

void VmReleaseRef(ScriptState* L, int t, int ref) {
    // Numbers below the first reference are never handed out; releasing one
    // would make the free list point at itself or at the sizes slot.
    if (ref < kFirstRef) return;
    t = AbsIndex(L, t);
    if (VmType(L, t) != kTypeTable) VmRaiseError(L, ERR_STACK);
    VmRawGetIndex(L, t, kRefFreeListIndex);
    VmRawSetIndex(L, t, ref);
    VmPushNumber(L, ref);
    VmRawSetIndex(L, t, kRefFreeListIndex);
}

// ---- named metatables and metafields --------------------------------------------

int VmNewNamedMetatable(ScriptState* L, const char* name) {
    VmPushString(L, name);
    VmRawGet(L, kRegistryIndex);
    if (VmType(L, -1) != kTypeNil) return 0;
    VmSetTop(L, -2);
    VmPushNewTable(L);
    VmPushString(L, name);
    VmPushValue(L, -2);
    VmRawSet(L, kRegistryIndex);
    VmPushValue(L, -1);
    VmPushString(L, name);
    VmRawSet(L, kRegistryIndex);
    return 1;
}

void VmGetNamedMetatable(ScriptState* L, const char* name) {
    VmPushString(L, name);
    VmRawGet(L, kRegistryIndex);
}

void* VmCheckNamedUserdata(ScriptState* L, int idx, const char* name) {
    if (!name || VmType(L, idx) != kTypeUserdata) return nullptr;
    const ScriptValue* reg = VmRegistry(L);
    if (!IsTable(reg)) return nullptr;
    const ScriptValue* mt = VmTableGetStr(TableValue(reg), VmNewCString(L, name));
    if (!IsTable(mt)) return nullptr;
    // The userdata's metatable is compared by identity, without touching the stack.
    void* block = VmToUserdata(L, idx);
    auto* u = reinterpret_cast<VmUserdata*>(block) - 1;
    return u->metatable == TableValue(mt) ? block : nullptr;
}

int VmGetMetafield(ScriptState* L, int idx, const char* field) {
    if (!field || !VmGetMetatable(L, idx)) return 0;
    VmPushString(L, field);
    VmRawGet(L, -2);
    if (VmType(L, -1) == kTypeNil) {
        VmSetTop(L, -3);
        return 0;
    }
    VmRemove(L, -2);
    return 1;
}

int VmCallMetafield(ScriptState* L, int idx, const char* field) {
    idx = AbsIndex(L, idx);
    if (!VmGetMetafield(L, idx, field)) return 0;
    VmPushValue(L, idx);
    int code = VmCallValue(L, L->top - 2, 1);
    // A native metamethod reports failure by its result, like any command.
    if (code != 0) VmActiveHost.commandError(L, code);
    return 1;
}

int VmFindString(const char* text, const char* const list[]) {
    if (!text || !list) return -1;
    for (int i = 0; list[i]; i++)
        if (std::strcmp(list[i], text) == 0) return i;
    return -1;
}

// ---- string buffer -------------------------------------------------------------
// Pieces pile up on the stack; merging keeps their number logarithmic in the
// result's length while short pieces still join cheaply.

namespace {

constexpr int kMergeLimit = 10;

size_t BufferLength(const ScriptBuffer* B) { return static_cast<size_t>(B->p - B->buffer); }
size_t BufferFree(const ScriptBuffer* B) { return kBufferSize - BufferLength(B); }

bool FlushBuffer(ScriptBuffer* B) {
    size_t l = BufferLength(B);
    if (l == 0) return false;
    VmPushLString(B->L, B->buffer, l);
    B->p = B->buffer;
    B->lvl++;
    return true;
}

void MergePieces(ScriptBuffer* B) {
    if (B->lvl <= 1) return;
    ScriptState* L = B->L;
    int toget = 1;
    size_t toplen = VmStrLen(L, -1);
    do {
        size_t l = VmStrLen(L, -(toget + 1));
        if (B->lvl - toget + 1 < kMergeLimit && toplen <= l) break;
        toplen += l;
        toget++;
    } while (toget < B->lvl);
    VmConcat(L, toget);
    B->lvl = B->lvl - toget + 1;
}

}  // namespace

void VmBufferInit(ScriptState* L, ScriptBuffer* B) {
    B->p = B->buffer;
    B->lvl = 0;
    B->L = L;
}

char* VmBufferPrepare(ScriptBuffer* B) {
    if (FlushBuffer(B)) MergePieces(B);
    return B->buffer;
}

void VmBufferAddLString(ScriptBuffer* B, const char* s, size_t l) {
    if (!s) return;
    while (l > 0) {
        if (BufferFree(B) == 0) VmBufferPrepare(B);
        size_t n = l < BufferFree(B) ? l : BufferFree(B);
        std::memcpy(B->p, s, n);
        B->p += n;
        s += n;
        l -= n;
    }
}

void VmBufferAddString(ScriptBuffer* B, const char* s) {
    if (s) VmBufferAddLString(B, s, std::strlen(s));
}

void VmBufferAddValue(ScriptBuffer* B) {
    ScriptState* L = B->L;
    // Anything that reads as no text adds nothing, like an empty string.
    const char* s = VmToCString(L, -1);
    size_t vl = s ? VmStrLen(L, -1) : 0;
    if (!s || vl <= BufferFree(B)) {
        if (vl) std::memcpy(B->p, s, vl);
        B->p += vl;
        VmSetTop(L, -2);
        return;
    }
    if (FlushBuffer(B)) VmInsert(L, -2);
    B->lvl++;
    MergePieces(B);
}

void VmBufferPushResult(ScriptBuffer* B) {
    FlushBuffer(B);
    VmConcat(B->L, B->lvl);
    B->lvl = 1;
}
