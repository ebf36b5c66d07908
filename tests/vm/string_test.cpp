// Tests of the VM's object model: number/string conversions, string
// interning, the state that VmOpen builds, upvalues and byte accounting.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/errcodes.h"
#include "vm/internal.h"

namespace {

struct StateFixture : ::testing::Test {
    ScriptState* L = nullptr;
    void SetUp() override {
        L = VmOpen();
        ASSERT_NE(L, nullptr);
    }
    void TearDown() override { VmClose(L); }
    VmString* Str(const std::string& s) { return VmNewString(L, s.data(), s.size()); }
};

TEST(StringToNumber, HexDecimalAndTrailingText) {
    struct Case {
        const char* text;
        bool ok;
        double value;
    };
    const Case cases[] = {
        {"0x1A", true, 26},
        {"$1a", true, 26},
        {"0x", false, 0},      // two characters: decimal reader, stops at "x"
        {"12 ", true, 12},
        {"12 \t\n", true, 12},
        {"12a", false, 0},
        {"$", false, 0},
        {"", false, 0},
        {"  7", true, 7},
        {"1e3", true, 1000},
        {"-2.5", true, -2.5},
        {"0x1A ", true, 26},
        {"0xG", false, 0},
        {"$1a z", false, 0},
        {"$FFFFFFFF", true, 4294967295.0},
        {"$100000000", true, 4294967295.0},  // unsigned 32-bit reading saturates
        {"$-2", true, 4294967294.0},         // and negates modulo 2^32
    };
    for (const Case& c : cases) {
        double v = -999;
        EXPECT_EQ(VmStringToNumber(c.text, &v), c.ok) << '"' << c.text << '"';
        if (c.ok) {
            EXPECT_EQ(v, c.value) << '"' << c.text;
        }
    }
}

TEST(NumberToText, FourteenSignificantDigits) {
    char buf[32];
    struct Case {
        double n;
        const char* text;
    };
    const Case cases[] = {
        {12, "12"},       {0.1, "0.1"},        {-0.0, "-0"},
        {1e15, "1e+15"},  {123456789012345.0, "1.2345678901234e+14"},
        {3.14159265358979, "3.1415926535898"},
    };
    for (const Case& c : cases) {
        int len = VmNumberToText(c.n, buf);
        EXPECT_STREQ(buf, c.text);
        EXPECT_EQ(len, static_cast<int>(std::strlen(c.text)));
    }
}

using Interning = StateFixture;

TEST_F(Interning, EqualBytesGiveTheSameObject) {
    VmString* a = Str("hello");
    Str("other");
    std::string copy = "hel";
    copy += "lo";
    EXPECT_EQ(a, Str(copy));
    EXPECT_EQ(a->len, 5u);
    EXPECT_STREQ(VmStrData(a), "hello");
}

TEST_F(Interning, EmbeddedNulBytesCountInFull) {
    VmString* a = Str(std::string("a\0b", 3));
    VmString* b = Str(std::string("a\0c", 3));
    VmString* shortA = Str("a");
    EXPECT_NE(a, b);
    EXPECT_NE(a, shortA);
    EXPECT_EQ(a->len, 3u);
    EXPECT_EQ(a, Str(std::string("a\0b", 3)));
    EXPECT_EQ(VmStrData(a)[3], '\0');
}

TEST_F(Interning, EmptyStringIsAnObject) {
    VmString* e = Str("");
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->len, 0u);
    EXPECT_EQ(e->hash, 0u);
    EXPECT_EQ(VmStrData(e)[0], '\0');
    EXPECT_EQ(e, VmNewString(L, "x", 0));
}

TEST_F(Interning, HashFollowsTheSampledFormula) {
    // h = 1; h ^= (1 << 5) + (1 >> 2) + 'a'
    EXPECT_EQ(Str("a")->hash, 1u ^ (32u + 97u));
    // A 64-byte string samples every third byte from the end, so byte 1 is
    // not hashed: equal hashes, yet distinct strings.
    std::string s1(64, 'x'), s2(64, 'x');
    s2[1] = 'y';
    VmString* a = Str(s1);
    VmString* b = Str(s2);
    EXPECT_EQ(a->hash, b->hash);
    EXPECT_NE(a, b);
}

TEST_F(Interning, TableDoublesAndKeepsEveryString) {
    uint32_t before = L->g->strt.size;
    std::vector<VmString*> made;
    for (int i = 0; i < 300; i++) made.push_back(Str("s" + std::to_string(i)));
    VmStringTable& tb = L->g->strt;
    EXPECT_GT(tb.size, before);
    EXPECT_EQ(tb.size & (tb.size - 1), 0u);
    EXPECT_LE(tb.nuse, tb.size);
    for (int i = 0; i < 300; i++) EXPECT_EQ(made[i], Str("s" + std::to_string(i)));
    uint32_t counted = 0;
    for (uint32_t i = 0; i < tb.size; i++)
        for (GCObject* o = tb.hash[i]; o != nullptr; o = o->next) {
            EXPECT_EQ(static_cast<VmString*>(o)->hash & (tb.size - 1), i);
            counted++;
        }
    EXPECT_EQ(counted, tb.nuse);
}

TEST_F(Interning, ToStringConvertsNilAndNumbersInPlace) {
    ScriptValue v;
    SetNil(&v);
    ASSERT_TRUE(VmToStringValue(L, &v));
    ASSERT_EQ(v.tt, kTypeString);
    EXPECT_EQ(StrValue(&v)->len, 0u);
    SetNumber(&v, 0.1);
    ASSERT_TRUE(VmToStringValue(L, &v));
    EXPECT_EQ(StrValue(&v), Str("0.1"));
    SetTable(&v, TableValue(&L->gt));
    EXPECT_FALSE(VmToStringValue(L, &v));
    EXPECT_EQ(v.tt, kTypeTable);
}

using OpenState = StateFixture;

TEST_F(OpenState, InitialLayout) {
    EXPECT_EQ(L->tt, kTypeThread);
    EXPECT_EQ(L->stacksize, 45);
    EXPECT_EQ(L->stack_last, L->stack + 39);
    EXPECT_EQ(L->size_ci, 8);
    EXPECT_EQ(L->ci, L->base_ci);
    EXPECT_TRUE(L->ci->state & kFrameNative);
    EXPECT_EQ(L->base, L->stack + 1);
    EXPECT_EQ(L->top, L->stack + 1);
    EXPECT_EQ(L->ci->top, L->stack + 21);
    EXPECT_TRUE(IsNil(L->stack));

    VmGlobal* g = L->g;
    EXPECT_EQ(g->mainthread, L);
    ASSERT_TRUE(IsTable(&g->defaultMeta));
    VmTable* meta = TableValue(&g->defaultMeta);
    EXPECT_EQ(meta->metatable, meta);
    ASSERT_TRUE(IsTable(&L->gt));
    EXPECT_EQ(VmNodeCount(TableValue(&L->gt)), 16);
    EXPECT_EQ(TableValue(&L->gt)->metatable, meta);
    ASSERT_TRUE(IsTable(&g->registry));
    EXPECT_EQ(TableValue(&g->registry)->sizearray, 4);
    EXPECT_EQ(VmNodeCount(TableValue(&g->registry)), 16);
    EXPECT_EQ(g->strt.size, 32u);
}

TEST_F(OpenState, MetamethodNamesAreFixedAndInEventOrder) {
    for (int e = 0; e < kNumMetaEvents; e++) EXPECT_TRUE(L->g->tmname[e]->marked & kFixedBit);
    EXPECT_EQ(L->g->tmname[TM_MODE], Str("__mode"));
    EXPECT_EQ(L->g->tmname[TM_DIVINT], Str("__divint"));
    EXPECT_EQ(L->g->tmname[TM_CALL], Str("__call"));
    EXPECT_TRUE(Str("not enough memory")->marked & kFixedBit);
}

TEST_F(OpenState, ThresholdIsFourTimesTheStartingCount) {
    EXPECT_EQ(L->g->GCthreshold, 4 * L->g->nblocks);
    int count = VmGetGcCount(L);
    EXPECT_GT(count, 0);
    EXPECT_LT(count, 64);
    EXPECT_EQ(VmGetGcThreshold(L), static_cast<int>(4 * L->g->nblocks / 1024));
    VmSetGcThreshold(L, 100);
    EXPECT_EQ(VmGetGcThreshold(L), 100);
    VmSetGcThreshold(L, 4194303);
    EXPECT_EQ(L->g->GCthreshold, size_t{4194303} * 1024);
    VmSetGcThreshold(L, 4194304);  // no limit
    EXPECT_EQ(L->g->GCthreshold, size_t{4294967295u});
}

using Accounting = StateFixture;

TEST_F(Accounting, ScratchBufferHasAFloorOf32Bytes) {
    size_t before = L->g->nblocks;
    char* b = VmBufferReserve(L, 5);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(L->g->buff.size, 32u);
    EXPECT_EQ(VmBufferReserve(L, 20), b);
    VmBufferReserve(L, 1000);
    EXPECT_EQ(L->g->buff.size, 1000u);
    EXPECT_EQ(L->g->nblocks, before + 1000);
}

TEST_F(Accounting, FreeingEverythingLeavesOnlyTheFixedParts) {
    // One object of each kind the VM allocates.
    VmTable* t = VmNewTable(L, 10, 3);
    for (int i = 1; i <= 50; i++) SetNumber(VmTableSetInt(L, t, i * 7), i);
    VmNativeClosure* nc = VmNewNativeClosure(L, 3);
    ASSERT_NE(nc, nullptr);
    VmScriptClosure* sc = VmNewScriptClosure(L, 2, &L->gt);
    ScriptProto* p = VmNewProto(L);
    p->code = VmNewVector<Instruction>(L, 4);
    p->sizecode = 4;
    p->k = VmNewVector<ScriptValue>(L, 3);
    p->sizek = 3;
    sc->p = p;
    auto* u = static_cast<VmUserdata*>(VmRealloc(L, nullptr, 0, sizeof(VmUserdata) + 24));
    u->len = 24;
    u->metatable = nullptr;
    VmLinkObject(L, u, kTypeUserdata);
    EXPECT_EQ(L->g->rootudata, u);
    EXPECT_TRUE(u->marked & kWeakKeyBit);
    SetNumber(L->top++, 1);
    VmScriptUpvals(sc)[0] = VmFindUpvalue(L, L->top - 1);
    SetNumber(L->top++, 2);
    VmScriptUpvals(sc)[1] = VmFindUpvalue(L, L->top - 1);  // stays open

    VmCloseUpvalues(L, L->top - 1);
    VmFreeAll(L);
    VmGlobal* g = L->g;
    size_t fixed = sizeof(ScriptState) + sizeof(VmGlobal) + L->stacksize * sizeof(ScriptValue) +
                   L->size_ci * sizeof(CallFrame) + g->strt.size * sizeof(GCObject*) + g->buff.size;
    EXPECT_EQ(g->nblocks, fixed);
    EXPECT_EQ(g->rootgc, nullptr);
    EXPECT_EQ(L->openupval, nullptr);
    EXPECT_EQ(g->strt.nuse, 0u);
    // VmClose after VmFreeAll finds nothing left to free twice.
}

TEST_F(Accounting, HugeRequestRaisesOutOfMemoryAndCountsNothing) {
    size_t before = L->g->nblocks;
    int code = VmProtectedRun(
        L, [](ScriptState* S, void*) { VmRealloc(S, nullptr, 0, 4294967293u); }, nullptr);
    EXPECT_EQ(code, ERR_MEM);
    EXPECT_EQ(L->g->nblocks, before);
}

using Upvalues = StateFixture;

TEST_F(Upvalues, OpenListIsSortedHighestFirstAndShared) {
    for (int i = 0; i < 5; i++) SetNumber(L->top++, i);
    ScriptValue* s = L->stack;
    VmUpval* u3 = VmFindUpvalue(L, s + 3);
    VmUpval* u1 = VmFindUpvalue(L, s + 1);
    VmUpval* u5 = VmFindUpvalue(L, s + 5);
    VmUpval* u2 = VmFindUpvalue(L, s + 2);
    EXPECT_EQ(VmFindUpvalue(L, s + 3), u3);
    std::vector<GCObject*> order;
    for (GCObject* o = L->openupval; o != nullptr; o = o->next) order.push_back(o);
    ASSERT_EQ(order.size(), 4u);
    EXPECT_EQ(order[0], u5);
    EXPECT_EQ(order[1], u3);
    EXPECT_EQ(order[2], u2);
    EXPECT_EQ(order[3], u1);
    EXPECT_TRUE(u1->marked & kMarkBit);
}

TEST_F(Upvalues, ClosingCopiesTheValueAndMovesToTheObjectList) {
    for (int i = 0; i < 4; i++) SetNumber(L->top++, 10 + i);
    ScriptValue* s = L->stack;
    VmUpval* low = VmFindUpvalue(L, s + 1);
    VmUpval* high = VmFindUpvalue(L, s + 3);
    SetNumber(s + 3, 99);  // an open upvalue sees the slot
    EXPECT_EQ(high->v->value.n, 99);
    VmCloseUpvalues(L, s + 2);
    EXPECT_EQ(high->v, &high->value);
    EXPECT_EQ(high->value.value.n, 99);
    SetNumber(s + 3, 0);
    EXPECT_EQ(high->v->value.n, 99);
    EXPECT_EQ(L->g->rootgc, high);
    EXPECT_EQ(L->openupval, low);
    EXPECT_EQ(low->v, s + 1);
}

TEST(LocalNames, CountsOnlyVariablesActiveAtPc) {
    struct NameStorage {
        VmString header;
        char bytes[2];
    } storage[3];
    const char* text[] = {"a", "b", "c"};
    VmLocVar vars[3];
    for (int i = 0; i < 3; i++) {
        VmString* s = &storage[i].header;
        s->len = 1;
        std::memcpy(VmStrData(s), text[i], 2);
        vars[i].varname = s;
    }
    vars[0].startpc = 0, vars[0].endpc = 10;
    vars[1].startpc = 2, vars[1].endpc = 4;
    vars[2].startpc = 5, vars[2].endpc = 10;
    ScriptProto p{};
    p.locvars = vars;
    p.sizelocvars = 3;
    EXPECT_STREQ(VmGetLocalName(&p, 1, 3), "a");
    EXPECT_STREQ(VmGetLocalName(&p, 2, 3), "b");
    EXPECT_STREQ(VmGetLocalName(&p, 2, 6), "c");
    EXPECT_EQ(VmGetLocalName(&p, 3, 6), nullptr);
    EXPECT_EQ(VmGetLocalName(&p, 2, 4), nullptr);  // end pc is exclusive
}

}  // namespace

// The digit writer for whole numbers must agree with "%.14g" everywhere,
// including around its limits, for negatives and for -0.
TEST(NumberText, WholeNumbersMatchTheFormatter) {
    std::vector<double> values = {0.0, -0.0, 1, -1, 9, 10, 99999999999999.0, -99999999999999.0, 1e14, -1e14,
                                  123456789012345.0, 4294967295.0, 0.5, -2.5, 1e300, 1e-300};
    uint64_t x = 88172645463325252ull;
    for (int i = 0; i < 20000; i++) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        double scale = static_cast<double>(1ull << (x % 50));
        values.push_back(static_cast<double>(static_cast<int64_t>(x % 200000000000000ull) - 100000000000000ll) / scale);
        values.push_back(static_cast<double>(static_cast<int64_t>(x >> 20) % 100000000000000ll));
    }
    for (double v : values) {
        char fast[32], slow[32];
        VmNumberToText(v, fast);
        std::snprintf(slow, sizeof slow, "%.14g", v);
        ASSERT_STREQ(fast, slow) << v;
    }
}
