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

The sweep works on the commit checked out (HEAD), in worktrees of its own
under BUILD (--build, default build-sweep): one a job, so that --jobs
mutants are tried at once, each in its own tree of ./test's sanitizer
build (clang, AddressSanitizer and UndefinedBehaviorSanitizer at -O1) with
QB_WERROR=ON. A mutant the compiler refuses, a -Werror warning included,
counts as refused; a memory error or undefined behaviour a mutant makes
fails the test that meets it; a test that hangs past eight times its
plain run kills the mutant.

Which tests a mutant runs comes from a coverage map made once a commit
(tests/sweep/coverage_map.py): every suite of every GoogleTest binary
./test runs, run alone in a tree built with clang's source coverage, gives
the lines of src/ it runs (the player it starts included). A mutant runs
the suites that run its line, the quickest binary first, each binary
once with its suites and --gtest_fail_fast, until one fails. A line no
suite's counts show (one run only in a child that dies of a signal writes
none) runs the suites that run the rest of its file; a mutant in a file no
suite runs survives without a run once the compiler has taken it. The trees are configured and built when missing, with ccache where it
is installed (it is not needed; llvm-cov and llvm-profdata are, from the
llvm package ./test's setup installs).

A developer's tool, not run by ./test. It leaves the checkout it is run
from as it is. tests/sweep/README.md says how to draw a seed and what a
kill rate counts on.

  tests/sweep/mutation_sweep.py [--build build-sweep] [--jobs 3] [--seed N] [--count 300]
                                [--folders core,libs] [--list] [--out results.jsonl]
                                [--replay results.jsonl] [--minutes 60] [--survivors FILE]

Without --seed a fresh seed is drawn and printed. --replay runs again the
mutants a former run's results list as survivors (after tests were added,
say), and --list only prints the mutants drawn. Ctrl-C or a TERM stops the
sweep once the mutants in hand are tried; a mutant a killed run left in a
worktree is undone when the sweep next starts.
"""
import argparse
import collections
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import coverage_map  # noqa: E402

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


def mutants_of(root, path, lines):
    """Every mutant of one file: dicts with the line, its new text and kind."""
    text = path.read_text(errors="replace")
    raw = text.split("\n")
    code = code_lines(text)
    found = []

    def add(number, kind, new):
        if new != raw[number - 1]:
            found.append({"file": str(path.relative_to(root)), "line": number, "kind": kind,
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
            found.append({"file": str(path.relative_to(root)), "line": number, "kind": "swapped assignments",
                          "old": raw[number - 1] + "\n" + raw[number], "new": raw[number] + "\n" + raw[number - 1]})
    return found


def folder_of(root, path):
    """The stratum of a file of src/: its top folder (files at the top are
    the player's)."""
    parts = path.relative_to(root / "src").parts
    return parts[0] if len(parts) > 1 else "player"


def strata(root, only):
    """{folder: [(path, [code line numbers])]} of src/."""
    found = {}
    for path in sorted((root / "src").rglob("*")):
        if path.suffix not in SOURCES or not path.is_file():
            continue
        folder = folder_of(root, path)
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


def draw(count, seed, only, root):
    """The mutants drawn: per folder its share, each on a line drawn at
    random from the folder's lines of code (so a file is drawn by its
    length), one mutant of the line at random; a line with none is passed."""
    rng = random.Random(seed)
    found = strata(root, only)
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
                for m in mutants_of(root, path, range(1, text.count("\n") + 2)):
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


def launcher(base):
    """CMake's compiler launcher: ccache where it is installed, with paths
    made relative to BASE so that the sweep's trees share its cache."""
    for name in ("CMAKE_C_COMPILER_LAUNCHER", "CMAKE_CXX_COMPILER_LAUNCHER"):
        os.environ.pop(name, None)  # scripts/setup.sh may name one that is not there
    if not shutil.which("ccache"):
        return []
    os.environ.update(CCACHE_BASEDIR=str(base), CCACHE_NOHASHDIR="1")
    return ["-DCMAKE_C_COMPILER_LAUNCHER=ccache", "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"]


def configure(source, build, launch):
    """./test's sanitizer tree with -Werror. Precompiled headers are off:
    a tree's own header blob makes every unit a cache miss in the others."""
    if (build / "build.ninja").exists():
        return
    flags = "-O1 -gline-tables-only"
    subprocess.run(["cmake", "-S", str(source), "-B", str(build), "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Debug",
                    "-DCMAKE_C_COMPILER=clang", "-DCMAKE_CXX_COMPILER=clang++", f"-DCMAKE_C_FLAGS_DEBUG={flags}",
                    f"-DCMAKE_CXX_FLAGS_DEBUG={flags}", "-DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld", "-DQB_SANITIZE=ON",
                    "-DQB_WERROR=ON", "-DCMAKE_DISABLE_PRECOMPILE_HEADERS=ON", *launch],
                   check=True, stdout=subprocess.DEVNULL)


def ninja(build, targets, jobs):
    r = subprocess.run(["nice", "ninja", "-C", str(build), f"-j{jobs}", *targets],
                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    return r.returncode == 0, r.stdout[-3000:]


def tree(base, k, commit):
    """Worktree K of the sweep, at COMMIT with no change left in it."""
    path = base / f"tree-{k}"
    if not path.exists():
        subprocess.run(["git", "-C", str(ROOT), "worktree", "add", "--detach", str(path), commit],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["git", "-C", str(path), "checkout", "--detach", "--force", commit],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["git", "-C", str(path), "reset", "--hard", "--quiet"], check=True)
    return path


def objects_of(build, source, file):
    """The object targets of the units that compile FILE (itself, or the
    units that include it)."""
    entries = json.loads((build / "compile_commands.json").read_text())
    by_source = {}
    for e in entries:
        args = e["command"].split()
        if "-o" in args:
            by_source[os.path.normpath(Path(e["directory"]) / e["file"])] = args[args.index("-o") + 1]
    wanted = os.path.normpath(source / file)
    if wanted in by_source:
        return [by_source[wanted]]
    deps = subprocess.run(["ninja", "-C", str(build), "-t", "deps"], capture_output=True, text=True).stdout
    found, target = set(), None
    for line in deps.splitlines():
        if line and not line.startswith(" "):
            target = line.split(":")[0]
        elif target and os.path.normpath(build / line.strip()) == wanted:
            found.add(target)
    return sorted(found)


def run_suites(build, binary, suites, timeout, shards):
    """True when the suites pass in BINARY, run in SHARDS processes at once;
    the first to fail stops the others. A run past the time-out has not
    passed (a mutant that hangs is killed)."""
    with tempfile.TemporaryDirectory(prefix="qbmutant") as tmp:
        os.chmod(tmp, 0o755)
        procs = []
        for shard in range(shards):
            env = dict(sanitizer_env(), TMPDIR=tmp, GTEST_TOTAL_SHARDS=str(shards), GTEST_SHARD_INDEX=str(shard))
            procs.append(subprocess.Popen([str(build / "tests" / binary), coverage_map.suite_filter(suites),
                                           "--gtest_brief=1", "--gtest_fail_fast"],
                                          env=env, cwd=tmp, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                          start_new_session=True))
        end = time.monotonic() + timeout
        passed = True
        while passed and any(p.poll() is None for p in procs):
            passed = all(p.returncode in (None, 0) for p in procs) and time.monotonic() < end
            time.sleep(0.2)
        passed = passed and all(p.returncode == 0 for p in procs)
        for p in procs:
            if p.poll() is None:
                os.killpg(p.pid, signal.SIGKILL)
                p.wait()
        return passed


def includers(root, header):
    """The files of src/ that include HEADER (by its path under src/, or by
    its name from its own folder)."""
    target = Path(header).relative_to("src")
    found = []
    for path in (root / "src").rglob("*"):
        if path.suffix not in SOURCES or not path.is_file():
            continue
        for name in re.findall(r'^\s*#\s*include\s*"([^"]+)"', path.read_text(errors="replace"), re.M):
            if Path(name) == target or path.parent / name == root / header:
                found.append(str(path.relative_to(root)))
                break
    return found


def try_mutant(path, build, m, cover, serial_lock, jobs):
    """The verdict of one mutant in the worktree PATH: (verdict, by)."""
    lines = [m["line"], m["line"] + 1] if m["kind"] == "swapped assignments" else [m["line"]]
    chosen = coverage_map.suites_for(cover, m["file"], lines, lambda f: includers(path, f))
    by_binary = collections.defaultdict(list)
    for i in chosen:
        by_binary[cover["suites"][i][0]].append(i)
    unrun = not by_binary
    if unrun:
        # No suite's counts show the line. A line run only in a child that
        # ends by a signal or _exit writes no counts: the suites that run
        # the rest of its file get their chance.
        for i in coverage_map.suites_for(cover, m["file"], [], lambda f: includers(path, f)):
            by_binary[cover["suites"][i][0]].append(i)
    with Mutation(path, m):
        if not by_binary:
            # No suite runs the file: only whether the compiler takes it.
            built, _ = ninja(build, objects_of(build, path, m["file"]), jobs)
            return ("survived", "no test runs the line") if built else ("refused", None)
        built, _ = ninja(build, sorted(by_binary) + ["quenbrookplayer"], jobs)
        if not built:
            return "refused", None  # the compiler (or -Werror) refused it
        # The quickest binary's suites first.
        for binary in sorted(by_binary, key=lambda b: sum(cover["suites"][i][2] for i in by_binary[b])):
            indices = by_binary[binary]
            seconds = sum(cover["suites"][i][2] for i in indices)
            suites = [cover["suites"][i][1] for i in indices]
            timeout = max(120.0, 8 * seconds)
            if binary in cover["serial"]:
                with serial_lock:
                    passed = run_suites(build, binary, suites, timeout, 1)
            else:
                # Long runs (a survivor's, mostly) in two halves at once.
                passed = run_suites(build, binary, suites, timeout / 2 if seconds > 20 else timeout,
                                    2 if seconds > 20 else 1)
            if not passed:
                return "killed", binary + ": " + ",".join(suites[:6]) + (" ..." if len(suites) > 6 else "") + \
                    (" (the suites of the line's file)" if unrun else "")
    return "survived", "no test runs the line" if unrun else None


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default="build-sweep", help="the sweep's folder: its worktrees and trees")
    ap.add_argument("--jobs", type=int, default=3, help="mutants at once, each in a worktree of its own")
    ap.add_argument("--seed", type=int, help="default: a fresh one, printed")
    ap.add_argument("--count", type=int, default=300)
    ap.add_argument("--folders", help="folders of src/ to draw from (default: all)")
    ap.add_argument("--list", action="store_true", help="print the mutants drawn and stop")
    ap.add_argument("--replay", help="results of a former run: run its survivors again")
    ap.add_argument("--minutes", type=float, default=0, help="stop starting new mutants after this long")
    ap.add_argument("--out", default="mutation_sweep.jsonl", help="results, one JSON line a mutant")
    ap.add_argument("--resume", action="store_true", help="go on with the run whose results --out holds")
    ap.add_argument("--survivors", help="also write the survivors' list here")
    args = ap.parse_args()
    seed = args.seed if args.seed is not None else int.from_bytes(os.urandom(4), "big")
    base = (ROOT / args.build).resolve()
    base.mkdir(parents=True, exist_ok=True)
    commit = subprocess.run(["git", "-C", str(ROOT), "rev-parse", "HEAD"], capture_output=True, text=True,
                            check=True).stdout.strip()
    before = []
    if args.resume and Path(args.out).exists():
        before = [json.loads(line) for line in Path(args.out).read_text().splitlines() if line.strip()]
        commit = before[0]["commit"] if before else commit  # the run goes on on its own commit
    start = time.monotonic()
    trees = [tree(base, k, commit) for k in range(1, max(1, args.jobs) + 1)]
    if args.replay:
        old = [json.loads(line) for line in Path(args.replay).read_text().splitlines() if line.strip()]
        mutants = [m for m in old if m.get("verdict") == "survived"]
    else:
        mutants = draw(args.count, seed, set(args.folders.split(",")) if args.folders else None, trees[0])
    if args.list:
        for m in mutants:
            print(f"{m['folder']:12} {m['file']}:{m['line']} {m['kind']}: {m['old'].strip()} -> {m['new'].strip()}")
        print(f"# {len(mutants)} mutants, seed {seed}")
        return 0

    def log(text):
        print(f"[{time.monotonic() - start:6.0f} s] {text}", file=sys.stderr, flush=True)

    log(f"seed {seed}, {len(mutants)} mutants, commit {commit[:10]}, {len(trees)} trees")
    launch = launcher(base)
    plain = {k: v for k, v in sanitizer_env().items() if not k.endswith("SAN_OPTIONS")}
    cover = coverage_map.load_or_make(trees[0], base, commit, args.jobs, plain, launch, log)
    log("coverage map ready")
    for path in trees:
        configure(path, path / "build-asan", launch)
        ok, text = ninja(path / "build-asan", [], args.jobs * 2)
        if not ok:
            print(f"the unmutated tree does not build:\n{text}", file=sys.stderr)
            return 1
        log(f"{path.name} built")
    results = list(before)
    total = len(mutants)
    if before:
        tried = {(m["file"], m["line"], m["new"]) for m in before}
        mutants = [m for m in mutants if (m["file"], m["line"], m["new"]) not in tried]
        log(f"{len(before)} tried before, {len(mutants)} to go")
    queue = collections.deque(enumerate(mutants))
    lock, serial_lock = threading.Lock(), threading.Lock()
    out = open(args.out, "a" if args.replay or args.resume else "w")
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())

    def worker(path):
        # Each mutant's build shares the cores with the others' test runs.
        jobs = max(2, (os.cpu_count() or 2) // len(trees))
        while not stop.is_set():
            with lock:
                if not queue or (args.minutes and time.monotonic() - start > args.minutes * 60):
                    return
                i, m = queue.popleft()
            t0 = time.monotonic()
            try:
                verdict, by = try_mutant(path, path / "build-asan", m, cover, serial_lock, jobs)
            except RuntimeError as e:  # a replayed mutant whose line has changed since
                verdict, by = "stale", str(e)
            m.update(verdict=verdict, by=by, seconds=round(time.monotonic() - t0, 1), seed=m.get("seed", seed),
                     commit=commit)
            with lock:
                results.append(m)
                out.write(json.dumps(m) + "\n")
                out.flush()
                log(f"[{len(results)}/{total}] {m['file']}:{m['line']} {m['kind']}: {verdict}"
                    + (f" by {by}" if by else "") + f" ({m['seconds']:.0f} s)")

    threads = [threading.Thread(target=worker, args=(p,)) for p in trees]
    for t in threads:
        t.start()
    try:
        for t in threads:
            while t.is_alive():
                t.join(1)
    except KeyboardInterrupt:
        stop.set()
        print("stopping after the mutants in hand", file=sys.stderr)
        for t in threads:
            t.join()
    out.close()
    report(results, seed, time.monotonic() - start, len(trees), args.survivors)
    return 0


def report(results, seed, seconds, jobs, survivors_file):
    ran = [m for m in results if m["verdict"] in ("killed", "survived")]
    killed = sum(m["verdict"] == "killed" for m in ran)
    unrun = sum(m.get("by") == "no test runs the line" for m in ran)
    lines = [f"# seed {seed}, {len(results)} mutants in {seconds:.0f} s at {jobs} jobs: {killed} of {len(ran)} "
             f"killed ({100.0 * killed / max(1, len(ran)):.0f} %), "
             f"{sum(m['verdict'] == 'refused' for m in results)} refused by the compiler; "
             f"{unrun} of the survivors on lines no test runs"]
    per = collections.defaultdict(lambda: [0, 0])
    for m in ran:
        per[m.get("folder", "?")][0 if m["verdict"] == "killed" else 1] += 1
    lines += [f"#   {folder}: {k} killed, {s} survived" for folder, (k, s) in sorted(per.items())]
    lines.append("# survivors:")
    lines += [f"{m.get('folder', '?')} {m['file']}:{m['line']} {m['kind']}: {m['old'].strip()} -> {m['new'].strip()}"
              + ("  [no test runs the line]" if m.get("by") else "")
              for m in ran if m["verdict"] == "survived"]
    print("\n".join(lines))
    if survivors_file:
        Path(survivors_file).write_text("\n".join(lines) + "\n")


class Mutation:
    """The mutant in place in a worktree of the sweep for the length of a
    with block (a stopped sweep's is undone when the tree is next made)."""

    def __init__(self, tree, mutant):
        self.path = tree / mutant["file"]
        self.mutant = mutant

    def __enter__(self):
        self.original = self.path.read_text()
        lines = self.original.split("\n")
        n = self.mutant["line"] - 1
        old = self.mutant["old"].split("\n")
        if lines[n:n + len(old)] != old:
            raise RuntimeError(f"{self.mutant['file']}:{self.mutant['line']} is no longer {old!r}")
        new = self.mutant["new"].split("\n") if self.mutant["new"] else []
        self.path.write_text("\n".join(lines[:n] + new + lines[n + len(old):]))
        return self

    def __exit__(self, *exc):
        self.path.write_text(self.original)


if __name__ == "__main__":
    sys.exit(main())
