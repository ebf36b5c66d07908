// The pointer list. A pointer a display shows is never freed under it:
// FreePointer only marks it, and the next SetPointer sweeps it away.
#include "display/pointers.h"

#include <memory>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/objectlist.h"
#include "display/adapter.h"
#include "display/display.h"

namespace {

qbObjectList pointerList;

void Unlink(qbPointerObject* pointer) { UnlinkObject(&pointerList, pointer); }

void FreeNow(ScriptState* L, qbPointerObject* pointer) {
    Unlink(pointer);
    std::unique_ptr<qbPointerObject> owned(pointer);
    if (owned->native) FreeDisplayPointer(owned->native);
    FreeObjectDataList(L, &owned->data);
}

}  // namespace

qbObjectList* PointerListHead() { return &pointerList; }

int AppendPointer(qbPointerObject* pointer) {
    if (AppendObject(&pointerList, pointer) == 0) return 0;
    if (pointer->native) FreeDisplayPointer(pointer->native);
    pointer->native = nullptr;
    return ERR_MEM;
}

int GetPointerRecord(ObjectID id, qbPointerObject** out) {
    if (qbObject* o = FindListedObject(pointerList, id)) {
        *out = static_cast<qbPointerObject*>(o);
        return 0;
    }
    SetErrorArgIndex(id.number);
    return ERR_FINDPOINTER;
}

bool IsPointerShown(const qbPointerObject* pointer) {
    for (qbDisplay* d = FirstDisplay(); d; d = static_cast<qbDisplay*>(d->next))
        if (d->pointer == pointer) return true;
    return false;
}

void ReleasePointer(ScriptState* L, qbPointerObject* pointer) {
    if (!IsPointerShown(pointer)) {
        FreeNow(L, pointer);
        return;
    }
    // Without memory for its new key the pointer keeps its number, found
    // first by it as before; it goes at the next sweep all the same.
    RenumberObject(pointer, ObjectID{0, pointer});
    pointer->deferredFree = 1;
}

void FreeDeferredPointers(ScriptState* L) {
    qbObject* o = pointerList.head;
    while (o) {
        auto* p = static_cast<qbPointerObject*>(o);
        o = o->next;
        if (p->deferredFree && !IsPointerShown(p)) FreeNow(L, p);
    }
}

void FreeAllPointers(ScriptState* L) {
    for (qbDisplay* d = FirstDisplay(); d; d = static_cast<qbDisplay*>(d->next)) d->pointer = nullptr;
    while (pointerList.head) FreeNow(L, static_cast<qbPointerObject*>(pointerList.head));
}
