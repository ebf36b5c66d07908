// The script's own error handler (RaiseOnError) and the command-call tracer
// switch of the system library, as the VM's command layer sees them.
#pragma once

#include "vm/vm.h"

// Registry reference of the installed handler, -1 when none.
int GetErrorHandlerRef();
void SetErrorHandlerRef(int ref);
int CallErrorHandler(ScriptState* L, int code);
// Call tracing (DebugOutput): the tracer runs when this is on.
bool IsCallTracingOn();
void SetCallTracing(bool on);
// The GetLastError command's handler, which must not clear the last error.
int cmdGetLastError(ScriptState* L);
