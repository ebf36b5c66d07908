// Table 1 of the plugin base, system services: errors, time, memory, the
// console, command hooks, events and the plugin lists; the adapters of most
// slots are in basesystemslots.h.
#include <cstdarg>
#include <cstdio>

#include "core/errors.h"
#include "core/memory.h"
#include "core/ostime.h"
#include "plugins/basesystemslots.h"
#include "plugins/basetables.h"
#include "plugins/pluginentries.h"
#include "vm/commandhooks.h"

namespace {

static_assert(sizeof(qbTimeValue) == sizeof(TimeValue));

// The host's time value and the plugins' have the same two words.
TimeValue* Host(qbTimeValue* t) { return reinterpret_cast<TimeValue*>(t); }
const TimeValue* Host(const qbTimeValue* t) { return reinterpret_cast<const TimeValue*>(t); }

void SysTime(qbTimeValue* out) {
    if (out) GetSysTime(Host(out));
}
void TimeSub(qbTimeValue* a, const qbTimeValue* b) {
    if (a && b) SubTime(Host(a), Host(b));
}
void TimeAdd(qbTimeValue* a, const qbTimeValue* b) {
    if (a && b) AddTime(Host(a), Host(b));
}
int TimeCmp(const qbTimeValue* a, const qbTimeValue* b) { return a && b ? CmpTime(Host(a), Host(b)) : 0; }

void* Allocate(size_t size, uint32_t flags) { return AllocMemory(size, flags & 1); }

// The text is written into the plugin's buffer, which must be there.
int ErrorText(int code, char* out) { return out ? GetErrorText(code, out) : ERR_WRONGUSAGE; }

int PrintToConsole(const char* format, va_list args) { return format ? ConsoleVPrintf(format, args) : 0; }

// The VM's hook record is what plugins hold; its callbacks have the C
// prototypes of the header.
qbCommandHook* HookAdd(qbCommandHookRun run, qbCommandHookError onError, void* userData) {
    qbCommandHook hook;
    hook.run = reinterpret_cast<CommandHookRunFn>(run);
    hook.onError = reinterpret_cast<CommandHookErrorFn>(onError);
    hook.userData = userData;
    return AddCommandHook(hook);
}
int HookAddCommand(qbCommandHook* hook, int (*command)(ScriptState*)) { return AddCommandToHook(hook, command); }
qbCommandHook* HookSetError(qbCommandHook* hook, qbCommandHookError onError) {
    if (hook) hook->onError = reinterpret_cast<CommandHookErrorFn>(onError);
    return hook;
}
qbCommandHookError HookGetError(qbCommandHook* hook) {
    return hook ? reinterpret_cast<qbCommandHookError>(hook->onError) : nullptr;
}
qbCommandHook* HookSetDisabled(qbCommandHook* hook, int32_t disabled) {
    if (hook) SetCommandHookDisabled(hook, disabled != 0);
    return hook;
}

}  // namespace

// In slot order.
const qbSystemTable kPluginSystemTable = {
    HostTagsSlot, AddUserErrorCode, SetErrorDetail, SetErrorArgIndex, ErrorText,     // 0-4
    SysTime, TimeSub, TimeAdd, TimeCmp, SleepMillis,                                 // 5-9
    FormatDateSlot, Allocate, FreeMemory,                                            // 10-12
    AddPluginHookSlot, RegisterEventTypeSlot, PostEventSlot, PostInputEventSlot,     // 13-16
    RegisterObjectTypeSlot, FreeObjectDataSlot, AddPluginEntry, ProcessPendingSlot,  // 17-20
    HookAdd, RemoveCommandHook, HookAddCommand, HookSetError, HookGetError, HookSetDisabled,  // 21-26
    PostEventToSlot, PumpEventsSlot, WaitEventsSlot,                                 // 27-29
    CreateMutexSlot, FreeMutexSlot, LockMutexSlot, UnlockMutexSlot,                  // 30-33
    EnablePluginHookSlot, RemovePluginHookSlot, RegisterEventTypeExSlot,             // 34-36
    PrintToConsole, TimerElapsedSlot, SetTimerAdapterSlot, CurrentDateSlot,          // 37-40
    ConvertCharsetSlot, FreeMemory, AddToCapabilityListSlot,                         // 41-43
    RemoveFromCapabilityListSlot, SetPluginAttrTagSlot, PostEventWithDataSlot,       // 44-46
    ScriptPositionSlot, FindEventTypeSlot,                                           // 47-48
};
