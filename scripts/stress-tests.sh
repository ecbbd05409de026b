#!/usr/bin/env bash
# Runs the Linux test suite 10 times and the sanitizer suite 3 times, each
# with "ctest -j2" while two busy processes keep both cores loaded, the way a
# shared CI machine may be. Prints per run whether it had failures, then how
# many runs had failures and which tests failed (name and count). Exits
# non-zero when any run failed.
#
# Configures and builds the native and asan presets first when needed (a
# fresh build tree is fine). NATIVE_RUNS and ASAN_RUNS change the counts.
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

NATIVE_RUNS=${NATIVE_RUNS:-10}
ASAN_RUNS=${ASAN_RUNS:-3}
RESULTS=$ROOT/build/stress-results
rm -rf "$RESULTS" && mkdir -p "$RESULTS"

BUSY_PIDS=()
CTEST_PID=
stop_busy() {
    local pid
    for pid in "${BUSY_PIDS[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    BUSY_PIDS=()
}
cleanup() {
    if [ -n "$CTEST_PID" ]; then
        kill "$CTEST_PID" 2>/dev/null || true
        wait "$CTEST_PID" 2>/dev/null || true
    fi
    stop_busy
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

build() {
    local preset=$1
    if [ ! -f "build/$preset/CMakeCache.txt" ] &&
        ! cmake --preset "$preset" >"$RESULTS/$preset-configure.log" 2>&1; then
        cat "$RESULTS/$preset-configure.log"
        echo "configure $preset FAILED"
        exit 2
    fi
    if ! cmake --build --preset "$preset" -j2 >"$RESULTS/$preset-build.log" 2>&1; then
        grep -E -A8 'error|FAILED' "$RESULTS/$preset-build.log" | head -80
        echo "build $preset FAILED"
        exit 2
    fi
}

echo "=== building native and asan"
build native
build asan

# Two processes that never sleep, one per core (started here, in this
# shell, so that their ids are theirs and the exit trap ends them).
for _ in 1 2; do
    yes >/dev/null &
    BUSY_PIDS+=($!)
done

failed_runs=0
total_runs=0
run_suite() {
    local preset=$1 runs=$2 n
    for n in $(seq "$runs"); do
        local name=$preset-$n
        # In the background, so that a signal to this script is handled at once.
        ctest --preset "$preset" -j2 --output-on-failure --output-junit "$RESULTS/$name.xml" \
            >"$RESULTS/$name.log" 2>&1 &
        CTEST_PID=$!
        wait "$CTEST_PID"
        local status=$?
        CTEST_PID=
        total_runs=$((total_runs + 1))
        local summary
        summary=$(grep -E '^[0-9]+% tests passed' "$RESULTS/$name.log" || echo "no summary")
        if [ "$status" = 0 ]; then
            echo "$name: no failures ($summary)"
        else
            failed_runs=$((failed_runs + 1))
            echo "$name: FAILURES ($summary; log $RESULTS/$name.log)"
        fi
    done
}

echo "=== tests under load"
run_suite native "$NATIVE_RUNS"
run_suite asan "$ASAN_RUNS"
stop_busy

echo "=== $failed_runs of $total_runs runs had failures" \
    "($NATIVE_RUNS native, $ASAN_RUNS asan)"
python3 - "$RESULTS" <<'PY'
import collections, glob, sys, xml.etree.ElementTree as ET

counts = collections.Counter()
for path in glob.glob(sys.argv[1] + "/*.xml"):
    preset = path.rsplit("/", 1)[1].rsplit("-", 1)[0]
    for case in ET.parse(path).getroot().iter("testcase"):
        if (case.find("failure") is not None or case.find("error") is not None
                or case.get("status") == "fail"):
            counts[f"{preset}: {case.get('name')}"] += 1
for name, count in sorted(counts.items()):
    print(f"failed {count}x  {name}")
PY
[ "$failed_runs" = 0 ]
