#!/usr/bin/env python3
"""Fails on C++ in src/ that reaches the script's globals (and so may find
a global by its name) outside the places listed below with their reasons.

A script may keep anything under a command's name: its own function, a
number, nothing. The player calls its own commands through the handlers
of its command tables (FindCommandHandler, core/settings.h), never through
what the script stored; only where the system itself names the global
(Print's "tostring", the commands a declared object is made by) is the
global read. Every form of reaching the globals counts: the pseudo-index
(by name or by number), a function's globals table, the VM's own slot,
the plugin table's slot and a call of a script function by name.

Usage:
  scripts/check_globals.py              the check, as ./test runs it
  scripts/check_globals.py --self-test  shows each form failing it
"""

import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from check_native_names import each_form_fails, functions, listed_check, probe_findings, run_check  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# The forms, each with what it names. The VM keeps the globals itself:
# there only the API's pseudo-index is looked for.
FORMS = [
    (re.compile(r"\bkGlobalsIndex\b"), "the globals pseudo-index", True),
    (re.compile(r"-\s*10001\b"), "the globals pseudo-index as a number", True),
    (re.compile(r"\bVmGetGlobalsTable\b"), "a function's globals table", False),
    (re.compile(r"\bVmGlobals\b"), "the VM's globals slot", False),
    (re.compile(r"\bgetGlobalsTable\b"), "the plugin table's globals slot", False),
    (re.compile(r"\bCallScriptFunction\s*\("), "a script function called by name", False),
]
# (file, function): the places that reach the globals, with their reasons.
ALLOWED = {
    ("src/vm/vm.h", "<file scope>"): "the pseudo-index's declaration",
    ("src/vm/vm.h", "VmUpvalueIndex"): "the upvalue pseudo-indices, numbered below it",
    ("src/vm/api.cpp", "Slot"): "the VM's API resolving its own pseudo-index",
    ("src/vm/api.cpp", "UpvalueSlot"): "the VM's API resolving the upvalue pseudo-indices",
    ("src/vm/cmdlayer.cpp", "VmRegisterCommands"): "a library's table, stored in the globals under the name it is registered by",
    ("src/vm/baselib.cpp", "VmOpenBaseFunctions"): "stores \"next\"; reads nothing",
    ("src/core/apitable.h", "<file scope>"): "the plugins' API slot's declaration",
    ("src/core/apitable.cpp", "<file scope>"): "the plugins' API slot: a plugin reads what it chooses",
    ("src/core/context.cpp", "CallScriptFunction"): "calls the function the plugin or host names, on purpose",
    ("src/player/cmdline.cpp", "SetRegistryEntries"): "stores \"_g\"; reads nothing",
    ("src/player/cmdline.cpp", "OpenLibraries"): "the table the built-in libraries register their commands into",
    ("src/plugins/pluginlibrary.cpp", "RegisterLibraryCommands"): "the table a plugin without a base table registers into",
    ("src/player/declared.cpp", "PushArgumentsAndCall"): "a declared object's command, the global of its name, called at start-up before any script code",
    ("src/player/declared.cpp", "CallDeclaredCommand"): "a declared object's command, the global of its name, called at start-up before any script code",
    ("src/text/print.cpp", "PrintValueText"): "Print shows a value through the script's own \"tostring\" global",
}


def findings_in(rel, text, used):
    found = []
    in_vm = rel.startswith("src/vm/")
    bodies = functions(text)
    for form, what, in_vm_too in FORMS:
        if in_vm and not in_vm_too:
            continue
        for m in form.finditer(text):
            around = next((b for b in bodies if b[0] < m.start() < b[1]), None)
            # A call by name is a call only inside a function; its
            # declaration and definition are not.
            if what.startswith("a script function") and not around:
                continue
            name = around[2] if around else "<file scope>"
            if (rel, name) in ALLOWED:
                used.add((rel, name))
                continue
            line = text.count("\n", 0, m.start()) + 1
            found.append(f"{rel}:{line}: {what} in {name}: the script may keep anything under a global's name")
    return found


def check(root):
    return listed_check(root, ROOT, findings_in, ALLOWED,
                        lambda key: f"check_globals.py: {key[0]} {key[1]} is listed but reaches no globals any more")


# One function a form, each of which must fail the check.
PLANTED = {
    "ByIndex": "VmPushString(L, \"createbgpic\"); VmGetTableAt(L, kGlobalsIndex);",
    "RawByIndex": "VmPushString(L, \"freedisplay\"); VmRawGet(L, kGlobalsIndex);",
    "PushedTable": "VmPushValue(L, kGlobalsIndex); VmPushString(L, \"loadbrush\"); VmGetTableAt(L, -2);",
    "ByNumber": "VmPushString(L, \"freebrush\"); VmGetTableAt(L, -10001);",
    "FunctionGlobals": "VmGetGlobalsTable(L, 1); VmPushString(L, \"scalebrush\"); VmGetTableAt(L, -2);",
    "VmSlot": "ScriptValue* g = VmGlobals(L); (void)g;",
    "PluginSlot": "api->getGlobalsTable(L, 1);",
    "ByName": "CallScriptFunction(L, \"CreateDisplay\", 0, 0);",
}


def self_test():
    planted = "".join(f"int {name}(ScriptState* L) {{ {body} return 0; }}\n" for name, body in PLANTED.items())
    found = probe_findings(check, "int Clean(ScriptState* L) { VmPushString(L, \"x\"); VmGetTableAt(L, -2); return 0; }\n",
                           planted + "#define GLOBALS kGlobalsIndex\n")
    if found is None:
        return 1
    if not each_form_fails(found, list(PLANTED) + ["<file scope>"], lambda f, name: f" in {name}:" in f):
        return 1
    print(f"self-test: each of {len(PLANTED) + 1} forms fails the check, e.g. {found[0]}")
    return 0


if __name__ == "__main__":
    sys.exit(run_check(check, self_test, ROOT,
                       "check_globals: call the player's own command (FindCommandHandler, src/core/settings.h), "
                       "or list the place in scripts/check_globals.py with its reason"))
