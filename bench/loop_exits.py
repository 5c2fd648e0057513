#!/usr/bin/env python3
"""Cost of `continue` and `break`: a million loop iterations that leave their
body through one, against the same loops whose body ends normally.

The bar: a loop that breaks or continues takes at most 1.5 times as long as
the same loop without. Start-up and the bare loop are measured too and taken
off for the per-iteration ratios. Python 3 runs the same loops for comparison.
A benchmark, not a test: it always exits 0.

Usage: loop_exits.py PATH-TO-ZUV [ITERATIONS] [RUNS]   (a Release build)
"""
import os
import subprocess
import sys
import tempfile
import time

ZUV = sys.argv[1]
N = int(sys.argv[2]) if len(sys.argv) > 2 else 1_000_000
RUNS = int(sys.argv[3]) if len(sys.argv) > 3 else 5

SCRIPTS = {
    "bare loop": f"loop {N} [1]",
    "if, normal end": f"loop {N} [if 1 [1]]",
    "if, continue": f"loop {N} [if 1 [continue]]",
    "inner, normal end": f"loop {N} [loop 1 [1]]",
    "inner, break": f"loop {N} [loop 1 [break]]",
}
PYTHON = {
    "continue": f"for _ in range({N}):\n    if 1:\n        continue",
    "break": f"for _ in range({N}):\n    for _ in range(1):\n        break",
}


def best_time(command):
    best = None
    for _ in range(RUNS):
        start = time.perf_counter()
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
        elapsed = time.perf_counter() - start
        best = elapsed if best is None else min(best, elapsed)
    return best


def zuv_time(body):
    with tempfile.NamedTemporaryFile("w", suffix=".zuv", delete=False) as f:
        f.write("Zuv []\n" + body + "\n")
    try:
        return best_time([ZUV, f.name])
    finally:
        os.unlink(f.name)


times = {name: zuv_time(body) for name, body in SCRIPTS.items()}
python = {name: best_time([sys.executable, "-c", body]) for name, body in PYTHON.items()}

for name, t in times.items():
    print(f"zuv {name:18} {t:7.3f} s")
for name, t in python.items():
    print(f"python3 {name:14} {t:7.3f} s")
bare = times["bare loop"]
for exit_name, normal, leaving in (("continue", "if, normal end", "if, continue"),
                                   ("break", "inner, normal end", "inner, break")):
    plain, left = times[normal], times[leaving]
    print(f"{exit_name} / normal end, whole loop: {left / plain:.2f}  (bar 1.5)")
    if plain > bare:
        print(f"{exit_name} / normal end, per iteration: {(left - bare) / (plain - bare):.2f}")
    print(f"zuv / python3, loop with {exit_name}: {left / python[exit_name]:.2f}")
