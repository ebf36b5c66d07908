#!/usr/bin/env bash
# scripts/check_stdio_streams.sh [ROOT]: fails, naming file and line, on a C
# stream opened in src (fopen, fdopen, freopen, tmpfile, popen and the
# memory streams) outside the places listed below with their reasons. The
# C library links every stream into one list that each fclose walks, so a
# script's files kept as streams would make closing the oldest of many cost
# them all; the file layer keeps descriptors (qbFdStream, core/fdstream.h;
# src/README.md, "Object lists").
set -euo pipefail
root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"
cd "$root"
python3 - "$@" <<'PY'
import os
import re
import sys

allowed = {
    "src/vm/skipswitch.cpp": "the test sweep's switch file, closed as soon as it is made",
    "src/plugins/basestdlib.cpp": "the C library's functions handed to plugins, which own their streams",
    "src/plugins/pluginlibrary.cpp": "a memory stream that lives for one listing",
}
call = re.compile(r"\b(fopen|fdopen|freopen|tmpfile|popen|open_memstream|open_wmemstream|fmemopen|fopencookie)\b")
noise = re.compile(r'//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\'', re.S)
status = 0
for dirpath, dirnames, filenames in os.walk("src"):
    dirnames.sort()
    for file in sorted(filenames):
        path = os.path.join(dirpath, file)
        if not file.endswith((".cpp", ".h", ".c")) or path in allowed:
            continue
        text = open(path, encoding="utf-8", errors="replace").read()
        code = noise.sub(lambda m: re.sub(r"[^\n]", " ", m.group(0)), text)
        for m in call.finditer(code):
            line = code.count("\n", 0, m.start()) + 1
            print(f"{path}:{line}:{text.splitlines()[line - 1]}", file=sys.stderr)
            status = 1
if status:
    print("check_stdio_streams: a C stream each fclose of the list walks; keep a descriptor (qbFdStream)",
          file=sys.stderr)
sys.exit(status)
PY
