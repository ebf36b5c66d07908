#!/usr/bin/env bash
# scripts/check_layers.sh [ROOT]: fails, naming file and line, on any include
# under ROOT/src (default: the checkout) that reaches up the order of the
# source folders below. A folder may include its own headers and those of the
# folders before it. Every form the compiler follows is read: quotes and angle
# brackets (src/ is on the include path), paths through `..` (resolved from
# the including file's folder), lines continued with a backslash, comments
# anywhere in the line (a block comment between #include and its path), and
# a macro that names a header, defined in the file or in any other of src/;
# an include the check cannot read or a macro it cannot follow fails it.
# Every file of src/ is read but its text files (.md, .txt): an included
# .inc is checked as a member of its folder like a header.
set -euo pipefail
root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"

exec python3 - "$root" <<'EOF'
import os
import re
import sys

ORDER = "vm core platform imaging display objects draw text vector transitions sound media libs plugins player".split()
RANK = {name: i for i, name in enumerate(ORDER)}

# Includes that may go up, each with its reason. Patterns match the path
# relative to src/; folders are the including file's folder.
#   (FOLDER, INCLUDE-PATTERN, REASON)
EXCEPTIONS = [
    ("core", "platform/platform*.h", "the backend's operation list: declarations that core calls through the dispatch table"),
    ("vm", "core/errcodes.h", "the one list of error codes every layer shares"),
]
# Macro includes of third-party headers: FreeType names its headers by macro.
THIRD_PARTY_MACRO = re.compile(r"FT_[A-Z0-9_]+_H$")

INCLUDE = re.compile(r'^\s*#\s*include\s*(?:"([^"]*)"|<([^>]*)>|([A-Za-z_]\w*)\s*$)')
ANY_INCLUDE = re.compile(r'^\s*#\s*(include|import)')
DEFINE = re.compile(r'^\s*#\s*define\s+([A-Za-z_]\w*)\s+(?:"([^"]*)"|<([^>]*)>)')
ANY_DEFINE = re.compile(r'^\s*#\s*define\s+([A-Za-z_]\w*)')
TEXT_FILES = (".md", ".txt")


def allowed(folder, path):
    import fnmatch
    return any(folder == f and fnmatch.fnmatchcase(path, p) for f, p, _ in EXCEPTIONS)


RAW_STRING = re.compile(r'R"([^()\\ ]{0,16})\(')


def logical_lines(text):
    """Yields (first line number, text) as the preprocessor reads them:
    backslash-newlines joined, each comment one space (a block comment over
    several lines joins them), literals kept."""
    start, number, i, parts = 1, 1, 0, []
    while i < len(text):
        c = text[i]
        if text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = len(text) if end < 0 else end + 2
            number += text.count("\n", i, end)
            parts.append(" ")
            i = end
        elif text.startswith("//", i):
            end = text.find("\n", i)
            i = len(text) if end < 0 else end
        elif text.startswith("\\\n", i):
            number += 1
            i += 2
        elif c == "\n":
            yield start, "".join(parts)
            number += 1
            start, parts = number, []
            i += 1
        elif c == '"' or (c == "'" and not (i and (text[i - 1].isalnum() or text[i - 1] == "_"))):
            raw = RAW_STRING.match(text, i - 1) if c == '"' and i else None
            if raw:
                end = text.find(")" + raw.group(1) + '"', raw.end())
                end = len(text) if end < 0 else end + len(raw.group(1)) + 2
            else:
                end = i + 1
                while end < len(text) and text[end] not in (c, "\n"):
                    end += 2 if text[end] == "\\" else 1
                end = min(end + 1, len(text))
            number += text.count("\n", i, end)
            parts.append(text[i:end])
            i = end
        else:
            parts.append(c)
            i += 1
    yield start, "".join(parts)


def resolve(src, file, path, quoted):
    """The include's path relative to src/, or None when it lies outside."""
    candidates = []
    if quoted:
        candidates.append(os.path.join(os.path.dirname(file), path))
    candidates.append(os.path.join(src, path))
    for candidate in candidates:
        if os.path.isfile(candidate):
            relative = os.path.relpath(os.path.normpath(candidate), src)
            return None if relative.startswith("..") else relative
    # An angle-bracket header found nowhere in src/ is a system one (a
    # <sound/asound.h> is the kernel's). A quoted one that does not exist
    # (yet) is read as the compiler would look for it first.
    if not quoted:
        return None
    if (path.startswith("../") or path.startswith("./")):
        relative = os.path.relpath(os.path.normpath(os.path.join(os.path.dirname(file), path)), src)
        return None if relative.startswith("..") else relative
    relative = os.path.normpath(path)
    return None if relative.startswith("..") else relative


def main():
    root = sys.argv[1]
    src = os.path.join(root, "src")
    failed = False
    files = {}
    for dirpath, dirnames, filenames in os.walk(src):
        dirnames.sort()
        for name in sorted(filenames):
            if not name.endswith(TEXT_FILES):
                file = os.path.join(dirpath, name)
                with open(file, encoding="utf-8", errors="replace") as f:
                    files[file] = list(logical_lines(f.read()))
    # Every macro of src/ that names a header, wherever it is defined (a
    # header may define the name another file includes through), and every
    # name src/ defines at all (so that none passes for FreeType's).
    everywhere, defined = {}, set()
    for lines in files.values():
        for _, text in lines:
            m = ANY_DEFINE.match(text)
            if m:
                defined.add(m.group(1))
            m = DEFINE.match(text)
            if m:
                everywhere.setdefault(m.group(1), set()).add(
                    (m.group(2), True) if m.group(2) is not None else (m.group(3), False))
    for file, lines in files.items():
        shown = os.path.relpath(file, root)
        relative = os.path.relpath(file, src)
        folder = relative.split(os.sep)[0] if os.sep in relative else "player"
        macros = {}
        for _, text in lines:
            m = DEFINE.match(text)
            if m:
                macros[m.group(1)] = {(m.group(2), True) if m.group(2) is not None else (m.group(3), False)}
        for number, text in lines:
            m = INCLUDE.match(text)
            if not m:
                if ANY_INCLUDE.match(text):
                    print(f"{shown}:{number}: an include the check cannot read", file=sys.stderr)
                    failed = True
                continue
            if m.group(3) is not None:
                macro = m.group(3)
                if macro in macros or macro in everywhere:
                    targets = macros.get(macro) or everywhere[macro]
                elif THIRD_PARTY_MACRO.match(macro) and macro not in defined:
                    continue
                else:
                    print(f"{shown}:{number}: an include through macro {macro} the check cannot follow", file=sys.stderr)
                    failed = True
                    continue
            else:
                quoted = m.group(1) is not None
                targets = {(m.group(1) if quoted else m.group(2), quoted)}
            for path, quoted in sorted(targets):
                target_path = resolve(src, file, path, quoted)
                if target_path is None:
                    continue
                if os.sep not in target_path:
                    # A file of src/'s top is the player's; a name found
                    # nowhere in src/ is another project's header.
                    if not os.path.isfile(os.path.join(src, target_path)):
                        continue
                    target = "player"
                else:
                    target = target_path.split(os.sep)[0]
                if target not in RANK:
                    continue
                if folder not in RANK:
                    print(f"{shown}:{number}: folder '{folder}' is not in the layer order", file=sys.stderr)
                    failed = True
                    continue
                if RANK[target] > RANK[folder] and not allowed(folder, target_path):
                    written = path if path == target_path else f"{path} ({target_path})"
                    print(f"{shown}:{number}: {folder} may not include {written} ({target} is above {folder})", file=sys.stderr)
                    failed = True
    if failed:
        print(f"Layering check failed: the order is {' '.join(ORDER)} (src/README.md).", file=sys.stderr)
    return 1 if failed else 0


sys.exit(main())
EOF
