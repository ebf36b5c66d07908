// The runtime core's side of the VM's host record: where the VM's error
// texts, details, raises, failed commands and tracer lines go.
#include "core/vmhost.h"

#include "core/context.h"
#include "core/errors.h"
#include "vm/host.h"

namespace {

static_assert(kVmErrorTextSize >= kErrorTextSize, "GetErrorText fills kErrorTextSize bytes");

void PrintToConsole(const char* text) { ConsolePrintf("%s", text); }

}  // namespace

void InstallVmHost(int (*scriptErrorHandler)(ScriptState* L, int code), CommandHandler getLastError) {
    VmHost host;
    host.errorText = GetErrorText;
    host.setErrorDetail = SetErrorDetail;
    host.setErrorArgIndex = SetErrorArgIndex;
    host.noteRaise = RecordRaise;
    host.commandError = HandleCommandError;
    host.scriptErrorHandler = scriptErrorHandler;
    host.print = PrintToConsole;
    host.keepsLastError = getLastError;
    VmSetHost(&host);
}
