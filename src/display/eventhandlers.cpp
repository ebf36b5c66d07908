// Event handlers installed by name, the key names, user event types and the
// entry through which display adapters feed input into the queue.
#include <strings.h>

#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "core/errcodes.h"
#include "core/eventqueue.h"
#include "core/ostime.h"
#include "core/threads.h"
#include "display/display.h"
#include "display/displayscaling.h"
#include "display/eventlib.h"
#include "platform/platform.h"

const char* const kDisplayHandlerNames[kDisplayHandlerSlots] = {
    "onkeydown",        "onkeyup",        "onmousemove",     "closewindow",       "movewindow",
    "sizewindow",       "activewindow",   "inactivewindow",  "hidewindow",        "showwindow",
    "onmousedown",      "onmouseup",      "onrightmousedown", "onrightmouseup",   "onwheeldown",
    "onwheelup",        "modeswitch",     "ondropfile",      "clipboardchange",   "onmidmousedown",
    "onmidmouseup",     "orientationchange", "showkeyboard", "hidekeyboard",      "hotkey",
    "trayicon",         "ontouch",        "onapplicationmessage", "onmenuselect", "ondockyclick",
};

namespace {

constexpr int kObjectHandlerSlots = 12;
const char* const kObjectHandlerNames[kObjectHandlerSlots] = {
    "onsampleloop", "onsampleend",  "onmusicend", "onarexx",       "onconnect",      "ondisconnect",
    "onreceivedata", "onreceiveudpdata", "onvideoend", "onusermessage", "fillmusicbuffer", "runfinished",
};

qbHandlerSlot objectHandlers[kObjectHandlerSlots];

struct qbUserEventType {
    std::string name;
    int id = 0;
    qbHandlerSlot handler;
};

std::vector<qbUserEventType> userTypes;

struct KeyName {
    const char* name;
    int64_t code;
};

// The key table in its fixed order; the qualifiers follow the keys.
const KeyName kKeyNames[] = {
    {"TAB", 272},       {"RETURN", 274},    {"ENTER", 273},     {"SPACE", 276},    {"ESC", 275},
    {"UP", 256},        {"DOWN", 257},      {"RIGHT", 258},     {"LEFT", 259},     {"HELP", 260},
    {"BACKSPACE", 271}, {"DEL", 277},       {"F1", 261},        {"F2", 262},       {"F3", 263},
    {"F4", 264},        {"F5", 265},        {"F6", 266},        {"F7", 267},       {"F8", 268},
    {"F9", 269},        {"F10", 270},       {"F11", 278},       {"F12", 279},      {"F13", 287},
    {"F14", 288},       {"F15", 289},       {"F16", 290},       {"INSERT", 280},   {"HOME", 281},
    {"END", 282},       {"PAGEUP", 283},    {"PAGEDOWN", 284},  {"PRINT", 285},    {"PAUSE", 286},
    {"LSHIFT", 0x80010000}, {"RSHIFT", 0x80020000}, {"LALT", 0x80040000}, {"RALT", 0x80080000},
    {"LCOMMAND", 0x80100000}, {"RCOMMAND", 0x80200000}, {"LCONTROL", 0x80400000}, {"RCONTROL", 0x80800000},
};
constexpr size_t kPlainKeyCount = 35;

constexpr int32_t kKeyTab = 272;
constexpr int32_t kKeyEnter = 273;
constexpr int32_t kKeyReturn = 274;
constexpr int32_t kKeySpace = 276;
constexpr int32_t kKeyEscape = 275;
constexpr uint32_t kControlMask = 0x80400000u | 0x80800000u;  // LCONTROL, RCONTROL
constexpr uint32_t kEventQuitRequest = 23;

// LeftMouseQuit, EscapeQuit and CtrlCQuit for the input adapters post.
bool quitSwitches[3] = {};
bool QuitSwitchOn(int key) { return quitSwitches[key - kQuitShortcutCtrlC]; }

void ReleaseRef(ScriptState* L, int& ref) {
    if (ref != -1) VmReleaseRef(L, kRegistryIndex, ref);
    ref = -1;
}

// One slot from the table field of its name; nil leaves it.
int InstallSlot(ScriptState* L, int table, const char* name, bool withUserData, qbHandlerSlot& slot) {
    VmPushString(L, name);
    VmRawGet(L, table);
    const int type = VmType(L, -1);
    if (type == kTypeNil) {
        VmSetTop(L, -2);
        return 0;
    }
    if (type == kTypeNumber) {
        VmSetTop(L, -2);
        ReleaseRef(L, slot.function);
        ReleaseRef(L, slot.userData);
        return 0;
    }
    if (type != kTypeFunction) {
        VmSetTop(L, -2);
        return ERR_FUNCEXPECTED;
    }
    ReleaseRef(L, slot.function);
    slot.function = VmMakeRef(L, kRegistryIndex);
    if (withUserData) {
        ReleaseRef(L, slot.userData);
        VmPushValue(L, 2);
        slot.userData = VmMakeRef(L, kRegistryIndex);
    }
    return 0;
}

bool IsBuiltInName(const char* name) {
    for (const char* n : kDisplayHandlerNames)
        if (strcasecmp(n, name) == 0) return true;
    for (const char* n : kObjectHandlerNames)
        if (strcasecmp(n, name) == 0) return true;
    return false;
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

int cmdInstallEventHandler(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    VmCheckTable(L, 1);
    const bool withUserData = VmGetTop(L) >= 2;
    if (qbDisplay* d = GetCurrentDisplay()) {
        for (int i = 0; i < kDisplayHandlerSlots; ++i)
            if (int err = InstallSlot(L, 1, kDisplayHandlerNames[i], withUserData, d->handlers[i])) return err;
        d->view.hasCloseHandler = d->handlers[kSlotCloseWindow].function != -1;
        d->view.hasDropHandler = d->handlers[kSlotDropFile].function != -1;
        d->view.hasClipboardHandler = d->handlers[kSlotClipboardChange].function != -1;
    }
    for (int i = 0; i < kObjectHandlerSlots; ++i)
        if (int err = InstallSlot(L, 1, kObjectHandlerNames[i], withUserData, objectHandlers[i])) return err;
    for (qbUserEventType& t : userTypes)
        if (int err = InstallSlot(L, 1, Lower(t.name).c_str(), withUserData, t.handler)) return err;
    return 0;
}

int RegisterUserEvent(const char* name) {
    if (!name || !*name || IsBuiltInName(name)) return 0;
    for (const qbUserEventType& t : userTypes)
        if (strcasecmp(t.name.c_str(), name) == 0) return 0;
    qbUserEventType t;
    t.name = name;
    t.id = userTypes.empty() ? 28 : userTypes.back().id + 1;
    userTypes.push_back(t);
    return t.id;
}

const char* UserEventName(int type, int* function, int* userData) {
    for (const qbUserEventType& t : userTypes) {
        if (t.id != type) continue;
        *function = t.handler.function;
        *userData = t.handler.userData;
        return t.name.c_str();
    }
    return nullptr;
}

void FreeUserEventTypes(ScriptState* L) {
    for (qbUserEventType& t : userTypes) {
        ReleaseRef(L, t.handler.function);
        ReleaseRef(L, t.handler.userData);
    }
    userTypes.clear();
    for (qbHandlerSlot& slot : objectHandlers) {
        ReleaseRef(L, slot.function);
        ReleaseRef(L, slot.userData);
    }
}

void KeyTextOf(int32_t code, char out[kKeyTextSize]) {
    std::memset(out, 0, kKeyTextSize);
    switch (code) {
        case kKeyTab: std::memset(out, ' ', 8); return;
        case kKeyEnter:
        case kKeyReturn: out[0] = '\n'; return;
        case kKeySpace: out[0] = ' '; return;
        default: break;
    }
    for (size_t i = 0; i < kPlainKeyCount; ++i) {
        if (kKeyNames[i].code == code) {
            std::strncpy(out, kKeyNames[i].name, kKeyTextSize - 1);
            return;
        }
    }
    if (code > 0 && code < 256) out[0] = static_cast<char>(code);
}

int64_t KeyCodeFromName(const char* name, bool withQualifiers) {
    const size_t count = withQualifiers ? std::size(kKeyNames) : kPlainKeyCount;
    for (size_t i = 0; i < count; ++i)
        if (strcasecmp(kKeyNames[i].name, name) == 0) return kKeyNames[i].code;
    return -1;
}

int CurrentEventDisplay(qbDisplay** out) {
    *out = GetCurrentDisplay();
    return *out ? 0 : ERR_FINDDISPLAY;
}

void DisplayPointer(const qbDisplay* d, int32_t* x, int32_t* y) {
    const double sx = d->scaleX > 0 ? d->scaleX : 1.0;
    const double sy = d->scaleY > 0 ? d->scaleY : 1.0;
    *x = static_cast<int32_t>((d->view.mouseX - d->view.offsetX) / sx);
    *y = static_cast<int32_t>((d->view.mouseY - d->view.offsetY) / sy);
}

void SetEventQuitSwitch(int key, bool on) {
    if (key >= kQuitShortcutCtrlC && key <= kQuitShortcutEscape) quitSwitches[key - kQuitShortcutCtrlC] = on;
}

int PostAdapterEvent(ScriptState* L, int kind, const qbAdapterInput& in) {
    auto post = [](qbDisplay* d, uint32_t type, int32_t a, int32_t b, int32_t c, void* block) {
        const int r = PostEvent(d, type, a, b, c, block);
        PostWakeEvent();
        return r == 1 ? 0 : ERR_ADDSYSEVENT;
    };
    auto quit = [&post]() {
        SetEventQuitRequested(true);
        return post(nullptr, kEventQuitRequest, 0, 0, 0, nullptr);
    };
    qbDisplay* d = in.display;
    if (kind >= 3 && kind <= 9 && !d) return ERR_FINDDISPLAY;
    switch (kind) {
        case 0: return quit();
        case 2: PostWakeEvent(); return 0;
        case 3: {
            const int32_t button = in.words[2];
            if (button == 0) {
                d->view.mouseX = in.words[0];
                d->view.mouseY = in.words[1];
                d->view.mouseMovedMicros = GetMonotonicMicros();
                d->view.mouseMoved = 1;
                PostWakeEvent();
                return 0;
            }
            static const uint32_t kTypes[3] = {kEventLeftButton, kEventRightButton, kEventMiddleButton};
            if (button < 1 || button > 3) return ERR_WRONGUSAGE;
            d->lastButtonWord[button - 1] = in.words[3];
            if (int err = post(d, kTypes[button - 1], in.words[0], in.words[1], in.words[3], nullptr)) return err;
            return button == 1 && in.words[3] && QuitSwitchOn(kQuitShortcutLeftButton) ? quit() : 0;
        }
        case 4: {
            const int32_t code = in.words[0];
            const bool pressed = in.words[1] != 0;
            if (code >= 0 && code < kKeyStateCount) d->keyState[code] = pressed ? 1 : 0;
            if (int err = post(d, kEventKey, pressed ? 1 : 0, in.words[2], code, nullptr)) return err;
            if (!pressed) return 0;
            const bool control = (static_cast<uint32_t>(in.words[2]) & kControlMask & 0x7fffffff) != 0;
            if ((code == kKeyEscape && QuitSwitchOn(kQuitShortcutEscape)) ||
                ((code == 'c' || code == 'C') && control && QuitSwitchOn(kQuitShortcutCtrlC)))
                return quit();
            return 0;
        }
        case 5: return post(d, kEventCloseRequest, 0, 0, 0, nullptr);
        case 6: {
            // The adapter's window has its new size already.
            qbResizeRequest r;
            r.x = d->x;
            r.y = d->y;
            r.width = in.words[0];
            r.height = in.words[1];
            r.noWindow = true;
            if (int err = ResizeDisplay(L, d, r)) return err;
            return post(d, kEventResized, in.words[0], in.words[1], 0, nullptr);
        }
        case 7:
            d->x = in.words[0];
            d->y = in.words[1];
            return post(d, kEventMoved, in.words[0], in.words[1], 0, nullptr);
        case 8: return post(d, in.words[0] ? kEventRestored : kEventMinimised, 0, 0, 0, nullptr);
        case 9: return post(d, in.words[0] ? kEventActivated : kEventDeactivated, 0, 0, 0, nullptr);
        default:
            if (kind >= 28) return post(d, static_cast<uint32_t>(kind), in.words[0], in.words[1], in.words[2], in.block);
            return ERR_WRONGUSAGE;
    }
}
