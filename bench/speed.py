#!/usr/bin/env python3
"""Evaluation speed against Python 3 and Lua 5.4: the programs of bench/speed/,
each written three times (NAME.zuv, NAME.py, NAME.lua) doing the same work.

Each round runs every program of every language once, in turn, so a change of
machine load falls on all of them alike; each program keeps its best CPU time
(user + system of the whole process) and its peak memory. The table gives the
times and the ratios zuv / python3 and zuv / lua. A benchmark, not a test: it
always exits 0.

Usage: speed.py PATH-TO-ZUV [RUNS] [NAME ...]   (a Release build; RUNS 5)
Environment: PYTHON (python3), LUA (lua5.4).
"""
import os
import shutil
import subprocess
import sys

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "speed")
ZUV = os.path.abspath(sys.argv[1])
RUNS = int(sys.argv[2]) if len(sys.argv) > 2 else 5
ONLY = sys.argv[3:]
PYTHON = os.environ.get("PYTHON", "python3")
LUA = os.environ.get("LUA", "lua5.4")

LANGUAGES = [("zuv", [ZUV], ".zuv"), ("python3", [PYTHON], ".py"), ("lua", [LUA], ".lua")]
if not shutil.which(LUA):
    LANGUAGES.pop()


def run(command):
    """CPU seconds and peak resident kilobytes of one whole run."""
    with open(os.devnull, "wb") as sink:
        child = subprocess.Popen(command, stdout=sink)
        _, status, usage = os.wait4(child.pid, 0)
    if status != 0:
        raise SystemExit(f"failed ({status}): {' '.join(command)}")
    return usage.ru_utime + usage.ru_stime, usage.ru_maxrss


names = sorted(n[:-4] for n in os.listdir(HERE) if n.endswith(".zuv"))
if ONLY:
    names = [n for n in names if n in ONLY]
best = {}
for _ in range(RUNS):
    for name in names:
        for language, command, suffix in LANGUAGES:
            seconds, kb = run(command + [os.path.join(HERE, name + suffix)])
            key = (name, language)
            old = best.get(key, (seconds, kb))
            best[key] = (min(old[0], seconds), max(old[1], kb))

langs = [l for l, _, _ in LANGUAGES]
header = f"{'benchmark':<15}" + "".join(f"{l + ' s':>10}" for l in langs)
header += "".join(f"{'/' + l:>10}" for l in langs[1:]) + f"{'zuv MB':>9}{'py MB':>8}"
print(f"best of {RUNS} interleaved runs, CPU seconds of the whole process")
print(header)
for name in names:
    row = f"{name:<15}" + "".join(f"{best[(name, l)][0]:>10.3f}" for l in langs)
    zuv = best[(name, "zuv")][0]
    row += "".join(f"{zuv / max(best[(name, l)][0], 1e-6):>10.2f}" for l in langs[1:])
    row += f"{best[(name, 'zuv')][1] / 1024:>9.1f}{best[(name, 'python3')][1] / 1024:>8.1f}"
    print(row)
