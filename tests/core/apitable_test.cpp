// The plugin ABI: each native API operation sits in its fixed slot of the
// record handed to plugins. A plugin built against this order calls through
// these offsets, so a slot that moves breaks every plugin silently.
#include <gtest/gtest.h>

#include <cstddef>

#include "core/apitable.h"

namespace {

#define API_SLOTS \
    SLOT(0, getTop, VmGetTop) SLOT(1, setTop, VmSetTop) SLOT(2, pushValue, VmPushValue) \
    SLOT(3, remove, VmRemove) SLOT(4, insert, VmInsert) SLOT(5, replace, VmReplace) \
    SLOT(6, isCFunction, VmIsCFunction) SLOT(7, isNumber, VmIsNumber) SLOT(8, isString, VmIsString) \
    SLOT(9, isUserdata, VmIsUserdata) SLOT(10, type, VmType) SLOT(11, equal, VmEqual) \
    SLOT(12, rawEqual, VmRawEqual) SLOT(13, compareLess, VmCompareLess) SLOT(14, toNumber, VmToNumber) \
    SLOT(15, toCString, VmToCString) SLOT(16, strLen, VmStrLen) SLOT(17, toCFunction, VmToCFunction) \
    SLOT(18, toUserdata, VmToUserdata) SLOT(19, toPointer, VmToPointer) SLOT(20, pushNil, VmPushNil) \
    SLOT(21, pushNumber, VmPushNumber) SLOT(22, pushLString, VmPushLString) SLOT(23, pushString, VmPushString) \
    SLOT(24, pushLightUserdata, VmPushLightUserdata) SLOT(25, pushCClosure, VmPushCClosure) SLOT(26, getTableAt, VmGetTableAt) \
    SLOT(27, rawGet, VmRawGet) SLOT(28, rawGetIndex, VmRawGetIndex) SLOT(29, pushNewTable, VmPushNewTable) \
    SLOT(30, getGlobalsTable, VmGetGlobalsTable) SLOT(31, setTableAt, VmSetTableAt) SLOT(32, rawSet, VmRawSet) \
    SLOT(33, rawSetIndex, VmRawSetIndex) SLOT(34, setGlobalsTable, VmSetGlobalsTable) SLOT(35, pcall, VmPCall) \
    SLOT(36, next, VmNext) SLOT(37, concat, VmConcat) SLOT(38, getUpvalues, VmGetUpvalues) \
    SLOT(39, getUpvalue, VmGetUpvalue) SLOT(40, setUpvalue, VmSetUpvalue) SLOT(41, newUserdata, VmNewUserdata) \
    SLOT(42, setMetatable, VmSetMetatable) SLOT(43, getMetatable, VmGetMetatable) SLOT(44, raiseError, VmRaiseError) \
    SLOT(45, checkString, VmCheckString) SLOT(46, optString, VmOptString) SLOT(47, checkNumber, VmCheckNumber) \
    SLOT(48, optNumber, VmOptNumber) SLOT(49, checkInt, VmCheckInt) SLOT(50, optInt, VmOptInt) \
    SLOT(51, checkTable, VmCheckTable) SLOT(52, checkFunction, VmCheckFunction) SLOT(53, checkType, VmCheckType) \
    SLOT(54, makeRef, VmMakeRef) SLOT(55, releaseRef, VmReleaseRef) SLOT(56, getObjectIDArg, GetObjectIDArgInto) \
    SLOT(57, newNamedMetatable, VmNewNamedMetatable) SLOT(58, getNamedMetatable, VmGetNamedMetatable) SLOT(59, checkNamedUserdata, VmCheckNamedUserdata) \
    SLOT(60, bufferInit, VmBufferInit) SLOT(61, bufferPrepare, VmBufferPrepare) SLOT(62, bufferAddLString, VmBufferAddLString) \
    SLOT(63, bufferAddString, VmBufferAddString) SLOT(64, bufferAddValue, VmBufferAddValue) SLOT(65, bufferPushResult, VmBufferPushResult) \
    SLOT(66, findString, VmFindString) SLOT(67, checkStack, VmCheckStack) SLOT(68, resolveLinkedFileArg, ResolveLinkedFileArgSlot) \
    SLOT(69, getNewObjectIDArg, GetNewObjectIDArgInto) SLOT(70, pushBoolean, VmPushBoolean) SLOT(71, toBoolean, VmToBoolean) \
    SLOT(72, pushNewTableSized, VmPushNewTableSized) SLOT(73, typeName, VmTypeName) SLOT(74, call, VmCall) \
    SLOT(75, getGcThreshold, VmGetGcThreshold) SLOT(76, getGcCount, VmGetGcCount) SLOT(77, setGcThreshold, VmSetGcThreshold)

constexpr size_t kSlotSize = sizeof(void (*)());

#define SLOT(n, member, fn) static_assert(offsetof(VmApiTable, member) == (n) * kSlotSize, #member);
API_SLOTS
#undef SLOT

TEST(ApiTableTest, EverySlotHoldsItsOperation) {
    int checked = 0;
#define SLOT(n, member, fn)                                  \
    EXPECT_EQ(kVmApi.member, &fn) << "slot " << (n) << " " #member; \
    checked++;
    API_SLOTS
#undef SLOT
    EXPECT_EQ(checked, kVmApiSlotCount);
}

}  // namespace
