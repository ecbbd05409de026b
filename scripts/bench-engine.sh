#!/usr/bin/env bash
# Measures the raw transfer engine against dd on the same target in the same
# run: 1 GiB written and read with 1 MiB requests at depth 1 and 4, and with
# dd oflag=direct / iflag=direct bs=1M, on a loop device (as root) or a file.
# Prints MB/s and the engine/dd ratios. Target: 0.95 of dd or better.
#   MIB=1024 ROUNDS=3 scripts/bench-engine.sh [TARGET_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
MIB=${MIB:-1024}
ROUNDS=${ROUNDS:-3}
DIR=${1:-/tmp}
BIN=build/native

if [[ ! -x $BIN/ortivex-enginebench || ! -x $BIN/ortivex-stickwright ]]; then
    cmake --preset native >/dev/null && cmake --build --preset native >/dev/null
fi

FILE=$(mktemp "$DIR/stickwright-bench.XXXXXX")
LOGS=$(mktemp -d)
LOOP=""
cleanup() { [[ -n $LOOP ]] && losetup -d "$LOOP"; rm -rf "$FILE" "$LOGS"; }
trap cleanup EXIT
truncate -s "${MIB}M" "$FILE"
TARGET=$FILE
if [[ $(id -u) -eq 0 ]] && LOOP=$(losetup -f --show --direct-io=on "$FILE" 2>/dev/null); then
    TARGET=$LOOP
fi
echo "target: $TARGET (${MIB} MiB, best of $ROUNDS rounds)"

# Prints MB/s of one dd run.
dd_rate() {
    local secs
    secs=$("$@" 2>&1 | sed -n 's/.* copied, \([0-9.]*\) s,.*/\1/p')
    python3 -c "print(f'{$MIB * 1048576 / 1e6 / $secs:.1f}')"
}
engine_rate() { $BIN/ortivex-enginebench "$1" "$TARGET" "$MIB" "$2" 1024 | awk '{print $2}'; }
best() { sort -g | tail -1; }

# Each round runs the three writers, then the three readers, in an order
# rotated from round to round, so that no contender always goes first into
# whatever the caches below the loop device hold.
declare -A rate
measure() {
    case $1 in
        dd_write) dd_rate dd if=/dev/zero of="$TARGET" bs=1M count="$MIB" oflag=direct conv=notrunc ;;
        w1) engine_rate write 1 ;;
        w4) engine_rate write 4 ;;
        dd_read) dd_rate dd if="$TARGET" of=/dev/null bs=1M count="$MIB" iflag=direct ;;
        r1) engine_rate read 1 ;;
        r4) engine_rate read 4 ;;
    esac
}
writers=(dd_write w1 w4)
readers=(dd_read r1 r4)
for round in $(seq "$ROUNDS"); do
    for group in writers readers; do
        declare -n list=$group
        for i in 0 1 2; do
            k=${list[$(( (i + round) % 3 ))]}
            rate[$k]+="$(measure "$k") "
        done
    done
done
for k in "${!rate[@]}"; do rate[$k]=$(tr ' ' '\n' <<<"${rate[$k]}" | grep . | best); done

ratio() { python3 -c "print(f'{$1 / $2:.3f}')"; }
printf '%-28s %10s %8s\n' "" "MB/s" "vs dd"
printf '%-28s %10s\n' "dd oflag=direct bs=1M" "${rate[dd_write]}"
printf '%-28s %10s %8s\n' "engine write depth 1, 1 MiB" "${rate[w1]}" "$(ratio "${rate[w1]}" "${rate[dd_write]}")"
printf '%-28s %10s %8s\n' "engine write depth 4, 1 MiB" "${rate[w4]}" "$(ratio "${rate[w4]}" "${rate[dd_write]}")"
printf '%-28s %10s\n' "dd iflag=direct bs=1M" "${rate[dd_read]}"
printf '%-28s %10s %8s\n' "engine read depth 1, 1 MiB" "${rate[r1]}" "$(ratio "${rate[r1]}" "${rate[dd_read]}")"
printf '%-28s %10s %8s\n' "engine read depth 4, 1 MiB" "${rate[r4]}" "$(ratio "${rate[r4]}" "${rate[dd_read]}")"

# How long listing the drives takes (target: under 200 ms).
list_ms=()
for _ in 1 2 3 4 5; do
    start=$(date +%s%N)
    LOCALAPPDATA=$LOGS $BIN/ortivex-stickwright --list-drives >/dev/null
    list_ms+=($(( ($(date +%s%N) - start) / 1000000 )))
done
echo "--list-drives: ${list_ms[*]} ms"
