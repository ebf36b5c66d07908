#!/usr/bin/env bash
# scripts/check_whole_reads.sh [ROOT]: fails, naming file and line, on a call
# that reads a file whole into memory (LoadFileToMemory) outside its
# definition. A reader takes what its format uses of a file, by offsets,
# counts and entries, never what the file's length claims (src/README.md,
# "Allocation").
set -euo pipefail
root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"
source "$(dirname "$0")/one_caller.sh"
cd "$root"
one_caller check_whole_reads src/core/filehelpers.cpp '\bLoadFileToMemory\b' \
    "a file read whole; read what the format uses (ReadRecordPrefix, ReadWholeRecord)" \
    "src/core/file.h@LoadFileToMemory|its declaration" \
    "tests/core/file_test.cpp|the function's own tests"
