#!/usr/bin/env python3
"""The library's text helpers against Python's string methods: replace/all
against str.replace, split against str.split, rejoin against str.join.

Each program builds the same text in memory (a log line repeated to a few MB),
then does one of the three jobs and prints a length that checks it. The text
is built the same way in a run that does nothing more, and that time is taken
off, so the ratios compare the jobs alone. A benchmark, not a test: it always
exits 0.

Usage: text_helpers.py PATH-TO-ZUV [LINES] [RUNS]   (a Release build)
"""
import os
import subprocess
import sys
import tempfile
import time

ZUV = sys.argv[1]
LINES = int(sys.argv[2]) if len(sys.argv) > 2 else 50_000
RUNS = int(sys.argv[3]) if len(sys.argv) > 3 else 3
LINE = "2026-12-10 12:00:01 INFO user=alice action=login status=ok bytes=1234"
TEXT = (LINE + "\n") * LINES
PIECES = TEXT.split(" ")

ZUV_BUILD = f'line: "{LINE}^/"\ntext: append/dup copy "" line {LINES}\n'
PY_BUILD = f'text = "{LINE}\\n" * {LINES}\n'

JOBS = [
    ("replace/all", 'print length? replace/all text "=" "::"\n',
     'print(len(text.replace("=", "::")))\n', len(TEXT.replace("=", "::"))),
    ("split", 'print length? split text " "\n',
     'print(len(text.split(" ")))\n', len(PIECES)),
    ("rejoin", 'pieces: split text " "\nprint length? rejoin pieces\n',
     'pieces = text.split(" ")\nprint(len("".join(pieces)))\n', len("".join(PIECES))),
]


def best_time(command, expect):
    best = None
    for _ in range(RUNS):
        start = time.perf_counter()
        out = subprocess.run(command, check=True, capture_output=True, text=True).stdout
        elapsed = time.perf_counter() - start
        if expect is not None and out.split() != [str(expect)]:
            print(f"unexpected output from {command[0]}: {out.strip()!r}")
        best = elapsed if best is None else min(best, elapsed)
    return best


def script_time(command, suffix, text, expect):
    with tempfile.NamedTemporaryFile("w", suffix=suffix, delete=False) as f:
        f.write(text)
    try:
        return best_time(command + [f.name], expect)
    finally:
        os.unlink(f.name)


print(f"{LINES} lines, {len(TEXT) / 1e6:.1f} MB")
zuv_base = script_time([ZUV], ".zuv", "Zuv []\n" + ZUV_BUILD, None)
py_base = script_time([sys.executable], ".py", PY_BUILD, None)
for name, zuv_job, py_job, expect in JOBS:
    # rejoin's time includes the split that makes its pieces: the split alone is taken off too.
    z = script_time([ZUV], ".zuv", "Zuv []\n" + ZUV_BUILD + zuv_job, expect) - zuv_base
    p = script_time([sys.executable], ".py", PY_BUILD + py_job, expect) - py_base
    z, p = max(z, 1e-6), max(p, 1e-6)
    print(f"{name:12} zuv {z:7.3f} s   python3 {p:7.3f} s   zuv / python3: {z / p:.2f}")
