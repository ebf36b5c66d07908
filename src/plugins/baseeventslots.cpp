// Table 1 of the plugin base: plugin hooks, the event types plugins register,
// the events they post, pending work and the timer adapter.
#include <new>

#include "core/errcodes.h"
#include "core/memory.h"
#include "core/pluginhooks.h"
#include "core/runstate.h"
#include "display/display.h"
#include "display/displayhooks.h"
#include "display/eventlib.h"
#include "display/events.h"
#include "display/refresh.h"
#include "plugins/basesystemslots.h"

namespace {

constexpr uint32_t kProcessHandleOne = 1;
constexpr uint32_t kProcessFlushBlits = 2;
constexpr uint32_t kPumpHandleOne = 16;

// The display with that adapter handle; null for none.
qbDisplay* DisplayOfAdapterHandle(const void* handle) {
    LockDisplayList();
    qbDisplay* found = nullptr;
    for (qbDisplay* d = FirstDisplay(); d && !found; d = NextDisplay(d))
        if (d->adapterHandle == handle) found = d;
    UnlockDisplayList();
    return found;
}

// The plugin's record as the adapter input; ERR_FINDDISPLAY when it names a
// display that does not exist.
int ToAdapterInput(const qbEventData* data, qbAdapterInput* in) {
    if (data == nullptr) return 0;
    if (data->display) {
        in->display = DisplayOfAdapterHandle(data->display);
        if (in->display == nullptr) return ERR_FINDDISPLAY;
    }
    for (int i = 0; i < 4; ++i) in->words[i] = data->words[i];
    in->block = data->block;
    in->call[0] = data->call[0];
    in->call[1] = data->call[1];
    return 0;
}

// Kinds 10-27 carry nothing the adapter input knows: refused, so that a
// block handed with them is not taken.
bool KnownKind(int kind) { return (kind >= 0 && kind <= 9) || kind >= kFirstUserEventType; }

int Dispatch(ScriptState* L) {
    bool nothing = true;
    return RunEventCallback(L, true, true, &nothing);
}

}  // namespace

qbPluginHook* AddPluginHookSlot(int kind, qbPluginFunc fn, void* userData, int) {
    return AddPluginHook(kind, reinterpret_cast<PluginHookFn>(fn), userData, 0);
}
qbPluginHook* EnablePluginHookSlot(qbPluginHook* hook, int32_t disabled) {
    return SetPluginHookDisabled(hook, disabled != 0);
}
void RemovePluginHookSlot(qbPluginHook* hook) { RemovePluginHook(hook); }

int RegisterEventTypeSlot(const char* name, qbEventFillFunc fill) {
    return RegisterEventTypeExSlot(name, 0, reinterpret_cast<qbPluginFunc>(fill), nullptr, nullptr);
}

int RegisterEventTypeExSlot(const char* name, int kind, qbPluginFunc value1, qbPluginFunc value2,
                            qbPluginFunc value3) {
    if (kind != 0 && kind != 1) return 0;
    qbUserEventHooks hooks;
    if (kind == 0) {
        hooks.fill = reinterpret_cast<void (*)(ScriptState*, int, void*)>(value1);
    } else {
        hooks.call = reinterpret_cast<int (*)(ScriptState*, int, void*)>(value1);
        hooks.afterCall = reinterpret_cast<void (*)(ScriptState*, int, void*)>(value2);
        hooks.freeData = reinterpret_cast<void (*)(ScriptState*, int, void*)>(value3);
    }
    try {
        return RegisterUserEvent(name, kind, &hooks);
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

int FindEventTypeSlot(const char* name, const qbPluginTag* tags) {
    int userData = -1;
    const int function = GetUserEventHandler(name, &userData);
    for (const qbPluginTag* t = tags; t && t->tag != 0; ++t)
        if (t->tag == 1 && t->value) *reinterpret_cast<int32_t*>(t->value) = userData;
    return function;
}

int PostEventToSlot(ScriptState* L, int kind, const qbEventData* data) {
    if (IsShuttingDown()) return 0;
    ScriptState* state = L ? L : GetMainState();
    // A resize and a restore draw through the state; no state, no script.
    if (!KnownKind(kind) || state == nullptr) return ERR_WRONGUSAGE;
    qbAdapterInput in;
    if (int err = ToAdapterInput(data, &in)) return err;
    return PostAdapterEvent(state, kind, in);
}

int PostEventSlot(int kind, const qbEventData* data) { return PostEventToSlot(GetMainState(), kind, data); }

int PostEventWithDataSlot(ScriptState* L, int kind, const qbEventData* data, void* block) {
    qbEventData record{};
    if (data) record = *data;
    record.block = block;
    const int err = PostEventToSlot(L, kind, &record);
    // The block is the event layer's whatever happens: only a queued event of
    // a registered type keeps it, everything else frees it here.
    if (err != 0 || kind < kFirstUserEventType || IsShuttingDown()) FreeMemory(block);
    return err;
}

int PostInputEventSlot(qbDisplayHook* hook, int kind, const int32_t data[3]) {
    if (IsShuttingDown()) return 0;
    return PostAdapterDisplayEvent(hook, kind, data);
}

int ProcessPendingSlot(uint32_t flags) {
    ScriptState* L = GetMainState();
    if (IsShuttingDown() || L == nullptr) return 0;
    if (flags & kProcessFlushBlits)
        if (int err = FlushDisplayBlitQueue(L)) return err;
    int error = 0;
    if (int r = PumpEvents(L, kPumpCheck, nullptr, &error)) return PumpResultError(r, error);
    return (flags & kProcessHandleOne) ? Dispatch(L) : 0;
}

int PumpEventsSlot(uint32_t flags) {
    ScriptState* L = GetMainState();
    if (IsShuttingDown() || L == nullptr) return 0;
    int error = 0;
    if (int r = PumpEvents(L, kPumpCheck, nullptr, &error)) return PumpResultError(r, error);
    return (flags & kPumpHandleOne) ? Dispatch(L) : 0;
}

int WaitEventsSlot() {
    ScriptState* L = GetMainState();
    if (IsShuttingDown() || L == nullptr) return 0;
    int value = 0;
    return WaitForEvents(L, 0, nullptr, &value);
}

int TimerElapsedSlot(uintptr_t handle) {
    ScriptState* L = GetMainState();
    return L ? FireAdapterTimer(L, handle) : 0;
}

int SetTimerAdapterSlot(qbPluginRecord* plugin, uint32_t flags) {
    qbPlugin* view = PluginViewOf(plugin);
    if (view == nullptr) return ERR_WRONGUSAGE;
    return SetTimerAdapter(view, flags);
}
