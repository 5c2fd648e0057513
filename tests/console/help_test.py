#!/usr/bin/env python3
"""What help, what, source, about and the shell-like commands print at the
prompt (redirected input: an 80-column console).

Usage: help_test.py PATH-TO-ZUV
"""
import os
import re
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import zuvtest  # noqa: E402
from zuvtest import check_that, finish  # noqa: E402


def run(source, cwd=None):
    return zuvtest.run(stdin=source, cwd=cwd)


# help alone: the usage text, once, between line breaks.
_, out = run("help\n")
check_that("help alone prints the usage", out.startswith("\n\tUse HELP or ? to view built-in docs")
           and "\t\thelp-string append\n" in out and out.endswith("\t\tquit   - Leave the Zuv console\n\t\n\n"), out)

# help of an action: its sections; ? is the same.
_, out = run("help append\n")
_, alias = run("? append\n")
check_that("? is help", out == alias, alias)
check_that("help append sections",
           out.startswith("USAGE:\n     APPEND series value\n\nDESCRIPTION:\n     Adds a value at the tail")
           and "     APPEND is an action! value.\n\nARGUMENTS:\n     series       [series! bitset! port!] \n" in out
           and "\nREFINEMENTS:\n     part         => Limits the elements added.\n        length       [number! series!] \n" in out,
           out)

# one line per kind of value
cases = [
    ("help 1", "1 is an integer! value.\n"),
    ("x: 5 help x", "X is an integer! value: 5\n"),
    ("help print", "     PRINT is a native! value.\n"),
    ("help +", "USAGE:\n     value1 + value2\n"),
    ("help zzqqnomatch", "No matching values were found in the global context.\n"),
    ("o: context [a: 1] help o", "O is an object! with the following words and values:\n     a  integer!      1\n"),
    ("help datatype!", "    pair!           => [x y]\n"),
    ("help logic!", "\n    true             true\n"),
]
for (source, expected), out in zip(cases, zuvtest.run_each([source for source, _ in cases])):
    check_that(source, expected in out, out)

# help of the system object: one line per field, each cut to the width.
_, out = run("help system\n")
lines = out.split("\n")
check_that("help system lists the fields",
           lines[0] == "SYSTEM is an object! with the following words and values:"
           and any(l.startswith("     version ") for l in lines)
           and any(l.endswith("...") for l in lines)
           and max(len(l) for l in lines) <= 79, out)

# searches: names for a word, names and specs for a string
_, out = run("help pri\n")
check_that("help pri", "     print           native!       Writes a value" in out and "     prin   " in out
           and "probe" not in out, out)
_, out = run('help "issue!"\n')
check_that('help "issue!" searches specs', "     to-issue        function!" in out and "     issue!          datatype!" in out, out)

# what: every function once (a spelling differing in case is the same word), sorted by name
_, out = run("what\n")
names = [l.split()[0] for l in out.split("\n") if l.startswith("     ")]
check_that("what lists sorted functions", "system" not in names and len(names) > 200
      and names.index("append") < names.index("help") < names.index("what") < names.index("zero?"), out[:500])
lower = [n.lower() for n in names]
check_that("what lists each function once", len(lower) == len(set(lower)) and "all" in names and "try" in names,
      sorted(n for n in lower if lower.count(n) > 1))
_, out = run("help native!\n")
check_that("help of a datatype lists each word once", out.count("\n    all ") == 1 and out.count("\n    try ") == 1
      and "\n    ALL " not in out, out)

# source: a function's molded source, or why there is none
_, out = run("source help\nsource a-an\nsource print\nsource 1\n1 + 1\n")
check_that("source", out.startswith("help: func [\n")
      and "\na-an: func [\n    {Returns the appropriate variant" in out
      and "PRINT is a native! value, so source is not available.\n" in out
      and "*** Script Error: source does not allow integer! for its 'word argument\n" in out
      and out.endswith("== 2\n"), out)

# about: the version line with the day of the build; /debug, outside version
# control, where to find a build; /cc puts the line on the clipboard too
_, out = run("about\nabout/debug\nabout/cc\nread-clipboard\n")
lines = out.split("\n")
check_that("about", re.fullmatch(r"Zuv 0\.1\.0 for Linux built \d{1,2}-[A-Z][a-z]{2}-\d{4}", lines[0]) is not None
      and lines[1] == "This Zuv binary has been built from source."
      and lines[3].startswith("https://") and lines[5] == lines[0] and lines[6] == f'== "{lines[0]}"', out)

# expand: the block as the preprocessor leaves it, shown and answered
_, out = run("expand [1 + 2]\n")
check_that("expand", out == "[1 + 2]\n== [1 + 2]\n", out)

# the system's code keeps its words when the user rebinds them
_, out = run("print: 0\npad: none\nwhat: 1\nhelp append\nhelp pri\n")
check_that("help after rebinding", "     APPEND is an action! value.\n" in out
           and "     prin " in out, out)

# the shell-like commands in a temporary folder
with tempfile.TemporaryDirectory() as folder:
    names = ["a.txt", "b.txt", "c.txt", "d.txt", "a-name-of-nineteen1"]
    for name in names:
        open(os.path.join(folder, name), "w").close()
    os.mkdir(os.path.join(folder, "sub"))
    os.mkdir(os.path.join(folder, "empty"))
    _, out = run("ls\n", cwd=folder)
    rows = out.split("\n")[:-1]
    entries = [e for row in rows for e in row.split("\t")[1:]]
    check_that("ls: three names a row, each padded to 18 and a space",
               len(rows) == 3 and all(row.count("\t") == 3 for row in rows[:2])
               and all(len(e) == 19 for e in entries)
               and "a-name-of-nine...  " in entries
               and sorted(e.strip() for e in entries) == sorted(["a-name-of-nine...", "a.txt", "b.txt", "c.txt",
                                                                 "d.txt", "empty/", "sub/"]), out)
    _, out = run("ll\n", cwd=folder)
    rows = out.split("\n")[:-1]
    check_that("ll: one name a row, padded to 66", len(rows) == 7
               and all(row.startswith("\t") and len(row) == 68 for row in rows)
               and "\ta-name-of-nineteen1" + " " * 48 in rows, out)
    _, out = run("ls empty\nls sub\nls 1\ndir %empty\nlist-dir/col %. 0\n1 + 2\n", cwd=folder)
    check_that("empty folders print nothing; bad arguments are errors",
               out.startswith("*** Script Error: list-dir does not allow integer! for its dir argument\n")
               and "*** Script Error: invalid argument: 0\n" in out and out.endswith("== 3\n"), out)
    real = os.path.realpath(folder)
    _, out = run("cd sub\npwd\ncd ..\npwd\ncd %nowhere\npwd\n", cwd=folder)
    check_that("cd and pwd", out.split("\n")[:4] == [f"== %{real}/sub/", f"%{real}/sub/", f"== %{real}/", f"%{real}/"]
               and "*** Access Error: cannot open: " in out and out.endswith(f"%{real}/\n"), out)

finish()
