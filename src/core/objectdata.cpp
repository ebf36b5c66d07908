// Object data lists: a handful of named entries per object, searched in
// order; the values live in the VM registry so that the collector sees them.
#include "core/objectdata.h"

#include <new>

#include "core/chars.h"
#include "core/errcodes.h"

namespace {

// The link that holds the entry of that name, or the list's end.
ObjectDataList* FindLink(ObjectDataList* head, const char* name) {
    ObjectDataList* link = head;
    while (*link && StrCmpNoCase((*link)->name.c_str(), name) != 0) link = &(*link)->next;
    return link;
}

// A node named name; null when memory runs out.
ObjectDataList NewNode(const char* name) {
    try {
        auto node = std::make_unique<qbObjectData>();
        node->name = name;
        return node;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}  // namespace

int SetObjectDataEntry(ScriptState* L, const char* name, int idx, ObjectDataList* head) {
    if (!name || !head) return ERR_WRONGUSAGE;
    ObjectDataList* link = FindLink(head, name);
    if (*link) {
        // The new reference first: if making it fails, the old value stays.
        VmPushValue(L, idx);
        const int ref = VmMakeRef(L, kRegistryIndex);
        VmReleaseRef(L, kRegistryIndex, (*link)->ref);
        (*link)->ref = ref;
        return 0;
    }
    ObjectDataList node = NewNode(name);
    if (!node) return ERR_MEM;
    VmPushValue(L, idx);
    node->ref = VmMakeRef(L, kRegistryIndex);
    *link = std::move(node);
    return 0;
}

const qbObjectData* FindObjectDataEntry(const qbObjectData* first, const char* name) {
    if (!name) return nullptr;
    for (const qbObjectData* n = first; n; n = n->next.get())
        if (StrCmpNoCase(n->name.c_str(), name) == 0) return n;
    return nullptr;
}

int PushObjectDataEntry(ScriptState* L, const qbObjectData* first, const char* name) {
    const qbObjectData* node = FindObjectDataEntry(first, name);
    if (!node) return 0;
    if (node->ref < 0)
        VmPushNil(L);
    else
        VmRawGetIndex(L, kRegistryIndex, node->ref);
    return 1;
}

int RemoveObjectDataEntry(ScriptState* L, ObjectDataList* head, const char* name) {
    if (!head || !name) return 0;
    ObjectDataList* link = FindLink(head, name);
    if (!*link) return 0;
    if (L) VmReleaseRef(L, kRegistryIndex, (*link)->ref);
    *link = std::move((*link)->next);
    return 1;
}

void FreeObjectDataList(ScriptState* L, ObjectDataList* head) {
    if (!head) return;
    if (L)
        for (const qbObjectData* n = head->get(); n; n = n->next.get()) VmReleaseRef(L, kRegistryIndex, n->ref);
    head->reset();
}

int CopyObjectDataList(ScriptState* L, const qbObjectData* source, ObjectDataList* out) {
    if (!out) return ERR_WRONGUSAGE;
    // Should the VM raise while copying, the nodes made so far go with this
    // list (their references stay taken until the VM closes).
    ObjectDataList copy;
    ObjectDataList* tail = &copy;
    for (const qbObjectData* n = source; n; n = n->next.get()) {
        ObjectDataList node = NewNode(n->name.c_str());
        if (!node) {
            FreeObjectDataList(L, &copy);
            return ERR_MEM;
        }
        if (n->ref < 0) {
            node->ref = -1;
        } else {
            VmRawGetIndex(L, kRegistryIndex, n->ref);
            node->ref = VmMakeRef(L, kRegistryIndex);
        }
        *tail = std::move(node);
        tail = &(*tail)->next;
    }
    FreeObjectDataList(L, out);
    *out = std::move(copy);
    return 0;
}
