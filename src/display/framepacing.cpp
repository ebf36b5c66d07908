// Frame pacing for VWait: each display sleeps away the rest of its frame
// period since its last wait, in whole milliseconds, after the pictures
// other threads queued are drawn.
#include "display/refresh.h"

#include <utility>

#include "core/ostime.h"
#include "display/adapter.h"
#include "display/display.h"
#include "display/displayhooks.h"
#include "platform/platform_ops.h"

namespace {

constexpr int32_t kDefaultFPSLimit = 60;
constexpr int64_t kMicrosPerSecond = 1000000;
constexpr int64_t kMicrosPerMilli = 1000;
constexpr uint32_t kVWaitTagFlags = 1;

int32_t fpsLimit = kDefaultFPSLimit;
std::function<int64_t()> clockNow;
std::function<void(int64_t)> clockSleep;

int64_t NowMicros() { return clockNow ? clockNow() : GetMonotonicMicros(); }

void SleepFor(int64_t milliseconds) {
    if (clockSleep)
        clockSleep(milliseconds);
    else
        SleepMillis(milliseconds);
}

}  // namespace

int32_t GetFPSLimit() { return fpsLimit; }

void SetFPSLimit(int32_t fps) { fpsLimit = fps < 1 ? kDefaultFPSLimit : fps; }

void SetFramePacingClock(std::function<int64_t()> nowMicros, std::function<void(int64_t)> sleepMillis) {
    clockNow = std::move(nowMicros);
    clockSleep = std::move(sleepMillis);
}

int64_t FramePacingNowMicros() { return NowMicros(); }

int DelayPumpingEventsPaced(int milliseconds) {
    if (milliseconds <= 0) return 0;
    if (!clockSleep) return DelayPumpingEvents(milliseconds);
    clockSleep(milliseconds);
    return 0;
}

void PaceDisplayFrame(qbDisplay* display, bool forced) {
    if (!display || (display->state != DISPSTATE_OPEN && !forced)) return;
    if (!HasDisplayAdapter()) FlushNativeWindow(display);
    TimeValue elapsed = MicrosToTimeValue(NowMicros());
    SubTime(&elapsed, &display->lastVWait);
    const int64_t period = kMicrosPerSecond / fpsLimit;
    if (elapsed.seconds == 0 && elapsed.microseconds < period)
        SleepFor((period - elapsed.microseconds) / kMicrosPerMilli);
    display->lastVWait = MicrosToTimeValue(NowMicros());
}

int WaitDisplayVBlank(ScriptState* L, qbDisplay* display, uint32_t flags) {
    if (!display) return 0;
    // The frame the script waits for shows what the video threads handed
    // over, however few lines its loop has.
    FlushDisplayBlitQueue(L);
    const qbDisplayAdapterSlots* slots = DisplayAdapterSlots();
    if (slots && (DisplayAdapterFlags() & kAdapterVWait) && display->adapterHandle && slots->VWait) {
        const qbAdapterTag tags[] = {{kVWaitTagFlags, static_cast<intptr_t>(flags)}, {0, 0}};
        if (int err = slots->VWait(display->adapterHandle, tags)) return err;
    } else {
        PaceDisplayFrame(display, false);
        // Hooks that mirror a closed display still want the frame rhythm.
        if (!slots && display->state != DISPSTATE_OPEN && DisplayHasPlainHooks(display))
            PaceDisplayFrame(display, true);
    }
    CallDisplayHooks(display, kDrawHookVBlank, nullptr);
    return 0;
}

int WaitVBlank(ScriptState* L, uint32_t flags) { return WaitDisplayVBlank(L, GetCurrentDisplay(), flags); }

int VWait(ScriptState* L) {
    if (int err = WaitVBlank(L, 0)) return err;
    return 0;
}
