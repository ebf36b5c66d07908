// The runtime core's side of the VM's host record (vm/host.h).
#pragma once

#include "vm/vm.h"

// Fills the VM's host record with the runtime core's routes: error texts,
// details and argument indexes, the current command and line at a raise, the
// command-error road with its raise-errors and callback-nesting settings, and
// the console. The script's own error handler and the GetLastError command
// belong to the system library above the core, so the caller names them
// (null: none). Called once at start-up, and by test fixtures that run
// scripts on the core.
void InstallVmHost(int (*scriptErrorHandler)(ScriptState* L, int code) = nullptr,
                   CommandHandler getLastError = nullptr);
