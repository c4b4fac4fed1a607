#!/usr/bin/env bash
# Builds what the benchmarks need into build/bench and measures: servicepack.exe under Wine
# side by side with what each figure is compared against, and the core's growth against the
# fakes. Writes the figures into docs/performance.md. A few minutes; not part of CI.
#   tools/bench.sh [--rounds N]
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh

build=build/bench
cmake --preset windows -B "$build/windows" >/dev/null
cmake --build "$build/windows" -j2 --target servicepack servicepack_big runner boxhelper \
    summary_probe library_probe ui_probe
# Release, unlike the native preset: the benchmarks time optimised code.
cmake --preset native -B "$build/native" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/native" -j2 --target growth_bench
# A helper of the benchmark alone, so it is not part of the windows build.
x86_64-w64-mingw32-g++ -std=c++20 -Wall -Wextra -Werror -O2 -municode -DUNICODE -D_UNICODE \
    -static -s tools/wine/boxclock.cpp -o "$build/boxclock.exe"

exec /usr/bin/python3 tools/bench.py --build "$build" "$@"
