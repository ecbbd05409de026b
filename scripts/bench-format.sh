#!/usr/bin/env bash
# How much a restore's formatting writes and how long it takes, beside
# mkfs.exfat: each formats its own fresh sparse file of SIZE bytes (through a
# loop device when run as root, as a drive would be), and the figures are the
# elapsed time and the bytes the backing file then holds (du: blocks
# allocated, i.e. what was written). The formatter alone (format-probe) and
# a whole restore through the headless mode (`--restore` on the file or loop
# device as a simulated drive: identification, locking, the write test,
# writing, flushing, reading back, the table re-read) are both measured.
# Prints figures only; nothing passes or fails.
#
#   usage: scripts/bench-format.sh [SIZE-BYTES] [DIR]   (64000000000, /tmp)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
SIZE=${1:-64000000000}
DIR=${2:-/tmp}

scripts/install-deps.sh
if [[ -z ${PROBE:-} ]]; then
    cmake --preset native >/dev/null
    cmake --build --preset native --target format-probe >/dev/null
    PROBE=$ROOT/build/native/format-probe
fi
if [[ -z ${EXE:-} ]]; then
    cmake --build --preset native --target stickwright_app >/dev/null
    EXE=$ROOT/build/native/ortivex-stickwright
fi

WORK=$(mktemp -d "$DIR/stickwright-bench-format.XXXXXX")
LOOPS=()
cleanup() {
    for l in "${LOOPS[@]}"; do losetup -d "$l" || true; done
    rm -rf "$WORK"
}
trap cleanup EXIT

# A target for one formatter, in TARGET: the loop device over a fresh sparse
# file, or the file itself without root.
target() {
    truncate -s "$SIZE" "$1"
    TARGET=$1
    if [[ $(id -u) -eq 0 ]] && l=$(losetup -f --show "$1" 2>/dev/null); then
        LOOPS+=("$l")
        TARGET=$l
    fi
}

measure() {  # name backing-file command...
    local name=$1 file=$2
    shift 2
    local start end out
    start=$(date +%s.%N)
    out=$("$@")
    sync
    end=$(date +%s.%N)
    printf '%-12s %8.3f s  %12d bytes written\n' "$name" "$(echo "$end - $start" | bc)" \
        "$(du -B1 "$file" | cut -f1)"
    [[ $name != mkfs.exfat ]] && sed 's/^/  /' <<<"$out"
    return 0
}

echo "formatting $SIZE bytes ($(echo "scale=1; $SIZE / 1000000000" | bc) GB)"
target "$WORK/ours.img"
OURS=$TARGET
target "$WORK/restore.img"
RESTORE=$TARGET
target "$WORK/mkfs.img"
THEIRS=$TARGET
measure stickwright "$WORK/ours.img" "$PROBE" "$OURS"
restore() {
    ORTIVEX_SIMULATED_USB="$RESTORE,serial=BENCH" ORTIVEX_TEST_USB_SERIAL=BENCH \
        LOCALAPPDATA="$WORK/appdata" "$EXE" --enable-destructive-usb-tests --restore | tail -n 1
}
measure restore "$WORK/restore.img" restore
measure mkfs.exfat "$WORK/mkfs.img" mkfs.exfat "$THEIRS"
