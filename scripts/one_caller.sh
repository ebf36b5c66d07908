# Sourced by the checks that keep a library call in one file of ours:
# one_caller NAME HOME REGEX ADVICE [FILE|REASON ...] fails, naming file and
# line, on a match of REGEX in src, fuzz, tests, bench or tools outside HOME
# and the listed exceptions (peers our own code is checked or timed
# against, each with its reason). REGEX (Python's) is matched against each
# file whole with its comments and string literals blanked, so a call whose
# parenthesis is on the next line matches, and a REGEX that names the
# function alone also matches its address taken (a pointer to it).
one_caller() {
    local name=$1 home=$2 regex=$3 advice=$4
    shift 4
    python3 - "$name" "$home" "$regex" "$advice" "$@" <<'EOF'
import os
import re
import sys

name, home, regex, advice = sys.argv[1:5]
skipped = {home} | {entry.split("|", 1)[0] for entry in sys.argv[5:]}
pattern = re.compile(regex)
# Comments and literals, blanked to spaces (their newlines kept, so that
# offsets still give line numbers).
CODE_NOISE = re.compile(r'//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\'', re.S)


def blank(match):
    return re.sub(r"[^\n]", " ", match.group(0))


status = 0
for top in ("src", "fuzz", "tests", "bench", "tools"):
    for dirpath, dirnames, filenames in os.walk(top):
        dirnames.sort()
        for file in sorted(filenames):
            if not file.endswith((".cpp", ".h", ".c")):
                continue
            path = os.path.join(dirpath, file)
            if path in skipped:
                continue
            with open(path, encoding="utf-8", errors="replace") as f:
                text = f.read()
            code = CODE_NOISE.sub(blank, text)
            lines = text.split("\n")
            for m in pattern.finditer(code):
                number = code.count("\n", 0, m.start()) + 1
                print(f"{path}:{number}:{lines[number - 1]}", file=sys.stderr)
                status = 1
if status:
    print(f"{name}: {advice}", file=sys.stderr)
sys.exit(status)
EOF
}
