#!/usr/bin/env bash
# The line checks that are no one-caller checks, against small trees: each
# form of the fault they guard fails on its line, the places they allow pass,
# and the real tree passes. check_option_reads: an option table read by the
# "__index" chain outside the argument layer; check_xvfb_steady: a virtual X
# server started by a test by itself; check_stdio_streams: a C stream opened
# in src; check_o2_units: a unit that does not compile warning-free.
scripts=$(cd "$1" && pwd)
source_dir="$2"
source "$(dirname "$0")/harness.sh"

# expect_lines CHECK TREE FILE LINE...: CHECK fails on TREE at exactly the
# lines of FILE given.
expect_lines() {
    local check="$1" tree="$2" file="$3" line
    shift 3
    "$scripts/$check.sh" "$tree" >"$work/$check.out" 2>&1 && fail "$check: the tree passed"
    for line in "$@"; do
        grep -q "^$file:$line:" "$work/$check.out" || { fail "$check: $file:$line passed"; cat "$work/$check.out"; }
    done
    [ "$(grep -c "^$file:" "$work/$check.out")" -eq $# ] || { fail "$check: $# lines expected"; cat "$work/$check.out"; }
}

tree="$work/options"
mkdir -p "$tree/src/libs" "$tree/src/vm" "$tree/src/core"
cat >"$tree/src/libs/reads.cpp" <<'SRC'
int a = VmGetTableAt(L, 2);
int b = VmGetTableAt
    (L, 2);
auto c = &VmGetTableAt;
// VmGetTableAt(L, 2) in a comment
int d = VmGetTableAt(L, kGlobalsIndex);
int e = VmGetTableAt(L, kRegistryIndex);
SRC
printf 'int a = VmGetTableAt(L, 2);\n' >"$tree/src/vm/table.cpp"
printf 'int a = VmGetTableAt(L, 2);\n' >"$tree/src/core/argapi.cpp"
expect_lines check_option_reads "$tree" src/libs/reads.cpp 1 2 4

tree="$work/streams"
mkdir -p "$tree/src/libs" "$tree/src/vm"
cat >"$tree/src/libs/files.cpp" <<'SRC'
FILE* a = fopen(name, "rb");
FILE* b = popen
    ("ls", "r");
auto c = &tmpfile;
// fopen(name, "rb") in a comment
const char* d = "fdopen(fd)";
SRC
printf 'FILE* a = fopen(name, "w");\n' >"$tree/src/vm/skipswitch.cpp"
expect_lines check_stdio_streams "$tree" src/libs/files.cpp 1 2 4

tree="$work/xvfb"
mkdir -p "$tree/tests/xvfb" "$tree/tests/e2e" "$tree/tools"
# The server's name comes from a variable, so that this file does not fail
# the check itself.
x=Xvfb
cat >"$tree/tests/e2e/server_test.cpp" <<SRC
int a = system("$x :5 -screen 0 640x480x24 &");
int b = system("${x,}-run -a ./player");
int c = execl("/usr/bin/$x", argv0, ":5", nullptr);
const char* argv[] = {"$x", ":6", nullptr};
const char* name = "$x is not installed";
SRC
for helper in xvfb_run.h virtual_screen.h; do
    printf 'const char* kXvfbSteady = "-noreset";\nconst char* argv[] = {"%s", kXvfbSteady};\n' "$x" >"$tree/tests/xvfb/$helper"
done
expect_lines check_xvfb_steady "$tree" tests/e2e/server_test.cpp 1 2 3 4
rm "$tree/tests/e2e/server_test.cpp"
"$scripts/check_xvfb_steady.sh" "$tree" >"$work/xvfb.out" 2>&1 || { fail "check_xvfb_steady: the helpers failed"; cat "$work/xvfb.out"; }
printf 'const char* argv[] = {"%s", ":5"};\n' "$x" >"$tree/tests/xvfb/virtual_screen.h"
"$scripts/check_xvfb_steady.sh" "$tree" >"$work/xvfb.out" 2>&1 && fail "check_xvfb_steady: a helper without kXvfbSteady passed"

# check_o2_units reads the commands of a configured tree: a database of two
# units, one that warns under -Werror.
tree="$work/o2"
mkdir -p "$tree/src"
printf 'int Clean(int a) { return a + 1; }\n' >"$tree/src/clean.cpp"
printf 'int Warns(int a) { int unused = a; return 0; }\n' >"$tree/src/warns.cpp"
printf '[{"directory": "%s", "file": "%s/src/clean.cpp", "command": "g++ -Wall -Werror -c %s/src/clean.cpp -o clean.o"},
 {"directory": "%s", "file": "%s/src/warns.cpp", "command": "g++ -Wall -Werror -c %s/src/warns.cpp -o warns.o"}]\n' \
    "$tree" "$tree" "$tree" "$tree" "$tree" "$tree" >"$tree/compile_commands.json"
(cd "$tree" && "$scripts/check_o2_units.sh" . src/clean.cpp) >"$work/o2.out" 2>&1 || { fail "check_o2_units: a clean unit failed"; cat "$work/o2.out"; }
(cd "$tree" && "$scripts/check_o2_units.sh" . src/clean.cpp src/warns.cpp) >"$work/o2.out" 2>&1 && fail "check_o2_units: a unit that warns passed"
grep -q "src/warns.cpp: does not compile" "$work/o2.out" || { fail "check_o2_units: the unit is not named"; cat "$work/o2.out"; }

for check in check_option_reads check_xvfb_steady check_stdio_streams; do
    "$scripts/$check.sh" "$source_dir" || fail "$check: the source tree"
done

finish
