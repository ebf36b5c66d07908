// The system library's stopwatch timers, waiting, and the date and time
// commands. Timers measure on the timers' clock (the monotonic one, so that
// setting the system clock never makes one jump), the clock their waits end
// by; dates read the local wall-clock time.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>

#include "core/objectlist.h"
#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/numbers.h"
#include "core/objects.h"
#include "core/ostime.h"
#include "core/timerthread.h"
#include "display/adapter.h"
#include "libs/system.h"
#include "libs/systemcommands.h"
#include "libs/systeminternal.h"
#include "platform/platform_ops.h"

namespace {

constexpr int kTimerType = 53;
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

struct qbTimer : qbObject {
    TimeValue start;   // when it last started or resumed; zero while paused
    TimeValue offset;  // time gathered before that
    int32_t paused = 0;
};

qbObjectList timerList;

TimeValue Now() { return MicrosToTimeValue(TimerClockMicros()); }

int32_t Elapsed(const qbTimer& t) {
    TimeValue e = t.offset;
    if (!t.paused) {
        TimeValue run = Now();
        SubTime(&run, &t.start);
        AddTime(&e, &run);
    }
    const int64_t ms = static_cast<int64_t>(e.seconds) * 1000 + e.microseconds / 1000;
    return static_cast<int32_t>(static_cast<uint32_t>(ms));
}

// Clears the record (its list link kept) and starts it from zero.
void Restart(qbTimer* t, ScriptState* L) {
    FreeObjectDataList(L, &t->data);
    t->type = kTimerType;
    t->offset = {};
    t->paused = 0;
    t->start = Now();
}

int Lookup(ScriptState* L, int idx, qbTimer** out) {
    const ObjectID id = GetObjectIDArg(L, idx);
    if (qbObject* o = FindListedObject(timerList, id)) {
        *out = static_cast<qbTimer*>(o);
        return 0;
    }
    if (id.handle) return ERR_FINDARRAY;
    SetErrorArgIndex(id.number);
    return ERR_FINDTIMER;
}

int Wait(int32_t ms) {
    return ms > 0 ? DelayPumpingEvents(ms) : 0;
}

std::tm LocalNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

// Reads the decimal digits of a fixed field.
int Field(const char* s, int at, int len) {
    int v = 0;
    for (int i = at; i < at + len; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(s[i]))) return -1;
        v = v * 10 + (s[i] - '0');
    }
    return v;
}

// {year, month, day, hours, minutes, seconds} of a date text, or false.
bool ParseDate(const char* s, bool dateOnly, int out[6]) {
    int month = -1;
    for (int m = 0; m < 12; ++m)
        if (strncasecmp(s + 3, kMonths[m], 3) == 0) month = m;
    if (month < 0 || s[2] != '-' || s[6] != '-') return false;
    out[0] = Field(s, 7, 4);
    out[1] = month;
    out[2] = Field(s, 0, 2);
    out[3] = dateOnly ? 0 : Field(s, 12, 2);
    out[4] = dateOnly ? 0 : Field(s, 15, 2);
    out[5] = dateOnly ? 0 : Field(s, 18, 2);
    for (int i = 0; i < 6; ++i)
        if (out[i] < 0) return false;
    return true;
}

}  // namespace

std::string FormatDate(const std::tm& t) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.2d-%s-%.4d %.2d:%.2d:%.2d", t.tm_mday, kMonths[(t.tm_mon % 12 + 12) % 12],
                  t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
    return buf;
}

void FormatCurrentDate(char* buffer, size_t size) {
    if (!buffer || size == 0) return;
    std::snprintf(buffer, size, "%s", FormatDate(LocalNow()).c_str());
}

int DateNumOf(const std::tm& t, int field) {
    switch (field) {
    case 0: return t.tm_year + 1900;
    case 1: return t.tm_mon + 1;
    case 2: return t.tm_mday;
    case 3: return t.tm_hour * 10000 + t.tm_min * 100 + t.tm_sec;
    default: return 0;
    }
}

int CompareDateTexts(const char* a, const char* b, bool dateOnly, int* result) {
    const size_t want = dateOnly ? 11 : 20;
    if (std::strlen(a) != want || std::strlen(b) != want) return ERR_INVALIDDATE;
    int x[6], y[6];
    if (!ParseDate(a, dateOnly, x) || !ParseDate(b, dateOnly, y)) return ERR_INVALIDDATE;
    *result = 0;
    for (int i = 0; i < (dateOnly ? 3 : 6); ++i) {
        if (x[i] != y[i]) {
            *result = x[i] > y[i] ? 1 : 2;
            break;
        }
    }
    return 0;
}

qbObjectList* TimerListHead() { return &timerList; }

void FreeAllTimers(ScriptState* L) {
    while (qbObject* first = TakeFirstObject(&timerList)) {
        std::unique_ptr<qbTimer> t(static_cast<qbTimer*>(first));
        FreeObjectDataList(L, &t->data);
    }
}

int cmdStartTimer(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    const NewObjectID id = GetNewObjectIDArg(L, 1);
    qbTimer* t = nullptr;
    if (!id.chooseFlag) t = static_cast<qbTimer*>(FindListedObject(timerList, ObjectID{id.id, nullptr}));
    if (!t) {
        std::unique_ptr<qbTimer> fresh;
        try {
            fresh = std::make_unique<qbTimer>();
        } catch (const std::bad_alloc&) {
            return ERR_MEM;
        }
        fresh->id = id.chooseFlag ? 0 : id.id;
        fresh->handle = id.chooseFlag ? static_cast<void*>(fresh.get()) : nullptr;
        if (int err = AppendObject(&timerList, fresh.get())) return err;
        t = fresh.release();
    }
    Restart(t, L);
    if (!id.chooseFlag) return 0;
    VmPushLightUserdata(L, t);
    return 1;
}

int cmdStopTimer(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbTimer* t;
    if (int err = Lookup(L, 1, &t)) return err;
    UnlinkObject(&timerList, t);
    std::unique_ptr<qbTimer> owner(t);
    FreeObjectDataList(L, &t->data);
    return 0;
}

int cmdPauseTimer(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbTimer* t;
    if (int err = Lookup(L, 1, &t)) return err;
    if (t->paused) return 0;
    TimeValue run = Now();
    SubTime(&run, &t->start);
    AddTime(&t->offset, &run);
    t->start = {};
    t->paused = 1;
    return 0;
}

int cmdResumeTimer(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbTimer* t;
    if (int err = Lookup(L, 1, &t)) return err;
    if (!t->paused) return 0;
    t->paused = 0;
    t->start = Now();
    return 0;
}

int cmdResetTimer(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    qbTimer* t;
    if (int err = Lookup(L, 1, &t)) return err;
    // A negative start counts as zero: elapsed times are never negative.
    const int32_t ms = std::max(0, ClampToInt32(VmOptNumber(L, 2, 0)));
    t->offset = {static_cast<uint32_t>(ms / 1000), static_cast<uint32_t>(ms % 1000) * 1000};
    t->paused = 0;
    t->start = Now();
    return 0;
}

int cmdGetTimer(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbTimer* t;
    if (int err = Lookup(L, 1, &t)) return err;
    VmPushNumber(L, Elapsed(*t));
    return 1;
}

int cmdWaitTimer(ScriptState* L) {
    CheckArgCount(L, 2, 3, 0, 0);
    qbTimer* t;
    if (int err = Lookup(L, 1, &t)) return err;
    const int32_t target = ClampToInt32(VmCheckNumber(L, 2));
    const bool reset = GetFlagArg(L, 3, true);
    if (t->paused) return ERR_WRONGUSAGE;
    const int64_t remaining = static_cast<int64_t>(target) - Elapsed(*t);
    if (remaining > 0) {
        if (int err = Wait(static_cast<int32_t>(remaining))) return err;
    }
    if (reset) {
        // The wait pumps events, and a callback may have stopped the timer.
        for (qbObject* o = timerList.head; o; o = o->next)
            if (o == t) Restart(t, L);
    }
    return 0;
}

int cmdWait(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    const double duration = VmCheckNumber(L, 1);
    const int unit = ClampToInt32(VmOptNumber(L, 2, 2));
    if (duration < 1) return 0;
    double ms = duration;
    if (unit == 0) ms = duration * 1000;
    else if (unit == 2) ms = duration * 20;
    return Wait(ClampToInt32(ms));
}

int cmdGetTime(ScriptState* L) {
    CheckArgCount(L, 0, 1, 0, 0);
    const bool seconds = GetFlagArg(L, 1, false);
    const std::tm t = LocalNow();
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2d:%.2d:%.2d", t.tm_hour, t.tm_min, t.tm_sec);
    if (!seconds) buf[5] = 0;
    VmPushString(L, buf);
    return 1;
}

int cmdGetDate(ScriptState* L) {
    CheckArgCount(L, 0, 1, 0, 0);
    if (VmOptNumber(L, 1, 0) == 0) {
        char buf[256];
        FormatDateTime(0, buf, sizeof buf, nullptr, 0);
        VmPushString(L, buf);
        return 1;
    }
    char buf[64];
    FormatCurrentDate(buf, sizeof buf);
    VmPushString(L, buf);
    return 1;
}

int cmdGetWeekday(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    char buf[256];
    FormatDateTime(3, buf, sizeof buf, nullptr, 0);
    VmPushString(L, buf);
    return 1;
}

int cmdGetDateNum(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    VmPushNumber(L, DateNumOf(LocalNow(), ClampToInt32(VmCheckNumber(L, 1))));
    return 1;
}

int cmdCompareDates(ScriptState* L) {
    CheckArgCount(L, 2, 3, 0, 0);
    const char* a = VmCheckString(L, 1, nullptr);
    const char* b = VmCheckString(L, 2, nullptr);
    const bool dateOnly = GetFlagArg(L, 3, false);
    int result = 0;
    if (int err = CompareDateTexts(a, b, dateOnly, &result)) return err;
    VmPushNumber(L, result);
    return 1;
}
