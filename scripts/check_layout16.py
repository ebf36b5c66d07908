#!/usr/bin/env python3
"""Fails on code in src/ that decides by itself how a 16-bit pixel format's
words are read for arithmetic: only Layout16OfFormat (src/imaging/kernels.cpp)
maps a format to a Layout16.

A kernel road that picked the layout from the format on its own read the
byte-swapped formats (which a display adapter may set) as plain words and
mixed the wrong bits. The forms looked for:
  - a function that names a Layout16 value and tests a pixel format;
  - a function other than the one that returns a Layout16;
  - a table naming two or more Layout16 values.

Usage:
  scripts/check_layout16.py              the check, as ./test runs it
  scripts/check_layout16.py --self-test  shows each form failing it
"""

import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from check_native_names import functions, probe_findings, run_check, sources  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
THE_ONE = ("src/imaging/kernels.cpp", "Layout16OfFormat")
VALUE = re.compile(r"\bLayout16::\w+")
FORMAT_TEST = re.compile(r"\bkFormat\w+|\b\w*[Ff]ormat\b(?:\s*\(\s*\))?\s*(?:==|!=|<=|>=|<(?!<)|>(?!>))")
RETURNS = re.compile(r"(?:^|[;}\n])\s*(?:(?:static|inline|constexpr)\s+)*Layout16\s+(\w+)\s*\(")
TABLE = re.compile(r"\{[^{}]*\bLayout16::\w+[^{}]*,[^{}]*\bLayout16::\w+[^{}]*\}")


def line_of(text, at):
    return text.count("\n", 0, at) + 1


def check(root):
    findings = []
    for rel, text in sources(root):
        bodies = functions(text)

        def inside_the_one(at):
            around = next((b for b in bodies if b[0] < at < b[1]), None)
            return around is not None and (rel, around[2]) == THE_ONE

        for start, end, name in bodies:
            if (rel, name) == THE_ONE:
                continue
            body = text[start:end]
            value, test = VALUE.search(body), FORMAT_TEST.search(body)
            if value and test:
                findings.append(f"{rel}:{line_of(text, start + value.start())}: {name} maps a pixel format to "
                                f"{value.group(0)} by itself; call Layout16OfFormat")
        for m in RETURNS.finditer(text):
            if m.group(1) != THE_ONE[1] or rel not in ("src/imaging/kernels.h", THE_ONE[0]):
                findings.append(f"{rel}:{line_of(text, m.start(1))}: {m.group(1)} returns a Layout16 of its own; "
                                "call Layout16OfFormat")
        for m in TABLE.finditer(text):
            if not inside_the_one(m.start()):
                findings.append(f"{rel}:{line_of(text, m.start())}: a table of Layout16 values; "
                                "call Layout16OfFormat")
    return findings


PLANTS = {
    "a format test beside a layout value":
        "void Road(int format) { Layout16 l = format >= kFormatRGB565 ? Layout16::RGB565 : Layout16::RGB555; }\n",
    "a function returning its own layout":
        "Layout16 LayoutOf(int f);\n",
    "a table of layouts":
        "const Layout16 kLayouts[] = {Layout16::RGB555, Layout16::RGB555, Layout16::RGB565};\n",
}


def self_test():
    clean = ("void Plain(int format) { Gray16(rows, 1, 1, Layout16OfFormat(format), false); }\n"
             "void Fixed(int format) { Export(format, Widen16(Layout16::RGB565, Pixel16ToRGB565(format, 0))); }\n")
    for form, planted in PLANTS.items():
        found = probe_findings(check, clean, planted)
        if found is None:
            return 1
        if not found:
            print(f"self-test: {form} passed")
            return 1
        print(f"self-test: {form} fails the check: {found[0]}")
    return 0


if __name__ == "__main__":
    sys.exit(run_check(check, self_test, ROOT))
