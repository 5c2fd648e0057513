#!/usr/bin/env python3
"""Runs the unit tests in one process, each still a test of its own.

    unit_results.py RESULTS ZUV_UNIT FILTER

runs the unit tests that the gtest filter selects in one process of ZUV_UNIT
and writes each test's result into the folder RESULTS: a file named after
the test (Suite.Test.passed, .skipped, or .failed holding the failure's
messages), and `complete` once all are written. Fails only when the run
ended without its results (a crash or a sanitizer's abort). unit_result.sh
then stands where ZUV_UNIT would run one test, and reports its file.

The stress build uses it: each start-up of the unit tests under the sanitizers
costs more than most tests, and the suite passes as one process as well.
"""
import os
import shutil
import subprocess
import sys
import xml.etree.ElementTree as ElementTree


def main(results, program, selected):
    shutil.rmtree(results, ignore_errors=True)  # a result of an earlier run never stands for this one
    os.makedirs(results)
    xml = os.path.join(results, "run.xml")
    status = subprocess.run([program, f"--gtest_filter={selected}", f"--gtest_output=xml:{xml}"]).returncode
    try:
        tree = ElementTree.parse(xml)
    except (OSError, ElementTree.ParseError) as e:
        print(f"the unit tests ended with status {status} without their results: {e}")
        return 1
    for case in tree.iter("testcase"):
        if case.get("status") == "notrun":
            continue
        name = f"{case.get('classname')}.{case.get('name')}"
        failures = case.findall("failure") + case.findall("error")
        skipped = case.get("result") == "skipped" or case.find("skipped") is not None
        outcome = "failed" if failures else "skipped" if skipped else "passed"
        with open(os.path.join(results, f"{name}.{outcome}"), "w") as f:
            f.writelines((failure.get("message") or failure.text or "") + "\n" for failure in failures)
    open(os.path.join(results, "complete"), "w").close()
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
