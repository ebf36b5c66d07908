// The "event" library: its command table and constants, and the small
// commands that read the pointer, the keys and the joysticks.
#include <strings.h>

#include <cstring>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/eventqueue.h"
#include "core/numbers.h"
#include "core/settings.h"
#include "core/truth.h"
#include "display/display.h"
#include "display/eventlib.h"
#include "platform/platform_ops.h"

namespace {

int PushButtonState(ScriptState* L, int button) {
    CheckArgCount(L, 0, 0, 0, 0);
    qbDisplay* d = nullptr;
    if (int err = CurrentEventDisplay(&d)) return err;
    return PushTruth(L, d->view.buttons[button] != 0);
}

int cmdIsLeftMouse(ScriptState* L) { return PushButtonState(L, 0); }
int cmdIsRightMouse(ScriptState* L) { return PushButtonState(L, 1); }
int cmdIsMidMouse(ScriptState* L) { return PushButtonState(L, 2); }

int PushPointer(ScriptState* L, bool wantX) {
    CheckArgCount(L, 0, 0, 0, 0);
    qbDisplay* d = nullptr;
    if (int err = CurrentEventDisplay(&d)) return err;
    int32_t x = 0;
    int32_t y = 0;
    DisplayPointer(d, &x, &y);
    VmPushNumber(L, wantX ? x : y);
    return 1;
}

int cmdMouseX(ScriptState* L) { return PushPointer(L, true); }
int cmdMouseY(ScriptState* L) { return PushPointer(L, false); }

int cmdIsKeyDown(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    const char* name = VmCheckString(L, 1, nullptr);
    qbDisplay* d = nullptr;
    if (int err = CurrentEventDisplay(&d)) return err;
    bool down = false;
    if (strcasecmp(name, "any") == 0) {
        for (int i = 0; i < kKeyStateCount; ++i) down = down || d->keyState[i] || d->view.keyState[i];
    } else if (const int64_t code = KeyCodeFromName(name, true); code >= kKeyStateCount) {
        down = (d->lastQualifiers & static_cast<uint32_t>(code) & 0x7fffffff) != 0;
    } else if (code >= 0) {
        down = d->keyState[code] || d->view.keyState[code];
    } else if (std::strlen(name) == 1) {
        const auto c = static_cast<unsigned char>(name[0]);
        down = d->keyState[c] || d->view.keyState[c];
    } else {
        return ERR_WRONGUSAGE;
    }
    return PushTruth(L, down);
}

int QuitSwitch(ScriptState* L, int key) {
    CheckArgCount(L, 1, 1, 0, 0);
    if (VmType(L, 1) != kTypeBoolean) VmCheckNumber(L, 1);
    const int on = ScriptTruth(L, 1) ? 1 : 0;
    SetQuitShortcut(L, key, on);
    SetEventQuitSwitch(key, on != 0);
    return 0;
}

int cmdLeftMouseQuit(ScriptState* L) { return QuitSwitch(L, kQuitShortcutLeftButton); }
int cmdEscapeQuit(ScriptState* L) { return QuitSwitch(L, kQuitShortcutEscape); }
int cmdCtrlCQuit(ScriptState* L) { return QuitSwitch(L, kQuitShortcutCtrlC); }

int cmdFreeEventCache(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    return FlushEvents(L, -1, 1);
}

int cmdResetKeyStates(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    qbDisplay* d = nullptr;
    if (int err = CurrentEventDisplay(&d)) return err;
    // A native window keeps its keys in the view, an adapter in the display:
    // IsKeyDown reads both, so both are forgotten.
    std::memset(d->keyState, 0, sizeof d->keyState);
    std::memset(d->view.keyState, 0, sizeof d->view.keyState);
    for (int32_t& b : d->view.buttons) b = 0;
    for (int32_t& w : d->lastButtonWord) w = 0;
    d->lastQualifiers = 0;
    return 0;
}

int cmdJoyDir(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    int direction = 8;
    int buttons = 0;
    if (int err = ReadJoystick(ClampToInt32(VmCheckNumber(L, 1)), &direction, &buttons)) return err;
    VmPushNumber(L, direction);
    return 1;
}

// Buttons 0 and 1 both read the first fire button; n reads bit n - 1.
int cmdJoyFire(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    const int32_t port = ClampToInt32(VmCheckNumber(L, 1));
    const double button = VmOptNumber(L, 2, 0);
    if (!(button >= 0) || button > 32) return ERR_WRONGUSAGE;
    const int bit = button < 1 ? 0 : static_cast<int>(button) - 1;
    int direction = 8;
    int buttons = 0;
    if (int err = ReadJoystick(port, &direction, &buttons)) return err;
    VmPushNumber(L, (static_cast<uint32_t>(buttons) >> bit) & 1u);
    return 1;
}

int cmdCountJoysticks(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    int count = 0;
    if (int err = ScanJoysticks(&count)) return err;
    VmPushNumber(L, count);
    return 1;
}

constexpr size_t kPortNameMax = 127;

int cmdCreatePort(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    size_t length = 0;
    const char* name = VmCheckString(L, 1, &length);
    if (length > kPortNameMax) return ERR_WRONGUSAGE;
    return CreateMessagePort(name);
}

// Ports of other programs do not exist on this platform, so the backend
// answers for the port before any command line would be made.
int cmdSendMessage(ScriptState* L) {
    CheckArgCount(L, 2, 0, 0, 0);
    const char* port = VmCheckString(L, 1, nullptr);
    size_t length = 0;
    const char* command = VmCheckString(L, 2, &length);
    if (length == 0 || std::memchr(command, ' ', length)) return ERR_WRONGUSAGE;
    for (int i = 3; i <= VmGetTop(L); ++i) VmCheckString(L, i, nullptr);
    SetErrorDetail(port);
    return SendPortMessage(port);
}

int cmdSetEventTimeout(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    const double ms = VmCheckNumber(L, 1);
    if (!(ms >= 0) || ms > 0x7fffffff) return ERR_WRONGUSAGE;
    SetEventTimeout(static_cast<int64_t>(ms));
    return 0;
}

void FreeQueuedEventData(uint32_t type, void* block) { FreeEventData(nullptr, type, block); }

const ScriptConstant kEventConstants[] = {
    {"MOVEWINDOW", nullptr, 6},     {"SIZEWINDOW", nullptr, 7},
    {"INACTIVEWINDOW", nullptr, 8}, {"ACTIVEWINDOW", nullptr, 9},
    {"CLOSEWINDOW", nullptr, 10},   {"ONBUTTONCLICKALL", nullptr, 11},
    {"ONBUTTONRIGHTCLICKALL", nullptr, 12}, {"ONBUTTONOVERALL", nullptr, 13},
    {"ONKEYDOWNALL", nullptr, 14},  {"JOYUP", nullptr, 0},
    {"JOYUPRIGHT", nullptr, 1},     {"JOYRIGHT", nullptr, 2},
    {"JOYDOWNRIGHT", nullptr, 3},   {"JOYDOWN", nullptr, 4},
    {"JOYDOWNLEFT", nullptr, 5},    {"JOYLEFT", nullptr, 6},
    {"JOYUPLEFT", nullptr, 7},      {"JOYNODIR", nullptr, 8},
    {"ONBUTTONCLICK", nullptr, 2},  {"ONBUTTONOVER", nullptr, 1},
    {"ONKEYDOWN", nullptr, 3},      {"ONBUTTONRIGHTCLICK", nullptr, 5},
    {"SIMPLEBUTTON", nullptr, 0},   {"LAYERBUTTON", nullptr, 1},
    {nullptr, nullptr, 0},
};

// The rows of the library in its order.
const ScriptCommand kEventCommands[] = {
    {"WaitLeftMouse", cmdWaitLeftMouse},
    {"WaitRightMouse", cmdWaitRightMouse},
    {"WaitKeyDown", cmdWaitKeyDown},
    {"IsKeyDown", cmdIsKeyDown},
    {"WhileRightMouseDown", cmdWhileRightMouseDown},
    {"WhileMouseDown", cmdWhileMouseDown},
    {"WhileKeyDown", cmdWhileKeyDown},
    {"IsLeftMouse", cmdIsLeftMouse},
    {"IsRightMouse", cmdIsRightMouse},
    {"BreakWhileMouseOn", cmdBreakWhileMouseOn},
    {"SetEventTimeout", cmdSetEventTimeout},
    {"GetEventCode", cmdGetEventCode},
    {"LeftMouseQuit", cmdLeftMouseQuit},
    {"EscapeQuit", cmdEscapeQuit},
    {"CtrlCQuit", cmdCtrlCQuit},
    {"EnableEvent", cmdEnableEvent},
    {"DisableEvent", cmdDisableEvent},
    {"RemoveButton", cmdRemoveButton},
    {"RemoveKeyDown", cmdRemoveKeyDown},
    {"ModifyButton", cmdModifyButton},
    {"ModifyKeyDown", cmdModifyKeyDown},
    {"WhileMouseOn", cmdWhileMouseOn},
    {"CreateButton", cmdCreateButton},
    {"CreateKeyDown", cmdCreateKeyDown},
    {"FreeEventCache", cmdFreeEventCache},
    {"ClearEvents", cmdClearEvents},
    {"CheckEvent", cmdCheckEvent},
    {"WaitEvent", cmdWaitEvent},
    {"MouseX", cmdMouseX},
    {"MouseY", cmdMouseY},
    {"MakeButton", cmdMakeButton},
    {"DeleteButton", cmdDeleteButton},
    {"DisableButton", cmdDisableButton},
    {"EnableButton", cmdEnableButton},
    {"InstallEventHandler", cmdInstallEventHandler},
    {"SetInterval", cmdSetInterval},
    {"SetTimeout", cmdSetTimeout},
    {"ClearInterval", cmdClearInterval},
    {"ClearTimeout", cmdClearTimeout},
    {"ChangeInterval", cmdChangeInterval},
    {"DumpButtons", cmdDumpButtons},
    {"WaitMidMouse", cmdWaitMidMouse},
    {"IsMidMouse", cmdIsMidMouse},
    {"ResetKeyStates", cmdResetKeyStates},
    {"JoyDir", cmdJoyDir},
    {"JoyFire", cmdJoyFire},
    {"CountJoysticks", cmdCountJoysticks},
    {"BreakEventHandler", cmdBreakEventHandler},
    {"CheckEvents", cmdCheckEvents},
    {"CreatePort", cmdCreatePort},
    {"SendMessage", cmdSendMessage},
    {nullptr, nullptr},
};

}  // namespace

int InitEventLibrary(ScriptState* L) {
    ResetEventDispatcher(L);
    SetEventBlockFreer(FreeQueuedEventData);
    VmRegisterCommands(L, nullptr, kEventCommands, 0);
    VmRegisterConstants(L, kEventConstants, 0);
    return RegisterCommandTable(kEventCommands, "event", kEventConstants);
}
