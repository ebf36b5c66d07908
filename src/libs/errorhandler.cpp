// The script's own error handler and the command-call tracer switch. Until
// RaiseOnError exists no handler is ever installed, so a failing command's
// code comes back unchanged and takes the ordinary error road.
#include "libs/errorhandler.h"

#include "core/context.h"

namespace {
int errorHandlerRef = -1;
bool callTracing = false;
}  // namespace

int GetErrorHandlerRef() { return errorHandlerRef; }

void SetErrorHandlerRef(int ref) { errorHandlerRef = ref; }

int CallErrorHandler(ScriptState*, int code) { return code; }

bool IsCallTracingOn() { return callTracing; }

void SetCallTracing(bool on) { callTracing = on; }

int cmdGetLastError(ScriptState* L) {
    VmPushNumber(L, GetLastErrorCode());
    return 1;
}
