// The "event" command library: what its files share (the message being
// delivered, the dispatcher record, the quit flag) and its commands.
#pragma once

#include <cstdint>
#include <string>

#include "core/argapi.h"
#include "core/eventqueue.h"
#include "vm/vm.h"

struct qbDisplay;
struct qbBGPic;
struct qbBGPicButton;
struct qbLayer;
struct qbTimerEntry;

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
    kMsgModeSwitch = 12,
    kMsgDropFiles = 13,
    kMsgOrientation = 19,
    kMsgUserType = 21,
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
};

// The user-visible handler names of a display's slots, in slot order.
extern const char* const kDisplayHandlerNames[30];

// One dispatcher step: 0 (message type set when delivered), ERR_USERABORT
// for a quit, or a callback's error.
int NextEvent(ScriptState* L, bool noMouseOnCheck, qbEventMessage* msg);
// Calls the message's handler with its table; with keep the table and the
// callback's results stay on the stack above msg->stackBase.
int DeliverEvent(ScriptState* L, qbEventMessage* msg, bool discardResults);
// WaitEvent, CheckEvent, CheckEvents.
int RunEventCallback(ScriptState* L, bool wait, bool noTable, bool* outNothing);
// Back to a new walk; frees a pending input event's data.
void ResetEventDispatcher(ScriptState* L);
// Moves the dispatcher's fired-timer cursor to next when it is at entry.
void MoveTimerCursorPast(const qbTimerEntry* entry, qbTimerEntry* next);
// Forgets a button the dispatcher holds (cursor, under pointer, pressed).
void ForgetDispatchButton(const qbBGPicButton* button);

// Set by a quit request; every delivery then ends with ERR_USERABORT.
bool EventQuitRequested();
void SetEventQuitRequested(bool on);

// A pump answer of 1 with no error is a quit: ERR_USERABORT then.
int PumpResultError(int result, int error);

// Intervals and timeouts.
int DeliverIntervalEvent(ScriptState* L, ObjectID id, qbEventMessage* msg);
int DeliverTimeoutEvent(ScriptState* L, ObjectID id, qbEventMessage* msg);
void FreeIntervalsAndTimeouts(ScriptState* L);

// The current display, or ERR_FINDDISPLAY.
int CurrentEventDisplay(qbDisplay** out);

// The display's pointer in display pixels.
void DisplayPointer(const qbDisplay* d, int32_t* x, int32_t* y);
// The key text of a key message: the key's name, eight blanks for TAB, a
// line feed for ENTER and RETURN, else the character.
void KeyTextOf(int32_t code, char out[kKeyTextSize]);
// The key code of a key name (TAB ... PAUSE, with qualifiers the masks too),
// -1 when unknown.
int64_t KeyCodeFromName(const char* name, bool withQualifiers);

// Buttons: the input translation of mouse buttons and the over/out walk.
bool TranslateButtonEvent(ScriptState* L, const qbInputEvent& ev, qbEventMessage* msg);
// The next over/out message of the display's buttons from the cursor on;
// false when the walk of this display is done.
bool NextButtonOverOut(ScriptState* L, qbDisplay* d, bool start, qbEventMessage* msg);
void FreeAllButtons(ScriptState* L);
int FreeBGPicButtons(ScriptState* L, qbBGPic* bgpic);
// Removes the button bound to a layer that is going away.
void RemoveLayerButton(ScriptState* L, qbBGPic* bgpic, const qbLayer* layer);

// User event types.
const char* UserEventName(int type, int* function, int* userData);
int RegisterUserEvent(const char* name);
void FreeUserEventTypes(ScriptState* L);
int InstallUserEventHandlers(ScriptState* L, int table, bool withUserData);

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

void FillButtonTable(ScriptState* L, const qbEventMessage& msg);

// A display adapter's input: the display and up to four words, and a data
// block for user event types.
struct qbAdapterInput {
    qbDisplay* display = nullptr;
    int32_t words[4] = {};
    void* block = nullptr;
};
int PostAdapterEvent(ScriptState* L, int kind, const qbAdapterInput& in);
// The quit switches (kQuitShortcut...) as adapter input sees them.
void SetEventQuitSwitch(int key, bool on);

// The VM's line hook: pumps events now and then. InstallLineHookPump sets it
// with the VM counting the lines between two looks at the clock.
void LineHookPump(ScriptState* L, VmDebugRecord* ar, int* errorCode);
void InstallLineHookPump(ScriptState* L);
void SetLineHookDisabled(bool disabled);
