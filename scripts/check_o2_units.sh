#!/usr/bin/env bash
# scripts/check_o2_units.sh BUILD UNIT...: compiles each unit (a path under
# src/) of the configured tree BUILD with the command its compile_commands.json
# gives it, after its library's precompiled header, which changes what g++
# warns about in the standard headers. The commands run straight: ninja would
# first build every library the unit's library links to. Fails, with the
# compiler's words, on the first unit that does not compile.
set -euo pipefail
build="$1"
shift
exec python3 - "$build" "$@" <<'EOF'
import json
import os
import re
import shlex
import subprocess
import sys

build, units = sys.argv[1], sys.argv[2:]
entries = json.load(open(os.path.join(build, "compile_commands.json")))
by_file = {os.path.realpath(e["file"]): e for e in entries}
status = 0
for unit in units:
    entry = by_file.get(os.path.realpath(unit))
    if entry is None:
        print(f"{unit}: not in {build}/compile_commands.json", file=sys.stderr)
        status = 1
        continue
    steps = []
    pch = re.search(r"-include (\S+/cmake_pch\.hxx)\b", entry["command"])
    if pch:
        steps.append(by_file[os.path.realpath(pch.group(1) + ".cxx")])
    steps.append(entry)
    for step in steps:
        r = subprocess.run(shlex.split(step["command"]), cwd=step["directory"])
        if r.returncode != 0:
            print(f"{unit}: does not compile in {build}", file=sys.stderr)
            status = 1
            break
sys.exit(status)
EOF
