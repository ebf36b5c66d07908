// Process-level platform operations of the Linux backend: start-up checks,
// the executable's path, running the main chunk beside the timer thread.
#include <unistd.h>

#include <cstring>

#include "core/runstate.h"
#include "core/timerthread.h"
#include "platform/linux/linux_backend.h"

namespace linux_backend {

int EnterMain(int argc, char** argv, MainFunction mainFn) { return mainFn ? mainFn(argc, argv) : 0; }

int CheckOSVersionAndActivate() { return 0; }

// The desktop never hands documents over through events here: they arrive
// as command-line arguments.
const char* InstallAppleEventHandlers() { return nullptr; }

void GetBundleExecutableArgs(char* buffer, size_t size) {
    if (buffer && size) buffer[0] = 0;
}

void GetExecutablePath(char* buffer, size_t size) {
    if (!buffer || size == 0) return;
    ssize_t n = readlink("/proc/self/exe", buffer, size - 1);
    buffer[n > 0 ? static_cast<size_t>(n) : 0] = 0;
}

// Without application bundles the executable's folder takes the bundle's
// place.
void GetBundlePath(char* buffer, size_t size) {
    GetExecutablePath(buffer, size);
    if (!buffer || size == 0) return;
    char* slash = std::strrchr(buffer, '/');
    if (slash == buffer) {
        buffer[1] = 0;
    } else if (slash) {
        *slash = 0;
    }
}

int StartNativeUI() { return 0; }

int PrepareNativeDisplays() { return 0; }

int RunMainChunkWithTimerThread(ScriptState* L) {
    int err = StartTimerThread();
    if (err) return err;
    int result = RunMainChunk(L);
    StopTimerThread();
    return result;
}

int CheckUserBreak() { return 0; }

void OpenDebugDevice() {}

void ShutdownPlatform() {}

}  // namespace linux_backend
