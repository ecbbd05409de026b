#!/usr/bin/env bash
# A release build must contain nothing of the simulated USB drives of
# development builds: builds the windows-release preset and looks for their
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

cmake --preset windows-release >/dev/null
cmake --build --preset windows-release >/dev/null
release=build/windows-release/Ortivex-Stickwright.exe
dev=build/windows/Ortivex-Stickwright.exe
if [[ ! -f $dev ]]; then
    cmake --preset windows >/dev/null && cmake --build --preset windows --target stickwright_app >/dev/null
fi

status=0
if [[ -z $(found "$dev") ]]; then
    echo "check-release: the development executable shows no simulated drives; the search is broken"
    status=1
fi
leaks=$(found "$release")
if [[ -n $leaks ]]; then
    echo "check-release: the release executable contains:" $leaks
    status=1
fi
[[ $status -eq 0 ]] && echo "check-release: no simulated drives in $release"
exit $status
