// The system library's value and table commands: types, raw access,
// iteration, lists from index 0 and copies.
#include <cctype>
#include <cstdint>
#include <string>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/numbers.h"
#include "libs/system.h"
#include "libs/systemcommands.h"
#include "objects/layers.h"
#include "vm/callgiven.h"

namespace {

int Absolute(ScriptState* L, int idx) { return idx < 0 && idx > kRegistryIndex ? VmGetTop(L) + idx + 1 : idx; }

bool IsEmptyString(ScriptState* L, int idx) { return VmType(L, idx) == kTypeString && VmStrLen(L, idx) == 0; }

int32_t ToInt32(double v) { return ClampToInt32(v); }

// Moves the value at from to to inside the list at t (both indexes).
void MoveItem(ScriptState* L, int t, int from, int to) {
    VmRawGetIndex(L, t, from);
    VmRawSetIndex(L, t, to);
}

int IPairsStep(ScriptState* L) {
    VmCheckTable(L, 1);
    const int32_t at = ToInt32(VmCheckNumber(L, 2));
    if (at == INT32_MAX) return 0;
    const int next = at + 1;
    VmRawGetIndex(L, 1, next);
    if (VmType(L, -1) == kTypeNil) return 0;
    VmPushNumber(L, next);
    VmInsert(L, -2);
    return 2;
}

}  // namespace

int CountListItems(ScriptState* L, int idx, bool stopAtEmptyString) {
    idx = Absolute(L, idx);
    int n = 0;
    for (;; ++n) {
        VmRawGetIndex(L, idx, n);
        const bool end = VmType(L, -1) == kTypeNil || (stopAtEmptyString && IsEmptyString(L, -1));
        VmSetTop(L, -2);
        if (end) return n;
    }
}

int cmdGetType(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    int t = -1;
    switch (VmType(L, 1)) {
    case kTypeNil: t = 0; break;
    case kTypeNumber: t = 2; break;
    case kTypeString: t = 3; break;
    case kTypeTable: t = 4; break;
    case kTypeFunction: t = 5; break;
    case kTypeUserdata: t = 8; break;
    case kTypeLightUserdata: t = 9; break;
    case kTypeThread: t = 10; break;
    default: break;
    }
    VmPushNumber(L, t);
    return 1;
}

int cmdIsNil(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    VmPushNumber(L, VmType(L, 1) == kTypeNil ? 1 : 0);
    return 1;
}

int cmdIIf(ScriptState* L) {
    CheckArgCount(L, 3, 3, 0, 0);
    bool yes = false;
    if (VmType(L, 1) == kTypeNumber) yes = VmToNumber(L, 1) != 0;
    else if (VmType(L, 1) == kTypeString) yes = VmStrLen(L, 1) != 0;
    VmPushValue(L, yes ? 2 : 3);
    return 1;
}

int cmdHaveItem(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    VmCheckTable(L, 1);
    if (VmType(L, 2) == kTypeString) {
        std::string key(VmToCString(L, 2), VmStrLen(L, 2));
        for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        VmPushLString(L, key.data(), key.size());
    } else {
        VmPushValue(L, 2);
    }
    VmRawGet(L, 1);
    VmPushNumber(L, VmType(L, -1) == kTypeNil ? 0 : 1);
    return 1;
}

int cmdRawGet(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    VmCheckTable(L, 1);
    VmPushValue(L, 2);
    VmRawGet(L, 1);
    return 1;
}

int cmdRawSet(ScriptState* L) {
    CheckArgCount(L, 3, 3, 0, 0);
    VmCheckTable(L, 1);
    if (VmType(L, 2) == kTypeNil) return ERR_TABLEINDEX;
    VmPushValue(L, 2);
    VmPushValue(L, 3);
    VmRawSet(L, 1);
    VmPushValue(L, 1);
    return 1;
}

int cmdRawEqual(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    VmPushNumber(L, VmRawEqual(L, 1, 2) ? 1 : 0);
    return 1;
}

int cmdGetMetaTable(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    if (!VmGetMetatable(L, 1)) {
        VmPushNil(L);
        return 1;
    }
    VmPushString(L, "__metatable");
    VmRawGet(L, -2);
    if (VmType(L, -1) == kTypeNil) VmSetTop(L, -2);
    return 1;
}

int cmdSetMetaTable(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    VmCheckTable(L, 1);
    if (VmType(L, 2) != kTypeNil && VmType(L, 2) != kTypeTable) return ERR_TABLEORNIL;
    if (VmGetMetafield(L, 1, "__metatable")) return ERR_PROTMETATABLE;
    VmSetTop(L, 2);
    VmSetMetatable(L, 1);
    VmPushValue(L, 1);
    return 1;
}

int cmdCollectGarbage(ScriptState* L) {
    CheckArgCount(L, 0, 1, 0, 0);
    VmSetGcThreshold(L, ToInt32(VmOptNumber(L, 1, 0)));
    ReleaseLayerSources(L, kReleaseAllLayerSources);
    return 0;
}

int cmdGCInfo(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    VmPushNumber(L, VmGetGcThreshold(L));
    VmPushNumber(L, VmGetGcCount(L));
    return 2;
}

int cmdNextItem(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    VmCheckTable(L, 1);
    VmSetTop(L, 2);
    if (VmNext(L, 1)) return 2;
    VmPushNil(L);
    return 1;
}

int cmdPairs(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    VmCheckTable(L, 1);
    VmPushCClosure(L, cmdNextItem, 0);
    VmPushValue(L, 1);
    VmPushNil(L);
    return 3;
}

int cmdIPairs(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    VmCheckTable(L, 1);
    VmPushCClosure(L, IPairsStep, 0);
    VmPushValue(L, 1);
    VmPushNumber(L, -1);
    return 3;
}

int cmdForEach(ScriptState* L) {
    CheckArgCount(L, 2, 3, 0, 0);
    VmCheckTable(L, 1);
    VmCheckFunction(L, 2);
    const bool user = VmGetTop(L) >= 3;
    VmSetTop(L, 3);
    VmPushNil(L);
    while (VmNext(L, 1)) {
        VmPushValue(L, 2);
        VmPushValue(L, -3);
        VmPushValue(L, -3);
        if (user) VmPushValue(L, 3);
        VmCallGiven(L, user ? 3 : 2, 1);
        if (VmType(L, -1) != kTypeNil) return 1;
        VmSetTop(L, -3);  // the result and the value; the key stays for VmNext
    }
    return 0;
}

int cmdForEachI(ScriptState* L) {
    CheckArgCount(L, 2, 3, 0, 0);
    VmCheckTable(L, 1);
    VmCheckFunction(L, 2);
    const bool user = VmGetTop(L) >= 3;
    VmSetTop(L, 3);
    for (int i = 0;; ++i) {
        VmRawGetIndex(L, 1, i);
        if (VmType(L, -1) == kTypeNil) return 0;
        VmPushValue(L, 2);
        VmPushNumber(L, i);
        VmPushValue(L, -3);
        if (user) VmPushValue(L, 3);
        VmCallGiven(L, user ? 3 : 2, 1);
        if (VmType(L, -1) != kTypeNil) return 1;
        VmSetTop(L, 3);
    }
}

int cmdIsTableEmpty(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    VmCheckTable(L, 1);
    VmPushNil(L);
    const bool empty = VmNext(L, 1) == 0;
    VmSetTop(L, 1);
    VmPushNumber(L, empty ? 1 : 0);
    return 1;
}

int cmdTableItems(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    VmCheckTable(L, 1);
    double n = 0;
    VmPushNil(L);
    while (VmNext(L, 1)) {
        ++n;
        VmSetTop(L, -2);
    }
    VmPushNumber(L, n);
    return 1;
}

int cmdListItems(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    VmCheckTable(L, 1);
    VmPushNumber(L, CountListItems(L, 1, false));
    return 1;
}

int cmdInsertItem(ScriptState* L) {
    CheckArgCount(L, 2, 3, 0, 0);
    VmCheckTable(L, 1);
    const int n = CountListItems(L, 1, false);
    int pos = ToInt32(VmOptNumber(L, 3, -1));
    if (pos < 0 || pos > n) pos = n;
    for (int i = n; i > pos; --i) MoveItem(L, 1, i - 1, i);
    VmPushValue(L, 2);
    VmRawSetIndex(L, 1, pos);
    return 0;
}

int cmdRemoveItem(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    VmCheckTable(L, 1);
    const int n = CountListItems(L, 1, false);
    if (n == 0) {
        VmPushNil(L);
        return 1;
    }
    int pos = ToInt32(VmOptNumber(L, 2, -1));
    if (pos < 0 || pos >= n) pos = n - 1;
    VmRawGetIndex(L, 1, pos);
    for (int i = pos; i < n - 1; ++i) MoveItem(L, 1, i + 1, i);
    VmPushNil(L);
    VmRawSetIndex(L, 1, n - 1);
    return 1;
}

int cmdUnpack(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    VmCheckTable(L, 1);
    const int n = CountListItems(L, 1, false);
    if (!VmCheckStack(L, n)) return ERR_STACK;
    for (int i = 0; i < n; ++i) VmRawGetIndex(L, 1, i);
    return n;
}

int cmdConcat(ScriptState* L) {
    CheckArgCount(L, 1, 4, 0, 0);
    VmCheckTable(L, 1);
    size_t seplen = 0;
    const char* sep = VmOptString(L, 2, "", &seplen);
    const int first = ToInt32(VmOptNumber(L, 3, 0));
    const int last = ToInt32(VmOptNumber(L, 4, CountListItems(L, 1, false) - 1));
    std::string out;
    for (int i = first; i <= last; ++i) {
        VmRawGetIndex(L, 1, i);
        if (VmType(L, -1) != kTypeString) return ERR_STRINGEXPECTED;
        out.append(VmToCString(L, -1), VmStrLen(L, -1));
        VmSetTop(L, -2);
        if (i != last) out.append(sep, seplen);
    }
    VmPushLString(L, out.data(), out.size());
    return 1;
}

// Copies without recursion: a work list of (original, copy) pairs and a map
// from every table met to its copy, so that a table reached twice, or from
// inside itself, is copied once and the copy has the same shape.
int cmdCopyTable(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    VmCheckTable(L, 1);
    const bool shallow = GetFlagArg(L, 2, false);
    VmSetTop(L, 1);
    VmPushNewTable(L);  // 2: original -> copy
    VmPushNewTable(L);  // 3: pending pairs at 2k and 2k + 1
    VmPushNewTable(L);  // 4: the result
    VmPushValue(L, 1);
    VmPushValue(L, 4);
    VmRawSet(L, 2);
    int pending = 0;
    VmPushValue(L, 1);
    VmRawSetIndex(L, 3, 0);
    VmPushValue(L, 4);
    VmRawSetIndex(L, 3, 1);
    pending = 1;
    while (pending > 0) {
        --pending;
        if (!VmCheckStack(L, 8)) return ERR_STACK;
        VmRawGetIndex(L, 3, 2 * pending);      // 5: original
        VmRawGetIndex(L, 3, 2 * pending + 1);  // 6: copy
        VmPushNil(L);
        while (VmNext(L, 5)) {  // key 7, value 8
            if (!shallow && VmType(L, 8) == kTypeTable) {
                VmPushValue(L, 8);
                VmRawGet(L, 2);
                if (VmType(L, -1) == kTypeNil) {
                    VmSetTop(L, -2);
                    VmPushNewTable(L);
                    VmPushValue(L, 8);
                    VmPushValue(L, -2);
                    VmRawSet(L, 2);
                    VmPushValue(L, 8);
                    VmRawSetIndex(L, 3, 2 * pending);
                    VmPushValue(L, -1);
                    VmRawSetIndex(L, 3, 2 * pending + 1);
                    ++pending;
                }
                VmReplace(L, 8);
            }
            VmPushValue(L, 7);
            VmInsert(L, -2);
            VmRawSet(L, 6);
        }
        VmSetTop(L, 4);
    }
    return 1;
}
