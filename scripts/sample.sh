#!/usr/bin/env bash
# The main job on a built-in sample: builds the Linux executable and the media
# tool, masters a small hybrid ISO image (MBR boot code, EFI System Partition
# appended, Rock Ridge names) with xorriso, signs it with the repository's
# development key, and verifies it with "--verify-image"; shows the refusal
# of a copy with one byte changed; then makes a simulated USB drive (a file),
# writes the image to it with "--write", shows the OK line and checks that
# the drive holds the image byte for byte. Logs go to a scratch directory.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset native >/dev/null
cmake --build --preset native >/dev/null

SCRATCH=$(mktemp -d /tmp/stickwright-sample.XXXXXX)
export LOCALAPPDATA=$SCRATCH
EXE=build/native/ortivex-stickwright
TOOL=build/native/ortivex-mediatool

# The image's content: the 4096-byte placeholder that signing fills in, the
# informational manifest, and a little payload.
TREE=$SCRATCH/tree
mkdir -p "$TREE/ortivex" "$TREE/boot/grub" "$TREE/live"
head -c 4096 /dev/zero >"$TREE/ortivex/MEDIA.SUMS"
echo '{"product":"Ortivex","version":"24.10.3118"}' >"$TREE/ortivex/manifest.json"
echo 'menuentry "OrtivexOS" { linux /live/vmlinuz }' >"$TREE/boot/grub/grub.cfg"
head -c 3000000 /dev/urandom >"$TREE/live/filesystem.squashfs"
# A stand-in for the MBR boot code and a real FAT EFI System Partition.
python3 -c "open('$SCRATCH/mbr.bin','wb').write((b'\xfa\x31\xc0\xf4'+b'ORTIVEX SAMPLE').ljust(512,b'\0'))"
mkfs.fat -C -n ORTIVEX_EFI "$SCRATCH/efi.img" 2880 >/dev/null
IMAGE=$SCRATCH/OrtivexOS-24.10.3118-x86_64.iso

echo "\$ xorriso -as mkisofs ... (hybrid MBR, EFI System Partition appended)"
xorriso -as mkisofs -o "$IMAGE" -R -V ORTIVEX_24_10 -G "$SCRATCH/mbr.bin" \
    --mbr-force-bootable -append_partition 2 0xef "$SCRATCH/efi.img" "$TREE" 2>/dev/null
echo "\$ ortivex-mediatool sign $(basename "$IMAGE") keys/dev-media-ed25519.secret ..."
"$TOOL" sign "$IMAGE" keys/dev-media-ed25519.secret --version 24.10.3118 --build 3118 \
    --architecture x86_64 --channel stable --created "$(date -u +%Y-%m-%dT%H:%M:%SZ)"
echo
echo "\$ ortivex-stickwright --verify-image $(basename "$IMAGE")"
"$EXE" --verify-image "$IMAGE"
echo "(exit code $?)"

CHANGED=$SCRATCH/changed.iso
cp "$IMAGE" "$CHANGED"
python3 - "$CHANGED" <<'PY'
import os, sys
with open(sys.argv[1], "r+b") as f:
    at = os.path.getsize(sys.argv[1]) // 2
    f.seek(at)
    b = f.read(1)[0]
    f.seek(at)
    f.write(bytes([b ^ 0xFF]))
PY
echo
echo "\$ ortivex-stickwright --verify-image changed.iso   # one byte changed"
set +e
"$EXE" --verify-image "$CHANGED"
echo "(exit code $?)"
set -e

# A simulated USB drive: a 64 MiB file, on the build tree's file system
# because the drive is written with direct I/O, which tmpfs refuses.
DRIVE=$(mktemp -d "$PWD/build/sample-drive.XXXXXX")
trap 'rm -rf "$DRIVE"' EXIT
STICK=$DRIVE/stick.img
truncate -s 64M "$STICK"
export ORTIVEX_SIMULATED_USB="$STICK,serial=SAMPLE-STICK" ORTIVEX_TEST_USB_SERIAL=SAMPLE-STICK
echo
echo "\$ ORTIVEX_SIMULATED_USB='stick.img,serial=SAMPLE-STICK' ORTIVEX_TEST_USB_SERIAL=SAMPLE-STICK \\"
echo "    ortivex-stickwright --enable-destructive-usb-tests --write $(basename "$IMAGE")"
set +e
"$EXE" --enable-destructive-usb-tests --write "$IMAGE"
written=$?
set -e
echo "(exit code $written)"
echo
echo "\$ cmp -n $(stat -c %s "$IMAGE") $(basename "$IMAGE") stick.img"
if cmp -n "$(stat -c %s "$IMAGE")" "$IMAGE" "$STICK"; then
    echo "the drive holds the image byte for byte"
else
    written=1
fi
echo
echo "log files in $SCRATCH/Ortivex/Stickwright/logs:"
ls "$SCRATCH/Ortivex/Stickwright/logs"
exit "$written"
