#!/bin/bash
# The committed command reference against what qbcommands writes from the
# player's command tables and the signature file beside it now: a library,
# command, signature or constant added, removed or changed shows as a diff,
# with the command that brings the file up to date. Then the signature checks
# themselves: a signature file that misses a command, holds one twice, names
# one the tables lack, gives it the wrong number of arguments or lists other
# attributes for an object type than GetAttribute answers is refused.
# Usage: commands_reference_test.sh QBCOMMANDS DOCS/COMMANDS.MD
set -u
tool=$1
doc=$2
signatures=$(dirname "$doc")/signatures.txt
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$tool" -s "$signatures" -o "$work/fresh.md" || { echo "qbcommands refused $signatures"; exit 1; }
if ! diff -u "$doc" "$work/fresh.md"; then
    echo
    echo "$doc is not what the command tables and $signatures say; refresh it with:"
    echo "    $tool -o $doc"
    exit 1
fi

status=0
# expect_refusal WHAT PATTERN: qbcommands must fail on $work/broken.txt and say PATTERN.
expect_refusal() {
    if "$tool" -s "$work/broken.txt" -o "$work/broken.md" 2>"$work/err"; then
        echo "qbcommands accepted a signature file with $1"
        status=1
    elif ! grep -q -- "$2" "$work/err"; then
        echo "qbcommands refused a signature file with $1 but did not say \"$2\":"
        cat "$work/err"
        status=1
    fi
}

# MidStr's entry is its head line and the indented lines under it.
without_midstr() {
    awk '/^MidStr\(/ { skip = 1; next } skip && /^[ \t]/ { next } { skip = 0; print }' "$signatures"
}
grep -q '^MidStr(s, pos, \[len = -1\]) -> ' "$signatures" || { echo "no MidStr entry to alter"; exit 1; }

without_midstr >"$work/broken.txt"
expect_refusal "no entry for MidStr" "command MidStr of library string has no entry"

{ cat "$signatures"; printf '[string]\nMidStr(s, pos, [len = -1]) -> string\n    again.\n'; } >"$work/broken.txt"
expect_refusal "two entries for MidStr" "a second entry for MidStr"

{ cat "$signatures"; printf '[string]\nNoSuchCommand(s) -> string\n    nothing.\n'; } >"$work/broken.txt"
expect_refusal "an entry for a command the tables lack" "NoSuchCommand is in no library's table"

sed 's/^MidStr(s, pos, \[len = -1\])/MidStr(s, pos, len)/' "$signatures" >"$work/broken.txt"
expect_refusal "MidStr's third argument required" "does not take what MidStr checks: 2-3 arguments"

{ without_midstr; printf '[math]\nMidStr(s, pos, [len = -1]) -> string\n    misplaced.\n'; } >"$work/broken.txt"
expect_refusal "MidStr under the math library" "MidStr stands under \[math\] but belongs to library string"

{ cat "$signatures"; printf '[string]\nBroken(s, [pos) -> string\n    unbalanced.\n'; } >"$work/broken.txt"
expect_refusal "an unbalanced bracket" "unbalanced brackets"

# GetAttribute's entry lists, by type, the attributes GetAttribute's table
# answers: one left out, one added and a type dropped are each refused.
grep -q '^    #MEMORY: #ATTRSIZE (bytes)\.$' "$signatures" || { echo "no #MEMORY line to alter"; exit 1; }
sed '/#ATTRPOSITION (two results/s/#ATTRPITCH (Hz), //' "$signatures" >"$work/broken.txt"
expect_refusal "#SAMPLE without #ATTRPITCH" "type 2 also answers #ATTRPITCH"

sed 's/^    #CLIPREGION: #ATTRWIDTH,/    #CLIPREGION: #ATTRSIZE, #ATTRWIDTH,/' "$signatures" >"$work/broken.txt"
expect_refusal "#CLIPREGION with #ATTRSIZE" "type 35 does not answer #ATTRSIZE"

sed '/^    #MEMORY: #ATTRSIZE (bytes)\.$/d' "$signatures" >"$work/broken.txt"
expect_refusal "no #MEMORY line" "type 39 is not listed; it answers #ATTRSIZE"

sed 's/^MidStr(s, pos, \[len = -1\])/MidStr(s, pos, [{len = -1}])/' "$signatures" >"$work/broken.txt"
expect_refusal "a brace around more than a name" "braces something other than one name"

exit $status
