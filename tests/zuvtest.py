"""What the whole-program tests (the Python scripts of tests/lang and
tests/console) share: running the program, writing scripts, recording checks.
A test script takes the program's path as its first argument and starts with

    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    from zuvtest import ZUV, run, script, check, check_that, finish

ZUV                     the absolute path of the program (sys.argv[1])
WAIT                    seconds to wait for what a check expects (a prompt, an
                        exit) before it fails: generous, so that a slow
                        machine or the stress build under load never fails a
                        test that would pass; a passing check waits only as
                        long as the program takes
run(args=(), stdin="", cwd=None, env=None, timeout=WAIT)
                        runs ZUV with the arguments, stdin (text or bytes) piped
                        in; answers (exit status, standard output as text)
run_each(sources, cwd=None)
                        the sources (texts of whole lines) piped in turn to one
                        run of ZUV, a start-up for them all; answers the output
                        of each source, split where each ended. Words one source
                        sets are seen by the next
script(text, folder=None)
                        writes the text to a new .zuv file (in folder, else the
                        temporary folder); answers its path
check(name, got, expected)
                        a check that passes when got == expected; a failure
                        shows both
check_that(name, ok, shown)
                        a check that passes when ok is true; a failure shows
                        `shown` (the output the check looked at)
finish()                prints the failures and the counts, and ends the script:
                        status 1 when a check failed, else 0
Session(*args, cwd=None, env=None, keep_on_hangup=False)
                        ZUV with the arguments on a pseudo-terminal (a child of
                        pty.fork); .read_until(text) answers (found, what came
                        before) and consumes both, .send(text) types, .wait()
                        answers the exit status once the program ended
"""
import os
import pty
import select
import signal
import subprocess
import sys
import tempfile
import time

ZUV = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else None
WAIT = 600
_failures = []
_passed = 0


def run(args=(), stdin="", cwd=None, env=None, timeout=WAIT):
    data = stdin if isinstance(stdin, bytes) else stdin.encode("utf-8")
    p = subprocess.run([ZUV, *args], input=data, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                       timeout=timeout, cwd=cwd, env=env)
    return p.returncode, p.stdout.decode("utf-8", "replace")


_END_OF_SOURCE = "<<zuvtest: end of source>>"


def run_each(sources, cwd=None):
    marker = f'print "{_END_OF_SOURCE}"\n'
    _, out = run(stdin="".join(source.rstrip("\n") + "\n" + marker for source in sources), cwd=cwd)
    parts = out.split(_END_OF_SOURCE + "\n")
    return parts[:len(sources)] + [""] * (len(sources) - len(parts) + 1)


def script(text, folder=None):
    with tempfile.NamedTemporaryFile("wb", suffix=".zuv", delete=False, dir=folder) as f:
        f.write(text.encode("utf-8"))
    return f.name


def check(name, got, expected):
    check_that(name, got == expected, f"  expected: {expected!r}\n  got:      {got!r}")


def check_that(name, ok, shown):
    global _passed
    if ok:
        _passed += 1
    else:
        _failures.append(f"{name}:\n{shown}")


def finish():
    if _failures:
        print(*_failures, sep="\n")
    print(f"{_passed} passed, {len(_failures)} failed")
    sys.exit(1 if _failures else 0)


class Session:
    """The program on a pseudo-terminal: what it writes is collected as text."""

    def __init__(self, *args, cwd=None, env=None, keep_on_hangup=False):
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            if cwd:
                os.chdir(cwd)
            if keep_on_hangup:
                signal.signal(signal.SIGHUP, signal.SIG_IGN)
            os.execve(ZUV, [ZUV, *args], env or os.environ)
        self.out = b""

    def read_until(self, text, timeout=WAIT):
        want = text.encode("utf-8")
        end = time.time() + timeout
        while want not in self.out and time.time() < end:
            ready, _, _ = select.select([self.fd], [], [], 0.1)
            if ready:
                try:
                    chunk = os.read(self.fd, 4096)
                except OSError:
                    break
                if not chunk:
                    break
                self.out += chunk
        found = want in self.out
        # What came before and with the text is consumed.
        seen, _, self.out = self.out.partition(want) if found else (self.out, b"", b"")
        return found, seen.decode("utf-8", "replace")

    def send(self, text):
        os.write(self.fd, text.encode("utf-8"))

    def wait(self, timeout=WAIT):
        end = time.time() + timeout
        while time.time() < end:
            pid, status = os.waitpid(self.pid, os.WNOHANG)
            if pid:
                try:
                    os.close(self.fd)
                except OSError:
                    pass
                return os.waitstatus_to_exitcode(status)
            try:
                ready, _, _ = select.select([self.fd], [], [], 0.1)
                if ready:
                    os.read(self.fd, 4096)
            except OSError:
                time.sleep(0.05)
        os.kill(self.pid, signal.SIGKILL)
        os.waitpid(self.pid, 0)
        return "timed out"
