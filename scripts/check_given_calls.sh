#!/usr/bin/env bash
# scripts/check_given_calls.sh [ROOT]: fails, naming file and line, on a call
# of VmCall outside the places listed. A function the script gives a command
# (ForEach's, a pattern replacement's) is called through VmCallGiven, so that
# a command given there that fails is reported as the script's own call of it
# would be, never dropped (src/README.md, "Given functions").
set -euo pipefail
root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"
source "$(dirname "$0")/one_caller.sh"
cd "$root"
one_caller check_given_calls src/vm/do.cpp '\bVmCall\b' \
    "call a function the script gave through VmCallGiven (src/vm/callgiven.h)" \
    "src/vm/vm.h|its declaration" \
    "src/core/apitable.cpp|the plugins' call slot: a plugin decides what its callee's code means" \
    "src/core/context.cpp|CallScriptFunction returns the code to the plugin or host that named the function" \
    "src/display/backfill.cpp|a command of the player's own tables, whose code the backfill reports with its own text" \
    "src/player/declared.cpp|a declared object's command, whose code start-up reports at the declaration's line" \
    "src/text/print.cpp|the script's tostring global, which Print calls to show a value: a failing one shows an empty text" \
    "tests/core/apitable_test.cpp|the plugin table's slots" \
    "tests/plugins/basehooks_test.cpp|a plugin hook's own call" \
    "tests/vm/calls_test.cpp|VmCall's own tests" \
    "tests/vm/scriptepoch_test.cpp|the script epoch's tests: every road into the VM moves it"
