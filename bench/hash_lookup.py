#!/usr/bin/env python3
"""Keyed lookups: a hash! and a map! of N integer keys, every key looked up
in turn (1,000,000 lookups in all), against a Python dict and a Lua table
doing the same.

Times are CPU times of the whole process. For each program the build alone is timed too and taken off, leaving the cost
of the lookups. They run at 10,000 and at 100,000 keys: a lookup that takes
constant time costs the same per key at both sizes (the growth ratio stays
near 1; a linear search would make it near 10). Lua 5.4 is skipped when it is
not installed. A benchmark, not a test: it always exits 0.

Usage: hash_lookup.py PATH-TO-ZUV [RUNS]   (a Release build)
"""
import os
import resource
import shutil
import subprocess
import sys
import tempfile

ZUV = sys.argv[1]
RUNS = int(sys.argv[2]) if len(sys.argv) > 2 else 3
SIZES = (10_000, 100_000)
LOOKUPS = 1_000_000
LUA = shutil.which("lua5.4")


def zuv_script(kind, n, lookups):
    if kind == "hash!":
        build = f"h: make hash! {n}\nrepeat i {n} [append h i]"
        find = f"loop {LOOKUPS // n} [repeat i {n} [find h i]]"
    else:
        build = f"m: make map! {n}\nrepeat i {n} [put m i i]"
        find = f"loop {LOOKUPS // n} [repeat i {n} [select m i]]"
    with tempfile.NamedTemporaryFile("w", suffix=".zuv", delete=False) as f:
        f.write("Zuv []\n" + build + "\n" + (find if lookups else "") + "\n")
    return f.name


def python_command(n, lookups):
    body = f"d = {{}}\nfor i in range(1, {n + 1}): d[i] = i\n"
    if lookups:
        body += f"for _ in range({LOOKUPS // n}):\n    for i in range(1, {n + 1}): d.get(i)\n"
    return [sys.executable, "-c", body]


def lua_command(n, lookups):
    body = f"local t = {{}} for i = 1, {n} do t[i * 7919 % 1000003] = i end "
    if lookups:
        body += f"local x for _ = 1, {LOOKUPS // n} do for i = 1, {n} do x = t[i * 7919 % 1000003] end end"
    return [LUA, "-e", body]


def timed(command):
    """The CPU time (user + system) of the command: steadier than the wall
    clock on a machine that other work shares."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


programs = {}
for n in SIZES:
    for kind in ("hash!", "map!"):
        programs[(f"zuv {kind}", n)] = ([ZUV, zuv_script(kind, n, False)], [ZUV, zuv_script(kind, n, True)])
    programs[("python3 dict", n)] = (python_command(n, False), python_command(n, True))
    if LUA:
        programs[("lua5.4 table", n)] = (lua_command(n, False), lua_command(n, True))

# The runs alternate between the programs so that a change of machine load
# falls on all of them alike; each keeps its best time.
best = {}
try:
    for _ in range(RUNS):
        for key, (build, full) in programs.items():
            for part, command in (("build", build), ("full", full)):
                t = timed(command)
                best[key, part] = min(best.get((key, part), t), t)
finally:
    for (name, _), commands in programs.items():
        if name.startswith("zuv"):
            for command in commands:
                os.unlink(command[1])

per_lookup = {}
for (name, n) in programs:
    lookups = max(best[(name, n), "full"] - best[(name, n), "build"], 0.0)
    per_lookup[name, n] = lookups / LOOKUPS
    print(f"{name:13} {n:7} keys: build {best[(name, n), 'build']:6.3f} s, "
          f"lookups {lookups:6.3f} s, {per_lookup[name, n] * 1e9:7.1f} ns/lookup")

small, large = SIZES
print()
for name in dict.fromkeys(name for name, _ in programs):
    growth = per_lookup[name, large] / per_lookup[name, small] if per_lookup[name, small] > 0 else float("nan")
    print(f"{name:13} per-lookup cost at {large} keys / at {small} keys: {growth:.2f}")
for other in ("python3 dict", "lua5.4 table"):
    for kind in ("hash!", "map!"):
        if (other, large) in per_lookup and per_lookup[other, large] > 0:
            ratio = per_lookup[f"zuv {kind}", large] / per_lookup[other, large]
            print(f"zuv {kind} / {other} per lookup at {large} keys: {ratio:.2f}")
