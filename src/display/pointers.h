// Mouse pointer images (object type 36): the records the graphics library
// makes and that displays show. The display layer creates, shows and moves
// their native pointers.
#pragma once

#include <cstdint>

#include "core/objects.h"

struct ScriptState;

constexpr int kObjectTypePointer = 36;

// Owned by the pointer list; the native pointer is the record's.
struct qbPointerObject : qbObject {
    int32_t width = 16;
    int32_t height = 16;
    void* native = nullptr;
    int32_t kind = 0;  // system arrow 0, busy 1, an image 2
    int32_t deferredFree = 0;
};

struct qbObjectList;
qbObjectList* PointerListHead();
// Appends a new pointer to the list; ERR_MEM frees its native pointer and
// leaves the record the caller's.
int AppendPointer(qbPointerObject* pointer);
// ERR_FINDPOINTER with the id's number as the message's argument.
int GetPointerRecord(ObjectID id, qbPointerObject** out);
// Whether some display has it as its current pointer.
bool IsPointerShown(const qbPointerObject* pointer);
// Frees it now, or, while a display shows it, takes its id away until the
// next SetPointer.
void ReleasePointer(ScriptState* L, qbPointerObject* pointer);
void FreeDeferredPointers(ScriptState* L);
// Shutdown, after the displays.
void FreeAllPointers(ScriptState* L);
