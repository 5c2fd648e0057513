#!/bin/sh
# Stands where the unit-test program would run one test (its arguments name
# it: --gtest_filter=Suite.Test) and reports the result that the one-process
# run (unit_results.py) wrote into the folder RESULTS. A test that run left
# out runs in a process of its own, as does a listing of the tests.
#     unit_result.sh RESULTS ZUV_UNIT ARGS...
results=$1
program=$2
shift 2
name=
for arg; do
    case $arg in
        --gtest_list_tests) exec "$program" "$@" ;;
        --gtest_filter=*) name=${arg#--gtest_filter=} ;;
    esac
done
if [ -e "$results/$name.passed" ]; then
    echo "[       OK ] $name (in the one-process run)"
elif [ -e "$results/$name.skipped" ]; then
    echo "[  SKIPPED ] $name"
elif [ -e "$results/$name.failed" ]; then
    cat "$results/$name.failed"
    echo "[  FAILED  ] $name"
    exit 1
elif [ ! -e "$results/complete" ]; then
    echo "no results of the one-process run in $results"
    exit 1
else
    exec "$program" "$@"
fi
