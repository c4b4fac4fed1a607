#!/usr/bin/env bash
# Builds every preset and runs every test: native unit tests under ASan+UBSan, the
# host-tool tests, the end-to-end tests of the real servicepack.exe under Wine, and a short run
# of every fuzz target from its committed corpus (tools/fuzz.sh runs them long).
#
# The run is bound by the machine's CPU, so nothing waits for anything it does not need: the
# Wine tests (which need the windows build) and the fuzz preset run in the background while
# the native preset builds and tests; their output follows when they are done.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh

build() {
    echo "=== $1 ==="
    cmake --preset "$1" >/dev/null
    cmake --build --preset "$1"
}

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
build windows
ctest --preset windows >"$logs/windows" 2>&1 &
wine_tests=$!
(build fuzz && ctest --preset fuzz) >"$logs/fuzz" 2>&1 &
fuzz=$!
# A native build that fails ends the script, and with it the other two.
trap 'kill "$wine_tests" "$fuzz" 2>/dev/null || true; rm -rf "$logs"' EXIT

status=0
build native
ctest --preset native || status=1

wait "$fuzz" || status=1
cat "$logs/fuzz"
echo "=== windows (end to end) ==="
wait "$wine_tests" || status=1
cat "$logs/windows"
exit $status
