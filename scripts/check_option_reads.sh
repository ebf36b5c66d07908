#!/usr/bin/env bash
# scripts/check_option_reads.sh [ROOT]: fails, naming file and line, on a
# read of a script table through its "__index" chain (VmGetTableAt) in src
# outside the VM and the argument layer, the globals and the registry aside.
# Script code may run there and free what a command found; commands hold
# their objects through references that find them again after it
# (src/core/objectref.h; src/README.md, "Objects across script code").
set -euo pipefail
root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"
cd "$root"
status=0
while IFS= read -r match; do
    file="${match%%:*}"
    case "$file" in
        src/vm/*|src/core/argapi.cpp) continue ;;
        # The plugins' API table hands the VM's own read to plugin code.
        src/core/apitable.cpp) continue ;;
    esac
    case "$match" in
        *kGlobalsIndex*|*kRegistryIndex*) continue ;;
    esac
    echo "$match" >&2
    status=1
# The name alone: a call whose parenthesis is on the next line and the
# function's address taken match too; comment lines do not.
done < <(grep -rnE '\bVmGetTableAt\b' --include='*.cpp' --include='*.h' --include='*.inc' src |
    grep -vE '^[^:]+:[0-9]+:[[:space:]]*//' || true)
[ "$status" = 0 ] || echo "check_option_reads: read option fields through IndexOptionTable or the GetTableField getters (src/core/argapi.h)" >&2
exit "$status"
