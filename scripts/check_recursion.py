#!/usr/bin/env python3
"""Finds the functions in src/ that call themselves, directly or through
others, and fails on a cycle that the committed baseline
(scripts/recursion.baseline) does not hold.

A call that recurses once per level of something a file or a script shapes
(a folder tree, nested tables, menus, a path, an expression) runs out of
stack at some depth and ends the player with a signal, not an error. Walks
over such things go by a list of their own (src/README.md, "Recursion");
the cycles still in the tree are listed in the baseline, each with the
bound that keeps its depth small and the error past it (a fixed format,
a depth counter, the VM's C-stack limit) or the reason its depth is the
program's own.

The graph is read from the source text: each function body (named by its
last name part; overloads and same-named members of one file are one
node) and the names it calls. A call goes to the functions of that name in
its own file, else to those of that name in every file. The text cannot see
calls through pointers, std::function or virtual dispatch: those that
recurse are named in the baseline by hand (EXTRA below), and the VM's own
(the interpreter re-entered through the command layer) has its C-stack
bound. Same-named functions of different classes may show a cycle that is
none: the baseline says so.

Each entry is keyed by the cycle's members (file:function, sorted), never
by line numbers; an entry that matches no cycle fails too, so the baseline
never vouches for a cycle that changed.

Usage:
  scripts/check_recursion.py              the check, as ./test runs it
  scripts/check_recursion.py --list       every cycle found, with its entry
  scripts/check_recursion.py --self-test  shows each kind of cycle failing it
"""

import argparse
import collections
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from check_native_names import CONTAINER, head_name, strip as strip_literals  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BASELINE = os.path.join(ROOT, "scripts", "recursion.baseline")

CALL = re.compile(r"\b(?P<name>[A-Za-z_]\w*)\s*\(")
MEMBER = re.compile(r"(\.|->)\s*$")
NOT_CALLS = {
    "if", "for", "while", "switch", "catch", "return", "sizeof", "alignof", "decltype", "static_cast",
    "reinterpret_cast", "const_cast", "dynamic_cast", "noexcept", "defined", "assert", "static_assert",
    "alignas", "throw", "typeid", "new", "delete", "operator",
}


DIRECTIVE = re.compile(r"^[ \t]*#(?:[^\n]*\\\n)*[^\n]*", re.M)


def strip(text):
    """Comments, strings, characters and preprocessor lines (a macro's
    body is no function) blanked; lines kept."""
    return DIRECTIVE.sub(lambda m: re.sub(r"[^\n]", " ", m.group(0)), strip_literals(text))


def without_template(header):
    """The header past a leading template parameter list."""
    m = re.match(r"\s*template\s*<", header)
    if not m:
        return header
    depth = 1
    for k in range(m.end(), len(header)):
        if header[k] == "<":
            depth += 1
        elif header[k] == ">":
            depth -= 1
            if depth == 0:
                return without_template(header[k + 1 :])
    return header


def functions(text):
    """(start, end, name, local) of every function body in stripped text, a
    class's members too; lambdas and blocks belong to the function around
    them. local: only its own file can call it (an unnamed namespace's, or
    static outside a class)."""
    found, stack, last = [], [], 0
    for i, c in enumerate(text):
        if c == ";":
            last = i + 1
        elif c == "{":
            inside = any(kind[0] == "function" for kind in stack)
            enclosing_local = any(kind[0] == "other" and kind[1] for kind in stack)
            in_class = any(kind[0] == "other" and kind[2] for kind in stack)
            header = without_template(text[last:i])
            if inside:
                stack.append(("block",))
            elif CONTAINER.match(header) and "(" not in header:
                anonymous = re.match(r"\s*namespace\s*$", header) is not None
                is_class = re.match(r"\s*(struct|class|union)\b", header) is not None
                stack.append(("other", enclosing_local or anonymous, in_class or is_class))
            elif "(" in header and ")" in header and not header.rstrip().endswith("="):
                name = head_name(header)
                local = enclosing_local or (re.match(r"\s*(inline\s+)?static\b", header) is not None and not in_class)
                if name and name not in NOT_CALLS and not name.isupper():
                    stack.append(("function", i, name, local))
                else:
                    stack.append(("other", enclosing_local, in_class))
            else:
                stack.append(("other", enclosing_local, in_class))
            last = i + 1
        elif c == "}":
            if stack:
                top = stack.pop()
                if top[0] == "function":
                    found.append((top[1], i, top[2], top[3]))
            last = i + 1
    return found


def graph(sources):
    """Nodes (file, name) and their edges from the sources {path: text}."""
    defined = collections.defaultdict(set)  # name -> files
    shared = collections.defaultdict(set)  # name -> files where others may call it
    calls = collections.defaultdict(set)  # node -> names called
    for path, raw in sources.items():
        text = strip(raw)
        for start, end, name, local in functions(text):
            node = (path, name)
            defined[name].add(path)
            if not local:
                shared[name].add(path)
            for m in CALL.finditer(text, start, end):
                callee = m.group("name")
                if callee in NOT_CALLS:
                    continue
                # x.Name() inside Name is another object's member of that
                # name, not this function.
                if callee == name and MEMBER.search(text, max(start, m.start() - 8), m.start()):
                    continue
                calls[node].add(callee)
    edges = {}
    for node, names in calls.items():
        targets = set()
        for callee in names:
            if node[0] in defined.get(callee, ()):
                targets.add((node[0], callee))
            else:
                targets.update((f, callee) for f in shared.get(callee, ()))
        edges[node] = targets
    return edges


def cycles(edges):
    """The strongly connected parts that recurse (several nodes, or one that
    calls itself), each as a sorted tuple of "file:function"; Tarjan's walk
    with a list of its own."""
    index, low, on, stack, out = {}, {}, set(), [], []
    counter = 0
    for root in sorted(edges):
        if root in index:
            continue
        work = [(root, iter(sorted(edges.get(root, ()))))]
        index[root] = low[root] = counter
        counter += 1
        stack.append(root)
        on.add(root)
        while work:
            node, children = work[-1]
            advanced = False
            for child in children:
                if child not in index:
                    index[child] = low[child] = counter
                    counter += 1
                    stack.append(child)
                    on.add(child)
                    work.append((child, iter(sorted(edges.get(child, ())))))
                    advanced = True
                    break
                if child in on:
                    low[node] = min(low[node], index[child])
            if advanced:
                continue
            work.pop()
            if work:
                parent = work[-1][0]
                low[parent] = min(low[parent], low[node])
            if low[node] == index[node]:
                part = []
                while True:
                    member = stack.pop()
                    on.discard(member)
                    part.append(member)
                    if member == node:
                        break
                if len(part) > 1 or node in edges.get(node, ()):
                    out.append(tuple(sorted(f"{p}:{n}" for p, n in part)))
    return sorted(out)


def read_sources(root):
    sources = {}
    for base, dirs, files in os.walk(os.path.join(root, "src")):
        dirs.sort()
        for f in sorted(files):
            if f.endswith((".cpp", ".h", ".c")):
                path = os.path.join(base, f)
                with open(path, encoding="utf-8", errors="replace") as handle:
                    sources[os.path.relpath(path, root).replace(os.sep, "/")] = handle.read()
    return sources


def read_baseline(path=BASELINE):
    """{members: (bound, reason)}; members as the sorted tuple."""
    entries = {}
    with open(path, encoding="utf-8") as handle:
        for raw in handle:
            line = raw.rstrip("\n")
            if not line.strip() or line.startswith("#"):
                continue
            parts = line.split("\t")
            if len(parts) != 3 or not parts[1].strip() or not parts[2].strip():
                entries[("malformed", line)] = ("", "")
                continue
            entries[tuple(sorted(parts[0].split()))] = (parts[1], parts[2])
    return entries


def judge(found, baseline):
    problems = []
    new = [c for c in found if c not in baseline]
    stale = [c for c in baseline if c not in found]
    if new:
        problems.append("Functions that call themselves, directly or through others, not in")
        problems.append("scripts/recursion.baseline: walk by a list of your own (src/README.md,")
        problems.append("\"Recursion\"), or list the cycle with the bound that keeps it shallow:")
        problems.extend("  " + " ".join(c) for c in new)
    if stale:
        problems.append("Baseline entries that match no cycle (or are malformed): drop or fix them:")
        problems.extend("  " + " ".join(c) for c in stale)
    return problems


SELF_TEST = {
    "itself": ("src/a.cpp", "int Walk(Node* n) {\n    return n ? Walk(n->next) + 1 : 0;\n}\n"),
    "through another": (
        "src/b.cpp",
        "int Value(Reader& r);\nint Table(Reader& r) {\n    return Value(r);\n}\n"
        "int Value(Reader& r) {\n    return r.tag ? Table(r) : 0;\n}\n",
    ),
    "across files": ("src/c.cpp", "void Outer() {\n    Inner();\n}\n"),
}
SELF_TEST_OTHER_FILE = ("src/d.cpp", "void Inner() {\n    Outer();\n}\n")
SELF_TEST_PASSES = (
    "src/e.cpp",
    "struct S {\n    int Size() const { return inner->Size() + 1; }\n};\n"
    "int Count(const V& v) {\n    return v.size();\n}\n",
)


def self_test():
    failures = []
    for kind, (path, text) in SELF_TEST.items():
        sources = {path: text}
        if kind == "across files":
            sources[SELF_TEST_OTHER_FILE[0]] = SELF_TEST_OTHER_FILE[1]
        found = cycles(graph(sources))
        if not found or not judge(found, {}):
            failures.append(f"not caught: a function that calls {kind}")
        elif judge(found, {c: ("bound", "why") for c in found}):
            failures.append(f"listed, yet failed: a function that calls {kind}")
    if cycles(graph({SELF_TEST_PASSES[0]: SELF_TEST_PASSES[1]})):
        failures.append("caught, though nothing recurses: a member of another object of the same name")
    if not judge([], {("src/x.cpp:Gone",): ("bound", "why")}):
        failures.append("a baseline entry that matches no cycle passed")
    for f in failures:
        print("self-test: " + f, file=sys.stderr)
    return 1 if failures else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--list", action="store_true", help="print every cycle found")
    parser.add_argument("--self-test", action="store_true", help="check the check")
    args = parser.parse_args()
    if args.self_test:
        return self_test()
    found = cycles(graph(read_sources(ROOT)))
    baseline = read_baseline()
    if args.list:
        for c in found:
            bound, reason = baseline.get(c, ("NEW", "give the bound"))
            print(f"{' '.join(c)}\t{bound}\t{reason}")
        return 0
    problems = judge(found, baseline)
    for line in problems:
        print(line, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
