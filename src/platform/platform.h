// The platform backend: every operation the portable code may ask of the
// operating system's window, input, audio, image, text and movie services.
//
// Contracts the callers rely on, beyond the signatures in platform_ops.h:
// - GetExecutablePath, GetBundlePath: absolute paths into a 1024-byte buffer.
// - InstallAppleEventHandlers: the first document the desktop asked the
//   player to open, or null.
// - CheckUserBreak: ERR_USERABORT stops loading.
// - RunMainChunkWithTimerThread: runs the main chunk (on the stack top)
//   while the timer thread runs.
// - GetBundleExecutableArgs: the arguments stored with the application
//   ("" when none).
// - PostWakeEvent: callable from any thread; the main thread's event wait
//   returns. 0 or an error code.
// - WaitForNativeEvent: blocks until a wake is posted (the wait consumes it),
//   input is pending (it stays queued for PumpNativeEvents) or timeoutMs
//   passes (negative: no limit). Returns 0.
// Operations a backend cannot perform answer an error code (or null, or
// nothing for operations without a result), never a pretended success.
#pragma once

#include "platform/platform_ops.h"
