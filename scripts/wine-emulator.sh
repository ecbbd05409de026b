#!/usr/bin/env bash
# Runs a Windows program under wine for CTest. Listing a test program's tests
# gets up to three tries: now and then a wine process does its work and then
# never ends, and a listing that does not end would cost the run every test
# of that program. A listing's output is passed on only once it is complete.
set -uo pipefail
if [[ " $* " == *" --gtest_list_tests "* ]]; then
    out=$(mktemp)
    err=$(mktemp)
    trap 'rm -f "$out" "$err"' EXIT
    for attempt in 1 2 3; do
        # Nothing of ours is handed to wine: a process it starts on the side
        # would keep the caller's pipes open.
        timeout 35 wine "$@" </dev/null >"$out" 2>"$err"
        status=$?
        if [ $status -ne 124 ]; then
            cat "$out"
            cat "$err" >&2
            exit $status
        fi
        echo "wine did not end after listing the tests (attempt $attempt)" >&2
    done
    exit 124
fi
exec wine "$@"
