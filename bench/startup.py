#!/usr/bin/env python3
"""Start-up: from starting `zuv` on a terminal to its first prompt, against
starting and ending `python3 -c pass` and `lua5.4 -e ''`.

The zuv time is taken through a pseudo-terminal up to the moment ">> " is
written (the whole start-up: runtime, boot code, library, console, banner);
the zuv process is then ended. Its time with redirected, empty input (start-up
to the first read, then the normal end) is shown as well. A benchmark, not a
test: it always exits 0; a program that is missing is left out.

Usage: startup.py PATH-TO-ZUV [RUNS]   (a Release build)
"""
import os
import pty
import select
import shutil
import signal
import subprocess
import sys
import time

ZUV = os.path.abspath(sys.argv[1])
RUNS = int(sys.argv[2]) if len(sys.argv) > 2 else 20


def to_first_prompt():
    start = time.perf_counter()
    pid, fd = pty.fork()
    if pid == 0:
        os.execv(ZUV, [ZUV])
    seen = b""
    elapsed = None
    while elapsed is None:
        ready, _, _ = select.select([fd], [], [], 10)
        if not ready:
            break
        try:
            chunk = os.read(fd, 4096)
        except OSError:
            break
        if not chunk:
            break
        seen += chunk
        if b">> " in seen:
            elapsed = time.perf_counter() - start
    os.kill(pid, signal.SIGKILL)
    os.waitpid(pid, 0)
    os.close(fd)
    return elapsed if elapsed is not None else float("inf")


def run_to_end(command):
    start = time.perf_counter()
    subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


measures = {
    "zuv to first prompt": to_first_prompt,
    "zuv, empty redirected input": lambda: run_to_end([ZUV]),
}
# The interpreter running this script, not a version-manager shim in front of it.
for name, command in (("python3 -c pass", [sys.executable, "-c", "pass"]), ("lua5.4 -e ''", ["lua5.4", "-e", ""])):
    if shutil.which(command[0]) or os.path.exists(command[0]):
        measures[name] = lambda command=command: run_to_end(command)

# The runs alternate between the programs so that a change of machine load
# falls on all of them alike.
times = {name: [] for name in measures}
for _ in range(RUNS):
    for name, measure in measures.items():
        times[name].append(measure())

median = {name: sorted(t)[len(t) // 2] for name, t in times.items()}
base = median["zuv to first prompt"]
print(f"start-up, median of {RUNS} runs:")
for name, t in median.items():
    ratio = f"   zuv / this = {base / t:.2f}" if not name.startswith("zuv") else ""
    print(f"  {name:30s} {t * 1000:8.2f} ms{ratio}")
sys.exit(0)
