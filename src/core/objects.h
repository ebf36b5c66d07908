// Object ids across all libraries: the record header every object starts
// with, and the registry of the libraries' object lists, so that generic
// commands find any object by type and id.
#pragma once

#include <cstdint>

#include "core/argapi.h"
#include "core/readholds.h"
#include "core/objectdata.h"

// The built-in types are numbered 1 to 57 (BGPic 1, sample 2, brush 3 ...
// menu 57, shared with the layer kinds); types that plugins register follow.
constexpr int kObjectTypeLayer = 22;
constexpr int kFirstPluginObjectType = 58;

// The header of every object record. The owning library writes it when it
// makes the record and frees the data list with FreeObjectDataList.
struct qbObject {
    int32_t type = 0;
    int32_t id = 0;          // the script's number; 0 for an automatic id
    void* handle = nullptr;  // the record's own address for an automatic id
    ObjectDataList data;
    qbObject* next = nullptr;  // the next object of the same list
    // Plugins' records end their header here.
    // The file the object goes on reading while it lives (a from-disk anim,
    // a video, a music stream), which no command may write over meanwhile.
    qbReadHold readsFrom;
    // The indexed list the record is in (`core/objectlist.h`), or null, and
    // the record before it there, so that leaving the list walks nothing.
    struct qbObjectList* list = nullptr;
    qbObject* prev = nullptr;
};

inline ObjectID IDOf(const qbObject& object) { return ObjectID{object.id, object.handle}; }

// Registers a library's list head (the variable itself, so that the registry
// always sees the current first object). 0 or ERR_MEM.
int RegisterObjectList(qbObject** head);
// An indexed list (`core/objectlist.h`): FindObjectByID asks its index.
int RegisterObjectList(struct qbObjectList* list);
// A list of a named type: the type gets the next id from 58 on, reported in
// *outTypeId. valueA is the plugin's flags word for the type; valueB is kept
// for it. Without a name it is an unnamed list (type id 0). 0 or ERR_MEM.
int RegisterObjectType(qbObject** head, const char* name, uint32_t valueA, int* outTypeId, uint32_t valueB);
// The first record over all lists in registration order whose type, number
// and handle all match; null when none.
qbObject* FindObjectByID(int type, ObjectID id);
// The type of the record that carries the handle; -1 for a null handle or
// a handle no record carries.
int GetObjectTypeOfHandle(const void* handle);
// Stores the ids of all objects of the type into the table on the stack top
// at the keys 0, 1, 2 ... (in registration and list order); the count.
int ListObjectsOfType(ScriptState* L, int type);
// How many objects of the type the registered lists hold now.
int CountObjectsOfType(int type);
// The first type number no registration has handed out yet.
int NextObjectTypeNumber();
// The registered type of that name (without letter case), or -1.
int FindObjectTypeByName(const char* name);
// Frees every registry node; the records stay their libraries'.
void FreeObjectTypeRegistry();
