// The pump and the wait under every event loop of the player: the script's
// waits, the checks and the line hook, through the display adapter when one
// is installed, else through the platform. Also the quit flag they share.
#include "display/events.h"

#include <atomic>

#include "core/errcodes.h"
#include "core/eventqueue.h"
#include "core/ostime.h"
#include "core/timers.h"
#include "display/adapter.h"
#include "display/eventlib.h"
#include "display/eventsources.h"
#include "display/refresh.h"
#include "platform/platform.h"

namespace {

std::atomic<bool> quitRequested{false};
int64_t lastPurgeMillis = 0;

// Stale events are dropped at most this often by the line hook's pumps.
constexpr int64_t kPurgePeriodMillis = 10000;
constexpr int kNetworkWaitSliceMs = 1;

int64_t NowMillis() { return GetMonotonicMicros() / 1000; }

}  // namespace

bool EventQuitRequested() { return quitRequested.load(std::memory_order_relaxed); }
void SetEventQuitRequested(bool on) { quitRequested.store(on, std::memory_order_relaxed); }

int PumpResultError(int result, int error) {
    if (!result) return 0;
    return error ? error : ERR_USERABORT;
}

int PumpEvents(ScriptState* L, int flags, void*, int* outError) {
    if (outError) *outError = 0;
    if (flags & kPumpLineHook) {
        const int64_t now = NowMillis();
        if (now - lastPurgeMillis > kPurgePeriodMillis) {
            lastPurgeMillis = now;
            PurgeStaleEvents(L);
        }
    }
    // Pictures that other threads handed over are drawn first, so that the
    // window's present below shows them.
    FlushDisplayBlitQueue(L);
    if (const qbDisplayAdapterSlots* slots = DisplayAdapterSlots(); slots && slots->HandleEvents) {
        const int answer = slots->HandleEvents(nullptr);
        if (answer == ERR_USERABORT) {
            SetEventQuitRequested(true);
            return 1;
        }
        if (answer) {
            if (outError) *outError = answer;
            return 1;
        }
        return EventQuitRequested() ? 1 : 0;
    }
    int error = 0;
    const int result = PumpNativeEvents(L, &error);
    if (result && !error) SetEventQuitRequested(true);
    if (outError) *outError = error;
    return result;
}

int WaitForEvents(ScriptState*, int, void*, int* outValue) {
    if (outValue) *outValue = 0;
    if (const qbDisplayAdapterSlots* slots = DisplayAdapterSlots(); slots && slots->WaitEvents)
        return slots->WaitEvents(nullptr);
    // Sockets and the window system's queue cannot be waited on together:
    // while network objects are open the wait ends on their news or after a
    // millisecond, and the caller's loop looks at the window again.
    if (WaitForNetwork(kNetworkWaitSliceMs)) return 0;
    return WaitForNativeEvent();
}

int AddInterval(ScriptState*, ObjectID id, int ms) { return TimerService(kTimerAddRepeating, id, ms); }

void RemoveInterval(ScriptState*, ObjectID id) { TimerService(kTimerRemoveRepeating, id, 0); }
