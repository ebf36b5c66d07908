// The network library's time-out rule (see netclock.h).
#include "libs/netclock.h"

#include "core/ostime.h"
#include "libs/network.h"

namespace {

int64_t Micros(int32_t ms) { return static_cast<int64_t>(ms) * 1000; }

}  // namespace

int64_t NetDeadlineFromNow() {
    const int32_t limit = GetNetworkTimeout();
    return limit == 0 ? -1 : GetMonotonicMicros() + Micros(limit);
}

qbNetWaitRule NetWaitWhole() { return NetWaitWholeUntil(NetDeadlineFromNow()); }

qbNetWaitRule NetWaitWholeUntil(int64_t deadline) { return qbNetWaitRule(NetWaitKind::kWhole, deadline); }

qbNetWaitRule NetWaitBulk() { return qbNetWaitRule(NetWaitKind::kBulk, -1); }

qbNetClock NetClockStart(const qbNetWaitRule& rule) {
    qbNetClock clock{rule};
    clock.limitMs = GetNetworkTimeout();
    clock.lastProgress = clock.windowStart = GetMonotonicMicros();
    return clock;
}

void NetClockProgress(qbNetClock* clock, size_t bytes) {
    if (bytes == 0) return;
    clock->lastProgress = GetMonotonicMicros();
    clock->windowBytes += bytes;
}

void NetClockBeginWhole(qbNetClock* clock) { clock->rule.deadline = NetDeadlineFromNow(); }

void NetClockEndWhole(qbNetClock* clock) { clock->rule.deadline = -1; }

NetWaitEnd NetClockDeadline(const qbNetClock& clock) {
    if (clock.rule.deadline >= 0 && GetMonotonicMicros() > clock.rule.deadline) return NetWaitEnd::kDeadline;
    return NetWaitEnd::kGoOn;
}

NetWaitEnd NetClockCheck(qbNetClock* clock) {
    if (NetClockDeadline(*clock) != NetWaitEnd::kGoOn) return NetWaitEnd::kDeadline;
    if (clock->limitMs == 0) return NetWaitEnd::kGoOn;
    const int64_t now = GetMonotonicMicros();
    if (now - clock->lastProgress > Micros(clock->limitMs)) return NetWaitEnd::kPause;
    if (clock->rule.kind == NetWaitKind::kBulk && now - clock->windowStart > Micros(clock->limitMs)) {
        // One period judged as a whole: a steady stream passes it and starts
        // the next, a trickle ends here.
        if (clock->windowBytes < kNetLowSpeedBytes) return NetWaitEnd::kLowSpeed;
        clock->windowStart = now;
        clock->windowBytes = 0;
    }
    return NetWaitEnd::kGoOn;
}
