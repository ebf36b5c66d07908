// The script's own error handler and the debug output switch: the parts of
// the system library that the VM's native call path reaches into.
#include "libs/errorhandler.h"

#include <cstring>

#include "core/context.h"
#include "core/errors.h"
#include "core/settings.h"
#include "vm/callextras.h"

namespace {

struct DebugSettings {
    int errorHandlerRef = -1;
    int debugDevice = 0;
    bool debugDisabled = false;
};

DebugSettings& Settings() {
    static DebugSettings settings;
    return settings;
}

void UpdateTraceBit() {
    const DebugSettings& s = Settings();
    SetNativeCallExtra(kCallExtraTrace, s.debugDevice != 0 && !s.debugDisabled);
}

// The handler is told the line in the file the author wrote; without an
// include table that maps it (a bare chunk), the chunk's own line.
int HandlerLine(ScriptState* L) {
    int line = GetCurrentScriptLine(L);
    return line >= 0 ? line : GetCurrentLine();
}

}  // namespace

int GetErrorHandlerRef() { return Settings().errorHandlerRef; }

void SetErrorHandlerRef(int ref) { Settings().errorHandlerRef = ref; }

int CallErrorHandler(ScriptState* L, int code) {
    int ref = GetErrorHandlerRef();
    // Five values go above whatever the failed command left on the stack.
    if (ref == -1 || !VmCheckStack(L, 5)) return code;
    UpdateCurrentCommandInfo(L);
    char text[kErrorTextSize];
    GetErrorText(code, text);
    char name[kCommandNameSize];
    std::strncpy(name, GetCurrentCommandName(), sizeof name - 1);
    name[sizeof name - 1] = 0;
    int line = HandlerLine(L);
    VmRawGetIndex(L, kRegistryIndex, ref);
    VmPushNumber(L, code);
    VmPushString(L, text);
    VmPushString(L, name);
    VmPushNumber(L, line);
    // Whatever fails inside the handler is named afresh.
    ResetCurrentCommandInfo();
    SetRuntimeTag(kTagCallbackNesting, 1);
    int status = VmPCall(L, 4, 0, 0);
    SetRuntimeTag(kTagCallbackNesting, 0);
    return status;
}

int OfferToErrorHandler(ScriptState* L, int code) {
    if (GetErrorHandlerRef() == -1 || GetRuntimeTag(kTagCallbackNesting) != 0) return code;
    return CallErrorHandler(L, code);
}

void ReleaseErrorHandler(ScriptState* L) {
    int ref = GetErrorHandlerRef();
    SetErrorHandlerRef(-1);
    // Releasing needs two stack slots; without them the reference is only
    // forgotten, which costs a registry slot and nothing else.
    if (L != nullptr && ref != -1 && VmCheckStack(L, 2)) VmReleaseRef(L, kRegistryIndex, ref);
}

int GetDebugOutputDevice() { return Settings().debugDevice; }

void SetDebugOutputDevice(int device) {
    Settings().debugDevice = device;
    UpdateTraceBit();
}

void SetDebugFunctionsDisabled(bool disabled) {
    Settings().debugDisabled = disabled;
    UpdateTraceBit();
}

bool AreDebugFunctionsDisabled() { return Settings().debugDisabled; }

void SetCallTracing(bool on) { SetDebugOutputDevice(on ? 1 : 0); }

int cmdGetLastError(ScriptState* L) {
    VmPushNumber(L, GetLastErrorCode());
    return 1;
}
