// The adapters behind table 1 of the plugin base that change a host
// operation's calling convention: plugins pass their own records, tag lists
// and fixed data records; the host operations take its own.
#pragma once

#include <cstdint>

#include "core/objects.h"
#include "core/plugin.h"

// The host's view of a loaded plugin's own record; null for a record that
// no loaded plugin owns.
qbPlugin* PluginViewOf(const qbPluginRecord* record);
// Plugins name objects by number, or by the handle an automatic id gave.
ObjectID PluginObjectID(intptr_t value);

// Host information, objects, mutexes, dates and capability lists.
int HostTagsSlot(qbPluginTag* tags);
void FormatDateSlot(char* to, size_t size);
int RegisterObjectTypeSlot(void** head, const char* name, uint32_t flags, uint32_t value);
void FreeObjectDataSlot(ScriptState* L, void* object);
qbMutex* CreateMutexSlot();
void FreeMutexSlot(qbMutex* mutex);
void LockMutexSlot(qbMutex* mutex);
void UnlockMutexSlot(qbMutex* mutex);
void CurrentDateSlot(int32_t out[6]);
char* ConvertCharsetSlot(const char* text, int from, int to);
int AddToCapabilityListSlot(qbPluginRecord* plugin, uint32_t capability);
void RemoveFromCapabilityListSlot(qbPluginRecord* plugin, uint32_t capability);
int SetPluginAttrTagSlot(qbPluginRecord* plugin, int tag, intptr_t value);
void ScriptPositionSlot(const char** name, const char** placeholder, int32_t* line);
// The three event-layer words that slot 0's tags 33, 38 and 39 set.
int64_t HostTagWord(int tag);

// Plugin hooks, event types, events, pending work and the timer adapter.
qbPluginHook* AddPluginHookSlot(int kind, qbPluginFunc fn, void* userData, int reserved);
qbPluginHook* EnablePluginHookSlot(qbPluginHook* hook, int32_t disabled);
void RemovePluginHookSlot(qbPluginHook* hook);
int RegisterEventTypeSlot(const char* name, qbEventFillFunc fill);
int RegisterEventTypeExSlot(const char* name, int kind, qbPluginFunc value1, qbPluginFunc value2,
                            qbPluginFunc value3);
int FindEventTypeSlot(const char* name, const qbPluginTag* tags);
int PostEventSlot(int kind, const qbEventData* data);
int PostEventToSlot(ScriptState* L, int kind, const qbEventData* data);
int PostEventWithDataSlot(ScriptState* L, int kind, const qbEventData* data, void* block);
int PostInputEventSlot(qbDisplayHook* hook, int kind, const int32_t data[3]);
int ProcessPendingSlot(uint32_t flags);
int PumpEventsSlot(uint32_t flags);
int WaitEventsSlot();
int TimerElapsedSlot(uintptr_t handle);
int SetTimerAdapterSlot(qbPluginRecord* plugin, uint32_t flags);
