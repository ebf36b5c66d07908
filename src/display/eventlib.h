// The "event" command library: what its files share (the message being
// delivered, the dispatcher record, the quit flag) and its commands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/argapi.h"
#include "core/eventqueue.h"
#include "vm/vm.h"

struct qbDisplay;
struct qbBGPic;
struct qbBGPicButton;
struct qbLayer;
struct qbHandlerSlot;

// The kind of message table DeliverEvent builds.
enum EventMessageType : int {
    kMsgNone = 0,
    kMsgButton = 1,
    kMsgKey = 2,
    kMsgWindow = 3,
    kMsgSize = 4,
    kMsgMove = 5,
    kMsgInterval = 6,
    kMsgTimeout = 7,
    kMsgMouseMove = 8,
    kMsgSound = 9,
    kMsgCommandMessage = 10,
    kMsgLabelJump = 11,
    kMsgModeSwitch = 12,
    kMsgDropFiles = 13,
    kMsgConnect = 14,
    kMsgDisconnect = 15,
    kMsgReceiveData = 16,
    kMsgReceiveUDPData = 17,
    kMsgUserMessage = 18,
    kMsgOrientation = 19,
    kMsgMusicBuffer = 20,
    kMsgUserType = 21,
    kMsgApplicationMessage = 23,
    kMsgMenuSelect = 24,
    kMsgRunFinished = 25,
};

// The global handler slots of the object events, in the order of their names.
enum ObjectHandlerSlot : int {
    kObjSampleLoop = 0,
    kObjSampleEnd = 1,
    kObjMusicEnd = 2,
    kObjArexx = 3,
    kObjConnect = 4,
    kObjDisconnect = 5,
    kObjReceiveData = 6,
    kObjReceiveUDPData = 7,
    kObjVideoEnd = 8,
    kObjUserMessage = 9,
    kObjFillMusicBuffer = 10,
    kObjRunFinished = 11,
    kObjectHandlerSlots = 12,
};

// Indices into a display's handler slots, in the order of the handler names.
enum HandlerSlot : int {
    kSlotKeyDown = 0,
    kSlotKeyUp = 1,
    kSlotMouseMove = 2,
    kSlotCloseWindow = 3,
    kSlotMouseDown = 10,
    kSlotMouseUp = 11,
    kSlotRightMouseDown = 12,
    kSlotRightMouseUp = 13,
    kSlotWheelDown = 14,
    kSlotWheelUp = 15,
    kSlotDropFile = 17,
    kSlotClipboardChange = 18,
    kSlotMidMouseDown = 19,
    kSlotMidMouseUp = 20,
};

// The longest key name ("BACKSPACE", "PAGEDOWN") and its zero.
constexpr size_t kKeyTextSize = 10;

struct qbEventMessage {
    void* source = nullptr;
    int type = kMsgNone;
    qbBGPic* bgpic = nullptr;
    qbBGPicButton* button = nullptr;
    int function = -1;  // registry references; -1 = none
    int userData = -1;
    ObjectID id;  // reported as "id"
    uint32_t qualifiers = 0;
    int32_t data[3] = {};
    char action[32] = {};
    char key[kKeyTextSize] = {};
    int32_t x = 0;  // the display's position or size for move and size
    int32_t y = 0;
    void* block = nullptr;
    int stackBase = 0;
    int userType = 0;
    // Sound events: "time" and "starts"; music requests: "samples", "count".
    int32_t values[2] = {};
    ObjectID otherID;  // the accepted client of a connect
    std::string text;   // a message's command line
    std::string reply;  // what a command message's handler answered
};

// The user-visible handler names of a display's slots, in slot order.
extern const char* const kDisplayHandlerNames[30];
// The handlers of events that come from objects rather than from a display
// (samples, music, videos, connections, programs), in slot order.
extern const char* const kObjectHandlerNames[kObjectHandlerSlots];

// One dispatcher step: 0 (message type set when delivered), ERR_USERABORT
// for a quit, or a callback's error.
int NextEvent(ScriptState* L, bool noMouseOnCheck, qbEventMessage* msg);
// Calls the message's handler with its table; with keep the table and the
// callback's results stay on the stack above msg->stackBase.
int DeliverEvent(ScriptState* L, qbEventMessage* msg, bool discardResults);
// A protected call of a callback with runtime tag 10 raised around it.
int ProtectedCallback(ScriptState* L, int nargs, int nresults);
// WaitEvent, CheckEvent, CheckEvents.
int RunEventCallback(ScriptState* L, bool wait, bool noTable, bool* outNothing);
// Back to a new walk; frees a pending input event's data.
void ResetEventDispatcher(ScriptState* L);
// Forgets a button the dispatcher holds (cursor, under pointer, pressed).
void ForgetDispatchButton(const qbBGPicButton* button);

// Set by a quit request; every delivery then ends with ERR_USERABORT.
bool EventQuitRequested();
void SetEventQuitRequested(bool on);

// A pump answer of 1 with no error is a quit: ERR_USERABORT then.
int PumpResultError(int result, int error);

// Intervals and timeouts.
// The timer adapter's callback for one of its timers: 1 when an interval's
// or time-out's callback ran; 0 for an unknown handle and at shutdown.
int FireAdapterTimer(ScriptState* L, uintptr_t handle);
// Installs the plugin whose timers replace the platform's (start-up only).
struct qbAdapterPlugin;
int SetTimerAdapter(qbAdapterPlugin* plugin, uint32_t flags);
int DeliverIntervalEvent(ScriptState* L, ObjectID id, qbEventMessage* msg);
int DeliverTimeoutEvent(ScriptState* L, ObjectID id, qbEventMessage* msg);
void FreeIntervalsAndTimeouts(ScriptState* L);

// The current display, or ERR_FINDDISPLAY.
int CurrentEventDisplay(qbDisplay** out);

// A window position, and the display's pointer, in display pixels.
void WindowToDisplay(const qbDisplay* d, int32_t x, int32_t y, int32_t* outX, int32_t* outY);
void DisplayPointer(const qbDisplay* d, int32_t* x, int32_t* y);
// The key text of a key message: the key's name, eight blanks for TAB, a
// line feed for ENTER and RETURN, else the character.
void KeyTextOf(int32_t code, char out[kKeyTextSize]);
// The key code of a key name (TAB ... PAUSE, with qualifiers the masks too),
// -1 when unknown.
int64_t KeyCodeFromName(const char* name, bool withQualifiers);
// The key names in table order, the qualifiers (LSHIFT ... RCONTROL, which
// only IsKeyDown reads) after the keys; null past the end.
const char* KeyNameAt(size_t index, bool* isQualifier);

// Buttons: the input translation of mouse buttons and the over/out walk.
bool TranslateButtonEvent(ScriptState* L, const qbInputEvent& ev, qbEventMessage* msg);
// The next over/out message of the display's buttons from the cursor on;
// false when the walk of this display is done.
bool NextButtonOverOut(ScriptState* L, qbDisplay* d, bool start, qbEventMessage* msg);
void FreeAllButtons(ScriptState* L);
int FreeBGPicButtons(ScriptState* L, qbBGPic* bgpic);
// Removes the button bound to a layer that is going away.
void RemoveLayerButton(ScriptState* L, qbBGPic* bgpic, const qbLayer* layer);
// Binds the buttons of a layer that is being replaced to its successor.
void RebindLayerButtons(qbBGPic* bgpic, const qbLayer* from, qbLayer* to);

// What buttons bound to layers ask of their layer; the layers library
// installs it. Without it MakeButton takes no layer buttons.
struct qbLayerButtonHooks {
    // MakeButton's layer argument at idx: 0 or the lookup's error.
    int (*find)(ScriptState* L, int idx, qbBGPic* bgpic, qbLayer** out);
    // Whether the layer is shown (or its button stays active while hidden).
    bool (*active)(const qbLayer* layer, bool whileHidden);
    // Whether the display point hits the layer's shown box (inside its clip
    // region), and with pixelExact a covered pixel of its image.
    bool (*hit)(qbLayer* layer, int64_t x, int64_t y, bool pixelExact);
    // What the button's message tells of its layer: the 1-based position in
    // the picture's stack and the name (empty when the layer has none).
    void (*describe)(const qbBGPic* bgpic, const qbLayer* layer, int32_t* position, const char** name);
};
void SetLayerButtonHooks(const qbLayerButtonHooks* hooks);

// The installed handler of an object event.
const qbHandlerSlot& ObjectHandler(int slot);
// The handler slot of a name (without letter case): the display's input
// handlers, then the object events; null for any other name.
const qbHandlerSlot* FindHandlerSlotByName(const qbDisplay* display, const char* name);

// An interval's or timeout's function and userdata references (-1 none)
// and period: 0, or the lookup's error (ERR_FINDINTERVAL, ERR_FINDTIMEOUT,
// ERR_FINDARRAY for a handle).
int GetTimerObjectInfo(int type, ObjectID id, int* function, int* userData, int* period);
int CountTimerObjects(int type);

// User event types: kind 0 types fill the message table through their fill
// hook (the table is at the stack top); kind 1 types call the script
// themselves. The state given to the free hook is null when the input queue
// frees an event it never delivered.
struct qbUserEventHooks {
    void (*fill)(ScriptState* L, int type, void* data) = nullptr;
    // Pushes the function and its arguments and returns their number; -1
    // nothing to call, any other negative value is minus an error code.
    int (*call)(ScriptState* L, int type, void* data) = nullptr;
    void (*afterCall)(ScriptState* L, int type, void* data) = nullptr;
    void (*freeData)(ScriptState* L, int type, void* data) = nullptr;
};
constexpr int kFirstUserEventType = 28;
struct qbUserEventType;
const qbUserEventType* FindUserEventType(int type);
const char* UserEventName(int type, int* function, int* userData);
bool IsCallingUserEvent(int type);
// The new type's id, or 0 when the name is taken (built-in names included).
int RegisterUserEvent(const char* name, int kind = 0, const qbUserEventHooks* hooks = nullptr, int callingMode = 0);
// The script function installed for the type of that name (a registry
// reference, -1 when none) and its userdata reference.
int GetUserEventHandler(const char* name, int* outUserData);
// Delivers an event of a user type at once, results discarded, then frees
// its data. 0 or the callback's error.
int DeliverUserEventNow(ScriptState* L, int type, void* data);
// Kind 1 user types free their data through their hook, all others plainly.
void FreeEventData(ScriptState* L, uint32_t type, void* data);
// Calls a kind 1 type's hooks for one event; 0 or an error.
int CallUserEvent(ScriptState* L, int type, void* data);
void FillUserEventTable(ScriptState* L, int type, void* data);
void FreeUserEventTypes(ScriptState* L);
int InstallUserEventHandlers(ScriptState* L, int table, bool withUserData);

// Handler slots by name: nil leaves the slot, a number removes the handler,
// a function installs it (with the userdata at stack slot 2 when asked).
int InstallHandlerSlot(ScriptState* L, int table, const char* name, bool withUserData, qbHandlerSlot& slot);
void ReleaseHandlerRef(ScriptState* L, int& ref);
// One of the 42 built-in handler names, in any case.
bool IsBuiltInHandlerName(const char* name);
void FreeObjectHandlers(ScriptState* L);

// The older label-based events.
bool HaveLabelEvents();
// With the input queue held: -1 when a queued event reaches a label the
// script has (the jump is aimed, the events up to it are gone), else 0.
int ScanLabelEvents(ScriptState* L, qbEventMessage* msg);
// -1 when the pointer entered an ONBUTTONOVER rectangle with a label.
int CheckLabelMouseOver(ScriptState* L, qbEventMessage* msg);
int32_t LastLabelKeyCode();
void FreeLabelEvents();
// The key name of TAB ... PAUSE, else null.
const char* KeyNameOf(int32_t code);

// The sources other subsystems serve through their hooks (eventsources.h);
// each returns a delivery's result with msg->type set, or 0 with nothing.
void ResetSourceWalk();
int NextMusicRequest(ScriptState* L, qbEventMessage* msg);
int NextSoundEvent(ScriptState* L, qbEventMessage* msg);
int NextNetworkEvent(ScriptState* L, qbEventMessage* msg);
int NextProgramMessage(ScriptState* L, qbEventMessage* msg);
// The run-finished record of a delivered message is freed after its call.
void FinishRunMessage(ScriptState* L, const qbEventMessage& msg);
void FillSourceTable(ScriptState* L, const qbEventMessage& msg);

int InitEventLibrary(ScriptState* L);

int cmdWaitLeftMouse(ScriptState* L);
int cmdWaitRightMouse(ScriptState* L);
int cmdWaitMidMouse(ScriptState* L);
int cmdWaitKeyDown(ScriptState* L);
int cmdWhileMouseDown(ScriptState* L);
int cmdWhileRightMouseDown(ScriptState* L);
int cmdWaitEvent(ScriptState* L);
int cmdCheckEvent(ScriptState* L);
int cmdCheckEvents(ScriptState* L);
int cmdBreakEventHandler(ScriptState* L);
int cmdInstallEventHandler(ScriptState* L);
int cmdSetInterval(ScriptState* L);
int cmdSetTimeout(ScriptState* L);
int cmdClearInterval(ScriptState* L);
int cmdClearTimeout(ScriptState* L);
int cmdChangeInterval(ScriptState* L);
int cmdMakeButton(ScriptState* L);
int cmdDeleteButton(ScriptState* L);
int cmdEnableButton(ScriptState* L);
int cmdDisableButton(ScriptState* L);
int cmdDumpButtons(ScriptState* L);
int cmdCreateButton(ScriptState* L);
int cmdCreateKeyDown(ScriptState* L);
int cmdModifyButton(ScriptState* L);
int cmdModifyKeyDown(ScriptState* L);
int cmdRemoveButton(ScriptState* L);
int cmdRemoveKeyDown(ScriptState* L);
int cmdEnableEvent(ScriptState* L);
int cmdDisableEvent(ScriptState* L);
int cmdClearEvents(ScriptState* L);
int cmdGetEventCode(ScriptState* L);
int cmdBreakWhileMouseOn(ScriptState* L);
int cmdWhileMouseOn(ScriptState* L);
int cmdWhileKeyDown(ScriptState* L);

void FillButtonTable(ScriptState* L, const qbEventMessage& msg);

// A display adapter's input: the display and up to four words, and a data
// block for user event types.
struct qbAdapterInput {
    qbDisplay* display = nullptr;
    int32_t words[4] = {};
    void* block = nullptr;
    // A call request: the function (int (*)(ScriptState*, void*)) and its argument.
    void* call[2] = {};
};
int PostAdapterEvent(ScriptState* L, int kind, const qbAdapterInput& in);
// The quit switches (kQuitShortcut...) as adapter input sees them.
void SetEventQuitSwitch(int key, bool on);

// Sets the VM's line hook that pumps events now and then, with the VM
// counting the lines between two looks at the clock.
void InstallLineHookPump(ScriptState* L);
void SetLineHookDisabled(bool disabled);
