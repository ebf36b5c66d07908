#!/usr/bin/env bash
# scripts/check_whole_reads.sh [ROOT]: fails, naming file and line, on a call
# in src/ that reads a file whole into memory (LoadFileToMemory) outside its
# definition. A reader takes what its format uses of a file, by offsets,
# counts and entries, never what the file's length claims (src/README.md,
# "Allocation").
set -euo pipefail
root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"
cd "$root"

status=0
while IFS= read -r match; do
    file="${match%%:*}"
    case "$file" in src/core/file.h|src/core/filehelpers.cpp) continue ;; esac
    echo "$match: a file read whole; read what the format uses (ReadRecordPrefix, ReadWholeRecord)" >&2
    status=1
done < <(grep -rnE '\bLoadFileToMemory[[:space:]]*\(' --include='*.cpp' --include='*.h' src 2>/dev/null || true)
exit "$status"
