#!/usr/bin/env bash
# What a release build must be: it refuses to configure without the vendor's
# own media key (and with the development one) and without the vendor's
# download hosts (and with development ones), and it contains nothing of the
# simulated USB drives of development builds: builds the windows-release
# preset with a stand-in vendor key and hosts and looks for the drives'
# environment variable, their texts and their symbols in the executable.
# The development executable (windows preset) must show them, so that the
# search itself is known to work.
set -euo pipefail
cd "$(dirname "$0")/.."
NM=x86_64-w64-mingw32-nm
MARKERS=("ORTIVEX_SIMULATED_USB" 'SIMULATED\USB' "not understood" "FaultInjectingDisk" "simulated")

found() {  # file -> the markers it contains, one per line
    local exe=$1
    for m in "${MARKERS[@]}"; do
        if grep -aqF -- "$m" "$exe" || $NM -C "$exe" 2>/dev/null | grep -qF -- "$m"; then
            echo "$m"
        fi
    done
}

status=0
refuses() {  # description, extra configure arguments...
    local what=$1
    shift
    local dir
    dir=$(mktemp -d build/release-refusal.XXXXXX)
    if cmake -S . -B "$dir" -G Ninja -DORTIVEX_RELEASE=ON -DBUILD_TESTING=OFF \
        -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake "$@" >/dev/null 2>&1; then
        echo "check-release: a release build configured $what"
        status=1
    fi
    rm -rf "$dir"
}
# Any 32 bytes and two names stand in for the vendor's key and hosts: this
# build is never run.
vendor_key=$(head -c 32 /dev/urandom | od -An -tx1 | tr -d ' \n')
vendor_hosts=(-DORTIVEX_PRIMARY_HOST=downloads.ortivex.com -DORTIVEX_REGIONAL_HOST=eu.downloads.ortivex.com)
refuses "without a media key" "${vendor_hosts[@]}"
refuses "with the development media key" -DORTIVEX_MEDIA_PUBLIC_KEY="$(cat keys/dev-media-ed25519.pub)" \
    "${vendor_hosts[@]}"
refuses "without download hosts" -DORTIVEX_MEDIA_PUBLIC_KEY="$vendor_key"
refuses "with development download hosts" -DORTIVEX_MEDIA_PUBLIC_KEY="$vendor_key" \
    -DORTIVEX_PRIMARY_HOST=localhost -DORTIVEX_REGIONAL_HOST=regional.localhost

cmake --preset windows-release -DORTIVEX_MEDIA_PUBLIC_KEY="$vendor_key" "${vendor_hosts[@]}" >/dev/null
cmake --build --preset windows-release >/dev/null
release=build/windows-release/Ortivex-Stickwright.exe
dev=build/windows/Ortivex-Stickwright.exe
if [[ ! -f $dev ]]; then
    cmake --preset windows >/dev/null && cmake --build --preset windows --target stickwright_app >/dev/null
fi

if [[ -z $(found "$dev") ]]; then
    echo "check-release: the development executable shows no simulated drives; the search is broken"
    status=1
fi
leaks=$(found "$release")
if [[ -n $leaks ]]; then
    echo "check-release: the release executable contains:" $leaks
    status=1
fi
[[ $status -eq 0 ]] && echo "check-release: release configuration refuses development keys and hosts; no simulated drives in $release"
exit $status
