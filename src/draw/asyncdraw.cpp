// The async-draw list. Owners hand over callbacks and userdata; the list
// calls the free callback exactly once, whichever way the object ends.
#include "draw/asyncdraw.h"

#include <memory>
#include <new>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/objectlist.h"
#include "display/display.h"
#include "display/displays.h"

namespace {

qbObjectList asyncDraws;

qbAsyncDraw* AsAsync(qbObject* o) { return static_cast<qbAsyncDraw*>(o); }

}  // namespace

qbObjectList* AsyncDrawListHead() { return &asyncDraws; }

int32_t QueryAsyncDraw(const qbAsyncDraw* r, int32_t code, void* data) {
    return r->callbacks.query ? r->callbacks.query(code, data, r->userdata) : 0;
}

int AddAsyncDraw(int32_t kind, const qbAsyncDrawCallbacks& callbacks, void* userdata, qbAsyncDraw** out) {
    std::unique_ptr<qbAsyncDraw> r;
    try {
        r = std::make_unique<qbAsyncDraw>();
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    r->type = kObjectTypeAsyncDraw;
    r->id = 0;
    r->handle = r.get();
    r->display = GetCurrentDisplay();
    r->kind = kind;
    r->callbacks = callbacks;
    r->userdata = userdata;
    if (int err = AppendObject(&asyncDraws, r.get())) return err;
    if (out) *out = r.get();
    (void)r.release();
    return 0;
}

int FindAsyncDraw(ObjectID id, qbAsyncDraw** out) {
    if (qbObject* o = FindListedObject(asyncDraws, id)) {
        *out = AsAsync(o);
        return 0;
    }
    if (id.handle) return ERR_FINDARRAY;
    SetErrorArgIndex(id.number);
    return ERR_FINDASYNCDRAW;
}

void RemoveAsyncDraw(ScriptState* L, qbAsyncDraw* r, int32_t flag) {
    if (!r || r->list != &asyncDraws) return;
    UnlinkObject(&asyncDraws, r);
    std::unique_ptr<qbAsyncDraw> owner(r);
    if (r->callbacks.free) r->callbacks.free(r->userdata, flag);
    FreeObjectDataList(L, &r->data);
}

void FreeAllAsyncDraws(ScriptState* L) {
    while (asyncDraws.head) RemoveAsyncDraw(L, AsAsync(asyncDraws.head), 0);
}

void FreeAsyncDrawsOn(ScriptState* L, const qbDisplay* display) {
    // A free callback may end other objects: each pass starts again.
    for (bool again = true; again;) {
        again = false;
        for (qbObject* o = asyncDraws.head; o; o = o->next) {
            if (AsAsync(o)->display != display) continue;
            RemoveAsyncDraw(L, AsAsync(o), 0);
            again = true;
            break;
        }
    }
}

bool AnyAsyncDrawOn(const qbDisplay* display) {
    for (qbObject* o = asyncDraws.head; o; o = o->next) {
        if (AsAsync(o)->display == display) return true;
    }
    return false;
}

int32_t CheckAsyncDrawsBusy() {
    for (qbObject* o = asyncDraws.head; o; o = o->next) {
        const qbAsyncDraw* r = AsAsync(o);
        if (r->done) continue;
        int32_t refusal = 0;
        QueryAsyncDraw(r, kAsyncQueryBusy, &refusal);
        if (refusal) return refusal;
    }
    return 0;
}

int32_t NotifyAsyncDraws(int32_t code, void* data) {
    for (qbObject* o = asyncDraws.head; o; o = o->next)
        if (const int32_t refusal = QueryAsyncDraw(AsAsync(o), code, data)) return refusal;
    return 0;
}

bool IsObjectUsedByAsyncDraw(const void* object) {
    for (qbObject* o = asyncDraws.head; o; o = o->next) {
        void* layer = nullptr;
        QueryAsyncDraw(AsAsync(o), kAsyncQueryShowingLayer, &layer);
        if (layer && layer == object) return true;
    }
    return false;
}
