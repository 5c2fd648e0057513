#!/usr/bin/env python3
"""File and folder I/O, the active directory, the environment and argv,
each run by the program in a temporary folder of its own.

Usage: files_test.py PATH-TO-ZUV
"""
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import zuvtest  # noqa: E402
from zuvtest import check, finish  # noqa: E402


def run(script, cwd, args=(), env=None):
    """Runs the script (after a `Zuv []` header) as t.zuv in the folder cwd; answers its output."""
    path = os.path.join(cwd, "t.zuv")
    with open(path, "w", encoding="utf-8") as f:
        f.write("Zuv []\n" + script)
    return zuvtest.run([path, *args], cwd=cwd, env=env)[1]


def fresh():
    return tempfile.mkdtemp(prefix="zuv-files-")


def write_bytes(d, name, data):
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def read_bytes(d, name):
    with open(os.path.join(d, name), "rb") as f:
        return f.read()


def err(expr):
    """A line printing the error id that expr raises."""
    return f"e: try [{expr}] print either error? e [e/id] ['none]\n"


# Reading: empty file, parts, seeks past the end, lines and text with CR LF.
d = fresh()
write_bytes(d, "empty", b"")
write_bytes(d, "f", b"a\r\nb\n\nc")
check("read", run("""
probe read %empty
probe read/binary %empty
probe read/lines %empty
probe read/part %f 0
probe read/part %f 100
probe read/seek %f 100
probe read/seek/part %f 3 1
probe read/lines %f
probe read %f
probe read/binary %f
""" + err("read %missing") + err("read %nosuch/"), d),
    '""\n#{}\n""\n""\n{a^/b^/^/c}\n""\n"b"\n["a" "b" "" "c"]\n{a^/b^/^/c}\n#{610D0A620A0A63}\n'
    'cannot-open\ncannot-open\n')

# Sizes are 64-bit: a (sparse) file of 4 GiB and 3 bytes is too big to read
# whole (more than a series holds), never read as its 3 low bytes; a part of
# it is read.
d = fresh()
with open(os.path.join(d, "big"), "wb") as f:
    f.truncate((4 << 30) + 3)
check("4 GiB + 3", run(err("read %big") + "probe size? %big\nprobe read/binary/part/seek %big 2 2147483640\n", d),
      "no-memory\n4294967299.0\n#{0000}\n")

# Writing: LF as it stands, molded values, lines, parts, seek and append.
d = fresh()
write_bytes(d, "long", b"0123456789")
out = run("""
write %s "x^/y"
write %i 123
write/lines %l [1 2]
write/lines %one "z"
write %p "keep"
write/part %p "abc" -1
write/part %q "abcdef" 2
write/binary %b #{00FF}
write/seek %long "AB" 0
write/seek %long "X" 5
write/append %long "!"
""" + err("write/part %r \"abc\" 1.5") + err("write %nosuch/x 1"), d)
check("write errors", out, "invalid-refine-arg\ncannot-open\n")
for name, data in [("s", b"x\ny"), ("i", b"123"), ("l", b"1\n2\n"), ("one", b"z\n"), ("p", b"keep"),
                   ("q", b"ab"), ("b", b"\x00\xff"), ("long", b"AB234X6789!")]:
    check("write " + name, read_bytes(d, name), data)
check("part -1 creates nothing", os.path.exists(os.path.join(d, "r")), False)

# Listings, dir?, query, rename, delete, exists?.
d = fresh()
os.mkdir(os.path.join(d, "sub"))
write_bytes(d, "a", b"A")
write_bytes(d, "b", b"B")
out = run("""
probe sort read %.
probe sort read %./
probe (sort read %/) = sort read %/./
probe query %a/
probe date? query %a
probe query %missing
probe rename %a %b
probe reduce [read %a read %b]
probe rename %a %c
probe reduce [exists? %a exists? %c exists? %sub/ exists? %sub]
probe reduce [delete %c delete %c delete %sub/ exists? %sub/]
""", d)
check("folders", out, '[%a %b %sub/ %t.zuv]\n[%a %b %sub/ %t.zuv]\ntrue\n'
      'none\ntrue\nnone\nfalse\n["A" "B"]\ntrue\n'
      '[false true true true]\n[true false true false]\n')

# A named pipe is read once, whole.
d = fresh()
fifo = os.path.join(d, "pipe")
os.mkfifo(fifo)
writer = subprocess.Popen(["sh", "-c", 'printf "through the pipe" > "$0"', fifo])
check("fifo", run("probe read %pipe\n", d), '"through the pipe"\n')
writer.wait(timeout=60)

# checksum of a file goes through the same reader.
d = fresh()
write_bytes(d, "f", b"abc")
check("checksum", run("probe checksum %f 'crc32\n" + err("checksum %missing 'crc32"), d),
      "891568578\ncannot-open\n")

# Folders: make-dir one level and deep, a failing middle level undone;
# change-dir moves the process, and so does assigning system/options/path.
d = fresh()
long = "x" * 300
out = run(f"""
probe make-dir %one
probe make-dir %one/
probe make-dir/deep %d1/d2/d3
probe exists? %d1/d2/d3/
""" + err(f"make-dir/deep %m/{long}/z/") + """
probe exists? %m/
""" + err("make-dir %no/such/") + """
probe (change-dir %d1/d2/) = get-current-dir
probe (what-dir) = get-current-dir
system/options/path: %../
probe (what-dir) = get-current-dir
write %here "x"
""" + err("change-dir %nosuch/") + """
probe (what-dir) = get-current-dir
""", d)
check("make-dir and change-dir", out,
      "%one/\n%one/\n%d1/d2/d3/\ntrue\ncannot-open\nfalse\nno-create\ntrue\ntrue\ntrue\ncannot-open\ntrue\n")
check("written in the new folder", read_bytes(os.path.join(d, "d1"), "here"), b"x")

# A change made inside system/options/path moves the process once; a folder
# that is missing leaves both as they were.
d = fresh()
os.makedirs(os.path.join(d, "p", "q"))
out = run("""
append system/options/path "p/"
probe (what-dir) = get-current-dir
append system/options/path "q/"
probe (what-dir) = get-current-dir
probe find/last what-dir "/p/q/"
""" + err('append system/options/path "nosuch/"') + """
probe (what-dir) = get-current-dir
probe find/last what-dir "/p/q/"
""", d)
check("changes inside path", out, 'true\ntrue\n%/p/q/\ncannot-open\ntrue\n%/p/q/\n')

# The environment and the command line.
d = fresh()
env = dict(os.environ, HOME=d, ZUV_EMPTY="")
out = run("""
m: list-env
print select m "HOME"
probe select m "ZUV_EMPTY"
probe system/options/args
probe find/last system/script/args {"a b" "" c}
write-stdout "raw^/"
write-stdout 42
""", d, args=["a b", "", "c"], env=env)
check("env and args", out.replace(d, "HOME"),
      'HOME\n""\n["a b" "" "c"]\n{"a b" "" c}\nraw\n42')

# load and save on files: text round-trips, a suffix picks its codec in any
# letter case, a folder loads as its listing, a header is text like any other.
d = fresh()
os.mkdir(os.path.join(d, "sub"))
write_bytes(d, "sub/f", b"")
write_bytes(d, "script.txt", b'Zuv [Title: "s"]\r\nprint 1\r\n')
out = run("""
save %x.txt [a "b" 1.5 [c]]
probe load %x.txt
save %one.txt 42
probe load %one.txt
save/all %all.txt [a]
save/length %len.txt [a b]
save %V.ZuvBin [1 "two" [3]]
probe load %V.ZuvBin
probe load %sub/
probe load %script.txt
""" + err("load/as %x.txt 'zuvbin") + err("load %missing.txt") + err("save %nosuch/x.txt 1"), d)
check("load and save files", out, '[a "b" 1.5 [c]]\n42\n[1 "two" [3]]\n[%f]\n[Zuv [Title: "s"]\nprint 1]\n'
      'invalid-data\ncannot-open\ncannot-open\n')
check("saved text", [read_bytes(d, n) for n in ("x.txt", "all.txt", "len.txt")],
      [b'a "b" 1.5 [c]', b"a\n", b"Zuv [\n\tlength: 3\n]\n\na b"])
check("saved ZUVBIN", read_bytes(d, "V.ZuvBin")[:6], b"ZUVBIN")

# The console's settings file: made on quit under HOME, read back at the next
# start; the history is cut to the 100 newest lines, other keys are kept, and
# a malformed file gives the defaults without a word.
home = fresh()
env = dict(os.environ, HOME=home)
cfg = os.path.join(home, ".zuv", "Zuv-Console", "console-cfg.zuv")


def console(lines, env=env, args=()):
    return zuvtest.run(args, stdin=lines, env=env, cwd=fresh())


def settings_text():
    with open(cfg, "rb") as f:
        return f.read().decode("utf-8")


def write_settings(text):
    with open(cfg, "wb") as f:
        f.write(text if isinstance(text, bytes) else text.encode("utf-8"))


console("quit\n")
check("fresh settings", settings_text(),
      'Zuv [\n\tPurpose: "Zuv Console Configuration File"\n]\n\nbuffer-lines: 10000 history: []')
write_settings('Zuv [\n\tPurpose: "x"\n]\n\nbuffer-lines: 5\nmine: [1 2]\nhistory: ["b" "a"]')
check("settings read back", console("probe system/console/history\n"), (0, '["b" "a"]\n== ["b" "a"]\n'))
console('repeat i 150 [insert system/console/history form i]\nquit\n')
text = settings_text()
check("edited keys kept", ("buffer-lines: 5" in text, "\nmine: [1 2]\n" in text), (True, True))
check("the 100 newest lines, newest first",
      console("h: system/console/history print [length? h first h last h]\n"), (0, "100 150 51\n"))
for broken, defaults in [("Zuv [ broken", "[buffer-lines: 10000 history: []]"),
                         ("no header here", "[buffer-lines: 10000 history: []]"),
                         (b"Zuv [] \xff\xfe", "[buffer-lines: 10000 history: []]"),
                         ("Zuv [] history: 5", "[history: [] buffer-lines: 10000]")]:
    write_settings(broken)
    check(f"defaults for {broken!r}", console("print mold cli-console-ctx/settings/cfg\nquit\n"), (0, defaults + "\n"))

# With HOME under a plain file no settings folder can be made: the console
# starts, runs a script and quits, keeping its settings in memory.
blocked = fresh()
write_bytes(blocked, "file", b"")
for name, under in [("under a file", os.path.join(blocked, "file", "home")), ("a file", os.path.join(blocked, "file"))]:
    env_blocked = dict(os.environ, HOME=under)
    check(f"HOME {name}: the console", console("print 1 + 1\nquit\n", env_blocked), (0, "2\n"))
    script_dir = fresh()
    with open(os.path.join(script_dir, "s.zuv"), "w", encoding="utf-8") as f:
        f.write("Zuv []\nprint 3\n")
    check(f"HOME {name}: a script", console("", env_blocked, [os.path.join(script_dir, "s.zuv")]), (0, "3\n"))
    check(f"HOME {name}: a script, then the prompt",
          console("probe system/console/history\nquit\n", env_blocked, ["--catch", os.path.join(script_dir, "s.zuv")]),
          (0, "3\n[]\n== []\n"))

finish()
