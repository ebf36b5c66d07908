// Process-level platform operations of the Linux backend: start-up checks,
// the executable's path, running the main chunk beside the timer thread.
#include <unistd.h>


#include "core/startup.h"
#include "core/timerthread.h"
#include "platform/platform.h"

int CheckOSVersionAndActivate() { return 0; }

const char* InstallAppleEventHandlers() { return nullptr; }

void GetExecutablePath(char* buffer, size_t size) {
    if (!buffer || size == 0) return;
    ssize_t n = readlink("/proc/self/exe", buffer, size - 1);
    buffer[n > 0 ? static_cast<size_t>(n) : 0] = 0;
}

int CheckUserBreak() { return 0; }

void OpenDebugDevice() {}

int RunMainChunkWithTimerThread(ScriptState* L) {
    int err = StartTimerThread();
    if (err) return err;
    int result = RunMainChunk(L);
    StopTimerThread();
    return result;
}

void ShutdownPlatform() {}

void GetBundleExecutableArgs(char* buffer, size_t size) {
    if (buffer && size) buffer[0] = 0;
}
