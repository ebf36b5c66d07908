// The older label-based events: rectangles and keys that make the script
// jump to a label such as "ONBUTTONCLICK5" instead of calling a handler. The
// dispatcher scans the queued input for them before it hands input to
// handlers; the code at the label returns like a gosub.
#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/eventqueue.h"
#include "core/numbers.h"
#include "display/display.h"
#include "display/eventlib.h"
#include "display/events.h"

namespace {

enum LabelKind : int {
    kOnButtonOver = 1,
    kOnButtonClick = 2,
    kOnKeyDown = 3,
    kOnButtonRightClick = 5,
    kMoveWindow = 6,
    kSizeWindow = 7,
    kInactiveWindow = 8,
    kActiveWindow = 9,
    kCloseWindow = 10,
    kFirstAllSwitch = 11,
    kLastAllSwitch = 14,
};

struct qbLabelEvent {
    int kind = 0;
    int32_t id = 0;
    int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    std::string key;
    bool enabled = true;
};

struct LabelEvents {
    std::vector<qbLabelEvent> entries;  // in creation order
    bool all[4] = {};                   // ONBUTTONCLICKALL ... ONKEYDOWNALL
    int32_t lastAllId = 0;
    int32_t lastKeyCode = -1;
    // The ONBUTTONOVER entry the pointer is on, by id; none when unset.
    bool mouseOnSet = false;
    int32_t mouseOnId = 0;
};

LabelEvents labels;

bool AllSwitch(int kind) { return labels.all[kind - kFirstAllSwitch]; }

// The "ALL" switch that stands for the entries of a kind, or 0.
int AllSwitchOf(int kind) {
    switch (kind) {
        case kOnButtonClick: return 11;
        case kOnButtonRightClick: return 12;
        case kOnButtonOver: return 13;
        case kOnKeyDown: return 14;
        default: return 0;
    }
}

const char* LabelWord(int kind) {
    switch (kind) {
        case kOnButtonOver: return "ONBUTTONOVER";
        case kOnButtonClick: return "ONBUTTONCLICK";
        case kOnKeyDown: return "ONKEYDOWN";
        case kOnButtonRightClick: return "ONBUTTONRIGHTCLICK";
        case kMoveWindow: return "MOVEWINDOW";
        case kSizeWindow: return "SIZEWINDOW";
        case kInactiveWindow: return "INACTIVEWINDOW";
        case kActiveWindow: return "ACTIVEWINDOW";
        case kCloseWindow: return "CLOSEWINDOW";
        default: return "";
    }
}

// The label an entry's match asks for: "ONBUTTONCLICK5", or the "ALL" form.
std::string LabelName(const qbLabelEvent& e) {
    const char* word = LabelWord(e.kind);
    if (e.kind >= kMoveWindow) return word;
    const int all = AllSwitchOf(e.kind);
    if (all && AllSwitch(all)) return std::string(word) + "ALL";
    return std::string(word) + std::to_string(e.id);
}

// The key text label entries compare: key names for TAB ... PAUSE, else the
// character.
std::string LabelKeyText(int32_t code) {
    if (const char* name = KeyNameOf(code)) return name;
    if (code > 0 && code < 256) return std::string(1, static_cast<char>(code));
    return {};
}

bool Inside(const qbLabelEvent& e, int32_t x, int32_t y) { return x >= e.x1 && x <= e.x2 && y >= e.y1 && y <= e.y2; }

bool Matches(const qbLabelEvent& e, const qbInputEvent& ev) {
    switch (e.kind) {
        case kOnButtonClick:
        case kOnButtonRightClick: {
            const uint32_t want = e.kind == kOnButtonClick ? kEventLeftButton : kEventRightButton;
            if (ev.type != want || !ev.state) return false;
            int32_t x = 0;
            int32_t y = 0;
            WindowToDisplay(ev.display, ev.x, ev.y, &x, &y);
            return Inside(e, x, y);
        }
        case kOnKeyDown:
            return ev.type == kEventKey && ev.state && !e.key.empty() &&
                   strcasecmp(LabelKeyText(ev.key[1]).c_str(), e.key.c_str()) == 0;
        case kMoveWindow: return ev.type == kEventMoved;
        case kSizeWindow: return ev.type == kEventResized;
        case kInactiveWindow: return ev.type == kEventDeactivated;
        case kActiveWindow: return ev.type == kEventActivated;
        case kCloseWindow: return ev.type == kEventCloseRequest;
        default: return false;
    }
}

// Aims the interpreter at the entry's label when the script has one.
bool JumpTo(ScriptState* L, const qbLabelEvent& e, qbEventMessage* msg) {
    const int target = VmLookupLabel(L, LabelName(e).c_str());
    if (target < 0) return false;
    const int all = AllSwitchOf(e.kind);
    if (all && AllSwitch(all)) labels.lastAllId = e.id;
    VmAimLabelJump(L, target);
    msg->type = kMsgLabelJump;
    return true;
}

void SetCloseFlag(bool on) {
    if (qbDisplay* d = GetCurrentDisplay()) d->view.hasCloseHandler = on || d->handlers[kSlotCloseWindow].function != -1;
}

// The entry of a kind and id, or null.
qbLabelEvent* Find(int kind, int32_t id) {
    for (qbLabelEvent& e : labels.entries)
        if (e.kind == kind && e.id == id) return &e;
    return nullptr;
}

int NotFound(int32_t id) {
    SetErrorArgIndex(id);
    return ERR_FINDBUTTON;
}

// Removes every entry of the id whose kind is in the list; false when none.
bool RemoveKinds(int32_t id, std::initializer_list<int> kinds) {
    const size_t before = labels.entries.size();
    std::erase_if(labels.entries, [&](const qbLabelEvent& e) {
        return e.id == id && std::find(kinds.begin(), kinds.end(), e.kind) != kinds.end();
    });
    if (labels.mouseOnSet && labels.mouseOnId == id && !Find(kOnButtonOver, id)) labels.mouseOnSet = false;
    return labels.entries.size() != before;
}

const qbLabelEvent* MouseOnEntry() { return labels.mouseOnSet ? Find(kOnButtonOver, labels.mouseOnId) : nullptr; }

bool PointerOn(const qbLabelEvent& e) {
    const qbDisplay* d = GetCurrentDisplay();
    if (!d) return false;
    int32_t x = 0;
    int32_t y = 0;
    DisplayPointer(d, &x, &y);
    return Inside(e, x, y);
}

}  // namespace

bool HaveLabelEvents() { return !labels.entries.empty(); }

int ScanLabelEvents(ScriptState* L, qbEventMessage* msg) {
    for (int n = 0;; ++n) {
        qbInputEvent ev;
        if (PeekQueuedEvent(L, n, &ev, 0) != n + 1) return 0;
        if (!ev.display) continue;
        for (const qbLabelEvent& e : labels.entries) {
            if (!e.enabled || !Matches(e, ev)) continue;
            if (!JumpTo(L, e, msg)) continue;
            if (e.kind == kOnKeyDown) labels.lastKeyCode = ev.key[1];
            FlushEvents(L, n, 0);
            return -1;
        }
    }
}

int CheckLabelMouseOver(ScriptState* L, qbEventMessage* msg) {
    const qbDisplay* d = GetCurrentDisplay();
    if (!d || d->state != DISPSTATE_OPEN || labels.entries.empty()) return 0;
    if (const qbLabelEvent* on = MouseOnEntry(); on && PointerOn(*on)) return 0;
    labels.mouseOnSet = false;
    for (const qbLabelEvent& e : labels.entries) {
        if (e.kind != kOnButtonOver || !e.enabled || !PointerOn(e)) continue;
        if (!JumpTo(L, e, msg)) continue;
        labels.mouseOnSet = true;
        labels.mouseOnId = e.id;
        return -1;
    }
    return 0;
}

int32_t LastLabelKeyCode() { return labels.lastKeyCode; }

void FreeLabelEvents() {
    if (std::any_of(labels.entries.begin(), labels.entries.end(),
                    [](const qbLabelEvent& e) { return e.kind == kCloseWindow; }))
        SetCloseFlag(false);
    labels = LabelEvents{};
}

int cmdCreateButton(ScriptState* L) {
    CheckArgCount(L, 5, 5, 0, 0);
    qbLabelEvent e;
    e.id = GetIntArg(L, 1);
    e.x1 = GetIntArg(L, 2);
    e.y1 = GetIntArg(L, 3);
    e.x2 = GetIntArg(L, 4);
    e.y2 = GetIntArg(L, 5);
    for (int kind : {kOnButtonOver, kOnButtonClick, kOnButtonRightClick}) {
        e.kind = kind;
        labels.entries.push_back(e);
    }
    return 0;
}

int cmdCreateKeyDown(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    qbLabelEvent e;
    e.kind = kOnKeyDown;
    e.id = GetIntArg(L, 1);
    e.key = VmCheckString(L, 2, nullptr);
    labels.entries.push_back(std::move(e));
    return 0;
}

int cmdModifyButton(ScriptState* L) {
    CheckArgCount(L, 5, 5, 0, 0);
    const int32_t id = GetIntArg(L, 1);
    bool found = false;
    for (int kind : {kOnButtonOver, kOnButtonClick, kOnButtonRightClick}) {
        qbLabelEvent* e = Find(kind, id);
        if (!e) continue;
        e->x1 = GetIntArg(L, 2);
        e->y1 = GetIntArg(L, 3);
        e->x2 = GetIntArg(L, 4);
        e->y2 = GetIntArg(L, 5);
        found = true;
    }
    return found ? 0 : NotFound(id);
}

int cmdModifyKeyDown(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const int32_t id = GetIntArg(L, 1);
    const char* key = VmCheckString(L, 2, nullptr);
    qbLabelEvent* e = Find(kOnKeyDown, id);
    if (!e) return NotFound(id);
    e->key = key;
    return 0;
}

int cmdRemoveButton(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    const int32_t id = GetIntArg(L, 1);
    return RemoveKinds(id, {kOnButtonOver, kOnButtonClick, kOnButtonRightClick}) ? 0 : NotFound(id);
}

int cmdRemoveKeyDown(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    const int32_t id = GetIntArg(L, 1);
    return RemoveKinds(id, {kOnKeyDown}) ? 0 : NotFound(id);
}

namespace {

// EnableEvent and DisableEvent: (kind [, id]). The window kinds have one
// entry each, made on first use.
int SetEventEnabled(ScriptState* L, bool on) {
    CheckArgCount(L, 1, 2, 0, 0);
    const int kind = GetIntArg(L, 1);
    const int32_t id = VmGetTop(L) >= 2 ? GetIntArg(L, 2) : 0;
    if (kind >= kFirstAllSwitch && kind <= kLastAllSwitch) {
        labels.all[kind - kFirstAllSwitch] = on;
        return 0;
    }
    if (kind >= kMoveWindow && kind <= kCloseWindow) {
        qbLabelEvent* e = nullptr;
        for (qbLabelEvent& x : labels.entries)
            if (x.kind == kind) e = &x;
        if (!e) {
            labels.entries.push_back(qbLabelEvent{kind, 0, 0, 0, 0, 0, {}, on});
            e = &labels.entries.back();
        }
        e->enabled = on;
        if (kind == kCloseWindow) SetCloseFlag(on);
        return 0;
    }
    if (kind != kOnButtonOver && kind != kOnButtonClick && kind != kOnKeyDown && kind != kOnButtonRightClick)
        return ERR_WRONGUSAGE;
    qbLabelEvent* e = Find(kind, id);
    if (!e) return NotFound(id);
    e->enabled = on;
    if (!on && kind == kOnButtonOver && labels.mouseOnSet && labels.mouseOnId == id) labels.mouseOnSet = false;
    return 0;
}

}  // namespace

int cmdEnableEvent(ScriptState* L) { return SetEventEnabled(L, true); }
int cmdDisableEvent(ScriptState* L) { return SetEventEnabled(L, false); }

int cmdClearEvents(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    FreeLabelEvents();
    return 0;
}

int cmdGetEventCode(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    VmPushNumber(L, labels.lastAllId);
    return 1;
}

int cmdBreakWhileMouseOn(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    labels.mouseOnSet = false;
    return 0;
}

// Runs the dispatcher (without the over check) while the pointer stays on
// the entry it entered; a label reached meanwhile runs first and then this
// command again.
int cmdWhileMouseOn(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    for (;;) {
        const qbLabelEvent* on = MouseOnEntry();
        if (!on) return 0;
        if (!PointerOn(*on)) {
            labels.mouseOnSet = false;
            return 0;
        }
        qbEventMessage msg;
        msg.stackBase = VmGetTop(L);
        const int result = NextEvent(L, true, &msg);
        VmSetTop(L, msg.stackBase);
        if (result == -1) return kLabelJumpRepeat;
        if (result) return result;
        if (msg.type != kMsgNone) continue;
        int error = 0;
        if (int r = PumpEvents(L, kPumpWait, nullptr, &error)) return PumpResultError(r, error);
        // A pump that moved the pointer off leaves no reason to block.
        if (const qbLabelEvent* still = MouseOnEntry(); !still || !PointerOn(*still)) continue;
        int value = 0;
        if (int err = WaitForEvents(L, 0, nullptr, &value)) return err;
    }
}

