#!/usr/bin/env bash
# How soon the window shows: under wine on a virtual display, starts the
# Windows executable N times without a mode flag and reads "first frame {} ms
# after process start" from its log, and beside each run starts a bare Win32
# window that paints once with GDI (first-paint-probe), the floor that wine
# itself sets. Prints figures only; nothing here passes or fails.
#
#   usage: scripts/bench-first-frame.sh [RUNS]      (default 5)
set -euo pipefail
cd "$(dirname "$0")/.."
RUNS=${1:-5}

scripts/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target stickwright_app first-paint-probe >/dev/null ||
    { echo "build failed"; exit 1; }
EXE=build/windows/Ortivex-Stickwright.exe
PROBE=build/windows/first-paint-probe.exe

export WINEPREFIX=${WINEPREFIX:-$(mktemp -d /tmp/stickwright-bench-wine.XXXXXX)}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
work=$(mktemp -d /tmp/stickwright-bench-frame.XXXXXX)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -noreset -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb=$!
trap 'wineserver -k >/dev/null 2>&1 || true; kill $xvfb 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=:$(head -n1 "$work/display")
scripts/wine-fonts.sh 96
wine reg add 'HKCU\Volatile Environment' /v LOCALAPPDATA /d "Z:${work//\//\\}" /f >/dev/null 2>&1
wineserver -p || true  # one server for all runs

median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
: >"$work/app.txt"
: >"$work/probe.txt"
for i in $(seq "$RUNS"); do
    wine "$PROBE" | sed -n 's/first paint \([0-9]*\) ms.*/\1/p' >>"$work/probe.txt"
    rm -rf "$work/Ortivex"
    wine "$EXE" >/dev/null 2>&1 &
    app=$!
    ms=
    for _ in $(seq 300); do
        ms=$({ cat "$work"/Ortivex/Stickwright/logs/*.log 2>/dev/null || true; } |
            sed -n 's/.*first frame \([0-9]*\) ms after process start.*/\1/p')
        [ -n "$ms" ] && break
        sleep 0.1
    done
    kill $app 2>/dev/null || true
    wait $app 2>/dev/null || true
    echo "${ms:-0}" >>"$work/app.txt"
    echo "run $i: window first frame ${ms:-?} ms, bare GDI window first paint $(tail -n1 "$work/probe.txt") ms"
done
echo "median: window first frame $(median <"$work/app.txt") ms, bare GDI window $(median <"$work/probe.txt") ms (wine $(wine --version))"
