#!/usr/bin/env python3
"""What the library's printing helpers print: parse-trace, clock, transcode-trace,
stats/show, and reactivity's dump-reactions, reports of failing reactions and
debug trace.

Usage: library_output_test.py PATH-TO-ZUV
"""
import os
import re
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import zuvtest  # noqa: E402
from zuvtest import check_that, finish  # noqa: E402


def run(source):
    return zuvtest.run(stdin=source)[1]


def run_script(body):
    """Runs the body as a script (no prompt loop, no results echoed)."""
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "script.zuv")
        with open(path, "w", encoding="utf-8") as f:
            f.write("Zuv []\n" + body)
        return zuvtest.run([path])[1]


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
# A bad token: an upper-case ERROR line, and the scan goes on after it.
out = run('transcode-trace "1 ) 2"\n')
check_that("transcode-trace error", re.search(r"^ERROR +paren! +3x4 +1 ", out, re.M) is not None
           and re.search(r"^LOAD +integer! +2 +1 ", out, re.M) is not None and out.endswith("== [1 2]\n"), out)

# stats/show: both frame classes, the big blocks and the two totals.
out = run("stats/show\n")
for head in ("[ Nodes  ] -- Free ----- Used ----- Total --", "[ Series ] -- Free ----- Used ----- Total --",
             "[ Big    ]", "  Used     : ", "  Allocated: "):
    check_that(f"stats/show prints {head!r}", head in out, out)
check_that("stats/show totals", re.search(r"Total allocated from OS \(virtual\): +\d+\n"
                                          r"Total allocated on heap \(malloc\): +\d+\n$", out) is not None, out)
check_that("a frame line", re.search(r"\n  1: +\d+ +\d+ +\d+\n", out) is not None, out)

# Reactivity: two linked reactors and a relation on them.
LINKED = """r1: reactor [x: 1 y: 1] r2: reactor [x: 2 y: 2]
react/link func [a b] [b/x: a/x a/y: b/y] [r1 r2]
relate tot: [r1/x + r2/y]
"""
LONG = 'react [r1/x "' + "l" * 100 + '"]\n'

# The records, numbered, with the target's line by its kind; the lines are cut
# to the console's width minus 10 (minus 5 more for the source's words).
out = run_script(LINKED + LONG + "dump-reactions\n")
check_that("dump-reactions lists every record", out.startswith(
    "1:---\n"
    "  Source: object [x y]\n"
    "   Field: x\n"
    "  Action: func [a b][b/x: a/x a/y: b/y]\n"
    "    Args: [object [x: 1 y: 2] object [x: 1 y: 2]]\n"
    "2:---\n"
    "  Source: object [x y]\n"
    "   Field: y\n"), out)
check_that("a relate record names its target", "  Action: [r1/x + r2/y]\n  Target: tot\n4:---\n" in out, out)
action = [l for l in out.split("\n") if l.startswith("  Action: [r1/x {")]
check_that("the action is cut at 70 characters on an 80-column console",
      len(action) == 1 and len(action[0]) == len("  Action: ") + 70, out)
out = run_script(LINKED + LONG + "system/console/size: 40x10\ndump-reactions\n")
action = [l for l in out.split("\n") if l.startswith("  Action: [r1/x {")]
args = [l for l in out.split("\n") if l.startswith("    Args: ")]
check_that("a narrow console cuts at its width minus 10",
      len(action) == 1 and len(action[0]) == len("  Action: ") + 30
      and args and all(len(a) == len("    Args: ") + 30 for a in args), out)
out = run_script(LINKED + LONG + "system/console: none\ndump-reactions\n")
action = [l for l in out.split("\n") if l.startswith("  Action: [r1/x {")]
check_that("without a console the cut is at 62", len(action) == 1 and len(action[0]) == len("  Action: ") + 62, out)
wide = "w: reactor [" + " ".join(f"field{i}: {i}" for i in range(20)) + "]\nreact [w/field0]\ndump-reactions\n"
out = run_script(wide)
source = [l for l in out.split("\n") if l.startswith("  Source: object ")]
check_that("the source's words are cut 5 shorter", len(source) == 1 and len(source[0]) == len("  Source: object ") + 65, out)

# clear-reactions leaves a table that dumps as one line.
out = run_script(LINKED + "clear-reactions\ndump-reactions\n")
check_that("an empty table", out == "-- no reactions --\n", out)

# stop-reactor of one linked reactor: the other's changes run nothing and
# report nothing, and the dump holds no record of the stopped one.
out = run_script(LINKED + "stop-reactor r1\nr2/y: 5\nr2/x: 6\nprint [r1/y tot]\ndump-reactions\n")
check_that("a stopped link stays silent", out ==
      "2 6\n"
      "1:---\n"
      "  Source: object [x y]\n"
      "   Field: y\n"
      "  Action: [r1/x + r2/y]\n"
      "  Target: tot\n", out)

# A failing reaction: its report, the reaction cut at 80 characters after
# "*** Near: ", none in its target, and the reactions after it still run.
out = run_script('e: reactor [v: 1]\n'
                 'react/later [e/v / 0 "' + "x" * 90 + '"]\n'
                 'relate fine: [e/v * 2]\n'
                 'e/v: 4\n'
                 'print ["fine" fine]\n')
lines = out.split("\n")
near = [l for l in lines if l.startswith("*** Near: ")]
check_that("the report of a failing reaction",
      lines[0] == "*** Math Error: attempt to divide by zero" and len(near) == 1
      and near[0] == "*** Near: " + ("[e/v / 0 {" + "x" * 90)[:80]
      and lines.index(near[0]) < lines.index("fine 8"), out)

# debug?: each assignment prints the change before its reactions run; stop-reactor
# and clear-reactions say what they do.
out = run_script("t: reactor [v: 1]\n"
                 "react/later [print \"reacted\" t/v]\n"
                 "system/reactivity/debug?: true\n"
                 "t/v: 2\n"
                 "stop-reactor/deep reactor [v: 0 type: 'panel pane: []]\n"
                 "clear-reactions\n")
check_that("the debug trace", out.startswith(
    "-- on-change event -- \n\tword : v \n\told  : integer \n\tnew  : integer\nreacted\n"), out)
check_that("the debug lines of stop-reactor and clear-reactions",
      out.endswith("-- reactivity: stopping, face: panel /deep: true\n-- reactivity: clear all\n"), out)

# At the console: a plain react answers its block, no-react's error is reported.
out = run("r: reactor [x: 1]\nreact [r/x]\nno-react [1 / 0]\n")
check_that("react at the prompt", "== [r/x]\n" in out and "*** Near: [1 / 0]\n== none\n" in out, out)

finish()
