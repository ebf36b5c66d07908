// Tables: an array part for dense integer keys and a chained hash part with a
// power-of-two node count, resized together; traversal, the size convention
// of references and the metamethod look-ups.
#include <bit>
#include <climits>
#include <cmath>

#include "core/errcodes.h"
#include "vm/internal.h"

namespace {

constexpr int kMaxArraySize = 1 << kMaxArrayBits;

[[noreturn]] void RaiseTableError(ScriptState* L, int code) {
    VmRaiseError(L, code);
}

// floor(log2(x)), -1 for 0.
int Log2(uint32_t x) { return static_cast<int>(std::bit_width(x)) - 1; }

// Odd moduli spread keys whose low bits agree (pointers, doubles).
VmNode* HashMod(VmTable* t, uint64_t n) {
    return &t->node[n % static_cast<uint64_t>((VmNodeCount(t) - 1) | 1)];
}
VmNode* HashPow2(VmTable* t, uint32_t n) { return &t->node[n & static_cast<uint32_t>(VmNodeCount(t) - 1)]; }

VmNode* HashNumber(VmTable* t, double n) {
    n += 1.0;  // -0 and +0 must land in the same place
    uint32_t halves[2];
    std::memcpy(halves, &n, sizeof halves);
    return HashMod(t, static_cast<uint32_t>(halves[0] + halves[1]));
}

VmNode* MainPosition(VmTable* t, const ScriptValue* key) {
    switch (key->tt) {
    case kTypeNumber: return HashNumber(t, key->value.n);
    case kTypeString: return HashPow2(t, StrValue(key)->hash);
    case kTypeBoolean: return HashPow2(t, static_cast<uint32_t>(key->value.b));
    case kTypeLightUserdata: return HashMod(t, reinterpret_cast<uintptr_t>(key->value.p));
    default: return HashMod(t, reinterpret_cast<uintptr_t>(key->value.gc));  // dead keys too
    }
}

bool NumberToIntKey(double n, int* k) {
    if (!(n >= INT_MIN && n <= INT_MAX)) return false;  // NaN fails here as well
    int i = static_cast<int>(n);
    if (static_cast<double>(i) != n) return false;
    *k = i;
    return true;
}

// The key as an array index candidate (1..2^24), else -1.
int ArrayIndex(const ScriptValue* key) {
    int k;
    if (IsNumber(key) && NumberToIntKey(key->value.n, &k) && k >= 1 && k <= kMaxArraySize) return k;
    return -1;
}

const ScriptValue* GetNumberKey(VmTable* t, double n) {
    for (VmNode* nd = HashNumber(t, n); nd != nullptr; nd = nd->next)
        if (IsNumber(&nd->key) && nd->key.value.n == n) return &nd->val;
    return &kNilObject;
}

const ScriptValue* GetAnyKey(VmTable* t, const ScriptValue* key) {
    for (VmNode* nd = MainPosition(t, key); nd != nullptr; nd = nd->next)
        if (VmRawEqualObj(&nd->key, key)) return &nd->val;
    return &kNilObject;
}

void SetArrayVector(ScriptState* L, VmTable* t, int size) {
    t->array = VmResizeVector(L, t->array, static_cast<size_t>(t->sizearray), static_cast<size_t>(size));
    for (int i = t->sizearray; i < size; i++) SetNil(&t->array[i]);
    t->sizearray = size;
}

void SetNodeVector(ScriptState* L, VmTable* t, int lsize) {
    if (lsize > kMaxNodeBits) RaiseTableError(L, ERR_TABLEOVERFLOW);
    int size = 1 << lsize;
    if (lsize == 0) {
        t->node = L->g->dummynode;
    } else {
        VmNode* nodes = VmNewVector<VmNode>(L, static_cast<size_t>(size));
        for (int i = 0; i < size; i++) {
            SetNil(&nodes[i].key);
            SetNil(&nodes[i].val);
            nodes[i].next = nullptr;
        }
        t->node = nodes;
    }
    t->lsizenode = static_cast<uint8_t>(lsize);
    t->firstfree = &t->node[size - 1];
}

// Array size for the key distribution in nums (per power-of-two slice): the
// largest 2^i that stays more than half full.
void ComputeSizes(const int nums[], int ntotal, int* narray, int* nhash) {
    int a = nums[0];
    int na = a;
    int n = (na == 0) ? -1 : 0;
    for (int i = 1; a < *narray && *narray >= (1 << (i - 1)) && i <= kMaxArrayBits; i++) {
        if (nums[i] > 0) {
            a += nums[i];
            if (a >= (1 << (i - 1))) {
                n = i;
                na = a;
            }
        }
    }
    *nhash = ntotal - na;
    *narray = (n == -1) ? 0 : (1 << n);
}

void NumUse(const VmTable* t, int* narray, int* nhash) {
    int nums[kMaxArrayBits + 1] = {};
    int totaluse = 0;
    int i = 0;
    for (int lg = 0; lg <= kMaxArrayBits; lg++) {
        int ttlg = 1 << lg;
        if (ttlg > t->sizearray) {
            ttlg = t->sizearray;
            if (i >= ttlg) break;
        }
        for (; i < ttlg; i++) {
            if (!IsNil(&t->array[i])) {
                nums[lg]++;
                totaluse++;
            }
        }
    }
    *narray = totaluse;
    for (int j = VmNodeCount(t) - 1; j >= 0; j--) {
        const VmNode* n = &t->node[j];
        if (IsNil(&n->val)) continue;
        int k = ArrayIndex(&n->key);
        if (k >= 0) {
            nums[Log2(static_cast<uint32_t>(k - 1)) + 1]++;
            (*narray)++;
        }
        totaluse++;
    }
    ComputeSizes(nums, totaluse, narray, nhash);
}

void Resize(ScriptState* L, VmTable* t, int nasize, int lnhsize) {
    VmNode* dummy = L->g->dummynode;
    uint8_t flags = t->flags;  // moving entries adds no key, so the cache holds
    int oldasize = t->sizearray;
    int oldcount = VmNodeCount(t);
    VmNode* nold = t->node;
    VmNode temp[1];
    bool wasDummy = nold == dummy;
    if (wasDummy) {
        // The shared node may hold the key being inserted; keep it aside and
        // restore the shared node's emptiness for every other table.
        temp[0] = dummy[0];
        nold = temp;
        SetNil(&dummy->key);
        SetNil(&dummy->val);
    }
    if (nasize > oldasize) SetArrayVector(L, t, nasize);
    SetNodeVector(L, t, lnhsize);
    if (nasize < oldasize) {
        t->sizearray = nasize;
        for (int i = nasize; i < oldasize; i++)
            if (!IsNil(&t->array[i])) *VmTableSetInt(L, t, i + 1) = t->array[i];
        t->array = VmResizeVector(L, t->array, static_cast<size_t>(oldasize), static_cast<size_t>(nasize));
    }
    for (int i = oldcount - 1; i >= 0; i--) {
        VmNode* old = nold + i;
        if (!IsNil(&old->val)) *VmTableSet(L, t, &old->key) = old->val;
    }
    if (!wasDummy) VmFreeVector(L, nold, static_cast<size_t>(oldcount));
    t->flags = flags;
}

// While the table is resized its entries are in flight (in the old node
// block, or in a local copy of the shared empty node), out of the
// collector's sight; so the stress mode's collection comes before, when the
// new key already sits in its node.
void Rehash(ScriptState* L, VmTable* t) {
    if (L->g->gcStress) VmCollectAtAllocation(L);
    VmGcHold hold(L);
    int nasize, nhsize;
    NumUse(t, &nasize, &nhsize);
    Resize(L, t, nasize, Log2(static_cast<uint32_t>(nhsize)) + 1);
}

// Inserts a key known to be absent. A colliding node that is not in its own
// main position gives way, so every chain starts at its main position.
ScriptValue* NewKey(ScriptState* L, VmTable* t, const ScriptValue* key) {
    VmNode* mp = MainPosition(t, key);
    if (!IsNil(&mp->val)) {
        VmNode* othern = MainPosition(t, &mp->key);
        VmNode* n = t->firstfree;
        if (othern != mp) {
            while (othern->next != mp) othern = othern->next;
            othern->next = n;
            *n = *mp;
            mp->next = nullptr;
            SetNil(&mp->val);
        } else {
            n->next = mp->next;
            mp->next = n;
            mp = n;
        }
    }
    mp->key = *key;
    for (;;) {
        if (IsNil(&t->firstfree->key)) return &mp->val;
        if (t->firstfree == t->node) break;
        t->firstfree--;
    }
    // No free node left: the new key must survive the rehash, so it gets a
    // non-nil placeholder until the caller stores its value.
    SetBoolean(&mp->val, 0);
    Rehash(L, t);
    auto* v = const_cast<ScriptValue*>(VmTableGet(t, key));
    SetNil(v);
    return v;
}

int FindIndex(ScriptState* L, VmTable* t, const ScriptValue* key) {
    if (IsNil(key)) return -1;
    int i = ArrayIndex(key);
    if (i > 0 && i <= t->sizearray) return i - 1;
    for (VmNode* n = MainPosition(t, key); n != nullptr; n = n->next) {
        // A key whose value the collector cleared is still a valid position.
        bool dead = n->key.tt == kTypeDeadKey && IsCollectable(key) && n->key.value.gc == key->value.gc;
        if (dead || VmRawEqualObj(&n->key, key)) return static_cast<int>(n - t->node) + t->sizearray;
    }
    RaiseTableError(L, ERR_INVNEXTKEY);
}

int TruncSize(double d) {
    if (std::isnan(d)) return 0;
    if (d >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (d <= static_cast<double>(INT_MIN)) return INT_MIN;
    return static_cast<int>(d);
}

VmString* NameN(ScriptState* L) { return VmNewString(L, "n", 1); }

// registry[2]: sizes of tables whose "n" field holds something else, keyed
// weakly so that it does not keep those tables alive.
VmTable* SizesTable(ScriptState* L) {
    VmTable* reg = TableValue(VmRegistry(L));
    const ScriptValue* v = VmTableGetInt(reg, kSizesTableIndex);
    if (IsTable(v)) return TableValue(v);
    // Each new object is stored before the next allocation, which may
    // collect (a slot, once made, stays where it is until its table grows).
    ScriptValue* slot = VmTableSetInt(L, reg, kSizesTableIndex);
    VmTable* sizes = VmNewTable(L, 0, 0);
    SetTable(slot, sizes);
    sizes->metatable = VmNewTable(L, 0, 0);
    ScriptValue key;
    SetString(&key, L->g->tmname[TM_MODE]);
    slot = VmTableSet(L, sizes->metatable, &key);
    SetString(slot, VmNewString(L, "k", 1));
    return sizes;
}

}  // namespace

VmTable* VmNewTable(ScriptState* L, int narray, int lnhash) {
    if (narray < 0) narray = 0;
    if (lnhash < 0) lnhash = 0;
    if (narray > kMaxArraySize || lnhash > kMaxNodeBits) RaiseTableError(L, ERR_TABLEOVERFLOW);
    auto* t = static_cast<VmTable*>(VmRealloc(L, nullptr, 0, sizeof(VmTable)));
    const ScriptValue* dm = &L->g->defaultMeta;
    t->metatable = IsTable(dm) ? TableValue(dm) : nullptr;
    t->flags = 0xFF;  // an empty table has no metamethods
    t->array = nullptr;
    t->sizearray = 0;
    t->lsizenode = 0;
    t->node = L->g->dummynode;
    t->firstfree = t->node;
    t->gclist = nullptr;
    // Linked only once the parts exist: a collection at their allocation
    // must not find a table that nothing holds yet. Should one of them
    // fail, the table goes with it.
    struct Unlinked {
        ScriptState* L;
        VmTable* t;
        ~Unlinked() {
            if (t != nullptr) VmFreeTable(L, t);
        }
    } unlinked{L, t};
    SetArrayVector(L, t, narray);
    SetNodeVector(L, t, lnhash);
    unlinked.t = nullptr;
    VmLinkObject(L, t, kTypeTable);
    return t;
}

void VmFreeTable(ScriptState* L, VmTable* t) {
    if (t->node != L->g->dummynode) VmFreeVector(L, t->node, static_cast<size_t>(VmNodeCount(t)));
    VmFreeVector(L, t->array, static_cast<size_t>(t->sizearray));
    VmRealloc(L, t, sizeof(VmTable), 0);
}

const ScriptValue* VmTableGetInt(VmTable* t, int key) {
    if (static_cast<uint32_t>(key) - 1u < static_cast<uint32_t>(t->sizearray)) return &t->array[key - 1];
    return GetNumberKey(t, static_cast<double>(key));
}

const ScriptValue* VmTableGetStr(VmTable* t, VmString* key) {
    for (VmNode* n = HashPow2(t, key->hash); n != nullptr; n = n->next)
        if (IsString(&n->key) && StrValue(&n->key) == key) return &n->val;
    return &kNilObject;
}

const ScriptValue* VmTableGet(VmTable* t, const ScriptValue* key) {
    switch (key->tt) {
    case kTypeString: return VmTableGetStr(t, StrValue(key));
    case kTypeNil: return VmTableGetInt(t, 0);
    case kTypeNumber: {
        int k;
        if (NumberToIntKey(key->value.n, &k)) return VmTableGetInt(t, k);
        return GetNumberKey(t, key->value.n);
    }
    default: return GetAnyKey(t, key);
    }
}

ScriptValue* VmTableSet(ScriptState* L, VmTable* t, const ScriptValue* key) {
    const ScriptValue* p = VmTableGet(t, key);
    t->flags = 0;
    if (p != &kNilObject) return const_cast<ScriptValue*>(p);
    // A copy: the key may live in a node block that a rehash frees.
    ScriptValue k = *key;
    if (IsNil(&k))
        SetNumber(&k, 0);
    else if (IsNumber(&k) && std::isnan(k.value.n))
        RaiseTableError(L, ERR_TABLEINDEX);
    return NewKey(L, t, &k);
}

ScriptValue* VmTableSetInt(ScriptState* L, VmTable* t, int key) {
    const ScriptValue* p = VmTableGetInt(t, key);
    if (p != &kNilObject) return const_cast<ScriptValue*>(p);
    ScriptValue k;
    SetNumber(&k, key);
    return NewKey(L, t, &k);
}

int VmTableNext(ScriptState* L, VmTable* t, ScriptValue* key) {
    int i = FindIndex(L, t, key);
    for (i++; i < t->sizearray; i++) {
        if (!IsNil(&t->array[i])) {
            SetNumber(key, i + 1);
            key[1] = t->array[i];
            return 1;
        }
    }
    for (i -= t->sizearray; i < VmNodeCount(t); i++) {
        if (!IsNil(&t->node[i].val)) {
            key[0] = t->node[i].key;
            key[1] = t->node[i].val;
            return 1;
        }
    }
    return 0;
}

int VmTableGetN(ScriptState* L, VmTable* t) {
    ScriptValue num;
    // Nil reads as the number 0, so a table without "n" has size 0.
    if (VmToNumberValue(VmTableGetStr(t, NameN(L)), &num)) return TruncSize(num.value.n);
    VmTable* sizes = SizesTable(L);
    ScriptValue key;
    SetTable(&key, t);
    if (VmToNumberValue(VmTableGet(sizes, &key), &num)) return TruncSize(num.value.n);
    int n = 0;
    while (n < INT_MAX && !IsNil(VmTableGetInt(t, n + 1))) n++;
    return n;
}

void VmTableSetN(ScriptState* L, VmTable* t, int n) {
    VmString* name = NameN(L);
    ScriptValue num;
    ScriptValue key;
    if (VmToNumberValue(VmTableGetStr(t, name), &num)) {
        SetString(&key, name);
        SetNumber(VmTableSet(L, t, &key), n);
        return;
    }
    VmTable* sizes = SizesTable(L);
    SetTable(&key, t);
    SetNumber(VmTableSet(L, sizes, &key), n);
}

VmTable* VmMetatableOf(ScriptState*, const ScriptValue* o) {
    switch (o->tt) {
    case kTypeTable: return TableValue(o)->metatable;
    case kTypeUserdata: return UdataValue(o)->metatable;
    default: return nullptr;
    }
}

const ScriptValue* VmGetMetamethod(ScriptState* L, const ScriptValue* o, int event) {
    VmTable* mt = VmMetatableOf(L, o);
    if (mt == nullptr || event < 0 || event >= kNumMetaEvents) return &kNilObject;
    return VmTableGetStr(mt, L->g->tmname[event]);
}

const ScriptValue* VmFastMetamethod(VmTable* mt, int event, VmString* name) {
    if (mt == nullptr) return nullptr;
    bool cached = event >= 0 && event < 8;
    if (cached && (mt->flags & (1u << event))) return nullptr;
    const ScriptValue* tm = VmTableGetStr(mt, name);
    if (IsNil(tm)) {
        if (cached) mt->flags |= static_cast<uint8_t>(1u << event);
        return nullptr;
    }
    return tm;
}
