#!/usr/bin/env python3
"""The program's modes: lines piped to the console, and scripts.

Usage: program_test.py PATH-TO-ZUV
"""
import os
import socket
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from zuvtest import ZUV, WAIT, run, script, check, finish  # noqa: E402


# ---- piped lines ----
check("one line", run(stdin="append [1 2] 3\n"), (0, "== [1 2 3]\n"))
check("last line without a line feed", run(stdin="[a b]"), (0, "== [a b]\n"))
check("each line in turn, words kept between lines",
      run(stdin="x: 10\n\nx\n"), (0, "== 10\n== 10\n"))
check("CR LF line ends", run(stdin="[1]\r\n[2]\r\n"), (0, "== [1]\n== [2]\n"))
check("empty input", run(stdin=""), (0, ""))

status, out = run(stdin="no-such-word\n[ok]\n")
check("an error is reported and the next line still runs",
      (status, out.startswith("*** Script Error: no-such-word has no value\n"), out.endswith("\n\n== [ok]\n")),
      (0, True, True))
status, out = run(stdin="[1 2)\n[ok]\n")
check("a syntax error", (status, out.startswith("*** Syntax Error: (line 1) missing"), out.endswith("== [ok]\n")),
      (0, True, True))
status, out = run(stdin=b"\"a\xff\xe2\x82\"\n")
check("invalid UTF-8 becomes U+FFFD", (status, out), (0, '== "a\ufffd\ufffd"\n'))

# Reports in full: the Near of each is its own line, also after an error
# left an evaluation and the collector freed that line's code.
status, out = run(stdin="x:\nf: func [] [a] f\n")
check("reports of a set-word without value and of an error in a function", (status, out),
      (0, "*** Script Error: x: needs a value\n*** Where: x\n*** Near : x:\n*** Stack:  \n\n"
          "*** Script Error: a has no value\n*** Where: f\n*** Near : a\n*** Stack: f \n\n"))
def last_near(out):
    return [l for l in out.splitlines() if l.startswith("*** Near")][-1]
status, out = run(stdin='a\n1\nrecycle\nx: "abc\n')
check("a syntax error after a collection is near its own text", (status, last_near(out)), (0, '*** Near : x: "abc'))
status, out = run(stdin="1 / 0\nx: 5\n(1]\n")
check("a syntax error is near the text typed, not an earlier error's code",
      (status, out.splitlines()[-5:-3], last_near(out)),
      (0, ["== 5", "*** Syntax Error: (line 1) missing [ at ]"], "*** Near : (1]"))

# Lone surrogates: molded as escapes, printed as U+FFFD; the lines go on.
p = subprocess.run([ZUV], input=b'"^(DC00)"\nprint "a^(D800)b"\n1\n', stdout=subprocess.PIPE, timeout=WAIT)
check("lone surrogates", (p.returncode, p.stdout), (0, '== "^(DC00)"\na\ufffdb\n== 1\n'.encode("utf-8")))

# compose/deep of a cyclic or 100,000-deep block overflows the stacks: an
# error that try catches, and a report when uncaught; the lines go on. Their
# many allocations would take minutes with a collection at every one.
status, out = run(stdin="x: [a] append/only x x e: try [compose/deep x] e/id\n"
                        "b: [] loop 100000 [b: reduce [b]] e: try [compose/deep b] e/id\n"
                        "compose/deep x\n1\n", env=dict(os.environ, ZUV_GC_STRESS_PERIOD="1000"))
check("stack overflows through compose/deep", (status, out.splitlines()[:3], out.splitlines()[-1]),
      (0, ["== stack-overflow", "== stack-overflow", "*** Internal Error: stack overflow"], "== 1"))

# The fork server of the random-program harness (ZUV_FORK_SERVER): at the end
# of its input the program forks one child per request; each child reads,
# writes and ends as a fresh process would, from the words its parent set.
# (A forked child's exit is no place for the sanitizer's leak check: the
# threads it knew of in its parent are not in it, as the harness knows.)
def fork_server_runs():
    mine, theirs = socket.socketpair()
    env = dict(os.environ, ZUV_FORK_SERVER=str(theirs.fileno()), ASAN_OPTIONS="detect_leaks=0")
    server = subprocess.Popen([ZUV], stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env,
                              pass_fds=[theirs.fileno()])
    theirs.close()
    server.stdin.write(b"x: 10\n")
    server.stdin.close()

    def number():
        data = b""
        while len(data) < 4:
            chunk = mine.recv(4 - len(data))
            if not chunk:
                return None
            data += chunk
        return int.from_bytes(data, sys.byteorder, signed=True)

    children = []
    for text in (b"x + 1\n1 / 0\nx: 20 quit/return 3\n", b"x\n"):
        with tempfile.TemporaryFile() as i, tempfile.TemporaryFile() as o:
            i.write(text)
            i.seek(0)
            socket.send_fds(mine, [b"r"], [i.fileno(), o.fileno(), o.fileno()])
            pid, status = number(), number()
            o.seek(0)
            children.append((pid != server.pid, os.waitstatus_to_exitcode(status), o.read().decode()))
    mine.close()
    return children, server.wait(WAIT), server.stdout.read().decode()


children, status, out = fork_server_runs()
check("fork server", (children, status, out),
      ([(True, 3, "== 11\n*** Math Error: attempt to divide by zero\n*** Where: /\n*** Near : 1 / 0\n*** Stack:  \n\n"),
        (True, 0, "== 10\n")], 0, "== 10\n"))

# ---- scripts ----
path = script("Zuv [Title: \"t\"]\nx: append [1] 2\n")
check("a script runs quietly", run([path]), (0, ""))
os.unlink(path)

path = script("; text before the header is skipped\nprint-this\nZuv\t[]\n[1] [2\n")
status, out = run([path])
check("a script's syntax error ends it with status 1", (status, out.startswith("*** Syntax Error")), (1, True))
os.unlink(path)

path = script("Zuv []\nx: 1\nno-such-word\n")
status, out = run([path])
check("a script's error ends it with status 1",
      (status, out.startswith("*** Script Error: no-such-word has no value")), (1, True))
os.unlink(path)

path = script("zuv [] 1\n")
check("no header (the header word is case-sensitive)", run([path]), (1, "*** Error: Zuv header not found!\n"))
os.unlink(path)

status, out = run(["/nonexistent/script.zuv"], stdin="1 + 1\n")
check("an unreadable script is reported, then the prompt loop runs",
      (status, out.startswith("*** Access Error: cannot open: %/nonexistent/script.zuv\n"), out.endswith("== 2\n")),
      (0, True, True))

finish()
