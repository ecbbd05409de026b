#!/usr/bin/env bash
# Masters a hybrid ISO of about MIB MiB of incompressible content (so that
# nothing can be skipped) and signs it with the development key.
#   scripts/make-bench-image.sh OUT.iso MIB MEDIATOOL
set -euo pipefail
cd "$(dirname "$0")/.."
OUT=$1
MIB=$2
TOOL=$3
TREE=$(mktemp -d "$(dirname "$OUT")/bench-tree.XXXXXX")
trap 'rm -rf "$TREE"' EXIT

mkdir -p "$TREE/files/ortivex" "$TREE/files/live"
head -c 4096 /dev/zero >"$TREE/files/ortivex/MEDIA.SUMS"
echo '{"version":"24.10.3118"}' >"$TREE/files/ortivex/manifest.json"
head -c "$((MIB * 1024 * 1024 - 4 * 1024 * 1024))" /dev/urandom >"$TREE/files/live/filesystem.squashfs"
python3 -c "open('$TREE/mbr.bin','wb').write((b'\xfa\xf4'+b'BENCH'*10).ljust(512,b'\0'))"
mkfs.fat -C "$TREE/efi.img" 2880 >/dev/null
xorriso -as mkisofs -o "$OUT" -no-pad -R -V ORTIVEX_BENCH -G "$TREE/mbr.bin" \
    --mbr-force-bootable -append_partition 2 0xef "$TREE/efi.img" "$TREE/files" 2>/dev/null
"$TOOL" sign "$OUT" keys/dev-media-ed25519.secret --version 24.10.3118 \
    --build 3118 --architecture x86_64 --channel bench --created now >/dev/null
