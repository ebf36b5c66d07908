#!/usr/bin/env bash
# scripts/check_layers.sh [ROOT]: fails, naming file and line, on any
# `#include "dir/..."` under ROOT/src (default: the checkout) that reaches up
# the order of the source folders below. A folder may include its own
# headers and those of the folders before it.
set -euo pipefail
root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"

order=(vm core platform imaging display objects draw text vector transitions sound media libs plugins player)

# Includes that may go up, each with its reason. Patterns match the path as
# written in the include; folders are the including file's folder.
#   FOLDER  INCLUDE-PATTERN  REASON
exceptions=(
    "core|platform/platform*.h|the backend's operation list: declarations that core calls through the dispatch table"
    "vm|core/errcodes.h|the one list of error codes every layer shares"
)

rank() {
    local i
    for i in "${!order[@]}"; do
        if [ "${order[$i]}" = "$1" ]; then
            echo "$i"
            return
        fi
    done
    echo -1
}

allowed() {
    local from="$1" path="$2" entry folder pattern
    for entry in "${exceptions[@]}"; do
        folder="${entry%%|*}"
        pattern="${entry#*|}"
        pattern="${pattern%%|*}"
        # shellcheck disable=SC2053
        if [ "$folder" = "$from" ] && [[ "$path" == $pattern ]]; then return 0; fi
    done
    return 1
}

declare -A ranks
for f in "${order[@]}"; do ranks[$f]=$(rank "$f"); done

status=0
cd "$root"
while IFS= read -r match; do
    file="${match%%:*}"
    rest="${match#*:}"
    line="${rest%%:*}"
    text="${rest#*:}"
    path="${text#*\"}"
    path="${path%%\"*}"
    [[ "$path" == */* ]] || continue
    target="${path%%/*}"
    relative="${file#src/}"
    [[ "$relative" == */* ]] && from="${relative%%/*}" || from=player
    [ -n "${ranks[$target]+x}" ] || continue
    if [ -z "${ranks[$from]+x}" ]; then
        echo "$file:$line: folder '$from' is not in the layer order" >&2
        status=1
        continue
    fi
    if [ "${ranks[$target]}" -gt "${ranks[$from]}" ] && ! allowed "$from" "$path"; then
        echo "$file:$line: $from may not include $path ($target is above $from)" >&2
        status=1
    fi
done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]+"[^"]+"' --include='*.h' --include='*.cpp' src)

if [ "$status" -ne 0 ]; then
    echo "Layering check failed: the order is ${order[*]} (src/README.md)." >&2
fi
exit "$status"
