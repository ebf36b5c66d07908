// Backend operations, listed for platform_ops.h.
#pragma once

#include "platform/platform_types.h"

// Start-up and shutdown of the process.
// X(result, name, (parameters), (arguments))
#define QB_PLATFORM_STARTUP_OPS(X) \
    X(int, EnterMain, (int argc, char** argv, MainFunction mainFn), (argc, argv, mainFn)) \
    X(int, CheckOSVersionAndActivate, (), ()) \
    X(const char*, InstallAppleEventHandlers, (), ()) \
    X(void, GetBundleExecutableArgs, (char* buffer, size_t size), (buffer, size)) \
    X(void, GetBundlePath, (char* buffer, size_t size), (buffer, size)) \
    X(void, GetExecutablePath, (char* buffer, size_t size), (buffer, size)) \
    X(int, StartNativeUI, (), ()) \
    X(int, PrepareNativeDisplays, (), ()) \
    X(int, RunMainChunkWithTimerThread, (ScriptState* L), (L)) \
    X(int, CheckUserBreak, (), ()) \
    X(void, OpenDebugDevice, (), ()) \
    X(void, ShutdownPlatform, (), ())
