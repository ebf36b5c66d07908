// The script's own error handler (RaiseOnError) and the debug output switch
// (DebugOutput) of the system library, as the VM's call path reaches them.
#pragma once

#include "vm/vm.h"

// Registry reference of the installed handler, -1 when none.
int GetErrorHandlerRef();
void SetErrorHandlerRef(int ref);
// Calls the installed handler with (code, error text, command name, line)
// while the callback nesting count is raised by one. 0 when the handler
// returned normally, else the code of the error it raised.
int CallErrorHandler(ScriptState* L, int code);
// The VM's first stop for a command's error code (its host's script error
// handler): outside callbacks the installed handler takes it. Answers the
// code that stands (0 when the handler returned normally).
int OfferToErrorHandler(ScriptState* L, int code);
// Releases the handler's reference (shutdown).
void ReleaseErrorHandler(ScriptState* L);

// The debug device number of DebugOutput (0: off). The call tracer runs while
// it is non-zero, unless debug functions are disabled (NODEBUG).
int GetDebugOutputDevice();
void SetDebugOutputDevice(int device);
void SetDebugFunctionsDisabled(bool disabled);
bool AreDebugFunctionsDisabled();
// Debug output on (device 1) or off, as the DEBUGOUTPUT start-up flag does.
void SetCallTracing(bool on);

// The GetLastError command's handler, before which the VM must not clear the
// last error (its host's keepsLastError).
int cmdGetLastError(ScriptState* L);
