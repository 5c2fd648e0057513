#!/usr/bin/env python3
"""What the library's printing helpers print: parse-trace, clock, transcode-trace
and stats/show.

Usage: library_output_test.py PATH-TO-ZUV
"""
import os
import re
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import zuvtest  # noqa: E402
from zuvtest import check_that, finish  # noqa: E402


def run(source):
    return zuvtest.run(stdin=source)[1]


# parse-trace: push and pop lines nest two blanks deeper per rule level, every
# fetch shows the input and the rule, the end shows parse's result.
traced = zuvtest.run_each(['parse-trace "ab" ["a" ["b"]]', 'parse-trace/case "aB" ["a" "b"]',
                           'parse-trace/part "abc" ["a" "b"] 2', 'transcode-trace "a 1"'])
out = traced[0]
lines = out.split("\n")
pushes = [l for l in lines if l.strip() == "-->"]
pops = [l for l in lines if l.strip() == "<--"]
check_that("parse-trace nests", [len(l) - 3 for l in pushes] == [1, 3] and [len(l) - 3 for l in pops] == [3, 1], out)
check_that("parse-trace fetch and match lines",
           '   input: "ab" ' in lines and any(l.startswith('   match: ["a" ["b"]]') for l in lines)
           and '     ==> matched' in lines, out)
check_that("parse-trace ends with parse's result", out.endswith("return: true\n== true\n"), out)
out = traced[1]
check_that("parse-trace /case", "==> not matched" in out and out.endswith("return: false\n== false\n"), out)
out = traced[2]
check_that("parse-trace /part", out.endswith("== true\n"), out)

# clock: the time per run shortened, its unit and a tab, the code; the code's value.
out = run("c: 0\nclock/times [c: c + 1] 0\nc\n")
check_that("clock/times 0 runs once",
           re.fullmatch(r"== 0\n[0-9.]+ (ms|\u03bcs)\t ?\[c: c \+ 1\]\n== 1\n== 1\n", out) is not None, out)
out = run("clock [wait 0.02 'done]\n")
m = re.match(r"([0-9.]+) ms\t", out)
check_that("clock in milliseconds", m is not None and 15 <= float(m.group(1)) < 1000 and out.endswith("== done\n"), out)
out = run("clock [" + " ".join(["1"] * 60) + "]\n")
check_that("clock cuts the code at 70 characters", re.search(r"\t ?\[1 1 1[ 1]*\n", out) is not None
           and len(out.split("\t")[1].split("\n")[0].strip()) == 70, out)

# transcode-trace: one line per lexer event, then transcode's values.
out = traced[3]
check_that("transcode-trace", re.search(r"^LOAD +word! +a +1 ", out, re.M) is not None
           and re.search(r"^LOAD +integer! +1 +1 ", out, re.M) is not None and out.endswith("== [a 1]\n"), out)

# stats/show: both frame classes, the big blocks and the two totals.
out = run("stats/show\n")
for head in ("[ Nodes  ] -- Free ----- Used ----- Total --", "[ Series ] -- Free ----- Used ----- Total --",
             "[ Big    ]", "  Used     : ", "  Allocated: "):
    check_that(f"stats/show prints {head!r}", head in out, out)
check_that("stats/show totals", re.search(r"Total allocated from OS \(virtual\): +\d+\n"
                                          r"Total allocated on heap \(malloc\): +\d+\n$", out) is not None, out)
check_that("a frame line", re.search(r"\n  1: +\d+ +\d+ +\d+\n", out) is not None, out)

finish()
