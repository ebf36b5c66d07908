// Tests of tables: key placement, lookup, raises for bad keys, rehash under
// load, traversal order, the size convention and the metamethod cache.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/errcodes.h"
#include "vm/internal.h"
#include "vm_fixture.h"

namespace {

struct TableFixture : vmtest::NativeFixture {
    // The tables and keys here are held in C variables only, which the
    // stress mode's collections would take.
    void SetUp() override {
        NativeFixture::SetUp();
        if (L != nullptr) L->g->gcStress = false;
    }
    ScriptValue Num(double n) {
        ScriptValue v;
        SetNumber(&v, n);
        return v;
    }
    ScriptValue Str(const std::string& s) {
        ScriptValue v;
        SetString(&v, VmNewString(L, s.data(), s.size()));
        return v;
    }
    const ScriptValue* GetV(VmTable* t, ScriptValue key) { return VmTableGet(t, &key); }
    ScriptValue* SetV(VmTable* t, ScriptValue key) { return VmTableSet(L, t, &key); }
    void Put(VmTable* t, ScriptValue key, double value) { SetNumber(SetV(t, key), value); }
    // The stored number, or NAN when the key reads as nil.
    double Get(VmTable* t, ScriptValue key) {
        const ScriptValue* v = VmTableGet(t, &key);
        return IsNumber(v) ? v->value.n : NAN;
    }
    bool InArray(VmTable* t, const ScriptValue* slot) {
        return slot >= t->array && slot < t->array + t->sizearray;
    }
    // Every (key, value) of a traversal, in order.
    std::vector<std::pair<ScriptValue, ScriptValue>> Walk(VmTable* t) {
        std::vector<std::pair<ScriptValue, ScriptValue>> out;
        ScriptValue kv[2];
        SetNil(&kv[0]);
        while (VmTableNext(L, t, kv)) out.emplace_back(kv[0], kv[1]);
        return out;
    }
};

// Runs f(L, t) in a protected run and returns the raised code.
template <typename F>
int Protected(ScriptState* L, F f) {
    struct Box {
        F* f;
    } box{&f};
    return VmProtectedRun(
        L, [](ScriptState* S, void* ud) { (*static_cast<Box*>(ud)->f)(S); }, &box);
}

using TableKeys = TableFixture;

TEST_F(TableKeys, EveryKindOfKeyWithNilAndNegativeZeroAsZero) {
    VmTable* t = VmNewTable(L, 0, 0);
    int marker = 0;
    ScriptValue nil, yes, no, table, light, otherLight;
    SetNil(&nil);
    SetBoolean(&yes, 1);
    SetBoolean(&no, 0);
    SetTable(&table, VmNewTable(L, 0, 0));
    SetLightUserdata(&light, &marker);
    SetLightUserdata(&otherLight, &t);
    // nil and -0 are the key 0; 2^32 is integral but beyond int.
    const ScriptValue keys[] = {nil, Num(1.5), Num(4294967296.0), Num(-7), yes, no, table, light, Str("x")};
    for (size_t i = 0; i < std::size(keys); i++) Put(t, keys[i], static_cast<double>(i + 1));
    for (size_t i = 0; i < std::size(keys); i++) EXPECT_EQ(Get(t, keys[i]), static_cast<double>(i + 1)) << i;
    EXPECT_EQ(Get(t, Num(-0.0)), 1);
    EXPECT_EQ(VmTableGetInt(t, -7)->value.n, 4);
    EXPECT_EQ(VmTableGetStr(t, VmNewString(L, "x", 1))->value.n, 9);
    EXPECT_EQ(GetV(t, Str("y")), &kNilObject);
    EXPECT_EQ(VmTableGet(t, &otherLight), &kNilObject);
}

TEST_F(TableKeys, NaNKeyRaisesOnWriteAndReadsNil) {
    VmTable* t = VmNewTable(L, 0, 0);
    ScriptValue nan = Num(std::nan(""));
    EXPECT_EQ(VmTableGet(t, &nan), &kNilObject);
    int code = Protected(L, [&](ScriptState* S) { SetNumber(VmTableSet(S, t, &nan), 1); });
    EXPECT_EQ(code, ERR_TABLEINDEX);
    EXPECT_TRUE(Walk(t).empty());
}

TEST_F(TableKeys, ArrayPartKeepsMoreThanHalfItsSlotsUsed) {
    VmTable* t = VmNewTable(L, 0, 0);
    Put(t, Num(1), 10);
    Put(t, Num(2), 20);
    Put(t, Num(1000), 30);
    EXPECT_EQ(t->sizearray, 2);
    EXPECT_TRUE(InArray(t, VmTableGetInt(t, 2)));
    EXPECT_FALSE(InArray(t, VmTableGetInt(t, 1000)));
    EXPECT_EQ(Get(t, Num(1000)), 30);
    for (int k : {3, 5, 6, 7, 8}) Put(t, Num(k), k);
    Put(t, Str("a"), 0);  // forces one more rehash with the integers in place
    EXPECT_EQ(t->sizearray, 8);
    VmTable* sparse = VmNewTable(L, 0, 0);
    for (int k : {1, 20, 40, 60}) Put(sparse, Num(k), k);
    EXPECT_EQ(sparse->sizearray, 1);
}

TEST_F(TableKeys, OversizedPartsRaiseTableOverflow) {
    EXPECT_EQ(Protected(L, [](ScriptState* S) { VmNewTable(S, 0, kMaxNodeBits + 1); }), ERR_TABLEOVERFLOW);
    EXPECT_EQ(Protected(L, [](ScriptState* S) { VmNewTable(S, (1 << kMaxArrayBits) + 1, 0); }), ERR_TABLEOVERFLOW);
    VmTable* t = VmNewTable(L, -5, -1);  // negative sizes mean none
    EXPECT_EQ(t->sizearray, 0);
    EXPECT_EQ(t->node, L->g->dummynode);
}

using Rehash = TableFixture;

TEST_F(Rehash, ManyInsertsAndDeletesKeepEveryLiveEntry) {
    VmTable* t = VmNewTable(L, 0, 0);
    std::map<std::string, double> strs;
    std::map<int, double> ints;
    for (int round = 0; round < 4; round++) {
        for (int i = 0; i < 2000; i++) {
            int k = (i * 7919 + round * 13) % 5000 - 100;
            Put(t, Num(k), k + round);
            ints[k] = k + round;
            std::string s = "k";
            s += std::to_string(i + round * 500);
            Put(t, Str(s), i);
            strs[s] = i;
        }
        // Delete every third entry by storing nil.
        int n = 0;
        for (auto it = ints.begin(); it != ints.end();) {
            if (n++ % 3 == 0) {
                SetNil(SetV(t, Num(it->first)));
                it = ints.erase(it);
            } else {
                ++it;
            }
        }
        for (auto it = strs.begin(); it != strs.end();) {
            if (n++ % 3 == 0) {
                ScriptValue key = Str(it->first);
                SetNil(VmTableSet(L, t, &key));
                it = strs.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& [k, v] : ints) ASSERT_EQ(Get(t, Num(k)), v) << k;
    for (auto& [k, v] : strs) ASSERT_EQ(Get(t, Str(k)), v) << k;
    EXPECT_EQ(Walk(t).size(), ints.size() + strs.size());
    EXPECT_EQ(VmNodeCount(t) & (VmNodeCount(t) - 1), 0);
    EXPECT_LE(t->sizearray, 1 << kMaxArrayBits);
    // Every used node sits on the chain that starts at its key's main position.
    for (int i = 0; i < VmNodeCount(t); i++) {
        VmNode* n = &t->node[i];
        if (IsNil(&n->val)) continue;
        EXPECT_EQ(VmTableGet(t, &n->key), &n->val);
    }
}

TEST_F(Rehash, ShrinkingArrayMovesEntriesToTheHash) {
    VmTable* t = VmNewTable(L, 64, 0);
    for (int i = 1; i <= 64; i++) Put(t, Num(i), i);
    for (int i = 3; i <= 64; i++) SetNil(VmTableSetInt(L, t, i));
    Put(t, Num(60), 60);
    Put(t, Str("a"), 1);  // the shared empty node is full: rehash
    EXPECT_LT(t->sizearray, 64);
    EXPECT_EQ(Get(t, Num(1)), 1);
    EXPECT_EQ(Get(t, Num(2)), 2);
    EXPECT_EQ(Get(t, Num(60)), 60);
    EXPECT_FALSE(InArray(t, VmTableGetInt(t, 60)));
    EXPECT_TRUE(IsNil(VmTableGetInt(t, 3)));
}

TEST_F(Rehash, SharedEmptyNodeIsLeftEmpty) {
    VmTable* a = VmNewTable(L, 0, 0);
    VmTable* b = VmNewTable(L, 0, 0);
    Put(a, Str("x"), 1);
    EXPECT_NE(a->node, L->g->dummynode);
    EXPECT_TRUE(IsNil(&L->g->dummynode->key));
    EXPECT_TRUE(IsNil(&L->g->dummynode->val));
    EXPECT_EQ(b->node, L->g->dummynode);
    EXPECT_EQ(GetV(b, Str("x")), &kNilObject);
}

using Traversal = TableFixture;

TEST_F(Traversal, ArrayKeysInOrderThenTheHashPart) {
    VmTable* t = VmNewTable(L, 4, 2);
    Put(t, Str("x"), 100);
    Put(t, Num(3), 3);
    Put(t, Num(1), 1);
    Put(t, Num(4.5), 45);
    Put(t, Num(2), 2);
    auto items = Walk(t);
    ASSERT_EQ(items.size(), 5u);
    for (int i = 0; i < 3; i++) {
        ASSERT_TRUE(IsNumber(&items[i].first));
        EXPECT_EQ(items[i].first.value.n, i + 1);
        EXPECT_EQ(items[i].second.value.n, i + 1);
    }
    std::set<double> rest;
    for (size_t i = 3; i < items.size(); i++) rest.insert(items[i].second.value.n);
    EXPECT_EQ(rest, (std::set<double>{45, 100}));
    // Node order is the traversal order.
    std::vector<const VmNode*> nodes;
    for (int i = 0; i < VmNodeCount(t); i++)
        if (!IsNil(&t->node[i].val)) nodes.push_back(&t->node[i]);
    ASSERT_EQ(nodes.size(), 2u);
    EXPECT_TRUE(VmRawEqualObj(&items[3].first, &nodes[0]->key));
    EXPECT_TRUE(VmRawEqualObj(&items[4].first, &nodes[1]->key));
}

TEST_F(Traversal, ClearingTheCurrentEntryDoesNotBreakIt) {
    VmTable* t = VmNewTable(L, 0, 0);
    for (int i = 0; i < 20; i++) {
        const std::string n = std::to_string(i);
        Put(t, Str("k" + n), i);
    }
    for (int i = 1; i <= 5; i++) Put(t, Num(i), i);
    ScriptValue kv[2];
    SetNil(&kv[0]);
    int seen = 0;
    while (VmTableNext(L, t, kv)) {
        SetNil(VmTableSet(L, t, &kv[0]));
        seen++;
    }
    EXPECT_EQ(seen, 25);
    EXPECT_TRUE(Walk(t).empty());
}

TEST_F(Traversal, ForeignKeyRaisesInvalidNextKey) {
    VmTable* t = VmNewTable(L, 2, 1);
    Put(t, Num(1), 1);
    Put(t, Str("a"), 2);
    ScriptValue kv[2];
    kv[0] = Str("never there");
    EXPECT_EQ(Protected(L, [&](ScriptState* S) { VmTableNext(S, t, kv); }), ERR_INVNEXTKEY);
    kv[0] = Num(0.5);
    EXPECT_EQ(Protected(L, [&](ScriptState* S) { VmTableNext(S, t, kv); }), ERR_INVNEXTKEY);
    // A key inside the array part is always a valid position, even when nil.
    kv[0] = Num(2);
    EXPECT_EQ(Protected(L, [&](ScriptState* S) { VmTableNext(S, t, kv); }), 0);
}

using Sizes = TableFixture;

TEST_F(Sizes, FieldNIsTheSize) {
    VmTable* t = VmNewTable(L, 0, 0);
    EXPECT_EQ(VmTableGetN(L, t), 0);
    VmTableSetN(L, t, 4);  // written as field "n" while there is none
    EXPECT_EQ(Get(t, Str("n")), 4);
    EXPECT_FALSE(IsTable(VmTableGetInt(TableValue(VmRegistry(L)), kSizesTableIndex)));
    Put(t, Str("n"), 7.9);
    EXPECT_EQ(VmTableGetN(L, t), 7);
    *SetV(t, Str("n")) = Str("3");  // a numeric string counts as its number
    EXPECT_EQ(VmTableGetN(L, t), 3);
}

TEST_F(Sizes, NonNumericNUsesTheWeakSizesTable) {
    VmTable* t = VmNewTable(L, 0, 0);
    *SetV(t, Str("n")) = Str("abc");
    for (int i = 1; i <= 3; i++) Put(t, Num(i), i);
    EXPECT_EQ(VmTableGetN(L, t), 0);  // no sizes entry: nil reads as 0
    const ScriptValue* sv = VmTableGetInt(TableValue(VmRegistry(L)), kSizesTableIndex);
    ASSERT_TRUE(IsTable(sv));
    VmTable* sizes = TableValue(sv);
    ASSERT_NE(sizes->metatable, nullptr);
    const ScriptValue* mode = GetV(sizes->metatable, Str("__mode"));
    ASSERT_TRUE(IsString(mode));
    EXPECT_STREQ(VmStrData(StrValue(mode)), "k");

    VmTableSetN(L, t, 5);
    EXPECT_EQ(VmTableGetN(L, t), 5);
    EXPECT_EQ(StrValue(GetV(t, Str("n"))), VmNewString(L, "abc", 3));
    ScriptValue key;
    SetTable(&key, t);
    EXPECT_EQ(Get(sizes, key), 5);

    // A sizes entry that is no number either: count t[1], t[2], ...
    *VmTableSet(L, sizes, &key) = Str("zz");
    EXPECT_EQ(VmTableGetN(L, t), 3);
}

using Metamethods = TableFixture;

// Misses of the first eight events are cached in the metatable's flags; any
// keyed write must clear the cache, or a metamethod added later goes unseen.
TEST_F(Metamethods, KeyedWritesClearTheMissCache) {
    VmTable* mt = VmNewTable(L, 0, 0);
    VmString** names = L->g->tmname;
    EXPECT_EQ(VmFastMetamethod(mt, TM_EQ, names[TM_EQ]), nullptr);
    EXPECT_EQ(VmFastMetamethod(mt, TM_CONCAT, names[TM_CONCAT]), nullptr);  // not cached
    Put(mt, Str("__concat"), 2);
    Put(mt, Str("__eq"), 1);
    const ScriptValue* tm = VmFastMetamethod(mt, TM_EQ, names[TM_EQ]);
    ASSERT_NE(tm, nullptr);
    EXPECT_EQ(tm->value.n, 1);
    EXPECT_EQ(VmFastMetamethod(mt, TM_CONCAT, names[TM_CONCAT])->value.n, 2);
}

}  // namespace
