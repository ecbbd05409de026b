#!/usr/bin/env bash
# What a release build must be: it refuses to configure without the vendor's
# own media key (and with the development one) and without the vendor's
# download hosts (and with development ones), and it contains nothing of the
# simulated USB drives of development builds, nor of the development remedy
# that names the disk of wine's volumes: builds the windows-release preset
# with a stand-in vendor key and hosts and looks for their environment
# variables, their texts and their symbols in the executable. The development
# executable (windows preset) must show every one of them, so that the search
# itself is known to work.
set -euo pipefail
cd "$(dirname "$0")/.."
NM=x86_64-w64-mingw32-nm
MARKERS=("ORTIVEX_SIMULATED_USB" 'SIMULATED\USB' "not understood" "FaultInjectingDisk" "simulated"
    "ORTIVEX_SIMULATED_SYSTEM_DISK" "taken to rest on disk" "apply_system_disk"
    "ORTIVEX_SIMULATED_UNELEVATED")

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
cmake --build --preset windows-release --target stickwright_app >/dev/null
release=build/windows-release/Ortivex-Stickwright.exe
dev=build/windows/Ortivex-Stickwright.exe
if [[ ! -f $dev ]]; then
    cmake --preset windows >/dev/null && cmake --build --preset windows --target stickwright_app >/dev/null
fi

shown=$(found "$dev")
for m in "${MARKERS[@]}"; do
    if ! grep -qxF -- "$m" <<<"$shown"; then
        echo "check-release: the development executable does not show '$m'; the search is broken"
        status=1
    fi
done
leaks=$(found "$release")
if [[ -n $leaks ]]; then
    echo "check-release: the release executable contains:" $leaks
    status=1
fi
# Under wine with a display (the test run's), the release executable opens
# its window and logs its first frame; then it is closed like a window.
if [[ -n ${DISPLAY:-} && -n ${WINEPREFIX:-} ]] && command -v xdotool >/dev/null; then
    appdata=$(mktemp -d /tmp/stickwright-release.XXXXXX)
    wine reg add 'HKCU\Volatile Environment' /v LOCALAPPDATA /d "Z:${appdata//\//\\}" /f >/dev/null 2>&1
    wine "$release" >/dev/null 2>&1 &
    app=$!
    line=
    for _ in $(seq 300); do
        line=$(cat "$appdata"/Ortivex/Stickwright/logs/*.log 2>/dev/null | grep -o 'first frame [0-9]* ms after process start' || true)
        [[ -n $line ]] && break
        sleep 0.2
    done
    if [[ -n $line ]]; then
        echo "check-release: the release executable's window: $line"
        window=$(xdotool search --name '^Ortivex Stickwright$' | tail -n1)
        [[ -n $window ]] && xdotool windowfocus --sync "$window" key alt+F4
    else
        echo "check-release: the release executable logged no first frame"
        status=1
    fi
    for _ in $(seq 100); do kill -0 $app 2>/dev/null || break; sleep 0.2; done
    kill $app 2>/dev/null && { echo "check-release: the release window did not close"; status=1; }
    wine reg delete 'HKCU\Volatile Environment' /v LOCALAPPDATA /f >/dev/null 2>&1 || true
    rm -rf "$appdata"
fi
[[ $status -eq 0 ]] && echo "check-release: release configuration refuses development keys and hosts; no simulated drives or system disk in $release"
exit $status
