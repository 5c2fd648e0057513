#!/usr/bin/env python3
"""The interactive debugger and the profiler as a user meets them: debugger
commands fed through redirected input, the "debug> " prompt and the history on
a pseudo-terminal, and the profiler's report.

Usage: tools_test.py PATH-TO-ZUV
"""
import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from zuvtest import ZUV, Session, check_that, finish  # noqa: E402

# A home of its own: the settings file that each run writes at its end is
# not shared with the other tests running at the same time.
HOME = tempfile.TemporaryDirectory()
ENV = dict(os.environ, HOME=HOME.name)


def run(*lines):
    """The lines as redirected input; what the program writes."""
    p = subprocess.run([ZUV], input=("\n".join(lines) + "\n").encode("utf-8"),
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60, env=ENV)
    return p.stdout.decode("utf-8", "replace")


def steps(out):
    """The debugger's event lines."""
    return [line for line in out.split("\n") if line.startswith("-----> ")]


# ---- the debugger, fed through redirected input ----

# Each shown event prints its line and the code from there on, then waits for
# a command; an empty line steps on.
out = run("debug [x: 1 + 2]", *[""] * 11, "print x")
check_that("every shown step of x: 1 + 2, one empty line each",
      steps(out) == ["-----> EVAL x:", "-----> PUSH x:", "-----> EVAL 1", "-----> PUSH 1", "-----> EVAL +",
                     "-----> OPEN +", "-----> EVAL 2", "-----> PUSH 2", "-----> CALL + (op!)",
                     "-----> RETURN 3", "-----> SET x 3"]
      and out.startswith("-----> EVAL x:\nInput: x: 1 + 2\n\n-empty stack-\n") and out.endswith("\n3\n"), out)

out = run("debug [x: 1 + 2]", "?", "c")
usage = [line for line in out.split("\n") if line.startswith("\t`")]
check_that("? prints the usage lines",
      len(usage) == 16 and usage[0] == "\t`help` or `?`: print a list of debugger's commands."
      and "\t`+stack`  or `+s`: outputs expression stack on each new event." in usage, out)

out = run("debug [x: 1 + 2]", "-s", "", "", "", "s", "c")
check_that("s shows the expression stack", out.split("-----> PUSH 1")[1].endswith("\nStack: x:\nStack: 1\n\n"), out)

out = run("x: 5", "debug [y: 1]", ":x", ":system/tools/options/debug/active?", "c")
check_that(":x prints == and the value", "\n== 5\n== true\n" in out, out)

out = run("x: 5", "debug [x: x + 1 x: x * 2]", "w x", "", "", "-w x", "", "", "c")
watch = [line for line in out.split("\n") if line.startswith("Watch: ")]
check_that("w x watches, -w x stops", watch == ["Watch: x: 5", "Watch: x: 5"], out)

out = run("debug [a: 1 b: 2]", "-s", "", "", "+s", "", "c", "debug [c: 3]", "", "c")
parts = out.split("-----> ")
shown = ["Stack:" in part for part in parts[1:]]
check_that("-s and +s switch the stack display for that run only",
      shown == [False, False, False, True, False, True], out)

out = run("debug [x: 1 + 2 y: 3]", "c", "print [x y]")
check_that("c runs on without stopping", steps(out) == ["-----> EVAL x:"] and "\n3 3\n" in out, out)

out = run("debug [x: 1 print 'no]", "q", "print 'after")
check_that("q halts", "(halted)" in out and "\nno\n" not in out and out.endswith("after\n"), out)

out = run("debug [1]", "bogus", "c")
check_that("an unknown command", "\nUnknown command!\n" in out, out)

out = run("debug/later [a: 1 b: a + 1]", "print b")
check_that("debug/later without @stop never prompts", steps(out) == [] and out == "2\n", out)

out = run("debug/later [a: 1 @stop b: 2 @go c: 3 d: 4]", "", "", "", "", "", "", "", "print [b c d]")
check_that("debug/later stops between @stop and @go only",
      steps(out) == ["-----> EVAL @stop", "-----> PUSH @stop", "-----> EVAL b:", "-----> PUSH b:",
                     "-----> EVAL 2", "-----> PUSH 2", "-----> SET b 2"] and out.endswith("\n2 3 4\n"), out)

out = run("debug/later [x: 1 x: x / 0]", "", "print 'after")
check_that("an error in the code enters the prompt",
      [line[:13] for line in steps(out)] == ["-----> ERROR "]
      and "*** Math Error: attempt to divide by zero" in out and out.endswith("after\n"), out)

out = run("f: func [a] [a * 2]", "debug [f 5]", "", "", "", "", "p", "c")
check_that("p lists the calls inside the debugged code", "\nCall: f\n" in out and "Call: debug" not in out, out)


# ---- on a terminal: the prompt, and the history afterwards ----

with tempfile.TemporaryDirectory() as home:
    s = Session(env=dict(os.environ, HOME=home))
    s.read_until(">> ")
    s.send("1 + 1\r")
    s.read_until(">> ")
    s.send("debug [x: 1]\r")
    found, before = s.read_until("debug> ")
    check_that("debug stops at the debug> prompt", found and "-----> EVAL x:" in before, before)
    for command in ["n", "?", "s", "c"]:
        s.send(command + "\r")
        if command != "c":
            s.read_until("debug> ")
    s.read_until(">> ")
    s.send("copy/part system/console/history 3\r")
    found, before = s.read_until(">> ")
    check_that("afterwards the history holds no debugger commands",
          '== ["copy/part system/console/history 3" "debug [x: 1]" "1 + 1"]' in before, before)
    s.send("quit\r")
    s.wait()  # the settings file is written at the end: its home goes only after that


# ---- the profiler ----

def report(out):
    """The report's lines as (name, count, seconds)."""
    rows = []
    for line in out.split("\n"):
        m = re.fullmatch(r"#(\d+) +(\S+) +\| (\d+) +\| (\d+):(\d+):([0-9.]+) *", line)
        if m:
            rows.append((m.group(2), int(m.group(3)),
                         int(m.group(4)) * 3600 + int(m.group(5)) * 60 + float(m.group(6))))
    return rows


out = run("f: func [] [1]", "profile [f f f]")
rows = report(out)
check_that("one function called three times: one line, count 3",
      [r[:2] for r in rows if r[0] == "f"] == [("f", 3)] and "\n== 1\n\n#1" in out, out)

out = run("g: func [] [f f] f: func [] [h] h: func [] [1]", "profile/by [g g] 'name")
names = [r[0] for r in report(out)]
check_that("/by name sorts by name", names == sorted(names) and {"f", "g", "h"} <= set(names), out)

out = run("g: func [] [f f] f: func [] [h] h: func [] [1]", "profile/by [g g] 'count")
counts = [(r[0], r[1]) for r in report(out)]
check_that("/by count puts the highest count first",
      [c for _, c in counts] == sorted([c for _, c in counts], reverse=True)
      and ("h", 4) in counts and ("f", 4) in counts and ("g", 2) in counts, out)

out = run("a: func [] [1]", "profile [do reduce [:a] do reduce [:a]]")
anons = [r[0] for r in report(out) if r[0].startswith("<anon")]
check_that("two anonymous calls give two numbered lines", len(anons) == 2 and anons[0] != anons[1], out)

out = run("profile [print 'x]")
check_that("unset code prints no == line", "==" not in out and report(out) != [], out)

out = run("system/tools/options/profile/sort-by: 'time", "profile/by [1] 'name",
          "system/tools/options/profile/sort-by", "catch [profile/by [throw 5] 'name]",
          "system/tools/options/profile/sort-by", "loop 2 [profile [break]] system/tools/options/profile/sort-by")
check_that("sort-by is as it was after the run, also one left by a throw or break",
      out.split("\n").count("== time") == 4 and out.endswith("== 5\n== time\n== time\n"), out)
out = run("catch [debug/later [system/tools/options/debug/show-parents?: true throw 1]]",
          "system/tools/options/debug/show-parents?")
check_that("debug's options are as they were after a throw", out.endswith("== 1\n== false\n"), out)

# A routine called first (its type is not counted) leaves the caller's time whole.
out = run("k: func [] [tracing? wait 0.05]", "profile [k]")
k = [r for r in report(out) if r[0] == "k"]
check_that("the caller of a routine is credited with its whole time", len(k) == 1 and k[0][2] >= 0.05, out)

out = run("profile/by [1] 'size", "print 'after")
check_that("an unknown sort order is an error", "*** Script Error" in out and out.endswith("after\n"), out)

finish()
