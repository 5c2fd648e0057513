#!/usr/bin/env python3
"""The unit tests run as one process, each still a test of its own.

    unit_results.py run RESULTS ZUV_UNIT FILTER
        runs the unit tests that the gtest filter selects in one process of
        ZUV_UNIT, which writes each test's result into the XML file RESULTS;
        fails only when that run ended without writing it (a crash or a
        sanitizer's abort)
    unit_results.py report RESULTS ZUV_UNIT ARGS...
        stands where ZUV_UNIT would run one test (--gtest_filter=Suite.Test):
        prints that test's result from RESULTS and fails when the test
        failed; a test the filter left out runs in a process of its own, as
        does a listing (--gtest_list_tests)

The stress build uses it: each start-up of the unit tests under the sanitizers
costs more than most tests, and the suite passes as one process as well.
"""
import os
import subprocess
import sys
import xml.etree.ElementTree as ElementTree


def run(results, program, selected):
    if os.path.exists(results):
        os.remove(results)  # a result of an earlier run never stands for this one
    status = subprocess.run([program, f"--gtest_filter={selected}", f"--gtest_output=xml:{results}"]).returncode
    if not os.path.exists(results):
        print(f"the unit tests ended with status {status} before writing their results")
        return 1
    return 0


def report(results, program, args):
    if "--gtest_list_tests" in args:
        os.execv(program, [program, *args])
    wanted = next((a.split("=", 1)[1] for a in args if a.startswith("--gtest_filter=")), None)
    try:
        tree = ElementTree.parse(results)
    except (OSError, ElementTree.ParseError) as e:
        print(f"no results of the one-process run: {e}")
        return 1
    for case in tree.iter("testcase"):
        if f"{case.get('classname')}.{case.get('name')}" != wanted or case.get("status") == "notrun":
            continue
        failures = case.findall("failure") + case.findall("error")
        for failure in failures:
            print(failure.get("message") or failure.text)
        if failures:
            print(f"[  FAILED  ] {wanted}")
            return 1
        if case.get("result") == "skipped" or case.find("skipped") is not None:
            print(f"[  SKIPPED ] {wanted}")
            return 0
        print(f"[       OK ] {wanted} ({case.get('time')} s in the one-process run)")
        return 0
    os.execv(program, [program, *args])  # a test the one-process run left out


if __name__ == "__main__":
    mode, results, program, *rest = sys.argv[1:]
    sys.exit(run(results, program, rest[0]) if mode == "run" else report(results, program, rest))
