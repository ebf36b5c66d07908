// The dispatcher: one delivered event per call, resuming where the last call
// stopped, so that fired timers, pointer moves, input and button over/out
// events all get their turn. Also the message tables and the callback runner
// behind WaitEvent, CheckEvent and CheckEvents.
#include <cstring>

#include "core/errcodes.h"
#include "core/eventqueue.h"
#include "core/memory.h"
#include "core/settings.h"
#include "core/timers.h"
#include "core/truth.h"
#include "display/adapter.h"
#include "display/display.h"
#include "display/eventlib.h"
#include "display/events.h"
#include "display/pollinterval.h"
#include "display/refresh.h"
#include "platform/platform.h"

namespace {

constexpr uint32_t kEventQuit = 23;
constexpr uint32_t kEventCallRequest = 24;

enum DispatchState : int {
    kIdle = 0,
    kTimerDelivered = 1,
    kSourceDelivered = 2,  // music, sound, network or a program's message
    kMouseMoveDelivered = 3,
    kDisplayMouseDelivered = 5,
    kInputDelivered = 6,
    kOverOutDelivered = 7,
};

// Displays are kept as positions in the display list, so that a display
// freed by a callback leaves no dangling cursor.
struct qbEventDispatch {
    int state = kIdle;
    // The place the walk of fired timers goes on from: a place, not a
    // timer, so that a timer removed meanwhile leaves nothing dangling.
    uint64_t timerPlace = 0;
    bool timersDone = false;
    int moveIndex = 0;
    bool movesDone = false;
    qbInputEvent input;
    bool haveInput = false;
    int overIndex = 0;
    qbDisplay* overDisplay = nullptr;
};

qbEventDispatch dispatch;

void Copy(char* dest, size_t size, const char* text) {
    std::strncpy(dest, text, size - 1);
    dest[size - 1] = 0;
}

bool Installed(const qbDisplay* d, int slot) { return d->handlers[slot].function != -1; }

void FillDisplayMessage(qbEventMessage* msg, qbDisplay* d, int slot, int type, const char* action) {
    msg->source = d;
    msg->type = type;
    msg->function = d->handlers[slot].function;
    msg->userData = d->handlers[slot].userData;
    msg->id = IDOf(*d);
    Copy(msg->action, sizeof msg->action, action);
}

qbDisplay* DisplayAt(int index) {
    qbDisplay* d = FirstDisplay();
    for (int i = 0; d && i < index; ++i) d = NextDisplay(d);
    return d;
}

bool Alive(const qbDisplay* display) {
    for (qbDisplay* d = FirstDisplay(); d; d = NextDisplay(d))
        if (d == display) return true;
    return false;
}

void FreeInput(ScriptState* L, qbInputEvent& in) {
    FreeEventData(L, in.type, in.block);
    in.block = nullptr;
}

// Mouse handlers of the display itself, before its buttons see the event.
bool DisplayMouseMessage(const qbInputEvent& in, qbEventMessage* msg) {
    int slot = -1;
    const char* action = nullptr;
    const bool down = in.state != 0;
    switch (in.type) {
        case kEventLeftButton:
            slot = down ? kSlotMouseDown : kSlotMouseUp;
            action = down ? "OnMouseDown" : "OnMouseUp";
            break;
        case kEventRightButton:
            slot = down ? kSlotRightMouseDown : kSlotRightMouseUp;
            action = down ? "OnRightMouseDown" : "OnRightMouseUp";
            break;
        case kEventMiddleButton:
            slot = down ? kSlotMidMouseDown : kSlotMidMouseUp;
            action = down ? "OnMidMouseDown" : "OnMidMouseUp";
            break;
        case kEventWheelUp: slot = kSlotWheelUp, action = "OnWheelUp"; break;
        case kEventWheelDown: slot = kSlotWheelDown, action = "OnWheelDown"; break;
        default: return false;
    }
    if (!Installed(in.display, slot)) return false;
    FillDisplayMessage(msg, in.display, slot, kMsgWindow, action);
    return true;
}

struct WindowEventRow {
    uint32_t type;
    int slot;
    const char* action;
    int messageType;
};

const WindowEventRow kWindowEvents[] = {
    {4, 4, "MoveWindow", kMsgMove},         {5, 5, "SizeWindow", kMsgSize},
    {6, 7, "InactiveWindow", kMsgWindow},   {7, 3, "CloseWindow", kMsgWindow},
    {8, 6, "ActiveWindow", kMsgWindow},     {9, 8, "HideWindow", kMsgWindow},
    {10, 9, "ShowWindow", kMsgWindow},      {13, 16, "ModeSwitch", kMsgModeSwitch},
    {14, 17, "OnDropFile", kMsgDropFiles},  {15, 18, "ClipboardChange", kMsgWindow},
    {17, 21, "OrientationChange", kMsgOrientation}, {18, 22, "ShowKeyboard", kMsgWindow},
    {19, 23, "HideKeyboard", kMsgWindow},   {20, 24, "Hotkey", kMsgWindow},
    {21, 25, "TrayIcon", kMsgWindow},       {22, 26, "OnTouch", 22},
    {25, 27, "OnApplicationMessage", 23},   {26, 28, "OnMenuSelect", 24},
    {27, 29, "OnDockyClick", kMsgWindow},
};

// Buttons, keys, window events and user event types; true with a message.
bool TranslateInputEvent(ScriptState* L, qbInputEvent& in, qbEventMessage* msg) {
    qbDisplay* d = in.display;
    switch (in.type) {
        case kEventLeftButton:
        case kEventRightButton:
        case kEventMiddleButton: return TranslateButtonEvent(L, in, msg);
        case kEventKey: {
            const bool down = in.state != 0;
            const int slot = down ? kSlotKeyDown : kSlotKeyUp;
            if (!Installed(d, slot)) return false;
            FillDisplayMessage(msg, d, slot, kMsgKey, down ? "OnKeyDown" : "OnKeyUp");
            msg->qualifiers = static_cast<uint32_t>(in.key[0]);
            KeyTextOf(in.key[1], msg->key);
            return true;
        }
        default: break;
    }
    for (const WindowEventRow& row : kWindowEvents) {
        if (row.type != in.type) continue;
        if (!Installed(d, row.slot)) return false;
        FillDisplayMessage(msg, d, row.slot, row.messageType, row.action);
        msg->data[0] = in.x;
        msg->data[1] = in.y;
        msg->data[2] = in.state;
        msg->block = in.block;
        return true;
    }
    int function = -1;
    int userData = -1;
    const char* name = UserEventName(static_cast<int>(in.type), &function, &userData);
    if (!name || (function == -1 && !IsCallingUserEvent(static_cast<int>(in.type)))) return false;
    msg->source = d;
    msg->type = kMsgUserType;
    msg->function = function;
    msg->userData = userData;
    msg->userType = static_cast<int>(in.type);
    msg->id = d ? IDOf(*d) : ObjectID{};
    Copy(msg->action, sizeof msg->action, name);
    msg->block = in.block;
    return true;
}

int Deliver(ScriptState* L, qbEventMessage* msg, int state) {
    dispatch.state = state;
    return DeliverEvent(L, msg, false);
}

// Takes input events until one reaches the script; 1 delivered (result in
// *result), 0 queue empty.
int NextInputEvent(ScriptState* L, qbEventMessage* msg, int* result) {
    qbInputEvent& in = dispatch.input;
    PurgeStaleEvents(L);
    if (HaveLabelEvents()) {
        LockEventQueue();
        const int jump = ScanLabelEvents(L, msg);
        UnlockEventQueue();
        if (jump) {
            dispatch.state = kIdle;
            *result = jump;
            return 1;
        }
    }
    for (;;) {
        LockEventQueue();
        const int got = PeekQueuedEvent(L, 0, &in, 1);
        if (got) FlushEvents(L, 0, 0);
        UnlockEventQueue();
        if (!got) return 0;
        if (in.type == kEventQuit) {
            FreeInput(L, in);
            *result = ERR_USERABORT;
            return 1;
        }
        if (in.type == kEventCallRequest) {
            // The block holds the function and its argument.
            auto* words = static_cast<void**>(in.block);
            if (words && words[0]) {
                using CallRequest = int (*)(ScriptState*, void*);
                if (int err = reinterpret_cast<CallRequest>(words[0])(L, words[1])) {
                    FreeInput(L, in);
                    *result = err;
                    return 1;
                }
            }
            FreeInput(L, in);
            continue;
        }
        if (in.type == kEventSuperseded || (in.type < kFirstUserEventType && !in.display)) {
            FreeInput(L, in);
            continue;
        }
        if (in.display && DisplayMouseMessage(in, msg)) {
            dispatch.haveInput = true;
            *result = Deliver(L, msg, kDisplayMouseDelivered);
            return 1;
        }
        if (TranslateInputEvent(L, in, msg)) {
            *result = Deliver(L, msg, kInputDelivered);
            FreeInput(L, in);
            return 1;
        }
        FreeInput(L, in);
    }
}

}  // namespace

void ResetEventDispatcher(ScriptState* L) {
    if (dispatch.haveInput) FreeInput(L, dispatch.input);
    dispatch = qbEventDispatch{};
    ResetSourceWalk();
}

namespace {
// One step of a source served through hooks; true when it ends this call.
bool SourceStep(ScriptState* L, int (*step)(ScriptState*, qbEventMessage*), qbEventMessage* msg, int* result) {
    const int before = dispatch.state;
    dispatch.state = kSourceDelivered;
    *result = step(L, msg);
    if (*result || msg->type != kMsgNone) return true;
    dispatch.state = before;
    return false;
}
}  // namespace

int NextEvent(ScriptState* L, bool noMouseOnCheck, qbEventMessage* msg) {
    msg->type = kMsgNone;
    qbEventDispatch& s = dispatch;
    if (s.state == kDisplayMouseDelivered && s.haveInput) {
        // The event a display's own mouse handler had goes on to the buttons.
        s.haveInput = false;
        qbInputEvent& in = s.input;
        if (Alive(in.display) && TranslateInputEvent(L, in, msg)) {
            const int result = Deliver(L, msg, kInputDelivered);
            FreeInput(L, in);
            return result;
        }
        FreeInput(L, in);
        s.state = kInputDelivered;
    }
    if (s.state == kIdle) {
        ResetEventDispatcher(L);
    } else if (s.state == kInputDelivered) {
        // Fired timers are looked at again between two input events, so that
        // a flood of input cannot hold them back.
        s.timersDone = false;
        s.timerPlace = 0;
    }
    const bool walking = s.state != kOverOutDelivered;
    int result = 0;
    if (walking && SourceStep(L, NextMusicRequest, msg, &result)) return result;
    while (!s.timersDone && walking) {
        int kind = kTimerNothing;
        ObjectID id;
        const uint64_t next = TakeFiredTimerEvent(s.timerPlace, &kind, &id);
        if (kind == kTimerNothing) {
            s.timersDone = true;
            break;
        }
        s.timerPlace = next;
        if (kind == kTimerRepeating && NotePollTick(id)) continue;
        bool delivered = false;
        if (kind == kTimerRepeating) {
            s.state = kTimerDelivered;
            result = DeliverIntervalEvent(L, id, msg);
            delivered = msg->type != kMsgNone;
        } else if (kind == kTimerOneShot) {
            s.state = kTimerDelivered;
            result = DeliverTimeoutEvent(L, id, msg);
            delivered = msg->type != kMsgNone;
        }
        if (delivered || result) return result;
    }
    if (walking && SourceStep(L, NextSoundEvent, msg, &result)) return result;
    if (!s.movesDone && walking) {
        for (qbDisplay* d = DisplayAt(s.moveIndex); d; d = NextDisplay(d)) {
            ++s.moveIndex;
            if (!Installed(d, kSlotMouseMove) || !d->view.mouseMoved) continue;
            FillDisplayMessage(msg, d, kSlotMouseMove, kMsgMouseMove, "OnMouseMove");
            DisplayPointer(d, &msg->data[0], &msg->data[1]);
            return Deliver(L, msg, kMouseMoveDelivered);
        }
        s.movesDone = true;
    }
    if (walking) {
        if (SourceStep(L, NextNetworkEvent, msg, &result)) return result;
        if (SourceStep(L, NextProgramMessage, msg, &result)) return result;
        if (NextInputEvent(L, msg, &result)) return result;
        if (!noMouseOnCheck) {
            if (int jump = CheckLabelMouseOver(L, msg)) {
                s.state = kIdle;
                return jump;
            }
        }
    }
    // The over/out walk of the buttons of each display the pointer moved on.
    if (s.state == kOverOutDelivered && s.overDisplay && Alive(s.overDisplay)) {
        if (NextButtonOverOut(L, s.overDisplay, false, msg)) return Deliver(L, msg, kOverOutDelivered);
    }
    for (qbDisplay* d = DisplayAt(s.overIndex); d; d = NextDisplay(d)) {
        ++s.overIndex;
        if (!d->view.mouseMoved) continue;
        d->view.mouseMoved = 0;
        s.overDisplay = d;
        if (NextButtonOverOut(L, d, true, msg)) return Deliver(L, msg, kOverOutDelivered);
    }
    s.state = kIdle;
    return 0;
}

int RunEventCallback(ScriptState* L, bool wait, bool noTable, bool* outNothing) {
    if (wait && GetRuntimeTag(kTagCallbackNesting)) return ERR_WRONGUSAGE;
    qbEventMessage msg;
    msg.stackBase = VmGetTop(L);
    if (int err = NextEvent(L, false, &msg)) return err;
    while (wait && msg.type == kMsgNone) {
        int error = 0;
        if (int r = PumpEvents(L, kPumpWaitEvent, nullptr, &error)) return PumpResultError(r, error);
        if (int err = NextEvent(L, false, &msg)) return err;
        if (msg.type != kMsgNone) break;
        // A quit the pump saw earlier brings no further wake.
        if (EventQuitRequested()) return ERR_USERABORT;
        int value = 0;
        if (int err = WaitForEvents(L, 0, nullptr, &value)) return err;
    }
    const bool nothing = msg.type == kMsgNone;
    if (outNothing) *outNothing = nothing;
    if (noTable) {
        VmSetTop(L, msg.stackBase);
        return 0;
    }
    // A user type that called the script itself left no table behind.
    if (nothing || (msg.type == kMsgUserType && IsCallingUserEvent(msg.userType))) {
        VmSetTop(L, msg.stackBase);
        VmPushNewTable(L);
        SetTableFieldString(L, "action", "");
        SetTableFieldInt(L, "id", 0);
        SetTableFieldInt(L, "nresults", 0);
        VmPushString(L, "triggered");
        PushTruth(L, false);
        VmRawSet(L, -3);
        return 0;
    }
    // The stack holds the message table and the callback's results above it.
    const int table = msg.stackBase + 1;
    const int nresults = VmGetTop(L) - table;
    if (nresults > 0) {
        VmPushString(L, "results");
        VmPushNewTable(L);
        for (int i = 0; i < nresults; ++i) {
            VmPushValue(L, table + 1 + i);
            VmRawSetIndex(L, -2, i);
        }
        VmRawSet(L, table);
    }
    VmSetTop(L, table);
    SetTableFieldInt(L, "nresults", nresults);
    VmPushString(L, "triggered");
    PushTruth(L, true);
    VmRawSet(L, -3);
    SetTableFieldString(L, "action", msg.action);
    if (msg.id.handle || msg.id.number) SetTableFieldObjectID(L, "id", msg.id);
    else SetTableFieldInt(L, "id", 0);
    return 0;
}

int cmdWaitEvent(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    if (int err = RunEventCallback(L, true, false, nullptr)) return err;
    return 1;
}

namespace {
// Without an adapter the line hook keeps the queue filled; the pictures
// other threads queued are drawn all the same, so that a loop on the checks
// shows them however few lines it has.
int PumpBeforeCheck(ScriptState* L) {
    if (!HasDisplayAdapter()) return FlushDisplayBlitQueue(L);
    int error = 0;
    if (int r = PumpEvents(L, kPumpCheck, nullptr, &error)) return PumpResultError(r, error);
    return 0;
}
}  // namespace

int cmdCheckEvent(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    if (int err = PumpBeforeCheck(L)) return err;
    if (int err = RunEventCallback(L, false, false, nullptr)) return err;
    return 1;
}

int cmdCheckEvents(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    if (int err = PumpBeforeCheck(L)) return err;
    for (;;) {
        bool nothing = false;
        if (int err = RunEventCallback(L, false, true, &nothing)) return err;
        if (nothing) return 0;
    }
}

int cmdBreakEventHandler(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    ResetEventDispatcher(L);
    return 0;
}

void FreeEventSystem(ScriptState* L) {
    ResetEventDispatcher(L);
    FreeLabelEvents();
    FreeIntervalsAndTimeouts(L);
    FreeAllButtons(L);
    FreeUserEventTypes(L);
    SetEventQuitRequested(false);
    for (int key : {kQuitShortcutCtrlC, kQuitShortcutLeftButton, kQuitShortcutEscape}) SetEventQuitSwitch(key, false);
}
