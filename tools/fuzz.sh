#!/usr/bin/env bash
# Runs every fuzz target long from its committed corpus (10 million executions each unless
# FUZZ_RUNS says otherwise) and prints, per target, the executions it reached and its findings.
# A finding (the input that crashed or broke an invariant) is kept in <build>/findings/.
#   tools/fuzz.sh [target...]      targets: scan_arguments version_quad discovery format install
#   FUZZ_BUILD=build/fuzz          the build directory (configured with the fuzz preset)
#   FUZZ_RUNS=10000000             executions per target
set -euo pipefail
cd "$(dirname "$0")/.."

build=${FUZZ_BUILD:-build/fuzz}
runs=${FUZZ_RUNS:-10000000}
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(scan_arguments version_quad discovery format install)

tools/install-deps.sh
cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build" -j2 >/dev/null
mkdir -p "$build/findings" "$build/fuzz-logs"

status=0
for target in "${targets[@]}"; do
    log="$build/fuzz-logs/$target.log"
    start=$(date +%s)
    tests/fuzz/run_target.sh "$build/tests/fuzz/${target}_fuzz" "tests/fuzz/corpus/$target" \
        -runs="$runs" -timeout=60 -print_final_stats=1 -artifact_prefix="$build/findings/$target-" \
        >"$log" 2>&1 || status=1
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    # libFuzzer also keeps its slowest input, which is no finding.
    findings=$(find "$build/findings" -name "$target-*" ! -name "$target-slow-unit-*" | wc -l)
    echo "$target: ${executions:-?} executions in $(($(date +%s) - start)) s, $findings findings" \
        "(log: $log)"
done
exit $status
