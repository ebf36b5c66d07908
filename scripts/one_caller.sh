# Sourced by the checks that keep a call in one file of ours:
# one_caller NAME HOME REGEX ADVICE [PLACE|REASON ...] fails, naming file and
# line, on a match of REGEX in src, fuzz, tests, bench or tools outside HOME
# and the listed places (peers our own code is checked or timed against,
# each with its reason). REGEX (Python's) is matched against each file whole
# with its comments and string literals blanked, so a call whose parenthesis
# is on the next line matches, and a REGEX that names the function alone
# also matches its address taken (a pointer to it).
#
# A PLACE is a file, a folder outside src/ (ending in /), or FILE@F1,F2 for the functions (or the tables and
# declarations) of FILE that may hold a match: a place in src/ must name
# them, so that a new wrapper there, which the rest of the player could call
# instead, fails. The other roads to a name the check closes: a string
# literal that is the name alone (dlsym's road, or a table of names) counts
# as a match, and token pasting (##), which can build the name from pieces
# no pattern sees, fails outside src/vm/interp.cpp (its opcode labels).
# Out of reach: a name built at run time (dlsym of a composed string) and a
# call through a pointer that a listed place hands out.
one_caller() {
    local name=$1 home=$2 regex=$3 advice=$4
    shift 4
    python3 - "$name" "$home" "$regex" "$advice" "$@" <<'EOF'
import os
import re
import sys

name, home, regex, advice = sys.argv[1:5]
places = {home: None}
status = 0
for entry in sys.argv[5:]:
    place = entry.split("|", 1)[0]
    file, _, functions = place.partition("@")
    if file.startswith("src/") and not functions:
        print(f"{name}: the listed place {file} names no functions (FILE@F1,F2|REASON)", file=sys.stderr)
        status = 1
    places[file] = set(functions.split(",")) if functions else None
pattern = re.compile(regex)
# Comments and literals, blanked to spaces (their newlines kept, so that
# offsets still give line numbers).
CODE_NOISE = re.compile(r'//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\'', re.S)
PASTING_HOMES = {"src/vm/interp.cpp"}
OWNER_SKIP = re.compile(r"(namespace|extern|template|using|typedef|public|private|protected)\b|[}#]")


def blank(match):
    return re.sub(r"[^\n]", " ", match.group(0))


def owner(code_lines, number):
    """The name a top-level line at or above NUMBER defines or declares:
    the function, table or declaration the match stands in."""
    for line in reversed(code_lines[:number]):
        if not line or line[0].isspace() or OWNER_SKIP.match(line):
            continue
        head = re.split(r"[({=;]", line, maxsplit=1)[0]
        words = re.findall(r"[A-Za-z_]\w*", head)
        return words[-1] if words else None
    return None


for top in ("src", "fuzz", "tests", "bench", "tools"):
    for dirpath, dirnames, filenames in os.walk(top):
        dirnames.sort()
        for file in sorted(filenames):
            if not file.endswith((".cpp", ".h", ".c", ".inc")):
                continue
            path = os.path.join(dirpath, file)
            allowed = places.get(path, set())
            for folder, functions in places.items():
                if folder.endswith("/") and path.startswith(folder):
                    allowed = functions
            if path == home:
                continue
            with open(path, encoding="utf-8", errors="replace") as f:
                text = f.read()
            code = CODE_NOISE.sub(blank, text)
            lines = text.split("\n")
            code_lines = code.split("\n")
            found = [m.start() for m in pattern.finditer(code)]
            # A literal that is the name alone: dlsym(handle, "name").
            for noise in CODE_NOISE.finditer(text):
                if not noise.group(0).startswith('"'):
                    continue  # a comment or a character
                words = noise.group(0)[1:-1]
                m = pattern.match(words + "(")
                if words and m and m.end() >= len(words):
                    found.append(noise.start())
            if path not in PASTING_HOMES:
                found += [m.start() for m in re.finditer(r"##", code)]
            for start in sorted(found):
                number = code.count("\n", 0, start) + 1
                if allowed is None or owner(code_lines, number) in allowed:
                    continue
                print(f"{path}:{number}:{lines[number - 1]}", file=sys.stderr)
                status = 1
if status:
    print(f"{name}: {advice}", file=sys.stderr)
sys.exit(status)
EOF
}
