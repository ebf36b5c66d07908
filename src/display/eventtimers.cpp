// Intervals and timeouts: script functions the timer service calls back
// through the dispatcher, every period or once.
#include <algorithm>
#include <memory>
#include <vector>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/objects.h"
#include "core/plugin.h"
#include "core/pluginadapters.h"
#include "core/runstate.h"
#include "core/timers.h"
#include "display/adapter.h"
#include "display/eventlib.h"

namespace {

constexpr int kObjectTypeInterval = 41;
constexpr int kObjectTypeTimeout = 42;

struct qbInterval : qbObject {
    int function = -1;
    int period = 0;
    int userData = -1;
    uintptr_t adapterTimer = 0;  // the timer adapter's handle
};

// The plugin that replaces the platform's timers, when one does.
struct TimerAdapter {
    qbAdapterPlugin* plugin = nullptr;
    uint32_t flags = 0;
};
TimerAdapter timerAdapter;

const qbTimerAdapterSlots* AdapterSlots() { return timerAdapter.plugin ? timerAdapter.plugin->timerSlots : nullptr; }

// A timer of the adapter: its handle, 0 when it refused.
uintptr_t RegisterAdapterTimer(ScriptState* L, int type, int period) {
    return AdapterSlots()->RegisterTimer(L, period, type == kObjectTypeTimeout ? 1 : 0);
}

void FreeAdapterTimer(qbInterval& r) {
    if (r.adapterTimer && AdapterSlots() && AdapterSlots()->FreeTimer) AdapterSlots()->FreeTimer(r.adapterTimer);
    r.adapterTimer = 0;
}

using IntervalList = std::vector<std::unique_ptr<qbInterval>>;

IntervalList intervals;
IntervalList timeouts;

IntervalList& ListOf(int type) { return type == kObjectTypeInterval ? intervals : timeouts; }

IntervalList::iterator Find(IntervalList& list, ObjectID id) {
    return std::find_if(list.begin(), list.end(), [&](const auto& r) { return IDOf(*r) == id; });
}

int NotFound(int type, ObjectID id) {
    if (id.handle) return ERR_FINDARRAY;
    SetErrorArgIndex(id.number);
    return type == kObjectTypeInterval ? ERR_FINDINTERVAL : ERR_FINDTIMEOUT;
}

void Release(ScriptState* L, qbInterval& r) {
    if (r.function != -1) VmReleaseRef(L, kRegistryIndex, r.function);
    if (r.userData != -1) VmReleaseRef(L, kRegistryIndex, r.userData);
    r.function = r.userData = -1;
    FreeObjectDataList(L, &r.data);
}

// Removes the service's timer, first moving the dispatcher's cursor past it.
void RemoveTimer(int type, ObjectID id) {
    const int kind = type == kObjectTypeInterval ? kTimerRepeating : kTimerOneShot;
    qbTimerEntry* next = nullptr;
    if (qbTimerEntry* entry = FindTimerEntry(kind, id, &next)) MoveTimerCursorPast(entry, next);
    TimerService(type == kObjectTypeInterval ? kTimerRemoveRepeating : kTimerRemoveOneShot, id, 0);
}

int Clear(ScriptState* L, int type, ObjectID id) {
    IntervalList& list = ListOf(type);
    auto it = Find(list, id);
    if (it == list.end()) return NotFound(type, id);
    std::unique_ptr<qbInterval> record = std::move(*it);
    list.erase(it);
    Release(L, *record);
    if (record->adapterTimer) FreeAdapterTimer(*record);
    else RemoveTimer(type, id);
    return 0;
}

// SetInterval and SetTimeout: (id or Nil, function, ms [, userdata]).
int SetTimer(ScriptState* L, int type) {
    CheckArgCount(L, 3, 4, 0, 0);
    const NewObjectID newID = GetNewObjectIDArg(L, 1);
    VmCheckFunction(L, 2);
    const double ms = VmCheckNumber(L, 3);
    if (!(ms >= 1) || ms > 0x7fffffff) return ERR_WRONGUSAGE;
    IntervalList& list = ListOf(type);
    if (!newID.chooseFlag) {
        const ObjectID old{newID.id, nullptr};
        if (Find(list, old) != list.end()) Clear(L, type, old);
    }
    auto record = std::make_unique<qbInterval>();
    record->type = type;
    record->id = newID.id;
    if (newID.chooseFlag) record->handle = record.get();
    record->period = static_cast<int>(ms);
    VmPushValue(L, 2);
    record->function = VmMakeRef(L, kRegistryIndex);
    if (VmGetTop(L) >= 4) {
        VmPushValue(L, 4);
        record->userData = VmMakeRef(L, kRegistryIndex);
    }
    const ObjectID id = IDOf(*record);
    if (AdapterSlots()) {
        record->adapterTimer = RegisterAdapterTimer(L, type, record->period);
        if (!record->adapterTimer) {
            Release(L, *record);
            return ERR_TIMER;
        }
    } else if (int err = TimerService(type == kObjectTypeInterval ? kTimerAddRepeating : kTimerAddOneShot, id,
                                      record->period)) {
        Release(L, *record);
        return err;
    }
    list.push_back(std::move(record));
    if (!newID.chooseFlag) return 0;
    PushObjectID(L, id);
    return 1;
}

void FillTimerMessage(qbEventMessage* msg, const qbInterval& r, int type) {
    msg->type = type;
    msg->function = r.function;
    msg->userData = r.userData;
    msg->id = IDOf(r);
    std::snprintf(msg->action, sizeof msg->action, "%s", type == kMsgInterval ? "Interval" : "Timeout");
}

int DeliverTimeout(ScriptState* L, IntervalList::iterator it, qbEventMessage* msg, bool discardResults) {
    // Gone before the call, so that the callback may set the same id again.
    std::unique_ptr<qbInterval> record = std::move(*it);
    timeouts.erase(it);
    FreeObjectDataList(L, &record->data);
    FreeAdapterTimer(*record);
    FillTimerMessage(msg, *record, kMsgTimeout);
    const int err = DeliverEvent(L, msg, discardResults);
    Release(L, *record);
    return err;
}

}  // namespace

int cmdSetInterval(ScriptState* L) { return SetTimer(L, kObjectTypeInterval); }
int cmdSetTimeout(ScriptState* L) { return SetTimer(L, kObjectTypeTimeout); }

int cmdClearInterval(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    return Clear(L, kObjectTypeInterval, GetObjectIDArg(L, 1));
}

int cmdClearTimeout(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    return Clear(L, kObjectTypeTimeout, GetObjectIDArg(L, 1));
}

int cmdChangeInterval(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const ObjectID id = GetObjectIDArg(L, 1);
    const double ms = VmCheckNumber(L, 2);
    auto it = Find(intervals, id);
    if (it == intervals.end()) return NotFound(kObjectTypeInterval, id);
    if (!(ms >= 1) || ms > 0x7fffffff) return ERR_WRONGUSAGE;
    qbInterval& r = **it;
    if (AdapterSlots()) {
        // The new timer first, so that a refusal leaves the old one running.
        const uintptr_t handle = RegisterAdapterTimer(L, kObjectTypeInterval, static_cast<int>(ms));
        if (!handle) return ERR_TIMER;
        FreeAdapterTimer(r);
        r.adapterTimer = handle;
        r.period = static_cast<int>(ms);
        return 0;
    }
    r.period = static_cast<int>(ms);
    return TimerService(kTimerChangePeriod, id, r.period);
}

int SetTimerAdapter(qbAdapterPlugin* plugin, uint32_t flags) {
    if (int err = CheckAdapterInstall(plugin, PLUGINCAPS_TIMERADAPTER, timerAdapter.plugin, timerAdapter.flags))
        return err;
    if (!plugin->timerSlots || !plugin->timerSlots->RegisterTimer) return ERR_WRONGUSAGE;
    timerAdapter.plugin = plugin;
    timerAdapter.flags = flags;
    return 0;
}

int FireAdapterTimer(ScriptState* L, uintptr_t handle) {
    if (IsShuttingDown() || !handle) return 0;
    auto byHandle = [handle](const auto& r) { return r->adapterTimer == handle; };
    qbEventMessage msg;
    msg.stackBase = VmGetTop(L);
    if (auto it = std::find_if(intervals.begin(), intervals.end(), byHandle); it != intervals.end()) {
        if ((*it)->function != -1) FillTimerMessage(&msg, **it, kMsgInterval);
        if (msg.type == kMsgNone) return 0;
        DeliverEvent(L, &msg, true);
        return 1;
    }
    auto it = std::find_if(timeouts.begin(), timeouts.end(), byHandle);
    if (it == timeouts.end()) return 0;
    DeliverTimeout(L, it, &msg, true);
    return 1;
}

int DeliverIntervalEvent(ScriptState* L, ObjectID id, qbEventMessage* msg) {
    auto it = Find(intervals, id);
    if (it == intervals.end() || (*it)->function == -1) return 0;
    FillTimerMessage(msg, **it, kMsgInterval);
    return DeliverEvent(L, msg, false);
}

int DeliverTimeoutEvent(ScriptState* L, ObjectID id, qbEventMessage* msg) {
    auto it = Find(timeouts, id);
    if (it == timeouts.end()) return 0;
    return DeliverTimeout(L, it, msg, false);
}

void FreeIntervalsAndTimeouts(ScriptState* L) {
    for (int type : {kObjectTypeInterval, kObjectTypeTimeout}) {
        IntervalList& list = ListOf(type);
        while (!list.empty()) {
            std::unique_ptr<qbInterval> record = std::move(list.back());
            list.pop_back();
            Release(L, *record);
            if (record->adapterTimer) FreeAdapterTimer(*record);
            else RemoveTimer(type, IDOf(*record));
        }
    }
    timerAdapter = TimerAdapter{};
}

int GetTimerObjectInfo(int type, ObjectID id, int* function, int* userData, int* period) {
    IntervalList& list = ListOf(type);
    auto it = Find(list, id);
    if (it == list.end()) return NotFound(type, id);
    *function = (*it)->function;
    *userData = (*it)->userData;
    *period = (*it)->period;
    return 0;
}

int CountTimerObjects(int type) { return static_cast<int>(ListOf(type).size()); }
