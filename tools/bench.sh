#!/usr/bin/env bash
# Builds what the benchmarks need into build/bench and measures: servicepack.exe under Wine
# side by side with what each figure is compared against, its growth with the package's size
# (up to 400 MiB, generated here), and the core's growth against the fakes. Writes the figures
# into docs/performance.md. Not part of CI; see docs/performance.md for how long it takes.
#   tools/bench.sh [--rounds N]
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh

build=build/bench
cmake --preset windows -B "$build/windows" -DSERVICEPACK_BENCH=ON >/dev/null
cmake --build "$build/windows" -j2
# Release and without sanitizers, unlike the native preset: the benchmarks time optimised code.
cmake --preset native -B "$build/native" -DCMAKE_BUILD_TYPE=Release -DSERVICEPACK_SANITIZE=OFF \
    >/dev/null
cmake --build "$build/native" -j2 --target growth_bench

PYTHONPATH=tests/support exec /usr/bin/python3 tests/bench/bench.py --build "$build" "$@"
