#!/usr/bin/env python3
"""Whole-program sessions of the console: a terminal through a pseudo-terminal,
redirected input, scripts and signals.

Usage: console_test.py PATH-TO-ZUV SOURCE-ROOT
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from zuvtest import ZUV, WAIT, Session, run, script, check, finish  # noqa: E402

SOURCE_ROOT = sys.argv[2]


def run_shell(args):
    """Starts args by the shell's own rules (a #! line names the program)."""
    p = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=WAIT)
    return p.returncode, p.stdout.decode("utf-8", "replace")


# ---- a terminal: banner, title, prompt, results, continuation, halt ----
s = Session()
found, before = s.read_until(">> ")
check("the title is set, then the banner and the hint line come before the first prompt",
      (found, before.startswith("\x1b]0;Zuv Console\x07"), "--== Zuv 0.1.0 ==--" in before,
       "Type HELP for starting information." in before),
      (True, True, True, True))
s.send("1 + 1\r")
check("a result", s.read_until("== 2")[0], True)
s.send("[1 2\r")
check("an open block gives the continuation cue", s.read_until("[    ")[0], True)
s.send("3]\r")
found, before = s.read_until(">> ")
check("the two lines are one block, with the line break kept", (found, "== [1 2\r\n3]" in before), (True, True))
s.send("no-such-word\r")
found, before = s.read_until(">> ")
check("an error is reported and the loop goes on",
      (found, "*** Script Error: no-such-word has no value" in before), (True, True))
# The signal goes once the command has begun: its first output is seen.
s.send("print \"running\" forever []\r")
s.read_until("\nrunning")
os.kill(s.pid, signal.SIGINT)
found, before = s.read_until(">> ")
check("Ctrl+C halts a running command and the loop goes on", (found, "(halted)" in before), (True, True))
s.send("r: reactor [x: 0] react/later [loop 1000 [r/x]] print \"running\" forever [r/x: r/x + 1]\r")
s.read_until("\nrunning")
os.kill(s.pid, signal.SIGINT)
found, before = s.read_until(">> ")
check("Ctrl+C in a reaction halts the command that changed its source",
      (found, "(halted)" in before, "*** " in before), (True, True, False))
s.send("empty? system/reactivity/queue\r")
found, before = s.read_until(">> ")
check("... and leaves no propagation under way", (found, "== true" in before), (True, True))
s.send("abc")
s.read_until("abc")
os.kill(s.pid, signal.SIGINT)
found, before = s.read_until(">> ")
s.send("1 + 2\r")
check("an interrupt while typing drops the line and shows a new prompt", (found, s.read_until("== 3")[0]),
      (True, True))
s.send("halt\r")
check("halt", s.read_until("(halted)")[0], True)
s.send("system/console/size/x > 0\r")
check("the console size comes from the terminal", s.read_until("== true")[0], True)
s.send("length? ask/hide \"pw: \"\r")
s.read_until("\"pw: \"")  # the typed line's echo
# The prompt on a line of its own: the typed line can show twice (the terminal
# echoes type-ahead before the editor takes it and draws it again), and its
# second copy must not pass for the prompt, or the answer is typed too early.
s.read_until("\npw: ")
s.send("secret\r")
found, before = s.read_until("== 6")
check("a hidden answer is not echoed", (found, "secret" in before), (True, False))
s.send("reduce [second system/console/history find system/console/history \"secret\"]\r")
check("typed lines go to the history, a hidden answer does not",
      s.read_until("== [{length? ask/hide \"pw: \"} none]")[0], True)
s.send("quit/return 3\r")
check("quit/return ends with its status", s.wait(), 3)

# The end of the terminal's input ends the console normally.
s = Session()
s.read_until(">> ")
s.send("\x04")
check("end of input at the prompt", s.wait(), 0)

# A terminal gone away while the program ignores the hangup: the failed read
# ends the console as the end of input does, instead of reading on.
s = Session(keep_on_hangup=True)
s.read_until(">> ")
os.close(s.fd)
check("a failed read of the terminal ends the console", s.wait(), 0)

# A terminal that knows no escape sequences delivers lines itself: no line editor.
s = Session(env=dict(os.environ, TERM="dumb"))
_, banner = s.read_until(">> ")
s.send("1 + 1\r")
found, before = s.read_until("== 2")
s.send("q\r")
check("TERM=dumb: lines as the terminal delivers them", (found, "\x1b[6n" in banner + before, s.wait()),
      (True, False, 0))

# ---- redirected input ----
check("no banner and no prompt for redirected input", run(stdin="1 + 1\n"), (0, "== 2\n"))
check("a block over two lines", run(stdin="[1 2\n3]\n"), (0, "== [1 2\n3]\n"))
check("an empty line is not the end", run(stdin="1\n\n2\n"), (0, "== 1\n== 2\n"))
check("the end of input with a pending block", run(stdin="[1 2\n"), (0, ""))
check("halt", run(stdin="halt\n1\n"), (0, "(halted)\n== 1\n"))
check("print gives no result line", run(stdin="print 1\n"), (0, "1\n"))
check("a float is formed, a string molded", run(stdin="1.5\n\"s\"\n"), (0, "== 1.5\n== \"s\"\n"))
check("redirected input makes an 80x50 console", run(stdin="system/console/size\n"), (0, "== 80x50\n"))
check("ask reads the next line of redirected input, without a prompt",
      run(stdin="ask \"? \"\nhello\n"), (0, "== \"hello\"\n"))
check("input-stdin reads a line, keeping the CR of a CR LF end", run(stdin="input-stdin\nabc\r\n"), (0, "== \"abc^M\"\n"))
check("ask keeps the CR of a CR LF end; a last line without LF is read too",
      run(stdin="ask \"\"\nxy\r\nask \"\"\nend"), (0, "== \"xy^M\"\n== \"end\"\n"))
check("read-stdin grows the binary",
      run(stdin="b: #{} read-stdin b 10 b\nabcd"), (0, "== #{61626364}\n"))
status, out = run(stdin="append/dup copy \"\" #\"x\" 200\n")
check("a long result is cut to the console width",
      (status, out), (0, "== {" + "x" * 72 + "...\n"))
status, out = run(stdin="system/console/prompt: func [] [1 / 0]\n1\n2\n")
check("a failing prompt is reported once and the default comes back",
      (status, out.count("*** Where: system/console/prompt"), out.endswith("== 1\n== 2\n")), (0, 1, True))
status, out = run(stdin="system/console/result: \"=>\"\n3\nsystem/console/result: func [] [1 / 0]\n4\n")
check("the result prefix is evaluated for each result; a failing one falls back to the default",
      (status, "=> 3\n" in out, out.count("*** Where: system/console/result"), out.endswith("== 4\n")),
      (0, True, 2, True))
check("quit/return", run(stdin="quit/return 7\nprint 1\n"), (7, ""))
check("quit", run(stdin="q\nprint 1\n"), (0, ""))

# ---- scripts ----
folder = tempfile.mkdtemp()
os.mkdir(os.path.join(folder, "sub"))
path = script("Zuv [] print system/options/path\n", os.path.join(folder, "sub"))
check("a script runs in its own folder", run([os.path.relpath(path, folder)], cwd=folder),
      (0, os.path.realpath(os.path.join(folder, "sub")) + "/\n"))
os.unlink(path)
path = script("Zuv [] probe 1 + 2\n", folder)
check("a script runs", run([path]), (0, "3\n"))
os.unlink(path)
path = script("Zuv [] x: 1\nno-such-word\n", folder)
status, out = run([path])
check("an error ends a script with status 1",
      (status, out.startswith("*** Script Error: no-such-word has no value")), (1, True))
os.unlink(path)
path = script("print 1\n", folder)
check("no header", run([path]), (1, "*** Error: Zuv header not found!\n"))
os.unlink(path)
path = script("Zuv [] x: 42\n", folder)
check("--catch keeps the prompt loop, without banner", run(["--catch", path], stdin="x\n"), (0, "== 42\n"))
os.unlink(path)
path = script("Zuv [] write-file-here: 1\nquit/return 5\n", folder)
check("quit in a script", run([path])[0], 5)
os.unlink(path)
path = script("Zuv [] print mold input print \"end\"\n", folder)
check("a script's read at the end of input answers an empty line", run([path]), (0, "\"\"\nend\n"))
os.unlink(path)

# The command line: options, the script's name, its own arguments.
path = script("Zuv [] probe system/options/args probe system/script/args\n", folder)
check("a script's own arguments", run([path, "a", "b c", ""]), (0, '["a" "b c" ""]\n{a "b c" ""}\n'))
check("--catch with a script and its arguments", run(["--catch", path, "a"], stdin="system/console/catch?\n"),
      (0, '["a"]\n"a"\n== true\n'))
os.unlink(path)
with open(os.path.join(folder, "--catch"), "w") as f:
    f.write("Zuv [] print system/console/catch?\n")
check("an option after -- is the script's name", run(["--", "--catch"], cwd=folder), (0, "false\n"))
os.unlink(os.path.join(folder, "--catch"))
path = script("#!" + ZUV + "\n; a comment\nZuv [Title: \"t\"] print 1 print system/script/header/Title\n", folder)
os.chmod(path, 0o755)
check("a script started by the shell through its #! line", run_shell([path]), (0, "1\nZuv console\n"))
inner = os.path.basename(path)
outer = script(f"Zuv [] do %{inner} print system/script/header/Title\n", folder)
check("do of a script file", run([outer]), (0, "1\nt\nZuv console\n"))
os.unlink(outer)
os.unlink(path)
path = script("Zuv/System [] 1\n", folder)
check("a script for the compiler", run([path]),
      (1, "*** Error: contains Zuv/System code which requires compilation!\n"))
os.unlink(path)
path = script("Zuv [] print 1 halt print 2\n", folder)
check("halt ends a script", run([path]), (0, "1\n(halted)\n"))
os.unlink(path)
path = script("Zuv [] print what-dir\n", os.path.join(folder, "sub"))
s = Session("--catch", os.path.relpath(path, folder), cwd=folder)
found, before = s.read_until(">> ")
check("--catch: the prompt loop stays in the script's folder, without banner",
      (found, "--== Zuv" in before), (True, False))
s.send("print what-dir\r")
found, before = s.read_until(">> ")
check("... the same folder", before.count(os.path.realpath(os.path.join(folder, "sub")) + "/"), 1)
s.send("q\r")
s.wait()
os.unlink(path)
for args, name in ((["--foo", "--catch", "--"], "options alone"), (["nosuch/x.zuv"], "an unreadable script")):
    s = Session(*args, cwd=folder)
    found, before = s.read_until(">> ")
    check(f"{name}: the banner and the prompt", (found, "--== Zuv" in before), (True, True))
    if args == ["nosuch/x.zuv"]:
        check("... after the read error", "*** Access Error: cannot open: %nosuch/x.zuv" in before, True)
    s.send("what-dir\r")
    found, before = s.read_until(">> ")
    check(f"{name}: the folder stays", os.path.realpath(folder) + "/" in before, True)
    s.send("q\r")
    s.wait()

# Signals: Ctrl+C ends a script run without the prompt loop with 130; a
# terminate request ends any run with 143.
# The signal goes once the script runs (its first line is read), however
# long the start-up took.
path = script("Zuv [] print \"running\" forever []\n", folder)
for sig, name, expected in ((signal.SIGINT, "SIGINT ends a script with 130", 130),
                            (signal.SIGTERM, "SIGTERM ends with 143", 143)):
    p = subprocess.Popen([ZUV, path], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    p.stdout.readline()
    p.send_signal(sig)
    check(name, p.wait(timeout=WAIT), expected)
os.unlink(path)

# ---- the user's own words: redefining any of them leaves the console working ----
REPORT = "*** Script Error: no-such-word has no value\n*** Where: do\n*** Near : no-such-word\n*** Stack:  \n\n"
for line, shown in (
        ("append: 1", "== 1"),                    # an action
        ("reduce: 1", "== 1"),                    # a native
        ("load: 1", "== 1"),                      # a library function the loop calls
        ("ask: 1", "== 1"),                       # the console's reading function
        ("none: 5", "== 5"),
        ("string!: 3", "== 3"),                   # a datatype word of the console's specs
        ("integer!: 1", "== 1"),                  # a datatype word of a built-in function's spec
        ("either: func [] []", "== func [][]"),   # control words
        ("try: 1 catch: 1", "== 1"),
        ("print: 0", "== 0"),
        ("system: 1", "== 1")):
    check(f"after `{line}` results, errors and quit work",
          run(stdin=line + "\n1 + 1\nno-such-word\nquit/return 3\n"), (3, f"{shown}\n== 2\n{REPORT}"))
check("the user's code sees the user's definitions",
      run(stdin="append: func [a b] [\"mine\"] append [] 1\nnone: 5 none\n"), (0, "== \"mine\"\n== 5\n"))
check("a library function the user calls keeps its own words", run(stdin="append: 1 load \"1 2\"\n"),
      (0, "== [1 2]\n"))
plain = run(stdin="f: func [] [1 / 0] f\n")
check("the error report and its stack line are unchanged", run(stdin="print: 0 form: 1 f: func [] [1 / 0] f\n"),
      plain)
check("a stack line names the user's function, not the console's", "*** Stack: f \n" in plain[1], True)
check("the console's hooks set on purpose still work",
      run(stdin="append: 1 system/console/result: \"=>\"\n3\n"), (0, "=> \"=>\"\n=> 3\n"))
s = Session()
s.read_until(">> ")
s.send("print: 0 ask: 1 halt: 1 mold: 1\r")
s.read_until(">> ")
s.send("1 + 1\r")
check("a terminal session after redefinitions", s.read_until("== 2")[0], True)
s.read_until(">> ")
s.send("no-such-word\r")
found, before = s.read_until(">> ")
check("... reports errors", (found, "*** Script Error: no-such-word has no value" in before), (True, True))
# The signal goes once the command has begun: its first output is seen.
s.send("prin \"running\" forever []\r")  # print is the user's 0 here
s.read_until("\nrunning")
os.kill(s.pid, signal.SIGINT)
found, before = s.read_until(">> ")
check("... halts on Ctrl+C", (found, "(halted)" in before), (True, True))
s.send("q\r")
check("... and quits", s.wait(), 0)
folder = tempfile.mkdtemp()
path = script("Zuv [] print: 0 either: 1 none: 5 no-such-word\n", folder)
status, out = run([path])
check("a script's error after redefinitions is reported", (status, out.startswith(REPORT[:44])), (1, True))
os.unlink(path)
path = script("Zuv [] print: 0 either: 1 none: 5 x: 42\n", folder)
check("--catch: the prompt loop after a script that redefined words", run(["--catch", path], stdin="x + 1\n"),
      (0, "== 43\n"))
os.unlink(path)

# ---- the development switch: boot sources read from a source tree ----
tree = tempfile.mkdtemp()
for part in ("boot", "library", "console"):
    shutil.copytree(os.path.join(SOURCE_ROOT, part), os.path.join(tree, part))
with open(os.path.join(tree, "console", "launch.zuv"), "a") as f:
    f.write("\nedited-on-disk: 42\n")
env = dict(os.environ, ZUV_BOOT_DIR=tree)
check("an edited library source takes effect without a rebuild", run(stdin="edited-on-disk\n", env=env), (0, "== 42\n"))
check("without the switch the built-in sources hold", run(stdin="value? 'edited-on-disk\n")[1], "== false\n")
os.unlink(os.path.join(tree, "console", "launch.zuv"))
check("a missing source is a fault of the set-up", run(stdin="1\n", env=env)[0], 98)
shutil.rmtree(tree)

finish()
