// The network library's time-out rule (see netclock.h).
#include "libs/netclock.h"

#include <algorithm>

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

void NetBudgetCharge(qbNetWaitBudget* budget, int64_t from, int64_t to) {
    if (to <= from) return;
    auto& spans = budget->spans;
    // A wait's passes follow one another: each extends the span its first
    // began, and only time not charged yet counts.
    if (!spans.empty() && from <= spans.back().second) {
        const int64_t end = spans.back().second;
        if (to <= end) return;
        spans.back().second = to;
        budget->waited += to - end;
        return;
    }
    spans.emplace_back(from, to);
    budget->waited += to - from;
}

bool NetBudgetLeft(qbNetWaitBudget* budget, int64_t now, int32_t limitMs) {
    if (limitMs == 0) return true;
    auto& spans = budget->spans;
    const int64_t windowStart = now - 2 * Micros(limitMs);
    while (!spans.empty() && spans.front().second <= windowStart) {
        budget->waited -= spans.front().second - spans.front().first;
        spans.pop_front();
    }
    // The oldest span may reach back past the window: only its part inside
    // counts.
    const int64_t outside = spans.empty() ? 0 : std::max<int64_t>(0, windowStart - spans.front().first);
    return budget->waited - outside < Micros(limitMs);
}

bool NetSharedWait::GoOn() {
    if (!budget_) return true;
    const int64_t now = GetMonotonicMicros();
    if (since_ >= 0) NetBudgetCharge(budget_, since_, now);
    since_ = now;
    return NetBudgetLeft(budget_, now, GetNetworkTimeout());
}

void NetSharedWait::CallbackRan() {
    if (since_ >= 0) since_ = GetMonotonicMicros();
}
