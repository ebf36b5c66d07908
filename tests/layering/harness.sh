# Sourced by the checks' tests: a scratch folder removed at exit, fail()
# that counts, and finish, which prints the count and fails on any.
set -uo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() { echo "FAIL $*"; failures=$((failures + 1)); }

finish() {
    echo "$failures failed"
    [ "$failures" -eq 0 ]
}
