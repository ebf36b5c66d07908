// The operations of the platform backend that the portable start-up and
// shutdown code calls.
#pragma once

#include <cstddef>

struct ScriptState;

int CheckOSVersionAndActivate();
// The first document the desktop asked the player to open, or null.
const char* InstallAppleEventHandlers();
// Absolute path of the running executable into a 1024-byte buffer.
void GetExecutablePath(char* buffer, size_t size);
// Start-up progress hook: ERR_USERABORT stops loading.
int CheckUserBreak();
void OpenDebugDevice();
// Runs the main chunk (on the stack top) while the timer thread runs.
int RunMainChunkWithTimerThread(ScriptState* L);
void ShutdownPlatform();
// The arguments stored in the application bundle ("" when none).
void GetBundleExecutableArgs(char* buffer, size_t size);

// Callable from any thread: the main thread's event wait returns. 0 or an
// error code.
int PostWakeEvent();
// Blocks until a wake is posted (the wait consumes it) or timeoutMs passes
// (negative: no limit). Returns 0.
int WaitForNativeEvent(int timeoutMs = -1);
