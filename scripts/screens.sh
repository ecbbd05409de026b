#!/usr/bin/env bash
# Draws every screen of the window in every language and theme with the real
# Direct2D renderer under wine, into OUT/SCREEN-LANG-THEME-DPI.png and
# OUT/index.html, with what a screen reader is told of each screen beside
# them in OUT/SCREEN-LANG.a11y.json, and fails when a text does not fit its box or two hit
# regions overlap.
#   scripts/screens.sh OUT [DPI...]     (DPI 96 and/or 144; both by default)
# Uses $WINEPREFIX when set, a throw-away prefix otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -ge 1 ] || { echo "usage: scripts/screens.sh OUT [DPI...]" >&2; exit 2; }
OUT=$(mkdir -p "$1" && cd "$1" && pwd)
shift
DPIS=("$@")
[ ${#DPIS[@]} -gt 0 ] || DPIS=(96 144)

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ -z "${WINEPREFIX:-}" ]; then
    export WINEPREFIX=$(mktemp -d /tmp/stickwright-screens.XXXXXX)
    trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX"' EXIT
fi
# The offscreen target does not care what DPI the prefix reports.
scripts/wine-fonts.sh 96

EXE=build/windows/ortivex-screens.exe
LOG=$(mktemp /tmp/stickwright-screens-build.XXXXXX)
if ! { [ -f build/windows/build.ninja ] || cmake --preset windows; } >"$LOG" 2>&1 ||
    ! cmake --build build/windows --target ortivex-screens >>"$LOG" 2>&1; then
    grep -E -A8 'error|FAILED' "$LOG" | head -60
    rm -f "$LOG"
    echo "building ortivex-screens failed" >&2
    exit 1
fi
rm -f "$LOG"

# Wine's Direct2D draws through OpenGL, which needs an X display even offscreen.
run() {
    if [ -n "${DISPLAY:-}" ]; then
        wine "$EXE" "$@"
    else
        xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" wine "$EXE" "$@"
    fi
}

status=0
for dpi in "${DPIS[@]}"; do
    run render "Z:$OUT" --dpi "$dpi" || status=1
done
echo "$(ls "$OUT"/*.png | wc -l) images in $OUT/index.html," \
    "$(ls "$OUT"/*.a11y.json | wc -l) accessibility trees beside them"
exit $status
