"""Which test suites run which lines of src/: the mutation sweep's map.

A tree of its own is built with clang's source-based coverage (-O0, no
sanitizer), every suite of every GoogleTest binary CTest runs is run alone
(the player a suite starts writes its counts too), and each suite's counts
become the set of lines of src/ it ran. A mutant then runs only the suites
that run its line; a line no suite runs is a survivor without a run.

The map belongs to one commit: BUILD/coverage-<commit>.json.
"""
import concurrent.futures
import json
import os
import shutil
import subprocess
import tempfile
import time
from pathlib import Path

FLAGS = "-O0 -fprofile-instr-generate -fcoverage-mapping"
# A listing's counts are of no use, and would land in the current folder.
NO_COUNTS = dict(os.environ, LLVM_PROFILE_FILE=os.devnull)
# Seconds of a suite's coverage run above which each of its tests is mapped
# on its own.
LONG = 10


def tool(name):
    """llvm-cov and llvm-profdata of clang's version (Debian names them
    with the version only, unless the llvm package is in)."""
    for candidate in (name, name + "-14"):
        if shutil.which(candidate):
            return candidate
    raise SystemExit(f"{name} is missing: ./test's setup installs it (package llvm)")


def configure(source, build, launch):
    if (build / "build.ninja").exists():
        return
    subprocess.run(["cmake", "-S", str(source), "-B", str(build), "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Debug",
                    "-DCMAKE_C_COMPILER=clang", "-DCMAKE_CXX_COMPILER=clang++", f"-DCMAKE_C_FLAGS_DEBUG={FLAGS}",
                    f"-DCMAKE_CXX_FLAGS_DEBUG={FLAGS}",
                    "-DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld -fprofile-instr-generate", *launch],
                   check=True, stdout=subprocess.DEVNULL)


def test_binaries(build):
    """The GoogleTest binaries CTest runs in BUILD, and those it runs one
    test at a time (a resource lock: the virtual X server's tests)."""
    out = subprocess.run(["ctest", "--show-only=json-v1"], cwd=build, capture_output=True, text=True, check=True)
    names, serial = set(), set()
    for test in json.loads(out.stdout).get("tests", []):
        command = test.get("command") or []
        if len(command) > 1 and any(a.startswith("--gtest_filter=") for a in command[1:]):
            names.add(Path(command[0]).name)
            if any(p.get("name") == "RESOURCE_LOCK" for p in test.get("properties", [])):
                serial.add(Path(command[0]).name)
    return sorted(names), serial


def suites_of(binary):
    """The suite names of a GoogleTest binary, as --gtest_filter takes them."""
    out = subprocess.run([str(binary), "--gtest_list_tests"], capture_output=True, text=True, check=True,
                         env=NO_COUNTS).stdout
    return [line.split()[0][:-1] for line in out.splitlines()
            if line and not line[0].isspace() and line.split()[0].endswith(".")]


def tests_of(binary, suite):
    """The full names of the tests of one suite."""
    out = subprocess.run([str(binary), "--gtest_list_tests", suite_filter([suite])], capture_output=True,
                         text=True, check=True, env=NO_COUNTS).stdout
    return [suite + "." + line.split()[0] for line in out.splitlines() if line.startswith("  ")]


def suite_filter(units):
    """The filter for suites (a name) and single tests (Suite.Test)."""
    return "--gtest_filter=" + ":".join(u if "." in u else u + ".*" for u in units)


def run_suite(binary, suite, profiles, env, timeout):
    """Runs one suite with its counts written under PROFILES; (passed, seconds)."""
    profiles.mkdir(parents=True, exist_ok=True)
    start = time.monotonic()
    with tempfile.TemporaryDirectory(prefix="qbcov") as tmp:
        os.chmod(tmp, 0o755)  # as /tmp is to the tests of temporary files
        run_env = dict(env, TMPDIR=tmp, LLVM_PROFILE_FILE=str(profiles / "%p.profraw"))
        try:
            r = subprocess.run([str(binary), suite_filter([suite]), "--gtest_brief=1"], cwd=tmp, env=run_env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=timeout,
                               start_new_session=True)
            passed = r.returncode == 0
        except subprocess.TimeoutExpired:
            passed = False
    return passed, time.monotonic() - start


def lines_run(build, binary, profiles, source, ran=True):
    """{file of src/: [lines]} the counts under PROFILES ran (the test binary's
    and the player's own); with RAN false, every line that has a count, run
    or not."""
    raws = sorted(str(p) for p in profiles.glob("*.profraw"))
    if not raws:
        return {}
    data = profiles / "merged.profdata"
    # A process killed while it wrote leaves a cut file: the others still count.
    merged = subprocess.run([tool("llvm-profdata"), "merge", "-sparse", "-failure-mode=all", "-o", str(data),
                             *raws], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for raw in raws:
        os.unlink(raw)
    if merged.returncode != 0:
        return {}
    objects = ["-object", str(build / "quenbrookplayer")]
    if Path(binary).name == "test_fuzz":
        # Its tests run the fuzz targets' binaries, whose code the player may
        # not link: their own mappings place their counts.
        for target in sorted((build / "fuzz").glob("fuzz_*")):
            if target.is_file() and os.access(target, os.X_OK):
                objects += ["-object", str(target)]
    out = subprocess.run([tool("llvm-cov"), "export", "-format=lcov", "-skip-functions",
                          "-instr-profile", str(data), str(binary), *objects],
                         capture_output=True, text=True).stdout
    src = str(source / "src") + "/"
    found, current = {}, None
    for line in out.splitlines():
        if line.startswith("SF:"):
            path = os.path.normpath(line[3:])
            current = found.setdefault(os.path.relpath(path, source), set()) if path.startswith(src) else None
        elif current is not None and line.startswith("DA:"):
            number, count = line[3:].split(",")[:2]
            if count != "0" or not ran:
                current.add(int(number))
    return {k: sorted(v) for k, v in found.items() if v}


def make(source, build, jobs, env, launch, done, log=print):
    """The map {"suites": [[binary, suite, seconds, passed]], "lines": {file:
    {line: [suite indices]}}} for the commit checked out in SOURCE. Each
    suite's part is kept in the folder DONE, so that a stopped run goes on
    where it stood."""
    configure(source, build, launch)
    t0 = time.monotonic()
    subprocess.run(["ninja", "-C", str(build), f"-j{max(2, jobs * 2)}"], check=True, stdout=subprocess.DEVNULL)
    log(f"coverage tree built in {time.monotonic() - t0:.0f} s")
    binaries, serial = test_binaries(build)
    work = [(b, s) for b in binaries for s in suites_of(build / "tests" / b)]
    profiles = build / "profiles"
    shutil.rmtree(profiles, ignore_errors=True)

    done.mkdir(parents=True, exist_ok=True)

    def one(index):
        binary, suite = work[index]
        kept = done / f"{binary}-{suite.replace('/', '-')}.json"[-250:]
        try:
            return tuple(json.loads(kept.read_text()))
        except (OSError, ValueError):
            pass  # not run yet, or cut by a stop
        where = profiles / f"{index:05d}"
        passed, seconds = run_suite(build / "tests" / binary, suite, where, env, 1800)
        lines = lines_run(build, build / "tests" / binary, where, source)
        shutil.rmtree(where, ignore_errors=True)
        kept.write_text(json.dumps([passed, seconds, lines]))
        return passed, seconds, lines

    def run_all(indices):
        # The X server's suites share one display: one at a time, beside the rest.
        results = {}
        with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, jobs)) as pool:
            futures = {pool.submit(one, i): i for i in indices if work[i][0] not in serial}
            for i in indices:
                if work[i][0] in serial:
                    results[i] = one(i)
            for future in concurrent.futures.as_completed(futures):
                results[futures[future]] = future.result()
        return results

    t0 = time.monotonic()
    results = run_all(range(len(work)))
    # A long suite (the walks over every command, mostly) runs most lines:
    # each of its tests gets its own part, so that a mutant runs only the
    # tests that reach it.
    split = [i for i in range(len(work)) if results[i][1] > LONG and work[i][0] not in serial]
    whole = [w for i, w in enumerate(work) if i not in split]
    work = whole + [(work[i][0], t) for i in split for t in tests_of(build / "tests" / work[i][0], work[i][1])]
    results = run_all(range(len(work)))
    suites, by_line = [], {}
    for i, (binary, suite) in enumerate(work):
        passed, seconds, lines = results[i]
        suites.append([binary, suite, round(seconds, 2), passed])
        for path, numbers in lines.items():
            per = by_line.setdefault(path, {})
            for n in numbers:
                per.setdefault(str(n), []).append(i)
    log(f"{len(work)} suites and tests of {len(binaries)} binaries run for coverage ({len(split)} suites "
        f"split) in {time.monotonic() - t0:.0f} s; "
        f"{sum(not s[3] for s in suites)} failed there (left out): "
        + ", ".join(f"{s[0]}:{s[1]}" for s in suites if not s[3]))
    return {"suites": suites, "serial": sorted(serial), "lines": by_line}


def counted(source, build, env):
    """{file of src/: [lines]} that have a count at all. A line without one
    (a constant, a table row, a default argument) runs as part of another,
    so no map says which suites run it."""
    binaries, _ = test_binaries(build)
    found = {}
    for binary in binaries:
        with tempfile.TemporaryDirectory(prefix="qbcov") as tmp:
            where = Path(tmp) / "profiles"
            where.mkdir()
            subprocess.run([str(build / "tests" / binary), "--gtest_list_tests"], cwd=tmp,
                           env=dict(env, LLVM_PROFILE_FILE=str(where / "%p.profraw")),
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            for path, numbers in lines_run(build, build / "tests" / binary, where, source, ran=False).items():
                found.setdefault(path, set()).update(numbers)
    return {k: sorted(v) for k, v in found.items()}


def load_or_make(source, base, commit, jobs, env, launch, log=print):
    path = base / f"coverage-{commit}.json"
    found = json.loads(path.read_text()) if path.exists() else None
    if found is None:
        found = make(source, base / "coverage", jobs, env, launch, base / f"coverage-{commit}.d", log)
    if "counted" not in found:
        found["counted"] = counted(source, base / "coverage", env)
        path.write_text(json.dumps(found))
    return found


def suites_for(cover, file, lines, includers):
    """The indices of the (passing) suites that run any of LINES of FILE. A
    line with no count of its own is taken as run by every suite that runs
    any line of its file; a file with no counted line (a header of
    constants), by every suite that runs a line of a file that includes it
    (INCLUDERS: a function of FILE)."""
    counted = set(cover["counted"].get(file, []))
    if lines and any(n in counted for n in lines):
        places = {file: [str(n) for n in lines]}
    elif counted:
        places = {file: None}
    else:
        places = {f: None for f in includers(file)}
    found = set()
    for f, numbers in places.items():
        per = cover["lines"].get(f, {})
        for n in (numbers if numbers is not None else per):
            found.update(per.get(n, []))
    return sorted(i for i in found if cover["suites"][i][3])

