#!/usr/bin/env python3
"""Lists the calls in src/ that open a file for writing or map one outside
the file gate, and fails on one that the committed baseline
(scripts/file_writes.baseline) does not hold.

Every file the player writes goes through the file layer's in-place open
(core/stdiofile.cpp) or the replace road (core/replacefile.cpp); both ask
the list of files that live objects read (core/readholds.h), so that no
write cuts a file an anim, a video, a music stream, a font or a plugin
reads. A call that opens or maps a file by itself passes that list by: the
calls already in the tree are listed in the baseline with the reason each
is safe (a temporary file of the player's own, a system library, a table
handed to plugins); a new one fails the check until it goes through the
gate or is added to the baseline by regenerating it (--record) and giving
its reason.

The calls looked for: fopen/freopen with a mode that writes ("w", "a" or
"+", or a mode that is no literal), open/openat with O_WRONLY, O_RDWR,
O_CREAT or O_TRUNC, creat, posix_spawn_file_actions_addopen that writes,
std::ofstream and std::fstream, FT_New_Face (FreeType maps the file),
mmap and dlopen. Only src/ is scanned: the player; tools/, tests/ and
bench/ are developer programs that write their own outputs.

Entries are keyed by file and the call's text, never by line numbers, so
unrelated edits leave the baseline valid; an entry that disappears fails
nothing.

Usage:
  scripts/check_file_writes.py            the check, as ./test runs it
  scripts/check_file_writes.py --record   rewrites the baseline (the
                                          reasons of kept entries stay)
"""

import argparse
import collections
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BASELINE = os.path.join(ROOT, "scripts", "file_writes.baseline")
SCANNED = ("src",)
# The gate itself.
EXEMPT = ("src/core/stdiofile.cpp", "src/core/replacefile.cpp")

CALL = re.compile(
    r"\b(?P<name>fopen64|fopen|freopen|openat|open|creat|posix_spawn_file_actions_addopen|FT_New_Face|mmap|dlopen)"
    r"\s*(?P<paren>\()?"
    r"|\bstd::(?P<stream>ofstream|fstream)\b"
)
WRITE_FLAGS = re.compile(r"\bO_(WRONLY|RDWR|CREAT|TRUNC)\b")
MODE = re.compile(r'"([a-z+]*)"')


def strip_comments(text):
    """Blanks out comments and string contents other than fopen modes keep
    their length, so that positions still give line numbers."""
    out = []
    i, n = 0, len(text)
    while i < n:
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            out.append(" " * (j - i))
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append(re.sub(r"[^\n]", " ", text[i:j]))
            i = j
        elif text[i] in "\"'":
            quote = text[i]
            j = i + 1
            while j < n and text[j] != quote:
                j += 2 if text[j] == "\\" else 1
            out.append(text[i : j + 1])
            i = j + 1
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


def call_text(text, start):
    """The call from its name to its closing parenthesis (or line end)."""
    depth = 0
    i = start
    while i < len(text):
        c = text[i]
        if c == "(":
            depth += 1
        elif c == ")":
            depth -= 1
            if depth == 0:
                return text[start : i + 1]
        elif c in ";{" and depth == 0:
            break
        i += 1
    return text[start:i]


def writes(name, call):
    if name in ("fopen", "fopen64", "freopen"):
        args = call[call.find("(") :]
        modes = MODE.findall(args)
        # The mode is the last literal; none means a mode we can't see.
        return not modes or any(c in modes[-1] for c in "wa+")
    if name in ("open", "openat", "posix_spawn_file_actions_addopen"):
        return bool(WRITE_FLAGS.search(call))
    return True


def findings():
    found = []
    for top in SCANNED:
        for folder, _, files in os.walk(os.path.join(ROOT, top)):
            for f in sorted(files):
                if not f.endswith((".cpp", ".h", ".c")):
                    continue
                path = os.path.relpath(os.path.join(folder, f), ROOT)
                if path in EXEMPT:
                    continue
                with open(os.path.join(ROOT, path), encoding="utf-8", errors="replace") as fh:
                    text = strip_comments(fh.read())
                for m in CALL.finditer(text):
                    name = m.group("name") or m.group("stream")
                    if m.group("name"):
                        # A member .open() is a stream's, not the system call;
                        # FT_New_Face and fopen count as addresses too (the
                        # tables handed to plugins).
                        before = text[max(0, m.start() - 2) : m.start()]
                        if before.endswith((".", "->")):
                            continue
                        if not m.group("paren") and name not in ("FT_New_Face", "fopen"):
                            continue
                        call = call_text(text, m.start()) if m.group("paren") else text[m.start() : m.end()]
                    else:
                        call = text[m.start() : text.find("\n", m.start())]
                    if not writes(name, call):
                        continue
                    line = text.count("\n", 0, m.start()) + 1
                    key = " ".join(call.split())
                    found.append((path, line, key))
    return found


def read_baseline():
    entries = collections.Counter()
    reasons = {}
    if not os.path.exists(BASELINE):
        return entries, reasons
    with open(BASELINE, encoding="utf-8") as fh:
        for raw in fh:
            line = raw.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            parts = line.split("\t")
            key = (parts[0], parts[1])
            entries[key] += 1
            if len(parts) > 2:
                reasons[key] = parts[2]
    return entries, reasons


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--record", action="store_true", help="rewrite the baseline")
    args = parser.parse_args()
    found = findings()
    baseline, reasons = read_baseline()
    if args.record:
        with open(BASELINE, "w", encoding="utf-8") as fh:
            fh.write("# Calls that open a file for writing or map one outside the file gate\n")
            fh.write("# (scripts/check_file_writes.py): file, call, why it may pass the gate by.\n")
            for path, _, key in sorted(found):
                reason = reasons.get((path, key), "NEW: give the reason")
                fh.write(f"{path}\t{key}\t{reason}\n")
        print(f"recorded {len(found)} calls in {os.path.relpath(BASELINE, ROOT)}")
        return 0
    seen = collections.Counter()
    bad = []
    for path, line, key in found:
        seen[(path, key)] += 1
        if seen[(path, key)] > baseline[(path, key)]:
            bad.append(f"{path}:{line}: {key}")
    if bad:
        print("Calls that open a file for writing or map one outside the file gate", file=sys.stderr)
        print("(core/stdiofile.cpp, core/replacefile.cpp; see src/README.md):", file=sys.stderr)
        for b in bad:
            print("  " + b, file=sys.stderr)
        print("Write through FileOpen or BeginReplaceFile, or record the call with its reason", file=sys.stderr)
        print("(scripts/check_file_writes.py --record).", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
