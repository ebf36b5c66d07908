#!/usr/bin/env python3
"""Lists the floating-to-integer conversions (explicit casts and implicit
ones alike) in src/ outside core/numbers, and fails on one that the
committed baseline (scripts/float_casts.baseline) does not hold.

A script number that becomes an integer goes through core/numbers, where
NaN, infinities and values past the range are refused or clamped; a plain
conversion of such a value is undefined. The conversions already in the
tree are listed in the baseline (most convert values the program computed
itself, not script numbers); a new one fails the check until it goes
through core/numbers or, when its value cannot be out of range, is added
to the baseline by regenerating it.

Each entry is keyed by its file, the first line of the function around it
and the converted expression, never by line numbers, so unrelated edits
leave the baseline valid. Parsing all of src with clang takes minutes, so
only the translation units whose source or included project headers differ
from the content hashes the baseline recorded are parsed (dependencies
from `ninja -t deps` of the build tree); the results of units already
parsed are kept in the build tree, keyed by the same hashes. The hashes
leave out comments and blanks, so editing those costs no parse.

Usage:
  scripts/check_float_casts.py [--build DIR] [--jobs N]
      the check, as ./test runs it (DIR: a built tree with
      compile_commands.json; default build)
  scripts/check_float_casts.py --record [--all] [--build DIR] [--jobs N]
      regenerates the baseline: the units that changed are parsed again
      (with --all every unit), and the entries and hashes are rewritten.

  scripts/check_float_casts.py --self-test
      shows each form of conversion failing the check, on a small tree.

Needs clang-query (Debian's clang-tools).
"""

import argparse
import concurrent.futures
import hashlib
import json
import os
import re
import shlex
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BASELINE = os.path.join(ROOT, "scripts", "float_casts.baseline")
# The one place where script numbers may become integers by a plain cast.
EXEMPT = ("src/core/numbers.h", "src/core/numbers.cpp")
CACHE_NAME = "float_casts.cache.json"


def rel(path, base=None):
    return os.path.relpath(os.path.normpath(os.path.join(base or ROOT, path)), ROOT)


def is_project_file(path):
    return path.startswith("src/") or path.startswith("include/")


# Comments and runs of blanks do not change what clang sees, so an edit of
# them alone leaves a file's hash (and the units that include it) as it was.
TOKENS = re.compile(rb'"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\'|//[^\n]*|/\*.*?\*/|\s+', re.DOTALL)


def normalised(text):
    def keep(m):
        t = m.group(0)
        if t.startswith(b"//") or t.startswith(b"/*"):
            return b" "
        return b" " if t.isspace() else t
    return re.sub(rb" +", b" ", TOKENS.sub(keep, text))


def file_hash(path, memo):
    if path not in memo:
        try:
            with open(os.path.join(ROOT, path), "rb") as f:
                memo[path] = hashlib.sha256(normalised(f.read())).hexdigest()[:16]
        except OSError:
            memo[path] = "missing"
    return memo[path]


def translation_units(build):
    """{source: object file} of the src/ units in the compilation database."""
    with open(os.path.join(build, "compile_commands.json")) as f:
        entries = json.load(f)
    units = {}
    for e in entries:
        source = rel(e["file"], e["directory"])
        if not source.startswith("src/"):
            continue
        args = shlex.split(e["command"]) if "command" in e else e["arguments"]
        obj = args[args.index("-o") + 1] if "-o" in args else None
        units[source] = rel(obj, e["directory"]) if obj else None
    return units


def dependencies(build):
    """{object file: [project files it was compiled from]} per ninja."""
    out = subprocess.run(["ninja", "-C", build, "-t", "deps"], capture_output=True, text=True, check=True).stdout
    deps, current = {}, None
    for line in out.splitlines():
        if not line.strip():
            continue
        if not line.startswith(" "):
            target = line.split(":")[0]
            valid = "(VALID)" in line
            current = rel(target, build) if valid else None
            if current:
                deps[current] = []
        elif current:
            path = rel(line.strip(), build)
            if is_project_file(path):
                deps[current].append(path)
    return deps


def unit_hashes(build, units):
    """{source: (hash of the unit's project files, those files)}; the hash is
    None when ninja has no valid dependencies for the unit."""
    deps = dependencies(build)
    memo, result = {}, {}
    for source, obj in units.items():
        files = deps.get(obj)
        if files is None:
            result[source] = (None, [source])
            continue
        files = sorted(set(files) | {source})
        h = hashlib.sha256()
        for p in files:
            h.update(f"{p} {file_hash(p, memo)}\n".encode())
        result[source] = (h.hexdigest()[:16], files)
    return result, memo


QUERY = (
    "set output diag\n"
    'match castExpr(hasCastKind("CK_FloatingToIntegral"), '
    'isExpansionInFileMatching("^{root}/(src|include)/"), '
    'unless(isExpansionInFileMatching("^{root}/src/core/numbers[.]")), '
    'optionally(forFunction(functionDecl().bind("fn"))))\n'
)
NOTE = re.compile(r'^(/[^:]+):(\d+):(\d+): note: "(root|fn)" binds here')
COUNT = re.compile(r"^\d+ match(es)?\.$", re.MULTILINE)


def parse_output(text):
    """{key: count} of one unit's output; a template's conversion counts once
    however often it is instantiated."""
    positions = set()
    fn = "-"
    lines = text.splitlines()
    i = 0
    while i < len(lines):
        line = lines[i]
        m = NOTE.match(line)
        if m and i + 2 < len(lines):
            source, carets = lines[i + 1], lines[i + 2]
            if m.group(4) == "fn":
                fn = " ".join(source.split())
            else:
                start = carets.index("^") if "^" in carets else 0
                end = len(carets.rstrip())
                expr = " ".join(source[start:end].split()) or " ".join(source.split())
                positions.add((rel(m.group(1)), fn, expr, m.group(2), m.group(3)))
                fn = "-"
            i += 3
            continue
        i += 1
    casts = {}
    for p in positions:
        casts[p[:3]] = casts.get(p[:3], 0) + 1
    return casts


def query(build, source):
    script = QUERY.replace("{root}", ROOT)
    cmd = ["clang-query", "-p", build, "--extra-arg=-Wno-everything", "--extra-arg=-Wno-error"]
    for line in script.strip().splitlines():
        cmd.append("-c=" + line)
    cmd.append(os.path.join(ROOT, source))
    run = subprocess.run(cmd, capture_output=True, text=True)
    if run.returncode != 0 or not COUNT.search(run.stdout):
        sys.stderr.write(run.stdout[-2000:] + run.stderr[-2000:])
        raise SystemExit(f"check_float_casts: clang-query could not read {source}")
    return parse_output(run.stdout)


def without_precompiled_headers(build, into):
    """A copy of the build's compilation database in INTO whose commands
    leave out the precompiled header: g++ made it, and clang cannot read it.
    Each unit then parses the headers it includes itself, which also shows a
    unit that compiles only because the precompiled header included for it."""
    with open(os.path.join(build, "compile_commands.json")) as f:
        entries = json.load(f)
    for e in entries:
        args = shlex.split(e["command"]) if "command" in e else e["arguments"]
        kept = []
        skip = False
        for i, a in enumerate(args):
            if skip:
                skip = False
                continue
            if a == "-include" and i + 1 < len(args) and "cmake_pch" in args[i + 1]:
                skip = True
                continue
            if a == "-Winvalid-pch":
                continue
            kept.append(a)
        e.pop("command", None)
        e["arguments"] = kept
    with open(os.path.join(into, "compile_commands.json"), "w") as f:
        json.dump(entries, f)


def parse_units(build, sources, jobs):
    with tempfile.TemporaryDirectory() as plain:
        without_precompiled_headers(build, plain)
        with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
            return dict(zip(sources, pool.map(lambda s: query(plain, s), sources)))


def load_baseline():
    units, files, casts = {}, {}, {}
    if not os.path.exists(BASELINE):
        return units, files, casts
    with open(BASELINE) as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            fields = line.rstrip("\n").split("\t")
            if fields[0] == "unit":
                units[fields[1]] = fields[2]
            elif fields[0] == "file":
                files[fields[1]] = fields[2]
            elif fields[0] == "cast":
                casts[(fields[1], fields[2], fields[3])] = int(fields[4])
    return units, files, casts


def save_baseline(units, files, casts):
    with open(BASELINE, "w") as f:
        f.write("# Floating-to-integer conversions outside core/numbers, and the content\n")
        f.write("# hashes they were found at. Written by scripts/check_float_casts.py --record.\n")
        f.write("# cast<TAB>file<TAB>function<TAB>expression<TAB>count\n")
        for key in sorted(casts):
            f.write("cast\t%s\t%s\t%s\t%d\n" % (key + (casts[key],)))
        for path in sorted(files):
            f.write(f"file\t{path}\t{files[path]}\n")
        for source in sorted(units):
            f.write(f"unit\t{source}\t{units[source]}\n")


def load_cache(build):
    try:
        with open(os.path.join(build, CACHE_NAME)) as f:
            return {h: {tuple(k): n for k, n in entries} for h, entries in json.load(f).items()}
    except (OSError, ValueError):
        return {}


def save_cache(build, cache):
    with open(os.path.join(build, CACHE_NAME), "w") as f:
        json.dump({h: [[list(k), n] for k, n in c.items()] for h, c in cache.items()}, f)


SELF_TEST_UNITS = {
    # Each form of conversion, in the function named after it.
    "src/core/convert.cpp": "int Explicit(double d) { return static_cast<int>(d); }\n"
                            "long CStyle(float f) { return (long)f; }\n"
                            "int Implicit(double d) { int i = 0; i = d; return i; }\n"
                            "int Takes(int i) { return i; }\nint Argument(double d) { return Takes(d); }\n",
    "src/core/numbers.cpp": "int Exempt(double d) { return static_cast<int>(d); }\n",
}


def self_test():
    """Parses a tree that converts by each form, and one that converts in
    core/numbers: each form must be found, in its function, and only there."""
    global ROOT
    with tempfile.TemporaryDirectory() as root:
        ROOT = os.path.realpath(root)
        entries = []
        for path, text in SELF_TEST_UNITS.items():
            os.makedirs(os.path.dirname(os.path.join(ROOT, path)), exist_ok=True)
            with open(os.path.join(ROOT, path), "w") as f:
                f.write(text)
            entries.append({"directory": ROOT, "file": os.path.join(ROOT, path),
                            "command": f"clang++ -std=c++20 -c {os.path.join(ROOT, path)} -o {path}.o"})
        with open(os.path.join(ROOT, "compile_commands.json"), "w") as f:
            json.dump(entries, f)
        found = {}
        for casts in parse_units(ROOT, sorted(SELF_TEST_UNITS), 2).values():
            found.update(casts)
    status = 0
    for fn in ("Explicit", "CStyle", "Implicit", "Argument"):
        hits = [k for k in found if k[0] == "src/core/convert.cpp" and fn in k[1]]
        if not hits:
            print(f"self-test: the {fn} conversion passed the check", file=sys.stderr)
            status = 1
        else:
            print(f"self-test: the {fn} conversion fails the check: {hits[0][2]}")
    if any(k[0] == "src/core/numbers.cpp" for k in found):
        print("self-test: a conversion in core/numbers failed the check", file=sys.stderr)
        status = 1
    return status


def main():
    if "--self-test" in sys.argv[1:]:
        return self_test()
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--build", default="build")
    ap.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    ap.add_argument("--record", action="store_true")
    ap.add_argument("--all", action="store_true")
    opts = ap.parse_args()
    build = os.path.join(ROOT, opts.build)

    units = translation_units(build)
    hashes, memo = unit_hashes(build, units)
    base_units, base_files, base_casts = load_baseline()
    cache = load_cache(build)

    changed = [s for s, (h, _) in sorted(hashes.items()) if opts.all or h is None or base_units.get(s) != h]
    to_parse = [s for s in changed if hashes[s][0] is None or hashes[s][0] not in cache]
    parsed = parse_units(build, to_parse, opts.jobs) if to_parse else {}
    for s, c in parsed.items():
        if hashes[s][0]:
            cache[hashes[s][0]] = c
    results = {s: parsed[s] if s in parsed else cache[hashes[s][0]] for s in changed}

    # A file's conversions as the units read again see them: the most any
    # one unit counts (a header's are seen once per unit that includes it).
    seen = {}
    for casts in results.values():
        for key, n in casts.items():
            seen[key] = max(seen.get(key, 0), n)
    # A file that changed was read again by every unit that includes it, so
    # what they see replaces the baseline's entries; an unchanged file keeps
    # its entries (a unit read again may not instantiate all of a header).
    reread = {p for s in changed for p in hashes[s][1]}
    changed_files = {p for p in reread if base_files.get(p) != file_hash(p, memo)}
    current = {k: n for k, n in base_casts.items() if k[0] not in changed_files}
    for key, n in seen.items():
        current[key] = max(current.get(key, 0), n)

    if opts.record:
        files = dict(base_files)
        for s, (h, deps) in hashes.items():
            for p in deps:
                files[p] = file_hash(p, memo)
        files = {p: h for p, h in files.items() if os.path.exists(os.path.join(ROOT, p))}
        units_now = {s: h for s, (h, _) in hashes.items() if h}
        save_baseline(units_now, files, {k: n for k, n in current.items() if n > 0})
        save_cache(build, cache)
        print(f"check_float_casts: {sum(current.values())} conversions in the baseline "
              f"({len(changed)} units read, {len(to_parse)} parsed)")
        return 0

    save_cache(build, cache)
    new = sorted((k, n - base_casts.get(k, 0)) for k, n in current.items() if n > base_casts.get(k, 0))
    if new:
        print("check_float_casts: floating-to-integer conversions outside core/numbers that the baseline "
              "does not hold:", file=sys.stderr)
        for (path, fn, expr), n in new:
            print(f"  {path}: in {fn}: {expr}" + (f" (x{n})" if n > 1 else ""), file=sys.stderr)
        print("Convert script numbers through core/numbers (src/core/numbers.h); a value that cannot be out "
              "of range goes into the baseline with scripts/check_float_casts.py --record.", file=sys.stderr)
        return 1
    print(f"check_float_casts: no new conversions ({len(changed)} units changed, {len(to_parse)} parsed)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
