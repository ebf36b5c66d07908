// The object-type registry: which list heads hold objects, and which types
// plugins added. Object handles are only ever compared with the records'.
#include "core/objects.h"

#include <algorithm>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "core/chars.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/objectlist.h"

namespace {

struct ObjectTypeNode {
    std::optional<std::string> name;  // none for the built-in lists
    int typeId = 0;
    uint32_t valueA = 0;
    uint32_t valueB = 0;
    qbObject** head = nullptr;
    const qbObjectList* indexed = nullptr;  // the list of the head, when it keeps an index
};

struct ObjectTypeRegistry {
    std::vector<ObjectTypeNode> nodes;
    int nextTypeId = kFirstPluginObjectType;
};

ObjectTypeRegistry& Registry() {
    static ObjectTypeRegistry registry;
    return registry;
}

// Calls fn for every registered object until it answers true; that object.
template <typename Fn>
qbObject* FindObject(Fn fn) {
    for (const ObjectTypeNode& node : Registry().nodes) {
        if (!node.head) continue;
        for (qbObject* o = *node.head; o; o = o->next)
            if (fn(*o)) return o;
    }
    return nullptr;
}

}  // namespace

int RegisterObjectList(qbObject** head) { return RegisterObjectType(head, nullptr, 0, nullptr, 0); }

int RegisterObjectList(qbObjectList* list) {
    if (int err = RegisterObjectType(&list->head, nullptr, 0, nullptr, 0)) return err;
    for (ObjectTypeNode& node : Registry().nodes)
        if (!node.name && node.head == &list->head) node.indexed = list;
    return 0;
}

int RegisterObjectType(qbObject** head, const char* name, uint32_t valueA, int* outTypeId, uint32_t valueB) {
    ObjectTypeRegistry& r = Registry();
    // A library opened again (or a second library sharing the list)
    // records its list once; a plugin's named type is new each time.
    if (!name && std::any_of(r.nodes.begin(), r.nodes.end(),
                             [head](const ObjectTypeNode& n) { return !n.name && n.head == head; }))
        return 0;
    ObjectTypeNode node;
    node.head = head;
    try {
        if (name) {
            node.name = name;
            node.typeId = r.nextTypeId;
            node.valueA = valueA;
            node.valueB = valueB;
        }
        r.nodes.push_back(std::move(node));
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    if (name) {
        ++r.nextTypeId;
        if (outTypeId) *outTypeId = r.nodes.back().typeId;
    }
    return 0;
}

qbObject* FindObjectByID(int type, ObjectID id) {
    for (const ObjectTypeNode& node : Registry().nodes) {
        if (!node.head) continue;
        if (node.indexed) {
            // The first record with the id; another of the type may follow
            // it only when ids repeat, which creating commands prevent.
            qbObject* o = FindListedObject(*node.indexed, id);
            if (o && o->type == type) return o;
            if (!o) continue;
        }
        for (qbObject* o = *node.head; o; o = o->next)
            if (o->type == type && IDOf(*o) == id) return o;
    }
    return nullptr;
}

int GetObjectTypeOfHandle(const void* handle) {
    if (!handle) return -1;
    // A record with an automatic id is indexed under it: number 0, its handle.
    for (const ObjectTypeNode& node : Registry().nodes) {
        if (!node.head) continue;
        if (node.indexed) {
            if (const qbObject* o = FindListedObject(*node.indexed, ObjectID{0, const_cast<void*>(handle)})) return o->type;
            continue;
        }
        for (const qbObject* o = *node.head; o; o = o->next)
            if (o->handle == handle) return o->type;
    }
    return -1;
}

int ListObjectsOfType(ScriptState* L, int type) {
    const int table = VmGetTop(L);
    if (VmType(L, table) != kTypeTable) {
        SetErrorArgIndex(table);
        VmRaiseError(L, ERR_TABEXPECTED);
    }
    int count = 0;
    FindObject([&](const qbObject& o) {
        if (o.type == type) {
            PushObjectID(L, IDOf(o));
            VmRawSetIndex(L, table, count++);
        }
        return false;
    });
    return count;
}

int CountObjectsOfType(int type) {
    // A list registered twice (by two libraries that share it) counts once.
    std::vector<qbObject**> seen;
    int count = 0;
    for (const ObjectTypeNode& node : Registry().nodes) {
        if (!node.head || std::find(seen.begin(), seen.end(), node.head) != seen.end()) continue;
        seen.push_back(node.head);
        for (const qbObject* o = *node.head; o; o = o->next) count += o->type == type;
    }
    return count;
}

int NextObjectTypeNumber() { return Registry().nextTypeId; }

int FindObjectTypeByName(const char* name) {
    if (!name) return -1;
    for (const ObjectTypeNode& node : Registry().nodes)
        if (node.name && StrCmpNoCase(node.name->c_str(), name) == 0) return node.typeId;
    return -1;
}

void FreeObjectTypeRegistry() {
    ObjectTypeRegistry& r = Registry();
    r.nodes.clear();
    r.nodes.shrink_to_fit();
    r.nextTypeId = kFirstPluginObjectType;
}
