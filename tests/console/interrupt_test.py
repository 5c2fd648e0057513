#!/usr/bin/env python3
"""Ctrl+C at the console in a real terminal (a private tmux server): a halt
request while a command waits, and SIGINTs that arrive together while the
prompt waits for input, must halt the command or drop the line and give the
prompt back, never end the program.

Usage: interrupt_test.py PATH-TO-ZUV
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

ZUV = os.path.abspath(sys.argv[1])
DEADLINE = 30
failures = []
passed = 0

if not shutil.which("tmux"):
    print("tmux is not installed (tools/install-deps.sh installs it)")
    sys.exit(1)

home = tempfile.mkdtemp()
server = f"zuv-interrupts-{os.getpid()}"
env = dict(os.environ, LC_ALL="C.UTF-8", SHELL="/bin/sh", HOME=home)
env.pop("TMUX", None)


def tmux(*args):
    return subprocess.run(["tmux", "-L", server, "-f", "/dev/null", *args], env=env, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True, timeout=30).stdout


def rows():
    """The screen's rows, blanks cut at the end, empty rows dropped."""
    return [r.rstrip() for r in tmux("capture-pane", "-p", "-t", "main").split("\n") if r.strip()]


def wait_for(condition, what):
    end = time.time() + DEADLINE
    while True:
        screen = rows()
        if condition(screen):
            return screen
        if time.time() > end:
            raise TimeoutError(f"{what}; the screen:\n" + "\n".join(screen))
        time.sleep(0.05)


def check(name, ok, detail=""):
    global passed
    if ok:
        passed += 1
    else:
        failures.append(f"{name}\n{detail}")


def alive(pid):
    """The program still runs in the pane (a dead pane stays, as remain-on-exit keeps it)."""
    return tmux("display-message", "-p", "-t", "main", "#{pane_dead}").strip() == "0"


def enter(line, result):
    """Types a line; true when its result row shows above a new prompt."""
    tmux("send-keys", "-t", "main", "-l", line)
    tmux("send-keys", "-t", "main", "Enter")
    try:
        wait_for(lambda s: len(s) >= 2 and s[-1] == ">>" and s[-2] == result, f"{result!r} after {line!r}")
        return True
    except TimeoutError as e:
        failures.append(str(e))
        return False


try:
    # The program is the pane's own process: the pane's pid is the program's.
    # The pane stays when the program ends, so that what it printed last is seen.
    tmux("new-session", "-d", "-s", "main", "-x", "80", "-y", "24", ZUV, ";",
         "set-option", "-t", "main", "remain-on-exit", "on")
    pid = int(tmux("display-message", "-p", "-t", "main", "#{pane_pid}").strip())
    wait_for(lambda s: s and s[-1] == ">>", "the first prompt")

    # ---- Ctrl+C while a command waits ----
    for attempt in range(3):
        tmux("send-keys", "-t", "main", "-l", "wait 10")
        tmux("send-keys", "-t", "main", "Enter")
        wait_for(lambda s: s and s[-1] == ">> wait 10", "wait 10 running")
        time.sleep(0.3)
        started = time.time()
        tmux("send-keys", "-t", "main", "C-c")
        screen = wait_for(lambda s: not alive(pid) or (s and s[-1] == ">>"), "(halted) after Ctrl+C")
        check(f"Ctrl+C during wait halts it at once (try {attempt + 1})",
              alive(pid) and len(screen) >= 2 and screen[-2].endswith("(halted)") and time.time() - started < 5, "\n".join(screen))
        check(f"the prompt works after the halted wait (try {attempt + 1})", enter(f"{attempt} + 1", f"== {attempt + 1}"))

    # ---- two SIGINTs together while the prompt waits for input ----
    ended = None
    for attempt in range(20):
        os.kill(pid, signal.SIGINT)
        os.kill(pid, signal.SIGINT)
        time.sleep(0.15)
        if not alive(pid):
            ended = attempt + 1
            break
    check("two SIGINTs sent together, 20 times, never end the console", ended is None,
          f"ended after {ended} pairs:\n" + "\n".join(rows()))
    if ended is None:
        check("the prompt works after the signals", enter("2 + 2", "== 4"))
        check("nothing escaped the prompt loop", not any("***" in r for r in rows()), "\n".join(rows()))
except TimeoutError as e:
    failures.append(str(e))
finally:
    socket = tmux("display-message", "-p", "#{socket_path}").strip()
    tmux("kill-server")
    if socket:
        try:
            os.unlink(socket)
        except OSError:
            pass
    shutil.rmtree(home, ignore_errors=True)

for f in failures:
    print("FAILED:", f)
print(f"{passed} passed, {len(failures)} failed")
sys.exit(1 if failures else 0)
