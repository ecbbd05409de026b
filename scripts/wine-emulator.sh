#!/usr/bin/env bash
# Runs a Windows program under wine for CTest. Listing a test program's tests
# gets up to three tries: now and then a wine process does its work and then
# never ends, and a listing that does not end would cost the run every test
# of that program. A listing's output is passed on only once it is complete.
set -uo pipefail
if [[ " $* " == *" --gtest_list_tests "* ]]; then
    out=$(mktemp)
    trap 'rm -f "$out"' EXIT
    for attempt in 1 2 3; do
        timeout 60 wine "$@" </dev/null >"$out"
        status=$?
        if [ $status -ne 124 ]; then
            cat "$out"
            exit $status
        fi
        echo "wine did not end after listing the tests (attempt $attempt)" >&2
    done
    exit 124
fi
exec wine "$@"
