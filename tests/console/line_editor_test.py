#!/usr/bin/env python3
"""The line editor in a real terminal: the program runs in a pane of a private
tmux server (80x24), keys are sent with send-keys and the screen is read with
capture-pane. Every check waits for the screen it expects, up to a deadline.

Usage: line_editor_test.py PATH-TO-ZUV
"""
import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from zuvtest import ZUV, check, check_that, finish  # noqa: E402

DEADLINE = 60  # seconds: a sanitizer build starts slowly


class TimedOut(Exception):
    pass


class Tmux:
    """A private tmux server with one 80x24 window per session."""

    def __init__(self):
        self.name = f"zuv-line-editor-{os.getpid()}"
        self.env = dict(os.environ, LC_ALL="C.UTF-8", SHELL="/bin/sh")
        self.env.pop("TMUX", None)

    def run(self, *args):
        return subprocess.run(["tmux", "-L", self.name, "-f", "/dev/null", *args], env=self.env,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=30).stdout

    def start(self, session, command):
        self.run("new-session", "-d", "-s", session, "-x", "80", "-y", "24", command)
        return Pane(self, session)

    def close(self):
        socket = self.run("display-message", "-p", "#{socket_path}").strip()
        self.run("kill-server")
        if socket:
            try:
                os.unlink(socket)
            except OSError:
                pass


class Screen:
    """What a pane showed at one moment: its rows and its cursor."""

    def __init__(self, rows, x, y):
        self.rows, self.x, self.y = rows, x, y

    def row(self, offset=0):
        """The cursor's row (or one below or above it), blanks cut at the end."""
        at = self.y + offset
        return self.rows[at].rstrip() if 0 <= at < len(self.rows) else ""

    def at_prompt(self, above):
        """A new prompt with an empty line, the row above it showing above."""
        return self.row() == ">>" and self.row(-1) == above

    def __str__(self):
        return "\n".join(self.rows).rstrip()


class Pane:
    def __init__(self, tmux, session):
        self.tmux = tmux
        self.target = session

    def keys(self, *keys):
        """tmux key names (Up, C-a, BSpace, ...) and literal words."""
        self.tmux.run("send-keys", "-t", self.target, *keys)

    def text(self, text):
        self.tmux.run("send-keys", "-t", self.target, "-l", text)

    def raw(self, data):
        """Bytes as they are, for sequences that tmux's key names do not send."""
        self.tmux.run("send-keys", "-t", self.target, "-H", *(f"{b:02x}" for b in data))

    def look(self, escapes=False):
        """The screen and the cursor, read by one call."""
        out = self.tmux.run("capture-pane", "-p", "-t", self.target, *(["-e"] if escapes else []), ";",
                            "display-message", "-p", "-t", self.target, "#{cursor_x} #{cursor_y}")
        lines = out.split("\n")
        x, y = lines[-2].split() if len(lines) >= 2 and len(lines[-2].split()) == 2 else (0, 0)
        return Screen(lines[:-2][:24], int(x), int(y))

    def wait(self, condition, what):
        """Reads the screen until condition(screen) holds; answers that screen."""
        end = time.time() + DEADLINE
        pause = 0.01  # growing: a long wait (a slow start) reads the screen seldom
        while True:
            screen = self.look()
            if condition(screen):
                return screen
            if time.time() > end:
                raise TimedOut(f"{what}; the screen:\n{screen}")
            time.sleep(pause)
            pause = min(pause * 1.5, 0.25)

    def wait_line(self, text):
        """Waits until the cursor's row shows text (the prompt and the line)."""
        return self.wait(lambda s: s.row() == text, f"the line {text!r}")

    def enter(self, line, result):
        """Types a line, then waits for its result row and the next prompt."""
        self.text(line)
        self.keys("Enter")
        return self.wait(lambda s: s.at_prompt(result), f"{result!r} after {line!r}")

    def escape(self):
        """Drops the line with Escape and waits for the next prompt."""
        self.keys("Escape")
        return self.wait(lambda s: s.at_prompt("(escape)"), "(escape) and a prompt")


def stty_restored(pane, status):
    """Waits for the shell's report after the program ended: its status and
    whether stty -a shows the canonical mode and echo again."""
    screen = pane.wait(lambda s: "[end]" in s.rows, "the status and stty -a")
    flags = set(re.findall(r"(?<![\w-])(-?(?:icanon|echo))\b", str(screen)))
    return f"[status {status}]" in str(screen), {"icanon", "echo"} <= flags


folder = tempfile.mkdtemp()
home = os.path.join(folder, "home")
os.mkdir(home)


def shell_command(name, *args):
    """A pane that runs the program, then reports its status and the terminal's mode."""
    inner = os.path.join(folder, f"{name}-inner.sh")
    with open(inner, "w") as f:
        f.write(f"echo $$ > {shlex.quote(os.path.join(folder, name + '.pid'))}\n"
                f"HOME={shlex.quote(home)} exec {shlex.join([ZUV, *args])}\n")
    outer = os.path.join(folder, f"{name}.sh")
    with open(outer, "w") as f:
        f.write(f"sh {shlex.quote(inner)}\necho \"[status $?]\"\nstty -a\necho '[end]'\nexec sleep 600\n")
    return f"sh {shlex.quote(outer)}"


if not shutil.which("tmux"):
    print("tmux is not installed (tools/install-deps.sh installs it)")
    sys.exit(1)

tmux = Tmux()
try:
    main = tmux.start("main", shell_command("main"))
    # Sessions that end the program in other ways start now and boot meanwhile.
    by_ctrl_d = tmux.start("ctrl-d", shell_command("ctrl-d"))
    by_ctrl_c = tmux.start("ctrl-c", shell_command("ctrl-c"))
    by_sigterm = tmux.start("sigterm", shell_command("sigterm"))
    script = os.path.join(folder, "ask.zuv")
    with open(script, "w") as f:
        f.write('Zuv [] forever [print ask "? "]\n')
    in_script = tmux.start("script", shell_command("script", script))

    try:
        main.wait_line(">>")

        # ---- history (newest first): Up past the oldest empties the line ----
        for n in ("3", "2", "1"):
            main.enter(n, f"== {n}")
        for walk in ((("Up", ">> 1"), ("Up", ">> 2"), ("Down", ">> 2"), ("Down", ">> 1"), ("Down", ">>")),
                     (("C-p", ">> 1"), ("C-p", ">> 2"), ("C-p", ">> 3"), ("C-p", ">>"), ("C-n", ">> 3"))):
            for key, shown in walk:
                main.keys(key)
                main.wait_line(shown)
            check_that('history walks with Up/Down and Ctrl+P/Ctrl+N, Up past the oldest empties the line', True, "")
        main.keys("C-a", "C-k")
        main.wait_line(">>")

        # ---- what the history keeps ----
        main.enter("x: 1", "== 1")
        main.enter("x: 1", "== 1")
        main.enter("X: 1", "== 1")
        main.enter("copy/part system/console/history 4",
                   '== ["copy/part system/console/history 4" "X: 1" "x: 1" "1"]')
        check_that('the same line twice is stored once, differing in case again', True, "")
        # The question is the prompt; a hidden answer shows stars.
        main.keys('length? ask/hide "pw: "', "Enter")
        main.wait_line("pw:")
        main.text("secret")
        main.wait_line("pw: ******")
        main.keys("Enter")
        main.wait(lambda s: s.at_prompt("== 6"), "== 6")
        main.enter('find system/console/history "secret"', "== none")
        main.keys('s: ask "? "', "Enter")
        main.wait_line("?")
        main.keys("hello", "Enter")
        main.wait_line(">>")
        main.enter('append s "!"', '== "hello!"')
        main.enter("pick system/console/history 3", '== "hello"')
        check_that('a hidden answer is not stored; changing an answer leaves the history', True, "")
        main.keys('b: copy [] ask/history "? " b', "Enter")
        main.wait_line("?")
        main.keys("zz", "Enter")
        main.wait_line(">>")
        main.enter("b", '== ["zz"]')
        check_that('ask/history stores into the given block', True, "")

        # ---- editing keys: each line is a string, its result shows the edit ----
        for keys, result in (
                (['"abcdef"', "Left", "Left", "X"], '"abcdeXf"'),
                (['"abc"', "Home", "Right", "X", "End", "Left", "Y"], '"XabcY"'),  # tmux's Home is ESC [ 1 ~
                (['"abc"', b"\x1b[H", "Right", "X"], '"Xabc"'),
                (['"abc"', b"\x1bOH", "Right", "Y"], '"Yabc"'),
                (['"abcd"', "Left", "BSpace", "C-h"], '"ab"'),                   # 127 and 8
                (['"abcd"', "Home", "Right", "DC"], '"bcd"'),                    # Delete
                (['"abc"', "C-a", "C-f", "X", "C-e", "C-b", "Z"], '"XabcZ"'),
                (['"abcdef"', "C-b", "C-b", "C-b", "C-k", '"'], '"abcd"'),
                (['"abc"', "Home", "Right", "C-d"], '"bc"'),                     # Ctrl+D deletes under the cursor
                (['"abcx"', "C-d", "Left", "Left", "C-d"], '"abc"'),             # ... and nothing at the tail
                (['"aé中b"', "Left", "Left", "BSpace"], '"aéb"'),
                (["1 +", "Home", "2 + ", "End", " 3"], "6"),
        ):
            for k in keys:
                if isinstance(k, bytes):
                    main.raw(k)
                else:
                    main.keys(k)
            main.keys("Enter")
            screen = main.wait(lambda s: s.row() == ">>" and s.row(-1).startswith(("==", "***")),
                               f"the result of {keys!r}")
            check(f"editing keys {keys!r}", screen.row(-1), f"== {result}")

        # ---- Escape on a continuation line; Tab on an empty line ----
        main.keys("[1 2", "Enter")
        main.wait_line("[")  # the cue: the open bracket and four blanks
        main.keys("3")
        main.wait_line("[    3")
        screen = main.escape()
        check("Escape on a continuation line drops both lines", screen.row(-2), "[    3")
        main.enter("1 + 1", "== 2")
        main.keys("Tab")
        main.wait(lambda s: s.x == 7, "the tab's four columns")
        main.keys("7")
        main.wait_line(">>     7")
        main.keys("Enter")
        main.wait(lambda s: s.at_prompt("== 7"), "== 7")
        check_that('Escape on a continuation line, Tab on an empty line inserts four blanks', True, "")

        # ---- wrapping at 80 columns ----
        main.text("x" * 79)
        screen = main.wait(lambda s: s.row() == "xx", "the wrapped row")
        check("a 79-character line wraps to a second row", (screen.row(-1), screen.x), (">> " + "x" * 77, 2))
        main.escape()
        main.text("x" * 76 + "中")
        screen = main.wait(lambda s: s.row() == "中", "the wide character's row")
        check("a wide character that would start in the last column starts the next row",
              (screen.row(-1), screen.x), (">> " + "x" * 76, 2))
        main.keys("Left")
        main.wait(lambda s: s.x == 0 and s.row() == "中", "the cursor before the wide character")
        main.escape()
        main.text("x" * 75)
        main.keys("Tab", "y")
        screen = main.wait(lambda s: s.row() == "  y", "the tab's end on the next row")
        check("a tab near the edge continues on the next row", (screen.row(-1), screen.x), (">> " + "x" * 75, 3))
        main.escape()
        main.text("x" * 77)
        screen = main.wait(lambda s: s.row(-1) == ">> " + "x" * 77, "the full row")
        check("a line that fills its row exactly leaves the cursor on a new row", (screen.row(), screen.x), ("", 0))
        main.escape()
        main.enter('insert system/console/history rejoin ["a" escape "[31mred" escape "[0mb"] 1', "== 1")
        main.keys("Up")
        main.wait_line(">> aredb")
        screen = main.look(escapes=True)
        check("an SGR colour sequence inside the line takes no columns and is written through",
              (screen.x, "\x1b[31mred" in screen.rows[screen.y]), (8, True))
        main.escape()

        # ---- a resize: the next key redraws at the new width ----
        main.text("y" * 70)
        main.wait_line(">> " + "y" * 70)
        tmux.run("resize-window", "-t", "main", "-x", "60")
        main.keys("Home", "z")
        screen = main.wait(lambda s: s.row() == ">> z" + "y" * 56, "the line redrawn at 60 columns")
        check("after a resize the line is drawn at the new width", (screen.row(1), screen.x), ("y" * 14, 4))
        main.escape()
        main.enter("system/console/size/x", "== 60")
        # tmux may pass this one on later: nothing below depends on the width.
        tmux.run("resize-window", "-t", "main", "-x", "80")

        # ---- two lines pasted at once are both evaluated ----
        tmux.run("set-buffer", "100 + 1\n200 + 2\n")
        tmux.run("paste-buffer", "-t", "main")
        main.wait(lambda s: s.at_prompt("== 202") and s.row(-3) == "== 101", "both results")
        check_that('two lines pasted at once are both evaluated', True, "")

        # ---- completion on Tab ----
        main.text("appe")
        main.keys("Tab")
        screen = main.wait(lambda s: s.row() == ">> append", "appe completed")
        check("one candidate completes the word, the cursor after it", screen.x, 9)
        main.enter(" [1] 2", "== [1 2]")
        main.text("print appe [3] 4")
        main.keys(*["Left"] * 6, "Tab")
        screen = main.wait(lambda s: s.row() == ">> print append [3] 4", "the word before the cursor completed")
        check("in mid-line the word before the cursor completes, the rest kept", screen.x, 15)
        main.keys("Enter")
        main.wait(lambda s: s.at_prompt("3 4"), "3 4")
        # Several: the list is shown as the line, the next prompt holds the common part.
        main.text("to-")
        main.keys("Tab")
        screen = main.wait(lambda s: s.row() == ">> to-" and s.x == 6 and any("to-integer" in r for r in s.rows),
                           "the candidates, then the common part on the next prompt")
        start = max(i for i in range(screen.y) if screen.rows[i].startswith(">> to-"))
        shown = "".join(row.ljust(80) for row in screen.rows[start:screen.y])[3:].split()
        check("to- lists its candidates on the prompt line, sorted",
              (shown[0], "to-integer" in shown, shown == sorted(shown, key=str.lower),
               all(w.startswith("to-") for w in shown)), ("to-binary", True, True, True))
        main.text("in")
        main.keys("Tab")
        main.wait_line(">> to-integer")
        main.enter(" 2.5", "== 2")
        main.text("system/con")
        main.keys("Tab")
        main.wait_line(">> system/console")
        main.escape()
        main.text("%")
        main.keys("Tab", "x")
        main.wait(lambda s: s.row() == ">> %    x" and s.x == 9, "% and a tab")
        main.escape()
        files = os.path.join(folder, "files")
        os.makedirs(os.path.join(files, "bad"))
        for name in (b"alpha.txt", b"beta.txt", b"bad/\xffname"):
            open(os.path.join(files.encode(), name), "w").close()
        main.enter(f"change-dir %{files}/", f"== %{files}/")
        main.text("%al")
        main.keys("Tab")
        main.wait_line(">> %alpha.txt")
        main.enter("", "== %alpha.txt")
        # A folder that cannot be listed (a name that is not UTF-8): the error
        # gives no candidates, and the console goes on.
        main.text("%bad/")
        main.keys("Tab", "x")
        main.wait(lambda s: s.row() == ">> %bad/    x", "the tab after an error in completion")
        main.escape()
        main.enter("1 + 1", "== 2")
        # A hidden answer is not completed; input shows no prompt.
        main.keys('length? ask/hide "pw: "', "Enter")
        main.wait_line("pw:")
        main.text("appe")
        main.keys("Tab", "Enter")
        main.wait(lambda s: s.at_prompt("== 5"), "== 5")
        main.keys("input", "Enter")
        main.wait(lambda s: s.row() == "" and s.row(-1) == ">> input", "input's empty prompt")
        main.keys("hi", "Enter")
        main.wait(lambda s: s.at_prompt('== "hi"'), '== "hi"')
        check_that("completion of a file name; an unlistable folder; none inside hidden input; input's empty prompt", True, "")

        main.keys("quit", "Enter")
        check("after quit the terminal is as it was found", stty_restored(main, 0), (True, True))
    except TimedOut as e:
        check_that("main session", False, f"timed out waiting for {e}")

    for pane, ending, what in ((by_ctrl_d, ["C-d"], "Ctrl+D on an empty line"),
                               (by_ctrl_c, ["1 + 1", "C-c"], "Ctrl+C with text in the line")):
        try:
            pane.wait_line(">>")
            pane.keys(*ending)
            check(f"{what} ends the console with status 0, the terminal restored", stty_restored(pane, 0),
                  (True, True))
        except TimedOut as e:
            check_that(what, False, f"timed out waiting for {e}")
    try:
        by_sigterm.wait_line(">>")
        by_sigterm.keys("abc")
        by_sigterm.wait_line(">> abc")
        with open(os.path.join(folder, "sigterm.pid")) as f:
            os.kill(int(f.read()), signal.SIGTERM)
        check("SIGTERM during an edit: status 143, the terminal restored", stty_restored(by_sigterm, 143),
              (True, True))
    except TimedOut as e:
        check_that("SIGTERM", False, f"timed out waiting for {e}")
    try:
        in_script.wait_line("?")
        in_script.keys("x", "C-c")
        check("Ctrl+C in a script's ask ends the script with 130, the terminal restored",
              stty_restored(in_script, 130), (True, True))
    except TimedOut as e:
        check_that("Ctrl+C in a script", False, f"timed out waiting for {e}")
finally:
    tmux.close()
    shutil.rmtree(folder, ignore_errors=True)

finish()
