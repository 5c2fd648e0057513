#!/usr/bin/env python3
"""Values and work past the program's limits: each is an error that try
catches, the values around it whole, and the next line runs.

Deep values are built with a collection at every 1000th allocation only:
building one level at a time, a collection at every allocation would take
minutes. The memory limits are set on the process's address space, which a
build with AddressSanitizer cannot run under: such a build skips them.

Usage: limits_test.py PATH-TO-ZUV [SANITIZED]   (SANITIZED: ON when built with the sanitizers)
"""
import os
import resource
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from zuvtest import check, finish  # noqa: E402
ZUV = sys.argv[1]
SANITIZED = len(sys.argv) > 2 and sys.argv[2].upper() in ("ON", "1", "TRUE", "YES")


def run(text, limit=None):
    env = dict(os.environ, ZUV_GC_STRESS_PERIOD="1000")
    preexec = (lambda: resource.setrlimit(resource.RLIMIT_AS, (limit, limit))) if limit else None
    p = subprocess.run([ZUV], input=text.encode("utf-8"), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                       timeout=600, env=env, preexec_fn=preexec)
    return p.returncode, p.stdout.decode("utf-8", "replace").splitlines()


# ---- nesting past the call stack: the frames of 20,000 nested parens ----
check("nested parens inside try, the result assigned",
      run("b: quote (1) loop 20000 [b: to paren! reduce [:b]] 0\n"
          "x: reduce [1 try [do b] 2] reduce [length? x first x last x]\n"
          "e: 5 e: try [do b] e/id\n"),
      (0, ["== 0", "== [3 1 2]", "== stack-overflow"]))
# reduce and compose make a block at each level
check("reduce and compose inside themselves",
      run("b: copy [reduce] append/only b b x: reduce [1 try [do b] 2] reduce [length? x first x last x]\n"
          "b: copy [] append/only b to paren! reduce ['compose b] "
          "e: 5 e: try [compose b] x: reduce [1 try [compose b] 2] reduce [e/id length? x last x]\n"),
      (0, ["== [3 1 2]", "== [stack-overflow 3 2]"]))

# ---- values nested deeper than a walk goes ----
check("deep blocks given to binary! and bitset!",
      run("b: [1] loop 2000 [b: reduce [b]] e: try [to binary! b] e/id\n"
          "b: [#\"a\"] loop 4000 [b: reduce [b]] e: try [charset b] e/id\n"
          "e: try [append #{} b] e/id\n1 + 1\n"),
      (0, ["== too-deep", "== too-deep", "== too-deep", "== 2"]))


# ---- memory limits ----
def run_limited(setup, text, headroom):
    """Runs the setup line, then limits the program's address space to what
    it holds plus headroom bytes, then runs the text: the status and the
    lines the text printed."""
    p = subprocess.Popen([ZUV], stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    p.stdin.write((setup + " recycle 0\n").encode("utf-8"))
    p.stdin.flush()
    while p.stdout.readline().rstrip(b"\n") != b"== 0":
        pass
    with open(f"/proc/{p.pid}/status") as f:
        size = next(int(line.split()[1]) * 1024 for line in f if line.startswith("VmSize:"))
    resource.prlimit(p.pid, resource.RLIMIT_AS, (size + headroom, size + headroom))
    out, _ = p.communicate(text.encode("utf-8"), timeout=600)
    return p.returncode, out.decode("utf-8", "replace").splitlines()


if not SANITIZED:
    # An endless file read without a part grows past the limit.
    check("read of /dev/zero", run_limited("1", "e: try [read %/dev/zero] e/id\n1 + 1\n", 64 << 20),
          (0, ["== no-memory", "== 2"]))
    # sort copies the text (96 MB, more than the C++ heap keeps in reserve)
    # into a C++ buffer that does not fit.
    check("sort of a long string",
          run_limited('s: append/dup make string! 0 "\U0001F600" 24000000', "e: try [sort s] e/id\nlength? s\n",
                      16 << 20),
          (0, ["== no-memory", "== 24000000"]))
    # 300,000 small blocks stay live; blocks of 1.6 MB are made and dropped
    # while the heap may no longer grow by what survived: a collection
    # frees them, so the work goes on.
    check("garbage made near the limit is collected, not refused",
          run_limited("keep: make block! 0 loop 300000 [append/only keep make block! 8]",
                      "loop 2000 [x: make block! 100000] 1\nlength? keep\n", 48 << 20),
          (0, ["== 1", "== 300000"]))

if SANITIZED:
    print("memory limits skipped: sanitizers")
finish()
