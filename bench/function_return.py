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


def timed(command):
    start = time.perf_counter()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def script(body):
    with tempfile.NamedTemporaryFile("w", suffix=".zuv", delete=False) as f:
        f.write("Zuv []\n" + body + "\n")
    return f.name


# The runs alternate between the programs so that a change of machine load
# falls on all of them alike; each keeps its best time.
commands = {name: [ZUV, script(body)] for name, body in SCRIPTS.items()}
commands["python3"] = [sys.executable, "-c", f"def f(x):\n    return x\nfor _ in range({CALLS}): f(1)"]
best = {}
try:
    for _ in range(RUNS):
        for name, command in commands.items():
            t = timed(command)
            best[name] = min(best.get(name, t), t)
finally:
    for name in SCRIPTS:
        os.unlink(commands[name][1])
python = best.pop("python3")
times = best

for name, t in times.items():
    print(f"zuv {name:15} {t:7.3f} s")
print(f"python3 calls       {python:7.3f} s")
plain, ret, bare = times["without return"], times["with return"], times["bare loop"]
print(f"return / no return, whole loop: {ret / plain:.2f}  (bar 1.5)")
if plain > bare:
    print(f"return / no return, per call:   {(ret - bare) / (plain - bare):.2f}")
print(f"zuv / python3, calls with return: {ret / python:.2f}")
