// The pointer list. A pointer a display shows is never freed under it:
// FreePointer only marks it, and the next SetPointer sweeps it away.
#include "display/pointers.h"

#include <memory>

#include "core/errcodes.h"
#include "core/errors.h"
#include "display/adapter.h"
#include "display/display.h"

namespace {

qbObject* pointerList = nullptr;

void Unlink(qbPointerObject* pointer) {
    for (qbObject** link = &pointerList; *link; link = &(*link)->next) {
        if (*link != pointer) continue;
        *link = pointer->next;
        return;
    }
}

void FreeNow(ScriptState* L, qbPointerObject* pointer) {
    Unlink(pointer);
    std::unique_ptr<qbPointerObject> owned(pointer);
    if (owned->native) FreeDisplayPointer(owned->native);
    FreeObjectDataList(L, &owned->data);
}

}  // namespace

qbObject** PointerListHead() { return &pointerList; }

int GetPointerRecord(ObjectID id, qbPointerObject** out) {
    for (qbObject* o = pointerList; o; o = o->next) {
        if (o->id != id.number || o->handle != id.handle) continue;
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
    pointer->id = 0;
    pointer->handle = pointer;
    pointer->deferredFree = 1;
}

void FreeDeferredPointers(ScriptState* L) {
    qbObject* o = pointerList;
    while (o) {
        auto* p = static_cast<qbPointerObject*>(o);
        o = o->next;
        if (p->deferredFree && !IsPointerShown(p)) FreeNow(L, p);
    }
}

void FreeAllPointers(ScriptState* L) {
    for (qbDisplay* d = FirstDisplay(); d; d = static_cast<qbDisplay*>(d->next)) d->pointer = nullptr;
    while (pointerList) FreeNow(L, static_cast<qbPointerObject*>(pointerList));
}
