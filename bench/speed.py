#!/usr/bin/env python3
"""Evaluation speed of zuv against Python 3 and Lua 5.4.

Two tables:

- the program set (default): each program of bench/speed/ is written three
  times, NAME.zuv, NAME.py and NAME.lua, with the same algorithm, and prints
  its result. Every round runs each program once in each language, one after
  the other, so a change of machine load falls on the three alike. A row
  fails when a run ends with a status other than 0 or when the three print
  different results. The table gives the CPU time (user + system) and the
  peak resident memory of each program's own process, the ratios zuv/python3
  and zuv/lua, their geometric means over the rows that passed, and the worst
  rows.

- the spelling table (--spelling): each folder of bench/spelling/ holds one
  algorithm written several ways in zuv; the ways must print the same result.
  Every round runs each way once; the table gives each way's time, its ratio
  to the fastest way of its group, and each group's slowest/fastest ratio.

Times are the best of the rounds (or the median with --median). The
programs run through a small C launcher (bench/measure.c, compiled on first
use into the temporary folder) so that the peak memory is the program's
alone. Python is Debian's /usr/bin/python3 run with -I (no user site, no
PYTHON* variables); Lua is lua5.4. A benchmark, not a test: it runs in no
test suite; it exits with status 1 only when a row fails.

Usage: speed.py [options] PATH-TO-ZUV [ROUNDS]   (a Release build; ROUNDS 5)
  --filter REGEX     only the rows (or spelling groups) whose name matches;
                     may be given more than once
  --env NAME=VALUE   set in zuv's environment only (e.g. ZUV_PLAIN_WALKER=1);
                     may be given more than once
  --spelling         the spelling table instead of the program set
  --median           report the median of the rounds instead of the best
  --timeout SECONDS  end a run that takes longer (default 120)
Environment: PYTHON (/usr/bin/python3), LUA (lua5.4), CC (cc).
"""
import argparse
import hashlib
import math
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
PROGRAMS = os.path.join(HERE, "speed")
SPELLINGS = os.path.join(HERE, "spelling")


def launcher():
    """The path of the compiled measuring launcher, built when missing."""
    source = os.path.join(HERE, "measure.c")
    with open(source, "rb") as f:
        digest = hashlib.sha1(f.read()).hexdigest()[:12]
    binary = os.path.join(tempfile.gettempdir(), f"zuv-bench-measure-{os.getuid()}-{digest}")
    if not os.path.exists(binary):
        compiler = os.environ.get("CC", "cc")
        partial = f"{binary}.{os.getpid()}"
        result = subprocess.run([compiler, "-O2", "-o", partial, source], capture_output=True, text=True)
        if result.returncode != 0:
            raise SystemExit(f"cannot compile {source} with {compiler}:\n{result.stderr}")
        os.replace(partial, binary)
    return binary


class Run:
    """One run of one program: CPU seconds, peak kB, exit status, output."""

    def __init__(self, seconds, kb, status, output, errors):
        self.seconds, self.kb, self.status = seconds, kb, status
        self.output, self.errors = output, errors

    def result(self):
        """The printed result, blank space at the ends of lines ignored."""
        return [line.rstrip() for line in self.output.strip().splitlines()]

    def problem(self):
        if self.status is None:
            return "timed out"
        if self.status != 0:
            text = (self.errors.strip() or self.output.strip()).splitlines()
            return f"status {self.status}: {' / '.join(text[:2])[:90]}"
        return None


def run_once(measure, command, env, timeout):
    read_end, write_end = os.pipe()
    child = subprocess.Popen([measure, str(write_end)] + command, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, pass_fds=(write_end,), env=env,
                             start_new_session=True)
    os.close(write_end)
    try:
        output, errors = child.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        os.killpg(child.pid, signal.SIGKILL)
        child.communicate()
        os.close(read_end)
        return Run(timeout, 0, None, "", "")
    with os.fdopen(read_end) as report:
        fields = report.read().split()
    if child.returncode != 0 or len(fields) != 4:
        raise SystemExit(f"the launcher failed on {' '.join(command)}:\n{errors.decode(errors='replace')}")
    user, system, kb, status = float(fields[0]), float(fields[1]), int(fields[2]), int(fields[3])
    return Run(user + system, kb, status, output.decode(errors="replace"), errors.decode(errors="replace"))


def pick(times, median):
    return statistics.median(times) if median else min(times)


def geometric_mean(values):
    return math.exp(sum(math.log(v) for v in values) / len(values)) if values else float("nan")


def selected(names, filters):
    return [n for n in names if not filters or any(re.search(f, n) for f in filters)]


def measure_rounds(rows, rounds, timeout, measure):
    """Runs every (row, variant) once per round, interleaved. rows maps a row
    name to a list of (variant, command, env). Returns {(row, variant): [Run]}
    and {row: problem} for the rows that failed (they are not run again)."""
    runs, failed = {}, {}
    progress = sys.stderr.isatty()
    for round_ in range(rounds):
        if progress:
            print(f"round {round_ + 1} of {rounds}", end="\r", file=sys.stderr, flush=True)
        for row, variants in rows.items():
            if row in failed:
                continue
            for variant, command, env in variants:
                run = run_once(measure, command, env, timeout)
                runs.setdefault((row, variant), []).append(run)
                problem = run.problem()
                if problem:
                    failed[row] = f"{variant} {problem}"
                    break
            if row not in failed:
                failed_output = check_outputs(row, variants, runs)
                if failed_output:
                    failed[row] = failed_output
    if progress:
        print(" " * 30, end="\r", file=sys.stderr, flush=True)
    return runs, failed


def check_outputs(row, variants, runs):
    """A problem when the variants of a row, or two runs of one variant, print
    different results."""
    first_variant = variants[0][0]
    expected = runs[(row, first_variant)][0].result()
    for variant, _, _ in variants:
        for run in runs[(row, variant)]:
            if run.result() != expected:
                shown = " / ".join(run.result())[:60]
                wanted = " / ".join(expected)[:60]
                return f"{variant} printed {shown!r}, {first_variant} {wanted!r}"
    return None


def program_table(args, measure, zuv_env):
    names = sorted(n[:-4] for n in os.listdir(PROGRAMS) if n.endswith(".zuv"))
    names = selected(names, args.filter)
    languages = [("zuv", [args.zuv], ".zuv", zuv_env),
                 ("python3", [args.python, "-I"], ".py", None),
                 ("lua", [args.lua], ".lua", None)]
    rows = {}
    for name in names:
        rows[name] = [(language, command + [os.path.join(PROGRAMS, name + suffix)], env)
                      for language, command, suffix, env in languages]
    runs, failed = measure_rounds(rows, args.rounds, args.timeout, measure)

    statistic = "median" if args.median else "best"
    print(f"{statistic} of {args.rounds} interleaved rounds; CPU seconds (user + system) and peak "
          f"resident MB of each program's own process")
    header = (f"{'program':<15}{'zuv s':>8}{'py s':>8}{'lua s':>8}{'zuv/py':>8}{'zuv/lua':>8}"
              f"{'zuv MB':>8}{'py MB':>7}{'lua MB':>7}")
    print(header)
    print("-" * len(header))
    ratios_py, ratios_lua = {}, {}
    for name in names:
        if name in failed:
            print(f"{name:<15}FAILED: {failed[name]}")
            continue
        t = {l: pick([r.seconds for r in runs[(name, l)]], args.median) for l, _, _, _ in languages}
        mb = {l: max(r.kb for r in runs[(name, l)]) / 1024 for l, _, _, _ in languages}
        ratios_py[name] = t["zuv"] / max(t["python3"], 1e-3)
        ratios_lua[name] = t["zuv"] / max(t["lua"], 1e-3)
        print(f"{name:<15}{t['zuv']:>8.3f}{t['python3']:>8.3f}{t['lua']:>8.3f}"
              f"{ratios_py[name]:>8.2f}{ratios_lua[name]:>8.2f}"
              f"{mb['zuv']:>8.1f}{mb['python3']:>7.1f}{mb['lua']:>7.1f}")
    print("-" * len(header))
    if ratios_py:
        print(f"{'geometric mean':<39}{geometric_mean(list(ratios_py.values())):>8.2f}"
              f"{geometric_mean(list(ratios_lua.values())):>8.2f}   over {len(ratios_py)} programs")
        worst_py = max(ratios_py, key=ratios_py.get)
        worst_lua = max(ratios_lua, key=ratios_lua.get)
        print(f"worst against python3: {worst_py} {ratios_py[worst_py]:.2f}; "
              f"against lua: {worst_lua} {ratios_lua[worst_lua]:.2f}")
    if failed:
        print(f"{len(failed)} of {len(names)} rows FAILED")
    return not failed


def spelling_table(args, measure, zuv_env):
    groups = sorted(g for g in os.listdir(SPELLINGS) if os.path.isdir(os.path.join(SPELLINGS, g)))
    groups = selected(groups, args.filter)
    rows = {}
    for group in groups:
        folder = os.path.join(SPELLINGS, group)
        ways = sorted(n[:-4] for n in os.listdir(folder) if n.endswith(".zuv"))
        rows[group] = [(way, [args.zuv, os.path.join(folder, way + ".zuv")], zuv_env) for way in ways]
    runs, failed = measure_rounds(rows, args.rounds, args.timeout, measure)

    statistic = "median" if args.median else "best"
    print(f"{statistic} of {args.rounds} interleaved rounds; zuv CPU seconds of each spelling and its "
          f"ratio to the fastest of its group")
    header = f"{'group':<16}{'spelling':<24}{'zuv s':>8}{'/fastest':>10}"
    print(header)
    print("-" * len(header))
    spreads = {}
    for group in groups:
        if group in failed:
            print(f"{group:<16}FAILED: {failed[group]}")
            continue
        times = {way: pick([r.seconds for r in runs[(group, way)]], args.median) for way, _, _ in rows[group]}
        fastest = max(min(times.values()), 1e-3)
        for i, (way, _, _) in enumerate(rows[group]):
            print(f"{group if i == 0 else '':<16}{way:<24}{times[way]:>8.3f}{times[way] / fastest:>10.2f}")
        spreads[group] = max(times.values()) / fastest
        print(f"{'':<16}{'slowest / fastest':<32}{spreads[group]:>10.2f}")
    print("-" * len(header))
    if spreads:
        worst = max(spreads, key=spreads.get)
        print(f"worst group: {worst} {spreads[worst]:.2f}")
    if failed:
        print(f"{len(failed)} of {len(groups)} groups FAILED")
    return not failed


def main():
    parser = argparse.ArgumentParser(description="Evaluation speed of zuv against Python 3 and Lua 5.4.")
    parser.add_argument("zuv", help="path of the zuv binary (a Release build)")
    parser.add_argument("rounds", nargs="?", type=int, default=5, help="rounds (default 5)")
    parser.add_argument("--filter", action="append", default=[], metavar="REGEX")
    parser.add_argument("--env", action="append", default=[], metavar="NAME=VALUE")
    parser.add_argument("--spelling", action="store_true")
    parser.add_argument("--median", action="store_true")
    parser.add_argument("--timeout", type=float, default=120.0)
    args = parser.parse_args()
    args.zuv = os.path.abspath(args.zuv)
    args.python = os.environ.get("PYTHON", "/usr/bin/python3")
    args.lua = os.environ.get("LUA", "lua5.4")
    if args.rounds < 1:
        parser.error("ROUNDS must be at least 1")
    for program in [args.zuv] + ([] if args.spelling else [args.python, args.lua]):
        if not shutil.which(program):
            raise SystemExit(f"not found: {program}" + (" (apt-get install lua5.4)" if program == args.lua else ""))
    zuv_env = dict(os.environ)
    for setting in args.env:
        name, sep, value = setting.partition("=")
        if not sep or not name:
            parser.error(f"--env takes NAME=VALUE, not {setting!r}")
        zuv_env[name] = value
    print(f"zuv: {args.zuv}" + (f"  with {' '.join(args.env)}" if args.env else ""))
    print(f"load average at start: {' '.join(f'{x:.1f}' for x in os.getloadavg())}")
    measure = launcher()
    ok = (spelling_table if args.spelling else program_table)(args, measure, zuv_env)
    print(f"load average at end: {' '.join(f'{x:.1f}' for x in os.getloadavg())}")
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
