#!/usr/bin/env python3
"""Lists the one-line mutants of the player that no test kills.

Mutants are drawn from every source file under src/ (.cpp, .h, .inc),
weighted by their lines of code and stratified by folder: each folder (a
layer: vm, core, platform, imaging, ...; the libraries live in libs,
objects, media, sound, text, draw, ...) gets a share of the count in
proportion to its lines, and at least two, so that none is left out. Each
mutant changes one line the way real faults do: a comparison or boundary
operator (< and <=, == and !=, && and ||), a number off by one, two
arguments of a call swapped, two dependent assignments swapped, the default
of an optional argument changed, a field of a result table dropped, an axis
or a channel swapped (x and y, width and height, red and blue).

The tree is ./test's sanitizer tree (clang, AddressSanitizer and
UndefinedBehaviorSanitizer at -O1) with QB_WERROR=ON: a mutant the compiler
refuses, a -Werror warning included, counts as refused; a memory error or
undefined behaviour a mutant makes fails the test that meets it. It is
configured and built when missing, with ccache where it is installed (it is
not needed). For each mutant, the file is changed in place, and every test
binary of ./test that reaches the mutated file runs, one after another,
until one fails: a binary reaches a file when it links the file's code (the
strong symbols of the file's object, or of any object that includes the
header) or runs the player that links it. The map is made once per tree from
the objects' and binaries' symbols (BUILD/sweep_reach.json; --remap makes it
anew). The binary of the file's own test folder runs first, then the others
from the quickest; each runs in --jobs shards (one where CTest runs its
tests one at a time), each unmutated once first to time it (a binary that
fails unmutated is left out and named); before them, the suites of those
binaries whose files name the mutated function or a command of the file's
tables run alone, a quicker kill. A mutant none of them fails survives and
is listed.

A developer's tool, not run by ./test. Run it in a checkout of its own (a
git worktree): it edits the sources while it runs. tests/sweep/README.md
says how to draw a seed and what a kill rate counts on.

  tests/sweep/mutation_sweep.py [--build build-sweep] [--jobs 3] [--seed N] [--count 300]
                                [--folders core,libs] [--list] [--out results.jsonl]
                                [--replay results.jsonl] [--minutes 60] [--survivors FILE]

Without --seed a fresh seed is drawn and printed. --replay runs again the
mutants a former run's results list as survivors (after tests were added,
say), and --list only prints the mutants drawn. The sources are restored
after each mutant and when the sweep is stopped; a mutant left in place by
a killed run is restored at the next start (from BUILD/mutation_sweep.orig).
"""
import argparse
import collections
import concurrent.futures
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
SOURCES = (".cpp", ".h", ".inc")
# Every folder gets at least this many mutants, however few its lines.
MIN_SHARE = 2


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
                # A swap to a name that is nowhere near (w for a widget, not
                # a width) only makes a mutant the compiler refuses.
                near = " ".join(x for x in code[max(0, number - 40):number + 40] if x)
                if (kind, pattern, repl) in SWAPS and not re.search(r"\b" + repl + r"\b", near):
                    continue
                # Nor does renaming a name being declared (int32_t w, int32_t h).
                declared = re.search(r"(\w+)[\s*&]+$", c[:m.start()])
                if (kind, pattern, repl) in SWAPS and declared and declared.group(1) not in ("return", "case", "else"):
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


def folder_of(path):
    """The stratum of a file of src/: its top folder (files at the top are
    the player's)."""
    parts = path.relative_to(ROOT / "src").parts
    return parts[0] if len(parts) > 1 else "player"


def strata(only):
    """{folder: [(path, [code line numbers])]} of src/."""
    found = {}
    for path in sorted((ROOT / "src").rglob("*")):
        if path.suffix not in SOURCES or not path.is_file():
            continue
        folder = folder_of(path)
        if only and folder not in only:
            continue
        code = code_lines(path.read_text(errors="replace"))
        lines = [n for n, c in enumerate(code, 1) if c is not None]
        if lines:
            found.setdefault(folder, []).append((path, lines))
    return found


def shares(sizes, count):
    """count apportioned by size (largest remainders), each at least MIN_SHARE."""
    total = sum(sizes.values())
    exact = {k: count * v / total for k, v in sizes.items()}
    got = {k: max(MIN_SHARE, int(x)) for k, x in exact.items()}
    rest = count - sum(got.values())
    for k in sorted(exact, key=lambda k: exact[k] - int(exact[k]), reverse=True)[:max(0, rest)]:
        got[k] += 1
    return got


def draw(count, seed, only):
    """The mutants drawn: per folder its share, each on a line drawn at
    random from the folder's lines of code (so a file is drawn by its
    length), one mutant of the line at random; a line with none is passed."""
    rng = random.Random(seed)
    found = strata(only)
    share = shares({f: sum(len(lines) for _, lines in files) for f, files in found.items()}, count)
    drawn = []
    for folder in sorted(found):
        places = [(path, n) for path, lines in found[folder] for n in lines]
        rng.shuffle(places)
        cache = {}
        taken = 0
        for path, n in places:
            if taken == share[folder]:
                break
            if path not in cache:
                by_line = collections.defaultdict(list)
                text = path.read_text(errors="replace")
                for m in mutants_of(path, range(1, text.count("\n") + 2)):
                    by_line[m["line"]].append(m)
                cache[path] = by_line
            if cache[path][n]:
                m = rng.choice(cache[path][n])
                m["folder"] = folder
                drawn.append(m)
                taken += 1
    # In no folder's order, so that a run stopped early is still a sample
    # of the whole.
    rng.shuffle(drawn)
    return drawn


def sanitizer_env():
    """./test's settings for the sanitizer tree's test runs."""
    return dict(os.environ, SDL_VIDEODRIVER="dummy", SDL_AUDIODRIVER="dummy",
                ASAN_OPTIONS="detect_leaks=1:abort_on_error=0", UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1",
                LSAN_OPTIONS=f"suppressions={ROOT}/scripts/lsan.supp:print_suppressions=0")


def configure(build):
    """./test's sanitizer tree with -Werror; ccache where it is installed."""
    if (build / "build.ninja").exists():
        return
    env = dict(os.environ)
    launch = []
    if shutil.which("ccache"):
        launch = ["-DCMAKE_C_COMPILER_LAUNCHER=ccache", "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"]
    else:  # scripts/setup.sh names it in the environment; it is not there
        for name in ("CMAKE_C_COMPILER_LAUNCHER", "CMAKE_CXX_COMPILER_LAUNCHER"):
            env.pop(name, None)
    flags = "-O1 -gline-tables-only"
    subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build), "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Debug",
                    "-DCMAKE_C_COMPILER=clang", "-DCMAKE_CXX_COMPILER=clang++", f"-DCMAKE_C_FLAGS_DEBUG={flags}",
                    f"-DCMAKE_CXX_FLAGS_DEBUG={flags}", "-DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld", "-DQB_SANITIZE=ON",
                    "-DQB_WERROR=ON", *launch], check=True, stdout=subprocess.DEVNULL, env=env)


def ninja(build, targets, jobs):
    r = subprocess.run(["nice", "ninja", "-C", str(build), f"-j{jobs}", *targets],
                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    return r.returncode == 0, r.stdout[-3000:]


def test_binaries(build):
    """The GoogleTest binaries ./test runs in this tree (by CTest's list),
    and those whose tests CTest runs one at a time (a resource lock: the
    virtual X server's tests)."""
    out = subprocess.run(["ctest", "--show-only=json-v1"], cwd=build, capture_output=True, text=True, check=True)
    names, serial = set(), set()
    for test in json.loads(out.stdout).get("tests", []):
        command = test.get("command") or []
        if len(command) > 1 and any(a.startswith("--gtest_filter=") for a in command[1:]):
            names.add(Path(command[0]).name)
            if any(p.get("name") == "RESOURCE_LOCK" for p in test.get("properties", [])):
                serial.add(Path(command[0]).name)
    return sorted(names), serial


def strong_symbols(path):
    r = subprocess.run(["nm", "--defined-only", str(path)], capture_output=True, text=True)
    return {f[2] for f in (line.split() for line in r.stdout.splitlines()) if len(f) == 3 and f[1] in "TDRB"}


def reach_map(build, binaries):
    """{source path: [binaries that link its code or run the player that
    does]}, for every unit of src/ and every header those units include."""
    entries = json.loads((build / "compile_commands.json").read_text())
    objects = {}
    for e in entries:
        source = Path(os.path.normpath(Path(e["directory"]) / e["file"]))
        if ROOT / "src" in source.parents:
            args = e["command"].split()
            if "-o" in args:
                objects[str(source.relative_to(ROOT))] = str(Path(e["directory"]) / args[args.index("-o") + 1])
    with concurrent.futures.ThreadPoolExecutor(max_workers=4) as pool:
        unit_symbols = dict(zip(objects, pool.map(strong_symbols, objects.values())))
        linked = dict(zip(binaries + ["quenbrookplayer"],
                          pool.map(strong_symbols, [build / "tests" / b for b in binaries] + [build / "quenbrookplayer"])))
    runs_player = {b for b in binaries
                   if any("QB_PLAYER_PATH" in p.read_text(errors="replace")
                          for p in (ROOT / "tests" / b[len("test_"):]).rglob("*") if p.suffix in (".cpp", ".h"))}
    reach = {}
    for unit, symbols in unit_symbols.items():
        def links(binary):
            return not symbols or bool(symbols & linked[binary])  # no strong symbol: assume it does
        player = links("quenbrookplayer")
        reach[unit] = [b for b in binaries if links(b) or (player and b in runs_player)]
    # A header reaches what the units that include it reach.
    deps = subprocess.run(["ninja", "-C", str(build), "-t", "deps"], capture_output=True, text=True).stdout
    by_object = {v: k for k, v in objects.items()}
    unit = None
    for line in deps.splitlines():
        if line and not line.startswith(" "):
            target = str(Path(os.path.normpath(build / line.split(":")[0])))
            unit = by_object.get(target)
        elif unit and line.strip():
            header = Path(os.path.normpath(build / line.strip()))
            if ROOT / "src" in header.parents and header.suffix in (".h", ".inc"):
                key = str(header.relative_to(ROOT))
                reach[key] = sorted(set(reach.get(key, [])) | set(reach[unit]))
    return reach


TEST_SUITE = re.compile(r'^\s*TEST(?:_F|_P)?\(\s*(\w+)\s*,', re.M)
TABLE_ROW = re.compile(r'\{\s*"([A-Za-z_][A-Za-z0-9_]*)"\s*,\s*([A-Za-z_][A-Za-z0-9_:]*)\s*[,}]')
_test_texts = {}


def enclosing_names(mutant):
    """The names a test would call the mutated code by: the function around
    the line, and the commands whose handlers the file's tables name."""
    raw = (ROOT / mutant["file"]).read_text(errors="replace").split("\n")
    names = set()
    for line in reversed(raw[:mutant["line"]]):
        if line[:1].isalpha() and "(" in line and not line.startswith(("namespace", "struct", "class", "enum")):
            words = re.findall(r"[A-Za-z_]\w*", line.split("(")[0])
            if words and len(words[-1]) >= 6:
                names.add(words[-1])
            break
    names.update(name for name, _ in TABLE_ROW.findall("\n".join(raw)))
    return names


def suites_naming(binary, names):
    """The suites of BINARY's test folder whose files name any of NAMES."""
    folder = ROOT / "tests" / binary[len("test_"):]
    if binary not in _test_texts:
        _test_texts[binary] = [p.read_text(errors="replace") for p in sorted(folder.rglob("*.cpp"))]
    if not names:
        return []
    pattern = re.compile(r"\b(" + "|".join(map(re.escape, sorted(names))) + r")\b")
    return sorted({s for text in _test_texts[binary] if pattern.search(text) for s in TEST_SUITE.findall(text)})


def run_binary(build, binary, jobs, timeout, suites=None):
    """(passed, seconds) of one binary run in JOBS shards at once; a run
    past the time-out has not passed."""
    start = time.monotonic()
    with tempfile.TemporaryDirectory(prefix="qbmutant") as tmp:
        os.chmod(tmp, 0o755)
        procs = []
        for shard in range(jobs):
            env = dict(sanitizer_env(), TMPDIR=tmp, GTEST_TOTAL_SHARDS=str(jobs), GTEST_SHARD_INDEX=str(shard))
            command = [str(build / "tests" / binary), "--gtest_brief=1"]
            if suites:
                command.append("--gtest_filter=" + ":".join(f"{s}.*:*/{s}.*" for s in suites))
            procs.append(subprocess.Popen(command, env=env, cwd=tmp,
                                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                          start_new_session=True))
        passed = True
        for p in procs:
            try:
                passed &= p.wait(timeout=max(1.0, timeout - (time.monotonic() - start))) == 0
            except subprocess.TimeoutExpired:
                passed = False
                for q in procs:
                    try:
                        os.killpg(q.pid, signal.SIGKILL)
                    except ProcessLookupError:
                        pass
                for q in procs:
                    q.wait()
                break
    return passed, time.monotonic() - start


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default="build-sweep")
    ap.add_argument("--jobs", type=int, default=3)
    ap.add_argument("--seed", type=int, help="default: a fresh one, printed")
    ap.add_argument("--count", type=int, default=300)
    ap.add_argument("--folders", help="folders of src/ to draw from (default: all)")
    ap.add_argument("--list", action="store_true", help="print the mutants drawn and stop")
    ap.add_argument("--replay", help="results of a former run: run its survivors again")
    ap.add_argument("--minutes", type=float, default=0, help="stop starting new mutants after this long")
    ap.add_argument("--timeout", type=int, default=1800, help="seconds a plain run of one binary may take")
    ap.add_argument("--remap", action="store_true", help="make the reach map anew")
    ap.add_argument("--out", default="mutation_sweep.jsonl", help="results, one JSON line a mutant")
    ap.add_argument("--survivors", help="also write the survivors' list here")
    args = ap.parse_args()
    jobs = min(args.jobs, 3)  # the machine is shared
    seed = args.seed if args.seed is not None else int.from_bytes(os.urandom(4), "big")
    build = (ROOT / args.build).resolve()
    if args.replay:
        old = [json.loads(line) for line in Path(args.replay).read_text().splitlines() if line.strip()]
        mutants = [m for m in old if m.get("verdict") == "survived"]
    else:
        mutants = draw(args.count, seed, set(args.folders.split(",")) if args.folders else None)
    if args.list:
        for m in mutants:
            print(f"{m['folder']:12} {m['file']}:{m['line']} {m['kind']}: {m['old'].strip()} -> {m['new'].strip()}")
        print(f"# {len(mutants)} mutants, seed {seed}")
        return 0
    print(f"# seed {seed}, {len(mutants)} mutants", file=sys.stderr, flush=True)
    if build.exists():
        restore_left_over(build)
    configure(build)
    ok, log = ninja(build, [], jobs)
    if not ok:
        print(f"the unmutated tree does not build:\n{log}", file=sys.stderr)
        return 1
    binaries, serial = test_binaries(build)
    map_file = build / "sweep_reach.json"
    if args.remap or not map_file.exists():
        map_file.write_text(json.dumps(reach_map(build, binaries), indent=0, sort_keys=True))
    reach = json.loads(map_file.read_text())
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
            own = "test_" + m.get("folder", Path(m["file"]).parts[1])
            # A file no binary of the tree reaches (another system's, say).
            reached = reach.get(m["file"], [])
            missing = [b for b in reached if b not in baseline]
            if missing:
                ok, log = ninja(build, missing, jobs)
                if not ok:
                    print(f"the unmutated tree does not build:\n{log}", file=sys.stderr)
                    return 1
                for b in missing:  # each binary's plain time, and that it passes at all
                    passed, seconds = run_binary(build, b, 1 if b in serial else jobs, args.timeout)
                    baseline[b] = seconds if passed else None
                    if not passed:
                        print(f"{b} fails unmutated: left out", file=sys.stderr, flush=True)
            runs = sorted((b for b in reached if baseline.get(b)), key=lambda b: (b != own, baseline[b]))
            t0 = time.monotonic()
            verdict, by = ("survived" if runs else "unreached"), None
            names = enclosing_names(m)
            with Mutation(build, m):
                # First the suites that name the mutated function or the
                # file's commands (a quick kill), then every binary whole.
                quick = [(b, suites_naming(b, names)) for b in runs]
                for b, suites in [q for q in quick if q[1]] + [(b, None) for b in runs]:
                    built, log = ninja(build, [b], jobs)
                    if not built:
                        verdict = "refused"  # the compiler (or -Werror) refused it
                        break
                    passed, _ = run_binary(build, b, 1 if b in serial else jobs,
                                           min(args.timeout, max(60.0, 4 * baseline[b])), suites)
                    if not passed:
                        verdict, by = "killed", b + (" (suites naming it)" if suites else "")
                        break
            m.update(verdict=verdict, by=by, seconds=round(time.monotonic() - t0, 1), ran=runs,
                     left_out=[b for b in reached if not baseline.get(b)], seed=m.get("seed", seed))
            results.append(m)
            out.write(json.dumps(m) + "\n")
            out.flush()
            print(f"[{i + 1}/{len(mutants)}] {m['file']}:{m['line']} {m['kind']}: {verdict}"
                  + (f" by {by}" if by else "") + f" ({m['seconds']:.0f} s)", file=sys.stderr, flush=True)
    except KeyboardInterrupt:
        print("stopped", file=sys.stderr)
    finally:
        out.close()
        ninja(build, [], jobs)  # the restored sources
    report(results, seed, time.monotonic() - start, args.survivors)
    return 0


def report(results, seed, seconds, survivors_file):
    ran = [m for m in results if m["verdict"] in ("killed", "survived")]
    killed = sum(m["verdict"] == "killed" for m in ran)
    lines = [f"# seed {seed}, {len(results)} mutants in {seconds:.0f} s: {killed} of {len(ran)} killed "
             f"({100.0 * killed / max(1, len(ran)):.0f} %), "
             f"{sum(m['verdict'] == 'refused' for m in results)} refused by the compiler, "
             f"{sum(m['verdict'] == 'unreached' for m in results)} in files no test binary links"]
    per = collections.defaultdict(lambda: [0, 0])
    for m in ran:
        per[m.get("folder", "?")][0 if m["verdict"] == "killed" else 1] += 1
    lines += [f"#   {folder}: {k} killed, {s} survived" for folder, (k, s) in sorted(per.items())]
    lines.append("# survivors:")
    lines += [f"{m.get('folder', '?')} {m['file']}:{m['line']} {m['kind']}: {m['old'].strip()} -> {m['new'].strip()}"
              for m in ran if m["verdict"] == "survived"]
    print("\n".join(lines))
    if survivors_file:
        Path(survivors_file).write_text("\n".join(lines) + "\n")


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


if __name__ == "__main__":
    sys.exit(main())
