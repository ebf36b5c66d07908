// Tests of the VM's object model: number/string conversions, string
// interning, the collection threshold and allocation failure.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/errcodes.h"
#include "vm/internal.h"
#include "vm/native_fixture.h"

namespace {

struct StateFixture : vmtest::NativeFixture {
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

using Interning = StateFixture;

TEST_F(Interning, EqualBytesGiveTheSameObjectEmbeddedZerosIncluded) {
    VmString* a = Str(std::string("a\0b", 3));
    EXPECT_NE(a, Str(std::string("a\0c", 3)));
    EXPECT_NE(a, Str("a"));
    EXPECT_EQ(a->len, 3u);
    EXPECT_EQ(a, Str(std::string("a\0b", 3)));
    EXPECT_EQ(VmStrData(a)[3], '\0');
}

TEST_F(Interning, EmptyStringIsAnObject) {
    VmString* e = Str("");
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->len, 0u);
    EXPECT_EQ(e, VmNewString(L, "x", 0));
}

TEST_F(Interning, StringsWithEqualHashesStayDistinct) {
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

TEST_F(OpenState, ThresholdIsInKilobytesAndFourTimesTheStartingCount) {
    EXPECT_EQ(L->g->GCthreshold, 4 * L->g->nblocks);
    int count = VmGetGcCount(L);
    EXPECT_GT(count, 0);
    EXPECT_LT(count, 16);
    VmSetGcThreshold(L, 4194303);
    EXPECT_EQ(L->g->GCthreshold, size_t{4194303} * 1024);
    VmSetGcThreshold(L, 4194304);  // no limit
    EXPECT_EQ(L->g->GCthreshold, size_t{4294967295u});
    EXPECT_EQ(VmGetGcThreshold(L), 4194303);
}

TEST_F(OpenState, HugeRequestRaisesOutOfMemoryAndCountsNothing) {
    size_t before = L->g->nblocks;
    int code = VmProtectedRun(
        L, [](ScriptState* S, void*) { VmRealloc(S, nullptr, 0, 4294967293u); }, nullptr);
    EXPECT_EQ(code, ERR_MEM);
    EXPECT_EQ(L->g->nblocks, before);
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
