// The commands that wait for a mouse button or a key, pumping the events
// while they wait; a quit or a pump error ends them.
#include <strings.h>

#include <cstring>

#include "core/errcodes.h"
#include "core/eventqueue.h"
#include "core/runstate.h"
#include "core/timers.h"
#include "display/display.h"
#include "display/eventlib.h"
#include "display/events.h"

namespace {

// A key code, or kAnyKey for any key at all.
constexpr int kAnyKey = -2;

bool KeyDown(const qbDisplay* d, int code) {
    if (code == kAnyKey) {
        for (int i = 0; i < kKeyStateCount; ++i)
            if (d->keyState[i] || d->view.keyState[i]) return true;
        return false;
    }
    return d->keyState[code] || d->view.keyState[code];
}

// Pumps (and waits between pumps) until want(d) holds; 0 or the pump's error.
template <class Pred>
int PumpUntil(ScriptState* L, qbDisplay* d, Pred want) {
    for (;;) {
        int error = 0;
        if (int r = PumpEvents(L, kPumpWait, nullptr, &error)) return PumpResultError(r, error);
        if (want(d)) return 0;
        int value = 0;
        if (int err = WaitForEvents(L, 0, nullptr, &value)) return err;
    }
}

// Down, then up, then the input queue is flushed.
int WaitButton(ScriptState* L, int button) {
    CheckArgCount(L, 0, 0, 0, 0);
    qbDisplay* d = nullptr;
    if (int err = CurrentEventDisplay(&d)) return err;
    if (int err = PumpUntil(L, d, [button](qbDisplay* x) { return x->view.buttons[button] != 0; })) return err;
    if (int err = PumpUntil(L, d, [button](qbDisplay* x) { return x->view.buttons[button] == 0; })) return err;
    return FlushEvents(L, -1, 1);
}

int WhileButton(ScriptState* L, int button) {
    CheckArgCount(L, 0, 0, 0, 0);
    qbDisplay* d = nullptr;
    if (int err = CurrentEventDisplay(&d)) return err;
    return PumpUntil(L, d, [button](qbDisplay* x) { return x->view.buttons[button] == 0; });
}

}  // namespace

int cmdWaitLeftMouse(ScriptState* L) { return WaitButton(L, 0); }
int cmdWaitRightMouse(ScriptState* L) { return WaitButton(L, 1); }
int cmdWaitMidMouse(ScriptState* L) { return WaitButton(L, 2); }
int cmdWhileMouseDown(ScriptState* L) { return WhileButton(L, 0); }
int cmdWhileRightMouseDown(ScriptState* L) { return WhileButton(L, 1); }

int cmdWaitKeyDown(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    const char* name = VmCheckString(L, 1, nullptr);
    int code = kAnyKey;
    if (strcasecmp(name, "any") != 0) {
        const int64_t named = KeyCodeFromName(name, false);
        if (named >= 0) code = static_cast<int>(named);
        else if (std::strlen(name) == 1) code = static_cast<unsigned char>(name[0]);
        else return ERR_WRONGUSAGE;
    }
    qbDisplay* d = nullptr;
    if (int err = CurrentEventDisplay(&d)) return err;
    if (int err = PumpUntil(L, d, [code](qbDisplay* x) { return !KeyDown(x, code); })) return err;
    if (int err = PumpUntil(L, d, [code](qbDisplay* x) { return KeyDown(x, code); })) return err;
    if (int err = PumpUntil(L, d, [code](qbDisplay* x) { return !KeyDown(x, code); })) return err;
    return FlushEvents(L, -1, 1);
}

// While the key of the last ONKEYDOWN label jump stays down.
int cmdWhileKeyDown(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    const int32_t code = LastLabelKeyCode();
    if (code < 0 || code >= kKeyStateCount) return 0;
    qbDisplay* d = nullptr;
    if (int err = CurrentEventDisplay(&d)) return err;
    return PumpUntil(L, d, [code](qbDisplay* x) { return !KeyDown(x, code); });
}

int WaitPumpingEvents(qbDisplay*, int ms) {
    if (ms <= 0) return 0;
    uint64_t timer = StartWaitTimer(ms);
    if (timer == 0) return ERR_TIMER;

    ScriptState* L = GetMainState();
    int result = 0;
    while (!WaitTimerFiredYet(timer)) {
        int value = 0;
        if (int err = WaitForEvents(L, 0, nullptr, &value)) {
            result = err;
            break;
        }
        int error = 0;
        if (PumpEvents(L, kPumpWait, nullptr, &error)) {
            result = error ? error : ERR_USERABORT;
            break;
        }
    }
    EndWaitTimer(timer);
    return result;
}
