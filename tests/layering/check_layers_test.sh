#!/usr/bin/env bash
# The layering check against small trees: it must refuse an include that
# goes up (naming file and line) by every road the compiler follows, keep its
# listed exceptions, refuse a folder outside the order, and pass on the real
# tree.
set -uo pipefail
checker="$1"
source_dir="$2"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

expect() {  # expect STATUS NAME: runs the checker on $work/NAME
    local want="$1" name="$2" got
    "$checker" "$work/$name" >"$work/$name.out" 2>&1
    got=$?
    if [ "$got" -ne "$want" ]; then
        echo "FAIL $name: exit $got, expected $want"; cat "$work/$name.out"; failures=$((failures + 1))
    fi
}

tree() {  # tree NAME FILE TEXT...: a fixture tree with the given files
    local name="$1"; shift
    while [ $# -gt 0 ]; do
        mkdir -p "$(dirname "$work/$name/$1")"
        printf '%s\n' "$2" >"$work/$name/$1"
        shift 2
    done
}

tree up src/core/a.cpp $'#include <cstdio>\n\n#include "core/a.h"\n#include "display/display.h"' src/core/a.h '#pragma once'
expect 1 up
if ! grep -q '^src/core/a.cpp:4: core may not include display/display.h' "$work/up.out"; then
    echo "FAIL up: the message names no file and line"; cat "$work/up.out"; failures=$((failures + 1))
fi

tree down src/display/d.cpp '#include "imaging/bitmap.h"' src/player/p.cpp '#include "display/d.h"' \
    src/main.cpp '#include "player/startup.h"' src/vm/v.cpp '#include "core/errcodes.h"'
expect 0 down

tree excepted src/core/c.cpp '#include "platform/platform_ops.h"'
expect 0 excepted
tree notexcepted src/core/c.cpp '#include "platform/linux/sdl_backend.h"' src/vm/v.cpp '#include "core/errors.h"'
expect 1 notexcepted
[ "$(grep -c 'may not include' "$work/notexcepted.out")" -eq 2 ] || { echo "FAIL notexcepted: both lines expected"; failures=$((failures + 1)); }

tree stranger src/widgets/w.cpp '#include "core/a.h"'
expect 1 stranger

# Every form the compiler follows to a header of src/: each line below
# reaches objects/brushes.h from core and fails on its own line.
tree forms src/objects/brushes.h '#pragma once' src/core/forms.cpp "$(cat <<'SRC'
#include "../objects/brushes.h"
#include <objects/brushes.h>
#  include   "./../objects/brushes.h"
#include \
    "objects/brushes.h"
#define BRUSHES "objects/brushes.h"
#include BRUSHES
#include <sound/asound.h>
#include "../../include/qbplugin.h"
#include FT_FREETYPE_H
SRC
)"
expect 1 forms
for line in 1 2 3 4 7; do
    grep -q "^src/core/forms.cpp:$line: core may not include" "$work/forms.out" ||
        { echo "FAIL forms: line $line passed"; cat "$work/forms.out"; failures=$((failures + 1)); }
done
# A system header that shares a folder's name, a header outside src/ and
# FreeType's macros are not ours.
[ "$(grep -c 'may not include' "$work/forms.out")" -eq 5 ] ||
    { echo "FAIL forms: five lines expected"; cat "$work/forms.out"; failures=$((failures + 1)); }
tree macro src/core/m.cpp '#include SOMEWHERE_H'
expect 1 macro
grep -q "^src/core/m.cpp:1: an include through macro SOMEWHERE_H" "$work/macro.out" ||
    { echo "FAIL macro: an unknown macro include passed"; failures=$((failures + 1)); }

# The roads round a line-by-line reading: a comment between #include and
# its path (on one line or over two), an upward include inside an .inc that
# a file of the folder includes, a macro defined in another file (even one
# named like FreeType's), and an include the check cannot read.
tree doors src/display/display.h '#pragma once' src/core/body.inc '#include "display/display.h"' \
    src/core/paths.h $'#define DISPLAY_HEADER "display/display.h"\n#define FT_DISPLAY_H <display/display.h>' \
    src/core/doors.cpp "$(cat <<'SRC'
#include /* the display */ "display/display.h"
#include /*
  the display */ "display/display.h"
#include "core/body.inc"
#include DISPLAY_HEADER
#include FT_DISPLAY_H
#include_next <display/display.h>
const char* text = "/* #include \"display/display.h\" */";
auto raw = R"(
#include "display/display.h"
)";
SRC
)"
expect 1 doors
for place in doors.cpp:1 doors.cpp:2 body.inc:1 doors.cpp:5 doors.cpp:6 doors.cpp:7; do
    grep -q "^src/core/$place: " "$work/doors.out" ||
        { echo "FAIL doors: $place passed"; cat "$work/doors.out"; failures=$((failures + 1)); }
done
[ "$(grep -c '^src/' "$work/doors.out")" -eq 6 ] ||
    { echo "FAIL doors: six lines expected"; cat "$work/doors.out"; failures=$((failures + 1)); }

"$checker" "$source_dir" || { echo "FAIL the source tree"; failures=$((failures + 1)); }

echo "$failures failed"
[ "$failures" -eq 0 ]
