#!/usr/bin/env bash
# scripts/check_xvfb_steady.sh [ROOT]: fails, naming file and line, on a test
# that starts a virtual X server other than through XvfbRun or VirtualScreen
# (tests/xvfb), by a command line or by the program's name handed to exec or
# spawn (out of reach: a name composed at run time). A bare server resets
# when its last client leaves and drops a client that connects meanwhile;
# those two start it with kXvfbSteady.
set -euo pipefail
root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"
cd "$root"

status=0
while IFS= read -r match; do
    case "${match%%:*}" in
    tests/xvfb/xvfb_run.h | tests/xvfb/virtual_screen.h) continue ;;
    esac
    echo "$match" >&2
    status=1
# A command line (xvfb-run's, Xvfb's own) or the program's name alone in a
# string, bare or as a path, which execl, execvp and posix_spawn take.
done < <(grep -rnE 'xvfb-run[[:space:]]+-|Xvfb[[:space:]]+[-:]|"([^"]*/)?Xvfb"' \
             --include='*.cpp' --include='*.h' --include='*.sh' --include='*.py' tests fuzz bench tools 2>/dev/null || true)
for file in tests/xvfb/xvfb_run.h tests/xvfb/virtual_screen.h; do
    if ! grep -q 'kXvfbSteady' "$file"; then
        echo "$file: starts its server without kXvfbSteady" >&2
        status=1
    fi
done
if [ "$status" != 0 ]; then
    echo "check_xvfb_steady: start a virtual X server through XvfbRun or VirtualScreen (tests/xvfb/xvfb_run.h)" >&2
fi
exit "$status"
