#!/usr/bin/env python3
"""Fails on a protected call (VmPCall) in src/ that runs a script's function
without marking it as a callback, and without being listed below as a call
that runs no callback.

While native code runs a script callback, the callback nesting count
(kTagCallbackNesting) is raised: WaitEvent and the other commands that must
not run inside a callback refuse by it. The count is raised by a
qbCallbackScope (core/settings.h) or, in the event and network dispatchers
and the error handler, by setting the tag itself; a function that calls
VmPCall passes when it does one of the two. The other calls run no callback
of a script: the main chunk, a command called by name.

Usage:
  scripts/check_callback_scope.py              the check, as ./test runs it
  scripts/check_callback_scope.py --self-test  shows an unmarked call failing
"""

import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from check_native_names import functions, probe_findings, run_check, sources  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CALL = re.compile(r"\bVmPCall\s*\(")
MARKS = re.compile(r"\bqbCallbackScope\b|\bkTagCallbackNesting\b")
# (file, function): calls that run no callback of a script.
NO_CALLBACK = {
    ("src/core/runstate.cpp", "RunMainChunk"): "the script's main chunk",
    ("src/display/adapter.cpp", "CallMainChunk"): "the script's main chunk",
    ("src/display/backfill.cpp", "CallBackfillCommand"): "a command of the player's own tables",
    ("src/player/declared.cpp", "CallDeclaredCommand"): "a command of the player, called by name",
}


def check(root):
    findings, used = [], set()
    for rel, text in sources(root):
        if rel.startswith("src/vm/"):
            continue  # the VM's own calls
        bodies = functions(text)
        for m in CALL.finditer(text):
            around = next((b for b in bodies if b[0] < m.start() < b[1]), None)
            name = around[2] if around else "<file scope>"
            if around and MARKS.search(text[around[0]:around[1]]):
                continue
            if (rel, name) in NO_CALLBACK:
                used.add((rel, name))
                continue
            line = text.count("\n", 0, m.start()) + 1
            findings.append(f"{rel}:{line}: VmPCall in {name} runs a script function without a qbCallbackScope")
    if root == ROOT:
        for key in sorted(set(NO_CALLBACK) - used):
            findings.append(f"check_callback_scope.py: {key[0]} {key[1]} is listed but calls no VmPCall any more")
    return findings


def self_test():
    found = probe_findings(
        check,
        "int Marked(ScriptState* L) { const qbCallbackScope running; return VmPCall(L, 1, 1, 0); }\n",
        "int Progress(ScriptState* L) { return VmPCall(L, 1, 1, 0); }\n",
    )
    if found is None:
        return 1
    if not any("Progress" in f for f in found):
        print("self-test: an unmarked callback passed")
        return 1
    print(f"self-test: an unmarked callback fails the check: {found[0]}")
    return 0


if __name__ == "__main__":
    sys.exit(run_check(check, self_test, ROOT))
