// Time values and sleeping: wall-clock time for dates and time stamps that
// leave the player, the monotonic clock for measuring how long things take.
#pragma once

#include <cstdint>

struct TimeValue {
    uint32_t seconds = 0;
    uint32_t microseconds = 0;  // below 1000000
};

// Wall-clock time of day (seconds since 1970).
void GetSysTime(TimeValue* out);
// Monotonic time since an arbitrary start; the clock for ages, time-outs
// and elapsed times, which must not jump when the system clock is set.
void GetMonotonicTime(TimeValue* out);
int64_t GetMonotonicMicros();
// Monotonic seconds with microsecond resolution; only differences mean anything.
double GetTimeSeconds();

// a = a - b. A b later than a gives {0, 0}: an age is never negative.
void SubTime(TimeValue* a, const TimeValue* b);
// a = a + b, carrying whole seconds out of the microseconds.
void AddTime(TimeValue* a, const TimeValue* b);
// -1, 0 or 1, by seconds and then microseconds.
int CmpTime(const TimeValue* a, const TimeValue* b);

int64_t TimeValueToMicros(const TimeValue& t);
TimeValue MicrosToTimeValue(int64_t micros);

// Zero or negative returns at once; a signal does not cut the sleep short.
void SleepMillis(int64_t milliseconds);
