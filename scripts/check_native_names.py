#!/usr/bin/env python3
"""Fails on a system call in src/ that takes a file name the player may have
from a script without the name going through NativePathOf
(core/filenames.h), the one road that expands "PROGDIR:", turns '\\' into
'/' and converts the player's text to the system's.

Two rules:
  1. ToSystemPath is called only by NativePathOf (core/filenames.cpp): a
     direct call skips "PROGDIR:".
  2. Each call that takes a name (stat, lstat, access, open, opendir,
     chdir, chmod, utimensat, realpath, statvfs, mkdir, rename, unlink,
     the std::filesystem operations, ... see NAME_CALLS) passes when
     - its name argument is a string literal (a name of the system's own),
     - it is one of the *at calls given an open folder's descriptor (the
       name is an entry of that folder, from a listing or from a path the
       walk took apart after NativePathOf),
     - its name argument is NativePathOf(...), or
     - the function around it calls NativePathOf (a NativePathOf caller);
     otherwise the baseline (scripts/native_names.baseline) must name the
     file, the function and the call, with the reason its name never comes
     from a script as the script gave it (a listing's entry, a path the
     caller already took through NativePathOf, a folder of the system).
An entry that matches no call fails too, so the baseline never vouches for
a call that changed. Entries are keyed by function, not line.

Usage:
  scripts/check_native_names.py              the check, as ./test runs it
  scripts/check_native_names.py --self-test  shows each kind of call
                                             failing it, named
"""

import argparse
import os
import re
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BASELINE = os.path.join("scripts", "native_names.baseline")
GATE = ("src/core/filenames.cpp", "src/core/filenames.h")
# Whole files whose every name is a system path their callers made with
# NativePathOf (or the player's own temporary names): the replace road takes
# BeginReplaceFile's NativePathOf, the signal clean-up the paths registered
# by the replace road and the run state. Their inner functions change with
# the replace road's own work; the road's entry is what this check asks.
SYSTEM_PATH_FILES = ("src/core/replacefile.cpp", "src/core/signalcleanup.cpp")

NAME_CALLS = (
    "stat stat64 lstat lstat64 access euidaccess eaccess faccessat opendir chdir chroot utime utimes lutimes "
    "utimensat futimesat chmod lchmod fchmodat chown lchown fchownat realpath canonicalize_file_name statvfs "
    "statfs truncate truncate64 readlink readlinkat fstatat fstatat64 statx mkdir mkdirat rmdir unlink unlinkat "
    "remove rename renameat renameat2 link linkat symlink symlinkat open open64 openat openat64 fopen fopen64 "
    "freopen creat creat64 mkfifo mkfifoat mknod mknodat scandir nftw ftw getxattr lgetxattr setxattr lsetxattr "
    "listxattr llistxattr removexattr lremovexattr acl_get_file acl_set_file dlopen execv execve execvp "
    "name_to_handle_at"
).split()
# The calls whose first argument is a folder's descriptor, and where their
# name argument is.
AT_CALLS = {
    "faccessat": 1, "utimensat": 1, "futimesat": 1, "fchmodat": 1, "fchownat": 1, "readlinkat": 1,
    "fstatat": 1, "fstatat64": 1, "statx": 1, "mkdirat": 1, "unlinkat": 1, "renameat": 1, "renameat2": 1,
    "linkat": 1, "openat": 1, "openat64": 1, "mkfifoat": 1, "mknodat": 1, "name_to_handle_at": 1,
}
FS_CALLS = (
    "exists is_directory is_regular_file is_symlink is_other is_empty status symlink_status file_size "
    "last_write_time permissions remove remove_all rename copy copy_file create_directory create_directories "
    "create_symlink create_hard_link current_path absolute canonical weakly_canonical read_symlink resize_file "
    "space directory_iterator recursive_directory_iterator equivalent hard_link_count"
).split()

CALL = re.compile(
    r"(?P<fs>\b(?:std::filesystem|fs)::(?P<fsname>" + "|".join(FS_CALLS) + r")\b(?:\s+\w+)?\s*[({])"
    r"|(?P<plain>(?<![\w.>])(?P<scope>::)?\b(?P<name>" + "|".join(NAME_CALLS) + r")\s*\()"
)
KEYWORDS_BEFORE_CALL = {"return", "else", "do", "case", "co_return", "throw", "not", "and", "or"}
CONTAINER = re.compile(r"\s*(template\s*<[^{]*>\s*)?(\b(namespace|struct|class|union|enum)\b|extern\s*\")")
IDENT_BEFORE_PAREN = re.compile(r"([~\w]+)\s*$")


TOKENS = re.compile(
    r"//[^\n]*"  # a line comment
    r"|/\*.*?\*/"  # a block comment
    r"|\bR\"(?P<delim>[^(\s]*)\(.*?\)(?P=delim)\""  # a raw string
    r"|\"(?:\\.|[^\"\\\n])*\""  # a string
    r"|'(?:\\.|[^'\\\n])*'",  # a character
    re.S,
)


def strip(text):
    """Comments blanked; string and character literals keep their quotes
    and lose their contents, so that lengths (and lines) stay."""

    def blank(m):
        token = m.group(0)
        inner = re.sub(r"[^\n]", " ", token)
        if token.startswith("/"):
            return inner
        quote = "'" if token.startswith("'") else '"'
        return quote + inner[1:-1] + quote if len(token) >= 2 else inner

    return TOKENS.sub(blank, text)


def head_name(header):
    """The name before a function head's parameter list, None when there
    is none."""
    depth, paren = 0, -1
    for k, h in enumerate(header):
        if h == "(":
            if depth == 0 and paren < 0:
                paren = k
            depth += 1
        elif h == ")":
            depth -= 1
    m = IDENT_BEFORE_PAREN.search(header[:paren]) if paren >= 0 else None
    return m.group(1) if m else None


def functions(text):
    """(start, end, name) of every function body in stripped text."""
    found = []
    stack = []  # ("function", start, name) / ("other",)
    last = 0
    for i, c in enumerate(text):
        if c in ";":
            last = i + 1
        elif c == "{":
            inside = any(kind[0] == "function" for kind in stack)
            header = text[last:i]
            if inside:
                stack.append(("block",))
            elif CONTAINER.match(header) and "(" not in header:
                stack.append(("other",))
            elif "(" in header and ")" in header and not header.rstrip().endswith("="):
                stack.append(("function", i, head_name(header) or "?"))
            else:
                stack.append(("other",))
            last = i + 1
        elif c == "}":
            if stack:
                top = stack.pop()
                if top[0] == "function":
                    found.append((top[1], i, top[2]))
            last = i + 1
    return found


def arguments(text, open_paren):
    """The top-level arguments of the call whose '(' is at open_paren."""
    args, depth, start = [], 0, open_paren + 1
    for k in range(open_paren, len(text)):
        c = text[k]
        if c in "([{":
            depth += 1
        elif c in ")]}":
            depth -= 1
            if depth == 0:
                args.append(text[start:k].strip())
                return args
        elif c == "," and depth == 1:
            args.append(text[start:k].strip())
            start = k + 1
    return args


def sources(root, suffixes=(".cpp", ".h")):
    """(path relative to root, stripped text) of every source file in src/,
    in a fixed order."""
    for base, dirs, files in os.walk(os.path.join(root, "src")):
        dirs.sort()
        for f in sorted(files):
            if not f.endswith(suffixes):
                continue
            path = os.path.join(base, f)
            with open(path, encoding="utf-8", errors="replace") as handle:
                yield os.path.relpath(path, root).replace(os.sep, "/"), strip(handle.read())


def probe_findings(check, clean, planted):
    """The check's findings over a scratch tree whose one source file holds
    the clean code and then the planted code; None (said) when the clean
    code alone fails it."""
    with tempfile.TemporaryDirectory() as root:
        os.makedirs(os.path.join(root, "src", "libs"))
        probe = os.path.join(root, "src", "libs", "probe.cpp")
        with open(probe, "w") as handle:
            handle.write(clean)
        if check(root):
            print("self-test: clean code failed:", check(root))
            return None
        with open(probe, "a") as handle:
            handle.write(planted)
        return check(root)


def listed_check(root, real_root, findings_in, allowed, stale):
    """FINDINGS_IN(rel, text, used) over every source under ROOT; in the real
    tree also each key of ALLOWED no place used any more, said by STALE."""
    findings, used = [], set()
    for rel, text in sources(root):
        findings += findings_in(rel, text, used)
    if root == real_root:
        findings += [stale(key) for key in sorted(set(allowed) - used)]
    return findings


def each_form_fails(found, names, found_in):
    """Whether every planted form NAMES has a finding (FOUND_IN(finding,
    name)); the first that passed is said."""
    for name in names:
        if not any(found_in(f, name) for f in found):
            print(f"self-test: the form planted in {name} passed")
            return False
    return True


def run_check(check, self_test, root, advice=""):
    """A check script's main: its self-test with --self-test, else its
    findings printed (and the advice after them); 1 when there are any."""
    if "--self-test" in sys.argv[1:]:
        return self_test()
    findings = check(root)
    for f in findings:
        print(f)
    if findings and advice:
        print(advice)
    return 1 if findings else 0


def scan(root):
    """(findings, calls): findings are rule-1 faults; calls are the rule-2
    calls not exempt, as (path, function, call, line)."""
    findings, calls = [], []
    for base, dirs, files in os.walk(os.path.join(root, "src")):
        dirs.sort()
        for f in sorted(files):
            if not f.endswith((".cpp", ".h", ".c")):
                continue
            path = os.path.join(base, f)
            rel = os.path.relpath(path, root).replace(os.sep, "/")
            with open(path, encoding="utf-8", errors="replace") as handle:
                text = strip(handle.read())
            if rel not in GATE:
                for m in re.finditer(r"\bToSystemPath\s*\(", text):
                    line = text.count("\n", 0, m.start()) + 1
                    findings.append(f"{rel}:{line}: ToSystemPath called outside NativePathOf: it skips \"PROGDIR:\"")
            if rel in SYSTEM_PATH_FILES or rel in GATE:
                continue
            bodies = functions(text)
            for m in CALL.finditer(text):
                if m.group("plain"):
                    name = m.group("name")
                    before = text[:m.start()].rstrip()
                    word = re.search(r"(\w+)$", before)
                    if m.group("scope"):
                        if re.search(r"\w$", text[:m.start()]):
                            continue  # some::name( of a class or namespace of our own
                    elif word and word.group(1) not in KEYWORDS_BEFORE_CALL:
                        continue  # a declaration: "int open(", "RequesterOpenFlag open("
                    paren = text.index("(", m.start("name"))
                else:
                    name = "std::filesystem::" + m.group("fsname")
                    paren = m.end() - 1
                args = arguments(text, paren)
                if name == "remove" and len(args) != 1:
                    continue  # the algorithm std::remove(first, last, value)
                index = 0
                if name in AT_CALLS:
                    if args and args[0] != "AT_FDCWD":
                        continue
                    index = AT_CALLS[name]
                subject = args[index] if len(args) > index else ""
                if subject.startswith('"') or "NativePathOf(" in subject:
                    continue
                around = next((b for b in bodies if b[0] < m.start() < b[1]), None)
                if around and "NativePathOf(" in text[around[0]:around[1]]:
                    continue
                line = text.count("\n", 0, m.start()) + 1
                calls.append((rel, around[2] if around else "<file scope>", name, line))
    return findings, calls


def read_baseline(root):
    entries = {}
    path = os.path.join(root, BASELINE)
    if not os.path.exists(path):
        return entries
    with open(path, encoding="utf-8") as handle:
        for number, raw in enumerate(handle, 1):
            line = raw.split("#", 1)[0].strip()
            if line:
                parts = line.split()
                entries[tuple(parts[:3])] = number
    return entries


def check(root):
    findings, calls = scan(root)
    baseline = read_baseline(root)
    used = set()
    for rel, function, name, line in calls:
        key = (rel, function, name)
        if key in baseline:
            used.add(key)
        else:
            findings.append(f"{rel}:{line}: {name} in {function} takes a name that does not go through NativePathOf")
    for key, number in sorted(baseline.items(), key=lambda kv: kv[1]):
        if key not in used:
            findings.append(f"{BASELINE}:{number}: {' '.join(key)} matches no call any more")
    return findings


def self_test():
    cases = {
        "stat": "int F(const char* n) { struct stat st; return stat(n, &st); }",
        "access": "int F(const char* n) { return access(n, 0); }",
        "chdir": "int F(const char* n) { return ::chdir(n); }",
        "chmod": "int F(const char* n) { return chmod(n, 0644); }",
        "utimensat": "int F(const char* n) { return utimensat(AT_FDCWD, n, nullptr, 0); }",
        "opendir": "void* F(const char* n) { return opendir(n); }",
        "realpath": "char* F(const char* n, char* b) { return realpath(n, b); }",
        "statvfs": "int F(const char* n, struct statvfs* v) { return statvfs(n, v); }",
        "lstat": "int F(const char* n) { struct stat st; if (lstat(n, &st)) return 1; return 0; }",
        "open": "int F(const char* n) { return open(n, 0); }",
        "std::filesystem::exists": "bool F(const char* n) { std::error_code e; return std::filesystem::exists(n, e); }",
        "ToSystemPath": "int F(const char* n) { return chmod(ToSystemPath(n).c_str(), 0644); }",
    }
    passing = (
        "int A(const char* n) { struct stat st; return stat(NativePathOf(n).c_str(), &st); }\n"
        "int B(const char* n) { const std::string p = NativePathOf(n); return access(p.c_str(), 0); }\n"
        "int C(int dir, const char* n) { return unlinkat(dir, n, 0); }\n"
        "int D() { char b[64]; return readlink(\"/proc/self/exe\", b, 63); }\n"
        "struct R { bool open() const { return true; } };\n"
        "int E(R& r) { return r.open() ? 0 : 1; }\n"
    )
    failed = False
    with tempfile.TemporaryDirectory() as root:
        os.makedirs(os.path.join(root, "src", "core"))
        os.makedirs(os.path.join(root, "scripts"))
        with open(os.path.join(root, "src", "core", "ok.cpp"), "w") as handle:
            handle.write(passing)
        if check(root):
            print("self-test: calls that take their names through NativePathOf failed:", check(root))
            failed = True
        for name, code in cases.items():
            probe = os.path.join(root, "src", "core", "probe.cpp")
            with open(probe, "w") as handle:
                handle.write(code + "\n")
            found = check(root)
            if not any(name in f for f in found):
                print(f"self-test: {name} passed the check: {found}")
                failed = True
            else:
                print(f"self-test: {name} fails the check: {found[0]}")
            os.remove(probe)
        with open(os.path.join(root, BASELINE), "w") as handle:
            handle.write("src/core/gone.cpp F stat  # a call that is no more\n")
        found = check(root)
        if not any("matches no call" in f for f in found):
            print("self-test: a stale baseline entry passed")
            failed = True
        else:
            print(f"self-test: a stale entry fails the check: {found[0]}")
    return 1 if failed else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--self-test", action="store_true")
    options = parser.parse_args()
    if options.self_test:
        return self_test()
    findings = check(ROOT)
    for f in findings:
        print(f)
    if findings:
        print(f"{len(findings)} name(s) reach the system without NativePathOf (see {BASELINE})", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
