#!/usr/bin/env python3
"""Lists the commands no test would miss.

For each command, the player is built with a switch that makes that one
command end with no error and no results once its argument count is
accepted (QB_SKIP_COMMAND, honoured only in a tree configured with
-DQB_TEST_SWITCHES=ON). The tests of its library's binary and the end-to-end
tests that call it then run, first without the skip, then with it; a command
whose skip leaves them green is listed. A developer's tool, not run by
./test: all commands take some 15 minutes at three jobs.

  tests/sweep/skip_sweep.py [--build build-sweep] [--jobs 3] [--libs sound,objects]
                            [--commands PlaySample,FlipSprite] [--out list.txt]

The library tests call most handlers directly, never registering them: there
the handler is named by its place in the test binary's symbols
(QB_SKIP_HANDLER, read by nm); the tests of other folders that call the
handler directly (a command tested beside the code under it) run too. The
tree is configured and built when it is missing (optimised, g++, like
./run's). Commands whose skip was never reached
(no test of those binaries calls them, or their handler checks no argument
count) are listed apart. The all-commands walk notices a skipped command
that gives results; ask it for one command with
  QB_SKIP_COMMAND=Name QB_WALK_ONLY=Name build-sweep/tests/test_player
  (filtered to Part/CommandWalkTest.HostileArgumentsEndInResultsOrScriptErrors/*).
"""
import argparse
import concurrent.futures
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
TABLE_ROW = re.compile(r'\{\s*"([A-Za-z_][A-Za-z0-9_]*)"\s*,\s*([A-Za-z_][A-Za-z0-9_:]*)\s*[,}]')
TEST_SUITE = re.compile(r'^\s*TEST(?:_F|_P)?\(\s*(\w+)\s*,', re.M)


def commands():
    """(name, handler, src folder) of every row of every command table."""
    found = {}
    for path in sorted((ROOT / "src").rglob("*.cpp")):
        text = path.read_text(errors="replace")
        if "ScriptCommand" not in text:
            continue
        folder = path.relative_to(ROOT / "src").parts[0]
        # The player's table of libraries: its rows open libraries.
        for block in re.findall(r'ScriptCommand\s+(?!kLibraryList)\w+\[\]\s*=\s*\{(.*?)\n\};', text, re.S):
            for name, handler in TABLE_ROW.findall(block):
                found.setdefault(name, (name, handler, folder))
    return list(found.values())


_texts = {}


def test_files(folder):
    """The texts of the .cpp files of tests/FOLDER, read once."""
    if folder not in _texts:
        _texts[folder] = [p.read_text(errors="replace") for p in sorted((ROOT / "tests" / folder).glob("*.cpp"))]
    return _texts[folder]


def suites_naming(folder, name, handler=None, by_name=True):
    """The test suites of tests/FOLDER whose files call the command: a script
    line Name(...), the name in quotes in any case (a call by name, an
    applet's GETGLOBAL), or the handler itself."""
    forms = [r'\b' + re.escape(name) + r'\s*\(', r'"(?i:' + re.escape(name) + r')\\?"'] if by_name else []
    if handler:
        forms.append(r'\b' + re.escape(handler) + r'\b')
    pattern = re.compile('|'.join(forms))
    suites = set()
    for text in test_files(folder):
        if pattern.search(text):
            suites.update(TEST_SUITE.findall(text))
    return sorted(suites)


def handler_folders(cmd):
    """The test folders other than the command's own (and the end-to-end
    tests) whose files call its handler directly: a library's commands may
    be tested where the code they stand on is (the plugin commands in
    tests/plugins)."""
    _, handler, folder = cmd
    handler = handler.split("::")[-1]
    return [d for d, words in folder_words().items() if d not in (folder, "e2e") and handler in words]


_words = {}


def folder_words():
    """The identifiers of each test folder's files."""
    if not _words:
        for d in sorted(p for p in (ROOT / "tests").iterdir() if p.is_dir()):
            _words[d.name] = {w for text in test_files(d.name) for w in re.findall(r'\w+', text)}
    return _words


def ensure_tree(build, folders, jobs):
    if not (build / "build.ninja").exists():
        # ccache where it is installed; the README's setup does not install it.
        env = dict(os.environ)
        launch = ["-DCMAKE_C_COMPILER_LAUNCHER=ccache", "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"]
        if not shutil.which("ccache"):
            launch = []
            env.pop("CMAKE_C_COMPILER_LAUNCHER", None)
            env.pop("CMAKE_CXX_COMPILER_LAUNCHER", None)
        subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build), "-G", "Ninja",
                        "-DCMAKE_BUILD_TYPE=Release", "-DCMAKE_C_COMPILER=gcc", "-DCMAKE_CXX_COMPILER=g++",
                        *launch, "-DQB_TEST_SWITCHES=ON"], check=True, stdout=subprocess.DEVNULL, env=env)
    targets = sorted({f"test_{f}" for f in folders} | {"test_e2e", "quenbrookplayer"})
    subprocess.run(["ninja", "-C", str(build), f"-j{jobs}", *targets], check=True, stdout=subprocess.DEVNULL)


_symbols = {}


def handler_distance(binary, handler):
    """The handler's address less NoteSkippableCommand's in the binary, or None."""
    if binary not in _symbols:
        table = {}
        out = subprocess.run(["nm", "--defined-only", "-C", str(binary)], capture_output=True, text=True).stdout
        for line in out.splitlines():
            parts = line.split(" ", 2)
            if len(parts) == 3 and parts[1] in "Tt":
                name = parts[2].replace("(anonymous namespace)::", "")
                table.setdefault(name.split("(")[0], int(parts[0], 16))
        _symbols[binary] = table
    table = _symbols[binary]
    if handler not in table or "NoteSkippableCommand" not in table:
        return None
    return table[handler] - table["NoteSkippableCommand"]


def passes(binary, filt, env, timeout):
    """(passed, seconds); a run past the time-out has not passed."""
    start = time.monotonic()
    try:
        r = subprocess.run([str(binary), f"--gtest_filter={filt}", "--gtest_brief=1"], env=env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=timeout)
    except subprocess.TimeoutExpired:
        return False, timeout
    return r.returncode == 0, time.monotonic() - start


def run_binary(binary, suites, env, timeout):
    """"passed" when the tests passed with the skip, "noticed" when they
    failed with it only, "failing" when they fail without it too. A skip
    makes some tests wait for what never comes: the skipped run may take a
    few times the plain run's time (at least 20 s), and past that the skip
    was noticed."""
    if not suites:
        return "passed"
    filt = ":".join(f"*{s}.*" for s in suites)
    plain = {k: v for k, v in env.items() if not k.startswith("QB_SKIP_")}
    ok, seconds = passes(binary, filt, plain, timeout)
    if not ok:
        return "failing"
    ok, _ = passes(binary, filt, env, min(timeout, max(20.0, 4 * seconds)))
    return "passed" if ok else "noticed"


def sweep_one(build, cmd, timeout):
    name, handler, folder = cmd
    handler = handler.split("::")[-1]
    with tempfile.TemporaryDirectory(prefix="qbsweep") as tmp:
        # Some tests read their files as another user, as /tmp allows.
        os.chmod(tmp, 0o755)
        mark = Path(tmp) / "skipped"
        env = dict(os.environ, QB_SKIP_COMMAND=name, QB_SKIP_MARK=str(mark),
                   SDL_VIDEODRIVER="dummy", SDL_AUDIODRIVER="dummy", TMPDIR=tmp)
        verdict = "passed"
        for tests in [folder, *handler_folders(cmd)]:
            lib = build / "tests" / f"test_{tests}"
            if verdict != "passed" or not lib.exists():
                continue
            # The library's tests call most handlers directly, unregistered.
            distance = handler_distance(lib, handler)
            lib_env = dict(env, QB_SKIP_HANDLER=f"{lib.name}:{distance}") if distance is not None else env
            suites = suites_naming(tests, name, handler, by_name=tests == folder)
            verdict = run_binary(lib, suites, lib_env, timeout)
        if verdict == "passed":
            verdict = run_binary(build / "tests" / "test_e2e", suites_naming("e2e", name), env, timeout)
        return name, folder, verdict, mark.exists()


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default="build-sweep")
    ap.add_argument("--jobs", type=int, default=4)
    ap.add_argument("--libs", help="source folders to sweep (default: all)")
    ap.add_argument("--commands", help="command names to sweep (default: all)")
    ap.add_argument("--timeout", type=int, default=600, help="seconds a plain run of the tests may take")
    ap.add_argument("--out", help="file for the list of unnoticed commands")
    args = ap.parse_args()
    build = (ROOT / args.build).resolve()
    cmds = commands()
    if args.libs:
        keep = set(args.libs.split(","))
        cmds = [c for c in cmds if c[2] in keep]
    if args.commands:
        # In the order given: the slow ones may go last.
        order = {n.lower(): i for i, n in enumerate(args.commands.split(","))}
        cmds = sorted((c for c in cmds if c[0].lower() in order), key=lambda c: order[c[0].lower()])
    folders = {f for c in cmds for f in [c[2], *handler_folders(c)]}
    ensure_tree(build, {f for f in folders if (ROOT / "tests" / f).is_dir()}, min(args.jobs, 3))
    start = time.monotonic()
    unnoticed, unreached, failing = [], [], []
    with concurrent.futures.ThreadPoolExecutor(max_workers=min(args.jobs, 4)) as pool:
        runs = [pool.submit(sweep_one, build, c, args.timeout) for c in cmds]
        for run in concurrent.futures.as_completed(runs):
            name, folder, verdict, reached = run.result()
            if verdict == "passed":
                verdict = "unnoticed" if reached else "not reached"
            {"unnoticed": unnoticed, "not reached": unreached, "failing": failing}.get(verdict, []).append(
                f"{folder} {name}")
            print(f"{name}: {verdict}", file=sys.stderr, flush=True)
    for found in (unnoticed, unreached, failing):
        found.sort()
    lines = [f"# {len(cmds)} commands swept in {time.monotonic() - start:.0f} s",
             f"# skipped and no test failed: {len(unnoticed)}", *unnoticed,
             f"# never skipped (no test reached them through their argument check): {len(unreached)}",
             *unreached,
             f"# tests that fail without the skip too (no verdict): {len(failing)}", *failing]
    text = "\n".join(lines) + "\n"
    if args.out:
        Path(args.out).write_text(text)
    sys.stdout.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
