// The VM's line hook: the VM hands it only every 64th new line, and it looks
// at the clock before it pumps the events.
#include <cstdint>

#include "core/ostime.h"
#include "display/eventlib.h"
#include "display/events.h"
#include "vm/vm.h"

namespace {

// Lines between two looks at the clock, and the time between two pumps.
constexpr int kLinesPerClockCheck = 64;
constexpr int64_t kPumpPeriodMicros = 10000;

int64_t lastPumpMicros = 0;
bool disabled = false;

void LineHookPump(ScriptState* L, VmDebugRecord*, int* errorCode) {
    if (disabled) return;
    const int64_t now = GetMonotonicMicros();
    if (now - lastPumpMicros < kPumpPeriodMicros) return;
    lastPumpMicros = now;
    int error = 0;
    if (const int result = PumpEvents(L, kPumpLineHook, nullptr, &error)) *errorCode = PumpResultError(result, error);
}

}  // namespace

void SetLineHookDisabled(bool on) { disabled = on; }

void InstallLineHookPump(ScriptState* L) {
    VmSetHook(L, LineHookPump, kMaskLine, 0);
    VmSetLineHookPeriod(L, kLinesPerClockCheck);
}
