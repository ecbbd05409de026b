#!/usr/bin/env bash
# How fast the content check is: masters a 2 GiB signed image, then on the
# same file, read once beforehand so that both runs find it in the page
# cache, times "--verify-image" and "openssl dgst -sha256" (which uses the
# CPU's SHA extensions; coreutils' sha256sum does not and is no yardstick),
# and prints the ratio of their rates (the target is 0.95 or better). Then measures the inspection of an
# image with more than 4096 files (target: under 50 ms). Prints figures only;
# nothing here passes or fails.
#
#   usage: scripts/bench-verify.sh [SIZE-MIB]      (default 2048)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
MIB=${1:-2048}

scripts/install-deps.sh
if [[ -z ${BENCH_NO_BUILD:-} ]]; then
    cmake --preset native >/dev/null
    cmake --build --preset native >/dev/null
fi
EXE=$ROOT/build/native/ortivex-stickwright
TOOL=$ROOT/build/native/ortivex-mediatool

WORK=$(mktemp -d /tmp/stickwright-bench.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
export LOCALAPPDATA=$WORK/appdata

# ---- a signed image of MIB MiB ------------------------------------------------
scripts/make-bench-image.sh "$WORK/bench.iso" "$MIB" "$TOOL"
SIZE=$(stat -c %s "$WORK/bench.iso")

echo "image: $SIZE bytes ($MIB MiB), signed with the development key"
echo "libgcrypt: $(python3 - <<'PY'
import ctypes
g = ctypes.CDLL("libgcrypt.so.20")
g.gcry_check_version.restype = ctypes.c_char_p
g.gcry_get_config.restype = ctypes.c_void_p
ver = g.gcry_check_version(None).decode()
p = g.gcry_get_config(0, b"hwflist")
flags = ctypes.string_at(p).decode().strip().rstrip(":") if p else "?"
print(ver, flags)
PY
)"
grep -q -w sha_ni /proc/cpuinfo && echo "CPU: SHA extensions present" || echo "CPU: no SHA extensions"

cat "$WORK/bench.iso" >/dev/null  # into the page cache

now() { date +%s.%N; }
best_verify=0
best_sum=0
echo "openssl: $(openssl version)"
for run in 1 2 3; do
    t0=$(now)
    line=$("$EXE" --verify-image "$WORK/bench.iso" | tail -n 1)
    t1=$(now)
    openssl dgst -sha256 "$WORK/bench.iso" >/dev/null
    t2=$(now)
    echo "run $run: $line"
    best_verify=$(python3 -c "print(max($best_verify, $SIZE/1e6/($t1-$t0)))")
    best_sum=$(python3 -c "print(max($best_sum, $SIZE/1e6/($t2-$t1)))")
done
python3 - "$best_verify" "$best_sum" <<'PY'
import sys
v, s = map(float, sys.argv[1:])
print(f"--verify-image (whole process): {v:8.1f} MB/s")
print(f"openssl dgst -sha256:            {s:8.1f} MB/s")
print(f"ratio of rates: {v / s:.2f} (target 0.95 or better)")
PY

if [[ -x build/windows/Ortivex-Stickwright.exe ]] && command -v wine >/dev/null; then
    export WINEDEBUG=-all
    t0=$(now)
    line=$(wine build/windows/Ortivex-Stickwright.exe --verify-image "Z:$WORK/bench.iso" 2>/dev/null | tr -d '\r' | tail -n 1)
    t1=$(now)
    echo "under wine (CNG): $line"
    python3 -c "print(f'--verify-image under wine (whole process, wine start included): {$SIZE/1e6/($t1-$t0):8.1f} MB/s')"
fi
rm -f "$WORK/bench.iso"

# ---- inspection of a wide image ---------------------------------------------------
mkdir -p "$WORK/wide/ortivex"
python3 - "$WORK/wide" <<'PY'
import os, sys
top = sys.argv[1]
for d in range(20):
    os.makedirs(f"{top}/pool/d{d:02}", exist_ok=True)
    for i in range(250):
        with open(f"{top}/pool/d{d:02}/package-{i:04}.deb", "w") as f:
            f.write(f"{d}/{i}\n")
PY
echo '{"version":"24.10.3118"}' >"$WORK/wide/ortivex/manifest.json"
xorriso -as mkisofs -o "$WORK/wide.iso" -R -V ORTIVEX_WIDE -G "$WORK/mbr.bin" \
    --mbr-force-bootable -append_partition 2 0xef "$WORK/efi.img" "$WORK/wide" 2>/dev/null
cat "$WORK/wide.iso" >/dev/null
echo "wide image: 5000 files in 20 directories, $(stat -c %s "$WORK/wide.iso") bytes"
for run in 1 2 3 4 5; do
    "$EXE" --verify-image "$WORK/wide.iso" | tail -n 1 | grep -o 'inspect=[0-9.]*s' |
        sed "s/^/run $run: /"
done
