#!/usr/bin/env python3
"""Lists the one-line mutants of the command libraries that no test kills.

Each mutant changes one line of a file that holds a library's command
handlers (a handler or a function beside it that handlers call), the kinds
of fault real bugs are: a comparison or boundary operator (< and <=, == and
!=, && and ||), a number off by one, two arguments of a call swapped, two
adjacent assignments swapped, the default of an optional argument changed, a
field of a result table dropped, an axis or a channel swapped (x and y,
width and height, red and blue). Mutants are drawn at random from a seed,
the same number from every library, so that each gets its share. For each,
the file is changed in place, the tree rebuilt incrementally (only that unit
compiles; ccache gives back the original when it is restored), and the tests
that call the mutated line's commands run: the suites of the file's test
folder and of the end-to-end tests that name them, and the all-commands walk
for them. A mutant none of them fails survives and is listed. A developer's
tool, not run by ./test: a mutant costs a compile and a few links and test
runs, some 20 s to a minute at three jobs.

  tests/sweep/mutation_sweep.py [--build build] [--jobs 3] [--seed 137] [--per-library 15]
                                [--libs string,math] [--list] [--out results.jsonl]
                                [--replay results.jsonl] [--minutes 60]

--replay runs again the mutants a former run's results list as survivors
(after tests were added, say), and --list only prints the mutants drawn.
The tree is configured and built when missing (optimised, g++, like ./run's,
as the command-skip sweep's is). The sources are restored after each mutant
and when the sweep is stopped; a mutant left in place by a killed run is
restored at the next start (from BUILD/mutation_sweep.orig).
"""
import argparse
import json
import os
import random
import re
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import skip_sweep  # noqa: E402  (the command tables, the suites that name a command, the test runs)

ROOT = skip_sweep.ROOT
REGISTER = re.compile(r'RegisterCommandTable\(\s*(\w+)\s*,\s*"(\w+)"')
TABLE = re.compile(r'ScriptCommand\s+(\w+)\[\]\s*=\s*\{(.*?)\n\};', re.S)
HANDLER_DEF = re.compile(r'^int\s+(cmd\w+)\s*\(\s*ScriptState\s*\*\s*\w*\s*\)\s*\{')
WALK_FILTER = "Part/CommandWalkTest.*"


def libraries():
    """{library: {handler: [command names]}} from the command tables."""
    tables, names = {}, {}
    for path in sorted((ROOT / "src").rglob("*.cpp")):
        text = path.read_text(errors="replace")
        for var, lib in REGISTER.findall(text):
            names[var] = lib
        for var, block in TABLE.findall(text):
            if var != "kLibraryList":
                tables[var] = skip_sweep.TABLE_ROW.findall(block)
    libs = {}
    for var, lib in names.items():
        for command, handler in tables.get(var, []):
            libs.setdefault(lib, {}).setdefault(handler.split("::")[-1], []).append(command)
    return libs


def handler_files():
    """{handler: (path, first line)} of every handler definition in src/."""
    found = {}
    for path in sorted((ROOT / "src").rglob("*.cpp")):
        for number, line in enumerate(path.read_text(errors="replace").split("\n"), 1):
            m = HANDLER_DEF.match(line)
            if m:
                found.setdefault(m.group(1), (path, number))
    return found


# One-line mutations: (kind, pattern, replacement). Patterns stay off
# templates and pointers by asking for the spaces clang-format writes
# around binary operators.
SWAPS = [
    ("axis", r"\bx\b", "y"), ("axis", r"\by\b", "x"),
    ("axis", r"\bwidth\b", "height"), ("axis", r"\bheight\b", "width"),
    ("axis", r"\bw\b", "h"), ("axis", r"\bh\b", "w"),
    ("channel", r"\bred\b", "blue"), ("channel", r"\bblue\b", "red"),
    ("channel", r"\bleft\b", "right"), ("channel", r"\bright\b", "left"),
]
OPERATORS = [
    ("boundary", r" < ", " <= "), ("boundary", r" <= ", " < "),
    ("boundary", r" > ", " >= "), ("boundary", r" >= ", " > "),
    ("comparison", r" == ", " != "), ("comparison", r" != ", " == "),
    ("comparison", r" && ", " || "), ("comparison", r" \|\| ", " && "),
    ("off by one", r" \+ 1\b", " - 1"), ("off by one", r" - 1\b", " + 1"),
    ("off by one", r"(?<=[(\[, ])1(?=[,)\];])", "2"), ("off by one", r"(?<=[(\[, ])0(?=[,)\];])", "1"),
    ("flag", r"\btrue\b", "false"), ("flag", r"\bfalse\b", "true"),
]
DEFAULT = re.compile(r'\b(VmOptNumber|GetOptIntArg|OptIntArg|GetFlagArg|VmOptString)\(\s*L\s*,\s*(\d+)\s*,\s*([^(),]+)\)')
CALL2 = re.compile(r'\b(\w+)\(([A-Za-z_][\w.>-]*), ([A-Za-z_][\w.>-]*)\)')
FIELD = re.compile(r'^\s*SetTableField\w*\(\s*L\s*,\s*"[^"]+"')
ASSIGN = re.compile(r'^\s*[\w.>\[\]-]+ = [^=].*;\s*$')


def code_lines(text):
    """The file's lines, each None where it is no code to mutate (comments,
    preprocessor lines, blank lines, strings blanked)."""
    out = []
    in_block = False
    for line in text.split("\n"):
        s = line
        if in_block:
            if "*/" not in s:
                out.append(None)
                continue
            s = " " * (s.index("*/") + 2) + s[s.index("*/") + 2:]
            in_block = False
        s = re.sub(r'"(?:\\.|[^"\\])*"', lambda m: '"' + "_" * (len(m.group(0)) - 2) + '"', s)
        s = re.sub(r"'(?:\\.|[^'\\])'", "' '", s)
        if "/*" in s and "*/" not in s[s.index("/*"):]:
            in_block = True
            s = s[: s.index("/*")]
        s = re.sub(r"/\*.*?\*/", "", s)
        if "//" in s:
            s = s[: s.index("//")]
        stripped = s.strip()
        out.append(None if not stripped or stripped.startswith("#") or stripped in "{}" else s)
    return out


def mutants_of(path, lines):
    """Every mutant of one file: dicts with the line, its new text and kind."""
    text = path.read_text(errors="replace")
    raw = text.split("\n")
    code = code_lines(text)
    found = []

    def add(number, kind, new):
        if new != raw[number - 1]:
            found.append({"file": str(path.relative_to(ROOT)), "line": number, "kind": kind,
                          "old": raw[number - 1], "new": new})

    for number in lines:
        c = code[number - 1]
        if c is None:
            continue
        line = raw[number - 1]
        for kind, pattern, repl in OPERATORS + SWAPS:
            # Each place of a match in the code (strings and comments blanked);
            # a name being declared or assigned keeps its name.
            for m in re.finditer(pattern, c):
                if (kind, pattern, repl) in SWAPS and re.match(r"\s*=[^=]", c[m.end():]):
                    continue
                add(number, kind, line[: m.start()] + re.sub(pattern, repl, m.group(0)) + line[m.end():])
        for m in DEFAULT.finditer(c):
            value = m.group(3).strip()
            alt = {"true": "false", "false": "true", "0": "1", "1": "0"}.get(value)
            if alt is None and re.fullmatch(r"-?\d+(\.\d+)?", value):
                alt = str(int(float(value)) // 2)
            if alt is None:
                continue
            start, end = m.span(3)
            add(number, "default", line[:start] + line[start:end].replace(value, alt) + line[end:])
        for m in CALL2.finditer(c):
            # The script state comes first in every call it is in: a swap
            # would not compile.
            if m.group(2) != m.group(3) and "L" not in (m.group(2), m.group(3)) and \
                    m.group(1) not in ("if", "while", "for", "switch", "return"):
                add(number, "swapped arguments",
                    line[: m.start(2)] + m.group(3) + ", " + m.group(2) + line[m.end(3):])
        if FIELD.match(c):
            add(number, "dropped field", "")
        # Two statements swapped where the second reads what the first
        # assigns (independent ones swap to the same program).
        assigned = ASSIGN.match(c) and re.match(r"\s*([\w.>\[\]-]+) = ", c)
        if number < len(raw) and code[number] is not None and assigned and code[number].rstrip().endswith(";") \
                and re.search(r"(?<![\w.>])" + re.escape(assigned.group(1)) + r"\b", code[number]):
            found.append({"file": str(path.relative_to(ROOT)), "line": number, "kind": "swapped assignments",
                          "old": raw[number - 1] + "\n" + raw[number], "new": raw[number] + "\n" + raw[number - 1]})
    return found


def function_spans(path):
    """(first, last, handler or None) of each top-level function body."""
    raw = path.read_text(errors="replace").split("\n")
    spans, start, name = [], None, None
    for number, line in enumerate(raw, 1):
        if start is None and re.match(r"^[A-Za-z].*\)\s*(const\s*)?\{\s*$", line) and not line.startswith(
                ("namespace", "struct", "class", "enum", "extern")):
            start = number
            m = HANDLER_DEF.match(line)
            name = m.group(1) if m else None
        elif start is not None and line == "}":
            spans.append((start, number, name))
            start = None
    return spans


def draw(libs, handlers, per_library, seed, only):
    """The mutants drawn: per library, per_library of them, on distinct lines."""
    rng = random.Random(seed)
    drawn = []
    for lib in sorted(libs):
        if only and lib not in only:
            continue
        commands_of = libs[lib]
        files = sorted({handlers[h][0] for h in commands_of if h in handlers})
        pool = []
        for path in files:
            spans = function_spans(path)
            file_commands = sorted({c for h, cs in commands_of.items()
                                    if h in handlers and handlers[h][0] == path for c in cs})
            for first, last, handler in spans:
                if handler and handler not in commands_of:
                    continue  # another library's handler in the same file
                commands = commands_of[handler] if handler else file_commands
                file_handlers = [h for h in commands_of if h in handlers and handlers[h][0] == path]
                for m in mutants_of(path, range(first + 1, last)):
                    m.update(library=lib, commands=commands, handlers=[handler] if handler else file_handlers)
                    pool.append(m)
        rng.shuffle(pool)
        # The kinds take turns, so that the rarer ones (a default, a dropped
        # field) are drawn beside the many comparisons.
        kinds = {}
        for m in pool:
            kinds.setdefault(m["kind"], []).append(m)
        order = sorted(kinds)
        rng.shuffle(order)
        lines = set()
        while len(lines) < per_library and any(kinds.values()):
            for kind in order:
                while kinds[kind] and (kinds[kind][0]["file"], kinds[kind][0]["line"]) in lines:
                    kinds[kind].pop(0)
                if kinds[kind] and len(lines) < per_library:
                    m = kinds[kind].pop(0)
                    lines.add((m["file"], m["line"]))
                    drawn.append(m)
    return drawn


class Mutation:
    """The mutant in place for the length of a with block; the original is
    kept beside the build until it is back."""

    def __init__(self, build, mutant):
        self.path = ROOT / mutant["file"]
        self.mutant = mutant
        self.keep = build / "mutation_sweep.orig"

    def __enter__(self):
        self.original = self.path.read_text()
        lines = self.original.split("\n")
        n = self.mutant["line"] - 1
        old = self.mutant["old"].split("\n")
        if lines[n:n + len(old)] != old:
            raise RuntimeError(f"{self.mutant['file']}:{self.mutant['line']} is no longer {old!r}")
        new = self.mutant["new"].split("\n") if self.mutant["new"] else []
        self.keep.write_text(json.dumps({"file": str(self.path), "text": self.original}))
        self.path.write_text("\n".join(lines[:n] + new + lines[n + len(old):]))
        return self

    def __exit__(self, *exc):
        self.path.write_text(self.original)
        self.keep.unlink()


def restore_left_over(build):
    keep = build / "mutation_sweep.orig"
    if keep.exists():
        saved = json.loads(keep.read_text())
        Path(saved["file"]).write_text(saved["text"])
        keep.unlink()
        print(f"restored {saved['file']} from a stopped run", file=sys.stderr)


def plan(mutant, build):
    """[(binary, gtest filter, extra environment)] the mutant's tests run."""
    folder = Path(mutant["file"]).parts[1]
    runs = []
    names = mutant["commands"]
    folders = [folder] if (ROOT / "tests" / folder).is_dir() else []
    # Other folders that call the handlers directly (a command tested beside
    # the code under it), as the command-skip sweep finds them.
    folders += [d for d, words in skip_sweep.folder_words().items()
                if d not in (folder, "e2e", "player") and any(h in words for h in mutant["handlers"])]
    for f in folders:
        suites = sorted({s for n in names for s in skip_sweep.suites_naming(f, n)} |
                        {s for h in mutant["handlers"] for s in skip_sweep.suites_naming(f, "", h, by_name=False)})
        if suites:
            runs.append((f"test_{f}", ":".join(f"*{s}.*" for s in suites), {}))
    e2e = sorted({s for n in names for s in skip_sweep.suites_naming("e2e", n)})
    if e2e:
        runs.append(("test_e2e", ":".join(f"*{s}.*" for s in e2e), {}))
    runs.append(("test_player", WALK_FILTER, {"QB_WALK_ONLY": ",".join(names)}))
    return runs


def build_targets(build, targets, jobs):
    r = subprocess.run(["nice", "ninja", "-C", str(build), f"-j{jobs}", *targets],
                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    return r.returncode == 0, r.stdout[-3000:]


def run_tests(build, runs, baseline, timeout):
    """"killed" at the first run that fails, else "survived"."""
    for binary, filt, extra in runs:
        with tempfile.TemporaryDirectory(prefix="qbmutant") as tmp:
            os.chmod(tmp, 0o755)
            env = dict(os.environ, SDL_VIDEODRIVER="dummy", SDL_AUDIODRIVER="dummy", TMPDIR=tmp, **extra)
            limit = min(timeout, max(30.0, 4 * baseline.get((binary, filt, str(extra)), timeout)))
            ok, _ = skip_sweep.passes(build / "tests" / binary, filt, env, limit)
        if not ok:
            return "killed", binary
    return "survived", None


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default="build-sweep")
    ap.add_argument("--jobs", type=int, default=3)
    ap.add_argument("--seed", type=int, default=137)
    ap.add_argument("--per-library", type=int, default=15)
    ap.add_argument("--libs", help="libraries to draw from (default: all)")
    ap.add_argument("--list", action="store_true", help="print the mutants drawn and stop")
    ap.add_argument("--replay", help="results of a former run: run its survivors again")
    ap.add_argument("--minutes", type=float, default=0, help="stop drawing new mutants after this long")
    ap.add_argument("--timeout", type=int, default=600, help="seconds a plain run of one binary may take")
    ap.add_argument("--out", default="mutation_sweep.jsonl", help="results, one JSON line a mutant")
    args = ap.parse_args()
    jobs = min(args.jobs, 3)  # the machine is shared
    build = (ROOT / args.build).resolve()
    if args.replay:
        old = [json.loads(line) for line in Path(args.replay).read_text().splitlines() if line.strip()]
        mutants = [m for m in old if m.get("verdict") == "survived"]
    else:
        only = set(args.libs.split(",")) if args.libs else None
        mutants = draw(libraries(), handler_files(), args.per_library, args.seed, only)
    if args.list:
        for m in mutants:
            print(f"{m['library']:15} {m['file']}:{m['line']} {m['kind']}: {m['old'].strip()} -> {m['new'].strip()}")
        print(f"# {len(mutants)} mutants, seed {args.seed}")
        return 0
    if build.exists():
        restore_left_over(build)
    if not (build / "build.ninja").exists():
        subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build), "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                        "-DCMAKE_C_COMPILER=gcc", "-DCMAKE_CXX_COMPILER=g++", "-DCMAKE_C_COMPILER_LAUNCHER=ccache",
                        "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"], check=True, stdout=subprocess.DEVNULL)
    # A stop (Ctrl-C, a time-out's TERM) unwinds through the with block,
    # which puts the original back.
    signal.signal(signal.SIGTERM, lambda *_: (_ for _ in ()).throw(KeyboardInterrupt()))
    start = time.monotonic()
    baseline = {}
    results = []
    out = open(args.out, "a" if args.replay else "w")
    try:
        for i, m in enumerate(mutants):
            if args.minutes and time.monotonic() - start > args.minutes * 60:
                break
            runs = plan(m, build)
            targets = sorted({b for b, _, _ in runs} | {"quenbrookplayer"})
            ok, log = build_targets(build, targets, jobs)
            if not ok:
                print(f"the unmutated tree does not build:\n{log}", file=sys.stderr)
                return 1
            for run in runs:  # each run's plain time, and that it passes at all
                key = (run[0], run[1], str(run[2]))
                if key not in baseline:
                    with tempfile.TemporaryDirectory(prefix="qbmutant") as tmp:
                        os.chmod(tmp, 0o755)
                        env = dict(os.environ, SDL_VIDEODRIVER="dummy", SDL_AUDIODRIVER="dummy", TMPDIR=tmp, **run[2])
                        passed, seconds = skip_sweep.passes(build / "tests" / run[0], run[1], env, args.timeout)
                    baseline[key] = seconds if passed else None
            failing = [r for r in runs if baseline[(r[0], r[1], str(r[2]))] is None]
            runs = [r for r in runs if r not in failing]
            t0 = time.monotonic()
            with Mutation(build, m):
                built, log = build_targets(build, targets, jobs)
                if not built:
                    verdict, by = "stillborn", None  # the compiler refused it
                else:
                    verdict, by = run_tests(build, runs, {k: v for k, v in baseline.items() if v}, args.timeout)
            m.update(verdict=verdict, by=by, seconds=round(time.monotonic() - t0, 1),
                     failing_before=[r[0] for r in failing])
            results.append(m)
            out.write(json.dumps(m) + "\n")
            out.flush()
            print(f"[{i + 1}/{len(mutants)}] {m['library']} {m['file']}:{m['line']} {m['kind']}: {verdict}"
                  + (f" by {by}" if by else ""), file=sys.stderr, flush=True)
    except KeyboardInterrupt:
        print("stopped", file=sys.stderr)
    finally:
        out.close()
        # The restored sources rebuild from ccache.
        build_targets(build, ["quenbrookplayer"], jobs)
    ran = [m for m in results if m["verdict"] in ("killed", "survived")]
    killed = sum(m["verdict"] == "killed" for m in ran)
    print(f"# seed {args.seed}, {len(results)} mutants in {time.monotonic() - start:.0f} s: "
          f"{killed} of {len(ran)} killed ({100.0 * killed / max(1, len(ran)):.0f} %), "
          f"{sum(m['verdict'] == 'stillborn' for m in results)} refused by the compiler")
    per = {}
    for m in ran:
        per.setdefault(m["library"], [0, 0])[0 if m["verdict"] == "killed" else 1] += 1
    for lib, (k, s) in sorted(per.items()):
        print(f"#   {lib}: {k} killed, {s} survived")
    print("# survivors:")
    for m in ran:
        if m["verdict"] == "survived":
            print(f"{m['library']} {m['file']}:{m['line']} {m['kind']}: {m['old'].strip()} -> {m['new'].strip()}"
                  f"  [{', '.join(m['commands'][:4])}]")
    return 0


if __name__ == "__main__":
    sys.exit(main())
