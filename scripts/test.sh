#!/usr/bin/env bash
# Builds the Linux, sanitizer and Windows configurations and runs every test:
# natively, with AddressSanitizer + UBSan, and the Windows binaries under wine.
# Ends with one line "N passed, N failed"; exits non-zero when anything failed.
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

scripts/install-deps.sh || { echo "0 passed, 1 failed"; exit 1; }

# The release build compiles most files exactly as the development build
# does; through the cache it reuses those objects, and a second run of this
# script reuses everything that did not change.
export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
export CCACHE_BASEDIR=$ROOT CCACHE_DIR=${CCACHE_DIR:-$ROOT/build/ccache}
export CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime
# Dependencies from the compiler's own -MD output: a miss then costs no
# separate preprocessor run (which adds a sixth to a first build from scratch).
export CCACHE_DEPEND=1

JOBS=$(nproc)
RESULTS=$ROOT/build/test-results
rm -rf "$RESULTS" && mkdir -p "$RESULTS"
build_failures=0
checks_passed=0
SECONDS=0

# A check outside CTest counts as one test.
check() {
    local name=$1
    shift
    echo "=== $name"
    if "$@"; then
        checks_passed=$((checks_passed + 1))
    else
        echo "$name FAILED"
        build_failures=$((build_failures + 1))
    fi
}

check "format" scripts/check-format.sh
check "layers" python3 scripts/check-layers.py

# A throw-away wine prefix, reporting Windows 10, with one wineserver kept
# alive for the whole run (starting one per test costs seconds each).
export WINEPREFIX=$(mktemp -d /tmp/stickwright-wine.XXXXXX)
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
XVFB_PID=
cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    timeout 30 wineserver -w >/dev/null 2>&1 || true  # its processes gone before their files
    rm -rf "$WINEPREFIX"
    [ -z "$XVFB_PID" ] || kill "$XVFB_PID" 2>/dev/null || true
}
trap cleanup EXIT

run_preset() {
    local preset=$1
    echo "=== $preset: configure and build"
    if ! cmake --preset "$preset" >"$RESULTS/$preset-configure.log" 2>&1; then
        cat "$RESULTS/$preset-configure.log"
        echo "configure $preset FAILED"
        build_failures=$((build_failures + 1))
        return
    fi
    if ! cmake --build --preset "$preset" -j "$JOBS" >"$RESULTS/$preset-build.log" 2>&1; then
        grep -E -A8 'error|FAILED' "$RESULTS/$preset-build.log" | head -80
        echo "build $preset FAILED"
        build_failures=$((build_failures + 1))
        return
    fi
    if [ "$preset" = windows ]; then
        # wine's services and desktop, started now with their output going
        # nowhere: started by a test instead, they would hold its output
        # pipe open, and CTest would wait for it.
        wine build/windows/first-paint-probe.exe --hold-desktop </dev/null >/dev/null 2>&1 &
        sleep 3
    fi
    echo "=== $preset: tests"
    rm -rf "build/$preset/gtest-results"
    ctest --preset "$preset" -j "$JOBS" --output-on-failure --output-junit "$RESULTS/$preset.xml" \
        | grep -E -v '^ *([0-9]+/[0-9]+ Test +#[0-9]+: .* Passed|Start +[0-9]+:)'
    local failed=${PIPESTATUS[0]}
    # Now and then wine fails to start a test process at all; such a test gets
    # one more run, and the summary names every test that needed it.
    if [ "$failed" != 0 ] && [ "$preset" = windows ]; then
        echo "=== $preset: failed tests once more"
        ctest --preset "$preset" --rerun-failed --output-on-failure \
            --output-junit "$RESULTS/$preset.rerun.xml" | tail -n 20
    fi
}

run_preset native
run_preset asan

echo "=== windows: preparing wine"
# One virtual display for the whole Windows run, set before wine starts:
# wine's desktop stays on the display its first process saw, and the window
# tests draw and click on it.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -noreset -nolisten tcp 3>"$RESULTS/display" \
    >/dev/null 2>&1 &
XVFB_PID=$!
for _ in $(seq 100); do [ -s "$RESULTS/display" ] && break; sleep 0.1; done
export DISPLAY=:$(head -n1 "$RESULTS/display")
wine winecfg -v win10 >/dev/null 2>&1
scripts/wine-fonts.sh 96
wineserver -p
run_preset windows

check "windows-release: vendor settings required, no development code" scripts/check-release.sh

echo "=== finished in $((SECONDS / 60)) min $((SECONDS % 60)) s"
python3 - "$RESULTS" "$build_failures" "$checks_passed" "$ROOT/build" <<'PY'
import glob, os, sys, xml.etree.ElementTree as ET

def outcomes(path, qualified=False):
    result = {}
    for case in ET.parse(path).getroot().iter("testcase"):
        status = case.get("status", "run")
        name = case.get("name")
        if qualified:  # GoogleTest's own files: Suite.Case
            name = case.get("classname") + "." + name
        if case.find("failure") is not None or case.find("error") is not None or status == "fail":
            result[name] = "failed"
        elif case.find("skipped") is not None or status in ("notrun", "disabled"):
            result[name] = "not run"  # a test that did not run counts against us
        else:
            result[name] = "passed"
    return result

results, build_dir = sys.argv[1], sys.argv[4]
passed = failed = 0
for path in sorted(glob.glob(results + "/*.xml")):
    if path.endswith(".rerun.xml"):
        continue
    preset = os.path.basename(path)[:-len(".xml")]
    rerun_path = path[:-len(".xml")] + ".rerun.xml"
    second = outcomes(rerun_path) if os.path.exists(rerun_path) else {}
    for name, outcome in outcomes(path).items():
        if outcome == "failed" and second.get(name) == "passed":
            print(f"passed only on its second run: {name}")
            outcome = "passed"
        if name.startswith("unit.shard"):
            # A shard counts by its cases, from the file its last run wrote;
            # a shard that failed with every case passed (a leak found at
            # exit, a crash after the file) or wrote none counts as a failure.
            shard = f"{build_dir}/{preset}/gtest-results/{name[len('unit.'):]}.xml"
            cases = outcomes(shard, qualified=True) if os.path.exists(shard) else {}
            for case, case_outcome in cases.items():
                if case_outcome == "passed":
                    passed += 1
                else:
                    failed += 1
                    print(f"failed ({preset}): {case}")
            if outcome != "passed" and all(o == "passed" for o in cases.values()):
                failed += 1
                print(f"failed ({preset}): {name}, its process")
            continue
        if outcome == "passed":
            passed += 1
        else:
            failed += 1
failed += int(sys.argv[2])
passed += int(sys.argv[3])
print(f"{passed} passed, {failed} failed")
sys.exit(1 if failed else 0)
PY
