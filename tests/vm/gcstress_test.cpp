// The collector's stress mode: a full collection before every allocation
// that grows the VM's memory, so that an object native code holds only in a
// C variable is taken at the next allocation, wherever that falls.
#include <cstdint>
#include <string>
#include <vector>

#include "vm_fixture.h"

namespace {

// Whether the object is still on the collector's list; compared by address
// only, since a freed one must not be read.
bool Listed(ScriptState* L, const void* o) {
    for (const GCObject* p = L->g->rootgc; p != nullptr; p = p->next)
        if (p == o) return true;
    return false;
}

// A bare block: an allocation with no collection check point around it.
void AllocateBlock(ScriptState* L) {
    char* block = VmNewVector<char>(L, 64);
    VmFreeVector(L, block, 64);
}

// Pushes nils until `free` slots are left before the stack must grow, so that
// the next few pushes of the VM's own grow it (and, in the mode, collect).
void LeaveFreeSlots(ScriptState* L, int free) {
    int pushes = static_cast<int>(L->stack_last - L->top) - free;
    ASSERT_GE(pushes, 0);
    ASSERT_TRUE(VmCheckStack(L, pushes));
    for (int i = 0; i < pushes; i++) VmPushNil(L);
    ASSERT_EQ(L->stack_last - L->top, free);
}

constexpr uint32_t kMagic = 0x5AFE;
int finalisedIntact = 0;

// Counts the finalisations that found the userdata's block as it was made.
int CheckingFinaliser(ScriptState* L) {
    if (*static_cast<uint32_t*>(VmToUserdata(L, 1)) == kMagic) finalisedIntact++;
    return 0;
}

class GcStress : public vmtest::NativeFixture {
protected:
    // The mode is set here whatever the environment says.
    void SetUp() override {
        NativeFixture::SetUp();
        if (L != nullptr) L->g->gcStress = true;
    }
    // Runs a command that makes a table it keeps on the stack (with a string
    // in it) and then one that it holds only in a C variable, and allocates
    // once; answers whether the second is still listed after the allocation,
    // and whether that allocation collected.
    void LooseTableAcrossAllocation(bool* looseListed, bool* collected) {
        int code = Run([&](ScriptState* S) {
            VmPushNewTable(S);
            VmPushString(S, "kept");
            VmRawSetIndex(S, -2, 1);
            VmPushNewTable(S);
            const void* loose = VmToPointer(S, -1);
            VmSetTop(S, -2);
            uint32_t before = S->g->collections;
            AllocateBlock(S);
            *collected = S->g->collections != before;
            *looseListed = Listed(S, loose);
            VmRawGetIndex(S, -1, 1);
            EXPECT_EQ(StringAt(-1), "kept");
            return 0;
        });
        EXPECT_EQ(code, 0);
    }
};

TEST_F(GcStress, AnObjectHeldOnlyInCIsTakenAtTheNextAllocation) {
    bool looseListed = true, collected = false;
    LooseTableAcrossAllocation(&looseListed, &collected);
    EXPECT_TRUE(collected);
    EXPECT_FALSE(looseListed);
}

// Without the mode an allocation collects nothing, and neither does one in a
// window the VM marks as broken.
TEST_F(GcStress, NoCollectionAtAllocationWithoutTheModeOrInsideAHold) {
    L->g->gcStress = false;
    bool looseListed = false, collected = true;
    LooseTableAcrossAllocation(&looseListed, &collected);
    EXPECT_FALSE(collected);
    EXPECT_TRUE(looseListed);

    L->g->gcStress = true;
    uint32_t before = L->g->collections;
    {
        VmGcHold hold(L);
        AllocateBlock(L);
    }
    EXPECT_EQ(L->g->collections, before);
    AllocateBlock(L);
    EXPECT_EQ(L->g->collections, before + 1);
}

// The pushes and loads of the VM itself, each at the moment the stack grows:
// what they push counts before the growth collects, the prototype being read
// is on the stack, and a due userdata stays on the due list until its
// finaliser has it on the stack.
TEST_F(GcStress, LoadsAndFinalisersWhereTheStackGrows) {
    std::vector<uint8_t> chunk;
    std::string error;
    ASSERT_TRUE(AssembleText(".function main maxstack=2\nLOADK 0 \"loaded\"\nRETURN 0 2\n.end\n", chunk, error))
        << error;
    for (int free = 1; free <= 4; free++) {
        finalisedIntact = 0;
        int code = Run([&](ScriptState* S) {
            auto* block = static_cast<uint32_t*>(VmNewUserdata(S, sizeof(uint32_t)));
            *block = kMagic;
            VmPushNewTable(S);
            VmPushString(S, "__gc");
            VmPushCClosure(S, CheckingFinaliser, 0);
            VmRawSet(S, -3);
            VmSetMetatable(S, -2);
            VmSetTop(S, -2);
            LeaveFreeSlots(S, free);
            VmCollect(S);
            EXPECT_EQ(finalisedIntact, 1) << free;

            VmSetTop(S, 0);
            LeaveFreeSlots(S, free);
            EXPECT_EQ(VmLoadBuffer(S, reinterpret_cast<const char*>(chunk.data()), chunk.size(), "t"), 0);
            EXPECT_EQ(VmPCall(S, 0, 1, 0), 0) << free;
            EXPECT_EQ(StringAt(-1), "loaded") << free;
            return 0;
        });
        EXPECT_EQ(code, 0);
    }
}

// The weak table of sizes is made on first use, its "__mode" string included,
// while each allocation may collect; the next collection reads that mode.
TEST_F(GcStress, TheSizesTableIsMadeWithEveryPartHeld) {
    int code = Run([](ScriptState* S) {
        VmPushNewTable(S);
        VmPushString(S, "n");
        VmPushString(S, "not a size");
        VmRawSet(S, -3);
        VmSetN(S, -1, 5);
        VmCollect(S);
        EXPECT_EQ(VmGetN(S, -1), 5);
        return 0;
    });
    EXPECT_EQ(code, 0);
}

}  // namespace
