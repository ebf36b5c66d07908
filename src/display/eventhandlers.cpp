// Event handlers installed by name, what follows from them (close flag, drop
// target, clipboard watch, the network poll, the sound tags) and the key names.
#include <strings.h>

#include <algorithm>
#include <cstring>
#include <iterator>

#include "core/errcodes.h"
#include "core/eventqueue.h"
#include "core/numbers.h"
#include "core/settings.h"
#include "display/adapter.h"
#include "display/display.h"
#include "display/eventlib.h"
#include "display/pollinterval.h"
#include "platform/platform.h"

const char* const kDisplayHandlerNames[kDisplayHandlerSlots] = {
    "onkeydown",        "onkeyup",        "onmousemove",     "closewindow",       "movewindow",
    "sizewindow",       "activewindow",   "inactivewindow",  "hidewindow",        "showwindow",
    "onmousedown",      "onmouseup",      "onrightmousedown", "onrightmouseup",   "onwheeldown",
    "onwheelup",        "modeswitch",     "ondropfile",      "clipboardchange",   "onmidmousedown",
    "onmidmouseup",     "orientationchange", "showkeyboard", "hidekeyboard",      "hotkey",
    "trayicon",         "ontouch",        "onapplicationmessage", "onmenuselect", "ondockyclick",
};

const char* const kObjectHandlerNames[kObjectHandlerSlots] = {
    "onsampleloop", "onsampleend",  "onmusicend", "onarexx",       "onconnect",      "ondisconnect",
    "onreceivedata", "onreceiveudpdata", "onvideoend", "onusermessage", "fillmusicbuffer", "runfinished",
};

namespace {

qbHandlerSlot objectHandlers[kObjectHandlerSlots];

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

constexpr int kNetworkPollUser = 1;

}  // namespace

void ReleaseHandlerRef(ScriptState* L, int& ref) {
    if (ref != -1) VmReleaseRef(L, kRegistryIndex, ref);
    ref = -1;
}

// One slot from the table field of its name; nil leaves it.
int InstallHandlerSlot(ScriptState* L, int table, const char* name, bool withUserData, qbHandlerSlot& slot) {
    VmPushString(L, name);
    VmRawGet(L, table);
    const int type = VmType(L, -1);
    if (type == kTypeNil) {
        VmSetTop(L, -2);
        return 0;
    }
    if (type == kTypeNumber) {
        VmSetTop(L, -2);
        ReleaseHandlerRef(L, slot.function);
        ReleaseHandlerRef(L, slot.userData);
        return 0;
    }
    if (type != kTypeFunction) {
        VmSetTop(L, -2);
        return ERR_FUNCEXPECTED;
    }
    ReleaseHandlerRef(L, slot.function);
    slot.function = VmMakeRef(L, kRegistryIndex);
    if (withUserData) {
        ReleaseHandlerRef(L, slot.userData);
        VmPushValue(L, 2);
        slot.userData = VmMakeRef(L, kRegistryIndex);
    }
    return 0;
}

bool IsBuiltInHandlerName(const char* name) {
    for (const char* n : kDisplayHandlerNames)
        if (strcasecmp(n, name) == 0) return true;
    for (const char* n : kObjectHandlerNames)
        if (strcasecmp(n, name) == 0) return true;
    return false;
}

namespace {

bool NetworkHandlerInstalled() {
    for (int slot : {kObjConnect, kObjDisconnect, kObjReceiveData, kObjReceiveUDPData})
        if (objectHandlers[slot].function != -1) return true;
    return false;
}

// What follows a change of the current display's handlers: its close flag,
// and the drop target and clipboard watch that its handlers ask for.
int ApplyDisplayHandlers(qbDisplay* d, int oldDrop, int oldClipboard) {
    d->view.hasCloseHandler = d->handlers[kSlotCloseWindow].function != -1;
    d->view.hasDropHandler = d->handlers[kSlotDropFile].function != -1;
    d->view.hasClipboardHandler = d->handlers[kSlotClipboardChange].function != -1;
    if (const qbDisplayAdapterSlots* slots = DisplayAdapterSlots()) {
        if (!d->adapterHandle || !slots->SetDisplayAttributes) return 0;
        const qbAdapterTag tags[] = {{1, d->view.hasCloseHandler}, {0, 0}};
        return slots->SetDisplayAttributes(d->adapterHandle, tags);
    }
    if (d->state != DISPSTATE_OPEN) return 0;
    if (d->handlers[kSlotDropFile].function != oldDrop)
        if (int err = SetWindowDropTarget(d)) return err;
    if (d->handlers[kSlotClipboardChange].function != oldClipboard)
        if (int err = WatchClipboardChanges(d)) return err;
    return 0;
}

// The sound and video code posts its events only while a handler waits.
void PublishSoundHandlers() {
    SetRuntimeTag(kTagSampleLoopHandler, objectHandlers[kObjSampleLoop].function != -1);
    SetRuntimeTag(kTagSampleEndHandler, objectHandlers[kObjSampleEnd].function != -1);
    SetRuntimeTag(kTagMusicEndHandler, objectHandlers[kObjMusicEnd].function != -1);
    SetRuntimeTag(kTagVideoEndHandler, objectHandlers[kObjVideoEnd].function != -1);
}

}  // namespace

int cmdInstallEventHandler(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    VmCheckTable(L, 1);
    const bool withUserData = VmGetTop(L) >= 2;
    qbDisplay* d = GetCurrentDisplay();
    const int oldDrop = d ? d->handlers[kSlotDropFile].function : -1;
    const int oldClipboard = d ? d->handlers[kSlotClipboardChange].function : -1;
    const bool hadNetwork = NetworkHandlerInstalled();
    int err = 0;
    if (d) {
        for (int i = 0; i < kDisplayHandlerSlots && !err; ++i)
            err = InstallHandlerSlot(L, 1, kDisplayHandlerNames[i], withUserData, d->handlers[i]);
    }
    for (int i = 0; i < kObjectHandlerSlots && !err; ++i)
        err = InstallHandlerSlot(L, 1, kObjectHandlerNames[i], withUserData, objectHandlers[i]);
    if (!err) err = InstallUserEventHandlers(L, 1, withUserData);
    // Slots changed before a refusal stay changed; what depends on them follows.
    if (d)
        if (int e = ApplyDisplayHandlers(d, oldDrop, oldClipboard); e && !err) err = e;
    const bool hasNetwork = NetworkHandlerInstalled();
    if (hasNetwork && !hadNetwork) {
        if (int e = AcquirePollInterval(L, kNetworkPollUser); e && !err) err = e;
    } else if (!hasNetwork && hadNetwork) {
        ReleasePollInterval(L, kNetworkPollUser);
    }
    PublishSoundHandlers();
    return err;
}

const qbHandlerSlot& ObjectHandler(int slot) { return objectHandlers[slot]; }

const qbHandlerSlot* FindHandlerSlotByName(const qbDisplay* d, const char* name) {
    static const qbHandlerSlot none;  // without a display no input handler is installed
    if (!name) return nullptr;
    for (int i = 0; i < kDisplayHandlerSlots; ++i)
        if (strcasecmp(kDisplayHandlerNames[i], name) == 0) return d ? &d->handlers[i] : &none;
    for (int i = 0; i < kObjectHandlerSlots; ++i)
        if (strcasecmp(kObjectHandlerNames[i], name) == 0) return &objectHandlers[i];
    return nullptr;
}

void FreeObjectHandlers(ScriptState* L) {
    if (NetworkHandlerInstalled()) ReleasePollInterval(L, kNetworkPollUser);
    for (qbHandlerSlot& slot : objectHandlers) {
        ReleaseHandlerRef(L, slot.function);
        ReleaseHandlerRef(L, slot.userData);
    }
    PublishSoundHandlers();
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
    if (const char* name = KeyNameOf(code)) {
        std::strncpy(out, name, kKeyTextSize - 1);
        return;
    }
    if (code > 0 && code < 256) out[0] = static_cast<char>(code);
}

const char* KeyNameOf(int32_t code) {
    for (size_t i = 0; i < kPlainKeyCount; ++i)
        if (kKeyNames[i].code == code) return kKeyNames[i].name;
    return nullptr;
}

const char* KeyNameAt(size_t index, bool* isQualifier) {
    if (index >= std::size(kKeyNames)) return nullptr;
    if (isQualifier) *isQualifier = index >= kPlainKeyCount;
    return kKeyNames[index].name;
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

void WindowToDisplay(const qbDisplay* d, int32_t x, int32_t y, int32_t* outX, int32_t* outY) {
    const double sx = d->scaleX > 0 ? d->scaleX : 1.0;
    const double sy = d->scaleY > 0 ? d->scaleY : 1.0;
    // A small scale can carry a far position out of 32 bits: it saturates.
    *outX = ClampToInt32((static_cast<double>(x) - d->view.offsetX) / sx);
    *outY = ClampToInt32((static_cast<double>(y) - d->view.offsetY) / sy);
}

void DisplayPointer(const qbDisplay* d, int32_t* x, int32_t* y) {
    WindowToDisplay(d, d->view.mouseX, d->view.mouseY, x, y);
}

