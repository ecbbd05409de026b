#!/usr/bin/env bash
# Installs the Debian packages the builds and tests need, when any is missing.
set -euo pipefail

PACKAGES=(
    # Linux build and tests
    cmake ninja-build g++ python3 googletest clang-format libgcrypt20-dev liburing-dev libcurl4-openssl-dev
    # A compiler cache: the release build reuses the development build's objects
    ccache
    # Windows cross-build, its libraries, and wine to run its tests
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 libgcrypt-mingw-w64-dev wine wine64
    # Test fixtures: real ISO images (xorriso; FAT EFI partitions with dosfstools
    # and mtools; isolinux for a Debian-style hybrid), loop devices, a local
    # HTTPS server, measurements
    xorriso dosfstools mtools isolinux syslinux-common util-linux nginx-light openssl time
    # Loop device tests make file systems on them
    e2fsprogs btrfs-progs
    # The drive formatter's judges: fsck, labels, partition tables, FUSE
    exfatprogs exfat-fuse fdisk
    # The window seen and driven under wine: a virtual X display, clicks and
    # keys, screenshots, and the fonts DirectWrite needs there
    xvfb xauth xdotool imagemagick fonts-wine fonts-noto-cjk
)

missing=()
for p in "${PACKAGES[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "installing: ${missing[*]}"
SUDO=()
[[ $(id -u) -eq 0 ]] || SUDO=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -qq
"${SUDO[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
