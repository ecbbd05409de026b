#!/usr/bin/env bash
# Download benchmark: a signed image of 1 GiB (and, to show that memory stays
# flat, a smaller one) served by nginx over HTTPS on loopback, fetched by the
# download job (hashing and verifying as it goes) and by `curl -o`, in
# alternating rounds. Prints the rates, their ratio and the job's peak
# resident memory (from /usr/bin/time -v).
#
#   scripts/bench-download.sh [SIZE_MIB ...]      default: 256 1024
#   ROUNDS=5 scripts/bench-download.sh 1024
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset native >/dev/null
cmake --build --preset native --target download-probe >/dev/null
exec python3 scripts/bench_download.py --probe build/native/download-probe \
    --rounds "${ROUNDS:-3}" ${@:-256 1024}
