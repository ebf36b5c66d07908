// The system library: ending the program, error policy and debug output.
#pragma once

#include <string>

#include "vm/vm.h"

// Opens the library into the table on the stack top; 0 or an error code.
int InitSystemLibrary(ScriptState* L);
// Frees the library's timers and buffers at shutdown.
void FreeSystemObjects(ScriptState* L);

// The text of any value as the debug commands print it (a "__tostring"
// metamethod first, else by type).
std::string ValueToString(ScriptState* L, int idx);

int cmdDebugPrint(ScriptState* L);
int cmdDebugPrintNR(ScriptState* L);
int cmdEnd(ScriptState* L);
int cmdRaiseOnError(ScriptState* L);
int cmdExitOnError(ScriptState* L);
int cmdError(ScriptState* L);
int cmdDebugOutput(ScriptState* L);
