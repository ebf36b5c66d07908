// The collector: weak tables, finalisers, the threshold in kilobytes, the
// shrinking of the stack, the frame array and the string table, exact byte
// accounting, and a bounded live size under a long allocation churn.
#include <algorithm>
#include <string>
#include <vector>

#include "vm_fixture.h"

namespace {

// What the finalisers saw.
struct Finalised {
    int calls = 0;
    std::vector<std::string> tags;  // the "tag" field of each finalised userdata's metatable
};

Finalised* ProbeOf(ScriptState* L) { return static_cast<Finalised*>(VmToUserdata(L, VmUpvalueIndex(1))); }

// Records the call and the "tag" string of the userdata's metatable, which
// only the userdata itself still reaches.
int RecordingFinaliser(ScriptState* L) {
    Finalised* f = ProbeOf(L);
    f->calls++;
    VmGetMetatable(L, 1);
    VmPushString(L, "tag");
    VmRawGet(L, -2);
    f->tags.emplace_back(VmType(L, -1) == kTypeString ? VmToCString(L, -1) : "?");
    return 0;
}

int RaisingFinaliser(ScriptState* L) {
    ProbeOf(L)->calls++;
    VmRaiseError(L, ERR_INTERNAL);
}

// Stores the userdata in the global "saved", so that it lives on.
int ResurrectingFinaliser(ScriptState* L) {
    ProbeOf(L)->calls++;
    VmPushString(L, "saved");
    VmPushValue(L, 1);
    VmRawSet(L, kGlobalsIndex);
    return 0;
}

int CollectCommand(ScriptState* L) {
    VmCollect(L);
    return 0;
}

int hookCalls = 0;
void CountingHook(ScriptState*, VmDebugRecord*, int*) { hookCalls++; }

class GcTest : public vmtest::VmFixture {
protected:
    void SetUp() override {
        VmFixture::SetUp();
        // These tests place their collections themselves.
        L->g->gcStress = false;
        RegisterClosure("collect", CollectCommand);
        hookCalls = 0;
    }

    // Pushes a full userdata whose metatable has the finaliser (with the
    // probe as its upvalue) and a "tag" field.
    void PushFinalisable(CommandHandler gc, const char* tag = "t") {
        VmNewUserdata(L, 24);
        VmPushNewTable(L);
        VmPushString(L, "__gc");
        VmPushLightUserdata(L, &probe);
        VmPushCClosure(L, gc, 1);
        VmRawSet(L, -3);
        VmPushString(L, "tag");
        VmPushString(L, tag);
        VmRawSet(L, -3);
        VmSetMetatable(L, -2);
    }

    // A table whose metatable has "__mode" = mode, left on the stack.
    void PushWeakTable(const char* mode) {
        VmPushNewTable(L);
        VmPushNewTable(L);
        VmPushString(L, "__mode");
        VmPushString(L, mode);
        VmRawSet(L, -3);
        VmSetMetatable(L, -2);
    }

    // Number of entries of the table at idx.
    int CountEntries(int idx) {
        int n = 0;
        VmPushNil(L);
        while (VmNext(L, idx)) {
            n++;
            VmSetTop(L, -2);
        }
        return n;
    }

    bool ListedAsUserdata(const void* block) const {
        for (GCObject* o = L->g->rootudata; o != nullptr; o = o->next)
            if (VmUdataBlock(static_cast<VmUserdata*>(o)) == block) return true;
        return false;
    }

    Finalised probe;
};

TEST_F(GcTest, WeakTablesLoseUnreferencedObjectsButNeverStrings) {
    PushWeakTable("k");  // 1
    VmPushNewTable(L);   // 2: a key that stays referenced
    VmPushValue(L, 2);
    VmPushNumber(L, 1);
    VmRawSet(L, 1);
    VmPushNewTable(L);  // a key referenced nowhere else
    VmPushNumber(L, 2);
    VmRawSet(L, 1);
    VmPushString(L, "only here");
    VmPushNumber(L, 3);
    VmRawSet(L, 1);
    VmPushNewTable(L);  // values stay strong
    VmRawSetIndex(L, 1, 7);

    PushWeakTable("v");  // 3
    VmPushValue(L, 2);
    VmRawSetIndex(L, 3, 1);
    VmPushNewTable(L);
    VmRawSetIndex(L, 3, 2);
    VmPushString(L, "text");
    VmRawSetIndex(L, 3, 3);
    PushFinalisable(RecordingFinaliser);  // goes when it is finalised
    VmRawSetIndex(L, 3, 4);

    VmCollect(L);
    EXPECT_EQ(CountEntries(1), 3);
    VmPushValue(L, 2);
    VmRawGet(L, 1);
    EXPECT_EQ(VmToNumber(L, -1), 1);
    VmPushString(L, "only here");
    VmRawGet(L, 1);
    EXPECT_EQ(VmToNumber(L, -1), 3);
    VmRawGetIndex(L, 1, 7);
    EXPECT_EQ(VmType(L, -1), kTypeTable);

    EXPECT_EQ(CountEntries(3), 2);
    EXPECT_EQ(probe.calls, 1);
    VmRawGetIndex(L, 3, 1);
    EXPECT_TRUE(VmRawEqual(L, -1, 2));
    VmRawGetIndex(L, 3, 3);
    EXPECT_STREQ(VmToCString(L, -1), "text");
}

// A walk that stands on a key whose entry the collection removes goes on
// from there: the key stays behind as a dead key.
TEST_F(GcTest, ATableWalkGoesOnOverARemovedEntry) {
    PushWeakTable("v");  // 1
    for (int i = 0; i < 8; i++) {
        VmPushNewTable(L);
        VmPushNewTable(L);
        VmRawSet(L, 1);
    }
    VmPushString(L, "kept");
    VmPushString(L, "value");
    VmRawSet(L, 1);
    VmPushNil(L);  // 2: the walk's key
    do {
        ASSERT_TRUE(VmNext(L, 1));
        VmSetTop(L, -2);
    } while (VmType(L, 2) != kTypeTable);
    // The walker holds the key; its value was held by nothing.
    VmCollect(L);
    struct Walk {
        int seen = 0;
    } walk;
    int rc = VmProtectedRun(
        L,
        [](ScriptState* S, void* ud) {
            while (VmNext(S, 1)) {
                static_cast<Walk*>(ud)->seen++;
                VmSetTop(S, -2);
            }
        },
        &walk);
    EXPECT_EQ(rc, 0);
    EXPECT_LE(walk.seen, 1);
    EXPECT_EQ(CountEntries(1), 1);
}

TEST_F(GcTest, AFinaliserRunsOnceAndALaterCollectionFreesTheUserdata) {
    PushFinalisable(RecordingFinaliser, "first");
    void* block = VmToUserdata(L, -1);
    VmSetTop(L, 0);
    size_t withUserdata = L->g->nblocks;

    // Finalisers run with hooks disallowed.
    VmSetHook(L, CountingHook, kMaskCall | kMaskRet, 0);
    VmCollect(L);
    VmSetHook(L, nullptr, 0, 0);
    EXPECT_EQ(hookCalls, 0);
    EXPECT_EQ(L->allowhook, 1);
    EXPECT_EQ(probe.calls, 1);
    ASSERT_EQ(probe.tags.size(), 1u);
    EXPECT_EQ(probe.tags[0], "first");  // its metatable outlived the decision
    EXPECT_TRUE(ListedAsUserdata(block));

    VmCollect(L);
    EXPECT_EQ(probe.calls, 1);
    EXPECT_FALSE(ListedAsUserdata(block));
    EXPECT_LT(L->g->nblocks, withUserdata);

    VmClose(L);  // nothing is left to finalise
    L = nullptr;
    EXPECT_EQ(probe.calls, 1);
}

TEST_F(GcTest, ReachableUserdataAreFinalisedAtCloseEvenAfterOneRaises) {
    for (int i = 0; i < 3; i++) {
        PushFinalisable(i == 1 ? RaisingFinaliser : RecordingFinaliser);
        const std::string n = std::to_string(i);
        SetGlobal(("u" + n).c_str());
    }
    VmNewUserdata(L, 4);  // no metatable, no finaliser: simply freed
    VmSetTop(L, 0);
    VmCollect(L);
    VmCollect(L);
    EXPECT_EQ(probe.calls, 0);
    VmClose(L);
    L = nullptr;
    EXPECT_EQ(probe.calls, 3);
}

TEST_F(GcTest, AResurrectedUserdataIsNotFinalisedAgain) {
    PushFinalisable(ResurrectingFinaliser);
    void* block = VmToUserdata(L, -1);
    VmSetTop(L, 0);
    VmCollect(L);
    EXPECT_EQ(probe.calls, 1);
    VmCollect(L);
    EXPECT_TRUE(ListedAsUserdata(block));  // "saved" holds it
    VmPushNil(L);
    SetGlobal("saved");
    VmCollect(L);
    EXPECT_FALSE(ListedAsUserdata(block));
    EXPECT_EQ(probe.calls, 1);
}

TEST_F(GcTest, AFinaliserThatRaisesLeavesTheVmUsable) {
    // Due finalisers run newest first.
    PushFinalisable(RecordingFinaliser);
    PushFinalisable(RaisingFinaliser);
    void* block = VmToUserdata(L, -1);
    VmSetTop(L, 0);
    const char* prog = R"(.function main maxstack=4
    GETGLOBAL 0 "collect"
    CALL 0 1 1
    LOADK 0 "after"
    RETURN 0 2
.end)";
    int rc = Run(prog);
    EXPECT_EQ(rc, ERR_INTERNAL);
    EXPECT_EQ(probe.calls, 1);
    EXPECT_EQ(L->ci, L->base_ci);
    EXPECT_EQ(L->allowhook, 1);
    EXPECT_FALSE(L->g->runningFinalisers);

    // The finaliser that was cut off runs at the next collection; the one
    // that raised is not called again and is freed.
    EXPECT_EQ(Eval(prog), "\"after\"");
    EXPECT_EQ(probe.calls, 2);
    VmCollect(L);
    EXPECT_FALSE(ListedAsUserdata(block));
    EXPECT_EQ(probe.calls, 2);
    EXPECT_EQ(Eval(".function main maxstack=2\nLOADK 0 #5\nRETURN 0 2\n.end\n"), "5");
}

TEST_F(GcTest, NoLimitThresholdStopsAutomaticCollection) {
    VmSetGcThreshold(L, 4194304);
    size_t start = L->g->nblocks;
    for (int i = 0; i < 20000; i++) {
        VmPushNewTable(L);
        VmSetTop(L, -2);
    }
    EXPECT_GE(L->g->nblocks, start + 20000 * sizeof(VmTable));

    // Lowering the threshold under the live count collects at once.
    VmSetGcThreshold(L, 0);
    EXPECT_LT(L->g->nblocks, start + 1024);
    EXPECT_EQ(L->g->GCthreshold, 2 * L->g->nblocks);
}

// Every allocation and free is counted with its real size: a second round of
// the same garbage leaves the count exactly where the first left it (the
// first may grow tables that do not shrink back, such as the string table).
TEST_F(GcTest, TheByteCountReturnsExactlyOnceGarbageIsCollected) {
    const char* prog = R"(.function main maxstack=8
    NEWTABLE 0 0 0
    LOADK 1 #1
    LOADK 2 #40
    LOADK 3 #1
    JMP next
body:
    SETTABLE 0 1 1
    LOADK 4 "k"
    MOVE 5 1
    CONCAT 6 4 5
    SETTABLE 0 6 1
    CLOSURE 7 inner
    MOVE 0 0
next:
    FORLOOP 1 body
    CLOSURE 7 inner
    MOVE 0 0
    CALL 7 1 2
    RETURN 7 2
  .function inner maxstack=2 upvalues=1
    GETUPVAL 0 0
    RETURN 0 2
  .end
.end)";
    auto round = [&] {
        for (int i = 0; i < 20; i++) {
            VmPushNewTableSized(L, 3, 2);
            VmNewUserdata(L, static_cast<size_t>(i) * 3);
            VmPushNumber(L, i);
            VmPushCClosure(L, CollectCommand, 2);
            VmRawSetIndex(L, -2, 1);
            VmSetTop(L, 0);
        }
        PushFinalisable(RecordingFinaliser);
        // A weak table that one collection finds reachable and the next not.
        PushWeakTable("kv");
        SetGlobal("weak");
        VmCollect(L);
        VmPushNil(L);
        SetGlobal("weak");
        VmSetTop(L, 0);
        ASSERT_EQ(Run(prog), 0);
        VmSetTop(L, 0);
        VmCollect(L);  // finalises
        VmCollect(L);  // frees the finalised userdata
    };
    round();
    size_t settled = L->g->nblocks;
    round();
    EXPECT_EQ(L->g->nblocks, settled);
    EXPECT_EQ(probe.calls, 2);
}

TEST_F(GcTest, TheStackAndFrameArraysShrinkAfterDeepRecursion) {
    const std::string prog = vmtest::RecursionProgram("#1500");
    VmSetGcThreshold(L, 4194304);  // no collection before the one below
    ASSERT_EQ(Eval(prog), "1500");
    VmSetTop(L, 0);
    int stackBefore = L->stacksize;
    int framesBefore = L->size_ci;
    ASSERT_GT(stackBefore, 1500);
    ASSERT_GE(framesBefore, 1500);

    VmCollect(L);
    EXPECT_EQ(L->stacksize, stackBefore / 2);
    EXPECT_EQ(L->size_ci, framesBefore / 2);
    for (int i = 0; i < 20; i++) VmCollect(L);
    EXPECT_LE(L->stacksize, 2 * (kBasicStackSize + kExtraStack));
    EXPECT_EQ(L->size_ci, 2 * kBasicFrames);
    EXPECT_EQ(L->stack_last, L->stack + L->stacksize - 6);

    // Deep calls grow them again as before.
    EXPECT_EQ(Eval(prog), "1500");
}

// Records the peak of the live byte count.
size_t peakBytes = 0;
int SampleCommand(ScriptState* L) {
    peakBytes = std::max(peakBytes, L->g->nblocks);
    return 0;
}

// 10^7 short-lived four-field tables, each with a string of up to 50 bytes
// built by concatenation (strings die and are made again all the time):
// the live size stays within a fixed bound throughout (sampled every 1000
// tables).
TEST_F(GcTest, ChurnStaysUnderAFixedBound) {
#if defined(__SANITIZE_ADDRESS__)
    constexpr int kThousands = 1000;  // the sanitizer's allocator is slow; the bound is the same
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    constexpr int kThousands = 1000;
#else
    constexpr int kThousands = 10000;
#endif
#else
    constexpr int kThousands = 10000;
#endif
    std::string prog = R"(.function main maxstack=16
    LOADK 0 #0
    LOADK 1 #)" + std::to_string(kThousands) + R"(
    LOADK 2 #1
    JMP thousands
fifties:
    LOADK 3 #0
    LOADK 4 #20
    LOADK 5 #1
    JMP fifty
tables:
    LOADK 7 ""
    LOADK 8 "x"
    LOADK 9 #0
    LOADK 10 #50
    LOADK 11 #1
    JMP table
fill:
    NEWTABLE 6 0 3
    SETTABLE 6 "x" 9
    SETTABLE 6 "y" 3
    SETTABLE 6 "z" 0
    CONCAT 7 7 8
    SETTABLE 6 "w" 7
table:
    FORLOOP 9 fill
fifty:
    FORLOOP 3 tables
    GETGLOBAL 12 "sample"
    CALL 12 1 1
thousands:
    FORLOOP 0 fifties
    RETURN 0 2
.end)";
    RegisterClosure("sample", SampleCommand);
    peakBytes = 0;
    size_t start = L->g->nblocks;
    EXPECT_EQ(Eval(prog), std::to_string(kThousands));
    EXPECT_GT(peakBytes, start);
    EXPECT_LT(peakBytes, start + 256 * 1024);
}

}  // namespace
