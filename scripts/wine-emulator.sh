#!/usr/bin/env bash
# Runs a Windows program under wine for CTest. Now and then a wine process
# does its work and then never ends; a test program that writes its results
# to a file (--gtest_output=xml:Z:/…) is therefore watched, and once the file
# is complete and the process has still not ended a while later, the process
# is stopped and the file's verdict is the program's.
set -uo pipefail
results=
for arg in "$@"; do
    case $arg in --gtest_output=xml:Z:*) results=${arg#--gtest_output=xml:Z:} ;; esac
done
[ -n "$results" ] || exec wine "$@"

rm -f "$results"
wine "$@" &
pid=$!
complete_since=
while kill -0 "$pid" 2>/dev/null; do
    sleep 1
    if [ -z "$complete_since" ] && grep -q '</testsuites>' "$results" 2>/dev/null; then
        complete_since=$SECONDS
    fi
    if [ -n "$complete_since" ] && [ $((SECONDS - complete_since)) -ge 30 ]; then
        echo "wine did not end 30 s after the test program wrote its results; stopped" >&2
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
        grep -qE '<testsuites [^>]*failures="0"[^>]*errors="0"' "$results"
        exit $?
    fi
done
wait "$pid"
