#!/usr/bin/env bash
# The main job on a built-in sample: builds the Linux executable and runs the
# headless face in a scratch log directory.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset native >/dev/null
cmake --build --preset native >/dev/null

SCRATCH=$(mktemp -d /tmp/stickwright-sample.XXXXXX)
export LOCALAPPDATA=$SCRATCH
EXE=build/native/ortivex-stickwright

echo "\$ ortivex-stickwright --benchmark"
set +e
"$EXE" --benchmark
echo "(exit code $?)"
set -e
echo
echo "log files in $SCRATCH/Ortivex/Stickwright/logs:"
ls "$SCRATCH/Ortivex/Stickwright/logs"
