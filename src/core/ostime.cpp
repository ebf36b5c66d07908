// Time values, the two clocks and sleeping. Arithmetic runs on 64-bit
// microsecond counts so that carries and borrows cannot go wrong.
#include "core/ostime.h"

#include <cerrno>
#include <ctime>

namespace {

constexpr int64_t kMicrosPerSecond = 1000000;

void ReadClock(clockid_t clock, TimeValue* out) {
    if (!out) return;
    timespec ts{};
    clock_gettime(clock, &ts);
    out->seconds = static_cast<uint32_t>(ts.tv_sec);
    out->microseconds = static_cast<uint32_t>(ts.tv_nsec / 1000);
}

}  // namespace

void GetSysTime(TimeValue* out) { ReadClock(CLOCK_REALTIME, out); }

void GetMonotonicTime(TimeValue* out) { ReadClock(CLOCK_MONOTONIC, out); }

int64_t GetMonotonicMicros() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * kMicrosPerSecond + ts.tv_nsec / 1000;
}

double GetTimeSeconds() { return static_cast<double>(GetMonotonicMicros()) / kMicrosPerSecond; }

int64_t TimeValueToMicros(const TimeValue& t) {
    return static_cast<int64_t>(t.seconds) * kMicrosPerSecond + t.microseconds;
}

// Seconds beyond 32 bits wrap as the record's unsigned field would.
TimeValue MicrosToTimeValue(int64_t micros) {
    if (micros < 0) return {};
    return {static_cast<uint32_t>(micros / kMicrosPerSecond),
            static_cast<uint32_t>(micros % kMicrosPerSecond)};
}

void SubTime(TimeValue* a, const TimeValue* b) {
    if (!a || !b) return;
    *a = MicrosToTimeValue(TimeValueToMicros(*a) - TimeValueToMicros(*b));
}

void AddTime(TimeValue* a, const TimeValue* b) {
    if (!a || !b) return;
    *a = MicrosToTimeValue(TimeValueToMicros(*a) + TimeValueToMicros(*b));
}

int CmpTime(const TimeValue* a, const TimeValue* b) {
    const int64_t x = a ? TimeValueToMicros(*a) : 0;
    const int64_t y = b ? TimeValueToMicros(*b) : 0;
    return x < y ? -1 : x > y ? 1 : 0;
}

void SleepMillis(int64_t milliseconds) {
    if (milliseconds <= 0) return;
    timespec want{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    timespec rest{};
    while (nanosleep(&want, &rest) == -1 && errno == EINTR) want = rest;
}
