#!/bin/bash
# The committed command reference against what qbcommands writes from the
# player's command tables now: a library, command or constant added, removed
# or changed shows as a diff, with the command that brings the file up to date.
# Usage: commands_reference_test.sh QBCOMMANDS DOCS/COMMANDS.MD
set -u
tool=$1
doc=$2
fresh=$(mktemp)
trap 'rm -f "$fresh"' EXIT

"$tool" -o "$fresh" || { echo "qbcommands failed"; exit 1; }
if ! diff -u "$doc" "$fresh"; then
    echo
    echo "$doc is not what the command tables say; refresh it with:"
    echo "    $tool -o $doc"
    exit 1
fi
