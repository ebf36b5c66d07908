// The native API as plugins receive it: one record of function pointers in a
// fixed slot order. The order is the plugin ABI: a plugin built against it
// finds each operation in its slot, so slots are never moved or reused.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/argapi.h"
#include "vm/vm.h"

constexpr int kVmApiSlotCount = 78;

struct VmApiTable {
    int (*getTop)(ScriptState*);                                    // 0
    void (*setTop)(ScriptState*, int);                              // 1
    void (*pushValue)(ScriptState*, int);                           // 2
    void (*remove)(ScriptState*, int);                              // 3
    void (*insert)(ScriptState*, int);                              // 4
    void (*replace)(ScriptState*, int);                             // 5
    int (*isCFunction)(ScriptState*, int);                          // 6
    int (*isNumber)(ScriptState*, int);                             // 7
    int (*isString)(ScriptState*, int);                             // 8
    int (*isUserdata)(ScriptState*, int);                           // 9
    int (*type)(ScriptState*, int);                                 // 10
    int (*equal)(ScriptState*, int, int);                           // 11
    int (*rawEqual)(ScriptState*, int, int);                        // 12
    int (*compareLess)(ScriptState*, int, int, int);                // 13
    double (*toNumber)(ScriptState*, int);                          // 14
    const char* (*toCString)(ScriptState*, int);                    // 15
    size_t (*strLen)(ScriptState*, int);                            // 16
    CommandHandler (*toCFunction)(ScriptState*, int);               // 17
    void* (*toUserdata)(ScriptState*, int);                         // 18
    const void* (*toPointer)(ScriptState*, int);                    // 19
    void (*pushNil)(ScriptState*);                                  // 20
    void (*pushNumber)(ScriptState*, double);                       // 21
    void (*pushLString)(ScriptState*, const char*, size_t);         // 22
    void (*pushString)(ScriptState*, const char*);                  // 23
    void (*pushLightUserdata)(ScriptState*, void*);                 // 24
    void (*pushCClosure)(ScriptState*, CommandHandler, int);        // 25
    void (*getTableAt)(ScriptState*, int);                          // 26
    void (*rawGet)(ScriptState*, int);                              // 27
    void (*rawGetIndex)(ScriptState*, int, int);                    // 28
    void (*pushNewTable)(ScriptState*);                             // 29
    void (*getGlobalsTable)(ScriptState*, int);                     // 30
    void (*setTableAt)(ScriptState*, int);                          // 31
    void (*rawSet)(ScriptState*, int);                              // 32
    void (*rawSetIndex)(ScriptState*, int, int);                    // 33
    int (*setGlobalsTable)(ScriptState*, int);                      // 34
    int (*pcall)(ScriptState*, int, int, int);                      // 35
    int (*next)(ScriptState*, int);                                 // 36
    void (*concat)(ScriptState*, int);                              // 37
    int (*getUpvalues)(ScriptState*);                               // 38
    const char* (*getUpvalue)(ScriptState*, int, int);              // 39
    const char* (*setUpvalue)(ScriptState*, int, int);              // 40
    void* (*newUserdata)(ScriptState*, size_t);                     // 41
    int (*setMetatable)(ScriptState*, int);                         // 42
    int (*getMetatable)(ScriptState*, int);                         // 43
    void (*raiseError)(ScriptState*, int);                          // 44
    const char* (*checkString)(ScriptState*, int, size_t*);         // 45
    const char* (*optString)(ScriptState*, int, const char*, size_t*);  // 46
    double (*checkNumber)(ScriptState*, int);                       // 47
    double (*optNumber)(ScriptState*, int, double);                 // 48
    uint32_t (*checkInt)(ScriptState*, int);                        // 49
    uint32_t (*optInt)(ScriptState*, int, uint32_t);                // 50
    void (*checkTable)(ScriptState*, int);                          // 51
    void (*checkFunction)(ScriptState*, int);                       // 52
    int (*checkType)(ScriptState*, int, int);                       // 53
    int (*makeRef)(ScriptState*, int);                              // 54
    void (*releaseRef)(ScriptState*, int, int);                     // 55
    void (*getObjectIDArg)(ScriptState*, int, ObjectID*);           // 56
    int (*newNamedMetatable)(ScriptState*, const char*);            // 57
    void (*getNamedMetatable)(ScriptState*, const char*);           // 58
    void* (*checkNamedUserdata)(ScriptState*, int, const char*);    // 59
    void (*bufferInit)(ScriptState*, ScriptBuffer*);                // 60
    char* (*bufferPrepare)(ScriptBuffer*);                          // 61
    void (*bufferAddLString)(ScriptBuffer*, const char*, size_t);   // 62
    void (*bufferAddString)(ScriptBuffer*, const char*);            // 63
    void (*bufferAddValue)(ScriptBuffer*);                          // 64
    void (*bufferPushResult)(ScriptBuffer*);                        // 65
    int (*findString)(const char*, const char* const[]);            // 66
    int (*checkStack)(ScriptState*, int);                           // 67
    const char* (*resolveLinkedFileArg)(ScriptState*, int);         // 68
    void (*getNewObjectIDArg)(ScriptState*, int, int32_t* idAndChooseFlag);  // 69
    void (*pushBoolean)(ScriptState*, int);                         // 70
    int (*toBoolean)(ScriptState*, int);                            // 71
    void (*pushNewTableSized)(ScriptState*, int, int);              // 72
    const char* (*typeName)(ScriptState*, int);                     // 73
    int (*call)(ScriptState*, int, int);                            // 74
    int (*getGcThreshold)(ScriptState*);                            // 75
    int (*getGcCount)(ScriptState*);                                // 76
    void (*setGcThreshold)(ScriptState*, int);                      // 77
};
static_assert(sizeof(VmApiTable) == kVmApiSlotCount * sizeof(void (*)()));

// The record handed to plugins.
extern const VmApiTable kVmApi;
// Slot 68: the file-name argument reader, resolving linked files.
const char* ResolveLinkedFileArgSlot(ScriptState* L, int index);
