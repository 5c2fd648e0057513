#!/usr/bin/env python3
"""Splitting a large log text into fields: PARSE with a bitset against
Python's `re` and Lua patterns.

Each program builds the same text in memory (a log line repeated to about
10 MB), then copies out every run of characters other than space and line
feed and counts them. The text is built the same way in a second run that does
not split it, and that time is taken off, so the ratios compare the splitting
alone. A benchmark, not a test: it always exits 0 (Lua is skipped when
`lua5.4` is missing).

Usage: parse_fields.py PATH-TO-ZUV [LINES] [RUNS]   (a Release build)
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

ZUV = sys.argv[1]
LINES = int(sys.argv[2]) if len(sys.argv) > 2 else 160_000
RUNS = int(sys.argv[3]) if len(sys.argv) > 3 else 3
LINE = "2026-12-10 12:00:01 INFO user=alice action=login status=ok bytes=1234"
FIELDS = LINES * len(LINE.split())

ZUV_BUILD = f'line: "{LINE}^/"\ntext: append/dup copy "" line {LINES}\n'
ZUV_SPLIT = ('word-char: complement make bitset! " ^/"\nn: 0\n'
             'parse text [any [copy field some word-char (n: n + 1) | skip]]\nprint n\n')
PY_BUILD = f'import re\ntext = "{LINE}\\n" * {LINES}\n'
PY_SPLIT = 'n = 0\nfor field in re.findall(r"[^ \\n]+", text):\n    n += 1\nprint(n)\n'
LUA_BUILD = f'local text = string.rep("{LINE}\\n", {LINES})\n'
LUA_SPLIT = 'local n = 0\nfor field in text:gmatch("[^ \\n]+") do n = n + 1 end\nprint(n)\n'


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


def split_time(name, command, suffix, header, build, split):
    whole = script_time(command, suffix, header + build + split, FIELDS)
    base = script_time(command, suffix, header + build, None)
    t = max(whole - base, 1e-6)
    print(f"{name:8} whole {whole:7.3f} s   building the text {base:7.3f} s   splitting {t:7.3f} s")
    return t


print(f"{LINES} lines, {LINES * (len(LINE) + 1) / 1e6:.1f} MB, {FIELDS} fields")
zuv = split_time("zuv", [ZUV], ".zuv", "Zuv []\n", ZUV_BUILD, ZUV_SPLIT)
python = split_time("python3", [sys.executable], ".py", "", PY_BUILD, PY_SPLIT)
print(f"zuv / python3 re: {zuv / python:.2f}")
lua = shutil.which("lua5.4")
if lua:
    lua_t = split_time("lua5.4", [lua], ".lua", "", LUA_BUILD, LUA_SPLIT)
    print(f"zuv / lua5.4 patterns: {zuv / lua_t:.2f}")
else:
    print("lua5.4 not found: skipped")
