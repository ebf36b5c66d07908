// Tests of the VM's object model: number/string conversions, string
// interning, the collection threshold and allocation failure.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/errcodes.h"
#include "vm/internal.h"
#include "vm/stringblock.h"
#include "vm_fixture.h"

namespace {

struct StateFixture : vmtest::NativeFixture {
    // The strings here are held in C variables only, which the stress mode's
    // collections would take.
    void SetUp() override {
        NativeFixture::SetUp();
        if (L != nullptr) L->g->gcStress = false;
    }
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
        {"12 \t\n", true, 12},
        {"12a", false, 0},
        {"$", false, 0},
        {"", false, 0},
        {"  7", true, 7},
        {"-2.5e1", true, -25},
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

TEST_F(Interning, EqualBytesGiveTheSameObjectEvenWithEqualHashes) {
    VmString* a = Str(std::string("a\0b", 3));
    EXPECT_NE(a, Str(std::string("a\0c", 3)));
    EXPECT_NE(a, Str("a"));
    EXPECT_EQ(a, Str(std::string("a\0b", 3)));
    EXPECT_EQ(Str(""), VmNewString(L, "x", 0));
    // A 64-byte string samples every third byte from the end, so byte 1 is
    // not hashed: equal hashes, yet distinct strings.
    std::string s1(64, 'x'), s2(64, 'x');
    s2[1] = 'y';
    EXPECT_EQ(Str(s1)->hash, Str(s2)->hash);
    EXPECT_NE(Str(s1), Str(s2));
}

// A block filled in place becomes the same interned string as a copy of its
// bytes, small or large; an equal string already held wins and the block is
// freed; over the memory limit the push raises and still frees it (the
// sanitizer build sees any leak).
TEST_F(Interning, StringsBuiltInPlaceAreTheSameAsCopies) {
    auto block = [](const std::string& text) {
        auto* p = static_cast<char*>(std::malloc(kVmStringBlockHeader + text.size() + 1));
        std::memcpy(p + kVmStringBlockHeader, text.data(), text.size());
        return p;
    };
    std::string large(100000, 'z');
    large[5] = '\0';
    for (const std::string& text : {std::string("hello"), large}) {
        VmSetTop(L, 0);
        VmPushStringBlock(L, block(text), text.size());
        VmString* built = StrValue(L->top - 1);
        EXPECT_EQ(std::string(VmStrData(built), built->len), text);
        EXPECT_EQ(VmStrData(built)[text.size()], '\0');
        EXPECT_EQ(built, Str(text));
        VmPushStringBlock(L, block(text), text.size());
        EXPECT_EQ(StrValue(L->top - 1), built);
    }
    VmSetTop(L, 0);
    large[6] = 'y';  // not held yet
    L->g->memLimit = L->g->nblocks + 1000;
    struct Push {
        char* p;
        size_t n;
    } push{block(large), large.size()};
    const int code = VmProtectedRun(
        L, [](ScriptState* S, void* ud) { VmPushStringBlock(S, static_cast<Push*>(ud)->p, static_cast<Push*>(ud)->n); },
        &push);
    EXPECT_EQ(code, ERR_MEM);
    L->g->memLimit = 0;
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
                                  123456789012345.0, 4294967295.0, 4294967296.0, 0.5, -2.5, 1e300, 1e-300};
    // The digit count is decided at each power of ten.
    for (double p = 10; p < 1e14; p *= 10) values.insert(values.end(), {p - 1, p, -p, 1 - p});
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
