#!/usr/bin/env bash
# Every C++ file of the repository follows .clang-format.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if ! clang-format --dry-run -Werror "${files[@]}" 2>/tmp/check-format.$$; then
    grep -E '^[^ ].*(warning|error):' /tmp/check-format.$$ | cut -d: -f1 | sort -u | sed 's/^/not formatted: /'
    rm -f /tmp/check-format.$$
    exit 1
fi
rm -f /tmp/check-format.$$
echo "check-format: ${#files[@]} files follow .clang-format"
