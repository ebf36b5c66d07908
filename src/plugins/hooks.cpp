// Command hooks that plugins install around script commands. No plugin can
// install one yet, so every call goes straight to its command.
#include "plugins/hooks.h"

int TryCommandHook(ScriptState*, CommandHandler, int*) { return 0; }

int PassErrorToActiveHook(ScriptState*, int) { return 0; }

bool AnyCommandHooks() { return false; }
