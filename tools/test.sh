#!/usr/bin/env bash
# Builds every preset and runs every test: native unit tests, the same under ASan+UBSan, the
# host-tool tests, the end-to-end tests of the real servicepack.exe under Wine, and a short run
# of every fuzz target from its committed corpus (tools/fuzz.sh runs them long).
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh

status=0
for preset in native native-asan windows fuzz; do
    echo "=== $preset ==="
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    ctest --preset "$preset" || status=1
done
exit $status
