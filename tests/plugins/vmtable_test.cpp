// The plugin header's script-VM table against the table the player hands
// out: every slot at the same place with the same prototype, the records
// it passes (object ids, string buffers) laid out alike.
#include <gtest/gtest.h>

#include <cstddef>
#include <type_traits>

#include "core/apitable.h"
#include "core/plugin.h"
#include "plugins/plugin.h"

namespace {

// A slot whose prototype names no record of the header's own.
#define SAME(header, host, slot)                                                                            \
    static_assert(offsetof(qbVmTable, header) == (slot) * sizeof(void*) &&                                  \
                      offsetof(VmApiTable, host) == (slot) * sizeof(void*),                                 \
                  #header);                                                                                 \
    static_assert(std::is_same_v<decltype(qbVmTable::header), decltype(VmApiTable::host)>, #header);
// A slot that takes the header's qbObjectID or qbScriptBuffer.
#define PLACE(header, host, slot)                                                                           \
    static_assert(offsetof(qbVmTable, header) == (slot) * sizeof(void*) &&                                  \
                      offsetof(VmApiTable, host) == (slot) * sizeof(void*),                                 \
                  #header);
#define SLOTS \
    SAME(GetTop, getTop, 0) \
    SAME(SetTop, setTop, 1) \
    SAME(PushValue, pushValue, 2) \
    SAME(Remove, remove, 3) \
    SAME(Insert, insert, 4) \
    SAME(Replace, replace, 5) \
    SAME(IsCFunction, isCFunction, 6) \
    SAME(IsNumber, isNumber, 7) \
    SAME(IsString, isString, 8) \
    SAME(IsUserdata, isUserdata, 9) \
    SAME(Type, type, 10) \
    SAME(Equal, equal, 11) \
    SAME(RawEqual, rawEqual, 12) \
    SAME(CompareLess, compareLess, 13) \
    SAME(ToNumber, toNumber, 14) \
    SAME(ToCString, toCString, 15) \
    SAME(StrLen, strLen, 16) \
    SAME(ToCFunction, toCFunction, 17) \
    SAME(ToUserdata, toUserdata, 18) \
    SAME(ToPointer, toPointer, 19) \
    SAME(PushNil, pushNil, 20) \
    SAME(PushNumber, pushNumber, 21) \
    SAME(PushLString, pushLString, 22) \
    SAME(PushString, pushString, 23) \
    SAME(PushLightUserdata, pushLightUserdata, 24) \
    SAME(PushCClosure, pushCClosure, 25) \
    SAME(GetTable, getTableAt, 26) \
    SAME(RawGet, rawGet, 27) \
    SAME(RawGetIndex, rawGetIndex, 28) \
    SAME(PushNewTable, pushNewTable, 29) \
    SAME(GetGlobalsTable, getGlobalsTable, 30) \
    SAME(SetTable, setTableAt, 31) \
    SAME(RawSet, rawSet, 32) \
    SAME(RawSetIndex, rawSetIndex, 33) \
    SAME(SetGlobalsTable, setGlobalsTable, 34) \
    SAME(PCall, pcall, 35) \
    SAME(Next, next, 36) \
    SAME(Concat, concat, 37) \
    SAME(GetUpvalues, getUpvalues, 38) \
    SAME(GetUpvalue, getUpvalue, 39) \
    SAME(SetUpvalue, setUpvalue, 40) \
    SAME(NewUserdata, newUserdata, 41) \
    SAME(SetMetatable, setMetatable, 42) \
    SAME(GetMetatable, getMetatable, 43) \
    SAME(RaiseError, raiseError, 44) \
    SAME(CheckString, checkString, 45) \
    SAME(OptString, optString, 46) \
    SAME(CheckNumber, checkNumber, 47) \
    SAME(OptNumber, optNumber, 48) \
    SAME(CheckInt, checkInt, 49) \
    SAME(OptInt, optInt, 50) \
    SAME(CheckTable, checkTable, 51) \
    SAME(CheckFunction, checkFunction, 52) \
    SAME(CheckType, checkType, 53) \
    SAME(MakeRef, makeRef, 54) \
    SAME(ReleaseRef, releaseRef, 55) \
    PLACE(GetObjectIDArg, getObjectIDArg, 56) \
    SAME(NewNamedMetatable, newNamedMetatable, 57) \
    SAME(GetNamedMetatable, getNamedMetatable, 58) \
    SAME(CheckNamedUserdata, checkNamedUserdata, 59) \
    PLACE(BufferInit, bufferInit, 60) \
    PLACE(BufferPrepare, bufferPrepare, 61) \
    PLACE(BufferAddLString, bufferAddLString, 62) \
    PLACE(BufferAddString, bufferAddString, 63) \
    PLACE(BufferAddValue, bufferAddValue, 64) \
    PLACE(BufferPushResult, bufferPushResult, 65) \
    SAME(FindString, findString, 66) \
    SAME(CheckStack, checkStack, 67) \
    SAME(ResolveLinkedFileArg, resolveLinkedFileArg, 68) \
    SAME(GetNewObjectIDArg, getNewObjectIDArg, 69) \
    SAME(PushBoolean, pushBoolean, 70) \
    SAME(ToBoolean, toBoolean, 71) \
    SAME(PushNewTableSized, pushNewTableSized, 72) \
    SAME(TypeName, typeName, 73) \
    SAME(Call, call, 74) \
    SAME(GetGcThreshold, getGcThreshold, 75) \
    SAME(GetGcCount, getGcCount, 76) \
    SAME(SetGcThreshold, setGcThreshold, 77)

SLOTS

static_assert(sizeof(qbVmTable) == sizeof(VmApiTable));
static_assert(sizeof(qbObjectID) == sizeof(ObjectID) && offsetof(qbObjectID, handle) == offsetof(ObjectID, handle));
static_assert(sizeof(qbScriptBuffer) == sizeof(ScriptBuffer) &&
              offsetof(qbScriptBuffer, lvl) == offsetof(ScriptBuffer, lvl) &&
              offsetof(qbScriptBuffer, L) == offsetof(ScriptBuffer, L) &&
              offsetof(qbScriptBuffer, buffer) == offsetof(ScriptBuffer, buffer));
static_assert(QBVM_GLOBALSINDEX == kGlobalsIndex && QBVM_REGISTRYINDEX == kRegistryIndex && QBVM_MULTRET == kMultRet);
static_assert(int{QBVM_TLIGHTUSERDATA} == int{kTypeLightUserdata} && int{QBVM_TTHREAD} == int{kTypeThread} &&
              int{QBVM_TNONE} == int{kTypeNone});

TEST(VmTable, TheBaseHandsOutThePlayersTable) {
    const auto* vm = static_cast<const qbVmTable*>(GetPluginBase()->vmTable);
    EXPECT_EQ(vm->GetTop, &VmGetTop);
    EXPECT_EQ(vm->GetObjectIDArg, reinterpret_cast<decltype(vm->GetObjectIDArg)>(&GetObjectIDArgInto));
    EXPECT_EQ(vm->SetGcThreshold, &VmSetGcThreshold);
}

}  // namespace
