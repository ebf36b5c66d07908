// Hooks that plugins install into the event pump and elsewhere, run by kind:
// kind 1 by the pump with the display, kind 2 with a value, kind 0 as a loop
// that the first hook keeps going until it is done.
#pragma once

#include <cstdint>

using PluginHookFn0 = int (*)(void* userData);
using PluginHookFn1 = int (*)(void* argument, void* userData);
using PluginHookFn2 = int (*)(intptr_t value, void* userData);
// What plugins hand in: the function of the hook's kind.
using PluginHookFn = void (*)();

struct qbPluginHook;

// Null for a kind other than 0, 1 and 2, a null function, or no memory.
qbPluginHook* AddPluginHook(int kind, PluginHookFn fn, void* userData, int marshalled);
// The hook, or null when it is not installed.
qbPluginHook* SetPluginHookDisabled(qbPluginHook* hook, int disabled);
// A hook that is not installed changes nothing. A hook removed while hooks
// run is taken out once they are done.
void RemovePluginHook(qbPluginHook* hook);
// Kind 1: the first non-zero result of the hooks called with (argument, user
// data), else 0. Kind 2: every hook gets (value, user data); 0. Kind 0: the
// first hook, again and again until it answers non-zero; -1 gives 0, any
// other answer is returned. Disabled hooks are skipped.
int RunPluginHooks(void* argument, int kind, intptr_t value);
void FreePluginHooks();
