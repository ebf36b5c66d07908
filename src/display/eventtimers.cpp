// Intervals and timeouts: script functions the timer service calls back
// through the dispatcher, every period or once.
#include <memory>
#include <new>
#include <unordered_map>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/objectlist.h"
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

// The records of one kind by id, and those with an adapter timer by its
// handle: making, finding, firing and clearing one walks none of the others.
struct IntervalList {
    std::unordered_map<qbObjectList::Key, std::unique_ptr<qbInterval>, qbObjectList::KeyHash> byId;
    std::unordered_map<uintptr_t, qbInterval*> byAdapterTimer;
};

IntervalList intervals;
IntervalList timeouts;

IntervalList& ListOf(int type) { return type == kObjectTypeInterval ? intervals : timeouts; }

qbObjectList::Key KeyOf(ObjectID id) { return {id.number, id.handle}; }

qbInterval* Find(IntervalList& list, ObjectID id) {
    auto it = list.byId.find(KeyOf(id));
    return it == list.byId.end() ? nullptr : it->second.get();
}

// Takes the record out of its list; the caller owns it.
std::unique_ptr<qbInterval> Take(IntervalList& list, ObjectID id) {
    auto it = list.byId.find(KeyOf(id));
    if (it == list.byId.end()) return nullptr;
    std::unique_ptr<qbInterval> record = std::move(it->second);
    list.byId.erase(it);
    if (record->adapterTimer) list.byAdapterTimer.erase(record->adapterTimer);
    return record;
}

// A timer of the adapter: its handle, 0 when it refused.
uintptr_t RegisterAdapterTimer(ScriptState* L, int type, int period) {
    return AdapterSlots()->RegisterTimer(L, period, type == kObjectTypeTimeout ? 1 : 0);
}

void FreeAdapterTimer(qbInterval& r) {
    ListOf(r.type).byAdapterTimer.erase(r.adapterTimer);
    if (r.adapterTimer && AdapterSlots() && AdapterSlots()->FreeTimer) AdapterSlots()->FreeTimer(r.adapterTimer);
    r.adapterTimer = 0;
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

void RemoveTimer(int type, ObjectID id) {
    TimerService(type == kObjectTypeInterval ? kTimerRemoveRepeating : kTimerRemoveOneShot, id, 0);
}

int Clear(ScriptState* L, int type, ObjectID id) {
    std::unique_ptr<qbInterval> record = Take(ListOf(type), id);
    if (!record) return NotFound(type, id);
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
        if (Find(list, old)) Clear(L, type, old);
    }
    auto record = std::make_unique<qbInterval>();
    record->type = type;
    record->id = newID.id;
    if (newID.chooseFlag) record->handle = record.get();
    record->period = static_cast<int>(ms);
    const ObjectID id = IDOf(*record);
    VmPushValue(L, 2);
    record->function = VmMakeRef(L, kRegistryIndex);
    if (VmGetTop(L) >= 4) {
        VmPushValue(L, 4);
        record->userData = VmMakeRef(L, kRegistryIndex);
    }
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
    try {
        if (record->adapterTimer) list.byAdapterTimer.emplace(record->adapterTimer, record.get());
        list.byId.emplace(KeyOf(id), std::move(record));
    } catch (const std::bad_alloc&) {
        if (record) {
            Release(L, *record);
            if (record->adapterTimer) FreeAdapterTimer(*record);
            else RemoveTimer(type, id);
        }
        return ERR_MEM;
    }
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

int DeliverTimeout(ScriptState* L, ObjectID id, qbEventMessage* msg, bool discardResults) {
    // Gone before the call, so that the callback may set the same id again.
    std::unique_ptr<qbInterval> record = Take(timeouts, id);
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
    qbInterval* found = Find(intervals, id);
    if (!found) return NotFound(kObjectTypeInterval, id);
    if (!(ms >= 1) || ms > 0x7fffffff) return ERR_WRONGUSAGE;
    qbInterval& r = *found;
    if (AdapterSlots()) {
        // The new timer first, so that a refusal leaves the old one running.
        const uintptr_t handle = RegisterAdapterTimer(L, kObjectTypeInterval, static_cast<int>(ms));
        if (!handle) return ERR_TIMER;
        try {
            intervals.byAdapterTimer.emplace(handle, &r);
        } catch (const std::bad_alloc&) {
            if (AdapterSlots()->FreeTimer) AdapterSlots()->FreeTimer(handle);
            return ERR_MEM;
        }
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
    qbEventMessage msg;
    msg.stackBase = VmGetTop(L);
    if (auto it = intervals.byAdapterTimer.find(handle); it != intervals.byAdapterTimer.end()) {
        if (it->second->function != -1) FillTimerMessage(&msg, *it->second, kMsgInterval);
        if (msg.type == kMsgNone) return 0;
        DeliverEvent(L, &msg, true);
        return 1;
    }
    auto it = timeouts.byAdapterTimer.find(handle);
    if (it == timeouts.byAdapterTimer.end()) return 0;
    DeliverTimeout(L, IDOf(*it->second), &msg, true);
    return 1;
}

int DeliverIntervalEvent(ScriptState* L, ObjectID id, qbEventMessage* msg) {
    qbInterval* r = Find(intervals, id);
    if (!r || r->function == -1) return 0;
    FillTimerMessage(msg, *r, kMsgInterval);
    return DeliverEvent(L, msg, false);
}

int DeliverTimeoutEvent(ScriptState* L, ObjectID id, qbEventMessage* msg) {
    if (!Find(timeouts, id)) return 0;
    return DeliverTimeout(L, id, msg, false);
}

void FreeIntervalsAndTimeouts(ScriptState* L) {
    for (int type : {kObjectTypeInterval, kObjectTypeTimeout}) {
        IntervalList& list = ListOf(type);
        while (!list.byId.empty()) {
            std::unique_ptr<qbInterval> record = Take(list, IDOf(*list.byId.begin()->second));
            Release(L, *record);
            if (record->adapterTimer) FreeAdapterTimer(*record);
            else RemoveTimer(type, IDOf(*record));
        }
    }
    timerAdapter = TimerAdapter{};
}

int GetTimerObjectInfo(int type, ObjectID id, int* function, int* userData, int* period) {
    const qbInterval* r = Find(ListOf(type), id);
    if (!r) return NotFound(type, id);
    *function = r->function;
    *userData = r->userData;
    *period = r->period;
    return 0;
}

int CountTimerObjects(int type) { return static_cast<int>(ListOf(type).byId.size()); }
