// The system library's commands over objects of any library: existence, the
// id lists, the named values scripts attach to them, raw pointers and the
// script's catalog.
#include <cstdint>

#include "core/argapi.h"
#include "core/catalog.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/numbers.h"
#include "core/objects.h"
#include "display/bgpics.h"
#include "display/display.h"
#include "libs/system.h"
#include "libs/systemcommands.h"
#include "libs/systeminternal.h"
#include "objects/layers.h"

namespace {

CatalogPtr scriptCatalog;

// The data list of the object named by the type and id at idx and idx + 1.
int FindDataList(ScriptState* L, int idx, ObjectDataList** out) {
    const int type = ClampToInt32(VmCheckNumber(L, idx));
    if (type == kObjectTypeLayer) {
        if (int err = CheckLayerTarget(GetCurrentDisplay())) return err;
        const qbBGPic* bgpic = GetCurrentBGPic();
        if (!bgpic) return ERR_NOLAYERS;
        qbLayer* layer = nullptr;
        if (int err = GetLayerArg(L, idx + 1, bgpic, nullptr, nullptr, &layer)) return err;
        *out = &layer->data;
        return 0;
    }
    qbObject* o = FindObjectByID(type, GetObjectIDArg(L, idx + 1));
    if (!o) return ERR_FINDARRAY;
    *out = &o->data;
    return 0;
}

int MissingData(const char* key) {
    SetErrorDetail(key);
    return ERR_FINDOBJECTDATA;
}

void* PointerArg(ScriptState* L, int idx) {
    if (VmType(L, idx) != kTypeLightUserdata && VmType(L, idx) != kTypeUserdata) {
        SetErrorArgIndex(idx);
        VmRaiseError(L, ERR_UDEXPECTED);
    }
    return const_cast<void*>(VmToPointer(L, idx));
}

int MovePointer(ScriptState* L, int sign) {
    CheckArgCount(L, 2, 2, 0, 0);
    auto* p = static_cast<char*>(PointerArg(L, 1));
    const auto bytes = static_cast<intptr_t>(ClampToInt32(VmCheckNumber(L, 2)));
    // Pointer arithmetic in integers: the address may lie outside any object.
    VmPushLightUserdata(L, reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(p) + sign * bytes));
    return 1;
}

}  // namespace

void CloseScriptCatalog() { scriptCatalog.reset(); }

int cmdHaveObject(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const int type = ClampToInt32(VmCheckNumber(L, 1));
    VmPushNumber(L, FindObjectByID(type, GetObjectIDArg(L, 2)) ? 1 : 0);
    return 1;
}

int cmdGetObjects(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    const int type = ClampToInt32(VmCheckNumber(L, 1));
    VmPushNewTable(L);
    VmPushNumber(L, ListObjectsOfType(L, type));
    return 2;
}

int cmdGetObjectType(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    // The handle is only compared with the records' own, never followed.
    VmPushNumber(L, GetObjectTypeOfHandle(PointerArg(L, 1)));
    return 1;
}

int cmdSetObjectData(ScriptState* L) {
    CheckArgCount(L, 4, 4, 0, 0);
    ObjectDataList* list;
    if (int err = FindDataList(L, 1, &list)) return err;
    const char* key = VmCheckString(L, 3, nullptr);
    if (!*key) return ERR_WRONGUSAGE;
    return SetObjectDataEntry(L, key, 4, list);
}

int cmdGetObjectData(ScriptState* L) {
    CheckArgCount(L, 3, 3, 0, 0);
    ObjectDataList* list;
    if (int err = FindDataList(L, 1, &list)) return err;
    const char* key = VmCheckString(L, 3, nullptr);
    if (!PushObjectDataEntry(L, list->get(), key)) return MissingData(key);
    return 1;
}

int cmdHaveObjectData(ScriptState* L) {
    CheckArgCount(L, 3, 3, 0, 0);
    ObjectDataList* list;
    if (int err = FindDataList(L, 1, &list)) return err;
    const char* key = VmCheckString(L, 3, nullptr);
    VmPushNumber(L, FindObjectDataEntry(list->get(), key) ? 1 : 0);
    return 1;
}

int cmdClearObjectData(ScriptState* L) {
    CheckArgCount(L, 2, 3, 0, 0);
    ObjectDataList* list;
    if (int err = FindDataList(L, 1, &list)) return err;
    if (VmGetTop(L) < 3 || VmType(L, 3) == kTypeNil) {
        FreeObjectDataList(L, list);
        return 0;
    }
    const char* key = VmCheckString(L, 3, nullptr);
    return RemoveObjectDataEntry(L, list, key) ? 0 : MissingData(key);
}

int cmdCopyObjectData(ScriptState* L) {
    CheckArgCount(L, 4, 5, 0, 0);
    ObjectDataList* from;
    ObjectDataList* to;
    if (int err = FindDataList(L, 1, &from)) return err;
    if (int err = FindDataList(L, 3, &to)) return err;
    if (from == to) return 0;
    const bool overwrite = GetFlagArg(L, 5, true);
    for (const qbObjectData* e = from->get(); e; e = e->next.get()) {
        if (!overwrite && FindObjectDataEntry(to->get(), e->name.c_str())) continue;
        if (e->ref == -1)
            VmPushNil(L);
        else
            VmRawGetIndex(L, kRegistryIndex, e->ref);
        const int err = SetObjectDataEntry(L, e->name.c_str(), VmGetTop(L), to);
        VmSetTop(L, -2);
        if (err) return err;
    }
    return 0;
}

int cmdIncreasePointer(ScriptState* L) { return MovePointer(L, 1); }
int cmdDecreasePointer(ScriptState* L) { return MovePointer(L, -1); }

int cmdOpenCatalog(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    const char* name = VmCheckString(L, 1, nullptr);
    scriptCatalog.reset();
    scriptCatalog.reset(LoadCatalog(name));
    return 0;
}

int cmdCloseCatalog(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    scriptCatalog.reset();
    return 0;
}

int cmdGetCatalogString(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const int id = ClampToInt32(VmCheckNumber(L, 1));
    const char* def = VmCheckString(L, 2, nullptr);
    VmPushString(L, GetCatalogText(scriptCatalog.get(), id, def));
    return 1;
}
