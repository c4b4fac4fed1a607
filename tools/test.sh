#!/usr/bin/env bash
# Builds every preset and runs every test: native unit tests under ASan+UBSan, the
# host-tool tests, the end-to-end tests of the real servicepack.exe under Wine, and a short run
# of every fuzz target from its committed corpus (tools/fuzz.sh runs them long).
#
# The Wine tests spend most of their time waiting for Wine, so they run in the background
# while the other presets build and test; their output follows when they are done.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh

status=0
build() {
    echo "=== $1 ==="
    cmake --preset "$1" >/dev/null
    cmake --build --preset "$1"
}

build windows
wine_log=$(mktemp)
ctest --preset windows >"$wine_log" 2>&1 &
wine_tests=$!
# A build that fails ends the script: the Wine tests must not run on without it.
trap 'kill "$wine_tests" 2>/dev/null || true; rm -f "$wine_log"' EXIT

for preset in native fuzz; do
    build "$preset"
    ctest --preset "$preset" || status=1
done

echo "=== windows (end to end) ==="
wait "$wine_tests" || status=1
cat "$wine_log"
exit $status
