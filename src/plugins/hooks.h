// Command hooks that plugins install around script commands.
#pragma once

#include "vm/vm.h"

// 1 when an enabled hook took the call (its result is in *result).
int TryCommandHook(ScriptState* L, CommandHandler handler, int* result);
// 1 when a running hook's error callback took the error.
int PassErrorToActiveHook(ScriptState* L, int code);
// Quick test so the VM does not walk anything when no hook exists.
bool AnyCommandHooks();
