#include "core/objectlist.h"

#include <new>

#include "core/errcodes.h"

namespace {

qbObjectList::Key KeyOf(const qbObject& o) { return {o.id, o.handle}; }

bool Index(qbObjectList* list, qbObject* record) {
    try {
        qbObjectList::Entry& e = list->byId[KeyOf(*record)];
        if (e.count++ == 0) e.first = record;
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

// The record leaves the key it is listed under; when others share that key,
// the next of them in list order becomes the first.
void Unindex(qbObjectList* list, qbObject* record, const qbObjectList::Key& key) {
    const auto it = list->byId.find(key);
    if (it == list->byId.end()) return;
    qbObjectList::Entry& e = it->second;
    if (--e.count == 0) {
        list->byId.erase(it);
        return;
    }
    if (e.first != record) return;
    for (qbObject* o = record->next; o; o = o->next)
        if (KeyOf(*o) == it->first) {
            e.first = o;
            return;
        }
}

}  // namespace

int AppendObject(qbObjectList* list, qbObject* record) {
    if (!Index(list, record)) return ERR_MEM;
    record->next = nullptr;
    record->prev = list->tail;
    record->list = list;
    if (list->tail) list->tail->next = record;
    else list->head = record;
    list->tail = record;
    return 0;
}

void UnlinkObject(qbObjectList* list, qbObject* record) {
    if (!record || record->list != list) return;
    Unindex(list, record, KeyOf(*record));
    qbObject* before = record->prev;
    (before ? before->next : list->head) = record->next;
    (record->next ? record->next->prev : list->tail) = before;
    record->next = nullptr;
    record->prev = nullptr;
    record->list = nullptr;
}

qbObject* TakeFirstObject(qbObjectList* list) {
    qbObject* first = list->head;
    if (first) UnlinkObject(list, first);
    return first;
}

qbObject* FindListedObject(const qbObjectList& list, ObjectID id) {
    const auto it = list.byId.find({id.number, id.handle});
    return it == list.byId.end() ? nullptr : it->second.first;
}

int RenumberObject(qbObject* record, ObjectID id) {
    qbObjectList* list = record->list;
    const qbObjectList::Key old = KeyOf(*record);
    record->id = id.number;
    record->handle = id.handle;
    if (!list || old == KeyOf(*record)) return 0;
    if (!Index(list, record)) {
        record->id = old.number;
        record->handle = const_cast<void*>(old.handle);
        return ERR_MEM;
    }
    Unindex(list, record, old);
    return 0;
}
