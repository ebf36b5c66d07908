// The VM's line hook: it runs at every new line, so it only counts lines and
// looks at the clock now and then before it pumps the events.
#include <cstdint>

#include "core/ostime.h"
#include "display/eventlib.h"
#include "display/events.h"
#include "vm/vm.h"

namespace {

// Lines between two looks at the clock, and the time between two pumps.
constexpr int kLinesPerClockCheck = 64;
constexpr int64_t kPumpPeriodMicros = 10000;

int countdown = kLinesPerClockCheck;
int64_t lastPumpMicros = 0;
bool disabled = false;

}  // namespace

void SetLineHookDisabled(bool on) { disabled = on; }

void InstallLineHookPump(ScriptState* L) {
    VmSetHook(L, LineHookPump, kMaskLine, 0);
    VmSetLineHookPeriod(L, kLinesPerClockCheck);
}

void LineHookPump(ScriptState* L, VmDebugRecord*, int* errorCode) {
    // Installed by InstallLineHookPump, every call is a 64th line already;
    // installed as a plain hook, it counts for itself.
    if (VmGetLineHookPeriod(L) < kLinesPerClockCheck) {
        if (--countdown > 0) return;
        countdown = kLinesPerClockCheck;
    }
    if (disabled) return;
    const int64_t now = GetMonotonicMicros();
    if (now - lastPumpMicros < kPumpPeriodMicros) return;
    lastPumpMicros = now;
    int error = 0;
    if (const int result = PumpEvents(L, kPumpLineHook, nullptr, &error)) *errorCode = PumpResultError(result, error);
}
