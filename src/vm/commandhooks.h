// Command hooks that plugins install around script commands: a hook lists the
// handlers it stands in for, and its run function is called instead of them.
#pragma once

#include <vector>

#include "vm/vm.h"

struct qbCommandHook;
// Called instead of the handler; its result stands for the handler's.
using CommandHookRunFn = int (*)(qbCommandHook* hook, ScriptState* L, CommandHandler handler, void* userData);
// Told the code of an error raised while the hook ran.
using CommandHookErrorFn = void (*)(qbCommandHook* hook, ScriptState* L, int code, void* userData);

struct qbCommandHook {
    std::vector<CommandHandler> handlers;
    CommandHookRunFn run = nullptr;
    CommandHookErrorFn onError = nullptr;  // optional
    void* userData = nullptr;
    bool disabled = false;
};

// Installs a copy of the hook; the returned record stays valid until removed.
// Null when the hook has no run function or memory ran out.
qbCommandHook* AddCommandHook(const qbCommandHook& hook);
// Appends a handler to the hook's list, once: 1, or 0 for a null hook or
// handler or when memory ran out. Handlers go onto a hook's list only here
// or through the record AddCommandHook copies, so that calls of handlers no
// hook lists keep their fast road.
int AddCommandToHook(qbCommandHook* hook, CommandHandler handler);
// A hook removed while it runs goes once its run has returned.
void RemoveCommandHook(qbCommandHook* hook);
void SetCommandHookDisabled(qbCommandHook* hook, bool disabled);
void RemoveAllCommandHooks();

// 1 when an enabled hook lists the handler: its run function was called and
// *result holds what stands for the handler's result. An error raised while
// the run function works stops at this boundary when the hook has an error
// callback: the callback learns the code and *result is that code, so the
// command ends with it; without a callback the error unwinds on.
// 0 when no hook takes the call (nothing was called).
int TryCommandHook(ScriptState* L, CommandHandler handler, int* result);
// 1 when a command hook is running and has an error callback, which is then
// called with the code; 0 otherwise.
int PassErrorToActiveHook(ScriptState* L, int code);
