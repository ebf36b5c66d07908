// Named values that scripts attach to objects: each object keeps a list of
// {name, value} entries, the values held through VM registry references.
#pragma once

#include <memory>
#include <string>

#include "vm/vm.h"

struct qbObjectData {
    std::unique_ptr<qbObjectData> next;
    std::string name;  // compared without letter case
    int ref = -1;      // registry reference of the value (-1 for Nil)

    qbObjectData() = default;
    qbObjectData(const qbObjectData&) = delete;
    qbObjectData& operator=(const qbObjectData&) = delete;
    // Unlinks the rest one node at a time, so that a long list does not
    // recurse once per node.
    ~qbObjectData() {
        while (next) next = std::move(next->next);
    }
};

// The head of an object's list; null when the object carries no data.
using ObjectDataList = std::unique_ptr<qbObjectData>;

// Sets the entry of that name (any letter case) to the value at idx, or
// appends a new entry. 0, ERR_MEM (the list unchanged) or ERR_WRONGUSAGE for
// a null name or list.
int SetObjectDataEntry(ScriptState* L, const char* name, int idx, ObjectDataList* head);
// The entry of that name, or null.
const qbObjectData* FindObjectDataEntry(const qbObjectData* first, const char* name);
// Pushes the entry's value and returns 1; 0 with nothing pushed when absent.
int PushObjectDataEntry(ScriptState* L, const qbObjectData* first, const char* name);
// 1 when the entry was there (its value is released), else 0.
int RemoveObjectDataEntry(ScriptState* L, ObjectDataList* head, const char* name);
// Releases every value and empties the list. A null state (after the VM has
// closed) only frees the nodes.
void FreeObjectDataList(ScriptState* L, ObjectDataList* head);
// Copies the entries in order with new references to the same values. On
// success *out (freed first) becomes the copy, null for an empty source;
// ERR_MEM leaves *out as it was.
int CopyObjectDataList(ScriptState* L, const qbObjectData* source, ObjectDataList* out);
