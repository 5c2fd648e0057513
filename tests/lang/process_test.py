#!/usr/bin/env python3
"""Child processes and the clipboard as the whole program shows them: where a
child's streams go, children reaped before each prompt, Ctrl+C while a call
waits, and the X clipboard under Xvfb through xclip (skipped, with a message,
when either is missing).

Usage: process_test.py PATH-TO-ZUV
"""
import os
import select
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from zuvtest import ZUV, Session, check, finish  # noqa: E402


def run(stdin, env=None):
    p = subprocess.run([ZUV], input=stdin.encode("utf-8"), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                       timeout=60, env=env)
    return p.stdout.decode("utf-8", "replace")


def run_script(text, env=None):
    with tempfile.NamedTemporaryFile("w", suffix=".zuv", encoding="utf-8") as f:
        f.write("Zuv []\n" + text)
        f.flush()
        p = subprocess.run([ZUV, f.name], stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60, env=env)
    return p.stdout.decode("utf-8", "replace")


def wait_for(condition, what, timeout=20):
    """Waits until condition() holds (checked every 10 ms)."""
    end = time.time() + timeout
    while not condition():
        if time.time() > end:
            raise RuntimeError("timed out waiting for " + what)
        time.sleep(0.01)


def proc_stat(pid):
    """(state, parent pid) of a process, or None when there is none."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return fields[0], int(fields[1])
    except (FileNotFoundError, ProcessLookupError):
        return None


def children(pid):
    found = []
    for name in os.listdir("/proc"):
        if name.isdigit():
            stat = proc_stat(name)
            if stat and stat[1] == pid:
                found.append(int(name))
    return found


# ---- streams: a child's output goes to the null device, or with /console
# to the program's own output, after what the program wrote before ----
check("console", run('prin "a" call/console "echo b" call/wait "echo hidden"\n'), "ab\n== 0\n")

# ---- a child not waited for is reaped before the next prompt ----
zuv = subprocess.Popen([ZUV], stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
zuv.stdin.write(b'print call "true"\n')
zuv.stdin.flush()
pid = int(zuv.stdout.readline())
wait_for(lambda: (proc_stat(pid) or ("Z",))[0] == "Z", "the child to end")
zuv.stdin.write(b'print "next"\nprint "third"\n')
zuv.stdin.flush()
zuv.stdout.readline()
zuv.stdout.readline()  # the prompt before this line's read has reaped
stat = proc_stat(pid)
check("reaped before the prompt", stat is None or stat[1] != zuv.pid, True)
zuv.stdin.close()
zuv.wait(timeout=20)

# ---- Ctrl+C halts a call waiting for a child that ignores it ----
s = Session()
s.read_until(">> ")
s.send("call/wait/shell \"trap '' INT; exec sleep 30\"\r")
wait_for(lambda: children(s.pid), "the child to start")
sleeper = children(s.pid)[0]
start = time.time()
s.send("\x03")
check("halted", s.read_until("(halted)")[0] and s.read_until(">> ")[0], True)
check("at once, the child killed and reaped", (time.time() - start < 10, proc_stat(sleeper)), (True, None))
s.send("quit\r")
check("quit ends the console", s.wait(), 0)

# ---- the X clipboard ----
CASES = r"""
probe read-clipboard
probe write-clipboard "a^/b€"
probe read-clipboard
probe write-clipboard reduce [%/tmp/a.txt %"/tmp/b c%é.txt"]
probe read-clipboard
probe write-clipboard []
probe read-clipboard
probe write-clipboard none
probe read-clipboard
probe write-clipboard ""
probe read-clipboard
probe error? try [write-clipboard 12]
img: make image! [2x1 #{FF000000FF00}]
r: try [write-clipboard img]
probe either error? r [r/id = 'not-done] [(read-clipboard) = img]
write-clipboard "x^/y"
"""
EXPECTED = ('none\ntrue\n"a^/b€"\ntrue\n[%/tmp/a.txt %"/tmp/b c%é.txt"]\ntrue\n[]\ntrue\nnone\ntrue\n""\n'
            'true\ntrue\n')


def x_clipboard():
    r, w = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-nolisten", "tcp"], pass_fds=(w,),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(w)
    number = b""
    while not number.endswith(b"\n") and select.select([r], [], [], 20)[0]:
        chunk = os.read(r, 16)
        if not chunk:
            break
        number += chunk
    os.close(r)
    if not number.strip():
        xvfb.kill()
        xvfb.wait(timeout=20)
        print("skipped: the X clipboard cases (Xvfb did not start)")
        return
    try:
        env = dict(os.environ, DISPLAY=":" + number.decode().strip())
        xclip = ["xclip", "-selection", "clipboard"]
        check("the cases", run_script(CASES, env), EXPECTED)
        # What others see and give.
        got = subprocess.run(xclip + ["-o", "-t", "UTF8_STRING"], env=env, capture_output=True, timeout=20)
        check("text for others", got.stdout, b"x\ny")
        subprocess.run(xclip + ["-i", "-t", "text/uri-list"], input=b"# list\r\nfile:///tmp/p%20q\r\n", env=env,
                       stderr=subprocess.DEVNULL, timeout=20)
        check("files from others", run("probe read-clipboard\n", env), '[%"/tmp/p q"]\n== [%"/tmp/p q"]\n')
    finally:
        xvfb.terminate()
        xvfb.wait(timeout=20)
    # A display that cannot be reached: false both ways.
    env = dict(os.environ, DISPLAY=":65000")
    check("no display", run("probe read-clipboard probe write-clipboard {t}\n", env), "false\nfalse\n== false\n")


if shutil.which("Xvfb") and shutil.which("xclip"):
    x_clipboard()
else:
    print("skipped: the X clipboard cases (Xvfb or xclip is missing)")

finish()
