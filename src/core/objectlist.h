// A library's list of object records: in creation order, appended at its
// tail, found by id through an index kept beside it and linked both ways,
// so that making, finding and freeing an object walk none of the others.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>

#include "core/objects.h"

struct qbObjectList {
    qbObject* head = nullptr;  // walks go head to tail by next
    qbObject* tail = nullptr;
    struct Key {
        int32_t number = 0;
        const void* handle = nullptr;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        size_t operator()(const Key& k) const {
            return std::hash<const void*>()(k.handle) ^ (std::hash<int32_t>()(k.number) * 0x9E3779B97F4A7C15ull);
        }
    };
    // The first record with the key, and how many the list holds.
    struct Entry {
        qbObject* first = nullptr;
        size_t count = 0;
    };
    std::unordered_map<Key, Entry, KeyHash> byId;

    qbObjectList() = default;
    qbObjectList(const qbObjectList&) = delete;  // records point at their list
    qbObjectList& operator=(const qbObjectList&) = delete;
};

// Appends the record at the tail and indexes it by its id. ERR_MEM leaves
// it out of the list.
int AppendObject(qbObjectList* list, qbObject* record);
// Takes the record out of its list (nothing when it is not in this one).
void UnlinkObject(qbObjectList* list, qbObject* record);
// The first record of the list with the id, or null.
qbObject* FindListedObject(const qbObjectList& list, ObjectID id);
// Gives a listed record another id: the one place a listed record's id
// changes, so that the index follows. ERR_MEM leaves the old id.
int RenumberObject(qbObject* record, ObjectID id);
// Takes the first record out (for freeing every record in turn); null when
// the list is empty.
qbObject* TakeFirstObject(qbObjectList* list);
