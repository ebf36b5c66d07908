#!/usr/bin/env bash
# scripts/check_given_calls.sh [ROOT]: fails, naming file and line, on a call
# of VmCall or VmPCall outside the places listed. A function the script gives
# a command (ForEach's, a pattern replacement's) is called through
# VmCallGiven, so that a command given there that fails is reported as the
# script's own call of it would be, never dropped (src/README.md, "Given
# functions"); the protected call is the callbacks' road (events, progress,
# the error handler), each of which reports what its callee returns.
set -euo pipefail
root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"
source "$(dirname "$0")/one_caller.sh"
cd "$root"
status=0
one_caller check_given_calls src/vm/do.cpp '\bVmCall\b' \
    "call a function the script gave through VmCallGiven (src/vm/callgiven.h)" \
    "src/vm/vm.h@VmCall|its declaration" \
    "src/core/apitable.cpp@kVmApi|the plugins' call slot: a plugin decides what its callee's code means" \
    "src/core/context.cpp@CallScriptFunction|CallScriptFunction returns the code to the plugin or host that named the function" \
    "src/display/backfill.cpp@CallBody|a command of the player's own tables, whose code the backfill reports with its own text" \
    "src/player/declared.cpp@PushArgumentsAndCall|a declared object's command, whose code start-up reports at the declaration's line" \
    "src/text/print.cpp@PrintValueText|the script's tostring global, which Print calls to show a value: a failing one shows an empty text" \
    "tests/core/apitable_test.cpp|the plugin table's slots" \
    "tests/plugins/basehooks_test.cpp|a plugin hook's own call" \
    "tests/vm/calls_test.cpp|VmCall's own tests" \
    "tests/vm/scriptepoch_test.cpp|the script epoch's tests: every road into the VM moves it" || status=1
one_caller check_given_calls src/vm/do.cpp '\bVmPCall\b' \
    "call a function the script gave through VmCallGiven (src/vm/callgiven.h); a new callback's protected call is listed in scripts/check_given_calls.sh" \
    "src/vm/vm.h@VmPCall|its declaration" \
    "src/core/apitable.cpp@kVmApi|the plugins' protected call slot" \
    "src/core/runstate.cpp@RunMainChunk|the main chunk, whose error ends the script" \
    "src/display/adapter.cpp@CallMainChunk|the main chunk, whose error ends the script" \
    "src/display/backfill.cpp@CallBackfillCommand|the backfill's command, reported with the backfill's text" \
    "src/display/eventmessages.cpp@ProtectedCallback|an event's callback" \
    "src/libs/dospack.cpp@ReportProgress|a packer's progress callback" \
    "src/libs/doswalk.h@Walk|a folder walk's callback, whose code ends the walk" \
    "src/libs/errorhandler.cpp@CallErrorHandler|the error handler" \
    "src/libs/netio.cpp@CallReceiveCallback|a connection's receive callback" \
    "src/libs/transfer.cpp@CallProgress|a transfer's progress callback" \
    "src/player/declared.cpp@CallDeclaredCommand|a declared object's command, reported at the declaration's line" \
    "tests/|the tests run script code" "bench/|the benchmarks run script code" "fuzz/|the fuzz targets run script code" \
    "tools/|the tools run script code" || status=1
exit "$status"
