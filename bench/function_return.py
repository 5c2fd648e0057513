#!/usr/bin/env python3
"""Cost of `return`: a million calls of a function ending in `return x`
against the same function without it.

The bar: the loop with `return` takes at most 1.5 times as long. Start-up and
the bare loop are measured too and taken off for the per-call ratio. Python 3
runs the same calls for comparison. A benchmark, not a test: it always exits 0.

Usage: function_return.py PATH-TO-ZUV [CALLS] [RUNS]   (a Release build)
"""
import os
import subprocess
import sys
import tempfile
import time

ZUV = sys.argv[1]
CALLS = int(sys.argv[2]) if len(sys.argv) > 2 else 1_000_000
RUNS = int(sys.argv[3]) if len(sys.argv) > 3 else 5

SCRIPTS = {
    "bare loop": f"loop {CALLS} [1]",
    "without return": f"f: func [x] [x]\nloop {CALLS} [f 1]",
    "with return": f"f: func [x] [return x]\nloop {CALLS} [f 1]",
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
python = best_time([sys.executable, "-c",
                    f"def f(x):\n    return x\nfor _ in range({CALLS}): f(1)"])

for name, t in times.items():
    print(f"zuv {name:15} {t:7.3f} s")
print(f"python3 calls       {python:7.3f} s")
plain, ret, bare = times["without return"], times["with return"], times["bare loop"]
print(f"return / no return, whole loop: {ret / plain:.2f}  (bar 1.5)")
if plain > bare:
    print(f"return / no return, per call:   {(ret - bare) / (plain - bare):.2f}")
print(f"zuv / python3, calls with return: {ret / python:.2f}")
