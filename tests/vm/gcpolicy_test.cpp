// The collector's costs behind its fixed rules: the string table's physical
// array that keeps spare room beyond its nominal size, the sweep that visits
// only used chains, the pooled small blocks under the memory limit and their
// bound, and concatenation across collections.
#include <cstring>
#include <string>
#include <vector>

#include "vm/strtable.h"
#include "vm_fixture.h"

namespace {

class GcPolicy : public vmtest::VmFixture {
protected:
    void SetUp() override {
        VmFixture::SetUp();
        L->g->gcStress = false;         // these tests place their collections themselves
        VmSetGcThreshold(L, 4194304);  // and no automatic ones
    }

    VmString* Intern(const std::string& s) { return VmNewString(L, s.data(), s.size()); }

    // Interns strings no one keeps.
    void MakeGarbage(int n, const std::string& prefix) {
        for (int i = 0; i < n; i++) Intern(prefix + std::to_string(i));
    }

    // Walks every physical chain: the strings found, each in the chain its
    // hash selects, with the used bit of every non-empty chain set.
    uint32_t CountChained() {
        const VmStringTable& tb = L->g->strt;
        const uint64_t* used = VmStringChainBits(&tb);
        uint32_t n = 0;
        for (uint32_t i = 0; i < tb.capacity; i++) {
            bool marked = (used[i / 64] >> (i % 64) & 1) != 0;
            EXPECT_TRUE(marked || tb.hash[i] == nullptr) << "chain " << i;
            for (GCObject* o = tb.hash[i]; o != nullptr; o = o->next, n++)
                EXPECT_EQ(static_cast<VmString*>(o)->hash & (tb.capacity - 1), i);
        }
        return n;
    }

    // Keeps the strings in a table at stack index 1.
    std::vector<VmString*> MakeSurvivors(int n) {
        VmSetTop(L, 0);
        VmPushNewTable(L);
        std::vector<VmString*> kept;
        for (int i = 0; i < n; i++) {
            std::string s = "survivor" + std::to_string(i);
            VmPushLString(L, s.data(), s.size());
            kept.push_back(StrValue(L->top - 1));
            VmRawSetIndex(L, 1, i + 1);
        }
        return kept;
    }

    void ExpectStillInterned(const std::vector<VmString*>& kept) {
        for (size_t i = 0; i < kept.size(); i++) EXPECT_EQ(Intern("survivor" + std::to_string(i)), kept[i]);
    }
};

TEST_F(GcPolicy, StringsStayInternedWhileTheTableShrinksAndGrowsAgain) {
    std::vector<VmString*> kept = MakeSurvivors(100);
    uint32_t live = L->g->strt.nuse;
    for (int round = 0; round < 6; round++) {
        const std::string n = std::to_string(round);
        MakeGarbage(3000, "g" + n + "_");
        uint32_t grown = L->g->strt.size;
        ASSERT_GE(grown, 4096u);
        // Each collection halves the nominal size once, as the rules say.
        VmCollect(L);
        EXPECT_EQ(L->g->strt.size, grown / 2);
        for (int i = 0; i < 8; i++) VmCollect(L);
        const VmStringTable& tb = L->g->strt;
        EXPECT_EQ(tb.nuse, live);
        EXPECT_TRUE(tb.nuse >= tb.size / 4 || tb.size <= 64);
        EXPECT_GE(tb.capacity, tb.size);
        EXPECT_LT(tb.capacity, 4 * tb.size);
        EXPECT_EQ(CountChained(), tb.nuse);
        ExpectStillInterned(kept);
    }
}

// Survivors and garbage share chains; chains that empty and fill again
// between collections must still be swept.
TEST_F(GcPolicy, EveryUnreachableStringIsSweptRoundAfterRound) {
    std::vector<VmString*> kept = MakeSurvivors(40);
    VmCollect(L);
    uint32_t live = L->g->strt.nuse;
    size_t settled = 0;
    for (int round = 0; round < 20; round++) {
        MakeGarbage(150, "x");  // the same texts each round
        VmCollect(L);
        EXPECT_EQ(L->g->strt.nuse, live) << "round " << round;
        if (round == 1) {
            settled = L->g->nblocks;
        } else if (round > 1) {
            EXPECT_EQ(L->g->nblocks, settled) << "round " << round;
        }
    }
    EXPECT_EQ(CountChained(), live);
    ExpectStillInterned(kept);
}

// Closing frees the strings of chains beyond the nominal size too (the
// address sanitizer's leak check sees any that it misses).
TEST_F(GcPolicy, ClosingFreesStringsInTheSpareChains) {
    std::vector<VmString*> kept = MakeSurvivors(300);
    MakeGarbage(8000, "g");
    for (int i = 0; i < 4; i++) VmCollect(L);
    const VmStringTable& tb = L->g->strt;
    ASSERT_GT(tb.capacity, tb.size);
    bool beyond = false;
    for (VmString* s : kept) beyond = beyond || (s->hash & (tb.capacity - 1)) >= tb.size;
    EXPECT_TRUE(beyond);
}

// Sets the limit just above what "one more" takes, then interns it.
int InternOneMore(ScriptState* L) {
    L->g->memLimit = L->g->nblocks + sizeof(VmString) + 16;
    VmPushString(L, "one more");
    return 0;
}

// The new string fits under the limit, the doubling of the table it brings
// does not: the string stays interned and the table keeps its size.
TEST_F(GcPolicy, TheMemoryLimitStopsTheTableGrowingWithoutLosingStrings) {
    VmStringTable& tb = L->g->strt;
    for (int i = 0; tb.nuse < tb.size; i++) Intern("filler" + std::to_string(i));
    uint32_t size = tb.size;
    VmPushCClosure(L, InternOneMore, 0);
    EXPECT_EQ(VmPCall(L, 0, 0, 0), ERR_MEM);
    L->g->memLimit = 0;
    EXPECT_EQ(tb.size, size);
    EXPECT_EQ(tb.nuse, size + 1);
    EXPECT_EQ(CountChained(), tb.nuse);
    size_t before = L->g->nblocks;
    Intern("one more");
    EXPECT_EQ(L->g->nblocks, before);  // found, not made again
}

// Sets the limit below what the string takes, then interns it.
int InternOverTheLimit(ScriptState* L) {
    L->g->memLimit = L->g->nblocks + 8;
    VmPushString(L, "a string of some forty bytes, give or take");
    return 0;
}

// Freed small blocks wait in the pool; taking one is an allocation all the
// same and must respect the limit.
TEST_F(GcPolicy, PooledBlocksStillCountAgainstTheMemoryLimit) {
    MakeGarbage(200, "a string of some forty bytes, give or take ");
    VmCollect(L);
    VmPushCClosure(L, InternOverTheLimit, 0);
    EXPECT_EQ(VmPCall(L, 0, 0, 0), ERR_MEM);
    L->g->memLimit = 0;
    size_t before = L->g->nblocks;
    VmString* s = Intern("a string of some forty bytes, give or take");
    EXPECT_EQ(L->g->nblocks, before + sizeof(VmString) + s->len + 1);
}

// A collection frees about the live size at once, mostly in a size class or
// two, and the program asks for those sizes again right after: the pool keeps
// all of it (a fixed count per class sent most back to the system), never
// more than its bound, and gives back what is beyond the bound once the live
// size falls.
TEST_F(GcPolicy, ThePoolHoldsWhatACollectionFreesUpToTheLiveSize) {
    const VmBlockPool& pool = L->g->pool;
    MakeGarbage(3000, "n");
    VmCollect(L);
    EXPECT_GE(pool.bytes, 3000 * (sizeof(VmString) + 3));
    EXPECT_LE(pool.bytes, pool.limit);
    MakeGarbage(3000, "m");  // served from the pool
    EXPECT_LT(pool.bytes, 1000 * (sizeof(VmString) + 3));

    std::vector<VmString*> kept = MakeSurvivors(20000);
    VmCollect(L);
    EXPECT_GE(pool.limit, L->g->nblocks);
    MakeGarbage(20000, "a string of some forty bytes, give or take ");
    VmCollect(L);
    const size_t heldWhileLarge = pool.bytes;
    EXPECT_GE(heldWhileLarge, 20000 * (sizeof(VmString) + 45));
    EXPECT_LE(heldWhileLarge, pool.limit);
    ExpectStillInterned(kept);

    VmSetTop(L, 0);
    VmCollect(L);
    EXPECT_LT(pool.limit, heldWhileLarge);
    EXPECT_LE(pool.bytes, pool.limit);
}

// A line lengthened number by number across many collections reads back
// exactly: the buffer grows under the pieces already joined.
TEST_F(GcPolicy, ConcatenationBuildsLongLinesAcrossCollections) {
    VmSetGcThreshold(L, 0);
    const char* prog = R"(.function main maxstack=8
    LOADK 0 ""
    LOADK 1 #0
    LOADK 2 #3000
    LOADK 3 #1
    JMP next
body:
    MOVE 5 0
    MOVE 6 1
    LOADK 7 ","
    CONCAT 0 5 7
next:
    FORLOOP 1 body
    RETURN 0 2
.end
)";
    ASSERT_EQ(Run(prog, 1), 0);
    std::string want;
    for (int i = 1; i <= 3000; i++) want += std::to_string(i) + ",";
    ASSERT_EQ(VmStrLen(L, 1), want.size());
    EXPECT_EQ(std::memcmp(VmToCString(L, 1), want.data(), want.size()), 0);
}

}  // namespace
