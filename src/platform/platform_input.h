// Backend operations, listed for platform_ops.h.
#pragma once

#include "platform/platform_types.h"

// The event pump, waking the main thread, pointers, joysticks, message ports.
// - PumpNativeEvents: at most one system event per call, posted with
//   PostEvent; 1 when a quit was requested (now or earlier) or an error was
//   stored in outError, else 0.
// - SetWindowPointer kinds: kPointerArrow, kPointerBusy, kPointerShape (the
//   given pointer).
// - SetQuitShortcut keys: kQuitShortcutCtrlC, kQuitShortcutLeftButton,
//   kQuitShortcutEscape.
// - SendPortMessage and CreateMessagePort: ERR_FINDPORT, ERR_CREATEPORT
//   where message ports do not exist.
// X(result, name, (parameters), (arguments))
#define QB_PLATFORM_INPUT_OPS(X) \
    X(int, PumpNativeEvents, (ScriptState* L, int* outError), (L, outError)) \
    X(int, WaitForNativeEvent, (int timeoutMs), (timeoutMs)) \
    X(int, PostWakeEvent, (), ()) \
    X(void, SetQuitShortcut, (ScriptState* L, int key, int on), (L, key, on)) \
    X(uint32_t, GetKeyQualifiers, (), ()) \
    X(int, CreateNativePointer, (uint32_t* argb, int hotX, int hotY, qbNativePointer** outPointer, int width, int height), (argb, hotX, hotY, outPointer, width, height)) \
    X(void, FreeNativePointer, (qbNativePointer* pointer), (pointer)) \
    X(void, SetWindowPointer, (qbDisplay* display, qbNativePointer* pointer, int kind), (display, pointer, kind)) \
    X(void, HideWindowPointer, (qbDisplay* display), (display)) \
    X(void, ShowWindowPointer, (qbDisplay* display), (display)) \
    X(void, MoveNativePointer, (qbDisplay* display, int x, int y), (display, x, y)) \
    X(void, RestoreArrowPointer, (qbDisplay* display), (display)) \
    X(int, ScanJoysticks, (int* outCount), (outCount)) \
    X(int, ReadJoystick, (int port, int* outDirection, int* outButtons), (port, outDirection, outButtons)) \
    X(void*, PollNativeMessage, (), ()) \
    X(int, CreateMessagePort, (const char* name), (name)) \
    X(int, SendPortMessage, (const char* name), (name)) \
    X(int, WatchClipboardChanges, (qbDisplay* display), (display))
