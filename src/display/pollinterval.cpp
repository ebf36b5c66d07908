// The shared poll interval, counted by a bit per user; the main thread alone
// acquires and releases it.
#include "display/pollinterval.h"

#include <cstdint>
#include <utility>

#include "core/timers.h"
#include "display/events.h"

namespace {

constexpr int kPollPeriodMs = 20;

unsigned pollUsers = 0;
// A tick the timer walk took before the source that paces by it looked.
bool tickPending = false;

// The interval's id pair {0, 1}: no script object can carry that handle.
ObjectID PollIntervalID() { return ObjectID{0, reinterpret_cast<void*>(uintptr_t{1})}; }

unsigned UserBit(int user) { return user == 0 || user == 1 ? 1u << user : 0u; }

}  // namespace

int AcquirePollInterval(ScriptState* L, int user) {
    unsigned bit = UserBit(user);
    if (bit == 0) return 0;
    if (pollUsers == 0) {
        if (int err = AddInterval(L, PollIntervalID(), kPollPeriodMs)) return err;
    }
    pollUsers |= bit;
    return 0;
}

void ReleasePollInterval(ScriptState* L, int user) {
    unsigned bit = UserBit(user);
    if ((pollUsers & bit) == 0) return;
    pollUsers &= ~bit;
    if (pollUsers == 0) {
        RemoveInterval(L, PollIntervalID());
        tickPending = false;
    }
}

bool TakePollTick() {
    if (TakeTimerIfFired(kTimerRepeating, PollIntervalID())) tickPending = true;
    return std::exchange(tickPending, false);
}

bool NotePollTick(ObjectID firedID) {
    if (!(firedID == PollIntervalID())) return false;
    tickPending = true;
    return true;
}
