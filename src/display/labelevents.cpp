// The older label-based events: rectangles and keys that make the script
// jump to a label such as "ONBUTTONCLICK5" instead of calling a handler. The
// dispatcher scans the queued input for them before it hands input to
// handlers; the code at the label returns like a gosub.
#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <tuple>

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

// The key text an entry is found by: ASCII folded (the entries compare
// without case), up to its first NUL (the compare stops there).
std::string FoldedKey(const char* key) {
    std::string folded(key);
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return folded;
}

using Places = std::set<uint64_t>;

// Entries by their place (creation order, the order they are compared in),
// with indexes by kind and id, by kind, and for key entries by their key, so
// that making, finding, matching and removing one walks none of the others
// (rectangles are compared with every entry of their kind).
struct LabelEvents {
    uint64_t lastPlace = 0;
    std::map<uint64_t, qbLabelEvent> entries;
    std::set<std::tuple<int, int32_t, uint64_t>> byKindId;
    std::map<int, Places> byKind;
    std::map<std::string, Places> keyDowns;
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

// The first entry of a kind and id, or null.
qbLabelEvent* Find(int kind, int32_t id) {
    auto it = labels.byKindId.lower_bound({kind, id, 0});
    if (it == labels.byKindId.end() || std::get<0>(*it) != kind || std::get<1>(*it) != id) return nullptr;
    return &labels.entries.at(std::get<2>(*it));
}

void IndexKey(const qbLabelEvent& e, uint64_t place) {
    if (e.kind == kOnKeyDown && !e.key.empty()) labels.keyDowns[FoldedKey(e.key.c_str())].insert(place);
}

void UnindexKey(const qbLabelEvent& e, uint64_t place) {
    if (e.kind != kOnKeyDown || e.key.empty()) return;
    auto it = labels.keyDowns.find(FoldedKey(e.key.c_str()));
    if (it == labels.keyDowns.end()) return;
    it->second.erase(place);
    if (it->second.empty()) labels.keyDowns.erase(it);
}

void Remove(uint64_t place) {
    auto it = labels.entries.find(place);
    if (it == labels.entries.end()) return;
    const qbLabelEvent& e = it->second;
    labels.byKindId.erase({e.kind, e.id, place});
    if (auto kind = labels.byKind.find(e.kind); kind != labels.byKind.end()) kind->second.erase(place);
    UnindexKey(e, place);
    labels.entries.erase(it);
}

// Appends the entry; its place. A failed allocation leaves no trace of it.
uint64_t Add(qbLabelEvent e) {
    const uint64_t place = labels.lastPlace + 1;
    try {
        const qbLabelEvent& stored = labels.entries.emplace(place, std::move(e)).first->second;
        labels.byKindId.insert({stored.kind, stored.id, place});
        labels.byKind[stored.kind].insert(place);
        IndexKey(stored, place);
    } catch (...) {
        Remove(place);
        throw;
    }
    labels.lastPlace = place;
    return place;
}

int NotFound(int32_t id) {
    SetErrorArgIndex(id);
    return ERR_FINDBUTTON;
}

// Removes every entry of the id whose kind is in the list; false when none.
bool RemoveKinds(int32_t id, std::initializer_list<int> kinds) {
    bool removed = false;
    for (int kind : kinds) {
        for (auto it = labels.byKindId.lower_bound({kind, id, 0});
             it != labels.byKindId.end() && std::get<0>(*it) == kind && std::get<1>(*it) == id;
             it = labels.byKindId.lower_bound({kind, id, 0})) {
            Remove(std::get<2>(*it));
            removed = true;
        }
    }
    if (labels.mouseOnSet && labels.mouseOnId == id && !Find(kOnButtonOver, id)) labels.mouseOnSet = false;
    return removed;
}

// The places of the entries an input event may match, in list order: the
// key entries of its key, the rectangles of its button, the entry of its
// window event.
const Places* Candidates(const qbInputEvent& ev, std::string* keyText) {
    int kind = 0;
    switch (ev.type) {
        case kEventKey: {
            if (!ev.state) return nullptr;
            *keyText = FoldedKey(LabelKeyText(ev.key[1]).c_str());
            auto it = labels.keyDowns.find(*keyText);
            return it == labels.keyDowns.end() ? nullptr : &it->second;
        }
        case kEventLeftButton: kind = kOnButtonClick; break;
        case kEventRightButton: kind = kOnButtonRightClick; break;
        case kEventMoved: kind = kMoveWindow; break;
        case kEventResized: kind = kSizeWindow; break;
        case kEventDeactivated: kind = kInactiveWindow; break;
        case kEventActivated: kind = kActiveWindow; break;
        case kEventCloseRequest: kind = kCloseWindow; break;
        default: return nullptr;
    }
    auto it = labels.byKind.find(kind);
    return it == labels.byKind.end() ? nullptr : &it->second;
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
        std::string keyText;
        const Places* candidates = Candidates(ev, &keyText);
        if (!candidates) continue;
        for (uint64_t place : *candidates) {
            const qbLabelEvent& e = labels.entries.at(place);
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
    auto over = labels.byKind.find(kOnButtonOver);
    if (over == labels.byKind.end()) return 0;
    for (uint64_t place : over->second) {
        const qbLabelEvent& e = labels.entries.at(place);
        if (!e.enabled || !PointerOn(e)) continue;
        if (!JumpTo(L, e, msg)) continue;
        labels.mouseOnSet = true;
        labels.mouseOnId = e.id;
        return -1;
    }
    return 0;
}

int32_t LastLabelKeyCode() { return labels.lastKeyCode; }

void FreeLabelEvents() {
    if (auto close = labels.byKind.find(kCloseWindow); close != labels.byKind.end() && !close->second.empty())
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
        Add(e);
    }
    return 0;
}

int cmdCreateKeyDown(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    qbLabelEvent e;
    e.kind = kOnKeyDown;
    e.id = GetIntArg(L, 1);
    e.key = VmCheckString(L, 2, nullptr);
    Add(std::move(e));
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
    auto it = labels.byKindId.lower_bound({kOnKeyDown, id, 0});
    if (it == labels.byKindId.end() || std::get<0>(*it) != kOnKeyDown || std::get<1>(*it) != id)
        return NotFound(id);
    const uint64_t place = std::get<2>(*it);
    qbLabelEvent& e = labels.entries.at(place);
    UnindexKey(e, place);
    e.key = key;
    IndexKey(e, place);
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
        const Places& ofKind = labels.byKind[kind];
        const uint64_t place = ofKind.empty() ? Add(qbLabelEvent{kind, 0, 0, 0, 0, 0, {}, on}) : *ofKind.rbegin();
        qbLabelEvent* e = &labels.entries.at(place);
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

