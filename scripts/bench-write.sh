#!/usr/bin/env bash
# How fast and how lean "--write" is: masters a 2 GiB signed image, makes a
# simulated USB drive backed by a loop device (as root; a file on the same
# disk otherwise), and in the same run times
#   - "--write" (validation, then the write job: write, flush, read-back,
#     head last) under /usr/bin/time -v, and
#   - the baseline: dd bs=8M oflag=direct of the image, then a direct
#     read-back piped to sha256sum,
# alternating the two over ROUNDS rounds and keeping each one's best. Prints
# the ratio of total times (the job's own total, and the whole process with
# its validation pass), the write and verify rates, the CPU time and the peak
# resident memory. Targets: total at most 1.10 times the baseline; peak
# resident memory under 64 MiB. Prints figures only; nothing passes or fails.
#
#   usage: [ROUNDS=2] [EXE=path] scripts/bench-write.sh [SIZE-MIB] [DIR]   (2048, /tmp)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
MIB=${1:-2048}
DIR=${2:-/tmp}
ROUNDS=${ROUNDS:-2}

scripts/install-deps.sh
if [[ -z ${EXE:-} ]]; then
    cmake --preset native >/dev/null
    cmake --build --preset native >/dev/null
    EXE=$ROOT/build/native/ortivex-stickwright
fi
TOOL=${TOOL:-$ROOT/build/native/ortivex-mediatool}
[[ -x $TOOL ]] || { cmake --preset native >/dev/null && cmake --build --preset native >/dev/null; }

WORK=$(mktemp -d "$DIR/stickwright-bench-write.XXXXXX")
LOOP=""
cleanup() { [[ -n $LOOP ]] && losetup -d "$LOOP"; rm -rf "$WORK"; }
trap cleanup EXIT
export LOCALAPPDATA=$WORK/appdata

# ---- a signed image of about MIB MiB -------------------------------------------
scripts/make-bench-image.sh "$WORK/bench.iso" "$MIB" "$TOOL"
IMAGE=$WORK/bench.iso
SIZE=$(stat -c %s "$IMAGE")

# ---- the drive: a loop device over a file, or the file itself -----------------
truncate -s "$((SIZE / 1048576 + 64))M" "$WORK/drive.img"
TARGET=$WORK/drive.img
if [[ $(id -u) -eq 0 ]] && LOOP=$(losetup -f --show --direct-io=on "$WORK/drive.img" 2>/dev/null); then
    TARGET=$LOOP
fi
export ORTIVEX_SIMULATED_USB="$TARGET,serial=BENCHWRITE" ORTIVEX_TEST_USB_SERIAL=BENCHWRITE
echo "image: $SIZE bytes, signed with the development key; drive: $TARGET; best of $ROUNDS rounds"
cat "$IMAGE" >/dev/null  # both contenders find the image in the page cache

now() { date +%s.%N; }
secs() { python3 -c "print(f'{$2 - $1:.3f}')"; }
best=() # tool_job tool_process baseline (seconds)
tool_run() {
    local t0 t1
    t0=$(now)
    /usr/bin/time -v -o "$WORK/time.txt" "$EXE" --enable-destructive-usb-tests --write "$IMAGE" \
        >"$WORK/out.txt" 2>&1 || { cat "$WORK/out.txt"; exit 1; }
    t1=$(now)
    local ok
    ok=$(grep '^OK ' "$WORK/out.txt") || { cat "$WORK/out.txt"; exit 1; }
    local job
    job=$(sed -n 's/^OK total=\([0-9.]*\)s.*/\1/p' <<<"$ok")
    local process
    process=$(secs "$t0" "$t1")
    if [[ -z ${best[0]:-} ]] || python3 -c "import sys; sys.exit(0 if $job < ${best[0]} else 1)"; then
        best[0]=$job
        best[1]=$process
        cp "$WORK/out.txt" "$WORK/best-out.txt"
        cp "$WORK/time.txt" "$WORK/best-time.txt"
    fi
    cmp -n "$SIZE" "$IMAGE" "$TARGET" >/dev/null || { echo "the drive does not hold the image"; exit 1; }
}
baseline_run() {
    local t0 t1 t2 sum
    t0=$(now)
    dd if="$IMAGE" of="$TARGET" bs=8M oflag=direct conv=notrunc,fsync status=none
    t1=$(now)
    sum=$(dd if="$TARGET" bs=8M iflag=direct,count_bytes count="$SIZE" status=none | sha256sum)
    t2=$(now)
    local total
    total=$(secs "$t0" "$t2")
    if [[ -z ${best[2]:-} ]] || python3 -c "import sys; sys.exit(0 if $total < ${best[2]} else 1)"; then
        best[2]=$total
        best[3]=$(secs "$t0" "$t1")
        best[4]=$(secs "$t1" "$t2")
    fi
    [[ ${sum%% *} == $(sha256sum "$IMAGE" | cut -d' ' -f1) ]] || { echo "dd read-back differs"; exit 1; }
}
for round in $(seq "$ROUNDS"); do
    if ((round % 2)); then tool_run; baseline_run; else baseline_run; tool_run; fi
done

ok=$(grep '^OK ' "$WORK/best-out.txt")
field() { sed -n "s/.*$1=\([0-9.]*\)s (\([0-9.]*\) MB\/s).*/\1 s, \2 MB\/s/p" <<<"$ok"; }
cpu=$(awk -F': ' '/User time/{u=$2} /System time/{s=$2} END{printf "%.2f s (user %.2f, system %.2f)", u+s, u, s}' "$WORK/best-time.txt")
rss=$(awk -F': ' '/Maximum resident set size/{printf "%.1f MiB", $2/1024}' "$WORK/best-time.txt")
ratio() { python3 -c "print(f'{$1 / $2:.3f}')"; }
rate() { python3 -c "print(f'{$SIZE / 1e6 / $1:.1f} MB/s')"; }
# For reference: the direct read alone, without sha256sum.
t0=$(now)
dd if="$TARGET" bs=8M iflag=direct,count_bytes count="$SIZE" of=/dev/null status=none
read_alone=$(secs "$t0" "$(now)")

echo "$ok"
printf '%-44s %s s\n' "baseline total" "${best[2]}"
printf '%-44s %s s, %s\n' "  dd bs=8M oflag=direct (with fsync)" "${best[3]}" "$(rate "${best[3]}")"
printf '%-44s %s s, %s\n' "  dd bs=8M iflag=direct | sha256sum" "${best[4]}" "$(rate "${best[4]}")"
printf '%-44s %s s, %s\n' "  (dd iflag=direct alone, for reference)" "$read_alone" "$(rate "$read_alone")"
printf '%-44s %s\n' "sha256sum here" "$(sha256sum --version | head -1)"
printf '%-44s %s s   ratio %s (target <= 1.10)\n' "--write job total (OK line)" "${best[0]}" "$(ratio "${best[0]}" "${best[2]}")"
printf '%-44s %s s   ratio %s\n' "--write whole process (with validation)" "${best[1]}" "$(ratio "${best[1]}" "${best[2]}")"
printf '%-44s %s\n' "write" "$(field write)"
printf '%-44s %s\n' "verify (read-back and head)" "$(field verify)"
printf '%-44s %s\n' "CPU time of the process" "$cpu"
printf '%-44s %s (target < 64 MiB)\n' "peak resident memory" "$rss"
