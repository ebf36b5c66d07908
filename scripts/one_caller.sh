# Sourced by the checks that keep a library call in one file of ours:
# one_caller NAME HOME REGEX ADVICE [FILE|REASON ...] fails, naming file and
# line, on a match of REGEX in src, fuzz, tests, bench or tools outside HOME
# and the listed exceptions (peers our own code is checked or timed
# against, each with its reason).
one_caller() {
    local name=$1 home=$2 regex=$3 advice=$4
    shift 4
    local status=0 match file entry skip
    while IFS= read -r match; do
        file="${match%%:*}"
        [ "$file" = "$home" ] && continue
        skip=0
        for entry in "$@"; do
            [ "${entry%%|*}" = "$file" ] && skip=1
        done
        [ "$skip" = 1 ] && continue
        echo "$match" >&2
        status=1
    done < <(grep -rnE "$regex" --include='*.cpp' --include='*.h' --include='*.c' src fuzz tests bench tools 2>/dev/null || true)
    [ "$status" = 0 ] || echo "$name: $advice" >&2
    return "$status"
}
