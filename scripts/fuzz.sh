#!/usr/bin/env bash
# Builds the libFuzzer targets (the "fuzz" preset) and runs one for a while.
#
#   usage: scripts/fuzz.sh TARGET SECONDS [LIBFUZZER-OPTION...]
#   e.g.   scripts/fuzz.sh json_fuzz 600
#
# TARGET is the name of a fuzz/*_fuzz.cpp file without its extension. Its seed
# corpus is fuzz/corpus/NAME and its dictionary fuzz/NAME.dict, NAME being
# TARGET without "_fuzz"; both are optional. The seeds are copied into a fresh
# directory under build/fuzz-runs/, where the run keeps its growing corpus, its
# log and any crashing inputs, so nothing is written back into the sources.
# Prints the number of executions and lists crashes; exits non-zero if the
# target crashed or failed one of its checks. Not part of CI.
set -euo pipefail

if [[ $# -lt 2 || ! $2 =~ ^[0-9]+$ ]]; then
    sed -n '4,5p' "$0" | sed 's/^# *//' >&2
    exit 2
fi
target=$1
seconds=$2
shift 2
name=${target%_fuzz}
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$root/build/fuzz

if [[ ! -f $root/fuzz/$target.cpp ]]; then
    echo "fuzz.sh: no fuzz/$target.cpp" >&2
    exit 2
fi

# The code needs C++23's <expected>; clang finds it in libstdc++ only from
# version 19 on, and libFuzzer comes with clang's runtime package. Take the
# first clang that can build a sanitised fuzzer using it.
probe_dir=$(mktemp -d)
trap 'rm -rf "$probe_dir"' EXIT
usable_clang() {
    local cxx=$1
    command -v "$cxx" >/dev/null 2>&1 || return 1
    cat >"$probe_dir/probe.cpp" <<'EOF'
#include <cstddef>
#include <cstdint>
#include <expected>
extern "C" int LLVMFuzzerTestOneInput(const uint8_t*, size_t n) {
    std::expected<size_t, int> e = n;
    return e ? 0 : 1;
}
EOF
    "$cxx" -std=c++2b -fsanitize=fuzzer,address,undefined "$probe_dir/probe.cpp" \
        -o "$probe_dir/probe" >/dev/null 2>&1
}
pick_clang() {
    local cxx
    for cxx in ${FUZZ_CXX:-} clang++ clang++-21 clang++-20 clang++-19; do
        if usable_clang "$cxx"; then
            command -v "$cxx"
            return 0
        fi
    done
    return 1
}
if ! cxx=$(pick_clang); then
    if [[ $(id -u) -eq 0 ]] && command -v apt-get >/dev/null; then
        echo "fuzz.sh: installing clang-19 and its runtime (libFuzzer)" >&2
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang-19 libclang-rt-19-dev >&2
    fi
    cxx=$(pick_clang) || {
        echo "fuzz.sh: no clang with <expected> and libFuzzer found (set FUZZ_CXX)" >&2
        exit 2
    }
fi
cc=$(command -v "$(basename "$cxx" | sed 's/clang++/clang/')")

# A build directory made with another compiler is configured afresh.
cache=$build_dir/CMakeCache.txt
if [[ -f $cache ]] && ! grep -qx "CMAKE_CXX_COMPILER:[A-Z]*=$cxx" "$cache"; then
    rm -rf "$cache" "$build_dir/CMakeFiles"
fi
cmake --preset fuzz -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" >/dev/null
cmake --build --preset fuzz --target "$target"

run_dir=$root/build/fuzz-runs/$target-$(date -u +%Y%m%dT%H%M%SZ)
mkdir -p "$run_dir/corpus" "$run_dir/crashes"
if [[ -d $root/fuzz/corpus/$name ]]; then
    cp -R "$root/fuzz/corpus/$name/." "$run_dir/corpus/"
fi
options=(-max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$run_dir/crashes/")
if [[ -f $root/fuzz/$name.dict ]]; then
    options+=(-dict="$root/fuzz/$name.dict")
fi

echo "fuzz.sh: running $target for $seconds s in $run_dir"
set +e
"$build_dir/fuzz/$target" "${options[@]}" "$@" "$run_dir/corpus" >"$run_dir/fuzz.log" 2>&1
status=$?
set -e

executions=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$run_dir/fuzz.log" |
    grep -o '[0-9]*$' | tail -n 1 || true)
if [[ -z $executions ]]; then
    executions=$(grep -oE '^#[0-9]+' "$run_dir/fuzz.log" | tail -n 1 | tr -d '#' || true)
fi
grep -E '^(#[0-9]+ +DONE|Done [0-9]+ runs)' "$run_dir/fuzz.log" || true
echo "fuzz.sh: $target: ${executions:-unknown} executions, exit status $status," \
    "corpus $(find "$run_dir/corpus" -type f | wc -l) files"

crashes=$(find "$run_dir/crashes" -type f | sort)
if [[ -n $crashes || $status -ne 0 ]]; then
    echo "fuzz.sh: FINDINGS (log: $run_dir/fuzz.log)"
    grep -E "ERROR|$target:|^SUMMARY" "$run_dir/fuzz.log" | head -n 20 || true
    for f in $crashes; do
        echo "  $f"
    done
    exit 1
fi
echo "fuzz.sh: no findings"
