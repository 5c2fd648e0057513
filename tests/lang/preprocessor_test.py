#!/usr/bin/env python3
"""What the preprocessor prints: its failures (each followed by "(halted)"),
its trace lines, and scripts with a malformed directive run by do and from
the command line.

Usage: preprocessor_test.py PATH-TO-ZUV
"""
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from zuvtest import check, finish  # noqa: E402
ZUV = sys.argv[1]


def run(args=(), stdin=""):
    p = subprocess.run([ZUV, *args], input=stdin.encode("utf-8"),
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
    return p.returncode, p.stdout.decode("utf-8", "replace")


# Each failure prints its lines, then the console's "(halted)"; the next
# line still runs. (One program takes all the lines: each starts slowly in
# the stress build.)
def each_line(lines):
    """The output of each line of a session, the lines separated by `1`."""
    status, out = run(stdin="".join(f"{line}\n1\n" for line in lines))
    parts = out.split("== 1\n")
    return status, parts[:-1] if len(parts) == len(lines) + 1 and parts[-1] == "" else [out]


cases = [
    ("an #if without a block", "[#if 1 = 1 foo]",
     "*** Preprocessor Error: Syntax error\n*** Where: #if 1 = 1 foo\n"),
    ("a #do without a block", "[a #do 1]", "*** Preprocessor Error: Syntax error\n*** Where: #do 1\n"),
    ("#trace without on or off", "[#trace maybe]", "*** Preprocessor Error: Syntax error\n*** Where: #trace maybe\n"),
    ("#process without on or off", "[#process]", "*** Preprocessor Error: Syntax error\n*** Where: #process\n"),
    ("a #case without a block", "[#case 1]", "*** Preprocessor Error: Syntax error\n*** Where: #case 1\n"),
    ("a #macro of the wrong shape", "[#macro m: func [a] 3 4]",
     "*** Preprocessor Error: Syntax error\n*** Where: #macro m: func [a] 3\n"),
    ("a one-argument pattern macro", "[#macro [integer!] func [s] [1]]",
     "*** Macro Error: invalid macro definition\n*** Where: [integer!] func [s]\n"),
    ("an empty block pattern", "[#macro [] func [s e] [1]]",
     "*** Macro Error: invalid macro definition\n*** Where: [] func [s e]\n"),
    ("a spec outside the grammar", "[#macro m: func [a 1] [a]]",
     "*** Macro Error: invalid macro definition\n*** Where: m: func [a 1]\n"),
    ("a named macro giving unset", "[#macro m: func [a] [unset 'a] m 1]",
     "*** Macro Error: no value returned by m macro\n"),
    ("an unknown refinement in a condition", "[#if append/foo [] 1 [a]]",
     "*** Macro Error: unknown refinement\n*** Where: append/foo\n"),
    ("#include of a missing file prints nothing", "[#include %no-such-file.zuv]", "== [do %no-such-file.zuv]\n"),
]
status, outs = each_line([f"expand-directives/clean {code}" for _, code, _ in cases])
check("failures: status and one output a line", (status, len(outs)), (0, len(cases)))
for (name, _, printed), out in zip(cases, outs):
    check(name, out, printed if printed.startswith("==") else printed + "(halted)\n")

# The error of a condition, of #do code or of a macro: the directive, then
# the error's report; a manual macro's call is molded whole.
cases = [
    ("an error in a condition", "[#if 1 / 0 [a]]", "*** Preprocessor Error in #if\n*** Math Error: attempt to divide by zero\n"),
    ("an error in #do code", "[#do [no-such-word]]", "*** Preprocessor Error in #do\n*** Script Error: no-such-word has no value\n"),
    ("an error in a named macro", "[#macro m: func [a] [a / 0] m 1]",
     "*** Preprocessor Error in #macro\n*** Math Error: attempt to divide by zero\n"),
    ("an error in a pattern macro", "[#macro integer! func [s e] [s/1 / 0] 1]",
     "*** Preprocessor Error in #macro\n*** Math Error: attempt to divide by zero\n"),
    ("a manual macro not giving a position", "[#macro 'p func [[manual] s e] [1] p]",
     "*** Macro Error: [manual] macro not returning a position\n*** Where: [func [[manual] s e]"),
]
status, outs = each_line([f"expand-directives/clean {code}" for _, code, _ in cases])
check("errors: status and one output a line", (status, len(outs)), (0, len(cases)))
for (name, _, first), out in zip(cases, outs):
    check(name, (out.startswith(first), out.endswith("(halted)\n")), (True, True))

# #trace on: the conditions, #do keep and pattern macros print their work
# until #trace off.
check("trace lines", run(stdin="expand-directives/clean [#trace on #if 1 = 1 [a] #do keep [2] "
                                "#macro [integer! integer!] func [s e] [reduce [s/1 + s/2]] 3 4 "
                                "#trace off #if true [b] 5 6]\n"),
      (0, "preproc: #if [1 = 1]\npreproc: == true\npreproc: eval [2]\npreproc: == 2\n"
          "preproc: matched [3 4]\npreproc: eval macro [reduce [s/1 + s/2]]\npreproc: == [7]\n"
          "== [a 2 7 b 11]\n"))
check("named macro trace", run(stdin="expand-directives/clean [#macro m: func [a] [a * 2] #trace on m 4 #trace off]\n"),
      (0, "preproc: eval macro [m 4]\npreproc: == 8\n== [8]\n"))

# A script with a malformed directive: the error, "(halted)", and nothing of
# the script runs, whether it is done at the prompt or named on the command
# line.
with tempfile.TemporaryDirectory() as folder:
    bad = os.path.join(folder, "bad.zuv")
    with open(bad, "w") as f:
        f.write('Zuv []\nprint "ran"\n#either true [1]\n')
    printed = "*** Preprocessor Error: Syntax error\n*** Where: #either true [1]\n(halted)\n"
    check("a script done with a malformed directive", run(stdin=f"do %{bad}\n1\n"), (0, printed + "== 1\n"))
    # The directives were expanded in the script's folder; the caller's
    # folder is back after the halt.
    check("the caller's folder after a script's malformed directive",
          run(stdin=f"change-dir %/\ndo %{bad}\nwhat-dir\n"), (0, "== %/\n" + printed + "== %/\n"))
    check("a script run from the command line with a malformed directive", run([bad]), (0, printed))
    good = os.path.join(folder, "good.zuv")
    with open(good, "w") as f:
        f.write('Zuv []\n#do [n: 2]\n#macro twice: func [x] [x * n]\nprint twice 21\n')
    check("a script's directives and macros from the command line", run([good]), (0, "42\n"))

finish()
