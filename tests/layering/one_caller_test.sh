#!/usr/bin/env bash
# The one-caller checks (libswresample's and libswscale's converters, whole
# file reads) against small trees: a call on one line, a call whose
# parenthesis is on the next line and the function's address taken each fail
# on their line outside the home file; a mention in a comment or a string,
# the home file and the listed peers pass; the real tree passes.
set -uo pipefail
scripts="$1"
source_dir="$2"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() { echo "FAIL $*"; failures=$((failures + 1)); }

# side_doors CHECK FUNCTION HOME: a tree whose src/other.cpp reaches FUNCTION
# by each road, and whose HOME calls it.
side_doors() {
    local check="$1" function="$2" home="$3" tree="$work/$1"
    mkdir -p "$(dirname "$tree/$home")" "$tree/tests" "$tree/bench"
    printf 'int a = %s(x, y);\n' "$function" >"$tree/$home"
    cat >"$tree/src/other.cpp" <<SRC
int a = $function(x, y);
int b = $function
    (x, y);
auto c = &$function;
auto d = $function;
// $function(x, y) in a comment
const char* e = "$function(x, y)";
SRC
    "$scripts/$check.sh" "$tree" >"$work/$check.out" 2>&1 && fail "$check: the tree passed"
    local line
    for line in 1 2 4 5; do
        grep -q "^src/other.cpp:$line:" "$work/$check.out" || fail "$check: line $line passed"
    done
    [ "$(grep -c '^src/' "$work/$check.out")" -eq 4 ] || { fail "$check: four lines expected"; cat "$work/$check.out"; }
    rm "$tree/src/other.cpp"
    "$scripts/$check.sh" "$tree" >"$work/$check.out" 2>&1 || { fail "$check: the home file failed"; cat "$work/$check.out"; }
}

side_doors check_swr_convert swr_convert src/platform/linux/avresample.cpp
side_doors check_sws_scale sws_scale src/platform/linux/avscale.cpp
side_doors check_whole_reads LoadFileToMemory src/core/filehelpers.cpp

for check in check_swr_convert check_sws_scale check_whole_reads check_given_calls; do
    "$scripts/$check.sh" "$source_dir" || fail "$check: the source tree"
done

echo "$failures failed"
[ "$failures" -eq 0 ]
