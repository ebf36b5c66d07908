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

The calls looked for, beside those below: the linked libraries' writers of
whole files (SDL_SaveBMP, avio_open with a write flag or flags it can't see,
g_file_set_contents, gdk_pixbuf_save, png_image_write_to_file), the calls
that make a name or change who may read it (mkdir, mkdirat, mkdtemp,
mkstemp, chmod, fchmodat, chown, utimensat, and std::filesystem's
create_directory, create_directories, permissions, last_write_time with a
time), and popen and system, whose shell may write anything.
fopen/freopen and SDL_RWFromFile with a mode that
writes ("w", "a" or "+", or a mode that is no literal), open/openat/open64
with O_WRONLY, O_RDWR, O_CREAT or O_TRUNC or with flags that are no
literal (a variable: the check can't see them, so it fails closed),
creat/creat64, posix_spawn_file_actions_addopen that writes,
std::ofstream, std::fstream and std::filebuf (whose open writes),
FT_New_Face and FT_Open_Face with a path (FreeType maps the file; a face
over a stream of the file layer's passes), mmap, dlopen, truncate,
rename/renameat, link/linkat, symlink/symlinkat, mkfifo/mkfifoat,
mknod/mknodat, syscall() with a system call that opens, makes, moves or
removes a name, the std::filesystem calls that write or remove (copy,
copy_file, copy_symlink, create_symlink, create_directory_symlink,
create_hard_link, rename, resize_file, remove, remove_all), and every
deleting call (unlink, unlinkat, remove, rmdir): each puts bytes or a
name in a file's place, or takes one away, without the gate. Only src/
is scanned: the player; tools/, tests/ and bench/ are developer programs
that write their own outputs.

The gate's own files are not exempt whole: only the functions named in
EXEMPT, which are the gate, pass; any other call in those files is judged
as anywhere else, and an exempt function that holds no such call fails
the check, so the list never vouches for a function that changed.

Entries are keyed by file and the call's text, never by line numbers, so
unrelated edits leave the baseline valid; an entry that matches no call
any more fails too, so the baseline never vouches for a call that
changed.

Usage:
  scripts/check_file_writes.py              the check, as ./test runs it
  scripts/check_file_writes.py --record     rewrites the baseline (the
                                            reasons of kept entries stay)
  scripts/check_file_writes.py --self-test  shows that each call looked
                                            for fails the check, named
"""

import argparse
import collections
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BASELINE = os.path.join(ROOT, "scripts", "file_writes.baseline")
SCANNED = ("src",)
# The gate itself: single functions of its files, by name.
EXEMPT = {
    "src/core/stdiofile.cpp": {
        # The in-place open: refuses a held file on the descriptor, then cuts.
        "OpenToWrite",
        # The open to read, whose flags (waiting or not) the check can't see.
        "OpenToRead",
    },
    "src/core/replacefile.cpp": {
        # The new file beside the target, made with O_EXCL, and its removal.
        "CreateBeside",
        "DropTemp",
        # The new file takes the target's place.
        "CommitReplaceFile",
    },
}

CALL = re.compile(
    r"\b(?P<name>fopen64|fopen|freopen|openat|open64|open|creat64|creat|posix_spawn_file_actions_addopen|"
    r"FT_New_Face|FT_Open_Face|mmap|dlopen|truncate|renameat2|renameat|rename|linkat|link|copy_file|"
    r"symlinkat|symlink|mkfifoat|mkfifo|mknodat|mknod|unlinkat|unlink|rmdir|remove_all|remove|"
    r"resize_file|copy_symlink|create_symlink|create_directory_symlink|create_hard_link|SDL_RWFromFile|"
    r"syscall|SDL_SaveBMP_RW|SDL_SaveBMP|avio_open2|avio_open|g_file_set_contents_full|g_file_set_contents|"
    r"gdk_pixbuf_savev|gdk_pixbuf_save_to_callback|gdk_pixbuf_save|png_image_write_to_file|mkdirat|mkdir|mkdtemp|"
    r"fchmodat|lchmod|chmod|fchownat|lchown|chown|utimensat|utimes|lutimes|utime|create_directories|"
    r"create_directory|permissions|last_write_time|popen|system|mkostemps|mkostemp|mkstemps|mkstemp)\b"
    r"\s*(?P<paren>\()?"
    r"|\b(?:std::filesystem|filesystem|fs)::(?P<fscall>copy)\s*\("
    r"|\bstd::(?P<stream>ofstream|fstream|filebuf|basic_ofstream|basic_fstream|basic_filebuf)\b"
)
WRITE_FLAGS = re.compile(r"\bO_(WRONLY|RDWR|CREAT|TRUNC)\b")
# Where the flags are among an open's arguments.
FLAGS_AT = {"open": 1, "open64": 1, "openat": 2, "posix_spawn_file_actions_addopen": 3}
# The system calls that open, make, move or remove a name, as syscall()
# takes them.
SYSCALLS = re.compile(
    r"\bSYS_(open|openat|openat2|creat|rename|renameat|renameat2|link|linkat|symlink|symlinkat|unlink|"
    r"unlinkat|rmdir|mknod|mknodat|truncate|ftruncate|mkdir|mkdirat)\b"
)
# Calls that take one argument (a path) here, and more as an algorithm of
# the standard library (std::remove(first, last, value)).
ONE_ARGUMENT = {"remove", "rmdir", "unlink"}
# The file system library's calls that only ask when given a path alone: a
# time or permissions given changes the file.
ASKS_WITH_ONE = {"last_write_time", "permissions"}
WORD = re.compile(r"[A-Za-z_]\w*")
# FreeType reads a face by the stream or memory it is given; a path (or
# flags the check can't see) means it maps the file itself.
FT_SAFE = re.compile(r"\bFT_OPEN_(STREAM|MEMORY)\b")
FT_PATH = re.compile(r"\bFT_OPEN_PATHNAME\b|\.\s*pathname\b")
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


def arguments(call):
    """The call's arguments at the outer level of its parentheses."""
    start = call.find("(")
    if start < 0:
        return []
    args, depth, current = [], 0, []
    for c in call[start + 1 :]:
        if c in "([{":
            depth += 1
        elif c in ")]}":
            if depth == 0:
                break
            depth -= 1
        elif c == "," and depth == 0:
            args.append("".join(current))
            current = []
            continue
        current.append(c)
    args.append("".join(current))
    return [a.strip() for a in args]


def writes(name, call, text):
    if name in ONE_ARGUMENT:
        return len(arguments(call)) == 1
    if name in ASKS_WITH_ONE:
        # permissions(p) is no call; last_write_time(p) and (p, ec) ask.
        args = arguments(call)
        return name == "permissions" or (len(args) >= 2 and not re.fullmatch(r"\w*ec\w*", args[1]))
    if name in ("avio_open", "avio_open2"):
        args = arguments(call)
        # Only a plain read passes: a write flag, or flags it can't see, fail.
        return len(args) < 3 or args[2].strip() != "AVIO_FLAG_READ"
    if name == "syscall":
        args = arguments(call)
        return bool(args) and (bool(SYSCALLS.search(args[0])) or not args[0].startswith("SYS_"))
    if name in ("fopen", "fopen64", "freopen", "SDL_RWFromFile"):
        args = call[call.find("(") :]
        modes = MODE.findall(args)
        # The mode is the last literal; none means a mode we can't see.
        return not modes or any(c in modes[-1] for c in "wa+")
    if name in FLAGS_AT:
        if WRITE_FLAGS.search(call):
            return True
        args = arguments(call)
        if len(args) <= FLAGS_AT[name]:
            # Too few arguments for the system call: a function of that
            # name (a requester's open(display)).
            return False
        # Flags held in a variable (or a call) may write: fail closed.
        return any(not w.startswith("O_") for w in WORD.findall(args[FLAGS_AT[name]]))
    if name == "FT_Open_Face":
        return bool(FT_PATH.search(text)) or not FT_SAFE.search(text)
    return True


FUNCTION_HEAD = re.compile(r"(~?[A-Za-z_][\w:~]*)\s*\([^;{}]*\)\s*(const\s*)?(noexcept\s*)?(->[^;{}]*)?$")
NOT_FUNCTIONS = {"if", "for", "while", "switch", "catch", "return", "sizeof", "decltype"}


def functions(text):
    """(start, end, name) of each function body at the outer level of the
    code (a class's member functions too), found by its braces."""
    spans, stack = [], []
    last = 0
    for i, c in enumerate(text):
        if c == "{":
            head = text[last:i].strip()
            m = FUNCTION_HEAD.search(head)
            inside = any(kind == "function" for kind, _, _ in stack)
            name = m.group(1) if m and not inside else None
            if name and name.split("::")[-1] in NOT_FUNCTIONS:
                name = None
            stack.append(("function" if name else "block", i, name))
            last = i + 1
        elif c == "}":
            if stack:
                kind, start, name = stack.pop()
                if kind == "function":
                    spans.append((start, i, name))
            last = i + 1
        elif c == ";":
            last = i + 1
    return spans


def function_at(spans, at):
    for start, end, name in spans:
        if start <= at <= end:
            return name.split("::")[-1]
    return None


def scan(path, text, exempt=None):
    """The calls of one source file: (path, line, key). The calls in the
    functions named in exempt pass; the names of those that held one are
    added to used."""
    found = []
    text = strip_comments(text)
    spans = functions(text) if exempt else []
    for m in CALL.finditer(text):
        name = m.group("name") or m.group("fscall") or m.group("stream")
        if m.group("fscall"):
            call = call_text(text, m.start())
        elif m.group("name"):
            # A member .open() is a stream's, not the system call (a
            # std::filebuf is caught where it is declared); FT_New_Face and
            # fopen count as addresses too (the tables handed to plugins).
            before = text[max(0, m.start() - 2) : m.start()]
            if before.endswith((".", "->")):
                continue
            if not m.group("paren") and name not in ("FT_New_Face", "fopen"):
                continue
            call = call_text(text, m.start()) if m.group("paren") else text[m.start() : m.end()]
        else:
            call = text[m.start() : text.find("\n", m.start())]
        # The file system library's calls write or remove whatever their
        # arguments (std::filesystem::remove(path, ec) too).
        library = m.group("fscall") or re.search(r"\b(filesystem|fs)::$", text[max(0, m.start() - 16) : m.start()])
        if (not library or name in ASKS_WITH_ONE) and not writes(name, call, text):
            continue
        if exempt is not None:
            function = function_at(spans, m.start())
            if function in exempt["names"]:
                exempt["used"].add(function)
                continue
        line = text.count("\n", 0, m.start()) + 1
        key = " ".join(call.split())
        found.append((path, line, key))
    return found


def findings(exempt_map=None):
    """The calls found, and the exempt functions that held none."""
    exempt_map = EXEMPT if exempt_map is None else exempt_map
    found, unused = [], []
    for top in SCANNED:
        for folder, _, files in os.walk(os.path.join(ROOT, top)):
            for f in sorted(files):
                if not f.endswith((".cpp", ".h", ".c")):
                    continue
                path = os.path.relpath(os.path.join(folder, f), ROOT)
                exempt = {"names": exempt_map[path], "used": set()} if path in exempt_map else None
                with open(os.path.join(ROOT, path), encoding="utf-8", errors="replace") as fh:
                    found.extend(scan(path, fh.read(), exempt))
                if exempt:
                    unused.extend(f"{path}: {n}" for n in sorted(exempt["names"] - exempt["used"]))
    return found, unused


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
    parser.add_argument("--self-test", action="store_true", help="check the check")
    args = parser.parse_args()
    if args.self_test:
        return self_test()
    found, unused = findings()
    baseline, reasons = read_baseline()
    if args.record:
        with open(BASELINE, "w", encoding="utf-8") as fh:
            fh.write("# Calls that open a file for writing or map one, put a name in a file's place,\n")
            fh.write("# make or remove one or change its mode, outside the file gate\n")
            fh.write("# (scripts/check_file_writes.py):\n")
            fh.write("# file, call, why it may pass the gate by.\n")
            for path, _, key in sorted(found):
                reason = reasons.get((path, key), "NEW: give the reason")
                fh.write(f"{path}\t{key}\t{reason}\n")
        print(f"recorded {len(found)} calls in {os.path.relpath(BASELINE, ROOT)}")
        return 0
    problems = judge(found, baseline)
    if unused:
        problems.append("Exempt functions of the gate that hold no call it looks for (EXEMPT in")
        problems.append("scripts/check_file_writes.py): drop them, or name the function that now does:")
        problems.extend("  " + u for u in unused)
    for line in problems:
        print(line, file=sys.stderr)
    return 1 if problems else 0


def judge(found, baseline):
    """The lines that fail the check: calls the baseline does not hold,
    and baseline entries that match no call."""
    seen = collections.Counter()
    bad = []
    for path, line, key in found:
        seen[(path, key)] += 1
        if seen[(path, key)] > baseline[(path, key)]:
            bad.append(f"{path}:{line}: {key}")
    stale = [f"{path}: {key}" for (path, key), n in sorted(baseline.items()) if seen[(path, key)] < n]
    out = []
    if bad:
        out.append("Calls that open a file for writing or map one, or put a name in a file's place or")
        out.append("remove one, outside the file gate")
        out.append("(core/stdiofile.cpp, core/replacefile.cpp; see src/README.md):")
        out.extend("  " + b for b in bad)
        out.append("Write through FileOpen or BeginReplaceFile, or record the call with its reason")
        out.append("(scripts/check_file_writes.py --record).")
    if stale:
        out.append("Baseline entries that match no call (scripts/file_writes.baseline): drop them,")
        out.append("or record the call as it now reads (scripts/check_file_writes.py --record):")
        out.extend("  " + b for b in stale)
    return out


# Each call the check looks for, in a line that must fail it, and the word
# its report must name.
SELF_TEST = [
    ('FT_Open_Face', 'FT_Open_Args a{}; a.flags = FT_OPEN_PATHNAME; a.pathname = p; FT_Open_Face(lib, &a, 0, &f);'),
    ('open', 'int fd = open(path, flags, 0644);'),
    ('truncate', 'truncate(path, 0);'),
    ('rename', 'std::rename(from, to);'),
    ('copy_file', 'std::filesystem::copy_file(from, to, options);'),
    ('std::filebuf', 'std::filebuf buf; buf.open(path, std::ios::out);'),
    ('link', 'link(from, to);'),
    ('fopen', 'FILE* f = fopen(path, "wb");'),
    ('resize_file', 'std::filesystem::resize_file(path, 0);'),
    ('copy', 'std::filesystem::copy(from, to);'),
    ('copy', 'fs::copy(from, to, fs::copy_options::overwrite_existing);'),
    ('remove_all', 'std::filesystem::remove_all(path);'),
    ('remove', 'std::filesystem::remove(path, ec);'),
    ('create_symlink', 'std::filesystem::create_symlink(target, path);'),
    ('symlink', 'symlink(target, path);'),
    ('open64', 'int fd = open64(path, O_WRONLY | O_CREAT, 0644);'),
    ('creat64', 'int fd = creat64(path, 0644);'),
    ('SDL_RWFromFile', 'SDL_RWops* rw = SDL_RWFromFile(name, "wb");'),
    ('syscall', 'long fd = syscall(SYS_openat, AT_FDCWD, path, O_RDONLY);'),
    ('mkfifo', 'mkfifo(path, 0600);'),
    ('unlink', 'unlink(path);'),
    ('unlinkat', 'unlinkat(dir, name, 0);'),
    ('remove', 'std::remove(path);'),
    ('rmdir', 'rmdir(path);'),
    # The linked libraries' writers of whole files.
    ('SDL_SaveBMP', 'SDL_SaveBMP(surface, path);'),
    ('avio_open', 'avio_open(&pb, url, AVIO_FLAG_WRITE);'),
    ('avio_open2', 'avio_open2(&pb, url, flags, nullptr, nullptr);'),
    ('g_file_set_contents', 'g_file_set_contents(path, data, n, &error);'),
    ('gdk_pixbuf_save', 'gdk_pixbuf_save(pixbuf, path, "png", &error, NULL);'),
    ('png_image_write_to_file', 'png_image_write_to_file(&image, path, 0, pixels, 0, nullptr);'),
    # Calls that make a name or change who may read or write one.
    ('mkdir', 'mkdir(path, 0755);'),
    ('mkdirat', 'mkdirat(dir, name, 0755);'),
    ('mkdtemp', 'mkdtemp(pattern);'),
    ('chmod', 'chmod(path, 0644);'),
    ('fchmodat', 'fchmodat(dir, name, 0644, 0);'),
    ('chown', 'chown(path, uid, gid);'),
    ('utimensat', 'utimensat(AT_FDCWD, path, times, 0);'),
    ('create_directory', 'std::filesystem::create_directory(path);'),
    ('create_directories', 'fs::create_directories(path, ec);'),
    ('permissions', 'std::filesystem::permissions(path, fs::perms::owner_all);'),
    ('last_write_time', 'std::filesystem::last_write_time(path, when);'),
    # Programs run by a shell, and temporary names made by the C library.
    ('popen', 'FILE* p = popen(command, "r");'),
    ('system', 'std::system(command);'),
    ('mkstemp', 'int fd = mkstemp(pattern);'),
]
# Lines that must pass: reads, and a face over the file layer's stream.
SELF_TEST_PASSES = [
    'int fd = open(path, O_RDONLY | O_CLOEXEC);',
    'FT_Open_Args a{}; a.flags = FT_OPEN_STREAM; FT_Open_Face(lib, &a, 0, &f);',
    'copy_file_range(in, nullptr, out, nullptr, n, 0); ftruncate(fd, 0);',
    'std::copy(a.begin(), a.end(), out); v.erase(std::remove(v.begin(), v.end(), 0), v.end());',
    'SDL_RWops* rw = SDL_RWFromFile(name, "rb"); long t = syscall(SYS_gettid);',
    'avio_open(&pb, url, AVIO_FLAG_READ); auto t = std::filesystem::last_write_time(path, ec);',
]
# A gate file: its exempt function passes, another of its functions fails.
SELF_TEST_GATE = """namespace {
int Gate(const char* p) {
    return open(p, O_WRONLY | O_CREAT, 0644);
}
}  // namespace
struct R {
    void Other(const char* p) { unlink(p); }
};
"""


def self_test():
    failures = []
    for word, line in SELF_TEST:
        problems = judge(scan("src/x.cpp", "void f() {\n    " + line + "\n}\n"), collections.Counter())
        if not any(word in p and p.startswith("  src/x.cpp:2:") for p in problems):
            failures.append(f"not caught: {line}")
    for line in SELF_TEST_PASSES:
        if scan("src/x.cpp", "void f() {\n    " + line + "\n}\n"):
            failures.append(f"caught, though it writes nothing: {line}")
    exempt = {"names": {"Gate", "Gone"}, "used": set()}
    found = scan("src/x.cpp", SELF_TEST_GATE, exempt)
    if [key for _, _, key in found] != ["unlink(p)"]:
        failures.append(f"a gate file's exempt function, or only it, passed: {found}")
    if exempt["used"] != {"Gate"}:
        failures.append("an exempt function that holds no call was not told")
    stale = collections.Counter({("src/x.cpp", "rename(a, b)"): 1})
    if not any("rename(a, b)" in p for p in judge([], stale)):
        failures.append("a baseline entry that matches nothing passed")
    for f in failures:
        print("self-test: " + f, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
