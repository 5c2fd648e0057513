#!/usr/bin/env python3
"""Random programs: calls of every native and action with random refinements
and edge-case arguments, run through two builds of zuv whose outputs must agree.

The natives and actions, their arguments, types and refinements are read from
the boot texts (boot/natives.zuv, boot/actions.zuv). Each program is a few
lines of definitions (cyclic and deep blocks, parens, hashes, maps and
objects, functions, errors) followed by random lines, fed to `zuv` as piped
lines. Besides calls with random arguments the lines give cyclic and deep
values to natives and actions, run code that nests itself past the call
stack, convert values between datatypes (to, make, as), sort with comparators
and parse with rules that change their input, and decode damaged compressed,
encoded and molded data. A program fails when
either build writes a sanitizer report, dies of a signal, ends with a status
other than 0 or runs past the time limit, or when the two builds' outputs
differ.

Usage:
  programs.py --reference build/zuv --stress build-gcstress/zuv [--seed N] [--count N] [--jobs N]
  programs.py --print --seed N --count N     (only writes the programs)
  --walker: the reference build runs each program twice, by the walker alone
  (ZUV_PLAIN_WALKER=1) and with every block compiled from its first run
  (ZUV_COMPILE_ALL=1), and the stress build compiles every block too: the
  outputs must agree, and a difference between the two runs of one build
  names the evaluator at fault.

Each program runs in a process of its own: by default a child forked by a
fork server (ZUV_FORK_SERVER), a process of the build that has booted and
run the prelude (the first lines, the same in every program) once, per worker
and per run; the child reads the rest of the program and has its own output,
status and time limit. The servers' own runs are judged as the programs are.
--fresh starts each program in a fresh process from its first line instead.
A failing program is written to --failures (default build-fuzz-programs/) with
both outputs (its text whole, prelude included: it runs alone as it is).
Counts are printed at the end; the exit status is 1 on any failure.
"""
import argparse
import concurrent.futures
import os
import random
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading

HERE = os.path.dirname(os.path.abspath(__file__))
BOOT = os.path.join(HERE, "..", "..", "boot")

# Functions never called: they touch the machine (processes, files, the
# environment, the browser), wait, or give values that differ between runs
# or builds (the clock, memory statistics, the secure generator).
EXCLUDED = {
    "call", "browse", "set-env", "get-env", "list-env", "wait", "now", "stats", "recycle",
    "read", "write", "delete", "rename", "create", "open", "close", "modify", "query", "update", "open?",
    # loops whose end depends on the values given: they run only with bounded arguments below
    "forever", "while", "until",
}
EXCLUDED_REFINEMENTS = {("random", "secure")}

# Arguments whose values are bounded, so that no program runs for long.
SMALL_COUNTS = {("loop", "count"), ("repeat", "value")}

# ---- the specs ----

TOKEN = re.compile(r'"(?:[^"^]|\^.)*"|\{[^{}]*\}|\[|\]|;[^\n]*|[^\s\[\]"]+')


def tokens(text):
    for m in TOKEN.finditer(text):
        t = m.group(0)
        if not t.startswith(";"):
            yield t


class Spec:
    def __init__(self, name):
        self.name = name
        self.args = []          # (name, kind, types); kind: "", "'" or ":"
        self.refinements = []   # (name, [(name, kind, types)])


def parse_block(toks, i):
    """The tokens of a block from i (just after its "["): a nested list and the index after its "]"."""
    out = []
    while i < len(toks):
        t = toks[i]
        if t == "[":
            inner, i = parse_block(toks, i + 1)
            out.append(inner)
            continue
        if t == "]":
            return out, i + 1
        out.append(t)
        i += 1
    return out, i


def read_specs():
    """Every `name: make native! [[spec] n]` and `make action!` of the boot texts."""
    specs = []
    for file in ("natives.zuv", "actions.zuv"):
        with open(os.path.join(BOOT, file), encoding="utf-8") as f:
            toks = list(tokens(f.read()))
        i = 0
        while i < len(toks):
            if (toks[i].endswith(":") and i + 3 < len(toks) and toks[i + 1] == "make"
                    and toks[i + 2] in ("native!", "action!") and toks[i + 3] == "["):
                spec = Spec(toks[i][:-1])
                body, i = parse_block(toks, i + 4)
                fill(spec, body[0] if body and isinstance(body[0], list) else [])
                specs.append(spec)
                continue
            i += 1
    return specs


def fill(spec, items):
    """The arguments and refinements of a spec block (its items as parse_block gives them); doc strings are skipped."""
    current = None
    i = 0
    while i < len(items):
        t = items[i]
        i += 1
        if isinstance(t, list) or t.startswith('"') or t.startswith("{"):
            continue
        if t.startswith("/"):
            current = (t[1:], [])
            spec.refinements.append(current)
            continue
        kind = ""
        if t[0] in "':":
            kind, t = t[0], t[1:]
        types = ["any-type!"]
        if i < len(items) and isinstance(items[i], list):
            types = [x for x in items[i] if isinstance(x, str)]
            i += 1
        arg = (t, kind, types)
        if current is None:
            spec.args.append(arg)
        else:
            current[1].append(arg)


def load_specs():
    return [s for s in read_specs() if s.name not in EXCLUDED]


# ---- values ----

PRELUDE = [
    "random/seed 7",
    "cyc: [a b] append/only cyc cyc",
    "deep: [] loop 200 [deep: reduce [deep]] 0",
    "obj: make object! [a: 1 b: \"x\" c: [1 2] f: func [x] [x]]",
    "watched: make object! [n: 0 on-change*: func [w o v] [n: n + 1]]",
    "owner: make object! [s: [1 2 3] on-deep-change*: func [o w t a n i p] [append [] a]]",
    "cycp: to paren! [1] append/only cycp cycp 0",
    "cych: make hash! [1 2] append/only cych cych 0",
    "cycm: make map! [a 1] put cycm (quote me) cycm 0",
    "cyco: make object! [a: 1 me: none] cyco/me: cyco 0",
    "cyca: reduce [cyco cycm cych cycp] append/only cyca cyca 0",
    "dcyc: copy [do] append/only dcyc dcyc 0",
    "deepp: to paren! reduce [deep] deeph: make hash! reduce [deep] deepm: make map! reduce [quote k deep] 0",
    "err: try [1 / 0]",
    "f0: func [x] [x]",
    "fail: func [] [1 / 0]",
    "rec: func [n] [rec n + 1]",
    "v1: [1 2 3] v2: \"text\" v3: 42",
]

INTEGERS = ["0", "1", "-1", "2", "3", "7", "100", "2147483647", "-2147483648", "2147483646", "-2147483647",
            "65536", "255", "31", "32", "33"]
FLOATS = ["0.0", "-0.0", "1.5", "-2.25", "1e308", "-1e308", "1e-308", "4.9e-324", "1.#NaN", "1.#INF", "-1.#INF",
          "3.141592653589793", "2147483648.0", "-2147483649.0", "0.1"]
CHARS = ['#"a"', '#"^@"', '#"^(10FFFF)"', '#"€"', '#"^(D800)"', '#"^(DC00)"', '#"^/"', '#"Z"', '#"😀"', '#"^~"']
STRINGS = ['""', '"abc"', '"héllo wörld"', '"日本語"', '"😀x😀"', '"a^(D800)b"', '"^(DC00)"', '"a^/b^-c"',
           '"^@"', '"ABC abc"', '{braces {nested} "q"}', '(append/dup copy "" "ab" 300)', '"1 2 [3]"',
           '"x: 1 + 2"', '"[1"', '"#{00}"']
BLOCKS = ["[]", "[1 2 3]", "[a b c]", "[1 [2 [3]]]", "cyc", "deep", "[x: 1 y: \"s\"]", "[(1 + 2) z]",
          "copy cyc", "[1 \"a\" #\"b\" 2.5 none]", "v1", "(tail v1)", "[3 1 2]", "[[1 2] [3 4]]",
          "(make block! 0)", "[a 1 b 2 c 3]", "[f0 1]", "[1 / 0]", "[rec 1]", "[break]", "[return 1]",
          "cyca", "(reduce [cycp cych])", "[#\"a\" [#\"b\"]]", "(reduce [1.#NaN 0.0 -0.0])"]
# Values that hold themselves or are nested deep, for any argument: the deeper
# block (past the depth of every walk's cycle guard) exists in some programs only.
NESTED = ["cyc", "deep", "cycp", "cych", "cycm", "cyco", "cyca", "deepp", "deeph", "deepm", "(copy cyc)"]
CYCLIC = {"cyc", "copy cyc", "(copy cyc)", "cycp", "cych", "cycm", "cyco", "cyca", "(reduce [cycp cych])"}
# Calls that make a block for each level they enter: given a cyclic value they
# allocate until the call stack is full, which takes minutes under the
# collector's stress (tests/lang/limits_test.py has them): they get the deep
# block instead.
DEAR_WITH_CYCLES = {"compose"}
DEEPER = "deeper: [#\"a\"] loop 1100 [deeper: reduce [deeper]] 0"
WORDS = ["'a", "'v1", "'cyc", "'obj", "'self", "'none", "'x", "'append", "'undefined-word"]
OTHER = {
    "none!": ["none"],
    "logic!": ["true", "false"],
    "datatype!": ["integer!", "block!", "string!", "object!", "error!", "float!", "char!", "word!", "none!",
                  "datatype!", "typeset!", "function!", "pair!", "binary!", "time!", "percent!"],
    "typeset!": ["number!", "series!", "any-type!", "any-word!"],
    "object!": ["obj", "watched", "owner", "(make object! [])", "(make obj [a: 2])", "cyco"],
    "map!": ["(make map! [a 1 b 2])", "cycm", "deepm", "(make map! reduce [1.#NaN 1 0.0 2])"],
    "hash!": ["(make hash! [1 2 3])", "cych", "deeph", "(make hash! reduce [1.#NaN 1 -0.0 2])"],
    "error!": ["err", "(make error! \"boom\")", "(try [fail])"],
    "function!": [":f0", ":fail", "(does [1])", "(func [a b] [a])", ":rec"],
    "native!": [":if", ":append", ":reduce", ":print"],
    "action!": [":append", ":mold", ":add"],
    "percent!": ["50%", "-0.5%", "100%"],
    "time!": ["12:30", "-1:00", "0:00:01.5"],
    "paren!": ["(pick [(1 + 2)] 1)", "(pick [()] 1)", "cycp", "deepp"],
    "path!": ["'obj/a", "'a/b/c", "'v1/1"],
    "set-word!": ["(pick [x:] 1)"],
    "get-word!": ["(pick [:x] 1)"],
    "lit-word!": ["(pick ['x] 1)"],
    "refinement!": ["(pick [/only] 1)"],
    "unset!": ["()"],
    # The URL names a closed port of the loopback interface: `do` of it
    # makes a request, which must never leave the machine.
    "unbuilt": ["#{00FF}", "1x2", "1.2.3", "#issue", "%file.txt", "http://127.0.0.1:1/x", "<tag>", "$1.50",
                "1-Jan-2000", "a@b.c"],
}
CONCRETE = ["integer!", "float!", "char!", "string!", "block!", "word!"] + list(OTHER)
TYPESETS = {
    "any-type!": CONCRETE,
    "number!": ["integer!", "float!", "percent!"],
    "scalar!": ["integer!", "float!", "percent!", "char!", "time!"],
    "series!": ["string!", "block!", "paren!", "path!", "hash!"],
    "any-block!": ["block!", "paren!", "path!", "hash!"],
    "any-string!": ["string!"],
    "any-word!": ["word!", "set-word!", "get-word!", "lit-word!", "refinement!"],
    "any-function!": ["function!", "native!", "action!"],
    "any-object!": ["object!", "error!"],
    "default!": CONCRETE,
}


# Every datatype, for the conversion matrix.
DATATYPES = ["datatype!", "unset!", "none!", "logic!", "block!", "paren!", "string!", "file!", "url!", "char!",
             "integer!", "float!", "word!", "set-word!", "lit-word!", "get-word!", "refinement!", "issue!",
             "native!", "action!", "op!", "function!", "path!", "lit-path!", "set-path!", "get-path!", "routine!",
             "bitset!", "triple!", "object!", "typeset!", "error!", "vector!", "hash!", "pair!", "percent!",
             "tuple!", "map!", "binary!", "time!", "tag!", "email!", "handle!", "date!", "port!", "money!", "ref!",
             "point2D!", "point3D!", "image!", "event!"]

# Comparators that change the series being sorted (s) as they compare.
COMPARATOR_EFFECTS = ["append s 1", "clear s", "remove s", "insert s 0", "reverse s", "take/last s", "s: copy []",
                      "change s 9", "sort s", "poke s 1 none", "recycle"]
COMPARATOR_ANSWERS = ["a < b", "true", "false", "none", "b", "0", "-1", "1"]
SORT_INPUTS = ["[3 1 2 5 4 1]", '"hello"', "[b a c]", "v1", "[1.#NaN 2 1]"]

# PARSE rules that change their input (s) as they match it; every growth is bounded.
PARSE_RULES = [
    "[any [p: skip (if 40 > length? head p [insert p 1])]]",
    "[some [p: skip (remove p)]]",
    "[any [p: skip (clear p)]]",
    "[any [skip p: (unless tail? p [change p 7])]]",
    "[any [p: (if 40 > length? s [append s 1]) skip] end]",
    "[to end p: (insert p 1) to end]",
    "[copy x to end (clear s) end]",
    "[any [p: skip (s: copy []) :p]]",
    "[while [p: skip (if 30 > length? s [insert p 0])]]",
    "[any [p: skip (remove head p) :p]]",
    "[any [p: skip (reverse head p)]]",
    "[some [p: skip (take/last s)]]",
]
PARSE_INPUTS = ['"hello"', "[1 2 3 4]", '"a^/b c"', "[a [b] c]", "copy cyc", '""', "[]"]

# Damage done to a binary or a text x (a series expression).
BINARY_DAMAGE = ["head change skip copy {x} {n} #{{FF}}", "copy/part {x} {n}", "append copy {x} #{{00FF7F}}",
                 "head reverse copy {x}", "head remove skip copy {x} {n}", "head insert skip copy {x} {n} #{{0000}}",
                 "head clear skip copy {x} {n}"]
TEXT_DAMAGE = ['head change skip copy {x} {n} "!"', "copy/part {x} {n}", 'append copy {x} "="',
               'head insert skip copy {x} {n} "%"', 'head change skip copy {x} {n} "["', "head remove skip copy {x} {n}",
               'head change skip copy {x} {n} "^@"', 'head change skip copy {x} {n} "^(DC00)"']
METHODS = ["'zlib", "'deflate", "'gzip"]
DATA = ['"hello hello hello hello"', '(append/dup copy "" "ab" 200)', "#{00010203FF}", '""', "#{}", '"日本語"']


class Generator:
    def __init__(self, seed, specs):
        self.r = random.Random(seed)
        self.specs = specs
        self.deeper = self.r.random() < 0.03  # the deeper block costs a thousand allocations

    def value_of(self, type_name, depth):
        r = self.r
        if depth < 2 and r.random() < 0.15:
            return "(" + self.call(depth + 1) + ")"
        if type_name in TYPESETS:
            type_name = r.choice(TYPESETS[type_name])
        if type_name == "integer!":
            return r.choice(INTEGERS) if r.random() < 0.7 else str(r.randint(-1000, 1000))
        if type_name == "float!":
            return r.choice(FLOATS)
        if type_name == "char!":
            return r.choice(CHARS)
        if type_name == "string!":
            return r.choice(STRINGS)
        if type_name == "block!":
            return r.choice(BLOCKS)
        if type_name == "word!":
            return r.choice(WORDS)
        if type_name in OTHER:
            return r.choice(OTHER[type_name])
        return r.choice(OTHER["unbuilt"]) if r.random() < 0.3 else self.value_of("any-type!", depth)

    def nested(self):
        return "deeper" if self.deeper and self.r.random() < 0.3 else self.r.choice(NESTED)

    def argument(self, fn, arg, depth, nested=False):
        name, kind, types = arg
        r = self.r
        if (fn, name) in SMALL_COUNTS:
            return str(r.randint(0, 3))
        if nested and r.random() < 0.6:
            return self.nested()
        if kind in ("'", ":") and r.random() < 0.7:
            return r.choice(["x", "v1", "obj", "cyc", "a"]) if r.random() < 0.8 else self.value_of("any-type!", depth)
        if r.random() < 0.12:
            return self.value_of("any-type!", depth)
        return self.value_of(r.choice(types) if types else "any-type!", depth)

    def call(self, depth=0, nested=False):
        """A call of a random native or action; with nested, most of its
        arguments hold themselves or are nested deep."""
        r = self.r
        spec = r.choice(self.specs)
        path = spec.name
        used = []
        for name, args in spec.refinements:
            if (spec.name, name) in EXCLUDED_REFINEMENTS:
                continue
            if r.random() < 0.3:
                path += "/" + name
                used.append(args)
        parts = [path]
        parts += [self.argument(spec.name, a, depth, nested) for a in spec.args]
        for args in used:
            parts += [self.argument(spec.name, a, depth, nested) for a in args]
        if spec.name in DEAR_WITH_CYCLES:
            parts = [("deep" if p in CYCLIC else p) for p in parts]
        return " ".join(parts)

    def damaged(self, text, kinds):
        return self.r.choice(kinds).format(x=text, n=self.r.randint(0, 24))

    def special_line(self, roll):
        """The lines aimed at values and work past the limits (roll in 0-1)."""
        r = self.r
        if roll < 0.30:
            # the to / make / as matrix: any datatype, any value
            op = r.choice(["to", "make", "as", "to", "make"])
            value = self.nested() if r.random() < 0.15 else self.value_of("any-type!", 1)
            return f"e: try [{op} {r.choice(DATATYPES)} {value}] mold/all e"
        if roll < 0.50:
            return "e: try [" + self.call(nested=True) + "] mold/all e"
        if roll < 0.62:
            refinements = "".join(x for x in ["/all", "/stable", "/reverse"] if r.random() < 0.2)
            effect = r.choice(COMPARATOR_EFFECTS)
            return (f"s: copy {r.choice(SORT_INPUTS)} "
                    f"e: try [sort/compare{refinements} s func [a b] [{effect} {r.choice(COMPARATOR_ANSWERS)}]] "
                    "mold/all reduce [e s]")
        if roll < 0.74:
            return f"s: copy {r.choice(PARSE_INPUTS)} e: try [parse s {r.choice(PARSE_RULES)}] mold/all reduce [e s]"
        if roll < 0.85:
            data = r.choice(DATA)
            packed = self.damaged(f"compress {data} {r.choice(METHODS)}", BINARY_DAMAGE)
            size = f"/size {packed} {r.choice(METHODS)} {r.choice(['0', '5', '100', '-1', '65536'])}" \
                if r.random() < 0.3 else f" {packed} {r.choice(METHODS)}"
            return f"e: try [decompress{size}] mold/all e"
        if roll < 0.97:
            choice = r.random()
            if choice < 0.4:
                base = r.choice(["2", "16", "58", "64"])
                text = self.damaged(f"enbase/base {r.choice(DATA)} {base}", TEXT_DAMAGE)
                return f"e: try [debase/base {text} {r.choice([base, base, '16', '64'])}] mold/all e"
            if choice < 0.6:
                return "e: try [dehex " + self.damaged('"a%41%C3%A9%zz%4"', TEXT_DAMAGE) + "] mold/all e"
            molded = f"mold/all {self.value_of('any-type!', 1)}"
            if r.random() < 0.5:
                return f"e: try [load {self.damaged(molded, TEXT_DAMAGE)}] mold/all e"
            return f"e: try [transcode {self.damaged(f'to binary! {molded}', BINARY_DAMAGE)}] mold/all e"
        # code that runs inside itself until the call stack is full, its result assigned
        # (a few of these lines: raising the overflow is dear under the collector's stress)
        code = r.choice(["do cycp", "do dcyc", "rec 1", "compose reduce [cycp]"])
        return f"e: 5 e: try [{code}] x: reduce [1 try [{code}] 2] reduce [e/id length? x first x last x]"

    def line(self):
        r = self.r
        if r.random() < 0.25:
            return self.special_line(r.random())
        c = self.call()
        roll = r.random()
        if roll < 0.12:
            return r.choice(["v1", "v2", "v3"]) + ": " + c
        if roll < 0.20:
            return "e: try [" + c + "] mold/all e"
        if roll < 0.24:
            return "recycle none"
        if roll < 0.28:
            return "mold/all reduce [v1 v2 v3]"
        if roll < 0.32:
            return "form " + r.choice(["v1", "v2", "v3", "e", "err"])
        # calls inside functions, loops, nested evaluations and object fields
        if roll < 0.38:
            return "g: func [a b] [" + c + " " + self.call() + "] g v1 v2"
        if roll < 0.42:
            return "foreach x [1 \"s\" [b]] [" + c + "]"
        if roll < 0.46:
            return "do [" + c + " " + self.call() + "]"
        if roll < 0.50:
            return "obj/a: " + c
        if roll < 0.53:
            return "watched/n: " + c
        if roll < 0.56:
            return "append owner/s " + c
        # blocks run again and again: from the second run on they run
        # compiled (an operator called on a computed operand makes them so)
        if roll < 0.62:
            return "loop 3 [0 = length? [] " + c + " " + self.call() + "]"
        if roll < 0.66:
            return "h: func [a] [0 = length? [] e: try [" + c + "] " + self.call() + "] h 1 h v3 h v2"
        # a function whose body is one branch, called again and again from
        # parens: its simple ends are computed without entering it
        if roll < 0.70:
            branch = r.choice(["either n < 1 [n] [" + c + "]", "if n > 0 [n + 1]", "unless n = 2 [" + c + "]"])
            return ("q: func [n] [" + branch + "] p: func [x] [(q x) (q x - 1) (q x - 1)] "
                    "loop 3 [v3: p 1 v2: p 3] loop 3 [v1: p v1] reduce [v1 v2 v3]")
        return c

    def program(self, lines=10):
        prelude = PRELUDE + ([DEEPER] if self.deeper else [])
        return "\n".join(prelude + [self.line() for _ in range(lines)]) + "\n"


# ---- running ----

SANITIZER = re.compile(r"AddressSanitizer|UndefinedBehaviorSanitizer|runtime error:|LeakSanitizer")


def environment(switch, home):
    # The programs never read or write the user's own console settings. The
    # sanitizer's leak check at exit is off: a forked child lacks the threads
    # its parent had, which the check would stop on.
    env = dict(os.environ, ASAN_OPTIONS="detect_leaks=0:abort_on_error=0", HOME=home)
    if switch:
        env[switch] = "1"
    return env


def run(binary, text, timeout, switch=None, home=None):
    """One program in a fresh process of its own (--fresh)."""
    try:
        p = subprocess.run([binary], input=text.encode("utf-8"), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                           timeout=timeout, env=environment(switch, home))
    except subprocess.TimeoutExpired:
        return {"status": None, "out": b"", "err": b"", "timeout": True}
    return {"status": p.returncode, "out": p.stdout, "err": p.stderr, "timeout": False}


PRELUDE_TEXT = "\n".join(PRELUDE) + "\n"


class Server:
    """A process of one build (and switch) that has booted and run the
    prelude, the first lines every program shares, and then forks one child
    per program (ZUV_FORK_SERVER): the child reads the rest of the program
    from its own standard input and writes to its own output, and its status
    and time limit are its own, as a fresh process's would be. Boot and
    prelude, the same work in every program, run once per server."""

    def __init__(self, binary, switch, home):
        self.label = f"{binary}" + (f" {switch}" if switch else "")
        self.broken = False
        self.sock, theirs = socket.socketpair(socket.AF_UNIX, socket.SOCK_STREAM)
        env = environment(switch, home)
        env["ZUV_FORK_SERVER"] = str(theirs.fileno())
        self.out = tempfile.TemporaryFile()
        self.err = tempfile.TemporaryFile()
        self.proc = subprocess.Popen([binary], stdin=subprocess.PIPE, stdout=self.out, stderr=self.err, env=env,
                                     pass_fds=[theirs.fileno()])
        theirs.close()
        self.proc.stdin.write(PRELUDE_TEXT.encode("utf-8"))
        self.proc.stdin.close()

    def _number(self):
        data = b""
        while len(data) < 4:
            chunk = self.sock.recv(4 - len(data))
            if not chunk:
                raise ConnectionError("the fork server ended")
            data += chunk
        return int.from_bytes(data, sys.byteorder, signed=True)

    def run(self, rest, timeout):
        """The program's lines after the prelude, run by a child of the server."""
        with tempfile.TemporaryFile() as i, tempfile.TemporaryFile() as o, tempfile.TemporaryFile() as e:
            i.write(rest.encode("utf-8"))
            i.flush()
            i.seek(0)
            timed_out = False
            try:
                # The first request waits for the boot and the prelude too.
                self.sock.settimeout(timeout)
                socket.send_fds(self.sock, [b"r"], [i.fileno(), o.fileno(), e.fileno()])
                pid = self._number()
                self.sock.settimeout(timeout)
                try:
                    status = self._number()
                except socket.timeout:
                    timed_out = True
                    os.kill(pid, signal.SIGKILL)
                    self.sock.settimeout(60)
                    status = self._number()
            except (ConnectionError, OSError) as ex:
                # A server that ended, hangs or answers out of turn serves no more: the
                # next program of this worker gets a new one.
                self.broken = True
                self.proc.kill()
                return {"status": None, "out": b"", "err": f"fork server: {ex!r}".encode(), "timeout": False,
                        "server": True}
            o.seek(0)
            e.seek(0)
            if timed_out:
                return {"status": None, "out": b"", "err": b"", "timeout": True}
            return {"status": os.waitstatus_to_exitcode(status), "out": o.read(), "err": e.read(), "timeout": False}

    def close(self, timeout):
        """Ends the server: answers its exit status (None past the timeout), output and error output."""
        self.sock.close()
        try:
            status = self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            status = None
        self.out.seek(0)
        self.err.seek(0)
        return status, self.out.read(), self.err.read()


class Servers:
    """One server per worker thread and run (label) of a program."""

    def __init__(self, home):
        self.home = home
        self.local = threading.local()
        self.lock = threading.Lock()
        self.all = []  # (label, server)

    def get(self, label, binary, switch):
        mine = getattr(self.local, "servers", None)
        if mine is None:
            mine = self.local.servers = {}
        if label not in mine or mine[label].broken:
            mine[label] = Server(binary, switch, self.home)
            with self.lock:
                self.all.append((label, mine[label]))
        return mine[label]


def runs_of(reference, stress, walker):
    """(label, binary, switch, timeout factor) of each run of a program."""
    if not walker:
        runs = [("reference", reference, None, 1), ("stress", stress, None, 8)]
    else:
        runs = [("walker", reference, "ZUV_PLAIN_WALKER", 1), ("compiled", reference, "ZUV_COMPILE_ALL", 1),
                ("stress", stress, "ZUV_COMPILE_ALL", 8)]
    return [r for r in runs if r[1]]


def faults_of(label, res):
    err = res["err"].decode("utf-8", "replace")
    if res.get("server"):
        return [("server", f"{label}: {err}")]
    if res["timeout"]:
        return [("timeout", label)]
    if res["status"] < 0:
        return [("signal", f"{label}: signal {-res['status']}")]
    if SANITIZER.search(err):
        return [("sanitizer", f"{label}: {SANITIZER.search(err).group(0)}")]
    if res["status"] != 0:
        return [("status", f"{label}: status {res['status']}")]
    return []


def judge(index, text, reference, stress, timeout, walker, servers, home):
    """The faults of one program: a list of (kind, detail)."""
    faults = []
    results = {}
    for label, binary, switch, factor in runs_of(reference, stress, walker):
        if servers:
            res = servers.get(label, binary, switch).run(text[len(PRELUDE_TEXT):], timeout * factor)
        else:
            res = run(binary, text, timeout * factor, switch, home)
        results[label] = res
        faults += faults_of(label, res)
    if len(results) >= 2 and not any(r["timeout"] for r in results.values()):
        labels = list(results)
        for other in labels[1:]:
            if results[other]["out"] != results[labels[0]]["out"]:
                faults.append(("difference", f"{other} differs from {labels[0]}"))
    return index, text, faults, results


def close_servers(servers, timeout, failures):
    """Ends the servers; the faults of their own runs (the prelude and the
    end of input): a status, a sanitizer report, output that differs."""
    faults = []
    first = None
    for n, (label, server) in enumerate(servers.all):
        status, out, err = server.close(timeout)
        if server.broken:
            continue  # the program it failed has its fault
        res = {"status": status, "out": out, "err": err, "timeout": status is None}
        found = faults_of(f"{label} server", res)
        if first is None:
            first = out
        elif out != first:
            found.append(("difference", f"{label} server: its prelude's output differs"))
        if found:
            os.makedirs(failures, exist_ok=True)
            base = os.path.join(failures, f"server-{n}-{label}")
            with open(base + ".out", "wb") as f:
                f.write(out + b"\n---- stderr\n" + err)
            for _, detail in found:
                print(f"{detail} ({base}.out)", flush=True)
        faults += found
    return faults


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--reference", help="the Release build's zuv")
    ap.add_argument("--stress", help="the GC-stress sanitizer build's zuv")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--count", type=int, default=300)
    ap.add_argument("--lines", type=int, default=10)
    ap.add_argument("--jobs", type=int, default=4)
    ap.add_argument("--timeout", type=float, default=10.0, help="seconds per program (the stress build gets 8x)")
    ap.add_argument("--walker", action="store_true",
                    help="compare the walker alone with every block compiled (see above)")
    ap.add_argument("--failures", default="build-fuzz-programs")
    ap.add_argument("--print", action="store_true", help="write the programs and run nothing")
    ap.add_argument("--fresh", action="store_true",
                    help="run each program in a fresh process from its first line, without fork servers")
    a = ap.parse_args()

    specs = load_specs()
    programs = [Generator(a.seed * 1000003 + i, specs).program(a.lines) for i in range(a.count)]
    if a.print:
        for i, p in enumerate(programs):
            print(f"; ---- program {i}\n{p}")
        return 0
    if not a.reference and not a.stress:
        ap.error("give --reference, --stress or both")

    counts = {k: 0 for k in ("sanitizer", "signal", "status", "timeout", "difference", "server")}
    failed = 0
    home = tempfile.mkdtemp(prefix="zuv-programs-home-")
    servers = None if a.fresh else Servers(home)
    with concurrent.futures.ThreadPoolExecutor(max_workers=a.jobs) as pool:
        jobs = [pool.submit(judge, i, p, a.reference, a.stress, a.timeout, a.walker, servers, home)
                for i, p in enumerate(programs)]
        for job in concurrent.futures.as_completed(jobs):
            index, text, faults, results = job.result()
            if not faults:
                continue
            failed += 1
            for kind, _ in faults:
                counts[kind] += 1
            os.makedirs(a.failures, exist_ok=True)
            base = os.path.join(a.failures, f"program-{a.seed}-{index}")
            with open(base + ".zuv", "w", encoding="utf-8") as f:
                f.write(text)
            for label, res in results.items():
                with open(f"{base}.{label}.out", "wb") as f:
                    f.write(res["out"] + b"\n---- stderr\n" + res["err"])
            print(f"program {index}: " + "; ".join(d for _, d in faults) + f" ({base}.zuv)", flush=True)
    server_faults = close_servers(servers, a.timeout * 8, a.failures) if servers else []
    shutil.rmtree(home, ignore_errors=True)
    for kind, _ in server_faults:
        counts[kind] += 1
    print(f"programs: {a.count}, failed: {failed}, sanitizer reports: {counts['sanitizer']}, "
          f"signals: {counts['signal']}, other statuses: {counts['status']}, timeouts: {counts['timeout']}, "
          f"differences: {counts['difference']}, lost servers: {counts['server']}, faults of the servers' own runs: "
          f"{len(server_faults)}")
    return 1 if failed or server_faults else 0


if __name__ == "__main__":
    sys.exit(main())
