// Tests of the native API: stack indices and their misuse, queries, pushes,
// table access, metatables, upvalues and userdata.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "core/errcodes.h"
#include "vm/internal.h"
#include "vm_fixture.h"

namespace {

using Body = vmtest::NativeBody;
using ApiTest = vmtest::NativeFixture;
using vmtest::NativeTrampoline;
using ApiScriptTest = vmtest::VmFixture;

// ---- pseudo-indices and misuse ------------------------------------------------

TEST_F(ApiTest, PseudoIndicesNameRegistryGlobalsAndUpvalues) {
    EXPECT_EQ(VmType(L, kRegistryIndex), kTypeTable);
    EXPECT_EQ(VmType(L, kGlobalsIndex), kTypeTable);
    EXPECT_FALSE(VmRawEqual(L, kRegistryIndex, kGlobalsIndex));
    // The base frame runs no closure, so it has no upvalues.
    EXPECT_EQ(VmType(L, VmUpvalueIndex(1)), kTypeNone);

    VmPushNumber(L, 7);
    VmPushString(L, "up");
    VmPushCClosure(L, [](ScriptState* S) {
        EXPECT_EQ(VmGetUpvalues(S), 2);
        EXPECT_EQ(VmToNumber(S, VmUpvalueIndex(1)), 7);
        EXPECT_EQ(VmType(S, VmUpvalueIndex(2)), kTypeString);
        EXPECT_EQ(VmType(S, VmUpvalueIndex(3)), kTypeNone);
        VmPushNumber(S, 42);
        VmReplace(S, VmUpvalueIndex(1));
        return 0;
    }, 2);
    VmPushValue(L, -1);
    EXPECT_EQ(VmPCall(L, 0, 0, 0), 0);
    EXPECT_STREQ(VmGetUpvalue(L, 1, 1), "");  // native upvalues have empty names
    EXPECT_EQ(VmToNumber(L, -1), 42);
    EXPECT_EQ(VmGetUpvalue(L, 1, 3), nullptr);
    EXPECT_EQ(VmGetUpvalue(L, 1, 0), nullptr);
    VmPushNumber(L, 9);
    EXPECT_STREQ(VmSetUpvalue(L, 1, 2), "");
    VmGetUpvalue(L, 1, 2);
    EXPECT_EQ(VmToNumber(L, -1), 9);
    VmPushNumber(L, 4);
    EXPECT_EQ(VmSetUpvalue(L, 1, 5), nullptr);
    EXPECT_EQ(VmGetUpvalue(L, 2, 1), nullptr);  // a number has no upvalues
}

// A script closure's upvalues, closed when its frame returned: each read
// and written through the API by its number, as the closure then sees it.
TEST_F(ApiScriptTest, ScriptClosureUpvaluesReadAndWriteWhatTheClosureSees) {
    ASSERT_EQ(Run(R"(.function main maxstack=4
    LOADK 0 #5
    LOADK 1 #6
    CLOSURE 2 second
    MOVE 0 0
    MOVE 0 1
    SETGLOBAL 2 "second"
    RETURN 0 1
  .function second upvalues=2
    GETUPVAL 0 1
    RETURN 0 2
  .end
.end)"),
              0);
    VmSetTop(L, 0);
    PushGlobal("second");
    for (int n : {1, 2}) {
        ASSERT_NE(VmGetUpvalue(L, 1, n), nullptr) << n;
        EXPECT_EQ(VmToNumber(L, -1), 4 + n);
        VmSetTop(L, 1);
    }
    EXPECT_EQ(VmGetUpvalue(L, 1, 3), nullptr);
    VmPushNumber(L, 8);
    EXPECT_NE(VmSetUpvalue(L, 1, 2), nullptr);
    EXPECT_EQ(VmGetTop(L), 1);
    VmPushValue(L, 1);
    ASSERT_EQ(VmPCall(L, 0, 1, 0), 0);
    EXPECT_EQ(VmToNumber(L, -1), 8);
}

// The identity a native gets for each kind: the object for collected
// kinds, the block for userdata, the pointer itself for a light one, none
// for plain values.
TEST_F(ApiTest, ToPointerIdentifiesObjectsAndNothingElse) {
    int marker = 0;
    VmPushNewTable(L);
    VmPushValue(L, 1);
    VmPushNewTable(L);
    VmPushLightUserdata(L, &marker);
    void* block = VmNewUserdata(L, 8);
    VmPushNumber(L, 3);
    VmPushString(L, "text");
    VmPushNil(L);
    VmPushBoolean(L, 1);
    VmPushCClosure(L, [](ScriptState*) { return 0; }, 0);
    ASSERT_NE(VmToPointer(L, 1), nullptr);
    EXPECT_EQ(VmToPointer(L, 1), VmToPointer(L, 2));
    EXPECT_NE(VmToPointer(L, 1), VmToPointer(L, 3));
    EXPECT_EQ(VmToPointer(L, 4), &marker);
    EXPECT_EQ(VmToPointer(L, 5), block);
    for (int idx : {6, 7, 8, 9}) EXPECT_EQ(VmToPointer(L, idx), nullptr) << idx;
    EXPECT_NE(VmToPointer(L, 10), nullptr);
    EXPECT_EQ(VmToPointer(L, 11), nullptr) << "past the top";
    EXPECT_EQ(VmToThread(L, 1), nullptr);
}

TEST_F(ApiTest, MisuseRaisesStackError) {
    const std::function<void(ScriptState*)> misuses[] = {
        [](ScriptState* S) { VmPushValue(S, 5); },
        [](ScriptState* S) { VmRemove(S, kRegistryIndex); },
        [](ScriptState* S) { VmInsert(S, 1); },
        [](ScriptState* S) { VmReplace(S, 1); },
        [](ScriptState* S) { VmSetTop(S, 500); },
        [](ScriptState* S) { VmSetTop(S, -3); },
        [](ScriptState* S) { VmRawGetIndex(S, kGlobalsIndex - 5, 1); },
        [](ScriptState* S) { VmPushNumber(S, 1); VmRawGet(S, 1); },
        [](ScriptState* S) { VmPushNewTable(S); VmSetTableAt(S, 1); },
        [](ScriptState* S) { VmConcat(S, 3); },
        [](ScriptState* S) { VmPushCClosure(S, NativeTrampoline, 2); },
        [](ScriptState* S) { VmPushNumber(S, 1); VmReplace(S, kRegistryIndex); },
        [](ScriptState* S) { VmPushNewTable(S); VmPushNumber(S, 3); VmSetMetatable(S, 1); },
        [](ScriptState* S) { VmNext(S, 1); },
        [](ScriptState* S) { for (int i = 0; i <= kMinStackForHandler; i++) VmPushNil(S); },
    };
    for (size_t i = 0; i < std::size(misuses); i++) {
        VmClose(L);
        L = VmOpen();
        const auto& misuse = misuses[i];
        EXPECT_EQ(Run([&](ScriptState* S) { misuse(S); return 0; }), ERR_STACK) << "case " << i;
    }
}

TEST_F(ApiTest, ChecksStayOnAfterARaise) {
    ASSERT_EQ(Run([](ScriptState* S) { VmPushValue(S, 5); return 0; }), ERR_STACK);
    VmSetTop(L, 0);
    // The last usable slot keeps its margin after a caught error.
    EXPECT_EQ(L->stack_last, L->stack + L->stacksize - 6);
    // A caught error is routine (error handlers, callbacks): the same misuse
    // is refused again, and so is a push past the frame.
    EXPECT_EQ(Run([](ScriptState* S) { VmPushValue(S, 5); return 0; }), ERR_STACK);
    VmSetTop(L, 0);
    int pushed = 0;
    EXPECT_EQ(Run([&](ScriptState* S) {
                  for (int i = 0; i < 3 * kMinStackForHandler; i++, pushed++) VmPushNumber(S, i);
                  return 0;
              }),
              ERR_STACK);
    EXPECT_EQ(pushed, kMinStackForHandler);
}

TEST_F(ApiTest, CheckStackWidensTheFrameUpToItsLimit) {
    EXPECT_EQ(Run([](ScriptState* S) {
                  EXPECT_EQ(VmCheckStack(S, kMaxFrameSlots + 1), 0);
                  EXPECT_EQ(VmCheckStack(S, 100), 1);
                  for (int i = 0; i < 100; i++) VmPushNumber(S, i);
                  EXPECT_EQ(VmToNumber(S, 1), 0);
                  EXPECT_EQ(VmToNumber(S, 100), 99);
                  EXPECT_EQ(VmCheckStack(S, kMaxFrameSlots - 100), 1);
                  EXPECT_EQ(VmCheckStack(S, kMaxFrameSlots - 99), 0);
                  return 0;
              }),
              0);
}

// ---- queries ----------------------------------------------------------------

TEST_F(ApiTest, QueriesFollowTheConversionsAndIndicesOutsideAreNoValue) {
    VmPushNil(L);             // 1
    VmPushString(L, "0x1A");  // 2
    VmPushString(L, "12a");   // 3
    VmPushNumber(L, 12.5);    // 4
    VmPushBoolean(L, 0);      // 5
    EXPECT_TRUE(VmIsNumber(L, 1));
    EXPECT_EQ(VmToNumber(L, 2), 26);
    EXPECT_FALSE(VmIsNumber(L, 3));
    EXPECT_EQ(VmToNumber(L, 3), 0);
    EXPECT_TRUE(VmIsString(L, 4));
    EXPECT_FALSE(VmIsString(L, 1));
    // Truth for native code: only nil, false and no value are false.
    EXPECT_EQ(VmToBoolean(L, 1), 0);
    EXPECT_EQ(VmToBoolean(L, 5), 0);
    EXPECT_EQ(VmToBoolean(L, 6), 0);
    VmPushNumber(L, 0);
    EXPECT_EQ(VmToBoolean(L, -1), 1);
    // Outside the values: no value, never a raise.
    for (int idx : {7, -7, 0, 1 << 30, -(1 << 30)}) EXPECT_EQ(VmType(L, idx), kTypeNone) << idx;
    EXPECT_EQ(VmToCString(L, 9), nullptr);
    EXPECT_STREQ(VmTypeName(L, kTypeNone), "no value");
}

// ---- comparison -------------------------------------------------------------

int AlwaysEqual(ScriptState* S) {
    VmPushNumber(S, 1);
    return 1;
}

TEST_F(ApiTest, EqualityIsZeroAcrossKindsAndUsesACommonEqMetamethod) {
    VmPushNil(L);        // 1
    VmPushNumber(L, 0);  // 2
    VmPushString(L, "0");
    VmPushString(L, "0");  // 4
    EXPECT_EQ(VmEqual(L, 1, 2), 0);
    EXPECT_EQ(VmEqual(L, 2, 3), 0);
    EXPECT_EQ(VmEqual(L, 3, 4), 1);
    EXPECT_EQ(VmRawEqual(L, 9, 9), 0);
    VmPushNewTable(L);  // 5: shared metatable
    VmPushString(L, "__eq");
    VmPushCClosure(L, AlwaysEqual, 0);
    VmRawSet(L, 5);
    for (int i = 6; i <= 7; i++) {
        VmPushNewTable(L);
        VmPushValue(L, 5);
        VmSetMetatable(L, i);
    }
    VmPushNewTable(L);  // 8: no metatable
    EXPECT_EQ(VmEqual(L, 6, 7), 1);
    EXPECT_EQ(VmRawEqual(L, 6, 7), 0);
    EXPECT_EQ(VmEqual(L, 6, 8), 0);
}

TEST_F(ApiTest, CompareLessHonoursTheCaseFlag) {
    VmPushString(L, "B");
    VmPushString(L, "a");
    VmPushNumber(L, 1);
    VmPushNumber(L, 2);
    EXPECT_EQ(VmCompareLess(L, 1, 2, 0), 1);
    EXPECT_EQ(VmCompareLess(L, 1, 2, 1), 0);
    EXPECT_EQ(VmCompareLess(L, 2, 1, 1), 1);
    EXPECT_EQ(VmCompareLess(L, 3, 4, 0), 1);
    EXPECT_EQ(VmCompareLess(L, 4, 3, 0), 0);
    EXPECT_EQ(VmCompareLess(L, 3, 8, 0), 0);
    EXPECT_EQ(Run([](ScriptState* S) {
                  VmPushNumber(S, 1);
                  VmPushString(S, "1");
                  return VmCompareLess(S, 1, 2, 0);
              }),
              ERR_NUMSTRCMP);
}

// ---- tables and metatables ----------------------------------------------------

TEST_F(ApiTest, DefaultMetatableCountsAsNone) {
    VmPushNewTable(L);
    EXPECT_EQ(VmGetMetatable(L, 1), 0);
    EXPECT_EQ(VmGetTop(L), 1);
    VmPushNewTable(L);
    EXPECT_EQ(VmSetMetatable(L, 1), 1);
    EXPECT_EQ(VmGetMetatable(L, 1), 1);
    EXPECT_EQ(VmType(L, -1), kTypeTable);
    VmSetTop(L, 1);
    VmPushNil(L);
    EXPECT_EQ(VmSetMetatable(L, 1), 1);
    EXPECT_EQ(VmGetMetatable(L, 1), 0);

    VmPushNumber(L, 3);
    VmPushNewTable(L);
    EXPECT_EQ(VmSetMetatable(L, 2), 0);
    EXPECT_EQ(VmGetTop(L), 2);
    EXPECT_EQ(VmGetMetatable(L, 2), 0);
    EXPECT_EQ(VmGetMetatable(L, 50), 0);

    VmNewUserdata(L, 4);
    EXPECT_EQ(VmGetMetatable(L, -1), 0);
    VmPushNewTable(L);
    EXPECT_EQ(VmSetMetatable(L, -2), 1);
    EXPECT_EQ(VmGetMetatable(L, -1), 1);
}

TEST_F(ApiTest, NewTableSizedRefusesImpossibleSizes) {
    VmPushNewTableSized(L, 8, 3);
    EXPECT_EQ(VmType(L, -1), kTypeTable);
    EXPECT_EQ(Run([](ScriptState* S) { VmPushNewTableSized(S, 0, 40); return 0; }), ERR_TABLEOVERFLOW);
    VmClose(L);
    L = VmOpen();
    EXPECT_EQ(Run([](ScriptState* S) { VmPushNewTableSized(S, -1, 0); return 0; }), ERR_STACK);
}

// ---- concatenation, closures, globals -------------------------------------------

TEST_F(ApiTest, ConcatOfZeroOneAndManyValues) {
    VmConcat(L, 0);
    EXPECT_EQ(VmGetTop(L), 1);
    EXPECT_EQ(StringAt(-1), "");
    VmPushNumber(L, 5);
    VmConcat(L, 1);
    EXPECT_EQ(VmGetTop(L), 2);
    EXPECT_EQ(VmType(L, -1), kTypeNumber);
    VmPushString(L, "a");
    VmPushNumber(L, 1);
    VmPushNil(L);
    VmPushString(L, "z");
    VmConcat(L, 4);
    EXPECT_EQ(VmGetTop(L), 3);
    EXPECT_EQ(StringAt(-1), "a1z");
    VmPushNewTable(L);
    EXPECT_EQ(Run([](ScriptState* S) { VmConcat(S, 2); return 0; }, 2), ERR_CONCAT);
}

}  // namespace
